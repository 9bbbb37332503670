"""Type information for quelm.vec, the array API (NumPy required)."""
from typing import Any, Literal, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray

from . import (FixedRateBond, YieldCurve, _BarrierType, _Count, _EsMethod, _Float, _ImpliedVolMethod, _OptionType,
               _Process, _Style, _StrikeType, _VarMethod)

# A scalar or anything NumPy reads as an array (lists, arrays, pandas Series).
_Reals = _Float | ArrayLike
_Strings = str | ArrayLike
_Errors = Literal["raise", "nan"]
# An ndarray of the broadcast shape, or a pandas Series when an input is one.
_Array = NDArray[np.float64] | Any
_GreekKey = Literal["delta", "gamma", "vega", "theta", "rho"]

GREEK_KEYS: tuple[str, ...]

@overload
def black_scholes(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
                  dividend_yield: _Float = 0.0, *, errors: _Errors = "raise") -> float: ...
@overload
def black_scholes(spot: _Reals, strike: _Reals, rate: _Reals, vol: _Reals, t: _Reals, option_type: _Strings,
                  dividend_yield: _Reals = 0.0, *, errors: _Errors = "raise") -> _Array: ...
@overload
def greeks(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
           dividend_yield: _Float = 0.0, *, errors: _Errors = "raise") -> dict[_GreekKey, float]: ...
@overload
def greeks(spot: _Reals, strike: _Reals, rate: _Reals, vol: _Reals, t: _Reals, option_type: _Strings,
           dividend_yield: _Reals = 0.0, *, errors: _Errors = "raise") -> dict[_GreekKey, _Array]: ...
@overload
def implied_volatility(market_price: _Float, spot: _Float, strike: _Float, rate: _Float, t: _Float,
                       option_type: _OptionType, dividend_yield: _Float = 0.0, *,
                       method: _ImpliedVolMethod = "newton", errors: _Errors = "raise") -> float: ...
@overload
def implied_volatility(market_price: _Reals, spot: _Reals, strike: _Reals, rate: _Reals, t: _Reals,
                       option_type: _Strings, dividend_yield: _Reals = 0.0, *,
                       method: _Strings = "newton", errors: _Errors = "raise") -> _Array: ...
@overload
def binomial(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
             style: _Style = "european", steps: _Count = 1000, dividend_yield: _Float = 0.0, *,
             errors: _Errors = "raise") -> float: ...
@overload
def binomial(spot: _Reals, strike: _Reals, rate: _Reals, vol: _Reals, t: _Reals, option_type: _Strings,
             style: _Strings = "european", steps: _Count | ArrayLike = 1000, dividend_yield: _Reals = 0.0, *,
             errors: _Errors = "raise") -> _Array: ...
@overload
def barrier_price(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
                  barrier_type: _BarrierType, barrier: _Float, dividend_yield: _Float = 0.0, *,
                  errors: _Errors = "raise") -> float: ...
@overload
def barrier_price(spot: _Reals, strike: _Reals, rate: _Reals, vol: _Reals, t: _Reals, option_type: _Strings,
                  barrier_type: _Strings, barrier: _Reals, dividend_yield: _Reals = 0.0, *,
                  errors: _Errors = "raise") -> _Array: ...
@overload
def lookback_price(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
                   strike_type: _StrikeType, dividend_yield: _Float = 0.0, *, errors: _Errors = "raise") -> float: ...
@overload
def lookback_price(spot: _Reals, strike: _Reals, rate: _Reals, vol: _Reals, t: _Reals, option_type: _Strings,
                   strike_type: _Strings, dividend_yield: _Reals = 0.0, *, errors: _Errors = "raise") -> _Array: ...

def discount(curve: YieldCurve, t: _Reals, *, errors: _Errors = "raise") -> _Array: ...
def zero_rate(curve: YieldCurve, t: _Reals, *, errors: _Errors = "raise") -> _Array: ...
def forward_rate(curve: YieldCurve, t1: _Reals, t2: _Reals, *, errors: _Errors = "raise") -> _Array: ...
def bond_price(bond: FixedRateBond, y: _Reals, *, errors: _Errors = "raise") -> _Array: ...
def bond_yield(bond: FixedRateBond, clean_price: _Reals, *, errors: _Errors = "raise") -> _Array: ...

# Panels: one value per series (a float for a single series, an ndarray, or a pandas
# Series indexed by a DataFrame's columns); reports as a dict of arrays or a DataFrame.
_Axis = Literal[0, 1, -1, -2]

def stats(returns: ArrayLike | None = None, *, prices: ArrayLike | None = None, values: ArrayLike | None = None,
          benchmark: ArrayLike | None = None, risk_free: _Float = 0.0, periods_per_year: _Float = 252.0,
          confidence: _Float = 0.95, lag: _Count | None = None, axis: _Axis = 0,
          errors: _Errors = "raise") -> Any: ...
def max_drawdown(prices: ArrayLike, *, axis: _Axis = 0, errors: _Errors = "raise") -> Any: ...
def sharpe(returns: ArrayLike, risk_free: _Float = 0.0, periods_per_year: _Float = 252.0, *, axis: _Axis = 0,
           errors: _Errors = "raise") -> Any: ...
def sortino(returns: ArrayLike, mar: _Float = 0.0, periods_per_year: _Float = 252.0, *, axis: _Axis = 0,
            errors: _Errors = "raise") -> Any: ...
def value_at_risk(returns: ArrayLike, confidence: _Float = 0.95, method: _VarMethod = "historical", *,
                  axis: _Axis = 0, errors: _Errors = "raise") -> Any: ...
def expected_shortfall(returns: ArrayLike, confidence: _Float = 0.95, method: _EsMethod = "historical", *,
                       axis: _Axis = 0, errors: _Errors = "raise") -> Any: ...
def beta(asset: ArrayLike, benchmark: ArrayLike, *, axis: _Axis = 0, errors: _Errors = "raise") -> Any: ...
def tracking_error(portfolio: ArrayLike, benchmark: ArrayLike, periods_per_year: _Float = 252.0, *,
                   axis: _Axis = 0, errors: _Errors = "raise") -> Any: ...
def info_ratio(portfolio: ArrayLike, benchmark: ArrayLike, periods_per_year: _Float = 252.0, *, axis: _Axis = 0,
               errors: _Errors = "raise") -> Any: ...

# Every simulated path: shape (2 * ceil(paths / 2), steps + 1), antithetic pairs (plus path first).
def simulate_paths(process: _Process, x0: _Float = 100.0, t: _Float = 1.0, steps: _Count = 100, paths: _Count = 1000,
                   seed: _Count = 42, mu: _Float = 0.05, sigma: _Float = 0.20, kappa: _Float = 1.0,
                   theta: _Float = 0.04, lambda_: _Float = 0.5, jump_mean: _Float = -0.1, jump_std: _Float = 0.15,
                   v0: _Float = 0.04, xi: _Float = 0.30, rho: _Float = -0.6) -> NDArray[np.float64]: ...
