"""Return statistics and risk at the Python surface: the report and the single-metric functions."""
from __future__ import annotations

import functools
import math
import operator

import numpy as np
import pytest
from scipy import stats as sps

import quelm

PRE = "invalid input: "
R5 = [-0.05, -0.02, 0.01, 0.03, 0.04]


def seq_sum(xs):
    # The library's summation order: term i into accumulator i mod 8, each a running total
    # from -0.0 in index order, the eight combined as ((a0 + a1) + (a2 + a3)) + ((a4 + a5) + (a6 + a7)).
    a = [functools.reduce(operator.add, xs[j::8], -0.0) for j in range(8)]
    return ((a[0] + a[1]) + (a[2] + a[3])) + ((a[4] + a[5]) + (a[6] + a[7]))


def quantile_ref(xs, confidence):
    # Linear interpolation between order statistics at h = (n - 1)(1 - confidence).
    s = sorted(xs)
    n = len(s)
    if n == 1:
        return s[0]
    h = (n - 1.0) * (1.0 - confidence)
    k = max(int(math.floor(h)), 0)
    return s[k] + (s[k + 1] - s[k]) * (h - k) if k + 1 < n else s[-1]


def series(seed, n=500, scale=0.01):
    rng = np.random.default_rng(seed)
    return rng.standard_t(4, size=n) * scale + 0.0005


# ---------------------------------------------------------------- single metrics: values

VALUES = [
    # (call, expected, tolerance); hand-worked values from the definitions.
    (lambda: quelm.value_at_risk(R5), 0.044, 1e-15),              # h = 0.2, q = -0.05 + 0.03 * 0.2
    (lambda: quelm.expected_shortfall(R5), 0.05, 1e-15),          # tail {-0.05}
    (lambda: quelm.value_at_risk([1, 2, 3, 4], 0.5), -2.5, 0),    # h = 1.5, a gain is a negative loss
    (lambda: quelm.expected_shortfall([1, 2, 3, 4], 0.5), -1.5, 0),  # tail {1, 2}
    (lambda: quelm.value_at_risk([0.03]), -0.03, 0),              # one return r gives -r
    (lambda: quelm.expected_shortfall([0.03]), -0.03, 0),
    (lambda: quelm.value_at_risk(R5, 0.5, "parametric"), -float(np.mean(R5)), 1e-18),  # z = 0
    (lambda: quelm.sortino([-0.01, 0.02], 0, 1), 0.005 / math.sqrt(0.00005), 1e-15),
    (lambda: quelm.beta([1, 2, 3], [1, 2, 3]), 1.0, 0),
    (lambda: quelm.tracking_error([0.01, 0.02], [0.01, 0.02]), 0.0, 0),
    (lambda: quelm.jarque_bera([1, 2]), (1 / 3, math.exp(-1 / 6)), 1e-15),  # S = 0, K = -2, n = 2
    (lambda: quelm.acf([1, 2, 3, 4], 2), [1.0, 0.25, -0.3], 1e-15),        # c0 = 5; 1.25 / 5, -1.5 / 5
    (lambda: quelm.acf([1, 2, 3, 4], 0), [1.0], 0),
]


@pytest.mark.parametrize("call, expected, tol", VALUES)
def test_hand_worked_values(call, expected, tol):
    got = call()
    if isinstance(expected, (tuple, list)):
        assert type(got) is type(expected) and len(got) == len(expected)
        assert all(abs(g - e) <= tol for g, e in zip(got, expected)), got
    else:
        assert abs(got - expected) <= tol, got


def test_max_drawdown_records():
    # Hand-traced: the fall to 90 (0.25) is replaced by the fall to 80 (1/3); the second 120 keeps the peak.
    assert quelm.max_drawdown([100, 120, 90, 120, 80]) == {
        "max_drawdown": 1 / 3, "peak_index": 1, "trough_index": 4, "duration": 3}
    zero = {"max_drawdown": 0.0, "peak_index": 0, "trough_index": 0, "duration": 0}
    assert quelm.max_drawdown([1, 2, 3]) == zero
    assert quelm.max_drawdown([5]) == zero
    # An equal later drawdown does not replace the first one.
    assert quelm.max_drawdown([10, 5, 10, 5]) == {"max_drawdown": 0.5, "peak_index": 0, "trough_index": 1,
                                                  "duration": 1}
    assert list(quelm.max_drawdown([3, 2])) == ["max_drawdown", "peak_index", "trough_index", "duration"]


