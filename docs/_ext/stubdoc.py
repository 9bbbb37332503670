"""Typed signatures and result shapes for the API reference, read from the shipped stub.

The compiled module carries the docstrings and untyped text signatures; the stub carries the
types. This extension lets autodoc show the compiled docstrings under the stub's signatures,
turns the docstrings' code examples into reST code blocks, lists the keys of each
result dict after the function that returns it, and adds directives that document the stub's
string options (``quelm-string-options``) and result TypedDicts (``quelm-result-shapes``). Importable without Sphinx (the tests use
the stub reader alone).
"""
from __future__ import annotations

import ast
from dataclasses import dataclass, field
from pathlib import Path

# Private aliases of the stub shown under the names a reader expects.
FRIENDLY = {"_Float": "float", "_Count": "int"}


@dataclass
class Stub:
    signatures: dict[str, tuple[str, str]] = field(default_factory=dict)  # name -> (args, return)
    returns: dict[str, str] = field(default_factory=dict)  # name -> return annotation node text
    params: dict[str, list[tuple[str, str | None]]] = field(default_factory=dict)  # name -> [(arg, default)]
    typeddicts: dict[str, list[tuple[str, str]]] = field(default_factory=dict)  # name -> [(key, type)]
    aliases: dict[str, str] = field(default_factory=dict)


def _typeddict_fields(node: ast.AST) -> list[tuple[str, str]] | None:
    """Keys of a TypedDict, class form or functional form, in declaration order."""
    if isinstance(node, ast.ClassDef) and any(ast.unparse(b).endswith("TypedDict") for b in node.bases):
        return [(s.target.id, ast.unparse(s.annotation)) for s in node.body
                if isinstance(s, ast.AnnAssign) and isinstance(s.target, ast.Name)]
    if (isinstance(node, ast.Call) and ast.unparse(node.func).endswith("TypedDict")
            and len(node.args) == 2 and isinstance(node.args[1], ast.Dict)):
        return [(ast.literal_eval(k), ast.unparse(v)) for k, v in zip(node.args[1].keys, node.args[1].values)]
    return None


def _is_literal(text: str) -> bool:
    return text.startswith(("Literal[", "typing.Literal["))


class _Friendly(ast.NodeTransformer):
    """Private names of the stub as a reader should see them: the scalar aliases by their plain
    type, container aliases expanded, and string-option aliases (and private classes) by their
    name without the underscore (the reference lists the accepted strings under that name)."""

    def __init__(self, aliases: dict[str, str]):
        self.aliases = aliases

    def visit_Name(self, node: ast.Name) -> ast.AST:
        if not node.id.startswith("_"):
            return node
        if node.id in FRIENDLY:
            return ast.parse(FRIENDLY[node.id], mode="eval").body
        value = self.aliases.get(node.id)
        if value is not None and not _is_literal(value):
            return self.visit(ast.parse(value, mode="eval").body)
        return ast.Name(id=node.id.lstrip("_"), ctx=node.ctx)


def _show(node: ast.AST | None, aliases: dict[str, str]) -> str:
    if node is None:
        return ""
    import copy
    return ast.unparse(_Friendly(aliases).visit(copy.deepcopy(node)))


def string_options(stub: Stub) -> dict[str, list[str]]:
    """The string-option aliases of the stub (Literal types), by display name."""
    out = {}
    for name, value in stub.aliases.items():
        if _is_literal(value):
            node = ast.parse(value, mode="eval").body
            if isinstance(node, ast.BinOp):  # Literal[...] | str: the listed spellings
                node = node.left
            items = node.slice.elts if isinstance(node.slice, ast.Tuple) else [node.slice]
            out[name.lstrip("_")] = [ast.literal_eval(item) for item in items]
    return out


def _parameters(fn: ast.FunctionDef, method: bool) -> list[tuple[ast.arg, ast.expr | None]]:
    """The parameters in order, positional ones first, then the keyword-only ones."""
    a = fn.args
    positional = a.posonlyargs + a.args
    if method and positional and positional[0].arg in ("self", "cls") and not any(
            ast.unparse(d) == "staticmethod" for d in fn.decorator_list):
        positional = positional[1:]
    defaults = [None] * (len(positional) - len(a.defaults)) + list(a.defaults)
    return list(zip(positional, defaults)) + list(zip(a.kwonlyargs, a.kw_defaults))


def _signature(fn: ast.FunctionDef, aliases: dict[str, str], method: bool) -> tuple[str, str]:
    parts = []
    keyword_only = {id(a) for a in fn.args.kwonlyargs}
    for arg, default in _parameters(fn, method):
        if id(arg) in keyword_only and "*" not in parts:
            parts.append("*")
        text = arg.arg
        if arg.annotation is not None:
            text += ": " + _show(arg.annotation, aliases)
        if default is not None:
            text += (" = " if arg.annotation is not None else "=") + ast.unparse(default)
        parts.append(text)
    return "(" + ", ".join(parts) + ")", _show(fn.returns, aliases)


