"""Books: trades by name valued and risked on a market of named curves. Risk against bumping
each quote and rebuilding the market; values against each trade priced alone; the total's
bits on one thread and on two."""
from __future__ import annotations

import pickle
import random

import pytest

import quelm
from conftest import run_python

REF = "2026-03-02"
SOFR = [("6M", 0.0431), ("1Y", 0.0422), ("2Y", 0.0405), ("3Y", 0.0396), ("5Y", 0.0388), ("7Y", 0.0386),
        ("10Y", 0.0389)]
ESTR = [("6M", 0.0231), ("1Y", 0.0224), ("2Y", 0.0219), ("5Y", 0.0236), ("10Y", 0.0262)]
EURIBOR = [("2Y", 0.0248), ("3Y", 0.0252), ("5Y", 0.0266), ("7Y", 0.0279), ("10Y", 0.0293)]


def quotes(moved: tuple[str, float] | None = None) -> dict:
    """The three curves' quotes, the quote labelled moved[0] moved by moved[1]."""
    def rate(curve, tenor, r):
        return r + moved[1] if moved and moved[0] == f"{curve} {tenor}" else r
    sofr = [quelm.Ois(t, rate("usd-sofr", t, r), index="sofr") for t, r in SOFR]
    estr = [quelm.Ois(t, rate("eur-estr", t, r), index="estr") for t, r in ESTR]
    euribor = [quelm.Deposit("6M", rate("eur-euribor-6m", "6M", 0.0262))]
    euribor += [quelm.Swap(t, rate("eur-euribor-6m", t, r)) for t, r in EURIBOR]
    return {"usd-sofr": sofr, "eur-estr": estr, "eur-euribor-6m": (euribor, {"discount_curve": "eur-estr"})}


def market(moved=None) -> quelm.Market:
    return quelm.Market.bootstrap(REF, quotes(moved))


def mixed_trades(n: int, seed: int = 7) -> list:
    """Swaps, OIS, deposits and FRAs over the three curves: forward starts, dated ends,
    negative notionals, curves named and left to their defaults."""
    rng = random.Random(seed)
    out = []
    for k in range(n):
        notional = rng.choice([1, -1]) * rng.uniform(1e5, 5e7)
        tenor = rng.choice(["1Y", "2Y", "4Y", "6Y", "9Y"])
        start = rng.choice([None, "3M", "1Y", "2027-09-15"])
        dated = rng.random() < 0.25
        terms = dict(notional=notional, effective=start)
        if dated:
            terms["maturity"] = rng.choice(["2030-06-17", "2031-03-20", "2033-12-15"])
        length = None if dated else tenor
        kind = k % 5
        if kind == 0:
            out.append(quelm.Ois(length, rng.uniform(0.035, 0.045), index="sofr", **terms))
        elif kind == 1:
            out.append(quelm.Ois(length, rng.uniform(0.02, 0.03), index="estr", **terms))
        elif kind == 2:
            out.append(quelm.Swap(length, rng.uniform(0.02, 0.032), curve="eur-euribor-6m", **terms))
        elif kind == 3:  # the discount curve named, as the market built it
            out.append(quelm.Swap(length, rng.uniform(0.02, 0.032), curve="eur-euribor-6m",
                                  discount_curve="eur-estr", **terms))
        elif start is None or dated:
            out.append(quelm.Deposit(length, rng.uniform(0.03, 0.05), curve="usd-sofr", **terms))
        else:
            out.append(quelm.Fra(None, "18M" if start != "2027-09-15" else None, rng.uniform(0.02, 0.03),
                                 curve="eur-euribor-6m", notional=notional, effective=start,
                                 maturity="2028-03-15" if start == "2027-09-15" else None))
    return out


@pytest.fixture(scope="module")
def base():
    return market()


@pytest.fixture(scope="module")
def book():
    bond = quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045)
    return quelm.Book(mixed_trades(200) + [(bond, "usd-sofr")])


