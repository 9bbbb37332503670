"""The Cholesky factor of a principal submatrix kept current as indices leave and join (the
bounded portfolios' working sets): after any sequence of removals and appends its solves
agree with a new factorisation of the final submatrix, its several-column solve gives each
column the one-column solve's bits, and a submatrix that is not positive definite is refused."""
from __future__ import annotations

import pytest

np = pytest.importorskip("numpy")
qt = pytest.importorskip("_quelm_testing")


def spd(n: int, seed: int, rank: int | None = None) -> np.ndarray:
    rng = np.random.default_rng(seed)
    f = rng.normal(size=(n, rank or n + 3))
    return f @ f.T / f.shape[1] + (0.0 if rank else 0.1 * np.eye(n))


def walk(n: int, seed: int, length: int) -> tuple[list[int], list[float]]:
    """A start subset and a valid sequence of steps: i appends i, -(i + 1) removes it."""
    rng = np.random.default_rng(seed)
    inside = [int(i) for i in rng.permutation(n)[: n // 2]]
    start, steps = list(inside), []
    for _ in range(length):
        outside = [i for i in range(n) if i not in inside]
        if outside and (len(inside) < 2 or rng.random() < 0.5):
            i = int(rng.choice(outside))
            inside.append(i)
            steps.append(float(i))
        else:
            i = int(rng.choice(inside))
            inside.remove(i)
            steps.append(float(-(i + 1)))
    return start, steps


@pytest.mark.parametrize("n, seed, length, columns", [(6, 1, 10, 1), (15, 2, 40, 3), (30, 3, 80, 4), (40, 4, 25, 5)])
def test_updates_agree_with_a_new_factor(n, seed, length, columns):
    s = spd(n, seed)
    start, steps = walk(n, seed, length)
    rng = np.random.default_rng(seed + 100)
    # The final subset's size follows from the steps.
    size = len(start) + sum(1 if v >= 0 else -1 for v in steps)
    rhs = rng.normal(size=(columns, size))
    out = qt.subset_cholesky(s.tolist(), [float(i) for i in start], steps, rhs.tolist())
    order = [int(v) for v in out[0]]
    expect = [i for i in start]
    for v in steps:
        expect.append(int(v)) if v >= 0 else expect.remove(int(-v - 1))
    assert order == expect  # appended last, the others keep their order
    sub = s[np.ix_(order, order)]
    many, single = out[1:1 + columns], out[1 + columns:]
    for j in range(columns):
        want = np.linalg.solve(sub, rhs[j])
        assert np.max(np.abs(np.asarray(single[j]) - want)) <= 1e-11 * np.max(np.abs(want)), j
        assert many[j] == single[j]


def test_a_submatrix_that_is_not_positive_definite_is_refused():
    s = spd(6, 7, rank=3)  # rank 3: any four indices are dependent
    assert qt.subset_cholesky(s.tolist(), [0.0, 1.0, 2.0, 3.0], [], []) is None
    assert qt.subset_cholesky(s.tolist(), [0.0, 1.0, 2.0], [4.0], []) is None
    # Three are independent, and a removal keeps the rest usable.
    out = qt.subset_cholesky(s.tolist(), [0.0, 1.0, 2.0], [-2.0, 5.0], [[1.0, 2.0, 3.0]])
    assert [int(v) for v in out[0]] == [0, 2, 5]
    sub = s[np.ix_([0, 2, 5], [0, 2, 5])]
    assert np.allclose(sub @ np.asarray(out[1]), [1.0, 2.0, 3.0], rtol=0, atol=1e-9)
