"""The default (Newton) implied volatility's array form where Newton fails: Brent's search
runs in the same SIMD lanes as the Newton searches, and every element keeps its scalar
call's bits at every width, including tiny quotes whose Brent root is rechecked and quotes
Brent cannot bracket (an ElementError naming the element, NaN under errors="nan")."""
from __future__ import annotations

import math
import os
import struct

import numpy as np
import pytest

import quelm
import quelm.vec as vec
from conftest import run_python

WIDTHS = ("scalar", "sse2", "avx2", "avx512")
NO_BRACKET = "numerical error: brent: endpoints do not bracket a root"


def closed_form_quotes():
    """Quotes priced by the closed form across moneyness, expiry and volatility: deep in and
    out of the money, expiries from a day to 30 years, volatilities up to 800%."""
    rows = []
    for kind in ("call", "put"):
        for spot, strike in ((100.0, 100.0), (100.0, 50.0), (100.0, 200.0), (100.0, 20.0), (100.0, 400.0),
                             (50.0, 100.0)):
            for t in (0.004, 0.02, 1.0, 10.0, 30.0):
                for vol in (0.01, 0.05, 0.3, 1.0, 3.0, 8.0):
                    for rate, q in ((0.0, 0.0), (0.05, 0.02)):
                        price = quelm.black_scholes(spot, strike, rate, vol, t, kind, q)
                        if price > 0.0:
                            rows.append((price, spot, strike, rate, t, kind, q))
    return rows


def edge_quotes(n=600, seed=5):
    """Quotes drawn near both no-arbitrage bounds, strikes e^-4 to e^4 times the spot and
    expiries from an hour to 55 years: many fail Newton, and some Brent cannot bracket."""
    rng = np.random.default_rng(seed)
    rows = []
    while len(rows) < n:
        kind = "call" if rng.random() < 0.5 else "put"
        spot = 100.0
        strike = float(np.exp(rng.uniform(-4.0, 4.0)) * 100.0)
        t = float(np.exp(rng.uniform(-9.0, 4.0)))
        rate, q = float(rng.choice([0.0, 0.05])), float(rng.choice([0.0, 0.03]))
        forward = spot * math.exp((rate - q) * t)
        dr = math.exp(-rate * t)
        lower = dr * max(theta(kind) * (forward - strike), 0.0)
        upper = spot * math.exp(-q * t) if kind == "call" else strike * dr
        u = rng.random() ** 8
        price = lower + (upper - lower) * (u if rng.random() < 0.5 else 1.0 - u)
        if lower < price < upper:
            rows.append((price, spot, strike, rate, t, kind, q))
    return rows


def theta(kind):
    return 1.0 if kind == "call" else -1.0


def quotes():
    # Shuffled, so that every block mixes Newton, Brent and failing quotes, with and
    # without a dividend yield.
    rows = closed_form_quotes() + edge_quotes()
    order = np.random.default_rng(17).permutation(len(rows))
    return [rows[i] for i in order]


def scalar(row):
    try:
        return quelm.implied_volatility(*row), None
    except ValueError as e:
        return float("nan"), str(e)


def columns(rows):
    cols = list(zip(*rows))
    return [np.array(c) if i != 5 else np.array(c, dtype=str) for i, c in enumerate(cols)]


def bits(values):
    return [struct.pack("<d", float(v)).hex() for v in values]


def test_the_quotes_cover_every_path_of_the_solve():
    # The comparisons below mean something only if the quotes take each path: Newton alone,
    # the exact solver after Newton, Brent after Newton (also for tiny quotes, whose root is
    # rechecked), and Brent finding no bracket.
    internal = pytest.importorskip("_quelm_testing")
    count = {0: 0, 1: 0, 2: 0}
    tiny_brent = failing = 0
    for row in quotes():
        price, spot, strike, rate, t, kind, q = row
        solver = internal.implied_solver(price, spot, strike, rate, t, theta(kind), q)
        count[solver] += 1
        _, error = scalar(row)
        tiny_brent += solver == 2 and price < 1e-3 and error is None
        failing += error == NO_BRACKET
    assert count[0] > 300 and count[1] > 20 and count[2] > 200, count
    assert tiny_brent > 5 and failing > 50, (tiny_brent, failing)


def test_vec_has_the_scalar_bits_on_the_brent_path_here():
    rows = quotes()
    want = [scalar(r)[0] for r in rows]
    got = vec.implied_volatility(*columns(rows), errors="nan")
    assert bits(got) == bits(want)
    # A Brent answer reprices its quote: to Brent's tolerance of 1e-12 in price, or less
    # than a step of 1e-12 in volatility away.
    for row, v in zip(rows, got):
        if not math.isnan(v):
            price, spot, strike, rate, t, kind, q = row
            again = quelm.black_scholes(spot, strike, rate, v, t, kind, q)
            vega = quelm.greeks(spot, strike, rate, v, t, kind, q)["vega"]
            assert abs(again - price) <= 1e-9 * max(price, 1.0) + 2e-12 * vega, row


def test_a_quote_brent_cannot_bracket_is_the_element_error():
    rows = [r for r in quotes() if scalar(r)[1] == NO_BRACKET][:3]
    good = [r for r in closed_form_quotes() if r[2] == 400.0 and scalar(r)[1] is None][:20]
    assert len(rows) == 3 and len(good) == 20
    # Failing quotes at 5, 21 and 22, among quotes Brent solves: the first is reported.
    mixed = good[:5] + rows[:1] + good[5:20] + rows[1:3] + good[:4]
    with pytest.raises(quelm.ElementError) as err:
        vec.implied_volatility(*columns(mixed))
    assert err.value.index == (5,)
    assert err.value.message == NO_BRACKET
    out = vec.implied_volatility(*columns(mixed), errors="nan")
    assert [i for i, v in enumerate(out) if math.isnan(v)] == [5, 21, 22]
    assert bits(out) == bits([scalar(r)[0] for r in mixed])


CHILD = """
import sys
sys.path.insert(0, {tests!r})
import quelm.vec as vec
from test_implied_vol_brent_lanes import quotes, scalar, columns, bits
rows = quotes()
got = bits(vec.implied_volatility(*columns(rows), errors="nan"))
want = bits([scalar(r)[0] for r in rows])
print(vec.simd_width()[0], len(rows), [i for i, (a, b) in enumerate(zip(got, want)) if a != b])
"""


@pytest.mark.parametrize("width", WIDTHS)
def test_vec_has_the_scalar_bits_on_the_brent_path_at_every_width(width):
    code = CHILD.format(tests=os.path.dirname(__file__))
    out = run_python(code, env={"QUELM_SIMD": width, "RAYON_NUM_THREADS": "2"})
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip().endswith("[]"), out.stdout
