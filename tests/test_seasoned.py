"""Seasoned trades in a book: an OIS or swap that started before the market's date reads
its past fixings from the market. Against QuantLib's OvernightIndexedSwap and VanillaSwap
with the same fixings on the same curves (skipped without QuantLib); risk against bumping
the quotes and rebuilding with the fixings held; missing fixings and paid flows."""
from __future__ import annotations

import datetime as dt

import pytest

import quelm

REF = dt.date(2026, 3, 2)  # a Monday
SOFR = [("6M", 0.0431), ("1Y", 0.0422), ("2Y", 0.0405), ("3Y", 0.0396), ("5Y", 0.0388), ("7Y", 0.0386),
        ("10Y", 0.0389)]
ESTR = [("6M", 0.0231), ("1Y", 0.0224), ("2Y", 0.0219), ("5Y", 0.0236), ("10Y", 0.0262)]
EURIBOR = [("2Y", 0.0248), ("3Y", 0.0252), ("5Y", 0.0266), ("7Y", 0.0279), ("10Y", 0.0293)]


def quotes(moved=None) -> dict:
    def rate(curve, tenor, r):
        return r + moved[1] if moved and moved[0] == f"{curve} {tenor}" else r
    sofr = [quelm.Ois(t, rate("usd-sofr", t, r), index="sofr") for t, r in SOFR]
    estr = [quelm.Ois(t, rate("eur-estr", t, r), index="estr") for t, r in ESTR]
    euribor = [quelm.Deposit("6M", rate("eur-euribor-6m", "6M", 0.0262))]
    euribor += [quelm.Swap(t, rate("eur-euribor-6m", t, r)) for t, r in EURIBOR]
    return {"usd-sofr": sofr, "eur-estr": estr, "eur-euribor-6m": (euribor, {"discount_curve": "eur-estr"})}


def days(start: dt.date, end: dt.date):
    d = start
    while d < end:
        yield d
        d += dt.timedelta(days=1)


def sofr_fixings(start=dt.date(2024, 6, 1)) -> dict:
    """A rate for every weekday before REF (holidays too: extra fixings are never read)."""
    return {d: 0.0430 + 0.0001 * ((d - start).days % 7) for d in days(start, REF) if d.weekday() < 5}


EURIBOR_FIXINGS = {dt.date(2025, 9, 11): 0.0214, dt.date(2026, 3, 12): 0.0250, dt.date(2025, 3, 13): 0.0241}


def market(moved=None, fixings=None) -> quelm.Market:
    if fixings is None:
        fixings = {"sofr": sofr_fixings(), "eur-euribor-6m": EURIBOR_FIXINGS}
    return quelm.Market.bootstrap(REF, quotes(moved), fixings=fixings)


@pytest.fixture(scope="module")
def base():
    return market()


# --- against QuantLib -------------------------------------------------------------------------

def qd(d: dt.date):
    import QuantLib as ql
    return ql.Date(d.day, d.month, d.year)


def handle(curve):
    import QuantLib as ql
    dates = [REF] + list(curve.pillar_dates)
    dfs = [1.0] + [curve.discount(d) for d in dates[1:]]
    return ql.YieldTermStructureHandle(ql.DiscountCurve([qd(d) for d in dates], dfs, ql.Actual365Fixed(),
                                                         ql.TARGET()))


