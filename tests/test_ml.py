"""Neural pricing engines: network kernels, training pieces, differential_ml, american_ml."""
from __future__ import annotations

import math
import os
import signal
import subprocess
import sys

import numpy as np
import pytest

import _quelm_testing as qt
import quelm
from conftest import run_python, same_output_across_threads

BASE = dict(spot=100.0, strike=100.0, rate=0.05, vol=0.2, maturity=1.0)


def n_params(hidden, n_in=1):
    sizes = [n_in, *hidden, 1]
    return sum(sizes[i + 1] * sizes[i] + sizes[i + 1] for i in range(len(sizes) - 1))


def random_params(hidden, seed):
    """Initial weights plus non-zero biases, so every parameter matters in the checks."""
    p = np.array(qt.ml_init(hidden, seed))
    rng = np.random.default_rng(seed)
    return list(p + rng.normal(0.0, 0.3, p.size))


# ---------------------------------------------------------------- network kernels

def test_init_shapes_scales_and_stream():
    # Weights are scale * consecutive normals of the stream, layer by layer, row by row.
    hidden = [30, 30]
    p = qt.ml_init(hidden, qt.derive_seed(5, 9))
    draws = qt.stream_draws(5, 9, 960, 3, 0.0)
    assert len(p) == n_params(hidden) == 30 + 30 + 900 + 30 + 30 + 1
    w0, b0 = p[0:30], p[30:60]
    w1, b1 = p[60:960], p[960:990]
    w2, b2 = p[990:1020], p[1020:]
    s = math.sqrt(1.0 / 30)
    assert w0 == draws[:30]
    assert w1 == [s * d for d in draws[30:930]]
    assert w2 == [s * d for d in draws[930:960]]
    assert b0 == b1 == [0.0] * 30 and b2 == [0.0]
    assert qt.ml_init(hidden, 77) == qt.ml_init(hidden, 77)
    assert qt.ml_init(hidden, 77) != qt.ml_init(hidden, 78)


def test_empty_hidden_is_one_linear_layer():
    p = qt.ml_init([], 3)
    assert len(p) == 2 and p[1] == 0.0
    for x in (-2.0, 0.0, 5.0):
        out, g = qt.ml_eval([], p, x, False)
        assert g == p[0] and out == p[0] * x


@pytest.mark.parametrize("z, sp, sg", [
    # exact limits: softplus(z) = z and sigma = 1 for large z; both underflow to 0 below about -745
    (800.0, 800.0, 1.0),
    (-800.0, 0.0, 0.0),
    (0.0, math.log(2.0), 0.5),
    (-30.0, math.log1p(math.exp(-30.0)), math.exp(-30.0) / (1 + math.exp(-30.0))),
    (37.0, 37.0 + math.log1p(math.exp(-37.0)), 1.0 / (1.0 + math.exp(-37.0))),
])
def test_softplus_and_logistic_extremes(z, sp, sg):
    got = qt.ml_softplus(z)
    assert got == (sp, sg)
    assert all(math.isfinite(v) for v in got)


def test_output_layer_is_linear():
    # a network can return negative values (no softplus on the last layer)
    outs = [qt.ml_eval([4], qt.ml_init([4], s), 1.0, False)[0] for s in range(20)]
    assert min(outs) < 0 < max(outs)


@pytest.mark.parametrize("hidden", [[], [1], [3], [16], [30, 30], [17, 33, 5], [40, 2]])
def test_blocked_kernels_match_plain_reference_bitwise(hidden):
    for seed in (1, 2):
        p = random_params(hidden, seed)
        for x in (-1.3, 0.0, 0.7):
            assert qt.ml_eval(hidden, p, x, False) == qt.ml_eval(hidden, p, x, True)
            for kind in ("diff", "value"):
                a = qt.ml_sample_grad(hidden, p, x, 0.2, -0.4, 1.7, kind, False)
                b = qt.ml_sample_grad(hidden, p, x, 0.2, -0.4, 1.7, kind, True)
                assert a == b


