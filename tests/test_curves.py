"""Curves from market quotes: instruments, bootstrapping (single and dual curve, every
interpolation), extrapolation, dated queries and bucketed risk against bump-and-rebuild."""
import datetime
import inspect
import math
import pickle

import pytest

import quelm

YC = quelm.YieldCurve
REF = datetime.date(2025, 1, 15)
INTERPS = ["log-linear", "linear-zero", "natural-cubic", "monotone-convex", "flat-forward"]
SWAP_YEARS = (2, 3, 4, 5, 7, 10, 12, 15, 20, 25, 30)


def euribor_quotes():
    """Deposits, a FRA, futures and 6M swaps: every kind of rate quote on one curve."""
    return ([quelm.Deposit("1W", 0.0290), quelm.Deposit("1M", 0.0295), quelm.Deposit("3M", 0.0300),
             quelm.Future(datetime.date(2025, 6, 18), 96.95, convexity=0.0001),
             quelm.Future(datetime.date(2025, 9, 17), 96.90, convexity=0.0002),
             quelm.Fra("9M", "15M", 0.0310)]
            + [quelm.Swap(f"{y}Y", 0.0300 + 0.0004 * y - 0.000008 * y * y) for y in SWAP_YEARS])


def estr_quotes():
    return [quelm.Ois(t, r) for t, r in [("1W", 0.0290), ("1M", 0.0289), ("3M", 0.0285), ("6M", 0.0280),
                                         ("1Y", 0.0272), ("2Y", 0.0262), ("3Y", 0.0258), ("5Y", 0.0260),
                                         ("7Y", 0.0265), ("10Y", 0.0272), ("15Y", 0.0280), ("20Y", 0.0282),
                                         ("30Y", 0.0275)]]


def swaps_6m():
    return [quelm.Swap(f"{y}Y", 0.0285 + 0.0003 * y - 0.000006 * y * y) for y in (1,) + SWAP_YEARS]


def bond_quotes():
    """Government bonds at clean prices: a curve from bond prices alone."""
    terms = [("2024-02-15", "2026-02-15", 0.025, 99.40), ("2023-08-15", "2027-08-15", 0.030, 99.10),
             ("2024-05-15", "2030-05-15", 0.0325, 98.80), ("2024-11-15", "2034-11-15", 0.0375, 99.00)]
    return [quelm.BondQuote(quelm.FixedRateBond.dated(i, m, c, settlement_days=2, calendar="target"), p)
            for i, m, c, p in terms]


def reprice_error(curve, instruments, **kw):
    return max(abs(i.par_rate(curve, **kw) - i.rate) for i in instruments)


# --- repricing ------------------------------------------------------------------------------

@pytest.mark.parametrize("interp", INTERPS)
def test_every_quote_reprices_single_curve(interp):
    quotes = euribor_quotes()
    c = YC.bootstrap(REF, quotes, interp=interp)
    for q in quotes:
        # Futures reprice their rate (1 - price/100, the forward plus the convexity adjustment).
        assert abs(q.par_rate(c) - q.rate) <= 1e-10, q
        assert abs(q.implied_quote(c) - q.quote) <= 1e-8, q
        assert abs(q.npv(c)) <= 1e-10, q
    # Positive quotes: discount factors fall with maturity.
    ts = [0.01 * k for k in range(1, 3001)]
    dfs = [c.discount(t) for t in ts]
    assert all(b < a for a, b in zip(dfs, dfs[1:]))


@pytest.mark.parametrize("interp", INTERPS)
def test_every_quote_reprices_dual_curve(interp):
    ois = estr_quotes()
    disc = YC.bootstrap(REF, ois, interp=interp)
    assert reprice_error(disc, ois) <= 1e-10
    for tenor in ("6M", "3M"):
        swaps = [quelm.Swap(s.tenor, s.rate, float_tenor=tenor) for s in swaps_6m()]
        proj = YC.bootstrap(REF, swaps, interp=interp, discount_curve=disc)
        assert reprice_error(proj, swaps) <= 1e-10
        # Priced on the projection curve alone, the swaps no longer price at par: the
        # discount curve is really used.
        assert reprice_error(proj, swaps, discount_curve=proj) > 1e-6
        assert abs(swaps[-1].par_rate(proj, discount_curve=disc) - swaps[-1].rate) <= 1e-10


@pytest.mark.parametrize("interp", INTERPS)
def test_bonds_reprice(interp):
    quotes = [quelm.Deposit("3M", 0.029)] + bond_quotes()
    c = YC.bootstrap(REF, quotes, interp=interp)
    for q in quotes[1:]:
        assert abs(q.implied_quote(c) - q.clean_price) <= 1e-9
        assert abs(q.npv(c)) <= 1e-10
        # Its par rate is the bond's yield at the price the curve gives it.
        settle = q.bond.settlement_date(REF)
        assert q.par_rate(c) == pytest.approx(q.bond.yield_at(q.clean_price, settle), abs=1e-10)


def test_ois_with_payments_and_flat_forward_matches_log_linear():
    quotes = [quelm.Ois(t, 0.03, payment_frequency=4) for t in ("3M", "1Y", "2Y", "5Y")]
    a = YC.bootstrap(REF, quotes)
    b = YC.bootstrap(REF, quotes, interp="flat-forward")
    assert reprice_error(a, quotes) <= 1e-12
    for t in (0.1, 0.7, 1.9, 4.4):
        assert a.discount(t) == pytest.approx(b.discount(t), rel=1e-15)


# --- errors --------------------------------------------------------------------------------

