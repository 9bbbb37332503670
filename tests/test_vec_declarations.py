"""quelm.vec's functions are their declarations: every one, array form or Python body, has its
signature, docstring, result keys and stub from the compiled module's declarations."""
from __future__ import annotations

import ast
import inspect
import re
import types
from pathlib import Path

import pytest

pytest.importorskip("numpy")

import quelm  # noqa: E402
import quelm.vec as vec  # noqa: E402
from quelm import _arrays, _core, _declared  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
WRITTEN = {d["name"]: d for d in _core._vec_python()}


def _stub_defs(path: Path) -> dict[str, list[ast.FunctionDef]]:
    defs: dict[str, list[ast.FunctionDef]] = {}
    for node in ast.parse(path.read_text()).body:
        if isinstance(node, ast.FunctionDef):
            defs.setdefault(node.name, []).append(node)
    return defs


def test_every_function_of_the_vec_stub_and_module_is_declared():
    forms = list(dict.fromkeys(f["name"] for f in _core._vec_forms()))
    assert set(forms).isdisjoint(WRITTEN)
    assert vec.__all__ == [*forms, *WRITTEN]
    assert sorted(_stub_defs(ROOT / "python" / "quelm" / "vec.pyi")) == sorted(vec.__all__)


def test_stubgen_writes_no_function_stub_by_hand():
    # Its text constants are headers (aliases, protocols); a def at the top level of one would
    # be a stub that no declaration checks.
    tree = ast.parse((ROOT / "tools" / "stubgen.py").read_text())
    texts = [n.value for n in ast.walk(tree) if isinstance(n, ast.Constant) and isinstance(n.value, str)]
    assert [line for t in texts for line in t.splitlines() if re.match(r"(async )?def \w+\(", line)] == []


@pytest.mark.parametrize("name", sorted(WRITTEN))
def test_a_function_written_in_python_has_its_declared_signature(name):
    decl, f = WRITTEN[name], getattr(vec, name)
    params = list(inspect.signature(f).parameters.values())
    assert [p.name for p in params] == [p["name"] for p in decl["params"]]
    for p, d in zip(params, decl["params"]):
        want_kind = inspect.Parameter.KEYWORD_ONLY if d["keyword_only"] else inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert p.kind is want_kind, p.name
        if d["default"] is None:
            assert p.default is inspect.Parameter.empty, p.name
        else:
            assert p.default == ast.literal_eval(d["default"]), p.name
        assert p.annotation == _declared.annotation(d["annotation"]), p.name
    assert inspect.signature(f).return_annotation == decl["returns"]
    assert inspect.getdoc(f) == decl["doc"] and f.__module__ == "quelm.vec" and f.__qualname__ == name
    # The stub says the same.
    (stub,) = _stub_defs(ROOT / "python" / "quelm" / "vec.pyi")[name]
    assert [a.arg for a in stub.args.args] == [p["name"] for p in decl["params"] if not p["keyword_only"]]
    assert [a.arg for a in stub.args.kwonlyargs] == [p["name"] for p in decl["params"] if p["keyword_only"]]
    shown = [ast.literal_eval(d) for d in stub.args.defaults + [k for k in stub.args.kw_defaults if k]]
    assert shown == [p.default for p in params if p.default is not inspect.Parameter.empty]
    assert ast.unparse(stub.returns) == decl["returns"]


def _fake(monkeypatch, params):
    decl = {"name": "probe", "params": params, "returns": "float", "doc": "A probe.", "keys": None}
    monkeypatch.setattr(_declared, "written", lambda: (decl,))


