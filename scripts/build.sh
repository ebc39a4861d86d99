#!/usr/bin/env bash
# Configures and builds the tool and its tests into build/ (or $BUILD_DIR); further arguments go to
# cmake (-DTROX_BUILD_BENCH=ON adds the benchmarks).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
