"""Bermudan swaptions in a book, priced by finite differences on a market Hull-White model:
the value against HullWhite.price on the market's curve (to the bit), the exact curve risk
(the grid's adjoint) against bumping each quote and bootstrapping the market again, through a
projection curve and its discount curve, the sigma vega against moving sigma, scenarios,
pickling and errors."""
from __future__ import annotations

import datetime
import pickle

import pytest

import quelm

REF = datetime.date(2026, 3, 2)
ESTR = [("6M", 0.0231), ("1Y", 0.0224), ("2Y", 0.0219), ("5Y", 0.0236), ("10Y", 0.0251), ("15Y", 0.0262)]
EURIBOR = [("1Y", 0.0262), ("2Y", 0.0258), ("5Y", 0.0271), ("10Y", 0.0287), ("15Y", 0.0296)]
H = 1e-6


def market(moved=None, sigma=0.009, a=0.04):
    def rate(curve, tenor, r):
        return r + moved[1] if moved and moved[0] == f"{curve} {tenor}" else r
    ois = [quelm.Ois(t, rate("eur-estr", t, r), index="estr") for t, r in ESTR]
    swaps = [quelm.Swap(t, rate("eur-euribor-6m", t, r)) for t, r in EURIBOR]
    model = quelm.HullWhite(a, sigma, quelm.YieldCurve.flat(0.02, reference_date=REF))
    return quelm.Market.bootstrap(REF, {"eur-estr": ois, "eur-euribor-6m": (swaps, {"discount_curve": "eur-estr"})},
                                  rate_vols={"eur-hw": model, "eur-vol": 0.2})


BASE = market()
CAL = quelm.Calendar("target")
EXERCISES = [CAL.adjust(datetime.date(2027 + k, 3, 2), "modified-following") for k in range(6)]
TRADES = {
    "payer": quelm.BermudanSwaption(EXERCISES, datetime.date(2036, 3, 2), 0.028, notional=1e6,
                                    curve="eur-euribor-6m", vol="eur-hw"),
    "receiver": quelm.BermudanSwaption(EXERCISES[2:], datetime.date(2034, 3, 2), 0.026, kind="receiver",
                                       fixed_frequency=2, notional=-2e6, curve="eur-estr", vol="eur-hw"),
}
BOOK = quelm.Book(list(TRADES.values()), names=list(TRADES))


def test_value_is_hull_white_by_finite_differences_on_the_market_curve():
    by_trade = BOOK.npv(BASE)["by_trade"]
    for name, trade in TRADES.items():
        model = quelm.HullWhite(0.04, 0.009, BASE.curve(trade.curve))
        assert by_trade[name] == model.price(trade, method="pde")
    # The model's own curve is not read: only its a and sigma.
    assert BASE.rate_vol("eur-hw") == quelm.HullWhite(0.04, 0.009, quelm.YieldCurve.flat(0.02, reference_date=REF))


def rows(risk):
    return {name: dict(zip(risk.labels, risk.by_trade[name])) for name in risk.names}


def test_curve_risk_is_bump_and_rebuild_of_every_quote():
    risk = rows(BOOK.risk(BASE))
    for curve, pillars in (("eur-estr", ESTR), ("eur-euribor-6m", EURIBOR)):
        for tenor, _ in pillars:
            label = f"{curve} {tenor}"
            up, down = (BOOK.npv(market((label, s)))["by_trade"] for s in (H, -H))
            for name in TRADES:
                bumped = (up[name] - down[name]) / (2 * H) * 1e-4
                assert risk[name].get(label, 0.0) == pytest.approx(bumped, rel=1e-6, abs=1e-5), (name, label)
    # The payer on the projection curve reads its discount curve's quotes through it.
    assert any(k.startswith("eur-estr ") and v != 0.0 for k, v in risk["payer"].items())


def test_sigma_vega_is_the_move_of_sigma_per_basis_point():
    risk = rows(BOOK.risk(BASE))
    up, down = (BOOK.npv(market(sigma=0.009 + s))["by_trade"] for s in (1e-6, -1e-6))
    for name in TRADES:
        assert risk[name]["eur-hw sigma"] == pytest.approx((up[name] - down[name]) / 2e-6 * 1e-4, rel=1e-5)
    assert risk["payer"]["eur-hw sigma"] > 0


def test_scenarios_reprice_and_the_book_pickles():
    pnl = BOOK.scenario(BASE, {"eur-euribor-6m 10Y": 0.001})["by_trade"]
    before, after = BOOK.npv(BASE)["by_trade"], BOOK.npv(market(("eur-euribor-6m 10Y", 0.001)))["by_trade"]
    assert pnl == {name: pytest.approx(after[name] - before[name], abs=1e-9) for name in TRADES}
    again = pickle.loads(pickle.dumps(BOOK))
    assert again == BOOK and again.npv(pickle.loads(pickle.dumps(BASE))) == BOOK.npv(BASE)
    model = BASE.rate_vol("eur-hw")
    assert pickle.loads(pickle.dumps(model)) == model
    assert "curve='eur-euribor-6m', vol='eur-hw'" in repr(TRADES["payer"])
    assert TRADES["payer"].curve == "eur-euribor-6m" and quelm.BermudanSwaption(EXERCISES, "2036-03-02", 0.03).vol is None


def test_a_bermudan_needs_a_hull_white_model_and_a_swaption_refuses_one():
    plain = quelm.BermudanSwaption(EXERCISES, datetime.date(2036, 3, 2), 0.028, curve="eur-estr", vol="eur-vol")
    with pytest.raises(ValueError, match="rate vol eur-vol is not a Hull-White model: give Bermudan swaptions a "
                                         "HullWhite"):
        quelm.Book([plain]).npv(BASE)
    with pytest.raises(ValueError, match="name its rate vol"):
        quelm.Book([quelm.BermudanSwaption(EXERCISES, datetime.date(2036, 3, 2), 0.028, curve="eur-estr")]).npv(BASE)
    with pytest.raises(ValueError, match="is a Hull-White model, which prices Bermudan swaptions"):
        quelm.Book([quelm.Swaption("2Y", "5Y", 0.03, curve="eur-estr", vol="eur-hw")]).npv(BASE)
    with pytest.raises(ValueError, match="curve names must not be empty"):
        quelm.BermudanSwaption(EXERCISES, datetime.date(2036, 3, 2), 0.028, curve="")
