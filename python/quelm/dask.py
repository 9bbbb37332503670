"""quelm on Dask: the pieces every user would otherwise write around `quelm.vec`.

- `black_scholes`, `greeks`, `implied_volatility`: price a DataFrame of options (Dask or
  pandas) by column name, partition by partition.
- `stats`: the per-series statistics of a return panel too large for one call, one task per
  block of series.
- `PoolSize`, `pool_sizes`: one quelm pool per worker, sized to that worker's share of the
  cores, and a way to see it.

Every result has the same bits as one `quelm.vec` call on the whole data: the work is per
option or per series, so where a block boundary falls changes nothing.

Needs Dask (`pip install quelm[dask]`); `quelm.vec` is imported on first use.
"""
from __future__ import annotations

import functools
import os
from typing import Any

import numpy as np

try:
    from distributed import WorkerPlugin
except ImportError:  # the frame and panel helpers need only dask itself
    WorkerPlugin = object

__all__ = ["black_scholes", "greeks", "implied_volatility", "stats", "PoolSize", "pool_sizes", "worker_pool_size"]

GREEKS = ("delta", "gamma", "vega", "theta", "rho")
_PRICE_PARAMS = ("spot", "strike", "rate", "vol", "t", "option_type", "dividend_yield")
_IV_PARAMS = ("market_price", "spot", "strike", "rate", "t", "option_type", "dividend_yield")


def _vec():
    import quelm.vec

    return quelm.vec


# --- option books by column name -----------------------------------------------------------


def black_scholes(frame, spot="spot", strike="strike", rate="rate", vol="vol", t="t", option_type="option_type",
                  dividend_yield=0.0, *, errors="raise"):
    """`vec.black_scholes` on each row of `frame`, a Series named ``price`` on its index.

    Each argument names a column of the frame, or is a value used for every row (a string
    that is not a column is an option type, such as ``"call"``). A Dask DataFrame gives a
    lazy Dask Series, a pandas DataFrame a pandas Series. With ``errors="raise"`` the index
    in the message counts rows from the start of the failing partition."""
    return _by_columns(frame, "black_scholes", _PRICE_PARAMS,
                       (spot, strike, rate, vol, t, option_type, dividend_yield), errors)


def greeks(frame, spot="spot", strike="strike", rate="rate", vol="vol", t="t", option_type="option_type",
           dividend_yield=0.0, *, errors="raise"):
    """`vec.greeks` on each row of `frame`: a DataFrame with columns delta, gamma, vega,
    theta and rho on its index (see `black_scholes` for the arguments)."""
    return _by_columns(frame, "greeks", _PRICE_PARAMS,
                       (spot, strike, rate, vol, t, option_type, dividend_yield), errors)


def implied_volatility(frame, market_price="market_price", spot="spot", strike="strike", rate="rate", t="t",
                       option_type="option_type", dividend_yield=0.0, *, errors="raise"):
    """`vec.implied_volatility` on each row of `frame`, a Series named ``implied_volatility``
    (see `black_scholes` for the arguments)."""
    return _by_columns(frame, "implied_volatility", _IV_PARAMS,
                       (market_price, spot, strike, rate, t, option_type, dividend_yield), errors)


def _by_columns(frame, function: str, names: tuple, values: tuple, errors: str):
    columns = set(frame.columns)
    params = []
    for name, value in zip(names, values):
        if isinstance(value, str) and value not in columns and name != "option_type":
            raise KeyError(f"{name}: the frame has no column {value!r}")
        params.append((value in columns) if isinstance(value, str) else False)
    run = functools.partial(_on_partition, function=function, values=values, is_column=tuple(params),
                            errors=errors)
    if hasattr(frame, "map_partitions"):  # a Dask DataFrame; pandas has no such method
        return frame.map_partitions(run, meta=_empty_result(function))
    return run(frame)


def _on_partition(frame, *, function: str, values: tuple, is_column: tuple, errors: str):
    import pandas as pd

    args = [_column(frame[v]) if col else v for v, col in zip(values, is_column)]
    result = getattr(_vec(), function)(*args, errors=errors)
    rows = (len(frame),)
    if function == "greeks":
        return pd.DataFrame({k: np.broadcast_to(result[k], rows) for k in GREEKS}, index=frame.index)
    return pd.Series(np.broadcast_to(result, rows), index=frame.index, name=_result_name(function))


def _column(series) -> np.ndarray:
    # Plain NumPy columns: float64 ones are handed over without a copy, and option types
    # (strings, categoricals, Arrow strings) as an array of str.
    if series.dtype.kind in "biuf":
        return series.to_numpy(dtype=np.float64)
    return series.to_numpy(dtype=str)


