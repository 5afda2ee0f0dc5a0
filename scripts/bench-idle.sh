#!/usr/bin/env bash
# What Velline costs while it runs: the real program on a private X server (Xvfb, 1920x1080, no
# compositor) against velline-feedsim in its own process, so the feed's own cost is not counted.
#
#   scripts/bench-idle.sh [options]
#     -m MINUTES   measured minutes per run, after the warm-up (default 1)
#     -w SECONDS   warm-up before measuring (default 15)
#     -s LIST      scenarios, space separated (default "moving still single unreachable card"):
#                    moving       the simulated market as it is: prices move on every refresh,
#                                 a jump now and then
#                    still        every price fixed (velline-feedsim --still): only the carousel
#                                 changes anything
#                    single       still, and a single tracked symbol: nothing visible changes
#                    unreachable  the feed address answers nothing (connection refused)
#                    card         moving, with the pointer resting on the notch (card open)
#     -b LABEL=DIR build folder to measure, repeatable (default after=build); with several, each
#                  scenario runs for every build in turn, so the figures share the same run
#     -o DIR       keep the logs and the per-minute memory samples there
#     -M COUNT     after each run, the program's COUNT biggest mappings (by resident size, with
#                  their private dirty size), mappings of one file or kind added together
#
# Per run it prints: CPU % of one core, frames drawn per minute and mean CPU per frame (frames
# are counted inside the program: `velline --stats`), wake-ups per second (context switches of
# its threads alive at the start and the end of the measured span), peak and final resident
# memory of the program, its private dirty memory at the end (Private_Dirty of
# /proc/PID/smaps_rollup: what it alone holds and no other process shares), the resident memory
# of the simulator, the time from process start to the first drawn frame, and resident and
# private dirty memory at every minute.
# The simulator of each build is used (its memory is part of what is measured); a build whose
# simulator has no --still option borrows the still market from the first build that has one.
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=1
warmup=15
scenarios="moving still single unreachable card"
builds=()
keep=""
mappings=0
while getopts "m:w:s:b:o:M:h" opt; do
    case $opt in
    m) minutes=$OPTARG ;;
    w) warmup=$OPTARG ;;
    s) scenarios=$OPTARG ;;
    b) builds+=("$OPTARG") ;;
    o) keep=$OPTARG ;;
    M) mappings=$OPTARG ;;
    *) sed -n '2,31p' "$0"; exit 64 ;;
    esac
