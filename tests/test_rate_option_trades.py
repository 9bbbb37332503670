"""Swaptions and caps in a book priced on market curves and rate vols: the value against
Swaption.price and CapFloor.price on the same curves (to the bit), the risk to every curve
quote against bumping it and bootstrapping the market again (one curve, and a projection
curve built on its OIS discount curve), the vega per vol quote against moving the quote
(a cube rebuilt from its quotes), scenarios against repricing, pickling and errors."""
from __future__ import annotations

import datetime
import pickle

import pytest

import quelm

REF = "2026-03-02"
ESTR = [("6M", 0.0231), ("1Y", 0.0224), ("2Y", 0.0219), ("5Y", 0.0236), ("10Y", 0.0251), ("15Y", 0.0262)]
EURIBOR = [("1Y", 0.0262), ("2Y", 0.0258), ("5Y", 0.0271), ("10Y", 0.0287), ("15Y", 0.0296)]
H = 1e-6  # a rate bump
CUBE_ARGS = (["1Y", "2Y"], ["5Y", "10Y"], ["ATM-100", "ATM", "ATM+100"])
CUBE_VOLS = [[[0.0098, 0.0086, 0.0091], [0.0094, 0.0083, 0.0088]],
             [[0.0101, 0.0089, 0.0093], [0.0097, 0.0085, 0.0090]]]


def quotes(moved=None):
    def rate(curve, tenor, r):
        return r + moved[1] if moved and moved[0] == f"{curve} {tenor}" else r
    return ([quelm.Ois(t, rate("eur-estr", t, r), index="estr") for t, r in ESTR],
            [quelm.Swap(t, rate("eur-euribor-6m", t, r)) for t, r in EURIBOR])


def single(moved=None, rate_vols=None):
    ois, _ = quotes(moved)
    return quelm.Market.bootstrap(REF, {"eur-estr": ois}, rate_vols=rate_vols or {"eur-vol": 0.2})


def dual(moved=None, rate_vols=None):
    ois, swaps = quotes(moved)
    return quelm.Market.bootstrap(
        REF, {"eur-estr": ois, "eur-euribor-6m": (swaps, {"discount_curve": "eur-estr"})},
        rate_vols=rate_vols if rate_vols is not None else {"eur-vol": 0.2})


BASE_DUAL = dual()


def cube(vols=CUBE_VOLS):
    return quelm.SwaptionCube.from_quotes(REF, *CUBE_ARGS, vols, model="bachelier",
                                          curve=BASE_DUAL.curve("eur-euribor-6m"))


CUBE = cube()

# Trades on the single-curve market (their curve and vol the market's only ones).
SINGLE = {
    "payer": quelm.Swaption("2Y", "5Y", 0.024, notional=1e6),
    "cash receiver": quelm.Swaption("2Y", "5Y", 0.026, kind="receiver", settlement="cash", notional=-2e6),
    "quarterly payer": quelm.Swaption("2027-06-15", "3Y", 0.023, fixed_frequency=4, float_tenor="3M",
                                      notional=5e5),
    "cap": quelm.CapFloor("cap", "5Y", 0.024, notional=1e6),
    "floor": quelm.CapFloor("floor", "3Y", 0.022, index_tenor="3M", notional=2e6),
}
# On the dual-curve market: projection eur-euribor-6m, discounting on eur-estr.
DUAL = {
    "payer": quelm.Swaption("2Y", "5Y", 0.027, curve="eur-euribor-6m", notional=1e6),
    "cash payer": quelm.Swaption("1Y", "10Y", 0.029, settlement="cash", curve="eur-euribor-6m", notional=1e6),
    "receiver on estr": quelm.Swaption("1Y", "5Y", 0.025, kind="receiver", curve="eur-euribor-6m",
                                       discount_curve="eur-estr", notional=1e6),
    "cap": quelm.CapFloor("cap", "5Y", 0.027, curve="eur-euribor-6m", notional=1e6),
}


def by_trade(book, market):
    return book.npv(market)["by_trade"]


