"""The curve instruments as trades: a signed notional, a forward or dated start, a fixed
maturity. Forward-starting and dated swaps and OIS against QuantLib's VanillaSwap and
OvernightIndexedSwap on the same curves (skipped without QuantLib); the notional scales
values and risk and nothing else; the plain quote keeps its bits; bad terms fail clearly."""
from __future__ import annotations

import datetime as dt
import math
import pickle

import pytest

import quelm

YC = quelm.YieldCurve
REF = dt.date(2025, 1, 15)  # a Wednesday: spot is Friday 2025-01-17, spot + 1Y a Saturday
DEPOSITS = [("1M", 0.0295), ("3M", 0.0300), ("6M", 0.0305)]
SWAPS = [(y, 0.0300 + 0.0004 * y - 0.000008 * y * y) for y in (1, 2, 3, 4, 5, 7, 10, 12, 15, 20)]
ESTR = [("1W", 0.0291), ("1M", 0.0290), ("3M", 0.0286), ("6M", 0.0279), ("1Y", 0.0268), ("2Y", 0.0254),
        ("3Y", 0.0250), ("5Y", 0.0252), ("7Y", 0.0258), ("10Y", 0.0266), ("15Y", 0.0274)]


def euribor_quotes():
    return [quelm.Deposit(t, r) for t, r in DEPOSITS] + [quelm.Swap(f"{y}Y", r) for y, r in SWAPS]


def estr_curve(interp="log-linear"):
    return YC.bootstrap(REF, [quelm.Ois(t, r, index="estr") for t, r in ESTR], interp=interp)


# --- against QuantLib ----------------------------------------------------------------------

def qd(d: dt.date):
    import QuantLib as ql
    return ql.Date(d.day, d.month, d.year)


def pd_(d) -> dt.date:
    return dt.date(d.year(), d.month(), d.dayOfMonth())


def ql_handle(curve, daily=False):
    """The curve handed to QuantLib as discount factors on its dates: the pillars (QuantLib's
    log-linear DiscountCurve is then the same curve), or every day to 16 years (the same
    discount factors at any date a trade reads, whatever the interpolation)."""
    import QuantLib as ql
    if daily:
        dates = [REF + dt.timedelta(days=k) for k in range(0, 16 * 366)]
    else:
        dates = [REF] + list(curve.pillar_dates)
    dfs = [1.0] + [curve.discount(d) for d in dates[1:]]
    ql_curve = ql.DiscountCurve([qd(d) for d in dates], dfs, ql.Actual365Fixed(), ql.TARGET())
    return ql.YieldTermStructureHandle(ql_curve)


def ql_spot(ql, cal):
    return cal.advance(cal.adjust(qd(REF)), 2, ql.Days)


def ql_schedule(ql, start, end, period):
    return ql.Schedule(start, end, period, ql.TARGET(), ql.ModifiedFollowing, ql.ModifiedFollowing,
                       ql.DateGeneration.Backward, False)


def ql_vanilla_npv(start, end, rate, notional, projection, discount):
    """A Euribor-6M-style receiver (payer for a negative notional): annual 30/360 fixed leg,
    6M act/360 floating leg, TARGET, modified following, both schedules back from the end."""
    import QuantLib as ql
    index = ql.IborIndex("euribor-6m-like", ql.Period(6, ql.Months), 2, ql.EURCurrency(), ql.TARGET(),
                         ql.ModifiedFollowing, False, ql.Actual360(), projection)
    kind = ql.VanillaSwap.Receiver if notional > 0 else ql.VanillaSwap.Payer
    swap = ql.VanillaSwap(kind, abs(notional), ql_schedule(ql, start, end, ql.Period(1, ql.Years)), rate,
                          ql.Thirty360(ql.Thirty360.BondBasis), ql_schedule(ql, start, end, ql.Period(6, ql.Months)),
                          index, 0.0, ql.Actual360())
    swap.setPricingEngine(ql.DiscountingSwapEngine(discount))
    return swap.NPV()


def ql_ois_npv(start, end, rate, notional, handle):
    """A €STR receiver: annual act/360 fixed against the compounded overnight rate, each
    payment one TARGET day after its period (the €STR swap conventions)."""
    import QuantLib as ql
    kind = ql.Swap.Receiver if notional > 0 else ql.Swap.Payer
    swap = ql.OvernightIndexedSwap(kind, abs(notional), ql_schedule(ql, start, end, ql.Period(1, ql.Years)), rate,
                                   ql.Actual360(), ql.Estr(handle), 0.0, 1, ql.Following, ql.TARGET())
    swap.setPricingEngine(ql.DiscountingSwapEngine(handle))
    return swap.NPV()


