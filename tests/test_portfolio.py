"""Portfolio analytics at the Python surface: valuation, allocation, TWR/MWR, covariance,
portfolio risk and mean-variance optimisation, against independent references."""
from __future__ import annotations

import datetime as dt
import math

import numpy as np
import pytest
from scipy.optimize import brentq

import _quelm_testing as qt
import quelm

INV = "invalid input: "
NUM = "numerical error: "
NO_IRR = "mwr: no internal rate of return found (cash flows may not change sign)"


# ---------------------------------------------------------------- valuation and allocation

def test_portfolio_value_two_holdings():
    # Hand arithmetic: A 10 @ 150 now 175, B 5 @ 300 now 320.
    v = quelm.portfolio_value([("A", 10, 150, 175), ("B", 5, 300, 320)])
    assert list(v) == ["n_holdings", "total_cost_basis", "total_market_value", "total_unrealized_pnl",
                       "total_unrealized_pnl_pct", "holdings"]
    assert v["n_holdings"] == 2 and isinstance(v["n_holdings"], int)
    assert (v["total_cost_basis"], v["total_market_value"], v["total_unrealized_pnl"]) == (3000, 3350, 350)
    assert v["total_unrealized_pnl_pct"] == 350 / 3000
    a, b = v["holdings"]
    assert list(a) == ["symbol", "quantity", "average_cost", "price", "cost_basis", "market_value",
                       "unrealized_pnl", "unrealized_pnl_pct", "weight"]
    assert a == {"symbol": "A", "quantity": 10, "average_cost": 150, "price": 175, "cost_basis": 1500,
                 "market_value": 1750, "unrealized_pnl": 250, "unrealized_pnl_pct": 250 / 1500,
                 "weight": 1750 / 3350}
    assert (b["unrealized_pnl_pct"], b["weight"]) == (100 / 1500, 1600 / 3350)


def test_portfolio_value_zero_fields_become_none_or_zero():
    v = quelm.portfolio_value([("Z", 0, 10, 5), ("F", 2, 0, 5)])
    z, f = v["holdings"]
    assert z["average_cost"] is None and z["market_value"] == 0 and z["weight"] == 0
    assert f["unrealized_pnl_pct"] is None and f["weight"] == 1.0
    free = quelm.portfolio_value([("F", 2, 0, 5), ("G", 1, 0, 3)])
    assert free["total_unrealized_pnl_pct"] is None
    unpriced = quelm.portfolio_value([("A", 1, 2, 0), ("B", 3, 4, 0)])
    assert [h["weight"] for h in unpriced["holdings"]] == [0.0, 0.0]


def test_portfolio_value_nan_price_is_not_zero():
    # A NaN total is not "exactly zero": the weights stay NaN instead of reading 0.
    v = quelm.portfolio_value([("A", 1, 2, float("nan")), ("B", 1, 1, 1)])
    assert all(math.isnan(h["weight"]) for h in v["holdings"])


def test_portfolio_value_errors():
    with pytest.raises(ValueError, match=r"^invalid input: value_holdings: no holdings$"):
        quelm.portfolio_value([])
    with pytest.raises(ValueError, match=r"^expected tuple of length 4, but got tuple of length 3$"):
        quelm.portfolio_value([("A", 1, 2)])
    with pytest.raises(ValueError, match=r"^expected tuple of length 4, but got tuple of length 5$"):
        quelm.portfolio_value([("A", 1, 2, 3, 4)])
    with pytest.raises(TypeError, match=r"^argument 'holdings': "):
        quelm.portfolio_value([["A", 1, 2, 3]])
    with pytest.raises(TypeError, match=r"^argument 'holdings': "):
        quelm.portfolio_value([("A", "1", 2, 3)])
    with pytest.raises(TypeError, match=r"^argument 'holdings': "):
        quelm.portfolio_value("AAPL")


def test_allocation():
    assert quelm.allocation([1, 3]) == [0.25, 0.75]
    assert quelm.allocation([1, -1]) == [0.0, 0.0]
    assert quelm.allocation(np.array([2.0, -1.0])) == [2.0, -1.0]
    with pytest.raises(ValueError, match=r"^invalid input: weights: empty market values$"):
        quelm.allocation([])


