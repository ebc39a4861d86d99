#!/usr/bin/env bash
# The real tool as operators meet it on their desktops: on small and high-density X screens, with a
# 16 pt font and light and dark palettes (Ok and Cancel on the screen, the note readable, measured on
# the pixels), read through the accessibility bus as a screen reader reads it, run under a headless
# Wayland compositor, and started without any display. One line per check, then the count.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
build=${BUILD_DIR:-$top/build}
exe=$build/app/trox_inst_env
[ -x "$exe" ] || bash scripts/build.sh
shots=${DESKTOP_SHOTS:-$(mktemp -d)}
passed=0 failed=0
count() { # the checks' own lines, and their tally
    while IFS= read -r line; do
        echo "$line"
        case $line in "ok "*) passed=$((passed + 1)) ;; "FAIL "*) failed=$((failed + 1)) ;; esac
    done
}
result() { if [ "$1" = 0 ]; then echo "ok   $2"; else echo "FAIL $2"; fi; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# The checks run the tool as operators do, as an ordinary user: a root run drops the theme variables
# the palette and font checks set, and joins no bus it cannot prove its own. So as root everything
# runs as nobody, from a copy that nobody can read wherever this checkout lies.
as_user=()
stage=$(mktemp -d)
trap 'rm -f "$log"; rm -rf "$stage"' EXIT
mkdir -p "$stage/tests/e2e" "$stage/app"
cp tests/e2e/desktop_checks.py tests/e2e/wayland_ok.sh "$stage/tests/e2e/"
cp -r demo "$stage/" && cp "$exe" "$stage/app/" && exe=$stage/app/trox_inst_env
chmod -R a+rX "$stage"
if [ "$(id -u)" = 0 ]; then
    mkdir -p "$shots" && chown nobody "$shots"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/tmp)
fi

# Screens, fonts, palettes and the accessibility walk, on a session bus of their own.
rc=0
(cd /tmp && "${as_user[@]}" dbus-run-session -- /usr/bin/python3 "$stage/tests/e2e/desktop_checks.py" "$exe" "$shots") \
    >"$log" 2>"$log.err" || rc=$?
count < <(grep -E '^(ok|FAIL) ' "$log")
# A walk that died before its own tally is a failure, whatever it printed until then.
grep -qE '^[0-9]+ passed, [0-9]+ failed$' "$log" || { count < <(result 1 "the desktop walk ended early (exit $rc): $(tail -n 3 "$log.err" | tr '\n' ' ')"); }
rm -f "$log.err"

# Without any display: one line naming the cause and exit code 1, not the toolkit's abort.
for how in "no DISPLAY or WAYLAND_DISPLAY" "a Wayland socket that is not there"; do
    rc=0
    if [ "$how" = "no DISPLAY or WAYLAND_DISPLAY" ]; then
        err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$exe" 2>&1 >/dev/null) || rc=$?
    else
        err=$(env -u DISPLAY XDG_RUNTIME_DIR=/tmp WAYLAND_DISPLAY=trox-none QT_QPA_PLATFORM=wayland "$exe" 2>&1 >/dev/null) || rc=$?
    fi
    lines=$(printf '%s\n' "$err" | grep -c . || true)
    ok=0; [ "$rc" = 1 ] && [ "$lines" = 1 ] && [[ $err == *"no display could be opened"* ]] || ok=1
    count < <(result $ok "no display ($how): exit $rc, $lines line: $err")
done

# Wayland: the real executable under a headless sway, closed by keyboard (sway refuses to run as root).
count < <(cd /tmp && "${as_user[@]}" bash "$stage/tests/e2e/wayland_ok.sh" "$exe" 2>&1 || true)

echo "$passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
