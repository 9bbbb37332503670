"""Credit default swaps as trades of a book: the value against Cds.npv on the market's
curves (bit for bit), the exact CS01 and IR01 against central bump and rebuild of every
credit and rate quote (the credit curve bootstrapped again on each moved discount curve),
a distressed name quoted upfront and a seasoned trade; the market's credit curves, the
trade's curve names, pickling, scenarios and errors."""
from __future__ import annotations

import pickle

import pytest

import quelm

TRADE = "2009-05-21"
# The ISDA discount curve of 21 May 2009 (the standard model's published example, as
# docs/credit.md uses it): act/360 deposits, then semi-annual 30/360 swaps on 3M.
DEPOSITS = [("1M", 0.003081), ("3M", 0.007163), ("6M", 0.012413), ("12M", 0.015488)]
SWAPS = [("2Y", 0.011907), ("5Y", 0.02444), ("10Y", 0.03279)]
SPREADS = [("1Y", 0.006), ("3Y", 0.012), ("5Y", 0.015), ("7Y", 0.0165)]
# A distressed name: points upfront on 5% coupons, hazard rates above 1 at the front.
UPFRONTS = [("1Y", 0.05, 0.55), ("3Y", 0.05, 0.60), ("5Y", 0.05, 0.62)]


def rates(moved=None):
    """The discount curve's instruments, quote `moved[0]` (an index) up by `moved[1]`."""
    def r(k, x):
        return x + moved[1] if moved and moved[0] == k else x
    out = [quelm.Deposit(t, r(k, x), day_count="act/360", calendar="weekends") for k, (t, x) in enumerate(DEPOSITS)]
    out += [quelm.Swap(t, r(len(DEPOSITS) + k, x), fixed_frequency=2, fixed_day_count="30/360", float_tenor="3M",
                       calendar="weekends") for k, (t, x) in enumerate(SWAPS)]
    return out


def discount(moved=None, reference=TRADE):
    return quelm.YieldCurve.bootstrap(reference, rates(moved), interp="flat-forward")


def market(credit=None, reference=TRADE, **options):
    quotes = {"usd-libor": (rates(), {"interp": "flat-forward"})}
    return quelm.Market.bootstrap(reference, quotes, credit_curves=credit or {}, **options)


DISC = discount()
ACME = quelm.CreditCurve.bootstrap(TRADE, SPREADS, DISC)
BUST = quelm.CreditCurve.bootstrap(TRADE, UPFRONTS, DISC, recovery=0.25)
MARKET = market({"acme": ACME, "bust": BUST})


def moved_quotes(quotes, k, h):
    return [q[:-1] + (q[-1] + h,) if i == k else q for i, q in enumerate(quotes)]


def labels_of(name, quotes):
    return [f"{name} {q[0]}" for q in quotes]


def rate_labels():
    return [f"usd-libor {t}" for t, _ in DEPOSITS + SWAPS]


# --- the credit curve pickles with its bootstrap -------------------------------------------

def test_a_bootstrapped_credit_curve_pickles_with_its_quotes_and_keeps_its_risk():
    cds = quelm.Cds("5Y", 0.01, trade_date=TRADE, notional=10e6)
    for curve in (ACME, BUST, quelm.CreditCurve.bootstrap(TRADE, [("2010-09-20", 0.01), ("4Y", 0.02)], DISC,
                                                          calendar="us-nyse", half_day=True, recovery=0.3)):
        back = pickle.loads(pickle.dumps(curve))
        assert back == curve and back.hazards == curve.hazards and back.nodes == curve.nodes
        assert back.recovery == curve.recovery and repr(back) == repr(curve)
        assert cds.risk(back) == cds.risk(curve)  # the same bits: the bootstrap runs again
    flat = quelm.CreditCurve.flat(TRADE, 0.02)
    back = pickle.loads(pickle.dumps(flat))
    assert back == flat and back.recovery is None
    with pytest.raises(ValueError, match="was not bootstrapped"):
        cds.risk(back)


# --- the market holds credit curves ----------------------------------------------------------

