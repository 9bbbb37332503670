"""Credit default swaps on the ISDA standard model, at the Python surface."""
from __future__ import annotations

import datetime as dt
import math
import pickle
import random

import pytest

import quelm

TRADE = "2009-05-21"

# The rates the ISDA standard model's published example was run on (Markit, 21 May 2009),
# as QuantLib's test suite (test-suite/creditdefaultswap.cpp, testIsdaEngine) lists them.
DEPOSITS = [(1, 0.003081), (2, 0.005525), (3, 0.007163), (6, 0.012413), (9, 0.014), (12, 0.015488)]
SWAPS = [(2, 0.011907), (3, 0.01699), (4, 0.021198), (5, 0.02444), (6, 0.026937), (7, 0.028967),
         (8, 0.030504), (9, 0.031719), (10, 0.03279), (11, 0.034535), (12, 0.036217), (15, 0.036981),
         (20, 0.037246), (25, 0.037605), (30, 0.037873)]

# Upfronts on 10 million of protection paying 100bp, from the quoted par spread by the
# standard converter, as the standard model's calculator publishes them (same source);
# positive: paid to the buyer. (maturity, spread, recovery, upfront)
MARKIT_UPFRONTS = [
    ("2010-06-20", 0.001, 0.2, 97798.29358), ("2010-06-20", 0.001, 0.4, 97776.11889),
    ("2010-06-20", 0.1, 0.2, -914971.5977), ("2010-06-20", 0.1, 0.4, -894985.6298),
    ("2011-06-20", 0.001, 0.2, 186921.3594), ("2011-06-20", 0.001, 0.4, 186839.8148),
    ("2011-06-20", 0.1, 0.2, -1646623.672), ("2011-06-20", 0.1, 0.4, -1579803.626),
    ("2012-06-20", 0.001, 0.2, 274298.9203), ("2012-06-20", 0.001, 0.4, 274122.4725),
    ("2012-06-20", 0.1, 0.2, -2279730.93), ("2012-06-20", 0.1, 0.4, -2147972.527),
    ("2016-06-20", 0.001, 0.2, 592420.2297), ("2016-06-20", 0.001, 0.4, 591571.2294),
    ("2016-06-20", 0.1, 0.2, -3993550.206), ("2016-06-20", 0.1, 0.4, -3545843.418),
]


def isda_curve(trade=TRADE):
    inst = [quelm.Deposit(f"{m}M", r, day_count="act/360", calendar="weekends") for m, r in DEPOSITS]
    inst += [quelm.Swap(f"{y}Y", r, fixed_frequency=2, fixed_day_count="30/360", float_tenor="3M",
                        calendar="weekends") for y, r in SWAPS]
    return quelm.YieldCurve.bootstrap(trade, inst, interp="flat-forward")


@pytest.fixture(scope="module")
def disc():
    return isda_curve()


# --- the standard dates -------------------------------------------------------------------

@pytest.mark.parametrize("trade,tenor,maturity", [
    ("2009-05-21", "5Y", "2014-06-20"),   # quarterly rolls before 21 December 2015
    ("2009-06-19", "1Y", "2010-06-20"),
    ("2009-06-20", "1Y", "2010-09-20"),
    ("2024-05-21", "5Y", "2029-06-20"),   # semi-annual rolls: March to September -> June
    ("2024-09-19", "5Y", "2029-06-20"),
    ("2024-09-20", "5Y", "2029-12-20"),
    ("2024-03-19", "5Y", "2028-12-20"),
    ("2024-03-20", "6M", "2024-12-20"),
    ("2025-01-10", "3Y", "2027-12-20"),
])
def test_standard_maturity(trade, tenor, maturity):
    assert quelm.Cds(tenor, 0.01, trade_date=trade).maturity == dt.date.fromisoformat(maturity)


def test_standard_maturity_against_quantlib():
    ql = pytest.importorskip("QuantLib")
    rng = random.Random(7)
    for _ in range(200):
        trade = dt.date(2016, 1, 1) + dt.timedelta(days=rng.randrange(0, 3500))
        tenor = rng.choice([1, 2, 3, 5, 7, 10])
        expected = ql.cdsMaturity(ql.Date(trade.day, trade.month, trade.year), ql.Period(tenor, ql.Years),
                                  ql.DateGeneration.CDS2015)
        got = quelm.Cds(f"{tenor}Y", 0.01, trade_date=trade).maturity
        assert (got.year, got.month, got.day) == (expected.year(), expected.month(), expected.dayOfMonth())


