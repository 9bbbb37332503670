"""Finite differences (fd_price, fd_heston_price) at the Python surface.

Reference values: L. von Sydow et al., "BENCHOP - The BENCHmarking project in Option
Pricing", Int. J. Comput. Math. 92 (2015), problem 1 (Black-Scholes: S = 90, 100, 110,
K = 100, T = 1, r = 0.03, sigma = 0.15) and the Heston problem; each is checked here
against the library's closed forms or a 20000-step CRR tree before the engine is held to it.
"""
from __future__ import annotations

import math
import random

import numpy as np
import pytest

import quelm

SPOTS = (90.0, 100.0, 110.0)
BENCHOP_CALL = (2.758443856146076, 7.485087593912603, 14.702019669720769)
BENCHOP_AMERICAN_PUT = (10.726486710094511, 4.820608184813253, 1.828207584020458)
BENCHOP_UP_OUT_CALL = (1.822512255945242, 3.294086516281595, 3.221591131246868)
FINE = dict(space_steps=1600, time_steps=800)


def rel(a, b):
    return abs(a - b) / abs(b)


def test_benchop_references_agree_with_closed_forms():
    for s, call, uo in zip(SPOTS, BENCHOP_CALL, BENCHOP_UP_OUT_CALL):
        assert rel(quelm.black_scholes(s, 100, 0.03, 0.15, 1.0, "call"), call) < 1e-12
        assert rel(quelm.barrier_price(s, 100, 0.03, 0.15, 1.0, "call", "up-out", 125), uo) < 1e-10


def test_benchop_american_reference_agrees_with_a_fine_tree():
    s = 100.0
    tree = quelm.binomial(s, 100, 0.03, 0.15, 1.0, "put", style="american", steps=20000)
    assert rel(tree, BENCHOP_AMERICAN_PUT[1]) < 1e-5


@pytest.mark.parametrize("i", range(3))
def test_benchop_problem_one(i):
    s = SPOTS[i]
    call = quelm.fd_price(s, 100, 0.03, 0.15, 1.0, "call", **FINE)
    assert rel(call["price"], BENCHOP_CALL[i]) < 1e-5
    put = quelm.fd_price(s, 100, 0.03, 0.15, 1.0, "put", style="american", **FINE)
    assert rel(put["price"], BENCHOP_AMERICAN_PUT[i]) < 2e-5
    uo = quelm.fd_price(s, 100, 0.03, 0.15, 1.0, "call", barrier=125, barrier_type="up-out", **FINE)
    assert rel(uo["price"], BENCHOP_UP_OUT_CALL[i]) < 1e-5


@pytest.mark.parametrize("i", range(3))
def test_defaults_reach_1e4(i):
    s = SPOTS[i]
    assert rel(quelm.fd_price(s, 100, 0.03, 0.15, 1.0, "call")["price"], BENCHOP_CALL[i]) < 1e-4
    put = quelm.fd_price(s, 100, 0.03, 0.15, 1.0, "put", style="american")["price"]
    assert rel(put, BENCHOP_AMERICAN_PUT[i]) < 1e-4
    uo = quelm.fd_price(s, 100, 0.03, 0.15, 1.0, "call", barrier=125, barrier_type="up-out")["price"]
    assert rel(uo, BENCHOP_UP_OUT_CALL[i]) < 1e-4


def random_cases(n, seed):
    rng = random.Random(seed)
    for _ in range(n):
        yield dict(spot=rng.uniform(70, 130), strike=rng.uniform(70, 130), rate=rng.uniform(0.0, 0.08),
                   vol=rng.uniform(0.1, 0.45), t=rng.uniform(0.2, 2.0), option_type=rng.choice(["call", "put"]),
                   dividend_yield=rng.uniform(0.0, 0.05))


@pytest.mark.parametrize("case", list(random_cases(6, 7)))
def test_european_matches_closed_form_and_greeks(case):
    fd = quelm.fd_price(**case, space_steps=1000, time_steps=500, extrapolate=True)
    g = quelm.greeks(**case)
    bs = quelm.black_scholes(**case)
    assert abs(fd["price"] - bs) <= 1e-6 * max(bs, 1.0)
    assert fd["delta"] == pytest.approx(g["delta"], abs=1e-6)
    assert fd["gamma"] == pytest.approx(g["gamma"], rel=1e-4, abs=1e-7)
    assert fd["theta"] == pytest.approx(g["theta"], rel=1e-4, abs=1e-5)


