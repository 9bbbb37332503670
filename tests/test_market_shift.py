"""Markets under quote shifts: a moved quote rebuilds its curve (and the curves discounting on
it) to the bits of bootstrapping the moved quotes, the rest of the market is shared, many
scenarios on the pool equal one at a time on any thread count, and quote histories become
scenario shifts as pandas computes them."""
from __future__ import annotations

import datetime
import pickle

import pytest

import quelm
from conftest import same_output_across_threads

DAY = datetime.date(2025, 1, 15)
OIS = [("1M", 0.0290), ("6M", 0.0279), ("1Y", 0.0268), ("2Y", 0.0254), ("5Y", 0.0252), ("10Y", 0.0266)]
SWAPS = [("2Y", 0.0268), ("5Y", 0.0266), ("10Y", 0.0281)]
FUTURES = [(datetime.date(2025, 6, 18), 96.95), (datetime.date(2025, 9, 17), 96.90)]
OPTIONS = {"discount_curve": "eur-estr", "interp": "monotone-convex", "day_count": "act/360"}
FLAT = quelm.YieldCurve.flat(0.043, reference_date=DAY)
TIMES = [0.01 * i for i in range(0, 1200, 7)]


def ois(moves=None):
    moves = moves or {}
    return [quelm.Ois(t, r + moves.get(t, 0.0)) for t, r in OIS]


def swaps(moves=None, future_moves=None):
    moves, future_moves = moves or {}, future_moves or {}
    return ([quelm.Deposit("3M", 0.0285 + moves.get("3M", 0.0))]
            + [quelm.Future(d, p + future_moves.get(d, 0.0)) for d, p in FUTURES]
            + [quelm.Swap(t, r + moves.get(t, 0.0)) for t, r in SWAPS])


def bootstrap(estr=None, euribor=None):
    return quelm.Market.bootstrap(DAY, {"eur-euribor-6m": (euribor or swaps(), OPTIONS),
                                        "eur-estr": (estr or ois(), {"interp": "linear-zero"})},
                                  fx={"EURUSD": 1.0837, "usdjpy": 149.52})


def _with_flat(curves):
    """The bootstrapped curves (their recipes kept) handed in whole, with a flat curve beside."""
    return quelm.Market(DAY, curves={**curves, "usd-sofr": FLAT}, fx={"EURUSD": 1.0837, "usdjpy": 149.52})


BASE = bootstrap()


def bits(curve):
    return [curve.discount(t).hex() for t in TIMES]


def same_market_bits(a, b):
    return (a.curve_names == b.curve_names and all(bits(a.curve(n)) == bits(b.curve(n)) for n in a.curve_names)
            and {p: a.fx(p).hex() for p in a.fx_pairs} == {p: b.fx(p).hex() for p in b.fx_pairs})


def raises(kind, text, call):
    with pytest.raises(kind) as info:
        call()
    assert str(info.value) == text


# --- one market shifted ------------------------------------------------------------------
def test_a_discount_quote_rebuilds_its_curve_and_the_projection_curve_on_it():
    shifted = BASE.shifted({"eur-estr 5Y": 0.0001})
    by_hand = bootstrap(estr=ois({"5Y": 0.0001}))
    assert bits(shifted.curve("eur-estr")) == bits(by_hand.curve("eur-estr"))
    assert bits(shifted.curve("eur-euribor-6m")) == bits(by_hand.curve("eur-euribor-6m"))
    assert shifted.curve("eur-euribor-6m").discount_curve == shifted.curve("eur-estr")
    assert shifted.curve("eur-estr") != BASE.curve("eur-estr")
    # The recipe is kept: interpolation, day count, the quotes' risk.
    built = shifted.curve("eur-euribor-6m")
    assert (built.interp, built.day_count) == ("monotone-convex", "act/360")
    assert shifted.curve("eur-estr").interp == "linear-zero"
    assert shifted == by_hand


