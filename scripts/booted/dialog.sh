#!/bin/bash
# An operator at the workstation's screen, inside a login session: starts a display, opens the dialog
# and drives it with the keyboard as tests/e2e/operator_applies.sh does.
#
#   dialog.sh DISPLAY NUMBER [developer]    sets the workstation number (and ticks developer mode), Ok
#   dialog.sh DISPLAY escape [N]            opens the dialog and closes it with Escape (N times over)
# With PKEXEC_PASSWORD set, the dialog runs through pkexec and that password answers polkit's prompt.
# Prints the title of every message box it dismisses ("box: TITLE"), the prompts answered, and any
# session bus of root's still running when the dialog has closed ("root bus: PID COMMAND").
set -euo pipefail
display=$1 action=$2 developer=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "dialog: $*" >&2; exit 1; }

Xvfb "$display" -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
for _ in $(seq 200); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    kill -0 "$xvfb" 2>/dev/null || fail "Xvfb did not start"
    sleep 0.05
done

if [ -n "${PKEXEC_PASSWORD:-}" ]; then
    expect "$here/authenticate.exp" "$PKEXEC_PASSWORD" bash "$here/agent.sh" /usr/bin/trox_inst_env </dev/null &
else
    trox_inst_env </dev/null &
fi
tool=$!

wait_window() { timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1; }
wait_gone() { for _ in $(seq 400); do xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0; sleep 0.05; done; return 1; }
keys() {
    local win=$1
    shift
    xdotool windowfocus --sync "$win"
    for k in "$@"; do xdotool key --clearmodifiers "$k"; done
}

main=$(wait_window "Set Active TROX System") || fail "the main window did not appear"
if [ "$action" = escape ]; then
    keys "$main" Escape
    for _ in $(seq 2 "${3:-1}"); do
        wait_gone "Set Active TROX System" || fail "Escape did not close the dialog"
        main=$(wait_window "Set Active TROX System") || fail "the dialog did not appear again"
        keys "$main" Escape
    done
else
    # Focus starts on the root; each value comes before its Set button, ten tabs reach the workstation's.
    keys "$main" Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab space
    editor=$(wait_window "Set Workstation Number") || fail "the workstation editor did not open"
    xdotool windowfocus --sync "$editor" key ctrl+a type --delay 20 "$action"
    keys "$editor" Return
    wait_gone "Set Workstation Number" || fail "the workstation editor did not close"
    if [ "$developer" = developer ]; then
        keys "$main" Tab space Tab space
    else
        keys "$main" Tab Tab space
    fi
fi

# Whatever message boxes Ok brings up (the restart notice, a warning) are read and dismissed.
seen=" "
for _ in $(seq 1200); do
    kill -0 "$tool" 2>/dev/null || break
    for win in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        title=$(xdotool getwindowname "$win" 2>/dev/null) || continue
        [ "$title" != "Set Active TROX System" ] || continue
        case $seen in *" $win "*) ;; *) echo "box: $title"; seen+="$win " ;; esac
        keys "$win" Return 2>/dev/null || true
    done
    sleep 0.05
done
kill -0 "$tool" 2>/dev/null && fail "the dialog did not close"
status=0
wait "$tool" || status=$?
# A session bus root started for the dialog lives as long as the display: look while it is still up.
pgrep -a -u root -f 'dbus-daemon|dbus-launch' | sed 's/^/root bus: /' || true
exit "$status"
