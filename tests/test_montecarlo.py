"""European Monte Carlo and the CRR binomial tree at the Python surface."""
from __future__ import annotations

import math
import signal
import subprocess
import sys
import time

import pytest

import quelm
import _quelm_testing as internal

from conftest import run_python, same_output_across_threads


def pair_value(z, s, k, r, v, t, q, kind):
    drift = ((r - q) + (-0.5 * v) * v) * t
    diff = math.sqrt(t) * v
    up, down = s * math.exp(drift + diff * z), s * math.exp(drift - diff * z)
    pay = (lambda x: max(x - k, 0.0)) if kind == "call" else (lambda x: max(k - x, 0.0))
    return 0.5 * (pay(down) + pay(up))


def test_two_paths_equal_the_hand_computed_pair():
    z = internal.stream_draws(42, 0, 1, 3, 0.0)[0]
    v = pair_value(z, 100, 105, 0.05, 0.2, 1.0, 0.01, "call")
    out = quelm.monte_carlo(100, 105, 0.05, 0.2, 1.0, "call", paths=2, seed=42, dividend_yield=0.01)
    assert out == {"price": math.exp(-0.05) * v, "standard_error": 0.0}
    assert quelm.monte_carlo(100, 105, 0.05, 0.2, 1.0, "call", paths=1, seed=42, dividend_yield=0.01) == out


def test_six_paths_equal_hand_computed_mean_and_error():
    vals = [pair_value(internal.stream_draws(7, i, 1, 3, 0.0)[0], 100, 95, 0.03, 0.3, 0.5, 0.0, "put")
            for i in range(3)]
    m = -0.0
    for x in vals:
        m += x
    m /= 3
    s2 = -0.0
    for x in vals:
        s2 += (x - m) ** 2
    se = math.sqrt(s2 / 2 / 3)
    out = quelm.monte_carlo(100, 95, 0.03, 0.3, 0.5, "put", paths=6, seed=7)
    disc = math.exp(-0.03 * 0.5)
    assert out["price"] == pytest.approx(disc * m, rel=1e-15)
    assert out["standard_error"] == pytest.approx(disc * se, rel=1e-13)
    assert quelm.monte_carlo(100, 95, 0.03, 0.3, 0.5, "put", paths=5, seed=7) == out


@pytest.mark.parametrize("s,k,kind,q", [(100, 105, "call", 0.0), (100, 90, "put", 0.02), (80, 100, "call", 0.01)])
def test_within_four_standard_errors_of_closed_form(s, k, kind, q):
    out = quelm.monte_carlo(s, k, 0.05, 0.25, 1.0, kind, paths=200_000, seed=3, dividend_yield=q)
    exact = quelm.black_scholes(s, k, 0.05, 0.25, 1.0, kind, q)
    assert abs(out["price"] - exact) < 4 * out["standard_error"]
    assert list(out) == ["price", "standard_error"]


def test_degenerate_inputs_are_deterministic():
    out = quelm.monte_carlo(100, 100, 0.05, 0.0, 1.0, "call", paths=10, seed=1)
    assert out == {"price": math.exp(-0.05) * (100 * math.exp(0.05) - 100), "standard_error": 0.0}
    assert quelm.monte_carlo(100, 90, 0.05, 0.2, 0.0, "call", paths=3)["standard_error"] == 0.0
    assert quelm.monte_carlo(0, 90, 0.05, 0.2, 1.0, "put", paths=3)["price"] == pytest.approx(90 * math.exp(-0.05))


def test_seed_changes_result_and_repeat_is_identical():
    a = quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, "call", paths=1000, seed=1)
    assert a == quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, "call", paths=1000, seed=1)
    assert a != quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, "call", paths=1000, seed=2)