def test_a_projection_quote_leaves_the_discount_curve_and_fx_untouched():
    shifted = BASE.shifted({"eur-euribor-6m 5Y": -0.0002, "eur-euribor-6m fut 2025-09-17": 0.05})
    by_hand = bootstrap(euribor=swaps({"5Y": -0.0002}, {FUTURES[1][0]: 0.05}))
    assert bits(shifted.curve("eur-euribor-6m")) == bits(by_hand.curve("eur-euribor-6m"))
    assert bits(shifted.curve("eur-estr")) == bits(BASE.curve("eur-estr"))
    assert shifted.curve("eur-euribor-6m").discount_curve == BASE.curve("eur-estr")
    assert shifted.fx("EURUSD") == BASE.fx("EURUSD")


def test_a_curve_given_whole_is_shared_and_a_pickled_market_still_links_its_curves():
    m = _with_flat({n: BASE.curve(n) for n in BASE.curve_names})
    shifted = m.shifted({"eur-estr": 0.0001})
    assert bits(shifted.curve("usd-sofr")) == bits(FLAT)
    # Curves handed in whole, or unpickled, are separate objects: the projection curve is
    # linked to its discount curve by value and rebuilt on the moved one all the same.
    for market in (m, pickle.loads(pickle.dumps(m))):
        again = market.shifted({"eur-estr": 0.0001})
        assert bits(again.curve("eur-euribor-6m")) == bits(shifted.curve("eur-euribor-6m"))
        assert bits(again.curve("eur-euribor-6m")) == bits(bootstrap(estr=ois({t: 0.0001 for t, _ in OIS}))
                                                           .curve("eur-euribor-6m"))


def test_a_pickled_dual_curve_market_risks_as_the_original():
    """Unpickled (as on a Dask worker), each bootstrapped curve brings its own copy of the curve
    it was built on; the market links it back, so the risk reaches the discount curve's quotes."""
    book = quelm.Book([quelm.Swap("4Y", 0.026, notional=1e6, curve="eur-euribor-6m")], names=["s"])
    again = pickle.loads(pickle.dumps(BASE))
    assert book.risk(again).total == book.risk(BASE).total
    assert any(label.startswith("eur-estr ") for label in book.risk(again).total)


def test_a_whole_curve_shift_is_each_quote_moved_and_shifts_of_a_quote_add():
    parallel = BASE.shifted({"eur-estr": 0.0001})
    one_by_one = BASE.shifted({label: 0.0001 for label in BASE.quote_labels if label.startswith("eur-estr ")})
    assert same_market_bits(parallel, one_by_one)
    both = BASE.shifted({"eur-estr": 0.0001, "eur-estr 2Y": 0.0002})
    assert same_market_bits(both, bootstrap(estr=ois({t: (0.0001 + 0.0002 if t == "2Y" else 0.0001)
                                                       for t, _ in OIS})))


def test_zero_shifts_give_the_market_itself_and_fx_moves_its_spot_only():
    for zero in ({}, {"eur-estr": 0.0}, {"eur-euribor-6m 2Y": 0.0, "EURUSD": 0.0}):
        same = BASE.shifted(zero)
        assert same == BASE and same_market_bits(same, BASE)
    pd = pytest.importorskip("pandas")
    fx = BASE.shifted(pd.Series({"eurusd": 0.0125, "USDJPY": -1.5}))
    assert fx.fx("EURUSD") == 1.0837 + 0.0125 and fx.fx("USDEUR") == 1.0 / (1.0837 + 0.0125)
    assert fx.fx("USDJPY") == 149.52 - 1.5
    assert all(bits(fx.curve(n)) == bits(BASE.curve(n)) for n in BASE.curve_names)


LABELS = ", ".join(BASE.quote_labels[:4])


