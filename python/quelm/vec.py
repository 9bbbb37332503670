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

Errors: ``errors="raise"`` (the default) raises ``quelm.ElementError`` (a ``ValueError``) for
the first failing element in C order, with its ``index`` and the scalar call's ``message``
(``at index (3,): invalid input: strike must be > 0``); ``errors="nan"`` puts NaN where the
scalar call would raise. A rejected or missing option string fails its own element only. A
memory failure or an interrupt always raises. Wrong types (a string where a number is
expected) raise as the scalar call does, naming the argument; so does one bad option string
given for every element.
"""
from __future__ import annotations

try:
    import numpy as _np  # noqa: F401 - the array API needs it; say so clearly when it is missing
except ImportError as e:  # pragma: no cover - exercised in a subprocess
    raise ImportError("quelm.vec needs NumPy: pip install numpy") from e

from quelm import _arrays, _declared, _portfolio_panels


def _warn_about_simd() -> None:
    # QUELM_SIMD (scalar, sse2, avx2, avx512) caps the kernels' SIMD width; a value this
    # build or processor cannot follow falls back to the widest it has, with this warning.
    import warnings

    from quelm import _core

    message = _core._simd()[2]
    if message:
        warnings.warn(message, RuntimeWarning, stacklevel=3)


_warn_about_simd()
del _warn_about_simd

globals().update(_arrays.build(__name__))
globals().update(_arrays.build_written(__name__, _arrays, _portfolio_panels))

GREEK_KEYS = _declared.keys("greeks")

__all__ = [*_arrays.build_names(), *_arrays.build_written_names()]


def __dir__():
    return [*__all__, "GREEK_KEYS"]
