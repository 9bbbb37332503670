"""Same inputs, same bits: a digest of results over a large grid (closed forms, Greeks,
implied vols, trees, curves, bonds, statistics, Monte Carlo, processes; scalar and array
calls; tools/digest.py) is the same at every SIMD width and thread count.

Against another build (other compiler flags, e.g. -march=x86-64-v4 on an AVX-512 machine,
x86-64-v3 on an AVX2 one): build it into its own tree and name it in QUELM_OTHER_BUILD, which
the last test needs:

    cmake -S . -B build/v4 -G Ninja -DQUELM_BUILD_TESTS=ON -DCMAKE_CXX_FLAGS=-march=x86-64-v4
    cmake --build build/v4 -j2
    QUELM_OTHER_BUILD=build/v4 PYTHONPATH=build/dev .venv/bin/python -m pytest tests/test_determinism.py
"""
from __future__ import annotations

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import run_python

ROOT = Path(__file__).resolve().parent.parent
DIGEST = ROOT / "tools" / "digest.py"
CODE = f"import runpy, sys; sys.argv = ['digest', '--parts']; runpy.run_path({str(DIGEST)!r}, run_name='__main__')"


def digest(env: dict) -> str:
    out = run_python(CODE, env=env, timeout=600)
    assert out.returncode == 0, out.stderr
    return out.stdout


def level() -> str:
    out = run_python("import quelm.vec; print(quelm.vec.simd_width()[0])")
    assert out.returncode == 0, out.stderr
    return out.stdout.strip()


@pytest.fixture(scope="module")
def reference() -> str:
    return digest({"QUELM_SIMD": "scalar", "RAYON_NUM_THREADS": "1"})


def different_parts(a: str, b: str) -> list[str]:
    return sorted(set(a.splitlines()) ^ set(b.splitlines()))


@pytest.mark.parametrize("simd, threads", [("sse2", "1"), ("avx2", "2"), ("avx512", "3"), ("", "2")])
def test_digest_is_the_same_at_every_simd_width_and_thread_count(reference, simd, threads):
    # An unsupported width falls back (with a warning) to the widest the processor has,
    # so every value is worth running on any machine.
    got = digest({"QUELM_SIMD": simd, "RAYON_NUM_THREADS": threads})
    assert got == reference, different_parts(got, reference)


def test_each_width_the_processor_has_is_used():
    seen = set()
    for simd in ("scalar", "sse2", "avx2", "avx512"):
        out = run_python("import quelm.vec; print(quelm.vec.simd_width())", env={"QUELM_SIMD": simd})
        assert out.returncode == 0, out.stderr
        seen.add(out.stdout.strip())
        if out.stderr:
            assert f"QUELM_SIMD={simd} is not supported here" in out.stderr
    assert "('scalar', 1)" in seen and len(seen) >= 2


def test_an_unknown_width_warns_naming_it_and_falls_back():
    out = run_python("import warnings; warnings.simplefilter('error')\n"
                     "try:\n    import quelm.vec\nexcept RuntimeWarning as w:\n    print(w)",
                     env={"QUELM_SIMD": "avx1024"})
    assert out.returncode == 0, out.stderr
    assert "QUELM_SIMD=\"avx1024\" is not one of 'scalar', 'sse2', 'avx2', 'avx512'; using" in out.stdout
    fallback = run_python("import quelm.vec; print(quelm.vec.simd_width()[0])", env={"QUELM_SIMD": "AVX1024"})
    assert fallback.stdout.strip() == level()


@pytest.mark.skipif(not os.environ.get("QUELM_OTHER_BUILD"), reason="set QUELM_OTHER_BUILD to a second build tree")
def test_digest_is_the_same_in_another_build(reference):
    other = Path(os.environ["QUELM_OTHER_BUILD"]).resolve()
    env = dict(os.environ, PYTHONPATH=str(other), QUELM_SIMD="")
    out = subprocess.run([sys.executable, str(DIGEST), "--parts"], capture_output=True, text=True, env=env,
                         timeout=600)
    assert out.returncode == 0, out.stderr
    assert out.stdout == reference, different_parts(out.stdout, reference)


# A kernel's own CPU check or vector types would escape QUELM_SIMD, and so the digest's
# comparison across widths: lane types come from core/math/lanes.hpp, the width from
# core/simd.hpp. (The test module's elementary functions run each target on purpose.)
PRIVATE_SIMD = re.compile(r"__builtin_cpu_(supports|init|is)|target_clones|\btarget\s*\(\s*\"|vector_size"
                          r"|#\s*include\s*<\w*intrin\.h>|\b__m(128|256|512)")


def test_only_the_core_chooses_the_instruction_set():
    for line in ('static const bool yes = __builtin_cpu_supports("avx2");', "#include <immintrin.h>",
                 'typedef double v2 __attribute__((vector_size(16)));', "__m256d x;",
                 '__attribute__((target("avx2"))) void block_pair_avx2(',
                 '#define QUELM_WIDE [[gnu::target_clones("avx2", "default")]]'):
        assert PRIVATE_SIMD.search(line), line
    offenders = []
    for path in sorted((ROOT / "src").rglob("*")):
        rel = path.relative_to(ROOT / "src").parts
        if path.suffix not in {".hpp", ".cpp", ".h"} or rel[:2] == ("quelm", "core") or rel[0] == "testing":
            continue
        for number, line in enumerate(path.read_text().splitlines(), 1):
            if PRIVATE_SIMD.search(line):
                offenders.append(f"{path.relative_to(ROOT)}:{number}: {line.strip()}")
    assert not offenders, "SIMD chosen outside core/simd.hpp:\n" + "\n".join(offenders)
