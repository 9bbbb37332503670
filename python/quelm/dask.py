"""quelm on Dask: the pieces every user would otherwise write around `quelm.vec`.

- `black_scholes`, `greeks`, `implied_volatility`: price a DataFrame of options (Dask or
  pandas) by column name, partition by partition (`column` names one explicitly).
- `stats`: the per-series statistics of a return panel too large for one call, one task per
  block of series.
- `book_scenarios`: a book's scenario P&L (`Book.scenario`), a chunk of scenarios per task,
  the book and the market shipped once to each worker.
- `PoolSize`, `pool_sizes`: one quelm pool per worker, sized to that worker's share of the
  cores, and a way to see it.

Every result has the same bits as one `quelm.vec` call (or one `Book.scenario` call) on the
whole data: the work is per option, per series or per scenario, so where a block boundary
falls changes nothing.

Needs Dask (`pip install quelm[dask]`); `quelm.vec` is imported on first use.
"""
from __future__ import annotations

import functools
import os
from typing import Any

import numpy as np

from quelm import _declared

try:
    from distributed import WorkerPlugin
except ImportError:  # the frame and panel helpers need only dask itself
    WorkerPlugin = object

__all__ = ["black_scholes", "greeks", "implied_volatility", "column", "stats", "book_scenarios", "PoolSize",
           "pool_sizes", "worker_pool_size"]

GREEKS = _declared.keys("greeks")


def _vec():
    import quelm.vec

    return quelm.vec


# --- option books by column name -----------------------------------------------------------


class column:
    """A column of the frame, named explicitly: ``option_type=quelm.dask.column("right")``.

    Needed only for ``option_type``, whose plain strings are option types; every other
    parameter reads a plain string as a column name."""

    __slots__ = ("name",)

    def __init__(self, name):
        self.name = name

    def __repr__(self) -> str:
        return f"column({self.name!r})"


_ARGUMENTS_DOC = """
    Each parameter is read the same way:

    - not given (None): the frame's column of the parameter's own name (``spot``,
      ``option_type``, ...); without such a column, the default of the ``quelm.vec``
      function (``dividend_yield`` 0.0), or ``KeyError`` for a required one;
    - a column: ``column("name")``, or a pandas/Dask Series on the frame's index; for
      every parameter but ``option_type``, a plain string names a column too;
    - anything else is one value for every row: a number, or for ``option_type`` a string
      such as ``"call"`` (never a column name, even when the frame has a column of that name).

    A name that is not a column raises ``KeyError`` before anything runs. Numeric columns
    may hold any dtype ``quelm.vec`` reads, ``Decimal`` objects included."""


def _by_name(function: str):
    """`function(frame, <the vec function's positional parameters>=None, *, errors="raise")`: its
    parameters read by column name, as _ARGUMENTS_DOC says."""
    names = _declared.positional(function)
    texts = ["frame", *(f"{n}=None" for n in names), "*", 'errors="raise"']
    call = f"_by_columns(frame, {function!r}, {names!r}, ({', '.join(names)},), errors)"
    return _declared.define(function, texts, call, globals())  # as if written in this module


black_scholes = _by_name("black_scholes")
greeks = _by_name("greeks")
implied_volatility = _by_name("implied_volatility")
black_scholes.__doc__ = """`vec.black_scholes` on each row of `frame`, a Series named ``price`` on its index.

    A Dask DataFrame gives a lazy Dask Series, a pandas DataFrame a pandas Series. With
    ``errors="raise"`` the index in the message counts rows from the start of the failing
    partition.
""" + _ARGUMENTS_DOC
greeks.__doc__ = """`vec.greeks` on each row of `frame`: a DataFrame with columns delta, gamma, vega,
    theta and rho on its index.
""" + _ARGUMENTS_DOC
implied_volatility.__doc__ = """`vec.implied_volatility` on each row of `frame`, a Series named
    ``implied_volatility`` on its index.
""" + _ARGUMENTS_DOC


def _is_series(x) -> bool:
    t = type(x)
    return t.__name__ == "Series" and t.__module__.partition(".")[0] in ("pandas", "dask")