def test_max_drawdown_against_numpy():
    p = 100 * np.cumprod(1 + series(3, 2000))
    peak = np.maximum.accumulate(p)
    dd = (peak - p) / peak  # same arithmetic, so exact
    got = quelm.max_drawdown(p)
    assert got["max_drawdown"] == dd.max() and got["trough_index"] == int(dd.argmax())
    assert got["peak_index"] == int(p[: got["trough_index"] + 1].argmax())


def test_method_names():
    r = series(1, 50)
    hist = quelm.value_at_risk(r)
    for name in ("HIST", "Historical", "hist"):
        assert quelm.value_at_risk(r, method=name) == hist
    assert quelm.value_at_risk(r, method="Cf") == quelm.value_at_risk(r, method="cornish-fisher")
    assert quelm.value_at_risk(r, method="PARAMETRIC") == quelm.value_at_risk(r, method="gaussian")
    assert quelm.expected_shortfall(r, method="Gaussian") == quelm.expected_shortfall(r, method="parametric")
    var_msg = "method must be 'historical', 'parametric', or 'cornish-fisher', got "
    es_msg = "method must be 'historical' or 'parametric', got "
    for f, method, msg in [(quelm.value_at_risk, "Monte", var_msg + '"monte"'),
                           (quelm.value_at_risk, " hist", var_msg + '" hist"'),
                           (quelm.value_at_risk, "hist ", var_msg + '"hist "'),
                           (quelm.value_at_risk, 'a"b\\', var_msg + '"a\\"b\\\\"'),
                           (quelm.expected_shortfall, "cornish-fisher", es_msg + '"cornish-fisher"'),
                           (quelm.expected_shortfall, "CF", es_msg + '"cf"')]:
        with pytest.raises(ValueError) as e:
            f(r, 0.95, method)
        assert str(e.value) == msg


ERRORS = [
    # (function, args, message without the "invalid input: " prefix)
    (quelm.sharpe, ([],), "mean: empty sample"),
    (quelm.sharpe, ([0.01, 0.01],), "sharpe_ratio: zero volatility"),
    (quelm.sharpe, ([], 0.0, 0.0), "periods_per_year must be positive"),
    (quelm.sortino, ([0.01, 0.02],), "sortino_ratio: zero downside deviation (no returns below MAR)"),
    (quelm.sortino, ([],), "sortino_ratio: empty series"),
    (quelm.sortino, ([math.nan, 0.01],), "sortino_ratio: zero downside deviation (no returns below MAR)"),
    (quelm.sortino, ([0.1], 0.0, -1.0), "periods_per_year must be positive"),
    (quelm.max_drawdown, ([],), "max_drawdown: empty series"),
    (quelm.max_drawdown, ([100, 0, 50],), "max_drawdown: prices must be positive"),
    (quelm.value_at_risk, ([], 1.0), "confidence level must be in (0, 1)"),  # confidence before series
    (quelm.value_at_risk, (R5, 0.0), "confidence level must be in (0, 1)"),
    (quelm.value_at_risk, ([],), "historical_var: empty series"),
    (quelm.value_at_risk, ([], 0.95, "parametric"), "mean: empty sample"),
    (quelm.value_at_risk, ([0.01], 0.95, "cf"), "skewness: need at least 2 points"),
    (quelm.value_at_risk, ([0.01, 0.01], 0.95, "cf"), "skewness: zero variance"),
    (quelm.expected_shortfall, ([],), "historical_es: empty series"),
    (quelm.expected_shortfall, ([], 0.95, "parametric"), "mean: empty sample"),
    (quelm.expected_shortfall, (R5, 1.0, "parametric"), "confidence level must be in (0, 1)"),
    (quelm.beta, ([0.1, 0.2], [0.05, 0.05]), "beta: zero benchmark variance"),
    (quelm.beta, ([0.1, 0.2], [0.05]), "covariance: series length mismatch (2 vs 1)"),
    (quelm.beta, ([], []), "covariance: empty series"),
    (quelm.tracking_error, ([0.01, 0.02], [0.01], 252), "tracking_error: series length mismatch (2 vs 1)"),
    (quelm.tracking_error, ([], []), "tracking_error: empty series"),
    (quelm.tracking_error, ([0.1], [0.2], 0), "periods_per_year must be positive"),
    (quelm.info_ratio, ([0.1], []), "information_ratio: series length mismatch (1 vs 0)"),
    (quelm.info_ratio, ([0.01, 0.02], [0.01, 0.02]), "information_ratio: zero active-return volatility"),
    (quelm.jarque_bera, ([1],), "skewness: need at least 2 points"),
    (quelm.jarque_bera, ([3, 3, 3],), "skewness: zero variance"),
    (quelm.acf, ([1, 2, 3, 4], 4), "autocorrelation: lag must be < series length"),
    (quelm.acf, ([2, 2, 2], 1), "autocorrelation: zero variance"),
    (quelm.acf, ([2, 2, 2], 5), "autocorrelation: zero variance"),  # lag 0 fails first
    (quelm.acf, ([], 0), "autocorrelation: empty series"),
    (quelm.acf, ([1.0, 2.0], 2**64 - 1), "autocorrelation: lag must be < series length"),
]


