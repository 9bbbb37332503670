"""Heston, SABR, SVI and the volatility surface: published values, QuantLib as an optional
oracle, calibrations that recover the parameters that made their quotes, and bad input."""
from __future__ import annotations

import math
import pickle
import random
import re

import pytest

import quelm

LEWIS = dict(v0=0.04, kappa=4.0, theta=0.25, xi=1.0, rho=-0.5)


# --- Heston --------------------------------------------------------------------------------

# Lewis, "Option Valuation under Stochastic Volatility" (2000), the reference set also used by
# Andersen and Le Floc'h: S = 100, r = 1 %, q = 2 %, T = 1, v0 = 0.04, kappa = 4, theta = 0.25,
# xi = 1, rho = -0.5. Calls; puts follow by parity.
LEWIS_CALLS = {80: 26.774758743998854, 90: 20.933349000596710, 100: 16.070154917028834,
               110: 12.132211516709845, 120: 9.024913483457836}


@pytest.mark.parametrize("strike", sorted(LEWIS_CALLS))
def test_heston_reproduces_lewis_reference_prices(strike):
    call = quelm.heston_price(100, strike, 0.01, 1.0, "call", **LEWIS, dividend_yield=0.02)
    put = quelm.heston_price(100, strike, 0.01, 1.0, "put", **LEWIS, dividend_yield=0.02)
    assert abs(call - LEWIS_CALLS[strike]) < 1e-8
    parity = 100 * math.exp(-0.02) - strike * math.exp(-0.01)
    assert abs(put - (LEWIS_CALLS[strike] - parity)) < 1e-8


def _quantlib_heston(ql, s, k, r, q, days, kind, p):
    today = ql.Date(2, 1, 2024)
    ql.Settings.instance().evaluationDate = today
    dc = ql.Actual365Fixed()
    rts = ql.YieldTermStructureHandle(ql.FlatForward(today, r, dc))
    dts = ql.YieldTermStructureHandle(ql.FlatForward(today, q, dc))
    process = ql.HestonProcess(rts, dts, ql.QuoteHandle(ql.SimpleQuote(s)), p["v0"], p["kappa"], p["theta"],
                               p["xi"], p["rho"])
    option = ql.EuropeanOption(ql.PlainVanillaPayoff(ql.Option.Call if kind == "call" else ql.Option.Put, k),
                               ql.EuropeanExercise(today + days))
    option.setPricingEngine(ql.AnalyticHestonEngine(ql.HestonModel(process), 1e-13, 1_000_000))
    return option.NPV()


def test_heston_agrees_with_quantlib_on_a_random_grid():
    ql = pytest.importorskip("QuantLib")
    rng = random.Random(7)
    for _ in range(60):
        p = dict(v0=rng.uniform(0.01, 0.2), kappa=rng.uniform(0.5, 5.0), theta=rng.uniform(0.01, 0.2),
                 xi=rng.uniform(0.1, 1.0), rho=rng.uniform(-0.9, 0.3))
        s, r, q = 100.0, rng.uniform(-0.01, 0.06), rng.uniform(0.0, 0.04)
        days = rng.randint(30, 3 * 365)
        k, kind = s * rng.uniform(0.7, 1.4), rng.choice(["call", "put"])
        got = quelm.heston_price(s, k, r, days / 365.0, kind, **p, dividend_yield=q)
        want = _quantlib_heston(ql, s, k, r, q, days, kind, p)
        assert abs(got - want) < 1e-7, (p, s, k, r, q, days, kind, got, want)


def test_heston_tends_to_black_scholes_as_xi_vanishes():
    for kind, k in (("call", 90.0), ("put", 110.0), ("call", 130.0)):
        bs = quelm.black_scholes(100, k, 0.03, 0.2, 0.8, kind, 0.01)
        exact = quelm.heston_price(100, k, 0.03, 0.8, kind, 0.04, 1.7, 0.04, 0.0, -0.6, 0.01)
        assert abs(exact - bs) < 1e-12
        gaps = [abs(quelm.heston_price(100, k, 0.03, 0.8, kind, 0.04, 1.7, 0.04, xi, -0.6, 0.01) - bs)
                for xi in (1e-2, 1e-4, 1e-6, 1e-9)]
        assert gaps == sorted(gaps, reverse=True) and gaps[-1] < 1e-8


def test_heston_limits_and_bits():
    args = (100.0, 95.0, 0.02, 0.7, "put", 0.05, 2.0, 0.05, 0.5, -0.7)
    first = quelm.heston_price(*args)
    assert all(quelm.heston_price(*args) == first for _ in range(5))
    assert quelm.heston_price(100, 95, 0.02, 0.0, "put", 0.05, 2.0, 0.05, 0.5, -0.7) == 0.0
    assert quelm.heston_price(0.0, 95, 0.02, 1.0, "put", 0.05, 2.0, 0.05, 0.5, -0.7) == pytest.approx(
        95 * math.exp(-0.02), abs=1e-12)
    # No variance at all: the discounted forward payoff.
    assert quelm.heston_price(100, 95, 0.02, 1.0, "call", 0.0, 2.0, 0.0, 0.5, -0.7) == pytest.approx(
        (100 * math.exp(0.02) - 95) * math.exp(-0.02), abs=1e-12)
    for extreme in (-1.0, 1.0):  # perfectly correlated shocks are a valid model
        v = quelm.heston_price(100, 100, 0.02, 1.0, "call", 0.04, 2.0, 0.04, 0.5, extreme)
        assert 0.0 < v < 100.0


