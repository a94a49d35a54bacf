#!/usr/bin/env bash
# Retakes the README's pictures of the desktop program: the first start,
# the main window listing real drawings with the preview of one, a
# conversion run in progress and the results of a run; and the SVG picture
# of the sample drawing. The program runs in a real X server (Xvfb) and
# pictures its own window, with a home folder of its own (so the folder
# tree shows the pictures' folders, not the user's).
# Usage: scripts/screenshots.sh [FOLDER [DRAWING]]
#   (default: ../shared/corpus/平面 and ../shared/corpus/sample.jww)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-../shared/corpus/平面}
drawing=${2:-../shared/corpus/sample.jww}
scripts/install-packages.sh xvfb xauth
scripts/setup.sh build
mkdir -p docs
shot_home=$(mktemp -d)
trap 'rm -rf "$shot_home"' EXIT
mkdir -p "$shot_home/Desktop"
HOME=$shot_home TMPDIR=$shot_home QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x900x24" \
  build/gui/qt/tervalo_screens shots "$PWD/docs" "$(cd "$folder" && pwd)" "$(realpath "$drawing")"
build/cli/tervalo-cli render "$drawing" -o docs/sample.svg --size 1200x850
ls -l docs/first-start.png docs/main-window.png docs/run-in-progress.png docs/results.png docs/sample.svg