def test_risk_is_the_value_differentiated_by_bump_and_rebuild(base, book):
    report = book.risk(base)
    assert report.labels == base.quote_labels and report.names == book.names
    h = 1e-6
    rows = report.by_trade
    for j, label in enumerate(report.labels):
        up = book.npv(market((label, h)))["by_trade"]
        down = book.npv(market((label, -h)))["by_trade"]
        for name in book.names:
            numeric = (up[name] - down[name]) / (2 * h) * 1e-4  # per basis point
            scale = max(abs(x) for x in rows[name])
            assert rows[name][j] == pytest.approx(numeric, rel=1e-7, abs=1e-7 * scale), (name, label)
    # A curve's trades see only its quotes and its discount curve's.
    sofr = [j for j, label in enumerate(report.labels) if label.startswith("usd-sofr")]
    for name, trade in zip(book.names, book.trades):
        if getattr(trade, "index", None) == "estr":
            assert all(rows[name][j] == 0.0 for j in sofr)


def test_totals_add_the_rows_in_book_order(base, book):
    report = book.risk(base)
    for j, label in enumerate(report.labels):
        s = 0.0
        for name in book.names:
            s += report.by_trade[name][j]
        assert report.total[label] == s
    value = book.npv(base)
    s = 0.0
    for v in value["by_trade"].values():
        s += v
    assert value["total"] == s
    assert list(value["by_trade"]) == list(book.names)


def test_each_value_is_the_trades_own_npv_on_its_curves(base, book):
    value = book.npv(base)["by_trade"]
    for name, trade in zip(book.names, book.trades):
        if isinstance(trade, tuple):
            continue
        curve = base.curve(trade.curve or {"sofr": "usd-sofr", "estr": "eur-estr"}[trade.index])
        assert value[name] == trade.npv(curve)  # the same bits as the trade alone


BITS = """
import sys
sys.path.insert(0, {tests!r})
import quelm
from test_book import market, mixed_trades
v = quelm.Book(mixed_trades(400, seed=3)).npv(market())
r = quelm.Book(mixed_trades(400, seed=3)).risk(market())
print(v["total"].hex(), *[x.hex() for x in v["by_trade"].values()], *[x.hex() for x in r.total.values()])
"""


def test_the_total_has_the_same_bits_on_one_thread_and_two():
    from pathlib import Path
    code = BITS.format(tests=str(Path(__file__).resolve().parent))
    runs = [run_python(code, env={"RAYON_NUM_THREADS": t}) for t in ("1", "2")]
    for r in runs:
        assert r.returncode == 0, r.stderr
    assert runs[0].stdout == runs[1].stdout


def test_curves_default_by_index_or_the_only_curve():
    flat = {n: quelm.YieldCurve.flat(0.03, reference_date=REF)
            for n in ("usd-sofr", "eur-estr", "gbp-sonia", "jpy-tona")}
    m = quelm.Market(REF, curves=flat)
    for index, name in [("sofr", "usd-sofr"), ("estr", "eur-estr"), ("sonia", "gbp-sonia"), ("tona", "jpy-tona")]:
        trade = quelm.Ois("2Y", 0.02, index=index)
        assert quelm.Book([trade]).npv(m)["total"] == trade.npv(flat[name])
    one = quelm.Market(REF, curves={"usd-ust": flat["usd-sofr"]})
    bond = quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045)
    both = quelm.Book([quelm.Swap("5Y", 0.03), bond]).npv(one)["by_trade"]
    assert both["0"] == quelm.Swap("5Y", 0.03).npv(flat["usd-sofr"])
    assert both["1"] == quelm.Book([(bond, "usd-ust")]).npv(one)["total"]
    with pytest.raises(ValueError, match=r"trade 0: swap: name its curve \(curve=...\); the market has eur-estr"):
        quelm.Book([quelm.Swap("5Y", 0.03)]).npv(m)


