"""Fixed income per call: curve queries vs SciPy's CubicSpline, yield solving vs SciPy's
brentq on a NumPy price function, and a dated bond priced off a dated curve beside
QuantLib's BondFunctions on the same curve."""
from __future__ import annotations

import datetime as dt
import math

import numpy as np
from scipy.interpolate import CubicSpline
from scipy.optimize import brentq

import quelm

try:
    import QuantLib as ql
except ImportError:  # the peer is optional
    ql = None

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


# A 20-year semi-annual bond settling 3 years after the curve's reference date, priced off a
# 12-pillar log-linear discount curve on act/365f dates at a 50 bp spread.
REF = dt.date(2022, 3, 15)
SETTLE = dt.date(2025, 3, 17)
PILLARS = [0.5, 1, 2, 3, 5, 7, 10, 15, 20, 25, 30, 40]
PILLAR_DATES = [REF + dt.timedelta(days=round(t * 365)) for t in PILLARS]
PILLAR_T = [(d - REF).days / 365 for d in PILLAR_DATES]
PILLAR_DF = [math.exp(-(0.025 + 0.015 * (1.0 - math.exp(-t / 6.0))) * t) for t in PILLAR_T]
DATED_CURVE = quelm.YieldCurve.from_discount_factors(PILLAR_T, PILLAR_DF, interp="log-linear",
                                                     extrapolate="flat-forward", reference_date=REF)
DATED_BOND = quelm.FixedRateBond.dated("2024-11-15", "2044-11-15", 0.0425, calendar="us-government-bond")
SPREAD = 0.005


def ql_price_off_curve():
    if ql is None:
        return {}
    qd = lambda d: ql.Date(d.day, d.month, d.year)  # noqa: E731
    curve = ql.DiscountCurve([qd(REF)] + [qd(d) for d in PILLAR_DATES], [1.0] + PILLAR_DF, ql.Actual365Fixed())
    spreaded = ql.ZeroSpreadedTermStructure(ql.YieldTermStructureHandle(curve), ql.QuoteHandle(ql.SimpleQuote(SPREAD)),
                                            ql.Continuous)
    cal = ql.UnitedStates(ql.UnitedStates.GovernmentBond)
    schedule = ql.Schedule(qd(DATED_BOND.issue), qd(DATED_BOND.maturity), ql.Period(ql.Semiannual), cal,
                           ql.Unadjusted, ql.Unadjusted, ql.DateGeneration.Backward, False)
    bond = ql.FixedRateBond(0, 100.0, schedule, [0.0425], ql.ActualActual(ql.ActualActual.ISMA), ql.Unadjusted)
    settle = qd(SETTLE)
    ql.Settings.instance().evaluationDate = settle
    price = ql.BondFunctions.cleanPrice(bond, spreaded, settle)
    ours = DATED_BOND.price_from_curve(DATED_CURVE, SETTLE, spread=SPREAD)["clean"]
    assert abs(price - ours) < 1e-9, (price, ours)
    return {"QuantLib BondFunctions.cleanPrice on a ZeroSpreadedTermStructure":
            lambda: ql.BondFunctions.cleanPrice(bond, spreaded, settle)}


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
        {"name": "DatedBond.price_from_curve, 20y semi-annual off a dated 12-pillar curve",
         "quelm": lambda: DATED_BOND.price_from_curve(DATED_CURVE, SETTLE, spread=SPREAD),
         "peers": ql_price_off_curve(), "number": n_ytm},
    ]
