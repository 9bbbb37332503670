"""FX options per call: Garman-Kohlhagen beside QuantLib's GarmanKohlagenProcess with its
AnalyticEuropeanEngine, strikes from deltas beside QuantLib's BlackDeltaCalculator, a smile
from five quotes (ATM, 25- and 10-delta risk reversals and market strangles) beside the same
construction solved with SciPy, and a vanna-volga barrier beside QuantLib's
VannaVolgaBarrierEngine."""
from __future__ import annotations

import math

import quelm

try:
    import QuantLib as ql
except ImportError:  # the peer is optional
    ql = None

S, RD, RF, ATM, T = 1.3465, 0.0294, 0.0346, 0.1825, 1.0
DELTAS, RR, BF = (0.25, 0.10), (-0.006, -0.011), (0.0095, 0.032)


def _ql_option_peer():
    day = ql.Date(15, 1, 2026)
    ql.Settings.instance().evaluationDate = day
    dc = ql.Actual365Fixed()
    spot = ql.SimpleQuote(S)
    process = ql.GarmanKohlagenProcess(
        ql.QuoteHandle(spot), ql.YieldTermStructureHandle(ql.FlatForward(day, RF, dc, ql.Continuous)),
        ql.YieldTermStructureHandle(ql.FlatForward(day, RD, dc, ql.Continuous)),
        ql.BlackVolTermStructureHandle(ql.BlackConstantVol(day, ql.NullCalendar(), ATM, dc)))
    option = ql.VanillaOption(ql.PlainVanillaPayoff(ql.Option.Call, 1.35), ql.EuropeanExercise(day + 365))
    option.setPricingEngine(ql.AnalyticEuropeanEngine(process))
    bump = [S, S * (1 + 1e-12)]

    def price():  # a new spot each call, so the engine recomputes
        bump.reverse()
        spot.setValue(bump[0])
        return option.NPV()

    return {"QuantLib AnalyticEuropeanEngine (spot quote moved per call)": price}


def _ql_delta_peer(kind: str):
    qt = {"spot": ql.DeltaVolQuote.Spot, "forward-pa": ql.DeltaVolQuote.PaFwd}[kind]
    calc = ql.BlackDeltaCalculator(ql.Option.Call, qt, S, math.exp(-RD * T), math.exp(-RF * T), ATM * math.sqrt(T))
    return {"QuantLib BlackDeltaCalculator.strikeFromDelta": lambda: calc.strikeFromDelta(0.25)}


def _scipy_smile():
    """The same five-quote smile (spot deltas, DNS ATM, market strangles, vanna-volga on
    consecutive triples) with SciPy's normal distribution and root finder."""
    import numpy as np
    from scipy.optimize import fsolve
    from scipy.stats import norm

    f = S * math.exp((RD - RF) * T)
    df_, dd_ = math.exp(-RF * T), math.exp(-RD * T)
    rt = math.sqrt(T)

    def strike(delta, vol, phi):
        return f * math.exp(-phi * norm.ppf(phi * delta / df_) * vol * rt + vol * vol * T / 2)

    def gk(k, vol, phi):
        d1 = (math.log(f / k) + vol * vol * T / 2) / (vol * rt)
        return phi * dd_ * (f * norm.cdf(phi * d1) - k * norm.cdf(phi * (d1 - vol * rt)))

    def vv(ks, vs, k):
        (k1, k2, k3), (s1, s2, s3) = ks, vs
        l1, l2, l3, lk = np.log([k1, k2, k3, k])
        y1 = (l2 - lk) * (l3 - lk) / ((l2 - l1) * (l3 - l1))
        y2 = (lk - l1) * (l3 - lk) / ((l2 - l1) * (l3 - l2))
        y3 = (lk - l1) * (lk - l2) / ((l3 - l1) * (l3 - l2))
        sd = s2 * rt
        dd = lambda x: (math.log(f) - x) ** 2 / sd ** 2 - sd ** 2 / 4
        a = 2 * s2 * (y1 * s1 + y2 * s2 + y3 * s3 - s2) + y1 * dd(l1) * (s1 - s2) ** 2 + y3 * dd(l3) * (s3 - s2) ** 2
        return s2 + a / (math.sqrt(s2 * s2 + dd(lk) * a) + s2)

    def smile(u):
        pts = [(f * math.exp(ATM * ATM * T / 2), ATM)]
        for d, rr, ss in zip(DELTAS, RR, u):
            vc, vp = ATM + ss + rr / 2, ATM + ss - rr / 2
            pts += [(strike(d, vc, 1), vc), (strike(-d, vp, -1), vp)]
        pts.sort()
        ks, vs = [p[0] for p in pts], [p[1] for p in pts]

        def vol(k):
            j = 0 if k <= ks[1] else (2 if k >= ks[3] else 1)
            return vv(ks[j:j + 3], vs[j:j + 3], k)
        return vol

    legs = []
    for d, bf in zip(DELTAS, BF):
        v = ATM + bf
        kc, kp = strike(d, v, 1), strike(-d, v, -1)
        legs.append((kc, kp, gk(kc, v, 1) + gk(kp, v, -1)))

    def residual(u):
        vol = smile(u)
        return [gk(kc, vol(kc), 1) + gk(kp, vol(kp), -1) - target for kc, kp, target in legs]

    return fsolve(residual, BF, xtol=1e-14)


