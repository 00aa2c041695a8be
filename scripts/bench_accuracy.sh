#!/usr/bin/env bash
# Accuracy figures of the alignment on simulated studies, and the cost of the
# retention-time correction. Prints, with a PASS/FAIL beside each target:
#   1. three simulated studies of 20 samples x 2000 compounds (--drift 30,
#      --rt-bend 40, --rt-trend 20): peak-level F1 at the defaults (0.1 Da,
#      20 s) without the correction (reported), with it, and with it and the
#      estimate's options (targets >= 0.99); then, when the glycomics set is
#      at VARNEL_GLYCOMICS (default /work/data/glycomics-g1), its F1 over
#      curated peaks with the correction (>= 0.68) and with the estimate's
#      options too (>= 0.70), and each as the mean over nine fast windows
#      from 0.9 to 1.1 x its own (a single window's figure is noisy there);
#   1c. a study with a run of another kind (--foreign-runs 1 --foreign-share
#      0.01, --rt-trend 10): it holds the most compounds but 1 % of the
#      study's, so a gross shift taken against it is chance; F1 with the
#      correction at the defaults and with the estimate's options (targets
#      >= 0.99; 0.758 / 0.882 when the gross shift trusted that reference);
#   2. the tolerance estimate against the spreads the simulator measured, on
#      three studies: that one, a dense one (20000 compounds, 1 ppm) and one
#      whose times scatter by 20 s (target: every spread within +/- 30 %);
#   4. the member choice (--pick scored --join-splits) beside the closest-in-
#      time rule on every study above and two more (a case/control study with
#      10-100x folds and group-only isomers, a dilution series), the dense
#      study >= 0.994, glycomics >= 0.80 / >= 0.82 (defaults / the estimate's
#      options);
#   3. on 50 samples x 25k peaks (1.25M peaks, --drift 30): the correction's time
#      (fit + aligning on corrected times - aligning as read) over the time to
#      read and align the study (target <= 20 %; writing the result, which a
#      run also does, is left out, so the true share is smaller).
# Studies are simulated once into VARNEL_ACCURACY_DATA (default
# /tmp/varnel-accuracy). VARNEL_ACCURACY_BUILD (default build/rel) is the
# Release build tree used.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VARNEL_ACCURACY_BUILD:-build/rel}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_UI=OFF >/dev/null
cmake --build "$build" --target varnel-simulate bench_accuracy >/dev/null
simulate=$build/app/varnel-simulate
accuracy=$build/bench/accuracy/bench_accuracy
data=${VARNEL_ACCURACY_DATA:-/tmp/varnel-accuracy}
mkdir -p "$data"

# study NAME ARGS...: simulates once into $data/NAME, prints the folder
study() {
  local name=$1
  shift
  if [ ! -f "$data/$name/.complete" ]; then
    rm -rf "${data:?}/$name"
    "$simulate" --quiet "$@" "$data/$name" >/dev/null
    touch "$data/$name/.complete"
  fi
  echo "$data/$name"
}
verdict() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { print (v >= lo && v <= hi) ? "PASS" : "FAIL" }'; }
peak_f1() { awk '$1 == "peak" { print $8 }'; }

echo "== 1. F1 on simulated drifts (target >= 0.99 with the correction, at the defaults and with the estimate's options) =="
drift=$(study drift30 --samples 20 --compounds 2000 --drift 30 --seed 1)
bend=$(study bend40 --samples 20 --compounds 2000 --rt-bend 40 --seed 4)
trend=$(study trend20 --samples 20 --compounds 2000 --rt-trend 20 --seed 5)
for folder in "$drift" "$bend" "$trend"; do
  plain=$("$accuracy" "$folder" | peak_f1)
  corrected=$("$accuracy" "$folder" --rt-correction | peak_f1)
  options=$("$accuracy" "$folder" --estimate --rt-correction | grep -- '^--mass-tol')
  # shellcheck disable=SC2086
  estimated=$("$accuracy" "$folder" --rt-correction $options | peak_f1)
  echo "-- $(basename "$folder"): defaults $plain; --rt-correction $corrected $(verdict "$corrected" 0.99 1); with $options: $estimated $(verdict "$estimated" 0.99 1)"
done

glycomics=${VARNEL_GLYCOMICS:-/work/data/glycomics-g1}
if [ -f "$glycomics/ground_truth.csv" ]; then
  echo
  echo "== 1b. Glycomics (23 real runs), pairwise F1 over curated peaks =="
  plain=$("$accuracy" "$glycomics" --curated-only | peak_f1)
  corrected=$("$accuracy" "$glycomics" --curated-only --rt-correction | peak_f1)
  options=$("$accuracy" "$glycomics" --estimate --rt-correction | grep -- '^--mass-tol')
  # shellcheck disable=SC2086
  estimated=$("$accuracy" "$glycomics" --curated-only --rt-correction $options | peak_f1)
  echo "defaults $plain; --rt-correction $corrected (target >= 0.68) $(verdict "$corrected" 0.68 1)"
  echo "with $options: $estimated (target >= 0.70; a peer's best 0.736) $(verdict "$estimated" 0.70 1)"
  # F1 on this set swings by +/-0.015 between fast windows 0.5 s apart (a
  # compound of 23 runs split or joined moves ~250 pairs): the mean over nine
  # windows from 0.9 to 1.1 x each one is the steadier figure.
  band() {
    local mass=$1 window=$2 sum=0 k f
    for k in 0.9 0.925 0.95 0.975 1 1.025 1.05 1.075 1.1; do
      f=$("$accuracy" "$glycomics" --curated-only --rt-correction --mass-tol "$mass" \
        --fast-window "$(awk -v w="$window" -v k="$k" 'BEGIN { print w * k }')" | peak_f1)
      sum=$(awk -v s="$sum" -v f="$f" 'BEGIN { print s + f }')
    done
    awk -v s="$sum" 'BEGIN { printf "%.4f", s / 9 }'
  }
  echo "mean over 0.9-1.1 x the fast window: --rt-correction $(band 0.1 20); with the estimate's options $(band "$(echo "$options" | awk '{ print $2 }')" "$(echo "$options" | awk '{ print $4 }')")"
