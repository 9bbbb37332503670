"""Numerical toolkit through the test-only module: normal distribution, root finders,
linear solves, least squares and sample statistics."""
from __future__ import annotations

import math

import pytest

import _quelm_testing as internal


def test_normal_cdf_against_erfc():
    assert internal.normal_cdf(0.0) == 0.5
    assert internal.normal_cdf(37.5) == 1.0 and internal.normal_cdf(-37.5) == 0.0
    for i in range(-400, 401):
        x = i / 40
        ref = 0.5 * math.erfc(-x / math.sqrt(2))
        assert internal.normal_cdf(x) == pytest.approx(ref, rel=1e-14, abs=1e-16), x
    assert internal.normal_cdf(8.0) == pytest.approx(0.5 * math.erfc(-8 / math.sqrt(2)), abs=1e-15)
    assert math.isnan(internal.normal_cdf(float("nan")))


def test_normal_quantile_ordinary_and_tails():
    ndtri = pytest.importorskip("scipy.special").ndtri
    assert internal.normal_quantile(0.5) == 0.0
    assert internal.normal_quantile(0.975) == pytest.approx(1.959963984540054, abs=1e-12)
    for p in (1e-4, 0.01, 0.3, 0.7, 0.99):
        assert internal.normal_quantile(p) == pytest.approx(ndtri(p), rel=1e-11)
    for p in (1e-8, 1 - 1e-8):  # ordinary branch: its absolute tolerance on the CDF bounds the digits
        assert internal.normal_quantile(p) == pytest.approx(ndtri(p), rel=1e-7)
    for p in (2.0**-53, 1e-12, 1e-20, 1e-100, 1e-300):
        # the tail solve is relative to p: digits are kept far below the absolute tolerance
        assert internal.normal_quantile(p) == pytest.approx(ndtri(p), rel=1e-8), p
    for bad in (0.0, 1.0, -0.1, float("nan")):
        with pytest.raises(ValueError, match=r"^invalid input: normal_quantile: p must be in \(0, 1\)$"):
            internal.normal_quantile(bad)


def test_linear_solves_and_regression():
    assert internal.solve_linear_system([[2.0]], [4.0]) == [2.0]
    with pytest.raises(ValueError, match="singular system"):
        internal.solve_linear_system([[0.0, 1.0], [0.0, 2.0]], [1.0, 2.0])
    with pytest.raises(ValueError, match="must be square"):
        internal.solve_linear_system([[1.0, 2.0], [3.0]], [1.0])
    with pytest.raises(ValueError, match="^invalid input: solve_linear_system: empty matrix$"):
        internal.solve_linear_system([], [])
    np = pytest.importorskip("numpy")
    a = np.random.default_rng(1).normal(size=(6, 6)) + 6 * np.eye(6)
    b = np.arange(6.0)
    assert internal.solve_linear_system(a.tolist(), b.tolist()) == pytest.approx(np.linalg.solve(a, b).tolist())
    c = internal.poly_least_squares([0.0, 1.0, 2.0], [1.0, 3.0, 7.0], 2)
    assert c == pytest.approx([1.0, 1.0, 1.0])
    assert internal.poly_least_squares([1.0, 2.0, 4.0], [3.0, 5.0, 10.0], 0) == pytest.approx([6.0])
    with pytest.raises(ValueError, match="underdetermined"):
        internal.poly_least_squares([1.0, 2.0], [1.0, 2.0], 2)
    with pytest.raises(ValueError, match="singular"):
        internal.poly_least_squares([1.0, 1.0, 1.0], [1.0, 2.0, 3.0], 2)


def test_mean_and_se():
    assert internal.mean_and_se([1.0, 2.0, 3.0]) == pytest.approx((2.0, math.sqrt(1 / 3)))
    assert internal.mean_and_se([5.0]) == (5.0, 0.0)
    assert internal.mean_and_se([]) == (0.0, 0.0)