def assert_curve_risk_is_bump_and_rebuild(book, make, market):
    report = book.risk(market)
    rows = report.by_trade
    curve_labels = set(market.quote_labels)
    checked = 0
    for j, label in enumerate(report.labels):
        if label not in curve_labels:
            continue
        up, down = by_trade(book, make((label, H))), by_trade(book, make((label, -H)))
        for name in book.names:
            numeric = (up[name] - down[name]) / (2 * H) * 1e-4
            scale = max(abs(x) for x in rows[name])
            assert rows[name][j] == pytest.approx(numeric, rel=1e-7, abs=1e-7 * scale), (name, label)
            checked += numeric != 0.0
    assert checked > 0


def test_value_is_the_price_on_the_same_curves_and_vol_to_the_bit():
    m = single()
    curve = m.curve("eur-estr")
    values = by_trade(quelm.Book(list(SINGLE.values()), names=list(SINGLE)), m)
    for name, trade in SINGLE.items():
        assert values[name] == trade.price(curve, 0.2), name
    # Dual curve: forwards on the projection curve, payments on the discount curve.
    est, eur = BASE_DUAL.curve("eur-estr"), BASE_DUAL.curve("eur-euribor-6m")
    values = by_trade(quelm.Book(list(DUAL.values()), names=list(DUAL)), BASE_DUAL)
    for name, trade in DUAL.items():
        assert values[name] == trade.price(eur, 0.2, discount_curve=est), name
    # Every quoting a RateVol holds, and a term structure read at the option's time.
    term = ([0.5, 2.0, 5.0], [0.0075, 0.0082, 0.0090])
    for vol, model, shift in ((term, "bachelier", 0.0), (0.15, "shifted-black", 0.01), (term, "black", 0.0)):
        rv = quelm.RateVol(vol, model=model, shift=shift)
        m = single(rate_vols={"v": rv})
        values = by_trade(quelm.Book(list(SINGLE.values()), names=list(SINGLE)), m)
        for name, trade in SINGLE.items():
            at = vol if isinstance(trade, quelm.CapFloor) else _term_at(vol, name)
            expected = trade.price(m.curve("eur-estr"), at, model=model, shift=shift)
            # The book reads the structure itself: its vol at t may differ from this one in the last bit.
            assert values[name] == pytest.approx(expected, rel=1e-14), name
            if not isinstance(vol, tuple) or isinstance(trade, quelm.CapFloor):
                assert values[name] == expected, name


# The single-curve swaptions' expiry dates (each a business day on TARGET).
EXPIRY = {"payer": datetime.date(2028, 3, 2), "cash receiver": datetime.date(2028, 3, 2),
          "quarterly payer": datetime.date(2027, 6, 15)}


def _term_at(vol, name):
    """A term structure's vol at a swaption's vol time, linear in total variance, flat outside."""
    if not isinstance(vol, tuple):
        return vol
    t = (EXPIRY[name] - datetime.date(2026, 3, 2)).days / 365.0
    times, vols = vol
    if t <= times[0]:
        return vols[0]
    if t >= times[-1]:
        return vols[-1]
    j = next(i for i, x in enumerate(times) if x > t)
    w0, w1 = vols[j - 1] ** 2 * times[j - 1], vols[j] ** 2 * times[j]
    return ((w0 + (w1 - w0) * (t - times[j - 1]) / (times[j] - times[j - 1])) / t) ** 0.5


def test_a_cube_prices_at_its_vol_for_the_expiry_tenor_and_strike():
    m = dual(rate_vols={"eur-swaption": CUBE})
    trades = {"on node": quelm.Swaption("1Y", "5Y", 0.027, curve="eur-euribor-6m", notional=1e6),
              "between": quelm.Swaption("18M", "7Y", 0.028, kind="receiver", curve="eur-euribor-6m", notional=1e6)}
    values = by_trade(quelm.Book(list(trades.values()), names=list(trades)), m)
    est, eur = m.curve("eur-estr"), m.curve("eur-euribor-6m")
    for (name, trade), (expiry, tenor) in zip(trades.items(), ((1.0, 5.0), (1.5, 7.0))):
        vol = CUBE.vol(expiry, tenor, trade.strike)
        assert values[name] == trade.price(eur, vol, model="bachelier", discount_curve=est), name


def test_curve_risk_is_bump_and_rebuild_on_one_curve():
    book = quelm.Book(list(SINGLE.values()), names=list(SINGLE))
    assert_curve_risk_is_bump_and_rebuild(book, single, single())


