#!/usr/bin/env bash
# Mutation check of the test suite: each mutation below is one small change to one line of the
# program (a comparison flipped, a threshold moved, a branch removed, an early return). Each is
# applied alone to a clean copy of the tree at REV, built, and run against the whole suite; a
# mutation is "killed" when some test fails, "survived" when every test still passes.
#
#   scripts/mutate.sh [--rev REV] [--dir DIR] [--only ID[,ID...]] [--list]
#
# REV defaults to HEAD; the copy lives in DIR (default /tmp/velline-mutate, a git worktree made and
# removed by the script). The table goes to standard output in Markdown; "stale" means the line to
# change was not found exactly once at REV (the mutation needs updating), "no build" means the
# mutated tree did not compile (not counted). Needs the packages of scripts/install-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
REV=HEAD
DIR=/tmp/velline-mutate
ONLY=""
LIST=0
while [ $# -gt 0 ]; do
  case "$1" in
    --rev) REV="$2"; shift 2 ;;
    --dir) DIR="$2"; shift 2 ;;
    --only) ONLY="$2"; shift 2 ;;
    --list) LIST=1; shift ;;
    *) echo "usage: scripts/mutate.sh [--rev REV] [--dir DIR] [--only ID,...] [--list]" >&2; exit 2 ;;
  esac
done

