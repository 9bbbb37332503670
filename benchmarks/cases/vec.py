"""The array API on panels and curves: quelm.vec against NumPy/SciPy, pandas and Python
loops of the scalar calls, on the same inputs (default thread count). The option books are
in vanilla.py."""
from __future__ import annotations

import numpy as np
from scipy.interpolate import CubicSpline

import quelm
import quelm.vec as vec


def cases(quick: bool) -> list:
    n = 100_000 if quick else 1_000_000
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

    rng = np.random.default_rng(3)
    times = rng.uniform(0.25, 30.0, n)  # inside the pillars: no extrapolation
    later = times + (30.0 - times) * rng.uniform(0.01, 0.99, n)
    pillars = np.array([0.25, 0.5, 0.75, 1, 1.5, 2, 2.5, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18,
                        19, 20, 22, 24, 26, 28, 30], dtype=float)
    zeros = 0.02 + 0.016 * (1.0 - np.exp(-pillars / 6.0))
    curve = quelm.YieldCurve.from_zero_rates(pillars, zeros, interp="natural-cubic", reference_date="2026-01-15")
    spline = CubicSpline(pillars, zeros, bc_type="natural")
    days = np.datetime64("2026-04-20") + rng.integers(0, 10_000, n).astype("timedelta64[D]")

    def numpy_on_dates():
        t = (days - np.datetime64("2026-01-15")).astype(float) / 365.0
        return np.exp(-spline(t) * t)

    def numpy_forward():
        return (spline(later) * later - spline(times) * times) / (later - times)

    # A 30-year semi-annual 4.5 % bond priced at many yields, against the same sum in NumPy.
    bond = quelm.FixedRateBond.regular(100.0, 0.045, 2, 60)
    flow_t = np.arange(1, 61) / 2.0
    flow_a = np.full(60, 2.25)
    flow_a[-1] += 100.0
    m = n // 10
    ys = rng.uniform(0.0, 0.09, m)

    quotes = rng.uniform(70.0, 130.0, 5000)

    def scipy_yields():
        from scipy.optimize import brentq

        return [brentq(lambda y, q=q: float(np.sum(flow_a * (1.0 + y / 2.0) ** (-2.0 * flow_t))) - q, -0.9, 2.0,
                       xtol=1e-12, maxiter=200) for q in quotes]

    def numpy_bond():
        return ((1.0 + ys[:, None] / 2.0) ** (-2.0 * flow_t) * flow_a).sum(axis=1)

    return [
        {"name": f"vec.stats, {rows} x {cols} panel with a benchmark",
         "quelm": lambda: vec.stats(returns=panel, benchmark=bench),
         "peers": {"loop of quelm.stats over columns": lambda: [quelm.stats(returns=c, benchmark=bench)
                                                                 for c in columns],
                   "NumPy: sharpe, VaR, drawdown, beta only": numpy_metrics, **pandas_peer},
         "number": 1, "note": "the full report (30 keys) per series against the loop and partial peers"},
        {"name": f"vec.discount, {n:,} times on a 30-pillar natural-cubic curve",
         "quelm": lambda: vec.discount(curve, times),
         "peers": {"SciPy CubicSpline + np.exp": lambda: np.exp(-spline(times) * times)},
         "number": 1},
        {"name": f"vec.discount, {n:,} times on a 30-pillar natural-cubic curve, 1 thread",
         "quelm": lambda: vec.discount(curve, times),
         "peers": {"SciPy CubicSpline + np.exp": lambda: np.exp(-spline(times) * times)},
         "number": 1, "threads": 1},
        {"name": f"vec.zero_rate, {n:,} times on a 30-pillar natural-cubic curve",
         "quelm": lambda: vec.zero_rate(curve, times),
         "peers": {"SciPy CubicSpline": lambda: spline(times)},
         "number": 1, "note": "quelm answers -ln P(t)/t, the peer the spline alone"},
        {"name": f"vec.forward_rate, {n:,} periods on a 30-pillar natural-cubic curve",
         "quelm": lambda: vec.forward_rate(curve, times, later),
         "peers": {"SciPy CubicSpline, NumPy formula": numpy_forward},
         "number": 1},
        {"name": f"vec.discount, {n:,} dates on a 30-pillar natural-cubic curve",
         "quelm": lambda: vec.discount(curve, days),
         "peers": {"NumPy act/365f + CubicSpline + np.exp": numpy_on_dates},
         "number": 1},
        {"name": f"vec.bond_price, 30y semi-annual, {m:,} yields",
         "quelm": lambda: vec.bond_price(bond, ys),
         "peers": {"NumPy: flows x yields power sum": numpy_bond},
         "number": 1},
        {"name": "vec.bond_yield, 30y semi-annual, 5,000 clean prices",
         "quelm": lambda: vec.bond_yield(bond, quotes),
         "peers": {"loop of SciPy brentq on a NumPy price": scipy_yields},
         "number": 1},
    ]
