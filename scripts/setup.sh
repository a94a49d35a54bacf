#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing), then
# configures and builds into the given folder (default: build).
# Usage: scripts/setup.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

# fonts-noto-cjk: the desktop program's texts are Japanese and need a CJK font.
# qt6-translations-l10n: Qt's own texts (OK, Cancel, the folder picker) in the
# user's language. locales: a locale with a decimal comma for the tests.
# libcli11-dev: tervalo-cli's argument parser (headers only); zlib1g-dev: zlib for the PNG pictures.
packages=(build-essential cmake ninja-build pkg-config libicu-dev zlib1g-dev libgtest-dev libgmock-dev
          libbenchmark-dev libcli11-dev qt6-base-dev libgl-dev fonts-noto-cjk qt6-translations-l10n locales)
scripts/install-packages.sh "${packages[@]}"

# The tests check the scale in a locale whose decimal separator is a comma.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo_cmd tee -a /etc/locale.gen >/dev/null
  $sudo_cmd locale-gen >/dev/null
fi

build_dir=${1:-build}
shift || true
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build_dir" -j "$(nproc)"