@pytest.mark.parametrize("values", [
    [0.1, 0.2, -0.3],            # total 5.6e-17: pure rounding, not a tiny book
    [1e6, 0.1, -1e6, -0.1],
    [0.7, -0.1, -0.6],
])
def test_allocation_total_of_rounding_counts_as_zero(values):
    assert quelm.allocation(values) == [0.0] * len(values)


def test_allocation_small_real_totals_are_kept():
    # A net of a few ulps of the gross is rounding; one of 1e-12 of it is a real (tiny) book.
    w = quelm.allocation([1.0, -1.0 + 1e-12])
    assert math.isfinite(w[0]) and w[0] > 1e11 and sum(w) == pytest.approx(1.0, rel=1e-3)
    assert quelm.allocation([0.25, 0.5, 0.25]) == [0.25, 0.5, 0.25]
    assert all(math.isnan(x) for x in quelm.allocation([1.0, math.nan]))


@pytest.mark.parametrize("lots, pnl, pct", [
    ([("SHORT", -5, 300, 320)], -100.0, -100 / 1500),   # a losing short loses
    ([("SHORT", -5, 300, 280)], 100.0, 100 / 1500),     # a winning short gains
    ([("LONG", 5, 300, 280)], -100.0, -100 / 1500),
])
def test_pnl_percentage_carries_the_sign_of_the_pnl(lots, pnl, pct):
    v = quelm.portfolio_value(lots)
    h = v["holdings"][0]
    assert (h["unrealized_pnl"], v["total_unrealized_pnl"]) == (pnl, pnl)
    assert h["unrealized_pnl_pct"] == pytest.approx(pct, rel=1e-15)
    assert v["total_unrealized_pnl_pct"] == pytest.approx(pct, rel=1e-15)


# ---------------------------------------------------------------- time-weighted return

def test_twr_values_and_errors():
    assert quelm.twr([100, 110], [0]) == pytest.approx(0.1, abs=1e-15)
    assert quelm.twr([100, 120, 130], [0, 10]) == pytest.approx(0.2, abs=1e-15)
    for values, flows, msg in [
        ([100, 0, 50], [0, 0], "twr: zero sub-period base (value + flow)"),
        ([100], [], "twr: need at least 2 valuations"),
        ([100, 110], [], "twr: flows length must be values length \u2212 1"),
    ]:
        with pytest.raises(ValueError) as e:
            quelm.twr(values, flows)
        assert str(e.value) == INV + msg


# ---------------------------------------------------------------- dates and money-weighted return

def _irr_brentq(dates, amounts):
    """Independent IRR: actual/365 from the first flow, brentq on the same scan bracket."""
    d = [dt.date.fromisoformat(s) for s in dates]
    years = np.array([(x - d[0]).days for x in d], float) / 365.0
    a = np.array(amounts, float)
    f = lambda r: float(np.sum(a / (1.0 + r) ** years))  # noqa: E731
    lo = -0.9999
    while lo < 10.0:  # first 1 % step with a sign change, as the scan defines it
        hi = lo + 0.01
        if f(lo) * f(hi) < 0:
            return brentq(f, lo, hi, xtol=1e-14, rtol=1e-15)
        lo = hi
    return None


def _monthly(start: dt.date, n: int):
    out = []
    for m in range(n):
        y, mo = divmod(start.month - 1 + m, 12)
        out.append(dt.date(start.year + y, mo + 1, min(start.day, 28)).isoformat())
    return out


