#!/usr/bin/env bash
# Builds Velline's Debian package with CPack and prints its path.
#   scripts/package.sh [CMAKE_OPTIONS...]
# Extra options go to CMake, e.g. a release build that updates itself from a signed feed:
#   scripts/package.sh -DVELLINE_UPDATE_FEED_URL=https://example.org/appcast.xml \
#                      -DVELLINE_UPDATE_PUBLIC_KEY=<base64 key from vellinectl release keygen>
# Without them the package is updated by the package manager alone.
# BUILD_DIR (default build-package) is the build folder; the package lands in it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${BUILD_DIR:-build-package}
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLINE_BUILD_TESTS=OFF \
    -DVELLINE_BUILD_BENCHMARKS=OFF "$@" >/dev/null
elif [ $# -gt 0 ]; then
  cmake "$BUILD" "$@" >/dev/null
fi
cmake --build "$BUILD" -j"$(nproc)"
rm -f "$BUILD"/velline_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)
ls "$BUILD"/velline_*.deb