@pytest.mark.parametrize("instruments, message", [
    ([], "invalid input: bootstrap: need at least one instrument"),
    ([quelm.Deposit("3M", 0.03), quelm.Deposit("3M", 0.031)],
     "invalid input: bootstrap: Deposit('3M', 0.03) and Deposit('3M', 0.031) both end on 2025-04-17: "
     "each pillar needs its own instrument"),
    # -99% simple over 369 act/360 days: 1 - 0.99 * 369/360 < 0, no discount factor fits.
    ([quelm.Deposit("3M", 0.03), quelm.Deposit("1Y", -0.99)],
     "invalid input: bootstrap: Deposit('1Y', -0.99) cannot be repriced: no positive, finite discount factor "
     "on 2026-01-19 matches its quote"),
])
def test_bad_quotes_name_the_instrument(instruments, message):
    with pytest.raises(ValueError) as info:
        YC.bootstrap(REF, instruments)
    assert str(info.value) == message


def test_bad_quotes_in_a_global_solve_name_the_instrument():
    with pytest.raises(ValueError, match=r"Deposit\('1Y', -0.99\)"):
        YC.bootstrap(REF, [quelm.Deposit("3M", 0.03), quelm.Deposit("1Y", -0.99)], interp="natural-cubic")


def test_instrument_terms_are_checked():
    with pytest.raises(ValueError, match="rate must be finite"):
        quelm.Deposit("3M", math.nan)
    with pytest.raises(ValueError, match="fixed_frequency"):
        quelm.Swap("5Y", 0.03, fixed_frequency=5)
    with pytest.raises(ValueError):
        quelm.Deposit("3X", 0.03)
    with pytest.raises(TypeError):
        YC.bootstrap(REF, [quelm.Deposit("3M", 0.03), 0.5])
    with pytest.raises(ValueError, match="starts on 2024-12-18, before the reference date"):
        YC.bootstrap(REF, [quelm.Future(datetime.date(2024, 12, 18), 97.0)])
    with pytest.raises(ValueError, match="needs a curve with a reference date"):
        quelm.Deposit("3M", 0.03).par_rate(YC.flat(0.03))


# --- instruments as values ------------------------------------------------------------------

def test_instruments_are_immutable_values():
    quotes = euribor_quotes() + estr_quotes()[:2] + bond_quotes()[:1]
    for q in quotes:
        back = pickle.loads(pickle.dumps(q))
        assert back == q and hash(back) == hash(q) and repr(back) == repr(q)
        with pytest.raises(AttributeError):
            q.rate = 0.1
    assert repr(quelm.Swap("10Y", 0.031, float_tenor="3M")) == "Swap('10Y', 0.031, float_tenor='3M')"
    assert quelm.Deposit("3M", 0.03) != quelm.Deposit("3M", 0.03, day_count="act/365f")
    f = quelm.Future(datetime.date(2025, 3, 19), 96.5)
    assert f.rate == pytest.approx(0.035, abs=1e-15) and f.quote == 96.5


def test_bootstrapped_curve_pickles_and_reports_its_inputs():
    ois = estr_quotes()
    disc = YC.bootstrap(REF, ois, interp="monotone-convex")
    proj = YC.bootstrap(REF, swaps_6m(), interp="natural-cubic", discount_curve=disc)
    back = pickle.loads(pickle.dumps(proj))
    assert back == proj and back.discount(7.3) == proj.discount(7.3)
    assert proj.instruments == tuple(ois) + tuple(swaps_6m())
    assert proj.interp == "natural-cubic" and proj.extrapolate == "flat-forward"
    assert proj.reference_date == REF and proj.day_count == "act/365f"
    assert proj.pillar_dates[-1] == datetime.date(2055, 1, 18)
    assert proj.discount_curve == disc and disc.discount_curve is None


# --- dates and extrapolation ---------------------------------------------------------------

def test_dated_queries():
    c = YC.bootstrap(REF, euribor_quotes(), day_count="act/360")
    d = datetime.date(2031, 3, 3)
    t = (d - REF).days / 360
    assert c.discount(d) == c.discount(t) and c.discount("2031-03-03") == c.discount(t)
    assert c.zero_rate(d) == c.zero_rate(t)
    assert c.forward_rate(REF, d) == c.forward_rate(0.0, t)
    with pytest.raises(ValueError, match="2024-12-31 is before the reference date 2025-01-15"):
        c.discount(datetime.date(2024, 12, 31))
    with pytest.raises(ValueError, match="needs a curve with a reference date"):
        YC.flat(0.03).discount(d)
    flat = YC.flat(0.03, reference_date=REF)
    assert flat.discount("2026-01-15") == math.exp(-0.03)


def test_dated_queries_over_arrays_have_the_scalar_bits():
    np = pytest.importorskip("numpy")
    pd = pytest.importorskip("pandas")
    vec = pytest.importorskip("quelm.vec")
    c = YC.bootstrap(REF, euribor_quotes(), day_count="act/360")
    days = np.arange(0, 30 * 365, 97)
    dates = np.datetime64(REF, "D") + days
    as_objects = [d.item() for d in dates]
    want = [c.discount(d) for d in as_objects]
    for form in (dates, dates.astype("datetime64[ns]"), as_objects, [d.isoformat() for d in as_objects],
                 pd.DatetimeIndex(dates)):
        assert vec.discount(c, form).tolist() == want
    assert vec.zero_rate(c, dates[1:]).tolist() == [c.zero_rate(d) for d in as_objects[1:]]
    ends = dates + 180
    assert vec.forward_rate(c, dates, ends).tolist() == [c.forward_rate(a, b.item())
                                                         for a, b in zip(as_objects, ends)]
    series = pd.Series(dates, index=[f"q{i}" for i in range(len(dates))])
    assert list(vec.discount(c, series).index) == list(series.index)
    # Times still work, a date before the reference fails its element, and the two may not mix.
    assert vec.discount(c, [0.5, 1.0]).tolist() == [c.discount(0.5), c.discount(1.0)]
    got = vec.discount(c, ["2024-12-31", "2026-01-15"], errors="nan")
    assert math.isnan(got[0]) and got[1] == c.discount("2026-01-15")
    with pytest.raises(quelm.ElementError, match="before the reference date"):
        vec.discount(c, ["2026-01-15", "2024-12-31"])
    with pytest.raises(TypeError, match="t1 and t2 both as times in years or both as dates"):
        vec.forward_rate(c, dates[:2], [1.0, 2.0])


