"""FX options in a book priced on the market's FX smiles: the value against Garman-Kohlhagen
at the smile's vol, the smile rebuilt on the market's spot and curves, and the risk to the
spot, every curve quote and every smile quote against moving that input and rebuilding the
market (and so the smile); pickling, scenarios and errors."""
from __future__ import annotations

import math
import pickle

import pytest

import quelm

REF = "2026-03-02"
SOFR = [("6M", 0.0431), ("1Y", 0.0422), ("2Y", 0.0405), ("5Y", 0.0388)]
ESTR = [("6M", 0.0231), ("1Y", 0.0224), ("2Y", 0.0219), ("5Y", 0.0236)]
SPOT = 1.0837
# EURUSD-like quotes at 6M and 1Y: atm, then (rr, bf) at 25 and 10 delta.
QUOTES = {"2026-09-02": (0.076, [-0.004, -0.0075], [0.0022, 0.0071]),
          "2027-03-02": (0.080, [-0.005, -0.009], [0.0025, 0.008])}


def curves_market(moved=None, spot=SPOT, surfaces=None):
    def rate(curve, tenor, r):
        return r + moved[1] if moved and moved[0] == f"{curve} {tenor}" else r
    quotes = {"usd-sofr": [quelm.Ois(t, rate("usd-sofr", t, r), index="sofr") for t, r in SOFR],
              "eur-estr": [quelm.Ois(t, rate("eur-estr", t, r), index="estr") for t, r in ESTR]}
    return quelm.Market.bootstrap(REF, quotes, fx={"EURUSD": spot}, surfaces=surfaces or {})


BASE_CURVES = curves_market()


def smile(expiry, quotes=None, **options):
    atm, rr, bf = quotes or QUOTES[expiry]
    return quelm.FxSmile.from_quotes_at(SPOT, expiry, BASE_CURVES.curve("usd-sofr"), BASE_CURVES.curve("eur-estr"),
                                        atm, rr, bf, deltas=[0.25, 0.1], **options)


def surface(quotes=None):
    quotes = quotes or QUOTES
    return quelm.FxVolSurface([smile(e, quotes[e]) for e in quotes])


CALL = quelm.FxOption("EURUSD", "2027-03-02", 1.12, "call", notional=1e6)
PUT_EUR = quelm.FxOption("EURUSD", "2027-03-02", 1.04, "put", notional=-2e6, premium_currency="EUR")
MID = quelm.FxOption("EURUSD", "2026-12-01", 1.10, "call", notional=1e6, surface="eurusd")


def test_value_is_garman_kohlhagen_at_the_smile_vol_on_the_curves():
    m = curves_market(surfaces={"eurusd": smile("2027-03-02")})
    usd, eur = m.curve("usd-sofr"), m.curve("eur-estr")
    t = 365 / 365.0
    rd, rf = -math.log(usd.discount("2027-03-02")) / t, -math.log(eur.discount("2027-03-02")) / t
    s = smile("2027-03-02")
    for option in (CALL, PUT_EUR):
        price = quelm.garman_kohlhagen(SPOT, option.strike, rd, rf, s.vol(option.strike), t, option.option_type)
        unit = 1 / SPOT if option.premium_currency == "EUR" else 1.0
        assert option.npv(m) == pytest.approx(option.notional * price * unit, rel=1e-14)
    # The market's spot and curves are the smile's: one built on other rates and spot (and a
    # plain t of one year) prices the same, since the market rebuilds it on its own.
    other = quelm.FxSmile.from_quotes(1.2, 1.0, 0.01, 0.0, 0.080, [-0.005, -0.009], [0.0025, 0.008],
                                      deltas=[0.25, 0.1])
    assert CALL.npv(curves_market(surfaces={"eurusd": other})) == pytest.approx(CALL.npv(m), rel=1e-13)
    # The Greeks are Garman-Kohlhagen's at that vol (sticky strike).
    g = quelm.fx_greeks(SPOT, 1.12, rd, rf, s.vol(1.12), t, "call")
    report = quelm.Book([CALL], names=["c"]).risk(m)
    assert report.greeks["c"]["gamma"] == pytest.approx(1e6 * g["gamma"], rel=1e-12)
    assert report.greeks["c"]["vega"] == pytest.approx(1e6 * g["vega"] * 0.01, rel=1e-12)