@pytest.mark.parametrize("f, args, msg", ERRORS)
def test_error_messages(f, args, msg):
    with pytest.raises(ValueError) as e:
        f(*args)
    assert str(e.value) == PRE + msg


def test_conversion_failures():
    with pytest.raises(TypeError, match="^argument 'prices': "):
        quelm.max_drawdown("100")
    with pytest.raises(TypeError, match="^argument 'returns': "):
        quelm.stats(returns="abc")
    with pytest.raises(OverflowError):
        quelm.acf([1, 2, 3, 4], -1)
    with pytest.raises(TypeError, match="^argument 'max_lag': "):
        quelm.acf([1, 2, 3, 4], 1.0)
    with pytest.raises(OverflowError):
        quelm.stats(returns=[0.1, 0.2], lag=-1)


# ---------------------------------------------------------------- single metrics vs oracles

@pytest.mark.parametrize("seed", [0, 1, 2])
def test_single_metrics_against_numpy_scipy(seed):
    r = series(seed)
    b = series(seed + 100) * 0.8 + 0.3 * r
    mu, sd = r.mean(), r.std()
    assert quelm.sharpe(r, 0.0001, 52) == pytest.approx(math.sqrt(52) * (mu - 0.0001) / sd, rel=1e-12)
    down = np.minimum(r - 0.001, 0)
    assert quelm.sortino(r, 0.001) == pytest.approx(
        math.sqrt(252) * (mu - 0.001) / math.sqrt(np.mean(down * down)), rel=1e-12)
    for c in (0.9, 0.95, 0.99):
        q = quantile_ref(r.tolist(), c)
        assert quelm.value_at_risk(r, c) == -q  # same arithmetic as the rule, so exact
        assert quelm.value_at_risk(r, c) == pytest.approx(-np.quantile(r, 1 - c), rel=1e-12)
        assert quelm.expected_shortfall(r, c) == pytest.approx(-r[r <= q].mean(), rel=1e-12)
        z = sps.norm.ppf(1 - c)
        assert quelm.value_at_risk(r, c, "parametric") == pytest.approx(-(mu + sd * z), rel=1e-9)
        assert quelm.expected_shortfall(r, c, "parametric") == pytest.approx(
            sd * sps.norm.pdf(z) / (1 - c) - mu, rel=1e-9)
        s, k = sps.skew(r, bias=True), sps.kurtosis(r, bias=True)
        zcf = z + (z * z - 1) * s / 6 + (z**3 - 3 * z) * k / 24 - (2 * z**3 - 5 * z) * s * s / 36
        assert quelm.value_at_risk(r, c, "cornish-fisher") == pytest.approx(-(mu + sd * zcf), rel=1e-9)
    cov = np.cov(r, b, bias=True)
    assert quelm.beta(r, b) == pytest.approx(cov[0, 1] / cov[1, 1], rel=1e-12)
    a = r - b
    assert quelm.tracking_error(r, b, 12) == pytest.approx(math.sqrt(12) * a.std(), rel=1e-12)
    assert quelm.info_ratio(r, b) == pytest.approx(math.sqrt(252) * a.mean() / a.std(), rel=1e-12)
    jb = sps.jarque_bera(r)
    got = quelm.jarque_bera(r)
    assert got[0] == pytest.approx(jb.statistic, rel=1e-10) and got[1] == pytest.approx(jb.pvalue, rel=1e-9)
    d = r - mu
    ref = [float(np.dot(d[k:], d[: d.size - k]) / np.dot(d, d)) for k in range(6)]
    assert quelm.acf(r, 5) == pytest.approx(ref, rel=1e-10, abs=1e-14)


