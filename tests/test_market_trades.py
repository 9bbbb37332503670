"""FX forwards and European options as trades of a book: values against the closed forms on
the market's curves, spots and surfaces; risk against bumping each quote (or spot) and
rebuilding the market; vega by slice against the surface's interpolation; pickling, errors
and the first-order VaR seeing FX."""
from __future__ import annotations

import datetime
import math
import pickle

import pytest

import quelm

REF = "2026-03-02"
SOFR = [("6M", 0.0431), ("1Y", 0.0422), ("2Y", 0.0405), ("5Y", 0.0388), ("10Y", 0.0389)]
ESTR = [("6M", 0.0231), ("1Y", 0.0224), ("2Y", 0.0219), ("5Y", 0.0236), ("10Y", 0.0262)]
STRIKES = [80.0, 90.0, 100.0, 110.0, 120.0]


def surface(shift: float = 0.0) -> quelm.VolSurface:
    smile = [0.26, 0.23, 0.21, 0.2, 0.205]
    return quelm.VolSurface.from_vols(STRIKES * 3, [0.5] * 5 + [1.0] * 5 + [2.0] * 5,
                                      [v + shift for v in smile] + [v - 0.01 for v in smile] + [v - 0.015 for v in smile],
                                      100.0, rate=0.03)


def fx_surface() -> quelm.VolSurface:
    """A EURUSD smile by strike at 3M, 1Y and 2Y."""
    strikes = [0.95, 1.02, 1.08, 1.14, 1.22]
    smile = [0.092, 0.081, 0.076, 0.079, 0.088]
    return quelm.VolSurface.from_vols(strikes * 3, [0.25] * 5 + [1.0] * 5 + [2.0] * 5,
                                      smile + [v + 0.004 for v in smile] + [v + 0.006 for v in smile], 1.0837)


def market(moved: tuple[str, float] | None = None, spot: float = 1.0837, **parts) -> quelm.Market:
    def rate(curve, tenor, r):
        return r + moved[1] if moved and moved[0] == f"{curve} {tenor}" else r
    quotes = {"usd-sofr": [quelm.Ois(t, rate("usd-sofr", t, r), index="sofr") for t, r in SOFR],
              "eur-estr": [quelm.Ois(t, rate("eur-estr", t, r), index="estr") for t, r in ESTR]}
    parts.setdefault("surfaces", {"spx": surface(), "eurusd": fx_surface()})
    return quelm.Market.bootstrap(REF, quotes, fx={"EURUSD": spot}, **parts)


BASE = market()
FORWARD = quelm.FxForward("EURUSD", "2027-09-02", 1.09, notional=2e6)
CALL = quelm.EuropeanOption("spx", 104.0, "2027-06-15", "call", notional=300.0, curve="usd-sofr")
PUT = quelm.EuropeanOption("spx", 95.0, "2026-07-01", "put", notional=-500.0, curve="usd-sofr")
FX_CALL = quelm.FxOption("EURUSD", "2027-01-15", 1.12, "call", notional=1e6)
FX_PUT_EUR = quelm.FxOption("EURUSD", "2026-09-15", 1.05, "put", notional=-2e6, premium_currency="EUR")


def test_fx_forward_is_the_two_discounted_legs():
    usd, eur = BASE.curve("usd-sofr"), BASE.curve("eur-estr")
    expected = 2e6 * (1.0837 * eur.discount("2027-09-02") - 1.09 * usd.discount("2027-09-02"))
    assert FORWARD.npv(BASE) == pytest.approx(expected, rel=1e-14)
    # At the forward rate it is worth nothing; the opposite side is the negative.
    fair = 1.0837 * eur.discount("2027-09-02") / usd.discount("2027-09-02")
    assert quelm.FxForward("EURUSD", "2027-09-02", fair, notional=2e6).npv(BASE) == pytest.approx(0.0, abs=1e-6)
    short = quelm.FxForward("EURUSD", "2027-09-02", 1.09, notional=-2e6)
    assert short.npv(BASE) == -FORWARD.npv(BASE)
    # A market quoting the inverse pair values it the same, through 1 / spot.
    inverse = quelm.Market(REF, curves={"usd-sofr": usd, "eur-estr": eur}, fx={"USDEUR": 1.0 / 1.0837})
    assert FORWARD.npv(inverse) == pytest.approx(FORWARD.npv(BASE), rel=1e-13)


