"""quelm.vec over arrays of dates: year fractions, day counts and a DatedBond's measures at
many settlement dates, each element with the bits of the scalar call, from every kind of
array of dates NumPy and pandas give."""
from __future__ import annotations

import datetime as dt
import math
import pickle

import numpy as np
import pytest

import quelm
import quelm.vec as vec
from conftest import same_output_across_threads

pd = pytest.importorskip("pandas")

DAY_COUNTS = ["act/360", "act/365f", "act/364", "act/365.25", "30/360", "30e/360", "30e/360-isda",
              "act/act-isda", "act/act-icma", "act/act-afb", "bus/252", "bus/252:target", "BUS/252:UK+Target",
              "bus/252:us-nyse+japan"]


def random_dates(rng, n, lo="1950-01-01", span=40_000):
    return np.datetime64(lo, "D") + rng.integers(0, span, n).astype("timedelta64[D]")


def scalar_each(fn, *columns, **keywords):
    """The scalar call per element (NaN where it raises ValueError); scalars broadcast."""
    n = max(len(c) for c in columns if isinstance(c, (list, np.ndarray)))
    pick = [c if isinstance(c, (list, np.ndarray)) else [c] * n for c in columns]
    kw = {k: v if isinstance(v, (list, np.ndarray)) else [v] * n for k, v in keywords.items()}
    out = np.full(n, math.nan)
    for i in range(n):
        try:
            out[i] = fn(*(c[i] for c in pick), **{k: v[i] for k, v in kw.items()})
        except ValueError:
            pass
    return out


def assert_same_bits(got, want):
    got, want = np.asarray(got, dtype=float), np.asarray(want, dtype=float)
    assert got.shape == want.shape
    differ = (got.view(np.uint64) != want.view(np.uint64)) & ~(np.isnan(got) & np.isnan(want))
    assert not differ.any(), (np.flatnonzero(differ)[:5], got[differ][:5], want[differ][:5])


# --- year fractions and day counts ---------------------------------------------------------------

@pytest.mark.parametrize("day_count", DAY_COUNTS)
def test_year_fraction_and_day_count_have_the_scalar_bits(day_count):
    rng = np.random.default_rng(8)
    n = 400
    start = random_dates(rng, n)
    end = start + rng.integers(-400, 12_000, n).astype("timedelta64[D]")  # backwards periods too
    end[::37] = start[::37]
    # February ends and 31sts, which the 30/360 rules treat apart
    start[::11] = np.datetime64("2000-02-29")
    end[::13] = np.datetime64("2031-01-31")
    term = end + rng.integers(0, 30, n).astype("timedelta64[D]")
    kw = {"termination": term} if day_count == "30e/360-isda" else {}
    got = vec.year_fraction(start, end, day_count, **kw, errors="nan")
    assert_same_bits(got, scalar_each(quelm.year_fraction, start, end, day_count, **kw))
    count = vec.day_count(start, end, day_count, **kw, errors="nan")
    assert_same_bits(count, scalar_each(quelm.day_count, start, end, day_count, **kw))


def test_reference_periods_and_day_counts_as_arrays():
    rng = np.random.default_rng(9)
    n = 300
    ref_start = random_dates(rng, n, "1990-01-01", 10_000)
    ref_end = ref_start + rng.choice([91, 182, 365], n).astype("timedelta64[D]")
    start = ref_start + rng.integers(0, 60, n).astype("timedelta64[D]")
    end = ref_end - rng.integers(0, 60, n).astype("timedelta64[D]")
    got = vec.year_fraction(start, end, "act/act-icma", ref_start=ref_start, ref_end=ref_end, errors="nan")
    assert_same_bits(got, scalar_each(quelm.year_fraction, start, end, "act/act-icma", ref_start=ref_start,
                                      ref_end=ref_end))
    counts = rng.choice(DAY_COUNTS[:6] + DAY_COUNTS[7:], n)  # one day count per element
    got = vec.year_fraction(start, end, counts)
    assert_same_bits(got, scalar_each(quelm.year_fraction, start, end, list(counts)))


DATE_LISTS = {
    "date": lambda d: [x.astype(object) for x in d],
    "datetime": lambda d: [dt.datetime.combine(x.astype(object), dt.time(23, 59)) for x in d],
    "Timestamp": lambda d: [pd.Timestamp(x) for x in d],
    "iso text": lambda d: [str(x) for x in d],
    "datetime64": lambda d: list(d),
    "mixed": lambda d: [[x.astype(object), str(x), pd.Timestamp(x), x][i % 4] for i, x in enumerate(d)],
}


