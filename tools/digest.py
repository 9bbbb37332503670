"""A SHA-256 digest of quelm's results over a large grid of inputs: every closed form, the
trees, curves, bonds, statistics, Monte Carlo and processes, FX options and smiles, through
the scalar calls and through quelm.vec. Two runs print the same digest exactly when every result has the same
bits, so it compares SIMD widths (QUELM_SIMD), compilers, flags and machines.

    python tools/digest.py            # prints the digest
    python tools/digest.py --parts    # one digest per group, to find what differs
"""
from __future__ import annotations

import hashlib
import math
import sys

import numpy as np

import quelm
import quelm.vec as vec

N = 4000  # options in the array grid


def _grid(n: int, seed: int = 20261208):
    rng = np.random.default_rng(seed)
    spot = rng.uniform(20.0, 250.0, n)
    strike = rng.uniform(20.0, 250.0, n)
    rate = rng.uniform(-0.02, 0.12, n)
    vol = rng.uniform(0.01, 1.5, n)
    t = rng.uniform(0.005, 6.0, n)
    q = np.where(rng.random(n) < 0.5, 0.0, rng.uniform(0.0, 0.08, n))
    kind = rng.choice(np.array(["call", "put"]), n)
    # Edges among them: zero vol or time, the far tails, huge vol, NaN.
    for i in rng.choice(n, n // 10, replace=False):
        which = int(i) % 6
        if which == 0:
            vol[i] = 0.0
        elif which == 1:
            t[i] = 0.0
        elif which == 2:
            spot[i] = strike[i] * 1e-3
        elif which == 3:
            vol[i] = 1e6
        elif which == 4:
            rate[i] = math.nan
        else:
            vol[i] = 1e-4
    return spot, strike, rate, vol, t, q, kind


class Digest:
    def __init__(self):
        self.parts: dict[str, hashlib._Hash] = {}

    def add(self, group: str, value) -> None:
        h = self.parts.setdefault(group, hashlib.sha256())
        if isinstance(value, dict):
            for k in sorted(value):
                h.update(k.encode())
                self.add(group, value[k])
        elif isinstance(value, (list, tuple)):
            for v in value:
                self.add(group, v)
        elif isinstance(value, np.ndarray):
            h.update(np.ascontiguousarray(value, dtype=np.float64).tobytes())
        elif isinstance(value, (float, int)):
            h.update(np.float64(value).tobytes())
        else:
            h.update(repr(value).encode())

    def call(self, group: str, fn, *args, **kwargs) -> None:
        try:
            self.add(group, fn(*args, **kwargs))
        except (ValueError, ArithmeticError) as e:
            self.add(group, f"{type(e).__name__}: {e}")

    def total(self) -> str:
        h = hashlib.sha256()
        for k in sorted(self.parts):
            h.update(k.encode() + self.parts[k].digest())
        return h.hexdigest()


def closed_forms(d: Digest) -> None:
    spot, strike, rate, vol, t, q, kind = _grid(N)
    price = vec.black_scholes(spot, strike, rate, vol, t, kind, q, errors="nan")
    d.add("vec.black_scholes", price)
    d.add("vec.greeks", vec.greeks(spot, strike, rate, vol, t, kind, q, errors="nan"))
    for method in ("newton", "rational"):
        d.add(f"vec.implied_volatility.{method}",
              vec.implied_volatility(price, spot, strike, rate, t, kind, q, method=method, errors="nan"))
    d.add("vec.higher_greeks", vec.higher_greeks(spot, strike, rate, vol, t, kind, q, errors="nan"))
    d.add("vec.black76", vec.black76(spot, strike, rate, vol, t, kind, errors="nan"))
    d.add("vec.bachelier", vec.bachelier(spot, strike, rate, vol * 50.0, t, kind, errors="nan"))
    barrier_types = np.array(["down-in", "down-out", "up-in", "up-out"])[np.arange(N) % 4]
    barrier = np.where(np.arange(N) % 4 < 2, spot * 0.8, spot * 1.25)
    d.add("vec.barrier_price", vec.barrier_price(spot, strike, rate, vol, t, kind, barrier_types, barrier, q,
                                                 errors="nan"))
    d.add("vec.lookback_price", vec.lookback_price(spot, strike, rate, vol, t, kind,
                                                   np.array(["floating", "fixed"])[np.arange(N) % 2], q,
                                                   errors="nan"))
    d.add("vec.american_approximation", vec.american_approximation(spot[:500], strike[:500], rate[:500], vol[:500],
                                                                   t[:500], kind[:500], q[:500], errors="nan"))
    d.add("vec.heston_price", vec.heston_price(spot[:300], strike[:300], 0.03, t[:300] + 0.1, kind[:300], 0.04,
                                               1.5, 0.04, 0.5, -0.6, errors="nan"))
    d.add("vec.sabr_vol", vec.sabr_vol(spot, strike, t + 0.01, 0.3, 0.5, -0.3, 0.4, errors="nan"))
    d.add("vec.svi_vol", vec.svi_vol(spot, strike, t + 0.01, 0.04, 0.1, -0.3, 0.0, 0.2, errors="nan"))
    # The scalar calls on part of the same grid.
    for i in range(0, N, 7):
        args = (float(spot[i]), float(strike[i]), float(rate[i]), float(vol[i]), float(t[i]), str(kind[i]), float(q[i]))
        d.call("black_scholes", quelm.black_scholes, *args)
        d.call("greeks", quelm.greeks, *args)
        d.call("higher_greeks", quelm.higher_greeks, *args)
        d.call("implied_volatility", quelm.implied_volatility, float(price[i]), *args[:3], args[4], args[5], args[6])
        d.call("asian_price", quelm.asian_price, *args[:6], dividend_yield=args[6])
        d.call("american_approximation", quelm.american_approximation, *args)
        d.call("black76_implied_volatility", quelm.black76_implied_volatility,
               float(price[i]), args[0], args[1], args[2], args[4], args[5])


def trees_and_monte_carlo(d: Digest) -> None:
    for kind in ("call", "put"):
        for style in ("european", "american"):
            d.call("binomial", quelm.binomial, 100.0, 105.0, 0.04, 0.25, 1.5, kind, style, 400, 0.01)
        d.call("monte_carlo", quelm.monte_carlo, 100.0, 95.0, 0.03, 0.3, 1.0, kind, 20000, 7, 0.01)
        d.call("lsm", quelm.lsm, 100.0, 100.0, 0.05, 0.2, 1.0, kind, 4000, 20, 3)
        d.call("asian_price.arithmetic", quelm.asian_price, 100.0, 100.0, 0.05, 0.2, 1.0, kind, "arithmetic", 12,
               4000, 5)
    for process in ("gbm", "ou", "cir", "merton", "heston"):
        d.call("simulate_process", quelm.simulate_process, process, 100.0, 1.0, 50, 2000, 11)
    d.add("vec.simulate_paths", vec.simulate_paths("gbm", 100.0, 1.0, 20, 50, 3))
    d.call("heston_price", quelm.heston_price, 100.0, 110.0, 0.02, 0.7, "put", 0.05, 2.0, 0.04, 0.6, -0.7)
    strikes = np.linspace(80.0, 120.0, 24)
    d.add("vec.fd_price", vec.fd_price(100.0, strikes, 0.03, 0.2, 1.0, "put", style="american", space_steps=100,
                                       time_steps=40, errors="nan"))
    d.call("fd_price.dividends", quelm.fd_price, 100.0, 95.0, 0.03, 0.25, 1.0, "call", style="american",
           dividends=[(0.4, 2.0)], extrapolate=True)
    d.call("fd_heston_price", quelm.fd_heston_price, 100.0, 105.0, 0.03, 0.5, "put", 0.04, 2.0, 0.04, 0.5, -0.6,
           style="american", space_steps=60, variance_steps=20, time_steps=20)


def curves_and_bonds(d: Digest) -> None:
    times = np.random.default_rng(3).uniform(0.0, 35.0, N)
    pillars = [0.25, 0.5, 1.0, 2.0, 3.0, 5.0, 7.0, 10.0, 20.0, 30.0]
    zeros = [0.02, 0.022, 0.025, 0.028, 0.03, 0.032, 0.034, 0.035, 0.036, 0.036]
    for interp in ("linear", "log-linear", "natural-cubic"):
        try:
            curve = quelm.YieldCurve.from_zero_rates(pillars, zeros, interp=interp)
        except ValueError:
            continue
        d.add(f"vec.discount.{interp}", vec.discount(curve, times, errors="nan"))
        d.add(f"vec.zero_rate.{interp}", vec.zero_rate(curve, times, errors="nan"))
        d.add(f"vec.forward_rate.{interp}", vec.forward_rate(curve, times, times + 0.5, errors="nan"))
        for x in times[:200]:
            d.call(f"curve.discount.{interp}", curve.discount, float(x))
    bond = quelm.FixedRateBond.regular(100.0, 0.045, 2, 30)
    yields = np.random.default_rng(4).uniform(-0.01, 0.15, N)
    prices = vec.bond_price(bond, yields, errors="nan")
    d.add("vec.bond_price", prices)
    d.add("vec.bond_yield", vec.bond_yield(bond, prices, errors="nan"))
    for y in yields[:100]:
        y = float(y)
        d.call("bond", lambda: (bond.dirty_price_from_yield(y), bond.macaulay_duration(y), bond.convexity(y)))
    d.call("bond.price_from_curve", bond.price_from_curve, quelm.YieldCurve.from_zero_rates(pillars, zeros))
    d.call("dated_bond", lambda: quelm.FixedRateBond.dated("2024-01-15", "2034-01-15", 0.04).yield_at(
        98.5, "2026-03-02"))


def statistics(d: Digest) -> None:
    rng = np.random.default_rng(9)
    panel = rng.normal(0.0004, 0.012, (750, 12))
    bench = panel.mean(axis=1)
    d.add("vec.stats", vec.stats(returns=panel, benchmark=bench))
    for j in range(3):
        col = panel[:, j].tolist()
        d.call("stats", quelm.stats, returns=col, benchmark=bench.tolist())
        for method in ("historical", "parametric", "cornish-fisher"):
            d.call("value_at_risk", quelm.value_at_risk, col, 0.99, method)
        d.call("jarque_bera", quelm.jarque_bera, col)
        d.call("acf", quelm.acf, col, 10)
    d.call("covariance_matrix", quelm.covariance_matrix, panel[:, :5].tolist())
    d.call("optimize", quelm.optimize, [0.05, 0.07, 0.06], [[0.04, 0.01, 0.0], [0.01, 0.09, 0.02],
                                                            [0.0, 0.02, 0.0625]], 0.01)


def fx(d: Digest) -> None:
    spot, strike, rate, vol, t, q, kind = _grid(N)
    d.add("vec.garman_kohlhagen", vec.garman_kohlhagen(spot, strike, rate, q, vol, t, kind, errors="nan"))
    d.add("vec.fx_greeks", vec.fx_greeks(spot, strike, rate, q, vol, t, kind, errors="nan"))
    types = np.array(["spot", "forward", "spot-pa", "forward-pa"])[np.arange(N) % 4]
    deltas = vec.fx_delta(spot, strike, rate, q, vol, t, kind, delta_type=types, errors="nan")
    d.add("vec.fx_delta", deltas)
    d.add("vec.fx_strike_from_delta", vec.fx_strike_from_delta(deltas, spot, rate, q, vol, t, kind,
                                                               delta_type=types, errors="nan"))
    d.add("vec.fx_atm_strike", vec.fx_atm_strike(spot, rate, q, vol, t, delta_type=types, errors="nan"))
    barrier_types = np.array(["down-in", "down-out", "up-in", "up-out"])[np.arange(N) % 4]
    barrier = np.where(np.arange(N) % 4 < 2, spot * 0.8, spot * 1.25)
    d.add("vec.fx_barrier_price", vec.fx_barrier_price(spot, strike, barrier, np.abs(rate), q, vol, t, barrier_types,
                                                       kind, rebate=0.01 * spot, errors="nan"))
    for interpolation in ("vanna-volga", "sabr", "spline-in-delta"):
        for delta_type in ("spot", "forward-pa"):
            d.call(f"fx_smile.{interpolation}.{delta_type}", lambda: [
                quelm.FxSmile.from_quotes(1.3465, 1.0, 0.0294, 0.0346, 0.1825, [-0.006, -0.011], [0.0095, 0.032],
                                          deltas=[0.25, 0.1], delta_type=delta_type,
                                          interpolation=interpolation).vol(k) for k in np.linspace(0.9, 2.0, 23)])
    smile = quelm.FxSmile.from_quotes(1.3465, 1.0, 0.0294, 0.0346, 0.1825, -0.006, 0.0095)
    for bt, h in (("down-out", 1.2), ("down-in", 1.2), ("up-out", 1.6), ("up-in", 1.6)):
        d.call("fx_smile.barrier_price", smile.barrier_price, 1.35, h, bt, "call", rebate=0.01)


GROUPS = (closed_forms, trees_and_monte_carlo, curves_and_bonds, statistics, fx)


def digest() -> Digest:
    d = Digest()
    with np.errstate(all="ignore"):
        for group in GROUPS:
            group(d)
    return d


def main(argv: list[str]) -> int:
    d = digest()
    if "--parts" in argv:
        for k in sorted(d.parts):
            print(f"{d.parts[k].hexdigest()[:16]}  {k}")
    print(d.total())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
