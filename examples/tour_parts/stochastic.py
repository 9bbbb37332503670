"""Simulated terminal moments against closed forms, and a few exotic options."""
from __future__ import annotations

import quelm


def show() -> None:
    print(f"{'process':<20}{'sample mean':>13}{'analytic':>11}{'± s.e.':>10}{'sample std':>12}{'analytic':>10}")
    for name, x0 in (("gbm", 100.0), ("vasicek", 0.03), ("cir", 0.03), ("merton", 100.0), ("heston", 100.0)):
        r = quelm.simulate_process(name, x0=x0, paths=50_000, steps=100, seed=42)
        std = "-" if r["analytic_std"] is None else f"{r['analytic_std']:.5f}"
        print(f"{r['process']:<20}{r['sample_mean']:>13.5f}{r['analytic_mean']:>11.5f}{r['mean_std_error']:>10.5f}"
              f"{r['sample_std']:>12.5f}{std:>10}")
    print()
    rows = [
        ("down-and-out call H=90", quelm.barrier_price(100, 100, 0.05, 0.25, 1.0, "call", "down-out", 90)),
        ("up-and-in put H=115", quelm.barrier_price(100, 100, 0.05, 0.25, 1.0, "put", "up-in", 115)),
        ("floating lookback call", quelm.lookback_price(100, 100, 0.05, 0.25, 1.0, "call", "floating")),
        ("fixed lookback put K=95", quelm.lookback_price(100, 95, 0.05, 0.25, 1.0, "put", "fixed")),
        ("geometric Asian call", quelm.asian_price(100, 100, 0.05, 0.25, 1.0, "call")["price"]),
        ("arithmetic Asian call", quelm.asian_price(100, 100, 0.05, 0.25, 1.0, "call", "arithmetic",
                                                    paths=50_000)["price"]),
        ("vanilla call (reference)", quelm.black_scholes(100, 100, 0.05, 0.25, 1.0, "call")),
    ]
    print(f"{'exotic option, S=K=100, vol 25%, T=1':<40}{'price':>10}")
    for name, value in rows:
        print(f"{name:<40}{value:>10.4f}")