# id | file | exact text | replacement | what it breaks
MUTATIONS=$(cat <<'TABLE'
state-alert-above|src/state/appstate.cpp|? previousPrice < level && newPrice >= level|? previousPrice < level && newPrice > level|an above-alert reached exactly no longer fires
state-alert-below|src/state/appstate.cpp|: previousPrice > level && newPrice <= level;|: previousPrice >= level && newPrice <= level;|a below-alert fires again while resting on its level
state-cooldown|src/state/appstate.cpp|now - *record.lastSpikeAt > spikeCoolDown|now - *record.lastSpikeAt >= spikeCoolDown|the spike cool-down ends at exactly 600 s instead of after it
state-day-move|src/state/appstate.cpp|dayMove >= dayMoveThreshold \|\||dayMove > dayMoveThreshold \|\||a 2.00 % day move no longer counts as a spike
state-window-move|src/state/appstate.cpp|std::fabs(windowMove) >= windowMoveThreshold|windowMove >= windowMoveThreshold|a fall within five minutes no longer counts as a spike
state-volume|src/state/appstate.cpp|: ratio >= barVolumeRatio;|: ratio > barVolumeRatio;|a volume surge of exactly three times no longer counts
state-stale|src/state/appstate.cpp|const bool stale = age >= staleAfter(now);|const bool stale = age > staleAfter(now);|quotes of exactly the stale age are shown as fresh
state-history|src/state/appstate.cpp|return p.time < oldest; });|return p.time <= oldest; });|the oldest history sample still inside the window is dropped
state-swipe-single|src/state/appstate.cpp|SwipeDirection direction) {\n    const qsizetype count = m_stocks.size();\n    if (count < 2)|SwipeDirection direction) {\n    const qsizetype count = m_stocks.size();\n    if (count < 1)|a swipe with one symbol moves the carousel
calendar-session|src/state/marketcalendar.cpp|return minutes >= openMinutes && minutes < close;|return minutes >= openMinutes && minutes <= close;|the session is open at the closing minute
calendar-friday-after|src/state/marketcalendar.cpp|if (date == thanksgiving(date.year()).addDays(1))|if (date == thanksgiving(date.year()).addDays(2))|the day after Thanksgiving closes early on the wrong day
stock-flat-band|src/market/stock.cpp|    if (p > flatBand)|    if (p >= flatBand)|a change of exactly the flat band reads as up
stock-spike-hold|src/market/stock.cpp|now - *lastSpikeAt < spikeHoldSeconds;|now - *lastSpikeAt <= spikeHoldSeconds;|a spike is still held at exactly its end
stock-window|src/market/stock.cpp|if (last.time - p.time <= windowSeconds) {|if (last.time - p.time < windowSeconds) {|the five-minute move ignores the bar exactly five minutes back
stock-volume-bars|src/market/stock.cpp|if (n < recentBars + 1)|if (n < recentBars + 2)|the volume ratio needs one bar more than it should
backoff-statuses|src/market/feedbackoff.cpp|return status == 429 \|\| status == 503;|return status == 429;|a 503 no longer slows the client down
backoff-doubling|src/market/feedbackoff.cpp|for (int i = 1; i < streak && pause < ceiling; ++i)|for (int i = 1; i < streak - 1 && pause < ceiling; ++i)|the pause doubles one failure late
backoff-retry-cap|src/market/feedbackoff.cpp|return std::min(*asked, rateLimitMax);|return *asked;|a huge Retry-After is no longer capped
chart-integer|src/market/chartfeed.cpp|std::trunc(d) != d \|\| d < -limit \|\| d >= limit|std::trunc(d) != d \|\| d < -limit|integers past the limit are accepted
layer-menubar|src/notchlayer/notchgeometry.cpp|return h <= 0 \|\| h >= geometry.height() / 2 ? 0 : h;|return h <= 0 ? 0 : h;|a panel over half the screen tall is taken for the top bar
layer-uncovered|src/notchlayer/uncoveredarea.cpp|return now - part.at > lifetime; });|return now - part.at >= lifetime; });|an uncovered area is forgotten at exactly half a second
notch-arrow|src/notch/compactrules.cpp|if (!(std::abs(move) >= arrowMovePercent))|if (!(move >= arrowMovePercent))|falling symbols lose their arrow
notch-trailing|src/notch/compactrules.cpp|return mode == DisplayMode::regular ? TrailingContent::full : TrailingContent::percentage;|return TrailingContent::full;|every display mode shows the full trailing text
notch-flash-threshold|src/notch/tickerflash.cpp|!(std::abs(value - *old) > threshold)|!(value - *old > threshold)|a falling price no longer flashes
notch-flash-direction|src/notch/tickerflash.cpp|value > *old ? Stock::Direction::up : Stock::Direction::down;|value >= *old ? Stock::Direction::down : Stock::Direction::up;|a rise flashes in the fall colour
card-move-chip|src/notch/cardformat.cpp|if (!(std::abs(tickChangePercent) >= moveChipThreshold))|if (!(tickChangePercent >= moveChipThreshold))|falling moves get no chip
card-alert-holds|src/notch/cardformat.cpp|chip.holds = above ? price >= alert.price : price <= alert.price;|chip.holds = above ? price > alert.price : price <= alert.price;|an alert at the price is shown as not reached
prefs-trim-end|src/prefs/userpreferences.cpp|while (end > begin && isTrimmable(upper.at(end - 1)))|while (false && end > begin && isTrimmable(upper.at(end - 1)))|trailing spaces of a symbol are kept
prefs-file-mode|src/prefs/userpreferences.cpp|if ((info.st_mode & 077) != 0)|if ((info.st_mode & 007) != 0)|a group-readable settings file is left readable
update-key-type|src/update/signature.cpp|if (key && EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)|if (false && key && EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)|a key of another type is taken for Ed25519
update-version|src/update/appcast.cpp|            return x < y ? -1 : 1;|            return x < y ? 1 : -1;|version numbers compare backwards
swipe-pause|src/input/trackpadswipemonitor.cpp|now - *m_lastPhaselessAt >= gesturePause - 1e-6|now - *m_lastPhaselessAt > gesturePause + 1e-6|a pause of exactly 200 ms no longer ends a gesture
swipe-threshold|src/input/trackpadswipemonitor.cpp|if (m_accumulatedDeltaX >= threshold)|if (m_accumulatedDeltaX > threshold)|a swipe of exactly the threshold does nothing
swipe-axis|src/input/trackpadswipemonitor.cpp|if (!(std::abs(delta.x()) > std::abs(delta.y())))|if (!(std::abs(delta.x()) >= 0))|vertical scrolling steps the carousel
quickadd-length|src/quickadd/tickerfilter.cpp|if (kept.size() == kMaxTickerLength)|if (kept.size() == kMaxTickerLength + 1)|quick-add keeps one character too many
settings-shares|src/settings/settingsrules.cpp|if (!std::isfinite(value) \|\| !(value > 0))|if (!std::isfinite(value) \|\| value < 0)|a share count of zero is accepted
TABLE
)