def _loss(hidden, p, x, y, dn, lam2, kind):
    out, q = qt.ml_eval(hidden, p, x, True)
    loss = 0.5 * (out - y) ** 2
    if kind == "diff":
        loss += 0.5 * lam2 * (q - dn) ** 2
    return loss


@pytest.mark.parametrize("hidden", [[3], [4, 3], [2, 3, 2]])
@pytest.mark.parametrize("kind", ["diff", "value"])
def test_gradients_match_central_differences(hidden, kind):
    # d/dtheta of 0.5 e_v^2 (+ 0.5 lam^2 e_d^2) per parameter, step 1e-6; agreement to ~1e-6 relative
    for seed in (11, 12):
        p = random_params(hidden, seed)
        x, y, dn, lam2 = 0.4, 0.3, -0.5, 2.0
        g = qt.ml_sample_grad(hidden, p, x, y, dn, lam2, kind, False)
        assert len(g) == len(p) == n_params(hidden)
        for i in range(len(p)):
            h = 1e-6 * max(1.0, abs(p[i]))
            up, dw = list(p), list(p)
            up[i] += h
            dw[i] -= h
            fd = (_loss(hidden, up, x, y, dn, lam2, kind) - _loss(hidden, dw, x, y, dn, lam2, kind)) / (2 * h)
            assert g[i] == pytest.approx(fd, rel=1e-5, abs=1e-8), (i, g[i], fd)


def test_adam_steps_against_numpy():
    hidden = [3]
    p = np.array(random_params(hidden, 4))
    g = np.array(random_params(hidden, 5))
    m = np.zeros_like(p)
    v = np.zeros_like(p)
    ref = p.copy()
    for t in range(1, 4):
        m = g * (1 - 0.9) + m * 0.9
        v = (g * (1 - 0.999)) * g + v * 0.999
        ref = ref - ((m / (1 - 0.9 ** t)) * 0.01) / (np.sqrt(v / (1 - 0.999 ** t)) + 1e-8)
    got = np.array(qt.ml_adam(hidden, list(p), list(g), 0.01, 3))
    np.testing.assert_allclose(got, ref, rtol=1e-13, atol=0)


def test_learning_rate_schedule():
    # values of the piecewise-linear schedule with 960 total steps
    assert qt.ml_lr(0, 960) == 1e-8
    assert qt.ml_lr(96, 960) == 0.05000000500000001
    assert qt.ml_lr(192, 960) == 0.1
    assert qt.ml_lr(480, 960) == 0.0325
    assert qt.ml_lr(959, 960) == pytest.approx(2.03125e-8, rel=1e-12)
    assert qt.ml_lr(864, 960) == pytest.approx(1e-6, rel=1e-9)
    assert qt.ml_lr(960, 960) == qt.ml_lr(5000, 960) == pytest.approx(1e-8, rel=1e-12)


@pytest.mark.parametrize("n, epochs, batch, total", [
    (4096, 60, 256, 960), (8192, 20, 512, 320), (100, 7, 100, 7), (1, 3, 1, 3), (300, 2, 256, 4),
    (4000, 20, 256, 320), (2**40, 2**40, 2**36, 2**44), (2**40, 2**63, 2**36, 2**64 - 1),
])
def test_batch_plan(n, epochs, batch, total):
    assert qt.ml_batches(n, epochs) == (batch, total)


# ---------------------------------------------------------------- differential_ml

DIFF_KEYS = ["spot", "option_type", "ml_price", "ml_delta", "bs_price", "bs_delta", "price_abs_err",
             "delta_abs_err", "n_samples", "epochs", "final_loss"]