def read_stub(path: Path) -> Stub:
    tree = ast.parse(path.read_text(encoding="utf-8"))
    stub = Stub()
    # The string options' spellings live in quelm.typing beside the stub.
    typing_module = path.parent / "typing.py"
    if typing_module.exists():
        for node in ast.parse(typing_module.read_text(encoding="utf-8")).body:
            if (isinstance(node, ast.Assign) and len(node.targets) == 1 and isinstance(node.targets[0], ast.Name)
                    and _is_literal(ast.unparse(node.value))):
                stub.aliases[node.targets[0].id] = ast.unparse(node.value)
    for node in tree.body:
        if isinstance(node, ast.Assign) and len(node.targets) == 1 and isinstance(node.targets[0], ast.Name):
            name = node.targets[0].id
            fields = _typeddict_fields(node.value)
            if fields is not None:
                stub.typeddicts[name] = fields
            elif name.startswith("_"):
                stub.aliases[name] = ast.unparse(node.value)
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            stub.signatures[node.name] = _signature(node, stub.aliases, method=False)
            stub.params[node.name] = [(a.arg, d and ast.unparse(d)) for a, d in _parameters(node, False)]
            stub.returns[node.name] = ast.unparse(node.returns) if node.returns else ""
        elif isinstance(node, ast.ClassDef):
            fields = _typeddict_fields(node)
            if fields is not None:
                stub.typeddicts[node.name] = fields
                continue
            for item in node.body:
                if isinstance(item, ast.FunctionDef) and not item.name.startswith("_"):
                    key = f"{node.name}.{item.name}"
                    stub.signatures[key] = _signature(item, stub.aliases, method=True)
                    stub.params[key] = [(a.arg, d and ast.unparse(d)) for a, d in _parameters(item, True)]
                    stub.returns[key] = ast.unparse(item.returns) if item.returns else ""
    return stub


def docstring_to_rest(lines: list[str]) -> list[str]:
    """A docstring as reST: Markdown code fences become code blocks, and an indented block
    introduced by a line ending in a colon becomes a literal block (as it reads in `help`)."""
    out: list[str] = []
    inside = False
    for line in lines:
        stripped = line.strip()
        if stripped.startswith("```"):
            if not inside:
                language = stripped[3:].strip() or "text"
                out += [f".. code-block:: {language}", ""]
            else:
                out.append("")
            inside = not inside
            continue
        out.append("   " + line if inside else line)
    for k in range(len(out) - 2):
        follows = next((x for x in out[k + 1:] if x.strip()), "")
        if (out[k].endswith(":") and not out[k].endswith("::") and not out[k].lstrip().startswith("..")
                and not out[k + 1].strip() and follows.startswith(" ")):
            out[k] += ":"
    return out


def result_lines(stub: Stub, name: str) -> list[str]:
    """The keys of the dict that `name` returns, when the stub types it as a TypedDict."""
    shape = stub.returns.get(name, "")
    if shape not in stub.typeddicts:
        return []
    return ["", f"Returns a dict (:py:class:`quelm.{shape}`) with these keys, in this order: "
            + ", ".join(f"``{key}``" for key, _ in stub.typeddicts[shape]) + "."]


def setup(app):  # pragma: no cover - exercised by the site build
    from docutils.parsers.rst import Directive
    from docutils.statemachine import StringList
    from docutils import nodes

    stub = read_stub(Path(app.confdir).parent / "python" / "quelm" / "__init__.pyi")

    def stub_name(name: str) -> str:
        return name[len("quelm."):] if name.startswith("quelm.") else name

    def on_signature(app, what, name, obj, options, signature, return_annotation):
        if what not in ("function", "method"):
            return None  # classes have no constructor; properties show no call signature
        hit = stub.signatures.get(stub_name(name))
        return (hit[0], hit[1] or None) if hit else None

    def on_docstring(app, what, name, obj, options, lines):
        converted = docstring_to_rest(lines) + result_lines(stub, stub_name(name))
        lines[:] = converted

    class StubDirective(Directive):
        def emit(self, text: list[str]):
            container = nodes.container()
            self.state.nested_parse(StringList(text), self.content_offset, container)
            return container.children

    class StringOptions(StubDirective):
        def run(self):
            text = []
            for option, spellings in string_options(stub).items():
                text += [f".. py:class:: {option}", "   :module: quelm", "",
                         "   A string option; accepted spellings: "
                         + ", ".join(f'``"{v}"``' for v in spellings) + ".", ""]
            return self.emit(text)

    class ResultShapes(StubDirective):
        def run(self):
            text = []
            for shape, fields in stub.typeddicts.items():
                text += [f".. py:class:: {shape}", "   :module: quelm", "",
                         "   A result dict; its keys, in this order:", ""]
                text += [f"   - ``{key}``: ``{_show(ast.parse(kind, mode='eval').body, stub.aliases)}``"
                         for key, kind in fields]
                text.append("")
            return self.emit(text)

    app.connect("autodoc-process-signature", on_signature)
    app.connect("autodoc-process-docstring", on_docstring)
    app.add_directive("quelm-string-options", StringOptions)
    app.add_directive("quelm-result-shapes", ResultShapes)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