RNG = np.random.default_rng(20261208)
_IRREGULAR = sorted(dt.date(2018, 1, 1) + dt.timedelta(days=int(x)) for x in RNG.integers(0, 2000, 9))
CASES = [
    # (dates, amounts): provenance = scipy brentq in _irr_brentq, tolerance 1e-9 on the rate
    (["2023-01-01", "2024-01-01"], [-100, 110]),
    (_monthly(dt.date(2015, 1, 15), 120), [-10000.0] + [-1000.0] * 118 + [200000.0]),
    ([d.isoformat() for d in [dt.date(2017, 12, 31)] + _IRREGULAR],
     [-5000.0] + list(RNG.uniform(-800, 1500, 9))),
    # two sign changes (-, +, -): the NPV has roots near 10 % and 20 %; the scan takes the lower
    (["2020-01-01", "2021-01-01", "2022-01-01"], [-100.0, 230.0, -132.0]),
    # deep loss: IRR near -60 %
    (["2020-03-01", "2021-06-15", "2022-02-28"], [-1000.0, 100.0, 250.0]),
    # a flow dated before the first one (negative year fraction)
    (["2021-01-01", "2020-01-01", "2023-01-01"], [-500.0, -500.0, 1300.0]),
    # investment received first, repaid later (borrowing pattern)
    (["2020-01-01", "2020-07-01", "2022-01-01"], [1000.0, -200.0, -1000.0]),
]


@pytest.mark.parametrize("dates,amounts", CASES)
def test_mwr_against_brentq(dates, amounts):
    ref = _irr_brentq(dates, amounts)
    assert ref is not None
    assert quelm.mwr(dates, amounts) == pytest.approx(ref, abs=1e-9)


def test_mwr_two_sign_changes_takes_lowest_root():
    r = quelm.mwr(["2020-01-01", "2021-01-01", "2022-01-01"], [-100.0, 230.0, -132.0])
    # exact roots of -100 + 230 x - 132 x^2 (x = 1/(1+r) with 365/366-day years close to 1)
    assert 0.05 < r < 0.15


def test_mwr_equals_plain_scan_bit_for_bit():
    # The scan shortcut must never change the answer: compare with the full 1 % scan.
    rng = np.random.default_rng(7)
    checked = 0
    for _ in range(60):
        n = int(rng.integers(2, 40))
        start = dt.date(2010, 1, 1)
        dates = sorted(start + dt.timedelta(days=int(x)) for x in rng.integers(0, 4000, n))
        if _ % 2:  # one sign change (the shortcut applies) with returns from -90 % to +900 %
            amounts = list(-rng.uniform(1, 1000, n))
            amounts[-1] = float(-sum(amounts[:-1]) * 10.0 ** rng.uniform(-1.5, 2.0))
        else:  # several sign changes (the full scan runs)
            amounts = list(rng.uniform(-1000, 300, n))
            amounts[-1] = float(rng.uniform(0, 5000) * n)
        ds = [d.isoformat() for d in dates]
        plain = qt.mwr_plain_scan(ds, amounts)
        if plain is None:
            with pytest.raises(ValueError, match="no internal rate"):
                quelm.mwr(ds, amounts)
        else:
            assert quelm.mwr(ds, amounts) == plain
            checked += 1
    assert checked > 30
    # roots just beyond the scan range and on a grid point
    for dates, amounts in [(["2020-01-01", "2021-01-01"], [-1.0, 11.5]),
                           (["2020-01-01", "2021-01-01"], [-1.0, 10.99]),
                           (["2020-01-01", "2021-01-01"], [-1.0, 1.0]),
                           (["2020-01-01", "2021-01-01"], [-1.0, 0.00015]),
                           # same-date amounts of both signs, and a flow dated before the first
                           (["2020-01-01", "2020-01-01", "2022-01-01"], [-100.0, 20.0, 95.0]),
                           (["2021-01-01", "2020-01-01", "2024-01-01"], [-50.0, -50.0, 160.0]),
                           # a zero amount among them, and a 30-year horizon
                           (["2000-01-01", "2010-01-01", "2030-01-01"], [-1.0, 0.0, 40.0])]:
        plain = qt.mwr_plain_scan(dates, amounts)
        if plain is None:
            with pytest.raises(ValueError, match="no internal rate"):
                quelm.mwr(dates, amounts)
        else:
            assert quelm.mwr(dates, amounts) == plain


def test_mwr_nan_amount_is_no_rate():
    # A NaN makes every NPV NaN: no sign change is ever seen, so no rate is reported.
    with pytest.raises(ValueError) as e:
        quelm.mwr(["2023-01-01", "2024-01-01"], [-100.0, float("nan")])
    assert str(e.value) == NUM + NO_IRR


