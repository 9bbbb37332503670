"""The swaption cube: a 22 x 14 grid of 11-strike normal-vol smiles, each node fitted with SABR
(beta = 0), and nine of its nodes drawn, quotes against the fitted smile."""
from __future__ import annotations

import datetime as dt
import math

import numpy as np
from matplotlib.ticker import MaxNLocator

import quelm

from . import canvas

REFERENCE = dt.date(2026, 3, 2)
EXPIRIES = ["1M", "2M", "3M", "6M", "9M", "1Y", "18M", "2Y", "3Y", "4Y", "5Y", "6Y", "7Y", "8Y", "9Y", "10Y",
            "12Y", "15Y", "20Y", "25Y", "30Y", "40Y"]
TENORS = ["1Y", "2Y", "3Y", "4Y", "5Y", "6Y", "7Y", "8Y", "9Y", "10Y", "15Y", "20Y", "25Y", "30Y"]
OFFSETS = [-200, -100, -50, -25, -10, 0, 10, 25, 50, 100, 200]  # bp from the node's forward swap rate
STRIKES = [f"ATM{o:+d}" if o else "ATM" for o in OFFSETS]
PANEL_EXPIRIES = ("3M", "2Y", "10Y")
PANEL_TENORS = ("2Y", "10Y", "30Y")
TICK = 1e-5  # screens show normal vols to a tenth of a basis point
# An upward-sloping euro curve, continuously compounded zero rates.
CURVE = quelm.YieldCurve.from_zero_rates([0.25, 1.0, 2.0, 5.0, 10.0, 20.0, 30.0, 50.0],
                                         [0.0200, 0.0205, 0.0215, 0.0235, 0.0260, 0.0275, 0.0270, 0.0265],
                                         "natural-cubic", extrapolate="flat-forward", reference_date=REFERENCE)


def _years(label: str) -> float:
    return int(label[:-1]) / (12.0 if label.endswith("M") else 1.0)


def sabr_parameters(expiry: float, tenor: float) -> tuple[float, float, float]:
    """alpha, rho, nu of a node, shaped like the euro market's: ATM vols humped in expiry
    (highest near 2-3 years), lower for long tenors; vol of vol high for short expiries;
    the skew turning from receiver to payer as the expiry grows."""
    atm = (0.0062 + 0.0030 * (expiry / 2.5) * math.exp(1.0 - expiry / 2.5)) * (1.0 - 0.06 * math.log(tenor))
    rho = -0.25 + 0.3 * (1.0 - math.exp(-expiry / 7.0)) + 0.05 * tenor / 30.0
    nu = 0.25 + 0.45 * math.exp(-expiry / 1.5) + 0.002 * tenor
    alpha = atm / (1.0 + (2.0 - 3.0 * rho * rho) / 24.0 * nu * nu * expiry)  # the ATM vol at beta = 0
    return alpha, rho, nu


def quotes() -> np.ndarray:
    """vols[i, j, k] at EXPIRIES[i], TENORS[j], STRIKES[k]: the node's SABR smile on its own
    forward and option time, rounded to the tick."""
    # The nodes' forwards and option times, read from a cube of flat smiles on the same grid.
    flat = quelm.SwaptionCube.from_quotes(REFERENCE, EXPIRIES, TENORS, STRIKES,
                                          np.full((len(EXPIRIES), len(TENORS), len(OFFSETS)), 0.008).tolist(),
                                          beta=0.0, curve=CURVE)
    vols = np.empty((len(EXPIRIES), len(TENORS), len(OFFSETS)))
    for i, e in enumerate(EXPIRIES):
        for j, n in enumerate(TENORS):
            node = flat.parameters(e, n)
            alpha, rho, nu = sabr_parameters(_years(e), _years(n))
            f, t = node["forward"], node["t"]
            vols[i, j] = [quelm.sabr_vol(f, f + o / 1e4, t, alpha, 0.0, rho, nu, model="normal") for o in OFFSETS]
    return np.round(vols / TICK) * TICK


def fitted_cube(vols: np.ndarray | None = None) -> quelm.SwaptionCube:
    vols = quotes() if vols is None else vols
    return quelm.SwaptionCube.from_quotes(REFERENCE, EXPIRIES, TENORS, STRIKES, vols.tolist(), beta=0.0, curve=CURVE)


def figures():
    vols = quotes()
    cube = fitted_cube(vols)
    fine = np.linspace(OFFSETS[0], OFFSETS[-1], 161)
    fig, axes = canvas.figure(f"SwaptionCube: SABR (beta = 0) fitted at each of {len(EXPIRIES)} x {len(TENORS)} "
                              f"nodes, nine shown", len(PANEL_EXPIRIES), len(PANEL_TENORS), sharex=True)
    for k, ax in enumerate(axes):
        e, n = PANEL_EXPIRIES[k // len(PANEL_TENORS)], PANEL_TENORS[k % len(PANEL_TENORS)]
        node = cube.parameters(e, n)
        f = node["forward"]
        ax.plot(fine, [cube.vol(e, n, f + o / 1e4) * 1e4 for o in fine], "-", color="tab:blue",
                label="fitted SABR smile (SwaptionCube.vol)")
        ax.plot(OFFSETS, vols[EXPIRIES.index(e), TENORS.index(n)] * 1e4, "o", color="tab:orange", markersize=5,
                label="quoted normal vols (to 0.1 bp)")
        ax.set_title(f"{e} x {n}, forward {f:.2%}: rmse {node['rmse'] * 1e4:.3f} bp", fontsize=11)
        ax.set_ylabel("normal vol (bp)", fontsize=10)
        ax.tick_params(labelsize=9)
        ax.set_xticks([-200, -100, 0, 100, 200])
        ax.yaxis.set_major_locator(MaxNLocator(nbins=5, integer=True))
        if k >= len(axes) - len(PANEL_TENORS):
            ax.set_xlabel("strike − ATM (bp)", fontsize=11)
    handles, labels = axes[0].get_legend_handles_labels()
    fig.legend(handles, labels, loc="outside lower center", ncols=2)
    yield "swaption_cube", fig
