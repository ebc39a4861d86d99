#!/usr/bin/env bash
# An operator's session with the real trox_inst_env.exe under Wine, on the X server in DISPLAY (run it
# under xvfb-run): the deploy folder is copied into a fresh Wine prefix whose Z: drive is then removed,
# so the program can load nothing but what the folder and Wine bring. The dialog starts with its six
# values from the environment; the keyboard opens the workstation editor, types a number, accepts it,
# ticks developer mode, presses Ok and answers the restart notice. The registry, the three profile
# files and the executable's resources are then read back.
#   wine-session.sh DEPLOY_DIR RESOURCE_CHECKER.exe WORK_DIR
set -euo pipefail
deploy=$(cd "$1" && pwd)
checker=$2
work=$(mkdir -p "$3" && cd "$3" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
[ -n "${DISPLAY:-}" ] || { echo "wine-session.sh: no DISPLAY; run it under xvfb-run" >&2; exit 2; }

passed=0
pass() { passed=$((passed + 1)); echo "PASS $*"; }
fail() { echo "FAIL: $*"; echo "$passed passed, 1 failed"; exit 1; }
step() { echo "-- $*"; }

export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset WINEPATH QT_QPA_PLATFORM QT_PLUGIN_PATH
quiet() { "$@" </dev/null >/dev/null 2>&1; }
stop_wine() { quiet wineserver -k || true; }
trap stop_wine EXIT

step "fresh Wine prefix"
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
started=$(date +%s)
# The server and the services wineboot starts inherit stdout and stderr; started apart from them
# they cannot hold a later command's pipe open.
quiet wineserver -p
quiet wine wineboot -i
drive_c=$WINEPREFIX/drive_c
echo "   prefix ready in $(($(date +%s) - started)) s"

step "deploy folder and system tree copied in; Z: removed"
cp -r "$deploy" "$drive_c/trox_inst_env"
cp "$checker" "$drive_c/trox_inst_env_resources.exe"
mkdir -p "$drive_c/trox"
cp -r "$top/demo/systems" "$drive_c/trox/systems"
rm -f "$WINEPREFIX/dosdevices/z:"
find "$drive_c/trox_inst_env" -type f | sed "s|^$drive_c/|   C:/|" | sort
cd "$drive_c"

wine_out() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }
machine_env='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
reg_value() { # key, name -> "TYPE DATA" or nothing
    wine_out reg query "$1" /v "$2" | awk -v name="$2" '$1 == name { $1 = ""; sub(/^ +/, ""); print }' || true
}

wait_window() { timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1; }
wait_gone() { while xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; do sleep 0.1; done; }
keys() {
    local win=$1
    shift
    xdotool windowfocus --sync "$win"
    for k in "$@"; do xdotool key --clearmodifiers "$k"; done
}

step "start trox_inst_env.exe with its six values in the environment"
OV_ROOT='C:\trox\systems' OV_SYSTEM=plant_a OV_SERVER_ROOT='\\master\trox' \
    OV_RESERVE_SERVER_ROOT='\\reserve\trox' OV_WORKSTATION=12 OV_DEVELOPER=false \
    wine 'C:\trox_inst_env\trox_inst_env.exe' </dev/null >"$work/tool.log" 2>&1 &
pid=$!
main=$(wait_window "Set Active TROX System") || fail "the dialog did not appear"
pass "the dialog \"Set Active TROX System\" appeared"

step "keyboard: workstation editor, 42, OK; developer mode; Ok; restart notice"
# Focus starts on the root; each value comes before its Set button, ten tabs reach the workstation's.
keys "$main" Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab space
editor=$(wait_window "Set Workstation Number") || fail "the workstation editor did not open"
pass "the workstation editor opened"
xdotool windowfocus --sync "$editor" type --delay 50 "42"
keys "$editor" Return
wait_gone "Set Workstation Number"
keys "$main" Tab space Tab space
notice=$(wait_window "Information") || fail "the restart notice did not appear"
pass "the restart notice appeared"
keys "$notice" Return
timeout 60 tail --pid=$pid -f /dev/null || fail "the tool did not exit"
rc=0
wait $pid || rc=$?
[ $rc -eq 0 ] || fail "exit code $rc"
pass "exit code 0"

step "read back"
check_value() { # key, name, expected "TYPE DATA"
    local actual
    actual=$(reg_value "$1" "$2")
    echo "   $2: ${actual:-<missing>}"
    [ "$actual" = "$3" ] || fail "$2 in $1 is '${actual:-<missing>}', expected '$3'"
    pass "$2 reads back as $3"
}
check_value "$machine_env" OV_WORKSTATION "REG_EXPAND_SZ 42"
check_value "$machine_env" OV_DEVELOPER "REG_EXPAND_SZ true"
# Values that did not change are not written: these came from the environment and stayed there.
[ -z "$(reg_value "$machine_env" OV_ROOT)" ] || fail "OV_ROOT written although unchanged"
[ -z "$(reg_value 'HKCU\Environment' OV_WORKSTATION)" ] || fail "per-user value written although machine-wide worked"
pass "unchanged values and the per-user key left alone"
check_value 'HKLM\Software\Quarnby Technology\trox_inst_env\lastKnownServer' server 'REG_SZ \\master\trox'

profile_key() { # file, section, key -> value
    tr -d '\r' <"$1" | awk -v section="[$2]" -v key="$3" '
        /^\[/ { inside = tolower($0) == tolower(section) }
        inside && tolower($0) ~ "^" tolower(key) "=" { sub(/^[^=]*=/, ""); print }'
}
check_profile() { # file, section, key, expected
    local actual
    [ -f "$1" ] || fail "$1 missing"
    actual=$(profile_key "$1" "$2" "$3")
    echo "   ${1#"$drive_c"/}: [$2] $3=$actual"
    [ "$actual" = "$4" ] || fail "[$2] $3 in $1 is '$actual', expected '$4'"
    pass "[$2] $3=$4 in ${1##*/}"
}
check_profile "$drive_c/windows/xsv.ini" Network Workstation 42
check_profile "$drive_c/windows/taskbase.ini" System Workstation 42
system_ini=$drive_c/trox/systems/plant_a/config/system/trox_system.ini
check_profile "$system_ini" Network Workstation 42
grep -q '^MasterPort=5012' "$system_ini" || fail "trox_system.ini lost a key"

step "version resource and manifest of the deployed executable"
wine 'C:\trox_inst_env_resources.exe' 'C:\trox_inst_env\trox_inst_env.exe' </dev/null 2>/dev/null |
    tr -d '\r' | tee "$work/resources.log" | sed 's/^/   /'
grep -q '^all cases passed$' "$work/resources.log" || fail "resources of the deployed executable"
pass "version 4.5.0.4 and the asInvoker manifest read back"

echo "$passed passed, 0 failed"
