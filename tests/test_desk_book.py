"""One book of everything a desk holds — swaps, a bond, a swaption, a cap, a Bermudan, FX
forwards and options on a smile, an equity option, an American and a CDS — on one market of
curves, a cube-free rate vol, a Hull-White model, an FX smile, a surface and a credit curve:
its value is the sum of each trade's own book, its risk report has every trade's columns as
their own reports do, its VaR runs by full revaluation, and all of it survives pickling (as
Dask ships it) and keeps its bits at any thread count."""
from __future__ import annotations

import datetime
import pathlib
import pickle

import pytest

import quelm

REF = datetime.date(2026, 3, 2)
SOFR = [("6M", 0.0431), ("1Y", 0.0422), ("2Y", 0.0405), ("5Y", 0.0388), ("10Y", 0.0392)]
ESTR = [("6M", 0.0231), ("1Y", 0.0224), ("2Y", 0.0219), ("5Y", 0.0236), ("10Y", 0.0251), ("15Y", 0.0262)]
EURIBOR = [("1Y", 0.0262), ("2Y", 0.0258), ("5Y", 0.0271), ("10Y", 0.0287), ("15Y", 0.0296)]
SPOT = 1.0837


def build_market():
    quotes = {"usd-sofr": [quelm.Ois(t, r, index="sofr") for t, r in SOFR],
              "eur-estr": [quelm.Ois(t, r, index="estr") for t, r in ESTR],
              "eur-euribor-6m": ([quelm.Swap(t, r) for t, r in EURIBOR], {"discount_curve": "eur-estr"})}
    curves = quelm.Market.bootstrap(REF, quotes, fx={"EURUSD": SPOT})
    smile = quelm.FxSmile.from_quotes_at(SPOT, "2027-03-02", curves.curve("usd-sofr"), curves.curve("eur-estr"),
                                         0.080, [-0.005, -0.009], [0.0025, 0.008], deltas=[0.25, 0.1])
    strikes = [4500.0, 4800.0, 5000.0, 5200.0, 5500.0]
    spx = quelm.VolSurface.from_vols(strikes * 2, [0.5] * 5 + [1.0] * 5,
                                     [0.24, 0.215, 0.20, 0.19, 0.175, 0.23, 0.21, 0.20, 0.19, 0.178], 5000.0,
                                     rate=0.04, dividend_yield=0.013)
    acme = quelm.CreditCurve.bootstrap(REF, [("1Y", 0.006), ("3Y", 0.011), ("5Y", 0.014)], curves.curve("usd-sofr"))
    return quelm.Market.bootstrap(
        REF, quotes, fx={"EURUSD": SPOT}, surfaces={"eurusd": smile, "spx": spx}, credit_curves={"acme": acme},
        rate_vols={"eur-vol": quelm.RateVol(0.0085, model="bachelier"),
                   "eur-hw": quelm.HullWhite(0.03, 0.008, curves.curve("eur-estr"))})


MARKET = build_market()
CAL = quelm.Calendar("target")
TRADES = {
    "ois": quelm.Ois("4Y", 0.039, index="sofr", notional=1e7),
    "swap": quelm.Swap("7Y", 0.028, notional=-5e6, curve="eur-euribor-6m"),
    "bond": (quelm.FixedRateBond.dated("2024-05-15", "2031-05-15", 0.04, frequency=2), "usd-sofr"),
    "swaption": quelm.Swaption("2Y", "5Y", 0.027, notional=1e7, curve="eur-euribor-6m", vol="eur-vol"),
    "cap": quelm.CapFloor("cap", "3Y", 0.028, notional=1e7, curve="eur-euribor-6m", vol="eur-vol"),
    "bermudan": quelm.BermudanSwaption([CAL.adjust(datetime.date(2027 + k, 3, 2), "modified-following")
                                        for k in range(4)], datetime.date(2033, 3, 2), 0.027, notional=1e7,
                                       curve="eur-euribor-6m", vol="eur-hw"),
    "fx forward": quelm.FxForward("EURUSD", "2026-09-02", 1.09, notional=2e6),
    "fx option": quelm.FxOption("EURUSD", "2027-03-02", 1.12, "call", notional=1e6),
    "spx call": quelm.EuropeanOption("spx", 5100.0, "2027-03-02", "call", notional=10.0, curve="usd-sofr"),
    "spx american put": quelm.AmericanOption("spx", 4800.0, "2026-09-02", "put", notional=10.0, curve="usd-sofr"),
    "cds": quelm.Cds("2031-06-20", 0.01, trade_date=REF, notional=1e7),
}
BOOK = quelm.Book(list(TRADES.values()), names=list(TRADES))


def test_the_book_is_the_sum_of_its_trades_and_its_report_their_reports():
    value = BOOK.npv(MARKET, currency="USD")
    risk = BOOK.risk(MARKET, currency="USD")
    assert set(value["by_trade"]) == set(TRADES)
    assert value["total"] == pytest.approx(sum(value["by_trade"].values()), rel=1e-14)
    for name, trade in TRADES.items():
        alone = quelm.Book([trade], names=[name])
        assert alone.npv(MARKET, currency="USD")["total"] == value["by_trade"][name]
        own = alone.risk(MARKET, currency="USD")
        row = dict(zip(risk.labels, risk.by_trade[name]))
        for label, amount in own.total.items():
            assert row[label] == pytest.approx(amount, rel=1e-12, abs=1e-9), (name, label)
    # Every kind of quote shows: curves, the FX spot, the smile, the rate vol, the model, credit.
    labels = set(risk.labels)
    for expected in ("usd-sofr 5Y", "eur-estr 10Y", "eur-euribor-6m 5Y", "eur-vol vol", "eur-hw sigma", "acme 5Y"):
        assert expected in labels
    assert any(label.startswith("EURUSD") for label in labels)


def test_it_pickles_and_keeps_its_bits_at_any_thread_count():
    report = BOOK.risk(MARKET)
    again = pickle.loads(pickle.dumps((BOOK, MARKET)))
    assert again[0].npv(again[1]) == BOOK.npv(MARKET)
    assert again[0].risk(again[1]).total == report.total
    from conftest import same_output_across_threads
    here = str(pathlib.Path(__file__).parent)
    same_output_across_threads(
        f"import sys; sys.path.insert(0, {here!r})\n"
        "from test_desk_book import BOOK, MARKET\n"
        "print([x.hex() for x in BOOK.risk(MARKET).total.values()], BOOK.npv(MARKET)['total'].hex())\n")


def test_historical_var_revalues_the_whole_book():
    pd = pytest.importorskip("pandas")
    np = pytest.importorskip("numpy")
    rng = np.random.default_rng(5)
    steps = rng.normal(0.0, 0.0004, (21, 3)).cumsum(axis=0)
    history = pd.DataFrame({"usd-sofr 5Y": 0.0388 + steps[:, 0], "eur-euribor-6m 10Y": 0.0287 + steps[:, 1],
                            "EURUSD": SPOT * np.exp(steps[:, 2])}, index=pd.bdate_range("2026-01-01", periods=21))
    var = BOOK.historical_var(MARKET, history, level=0.9, currency="USD")
    assert var["scenarios"] == 20 and len(var["pnl"]) == 20
    # The first scenario is the market moved by the first day's changes, revalued in full.
    first = MARKET.shifted(MARKET.historical_shifts(history).iloc[0].to_dict())
    expected = BOOK.npv(first, currency="USD")["total"] - BOOK.npv(MARKET, currency="USD")["total"]
    assert var["pnl"][0] == pytest.approx(expected, rel=1e-9, abs=1e-6)