def _by_columns(frame, function: str, names: tuple, values: tuple, errors: str):
    columns = set(frame.columns)
    defaults = _declared.defaults(function)  # where the frame has no column of the name
    texts = _declared.of_kind(function, "option")  # a plain string is a value, never a column
    lazy = hasattr(frame, "map_partitions")  # a Dask DataFrame; pandas has no such method
    plan = []  # per parameter: ("column", name) or ("value", v)
    extra = {}
    for name, value in zip(names, values):
        if value is None:
            if name in columns:
                plan.append(("column", name))
            elif name in defaults:
                plan.append(("value", defaults[name]))
            else:
                raise KeyError(f"{name}: the frame has no column {name!r}; give {name}= a column or a value")
        elif isinstance(value, column) or (isinstance(value, str) and name not in texts):
            label = value.name if isinstance(value, column) else value
            if label not in columns:
                raise KeyError(f"{name}: the frame has no column {label!r}")
            plan.append(("column", label))
        elif _is_series(value):
            if not lazy and not value.index.equals(frame.index):
                raise ValueError(f"{name}: a Series argument must have the frame's index")
            label = f"__quelm_{name}"
            extra[label] = value
            plan.append(("column", label))
        else:
            plan.append(("value", value))
    if extra:
        frame = frame.assign(**extra)  # aligned partition by partition on a Dask frame
    run = functools.partial(_on_partition, function=function, plan=tuple(plan), errors=errors)
    if lazy:
        return frame.map_partitions(run, meta=_empty_result(function))
    return run(frame)