@pytest.mark.parametrize("dual", [False, True], ids=["one-curve", "on-estr"])
@pytest.mark.parametrize("notional", [1.0, 10_000_000.0, -25_000_000.0])
def test_forward_and_dated_swaps_match_quantlibs_vanilla_swap(dual, notional):
    ql = pytest.importorskip("QuantLib")
    ql.Settings.instance().evaluationDate = qd(REF)
    disc = estr_curve() if dual else None
    curve = YC.bootstrap(REF, euribor_quotes(), discount_curve=disc)
    projection = ql_handle(curve)
    discount = ql_handle(disc) if dual else projection
    cal = ql.TARGET()
    rate = 0.0325
    # 1Y into 5Y: spot + 1Y (a Saturday) rolls to Monday 2026-01-19, the end 5Y after that.
    forward = quelm.Swap("5Y", rate, effective="1Y", notional=notional)
    start = cal.advance(ql_spot(ql, cal), ql.Period(1, ql.Years), ql.ModifiedFollowing)
    assert pd_(start) == dt.date(2026, 1, 19)
    want = ql_vanilla_npv(start, start + ql.Period(5, ql.Years), rate, notional, projection, discount)
    assert forward.npv(curve) == pytest.approx(want, rel=0, abs=1e-8 * abs(notional))
    # By its dates, both on a Saturday: the schedules roll them.
    effective, maturity = dt.date(2026, 3, 14), dt.date(2031, 3, 15)
    dated = quelm.Swap(None, rate, effective=effective, maturity=maturity, notional=notional)
    want = ql_vanilla_npv(qd(effective), qd(maturity), rate, notional, projection, discount)
    assert dated.npv(curve) == pytest.approx(want, rel=0, abs=1e-8 * abs(notional))
    # A forward tenor and a maturity; a start date and a tenor.
    mixed = quelm.Swap(None, rate, effective="18M", maturity=maturity, notional=notional)
    start = cal.advance(ql_spot(ql, cal), ql.Period(18, ql.Months), ql.ModifiedFollowing)
    want = ql_vanilla_npv(start, qd(maturity), rate, notional, projection, discount)
    assert mixed.npv(curve) == pytest.approx(want, rel=0, abs=1e-8 * abs(notional))
    later = quelm.Swap("7Y", rate, effective=effective, notional=notional)
    want = ql_vanilla_npv(qd(effective), qd(effective) + ql.Period(7, ql.Years), rate, notional, projection, discount)
    assert later.npv(curve) == pytest.approx(want, rel=0, abs=1e-8 * abs(notional))


def test_forward_swap_on_a_global_curve_matches_quantlib():
    """Natural-cubic curves handed over day by day: the trade's dates and periods, not the
    interpolation, decide the value."""
    ql = pytest.importorskip("QuantLib")
    ql.Settings.instance().evaluationDate = qd(REF)
    disc = estr_curve("natural-cubic")
    curve = YC.bootstrap(REF, euribor_quotes(), interp="natural-cubic", discount_curve=disc)
    cal = ql.TARGET()
    start = cal.advance(ql_spot(ql, cal), ql.Period(2, ql.Years), ql.ModifiedFollowing)
    want = ql_vanilla_npv(start, start + ql.Period(8, ql.Years), 0.031, 1e6, ql_handle(curve, daily=True),
                          ql_handle(disc, daily=True))
    assert quelm.Swap("8Y", 0.031, effective="2Y", notional=1e6).npv(curve) == pytest.approx(want, rel=0, abs=1e-2)


