"""The benchmark floors must do the engines' work: same numbers, so timing them is fair."""
import pytest

import quelm

_quelm_testing = pytest.importorskip("_quelm_testing")


@pytest.mark.parametrize("paths", [1, 2, 7, 5000])
def test_mc_floor_matches_monte_carlo_bit_for_bit(paths):
    args = (100.0, 95.0, 0.03, 0.25, 0.75)
    r = quelm.monte_carlo(*args, "call", paths=paths, seed=11)
    assert _quelm_testing.mc_floor(*args, paths, 11) == (r["price"], r["standard_error"])


@pytest.mark.parametrize("model, params, kwargs, x0", [
    ("gbm", [0.05, 0.2], {"mu": 0.05, "sigma": 0.2}, 100.0),
    ("cir", [1.5, 0.04, 0.1], {"kappa": 1.5, "theta": 0.04, "sigma": 0.1}, 0.03),
    ("heston", [0.05, 2.0, 0.04, 0.5, -0.7, 0.04],
     {"mu": 0.05, "kappa": 2.0, "theta": 0.04, "xi": 0.5, "rho": -0.7, "v0": 0.04}, 100.0),
])
def test_terminal_floor_matches_simulate_process(model, params, kwargs, x0):
    r = quelm.simulate_process(model, x0=x0, t=1.0, steps=20, paths=400, seed=3, **kwargs)
    floor = _quelm_testing.terminal_floor(model, params, x0, 1.0, 20, 400, 3)
    assert floor == pytest.approx(r["sample_mean"], rel=1e-13, abs=1e-15)
