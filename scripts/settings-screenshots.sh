#!/usr/bin/env bash
# Renders the settings window with each pane, on a light and on a dark desktop palette, to PNG
# files on a private X server.
#   scripts/settings-screenshots.sh [OUTPUT_DIR] [BUILD_DIR]      defaults: shots build
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-shots}
build=${2:-build}
cmake --build "$build" --target velline-settingsshot >/dev/null
for palette in "" --dark; do
    QT_QUICK_BACKEND=software xvfb-run -a -s "-screen 0 1920x1080x24" \
        "$build/tools/settingsshot/velline-settingsshot" $palette "$out"
done