@pytest.mark.parametrize("notional", [1.0, 5_000_000.0, -5_000_000.0])
def test_forward_and_dated_ois_match_quantlibs_overnight_indexed_swap(notional):
    ql = pytest.importorskip("QuantLib")
    ql.Settings.instance().evaluationDate = qd(REF)
    curve = estr_curve()
    handle = ql_handle(curve)
    cal = ql.TARGET()
    rate = 0.0262
    forward = quelm.Ois("3Y", rate, index="estr", effective="6M", notional=notional)
    start = cal.advance(ql_spot(ql, cal), ql.Period(6, ql.Months), ql.ModifiedFollowing)
    want = ql_ois_npv(start, start + ql.Period(3, ql.Years), rate, notional, handle)
    assert forward.npv(curve) == pytest.approx(want, rel=0, abs=1e-8 * abs(notional))
    # Dated, on a weekend at both ends, with a short first period.
    effective, maturity = dt.date(2025, 7, 19), dt.date(2028, 1, 16)
    dated = quelm.Ois(None, rate, index="estr", effective=effective, maturity=maturity, notional=notional)
    want = ql_ois_npv(qd(effective), qd(maturity), rate, notional, handle)
    assert dated.npv(curve) == pytest.approx(want, rel=0, abs=1e-8 * abs(notional))
    # Under a year: one period, paid a day after it ends.
    short = quelm.Ois("9M", rate, index="estr", effective="3M", notional=notional)
    start = cal.advance(ql_spot(ql, cal), ql.Period(3, ql.Months), ql.ModifiedFollowing)
    want = ql_ois_npv(start, start + ql.Period(9, ql.Months), rate, notional, handle)
    assert short.npv(curve) == pytest.approx(want, rel=0, abs=1e-8 * abs(notional))


def test_forward_starting_quotes_bootstrap_as_quantlibs_swap_helpers():
    """A curve from deposits, a 1Y swap and 1Y-forward swaps: the pillars are the forward
    swaps' own ends and the discount factors QuantLib's (SwapRateHelper with forwardStart)."""
    ql = pytest.importorskip("QuantLib")
    ql.Settings.instance().evaluationDate = qd(REF)
    cal = ql.TARGET()
    forwards = [(2, 0.0321), (3, 0.0326), (4, 0.0330), (6, 0.0336), (9, 0.0341)]
    quotes = ([quelm.Deposit(t, r) for t, r in DEPOSITS] + [quelm.Swap("1Y", 0.0306)]
              + [quelm.Swap(f"{y}Y", r, effective="1Y", notional=-3.0) for y, r in forwards])
    ours = YC.bootstrap(REF, quotes)
    index = ql.IborIndex("euribor-6m-like", ql.Period(6, ql.Months), 2, ql.EURCurrency(), cal, ql.ModifiedFollowing,
                         False, ql.Actual360())
    helpers = [ql.DepositRateHelper(ql.QuoteHandle(ql.SimpleQuote(r)), ql.Period(t), 2, cal, ql.ModifiedFollowing,
                                    False, ql.Actual360()) for t, r in DEPOSITS]
    fixed = (ql.Annual, ql.ModifiedFollowing, ql.Thirty360(ql.Thirty360.BondBasis))
    helpers.append(ql.SwapRateHelper(ql.QuoteHandle(ql.SimpleQuote(0.0306)), ql.Period(1, ql.Years), cal, *fixed,
                                     index))
    helpers += [ql.SwapRateHelper(ql.QuoteHandle(ql.SimpleQuote(r)), ql.Period(y, ql.Years), cal, *fixed, index,
                                  ql.QuoteHandle(), ql.Period(1, ql.Years)) for y, r in forwards]
    theirs = ql.PiecewiseLogLinearDiscount(qd(REF), helpers, ql.Actual365Fixed())
    assert [pd_(d) for d in theirs.dates()] == [REF] + ours.pillar_dates
    for d in ours.pillar_dates + [REF + dt.timedelta(days=61 * k) for k in range(1, 60)]:
        assert ours.discount(d) == pytest.approx(theirs.discount(qd(d)), rel=0, abs=1e-10), d
    assert max(abs(q.par_rate(ours) - q.rate) for q in quotes) < 1e-12


# --- the notional ----------------------------------------------------------------------------

def trades(notional=1.0):
    bond = quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045, calendar="target")
    return [quelm.Deposit("3M", 0.031, effective="2025-06-16", notional=notional),
            quelm.Fra(None, "9M", 0.03, effective="2025-04-15", notional=notional),
            quelm.Future("2025-09-17", 96.9, notional=notional),
            quelm.Ois(None, 0.027, index="estr", effective="1Y", maturity="2029-02-15", notional=notional),
            quelm.Swap("6Y", 0.031, effective="6M", notional=notional),
            quelm.BondQuote(bond, 99.0, notional=notional)]


