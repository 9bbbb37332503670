"""A daily return series seen by its drawdowns (underwater chart) and by rolling risk."""
from __future__ import annotations

import numpy as np
from numpy.lib.stride_tricks import sliding_window_view

import quelm

from . import canvas, elementwise, market

VAR_WINDOW, VOL_WINDOW = 250, 63  # a year and a quarter of trading days
CONFIDENCE, PERIODS = 0.99, 252


def underwater(prices: np.ndarray) -> np.ndarray:
    """Each day's fall from the highest price so far (0 at a new high, negative below it)."""
    return prices / np.maximum.accumulate(prices) - 1.0


def trailing(returns: np.ndarray, window: int, measure) -> np.ndarray:
    """measure(panel of windows, one per row) as a forecast for each day: entry i comes from
    returns[i - window:i], NaN while fewer than `window` days are known."""
    out = np.full(len(returns), np.nan)
    out[window:] = measure(sliding_window_view(returns, window)[:-1])
    return out


def rolling_risk(returns: np.ndarray) -> dict[str, np.ndarray]:
    return {
        "historical_var": trailing(returns, VAR_WINDOW,
                                   lambda p: elementwise.value_at_risk(p, CONFIDENCE, "historical", axis=1)),
        "parametric_var": trailing(returns, VAR_WINDOW,
                                   lambda p: elementwise.value_at_risk(p, CONFIDENCE, "parametric", axis=1)),
        "volatility": trailing(returns, VOL_WINDOW, lambda p: elementwise.stats(
            p, axis=1, periods_per_year=PERIODS)["annualized_volatility"]),
    }


def figures():
    returns, sigma = market.garch_returns()
    dates = market.business_days(len(returns) + 1)
    prices = 100.0 * np.concatenate(([1.0], np.cumprod(1.0 + returns)))
    dd = quelm.max_drawdown(prices)
    peak, trough = dd["peak_index"], dd["trough_index"]

    fig, (top, bottom) = canvas.figure("Drawdowns of a simulated index (GARCH(1,1), Student-t shocks)",
                                       rows=2, sharex=True, height_ratios=[3, 2])
    top.plot(dates, prices, color="tab:blue", linewidth=1.5, label="index level")
    top.plot(dates, np.maximum.accumulate(prices), color="grey", linewidth=1.0, linestyle="--",
             label="running peak")
    top.plot(dates[[peak, trough]], prices[[peak, trough]], "v", color="tab:red", markersize=10,
             label=f"largest drawdown: peak {dates[peak]} to trough {dates[trough]}")
    top.set_ylabel("index level (start = 100)")
    top.set_title(f"{len(returns)} trading days: calm stretches broken by bursts of volatility")
    top.legend(loc="upper left")

    water = underwater(prices)
    bottom.fill_between(dates, water, 0.0, color="tab:red", alpha=0.35, step="post")
    bottom.plot(dates, water, color="tab:red", linewidth=1.0, drawstyle="steps-post", label="drawdown from peak")
    bottom.annotate(f"max drawdown -{dd['max_drawdown']:.1%}", (dates[trough], -dd["max_drawdown"]),
                    xytext=(12, 6), textcoords="offset points", color="tab:red", fontweight="bold")
    bottom.set_ylim(-dd["max_drawdown"] * 1.25, 0.01)
    bottom.set_xlabel("date")
    bottom.set_ylabel("below running peak")
    canvas.percent(bottom, decimals=0)
    bottom.legend(loc="lower left")
    yield "drawdown", fig

    risk = rolling_risk(returns)
    days = dates[1:]  # the day each return, and each forecast of it, belongs to
    scored = ~np.isnan(risk["historical_var"])
    breaches = scored & (returns < -np.nan_to_num(risk["historical_var"]))
    fig, (top, bottom) = canvas.figure("Rolling risk: each day's forecast from the trailing window", rows=2,
                                       sharex=True)
    top.plot(days, returns, color="tab:grey", linewidth=0.7, label="daily return")
    top.plot(days, -risk["historical_var"], color="tab:red",
             label=f"{CONFIDENCE:.0%} VaR (historical, last {VAR_WINDOW} days), drawn as the loss it allows")
    top.plot(days, -risk["parametric_var"], color="tab:purple", linestyle="--",
             label=f"{CONFIDENCE:.0%} VaR (normal fit, last {VAR_WINDOW} days)")
    top.plot(days[breaches], returns[breaches], "x", color="black", markersize=7, markeredgewidth=2,
             label=f"days that lost more than the historical VaR: {breaches.sum()} of {scored.sum()} "
                   f"({breaches.sum() / scored.sum():.1%}, {1 - CONFIDENCE:.0%} expected)")
    top.set_ylabel("one-day return")
    canvas.percent(top, decimals=0)
    top.set_title("Value-at-Risk against the return it had to cover")
    low, high = np.nanmin(returns), np.nanmax(returns)
    top.set_ylim(low - 0.1 * (high - low), high + 0.1 * (high - low))
    # Below the charts, where it hides no return.
    fig.legend(*top.get_legend_handles_labels(), loc="outside lower center", ncols=2, fontsize=10)

    bottom.plot(days, risk["volatility"], color="tab:blue", label=f"rolling {VOL_WINDOW}-day volatility")
    bottom.plot(dates[1:], sigma * np.sqrt(PERIODS), color="black", linewidth=1.0, linestyle=":",
                label="the model's conditional volatility")
    bottom.set_xlabel("date")
    bottom.set_ylabel("volatility (annualised)")
    canvas.percent(bottom, decimals=0)
    bottom.legend(loc="upper right")
    yield "rolling_risk", fig