def test_curve_risk_is_bump_and_rebuild_through_a_projection_curve_and_its_discount_curve():
    book = quelm.Book(list(DUAL.values()), names=list(DUAL))
    assert_curve_risk_is_bump_and_rebuild(book, dual, BASE_DUAL)
    # The projection curve's quotes move the forwards; the OIS quotes move both.
    report = book.risk(BASE_DUAL)
    euribor = [j for j, label in enumerate(report.labels) if label.startswith("eur-euribor-6m")]
    assert any(report.by_trade["payer"][j] != 0.0 for j in euribor)


def test_a_cube_is_held_fixed_under_curve_bumps():
    # The cube keeps the forwards it was calibrated on: curve risk is the swaption's at a fixed vol.
    trade = quelm.Swaption("18M", "7Y", 0.028, curve="eur-euribor-6m", notional=1e6)
    book = quelm.Book([trade], names=["swaption"])
    assert_curve_risk_is_bump_and_rebuild(book, lambda moved=None: dual(moved, {"eur-swaption": CUBE}),
                                          dual(rate_vols={"eur-swaption": CUBE}))


def test_vega_of_a_flat_and_a_term_structure_vol_is_the_move_of_its_quote():
    book = quelm.Book(list(SINGLE.values()), names=list(SINGLE))
    report = book.risk(single())
    j = report.labels.index("eur-vol vol")
    h = 1e-5
    up, down = by_trade(book, single(rate_vols={"eur-vol": 0.2 + h})), by_trade(book, single(rate_vols={"eur-vol": 0.2 - h}))
    for name in book.names:
        assert report.by_trade[name][j] == pytest.approx((up[name] - down[name]) / (2 * h) * 0.01, rel=1e-7)
    times, vols = [0.5, 2.0, 5.0], [0.0075, 0.0082, 0.0090]

    def term(i=None, d=0.0):
        v = [x + (d if k == i else 0.0) for k, x in enumerate(vols)]
        return single(rate_vols={"eur-n": quelm.RateVol((times, v), model="bachelier")})
    report = book.risk(term())
    labels = ["eur-n vol 0.5y", "eur-n vol 2y", "eur-n vol 5y"]
    assert [lab for lab in report.labels if lab.startswith("eur-n")] == labels
    h = 1e-7
    for i, label in enumerate(labels):
        j = report.labels.index(label)
        up, down = by_trade(book, term(i, h)), by_trade(book, term(i, -h))
        for name in book.names:
            numeric = (up[name] - down[name]) / (2 * h) * 0.01
            assert report.by_trade[name][j] == pytest.approx(numeric, rel=1e-6, abs=1e-9), (name, label)


def test_cube_vega_is_the_move_of_each_node_quote_it_reads_with_the_cube_rebuilt():
    trades = {"on node": quelm.Swaption("1Y", "5Y", 0.027, curve="eur-euribor-6m", notional=1e6),
              "between": quelm.Swaption("18M", "7Y", 0.028, kind="receiver", curve="eur-euribor-6m", notional=1e6)}
    book = quelm.Book(list(trades.values()), names=list(trades))
    m = dual(rate_vols={"eur-swaption": CUBE})
    report = book.risk(m)
    labels = [lab for lab in report.labels if lab.startswith("eur-swaption ")]
    assert labels[:3] == ["eur-swaption 1y 5y atm-100", "eur-swaption 1y 5y atm", "eur-swaption 1y 5y atm+100"]
    assert len(labels) == 12
    rows = report.by_trade
    for label in labels:
        j = report.labels.index(label)
        _, e, t, k = label.split()
        i, jt, kk = ["1y", "2y"].index(e), ["5y", "10y"].index(t), ["atm-100", "atm", "atm+100"].index(k)
        h = 1e-6
        moved = []
        for d in (h, -h):
            vols = [[list(row) for row in plane] for plane in CUBE_VOLS]
            vols[i][jt][kk] += d
            moved.append(by_trade(book, dual(rate_vols={"eur-swaption": cube(vols)})))
        for name in book.names:
            numeric = (moved[0][name] - moved[1][name]) / (2 * h) * 0.01
            scale = max(abs(rows[name][report.labels.index(x)]) for x in labels)
            assert rows[name][j] == pytest.approx(numeric, rel=1e-6, abs=1e-7 * scale), (name, label)
    # The node trade reads one node only.
    assert all(rows["on node"][report.labels.index(x)] == 0.0 for x in labels if not x.startswith("eur-swaption 1y 5y"))


