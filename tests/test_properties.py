"""Random inputs, random object types and random arities never crash the interpreter:
every call ends in a result or one of the documented exception types."""
from __future__ import annotations

import math

from hypothesis import given, settings, strategies as st

import quelm

FLOATS = st.one_of(st.floats(allow_nan=True, allow_infinity=True), st.sampled_from([0.0, -0.0, 1e-308, 1e308]),
                   st.integers(min_value=-10**30, max_value=10**30))
OBJECTS = st.one_of(FLOATS, st.text(max_size=5), st.none(), st.booleans(), st.lists(st.floats(), max_size=3))
TYPES = st.sampled_from(["call", "put", "C", "P", "x", ""])
DOCUMENTED = (ValueError, TypeError, OverflowError, MemoryError)
FUNCTIONS = [quelm.black_scholes, quelm.price, quelm.greeks, quelm.implied_volatility,
             quelm.barrier_price, quelm.lookback_price]  # no count parameters: every call is short


@settings(max_examples=300, deadline=None)
@given(st.lists(FLOATS, min_size=5, max_size=5), TYPES, FLOATS)
def test_numeric_inputs(values, kind, q):
    for f in (quelm.black_scholes, quelm.price, quelm.greeks, quelm.implied_volatility):
        try:
            out = f(*values, kind, q)
        except DOCUMENTED:
            continue
        assert isinstance(out, (float, dict))


@settings(max_examples=200, deadline=None)
@given(st.lists(FLOATS, min_size=5, max_size=5), TYPES)
def test_tree_inputs(values, kind):
    try:
        out = quelm.binomial(*values, kind, "american", 20)
    except DOCUMENTED:
        return
    assert isinstance(out, float)


@settings(max_examples=300, deadline=None)
@given(st.sampled_from(FUNCTIONS), st.lists(OBJECTS, max_size=12),
       st.dictionaries(st.sampled_from(["spot", "t", "sigma", "option_type", "steps", "paths"]), OBJECTS,
                       max_size=2))
def test_random_types_and_arities(f, args, kwargs):
    try:
        f(*args, **kwargs)
    except DOCUMENTED:
        pass
