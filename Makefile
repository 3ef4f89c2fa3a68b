# The front door: every command a newcomer or CI needs. Each target installs what is
# missing (Debian packages), configures and builds before it runs. The configurations are
# CMakePresets.json's; each preset builds in its own folder (build, build-release, ...).
JOBS ?= $(shell nproc)
SHELL := /bin/bash

# Debian packages: to build and run, then what the tests and tools use.
BUILD_PACKAGES := g++ cmake make pkg-config libjansson-dev libedit-dev libseccomp-dev libutf8proc-dev
TEST_PACKAGES := googletest libgtest-dev strace valgrind clang libclang-rt-14-dev gcovr jq python3 \
  $(PACKAGE_PACKAGES) lintian man-db libxml2-utils perl time util-linux
# What `make package` needs: dpkg-shlibdeps computes the package's dependencies.
PACKAGE_PACKAGES := dpkg-dev file
LINT_PACKAGES := clang-format clang-tidy
# The benchmark's peers and its chart.
BENCH_PACKAGES := jq python3 gnuplot-nox valgrind

FUZZ_SECONDS ?= 300
BENCH_ROUNDS ?= 5
TEST_FUZZ_SECONDS ?= 30

.PHONY: all deps build-deps build demo test test-sanitized test-clang fuzz coverage mutants bench lint install \
  package clean

all: build

deps:
	@scripts/install-packages $(BUILD_PACKAGES) $(TEST_PACKAGES)

# What building and running need, and nothing the tests do.
build-deps:
	@scripts/install-packages $(BUILD_PACKAGES)

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

# A newcomer's first run: only what building and running need is installed, only the two
# executables are built (the tests are left out of the build folder until `make test`),
# and only the conversation is shown.
demo: build-deps
	@echo "Building sample-extension and extension-host (build/demo.log tells how it went)..."
	@mkdir -p build && { cmake --preset demo --log-level=WARNING && \
	  cmake --build --preset demo -j $(JOBS) -- --no-print-directory; } >build/demo.log 2>&1 || \
	  { cat build/demo.log; exit 1; }
	@build/host/extension-host run --demo -- build/sample-extension --protocol 1

# Every test four ways: the RelWithDebInfo build (with each golden conversation also
# under valgrind memcheck), the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, again built by clang for release, and a short run of the
# conversation fuzzer. The Debian package is made too, so that the release preset, which
# `make package` and `make bench` build with GCC, cannot break unseen; and the coverage
# build runs the suite once more, so that `make coverage` cannot either.
test: build
	$(MAKE) --no-print-directory package
	$(MAKE) --no-print-directory coverage
	$(MAKE) --no-print-directory test-sanitized
	$(MAKE) --no-print-directory test-clang
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=$(TEST_FUZZ_SECONDS)
	ctest --preset default -j $(JOBS)

test-sanitized: deps
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS)
	ctest --preset sanitize -j $(JOBS)

# A second compiler's warnings and optimiser.
test-clang: deps
	cmake --preset clang-release
	cmake --build --preset clang-release -j $(JOBS)
	ctest --preset clang-release -j $(JOBS)

# Runs the fuzzer for FUZZ_SECONDS on a working copy of the committed seed corpus; any
# finding (crash, leak, sanitizer report, broken promise) ends it non-zero.
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	mkdir -p build-fuzz/corpus build-fuzz/findings
	build-fuzz/tests/fuzz/conversation_fuzzer -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	  -dict=tests/fuzz/protocol.dict -artifact_prefix=build-fuzz/findings/ \
	  build-fuzz/corpus tests/fuzz/corpus 2>&1 | grep -E '^(#[0-9]+.*DONE|Done|stat::number_of_executed_units|==[0-9]+==|SUMMARY)' ; \
	  exit $${PIPESTATUS[0]}

# Line and branch coverage of the extension's sources by the whole suite; fails below
# 100% of lines.
coverage: deps
	cmake --preset coverage
	cmake --build --preset coverage -j $(JOBS)
	find build-coverage -name '*.gcda' -delete
	cd build-coverage && ctest -j $(JOBS) --timeout 300 --output-on-failure >ctest.log 2>&1 || \
	  { grep -A 60 -E '\*\*\*(Failed|Timeout|Exception)' ctest.log; exit 1; }
	gcovr --root . --filter 'src/' --object-directory build-coverage --exclude-unreachable-branches \
	  --print-summary --fail-under-line 100 --txt build-coverage/coverage.txt
	@cat build-coverage/coverage.txt | tail -n +4
# Plants each one-line fault of tests/mutants/catalogue (the extension's) and
# host-catalogue (the host's) alone in a scratch copy (build-mutants/) and runs the suite;
# lists the faults no test noticed. About two hours.
mutants: deps
	scripts/mutants

# The extension against the floors and its peers, built for speed (the release preset):
# bench/results/latest.md and bench/results/latency.png; then what the host's sandbox
# costs compare against the floor of plain spawns: bench/results/host.md.
bench: deps
	@scripts/install-packages $(BENCH_PACKAGES)
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	build-release/bench/bench-driver --build build-release --source . --results bench/results \
	  --rounds $(BENCH_ROUNDS)
	gnuplot bench/results/raw/latency.gp
	build-release/bench/bench-host --host build-release/host/extension-host \
	  --extension build-release/sample-extension --results bench/results/host.md
	build-release/bench/bench-library --extension build-release/sample-extension \
	  --results bench/results/library.md

lint: deps
	@scripts/install-packages $(LINT_PACKAGES)
	cmake --preset default
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')
	clang-tidy -p build --quiet $$(git ls-files 'src/*.cpp' 'host/*.cpp' 'bench/*.cpp')

# Installs the default build under /usr/local (PREFIX=... to change it).
PREFIX ?= /usr/local
install: build
	cmake --install build --prefix $(PREFIX)

# build-release/sample-extension_VERSION-REVISION_ARCH.deb: release binaries, stripped.
package: deps
	@scripts/install-packages $(PACKAGE_PACKAGES)
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	cpack --config build-release/CPackConfig.cmake -B build-release
	packaging/library-packages build-release build-release

clean:
	rm -rf build build-*
