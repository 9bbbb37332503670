"""quelm.vec: quelm's calls over whole arrays (option chains, books, curves, return panels).

Every function takes the parameters of its scalar twin in ``quelm``, each a scalar or an
array-like; they broadcast together by NumPy's rules. String options (``option_type``,
``style``, ``barrier_type``, ``strike_type``) may be a string or an array of strings.

Element ``i`` of a result has exactly the bits of the scalar call on element ``i``'s inputs.
The elements run on quelm's worker pool without the interpreter lock, and Ctrl-C stops
the call (nothing partial is returned).

Results:

- a float64 ``ndarray`` of the broadcast shape; when every input is a scalar, a Python
  ``float`` (as NumPy's ufuncs return a scalar for scalar inputs);
- ``greeks`` gives a dict of such results keyed ``delta, gamma, vega, theta, rho``;
- pandas in, pandas out: when an input is a ``pandas.Series``, the result is a Series with
  its index (every Series input must carry the same index, else ``ValueError``).

Return panels: ``stats`` and the per-series metrics take a 1-D series (giving what the
scalar call gives, as floats) or a 2-D panel whose series run along ``axis`` (0: one series
per column). A panel gives one value per series: an ``ndarray``, or a ``Series`` indexed by
the columns of a ``DataFrame`` (its rows when ``axis=1``). ``stats`` and ``max_drawdown``
give a dict of float64 arrays keyed as the scalar report (counts and indices as floats,
``None`` as NaN), and a ``DataFrame`` with one column per series and one row per key for a
``DataFrame``. A ``benchmark`` is one series shared by every series, or a panel of the same
layout.

Paths: ``simulate_paths`` returns every path ``simulate_process`` simulates, as a float64
array with one row per path (pairs of antithetic paths, the plus path first) and one column
per time step (column 0 holds ``x0``).

Errors: ``errors="raise"`` (the default) raises ``ValueError`` for the first failing element
in C order, with its index and the scalar call's message (``at index (3,): invalid input:
strike must be > 0``); ``errors="nan"`` puts NaN where the scalar call would raise. A
memory failure or an interrupt always raises. Wrong types (a string where a number is
expected, an unknown option string) raise as the scalar call does, naming the argument.
"""
from __future__ import annotations

try:
    import numpy as np
except ImportError as e:  # pragma: no cover - exercised in a subprocess
    raise ImportError("quelm.vec needs NumPy: pip install numpy") from e

import math
import sys

import quelm

_kernels = sys.modules["quelm._kernels"]

__all__ = [
    "black_scholes", "greeks", "implied_volatility", "binomial", "barrier_price", "lookback_price",
    "discount", "zero_rate", "forward_rate", "bond_price", "bond_yield",
    "stats", "sharpe", "sortino", "max_drawdown", "value_at_risk", "expected_shortfall", "beta",
    "tracking_error", "info_ratio", "simulate_paths",
]

GREEK_KEYS = ("delta", "gamma", "vega", "theta", "rho")


# --- inputs -----------------------------------------------------------------------------

def _is_pandas(x, kind: str) -> bool:
    t = type(x)
    return t.__module__.partition(".")[0] == "pandas" and t.__name__ == kind


def _series_index(values):
    """The index shared by the Series among values (None when there is none)."""
    index = None
    for v in values:
        if _is_pandas(v, "Series"):
            if index is None:
                index = v.index
            elif not index.equals(v.index):
                raise ValueError("Series inputs must share one index")
    return index


def _type_name(a) -> str:
    return type(a.flat[0].item() if a.size else a).__name__


def _real(name: str, x):
    """A float64 array of x, as the scalar call reads a number (str refused)."""
    a = np.asarray(x)
    if a.dtype == np.float64:
        # Data moved between processes (Dask payloads, pickles) can arrive unaligned; the
        # kernels read whole doubles, so such an array is copied once.
        return a if a.flags.aligned else a.copy()
    kind = a.dtype.kind
    if kind in "biuf":
        return a.astype(np.float64)
    if kind == "O":
        out = np.empty(a.shape, dtype=np.float64)
        for i, v in enumerate(a.flat):
            if isinstance(v, (str, bytes)) or v is None:
                raise TypeError(f"argument '{name}': must be real number, not {type(v).__name__}")
            try:
                out.flat[i] = float(v)
            except TypeError:
                raise TypeError(f"argument '{name}': must be real number, not {type(v).__name__}") from None
        return out
    raise TypeError(f"argument '{name}': must be real number, not {_type_name(a)}")


