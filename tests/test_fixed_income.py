"""Interpolation, YieldCurve and FixedRateBond against closed forms, SciPy and finite differences."""
from __future__ import annotations

import math
import pickle
from concurrent.futures import ProcessPoolExecutor

import numpy as np
import pytest
from scipy.interpolate import CubicSpline

import _quelm_testing as qt
import quelm

YC = quelm.YieldCurve
FRB = quelm.FixedRateBond
OUTSIDE = "invalid input: interpolate: x is outside the node range (no extrapolation)"


def curve_outside(t, first, last):
    return (f"invalid input: yield curve: t={t:g} is outside the pillar range [{first:g}, {last:g}] "
            "and the curve does not extrapolate (extrapolate=\"none\")")


def raises_value(fn, *args, message, **kw):
    with pytest.raises(ValueError) as info:
        fn(*args, **kw)
    assert str(info.value) == message


# ---------------------------------------------------------------- interpolation


def test_interpolation_small_cases():
    # Hand values: the line through (0, 0) and (1, 10); the spline on (0, 1, 2) -> (0, 1, 0)
    # has m1 = rhs/diag = -12/4 = -3 and S(0.5) = (-3·0.125)/6 + (0)·0.5 + (1 + 0.5)·0.5 = 0.6875.
    assert qt.linear_interpolate([0, 1], [0, 10], 0.5) == 5.0
    assert qt.spline_eval([0, 1], [0, 10], [0.5, 1.0]) == [5.0, 10.0]
    assert qt.spline_second_derivatives([0, 1, 2], [0, 1, 0]) == [0.0, -3.0, 0.0]
    assert qt.spline_eval([0, 1, 2], [0, 1, 0], [0.5]) == [0.6875]
    # An inner node uses the segment it starts; both ends are inside the range.
    assert qt.linear_interpolate([0, 1, 3], [1, 2, 6], 1.0) == 2.0
    assert qt.linear_interpolate([0, 1, 3], [1, 2, 6], 3.0) == 6.0
    assert math.isnan(qt.linear_interpolate([0, 1], [0, 1], math.nan))


@pytest.mark.parametrize("call", [
    lambda: qt.linear_interpolate([0, 1], [0, 10], 1.0000001),
    lambda: qt.linear_interpolate([0, 1], [0, 10], -1e-300),
    lambda: qt.spline_eval([0, 1, 2], [0, 1, 0], [2.0000001]),
])
def test_no_extrapolation(call):
    raises_value(call, message=OUTSIDE)


@pytest.mark.parametrize("xs, ys, message", [
    ([0, 1], [0], "interpolate: xs and ys must have equal length"),
    ([0], [0], "interpolate: need at least two nodes"),
    ([0, 0, 1], [0, 1, 2], "interpolate: xs must be strictly increasing"),
    ([0, 2, 1], [0, 1, 2], "interpolate: xs must be strictly increasing"),
])
def test_node_messages(xs, ys, message):
    raises_value(qt.validate_nodes, xs, ys, message="invalid input: " + message)
    raises_value(qt.linear_interpolate, xs, ys, 0.5, message="invalid input: " + message)
    raises_value(qt.spline_eval, xs, ys, [0.5], message="invalid input: " + message)


def test_singular_spline_system():
    # Nodes so close together that the first pivot 2(h0 + h1) underflows below 1e-300.
    raises_value(qt.spline_eval, [0.0, 1e-301, 2e-301], [0, 1, 0], [0.0],
                 message="numerical error: interpolate: singular spline system")


@pytest.mark.parametrize("seed", range(4))
def test_spline_against_scipy(seed):
    rng = np.random.default_rng(seed)
    n = 3 + 7 * seed
    xs = np.cumsum(rng.uniform(0.05, 2.0, n))
    ys = rng.normal(size=n)
    pts = np.concatenate([xs, rng.uniform(xs[0], xs[-1], 200)])
    ref = CubicSpline(xs, ys, bc_type="natural")(pts)
    got = np.array(qt.spline_eval(xs, ys, pts))
    assert np.allclose(got, ref, rtol=1e-12, atol=1e-12)
    m = qt.spline_second_derivatives(xs, ys)
    assert np.allclose(m, CubicSpline(xs, ys, bc_type="natural")(xs, 2), atol=1e-10)