def test_scenarios_and_var_reprice_on_the_shifted_market():
    book = quelm.Book(list(DUAL.values()), names=list(DUAL))
    shifts = {"eur-estr 5Y": 0.0010, "eur-euribor-6m 10Y": -0.0005}
    pnl = book.scenario(BASE_DUAL, shifts)
    moved = by_trade(book, BASE_DUAL.shifted(shifts))
    base = by_trade(book, BASE_DUAL)
    for name in book.names:
        assert pnl["by_trade"][name] == pytest.approx(moved[name] - base[name], rel=1e-12, abs=1e-9)
    pd = pytest.importorskip("pandas")
    days = pd.bdate_range("2025-01-01", periods=40)
    history = pd.DataFrame({"eur-estr 5Y": [0.0236 + 0.0002 * ((i * 7) % 5 - 2) for i in range(40)]}, index=days)
    var = book.historical_var(BASE_DUAL, history, level=0.95)
    assert var["var"] > 0.0
    assert var["first_order"] == pytest.approx(var["var"], rel=0.05)


def test_reporting_currency_converts_the_rows():
    m = quelm.Market.bootstrap(REF, {"eur-estr": quotes()[0]}, fx={"EURUSD": 1.08}, rate_vols={"v": 0.2})
    book = quelm.Book([SINGLE["payer"], SINGLE["cap"]], names=["payer", "cap"])
    eur, usd = book.npv(m), book.npv(m, currency="USD")
    for name in book.names:
        assert usd["by_trade"][name] == pytest.approx(eur["by_trade"][name] * 1.08, rel=1e-15)
    # The risk in dollars: every euro column times the spot, and the value's own FX delta.
    in_eur, in_usd = book.risk(m), book.risk(m, currency="USD")
    for name in book.names:
        for label, x, y in zip(in_eur.labels, in_eur.by_trade[name], in_usd.by_trade[name]):
            expected = eur["by_trade"][name] if label == "EURUSD" else x * 1.08
            assert y == pytest.approx(expected, rel=1e-14, abs=1e-300), (name, label)


def test_trades_rate_vols_and_markets_pickle_compare_and_show_their_names():
    s = quelm.Swaption("2Y", "5Y", 0.024, curve="eur-euribor-6m", discount_curve="eur-estr", vol="eur-swaption")
    c = quelm.CapFloor("floor", "5Y", 0.02, vol="eur-caps", curve="eur-euribor-6m")
    assert repr(s) == "Swaption('2Y', '5Y', 0.024, curve='eur-euribor-6m', discount_curve='eur-estr', vol='eur-swaption')"
    assert repr(c) == "CapFloor('floor', '5Y', 0.02, curve='eur-euribor-6m', vol='eur-caps')"
    assert (s.curve, s.discount_curve, s.vol, c.discount_curve) == ("eur-euribor-6m", "eur-estr", "eur-swaption", None)
    for trade in (s, c, SINGLE["payer"], DUAL["cap"]):
        back = pickle.loads(pickle.dumps(trade))
        assert back == trade and repr(back) == repr(trade) and hash(back) == hash(trade)
    assert s != quelm.Swaption("2Y", "5Y", 0.024, curve="eur-euribor-6m", discount_curve="eur-estr")
    rv = quelm.RateVol(([1.0, 5.0], [0.008, 0.0095]), model="bachelier")
    assert repr(rv) == "RateVol(([1, 5], [0.008, 0.0095]), model='bachelier')"
    assert rv.vol == ([1.0, 5.0], [0.008, 0.0095]) and rv.model == "bachelier" and rv.shift == 0.0
    assert pickle.loads(pickle.dumps(rv)) == rv and hash(pickle.loads(pickle.dumps(rv))) == hash(rv)
    assert quelm.RateVol(0.1, model="shifted-black", shift=0.01) != quelm.RateVol(0.1, model="shifted-black", shift=0.02)
    back_cube = pickle.loads(pickle.dumps(CUBE))
    assert back_cube == CUBE and back_cube.vol(1.5, 7.0, 0.028) == CUBE.vol(1.5, 7.0, 0.028)
    m = dual(rate_vols={"eur-swaption": CUBE, "eur-caps": rv, "flat": 0.2})
    assert m.rate_vol_names == ("eur-caps", "eur-swaption", "flat")
    assert m.rate_vol("flat") == quelm.RateVol(0.2) and m.rate_vol("eur-swaption") == CUBE
    assert "rate vols: eur-caps, eur-swaption, flat" in repr(m)
    back = pickle.loads(pickle.dumps(m))
    assert back == m
    book = quelm.Book([s, c, quelm.CapFloor("cap", "3Y", 0.026, curve="eur-euribor-6m", vol="flat")])
    assert book.npv(back) == book.npv(m)
    assert pickle.loads(pickle.dumps(book)).npv(m) == book.npv(m)
    # Risk on a market back from a pickle, its vols' columns and all (one curve: a pickled
    # projection curve brings its own copy of the curve it was built on).
    m = single(rate_vols={"eur-vol": rv, "cube": CUBE})
    book = quelm.Book([quelm.Swaption("2Y", "5Y", 0.024, vol="eur-vol"), quelm.Swaption("1Y", "5Y", 0.025, vol="cube")])
    assert book.risk(pickle.loads(pickle.dumps(m))) == book.risk(m)


