"""Dates per call: year fractions, calendar moves, schedules and a dated bond's yield,
each beside QuantLib where it is installed (and the year fraction beside black_scholes,
the cheapest pricing call); and the same over arrays of dates in quelm.vec beside Python
loops of the scalar calls and NumPy's own date arithmetic."""
from __future__ import annotations

import datetime as dt

import numpy as np

import quelm
import quelm.vec as vec

try:
    import QuantLib as ql
except ImportError:  # the peer is optional
    ql = None

START, END = dt.date(2021, 3, 17), dt.date(2027, 11, 2)
BS_ARGS = (100.0, 105.0, 0.05, 0.2, 1.0, "call")
UK = quelm.Calendar("uk")
# A 30-year semi-annual 4.5 % bond settling mid-period, quoted at 92.
ISSUE, MATURITY, SETTLE, QUOTE = dt.date(2024, 5, 15), dt.date(2054, 5, 15), dt.date(2024, 9, 3), 92.0
BOND = quelm.FixedRateBond.dated(ISSUE, MATURITY, 0.045, calendar="us-government-bond")


def ql_date(d: dt.date):
    return ql.Date(d.day, d.month, d.year)


def peers_year_fraction() -> dict:
    out = {"quelm.black_scholes (the reference call)": lambda: quelm.black_scholes(*BS_ARGS)}
    if ql is not None:
        dc, a, b = ql.ActualActual(ql.ActualActual.ISDA), ql_date(START), ql_date(END)
        assert abs(dc.yearFraction(a, b) - quelm.year_fraction(START, END, "act/act-isda")) < 1e-14
        out["QuantLib yearFraction (dates built)"] = lambda: dc.yearFraction(a, b)
    return out


def peers_advance() -> dict:
    if ql is None:
        return {}
    cal, d, p = ql.UnitedKingdom(), ql_date(START), ql.Period(3, ql.Months)
    return {"QuantLib Calendar.advance": lambda: cal.advance(d, p, ql.ModifiedFollowing, True)}


def peers_schedule() -> dict:
    if ql is None:
        return {}
    a, b, cal = ql_date(ISSUE), ql_date(MATURITY), ql.UnitedKingdom()

    def build():
        return list(ql.Schedule(a, b, ql.Period(6, ql.Months), cal, ql.ModifiedFollowing, ql.ModifiedFollowing,
                                ql.DateGeneration.Backward, False).dates())
    return {"QuantLib Schedule + dates()": build}


def peers_yield() -> dict:
    if ql is None:
        return {}
    cal = ql.UnitedStates(ql.UnitedStates.GovernmentBond)
    sched = ql.Schedule(ql_date(ISSUE), ql_date(MATURITY), ql.Period(ql.Semiannual), cal, ql.Unadjusted,
                        ql.Unadjusted, ql.DateGeneration.Backward, False)
    dc = ql.ActualActual(ql.ActualActual.ISMA)
    bond = ql.FixedRateBond(0, 100.0, sched, [0.045], dc, ql.Unadjusted, 100.0, ql_date(ISSUE), cal)
    s, price = ql_date(SETTLE), ql.BondPrice(QUOTE, ql.BondPrice.Clean)

    def solve():
        return ql.BondFunctions.bondYield(bond, price, dc, ql.Compounded, ql.Semiannual, s, 1e-12, 100, 0.05)
    assert abs(solve() - BOND.yield_at(QUOTE, SETTLE)) < 1e-9
    return {"QuantLib BondFunctions.bondYield": solve}


def array_cases(quick: bool) -> list:
    m = 20_000 if quick else 100_000
    rng = np.random.default_rng(11)
    # settlement dates spread over the bond's life, and yields around its coupon
    settle = np.datetime64(ISSUE, "D") + rng.integers(0, (MATURITY - ISSUE).days, m).astype("timedelta64[D]")
    yields = rng.uniform(0.03, 0.06, m)
    settle_list, yield_list = settle.astype(object).tolist(), yields.tolist()
    starts = np.datetime64(START, "D") + rng.integers(-3000, 3000, m).astype("timedelta64[D]")
    ends = starts + rng.integers(1, 10000, m).astype("timedelta64[D]")
    start_list, end_list = starts.astype(object).tolist(), ends.astype(object).tolist()

    def loop_price():
        f = BOND.clean_price_at
        return [f(y, d) for y, d in zip(yield_list, settle_list)]

    def loop_year_fraction():
        f = quelm.year_fraction
        return [f(a, b, "act/act-isda") for a, b in zip(start_list, end_list)]

    def numpy_act365f():
        return (ends - starts).astype(np.float64) / 365.0
    return [
        {"name": f"vec.dated_bond_price, 30y semi-annual, {m:,} settlement dates and yields",
         "quelm": lambda: vec.dated_bond_price(BOND, yields, settle),
         "peers": {"Python loop of DatedBond.clean_price_at": loop_price},
         "number": 1, "note": "target ratio >= 20"},
        {"name": f"vec.dated_bond_price, 30y semi-annual, {m:,} yields at one settlement date",
         "quelm": lambda: vec.dated_bond_price(BOND, yields, settle[0]),
         "peers": {"Python loop of DatedBond.clean_price_at": lambda: [BOND.clean_price_at(y, settle_list[0])
                                                                         for y in yield_list]},
         "number": 1},
        {"name": f"vec.year_fraction act/act-isda, {m:,} datetime64[D] pairs",
         "quelm": lambda: vec.year_fraction(starts, ends, "act/act-isda"),
         "peers": {"Python loop of quelm.year_fraction": loop_year_fraction,
                   "NumPy act/365f: (end - start) / 365 (a simpler count)": numpy_act365f},
         "yardsticks": ("NumPy act/365f: (end - start) / 365 (a simpler count)",),
         "number": 1},
    ]


def cases(quick: bool) -> list:
    n = 20000 if quick else 200000
    return array_cases(quick) + [
        {"name": "year_fraction act/act-isda, datetime.date in, per call",
         "quelm": lambda: quelm.year_fraction(START, END, "act/act-isda"),
         "peers": peers_year_fraction(), "number": n,
         "yardsticks": ("quelm.black_scholes (the reference call)",)},
        {"name": "Calendar('uk').advance 3M modified-following, end of month, per call",
         "quelm": lambda: UK.advance(START, "3M", "modified-following", True),
         "peers": peers_advance(), "number": n},
        {"name": "schedule, 30y semi-annual on the UK calendar",
         "quelm": lambda: quelm.schedule(ISSUE, MATURITY, "6M", calendar=UK, convention="modified-following"),
         "peers": peers_schedule(), "number": n // 100},
        {"name": "DatedBond.yield_at, 30y semi-annual act/act-icma",
         "quelm": lambda: BOND.yield_at(QUOTE, SETTLE),
         "peers": peers_yield(), "number": n // 10},
    ]