@pytest.mark.parametrize("trade,start,days", [
    ("2019-06-19", "2019-06-20", 0),   # step-in on the roll date: a new period, nothing accrued
    ("2019-06-20", "2019-06-20", 1),   # traded on the roll date: the step-in day accrued
    ("2020-06-19", "2020-03-20", 92),  # step-in Saturday 20 June; the roll paid Monday 22 June
    ("2020-06-22", "2020-06-22", 1),
    ("2009-05-21", "2009-03-20", 63),  # the published example: 63 days
])
def test_accrual_start_and_rebate_on_edge_days(trade, start, days):
    cds = quelm.Cds("1Y", 0.05, trade_date=trade, notional=1e7)
    assert cds.accrual_start == dt.date.fromisoformat(start)
    assert cds.step_in == dt.date.fromisoformat(trade) + dt.timedelta(days=1)
    assert cds.accrued == pytest.approx(1e7 * 0.05 * days / 360, abs=1e-9)
    seller = quelm.Cds("1Y", 0.05, trade_date=trade, notional=1e7, side="sell")
    assert seller.accrued == -cds.accrued
    # The first payment is the next roll date after the step-in, moved to a business day.
    first = cds.payment_dates[0]
    assert first > cds.step_in and first.weekday() < 5


def test_schedule_terms():
    cds = quelm.Cds("2014-06-20", 0.01, trade_date=TRADE)
    assert cds.cash_settlement == dt.date(2009, 5, 26)  # T+3 business days over a weekend
    pays = cds.payment_dates
    assert pays[0] == dt.date(2009, 6, 22)  # 20 June 2009 was a Saturday
    assert pays[-1] == dt.date(2014, 6, 20) and len(pays) == 21


# --- the published grid and the identities ---------------------------------------------------

@pytest.mark.parametrize("maturity,spread,recovery,upfront", MARKIT_UPFRONTS)
def test_published_upfront_grid(disc, maturity, spread, recovery, upfront):
    # The published code counts accrual on default from half a day early: half_day=True.
    got = quelm.cds_upfront_from_spread(TRADE, maturity, spread, 0.01, disc, recovery=recovery, notional=1e7,
                                        half_day=True)
    assert -got == pytest.approx(upfront, rel=1e-8)


def test_half_day_is_a_small_shift(disc):
    curve = quelm.CreditCurve.flat(TRADE, 0.03)
    exact = quelm.Cds("5Y", 0.01, trade_date=TRADE).upfront(curve, disc)
    biased = quelm.Cds("5Y", 0.01, trade_date=TRADE, half_day=True).upfront(curve, disc)
    # Half a day more of accrual on default: the buyer pays more coupon, so less upfront;
    # about coupon x (1 - survival) x half a day.
    assert biased < exact
    assert exact - biased == pytest.approx(0.01 * (1 - curve.survival("2014-06-20")) * 0.5 / 360, rel=0.05)


def test_value_identities(disc):
    curve = quelm.CreditCurve.from_hazards(TRADE, ["2010-06-20", "2012-06-20", "2016-06-20"], [0.01, 0.03, 0.05])
    cds = quelm.Cds("2014-06-20", 0.05, trade_date=TRADE, notional=1e6, recovery=0.35)
    par, rpv01 = cds.par_spread(curve, disc), cds.rpv01(curve, disc)
    clean, dirty = cds.upfront(curve, disc), cds.upfront(curve, disc, clean=False)
    assert clean == pytest.approx((par - 0.05) * rpv01 * 1e6, rel=1e-12)
    assert dirty == pytest.approx(clean - cds.accrued, rel=1e-12)
    assert cds.upfront(curve, disc, points=True) == pytest.approx(100 * clean / 1e6, rel=1e-12)
    # The trade-date value is the dirty upfront discounted from cash settlement.
    assert cds.npv(curve, disc) == pytest.approx(dirty * disc.discount(cds.cash_settlement), rel=1e-12)
    seller = quelm.Cds("2014-06-20", 0.05, trade_date=TRADE, notional=1e6, recovery=0.35, side="sell")
    assert seller.npv(curve, disc) == -cds.npv(curve, disc)
    at_par = quelm.Cds("2014-06-20", par, trade_date=TRADE, recovery=0.35)
    assert at_par.upfront(curve, disc) == pytest.approx(0.0, abs=1e-14)