def test_differential_ml_report_shape_and_baselines():
    r = quelm.differential_ml(100, 95, 0.03, 0.25, 0.5, "PUT", samples=500, epochs=5)
    assert list(r) == DIFF_KEYS
    assert r["option_type"] == "put" and r["spot"] == 100.0
    assert r["n_samples"] == 500 and r["epochs"] == 5
    assert type(r["n_samples"]) is int and type(r["final_loss"]) is float
    assert r["bs_price"] == quelm.black_scholes(100, 95, 0.03, 0.25, 0.5, "put")
    assert r["bs_delta"] == quelm.greeks(100, 95, 0.03, 0.25, 0.5, "put")["delta"]
    assert r["price_abs_err"] == abs(r["ml_price"] - r["bs_price"])
    assert r["delta_abs_err"] == abs(r["ml_delta"] - r["bs_delta"])
    assert r["final_loss"] > 0


def test_differential_ml_deterministic_and_seeded():
    a = quelm.differential_ml(**BASE, samples=600, epochs=4, seed=3)
    assert quelm.differential_ml(**BASE, samples=600, epochs=4, seed=3) == a
    b = quelm.differential_ml(**BASE, samples=600, epochs=4, seed=4)
    for k in ("ml_price", "ml_delta", "final_loss"):
        assert a[k] != b[k]
    for k in ("bs_price", "bs_delta", "n_samples", "epochs"):
        assert a[k] == b[k]


def test_differential_ml_same_across_thread_counts():
    same_output_across_threads(
        "import quelm; print(repr(quelm.differential_ml(100, 100, 0.05, 0.2, 1.0, samples=3000, epochs=3)))")


# Seed-to-seed spread at the defaults (seeds 1..12, ATM, r=5%, vol=20%, T=1): the call's price error has
# mean 0.37 (max 0.75, sd of the signed error 0.37), its delta error mean 0.018 (max 0.045); the put's price
# error mean 0.12 (max 0.28), delta error mean 0.009 (max 0.022). Bands: about three spreads per seed,
# and well inside that for the average of three seeds.
@pytest.mark.parametrize("ot, price_band, delta_band, mean_band", [
    ("call", 1.2, 0.07, 0.7),
    ("put", 0.5, 0.04, 0.3),
])
def test_differential_ml_accuracy(ot, price_band, delta_band, mean_band):
    errs = []
    for seed in (1, 2, 3):
        r = quelm.differential_ml(**BASE, option_type=ot, seed=seed)
        assert r["price_abs_err"] < price_band
        assert r["delta_abs_err"] < delta_band
        errs.append(r["price_abs_err"])
    assert sum(errs) / len(errs) < mean_band


def test_differential_ml_degenerate_inputs():
    # zero spread / zero vol still spread the starting spots (width 1e-6) and train finitely
    for kw in (dict(spread=0.0), dict(vol=0.0)):
        r = quelm.differential_ml(**{**BASE, **kw}, samples=300, epochs=2)
        assert all(math.isfinite(r[k]) for k in ("ml_price", "ml_delta", "final_loss"))
    # all payoffs zero: y_std floors at 1e-12, the surrogate price is 0 to ~1e-12
    r = quelm.differential_ml(100, 1000, 0.05, 0.05, 0.5, samples=300, epochs=2)
    assert abs(r["ml_price"]) < 1e-9 and r["bs_price"] < 1e-12
    # a single slice of 100 samples per epoch
    assert quelm.differential_ml(**BASE, samples=100, epochs=1)["n_samples"] == 100


@pytest.mark.parametrize("kwargs, message", [
    (dict(option_type="straddle", hidden=[], epochs=0), "option_type must be 'call' or 'put', got \"straddle\""),
    (dict(hidden=[], epochs=0, samples=0), "invalid input: hidden layers must be non-empty"),
    (dict(epochs=0, samples=0), "invalid input: epochs must be >= 1"),
    (dict(samples=0, spot=-1.0), "invalid input: n_samples must be >= 1"),
    (dict(spot=0.0, maturity=0.0), "invalid input: spot and strike must be > 0"),
    (dict(strike=-5.0), "invalid input: spot and strike must be > 0"),
    (dict(maturity=0.0, vol=-1.0), "invalid input: maturity must be > 0"),
    (dict(vol=-0.1), "invalid input: volatility must be >= 0"),
])
def test_differential_ml_errors_in_order(kwargs, message):
    with pytest.raises(ValueError) as e:
        quelm.differential_ml(**{**BASE, **kwargs})
    assert str(e.value) == message


