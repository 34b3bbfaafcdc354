#!/bin/sh
# The Windows leg of `make test`: builds the Windows program with mingw-w64 as it is released,
# checks its version resource and manifest, and runs every end-to-end case on it under Wine.
# Without the tools it says so in one line and passes.
set -eu
cd "$(dirname "$0")/../.."

missing=""
for tool in x86_64-w64-mingw32-g++ wine wineserver wineboot python3 wrestool; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
if [ -n "$missing" ]; then
    echo "Windows leg skipped: not installed:$missing (Debian: g++-mingw-w64-x86-64 wine wine64 icoutils)"
    exit 0
fi

make --no-print-directory windows WINDOWS_BUILD="${WINDOWS_BUILD:-build-windows}" >/dev/null
python3 tests/release/windows_release_test.py --program "${WINDOWS_BUILD:-build-windows}/ipoib-guidmask.exe"
python3 tests/e2e/run_cases_wine.py --program "${WINDOWS_BUILD:-build-windows}/ipoib-guidmask.exe" "$@"
