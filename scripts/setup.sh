#!/usr/bin/env bash
# Installs every Debian package Varnel needs to build, test, benchmark and fuzz.
# Idempotent: when everything is present it returns at once without touching apt.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git
  libsqlite3-dev sqlite3 time
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  qt6-base-dev libqt6sql6-sqlite libqcustomplot-dev
  xvfb xauth openbox xdotool
  clang libclang-rt-14-dev clang-format
  locales libxxhash-dev libexpat1-dev nlohmann-json3-dev
  snakemake
  chromium fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# A decimal-comma locale, so the tests can show that number parsing ignores
# the process locale.
need_locale=0
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then need_locale=1; fi

if [ ${#missing[@]} -eq 0 ] && [ $need_locale -eq 0 ]; then
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

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup.sh: installing ${missing[*]}" >&2
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "setup.sh: generating the de_DE.UTF-8 locale" >&2
  $SUDO sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