def test_cornish_fisher_equals_parametric_without_higher_moments():
    # With S = K = 0 the correction vanishes and both VaRs agree; with K != 0 they must not.
    r = [-1.0, 1.0, -1.0, 1.0]  # S = 0, K = -2
    assert quelm.value_at_risk(r, 0.95, "cf") != quelm.value_at_risk(r, 0.95, "parametric")
    x = [-math.sqrt(3), 0, 0, 0, 0, math.sqrt(3)]  # S = 0, m4 / m2^2 = 3 up to rounding
    assert quelm.value_at_risk(x, 0.9, "cf") == pytest.approx(quelm.value_at_risk(x, 0.9, "parametric"),
                                                               rel=1e-12)


def test_nan_order_is_total():
    # NaN sorts after every number: low quantiles ignore it, a quantile that reaches it is NaN.
    with_nan = [math.nan] + R5
    assert quelm.value_at_risk(with_nan) == pytest.approx(0.0425, abs=1e-16)  # h = 0.25 over the numbers
    assert quelm.expected_shortfall(with_nan) == 0.05
    assert math.isnan(quelm.value_at_risk(with_nan, 0.05))                    # h = 4.75 reaches the NaN
    assert quelm.expected_shortfall(with_nan, 0.05) == 0.05                   # empty tail: smallest value
    assert math.isnan(quelm.value_at_risk([math.nan] * 3))
    assert math.isnan(quelm.expected_shortfall([math.nan] * 3))
    rng = np.random.default_rng(5)
    x = rng.normal(size=300)
    x[rng.choice(300, 40, replace=False)] = np.nan
    for _ in range(3):  # placement of the NaN never matters
        y = rng.permutation(x)
        for c in (0.6, 0.95):
            assert quelm.value_at_risk(y, c) == quelm.value_at_risk(x, c)
            # The tail is summed in index order, so only rounding may differ.
            assert quelm.expected_shortfall(y, c) == pytest.approx(quelm.expected_shortfall(x, c), rel=1e-14)
    # Other NaN inputs propagate rather than raise.
    assert math.isnan(quelm.sharpe([0.1, math.nan]))
    with pytest.raises(ValueError, match="confidence level"):
        quelm.value_at_risk(R5, math.nan)
    # A NaN price never compares, so it neither moves the peak nor records a drawdown.
    assert quelm.max_drawdown([100, math.nan, 90]) == {"max_drawdown": 0.1, "peak_index": 0, "trough_index": 2,
                                                       "duration": 2}


# Constant series whose mean is not representable (0.1 * 3 / 3 != 0.1) used to leave a
# variance of rounding (1.9e-34) and ratios of 1e16. Equal values have variance exactly 0.
C3 = [0.1, 0.1, 0.1]