@pytest.mark.parametrize("text, mode", [
    ("linear", "linear"), ("LINEAR", "linear"), ("log-linear", "log-linear"), ("Log_Linear", "log-linear"),
    ("loglinear", "log-linear"), ("natural-cubic", "natural-cubic"), ("Natural_Cubic", "natural-cubic"),
    ("naturalcubic", "natural-cubic"), ("CUBIC", "natural-cubic"),
])
def test_parse_interp_accepts(text, mode):
    assert qt.parse_interp(text) == mode


@pytest.mark.parametrize("text, echo", [("spline", '"spline"'), ("Linear ", '"linear "'), ("", '""'),
                                        ('a"b\\', '"a\\"b\\\\"')])
def test_parse_interp_rejects(text, echo):
    raises_value(qt.parse_interp, text,
                 message="interp must be 'linear', 'log-linear', or 'natural-cubic', got " + echo)


# ---------------------------------------------------------------- yield curve

PILLARS = [0.5, 1, 2, 5]
ZEROS = [0.02, 0.025, 0.03, 0.035]


def test_flat_curve():
    c = YC.flat(0.05)
    assert c.discount(2) == math.exp(-0.1)
    assert c.discount(0) == 1.0
    assert c.zero_rate(0) == 0.05
    assert c.forward_rate(1, 3) == pytest.approx(0.05, rel=1e-14)
    assert c.zero_rate(7.5) == pytest.approx(0.05, rel=1e-14)


def test_class_example_and_cubic_against_scipy():
    c = YC.from_zero_rates(PILLARS, ZEROS, interp="natural-cubic")
    spline = CubicSpline(PILLARS, ZEROS, bc_type="natural")
    for t in (0.5, 0.7, 1.5, 2.0, 3.3, 5.0):
        z = float(spline(t))
        assert c.discount(t) == pytest.approx(math.exp(-z * t), rel=1e-14)
        assert c.zero_rate(t) == pytest.approx(z, rel=1e-12)
    z15, z25 = float(spline(1.5)), float(spline(2.5))
    assert c.forward_rate(1.5, 2.5) == pytest.approx(z25 * 2.5 - z15 * 1.5, rel=1e-12)


def test_pillar_curve_range_and_zero():
    for interp in ("linear", "log-linear", "natural-cubic"):
        c = YC.from_zero_rates(PILLARS, ZEROS, interp=interp)
        assert c.discount(0) == 1.0
        assert c.zero_rate(0) == c.zero_rate(0.5)
        assert c.zero_rate(0.5) == pytest.approx(0.02, rel=1e-14)
        # The message names the time asked for and the pillar range.
        raises_value(c.discount, 0.25, message=curve_outside(0.25, 0.5, 5))
        raises_value(c.discount, 5.5, message=curve_outside(5.5, 0.5, 5))
        raises_value(c.forward_rate, 4, 6, message=curve_outside(6, 0.5, 5))


def test_zero_rate_at_zero_uses_the_t0_pillar():
    # Mended: a rate given at t = 0 is the limit of z(t) as t -> 0 for the zero-rate modes.
    for interp in ("linear", "natural-cubic"):
        c = YC.from_zero_rates([0, 1, 2], [0.01, 0.03, 0.04], interp=interp)
        assert c.zero_rate(0) == 0.01
        assert c.zero_rate(1e-9) == pytest.approx(0.01, abs=1e-8)
    # Log-linear stores ln P(0) = 0 there; its limit is the first positive pillar's rate.
    c = YC.from_zero_rates([0, 1, 2], [0.01, 0.03, 0.04], interp="log-linear")
    assert c.zero_rate(0) == c.zero_rate(1)
    assert c.zero_rate(1e-9) == pytest.approx(0.03, rel=1e-6)  # -ln(P)/t cancels at tiny t
    assert c.discount(0.5) == pytest.approx(math.exp(-0.015), rel=1e-14)


