"""quelm.vec: every element has the bits of the scalar call, over any broadcast of inputs."""
from __future__ import annotations

import math

import numpy as np
import pytest

import quelm
import quelm.vec as vec
from conftest import run_python, same_output_across_threads

RNG_SEED = 20261208


def _edges(rng, n, random, edges):
    """n values: random ones with the edge values mixed in at random places."""
    v = random(rng, n)
    pick = rng.random(n) < 0.3
    v[pick] = rng.choice(np.asarray(edges, dtype=float), pick.sum())
    return v


SPOT = (lambda r, n: r.uniform(1, 200, n), [0.0, 100.0, 1e-300, -1.0, math.nan, 1e6])
STRIKE = (lambda r, n: r.uniform(1, 200, n), [100.0, 0.0, -5.0, math.nan, 1e-6, 1e6])
RATE = (lambda r, n: r.uniform(-0.02, 0.1, n), [0.0, math.nan, 0.5])
VOL = (lambda r, n: r.uniform(0.01, 1.0, n), [0.0, -0.1, math.nan, 5.0, 1e-8])
TIME = (lambda r, n: r.uniform(0.01, 3.0, n), [0.0, -1.0, math.nan, 30.0])
YIELD = (lambda r, n: r.uniform(0.0, 0.05, n), [0.0, math.nan])
OPTION = ["call", "put", "C", "p"]


def grid(n, *columns):
    rng = np.random.default_rng(RNG_SEED)
    return [_edges(rng, n, *c) if isinstance(c, tuple) else rng.choice(c, n) for c in columns]


def scalar_each(fn, args, keys=None):
    """The scalar function over the elements: NaN where it raises ValueError."""
    n = len(args[0])
    out = {k: np.full(n, math.nan) for k in (keys or ("",))}
    for i in range(n):
        try:
            v = fn(*(a[i].item() if isinstance(a[i], np.generic) else a[i] for a in args))
        except ValueError:
            continue
        for k in out:
            out[k][i] = v[k] if keys else v
    return out if keys else out[""]


def assert_same_bits(got, want):
    got, want = np.asarray(got, dtype=float), np.asarray(want, dtype=float)
    assert got.shape == want.shape
    both_nan = np.isnan(got) & np.isnan(want)
    differ = (got.view(np.uint64) != want.view(np.uint64)) & ~both_nan
    assert not differ.any(), (np.flatnonzero(differ)[:5], got[differ][:5], want[differ][:5])


def _market(n):
    # market prices: BS prices of random options, plus junk below/above the bounds
    spot, strike, rate, vol, t, ot = grid(n, SPOT, STRIKE, RATE, VOL, TIME, OPTION)
    price = vec.black_scholes(np.abs(spot) + 1, np.abs(strike) + 1, rate, np.abs(vol) + 0.05, np.abs(t) + 0.1,
                              ot, errors="nan")
    junk = np.random.default_rng(1).random(n) < 0.15
    price[junk] = np.random.default_rng(2).choice([-1.0, 0.0, 1e9, math.nan], junk.sum())
    return price


CASES = {
    "black_scholes": (vec.black_scholes, quelm.black_scholes,
                      lambda n: grid(n, SPOT, STRIKE, RATE, VOL, TIME, OPTION, YIELD), None),
    "greeks": (vec.greeks, quelm.greeks, lambda n: grid(n, SPOT, STRIKE, RATE, VOL, TIME, OPTION, YIELD),
               vec.GREEK_KEYS),
    "implied_volatility": (vec.implied_volatility, quelm.implied_volatility,
                           lambda n: [_market(n)] + grid(n, SPOT, STRIKE, RATE, TIME, OPTION, YIELD), None),
    "binomial": (vec.binomial, quelm.binomial,
                 lambda n: grid(n, SPOT, STRIKE, RATE, VOL, TIME, OPTION, ["european", "american", "a"])
                 + [np.random.default_rng(3).integers(0, 60, n).astype(np.uint64)] + grid(n, YIELD), None),
    "barrier_price": (vec.barrier_price, quelm.barrier_price,
                      lambda n: grid(n, SPOT, STRIKE, RATE, VOL, TIME, OPTION,
                                     ["down-in", "down-out", "up-in", "UO", "down_in"], SPOT, YIELD), None),
    "lookback_price": (vec.lookback_price, quelm.lookback_price,
                       lambda n: grid(n, SPOT, STRIKE, RATE, VOL, TIME, OPTION, ["floating", "fixed"], YIELD), None),
}


@pytest.mark.parametrize("name", CASES)
def test_every_element_has_the_scalar_bits(name):
    fn, scalar, make, keys = CASES[name]
    args = make(1500 if name != "binomial" else 400)
    got = fn(*args, errors="nan")
    want = scalar_each(scalar, args, keys)
    if keys:
        assert list(got) == list(keys)
        for k in keys:
            assert_same_bits(got[k], want[k])
    else:
        assert_same_bits(got, want)
        assert np.isnan(got).any() and np.isfinite(got).any()  # the grid holds both kinds


CURVE = quelm.YieldCurve.from_zero_rates([0.5, 1, 2, 5, 10], [0.02, 0.025, 0.03, 0.035, 0.036],
                                         interp="natural-cubic")
BOND = quelm.FixedRateBond.regular(100, 0.05, 2, 20)
TIMES = (lambda r, n: r.uniform(0, 15, n), [0.0, -1.0, math.nan, 0.5, 10.0, 1e9])


@pytest.mark.parametrize("fn, scalar, columns", [
    (lambda t, **k: vec.discount(CURVE, t, **k), CURVE.discount, [TIMES]),
    (lambda t, **k: vec.zero_rate(CURVE, t, **k), CURVE.zero_rate, [TIMES]),
    (lambda a, b, **k: vec.forward_rate(CURVE, a, b, **k), CURVE.forward_rate, [TIMES, TIMES]),
    (lambda y, **k: vec.bond_price(BOND, y, **k), BOND.clean_price_from_yield,
     [(lambda r, n: r.uniform(-0.05, 0.2, n), [0.0, -2.0, -1.0, math.nan, 1e6])]),
    (lambda p, **k: vec.bond_yield(BOND, p, **k), BOND.yield_to_maturity,
     [(lambda r, n: r.uniform(50, 150, n), [0.0, -1.0, math.nan, 1e9, 100.0])]),
])
def test_curves_and_bonds_have_the_scalar_bits(fn, scalar, columns):
    args = grid(600, *columns)
    assert_same_bits(fn(*args, errors="nan"), scalar_each(scalar, args))


