# Front door for building, testing and running boolconv. Every target first
# installs the Debian packages it needs, so a fresh Debian 12 machine works.

BUILD_DIR ?= build
WEB_BUILD_DIR ?= build-web
WEB_PAGE := $(WEB_BUILD_DIR)/web-dist
JOBS      ?= 2
WERROR    ?= ON
CMAKE_ARGS ?=

# Debian packages per purpose; each target installs only what is missing.
# The window (make run): a compiler, CMake and Qt (whose GUI library brings
# the X11 display plugin; on Wayland the window opens through XWayland).
# Nothing of the page's.
WINDOW_PACKAGES := cmake ninja-build g++ qt6-base-dev
# Everything else make build compiles: the command-line tool and the tests.
# The Debian packages (`make package`, and their test) need dpkg-dev and file
# for the library dependencies; the test also validates the desktop entry,
# renders the man pages and runs lintian on the packages.
BUILD_PACKAGES := $(WINDOW_PACKAGES) pkg-config libgtest-dev libgmock-dev \
                  libutfcpp-dev nlohmann-json3-dev \
                  dpkg-dev file desktop-file-utils groff-base lintian
# The Python package (built by make build where these are present, always
# for make test, package and bench): Debian's Python headers and pybind11;
# its tests run on Debian's pytest and mypy, and the scale-out example on
# Debian's Dask.
PYTHON_PACKAGES := python3-dev pybind11-dev python3-pytest mypy python3-dask python3-distributed
BENCH_PACKAGES := libbenchmark-dev libxapian-dev time
FUZZ_PACKAGES  := clang libclang-rt-14-dev
SCREENSHOT_PACKAGES := xvfb xauth xdotool imagemagick fonts-dejavu-core
# The page: Debian's Emscripten, which brings its system libraries prebuilt;
# its JavaScript optimizer needs node-acorn. The page's browser test drives
# Debian's chromium with playwright-core from npm (web/package-lock.json),
# on Node.js 18 or newer.
WEB_PACKAGES     := emscripten node-acorn
BROWSER_PACKAGES := chromium fonts-dejavu-core
# Node.js and npm are Debian's where the machine has none. A Node.js the
# machine already has is used as it is: asking apt for Debian's npm would
# remove a Node.js package that bundles its own npm. Looked for only when
# node-deps runs (after Emscripten, which brings Debian's nodejs unless a
# nodejs package is there already), never on the window's path.
NODE_PACKAGES = $(if $(shell command -v node),,nodejs) $(if $(shell command -v npm),,npm)
MIN_NODE_MAJOR := 18
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)

# Configures a build folder. A new folder gets Ninja; one that exists keeps
# the generator it was made with (plain `cmake -S . -B build` makes Unix
# Makefiles), since CMake refuses to switch generators in a folder. CMake
# takes its generator from this variable only where no CMakeCache.txt names
# one already.
CONFIGURE := CMAKE_GENERATOR=Ninja cmake