def test_extrapolation_on_every_constructor():
    times, zeros = [1.0, 2.0, 5.0], [0.02, 0.025, 0.03]
    for interp in ("linear", "log-linear", "natural-cubic"):
        for build in (lambda **k: YC.from_zero_rates(times, zeros, interp, **k),
                      lambda **k: YC.from_discount_factors(
                          times, [math.exp(-z * t) for z, t in zip(zeros, times)], interp, **k)):
            none = build()
            assert none.extrapolate == "none"
            with pytest.raises(ValueError, match=r"t=0.25 is outside the pillar range \[1, 5\]"):
                none.discount(0.25)
            c = build(extrapolate="flat-forward")
            # Before the first pillar its zero rate holds.
            assert c.zero_rate(0.25) == pytest.approx(0.02, abs=1e-14)
            # After the last, the instantaneous forward there continues.
            f_end = c.forward_rate(5.0 - 1e-6, 5.0)
            assert c.forward_rate(6.0, 9.0) == pytest.approx(f_end, abs=1e-6)
            assert c.forward_rate(7.0, 8.0) == pytest.approx(c.forward_rate(12.0, 13.0), abs=1e-13)
            assert c.discount(5.0) == none.discount(5.0)
            assert pickle.loads(pickle.dumps(c)) == c
    with pytest.raises(ValueError, match="extrapolate"):
        YC.from_zero_rates(times, zeros, extrapolate="linear")


@pytest.mark.parametrize("interp", INTERPS)
def test_bootstrapped_curves_extrapolate_flat_forward_by_default(interp):
    c = YC.bootstrap(REF, swaps_6m(), interp=interp)
    last = c.pillar_times[-1]
    assert c.forward_rate(last + 1, last + 2) == pytest.approx(c.forward_rate(last + 10, last + 11), abs=1e-13)
    n = YC.bootstrap(REF, swaps_6m(), interp=interp, extrapolate="none")
    with pytest.raises(ValueError, match="outside the pillar range"):
        n.discount(last + 1)


def test_bond_errors_name_the_cash_flow():
    bond = quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045)
    short = YC.from_zero_rates([0.5, 5.0], [0.03, 0.035], reference_date=REF)
    with pytest.raises(ValueError, match=r"bond: cash flow on 2025-05-15: yield curve: t=.* is outside the pillar range"):
        bond.z_spread_at(98.0, REF, short)
    bootstrapped = YC.bootstrap(REF, swaps_6m()[:4], extrapolate="none")
    with pytest.raises(ValueError, match=r"<DatedBond 0.045 maturing 2034-05-15>: yield curve: 2029-05-15 \(t=4.33.*\) is outside the pillar range"):
        bootstrapped.risk(bond)


# --- bucketed risk -------------------------------------------------------------------------

def bumped(quote, h):
    """The same quote moved by h in the unit risk is per (a future: its rate; a bond: its price)."""
    cls = type(quote)
    state = quote.__reduce__()
    fn, args = state
    args = list(args)
    if cls is quelm.Future:
        args[1] -= 100 * h
    else:
        args[-1] += h
    return fn(*args)


def bump_and_rebuild(build, quotes, book, h=1e-6):
    rows = [[0.0] * len(quotes) for _ in book]
    for j in range(len(quotes)):
        up = list(quotes)
        down = list(quotes)
        up[j], down[j] = bumped(quotes[j], h), bumped(quotes[j], -h)
        cu, cd = build(up), build(down)
        for i, item in enumerate(book):
            rows[i][j] = (value(item, cu) - value(item, cd)) / (2 * h)
    return rows


def value(item, curve):
    if isinstance(item, quelm.DatedBond):
        # Held: its payments after settlement, on the curve that discounts.
        curve = curve.discount_curve or curve
        return sum(a * curve.discount(d) for d, a in item.cashflows() if d > item.settlement_date(REF))
    return item.npv(curve)


def numeric_risk(build, quotes, book, interp):
    if interp != "monotone-convex":
        return bump_and_rebuild(build, quotes, book)
    # Hagan-West's forward takes its shape (the sector, the break point eta) from ratios of
    # its departures from the interval means; where a departure is a few bumps wide the value
    # is smooth but strongly curved in the quotes. The central difference's own error then
    # dominates: on these quotes, relative to the row's largest sensitivity, 1.5e-1 at
    # h = 1e-4, 1.1e-3 at 1e-5, 6.1e-6 at 1e-6, 6.2e-8 at 1e-7 (single curve; 3.6e-5 at 1e-6
    # dual), h^2 throughout, and Richardson's (1e-6, 5e-7) leaves 2.3e-8 (h^4). The
    # sixth-order difference on bumps of 0.5, 1 and 1.5e-6 removes both terms: 2.4e-9.
    h = 5e-7
    d1, d2, d3 = (bump_and_rebuild(build, quotes, book, k * h) for k in (1, 2, 3))
    return [[(15 * a - 6 * b + c) / 10 for a, b, c in zip(r1, r2, r3)] for r1, r2, r3 in zip(d1, d2, d3)]


def assert_close(exact, numeric, tol=1e-8):
    """Each entry within tol of its row's scale (the position's largest sensitivity): far
    pillars' near-zero entries are not held to a relative bound of their own."""
    for a, b in zip(exact, numeric):
        scale = max(abs(x) for x in a)
        assert max(abs(x - y) for x, y in zip(a, b)) <= tol * scale, (a, b)


