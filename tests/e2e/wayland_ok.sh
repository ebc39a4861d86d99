#!/usr/bin/env bash
# The real executable on a Wayland desktop: a headless sway, no X server at all. The dialog opens
# with the keyboard focus and a key closes it. Prints one "ok"/"FAIL" line per check.
set -uo pipefail
exe=$1
work=$(mktemp -d)
runtime=$work/runtime
mkdir -m 700 "$runtime"
mkdir -p "$work/prefix" "$work/home/.config" "$work/systems/plant/config"
sway_pid=""
cleanup() { [ -z "$sway_pid" ] || kill "$sway_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
result() { if [ "$1" = 0 ]; then echo "ok   $2"; else echo "FAIL $2"; fi; }
until_true() { # seconds, command...: polls the command until it succeeds or the time is up
    local end=$((SECONDS + $1)); shift
    until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.05; done
}
titled() { swaymsg -t get_tree 2>/dev/null | grep -q "\"name\": \"$1\""; }
focused() { swaymsg -t get_tree 2>/dev/null | python3 -c '
import json, sys
def walk(n):
    if n.get("focused"): print(n.get("name")); return
    for c in n.get("nodes", []) + n.get("floating_nodes", []): walk(c)
walk(json.load(sys.stdin))' | grep -qx "$1"; }

env -i PATH="$PATH" HOME="$work/home" XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless \
    WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c /dev/null >"$work/sway.log" 2>&1 &
sway_pid=$!
export XDG_RUNTIME_DIR=$runtime
if ! until_true 20 bash -c 'ls "$XDG_RUNTIME_DIR"/wayland-* >/dev/null 2>&1 && ls "$XDG_RUNTIME_DIR"/sway-ipc.* >/dev/null 2>&1'; then
    result 1 "Wayland: headless sway did not start: $(tail -n 2 "$work/sway.log" | tr '\n' ' ')"
    exit 0
fi
export WAYLAND_DISPLAY SWAYSOCK
WAYLAND_DISPLAY=$(basename "$(ls "$runtime"/wayland-* | grep -v lock | head -n 1)")
SWAYSOCK=$(ls "$runtime"/sway-ipc.* | head -n 1)

env -u DISPLAY QT_QPA_PLATFORM=wayland HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
    TROX_INST_ENV_PREFIX="$work/prefix" DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent \
    OV_ROOT="$work/systems" OV_SYSTEM=plant OV_SERVER_ROOT=/srv/a OV_DEVELOPER=false "$exe" \
    >"$work/tool.log" 2>&1 &
tool=$!
until_true 20 focused "Set Active TROX System"
result $? "Wayland: the dialog opens under headless sway, with the keyboard focus"
# One key per wtype run: each run brings a keyboard of its own, and while the compositor switches to
# it the toolkit sees its window lose and regain the focus, so further keys of the same run go astray.
wtype -s 500 -k Escape
rc=0
until_true 20 bash -c "! kill -0 $tool 2>/dev/null" || { kill $tool; rc=124; }
wait $tool || rc=$?
[ $rc = 0 ] && [ -z "$(find "$work/prefix" -type f)" ]
result $? "Wayland: Escape closes the dialog, exit $rc, nothing written"
