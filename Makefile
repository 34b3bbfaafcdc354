# Front door: make, make test, make run.
BUILD ?= build
CMAKE_FLAGS ?=
STORE ?= examples/ipoib-adapters.reg
# The Windows program, cross-built with mingw-w64.
WINDOWS_BUILD ?= build-windows

.PHONY: all build test run bench sanitize fuzz fuzz-smoke clean windows test-windows

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j2

test: build
	cd $(BUILD) && ctest --output-on-failure
	./tests/e2e/run_windows_leg.sh

# The end-to-end cases on the Windows program under Wine (skipped, with a line, without them).
test-windows:
	./tests/e2e/run_windows_leg.sh

run: build
	IPOIB_GUIDMASK_REGISTRY=$(STORE) ./$(BUILD)/ipoib-guidmask

sanitize:
	cmake -S . -B build-sanitize -DIPOIB_GUIDMASK_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build-sanitize -j2
	cd build-sanitize && ctest --output-on-failure

# Each libFuzzer target runs FUZZ_SECONDS on a copy of its seed corpus (fuzz/corpus/NAME).
FUZZ_SECONDS ?= 60
fuzz:
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DIPOIB_GUIDMASK_FUZZ=ON \
		-DIPOIB_GUIDMASK_TESTS=OFF
	cmake --build build-fuzz -j2
	./fuzz/run_fuzzers.sh build-fuzz/fuzz $(FUZZ_SECONDS)

# What CI runs: each target for about 30 seconds.
fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=30

bench: build
	python3 bench/store_benchmark.py --program $(BUILD)/ipoib-guidmask
	python3 bench/hive_benchmark.py --program $(BUILD)/ipoib-guidmask --hive-tool $(BUILD)/tests/hive_tool

windows: $(WINDOWS_BUILD)/CMakeCache.txt
	cmake --build $(WINDOWS_BUILD) -j2

$(WINDOWS_BUILD)/CMakeCache.txt:
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD)