def _count(name: str, x):
    """A uint64 array of x, as the scalar call reads a count."""
    a = np.asarray(x)
    if a.dtype.kind == "O":
        a = np.asarray([v if not isinstance(v, bool) else int(v) for v in a.flat]).reshape(a.shape)
    if a.dtype.kind == "b":
        a = a.astype(np.uint64)
    if a.dtype.kind in "iu":
        if a.dtype.kind == "i" and a.size and a.min() < 0:
            raise OverflowError("can't convert negative int to unsigned")
        return a.astype(np.uint64)
    raise TypeError(f"argument '{name}': '{_type_name(a)}' object cannot be interpreted as an integer")


def _all_str(name: str, a) -> None:
    """TypeError, as the scalar call words it, for the first non-str element in C order."""
    for v in a.flat:
        if not isinstance(v, str):
            raise TypeError(f"argument '{name}': expected str, got {type(v).__name__}")


def _strings(name: str, x, coded: bool = False):
    """x as an array of str (type errors as the scalar call words them)."""
    if isinstance(x, str):
        return x
    # a list keeps its items' types (NumPy would turn ["call", 3] into strings)
    a = x if isinstance(x, np.ndarray) else np.asarray(x, dtype=object)
    if a.dtype.kind == "U":
        return a
    if a.dtype.kind == "O":
        if coded:
            return a  # checked element by element as its codes are read
        _all_str(name, a)
        return a
    raise TypeError(f"argument '{name}': expected str, got {_type_name(a)}")


# A string option rarely takes more than a few distinct values across a chain ("call",
# "put", their spellings): matching each in turn is far quicker than sorting the strings.
_FEW = 8


def _distinct(name: str, a):
    """The distinct values of a flat str array in order of first appearance, and each
    element's position among them; None when there are more than a few."""
    inverse = np.empty(a.size, dtype=np.intp)
    rest = np.arange(a.size)
    values: list = []
    while rest.size:
        if len(values) == _FEW:
            return None
        v = a[rest[0]]
        if not isinstance(v, str):  # the first non-str element in C order
            raise TypeError(f"argument '{name}': expected str, got {type(v).__name__}")
        same = np.asarray(a[rest] == v, dtype=bool)
        inverse[rest[same]] = len(values)
        values.append(str(v))
        rest = rest[~same]
    return values, inverse


def _peel(name: str, x):
    """A str, or an array of str as (distinct values, each element's position, shape); type
    errors as the scalar call words them, for the first offending element in C order."""
    if isinstance(x, str):
        return x
    found = _distinct(name, x.ravel())
    if found is None:
        if x.dtype.kind == "O":
            _all_str(name, x)
        unique, inverse = np.unique(x, return_inverse=True)
        found = [str(u) for u in unique], inverse
    return found[0], found[1], np.shape(x)


def _is_text_series(x) -> bool:
    if not _is_pandas(x, "Series"):
        return False
    import pandas as pd  # present: x is a Series

    # pandas' own string dtypes; an object column is read as its NumPy array (no copy).
    return x.dtype != object and pd.api.types.is_string_dtype(x.dtype)


def _peel_series(name: str, series):
    """_peel for a pandas Series of strings, through pandas' hashing (no copy to objects)."""
    import pandas as pd

    codes, uniques = pd.factorize(series, use_na_sentinel=False)
    values = list(uniques)
    for v in values:  # in order of first appearance, so the first non-str is the first in C order
        if not isinstance(v, str):
            raise TypeError(f"argument '{name}': expected str, got {type(v).__name__}")
    return [str(v) for v in values], codes, series.shape


def _codes(name: str, peeled):
    """The one-byte codes of what _peel gave (the scalar message for an unknown string)."""
    if isinstance(peeled, str):
        return np.frombuffer(_kernels.codes(name, [peeled]), dtype=np.uint8).reshape(())
    values, inverse, shape = peeled
    table = np.frombuffer(_kernels.codes(name, values), dtype=np.uint8)
    return table[inverse].reshape(shape)


def _setting(name: str, x) -> float:
    """A scalar setting (a rate, a level), read as the scalar call reads it."""
    a = _real(name, x)
    if a.ndim:
        raise TypeError(f"argument '{name}': must be real number, not {type(x).__name__}")
    return float(a)


def _check_errors(errors: str) -> bool:
    if errors not in ("raise", "nan"):
        raise ValueError(f"errors must be 'raise' or 'nan', got {errors!r}")
    return errors == "nan"