def test_broadcast_shapes():
    k = np.array([90.0, 100.0, 110.0])
    vols = np.array([[0.1], [0.2]])
    assert isinstance(vec.black_scholes(100, 100, 0.05, 0.2, 1.0, "call"), float)
    assert vec.black_scholes(100, 100, 0.05, 0.2, 1.0, "call") == quelm.black_scholes(100, 100, 0.05, 0.2, 1.0,
                                                                                       "call")
    g = vec.greeks(100, 100, 0.05, 0.2, 1.0, "call")
    assert all(isinstance(v, float) for v in g.values())
    r = vec.black_scholes(100, k, 0.05, vols, 1.0, ["call", "put", "call"])
    assert r.shape == (2, 3) and r.dtype == np.float64
    for i, j in np.ndindex(2, 3):
        assert r[i, j] == quelm.black_scholes(100, k[j], 0.05, vols[i, 0], 1.0, ["call", "put", "call"][j])
    for shape in [(0,), (3, 0), (0, 2)]:
        e = vec.black_scholes(np.ones(shape), 100, 0.05, 0.2, 1.0, "call")
        assert e.shape == shape
        assert vec.greeks(np.ones(shape), 100, 0.05, 0.2, 1.0, "call")["rho"].shape == shape
    assert vec.black_scholes(np.array(100.0), 100, 0.05, 0.2, 1.0, "c") == r.dtype.type(
        quelm.black_scholes(100, 100, 0.05, 0.2, 1.0, "c"))
    with pytest.raises(ValueError):
        vec.black_scholes([1.0, 2.0], [1.0, 2.0, 3.0], 0.05, 0.2, 1.0, "call")


def test_strided_and_other_dtypes_read_as_float64():
    rng = np.random.default_rng(5)
    base = rng.uniform(50, 150, (40, 30))
    want = vec.black_scholes(np.ascontiguousarray(base.T[::3, ::2]), 100.0, 0.03, 0.25, 0.5, "put")
    assert_same_bits(vec.black_scholes(base.T[::3, ::2], 100.0, 0.03, 0.25, 0.5, "put"), want)
    for view in [base[::-1].T[::-3, ::2], base[:, 5], np.broadcast_to(base[:1], (4, 30))]:
        assert_same_bits(vec.black_scholes(view, 100.0, 0.03, 0.25, 0.5, "put"),
                         vec.black_scholes(np.ascontiguousarray(view), 100.0, 0.03, 0.25, 0.5, "put"))
    ints = np.arange(80, 120, dtype=np.int32)
    as_float = ints.astype(np.float64)
    for x in [ints, ints.astype(np.float32), ints.tolist(), np.array(ints.tolist(), dtype=object),
              ints.astype(np.uint16)]:
        assert_same_bits(vec.black_scholes(x, 100, 0.05, 0.2, 1.0, "call"),
                         vec.black_scholes(as_float, 100, 0.05, 0.2, 1.0, "call"))
    assert vec.black_scholes(True, 1, 0.0, 0.2, 1.0, "call") == quelm.black_scholes(True, 1, 0.0, 0.2, 1.0, "call")
    # steps as any integer array, bools included, as the scalar reads them
    assert vec.binomial(100, 100, 0.05, 0.2, 1, "put", "a", np.array([3, 7], dtype=np.int16)).tolist() == [
        quelm.binomial(100, 100, 0.05, 0.2, 1, "put", "a", s) for s in (3, 7)]


@pytest.mark.parametrize("kwargs, error, message", [
    ({"option_type": "straddle"}, ValueError, 'option_type must be \'call\' or \'put\', got "straddle"'),
    # a bad string in an array fails its own element
    ({"option_type": ["call", "Put", "x"]}, quelm.ElementError,
     'at index (2,): option_type must be \'call\' or \'put\', got "x"'),
    ({"option_type": np.array(["c", "bad", "p"])}, quelm.ElementError,
     'at index (1,): option_type must be \'call\' or \'put\', got "bad"'),
    ({"option_type": 3}, TypeError, "argument 'option_type': expected str, got int"),
    ({"option_type": ["call", 3, "put"]}, quelm.ElementError,
     "at index (1,): argument 'option_type': expected str, got int"),
    ({"spot": "100"}, TypeError, "argument 'spot': must be real number, not str"),
    ({"spot": ["1", "2"]}, TypeError, "argument 'spot': must be real number, not str"),
    ({"vol": [0.2, None]}, TypeError, "argument 'vol': must be real number, not NoneType"),
    ({"strike": [1 + 2j]}, TypeError, "argument 'strike': must be real number, not complex"),
    ({"errors": "ignore"}, ValueError, "errors must be 'raise' or 'nan', got 'ignore'"),
])
def test_type_and_option_errors_as_the_scalar_words_them(kwargs, error, message):
    args = {"spot": 100.0, "strike": [90.0, 100.0, 110.0], "rate": 0.05, "vol": 0.2, "t": 1.0,
            "option_type": "call"}
    args.update(kwargs)
    with pytest.raises(error) as info:
        vec.black_scholes(**args)
    assert str(info.value) == message


def test_string_options_in_each_order_and_alias():
    spots = np.array([90.0, 100.0, 110.0])
    got = vec.lookback_price(spots, 100, 0.05, 0.3, 1.0, np.array(["c", "P", "call"], dtype=object),
                             ["floating", "FIXED", "float"])
    want = [quelm.lookback_price(s, 100, 0.05, 0.3, 1.0, o, k)
            for s, o, k in zip(spots, ["c", "P", "call"], ["floating", "FIXED", "float"])]
    assert got.tolist() == want
    # both options wrong: the one the scalar reads first is reported
    for fn, args in [(vec.lookback_price, ("x", "y")), (quelm.lookback_price, ("x", "y"))]:
        with pytest.raises(ValueError, match="strike_type"):
            fn(100, 100, 0.05, 0.3, 1.0, *args)
    with pytest.raises(ValueError, match="barrier_type must be one of down-in/down-out/up-in/up-out"):
        vec.barrier_price(100, 100, 0.05, 0.2, 1, "call", ["up-in", "down-under"], 120)


@pytest.mark.parametrize("kind", ["U", "O"])
def test_many_spellings_and_late_bad_elements_in_long_string_arrays(kind):
    # More distinct spellings than are matched one by one: the sorted path must agree, and a
    # bad element deep in the array is still the one reported.
    spellings = ["call", "c", "CALL", "Call", "put", "p", "PUT", "Put", "cALL", "pUt"]
    types = np.array([spellings[i % len(spellings)] for i in range(5000)], dtype=kind)
    spots = np.linspace(80.0, 120.0, types.size)
    got = vec.black_scholes(spots, 100, 0.05, 0.2, 1.0, types)
    assert got.tolist() == [quelm.black_scholes(s, 100, 0.05, 0.2, 1.0, o) for s, o in zip(spots, types)]
    for few in (False, True):
        bad = types[:4000:4].copy() if few else types.copy()
        bad[-7] = "cal"  # fits the array's width
        with pytest.raises(ValueError, match='got "cal"'):
            vec.black_scholes(100, 100, 0.05, 0.2, 1.0, bad)
    if kind == "O":
        mixed = types.copy()
        mixed[4321], mixed[4500] = 2.5, None
        with pytest.raises(quelm.ElementError, match=r"^at index \(4321,\): .*expected str, got float"):
            vec.black_scholes(100, 100, 0.05, 0.2, 1.0, mixed)
        got = vec.black_scholes(100, 100, 0.05, 0.2, 1.0, mixed, errors="nan")
        assert np.flatnonzero(np.isnan(got)).tolist() == [4321, 4500]
        # Two bad spellings first met late (past the values that teach the coder its words):
        # each fails its own element, and the first in order is the one reported.
        two = types.copy()
        two[3000], two[2000], two[4999] = "puts", "calls", "puts"
        with pytest.raises(quelm.ElementError, match=r'^at index \(2000,\): .*got "calls"'):
            vec.black_scholes(100, 100, 0.05, 0.2, 1.0, two)
        got = vec.black_scholes(spots, 100, 0.05, 0.2, 1.0, two, errors="nan")
        assert np.flatnonzero(np.isnan(got)).tolist() == [2000, 3000, 4999]
        keep = ~np.isnan(got)
        assert got[keep].tolist() == [quelm.black_scholes(s, 100, 0.05, 0.2, 1.0, o)
                                      for s, o in zip(spots[keep], two[keep])]


