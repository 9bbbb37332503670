"""The module frame: registration, signatures, argument conversion and error mapping."""
from __future__ import annotations

import inspect
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import quelm
import _quelm_testing as internal

# The public functions in registration order, read from the module: the order is declared
# once, by the module's registration table (the stub is checked against it in test_typing).
FUNCTIONS = [name for name in quelm.__all__
             if type(getattr(quelm, name)).__name__ == "builtin_function_or_method"]


def test_module_contents_and_order():
    assert quelm.__all__[0] == "__version__" and len(set(quelm.__all__)) == len(quelm.__all__)
    classes = [n for n in quelm.__all__ if isinstance(getattr(quelm, n), type)]
    assert sorted(quelm.__all__) == sorted(["__version__", *FUNCTIONS, *classes])
    assert {"YieldCurve", "FixedRateBond", "InternalFault"} <= set(classes)
    assert issubclass(quelm.InternalFault, BaseException) and not issubclass(quelm.InternalFault, Exception)
    for name in FUNCTIONS:
        f = getattr(quelm, name)
        assert type(f).__name__ == "builtin_function_or_method"
        assert f.__name__ == name


def test_text_signatures_match_docstrings():
    for name in FUNCTIONS:
        f = getattr(quelm, name)
        first = f.__doc__.splitlines()[0] if f.__doc__ else ""
        assert f.__text_signature__ is not None, name
        sig = inspect.signature(f)
        assert list(sig.parameters) == [p.split("=")[0].strip() for p in f.__text_signature__.strip("()").split(",")
                                        if p.strip() and p.strip() not in ("*", "/")]
        assert not first.startswith(name + "("), "signature line must not leak into __doc__"


def test_hidden_defaults_and_visible_defaults():
    sig = inspect.signature(quelm.binomial)
    assert sig.parameters["steps"].default is Ellipsis
    assert sig.parameters["style"].default == "european"
    sig = inspect.signature(quelm.simulate_process)
    assert sig.parameters["jump_mean"].default is Ellipsis and sig.parameters["rho"].default is Ellipsis
    assert sig.parameters["sigma"].default == 0.2


def test_reimport_shares_the_compiled_module():
    # A fresh import of the package, after it is dropped from sys.modules, hands back the
    # package made first (one quelm per process, as there is one compiled module).
    first = sys.modules["quelm"]
    del sys.modules["quelm"]
    try:
        import quelm as again
        assert again is first and sys.modules["quelm"] is first
        assert again.black_scholes is first.black_scholes
    finally:
        sys.modules["quelm"] = first


def test_reimport_in_a_fresh_interpreter_returns_the_first_package(python_subprocess):
    out = python_subprocess(
        "import sys, quelm\n"
        "first = quelm\n"
        "del sys.modules['quelm']\n"
        "import quelm\n"
        "del sys.modules['quelm'], sys.modules['quelm._core']\n"
        "from quelm import vec\n"
        "import quelm as third\n"
        "print(quelm is first, third is first, vec is first.vec, first.__all__ is third.__all__)\n")
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["True"] * 4


# The names of the module's first release, in the order it listed them; every name added
# since follows them.
FIRST_RELEASE = [
    "black_scholes", "price", "binomial", "monte_carlo", "lsm", "greeks", "implied_volatility", "barrier_price",
    "lookback_price", "asian_price", "simulate_process", "stats", "sharpe", "sortino", "max_drawdown",
    "value_at_risk", "expected_shortfall", "beta", "tracking_error", "info_ratio", "jarque_bera", "acf",
    "portfolio_value", "twr", "mwr", "allocation", "covariance_matrix", "portfolio_risk", "optimize",
    "differential_ml", "american_ml", "YieldCurve", "FixedRateBond"]


