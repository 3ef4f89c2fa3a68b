# The front door: every command a newcomer or CI needs. Each target installs what is
# missing (Debian packages), configures and builds before it runs.
BUILD ?= build
JOBS ?= $(shell nproc)
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)

# Debian packages: to build and run, then what the tests and tools use.
BUILD_PACKAGES := g++ cmake make pkg-config libjansson-dev
TEST_PACKAGES := googletest libgtest-dev strace valgrind clang libclang-rt-14-dev gcovr
LINT_PACKAGES := clang-format clang-tidy

.PHONY: all deps build demo test lint install package clean

all: build

deps:
	@scripts/install-packages $(BUILD_PACKAGES) $(TEST_PACKAGES)

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/host/extension-host run --demo -- $(BUILD)/sample-extension --protocol 1

test: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 300

lint: deps
	@scripts/install-packages $(LINT_PACKAGES)
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')
	clang-tidy -p $(BUILD) --quiet $$(git ls-files 'src/*.cpp' 'host/*.cpp')

install: build
	cmake --install $(BUILD)

package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) build-*