HESTON_BASE = dict(spot=100.0, strike=110.0, rate=0.03, t=1.0, v0=0.09, kappa=2.0, theta=0.04, xi=0.5, rho=-0.5,
                   dividend_yield=0.01)


def _heston(kind, **change):
    a = dict(HESTON_BASE, **change)
    return quelm.heston_price(a.pop("spot"), a.pop("strike"), a.pop("rate"), a.pop("t"), kind, **a)


# Finite inputs far out, each with the value it must reach (no-arbitrage bounds: the call
# tends to S e^(-qT) and the put to K e^(-rT) as the total variance grows without bound).
@pytest.mark.parametrize("change, call, put", [
    (dict(t=1e6, rate=0.0, dividend_yield=0.0), 100.0, 110.0),      # variance without bound, no carry
    (dict(t=1e6), 0.0, 0.0),                                        # both legs discounted below any double
    (dict(rate=1e3), 100 * math.exp(-0.01), 0.0),                   # the strike worth nothing today
    (dict(rate=1e300), 100 * math.exp(-0.01), 0.0),
    (dict(dividend_yield=1e3), 0.0, 110 * math.exp(-0.03)),         # the spot worth nothing at expiry
    (dict(rate=-1e3), 0.0, None),                                   # the put's strike leg overflows
    (dict(dividend_yield=-1e3), None, 0.0),
    # Instant mean reversion: the variance is theta throughout, Black-Scholes at vol 0.2.
    (dict(kappa=1e300), quelm.black_scholes(100, 110, 0.03, 0.2, 1.0, "call", 0.01),
     quelm.black_scholes(100, 110, 0.03, 0.2, 1.0, "put", 0.01)),
    (dict(kappa=1e99), quelm.black_scholes(100, 110, 0.03, 0.2, 1.0, "call", 0.01),
     quelm.black_scholes(100, 110, 0.03, 0.2, 1.0, "put", 0.01)),
])
def test_heston_extreme_finite_inputs_reach_their_limits(change, call, put):
    for kind, want in (("call", call), ("put", put)):
        if want is None:
            with pytest.raises(ValueError, match="^numerical error: the option's price overflows"):
                _heston(kind, **change)
        else:
            assert _heston(kind, **change) == pytest.approx(want, rel=1e-12, abs=1e-300), (kind, change)


def test_heston_never_returns_nan_for_finite_input():
    extremes = dict(spot=[1e-300, 1e300], strike=[1e-300, 1e300], rate=[-1e300, -700.0, 700.0, 1e300],
                    t=[1e-300, 1e6, 1e300], v0=[0.0, 1e300], kappa=[1e-300, 1e300], theta=[0.0, 1e300],
                    xi=[1e-300, 1e10, 1e300], rho=[-1.0, 1.0], dividend_yield=[-1e300, 1e3, 1e300])
    for name, values in extremes.items():
        for value in values:
            for kind in ("call", "put"):
                try:
                    v = _heston(kind, **{name: value})
                except ValueError as e:
                    assert str(e).startswith("numerical error: "), (name, value, kind)
                    continue
                assert math.isfinite(v) and v >= 0, (name, value, kind, v)


@pytest.mark.parametrize("change, message", [
    (dict(strike=-1.0), "invalid input: strike must be > 0"),
    (dict(spot=-1.0), "invalid input: spot must be >= 0"),
    (dict(t=-0.5), "invalid input: time to expiry must be >= 0"),
    (dict(v0=-0.01), "invalid input: v0 must be >= 0"),
    (dict(kappa=0.0), "invalid input: kappa must be > 0"),
    (dict(theta=-0.01), "invalid input: theta must be >= 0"),
    (dict(xi=-0.1), "invalid input: xi must be >= 0"),
    (dict(rho=1.0000001), r"invalid input: rho must be in \[-1, 1\]"),
    (dict(option_type="straddle"), "option_type must be"),
])
def test_heston_rejects_bad_input(change, message):
    args = dict(spot=100.0, strike=100.0, rate=0.02, t=1.0, option_type="call", v0=0.04, kappa=1.5, theta=0.04,
                xi=0.5, rho=-0.5)
    args.update(change)
    with pytest.raises(ValueError, match=message):
        quelm.heston_price(**args)


def test_heston_nan_in_gives_nan_out():
    for i in range(10):
        args = [100.0, 100.0, 0.02, 1.0, 0.04, 1.5, 0.04, 0.5, -0.5]
        if i < len(args):
            args[i] = math.nan
            assert math.isnan(quelm.heston_price(*args[:4], "call", *args[4:]))


