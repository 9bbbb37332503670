"""Bootstrapped curves against QuantLib (skipped without it): a deposits + swaps curve on the
same conventions gives the same discount factors at the pillars."""
from __future__ import annotations

import datetime as dt

import pytest

import quelm

ql = pytest.importorskip("QuantLib")

REF = dt.date(2025, 1, 15)
DEPOSITS = [("1M", 0.0295), ("3M", 0.0300), ("6M", 0.0305)]
SWAPS = [(y, 0.0300 + 0.0004 * y - 0.000008 * y * y) for y in (1, 2, 3, 4, 5, 7, 10, 12, 15, 20, 25, 30)]
# quelm's day-count names and QuantLib's day counters where the two agree.
FIXED_DAY_COUNTS = {"act/360": lambda: ql.Actual360(), "act/365f": lambda: ql.Actual365Fixed(),
                    "30/360": lambda: ql.Thirty360(ql.Thirty360.BondBasis)}


def qd(d: dt.date):
    return ql.Date(d.day, d.month, d.year)


def assert_same_discounts(ours, theirs):
    """The same discount factors at our pillars and every 91 days over 30 years."""
    days = list(ours.pillar_dates) + [REF + dt.timedelta(days=91 * k) for k in range(1, 120)]
    for d in days:
        assert abs(ours.discount(d) - theirs.discount(qd(d))) <= 1e-10, d


def ql_curve(fixed_day_count: str, float_months: int, fixed_frequency: int):
    """QuantLib's PiecewiseLogLinearDiscount on the quelm conventions: spot two TARGET days
    on, modified following without the end-of-month rule (an Ibor index without it, as quelm
    rolls swap dates), deposits and the floating leg act/360, act/365f curve times."""
    ql.Settings.instance().evaluationDate = qd(REF)
    cal = ql.TARGET()
    index = ql.IborIndex("quelm-like", ql.Period(float_months, ql.Months), 2, ql.EURCurrency(), cal,
                         ql.ModifiedFollowing, False, ql.Actual360())
    helpers = [ql.DepositRateHelper(ql.QuoteHandle(ql.SimpleQuote(r)), ql.Period(t), 2, cal, ql.ModifiedFollowing,
                                    False, ql.Actual360()) for t, r in DEPOSITS]
    freq = {1: ql.Annual, 2: ql.Semiannual, 4: ql.Quarterly}[fixed_frequency]
    helpers += [ql.SwapRateHelper(ql.QuoteHandle(ql.SimpleQuote(r)), ql.Period(y, ql.Years), cal, freq,
                                  ql.ModifiedFollowing, FIXED_DAY_COUNTS[fixed_day_count](), index)
                for y, r in SWAPS]
    curve = ql.PiecewiseLogLinearDiscount(qd(REF), helpers, ql.Actual365Fixed())
    curve.enableExtrapolation()
    return curve


def quelm_quotes(fixed_day_count: str, float_months: int, fixed_frequency: int):
    return ([quelm.Deposit(t, r) for t, r in DEPOSITS]
            + [quelm.Swap(f"{y}Y", r, fixed_frequency=fixed_frequency, fixed_day_count=fixed_day_count,
                          float_tenor=f"{float_months}M") for y, r in SWAPS])


@pytest.mark.parametrize("fixed_day_count, float_months, fixed_frequency", [
    ("30/360", 6, 1), ("act/360", 3, 4), ("act/365f", 6, 2)])
def test_log_linear_bootstrap_matches_quantlib(fixed_day_count, float_months, fixed_frequency):
    theirs = ql_curve(fixed_day_count, float_months, fixed_frequency)
    ours = quelm.YieldCurve.bootstrap(REF, quelm_quotes(fixed_day_count, float_months, fixed_frequency))
    # The same pillars (the latest date each instrument reads) ...
    ql_pillars = [dt.date(d.year(), d.month(), d.dayOfMonth()) for d in theirs.dates()]
    assert ql_pillars == [REF] + ours.pillar_dates
    # ... and the same discount factors there and between them (QuantLib solves each to
    # about 1e-12).
    assert_same_discounts(ours, theirs)