def _ql_barrier_peer(smile):
    day = ql.Date(15, 1, 2026)
    ql.Settings.instance().evaluationDate = day
    dc = ql.Actual365Fixed()
    v25p, atm, v25c = smile.vols()
    quote = lambda v: ql.QuoteHandle(ql.SimpleQuote(v))
    spot = ql.SimpleQuote(S)
    engine = ql.VannaVolgaBarrierEngine(
        ql.DeltaVolQuoteHandle(ql.DeltaVolQuote(quote(atm), ql.DeltaVolQuote.Spot, 1.0,
                                                ql.DeltaVolQuote.AtmDeltaNeutral)),
        ql.DeltaVolQuoteHandle(ql.DeltaVolQuote(-0.25, quote(v25p), 1.0, ql.DeltaVolQuote.Spot)),
        ql.DeltaVolQuoteHandle(ql.DeltaVolQuote(0.25, quote(v25c), 1.0, ql.DeltaVolQuote.Spot)),
        ql.QuoteHandle(spot), ql.YieldTermStructureHandle(ql.FlatForward(day, RD, dc, ql.Continuous)),
        ql.YieldTermStructureHandle(ql.FlatForward(day, RF, dc, ql.Continuous)), False, 0.0)
    option = ql.BarrierOption(ql.Barrier.DownOut, 1.20, 0.0, ql.PlainVanillaPayoff(ql.Option.Call, 1.35),
                              ql.EuropeanExercise(day + 365))
    option.setPricingEngine(engine)
    bump = [S, S * (1 + 1e-12)]

    def price():
        bump.reverse()
        spot.setValue(bump[0])
        return option.NPV()

    return {"QuantLib VannaVolgaBarrierEngine (spot quote moved per call)": price}


def cases(quick: bool) -> list:
    number = 2000 if quick else 20000
    gk_args = (S, 1.35, RD, RF, ATM, T, "call")
    out = [
        {"name": "garman_kohlhagen per call", "quelm": lambda: quelm.garman_kohlhagen(*gk_args),
         "peers": _ql_option_peer() if ql else {}, "number": number},
        {"name": "fx_strike_from_delta per call, spot delta",
         "quelm": lambda: quelm.fx_strike_from_delta(0.25, S, RD, RF, ATM, T, "call"),
         "peers": _ql_delta_peer("spot") if ql else {}, "number": number},
        {"name": "fx_strike_from_delta per call, forward premium-adjusted delta",
         "quelm": lambda: quelm.fx_strike_from_delta(0.25, S, RD, RF, ATM, T, "call", delta_type="forward-pa"),
         "peers": _ql_delta_peer("forward-pa") if ql else {}, "number": number // 4},
    ]
    smile_peer = {}
    try:
        import scipy  # noqa: F401
        smile_peer = {"SciPy fsolve over the same construction": _scipy_smile}
    except ImportError:
        pass
    out.append({"name": "FxSmile.from_quotes, five quotes (market strangles, vanna-volga)",
                "quelm": lambda: quelm.FxSmile.from_quotes(S, T, RD, RF, ATM, RR, BF, deltas=DELTAS),
                "peers": smile_peer, "number": number // 10,
                "note": "QuantLib has no builder from market strangles; target <= 20 us"})
    smile = quelm.FxSmile.from_quotes(S, T, RD, RF, ATM, RR[0], BF[0], strangle="smile")
    out.append({"name": "FxSmile.barrier_price per call (vanna-volga down-and-out call)",
                "quelm": lambda: smile.barrier_price(1.35, 1.20, "down-out", "call"),
                "peers": _ql_barrier_peer(smile) if ql else {}, "number": number // 10})
    return out
