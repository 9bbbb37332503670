"""Barrier, lookback and Asian options, and process simulation, at the Python surface."""
from __future__ import annotations

import math

import pytest

import quelm

from conftest import same_output_across_threads


def ncdf(x):
    return 0.5 * math.erfc(-x / math.sqrt(2))


def kemna_vorst(s, k, r, v, t, q, kind):
    # Independent closed form of the continuously monitored geometric average.
    va = v / math.sqrt(3)
    b = 0.5 * (r - q - v * v / 6)
    d1 = (math.log(s / k) + (b + 0.5 * va * va) * t) / (va * math.sqrt(t))
    d2 = d1 - va * math.sqrt(t)
    if kind == "call":
        return s * math.exp((b - r) * t) * ncdf(d1) - k * math.exp(-r * t) * ncdf(d2)
    return k * math.exp(-r * t) * ncdf(-d2) - s * math.exp((b - r) * t) * ncdf(-d1)


@pytest.mark.parametrize("kind", ["call", "put"])
@pytest.mark.parametrize("side,h", [("down", 85.0), ("down", 95.0), ("up", 105.0), ("up", 120.0)])
@pytest.mark.parametrize("k", [90.0, 100.0, 110.0])
def test_in_out_parity(kind, side, h, k):
    vanilla = quelm.black_scholes(100, k, 0.04, 0.25, 1.0, kind, 0.01)
    ki = quelm.barrier_price(100, k, 0.04, 0.25, 1.0, kind, f"{side}-in", h, 0.01)
    ko = quelm.barrier_price(100, k, 0.04, 0.25, 1.0, kind, f"{side}_out".upper(), h, 0.01)
    assert ko == pytest.approx(max(vanilla - ki, 0.0), abs=1e-12)
    assert ki >= -1e-12 and ko >= 0.0


def test_barrier_breached_and_degenerate():
    vanilla = quelm.black_scholes(100, 100, 0.05, 0.2, 1.0, "call")
    assert quelm.barrier_price(100, 100, 0.05, 0.2, 1.0, "call", "do", 100) == 0.0
    assert quelm.barrier_price(100, 100, 0.05, 0.2, 1.0, "call", "di", 100) == vanilla
    fwd = 100 * math.exp(0.05)
    assert quelm.barrier_price(100, 100, 0.05, 0.0, 1.0, "call", "ui", 103) == pytest.approx(math.exp(-0.05) * (fwd - 100))
    assert quelm.barrier_price(100, 100, 0.05, 0.0, 1.0, "call", "uo", 103) == 0.0
    with pytest.raises(ValueError) as info:
        quelm.barrier_price(100, 100, 0.05, 0.2, 1.0, "call", "up out", 120)
    assert str(info.value) == 'barrier_type must be one of down-in/down-out/up-in/up-out, got "up out"'
    with pytest.raises(ValueError, match=r"^invalid input: spot, strike, and barrier must be > 0$"):
        quelm.barrier_price(100, 100, 0.05, 0.2, 1.0, "call", "do", 0)
    with pytest.raises(ValueError, match=r"^invalid input: volatility and expiry must be >= 0$"):
        quelm.barrier_price(100, 100, 0.05, -0.2, 1.0, "call", "do", 90)


def test_lookback_cases():
    assert quelm.lookback_price(100, 0, 0.05, 0.0, 1.0, "call", "FLOAT") == pytest.approx(
        math.exp(-0.05) * (100 * math.exp(0.05) - 100))
    assert quelm.lookback_price(100, 0, 0.05, 0.0, 1.0, "put", "floating") == 0.0
    assert math.isfinite(quelm.lookback_price(100, 100, 0.03, 0.2, 1.0, "call", "Fixed", 0.03))
    assert quelm.lookback_price(100, 90, 0.05, 0.3, 1.0, "call", "fixed") >= 10 * math.exp(-0.05)
    fixed_call = quelm.lookback_price(100, 100, 0.05, 0.3, 1.0, "call", "fixed")
    assert fixed_call > quelm.black_scholes(100, 100, 0.05, 0.3, 1.0, "call")
    with pytest.raises(ValueError, match=r"^invalid input: spot and strike must be > 0$"):
        quelm.lookback_price(100, 0, 0.05, 0.2, 1.0, "call", "fixed")
    with pytest.raises(ValueError) as info:
        quelm.lookback_price(100, 100, 0.05, 0.2, 1.0, "bad", "Range")
    assert str(info.value) == 'strike_type must be \'floating\' or \'fixed\', got "range"'


