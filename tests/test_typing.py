"""The shipped type stub: a type checker accepts correct use and rejects wrong use."""
from __future__ import annotations

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent

GOOD = '''
import quelm
p: float = quelm.black_scholes(100, 105, 0.05, 0.2, 1.0, "call")
g = quelm.greeks(100, 100, 0.05, 0.2, 1.0, "put")
d: float = g["delta"]
r = quelm.stats(returns=[0.01, -0.02, 0.015])
s = r["sharpe"]
c = quelm.YieldCurve.flat(0.05)
b = quelm.FixedRateBond.regular(100, 0.05, 2, 10)
dirty, clean = b.price_from_curve(c)
x: float = dirty + clean + c.discount(1.0) + b.accrued
w = quelm.optimize([0.05, 0.07], [[0.04, 0.01], [0.01, 0.09]])["min_variance_weights"]
v: float = quelm.portfolio_risk([[0.01, 0.02], [0.0, 0.01]], w)["volatility"] + quelm.mwr(["2024-01-01"], [1.0])
m: float = quelm.american_ml(100, 100, 0.05, 0.2, 1.0, method="dos")["ml_price"]
'''

BAD = '''
import quelm
p: str = quelm.black_scholes(100, 105, 0.05, 0.2, 1.0, "call")
quelm.binomial(100, 105, 0.05, 0.2, 1.0, "call", steps=1.5)
'''


def run_mypy(tmp_path: Path, source: str) -> subprocess.CompletedProcess:
    pytest.importorskip("mypy")
    src = tmp_path / "example.py"
    src.write_text(source)
    env = dict(os.environ)
    import quelm  # noqa: F401  -- locate the stub beside the installed module, or in the tree
    stub_dirs = [str(ROOT / "stubs")]
    env["MYPYPATH"] = os.pathsep.join(stub_dirs)
    return subprocess.run([sys.executable, "-m", "mypy", "--no-incremental", "--strict", str(src)],
                          capture_output=True, text=True, env=env, cwd=tmp_path)


def test_stub_accepts_correct_use(tmp_path):
    out = run_mypy(tmp_path, GOOD)
    assert out.returncode == 0, out.stdout + out.stderr


def test_stub_rejects_wrong_use(tmp_path):
    out = run_mypy(tmp_path, BAD)
    assert out.returncode != 0
    assert "example.py:3" in out.stdout and "example.py:4" in out.stdout


def test_stub_covers_every_exported_name():
    import quelm
    text = (ROOT / "stubs" / "quelm-stubs" / "__init__.pyi").read_text()
    for name in quelm.__all__:
        assert f"def {name}(" in text or f"class {name}" in text or f"{name}:" in text, name


def test_stub_signatures_match_the_module():
    """Parameter names and defaults in the stub are the runtime's, in order."""
    import ast
    import inspect

    import quelm
    tree = ast.parse((ROOT / "stubs" / "quelm-stubs" / "__init__.pyi").read_text())
    stubbed = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    stubbed[f"{node.name}.{item.name}"] = item
        elif isinstance(node, ast.FunctionDef):
            stubbed[node.name] = node
    checked = 0
    for qual, fn in _runtime_callables(quelm):
        sig = inspect.signature(fn)
        stub = stubbed[qual]
        names = [a.arg for a in stub.args.args if a.arg != "self"]
        assert names == [n for n in sig.parameters if n != "self"], qual
        defaults = [ast.literal_eval(d) for d in stub.args.defaults]
        runtime = [p.default for p in sig.parameters.values() if p.default is not inspect.Parameter.empty]
        # A default the text signature shows as "..." is documented, not spelled out.
        assert len(defaults) == len(runtime), qual
        assert all(r is Ellipsis or d == r for d, r in zip(defaults, runtime)), qual
        checked += 1
    assert checked >= 31


def test_stub_lists_the_public_names_in_registration_order():
    import ast

    import quelm
    tree = ast.parse((ROOT / "stubs" / "quelm-stubs" / "__init__.pyi").read_text())
    stubbed = [node.name for node in tree.body
               if isinstance(node, ast.FunctionDef) or (isinstance(node, ast.ClassDef) and node.name in quelm.__all__)]
    assert ["__version__", *stubbed] == quelm.__all__


def _runtime_callables(quelm):
    for name in quelm.__all__:
        obj = getattr(quelm, name)
        if isinstance(obj, type):
            for attr, member in vars(obj).items():
                if attr.startswith("_") or not callable(getattr(obj, attr)):
                    continue
                yield f"{name}.{attr}", getattr(obj, attr)
        elif callable(obj) and getattr(obj, "__text_signature__", None):
            yield name, obj
