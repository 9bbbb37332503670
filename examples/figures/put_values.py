"""American against European put values across spot, and the early-exercise premium."""
from __future__ import annotations

import numpy as np

from . import canvas, elementwise

STRIKE, RATE, VOL, T, STEPS = 100.0, 0.05, 0.25, 1.0, 400


def figures():
    spots = np.linspace(50.0, 150.0, 101)
    american = elementwise.binomial(spots, STRIKE, RATE, VOL, T, "put", "american", STEPS)
    european = elementwise.black_scholes(spots, STRIKE, RATE, VOL, T, "put")
    intrinsic = np.maximum(STRIKE - spots, 0.0)
    # Below the exercise boundary the American put is worth exactly its intrinsic value.
    exercised = american <= intrinsic + 1e-9
    boundary = spots[exercised].max() if exercised.any() else None

    fig, (top, bottom) = canvas.figure(
        f"Put values across spot (K = {STRIKE:g}, r = {RATE:.0%}, vol = {VOL:.0%}, T = {T:g} year)",
        rows=2, sharex=True, height_ratios=[2, 1])
    top.plot(spots, intrinsic, color="grey", linestyle=":", label="intrinsic value max(K - S, 0)")
    top.plot(spots, european, color="tab:blue", linestyle="--", label="European (closed form)")
    top.plot(spots, american, color="tab:red", linewidth=2.5, alpha=0.8, label=f"American (CRR tree, {STEPS} steps)")
    top.set_ylabel("option value (currency units)")
    top.set_title("The American put never falls below intrinsic value; the European one does deep in the money")
    top.legend(loc="upper right")

    bottom.fill_between(spots, american - european, color="tab:red", alpha=0.3)
    bottom.plot(spots, american - european, color="tab:red", label="American - European")
    if boundary is not None:
        for ax in (top, bottom):
            ax.axvline(boundary, color="black", linewidth=1.0, linestyle="-.")
        bottom.annotate(f"exercise at once below S = {boundary:.0f}", (boundary, 0.8), xycoords=("data", "axes fraction"),
                        xytext=(8, 0), textcoords="offset points", va="center")
    bottom.set_xlabel("spot (currency units)")
    bottom.set_ylabel("early-exercise premium\n(currency units)")
    bottom.legend(loc="upper right")
    yield "put_values", fig
