#!/usr/bin/env bash
# Soak test: the real Velline window on a private X server against velline-feedsim (its own
# process), with a feed fault switched on every minute in turn:
#   429 with Retry-After, 500, an HTML body, a stall, a drip, a connection reset,
#   a 6 MiB body, an unknown symbol
# Each fault lasts the first half of its minute; the second half is healthy again.
#   scripts/soak.sh [MINUTES] [BUILD_DIR]      (default 60 minutes, build/)
# Reports crashes, peak and final resident memory (and the growth after the first five
# minutes), chart requests per fault, and whether the notch kept showing prices.
# Exit status 0 when Velline survived, kept its prices and grew by at most 2 MB.
set -uo pipefail
cd "$(dirname "$0")/.."
MINUTES=${1:-60}
BUILD=${2:-build}
FAULT_SECONDS=${FAULT_SECONDS:-30}
for bin in src/app/velline tools/feedsim/velline-feedsim; do
  [ -x "$BUILD/$bin" ] || { echo "soak: $BUILD/$bin not built" >&2; exit 2; }
done

WORK=$(mktemp -d /tmp/velline-soak.XXXXXX)
# Copies, so a rebuild during the run cannot swap the programs under it.
cp "$BUILD/src/app/velline" "$BUILD/tools/feedsim/velline-feedsim" "$WORK/"
REPORT="$WORK/report.txt"
PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done; }
trap cleanup EXIT

# Private X server.
for n in $(seq 90 140); do [ -e /tmp/.X11-unix/X$n ] || { DISPLAY_NUM=$n; break; }; done
Xvfb ":$DISPLAY_NUM" -screen 0 1920x1080x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
export DISPLAY=":$DISPLAY_NUM"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.2; done

# The feed, with its fault switch.
"$WORK/velline-feedsim" --port 0 --control >"$WORK/feedsim.log" 2>&1 &
FEED_PID=$!
PIDS+=($FEED_PID)
for _ in $(seq 50); do grep -q listening "$WORK/feedsim.log" && break; sleep 0.2; done
FEED=$(grep -o 'http://127.0.0.1:[0-9]*' "$WORK/feedsim.log")
[ -n "$FEED" ] || { echo "soak: velline-feedsim did not start" >&2; exit 2; }
ctl() { curl -s --max-time 5 "$FEED/feedsim/$1" || true; }
chart_requests() { ctl stats | grep -o '"chartRequests":[0-9]*' | grep -o '[0-9]*$'; }

# Settings of its own: the tracked stocks all day (no switch to futures after hours).
export XDG_CONFIG_HOME="$WORK/config"
mkdir -p "$XDG_CONFIG_HOME/Velline"
cat >"$XDG_CONFIG_HOME/Velline/Velline.ini" <<INI
[General]
showFuturesAfterHours_v1=false
trackedSymbols_v2=AAPL, MSFT, NVDA, IBM, LMT
INI

VELLINE_CHART_FEED_URL="$FEED" VELLINE_LOGO_URL="$FEED/image-stock/" QT_QUICK_BACKEND=software \
  "$WORK/velline" >"$WORK/velline.log" 2>&1 &
APP=$!
PIDS+=($APP)

rss() { awk '/^VmRSS/ {print $2}' "/proc/$APP/status" 2>/dev/null; }
# Lit pixels in the compact notch at the top centre: prices and percentages light up a few
# hundred, the placeholder dash a handful.
lit() {
  import -window root -crop 700x44+610+0 "$WORK/notch.png" 2>/dev/null || { echo 0; return; }
  convert "$WORK/notch.png" -colorspace Gray -threshold 25% -format '%[fx:int(mean*w*h)]' info:
}

FAULTS=("status&status=429&retryAfter=20" "status&status=500" html stall drip reset oversized
        "unknown&symbol=AAPL")
NAMES=("429 Retry-After 20" "500" "HTML body" "stall" "drip" "connection reset" "6 MiB body"
       "unknown symbol")
declare -A REQS FAULTS_SEEN KEPT

