"""Realistic-looking inputs for the figures: an option chain quoted to the cent, and a
daily return series with volatility clustering. Seeded, so every run draws the same."""
from __future__ import annotations

import numpy as np

from . import elementwise

SPOT, RATE, DIVIDEND = 100.0, 0.045, 0.015
EXPIRIES = np.array([1, 2, 3, 6, 9, 12, 24]) / 12.0  # years
STRIKES = np.arange(60.0, 150.0 + 1e-9, 2.5)
TICK = 0.01


def model_vol(strike, expiry):
    """An equity-index-like surface: a downward skew in log-moneyness that flattens with
    expiry, a little smile curvature, and an upward-sloping at-the-money term structure."""
    forward = SPOT * np.exp((RATE - DIVIDEND) * expiry)
    k = np.log(strike / forward)
    atm = 0.17 + 0.03 * np.sqrt(expiry)
    skew = -0.11 / np.sqrt(expiry + 0.05)
    return np.maximum(atm + skew * k * 0.5 + 0.35 * k * k / np.sqrt(expiry + 0.1), 0.05)


def chain() -> dict[str, np.ndarray]:
    """The listed grid (expiry rows, strike columns) priced at the model surface and quoted
    as the market does: out-of-the-money side only, rounded to the tick. Wings worth less
    than a tick are not quoted (NaN)."""
    expiry, strike = np.meshgrid(EXPIRIES, STRIKES, indexing="ij")
    forward = SPOT * np.exp((RATE - DIVIDEND) * expiry)
    kind = np.where(strike < forward, "put", "call")
    vol = model_vol(strike, expiry)
    price = elementwise.black_scholes(SPOT, strike, RATE, vol, expiry, kind, DIVIDEND)
    quote = np.round(price / TICK) * TICK
    quote[quote < TICK] = np.nan
    return {"expiry": expiry, "strike": strike, "option_type": kind, "model_vol": vol, "quote": quote}


def implied_from_quotes(c: dict[str, np.ndarray]) -> np.ndarray:
    """The volatilities the quotes imply; NaN where there is no quote or it admits none."""
    return elementwise.implied_volatility(c["quote"], SPOT, c["strike"], RATE, c["expiry"], c["option_type"],
                                          DIVIDEND, errors="nan")


def garch_returns(days: int = 1260, seed: int = 11) -> tuple[np.ndarray, np.ndarray]:
    """Daily returns from a GARCH(1,1) with Student-t shocks, and the conditional volatility
    that drew each one: calm years broken by bursts of turbulence, with fat tails."""
    rng = np.random.default_rng(seed)
    omega, alpha, beta, nu = 2.0e-6, 0.09, 0.89, 5.0
    shocks = rng.standard_t(nu, days) / np.sqrt(nu / (nu - 2.0))
    var = omega / (1.0 - alpha - beta)
    returns, sigma = np.empty(days), np.empty(days)
    for i in range(days):
        sigma[i] = np.sqrt(var)
        returns[i] = 0.0004 + sigma[i] * shocks[i]
        var = omega + alpha * (returns[i] - 0.0004) ** 2 + beta * var
    return returns, sigma


def business_days(n: int, start: str = "2019-01-02") -> np.ndarray:
    return np.busday_offset(np.datetime64(start), np.arange(n), roll="forward")
