#!/usr/bin/env bash
# Retakes the README's pictures of the desktop program: the main window
# listing real drawings, and a conversion run in progress. The program runs in
# a real X server (Xvfb) and pictures its own window.
# Usage: scripts/screenshots.sh [FOLDER]   (default: ../shared/corpus/平面)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-../shared/corpus/平面}
scripts/install-packages.sh xvfb xauth
scripts/setup.sh build
mkdir -p docs
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
  build/app/tervalo_screens shots "$PWD/docs" "$(cd "$folder" && pwd)"
ls -l docs/main-window.png docs/run-in-progress.png
