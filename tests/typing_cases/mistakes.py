"""Typical mistakes, one a line, each marked by a trailing comment that starts with
"wrong": every one must be reported on its own line, and nothing else may be. A bare mark
also fails at run time; a mark with a reason after a colon is wrong to the checkers only."""
from __future__ import annotations

import numpy as np
import pandas as pd

import quelm
from quelm import vec

returns = pd.Series(np.random.default_rng(1).normal(0.0003, 0.01, 500))
panel = np.random.default_rng(3).normal(0.0004, 0.012, (3, 250))
frame = pd.DataFrame(panel.T, columns=["a", "b", "c"])
words = pd.Series(["0.01", "0.02"])
curve = quelm.YieldCurve.flat(0.04)

quelm.binomial(100, 100, 0.05, 0.2, 1.0, "put", style="amercan")  # wrong
quelm.value_at_risk(returns, 0.99, "histrical")  # wrong
quelm.expected_shortfall(returns, 0.99, "cornish-fisher")  # wrong
quelm.black_scholes("100", 105, 0.05, 0.2, 1.0, "call")  # wrong
quelm.black_scholes(100, 105, 0.05, 0.2, 1.0)  # wrong
quelm.black_scholes(100, 105, 0.05, 0.2, 1.0, "straddle")  # wrong
quelm.black_scholes(100, 105, 0.05, 0.2, 1.0, "call", dividend=0.01)  # wrong
quelm.implied_volatility(10.0, 100, 100, 0.05, 0.2, 1.0, "call")  # wrong
quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, "call", paths=1e5)  # wrong
quelm.barrier_price(100, 100, 0.05, 0.25, 1.0, "call", "down-and-out", 90)  # wrong
quelm.lookback_price(100, 100, 0.05, 0.25, 1.0, "call", "floating-strike")  # wrong
quelm.asian_price(100, 100, 0.05, 0.25, 1.0, "call", average="harmonic")  # wrong
quelm.simulate_process("brownian")  # wrong
quelm.american_ml(100, 100, 0.05, 0.2, 1.0, method="DOS")  # wrong
quelm.YieldCurve.from_zero_rates([1.0, 2.0], [0.04, 0.05], interp="spline")  # wrong
quelm.stats(returns="0.01 0.02 -0.01")  # wrong
quelm.sharpe(words)  # wrong
quelm.covariance_matrix(frame)  # wrong
quelm.covariance_matrix([0.01, 0.02, 0.03])  # wrong
quelm.allocation({100.0, 200.0})  # wrong
quelm.optimize([0.01, 0.02], [[0.1, 0.0], [0.0, 0.1]], target="0.015")  # wrong
quelm.acf(returns, 2.5)  # wrong
quelm.FixedRateBond.regular(100, 0.04, 2)  # wrong
curve.discount([1.0, 2.0])  # wrong: one time or date, not a list
delta: float = quelm.price(100, 100, 0.05, 0.2, 1.0, "call")["delta"]  # wrong
vanna = quelm.greeks(100, 100, 0.05, 0.2, 1.0, "call")["vanna"]  # wrong
sharpe: float = quelm.stats(returns=returns)["sharpe"]  # wrong: may be None
label: int = quelm.black_scholes(100, 105, 0.05, 0.2, 1.0, "call")  # wrong: a float

vec.black_scholes(100.0, [90.0, 110.0], 0.05, 0.2, 1.0, "cal")  # wrong
vec.binomial(100.0, [90.0, 110.0], 0.05, 0.2, 1.0, "put", style="bermudan")  # wrong
grid: float = vec.black_scholes(100.0, np.linspace(80, 120, 9), 0.05, 0.2, 1.0, "call")  # wrong: an array
vec.black_scholes(100.0, 90.0, 0.05, 0.2, 1.0, "call", errors="ignore")  # wrong
labelled: np.ndarray = vec.black_scholes(100.0, returns + 100.0, 0.05, 0.2, 1.0, "call")  # wrong: a Series
quelm.Ois("5Y")  # wrong
quelm.Deposit("3M", 0.04, "act/360")  # wrong
quelm.Calendar("uk", "us")  # wrong
quelm.Market("2025-01-02", {"usd-sofr": curve})  # wrong
quelm.Market("2025-01-02", curves={"usd-sofr": 0.04})  # wrong
quelm.Market("2025-01-02", fx={"EURUSD": "1.04"})  # wrong
