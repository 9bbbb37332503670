"""The shipped type stub: a type checker accepts correct use and rejects wrong use."""
from __future__ import annotations

import ast
import importlib.metadata
import json
import os
import re
import runpy
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


def lay_stub(where: Path) -> Path:
    """The tree's typed package (its stubs, py.typed and quelm.typing) under `where`, where the
    checkers look before site-packages (an installed copy, perhaps stale, would win there)."""
    package = where / "stubs" / "quelm"
    package.mkdir(parents=True, exist_ok=True)
    for name in ("__init__.pyi", "vec.pyi", "typing.py", "py.typed"):
        shutil.copyfile(ROOT / "python" / "quelm" / name, package / name)
    return package.parent


def run_mypy(tmp_path: Path, source: str) -> subprocess.CompletedProcess:
    pytest.importorskip("mypy")
    src = tmp_path / "example.py"
    src.write_text(source)
    env = dict(os.environ)
    env["MYPYPATH"] = str(lay_stub(tmp_path))
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
    text = (ROOT / "python" / "quelm" / "__init__.pyi").read_text()
    for name in quelm.__all__:
        assert f"def {name}(" in text or f"class {name}" in text or f"{name}:" in text, name


def test_stub_signatures_match_the_module():
    """Parameter names and defaults in the stub are the runtime's, in order."""
    import ast
    import inspect

    import quelm
    tree = ast.parse((ROOT / "python" / "quelm" / "__init__.pyi").read_text())
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
        names = [a.arg for a in stub.args.args + stub.args.kwonlyargs if a.arg != "self"]
        assert names == [n for n in sig.parameters if n != "self"], qual
        assert [a.arg for a in stub.args.kwonlyargs] == [n for n, p in sig.parameters.items()
                                                        if p.kind is inspect.Parameter.KEYWORD_ONLY], qual
        defaults = [ast.literal_eval(d) for d in stub.args.defaults + [k for k in stub.args.kw_defaults if k]]
        runtime = [p.default for p in sig.parameters.values() if p.default is not inspect.Parameter.empty]
        # A default the text signature shows as "..." is documented, not spelled out.
        assert len(defaults) == len(runtime), qual
        assert all(r is Ellipsis or d == r for d, r in zip(defaults, runtime)), qual
        checked += 1
    assert checked >= len([n for n in quelm.__all__ if callable(getattr(quelm, n))
                           and not isinstance(getattr(quelm, n), type)])


def test_every_class_called_as_itself_has_its_constructor_in_the_stub():
    # Calendar("uk"), Ois("5Y", 0.03, ...): without an __init__ in the stub a checker rejects
    # every documented call ("Too many arguments").
    import inspect

    import quelm
    tree = ast.parse((ROOT / "python" / "quelm" / "__init__.pyi").read_text())
    inits = {node.name: item for node in tree.body if isinstance(node, ast.ClassDef)
             for item in node.body if isinstance(item, ast.FunctionDef) and item.name == "__init__"}
    called = [n for n in quelm.__all__ if isinstance(getattr(quelm, n), type) and getattr(quelm, n).__text_signature__]
    assert {"Calendar", "Deposit", "Fra", "Future", "Ois", "Swap", "BondQuote"} <= set(called)
    assert sorted(inits) == sorted(called)
    for name in called:
        stub = inits[name]
        assert [a.arg for a in stub.args.args][0] == "self" and ast.unparse(stub.returns) == "None", name
        params = inspect.signature(getattr(quelm, name)).parameters
        assert [a.arg for a in stub.args.kwonlyargs] == [n for n, p in params.items()
                                                        if p.kind is inspect.Parameter.KEYWORD_ONLY], name


def test_stub_lists_the_public_names_in_registration_order():
    import ast

    import quelm
    tree = ast.parse((ROOT / "python" / "quelm" / "__init__.pyi").read_text())
    stubbed = [node.name for node in tree.body
               if isinstance(node, ast.FunctionDef) or (isinstance(node, ast.ClassDef) and node.name in quelm.__all__)]
    assert ["__version__", *stubbed] == quelm.__all__


def _runtime_callables(quelm):
    for name in quelm.__all__:
        obj = getattr(quelm, name)
        if isinstance(obj, type) and obj.__text_signature__:  # a class called as itself: its __init__
            yield f"{name}.__init__", obj
        if isinstance(obj, type):
            for attr, member in vars(obj).items():
                if attr.startswith("_") or not callable(getattr(obj, attr)):
                    continue
                yield f"{name}.{attr}", getattr(obj, attr)
        elif callable(obj) and getattr(obj, "__text_signature__", None):
            yield name, obj


# --- NumPy arrays, pandas Series and option spellings, under both checkers --------------

CASES = ROOT / "tests" / "typing_cases"
MARK = re.compile(r"#\s*wrong(:.*)?$")


