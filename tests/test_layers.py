"""The layers as the includes say them: the core library never sees the interpreter, its
ground floor (core/) no domain, bonds sit below curves, no two domains include each other
(directly or round a loop), and the call frame includes no finance header."""
from __future__ import annotations

import re
from collections import defaultdict
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CORE = ROOT / "src" / "quelm"
FRAME = ROOT / "src" / "bindings" / "frame"
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)


def includes(folder: Path):
    """(source file, included path) for every C++ file below folder."""
    for path in sorted(folder.rglob("*")):
        if path.suffix in {".hpp", ".cpp", ".h"}:
            for target in INCLUDE.findall(path.read_text()):
                yield path, target


def domain_of(path: Path) -> str:
    return path.relative_to(CORE).parts[0]


def domain_arrows() -> dict[str, set[str]]:
    arrows: dict[str, set[str]] = defaultdict(set)
    for path, target in includes(CORE):
        if target.startswith("quelm/"):
            to = target.split("/")[1]
            if to != domain_of(path):
                arrows[domain_of(path)].add(to)
    return arrows


def test_the_core_library_never_includes_the_interpreter():
    found = [str(p.relative_to(ROOT)) for p, t in includes(CORE) if t == "Python.h" or t.startswith("python")]
    assert found == []


def test_the_ground_floor_and_bonds_include_nothing_above_them():
    arrows = domain_arrows()
    assert arrows.get("core", set()) == set(), "core/ includes a domain"
    assert "curves" not in arrows.get("bonds", set()), "bonds/ includes curves/: curve pricing lives in curves/"


def test_no_two_domains_include_each_other_round_a_loop():
    arrows = domain_arrows()
    state: dict[str, int] = {}

    def visit(node: str, trail: list[str]) -> None:
        state[node] = 1
        for nxt in sorted(arrows.get(node, ())):
            assert state.get(nxt) != 1, "include loop: " + " -> ".join(trail + [node, nxt])
            if nxt not in state:
                visit(nxt, trail + [node])
        state[node] = 2

    for node in sorted(arrows):
        if node not in state:
            visit(node, [])


def test_the_call_frame_includes_no_finance_header():
    # The frame converts and carries values: the error type, the pool and dates, never a model.
    allowed = {"core", "dates"}
    found = sorted({t for _, t in includes(FRAME) if t.startswith("quelm/") and t.split("/")[1] not in allowed})
    assert found == []
