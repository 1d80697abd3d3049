# Front door: every target wraps a CMake preset. `make run ARGS="2 1000"`, `make test`, `make bench`.
ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: run test bench build debug asan tsan sanitize fuzz windows package setup clean

# Installs what the build needs on a Debian machine, when it is missing.
setup:
	@tools/setup

build: setup
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target varnel-bench

run: build
	./build/release/varnel-bench $(ARGS)

test: setup
	cmake --preset debug -DVARNEL_BUILD_TESTS=ON >/dev/null
	cmake --build --preset debug -j $(JOBS)
	ctest --preset debug -j $(JOBS)

bench: setup
	@tools/bench-setup
	cmake --preset release -DVARNEL_BUILD_BENCH=ON >/dev/null
	cmake --build --preset release -j $(JOBS)

asan: setup
	cmake --workflow --preset asan

tsan: setup
	cmake --workflow --preset tsan

# asan: every test and the driver on each problem; tsan: the driver tests and a four-worker run.
sanitize: setup
	tools/sanitize

FUZZ_SECONDS ?= 30
# Each libFuzzer target for FUZZ_SECONDS on top of its committed corpus (clang).
fuzz: setup
	tools/fuzz $(FUZZ_SECONDS)

# Cross-builds with MinGW-w64, runs every test and the driver under Wine (installs both if missing).
windows:
	tools/windows-check

# Release archives in build/packages/: Linux .tar.gz and .deb, the Windows .zip from the MinGW-w64
# cross build (reused when make windows has built it), each checked by a consumer (tools/package).
package: setup
	tools/package

clean:
	rm -rf build
