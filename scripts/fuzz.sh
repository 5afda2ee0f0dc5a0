#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs them.
#   scripts/fuzz.sh                      every target for 30 seconds
#   scripts/fuzz.sh --seconds 3600       longer runs
#   scripts/fuzz.sh --runs 10000000 fuzz_chart
#                                        a fixed number of executions of one target
#   scripts/fuzz.sh --max-len 4096 ...   longest input tried (default 65536); shorter inputs run
#                                        many times faster once the corpus has grown
# New inputs go to build-fuzz/corpus/TARGET (the seeds under fuzz/corpus stay untouched);
# a crash leaves its input in build-fuzz/artifacts/ and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER=30
RUNS=""
MAX_LEN=65536
TARGETS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) SECONDS_PER="$2"; shift 2 ;;
    --runs) RUNS="$2"; shift 2 ;;
    --max-len) MAX_LEN="$2"; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    *) TARGETS+=("$1"); shift ;;
  esac
done
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(fuzz_chart fuzz_stream fuzz_prefs fuzz_logo)

BUILD=build-fuzz
if [ ! -f "$BUILD/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DVELLINE_FUZZ=ON \
    -DVELLINE_BUILD_TESTS=OFF -DVELLINE_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    >/dev/null
fi
cmake --build "$BUILD" --target "${TARGETS[@]}"

seeds() {
  case "$1" in
    fuzz_chart) echo tests/data/chart ;;
    fuzz_stream) echo fuzz/corpus/stream ;;
    fuzz_prefs) echo fuzz/corpus/prefs ;;
    fuzz_logo) echo fuzz/corpus/logo ;;
  esac
}

status=0
mkdir -p "$BUILD/artifacts"
for t in "${TARGETS[@]}"; do
  corpus="$BUILD/corpus/$t"
  mkdir -p "$corpus"
  limit=(-max_total_time="$SECONDS_PER")
  [ -n "$RUNS" ] && limit=(-runs="$RUNS")
  log="$BUILD/$t.log"
  start=$(date +%s)
  # Leaks inside Qt's global caches are not ours to chase here; memory growth still is
  # (rss_limit; FUZZ_RSS_MB raises it for the short CI runs, which look for crashes).
  if ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
     UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     "$BUILD/fuzz/$t" "${limit[@]}" -rss_limit_mb="${FUZZ_RSS_MB:-2048}" -max_len="$MAX_LEN" -print_final_stats=1 \
       -artifact_prefix="$BUILD/artifacts/$t-" "$corpus" "$(seeds "$t")" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED; status=1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  echo "$t: $result, $runs executions in $(( $(date +%s) - start )) s, corpus $(ls "$corpus" | wc -l) files (log $log)"
done
exit $status