def test_log_linear_forward_constant_between_pillars():
    c = YC.from_zero_rates(PILLARS, ZEROS, interp="log-linear")
    for a, b in zip(PILLARS, PILLARS[1:]):
        exact = (ZEROS[PILLARS.index(b)] * b - ZEROS[PILLARS.index(a)] * a) / (b - a)
        pts = np.linspace(a, b, 6)
        for t1, t2 in zip(pts, pts[1:]):
            assert c.forward_rate(t1, t2) == pytest.approx(exact, rel=1e-9)


def test_linear_zero_rates_linear_between_pillars():
    c = YC.from_zero_rates(PILLARS, ZEROS, interp="linear")
    for t in (0.75, 1.25, 3.5, 4.9):
        ref = float(np.interp(t, PILLARS, ZEROS))
        assert c.zero_rate(t) == pytest.approx(ref, rel=1e-13)


def test_from_discount_factors_matches_zero_rates():
    dfs = [math.exp(-z * t) for z, t in zip(ZEROS, PILLARS)]
    for interp in ("linear", "log-linear", "natural-cubic"):
        a = YC.from_discount_factors(PILLARS, dfs, interp=interp)
        b = YC.from_zero_rates(PILLARS, ZEROS, interp=interp)
        for t in (0.5, 0.9, 3.0, 5.0):
            assert a.discount(t) == pytest.approx(b.discount(t), rel=1e-13)
    assert YC.from_zero_rates([0, 1], [0.02, 0.03]).discount(1) == pytest.approx(math.exp(-0.03), rel=1e-15)


BAD = math.nan
CURVE_MESSAGES = [
    (YC.from_zero_rates, ([1, 2], [0.02]), "yield curve: times and values must have equal length"),
    (YC.from_zero_rates, ([1], [0.02]), "yield curve: need at least two pillars"),
    (YC.from_zero_rates, ([-1, 2], [0.02, 0.03]), "yield curve: pillar times must be non-negative"),
    (YC.from_zero_rates, ([1, math.inf], [0.02, 0.03]), "yield curve: pillar times must be finite"),
    (YC.from_zero_rates, ([BAD, 2], [0.02, 0.03]), "yield curve: pillar times must be finite"),
    (YC.from_zero_rates, ([1, 1], [0.02, 0.03]), "yield curve: pillar times must be strictly increasing"),
    (YC.from_zero_rates, ([1, 2], [0.02, BAD]), "yield curve: zero rates must be finite"),
    (YC.from_discount_factors, ([0, 1], [1, 0.95]),
     "yield curve: discount-factor pillars must have t > 0; use from_zero_rates for a t=0 anchor"),
    (YC.from_discount_factors, ([1, 2], [0.97, 0.0]), "yield curve: discount factors must be finite and positive"),
    (YC.from_discount_factors, ([1, 2], [0.97, -1]), "yield curve: discount factors must be finite and positive"),
    (YC.from_discount_factors, ([1, 2], [math.inf, 0.9]), "yield curve: discount factors must be finite and positive"),
    (YC.from_discount_factors, ([1, 2], [0.9]), "yield curve: times and values must have equal length"),
    (YC.flat, (math.inf,), "yield curve: rate must be finite"),
    (YC.flat(0.05).discount, (-1,), "yield curve: t must be >= 0"),
    (YC.flat(0.05).zero_rate, (-1e-300,), "yield curve: t must be >= 0"),
    (YC.flat(0.05).forward_rate, (-1, 2), "yield curve: t1 must be >= 0"),
    (YC.flat(0.05).forward_rate, (2, 2), "yield curve: require t2 > t1"),
]


@pytest.mark.parametrize("fn, args, message", CURVE_MESSAGES)
def test_curve_messages(fn, args, message):
    raises_value(fn, *args, message="invalid input: " + message)