# Small volatility: the reflection powers (H/S)^(2 lambda), (S/K)^p overflow while the
# normal probabilities beside them underflow. Sweep down to 0 (and subnormal vols).
SMALL_VOLS = [0.01 * 0.6 ** i for i in range(45)] + [1e-20, 1e-100, 1e-160, 1e-200, 1e-300, 5e-324]
BARRIER_MARKETS = [(100, 100, 110, 0.05, 0.0), (100, 100, 90, 0.05, 0.0), (100, 95, 90, -0.03, 0.0),
                   (100, 105, 120, 0.02, 0.06), (100, 120, 110, 0.05, 0.0), (100, 80, 90, 0.01, 0.04)]


def _check_sweep(price, label):
    limit = price(0.0)
    values = [price(v) for v in SMALL_VOLS]
    assert all(math.isfinite(x) and x >= 0.0 for x in values), (label, values)
    # Continuous in vol: the price moves by at most about S per unit of vol between
    # neighbours (spot 100 here), and the tiny vols meet the limit.
    for (v0, x0), (v1, x1) in zip(zip(SMALL_VOLS, values), zip(SMALL_VOLS[1:], values[1:])):
        assert abs(x1 - x0) <= 100.0 * (v0 - v1) + 1e-9 * max(1.0, limit), (label, v0, x0, v1, x1)
    for v, x in zip(SMALL_VOLS, values):
        if v <= 1e-7:
            assert x == pytest.approx(limit, abs=1e-6 * max(1.0, limit)), (label, v, x, limit)


@pytest.mark.parametrize("kind,btype,s,k,h,r,q", [
    (kind, btype, *m) for kind in ("call", "put") for btype in ("up-out", "up-in", "down-out", "down-in")
    for m in BARRIER_MARKETS if (btype[:2] == "up") == (m[2] > m[0])])  # unbreached barriers only
def test_barrier_small_vol_is_finite_and_continuous(kind, btype, s, k, h, r, q):
    _check_sweep(lambda v: quelm.barrier_price(s, k, r, v, 1.0, kind, btype, h, dividend_yield=q),
                 (kind, btype, s, k, h, r, q))


@pytest.mark.parametrize("kind", ["call", "put"])
@pytest.mark.parametrize("strike_type", ["fixed", "floating"])
@pytest.mark.parametrize("s,k,r,q", [(100, 110, 0.05, 0.0), (100, 90, 0.05, 0.0), (100, 100, -0.02, 0.0),
                                     (100, 95, 0.02, 0.05), (100, 105, 0.03, 0.01)])
def test_lookback_small_vol_is_finite_and_continuous(kind, strike_type, s, k, r, q):
    _check_sweep(lambda v: quelm.lookback_price(s, k, r, v, 1.0, kind, strike_type, dividend_yield=q),
                 (kind, strike_type, s, k, r, q))


def test_small_vol_reference_values():
    # Up-and-out call never reaching 110: the discounted forward payoff, as at vol 0.005.
    limit = math.exp(-0.05) * (100 * math.exp(0.05) - 100)
    for v in (0.005, 0.003, 0.001, 0.0):
        assert quelm.barrier_price(100, 100, 0.05, v, 1.0, "call", "up-out", 110) == pytest.approx(limit, rel=1e-12)
    # Fixed-strike call struck above a forward the path barely leaves: worth about nothing.
    assert 0.0 <= quelm.lookback_price(100, 110, 0.05, 0.002, 1.0, "call", "fixed") < 1e-40