def marked(path: Path) -> dict[int, bool]:
    """Line number -> whether the marked mistake also fails at run time (a bare mark)."""
    lines = path.read_text().splitlines()
    return {i: m.group(1) is None for i, line in enumerate(lines, 1) if (m := MARK.search(line))}


def _need_scientific_stack() -> None:
    pytest.importorskip("numpy")
    pytest.importorskip("pandas")


def _mypy(work: Path, names: list[str]) -> dict[str, set[int]]:
    pytest.importorskip("mypy")
    try:
        importlib.metadata.distribution("pandas-stubs")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("pandas-stubs is not installed")
    env = dict(os.environ, MYPYPATH=str(lay_stub(work)))
    out = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", *names],
                         capture_output=True, text=True, env=env, cwd=work)
    found: dict[str, set[int]] = {name: set() for name in names}
    for m in re.finditer(r"^([\w.]+):(\d+): error:", out.stdout, re.M):
        found[m.group(1)].add(int(m.group(2)))
    assert out.returncode in (0, 1), out.stdout + out.stderr
    return found


def _pyright(work: Path, names: list[str]) -> dict[str, set[int]]:
    exe = shutil.which("basedpyright", path=str(Path(sys.executable).parent)) or shutil.which("basedpyright")
    if exe is None:
        pytest.skip("basedpyright (pyright with its own node) is not installed")
    lay_stub(work)
    (work / "pyrightconfig.json").write_text(json.dumps({"typeCheckingMode": "strict", "extraPaths": ["stubs"]}))
    out = subprocess.run([exe, "--pythonpath", sys.executable, "--outputjson", *names],
                         capture_output=True, text=True, cwd=work)
    try:
        report = json.loads(out.stdout)
    except json.JSONDecodeError:
        pytest.fail(out.stdout + out.stderr)
    found: dict[str, set[int]] = {name: set() for name in names}
    for d in report["generalDiagnostics"]:
        if d["severity"] == "error":
            found[Path(d["file"]).name].add(d["range"]["start"]["line"] + 1)
    return found


@pytest.fixture(scope="module", params=["mypy", "pyright"])
def checker_errors(request, tmp_path_factory) -> dict[str, set[int]]:
    """One run of each checker over both case files: file name -> lines with an error."""
    _need_scientific_stack()
    work = tmp_path_factory.mktemp(request.param)
    names = ["correct_use.py", "mistakes.py"]
    for name in names:
        shutil.copyfile(CASES / name, work / name)
    return {"mypy": _mypy, "pyright": _pyright}[request.param](work, names)


def test_correct_use_with_arrays_and_series_is_accepted(checker_errors):
    assert checker_errors["correct_use.py"] == set()


def test_every_typical_mistake_is_reported_on_its_line(checker_errors):
    expected = set(marked(CASES / "mistakes.py"))
    assert checker_errors["mistakes.py"] == expected, (
        f"missed {sorted(expected - checker_errors['mistakes.py'])}, "
        f"unexpected {sorted(checker_errors['mistakes.py'] - expected)}")


def test_the_correct_example_runs():
    _need_scientific_stack()
    runpy.run_path(str(CASES / "correct_use.py"))


def test_the_mistakes_fail_at_run_time():
    _need_scientific_stack()
    lines = (CASES / "mistakes.py").read_text().splitlines()
    runtime = [n for n, fails in marked(CASES / "mistakes.py").items() if fails]
    first = min(marked(CASES / "mistakes.py"))
    scope: dict = {}
    exec("\n".join(lines[:first - 1]), scope)
    assert len(runtime) >= 20
    for n in runtime:
        with pytest.raises((TypeError, ValueError, KeyError)):
            exec(lines[n - 1], dict(scope))
            pytest.fail(f"line {n} ran: {lines[n - 1]}")


def _stub_tree() -> ast.Module:
    return ast.parse((ROOT / "python" / "quelm" / "__init__.pyi").read_text())


def _literal_aliases() -> dict[str, list[str]]:
    import typing

    import quelm.typing

    return {name: list(typing.get_args(getattr(quelm.typing, name))) for name in quelm.typing.__all__}


def test_stubs_are_current():
    # The stubs and quelm.typing are written from the declarations by tools/stubgen.py.
    out = subprocess.run([sys.executable, str(ROOT / "tools" / "stubgen.py"), "--check"], capture_output=True,
                         text=True, env=dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p)))
    assert out.returncode == 0, out.stdout + out.stderr


