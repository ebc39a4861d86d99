#!/usr/bin/env bash
# Runs the real executable on a real X server (under xvfb-run) as an operator would meet it:
# a normal start closed with Escape, and a start without OV_ROOT/OV_SYSTEM whose error boxes are
# answered with Return, and starts with a session bus that goes silent part way (the store tests'
# helper plays it). Each must exit 0 and leave the sandbox untouched. Run as root, toolkit options
# and plugin paths naming a plugin in another user's folder load nothing from there.
set -euo pipefail
exe=$1 helper=$2 plugin=$3
unset QT_QPA_PLATFORM
work=$(mktemp -d) buses=$(mktemp -d) plugins=$(mktemp -d)
trap 'rm -rf "$work" "$buses" "$plugins"' EXIT
mkdir -p "$work/prefix" "$work/home/.config" "$work/systems/plant/config"
export TROX_INST_ENV_PREFIX="$work/prefix" HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
unset XDG_CONFIG_DIRS

wait_window() { timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1; }
press() { xdotool windowfocus --sync "$1" key --clearmodifiers "$2"; }
fail() { echo "FAIL: $*"; exit 1; }
snapshot() { (cd "$work" && find . | sort); }
before=$(snapshot)

echo "-- start, then Escape"
OV_ROOT="$work/systems" OV_SYSTEM=plant OV_SERVER_ROOT=/srv/a OV_WORKSTATION=3 "$exe" & pid=$!
win=$(wait_window "Set Active TROX System") || fail "main window did not appear"
press "$win" Escape
rc=0; wait $pid || rc=$?
[ $rc -eq 0 ] || fail "exit code $rc after Escape"

echo "-- failed load: both variables missing"
env -u OV_ROOT -u OV_SYSTEM "$exe" & pid=$!
for i in 1 2; do
    box=$(wait_window "TROX - Error") || fail "error box $i did not appear"
    press "$box" Return
    # The next box replaces this one; wait until this one is gone before looking again.
    while xdotool search --onlyvisible --name "^TROX - Error\$" 2>/dev/null | grep -qx "$box"; do sleep 0.05; done
done
rc=0; wait $pid || rc=$?
[ $rc -eq 0 ] || fail "exit code $rc after a failed load"

# Each row: what stands for the session bus, and where the accessibility bus is named. fake N: a
# socket that stops answering part way (2: during a client's handshake; 3: after Hello); dbus: a
# private bus whose accessibility bus, named by its accessibility service or on the X root window,
# accepts connections and never answers. The dialog must open and close promptly all the same.
private_bus() {
    printf '<busconfig><type>session</type><listen>unix:path=%s/session</listen><auth>EXTERNAL</auth><policy context="default"><allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/></policy></busconfig>\n' "$buses" >"$buses/bus.conf"
    dbus-daemon --config-file="$buses/bus.conf" --nofork --print-address >"$buses/address" & daemons+=($!)
    until [ -s "$buses/address" ]; do sleep 0.05; done
    address="unix:path=$buses/session"
}
rows=0
for row in "fake 2" "fake 3" "dbus service" "dbus rootwindow"; do
    set -- $row
    echo "-- start with a session bus: $row"
    daemons=()
    if [ "$1" = fake ]; then
        "$helper" fakebus "$buses/bus$2" $2 >"$buses/out" & daemons+=($!)
        address="unix:path=$buses/bus$2"
    else
        private_bus
        "$helper" fakebus "$buses/a11y" 0 >"$buses/out" & daemons+=($!)
    fi
    until grep -qs ready "$buses/out"; do sleep 0.05; done
    if [ "$2" = service ]; then
        DBUS_SESSION_BUS_ADDRESS=$address "$helper" a11y "unix:path=$buses/a11y" >"$buses/service" & daemons+=($!)
        until grep -qs ready "$buses/service"; do sleep 0.05; done
    elif [ "$2" = rootwindow ]; then
        xprop -root -f AT_SPI_BUS 8s -set AT_SPI_BUS "unix:path=$buses/a11y"
    fi
    started=$(date +%s)
    DBUS_SESSION_BUS_ADDRESS=$address OV_ROOT="$work/systems" OV_SYSTEM=plant "$exe" & pid=$!
    win=$(wait_window "Set Active TROX System") || fail "main window did not appear ($row)"
    press "$win" Escape
    rc=0; wait $pid || rc=$?
    took=$(($(date +%s) - started))
    xprop -root -remove AT_SPI_BUS 2>/dev/null || true
    kill "${daemons[@]}"; wait "${daemons[@]}" 2>/dev/null || true
    rm -f "$buses"/*
    [ $rc -eq 0 ] || fail "exit code $rc after Escape ($row)"
    [ $took -le 10 ] || fail "took $took s from start to exit ($row)"
    rows=$((rows + 1))
done

passed=$((rows + 2))
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    # In nobody's folder; each way is shown to load the plugin for nobody, then not for root.
    mkdir "$plugins/platforms" && cp "$plugin" "$plugins/platforms/" && cp "$exe" "$plugins/tool"
    chmod 755 "$plugins" && chown -R 65534:65534 "$plugins/platforms" && mark=$plugins/platforms/ran
    for way in "-platformpluginpath $plugins/platforms -platform marker" "QT_PLUGIN_PATH=$plugins" \
        "QT_QPA_PLATFORM_PLUGIN_PATH=$plugins/platforms -platform marker"; do
        echo "-- as nobody, then as root: $way"
        read -ra words <<<"$way"; variables=() options=()
        for word in "${words[@]}"; do [[ $word == *=* ]] && variables+=("$word") || options+=("$word"); done
        setpriv --reuid=65534 --regid=65534 --clear-groups -- env "${variables[@]}" DISPLAY= \
            "$plugins/tool" "${options[@]}" >/dev/null 2>&1 & pid=$!
        for _ in $(seq 200); do [ -e "$mark" ] && break; sleep 0.1; done
        kill $pid 2>/dev/null || true; wait $pid || true
        [ -e "$mark" ] && rm "$mark" || fail "nobody's start did not load the plugin: the check proves nothing"
        env "${variables[@]}" OV_ROOT="$work/systems" OV_SYSTEM=plant "$exe" "${options[@]}" & pid=$!
        win=$(wait_window "Set Active TROX System") || fail "main window did not appear"
        press "$win" Escape
        rc=0; wait $pid || rc=$?
        [ $rc -eq 0 ] && [ ! -e "$mark" ] || fail "exit code $rc, or root ran the plugin of nobody's folder"
        passed=$((passed + 1))
    done
fi

[ "$before" = "$(snapshot)" ] || { diff <(echo "$before") <(snapshot); fail "the sandbox changed"; }
echo "$passed passed, 0 failed"
