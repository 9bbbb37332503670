"""The array API on whole books and panels: quelm.vec against NumPy/SciPy formulas, pandas,
and Python loops of the scalar calls, on the same inputs (default thread count)."""
from __future__ import annotations

import numpy as np
from scipy.interpolate import CubicSpline
from scipy.special import ndtr

import quelm
import quelm.vec as vec


def book(n: int):
    rng = np.random.default_rng(42)
    spot = rng.uniform(80.0, 120.0, n)
    strike = rng.uniform(80.0, 120.0, n)
    vol = rng.uniform(0.1, 0.5, n)
    t = rng.uniform(0.05, 2.0, n)
    return spot, strike, 0.03, vol, t


def np_black_scholes(s, k, r, v, t):
    sq = v * np.sqrt(t)
    d1 = (np.log(s / k) + (r + 0.5 * v * v) * t) / sq
    d2 = d1 - sq
    return s * ndtr(d1) - k * np.exp(-r * t) * ndtr(d2)


def np_greeks(s, k, r, v, t):
    st = np.sqrt(t)
    sq = v * st
    d1 = (np.log(s / k) + (r + 0.5 * v * v) * t) / sq
    d2 = d1 - sq
    pdf = np.exp(-0.5 * d1 * d1) / np.sqrt(2.0 * np.pi)
    dr = np.exp(-r * t)
    nd2 = ndtr(d2)
    return {"delta": ndtr(d1), "gamma": pdf / (s * sq), "vega": s * pdf * st,
            "theta": -s * pdf * v / (2.0 * st) - r * k * dr * nd2, "rho": k * t * dr * nd2}


def np_newton_iv(price, s, k, r, t, tol=1e-12, max_iter=100):
    """Vectorised Newton with the scalar solver's rule: guess p sqrt(2 pi / t) / s clipped to
    [0.001, 3], stop once |model - price| <= tol, or the vega is below machine epsilon, or the
    step leaves the finite numbers; at most max_iter steps."""
    with np.errstate(all="ignore"):
        v = np.clip(np.sqrt(2.0 * np.pi / t) * price / s, 0.001, 3.0)
        idx = np.arange(price.size)
        for _ in range(max_iter):
            if idx.size == 0:
                break
            si, ki, ti, vi = s[idx], k[idx], t[idx], v[idx]
            st = np.sqrt(ti)
            d1 = (np.log(si / ki) + (r + 0.5 * vi * vi) * ti) / (vi * st)
            diff = si * ndtr(d1) - ki * np.exp(-r * ti) * ndtr(d1 - vi * st) - price[idx]
            vega = si * np.exp(-0.5 * d1 * d1) / np.sqrt(2.0 * np.pi) * st
            going = (np.abs(diff) > tol) & (np.abs(vega) >= 2.220446049250313e-16) & np.isfinite(vi)
            idx = idx[going]
            v[idx] = vi[going] - diff[going] / vega[going]
    return v