def test_a_smile_wins_over_a_surface_of_the_same_pair_and_a_surface_interpolates_in_time():
    flat = quelm.VolSurface.from_vols([0.95, 1.02, 1.08, 1.14, 1.22], [1.0] * 5, [0.2] * 5, SPOT)
    m = curves_market(surfaces={"eurusd": smile("2027-03-02"), "EURUSD": flat})
    assert CALL.npv(m) == CALL.npv(curves_market(surfaces={"eurusd": smile("2027-03-02")}))
    # Between the smiles the surface's vol in total variance, on the market's forward.
    m = curves_market(surfaces={"eurusd": surface()})
    usd, eur = m.curve("usd-sofr"), m.curve("eur-estr")
    t = 274 / 365.0
    rd, rf = -math.log(usd.discount("2026-12-01")) / t, -math.log(eur.discount("2026-12-01")) / t
    vol = surface().vol(1.10, t)
    price = quelm.garman_kohlhagen(SPOT, 1.10, rd, rf, vol, t, "call")
    assert MID.npv(m) == pytest.approx(1e6 * price, rel=1e-13)


def bumped_npv(book, label, h, smiles):
    """The book's values with one input moved by h: a curve quote, the spot, or a smile quote,
    the smiles keeping the others (the market rebuilds them on its spot and curves)."""
    if label == "EURUSD":
        return book.npv(curves_market(spot=SPOT + h, surfaces=smiles(None, 0.0)))["by_trade"]
    if label.startswith("eurusd "):
        return book.npv(curves_market(surfaces=smiles(label, h)))["by_trade"]
    return book.npv(curves_market((label, h), surfaces=smiles(None, 0.0)))["by_trade"]


def moved_quotes(label, h):
    """QUOTES with the smile quote `label` ("eurusd 1y 25 rr") moved by h."""
    out = {e: (a, list(rr), list(bf)) for e, (a, rr, bf) in QUOTES.items()}
    if label is None:
        return out
    _, tenor, *rest = label.split()
    expiry = {"0.5041y": "2026-09-02", "1y": "2027-03-02"}[tenor]
    atm, rr, bf = out[expiry]
    if rest == ["atm"]:
        out[expiry] = (atm + h, rr, bf)
    else:
        i = {"25": 0, "10": 1}[rest[0]]
        (rr if rest[1] == "rr" else bf)[i] += h
    return out


@pytest.mark.parametrize("form", ["smile", "surface"])
def test_risk_to_spot_curves_and_smile_quotes_is_bump_and_rebuild(form):
    if form == "smile":
        smiles = lambda label, h: {"eurusd": smile("2027-03-02", moved_quotes(label, h)["2027-03-02"])}
        book = quelm.Book([CALL, PUT_EUR], names=["call", "put"])
    else:
        smiles = lambda label, h: {"eurusd": surface(moved_quotes(label, h))}
        book = quelm.Book([CALL, PUT_EUR, MID], names=["call", "put", "mid"])
    report = book.risk(curves_market(surfaces=smiles(None, 0.0)))
    smile_labels = [x for x in report.labels if x.startswith("eurusd ")]
    assert len(smile_labels) == (5 if form == "smile" else 10)
    assert smile_labels[:5] == ["eurusd 1y atm", "eurusd 1y 25 rr", "eurusd 1y 25 bf", "eurusd 1y 10 rr",
                                "eurusd 1y 10 bf"] or form == "surface"
    for j, label in enumerate(report.labels):
        # Per unit of spot, per basis point of a curve quote, per vol point of a smile quote.
        h, unit = (1e-6, 1.0) if label == "EURUSD" else (1e-6, 1e-4) if " " in label and not label.startswith(
            "eurusd ") else (1e-6, 0.01)
        up, down = bumped_npv(book, label, h, smiles), bumped_npv(book, label, -h, smiles)
        for name in book.names:
            numeric = (up[name] - down[name]) / (2 * h) * unit
            scale = max(abs(x) for x in report.by_trade[name])
            assert report.by_trade[name][j] == pytest.approx(numeric, rel=1e-7, abs=1e-8 * scale), (name, label)
    # Smile quotes move the value (the atm most); the 1Y options see nothing of the 6M smile
    # beyond what the surface's interpolation gives them at their own expiry.
    atm = report.labels.index("eurusd 1y atm")
    assert report.by_trade["call"][atm] > 0 > report.by_trade["put"][atm]


