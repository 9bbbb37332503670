"""American and barrier options as trades of a book, priced by the finite-difference engine
on a market surface: the value is fd_price on the surface's forward and implied volatility
and the curve's discount factor; curve risk against bumping each quote and rebuilding the
market; Greeks and vega against the engine bumped; pickling, repr and errors."""
from __future__ import annotations

import datetime
import math
import pickle

import pytest

import quelm

REF = "2026-03-02"
SOFR = [("6M", 0.0431), ("1Y", 0.0422), ("2Y", 0.0405), ("5Y", 0.0388), ("10Y", 0.0389)]
STRIKES = [80.0, 90.0, 100.0, 110.0, 120.0]
SMILE = [0.26, 0.23, 0.21, 0.2, 0.205]


def surface() -> quelm.VolSurface:
    # A dividend yield above the rates: early exercise of the calls matters too.
    return quelm.VolSurface.from_vols(STRIKES * 3, [0.5] * 5 + [1.0] * 5 + [2.0] * 5,
                                      SMILE + [v - 0.01 for v in SMILE] + [v - 0.015 for v in SMILE],
                                      100.0, rate=0.03, dividend_yield=0.05)


SURFACE = surface()


def market(moved: tuple[str, float] | None = None) -> quelm.Market:
    quotes = [quelm.Ois(t, r + (moved[1] if moved and moved[0] == f"usd-sofr {t}" else 0.0), index="sofr")
              for t, r in SOFR]
    return quelm.Market.bootstrap(REF, {"usd-sofr": quotes}, surfaces={"spx": SURFACE})


BASE = market()
PUT = quelm.AmericanOption("spx", 104.0, "2027-06-15", "put", notional=300.0)
CALL = quelm.AmericanOption("spx", 95.0, "2026-11-01", "call", notional=-200.0, curve="usd-sofr")
UP_OUT = quelm.BarrierOption("spx", 100.0, "2027-03-02", "call", 125.0, "up-out", rebate=1.5, notional=400.0)
DOWN_IN = quelm.BarrierOption("spx", 100.0, "2027-03-02", "put", 85.0, "down-in", notional=-250.0)
TRADES = [PUT, CALL, UP_OUT, DOWN_IN]
NAMES = ["put", "call", "up-out", "down-in"]


def inputs(option) -> tuple[float, float, float, float]:
    """The Black-Scholes inputs the trade reads: (t, r, vol, q)."""
    t = (option.expiry - datetime.date.fromisoformat(REF)).days / 365.0
    r = -math.log(BASE.curve("usd-sofr").discount(option.expiry.isoformat())) / t
    q = r - math.log(SURFACE.forward(t) / 100.0) / t
    return t, r, SURFACE.vol(option.strike, t), q


def engine(option, **bumps):
    t, r, vol, q = inputs(option)
    r, vol, q = r + bumps.get("r", 0.0), vol + bumps.get("vol", 0.0), q + bumps.get("r", 0.0)
    if isinstance(option, quelm.AmericanOption):
        return quelm.fd_price(100.0, option.strike, r, vol, t, option.option_type, q, style="american")
    return quelm.fd_price(100.0, option.strike, r, vol, t, option.option_type, q, barrier=option.barrier,
                          barrier_type=option.barrier_type, rebate=option.rebate)


def test_value_is_the_engine_on_the_surface_and_the_curve():
    for option in TRADES:
        assert option.npv(BASE) == option.notional * engine(option)["price"]
    assert quelm.Book(TRADES, names=NAMES).npv(BASE)["total"] == pytest.approx(
        sum(o.npv(BASE) for o in TRADES), rel=1e-14)
    # Early exercise is worth something over the book's European on the same terms, and
    # knock-in plus knock-out is the European (the engine's accuracy apart).
    european = quelm.EuropeanOption("spx", 104.0, "2027-06-15", "put", notional=300.0)
    assert PUT.npv(BASE) > european.npv(BASE) + 1.0
    legs = [quelm.BarrierOption("spx", 100.0, "2027-03-02", "put", 85.0, kind) for kind in ("down-in", "down-out")]
    vanilla = quelm.EuropeanOption("spx", 100.0, "2027-03-02", "put")
    assert sum(o.npv(BASE) for o in legs) == pytest.approx(vanilla.npv(BASE), rel=2e-4)


