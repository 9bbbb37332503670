"""Rate options: a 5Y x 10Y European swaption and a 10Y cap on 6M Euribor, priced on dual
flat curves, beside QuantLib's BlackSwaptionEngine and BlackCapFloorEngine on the same
schedules and conventions (tests/test_rates.py checks the values agree to 1e-10)."""
from __future__ import annotations

import datetime as dt

import quelm

try:
    import QuantLib as ql
except ImportError:  # the peer is optional
    ql = None

REF = dt.date(2025, 1, 15)
CURVE = quelm.YieldCurve.flat(0.031, reference_date=REF)
DISCOUNT = quelm.YieldCurve.flat(0.027, reference_date=REF)
SWAPTION = quelm.Swaption("5Y", "10Y", 0.032, notional=1e6)
CAP = quelm.CapFloor("cap", "10Y", 0.033, notional=1e6)


def qd(d: dt.date):
    return ql.Date(d.day, d.month, d.year)


def ql_market():
    ql.Settings.instance().evaluationDate = qd(REF)
    proj = ql.YieldTermStructureHandle(ql.FlatForward(qd(REF), 0.031, ql.Actual365Fixed()))
    disc = ql.YieldTermStructureHandle(ql.FlatForward(qd(REF), 0.027, ql.Actual365Fixed()))
    index = ql.IborIndex("quelm-like", ql.Period(6, ql.Months), 2, ql.EURCurrency(), ql.TARGET(),
                         ql.ModifiedFollowing, False, ql.Actual360(), proj)
    return proj, disc, index


def ql_swaption_peers() -> dict:
    if ql is None:
        return {}
    proj, disc, index = ql_market()
    cal = ql.TARGET()
    vol = ql.SimpleQuote(0.2)
    engine = ql.BlackSwaptionEngine(disc, ql.QuoteHandle(vol))

    def build():
        expiry = cal.advance(qd(REF), 5, ql.Years, ql.ModifiedFollowing)
        start = cal.advance(expiry, 2, ql.Days)
        end = start + ql.Period(10, ql.Years)
        fixed = ql.Schedule(start, end, ql.Period(1, ql.Years), cal, ql.ModifiedFollowing, ql.ModifiedFollowing,
                            ql.DateGeneration.Backward, False)
        floating = ql.Schedule(start, end, ql.Period(6, ql.Months), cal, ql.ModifiedFollowing,
                               ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
        swap = ql.VanillaSwap(ql.Swap.Payer, 1e6, fixed, 0.032, ql.Thirty360(ql.Thirty360.BondBasis), floating,
                              index, 0.0, ql.Actual360())
        option = ql.Swaption(swap, ql.EuropeanExercise(expiry))
        option.setPricingEngine(engine)
        return option

    built = build()
    assert abs(built.NPV() - SWAPTION.price(CURVE, 0.2, discount_curve=DISCOUNT)) < 1e-8
    state = {"v": 0.2}

    def reprice():
        state["v"] = 0.4 - state["v"]  # a new vol each call: the engine runs again
        vol.setValue(state["v"])
        return built.NPV()
    return {"QuantLib BlackSwaptionEngine, built per call": lambda: build().NPV(),
            "QuantLib BlackSwaptionEngine, built once, vol moved": reprice}


def ql_cap_peers() -> dict:
    if ql is None:
        return {}
    proj, disc, index = ql_market()
    cal = ql.TARGET()
    engine = ql.BlackCapFloorEngine(disc, ql.QuoteHandle(ql.SimpleQuote(0.2)))

    def build():
        spot = cal.advance(qd(REF), 2, ql.Days)
        sched = ql.Schedule(spot, spot + ql.Period(10, ql.Years), ql.Period(6, ql.Months), cal,
                            ql.ModifiedFollowing, ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
        leg = list(ql.IborLeg([1e6], sched, index, ql.Actual360(), ql.ModifiedFollowing, [2]))[1:]
        cap = ql.Cap(leg, [0.033])
        cap.setPricingEngine(engine)
        return cap.NPV()
    assert abs(build() - CAP.price(CURVE, 0.2, discount_curve=DISCOUNT)) < 1e-7
    return {"QuantLib BlackCapFloorEngine, built per call": build}


def cases(quick: bool) -> list:
    scale = 1 if quick else 5
    return [
        {"name": "Swaption.price, 5Y x 10Y payer, Black, dual curve",
         "quelm": lambda: SWAPTION.price(CURVE, 0.2, discount_curve=DISCOUNT),
         "peers": ql_swaption_peers(), "number": 2000 * scale,
         "note": "quelm lays the swap's schedules out on every call"},
        {"name": "CapFloor.price, 10Y cap on 6M, Black, dual curve",
         "quelm": lambda: CAP.price(CURVE, 0.2, discount_curve=DISCOUNT),
         "peers": ql_cap_peers(), "number": 1000 * scale,
         "note": "19 caplets; quelm lays the schedule out on every call"},
    ]