def test_market_with_smiles_pickles_compares_and_moves_in_scenarios():
    m = curves_market(surfaces={"eurusd": surface()})
    back = pickle.loads(pickle.dumps(m))
    assert back == m and isinstance(back.surface_names, tuple)
    assert MID.npv(back) == MID.npv(m)
    assert m != curves_market(surfaces={"eurusd": surface(moved_quotes("eurusd 1y atm", 1e-4))})
    # A scenario moving the spot rebuilds the smile on it, as a market made at that spot does.
    book = quelm.Book([CALL], names=["c"])
    moved = book.scenario(m, {"EURUSD": 0.01})
    direct = book.npv(curves_market(spot=SPOT + 0.01, surfaces={"eurusd": surface()}))["total"]
    assert moved["total"] == pytest.approx(direct - book.npv(m)["total"], rel=1e-9)


def test_a_smile_off_the_curves_dates_is_refused_by_name():
    odd = quelm.FxSmile.from_quotes(SPOT, 0.77777, 0.04, 0.02, 0.08, -0.005, 0.0025)
    m = curves_market(surfaces={"eurusd": odd})
    with pytest.raises(ValueError, match=r"fx option EURUSD: FX smile eurusd: the smile at t=0\.77777 is at no "
                                         r"date on curve usd-sofr's day count"):
        CALL.npv(m)
    with pytest.raises(TypeError, match="surface eurusd: expected quelm.VolSurface, FxSmile or FxVolSurface, got int"):
        curves_market(surfaces={"eurusd": 3})


def test_the_shared_rebuild_gives_the_same_bits_in_any_order():
    # The rebuilt smiles are kept for the next trade on the same spot and curves: values and
    # risk must not depend on what was priced before, nor on the other market using them.
    s = surface()
    book = quelm.Book([CALL, PUT_EUR, MID], names=["call", "put", "mid"])
    first = book.risk(curves_market(surfaces={"eurusd": s}))
    m = curves_market(surfaces={"eurusd": s})
    book.npv(curves_market(spot=SPOT + 0.01, surfaces={"eurusd": s}))
    again = book.risk(m)
    assert again.by_trade == first.by_trade and again.greeks == first.greeks
    assert [book.npv(m)["by_trade"][n] for n in book.names] == [
        quelm.Book([t]).npv(curves_market(surfaces={"eurusd": surface()}))["total"] for t in (CALL, PUT_EUR, MID)]


def test_var_and_a_reporting_currency_see_the_smile():
    pd = pytest.importorskip("pandas")
    m = curves_market(surfaces={"eurusd": surface()})
    book = quelm.Book([CALL, MID], names=["call", "mid"])
    history = pd.DataFrame({"EURUSD": [1.08, 1.09, 1.075]}, index=pd.date_range("2026-02-26", periods=3))
    var = book.historical_var(m, history, level=0.9)
    # Each day's P&L is the book repriced on the moved spot, the smile rebuilt there.
    # FX moves are relative: the spot times each day's return.
    for pnl, shift in zip(var["pnl"], (SPOT * (1.09 / 1.08 - 1), SPOT * (1.075 / 1.09 - 1))):
        assert pnl == pytest.approx(book.scenario(m, {"EURUSD": shift})["total"], rel=1e-9)
    # In euros a smile quote's column is the dollar one over the spot (the spot fixed).
    eur, usd = book.risk(m, currency="EUR"), book.risk(m)
    assert eur.total["eurusd 0.5041y 25 rr"] == pytest.approx(usd.total["eurusd 0.5041y 25 rr"] / SPOT, rel=1e-14)