if [ "$LIST" = 1 ]; then
  printf '%s\n' "$MUTATIONS" | awk -F'|' '{ print $1 ": " $2 " — " $NF }' | sed 's/\\|/|/g'
  exit 0
fi

bash scripts/install-deps.sh >/dev/null
COMMIT=$(git rev-parse --short "$REV")
git worktree remove --force "$DIR" 2>/dev/null || rm -rf "$DIR"
git worktree add -q --detach "$DIR" "$REV"
trap 'git worktree remove --force "$DIR" >/dev/null 2>&1 || true' EXIT

# The same flags as a normal build (warnings as errors), so the cache serves the unchanged files.
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$DIR" -B "$DIR/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLINE_WERROR=ON \
  -DVELLINE_BUILD_BENCHMARKS=OFF "${LAUNCHER[@]}" >/dev/null
build() { cmake --build "$DIR/build" -j"$(nproc)" "$@" >"$DIR/build.log" 2>&1; }
suite() { ctest --test-dir "$DIR/build" -j"$(nproc)" --stop-on-failure --timeout 300 "$@" >"$DIR/ctest.log" 2>&1; }
# The tests that live beside the changed subsystem (tests/<subsystem>/) run first, built alone: most
# mutations die there in seconds. One that survives them is built in full and meets the whole suite,
# so the verdict is the same as running everything every time.
near_tests() {
    local sub
    sub=$(printf '%s\n' "$1" | cut -d/ -f2)
    [ -f "$DIR/tests/$sub/CMakeLists.txt" ] || return 0
    grep -ho 'velline_add_test( *[A-Za-z0-9_]*' "$DIR/tests/$sub/CMakeLists.txt" | sed 's/.*( *//' | sort -u
}

echo "Building and testing $COMMIT unchanged..." >&2
build || { echo "the unchanged tree does not build (see $DIR/build.log)" >&2; exit 1; }
suite || { echo "the unchanged tree fails its tests (see $DIR/ctest.log)" >&2; exit 1; }

echo "Mutations of $COMMIT:"
echo
echo "| mutation | file | what it breaks | result |"
echo "|---|---|---|---|"
killed=0 survived=0 stale=0 nobuild=0
while IFS= read -r row; do
  [ -n "$row" ] || continue
  # Fields are separated by "|"; a literal bar is written "\|".
  IFS=$'\x1f' read -r id file old new why < <(printf '%s\n' "$row" | sed 's/\\|/\x1e/g; s/|/\x1f/g; s/\x1e/|/g')
  if [ -n "$ONLY" ] && [[ ",$ONLY," != *",$id,"* ]]; then continue; fi
  result=""
  if ! python3 - "$DIR/$file" "$old" "$new" <<'PY'
import sys
path, old, new = sys.argv[1:]
# "\\n" in the table stands for a line break, for changes that need their context to be unique.
old, new = old.replace("\\n", "\n"), new.replace("\\n", "\n")
text = open(path, encoding="utf-8").read()
if text.count(old) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(old, new))
PY
  then
    result="stale"; stale=$((stale + 1))
  elif near=$(near_tests "$file") && [ -n "$near" ] && build --target $near &&
       ! suite -R "^($(printf '%s\n' $near | paste -sd'|'))\$"; then
    failed=$(grep -m1 -oE '[0-9]+ - [A-Za-z0-9_]+' "$DIR/ctest.log" | sed 's/^[0-9]* - //' || true)
    result="killed${failed:+ ($failed)}"; killed=$((killed + 1))
  elif ! build; then
    result="no build"; nobuild=$((nobuild + 1))
  elif suite; then
    result="**survived**"; survived=$((survived + 1))
  else
    failed=$(grep -m1 -oE '[0-9]+ - [A-Za-z0-9_]+' "$DIR/ctest.log" | sed 's/^[0-9]* - //' || true)
    result="killed${failed:+ ($failed)}"; killed=$((killed + 1))
  fi
  git -C "$DIR" checkout -q -- "$file"
  echo "| $id | $file | $why | $result |"
  echo "$id: $result" >&2
done <<<"$MUTATIONS"
build || true
echo
echo "killed $killed, survived $survived, stale $stale, no build $nobuild"