@pytest.mark.parametrize("trade, market_, error, text", [
    (quelm.Swaption("2Y", "5Y", 0.02, vol="nope"), "single", ValueError,
     "trade t: swaption: no rate vol nope in the market; it has eur-vol"),
    (quelm.Swaption("2Y", "5Y", 0.02), "two vols", ValueError,
     "trade t: swaption: name its rate vol (vol=...); the market has a, b"),
    (quelm.Swaption("2Y", "5Y", 0.02), "no vols", ValueError,
     "trade t: swaption: name its rate vol (vol=...); the market has none"),
    (quelm.CapFloor("cap", "5Y", 0.02, curve="eur-euribor-6m"), "cube", ValueError,
     "trade t: cap: rate vol eur-swaption is a swaption cube, which prices swaptions: give caps a RateVol"),
    (quelm.Swaption("2Y", "5Y", 0.02), "dual", ValueError,
     "trade t: swaption: name its curve (curve=...); the market has eur-estr, eur-euribor-6m"),
    (quelm.CapFloor("floor", "5Y", 0.02, curve="usd-sofr"), "single", ValueError, "usd-sofr"),
    (quelm.Swaption("2026-02-01", "5Y", 0.02), "single", ValueError, "not after the curve's reference date"),
])
def test_errors_name_the_trade_and_what_is_missing(trade, market_, error, text):
    markets = {"single": single, "dual": dual,
               "two vols": lambda: single(rate_vols={"a": 0.2, "b": 0.3}),
               "no vols": lambda: quelm.Market.bootstrap(REF, {"eur-estr": quotes()[0]}),
               "cube": lambda: dual(rate_vols={"eur-swaption": CUBE})}
    book = quelm.Book([trade], names=["t"])
    with pytest.raises(error) as caught:
        book.npv(markets[market_]())
    assert text in str(caught.value)
    with pytest.raises(error):
        book.risk(markets[market_]())


