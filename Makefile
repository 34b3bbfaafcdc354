# Front door: make, make test, make run.
BUILD ?= build
CMAKE_FLAGS ?=
STORE ?= examples/ipoib-adapters.reg
# The Windows program, cross-built with mingw-w64.
WINDOWS_BUILD ?= build-windows
# make install, as users of make expect.
PREFIX ?= /usr/local
DESTDIR ?=
DIST ?= dist

.PHONY: all build program test run install dist bench sanitize fuzz fuzz-smoke clean windows \
	test-windows

all: build

# The program and the tests. A build folder that make run or make install configured without
# the tests is configured again with them.
build:
	@grep -qs '^IPOIB_GUIDMASK_TESTS:BOOL=ON$$' $(BUILD)/CMakeCache.txt || \
		cmake -S . -B $(BUILD) -DIPOIB_GUIDMASK_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j2

# The programs alone, so they need no GoogleTest: a new build folder is configured without the
# tests. Quiet: the build's output is shown only when it fails.
program:
	@mkdir -p $(BUILD)
	@{ test -f $(BUILD)/CMakeCache.txt || \
		cmake -S . -B $(BUILD) -DIPOIB_GUIDMASK_TESTS=OFF $(CMAKE_FLAGS); } \
		> $(BUILD)/program-build.log 2>&1 && \
	cmake --build $(BUILD) -j2 --target ipoib-guidmask ipoib-guidmask-audit \
		>> $(BUILD)/program-build.log 2>&1 || \
		{ cat $(BUILD)/program-build.log; exit 1; }

# Every test, the Wine leg included where mingw-w64 and Wine are installed, on both cores:
# the tests that must not overlap hold resource locks (tests/CMakeLists.txt).
test: build
	cd $(BUILD) && ctest --output-on-failure --progress -j2

# The Wine leg alone: the end-to-end cases and checks of the Windows program under Wine.
test-windows: build
	cd $(BUILD) && ctest --output-on-failure --progress -L wine

run: program
	IPOIB_GUIDMASK_REGISTRY=$(STORE) $(BUILD)/ipoib-guidmask

# The programs in $(DESTDIR)$(PREFIX)/bin, their manual pages in $(DESTDIR)$(PREFIX)/share/man/man8.
install: program
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# $(DIST)/: the Windows program's zip, the source tarball and SHA256SUMS, named by version.
dist: windows
	./packaging/make_dist.sh $(WINDOWS_BUILD) $(DIST)

sanitize:
	cmake -S . -B build-sanitize -DIPOIB_GUIDMASK_SANITIZE=ON -DIPOIB_GUIDMASK_WINE_TESTS=OFF \
		$(CMAKE_FLAGS)
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
	python3 bench/audit_benchmark.py --program $(BUILD)/ipoib-guidmask \
		--audit $(BUILD)/ipoib-guidmask-audit

windows: $(WINDOWS_BUILD)/CMakeCache.txt
	cmake --build $(WINDOWS_BUILD) -j2

$(WINDOWS_BUILD)/CMakeCache.txt:
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD) build-sanitize build-fuzz $(DIST)