def _result_name(function: str) -> str:
    return "price" if function == "black_scholes" else function


def _empty_result(function: str):
    import pandas as pd

    if function == "greeks":
        return pd.DataFrame({k: pd.Series(dtype="float64") for k in GREEKS})
    return pd.Series(dtype="float64", name=_result_name(function))


# --- return panels ---------------------------------------------------------------------------


def stats(returns=None, *, prices=None, values=None, axis: int = 0, **options: Any):
    """`vec.stats` on a 2-D Dask array of series, one task per block of series.

    Give the panel as `returns`, `prices` or `values`, as `vec.stats` takes it, with the
    series along `axis` (each column when ``axis=0``). Blocks across the series are kept;
    each series is gathered into one block first. Other options (`benchmark`, `risk_free`,
    ...) go to every block unchanged. Returns a Dask Delayed whose value is what
    `vec.stats` gives for the whole panel: a dict of arrays, one value per series."""
    import dask

    given = {k: v for k, v in (("returns", returns), ("prices", prices), ("values", values)) if v is not None}
    if len(given) != 1:
        raise TypeError("stats: give exactly one panel, as returns, prices or values")
    (kind, panel), = given.items()
    if panel.ndim != 2:
        raise ValueError(f"stats: the panel must be 2-D, got {panel.ndim}-D")
    blocks = panel.rechunk({axis % 2: -1}).to_delayed().ravel()
    task = dask.delayed(_stats_block, pure=True)
    parts = [task(block, kind, axis, options) for block in blocks]
    return dask.delayed(_join_reports, pure=True)(parts)


def _stats_block(block, kind: str, axis: int, options: dict):
    options = {k: _aligned(v) for k, v in options.items()}
    return _vec().stats(**{kind: _aligned(block)}, axis=axis, **options)


def _aligned(x):
    # An array received from another process (a block moved between workers, a benchmark in
    # a task's payload) can start at any byte offset of the message, and the panel readers
    # take aligned float64 rows only: such an array gets an aligned copy, same values.
    return np.require(x, requirements="A") if isinstance(x, np.ndarray) else x


def _join_reports(parts: list) -> dict:
    return {key: np.concatenate([np.asarray(p[key]).reshape(-1) for p in parts]) for key in parts[0]}


# --- one pool per worker ---------------------------------------------------------------------


class PoolSize(WorkerPlugin):
    """A worker plugin that sizes quelm's pool in every worker, present and future.

    `threads` defaults to the worker's own thread count, which is its share of the machine's
    cores as Dask deals them out (``LocalCluster`` and ``dask worker --nworkers`` divide the
    cores between processes), so P worker processes on C cores run about C quelm threads,
    not P * C. Register it once, before the workers first run quelm::

        client.register_plugin(quelm.dask.PoolSize())

    The size goes to ``RAYON_NUM_THREADS``, which a worker's pool reads when it starts,
    and, when threadpoolctl can see the pool, to the running pool as well."""

    name = "quelm-pool-size"

    def __init__(self, threads: int | None = None):
        if threads is not None and threads < 1:
            raise ValueError("threads must be >= 1")
        self.threads = threads

    def setup(self, worker) -> None:
        threads = self.threads or worker.state.nthreads
        os.environ["RAYON_NUM_THREADS"] = str(threads)
        self._limiter = _limit_running_pool(threads)  # held: the limit lasts as long as the worker


def _limit_running_pool(threads: int):
    controller = _pool_controller()
    return None if controller is None else controller.limit(limits=threads)


def _pool_controller():
    try:
        import threadpoolctl

        import quelm  # noqa: F401  -- the pool is visible to threadpoolctl once quelm is loaded
    except ImportError:
        return None
    controller = threadpoolctl.ThreadpoolController().select(internal_api="quelm")
    return controller if controller.lib_controllers else None


def worker_pool_size() -> int | None:
    """This process's quelm pool size as threadpoolctl reports it, else the
    ``RAYON_NUM_THREADS`` its pool starts with (None: unset, the pool takes every processor
    the process may use)."""
    controller = _pool_controller()
    if controller is not None:
        return controller.info()[0]["num_threads"]
    configured = os.environ.get("RAYON_NUM_THREADS", "")
    return int(configured) if configured.isdecimal() and int(configured) > 0 else None


def pool_sizes(client) -> dict:
    """{worker address: quelm pool size} for every worker of a distributed client."""
    return client.run(worker_pool_size)
