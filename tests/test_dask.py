"""quelm on a real Dask cluster of two worker processes (one thread each): the three recipes of
the examples give the same bits as the same work done in this process, and each worker's pool
takes that worker's share of the cores."""
from __future__ import annotations

import importlib
import os
import sys
from pathlib import Path

import pytest

distributed = pytest.importorskip("distributed")
dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")
dd = pytest.importorskip("dask.dataframe")
import cloudpickle  # noqa: E402  -- comes with distributed
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

from conftest import importable, load_python_source  # noqa: E402

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
# The examples are imported by name, here and in the worker processes (which start with this
# process's sys.path), so the functions of their task graphs unpickle there.
sys.path.insert(0, str(EXAMPLES))
quelm_dask = load_python_source("dask")
if quelm_dask.__name__ != "quelm.dask":
    # Loaded from its source file, which the workers cannot import: ship its code instead.
    cloudpickle.register_pickle_by_value(quelm_dask)


def load_example(name: str):
    return importlib.import_module(name)


needs_vec = pytest.mark.skipif(not importable("quelm.vec"), reason="quelm.vec is not available")


def vec_example(name: str):
    try:
        return load_example(name)
    except ImportError as exc:  # quelm.vec or quelm.dask not installed yet
        pytest.skip(f"{name}: {exc}")


def same_bits(a, b) -> bool:
    a, b = np.asarray(a), np.asarray(b)
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
    client = distributed.Client(cluster)
    try:
        client.register_plugin(quelm_dask.PoolSize())  # before any worker runs quelm
        yield client
    finally:
        client.close()
        cluster.close()


# --- pool sizing ---------------------------------------------------------------------------------


def worker_pool_report() -> dict:
    report = {"env": os.environ.get("RAYON_NUM_THREADS"), "helper": quelm_dask.worker_pool_size()}
    try:
        import _quelm_testing
    except ImportError:
        pass
    else:
        report["pool"] = _quelm_testing.pool_size()
    try:
        import threadpoolctl
    except ImportError:
        pass
    else:
        report["threadpoolctl"] = [i["num_threads"] for i in threadpoolctl.threadpool_info()
                                   if i.get("internal_api") == "quelm"]
    return report


def test_each_worker_pool_takes_its_share_of_the_cores(client):
    nthreads = client.nthreads()
    reports = client.run(worker_pool_report)
    assert sorted(reports) == sorted(nthreads) and len(reports) == 2
    for address, report in reports.items():
        share = nthreads[address]  # one Dask thread per worker: one core each
        assert report["env"] == str(share) and report["helper"] == share, report
        if "pool" in report:
            assert report["pool"] == share, report
        assert report.get("threadpoolctl") in (None, [], [share]), report
    assert quelm_dask.pool_sizes(client) == nthreads
    assert sum(r["helper"] for r in reports.values()) == sum(nthreads.values())  # C threads, not P * C


@pytest.mark.parametrize("threads, error", [(0, ValueError), (-2, ValueError)])
def test_pool_size_rejects_a_pool_without_threads(threads, error):
    with pytest.raises(error):
        quelm_dask.PoolSize(threads)


# --- a grid of Monte Carlo valuations ------------------------------------------------------------

scenarios = load_example("dask_scenarios")


@pytest.mark.parametrize("seeding", ["one seed per scenario", "common random numbers"])
def test_scenario_grid_equals_the_local_calls(client, seeding):
    grid = scenarios.scenario_grid(spots=(95.0, 105.0), vols=(0.2, 0.3), maturities=(0.5, 1.5))
    seeds = range(1, len(grid) + 1) if seeding == "one seed per scenario" else [9] * len(grid)
    curve = scenarios.market_curve()
    remote = scenarios.value_grid(client, curve, grid, seeds, paths=20_000)
    local = [scenarios.value(s, seed, curve, paths=20_000) for s, seed in zip(grid, seeds)]
    assert remote == local
    assert len({r["price"] for r in remote}) == len(grid)  # every scenario valued, none repeated


def test_a_scattered_curve_reaches_every_worker_once(client):
    curve = scenarios.market_curve()
    [future] = client.scatter([curve], broadcast=True, hash=False)
    holders = client.who_has([future])[future.key]
    assert sorted(holders) == sorted(client.nthreads())
    assert client.submit(lambda c, t: c.zero_rate(t), future, 3.0).result() == curve.zero_rate(3.0)


