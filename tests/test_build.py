"""The build says why when it cannot work, and the places that state the supported
Python versions agree with each other."""
from __future__ import annotations

import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent


def tool(name: str) -> str | None:
    """The tool beside this interpreter (a venv's cmake), else the one on PATH."""
    return shutil.which(name, path=str(Path(sys.executable).parent)) or shutil.which(name)


@pytest.mark.skipif(tool("cmake") is None or tool("g++") is None, reason="needs cmake and g++")
def test_configure_without_cxx23_library_names_the_needed_compilers(tmp_path):
    # Hiding the C++ library headers stands in for a toolchain whose library lacks <expected>.
    args = [tool("cmake"), "-S", str(ROOT), "-B", str(tmp_path), "-DCMAKE_CXX_COMPILER=g++",
            "-DCMAKE_CXX_FLAGS=-nostdinc++", f"-DPython_EXECUTABLE={sys.executable}"]
    if tool("ninja"):
        args += ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={tool('ninja')}"]
    out = subprocess.run(args, capture_output=True, text=True, timeout=120)
    assert out.returncode != 0
    message = " ".join(out.stderr.split())
    assert "quelm needs a C++23 compiler" in message, out.stderr
    for needed in ("GCC 12+", "Clang 16+ with libc++ 16+", "MSVC 19.36+", "Found GNU"):
        assert needed in message, out.stderr


def test_supported_python_versions_agree():
    pyproject = (ROOT / "pyproject.toml").read_text()
    cmake = (ROOT / "CMakeLists.txt").read_text()
    makefile = (ROOT / "Makefile").read_text()
    floor = re.search(r'requires-python = ">=(3\.\d+)"', pyproject).group(1)
    assert re.search(r"find_package\(Python (3\.\d+) ", cmake).group(1) == floor
    tested = re.search(r"PY_VERSIONS \?= ([\d. ]+)", makefile).group(1).split()
    assert tested[0] == floor
    wheels = re.findall(r"cp3(\d+)-\*", re.search(r'^build = "(.*)"', pyproject, re.M).group(1))
    assert [f"3.{w}" for w in wheels] == tested
