"""The differential-ML surrogate against Black-Scholes across spot.

`differential_ml` trains a network on a cloud of spots around the one requested but
reports its price and delta at that spot only, so each point here is its own training
run (same seed, same settings); the Black-Scholes curves are drawn in full."""
from __future__ import annotations

import numpy as np

import quelm

from . import canvas, elementwise

STRIKE, RATE, VOL, T = 100.0, 0.05, 0.2, 1.0
SPOTS = np.linspace(70.0, 130.0, 9)  # one training run (about a second) each


def figures():
    runs = [quelm.differential_ml(float(s), STRIKE, RATE, VOL, T, "call") for s in SPOTS]
    ml_price = np.array([r["ml_price"] for r in runs])
    ml_delta = np.array([r["ml_delta"] for r in runs])
    grid = np.linspace(SPOTS[0] - 5.0, SPOTS[-1] + 5.0, 241)
    price = elementwise.black_scholes(grid, STRIKE, RATE, VOL, T, "call")
    delta = elementwise.greeks(grid, STRIKE, RATE, VOL, T, "call")["delta"]
    worst = max(r["price_abs_err"] for r in runs)

    fig, (top, bottom) = canvas.figure(
        f"Differential-ML surrogate vs Black-Scholes: call, K = {STRIKE:g}, r = {RATE:.0%}, vol = {VOL:.0%}, "
        f"T = {T:g} year", rows=2, sharex=True)
    top.plot(grid, price, color="black", label="Black-Scholes price")
    top.plot(SPOTS, ml_price, "o", color="tab:orange", markersize=9, markeredgecolor="black",
             label=f"surrogate price (largest error {worst:.3f})")
    top.set_ylabel("call price (currency units)")
    top.set_title(f"Each point: a network trained at that spot ({runs[0]['n_samples']} samples, "
                  f"{runs[0]['epochs']} epochs), read at that spot")
    top.legend(loc="upper left")
    bottom.plot(grid, delta, color="black", label="Black-Scholes delta")
    bottom.plot(SPOTS, ml_delta, "o", color="tab:orange", markersize=9, markeredgecolor="black",
                label="surrogate delta (the network's input derivative)")
    bottom.set_xlabel("spot (currency units)")
    bottom.set_ylabel("delta (per unit of spot)")
    bottom.legend(loc="upper left")
    yield "differential_ml", fig