def test_heston_chain_in_vec_has_the_bits_of_each_single_call():
    # A chain shares the characteristic function across its strikes (each rule's nodes built
    # once, and kept per thread): every element must still be the single call's value, in any
    # order, mixed with other expiries and parameters, and whatever was priced before.
    np = pytest.importorskip("numpy")
    import quelm.vec

    p = dict(v0=0.04, kappa=1.5, theta=0.05, xi=0.6, rho=-0.7)
    strikes = np.linspace(40.0, 250.0, 61)
    kinds = np.where(strikes < 100, "put", "call")
    chain = quelm.vec.heston_price(100.0, strikes, 0.02, 0.75, kinds, **p, dividend_yield=0.01)
    single = [quelm.heston_price(100.0, k, 0.02, 0.75, kind, **p, dividend_yield=0.01)
              for k, kind in zip(strikes.tolist(), kinds.tolist())]
    assert chain.tolist() == single
    assert quelm.vec.heston_price(100.0, strikes[::-1], 0.02, 0.75, kinds[::-1], **p,
                                  dividend_yield=0.01).tolist() == single[::-1]
    # Two expiries and two values of xi broadcast against the strikes: many grids in play.
    t = np.array([[0.25], [2.0]])[:, :, None]
    xi = np.array([0.3, 0.9])[:, None]
    grid = quelm.vec.heston_price(100.0, strikes[::7], 0.02, t, "call", p["v0"], p["kappa"], p["theta"], xi,
                                  p["rho"])
    for (a, b, c), v in np.ndenumerate(grid):
        assert v == quelm.heston_price(100.0, strikes[::7][c], 0.02, float(t[a, 0, 0]), "call", p["v0"], p["kappa"],
                                       p["theta"], float(xi[b, 0]), p["rho"])


CHAIN_TRUTH = dict(v0=0.045, kappa=1.8, theta=0.065, xi=0.7, rho=-0.65)


def _chain(quote_type="price"):
    strikes, expiries, quotes, kinds = [], [], [], []
    for t in (0.25, 0.5, 1.0, 1.5, 2.5):
        for k in range(70, 135, 5):
            kind = "put" if k < 100 else "call"
            price = quelm.heston_price(100, k, 0.02, t, kind, **CHAIN_TRUTH, dividend_yield=0.01)
            quote = price if quote_type == "price" else quelm.implied_volatility(price, 100, k, 0.02, t, kind, 0.01)
            strikes.append(float(k)), expiries.append(t), quotes.append(quote), kinds.append(kind)
    return strikes, expiries, quotes, kinds


@pytest.mark.parametrize("quote_type", ["price", "vol"])
def test_heston_calibration_recovers_the_parameters_behind_its_quotes(quote_type):
    strikes, expiries, quotes, kinds = _chain(quote_type)
    fit = quelm.heston_calibrate(100, strikes, expiries, quotes, 0.02, dividend_yield=0.01, quote_type=quote_type,
                                 option_types=kinds)
    assert fit["converged"]
    for name, value in CHAIN_TRUTH.items():
        assert fit[name] == pytest.approx(value, rel=1e-5, abs=1e-6), name
    assert fit["rmse"] < 1e-8 and fit["max_error"] < 1e-7
    assert len(fit["residuals"]) == len(quotes)
    again = quelm.heston_calibrate(100, strikes, expiries, quotes, 0.02, dividend_yield=0.01, quote_type=quote_type,
                                   option_types=kinds)
    assert again == fit
    if quote_type == "price":  # the chain pricer inside has each single call's bits, quotes shuffled or not
        fitted = {name: fit[name] for name in CHAIN_TRUTH}
        order = random.Random(5).sample(range(len(quotes)), len(quotes))
        shuffled = quelm.heston_calibrate(100, [strikes[i] for i in order], [expiries[i] for i in order],
                                          [quotes[i] for i in order], 0.02, dividend_yield=0.01,
                                          option_types=[kinds[i] for i in order],
                                          initial=list(fitted.values()), max_iterations=0)
        for j, i in enumerate(order):
            single = quelm.heston_price(100, strikes[i], 0.02, expiries[i], kinds[i], **fitted, dividend_yield=0.01)
            assert shuffled["residuals"][j] == single - quotes[i]


def test_heston_calibration_honours_bounds_weights_and_start():
    strikes, expiries, quotes, kinds = _chain()
    bounds = [(0.01, 0.2), (0.5, 5.0), (0.01, 0.2), (0.1, 0.5), (-0.9, 0.0)]  # xi capped below the truth
    fit = quelm.heston_calibrate(100, strikes, expiries, quotes, 0.02, dividend_yield=0.01, option_types=kinds,
                                 bounds=bounds, initial=[0.04, 1.0, 0.04, 0.3, -0.3],
                                 weights=[1.0] * len(quotes), max_iterations=50)
    assert fit["xi"] <= 0.5 and fit["rmse"] > 1e-4