def test_the_market_holds_credit_curves_by_name():
    assert MARKET.credit_curve_names == ("acme", "bust")
    assert MARKET.credit_curve("acme") == ACME
    assert "credit curves: acme, bust" in repr(MARKET)
    with pytest.raises(ValueError, match="no credit curve zeta in the market; it has acme, bust"):
        MARKET.credit_curve("zeta")
    back = pickle.loads(pickle.dumps(MARKET))
    assert back == MARKET and back.credit_curve("bust").hazards == BUST.hazards
    assert back != market({"acme": ACME})
    assert quelm.Market(TRADE, curves={"usd-libor": DISC}, credit_curves={"acme": ACME}).credit_curve_names == ("acme",)
    assert quelm.Market(TRADE).credit_curve_names == ()


def test_the_market_refuses_credit_curves_it_cannot_price_on():
    other = quelm.CreditCurve.flat("2009-05-22", 0.02)
    with pytest.raises(ValueError, match="credit curve late has trade date 2009-05-22, not the market's 2009-05-21"):
        market({"late": other})
    with pytest.raises(ValueError, match="credit curve usd-libor has the name of a curve"):
        market({"usd-libor": ACME})
    with pytest.raises(TypeError, match="argument 'credit_curves': credit curve acme: expected quelm.CreditCurve, got quelm.YieldCurve"):
        market({"acme": DISC})


# --- the trade's curves and its value ----------------------------------------------------------

def test_a_cds_is_worth_its_npv_on_the_markets_curves_bit_for_bit():
    buy = quelm.Cds("5Y", 0.01, trade_date=TRADE, notional=10e6, credit_curve="acme")
    sell = quelm.Cds("3Y", 0.05, trade_date=TRADE, notional=2e6, side="sell", credit_curve="bust",
                     discount_curve="usd-libor")
    book = quelm.Book([buy, sell], names=["acme 5y", "bust 3y"])
    disc = MARKET.curve("usd-libor")
    v = book.npv(MARKET)
    assert v["by_trade"]["acme 5y"] == buy.npv(ACME, disc)
    assert v["by_trade"]["bust 3y"] == sell.npv(BUST, disc)
    assert v["total"] == buy.npv(ACME, disc) + sell.npv(BUST, disc)
    # In the discount curve's currency, and converted at the market's spot.
    fx = market({"acme": ACME}, fx={"EURUSD": 1.25})
    one = quelm.Book([quelm.Cds("5Y", 0.01, trade_date=TRADE, notional=10e6)])
    assert one.npv(fx, currency="EUR")["total"] == pytest.approx(one.npv(fx)["total"] / 1.25, rel=1e-15)


def test_the_curve_names_default_to_the_markets_only_ones():
    cds = quelm.Cds("5Y", 0.01, trade_date=TRADE)
    assert cds.credit_curve is None and cds.discount_curve is None
    assert quelm.Book([cds]).npv(market({"acme": ACME}))["total"] == cds.npv(ACME, DISC)
    with pytest.raises(ValueError, match=r"trade 0: cds: name its credit curve \(credit_curve=...\); "
                                         r"the market has acme, bust"):
        quelm.Book([cds]).npv(MARKET)
    with pytest.raises(ValueError, match=r"name its credit curve \(credit_curve=...\); the market has no credit curve"):
        quelm.Book([cds]).npv(market())
    two = quelm.Market(TRADE, curves={"usd-libor": DISC, "usd-ois": quelm.YieldCurve.flat(0.01, reference_date=TRADE)},
                       credit_curves={"acme": ACME})
    # Two curves: the one the credit curve was bootstrapped on.
    assert quelm.Book([cds]).npv(two)["total"] == cds.npv(ACME, DISC)
    neither = quelm.Market(TRADE, curves={"usd-a": quelm.YieldCurve.flat(0.02, reference_date=TRADE),
                                          "usd-b": quelm.YieldCurve.flat(0.01, reference_date=TRADE)},
                           credit_curves={"acme": ACME})
    with pytest.raises(ValueError, match=r"name its discount curve \(discount_curve=...\); the market has usd-a, "
                                         r"usd-b"):
        quelm.Book([cds]).npv(neither)
    with pytest.raises(ValueError, match="trade 0: cds on zeta: no credit curve zeta in the market; it has acme, bust"):
        quelm.Book([quelm.Cds("5Y", 0.01, trade_date=TRADE, credit_curve="zeta")]).npv(MARKET)


