#!/usr/bin/env bash
# Builds Varnel twice and runs the whole test suite on each build:
#   build/asan     Debug with AddressSanitizer + UndefinedBehaviorSanitizer
#   build/release  Release
# Then runs each fuzz target for a bounded time (VARNEL_FUZZ_SECONDS, default 60;
# 0 skips fuzzing). Any failure fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DVARNEL_BUILD_BENCH=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
export QT_QPA_PLATFORM=offscreen

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON
echo "== Release build =="
run_suite build/release -DCMAKE_BUILD_TYPE=Release

if [ -x scripts/fuzz.sh ] && [ "${VARNEL_FUZZ_SECONDS:-60}" != 0 ]; then
  echo "== Fuzzing =="
  bash scripts/fuzz.sh "${VARNEL_FUZZ_SECONDS:-60}"
fi
echo "All tests passed."