define install_missing
	@missing=$$(for p in $(1); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing missing packages:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive \
	    apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

.PHONY: all deps window-deps python-deps node-deps build window web browser-deps test run package \
        screenshot bench fuzz sanitize clean format

all: build

deps:
	$(call install_missing,$(BUILD_PACKAGES))

window-deps:
	$(call install_missing,$(WINDOW_PACKAGES))

python-deps:
	$(call install_missing,$(PYTHON_PACKAGES))

# Everything: the window, the tool, the tests, and the Python package where
# its packages are present. Configured on every build (a second or so), so
# that WERROR and CMAKE_ARGS given on the command line always take effect.
# For make test, package and bench the Python packages are installed first,
# before the configuring looks for them.
build: deps $(if $(filter test package bench,$(MAKECMDGOALS)),python-deps)
	$(CONFIGURE) -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBOOLCONV_WERROR=$(WERROR) -DBOOLCONV_BUILD_TESTS=ON -DBOOLCONV_BUILD_CLI=ON \
	  -DBOOLCONV_WEB_PAGE=$(abspath $(WEB_PAGE)) $(CMAKE_ARGS) >/dev/null
	cmake --build $(BUILD_DIR) -j$(JOBS)

# Only the window, in the same folder: configured without the tool and the
# tests, so that it needs none of their packages. What make build compiled
# there stays, and the next make build turns them on again.
window: window-deps
	$(CONFIGURE) -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBOOLCONV_WERROR=$(WERROR) -DBOOLCONV_BUILD_TESTS=OFF -DBOOLCONV_BUILD_CLI=OFF \
	  $(CMAKE_ARGS) >/dev/null
	cmake --build $(BUILD_DIR) -j$(JOBS) --target boolconv

# The browser page, a folder of static files in $(WEB_PAGE). The code is
# compiled -O2, as the shipped programs are: -Os makes a page a third smaller
# that converts five times slower, too slow for a keystroke in a long
# strategy.
web: deps
	$(call install_missing,$(WEB_PACKAGES))
	CMAKE_GENERATOR=Ninja emcmake cmake -S . -B $(WEB_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DBOOLCONV_WERROR=$(WERROR) \
	  -DBOOLCONV_BUILD_TESTS=OFF -DBOOLCONV_BUILD_UI=OFF >/dev/null
	cmake --build $(WEB_BUILD_DIR) -j$(JOBS)
	@echo "The page: $(WEB_PAGE)/index.html"

node-deps:
	$(call install_missing,$(NODE_PACKAGES))
	@major=$$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null); \
	if ! [ "$$major" -ge $(MIN_NODE_MAJOR) ] 2>/dev/null; then \
	  echo "The browser test needs Node.js $(MIN_NODE_MAJOR) or newer; the PATH has" \
	       "$$(command -v node || echo no node) $$(node --version 2>/dev/null)" >&2; \
	  exit 1; \
	fi

# What the page's browser test, measurements and screenshot run on.
browser-deps: node-deps web/node_modules/.package-lock.json
	$(call install_missing,$(BROWSER_PACKAGES))

web/node_modules/.package-lock.json: web/package-lock.json | node-deps
	cd web && npm ci --no-audit --no-fund

test: build web browser-deps
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j$(JOBS)

run: window
	$(BUILD_DIR)/ui/boolconv

# The Debian packages, in $(BUILD_DIR): boolconv (the window), boolconv-cli,
# libboolconv-dev and python3-boolconv; install them with
# apt-get install ./<file>.
package: build
	cmake --build $(BUILD_DIR) --target package
	@ls -1 $(BUILD_DIR)/boolconv_*.deb $(BUILD_DIR)/boolconv-cli_*.deb \
	  $(BUILD_DIR)/libboolconv-dev_*.deb $(BUILD_DIR)/python3-boolconv_*.deb

# The README's picture of the window after a conversion, on a virtual display.
screenshot: build web browser-deps
	$(call install_missing,$(SCREENSHOT_PACKAGES))
	docs/screenshot.sh $(BUILD_DIR)/ui/boolconv docs/screenshot.png
	node web/test/screenshot.mjs $(WEB_PAGE) docs/web.png

# Long runs stay out of `make test`.
FUZZ_SECONDS ?= 300

# -O2, as the shipped build uses. Then the page's size and speed in chromium.
bench: deps python-deps web browser-deps
	$(call install_missing,$(BENCH_PACKAGES))
	$(CONFIGURE) -S . -B build-bench -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DBOOLCONV_WERROR=$(WERROR) \
	  -DBOOLCONV_BUILD_BENCH=ON -DBOOLCONV_BUILD_TESTS=OFF -DBOOLCONV_BUILD_UI=OFF
	cmake --build build-bench -j$(JOBS)
	build-bench/bench/boolfuncs_benchmark --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
	build-bench/bench/diagnostics_benchmark --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
	bench/cli_bench.sh build-bench
	PYTHONPATH=build-bench/python /usr/bin/python3 bench/python_bench.py build-bench
	node web/test/measure.mjs $(WEB_PAGE)

fuzz: deps
	$(call install_missing,$(FUZZ_PACKAGES))
	fuzz/run.sh $(FUZZ_SECONDS)

sanitize: deps
	$(call install_missing,$(FUZZ_PACKAGES))
	fuzz/sanitize.sh

# The page's scripts too; the two pieces that wrap the generated engine are
# not whole scripts.
format:
	$(call install_missing,clang-format)
	git ls-files '*.cpp' '*.h' 'web/*.js' 'web/*.mjs' ':!web/engine_*.js' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(WEB_BUILD_DIR) build-bench build-fuzz build-asan build-tsan
