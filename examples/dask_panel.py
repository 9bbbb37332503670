"""Risk statistics of a large return panel on a Dask cluster: `vec.stats` on each block of
columns, joined into one report per series with the same bits as one call on the panel.

    python examples/dask_panel.py [--days 2520] [--series 20000] [--workers 2]

Needs dask and distributed (`pip install quelm[dask]`).
"""
from __future__ import annotations

import argparse
import time

import dask.array as da
import numpy as np
from dask.distributed import Client, LocalCluster

import quelm.vec as vec
from quelm import dask as quelm_dask

RISK_FREE = 0.0001  # per day, as the returns are


def make_panel(days: int, series: int, block: int = 1000, seed: int = 11):
    """Daily returns, one column per series, in blocks of columns (every day in each block)."""
    rng = da.random.default_rng(seed)
    drift = rng.uniform(-0.0002, 0.0006, (1, series), chunks=(1, block))
    return drift + 0.012 * rng.standard_t(5, (days, series), chunks=(days, block))


def panel_stats(panel, **options):
    """A lazy report of the whole panel: one task per block of columns."""
    return quelm_dask.stats(returns=panel, **options)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--days", type=int, default=2520)
    parser.add_argument("--series", type=int, default=20_000)
    parser.add_argument("--workers", type=int, default=2)
    args = parser.parse_args()

    with LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        client.register_plugin(quelm_dask.PoolSize())
        panel = make_panel(args.days, args.series).persist()
        start = time.perf_counter()
        report = panel_stats(panel, risk_free=RISK_FREE).compute()
        print(f"{args.series:,} series of {args.days:,} days on {args.workers} workers: "
              f"{time.perf_counter() - start:.2f} s")
        # Gathered over the network, the array may start at an unaligned address: an aligned
        # copy for the panel reader.
        local_panel = np.require(panel.compute(), requirements="A")

    local = vec.stats(returns=local_panel, risk_free=RISK_FREE)
    same = all(np.asarray(report[k]).tobytes() == np.asarray(local[k]).tobytes() for k in local)
    print("same bits as one call in this process:", same and report.keys() == local.keys())
    best = np.argsort(report["sharpe"])[-3:][::-1]
    for i in best:
        print(f"series {i:>6}: sharpe {report['sharpe'][i]:6.3f}, volatility {report['annualized_volatility'][i]:6.3f}, "
              f"95% ES {report['historical_es'][i]:6.4f}")


if __name__ == "__main__":
    main()
