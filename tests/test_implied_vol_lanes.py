"""The exact ("rational") implied volatility in SIMD lanes: every element of
vec.implied_volatility(..., method="rational") has the bits of its scalar call at every width,
across the solver's regions (deep in and out of the money, prices near zero, near the
intrinsic value and near the upper bound)."""
from __future__ import annotations

import math
import struct

import numpy as np
import pytest

import quelm
import quelm.vec as vec
from conftest import run_python

WIDTHS = ("scalar", "sse2", "avx2", "avx512")


def quote_grid():
    """Quotes whose solves cross every region: strikes from deep in to deep out of the money,
    volatilities from 1% to 300%, short and long expiries, both types, with prices moved to
    the edges the solver treats apart."""
    rows = []
    for kind in ("call", "put"):
        for strike in (20.0, 60.0, 90.0, 99.0, 100.0, 101.0, 110.0, 150.0, 400.0):
            for vol in (0.01, 0.04, 0.2, 0.6, 1.5, 3.0):
                for t in (0.02, 0.5, 3.0):
                    spot, rate, q = 100.0, 0.02, 0.01
                    price = quelm.black_scholes(spot, strike, rate, vol, t, kind, q)
                    if price > 0.0:
                        rows.append((price, spot, strike, rate, t, kind, q))
    # F = 1, K = 1.5, T = 1, sigma = 4%: the Black price is 9.01e-27.
    tiny = quelm.black_scholes(1.0, 1.5, 0.0, 0.04, 1.0, "call")
    rows.append((tiny, 1.0, 1.5, 0.0, 1.0, "call", 0.0))
    rows.append((tiny, 1.5, 1.0, 0.0, 1.0, "put", 0.0))
    for kind, strike in (("call", 80.0), ("put", 120.0)):
        intrinsic = abs(100.0 - strike)
        for extra in (1e-14, 1e-9, 1e-4):
            rows.append((intrinsic + extra, 100.0, strike, 0.0, 1.0, kind, 0.0))
    for kind, strike in (("call", 100.0), ("call", 50.0), ("put", 100.0), ("put", 200.0)):
        upper = 100.0 if kind == "call" else strike
        for gap in (1e-3, 1e-8, 1e-12):
            rows.append((upper * (1.0 - gap), 100.0, strike, 0.0, 2.0, kind, 0.0))
    # Outside the bounds, at them, and not finite: the element errors (NaN under errors="nan").
    rows.append((100.0, 100.0, 100.0, 0.0, 1.0, "call", 0.0))
    rows.append((5.0, 100.0, 80.0, 0.0, 1.0, "call", 0.0))
    rows.append((float("nan"), 100.0, 100.0, 0.0, 1.0, "put", 0.0))
    rows.append((3.0, 100.0, 100.0, 0.0, -1.0, "put", 0.0))
    return rows


def scalar(row, method="rational"):
    try:
        return quelm.implied_volatility(*row, method=method)
    except ValueError:
        return float("nan")


def bits(values):
    return [struct.pack("<d", float(v)).hex() for v in values]


def test_rational_vec_has_the_scalar_bits_here():
    rows = quote_grid()
    columns = list(zip(*rows))
    arrays = [np.array(c) if i != 5 else np.array(c, dtype=str) for i, c in enumerate(columns)]
    got = vec.implied_volatility(*arrays, method="rational", errors="nan")
    want = [scalar(r) for r in rows]
    assert bits(got) == bits(want)
    # Methods mixed within the array's blocks: each element still has its scalar call's bits.
    methods = np.array(["rational", "newton", "rational"] * len(rows))[:len(rows)]
    mixed = vec.implied_volatility(*arrays, method=methods, errors="nan")
    want_mixed = []
    for r, m in zip(rows, methods):
        try:
            want_mixed.append(quelm.implied_volatility(*r, method=str(m)))
        except ValueError:
            want_mixed.append(float("nan"))
    assert bits(mixed) == bits(want_mixed)


CHILD = """
import struct, sys
sys.path.insert(0, {tests!r})
import numpy as np, quelm, quelm.vec as vec
from test_implied_vol_lanes import quote_grid, scalar, bits
rows = quote_grid()
cols = list(zip(*rows))
arrays = [np.array(c) if i != 5 else np.array(c, dtype=str) for i, c in enumerate(cols)]
for method in ("rational", "newton"):
    got = vec.implied_volatility(*arrays, method=method, errors="nan")
    want = [scalar(r, method) for r in rows]
    bad = [i for i, (a, b) in enumerate(zip(bits(got), bits(want))) if a != b]
    print(method, vec.simd_width()[0], len(rows), bad)
"""