def _on_partition(frame, *, function: str, plan: tuple, errors: str):
    import pandas as pd

    # Columns go to quelm.vec as Series: it reads each dtype as it documents (float64 without
    # a copy, Decimal and other number objects one by one, pandas' string dtypes by hashing).
    args = [frame[v] if kind == "column" else v for kind, v in plan]
    result = getattr(_vec(), function)(*args, errors=errors)
    rows = (len(frame),)
    if function == "greeks":
        return pd.DataFrame({k: np.broadcast_to(np.asarray(result[k], dtype=np.float64), rows) for k in GREEKS},
                            index=frame.index)
    return pd.Series(np.broadcast_to(np.asarray(result, dtype=np.float64), rows), index=frame.index,
                     name=_result_name(function))


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
    each series is gathered into one block first. A `benchmark` is one series shared by
    every series, or a panel of the same shape (a Dask or NumPy array), split into the same
    blocks; other options (`risk_free`, ...) go to every block unchanged. Returns a Dask
    Delayed whose value is what `vec.stats` gives for the whole panel: a dict of arrays, one
    value per series."""
    import dask
    import dask.array as da

    given = {k: v for k, v in (("returns", returns), ("prices", prices), ("values", values)) if v is not None}
    if len(given) != 1:
        raise TypeError("stats: give exactly one panel, as returns, prices or values")
    (kind, panel), = given.items()
    if panel.ndim != 2:
        raise ValueError(f"stats: the panel must be 2-D, got {panel.ndim}-D")
    panel = panel.rechunk({axis % 2: -1})
    blocks = panel.to_delayed().ravel()
    benchmark = options.pop("benchmark", None)
    if benchmark is not None and np.ndim(benchmark) == 2:
        if tuple(benchmark.shape) != tuple(panel.shape):
            raise ValueError(f"stats: a panel benchmark must have the panel's shape {tuple(panel.shape)}, "
                             f"got {tuple(benchmark.shape)}")
        benchmarks = list(da.asarray(benchmark).rechunk(panel.chunks).to_delayed().ravel())
    else:
        benchmarks = [benchmark] * len(blocks)
    task = dask.delayed(_stats_block, pure=True)
    parts = [task(block, kind, axis, bench, options) for block, bench in zip(blocks, benchmarks)]
    return dask.delayed(_join_reports, pure=True)(parts)


def _stats_block(block, kind: str, axis: int, benchmark, options: dict):
    options = {k: _aligned(v) for k, v in options.items()}
    if benchmark is not None:
        options["benchmark"] = _aligned(benchmark)
    return _vec().stats(**{kind: _aligned(block)}, axis=axis, **options)


def _aligned(x):
    # An array received from another process (a block moved between workers, a benchmark in
    # a task's payload) can start at any byte offset of the message, and the panel readers
    # take aligned float64 rows only: such an array gets an aligned copy, same values.
    if not isinstance(x, np.ndarray) or x.flags.aligned:
        return x
    from quelm import _core

    _core._check_memory(float(x.size) * x.itemsize / 8.0, "an aligned copy of a block")
    return np.require(x, requirements="A")


def _join_reports(parts: list) -> dict:
    return {key: np.concatenate([np.asarray(p[key]).reshape(-1) for p in parts]) for key in parts[0]}


# --- a book's scenarios ---------------------------------------------------------------------


def book_scenarios(book, market, shifts, *, chunk: int = 64):
    """`book.scenario(market, shifts)` as Dask tasks, `chunk` scenarios a task.

    `shifts` as `Book.scenario` takes it: a pandas DataFrame (rows: scenarios), a mapping of
    names to shifts, a list of shifts, or one scenario's mapping (one task). The book and the
    market go into the graph once, as one key each, so a worker receives each once however
    many of its tasks read them. Returns a Dask Delayed whose value is `Book.scenario`'s on
    the whole input, bit for bit: each scenario is revalued alone, so where a chunk ends
    changes nothing."""
    import dask

    if chunk < 1:
        raise ValueError(f"chunk must be at least 1, got {chunk}")
    on_book, on_market = dask.delayed(book, pure=True), dask.delayed(market, pure=True)
    task = dask.delayed(_scenario_chunk, pure=True)
    parts, kind = [], None
    if hasattr(shifts, "columns") and hasattr(shifts, "iloc"):
        parts = [task(on_book, on_market, shifts.iloc[i:i + chunk]) for i in range(0, len(shifts), chunk)]
        kind = "frame"
    elif isinstance(shifts, (list, tuple)):
        shifts = list(shifts)
        parts = [task(on_book, on_market, shifts[i:i + chunk]) for i in range(0, len(shifts), chunk)]
        kind = "list"
    elif (hasattr(shifts, "items") and not hasattr(shifts, "to_numpy") and len(shifts)
          and hasattr(next(iter(shifts.values())), "items")):  # names to shifts, as Book.scenario tells them
        items = list(shifts.items())
        parts = [task(on_book, on_market, dict(items[i:i + chunk])) for i in range(0, len(items), chunk)]
        kind = "dict"
    if kind is None or not parts:  # one scenario, or none: Book.scenario's own answer, in one task
        return task(on_book, on_market, shifts)
    return dask.delayed(_join_scenarios, pure=True)(parts, kind)


def _scenario_chunk(book, market, shifts):
    return book.scenario(market, shifts)


def _join_scenarios(parts: list, kind: str):
    if kind == "frame":
        import pandas as pd

        return pd.concat(parts)
    if kind == "list":
        return [r for p in parts for r in p]
    return {k: v for p in parts for k, v in p.items()}


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
    """This process's quelm pool size as threadpoolctl reports it, else the size its pool
    starts with from the environment: ``RAYON_NUM_THREADS``, ``RAYON_RS_NUM_CPUS``, then the
    first entry of ``OMP_NUM_THREADS`` (None: none is set, the pool takes every processor the
    process may use)."""
    controller = _pool_controller()
    if controller is not None:
        return controller.info()[0]["num_threads"]
    for variable in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS", "OMP_NUM_THREADS"):
        configured = os.environ.get(variable, "")
        if variable == "OMP_NUM_THREADS":
            configured = configured.split(",")[0].strip()
        if configured.isdecimal() and int(configured) > 0:
            return int(configured)
    return None


def pool_sizes(client) -> dict:
    """{worker address: quelm pool size} for every worker of a distributed client."""
    return client.run(worker_pool_size)
