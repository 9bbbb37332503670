"""The manual shows real calls with their real outputs, and its API reference matches the module."""
from __future__ import annotations

import ast
import doctest
import inspect
import re
import sys
from pathlib import Path

import pytest

import quelm

ROOT = Path(__file__).resolve().parent.parent
DOCS = ROOT / "docs"
PAGES = sorted(DOCS.glob("*.md"))
sys.path.insert(0, str(DOCS / "_ext"))
import stubdoc  # noqa: E402

STUB = stubdoc.read_stub(ROOT / "python" / "quelm" / "__init__.pyi")
FLAGS = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE

# Pages that teach a domain must show it working, not just describe it.
MIN_EXAMPLES = {"getting-started": 5, "analytic": 15, "volatility-models": 12, "trees-and-exotics": 10,
                "monte-carlo": 10, "processes": 4, "statistics": 15, "portfolios": 10, "fixed-income": 15,
                "dates": 12, "neural": 6, "curves": 12, "books": 15,
                "credit": 10, "errors": 5, "concurrency": 2, "stochastic-volatility": 20, "fx": 15,
                "finite-differences": 12}


def page_examples(page: Path) -> doctest.DocTest:
    blocks = re.findall(r"```python\n(.*?)```", page.read_text(encoding="utf-8"), flags=re.S)
    return doctest.DocTestParser().get_doctest("\n".join(blocks), {}, page.stem, str(page), 0)


@pytest.mark.parametrize("page", PAGES, ids=[p.stem for p in PAGES])
def test_page_examples_hold(page):
    test = page_examples(page)
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    runner.run(test)
    result = runner.summarize(verbose=False)
    assert result.failed == 0, f"{page.name}: {result.failed} example(s) no longer hold"
    assert result.attempted >= MIN_EXAMPLES.get(page.stem, 0), f"{page.name} lost its worked examples"


def test_every_page_is_in_the_contents():
    index = (DOCS / "index.md").read_text(encoding="utf-8")
    listed = set(re.findall(r"^([a-z][a-z0-9-]*)$", index, flags=re.M))
    assert {p.stem for p in PAGES} - {"index"} <= listed


def test_api_reference_names_every_export():
    api = (DOCS / "api.md").read_text(encoding="utf-8")
    documented = set(re.findall(r"auto(?:function|class|exception):: (\w+)", api))
    assert set(quelm.__all__) - {"__version__"} == documented


METHODS = [f"{c}.{m}" for c in ("YieldCurve", "FixedRateBond", "Calendar", "DatedBond", "VolSurface", "Deposit", "Fra", "Future", "Ois", "Swap", "BondQuote", "Market") for m in dir(getattr(quelm, c))
           if not m.startswith("_") and callable(getattr(getattr(quelm, c), m))]


@pytest.mark.parametrize("name", [n for n in quelm.__all__ if callable(getattr(quelm, n))
                                  and not isinstance(getattr(quelm, n), type)] + METHODS)
def test_stub_signature_matches_the_module(name):
    # The reference shows the stub's signature under the module's docstring: they must agree
    # on names, order and defaults, or the page documents a call that does not work.
    target = quelm
    for part in name.split("."):
        target = getattr(target, part)
    runtime = {k: v for k, v in inspect.signature(target).parameters.items() if k != "self"}
    shown = dict(STUB.params[name])
    assert list(shown) == list(runtime)
    for p in runtime.values():
        if p.default is not inspect.Parameter.empty and p.default is not Ellipsis:
            assert shown[p.name] is not None and ast.literal_eval(shown[p.name]) == p.default, p.name


@pytest.mark.parametrize("cls", ["YieldCurve", "FixedRateBond", "Calendar", "DatedBond"])
def test_stub_covers_every_public_method(cls):
    public = {n for n in dir(getattr(quelm, cls)) if not n.startswith("_")}
    assert public == {k.split(".", 1)[1] for k in STUB.signatures if k.startswith(cls + ".")}