@pytest.mark.parametrize("call, message", [
    (lambda: quelm.sharpe(C3), "sharpe_ratio: zero volatility"),
    (lambda: quelm.sharpe([0.01] * 50), "sharpe_ratio: zero volatility"),
    (lambda: quelm.jarque_bera(C3), "skewness: zero variance"),
    (lambda: quelm.acf(C3, 1), "autocorrelation: zero variance"),
    (lambda: quelm.beta([0.01, 0.02, 0.03], C3), "beta: zero benchmark variance"),
    (lambda: quelm.info_ratio(C3, [0.0, 0.0, 0.0]), "information_ratio: zero active-return volatility"),
    (lambda: quelm.info_ratio([0.3, 0.3, 0.3, 0.3], [0.1, 0.1, 0.1, 0.1]),
     "information_ratio: zero active-return volatility"),
    (lambda: quelm.value_at_risk([1e308] * 3, 0.95, "cornish-fisher"), "skewness: zero variance"),
])
def test_constant_series_have_zero_variance(call, message):
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == "invalid input: " + message


def test_constant_series_in_the_report_and_near_constant_series_kept():
    d = quelm.stats(returns=C3, benchmark=[0.01, 0.02, 0.03], lag=1)
    assert d["variance"] == 0.0 and d["std_dev"] == 0.0
    assert {k for k in ("skewness", "jarque_bera", "autocorr_lag1", "autocorr_at_lag", "sharpe",
                        "correlation", "cornish_fisher_var") if d[k] is not None} == set()
    assert d["parametric_var"] == -d["mean"]   # no spread left, only the mean
    d = quelm.stats(returns=[0.01, 0.02, 0.03], benchmark=C3)
    assert d["beta"] is None and d["correlation"] is None and d["information_ratio"] is not None
    d = quelm.stats(returns=C3, benchmark=[0.0, 0.0, 0.0])
    assert d["tracking_error"] == 0.0 and d["information_ratio"] is None
    # Active returns equal but for the binary rounding of their operands carry no spread either.
    with pytest.raises(ValueError, match="zero active-return volatility"):
        quelm.info_ratio([0.11, 0.12, 0.13], [0.01, 0.02, 0.03])
    assert quelm.tracking_error([0.11, 0.12, 0.13], [0.01, 0.02, 0.03]) == 0.0
    d = quelm.stats(returns=[0.11, 0.12, 0.13], benchmark=[0.01, 0.02, 0.03])
    assert d["tracking_error"] == 0.0 and d["information_ratio"] is None
    # One ulp apart is not constant: those values keep their (huge, but honest) statistics.
    near = [0.1, 0.1, math.nextafter(0.1, 1.0)]
    assert quelm.sharpe(near) > 1e15
    assert quelm.stats(returns=near)["sharpe"] == quelm.sharpe(near)


def test_nan_confidence_and_nan_first_price():
    # A NaN level fails the level check itself (not 0.05, and no error blamed on the normal
    # quantile); the report leaves every measure at that level out.
    for method in ("historical", "parametric", "cornish-fisher"):
        with pytest.raises(ValueError, match=r"^invalid input: confidence level must be in \(0, 1\)$"):
            quelm.value_at_risk(R5, math.nan, method)
    for method in ("historical", "parametric"):
        with pytest.raises(ValueError, match=r"^invalid input: confidence level must be in \(0, 1\)$"):
            quelm.expected_shortfall(R5, math.nan, method)
    d = quelm.stats(returns=R5, confidence=math.nan)
    for key in ("historical_var", "historical_es", "parametric_var", "parametric_es", "cornish_fisher_var"):
        assert d[key] is None, key
    # No first price, no peak to fall from: unknown, never a clean 0.
    assert math.isnan(quelm.max_drawdown([math.nan, 100, 50])["max_drawdown"])
    assert math.isnan(quelm.max_drawdown([math.nan])["max_drawdown"])
    assert math.isnan(quelm.stats(prices=[math.nan, 100, 50])["max_drawdown"])


