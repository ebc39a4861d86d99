#!/usr/bin/env bash
# Builds Qt for 64-bit Windows (MinGW) from Debian's own qt6-base source package, once per machine,
# into a cache outside the checkout, and prints the install prefix as its last line. Does nothing
# but print the prefix when that build is already cached.
#
# TROX_QT_MINGW_CACHE  where builds are kept (default /var/cache/trox_inst_env/qt-mingw as root,
#                      otherwise ${XDG_CACHE_HOME:-~/.cache}/trox_inst_env/qt-mingw)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
log() { echo "qt-mingw: $*" >&2; }

if [ "$(id -u)" -eq 0 ]; then
    default_cache=/var/cache/trox_inst_env/qt-mingw
else
    default_cache=${XDG_CACHE_HOME:-$HOME/.cache}/trox_inst_env/qt-mingw
fi
cache=${TROX_QT_MINGW_CACHE:-$default_cache}

# The host tools must be the very version that is cross-built: take it from the installed package.
version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
upstream=${version%%-*}
upstream=${upstream%%+*}

options=(-release -shared -xplatform win32-g++ -qt-host-path /usr -opengl no
    -nomake examples -nomake tests -no-pch
    -no-feature-sql -no-feature-network -no-feature-printsupport -no-feature-concurrent
    # The dfsg tarball drops the third-party tablet headers the windows platform plugin would include.
    -no-feature-tabletevent
    -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre -qt-doubleconversion)
toolchain_text='set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")'
key=$(printf '%s\n' "$version" "${options[*]}" "$toolchain_text" | sha256sum | cut -c1-12)
prefix=$cache/$upstream-$key

cache_hit() {
    [ -f "$prefix/.complete" ] || return 1
    log "cache hit: Qt $version for MinGW in $prefix"
    echo "$prefix"
}
cache_hit && exit 0
# One build at a time per cache: a second run waits for the first and then finds its result.
mkdir -p "$cache"
exec 9>"$cache/.lock"
if ! flock -n 9; then
    log "another run is building Qt for MinGW; waiting for it"
    flock 9
fi
cache_hit && exit 0
log "cache miss: building Qt $version for MinGW into $prefix"
started=$(date +%s)

# A source entry mirroring the machine's own Debian entry, so apt-get source finds the same version.
list=/etc/apt/sources.list.d/trox-qt-mingw-src.sources
if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
    entry=""
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -e "$file" ] && [ "$file" != "$list" ] || continue
        # deb822 stanzas that carry Debian's own archive, with their type turned into deb-src.
        entry+=$(awk -v RS= -v ORS='\n\n' '/(^|\n)Types:[^\n]*deb/ && /debian/ {
            gsub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$file")
        entry+=$'\n'
    done
    if [ -f /etc/apt/sources.list ]; then
        while read -r line; do
            entry+="$line"$'\n'
        done < <(sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' /etc/apt/sources.list)
    fi
    [ -n "${entry//[[:space:]]/}" ] || { log "no Debian entry in the apt sources to mirror"; exit 1; }
    case $entry in
    *Types:*) printf '%s' "$entry" | $sudo tee "$list" >/dev/null ;;
    *) printf '%s' "$entry" | $sudo tee "${list%.sources}.list" >/dev/null ;;
    esac
    log "added a deb-src entry mirroring the machine's Debian entry"
    $sudo apt-get update -qq
fi

work=$cache/work-$upstream-$key
rm -rf "$work"
mkdir -p "$work/src" "$work/build"
# The exact Debian revision when the archive still has it; any revision of the same upstream
# release otherwise, which the host tools accept.
(cd "$work/src" && { apt-get source --download-only qt6-base="$version" >/dev/null 2>&1 ||
    apt-get source --download-only qt6-base >/dev/null; })
case $(ls "$work"/src/qt6-base_*.dsc) in
*"_$upstream"*) ;;
*) log "the archive's qt6-base is not upstream $upstream"; exit 1 ;;
esac
dsc=$(ls "$work"/src/qt6-base_*.dsc)
dpkg-source --no-check -x "$dsc" "$work/src/qt6-base" >/dev/null
log "source unpacked ($(($(date +%s) - started)) s)"
printf '%s\n' "$toolchain_text" >"$work/toolchain.cmake"

cd "$work/build"
"$work/src/qt6-base/configure" -prefix "$prefix" "${options[@]}" -- \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >configure.log 2>&1 ||
    { tail -40 configure.log >&2; log "configure failed"; exit 1; }
log "configured ($(($(date +%s) - started)) s)"

# Ninja's own progress, thinned to one line a minute, so a long build shows it is alive. Read line by
# line in the shell: awk reads a pipe in blocks and would report minutes late.
progress() {
    local line last=-60
    while IFS= read -r line; do
        [[ $line == \[*/*\]* ]] && ((SECONDS - last >= 60)) || continue
        last=$SECONDS
        log "${line%%]*}] ($(($(date +%s) - started)) s)"
    done
}
set +e
nice -n 5 cmake --build . --parallel "$(nproc)" 2>&1 | tee build.log | progress
status=${PIPESTATUS[0]}
set -e
[ "$status" -eq 0 ] || { grep -m5 -B2 -A10 'error' build.log >&2 || true; log "build failed"; exit 1; }
cmake --install . >install.log 2>&1 || { tail -20 install.log >&2; log "install failed"; exit 1; }
touch "$prefix/.complete"
cd /
rm -rf "$work"
log "built and installed in $(($(date +%s) - started)) s"
echo "$prefix"
