#!/usr/bin/env bash
# Resident memory of `velline --demo` on a private X server before and after the first show of
# the quick-add panel (built on first use), and after it is hidden again:
#   scripts/measure-quickadd.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
WORK=$(mktemp -d)
PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$WORK"; }
trap cleanup EXIT

export DISPLAY=:$((190 + RANDOM % 100))
Xvfb "$DISPLAY" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 & PIDS+=($!)
sleep 2
export XDG_CONFIG_HOME=$WORK/config QT_QPA_PLATFORM=xcb
"$BUILD/src/app/velline" --demo >"$WORK/velline.log" 2>&1 & VELLINE=$!; PIDS+=($VELLINE)
rss() { awk '/^VmRSS/ {print $2}' "/proc/$VELLINE/status"; }
sleep 8
before=$(rss)
xdotool key super+k
sleep 3
shown=$(rss)
xdotool key Escape
sleep 2
hidden=$(rss)
xdotool key super+k
sleep 2
again=$(rss)
echo "resident memory (KiB): before ${before}, first show ${shown} (+$((shown - before))), hidden ${hidden}, second show ${again}"
