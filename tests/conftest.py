"""Shared test helpers."""
from __future__ import annotations

import os
import subprocess
import sys

import pytest


def run_python(code: str, *, env: dict | None = None, timeout: float = 120.0) -> subprocess.CompletedProcess:
    """Run code in a fresh interpreter that sees the same quelm as this one."""
    full_env = dict(os.environ)
    full_env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    if env:
        full_env.update(env)
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=full_env,
                          timeout=timeout)


@pytest.fixture
def python_subprocess():
    return run_python


def same_output_across_threads(code: str, counts=("1", "2", "5")) -> str:
    """Run code under each RAYON_NUM_THREADS value; assert identical output and return it."""
    outs = set()
    for threads in counts:
        out = run_python(code, env={"RAYON_NUM_THREADS": threads})
        assert out.returncode == 0, out.stderr
        outs.add(out.stdout)
    assert len(outs) == 1, outs
    return outs.pop()
