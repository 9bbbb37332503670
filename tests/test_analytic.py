"""Black-Scholes-Merton price, analytic Greeks and implied volatility at the Python surface."""
from __future__ import annotations

import math

import pytest

import quelm


def bs_reference(s, k, r, v, t, kind, q=0.0):
    # Independent closed form with math.erfc for the normal CDF.
    n = lambda x: 0.5 * math.erfc(-x / math.sqrt(2.0))  # noqa: E731
    d1 = (math.log(s / k) + (r - q + v * v / 2) * t) / (v * math.sqrt(t))
    d2 = d1 - v * math.sqrt(t)
    if kind == "call":
        return s * math.exp(-q * t) * n(d1) - k * math.exp(-r * t) * n(d2)
    return k * math.exp(-r * t) * n(-d2) - s * math.exp(-q * t) * n(-d1)


GRID = [(s, k, r, v, t, q) for s in (80.0, 100.0, 125.0) for k in (90.0, 105.0) for r in (-0.01, 0.05)
        for v in (0.1, 0.45) for t in (0.25, 2.0) for q in (0.0, 0.03)]


def test_published_value_and_reference():
    assert quelm.black_scholes(100, 105, 0.05, 0.2, 1.0, "call") == pytest.approx(8.021352235143176, rel=1e-14)
    for s, k, r, v, t, q in GRID:
        for kind in ("call", "put"):
            assert quelm.black_scholes(s, k, r, v, t, kind, q) == pytest.approx(
                bs_reference(s, k, r, v, t, kind, q), rel=1e-12, abs=1e-12), (s, k, r, v, t, q, kind)


def test_put_call_parity_with_dividends():
    for s, k, r, v, t, q in GRID:
        c = quelm.black_scholes(s, k, r, v, t, "call", q)
        p = quelm.black_scholes(s, k, r, v, t, "put", q)
        assert c - p == pytest.approx(s * math.exp(-q * t) - k * math.exp(-r * t), abs=1e-10)


def test_degenerate_limits():
    assert quelm.black_scholes(110, 100, 0.05, 0.2, 0.0, "call") == 10.0
    assert quelm.black_scholes(110, 100, 0.05, 0.2, 0.0, "put") == 0.0
    assert quelm.black_scholes(0, 100, 0.05, 0.2, 1.0, "call") == 0.0
    assert quelm.black_scholes(0, 100, 0.05, 0.2, 1.0, "put") == pytest.approx(100 * math.exp(-0.05))
    assert quelm.black_scholes(100, 100, 0.05, 0.0, 1.0, "call") == pytest.approx(100 - 100 * math.exp(-0.05))
    assert math.isnan(quelm.black_scholes(float("nan"), 100, 0.05, 0.2, 1.0, "call"))


NAN = math.nan


@pytest.mark.parametrize("args", [
    (NAN, 100, 0.05, 0.2, 0.0),   # t = 0: the payoff max(S - K, 0) would read NaN as 0
    (NAN, 100, 0.05, 0.2, 1.0),
    (100, NAN, 0.05, 0.2, 0.0),
    (100, 100, NAN, 0.0, 1.0),    # zero vol: discounted payoff on the forward
    (100, 100, 0.05, NAN, 1.0),
    (100, 100, 0.05, 0.2, NAN),
    (0, 100, 0.05, NAN, 1.0),     # zero spot
])
def test_nan_inputs_give_nan_price_and_greeks(args):
    for kind in ("call", "put"):
        assert math.isnan(quelm.black_scholes(*args, kind)), (args, kind)
        assert all(math.isnan(g) for g in quelm.greeks(*args, kind).values()), (args, kind)
    assert math.isnan(quelm.black_scholes(100, 100, 0.05, 0.2, 1.0, "call", NAN))


@pytest.mark.parametrize("vol", [1e10, 1e150, 1e154, 2e154, 1e200, 1e300, 1.7e308])
@pytest.mark.parametrize("s,k,r,q,t", [(100, 100, 0.05, 0.0, 1.0), (80, 120, 0.02, 0.03, 4.0)])
def test_huge_volatility_reaches_the_limits(vol, s, k, r, q, t):
    # As vol grows, N(d1) -> 1 and N(d2) -> 0: call -> S e^(-qT), put -> K e^(-rT).
    call = quelm.black_scholes(s, k, r, vol, t, "call", q)
    put = quelm.black_scholes(s, k, r, vol, t, "put", q)
    assert call == pytest.approx(s * math.exp(-q * t), rel=1e-12), vol
    assert put == pytest.approx(k * math.exp(-r * t), rel=1e-12), vol
    g = quelm.greeks(s, k, r, vol, t, "call", q)
    assert g["delta"] == pytest.approx(math.exp(-q * t), rel=1e-12)
    assert g["gamma"] == 0.0 and g["vega"] == 0.0 and g["rho"] == 0.0