# One call per string option, with the spelling put in; and whether the runtime also
# takes upper case.
SPELLING_CALLS = {
    "OptionType": (lambda q, s: q.black_scholes(100, 100, 0.05, 0.2, 1.0, s), True),
    "ExerciseStyle": (lambda q, s: q.binomial(100, 100, 0.05, 0.2, 1.0, "put", s, 20), True),
    "BarrierType": (lambda q, s: q.barrier_price(100, 100, 0.05, 0.2, 1.0, "call", s, 90), True),
    "StrikeType": (lambda q, s: q.lookback_price(100, 100, 0.05, 0.2, 1.0, "call", s), True),
    "AverageType": (lambda q, s: q.asian_price(100, 100, 0.05, 0.2, 1.0, "call", s, 4, 64), True),
    "Process": (lambda q, s: q.simulate_process(s, x0=1.0, steps=2, paths=8), True),
    "VarMethod": (lambda q, s: q.value_at_risk([0.01, -0.02, 0.005, -0.01], 0.9, s), True),
    "EsMethod": (lambda q, s: q.expected_shortfall([0.01, -0.02, 0.005, -0.01], 0.9, s), True),
    "Interpolation": (lambda q, s: q.YieldCurve.from_zero_rates([1.0, 2.0, 3.0], [0.03, 0.035, 0.04], s), True),
    "NeuralMethod": (lambda q, s: q.american_ml(100, 100, 0.05, 0.2, 0.5, "put", s, 64, 4, 1, 1, [2]), False),
    "BusinessDayConvention": (lambda q, s: q.Calendar("uk").adjust("2022-09-19", s), True),
    "ScheduleRule": (lambda q, s: q.schedule("2020-01-15", "2021-03-17", "3M", rule=s), True),
    "ImpliedVolMethod": (lambda q, s: q.implied_volatility(10.45, 100, 100, 0.05, 1.0, "call", method=s), True),
    "AmericanApproximation": (lambda q, s: q.american_approximation(100, 100, 0.05, 0.2, 1.0, "put", method=s), True),
    "QuoteType": (lambda q, s: q.heston_calibrate(100, [90, 95, 100, 105, 110], [1.0] * 5,
                                                  [0.2] * 5 if s.lower().startswith("vol") else [12.0, 8.5, 5.6, 3.4, 1.9],
                                                  0.02, quote_type=s, max_iterations=1), True),
}


@pytest.mark.parametrize("alias", sorted(SPELLING_CALLS))
def test_listed_spellings_are_the_runtime_ones(alias):
    import quelm
    call, any_case = SPELLING_CALLS[alias]
    spellings = _literal_aliases()[alias]
    for s in spellings:
        call(quelm, s)
        if any_case:
            call(quelm, s.upper())
        elif s.upper() != s:
            with pytest.raises(ValueError):
                call(quelm, s.upper())
    for wrong in ("", "none", spellings[0] + "x"):
        with pytest.raises(ValueError):
            call(quelm, wrong)


def _typed_dicts() -> dict[str, dict[str, ast.expr]]:
    found = {}
    for node in _stub_tree().body:
        if isinstance(node, ast.ClassDef) and any(getattr(b, "id", "") == "TypedDict" for b in node.bases):
            found[node.name] = {a.target.id: a.annotation for a in node.body if isinstance(a, ast.AnnAssign)}
        elif (isinstance(node, ast.Assign) and isinstance(node.value, ast.Call)
              and getattr(node.value.func, "id", "") == "TypedDict"):
            spec = node.value.args[1]
            found[node.targets[0].id] = {ast.literal_eval(k): v for k, v in zip(spec.keys, spec.values)}
    return found