BOOK = [quelm.Swap("6Y", 0.031), quelm.Swap("18Y", 0.0335, fixed_frequency=2), quelm.Fra("1M", "7M", 0.03),
        quelm.Deposit("2M", 0.028), quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045, calendar="target")]


@pytest.mark.parametrize("interp", INTERPS)
def test_risk_matches_bump_and_rebuild_single_curve(interp):
    quotes = euribor_quotes()
    build = lambda qs: YC.bootstrap(REF, qs, interp=interp)  # noqa: E731
    exact = build(quotes).risk(BOOK)
    assert len(exact) == len(BOOK) and all(len(r) == len(quotes) for r in exact)
    assert_close(exact, numeric_risk(build, quotes, BOOK, interp))


@pytest.mark.parametrize("interp", ["log-linear", "natural-cubic", "monotone-convex"])
def test_risk_matches_bump_and_rebuild_dual_curve(interp):
    ois, swaps = estr_quotes(), swaps_6m()
    quotes = ois + swaps

    def build(qs):
        disc = YC.bootstrap(REF, qs[:len(ois)], interp=interp)
        return YC.bootstrap(REF, qs[len(ois):], interp=interp, discount_curve=disc)

    curve = build(quotes)
    exact = curve.risk(BOOK)
    assert len(exact[0]) == len(quotes)
    assert_close(exact, numeric_risk(build, quotes, BOOK, interp))
    # A swap the projection curve was built from prices at par whatever the quotes: only
    # its own quote moves its value (by minus its annuity), not the OIS quotes.
    own = curve.risk(swaps)
    for k, row in enumerate(own):
        assert row[len(ois) + k] < -0.5
        assert all(abs(v) <= 1e-12 for j, v in enumerate(row) if j != len(ois) + k)


def test_risk_of_one_position_and_of_a_book_agree():
    c = YC.bootstrap(REF, euribor_quotes())
    book = c.risk(BOOK)
    for i, item in enumerate(BOOK):
        assert c.risk(item) == [book[i]]
    with pytest.raises(ValueError, match="risk needs a curve built by bootstrap"):
        YC.flat(0.03, reference_date=REF).risk(BOOK)


def test_risk_of_the_quotes_themselves_is_their_annuity():
    """A receiver swap at its own quote: dV/dq is its annuity (and nothing else moves it)."""
    quotes = swaps_6m()
    c = YC.bootstrap(REF, quotes)
    rows = c.risk(quotes)
    for k, (q, row) in enumerate(zip(quotes, rows)):
        # The value is linear in the rate: half a unit up (rates stay within ±100%), doubled.
        bumped_swap = quelm.Swap(q.tenor, q.rate + 0.5)
        annuity = (bumped_swap.npv(c) - q.npv(c)) / 0.5
        assert row[k] == pytest.approx(-annuity, rel=1e-12)
        assert all(abs(v) <= 1e-12 for j, v in enumerate(row) if j != k)


def test_risk_of_a_book_is_the_same_on_any_number_of_threads():
    from conftest import same_output_across_threads
    code = (
        "import datetime, hashlib, quelm\n"
        "ref = datetime.date(2025, 1, 15)\n"
        "quotes = [quelm.Deposit('6M', 0.03)] + [quelm.Swap(f'{y}Y', 0.03 + 0.0002 * y) for y in range(1, 31)]\n"
        "c = quelm.YieldCurve.bootstrap(ref, quotes, interp='natural-cubic')\n"
        "book = [quelm.Swap(f'{1 + k % 35}Y', 0.02 + 1e-5 * k) for k in range(600)]\n"
        "rows = c.risk(book)\n"
        "print(hashlib.sha256(' '.join(v.hex() for row in rows for v in row).encode()).hexdigest())\n")
    same_output_across_threads(code)


def test_risk_reports_the_first_position_it_cannot_price():
    c = YC.bootstrap(REF, swaps_6m()[:4], extrapolate="none")
    book = [quelm.Swap("2Y", 0.03)] * 300 + [quelm.Swap("9Y", 0.03), quelm.Swap("8Y", 0.03)] * 200
    with pytest.raises(ValueError, match=r"^invalid input: Swap\('9Y', 0.03\): "):
        c.risk(book)


# --- conventions the quotes carry ----------------------------------------------------------

def test_simple_rates_follow_their_day_count_and_the_spot_lag():
    c = YC.flat(0.03, reference_date=REF)
    spot = datetime.date(2025, 1, 17)  # two TARGET days after Wednesday 15 January
    end = datetime.date(2025, 4, 17)
    p0, p1 = c.discount(spot), c.discount(end)
    for day_count, days in (("act/360", 360), ("act/365f", 365)):
        d = quelm.Deposit("3M", 0.0, day_count=day_count)
        assert d.par_rate(c) == pytest.approx((p0 / p1 - 1) / ((end - spot).days / days), rel=1e-13)
    # No spot lag: the deposit starts today and its rate covers one more day.
    today = quelm.Deposit("3M", 0.0, settlement_days=0)
    assert today.par_rate(c) == pytest.approx((1 / c.discount(datetime.date(2025, 4, 15)) - 1) / (90 / 360),
                                              rel=1e-13)


def test_a_future_rate_is_the_forward_plus_its_convexity():
    c = YC.flat(0.03, reference_date=REF)
    plain = quelm.Future(datetime.date(2025, 6, 18), 97.0)
    adjusted = quelm.Future(datetime.date(2025, 6, 18), 97.0, convexity=0.0005)
    assert adjusted.par_rate(c) - plain.par_rate(c) == pytest.approx(0.0005, abs=1e-15)
    assert adjusted.implied_quote(c) == pytest.approx(100 * (1 - adjusted.par_rate(c)), abs=1e-12)
    with pytest.raises(ValueError, match="2025-06-19 is not an IMM date"):
        quelm.Future(datetime.date(2025, 6, 19), 97.0)


