"""Heston, SABR and SVI: quelm against QuantLib where installed, else NumPy/SciPy versions."""
from __future__ import annotations

import math

import quelm

H = dict(v0=0.04, kappa=1.5, theta=0.04, xi=0.5, rho=-0.7)
STRIKES = [70.0 + 1.2 * i for i in range(50)]


def _scipy_heston():
    import numpy as np
    from scipy.integrate import quad

    def price(k, s=100.0, r=0.03, t=1.0):
        v0, kappa, theta, xi, rho = H["v0"], H["kappa"], H["theta"], H["xi"], H["rho"]
        f = s * math.exp(r * t)
        x = math.log(f / k)

        def integrand(u):
            w = complex(u, -0.5)
            beta = kappa - 1j * rho * xi * w
            d = np.sqrt(beta * beta + xi * xi * (w * w + 1j * w))
            g = (beta - d) / (beta + d)
            e = np.exp(-d * t)
            c = kappa * theta / xi ** 2 * ((beta - d) * t - 2 * np.log((1 - g * e) / (1 - g)))
            dd = (beta - d) / xi ** 2 * (1 - e) / (1 - g * e)
            return (np.exp(1j * u * x + c + dd * v0)).real / (u * u + 0.25)
        val = quad(integrand, 0, 200, limit=200)[0]
        return math.exp(-r * t) * (f - math.sqrt(f * k) / math.pi * val)
    return price