def test_price_never_falls_as_vol_crosses_the_overflow_of_vol_squared():
    vols = [10.0 ** e for e in range(0, 300, 7)]
    prices = [quelm.black_scholes(100, 100, 0.05, v, 1.0, "call") for v in vols]
    assert all(b >= a for a, b in zip(prices, prices[1:])), prices


@pytest.mark.parametrize("kind,bound", [("call", 100.0), ("put", 100 * math.exp(-0.05))])
def test_implied_volatility_at_the_upper_bound_has_no_solution(kind, bound):
    # Only an infinite volatility reaches the bound: no finite vol may be returned.
    for p in (bound, bound * (1 + 1e-15)):
        with pytest.raises(ValueError, match="^invalid input: price .* outside no-arbitrage bounds"):
            quelm.implied_volatility(p, 100, 100, 0.05, 1.0, kind)


@pytest.mark.parametrize("args,message", [
    ((100, 0, 0.05, 0.2, 1.0), "invalid input: strike must be > 0"),
    ((-1, 0, 0.05, 0.2, 1.0), "invalid input: strike must be > 0"),
    ((-1, 100, 0.05, 0.2, 1.0), "invalid input: spot must be >= 0"),
    ((100, 100, 0.05, -0.2, 1.0), "invalid input: volatility must be >= 0"),
    ((100, 100, 0.05, 0.2, -1.0), "invalid input: time to expiry must be >= 0"),
])
def test_validation_messages(args, message):
    for fn in (quelm.black_scholes, quelm.price, quelm.greeks):
        with pytest.raises(ValueError) as info:
            fn(*args, "call")
        assert str(info.value) == message


def test_price_dict():
    d = quelm.price(100, 105, 0.05, 0.2, 1.0, "PUT", 0.01)
    assert list(d) == ["model", "option_type", "exercise", "spot", "strike", "rate", "volatility", "time",
                       "dividend_yield", "price"]
    assert d["model"] == "black-scholes" and d["option_type"] == "put" and d["exercise"] == "european"
    assert d["price"] == quelm.black_scholes(100, 105, 0.05, 0.2, 1.0, "p", 0.01)


def test_greeks_published_values_and_finite_differences():
    g = quelm.greeks(100, 100, 0.05, 0.2, 1.0, "call")
    assert list(g) == ["delta", "gamma", "vega", "theta", "rho"]
    assert g["delta"] == pytest.approx(0.636831, abs=1e-6)
    assert g["gamma"] == pytest.approx(0.018762, abs=1e-6)
    assert g["vega"] == pytest.approx(37.5240, abs=1e-4)
    assert g["theta"] == pytest.approx(-6.41403, abs=1e-5)
    assert g["rho"] == pytest.approx(53.2325, abs=1e-4)
    f = quelm.black_scholes
    for s, k, r, v, t, q in GRID[::5]:
        for kind in ("call", "put"):
            g = quelm.greeks(s, k, r, v, t, kind, q)
            h = 1e-4 * s
            fd = {
                "delta": (f(s + h, k, r, v, t, kind, q) - f(s - h, k, r, v, t, kind, q)) / (2 * h),
                "gamma": (f(s + h, k, r, v, t, kind, q) - 2 * f(s, k, r, v, t, kind, q)
                          + f(s - h, k, r, v, t, kind, q)) / (h * h),
                "vega": (f(s, k, r, v + 1e-5, t, kind, q) - f(s, k, r, v - 1e-5, t, kind, q)) / 2e-5,
                "theta": -(f(s, k, r, v, t + 1e-5, kind, q) - f(s, k, r, v, t - 1e-5, kind, q)) / 2e-5,
                "rho": (f(s, k, r + 1e-6, v, t, kind, q) - f(s, k, r - 1e-6, v, t, kind, q)) / 2e-6,
            }
            for name, value in fd.items():
                assert g[name] == pytest.approx(value, rel=2e-4, abs=2e-5), (name, s, k, r, v, t, q, kind)


def test_greeks_degenerate_cases():
    assert quelm.greeks(110, 100, 0.05, 0.2, 0.0, "call") == {"delta": 1.0, "gamma": 0.0, "vega": 0.0,
                                                              "theta": 0.0, "rho": 0.0}
    forward_atm = quelm.greeks(100 * math.exp(-0.05), 100, 0.05, 0.0, 1.0, "call")
    assert forward_atm["gamma"] == 0.0


