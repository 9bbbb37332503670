"""Every Dask recipe in the README and docs/dask.md runs as the script it says it is: saved as a
file and run with python in a fresh process, as a reader would (a cluster started at the top
level of such a file fails: Dask starts each worker by importing it)."""
from __future__ import annotations

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("distributed")
pytest.importorskip("dask.dataframe")

ROOT = Path(__file__).resolve().parent.parent


def recipes() -> list[tuple[str, str]]:
    found = []
    for page in (ROOT / "README.md", ROOT / "docs" / "dask.md"):
        blocks = re.findall(r"```python\n(.*?)```", page.read_text(encoding="utf-8"), flags=re.S)
        for k, block in enumerate(blocks):
            if block.lstrip().startswith(">>>"):  # worked examples, run by the doctest suites
                continue
            if page.name == "README.md" and "dask" not in block:
                continue
            found.append((f"{page.stem}-{k}", block))
    return found


RECIPES = recipes()


def test_the_pages_have_their_recipes():
    names = [name for name, _ in RECIPES]
    assert sum(n.startswith("README") for n in names) == 1 and sum(n.startswith("dask") for n in names) == 6


@pytest.mark.parametrize("name, source", RECIPES, ids=[name for name, _ in RECIPES])
def test_a_documented_recipe_runs_as_a_script(tmp_path, name, source):
    if "LocalCluster(" in source:
        assert 'if __name__ == "__main__":' in source, f"{name} starts a cluster at import"
    script = tmp_path / "recipe.py"
    script.write_text(source, encoding="utf-8")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    for variable in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS", "OMP_NUM_THREADS"):
        env.pop(variable, None)
    proc = subprocess.run([sys.executable, str(script)], cwd=tmp_path, env=env, capture_output=True, text=True,
                          timeout=600)
    assert proc.returncode == 0, f"{name}:\n{proc.stderr[-4000:]}"
    assert proc.stdout.strip(), name
