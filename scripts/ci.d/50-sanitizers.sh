#!/usr/bin/env bash
# Builds the tool and every test once with AddressSanitizer and UndefinedBehaviorSanitizer (g++)
# into build-asan/ and runs the whole suite under ctest, end-to-end tests included.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
build=$top/build-asan
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTROX_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" --parallel "$(nproc)"

# Leaks are still detected; the suppressions name only what Qt and its libraries keep for the life of
# the process. Helpers started by the tests (storehelper, the bus probe service) inherit these.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$top/tests/fuzz/lsan.supp:print_suppressions=0
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j"$(nproc)" --timeout 900