@pytest.mark.parametrize("case", list(random_cases(6, 11)))
@pytest.mark.parametrize("kind", ["down-out", "up-out", "down-in", "up-in"])
def test_barriers_match_closed_form(case, kind):
    s = case["spot"]
    barrier = s * (0.85 if kind.startswith("down") else 1.15)
    closed = quelm.barrier_price(case["spot"], case["strike"], case["rate"], case["vol"], case["t"],
                                 case["option_type"], kind, barrier, case["dividend_yield"])
    fd = quelm.fd_price(**case, barrier=barrier, barrier_type=kind, space_steps=1000, time_steps=500,
                        extrapolate=True)
    assert abs(fd["price"] - closed) <= 1e-6 * max(closed, 1.0)


@pytest.mark.parametrize("s,k,r,q,vol,t", [(100, 100, 0.05, 0.0, 0.2, 1.0), (90, 100, 0.03, 0.02, 0.3, 0.5),
                                             (110, 100, 0.06, 0.04, 0.25, 2.0)])
@pytest.mark.parametrize("kind", ["put", "call"])
def test_american_matches_fine_tree(s, k, r, q, vol, t, kind):
    tree = quelm.binomial(s, k, r, vol, t, kind, style="american", steps=20000, dividend_yield=q)
    fd = quelm.fd_price(s, k, r, vol, t, kind, q, style="american", space_steps=1600, time_steps=800,
                        extrapolate=True)
    assert rel(fd["price"], tree) < 1e-5


def test_american_call_without_dividends_is_european():
    fd = quelm.fd_price(100, 105, 0.05, 0.25, 1.0, "call", style="american", **FINE)
    assert rel(fd["price"], quelm.black_scholes(100, 105, 0.05, 0.25, 1.0, "call")) < 1e-5


@pytest.mark.parametrize("style", ["european", "american"])
def test_gamma_keeps_its_sign_across_the_strike(style):
    # Crank-Nicolson alone rings at a kink; the implicit start-up must leave gamma smooth and
    # positive on the default grid at short expiry, where the kink is sharpest.
    spots = np.linspace(97, 103, 61)
    gammas = [quelm.fd_price(s, 100, 0.03, 0.15, 0.05, "put", style=style)["gamma"] for s in spots]
    assert min(gammas) > 0.0
    bs = [quelm.greeks(s, 100, 0.03, 0.15, 0.05, "put")["gamma"] for s in spots]
    if style == "european":
        assert max(abs(a - b) for a, b in zip(gammas, bs)) < 2e-2 * max(bs)


def test_dividends():
    plain = quelm.fd_price(100, 100, 0.03, 0.2, 1.0, "put", style="american")
    # A dividend of nothing, or one paid after expiry, changes no bit.
    assert quelm.fd_price(100, 100, 0.03, 0.2, 1.0, "put", style="american", dividends=[(0.5, 0.0)]) == plain
    assert quelm.fd_price(100, 100, 0.03, 0.2, 1.0, "put", style="american", dividends=[(1.5, 3.0)]) == plain
    # A European under a cash dividend that comes straight after the start is the same option
    # on the spot less that dividend.
    early = quelm.fd_price(100, 100, 0.03, 0.2, 1.0, "call", dividends=[(1e-9, 5.0)], **FINE)
    assert early["price"] == pytest.approx(quelm.black_scholes(95, 100, 0.03, 0.2, 1.0, "call"), rel=1e-5)
    # An American call is exercised just before a large dividend: worth at least S - K then.
    call = quelm.fd_price(100, 90, 0.03, 0.2, 1.0, "call", style="american", dividends=[(0.5, 20.0)])
    euro = quelm.fd_price(100, 90, 0.03, 0.2, 1.0, "call", dividends=[(0.5, 20.0)])
    assert call["price"] > euro["price"] + 1.0