def test_module_docstring_and_the_first_release_order():
    assert quelm.__doc__ == "The `quelm` Python module."
    assert quelm.__all__[:34] == ["__version__", *FIRST_RELEASE]
    assert "vec" not in quelm.__all__
    # the names since, in registration order: the order of the reference, grouped by section
    page = (Path(__file__).resolve().parent.parent / "docs" / "api.md").read_text()
    documented = re.findall(r"^\.\. auto(?:function|class|exception):: (\w+)$", page, re.M)
    assert quelm.__all__[34:] == [n for n in documented if n not in FIRST_RELEASE]
    assert [n for n in dir(quelm) if n in quelm.__all__] == sorted(quelm.__all__)


def test_subinterpreter_import_fails(python_subprocess):
    # A legacy (shared-GIL) sub-interpreter, so that the module's own check is what refuses
    # it: since 3.12 an isolated one is refused by the interpreter itself. 3.13 renamed the
    # private module and reports the failure as a returned snapshot instead of raising.
    code = (
        "import sys, quelm\n"
        "if sys.version_info >= (3, 13):\n"
        "    import _interpreters as s\n"
        "    err = s.run_string(s.create('legacy'), 'import quelm')\n"
        "    print('imported' if err is None else f'{err.type.__name__} {err.msg}')\n"
        "else:\n"
        "    import _xxsubinterpreters as s\n"
        "    i = s.create(isolated=False) if sys.version_info >= (3, 12) else s.create()\n"
        "    try:\n"
        "        s.run_string(i, 'import quelm')\n"
        "    except Exception as e:\n"
        "        print(type(e).__name__, e)\n"
        "    else:\n"
        "        print('imported')\n"
    )
    out = python_subprocess(code)
    assert out.returncode == 0, out.stderr
    assert "ImportError" in out.stdout and "sub-interpreters" in out.stdout


# Reference functions with the same signatures: CPython's own wording is the oracle.
def black_scholes(spot, strike, rate, vol, t, option_type, dividend_yield=0.0):
    pass


def stats(returns=None, prices=None, values=None, benchmark=None, risk_free=0.0, periods_per_year=252.0,
          confidence=0.95, lag=None):
    pass


class YieldCurve:
    @staticmethod
    def flat(rate):
        pass


def keyword_only(a, b=1.0, *, c, d=2.0):
    pass


KEYWORD_ONLY_CALLS = [
    ((1, 2, 3), {}),
    ((1, 2, 3), {"c": 1}),
    ((1, 2, 3, 4), {"c": 1, "d": 2}),
    ((1,), {}),
    ((), {}),
    ((1,), {"d": 1}),
    ((1,), {"e": 1}),
    ((1, 2), {"b": 1, "c": 1}),
]


# keyword_only_joined declares the same table joined from two parts (ParamList's `+`).
KEYWORD_ONLY_FORMS = ["keyword_only", "keyword_only_joined"]


@pytest.mark.parametrize("form", KEYWORD_ONLY_FORMS)
@pytest.mark.parametrize("args,kwargs", KEYWORD_ONLY_CALLS)
def test_keyword_only_messages_match_cpython(form, args, kwargs):
    got = _message(getattr(internal, form), args, kwargs).replace(form + "()", "keyword_only()")
    assert got == _message(keyword_only, args, kwargs)


@pytest.mark.parametrize("form", KEYWORD_ONLY_FORMS)
def test_keyword_only_parameters_bind_by_name(form):
    f = getattr(internal, form)
    assert f(1, c=3) == [1.0, 1.0, 3.0, 2.0]
    assert f(c=3, a=1, d=4, b=2) == [1.0, 2.0, 3.0, 4.0]
    assert str(inspect.signature(f)) == "(a, b=1.0, *, c, d=2.0)"



