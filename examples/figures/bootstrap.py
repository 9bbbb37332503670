"""Zero and forward curves bootstrapped from the same SOFR swap quotes in each interpolation."""
from __future__ import annotations

import datetime as dt

import numpy as np

import quelm

from . import canvas, elementwise

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
    t = np.linspace(1 / 52, last, 600)
    start = t[t + TENOR <= last]

    fig, (top, bottom) = canvas.figure("SOFR curve bootstrapped from swap quotes, by interpolation",
                                       rows=2, sharex=True)
    for mode, colour in MODES.items():
        top.plot(t, elementwise.zero_rate(curves[mode], t), color=colour, label=mode)
        bottom.plot(start, elementwise.forward_rate(curves[mode], start, start + TENOR), color=colour,
                    label=mode)
    pillars = curves["log-linear"].pillar_times[1:]
    top.plot(pillars, [curves["log-linear"].zero_rate(p) for p in pillars], "o", color="black", markersize=6,
             label="pillars (one per quote)", zorder=5)
    top.set_ylabel("zero rate\n(continuously compounded)")
    top.set_title("Every curve reprices all twelve quotes; they differ in how the forwards run between them")
    top.legend(loc="upper right")
    bottom.set_ylabel("3-month forward rate\n(continuously compounded)")
    bottom.set_xlabel("maturity / forward start (years, act/365f from the trade date)")
    bottom.legend(loc="lower left", ncols=2, title=f"forward over [t, t + {TENOR:g}]")
    for ax in (top, bottom):
        canvas.percent(ax, decimals=2)
    yield "bootstrapped_curves", fig