def test_mwr_published_cases():
    assert quelm.mwr(["2023-01-01", "2024-01-01"], [-100, 110]) == pytest.approx(0.1, abs=1e-12)
    assert quelm.mwr(["2024-01-01", "2025-01-01"], [-100, 110]) == pytest.approx(
        1.1 ** (365 / 366) - 1, abs=1e-12)
    assert quelm.mwr(["2024-1-5", "2025-01-05"], [-100, 110]) == pytest.approx(
        1.1 ** (365 / 366) - 1, abs=1e-12)  # one-digit parts are accepted
    assert quelm.mwr(["+2024-02-29", "2025-+02-28"], [-100, 110]) == pytest.approx(0.1, abs=1e-12)


def test_mwr_no_sign_change_and_all_zero():
    with pytest.raises(ValueError) as e:
        quelm.mwr(["2023-01-01", "2024-01-01"], [100, 110])
    assert str(e.value) == NUM + NO_IRR
    # Mended: with every amount zero the NPV is 0 everywhere; that is no rate, not -99.99 %.
    with pytest.raises(ValueError) as e:
        quelm.mwr(["2023-01-01", "2024-01-01", "2025-01-01"], [0.0, 0.0, -0.0])
    assert str(e.value) == NUM + NO_IRR


@pytest.mark.parametrize("text,msg", [
    ("2023-02-29", INV + "day 29 not in 1..=28 for 2023-02"),
    ("2023-04-31", INV + "day 31 not in 1..=30 for 2023-04"),
    ("1900-02-29", INV + "day 29 not in 1..=28 for 1900-02"),
    ("2023-12-00", INV + "day 0 not in 1..=31 for 2023-12"),
    ("2023-13-01", INV + "month 13 not in 1..=12"),
    ("2023-0-01", INV + "month 0 not in 1..=12"),
    ("2023/01/01", 'date must be YYYY-MM-DD, got "2023/01/01"'),
    ("2023-01-01-05", 'date must be YYYY-MM-DD, got "2023-01-01-05"'),
    ('20"3\\-01', 'date must be YYYY-MM-DD, got "20\\"3\\\\-01"'),
    ("-2023-01-01", 'date must be YYYY-MM-DD, got "-2023-01-01"'),
    ("2023-1x-01", "bad month"),
    ("2023-256-01", "bad month"),
    ("2023-01- 1", "bad day"),
    ("2023-01-", "bad day"),
    ("x023-01-01", "bad year"),
    ("2147483648-01-01", "bad year"),
    (" 2023-01-01", "bad year"),
])
def test_date_messages(text, msg):
    with pytest.raises(ValueError) as e:
        quelm.mwr([text, "2024-01-01"], [-100, 110])
    assert str(e.value) == msg


def test_mwr_argument_checks_in_order():
    with pytest.raises(ValueError, match=r"^invalid input: mwr: need at least 2 cash flows$"):
        quelm.mwr(["2023-01-01"], [-100])
    with pytest.raises(ValueError, match=r"^dates and amounts must be the same length$"):
        quelm.mwr(["bogus"], [-100, 110])  # length before any date is read
    with pytest.raises(ValueError, match="^bad year$"):  # dates checked in order
        quelm.mwr(["y-1-1", "2023-13-01"], [-100, 110])
    assert quelm.mwr(["2147483647-01-01", "2147483647-12-31"], [-100, 110]) > 0  # extreme year


def test_leap_year_2024_accepted():
    r = quelm.mwr(["2024-02-29", "2025-02-28"], [-100, 110])
    assert r == pytest.approx(0.1, abs=1e-12)  # 365 days apart


def test_mwr_across_year_zero():
    # Year 0 is a leap year of the proleptic calendar; its January and February count days
    # from the era before it.
    assert quelm.mwr(["0000-02-29", "0001-02-28"], [-100, 110]) == pytest.approx(0.1, abs=1e-12)  # 365 days
    assert quelm.mwr(["0000-01-01", "0001-01-01"], [-100, 110]) == pytest.approx(1.1 ** (365 / 366) - 1, abs=1e-12)


# ---------------------------------------------------------------- covariance matrix