ARITY_CALLS = [
    ("black_scholes", (1, 2, 3, 4, 5, "c", 0.0, 8), {}),
    ("black_scholes", (1, 2), {}),
    ("black_scholes", (1, 2, 3), {}),
    ("black_scholes", (1, 2, 3, 4), {}),
    ("black_scholes", (), {}),
    ("black_scholes", (1, 2, 3, 4, 5, "c"), {"sigma": 1}),
    ("black_scholes", (1, 2, 3, 4, 5, "c"), {"spot": 1}),
    ("black_scholes", (1, 2, 3, 4, 5, "c", 0, 1), {"spot": 1}),
    ("black_scholes", (1, 2, 3, 4, 5, 6, 7, 8), {"bogus": 1}),
    ("black_scholes", (), {"t": 1, "vol": 2}),
    ("stats", tuple(range(9)), {}),
]


def _message(f, args, kwargs):
    with pytest.raises(TypeError) as info:
        f(*args, **kwargs)
    return str(info.value)


@pytest.mark.parametrize("name,args,kwargs", ARITY_CALLS)
def test_arity_and_keyword_messages_match_cpython(name, args, kwargs):
    assert _message(getattr(quelm, name), args, kwargs) == _message(globals()[name], args, kwargs)


@pytest.mark.parametrize("args", [(1, 2), ()])
def test_static_method_arity_messages_match_cpython(args):
    assert _message(quelm.YieldCurve.flat, args, {}) == _message(YieldCurve.flat, args, {})


def test_class_rules():
    with pytest.raises(TypeError, match="^No constructor defined for YieldCurve$"):
        quelm.YieldCurve()
    with pytest.raises(TypeError, match="^No constructor defined for FixedRateBond$"):
        quelm.FixedRateBond()
    for cls in (quelm.YieldCurve, quelm.FixedRateBond):
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        with pytest.raises((TypeError, AttributeError)):
            cls.flat = None


class Floaty:
    def __float__(self):
        return 100.0


class Indexy:
    def __index__(self):
        return 7


def test_float_conversion_rules():
    base = quelm.black_scholes(100, 105, 0.05, 0.2, 1.0, "call")
    assert quelm.black_scholes(Floaty(), 105, 0.05, 0.2, True, "call") == base
    assert quelm.black_scholes(100.0, 105, 0.05, 0.2, 1, "call") == base
    with pytest.raises(TypeError) as info:
        quelm.black_scholes("100", 105, 0.05, 0.2, 1.0, "call")
    assert str(info.value).startswith("argument 'spot': ")
    assert isinstance(info.value.__cause__, TypeError)
    with pytest.raises(OverflowError):
        quelm.black_scholes(10**400, 105, 0.05, 0.2, 1.0, "call")


def test_first_failing_argument_is_reported():
    with pytest.raises(TypeError, match="^argument 'strike': "):
        quelm.black_scholes(100, "x", "y", 0.2, 1.0, 3)
    with pytest.raises(TypeError, match="^argument 'option_type': "):
        quelm.black_scholes(100, 105, 0.05, 0.2, 1.0, 3)


def test_unsigned_count_rules():
    assert internal.echo_u64(2**64 - 1) == 2**64 - 1
    assert internal.echo_u64(True) == 1 and internal.echo_u64(Indexy()) == 7
    for bad in (-1, 2**64):
        with pytest.raises(OverflowError):
            internal.echo_u64(bad)
    with pytest.raises(TypeError, match="^argument 'n': ") as info:
        internal.echo_u64(1.5)
    assert isinstance(info.value.__cause__, TypeError)


def test_unsigned_32_bit_rules():
    assert internal.echo_u32(2**32 - 1) == 2**32 - 1
    for bad in (-1, 2**32, 2**40):
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
            internal.echo_u32(bad)
    with pytest.raises(OverflowError):
        internal.echo_u32(2**70)  # does not fit 64 bits: the interpreter's own message


