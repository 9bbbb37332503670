"""A book under scenarios and its historical VaR by full revaluation: each scenario's P&L is
the hand revaluation (the shifted market's npv less the base's) bit for bit on any thread
count, VaR and ES follow the documented quantile rule of the P&L, the first-order estimate
tracks full revaluation for small moves, bad histories are named errors, and Dask gives the
same bits."""
from __future__ import annotations

import datetime
from pathlib import Path

import pytest

import quelm
from conftest import same_output_across_threads

np = pytest.importorskip("numpy")
pd = pytest.importorskip("pandas")

DAY = datetime.date(2025, 1, 15)
OIS = [("1M", 0.0290), ("6M", 0.0279), ("1Y", 0.0268), ("2Y", 0.0254), ("5Y", 0.0252), ("10Y", 0.0266)]
FUTURES = [(datetime.date(2025, 6, 18), 96.95), (datetime.date(2025, 9, 17), 96.90)]
SWAPS = [("2Y", 0.0268), ("5Y", 0.0266), ("10Y", 0.0281)]
FUT = "eur-euribor-6m fut 2025-06-18"


def market():
    euribor = ([quelm.Deposit("3M", 0.0285)] + [quelm.Future(d, p) for d, p in FUTURES]
               + [quelm.Swap(t, r) for t, r in SWAPS])
    return quelm.Market.bootstrap(DAY, {"eur-estr": [quelm.Ois(t, r) for t, r in OIS],
                                        "eur-euribor-6m": (euribor, {"discount_curve": "eur-estr"})},
                                  fx={"EURUSD": 1.03})


BASE = market()


def book(n: int = 12):
    trades = []
    for k in range(n):
        years = f"{1 + k % 9}Y"
        size = (1 if k % 2 else -1) * (1e6 + 1e4 * k)
        trades.append(quelm.Ois(years, 0.025 + 1e-5 * k, curve="eur-estr", notional=size) if k % 3 == 0
                      else quelm.Swap(years, 0.027 - 1e-5 * k, curve="eur-euribor-6m", notional=size))
    return quelm.Book(trades, names=[f"t{k}" for k in range(n)])


BOOK = book()


def hand(shifts: dict) -> dict:
    """The P&L the slow way: the shifted market's value less the base's, trade by trade."""
    up, base = BOOK.npv(BASE.shifted(shifts)), BOOK.npv(BASE)
    return {"total": up["total"] - base["total"],
            "by_trade": {n: up["by_trade"][n] - base["by_trade"][n] for n in BOOK.names}}


def history(rows: int = 40, seed: int = 7, scale: float = 1.0):
    rng = np.random.default_rng(seed)
    days = pd.bdate_range("2024-10-01", periods=rows)
    steps = rng.normal(0.0, 1e-4 * scale, (rows, 4)).cumsum(axis=0)
    return pd.DataFrame({"eur-estr 5Y": 0.0252 + steps[:, 0], "eur-euribor-6m 10Y": 0.0281 + steps[:, 1],
                         FUT: 96.95 + 100 * steps[:, 2], "EURUSD": 1.03 * np.exp(steps[:, 3])}, index=days)


def hexed(record: dict) -> tuple:
    return record["total"].hex(), tuple(v.hex() for v in record["by_trade"].values())


# --- scenarios ------------------------------------------------------------------------------

SHIFTS = {"parallel": {"eur-estr": 1e-4, "eur-euribor-6m": 1e-4},
          "twist": {"eur-estr 1Y": -5e-4, "eur-estr 10Y": 5e-4, FUT: 0.05},
          "fx only": {"EURUSD": 0.02}}


def test_each_scenario_is_the_hand_revaluation_bit_for_bit():
    one = BOOK.scenario(BASE, SHIFTS["twist"])
    assert list(one["by_trade"]) == list(BOOK.names)
    assert hexed(one) == hexed(hand(SHIFTS["twist"]))
    named = BOOK.scenario(BASE, SHIFTS)
    assert list(named) == list(SHIFTS)
    listed = BOOK.scenario(BASE, list(SHIFTS.values()))
    for (name, shifts), row in zip(SHIFTS.items(), listed):
        assert hexed(named[name]) == hexed(row) == hexed(hand(shifts)), name
    assert named["parallel"]["total"] != 0.0


def test_a_zero_shift_is_exactly_no_pnl():
    for shifts in ({}, {"eur-estr": 0.0}, {"eur-estr 5Y": 0.0, "EURUSD": 0.0}):
        r = BOOK.scenario(BASE, shifts)
        assert r["total"].hex() == (0.0).hex() and all(v.hex() == (0.0).hex() for v in r["by_trade"].values())
    # FX moves no rate trade: exactly nothing either.
    assert BOOK.scenario(BASE, SHIFTS["fx only"])["total"] == 0.0