@pytest.mark.parametrize("kwargs, message", [
    (dict(strikes=[100.0] * 4), "strikes, expiries and quotes must have equal length"),
    (dict(quote_type="delta"), "quote_type must be"),
    (dict(initial=[0.04, 1.0]), "invalid input: initial must hold five values"),
    (dict(bounds=[(0.0, 1.0)] * 4), "invalid input: bounds must hold five"),
    (dict(weights=[-1.0] * 5), "invalid input: weights must be finite and >= 0"),
    (dict(quotes=[1.0, 2.0, math.nan, 3.0, 4.0]), "invalid input: quotes must be finite and > 0"),
])
def test_heston_calibration_rejects_bad_input(kwargs, message):
    args = dict(spot=100.0, strikes=[90.0, 95.0, 100.0, 105.0, 110.0], expiries=[1.0] * 5,
                quotes=[12.0, 8.5, 5.6, 3.4, 1.9], rate=0.02)
    args.update(kwargs)
    with pytest.raises(ValueError, match=message):
        quelm.heston_calibrate(**args)


# Quotes no option can have: a call above the spot, a put above the discounted strike, a
# call below its discounted intrinsic value (Merton 1973's bounds; r = 2 %, q = 1 %, T = 1).
@pytest.mark.parametrize("quotes, kinds, bad", [
    ([120.0, 118.0, 115.0, 112.0, 110.0], "call", 0),
    ([12.0, 8.5, 5.6, 6.5, 9.8], ["call", "call", "call", "put", "put"], None),
    ([12.0, 8.5, 5.6, 6.5, 108.0], ["call", "call", "call", "put", "put"], 4),
    ([9.0, 8.5, 5.6, 3.4, 1.9], "call", 0),
])
def test_heston_calibration_rejects_quotes_outside_no_arbitrage_bounds(quotes, kinds, bad):
    strikes, expiries = [90.0, 95.0, 100.0, 105.0, 110.0], [1.0] * 5
    kw = dict(dividend_yield=0.01, option_types=kinds)
    if bad is None:  # inside the bounds: a fit, whatever its quality
        assert quelm.heston_calibrate(100, strikes, expiries, quotes, 0.02, **kw)["rmse"] >= 0
        return
    with pytest.raises(ValueError) as heston:
        quelm.heston_calibrate(100, strikes, expiries, quotes, 0.02, **kw)
    assert str(heston.value).startswith(f"invalid input: quote {bad}: price {quotes[bad]:g} outside no-arbitrage bounds")
    # The surface's check, word for word.
    with pytest.raises(ValueError) as surface:
        quelm.VolSurface.from_chain(strikes, expiries, quotes, 100, 0.02, **kw)
    assert str(heston.value) == str(surface.value)


def test_heston_calibration_held_at_its_bounds_is_not_converged():
    # Calls just under the spot at every strike, inside the bounds but far beyond any Heston
    # smile: the fit runs into the box's corner, where the steps stop.
    fit = quelm.heston_calibrate(100, [90.0, 95.0, 100.0, 105.0, 110.0], [1.0] * 5, [99.0, 98.5, 98.0, 97.5, 97.0],
                                 0.02)
    assert fit["rmse"] > 1 and fit["iterations"] < 200
    assert fit["v0"] == 4.0 and fit["xi"] == 5.0 and not fit["converged"]


# --- SABR ----------------------------------------------------------------------------------

def test_sabr_matches_hagans_at_the_money_formula():
    # Hagan et al. (2002), eq. (2.18): the at-the-money vol in closed form.
    for f, t, a, b, r, n in ((0.03, 1.0, 0.03, 0.5, -0.3, 0.4), (100.0, 2.0, 0.3, 1.0, 0.2, 0.6),
                             (0.05, 5.0, 0.01, 0.0, -0.5, 0.25)):
        fb = f ** (1 - b)
        want = a / fb * (1 + ((1 - b) ** 2 / 24 * a * a / fb ** 2 + r * b * a * n / (4 * fb)
                              + (2 - 3 * r * r) / 24 * n * n) * t)
        assert quelm.sabr_vol(f, f, t, a, b, r, n) == pytest.approx(want, rel=1e-14)
        # Continuous through the money: no 0/0 and no lost digits beside it.
        for eps in (1e-15, 1e-12, 1e-9, 1e-7, 1e-5):
            assert quelm.sabr_vol(f, f * (1 + eps), t, a, b, r, n) == pytest.approx(want, rel=10 * eps + 1e-14)


def test_sabr_lognormal_limit_is_flat():
    # beta = 1 and nu = 0: geometric Brownian motion, every strike at alpha.
    for k in (50.0, 100.0, 170.0):
        assert quelm.sabr_vol(100.0, k, 3.0, 0.25, 1.0, 0.0, 0.0) == pytest.approx(0.25, rel=1e-15)


