"""Brent's method over lanes (the implied-vol searches run this way) against the scalar
search: two searches side by side in one vector, each must take the scalar search's steps
and end at its root, bit for bit, or fail where it fails."""
from __future__ import annotations

import math
import struct

import numpy as np
import pytest

internal = pytest.importorskip("_quelm_testing")


def bits(x: float) -> str:
    return "nan" if math.isnan(x) else struct.pack("<d", x).hex()


def cubics(count: int, seed: int):
    """Cubics with a root inside, outside (no bracket), at an end, or double; coefficients
    across scales, so the searches mix interpolation, secant and bisection steps."""
    rng = np.random.default_rng(seed)
    for _ in range(count):
        lo, hi = sorted(rng.uniform(-5.0, 5.0, 2))
        kind = rng.integers(4)
        if kind == 0:  # roots drawn anywhere: some inside [lo, hi], some not
            r = rng.uniform(-6.0, 6.0, 3)
        elif kind == 1:  # one root at an end
            r = np.array([lo if rng.random() < 0.5 else hi, rng.uniform(-9, 9), rng.uniform(-9, 9)])
        elif kind == 2:  # a double root inside: the sign does not change there
            m = rng.uniform(lo, hi)
            r = np.array([m, m, rng.uniform(-9, 9)])
        else:
            r = rng.uniform(lo, hi, 3)
        scale = 10.0 ** rng.uniform(-6, 6)
        # (x - r0)(x - r1)(x - r2) * scale
        c3 = scale
        c2 = -scale * (r[0] + r[1] + r[2])
        c1 = scale * (r[0] * r[1] + r[0] * r[2] + r[1] * r[2])
        c0 = -scale * r[0] * r[1] * r[2]
        yield (float(c0), float(c1), float(c2), float(c3)), float(lo), float(hi)


@pytest.mark.parametrize("tol, max_iter", [(1e-12, 100), (1e-6, 100), (1e-14, 6)])
def test_each_lane_has_the_scalar_search_bits(tol, max_iter):
    found = failed = 0
    items = list(cubics(400, seed=int(-math.log10(tol)) + max_iter))
    # Pairs of different cubics on the same interval share a vector.
    for (a, lo, hi), (b, _, _) in zip(items[0::2], items[1::2]):
        scalar_a, scalar_b, lanes_a, lanes_b = internal.brent_pair(*a, *b, lo, hi, tol, max_iter)
        assert bits(lanes_a) == bits(scalar_a), (a, lo, hi)
        assert bits(lanes_b) == bits(scalar_b), (b, lo, hi)
        for v in (scalar_a, scalar_b):
            found += not math.isnan(v)
            failed += math.isnan(v)
    assert found > 50 and failed > 20, (found, failed)


def test_a_root_at_an_end_ends_the_search_at_once():
    # f(lo) = 0 for the first cubic, f(hi) = 0 for the second: each is its own end.
    got = internal.brent_pair(0.0, 1.0, 0.0, 0.0, -2.0, 1.0, 0.0, 0.0, 0.0, 2.0, 1e-12, 100)
    assert got == (0.0, 2.0, 0.0, 2.0)