def test_the_trade_pickles_and_shows_its_curve_names():
    cds = quelm.Cds("5Y", 0.01, trade_date=TRADE, notional=1e6, credit_curve="acme", discount_curve="usd-libor")
    assert repr(cds) == ("Cds('2014-06-20', 0.01, trade_date='2009-05-21', notional=1000000.0, credit_curve='acme', "
                         "discount_curve='usd-libor')")
    assert cds.credit_curve == "acme" and cds.discount_curve == "usd-libor"
    back = pickle.loads(pickle.dumps(cds))
    assert back == cds and repr(back) == repr(cds)
    assert cds != quelm.Cds("5Y", 0.01, trade_date=TRADE, notional=1e6, credit_curve="bust",
                            discount_curve="usd-libor")
    book = quelm.Book([cds, quelm.Cds("3Y", 0.01, trade_date=TRADE, credit_curve="bust")])
    assert pickle.loads(pickle.dumps(book)) == book and book.trades[0] == cds
    with pytest.raises(ValueError, match="cds: credit_curve must name a curve of the market, not be empty"):
        quelm.Cds("5Y", 0.01, trade_date=TRADE, credit_curve="")
    with pytest.raises(TypeError):
        quelm.Cds("5Y", 0.01, trade_date=TRADE, discount_curve=3)


# --- exact risk against bump and rebuild ----------------------------------------------------

def bumped_values(trades, name, quotes, recovery, h, moved_rate=None, moved_credit=None):
    """Each trade's value on the curves rebuilt from moved quotes (the credit curve on the
    moved discount curve), at the market's date."""
    disc = discount(moved_rate)
    credit = quotes if moved_credit is None else moved_quotes(quotes, moved_credit, h)
    curve = quelm.CreditCurve.bootstrap(TRADE, credit, disc, recovery=recovery)
    m = quelm.Market(TRADE, curves={"usd-libor": disc}, credit_curves={name: curve})
    return quelm.Book(trades).npv(m)["by_trade"]


def check_against_bumps(trades, name, quotes, recovery, tol=1e-6):
    m = market({name: quelm.CreditCurve.bootstrap(TRADE, quotes, DISC, recovery=recovery)})
    report = quelm.Book(trades).risk(m)
    assert report.labels == tuple(rate_labels() + labels_of(name, quotes))
    checked = 0
    for k, label in enumerate(labels_of(name, quotes)):
        h = 1e-6
        up = bumped_values(trades, name, quotes, recovery, h, moved_credit=k)
        down = bumped_values(trades, name, quotes, recovery, -h, moved_credit=k)
        for i in up:
            bump = (up[i] - down[i]) / (2 * h) * 1e-4
            assert report.by_trade[i][report.labels.index(label)] == pytest.approx(bump, rel=tol, abs=1e-6), label
            checked += 1
    for k, label in enumerate(rate_labels()):
        h = 1e-6
        up = bumped_values(trades, name, quotes, recovery, h, moved_rate=(k, h))
        down = bumped_values(trades, name, quotes, recovery, h, moved_rate=(k, -h))
        for i in up:
            bump = (up[i] - down[i]) / (2 * h) * 1e-4
            assert report.by_trade[i][report.labels.index(label)] == pytest.approx(bump, rel=tol, abs=1e-6), label
            checked += 1
    return report, checked


def test_cs01_and_ir01_are_the_bump_and_rebuild_slopes():
    trades = [quelm.Cds("5Y", 0.01, trade_date=TRADE, notional=10e6),
              quelm.Cds("2012-09-20", 0.05, trade_date=TRADE, notional=5e6, side="sell"),
              quelm.Cds("10Y", 0.01, trade_date=TRADE, notional=1e6),  # beyond the last pillar
              quelm.Cds("6M", 0.01, trade_date=TRADE, notional=3e6, half_day=True)]
    report, checked = check_against_bumps(trades, "acme", SPREADS, 0.4)
    assert checked == 4 * (len(SPREADS) + len(DEPOSITS) + len(SWAPS))
    # The 5Y at the 5Y pillar: its CS01 mostly there (Cds.risk's bump of the same quote).
    assert report.by_trade["0"][report.labels.index("acme 5Y")] == pytest.approx(
        trades[0].risk(ACME)["cs01"][2], rel=2e-3)


