"""Concurrent callers: two Python threads each running a long call vs the same calls in turn."""
from __future__ import annotations

import threading

import quelm


def cases(quick: bool) -> list:
    paths = 200_000 if quick else 1_000_000

    def mc():
        return quelm.monte_carlo(100.0, 100.0, 0.05, 0.2, 1.0, "call", paths=paths)

    def in_sequence():
        mc()
        mc()

    def two_threads():
        threads = [threading.Thread(target=mc) for _ in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    return [{"name": f"2 threads x monte_carlo {paths:,} paths, 1 worker", "quelm": two_threads, "threads": 1,
             "number": 3, "peers": {"the same two calls in sequence": in_sequence},
             "note": "the lock is released while the core computes, so the two calls overlap (target: "
                     "quelm <= 0.6x the sequence, ratio >= 1.67 with 2 cores free)"}]
