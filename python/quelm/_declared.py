"""quelm's declarations as its Python reads them: the parameters, defaults and result keys of
each quelm.vec function come from the compiled module (quelm._core._vec_forms for the array
forms, quelm._core._vec_python for the functions whose bodies are Python), so that no Python
restates them. Needs no NumPy: the command line reads it before it loads NumPy."""
from __future__ import annotations

import ast
import functools

from quelm import _core


@functools.cache
def forms() -> tuple:
    """The array forms, in public order (a form's date twin right after it)."""
    return tuple(_core._vec_forms())


@functools.cache
def written() -> tuple:
    """The declarations of the quelm.vec functions whose bodies are Python, in quelm.vec's order."""
    return tuple(_core._vec_python())


def form(name: str) -> dict:
    """The array form quelm.vec.<name> is written from (its first, when it has a date twin)."""
    for f in forms():
        if f["name"] == name:
            return f
    raise LookupError(f"quelm.vec has no array form {name!r}")


def positional(name: str) -> tuple:
    """The names of the form's parameters that may be given by position, in order."""
    return tuple(p[0] for p in form(name)["params"] if not p[4])


def required(name: str) -> tuple:
    """The names of the form's parameters without a default, in order."""
    return tuple(p[0] for p in form(name)["params"] if p[3] is None)


def defaults(name: str) -> dict:
    """{parameter: default value} for the form's parameters that have one."""
    return {p[0]: ast.literal_eval(p[3]) for p in form(name)["params"] if p[3] is not None}


def of_kind(name: str, kind: str) -> tuple:
    """The names of the form's parameters of one kind ("real", "count", "option", "date", ...)."""
    return tuple(p[0] for p in form(name)["params"] if p[1] == kind)


def keys(name: str) -> tuple:
    """The keys of the form's result dict (empty for a single number)."""
    return tuple(form(name)["keys"] or ())


def written_keys(name: str) -> tuple:
    """The keys the result of a function written in Python is keyed by."""
    for w in written():
        if w["name"] == name:
            return tuple(w["keys"] or ())
    raise LookupError(f"quelm.vec has no function {name!r} written in Python")


# The array API spells numbers plainly (its stub's _Float is float, its _Count int), as its
# array forms do; a declaration made from a scalar one carries the scalar stub's aliases.
_PLAIN = {"_Float": "float", "_Count": "int"}


def annotation(text: str) -> str:
    """A declared stub type as quelm.vec's stub and signatures show it."""
    return _PLAIN.get(text, text)


def define(name: str, params: list, call: str, scope: dict):
    """A function `name(params)` whose body returns `call`, compiled in `scope`: its
    signature is the declaration's own (what inspect and help show), at the cost of no more
    than a plain call. `params` are the texts of a def statement's parameters ("x=1.0", "*")."""
    exec(f"def {name}({', '.join(params)}):\n    return {call}\n", scope)  # noqa: S102 - text from declarations
    return scope[name]


def signature_texts(params: list) -> tuple[list, list]:
    """(the def statement's parameter texts, the names in order) of declared parameters, each
    {"name", "default", "keyword_only"}."""
    texts: list = []
    names = []
    for p in params:
        if p["keyword_only"] and "*" not in texts:
            texts.append("*")
        texts.append(p["name"] if p["default"] is None else f"{p['name']}={p['default']}")
        names.append(p["name"])
    return texts, names
