# The project's commands. Each sets up what it needs on a fresh machine: a CPython 3.13, the
# virtual environment .venv with the dependencies from pyproject.toml, and the extension build.
# `make help` lists them: it prints the lines below that start with "#   make".
#   make test    build both modules (warnings are errors) and run the test suite
#   make demo    run the example script against the stand-in add-in and show the editor services
#   make build   rebuild the extensions after a C++ change (incremental, seconds); afterwards
#                .venv/bin/python -m devkit run SCRIPT works from any directory
#   make asan    build with AddressSanitizer + UndefinedBehaviorSanitizer and run the suite under them
#   make bench   run the benchmarks and print the table of ratios
#   make stress  run the full-size attack suites and the fuzzers
#   make playground  serve the editor and the workbook as a local web page (prints its URL)
#   make screenshot  retake the README's pictures of the playground in Chromium
#   make wheel   build the binary wheel and repair it into a manylinux wheel in dist/
#   make wheel-test  install that wheel into a fresh venv (no compiler on PATH) and import it
#   make format  format the C++ sources with .clang-format (format-check only reports)
#   make clean   remove the builds and wheels (the venv and node_modules stay)
#   make help    list these commands

SHELL := /bin/bash
VENV := .venv
PY := $(VENV)/bin/python
BUILD_DIR := build/release
ASAN_DIR := build/asan
EXTRAS ?= test bench playground
JOBS ?= 2
PYTEST_ARGS ?=

.PHONY: all build test demo asan bench stress wheel wheel-test format format-check clean venv npm-deps help browser playground screenshot

all: build

$(VENV)/.python:
	@py=$$(tools/find-python.sh) || exit 1; \
	  echo "using $$py"; \
	  "$$py" -m venv $(VENV) && echo "$$py" > $@

$(VENV)/.deps: pyproject.toml tools/requirements.py | $(VENV)/.python
	$(PY) -m pip install -q --upgrade pip
	$(PY) tools/requirements.py $(EXTRAS) > $(VENV)/requirements.txt
	$(PY) -m pip install -q -r $(VENV)/requirements.txt
	touch $@

venv: $(VENV)/.deps

# The pinned npm packages (Monaco for the playground; the TypeScript compiler and the Office.js
# definitions for the Excel-API stub generator). Without npm the steps that need them say so.
node_modules/.installed: package.json package-lock.json
	@if command -v npm > /dev/null; then npm ci --no-audit --no-fund --loglevel=error && touch $@; \
	  else echo "npm not found: install Node.js 20 to use the playground and regenerate the stubs"; fi

npm-deps: node_modules/.installed

# Debian's Chromium for the browser tests and the screenshot; Playwright drives it through its
# path and never downloads a browser of its own. Installed when missing and we are root;
# otherwise the command is printed (the browser tests then skip, or fail under CI).
browser: $(VENV)/.deps
	@if $(PY) -c "import sys; from devkit.playground.browser import find_chromium; sys.exit(find_chromium() is None)"; then :; \
	elif [ "$$(id -u)" = 0 ] && command -v apt-get > /dev/null; then \
	  echo "installing Debian's chromium-headless-shell for the browser tests"; \
	  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
	      chromium-headless-shell; } || echo "could not install chromium-headless-shell"; \
	else echo "Chromium is missing, so the browser tests will be skipped; install it with:"; \
	  echo "  sudo apt-get update && sudo apt-get install -y chromium-headless-shell"; fi

# Configures, compiles and stages one build: $(1) the build directory, $(2) extra CMake options.
# The stage is the installed package: the extensions, then the pure-Python files (a component of
# its own, which wheels leave to scikit-build-core). It is laid anew, so nothing stale survives.
define stage_build
	cmake -S . -B $(1) -DPython_EXECUTABLE=$(abspath $(PY)) -DCELLUMO_WERROR=ON $(2) > $(1).configure.log \
	  || { cat $(1).configure.log; exit 1; }
	cmake --build $(1) -j $(JOBS)
	rm -rf $(1)/stage
	cmake --install $(1) --prefix $(abspath $(1))/stage > /dev/null
	cmake --install $(1) --prefix $(abspath $(1))/stage --component python_sources > /dev/null
endef

build: $(VENV)/.deps
	@mkdir -p build
	$(call stage_build,$(BUILD_DIR),-DCMAKE_BUILD_TYPE=Release -DCELLUMO_BENCH=ON)
	@# The venv sees the staged package the way an editable install would, and the devkit through a
	@# directory that holds only a link to it (so that `python -m devkit` works from anywhere
	@# without putting the rest of the repository on the path).
	@purelib="$$($(PY) -c 'import sysconfig; print(sysconfig.get_path("purelib"))')"; \
	  echo "$(abspath $(BUILD_DIR))/stage" > "$$purelib/cellumo_master_dev.pth"; \
	  mkdir -p build/devkit-path && ln -sfn "$(abspath devkit)" build/devkit-path/devkit; \
	  echo "$(abspath build/devkit-path)" > "$$purelib/cellumo_devkit.pth"