def test_sequence_rules():
    with pytest.raises(TypeError, match="^argument 'values': "):
        internal.echo_floats("1,2")
    with pytest.raises(TypeError, match="^argument 'values': "):
        internal.echo_floats(5)
    with pytest.raises(TypeError, match="^argument 'values': "):
        internal.echo_floats([1.0, "x"])
    assert internal.echo_floats((1, 2.5, True, Floaty())) == [1.0, 2.5, 1.0, 100.0]
    assert internal.echo_floats(range(3)) == [0.0, 1.0, 2.0]
    assert internal.echo_matrix([[1, 2], (3,)]) == [[1.0, 2.0], [3.0]]
    with pytest.raises(TypeError, match="^argument 'rows': "):
        internal.echo_matrix(["ab"])


def test_numpy_arrays_read_directly_and_exactly():
    np = pytest.importorskip("numpy")
    x = np.random.default_rng(3).normal(size=257)
    assert internal.echo_floats(x) == x.tolist()
    assert internal.echo_floats(x[::2]) == x[::2].tolist()  # strided: element by element
    assert internal.echo_floats(x.astype(np.float32)) == x.astype(np.float32).tolist()
    assert internal.echo_matrix(x[:12].reshape(3, 4)) == x[:12].reshape(3, 4).tolist()


@pytest.mark.parametrize("value,text", [
    (95.1229424500714, "95.1229424500714"), (96.0, "96"), (0.0, "0"), (1e-20, "0.00000000000000000001"),
    (1e21, "1000000000000000000000"), (-2.5, "-2.5"), (float("nan"), "NaN"), (float("inf"), "inf"),
    (float("-inf"), "-inf"),
])
def test_number_format_is_shortest_and_positional(value, text):
    assert internal.format_number(value) == text


def test_option_type_parsing_and_quoting():
    assert quelm.black_scholes(100, 105, 0.05, 0.2, 1, "CALL") == quelm.black_scholes(100, 105, 0.05, 0.2, 1, "c")
    cases = [
        ("Call ", 'option_type must be \'call\' or \'put\', got "call "'),
        ("Straddle", 'option_type must be \'call\' or \'put\', got "straddle"'),
        ("", 'option_type must be \'call\' or \'put\', got ""'),
        ('a"b\\c', 'option_type must be \'call\' or \'put\', got "a\\"b\\\\c"'),
        ("x\ty\n\x00\x01", 'option_type must be \'call\' or \'put\', got "x\\ty\\n\\0\\u{1}"'),
        ("ÉTÉ", 'option_type must be \'call\' or \'put\', got "ÉtÉ"'),
    ]
    for text, message in cases:
        with pytest.raises(ValueError) as info:
            quelm.black_scholes(100, 105, 0.05, 0.2, 1, text)
        assert str(info.value) == message


def test_value_error_carries_rendered_message():
    with pytest.raises(ValueError, match="^invalid input: strike must be > 0$"):
        quelm.black_scholes(100, 0, 0.05, 0.2, 1, "call")


def test_internal_fault_and_memory_error():
    with pytest.raises(BaseException) as info:
        internal.throw_internal("broken invariant")
    assert type(info.value) is internal.InternalFault
    assert not isinstance(info.value, Exception)
    assert str(info.value) == "broken invariant"
    assert internal.InternalFault.__bases__ == (BaseException,)
    with pytest.raises(MemoryError) as memory:
        internal.throw_bad_alloc()
    # Never a bare MemoryError(): the message says so and how much memory is left.
    assert re.fullmatch(r"out of memory: an allocation failed( with [0-9.]+ [GTPE]B available)?", str(memory.value))


# ---- one declaration per callable: defaults, keywords and references ----

R = [0.01, -0.02, 0.015, 0.003, -0.007, 0.012, -0.001, 0.004]
B = [0.008, -0.015, 0.01, 0.002, -0.004, 0.009, 0.0, 0.003]
VANILLA = (100.0, 105.0, 0.05, 0.2, 1.0)

# Defaults the text signature hides as "...": their documented values.
HIDDEN = {("binomial", "steps"): 1000, ("simulate_process", "jump_mean"): -0.1,
          ("simulate_process", "rho"): -0.6}

