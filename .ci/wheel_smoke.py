"""Smoke test of an installed wheel: run from outside the source tree by `make wheel` and
by cibuildwheel. It imports the installed module, makes a few calls and checks what the
wheel ships (the package with its stubs) and what it must not (the test-only module)."""
import importlib.util
import math
import pathlib
import sys

import quelm

where = pathlib.Path(quelm.__file__).resolve()
assert "site-packages" in where.parts, f"quelm imported from {where}, not from the installed wheel"
assert importlib.util.find_spec("_quelm_testing") is None, "the test-only module must not ship"
assert (where.parent / "__init__.pyi").is_file(), "the stub is missing"
assert (where.parent / "py.typed").is_file(), "the py.typed marker is missing"
assert (where.parent / "vec.pyi").is_file(), "the array API's stub is missing"
assert (where.parent / "vec.py").is_file(), "the array API's source is missing"
assert next(where.parent.glob("_core.*"), None) is not None, "the compiled module is missing"

price = quelm.black_scholes(spot=100, strike=105, rate=0.05, vol=0.2, t=1.0, option_type="call")
assert math.isclose(price, 8.021352235143176, rel_tol=1e-12), price
mc = quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, "put", paths=20000, seed=7)
assert abs(mc["price"] - quelm.black_scholes(100, 100, 0.05, 0.2, 1.0, "put")) < 5 * mc["standard_error"], mc
if importlib.util.find_spec("numpy") is not None:  # the array API needs NumPy, the wheel does not
    import quelm.vec

    assert quelm.vec.black_scholes(100, [105.0], 0.05, 0.2, 1.0, "call")[0] == price
print(f"quelm wheel OK on Python {sys.version.split()[0]}: {where.name}, black_scholes = {price!r}")