def test_array_and_list_give_the_same_numbers():
    r = series(9, 300)
    b = series(10, 300)
    lst, blst = r.tolist(), b.tolist()
    assert quelm.stats(returns=r, benchmark=b, lag=3) == quelm.stats(returns=lst, benchmark=blst, lag=3)
    for f in (quelm.sharpe, quelm.sortino, quelm.value_at_risk, quelm.expected_shortfall, quelm.jarque_bera):
        assert f(r) == f(lst)
    assert quelm.acf(r, 4) == quelm.acf(lst, 4) == quelm.acf(tuple(lst), 4)
    assert quelm.beta(r, b) == quelm.beta(lst, blst)
    # Non-contiguous and non-float64 arrays go through the element path and still agree.
    assert quelm.sharpe(r[::2]) == quelm.sharpe(lst[::2])
    assert quelm.sharpe(r.astype(np.float32)) == quelm.sharpe(r.astype(np.float32).tolist())


def test_caller_series_is_not_modified():
    r = series(4, 200)
    before = r.copy()
    quelm.value_at_risk(r)
    quelm.expected_shortfall(r)
    quelm.stats(returns=r)
    assert np.array_equal(r, before)


# ---------------------------------------------------------------- the report

KEYS = ["count", "periods_per_year", "confidence", "mean", "variance", "std_dev", "skewness",
        "excess_kurtosis", "jarque_bera", "jarque_bera_pvalue", "autocorr_lag1", "autocorr_at_lag",
        "cumulative_return", "annualized_return", "annualized_volatility", "sharpe", "sortino",
        "historical_var", "historical_es", "parametric_var", "parametric_es", "cornish_fisher_var",
        "max_drawdown", "max_drawdown_duration", "calmar", "covariance", "correlation", "beta",
        "tracking_error", "information_ratio"]
RETURN_KEYS = KEYS[12:22]
PRICE_KEYS = KEYS[22:25]
BENCH_KEYS = KEYS[25:30]


def nones(d):
    return {k for k, v in d.items() if v is None}


NONE_PATTERNS = [
    # (kwargs, keys that must be None)
    (dict(returns=[0.01, -0.02, 0.015]), set(PRICE_KEYS + BENCH_KEYS + ["autocorr_at_lag"])),
    (dict(values=[1, 2, 3]), set(RETURN_KEYS + PRICE_KEYS + BENCH_KEYS + ["autocorr_at_lag"])),
    (dict(prices=[100, 110, 99]), set(BENCH_KEYS + ["autocorr_at_lag"])),
    (dict(values=[1, 2, 3], benchmark=[0.1, 0.3, 0.2]), set(RETURN_KEYS + PRICE_KEYS + ["autocorr_at_lag"])),
    (dict(returns=[0.01, 0.02], benchmark=[0.01]), set(PRICE_KEYS + BENCH_KEYS + ["autocorr_at_lag", "sortino"])),
    (dict(prices=[100, 101, 99, 102], benchmark=[0.0, 0.01, -0.01], lag=2), set()),
    (dict(returns=[0.01, 0.02, 0.03], lag=5), set(PRICE_KEYS + BENCH_KEYS + ["autocorr_at_lag", "sortino"])),
    (dict(returns=[0.01], confidence=1.5),
     set(PRICE_KEYS + BENCH_KEYS) | {"autocorr_at_lag", "skewness", "excess_kurtosis", "jarque_bera",
                                     "jarque_bera_pvalue", "autocorr_lag1", "sharpe", "sortino", "historical_var",
                                     "historical_es", "parametric_var", "parametric_es", "cornish_fisher_var"}),
    (dict(returns=[0.01, 0.02], periods_per_year=0.0),
     set(PRICE_KEYS + BENCH_KEYS) | {"autocorr_at_lag", "annualized_return", "annualized_volatility", "sharpe",
                                     "sortino"}),
    (dict(returns=[0.02, 0.02], benchmark=[0.01, 0.03]),  # constant series: moments and correlation fail
     set(PRICE_KEYS) | {"autocorr_at_lag", "skewness", "excess_kurtosis", "jarque_bera", "jarque_bera_pvalue",
                        "autocorr_lag1", "sharpe", "sortino", "cornish_fisher_var", "correlation"}),
    (dict(prices=[1, 2, 3]), set(BENCH_KEYS) | {"autocorr_at_lag", "sortino", "calmar"}),  # no drawdown
]


