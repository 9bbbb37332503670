"""Curves from quotes: bootstrapping 30 deposits and swaps (log-linear, and the global
interpolations), beside QuantLib's PiecewiseLogLinearDiscount on the same quotes and
conventions; the bucketed risk of 1,000 swaps to the 30 quotes; a natural-cubic and a
monotone-convex curve from 2,000 weekly OIS quotes (a global solve of 2,000 pillars), beside
QuantLib's PiecewiseNaturalCubicZero on the same quotes."""
from __future__ import annotations

import datetime as dt
import math

import quelm

try:
    import QuantLib as ql
except ImportError:  # the peer is optional
    ql = None

REF = dt.date(2025, 1, 15)
DEPOSITS = [("1W", 0.0290), ("1M", 0.0295), ("2M", 0.0297), ("3M", 0.0300), ("6M", 0.0305)]
SWAP_YEARS = list(range(1, 21)) + [25, 30, 35, 40, 50]


def swap_rate(y: int) -> float:
    return 0.0300 + 0.0004 * min(y, 30) - 0.000008 * min(y, 30) ** 2


QUOTES = ([quelm.Deposit(t, r) for t, r in DEPOSITS]
          + [quelm.Swap(f"{y}Y", swap_rate(y)) for y in SWAP_YEARS])
assert len(QUOTES) == 30
CURVE = quelm.YieldCurve.bootstrap(REF, QUOTES)
# A book of 1,000 receiver swaps, 1 to 40 years, off-market rates.
BOOK = [quelm.Swap(f"{1 + k % 40}Y", 0.02 + 0.00002 * k, fixed_frequency=1 + (k % 2)) for k in range(1000)]


def strip_rate(w: int) -> float:
    return 0.025 + 0.004 * (1 - math.exp(-w / 300)) + 1e-5 * (w % 7)


STRIP_WEEKS = 2000
STRIP = [quelm.Ois(f"{w}W", strip_rate(w)) for w in range(1, STRIP_WEEKS + 1)]


def ql_strip_peer() -> dict:
    if ql is None:
        return {}
    ref = ql.Date(REF.day, REF.month, REF.year)
    # QuantLib's own ESTR conventions for the quotes (spot lag 2, annual payments): the same
    # work, not the same curve, so the values are not compared.
    helpers = [ql.OISRateHelper(2, ql.Period(w, ql.Weeks), ql.QuoteHandle(ql.SimpleQuote(strip_rate(w))), ql.Estr())
               for w in range(1, STRIP_WEEKS + 1)]

    def build():
        ql.Settings.instance().evaluationDate = ref
        return ql.PiecewiseNaturalCubicZero(ref, helpers, ql.Actual365Fixed()).nodes()
    return {"QuantLib PiecewiseNaturalCubicZero (helpers built once)": build}


def ql_peer() -> dict:
    if ql is None:
        return {}
    ql.Settings.instance().evaluationDate = ql.Date(REF.day, REF.month, REF.year)
    cal = ql.TARGET()
    # quelm's conventions: no end-of-month rule on the index (tests/test_curves_quantlib.py).
    index = ql.IborIndex("quelm-like", ql.Period(6, ql.Months), 2, ql.EURCurrency(), cal, ql.ModifiedFollowing,
                         False, ql.Actual360())
    helpers = [ql.DepositRateHelper(ql.QuoteHandle(ql.SimpleQuote(r)), ql.Period(t), 2, cal, ql.ModifiedFollowing,
                                    False, ql.Actual360()) for t, r in DEPOSITS]
    helpers += [ql.SwapRateHelper(ql.QuoteHandle(ql.SimpleQuote(swap_rate(y))), ql.Period(y, ql.Years), cal,
                                  ql.Annual, ql.ModifiedFollowing, ql.Thirty360(ql.Thirty360.BondBasis), index)
                for y in SWAP_YEARS]
    ref = ql.Date(REF.day, REF.month, REF.year)

    def build():
        ql.Settings.instance().evaluationDate = ref  # other cases move it
        curve = ql.PiecewiseLogLinearDiscount(ref, helpers, ql.Actual365Fixed())
        return curve.nodes()  # the bootstrap runs on first use
    last = build()[-1]
    assert abs(last[1] - CURVE.discount(dt.date(last[0].year(), last[0].month(), last[0].dayOfMonth()))) < 1e-10
    return {"QuantLib PiecewiseLogLinearDiscount (helpers built once)": build}


# Each instrument keeps its layout (dates, periods) for the last trade date it was laid out
# on, so a rebuild on the same date skips the date work. Cycling through trade dates makes
# every call a first build: each instrument is laid out anew.
NEW_DATES = [REF + dt.timedelta(days=k) for k in range(7)]
KEPT = "instruments keep their layout for the trade date between builds"


def first_builds(**options):
    state = {"k": 0}

    def build():
        state["k"] = (state["k"] + 1) % len(NEW_DATES)
        return quelm.YieldCurve.bootstrap(NEW_DATES[state["k"]], QUOTES, **options)
    return build


# 1,000 floating-rate notes on the curve (3M coupons over the curve's forwards, 1 to 40
# years from spot), valued in one book, beside QuantLib's FloatingRateBond on its curve.
SPOT = dt.date(2025, 1, 17)
NOTES = [quelm.FloatingRateNote(SPOT, dt.date(2025 + 1 + k % 40, 1, 17), 0.0005 + 1e-6 * k) for k in range(1000)]
NOTE_BOOK = quelm.Book(NOTES)
NOTE_MARKET = quelm.Market(REF, curves={"eur-euribor": CURVE})