def test_covariance_small_and_errors():
    c = quelm.covariance_matrix([[0.01, 0.03], [0.02, 0.00]])
    assert np.allclose(c, [[1e-4, -1e-4], [-1e-4, 1e-4]], rtol=1e-12, atol=0)
    for arg, msg in [([[0.01, 0.02], [0.01]], "risk: asset return series must be equal length"),
                     ([], "risk: no asset return series"),
                     ([[]], "risk: empty return series")]:
        with pytest.raises(ValueError) as e:
            quelm.covariance_matrix(arg)
        assert str(e.value) == INV + msg


@pytest.mark.parametrize("n,t", [(1, 1), (1, 7), (3, 5), (4, 4), (5, 17), (8, 3), (13, 250), (37, 101)])
def test_covariance_equals_pairwise_bit_for_bit(n, t):
    # Sizes straddle the 4-asset blocks; the pairwise reference is stats::covariance entry by entry.
    x = np.random.default_rng(n * 1000 + t).normal(0.0005, 0.02, (n, t))
    blocked = quelm.covariance_matrix(x)
    assert blocked == qt.pairwise_covariance_matrix(x)
    assert blocked == quelm.covariance_matrix(x.tolist())  # list and array input agree
    # independent oracle: NumPy's population covariance (different summation order)
    assert np.allclose(blocked, np.atleast_2d(np.cov(x, bias=True)), rtol=1e-10, atol=1e-16)
    assert all(blocked[i][j] == blocked[j][i] for i in range(n) for j in range(n))


def test_covariance_nan_and_signed_zero_propagate_like_pairwise():
    x = [[0.01, float("nan"), 0.02], [0.0, 0.0, 0.0], [-0.0, -0.0, -0.0], [1.0, 2.0, 3.0], [5.0, 5.0, 5.0]]
    blocked = quelm.covariance_matrix(x)
    ref = qt.pairwise_covariance_matrix(x)
    assert np.array_equal(np.array(blocked), np.array(ref), equal_nan=True)
    assert [math.copysign(1, v) for row in blocked for v in row if v == 0] == \
           [math.copysign(1, v) for row in ref for v in row if v == 0]


COVARIANCE_AT_WIDTH = """
import hashlib, numpy as np, _quelm_testing as qt, quelm
rng = np.random.default_rng(41)
h = hashlib.sha256()
for n in (1, 3, 4, 5, 8, 9, 12, 13, 16, 17, 21, 33):
    for t in (1, 2, 9, 130):
        x = rng.normal(0.0005, 0.02, (n, t))
        x[rng.random((n, t)) < 0.05] = -0.0
        if n > 6:
            x[5, t // 2] = np.nan
        c = np.array(quelm.covariance_matrix(x))
        assert np.array_equal(c, np.array(qt.pairwise_covariance_matrix(x)), equal_nan=True), (n, t)
        h.update(c.tobytes())
        h.update(repr(quelm.portfolio_risk(x, np.linspace(-1.0, 1.0, n))).encode())
print(h.hexdigest())
"""


def test_covariance_and_portfolio_risk_keep_their_bits_at_every_simd_width(python_subprocess):
    # QUELM_SIMD picks the covariance kernel's lanes: AVX-512 and AVX2 sweep two panels of four
    # assets at once, SSE2 and scalar one, the panels left over at the narrower widths. The
    # asset counts leave every kind of remainder; at each width each entry is the pairwise
    # formula's, and the bits (NaN, signed zeros) are the same from width to width.
    outs = {}
    for simd in ("scalar", "sse2", "avx2", "avx512"):
        out = python_subprocess(COVARIANCE_AT_WIDTH, env={"QUELM_SIMD": simd})
        assert out.returncode == 0, out.stderr
        outs[simd] = out.stdout
    assert len(set(outs.values())) == 1, outs


def test_covariance_keeps_its_bits_at_every_thread_count(python_subprocess):
    # The rows of blocks (and the centring) are shared out to the pool, a short row with a
    # long one: up to 33 assets make up to five such items, so three threads split them
    # unevenly. Every entry is still the pairwise formula's, at one thread as at three.
    outs = {threads: python_subprocess(COVARIANCE_AT_WIDTH, env={"RAYON_NUM_THREADS": threads})
            for threads in ("1", "2", "3")}
    for out in outs.values():
        assert out.returncode == 0, out.stderr
    assert len({out.stdout for out in outs.values()}) == 1