# (callable, required arguments): each is called with its defaults omitted and then with every
# default passed explicitly as the signature shows it; the results must be identical.
DEFAULT_CALLS = [
    ("black_scholes", VANILLA + ("call",)), ("price", VANILLA + ("put",)), ("greeks", VANILLA + ("call",)),
    ("binomial", VANILLA + ("put",)), ("monte_carlo", VANILLA + ("call",)), ("lsm", VANILLA + ("put",)),
    ("implied_volatility", (8.0, 100.0, 105.0, 0.05, 1.0, "call")),
    ("barrier_price", VANILLA + ("call", "down-out", 90.0)), ("lookback_price", VANILLA + ("call", "fixed")),
    ("asian_price", VANILLA + ("call",)), ("simulate_process", ("merton",)), ("simulate_process", ("heston",)),
    ("sharpe", (R,)), ("sortino", (R,)), ("value_at_risk", (R,)), ("expected_shortfall", (R,)),
    ("tracking_error", (R, B)), ("info_ratio", (R, B)), ("portfolio_risk", ([R, B], [0.6, 0.4])),
    ("optimize", ([0.05, 0.07], [[0.04, 0.01], [0.01, 0.09]])), ("differential_ml", (100.0, 100.0, 0.05, 0.2, 1.0)),
    ("YieldCurve.from_zero_rates", ([1.0, 2.0], [0.02, 0.03])),
    ("FixedRateBond.from_cashflows", ([0.5, 1.0], [2.5, 102.5], 2)),
]


def _resolve(qualname):
    obj = quelm
    for part in qualname.split("."):
        obj = getattr(obj, part)
    return obj


@pytest.mark.parametrize("qualname,args", DEFAULT_CALLS, ids=[c[0] + "-" + str(c[1][0])[:8] for c in DEFAULT_CALLS])
def test_omitted_defaults_are_the_shown_defaults(qualname, args):
    f = _resolve(qualname)
    params = list(inspect.signature(f).parameters.values())[len(args):]
    explicit = {}
    for p in params:
        assert p.default is not inspect.Parameter.empty, (qualname, p.name)
        explicit[p.name] = HIDDEN[(qualname, p.name)] if p.default is Ellipsis else p.default
    assert explicit, qualname
    assert f(*args) == f(*args, **explicit)


def test_stats_defaults_are_the_shown_defaults():
    shown = {p.name: p.default for p in inspect.signature(quelm.stats).parameters.values() if p.name != "returns"}
    assert quelm.stats(returns=R) == quelm.stats(returns=R, **shown)


@pytest.mark.parametrize("order", ["forward", "reversed", "rotated", "mixed"])
def test_keywords_in_any_order_bind_like_positional(order):
    names = list(inspect.signature(quelm.asian_price).parameters)
    values = [100.0, 95.0, 0.03, 0.25, 0.5, "put", "arithmetic", 12, 2000, 7, 0.01]
    expected = quelm.asian_price(*values)
    pairs = list(zip(names, values))
    if order == "reversed":
        pairs.reverse()
    elif order == "rotated":
        pairs = pairs[4:] + pairs[:4]
    elif order == "mixed":
        pairs = pairs[1::2] + pairs[::2]
    assert quelm.asian_price(**dict(pairs)) == expected
    assert quelm.asian_price(*values[:3], **dict(pairs[3:] if order == "forward" else
                                                 [p for p in pairs if p[0] not in names[:3]])) == expected


def test_keyword_names_need_not_be_interned():
    # A keyword built at run time is equal to, but not the same object as, the parameter name.
    key = "".join(["option", "_", "type"])
    assert quelm.black_scholes(*VANILLA, **{key: "call"}) == quelm.black_scholes(*VANILLA, "call")
    with pytest.raises(TypeError, match="unexpected keyword argument 'option_typ'"):
        quelm.black_scholes(*VANILLA, **{key[:-1]: "call"})