def cases(quick: bool) -> list:
    n = 100_000 if quick else 1_000_000
    s, k, r, v, t = book(n)
    price = vec.black_scholes(s, k, r, v, t, "call")
    loop_n = 20_000
    sl, kl, vl, tl = s[:loop_n].tolist(), k[:loop_n].tolist(), v[:loop_n].tolist(), t[:loop_n].tolist()
    f = quelm.black_scholes

    def python_loop():
        for a, b, c, d in zip(sl, kl, vl, tl):
            f(a, b, r, c, d, "call")

    rows, cols = (504, 100) if quick else (2520, 500)
    panel = np.random.default_rng(7).normal(0.0004, 0.012, (rows, cols))
    bench = panel.mean(axis=1)
    columns = [np.ascontiguousarray(panel[:, j]) for j in range(cols)]

    def numpy_metrics():
        mean = panel.mean(axis=0)
        sd = panel.std(axis=0, ddof=1)
        sharpe = mean / sd * np.sqrt(252.0)
        var = -np.quantile(panel, 0.05, axis=0)
        wealth = np.cumprod(1.0 + panel, axis=0)
        dd = (1.0 - wealth / np.maximum.accumulate(wealth, axis=0)).max(axis=0)
        c = np.cov(panel.T, bench)[-1, :-1] / bench.var(ddof=1)
        return sharpe, var, dd, c

    try:
        import pandas as pd

        frame = pd.DataFrame(panel)
        bench_series = pd.Series(bench)

        def pandas_metrics():
            mean, sd = frame.mean(), frame.std()
            wealth = (1.0 + frame).cumprod()
            return (mean / sd * np.sqrt(252.0), -frame.quantile(0.05), (1.0 - wealth / wealth.cummax()).max(),
                    frame.skew(), frame.kurt(), frame.corrwith(bench_series))
        pandas_peer = {"pandas: mean/std/quantile/drawdown/skew/kurt/corr": pandas_metrics}
    except ImportError:
        pandas_peer = {}

    times = np.random.default_rng(3).uniform(0.25, 30.0, n)  # inside the pillars: no extrapolation
    pillars = np.array([0.25, 0.5, 1.0, 2.0, 3.0, 5.0, 7.0, 10.0, 20.0, 30.0])
    zeros = np.array([0.02, 0.022, 0.025, 0.028, 0.03, 0.032, 0.034, 0.035, 0.036, 0.036])
    curve = quelm.YieldCurve.from_zero_rates(pillars, zeros, interp="natural-cubic")
    spline = CubicSpline(pillars, zeros, bc_type="natural")

    return [
        {"name": f"vec.black_scholes, {n:,} options",
         "quelm": lambda: vec.black_scholes(s, k, r, v, t, "call"),
         "peers": {"NumPy + scipy.special.ndtr formula": lambda: np_black_scholes(s, k, r, v, t)},
         "number": 1, "note": "target ratio >= 4"},
        {"name": f"vec.black_scholes vs a Python loop of quelm.black_scholes, {loop_n:,} options",
         "quelm": lambda: vec.black_scholes(s[:loop_n], k[:loop_n], r, v[:loop_n], t[:loop_n], "call"),
         "peers": {"Python loop of quelm.black_scholes": python_loop},
         "number": 5, "note": "target ratio >= 15"},
        {"name": f"vec.implied_volatility, {n:,} options",
         "quelm": lambda: vec.implied_volatility(price, s, k, r, t, "call"),
         "peers": {"vectorised NumPy Newton (same stopping rule)": lambda: np_newton_iv(price, s, k, r, t)},
         "number": 1, "note": "target ratio >= 3; per option and thread <= 250 ns"},
        {"name": f"vec.implied_volatility, {n:,} options, one thread",
         "quelm": lambda: vec.implied_volatility(price, s, k, r, t, "call"),
         "peers": {}, "threads": 1, "number": 1,
         "note": f"time / {n:,} = per-option time on one thread (target <= 250 ns)"},
        {"name": f"vec.greeks, {n:,} options",
         "quelm": lambda: vec.greeks(s, k, r, v, t, "call"),
         "peers": {"NumPy + scipy.special.ndtr formulas": lambda: np_greeks(s, k, r, v, t)},
         "number": 1, "note": "target ratio >= 3"},
        {"name": f"vec.stats, {rows} x {cols} panel with a benchmark",
         "quelm": lambda: vec.stats(returns=panel, benchmark=bench),
         "peers": {"loop of quelm.stats over columns": lambda: [quelm.stats(returns=c, benchmark=bench)
                                                                 for c in columns],
                   "NumPy: sharpe, VaR, drawdown, beta only": numpy_metrics, **pandas_peer},
         "number": 1, "note": "the full report (30 keys) per series against the loop and partial peers"},
        {"name": f"vec.discount, {n:,} times on a natural-cubic curve",
         "quelm": lambda: vec.discount(curve, times),
         "peers": {"SciPy CubicSpline + np.exp": lambda: np.exp(-spline(times) * times)},
         "number": 1, "note": "target ratio >= 5"},
    ]