def test_notional_scales_value_and_risk_only():
    curve = YC.bootstrap(REF, euribor_quotes(), discount_curve=estr_curve())
    units, longs, shorts = trades(), trades(2.5e6), trades(-1.0)
    risk1, risk_long, risk_short = curve.risk(units), curve.risk(longs), curve.risk(shorts)
    for i, (a, b, c) in enumerate(zip(units, longs, shorts)):
        v = a.npv(curve)
        assert v != 0.0
        assert b.npv(curve) == 2.5e6 * v and c.npv(curve) == -v  # the other side: the sign flips exactly
        for m in ("par_rate", "implied_quote"):  # a rate or a quote: not scaled
            assert getattr(b, m)(curve) == getattr(a, m)(curve) == getattr(c, m)(curve)
        assert risk_short[i] == [-x for x in risk1[i]]
        # The notional weighs the gradient before the sums: the same row but for rounding.
        scale = 2.5e6 * max(map(abs, risk1[i]))
        assert risk_long[i] == pytest.approx([2.5e6 * x for x in risk1[i]], rel=1e-13, abs=1e-14 * scale)


def test_risk_of_a_forward_swap_is_its_value_differentiated():
    """The notional-weighted row against bumping each quote and rebuilding."""
    book = quelm.Swap("4Y", 0.0335, effective="2Y", notional=-1e7)
    quotes = euribor_quotes()
    row = YC.bootstrap(REF, quotes).risk([book])[0]
    h = 1e-6
    for j, q in enumerate(quotes):
        def with_quote(x):
            moved = list(quotes)
            moved[j] = type(q)(q.tenor, x)
            return book.npv(YC.bootstrap(REF, moved))
        numeric = (with_quote(q.rate + h) - with_quote(q.rate - h)) / (2 * h)
        # The central difference's rounding: about 1e-16 of the value (1e7) over h.
        assert row[j] == pytest.approx(numeric, rel=1e-6, abs=10.0), q


def test_plain_quotes_keep_their_bits():
    """notional=1 at spot is the quote itself: the same object, value, hash and text, and the
    value recorded before quotes were trades."""
    curve = YC.bootstrap(REF, euribor_quotes(), discount_curve=estr_curve())
    plain = quelm.Swap("8Y", 0.028)
    spelled = quelm.Swap("8Y", 0.028, notional=1.0, effective=None, maturity=None)
    assert plain == spelled and hash(plain) == hash(spelled) and repr(spelled) == "Swap('8Y', 0.028)"
    assert plain.npv(curve).hex() == spelled.npv(curve).hex() == "-0x1.157c78c490b34p-5"
    row = curve.risk(spelled)[0]
    assert row == curve.risk(plain)[0]
    assert [v.hex() for v in row[-5:-3]] == ["-0x1.0a8f31f8bf1e4p+2", "-0x1.7cd9eaa70b1e9p+1"]
    ois = quelm.Ois("4Y", 0.0262, index="estr", notional=1.0)
    assert ois.npv(estr_curve()).hex() == "0x1.0c6f8c99b1350p-8"
    # The notional does not move a bootstrap.
    scaled = [type(q)(q.tenor, q.rate, notional=-7.0) for q in euribor_quotes()]
    assert YC.bootstrap(REF, scaled).pillar_dates == YC.bootstrap(REF, euribor_quotes()).pillar_dates
    assert [YC.bootstrap(REF, scaled).discount(t) for t in (0.5, 3.3, 19.0)] == \
           [YC.bootstrap(REF, euribor_quotes()).discount(t) for t in (0.5, 3.3, 19.0)]


# --- dates -------------------------------------------------------------------------------------

def test_forward_deposit_and_fra_are_simple_forwards_on_their_dates():
    curve = YC.flat(0.03, reference_date=REF)
    n = 4e6
    # The start date is a Sunday: modified following takes Monday 2025-06-16.
    dep = quelm.Deposit("3M", 0.031, effective="2025-06-15", notional=n)
    start, end = dt.date(2025, 6, 16), dt.date(2025, 9, 16)
    tau = (end - start).days / 360
    fwd = (curve.discount(start) / curve.discount(end) - 1) / tau
    assert dep.par_rate(curve) == pytest.approx(fwd, rel=1e-14)
    assert dep.npv(curve) == pytest.approx(n * tau * curve.discount(end) * (0.031 - fwd), rel=1e-12)
    # A FRA by its dates; its end tenor counts from spot (2025-01-17) as a FRA's always does.
    fra = quelm.Fra(None, "9M", 0.03, effective=dt.date(2025, 4, 15))
    start, end = dt.date(2025, 4, 15), dt.date(2025, 10, 17)
    fwd = (curve.discount(start) / curve.discount(end) - 1) / ((end - start).days / 360)
    assert fra.par_rate(curve) == pytest.approx(fwd, rel=1e-14)
    both = quelm.Fra(None, None, 0.03, effective="2025-04-15", maturity="2025-10-17")
    assert both.par_rate(curve) == fra.par_rate(curve)
    # A forward tenor as effective is the start tenor: one FRA, however spelled.
    assert quelm.Fra(None, "9M", 0.03, effective="3M") == quelm.Fra("3M", "9M", 0.03)
    # The pillar of a dated quote is its own end.
    assert YC.bootstrap(REF, [dep]).pillar_dates == [dt.date(2025, 9, 16)]