def test_a_dataframe_of_scenarios_gives_a_table_of_trades_and_total():
    frame = pd.DataFrame([{"eur-estr": 1e-4, "eur-euribor-6m": 1e-4, "eur-estr 1Y": 0.0, "eur-estr 10Y": 0.0,
                           FUT: 0.0},
                          {"eur-estr": 0.0, "eur-euribor-6m": 0.0, "eur-estr 1Y": -5e-4, "eur-estr 10Y": 5e-4,
                           FUT: 0.05}], index=["parallel", "twist"])
    table = BOOK.scenario(BASE, frame)
    assert isinstance(table, pd.DataFrame)
    assert list(table.index) == ["parallel", "twist"] and list(table.columns) == [*BOOK.names, "total"]
    for name in table.index:
        expected = hand(SHIFTS[name])
        assert table.loc[name, "total"].hex() == expected["total"].hex()
        assert [table.loc[name, n].hex() for n in BOOK.names] == [v.hex() for v in expected["by_trade"].values()]


def test_scenario_errors_name_the_key_and_the_scenario():
    with pytest.raises(ValueError, match='unknown shift key "eur-estr 7Y"'):
        BOOK.scenario(BASE, {"eur-estr 7Y": 1e-4})
    with pytest.raises(ValueError, match="^scenario twist: unknown shift key"):
        BOOK.scenario(BASE, {"ok": {"eur-estr": 1e-4}, "twist": {"eur-estr 7Y": 1e-4}})
    with pytest.raises(TypeError):
        BOOK.scenario(BASE, 3.0)
    with pytest.raises(TypeError):
        BOOK.scenario("not a market", {})
    clash = quelm.Book([quelm.Ois("2Y", 0.025, curve="eur-estr")], names=["total"])
    with pytest.raises(ValueError, match="total column"):
        clash.scenario(BASE, pd.DataFrame({"eur-estr": [1e-4]}))
    assert clash.scenario(BASE, {"eur-estr": 1e-4})["by_trade"]["total"] != 0.0  # a record has room for it


THREADS = """
import sys
sys.path.insert(0, {tests!r})
from test_book_var import BASE, BOOK, SHIFTS, history
named = BOOK.scenario(BASE, SHIFTS)
print(*[r["total"].hex() for r in named.values()], *[v.hex() for r in named.values() for v in r["by_trade"].values()])
v = BOOK.historical_var(BASE, history(), level=0.9)
print(v["var"].hex(), v["first_order"].hex(), *[x.hex() for x in v["pnl"]])
"""


def test_the_same_bits_on_one_thread_and_two():
    out = same_output_across_threads(THREADS.format(tests=str(Path(__file__).resolve().parent)), counts=("1", "2"))
    assert len(out.splitlines()) == 2


# --- historical VaR and expected shortfall -------------------------------------------------


def hand_pnl(quote_history, horizon=1):
    shifts = BASE.historical_shifts(quote_history, horizon=horizon)
    base = BOOK.npv(BASE)["total"]
    return np.array([BOOK.npv(BASE.shifted(dict(row)))["total"] - base for _, row in shifts.iterrows()])


@pytest.mark.parametrize("level, horizon", [(0.99, 1), (0.95, 1), (0.9, 5), (0.5, 3)])
def test_var_and_es_are_the_documented_statistics_of_the_hand_pnl(level, horizon):
    h = history()
    pnl = hand_pnl(h, horizon)
    var = BOOK.historical_var(BASE, h, level=level, horizon=horizon)
    es = BOOK.expected_shortfall(BASE, h, level=level, horizon=horizon)
    assert [x.hex() for x in var["pnl"]] == [x.hex() for x in pnl]
    assert var["pnl"] == es["pnl"]
    assert (var["level"], var["horizon"], var["scenarios"]) == (level, horizon, len(h) - horizon)
    q = np.quantile(pnl, 1.0 - level)  # linear between order statistics at (n - 1)(1 - level)
    assert var["var"] == pytest.approx(-q, rel=1e-12, abs=1e-9)
    assert var["var"] == quelm.value_at_risk(list(pnl), level)
    assert es["expected_shortfall"] == pytest.approx(-pnl[pnl <= q].mean(), rel=1e-12)
    assert es["expected_shortfall"] >= var["var"]