def test_errors_name_the_trade(base):
    with pytest.raises(ValueError, match="trade x: no curve usd-libor in the market; it has eur-estr, eur-euribor-6m"):
        quelm.Book([quelm.Swap("5Y", 0.03, curve="usd-libor")], names=["x"]).npv(base)
    self_discounted = quelm.Swap("5Y", 0.03, curve="eur-euribor-6m", discount_curve="eur-euribor-6m")
    assert quelm.Book([self_discounted]).npv(base)["total"] == self_discounted.npv(
        base.curve("eur-euribor-6m"), discount_curve=base.curve("eur-euribor-6m"))
    with pytest.raises(ValueError, match="built discounting on eur-estr; its risk needs that discount curve"):
        quelm.Book([self_discounted]).risk(base)
    whole = quelm.Market(REF, curves={"usd-sofr": quelm.YieldCurve.flat(0.04, reference_date=REF)})
    with pytest.raises(ValueError, match="curve usd-sofr was not built from quotes"):
        quelm.Book([quelm.Ois("2Y", 0.04, index="sofr")]).risk(whole)
    with pytest.raises(ValueError, match="curve names must not be empty"):
        quelm.Swap("5Y", 0.03, curve="")
    with pytest.raises(ValueError, match="trade name a is given twice"):
        quelm.Book([quelm.Swap("5Y", 0.03)] * 2, names=["a", "a"])
    with pytest.raises(ValueError, match="2 names for 1 trades"):
        quelm.Book([quelm.Swap("5Y", 0.03)], names=["a", "b"])
    with pytest.raises(TypeError, match="item 1: expected an instrument, a FloatingRateNote, an FxForward, an FxOption, a EuropeanOption"):
        quelm.Book([quelm.Swap("5Y", 0.03), 1.0])


def test_curve_names_read_back_and_leave_unnamed_trades_as_they_were():
    plain = quelm.Swap("5Y", 0.03, notional=2.0)
    named = quelm.Swap("5Y", 0.03, notional=2.0, curve="eur-euribor-6m", discount_curve="eur-estr")
    assert repr(plain) == "Swap('5Y', 0.03, notional=2)" and plain.curve is None and plain.discount_curve is None
    assert repr(named) == "Swap('5Y', 0.03, notional=2, curve='eur-euribor-6m', discount_curve='eur-estr')"
    assert "curve" not in plain.__reduce__()[0].keywords
    assert named != plain and hash(quelm.Swap("5Y", 0.03, curve="a")) != hash(quelm.Swap("5Y", 0.03, curve="b"))
    for x in (named, quelm.Future("2026-06-17", 96.0, index="sofr", curve="usd-sofr"),
              quelm.Fra("3M", "6M", 0.03, discount_curve="eur-estr")):
        back = pickle.loads(pickle.dumps(x))
        assert back == x and hash(back) == hash(x) and repr(back) == repr(x)


def test_book_is_an_immutable_picklable_sequence_of_its_trades(base, book):
    assert len(book) == 201 and list(book) == list(book.trades) and book.names[:3] == ("0", "1", "2")
    back = pickle.loads(pickle.dumps(book))
    assert back == book and back.names == book.names and back.npv(base) == book.npv(base)
    with pytest.raises(AttributeError):
        book.names = ()
    named = quelm.Book(book.trades[:2], names=["a", "b"])
    assert named != quelm.Book(book.trades[:2]) and repr(named) == "<Book of 2 trades>"
    empty = quelm.Book([])
    assert empty.npv(base) == {"total": 0.0, "by_trade": {}}
    assert empty.risk(base).total == dict.fromkeys(base.quote_labels, 0.0)


def test_to_pandas_columns_are_curve_and_point(base):
    pd = pytest.importorskip("pandas")
    report = quelm.Book([quelm.Ois("3Y", 0.04, index="sofr", notional=1e6)], names=["x"]).risk(base)
    frame = report.to_pandas()
    assert list(frame.index) == ["x"] and frame.columns.names == ["curve", "point"]
    assert frame.columns[0] == ("eur-estr", "6M") and ("usd-sofr", "5Y") in frame.columns
    assert frame.loc["x", ("usd-sofr", "3Y")] == report.by_trade["x"][report.labels.index("usd-sofr 3Y")]
    assert isinstance(frame, pd.DataFrame)