# Overnight-index swaps by index: each index's market conventions (calendar, day count,
# spot lag, payment lag) against QuantLib's OISRateHelper set up the same way.
OIS_TENORS = [("1W", 0.0431), ("1M", 0.0430), ("3M", 0.0428), ("6M", 0.0424), ("1Y", 0.0415), ("18M", 0.0408),
              ("2Y", 0.0402), ("3Y", 0.0398), ("5Y", 0.0398), ("7Y", 0.0402), ("10Y", 0.0410), ("15Y", 0.0416),
              ("20Y", 0.0420), ("30Y", 0.0408)]


def ql_overnight(index: str):
    """QuantLib's index (and the payment lag the market pays with) for each name."""
    if index == "sofr":
        # quelm's SOFR calendar is the US government-bond market's.
        return ql.OvernightIndex("SOFR-like", 0, ql.USDCurrency(), ql.UnitedStates(ql.UnitedStates.GovernmentBond),
                                 ql.Actual360()), 2, 2
    if index == "estr":
        return ql.Estr(), 2, 1
    if index == "sonia":
        return ql.Sonia(), 0, 0
    if index == "tona":
        return ql.Tonar(), 2, 2
    raise AssertionError(index)


def ql_period(tenor: str):
    n, unit = int(tenor[:-1]), tenor[-1]
    return ql.Period(n, {"W": ql.Weeks, "M": ql.Months, "Y": ql.Years}[unit])


@pytest.mark.parametrize("index", ["sofr", "estr", "sonia", "tona"])
def test_ois_curve_by_index_matches_quantlib(index):
    ql.Settings.instance().evaluationDate = qd(REF)
    on, spot_lag, payment_lag = ql_overnight(index)
    cal = on.fixingCalendar()
    helpers = [ql.OISRateHelper(spot_lag, ql_period(t), ql.QuoteHandle(ql.SimpleQuote(r)), on,
                                ql.YieldTermStructureHandle(), False, payment_lag, ql.Following, ql.Annual, cal,
                                ql.Period(0, ql.Days), 0.0, ql.Pillar.LastRelevantDate, ql.Date(),
                                ql.RateAveraging.Compound, False)
               for t, r in OIS_TENORS]
    theirs = ql.PiecewiseLogLinearDiscount(qd(REF), helpers, ql.Actual365Fixed())
    theirs.enableExtrapolation()
    quotes = [quelm.Ois(t, r, index=index) for t, r in OIS_TENORS]
    ours = quelm.YieldCurve.bootstrap(REF, quotes)
    # The pillars are the last payment dates, `payment_lag` days after each swap's end.
    ql_pillars = [dt.date(d.year(), d.month(), d.dayOfMonth()) for d in theirs.dates()]
    assert ql_pillars == [REF] + ours.pillar_dates
    assert_same_discounts(ours, theirs)


@pytest.mark.parametrize("month, year, monthly", [(3, 2025, False), (6, 2025, False), (12, 2025, False),
                                                  (2, 2025, True), (12, 2025, True)])
def test_sofr_futures_cover_quantlibs_reference_period(month, year, monthly):
    """CME's 3M contract runs IMM date to IMM date, the 1M contract its calendar month: the
    period QuantLib's SofrFutureRateHelper reads, and the one index="sofr" futures read."""
    ql.Settings.instance().evaluationDate = qd(REF)
    h = ql.SofrFutureRateHelper(95.8, month, year, ql.Monthly if monthly else ql.Quarterly)
    start, end = (dt.date(d.year(), d.month(), d.dayOfMonth()) for d in (h.earliestDate(), h.maturityDate()))
    ours = quelm.Future(start, 95.8, index="sofr", tenor="1M" if monthly else "3M")
    assert quelm.YieldCurve.bootstrap(REF, [ours]).pillar_dates == [end]
    flat = quelm.YieldCurve.flat(0.04, reference_date=REF)
    forward = (flat.discount(start) / flat.discount(end) - 1) / ((end - start).days / 360)
    assert ours.par_rate(flat) == pytest.approx(forward, rel=1e-14)