def test_first_order_tracks_full_revaluation_for_small_moves():
    # Swaps are nearly linear in their quotes: for moves of a bp a day the linear VaR is the
    # full one to a small fraction; a future's quote moves its price, the risk its rate.
    small = BOOK.historical_var(BASE, history(scale=1.0), level=0.95)
    assert small["first_order"] == pytest.approx(small["var"], rel=2e-3)
    es = BOOK.expected_shortfall(BASE, history(scale=1.0), level=0.95)
    assert es["first_order"] == pytest.approx(es["expected_shortfall"], rel=2e-3)
    short = quelm.Book([quelm.Swap("1Y", 0.027, curve="eur-euribor-6m", notional=1e6)])
    futures_only = short.historical_var(BASE, history()[[FUT]], level=0.95)
    assert futures_only["var"] > 1.0
    assert futures_only["first_order"] == pytest.approx(futures_only["var"], rel=2e-3)
    # Large moves: convexity opens a gap, and the full answer is what is reported.
    large = BOOK.historical_var(BASE, history(scale=200.0), level=0.95)
    assert large["first_order"] != pytest.approx(large["var"], rel=2e-3)


def test_bad_histories_and_arguments_are_named_errors():
    h = history()
    with pytest.raises(ValueError, match='unknown shift key "eur-estr 7Y"'):
        BOOK.historical_var(BASE, h.rename(columns={"eur-estr 5Y": "eur-estr 7Y"}))
    gap = h.copy()
    gap.iloc[4, 0] = np.nan
    with pytest.raises(ValueError, match="no value for eur-estr 5Y on 2024-10-07"):
        BOOK.expected_shortfall(BASE, gap)
    for level in (0.0, 1.0, 1.5, -0.1, float("nan")):
        with pytest.raises(ValueError, match=r"level must be in \(0, 1\)"):
            BOOK.historical_var(BASE, h, level=level)
    with pytest.raises(ValueError, match="horizon must be at least 1 day"):
        BOOK.historical_var(BASE, h, horizon=0)
    with pytest.raises(ValueError, match="needs more than 40 dates"):
        BOOK.historical_var(BASE, h, horizon=40)
    with pytest.raises((ValueError, OverflowError)):
        BOOK.historical_var(BASE, h, horizon=-1)
    with pytest.raises(TypeError, match="quote_history: expected a DataFrame"):
        BOOK.historical_var(BASE, {"eur-estr 5Y": [0.02, 0.03]})
    flat = quelm.Market(DAY, curves={"eur-estr": quelm.YieldCurve.flat(0.02, reference_date=DAY)})
    with pytest.raises(ValueError, match="was given whole"):
        quelm.Book([quelm.Ois("2Y", 0.02)]).historical_var(flat, pd.DataFrame({"eur-estr": [0.02, 0.021]},
                                                                              index=pd.bdate_range("2024-10-01",
                                                                                                   periods=2)))


# --- Dask --------------------------------------------------------------------------------


def test_dask_runs_the_scenarios_to_the_same_bits():
    dask = pytest.importorskip("dask")
    from conftest import load_python_source

    quelm_dask = load_python_source("dask")
    shifts = BASE.historical_shifts(history(rows=30))
    local = BOOK.scenario(BASE, shifts)
    with dask.config.set(scheduler="processes", num_workers=2):
        remote = dask.compute(quelm_dask.book_scenarios(BOOK, BASE, shifts, chunk=7))[0]
    assert list(remote.index) == list(local.index) and list(remote.columns) == list(local.columns)
    assert remote.to_numpy().tobytes() == local.to_numpy().tobytes()
    named = dask.compute(quelm_dask.book_scenarios(BOOK, BASE, SHIFTS, chunk=2))[0]
    assert {k: hexed(v) for k, v in named.items()} == {k: hexed(v) for k, v in BOOK.scenario(BASE, SHIFTS).items()}
    listed = dask.compute(quelm_dask.book_scenarios(BOOK, BASE, list(SHIFTS.values()), chunk=1))[0]
    assert [hexed(v) for v in listed] == [hexed(v) for v in BOOK.scenario(BASE, list(SHIFTS.values()))]
    one = dask.compute(quelm_dask.book_scenarios(BOOK, BASE, SHIFTS["twist"]))[0]
    assert hexed(one) == hexed(BOOK.scenario(BASE, SHIFTS["twist"]))
    series = dask.compute(quelm_dask.book_scenarios(BOOK, BASE, pd.Series(SHIFTS["twist"])))[0]
    assert hexed(series) == hexed(one)
    none = dask.compute(quelm_dask.book_scenarios(BOOK, BASE, shifts.iloc[:0]))[0]
    assert list(none.columns) == list(local.columns) and len(none) == 0
    with pytest.raises(ValueError, match="chunk"):
        quelm_dask.book_scenarios(BOOK, BASE, SHIFTS, chunk=0)
