"""Array versions of the scalar calls the figures use, one element at a time.

Each function has the name, parameters and result of its twin in the array API
`quelm.vec` (broadcasting like NumPy, `errors="raise"` or `"nan"`, series along `axis`).
That API does not exist yet; when it does, the figures move to it by importing those
twins here instead, and nothing else changes."""
from __future__ import annotations

import math
from typing import Any, Callable

import numpy as np

import quelm

GREEK_KEYS = ("delta", "gamma", "vega", "theta", "rho")


def _each(fn: Callable[..., Any], args: tuple, errors: str, keys: tuple[str, ...] | None = None):
    """fn over the broadcast of args, in C order; a rejected element raises with its index
    or, under errors="nan", leaves NaN."""
    if errors not in ("raise", "nan"):
        raise ValueError(f"errors must be 'raise' or 'nan', got {errors!r}")
    arrays = np.broadcast_arrays(*(np.asarray(a) for a in args))
    shape = arrays[0].shape
    outs = {k: np.full(shape, math.nan) for k in (keys or ("",))}
    for index in np.ndindex(shape):
        try:
            value = fn(*(a[index].item() for a in arrays))
        except ValueError as e:
            if errors == "raise":
                raise ValueError(f"at index {index}: {e}") from None
            continue
        for k, out in outs.items():
            out[index] = value[k] if keys else value
    return outs if keys else outs[""]


def black_scholes(spot, strike, rate, vol, t, option_type, dividend_yield=0.0, *, errors="raise"):
    return _each(quelm.black_scholes, (spot, strike, rate, vol, t, option_type, dividend_yield), errors)


def greeks(spot, strike, rate, vol, t, option_type, dividend_yield=0.0, *, errors="raise"):
    return _each(quelm.greeks, (spot, strike, rate, vol, t, option_type, dividend_yield), errors, GREEK_KEYS)


def implied_volatility(market_price, spot, strike, rate, t, option_type, dividend_yield=0.0, *, errors="raise"):
    return _each(quelm.implied_volatility, (market_price, spot, strike, rate, t, option_type, dividend_yield),
                 errors)


def binomial(spot, strike, rate, vol, t, option_type, style="european", steps=1000, dividend_yield=0.0, *,
             errors="raise"):
    return _each(quelm.binomial, (spot, strike, rate, vol, t, option_type, style, steps, dividend_yield), errors)


def zero_rate(curve, t):
    return _each(curve.zero_rate, (t,), "raise")


def forward_rate(curve, t1, t2):
    return _each(curve.forward_rate, (t1, t2), "raise")


def _per_series(fn: Callable[[np.ndarray], Any], returns, axis: int):
    """fn on each series of a panel, the series running along `axis`."""
    panel = np.moveaxis(np.asarray(returns, dtype=float), axis, -1)
    flat = panel.reshape(-1, panel.shape[-1])
    return [fn(np.ascontiguousarray(row)) for row in flat], panel.shape[:-1]


def value_at_risk(returns, confidence=0.95, method="historical", *, axis=0):
    values, shape = _per_series(lambda r: quelm.value_at_risk(r, confidence, method), returns, axis)
    return np.array(values).reshape(shape)


def stats(returns, *, axis=0, **options):
    """One report per series, as a dict of arrays keyed like the scalar report (None -> NaN)."""
    reports, shape = _per_series(lambda r: quelm.stats(returns=r, **options), returns, axis)
    keys = reports[0].keys() if reports else ()
    return {k: np.array([math.nan if rep[k] is None else rep[k] for rep in reports], dtype=float).reshape(shape)
            for k in keys}