def test_dividends_against_quantlib():
    ql = pytest.importorskip("QuantLib")
    today = ql.Date(15, 1, 2025)
    ql.Settings.instance().evaluationDate = today
    dc = ql.Actual365Fixed()
    spot, k, r, vol = 100.0, 100.0, 0.04, 0.25
    expiry = today + 365
    pay = today + 182
    t_div = dc.yearFraction(today, pay)
    process = ql.BlackScholesMertonProcess(
        ql.QuoteHandle(ql.SimpleQuote(spot)), ql.YieldTermStructureHandle(ql.FlatForward(today, 0.0, dc)),
        ql.YieldTermStructureHandle(ql.FlatForward(today, r, dc)),
        ql.BlackVolTermStructureHandle(ql.BlackConstantVol(today, ql.NullCalendar(), vol, dc)))
    option = ql.VanillaOption(ql.PlainVanillaPayoff(ql.Option.Put, k), ql.AmericanExercise(today, expiry))
    engine = ql.FdBlackScholesVanillaEngine(process, ql.DividendVector([pay], [4.0]), 800, 1600, 0)
    option.setPricingEngine(engine)
    fd = quelm.fd_price(spot, k, r, vol, 1.0, "put", style="american", dividends=[(t_div, 4.0)], **FINE)
    assert fd["price"] == pytest.approx(option.NPV(), rel=2e-4)


def test_local_vol_of_a_flat_surface_is_black_scholes():
    strikes = [60.0, 80.0, 90.0, 100.0, 110.0, 120.0, 150.0] * 3
    expiries = [0.5] * 7 + [1.0] * 7 + [2.0] * 7
    surface = quelm.VolSurface.from_vols(strikes, expiries, [0.2] * 21, spot=100, rate=0.03)
    fd = quelm.fd_price(100, 105, 0.03, 0.2, 1.0, "put", local_vol=surface)
    assert fd["price"] == pytest.approx(quelm.black_scholes(100, 105, 0.03, 0.2, 1.0, "put"), rel=2e-4)


def test_rebates():
    # Knock-out rebates are paid at the touch and knock-in ones at expiry, as QuantLib's
    # analytic barrier engine pays them.
    ql = pytest.importorskip("QuantLib")
    today = ql.Date(15, 1, 2025)
    ql.Settings.instance().evaluationDate = today
    dc = ql.Actual365Fixed()
    process = ql.BlackScholesMertonProcess(
        ql.QuoteHandle(ql.SimpleQuote(100.0)), ql.YieldTermStructureHandle(ql.FlatForward(today, 0.01, dc)),
        ql.YieldTermStructureHandle(ql.FlatForward(today, 0.05, dc)),
        ql.BlackVolTermStructureHandle(ql.BlackConstantVol(today, ql.NullCalendar(), 0.25, dc)))
    kinds = {"down-out": ql.Barrier.DownOut, "down-in": ql.Barrier.DownIn, "up-out": ql.Barrier.UpOut,
             "up-in": ql.Barrier.UpIn}
    for kind, code in kinds.items():
        b = 85.0 if kind.startswith("down") else 120.0
        opt = ql.BarrierOption(code, b, 3.0, ql.PlainVanillaPayoff(ql.Option.Call, 100.0),
                               ql.EuropeanExercise(today + 365))
        opt.setPricingEngine(ql.AnalyticBarrierEngine(process))
        fd = quelm.fd_price(100, 100, 0.05, 0.25, 1.0, "call", 0.01, barrier=b, barrier_type=kind, rebate=3.0,
                            **FINE)
        assert fd["price"] == pytest.approx(opt.NPV(), rel=1e-5), kind