def test_option_is_black_scholes_on_the_surface_forward_and_the_curve_discount():
    usd = BASE.curve("usd-sofr")
    for option in (CALL, PUT):
        expiry = option.expiry.isoformat()
        t = (option.expiry - datetime.date.fromisoformat(REF)).days / 365.0
        p = usd.discount(expiry)
        s = surface()
        forward = s.forward(t)
        vol = s.vol(option.strike, t)
        r = -math.log(p) / t
        q = r - math.log(forward / 100.0) / t
        price = quelm.black_scholes(100.0, option.strike, r, vol, t, option.option_type, q)
        assert option.npv(BASE) == pytest.approx(option.notional * price, rel=1e-12)
        g = quelm.greeks(100.0, option.strike, r, vol, t, option.option_type, q)
        report = quelm.Book([option], names=["o"]).risk(BASE)
        mine = report.greeks["o"]
        assert mine["delta"] == pytest.approx(option.notional * g["delta"], rel=1e-12)
        assert mine["gamma"] == pytest.approx(option.notional * g["gamma"], rel=1e-12)
        assert mine["vega"] == pytest.approx(option.notional * g["vega"] * 0.01, rel=1e-12)
        assert mine["theta"] == pytest.approx(option.notional * g["theta"], rel=1e-12)


@pytest.fixture(scope="module")
def book():
    return quelm.Book([FORWARD, CALL, PUT, quelm.Ois("3Y", 0.04, index="sofr", notional=1e6), FX_CALL, FX_PUT_EUR],
                      names=["fwd", "call", "put", "ois", "fx call", "fx put"])


def test_fx_option_is_garman_kohlhagen_on_both_curves_and_the_smile():
    usd, eur = BASE.curve("usd-sofr"), BASE.curve("eur-estr")
    for option in (FX_CALL, FX_PUT_EUR):
        t = (option.expiry - datetime.date.fromisoformat(REF)).days / 365.0
        rd = -math.log(usd.discount(option.expiry)) / t
        rf = -math.log(eur.discount(option.expiry)) / t
        vol = fx_surface().vol(option.strike, t)
        price = quelm.black_scholes(1.0837, option.strike, rd, vol, t, option.option_type, rf)
        in_premium = price / 1.0837 if option.premium_currency == "EUR" else price
        assert option.npv(BASE) == pytest.approx(option.notional * in_premium, rel=1e-12)
    # Put-call parity with the forward on the same terms.
    call = quelm.FxOption("EURUSD", "2027-01-15", 1.09, "call", notional=1e6)
    put = quelm.FxOption("EURUSD", "2027-01-15", 1.09, "put", notional=1e6)
    forward = quelm.FxForward("EURUSD", "2027-01-15", 1.09, notional=1e6)
    assert call.npv(BASE) - put.npv(BASE) == pytest.approx(forward.npv(BASE), rel=1e-10)
    assert FX_PUT_EUR.premium_currency == "EUR" and FX_CALL.premium_currency == "USD"


def test_curve_and_fx_risk_are_bump_and_rebuild(book):
    report = book.risk(BASE)
    rows = report.by_trade
    h = 1e-6
    for j, label in enumerate(report.labels):
        if label == "EURUSD":
            up, down = book.npv(market(spot=1.0837 + h))["by_trade"], book.npv(market(spot=1.0837 - h))["by_trade"]
            unit = 1.0  # per unit of spot
        elif " vol " in label:
            continue
        else:
            up, down = book.npv(market((label, h)))["by_trade"], book.npv(market((label, -h)))["by_trade"]
            unit = 1e-4  # per basis point
        for name in book.names:
            numeric = (up[name] - down[name]) / (2 * h) * unit
            scale = max(abs(x) for x in rows[name])
            assert rows[name][j] == pytest.approx(numeric, rel=1e-7, abs=1e-7 * scale), (name, label)
    # The forward's FX delta is its notional in the base currency, discounted.
    fx = report.labels.index("EURUSD")
    assert rows["fwd"][fx] == pytest.approx(2e6 * BASE.curve("eur-estr").discount("2027-09-02"), rel=1e-14)
    # Options see no EUR quote and no FX; the forward no vol.
    estr = [j for j, label in enumerate(report.labels) if label.startswith("eur-estr")]
    assert all(rows["call"][j] == 0.0 for j in estr + [fx])
    assert all(x == 0.0 for label, x in zip(report.labels, rows["fwd"]) if " vol " in label)


