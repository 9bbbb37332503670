"""Mean-variance portfolios within weight bounds: the active-set solutions agree with a general
QP solver (Goldfarb-Idnani, quadprog) to 1e-9, satisfy their optimality conditions, and a call
without bounds keeps its closed-form bits."""
from __future__ import annotations

import math
import re

import pytest

import quelm

np = pytest.importorskip("numpy")


def problem(n: int, seed: int):
    rng = np.random.default_rng(seed)
    factors = rng.normal(size=(n, max(2, n // 2)))
    cov = 1e-4 * (factors @ factors.T + np.diag(rng.uniform(0.5, 2.0, n)))
    mean = rng.normal(0.006, 0.004, n)
    return mean, cov


def expanded(bounds, n):
    if bounds is None:
        return [(-math.inf, math.inf)] * n
    if len(bounds) == 2 and not isinstance(bounds[0], (tuple, list)):
        bounds = [bounds] * n
    return [(-math.inf if lo is None else lo, math.inf if hi is None else hi) for lo, hi in bounds]


def reference(mean, cov, rf, target, bounds):
    """The three portfolios from quadprog: minimise ½xᵀGx - aᵀx s.t. Cᵀx >= b, the first meq equal."""
    quadprog = pytest.importorskip("quadprog")
    n = len(mean)
    lo = np.array([b[0] for b in bounds])
    hi = np.array([b[1] for b in bounds])
    finite_lo, finite_hi = np.isfinite(lo), np.isfinite(hi)
    eye = np.eye(n)

    def weights(extra_eq, extra_b):
        C = np.column_stack([np.ones(n), *extra_eq, eye[:, finite_lo], -eye[:, finite_hi]])
        b = np.concatenate([[1.0], extra_b, lo[finite_lo], -hi[finite_hi]])
        return quadprog.solve_qp(cov, np.zeros(n), C, b, meq=1 + len(extra_eq))[0]

    out = {"min_variance_weights": weights([], [])}
    # Tangency in holdings y = w / (excess·w): excess·y = 1, y_i >= lo_i 1ᵀy, y_i <= hi_i 1ᵀy.
    excess = np.asarray(mean) - rf
    ones = np.ones(n)
    C = np.column_stack([excess, *(eye[:, i] - lo[i] * ones for i in np.flatnonzero(finite_lo)),
                         *(hi[i] * ones - eye[:, i] for i in np.flatnonzero(finite_hi))])
    b = np.concatenate([[1.0], np.zeros(C.shape[1] - 1)])
    y = quadprog.solve_qp(cov, np.zeros(n), C, b, meq=1)[0]
    out["tangency_weights"] = y / y.sum()
    out["frontier_weights"] = None if target is None else weights([np.asarray(mean)], [target])
    return out


BOUNDS = [
    ("long-only", lambda n: (0, 1)),
    ("capped", lambda n: (0.0, 2.5 / n)),
    ("per-asset", lambda n: [(-0.2, 0.6) if i % 3 else (0.05, None) for i in range(n)]),
    ("open-sided", lambda n: [(None, 0.4)] * (n - 1) + [(0.0, None)]),
]


@pytest.mark.parametrize("n, seed", [(2, 1), (3, 2), (5, 3), (8, 4), (12, 5), (25, 6)])
@pytest.mark.parametrize("kind, make", BOUNDS, ids=[b[0] for b in BOUNDS])
def test_bounded_portfolios_agree_with_a_general_qp_solver(n, seed, kind, make):
    mean, cov = problem(n, seed)
    bounds = make(n)
    full = expanded(bounds, n)
    # A target inside what the bounds allow: between the min-variance portfolio's return and
    # the best asset's reach.
    mv = quelm.optimize(mean.tolist(), cov.tolist(), bounds=bounds)["min_variance_weights"]
    top = max(mean)
    target = float(0.5 * (np.dot(mean, mv) + top))
    rf = float(min(mean)) - 1e-3
    try:
        got = quelm.optimize(mean, cov, rf=rf, target=target, bounds=bounds)
    except ValueError as exc:
        assert "outside the expected returns" in str(exc)
        target = float(np.dot(mean, mv))
        got = quelm.optimize(mean, cov, rf=rf, target=target, bounds=bounds)
    want = reference(mean, cov, rf, target, full)
    for key in want:
        w = np.asarray(got[key])
        assert abs(w.sum() - 1.0) < 1e-12, key
        assert all(lo <= x <= hi for x, (lo, hi) in zip(w, full)), key
        assert np.max(np.abs(w - want[key])) < 1e-9, (key, w, want[key])
    assert abs(np.dot(mean, got["frontier_weights"]) - target) < 1e-12


def test_optimality_conditions_hold_without_a_reference_solver():
    # Minimum variance within [lo, hi]: the assets strictly inside share one marginal variance
    # (Σw)_i; an asset held at its lower bound has at least that, one at its upper at most
    # (the KKT conditions of the program). Held weights are their bounds exactly.
    lo, hi = 0.02, 0.15
    for seed in range(30, 36):
        mean, cov = problem(10, seed)
        w = np.asarray(quelm.optimize(mean, cov, bounds=(lo, hi))["min_variance_weights"])
        marginal = cov @ w
        at_lo, at_hi = w == lo, w == hi
        inside = ~(at_lo | at_hi)
        assert (at_lo | at_hi).any() and inside.any(), w
        level = marginal[inside].mean()
        assert np.allclose(marginal[inside], level, rtol=1e-9, atol=0)
        assert (marginal[at_lo] >= level * (1 - 1e-9)).all() and (marginal[at_hi] <= level * (1 + 1e-9)).all()


# Two uncorrelated assets (variances 0.04 and 0.01, means 0.10 and 0.05): the unbounded
# portfolios are [0.2, 0.8], [1/3, 2/3] and, for target 0.10, [1, 0].
COV = [[0.04, 0.0], [0.0, 0.01]]
MEAN = [0.10, 0.05]


def test_bounds_that_bind_and_bounds_that_do_not():
    capped = quelm.optimize(MEAN, COV, target=0.075, bounds=[(0.0, 1.0), (0.0, 0.7)])
    assert capped["min_variance_weights"] == pytest.approx([0.3, 0.7], abs=1e-15)
    assert capped["min_variance_weights"][1] == 0.7          # held at its bound, exactly
    assert capped["tangency_weights"] == pytest.approx([1 / 3, 2 / 3], abs=1e-15)
    assert capped["frontier_weights"] == pytest.approx([0.5, 0.5], abs=1e-15)
    loose = quelm.optimize(MEAN, COV, target=0.10, bounds=(-5, 5))
    closed = quelm.optimize(MEAN, COV, target=0.10)
    for key in closed:
        assert loose[key] == pytest.approx(closed[key], abs=1e-14)
    at_the_edge = quelm.optimize(MEAN, COV, target=0.10, bounds=(0, 1))["frontier_weights"]
    assert at_the_edge == [1.0, 0.0]


def test_without_bounds_the_closed_form_bits_are_kept():
    mean, cov = problem(6, 21)
    plain = quelm.optimize(mean.tolist(), cov.tolist(), 0.001, 0.007)
    assert quelm.optimize(mean.tolist(), cov.tolist(), 0.001, 0.007, bounds=None) == plain
    assert quelm.optimize(mean.tolist(), cov.tolist(), rf=0.001, target=0.007) == plain


@pytest.mark.parametrize("kwargs, message", [
    (dict(bounds=[(0, 1)] * 3), "optimize: bounds must hold one (lower, upper) pair per asset, got 3 for 2 assets"),
    (dict(bounds=[(0, 1), (0.6, 0.2)]),
     "optimize: bounds[1] must satisfy lower <= upper, lower < inf and upper > -inf, got (0.6, 0.2)"),
    (dict(bounds=(float("nan"), 1)),
     "optimize: bounds must satisfy lower <= upper, lower < inf and upper > -inf, got (NaN, 1)"),
    (dict(bounds=(0.6, 1)), "optimize: the bounds allow no fully invested portfolio: the lower bounds sum to 1.2"),
    (dict(bounds=(0, 0.4)), "optimize: the bounds allow no fully invested portfolio: the upper bounds sum to 0.8"),
    (dict(bounds=(0, 1), target=0.2),
     "optimize: target 0.2 is outside the expected returns the bounds allow, from 0.05 to 0.1"),
    (dict(bounds=(0, 1), rf=0.1), "optimize: no portfolio within the bounds has an expected return above rf"),
])
def test_bounds_and_targets_the_program_cannot_meet(kwargs, message):
    with pytest.raises(ValueError) as info:
        quelm.optimize(MEAN, COV, **kwargs)
    assert str(info.value) == "invalid input: " + message


def test_bounds_are_keyword_only_pairs():
    with pytest.raises(TypeError, match=r"takes from 2 to 4 positional arguments but 5 were given"):
        quelm.optimize(MEAN, COV, 0.0, None, (0, 1))
    with pytest.raises(TypeError, match=r"argument 'bounds': expected a \(lower, upper\) pair"):
        quelm.optimize(MEAN, COV, bounds=[(0, 1, 2), (0, 1)])
    with pytest.raises(TypeError, match="argument 'bounds'"):
        quelm.optimize(MEAN, COV, bounds="0,1")
    # One pair for every asset, as a tuple, a list or an array; None is no bound on that side.
    want = quelm.optimize(MEAN, COV, bounds=[(0, 1), (0, 1)])
    assert quelm.optimize(MEAN, COV, bounds=[0, 1]) == want
    assert quelm.optimize(MEAN, COV, bounds=np.array([[0.0, 1.0]] * 2)) == want
    assert quelm.optimize(MEAN, COV, bounds=(None, None)) == quelm.optimize(MEAN, COV, bounds=(-1e300, 1e300))
    # The covariance's shape is still judged first, the mean's length by the tangency step.
    with pytest.raises(ValueError, match="non-empty square"):
        quelm.optimize(MEAN, [[0.04, 0.0]], bounds=[(0, 1)] * 5)
    with pytest.raises(ValueError, match="mean length must match"):
        quelm.optimize([0.1, 0.05, 0.02], COV, bounds=(0, 1))


@pytest.mark.parametrize("n, seed, bounds", [(40, 17, (0, 0.1)), (60, 8, (0.0, 0.05)), (30, 9, (-0.1, 0.2))])
def test_frontier_points_across_the_attainable_returns_agree_with_a_general_qp_solver(n, seed, bounds):
    # The frontier program starts from the mix of the nearest solved portfolios (minimum
    # variance, tangency, the bounds' lowest- and highest-return ones) that brackets the
    # target, holding the bounds both hold. Targets near the lowest return, below the
    # minimum-variance one, between it and the tangency one, beyond it, and near the highest
    # all reach the optimum.
    mean, cov = problem(n, seed)
    full = expanded(bounds, n)
    rf = float(min(mean)) - 1e-3
    first = quelm.optimize(mean, cov, rf=rf, bounds=bounds)
    mv, tan = (float(np.dot(mean, first[k])) for k in ("min_variance_weights", "tangency_weights"))
    lo_b, hi_b = bounds
    order = np.argsort(mean)

    def extreme(idx):
        # The lowest (highest) return within the bounds: the lowest-mean (highest-mean) assets
        # filled to their caps in turn; with distinct means the only portfolio earning it.
        w, left = np.full(n, float(lo_b)), 1.0 - n * lo_b
        for i in idx:
            w[i] += min(hi_b - lo_b, left)
            left -= w[i] - lo_b
        return w

    low_w, high_w = extreme(order), extreme(order[::-1])
    low, high = float(np.dot(mean, low_w)), float(np.dot(mean, high_w))
    targets = [0.99 * low + 0.01 * mv, 0.5 * (low + mv), mv, 0.5 * (mv + tan), tan, 0.5 * (tan + high),
               0.99 * high + 0.01 * tan]
    for target in targets:
        got = quelm.optimize(mean, cov, rf=rf, target=target, bounds=bounds)
        for key in ("min_variance_weights", "tangency_weights"):
            assert got[key] == first[key]
        w = np.asarray(got["frontier_weights"])
        want = reference(mean, cov, rf, target, full)["frontier_weights"]
        assert abs(w.sum() - 1.0) < 1e-12 and abs(np.dot(mean, w) - target) < 1e-12, target
        assert all(lo <= x <= hi for x, (lo, hi) in zip(w, full)), target
        assert np.max(np.abs(w - want)) < 1e-9, (target, w, want)
    # The extremes themselves, as the bounds' check words them: one portfolio each, where the
    # working set grows until the rows alone fix the weights.
    with pytest.raises(ValueError) as info:
        quelm.optimize(mean, cov, target=-1.0, bounds=bounds)
    edges = re.search(r"from (\S+) to (\S+)$", str(info.value)).groups()
    for edge, vertex in zip(map(float, edges), (low_w, high_w)):
        w = np.asarray(quelm.optimize(mean, cov, rf=rf, target=edge, bounds=bounds)["frontier_weights"])
        assert np.max(np.abs(w - vertex)) < 1e-12, (edge, w, vertex)


def test_a_riskless_asset_is_solved_around_its_singular_covariance():
    # A third asset with no variance makes Σ singular while every asset is free, so the
    # Cholesky factor of the free assets breaks down and the whole system is eliminated;
    # once it is held at its cap the factor serves again. Worked by hand: with the cash at 0.5
    # the rest splits as 0.04 a = 0.01 b; at target 0.04 the cash stays inside its bounds and
    # the Lagrange conditions give a = 27/145, b = 48/145.
    cov = [[0.04, 0.0, 0.0], [0.0, 0.01, 0.0], [0.0, 0.0, 0.0]]
    mean = [0.10, 0.05, 0.01]
    got = quelm.optimize(mean, cov, target=0.04, bounds=(0, 0.5))
    assert got["min_variance_weights"] == pytest.approx([0.1, 0.4, 0.5], abs=1e-15)
    assert got["min_variance_weights"][2] == 0.5
    assert got["frontier_weights"] == pytest.approx([27 / 145, 48 / 145, 70 / 145], abs=1e-15)
    # Σ singular along the budget row too (two copies of one asset): no unique portfolio.
    twins = [[0.04, 0.01, 0.01], [0.01, 0.02, 0.02], [0.01, 0.02, 0.02]]
    with pytest.raises(ValueError, match=r"^numerical error: linear solve: "):
        quelm.optimize([0.1, 0.05, 0.05], twins, bounds=(0, 1))
