#!/usr/bin/env bash
# Builds and runs every test: the fuzz targets briefly (when clang is there), the
# normal build, the sanitizer build, then the Windows build under wine.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
q70_install_deps

jobs="$(nproc)"
status=0

if [ -x scripts/fuzz.sh ] && command -v clang++ >/dev/null; then
    echo "== Fuzz targets (bounded run)"
    scripts/fuzz.sh --seconds "${Q70_FUZZ_SECONDS:-20}" || status=1
fi

echo "== Normal build"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs" || status=1

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset asan -j "$jobs" || status=1

echo "== Windows build (mingw-w64), tests under wine"
# A fresh wine prefix each run; scripts/wine-run.sh creates it and keeps one wine server
# up for all the tests instead of one started per test program.
export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows -j "$jobs" || status=1
scripts/same_bitmap.sh build/default/bin build/windows/bin || status=1
wineserver -k || true

exit "$status"