@pytest.mark.parametrize("args,message", [
    ((0, "x"), None),
    ((100, 0, 0.05, 0.2, 1.0, "call"), "invalid input: strike must be > 0"),
    ((-1, 0, 0.05, 0.2, 1.0, "call"), "invalid input: strike must be > 0"),
    ((-1, 100, 0.05, 0.2, 1.0, "call"), "invalid input: spot must be >= 0"),
    ((100, 100, 0.05, -0.2, 1.0, "call"), "invalid input: volatility must be >= 0"),
    ((100, 100, 0.05, 0.2, -1.0, "call"), "invalid input: time to expiry must be >= 0"),
])
def test_monte_carlo_messages(args, message):
    if message is None:
        return
    with pytest.raises(ValueError) as info:
        quelm.monte_carlo(*args)
    assert str(info.value) == message
    with pytest.raises(ValueError, match="^invalid input: paths must be >= 1$"):
        quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, "call", paths=0)


def test_absurd_sizes_raise_memory_error():
    with pytest.raises(MemoryError):
        quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, "call", paths=2**62)
    with pytest.raises(MemoryError):
        quelm.binomial(100, 100, 0.05, 0.2, 1.0, "call", steps=2**64 - 1)


def test_results_do_not_depend_on_thread_count():
    code = ("import quelm\n"
            "print(repr(quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, 'put', paths=20001, seed=5)))\n")
    same_output_across_threads(code)


def test_forked_child_runs_monte_carlo():
    code = ("import os, quelm\n"
            "quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, 'call', paths=10000)\n"
            "pid = os.fork()\n"
            "if pid == 0:\n"
            "    quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, 'call', paths=10000)\n"
            "    os._exit(0)\n"
            "_, status = os.waitpid(pid, 0)\n"
            "print(os.waitstatus_to_exitcode(status))\n")
    out = run_python(code, timeout=60)
    assert out.returncode == 0 and out.stdout.strip() == "0", out.stderr


@pytest.mark.parametrize("call", [
    "quelm.binomial(100, 100, 0.05, 0.2, 1.0, 'put', style='american', steps=3_000_000)",
    "quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, 'put', paths=6 * 10**8)",
    "quelm.lsm(100, 100, 0.05, 0.2, 1.0, 'put', paths=4 * 10**6, steps=50)",
])
def test_ctrl_c_interrupts_long_calls(call):
    import os
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    code = ("import quelm, sys\n"
            "print('ready', flush=True)\n"
            "try:\n"
            f"    {call}\n"
            "except KeyboardInterrupt:\n"
            "    print('interrupted', flush=True)\n")
    proc = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, env=env)
    assert proc.stdout.readline().strip() == "ready"
    time.sleep(1.0)
    proc.send_signal(signal.SIGINT)
    try:
        out, err = proc.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        pytest.fail("call did not stop on SIGINT")
    assert "interrupted" in out, err


def test_binomial_one_step_and_style_parsing():
    u = math.exp(0.2)
    assert quelm.binomial(100, 100, 0.0, 0.2, 1.0, "call", steps=1) == pytest.approx(0.45 * (100 * u - 100), rel=1e-14)
    assert quelm.binomial(100, 100, 0.05, 0.2, 1.0, "put", style="Euro", steps=50) == \
        quelm.binomial(100, 100, 0.05, 0.2, 1.0, "put", style="e", steps=50)
    with pytest.raises(ValueError) as info:
        quelm.binomial(100, 100, 0.05, 0.2, 1.0, "put", style="bermudan")
    assert str(info.value) == 'style must be \'european\' or \'american\', got "bermudan"'
    with pytest.raises(ValueError, match="^option_type must be"):
        quelm.binomial(100, 100, 0.05, 0.2, 1.0, "x", style="bermudan")


def test_binomial_converges_and_american_bounds():
    for kind in ("call", "put"):
        exact = quelm.black_scholes(100, 95, 0.05, 0.25, 1.0, kind, 0.02)
        tree = quelm.binomial(100, 95, 0.05, 0.25, 1.0, kind, steps=2000, dividend_yield=0.02)
        assert tree == pytest.approx(exact, abs=0.01)
    for s in (80.0, 100.0, 120.0):
        am = quelm.binomial(s, 100, 0.06, 0.3, 1.0, "put", style="american", steps=500)
        eu = quelm.binomial(s, 100, 0.06, 0.3, 1.0, "put", steps=500)
        assert am >= eu and am >= 100 - s
    assert quelm.binomial(100, 110, 0.05, 0.0, 1.0, "put", style="american") == 10.0


