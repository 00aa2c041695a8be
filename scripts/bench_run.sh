#!/usr/bin/env bash
# The whole alignment run on 50 samples x 20k peaks (about 1M peaks), beside
# the raw SQLite floor (scan of the same databases + bulk insert of the same
# rows). Prints wall time and peak memory (/usr/bin/time -v) of both, the
# size of the run's gathered list, and the ratios:
#   run time / baseline time         target <= 2
#   run peak memory / list size      target <= 1.3
# The study is simulated once and cached (VARNEL_BENCH_DATA, default
# /tmp/varnel-bench-run-50x20k). VARNEL_BENCH_REPEAT (default 3) runs of
# each; medians are printed. VARNEL_BENCH_BUILD (default build/release) is the
# Release build tree used.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh
build=${VARNEL_BENCH_BUILD:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target varnel-align varnel-simulate bench_run_baseline

bin=$(cd "$build" && pwd)
data=${VARNEL_BENCH_DATA:-/tmp/varnel-bench-run-50x20k}
repeat=${VARNEL_BENCH_REPEAT:-3}
if [ ! -f "$data/.complete" ]; then
  echo "== Simulating 50 samples x 20k peaks into $data (once) =="
  rm -rf "$data"
  "$bin/app/varnel-simulate" --quiet --samples 50 --peaks-per-sample 20000 --seed 50 "$data"
  touch "$data/.complete"
fi
dbs=("$data"/*_annotated_grouped_chromatograph_peaklist.db)
work=$(mktemp -d /tmp/varnel-bench-run.XXXXXX)
trap 'rm -rf "$work"' EXIT
cat "${dbs[@]}" >/dev/null  # warm the page cache for both sides alike

# seconds and peak RSS in bytes from a /usr/bin/time -v report
wall() { awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0;
  for (i = 1; i <= n; ++i) s = s * 60 + t[i]; print s }' "$1"; }
rss() { awk -F': ' '/Maximum resident set size/ { print $2 * 1024 }' "$1"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

base_t=() base_m=() run_t=() run_m=()
for i in $(seq "$repeat"); do
  /usr/bin/time -v "$bin/bench/run/bench_run_baseline" "$work/baseline.aligndb" "${dbs[@]}" \
    >"$work/baseline.out" 2>"$work/baseline.time"
  base_t+=("$(wall "$work/baseline.time")") base_m+=("$(rss "$work/baseline.time")")
  rm -f "$work/baseline.aligndb"
  /usr/bin/time -v "$bin/app/varnel-align" --quiet --result-dir "$work/Result" "${dbs[@]}" \
    >"$work/run.out" 2>"$work/run.time"
  run_t+=("$(wall "$work/run.time")") run_m+=("$(rss "$work/run.time")")
  rm -rf "$work/Result"
  echo "run $i: baseline ${base_t[-1]} s, alignment run ${run_t[-1]} s"
done

rows=$(awk '/^rows:/ { print $2 }' "$work/baseline.out")
list=$(awk '/^list_bytes:/ { print $2 }' "$work/baseline.out")
scan=$(awk '/^scan_seconds:/ { print $2 }' "$work/baseline.out")
bt=$(printf '%s\n' "${base_t[@]}" | median); bm=$(printf '%s\n' "${base_m[@]}" | median)
rt=$(printf '%s\n' "${run_t[@]}" | median); rm_=$(printf '%s\n' "${run_m[@]}" | median)

echo
echo "study: ${#dbs[@]} samples, $rows peaks ($data)"
grep -E '^(groups|unaligned peaks):' "$work/run.out" | sed 's/^/alignment: /'
awk -v rows="$rows" -v list="$list" -v scan="$scan" -v bt="$bt" -v bm="$bm" -v rt="$rt" -v rm="$rm_" 'BEGIN {
  printf "gathered list:          %.1f MB (%.0f bytes per peak)\n", list / 1e6, list / rows
  printf "baseline (scan+insert): %.2f s (last scan part %.2f s), peak memory %.1f MB\n", bt, scan, bm / 1e6
  printf "whole run:              %.2f s, peak memory %.1f MB\n", rt, rm / 1e6
  printf "time ratio run/baseline:      %.2f (target <= 2)\n", rt / bt
  printf "memory ratio run/list size:   %.2f (target <= 1.3)\n", rm / list
}'