def test_differential_ml_argument_conversion():
    with pytest.raises(TypeError, match="^argument 'hidden': "):
        quelm.differential_ml(**BASE, hidden="30")
    with pytest.raises(TypeError, match="^argument 'samples': "):
        quelm.differential_ml(**BASE, samples=1.5)
    with pytest.raises(OverflowError):
        quelm.differential_ml(**BASE, hidden=[-1])
    with pytest.raises(MemoryError):
        quelm.differential_ml(**BASE, hidden=[2**62, 2**62], samples=10, epochs=1)


def test_docstrings():
    assert quelm.differential_ml.__doc__.split("\n") == [
        "Train a differential-ML surrogate for a European option and return its price",
        "and delta alongside the Black-Scholes baseline. Training is deterministic given",
        "`seed`. `hidden` defaults to two layers of 30 units.",
    ]


INTERRUPT_CODE = """
import sys, quelm
print("ready", flush=True)
try:
    quelm.{call}
except KeyboardInterrupt:
    print("interrupted", flush=True)
    sys.exit(0)
print("finished", flush=True)
"""


@pytest.mark.parametrize("call", [
    "differential_ml(100, 100, 0.05, 0.2, 1.0, epochs=10**9)",
    "american_ml(100, 100, 0.05, 0.2, 1.0, method='deep-lsm', epochs=10**9)",
    "american_ml(100, 100, 0.05, 0.2, 1.0, method='dos', epochs=10**9)",
])
def test_ctrl_c_interrupts_training(call):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    proc = subprocess.Popen([sys.executable, "-c", INTERRUPT_CODE.format(call=call)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=env)
    assert proc.stdout.readline().strip() == "ready"
    try:
        proc.wait(timeout=0.5)  # not expected to finish: it is training for ever
    except subprocess.TimeoutExpired:
        pass
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=30)
    assert out.strip() == "interrupted", err


# ---------------------------------------------------------------- american_ml

AM_KEYS = ["method", "option_type", "spot", "strike", "ml_price", "standard_error", "binomial_price", "abs_err",
           "paths", "steps", "epochs"]
SMALL = dict(paths=1000, steps=8, epochs=3)


@pytest.mark.parametrize("method, reported", [("deep-lsm", "deep-lsm"), ("deep_lsm", "deep-lsm"), ("dos", "dos")])
def test_american_ml_report(method, reported):
    r = quelm.american_ml(**BASE, method=method, **SMALL)
    assert list(r) == AM_KEYS
    assert r["method"] == reported and r["option_type"] == "put"
    assert (r["paths"], r["steps"], r["epochs"]) == (1000, 8, 3)
    assert r["binomial_price"] == quelm.binomial(100, 100, 0.05, 0.2, 1.0, "put", "american", 2000)
    assert r["abs_err"] == abs(r["ml_price"] - r["binomial_price"])
    assert r["standard_error"] > 0


def test_american_ml_default_method_is_deep_lsm():
    assert quelm.american_ml(**BASE, **SMALL) == quelm.american_ml(**BASE, method="deep_lsm", **SMALL)


@pytest.mark.parametrize("method", ["deep-lsm", "dos"])
def test_american_ml_deterministic_and_seeded(method):
    a = quelm.american_ml(**BASE, method=method, **SMALL, seed=5)
    assert quelm.american_ml(**BASE, method=method, **SMALL, seed=5) == a
    b = quelm.american_ml(**BASE, method=method, **SMALL, seed=6)
    assert a["ml_price"] != b["ml_price"] and a["standard_error"] != b["standard_error"]
    assert a["binomial_price"] == b["binomial_price"]


