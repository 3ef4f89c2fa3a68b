# The front door: every command a newcomer or CI needs. Each target installs what is
# missing (Debian packages), configures and builds before it runs.
BUILD ?= build
JOBS ?= $(shell nproc)
SHELL := /bin/bash

# Debian packages: to build and run, then what the tests and tools use.
BUILD_PACKAGES := g++ cmake make pkg-config libjansson-dev
TEST_PACKAGES := googletest libgtest-dev strace valgrind clang libclang-rt-14-dev gcovr jq python3
LINT_PACKAGES := clang-format clang-tidy
# The benchmark's peers and its chart.
BENCH_PACKAGES := jq python3 gnuplot-nox valgrind

FUZZ_SECONDS ?= 300
BENCH_ROUNDS ?= 5
TEST_FUZZ_SECONDS ?= 60

.PHONY: all deps build demo test test-sanitized fuzz coverage bench lint install package clean

all: build

deps:
	@scripts/install-packages $(BUILD_PACKAGES) $(TEST_PACKAGES)

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/host/extension-host run --demo -- $(BUILD)/sample-extension --protocol 1

# Every test three ways: the RelWithDebInfo build (with each golden conversation also
# under valgrind memcheck), the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a short run of the conversation fuzzer.
test: build
	$(MAKE) --no-print-directory test-sanitized
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=$(TEST_FUZZ_SECONDS)
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 300

test-sanitized: deps
	cmake -S . -B build-sanitized -DCMAKE_BUILD_TYPE=Debug -DSAMPLE_SANITIZE=ON
	cmake --build build-sanitized -j $(JOBS)
	cd build-sanitized && ctest -j $(JOBS) --output-on-failure --timeout 300

# Runs the fuzzer for FUZZ_SECONDS on a working copy of the committed seed corpus; any
# finding (crash, leak, sanitizer report, broken promise) ends it non-zero.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DSAMPLE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-fuzz -j $(JOBS)
	mkdir -p build-fuzz/corpus build-fuzz/findings
	build-fuzz/tests/fuzz/conversation_fuzzer -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	  -dict=tests/fuzz/protocol.dict -artifact_prefix=build-fuzz/findings/ \
	  build-fuzz/corpus tests/fuzz/corpus 2>&1 | grep -E '^(#[0-9]+.*DONE|Done|stat::number_of_executed_units|==[0-9]+==|SUMMARY)' ; \
	  exit $${PIPESTATUS[0]}

# Line and branch coverage of the extension's sources by the whole suite; fails below
# 100% of lines.
coverage: deps
	cmake -S . -B build-coverage -DCMAKE_BUILD_TYPE=Debug -DSAMPLE_COVERAGE=ON -DSAMPLE_MEMCHECK=OFF
	cmake --build build-coverage -j $(JOBS)
	find build-coverage -name '*.gcda' -delete
	cd build-coverage && ctest -j $(JOBS) --timeout 300 >/dev/null || (ctest --rerun-failed --output-on-failure; exit 1)
	gcovr --root . --filter 'src/' --object-directory build-coverage --exclude-unreachable-branches \
	  --print-summary --fail-under-line 100 --txt build-coverage/coverage.txt
	@cat build-coverage/coverage.txt | tail -n +4
# The extension against the floors and its peers, built for speed (Release, no tests):
# bench/results/latest.md and bench/results/latency.png.
bench: deps
	@scripts/install-packages $(BENCH_PACKAGES)
	cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DSAMPLE_TESTS=OFF
	cmake --build build-release -j $(JOBS)
	build-release/bench/bench-driver --build build-release --source . --results bench/results \
	  --rounds $(BENCH_ROUNDS)
	gnuplot bench/results/raw/latency.gp

lint: deps
	@scripts/install-packages $(LINT_PACKAGES)
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')
	clang-tidy -p $(BUILD) --quiet $$(git ls-files 'src/*.cpp' 'host/*.cpp' 'bench/*.cpp')

install: build
	cmake --install $(BUILD)

package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) build-*