@pytest.mark.parametrize("kind", DATE_LISTS)
def test_lists_of_any_date_type(kind):
    rng = np.random.default_rng(10)
    d = random_dates(rng, 50)
    want = scalar_each(quelm.year_fraction, d, "2031-07-15", "act/act-isda")
    assert_same_bits(vec.year_fraction(DATE_LISTS[kind](d), "2031-07-15", "act/act-isda"), want)
    assert_same_bits(vec.year_fraction(tuple(DATE_LISTS[kind](d)), "2031-07-15", "act/act-isda"), want)


@pytest.mark.parametrize("unit", ["D", "s", "ms", "us", "ns", "h", "W", "M", "Y"])
def test_datetime64_arrays_of_every_unit(unit):
    rng = np.random.default_rng(11)
    # pre-1970 instants late in the day too: their date is the day they fall on
    base = np.datetime64("1960-01-01T00:00", "s") + rng.integers(0, 2_000_000_000, 200).astype("timedelta64[s]")
    d = base.astype(f"datetime64[{unit}]")
    want = scalar_each(quelm.year_fraction, d, "2030-01-01", "act/365f")
    assert_same_bits(vec.year_fraction(d, "2030-01-01", "act/365f"), want)
    assert_same_bits(vec.year_fraction(d[::-3], "2030-01-01", "act/365f"), want[::-3])  # strided
    assert_same_bits(vec.year_fraction(d.astype(d.dtype.newbyteorder()), "2030-01-01", "act/365f"), want)


def test_text_arrays_scalars_and_broadcasting():
    d = np.array(["2020-01-31", "2020-02-29", "2021-12-31"])
    ends = np.array([["2022-06-30"], ["2030-01-15"]], dtype="datetime64[D]")
    got = vec.year_fraction(d, ends, "30/360")
    assert got.shape == (2, 3)
    for i in range(2):
        for j in range(3):
            assert got[i, j] == quelm.year_fraction(d[j], ends[i, 0], "30/360")
    one = vec.year_fraction(np.datetime64("2020-01-31"), dt.date(2022, 6, 30), "30/360")
    assert type(one) is float and one == quelm.year_fraction("2020-01-31", "2022-06-30", "30/360")
    assert vec.day_count("2020-01-01", "2021-01-01", "act/360") == 366.0


def test_pandas_dates_in_pandas_out():
    idx = pd.date_range("2019-12-30", periods=40, freq="7D")
    got = vec.year_fraction(idx, "2025-03-31", "act/act-isda")
    assert isinstance(got, pd.Series) and got.index.equals(idx)
    assert_same_bits(got.to_numpy(), scalar_each(quelm.year_fraction, list(idx), "2025-03-31", "act/act-isda"))
    s = pd.Series(idx, index=[f"t{i}" for i in range(40)])
    got = vec.year_fraction("2018-01-01", s, "act/365f")
    assert list(got.index) == list(s.index)
    assert_same_bits(got.to_numpy(), scalar_each(quelm.year_fraction, "2018-01-01", list(idx), "act/365f"))
    # an aware time stamp counts by the date on its own clock, as the scalar call reads it
    tokyo = pd.Series(pd.date_range("2024-03-01 20:00", periods=30, freq="11h", tz="Asia/Tokyo"))
    got = vec.year_fraction(tokyo, "2025-01-01", "act/360")
    assert_same_bits(got.to_numpy(), scalar_each(quelm.year_fraction, list(tokyo), "2025-01-01", "act/360"))
    text = pd.Series(["2024-01-31", "2024-02-29"], dtype="string")
    assert_same_bits(vec.year_fraction(text, "2025-01-01", "30e/360").to_numpy(),
                     [quelm.year_fraction(x, "2025-01-01", "30e/360") for x in text])


# --- missing and bad dates -------------------------------------------------------------------------