@pytest.mark.parametrize("kwargs,message", [
    (dict(strike=0), "invalid input: strike must be > 0"),
    (dict(spot=-1), "invalid input: spot must be >= 0"),
    (dict(vol=-0.1), "invalid input: volatility must be >= 0"),
    (dict(t=-1), "invalid input: time to expiry must be >= 0"),
    (dict(steps=0), "invalid input: steps must be >= 1"),
    (dict(vol=0.001, rate=0.5, steps=2),
     "numerical error: binomial: risk-neutral probability outside [0,1] (check inputs/steps)"),
])
def test_binomial_messages(kwargs, message):
    args = dict(spot=100, strike=100, rate=0.05, vol=0.2, t=1.0, option_type="call")
    args.update(kwargs)
    with pytest.raises(ValueError) as info:
        quelm.binomial(**args)
    assert str(info.value) == message


# Wide trees (2 vol sqrt(t steps) past ~700) leave the range of the power tables; node
# prices must then be formed without huge intermediates. References: Black-Scholes.
@pytest.mark.parametrize("s,k,r,v,t,kind,style,steps,tol", [
    (100, 100, 0.03, 0.3, 30.0, "call", "european", 50000, 2e-3),   # e^735 at the top of u^2 tables
    (100, 100, 0.05, 1.5, 30.0, "put", "european", 20000, 2e-3),    # even u^n overflows: a put still prices
    (100, 100, 0.05, 1.5, 30.0, "put", "american", 20000, None),
])
def test_binomial_wide_trees_stay_finite(s, k, r, v, t, kind, style, steps, tol):
    tree = quelm.binomial(s, k, r, v, t, kind, style, steps=steps)
    euro = quelm.black_scholes(s, k, r, v, t, kind)
    assert math.isfinite(tree) and tree > 1.0, (kind, style, tree)
    if tol is not None:
        assert tree == pytest.approx(euro, abs=tol * euro)
    else:
        assert tree >= euro and tree <= k


def test_binomial_wide_tree_switch_is_seamless_and_overflow_is_named():
    # 2 sqrt(30 n) crosses 700 between these step counts: both sides are the same tree.
    below, above = (quelm.binomial(100, 100, 0.05, 1.0, 30.0, "call", steps=n) for n in (4080, 4090))
    assert above == pytest.approx(below, abs=2e-3)
    am = [quelm.binomial(100, 100, 0.05, 1.0, 30.0, "put", "american", steps=n) for n in (4080, 4090)]
    assert am[1] == pytest.approx(am[0], abs=2e-3)
    # A call whose top node price itself exceeds the double range has no finite tree value.
    with pytest.raises(ValueError, match="^numerical error: binomial: node prices overflow"):
        quelm.binomial(100, 100, 0.05, 1.5, 30.0, "call", steps=20000)


def _best_on_dates(s, k, r, q, t, kind, steps):
    # Independent brute force: discounted payoff on the forward at every tree date.
    best = 0.0
    for j in range(steps + 1):
        tj = j * (t / steps)
        fwd = s * math.exp(tj * (r - q))
        pay = max(fwd - k, 0.0) if kind == "call" else max(k - fwd, 0.0)
        best = max(best, pay * math.exp(-r * tj))
    return best


