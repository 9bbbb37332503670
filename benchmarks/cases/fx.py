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


BOOK_REF = "2026-03-02"
BOOK_TENORS = ["6M", "1Y", "2Y", "3Y", "5Y"]
BOOK_RATES = {"usd-sofr": (0.0431, 0.0422, 0.0405, 0.0395, 0.0388), "eur-estr": (0.0231, 0.0224, 0.0219, 0.0225, 0.0236)}
BOOK_EXPIRY = "2027-03-02"


def _smile_book():
    """100 EURUSD options at one expiry on a smile from five quotes, in a market of two OIS
    curves: the market, the book and each option's strike."""
    quotes = {c: [quelm.Ois(t, r, index=c.split("-")[1]) for t, r in zip(BOOK_TENORS, rs)]
              for c, rs in BOOK_RATES.items()}
    curves = quelm.Market.bootstrap(BOOK_REF, quotes, fx={"EURUSD": S})
    smile = quelm.FxSmile.from_quotes_at(S, BOOK_EXPIRY, curves.curve("usd-sofr"), curves.curve("eur-estr"), ATM,
                                         RR, BF, deltas=DELTAS)
    parts = dict(curves={c: curves.curve(c) for c in BOOK_RATES}, fx={"EURUSD": S})

    def market():  # a new market each time: its smile rebuilt, not taken from the last call's
        return quelm.Market(BOOK_REF, surfaces={"eurusd": smile}, **parts)
    strikes = [1.15 + 0.004 * k for k in range(100)]
    book = quelm.Book([quelm.FxOption("EURUSD", BOOK_EXPIRY, k, "call" if i % 2 else "put", notional=1e6)
                       for i, k in enumerate(strikes)])
    return market, book, smile, strikes


def _ql_smile_book_peer(smile, strikes):
    """QuantLib on the same 100 options: Garman-Kohlhagen (AnalyticEuropeanEngine) over the
    two OIS curves bootstrapped from the same quotes, each option on its own vol quote (the
    smile's vol at its strike: QuantLib builds no smile from market strangles); value and four
    Greeks, then the spot, each of the 10 curve quotes and each vol quote bumped once."""
    ref = ql.Date(2, 3, 2026)
    dc = ql.Actual365Fixed()
    ql.Settings.instance().evaluationDate = ref

    def period(t):
        return ql.Period(int(t[:-1]), ql.Months if t.endswith("M") else ql.Years)
    curve_quotes, handles = [], {}
    for name, index in (("usd-sofr", ql.Sofr()), ("eur-estr", ql.Estr())):
        qs = [ql.SimpleQuote(r) for r in BOOK_RATES[name]]
        curve = ql.PiecewiseLogLinearDiscount(
            ref, [ql.OISRateHelper(2, period(t), ql.QuoteHandle(q), index) for t, q in zip(BOOK_TENORS, qs)], dc)
        curve.enableExtrapolation()
        curve_quotes += qs
        handles[name] = ql.YieldTermStructureHandle(curve)
    spot = ql.SimpleQuote(S)
    expiry = ql.Date(2, 3, 2027)
    options, vols = [], []
    for i, k in enumerate(strikes):
        vol = ql.SimpleQuote(smile.vol(k))
        process = ql.GarmanKohlagenProcess(ql.QuoteHandle(spot), handles["eur-estr"], handles["usd-sofr"],
                                           ql.BlackVolTermStructureHandle(
                                               ql.BlackConstantVol(ref, ql.NullCalendar(), ql.QuoteHandle(vol), dc)))
        o = ql.VanillaOption(ql.PlainVanillaPayoff(ql.Option.Call if i % 2 else ql.Option.Put, k),
                             ql.EuropeanExercise(expiry))
        o.setPricingEngine(ql.AnalyticEuropeanEngine(process))
        options.append(o)
        vols.append(vol)

    def risk():
        ql.Settings.instance().evaluationDate = ref  # other cases move it
        base = [(o.NPV(), o.delta(), o.gamma(), o.vega(), o.theta()) for o in options]
        rows = []
        for q in curve_quotes + [spot]:
            x = q.value()
            q.setValue(x + 1e-4)
            rows.append([o.NPV() - b[0] for o, b in zip(options, base)])
            q.setValue(x)
        for o, v, b in zip(options, vols, base):
            x = v.value()
            v.setValue(x + 1e-4)
            rows.append(o.NPV() - b[0])
            v.setValue(x)
        return base, rows
    return {"QuantLib AnalyticEuropeanEngine on each option's smile vol: value, 4 Greeks, the spot, "
            "10 curve quotes and each vol bumped once": risk}


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
    market, book, five, strikes = _smile_book()
    out.append({"name": "Book.risk, 100 FX options on a five-quote smile in the market",
                "quelm": lambda: book.risk(market()),
                "peers": _ql_smile_book_peer(five, strikes) if ql else {}, "number": 3 if quick else 10,
                "note": "a new market per call; each option's Greeks and its risk to the spot, the 10 curve "
                        "quotes (exact) and the smile's 5 quotes, the smile rebuilt once per bumped input and "
                        "shared by the options; the peer holds each option's vol fixed"})
    return out