# --- an option book -----------------------------------------------------------------------------


@needs_vec
def test_book_priced_block_by_block_equals_one_call(client):
    book_example = vec_example("dask_book")
    book = book_example.make_book(20_000, chunk=3_000)  # the last block is shorter
    results = dask.compute(book_example.price_book(book))[0]
    inputs = dict(zip(book_example.INPUTS, dask.compute(*book.values())))
    local = book_example.price_in_process(inputs)
    assert results.keys() == local.keys()
    for key in local:
        assert same_bits(results[key], local[key]), key


def random_frame(n: int, seed: int) -> pd.DataFrame:
    rng = np.random.default_rng(seed)
    frame = pd.DataFrame({
        "S": rng.uniform(50, 150, n), "K": rng.uniform(50, 150, n), "r": rng.uniform(0, 0.05, n),
        "sigma": rng.uniform(0.1, 0.6, n), "expiry": rng.uniform(0.05, 2.0, n),
        "kind": rng.choice(["call", "put", "c", "P"], n), "q": rng.uniform(0, 0.03, n),
    }, index=pd.RangeIndex(1000, 1000 + n, name="trade"))
    frame.loc[frame.index[[3, 17]], "K"] = [0.0, -5.0]  # bad rows: NaN under errors="nan"
    return frame


def column(frame, value):
    if isinstance(value, quelm_dask.column):
        value = value.name
    if isinstance(value, str) and value in frame:
        return frame[value].to_numpy(dtype=str if value == "kind" else np.float64)
    return value


# Option types are strings themselves: their column is named explicitly.
COLUMNS = dict(spot="S", strike="K", rate="r", vol="sigma", t="expiry", option_type=quelm_dask.column("kind"),
               dividend_yield="q")
# A value that is not a column goes to every row: a literal option type, a scalar rate.
MIXED = dict(COLUMNS, option_type="put", rate=0.03)


@needs_vec
@pytest.mark.parametrize("columns", [COLUMNS, MIXED], ids=["all columns", "columns and values"])
def test_frame_priced_by_column_name_equals_one_call(client, columns):
    from quelm import vec

    frame = random_frame(2_000, seed=5)
    lazy = dd.from_pandas(frame, npartitions=3)
    args = [column(frame, v) for v in columns.values()]
    price = vec.black_scholes(*args, errors="nan")
    expected = {"price": price, **vec.greeks(*args, errors="nan")}
    iv_args = dict(columns)
    del iv_args["vol"]
    expected["implied_volatility"] = vec.implied_volatility(price, *[column(frame, v) for v in iv_args.values()],
                                                            errors="nan")

    lazy = lazy.assign(price=quelm_dask.black_scholes(lazy, **columns, errors="nan"))
    got = {"price": lazy["price"], "greeks": quelm_dask.greeks(lazy, **columns, errors="nan"),
           "implied_volatility": quelm_dask.implied_volatility(lazy, market_price="price", **iv_args, errors="nan")}
    got = dask.compute(got)[0]
    assert got["price"].index.equals(frame.index) and got["greeks"].index.equals(frame.index)
    assert same_bits(got["price"].to_numpy(), expected["price"])
    assert same_bits(got["implied_volatility"].to_numpy(), expected["implied_volatility"])
    for key in quelm_dask.GREEKS:
        assert same_bits(got["greeks"][key].to_numpy(), expected[key]), key
    assert np.isnan(expected["price"][[3, 17]]).all() and not np.isnan(np.delete(expected["price"], [3, 17])).any()
    # A pandas frame prices in this process through the same path.
    assert same_bits(quelm_dask.black_scholes(frame, **columns, errors="nan").to_numpy(), expected["price"])


@needs_vec
def test_a_failing_row_fails_the_book_with_the_scalar_message(client):
    lazy = dd.from_pandas(random_frame(500, seed=1), npartitions=2)
    with pytest.raises(ValueError, match=r"at index \(3,\): invalid input: strike must be > 0"):
        quelm_dask.black_scholes(lazy, **COLUMNS).compute()