def cases(quick: bool) -> list:
    number = 200 if quick else 2000
    out = []
    # Each thread keeps the grids of the last few expiries it priced, so repeating one call
    # would time the strike's sum alone: the per-call case cycles through 8 parameter sets
    # (every call builds its grid), the warm case repeats one.
    sets = [dict(H, v0=H["v0"] * (1.0 + 1e-6 * i)) for i in range(8)]
    turn = [0]

    def cold_price():
        turn[0] = (turn[0] + 1) % 8
        return quelm.heston_price(100.0, 100.0, 0.03, 1.0, "call", **sets[turn[0]])

    heston = {"name": "heston_price per call (T = 1, K = 100)", "quelm": cold_price, "peers": {},
              "number": number, "note": "target <= 10 µs; a new parameter set each call"}
    warm = {"name": "heston_price per call, one expiry's grid kept (K = 100)",
            "quelm": lambda: quelm.heston_price(100.0, 100.0, 0.03, 1.0, "call", **H), "peers": {},
            "number": number * 5, "note": "what each further strike of an expiry costs"}
    calibrate = {"name": "heston_calibrate, 5 expiries x 20 strikes", "quelm": None, "peers": {}, "number": 1}
    chain = None
    try:
        import numpy as np

        strikes = np.array(STRIKES)

        def vec_chain():
            turn[0] = (turn[0] + 1) % 8
            return quelm.vec.heston_price(100.0, strikes, 0.03, 1.0, "call", **sets[turn[0]])

        def scalar_chain():
            turn[0] = (turn[0] + 1) % 8
            return [quelm.heston_price(100.0, k, 0.03, 1.0, "call", **sets[turn[0]]) for k in STRIKES]

        import quelm.vec

        chain = {"name": "Heston chain: 50 strikes, one quelm.vec.heston_price call", "quelm": vec_chain,
                 "peers": {"50 heston_price calls": scalar_chain},
                 "number": max(1, number // 10), "note": "target <= 150 µs; a new parameter set each call"}
    except ImportError:
        pass
    try:
        import QuantLib as ql  # noqa: F401
        sq = ql.SimpleQuote(100.0)
        today = ql.Date(2, 1, 2024)
        ql.Settings.instance().evaluationDate = today
        target = ql.EuropeanOption(ql.PlainVanillaPayoff(ql.Option.Call, 100.0), ql.EuropeanExercise(today + 365))
        # A fresh engine each call: QuantLib caches a priced instrument.
        dc = ql.Actual365Fixed()
        model = ql.HestonModel(ql.HestonProcess(ql.YieldTermStructureHandle(ql.FlatForward(today, 0.03, dc)),
                                                ql.YieldTermStructureHandle(ql.FlatForward(today, 0.0, dc)),
                                                ql.QuoteHandle(sq), H["v0"], H["kappa"], H["theta"], H["xi"],
                                                H["rho"]))

        # Each call sets the evaluation date again: other cases move it, and past the
        # expiry the option prices at once (0) without any integral.
        def ql_price():
            ql.Settings.instance().evaluationDate = today
            target.setPricingEngine(ql.AnalyticHestonEngine(model, 1e-10, 100000))
            return target.NPV()
        heston["peers"]["QuantLib AnalyticHestonEngine"] = ql_price
        # QuantLib on a fixed 64-node Gauss-Laguerre rule: faster, its accuracy not controlled.
        fast_engine = ql.AnalyticHestonEngine(model, 64)

        def ql_fixed():
            ql.Settings.instance().evaluationDate = today
            target.setPricingEngine(fast_engine)
            sq.setValue(100.0 + 1e-9 * turn[0])  # a new spot forces a new valuation
            turn[0] = (turn[0] + 1) % 8
            return target.NPV()
        heston["peers"]["QuantLib AnalyticHestonEngine (Gauss-Laguerre, 64 nodes)"] = ql_fixed
    except ImportError:
        price = _scipy_heston()
        heston["peers"]["SciPy quad"] = lambda: price(100.0)
    out += [heston, warm, calibrate]
    if chain is not None:
        out.append(chain)

    truth = dict(v0=0.045, kappa=1.8, theta=0.065, xi=0.7, rho=-0.65)
    ks = [70.0 + 60.0 * i / 19 for i in range(20)] * 5
    ts = [t for t in (0.25, 0.5, 1.0, 1.5, 2.5) for _ in range(20)]
    quotes = [quelm.heston_price(100.0, k, 0.02, t, "call", **truth) for k, t in zip(ks, ts)]
    calibrate.update({"name": "heston_calibrate, 5 expiries x 20 strikes",
                      "quelm": lambda: quelm.heston_calibrate(100.0, ks, ts, quotes, 0.02), "number": 1,
                      "note": "target <= 1 s"})

    sabr = {"name": "sabr_vol per call", "quelm": lambda: quelm.sabr_vol(0.03, 0.035, 2.0, 0.035, 0.5, -0.25, 0.45),
            "peers": {"quelm.black_scholes (the 2x yardstick)":
                      lambda: quelm.black_scholes(100.0, 105.0, 0.05, 0.2, 1.0, "call")},
            "number": number * 10, "note": "target: within 2x of black_scholes",
            "yardsticks": ("quelm.black_scholes (the 2x yardstick)",)}
    try:
        import QuantLib as ql
        sabr["peers"]["QuantLib sabrVolatility"] = lambda: ql.sabrVolatility(0.035, 0.03, 2.0, 0.035, 0.5, 0.45, -0.25)
    except ImportError:
        pass
    out.append(sabr)

    svi = dict(a=0.02, b=0.1, rho=-0.4, m=0.05, sigma=0.2)
    strikes = [60.0 + 5.0 * i for i in range(17)]
    vols = [quelm.svi_vol(100.0, k, 1.0, **svi) for k in strikes]
    peer = {}
    try:
        import numpy as np
        from scipy.optimize import least_squares
        kk = np.log(np.array(strikes) / 100.0)
        w = np.array(vols) ** 2

        def scipy_svi():
            f = lambda p: p[0] + p[1] * (p[2] * (kk - p[3]) + np.sqrt((kk - p[3]) ** 2 + p[4] ** 2)) - w
            return least_squares(f, [0.01, 0.05, 0.0, 0.0, 0.1],
                                 bounds=([-1, 0, -0.999, -1, 1e-4], [1, 5, 0.999, 1, 2])).x
        peer["SciPy least_squares (5 parameters)"] = scipy_svi
    except ImportError:
        pass
    out.append({"name": "svi_calibrate, one slice of 17 strikes",
                "quelm": lambda: quelm.svi_calibrate(100.0, strikes, vols, 1.0), "peers": peer,
                "number": max(1, number // 10), "note": "target <= 2 ms"})
    return out