def test_a_swap_on_a_flat_curve_has_the_textbook_par_rate():
    """On one flat curve the 6M floating leg is worth 1 - P(end) from spot, so the par rate
    is (P(spot) - P(end)) / annuity on the fixed dates."""
    c = YC.flat(0.025, reference_date=REF)
    swap = quelm.Swap("5Y", 0.0, fixed_day_count="act/365f")
    fixed = [d for d in quelm.schedule(datetime.date(2025, 1, 17), datetime.date(2030, 1, 17), "1Y",
                                       calendar="target", convention="modified-following", rule="backward")]
    annuity = sum((b - a).days / 365 * c.discount(b) for a, b in zip(fixed, fixed[1:]))
    assert swap.par_rate(c) == pytest.approx((c.discount(fixed[0]) - c.discount(fixed[-1])) / annuity, rel=1e-13)


def test_projection_on_a_given_discount_curve():
    disc = YC.flat(0.02, reference_date=REF)  # not bootstrapped: its risk has no columns
    swaps = swaps_6m()
    proj = YC.bootstrap(REF, swaps, discount_curve=disc)
    assert reprice_error(proj, swaps) <= 1e-10
    assert len(proj.risk(swaps[0])[0]) == len(swaps)
    with pytest.raises(ValueError, match="reference date 2025-01-16 differs from 2025-01-15"):
        YC.bootstrap(REF, swaps, discount_curve=YC.flat(0.02, reference_date=datetime.date(2025, 1, 16)))
    with pytest.raises(ValueError, match="discount curve needs a reference date"):
        YC.bootstrap(REF, swaps, discount_curve=YC.flat(0.02))


def test_a_forward_between_a_time_and_a_date():
    c = YC.bootstrap(REF, estr_quotes())
    d = datetime.date(2030, 1, 15)
    t = (d - REF).days / 365
    assert c.forward_rate(1.0, d) == c.forward_rate(1.0, t)
    with pytest.raises(ValueError, match="require a later second date"):
        c.forward_rate(d, REF)


# --- quotes checked at construction --------------------------------------------------------

IMM = datetime.date(2025, 6, 18)
GILT = dict(issue="2024-05-15", maturity="2034-05-15")


def dated(coupon, **kw):
    return quelm.FixedRateBond.dated(GILT["issue"], GILT["maturity"], coupon, **kw)


RATE_RANGE = "must be within (-1, 1) (a decimal: 0.0325 is 3.25%), got "


@pytest.mark.parametrize("build, message", [
    # A rate of -395% is a discount factor of about 85 at three months.
    (lambda: quelm.Deposit("3M", -3.95), "deposit: rate " + RATE_RANGE + "-3.95"),
    (lambda: quelm.Deposit("3M", 1.0), "deposit: rate " + RATE_RANGE + "1"),
    (lambda: quelm.Swap("10Y", -1.0), "swap: rate " + RATE_RANGE + "-1"),
    (lambda: quelm.Fra("3M", "6M", 2.0), "fra: rate " + RATE_RANGE + "2"),
    (lambda: quelm.Ois("1Y", math.inf), "ois: rate must be finite"),
    (lambda: quelm.Swap("10Y", -1.5), "swap: rate " + RATE_RANGE + "-1.5"),
    # A price of 200 is a rate of -100%; 1 - price/100 must stay above it.
    (lambda: quelm.Future(IMM, 200.0), "future: price must be within (0, 200) per 100 (a rate above -100%), got 200"),
    (lambda: quelm.Future(IMM, -1e6), "future: price must be within (0, 200) per 100 (a rate above -100%), got -1e+06"),
    (lambda: quelm.Future(IMM, 0.0), "future: price must be within (0, 200) per 100 (a rate above -100%), got 0"),
    (lambda: quelm.Future(IMM, math.nan), "future: price must be finite"),
    (lambda: quelm.Future(IMM, 97.0, convexity=5.0), "future: convexity " + RATE_RANGE + "5"),
    (lambda: quelm.BondQuote(dated(0.04), 1e-300),
     "bond quote: clean_price must be within [0.01, 1000] for a face of 100, got 1e-300"),
    (lambda: quelm.BondQuote(dated(0.04), 1000.5),
     "bond quote: clean_price must be within [0.01, 1000] for a face of 100, got 1000.5"),
    (lambda: quelm.BondQuote(dated(0.04, face=1.0), 98.0),
     "bond quote: clean_price must be within [1e-04, 10] for a face of 1, got 98"),
    (lambda: quelm.BondQuote(dated(0.04), math.inf), "bond quote: clean_price must be finite"),
    # The bond itself refuses such a coupon, before any quote of it.
    (lambda: quelm.BondQuote(dated(1e308), 99.0), "bond: coupon_rate must be within [0, 1] "
                                                   "(a decimal: 0.05 is 5%), got 1e+308"),
    (lambda: quelm.BondQuote(dated(-0.01), 99.0), "bond: coupon_rate must be within [0, 1] "
                                                   "(a decimal: 0.05 is 5%), got -0.01"),
    # A FRA ends after it starts, whatever the units.
    (lambda: quelm.Fra("6M", "3M", 0.03), "fra: start_tenor 6M must come before end_tenor 3M"),
    (lambda: quelm.Fra("3M", "3M", 0.03), "fra: start_tenor 3M must come before end_tenor 3M"),
    (lambda: quelm.Fra("1Y", "12M", 0.03), "fra: start_tenor 1Y must come before end_tenor 12M"),
    (lambda: quelm.Fra("2M", "40D", 0.03), "fra: start_tenor 2M must come before end_tenor 40D"),
    # 30e/360-isda needs a schedule's termination date, which a quote's periods do not have.
    (lambda: quelm.Deposit("3M", 0.03, day_count="30e/360-isda"),
     'deposit: day_count "30e/360-isda" is not supported here: it needs the termination date of a schedule'),
    (lambda: quelm.Ois("1Y", 0.03, day_count="30E/360-ISDA"),
     'ois: day_count "30e/360-isda" is not supported here: it needs the termination date of a schedule'),
    (lambda: quelm.Swap("5Y", 0.03, fixed_day_count="30e/360-isda"),
     'swap: fixed_day_count "30e/360-isda" is not supported here: it needs the termination date of a schedule'),
    (lambda: quelm.Future(IMM, 97.0, day_count="30e/360-isda"),
     'future: day_count "30e/360-isda" is not supported here: it needs the termination date of a schedule'),
    (lambda: YC.bootstrap(REF, [quelm.Deposit("3M", 0.03)], day_count="30e/360-isda"),
     'bootstrap: day_count "30e/360-isda" is not supported here: it needs the termination date of a schedule'),
    (lambda: YC.flat(0.03, reference_date=REF, day_count="30e/360-isda"),
     'yield curve: day_count "30e/360-isda" is not supported here: it needs the termination date of a schedule'),
])
def test_nonsense_quotes_fail_at_construction(build, message):
    with pytest.raises(ValueError) as info:
        build()
    assert str(info.value) == "invalid input: " + message


