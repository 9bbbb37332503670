# The two commands: `make demo` and `make test`. Both create or reuse .venv.
PYTHON ?= python3
VENV := .venv
PY := $(VENV)/bin/python
PIP := $(PY) -m pip
DEV_BUILD := build/dev

.PHONY: demo test bench build debug-python docs clean

$(VENV)/.created:
	$(PYTHON) -m venv $(VENV)
	$(PIP) install --quiet --upgrade pip
	touch $@

$(VENV)/.test-deps: $(VENV)/.created
	$(PIP) install --quiet scikit-build-core cmake ninja pytest numpy scipy hypothesis mypy pandas pandas-stubs basedpyright matplotlib
	touch $@

demo: $(VENV)/.created
	$(PIP) install --quiet . matplotlib
	$(PY) examples/tour.py

test: $(VENV)/.test-deps
	$(PIP) install --quiet --no-build-isolation -C cmake.define.QUELM_BUILD_TESTS=ON .
	$(PY) -m pytest -q tests

# The benchmark floors live in the test-only module; PyTorch is only a peer for the
# neural engines (the pinned CPU build), so a failed install just drops that peer.
bench: $(VENV)/.test-deps
	-$(PIP) install --quiet torch==2.13.0
	$(PIP) install --quiet --no-build-isolation -C cmake.define.QUELM_BUILD_TESTS=ON -C cmake.define.QUELM_BUILD_BENCH=ON .
	$(PY) benchmarks/run.py $(BENCH_ARGS)

# The manual: builds quelm (as `make test` does, so the build is shared) and then the site
# from docs/, warnings as errors, into build/docs/ (open build/docs/index.html).
$(VENV)/.docs-deps: $(VENV)/.created
	$(PIP) install --quiet scikit-build-core cmake ninja "sphinx>=7.2" "myst-parser>=2" furo
	touch $@

docs: $(VENV)/.docs-deps
	$(PIP) install --quiet --no-build-isolation -C cmake.define.QUELM_BUILD_TESTS=ON .
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
	cmake -S . -B build/debug-python -G Ninja -DPython_EXECUTABLE=$$(command -v $(DEBUG_PYTHON)) >/dev/null
	cmake --build build/debug-python -j2 --target quelm

clean:
	rm -rf build $(VENV)