fi

echo
echo "== 1c. A foreign run that holds the most compounds (the gross shift's reference by count) =="
foreign=$(study foreign --samples 20 --compounds 2000 --rt-trend 10 --foreign-runs 1 \
  --foreign-share 0.01 --seed 8)
corrected=$("$accuracy" "$foreign" --rt-correction | peak_f1)
options=$("$accuracy" "$foreign" --estimate --rt-correction | grep -- '^--mass-tol')
# shellcheck disable=SC2086
estimated=$("$accuracy" "$foreign" --rt-correction $options | peak_f1)
echo "--rt-correction $corrected $(verdict "$corrected" 0.99 1); with $options: $estimated $(verdict "$estimated" 0.99 1)"

echo
echo "== 2. Tolerance estimate against the simulated spreads =="
dense=$(study dense --samples 20 --compounds 20000 --mass-error 1 --seed 2)
scatter=$(study scatter20 --samples 20 --compounds 2000 --rt-scatter 20 --seed 3)
for folder in "$drift" "$dense" "$scatter"; do
  echo "-- $(basename "$folder")"
  "$accuracy" "$folder" --estimate --rt-correction | tail -n 9 | while IFS= read -r line; do
    case $line in
      *ratio*)
        ratio=${line##* }
        echo "$line  $(verdict "$ratio" 0.7 1.3)"
        ;;
      *) echo "$line" ;;
    esac
  done
done

echo
echo "== 4. Member choice: closest in time against --pick scored --join-splits (with --rt-correction) =="
# Each study at the defaults and with the estimate's options; the scored rule
# with joined splits must not fall below the closest-in-time rule (4 decimals).
case_control=$(study casecontrol --samples 20 --compounds 2000 --drift 30 --case-control --seed 6)
dilution=$(study dilution --samples 20 --compounds 2000 --drift 30 --dilution --seed 7)
choice() {  # choice FOLDER [--curated-only] [TARGET_DEFAULTS TARGET_OPTIONS]
  local folder=$1 curated=${2:-} lo1=${3:-0} lo2=${4:-0} options a b c d
  options=$("$accuracy" "$folder" --estimate --rt-correction | grep -- '^--mass-tol')
  a=$("$accuracy" "$folder" $curated --rt-correction | peak_f1)
  b=$("$accuracy" "$folder" $curated --rt-correction --pick scored --join-splits | peak_f1)
  # shellcheck disable=SC2086
  c=$("$accuracy" "$folder" $curated --rt-correction $options | peak_f1)
  # shellcheck disable=SC2086
  d=$("$accuracy" "$folder" $curated --rt-correction $options --pick scored --join-splits | peak_f1)
  lo1=$(awk -v a="$a" -v t="$lo1" 'BEGIN { print (a > t) ? a : t }')
  lo2=$(awk -v a="$c" -v t="$lo2" 'BEGIN { print (a > t) ? a : t }')
  echo "-- $(basename "$folder"): defaults closest $a, scored $b $(verdict "$b" "$lo1" 1); with $options: closest $c, scored $d $(verdict "$d" "$lo2" 1)"
}
for folder in "$drift" "$bend" "$trend" "$scatter" "$case_control" "$dilution" "$foreign"; do
  choice "$folder"
done
choice "$dense" "" 0 0.994
if [ -f "$glycomics/ground_truth.csv" ]; then choice "$glycomics" --curated-only 0.80 0.82; fi

echo
echo "== 3. Cost of the correction on 1.25M peaks (50 samples x 25k peaks, --drift 30) =="
big=$(study big125 --samples 50 --peaks-per-sample 25000 --drift 30 --seed 50)
cat "$big"/*.db >/dev/null  # warm the page cache
without=$("$accuracy" "$big")
with=$("$accuracy" "$big" --rt-correction)
read_s=$(echo "$without" | awk '/read in/ { print $(NF - 1) }')
align_s=$(echo "$without" | awk '/^seconds:/ { print $NF }')
fit_s=$(echo "$with" | awk '/^seconds:/ { gsub(",", "", $4); print $4 }')
align_corrected_s=$(echo "$with" | awk '/^seconds:/ { print $NF }')
share=$(awk -v r="$read_s" -v a="$align_s" -v f="$fit_s" -v c="$align_corrected_s" \
  'BEGIN { printf "%.3f", (f + c - a) / (r + a) }')
echo "read $read_s s, align $align_s s; correction fit $fit_s s, align on corrected times $align_corrected_s s"
echo "peak-level F1 without / with correction: $(echo "$without" | peak_f1) / $(echo "$with" | peak_f1)"
echo "correction's share of read + align: $share  $(verdict "$share" -1 0.2)"
