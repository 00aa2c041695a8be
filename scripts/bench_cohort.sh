#!/usr/bin/env bash
# A cohort on one machine: a simulated study of SAMPLES samples of about
# PEAKS peaks each (default 4063 x 5555, about 22.6M peaks) with a smooth
# retention-time drift, aligned by one varnel-align run without and with
# --rt-correction, then through workflow/Snakefile in SHARDS shards (default
# 8, `snakemake --cores 2`, with the correction) against the corrected run.
#
#   bash scripts/bench_cohort.sh [SAMPLES] [PEAKS] [SHARDS]
#   bash scripts/bench_cohort.sh 200            # a small try: 200 x 5555, 1.1M peaks
#
# Prints, per run, wall, CPU (user and system), peak RSS, the bytes written
# (the two result files, and the process's write_bytes), and the disk's floor
# in the same session: `dd oflag=direct` of the same number of bytes (4 MiB
# blocks, then fsync), and the ratio run wall / dd wall; for the workflow its
# wall and per step the jobs, summed and longest wall and largest RSS, and
# whether its result is the corrected run's (CSV bytes, SQLite's .sha3sum).
#
# Shapes are shortened to VARNEL_COHORT_SHAPE_POINTS points (default 5,
# `varnel-simulate --shape-points`): about 360 bytes of inputs a peak instead
# of 2 KB, so the 22.6M study takes about 8 GB. The script checks the free
# space first (inputs, one result and the workflow's parts and shards, about
# 1.6 KB a peak at 5 points) and refuses when it is short. The study is
# simulated into VARNEL_COHORT_DATA (default /tmp/varnel-cohort) and removed
# at the end, results included; VARNEL_COHORT_KEEP=1 keeps the study for the
# next run. VARNEL_COHORT_DRIFT: the largest drift, seconds (default 20).
# VARNEL_COHORT_FLOW=0 skips the workflow.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

samples=${1:-4063}
peaks_per_sample=${2:-5555}
shards=${3:-8}
shape_points=${VARNEL_COHORT_SHAPE_POINTS:-5}
drift=${VARNEL_COHORT_DRIFT:-20}
keep=${VARNEL_COHORT_KEEP:-0}
flow=${VARNEL_COHORT_FLOW:-1}
root=${VARNEL_COHORT_DATA:-/tmp/varnel-cohort}
source scripts/bench_common.sh

mkdir -p "$root"
# Bytes a peak at its fullest: inputs, a result, and the workflow's parts,
# shards and result beside them (parts dropped as the shards are aligned).
per_point=56
need=$(awk -v n="$samples" -v p="$peaks_per_sample" -v s="$shape_points" -v k="$per_point" \
  'BEGIN { printf "%.0f", n * p * (4.5 * (150 + s * k)) }')
free=$(df -B1 --output=avail "$root" | tail -1)
df -h "$root" | tail -1
if [ "$free" -lt "$need" ]; then
  printf 'bench_cohort: %s holds %.1f GB free, the run needs about %.1f GB\n' "$root" \
    "$(echo "$free / 1e9" | bc -l)" "$(echo "$need / 1e9" | bc -l)" >&2
  exit 1
fi

bench_build varnel-align varnel-merge varnel-simulate
data=$root/s${samples}x${peaks_per_sample}p${shape_points}
work=$(mktemp -d "$root/run.XXXXXX")
cleanup() {
  rm -rf "$work"
  [ "$keep" = 1 ] || rm -rf "$data"
}
trap cleanup EXIT
if [ ! -f "$data/.complete" ]; then
  echo "== Simulating $samples samples x about $peaks_per_sample peaks ($shape_points-point shapes, drift $drift s) =="
  rm -rf "$data"
  /usr/bin/time -f "simulated in %e s" "$bin/varnel-simulate" --quiet --samples "$samples" \
    --peaks-per-sample "$peaks_per_sample" --drift "$drift" --shape-points "$shape_points" \
    --seed 7 "$data" | grep '^peaks:'
  touch "$data/.complete"