@pytest.mark.parametrize("shifts, kind, text", [
    ({"gbp-sonia": 0.0001}, ValueError,
     f'unknown shift key "gbp-sonia": not a quote label, a curve or an fx pair of the market; its quotes are '
     f'{LABELS}, ... (12 in all); its curves eur-estr, eur-euribor-6m; its fx pairs EURUSD, USDJPY'),
    ({"eur-estr 7Y": 0.0001}, ValueError,
     'unknown shift key "eur-estr 7Y": curve eur-estr has no such quote; its quotes are eur-estr 1M, '
     'eur-estr 6M, eur-estr 1Y, eur-estr 2Y, eur-estr 5Y, eur-estr 10Y'),
    ({"USDEUR": 0.01}, ValueError, 'unknown shift key "USDEUR": the market\'s spot is EURUSD; shift that'),
    ({"eur-estr": float("nan")}, ValueError, "the shift of a quote of curve eur-estr must be finite, got NaN"),
    ({"EURUSD": -1.0837}, ValueError, "fx pair EURUSD shifted to 0: a spot must stay positive"),
    ({"eur-euribor-6m fut 2025-06-18": 200.0}, ValueError,
     "invalid input: curve eur-euribor-6m: bootstrap: Future('2025-06-18', 296.95): future: price must be within "
     "(0, 200) per 100 (a rate above -100%), got 296.95"),
    ({1: 0.0001}, TypeError, "argument 'shifts': shift key names are str, got int"),
    ({"eur-estr": "1bp"}, TypeError, "argument 'shifts': shift of eur-estr: must be real number, not str"),
    (["eur-estr"], TypeError, "argument 'shifts': expected a mapping of shift keys to amounts, got list"),
])
def test_bad_shifts_fail_naming_the_fault(shifts, kind, text):
    raises(kind, text, lambda: BASE.shifted(shifts))


def test_a_curve_given_whole_cannot_be_shifted_by_quote():
    m = quelm.Market(DAY, curves={"usd-sofr": FLAT})
    raises(ValueError, "curve usd-sofr was given whole, not bootstrapped from quotes: it can't be shifted by quote",
           lambda: m.shifted({"usd-sofr": 0.0001}))


# --- many scenarios -------------------------------------------------------------------
SCENARIOS = {"flat up": {"eur-estr": 0.0001, "eur-euribor-6m": 0.0001},
             "twist": {"eur-estr 1M": -0.0005, "eur-estr 10Y": 0.0005},
             "fx": {"EURUSD": 0.02},
             "none": {},
             "futures": {"eur-euribor-6m fut 2025-06-18": -0.1}}


def test_scenarios_in_every_form_equal_shifting_one_by_one():
    one_by_one = {name: BASE.shifted(s) for name, s in SCENARIOS.items()}
    as_dict = BASE.scenarios(SCENARIOS)
    assert list(as_dict) == list(SCENARIOS)
    assert all(same_market_bits(as_dict[n], one_by_one[n]) for n in SCENARIOS)
    as_list = BASE.scenarios(list(SCENARIOS.values()))
    assert all(same_market_bits(a, b) for a, b in zip(as_list, one_by_one.values()))
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame([{"eur-estr 2Y": 0.0001 * i, "EURUSD": -0.001 * i} for i in range(6)],
                         index=[f"s{i}" for i in range(6)])
    from_frame = BASE.scenarios(frame)
    assert list(from_frame) == list(frame.index)
    for name, row in frame.iterrows():
        assert same_market_bits(from_frame[name], BASE.shifted(row.to_dict()))


def test_a_failing_scenario_is_named_and_names_must_differ():
    raises(ValueError, "scenario 1: fx pair EURUSD shifted to 0: a spot must stay positive",
           lambda: BASE.scenarios([{"EURUSD": 0.01}, {"EURUSD": -1.0837}, {"EURUSD": -1.0837}]))
    raises(ValueError, 'scenario bad: unknown shift key "nope": not a quote label, a curve or an fx pair of the '
           f'market; its quotes are {LABELS}, ... (12 in all); its curves eur-estr, eur-euribor-6m; its fx pairs '
           'EURUSD, USDJPY', lambda: BASE.scenarios({"good": {}, "bad": {"nope": 1.0}}))
    raises(TypeError, "scenario 0: expected a mapping of shift keys to amounts, got float",
           lambda: BASE.scenarios([0.5]))
    pd = pytest.importorskip("pandas")
    raises(ValueError, "scenario names must differ: a name is given twice",
           lambda: BASE.scenarios(pd.DataFrame({"EURUSD": [0.01, 0.02]}, index=["a", "a"])))


