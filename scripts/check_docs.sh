#!/usr/bin/env bash
# Checks that the manual's commands run as written after the demo:
#   1. bash scripts/demo.sh (skipped with VARNEL_CHECK_DOCS_NO_DEMO=1 when demo/ is there)
#   2. every "$ " line of README.md's console blocks, in order, in one shell
#      from the repository's top folder (so `export PATH=...` carries on)
#   3. every command of the sh blocks of docs/*.md, but for those the rule
#      below skips (Slurm, root, long runs, the window), each skip named
#   4. the snakemake command of docs/workflow.md as written, and its result
#      against one varnel-align run with the config's options
# Any failing command fails the script and is named.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "${VARNEL_CHECK_DOCS_NO_DEMO:-0}" != 1 ] || [ ! -d demo ]; then
  VARNEL_DEMO_NO_WINDOW=${VARNEL_DEMO_NO_WINDOW:-1} bash scripts/demo.sh >/dev/null
  bash scripts/build.sh --target varnel-import varnel-export varnel-report varnel-merge >/dev/null
fi

untracked_before=$(git status --porcelain --untracked-files=all | grep '^??' || true)

# The console blocks' commands: lines starting with "$ " inside ```console fences.
commands=$(awk '/^```console/ { inside = 1; next } /^```/ { inside = 0 } inside && /^\$ / { print substr($0, 3) }' README.md)
[ -n "$commands" ] || { echo "check_docs: README.md has no console commands" >&2; exit 1; }
echo "== README.md: $(printf '%s\n' "$commands" | wc -l) commands =="
script=$(mktemp)
trap 'rm -f "$script"' EXIT
{
  echo 'set -euo pipefail'
  echo 'trap '"'"'echo "check_docs: README.md command failed: $BASH_COMMAND" >&2'"'"' ERR'
  printf '%s\n' "$commands"
} >"$script"
(cd "$root" && bash "$script" >/dev/null)

# The commands of the sh blocks of docs/*.md (a line ending in "\" or inside
# a quote goes on on the next), each in its own shell from the top folder, except those the
# rule below skips, each named with its reason:
#   Slurm:     --cluster, sbatch, scripts/slurm_local.sh (needs a Slurm cluster)
#   root:      scripts/setup.sh (installs Debian packages)
#   long:      benchmarks (bench/, scripts/bench_*), the full build and ctest
#   window:    the window itself (xvfb-run ... app/varnel)
#   workflow:  snakemake --cores (checked below against one varnel-align run)
doc_skip_reason() {
  case "$1" in
    *--cluster* | *sbatch* | *slurm_local.sh*) echo Slurm ;;
    *scripts/setup.sh*) echo root ;;
    *bench/* | *scripts/bench_* | "bash scripts/build.sh" | "cmake --build"* | *ctest*) echo long ;;
    *app/varnel\ * | *app/varnel) echo window ;;
    "snakemake --cores"*) echo workflow ;;
    *) echo ;;
  esac
}
doc_checked=0
doc_skipped=0
for doc in docs/*.md; do
  while IFS= read -r command; do
    [ -n "$command" ] || continue
    command=${command//$'\037'/$'\n'}  # a quote's line breaks, as written
    reason=$(doc_skip_reason "$command")
    if [ -n "$reason" ]; then
      echo "   skipped ($reason): $doc: $command"
      doc_skipped=$((doc_skipped + 1))
      continue
    fi
    (cd "$root" && bash -c "set -euo pipefail; $command" </dev/null >/dev/null) ||
      { echo "check_docs: $doc: command failed: $command" >&2; exit 1; }
    doc_checked=$((doc_checked + 1))
  done < <(awk '/^```sh/ { inside = 1; next }
               /^```/ { inside = 0 }
               inside {
                 line = pending $0
                 if (line ~ /\\$/) { sub(/\\$/, "", line); pending = line; next }
                 quotes = line
                 if (gsub(/\047/, "", quotes) % 2 == 1) { pending = line "\037"; next }
                 print line; pending = ""
               }' "$doc")
done
echo "== docs/*.md: $doc_checked commands ran, $doc_skipped skipped by the rule above =="

# The workflow command, taken from the first sh block of docs/workflow.md that runs snakemake --cores.
workflow=$(awk '/^```sh/ { inside = 1; next } /^```/ { inside = 0 } inside && /^snakemake --cores/ { print; exit }' docs/workflow.md)
[ -n "$workflow" ] || { echo "check_docs: docs/workflow.md has no snakemake --cores command" >&2; exit 1; }
echo "== docs/workflow.md: $workflow =="
rm -rf demo/workflow
(cd "$root" && bash -c "set -euo pipefail; $workflow -q" >/dev/null 2>&1) ||
  { echo "check_docs: the workflow command failed: $workflow" >&2; exit 1; }

# One run with the config's options into a folder of its own, compared with the merged result.
options=$(sed -n 's/^options: *"\(.*\)".*/\1/p' workflow/config.yaml)
single=demo/workflow/single
# shellcheck disable=SC2086
build/release/app/varnel-align $options --quiet --result-dir "$single" demo/*_annotated_grouped_chromatograph_peaklist.db >/dev/null
csv=aligned_annotated_grouped_chromatograph_peaklist.csv
cmp "$single/$csv" "demo/workflow/result/$csv" ||
  { echo "check_docs: the workflow's CSV differs from one varnel-align run's" >&2; exit 1; }
untracked_after=$(git status --porcelain --untracked-files=all | grep '^??' || true)
if [ "$untracked_after" != "$untracked_before" ]; then
  diff <(echo "$untracked_before") <(echo "$untracked_after") >&2 || true
  echo "check_docs: the commands left untracked files in the clone (above)" >&2
  exit 1
fi
echo "The manual's commands ran as written."
