# shellcheck shell=bash
# What bench_scale.sh and bench_shard.sh share; sourced from the source folder.
#
#   bench_build TARGET...           runs scripts/setup.sh, configures the Release build
#                                   in VARNEL_SCALE_BUILD (default build/release), builds
#                                   the targets quietly; sets build and bin (its app/)
#   bench_study SAMPLES COMPOUNDS   simulates SAMPLES x COMPOUNDS (seed 7) once into
#                                   VARNEL_SCALE_DATA (default /tmp/varnel-scale)
#                                   /sSAMPLESxCOMPOUNDS, kept for the next run once
#                                   complete; sets data and dbs (its inputs)
# shellcheck disable=SC2034  # build and dbs are for the script that sources this

bench_build() {
  build=${VARNEL_SCALE_BUILD:-build/release}
  bash scripts/setup.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j "$(nproc)" --target "$@" >/dev/null
  bin=$(cd "$build" && pwd)/app
}

bench_study() {
  data=${VARNEL_SCALE_DATA:-/tmp/varnel-scale}/s$1x$2
  if [ ! -f "$data/.complete" ]; then
    echo "== Simulating $1 samples x $2 compounds into $data (once) =="
    rm -rf "$data"
    "$bin/varnel-simulate" --quiet --samples "$1" --compounds "$2" --seed 7 "$data"
    touch "$data/.complete"
  fi
  dbs=("$data"/*_annotated_grouped_chromatograph_peaklist.db)
}