def test_quantlib_fd_engine_agrees():
    ql = pytest.importorskip("QuantLib")
    today = ql.Date(15, 1, 2025)
    ql.Settings.instance().evaluationDate = today
    dc = ql.Actual365Fixed()
    process = ql.BlackScholesMertonProcess(
        ql.QuoteHandle(ql.SimpleQuote(100.0)), ql.YieldTermStructureHandle(ql.FlatForward(today, 0.0, dc)),
        ql.YieldTermStructureHandle(ql.FlatForward(today, 0.03, dc)),
        ql.BlackVolTermStructureHandle(ql.BlackConstantVol(today, ql.NullCalendar(), 0.15, dc)))
    opt = ql.VanillaOption(ql.PlainVanillaPayoff(ql.Option.Put, 100.0), ql.AmericanExercise(today, today + 365))
    opt.setPricingEngine(ql.FdBlackScholesVanillaEngine(process, 1000, 2000, 0))
    fd = quelm.fd_price(100, 100, 0.03, 0.15, 1.0, "put", style="american", **FINE)
    # QuantLib's engine is itself 7e-5 from BENCHOP's value on this grid; quelm's is within 1e-5.
    assert fd["price"] == pytest.approx(opt.NPV(), rel=1e-4)
    assert fd["delta"] == pytest.approx(opt.delta(), rel=1e-4)
    assert fd["gamma"] == pytest.approx(opt.gamma(), rel=1e-3)


def test_edge_cases():
    assert quelm.fd_price(100, 90, 0.03, 0.2, 0.0, "call") == {"price": 10.0, "delta": 1.0, "gamma": 0.0,
                                                                 "theta": 0.0}
    out = quelm.fd_price(80, 100, 0.03, 0.2, 1.0, "call", barrier=85, barrier_type="down-out", rebate=2.0)
    assert out == {"price": 2.0, "delta": 0.0, "gamma": 0.0, "theta": 0.0}
    alive = quelm.fd_price(80, 100, 0.03, 0.2, 1.0, "call", barrier=85, barrier_type="down-in")
    assert alive == quelm.fd_price(80, 100, 0.03, 0.2, 1.0, "call")
    assert math.isnan(quelm.fd_price(float("nan"), 100, 0.03, 0.2, 1.0, "call")["price"])


@pytest.mark.parametrize("kwargs,message", [
    (dict(strike=0.0), "invalid input: strike must be > 0"),
    (dict(spot=0.0), "invalid input: spot must be > 0"),
    (dict(vol=0.0), "invalid input: volatility must be > 0"),
    (dict(t=-1.0), "invalid input: time to expiry must be >= 0"),
    (dict(barrier=90.0), "barrier and barrier_type must be given together"),
    (dict(barrier_type="up-out"), "barrier and barrier_type must be given together"),
    (dict(barrier=-1.0, barrier_type="down-out"), "invalid input: barrier must be > 0"),
    (dict(rebate=1.0), "a rebate needs a barrier"),
    (dict(rebate=-1.0, barrier=90.0, barrier_type="down-out"), "invalid input: rebate must be >= 0"),
    (dict(style="american", barrier=90.0, barrier_type="down-in"), "american knock-in options are not supported"),
    (dict(space_steps=10), "invalid input: space_steps must be >= 20"),
    (dict(time_steps=2), "invalid input: time_steps must be >= 4"),
    (dict(dividends=[(0.5, -1.0)]), "invalid input: dividend amounts must be >= 0"),
    (dict(dividends=[(0.0, 1.0)]), "invalid input: dividend times must be > 0"),
    (dict(dividends=[(0.5, 1.0, 2.0)]), "invalid input: dividends must be (time, amount) pairs"),
    (dict(scheme="explicit"), 'scheme must be \'crank-nicolson\' or \'implicit\', got "explicit"'),
])
def test_errors(kwargs, message):
    args = dict(spot=100.0, strike=100.0, rate=0.03, vol=0.2, t=1.0, option_type="put") | kwargs
    with pytest.raises(ValueError) as info:
        quelm.fd_price(**args)
    assert str(info.value) == message


def test_vec_is_the_scalar_call_per_element():
    strikes = np.linspace(80, 120, 9)
    out = quelm.vec.fd_price(100, strikes, 0.03, 0.15, 1.0, "put", style="american")
    for j, k in enumerate(strikes):
        one = quelm.fd_price(100, k, 0.03, 0.15, 1.0, "put", style="american")
        for key in ("price", "delta", "gamma", "theta"):
            assert out[key][j] == one[key]
    bad = quelm.vec.fd_price(100, np.array([100.0, -1.0]), 0.03, 0.15, 1.0, "put", errors="nan")
    assert math.isnan(bad["price"][1]) and bad["price"][0] == quelm.fd_price(100, 100, 0.03, 0.15, 1.0, "put")["price"]


