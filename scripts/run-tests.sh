#!/usr/bin/env bash
# Builds Vaxel and runs the whole test suite headless. Used as is by CI.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 4)
[ "$jobs" -gt 8 ] && jobs=8

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"

export QT_QPA_PLATFORM=offscreen
ctest --test-dir build -L unit --output-on-failure -j "$jobs"
