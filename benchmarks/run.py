"""Benchmark runner: quelm against the best available peer on the same work, side by side.

    python benchmarks/run.py [--quick] [--only SUBSTRING] [--dask]

Each module in benchmarks/cases/ defines ``cases(quick) -> list[dict]``; a case holds a
name, a zero-argument ``quelm`` callable, ``peers`` (label -> zero-argument callable), a
``number`` of calls per timing, an optional ``repeats`` (more than the run's default, for
short or noisy cases) and an optional ``note``. Every callable of a case is timed in the
same run, the callables taking turns within each repeat (best of the repeats, per call), and
the ratio peer/quelm is printed.
A peer's time is for the work its callable does; where that is a part of the case's work (a
hundredth of the book, five of 250 days), ``peer_scale`` (label -> factor) scales it to the
whole, and the table says so. ``yardsticks`` lists the labels that are not peers doing the
same work (a floor, quelm's own variant, the interpreter's cost of a call): they are shown
after the peers and left out of the rows counted below 1x.
A case with ``threads`` is timed in a child process whose worker pool starts with that many
threads; ``cpus`` (a list of CPU numbers) pins that child to those processors. Case files
named in OPT_IN run only with their flag (they start clusters). The table goes to
benchmarks/results/latest.md.
"""
from __future__ import annotations

import argparse
import json
import subprocess
import importlib.util
import os
import platform
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
OPT_IN = ("dask",)  # case files that run only with their own flag, --<name>


def load_cases(quick: bool, only: str | None, opted_in: frozenset = frozenset()):
    out = []
    for path in sorted((HERE / "cases").glob("*.py")):
        if path.stem in OPT_IN and path.stem not in opted_in:
            continue
        spec = importlib.util.spec_from_file_location(f"bench_{path.stem}", path)
        module = importlib.util.module_from_spec(spec)
        assert spec.loader is not None
        try:
            spec.loader.exec_module(module)
            cases = module.cases(quick)
        except Exception as exc:  # a broken case file must not hide the others
            print(f"[skip] {path.name}: {exc!r}", file=sys.stderr)
            continue
        for case in cases:
            if only is None or only in case["name"]:
                out.append((path.stem, case))
    return out


def best_per_call(fns: list, number: int, repeats: int) -> list[float]:
    """Best time per call of each callable. They take turns within each repeat, so a slow spell
    of the machine (other tenants, a frequency change) falls on all of them alike rather than on
    whichever happened to run then."""
    for fn in fns:
        fn()  # warm-up: first-use costs (pool start, imports) are not the steady state
    best = [float("inf")] * len(fns)
    for _ in range(repeats):
        for k, fn in enumerate(fns):
            start = time.perf_counter()
            for _ in range(number):
                fn()
            best[k] = min(best[k], (time.perf_counter() - start) / number)
    return best


def time_case(case, repeats: int) -> tuple[float, dict]:
    number = max(1, int(case.get("number", 1)))
    repeats = max(repeats, int(case.get("repeats", 0)))
    peers = case.get("peers") or {}
    t_q, *t_peers = best_per_call([case["quelm"], *peers.values()], number, repeats)
    scale = case.get("peer_scale", {})
    return t_q, {label: t * scale.get(label, 1.0) for label, t in zip(peers, t_peers)}


def time_in_child(group: str, case, quick: bool, repeats: int) -> tuple[float, dict]:
    env = dict(os.environ, RAYON_NUM_THREADS=str(case["threads"]))
    cmd = [sys.executable, str(Path(__file__).resolve()), "--child", group, case["name"], "--repeats", str(repeats)]
    if quick:
        cmd.append("--quick")
    out = subprocess.run(cmd, env=env, check=True, capture_output=True, text=True).stdout
    data = json.loads(out.strip().splitlines()[-1])
    return data["quelm"], data["peers"]


def child(group: str, name: str, quick: bool, repeats: int) -> int:
    for g, case in load_cases(quick, None):
        if g == group and case["name"] == name:
            if "cpus" in case:
                os.sched_setaffinity(0, case["cpus"])
            t_q, peers = time_case(case, repeats)
            print(json.dumps({"quelm": t_q, "peers": peers}))
            return 0
    return 1


def fmt_time(seconds: float) -> str:
    if seconds < 1e-6:
        return f"{seconds * 1e9:.0f} ns"
    if seconds < 1e-3:
        return f"{seconds * 1e6:.2f} µs"
    if seconds < 1:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds:.3f} s"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smaller sizes, fewer repeats")
    parser.add_argument("--only", help="run only cases whose name contains this text")
    parser.add_argument("--dask", action="store_true", help="also the Dask cases (starts local clusters)")
    parser.add_argument("--child", nargs=2, metavar=("GROUP", "CASE"), help=argparse.SUPPRESS)
    parser.add_argument("--repeats", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    repeats = args.repeats or (3 if args.quick else 5)
    if args.child:
        return child(args.child[0], args.child[1], args.quick, repeats)

    rows = []  # (group, ratio for ordering, yardstick, cells)
    opted_in = frozenset(stem for stem in OPT_IN if getattr(args, stem))
    for group, case in load_cases(args.quick, args.only, opted_in):
        if "threads" in case:
            t_q, peers = time_in_child(group, case, args.quick, repeats)
        else:
            t_q, peers = time_case(case, repeats)
        print(f"{case['name']:<60} quelm {fmt_time(t_q):>10}", flush=True)
        note = case.get("note", "")
        if not peers:
            rows.append((group, float("inf"), True, (case["name"], fmt_time(t_q), "(no peer)", "", "", note)))
        scaled = case.get("peer_scale", {})
        yardsticks = set(case.get("yardsticks", ()))
        for label, t_p in peers.items():
            ratio = t_p / t_q if t_q > 0 else float("inf")
            print(f"{'':<60} {label:<22} {fmt_time(t_p):>10}  ×{ratio:.1f}", flush=True)
            shown = label + (f" (timed on a part, scaled ×{scaled[label]:g})" if label in scaled else "")
            if label in yardsticks:
                shown = "yardstick: " + shown
            rows.append((group, ratio, label in yardsticks,
                         (case["name"], fmt_time(t_q), shown, fmt_time(t_p), f"{ratio:.1f}×", note)))

    threads = os.environ.get("RAYON_NUM_THREADS", "all")
    lines = [
        "# Benchmark results",
        "",
        f"Machine: {platform.machine()}, {os.cpu_count()} CPUs, Python {platform.python_version()}, "
        f"worker threads: {threads}, mode: {'quick' if args.quick else 'full'}.",
        "Times are per call (best of repeats). Ratio = peer time / quelm time (higher is better for quelm).",
        "Each group lists its peers slowest ratio first, then its yardsticks (not peers doing the same work).",
        "",
    ]
    below = [r for r in rows if not r[2] and r[1] < 1.0]
    lines.append(f"Rows below 1.0× against a peer doing the same work: {len(below)}." +
                 "".join(f"\n- {r[0]}: {r[3][0]}, against {r[3][2]} ({r[3][4]})" for r in below))
    lines += ["", "| group | case | quelm | peer | peer time | ratio | note |", "|---|---|---|---|---|---|---|"]
    groups = list(dict.fromkeys(r[0] for r in rows))
    ordered = sorted(rows, key=lambda r: (groups.index(r[0]), r[2], r[1]))
    lines += ["| " + " | ".join((r[0], *r[3])) + " |" for r in ordered]
    out = HERE / "results" / "latest.md"
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text("\n".join(lines) + "\n", encoding="utf-8")
    print(f"\nwrote {out.relative_to(HERE.parent)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