def test_dates_in_every_form_the_frame_reads():
    np = pytest.importorskip("numpy")
    pd = pytest.importorskip("pandas")
    want = quelm.Swap(None, 0.03, effective=dt.date(2026, 6, 15), maturity=dt.date(2031, 6, 16))
    for e, m in [("2026-06-15", "2031-06-16"), (np.datetime64("2026-06-15"), np.datetime64("2031-06-16")),
                 (pd.Timestamp("2026-06-15"), pd.Timestamp("2031-06-16 10:30")),
                 (dt.datetime(2026, 6, 15, 9), dt.date(2031, 6, 16))]:
        got = quelm.Swap(None, 0.03, effective=e, maturity=m)
        assert got == want and hash(got) == hash(want)
    assert want.effective == dt.date(2026, 6, 15) and want.maturity == dt.date(2031, 6, 16) and want.tenor is None
    fwd = quelm.Ois("2Y", 0.03, effective="6m")
    assert fwd.effective == "6M" and fwd.maturity is None and fwd.tenor == "2Y" and fwd.notional == 1.0


def test_trades_read_back_compare_hash_and_pickle():
    items = trades(-2.5e6) + [quelm.Swap(None, 0.031, maturity="2032-03-15", fixed_frequency=2),
                              quelm.Deposit(None, 0.03, effective="2025-03-03", maturity="2025-06-03"),
                              quelm.Fra(None, None, 0.03, effective="2025-04-15", maturity="2025-10-17")]
    for x in items:
        back = pickle.loads(pickle.dumps(x))
        assert back == x and hash(back) == hash(x) and repr(back) == repr(x)
        assert back.notional == x.notional
        if not isinstance(x, quelm.BondQuote):  # its repr shows the bond, not its terms
            assert eval(repr(x), vars(quelm)) == x
    assert repr(items[4]) == "Swap('6Y', 0.031, notional=-2500000, effective='6M')"
    assert repr(items[6]) == "Swap(None, 0.031, fixed_frequency=2, maturity='2032-03-15')"
    assert repr(items[2]) == "Future('2025-09-17', 96.9, notional=-2500000)"
    # Each term counts in equality: the size, the start, the end.
    base = quelm.Swap("5Y", 0.03)
    others = [quelm.Swap("5Y", 0.03, notional=2.0), quelm.Swap("5Y", 0.03, notional=-1.0),
              quelm.Swap("5Y", 0.03, effective="1Y"), quelm.Swap("5Y", 0.03, effective="2026-01-19"),
              quelm.Swap(None, 0.03, maturity="2030-01-17")]
    assert all(o != base for o in others) and len({base, *others}) == 6
    assert quelm.Swap("5Y", 0.03, notional=-0.0) == quelm.Swap("5Y", 0.03, notional=0.0)
    assert hash(quelm.Swap("5Y", 0.03, notional=-0.0)) == hash(quelm.Swap("5Y", 0.03, notional=0.0))


# --- errors ------------------------------------------------------------------------------------