@pytest.mark.parametrize("missing", ["nat64", "None", "pd.NaT", "nan", "index"])
def test_a_missing_date_fails_its_element(missing):
    # as a missing string option does: an ElementError, or NaN with errors="nan"
    good = ["2020-01-15", "2021-03-01", "2022-08-31"]
    if missing == "nat64":
        d = np.array(good + ["NaT"], dtype="datetime64[ns]")
    elif missing == "index":
        d = pd.DatetimeIndex(good + [None])
    else:
        d = good + [{"None": None, "pd.NaT": pd.NaT, "nan": math.nan}[missing]]
    with pytest.raises(quelm.ElementError, match=r"^at index \(3,\): NaT is not a date$") as e:
        vec.year_fraction(d, "2030-01-01", "act/365f")
    assert e.value.index == (3,)
    got = np.asarray(vec.year_fraction(d, "2030-01-01", "act/365f", errors="nan"))
    assert math.isnan(got[3])
    assert_same_bits(got[:3], scalar_each(quelm.year_fraction, good, "2030-01-01", "act/365f"))


def test_bad_dates_in_arrays_fail_their_element_with_the_scalar_message():
    d = ["2020-01-15", "2020-02-30", "15/01/2020", np.datetime64("10000-01-01"), "2020-02-30"]
    for i, bad in enumerate(d[1:4], start=1):
        with pytest.raises(ValueError) as scalar:
            quelm.year_fraction(bad, "2030-01-01", "act/360")
        with pytest.raises(quelm.ElementError) as e:
            vec.year_fraction(d[:1] + [bad], "2030-01-01", "act/360")
        assert e.value.index == (1,) and e.value.message == str(scalar.value), i
    got = vec.year_fraction(d, "2030-01-01", "act/360", errors="nan")
    assert not math.isnan(got[0]) and np.isnan(got[1:]).all()
    # beyond 9999 in a datetime64 array, named as the date it would be
    with pytest.raises(quelm.ElementError, match=r"at index \(1,\): no such date 10000-03-01 \(outside"):
        vec.year_fraction(np.array(["2000-01-01", "10000-03-01"], dtype="datetime64[D]"), "2030-01-01", "act/360")


def test_one_bad_date_for_all_and_wrong_types_raise_as_the_scalar_call():
    with pytest.raises(ValueError, match=r'^no such date "2020-02-30"'):
        vec.year_fraction("2020-02-30", ["2030-01-01"], "act/360", errors="nan")
    # a missing date for all is missing in every element
    with pytest.raises(quelm.ElementError, match=r"^at index \(0,\): NaT is not a date$"):
        vec.year_fraction(np.datetime64("NaT"), ["2030-01-01"], "act/360")
    assert np.isnan(vec.year_fraction(pd.NaT, ["2030-01-01"] * 2, "act/360", errors="nan")).all()
    for bad, got in [(None, "NoneType"), (1.5, "float"), (np.array([1.5, 2.0]), "an array of float64"),
                     ([dt.date(2020, 1, 1), 3], "int")]:
        with pytest.raises(TypeError, match=rf"^argument 'start': expected a date .*got {got}$"):
            vec.year_fraction(bad, ["2030-01-01"], "act/360")
    with pytest.raises(ValueError, match="^day count must be"):
        vec.year_fraction("2020-01-01", ["2030-01-01"], "act/999", errors="nan")
    with pytest.raises(quelm.ElementError, match=r"^at index \(1,\): only bus/252 takes a calendar"):
        vec.year_fraction("2020-01-01", ["2030-01-01"] * 2, ["act/360", "act/360:uk"])
    with pytest.raises(quelm.ElementError, match=r"^at index \(0,\): .*30e/360-isda"):
        vec.year_fraction(["2020-02-29"], "2030-02-28", "30e/360-isda")


# --- a DatedBond at many settlement dates --------------------------------------------------------

GILT = quelm.FixedRateBond.dated("1996-02-29", "2021-06-07", 0.08, calendar="uk", ex_coupon_days=6,
                                 first_coupon="1996-06-07")
NOTE = quelm.FixedRateBond.dated("2024-05-15", "2054-05-15", 0.045, calendar="us-government-bond")
MEASURES = {
    "dated_bond_price": "clean_price_at", "dated_bond_dirty_price": "dirty_price_at",
    "dated_bond_yield": "yield_at", "dated_bond_accrued": "accrued_at",
    "dated_bond_macaulay_duration": "macaulay_duration_at",
    "dated_bond_modified_duration": "modified_duration_at", "dated_bond_convexity": "convexity_at",
}


