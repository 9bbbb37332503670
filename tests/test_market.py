"""quelm.Market: the named market a book is priced on, read back as given, refused with a
message naming the fault, immutable, pickled to the same bits, and bootstrapped in the
order its discount curves need."""
from __future__ import annotations

import datetime
import pickle

import pytest

import quelm

TODAY = datetime.date(2026, 3, 2)
SOFR = quelm.YieldCurve.flat(0.043, reference_date=TODAY)
ESTR = quelm.YieldCurve.from_zero_rates([0.5, 1.0, 2.0, 5.0], [0.021, 0.022, 0.024, 0.026], "natural-cubic",
                                        extrapolate="flat-forward", reference_date=TODAY)
SURFACE = quelm.VolSurface.from_vols([80.0, 90.0, 100.0, 110.0, 120.0] * 2, [0.5] * 5 + [1.0] * 5,
                                     [0.26, 0.23, 0.21, 0.2, 0.205] * 2, 100.0)

DAY = datetime.date(2025, 1, 15)
OIS = [quelm.Ois(t, r) for t, r in [("1M", 0.0290), ("6M", 0.0279), ("1Y", 0.0268), ("2Y", 0.0254),
                                    ("5Y", 0.0252), ("10Y", 0.0266)]]
SWAPS = [quelm.Deposit("6M", 0.0285), quelm.Fra("6M", "12M", 0.0272)] + [
    quelm.Swap(t, r) for t, r in [("2Y", 0.0268), ("5Y", 0.0266), ("10Y", 0.0281)]]
TIMES = [0.01 * i for i in range(0, 1200, 7)]


def market(**parts):
    given = dict(curves={"usd-sofr": SOFR, "eur-estr": ESTR}, surfaces={"spx": SURFACE},
                 fx={"EURUSD": 1.0837, "usdjpy": 149.52},
                 fixings={"sofr": {"2026-02-27": 0.0433, datetime.date(2026, 2, 26): 0.0431}})
    given.update(parts)
    return quelm.Market(TODAY, **given)


def same_curve_bits(a, b):
    times = [t for t in TIMES if a.extrapolate != "none" or t <= a.pillar_times[-1]]
    return [a.discount(t).hex() for t in times] == [b.discount(t).hex() for t in times]


def raises(kind, text, call):
    with pytest.raises(kind) as info:
        call()
    assert str(info.value) == text
    return info.value


# --- reading what was given ------------------------------------------------------------

def test_names_sorted_and_values_as_given():
    m = market()
    assert m.reference_date == TODAY and type(m.reference_date) is datetime.date
    assert (m.curve_names, m.surface_names, m.fx_pairs, m.fixing_indices) == (
        ("eur-estr", "usd-sofr"), ("spx",), ("EURUSD", "USDJPY"), ("sofr",))
    assert m.curve("eur-estr") == ESTR and same_curve_bits(m.curve("eur-estr"), ESTR)
    assert m.surface("spx") == SURFACE and m.surface("spx").vol(95.0, 0.7) == SURFACE.vol(95.0, 0.7)
    assert m.fixing("sofr", "2026-02-26") == 0.0431 and m.fixing("sofr", datetime.date(2026, 2, 27)) == 0.0433
    empty = quelm.Market("2026-03-02")
    assert (empty.curve_names, empty.surface_names, empty.fx_pairs, empty.fixing_indices) == ((), (), (), ())


def test_reference_date_in_every_form_the_frame_reads():
    np = pytest.importorskip("numpy")
    pd = pytest.importorskip("pandas")
    for day in ("2026-03-02", pd.Timestamp("2026-03-02 15:30"), np.datetime64("2026-03-02"),
                datetime.datetime(2026, 3, 2, 9)):
        assert quelm.Market(day, curves={"usd-sofr": SOFR}).reference_date == TODAY


def test_fx_inverse_is_exactly_one_over_the_spot():
    spots = [1.0837, 149.52, 0.8571, 7.0123456789, 1e-3]
    m = quelm.Market(TODAY, fx={f"EUR{c}": s for c, s in zip(["USD", "JPY", "GBP", "CNY", "KRW"], spots)})
    for c, s in zip(["USD", "JPY", "GBP", "CNY", "KRW"], spots):
        assert m.fx(f"EUR{c}") == s
        assert m.fx(f"{c}EUR").hex() == (1.0 / s).hex()
        assert m.fx(f"{c.lower()}eur") == m.fx(f"{c}EUR")
    assert m.fx("EUREUR") == 1.0 and m.fx("usdusd") == 1.0