def ql_sofr_npv(start, end, rate, notional, curve, fixings):
    import QuantLib as ql
    h = handle(curve)
    index = ql.Sofr(h)
    index.clearFixings()
    for d, r in fixings.items():
        if index.isValidFixingDate(qd(d)):
            index.addFixing(qd(d), r)
    cal = ql.UnitedStates(ql.UnitedStates.GovernmentBond)
    schedule = ql.Schedule(qd(start), qd(end), ql.Period(1, ql.Years), cal, ql.ModifiedFollowing,
                           ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
    kind = ql.Swap.Receiver if notional > 0 else ql.Swap.Payer
    swap = ql.OvernightIndexedSwap(kind, abs(notional), schedule, rate, ql.Actual360(), index, 0.0, 2,
                                   ql.Following, cal)
    swap.setPricingEngine(ql.DiscountingSwapEngine(h))
    return swap.NPV()


def ql_euribor_npv(start, end, rate, notional, projection, discount, fixings):
    import QuantLib as ql
    index = ql.IborIndex("seasoned-euribor-6m", ql.Period(6, ql.Months), 2, ql.EURCurrency(), ql.TARGET(),
                         ql.ModifiedFollowing, False, ql.Actual360(), handle(projection))
    index.clearFixings()
    for d, r in fixings.items():
        index.addFixing(qd(d), r)

    def schedule(period):
        return ql.Schedule(qd(start), qd(end), period, ql.TARGET(), ql.ModifiedFollowing, ql.ModifiedFollowing,
                           ql.DateGeneration.Backward, False)
    kind = ql.VanillaSwap.Receiver if notional > 0 else ql.VanillaSwap.Payer
    swap = ql.VanillaSwap(kind, abs(notional), schedule(ql.Period(1, ql.Years)), rate,
                          ql.Thirty360(ql.Thirty360.BondBasis), schedule(ql.Period(6, ql.Months)), index, 0.0,
                          ql.Actual360())
    swap.setPricingEngine(ql.DiscountingSwapEngine(handle(discount)))
    return swap.NPV()


@pytest.mark.parametrize("notional", [1e7, -2.5e7])
def test_seasoned_sofr_ois_matches_quantlib(base, notional):
    ql = pytest.importorskip("QuantLib")
    ql.Settings.instance().evaluationDate = qd(REF)
    curve = base.curve("usd-sofr")
    fixings = sofr_fixings()
    cases = [
        # In its first period; a year into a three-year swap (the first payment made); a
        # single period that ended on Friday and pays on Tuesday, all of it fixed.
        (dt.date(2025, 11, 14), dt.date(2027, 11, 14)),
        (dt.date(2024, 9, 16), dt.date(2027, 9, 16)),
        (dt.date(2025, 2, 27), dt.date(2026, 2, 27)),
    ]
    for start, end in cases:
        trade = quelm.Ois(None, 0.0401, index="sofr", effective=start, maturity=end, notional=notional)
        ours = quelm.Book([trade]).npv(base)["total"]
        want = ql_sofr_npv(start, end, 0.0401, notional, curve, fixings)
        assert ours == pytest.approx(want, rel=0, abs=1e-8 * abs(notional)), (start, end)


@pytest.mark.parametrize("notional", [1e7, -3e6])
def test_seasoned_euribor_swap_matches_quantlib(base, notional):
    ql = pytest.importorskip("QuantLib")
    ql.Settings.instance().evaluationDate = qd(REF)
    projection, discount = base.curve("eur-euribor-6m"), base.curve("eur-estr")
    # Current period 2025-09-15 .. 2026-03-16, fixed on 2025-09-11; the next one fixes on
    # 2026-03-12, after the market's date: read off the curve, not the fixing given for it.
    for start, end in [(dt.date(2025, 9, 15), dt.date(2030, 9, 15)), (dt.date(2024, 3, 15), dt.date(2029, 3, 15))]:
        trade = quelm.Swap(None, 0.0261, effective=start, maturity=end, curve="eur-euribor-6m", notional=notional)
        ours = quelm.Book([trade]).npv(base)["total"]
        fixings = {d: r for d, r in EURIBOR_FIXINGS.items() if d < REF}
        want = ql_euribor_npv(start, end, 0.0261, notional, projection, discount, fixings)
        assert ours == pytest.approx(want, rel=0, abs=1e-8 * abs(notional)), start


# --- what a seasoned trade reads -----------------------------------------------------------------

def test_fixings_move_only_the_realised_part(base):
    """A fixing one basis point higher moves a receiver by -notional x accrual x 1bp x the
    discount factor at payment (to first order); fixings on other days do nothing."""
    trade = quelm.Swap(None, 0.0261, effective="2025-09-15", maturity="2030-09-15", curve="eur-euribor-6m",
                       notional=1e7)
    v0 = quelm.Book([trade]).npv(base)["total"]
    moved = dict(EURIBOR_FIXINGS)
    moved[dt.date(2025, 9, 11)] += 1e-4
    moved[dt.date(2025, 3, 13)] += 0.01  # not this trade's
    v1 = quelm.Book([trade]).npv(market(fixings={"sofr": sofr_fixings(), "eur-euribor-6m": moved}))["total"]
    accrual = (dt.date(2026, 3, 16) - dt.date(2025, 9, 15)).days / 360
    df = base.curve("eur-estr").discount(dt.date(2026, 3, 16))
    assert v1 - v0 == pytest.approx(-1e7 * accrual * 1e-4 * df, rel=1e-9)


def test_missing_fixings_name_index_and_date(base):
    no_day = sofr_fixings()
    del no_day[dt.date(2026, 2, 2)]
    m = market(fixings={"sofr": no_day, "eur-euribor-6m": EURIBOR_FIXINGS})
    ois = quelm.Ois("2Y", 0.04, index="sofr", effective="2025-11-14")
    with pytest.raises(ValueError, match=r"trade 0: .*no fixing of sofr on 2026-02-02"):
        quelm.Book([ois]).npv(m)
    with pytest.raises(ValueError, match=r"no fixing of sofr on 2026-02-02"):
        quelm.Book([ois]).risk(m)
    swap = quelm.Swap("5Y", 0.03, effective="2025-09-15", curve="eur-euribor-6m")
    with pytest.raises(ValueError, match=r"trade 0: .*eur-euribor-6m"):
        quelm.Book([swap]).npv(market(fixings={"sofr": sofr_fixings()}))
    # An OIS on no index reads the fixings named as its curve.
    plain = quelm.Ois("2Y", 0.04, effective="2025-11-14", curve="usd-sofr", calendar="us-government-bond")
    with pytest.raises(ValueError, match=r"trade 0: .*usd-sofr"):
        quelm.Book([plain]).npv(m)
    # On SOFR's terms, reading them under that name: the value of the OIS on the index.
    same_terms = quelm.Ois("2Y", 0.04, effective="2025-11-14", curve="usd-sofr", calendar="us-government-bond",
                           payment_lag=2)
    renamed = market(fixings={"usd-sofr": sofr_fixings()})
    assert quelm.Book([same_terms]).npv(renamed)["total"] == quelm.Book([ois]).npv(base)["total"]
    with pytest.raises(ValueError, match=r"no fixing of eur-euribor-6m on 2025-09-11"):
        quelm.Book([swap]).npv(market(fixings={"sofr": sofr_fixings(), "eur-euribor-6m": {REF: 0.02}}))


def test_alone_and_in_a_bootstrap_a_seasoned_trade_still_needs_fixings(base):
    ois = quelm.Ois("2Y", 0.04, index="sofr", effective="2025-11-14")
    with pytest.raises(ValueError, match="seasoned trades need fixings"):
        ois.npv(base.curve("usd-sofr"))
    with pytest.raises(ValueError, match="seasoned trades need fixings"):
        quelm.YieldCurve.bootstrap(REF, [ois] + [quelm.Ois(t, r, index="sofr") for t, r in SOFR])
    with pytest.raises(ValueError, match="seasoned trades need fixings"):
        quelm.Book([quelm.Deposit(None, 0.04, effective="2026-01-05", maturity="2026-06-05",
                                  curve="usd-sofr")]).npv(base)


def test_unseasoned_trades_keep_their_values_in_a_book(base):
    """Dated on or after the market's date, or before it but rolled onto it: priced as alone."""
    trades = [quelm.Ois("2Y", 0.04, index="sofr", effective=REF),
              quelm.Ois("2Y", 0.04, index="sofr", effective="2026-03-01"),  # Sunday: rolls to REF
              quelm.Swap("5Y", 0.03, effective="2026-06-15", curve="eur-euribor-6m")]
    values = quelm.Book(trades).npv(base)["by_trade"]
    for k, t in enumerate(trades):
        assert values[str(k)] == t.npv(base.curve(t.curve or "usd-sofr"))


def test_a_flow_on_the_reference_date_is_paid(base):
    """Its last payment on the market's date: nothing left to value."""
    ois = quelm.Ois(None, 0.04, index="sofr", effective="2025-02-26", maturity="2026-02-26", notional=1e6)
    assert quelm.Book([ois]).npv(base)["total"] == 0.0
    assert all(x == 0.0 for x in quelm.Book([ois]).risk(base).total.values())


# --- risk ---------------------------------------------------------------------------------------

def test_risk_of_seasoned_trades_is_bump_and_rebuild_with_fixings_held(base):
    book = quelm.Book([
        quelm.Ois("2Y", 0.0401, index="sofr", effective="2025-11-14", notional=1e7),
        quelm.Ois(None, 0.0401, index="sofr", effective="2025-02-27", maturity="2026-02-27", notional=-5e6),
        quelm.Swap(None, 0.0261, effective="2025-09-15", maturity="2030-09-15", curve="eur-euribor-6m",
                   notional=2e7),
        quelm.Swap("4Y", 0.0255, curve="eur-euribor-6m", notional=-1e7),
    ])
    report = book.risk(base)
    # A step of 1e-5: the fully fixed trade's risk is small beside its value, and a smaller
    # step would measure the bootstrap's tolerance rather than its slope.
    h = 1e-5
    for j, label in enumerate(report.labels):
        up = book.npv(market((label, h)))["by_trade"]
        down = book.npv(market((label, -h)))["by_trade"]
        for name in book.names:
            numeric = (up[name] - down[name]) / (2 * h) * 1e-4
            scale = max(abs(x) for x in report.by_trade[name])
            assert report.by_trade[name][j] == pytest.approx(numeric, rel=1e-7, abs=1e-7 * scale), (name, label)


# --- floating-rate notes ------------------------------------------------------------------------

def ql_frn_npv(start, end, spread, notional, projection, discount, fixings=None, tenor=3):
    """QuantLib's FloatingRateBond settling on the evaluation date: its dirty price per 100 of
    face, scaled to the notional."""
    import QuantLib as ql
    index = ql.IborIndex(f"frn-euribor-{tenor}m", ql.Period(tenor, ql.Months), 2, ql.EURCurrency(), ql.TARGET(),
                         ql.ModifiedFollowing, False, ql.Actual360(), handle(projection))
    index.clearFixings()
    for d, r in (fixings or {}).items():
        index.addFixing(qd(d), r)
    schedule = ql.Schedule(qd(start), qd(end), ql.Period(tenor, ql.Months), ql.TARGET(), ql.ModifiedFollowing,
                           ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
    bond = ql.FloatingRateBond(0, 100.0, schedule, index, ql.Actual360(), ql.ModifiedFollowing, 2, [1.0], [spread])
    bond.setPricingEngine(ql.DiscountingBondEngine(handle(discount)))
    return bond.dirtyPrice() * notional / 100.0


def test_a_floating_rate_note_prices_at_par_on_its_own_curve_on_a_reset_date():
    curve = quelm.YieldCurve.bootstrap(REF, [quelm.Deposit("3M", 0.031)] +
                                       [quelm.Swap(f"{y}Y", 0.03 + 0.001 * y) for y in (1, 2, 3, 5, 7, 10)])
    for notional, tenor in [(100.0, "3M"), (1e6, "6M"), (-2.5e7, "1M")]:
        # Fixing on the reference date: the first coupon is read off the curve as well.
        frn = quelm.FloatingRateNote(REF, "2033-03-02", 0.0, index_tenor=tenor, notional=notional, fixing_days=0)
        assert frn.npv(curve) == pytest.approx(notional, rel=1e-12)
        # From spot: par there, discounted to the trade date.
        spot = quelm.FloatingRateNote("2026-03-04", "2031-03-04", 0.0, index_tenor=tenor, notional=notional)
        assert spot.npv(curve) == pytest.approx(notional * curve.discount("2026-03-04"), rel=1e-12)
    # A spread adds its annuity; in a book, on its curve by name, the same value.
    frn = quelm.FloatingRateNote(REF, "2031-03-03", 0.002, fixing_days=0, notional=1e6)
    assert frn.npv(curve) > 1e6
    m = quelm.Market(REF, curves={"eur-6m": curve})
    assert quelm.Book([frn]).npv(m)["total"] == frn.npv(curve)


def test_a_note_kept_laid_out_for_one_date_is_laid_out_anew_on_another():
    quotes = [quelm.Deposit("3M", 0.031)] + [quelm.Swap(f"{y}Y", 0.03 + 0.001 * y) for y in (1, 2, 3, 5, 7, 10)]
    note = quelm.FloatingRateNote("2026-06-02", "2031-06-02", 0.001, notional=1e6)
    values = {}
    for day in (REF, dt.date(2026, 3, 9), REF):
        curve = quelm.YieldCurve.bootstrap(day, quotes)
        # The note (and a copy in a book) against a fresh note on the same terms, every time.
        fresh = quelm.FloatingRateNote("2026-06-02", "2031-06-02", 0.001, notional=1e6)
        assert note.npv(curve) == fresh.npv(curve)
        assert quelm.Book([note]).npv(quelm.Market(day, curves={"eur-6m": curve}))["total"] == fresh.npv(curve)
        values.setdefault(day, note.npv(curve))
    assert values[REF] != values[dt.date(2026, 3, 9)]


@pytest.mark.parametrize("notional", [100.0, 5e6, -1e6])
def test_floating_rate_note_matches_quantlibs_floating_rate_bond(base, notional):
    ql = pytest.importorskip("QuantLib")
    ql.Settings.instance().evaluationDate = qd(REF)
    projection, discount = base.curve("eur-euribor-6m"), base.curve("eur-estr")
    for start, end, spread, tenor in [(dt.date(2026, 3, 4), dt.date(2031, 3, 4), 0.0025, 3),
                                      (dt.date(2026, 6, 15), dt.date(2033, 12, 15), -0.001, 6)]:
        frn = quelm.FloatingRateNote(start, end, spread, index_tenor=f"{tenor}M", notional=notional)
        want = ql_frn_npv(start, end, spread, notional, projection, discount, tenor=tenor)
        assert frn.npv(projection, discount_curve=discount) == pytest.approx(want, rel=0, abs=1e-8 * abs(notional))
    # Seasoned, in a book: its current coupon fixed on 2025-12-11 (2025-12-15 less two days).
    frn = quelm.FloatingRateNote("2025-12-15", "2030-12-15", 0.0025, notional=notional, curve="eur-euribor-6m",
                                 discount_curve="eur-estr", index="euribor-3m")
    m = market(fixings={"sofr": sofr_fixings(), "euribor-3m": {dt.date(2025, 12, 11): 0.0205}})
    want = ql_frn_npv(dt.date(2025, 12, 15), dt.date(2030, 12, 15), 0.0025, notional, projection, discount,
                      {dt.date(2025, 12, 11): 0.0205})
    assert quelm.Book([frn]).npv(m)["total"] == pytest.approx(want, rel=0, abs=1e-8 * abs(notional))
    with pytest.raises(ValueError, match="seasoned trades need fixings"):
        frn.npv(projection, discount_curve=discount)
    with pytest.raises(ValueError, match="no fixing of euribor-3m on 2025-12-11"):
        quelm.Book([frn]).npv(market(fixings={"euribor-3m": {REF: 0.02}}))


def test_floating_rate_note_risk_is_bump_and_rebuild(base):
    book = quelm.Book([
        quelm.FloatingRateNote("2026-03-04", "2031-03-04", 0.0025, notional=1e7, curve="eur-euribor-6m"),
        quelm.FloatingRateNote("2025-12-15", "2030-12-15", 0.001, notional=-4e6, curve="eur-euribor-6m",
                               index="eur-euribor-6m"),
    ])
    m = market(fixings={"eur-euribor-6m": {dt.date(2025, 12, 11): 0.0205}})
    report = book.risk(m)
    h = 1e-5
    for j, label in enumerate(report.labels):
        up = book.npv(market((label, h), fixings={"eur-euribor-6m": {dt.date(2025, 12, 11): 0.0205}}))["by_trade"]
        down = book.npv(market((label, -h), fixings={"eur-euribor-6m": {dt.date(2025, 12, 11): 0.0205}}))["by_trade"]
        for name in book.names:
            numeric = (up[name] - down[name]) / (2 * h) * 1e-4
            scale = max(abs(x) for x in report.by_trade[name])
            assert report.by_trade[name][j] == pytest.approx(numeric, rel=1e-7, abs=1e-7 * scale), (name, label)


def test_floating_rate_note_terms_read_back_compare_and_pickle():
    import pickle
    frn = quelm.FloatingRateNote("2026-03-04", "2031-03-04", 0.0015, index_tenor="6M", notional=1e6,
                                 calendar="us-government-bond", fixing_days=0, curve="usd-sofr", index="sofr")
    assert repr(frn) == ("FloatingRateNote('2026-03-04', '2031-03-04', 0.0015, index_tenor='6M', notional=1000000, "
                         "calendar='us-government-bond', fixing_days=0, curve='usd-sofr', index='sofr')")
    assert (frn.effective, frn.maturity, frn.spread, frn.index_tenor, frn.notional, frn.fixing_days) == (
        dt.date(2026, 3, 4), dt.date(2031, 3, 4), 0.0015, "6M", 1e6, 0)
    assert (frn.curve, frn.discount_curve, frn.index, frn.day_count) == ("usd-sofr", None, "sofr", "act/360")
    back = pickle.loads(pickle.dumps(frn))
    assert back == frn and hash(back) == hash(frn) and repr(back) == repr(frn)
    assert frn != quelm.FloatingRateNote("2026-03-04", "2031-03-04", 0.0015)
    assert quelm.Book([frn]).trades[0] == frn
    for bad, message in [(dict(maturity="2026-01-04"), "maturity 2026-01-04 is not after effective 2026-03-04"),
                         (dict(spread=1.5), "spread must be a decimal within"),
                         (dict(index_tenor="5M"), "index_tenor must be 1M, 2M, 3M, 4M, 6M or 12M"),
                         (dict(notional=0.0), "notional must be finite and not zero"),
                         (dict(curve=""), "curve names must not be empty")]:
        terms = dict(effective="2026-03-04", maturity="2031-03-04", spread=0.001) | bad
        with pytest.raises(ValueError, match=message):
            quelm.FloatingRateNote(terms.pop("effective"), terms.pop("maturity"), terms.pop("spread"), **terms)


def test_scenarios_revalue_seasoned_trades_with_the_markets_fixings(base):
    # A scenario market keeps the fixings: a seasoned trade's P&L is its value on the moved
    # market less its value today, and a zero move is exactly nothing.
    trades = [quelm.Ois(None, 0.0401, index="sofr", effective=dt.date(2025, 11, 14),
                        maturity=dt.date(2027, 11, 14), notional=1e7),
              quelm.Swap(None, 0.025, curve="eur-euribor-6m", effective=dt.date(2025, 9, 15),
                         maturity=dt.date(2030, 9, 15), notional=-5e6)]
    book = quelm.Book(trades)
    shifts = {"usd-sofr 2Y": 0.0001, "eur-euribor-6m 5Y": -0.0002}
    pnl = book.scenario(base, shifts)
    moved = book.npv(base.shifted(shifts))
    today = book.npv(base)
    assert pnl["total"] == moved["total"] - today["total"]
    assert pnl["by_trade"] == {k: moved["by_trade"][k] - today["by_trade"][k] for k in today["by_trade"]}
    assert all(v != 0.0 for v in pnl["by_trade"].values())
    assert book.scenario(base, {"usd-sofr": 0.0})["total"] == 0.0