def test_vega_is_shared_between_the_slices_around_the_expiry(book):
    report = book.risk(BASE)
    vols = [j for j, label in enumerate(report.labels) if label.startswith("spx vol ")]
    assert [report.labels[j] for j in vols] == ["spx vol 0.5y", "spx vol 1y", "spx vol 2y"]
    # FX options' vega is on their pair's surface, between its 3M and 1Y slices here.
    fx_vols = [j for j, label in enumerate(report.labels) if label.startswith("eurusd vol ")]
    fx_call = [report.by_trade["fx call"][j] for j in fx_vols]
    assert fx_call[0] > 0 and fx_call[1] > 0 and fx_call[2] == 0.0
    assert all(report.by_trade["fx call"][j] == 0.0 for j in vols)
    # The put expires before the first slice, where the surface is flat in vol: all its vega
    # is there.
    put = [report.by_trade["put"][j] for j in vols]
    assert put[0] == pytest.approx(report.greeks["put"]["vega"], rel=1e-14) and put[1:] == [0.0, 0.0]
    # The call (t ≈ 1.29) sits between 1y and 2y: a point on the 1y slice alone moves its
    # vol as the surface interpolates total variance, checked by a surface moved there.
    call = [report.by_trade["call"][j] for j in vols]
    assert call[0] == 0.0 and call[1] > 0 and call[2] > 0
    t = (CALL.expiry - datetime.date.fromisoformat(REF)).days / 365.0
    s = surface()
    x = (t - 1.0) / (2.0 - 1.0)
    k = CALL.strike / s.forward(t)
    v1, v2 = s.vol(k * s.forward(1.0), 1.0), s.vol(k * s.forward(2.0), 2.0)
    total_variance = (1 - x) * v1 ** 2 * 1.0 + x * v2 ** 2 * 2.0
    assert s.vol(CALL.strike, t) == pytest.approx(math.sqrt(total_variance / t), rel=1e-12)
    vol = math.sqrt(total_variance / t)
    for bucket, weight, v, tj in ((call[1], 1 - x, v1, 1.0), (call[2], x, v2, 2.0)):
        assert bucket == pytest.approx(report.greeks["call"]["vega"] * weight * v * tj / (vol * t), rel=1e-12)


def test_to_pandas_groups_fx_and_vol_columns(book):
    pytest.importorskip("pandas")
    frame = book.risk(BASE).to_pandas()
    assert ("fx", "EURUSD") in frame.columns and ("spx", "vol 1y") in frame.columns
    assert ("usd-sofr", "5Y") in frame.columns


def test_scenarios_and_var_move_the_forward_with_its_spot(book):
    up = book.scenario(BASE, {"EURUSD": 0.01})
    expected = FORWARD.npv(market(spot=1.0937)) - FORWARD.npv(BASE)
    assert up["by_trade"]["fwd"] == pytest.approx(expected, rel=1e-12)
    assert up["by_trade"]["call"] == 0.0
    pd = pytest.importorskip("pandas")
    days = pd.bdate_range("2025-01-01", periods=60)
    spots = [1.0837 * (1 + 0.004 * math.sin(i)) for i in range(60)]
    history = pd.DataFrame({"EURUSD": spots}, index=days)
    fwd_only = quelm.Book([FORWARD])
    var = fwd_only.historical_var(BASE, history, level=0.95)
    # A forward is linear in its spot: the first-order VaR is the full one.
    assert var["first_order"] == pytest.approx(var["var"], rel=1e-9)


