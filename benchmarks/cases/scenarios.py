"""Scenario markets: 250 scenarios of a two-curve market (€STR off 30 OIS quotes, Euribor-6M
off a deposit and 29 swaps discounted on €STR), each moving all 60 quotes, rebuilt on the
worker pool by Market.scenarios; beside QuantLib rebuilding the same two curves 250 times
(each quote's SimpleQuote set, then both curves recomputed)."""
from __future__ import annotations

import datetime as dt

import quelm

try:
    import QuantLib as ql
except ImportError:  # the peer is optional
    ql = None

REF = dt.date(2025, 1, 15)
OIS_TENORS = ["1W", "2W", "1M", "2M", "3M", "4M", "5M", "6M", "9M", "1Y", "18M"] + [f"{y}Y" for y in range(2, 16)] + [
    "20Y", "25Y", "30Y", "40Y", "50Y"]
SWAP_YEARS = list(range(1, 26)) + [30, 35, 40, 50]
SCENARIOS = 250


def years(tenor: str) -> float:
    n, unit = int(tenor[:-1]), tenor[-1]
    return n / {"W": 52.0, "M": 12.0, "Y": 1.0}[unit]


def ois_rate(tenor: str) -> float:
    y = min(years(tenor), 30.0)
    return 0.0260 + 0.0003 * y - 0.000007 * y * y


def swap_rate(y: int) -> float:
    return ois_rate(f"{y}Y") + 0.0022


OIS = [quelm.Ois(t, ois_rate(t)) for t in OIS_TENORS]
EURIBOR = [quelm.Deposit("6M", ois_rate("6M") + 0.0020)] + [quelm.Swap(f"{y}Y", swap_rate(y)) for y in SWAP_YEARS]
assert len(OIS) == 30 and len(EURIBOR) == 30
MARKET = quelm.Market.bootstrap(REF, {"eur-estr": OIS, "eur-euribor-6m": (EURIBOR, {"discount_curve": "eur-estr"})})
LABELS = MARKET.quote_labels


def move(k: int, q: int) -> float:
    """Scenario k's move of quote q: a few basis points, different for every quote."""
    return 1e-4 * (((k * 37 + q * 11) % 21) - 10) / 5.0


SHIFTS = [{label: move(k, q) for q, label in enumerate(LABELS)} for k in range(SCENARIOS)]


def ql_peer() -> dict:
    if ql is None:
        return {}
    ref = ql.Date(REF.day, REF.month, REF.year)
    ql.Settings.instance().evaluationDate = ref
    cal = ql.TARGET()
    estr_quotes = [ql.SimpleQuote(ois_rate(t)) for t in OIS_TENORS]
    estr_helpers = [ql.OISRateHelper(2, ql.Period(t), ql.QuoteHandle(q), ql.Estr())
                    for t, q in zip(OIS_TENORS, estr_quotes)]
    estr = ql.PiecewiseLogLinearDiscount(ref, estr_helpers, ql.Actual365Fixed())
    discount = ql.YieldTermStructureHandle(estr)
    index = ql.IborIndex("quelm-like", ql.Period(6, ql.Months), 2, ql.EURCurrency(), cal, ql.ModifiedFollowing,
                         False, ql.Actual360())
    euribor_quotes = [ql.SimpleQuote(ois_rate("6M") + 0.0020)] + [ql.SimpleQuote(swap_rate(y)) for y in SWAP_YEARS]
    euribor_helpers = [ql.DepositRateHelper(ql.QuoteHandle(euribor_quotes[0]), ql.Period(6, ql.Months), 2, cal,
                                            ql.ModifiedFollowing, False, ql.Actual360())]
    euribor_helpers += [ql.SwapRateHelper(ql.QuoteHandle(q), ql.Period(y, ql.Years), cal, ql.Annual,
                                          ql.ModifiedFollowing, ql.Thirty360(ql.Thirty360.BondBasis), index,
                                          ql.QuoteHandle(), ql.Period(0, ql.Days), discount)
                        for y, q in zip(SWAP_YEARS, euribor_quotes[1:])]
    euribor = ql.PiecewiseLogLinearDiscount(ref, euribor_helpers, ql.Actual365Fixed())
    quotes = estr_quotes + euribor_quotes
    # quelm labels the curves in name order: eur-estr's quotes, then eur-euribor-6m's.
    base = [q.value() for q in quotes]

    def rebuild_all():
        ql.Settings.instance().evaluationDate = ref  # other cases move it
        last = None
        for k in range(SCENARIOS):
            for q, (quote, level) in enumerate(zip(quotes, base)):
                quote.setValue(level + move(k, q))
            last = (estr.nodes(), euribor.nodes())  # each bootstrap runs on this first use
        return last
    return {"QuantLib: set 60 SimpleQuotes, recompute both curves, 250 times": rebuild_all}


def cases(quick: bool) -> list:
    return [
        {"name": "Market.scenarios, 250 scenarios of 60 quotes, two curves (€STR + Euribor-6M)",
         "quelm": lambda: MARKET.scenarios(SHIFTS),
         "peers": ql_peer(), "number": 1 if quick else 3,
         "note": "every scenario rebuilds both curves, the projection curve on its own €STR; quelm's in "
                 "parallel on the worker pool; QuantLib's conventions for €STR, so the same work, not the "
                 "same curves"},
        {"name": "Market.shifted, one scenario of 60 quotes, two curves",
         "quelm": lambda: MARKET.shifted(SHIFTS[1]),
         "peers": {}, "number": 20 if quick else 100,
         "note": "the cost of one scenario on the calling thread"},
    ]