@pytest.mark.parametrize("s,k,r,q,t,kind,steps", [
    (110, 100, 0.10, 0.08, 20.0, "call", 1000),   # interior optimum, 13.1933
    (110, 100, 0.10, 0.08, 20.0, "call", 7),
    (90, 100, 0.02, 0.06, 10.0, "put", 1000),     # put with the optimum inside
    (90, 100, 0.06, 0.02, 10.0, "put", 50),       # best now
    (100, 90, 0.05, 0.0, 3.0, "call", 3),         # best at expiry
    (100, 100, -0.01, 0.03, 5.0, "put", 400),     # negative rate
    (100, 110, 0.05, 0.05, 2.0, "put", 1),
])
def test_binomial_zero_vol_american_takes_best_tree_date(s, k, r, q, t, kind, steps):
    got = quelm.binomial(s, k, r, 0.0, t, kind, "american", steps=steps, dividend_yield=q)
    assert got == pytest.approx(_best_on_dates(s, k, r, q, t, kind, steps), rel=1e-13, abs=1e-13)
    assert got >= quelm.binomial(s, k, r, 0.0, t, kind, steps=steps, dividend_yield=q)


def test_binomial_zero_vol_american_matches_lsm_grid():
    tree = quelm.binomial(110, 100, 0.10, 0.0, 20.0, "call", "american", steps=50, dividend_yield=0.08)
    grid = quelm.lsm(110, 100, 0.10, 0.0, 20.0, "call", steps=50, dividend_yield=0.08)
    assert tree == pytest.approx(grid["price"], rel=1e-14)
    assert quelm.binomial(110, 100, 0.10, 0.0, 20.0, "call", "american",
                          dividend_yield=0.08) == pytest.approx(13.1933, abs=1e-4)


NAN = math.nan
BASE = dict(spot=100.0, strike=100.0, rate=0.05, vol=0.2, t=1.0)


@pytest.mark.parametrize("field", ["spot", "strike", "rate", "vol", "t", "dividend_yield"])
@pytest.mark.parametrize("engine", ["european", "american", "monte_carlo", "lsm"])
def test_nan_input_gives_nan_price(engine, field):
    args = dict(BASE, option_type="put", dividend_yield=0.0)
    args[field] = NAN
    if engine in ("european", "american"):
        out = quelm.binomial(**args, style=engine, steps=50)
        assert math.isnan(out), (engine, field, out)
        return
    if engine == "monte_carlo":
        out = quelm.monte_carlo(**args, paths=100)
    else:
        out = quelm.lsm(**args, paths=100, steps=5)
    assert math.isnan(out["price"]) and math.isnan(out["standard_error"]), (engine, field, out)


def test_nan_and_infinite_vol_edge_cases():
    # The payoff max(x - K, 0) must not swallow a NaN spot (t = 0 in particular).
    assert math.isnan(quelm.monte_carlo(NAN, 100, 0.05, 0.2, 1.0, "call")["price"])
    assert math.isnan(quelm.binomial(NAN, 100, 0.05, 0.2, 0.0, "call"))
    # An infinite volatility makes no finite price; with nothing random left it does not matter.
    out = quelm.monte_carlo(100, 100, 0.05, math.inf, 1.0, "call")
    assert math.isnan(out["price"]) and math.isnan(out["standard_error"])
    assert quelm.monte_carlo(100, 90, 0.05, math.inf, 0.0, "call") == {"price": 10.0, "standard_error": 0.0}
    # Existing checks still come first.
    with pytest.raises(ValueError, match="^invalid input: paths must be >= 1$"):
        quelm.monte_carlo(NAN, 100, 0.05, 0.2, 1.0, "call", paths=0)
    with pytest.raises(ValueError, match="^invalid input: steps must be >= 1$"):
        quelm.binomial(NAN, 100, 0.05, 0.2, 1.0, "call", steps=0)


# Longstaff-Schwartz: published American put grid against the 2000-step tree.
LSM_GRID = [(s, v, t) for s in (36.0, 40.0, 44.0) for v in (0.2, 0.4) for t in (1.0, 2.0)]


@pytest.mark.parametrize("s,v,t", LSM_GRID)
def test_lsm_american_put_grid(s, v, t):
    out = quelm.lsm(s, 40, 0.06, v, t, "put", paths=100_000, steps=int(50 * t), seed=42)
    tree = quelm.binomial(s, 40, 0.06, v, t, "put", style="american", steps=2000)
    assert abs(out["price"] - tree) < 0.05, (s, v, t, out, tree)
    assert list(out) == ["price", "standard_error"]


