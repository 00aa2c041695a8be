#!/usr/bin/env bash
# Varnel's main job on an embedded default study: installs what is missing,
# builds the Release tree when needed, simulates a 12-sample study into demo/
# (fresh every time), aligns it with varnel-align and says where the results
# are and how to open them in the window.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

# Ninja rebuilds only what changed, so this is quick once the tree is built.
targets=(varnel-align varnel-simulate)
if [ "${VARNEL_DEMO_NO_WINDOW:-0}" != 1 ]; then targets+=(varnel); fi
echo "== Building ${targets[*]} (build/release) =="
bash scripts/build.sh --target "${targets[@]}"

bin=$root/build/release/app
demo=$root/demo
rm -rf "$demo"
echo "== Simulating a 12-sample study into demo/ =="
"$bin/varnel-simulate" --samples 12 --compounds 1500 --seed 2026 "$demo"

echo "== Aligning it (fast mode, mass tolerance 0.1 Da, window 20 s) =="
"$bin/varnel-align" --mode fast --mass-tol 0.1 --fast-window 20 "$demo"/*_annotated_grouped_chromatograph_peaklist.db

cat <<MSG

Done. The study and its results:
  annotated databases  $demo/sample_001 ... sample_012_annotated_grouped_chromatograph_peaklist.db
  ground truth         $demo/ground_truth.csv (sample, EIC_ID, Peak_ID, true compound)
  aligned CSV          $demo/Result/aligned_annotated_grouped_chromatograph_peaklist.csv
  aligned database     $demo/Result/aligned_annotated_grouped_chromatograph_peaklist.aligndb

To look at the alignment in the window:
  build/release/app/varnel
  then, on the Align_Visualization tab, open
  demo/Result/aligned_annotated_grouped_chromatograph_peaklist.aligndb
  and click a row to plot its alignment group across the samples.
MSG
