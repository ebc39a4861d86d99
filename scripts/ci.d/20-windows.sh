#!/usr/bin/env bash
# Cross-builds the Win32 layer, its tests and a stand-in executable with the tool's resources using
# mingw-w64, and runs the tests under Wine, headless, in a prefix inside build-win/.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
build=$top/build-win

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTROX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)"

# One Wine server for the whole run, started away from ctest's output pipe.
trap 'cmake/wine-run.sh --stop "$build"' EXIT
cmake/wine-run.sh --start "$build"
ctest --test-dir "$build" --output-on-failure --no-tests=error
