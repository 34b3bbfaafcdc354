# Front door: make, make test, make run.
BUILD ?= build
CMAKE_FLAGS ?=
STORE ?= examples/ipoib-adapters.reg
# The Windows program, cross-built with mingw-w64.
WINDOWS_BUILD ?= build-windows

.PHONY: all build test run bench clean windows

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j2

test: build
	cd $(BUILD) && ctest --output-on-failure

run: build
	IPOIB_GUIDMASK_REGISTRY=$(STORE) ./$(BUILD)/ipoib-guidmask

bench: build
	python3 bench/store_benchmark.py --program $(BUILD)/ipoib-guidmask

windows: $(WINDOWS_BUILD)/CMakeCache.txt
	cmake --build $(WINDOWS_BUILD) -j2

$(WINDOWS_BUILD)/CMakeCache.txt:
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD)