test: build npm-deps browser
	CELLUMO_STAGE=$(abspath $(BUILD_DIR))/stage $(PY) -m pytest -q $(PYTEST_ARGS)

# The sanitized build runs several times slower, so its per-test hang limit is longer.
asan: $(VENV)/.deps
	@mkdir -p build
	$(call stage_build,$(ASAN_DIR),-DCMAKE_BUILD_TYPE=Debug -DCELLUMO_SANITIZE=ON)
	LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:detect_stack_use_after_return=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	PYTHONMALLOC=malloc CELLUMO_SANITIZED=1 \
	PYTHONPATH=$(abspath $(ASAN_DIR))/stage CELLUMO_STAGE=$(abspath $(ASAN_DIR))/stage \
	  $(PY) -m pytest -q -p no:cacheprovider --timeout=900 $(PYTEST_ARGS)

demo: build
	$(PY) -m devkit demo

bench: build npm-deps browser
	$(PY) -m bench

# PLAYGROUND_ARGS: for example --port 9000 or --no-browser
playground: build npm-deps
	$(PY) -m devkit playground $(PLAYGROUND_ARGS)

# The README's picture of the playground, taken in Chromium.
screenshot: build npm-deps browser
	$(PY) -m devkit.playground.screenshot docs/playground.png docs/playground-restarted.png

# The attack suites at full size (ending with the report of their figures), then each fuzz
# harness for FUZZ_SECONDS (its corpus is kept in build/fuzz so that later runs start from it;
# a crashing input is written beside it).
FUZZ_SECONDS ?= 120
stress: build
	$(PY) -m pip install -q -r <($(PY) tools/requirements.py stress)
	CELLUMO_STRESS=full CELLUMO_STAGE=$(abspath $(BUILD_DIR))/stage $(PY) -m pytest -q tests/attacks $(PYTEST_ARGS)
	@for h in fuzz_wire fuzz_args; do \
	  mkdir -p build/fuzz/$$h; \
	  echo "fuzzing $$h for $(FUZZ_SECONDS) s"; \
	  timeout $$(( $(FUZZ_SECONDS) + 120 )) $(PY) fuzz/$$h.py -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=4096 \
	    -artifact_prefix=build/fuzz/$$h- -print_final_stats=1 build/fuzz/$$h > build/fuzz/$$h.log 2>&1; \
	  rc=$$?; grep -a -E "^(Done|stat::number_of_executed_units)" build/fuzz/$$h.log; \
	  if [ $$rc -ne 0 ]; then tail -40 build/fuzz/$$h.log; echo "$$h failed ($$rc)"; exit 1; fi; \
	done

# pip builds the wheel through scikit-build-core (its build tree is build/wheel/<tag>), then
# auditwheel checks which libraries and symbol versions it needs and retags it as manylinux.
WHEEL_DIR := dist
wheel: $(VENV)/.deps
	$(PY) -m pip install -q -r <($(PY) tools/requirements.py wheel)
	rm -rf build/wheel-linux $(WHEEL_DIR)
	$(PY) -m pip wheel . --no-deps --no-cache-dir -q -w build/wheel-linux
	PATH="$(abspath $(VENV))/bin:$$PATH" $(PY) -m auditwheel repair -w $(WHEEL_DIR) build/wheel-linux/*.whl
	@ls $(WHEEL_DIR)/*manylinux*.whl

wheel-test: wheel
	CELLUMO_WHEEL="$$(ls $(abspath $(WHEEL_DIR))/*manylinux*.whl)" $(PY) -m pytest -q -p no:cacheprovider --noconftest tests/packaging/test_packaging_wheel.py

# The C++ sources against .clang-format; the set-up installs clang-format when it is missing.
FORMAT_FILES = $(wildcard src/*/*.cpp src/*/*.hpp bench/*.cpp)
format:
	@cf=$$(tools/ensure-clang-format.sh) && "$$cf" -i $(FORMAT_FILES)

format-check:
	@cf=$$(tools/ensure-clang-format.sh) && "$$cf" --dry-run -Werror $(FORMAT_FILES) \
	  && echo "formatted as .clang-format says"

clean:
	rm -rf build $(WHEEL_DIR)

help:
	@sed -n 's/^#   make /make /p; s/^#                /             /p' $(firstword $(MAKEFILE_LIST))