def test_curve_mode_parsed_before_pillars_and_types():
    raises_value(YC.from_zero_rates, [1, 2], [0.02], interp="bogus",
                 message="interp must be 'linear', 'log-linear', or 'natural-cubic', got \"bogus\"")
    raises_value(YC.from_discount_factors, [0], [1], "Spline",
                 message="interp must be 'linear', 'log-linear', or 'natural-cubic', got \"spline\"")
    with pytest.raises(TypeError, match="^argument 'times': "):
        YC.from_zero_rates("12", [0.02, 0.03])
    with pytest.raises(TypeError, match="^No constructor defined for YieldCurve$"):
        YC()
    with pytest.raises(TypeError):
        type("Sub", (YC,), {})
    with pytest.raises((AttributeError, TypeError)):
        YC.flat(0.05).rate = 1.0


def test_curve_numpy_inputs_equal_lists():
    a = YC.from_zero_rates(np.array(PILLARS, dtype=float), np.array(ZEROS), "natural-cubic")
    assert a == YC.from_zero_rates(PILLARS, ZEROS, "natural-cubic")
    assert a != YC.from_zero_rates(PILLARS, ZEROS, "linear")
    assert YC.flat(0.05) != YC.flat(0.04) and YC.flat(0.05) != 0.05


# ---------------------------------------------------------------- bonds


def test_regular_bond_at_par():
    b = FRB.regular(face=100, coupon_rate=0.05, frequency=2, n_periods=10)
    assert b.accrued == 0.0
    assert b.clean_price_from_yield(0.05) == pytest.approx(100.0, rel=1e-12)
    assert b.yield_to_maturity(100.0) == pytest.approx(0.05, abs=1e-11)
    # Its flows are 2.5 every half year and 102.5 at 5y: a flat curve prices them as Σ a·exp(−r t).
    r = 0.04
    ref = sum(2.5 * math.exp(-r * k / 2) for k in range(1, 11)) + 100 * math.exp(-r * 5)
    dirty, clean = b.price_from_curve(YC.flat(r))
    assert dirty == pytest.approx(ref, rel=1e-14) and clean == dirty
    assert b == FRB.from_cashflows([k / 2 for k in range(1, 11)], [2.5] * 9 + [102.5], 2, face=100,
                                   coupon_rate=0.05)


@pytest.mark.parametrize("coupon", [0.0, 0.02, 0.07])
@pytest.mark.parametrize("freq", [1, 2, 4, 12])
@pytest.mark.parametrize("years", [1, 10, 30])
def test_yield_round_trip(coupon, freq, years):
    b = FRB.regular(100, coupon, freq, years * freq)
    for y in (-0.01, 0.03, 0.12):
        clean = b.clean_price_from_yield(y)
        assert b.yield_to_maturity(clean) == pytest.approx(y, abs=1e-9)


def test_zero_coupon_closed_forms():
    b = FRB.from_cashflows([2.0], [100.0], 1)
    y = 0.05
    assert b.dirty_price_from_yield(y) == pytest.approx(100 / 1.05 ** 2, rel=1e-15)
    assert b.macaulay_duration(y) == pytest.approx(2.0, rel=1e-15)
    assert b.modified_duration(y) == pytest.approx(2 / 1.05, rel=1e-15)
    assert b.convexity(y) == pytest.approx(2 * 3 / 1.05 ** 2, rel=1e-15)


def test_duration_and_convexity_against_finite_differences():
    b = FRB.from_cashflows([0.3, 0.8, 1.3, 1.8, 2.3], [3, 3, 3, 3, 103], 2, accrued=1.2)
    y, h = 0.045, 1e-5
    p = b.dirty_price_from_yield(y)
    up, down = b.dirty_price_from_yield(y + h), b.dirty_price_from_yield(y - h)
    assert b.clean_price_from_yield(y) == pytest.approx(p - 1.2, rel=1e-15)
    assert b.modified_duration(y) == pytest.approx(-(up - down) / (2 * h) / p, rel=1e-8)
    assert b.macaulay_duration(y) == pytest.approx(b.modified_duration(y) * (1 + y / 2), rel=1e-14)
    assert b.convexity(y) == pytest.approx((up - 2 * p + down) / (h * h) / p, rel=1e-4)


