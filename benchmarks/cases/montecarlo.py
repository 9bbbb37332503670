"""Monte Carlo and the binomial tree vs NumPy vectorised equivalents."""
from __future__ import annotations

import math

import quelm


def cases(quick: bool) -> list:
    try:
        import numpy as np
    except ImportError:
        return []
    paths = 200_000 if quick else 1_000_000
    S, K, r, v, T = 100.0, 100.0, 0.05, 0.2, 1.0

    def numpy_mc():
        z = np.random.default_rng(42).standard_normal(paths // 2)
        drift, diff = (r - 0.5 * v * v) * T, math.sqrt(T) * v
        up, down = S * np.exp(drift + diff * z), S * np.exp(drift - diff * z)
        vals = 0.5 * (np.maximum(up - K, 0) + np.maximum(down - K, 0))
        return math.exp(-r * T) * vals.mean(), vals.std(ddof=1) / math.sqrt(len(vals))

    def numpy_tree(n, american):
        dt = T / n
        u = math.exp(v * math.sqrt(dt))
        d, disc = 1 / u, math.exp(-r * dt)
        p = 0.5 + (r - v * v / 2) * math.sqrt(dt) / (2 * v)
        j = np.arange(n + 1)
        vals = np.maximum(K - S * d**n * (u * u) ** j, 0.0)
        for i in range(n - 1, -1, -1):
            vals = disc * (p * vals[1:i + 2] + (1 - p) * vals[:i + 1])
            if american:
                vals = np.maximum(vals, K - S * d**i * (u * u) ** j[:i + 1])
        return vals[0]

    lsm_paths = 20_000 if quick else 100_000

    def numpy_lsm():
        n, pairs = 50, lsm_paths // 2
        dt = T / n
        z = np.random.default_rng(1).standard_normal((pairs, n))
        inc = (r - 0.5 * v * v) * dt + v * math.sqrt(dt) * np.concatenate([z, -z])
        paths = S * np.exp(np.cumsum(inc, axis=1))
        cash = np.maximum(K - paths[:, -1], 0) * math.exp(-r * T)
        for i in range(n - 2, -1, -1):
            price = paths[:, i]
            itm = np.nonzero(K - price > 0)[0]
            if len(itm) <= 2:
                continue
            x = price[itm] / K
            c = np.polyfit(x, cash[itm], 2)
            ex = (K - price[itm]) * math.exp(-r * (i + 1) * dt)
            better = np.polyval(c, x) < ex
            cash[itm[better]] = ex[better]
        return cash.mean()

    def mc():
        return quelm.monte_carlo(S, K, r, v, T, "call", paths=paths)

    out = []
    try:
        import _quelm_testing

        out.append({"name": f"monte_carlo {paths:,} paths, 1 thread", "quelm": mc, "threads": 1, "number": 3,
                     "peers": {"bare loop floor": lambda: _quelm_testing.mc_floor(S, K, r, v, T, paths, 42),
                               "NumPy antithetic": numpy_mc},
                     "yardsticks": ("bare loop floor",),
                     "note": "floor: the same draws and arithmetic in a plain loop"})
    except ImportError:
        pass
    out.append({"name": f"monte_carlo {paths:,} paths, 2 threads", "quelm": mc, "threads": 2, "number": 3,
                "peers": {"NumPy antithetic": numpy_mc}})
    out.append({"name": f"lsm {lsm_paths:,} paths x 50 steps", "number": 1,
                "quelm": lambda: quelm.lsm(S, K, r, v, T, "put", paths=lsm_paths, steps=50),
                "peers": {"NumPy Longstaff-Schwartz (polyfit)": numpy_lsm}})
    for n in (1000, 2000):
        for style in ("european", "american"):
            out.append({"name": f"binomial {n} steps {style} put",
                        "quelm": lambda n=n, style=style: quelm.binomial(S, K, r, v, T, "put", style=style, steps=n),
                        "peers": {"NumPy backward induction": lambda n=n, style=style: numpy_tree(n, style == "american")},
                        "number": 1 if n == 2000 else 3})
    return out