def test_a_european_on_the_engine_is_the_analytic_one_within_the_grid():
    analytic = quelm.EuropeanOption("spx", 104.0, "2027-06-15", "put", notional=300.0)
    fd = quelm.EuropeanOption("spx", 104.0, "2027-06-15", "put", notional=300.0, engine="fd")
    t, r, vol, q = inputs(fd)
    assert fd.npv(BASE) == 300.0 * quelm.fd_price(100.0, 104.0, r, vol, t, "put", q)["price"]
    assert fd.npv(BASE) == pytest.approx(analytic.npv(BASE), rel=1e-4)
    report = quelm.Book([analytic, fd], names=["analytic", "fd"]).risk(BASE)
    for j, label in enumerate(report.labels):
        assert report.by_trade["fd"][j] == pytest.approx(report.by_trade["analytic"][j], rel=2e-3, abs=1e-3), label
    for greek in ("delta", "gamma", "vega", "theta"):
        assert report.greeks["fd"][greek] == pytest.approx(report.greeks["analytic"][greek], rel=2e-3), greek
    assert fd != analytic and fd.engine == "fd" and analytic.engine == "analytic"
    assert pickle.loads(pickle.dumps(fd)) == fd
    assert repr(fd) == "<EuropeanOption put on spx 104 expiring 2027-06-15 by fd>"
    with pytest.raises(ValueError, match='european option: engine must be "analytic" or "fd", got "tree"'):
        quelm.EuropeanOption("spx", 104.0, "2027-06-15", "put", engine="tree")


def test_curve_risk_is_bump_and_rebuild():
    book = quelm.Book(TRADES, names=NAMES)
    report = book.risk(BASE)
    h = 1e-6
    for j, label in enumerate(report.labels):
        if " vol " in label:
            continue
        up, down = book.npv(market((label, h)))["by_trade"], book.npv(market((label, -h)))["by_trade"]
        for name in NAMES:
            numeric = (up[name] - down[name]) / (2 * h) * 1e-4
            scale = max(abs(x) for x in report.by_trade[name])
            assert report.by_trade[name][j] == pytest.approx(numeric, rel=1e-6, abs=1e-6 * scale), (name, label)
    # The curve moves these values only through the rate to expiry: not zero, and the
    # quotes after the expiry's interval see nothing.
    ten = report.labels.index("usd-sofr 10Y")
    assert all(report.by_trade[n][ten] == 0.0 for n in NAMES)
    assert report.by_trade["put"][report.labels.index("usd-sofr 1Y")] != 0.0


def test_greeks_and_vega_are_the_engines():
    report = quelm.Book(TRADES, names=NAMES).risk(BASE)
    for option, name in zip(TRADES, NAMES):
        g, base = report.greeks[name], engine(option)
        n = option.notional
        assert g["delta"] == n * base["delta"] and g["gamma"] == n * base["gamma"]
        assert g["theta"] == n * base["theta"]
        # fd_price's own grid widens with the vol: the trade's fixed grid differs by little.
        h = 1e-4
        bumped = (engine(option, vol=h)["price"] - engine(option, vol=-h)["price"]) / (2 * h)
        assert g["vega"] == pytest.approx(n * bumped * 0.01, rel=2e-3), name
        # Shared over the slices about the expiry as the surface interpolates total variance:
        # a point on both moves the vol at the strike by about a point.
        vegas = [x for label, x in zip(report.labels, report.by_trade[name]) if " vol " in label]
        assert sum(vegas) == pytest.approx(g["vega"], rel=1e-3)
        assert 1 <= sum(1 for x in vegas if x != 0.0) <= 2
    # A long American put: delta negative, gamma positive; the short call the mirror.
    assert report.greeks["put"]["delta"] < 0 < report.greeks["put"]["gamma"]
    assert report.greeks["call"]["delta"] < 0 and report.greeks["call"]["gamma"] < 0


