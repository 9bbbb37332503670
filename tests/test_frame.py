"""The module frame: registration, signatures, argument conversion and error mapping."""
from __future__ import annotations

import inspect
import sys

import pytest

import quelm
import _quelm_testing as internal

FUNCTIONS = [
    "black_scholes", "price", "binomial", "monte_carlo", "lsm", "greeks", "implied_volatility",
    "barrier_price", "lookback_price", "asian_price", "simulate_process", "stats", "sharpe", "sortino",
    "max_drawdown", "value_at_risk", "expected_shortfall", "beta", "tracking_error", "info_ratio",
    "jarque_bera", "acf", "portfolio_value", "twr", "mwr", "allocation", "covariance_matrix",
    "portfolio_risk", "optimize", "differential_ml", "american_ml",
]


def test_module_contents_and_order():
    assert quelm.__version__ == "0.1.0"
    assert quelm.__doc__ == "The `quelm` Python module."
    assert quelm.__all__ == ["__version__", *FUNCTIONS, "YieldCurve", "FixedRateBond"]
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
        assert list(sig.parameters) == [p.split("=")[0].strip()
                                        for p in f.__text_signature__.strip("()").split(",") if p.strip()]
        assert not first.startswith(name + "("), "signature line must not leak into __doc__"


def test_hidden_defaults_and_visible_defaults():
    sig = inspect.signature(quelm.binomial)
    assert sig.parameters["steps"].default is Ellipsis
    assert sig.parameters["style"].default == "european"
    sig = inspect.signature(quelm.simulate_process)
    assert sig.parameters["jump_mean"].default is Ellipsis and sig.parameters["rho"].default is Ellipsis
    assert sig.parameters["sigma"].default == 0.2


def test_reimport_returns_same_module():
    first = sys.modules["quelm"]
    del sys.modules["quelm"]
    import quelm as again
    assert again is first
    sys.modules["quelm"] = first


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
    with pytest.raises(MemoryError):
        internal.throw_bad_alloc()


@pytest.mark.parametrize("calls", [
    "",
    "quelm.black_scholes(100, 105, 0.05, 0.2, 1.0, 'call')",
    "quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, 'put', paths=5000); quelm.stats(returns=[0.01, -0.02, 0.03])",
])
def test_interpreter_exits_cleanly_after_use(python_subprocess, calls):
    # Nothing the module keeps may be released after the interpreter has finalized.
    out = python_subprocess(f"import quelm\n{calls}\n", env={"RAYON_NUM_THREADS": "2"})
    assert out.returncode == 0 and out.stderr == "", (out.returncode, out.stderr)