# ---------------------------------------------------------------- portfolio risk

def test_portfolio_risk_published_case():
    r = quelm.portfolio_risk([[0.01, 0.03], [0.02, 0.00]], [0.5, 0.5])
    assert list(r) == ["variance", "volatility", "annualized_volatility", "historical_var", "parametric_var",
                       "confidence", "periods_per_year"]
    assert r["variance"] < 1e-20 and r["volatility"] < 1e-10 and r["annualized_volatility"] < 1e-9
    assert r["historical_var"] == pytest.approx(-0.015, abs=1e-15)
    assert r["parametric_var"] == pytest.approx(-0.015, abs=1e-9)
    assert (r["confidence"], r["periods_per_year"]) == (0.95, 252.0)


def test_portfolio_risk_against_numpy():
    x = np.random.default_rng(11).normal(0.0004, 0.015, (6, 500))
    w = np.array([0.3, 0.25, -0.1, 0.2, 0.15, 0.2])
    r = quelm.portfolio_risk(x, w, periods_per_year=52, confidence=0.99)
    s = np.cov(x, bias=True)
    port = w @ x
    var = float(w @ s @ w)
    # oracle: NumPy matrix algebra; quantile with linear interpolation; normal quantile from SciPy
    from scipy.stats import norm
    assert r["variance"] == pytest.approx(var, rel=1e-10)
    assert r["volatility"] == pytest.approx(math.sqrt(var), rel=1e-10)
    assert r["annualized_volatility"] == pytest.approx(math.sqrt(52 * var), rel=1e-10)
    assert r["historical_var"] == pytest.approx(-np.quantile(port, 0.01), rel=1e-10)
    assert r["parametric_var"] == pytest.approx(-(port.mean() + port.std() * norm.ppf(0.01)), rel=1e-9)


def test_portfolio_risk_single_asset():
    x = [0.01, -0.02, 0.015, 0.003, -0.007]
    r = quelm.portfolio_risk([x], [1.0])
    assert r["variance"] == pytest.approx(np.var(x), rel=1e-13)
    assert r["volatility"] == pytest.approx(np.std(x), rel=1e-13)


def test_portfolio_risk_errors_in_order():
    r = [[0.01, 0.03], [0.02, 0.00]]
    for kwargs, msg in [
        (dict(returns=[], weights=[1.0]), "risk: no asset return series"),
        (dict(returns=[[0.1], [0.1, 0.2]], weights=[1.0]), "risk: asset return series must be equal length"),
        (dict(returns=r, weights=[1.0]), "portfolio risk: covariance must be square and match weights"),
        (dict(returns=r, weights=[0.5, 0.5], periods_per_year=0),
         "annualized_volatility: periods_per_year must be positive"),
        (dict(returns=r, weights=[0.5, 0.5], periods_per_year=-1, confidence=2),
         "annualized_volatility: periods_per_year must be positive"),
        (dict(returns=r, weights=[0.5, 0.5], confidence=1), "confidence level must be in (0, 1)"),
        (dict(returns=r, weights=[0.5, 0.5], confidence=0), "confidence level must be in (0, 1)"),
    ]:
        with pytest.raises(ValueError) as e:
            quelm.portfolio_risk(**kwargs)
        assert str(e.value) == INV + msg


def test_portfolio_variance_floor_keeps_nan():
    # Mended: a NaN weight or return gives a NaN variance, not a reassuring 0.
    r = quelm.portfolio_risk([[0.01, 0.03], [0.02, 0.00]], [0.5, float("nan")])
    assert math.isnan(r["variance"]) and math.isnan(r["volatility"])
    r = quelm.portfolio_risk([[0.01, float("nan")], [0.02, 0.00]], [0.5, 0.5])
    assert math.isnan(r["variance"])
    # a negative rounding residue is still floored
    assert qt.portfolio_variance([[1.0, 1.0], [1.0, 1.0]], [1.0, -1.0 + 1e-17]) >= 0.0
    assert qt.portfolio_variance([[-1e-30]], [1.0]) == 0.0
    assert math.isnan(qt.portfolio_variance([[float("nan")]], [1.0]))
    with pytest.raises(ValueError, match="covariance must be square and match weights"):
        qt.portfolio_variance([[1.0, 0.0]], [1.0])