def test_bad_terms_and_rate_vols_are_refused():
    with pytest.raises(ValueError, match="rate vol names must not be empty"):
        quelm.Swaption("2Y", "5Y", 0.02, vol="")
    with pytest.raises(ValueError, match="curve names must not be empty"):
        quelm.CapFloor("cap", "5Y", 0.02, curve="")
    with pytest.raises(ValueError, match="shift applies to model \"shifted-black\" only"):
        quelm.RateVol(0.2, shift=0.01)
    with pytest.raises(ValueError, match="model"):
        quelm.RateVol(0.2, model="sabr")
    with pytest.raises(ValueError, match="vol: 2 times but 3 vols"):
        quelm.RateVol(([1.0, 2.0], [0.1, 0.2, 0.3]))
    with pytest.raises(TypeError, match="rate vol v: expected quelm.RateVol, SwaptionCube, HullWhite or a number, got str"):
        quelm.Market(REF, rate_vols={"v": "0.2"})
    with pytest.raises(ValueError, match="rate vol v: invalid input: vol must be finite and >= 0, got -0.1"):
        quelm.Market(REF, rate_vols={"v": -0.1})
    surface = quelm.VolSurface.from_vols([80.0, 90.0, 100.0, 110.0, 120.0], [1.0] * 5, [0.22, 0.21, 0.2, 0.205, 0.21],
                                         100.0, 0.02)
    with pytest.raises(ValueError, match="rate vol v has the name of a surface: vols' names must differ"):
        quelm.Market(REF, surfaces={"v": surface}, rate_vols={"v": 0.2})
    hazards = quelm.CreditCurve.bootstrap(REF, [("1Y", 0.006), ("5Y", 0.015)], single().curve("eur-estr"))
    with pytest.raises(ValueError, match="rate vol acme has the name of a credit curve: names must differ"):
        quelm.Market(REF, credit_curves={"acme": hazards}, rate_vols={"acme": 0.2})
    with pytest.raises(ValueError, match="no rate vol x in the market; it has none"):
        quelm.Market(REF).rate_vol("x")


def test_quantlib_black_swaption_agrees_with_the_book_value():
    ql = pytest.importorskip("QuantLib")
    # A flat 3% continuously compounded curve: quelm's book value of a 2y x 5y payer at a flat
    # 20% Black vol against QuantLib's BlackSwaptionEngine on the same dates and conventions.
    today = ql.Date(2, 3, 2026)
    ql.Settings.instance().evaluationDate = today
    curve = ql.YieldTermStructureHandle(ql.FlatForward(today, 0.03, ql.Actual365Fixed(), ql.Continuous))
    index = ql.Euribor6M(curve)
    swap = ql.MakeVanillaSwap(ql.Period("5Y"), index, 0.03, ql.Period("2Y"),
                              fixedLegDayCount=ql.Thirty360(ql.Thirty360.BondBasis),
                              fixedLegTenor=ql.Period("1Y"))
    exercise = ql.EuropeanExercise(ql.TARGET().adjust(today + ql.Period("2Y"), ql.ModifiedFollowing))
    option = ql.Swaption(swap, exercise)
    option.setPricingEngine(ql.BlackSwaptionEngine(curve, ql.QuoteHandle(ql.SimpleQuote(0.2))))
    flat = quelm.YieldCurve.flat(0.03, reference_date=REF)
    m = quelm.Market(REF, curves={"eur": flat}, rate_vols={"v": 0.2})
    value = quelm.Book([quelm.Swaption("2Y", "5Y", 0.03)]).npv(m)["total"]
    assert value == pytest.approx(option.NPV(), rel=1e-12)


def test_risk_on_a_cube_has_the_same_bits_on_any_thread_count():
    # The cube's refits are made on first use by whichever thread gets there: the same bits.
    from conftest import same_output_across_threads
    code = (
        "import quelm\n"
        "ref = '2026-03-02'\n"
        "curve = quelm.YieldCurve.flat(0.025, reference_date=ref)\n"
        "ois = [quelm.Ois(t, r) for t, r in [('1Y', 0.022), ('3Y', 0.023), ('5Y', 0.024), ('10Y', 0.025), ('15Y', 0.026)]]\n"
        "cube = quelm.SwaptionCube.from_quotes(ref, ['1Y', '2Y'], ['5Y', '10Y'], ['ATM-100', 'ATM', 'ATM+100'],\n"
        "    [[[0.0098, 0.0086, 0.0091], [0.0094, 0.0083, 0.0088]], [[0.0101, 0.0089, 0.0093], [0.0097, 0.0085, 0.009]]],\n"
        "    curve=curve)\n"
        "m = quelm.Market.bootstrap(ref, {'eur-estr': ois}, rate_vols={'c': cube})\n"
        "book = quelm.Book([quelm.Swaption(f'{1 + k % 3}Y', f'{4 + k % 5}Y', 0.022 + 0.0002 * k) for k in range(24)])\n"
        "r = book.risk(m)\n"
        "print([x.hex() for x in r.total.values()])\n")
    same_output_across_threads(code)
