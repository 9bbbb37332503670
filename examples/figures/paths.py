"""Fan charts of simulated paths: how each of the six processes spreads out over a year."""
from __future__ import annotations

import numpy as np

from . import canvas, elementwise

T, STEPS, PATHS, SEED, SAMPLES = 1.0, 252, 4000, 11, 5

# (process, panel title, whether the value is a rate, its parameters)
MODELS = (
    ("gbm", "GBM (μ 5%, σ 20%)", False, dict(x0=100.0, mu=0.05, sigma=0.20)),
    ("merton", "Merton jumps (1 a year, -10% ± 15%)", False,
     dict(x0=100.0, mu=0.05, sigma=0.15, lambda_=1.0, jump_mean=-0.10, jump_std=0.15)),
    ("heston", "Heston (v0 = θ = 4%, ξ 0.5, ρ -0.7)", False,
     dict(x0=100.0, mu=0.05, v0=0.04, kappa=2.0, theta=0.04, xi=0.5, rho=-0.7)),
    ("ou", "Ornstein-Uhlenbeck (1% → 4%, κ 1.5)", True, dict(x0=0.01, kappa=1.5, theta=0.04, sigma=0.02)),
    ("vasicek", "Vasicek (5% → 3%, κ 0.8)", True, dict(x0=0.05, kappa=0.8, theta=0.03, sigma=0.015)),
    ("cir", "CIR (2% → 4%, κ 1.2, σ 10%)", True, dict(x0=0.02, kappa=1.2, theta=0.04, sigma=0.10)),
)


def fan(paths: np.ndarray) -> dict[str, np.ndarray]:
    """The 5th, 25th, 50th, 75th and 95th percentiles across paths at each time."""
    q = np.quantile(paths, [0.05, 0.25, 0.5, 0.75, 0.95], axis=0)
    return dict(zip(("p5", "p25", "median", "p75", "p95"), q))


def figures():
    fig, axes = canvas.figure(f"Six processes over one year: quantile fans of {PATHS:,} simulated paths",
                              rows=2, cols=3, sharex=True)
    times = np.linspace(0.0, T, STEPS + 1)
    for ax, (process, title, is_rate, params) in zip(axes, MODELS):
        paths = elementwise.simulate_paths(process, t=T, steps=STEPS, paths=PATHS, seed=SEED, **params)
        f = fan(paths)
        ax.fill_between(times, f["p5"], f["p95"], color="tab:blue", alpha=0.18, linewidth=0, label="5-95%")
        ax.fill_between(times, f["p25"], f["p75"], color="tab:blue", alpha=0.35, linewidth=0, label="25-75%")
        for k in range(SAMPLES):
            ax.plot(times, paths[2 * k], color="tab:grey", linewidth=0.7, alpha=0.8,
                    label="sample paths" if k == 0 else None)
        ax.plot(times, f["median"], color="tab:blue", linewidth=2.2, label="median")
        ax.set_title(title, fontsize=12)
        if is_rate:
            ax.set_ylabel("rate (per year)")
            canvas.percent(ax, decimals=1)
        else:
            ax.set_ylabel("price (currency units)")
        low, high = ax.get_ylim()
        ax.set_ylim(low, high + 0.3 * (high - low))  # room above the fan for the legend
        ax.legend(loc="upper left", fontsize=9, ncols=2)
    for ax in axes[3:]:
        ax.set_xlabel("time (years)")
    yield "path_fans", fig