def test_portfolio_returns_alone():
    assert qt.portfolio_returns([[1.0, 2.0], [3.0, 4.0]], [0.5, 2.0]) == [6.5, 9.0]
    with pytest.raises(ValueError) as e:
        qt.portfolio_returns([[1.0, 2.0]], [0.5, 0.5])
    assert str(e.value) == INV + "portfolio_returns: weights must match the number of assets"


# ---------------------------------------------------------------- optimisation

def test_optimize_two_asset_cases():
    cov = [[0.04, 0.0], [0.0, 0.01]]
    o = quelm.optimize([0.10, 0.05], cov, target=0.10)
    assert list(o) == ["min_variance_weights", "tangency_weights", "frontier_weights"]
    assert o["min_variance_weights"] == pytest.approx([0.2, 0.8], abs=1e-15)
    assert o["tangency_weights"] == pytest.approx([1 / 3, 2 / 3], abs=1e-15)
    assert o["frontier_weights"] == pytest.approx([1.0, 0.0], abs=1e-14)
    assert quelm.optimize([0.10, 0.05], cov)["frontier_weights"] is None
    # rf above both means: the negative scale cancels back to the minimum-variance weights
    assert quelm.optimize([0.05, 0.05], cov, rf=0.10)["tangency_weights"] == pytest.approx([0.2, 0.8])


def test_optimize_random_spd_against_numpy():
    rng = np.random.default_rng(5)
    a = rng.normal(size=(5, 5))
    cov = a @ a.T / 5 + 0.05 * np.eye(5)
    mu = rng.uniform(0.02, 0.12, 5)
    rf, target = 0.01, 0.09
    o = quelm.optimize(mu, cov, rf=rf, target=target)
    inv1 = np.linalg.solve(cov, np.ones(5))
    invm = np.linalg.solve(cov, mu)
    # closed forms: Σ⁻¹1/1ᵀΣ⁻¹1, Σ⁻¹(μ−rf)/1ᵀΣ⁻¹(μ−rf), and the two-fund frontier point
    mv = inv1 / inv1.sum()
    tz = np.linalg.solve(cov, mu - rf)
    A, B, C = inv1.sum(), invm.sum(), mu @ invm
    D = A * C - B * B
    fw = (invm * (A * target - B) + inv1 * (C - target * B)) / D
    for got, want in [(o["min_variance_weights"], mv), (o["tangency_weights"], tz / tz.sum()),
                      (o["frontier_weights"], fw)]:
        assert np.allclose(got, want, rtol=1e-9, atol=1e-12)
        assert sum(got) == pytest.approx(1.0, abs=1e-12)
    assert float(np.dot(o["frontier_weights"], mu)) == pytest.approx(target, abs=1e-12)
    # the minimum-variance portfolio has the smallest variance among these
    var = lambda w: float(np.asarray(w) @ cov @ np.asarray(w))  # noqa: E731
    assert var(o["min_variance_weights"]) <= min(var(o["tangency_weights"]), var(fw)) + 1e-15


@pytest.mark.parametrize("mean,cov,kw,msg", [
    ([0.05, 0.05], [[0.04, 0.0], [0.0, 0.01]], dict(rf=0.05),
     NUM + "tangency_weights: excess-return weights sum to zero"),
    ([0.1, 0.1], [[0.04, 0.0], [0.0, 0.01]], dict(target=0.1),
     NUM + "efficient_frontier_point: degenerate frontier (AC − B² = 0)"),
    ([0.1, 0.1], [[0.04, 0.01]], {}, INV + "optimize: covariance must be a non-empty square matrix"),
    ([0.1], [], {}, INV + "optimize: covariance must be a non-empty square matrix"),
    ([0.1, 0.1, 0.1], [[0.04, 0.0], [0.0, 0.01]], {}, INV + "optimize: mean length must match covariance order"),
    ([0.1, 0.1], [[1.0, -1.0], [-1.0, 1.0]], {}, NUM + "linear solve: "),
])
def test_optimize_errors(mean, cov, kw, msg):
    with pytest.raises(ValueError) as e:
        quelm.optimize(mean, cov, **kw)
    assert str(e.value).startswith(msg)