def test_sabr_agrees_with_quantlib_on_a_random_grid():
    ql = pytest.importorskip("QuantLib")
    rng = random.Random(11)
    for _ in range(2000):
        f = rng.uniform(0.005, 0.08)
        k = f * math.exp(rng.uniform(-1.0, 1.0))
        t, a, b = rng.uniform(0.1, 10.0), rng.uniform(0.005, 0.1), rng.uniform(0.0, 1.0)
        a *= f ** (b - 1) * 0.2 / 0.02 * 0.1
        r, n = rng.uniform(-0.9, 0.9), rng.uniform(0.0, 1.5)
        want = ql.sabrVolatility(k, f, t, a, b, n, r)
        try:
            got = quelm.sabr_vol(f, k, t, a, b, r, n)
        except ValueError as e:  # the expansion's breakdown: QuantLib's formula goes negative there
            assert str(e).startswith("numerical error: Hagan's expansion") and want < 0, (f, k, t, a, b, r, n)
            continue
        assert got == pytest.approx(want, rel=1e-10, abs=1e-12), (f, k, t, a, b, r, n)


def test_sabr_calibration_recovers_its_parameters():
    ks = [0.015, 0.02, 0.025, 0.03, 0.035, 0.04, 0.05, 0.06]
    for alpha, rho, nu in ((0.035, -0.25, 0.45), (0.02, 0.3, 0.8), (0.05, -0.7, 0.2)):
        vols = [quelm.sabr_vol(0.03, k, 2.0, alpha, 0.5, rho, nu) for k in ks]
        fit = quelm.sabr_calibrate(0.03, ks, vols, 2.0, beta=0.5)
        assert (fit["alpha"], fit["rho"], fit["nu"]) == pytest.approx((alpha, rho, nu), rel=1e-6, abs=1e-8)
        assert fit["beta"] == 0.5 and fit["converged"] and fit["rmse"] < 1e-10


@pytest.mark.parametrize("args, message", [
    ((0.0, 0.03, 1.0, 0.03, 0.5, 0.0, 0.4), "invalid input: forward must be > 0"),
    ((0.03, -0.03, 1.0, 0.03, 0.5, 0.0, 0.4), "invalid input: strike must be > 0"),
    ((0.03, 0.03, -1.0, 0.03, 0.5, 0.0, 0.4), "invalid input: time to expiry must be >= 0"),
    ((0.03, 0.03, 1.0, 0.0, 0.5, 0.0, 0.4), "invalid input: alpha must be > 0"),
    ((0.03, 0.03, 1.0, 0.03, 1.5, 0.0, 0.4), r"invalid input: beta must be in \[0, 1\]"),
    ((0.03, 0.03, 1.0, 0.03, 0.5, 1.0, 0.4), r"invalid input: rho must be in \(-1, 1\)"),
    ((0.03, 0.03, 1.0, 0.03, 0.5, 0.0, -0.4), "invalid input: nu must be >= 0"),
])
def test_sabr_rejects_bad_input(args, message):
    with pytest.raises(ValueError, match=message):
        quelm.sabr_vol(*args)


def test_sabr_nan_in_gives_nan_out():
    assert math.isnan(quelm.sabr_vol(math.nan, 0.03, 1.0, 0.03, 0.5, 0.0, 0.4))
    assert math.isnan(quelm.sabr_vol(0.03, 0.03, 1.0, 0.03, 0.5, 0.0, math.nan))


# Past its range Hagan's time correction 1 + t (...) turns negative: long t with a large nu
# and a correlation beyond sqrt(2/3), where its (2 - 3 rho^2) nu^2 / 24 term is negative.
SABR_BREAKDOWN = [(0.03, 0.035, 30.0, 0.03, 0.5, 0.9, 2.0), (0.03, 0.03, 20.0, 0.03, 0.5, -0.95, 1.5),
                  (100.0, 80.0, 50.0, 0.3, 1.0, -0.99, 1.2), (0.05, 0.02, 100.0, 0.01, 0.0, 0.85, 2.0)]


@pytest.mark.parametrize("args", SABR_BREAKDOWN)
def test_sabr_says_where_the_expansion_gives_no_volatility(args):
    with pytest.raises(ValueError, match="^numerical error: Hagan's expansion gives a negative volatility here"):
        quelm.sabr_vol(*args)
    # The same parameters at a short expiry are inside the expansion's range.
    short = (*args[:2], 0.5, *args[3:])
    assert quelm.sabr_vol(*short) > 0


def test_sabr_never_returns_a_negative_volatility_and_vec_agrees():
    np = pytest.importorskip("numpy")
    import quelm.vec as vec
    rng = random.Random(5)
    rows = [(rng.uniform(0.01, 0.06), rng.uniform(0.005, 0.1), rng.uniform(0.1, 60), rng.uniform(0.01, 0.06),
             rng.uniform(0, 1), rng.uniform(-0.99, 0.99), rng.uniform(0, 3)) for _ in range(400)]
    want = []
    for row in rows:
        try:
            want.append(quelm.sabr_vol(*row))
        except ValueError as e:
            assert str(e).startswith("numerical error: Hagan's expansion"), row
            want.append(math.nan)
    assert all(v > 0 for v in want if not math.isnan(v))
    assert 20 < sum(map(math.isnan, want)) < 380  # both sides of the breakdown are exercised
    columns = [np.array(c) for c in zip(*rows)]
    got = vec.sabr_vol(*columns, errors="nan")
    assert [g if not math.isnan(g) else "nan" for g in got.tolist()] == \
        [w if not math.isnan(w) else "nan" for w in want]
    with pytest.raises(quelm.ElementError, match="Hagan's expansion"):
        vec.sabr_vol(*columns)


