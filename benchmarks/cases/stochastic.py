"""Path simulation and exotic options: quelm vs NumPy time-stepping and pure-Python formulas."""
from __future__ import annotations

import math

import quelm

HESTON = {"mu": 0.05, "kappa": 2.0, "theta": 0.04, "xi": 0.5, "rho": -0.7, "v0": 0.04}
CIR = {"kappa": 1.5, "theta": 0.04, "sigma": 0.1}
GBM = {"mu": 0.05, "sigma": 0.2}


def _ncdf(x):
    return 0.5 * math.erfc(-x / math.sqrt(2.0))


def py_black_scholes_call(s, k, r, v, t, q):
    d1 = (math.log(s / k) + (r - q + v * v / 2) * t) / (v * math.sqrt(t))
    d2 = d1 - v * math.sqrt(t)
    return s * math.exp(-q * t) * _ncdf(d1) - k * math.exp(-r * t) * _ncdf(d2)


def py_down_out_call(s, k, r, v, t, h, q):
    """Down-and-out call with K >= H: vanilla minus the Reiner-Rubinstein knock-in term C."""
    b, sd = r - q, math.sqrt(t) * v
    mu = (b - 0.5 * v * v) / (v * v)
    lam = 1 + mu
    y1 = math.log(h * h / (s * k)) / sd + lam * sd
    dq, dr = math.exp((b - r) * t), math.exp(-r * t)
    knock_in = (h / s) ** (2 * lam) * dq * s * _ncdf(y1) - (h / s) ** (2 * mu) * dr * k * _ncdf(y1 - sd)
    return max(py_black_scholes_call(s, k, r, v, t, q) - knock_in, 0.0)


def py_floating_lookback_call(s, r, v, t, q):
    b = r - q
    dq, dr = math.exp(-q * t), math.exp(-r * t)
    c, h = t * (0.5 * v * v + b), math.sqrt(t) * v
    w, x, g = 2 * b * math.sqrt(t) / v, v * v / (2 * b), math.exp(t * b)
    a1 = c / h
    a2 = a1 - h
    return max(dq * s * _ncdf(a1) - dr * s * _ncdf(a2) + dr * s * x * (_ncdf(w - a1) - g * _ncdf(-a1)), 0.0)


def cases(quick: bool) -> list:
    paths = 20_000 if quick else 100_000
    steps = 100
    out = []
    try:
        import numpy as np
    except ImportError:
        np = None
    try:
        import _quelm_testing as qt
    except ImportError:
        qt = None

    def numpy_terminal(model):
        pairs, dt = paths // 2, 1.0 / steps
        sq = math.sqrt(dt)
        rng = np.random.default_rng(7)
        if model == "gbm":
            x = np.full(pairs, 100.0)
            y = x.copy()
            drift, s = dt * (GBM["mu"] - 0.5 * GBM["sigma"] ** 2), sq * GBM["sigma"]
            for _ in range(steps):
                u = rng.standard_normal(pairs) * s
                x *= np.exp(drift + u)
                y *= np.exp(drift - u)
        elif model == "cir":
            k, th, sg = CIR["kappa"], CIR["theta"], CIR["sigma"]
            x = np.full(pairs, 0.03)
            y = x.copy()
            for _ in range(steps):
                z = rng.standard_normal(pairs)
                px, py_ = np.maximum(x, 0), np.maximum(y, 0)
                x = x + (np.sqrt(px) * sg * sq * z + (th - px) * k * dt)
                y = y + ((th - py_) * k * dt - np.sqrt(py_) * sg * sq * z)
        else:
            p = HESTON
            c = math.sqrt(1 - p["rho"] ** 2)
            x = np.full(pairs, 100.0)
            y = x.copy()
            vx = np.full(pairs, p["v0"])
            vy = vx.copy()
            for _ in range(steps):
                z1, z2 = rng.standard_normal(pairs), rng.standard_normal(pairs)
                zp = p["rho"] * z1 + c * z2
                ux, uy = np.maximum(vx, 0), np.maximum(vy, 0)
                sx, sy = np.sqrt(ux), np.sqrt(uy)
                x = x * np.exp((p["mu"] - 0.5 * ux) * dt + sq * sx * zp)
                y = y * np.exp((p["mu"] - 0.5 * uy) * dt - sq * sy * zp)
                vx = vx + (sx * p["xi"] * sq * z1 + (p["theta"] - ux) * p["kappa"] * dt)
                vy = vy + ((p["theta"] - uy) * p["kappa"] * dt - sy * p["xi"] * sq * z1)
        return float(np.concatenate([x, y]).mean())

    floor_params = {"gbm": [GBM["mu"], GBM["sigma"]], "cir": [CIR["kappa"], CIR["theta"], CIR["sigma"]],
                    "heston": [HESTON[k] for k in ("mu", "kappa", "theta", "xi", "rho", "v0")]}
    for model, kw, x0 in (("gbm", GBM, 100.0), ("cir", CIR, 0.03), ("heston", HESTON, 100.0)):
        def run(model=model, kw=kw, x0=x0):
            return quelm.simulate_process(model, x0=x0, steps=steps, paths=paths, **kw)

        for threads in (1, 2):
            peers = {}
            if threads == 1 and qt is not None:
                peers["bare loop floor"] = (lambda model=model, x0=x0:
                                            qt.terminal_floor(model, floor_params[model], x0, 1.0, steps, paths, 42))
            if np is not None:
                peers["NumPy time-stepping"] = lambda model=model: numpy_terminal(model)
            out.append({"name": f"simulate_process {model} {paths:,}x{steps}, {threads} thread{'s' * (threads > 1)}",
                        "quelm": run, "peers": peers, "threads": threads, "number": 1,
                        "yardsticks": ("bare loop floor",)})

    if np is not None:
        def numpy_asian(n_fix=50):
            pairs, dt = paths // 2, 1.0 / n_fix
            z = np.random.default_rng(3).standard_normal((pairs, n_fix))
            inc = (0.05 - 0.02) * dt + 0.2 * math.sqrt(dt) * np.concatenate([z, -z])
            avg = (100.0 * np.exp(np.cumsum(inc, axis=1))).mean(axis=1)
            return math.exp(-0.05) * np.maximum(avg - 100.0, 0).mean()

        out.append({"name": f"asian_price arithmetic {paths:,} paths x 50 fixings",
                    "quelm": lambda: quelm.asian_price(100.0, 100.0, 0.05, 0.2, 1.0, "call", average="arithmetic",
                                                       paths=paths),
                    "peers": {"NumPy cumulative sums": numpy_asian}, "number": 1})

    number = 2000 if quick else 20000
    out.append({"name": "barrier_price down-out call per call",
                "quelm": lambda: quelm.barrier_price(100.0, 100.0, 0.05, 0.2, 1.0, "call", "down-out", 90.0, 0.01),
                "peers": {"pure Python math": lambda: py_down_out_call(100.0, 100.0, 0.05, 0.2, 1.0, 90.0, 0.01)},
                "number": number})
    out.append({"name": "lookback_price floating call per call",
                "quelm": lambda: quelm.lookback_price(100.0, 100.0, 0.05, 0.2, 1.0, "call", "floating", 0.01),
                "peers": {"pure Python math": lambda: py_floating_lookback_call(100.0, 0.05, 0.2, 1.0, 0.01)},
                "number": number})
    if np is not None:
        out += vec_exotic_cases(np, 100_000 if quick else 1_000_000)
    return out


