#!/usr/bin/env bash
# Renders the notch in each state to PNG files, at twice the size, on a private X server.
#   scripts/screenshots.sh [OUTPUT_DIR] [BUILD_DIR]      defaults: shots build
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-shots}
build=${2:-build}
cmake --build "$build" --target velline-screenshots >/dev/null
xvfb-run -a -s "-screen 0 3840x2160x24" "$build/tools/notchshot/velline-screenshots" "$out"
