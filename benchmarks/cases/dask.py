"""A book of options on local Dask clusters of 1 and 2 worker processes vs one quelm.vec call in
this process (run with --dask: it starts the clusters).

Each cluster gives every worker one Dask thread and a quelm pool of its share of the cores, and
holds the book in its workers' memory; a timed call prices every option and sums the book's
value, as the in-process call does. Ratio against "1 worker": the scaling from 1 to 2 processes.
"""
from __future__ import annotations

import atexit
import logging
import os


def cases(quick: bool) -> list:
    try:
        import dask
        import dask.array as da
        import numpy as np
        from dask.distributed import Client, LocalCluster

        import quelm.vec as vec
        from quelm import dask as quelm_dask
    except ImportError as exc:
        print(f"[skip] dask cases: {exc}")
        return []
    n = 10**6 if quick else 10**7
    chunk = n // 20
    cores = len(os.sched_getaffinity(0))

    def make_book():
        rng = da.random.default_rng(7)
        spot = rng.uniform(50.0, 150.0, n, chunks=chunk)
        return [spot, spot * rng.uniform(0.8, 1.2, n, chunks=chunk), rng.uniform(0.0, 0.05, n, chunks=chunk),
                rng.uniform(0.1, 0.6, n, chunks=chunk), rng.uniform(0.05, 2.0, n, chunks=chunk),
                da.where(rng.random(n, chunks=chunk) < 0.5, "call", "put")]

    def start(workers: int):
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address=None,
                               silence_logs=logging.ERROR, env={"RAYON_NUM_THREADS": str(max(1, cores // workers))})
        client = Client(cluster, set_as_default=False)
        atexit.register(cluster.close)
        atexit.register(client.close)
        book = client.persist(make_book())
        value = da.map_blocks(vec.black_scholes, *book, dtype=np.float64).sum()
        pools = sorted(quelm_dask.pool_sizes(client).values())
        label = f"{workers} worker{'s' if workers > 1 else ''} x pool {'+'.join(map(str, pools))}"
        return label, lambda: client.compute(value).result()

    one_label, one = start(1)
    two_label, two = start(2)
    inputs = dask.compute(*make_book(), scheduler="threads")
    return [{
        "name": f"book of {n:,} black_scholes + sum, Dask {two_label}",
        "quelm": two,
        "peers": {f"Dask {one_label}": one, "one vec call in-process": lambda: vec.black_scholes(*inputs).sum()},
        "number": 1,
        "note": f"{cores} cores; pools sized by RAYON_NUM_THREADS per worker; ratio vs 1 worker = scaling",
    }]