def test_american_ml_same_across_thread_counts():
    same_output_across_threads(
        "import quelm\n"
        "for m in ('deep-lsm', 'dos'):\n"
        "    print(repr(quelm.american_ml(100, 100, 0.05, 0.2, 1.0, method=m, paths=3001, steps=6, epochs=2)))")


def test_neural_engines_same_at_every_simd_width():
    # A layer's activations, matrix products and gradient loops run a vector's lanes at a
    # time, the rest one by one: widths 7 and 16 leave different tails at each width, and
    # the results may not move.
    code = ("import quelm\n"
            "for m in ('deep-lsm', 'dos'):\n"
            "    for h in ([7], [16], [5, 3]):\n"
            "        print(repr(quelm.american_ml(100, 100, 0.05, 0.2, 1.0, method=m, paths=2001, steps=5,"
            " epochs=2, hidden=h)))\n"
            "print(repr(quelm.differential_ml(100, 100, 0.05, 0.2, 1.0, samples=1024, epochs=2, hidden=[9, 6])))")
    outs = set()
    for simd in ("scalar", "sse2", "avx2", "avx512"):
        out = run_python(code, env={"QUELM_SIMD": simd})
        assert out.returncode == 0, out.stderr
        outs.add(out.stdout)
    assert len(outs) == 1, outs


@pytest.mark.parametrize("method", ["deep-lsm", "dos"])
def test_american_ml_degenerate_market(method):
    # zero vol: best of immediate and forward exercise on the grid, no simulation, standard error 0
    r = quelm.american_ml(100, 110, 0.05, 0.0, 1.0, method=method, paths=10**12, steps=4)
    fwd = [100 * math.exp(0.05 * i / 4) for i in range(1, 5)]
    best = max([10.0] + [max(110 - f, 0) * math.exp(-0.05 * i / 4) for i, f in enumerate(fwd, 1)])
    assert r["ml_price"] == pytest.approx(best, rel=1e-15) and r["standard_error"] == 0.0
    assert r["binomial_price"] == quelm.binomial(100, 110, 0.05, 0.0, 1.0, "put", "american", 2000)
    for kw in (dict(maturity=0.0), dict(spot=0.0)):
        r = quelm.american_ml(**{**BASE, **kw}, method=method, paths=10**12)
        assert r["standard_error"] == 0.0
    assert quelm.american_ml(**{**BASE, "spot": 0.0}, method=method)["ml_price"] == 100.0


@pytest.mark.parametrize("method", ["deep-lsm", "dos"])
def test_american_ml_small_grids(method):
    # steps = 1 trains nothing: discounted mean of maturity payoffs (or immediate exercise)
    r = quelm.american_ml(**BASE, method=method, paths=2000, steps=1)
    eu = quelm.black_scholes(100, 100, 0.05, 0.2, 1.0, "put")
    assert abs(r["ml_price"] - eu) < 4 * r["standard_error"]
    # one path is one antithetic pair: one pair value, standard error 0
    assert quelm.american_ml(**BASE, method=method, paths=1, steps=3)["standard_error"] == 0.0
    # deep in the money: immediate exercise wins
    r = quelm.american_ml(40, 100, 0.05, 0.2, 1.0, method=method, **SMALL)
    assert r["ml_price"] == 60.0 and r["standard_error"] == 0.0


def test_deep_lsm_skips_dates_with_few_itm_paths():
    # with 64 units no date has more than 64 in-the-money paths out of 40: plain European-style cash flows,
    # the same as with a single date of exercise on the grid
    a = quelm.american_ml(**BASE, paths=40, steps=5, hidden=[64])
    b = quelm.american_ml(**BASE, paths=40, steps=5, hidden=[64], seed=11, epochs=7)
    assert a["ml_price"] == b["ml_price"]  # no network trained, so epochs do not matter