def test_result_keys_match_the_dicts_returned():
    cases = {
        "price": quelm.price(100, 100, 0.05, 0.2, 1.0, "call"),
        "greeks": quelm.greeks(100, 100, 0.05, 0.2, 1.0, "call"),
        "asian_price": quelm.asian_price(100, 100, 0.05, 0.2, 1.0, "call"),
        "simulate_process": quelm.simulate_process("gbm", paths=10, steps=2),
        "stats": quelm.stats(returns=[0.01, -0.02, 0.015]),
        "max_drawdown": quelm.max_drawdown([1, 2, 1]),
        "portfolio_risk": quelm.portfolio_risk([[0.01, 0.02], [0.0, 0.01]], [0.5, 0.5]),
        "optimize": quelm.optimize([0.1, 0.05], [[0.04, 0.0], [0.0, 0.01]]),
    }
    for name, result in cases.items():
        shape = STUB.returns[name]
        assert [k for k, _ in STUB.typeddicts[shape]] == list(result), name
        line = stubdoc.result_lines(STUB, name)[-1]
        assert re.findall(r"``(\w+)``", line) == list(result), name


@pytest.mark.parametrize("doc, first_code_line", [
    (quelm.stats.__doc__, "   quelm.stats("),                    # a Markdown fence
    (quelm.black_scholes.__doc__, "    import quelm"),             # "Example:" and an indented block
    (quelm.YieldCurve.__doc__, "    >>> import quelm"),
])
def test_docstring_examples_become_code_blocks(doc, first_code_line):
    lines = stubdoc.docstring_to_rest(doc.splitlines())
    assert not any(line.strip().startswith("```") for line in lines)
    at = next(i for i, line in enumerate(lines) if line.startswith(first_code_line))
    intro = next(line for line in reversed(lines[:at]) if line.strip())
    assert intro.endswith("::") or intro.startswith(".. code-block::"), intro


# The reference reads whatever the stub declares: plain sequence aliases, array protocols and
# string-option literals must all come out as a reader expects.
STUB_CASES = [
    ("_Float = Union[SupportsFloat, SupportsIndex]\n_Floats = Sequence[_Float]\n"
     "def f(x: _Floats, t: _Float = 1.0, option_type: str = 'call') -> float: ...",
     "(x: Sequence[float], t: float = 1.0, option_type: str = 'call')", {}),
    ("_Float = SupportsFloat | SupportsIndex\nclass _ArrayLike(Protocol[_T_co]): ...\n"
     "_Floats = _ArrayLike[_Float]\n_Matrix = _ArrayLike[_Floats]\n_Side = Literal['call', 'put']\n"
     "def f(x: _Matrix, option_type: _Side = 'put', hidden: Optional[_ArrayLike[_Count]] = None) -> float: ...",
     "(x: ArrayLike[ArrayLike[float]], option_type: Side = 'put', hidden: Optional[ArrayLike[int]] = None)",
     {"Side": ["call", "put"]}),
]


@pytest.mark.parametrize("source, shown, options", STUB_CASES)
def test_stub_reader_shows_aliases_as_readers_expect(tmp_path, source, shown, options):
    path = tmp_path / "stub.pyi"
    path.write_text(source)
    stub = stubdoc.read_stub(path)
    assert stub.signatures["f"] == (shown, "float")
    assert stubdoc.string_options(stub) == options


def load_conf():
    import importlib.util
    spec = importlib.util.spec_from_file_location("docs_conf", DOCS / "conf.py")
    conf = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(conf)
    return conf


@pytest.mark.parametrize("docname, text, expected", [
    # An optional page is listed only once its file exists, so the build passes before it lands.
    ("index", "```{toctree}\napi\narchitecture\n```", "```{toctree}\napi\n```"),
    ("other", "architecture", "architecture"),
    # Links into the source tree become paths; links between pages stay links.
    ("page", "See [the pool](../src/quelm/core/parallel.hpp).", "See the pool (`src/quelm/core/parallel.hpp`)."),
    ("page", "See [errors](errors.md).", "See [errors](errors.md)."),
])
def test_site_source_hooks(monkeypatch, tmp_path, docname, text, expected):
    conf = load_conf()
    monkeypatch.setattr(conf, "HERE", tmp_path)  # a docs folder without the optional page
    source = [text]
    conf._drop_missing_pages(None, docname, source)
    conf._source_links_as_paths(None, docname, source)
    assert source[0] == expected


def test_array_api_page_names_every_array_function():
    vec = pytest.importorskip("quelm.vec")
    page = (DOCS / "array-api.md").read_text(encoding="utf-8")
    assert [n for n in vec.__all__ if not re.search(rf"`{n}\(", page)] == []
