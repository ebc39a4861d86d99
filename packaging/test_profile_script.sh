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
shells=()
for candidate in dash bash ksh mksh; do command -v "$candidate" >/dev/null && shells+=("$candidate"); done
# What a login shell gets, the same in every POSIX shell at hand.
login() {
    local first="" got
    for shell in "${shells[@]}"; do
        got=$(env -i HOME="$work/home" TROX_INST_ENV_PREFIX="$work/prefix/" "$@" "$shell" -c '. "$1"; printf "%s\\n" "${OV_ROOT-unset}|${OV_SYSTEM-unset}|${OV_SERVER_ROOT-unset}|${OV_RESERVE_SERVER_ROOT-unset}|${OV_WORKSTATION-unset}|${OV_DEVELOPER-unset}"' _ "$script")
        [ -z "$first" ] || [ "$got" = "$first" ] || fail "$shell differs: '$got' against '$first'"
        first=$got
    done
    printf '%s\n' "$first"
}

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

# pam_env itself (as ssh, cron and every PAM session run it) reads the tool's lines in
# /etc/environment back as written; a value built on another variable gets no line.
if python3 -c 'import ctypes; ctypes.CDLL("libpam.so.0").pam_start_confdir' 2>/dev/null; then
    printf 'session required pam_env.so readenv=1 user_readenv=0 conffile=/dev/null envfile=%s\n' \
        "$work/prefix/etc/environment" >"$work/trox-env"
    pam=$(python3 - "$work" <<'EOF'
import ctypes, sys
pam = ctypes.CDLL("libpam.so.0")
CONV = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p)
class Conv(ctypes.Structure):
    _fields_ = [("conv", CONV), ("data", ctypes.c_void_p)]
conv = Conv(CONV(lambda *args: 19), None)
handle = ctypes.c_void_p()
if pam.pam_start_confdir(b"trox-env", b"root", ctypes.byref(conv), sys.argv[1].encode(), ctypes.byref(handle)) or \
        pam.pam_open_session(handle, 0):
    sys.exit("pam_env did not run")
pam.pam_getenvlist.restype = ctypes.POINTER(ctypes.c_char_p)
names = ["OV_ROOT", "OV_SYSTEM", "OV_SERVER_ROOT", "OV_RESERVE_SERVER_ROOT", "OV_WORKSTATION", "OV_DEVELOPER"]
found, entries = {}, pam.pam_getenvlist(handle)
i = 0
while entries[i]:
    name, _, value = entries[i].decode().partition("=")
    found[name] = value
    i += 1
print("|".join(found.get(name, "unset") for name in names))
EOF
    )
    expected="$root|plant_a|unset||40|false"
    [ "$pam" = "$expected" ] || fail "pam_env: got '$pam', expected '$expected'"
    echo "pam_env reads the tool's lines: ok"
else
    echo "pam_env reads the tool's lines: skipped (no Python or no pam_start_confdir)"
fi

# As the generator reads the folders: a reference to the variable itself finds nothing, a comment
# continued over a line break swallows the next line, a later file wins, a same-named file in the
# user's folder masks, a NUL byte skips its file, a value that is not UTF-8 gives nothing at all.
rm -f "$work/home/.config/environment.d/61-trox_inst_env.conf"
mkdir -p "$work/prefix/usr/lib/environment.d"
printf 'OV_ROOT="${OV_ROOT:-d}"\n# a \\\nOV_SYSTEM=lost\nOV_DEVELOPER=a\tb\n' >"$work/prefix/etc/environment.d/60-trox_inst_env.conf"
printf 'OV_SYSTEM=site\nOV_SERVER_ROOT=s\n' >"$work/prefix/usr/lib/environment.d/70-site.conf"
printf 'OV_SYSTEM=mine\n' >"$work/home/.config/environment.d/70-site.conf"
printf 'OV_WORKSTATION=w\0\n' >"$work/prefix/etc/environment.d/80-nul.conf"
expected='d|mine|unset|unset|unset|a\tb'
[ "$(login OV_ROOT=inherited)" = "$expected" ] || fail "folders: got '$(login)', expected '$expected'"
printf 'X=\377\n' >"$work/prefix/etc/environment.d/90-bad.conf"
expected="unset|unset|unset|unset|unset|unset"
[ "$(login)" = "$expected" ] || fail "not UTF-8: got '$(login)', expected '$expected'"
echo "5 passed, 0 failed (shells: ${shells[*]})"