def test_a_pillar_quoted_by_date_is_labelled_by_it_and_risk_converts_currency():
    dated = quelm.CreditCurve.bootstrap(TRADE, [("2010-09-20", 0.008), ("5Y", 0.015)], DISC)
    trades = [quelm.Cds("4Y", 0.01, trade_date=TRADE, notional=2e6)]
    report, _ = check_against_bumps(trades, "acme", [("2010-09-20", 0.008), ("5Y", 0.015)], 0.4)
    assert report.labels[-2:] == ("acme 2010-09-20", "acme 5Y")
    m = market({"acme": dated}, fx={"EURUSD": 1.25})
    book = quelm.Book(trades)
    eur, usd = book.risk(m, currency="EUR"), book.risk(m)
    assert eur.total["acme 5Y"] == pytest.approx(usd.total["acme 5Y"] / 1.25, rel=1e-15)
    assert eur.total["EURUSD"] == pytest.approx(-book.npv(m)["total"] / 1.25 ** 2, rel=1e-15)


def test_a_distressed_name_quoted_upfront():
    assert max(BUST.hazards) > 1.0
    trades = [quelm.Cds("5Y", 0.05, trade_date=TRADE, notional=10e6, recovery=0.25),
              quelm.Cds("2Y", 0.05, trade_date=TRADE, notional=4e6, recovery=0.25, side="sell")]
    report, _ = check_against_bumps(trades, "bust", UPFRONTS, 0.25)
    # Per 0.0001 of notional upfront, a contract on its own quote moves one for one.
    assert report.by_trade["0"][report.labels.index("bust 5Y")] == pytest.approx(10e6 * 1e-4, rel=0.05)


def test_a_seasoned_trade_is_the_same_contract_on_the_markets_date():
    old = quelm.Cds("2014-06-20", 0.01, trade_date="2008-02-11", notional=10e6)
    today = quelm.Cds("2014-06-20", 0.01, trade_date=TRADE, notional=10e6)
    assert quelm.Book([old]).npv(market({"acme": ACME}))["total"] == today.npv(ACME, DISC)
    check_against_bumps([old], "acme", SPREADS, 0.4)
    with pytest.raises(ValueError, match="trade 0: cds on acme: traded on 2009-06-01, after the market's date "
                                         "2009-05-21"):
        quelm.Book([quelm.Cds("5Y", 0.01, trade_date="2009-06-01")]).npv(market({"acme": ACME}))
    with pytest.raises(ValueError, match="trade 0: cds on acme: matured on 2009-03-20, before the market's date "
                                         "2009-05-21 steps in"):
        quelm.Book([quelm.Cds("2009-03-20", 0.01, trade_date="2008-02-11")]).npv(market({"acme": ACME}))


def test_risk_needs_the_discount_curve_the_credit_curve_was_built_on():
    other = quelm.YieldCurve.flat(0.02, reference_date=TRADE)
    curve = quelm.CreditCurve.bootstrap(TRADE, SPREADS, other)
    m = market({"acme": curve})
    book = quelm.Book([quelm.Cds("5Y", 0.01, trade_date=TRADE, notional=1e6)])
    assert book.npv(m)["total"] == book.trades[0].npv(curve, m.curve("usd-libor"))
    with pytest.raises(ValueError, match="trade 0: cds on acme: the credit curve was bootstrapped on another discount "
                                         "curve than the one the contract discounts on: its risk needs that curve"):
        book.risk(m)
    # A curve given as hazards has no quotes: the discount factors' risk alone.
    given = market({"acme": quelm.CreditCurve.from_hazards(TRADE, ["2014-06-20"], [0.02])})
    report = book.risk(given)
    assert report.labels == tuple(rate_labels())
    hazards = given.credit_curve("acme")
    for k, label in enumerate(rate_labels()):
        h = 1e-6
        up, down = (book.trades[0].npv(hazards, discount((k, x))) for x in (h, -h))
        assert report.total[label] == pytest.approx((up - down) / (2 * h) * 1e-4, rel=1e-6, abs=1e-9), label


def test_an_unpickled_market_has_the_same_risk_to_the_bit():
    # Its credit curve's discount curve comes back as a copy equal to the market's curve.
    book = quelm.Book([quelm.Cds("5Y", 0.01, trade_date=TRADE, notional=10e6, credit_curve="acme"),
                       quelm.Cds("3Y", 0.05, trade_date=TRADE, notional=1e6, credit_curve="bust", recovery=0.25)])
    back = pickle.loads(pickle.dumps(MARKET))
    assert book.risk(back) == book.risk(MARKET)
    assert book.npv(back) == book.npv(MARKET)


# --- scenarios and VaR ------------------------------------------------------------------------