def test_fixings_from_a_series_equal_those_from_a_dict():
    np = pytest.importorskip("numpy")
    pd = pytest.importorskip("pandas")
    days = pd.date_range("2026-01-02", periods=40, freq="B")
    rates = 0.04 + np.arange(40) * 1e-5
    series = pd.Series(rates, index=days)[::-1]  # any order
    as_dict = {d.date(): float(r) for d, r in zip(days, rates)}
    by_series = quelm.Market(TODAY, fixings={"sofr": series})
    assert by_series == quelm.Market(TODAY, fixings={"sofr": as_dict})
    assert by_series.fixing("sofr", days[17]) == rates[17]
    assert by_series.fixing("sofr", np.datetime64(days[3].date())) == rates[3]
    labelled = pd.Series([0.0193, 0.0194], index=["2026-02-26", "2026-02-27"])
    assert quelm.Market(TODAY, fixings={"estr": labelled}).fixing("estr", "2026-02-27") == 0.0194
    with pytest.raises(ValueError, match="fixing of sofr on 2026-01-05 must be finite, got NaN"):
        quelm.Market(TODAY, fixings={"sofr": series.where(series.index != days[1])})


def test_repr_names_every_part():
    assert repr(market()) == ("<Market 2026-03-02, curves: eur-estr, usd-sofr; surfaces: spx; "
                              "fx: EURUSD, USDJPY; fixings: sofr (2 dates)>")
    assert repr(quelm.Market(TODAY, fixings={"a": {TODAY: 0.01}, "b": {}})) == (
        "<Market 2026-03-02, curves: none; surfaces: none; fx: none; fixings: a (1 date), b (0 dates)>")


# --- what is refused, and how it is said --------------------------------------------------

def test_lookups_name_what_is_missing_and_list_what_there_is():
    m = market()
    raises(ValueError, "no curve usd-ois in the market; it has eur-estr, usd-sofr", lambda: m.curve("usd-ois"))
    raises(ValueError, "no surface sx5e in the market; it has spx", lambda: m.surface("sx5e"))
    raises(ValueError, "no fx pair GBPUSD (nor USDGBP) in the market; it has EURUSD, USDJPY", lambda: m.fx("GBPUSD"))
    raises(ValueError, "no fx pair EURJPY (nor JPYEUR) in the market; it has EURUSD, USDJPY", lambda: m.fx("EURJPY"))
    raises(ValueError, "no fixing of sofr on 2026-03-02", lambda: m.fixing("sofr", TODAY))
    raises(ValueError, "no fixings of estr in the market; it has fixings of sofr", lambda: m.fixing("estr", TODAY))
    raises(ValueError, "no curve usd-sofr in the market; it has none", lambda: quelm.Market(TODAY).curve("usd-sofr"))
    raises(ValueError, 'fx pair "EUR/USD" is not six letters, such as "EURUSD"', lambda: m.fx("EUR/USD"))
    raises(TypeError, "argument 'date': expected a date (datetime.date, numpy.datetime64, pandas.Timestamp or "
           "'YYYY-MM-DD'), got int", lambda: m.fixing("sofr", 20260227))


def test_curves_must_be_dated_at_the_market_date():
    raises(ValueError, "curve usd-sofr has reference date 2026-03-02, not the market's 2026-03-03",
           lambda: quelm.Market("2026-03-03", curves={"usd-sofr": SOFR}))
    raises(ValueError, "curve usd-sofr has no reference date; the market's curves are dated at 2026-03-02",
           lambda: quelm.Market(TODAY, curves={"usd-sofr": quelm.YieldCurve.flat(0.043)}))