def test_trades_pickle_compare_and_read_back(book):
    for trade in (FORWARD, CALL, PUT, quelm.FxForward("eurusd", "2027-01-04", 1.1, domestic_curve="usd-sofr"),
                  FX_CALL, FX_PUT_EUR, quelm.FxOption("EURUSD", "2027-01-04", 1.1, "put", surface="eurusd",
                                                      foreign_curve="eur-estr")):
        back = pickle.loads(pickle.dumps(trade))
        assert back == trade and repr(back) == repr(trade)
    assert pickle.loads(pickle.dumps(book)) == book
    assert book.trades[0] == FORWARD and book.trades[1] == CALL
    assert FORWARD.pair == "EURUSD" and FORWARD.maturity == datetime.date(2027, 9, 2)
    assert FORWARD.domestic_curve is None and CALL.curve == "usd-sofr" and CALL.option_type == "call"
    assert quelm.FxForward("eurusd", "2027-01-04", 1.1).pair == "EURUSD"


def test_risk_report_pickles_to_the_same_bits(book):
    report = book.risk(BASE)
    back = pickle.loads(pickle.dumps(report))
    assert back == report and back.greeks == report.greeks and back.labels == report.labels
    assert [x.hex() for x in back.total.values()] == [x.hex() for x in report.total.values()]
    with pytest.raises(ValueError, match="does not fit together: 2 trades, 1 labels"):
        quelm.RiskReport._from_state(["a"], ["g"], ["x", "y"], [1.0], [0.0] * 10)


@pytest.mark.parametrize("make, market_, error, text", [
    (lambda: quelm.FxForward("EURUSD", "2026-03-02", 1.1), BASE, ValueError,
     "trade 0: fx forward EURUSD: matured on 2026-03-02, not after the market's date 2026-03-02"),
    (lambda: quelm.FxForward("GBPUSD", "2027-03-02", 1.3), BASE, ValueError,
     "trade 0: fx forward GBPUSD: the market has no gbp curve that discounts on itself: name one "
     "(foreign_curve=...); the market has eur-estr, usd-sofr"),
    (lambda: quelm.FxForward("EURUSD", "2027-03-02", 1.1, foreign_curve="eur-euribor"), BASE, ValueError,
     "trade 0: fx forward EURUSD: no curve eur-euribor in the market"),
    (lambda: quelm.EuropeanOption("ndx", 100.0, "2027-03-02", "put"), BASE, ValueError,
     "trade 0: option on ndx: no surface ndx in the market"),
    (lambda: quelm.EuropeanOption("spx", 100.0, "2027-03-02", "put"), BASE, ValueError,
     "trade 0: option on spx: name its curve (curve=...); the market has eur-estr, usd-sofr"),
    (lambda: quelm.EuropeanOption("spx", 100.0, "2025-03-02", "put", curve="usd-sofr"), BASE, ValueError,
     "trade 0: option on spx: expired on 2025-03-02, not after the market's date 2026-03-02"),
    (lambda: quelm.FxOption("EURUSD", "2027-03-02", 1.1, "put"), market(surfaces={"spx": surface()}), ValueError,
     "trade 0: fx option EURUSD: no surface named EURUSD in the market: name its surface (surface=...)"),
])
def test_errors_name_the_trade_and_what_is_missing(make, market_, error, text):
    with pytest.raises(error) as e:
        quelm.Book([make()]).npv(market_)
    assert str(e.value).startswith(text)


@pytest.mark.parametrize("call, text", [
    (lambda: quelm.FxForward("EURUS", "2027-03-02", 1.1), 'fx pair "EURUS" is not six letters'),
    (lambda: quelm.FxForward("EURUSD", "2027-03-02", -1.1), "fx forward: strike must be positive and finite"),
    (lambda: quelm.FxForward("EURUSD", "2027-03-02", 1.1, notional=math.inf), "fx forward: notional must be finite"),
    (lambda: quelm.FxForward("EURUSD", "2027-03-02", 1.1, domestic_curve=""), "curve names must not be empty"),
    (lambda: quelm.EuropeanOption("", 100.0, "2027-03-02", "put"), "european option: underlying must not be empty"),
    (lambda: quelm.FxOption("EURUSD", "2027-03-02", 1.1, "put", premium_currency="GBP"),
     "fx option: premium_currency must be EUR or USD, got GBP"),
    (lambda: quelm.FxOption("EURUSD", "2027-03-02", 0.0, "put"), "fx option: strike must be positive"),
    (lambda: quelm.EuropeanOption("spx", math.nan, "2027-03-02", "put"), "european option: strike must be positive"),
])
def test_bad_terms_are_refused(call, text):
    with pytest.raises(ValueError, match=None) as e:
        call()
    assert text in str(e.value)