# Seed-to-seed spread at the defaults (seeds 11..16, ATM put r=5% vol=20% T=1 vs the 2000-step tree 6.0900;
# call with dividend yield 3%, tree 8.6518): deep-lsm put error mean -0.021, sd 0.039, max |err| 0.064;
# deep-lsm call mean +0.005, sd 0.109; dos put mean -0.266, sd 0.098, max |err| 0.39 (a learned policy on
# fresh paths sits below the tree); dos call mean -0.054, sd 0.125. Bands: a few spreads per seed.
@pytest.mark.parametrize("method, lo, hi, mean_lo, mean_hi", [
    ("deep-lsm", -0.2, 0.15, -0.12, 0.08),
    ("dos", -0.7, 0.1, -0.5, -0.05),
])
def test_american_ml_accuracy(method, lo, hi, mean_lo, mean_hi):
    errs = []
    for seed in (11, 12):
        r = quelm.american_ml(**BASE, method=method, seed=seed)
        err = r["ml_price"] - r["binomial_price"]
        assert lo < err < hi, err
        errs.append(err)
    assert mean_lo < sum(errs) / len(errs) < mean_hi


@pytest.mark.parametrize("kwargs, exc, message", [
    (dict(option_type="x", method="nope", hidden=[]), ValueError, "option_type must be 'call' or 'put', got \"x\""),
    (dict(method="DOS", strike=-1.0, hidden=[]), ValueError,
     'unknown method "DOS" (expected "deep-lsm" or "dos")'),
    (dict(method="Deep-LSM"), ValueError, 'unknown method "Deep-LSM" (expected "deep-lsm" or "dos")'),
    (dict(method='a"b\\\t\n'), ValueError, 'unknown method "a\\"b\\\\\\t\\n" (expected "deep-lsm" or "dos")'),
    (dict(hidden=[], epochs=0, strike=-1.0), ValueError, "invalid input: hidden layers must be non-empty"),
    (dict(method="dos", hidden=[], epochs=0), ValueError, "invalid input: hidden layers must be non-empty"),
    (dict(epochs=0, strike=-1.0), ValueError, "invalid input: epochs must be >= 1"),
    (dict(method="dos", epochs=0), ValueError, "invalid input: epochs must be >= 1"),
    (dict(strike=0.0, spot=-1.0), ValueError, "invalid input: strike must be > 0"),
    (dict(spot=-1.0, vol=-1.0), ValueError, "invalid input: spot must be >= 0"),
    (dict(vol=-0.1, maturity=-1.0), ValueError, "invalid input: volatility must be >= 0"),
    (dict(maturity=-1.0, paths=0), ValueError, "invalid input: time to expiry must be >= 0"),
    (dict(paths=0, steps=0), ValueError, "invalid input: paths must be >= 1"),
    (dict(method="dos", steps=0), ValueError, "invalid input: steps must be >= 1"),
])
def test_american_ml_errors_in_order(kwargs, exc, message):
    with pytest.raises(exc) as e:
        quelm.american_ml(**{**BASE, **kwargs})
    assert str(e.value) == message


@pytest.mark.parametrize("hidden", [[0], [3, 0, 3], [16, 0], [0, 0]])
@pytest.mark.parametrize("engine", ["differential", "deep-lsm", "dos"])
def test_zero_width_hidden_layer_is_rejected(engine, hidden):
    # A zero-width layer cuts the input off: the network would be a constant.
    with pytest.raises(ValueError) as e:
        if engine == "differential":
            quelm.differential_ml(100, 100, 0.05, 0.2, 1.0, hidden=hidden, epochs=0, samples=0)
        else:
            quelm.american_ml(**{**BASE, "strike": -1.0}, method=engine, hidden=hidden, epochs=0)
    # Checked with the hidden list: before epochs and the market inputs.
    assert str(e.value) == "invalid input: hidden layer widths must be >= 1"


