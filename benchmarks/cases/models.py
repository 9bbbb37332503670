"""Forward models, the exact implied vol and American approximations per call: quelm vs
QuantLib where installed, else the same formulas in pure Python / SciPy."""
from __future__ import annotations

import math

import quelm

F, K, R, V, T = 105.0, 100.0, 0.03, 0.25, 0.75


def _ncdf(x):
    return 0.5 * math.erfc(-x / math.sqrt(2.0))


def py_black76(f, k, r, v, t):
    s = v * math.sqrt(t)
    d1 = math.log(f / k) / s + s / 2
    return math.exp(-r * t) * (f * _ncdf(d1) - k * _ncdf(d1 - s))


def cases(quick: bool) -> list:
    number = 2000 if quick else 20000
    price = quelm.black76(F, K, R, V, T, "call")
    black = {"name": "black76 per call", "quelm": lambda: quelm.black76(F, K, R, V, T, "call"),
             "peers": {"pure Python math": lambda: py_black76(F, K, R, V, T)}, "number": number}
    implied = {"name": "black76_implied_volatility per call (rational)",
               "quelm": lambda: quelm.black76_implied_volatility(price, F, K, R, T, "call"),
               "peers": {}, "number": number // 4,
               "note": "quelm reaches the last bits of the quote; peers stop at their tolerance"}
    american = {"name": "american_approximation per call",
                "quelm": lambda: quelm.american_approximation(95.0, K, 0.05, V, T, "put", 0.02),
                "peers": {}, "number": number // 10,
                "note": "quelm = Bjerksund-Stensland 2002; the peers run Barone-Adesi-Whaley"}
    american_baw = {"name": "american_approximation per call (barone-adesi-whaley)",
                    "quelm": lambda: quelm.american_approximation(95.0, K, 0.05, V, T, "put", 0.02,
                                                                  method="barone-adesi-whaley"),
                    "peers": {}, "number": number // 10}
    out = [black, implied, american, american_baw]
    try:
        from scipy.optimize import brentq
        implied["peers"]["SciPy brentq (pure math, xtol 1e-12)"] = lambda: brentq(
            lambda v: py_black76(F, K, R, v, T) - price, 1e-6, 5.0, xtol=1e-12)
    except ImportError:
        pass
    try:
        import QuantLib as ql
    except ImportError:
        ql = None
    if ql is not None:
        df = math.exp(-R * T)
        black["peers"]["QuantLib blackFormula"] = lambda: ql.blackFormula(ql.Option.Call, K, F, V * math.sqrt(T), df)
        implied["peers"]["QuantLib blackFormulaImpliedStdDev"] = lambda: ql.blackFormulaImpliedStdDev(
            ql.Option.Call, K, F, price / df, 1.0)
        today = ql.Date(15, 1, 2024)
        ql.Settings.instance().evaluationDate = today
        dc = ql.Actual365Fixed()
        spot = ql.SimpleQuote(95.0)
        process = ql.BlackScholesMertonProcess(
            ql.QuoteHandle(spot), ql.YieldTermStructureHandle(ql.FlatForward(today, 0.02, dc)),
            ql.YieldTermStructureHandle(ql.FlatForward(today, 0.05, dc)),
            ql.BlackVolTermStructureHandle(ql.BlackConstantVol(today, ql.NullCalendar(), V, dc)))
        option = ql.VanillaOption(ql.PlainVanillaPayoff(ql.Option.Put, K),
                                  ql.AmericanExercise(today, today + int(T * 365)))
        option.setPricingEngine(ql.BaroneAdesiWhaleyApproximationEngine(process))
        turn = [0]

        def ql_baw():
            # A new spot each call forces a new valuation (a quote set to its own value
            # notifies nobody, and the instrument would return its cached NPV), and the
            # evaluation date is set again: other cases move it, and an expired option
            # prices at once.
            ql.Settings.instance().evaluationDate = today
            turn[0] ^= 1
            spot.setValue(95.0 + 1e-9 * turn[0])
            return option.NPV()
        american["peers"]["QuantLib Barone-Adesi-Whaley engine"] = ql_baw
        american_baw["peers"]["QuantLib Barone-Adesi-Whaley engine"] = ql_baw
    try:
        import _quelm_testing as internal
        x = math.log(F / K)
        betas = [internal.normalised_black(-abs(x), 0.05 + 0.002 * i, 1.0) for i in range(1000)]
        out.append({"name": "implied vol core, 1000 inversions in one C loop",
                    "quelm": lambda: internal.implied_normalised_timing(betas, -abs(x), 1.0, 1),
                    "peers": {}, "number": max(1, number // 400),
                    "note": "time per 1000 inversions of the normalised Black price (divide by 1000)"})
    except ImportError:
        pass
    return out