# BENCHOP's Heston problem: K = 100, T = 1, r = 0.03, v0 = theta = 0.0225, kappa = 2, xi = 0.25,
# rho = -0.5; European calls at S = 90, 100, 110.
HESTON = dict(strike=100, rate=0.03, t=1.0, option_type="call", v0=0.0225, kappa=2.0, theta=0.0225, xi=0.25,
              rho=-0.5)
BENCHOP_HESTON = (2.302535842814927, 7.379832496149447, 14.974005277144057)


def test_benchop_heston_references_agree_with_the_semi_analytic_price():
    for s, ref in zip(SPOTS, BENCHOP_HESTON):
        assert rel(quelm.heston_price(s, **HESTON), ref) < 1e-12


@pytest.mark.parametrize("i", range(3))
def test_benchop_heston(i):
    fd = quelm.fd_heston_price(SPOTS[i], **HESTON, space_steps=1000, variance_steps=60, time_steps=100)
    assert rel(fd["price"], BENCHOP_HESTON[i]) < 1e-5


@pytest.mark.parametrize("scheme", ["douglas", "craig-sneyd", "modified-craig-sneyd", "hundsdorfer-verwer"])
def test_every_adi_scheme_converges(scheme):
    fd = quelm.fd_heston_price(100, **HESTON, scheme=scheme)
    assert rel(fd["price"], BENCHOP_HESTON[1]) < 1e-4


def test_heston_greeks_against_bumped_closed_form():
    fd = quelm.fd_heston_price(100, **HESTON, space_steps=400, variance_steps=60)
    args = dict(HESTON)
    h = 0.01
    up, mid, down = (quelm.heston_price(100 + d, **args) for d in (h, 0.0, -h))
    assert fd["delta"] == pytest.approx((up - down) / (2 * h), abs=2e-4)
    assert fd["gamma"] == pytest.approx((up - 2 * mid + down) / (h * h), rel=2e-3)
    sigma0 = math.sqrt(args["v0"])
    bumped = [quelm.heston_price(100, **(args | {"v0": (sigma0 + d) ** 2})) for d in (1e-4, -1e-4)]
    assert fd["vega"] == pytest.approx((bumped[0] - bumped[1]) / 2e-4, rel=2e-3)


# Ikonen and Toivanen, "Operator splitting methods for pricing American options under
# stochastic volatility", Numer. Math. 113 (2009), Table 4: K = 10, T = 0.25, r = 0.1,
# kappa = 5, theta = 0.16, xi = 0.9, rho = 0.1.
IKONEN_TOIVANEN = {0.0625: (2.0000, 1.1076, 0.5200, 0.2138, 0.0821),
                   0.25: (2.0785, 1.3336, 0.7959, 0.4482, 0.2428)}


@pytest.mark.parametrize("v0", sorted(IKONEN_TOIVANEN))
def test_ikonen_toivanen_american_puts(v0):
    for s, ref in zip((8.0, 9.0, 10.0, 11.0, 12.0), IKONEN_TOIVANEN[v0]):
        fd = quelm.fd_heston_price(s, 10, 0.1, 0.25, "put", v0, 5.0, 0.16, 0.9, 0.1, style="american",
                                   space_steps=400, variance_steps=100, time_steps=200)
        assert fd["price"] == pytest.approx(ref, abs=1e-3 * max(ref, 1.0)), s
        assert fd["price"] >= 10 - s - 1e-12