@pytest.mark.parametrize("build", [
    lambda: quelm.Deposit("3M", -0.999), lambda: quelm.Deposit("3M", 0.999), lambda: quelm.Swap("30Y", -0.0075),
    lambda: quelm.Future(IMM, 199.99), lambda: quelm.Future(IMM, 0.01), lambda: quelm.Fra("0D", "1M", 0.03),
    lambda: quelm.Fra("1M", "5W", 0.03), lambda: quelm.Fra("11M", "1Y", 0.03),
    lambda: quelm.BondQuote(dated(0.0), 0.01), lambda: quelm.BondQuote(dated(1.0), 1000.0),
    lambda: quelm.BondQuote(dated(0.04, face=1000.0), 985.0),
])
def test_quotes_at_the_ends_of_their_ranges_are_accepted(build):
    build()


# Every term away from its default, and the terms of one kind apart from each other (the
# fixed and floating day counts, the start and end tenors, the spot and payment lags).
def distinct_terms():
    return [
        quelm.Deposit("6M", 0.031, day_count="act/365f", calendar="uk", settlement_days=1, convention="following"),
        quelm.Fra("1M", "7M", 0.032, day_count="30/360", calendar="uk+target", settlement_days=0,
                  convention="preceding"),
        quelm.Future(datetime.date(2025, 6, 1), 96.25, convexity=0.0004, tenor="1M", day_count="act/365f",
                     calendar="uk+target", convention="following", index="sonia"),
        quelm.Ois("3Y", 0.027, day_count="act/365f", calendar="uk", payment_frequency=2, settlement_days=1,
                  convention="following", payment_lag=3, index="tona"),
        quelm.Swap("7Y", 0.033, fixed_frequency=2, fixed_day_count="act/365f", float_tenor="3M",
                   float_day_count="act/365.25", calendar="uk", settlement_days=1, convention="following"),
        quelm.BondQuote(dated(0.04), 101.5),
    ]


@pytest.mark.parametrize("quote", distinct_terms(), ids=lambda q: type(q).__name__)
def test_each_attribute_reads_back_its_own_term(quote):
    # The constructor's parameters are attributes of the same names: built again from them,
    # the quote is the same one, so no attribute reads another term.
    cls = type(quote)
    names = list(inspect.signature(cls).parameters)
    assert cls(**{name: getattr(quote, name) for name in names}) == quote
    expected = quote.price if cls is quelm.Future else quote.clean_price if cls is quelm.BondQuote else quote.rate
    assert quote.quote == expected
    if cls is quelm.Future:
        assert quote.rate == 1 - quote.price / 100


# --- equal instruments hash equal -----------------------------------------------------------

@pytest.mark.parametrize("make", [
    lambda z: quelm.Deposit("3M", z),
    lambda z: quelm.Fra("3M", "6M", z),
    lambda z: quelm.Future(IMM, 97.0, convexity=z),
    lambda z: quelm.Ois("2Y", z, index="sofr"),
    lambda z: quelm.Swap("10Y", z, float_tenor="3M"),
    lambda z: quelm.BondQuote(dated(z), 99.5),
    lambda z: dated(z),
])
def test_signed_zero_quotes_are_one_key(make):
    plus, minus = make(0.0), make(-0.0)
    assert plus == minus and hash(plus) == hash(minus)
    assert {plus: 1}.get(minus) == 1 and len({plus, minus}) == 1
    # Unequal terms still tell apart (the hash is not constant).
    assert len({make(0.0), make(0.01), make(0.02)}) == 3


def test_equal_instruments_built_two_ways_hash_equal():
    a = quelm.Ois("5Y", 0.04, calendar="target2")
    b = quelm.Ois("5Y", 0.04, calendar=quelm.Calendar("TARGET"), day_count="actual/360")
    assert a == b and hash(a) == hash(b)
    # Terms outside the repr (extra holidays) count: unequal, kept apart in a set.
    cal = quelm.Calendar("target").with_holidays(["2025-03-03"])
    c = quelm.Deposit("3M", 0.03, calendar=cal)
    assert c != quelm.Deposit("3M", 0.03) and len({c, quelm.Deposit("3M", 0.03)}) == 2


# --- conventions by overnight index ---------------------------------------------------------

# (index, calendar, day count, spot lag, payment lag): the indices' publication day counts
# and calendars, their swaps' spot and payment lags (ARRC for SOFR; QuantLib's OIS helpers
# take the same with paymentLag).
INDEX_TERMS = [("sofr", "us-government-bond", "act/360", 2, 2), ("estr", "target", "act/360", 2, 1),
               ("sonia", "uk", "act/365f", 0, 0), ("tona", "japan", "act/365f", 2, 2)]