def test_accrued_and_curve_pricing():
    b = FRB.from_cashflows([0.5, 1.0], [2.0, 102.0], 2, accrued=0.75)
    assert b.accrued == 0.75
    c = YC.from_zero_rates([0.25, 1.0], [0.03, 0.04], "linear")
    d = 2 * math.exp(-(0.03 + 0.01 * (0.25 / 0.75)) * 0.5) + 102 * math.exp(-0.04)
    dirty, clean = b.price_from_curve(curve=c)
    assert dirty == pytest.approx(d, rel=1e-14) and clean == pytest.approx(d - 0.75, rel=1e-14)
    assert b.yield_to_maturity(b.clean_price_from_yield(0.3)) == pytest.approx(0.3, abs=1e-9)
    # Positivity is judged on the dirty price: a clean quote of -0.5 is a dirty 0.25, whose
    # yield lies far above the search bracket.
    raises_value(b.yield_to_maturity, -0.5, message="numerical error: brent: endpoints do not bracket a root")
    # The bond names the cash flow the curve cannot discount.
    raises_value(b.price_from_curve, YC.from_zero_rates([0.25, 0.9], [0.03, 0.04]),
                 message="invalid input: bond: cash flow at t=1: yield curve: t=1 is outside the pillar range "
                         "[0.25, 0.9] and the curve does not extrapolate (extrapolate=\"none\")")
    with pytest.raises(AttributeError):
        b.accrued = 1.0


BOND_MESSAGES = [
    (lambda: FRB.regular(100, 0.05, 0, 10), "invalid input: bond: frequency must be >= 1"),
    (lambda: FRB.regular(100, 0.05, 2, 0), "invalid input: bond: need at least one period"),
    (lambda: FRB.regular(0, 0.05, 2, 10), "invalid input: bond: face must be positive and coupon rate finite"),
    (lambda: FRB.regular(math.nan, 0.05, 2, 10), "invalid input: bond: face must be positive and coupon rate finite"),
    (lambda: FRB.regular(100, math.inf, 2, 10), "invalid input: bond: face must be positive and coupon rate finite"),
    (lambda: FRB.from_cashflows([1], [105], 0), "invalid input: bond: frequency must be >= 1"),
    (lambda: FRB.from_cashflows([1], [105], 1, accrued=-0.1),
     "invalid input: bond: accrued must be finite and non-negative"),
    (lambda: FRB.from_cashflows([1], [105], 1, accrued=math.inf),
     "invalid input: bond: accrued must be finite and non-negative"),
    (lambda: FRB.from_cashflows([], [], 1), "invalid input: bond: no cashflows"),
    (lambda: FRB.from_cashflows([], [], 0), "invalid input: bond: no cashflows"),
    (lambda: FRB.from_cashflows([1, 1], [5, 105], 1), "invalid input: bond: cashflow times must be strictly increasing"),
    (lambda: FRB.from_cashflows([2, 1, 0], [5, 105, 1], 1),
     "invalid input: bond: cashflow times must be finite and strictly positive, amounts finite"),
    (lambda: FRB.from_cashflows([0, 1], [5, 105], 1),
     "invalid input: bond: cashflow times must be finite and strictly positive, amounts finite"),
    (lambda: FRB.from_cashflows([1, 2], [5, math.nan], 1),
     "invalid input: bond: cashflow times must be finite and strictly positive, amounts finite"),
    (lambda: FRB.from_cashflows([1, 2], [5], 1), "times and amounts must have equal length"),
    (lambda: FRB.regular(100, 0.05, 2, 10).dirty_price_from_yield(-2.5),
     "numerical error: bond: yield below -frequency makes the discount base non-positive"),
    (lambda: FRB.regular(100, 0.05, 2, 10).convexity(-2.0),
     "numerical error: bond: yield below -frequency makes the discount base non-positive"),
    (lambda: FRB.from_cashflows([1], [-5], 1).macaulay_duration(0.05), "numerical error: bond: non-positive price in duration"),
    (lambda: FRB.from_cashflows([1], [-5], 1).modified_duration(0.05), "numerical error: bond: non-positive price in duration"),
    (lambda: FRB.from_cashflows([1], [0], 1).convexity(0.05), "numerical error: bond: non-positive price in convexity"),
    (lambda: FRB.regular(100, 0.05, 1, 5).yield_to_maturity(1.0), "numerical error: brent: endpoints do not bracket a root"),
    (lambda: FRB.regular(100, 0.05, 1, 5).yield_to_maturity(0.0), "invalid input: bond: price must be positive"),
    (lambda: FRB.regular(100, 0.05, 1, 5).yield_to_maturity(math.nan), "invalid input: bond: price must be positive"),
    (lambda: FRB.from_cashflows([1], [5], 1, accrued=1).yield_to_maturity(-1.0), "invalid input: bond: price must be positive"),
]