sleep 20 # first quotes
BASE_LIT=$(lit)
echo "soak: $MINUTES minutes, feed $FEED, display $DISPLAY, notch lit pixels at start $BASE_LIT" | tee "$REPORT"
PEAK=0; RSS5=""; MAX_AFTER5=0; CRASHED=""; ALL_KEPT=yes
START=$(date +%s)
for m in $(seq 0 $((MINUTES - 1))); do
  i=$((m % ${#FAULTS[@]}))
  minute_start=$((START + m * 60))
  before=$(chart_requests)
  ctl "fault?kind=${FAULTS[$i]}" >/dev/null
  while [ "$(date +%s)" -lt $((minute_start + FAULT_SECONDS)) ]; do
    sleep 5
    r=$(rss); [ -n "$r" ] && [ "$r" -gt "$PEAK" ] && PEAK=$r
    kill -0 $APP 2>/dev/null || { CRASHED="minute $m (${NAMES[$i]})"; break 2; }
  done
  during=$(lit)
  after=$(chart_requests)
  ctl clear >/dev/null
  n=$((after - before))
  REQS[$i]=$(( ${REQS[$i]:-0} + n ))
  FAULTS_SEEN[$i]=$(( ${FAULTS_SEEN[$i]:-0} + 1 ))
  kept=yes
  [ "$during" -lt $((BASE_LIT / 3)) ] && { kept=no; ALL_KEPT=no; }
  KEPT[$i]="${KEPT[$i]:-}$kept "
  while [ "$(date +%s)" -lt $((minute_start + 60)) ]; do
    sleep 5
    r=$(rss); [ -n "$r" ] && [ "$r" -gt "$PEAK" ] && PEAK=$r
    kill -0 $APP 2>/dev/null || { CRASHED="minute $m (after ${NAMES[$i]})"; break 2; }
  done
  r=$(rss)
  [ $m -eq 4 ] && RSS5=$r
  [ -n "$RSS5" ] && [ $m -ge 5 ] && [ "${r:-0}" -gt "$MAX_AFTER5" ] && MAX_AFTER5=$r
  echo "minute $((m + 1)): ${NAMES[$i]}: $n chart requests in ${FAULT_SECONDS} s, notch lit $during (kept prices: $kept), rss ${r:-?} kB" | tee -a "$REPORT"
done
FINAL=$(rss)
END_LIT=$(lit)

{
  echo
  echo "== soak summary ($MINUTES minutes) =="
  if [ -n "$CRASHED" ]; then echo "crash: Velline died in $CRASHED"; else echo "crashes: none"; fi
  grep -E "AddressSanitizer|runtime error|Segmentation|Aborted" "$WORK/velline.log" | head -5
  echo "resident memory: peak ${PEAK} kB, final ${FINAL:-?} kB, after 5 minutes ${RSS5:-?} kB, highest after that ${MAX_AFTER5} kB"
  if [ -n "$RSS5" ] && [ -n "${FINAL:-}" ]; then
    echo "growth after the first five minutes: final $(( FINAL - RSS5 )) kB, highest $(( MAX_AFTER5 - RSS5 )) kB (limit 2048 kB)"
  fi
  for i in "${!NAMES[@]}"; do
    [ -n "${FAULTS_SEEN[$i]:-}" ] || continue
    echo "fault ${NAMES[$i]}: ${FAULTS_SEEN[$i]} times, ${REQS[$i]} chart requests in total ($(( REQS[$i] / FAULTS_SEEN[$i] )) per ${FAULT_SECONDS}-s window), notch kept prices: ${KEPT[$i]}"
  done
  echo "notch lit pixels: start $BASE_LIT, end $END_LIT; kept the last good prices throughout: $ALL_KEPT"
  echo "files: $WORK"
} | tee -a "$REPORT"

status=0
[ -n "$CRASHED" ] && status=1
[ "$ALL_KEPT" = yes ] || status=1
if [ -n "$RSS5" ] && [ -n "${FINAL:-}" ] && [ $(( MAX_AFTER5 - RSS5 )) -gt 2048 ]; then status=1; fi
exit $status
