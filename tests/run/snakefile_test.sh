#!/usr/bin/env bash
# The workflow end to end: a small simulated study through workflow/Snakefile
# with `snakemake --cores 2` (four shards, inputs in batches of two, deep
# mode with drift correction and the run's record) must give the result of one
# varnel-align run: the same CSV bytes and the same database at the SQL level.
# The shards' parts are dropped once aligned (drop_parts), as the large
# benchmark runs them.
# With EXTRA options (--pick scored --join-splits), the shards' first round
# (deviations, then the study's spreads) runs too.
# Usage: snakefile_test.sh SOURCE_DIR PROGRAM_DIR [EXTRA]
set -euo pipefail
source_dir=$1
bin=$2
extra=${3:-}
if ! command -v snakemake >/dev/null; then
  echo "snakemake is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$bin/varnel-simulate" --samples 5 --compounds 200 --seed 7 --drift 20 study >/dev/null
options="--mode deep --mass-tol 0.02 --rt-correction --record-run $extra"
cat >config.yaml <<END
study: $work/study
options: "$options"
shards: 4
batch: 2
bin: $bin
drop_parts: true
END
snakemake --cores 2 --snakefile "$source_dir/workflow/Snakefile" --configfile config.yaml -q \
  >snakemake.log 2>&1 || { cat snakemake.log >&2; exit 1; }
# shellcheck disable=SC2086
"$bin/varnel-align" --quiet $options --result-dir single "$work"/study/*.db >/dev/null
name=aligned_annotated_grouped_chromatograph_peaklist
cmp single/$name.csv result/$name.csv
dump() {
  for table in $(sqlite3 "$1" "select name from sqlite_master where type = 'table' order by name"); do
    sqlite3 "$1" "select * from \"$table\" order by rowid"
  done
  sqlite3 "$1" "select type, name, tbl_name, sql from sqlite_master order by name"
}
cmp <(dump single/$name.aligndb) <(dump result/$name.aligndb)
test "$(ls work | grep -c '^shard-')" -eq 4
test -z "$(ls work/parts | grep '^shard-' || true)"
if [ -n "$extra" ]; then
  test "$(ls work/deviations | grep -c '\.deviations$')" -eq 4
  test -s work/spreads.json
  test -n "$(sqlite3 result/$name.aligndb "select Value from Align_Member_Choice where Item = 'pick'")"
fi
echo "the workflow's result is the single run's"