def vec_exotic_cases(np, n: int) -> list:
    """Books of barrier and lookback options in quelm.vec against the same formulas in NumPy
    with SciPy's normal CDF."""
    try:
        from scipy.special import ndtr
    except ImportError:
        return []
    import quelm.vec as vec

    rng = np.random.default_rng(5)
    s, v, t = rng.uniform(80, 120, n), rng.uniform(0.1, 0.5, n), rng.uniform(0.25, 2.0, n)
    k, r, q = s * rng.uniform(0.95, 1.2, n), 0.05, 0.01
    h = s * rng.uniform(0.7, 0.95, n)  # K >= H: the knock-in is the single term C

    def numpy_black_scholes_call():
        sd = v * np.sqrt(t)
        d1 = (np.log(s / k) + (r - q + v * v / 2) * t) / sd
        return s * np.exp(-q * t) * ndtr(d1) - k * np.exp(-r * t) * ndtr(d1 - sd)

    def numpy_down_out_call():
        b, sd = r - q, np.sqrt(t) * v
        mu = (b - 0.5 * v * v) / (v * v)
        lam = 1 + mu
        y1 = np.log(h * h / (s * k)) / sd + lam * sd
        knock_in = ((h / s) ** (2 * lam) * np.exp((b - r) * t) * s * ndtr(y1)
                    - (h / s) ** (2 * mu) * np.exp(-r * t) * k * ndtr(y1 - sd))
        return np.maximum(numpy_black_scholes_call() - knock_in, 0.0)

    def numpy_floating_lookback_call():
        b = r - q
        c, sd = t * (0.5 * v * v + b), np.sqrt(t) * v
        w, x, g = 2 * b * np.sqrt(t) / v, v * v / (2 * b), np.exp(t * b)
        a1 = c / sd
        a2 = a1 - sd
        return np.maximum(np.exp(-q * t) * s * ndtr(a1) - np.exp(-r * t) * s * ndtr(a2)
                          + np.exp(-r * t) * s * x * (ndtr(w - a1) - g * ndtr(-a1)), 0.0)

    return [
        {"name": f"vec.barrier_price, {n:,} down-and-out calls",
         "quelm": lambda: vec.barrier_price(s, k, r, v, t, "call", "down-out", h, q),
         "peers": {"NumPy + scipy.special.ndtr formula": numpy_down_out_call}, "number": 1},
        {"name": f"vec.lookback_price, {n:,} floating-strike calls",
         "quelm": lambda: vec.lookback_price(s, k, r, v, t, "call", "floating", q),
         "peers": {"NumPy + scipy.special.ndtr formula": numpy_floating_lookback_call}, "number": 1},
    ]
