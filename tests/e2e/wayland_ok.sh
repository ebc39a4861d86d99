#!/usr/bin/env bash
# The real executable on a Wayland desktop: a headless sway, no X server at all, on a screen short
# enough that the middle of the form scrolls. Escape closes the dialog without a trace; then an
# operator's keyboard-only session: Tab to Developer Mode, tick it, Tab to Ok, press it, dismiss the
# restart notice, and the sandbox holds the new value. Prints one "ok"/"FAIL" line per check.
set -uo pipefail
exe=$1
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
runtime=$work/runtime
mkdir -m 700 "$runtime"
mkdir -p "$work/prefix" "$work/home/.config"
cp -r "$top/demo/systems" "$work/systems"
sway_pid="" tool="" holder=""
cleanup() {
    [ -z "$tool" ] || kill "$tool" 2>/dev/null
    [ -z "$holder" ] || kill "$holder" 2>/dev/null
    [ -z "$sway_pid" ] || kill "$sway_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
result() { if [ "$1" = 0 ]; then echo "ok   $2"; else echo "FAIL $2"; fi; }
until_true() { # seconds, command...: polls the command until it succeeds or the time is up
    local end=$((SECONDS + $1)); shift
    until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.05; done
}
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

# A keyboard for the whole session, there before the tool starts: the window has its keyboard from
# the start, rather than gaining one with every run of wtype below and losing it again at its end,
# when keys sent before the toolkit has set up the new keyboard go astray.
wtype -s 600000 -k Shift_L &
holder=$!
keyboard() { swaymsg -t get_inputs 2>/dev/null | grep -q '"type": "keyboard"'; }
until_true 20 keyboard || result 1 "Wayland: no virtual keyboard appeared in sway"
start() { # the tool as an operator's session starts it, with the keyboard focus on its window
    env -u DISPLAY QT_QPA_PLATFORM=wayland HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
        TROX_INST_ENV_PREFIX="$work/prefix" DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent \
        OV_ROOT="$work/systems" OV_SYSTEM=plant_a OV_SERVER_ROOT=/srv/trox-master \
        OV_RESERVE_SERVER_ROOT=/srv/trox-reserve OV_WORKSTATION=12 OV_DEVELOPER=false "$exe" \
        >>"$work/tool.log" 2>&1 &
    tool=$!
    until_true 20 focused "Set Active TROX System"
}
titled() { swaymsg -t get_tree 2>/dev/null | grep -q "\"name\": \"$1\""; }
finished() { # rc: the tool's exit code, or 124 when it is still running after 20 s; stuck: why
    rc=0 stuck=""
    if ! until_true 20 bash -c "! kill -0 $tool 2>/dev/null"; then
        rc=124
        titled "Set Active TROX System" || stuck=" (its windows closed, the process did not end)"
        kill $tool
    fi
    [ $rc = 124 ] || wait $tool || rc=$?
    wait $tool 2>/dev/null
    tool=""
}
# Each run of wtype is a keyboard of its own, which the compositor switches to as the run starts
# (a new keymap, the focus left and entered again); a pause lets the toolkit settle before the first
# key. Keys of one run arrive in order; a window opened by them is waited for before the next run.
keys() {
    local args=(-s 500)
    for key in "$@"; do args+=(-k "$key" -s 50); done
    wtype "${args[@]}"
}

start
result $? "Wayland: the dialog opens under headless sway, with the keyboard focus"
keys Escape
finished
[ "$rc" = 0 ] && [ -z "$(find "$work/prefix" -type f)" ]
result $? "Wayland: Escape closes the dialog, exit $rc$stuck, nothing written"

# Eleven tabs from the root reach Developer Mode and one more reaches Ok, scrolled middle or not.
start || result 1 "Wayland: the dialog did not open again"
keys Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab space Tab Return
noticed=0
until_true 20 focused "Information" || noticed=1
[ $noticed = 0 ] && keys Return
finished
what() { cat "$work/prefix/$1" 2>/dev/null; }
workstation() { grep -q "^Workstation=12"$'\r$' "$work/systems/plant_a/config/system/trox_system.ini"; }
[ $noticed = 0 ] && [ "$rc" = 0 ] && [ "$(what etc/environment.d/60-trox_inst_env.conf)" = 'OV_DEVELOPER="true"' ] &&
    [ "$(what etc/trox/xsv.ini)" = $'[Network]\nWorkstation=12' ] &&
    [ "$(what etc/trox/taskbase.ini)" = $'[System]\nWorkstation=12' ] && workstation
written=$?
notice="the restart notice came"
[ $noticed = 0 ] || notice="no restart notice"
result $written "Wayland: Tab, Space and Return tick Developer Mode and press Ok: $notice, exit $rc$stuck, environment and profiles written"
