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

    times = np.random.default_rng(3).uniform(0.25, 30.0, n)  # inside the pillars: no extrapolation
    pillars = np.array([0.25, 0.5, 1.0, 2.0, 3.0, 5.0, 7.0, 10.0, 20.0, 30.0])
    zeros = np.array([0.02, 0.022, 0.025, 0.028, 0.03, 0.032, 0.034, 0.035, 0.036, 0.036])
    curve = quelm.YieldCurve.from_zero_rates(pillars, zeros, interp="natural-cubic")
    spline = CubicSpline(pillars, zeros, bc_type="natural")

    return [
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
