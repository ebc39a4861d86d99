#!/usr/bin/env bash
# Runs the Qt suites of build/ (or $BUILD_DIR) a second time while two CPU-bound processes compete
# for the machine: a test that waits a fixed time instead of for the thing it needs fails here.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$top/build}

load=()
stop_load() { [ ${#load[@]} -eq 0 ] || kill "${load[@]}" 2>/dev/null || true; }
trap stop_load EXIT
for _ in 1 2; do
    yes >/dev/null &
    load+=($!)
done

cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j"$(nproc)" -R '^tst_'