def _run(kernel: str, params: str, names, values, errors="raise", *, choices=(), keys=None, context=None):
    """Convert values (one per letter of params: d real, Q count, else a string option) in
    order, read the string options in the order `choices` gives, broadcast, run the kernel."""
    nan_mode = _check_errors(errors)
    index = _series_index(values)
    arrays = []
    for letter, name, v in zip(params, names, values):
        if letter not in "dQ" and _is_text_series(v):
            arrays.append(_peel_series(name, v))
            continue
        if _is_pandas(v, "Series"):
            v = v.to_numpy()
        if letter == "d":
            arrays.append(_real(name, v))
        elif letter == "Q":
            arrays.append(_count(name, v))
        else:
            arrays.append(_peel(name, _strings(name, v, coded=True)))
    for name in choices:
        k = names.index(name)
        arrays[k] = _codes(name, arrays[k])
    arrays = np.broadcast_arrays(*arrays)
    shape = arrays[0].shape if arrays else ()
    n_out = len(keys) if keys else 1
    _kernels.check_memory(float(n_out) * float(np.prod(shape, dtype=np.float64)), "the results")
    outs = tuple(np.empty(shape, dtype=np.float64) for _ in range(n_out))
    _kernels.run(kernel, tuple(arrays), outs, int(nan_mode), context)
    results = [_shaped(o, index) for o in outs]
    return dict(zip(keys, results)) if keys else results[0]


def _shaped(out, index):
    if index is not None and out.shape == (len(index),):
        import pandas

        return pandas.Series(out, index=index)
    return float(out) if out.ndim == 0 else out


# --- options ------------------------------------------------------------------------------

_VANILLA = ("spot", "strike", "rate", "vol", "t", "option_type", "dividend_yield")


def black_scholes(spot, strike, rate, vol, t, option_type, dividend_yield=0.0, *, errors="raise"):
    """Black-Scholes-Merton prices of European options (see ``quelm.black_scholes``)."""
    return _run("black_scholes", "dddddod", _VANILLA, (spot, strike, rate, vol, t, option_type, dividend_yield),
                errors, choices=("option_type",))


def greeks(spot, strike, rate, vol, t, option_type, dividend_yield=0.0, *, errors="raise"):
    """Analytic Greeks as a dict of arrays keyed delta, gamma, vega, theta, rho (see ``quelm.greeks``)."""
    return _run("greeks", "dddddod", _VANILLA, (spot, strike, rate, vol, t, option_type, dividend_yield), errors,
                choices=("option_type",), keys=GREEK_KEYS)


def implied_volatility(market_price, spot, strike, rate, t, option_type, dividend_yield=0.0, *, method="newton",
                       errors="raise"):
    """Implied volatilities matching market prices (see ``quelm.implied_volatility``)."""
    return _run("implied_volatility", "dddddodm",
                ("market_price", "spot", "strike", "rate", "t", "option_type", "dividend_yield", "method"),
                (market_price, spot, strike, rate, t, option_type, dividend_yield, method), errors,
                choices=("option_type", "method"))


def binomial(spot, strike, rate, vol, t, option_type, style="european", steps=1000, dividend_yield=0.0, *,
             errors="raise"):
    """CRR binomial prices, European or American (see ``quelm.binomial``)."""
    return _run("binomial", "dddddosQd",
                ("spot", "strike", "rate", "vol", "t", "option_type", "style", "steps", "dividend_yield"),
                (spot, strike, rate, vol, t, option_type, style, steps, dividend_yield), errors,
                choices=("option_type", "style"))


def barrier_price(spot, strike, rate, vol, t, option_type, barrier_type, barrier, dividend_yield=0.0, *,
                  errors="raise"):
    """Continuously monitored single-barrier prices (see ``quelm.barrier_price``)."""
    return _run("barrier_price", "dddddobdd",
                ("spot", "strike", "rate", "vol", "t", "option_type", "barrier_type", "barrier", "dividend_yield"),
                (spot, strike, rate, vol, t, option_type, barrier_type, barrier, dividend_yield), errors,
                choices=("option_type", "barrier_type"))


def lookback_price(spot, strike, rate, vol, t, option_type, strike_type, dividend_yield=0.0, *, errors="raise"):
    """Continuous lookback prices (see ``quelm.lookback_price``)."""
    return _run("lookback_price", "dddddokd",
                ("spot", "strike", "rate", "vol", "t", "option_type", "strike_type", "dividend_yield"),
                (spot, strike, rate, vol, t, option_type, strike_type, dividend_yield), errors,
                choices=("strike_type", "option_type"))