@pytest.mark.parametrize("parts, kind, text", [
    (dict(curves={"usd": 0.04}), TypeError, "argument 'curves': curve usd: expected quelm.YieldCurve, got float"),
    (dict(curves=[SOFR]), TypeError, "argument 'curves': expected a mapping of names to YieldCurve, got list"),
    (dict(curves={1: SOFR}), TypeError, "argument 'curves': curve names are str, got int"),
    (dict(curves={"": SOFR}), ValueError, "curve names must not be empty"),
    (dict(surfaces={"spx": SOFR}), TypeError,
     "argument 'surfaces': surface spx: expected quelm.VolSurface, FxSmile or FxVolSurface, got quelm.YieldCurve"),
    (dict(fx="EURUSD"), TypeError, "argument 'fx': expected a mapping of currency pairs to spots, got str"),
    (dict(fx={"EURUSD": "1.08"}), TypeError, "argument 'fx': fx pair EURUSD: must be real number, not str"),
    (dict(fx={"EURUS": 1.0}), ValueError, 'fx pair "EURUS" is not six letters, such as "EURUSD"'),
    (dict(fx={"EUR1SD": 1.0}), ValueError, 'fx pair "EUR1SD" is not six letters, such as "EURUSD"'),
    (dict(fx={"usdusd": 1.0}), ValueError, "fx pair USDUSD quotes a currency in itself"),
    (dict(fx={"EURUSD": 0.0}), ValueError, "invalid input: fx spot of EURUSD must be positive and finite, got 0"),
    (dict(fx={"EURUSD": -1.08}), ValueError,
     "invalid input: fx spot of EURUSD must be positive and finite, got -1.08"),
    (dict(fx={"EURUSD": float("inf")}), ValueError,
     "invalid input: fx spot of EURUSD must be positive and finite, got inf"),
    (dict(fx={"EURUSD": float("nan")}), ValueError,
     "invalid input: fx spot of EURUSD must be positive and finite, got NaN"),
    (dict(fx={"EURUSD": 1.08, "eurusd": 1.09}), ValueError, "fx pair EURUSD is given twice"),
    (dict(fx={"USDEUR": 0.92, "EURUSD": 1.08}), ValueError,
     "fx gives both EURUSD and USDEUR: give one, the other is its inverse"),
    (dict(fixings={"sofr": [0.043]}), TypeError, "argument 'fixings': fixings of sofr: expected a mapping of dates "
     "to rates (a dict or a pandas Series), got list"),
    (dict(fixings={"sofr": {"2026-02-30": 0.043}}), ValueError,
     'fixings of sofr: no such date "2026-02-30" (invalid input: day 30 not in 1..=28 for 2026-02)'),
    (dict(fixings={"sofr": {"2026-02-27": None}}), TypeError,
     "argument 'fixings': fixings of sofr: 2026-02-27: must be real number, not NoneType"),
    (dict(fixings={"sofr": {"2026-02-27": float("inf")}}), ValueError,
     "invalid input: fixing of sofr on 2026-02-27 must be finite, got inf"),
    (dict(fixings={"sofr": {"2026-02-27": 0.043, datetime.date(2026, 2, 27): 0.044}}), ValueError,
     "fixings of sofr give 2026-02-27 twice"),
    (dict(fixings={"": {}}), ValueError, "fixing index names must not be empty"),
])
def test_every_bad_part_is_refused_by_name(parts, kind, text):
    raises(kind, text, lambda: quelm.Market(TODAY, **parts))


def test_the_mapping_arguments_are_keyword_only():
    with pytest.raises(TypeError):
        quelm.Market(TODAY, {"usd-sofr": SOFR})


# --- immutable, compared by value, pickled to the same bits ------------------------------

def test_immutable_and_unhashable():
    m = market()
    for name in ("reference_date", "curve_names", "surface_names", "fx_pairs", "fixing_indices"):
        with pytest.raises(AttributeError):
            setattr(m, name, None)
    with pytest.raises(AttributeError):
        m.curves = {}
    with pytest.raises(TypeError):
        hash(m)


def test_equality_is_by_value_not_by_order_or_spelling():
    assert market() == market(fx={"usdjpy": 149.52, "EURUSD": 1.0837})
    assert market() != market(fx={"EURUSD": 1.0838, "USDJPY": 149.52})
    assert market() != market(fixings={"sofr": {"2026-02-27": 0.0433}})
    assert market() != market(curves={"usd-sofr": SOFR, "eur-estr": SOFR})
    assert market() != market(curves={"usd-sofr": SOFR, "eur-ester": ESTR})
    assert market() != quelm.Market("2026-03-03")
    assert market().__eq__(SOFR) is NotImplemented


