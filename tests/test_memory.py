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