@pytest.mark.parametrize("index, calendar, day_count, spot, lag", INDEX_TERMS)
def test_an_index_sets_the_terms_its_swaps_are_quoted_on(index, calendar, day_count, spot, lag):
    q = quelm.Ois("2Y", 0.03, index=index.upper())
    assert (q.index, q.calendar.name, q.day_count, q.settlement_days, q.payment_lag) == (index, calendar, day_count,
                                                                                           spot, lag)
    assert repr(q) == f"Ois('2Y', 0.03, index='{index}')"
    # A keyword given overrides its entry and shows in the repr; the rest stay.
    o = quelm.Ois("2Y", 0.03, index=index, payment_lag=5, day_count="act/365.25")
    assert (o.calendar.name, o.day_count, o.settlement_days, o.payment_lag) == (calendar, "act/365.25", spot, 5)
    assert repr(o) == f"Ois('2Y', 0.03, day_count='act/365.25', payment_lag=5, index='{index}')"
    for x in (q, o):
        back = pickle.loads(pickle.dumps(x))
        assert back == x and hash(back) == hash(x) and repr(back) == repr(x)
    f = quelm.Future(datetime.date(2025, 3, 19), 96.0, index=index)
    assert (f.index, f.calendar.name, f.day_count) == (index, calendar, day_count)
    assert pickle.loads(pickle.dumps(f)) == f


def test_ois_without_an_index_keeps_its_plain_terms():
    q = quelm.Ois("2Y", 0.03)
    assert (q.index, q.calendar.name, q.day_count, q.settlement_days, q.payment_lag) == (None, "target", "act/360",
                                                                                           2, 0)
    assert repr(quelm.Ois("2Y", 0.03, payment_lag=1)) == "Ois('2Y', 0.03, payment_lag=1)"
    # Spelled out, the index's terms are the same swap, though not the same quote object.
    spelled = quelm.Ois("2Y", 0.03, calendar="target", settlement_days=2, payment_lag=1)
    estr = quelm.Ois("2Y", 0.03, index="estr")
    c = YC.flat(0.03, reference_date=REF)
    assert spelled.par_rate(c) == estr.par_rate(c)


INDEX_CHOICES = "index must be 'sofr', 'estr', 'sonia', or 'tona', got "


@pytest.mark.parametrize("build, message", [
    (lambda: quelm.Ois("2Y", 0.03, index="libor"), INDEX_CHOICES + '"libor"'),
    (lambda: quelm.Future(IMM, 96.0, index="fed-funds"),
     INDEX_CHOICES + '"fed-funds"'),
    (lambda: quelm.Ois("2Y", 0.03, index="sofr", payment_lag=400),
     "invalid input: ois: payment_lag must be at most 366"),
    (lambda: quelm.Future(IMM, 96.0, index="sofr", tenor="6M"),
     "invalid input: future: a future on sofr covers 1M (a calendar month) or 3M (IMM date to IMM date), got 6M"),
    (lambda: quelm.Future(IMM, 96.0, index="sofr", tenor="1M"),
     "invalid input: future: start 2025-06-18 is not the first day of a month (a 1M index future covers its "
     "calendar month)"),
    (lambda: quelm.Future(datetime.date(2025, 6, 1), 96.0, index="sonia"),
     "invalid input: future: start 2025-06-01 is not an IMM date (a third Wednesday)"),
])
def test_index_errors(build, message):
    with pytest.raises(ValueError) as info:
        build()
    assert str(info.value) == message


def test_ois_payment_lag_pays_later_on_the_index_calendar():
    """Each period's payment moves `payment_lag` business days on: the pillar of a single-curve
    bootstrap is the last payment, and the par rate is the float leg over the annuity at the
    lagged dates (a flat curve: forwards telescope to P(start)/P(end) - 1 per period)."""
    c = YC.flat(0.04, reference_date=REF)
    sofr = quelm.Calendar("us-government-bond")
    q = quelm.Ois("2Y", 0.0, index="sofr")
    start = sofr.advance(REF, "2D")
    ends = [d for d in quelm.schedule(start, datetime.date(2027, 1, 17), "1Y", calendar=sofr,
                                      convention="modified-following", rule="backward")]
    paid = [sofr.advance(d, "2D") for d in ends[1:]]
    floating = sum((c.discount(a) / c.discount(b) - 1) * c.discount(p) for a, b, p in zip(ends, ends[1:], paid))
    annuity = sum((b - a).days / 360 * c.discount(p) for a, b, p in zip(ends, ends[1:], paid))
    assert q.par_rate(c) == pytest.approx(floating / annuity, rel=1e-14)
    assert q.par_rate(c) != quelm.Ois("2Y", 0.0, index="sofr", payment_lag=0).par_rate(c)
    curve = YC.bootstrap(REF, [quelm.Ois(t, 0.04, index="sofr") for t in ("1Y", "2Y")])
    assert curve.pillar_dates[-1] == paid[-1]


