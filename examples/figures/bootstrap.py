"""Zero and forward curves bootstrapped from the same SOFR swap quotes in each interpolation."""
from __future__ import annotations

import datetime as dt

import numpy as np

import quelm

from .curve import zero_and_forward_panels

TODAY = dt.date(2025, 1, 15)
SOFR = [("1M", 0.0431), ("3M", 0.0430), ("6M", 0.0425), ("1Y", 0.0415), ("2Y", 0.0402), ("3Y", 0.0398),
        ("5Y", 0.0398), ("7Y", 0.0402), ("10Y", 0.0410), ("15Y", 0.0418), ("20Y", 0.0420), ("30Y", 0.0408)]
MODES = {"log-linear": "tab:orange", "linear-zero": "tab:blue", "natural-cubic": "tab:green",
         "monotone-convex": "tab:red"}
TENOR = 0.25  # years: three-month forwards


def figures():
    quotes = [quelm.Ois(t, r, calendar="us-government-bond") for t, r in SOFR]
    curves = {mode: quelm.YieldCurve.bootstrap(TODAY, quotes, interp=mode) for mode in MODES}
    last = curves["log-linear"].pillar_times[-1]
    fig, top, bottom = zero_and_forward_panels("SOFR curve bootstrapped from swap quotes, by interpolation",
                                               curves, MODES, np.linspace(1 / 52, last, 600), TENOR)
    pillars = curves["log-linear"].pillar_times[1:]
    top.plot(pillars, [curves["log-linear"].zero_rate(p) for p in pillars], "o", color="black", markersize=6,
             label="pillars (one per quote)", zorder=5)
    top.set_title("Every curve reprices all twelve quotes; they differ in how the forwards run between them")
    top.legend(loc="upper right")
    bottom.set_xlabel("maturity / forward start (years, act/365f from the trade date)")
    bottom.legend(loc="lower left", ncols=2, title=f"forward over [t, t + {TENOR:g}]")
    yield "bootstrapped_curves", fig
