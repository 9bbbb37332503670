"""The mean-variance efficient frontier of the tour's four-stock portfolio, with the
minimum-variance, tangency, target and current portfolios."""
from __future__ import annotations

import numpy as np

import quelm
from tour_parts.portfolio import HOLDINGS, daily_returns

from . import canvas

PERIODS, RF, TARGET = 252, 0.0001, 0.30 / 252  # daily risk-free rate and target return


def point(weights, mean: np.ndarray, cov: np.ndarray) -> tuple[float, float]:
    """(annualised volatility, annualised mean return) of a portfolio of daily returns."""
    w = np.asarray(weights)
    return float(np.sqrt(PERIODS * (w @ cov @ w))), float(PERIODS * (w @ mean))


def frontier(mean: np.ndarray, cov: np.ndarray, targets: np.ndarray) -> np.ndarray:
    """(volatility, return) pairs along the frontier, one closed-form solve per target."""
    return np.array([point(quelm.optimize(mean, cov, RF, float(t))["frontier_weights"], mean, cov)
                     for t in targets])


def figures():
    returns = daily_returns()
    mean = np.array([np.mean(r) for r in returns])
    cov = np.array(quelm.covariance_matrix(returns))
    opt = quelm.optimize(mean, cov, rf=RF, target=TARGET)
    low = point(opt["min_variance_weights"], mean, cov)
    tangent = point(opt["tangency_weights"], mean, cov)
    target = point(opt["frontier_weights"], mean, cov)
    current = point(quelm.allocation([q * price for _, q, _, price in HOLDINGS]), mean, cov)

    span = mean.max() - mean.min()
    curve = frontier(mean, cov, np.linspace(mean.min() - span, mean.max() + 0.8 * span, 161))
    efficient = curve[:, 1] >= low[1]

    fig, (ax,) = canvas.figure("Mean-variance frontier of four stocks (one year of daily returns, short sales allowed)")
    ax.plot(*curve[efficient].T, color="tab:blue", label="efficient frontier")
    ax.plot(*curve[~efficient].T, color="tab:blue", linestyle="--", alpha=0.6, label="inefficient half")
    rf_year = PERIODS * RF
    slope = (tangent[1] - rf_year) / tangent[0]
    vols = np.array([0.0, curve[:, 0].max()])
    ax.plot(vols, rf_year + slope * vols, color="tab:green", linewidth=1.2,
            label=f"capital market line (risk-free {rf_year:.1%}, Sharpe {slope:.2f})")
    for (symbol, *_), alone in zip(HOLDINGS, np.eye(len(HOLDINGS))):
        x, y = point(alone, mean, cov)
        ax.plot(x, y, "o", color="grey", markersize=8)
        ax.annotate(symbol, (x, y), xytext=(8, -14), textcoords="offset points", color="dimgrey")
    for (x, y), marker, colour, label in (
            (low, "*", "tab:orange", "minimum variance"),
            (tangent, "D", "tab:green", "tangency (maximum Sharpe)"),
            (target, "s", "tab:purple", f"target return {PERIODS * TARGET:.0%}"),
            (current, "P", "tab:red", "current holdings")):
        ax.plot(x, y, marker, color=colour, markersize=13, markeredgecolor="black",
                label=f"{label}: {y:.1%} at {x:.1%} vol", zorder=5)
    ax.set_xlim(0.0, curve[:, 0].max() * 1.02)
    ax.set_xlabel("volatility (annualised)")
    ax.set_ylabel("expected return (annualised)")
    canvas.percent(ax, "x", decimals=0)
    canvas.percent(ax, "y", decimals=0)
    ax.legend(loc="upper left")
    yield "efficient_frontier", fig