def test_index_futures_cover_the_exchange_reference_period():
    c = YC.flat(0.04, reference_date=REF)

    def forward(a, b, days):
        return (c.discount(a) / c.discount(b) - 1) / ((b - a).days / days)

    # CME 3M SOFR, March 2025: from the third Wednesday of March to that of June (91 days),
    # not 19 March + 3M = 19 June.
    mar = quelm.Future(datetime.date(2025, 3, 19), 96.0, index="sofr")
    assert mar.par_rate(c) == pytest.approx(forward(datetime.date(2025, 3, 19), datetime.date(2025, 6, 18), 360),
                                            rel=1e-14)
    # Without the index the period is 19 March + 3M, rolled past Juneteenth to 20 June.
    plain = quelm.Future(datetime.date(2025, 3, 19), 96.0, calendar="us-government-bond")
    assert plain.par_rate(c) == pytest.approx(forward(datetime.date(2025, 3, 19), datetime.date(2025, 6, 20), 360),
                                              rel=1e-14)
    # December to March crosses the year; SONIA accrues act/365f.
    dec = quelm.Future(datetime.date(2025, 12, 17), 96.0, index="sonia")
    assert dec.par_rate(c) == pytest.approx(forward(datetime.date(2025, 12, 17), datetime.date(2026, 3, 18), 365),
                                            rel=1e-14)
    # CME 1M SOFR, February 2025: the calendar month, 1 February to 1 March.
    feb = quelm.Future(datetime.date(2025, 2, 1), 95.7, index="sofr", tenor="1M", convexity=0.0001)
    assert feb.par_rate(c) == pytest.approx(forward(datetime.date(2025, 2, 1), datetime.date(2025, 3, 1), 360) + 0.0001,
                                            rel=1e-13)
    assert repr(feb) == "Future('2025-02-01', 95.7, convexity=0.0001, tenor='1M', index='sofr')"
    # A strip of index futures bootstraps, each repriced.
    strip = [quelm.Deposit("1M", 0.043, calendar="us-government-bond")] + [
        quelm.Future(d, 95.75 + 0.05 * k, index="sofr")
        for k, d in enumerate([datetime.date(2025, 3, 19), datetime.date(2025, 6, 18), datetime.date(2025, 9, 17)])]
    curve = YC.bootstrap(REF, strip)
    assert reprice_error(curve, strip) <= 1e-12
    assert curve.pillar_dates[-1] == datetime.date(2025, 12, 17)


@pytest.mark.parametrize("interp", ["log-linear", "natural-cubic"])
def test_risk_with_payment_lags_matches_bump_and_rebuild(interp):
    # Lagged payments read discount factors past each period's end: the chain rule must
    # reach them as bumping the quotes does.
    tenors = ("3M", "1Y", "2Y", "3Y", "5Y", "7Y", "10Y")
    quotes = [quelm.Ois(t, 0.041 - 0.0004 * k, index="sofr") for k, t in enumerate(tenors)]
    book = [quelm.Ois("4Y", 0.04, index="sofr"), quelm.Ois("6Y", 0.038, index="estr"),
            quelm.Future(datetime.date(2025, 3, 19), 95.9, index="sofr")]
    build = lambda qs: YC.bootstrap(REF, qs, interp=interp)  # noqa: E731
    assert_close(build(quotes).risk(book), bump_and_rebuild(build, quotes, book))


# --- long strips on the global interpolations ------------------------------------------------

def weekly_strip(n):
    """n weekly OIS quotes, 1W to nW, on a smooth hump with a ripple: every pillar its own."""
    return [quelm.Ois(f"{w}W", 0.025 + 0.004 * (1 - math.exp(-w / 300)) + 1e-5 * (w % 7)) for w in range(1, n + 1)]


@pytest.mark.parametrize("interp", ["natural-cubic", "monotone-convex"])
def test_a_long_weekly_strip_reprices_and_its_own_risk_is_diagonal(interp):
    # 600 pillars, the Newton steps solved iteratively with the Jacobian's products: every
    # quote reprices, and a quote's own risk moves only its own column (the curve reprices
    # every other quote whatever they are), so the Jacobian solves are exact to rounding.
    quotes = weekly_strip(600)
    c = YC.bootstrap(REF, quotes, interp=interp)
    assert max(abs(q.par_rate(c) - q.rate) for q in quotes) <= 1e-12
    picks = [0, 1, 51, 52, 300, 598, 599]
    for k, row in zip(picks, c.risk([quotes[k] for k in picks])):
        assert row[k] != 0.0
        assert max(abs(v) for j, v in enumerate(row) if j != k) <= 1e-12 * abs(row[k]), k


def test_a_long_weekly_strip_risk_matches_bump_and_rebuild():
    # Off-strip positions on a 300-pillar natural-cubic curve (smooth in its quotes, unlike
    # monotone convex's sectors: see numeric_risk), against central differences at pillars
    # near the start, around the first annual payment and at the end.
    interp = "natural-cubic"
    quotes = weekly_strip(300)
    book = [quelm.Swap("4Y", 0.031), quelm.Ois("18M", 0.027)]
    build = lambda qs: YC.bootstrap(REF, qs, interp=interp)  # noqa: E731
    exact = build(quotes).risk(book)
    cols = [0, 3, 50, 51, 52, 53, 200, 299]
    h = 1e-6
    for j in cols:
        up, down = list(quotes), list(quotes)
        up[j], down[j] = bumped(quotes[j], h), bumped(quotes[j], -h)
        cu, cd = build(up), build(down)
        for i, item in enumerate(book):
            scale = max(abs(x) for x in exact[i])
            numeric = (item.npv(cu) - item.npv(cd)) / (2 * h)
            assert abs(exact[i][j] - numeric) <= 1e-6 * scale, (interp, i, j, exact[i][j], numeric)


def test_natural_cubic_strip_matches_quantlib_zero_rates():
    # QuantLib's PiecewiseNaturalCubicZero through the same zero rates at the pillars gives the
    # same spline in between (natural end conditions on zero rates, node 0 tied to the first
    # pillar's rate): the curve's zero rates between pillars agree to rounding.
    ql = pytest.importorskip("QuantLib")
    c = YC.bootstrap(REF, weekly_strip(120), interp="natural-cubic")
    xs = list(c.pillar_times)  # 0 first
    ys = [c.zero_rate(xs[1])] + [c.zero_rate(t) for t in xs[1:]]  # kept alive: the spline reads them
    spline = ql.CubicNaturalSpline(xs, ys)
    for t in [0.003, 0.05, 0.3, 0.77, 1.2, 1.9, 2.25]:
        assert abs(c.zero_rate(t) - spline(t)) <= 1e-13, t