def test_pickle_round_trip_keeps_every_bit():
    m = quelm.Market.bootstrap(DAY, {"eur-estr": OIS, "eur-euribor-6m": (SWAPS, {"discount_curve": "eur-estr"})},
                               surfaces={"spx": SURFACE}, fx={"EURUSD": 1.0291},
                               fixings={"estr": {"2025-01-14": 0.02914, "2025-01-13": 0.02913}})
    back = pickle.loads(pickle.dumps(m))
    assert back == m and repr(back) == repr(m)
    for name in m.curve_names:
        assert same_curve_bits(back.curve(name), m.curve(name))
    assert back.curve("eur-euribor-6m").discount_curve == m.curve("eur-estr")
    assert back.curve("eur-euribor-6m").instruments == m.curve("eur-euribor-6m").instruments
    assert back.surface("spx").vol(104.0, 0.8).hex() == SURFACE.vol(104.0, 0.8).hex()
    assert back.fx("USDEUR").hex() == (1.0 / 1.0291).hex()
    assert back.fixing("estr", "2025-01-13").hex() == (0.02913).hex()
    plain = market()
    assert pickle.loads(pickle.dumps(plain, protocol=2)) == plain


# --- bootstrap in the order the discount curves need ------------------------------------

def test_projection_curve_equals_the_two_step_bootstrap_bit_for_bit():
    options = {"discount_curve": "eur-estr", "interp": "monotone-convex", "day_count": "act/360",
               "extrapolate": "none"}
    # The projection curve listed first: the order comes from the discount curves.
    m = quelm.Market.bootstrap(DAY, {"eur-euribor-6m": (SWAPS, options), "eur-estr": (OIS, {"interp": "linear-zero"})})
    estr = quelm.YieldCurve.bootstrap(DAY, OIS, interp="linear-zero")
    euribor = quelm.YieldCurve.bootstrap(DAY, SWAPS, interp="monotone-convex", day_count="act/360",
                                         extrapolate="none", discount_curve=estr)
    built = m.curve("eur-euribor-6m")
    assert built == euribor and m.curve("eur-estr") == estr
    assert (built.interp, built.day_count, built.extrapolate) == ("monotone-convex", "act/360", "none")
    assert [t.hex() for t in built.pillar_times] == [t.hex() for t in euribor.pillar_times]
    assert built.pillar_dates == euribor.pillar_dates
    assert same_curve_bits(built, euribor) and same_curve_bits(m.curve("eur-estr"), estr)
    assert built.discount_curve == estr
    assert built.risk(SWAPS[3]) == euribor.risk(SWAPS[3])


def test_a_chain_of_discount_curves_and_a_curve_given_whole():
    by_hand = quelm.YieldCurve.bootstrap(DAY, OIS)
    middle = quelm.YieldCurve.bootstrap(DAY, SWAPS, discount_curve=by_hand)
    top = quelm.YieldCurve.bootstrap(DAY, SWAPS[2:], discount_curve=middle)
    m = quelm.Market.bootstrap(DAY, {"c": (SWAPS[2:], {"discount_curve": "b"}), "b": (SWAPS, {"discount_curve": "a"}),
                                     "a": OIS, "given": (SWAPS, {"discount_curve": by_hand})})
    assert same_curve_bits(m.curve("c"), top) and m.curve("c").discount_curve == middle
    assert same_curve_bits(m.curve("given"), middle)
    assert m.curve("a").discount_curve is None


def test_the_other_parts_pass_through():
    m = quelm.Market.bootstrap(DAY, {"eur-estr": OIS}, fx={"eurusd": 1.03}, fixings={"estr": {"2025-01-14": 0.029}},
                               surfaces={"sx5e": SURFACE})
    assert m == quelm.Market(DAY, curves={"eur-estr": quelm.YieldCurve.bootstrap(DAY, OIS)}, fx={"EURUSD": 1.03},
                             fixings={"estr": {"2025-01-14": 0.029}}, surfaces={"sx5e": SURFACE})
    assert quelm.Market.bootstrap(DAY, {}) == quelm.Market(DAY)


