"""Concurrent callers: two Python threads each running a long call vs the same calls in turn."""
from __future__ import annotations

import ctypes
import threading

import quelm


def cases(quick: bool) -> list:
    paths = 200_000 if quick else 1_000_000

    def mc():
        return quelm.monte_carlo(100.0, 100.0, 0.05, 0.2, 1.0, "call", paths=paths)

    out = [{"name": f"2 threads x monte_carlo {paths:,} paths, 1 worker", "quelm": in_threads(mc), "threads": 1,
            "number": 3, "peers": {"the same two calls in sequence": in_sequence(mc)},
            "yardsticks": ("the same two calls in sequence",),
            "note": "the lock is released while the core computes, so the two calls overlap (target: "
                    "quelm <= 0.6x the sequence, ratio >= 1.67 with 2 cores free)"}]
    out += single_calls(paths)
    try:
        import numpy as np
    except ImportError:
        return out
    x = np.random.default_rng(0).normal(size=paths * 3)

    def sort():
        return np.sort(x)

    # What this machine allows right now: NumPy releases the lock in its sort too.
    out.append({"name": f"reference: 2 threads x NumPy sort of {paths * 3:,}", "quelm": in_threads(sort),
                "number": 3, "peers": {"the same two sorts in sequence": in_sequence(sort)},
                "yardsticks": ("the same two sorts in sequence",),
                "note": "not quelm: the overlap two lock-releasing calls get on this machine"})
    return out


def in_sequence(call):
    def run():
        call()
        call()
    return run


def in_threads(call):
    def run():
        threads = [threading.Thread(target=call) for _ in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    return run


def single_calls(paths: int) -> list:
    """One call alone, lock released vs kept (the policy before): what releasing costs it."""
    lib = ctypes.CDLL(quelm._core.__file__)

    def kept(call):
        def run():
            lib.quelm_keep_lock(1)
            try:
                return call()
            finally:
                lib.quelm_keep_lock(0)
        return run

    rets = [((k * 7919) % 101 - 50) / 10_000 for k in range(paths)]
    calls = {
        f"monte_carlo {paths:,} paths": lambda: quelm.monte_carlo(100.0, 100.0, 0.05, 0.2, 1.0, "call", paths=paths),
        f"lsm {paths // 20:,} paths x 50 steps": lambda: quelm.lsm(100.0, 100.0, 0.05, 0.2, 1.0, "put",
                                                                 paths=paths // 20, steps=50),
        f"stats of {paths:,} returns": lambda: quelm.stats(returns=rets),
    }
    return [{"name": f"{name}, lock released", "quelm": call, "number": 5,
             "peers": {"the same call keeping the lock": kept(call)},
             "yardsticks": ("the same call keeping the lock",),
             "note": "target: within 3 % (ratio >= 0.97)"} for name, call in calls.items()]