def test_zero_hazard_and_zero_rates():
    # No default: no protection, and the coupons are a plain annuity of their act/360 accruals.
    disc = quelm.YieldCurve.flat(0.0, reference_date=TRADE)
    cds = quelm.Cds("2010-06-20", 0.01, trade_date=TRADE)
    none = quelm.CreditCurve.flat(TRADE, 0.0)
    days = (dt.date(2010, 6, 21) - dt.date(2009, 3, 20)).days
    assert cds.npv(none, disc) == pytest.approx(-0.01 * days / 360, rel=1e-14)
    # The Taylor branch (tiny hazard) joins the closed form continuously.
    a = cds.npv(quelm.CreditCurve.flat(TRADE, 1e-7), disc)
    b = cds.npv(quelm.CreditCurve.flat(TRADE, 2e-3), disc)
    c = cds.npv(quelm.CreditCurve.flat(TRADE, 2.0001e-3), disc)
    assert a > cds.npv(none, disc) and abs(c - b) < 1e-6


def test_against_quantlib_isda_engine(disc):
    ql = pytest.importorskip("QuantLib")
    trade = ql.Date(21, 5, 2009)
    ql.Settings.instance().evaluationDate = trade
    cal = ql.WeekendsOnly()
    helpers = [ql.DepositRateHelper(r, ql.Period(m, ql.Months), 2, cal, ql.ModifiedFollowing, False, ql.Actual360())
               for m, r in DEPOSITS]
    ibor = ql.IborIndex("IsdaIbor", ql.Period(3, ql.Months), 2, ql.USDCurrency(), cal, ql.ModifiedFollowing, False,
                        ql.Actual360())
    helpers += [ql.SwapRateHelper(r, ql.Period(y, ql.Years), cal, ql.Semiannual, ql.ModifiedFollowing,
                                  ql.Thirty360(ql.Thirty360.BondBasis), ibor) for y, r in SWAPS]
    qcurve = ql.PiecewiseLogLinearDiscount(0, cal, helpers, ql.Actual365Fixed())
    handle = ql.YieldTermStructureHandle(qcurve)
    # The ISDA discount curve: the same discount factors.
    for d in list(qcurve.dates())[1:]:
        day = dt.date(d.year(), d.month(), d.dayOfMonth())
        assert disc.discount(day) == pytest.approx(qcurve.discount(d), rel=1e-12)
    rng = random.Random(3)
    for _ in range(60):
        h, rec = rng.uniform(0.0005, 0.6), rng.uniform(0.0, 0.8)
        coupon = rng.choice([0.01, 0.05, rng.uniform(0.0, 0.1)])
        k = rng.randrange(1, 45)
        mat = dt.date(2009 + (5 + 3 * k) // 12, (5 + 3 * k) % 12 + 1, 20)
        cds = quelm.Cds(mat, coupon, trade_date=TRADE, recovery=rec, half_day=True)
        sched = ql.Schedule(ql.Date(20, 3, 2009), ql.Date(mat.day, mat.month, mat.year), ql.Period(3, ql.Months), cal,
                            ql.Following, ql.Unadjusted, ql.DateGeneration.CDS, False)
        q = ql.CreditDefaultSwap(ql.Protection.Buyer, 1.0, 0.0, coupon, sched, ql.Following, ql.Actual360(), True,
                                 True, trade + 1, cal.advance(trade, 3, ql.Days), ql.FaceValueClaim(),
                                 ql.Actual360(True), True, trade, 3)
        hazard = ql.FlatHazardRate(trade, ql.QuoteHandle(ql.SimpleQuote(h)), ql.Actual365Fixed())
        q.setPricingEngine(ql.IsdaCdsEngine(ql.DefaultProbabilityTermStructureHandle(hazard), rec, handle, False,
                                            ql.IsdaCdsEngine.Taylor, ql.IsdaCdsEngine.HalfDayBias,
                                            ql.IsdaCdsEngine.Piecewise))
        # Per unit notional. QuantLib's engine and this one agree to 1e-10 on weekday
        # maturities at moderate coupons; at high hazards with a maturity on a weekend they
        # part by up to ~5e-8 (the last period's few days).
        assert cds.upfront(quelm.CreditCurve.flat(TRADE, h), disc) == pytest.approx(q.fairUpfront(), abs=1e-7)


# --- the credit curve -----------------------------------------------------------------------

def test_curve_queries():
    curve = quelm.CreditCurve.from_hazards("2024-05-21", ["2025-06-20", "2029-06-20"], [0.01, 0.03])
    t1 = (dt.date(2025, 6, 20) - dt.date(2024, 5, 21)).days / 365
    t = (dt.date(2027, 1, 1) - dt.date(2024, 5, 21)).days / 365
    q = math.exp(-(0.01 * t1 + 0.03 * (t - t1)))
    assert curve.survival("2027-01-01") == pytest.approx(q, rel=1e-15)
    assert curve.hazard("2025-06-20") == 0.01 and curve.hazard("2025-06-21") == 0.03
    assert curve.hazard("2040-01-01") == 0.03  # the last hazard continues
    assert curve.default_density("2027-01-01") == pytest.approx(0.03 * q, rel=1e-15)
    assert curve.survival("2024-05-21") == 1.0
    with pytest.raises(ValueError, match="is before the trade date 2024-05-21"):
        curve.survival("2024-05-20")
    with pytest.raises(ValueError, match="node dates must increase"):
        quelm.CreditCurve.from_hazards("2024-05-21", ["2025-06-20", "2025-06-20"], [0.01, 0.03])
    with pytest.raises(ValueError, match="must be finite and >= 0"):
        quelm.CreditCurve.from_hazards("2024-05-21", ["2025-06-20"], [-0.01])


def test_bootstrap_reprices_its_quotes(disc):
    quotes = [("6M", 0.004), ("1Y", 0.006), ("2Y", 0.009), ("3Y", 0.012), ("5Y", 0.015), ("7Y", 0.016),
              ("10Y", 0.0165)]
    curve = quelm.CreditCurve.bootstrap(TRADE, quotes, disc, recovery=0.4)
    assert len(curve.nodes) == 7 and curve.recovery == 0.4
    for tenor, spread in quotes:
        cds = quelm.Cds(tenor, 0.01, trade_date=TRADE)
        assert cds.par_spread(curve, disc) == pytest.approx(spread, abs=1e-13)
    survival = [curve.survival(d) for d in curve.nodes]
    assert all(a > b for a, b in zip(survival, survival[1:]))


def test_bootstrap_distressed_from_upfronts(disc):
    # Distressed names quote points upfront on a 500bp coupon: hazards above 1.
    quotes = [("1Y", 0.05, 0.55), ("3Y", 0.05, 0.6), ("5Y", 0.05, 0.62)]
    curve = quelm.CreditCurve.bootstrap(TRADE, quotes, disc, recovery=0.25)
    assert max(curve.hazards) > 1.0
    for tenor, coupon, upfront in quotes:
        cds = quelm.Cds(tenor, coupon, trade_date=TRADE, recovery=0.25)
        assert cds.upfront(curve, disc) == pytest.approx(upfront, abs=1e-13)
    with pytest.raises(ValueError, match="beyond what any hazard rate gives"):
        quelm.CreditCurve.bootstrap(TRADE, [("1Y", 0.05, 0.95)], disc, recovery=0.25)
    with pytest.raises(ValueError, match="two quotes mature on 2014-06-20"):
        quelm.CreditCurve.bootstrap(TRADE, [("5Y", 0.01), ("2014-06-20", 0.02)], disc)
    with pytest.raises(TypeError, match="quote 0: expected"):
        quelm.CreditCurve.bootstrap(TRADE, [0.01], disc)


# --- the quote converter and risk -------------------------------------------------------------

def test_converter_round_trip_and_flat_curve(disc):
    for spread in (0.0005, 0.01, 0.05, 0.3):
        for coupon in (0.01, 0.05):
            u = quelm.cds_upfront_from_spread(TRADE, "5Y", spread, coupon, disc, recovery=0.3)
            assert quelm.cds_spread_from_upfront(TRADE, "5Y", u, coupon, disc, recovery=0.3) == pytest.approx(
                spread, rel=1e-12)
            # The converter is the one-quote bootstrap.
            flat = quelm.CreditCurve.bootstrap(TRADE, [("5Y", spread)], disc, recovery=0.3)
            cds = quelm.Cds("5Y", coupon, trade_date=TRADE, recovery=0.3)
            assert cds.upfront(flat, disc) == pytest.approx(u, abs=1e-15)
    assert quelm.cds_upfront_from_spread(TRADE, "5Y", 0.01, 0.01, disc) == pytest.approx(0.0, abs=1e-15)
    sold = quelm.cds_upfront_from_spread(TRADE, "5Y", 0.03, 0.01, disc, side="sell", notional=5e6)
    assert sold == pytest.approx(-5e6 * quelm.cds_upfront_from_spread(TRADE, "5Y", 0.03, 0.01, disc), rel=1e-15)


def test_risk(disc):
    quotes = [("1Y", 0.006), ("3Y", 0.012), ("5Y", 0.015)]
    curve = quelm.CreditCurve.bootstrap(TRADE, quotes, disc)
    cds = quelm.Cds("5Y", 0.01, trade_date=TRADE, notional=1e7)
    r = cds.risk(curve)
    assert r["npv"] == pytest.approx(cds.npv(curve, disc), rel=1e-15)
    bumped = quelm.CreditCurve.bootstrap(TRADE, [quotes[0], quotes[1], ("5Y", 0.0151)], disc)
    assert r["cs01"][2] == pytest.approx(cds.npv(bumped, disc) - r["npv"], rel=1e-12)
    # A 5Y contract carries its risk at 5Y; the earlier buckets net to little.
    assert r["cs01"][2] > 4000 and abs(r["cs01"][0] + r["cs01"][1]) < 0.02 * r["cs01"][2]
    assert len(r["ir01"]) == len(DEPOSITS) + len(SWAPS)
    assert r["jump_to_default"] == pytest.approx(1e7 * (0.6 - 0.01 * 63 / 360) - r["npv"], rel=1e-15)
    # Spreads held, a higher recovery refits higher hazards; the buyer below par loses.
    assert r["recovery01"] < 0
    with pytest.raises(ValueError, match="was not bootstrapped"):
        cds.risk(quelm.CreditCurve.flat(TRADE, 0.02))


# --- the contract as an object ----------------------------------------------------------------

def test_contract_object_and_errors(disc):
    cds = quelm.Cds("5Y", 0.01, trade_date=TRADE, notional=2e6, recovery=0.25, side="sell")
    assert repr(cds) == "Cds('2014-06-20', 0.01, trade_date='2009-05-21', notional=2000000.0, recovery=0.25, side='sell')"
    assert pickle.loads(pickle.dumps(cds)) == cds
    assert cds != quelm.Cds("5Y", 0.01, trade_date=TRADE)
    with pytest.raises(ValueError, match="cds: recovery must be in \\[0, 1\\)"):
        quelm.Cds("5Y", 0.01, trade_date=TRADE, recovery=1.0)
    with pytest.raises(ValueError, match="cds: maturity must be after the step-in date"):
        quelm.Cds("2009-05-22", 0.01, trade_date=TRADE)
    with pytest.raises(ValueError, match="maturity must be a date"):
        quelm.Cds("5 years", 0.01, trade_date=TRADE)
    with pytest.raises(ValueError, match="side must be 'buy' or 'sell'"):
        quelm.Cds("5Y", 0.01, trade_date=TRADE, side="long")
    other = quelm.CreditCurve.flat("2009-05-22", 0.02)
    with pytest.raises(ValueError, match="trade date 2009-05-22 is not the contract's 2009-05-21"):
        cds.npv(other, disc)
    with pytest.raises(ValueError, match="needs a reference date"):
        cds.npv(quelm.CreditCurve.flat(TRADE, 0.02), quelm.YieldCurve.flat(0.03))


# --- more of the contract, the curve and the risk ------------------------------------------

def test_non_standard_maturity_and_calendar():
    # A maturity off the roll dates rolls its schedule back from itself, quarterly, the first
    # period starting on the latest of those dates on or before the step-in date.
    cds = quelm.Cds("2011-08-15", 0.01, trade_date=TRADE, notional=1e7)
    assert cds.payment_dates[-1] == dt.date(2011, 8, 15)
    assert cds.accrual_start == dt.date(2009, 5, 15)
    assert cds.payment_dates[0] == dt.date(2009, 8, 17)  # 15 August 2009 was a Saturday
    assert cds.accrued == pytest.approx(1e7 * 0.01 * 7 / 360, rel=1e-15)
    # A holiday on a roll date moves that payment to the next business day of the calendar.
    cal = quelm.Calendar("target").with_holidays([dt.date(2010, 9, 20)])
    moved = quelm.Cds("2011-06-20", 0.01, trade_date=TRADE, calendar=cal)
    assert dt.date(2010, 9, 21) in moved.payment_dates
    assert dt.date(2010, 9, 20) in quelm.Cds("2011-06-20", 0.01, trade_date=TRADE).payment_dates
    assert "calendar=" in repr(moved)


def test_credit_triangle_on_flat_curves():
    disc = quelm.YieldCurve.flat(0.02, reference_date=TRADE)
    for spread, recovery in [(0.005, 0.4), (0.02, 0.25), (0.1, 0.6)]:
        curve = quelm.CreditCurve.bootstrap(TRADE, [("5Y", spread)], disc, recovery=recovery)
        # hazard × loss is the spread, up to the coupon's act/360 and discrete payment terms.
        assert curve.hazards[0] * (1 - recovery) == pytest.approx(spread * 365 / 360, rel=0.02)


def test_bootstrap_is_local(disc):
    quotes = [("1Y", 0.006), ("3Y", 0.012), ("5Y", 0.015), ("7Y", 0.016)]
    base = quelm.CreditCurve.bootstrap(TRADE, quotes, disc)
    moved = quelm.CreditCurve.bootstrap(TRADE, quotes[:3] + [("7Y", 0.02)], disc)
    # A later quote never moves an earlier hazard: the same bits before it.
    assert moved.hazards[:3] == base.hazards[:3] and moved.hazards[3] > base.hazards[3]
    # Quotes in any order give one curve.
    assert quelm.CreditCurve.bootstrap(TRADE, quotes[::-1], disc) == base
    # A spread and the upfront the converter gives for it bootstrap the same one-quote curve.
    up = quelm.cds_upfront_from_spread(TRADE, "5Y", 0.03, 0.05, disc)
    a = quelm.CreditCurve.bootstrap(TRADE, [("5Y", 0.03)], disc)
    b = quelm.CreditCurve.bootstrap(TRADE, [("5Y", 0.05, up)], disc)
    assert b.hazards[0] == pytest.approx(a.hazards[0], rel=1e-12)


def test_bootstrap_refuses(disc):
    with pytest.raises(ValueError, match="needs at least one quote"):
        quelm.CreditCurve.bootstrap(TRADE, [], disc)
    with pytest.raises(ValueError, match="a spread must be in \\[0, 10\\]"):
        quelm.CreditCurve.bootstrap(TRADE, [("5Y", -0.01)], disc)
    with pytest.raises(ValueError, match="an upfront is a fraction of notional in \\(-1, 1\\)"):
        quelm.CreditCurve.bootstrap(TRADE, [("5Y", 0.01, 35.0)], disc)
    with pytest.raises(ValueError, match="recovery must be in \\[0, 1\\)"):
        quelm.CreditCurve.bootstrap(TRADE, [("5Y", 0.01)], disc, recovery=1.2)
    # An inverted curve steeper than zero hazard allows: the 3Y spread below what 1Y implies.
    with pytest.raises(ValueError, match="the quote maturing 2012-06-20 is below what a zero hazard gives"):
        quelm.CreditCurve.bootstrap(TRADE, [("1Y", 0.05), ("3Y", 0.001)], disc)


def test_bucketed_risk_against_parallel_and_rates(disc):
    quotes = [("1Y", 0.006), ("3Y", 0.012), ("5Y", 0.015), ("7Y", 0.016)]
    curve = quelm.CreditCurve.bootstrap(TRADE, quotes, disc)
    cds = quelm.Cds("2013-06-20", 0.01, trade_date=TRADE, notional=1e7)
    r = cds.risk(curve)
    parallel = quelm.CreditCurve.bootstrap(TRADE, [(m, s + 1e-4) for m, s in quotes], disc)
    assert sum(r["cs01"]) == pytest.approx(cds.npv(parallel, disc) - r["npv"], rel=0.01)
    # A 4Y contract between the 3Y and 5Y pillars carries its risk on both.
    assert r["cs01"][1] > 0 and r["cs01"][2] > 0 and abs(r["cs01"][3]) < 1e-6 * r["cs01"][2]
    # IR01 of the 5Y swap: the discount curve and the credit curve rebuilt on it.
    rates = [quelm.Deposit(f"{m}M", x, day_count="act/360", calendar="weekends") for m, x in DEPOSITS]
    rates += [quelm.Swap(f"{y}Y", x + (1e-4 if y == 5 else 0.0), fixed_frequency=2, fixed_day_count="30/360",
                         float_tenor="3M", calendar="weekends") for y, x in SWAPS]
    up = quelm.YieldCurve.bootstrap(TRADE, rates, interp="flat-forward")
    rebuilt = quelm.CreditCurve.bootstrap(TRADE, quotes, up)
    assert r["ir01"][len(DEPOSITS) + 3] == pytest.approx(cds.npv(rebuilt, up) - r["npv"], rel=1e-12)
    seller = quelm.Cds("2013-06-20", 0.01, trade_date=TRADE, notional=1e7, side="sell").risk(curve)
    assert seller["cs01"] == [-x for x in r["cs01"]] and seller["npv"] == -r["npv"]
    assert seller["jump_to_default"] == -r["jump_to_default"]
    # A curve on an undated or plain curve has no rate quotes to shift.
    flat_disc = quelm.YieldCurve.flat(0.03, reference_date=TRADE)
    assert cds.risk(quelm.CreditCurve.bootstrap(TRADE, quotes, flat_disc))["ir01"] == []


@pytest.mark.parametrize("years,spread,recovery", [(1, 0.006, 0.4), (3, 0.012, 0.4), (5, 0.03, 0.25), (7, 0.1, 0.4),
                                                   (10, 0.0165, 0.6)])
def test_one_quote_bootstrap_against_quantlib(disc, years, spread, recovery):
    ql = pytest.importorskip("QuantLib")
    # QuantLib's ISDA-model helper puts its pillar a day or two after the maturity (quelm, as
    # the standard model, at the maturity), so their multi-quote curves part by ~1e-5; one
    # quote gives one flat hazard, the same in both, to QuantLib's solver accuracy.
    trade = ql.Date(21, 5, 2009)
    ql.Settings.instance().evaluationDate = trade
    qdisc = ql.YieldTermStructureHandle(ql.DiscountCurve(
        [trade] + [ql.Date(d.day, d.month, d.year) for d in disc.pillar_dates],
        [1.0] + [disc.discount(d) for d in disc.pillar_dates], ql.Actual365Fixed()))
    helper = ql.SpreadCdsHelper(spread, ql.Period(years, ql.Years), 0, ql.WeekendsOnly(), ql.Quarterly, ql.Following,
                                ql.DateGeneration.CDS, ql.Actual360(), recovery, qdisc, True, True, trade,
                                ql.Actual360(True), True, ql.CreditDefaultSwap.ISDA)
    qcurve = ql.PiecewiseFlatHazardRate(trade, [helper], ql.Actual365Fixed())
    qcurve.enableExtrapolation()
    curve = quelm.CreditCurve.bootstrap(TRADE, [(f"{years}Y", spread)], disc, recovery=recovery, half_day=True)
    for d in curve.nodes + [dt.date(2011, 1, 3)]:
        assert curve.survival(d) == pytest.approx(qcurve.survivalProbability(ql.Date(d.day, d.month, d.year)),
                                                  abs=1e-9)