def test_implied_volatility_round_trips():
    for s, k, r, _, t, q in GRID:
        for v in (0.08, 0.2, 0.6):
            for kind in ("call", "put"):
                p = quelm.black_scholes(s, k, r, v, t, kind, q)
                lower = max(0.0, (s * math.exp(-q * t) - k * math.exp(-r * t)) * (1 if kind == "call" else -1))
                if p - lower < 1e-6:
                    continue  # no vega left to invert at this quote
                assert quelm.implied_volatility(p, s, k, r, t, kind, q) == pytest.approx(v, abs=1e-7)


def test_implied_volatility_messages():
    with pytest.raises(ValueError, match=r"^invalid input: price 96 outside no-arbitrage bounds "
                                         r"\[0, 95\.1229424500714\]$"):
        quelm.implied_volatility(96, 100, 100, 0.05, 1.0, "put")
    with pytest.raises(ValueError, match="^invalid input: time to expiry must be > 0 to imply volatility$"):
        quelm.implied_volatility(5, 100, 100, 0.05, 0.0, "call")
    with pytest.raises(ValueError, match="^invalid input: spot must be > 0$"):
        quelm.implied_volatility(5, 0, 100, 0.05, 1.0, "call")


# --- against a 40-digit reference and by property -------------------------------------
def _mp_black_scholes(s, k, r, v, t, call, q):
    import mpmath as mp
    mp.mp.dps = 40
    s, k, r, v, t, q = (mp.mpf(x) for x in (s, k, r, v, t, q))
    sd = v * mp.sqrt(t)
    d1 = (mp.log(s / k) + (r - q + v * v / 2) * t) / sd
    d2 = d1 - sd
    if call:
        return s * mp.exp(-q * t) * mp.ncdf(d1) - k * mp.exp(-r * t) * mp.ncdf(d2)
    return k * mp.exp(-r * t) * mp.ncdf(-d2) - s * mp.exp(-q * t) * mp.ncdf(-d1)


def _random_options(seed, n):
    """(spot, strike, rate, vol, t, option type, dividend yield) over an ordinary range."""
    import random
    rng = random.Random(seed)
    for _ in range(n):
        s, k = rng.uniform(20, 200), rng.uniform(20, 200)
        r, q = rng.uniform(-0.03, 0.1), rng.uniform(0.0, 0.08)
        v, t = rng.uniform(0.02, 1.5), rng.uniform(0.02, 5.0)
        yield s, k, r, v, t, rng.choice(["call", "put"]), q


def test_closed_form_against_a_40_digit_reference():
    mp = pytest.importorskip("mpmath")
    worst = 0.0
    for s, k, r, v, t, kind, q in _random_options(11, 1500):
        want = _mp_black_scholes(s, k, r, v, t, kind == "call", q)
        got = quelm.black_scholes(s, k, r, v, t, kind, q)
        # Relative to the larger of the price and the spot's cent: deep out-of-the-money
        # prices are differences of nearly equal terms.
        worst = max(worst, abs(got - float(want)) / max(abs(float(want)), 1e-2 * s))
    assert worst < 1e-12, worst
    del mp


def test_price_properties_on_a_random_grid():
    for s, k, r, v, t, _, q in _random_options(5, 2000):
        call = quelm.black_scholes(s, k, r, v, t, "call", q)
        put = quelm.black_scholes(s, k, r, v, t, "put", q)
        fwd_s, pv_k = s * math.exp(-q * t), k * math.exp(-r * t)
        # Bounds: intrinsic value of the forward below, the discounted underlying above.
        assert max(fwd_s - pv_k, 0.0) - 1e-9 <= call <= fwd_s + 1e-9
        assert max(pv_k - fwd_s, 0.0) - 1e-9 <= put <= pv_k + 1e-9
        assert call - put == pytest.approx(fwd_s - pv_k, abs=1e-10 * (s + k))
        # More vol is never cheaper (to rounding: deep in the money the vega is below an ulp).
        assert quelm.black_scholes(s, k, r, v * 1.01, t, "call", q) >= call * (1 - 4e-16)


def test_implied_volatility_recovers_the_vol_and_reprices_the_quote():
    checked = 0
    for s, k, r, v, t, kind, q in _random_options(11, 3000):
        p = quelm.black_scholes(s, k, r, v, t, kind, q)
        got = quelm.implied_volatility(p, s, k, r, t, kind, q)
        assert quelm.black_scholes(s, k, r, got, t, kind, q) == pytest.approx(p, rel=1e-10, abs=1e-11)
        vega = quelm.greeks(s, k, r, v, t, kind, q)["vega"]
        if vega < 1e-4 * s:
            continue  # the price barely moves with the vol: the quote no longer pins it down
        assert abs(got - v) <= 1e-11 * s / vega + 1e-12, (got, v)
        checked += 1
    assert checked > 2000
