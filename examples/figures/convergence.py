"""Monte Carlo convergence: the estimate and its two-standard-error band against the
number of paths, beside the closed form."""
from __future__ import annotations

import numpy as np

import quelm

from . import canvas

SPOT, STRIKE, RATE, VOL, T, SEED = 100.0, 100.0, 0.05, 0.2, 1.0, 7
PATHS = np.unique(np.round(np.logspace(np.log10(500), 6, 19)).astype(int))


def figures():
    runs = [quelm.monte_carlo(SPOT, STRIKE, RATE, VOL, T, "call", paths=int(n), seed=SEED) for n in PATHS]
    price = np.array([r["price"] for r in runs])
    se = np.array([r["standard_error"] for r in runs])
    exact = quelm.black_scholes(SPOT, STRIKE, RATE, VOL, T, "call")

    fig, (top, bottom) = canvas.figure(
        f"Monte Carlo convergence: European call, S = K = {SPOT:g}, r = {RATE:.0%}, vol = {VOL:.0%}, T = {T:g} year",
        rows=2, sharex=True, height_ratios=[2, 1])
    top.fill_between(PATHS, price - 2 * se, price + 2 * se, color="tab:blue", alpha=0.2, label="estimate ± 2 s.e.")
    top.plot(PATHS, price, "o-", color="tab:blue", markersize=5, label=f"Monte Carlo estimate (seed {SEED})")
    top.axhline(exact, color="black", linestyle="--", label=f"closed form {exact:.4f}")
    top.set_xscale("log")
    top.set_ylabel("call price (currency units)")
    top.set_title("The band narrows like 1/√paths around the closed form")
    top.legend(loc="upper right")

    bottom.loglog(PATHS, se, "o-", color="tab:blue", markersize=5, label="standard error")
    bottom.loglog(PATHS, se[0] * np.sqrt(PATHS[0] / PATHS), color="grey", linestyle=":", label="∝ 1/√paths")
    bottom.set_xlabel("paths (log scale)")
    bottom.set_ylabel("standard error\n(currency units)")
    bottom.legend(loc="upper right")
    yield "mc_convergence", fig