RESULT_CALLS = {
    "PriceResult": lambda q: q.price(100, 100, 0.05, 0.2, 1.0, "P"),
    "GreeksResult": lambda q: q.greeks(100, 100, 0.05, 0.2, 1.0, "call"),
    "HigherGreeksResult": lambda q: q.higher_greeks(100, 100, 0.05, 0.2, 1.0, "call"),
    "MonteCarloResult": lambda q: q.lsm(100, 100, 0.05, 0.2, 1.0, "put", 256, 4),
    "AsianResult": lambda q: q.asian_price(100, 100, 0.05, 0.2, 1.0, "call"),
    "ProcessResult": lambda q: q.simulate_process("OU", x0=0.03, steps=2, paths=8),
    "StatsReport": lambda q: q.stats(returns=[0.01, -0.02, 0.015, 0.0, 0.004]),
    "DrawdownResult": lambda q: q.max_drawdown([100, 90, 95, 80, 120]),
    "PortfolioValuation": lambda q: q.portfolio_value([("A", 1, 2, 3)]),
    "HoldingValuation": lambda q: q.portfolio_value([("A", 1, 2, 3)])["holdings"][0],
    "PortfolioRisk": lambda q: q.portfolio_risk([[0.01, 0.02, -0.01], [0.0, 0.01, 0.02]], [0.5, 0.5]),
    "OptimizeResult": lambda q: q.optimize([0.05, 0.07], [[0.04, 0.01], [0.01, 0.09]]),
    "DifferentialMLResult": lambda q: q.differential_ml(100, 100, 0.05, 0.2, 1.0, "c", 64, 1, hidden=[2]),
    "HestonCalibration": lambda q: q.heston_calibrate(100, [90, 95, 100, 105, 110], [1.0] * 5,
                                                      [0.2] * 5, 0.02, quote_type="vol", max_iterations=2),
    "SabrCalibration": lambda q: q.sabr_calibrate(0.03, [0.02, 0.03, 0.04], [0.25, 0.2, 0.19], 1.0),
    "SviCalibration": lambda q: q.svi_calibrate(100, [80, 90, 100, 110, 120], [0.26, 0.22, 0.2, 0.19, 0.195], 1.0),
    "AmericanMLResult": lambda q: q.american_ml(100, 100, 0.05, 0.2, 0.5, "P", "deep_lsm", 64, 4, 1, 1, [2]),
    "FdResult": lambda q: q.fd_price(100, 100, 0.03, 0.15, 1.0, "put", space_steps=40, time_steps=8),
    "HestonFdResult": lambda q: q.fd_heston_price(100, 100, 0.03, 1.0, "put", 0.04, 2.0, 0.04, 0.3, -0.5,
                                                  space_steps=20, variance_steps=10, time_steps=4),
    "BondCurvePrice": lambda q: q.FixedRateBond.dated("2024-01-15", "2030-01-15", 0.03).price_from_curve(
        q.YieldCurve.flat(0.03), "2025-03-17"),
    "CdsRisk": lambda q: q.Cds("5Y", 0.01, trade_date="2024-05-21").risk(q.CreditCurve.bootstrap(
        "2024-05-21", [("5Y", 0.01)], q.YieldCurve.flat(0.03, reference_date="2024-05-21"))),
    "Caplet": lambda q: q.CapFloor("cap", "2Y", 0.03).caplets(
        q.YieldCurve.flat(0.03, reference_date="2026-03-02"), 0.2)[1],
    "CubeFit": lambda q: q.SwaptionCube.from_quotes(
        "2026-03-02", ["1Y"], ["5Y"], ["ATM-100", "ATM", "ATM+100"], [0.0095, 0.0085, 0.009],
        curve=q.YieldCurve.flat(0.03, reference_date="2026-03-02")).parameters("1Y", "5Y"),
    "HullWhiteFit": lambda q: q.HullWhite.calibrate(
        q.YieldCurve.flat(0.03, reference_date="2026-03-02"),
        [q.Swaption("1Y", "5Y", 0.03), q.Swaption("2Y", "4Y", 0.03)], [0.2, 0.19]),
    "BookValue": lambda q: q.Book([q.Ois("2Y", 0.03, index="sofr")]).npv(
        q.Market("2025-01-02", curves={"usd-sofr": q.YieldCurve.flat(0.03, reference_date="2025-01-02")})),
    "FxGreeksResult": lambda q: q.fx_greeks(1.3465, 1.35, 0.0294, 0.0346, 0.1825, 1.0, "call"),
    "FxForwardResult": lambda q: q.fx_forward_at(1.3465, "2027-01-05", q.YieldCurve.flat(0.0294, reference_date="2026-01-05"),
                                                 q.YieldCurve.flat(0.0346, reference_date="2026-01-05")),
    "BookVaR": lambda q: _book_loss(q, "historical_var"),
    "BookExpectedShortfall": lambda q: _book_loss(q, "expected_shortfall"),
}


def _book_loss(q, statistic: str):
    import pandas as pd

    market = q.Market.bootstrap("2025-01-02", {"usd-sofr": [q.Ois("1Y", 0.03, index="sofr"),
                                                            q.Ois("5Y", 0.031, index="sofr")]})
    history = pd.DataFrame({"usd-sofr 5Y": [0.031, 0.0312, 0.0309]}, index=pd.bdate_range("2024-12-02", periods=3))
    return getattr(q.Book([q.Ois("2Y", 0.03, index="sofr")]), statistic)(market, history, level=0.9)


def test_result_dicts_are_typed_with_the_runtime_keys_in_order():
    import quelm
    typed = _typed_dicts()
    assert set(typed) == set(RESULT_CALLS)
    for name, call in RESULT_CALLS.items():
        result = call(quelm)
        assert list(result) == list(typed[name]), name
        for key, annotation in typed[name].items():
            # A Literal-typed value is one of the listed strings.
            if isinstance(annotation, ast.Subscript) and getattr(annotation.value, "id", "") == "Literal":
                elts = annotation.slice.elts if isinstance(annotation.slice, ast.Tuple) else [annotation.slice]
                assert result[key] in [ast.literal_eval(e) for e in elts], (name, key, result[key])