@pytest.mark.parametrize("columns, message", [
    (dict(COLUMNS, strike="strike_price"), "strike: the frame has no column 'strike_price'"),
    (dict(COLUMNS, t="T"), "t: the frame has no column 'T'"),
])
def test_a_missing_column_is_named_before_anything_runs(columns, message):
    lazy = dd.from_pandas(random_frame(30, seed=2), npartitions=2)
    for price in (quelm_dask.black_scholes, quelm_dask.greeks):
        with pytest.raises(KeyError, match=message):
            price(lazy, **columns)


def book_with_own_names(n: int = 400, seed: int = 8) -> pd.DataFrame:
    frame = random_frame(n, seed).rename(columns=dict(S="spot", K="strike", r="rate", sigma="vol", expiry="t",
                                                      kind="option_type", q="dividend_yield"))
    frame.loc[frame.index[[3, 17]], "strike"] = [90.0, 110.0]
    return frame


@needs_vec
@pytest.mark.parametrize("lazy", [False, True], ids=["pandas", "dask"])
def test_every_parameter_takes_its_own_column_when_not_given(lazy):
    from quelm import vec

    frame = book_with_own_names()
    args = [frame[c].to_numpy(dtype=str if c == "option_type" else np.float64) for c in
            ("spot", "strike", "rate", "vol", "t", "option_type", "dividend_yield")]
    expected = vec.black_scholes(*args)
    assert not same_bits(expected, vec.black_scholes(*args[:-1]))   # the dividends matter
    data = dd.from_pandas(frame, npartitions=3) if lazy else frame
    got = quelm_dask.black_scholes(data)
    got = got.compute() if lazy else got
    assert same_bits(got.to_numpy(), expected)
    greeks = quelm_dask.greeks(data)
    greeks = greeks.compute() if lazy else greeks
    assert same_bits(greeks["rho"].to_numpy(), vec.greeks(*args)["rho"])
    # Without a dividend_yield column, its default; without a required column, KeyError.
    assert same_bits(quelm_dask.black_scholes(frame.drop(columns="dividend_yield")).to_numpy(),
                     vec.black_scholes(*args[:-1]))
    with pytest.raises(KeyError, match="vol: the frame has no column 'vol'"):
        quelm_dask.black_scholes(frame.drop(columns="vol"))


@needs_vec
def test_a_string_is_never_guessed_to_be_a_column():
    from quelm import vec

    frame = book_with_own_names()
    frame["call"] = "put"       # a column named like an option type
    frame["put"] = "call"
    numbers = [frame[c].to_numpy() for c in ("spot", "strike", "rate", "vol", "t")]
    q = frame["dividend_yield"].to_numpy()
    # option_type="call" is an option type for every row, whatever the frame's columns.
    assert same_bits(quelm_dask.black_scholes(frame, option_type="call").to_numpy(),
                     vec.black_scholes(*numbers, "call", q))
    # A column of option types is named explicitly, or given as a Series on the frame's index.
    want = vec.black_scholes(*numbers, frame["call"].to_numpy(dtype=str), q)
    assert same_bits(quelm_dask.black_scholes(frame, option_type=quelm_dask.column("call")).to_numpy(), want)
    assert same_bits(quelm_dask.black_scholes(frame, option_type=frame["call"]).to_numpy(), want)
    lazy = dd.from_pandas(frame, npartitions=4)
    assert same_bits(quelm_dask.black_scholes(lazy, option_type=lazy["call"]).compute().to_numpy(), want)
    # Numbers read a string as a column name; a number is a value for every row.
    assert same_bits(quelm_dask.black_scholes(frame, rate="dividend_yield", dividend_yield=0.0).to_numpy(),
                     vec.black_scholes(numbers[0], numbers[1], q, *numbers[3:], frame["option_type"].to_numpy(), 0.0))
    with pytest.raises(KeyError, match="option_type: the frame has no column 'kind'"):
        quelm_dask.black_scholes(frame, option_type=quelm_dask.column("kind"))
    with pytest.raises(ValueError, match="option_type: a Series argument must have the frame's index"):
        quelm_dask.black_scholes(frame, option_type=frame["call"].reset_index(drop=True))