# --- curves and bonds ------------------------------------------------------------------------

def _on(kind, value, name):
    if not isinstance(value, kind):
        raise TypeError(f"argument '{name}': expected {kind.__name__}, got {type(value).__name__}")
    return value


def discount(curve, t, *, errors="raise"):
    """Discount factors of a ``YieldCurve`` at times t."""
    return _run("discount", "d", ("t",), (t,), errors, context=_on(quelm.YieldCurve, curve, "curve"))


def zero_rate(curve, t, *, errors="raise"):
    """Zero rates of a ``YieldCurve`` at times t."""
    return _run("zero_rate", "d", ("t",), (t,), errors, context=_on(quelm.YieldCurve, curve, "curve"))


def forward_rate(curve, t1, t2, *, errors="raise"):
    """Forward rates of a ``YieldCurve`` between t1 and t2."""
    return _run("forward_rate", "dd", ("t1", "t2"), (t1, t2), errors,
                context=_on(quelm.YieldCurve, curve, "curve"))


def bond_price(bond, y, *, errors="raise"):
    """Clean prices of a ``FixedRateBond`` from yields (``bond.clean_price_from_yield``)."""
    return _run("bond_price", "d", ("y",), (y,), errors, context=_on(quelm.FixedRateBond, bond, "bond"))


def bond_yield(bond, clean_price, *, errors="raise"):
    """Yields to maturity of a ``FixedRateBond`` from clean prices (``bond.yield_to_maturity``)."""
    return _run("bond_yield", "d", ("clean_price",), (clean_price,), errors,
                context=_on(quelm.FixedRateBond, bond, "bond"))


# --- return panels --------------------------------------------------------------------------

def _panel(name: str, x, axis: int):
    """(rows: one series per row, contiguous; labels of a DataFrame or None; whether x was a panel)."""
    labels = None
    if _is_pandas(x, "DataFrame"):
        labels = x.columns if axis == 0 else x.index
        x = x.to_numpy()
    elif _is_pandas(x, "Series"):
        x = x.to_numpy()
    a = _real(name, x)
    if a.ndim == 1:
        return np.require(a[np.newaxis, :], requirements=["C", "A"]), None, False
    if a.ndim != 2:
        raise ValueError(f"{name} must be a series (1-D) or a panel (2-D), got {a.ndim} dimensions")
    if axis not in (0, 1, -1, -2):
        raise ValueError(f"axis must be 0 or 1, got {axis!r}")
    return np.require(np.moveaxis(a, axis, -1), requirements=["C", "A"]), labels, True


def _benchmark(x, rows: int, axis: int):
    """The benchmark as a panel with one row per series (a shared series repeats, uncopied)."""
    b, _, is_panel = _panel("benchmark", x, axis)
    return b if is_panel else np.broadcast_to(b, (rows, b.shape[1]))


def _per_series(values, labels, is_panel: bool):
    if not is_panel:
        return float(values[0])
    if labels is not None:
        import pandas

        return pandas.Series(values, index=labels)
    return values


def _metric(metric: str, name: str, series, axis, errors, *, benchmark=None, x=("", 0.0), y=("", 0.0), method=""):
    """One number per series; x and y are (name, value) of the metric's settings."""
    nan_mode = _check_errors(errors)
    rows, labels, is_panel = _panel(name, series, axis)
    bench = None if benchmark is None else _benchmark(benchmark, rows.shape[0], axis)
    out = np.empty(rows.shape[0], dtype=np.float64)
    _kernels.series_metric(metric, rows, bench, _setting(*x), _setting(*y), method, out, int(nan_mode),
                           int(is_panel))
    return _per_series(out, labels, is_panel)


def _table(reports, labels, is_panel: bool, keys):
    """Reports (dicts, None for a failed series) as a dict of float arrays, or a DataFrame."""
    if not is_panel:
        return reports[0]
    table = {k: np.array([math.nan if r is None or r[k] is None else float(r[k]) for r in reports])
             for k in keys}
    if labels is not None:
        import pandas

        return pandas.DataFrame(np.array([table[k] for k in keys]).reshape(len(keys), len(reports)),
                                index=list(keys), columns=labels)
    return table


_REPORT_KEYS = tuple(quelm.stats(returns=[0.01, 0.02]).keys())
_DRAWDOWN_KEYS = tuple(quelm.max_drawdown([1.0, 2.0]).keys())


