#!/usr/bin/env bash
# An operator's whole session on a real X server: open the workstation editor, type a number and
# accept it, tick developer mode, press Ok, dismiss the restart notice. Then the sandbox must hold
# exactly what was chosen. A second start, whose inherited environment still has the old number,
# must show the stored one: its Ok without changes keeps it in every file. Enter on a check box
# opens nothing, and a very long root keeps the dialog on the screen. Keyboard only, as the dialog's
# focus chain offers it; windows are waited for by title.
set -euo pipefail
exe=$1
top=$(cd "$(dirname "$0")/../.." && pwd)
unset QT_QPA_PLATFORM
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prefix/etc" "$work/home/.config"
cp -r "$top/demo/systems" "$work/systems"
export TROX_INST_ENV_PREFIX="$work/prefix" HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
unset XDG_CONFIG_DIRS
export OV_ROOT="$work/systems" OV_SYSTEM=plant_a OV_SERVER_ROOT=/srv/trox-master \
    OV_RESERVE_SERVER_ROOT=/srv/trox-reserve OV_WORKSTATION=12 OV_DEVELOPER=false

fail() { echo "FAIL: $*"; exit 1; }
wait_window() { timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1; }
wait_gone() { while xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; do sleep 0.05; done; }
finished() { # what went wrong when the tool does not exit
    rc=0; timeout 30 tail --pid=$pid -f /dev/null || fail "$1"
    wait $pid || rc=$?
    [ $rc -eq 0 ] || fail "exit code $rc"
}
keys() { local win=$1; shift; xdotool windowfocus --sync "$win"; for k in "$@"; do xdotool key --clearmodifiers "$k"; done; }

"$exe" & pid=$!
main=$(wait_window "Set Active TROX System") || fail "main window did not appear"
# Focus starts on the root; each value comes before its Set button, ten tabs reach the workstation's,
# and Enter presses the focused button as Space does.
keys "$main" Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Return
editor=$(wait_window "Set Workstation Number") || fail "workstation editor did not open"
xdotool windowfocus --sync "$editor" type --delay 20 "40"
keys "$editor" Return
wait_gone "Set Workstation Number"
keys "$main" Tab space Tab Return
notice=$(wait_window "Information") || fail "restart notice did not appear"
keys "$notice" Return
finished "the tool did not exit"

expect() { # file, expected contents
    local actual
    actual=$(cat "$1" 2>/dev/null) || fail "$1 missing"
    [ "$actual" = "$2" ] || fail "$1 holds '$actual', expected '$2'"
}
profiles_hold() {
    expect "$work/prefix/etc/trox/xsv.ini" $'[Network]\nWorkstation='"$1"
    expect "$work/prefix/etc/trox/taskbase.ini" $'[System]\nWorkstation='"$1"
    grep -q "^Workstation=$1"$'\r$' "$work/systems/plant_a/config/system/trox_system.ini" ||
        fail "system profile does not hold $1"
}
expect "$work/prefix/etc/environment.d/60-trox_inst_env.conf" $'OV_WORKSTATION="40"\nOV_DEVELOPER="true"'
profiles_hold 40
grep -q '^MasterPort=5012' "$work/systems/plant_a/config/system/trox_system.ini" || fail "system profile lost a key"
grep -q '^server=/srv/trox-master$' "$work/prefix/etc/xdg/Quarnby Technology/trox_inst_env.conf" ||
    fail "last known server not stored"
[ ! -e "$work/home/.config/environment.d" ] || fail "per-user environment written although machine-wide worked"

# The inherited environment still says 12; the store says 40, and that is what Ok keeps.
"$exe" & pid=$!
main=$(wait_window "Set Active TROX System") || fail "main window did not appear again"
keys "$main" Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Return
finished "Ok did not close the tool"
profiles_hold 40

# Return on a check box must not reach a Set button: Escape then closes the tool itself, where an
# editor opened by Return would take the Escape and leave the tool running. Six and eleven tabs from
# the root reach "Work stand-alone" and "Developer Mode".
for tabs in 6 11; do
    "$exe" & pid=$!
    main=$(wait_window "Set Active TROX System") || fail "main window did not appear for Return"
    tab_keys=()
    for _ in $(seq $tabs); do tab_keys+=(Tab); done
    keys "$main" "${tab_keys[@]}" Return Escape
    finished "Return after $tabs tabs opened a window"
done

# A 250-character root: the dialog stays inside the 1280 x 1024 screen, and so does its Ok button.
OV_ROOT="/$(printf 'r%.0s' $(seq 249))" "$exe" & pid=$!
main=$(wait_window "Set Active TROX System") || fail "main window did not appear with a long root"
eval "$(xdotool getwindowgeometry --shell "$main")"
if [ "$X" -lt 0 ] || [ "$Y" -lt 0 ] || [ $((X + WIDTH)) -gt 1280 ] || [ $((Y + HEIGHT)) -gt 1024 ]; then
    fail "a long root puts the dialog at $X,$Y size ${WIDTH}x$HEIGHT, off a 1280x1024 screen"
fi
keys "$main" Escape
finished "Escape did not close the tool with a long root"
echo "4 passed, 0 failed"
