#!/usr/bin/env bash
# Builds the screenshot programs (tools/screens/screens_*.cpp) and runs each of
# them, saving PNGs under build/screenshots/. Uses xvfb-run when it is
# installed, the offscreen platform otherwise (or when QT_QPA_PLATFORM is set).
#   BUILD_DIR   build tree to use (default build/screens)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build/screens}
out=$root/build/screenshots

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_BENCH=OFF >/dev/null
targets=()
for src in tools/screens/screens_*.cpp; do
  [ -e "$src" ] || continue
  targets+=("$(basename "$src" .cpp)")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "screenshots.sh: no screens_*.cpp programs" >&2
  exit 1
fi
cmake --build "$build" -j 2 --target "${targets[@]}"

mkdir -p "$out"
run() {
  if [ -z "${QT_QPA_PLATFORM:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
    xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
  else
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$@"
  fi
}
status=0
for target in "${targets[@]}"; do
  echo "== $target =="
  if ! run "$build/tools/screens/$target" "$out"; then
    echo "screenshots.sh: $target failed" >&2
    status=1
  fi
done
# The report page that screens_quality wrote, as a browser shows it.
page=$out/quality_report/index.html
if [ -f "$page" ]; then
  echo "== report page =="
  if command -v chromium >/dev/null 2>&1; then
    if chromium --headless --no-sandbox --disable-gpu --hide-scrollbars \
        --screenshot="$out/report_page.png" --window-size=1400,2400 "file://$page" \
        >/dev/null 2>&1; then
      echo "$out/report_page.png"
    else
      echo "screenshots.sh: chromium could not render $page" >&2
      status=1
    fi
  else
    echo "screenshots.sh: chromium is not installed (scripts/setup.sh installs it)" >&2
    status=1
  fi
fi
echo "Pictures in $out"
exit $status
