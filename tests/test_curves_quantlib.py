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
    for d in ours.pillar_dates:
        assert abs(ours.discount(d) - theirs.discount(qd(d))) <= 1e-10, d
    for k in range(1, 120):
        d = REF + dt.timedelta(days=91 * k)
        assert abs(ours.discount(d) - theirs.discount(qd(d))) <= 1e-10, d