@pytest.mark.parametrize("width", WIDTHS)
def test_vec_has_the_scalar_bits_at_every_width(width):
    # Both methods: the rational solve in lanes, and the Newton lanes whose unsettled
    # options (Newton failing deep out of the money, tiny quotes) finish after the block.
    import os
    code = CHILD.format(tests=os.path.dirname(__file__))
    out = run_python(code, env={"QUELM_SIMD": width, "RAYON_NUM_THREADS": "2"})
    assert out.returncode == 0, out.stderr
    lines = out.stdout.strip().splitlines()
    assert len(lines) == 2 and all(line.endswith("[]") for line in lines), out.stdout


def test_lanes_match_the_scalar_solve_across_regions():
    internal = pytest.importorskip("_quelm_testing")
    rng = np.random.default_rng(3)
    betas, xs = [], []
    # x from at the money to very far out, s from 1e-3 to 10: the asymptotic tail, the
    # Taylor and Cody regions of the price, and all four regions of the first guess.
    for x in np.concatenate([[0.0, -1e-12], -rng.uniform(0.0, 0.5, 150), -rng.uniform(0.5, 20.0, 80)]):
        for s in np.exp(rng.uniform(math.log(1e-3), math.log(10.0), 12)):
            b = internal.normalised_black(float(x), float(s), 1.0)
            for beta in (b, b * (1 - 1e-9), math.exp(x / 2) * (1 - 1e-13)):
                solve, beta_q, x_q, _ = internal.normalised_otm_quote(beta, float(x), 1.0)
                if solve:
                    betas.append(beta_q)
                    xs.append(x_q)
    # An uneven count: the last lanes are padding.
    betas.append(betas[0])
    xs.append(xs[0])
    one, many = internal.implied_otm_scalar_and_lanes(betas, xs)
    assert len(one) == len(betas)
    assert bits(one) == bits(many)


@pytest.mark.parametrize("kind", ["call", "put"])
def test_rational_vec_recovers_the_volatility(kind):
    rng = np.random.default_rng(11)
    n = 3000
    spot = rng.uniform(50.0, 150.0, n)
    strike = rng.uniform(50.0, 150.0, n)
    vol = rng.uniform(0.05, 1.0, n)
    t = rng.uniform(0.05, 3.0, n)
    price = vec.black_scholes(spot, strike, 0.01, vol, t, kind)
    got = vec.implied_volatility(price, spot, strike, 0.01, t, kind, method="rational", errors="nan")
    # To within what the price carries: the closed form's price is exact to a few ulps of
    # the spot, which moves the volatility by about eps * spot / vega.
    vega = vec.greeks(spot, strike, 0.01, vol, t, kind)["vega"]
    ok = price > 0.0
    assert ok.sum() > 2900
    with np.errstate(divide="ignore"):  # a vega that underflows to 0 allows any error
        assert np.all((np.abs(got - vol) <= 1e-14 + 64 * 2.2e-16 * spot / vega)[ok])
    # F = 1, K = 1.5, T = 1, sigma = 4%: a price of 9.01e-27 still gives 4% back.
    tiny = quelm.black_scholes(1.0, 1.5, 0.0, 0.04, 1.0, "call")
    assert tiny == pytest.approx(9.01e-27, rel=1e-3)
    assert vec.implied_volatility(np.array([tiny] * 5), 1.0, 1.5, 0.0, 1.0, "call", method="rational")[3] == \
        pytest.approx(0.04, rel=1e-8)  # as close as the closed form's 9e-27 carries


def test_rational_vec_reports_the_element_that_fails():
    price = np.array([5.0, 5.0, 150.0, 5.0])
    with pytest.raises(quelm.ElementError) as err:
        vec.implied_volatility(price, 100.0, 100.0, 0.0, 1.0, "call", method="rational")
    assert err.value.index == (2,)
    with pytest.raises(quelm.ElementError) as err:
        vec.implied_volatility(np.full(4, 5.0), 100.0, 100.0, 0.0, 1.0, np.array(["call", "call", "call", "cal"]),
                               method="rational")
    assert err.value.index == (3,)


