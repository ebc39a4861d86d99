#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the Qt suites under ctest (offscreen, plus
# real-window checks under Xvfb), then each further suite in scripts/ci.d (Wine, sanitizers, ...).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh
# The benchmarks are built too, so that they never rot; bench_smoke runs them once.
bash scripts/build.sh -DTROX_BUILD_BENCH=ON
( cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j"$(nproc)" )
for suite in scripts/ci.d/*.sh; do
    [ -e "$suite" ] || continue
    echo "== $(basename "$suite")"
    bash "$suite"
done
echo "all suites passed"
