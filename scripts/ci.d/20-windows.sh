#!/usr/bin/env bash
# Windows, cross-built with mingw-w64 and run under Wine, headless:
#  1. Qt for MinGW from Debian's own source, built once per machine (scripts/qt-mingw.sh);
#  2. the whole tool and its tests cross-built into build-win/, the tests run by ctest under Wine;
#  3. the deploy folder (cmake --install) and its ZIP (cpack);
#  4. the real executable from that folder in a fresh Wine prefix on Xvfb (scripts/wine-session.sh).
# TROX_SKIP_WINDOWS_GUI=1 leaves out Qt and with it steps 1, 3 and 4: only the Qt-free Win32 layer and
# its tests are built (into build-win32/), for a quick local run.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
passed=0
seconds() { echo "$(($(date +%s) - $1)) s"; }

configure=(-G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release)
if [ "${TROX_SKIP_WINDOWS_GUI:-0}" = 1 ]; then
    echo "windows: TROX_SKIP_WINDOWS_GUI=1, the Qt-free Win32 layer only"
    build=$top/build-win32
else
    build=$top/build-win
    started=$(date +%s)
    # Prints "cache hit" or its progress and the build's duration; the prefix is its last line.
    qt=$(bash scripts/qt-mingw.sh | tail -n 1)
    echo "windows: Qt for MinGW in $qt ($(seconds "$started"))"
    configure+=(-DTROX_QT_MINGW_PREFIX="$qt" -DQT_HOST_PATH=/usr
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
fi

started=$(date +%s)
cmake -S . -B "$build" --no-warn-unused-cli "${configure[@]}" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
echo "windows: cross build done ($(seconds "$started"))"
for exe in "$build"/trox_inst_env.exe; do
    [ -f "$exe" ] && echo "windows: $(file -b "$exe")"
done

# One Wine server for the whole run, started away from ctest's output pipe.
trap 'cmake/wine-run.sh --stop "$build"' EXIT
cmake/wine-run.sh --start "$build"
ctest --test-dir "$build" --output-on-failure --no-tests=error | tee "$build/ctest.log"
passed=$((passed + $(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$build/ctest.log")))
cmake/wine-run.sh --stop "$build"
trap - EXIT

if [ "${TROX_SKIP_WINDOWS_GUI:-0}" != 1 ]; then
    deploy=$build/deploy
    rm -rf "$deploy"
    cmake --install "$build" --prefix "$deploy" --strip >/dev/null
    echo "windows: deploy folder"
    (cd "$deploy" && find . -type f | sort | sed 's/^\.\//   /')
    for needed in trox_inst_env.exe Qt6Core.dll Qt6Widgets.dll platforms/qwindows.dll \
        platforms/qoffscreen.dll libwinpthread-1.dll; do
        [ -f "$deploy/$needed" ] || { echo "FAIL: $needed missing from the deploy folder"; exit 1; }
    done
    passed=$((passed + 1))
    (cd "$build" && cpack -B "$build/package" >/dev/null)
    zip=$(ls "$build"/package/trox_inst_env-*-win64.zip)
    echo "windows: $(basename "$zip"), $(du -k "$zip" | cut -f1) KiB"
    passed=$((passed + 1))

    started=$(date +%s)
    xvfb-run -a -s "-screen 0 1280x1024x24" \
        bash scripts/wine-session.sh "$deploy" "$build/tst_win32resources.exe" "$build/session" |
        tee "$build/session.log"
    passed=$((passed + $(sed -n 's/^\([0-9]*\) passed, 0 failed$/\1/p' "$build/session.log")))
    echo "windows: Wine session done ($(seconds "$started"))"
fi
echo "windows: $passed passed, 0 failed"
