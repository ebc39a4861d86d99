#!/usr/bin/env bash
# Builds the benchmarks in Release into build-bench/ (or $BENCH_BUILD_DIR), generates their inputs
# in a temporary directory, and prints one table: every figure as a ratio to its floor measured in
# the same run. Exits 1 when a target is missed.
#   RUNS     rounds of the whole-process figures, one run of each side per round (default 30)
#   REPS     repetitions of each in-process figure (default 15)
#   SIZES    directory and list sizes (default 1000,10000,100000)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$top/build-bench}
runs=${RUNS:-30}
reps=${REPS:-15}
sizes=${SIZES:-1000,10000,100000}

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTROX_BUILD_TESTS=OFF -DTROX_BUILD_BENCH=ON >/dev/null
targets=(bench_start bench_start_form bench_start_floor bench_core_floor bench_processes bench_inprocess bench_table)
# The command line is measured when this checkout has it.
has_cli=false
if grep -q '/trox_inst_env_cli\.dir$' "$build/CMakeFiles/TargetDirectories.txt"; then
    has_cli=true
    targets+=(trox_inst_env_cli)
fi
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]}" >/dev/null

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

sides=(-- start "$bin/bench_start" -- form "$bin/bench_start_form" -- empty "$bin/bench_start_floor"
    -- core "$bin/bench_core_floor")
if $has_cli; then
    sides+=(-- cli "$(find "$build" -name trox_inst_env_cli -type f -perm -u+x | head -n 1)" show)
else
    echo "the command line is not part of this checkout: its row is skipped" >&2
fi
echo "P1 and the command line: $runs interleaved rounds of whole processes..." >&2
"$bin/bench_processes" "$runs" 3 "${sides[@]}" >"$work/processes.txt"

# A login shell's start with the profile script against the same shell without it, in the same
# rounds: the script reading both of the tool's files itself (under the prefix), the same with
# machine files of 64 KiB and 512 KiB (the cost per KiB must not grow), and, without the prefix, the
# machine's real folders and the user's file (read by the shell itself where every file is plain,
# else by systemd's generator).
login=$work/login
mkdir -p "$login/prefix/etc/environment.d" "$login/home/.config/environment.d" "$login/big/etc/environment.d" \
    "$login/mid/etc/environment.d"
printf 'OV_ROOT="/srv/trox/systems"\nOV_SYSTEM="alpha"\nOV_SERVER_ROOT="/srv/trox/systems"\nOV_RESERVE_SERVER_ROOT="/srv/r"\nOV_WORKSTATION="12"\nOV_DEVELOPER="false"\n' \
    >"$login/prefix/etc/environment.d/60-trox_inst_env.conf"
printf 'OV_WORKSTATION="13"\n' >"$login/home/.config/environment.d/61-trox_inst_env.conf"
{
    cat "$login/prefix/etc/environment.d/60-trox_inst_env.conf"
    for i in $(seq 8192); do printf '# %s padding to a large file, read and skipped by every login\n' "$i"; done
} | head -c 524288 >"$login/big/etc/environment.d/60-trox_inst_env.conf"
head -c 65536 "$login/big/etc/environment.d/60-trox_inst_env.conf" >"$login/mid/etc/environment.d/60-trox_inst_env.conf"
shell=("$(command -v env)" -i "HOME=$login/home" PATH=/usr/bin:/bin)
script=$top/packaging/trox_inst_env.sh
echo "login shells: $runs interleaved rounds..." >&2
"$bin/bench_processes" "$runs" 3 -- shell "${shell[@]}" bash -l -c : \
    -- script "${shell[@]}" "TROX_INST_ENV_PREFIX=$login/prefix" bash -l -c ". '$script'" \
    -- scriptmid "${shell[@]}" "TROX_INST_ENV_PREFIX=$login/mid" bash -l -c ". '$script'" \
    -- scriptbig "${shell[@]}" "TROX_INST_ENV_PREFIX=$login/big" bash -l -c ". '$script'" \
    -- generator "${shell[@]}" bash -l -c ". '$script'" >"$work/login.txt"

echo "P2-P4: $reps interleaved repetitions at sizes $sizes..." >&2
mkdir -p "$work/inprocess"
"$bin/bench_inprocess" --workdir="$work/inprocess" --sizes="$sizes" \
    --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
    --benchmark_format=json --benchmark_out="$work/inprocess.json" --benchmark_out_format=json \
    >/dev/null 2>"$work/inprocess.log" || { cat "$work/inprocess.log" >&2; exit 1; }

"$bin/bench_table" --processes "$work/processes.txt" --inprocess "$work/inprocess.json" --login "$work/login.txt"
