#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan into build-fuzz/ and runs each for
# FUZZ_SECONDS (60 by default), starting from the seed corpus in tests/fuzz/corpus/<target>.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
build=$top/build-fuzz
seconds=${FUZZ_SECONDS:-60}
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_CXX_FLAGS="$flags" -DTROX_FUZZ=ON -DTROX_BUILD_BENCH=OFF >/dev/null
targets=(envfile envgenerator profilefile workstations)
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
export LSAN_OPTIONS=suppressions=$top/tests/fuzz/lsan.supp QT_QPA_PLATFORM=offscreen
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    log=$build/fuzz_$target.log
    mkdir -p "$corpus"
    echo "-- fuzz_$target for ${seconds}s"
    status=0
    "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$build/fuzz_$target-" "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
    grep -E '^(#[0-9]+ +(DONE|pulse)|stat::number_of_executed_units|Done)' "$log" | tail -n 3
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$log"
        exit "$status"
    fi
done