done
[ ${#builds[@]} -gt 0 ] || builds=("after=build")
for b in "${builds[@]}"; do
    dir=${b#*=}
    [ -x "$dir/src/app/velline" ] || { echo "no $dir/src/app/velline: build it first" >&2; exit 1; }
    [ -x "$dir/tools/feedsim/velline-feedsim" ] || { echo "no velline-feedsim in $dir" >&2; exit 1; }
    "$dir/src/app/velline" --help | grep -q -- --stats ||
        { echo "$dir/src/app/velline has no --stats option" >&2; exit 1; }
done
stillsim=""
for b in "${builds[@]}"; do
    sim=${b#*=}/tools/feedsim/velline-feedsim
    if "$sim" --help | grep -q -- --still; then stillsim=$(realpath "$sim"); break; fi
done

work=$(mktemp -d)
[ -n "$keep" ] && mkdir -p "$keep"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
tick=$(getconf CLK_TCK)

cputicks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
kb() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }
# Private dirty memory in kB: pages the process alone has written.
private_dirty() { awk '$1 == "Private_Dirty:" { print $2 }' "/proc/$1/smaps_rollup"; }
# The COUNT biggest mappings by resident size, mappings of one file (or one kind: [heap],
# [stack], anonymous) added together: "rss private-dirty count name" in kB. The list is cut by
# awk, which reads it to the end: head would leave sort writing into a closed pipe, and the
# SIGPIPE ended the whole script (pipefail) once the list outgrew sort's first write.
biggest_mappings() { # PID COUNT
    awk '
        /^[0-9a-f]+-[0-9a-f]+ / { name = NF >= 6 ? $6 : "[anonymous]"; count[name]++; next }
        $1 == "Rss:" { rss[name] += $2 }
        $1 == "Private_Dirty:" { dirty[name] += $2 }
        END { for (n in rss) printf "%d %d %d %s\n", rss[n], dirty[n], count[n], n }
    ' "/proc/$1/smaps" | sort -rn | awk -v n="$2" 'NR <= n'
}
# Context switches per thread ("tid count"); a delta counts only threads alive at both samples.
switches() {
    for f in /proc/"$1"/task/*/status; do
        # A thread that ends between the listing and the read is left out (and must not end
        # the script through set -e).
        awk -v t="${f%/status}" '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { if (NR) { sub(/.*\//, "", t); print t, n + 0 } }' "$f" 2>/dev/null || true
    done
}
switch_delta() { awk 'NR == FNR { a[$1] = $2; next } ($1 in a) { d += $2 - a[$1] } END { print d + 0 }' "$1" "$2"; }
# The last stats line the program printed: "velline-stats uptime=.. frames=.. first-frame=..".
stat_field() { grep '^velline-stats' "$1" | tail -1 | tr ' ' '\n' | awk -F= -v k="$2" '$1 == k { print $2 }'; }
# Ask the program for a stats line and wait until it has appeared.
stats_now() {
    local before
    before=$(grep -c '^velline-stats' "$2" || true)
    kill -USR1 "$1"
    for _ in $(seq 50); do
        [ "$(grep -c '^velline-stats' "$2" || true)" -gt "$before" ] && return 0
        sleep 0.1
    done
    echo "no stats line from the program" >&2
    return 1
}

summary=()
run_one() {
    local label=$1 dir=$2 scenario=$3
    local run=$work/$label-$scenario
    mkdir -p "$run/config/Velline"
    local sim=$dir/tools/feedsim/velline-feedsim simargs=() symbols=""
    case $scenario in
    still | single)
        [ -n "$stillsim" ] || { echo "no velline-feedsim with --still" >&2; return 1; }
        "$sim" --help | grep -q -- --still || sim=$stillsim
        simargs=(--still) ;;
    esac
    [ "$scenario" = single ] && symbols="trackedSymbols_v2=AAPL"
    # Ten tracked symbols (the default list) and no futures mode, whatever the time of day.
    printf '[General]\nshowFuturesAfterHours_v1=false\n%s\n' "$symbols" >"$run/config/Velline/Velline.ini"

    local simpid="" base
    if [ "$scenario" = unreachable ]; then
        base=http://127.0.0.1:9 # discard port: nothing listens, every connection is refused
    else
        "$sim" --port 0 "${simargs[@]}" >"$run/feedsim.log" 2>&1 &
        simpid=$!
        pids+=("$simpid")
        for _ in $(seq 100); do grep -q listening "$run/feedsim.log" && break; sleep 0.1; done
        base=$(grep -o 'http://[0-9.:]*' "$run/feedsim.log" | head -1)
    fi

    cat >"$run/inner.sh" <<'INNER'
set -u
bin=$1 run=$2 base=$3 hover=$4
# The simulator's streamer is on the feed's port (builds before the stream ignore the address).
XDG_CONFIG_HOME=$run/config VELLINE_CHART_FEED_URL=$base VELLINE_LOGO_URL=$base/image-stock/ \
    VELLINE_STREAM_URL=${base/http:/ws:}/?version=2 "$bin" --stats >"$run/app.log" 2>"$run/app.err" &
echo $! >"$run/pid"
if [ "$hover" = 1 ]; then sleep 4; xdotool mousemove 960 14; fi
wait "$(cat "$run/pid")"
INNER
    local hover=0
    [ "$scenario" = card ] && hover=1
    xvfb-run -a -s "-screen 0 1920x1080x24" bash "$run/inner.sh" "$(realpath "$dir/src/app/velline")" \
        "$run" "$base" "$hover" &
    local runner=$!
    pids+=("$runner")
    for _ in $(seq 100); do [ -s "$run/pid" ] && break; sleep 0.1; done
    local pid
    pid=$(cat "$run/pid")
    # Ended with the rest if the script stops early: killing xvfb-run does not end its child.
    pids+=("$pid")

    sleep "$warmup"
    stats_now "$pid" "$run/app.log"
    local f0 c0
    f0=$(stat_field "$run/app.log" frames)
    c0=$(cputicks "$pid")
    switches "$pid" >"$run/switches0"
    local t0=$SECONDS
    : >"$run/rss"
    for m in $(seq "$minutes"); do
        sleep "${BENCH_MINUTE_SECONDS:-60}"
        printf '%d %s %s %s\n' "$m" "$(kb "$pid" VmRSS)" "$([ -n "$simpid" ] && kb "$simpid" VmRSS || echo 0)" \
            "$(private_dirty "$pid")" >>"$run/rss"
        [ "$minutes" -gt 1 ] && tail -1 "$run/rss" | awk -v l="$label" -v sc="$scenario" '{
            printf "        %s %s minute %3d: velline %.1f MB (private dirty %.1f MB), velline-feedsim %.1f MB\n", l, sc, $1, $2 / 1024, $4 / 1024, $3 / 1024 }'
    done
    stats_now "$pid" "$run/app.log"
    local secs=$((SECONDS - t0))
    local f1 c1 hwm rss dirty first simhwm=0 simrss=0
    f1=$(stat_field "$run/app.log" frames)
    c1=$(cputicks "$pid")
    switches "$pid" >"$run/switches1"
    first=$(stat_field "$run/app.log" first-frame)
    hwm=$(kb "$pid" VmHWM)
    rss=$(kb "$pid" VmRSS)
    dirty=$(private_dirty "$pid")
    [ "$mappings" -gt 0 ] && biggest_mappings "$pid" "$mappings" >"$run/mappings"
    if [ -n "$simpid" ]; then
        simhwm=$(kb "$simpid" VmHWM)
        simrss=$(kb "$simpid" VmRSS)
    fi
    kill "$pid" 2>/dev/null || true
    wait "$runner" 2>/dev/null || true
    if [ -n "$simpid" ]; then kill "$simpid" 2>/dev/null || true; wait "$simpid" 2>/dev/null || true; fi

    local line
    line=$(awk -v l="$label" -v sc="$scenario" -v s="$secs" -v c="$((c1 - c0))" -v t="$tick" \
        -v f="$((f1 - f0))" -v w="$(switch_delta "$run/switches0" "$run/switches1")" -v hwm="$hwm" -v rss="$rss" -v dirty="$dirty" -v first="$first" \
        -v shwm="$simhwm" -v srss="$simrss" 'BEGIN {
        cpu = c / t
        printf "%-7s %-12s %6.2f %% %8.1f %9s %8.1f %7.1f MB %7.1f MB %7.1f MB %6.2f s %7.1f MB %7.1f MB\n",
            l, sc, 100 * cpu / s, 60 * f / s, (f > 0 ? sprintf("%.2f ms", 1000 * cpu / f) : "-"),
            w / s, hwm / 1024, rss / 1024, dirty / 1024, first, shwm / 1024, srss / 1024
    }')
    summary+=("$line")
    echo "$line"
    if [ "$mappings" -gt 0 ]; then
        awk -v l="$label" -v sc="$scenario" 'BEGIN {
            printf "        %s %s, biggest mappings:  resident  private dirty  mappings\n", l, sc }
            { printf "        %10.1f MB %10.1f MB %5d  %s\n", $1 / 1024, $2 / 1024, $3, $4 }' "$run/mappings"
    fi
    if [ -n "$keep" ]; then cp -r "$run" "$keep/"; fi
}

header=$(printf "%-7s %-12s %8s %8s %9s %8s %10s %10s %10s %8s %10s %10s" build scenario "CPU" \
    "frames/m" "CPU/frame" "wakeup/s" "peak RSS" "end RSS" "priv dirty" "1st frame" "sim peak" "sim end")
echo "$minutes measured minute(s) per run after a ${warmup} s warm-up, Xvfb 1920x1080, no compositor"
echo "$header"
for scenario in $scenarios; do
    for b in "${builds[@]}"; do
        run_one "${b%%=*}" "${b#*=}" "$scenario"
    done
done
echo
echo "$header"
printf '%s\n' "${summary[@]}"