def test_scenarios_have_the_same_bits_on_one_and_two_threads():
    code = f"""
import datetime, quelm
DAY = datetime.date(2025, 1, 15)
ois = [quelm.Ois(t, r) for t, r in {OIS!r}]
swaps = [quelm.Swap(t, r) for t, r in {SWAPS!r}]
m = quelm.Market.bootstrap(DAY, {{"e6m": (swaps, {{"discount_curve": "estr"}}), "estr": ois}})
shifts = [{{"estr": 1e-5 * i, "e6m 5Y": -2e-5 * i}} for i in range(24)]
for s in m.scenarios(shifts):
    print([s.curve(n).discount(t).hex() for n in s.curve_names for t in (0.5, 3.0, 9.5)])
"""
    out = same_output_across_threads(code, counts=("1", "2"))
    assert len(out.splitlines()) == 24


# --- historical shifts ------------------------------------------------------------------
def history():
    pd = pytest.importorskip("pandas")
    days = pd.bdate_range("2024-12-02", periods=8)
    return pd.DataFrame({"eur-estr 5Y": [0.0250, 0.0252, 0.0249, 0.0255, 0.0251, 0.0250, 0.0247, 0.0253],
                         "eur-euribor-6m": [0.0001 * i for i in range(8)],
                         "EURUSD": [1.05, 1.06, 1.055, 1.04, 1.045, 1.07, 1.065, 1.06]}, index=days)


@pytest.mark.parametrize("horizon", [1, 3])
def test_historical_shifts_match_a_pandas_hand_computation(horizon):
    h = history()
    got = BASE.historical_shifts(h, horizon=horizon)
    spot = BASE.fx("EURUSD")
    want = h.diff(horizon).iloc[horizon:]
    want["EURUSD"] = spot * (h["EURUSD"] / h["EURUSD"].shift(horizon)).iloc[horizon:] - spot
    assert list(got.index) == list(h.index[horizon:]) and list(got.columns) == list(h.columns)
    assert len(got) == len(h) - horizon  # overlapping windows: one per day
    assert got.to_numpy().tolist() == want.to_numpy().tolist()
    # They feed scenarios straight.
    markets = BASE.scenarios(got)
    first = got.index[0]
    assert same_market_bits(markets[first], BASE.shifted(got.loc[first]))


def test_historical_shifts_relative_columns_and_errors():
    h = history()[["eur-estr 5Y", "EURUSD"]]
    got = BASE.historical_shifts(h, relative=["eur-estr 5Y"])
    level = 0.0252  # the market's 5Y quote
    want = (level * (h["eur-estr 5Y"] / h["eur-estr 5Y"].shift(1)) - level).iloc[1:]
    assert got["eur-estr 5Y"].tolist() == want.tolist()
    assert got["EURUSD"].tolist() == (h["EURUSD"].diff().iloc[1:]).tolist()  # named list: others absolute
    holed = h.copy()
    holed.iloc[3, 1] = float("nan")
    raises(ValueError, "invalid input: the history has no value for EURUSD on 2024-12-05",
           lambda: BASE.historical_shifts(holed))
    raises(ValueError, "a horizon of 8 days needs more than 8 dates of history, got 8",
           lambda: BASE.historical_shifts(h, horizon=8))
    raises(ValueError, "relative names eur-estr 7Y, which is not a column of the quote history",
           lambda: BASE.historical_shifts(h, relative=["eur-estr 7Y"]))
    with pytest.raises(ValueError, match="curve eur-euribor-6m has many quotes"):
        BASE.historical_shifts(history(), relative=["eur-euribor-6m"])
    with pytest.raises(ValueError, match='unknown shift key "gbp-sonia 5Y"'):
        BASE.historical_shifts(h.rename(columns={"eur-estr 5Y": "gbp-sonia 5Y"}))
    with pytest.raises(TypeError, match="expected a DataFrame indexed by date"):
        BASE.historical_shifts({"EURUSD": [1.0, 1.1]})
