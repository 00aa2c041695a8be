#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# in build/fuzz and runs each for SECONDS (default 60), starting from the
# committed seed corpus in tests/fuzz/corpus/<target>/. Fails on any crash,
# sanitizer report, leak, hang (an input running over 10 s) or an input using
# over 2 GB. Prints the executions of each target; a failing target's log and
# the input that broke it stay in build/fuzz/findings/<target>/.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/setup.sh

build=build/fuzz
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNEL_FUZZ=ON -DVARNEL_BUILD_UI=OFF -DVARNEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_targets -j "$(nproc)"

targets=(decode_binary_fuzz peak_shape_fuzz annotated_reader_fuzz aligned_queries_fuzz import_fuzz)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_target() {
  local t=$1
  local work=$build/corpus/$t findings=$build/findings/$t
  rm -rf "$findings"
  mkdir -p "$work" "$findings"
  local dict=()
  case $t in annotated_reader_fuzz | aligned_queries_fuzz) dict=(-dict=tests/fuzz/sqlite.dict) ;; esac
  # New inputs go to the work corpus; the committed seeds are only read.
  "$build/tests/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "${dict[@]}" \
    "$work" "tests/fuzz/corpus/$t" >"$findings/log" 2>&1
}

# One target per core at a time; every target runs for the same time.
failed=0
cores=$(nproc)
for ((i = 0; i < ${#targets[@]}; i += cores)); do
  batch=("${targets[@]:i:cores}")
  pids=()
  for t in "${batch[@]}"; do
    run_target "$t" &
    pids+=($!)
  done
  for j in "${!batch[@]}"; do
    t=${batch[$j]}
    if wait "${pids[$j]}"; then status=ok; else status=FAILED; failed=1; fi
    log=$build/findings/$t/log
    execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    printf '%-24s %10s executions in %s s  %s\n' "$t" "$execs" "$seconds" "$status"
    if [ "$status" = FAILED ]; then
      grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -20 >&2 || true
    else
      rm -rf "$build/findings/$t"
    fi
  done
done
exit "$failed"