def ql_note_peer() -> dict:
    if ql is None:
        return {}
    ref = ql.Date(REF.day, REF.month, REF.year)
    ql.Settings.instance().evaluationDate = ref
    # The curve itself, as quelm built it (its discount factors at its pillars), so both
    # price the same notes on the same curve.
    pillars = [d for d in CURVE.pillar_dates if d > REF]
    dates = [ref] + [ql.Date(d.day, d.month, d.year) for d in pillars]
    dfs = [1.0] + [CURVE.discount(d) for d in pillars]
    curve = ql.DiscountCurve(dates, dfs, ql.Actual365Fixed())
    curve.enableExtrapolation()
    handle = ql.YieldTermStructureHandle(curve)
    index = ql.IborIndex("quelm-like", ql.Period(3, ql.Months), 2, ql.EURCurrency(), ql.TARGET(),
                         ql.ModifiedFollowing, False, ql.Actual360(), handle)
    engine = ql.DiscountingBondEngine(handle)
    bonds = []
    for k in range(1000):
        start = ql.Date(17, 1, 2025)
        end = ql.Date(17, 1, 2025 + 1 + k % 40)
        schedule = ql.Schedule(start, end, ql.Period(3, ql.Months), ql.TARGET(), ql.ModifiedFollowing,
                               ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
        bond = ql.FloatingRateBond(0, 100.0, schedule, index, ql.Actual360(), ql.ModifiedFollowing, 2, [1.0],
                                   [0.0005 + 1e-6 * k])
        bond.setPricingEngine(engine)
        bonds.append(bond)

    def npv():
        ql.Settings.instance().evaluationDate = ref  # other cases move it
        for b in bonds:  # a new valuation each round, as quelm's
            b.recalculate()
        return sum(b.NPV() for b in bonds)
    ours = NOTE_BOOK.npv(NOTE_MARKET)["total"]
    assert abs(npv() - ours) < 1e-6 * abs(ours), (npv(), ours)  # the same notes, the same value
    return {"QuantLib FloatingRateBond + DiscountingBondEngine, each recalculated": npv}


def cases(quick: bool) -> list:
    scale = 1 if quick else 5
    peer = ql_peer()
    return [
        {"name": "YieldCurve.bootstrap, 30 deposits and swaps, log-linear",
         "quelm": lambda: quelm.YieldCurve.bootstrap(REF, QUOTES),
         "peers": peer, "number": 40 * scale, "note": f"rebuilt on one trade date ({KEPT})"},
        {"name": "YieldCurve.bootstrap, 30 deposits and swaps, log-linear, first build on a new trade date",
         "quelm": first_builds(),
         "peers": peer, "number": 40 * scale, "note": "every call lays its instruments out anew"},
        {"name": "YieldCurve.bootstrap, 30 deposits and swaps, natural-cubic (global solve)",
         "quelm": lambda: quelm.YieldCurve.bootstrap(REF, QUOTES, interp="natural-cubic"),
         "peers": peer, "number": 10 * scale, "note": f"rebuilt on one trade date ({KEPT})"},
        {"name": "YieldCurve.bootstrap, 30 deposits and swaps, natural-cubic, first build on a new trade date",
         "quelm": first_builds(interp="natural-cubic"),
         "peers": peer, "number": 10 * scale, "note": "every call lays its instruments out anew"},
        {"name": "YieldCurve.bootstrap, 30 deposits and swaps, monotone-convex (global solve)",
         "quelm": lambda: quelm.YieldCurve.bootstrap(REF, QUOTES, interp="monotone-convex"),
         "peers": peer, "number": 10 * scale, "note": f"rebuilt on one trade date ({KEPT})"},
        {"name": "YieldCurve.bootstrap, 30 deposits and swaps, monotone-convex, first build on a new trade date",
         "quelm": first_builds(interp="monotone-convex"),
         "peers": peer, "number": 10 * scale, "note": "every call lays its instruments out anew"},
        {"name": "YieldCurve.bootstrap, 2,000 weekly OIS quotes, natural-cubic (global solve)",
         "quelm": lambda: quelm.YieldCurve.bootstrap(REF, STRIP, interp="natural-cubic"),
         "peers": ql_strip_peer(), "number": 2 * scale,
         "note": "Newton steps by GMRES with the Jacobian's products; a dense Jacobian and LU at each step took 13 s"},
        {"name": "YieldCurve.bootstrap, 2,000 weekly OIS quotes, monotone-convex (global solve)",
         "quelm": lambda: quelm.YieldCurve.bootstrap(REF, STRIP, interp="monotone-convex"),
         "peers": {}, "number": 2 * scale, "note": f"rebuilt on one trade date ({KEPT})"},
        {"name": "Book.npv, 1,000 floating-rate notes on one curve",
         "quelm": lambda: NOTE_BOOK.npv(NOTE_MARKET),
         "peers": ql_note_peer(), "number": 2 * scale,
         "note": "3M coupons on the curve's own forwards, laid out anew each call"},
        {"name": "YieldCurve.risk, 1,000 swaps to 30 quotes (one pass)",
         "quelm": lambda: CURVE.risk(BOOK),
         "peers": {}, "number": 2 * scale,
         "note": "exact bucketed risk; bump-and-rebuild would be 60 bootstraps and 60,000 repricings; "
                 "the book's swaps keep their layouts between calls"},
    ]