@pytest.mark.parametrize("make, message", [
    (lambda: quelm.Swap("5Y", 0.03, maturity="2030-06-17"), "swap: give a tenor or a maturity, not both"),
    (lambda: quelm.Swap(None, 0.03), "swap: needs a tenor or a maturity"),
    (lambda: quelm.Ois(None, 0.03, effective="1Y"), "ois: needs a tenor or a maturity"),
    (lambda: quelm.Deposit("3M", 0.03, maturity="2025-06-17"), "deposit: give a tenor or a maturity, not both"),
    (lambda: quelm.Fra(None, "6M", 0.03), "fra: needs start_tenor or effective"),
    (lambda: quelm.Fra("3M", "6M", 0.03, maturity="2025-09-01"), "fra: give end_tenor or maturity, not both"),
    (lambda: quelm.Fra("3M", "6M", 0.03, effective="2025-04-01"), "fra: give start_tenor or effective, not both"),
    (lambda: quelm.Fra("3M", "6M", 0.03, effective="1M"), "fra: give start_tenor or effective, not both"),
    (lambda: quelm.Swap(None, 0.03, effective="2031-06-16", maturity="2031-06-16"),
     "swap: effective 2031-06-16 must be before maturity 2031-06-16"),
    (lambda: quelm.Ois(None, 0.03, effective="2032-01-05", maturity="2031-06-16"),
     "ois: effective 2032-01-05 must be before maturity 2031-06-16"),
    (lambda: quelm.Swap("5Y", 0.03, effective="-1Y"), "swap: effective as a forward tenor must be positive, got -1Y"),
    (lambda: quelm.Swap("5Y", 0.03, effective="0M"), "swap: effective as a forward tenor must be positive, got 0M"),
    (lambda: quelm.Swap("5Y", 0.03, effective="next year"),
     "effective must be a date ('YYYY-MM-DD') or a forward tenor (as in 1Y), got \"next year\""),
    (lambda: quelm.Swap("5Y", 0.03, effective="2026-02-30"), "no such date \"2026-02-30\""),
    (lambda: quelm.Swap("5Y", 0.03, notional=math.nan), "swap: notional must be finite"),
    (lambda: quelm.Deposit("3M", 0.03, notional=-math.inf), "deposit: notional must be finite"),
    (lambda: quelm.Future("2025-03-19", 96.0, effective="2025-03-19"), "future: effective is the contract's start date"),
    (lambda: quelm.Future("2025-03-19", 96.0, maturity="2025-06-18"), "future: maturity is the end of the contract's period"),
    (lambda: quelm.BondQuote(quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045), 99.0, effective="1Y"),
     "bond quote: effective is the bond's settlement"),
    (lambda: quelm.BondQuote(quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045), 99.0,
                             maturity="2030-01-01"), "bond quote: maturity is the bond's own"),
])
def test_bad_terms_fail_when_made(make, message):
    with pytest.raises(ValueError) as info:
        make()
    assert message in str(info.value)
    assert not str(info.value).endswith(".")


def test_bad_types_and_dates_the_curve_cannot_price():
    with pytest.raises(TypeError, match="expected a date or a forward tenor such as '1Y', got float"):
        quelm.Swap("5Y", 0.03, effective=1.5)
    with pytest.raises(ValueError, match='date must be YYYY-MM-DD, got "5Y"'):
        quelm.Swap(None, 0.03, maturity="5Y")  # a tenor is not a maturity date
    with pytest.raises(TypeError):
        quelm.Swap("5Y", 0.03, notional="1m")
    with pytest.raises(ValueError):
        quelm.Swap(None, 0.03, maturity="20310616")
    curve = YC.bootstrap(REF, euribor_quotes())
    # Started before the curve's trade date: its first floating rate has fixed.
    seasoned = quelm.Swap("5Y", 0.03, effective="2024-06-17")
    for call in (seasoned.npv, seasoned.par_rate, lambda c: c.risk(seasoned)):
        with pytest.raises(ValueError, match=r"Swap\('5Y', 0.03, effective='2024-06-17'\): starts on 2024-06-17, "
                                             r"before the curve's reference date 2025-01-15: seasoned trades need fixings"):
            call(curve)
    with pytest.raises(ValueError, match="seasoned trades need fixings"):
        quelm.Fra(None, "6M", 0.03, effective="2025-01-14").npv(curve)
    with pytest.raises(ValueError, match="seasoned trades need fixings"):
        YC.bootstrap(REF, [quelm.Deposit("3M", 0.03, effective="2024-12-02")])
    # A maturity the start has passed: only known once the curve fixes spot.
    with pytest.raises(ValueError, match=r"matures on 2025-01-16, not after its start 2025-01-17"):
        quelm.Swap(None, 0.03, maturity="2025-01-16").npv(curve)
    with pytest.raises(ValueError, match=r"matures on 2026-01-16, not after its start 2026-01-19"):
        quelm.Ois(None, 0.03, effective="1Y", maturity="2026-01-16").par_rate(curve)
    with pytest.raises(ValueError, match=r"the period ends on 2025-03-17, not after its start 2025-04-17"):
        quelm.Deposit(None, 0.03, effective="3M", maturity="2025-03-17").npv(curve)
    # On the trade date itself a trade is not seasoned.
    assert math.isfinite(quelm.Deposit("1M", 0.03, effective=REF).npv(curve))
