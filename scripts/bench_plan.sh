#!/usr/bin/env bash
# The plan of a large study from its scans: SAMPLES small simulated samples
# (default 20000 x 50 compounds) scanned in batches of 500, then
# `varnel-align --plan` over the scan files, without and with the drift
# correction. Prints the plan's wall time and peak RSS for each (the targets:
# at most 1 min and 1 GB), and the scans' total size.
#
#   bash scripts/bench_plan.sh [SAMPLES] [COMPOUNDS]
#
# The study and its scans are made once and cached under VARNEL_SCALE_DATA
# (default /tmp/varnel-scale).
set -euo pipefail
cd "$(dirname "$0")/.."

samples=${1:-20000}
compounds=${2:-50}
build=${VARNEL_SCALE_BUILD:-build/release}
bash scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target varnel-align varnel-simulate >/dev/null
bin=$(cd "$build" && pwd)/app

data=${VARNEL_SCALE_DATA:-/tmp/varnel-scale}/plan${samples}x${compounds}
if [ ! -f "$data/.complete" ]; then
  echo "== Simulating $samples samples x $compounds compounds and scanning them (once) =="
  rm -rf "$data"
  "$bin/varnel-simulate" --quiet --samples "$samples" --compounds "$compounds" --seed 7 "$data/study"
  mkdir -p "$data/scans"
  find "$data/study" -name '*_annotated_grouped_chromatograph_peaklist.db' | sort |
    split -l 500 -d -a 4 - "$data/scans/list."
  for list in "$data"/scans/list.*; do
    mapfile -t batch <"$list"
    "$bin/varnel-align" --scan "$list.json" --rt-correction "${batch[@]}" >/dev/null
  done
  touch "$data/.complete"
fi
scans=("$data"/scans/list.*.json)
echo "scan files: ${#scans[@]}, $(du -ch "${scans[@]}" | tail -1 | cut -f1) in all"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for correction in "" --rt-correction; do
  /usr/bin/time -f "%e %M" -o "$work/time" \
    "$bin/varnel-align" --plan "$work/plan" --shards 64 $correction "${scans[@]}" >"$work/out"
  read -r wall rss <"$work/time"
  printf 'plan of %s inputs%s: %.1f s, peak RSS %.0f MB, %s\n' "$samples" \
    "${correction:+ with the drift correction}" "$wall" "$(echo "$rss / 1024" | bc -l)" \
    "$(grep '^shards:' "$work/out")"
  rm -rf "$work/plan"
done
