"""The stand-ins for compiler builtins (overflow checks, 64x64 high product, integer
powers), checked against Python integers and a reference powering loop. The same tests
cover the builtin forms and, in a build with QUELM_PORTABLE_ONLY, the standard C++ ones."""
from __future__ import annotations

import math

import pytest
from hypothesis import given, strategies as st

import _quelm_testing as internal

U64 = 2**64
u64s = st.one_of(st.integers(0, U64 - 1), st.sampled_from([0, 1, 2**32 - 1, 2**32, 2**32 + 1, 2**63, U64 - 1]))


@given(u64s, u64s)
def test_u64_products_and_sums_match_python_integers(a, b):
    assert internal.mul_high_u64(a, b) == (a * b) >> 64
    assert internal.mul_overflows_u64(a, b) == ((a * b) % U64, a * b >= U64)
    assert internal.add_overflows_u64(a, b) == ((a + b) % U64, a + b >= U64)


@pytest.mark.parametrize("a, b, high", [
    (U64 - 1, U64 - 1, U64 - 2),          # every partial product carries
    (2**32, 2**32, 1),
    (2**63, 2, 1),
    (0xFFFFFFFF, 0xFFFFFFFF, 0),
    (0x1_0000_0001, 0xFFFF_FFFF_0000_0001, 0x1_0000_0000),
])
def test_mul_high_carry_cases(a, b, high):
    assert internal.mul_high_u64(a, b) == high == (a * b) >> 64


def reference_powi(x: float, n: int) -> float:
    """Binary powering with the products in the builtin's order."""
    m = abs(n)
    y = x if m % 2 else 1.0
    m >>= 1
    while m:
        x = x * x
        if m % 2:
            y = y * x
        m >>= 1
    if n < 0:
        return 1.0 / y if y != 0.0 else math.copysign(math.inf, y)
    return y


@pytest.mark.parametrize("x", [0.9, 0.999, 1.0000001, -1.5, 2.0, 0.0, 1e-3])
@pytest.mark.parametrize("n", [0, 1, 2, 3, 7, 64, 1000, 12345, 2**31 - 1, -1, -5, -300])
def test_powi_bits_match_binary_powering(x, n):
    got = internal.powi(x, n)
    want = reference_powi(x, n)
    assert got == want, (x, n, got, want)
    assert math.copysign(1.0, got) == math.copysign(1.0, want)
