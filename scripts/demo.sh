#!/usr/bin/env bash
# Installs what is missing, builds, and opens the tool on the demo system tree. Every file the tool
# reads or writes lives in a scratch folder (demo-sandbox/ or $DEMO_DIR); nothing outside it changes,
# and the change announcement goes to a private session bus.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh
bash scripts/build.sh
exe=${TROX_INST_ENV_EXE:-$top/build/app/trox_inst_env}

scratch=${DEMO_DIR:-$top/demo-sandbox}
rm -rf "$scratch"
mkdir -p "$scratch/prefix/etc/trox" "$scratch/home/.config"
cp -r demo/systems "$scratch/systems"
printf '[System]\nWorkstation=12\n' > "$scratch/prefix/etc/trox/taskbase.ini"

export TROX_INST_ENV_PREFIX="$scratch/prefix" HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config"
unset XDG_CONFIG_DIRS
export OV_ROOT="$scratch/systems" OV_SYSTEM=plant_a OV_SERVER_ROOT=/srv/trox-master \
    OV_RESERVE_SERVER_ROOT=/srv/trox-reserve OV_WORKSTATION=12 OV_DEVELOPER=false

# What a login would give the tool and a private bus: its own runtime directory, and a bus daemon
# whose complaint about the file-descriptor limit (it cannot raise it inside a container) is not shown.
mkdir -m 700 "$scratch/runtime"
export XDG_RUNTIME_DIR="$scratch/runtime"
printf '#!/bin/sh\nexec dbus-daemon "$@" 2>/dev/null\n' > "$scratch/dbus-daemon"
chmod +x "$scratch/dbus-daemon"
session() { dbus-run-session --dbus-daemon="$scratch/dbus-daemon" -- "$@"; }
# The private bus has no systemd user manager, and the tool's debug log says so on Ok; DEMO_DEBUG=1
# shows that log.
[ -z "${DEMO_DEBUG:-}" ] || export TROX_INST_ENV_DEBUG=1

snapshot() { (cd "$scratch" && find . -type f ! -name '*.lock' ! -name 'before.txt' ! -name '*.png' -print0 | sort -z | xargs -0 md5sum); }
snapshot > "$scratch/before.txt"

echo "Demo: OV_ROOT=$OV_ROOT OV_SYSTEM=$OV_SYSTEM; scratch folder $scratch"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    session "$exe"
else
    # No display: run it on a virtual one, photograph the dialog and close it.
    shot="$scratch/main-dialog.png"
    xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session --dbus-daemon="$scratch/dbus-daemon" -- bash -c '
        "$1" & pid=$!
        win=$(timeout 20 xdotool search --sync --name "^Set Active TROX System$" | head -n 1)
        if command -v import >/dev/null; then import -window root "$2"; fi
        xdotool windowfocus --sync "$win" key Escape
        wait $pid' _ "$exe" "$shot"
    echo "No display found: the dialog ran on a virtual screen (picture, when ImageMagick is installed: $shot)"
fi

changed=$(diff <(cat "$scratch/before.txt") <(snapshot) | sed -n 's/^> [0-9a-f]*  \.\///p' || true)
if [ -n "$changed" ]; then
    echo "Files the tool wrote in $scratch:"
    while IFS= read -r f; do
        echo "--- $f"
        cat "$scratch/$f"
    done <<< "$changed"
else
    echo "Nothing was written."
fi