@pytest.mark.parametrize("form", ["U", "O", "string"])
def test_an_eight_character_value_one_letter_off_a_valid_one_is_rejected(form):
    # Long columns are coded from each value's characters packed in a word: every one of an
    # eight-character value's letters must count, wherever the typo sits.
    pd = pytest.importorskip("pandas") if form == "string" else None
    n = 9000
    for position in range(8):
        typo = "european"[:position] + "#" + "european"[position + 1:]
        values = np.array(["european", "american"] * (n // 2) + [typo], dtype=object)
        column = pd.array(values.astype(str), dtype="string") if form == "string" else values.astype(form)
        with pytest.raises(quelm.ElementError, match=rf'^at index \({n},\): .*got "{typo}"'):
            vec.binomial(100.0, 100.0, 0.05, 0.2, 1.0, "put", column, steps=4)


@pytest.mark.parametrize("dtype", ["U4", "U5"])
def test_long_str_columns_matched_on_the_pool_code_as_one_pass(dtype):
    # A long NumPy str column is matched against its first values on the worker pool; values
    # first met later (more spellings than are matched at once, bad ones) are coded after in
    # order: the same prices, and the first bad element the one reported.
    spellings = ["call", "c", "CALL", "Call", "put", "p", "PUT", "Put", "cALL", "pUt", "C", "P"]
    n = 30_000
    types = np.array([spellings[(i * 7) % len(spellings)] if i > 20_000 else spellings[i % 2] for i in range(n)],
                     dtype=dtype)
    spots = np.linspace(80.0, 120.0, n)
    got = vec.black_scholes(spots, 100, 0.05, 0.2, 1.0, types)
    assert_same_bits(got, [quelm.black_scholes(s, 100, 0.05, 0.2, 1.0, o) for s, o in zip(spots, types)])
    bad = types.copy()
    bad[25_000], bad[12_000], bad[-1] = "pux", "cax", "pux"
    with pytest.raises(quelm.ElementError, match=r'^at index \(12000,\): .*got "cax"'):
        vec.black_scholes(spots, 100, 0.05, 0.2, 1.0, bad)
    got = vec.black_scholes(spots, 100, 0.05, 0.2, 1.0, bad, errors="nan")
    assert np.flatnonzero(np.isnan(got)).tolist() == [12_000, 25_000, n - 1]
    # Strided, non-contiguous views of the column read like their copies.
    assert_same_bits(vec.greeks(spots[::3], 100, 0.05, 0.2, 1.0, types[::3])["delta"],
                     vec.greeks(spots[::3].copy(), 100, 0.05, 0.2, 1.0, types[::3].copy())["delta"])


@pytest.mark.parametrize("n", [2_000, 30_000])
def test_past_every_code_for_a_rejection_the_first_bad_element_keeps_its_own_message(n):
    # 1000 distinct bad option types: errors="nan" marks each (it used to raise "too many
    # distinct invalid values"), and errors="raise" names the first bad element in order,
    # whichever order a column's form codes its values in (a categorical sorts them, so the
    # first bad value here is its last category).
    pd = pytest.importorskip("pandas")
    bad = {i: f"bad{i:04d}" for i in range(n // 2, n // 2 + 1000)}
    bad[n // 4] = "zz first"
    kinds = [bad.get(i, "put" if i % 3 else "call") for i in range(n)]
    strikes = np.linspace(80.0, 120.0, n)
    forms = {"list": kinds, "str array": np.array(kinds), "object array": np.array(kinds, dtype=object),
             "Categorical": pd.Categorical(kinds), "string Series": pd.Series(kinds, dtype="string")}
    for name, column in forms.items():
        got = np.asarray(vec.black_scholes(100.0, strikes, 0.05, 0.2, 1.0, column, errors="nan"), dtype=float)
        assert np.flatnonzero(np.isnan(got)).tolist() == sorted(bad), name
        with pytest.raises(quelm.ElementError, match=rf'^at index \({n // 4},\): .*got "zz first"$'):
            vec.black_scholes(100.0, strikes, 0.05, 0.2, 1.0, column)
    keep = ~np.isnan(got)
    assert_same_bits(got[keep], [quelm.black_scholes(100.0, k, 0.05, 0.2, 1.0, o)
                                 for k, o in zip(strikes[keep], np.array(kinds)[keep])])


def test_a_rejected_option_string_fails_its_element_only_with_a_broadcast_spot():
    # One spot for the whole chain, read once per block: a bad string marks its own element
    # and no later one, within a block and across blocks.
    strikes = np.linspace(60.0, 140.0, 700)
    types = np.where(np.arange(700) % 3 == 0, "put", "call").astype("U4")
    types[[10, 70, 300]] = "x"
    got = vec.black_scholes(100.0, strikes, 0.05, 0.2, 1.0, types, errors="nan")
    assert np.flatnonzero(np.isnan(got)).tolist() == [10, 70, 300]
    keep = ~np.isnan(got)
    assert_same_bits(got[keep], [quelm.black_scholes(100.0, k, 0.05, 0.2, 1.0, o)
                                 for k, o in zip(strikes[keep], types[keep])])


def test_long_columns_sorted_by_type_price_each_option_by_its_own_type():
    # A chain as often held: its calls, then its puts. The second value appears only far past
    # the column's first items, which teach the coder; every kind of column still gives each
    # option its own type's price.
    n = 20_000
    types = np.array(["call"] * (n - 3000) + ["put"] * 3000)
    spots = np.linspace(80.0, 120.0, n)
    want = [quelm.black_scholes(s, 100, 0.05, 0.2, 1.0, o) for s, o in zip(spots, types)]
    columns = [types, types.astype(object)]
    try:
        import pandas as pd

        columns += [pd.array(types, dtype="string"), pd.Categorical(types)]
        try:
            import pyarrow  # noqa: F401

            columns.append(pd.array(types, dtype="string[pyarrow]"))
        except ImportError:
            pass
    except ImportError:
        pass
    for column in columns:
        assert_same_bits(vec.black_scholes(spots, 100, 0.05, 0.2, 1.0, column), want)


def test_errors_raise_the_first_failure_in_c_order():
    strikes = np.full(200_000, 100.0)
    strikes[[150_001, 70_003, 199_999]] = -1.0
    with pytest.raises(ValueError) as info:
        vec.black_scholes(100, strikes, 0.05, 0.2, 1.0, "call")
    assert str(info.value) == "at index (70003,): invalid input: strike must be > 0"
    with pytest.raises(ValueError) as info:
        vec.black_scholes(100, strikes.reshape(400, 500), 0.05, 0.2, 1.0, "call")
    assert str(info.value) == "at index (140, 3): invalid input: strike must be > 0"
    with pytest.raises(ValueError) as info:
        vec.implied_volatility([5.0, 1e9], 100, 100, 0.05, 1.0, "call")
    with pytest.raises(ValueError) as scalar:
        quelm.implied_volatility(1e9, 100, 100, 0.05, 1.0, "call")
    assert str(info.value) == f"at index (1,): {scalar.value}"
    nan = vec.black_scholes(100, strikes, 0.05, 0.2, 1.0, "call", errors="nan")
    assert np.flatnonzero(np.isnan(nan)).tolist() == [70_003, 150_001, 199_999]


def test_memory_failures_are_never_turned_into_nan():
    with pytest.raises(MemoryError, match=r"^at index \(1,\): "):
        vec.binomial(100, 100, 0.05, 0.2, 1.0, "call", steps=[10, 2**62], errors="nan")
    with pytest.raises(MemoryError):
        vec.black_scholes(np.broadcast_to(1.0, (2**28, 2**20)), 100, 0.05, 0.2, 1.0, "call")


def test_pandas_in_pandas_out():
    pd = pytest.importorskip("pandas")
    chain = pd.DataFrame({"strike": [90.0, 100.0, 110.0], "type": ["call", "put", "call"]},
                         index=pd.Index(["a", "b", "c"], name="id"))
    price = vec.black_scholes(100, chain["strike"], 0.05, 0.2, 1.0, chain["type"])
    assert isinstance(price, pd.Series) and price.index.equals(chain.index)
    assert price.tolist() == vec.black_scholes(100, [90.0, 100.0, 110.0], 0.05, 0.2, 1.0,
                                               ["call", "put", "call"]).tolist()
    g = vec.greeks(100, chain["strike"], 0.05, 0.2, 1.0, "call")
    assert all(isinstance(s, pd.Series) and s.index.equals(chain.index) for s in g.values())
    iv = vec.implied_volatility(price, 100, chain["strike"], 0.05, 1.0, chain["type"])
    assert np.allclose(iv.to_numpy(), 0.2) and iv.index.equals(chain.index)
    with pytest.raises(ValueError, match="one index"):
        vec.black_scholes(chain["strike"], chain["strike"].reset_index(drop=True), 0.05, 0.2, 1.0, "call")


@pytest.mark.parametrize("dtype", ["string", "object", None])
def test_option_type_columns_of_every_pandas_string_dtype(dtype):
    pd = pytest.importorskip("pandas")
    kinds = ["Call", "p", "put", "C"] * 250
    column = pd.Series(kinds, dtype=dtype)
    got = vec.black_scholes(100.0, np.linspace(80, 120, column.size), 0.05, 0.2, 1.0, column)
    assert got.tolist() == [quelm.black_scholes(100.0, k, 0.05, 0.2, 1.0, o)
                            for k, o in zip(np.linspace(80, 120, column.size), kinds)]
    # a missing entry is not a string, and an unknown one gets the scalar message: each fails
    # its own element
    with pytest.raises(quelm.ElementError, match=r"^at index \(1,\): argument 'option_type': expected str"):
        vec.black_scholes(100.0, 100.0, 0.05, 0.2, 1.0, pd.Series(["call", None, "put"], dtype=dtype))
    with pytest.raises(quelm.ElementError, match=r'^at index \(1,\): .*got "straddle"'):
        vec.black_scholes(100.0, 100.0, 0.05, 0.2, 1.0, pd.Series(["call", "straddle"], dtype=dtype))
    got = vec.black_scholes(100.0, 100.0, 0.05, 0.2, 1.0, pd.Series(["call", None, "put "], dtype=dtype),
                            errors="nan")
    assert np.isnan(got.to_numpy()[1:]).all() and got.iloc[0] == quelm.black_scholes(100, 100, 0.05, 0.2, 1.0, "c")


def _column_forms(kinds):
    """The same option column as every form a user may hand over."""
    pd = pytest.importorskip("pandas")
    forms = {"list": list(kinds), "str array": np.array(kinds), "object array": np.array(kinds, dtype=object),
             "Categorical": pd.Categorical(kinds), "category Series": pd.Series(kinds, dtype="category"),
             "string array": pd.array(kinds, dtype="string"), "string Series": pd.Series(kinds, dtype="string")}
    try:
        import pyarrow  # noqa: F401

        forms["arrow slice"] = pd.array(["put"] * 3 + list(kinds), dtype="string[pyarrow]")[3:]
        half = len(kinds) // 2
        forms["arrow chunks"] = pd.concat([pd.Series(kinds[:half], dtype="string[pyarrow]"),
                                           pd.Series(kinds[half:], dtype="string[pyarrow]")], ignore_index=True)
    except ImportError:
        pass
    return forms


@pytest.mark.parametrize("kinds", [
    ["call", "put", "C", "p", "PUT", "Call"] * 50,              # few short values, mixed case
    ["call"] * 7 + ["put"] * 9,                               # runs
    ["call", "put", " call", "p\u00e9", "callable put option"] * 3,  # long, non-ASCII and bad values
    [f"call{'x' * (i % 20)}"[:4 + i % 20] for i in range(60)] + ["p"],  # more distinct values than any table
    ["call"] * 100 + ["put", "P", "bad", "Put", "c"] * 40,    # new values only after the first hundred
    # long columns, coded as the call runs: every value taught by the first items, or new
    # values (and bad ones) only far in, or a value too long to match in the first item
    ["call", "put", "C", "p"] * 3000,
    ["call", "put"] * 6000 + ["P", "straddle", "call", "Put"] * 30,
    ["callable put option"] + ["put", "call"] * 6000,
    # more distinct bad values than an option has codes for: each still fails its own element
    [f"bad{i}" for i in range(1000)] + ["call", "put"] * 5,
    ["call", "put"] * 5000 + [f"x{i}" for i in range(300)] + ["put"] * 100 + [f"y{i}" for i in range(300)],
])
def test_every_form_of_an_option_column_gives_the_scalar_bits(kinds):
    strike = np.linspace(80.0, 120.0, len(kinds))
    want = []
    for k, o in zip(strike, kinds):
        try:
            want.append(quelm.black_scholes(100.0, float(k), 0.05, 0.2, 1.0, o))
        except ValueError:
            want.append(math.nan)
    for name, column in _column_forms(kinds).items():
        got = np.asarray(vec.black_scholes(100.0, strike, 0.05, 0.2, 1.0, column, errors="nan"), dtype=float)
        assert got.tobytes() == np.array(want).tobytes(), name


def test_a_long_option_column_keeps_the_scalar_bits_in_every_layout():
    pd = pytest.importorskip("pandas")
    rng = np.random.default_rng(5)
    n = 20_000
    kinds = np.array(["call", "put", "p", "C"])[rng.integers(0, 4, n)]
    strike = rng.uniform(80.0, 120.0, (3, n))
    want = np.array([[quelm.black_scholes(100.0, float(k), 0.05, 0.2, 1.0, o) for k, o in zip(row, kinds)]
                     for row in strike])
    for column in (kinds, kinds.astype(object), pd.Categorical(kinds), pd.array(kinds, dtype="string")):
        assert vec.black_scholes(100.0, strike, 0.05, 0.2, 1.0, column).tobytes() == want.tobytes()
    # a reversed (negative stride) column, and a column down the rows of a grid
    got = vec.black_scholes(100.0, strike[:, ::-1], 0.05, 0.2, 1.0, kinds[::-1].astype(object))
    assert got.tobytes() == want[:, ::-1].tobytes()
    got = vec.black_scholes(100.0, strike[0].reshape(-1, 1), 0.05, 0.2, np.array([1.0, 2.0]), kinds.reshape(-1, 1))
    assert got[:, 0].tobytes() == want[0].tobytes()
    # the first bad item far into a long column fails its own element
    bad = kinds.astype(object)
    bad[15_001] = None
    with pytest.raises(quelm.ElementError, match=r"^at index \(15001,\): argument 'option_type': expected str"):
        vec.black_scholes(100.0, strike[0], 0.05, 0.2, 1.0, bad)


def test_import_quelm_leaves_numpy_alone_and_vec_needs_it():
    code = (
        "import sys\n"
        "class Block:\n"
        "    def find_spec(self, name, path=None, target=None):\n"
        "        if name == 'numpy' or name.startswith('numpy.'):\n"
        "            raise ImportError('numpy hidden')\n"
        "sys.meta_path.insert(0, Block())\n"
        "import quelm\n"
        "print(quelm.black_scholes(100, 100, 0.05, 0.2, 1.0, 'call') > 0, 'numpy' in sys.modules)\n"
        "try:\n"
        "    import quelm.vec\n"
        "except ImportError as e:\n"
        "    print(type(e).__name__, e, '|', e.__cause__)\n"
        "try:\n"
        "    quelm.vec.black_scholes\n"
        "except ImportError as e:\n"
        "    print(type(e).__name__, e)\n"
    )
    out = run_python(code)
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == [
        "True False",
        "ImportError quelm.vec needs NumPy: pip install numpy | numpy hidden",
        "ImportError quelm.vec needs NumPy: pip install numpy",
    ]


def test_vec_is_loaded_on_first_use_without_a_package_getattr():
    # quelm.vec is a plain attribute of the package (a module-level __getattr__ would slow every
    # quelm.<name> read): NumPy is imported on its first attribute read, once, from any thread.
    out = run_python(
        "import sys, threading, quelm\n"
        "print('__getattr__' in vars(quelm), 'numpy' in sys.modules)\n"
        "v = quelm.vec\n"
        "from quelm import vec\n"
        "print(v is vec, 'numpy' in sys.modules)\n"
        "got = []\n"
        "go = threading.Barrier(4)\n"
        "def use():\n"
        "    go.wait()\n"
        "    got.append(vec.black_scholes([100.0, 90.0], 100.0, 0.05, 0.2, 1.0, 'call').tolist())\n"
        "threads = [threading.Thread(target=use) for _ in range(4)]\n"
        "[t.start() for t in threads]; [t.join() for t in threads]\n"
        "print(len(got), all(g == got[0] for g in got), 'numpy' in sys.modules, type(vec).__name__)\n"
        "print(sys.modules['quelm.vec'] is vec, sorted(vec.__all__) == sorted(n for n in dir(vec) if n in vec.__all__))\n")
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["False", "False", "True", "False", "4", "True", "True", "module", "True", "True"]


def test_package_attribute_reads_take_the_interpreter_fast_path():
    # CPython specialises a module attribute read only on a module without __getattr__:
    # quelm.black_scholes(...) as users write it then costs what quelm._core's does.
    import dis
    import sys

    if sys.version_info < (3, 11) or sys.version_info >= (3, 14):
        pytest.skip("the adaptive instruction names are those of CPython 3.11 to 3.13")

    def read():
        return quelm.black_scholes

    for _ in range(200):
        read()
    names = {i.opname for i in dis.get_instructions(read, adaptive=True)}
    assert "LOAD_ATTR_MODULE" in names, names


def test_vec_reached_as_attribute_and_submodule():
    out = run_python(
        "import sys, quelm\n"
        "v = quelm.vec\n"
        "from quelm import vec\n"
        "import quelm.vec as w\n"
        "print(v is vec is w is sys.modules['quelm.vec'], 'vec' in quelm.__all__, len(quelm.__all__))\n"
        "print(hasattr(quelm, 'no_such_name'))\n")
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["True", "False", str(len(quelm.__all__)), "False"]


def test_results_do_not_depend_on_the_thread_count():
    code = (
        "import hashlib, numpy as np, quelm.vec as v\n"
        "r = np.random.default_rng(7)\n"
        "s = r.uniform(50, 150, 300_000); s[::997] = -1\n"
        "p = v.black_scholes(s, 100, 0.03, r.uniform(0, 1, 300_000), 1.0, 'put', errors='nan')\n"
        "g = v.greeks(s, 100, 0.03, 0.2, 1.0, 'call', errors='nan')\n"
        "iv = v.implied_volatility(p, s, 100, 0.03, 1.0, 'put', errors='nan')\n"
        "h = hashlib.sha256(p.tobytes() + iv.tobytes() + b''.join(x.tobytes() for x in g.values()))\n"
        "try:\n"
        "    v.black_scholes(s, 100, 0.03, 0.2, 1.0, 'put')\n"
        "except ValueError as e:\n"
        "    print(e)\n"
        "print(h.hexdigest())\n"
    )
    out = same_output_across_threads(code, counts=("1", "3"))
    assert out.startswith("at index (0,): invalid input: spot must be >= 0")


CTRL_C_CALLS = {
    # four American trees of 10^7 steps: one long element per worker
    "elements": "v.binomial(100, [90.0, 100.0, 110.0, 120.0], 0.05, 0.2, 1.0, 'put', 'american', 10**7)",
    # one long tree among short ones: the calling thread may be left waiting on a worker
    "one_long_element": "v.binomial(100, 100.0, 0.05, 0.2, 1.0, 'put', 'american', np.where(np.arange(64) == 40, "
                        "10**7, 10))",
    # full reports of long series, again and again
    "series": "[v.stats(returns=x, axis=1, lag=3) for _ in range(1000)]",
    # one pair of very long paths, on one worker
    "paths": "v.simulate_paths('heston', paths=2, steps=10**8)",
}


@pytest.mark.parametrize("name", CTRL_C_CALLS)
def test_ctrl_c_stops_a_long_array_call(name):
    code = (
        "import os, subprocess, sys, time, numpy as np, quelm.vec as v\n"
        "x = np.random.default_rng(1).normal(0, 0.01, (4, 2 * 10**6))\n"
        "subprocess.Popen(['sh', '-c', f'sleep 0.3; kill -INT {os.getpid()}'])\n"
        "start = time.monotonic()\n"
        "try:\n"
        f"    r = {CTRL_C_CALLS[name]}\n"
        "    print('returned')\n"
        "except KeyboardInterrupt:\n"
        "    print(round(time.monotonic() - start, 3))\n"
    )
    out = run_python(code, env={"RAYON_NUM_THREADS": "3"}, timeout=120)
    assert out.returncode == 0, out.stderr
    assert 0.25 < float(out.stdout) < 5.0


def _panel(rows=260, cols=7):
    r = np.random.default_rng(11).normal(0.0004, 0.012, (rows, cols))
    r[:, 2] = 0.0                 # no dispersion: ratios fail
    r[5, 3] = math.nan            # NaN follows the scalar rule
    r[:, 4] = np.abs(r[:, 4])     # no downside
    return r


def scalar_columns(fn, panel, *args, **kwargs):
    """The scalar function per column (NaN where it raises), and the columns where it raised."""
    out, raised = [], []
    for j in range(panel.shape[1]):
        try:
            out.append(fn(np.ascontiguousarray(panel[:, j]), *args, **kwargs))
        except ValueError:
            out.append(math.nan)
            raised.append(j)
    return np.array(out), raised


BENCH = np.random.default_rng(12).normal(0.0003, 0.01, 260)
METRICS = [
    (vec.sharpe, quelm.sharpe, (0.0001, 52.0)),
    (vec.sortino, quelm.sortino, (0.0002,)),
    (vec.value_at_risk, quelm.value_at_risk, (0.99, "cornish-fisher")),
    (vec.value_at_risk, quelm.value_at_risk, (0.9, "parametric")),
    (vec.expected_shortfall, quelm.expected_shortfall, (0.975, "hist")),
    (vec.beta, quelm.beta, (BENCH,)),
    (vec.tracking_error, quelm.tracking_error, (BENCH, 12.0)),
    (vec.info_ratio, quelm.info_ratio, (BENCH,)),
]


@pytest.mark.parametrize("fn, scalar, args", METRICS)
def test_per_series_metrics_equal_the_scalar_per_column(fn, scalar, args):
    panel = _panel()
    want, raised = scalar_columns(scalar, panel, *args)
    assert np.isfinite(want).any()
    assert_same_bits(fn(panel, *args, errors="nan"), want)
    assert_same_bits(fn(np.asfortranarray(panel.T), *args, axis=1, errors="nan"), want)
    j = int(np.flatnonzero(np.isfinite(want))[0])
    assert fn(panel[:, j], *args) == want[j]  # one series: the scalar's float
    if not raised:
        return
    with pytest.raises(ValueError) as info:
        fn(panel, *args)
    with pytest.raises(ValueError) as scalar_info:
        scalar(np.ascontiguousarray(panel[:, raised[0]]), *args)
    assert str(info.value) == f"at index ({raised[0]},): {scalar_info.value}"
    with pytest.raises(ValueError) as info:
        fn(panel[:, raised[0]], *args)
    assert str(info.value) == str(scalar_info.value)  # one series: the scalar's own message


def test_per_series_benchmark_panel_and_errors():
    panel = _panel()
    bench = np.random.default_rng(3).normal(0, 0.01, panel.shape)
    want = [quelm.beta(np.ascontiguousarray(panel[:, j]), np.ascontiguousarray(bench[:, j])) for j in (0, 1, 5)]
    assert_same_bits(vec.beta(panel, bench)[[0, 1, 5]], want)
    assert any(scalar_columns(scalar, _panel(), *args)[1] for _, scalar, args in METRICS)
    with pytest.raises(ValueError, match="method must be"):
        vec.value_at_risk(panel, 0.95, "monte-carlo")
    with pytest.raises(TypeError, match="argument 'returns'"):
        vec.sharpe([["a", "b"]])
    assert vec.sharpe(np.empty((10, 0))).shape == (0,)


@pytest.mark.parametrize("source, options", [
    ("returns", {}),
    ("returns", {"benchmark": BENCH, "lag": 3, "risk_free": 0.0001, "confidence": 0.99}),
    ("prices", {"periods_per_year": 12.0}),
    ("values", {}),
])
def test_stats_panel_equals_the_scalar_report_per_column(source, options):
    panel = _panel()
    if source == "prices":
        panel = np.cumprod(1.0 + panel, axis=0)
        panel[0, 6] = -1.0  # a price the scalar refuses
    got = vec.stats(**{source: panel}, **options, errors="nan")
    assert list(got) == list(quelm.stats(returns=[0.01, 0.02]))
    for j in range(panel.shape[1]):
        try:
            want = quelm.stats(**{source: np.ascontiguousarray(panel[:, j])}, **options)
        except ValueError:
            assert all(math.isnan(got[k][j]) for k in got)
            continue
        for k, v in want.items():
            assert_same_bits(got[k][j], math.nan if v is None else float(v))


def test_panels_in_pandas_out():
    pd = pytest.importorskip("pandas")
    df = pd.DataFrame(_panel()[:, [0, 1, 3]], columns=["spy", "qqq", "iwm"],
                      index=pd.date_range("2024-01-01", periods=260))
    s = vec.sharpe(df)
    assert isinstance(s, pd.Series) and list(s.index) == ["spy", "qqq", "iwm"]
    assert s["qqq"] == quelm.sharpe(df["qqq"].to_numpy())
    report = vec.stats(returns=df, benchmark=df["spy"])
    assert isinstance(report, pd.DataFrame) and list(report.columns) == ["spy", "qqq", "iwm"]
    assert list(report.index) == list(quelm.stats(returns=[0.01, 0.02]))
    assert report.loc["beta", "spy"] == 1.0 or math.isclose(report.loc["beta", "spy"], 1.0)
    by_row = vec.sharpe(df.T, axis=1)
    assert list(by_row.index) == ["spy", "qqq", "iwm"]
    assert_same_bits(by_row.to_numpy(), s.to_numpy())
    dd = vec.max_drawdown((1 + df).cumprod())
    assert dd.loc["max_drawdown", "iwm"] == quelm.max_drawdown((1 + df["iwm"]).cumprod().to_numpy())["max_drawdown"]


@pytest.mark.parametrize("name", ["black_scholes", "greeks", "implied_volatility", "binomial", "barrier_price",
                                  "lookback_price", "stats", "sharpe", "sortino", "value_at_risk",
                                  "expected_shortfall", "beta", "tracking_error", "info_ratio", "max_drawdown"])
def test_parameters_are_the_scalar_twins(name):
    import inspect

    ours = inspect.signature(getattr(vec, name)).parameters
    theirs = inspect.signature(getattr(quelm, name)).parameters
    extra = [p for p in ours if p not in theirs]
    assert extra == (["axis", "skipna", "errors"] if name in ("stats", "max_drawdown") or name not in (
        "black_scholes", "greeks", "implied_volatility", "binomial", "barrier_price", "lookback_price")
        else ["errors"])
    assert [p for p in ours if p in theirs] == list(theirs)
    for p in theirs:
        want = theirs[p].default
        if want is not inspect.Parameter.empty and want is not Ellipsis:
            assert ours[p].default == want, p
    assert ours[extra[-1]].kind is inspect.Parameter.KEYWORD_ONLY


def test_other_threads_run_while_a_book_is_priced():
    import threading

    started, done = threading.Event(), threading.Event()
    ticks = []

    def price():
        started.set()
        vec.binomial(100, np.linspace(80, 120, 64), 0.05, 0.2, 1.0, "put", "american", 4000)
        done.set()

    worker = threading.Thread(target=price)
    worker.start()
    started.wait()
    while not done.is_set():
        ticks.append(sum(range(200)))  # pure-Python work: needs the interpreter lock
    worker.join()
    # Holding the lock for the whole call would leave this thread one or two turns at most.
    assert len(ticks) > 100


# --- simulated paths ---------------------------------------------------------------------------

PROCESS_NAMES = ("gbm", "ou", "vasicek", "cir", "merton", "heston")


def _in_order_mean(values) -> float:
    total = 0.0
    for x in values:  # index order, as the engine sums
        total += x
    return total / len(values)


@pytest.mark.parametrize("process", PROCESS_NAMES)
@pytest.mark.parametrize("paths", [1, 7, 200])
def test_paths_end_where_simulate_process_summarises(process, paths):
    kwargs = dict(x0=0.05 if process in ("ou", "vasicek", "cir") else 100.0, t=0.5, steps=12, paths=paths, seed=9)
    got = vec.simulate_paths(process, **kwargs)
    pairs = (paths + 1) // 2  # an odd count rounds up to whole pairs
    assert got.shape == (2 * pairs, 13) and got.dtype == np.float64
    assert (got[:, 0] == kwargs["x0"]).all()
    last = got[:, -1]
    report = quelm.simulate_process(process, **kwargs)
    assert report["paths"] == 2 * pairs
    assert _in_order_mean([(last[2 * i] + last[2 * i + 1]) * 0.5 for i in range(pairs)]) == report["sample_mean"]


def test_paths_follow_the_seed_and_parameters():
    a = vec.simulate_paths("merton", paths=50, steps=30, seed=1)
    assert np.array_equal(a, vec.simulate_paths("merton", paths=50, steps=30, seed=1))
    assert not np.array_equal(a, vec.simulate_paths("merton", paths=50, steps=30, seed=2))
    assert not np.array_equal(a, vec.simulate_paths("merton", paths=50, steps=30, seed=1, lambda_=0.0))
    # pair i is drawn from stream i alone: more paths extend the set, they do not reshuffle it
    assert np.array_equal(a, vec.simulate_paths("merton", paths=80, steps=30, seed=1)[:50])
    assert (vec.simulate_paths("cir", x0=0.01, sigma=0.5, paths=100, steps=50) >= 0.0).all()


@pytest.mark.parametrize("kwargs", [
    dict(process="gbm", sigma=-0.1), dict(process="gbm", x0=0.0), dict(process="cir", x0=-0.01),
    dict(process="heston", rho=1.5), dict(process="ou", kappa=-1.0), dict(process="gbm", steps=0),
    dict(process="gbm", paths=0), dict(process="gbm", t=-1.0), dict(process="brownian"),
    dict(process="gbm", steps=2.5), dict(process="gbm", sigma="x"), dict(process=3),
    dict(process="gbm", paths=-1),
])
def test_path_errors_are_the_scalar_errors(kwargs):
    with pytest.raises(Exception) as want:
        quelm.simulate_process(**{"paths": 10, **kwargs})
    with pytest.raises(type(want.value)) as got:
        vec.simulate_paths(**{"paths": 10, **kwargs})
    assert str(got.value) == str(want.value)


def test_paths_too_large_fail_before_allocating():
    with pytest.raises(MemoryError, match="the simulated paths"):
        vec.simulate_paths("gbm", paths=10**9, steps=10**6)
    with pytest.raises(ValueError, match="sigma"):  # the inputs are checked first
        vec.simulate_paths("gbm", paths=10**9, steps=10**6, sigma=-1.0)


def test_paths_do_not_depend_on_the_thread_count():
    code = (
        "import hashlib, quelm.vec as v\n"
        "h = hashlib.sha256()\n"
        f"for p in {PROCESS_NAMES!r}:\n"
        "    h.update(v.simulate_paths(p, x0=0.05 if p in ('ou', 'vasicek', 'cir') else 100.0, paths=3001,"
        " steps=64).tobytes())\n"
        "print(h.hexdigest())\n"
    )
    same_output_across_threads(code, counts=("1", "3"))



def test_unaligned_float64_input_is_read_like_aligned():
    # Dask and pickles hand over float64 buffers at odd addresses; they must still work.
    rng = np.random.default_rng(5)
    panel = rng.normal(0.0005, 0.01, (60, 3))
    raw = np.zeros(panel.size * 8 + 1, dtype=np.uint8)
    unaligned = raw[1:].view(np.float64).reshape(panel.shape)
    unaligned[...] = panel
    assert not unaligned.flags.aligned
    bench = panel[:, 0].copy()
    assert vec.sharpe(unaligned).tolist() == vec.sharpe(panel).tolist()
    assert vec.beta(unaligned, bench).tolist() == vec.beta(panel, bench).tolist()
    assert vec.stats(returns=unaligned)["sharpe"].tolist() == vec.stats(returns=panel)["sharpe"].tolist()
    strikes = np.zeros(60 * 8 + 1, dtype=np.uint8)[1:].view(np.float64)
    strikes[:] = np.linspace(80.0, 120.0, 60)
    assert not strikes.flags.aligned
    assert vec.black_scholes(100.0, strikes, 0.03, 0.2, 1.0, "call").tolist() == \
        vec.black_scholes(100.0, np.linspace(80.0, 120.0, 60), 0.03, 0.2, 1.0, "call").tolist()


@pytest.mark.parametrize("shape", [(7, 37), (3, 2, 17), (40,), (600,)])
def test_price_and_greeks_blocks_across_rows_keep_the_scalar_bits(shape):
    # Ordinary options are taken sixteen at a time along a row; edge cases (zero vol or time,
    # the far tails, NaN, bad strikes) scattered among them go one by one. Both must give the
    # scalar call's bits, wherever a row or block boundary falls.
    rng = np.random.default_rng(sum(shape))
    n = int(np.prod(shape))
    spot = rng.uniform(50.0, 150.0, n)
    strike = rng.uniform(50.0, 150.0, n)
    vol = rng.uniform(0.05, 0.8, n)
    t = rng.uniform(0.01, 3.0, n)
    edges = rng.choice(n, size=n // 4, replace=False)
    for i, kind in zip(edges, range(edges.size)):
        which = kind % 6
        if which == 0:
            vol[i] = 0.0
        elif which == 1:
            t[i] = 0.0
        elif which == 2:
            spot[i] = 1e-4  # |d| beyond the rational range of Phi
        elif which == 3:
            vol[i] = np.nan
        elif which == 4:
            strike[i] = -1.0
        else:
            spot[i] = np.inf
    types = rng.choice(np.array(["call", "put"]), n)
    args = [a.reshape(shape) for a in (spot, strike)] + [0.02] + [a.reshape(shape) for a in (vol, t)]
    prices = vec.black_scholes(*args, types.reshape(shape), 0.01, errors="nan").ravel()
    greeks = vec.greeks(*args, types.reshape(shape), 0.01, errors="nan")
    want_prices, want_greeks = [], []
    nan_greeks = dict.fromkeys(greeks, float("nan"))
    for i in range(n):
        inputs = (spot[i], strike[i], 0.02, vol[i], t[i], types[i], 0.01)
        try:
            want_prices.append(quelm.black_scholes(*inputs))
            want_greeks.append(quelm.greeks(*inputs))
        except ValueError:
            want_prices.append(float("nan"))
            want_greeks.append(nan_greeks)
    assert_same_bits(prices, want_prices)
    for key, values in greeks.items():
        assert_same_bits(values.ravel(), [g[key] for g in want_greeks])


def test_a_memory_failure_stops_the_elements_still_running():
    # One tree cannot fit; the other would run for hours: the call raises the memory error
    # at once instead of waiting for it (or turning it into an interrupt).
    code = ("import quelm.vec as v\n"
            "try:\n"
            "    v.binomial(100, 100, 0.05, 0.2, 1.0, 'put', 'american', steps=[2**40, 40_000_000, 40_000_000])\n"
            "except MemoryError as e:\n"
            "    print('MemoryError', str(e).startswith('at index (0,): '))\n")
    out = run_python(code, timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["MemoryError", "True"]


# --- what trying the array API as users do turned up ------------------------------------------

def test_a_pandas_benchmark_is_aligned_on_the_panel_dates_not_read_by_position():
    pd = pytest.importorskip("pandas")
    dates = pd.bdate_range("2024-01-01", periods=300)
    rng = np.random.default_rng(5)
    bench = pd.Series(rng.normal(0.0, 0.01, 300), index=dates)
    panel = pd.DataFrame({name: bench + rng.normal(0.0, 1e-5, 300) for name in ("a", "b")}, index=dates)
    want = vec.beta(panel, bench)
    assert want.tolist() == [quelm.beta(panel[c].to_numpy(), bench.to_numpy()) for c in panel]
    assert vec.beta(panel, bench.sample(frac=1.0, random_state=1)).tolist() == want.tolist()
    with pytest.raises(ValueError, match="dates"):
        vec.beta(panel, bench.set_axis(dates + pd.Timedelta(days=1)))
    # a benchmark panel is aligned on both its dates and its series
    both = vec.tracking_error(panel, panel[["b", "a"]].sample(frac=1.0, random_state=2))
    assert both.tolist() == [0.0, 0.0]


@pytest.mark.parametrize("axis", [0, -2, 1, -1])
def test_negative_axes_label_the_results_like_their_positive_twins(axis):
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame(np.random.default_rng(7).normal(0.0, 0.01, (40, 3)), columns=["x", "y", "z"])
    got = vec.sharpe(frame, axis=axis)
    labels = list(frame.columns) if axis % 2 == 0 else list(frame.index)
    assert list(got.index) == labels
    assert got.tolist() == [quelm.sharpe(s) for s in (frame.to_numpy().T if axis % 2 == 0 else frame.to_numpy())]


def test_counts_in_arrays_fail_as_the_scalar_call_does():
    for steps, error in (([100, None], TypeError), ([2**64], OverflowError), ([1.5], TypeError), ([-3], OverflowError)):
        with pytest.raises(error) as scalar:
            quelm.binomial(100, 100, 0.05, 0.2, 1.0, "put", steps=steps[-1])
        with pytest.raises(error) as array:
            vec.binomial(100, 100, 0.05, 0.2, 1.0, "put", steps=steps)
        assert str(array.value) == str(scalar.value)


def test_buffers_of_any_exporter_are_read_in_place():
    import array

    strikes = array.array("d", [90.0, 100.0, 110.0])
    want = [quelm.black_scholes(100, k, 0.05, 0.2, 1.0, "call") for k in strikes]
    assert vec.black_scholes(100, strikes, 0.05, 0.2, 1.0, "call").tolist() == want
    assert vec.black_scholes(100, memoryview(strikes), 0.05, 0.2, 1.0, "call").tolist() == want
    assert vec.binomial(100, 100, 0.05, 0.2, 1.0, "put", steps=array.array("q", [10, 20])).tolist() == [
        quelm.binomial(100, 100, 0.05, 0.2, 1.0, "put", steps=n) for n in (10, 20)]


def test_skipna_drops_missing_days_pairwise_and_is_off_by_default():
    pd = pytest.importorskip("pandas")
    rng = np.random.default_rng(11)
    frame = pd.DataFrame(rng.normal(0.0005, 0.01, (250, 3)), columns=["old", "new", "gappy"])
    frame.iloc[:60, 1] = np.nan  # listed late
    frame.iloc[[5, 90, 91], 2] = np.nan
    bench = pd.Series(rng.normal(0.0004, 0.009, 250))
    bench.iloc[7] = np.nan
    plain = vec.sharpe(frame)
    assert np.isnan(plain["new"]) and plain["old"] == quelm.sharpe(frame["old"].to_numpy())
    skipped = vec.sharpe(frame, skipna=True)
    assert skipped.tolist() == [quelm.sharpe(frame[c].dropna().to_numpy()) for c in frame]
    betas = vec.beta(frame, bench, skipna=True)
    for c in frame:
        keep = frame[c].notna() & bench.notna()
        assert betas[c] == quelm.beta(frame[c][keep].to_numpy(), bench[keep].to_numpy())
    report = vec.stats(returns=frame["new"], skipna=True)
    assert report == quelm.stats(returns=frame["new"].dropna().to_numpy())


def test_max_drawdown_of_labelled_prices_names_the_peak_and_the_trough():
    pd = pytest.importorskip("pandas")
    dates = pd.date_range("2024-01-01", periods=6)
    prices = pd.Series([100.0, 110.0, 90.0, 95.0, 80.0, 120.0], index=dates)
    dd = vec.max_drawdown(prices)
    assert dd["peak_index"] == 1 and dd["trough_index"] == 4
    assert dd["peak_label"] == dates[1] and dd["trough_label"] == dates[4]
    panel = vec.max_drawdown(pd.DataFrame({"p": prices, "q": prices[::-1].to_numpy()}, index=dates))
    assert panel.loc["peak_label", "p"] == dates[1] and panel.loc["trough_label", "q"] == dates[1]