@pytest.mark.parametrize("kwargs, expected_none", NONE_PATTERNS)
def test_report_keys_and_none_pattern(kwargs, expected_none):
    d = quelm.stats(**kwargs)
    assert list(d) == KEYS
    assert nones(d) == expected_none
    assert type(d["count"]) is int
    assert d["max_drawdown_duration"] is None or type(d["max_drawdown_duration"]) is int


def test_report_hand_worked_values():
    d = quelm.stats(values=[1, 2, 3])
    assert (d["count"], d["mean"], d["skewness"], d["excess_kurtosis"], d["autocorr_lag1"]) == (3, 2.0, 0.0, -1.5, 0.0)
    assert d["variance"] == pytest.approx(2 / 3, rel=1e-15)
    d = quelm.stats(prices=[100, 110, 99])
    assert d["count"] == 2 and d["max_drawdown"] == pytest.approx(0.1, rel=1e-15)
    assert d["max_drawdown_duration"] == 1
    assert d["calmar"] == d["annualized_return"] / d["max_drawdown"]
    d = quelm.stats(returns=[0.01], confidence=1.5)
    assert d["variance"] == 0.0 and d["std_dev"] == 0.0 and d["cumulative_return"] == pytest.approx(0.01)
    assert quelm.stats(returns=[0.1, 0.2, 0.3], lag=2**64 - 1)["autocorr_at_lag"] is None
    d = quelm.stats(returns=[0.1, 0.2, 0.3], lag=0)
    assert d["autocorr_at_lag"] == 1.0 and (d["periods_per_year"], d["confidence"]) == (252.0, 0.95)


def test_report_binding_errors():
    for kwargs, msg in [({}, "provide exactly one of returns, prices, or values"),
                        (dict(returns=None), "provide exactly one of returns, prices, or values"),
                        (dict(returns=[0.1], values=[1]), "use only one of returns, prices, or values"),
                        (dict(returns=[0.1], prices=[1, 2], values=[1]), "use only one of returns, prices, or values"),
                        (dict(prices=[100]), PRE + "simple_returns: need at least 2 prices"),
                        (dict(prices=[100, 0, 5]), PRE + "simple_returns: prices must be positive"),
                        (dict(returns=[]), PRE + "mean: empty sample"),
                        (dict(values=[]), PRE + "mean: empty sample")]:
        with pytest.raises(ValueError) as e:
            quelm.stats(**kwargs)
        assert str(e.value) == msg


@pytest.mark.parametrize("seed", [11, 12])
def test_report_matches_single_functions_bit_for_bit(seed):
    # The report shares sums between metrics; each value must still equal its own computation.
    r = series(seed, 700)
    b = series(seed + 50, 700)
    rf, ppy, c = 0.0002, 52.0, 0.975
    d = quelm.stats(returns=r, benchmark=b, risk_free=rf, periods_per_year=ppy, confidence=c, lag=3)
    assert d["sharpe"] == quelm.sharpe(r, rf, ppy)
    assert d["sortino"] == quelm.sortino(r, rf, ppy)
    assert d["historical_var"] == quelm.value_at_risk(r, c)
    assert d["historical_es"] == quelm.expected_shortfall(r, c)
    assert d["parametric_var"] == quelm.value_at_risk(r, c, "parametric")
    assert d["parametric_es"] == quelm.expected_shortfall(r, c, "parametric")
    assert d["cornish_fisher_var"] == quelm.value_at_risk(r, c, "cf")
    assert (d["jarque_bera"], d["jarque_bera_pvalue"]) == quelm.jarque_bera(r)
    lags = quelm.acf(r, 3)
    assert (d["autocorr_lag1"], d["autocorr_at_lag"]) == (lags[1], lags[3])
    assert d["beta"] == quelm.beta(r, b)
    assert d["tracking_error"] == quelm.tracking_error(r, b, ppy)
    assert d["information_ratio"] == quelm.info_ratio(r, b, ppy)
    p = 100 * np.cumprod(np.concatenate([[1.0], 1 + r]))
    dp = quelm.stats(prices=p)
    dd = quelm.max_drawdown(p)
    assert (dp["max_drawdown"], dp["max_drawdown_duration"]) == (dd["max_drawdown"], dd["duration"])


