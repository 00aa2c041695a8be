#!/usr/bin/env bash
# Cohort scale: one varnel-align run over a simulated study of SAMPLES x
# COMPOUNDS (default 50 x 10000, about 1.25M peaks), beside the disk's floor.
#
#   bash scripts/bench_scale.sh [SAMPLES] [COMPOUNDS]
#
# Prints wall, user and system time, peak RSS (and RSS per peak), the bytes
# written (the two result files; the process's write_bytes too), the time
# `dd ... conv=fsync` takes to write the same number of bytes in the same run,
# and the ratio run wall / dd wall. The study is simulated once and cached
# under VARNEL_SCALE_DATA (default /tmp/varnel-scale); mind the disk: about
# 2 KB of inputs and 1.7 KB of results per peak. VARNEL_SCALE_MODE (fast) and
# VARNEL_SCALE_OPTIONS (extra varnel-align options) shape the run.
# VARNEL_SCALE_WINDOW=1 starts the run from the window instead (offscreen,
# default settings: fast mode; the two options above do not apply), which
# writes its result to the "Result" folder beside the study.
set -euo pipefail
cd "$(dirname "$0")/.."

samples=${1:-50}
compounds=${2:-10000}
mode=${VARNEL_SCALE_MODE:-fast}
window=${VARNEL_SCALE_WINDOW:-0}
source scripts/bench_common.sh
targets=(varnel-align varnel-simulate)
[ "$window" = 1 ] && targets+=(bench_window_run)
bench_build "${targets[@]}"
bench_study "$samples" "$compounds"
result=$(mktemp -d "${data%/*}/result.XXXXXX")
out=$result/out
if [ "$window" = 1 ]; then
  out=$data/Result
  rm -rf "$out"
  trap 'rm -rf "$result" "$out"' EXIT
  command=("$(cd "$build" && pwd)/bench/ui/bench_window_run" "${dbs[@]}")
  mode="fast, from the window"
else
  trap 'rm -rf "$result"' EXIT
  command=("$bin/varnel-align" --quiet --mode "$mode" ${VARNEL_SCALE_OPTIONS:-} --result-dir "$out"
    "${dbs[@]}")
fi
cat "${dbs[@]}" >/dev/null  # inputs in the page cache, as after the simulation

report=$result/time.txt
io=$result/io.txt
# /proc/self/io of the shell after its child was waited for counts the child.
/usr/bin/time -v -o "$report" bash -c '"$@" >/dev/null; status=$?; cat /proc/$$/io >"'"$io"'"; exit $status' \
  _ "${command[@]}"

field() { awk -F': ' -v k="$1" '$1 ~ k { print $2 }' "$report"; }
wall=$(field 'Elapsed \(wall clock\)' | awk -F: '{ s = 0; for (i = 1; i <= NF; ++i) s = s * 60 + $i; print s }')
user=$(field 'User time')
sys=$(field 'System time')
rss_kb=$(field 'Maximum resident set size')
peaks=$(($(wc -l <"$out/aligned_annotated_grouped_chromatograph_peaklist.csv") - 1))
bytes=$(stat -c %s "$out"/aligned_annotated_grouped_chromatograph_peaklist.{csv,aligndb} |
  awk '{ s += $1 } END { printf "%.0f", s }')
write_bytes=$(awk '/^write_bytes/ { w = $2 } /^cancelled_write_bytes/ { c = $2 } END { printf "%.0f", w - c }' "$io")
rm -rf "$out"

mib=$(awk -v b="$bytes" 'BEGIN { printf "%.0f", (b + 1048575) / 1048576 }')
dd_start=$(date +%s.%N)
dd if=/dev/zero of="$result/dd.bin" bs=1M count="$mib" conv=fsync status=none
dd_wall=$(awk -v a="$dd_start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
rm -f "$result/dd.bin"

printf 'study:          %s samples x %s compounds, %s peaks, mode %s\n' "$samples" "$compounds" "$peaks" "$mode"
printf 'wall:           %.2f s\n' "$wall"
printf 'user:           %.2f s\n' "$user"
printf 'system:         %.2f s\n' "$sys"
calc() { awk "BEGIN { print $1 }"; }
printf 'peak RSS:       %.1f MB (%.0f bytes per peak)\n' "$(calc "$rss_kb / 1024")" \
  "$(calc "$rss_kb * 1024 / $peaks")"
printf 'result bytes:   %.1f MB (write_bytes of the run: %.1f MB)\n' \
  "$(calc "$bytes / 1048576")" "$(calc "$write_bytes / 1048576")"
printf 'dd, same bytes: %.2f s\n' "$dd_wall"
printf 'wall / dd:      %.2f\n' "$(calc "$wall / $dd_wall")"