@pytest.mark.parametrize("field", ["spot", "strike", "rate", "vol", "maturity", "dividend_yield"])
@pytest.mark.parametrize("method", ["deep-lsm", "dos"])
def test_american_ml_nan_input_gives_nan_price_and_baseline(method, field):
    args = {**BASE, "dividend_yield": 0.0}
    args[field] = math.nan
    r = quelm.american_ml(**args, method=method, paths=64, steps=4, epochs=1)
    for key in ("ml_price", "standard_error", "binomial_price", "abs_err"):
        assert math.isnan(r[key]), (field, key, r)


def test_american_ml_zero_vol_baseline_uses_the_tree_dates():
    # The 2000-step tree at zero vol takes the best date, like the engines' own grid.
    r = quelm.american_ml(110, 100, 0.10, 0.0, 20.0, option_type="call", steps=2000, dividend_yield=0.08)
    assert r["binomial_price"] == pytest.approx(13.1933, abs=1e-4)
    assert r["ml_price"] == pytest.approx(r["binomial_price"], rel=1e-13)


def test_american_ml_argument_conversion():
    with pytest.raises(TypeError, match="^argument 'hidden': "):
        quelm.american_ml(**BASE, hidden="16")
    with pytest.raises(TypeError, match="^argument 'method': "):
        quelm.american_ml(**BASE, method=1)
    with pytest.raises(OverflowError):
        quelm.american_ml(**BASE, paths=-1)
    with pytest.raises(MemoryError):
        quelm.american_ml(**BASE, paths=2**62, steps=2**20)


def test_american_ml_docstring():
    assert quelm.american_ml.__doc__.split("\n") == [
        "Price an American option with a neural engine and return its estimate",
        "alongside the binomial (CRR) baseline. Training is deterministic given `seed`.",
        '`method` is `"deep-lsm"` (the default) or `"dos"`; `hidden` defaults to one layer of 16 units.',
    ]


@pytest.mark.parametrize("ot", ["call", "put"])
def test_differential_samples_against_numpy(ot):
    # sample i: z1, z2 from stream (seed, i); log-normal cloud of starts, pathwise payoff and delta labels
    S, K, r, v, T, spread, seed = 100.0, 105.0, 0.03, 0.25, 0.75, 2.0, 9
    rows = qt.ml_samples(S, K, r, v, T, ot, 64, seed, spread)
    width = spread * v * math.sqrt(T)
    df = math.exp(-r * T)
    for i, (x, y, d) in enumerate(rows):
        z1, z2 = qt.stream_draws(seed, i, 2, 3, 0.0)
        ex = S * math.exp(width * z1 - 0.5 * width * width)
        st = ex * math.exp(math.sqrt(T) * v * z2 + (r - 0.5 * v * v) * T)
        pay = max(st - K, 0.0) if ot == "call" else max(K - st, 0.0)
        sign = 1.0 if ot == "call" else -1.0
        itm = st >= K if ot == "call" else st < K
        assert x == pytest.approx(ex, rel=1e-14)
        assert y == pytest.approx(df * pay, rel=1e-12, abs=1e-12)
        assert d == pytest.approx(sign * st / ex * df if itm else 0.0, rel=1e-12)


def test_american_paths_against_numpy():
    # pair k from stream (seed, k): up path with +z, down path with -z, both from the spot itself
    S, r, v, q, T, steps, seed = 90.0, 0.04, 0.3, 0.01, 1.5, 6, 3
    paths = qt.ml_paths(S, r, v, q, T, 5, steps, seed)
    assert len(paths) == 6 and all(len(p) == steps + 1 for p in paths)
    dt = T / steps
    for k in range(3):
        z = np.array(qt.stream_draws(seed, k, steps, 3, 0.0))
        drift = (r - q - 0.5 * v * v) * dt
        up = S * np.exp(np.cumsum(drift + z * math.sqrt(dt) * v))
        down = S * np.exp(np.cumsum(drift - z * math.sqrt(dt) * v))
        assert paths[2 * k][0] == paths[2 * k + 1][0] == S
        np.testing.assert_allclose(paths[2 * k][1:], up, rtol=1e-12)
        np.testing.assert_allclose(paths[2 * k + 1][1:], down, rtol=1e-12)