BATCH_CHILD = """
import math, random, struct, sys
import _quelm_testing as internal
import quelm.vec as vec

def bits(values):
    return [struct.pack("<d", float(v)).hex() for v in values]

# Quotes of every stage's kind side by side: the price at s_c in its Taylor form (|x| small)
# and in Cody's, the point s_l or s_u next, the lower, middle and upper regions, and first
# guesses either side of the Taylor bound s = 0.42.
quotes = []
for x in (0.0, -1e-4, -0.02, -0.08, -0.09, -0.3, -1.0, -4.0, -12.0):
    for s in (0.005, 0.05, 0.2, 0.41, 0.43, 0.8, 2.0, 6.0):
        b = internal.normalised_black(x, s, 1.0)
        for beta in (b, b * (1 + 1e-7), math.exp(x / 2) * (1 - 1e-10)):
            solve, bq, xq, _ = internal.normalised_otm_quote(beta, x, 1.0)
            if solve:
                quotes.append((bq, xq))
random.Random(5).shuffle(quotes)
bad = []
# Batches of every size around the vector widths and the batch of 64, and the same quotes
# in other orders: each quote's bits may depend on nothing but the quote.
for n in (1, 2, 3, 5, 7, 16, 17, 63, 64, 65, 129, len(quotes)):
    for order in (quotes[:n], quotes[:n][::-1], sorted(quotes[:n])):
        one, many = internal.implied_otm_scalar_and_lanes([q[0] for q in order], [q[1] for q in order])
        if bits(one) != bits(many):
            bad.append(n)
print(vec.simd_width()[0], len(quotes), sorted(set(bad)))
"""


@pytest.mark.parametrize("width", WIDTHS)
def test_batches_of_mixed_regions_keep_the_scalar_bits(width):
    # The lanes solve a batch in stages, regrouping its quotes by the form of the price and
    # the region before each: any mix, size and order must leave every quote its scalar bits.
    pytest.importorskip("_quelm_testing")
    out = run_python(BATCH_CHILD, env={"QUELM_SIMD": width})
    assert out.returncode == 0, out.stderr
    name, count, bad = out.stdout.split(maxsplit=2)
    assert int(count) > 150
    assert bad.strip() == "[]", out.stdout


QUOTE_CHILD = """
import math, struct, sys
sys.path.insert(0, {tests!r})
import numpy as np, quelm, quelm.vec as vec
from test_implied_vol_lanes import scalar, bits
inf, nan = float("inf"), float("nan")
n = 37  # two whole blocks and a last one of 5: whole vectors and a part of one
rows = []
for i in range(n):
    kind = "call" if i % 3 else "put"
    spot, strike, rate, t, q = 100.0, 80.0 + 1.3 * i, 0.02, 0.25 + 0.05 * i, 0.01 * (i % 2)
    rows.append([quelm.black_scholes(spot, strike, rate, 0.3, t, kind, q), spot, strike, rate, t, kind, q])
# One input not finite (or NaN) per chosen element, in whole vectors and in the last part.
for i, column, value in ((0, 1, inf), (5, 3, -inf), (6, 6, inf), (17, 4, nan), (20, 0, inf), (33, 2, inf),
                         (34, 0, -inf), (36, 6, nan)):
    rows[i][column] = value
cols = list(zip(*rows))
arrays = [np.array(c) if i != 5 else np.array(c, dtype=str) for i, c in enumerate(cols)]
got = vec.implied_volatility(*arrays, method="rational", errors="nan")
want = [scalar(r) for r in rows]
print(vec.simd_width()[0], [i for i, (a, b) in enumerate(zip(bits(got), bits(want))) if a != b],
      int(np.isnan(got).sum()))
"""


@pytest.mark.parametrize("width", WIDTHS)
def test_quotes_not_finite_in_whole_and_partial_vectors(width):
    # The quote checks read whole vectors straight from the block and the last part through a
    # padded copy; an input that is not finite in either leaves its element to the scalar call.
    import os
    out = run_python(QUOTE_CHILD.format(tests=os.path.dirname(__file__)), env={"QUELM_SIMD": width})
    assert out.returncode == 0, out.stderr
    name, rest = out.stdout.split(maxsplit=1)
    assert rest.startswith("[]"), out.stdout
    assert int(rest.split()[-1]) >= 6  # the non-finite elements fail (NaN under errors="nan")
