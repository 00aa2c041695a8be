#!/usr/bin/env bash
# Installs every Debian package Varnel needs to build, test, benchmark and fuzz.
# Idempotent: when everything is present it returns at once without touching apt.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git
  libsqlite3-dev sqlite3 time
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  qt6-base-dev libqt6sql6-sqlite libqcustomplot-dev
  xvfb xauth
  clang libclang-rt-14-dev clang-format
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
    echo "setup.sh: missing packages (${missing[*]}); run this script as root" >&2
    exit 1
  fi
else
  SUDO=
fi

echo "setup.sh: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
