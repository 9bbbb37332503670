"""Requests larger than the machine, bounded jump work, and fork() in the middle of a pooled call.

Memory cases run in a child interpreter under a watchdog: a regression would zero-fill
terabytes until the kernel ends the process, which must not take the test run with it.
"""
from __future__ import annotations

import json
import math
import re

import pytest

import quelm
from conftest import run_python

SIZE = r"[0-9.e+]+ [GTPE]B"

# (call, what the message names). Sizes are far beyond any machine, yet fit an address.
TOO_LARGE = [
    ("quelm.binomial(100, 100, 0.05, 0.2, 1.0, 'call', steps=10**11)", "the binomial tree"),
    ("quelm.covariance_matrix([[0.01]] * 10**5)", "the covariance matrix"),
    ("quelm.differential_ml(100, 100, 0.05, 0.2, 1.0, samples=10**11, epochs=1)",
     "the training samples and network"),
    ("quelm.differential_ml(100, 100, 0.05, 0.2, 1.0, hidden=[1] * 10**6, samples=4096, epochs=1)",
     "the training samples and network"),
    ("quelm.differential_ml(100, 100, 0.05, 0.2, 1.0, hidden=[2**62, 2**62], samples=10, epochs=1)",
     "the training samples and network"),
    ("quelm.simulate_process('gbm', paths=2**40)", "the simulated terminal values"),
    ("quelm.FixedRateBond.regular(100, 0.05, 2, 2**32 - 1)", "the bond's cash flows"),
    ("quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, 'call', paths=2**62)", "the Monte Carlo pair values"),
    ("quelm.lsm(100, 100, 0.05, 0.2, 1.0, 'put', paths=10**8, steps=10**4)", "the Longstaff-Schwartz paths"),
    ("quelm.asian_price(100, 100, 0.05, 0.2, 1.0, 'call', average='arithmetic', paths=10**8, n_fixings=10**4)",
     "the Asian option's paths"),
    ("quelm.american_ml(100, 100, 0.05, 0.2, 1.0, paths=10**8, steps=10**4)", "the American paths and network"),
    ("quelm.american_ml(100, 100, 0.05, 0.2, 1.0, method='dos', hidden=[10**6, 10**6])",
     "the American paths and network"),
]

DRIVER = """
import json, re, sys
import quelm
out = []
for call in CALLS:
    try:
        eval(call)
        out.append(["returned", ""])
    except MemoryError as e:
        out.append(["MemoryError", str(e)])
    except Exception as e:
        out.append([type(e).__name__, str(e)])
print(json.dumps(out))
"""


def run_calls(calls, prelude=""):
    code = prelude + DRIVER.replace("CALLS", repr(calls))
    proc = run_python(code, timeout=60)
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout.strip().splitlines()[-1])


def test_requests_larger_than_the_machine_raise_memory_error_naming_them():
    got = run_calls([call for call, _ in TOO_LARGE])
    for (call, what), (kind, message) in zip(TOO_LARGE, got):
        assert kind == "MemoryError", (call, kind, message)
        assert re.fullmatch(f"cannot allocate {SIZE} for {re.escape(what)}: the process can use at most {SIZE}",
                            message), (call, message)


RLIMIT = """
import resource
resource.setrlimit(resource.RLIMIT_AS, (3 * 10**9, resource.RLIM_INFINITY))
"""


def test_an_address_space_limit_bounds_what_a_call_may_use():
    # 4.8 GB of tree under a 3 GB limit; 120 MB of terminal values fit; bad input is still
    # judged first.
    got = run_calls(["quelm.binomial(100, 100, 0.05, 0.2, 1.0, 'call', steps=2 * 10**8)",
                     "quelm.simulate_process('gbm', steps=1, paths=10**7)",
                     "quelm.binomial(100, -1, 0.05, 0.2, 1.0, 'call', steps=10**11)"], prelude=RLIMIT)
    assert got[0] == ["MemoryError",
                      "cannot allocate 4.8 GB for the binomial tree: the process can use at most 3.0 GB"]
    assert got[1][0] == "returned"
    assert got[2] == ["ValueError", "invalid input: strike must be > 0"]


@pytest.mark.parametrize("lam, jump_std", [
    (1e7, 1e-4),    # 1e5 jumps a step: their sum drawn in one go
    (1e12, 1e-6),   # 1e10 a step: the count from its normal limit too
])
def test_huge_jump_intensity_is_bounded_work_with_the_right_moments(lam, jump_std):
    r = quelm.simulate_process("merton", t=1.0, steps=50, paths=20000, seed=3, lambda_=lam, jump_mean=0.0,
                               jump_std=jump_std)
    # E[S_T] = x0 e^(mu t) e^((e^(s^2/2) - 1) lambda t) whichever way the jumps are drawn.
    expected = 100.0 * math.exp(0.05) * math.exp(math.expm1(0.5 * jump_std**2) * lam)
    assert abs(r["sample_mean"] - expected) < 4.0 * r["mean_std_error"], r
    # The jump sums' spread too: log S_T has variance sigma^2 t + lambda t s^2.
    assert r["sample_std"] == pytest.approx(expected * math.sqrt(math.expm1(0.04 + lam * jump_std**2)), rel=0.1)