@pytest.mark.parametrize("call, message", BOND_MESSAGES)
def test_bond_messages(call, message):
    raises_value(call, message=message)


def test_bond_argument_conversion():
    for bad in (-1, 2 ** 32):
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
            FRB.regular(100, 0.05, bad, 10)
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
            FRB.regular(100, 0.05, 2, bad)
    with pytest.raises(TypeError, match="^argument 'frequency': "):
        FRB.regular(100, 0.05, 2.0, 10)
    b = FRB.regular(100, 0.05, 2, 10)
    for bad in (None, 0.05, b):
        with pytest.raises(TypeError, match="^argument 'curve': .*YieldCurve"):
            b.price_from_curve(bad)
    with pytest.raises(TypeError, match="^No constructor defined for FixedRateBond$"):
        FRB()
    # The largest frequency converts: one coupon of 5/4294967295 plus the face, at y = 0.
    assert FRB.regular(100, 0.05, 4294967295, 1).dirty_price_from_yield(0.0) == 100.0 + 5.0 / 4294967295


# ---------------------------------------------------------------- pickling

def _curves():
    return [
        YC.flat(0.05),
        YC.from_zero_rates(PILLARS, ZEROS, "linear"),
        YC.from_zero_rates([0, 1, 3], [0.01, 0.02, 0.025], "log-linear"),
        YC.from_zero_rates(PILLARS, ZEROS, "natural-cubic"),
        YC.from_discount_factors([0.5, 1, 2], [0.99, 0.975, 0.94], "log-linear"),
        YC.from_discount_factors([0.5, 1, 2], [0.99, 0.975, 0.94], "cubic"),
    ]


def _bonds():
    return [FRB.regular(100, 0.05, 2, 10),
            FRB.from_cashflows([0.3, 1.3], [4, 104], 1, accrued=0.7, face=math.nan, coupon_rate=0.04)]


def test_pickle_round_trips_are_equal_and_exact():
    for obj in _curves() + _bonds():
        back = pickle.loads(pickle.dumps(obj, protocol=pickle.HIGHEST_PROTOCOL))
        assert type(back) is type(obj) and back == obj
        assert repr(back) == repr(obj)
    for c, back in zip(_curves(), [pickle.loads(pickle.dumps(c)) for c in _curves()]):
        for t in (0.5, 0.8, 1.7, 2.0):
            assert back.discount(t) == c.discount(t) and back.zero_rate(0) == c.zero_rate(0)
    assert repr(YC.flat(0.05)) == "YieldCurve.flat(0.05)"
    assert repr(_curves()[3]) == "<YieldCurve natural-cubic, 4 pillars from t=0.5 to t=5>"


def _price_on(args):
    curve, bond = args
    return bond.price_from_curve(curve), bond.yield_to_maturity(95.0), curve.discount(1.5)


# Forking after the worker pool has started is supported (the pool is rebuilt in the child);
# Python 3.12+ warns about any fork of a threaded process.
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_use_inside_process_pool():
    curve = YC.from_zero_rates([0.5, 1, 2, 5, 10], [0.02, 0.025, 0.03, 0.035, 0.037], "natural-cubic")
    bonds = [FRB.regular(100, c, 2, 16) for c in (0.02, 0.04, 0.06)]
    with ProcessPoolExecutor(max_workers=2) as pool:
        remote = list(pool.map(_price_on, [(curve, b) for b in bonds]))
    assert remote == [_price_on((curve, b)) for b in bonds]