# --- SVI and the surface -------------------------------------------------------------------

SVI = dict(a=0.02, b=0.1, rho=-0.4, m=0.05, sigma=0.2)
STRIKES = [60.0, 70.0, 80.0, 90.0, 100.0, 110.0, 120.0, 130.0, 140.0]


def test_svi_fit_recovers_a_slice_and_passes_the_butterfly_check():
    vols = [quelm.svi_vol(100, k, 1.0, **SVI) for k in STRIKES]
    fit = quelm.svi_calibrate(100, STRIKES, vols, 1.0)
    assert [fit[n] for n in SVI] == pytest.approx(list(SVI.values()), rel=1e-6, abs=1e-8)
    assert fit["rmse"] < 1e-10 and fit["butterfly"]["arbitrage_free"] and fit["butterfly"]["min_g"] > 0


def test_svi_butterfly_check_reports_where_it_fails():
    # Gatheral and Jacquier (2014), Example 3.1: a raw slice with butterfly arbitrage
    # (a, b, rho, m, sigma) = (-0.0410, 0.1331, 0.3060, 0.3586, 0.4153), T = 1.
    bad = dict(a=-0.0410, b=0.1331, rho=0.3060, m=0.3586, sigma=0.4153)
    ks = [-1.5 + 0.1 * i for i in range(31)]
    vols = [quelm.svi_vol(1.0, math.exp(k), 1.0, **bad) for k in ks]
    fit = quelm.svi_calibrate(1.0, [math.exp(k) for k in ks], vols, 1.0)
    check = fit["butterfly"]
    assert not check["arbitrage_free"] and check["min_g"] < 0
    assert check["violations"] and all(lo <= hi for lo, hi in check["violations"])


def test_svi_slice_fit_handles_a_noisy_smile():
    rng = random.Random(3)
    vols = [quelm.svi_vol(100, k, 0.5, **SVI) + rng.gauss(0, 0.002) for k in STRIKES]
    fit = quelm.svi_calibrate(100, STRIKES, vols, 0.5)
    assert fit["rmse"] < 0.003 and fit["b"] >= 0 and -1 < fit["rho"] < 1


def _surface_quotes():
    strikes, expiries, vols = [], [], []
    for t in (0.25, 0.5, 1.0, 2.0):
        for k in STRIKES:
            strikes.append(k), expiries.append(t)
            vols.append(quelm.implied_volatility(
                quelm.heston_price(100, k, 0.02, t, "call", **CHAIN_TRUTH), 100, k, 0.02, t, "call"))
    return strikes, expiries, vols


def test_surface_reprices_its_quotes_and_interpolates_without_calendar_arbitrage():
    strikes, expiries, vols = _surface_quotes()
    s = quelm.VolSurface.from_vols(strikes, expiries, vols, spot=100.0, rate=0.02)
    for k, t, v in zip(strikes, expiries, vols):
        assert s.vol(k, t) == pytest.approx(v, abs=6e-3)  # SVI fits a Heston smile to a few vol points
    for k in (70.0, 100.0, 130.0):
        f = [s.forward(t) for t in (0.3, 0.6, 1.2, 1.8, 2.5)]
        w = [s.vol(fi * k / 100, t) ** 2 * t for fi, t in zip(f, (0.3, 0.6, 1.2, 1.8, 2.5))]
        assert w == sorted(w)
    assert all(sl["butterfly_free"] for sl in s.slices())
    lv = s.local_vol(100.0, 0.75)
    assert 0.1 < lv < 0.4


def test_surface_from_prices_pickles_and_rejects_bad_queries():
    strikes, expiries, vols = _surface_quotes()
    prices = [quelm.black_scholes(100, k, 0.02, v, t, "call") for k, t, v in zip(strikes, expiries, vols)]
    s = quelm.VolSurface.from_chain(strikes, expiries, prices, 100.0, 0.02)
    again = pickle.loads(pickle.dumps(s))
    assert again == s and again.vol(95.0, 0.7) == s.vol(95.0, 0.7)
    assert repr(s) == "<VolSurface 4 SVI slices from t=0.25 to t=2>"
    with pytest.raises(ValueError, match="invalid input: strike must be > 0"):
        s.vol(-1.0, 1.0)
    with pytest.raises(ValueError, match="invalid input: t must be > 0"):
        s.local_vol(100.0, 0.0)
    assert math.isnan(s.vol(math.nan, 1.0))
    with pytest.raises(ValueError, match="invalid input: spot or forwards must be given"):
        quelm.VolSurface.from_vols(strikes, expiries, vols)
    with pytest.raises(TypeError, match="^No constructor defined for VolSurface$"):
        quelm.VolSurface()


