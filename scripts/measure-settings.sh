#!/usr/bin/env bash
# Measures what the settings window costs: runs `velline --demo` on a private X server, opens
# the card, reads the resident memory, presses the card's settings button, and reads it again
# once the window is up (and after every pane has been shown).
#
#   scripts/measure-settings.sh [BUILD_DIR]      default: build
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin=$build/src/app/velline
[ -x "$bin" ] || { echo "no $bin: build the velline target first" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cat >"$tmp/inner.sh" <<'INNER'
set -u
bin=$1 tmp=$2
XDG_CONFIG_HOME=$tmp/config "$bin" --demo >"$tmp/log" 2>&1 &
pid=$!
kb() { awk -v k="$1" '$1 == k":" { print $2 }' "/proc/$pid/status"; }
mb() { awk -v v="$1" 'BEGIN { printf "%.1f MB", v / 1024 }'; }
sleep 15
xdotool mousemove 960 12
sleep 4
echo "before: RSS $(mb "$(kb VmRSS)"), peak $(mb "$(kb VmHWM)")  (notch and card shown)"
# The card's settings button sits at its leading edge, below the chart; its height depends on
# what the card shows, so walk down that column until the window appears.
found=""
for y in $(seq 150 8 330); do
    xdotool mousemove 820 "$y" click 1
    sleep 0.5
    if xdotool search --name '^Velline Settings$' >/dev/null 2>&1; then found=$y; break; fi
    xdotool mousemove 960 12
    sleep 0.3
done
if [ -z "$found" ]; then echo "the settings window did not open" >&2; kill "$pid"; exit 1; fi
sleep 4
echo "after:  RSS $(mb "$(kb VmRSS)"), peak $(mb "$(kb VmHWM)")  (settings window open, General pane)"
win=$(xdotool search --name '^Velline Settings$' | head -1)
eval "$(xdotool getwindowgeometry --shell "$win")"
for row in 1 2 3 4; do
    xdotool mousemove --window "$win" 100 $((56 + 32 * row)) click 1
    sleep 1
done
sleep 2
echo "panes:  RSS $(mb "$(kb VmRSS)"), peak $(mb "$(kb VmHWM)")  (after showing all five panes)"
kill "$pid"
INNER
xvfb-run -a -s "-screen 0 1920x1080x24" bash "$tmp/inner.sh" "$bin" "$tmp"
