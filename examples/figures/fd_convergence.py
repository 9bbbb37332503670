"""Finite differences: the error of the American put (BENCHOP problem 1, S = K = 100) against
the number of space steps, time steps at half as many, log-log, with and without Richardson
extrapolation."""
from __future__ import annotations

import numpy as np

import quelm

from . import canvas

REFERENCE = 4.820608184813253  # von Sydow et al. (2015), BENCHOP problem 1
STEPS = np.array([25, 50, 100, 200, 400, 800, 1600])


def figures():
    def error(n, extrapolate):
        p = quelm.fd_price(100.0, 100.0, 0.03, 0.15, 1.0, "put", style="american", space_steps=int(n),
                           time_steps=int(n // 2), extrapolate=extrapolate)["price"]
        return abs(p - REFERENCE) / REFERENCE

    plain = np.array([error(n, False) for n in STEPS])
    richardson = np.array([error(n, True) for n in STEPS[:-1]])
    fig, (ax,) = canvas.figure("Finite differences: American put, S = K = 100, r = 3%, vol = 15%, T = 1 year")
    ax.loglog(STEPS, plain, "o-", color="tab:blue", label="Crank-Nicolson with Rannacher start, projected")
    ax.loglog(STEPS[:-1], richardson, "s-", color="tab:green", label="with Richardson extrapolation (extrapolate=True)")
    ax.loglog(STEPS, plain[0] * (STEPS[0] / STEPS) ** 2, color="grey", linestyle=":", label="∝ 1/steps²")
    ax.axhline(1e-4, color="tab:red", linestyle="--", label="1e-4 relative")
    ax.axvline(400, color="black", linewidth=0.8)
    ax.text(400 * 1.05, plain.max(), "default space steps", va="top")
    ax.set_xlabel("space steps (time steps half as many), log scale")
    ax.set_ylabel("relative error against BENCHOP's reference")
    ax.set_title("Second order down to the published value's own accuracy (about 1e-5)")
    ax.legend(loc="upper right", bbox_to_anchor=(1.0, 0.9))
    yield "fd_convergence", fig
