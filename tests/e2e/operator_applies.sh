#!/usr/bin/env bash
# An operator's whole session on a real X server: open the workstation editor, type a number and
# accept it, tick developer mode, press Ok, dismiss the restart notice. Then the sandbox must hold
# exactly what was chosen. Keyboard only, as the dialog's focus chain offers it; windows are waited
# for by title.
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
keys() { local win=$1; shift; xdotool windowfocus --sync "$win"; for k in "$@"; do xdotool key --clearmodifiers "$k"; done; }

"$exe" & pid=$!
main=$(wait_window "Set Active TROX System") || fail "main window did not appear"
# Focus starts on the first Set button; five tabs reach the workstation's.
keys "$main" Tab Tab Tab Tab Tab space
editor=$(wait_window "Set Workstation Number") || fail "workstation editor did not open"
xdotool windowfocus --sync "$editor" type --delay 20 "42"
keys "$editor" Return
wait_gone "Set Workstation Number"
keys "$main" Tab space Tab space
notice=$(wait_window "Information") || fail "restart notice did not appear"
keys "$notice" Return
rc=0; timeout 30 tail --pid=$pid -f /dev/null || fail "the tool did not exit"
wait $pid || rc=$?
[ $rc -eq 0 ] || fail "exit code $rc"

expect() { # file, expected contents
    local actual
    actual=$(cat "$1" 2>/dev/null) || fail "$1 missing"
    [ "$actual" = "$2" ] || fail "$1 holds '$actual', expected '$2'"
}
expect "$work/prefix/etc/environment.d/60-trox_inst_env.conf" $'OV_WORKSTATION="42"\nOV_DEVELOPER="true"'
expect "$work/prefix/etc/trox/xsv.ini" $'[Network]\nWorkstation=42'
expect "$work/prefix/etc/trox/taskbase.ini" $'[System]\nWorkstation=42'
grep -q $'^Workstation=42\r$' "$work/systems/plant_a/config/system/trox_system.ini" || fail "system profile not updated"
grep -q '^MasterPort=5012' "$work/systems/plant_a/config/system/trox_system.ini" || fail "system profile lost a key"
grep -q '^server=/srv/trox-master$' "$work/prefix/etc/xdg/Quarnby Technology/trox_inst_env.conf" ||
    fail "last known server not stored"
[ ! -e "$work/home/.config/environment.d" ] || fail "per-user environment written although machine-wide worked"
echo "1 passed, 0 failed"