def test_scenarios_and_var_see_the_curve():
    book = quelm.Book(TRADES, names=NAMES)
    shift = book.scenario(BASE, {"usd-sofr 1Y": 0.0001, "usd-sofr 2Y": 0.0001})
    moved = market(("usd-sofr 1Y", 0.0001))
    moved = quelm.Market.bootstrap(REF, {"usd-sofr": [
        quelm.Ois(t, r + (0.0001 if t in ("1Y", "2Y") else 0.0), index="sofr") for t, r in SOFR]},
        surfaces={"spx": SURFACE})
    for o, name in zip(TRADES, NAMES):
        assert shift["by_trade"][name] == pytest.approx(o.npv(moved) - o.npv(BASE), rel=1e-9, abs=1e-9)
    pd = pytest.importorskip("pandas")
    days = pd.bdate_range("2025-01-01", periods=40)
    history = pd.DataFrame({f"usd-sofr {t}": [r + 0.0005 * math.sin(i + k) for i in range(40)]
                            for k, (t, r) in enumerate(SOFR)}, index=days)
    var = book.historical_var(BASE, history, level=0.95)
    assert var["var"] > 0 and var["first_order"] == pytest.approx(var["var"], rel=0.05)


def test_trades_pickle_compare_and_describe():
    for trade in TRADES:
        back = pickle.loads(pickle.dumps(trade))
        assert back == trade and repr(back) == repr(trade)
    book = quelm.Book(TRADES, names=NAMES)
    assert pickle.loads(pickle.dumps(book)) == book and book.trades[2] == UP_OUT
    assert pickle.loads(pickle.dumps(BASE)) == BASE
    assert repr(PUT) == "<AmericanOption put on spx 104 expiring 2027-06-15>"
    assert repr(UP_OUT) == "<BarrierOption up-out call on spx 100 barrier 125 expiring 2027-03-02>"
    assert PUT != quelm.AmericanOption("spx", 104.0, "2027-06-15", "call", notional=300.0)
    assert (UP_OUT.barrier, UP_OUT.barrier_type, UP_OUT.rebate, UP_OUT.curve) == (125.0, "up-out", 1.5, None)
    assert CALL.curve == "usd-sofr" and PUT.expiry == datetime.date(2027, 6, 15) and PUT.option_type == "put"
    # Reported in the discount curve's currency.
    assert quelm.Book([PUT, UP_OUT]).npv(BASE, currency="USD")["total"] == pytest.approx(
        PUT.npv(BASE) + UP_OUT.npv(BASE), rel=1e-14)


@pytest.mark.parametrize("call, text", [
    (lambda: quelm.AmericanOption("", 100.0, "2027-03-02", "put"), "american option: underlying must not be empty"),
    (lambda: quelm.AmericanOption("spx", -1.0, "2027-03-02", "put"),
     "american option: strike must be positive and finite, got -1"),
    (lambda: quelm.AmericanOption("spx", 100.0, "2027-03-02", "put", notional=math.nan),
     "american option: notional must be finite, got NaN"),
    (lambda: quelm.AmericanOption("spx", 100.0, "2027-03-02", "put", curve=""), "curve names must not be empty"),
    (lambda: quelm.BarrierOption("spx", 100.0, "2027-03-02", "put", 0.0, "down-out"),
     "barrier option: barrier must be positive and finite, got 0"),
    (lambda: quelm.BarrierOption("spx", 100.0, "2027-03-02", "put", 90.0, "down-out", rebate=-1.0),
     "barrier option: rebate must be >= 0 and finite, got -1"),
    (lambda: quelm.BarrierOption("spx", 100.0, "2027-03-02", "put", 90.0, "sideways"), "barrier_type"),
])
def test_bad_terms_are_refused(call, text):
    with pytest.raises(ValueError) as e:
        call()
    assert text in str(e.value)


@pytest.mark.parametrize("make, text", [
    (lambda: quelm.AmericanOption("ndx", 100.0, "2027-03-02", "put"),
     "trade 0: option on ndx: no surface ndx in the market"),
    (lambda: quelm.BarrierOption("spx", 100.0, "2025-03-02", "put", 90.0, "down-out"),
     "trade 0: option on spx: expired on 2025-03-02, not after the market's date 2026-03-02"),
    (lambda: quelm.AmericanOption("spx", 100.0, "2027-03-02", "put", curve="eur-estr"),
     "trade 0: option on spx: no curve eur-estr in the market"),
])
def test_market_errors_name_the_trade(make, text):
    with pytest.raises(ValueError) as e:
        quelm.Book([make()]).npv(BASE)
    assert str(e.value).startswith(text)