@pytest.mark.parametrize("bond", [GILT, NOTE], ids=["gilt", "note"])
@pytest.mark.parametrize("name", MEASURES)
def test_dated_bond_measures_have_the_scalar_bits(bond, name):
    rng = np.random.default_rng(12)
    n = 300
    issue, maturity = np.datetime64(bond.issue), np.datetime64(bond.maturity)
    settle = issue + rng.integers(0, (maturity - issue).astype(int), n).astype("timedelta64[D]")
    settle[:3] = [issue, maturity - 1, maturity]  # the last fails: settlement on the maturity date
    x = rng.uniform(80.0, 120.0, n) if name == "dated_bond_yield" else rng.uniform(-0.01, 0.12, n)
    x[5] = math.nan
    method = getattr(bond, MEASURES[name])
    args = (settle,) if name == "dated_bond_accrued" else (x, settle)
    got = getattr(vec, name)(bond, *args, errors="nan")
    assert_same_bits(got, scalar_each(method, *args))
    assert math.isnan(got[2])


def test_dated_bond_prices_grouped_by_day_keep_the_scalar_bits():
    # Elements settling on the same day are priced together, a day's elements scattered
    # through blocks and mixed with ones the lanes leave to the element path.
    rng = np.random.default_rng(21)
    days = np.datetime64("2030-01-01") + np.array([0, 1, 17, 400, 401, 5000, 9000]).astype("timedelta64[D]")
    settle = rng.choice(days, 700)
    settle[::97] = np.datetime64("2060-01-01")  # after maturity: an error, as NaN
    ys = rng.uniform(-0.01, 0.12, 700)
    ys[3::50] = math.nan
    for name in ("dated_bond_price", "dated_bond_dirty_price"):
        got = getattr(vec, name)(NOTE, ys, settle, errors="nan")
        assert_same_bits(got, scalar_each(getattr(NOTE, MEASURES[name]), ys, settle))


SHAPES = [
    dict(issue="2024-05-15", maturity="2054-05-15"),
    dict(issue="2021-03-31", maturity="2031-03-31", frequency=4, end_of_month=True),
    dict(issue="2000-01-31", maturity="2099-12-31", frequency=12, end_of_month=True),  # over 1024 periods
    dict(issue="2022-01-10", maturity="2027-01-10", frequency=12, ex_coupon_days=7, calendar="target"),
    dict(issue="2022-01-10", maturity="2027-01-10", frequency=12, ex_coupon_days=40, calendar="target"),
    dict(issue="2020-06-01", maturity="2035-06-01", frequency=1, ex_coupon_days=200, calendar="uk"),
    dict(issue="2023-02-28", maturity="2033-03-15", first_coupon="2023-06-15"),
    dict(issue="2023-02-28", maturity="2033-03-15", first_coupon="2024-03-15", ex_coupon_days=5, calendar="uk"),
    dict(issue="2024-06-15", maturity="2034-06-15", frequency=12, convention="following",
         calendar="us-government-bond"),
    dict(issue="2024-06-15", maturity="2034-06-15", day_count="30/360"),
    dict(issue="2024-06-15", maturity="2034-06-15", day_count="act/365f", ex_coupon_days=3),
]


@pytest.mark.parametrize("shape", SHAPES, ids=range(len(SHAPES)))
def test_dated_bond_prices_at_every_day_keep_the_scalar_bits(shape):
    # Settlement on every day of the first and last years (accrual starts, ex-coupon dates
    # before and after them, payment eves, days between a roll date and its adjusted payment)
    # and spread over the life, each day its own: priced in
    # lanes from each period's own figures where the period allows, else from its flows.
    terms = dict(shape)
    bond = quelm.FixedRateBond.dated(terms.pop("issue"), terms.pop("maturity"), 0.0425, **terms)
    issue, maturity = np.datetime64(bond.issue), np.datetime64(bond.maturity)
    rng = np.random.default_rng(5)
    span = (maturity - issue).astype(int)
    offsets = np.concatenate([np.arange(400), span - 400 + np.arange(400), rng.integers(0, span, 600)])
    settle = issue + offsets.astype("timedelta64[D]")
    ys = rng.uniform(-0.02, 0.15, settle.size)
    ys[::41] = 0.0  # a discount base of exactly 1
    for name in ("dated_bond_price", "dated_bond_dirty_price"):
        got = getattr(vec, name)(bond, ys, settle, errors="nan")
        assert_same_bits(got, scalar_each(getattr(bond, MEASURES[name]), ys, settle))


