#!/usr/bin/env bash
# Set-up, build and start the desktop program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
exec build/gui/qt/tervalo "$@"
