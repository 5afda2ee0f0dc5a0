#!/usr/bin/env bash
# Installs what Velline needs, builds it and runs the whole test suite.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=build
EXTRA=()
if [ "${1:-}" = "--sanitize" ]; then
  BUILD=build-asan
  EXTRA=(-DVELLINE_SANITIZE=ON -DVELLINE_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug)
else
  EXTRA=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
cmake -S . -B "$BUILD" -G Ninja -DVELLINE_WERROR=ON "${EXTRA[@]}" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)"