def test_scenarios_move_credit_quotes_and_rebuild_credit_curves_on_moved_rates():
    m = market({"acme": ACME})
    # A credit quote by its label: the credit curve bootstrapped again on the moved spread.
    moved = m.shifted({"acme 5Y": 1e-4})
    assert moved.credit_curve("acme") == quelm.CreditCurve.bootstrap(TRADE, moved_quotes(SPREADS, 2, 1e-4), DISC)
    assert moved.curve("usd-libor") == m.curve("usd-libor")
    # Every quote of a credit curve by its name.
    parallel = m.shifted({"acme": 1e-4})
    assert parallel.credit_curve("acme") == quelm.CreditCurve.bootstrap(
        TRADE, [(t, s + 1e-4) for t, s in SPREADS], DISC)
    # A rate quote: the discount curve rebuilt, and the credit curve on it, spreads held.
    rate = m.shifted({"usd-libor 5Y": 1e-4})
    assert rate.credit_curve("acme") == quelm.CreditCurve.bootstrap(TRADE, SPREADS, discount((5, 1e-4)))
    assert m.shifted({"acme 5Y": 0.0}) == m
    book = quelm.Book([quelm.Cds("5Y", 0.01, trade_date=TRADE, notional=10e6)])
    pnl = book.scenario(m, {"acme 5Y": 1e-4, "usd-libor 5Y": -1e-4})["total"]
    both = m.shifted({"acme 5Y": 1e-4, "usd-libor 5Y": -1e-4})
    assert pnl == book.npv(both)["total"] - book.npv(m)["total"]
    report = book.risk(m)
    assert pnl == pytest.approx(report.total["acme 5Y"] - report.total["usd-libor 5Y"], rel=2e-3)
    with pytest.raises(ValueError, match="credit curve acme has no such quote; its quotes are acme 1Y, acme 3Y, "
                                         "acme 5Y, acme 7Y"):
        m.shifted({"acme 4Y": 1e-4})
    given = market({"flat": quelm.CreditCurve.flat(TRADE, 0.02)})
    with pytest.raises(ValueError, match="credit curve flat was given whole, not bootstrapped from quotes"):
        given.shifted({"flat": 1e-4})
    with pytest.raises(ValueError, match=r"credit curve acme: the quote maturing 2010-06-20: a spread must be in "
                                         r"\[0, 10\]"):
        m.shifted({"acme 1Y": -0.0065})


def test_historical_var_sees_credit_quotes():
    pd = pytest.importorskip("pandas")
    m = market({"acme": ACME})
    book = quelm.Book([quelm.Cds("5Y", 0.01, trade_date=TRADE, notional=10e6),
                       quelm.Cds("3Y", 0.01, trade_date=TRADE, notional=4e6, side="sell")], names=["long", "short"])
    history = pd.DataFrame({"acme 5Y": [0.015, 0.0155, 0.0148, 0.0162], "usd-libor 5Y": [0.0244, 0.0246, 0.0241,
                                                                                         0.0243]},
                           index=pd.date_range("2009-05-18", periods=4))
    var = book.historical_var(m, history, level=0.9)
    days = history.diff().iloc[1:]
    for pnl, (_, row) in zip(var["pnl"], days.iterrows()):
        assert pnl == book.scenario(m, dict(row))["total"]
    # The first-order figure reads the CS01 and IR01 columns: close to the full one.
    assert var["first_order"] == pytest.approx(var["var"], rel=2e-2) and var["var"] > 0


def test_the_same_bits_at_any_thread_count():
    import os
    import subprocess
    import sys
    code = ("import sys; sys.path.insert(0, 'tests'); import test_cds_trades as t, quelm\n"
            "book = quelm.Book([quelm.Cds(f'{y}Y', 0.01, trade_date=t.TRADE, notional=1e6 * y, credit_curve='acme')"
            " for y in range(1, 9)] + [quelm.Cds('5Y', 0.05, trade_date=t.TRADE, credit_curve='bust', recovery=0.25)])\n"
            "r = book.risk(t.MARKET)\n"
            "print([x.hex() for row in r.by_trade.values() for x in row], book.npv(t.MARKET)['total'].hex())\n")
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = {subprocess.run([sys.executable, "-c", code], cwd=root, capture_output=True, text=True, check=True,
                          env={**os.environ, "RAYON_NUM_THREADS": n}).stdout for n in ("1", "3")}
    assert len(out) == 1
