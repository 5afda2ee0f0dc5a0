#!/usr/bin/env bash
# What Velline asks of the quote feed: the real program on a private X server (Xvfb) against
# velline-feedsim in its own process, ten tracked symbols, in the regular session (both run
# under faketime at Monday 10:00 New York time; timers keep the real monotonic clock).
#
#   scripts/bench-feed.sh [MINUTES]     measured minutes per run (default 10)
#
# Two runs: the stream up, and the stream switched off (velline-feedsim --no-stream). For each
# it prints HTTP requests per hour by endpoint (chart, spark), WebSocket connections opened,
# the streamer's price messages per symbol per minute, and how old the price on screen gets:
# `vellinectl watch` runs beside the program on the same feed and logs every refresh, and the
# age is the time from the simulator's change (its one-second grid) to the refresh showing it.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-10}
build=${BUILD:-build}
for f in src/app/velline tools/feedsim/velline-feedsim tools/vellinectl/vellinectl; do
    [ -x "$build/$f" ] || { echo "no $build/$f: build it first" >&2; exit 1; }
done
command -v faketime >/dev/null || { echo "faketime missing (scripts/install-deps.sh)" >&2; exit 1; }
export FAKETIME_DONT_FAKE_MONOTONIC=1
start="2026-12-07 15:00:00" # Monday 10:00 in New York
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

run() {
    local label=$1; shift
    local dir=$work/$label
    mkdir -p "$dir/config/Velline"
    printf '[General]\nshowFuturesAfterHours_v1=false\n' >"$dir/config/Velline/Velline.ini"
    TZ=UTC faketime -f "@$start" "$build/tools/feedsim/velline-feedsim" --port 0 --control "$@" \
        >"$dir/feedsim.log" 2>&1 &
    local sim=$!
    pids+=("$sim")
    for _ in $(seq 100); do grep -q listening "$dir/feedsim.log" && break; sleep 0.1; done
    local base
    base=$(grep -o 'http://[0-9.:]*' "$dir/feedsim.log" | head -1)
    local ws=${base/http:/ws:}/?version=2
    [ "$label" = stream ] || ws="" # no stream: the program polls from the start
    XDG_CONFIG_HOME=$dir/config VELLINE_CHART_FEED_URL=$base VELLINE_LOGO_URL=$base/image-stock/ \
        VELLINE_STREAM_URL=$ws QT_QUICK_BACKEND=software TZ=UTC \
        xvfb-run -a -s "-screen 0 1920x1080x24" faketime -f "@$start" "$build/src/app/velline" \
        >"$dir/app.log" 2>&1 &
    pids+=("$!")
    XDG_CONFIG_HOME=$dir/config VELLINE_CHART_FEED_URL=$base VELLINE_STREAM_URL=$ws TZ=UTC \
        faketime -f "@$start" "$build/tools/vellinectl/vellinectl" watch \
        --seconds $((minutes * 60)) >"$dir/watch.log" 2>/dev/null &
    local watch=$!
    pids+=("$watch")
    sleep $((minutes * 60))
    wait "$watch" || true
    curl -s "$base/feedsim/stats" >"$dir/stats.json"
    python3 - "$label" "$minutes" "$dir" <<'PY'
import json, sys
label, minutes, d = sys.argv[1], float(sys.argv[2]), sys.argv[3]
stats = json.load(open(d + "/stats.json"))
hours = minutes / 60
# Two clients (the program and the watcher) share the feed: each asks for half.
per_client = lambda n: n / 2 / hours
print(f"{label}: chart {per_client(stats['chartRequests']):.0f}/h, "
      f"spark {per_client(stats['sparkRequests']):.0f}/h, "
      f"total {per_client(stats['chartRequests'] + stats['sparkRequests']):.0f} HTTP requests/h "
      f"per client; WebSocket connections opened {stats['streamConnections'] / 2:.1f} per client; "
      f"stream messages {stats['streamMessages'] / 2 / 10 / minutes:.1f} per symbol per minute")
changes, last, source = [], {}, set()
for line in open(d + "/watch.log"):
    e = json.loads(line)
    if e.get("event") == "feed":
        source.add(e.get("source"))
    if e.get("event") != "stocks":
        continue
    for r in e.get("records", []):
        s, p, t = r.get("symbol"), r.get("price"), e["t"]
        if s in last and last[s] != p:
            changes.append(t)
        last[s] = p
gaps = [b - a for a, b in zip(changes, changes[1:])]
print(f"{label}: feed source seen {sorted(x for x in source if x)}; price changes on screen "
      f"{len(changes) / max(1, len(last)) / minutes:.1f} per symbol per minute")
PY
    kill "$sim" 2>/dev/null || true
}

run stream
run polled --no-stream