NAN = math.nan


@pytest.mark.parametrize("field", ["spot", "strike", "rate", "vol", "t", "dividend_yield"])
def test_exotics_propagate_nan_inputs(field):
    base = dict(spot=100.0, strike=100.0, rate=0.05, vol=0.2, t=1.0, dividend_yield=0.0)
    base[field] = NAN
    a = (base["spot"], base["strike"], base["rate"], base["vol"], base["t"])
    q = base["dividend_yield"]
    geo = quelm.asian_price(*a, "call", dividend_yield=q)
    assert math.isnan(geo["price"]) and geo["standard_error"] is None
    arith = quelm.asian_price(*a, "put", "arith", paths=50, dividend_yield=q)
    assert math.isnan(arith["price"]) and math.isnan(arith["standard_error"])
    if field not in ("spot", "strike"):  # these two are rejected by the barrier's positivity check
        for btype in ("up-out", "down-in"):
            assert math.isnan(quelm.barrier_price(*a, "call", btype, 120 if btype[0] == "u" else 80,
                                                  dividend_yield=q)), btype
    if field != "spot":
        for st in ("fixed", "floating"):
            assert math.isnan(quelm.lookback_price(*a, "put", st, dividend_yield=q)), st


@pytest.mark.parametrize("kind", ["call", "put"])
def test_geometric_asian_matches_kemna_vorst(kind):
    for k in (90.0, 100.0, 115.0):
        out = quelm.asian_price(100, k, 0.05, 0.3, 1.5, kind, "Geo", dividend_yield=0.02)
        assert out["standard_error"] is None
        assert out["price"] == pytest.approx(kemna_vorst(100, k, 0.05, 0.3, 1.5, 0.02, kind), rel=1e-12)


def test_arithmetic_asian():
    arith = quelm.asian_price(100, 100, 0.05, 0.3, 1.0, "call", "ARITHMETIC", n_fixings=50, paths=40000)
    geo = quelm.asian_price(100, 100, 0.05, 0.3, 1.0, "call")
    assert arith["price"] >= geo["price"] - 4 * arith["standard_error"]
    one = quelm.asian_price(100, 100, 0.05, 0.3, 1.0, "call", "arith", n_fixings=1, paths=4000, seed=9)
    mc = quelm.monte_carlo(100, 100, 0.05, 0.3, 1.0, "call", paths=4000, seed=9)
    assert one["price"] == pytest.approx(mc["price"], rel=1e-12)
    flat = quelm.asian_price(100, 90, 0.05, 0.0, 1.0, "call", "arith", n_fixings=4)
    avg = sum(100 * math.exp(i / 4 * 0.05) for i in range(1, 5)) / 4
    assert flat == {"price": pytest.approx(math.exp(-0.05) * (avg - 90)), "standard_error": 0.0}
    assert quelm.asian_price(100, 100, 0.05, 0.3, 1.0, "call", "arith", paths=1)["standard_error"] == 0.0
    with pytest.raises(ValueError, match="^invalid input: n_fixings must be >= 1$"):
        quelm.asian_price(100, 100, 0.05, 0.3, 1.0, "call", "arith", n_fixings=0)
    assert quelm.asian_price(100, 100, 0.05, 0.3, 1.0, "call", n_fixings=0)["standard_error"] is None
    with pytest.raises(ValueError) as info:
        quelm.asian_price(100, 100, 0.05, 0.3, 1.0, "call", "Harmonic")
    assert str(info.value) == 'average must be \'geometric\' or \'arithmetic\', got "harmonic"'


KEYS = ["process", "x0", "t", "paths", "steps", "sample_mean", "mean_std_error", "sample_std", "analytic_mean",
        "analytic_std", "mean_abs_error", "std_abs_error"]