@pytest.mark.parametrize("seed", [21, 22, 23])
def test_report_against_numpy_scipy(seed):
    r = series(seed, 1000)
    b = series(seed + 7, 1000)
    n = r.size
    d = quelm.stats(returns=r, benchmark=b, lag=2)
    mean = seq_sum(r.tolist()) / n
    assert d["mean"] == mean  # the fixed summation order, bit for bit
    dev = [(x - mean) * (x - mean) for x in r.tolist()]
    assert d["variance"] == seq_sum(dev) / n
    assert d["variance"] == pytest.approx(np.var(r, ddof=0), rel=1e-12)
    assert d["std_dev"] == pytest.approx(np.std(r, ddof=0), rel=1e-12)
    assert d["skewness"] == pytest.approx(sps.skew(r, bias=True), rel=1e-10)
    assert d["excess_kurtosis"] == pytest.approx(sps.kurtosis(r, bias=True), rel=1e-10)
    assert d["jarque_bera"] == pytest.approx(sps.jarque_bera(r).statistic, rel=1e-10)
    assert d["jarque_bera_pvalue"] == pytest.approx(sps.jarque_bera(r).pvalue, rel=1e-8)
    g = functools.reduce(operator.mul, (1 + x for x in r.tolist()), 1.0)
    assert d["cumulative_return"] == g - 1
    assert d["annualized_return"] == g ** (252.0 / n) - 1
    assert d["annualized_volatility"] == pytest.approx(math.sqrt(252) * np.std(r), rel=1e-12)
    assert d["covariance"] == pytest.approx(np.cov(r, b, bias=True)[0, 1], rel=1e-11)
    assert d["correlation"] == pytest.approx(np.corrcoef(r, b)[0, 1], rel=1e-11)
    assert d["historical_var"] == -quantile_ref(r.tolist(), 0.95)


def test_report_with_values_computes_the_benchmark_keys():
    d = quelm.stats(values=[1, 2, 3], benchmark=[0.1, 0.3, 0.2], periods_per_year=4)
    assert d["covariance"] == pytest.approx(np.cov([1, 2, 3], [0.1, 0.3, 0.2], bias=True)[0, 1], rel=1e-14)
    a = np.array([1, 2, 3]) - np.array([0.1, 0.3, 0.2])
    assert d["tracking_error"] == pytest.approx(2 * a.std(), rel=1e-14)
    assert d["information_ratio"] == pytest.approx(2 * a.mean() / a.std(), rel=1e-14)


def test_quantile_on_long_series_of_every_shape():
    # Long series take a sampled-band selection; its result must equal the plain rule exactly,
    # whatever the shape (sorted, reversed, heavy ties, a constant, NaN scattered in).
    rng = np.random.default_rng(31)
    x = rng.standard_t(3, size=20000) * 0.01
    shapes = [x, np.sort(x), np.sort(x)[::-1].copy(), np.round(x, 3), np.full(20000, 0.002),
              np.tile([0.01, -0.02, 0.03], 7000)]
    for y in shapes:
        for c in (0.999, 0.95, 0.5, 0.01):
            assert quelm.value_at_risk(y, c) == -quantile_ref(y.tolist(), c), c
    z = x.copy()
    z[rng.choice(z.size, 2000, replace=False)] = np.nan
    numbers = sorted(v for v in z.tolist() if not math.isnan(v))
    h = (z.size - 1.0) * (1.0 - 0.95)
    k = int(h)
    assert quelm.value_at_risk(z) == -(numbers[k] + (numbers[k + 1] - numbers[k]) * (h - k))
    assert math.isnan(quelm.value_at_risk(z, 0.05))  # rank 18999 lies among the NaN