@pytest.mark.parametrize("f,text", [
    (lambda: quelm.binomial,
     '(spot, strike, rate, vol, t, option_type, style="european", steps=..., dividend_yield=0.0)'),
    (lambda: quelm.simulate_process,
     "(process, x0=100.0, t=1.0, steps=100, paths=100000, seed=42, mu=0.05, sigma=0.20, kappa=1.0, theta=0.04, "
     "lambda_=0.5, jump_mean=..., jump_std=0.15, v0=0.04, xi=0.30, rho=...)"),
    (lambda: quelm.stats, "(returns=None, prices=None, values=None, benchmark=None, risk_free=0.0, "
                          "periods_per_year=252.0, confidence=0.95, lag=None)"),
    (lambda: quelm.american_ml, '(spot, strike, rate, vol, maturity, option_type="put", method="deep-lsm", '
                                'paths=8192, steps=50, epochs=20, seed=11, hidden=None, dividend_yield=0.0)'),
    (lambda: quelm.YieldCurve.flat, '(rate, *, extrapolate="flat-forward", reference_date=None, day_count="act/365f")'),
    (lambda: quelm.YieldCurve.flat(0.02).forward_rate, "($self, t1, t2)"),
    (lambda: quelm.FixedRateBond.__reduce__, "($self)"),
    (lambda: internal.throw_bad_alloc, "()"),
])
def test_text_signatures_are_written_from_the_declaration(f, text):
    assert f().__text_signature__ == text


def test_functions_share_the_package_name():
    name = quelm.black_scholes.__module__
    assert name == "quelm"
    users = sum(1 for n in quelm.__all__ if getattr(getattr(quelm, n), "__module__", None) is name)
    assert users == len(FUNCTIONS)


LEAK_CALLS = [
    lambda: quelm.black_scholes(spot=100.0, strike=105.0, rate=0.05, vol=0.2, t=1.0, option_type="call"),
    lambda: quelm.greeks(*VANILLA, "put"),
    lambda: quelm.price(*VANILLA, "call", dividend_yield=0.01),
    lambda: quelm.stats(returns=R, benchmark=B),
    lambda: quelm.stats(prices=[100.0, 101.0, 99.0, 102.0]),
    lambda: quelm.portfolio_value([("A", 10, 150, 175), ("B", -5, 300, 320)]),
    lambda: quelm.optimize([0.05, 0.07], [[0.04, 0.01], [0.01, 0.09]], target=0.06),
    lambda: quelm.asian_price(*VANILLA, "call"),
    lambda: quelm.YieldCurve.flat(0.02).discount(1.0),
    lambda: quelm.FixedRateBond.regular(100, 0.05, 2, 4).price_from_curve(quelm.YieldCurve.flat(0.03)),
]


@pytest.mark.parametrize("call", LEAK_CALLS)
def test_calls_leave_no_objects_behind(call):
    for _ in range(50):
        call()
    before = sys.getallocatedblocks()
    for _ in range(2000):
        call()
    assert sys.getallocatedblocks() - before < 100


def test_error_paths_leave_no_objects_behind():
    bad_calls = (lambda: quelm.black_scholes(*VANILLA, "straddle"), lambda: quelm.black_scholes("x", 1, 1, 1, 1, "c"),
                 lambda: quelm.black_scholes(*VANILLA, "call", bogus=1), lambda: quelm.stats(),
                 lambda: quelm.black_scholes(100, 0, 0.05, 0.2, 1, "call"), lambda: quelm.black_scholes(1, 2))

    def fail():
        for bad in bad_calls:
            try:
                bad()
            except (TypeError, ValueError):
                pass
            else:
                raise AssertionError("no error raised")
    fail()
    before = sys.getallocatedblocks()
    for _ in range(500):
        fail()
    assert sys.getallocatedblocks() - before < 100