def test_risk_of_a_trade_on_a_curve_not_built_from_quotes_names_it():
    flat = quelm.Market(REF, curves={"usd-sofr": quelm.YieldCurve.flat(0.04, reference_date=REF)},
                        surfaces={"spx": surface()})
    b = quelm.Book([CALL], names=["c"])
    assert b.npv(flat)["total"] == pytest.approx(CALL.npv(flat))
    with pytest.raises(ValueError, match="trade c: curve usd-sofr was not built from quotes"):
        b.risk(flat)


def test_one_reporting_currency_converts_at_the_spot_and_risks_the_conversion():
    estr = quelm.Ois("3Y", 0.024, index="estr", notional=1e6)
    b = quelm.Book([FORWARD, CALL, estr], names=["fwd", "call", "estr"])
    own = b.npv(BASE)["by_trade"]
    usd = b.npv(BASE, currency="usd")
    assert usd["by_trade"]["estr"] == own["estr"] * 1.0837 and usd["by_trade"]["fwd"] == own["fwd"]
    assert usd["total"] == pytest.approx(sum(usd["by_trade"].values()), rel=1e-15)
    eur = b.npv(BASE, currency="EUR")["by_trade"]
    assert eur["fwd"] == own["fwd"] * (1.0 / 1.0837) and eur["estr"] == own["estr"]
    # The risk in USD is the USD value differentiated: each quote, and the spot through both
    # the forward and the euro trade's conversion.
    report = b.risk(BASE, currency="USD")
    h = 1e-6
    for j, label in enumerate(report.labels):
        if " vol " in label:
            continue
        if label == "EURUSD":
            up = b.npv(market(spot=1.0837 + h), currency="USD")["by_trade"]
            down = b.npv(market(spot=1.0837 - h), currency="USD")["by_trade"]
            unit = 1.0
        else:
            up = b.npv(market((label, h)), currency="USD")["by_trade"]
            down = b.npv(market((label, -h)), currency="USD")["by_trade"]
            unit = 1e-4
        for name in b.names:
            numeric = (up[name] - down[name]) / (2 * h) * unit
            scale = max(abs(x) for x in report.by_trade[name])
            assert report.by_trade[name][j] == pytest.approx(numeric, rel=1e-7, abs=1e-7 * scale), (name, label)
    assert report.greeks["call"] == b.risk(BASE).greeks["call"]  # already in USD
    # Scenarios convert at each scenario's spot.
    moved = b.scenario(BASE, {"EURUSD": 0.01}, currency="USD")["by_trade"]["estr"]
    assert moved == pytest.approx(own["estr"] * 0.01, rel=1e-12)


def test_reporting_currency_errors():
    with pytest.raises(ValueError, match='currency "US" is not three letters, such as "USD"'):
        quelm.Book([FORWARD]).npv(BASE, currency="US")
    with pytest.raises(ValueError, match="no fx pair EURGBP"):
        quelm.Book([quelm.Ois("3Y", 0.024, index="estr")]).npv(BASE, currency="GBP")
    odd = quelm.Market.bootstrap(REF, {"ois": [quelm.Ois(t, r) for t, r in SOFR]})
    with pytest.raises(ValueError, match="trade 0: curve ois does not say its currency"):
        quelm.Book([quelm.Ois("3Y", 0.04)]).npv(odd, currency="USD")
    assert quelm.Book([quelm.Ois("3Y", 0.04)]).npv(odd)["total"] != 0.0