def stats(returns=None, *, prices=None, values=None, benchmark=None, risk_free=0.0, periods_per_year=252.0,
          confidence=0.95, lag=None, axis=0, errors="raise"):
    """The statistics report of each series (see ``quelm.stats``)."""
    given = [(n, v) for n, v in (("returns", returns), ("prices", prices), ("values", values)) if v is not None]
    if not given:
        raise ValueError("provide exactly one of returns, prices, or values")
    if len(given) > 1:
        raise ValueError("use only one of returns, prices, or values")
    name, series = given[0]
    nan_mode = _check_errors(errors)
    rows, labels, is_panel = _panel(name, series, axis)
    bench = None if benchmark is None else _benchmark(benchmark, rows.shape[0], axis)
    source = ("returns", "prices", "values").index(name)
    reports = _kernels.series_stats(rows, source, bench, _setting("risk_free", risk_free),
                                    _setting("periods_per_year", periods_per_year),
                                    _setting("confidence", confidence), lag, int(nan_mode), int(is_panel))
    return _table(reports, labels, is_panel, _REPORT_KEYS)


def max_drawdown(prices, *, axis=0, errors="raise"):
    """The maximum drawdown of each price series, as a dict of arrays (see ``quelm.max_drawdown``)."""
    nan_mode = _check_errors(errors)
    rows, labels, is_panel = _panel("prices", prices, axis)
    reports = _kernels.series_drawdown(rows, int(nan_mode), int(is_panel))
    return _table(reports, labels, is_panel, _DRAWDOWN_KEYS)


def sharpe(returns, risk_free=0.0, periods_per_year=252.0, *, axis=0, errors="raise"):
    """Annualized Sharpe ratio of each series."""
    return _metric("sharpe", "returns", returns, axis, errors, x=("risk_free", risk_free), y=("periods_per_year", periods_per_year))


def sortino(returns, mar=0.0, periods_per_year=252.0, *, axis=0, errors="raise"):
    """Annualized Sortino ratio of each series."""
    return _metric("sortino", "returns", returns, axis, errors, x=("mar", mar), y=("periods_per_year", periods_per_year))


def value_at_risk(returns, confidence=0.95, method="historical", *, axis=0, errors="raise"):
    """Value-at-Risk (positive loss) of each series."""
    return _metric("value_at_risk", "returns", returns, axis, errors, x=("confidence", confidence), method=_strings("method", method))


def expected_shortfall(returns, confidence=0.95, method="historical", *, axis=0, errors="raise"):
    """Expected Shortfall (positive loss) of each series."""
    return _metric("expected_shortfall", "returns", returns, axis, errors, x=("confidence", confidence),
                   method=_strings("method", method))


def beta(asset, benchmark, *, axis=0, errors="raise"):
    """Beta of each series against the benchmark."""
    return _metric("beta", "asset", asset, axis, errors, benchmark=benchmark)


def tracking_error(portfolio, benchmark, periods_per_year=252.0, *, axis=0, errors="raise"):
    """Annualized tracking error of each series against the benchmark."""
    return _metric("tracking_error", "portfolio", portfolio, axis, errors, benchmark=benchmark, y=("periods_per_year", periods_per_year))


def info_ratio(portfolio, benchmark, periods_per_year=252.0, *, axis=0, errors="raise"):
    """Annualized information ratio of each series against the benchmark."""
    return _metric("info_ratio", "portfolio", portfolio, axis, errors, benchmark=benchmark, y=("periods_per_year", periods_per_year))


# --- simulated paths --------------------------------------------------------------------------

def simulate_paths(process, x0=100.0, t=1.0, steps=100, paths=1000, seed=42, mu=0.05, sigma=0.20, kappa=1.0,
                   theta=0.04, lambda_=0.5, jump_mean=-0.1, jump_std=0.15, v0=0.04, xi=0.30, rho=-0.6):
    """Every simulated path of a process, shape (2 * ceil(paths / 2), steps + 1) (see ``quelm.simulate_process``).

    Rows come in antithetic pairs (the plus path, then the minus path); column k is time
    k * t / steps, column 0 is x0. The last column holds the terminal values that
    ``quelm.simulate_process`` summarises for the same arguments.
    """
    values, rows, cols = _kernels.simulate_paths(process, x0, t, steps, paths, seed, mu, sigma, kappa, theta,
                                                 lambda_, jump_mean, jump_std, v0, xi, rho)
    return np.frombuffer(values, dtype=np.float64).reshape(rows, cols)
