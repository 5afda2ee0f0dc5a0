#!/usr/bin/env bash
# Installs what Velline needs, builds it and starts it. Extra arguments go to velline
# (for example --demo to run against the built-in simulated feed).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
if [ -x build/src/app/velline ]; then
  exec build/src/app/velline "$@"
fi
exec build/tools/vellinectl/vellinectl quote AVGO AAPL META MSFT ^GSPC LMT NVDA IBM MDB PLTR
