#!/usr/bin/env bash
# Pictures of the quick-add panel and the status menu, from `velline --demo` on a private X
# server with a compositor, driven with xdotool:
#   scripts/quickadd-screenshots.sh [OUT_DIR] [BUILD_DIR]
# Writes quickadd-recents.png, quickadd-text.png, status-menu.png, status-menu-compact.png.
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=${1:-docs}
BUILD=${2:-build}
mkdir -p "$OUT"
WORK=$(mktemp -d)
PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$WORK"; }
trap cleanup EXIT

DISPLAY_NUMBER=$((90 + RANDOM % 100))
export DISPLAY=:$DISPLAY_NUMBER
Xvfb "$DISPLAY" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 & PIDS+=($!)
sleep 2
# A light desktop behind everything, and a compositor for the translucent card.
convert -size 1920x1080 gradient:"#c9d3dd"-"#8f9aa6" "$WORK/desktop.png"
display -geometry 1920x1080+0+0 -borderwidth 0 "$WORK/desktop.png" >/dev/null 2>&1 & PIDS+=($!)
sleep 1
xcompmgr >/dev/null 2>&1 & PIDS+=($!)
sleep 0.5

export XDG_CONFIG_HOME=$WORK/config QT_QPA_PLATFORM=xcb
"$BUILD/src/app/velline" --demo >"$WORK/velline.log" 2>&1 & PIDS+=($!)
sleep 4
# Three symbols added through the panel make the recent list.
for symbol in amd tsla orcl; do
  xdotool key super+k; sleep 0.6; xdotool type "$symbol"; sleep 0.2; xdotool key Return; sleep 0.8
done
xdotool mousemove 960 900
xdotool key super+k; sleep 1
import -window root "$WORK/recents.png"
xdotool type brk-b; sleep 0.6
import -window root "$WORK/text.png"
xdotool key Escape; sleep 0.5
# Right-click on the compact notch, then on the card.
xdotool mousemove 960 12; sleep 1.2; xdotool click 3; sleep 0.8
import -window root "$WORK/menu-compact.png"
xdotool key Escape; sleep 0.3
xdotool mousemove 960 900; sleep 1
xdotool mousemove 1000 10; sleep 0.2; xdotool click 3; sleep 0.8
import -window root "$WORK/menu.png"
xdotool key Escape

convert "$WORK/recents.png" -crop 760x300+580+280 +repage "$OUT/quickadd-recents.png"
convert "$WORK/text.png" -crop 760x140+580+280 +repage "$OUT/quickadd-text.png"
convert "$WORK/menu.png" -crop 760x220+580+0 +repage "$OUT/status-menu.png"
convert "$WORK/menu-compact.png" -crop 760x160+580+0 +repage "$OUT/status-menu-compact.png"
echo "pictures in $OUT"
