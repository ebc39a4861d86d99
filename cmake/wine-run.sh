#!/bin/sh
# Runs a Windows executable under Wine, headless, in a prefix of its own inside the build folder.
#   wine-run.sh PROGRAM.exe [ARGS...]   run it (the build folder is found above the program)
#   wine-run.sh --start BUILD_DIR       make the prefix if needed, start a persistent server
#   wine-run.sh --stop BUILD_DIR        stop that server
# TROX_WINEPREFIX, when set, names the prefix instead. TROX_WINE_QTEST=1 marks a Qt Test program: with
# no console, Qt Test sends its report to the debugger instead of stdout, so it is written to a file
# and printed from there.
set -eu

build_dir_above() {
    dir=$(cd "$(dirname "$1")" && pwd)
    while [ ! -f "$dir/CMakeCache.txt" ]; do
        [ "$dir" != / ] || { echo "wine-run.sh: no build folder above $1" >&2; exit 2; }
        dir=$(dirname "$dir")
    done
    echo "$dir"
}

mode=run
case "${1:-}" in
--start | --stop)
    mode=${1#--}
    [ $# -eq 2 ] || { echo "usage: wine-run.sh --$mode BUILD_DIR" >&2; exit 2; }
    build=$(cd "$2" && pwd)
    ;;
"")
    echo "usage: wine-run.sh PROGRAM [ARGS...]" >&2
    exit 2
    ;;
*)
    build=$(build_dir_above "$1")
    ;;
esac

# Never the user's own ~/.wine, never a display, no first-run downloads or menu entries.
export WINEPREFIX="${TROX_WINEPREFIX:-$build/wineprefix}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
# Folders of DLLs the program loads (Qt, the MinGW runtime) as host paths separated by colons.
if [ -n "${TROX_WINE_DLL_PATH:-}" ]; then
    WINEPATH=""
    old_ifs=$IFS
    IFS=:
    for dir in $TROX_WINE_DLL_PATH; do
        WINEPATH="${WINEPATH:+$WINEPATH;}Z:$(printf '%s' "$dir" | tr / '\\')"
    done
    IFS=$old_ifs
    export WINEPATH
fi

# The Wine server and its services inherit stdout and stderr; kept away from a pipe they cannot
# hold a caller such as ctest waiting for its output to end.
quiet() { "$@" </dev/null >/dev/null 2>&1; }

make_prefix() {
    [ ! -f "$WINEPREFIX/.trox-ready" ] || return 0
    mkdir -p "$WINEPREFIX"
    quiet wineserver -k || true
    quiet wine wineboot -i
    # Windows need a display driver; "null" keeps them real but invisible.
    quiet wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
    quiet wineserver -k || true
    quiet wineserver -w || true
    touch "$WINEPREFIX/.trox-ready"
}

case $mode in
start)
    make_prefix
    quiet wineserver -k || true
    quiet wineserver -w || true
    quiet wineserver -p
    quiet wine wineboot
    ;;
stop)
    quiet wineserver -k || true
    quiet wineserver -w || true
    ;;
run)
    make_prefix
    [ "${TROX_WINE_QTEST:-0}" = 1 ] || exec wine "$@"
    report=$(mktemp "$build/qtest-report.XXXXXX")
    trap 'rm -f "$report"' EXIT
    wine "$@" -o "Z:$(printf '%s' "$report" | tr / '\\'),txt" &
    program=$!
    # Followed while it is written, so a run stopped for its time limit shows how far it got.
    tail -s 0.1 -n +1 -f --pid=$program "$report"
    status=0
    wait $program || status=$?
    exit "$status"
    ;;
esac