def test_lsm_edge_cases():
    one_step = quelm.lsm(100, 100, 0.05, 0.2, 1.0, "put", paths=2000, steps=1, seed=3)
    euro = quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, "put", paths=2000, seed=3)
    assert one_step["price"] == pytest.approx(euro["price"], rel=1e-12)
    deep = quelm.lsm(50, 100, 0.05, 0.2, 1.0, "put", paths=200, steps=10)
    assert deep == {"price": 50.0, "standard_error": 0.0}
    flat = quelm.lsm(100, 110, 0.05, 0.0, 1.0, "put", paths=5, steps=4)
    assert flat == {"price": 10.0, "standard_error": 0.0}
    assert quelm.lsm(100, 100, 0.05, 0.2, 1.0, "put", paths=1, steps=5)["standard_error"] == 0.0
    with pytest.raises(ValueError, match="^invalid input: steps must be >= 1$"):
        quelm.lsm(100, 100, 0.05, 0.2, 1.0, "put", steps=0)
    with pytest.raises(ValueError, match="^invalid input: strike must be > 0$"):
        quelm.lsm(100, 0, 0.05, 0.2, 1.0, "put", steps=0)
    with pytest.raises(ValueError, match="^invalid input: paths must be >= 1$"):
        quelm.lsm(100, 100, 0.05, 0.2, 1.0, "put", paths=0, steps=0)
    with pytest.raises(MemoryError):
        quelm.lsm(100, 100, 0.05, 0.2, 1.0, "put", paths=2**64 - 1)
    with pytest.raises(MemoryError):
        quelm.lsm(100, 100, 0.05, 0.2, 1.0, "put", paths=2**40, steps=2**40)


def test_lsm_independent_of_thread_count():
    code = ("import quelm\n"
            "print(repr(quelm.lsm(40, 40, 0.06, 0.2, 1.0, 'put', paths=5001, steps=20, seed=5)))\n")
    same_output_across_threads(code)


def test_binomial_reused_buffers_give_fresh_prices():
    # trees of growing, shrinking and regrowing size through one set of buffers: a stale
    # node or power left from a bigger tree would move a price
    rows = [[100.0, 400], [90.0, 7], [110.0, 1], [100.0, 400], [95.0, 1000], [105.0, 3]]
    got = internal.binomial_reusing(100.0, 0.05, 0.3, 1.0, rows)
    want = [quelm.binomial(100.0, k, 0.05, 0.3, 1.0, "put", style="american", steps=int(n)) for k, n in rows]
    assert got == want


@pytest.mark.parametrize("pairs", [1, 3, 64, 67, 133])
def test_chunked_pair_values_equal_the_hand_computed_mean_at_every_simd_width(pairs):
    # Pairs are valued in chunks of 64 over SIMD lanes with scalar tails; each count here
    # ends in a different place in a chunk and a lane group, and every width must give the
    # plain per-pair formula's mean.
    code = ("import quelm\n"
            f"print(repr(quelm.monte_carlo(100, 95, 0.03, 0.3, 0.5, 'put', paths={2 * pairs}, seed=11)))\n"
            f"print(repr(quelm.monte_carlo(100, 95, 0.03, 0.3, 0.5, 'call', paths={2 * pairs}, seed=11)))\n")
    outs = {run_python(code, env={"QUELM_SIMD": simd}).stdout for simd in ("scalar", "sse2", "avx2", "avx512")}
    assert len(outs) == 1
    for kind in ("put", "call"):
        vals = [pair_value(internal.stream_draws(11, i, 1, 3, 0.0)[0], 100, 95, 0.03, 0.3, 0.5, 0.0, kind)
                for i in range(pairs)]
        m = -0.0
        for x in vals:
            m += x
        out = quelm.monte_carlo(100, 95, 0.03, 0.3, 0.5, kind, paths=2 * pairs, seed=11)
        assert out["price"] == pytest.approx(math.exp(-0.03 * 0.5) * m / pairs, rel=1e-14)