@pytest.mark.parametrize("quotes, kind, text", [
    ({"a": (OIS, {"discount_curve": "b"}), "b": (SWAPS, {"discount_curve": "a"})}, ValueError,
     "the discount curves go round a loop: a -> b -> a"),
    ({"x": OIS, "a": (OIS, {"discount_curve": "b"}), "b": (SWAPS, {"discount_curve": "c"}),
      "c": (SWAPS, {"discount_curve": "b"})}, ValueError, "the discount curves go round a loop: b -> c -> b"),
    ({"a": (OIS, {"discount_curve": "a"})}, ValueError, "the discount curves go round a loop: a -> a"),
    ({"eur-euribor-6m": (SWAPS, {"discount_curve": "eur-ester"}), "eur-estr": OIS}, ValueError,
     "curve eur-euribor-6m discounts on eur-ester, which is not a curve of the market; it has eur-estr, "
     "eur-euribor-6m"),
    ({"a": (OIS, {"curve": "b"})}, TypeError, "argument 'quotes': curve a: unknown bootstrap option 'curve' (the "
     "options are day_count, interp, extrapolate and discount_curve)"),
    ({"a": (OIS, {"interp": "cubic"})}, ValueError, "curve a: interp must be 'log-linear', 'linear-zero', "
     "'natural-cubic', 'monotone-convex', or 'flat-forward', got \"cubic\""),
    ({"a": (OIS, {"extrapolate": 1})}, TypeError, "argument 'quotes': curve a: extrapolate: expected str, got int"),
    ({"a": (OIS, {"day_count": "30e/360-isda"})}, ValueError, "invalid input: curve a: bootstrap: day_count "
     "\"30e/360-isda\" is not supported here: it needs the termination date of a schedule"),
    ({"a": (OIS, {"discount_curve": 0.03})}, TypeError, "argument 'quotes': curve a: discount_curve: expected the "
     "name of a curve or a quelm.YieldCurve, got float"),
    ({"a": [OIS[0], OIS[0]]}, ValueError, "invalid input: curve a: bootstrap: Ois('1M', 0.029) and "
     "Ois('1M', 0.029) both end on 2025-02-17: each pillar needs its own instrument"),
    ({"a": [OIS[0], 0.03]}, TypeError, "argument 'quotes': curve a: item 1: expected an instrument (Deposit, Fra, "
     "Future, Ois, Swap or BondQuote), got float"),
    ({"": OIS}, ValueError, "curve names must not be empty"),
    ([("a", OIS)], TypeError, "argument 'quotes': expected a mapping of curve names to quotes, got list"),
])
def test_bootstrap_refuses_loops_unknown_names_and_bad_options(quotes, kind, text):
    raises(kind, text, lambda: quelm.Market.bootstrap(DAY, quotes))


def test_quote_labels_name_each_quote_by_curve_and_point():
    day = datetime.date(2026, 12, 9)
    ois = [quelm.Ois(t, r, index="estr") for t, r in [("1Y", 0.02), ("2Y", 0.021), ("5Y", 0.022)]]
    swaps = [quelm.Fra("3M", "6M", 0.023), quelm.Swap("2Y", 0.024),
             quelm.Swap(None, 0.026, maturity=datetime.date(2036, 12, 11)), quelm.Swap("5Y", 0.027, effective="1Y")]
    m = quelm.Market.bootstrap(day, {"eur-euribor-6m": (swaps, {"discount_curve": "eur-estr"}), "eur-estr": ois})
    assert m.quote_labels == ("eur-estr 1Y", "eur-estr 2Y", "eur-estr 5Y", "eur-euribor-6m 3Mx6M",
                              "eur-euribor-6m 2Y", "eur-euribor-6m 2036-12-11", "eur-euribor-6m 1Yx5Y")
    # A curve given whole has no quotes of its own to label.
    flat = quelm.YieldCurve.flat(0.03, reference_date=day)
    assert quelm.Market(day, curves={"usd-sofr": flat}).quote_labels == ()