fi
dbs=("$data"/*_annotated_grouped_chromatograph_peaklist.db)
printf 'inputs: %s files, %.1f GB\n' "${#dbs[@]}" \
  "$(du -sb "$data" | awk '{ print $1 / 1e9 }')"
name=aligned_annotated_grouped_chromatograph_peaklist
calc() { awk "BEGIN { print $1 }"; }

# direct_write BYTES: seconds dd takes to write BYTES past the page cache.
direct_write() {
  local blocks start
  blocks=$((($1 + 4194303) / 4194304))
  start=$(date +%s.%N)
  dd if=/dev/zero of="$work/dd.bin" bs=4M count="$blocks" oflag=direct conv=fsync status=none
  calc "$(date +%s.%N) - $start"
  rm -f "$work/dd.bin"
}

# measured LABEL OPTIONS...: one varnel-align run into $work/out, its
# figures printed; leaves the result's CSV md5 and database sha3 in $work/LABEL.sum.
measured() {
  local label=$1 report=$work/$1.time io=$work/$1.io
  shift
  cat "${dbs[@]}" >/dev/null  # inputs in the page cache, as after the simulation
  echo "== varnel-align $* (${#dbs[@]} inputs) =="
  # /proc/self/io of the shell after its child was waited for counts the child.
  /usr/bin/time -v -o "$report" bash -c '"$@" >/dev/null; status=$?; cat /proc/$$/io >"'"$io"'"; exit $status' \
    _ "$bin/varnel-align" --quiet "$@" --result-dir "$work/out" "${dbs[@]}"
  field() { awk -F': ' -v k="$1" '$1 ~ k { print $2 }' "$report"; }
  local wall user sys rss_kb peaks bytes write_bytes dd_wall
  wall=$(field 'Elapsed \(wall clock\)' | awk -F: '{ s = 0; for (i = 1; i <= NF; ++i) s = s * 60 + $i; print s }')
  user=$(field 'User time')
  sys=$(field 'System time')
  rss_kb=$(field 'Maximum resident set size')
  peaks=$(($(wc -l <"$work/out/$name.csv") - 1))
  bytes=$(stat -c %s "$work/out/$name".{csv,aligndb} | awk '{ s += $1 } END { printf "%.0f", s }')
  write_bytes=$(awk '/^write_bytes/ { w = $2 } /^cancelled_write_bytes/ { c = $2 } END { printf "%.0f", w - c }' "$io")
  if [ "$flow" = 1 ]; then
    echo "$(md5sum <"$work/out/$name.csv") $(sqlite3 "$work/out/$name.aligndb" .sha3sum)" >"$work/$label.sum"
  fi
  rm -rf "$work/out"
  dd_wall=$(direct_write "$bytes")
  printf 'peaks:          %s\n' "$peaks"
  printf 'wall:           %.1f s\n' "$wall"
  printf 'CPU:            user %.1f s, system %.1f s\n' "$user" "$sys"
  printf 'peak RSS:       %.0f MB (%.0f bytes per peak)\n' "$(calc "$rss_kb / 1024")" \
    "$(calc "$rss_kb * 1024 / $peaks")"
  printf 'result bytes:   %.2f GB (write_bytes of the run: %.2f GB)\n' \
    "$(calc "$bytes / 1e9")" "$(calc "$write_bytes / 1e9")"
  printf 'dd oflag=direct, same bytes: %.1f s (wall / dd %.2f)\n' "$dd_wall" "$(calc "$wall / $dd_wall")"
}

measured plain --mode fast
measured corrected --mode fast --rt-correction
[ "$flow" = 1 ] || exit 0

mkdir -p "$work/flow"
cat >"$work/flow/config.yaml" <<END
study: $data
options: "--mode fast --rt-correction"
shards: $shards
batch: ${VARNEL_COHORT_BATCH:-100}
bin: $bin
time_log: $work/flow/steps.txt
drop_parts: true
END
cd "$work/flow"
cat "${dbs[@]}" >/dev/null
echo "== The workflow with --rt-correction: snakemake --cores 2 ($shards shards) =="
start=$(date +%s.%N)
snakemake --snakefile "$source_dir/workflow/Snakefile" --configfile config.yaml -q --cores 2 \
  >flow.log 2>&1 || { tail -30 flow.log; exit 1; }
flow_wall=$(calc "$(date +%s.%N) - $start")
printf 'wall %.1f s\n' "$flow_wall"
awk '{ n[$1]++; sum[$1] += $2; if ($2 > top[$1]) top[$1] = $2; if ($3 > rss[$1]) rss[$1] = $3 }
     END { printf "%-6s %5s %10s %10s %12s\n", "step", "jobs", "sum s", "longest s", "peak RSS MB"
           split("scan plan split shard merge", order, " ")
           for (i = 1; i <= 5; i++) { s = order[i]
             printf "%-6s %5d %10.1f %10.1f %12.0f\n", s, n[s], sum[s], top[s], rss[s] / 1024 } }' \
  steps.txt
if [ "$(md5sum <"result/$name.csv") $(sqlite3 "result/$name.aligndb" .sha3sum)" = "$(cat "$work/corrected.sum")" ]; then
  echo "result: the same as the corrected run's (CSV bytes, database contents)"
else
  echo "result: DIFFERENT from the corrected run's"
  exit 1
fi
