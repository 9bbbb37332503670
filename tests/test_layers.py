"""The layers as the includes say them: the core library never sees the interpreter, its
ground floor (core/) no domain, bonds sit below curves, no two domains include each other
(directly or round a loop), the call frame is a library below the bindings that includes no
finance header, and the bindings' folders are the core's domains."""
from __future__ import annotations

import re
from collections import defaultdict
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CORE = ROOT / "src" / "quelm"
FRAME = ROOT / "src" / "frame"
BINDINGS = ROOT / "src" / "bindings"
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


def test_the_call_frame_includes_no_finance_header_and_nothing_of_the_bindings():
    # The frame converts and carries values: the error type, the pool and the date, never a model.
    found = sorted({t for _, t in includes(FRAME)
                    if (t.startswith("quelm/") and not t.startswith("quelm/core/") and t != "quelm/dates/serial.hpp")
                    or t.startswith("bindings/")})
    assert found == []


def test_the_bindings_folders_are_the_cores_domains():
    domains = {p.name for p in CORE.iterdir() if p.is_dir()}
    folders = {p.name for p in BINDINGS.iterdir() if p.is_dir()}
    assert folders <= domains, f"binding folders without a domain: {sorted(folders - domains)}"
    # A binding file in a domain's folder binds that domain: it (or its own header) includes
    # the domain's headers.
    strays = []
    for folder in sorted(p for p in BINDINGS.iterdir() if p.is_dir()):
        for path in sorted(folder.glob("*.cpp")):
            own = [path, path.with_suffix(".hpp")]
            text = "".join(p.read_text() for p in own if p.exists())
            if not any(t.startswith(f"quelm/{folder.name}/") for t in INCLUDE.findall(text)):
                strays.append(str(path.relative_to(ROOT)))
    assert strays == []


def test_the_architecture_guide_draws_todays_arrows():
    # The map for newcomers lists each domain's arrows; a new include between domains
    # must be drawn there too.
    text = " ".join((ROOT / "docs" / "architecture.md").read_text().split())
    said = text[text.index("Today's arrows (each domain also over `core/`):") :].split(":", 1)[1]
    said = said[: said.index(".")]
    drawn: dict[str, set[str]] = {}
    for part in said.split(";"):
        name, _, targets = part.strip().partition("→")
        drawn[name.strip()] = {t.strip() for t in targets.split(",") if t.strip()}
    actual = {d: {t for t in ts if t != "core"} for d, ts in domain_arrows().items() if d != "core"}
    domains = {p.name for p in CORE.iterdir() if p.is_dir()} - {"core"}
    assert drawn == {d: actual.get(d, set()) for d in domains}