@pytest.mark.parametrize("q", [0.0, 0.04])
@pytest.mark.parametrize("ot", ["call", "put"])
def test_differential_samples_carry_the_dividend_yield(ot, q):
    # the terminal spot drifts at r - q and is discounted at r: with a cloud of width ~0 the
    # mean label is a Monte Carlo price of the option, which must sit on the closed form with q
    S, K, r, v, T, n = 100.0, 100.0, 0.05, 0.2, 1.0, 40000
    rows = np.array(qt.ml_samples(S, K, r, v, T, ot, n, 5, 0.0, q))
    y = rows[:, 1]
    se = y.std(ddof=1) / math.sqrt(n)
    bs = quelm.black_scholes(S, K, r, v, T, ot, dividend_yield=q)
    assert abs(y.mean() - bs) < 4.0 * se
    other = quelm.black_scholes(S, K, r, v, T, ot, dividend_yield=0.04 - q)
    assert abs(y.mean() - other) > 4.0 * se


def _best_forward_exercise(S, K, r, q, T, steps, ot):
    pay = (lambda x: max(x - K, 0.0)) if ot == "call" else (lambda x: max(K - x, 0.0))
    best = pay(S)
    for j in range(1, steps + 1):
        tj = j * (T / steps)
        best = max(best, pay(S * math.exp(tj * (r - q))) * math.exp(tj * -r))
    return best


@pytest.mark.parametrize("ot", ["call", "put"])
@pytest.mark.parametrize(
    "S, v, T",
    [(100.0, 0.0, 1.0), (0.0, 0.3, 1.0), (100.0, 0.3, 0.0), (80.0, 0.0, 2.0)],
    ids=["no-vol", "no-spot", "no-time", "no-vol-itm"],
)
def test_american_engines_share_the_answer_where_nothing_is_random(S, v, T, ot):
    # the classical and both neural engines reach the same forward-exercise value, bit for
    # bit, with no standard error; it is the best of exercising now or on the forward at a date
    K, r, q, steps = 90.0, 0.06, 0.02, 7
    lsm = quelm.lsm(S, K, r, v, T, ot, paths=10, steps=steps, dividend_yield=q)
    want = _best_forward_exercise(S, K, r, q, T, steps, ot)
    assert lsm["standard_error"] == 0.0
    assert lsm["price"] == pytest.approx(want, rel=1e-14, abs=1e-14)
    for method in ("deep-lsm", "dos"):
        ml = quelm.american_ml(S, K, r, v, T, ot, method=method, paths=10, steps=steps, epochs=1,
                               dividend_yield=q)
        assert (ml["ml_price"], ml["standard_error"]) == (lsm["price"], 0.0)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"strike": 0.0}, "strike must be > 0"),
        ({"spot": -1.0}, "spot must be >= 0"),
        ({"vol": -0.1}, "volatility must be >= 0"),
        ({"t": -1.0}, "time to expiry must be >= 0"),
        ({"paths": 0}, "paths must be >= 1"),
        ({"steps": 0}, "steps must be >= 1"),
        ({"strike": 0.0, "steps": 0}, "strike must be > 0"),
    ],
)
def test_american_engines_check_inputs_alike(kwargs, message):
    # one set of checks, in one order, for the classical and the neural engines
    args = {"spot": 100.0, "strike": 100.0, "rate": 0.05, "vol": 0.2, "t": 1.0, "paths": 8, "steps": 4} | kwargs
    with pytest.raises(ValueError, match=message):
        quelm.lsm(option_type="put", **args)
    t = args.pop("t")
    for method in ("deep-lsm", "dos"):
        with pytest.raises(ValueError, match=message):
            quelm.american_ml(maturity=t, method=method, epochs=1, **args)
