#!/usr/bin/env bash
# The profile.d script must hand a console login the values the tool stored, exactly: the store
# writes awkward values through trox_store_write, then a clean login shell sources the script.
#
#   test_profile_script.sh <path-to-trox_store_write>
set -euo pipefail
writer=$(realpath "$1")
script=$(cd "$(dirname "$0")" && pwd)/trox_inst_env.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/.config/environment.d"
fail() { echo "FAIL: $*"; exit 1; }
login() { env -i HOME="$work/home" TROX_INST_ENV_PREFIX="$work/prefix/" "$@" sh -c '. "$1"; printf "%s\\n" "${OV_ROOT-unset}|${OV_SYSTEM-unset}|${OV_SERVER_ROOT-unset}|${OV_RESERVE_SERVER_ROOT-unset}|${OV_WORKSTATION-unset}|${OV_DEVELOPER-unset}"' _ "$script"; }

quiet=$(env -i HOME="$work/home" TROX_INST_ENV_PREFIX="$work/prefix" sh -c '. "$1"' _ "$script" 2>&1) ||
    fail "the script failed without any file"
[ -z "$quiet" ] || fail "the script spoke without any file: $quiet"
[ "$(login)" = "unset|unset|unset|unset|unset|unset" ] || fail "values appeared without any file"

root='/srv/it'\''s "quoted" $HOME `x` \ %OV_SYSTEM%\end'
TROX_INST_ENV_PREFIX="$work/prefix" HOME="$work/home" "$writer" OV_ROOT="$root" OV_SYSTEM=plant_a \
    OV_SERVER_ROOT='%NOT_SET%' OV_RESERVE_SERVER_ROOT= OV_WORKSTATION=40 OV_DEVELOPER=false
expected="$root|plant_a|%NOT_SET%||40|false"
# As at a graphical login, a reference ahead of the assignment finds nothing, even where the shell
# inherited the variable.
got=$(login OV_SYSTEM=inherited)
[ "$got" = "$expected" ] || fail "machine file: got '$got', expected '$expected'"

# The user's own file wins, and may refer to values set before it.
printf 'OV_WORKSTATION=${OV_WORKSTATION}1\nOV_SYSTEM="${OV_SYSTEM:+b}"\n' > "$work/home/.config/environment.d/61-trox_inst_env.conf"
expected="$root|b|%NOT_SET%||401|false"
[ "$(login)" = "$expected" ] || fail "user file: got '$(login)', expected '$expected'"
echo "3 passed, 0 failed"
