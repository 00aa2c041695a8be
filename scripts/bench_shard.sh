#!/usr/bin/env bash
# The alignment in shards against one run: a simulated study of SAMPLES x
# COMPOUNDS (default 400 x 10000, about 10M peaks) aligned once by
# varnel-align and once through workflow/Snakefile in SHARDS shards (default
# 8) with `snakemake --cores 2`.
#
#   bash scripts/bench_shard.sh [SAMPLES] [COMPOUNDS] [SHARDS]
#   VARNEL_SHARD_SLURM=1 bash scripts/bench_shard.sh ...   # the workflow through the
#                                                          # one-node Slurm of slurm_local.sh (root)
#
# Prints the single run's wall time and peak RSS, the workflow's wall time,
# per step (scan, plan, split, shard, merge) the jobs, their summed and longest
# wall time and the largest peak RSS of a job (with --pick scored or --join-splits
# in the options also the first round: deviations, spreads), the ratios the targets speak of
# (workflow wall / single wall, largest job RSS / single RSS), and whether the
# two results are the same (CSV bytes, and SQLite's .sha3sum of the database).
# The study is simulated once and cached under VARNEL_SCALE_DATA (default
# /tmp/varnel-scale, shared with bench_scale.sh). Mind the disk: about 2 KB of
# inputs per peak, and the workflow writes its parts, its shards and the
# result (about 6 KB per peak at its fullest; the single run's result is
# removed before the workflow starts). VARNEL_SHARD_OPTIONS: alignment options
# (default "--mode fast"); VARNEL_SHARD_BATCH: inputs per scan and split job
# (default 50); VARNEL_SHARD_DROP_PARTS=true: each shard's parts removed once it is
# aligned (the 10M study then fits in about 60 GB, inputs included).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

samples=${1:-400}
compounds=${2:-10000}
shards=${3:-8}
options=${VARNEL_SHARD_OPTIONS:---mode fast}
batch=${VARNEL_SHARD_BATCH:-50}
source scripts/bench_common.sh
bench_build varnel-align varnel-merge varnel-simulate
bench_study "$samples" "$compounds"
work=$(mktemp -d "${data%/*}/shard.XXXXXX")
trap 'rm -rf "$work"' EXIT
name=aligned_annotated_grouped_chromatograph_peaklist
cat "${dbs[@]}" >/dev/null  # inputs in the page cache, as after the simulation

echo "== One run: varnel-align $options (${#dbs[@]} inputs) =="
# shellcheck disable=SC2086
/usr/bin/time -f "%e %M" -o "$work/single.time" \
  "$bin/varnel-align" --quiet $options --result-dir "$work/single" "${dbs[@]}" >"$work/single.out"
read -r single_wall single_rss <"$work/single.time"
grep '^peaks:' "$work/single.out"
single_csv=$(md5sum <"$work/single/$name.csv")
single_db=$(sqlite3 "$work/single/$name.aligndb" .sha3sum)
rm -rf "$work/single"
printf 'wall %.1f s, peak RSS %.0f MB\n' "$single_wall" "$(echo "$single_rss / 1024" | bc -l)"

mkdir -p "$work/flow"
cat >"$work/flow/config.yaml" <<END
study: $data
options: "$options"
shards: $shards
batch: $batch
bin: $bin
time_log: $work/flow/steps.txt
drop_parts: ${VARNEL_SHARD_DROP_PARTS:-false}
END
cd "$work/flow"
cat "${dbs[@]}" >/dev/null
snakemake=(snakemake --snakefile "$source_dir/workflow/Snakefile" --configfile config.yaml -q)
if [ "${VARNEL_SHARD_SLURM:-0}" = 1 ]; then
  echo "== The workflow through a one-node Slurm ($shards shards) =="
  start=$(date +%s.%N)
  bash "$source_dir/scripts/slurm_local.sh" run "${snakemake[@]}" --jobs 100 \
    --cluster "sbatch --partition=local --cpus-per-task=1 --mem=4G --output=slurm-%j.out" \
    >flow.log 2>&1 || { tail -30 flow.log; exit 1; }
else
  echo "== The workflow: snakemake --cores 2 ($shards shards) =="
  start=$(date +%s.%N)
  "${snakemake[@]}" --cores 2 >flow.log 2>&1 || { tail -30 flow.log; exit 1; }
fi
flow_wall=$(echo "$(date +%s.%N) - $start" | bc -l)
printf 'wall %.1f s\n' "$flow_wall"
awk '{ n[$1]++; sum[$1] += $2; if ($2 > top[$1]) top[$1] = $2; if ($3 > rss[$1]) rss[$1] = $3 }
     END { printf "%-6s %5s %10s %10s %12s\n", "step", "jobs", "sum s", "longest s", "peak RSS MB"
           split("scan plan split deviations spreads shard merge", order, " ")
           for (i = 1; i <= 7; i++) { s = order[i]; if (!(s in n)) continue
             printf "%-6s %5d %10.1f %10.1f %12.0f\n", s, n[s], sum[s], top[s], rss[s] / 1024 } }' \
  steps.txt
largest=$(awk '$3 > m { m = $3 } END { print m }' steps.txt)
printf 'workflow wall / single wall: %.2f (target <= 3)\n' "$(echo "$flow_wall / $single_wall" | bc -l)"
printf 'largest job RSS / single RSS: %.2f (target <= 0.25)\n' \
  "$(echo "$largest / $single_rss" | bc -l)"
if [ "$(md5sum <"result/$name.csv")" = "$single_csv" ] &&
  [ "$(sqlite3 "result/$name.aligndb" .sha3sum)" = "$single_db" ]; then
  echo "result: the same as the single run's (CSV bytes, database contents)"
else
  echo "result: DIFFERENT from the single run's"
  exit 1
fi
