"""Numerical toolkit through the test-only module: normal distribution, root finders (the
damped Newton the bootstraps run, on one unknown and on a system), linear solves, least
squares and sample statistics."""
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


# --- damped Newton ---------------------------------------------------------------------------

def test_damped_newton_halves_the_steps_that_overshoot_or_leave_the_domain():
    # Newton on atan from 3 overshoots further at every step; halved, it lands on the root.
    with pytest.raises(ValueError, match="numerical error: newton"):
        internal.newton_fn("atan", 3.0, 1e-14, 50)
    x, status, iterations, residual, _, _ = internal.damped_newton_fn("atan", 3.0, 1e-14, 50, 60)
    assert (status, x, residual) == ("converged", 0.0, 0.0) and iterations <= 10
    # With one try a step it cannot move, and ends where it started, evaluated there last.
    assert internal.damped_newton_fn("atan", 3.0, 1e-14, 50, 1) == (3.0, "stalled", 0, math.atan(3.0), 3, 3.0)
    # The full step from 3 on log lands below 0, where log is NaN: halved, it stays inside.
    assert internal.damped_newton_fn("log", 3.0, 1e-14, 50, 60)[:4] == (1.0, "converged", 6, 0.0)
    # No root: it stops at cosh's minimum, and the last point evaluated is the one returned
    # (a bootstrap's curve keeps the state of its last evaluation).
    x, status, _, residual, _, last = internal.damped_newton_fn("cosh", 1.0, 1e-14, 50, 60)
    assert status == "stalled" and abs(x) < 1e-6 and residual == pytest.approx(1.0) and last == x


@pytest.mark.parametrize("name, x0, tol, max_iter, status, iterations", [
    ("log", -1.0, 1e-14, 50, "non_finite", 0),       # no residual at the start
    ("step", 0.0, 1e-14, 50, "singular", 0),         # a zero slope gives no step
    ("cubic", 10.0, 1e-14, 2, "max_iterations", 2),
    ("cubic", 10.0, 1e-14, 50, "converged", 9),
    ("cbrt", 1.0, 0.0, 100, "stalled", 55),          # the steps fall below rounding, the root not reached
    ("square_minus_two", 1.0, 0.0, 100, "stalled", 5),  # at the rounding floor no step lowers |r|
])
def test_damped_newton_statuses(name, x0, tol, max_iter, status, iterations):
    x, got, its, residual, evaluations, last = internal.damped_newton_fn(name, x0, tol, max_iter, 60)
    assert (got, its) == (status, iterations)
    assert last == x
    if status == "converged":
        assert abs(residual) <= tol and x == pytest.approx(2.0945514815423265, rel=1e-15)
    if name == "cbrt":  # stopped on the step's size: no extra evaluation to restore the point
        assert 0 < abs(x) < 1e-16 and evaluations == 1 + 2 * its
    if name == "square_minus_two":
        assert x == pytest.approx(math.sqrt(2.0), rel=2**-52) and abs(residual) <= 4.5e-16
    if status == "non_finite":
        assert math.isnan(residual)


def test_damped_newton_on_a_system():
    run = internal.damped_newton_system_fn
    u, status, _, residual, _ = run("circle", [1.0, 0.5], 1e-14, 50, 40, 0)
    assert status == "converged" and residual <= 1e-14 and u == pytest.approx([math.sqrt(2.0)] * 2, rel=1e-15)
    # Damping needed: atan overshoots; log's full step leaves its domain (an infinite merit).
    assert run("atan", [3.0, -2.0], 1e-14, 50, 40, 0)[:2] == ([0.0, 0.0], "converged")
    assert run("atan", [3.0, -2.0], 1e-14, 50, 1, 0)[:3] == ([3.0, -2.0], "stalled", 0)
    assert run("log", [3.0, 0.0], 1e-14, 50, 40, 0)[:2] == ([1.0, 1.0], "converged")
    assert run("log", [-3.0, 0.0], 1e-14, 50, 40, 0)[:4] == ([-3.0, 0.0], "non_finite", 0, math.inf)
    assert run("parallel", [1.0, 2.0], 1e-14, 50, 40, 0)[:4] == ([1.0, 2.0], "singular", 0, 3.0)
    u, status, _, residual, _ = run("cosh", [1.0, 2.0], 1e-14, 50, 40, 0)
    assert status == "stalled" and residual == pytest.approx(1.0) and u[1] == 0.0
    assert run("circle", [1.0, 0.5], 1e-14, 2, 40, 0)[1:3] == ("max_iterations", 2)
    u, status, _, residual, _ = run("circle", [1.0, 0.5], 0.0, 100, 40, 0)
    assert status == "stalled" and residual < 1e-15 and u == pytest.approx([math.sqrt(2.0)] * 2, rel=1e-15)
    # Polled before each step, each trial and the evaluation at the accepted point: each one stops it.
    for at in (1, 2, 3, 4):
        with pytest.raises(KeyboardInterrupt):
            run("circle", [1.0, 0.5], 1e-14, 50, 40, at)
    with pytest.raises(ValueError, match="two entries"):
        run("circle", [1.0], 1e-14, 50, 40, 0)


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
