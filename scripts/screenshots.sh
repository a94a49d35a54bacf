#!/usr/bin/env bash
# Retakes the README's pictures of the desktop program: the first start,
# the main window listing real drawings with the preview of one, a
# conversion run in progress and the results of a run; and the SVG picture
# of the sample drawing. The program runs in a real X server (Xvfb) and
# pictures its own window, with a home folder of its own (so the folder
# tree shows the pictures' folders, not the user's). Then the main window of
# the Windows program, tervalo.exe cross-built in build-windows and run under
# Wine on Xvfb (TERVALO_SHOTS_WINDOWS=0 leaves it out, TERVALO_SHOTS_LINUX=0
# the Linux pictures).
# Usage: scripts/screenshots.sh [FOLDER [DRAWING]]
#   (default: ../shared/corpus/平面 and ../shared/corpus/sample.jww)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-../shared/corpus/平面}
drawing=${2:-../shared/corpus/sample.jww}
mkdir -p docs
shot_home=$(mktemp -d)
trap 'rm -rf "$shot_home"' EXIT
if [ "${TERVALO_SHOTS_LINUX:-1}" = 1 ]; then
  scripts/install-packages.sh xvfb xauth
  scripts/setup.sh build
  mkdir -p "$shot_home/Desktop"
  HOME=$shot_home TMPDIR=$shot_home QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x900x24" \
    build/gui/qt/tervalo_screens shots "$PWD/docs" "$(cd "$folder" && pwd)" "$(realpath "$drawing")"
  build/cli/tervalo-cli render "$drawing" -o docs/sample.svg --size 1200x850
  ls -l docs/first-start.png docs/main-window.png docs/run-in-progress.png docs/results.png docs/sample.svg
fi

if [ "${TERVALO_SHOTS_WINDOWS:-1}" = 1 ]; then
  source scripts/wine-env.sh
  wine_install cmake ninja-build g++-mingw-w64-x86-64-posix googletest imagemagick
  cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTERVALO_BUILD_APP=OFF -DTERVALO_GTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
  cmake --build build-windows --target tervalo_ui_test
  wine_start "$PWD/build-windows/wineprefix"
  trap 'wine_stop; rm -rf "$shot_home"' EXIT
  # As for the Linux pictures: the folder's files and the drawing in a
  # folder of their own, the drawing's row selected.
  mkdir -p "$shot_home/一覧"
  cp "$folder"/* "$drawing" "$shot_home/一覧/" 2>/dev/null || true
  run_wine 300 build-windows/gui/win32/tervalo_ui_test.exe --shots "$(winpath "$shot_home")" \
    "$(winpath "$shot_home/一覧")" "$(winpath "$shot_home/一覧/$(basename "$drawing")")" 2>&1 |
    grep -v '^wine: Read access denied' || true
  /usr/bin/convert "$shot_home/windows-main-window.bmp" docs/windows-main-window.png
  ls -l docs/windows-main-window.png
fi
