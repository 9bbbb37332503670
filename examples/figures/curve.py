"""The tour's zero curve in its three interpolation modes, and the forward rates each implies."""
from __future__ import annotations

import numpy as np

import quelm
from tour_parts.fixed_income import PILLARS, ZEROS

from . import canvas, elementwise

MODES = {"linear": "tab:blue", "log-linear": "tab:orange", "natural-cubic": "tab:green"}
TENOR = 0.25  # years: three-month forwards


def zero_and_forward_panels(title: str, curves: dict, colours: dict, t, tenor: float = TENOR):
    """A figure of each curve's zero rates over t (top) and its forwards over [t, t + tenor]
    (bottom), one colour per curve; the caller adds pillars, titles, legends and labels."""
    start = t[t + tenor <= t[-1]]
    fig, (top, bottom) = canvas.figure(title, rows=2, sharex=True)
    for mode, colour in colours.items():
        top.plot(t, elementwise.zero_rate(curves[mode], t), color=colour, label=mode)
        bottom.plot(start, elementwise.forward_rate(curves[mode], start, start + tenor), color=colour, label=mode)
    top.set_ylabel("zero rate\n(continuously compounded)")
    bottom.set_ylabel(f"{tenor * 12:g}-month forward rate\n(continuously compounded)")
    for ax in (top, bottom):
        canvas.percent(ax, decimals=2)
    return fig, top, bottom


def figures():
    curves = {mode: quelm.YieldCurve.from_zero_rates(PILLARS, ZEROS, interp=mode) for mode in MODES}
    t = np.linspace(PILLARS[0], PILLARS[-1], 381)
    fig, top, bottom = zero_and_forward_panels("Zero curve in three interpolation modes, and its forward rates",
                                               curves, MODES, t)
    top.plot(PILLARS, ZEROS, "o", color="black", markersize=7, label="pillars (input zero rates)", zorder=5)
    top.set_title("The modes agree at the pillars; forwards show how differently they bend between them")
    top.legend(loc="upper center")
    bottom.set_xlabel("maturity / forward start (years)")
    bottom.legend(loc="lower right", title=f"forward over [t, t + {TENOR:g}]")
    yield "yield_curve", fig