@pytest.mark.parametrize("name,x0", [("GBM", 100.0), ("Ou", 0.05), ("vasicek", 0.05), ("cir", 0.05),
                                      ("Merton-Jump", 100.0), ("heston", 100.0)])
def test_sample_moments_match_analytic(name, x0):
    r = quelm.simulate_process(name, x0=x0, paths=20000, steps=50)
    assert list(r) == KEYS
    assert abs(r["sample_mean"] - r["analytic_mean"]) < 5 * r["mean_std_error"] + 1e-12
    if r["analytic_std"] is not None:
        assert r["sample_std"] == pytest.approx(r["analytic_std"], rel=0.05)
    else:
        assert r["process"] == "heston" and r["std_abs_error"] is None


def test_simulation_edge_cases():
    assert quelm.simulate_process("gbm", paths=3, steps=5)["paths"] == 4
    one = quelm.simulate_process("gbm", paths=1, steps=5)
    assert one["paths"] == 2 and one["mean_std_error"] == 0.0
    merton = quelm.simulate_process("merton", lambda_=0.0, paths=101, steps=20, seed=4)
    gbm = quelm.simulate_process("gbm", paths=101, steps=20, seed=4)
    assert merton["sample_mean"] == gbm["sample_mean"] and merton["sample_std"] == gbm["sample_std"]
    still = quelm.simulate_process("merton", t=0.0, paths=10, steps=5)  # no jumps over a zero horizon
    assert still["sample_mean"] == 100.0 and still["sample_std"] == 0.0
    flat = quelm.simulate_process("gbm", sigma=0.0, paths=10, steps=10)
    assert flat["mean_abs_error"] == pytest.approx(0.0, abs=1e-9)
    with pytest.raises(ValueError) as info:
        quelm.simulate_process(" gbm")
    assert str(info.value) == 'process must be one of gbm/ou/vasicek/cir/merton/heston, got " gbm"'
    with pytest.raises(ValueError, match=r"^invalid input: rho must be in \[-1, 1\]$"):
        quelm.simulate_process("heston", rho=1.0000001)
    with pytest.raises(ValueError, match="^invalid input: x0 must be > 0 for this process$"):
        quelm.simulate_process("gbm", x0=0.0)
    assert quelm.simulate_process("cir", x0=0.0, paths=10, steps=5)["sample_mean"] >= 0.0
    with pytest.raises(MemoryError):
        quelm.asian_price(100, 100, 0.05, 0.3, 1.0, "call", "arith", n_fixings=2**40, paths=2**40)


def test_simulation_independent_of_thread_count():
    code = ("import quelm\n"
            "print(repr(quelm.simulate_process('heston', paths=2001, steps=20, seed=3)))\n"
            "print(repr(quelm.asian_price(100, 100, 0.05, 0.3, 1.0, 'call', 'arith', paths=2001, seed=3)))\n")
    same_output_across_threads(code)


def test_two_gbm_paths_equal_the_hand_computed_pair():
    from _quelm_testing import stream_draws
    steps, x0, mu, sigma, t = 4, 100.0, 0.05, 0.2, 1.0
    zs = stream_draws(42, 0, steps, 3, 0.0)
    dt = t / steps
    drift, s = dt * (mu + (-0.5 * sigma) * sigma), math.sqrt(dt) * sigma
    p = q = x0
    for z in zs:
        u = z * s
        p, q = p * math.exp(drift + u), q * math.exp(drift - u)
    r = quelm.simulate_process("gbm", x0=x0, t=t, steps=steps, paths=2, seed=42, mu=mu, sigma=sigma)
    assert r["paths"] == 2
    assert r["sample_mean"] == (p + q) * 0.5
    assert r["sample_std"] == pytest.approx(abs(p - q) / math.sqrt(2.0), rel=1e-12)  # divisor 2n - 1 = 1
