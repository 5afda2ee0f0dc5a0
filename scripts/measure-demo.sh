#!/usr/bin/env bash
# Runs `velline --demo` on a private X server and reports the CPU time it used and its peak
# resident memory (VmHWM).
#
#   scripts/measure-demo.sh [SECONDS] [BUILD_DIR]      defaults: 120 build
#   COMPOSITOR=1 scripts/measure-demo.sh                the same with xcompmgr running
#   HOVER=1 scripts/measure-demo.sh                     pointer on the notch (card shown)
#
# The first 15 seconds (start-up, first quotes, logos) are reported apart from the rest, so a
# busy idle loop shows up on its own.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-120}
build=${2:-build}
bin=$build/src/app/velline
warmup=15
[ -x "$bin" ] || { echo "no $bin: build the velline target first" >&2; exit 1; }
[ "$secs" -gt "$warmup" ] || { echo "run for more than $warmup seconds" >&2; exit 1; }

tmp=$(mktemp -d)
runner=""
cleanup() {
    if [ -n "$runner" ]; then
        [ -f "$tmp/pid" ] && kill "$(cat "$tmp/pid")" 2>/dev/null || true
        wait "$runner" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT

# Inside the X server: optional compositor, the program, optional pointer on the notch.
cat >"$tmp/inner.sh" <<'INNER'
set -u
bin=$1 tmp=$2
if [ "${COMPOSITOR:-0}" = 1 ]; then xcompmgr >/dev/null 2>&1 & fi
XDG_CONFIG_HOME=$tmp/config "$bin" --demo >"$tmp/log" 2>&1 &
echo $! >"$tmp/pid"
if [ "${HOVER:-0}" = 1 ]; then sleep 5; xdotool mousemove 960 12; fi
wait "$(cat "$tmp/pid")"
INNER
xvfb-run -a -s "-screen 0 1920x1080x24" bash "$tmp/inner.sh" "$bin" "$tmp" &
runner=$!

for _ in $(seq 100); do [ -s "$tmp/pid" ] && break; sleep 0.1; done
pid=$(cat "$tmp/pid")
tick=$(getconf CLK_TCK)
# utime + stime of the program (fields 14 and 15; its name holds no spaces).
cputicks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }

sleep "$warmup"
start_ticks=$(cputicks)
sleep $((secs - warmup))
end_ticks=$(cputicks)
hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status")
rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status")
threads=$(awk '/^Threads/ { print $2 }' "/proc/$pid/status")

awk -v s="$secs" -v w="$warmup" -v a="$start_ticks" -v b="$end_ticks" -v t="$tick" \
    -v hwm="$hwm" -v rss="$rss" -v th="$threads" 'BEGIN {
    printf "run:               %d s under Xvfb 1920x1080%s%s\n", s,
        ENVIRON["COMPOSITOR"] == "1" ? " with xcompmgr" : "",
        ENVIRON["HOVER"] == "1" ? ", pointer on the notch" : ""
    printf "CPU total:         %.2f s (%.2f %% of one core)\n", b / t, 100 * b / t / s
    printf "CPU first %2d s:    %.2f s\n", w, a / t
    printf "CPU after that:    %.2f s over %d s (%.2f %% of one core)\n", (b - a) / t, s - w,
        100 * (b - a) / t / (s - w)
    printf "peak RSS (VmHWM):  %.1f MB\n", hwm / 1024
    printf "RSS at the end:    %.1f MB\n", rss / 1024
    printf "threads:           %d\n", th
}'