def test_an_endless_intensity_still_returns():
    r = quelm.simulate_process("merton", steps=10, paths=1000, lambda_=1e300)
    assert r["paths"] == 1000 and not math.isnan(r["sample_mean"])


FORK = """
import os, signal
import quelm
args = (100, 100, 0.05, 0.2, 1.0, "call")
ref = quelm.monte_carlo(*args, paths=10**7)
small = quelm.monte_carlo(*args, paths=10001)
forked = []
signal.signal(signal.SIGALRM, lambda s, f: forked.append(os.fork()))
signal.setitimer(signal.ITIMER_REAL, 0.05)
r = quelm.monte_carlo(*args, paths=10**7)
if forked == [0]:
    # The child carries on with the call it was forked in, then uses a pool of its own.
    os._exit(0 if r == ref and quelm.monte_carlo(*args, paths=10001) == small else 3)
_, status = os.waitpid(forked[0], 0)
print(os.waitstatus_to_exitcode(status), r == ref)
"""


def test_fork_from_a_signal_handler_during_a_pooled_call():
    proc = run_python(FORK, env={"RAYON_NUM_THREADS": "4"}, timeout=60)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split() == ["0", "True"]


# --- memory the process can still get, claimed by computations in flight ------------------

TWO_TREES = """
import json, os, resource, signal, threading, time
import quelm
MB = 10**6
if LIMIT_KIND == "rlimit":
    with open("/proc/self/statm") as f:
        used = int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
    resource.setrlimit(resource.RLIMIT_AS, (used + 800 * MB, resource.RLIM_INFINITY))
steps = 2 * 10**7                      # three tables of 160 MB: 480 MB a tree
out = {}

def second():
    time.sleep(0.5)                    # the first tree has claimed its memory by now
    try:
        quelm.binomial(100, 100, 0.05, 0.2, 1.0, "call", steps=steps)
        out["second"] = ["returned", ""]
    except MemoryError as e:
        out["second"] = ["MemoryError", str(e)]
    os.kill(os.getpid(), signal.SIGINT)   # stops the first tree, which would run for days

worker = threading.Thread(target=second)
worker.start()
try:
    quelm.binomial(100, 100, 0.05, 0.2, 1.0, "put", style="american", steps=steps)
    out["first"] = "returned"
except KeyboardInterrupt:
    out["first"] = "interrupted"
worker.join()
# The first tree's claim ended with it: as much again fits now.
try:
    quelm.simulate_process("gbm", steps=1, paths=3 * 10**7)   # 360 MB of terminal values
    out["after"] = "returned"
except MemoryError as e:
    out["after"] = str(e)
print(json.dumps(out))
"""


@pytest.mark.parametrize("kind", ["rlimit", "QUELM_MEMORY_LIMIT"])
def test_two_trees_at_once_cannot_both_count_the_same_free_memory(kind):
    # Under an 800 MB allowance one 480 MB tree fits and two do not: the second is refused
    # up front, naming what it asked for, what is left and what the first one holds.
    env = {"QUELM_MEMORY_LIMIT": "800MB"} if kind != "rlimit" else {}
    code = f"LIMIT_KIND = {kind!r}\n" + TWO_TREES
    if kind != "rlimit":
        # The allowance counts the interpreter's own resident memory too.
        probe = run_python("import quelm, os; print(int(open('/proc/self/statm').read().split()[1]) "
                           "* os.sysconf('SC_PAGE_SIZE'))")
        env["QUELM_MEMORY_LIMIT"] = str(int(probe.stdout) + 800 * 10**6)
    proc = run_python(code, env=env, timeout=120)
    assert proc.returncode == 0, proc.stderr
    out = json.loads(proc.stdout.strip().splitlines()[-1])
    assert out["first"] == "interrupted" and out["after"] == "returned", out
    kind_, message = out["second"]
    assert kind_ == "MemoryError", out
    assert re.fullmatch(f"cannot allocate 0.5 GB for the binomial tree: only {SIZE} is available beside the "
                        f"0.5 GB claimed by computations in progress", message), message


AVAILABLE = """
import json
import numpy as np
import quelm
out = []

def attempt(call):
    try:
        call()
        out.append(["returned", ""])
    except MemoryError as e:
        out.append(["MemoryError", str(e)])

held = b"x" * (400 * 10**6)            # 400 MB, touched: resident
attempt(lambda: quelm.simulate_process("gbm", steps=1, paths=2 * 10**7))   # 240 MB of terminal values
del held
panel = np.asfortranarray(np.ones((2000, 10**4)))    # 160 MB whose rows are not contiguous
held = b"x" * (350 * 10**6)
attempt(lambda: quelm.covariance_matrix(panel))    # each row would be gathered into a copy
print(json.dumps(out))
"""