def test_heston_without_vol_of_variance_is_black_scholes():
    # xi = 0 and v0 = theta: the variance stays put and the model is Black-Scholes at sqrt(v0).
    flat = dict(rate=0.03, t=1.0, v0=0.04, kappa=2.0, theta=0.04, xi=0.0, rho=0.0)
    grid = dict(space_steps=400, variance_steps=20, time_steps=200)
    put = quelm.fd_heston_price(100, 100, option_type="put", **flat, **grid)
    assert put["price"] == pytest.approx(quelm.black_scholes(100, 100, 0.03, 0.2, 1.0, "put"), rel=2e-5)
    for kind, b, side in (("call", 130.0, "up-out"), ("put", 85.0, "down-in"), ("put", 80.0, "down-out")):
        fd = quelm.fd_heston_price(100, 100, option_type=kind, **flat, barrier=b, barrier_type=side, **grid)
        closed = quelm.barrier_price(100, 100, 0.03, 0.2, 1.0, kind, side, b)
        assert fd["price"] == pytest.approx(closed, rel=1e-4), side
    american = quelm.fd_heston_price(100, 100, option_type="put", **flat, style="american", **grid)
    tree = quelm.binomial(100, 100, 0.03, 0.2, 1.0, "put", style="american", steps=20000)
    assert american["price"] == pytest.approx(tree, rel=2e-4)


def test_heston_against_quantlib():
    ql = pytest.importorskip("QuantLib")
    today = ql.Date(15, 1, 2025)
    ql.Settings.instance().evaluationDate = today
    dc = ql.Actual365Fixed()
    process = ql.HestonProcess(ql.YieldTermStructureHandle(ql.FlatForward(today, 0.1, dc)),
                               ql.YieldTermStructureHandle(ql.FlatForward(today, 0.0, dc)),
                               ql.QuoteHandle(ql.SimpleQuote(10.0)), 0.0625, 5.0, 0.16, 0.9, 0.1)
    expiry = today + 91
    option = ql.VanillaOption(ql.PlainVanillaPayoff(ql.Option.Put, 10.0), ql.AmericanExercise(today, expiry))
    option.setPricingEngine(ql.FdHestonVanillaEngine(ql.HestonModel(process), 200, 200, 100, 0))
    fd = quelm.fd_heston_price(10, 10, 0.1, dc.yearFraction(today, expiry), "put", 0.0625, 5.0, 0.16, 0.9, 0.1,
                               style="american", space_steps=400, variance_steps=100, time_steps=200)
    assert fd["price"] == pytest.approx(option.NPV(), abs=1e-3)


@pytest.mark.parametrize("kwargs,message", [
    (dict(strike=-1.0), "invalid input: strike must be > 0"),
    (dict(spot=0.0), "invalid input: spot must be > 0"),
    (dict(kappa=0.0), "invalid input: kappa must be > 0"),
    (dict(rho=1.5), "invalid input: rho must be in [-1, 1]"),
    (dict(barrier=120.0), "barrier and barrier_type must be given together"),
    (dict(style="american", barrier=90.0, barrier_type="down-in"), "american knock-in options are not supported"),
    (dict(variance_steps=5), "invalid input: variance_steps must be >= 10"),
])
def test_heston_errors(kwargs, message):
    args = dict(spot=100.0, **HESTON) | kwargs
    with pytest.raises(ValueError) as info:
        quelm.fd_heston_price(**args)
    assert str(info.value) == message


def test_local_vol_reprices_its_own_surface():
    # Dupire's local volatility is the one diffusion that gives back every implied vol of the
    # surface: the engine on it must reprice the surface's options at their implied vols.
    strikes = [60, 70, 80, 90, 100, 110, 120, 135, 150]
    smile = [0.32, 0.29, 0.26, 0.23, 0.2, 0.19, 0.195, 0.205, 0.215]
    expiries = [0.1, 0.25, 0.5, 1.0, 1.5]
    surface = quelm.VolSurface.from_vols(strikes * len(expiries), [t for t in expiries for _ in strikes],
                                         smile * len(expiries), spot=100, rate=0.03)
    for k in (80, 90, 100, 110, 120):
        fd = quelm.fd_price(100, k, 0.03, 0.2, 1.0, "put", local_vol=surface, space_steps=800, time_steps=400)
        implied = quelm.black_scholes(100, k, 0.03, surface.vol(k, 1.0), 1.0, "put")
        assert fd["price"] == pytest.approx(implied, rel=1e-4), k
