#!/usr/bin/env bash
# Photographs the real tool on a virtual screen, on the demo system tree: the main dialog and each of
# the five editors, opened with the keyboard the way an operator would, into docs/screenshots/*.png.
# Every editor is closed with Escape and the main dialog with Escape too, so nothing is written
# outside the scratch folder. Fails when a window does not appear, so stale pictures are not kept
# quietly.
#
#   scripts/screenshots.sh [path-to-executable]     (default: build/app/trox_inst_env, built if missing)
# SCREENSHOT_DIR=/some/dir puts the pictures there instead (CI, to compare with the committed ones).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath -m "${1:-$top/build/app/trox_inst_env}")
cd "$top"
if [ ! -x "$exe" ]; then
    bash scripts/install-deps.sh
    bash scripts/build.sh
fi
out=${SCREENSHOT_DIR:-$top/docs/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

if [ -z "${TROX_SHOTS_ON_DISPLAY:-}" ]; then
    export TROX_SHOTS_ON_DISPLAY=1
    export SCREENSHOT_DIR=$out
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$exe"
fi

# A fixed scratch path, so that the paths shown in the pictures do not change from run to run.
scratch=/tmp/trox-screenshots
rm -rf "$scratch"
trap 'rm -rf "$scratch"' EXIT
prefs="$scratch/prefix/etc/xdg/Quarnby Technology"
mkdir -p "$scratch/prefix/etc/trox" "$scratch/home/.config" "$prefs"
cp -r demo/systems "$scratch/systems"
# Earlier choices, so the editors' recent-values lists look as they do on a workstation in use.
printf '[recentRoot]\n0=%s\n1=/opt/trox/systems\n\n[recentServer]\n0=/srv/trox-master\n1=/srv/trox-reserve\n2=/mnt/plant-server/trox\n' \
    "$scratch/systems" > "$prefs/trox_inst_env.conf"

unset QT_QPA_PLATFORM XDG_CONFIG_DIRS
export TROX_INST_ENV_PREFIX="$scratch/prefix" HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config"
export XDG_RUNTIME_DIR="$scratch/runtime" DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
mkdir -m 700 "$XDG_RUNTIME_DIR"
export OV_ROOT="$scratch/systems" OV_SYSTEM=plant_a OV_SERVER_ROOT=/srv/trox-master \
    OV_RESERVE_SERVER_ROOT=/srv/trox-reserve OV_WORKSTATION=12 OV_DEVELOPER=false

fail() { echo "FAIL: $*" >&2; exit 1; }
wait_window() { timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1; }
keys() { xdotool windowfocus --sync "$1" key --clearmodifiers "${@:2}"; }
shoot() {
    # Late enough for the first paint, early enough that a line edit's cursor has not blinked off yet.
    sleep 0.25
    import -window "$1" "$out/$2.png"
    mogrify -strip "$out/$2.png" # no time stamps: an unchanged window gives an unchanged file
    echo "$out/$2.png"
}
# Presses keys in the main dialog, photographs the editor they open, and closes it with Escape.
editor() {
    local keys_=$1 title=$2 name=$3 win
    # shellcheck disable=SC2086 # the key list is meant to split
    keys "$main" $keys_
    win=$(wait_window "$title") || fail "\"$title\" did not open"
    shoot "$win" "$name"
    keys "$win" Escape
    while xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1; do sleep 0.05; done
}

"$exe" & pid=$!
main=$(wait_window "Set Active TROX System") || fail "the main dialog did not appear"
shoot "$main" main-dialog

# The focus starts on the root; Tab walks each value and then its Set button in reading order, past
# the stand-alone box between the server and the reserve server.
editor "Tab space" "Set root path for Orvane Control Systems" set-root
editor "Tab Tab space" "Set current system" set-system
editor "Tab Tab space" "Set path to system server" set-server
editor "Tab Tab Tab Tab Tab space" "Set Workstation Number" set-workstation

# The workstation browser opens from the number editor's Browse button.
keys "$main" space
number=$(wait_window "Set Workstation Number") || fail "the number editor did not open again"
keys "$number" Tab space
browser=$(wait_window "Browse Workstations") || fail "the workstation browser did not open"
shoot "$browser" browse-workstations
keys "$browser" Escape
keys "$number" Escape
while xdotool search --onlyvisible --name "^Set Workstation Number\$" >/dev/null 2>&1; do sleep 0.05; done
keys "$main" Escape
wait "$pid"

# Escape everywhere: the tool must not have written a file.
written=$(find "$scratch/prefix" "$scratch/home" "$scratch/systems" -newer "$prefs/trox_inst_env.conf" -type f)
[ -z "$written" ] || fail "the tool wrote files: $written"
