"""The worker pool when it has more threads than processors: american_ml pinned to one CPU.

Each case runs in a child pinned to CPU 0 whose pool starts with 2 or 4 threads; the peer is
the same call with the pool shrunk to 1 thread at run time, in the same child. A ratio of
0.77 or more means the oversubscribed call costs at most 1.3x the 1-thread one.
"""
from __future__ import annotations

import ctypes
import os

import quelm

S, K, R, V, T = 100.0, 100.0, 0.05, 0.2, 1.0


def _one_thread(fn):
    lib = ctypes.CDLL(quelm._core.__file__)

    def run():
        threads = lib.quelm_get_num_threads()
        lib.quelm_set_num_threads(1)
        try:
            return fn()
        finally:
            lib.quelm_set_num_threads(threads)

    return run


def cases(quick: bool) -> list:
    if not hasattr(os, "sched_setaffinity"):
        return []
    out = []
    for method in ("deep-lsm",) if quick else ("deep-lsm", "dos"):
        call = (lambda m=method: quelm.american_ml(S, K, R, V, T, method=m))
        for threads in (2, 4):
            out.append({
                "name": f"american_ml {method}, {threads} threads pinned to one CPU",
                "quelm": call,
                "peers": {"1 thread, same CPU": _one_thread(call)},
                "yardsticks": ("1 thread, same CPU",),
                "threads": threads,
                "cpus": [0],
                "number": 1,
                "note": "target: ratio >= 0.77 (at most 1.3x the 1-thread time)",
            })
    return out