def test_surface_with_forwards_per_quote():
    strikes, expiries, vols = _surface_quotes()
    forwards = [100 * math.exp(0.02 * t) for t in expiries]
    s = quelm.VolSurface.from_vols(strikes, expiries, vols, forwards=forwards)
    t = quelm.VolSurface.from_vols(strikes, expiries, vols, spot=100.0, rate=0.02)
    assert s.vol(100.0, 1.0) == pytest.approx(t.vol(100.0, 1.0), abs=1e-12)


# --- VolSurface.from_chain: bad quotes, weights, rate and dividend curves ----------------------


def _chain_prices(rate=0.02, q=0.0):
    """The Heston-implied quotes as call prices; `rate` and `q` are numbers or curves."""
    strikes, expiries, vols = _surface_quotes()
    at = lambda c, t: c.zero_rate(t) if isinstance(c, quelm.YieldCurve) else c  # noqa: E731
    prices = [quelm.black_scholes(100, k, at(rate, t), v, t, "call", at(q, t))
              for k, t, v in zip(strikes, expiries, vols)]
    return strikes, expiries, prices, vols


def _without(seq, gone):
    return [x for i, x in enumerate(seq) if i not in gone]


# index -> a price that cannot be implied, and the reason recorded for it
BAD_QUOTES = {3: (1000.0, "price 1000 outside no-arbitrage bounds"), 20: (-1.0, "price -1 outside no-arbitrage bounds"),
              30: (0.0, "outside no-arbitrage bounds")}


def test_from_chain_skip_drops_bad_quotes_and_fits_the_rest_exactly():
    strikes, expiries, prices, _ = _chain_prices()
    bad = list(prices)
    for i, (price, _) in BAD_QUOTES.items():
        bad[i] = price
    with pytest.raises(ValueError, match=r"^invalid input: quote 3: price 1000 outside"):
        quelm.VolSurface.from_chain(strikes, expiries, bad, 100.0, 0.02)       # the default still stops
    s = quelm.VolSurface.from_chain(strikes, expiries, bad, 100.0, 0.02, on_bad_quote="skip")
    dropped = s.dropped()
    assert [d["quote"] for d in dropped] == sorted(BAD_QUOTES)
    for d in dropped:
        assert (d["expiry"], d["strike"]) == (expiries[d["quote"]], strikes[d["quote"]])
        assert BAD_QUOTES[d["quote"]][1] in d["reason"]
    # The surface is the one fitted to the good quotes alone, to the bit.
    gone = set(BAD_QUOTES)
    clean = quelm.VolSurface.from_chain(_without(strikes, gone), _without(expiries, gone), _without(prices, gone),
                                        100.0, 0.02)
    assert s == clean and s.slices() == clean.slices() and clean.dropped() == []
    again = pickle.loads(pickle.dumps(s))
    assert again == s and again.dropped() == dropped


def test_from_chain_skip_drops_an_expiry_left_too_thin_to_fit():
    strikes, expiries, prices, _ = _chain_prices()
    first = [i for i, t in enumerate(expiries) if t == 0.25]
    bad = [1000.0 if i in first[:5] else p for i, p in enumerate(prices)]   # 4 of the 9 quotes at 3M stay
    s = quelm.VolSurface.from_chain(strikes, expiries, bad, 100.0, 0.02, on_bad_quote="skip")
    assert [sl["t"] for sl in s.slices()] == [0.5, 1.0, 2.0]
    reasons = {d["quote"]: d["reason"] for d in s.dropped()}
    assert sorted(reasons) == first
    assert all(reasons[i] == "only 4 usable quotes at this expiry; a slice needs 5" for i in first[5:])
    with pytest.raises(ValueError, match=r"^invalid input: no quote left to fit: quote 0: price 1000 outside"):
        quelm.VolSurface.from_chain(strikes, expiries, [1000.0] * len(prices), 100.0, 0.02, on_bad_quote="skip")


@pytest.mark.parametrize("kwargs, error, message", [
    (dict(on_bad_quote="ignore"), ValueError, "on_bad_quote must be 'raise' or 'skip', got \"ignore\""),
    (dict(weights=[1.0] * 3), ValueError, "weights must have one entry per quote"),
    (dict(weights=[-1.0] + [1.0] * 35), ValueError, "invalid input: weights must be finite and >= 0"),
    (dict(weights=[math.nan] + [1.0] * 35), ValueError, "invalid input: weights must be finite and >= 0"),
    (dict(weights=[math.inf] + [1.0] * 35), ValueError, "invalid input: weights must be finite and >= 0"),
    (dict(weights=[0.0] * 36), ValueError, "invalid input: weights must not all be zero"),
    (dict(weights=[0.0] * 9 + [1.0] * 27), ValueError,
     "invalid input: weights must not all be zero within an expiry (t=0.25)"),
    (dict(rate="0.02"), TypeError, "argument 'rate'"),
    # A bad spot is a setting, not a quote: skip does not drop every quote for it.
    (dict(spot=-100.0, on_bad_quote="skip"), ValueError, "invalid input: spot must be finite and > 0"),
])
def test_from_chain_rejects_bad_settings(kwargs, error, message):
    strikes, expiries, prices, _ = _chain_prices()
    args = dict(spot=100.0, rate=0.02) | kwargs
    with pytest.raises(error, match="^" + re.escape(message)):
        quelm.VolSurface.from_chain(strikes, expiries, prices, args.pop("spot"), args.pop("rate"), **args)


