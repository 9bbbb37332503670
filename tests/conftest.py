"""Shared test helpers."""
from __future__ import annotations

import importlib
import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

PYTHON_SOURCES = Path(__file__).resolve().parent.parent / "python" / "quelm"


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


def load_python_source(name: str, siblings: tuple[str, ...] = ()):
    """quelm.<name>, or before it is installed as part of quelm, src/python/<name>.py.

    The source file is loaded by path and its siblings are registered under their bare
    names; src/python itself never goes on sys.path, where its dask.py would shadow Dask
    for this process and for every worker process it spawns."""
    try:
        return importlib.import_module(f"quelm.{name}")
    except ImportError:
        pass
    for sibling in siblings:
        if sibling not in sys.modules:
            sys.modules[sibling] = _load_file(sibling, sibling)
    return _load_file(name, f"quelm_{name}_source")


def _load_file(name: str, module_name: str):
    spec = importlib.util.spec_from_file_location(module_name, PYTHON_SOURCES / f"{name}.py")
    module = importlib.util.module_from_spec(spec)
    sys.modules[module_name] = module
    spec.loader.exec_module(module)
    return module


def importable(name: str) -> bool:
    try:
        importlib.import_module(name)
    except ImportError:
        return False
    return True