@needs_vec
def test_decimal_and_other_number_objects_read_as_vec_reads_them():
    from decimal import Decimal

    frame = book_with_own_names(60)
    as_objects = frame.astype({c: object for c in ("spot", "strike", "rate")})
    as_objects["spot"] = [Decimal(repr(x)) for x in frame["spot"]]
    as_objects["option_type"] = as_objects["option_type"].astype("category")
    want = quelm_dask.black_scholes(frame).to_numpy()
    assert same_bits(quelm_dask.black_scholes(as_objects).to_numpy(), want)
    # Dask turns object columns into strings unless told not to; kept as objects, they read alike.
    with dask.config.set({"dataframe.convert-string": False}):
        lazy = dd.from_pandas(as_objects, npartitions=2)
        assert same_bits(quelm_dask.black_scholes(lazy).compute().to_numpy(), want)
    assert same_bits(quelm_dask.implied_volatility(frame.assign(market_price=want)).to_numpy(),
                     quelm_dask.implied_volatility(as_objects.assign(market_price=want)).to_numpy())


def worker_pool_threads() -> dict:
    report = {"omp": os.environ.get("OMP_NUM_THREADS"), "rayon": os.environ.get("RAYON_NUM_THREADS"),
              "helper": quelm_dask.worker_pool_size()}
    try:
        import _quelm_testing
    except ImportError:
        pass
    else:
        report["pool"] = _quelm_testing.pool_size()
    return report


def test_without_a_plugin_each_worker_pool_has_one_thread(monkeypatch):
    # Dask's nanny sets OMP_NUM_THREADS=1 in each worker; quelm's pool follows it when its own
    # variables are unset, so two workers on two cores run two quelm threads, not four.
    for variable in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS", "OMP_NUM_THREADS"):
        monkeypatch.delenv(variable, raising=False)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as plain:
        reports = plain.run(worker_pool_threads)
        assert len(reports) == 2
        for report in reports.values():
            assert report["rayon"] is None and report["omp"] == "1", report
            assert report["helper"] == 1 and report.get("pool", 1) == 1, report
        assert set(quelm_dask.pool_sizes(plain).values()) == {1}


# --- a return panel ------------------------------------------------------------------------------


@needs_vec
@pytest.mark.parametrize("axis", [0, 1])
def test_panel_stats_by_blocks_of_series_equal_one_call(client, axis):
    from quelm import vec

    panel_example = vec_example("dask_panel")
    panel = panel_example.make_panel(days=260, series=45, block=10)  # blocks of 10, 10, 10, 10, 5 series
    benchmark = np.random.default_rng(3).normal(0.0004, 0.01, 260)
    if axis == 1:
        panel = panel.T.rechunk((7, -1))  # series along rows, split across days: gathered first
    local_panel = np.require(panel.compute(), requirements="A")  # gathered arrays may be unaligned
    report = quelm_dask.stats(returns=panel, axis=axis, benchmark=benchmark, risk_free=1e-4).compute()
    local = vec.stats(returns=local_panel, axis=axis, benchmark=benchmark, risk_free=1e-4)
    assert report.keys() == local.keys()
    for key in local:
        assert same_bits(report[key], local[key]), key


@needs_vec
@pytest.mark.parametrize("axis", [0, 1])
def test_a_panel_benchmark_is_split_with_the_panel(client, axis):
    from quelm import vec

    rng = np.random.default_rng(12)
    local = rng.normal(0.0004, 0.01, (300, 23))
    bench = local + rng.normal(0.0, 0.004, local.shape)
    if axis == 1:
        local, bench = local.T.copy(), bench.T.copy()
    chunks = (300, 5) if axis == 0 else (5, 300)
    panel = da.from_array(local, chunks=chunks)
    for benchmark in (bench, da.from_array(bench, chunks=(100, 100))):
        report = quelm_dask.stats(returns=panel, axis=axis, benchmark=benchmark).compute()
        expected = vec.stats(returns=local, axis=axis, benchmark=bench)
        for key in ("beta", "tracking_error", "information_ratio"):
            assert same_bits(report[key], expected[key]), key
    with pytest.raises(ValueError, match=r"stats: a panel benchmark must have the panel's shape"):
        quelm_dask.stats(returns=panel, axis=axis, benchmark=bench[:-1])


@pytest.mark.parametrize("panels, error", [
    ({}, TypeError),
    ({"returns": "panel", "prices": "panel"}, TypeError),
    ({"returns": "vector"}, ValueError),
])
def test_stats_wants_one_two_dimensional_panel(panels, error):
    shapes = {"panel": da.zeros((4, 3), chunks=2), "vector": da.zeros(4, chunks=2)}
    with pytest.raises(error):
        quelm_dask.stats(**{k: shapes[v] for k, v in panels.items()})
