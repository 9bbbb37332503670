"""A book of options priced on a Dask cluster block by block: prices, Greeks and implied
volatilities with the same bits as one `quelm.vec` call on the whole book.

    python examples/dask_book.py [--options 10000000] [--workers 2] [--parquet DIR]

Needs dask and distributed (`pip install quelm[dask]`); --parquet also needs pyarrow.
"""
from __future__ import annotations

import argparse
import time

import dask
import dask.array as da
import dask.dataframe as dd
import numpy as np
from dask.distributed import Client, LocalCluster

import quelm.vec as vec
from quelm import dask as quelm_dask

GREEKS = quelm_dask.GREEKS
INPUTS = ("spot", "strike", "rate", "vol", "t", "option_type")


def make_book(n: int, chunk: int = 1_000_000, seed: int = 7) -> dict:
    """The book's columns as Dask arrays, drawn block by block where they are used."""
    rng = da.random.default_rng(seed)
    spot = rng.uniform(50.0, 150.0, n, chunks=chunk)
    return {
        "spot": spot,
        "strike": spot * rng.uniform(0.8, 1.2, n, chunks=chunk),
        "rate": rng.uniform(0.0, 0.05, n, chunks=chunk),
        "vol": rng.uniform(0.1, 0.6, n, chunks=chunk),
        "t": rng.uniform(0.05, 2.0, n, chunks=chunk),
        "option_type": da.where(rng.random(n, chunks=chunk) < 0.5, "call", "put"),
    }


def greek_rows(*args) -> np.ndarray:
    g = vec.greeks(*args)
    return np.stack([g[k] for k in GREEKS])


def price_book(book: dict) -> dict:
    """Price, Greeks and the implied volatility of each price, as lazy Dask arrays.

    vec works element by element, so each block gives exactly the bits the whole book
    would; an option whose volatility cannot be implied gets NaN instead of failing the
    book."""
    args = [book[k] for k in INPUTS]
    price = da.map_blocks(vec.black_scholes, *args, dtype=np.float64)
    rows = da.map_blocks(greek_rows, *args, new_axis=0, chunks=((len(GREEKS),),) + price.chunks, dtype=np.float64)
    iv_args = [price, book["spot"], book["strike"], book["rate"], book["t"], book["option_type"]]
    iv = da.map_blocks(vec.implied_volatility, *iv_args, errors="nan", dtype=np.float64)
    return {"price": price, **{k: rows[i] for i, k in enumerate(GREEKS)}, "implied_volatility": iv}


def price_in_process(book: dict) -> dict:
    """The same results from one vec call per function on the whole book, in this process."""
    price = vec.black_scholes(*[book[k] for k in INPUTS])
    iv_args = [book[k] for k in ("spot", "strike", "rate", "t", "option_type")]
    return {"price": price, **vec.greeks(*[book[k] for k in INPUTS]),
            "implied_volatility": vec.implied_volatility(price, *iv_args, errors="nan")}


def same_bits(a: dict, b: dict) -> bool:
    return a.keys() == b.keys() and all(np.asarray(a[k]).tobytes() == np.asarray(b[k]).tobytes() for k in a)


def price_parquet(path: str):
    """The recipe for a book kept as Parquet: read it and price it by column name."""
    frame = dd.read_parquet(path)
    return frame.assign(price=quelm_dask.black_scholes(frame))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--options", type=int, default=10_000_000)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--parquet", metavar="DIR", help="also write the book there and price it from Parquet")
    args = parser.parse_args()

    with LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        client.register_plugin(quelm_dask.PoolSize())  # before the workers first run quelm
        print("quelm pool per worker:", sorted(quelm_dask.pool_sizes(client).values()))
        book = make_book(args.options)
        start = time.perf_counter()
        results = dask.compute(price_book(book))[0]
        print(f"{args.options:,} options on {args.workers} workers: {time.perf_counter() - start:.2f} s")
        inputs = dict(zip(INPUTS, dask.compute(*book.values())))
        if args.parquet:
            dd.from_dask_array(da.stack([book[k] for k in INPUTS[:-1]], axis=1), columns=list(INPUTS[:-1])) \
                .assign(option_type=dd.from_dask_array(book["option_type"])).to_parquet(args.parquet)
            priced = price_parquet(args.parquet).compute()
            print("priced from Parquet, same bits:", priced["price"].to_numpy().tobytes() == results["price"].tobytes())

    start = time.perf_counter()
    local = price_in_process(inputs)
    print(f"one vec call per function in this process: {time.perf_counter() - start:.2f} s")
    print("same bits as in this process:", same_bits(results, local))
    print(f"book value {results['price'].sum():,.2f}, delta {results['delta'].sum():,.2f}, "
          f"implied {np.count_nonzero(~np.isnan(results['implied_volatility'])):,} volatilities")


if __name__ == "__main__":
    main()
