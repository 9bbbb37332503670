"""Curves rebuilt on one trade date: instruments keep their layout (dates, periods) for the
last trade date between builds. Rebuilds, first builds on new objects and builds after a
move to another date give the same bits, on any thread."""
import concurrent.futures
import datetime
import pickle

import pytest

import quelm

YC = quelm.YieldCurve
REF = datetime.date(2025, 1, 15)
LATER = datetime.date(2025, 1, 17)
INTERPS = ["log-linear", "linear-zero", "natural-cubic", "monotone-convex", "flat-forward"]


def quotes():
    bond = quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045, calendar="target")
    return ([quelm.Deposit("1W", 0.0290), quelm.Deposit("3M", 0.0300),
             quelm.Future(datetime.date(2025, 6, 18), 96.95, convexity=0.0001),
             quelm.Fra("9M", "15M", 0.0310)]
            + [quelm.Swap(f"{y}Y", 0.0300 + 0.0004 * y - 0.000008 * y * y) for y in (2, 3, 5, 7)]
            + [quelm.BondQuote(bond, 101.5)]
            + [quelm.Swap(f"{y}Y", 0.0300 + 0.0004 * y - 0.000008 * y * y, fixed_frequency=2) for y in (12, 20, 30)])


BOOK = [quelm.Swap("6Y", 0.031), quelm.Fra("1M", "7M", 0.03), quelm.Ois("4Y", 0.029),
        quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045, calendar="target")]


def fingerprint(curve):
    """Every bit a user can read: nodes through the discount factors, prices and risk."""
    ref = curve.reference_date
    dates = [ref + datetime.timedelta(days=d) for d in range(1, 11000, 97)]
    return ([curve.discount(d).hex() for d in dates]
            + [q.npv(curve).hex() for q in BOOK[:3]]
            + [v.hex() for row in curve.risk(BOOK) for v in row])


@pytest.mark.parametrize("interp", INTERPS)
def test_rebuilds_have_the_bits_of_a_first_build(interp):
    qs = quotes()
    first = fingerprint(YC.bootstrap(REF, qs, interp=interp))  # lays every instrument out
    again = fingerprint(YC.bootstrap(REF, qs, interp=interp))  # the layouts kept
    fresh = fingerprint(YC.bootstrap(REF, [pickle.loads(pickle.dumps(q)) for q in qs], interp=interp))
    moved = fingerprint(YC.bootstrap(LATER, qs, interp=interp))
    back = fingerprint(YC.bootstrap(REF, qs, interp=interp))
    assert first == again == fresh == back
    assert moved == fingerprint(YC.bootstrap(LATER, [pickle.loads(pickle.dumps(q)) for q in qs], interp=interp))
    assert moved != first


def test_a_curve_rebuilt_from_its_own_instruments_outlives_the_originals():
    # A bond quote's layout reads the bond it was laid out from: the one kept with the layout.
    qs = quotes()
    curve = YC.bootstrap(REF, qs)
    expected = fingerprint(curve)
    kept = curve.instruments
    del qs, curve
    assert fingerprint(YC.bootstrap(REF, list(kept))) == expected


def test_equal_instruments_and_a_changed_quote():
    a, b = quelm.Swap("10Y", 0.031), quelm.Swap("10Y", 0.031)
    c = quelm.Swap("10Y", 0.032)
    base = [quelm.Deposit("6M", 0.03)]
    assert a == b and hash(a) == hash(b)
    ca, cb, cc = (YC.bootstrap(REF, base + [x]) for x in (a, b, c))
    assert fingerprint(ca) == fingerprint(cb) != fingerprint(cc)
    assert c.par_rate(cc) == pytest.approx(0.032, abs=1e-14)


def test_rebuilds_on_threads_moving_between_dates():
    """Threads build on two trade dates from the same instrument objects at once: each
    curve is the one a single thread builds."""
    qs = quotes()
    want = {d: fingerprint(YC.bootstrap(d, [pickle.loads(pickle.dumps(q)) for q in qs])) for d in (REF, LATER)}

    def build(k):
        d = REF if k % 2 == 0 else LATER
        return d, fingerprint(YC.bootstrap(d, qs))
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        for d, got in pool.map(build, range(24)):
            assert got == want[d]


def test_dates_centuries_apart():
    """Quotes spanning millennia (a future in 4000) still map to their own dates."""
    start = datetime.date(4000, 3, 1)
    start += datetime.timedelta(days=(2 - start.weekday()) % 7 + 14)  # the third Wednesday
    # weekends only: a market calendar answers for 1950-2150 and refuses a date in 4000
    fut = quelm.Future(start, 97.0, calendar="weekends")
    dep = quelm.Deposit("3M", 0.03)
    with pytest.raises(ValueError, match=f"date {start} is outside the years the target calendar covers"):
        YC.bootstrap(REF, [dep, quelm.Future(start, 97.0)])
    curve = YC.bootstrap(REF, [dep, fut])
    assert dep.par_rate(curve) == pytest.approx(0.03, abs=1e-13)
    assert fut.par_rate(curve) == pytest.approx(0.03, abs=1e-13)