def test_from_chain_weights_reach_the_slice_fits():
    strikes, expiries, prices, vols = _chain_prices()
    spoiled = list(prices)
    i = strikes.index(100.0)                        # the 3M at-the-money quote, 30% too dear
    spoiled[i] *= 1.3
    ones = quelm.VolSurface.from_chain(strikes, expiries, prices, 100.0, 0.02, weights=[1.0] * len(prices))
    assert ones == quelm.VolSurface.from_chain(strikes, expiries, prices, 100.0, 0.02)   # unit weights change nothing
    weights = [0.0 if j == i else 1.0 for j in range(len(prices))]
    plain = quelm.VolSurface.from_chain(strikes, expiries, spoiled, 100.0, 0.02)
    weighted = quelm.VolSurface.from_chain(strikes, expiries, spoiled, 100.0, 0.02, weights=weights)
    assert weighted.slices()[1:] == plain.slices()[1:]          # other expiries' fits untouched
    # With no weight the spoiled quote no longer pulls the 3M smile off the others.
    others = [j for j, t in enumerate(expiries) if t == 0.25 and j != i]
    err = lambda s: max(abs(s.vol(strikes[j], 0.25) - vols[j]) for j in others)  # noqa: E731
    assert err(weighted) < 6e-3 < err(plain)


def test_from_chain_reads_each_expiry_s_rate_from_curves():
    zc = quelm.YieldCurve.from_zero_rates([0.25, 1.0, 2.0], [0.01, 0.03, 0.04], extrapolate="flat-forward")
    qc = quelm.YieldCurve.from_zero_rates([0.5, 2.0], [0.005, 0.015], extrapolate="flat-forward")
    strikes, expiries, prices, vols = _chain_prices(zc, qc)
    s = quelm.VolSurface.from_chain(strikes, expiries, prices, 100.0, zc, dividend_yield=qc)
    for sl in s.slices():
        t = sl["t"]
        assert sl["forward"] == 100.0 * math.exp((zc.zero_rate(t) - qc.zero_rate(t)) * t)
        assert s.forward(t) == sl["forward"]
    for k, t, v in zip(strikes, expiries, vols):
        assert s.vol(k, t) == pytest.approx(v, abs=6e-3)     # as well as the flat-rate surface fits them
    assert pickle.loads(pickle.dumps(s)) == s
    # A flat curve is its rate (its zero rate to within an ulp; the fits agree to far below quoting).
    flat = quelm.YieldCurve.flat(0.02)
    a = quelm.VolSurface.from_chain(*_chain_prices()[:3], 100.0, flat)
    b = quelm.VolSurface.from_chain(*_chain_prices()[:3], 100.0, 0.02)
    for k in (70.0, 100.0, 130.0):
        for t in (0.25, 1.0, 2.0):
            assert a.vol(k, t) == pytest.approx(b.vol(k, t), abs=1e-9)


def test_from_chain_curve_short_of_an_expiry_names_it():
    short = quelm.YieldCurve.from_zero_rates([0.25, 1.0], [0.01, 0.03])     # no extrapolation past 1Y
    strikes, expiries, prices, _ = _chain_prices()
    with pytest.raises(ValueError, match=r"^invalid input: rate curve at t=2: "):
        quelm.VolSurface.from_chain(strikes, expiries, prices, 100.0, short, on_bad_quote="skip")


def test_from_chain_against_quantlib_zero_rates():
    # Optional oracle: each slice's forward uses the continuously compounded zero rate that
    # QuantLib reads off the same zero curve (linear in the zero rates between pillars).
    ql = pytest.importorskip("QuantLib")
    today = ql.Date(1, 1, 2025)
    ql.Settings.instance().evaluationDate = today
    days, rates = [73, 365, 730], [0.01, 0.03, 0.04]        # pillars on whole days, ACT/365F
    times = [d / 365 for d in days]
    dates = [today + ql.Period(d, ql.Days) for d in days]
    curve = ql.ZeroCurve([today] + dates, [rates[0]] + rates, ql.Actual365Fixed())
    zc = quelm.YieldCurve.from_zero_rates(times, rates, "linear")
    strikes, expiries, prices, _ = _chain_prices(zc)
    s = quelm.VolSurface.from_chain(strikes, expiries, prices, 100.0, zc)
    for sl in s.slices():
        z = curve.zeroRate(sl["t"], ql.Continuous).rate()
        assert sl["forward"] == pytest.approx(100.0 * math.exp(z * sl["t"]), rel=1e-12)