def test_dated_bond_forms_broadcast_and_take_any_dates():
    ys = np.array([[0.03], [0.05], [0.07]])
    days = pd.date_range("2030-01-01", periods=4, freq="90D")
    got = vec.dated_bond_price(NOTE, ys, days)
    assert got.shape == (3, 4)
    for i in range(3):
        for j in range(4):
            assert got[i, j] == NOTE.clean_price_at(float(ys[i, 0]), days[j])
    ser = vec.dated_bond_accrued(NOTE, days)
    assert isinstance(ser, pd.Series) and ser.index.equals(days)
    assert vec.dated_bond_yield(NOTE, 95.0, "2031-02-03") == NOTE.yield_at(95.0, "2031-02-03")
    assert_same_bits(vec.dated_bond_dirty_price(NOTE, 0.05, ["2031-02-03", dt.date(2040, 1, 1)]),
                     [NOTE.dirty_price_at(0.05, d) for d in ["2031-02-03", dt.date(2040, 1, 1)]])


def test_dated_bond_settlement_outside_its_life_names_the_element():
    settle = ["2030-01-01", "2060-01-01", "2000-01-01"]
    with pytest.raises(ValueError) as scalar:
        NOTE.clean_price_at(0.05, "2060-01-01")
    with pytest.raises(quelm.ElementError) as e:
        vec.dated_bond_price(NOTE, 0.05, settle)
    assert e.value.index == (1,) and e.value.message == str(scalar.value)
    assert "settlement date 2060-01-01 outside [issue 2024-05-15, maturity 2054-05-15)" in e.value.message
    got = vec.dated_bond_price(NOTE, 0.05, settle, errors="nan")
    assert got[0] == NOTE.clean_price_at(0.05, "2030-01-01") and np.isnan(got[1:]).all()
    with pytest.raises(TypeError, match="argument 'bond': expected DatedBond"):
        vec.dated_bond_price(quelm.FixedRateBond.regular(100, 0.05, 2, 10), 0.05, settle)


def test_date_results_do_not_depend_on_the_thread_count():
    code = (
        "import hashlib, numpy as np, quelm, quelm.vec as v\n"
        "r = np.random.default_rng(5)\n"
        "s = np.datetime64('2024-05-15') + r.integers(0, 11_000, 200_000).astype('timedelta64[D]')\n"
        "b = quelm.FixedRateBond.dated('2024-05-15', '2054-05-15', 0.045)\n"
        "p = v.dated_bond_price(b, r.uniform(0, 0.1, s.size), s, errors='nan')\n"
        "e = s + r.integers(0, 400, s.size).astype('timedelta64[D]')\n"
        "y = v.year_fraction(s, e, ['act/act-isda', 'bus/252:target'] * 100_000)\n"
        "print(hashlib.sha256(p.tobytes() + y.tobytes()).hexdigest(), int(np.isnan(p).sum()))\n"
    )
    same_output_across_threads(code, counts=("1", "3"))


def test_dated_bonds_are_values_hashed_like_they_compare():
    twin = quelm.FixedRateBond.dated("2024-05-15", "2054-05-15", 0.045, calendar="us-government-bond")
    assert twin == NOTE and hash(twin) == hash(NOTE)
    assert hash(pickle.loads(pickle.dumps(NOTE))) == hash(NOTE)
    others = [quelm.FixedRateBond.dated("2024-05-15", "2054-05-15", 0.045),
              quelm.FixedRateBond.dated("2024-05-15", "2054-05-15", 0.046, calendar="us-government-bond"),
              quelm.FixedRateBond.dated("2024-05-15", "2054-05-15", 0.045, calendar="us-government-bond",
                                        ex_coupon_days=1)]
    assert len({NOTE, twin, *others}) == 4
    assert {NOTE: 1}[twin] == 1


def test_array_forms_take_the_scalar_parameters():
    import inspect

    for name, scalar in [("year_fraction", quelm.year_fraction), ("day_count", quelm.day_count)]:
        ours = list(inspect.signature(getattr(vec, name)).parameters)
        assert ours == list(inspect.signature(scalar).parameters) + ["errors"]
    for name, method in MEASURES.items():
        ours = list(inspect.signature(getattr(vec, name)).parameters)
        theirs = list(inspect.signature(getattr(quelm.DatedBond, method)).parameters)[1:]  # after self
        assert ours == ["bond", *theirs, "errors"]