DEBUG_PYTHON = shutil.which("python3.11-dbg") or shutil.which("python3-dbg")
DEBUG_BUILD = Path(os.environ.get("QUELM_DEBUG_BUILD", Path(__file__).resolve().parent.parent / "build" / "debug-python"))


@pytest.mark.skipif(DEBUG_PYTHON is None or not list(DEBUG_BUILD.glob("quelm/_core*.so")),
                    reason="needs a debug interpreter and `make debug-python` (a build of quelm for it)")
def test_debug_interpreter_imports_calls_and_exits_cleanly():
    code = ("import sys, quelm\n"
            "print(quelm.black_scholes(spot=100, strike=105, rate=0.05, vol=0.2, t=1, option_type='call'))\n"
            "print(quelm.stats(returns=[0.01, -0.02, 0.015])['mean'])\n"
            "c = quelm.YieldCurve.flat(0.02)\n"
            "print(quelm.FixedRateBond.regular(100, 0.05, 2, 4).price_from_curve(c)[0] > 0)\n")
    out = subprocess.run([DEBUG_PYTHON, "-X", "dev", "-c", code], capture_output=True, text=True, timeout=120,
                         env=dict(os.environ, PYTHONPATH=str(DEBUG_BUILD)))
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["8.021352235143176", "0.0016666666666666663", "True"]


@pytest.mark.skipif(DEBUG_PYTHON is None or not list(DEBUG_BUILD.glob("quelm/_core*.so")),
                    reason="needs a debug interpreter and `make debug-python` (a build of quelm for it)")
def test_debug_interpreter_object_column_assigned_into_during_a_call():
    # The debug interpreter fills freed memory with a pattern and checks every object it
    # touches: a call that read the column's str items without the lock while another thread
    # replaced (and so freed) them would misprice or crash here.
    from test_concurrency import OBJECT_COLUMN_FLIPS

    if subprocess.run([DEBUG_PYTHON, "-c", "import numpy"], capture_output=True).returncode != 0:
        pytest.skip("needs NumPy built for the debug interpreter")
    out = subprocess.run([DEBUG_PYTHON, "-X", "dev", "-c", OBJECT_COLUMN_FLIPS.replace("SPINS", "10")],
                         capture_output=True, text=True, timeout=600,
                         env=dict(os.environ, PYTHONPATH=str(DEBUG_BUILD), RAYON_NUM_THREADS="2"))
    assert out.returncode == 0, out.stderr[-3000:]
    result = json.loads(out.stdout.strip().splitlines()[-1])
    assert result["flips"] > 0 and result["mixed"] == 0, result


# ---- declarations are checked when the module is compiled ----

DECLARATION_SNIPPETS = {
    "matching": ('PyObject* f(double x, std::uint64_t n) { return nullptr; }\n'
                 'constexpr FunctionDef d = function<f>("f", {"x", {"n", "10"}}, "doc");', True),
    "one name too few": ('PyObject* f(double x, std::uint64_t n) { return nullptr; }\n'
                         'constexpr FunctionDef d = function<f>("f", {"x"}, "doc");', False),
    "one name too many": ('PyObject* f(double x) { return nullptr; }\n'
                          'constexpr FunctionDef d = function<f>("f", {"x", "y"}, "doc");', False),
    "default of the wrong type": ('PyObject* f(double x, std::uint64_t n) { return nullptr; }\n'
                                  'constexpr FunctionDef d = function<f>("f", {"x", {"n", "1.5"}}, "doc");', False),
    "required after a default": ('PyObject* f(double x, double y) { return nullptr; }\n'
                                 'constexpr FunctionDef d = function<f>("f", {{"x", "0.0"}, "y"}, "doc");', False),
    "str default not quoted": ('PyObject* f(std::string_view s) { return nullptr; }\n'
                               'constexpr FunctionDef d = function<f>("f", {{"s", "call"}}, "doc");', False),
}


