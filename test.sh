#!/usr/bin/env bash
# Builds and runs every test: the fuzz targets briefly (when clang is there), the
# normal build, then the sanitizer build, whose CTest summary closes the output.
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

exit "$status"
