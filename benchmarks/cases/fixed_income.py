"""Fixed income per call: curve queries vs SciPy's CubicSpline, and yield solving vs
SciPy's brentq on a NumPy price function."""
from __future__ import annotations

import math

import numpy as np
from scipy.interpolate import CubicSpline
from scipy.optimize import brentq

import quelm

# A 30-pillar zero curve, 0.25y to 30y, gently upward sloping.
TIMES = [0.25 * 1.2 ** k for k in range(30)]
TIMES = [t * 30.0 / TIMES[-1] for t in TIMES]
RATES = [0.02 + 0.015 * (1.0 - math.exp(-t / 5.0)) for t in TIMES]
CURVE = quelm.YieldCurve.from_zero_rates(TIMES, RATES, interp="natural-cubic")
SPLINE = CubicSpline(np.array(TIMES), np.array(RATES), bc_type="natural")
T_QUERY = 7.3


def scipy_discount(t: float) -> float:
    return math.exp(-float(SPLINE(t)) * t)


# 30-year semi-annual 4.5% bond, quoted at 92.
BOND = quelm.FixedRateBond.regular(100.0, 0.045, 2, 60)
FREQ = 2
FLOW_T = np.arange(1, 61) / FREQ
FLOW_A = np.full(60, 100.0 * 0.045 / FREQ)
FLOW_A[-1] += 100.0
QUOTE = 92.0


def scipy_ytm(clean: float) -> float:
    def gap(y: float) -> float:
        return float(np.sum(FLOW_A * (1.0 + y / FREQ) ** (-FREQ * FLOW_T))) - clean

    return brentq(gap, -0.9, 2.0, xtol=1e-12, maxiter=200)


def cases(quick: bool) -> list:
    n_discount = 2000 if quick else 20000
    n_ytm = 200 if quick else 2000
    assert abs(CURVE.discount(T_QUERY) - scipy_discount(T_QUERY)) < 1e-14
    assert abs(BOND.yield_to_maturity(QUOTE) - scipy_ytm(QUOTE)) < 1e-9
    return [
        {"name": "YieldCurve.discount, 30-pillar natural cubic, per call",
         "quelm": lambda: CURVE.discount(T_QUERY),
         "peers": {"scipy CubicSpline + math.exp": lambda: scipy_discount(T_QUERY)},
         "number": n_discount},
        {"name": "FixedRateBond.yield_to_maturity, 30y semi-annual",
         "quelm": lambda: BOND.yield_to_maturity(QUOTE),
         "peers": {"scipy brentq on NumPy price": lambda: scipy_ytm(QUOTE)},
         "number": n_ytm},
    ]