COV3 = [[0.04, 0.006, 0.002], [0.006, 0.09, 0.009], [0.002, 0.009, 0.0225]]


@pytest.mark.parametrize("mean,cov,kw,msg", [
    # Equal means: AC = B^2 exactly, the solves leave ~1e-17 of rounding.
    ([0.07, 0.07, 0.07], COV3, dict(target=0.12), "efficient_frontier_point: degenerate frontier"),
    ([0.1, 0.1, 0.1, 0.1], np.diag([0.01, 0.02, 0.03, 0.07]).tolist(), dict(target=0.05),
     "efficient_frontier_point: degenerate frontier"),
    # Perfect correlation: the second pivot is rounding, far above the old 1e-300 floor.
    ([0.07, 0.1], [[0.04, 0.06], [0.06, 0.09]], {}, "linear solve: singular system"),
    ([0.07, 0.1, 0.2], [[0.01, 0.02, 0.0], [0.02, 0.04, 0.0], [0.0, 0.0, 0.05]], {}, "linear solve: singular system"),
    ([0.07, 0.1], [[4e-310, 6e-310], [6e-310, 9e-310]], {}, "linear solve: singular system"),
])
def test_optimize_degenerate_cases_relative_to_scale(mean, cov, kw, msg):
    with pytest.raises(ValueError) as e:
        quelm.optimize(mean, cov, **kw)
    assert str(e.value).startswith(NUM + msg)


def test_optimize_nearly_degenerate_but_solvable_cases_still_solve():
    o = quelm.optimize([0.07, 0.07, 0.0701], COV3, target=0.0700)
    assert sum(o["frontier_weights"]) == pytest.approx(1.0, abs=1e-9)
    assert float(np.dot(o["frontier_weights"], [0.07, 0.07, 0.0701])) == pytest.approx(0.07, abs=1e-9)
    # Highly but not perfectly correlated: a small yet genuine pivot.
    rho = 0.999999
    cov = [[0.04, rho * 0.06], [rho * 0.06, 0.09]]
    w = quelm.optimize([0.07, 0.1], cov)["min_variance_weights"]
    want = np.linalg.solve(cov, np.ones(2))
    assert np.allclose(w, want / want.sum(), rtol=1e-6)
    # A tiny but well-conditioned matrix is scaled, not singular.
    tiny = quelm.optimize([0.07, 0.1], [[4e-12, 0.0], [0.0, 1e-12]])["min_variance_weights"]
    assert tiny == pytest.approx([0.2, 0.8], rel=1e-14)


def test_optimize_min_variance_sum_zero():
    # Σ = diag(1, -1) solves to x = (1, -1) exactly, so 1ᵀΣ⁻¹1 is exactly 0.
    with pytest.raises(ValueError) as e:
        quelm.optimize([0.1, 0.2], [[1.0, 0.0], [0.0, -1.0]])
    assert str(e.value) == NUM + "min_variance_weights: 1ᵀΣ⁻¹1 is zero"


def test_docstrings():
    assert quelm.portfolio_value.__doc__.splitlines()[2:] == [
        "`holdings` is a list of `(symbol, quantity, unit_cost, price)` tuples.", "", "```python",
        'quelm.portfolio_value([("AAPL", 10, 150, 175), ("MSFT", 5, 300, 320)])', "```"]
    assert quelm.mwr.__doc__.endswith("aligned `amounts`\n(invested negative, received positive).")
    # The two lines of the closed forms, then what `bounds` adds.
    assert quelm.optimize.__doc__.startswith(
        "Markowitz optimization: min-variance, tangency, and (if `target` is given)\nefficient-frontier weights. "
        "Unconstrained / closed-form (shorting allowed).\n\n`bounds` limits each weight")
    assert str(__import__("inspect").signature(quelm.portfolio_risk)) == \
        "(returns, weights, periods_per_year=252.0, confidence=0.95)"