def test_a_body_is_called_with_every_argument_in_declared_order(monkeypatch):
    _fake(monkeypatch, [{"name": "a", "annotation": "_Float", "default": None, "keyword_only": False},
                        {"name": "b", "annotation": "int", "default": "2", "keyword_only": False},
                        {"name": "c", "annotation": "Any", "default": "None", "keyword_only": True}])
    source = types.SimpleNamespace(probe=lambda a, b, c: (a, b, c))
    probe = _arrays.build_written("quelm.vec", source)["probe"]
    assert str(inspect.signature(probe)) == "(a: 'float', b: 'int' = 2, *, c: 'Any' = None) -> 'float'"
    assert probe(1.5) == (1.5, 2, None) and probe(c=3, a=0.0) == (0.0, 2, 3)
    with pytest.raises(TypeError):
        probe(1.0, 2, 3)  # c is keyword-only


def test_a_body_that_drifts_from_its_declaration_fails_the_import(monkeypatch):
    _fake(monkeypatch, [{"name": "a", "annotation": "_Float", "default": None, "keyword_only": False}])
    with pytest.raises(ImportError, match=r"probe: the body takes \(x\), the declaration \(a\)"):
        _arrays.build_written("quelm.vec", types.SimpleNamespace(probe=lambda x: x))
    with pytest.raises(ImportError, match="probe is declared but has no body"):
        _arrays.build_written("quelm.vec", types.SimpleNamespace())


def test_simulate_paths_takes_simulate_process_parameters_and_its_compiled_call_the_same():
    ours = inspect.signature(vec.simulate_paths).parameters
    theirs = inspect.signature(quelm.simulate_process).parameters
    assert list(ours) == list(theirs)
    differ = [n for n in ours if theirs[n].default is not Ellipsis and ours[n].default != theirs[n].default]
    assert differ == ["paths"] and ours["paths"].default == 1000
    # The compiled call names its parameters as the declaration does (its type errors name them).
    compiled = inspect.signature(_core._simulate_paths).parameters
    assert list(compiled) == list(ours)
    assert all(compiled[n].default in (ours[n].default, Ellipsis) for n in ours)
    with pytest.raises(TypeError, match="argument 'kappa'"):
        vec.simulate_paths("ou", kappa="fast")


def test_result_keys_are_the_declared_records():
    import numpy as np

    returns = np.array([[0.01, 0.02, -0.01, 0.0], [0.0, 0.01, 0.02, -0.02]]).T
    scalar = quelm.portfolio_risk(returns.T, [0.5, 0.5])
    assert WRITTEN["portfolio_risk"]["keys"] == list(scalar)
    assert list(vec.portfolio_risk(returns, [[0.5, 0.5], [1.0, 0.0]])) == list(scalar)
    assert list(vec.portfolio_risk(returns, np.empty((0, 2)))) == list(scalar)  # no portfolio: every key
    mean, cov = [0.05, 0.07], [[0.04, 0.01], [0.01, 0.09]]
    assert WRITTEN["optimize"]["keys"] == list(quelm.optimize(mean, cov)) == list(vec.optimize(mean, cov))
    assert vec.GREEK_KEYS == tuple(quelm.greeks(100, 100, 0.05, 0.2, 1.0, "call"))


def test_dask_and_the_chain_command_take_the_vec_parameters_given_by_position():
    pytest.importorskip("dask")
    import quelm.cli_chain as chain
    import quelm.dask as qd

    for name in ("black_scholes", "greeks", "implied_volatility"):
        params = inspect.signature(getattr(qd, name)).parameters
        ours = [n for n, p in inspect.signature(getattr(vec, name)).parameters.items()
                if p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD]
        assert list(params) == ["frame", *ours, "errors"], name
        assert all(params[n].default is None for n in ours)
        assert params["errors"].kind is inspect.Parameter.KEYWORD_ONLY and params["errors"].default == "raise"
    for name in ("market_price", "vol", "dividend_yield", "option_type", "expiry"):
        assert chain.parse_map(f"Column={name}") == {"column": name}
    with pytest.raises(Exception, match="'method' is not a column the command reads"):
        chain.parse_map("Column=method")  # implied_volatility's keyword-only option