@pytest.mark.skipif(shutil.which("g++") is None, reason="needs g++")
@pytest.mark.parametrize("case", list(DECLARATION_SNIPPETS))
def test_declaration_mismatches_fail_to_compile(case, tmp_path):
    import sysconfig
    body, compiles = DECLARATION_SNIPPETS[case]
    src = tmp_path / "decl.cpp"
    src.write_text('#include "frame/call.hpp"\nnamespace quelm::py {\n' + body + "\n}\n")
    root = Path(__file__).resolve().parent.parent
    out = subprocess.run(["g++", "-std=c++23", "-fsyntax-only", f"-I{root / 'src'}",
                          f"-I{sysconfig.get_paths()['include']}", str(src)], capture_output=True, text=True,
                         timeout=120)
    assert (out.returncode == 0) == compiles, out.stderr[-2000:]


# Every alias a table accepts gives the canonical option's result; matching folds case and, for
# barrier types, reads "_" as "-" (the rejection echoes the text as matched).
ALIASES = [
    (lambda s: quelm.binomial(*VANILLA, "put", style=s, steps=20), ["american", "amer", "a", "AMERICAN", "Amer"]),
    (lambda s: quelm.barrier_price(*VANILLA, "call", s, 90.0), ["down-out", "downout", "do", "DOWN_OUT", "Down-Out"]),
    (lambda s: quelm.lookback_price(*VANILLA, "call", s), ["floating", "float", "FLOAT"]),
    (lambda s: quelm.asian_price(*VANILLA, "call", s, paths=200), ["arithmetic", "arith", "ARITH"]),
    (lambda s: quelm.value_at_risk(R, 0.9, s), ["cornish-fisher", "cf", "CF", "Cornish-Fisher"]),
    (lambda s: quelm.expected_shortfall(R, 0.9, s), ["parametric", "gaussian", "Gaussian"]),
    (lambda s: quelm.simulate_process(s, paths=20, steps=5), ["ou", "ornstein-uhlenbeck", "OU"]),
    (lambda s: quelm.YieldCurve.from_zero_rates([1.0, 2.0, 3.0], [0.02, 0.03, 0.025], s).discount(1.5),
     ["natural-cubic", "natural_cubic", "naturalcubic", "cubic", "CUBIC"]),
]


@pytest.mark.parametrize("call,aliases", ALIASES)
def test_every_alias_selects_the_same_option(call, aliases):
    expected = call(aliases[0])
    assert all(call(a) == expected for a in aliases[1:])


def test_rejections_echo_the_text_as_matched():
    with pytest.raises(ValueError) as info:
        quelm.barrier_price(*VANILLA, "call", "Down_Under", 90.0)
    assert str(info.value) == 'barrier_type must be one of down-in/down-out/up-in/up-out, got "down-under"'
    with pytest.raises(ValueError) as info:
        quelm.american_ml(*VANILLA, method="Deep_LSM", hidden=[])
    assert str(info.value) == 'unknown method "Deep_LSM" (expected "deep-lsm" or "dos")'
    # conversion errors come before option errors, in signature order
    with pytest.raises(TypeError, match="^argument 'n_fixings': "):
        quelm.asian_price(*VANILLA, "straddle", "harmonic", 1.5)


@pytest.mark.parametrize("calls", [
    "",
    "quelm.black_scholes(100, 105, 0.05, 0.2, 1.0, 'call')",
    "quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, 'put', paths=5000); quelm.stats(returns=[0.01, -0.02, 0.03])",
])
def test_interpreter_exits_cleanly_after_use(python_subprocess, calls):
    # Nothing the module keeps may be released after the interpreter has finalized.
    out = python_subprocess(f"import quelm\n{calls}\n", env={"RAYON_NUM_THREADS": "2"})
    assert out.returncode == 0 and out.stderr == "", (out.returncode, out.stderr)
