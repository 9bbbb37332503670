"""Closed-form pricing per call: quelm vs the same formulas in pure Python and SciPy."""
from __future__ import annotations

import math

import quelm

ARGS = (100.0, 105.0, 0.05, 0.2, 1.0, "call", 0.01)


def _ncdf(x):
    return 0.5 * math.erfc(-x / math.sqrt(2.0))


def py_black_scholes(s, k, r, v, t, kind, q):
    d1 = (math.log(s / k) + (r - q + v * v / 2) * t) / (v * math.sqrt(t))
    d2 = d1 - v * math.sqrt(t)
    if kind == "call":
        return s * math.exp(-q * t) * _ncdf(d1) - k * math.exp(-r * t) * _ncdf(d2)
    return k * math.exp(-r * t) * _ncdf(-d2) - s * math.exp(-q * t) * _ncdf(-d1)


def py_greeks(s, k, r, v, t, kind, q):
    st = math.sqrt(t)
    d1 = (math.log(s / k) + (r - q + v * v / 2) * t) / (v * st)
    d2 = d1 - v * st
    pdf = math.exp(-d1 * d1 / 2) / math.sqrt(2 * math.pi)
    dq, dr = math.exp(-q * t), math.exp(-r * t)
    return {"delta": dq * _ncdf(d1), "gamma": dq * pdf / (s * v * st), "vega": s * dq * pdf * st,
            "theta": -s * dq * pdf * v / (2 * st) - r * k * dr * _ncdf(d2) + q * s * dq * _ncdf(d1),
            "rho": k * t * dr * _ncdf(d2)}


def _loop(call: str, names: dict, repeat: int = 100):
    """A function that makes `repeat` calls in a plain loop: the timing holds no per-call wrapper."""
    body = "def run():\n    for _ in range(%d):\n        %s\n" % (repeat, call)
    scope = dict(names)
    exec(body, scope)  # noqa: S102 - a fixed benchmark body
    return scope["run"]


def call_shape_case(number: int) -> dict:
    # Called as users write it, through the package's attribute (and math's): the lookup is
    # part of the cost (a module-level __getattr__ on the package would slow every one).
    names = {"quelm": quelm, "math": math}
    return {
        "name": "black_scholes call shape, 100 calls in a loop",
        "quelm": _loop("quelm.black_scholes(100.0, 105.0, 0.05, 0.2, 1.0, 'call')", names),
        "peers": {
            "quelm, six keywords": _loop(
                "quelm.black_scholes(spot=100.0, strike=105.0, rate=0.05, vol=0.2, t=1.0, option_type='call')",
                names),
            "quelm._core, positional": _loop("quelm._core.black_scholes(100.0, 105.0, 0.05, 0.2, 1.0, 'call')",
                                             names),
            "math.hypot of 6 floats": _loop("math.hypot(100.0, 105.0, 0.05, 0.2, 1.0, 0.3)", names),
        },
        "number": max(1, number // 100), "repeats": 20,
        "yardsticks": ("quelm, six keywords", "quelm._core, positional", "math.hypot of 6 floats"),
        "note": "quelm = positional; targets: keywords within 1.25x of positional (ratio >= 0.8), "
                "positional within 1.7x of math.hypot (ratio >= 0.59)",
    }


def cases(quick: bool) -> list:
    number = 2000 if quick else 20000
    target = quelm.black_scholes(*ARGS)
    out = [
        {"name": "black_scholes per call", "quelm": lambda: quelm.black_scholes(*ARGS),
         "peers": {"pure Python math": lambda: py_black_scholes(*ARGS),
                   "C builtin, no work (math.hypot of 6 floats)": lambda: math.hypot(1.0, 2.0, 3.0, 4.0, 5.0, 6.0)},
         "yardsticks": ("C builtin, no work (math.hypot of 6 floats)",),
         "number": number,
         "note": "the math.hypot row is the interpreter's own cost of calling a C function with six arguments"},
        call_shape_case(number),
        {"name": "greeks per call", "quelm": lambda: quelm.greeks(*ARGS),
         "peers": {"pure Python math": lambda: py_greeks(*ARGS)}, "number": number},
    ]
    try:
        from scipy.optimize import brentq
        from scipy.stats import norm

        def scipy_bs(s, k, r, v, t, q):
            d1 = (math.log(s / k) + (r - q + v * v / 2) * t) / (v * math.sqrt(t))
            d2 = d1 - v * math.sqrt(t)
            return s * math.exp(-q * t) * norm.cdf(d1) - k * math.exp(-r * t) * norm.cdf(d2)

        out[0]["peers"]["SciPy norm.cdf"] = lambda: scipy_bs(100.0, 105.0, 0.05, 0.2, 1.0, 0.01)
        out.append({
            "name": "implied_volatility per call",
            "quelm": lambda: quelm.implied_volatility(target, 100.0, 105.0, 0.05, 1.0, "call", 0.01),
            "peers": {
                "SciPy brentq (norm.cdf)": lambda: brentq(
                    lambda v: scipy_bs(100.0, 105.0, 0.05, v, 1.0, 0.01) - target, 1e-9, 10.0, xtol=1e-12),
                "SciPy brentq (pure math)": lambda: brentq(
                    lambda v: py_black_scholes(100.0, 105.0, 0.05, v, 1.0, "call", 0.01) - target, 1e-9, 10.0,
                    xtol=1e-12),
            },
            "number": max(1, number // 20),
        })
    except ImportError:
        pass
    return out
