#!/usr/bin/env bash
# Ships what was built in build/: validates the desktop entry, polkit action, AppStream data and
# manual page, makes the Debian package with cpack and checks it with lintian, installs it with apt-get,
# checks that a login shell gets the stored values, runs the real-window checks and the
# screenshot script against the installed /usr/bin/trox_inst_env, checks that the Ansible playbook,
# the dialog and the command-line tool write the same bytes, and removes the package again, leaving
# no file behind.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
build=${BUILD_DIR:-$top/build}
[ -f "$build/CPackConfig.cmake" ] || bash scripts/build.sh
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
step() { echo "-- $*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive

step "desktop entry, polkit action, profile script, AppStream data and manual page"
desktop-file-validate packaging/trox_inst_env.desktop
xmllint --noout --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd packaging/com.quarnby.trox_inst_env.policy
sh -n packaging/trox_inst_env.sh
appstreamcli validate --no-net --strict packaging/com.quarnby.trox_inst_env.metainfo.xml
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l packaging/trox_inst_env.1 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "manual page: $warnings"

step "Debian package"
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -B "$build/package" >/dev/null
deb=$(ls "$build"/package/trox-inst-env_*.deb)
dpkg-deb --field "$deb" Package Version Section Depends
for dependency in libqt6widgets6 libqt6core6 libc6; do
    dpkg-deb --field "$deb" Depends | grep -q "$dependency" || fail "Depends lacks $dependency"
done
mapfile -t shipped < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./|/|p' | grep -v '/$')
printf '  %s\n' "${shipped[@]}"
# Errors fail the step; warnings and notes are shown for whoever reads the log.
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "  lintian: no errors"

step "install with apt-get"
if dpkg-query -W -f='${Status}' trox-inst-env 2>/dev/null | grep -q 'install ok installed'; then
    $sudo apt-get remove -y -qq trox-inst-env >/dev/null
fi
# Whatever fails below, the machine is left without the package.
trap '$sudo apt-get purge -y -qq trox-inst-env >/dev/null 2>&1 || true' EXIT
$sudo apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
[ "$(command -v trox_inst_env)" = /usr/bin/trox_inst_env ] || fail "trox_inst_env is not /usr/bin/trox_inst_env"
[ "$(trox_inst_env_cli --version)" = "trox_inst_env_cli 4.5.0.4" ] || fail "trox_inst_env_cli is not installed"
desktop-file-validate /usr/share/applications/trox_inst_env.desktop
appstreamcli validate --no-net --strict /usr/share/metainfo/com.quarnby.trox_inst_env.metainfo.xml
man -w trox_inst_env >/dev/null || fail "man trox_inst_env finds no page"
# The playbooks ship with the package and work from where it puts them.
examples=/usr/share/doc/trox-inst-env/examples/ansible
[ -f "$examples/library/trox_inst_env.py" ] && [ -f /usr/share/doc/trox-inst-env/fleet.md ] ||
    fail "the playbooks or the fleet recipe are not installed"
ansible-playbook --syntax-check -i localhost, "$examples/linux.yml" >/dev/null
# pkaction needs a running polkit daemon; without one the file check above stands.
if pkaction >/dev/null 2>&1; then
    pkaction --verbose --action-id com.quarnby.trox_inst_env.run | grep -q 'exec.path.*/usr/bin/trox_inst_env' ||
        fail "polkit does not know the action"
fi

step "a login shell gets the stored values through /etc/profile.d"
sandbox=$(mktemp -d)
login() { env -i HOME="$sandbox/home" TROX_INST_ENV_PREFIX="$sandbox/prefix" bash -l -c 'echo "$OV_ROOT"'; }
mkdir -p "$sandbox/home"
quiet=$(login 2>&1) || fail "a login without the files failed"
[ -z "$quiet" ] || fail "a login without the files printed: $quiet"
[ -x "$build/packaging/trox_store_write" ] || cmake --build "$build" --target trox_store_write
TROX_INST_ENV_PREFIX="$sandbox/prefix" HOME="$sandbox/home" "$build/packaging/trox_store_write" OV_ROOT='/srv/a b'
[ "$(login)" = '/srv/a b' ] || fail "a login got OV_ROOT='$(login)', expected '/srv/a b'"
rm -rf "$sandbox"

step "real-window checks against the installed binary"
# The store tests' helper plays a session bus that goes silent part way.
helper=$build/tests/store/storehelper
[ -x "$helper" ] || cmake --build "$build" --target storehelper
# A plugin in another user's folder that the installed binary, run as root, must not load.
plugin=$build/tests/e2e/libmarkplugin.so
[ -f "$plugin" ] || cmake --build "$build" --target markplugin
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash tests/e2e/start_and_escape.sh /usr/bin/trox_inst_env \
    "$helper" "$plugin"

step "screenshot script against the installed binary"
shots=$(mktemp -d)
SCREENSHOT_DIR=$shots bash scripts/screenshots.sh /usr/bin/trox_inst_env >/dev/null
for picture in docs/screenshots/*.png; do
    fresh="$shots/$(basename "$picture")"
    [ -f "$fresh" ] || fail "the script no longer makes $(basename "$picture")"
    # Only a note: a font or style update changes pixels without anything being wrong.
    if [ "$(compare -metric AE "$picture" "$fresh" null: 2>&1 || true)" != 0 ]; then
        echo "  note: $picture differs from a fresh rendering; run scripts/screenshots.sh and look at it"
    fi
done
rm -rf "$shots"

step "the dialog, the command-line tool and the Ansible playbook write the same bytes"
ansible-playbook --syntax-check -i localhost, packaging/ansible/linux.yml >/dev/null
# The Windows play needs the ansible.windows collection and a Windows host; neither is here.
python3 -c 'import sys, yaml; yaml.safe_load(open(sys.argv[1]))' packaging/ansible/windows.yml
cmake --build "$build" --target trox_dialog_apply trox_inst_env_cli
bash packaging/ansible/test_byte_identity.sh "$build/packaging/trox_dialog_apply" "$build/cli/trox_inst_env_cli"

step "remove"
trap - EXIT
# Purged, not only removed: the profile.d script is a configuration file, which removal keeps.
$sudo apt-get purge -y -qq trox-inst-env >/dev/null
! dpkg-query -W -f='${Status}' trox-inst-env 2>/dev/null | grep -q 'ok installed' || fail "still installed"
for path in "${shipped[@]}"; do
    [ ! -e "$path" ] || fail "$path is left after removal"
done
echo "package: installed, checked and removed cleanly"
