"""A grid of Monte Carlo valuations on a Dask cluster: one task per (scenario, seed), the
yield curve sent to every worker once, results equal to the same calls made here.

    python examples/dask_scenarios.py [--workers 2] [--paths 200000]

Needs dask and distributed (`pip install quelm[dask]`).
"""
from __future__ import annotations

import argparse
import itertools
import os
import time

from dask.distributed import Client, LocalCluster

import quelm

STRIKE = 100.0


def market_curve() -> quelm.YieldCurve:
    return quelm.YieldCurve.from_zero_rates([0.25, 0.5, 1.0, 2.0, 5.0], [0.031, 0.033, 0.035, 0.037, 0.04])


def scenario_grid(spots=(90.0, 100.0, 110.0), vols=(0.15, 0.25), maturities=(0.5, 1.0)) -> list:
    """(spot, vol, maturity) triples: the market moves to value the book under."""
    return list(itertools.product(spots, vols, maturities))


def value(scenario, seed, curve, strike=STRIKE, paths=200_000) -> dict:
    """One valuation: the rate is the curve's zero rate at the option's maturity."""
    spot, vol, t = scenario
    return quelm.monte_carlo(spot, strike, curve.zero_rate(t), vol, t, "call", paths=paths, seed=seed)


def value_grid(client: Client, curve, scenarios, seeds, **options) -> list:
    """value() for each (scenario, seed) pair on the cluster, in the grid's order.

    Scattered with broadcast=True, the curve is pickled once and copied to every worker;
    each task gets a reference to it, not a copy in its arguments. hash=False gives each
    call its own key, so a grid run right after another never waits on the copy the other
    one is releasing."""
    on_workers = client.scatter(curve, broadcast=True, hash=False)
    futures = client.map(value, scenarios, seeds, curve=on_workers, **options)
    return client.gather(futures)


def share_of_cores(workers: int) -> str:
    """The pool size that keeps `workers` processes at about one quelm thread per core."""
    return str(max(1, len(os.sched_getaffinity(0)) // workers))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--paths", type=int, default=200_000)
    args = parser.parse_args()

    scenarios = scenario_grid()
    seeds = range(1, len(scenarios) + 1)  # one seed per scenario: independent estimates
    curve = market_curve()
    # Each worker process gets its own pool, sized before it starts: P processes, C cores.
    env = {"RAYON_NUM_THREADS": share_of_cores(args.workers)}
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, env=env, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        start = time.perf_counter()
        results = value_grid(client, curve, scenarios, seeds, paths=args.paths)
        elapsed = time.perf_counter() - start
        print(f"{len(scenarios)} valuations on {args.workers} workers (quelm pool of "
              f"{env['RAYON_NUM_THREADS']} each): {elapsed:.2f} s")

    local = [value(s, seed, curve, paths=args.paths) for s, seed in zip(scenarios, seeds)]
    print(f"{'spot':>6} {'vol':>5} {'t':>4} {'price':>9} {'std err':>8}")
    for (spot, vol, t), r in zip(scenarios, results):
        print(f"{spot:6.1f} {vol:5.2f} {t:4.1f} {r['price']:9.4f} {r['standard_error']:8.4f}")
    print("same bits as the calls made here:", results == local)


if __name__ == "__main__":
    main()
