# Two commands do everything on a fresh Debian machine: `make demo`, `make test`.
BUILD      ?= build
GENERATOR  ?= Ninja
JOBS       ?= $(shell nproc)
PYTHON     ?= /usr/bin/python3
CMAKE_ARGS ?=
# Compiler cache entries keyed on paths relative to the checkout, so every clone shares them.
export CCACHE_BASEDIR := $(CURDIR)

.PHONY: all deps configure build test check check-format check-tidy test-cpp test-python demo sanitize sanitize-asan sanitize-tsan fuzz bench install clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build check-format
	@bash scripts/run-tests.sh $(BUILD)

# Every tracked C++ file as .clang-format makes it; clang-tidy's findings on
# the library (slower: CI runs it, see .ci/run).
check: check-format check-tidy

check-format:
	@bash scripts/check-format.sh

check-tidy: configure
	@bash scripts/check-tidy.sh $(BUILD)

demo: build
	@bash scripts/demo.sh $(BUILD)

# The suite again under AddressSanitizer + UndefinedBehaviorSanitizer, then
# ThreadSanitizer, each in its own build folder; under ASan the Python suite
# runs too, with the sanitizer's runtime preloaded into Debian's interpreter.
sanitize: sanitize-asan sanitize-tsan

sanitize-asan: deps
	@cmake -S . -B build-asan -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DZEL_SANITIZE=address,undefined \
		-DZEL_BUILD_BENCH=OFF $(CMAKE_ARGS)
	@cmake --build build-asan -j $(JOBS)
	@ZEL_SKIP_PYTHON=1 bash scripts/run-tests.sh build-asan
	@bash scripts/run-python-sanitized.sh build-asan address

sanitize-tsan: deps
	@cmake -S . -B build-tsan -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_SANITIZE=thread \
		-DZEL_BUILD_BENCH=OFF $(CMAKE_ARGS)
	@cmake --build build-tsan -j $(JOBS)
	@ZEL_SKIP_PYTHON=1 TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" bash scripts/run-tests.sh build-tsan
	@bash scripts/run-python-sanitized.sh build-tsan thread

# Every fuzz target built with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz, then run from its seed corpus for
# FUZZ_SECONDS each (default: about ten minutes for all together).
fuzz:
	@bash scripts/install-deps.sh fuzz
	@FUZZ_SECONDS=$(FUZZ_SECONDS) CMAKE_ARGS="$(CMAKE_ARGS)" JOBS=$(JOBS) bash scripts/run-fuzz.sh build-fuzz

bench: build
	@bash scripts/run-bench.sh $(BUILD)

install: build
	@cmake --install $(BUILD) --prefix $(or $(PREFIX),/usr/local)

clean:
	@rm -rf $(BUILD) build-asan build-tsan build-fuzz