def test_checks_count_what_the_process_already_holds():
    # 600 MB allowed beyond the interpreter: 400 MB held leaves 200 MB, too little for 240 MB
    # of terminal values; a column-ordered panel is copied row by row only if the copy fits.
    probe = run_python("import quelm, numpy, os; print(int(open('/proc/self/statm').read().split()[1]) "
                       "* os.sysconf('SC_PAGE_SIZE'))")
    base = int(probe.stdout)
    proc = run_python(AVAILABLE, env={"QUELM_MEMORY_LIMIT": str(base + 600 * 10**6)}, timeout=120)
    assert proc.returncode == 0, proc.stderr
    got = json.loads(proc.stdout.strip().splitlines()[-1])
    assert got[0][0] == "MemoryError" and re.fullmatch(
        f"cannot allocate 0.2 GB for the simulated terminal values: only {SIZE} is available", got[0][1]), got
    assert got[1][0] == "MemoryError" and got[1][1].startswith("cannot allocate 0.2 GB for a copy of the matrix's "
                                                               "rows: only "), got


@pytest.mark.parametrize("limit, usable", [("2GB", "2.0 GB"), ("1.5 GiB", "1.6 GB"), ("500000000", "0.5 GB")])
def test_a_configured_limit_bounds_every_request(limit, usable):
    call = "quelm.binomial(100, 100, 0.05, 0.2, 1.0, 'call', steps=2 * 10**8)"
    proc = run_python(DRIVER.replace("CALLS", repr([call])), env={"QUELM_MEMORY_LIMIT": limit}, timeout=60)
    assert proc.returncode == 0, proc.stderr
    assert json.loads(proc.stdout.strip().splitlines()[-1]) == [
        ["MemoryError", f"cannot allocate 4.8 GB for the binomial tree: the process can use at most {usable}"]]


# --- curves from long strips, and simulation work -------------------------------------------

def strip(n):
    return f"q = [quelm.Ois(f'{{w}}W', 0.025 + 1e-5 * (w % 7)) for w in range(1, {n} + 1)]\n"

VMSIZE = """
import resource
def vm_bytes():
    for line in open('/proc/self/status'):
        if line.startswith('VmSize:'):
            return int(line.split()[1]) * 1024
resource.setrlimit(resource.RLIMIT_AS, (vm_bytes() + 300 * 10**6, resource.RLIM_INFINITY))
"""


@pytest.mark.parametrize("interp", ["natural-cubic", "monotone-convex"])
def test_a_global_bootstrap_of_a_long_strip_needs_memory_linear_in_its_flows(interp):
    # 4,000 weekly OIS quotes: an n x n Jacobian, spline-weight matrix or query-by-pillar
    # gradient would each take 128 MB or more; the build and its risk fit in 300 MB beyond
    # what the interpreter holds (a solve by the Jacobian's products, not a dense LU).
    calls = [f"quelm.YieldCurve.bootstrap('2025-01-15', q, interp={interp!r}).risk(q[2000])"]
    got = run_calls(calls, prelude="import quelm\n" + strip(4000) + VMSIZE)
    assert got == [["returned", ""]], got


def test_a_dense_bootstrap_jacobian_is_checked_before_it_is_allocated():
    # A projection curve on a bootstrapped discount curve keeps a dense Jacobian with its cross
    # terms: 3,000 pillars on 3,000 are 216 MB, refused up front under a 100 MB allowance.
    prelude = ("import quelm\n" + strip(3000)
               + "d = quelm.YieldCurve.bootstrap('2025-01-15', q)\n"
               + "s = [quelm.Swap(f'{w}W', 0.03 + 1e-5 * (w % 5)) for w in range(1, 3001)]\n")
    proc = run_python(prelude + DRIVER.replace("CALLS", repr(
        ["quelm.YieldCurve.bootstrap('2025-01-15', s, discount_curve=d)"])),
        env={"QUELM_MEMORY_LIMIT": "100MB"}, timeout=60)
    assert proc.returncode == 0, proc.stderr
    (kind, message), = json.loads(proc.stdout.strip().splitlines()[-1])
    assert kind == "MemoryError", message
    assert re.fullmatch(f"cannot allocate {SIZE} for the bootstrap Jacobian: the process can use at most "
                        f"{SIZE}", message), message


@pytest.mark.parametrize("steps, paths", [(2**64 - 1, 100000), (2**64 - 1, 1), (2**49, 4), (2**40, 2**20)])
def test_simulate_process_caps_the_steps_over_all_paths(steps, paths):
    # Only the terminal values are kept, so no memory check bounds the work: steps x paths past
    # 2^50 is refused up front instead of running for years (it used to start, and never end).
    got = run_calls([f"quelm.simulate_process('gbm', steps={steps}, paths={paths})"])
    assert got == [["ValueError", "invalid input: steps * paths must be at most 2^50 (the steps simulated "
                                  "over every path)"]], got
