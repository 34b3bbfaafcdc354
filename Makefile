# Front door: make, make test, make run.
BUILD ?= build
CMAKE_FLAGS ?=
STORE ?= examples/ipoib-adapters.reg

.PHONY: all build test run clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j2

test: build
	cd $(BUILD) && ctest --output-on-failure

run: build
	IPOIB_GUIDMASK_REGISTRY=$(STORE) ./$(BUILD)/ipoib-guidmask

clean:
	rm -rf $(BUILD)
