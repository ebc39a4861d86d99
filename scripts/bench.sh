#!/usr/bin/env bash
# Builds the benchmarks in Release into build-bench/ (or $BENCH_BUILD_DIR), generates their inputs
# in a temporary directory, and prints one table: every figure as a ratio to its floor measured in
# the same run. Exits 1 when a target is missed.
#   RUNS     processes per side for the start-up figure (default 30)
#   REPS     repetitions of each in-process figure (default 15)
#   SIZES    directory and list sizes (default 1000,10000,100000)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$top/build-bench}
runs=${RUNS:-30}
reps=${REPS:-15}
sizes=${SIZES:-1000,10000,100000}

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTROX_BUILD_TESTS=OFF -DTROX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target bench_start bench_start_floor bench_inprocess bench_table >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/trox-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
bin=$build/bench

# The start-up sandbox: the six values set, the system directory present, machine and user files
# kept under the work directory, and no session bus to talk to.
mkdir -p "$work/start/systems/alpha/config" "$work/start/prefix" "$work/start/home/.config"
export QT_QPA_PLATFORM=offscreen
export TROX_INST_ENV_PREFIX=$work/start/prefix HOME=$work/start/home XDG_CONFIG_HOME=$work/start/home/.config
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus
unset XDG_CONFIG_DIRS
export OV_ROOT=$work/start/systems OV_SYSTEM=alpha OV_SERVER_ROOT=/srv/trox/systems
export OV_RESERVE_SERVER_ROOT=/srv/trox-reserve/systems OV_WORKSTATION=12 OV_DEVELOPER=false

echo "P1: $runs start-ups of each, wall time (hyperfine) and peak RSS (time)..." >&2
hyperfine --shell=none --warmup 3 --runs "$runs" --style none --export-json "$work/start.json" \
    -n start "$bin/bench_start" -n floor "$bin/bench_start_floor" >/dev/null
for ((i = 0; i < runs; i++)); do
    for side in start floor; do
        program=$bin/bench_start
        [ "$side" = floor ] && program=$bin/bench_start_floor
        echo "$side $(/usr/bin/time -f %M "$program" 2>&1 >/dev/null | tail -n 1)"
    done
done >"$work/rss.txt"

echo "P2-P4: $reps interleaved repetitions at sizes $sizes..." >&2
mkdir -p "$work/inprocess"
"$bin/bench_inprocess" --workdir="$work/inprocess" --sizes="$sizes" \
    --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
    --benchmark_format=json --benchmark_out="$work/inprocess.json" --benchmark_out_format=json \
    >/dev/null 2>"$work/inprocess.log" || { cat "$work/inprocess.log" >&2; exit 1; }

"$bin/bench_table" --start "$work/start.json" --rss "$work/rss.txt" --inprocess "$work/inprocess.json"
