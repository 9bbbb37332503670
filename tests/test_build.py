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


# --- the build's progress -------------------------------------------------------------------

def _recipe(makefile: str, target: str) -> str:
    match = re.search(rf"^{re.escape(target)}:.*\n((?:\t.*\n)+)", makefile, re.M)
    assert match, f"no recipe for {target}"
    return match.group(1)


@pytest.mark.parametrize("target", ["demo", "test", "bench", "docs", "test-py%"])
def test_make_installs_show_the_compile_progress(target):
    # A quiet pip hides a first build of several minutes behind no output at all.
    makefile = (ROOT / "Makefile").read_text()
    install = re.search(r"^install = (.*)$", makefile, re.M).group(1)
    assert "tools/build_progress.py --" in install
    pip_args = install.split("-m pip install", 1)[1].split()
    assert "-v" in pip_args and "--quiet" not in pip_args and "-q" not in pip_args
    recipe = _recipe(makefile, target)
    assert "$(call install," in recipe
    # No install of the source tree around the macro (which would be quiet again).
    assert not re.search(r"pip install[^\n]* \.$", recipe, re.M), recipe


def _fake_build(tmp_path, status: int) -> list[str]:
    script = tmp_path / "fake_build.py"
    script.write_text(
        "import functools, sys\n"
        "print = functools.partial(print, flush=True)\n"
        "print('Processing /src/quelm')\n"
        "print('*** Building project with Ninja...')\n"
        "print('-- The CXX compiler identification is GNU 12.2.0')\n"
        "print('[1/2] Building CXX object CMakeFiles/core.dir/a.cpp.o')\n"
        "print('a.cpp:3:1: error: expected declaration', file=sys.stderr)\n"
        "print('[2/2] Linking CXX shared module _core.so')\n"
        f"sys.exit({status})\n")
    out = subprocess.run([sys.executable, str(ROOT / "tools" / "build_progress.py"), "--", sys.executable,
                          str(script)], capture_output=True, text=True, timeout=60)
    return out.returncode, out.stdout.splitlines()


@pytest.mark.parametrize("status, expected", [
    (0, ["*** Building project with Ninja...", "[1/2] Building CXX object CMakeFiles/core.dir/a.cpp.o",
         "[2/2] Linking CXX shared module _core.so"]),
    # A failed build shows what was held back too: the compiler's message is among it.
    (3, ["*** Building project with Ninja...", "[1/2] Building CXX object CMakeFiles/core.dir/a.cpp.o",
         "[2/2] Linking CXX shared module _core.so", "Processing /src/quelm",
         "-- The CXX compiler identification is GNU 12.2.0", "a.cpp:3:1: error: expected declaration"]),
])
def test_build_progress_shows_the_counter_and_keeps_the_status(tmp_path, status, expected):
    code, lines = _fake_build(tmp_path, status)
    assert code == status
    assert lines == expected


def test_the_build_finds_the_package_version_where_pyproject_looks():
    # scikit-build-core's regex provider reads the version from a top-level assignment; a
    # version set only inside a block stops every install at "preparing metadata".
    pyproject = (ROOT / "pyproject.toml").read_text()
    assert 'metadata.version.provider = "scikit_build_core.metadata.regex"' in pyproject
    assert "metadata.version.regex" not in pyproject  # the provider's default pattern, below
    path = re.search(r'^metadata\.version\.input = "(.+)"$', pyproject, re.MULTILINE).group(1)
    pattern = r'(?i)^(__version__|VERSION)(?: ?\: ?str)? *= *([\'"])v?(?P<value>.+?)\2'
    found = re.search(pattern, (ROOT / path).read_text(), re.MULTILINE)
    assert found, path
    import quelm

    assert found.group("value") == quelm.__version__
