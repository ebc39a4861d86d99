#!/usr/bin/env bash
# The playbook must leave a workstation exactly as the tool does. For each case the same starting
# files are laid out twice; the tool's own store writes the values into one copy (through
# trox_store_write, which makes the calls Ok makes) and linux.yml into the other, each under its own
# prefix; then the two copies must match byte for byte, file modes included.
#
#   test_byte_identity.sh <path-to-trox_store_write>
set -euo pipefail
writer=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
umask 022
# Ansible insists on a UTF-8 locale; C.UTF-8 is there on every Debian.
export LC_ALL=C.UTF-8 HOME="$work/home" ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" ANSIBLE_NOCOLOR=1
mkdir -p "$HOME"
# Both writers see the same paths: the case's tree is always built at $live, then moved aside.
live="$work/live"
passed=0 failed=0

# Values of one case; the root is a real directory tree so the system's own file can be written.
reset_values() {
    root="$live/systems" system=plant_a server=/srv/trox-master reserve=/srv/trox-reserve
    number=12 developer=false standalone=false
}
seed_tree() { mkdir -p "$live/prefix" "$live/systems/$system/config/system"; }

write_with_tool() {
    local server_root=$server
    [ "$standalone" = true ] && server_root=$root
    local args=(OV_ROOT="$root" OV_SYSTEM="$system" OV_SERVER_ROOT="$server_root"
                OV_RESERVE_SERVER_ROOT="$reserve" OV_WORKSTATION="$number")
    [ -n "$number" ] && args+=(-w "$root" "$system" "$number")
    args+=(OV_DEVELOPER="$developer")
    # A missing system directory is a failed write for the tool too; anything else must succeed.
    TROX_INST_ENV_PREFIX="$live/prefix" "$writer" "${args[@]}" 2>"$work/writer.log" ||
        [ ! -d "$root/$system/config/system" ] || { cat "$work/writer.log"; return 1; }
}

write_with_playbook() {
    # Values go through JSON so that no shell or YAML quoting stands between them and the play.
    ROOT=$root SYSTEM=$system SERVER=$server RESERVE=$reserve NUMBER=$number DEVELOPER=$developer \
    STANDALONE=$standalone PREFIX="$live/prefix" python3 -c '
import json, os
e = os.environ
print(json.dumps({"trox_prefix": e["PREFIX"], "trox_root": e["ROOT"], "trox_system": e["SYSTEM"],
                  "trox_server_root": e["SERVER"], "trox_reserve_server_root": e["RESERVE"],
                  "trox_workstation": e["NUMBER"], "trox_developer": e["DEVELOPER"] == "true",
                  "trox_standalone": e["STANDALONE"] == "true"}))' > "$work/values.json"
    ansible-playbook -i localhost, -c local -e trox_linux_hosts=localhost \
        -e ansible_python_interpreter=/usr/bin/python3 -e @"$work/values.json" \
        "$here/linux.yml" > "$work/playbook.log" 2>&1 || { cat "$work/playbook.log"; return 1; }
}

listing() { (cd "$1" && find . -printf '%P %y %m\n' | sort); }

# run_case NAME SEED: SEED lays out the starting files in $live; the values are those set before.
run_case() {
    local name=$1 seed=$2 side
    for side in tool playbook; do
        rm -rf "$live"
        seed_tree
        "$seed"
        "write_with_$side"
        mv "$live" "$work/$name.$side"
    done
    if diff -r "$work/$name.tool" "$work/$name.playbook" &&
        diff <(listing "$work/$name.tool") <(listing "$work/$name.playbook"); then
        echo "PASS: $name"
        passed=$((passed + 1))
    else
        echo "FAIL: $name"
        failed=$((failed + 1))
    fi
}

nothing() { :; }

# Written by earlier runs and by hand: other variables and keys, CRLF, a byte order mark, a section
# in other letter case with spaces round '=', comments, and a last line without a line break.
existing_files() {
    mkdir -p "$live/prefix/etc/environment.d" "$live/prefix/etc/trox"
    printf 'LANG=C.UTF-8\nOV_ROOT="/old/root"\nOV_WORKSTATION="3"\n# kept\nEDITOR=vi' \
        > "$live/prefix/etc/environment.d/60-trox_inst_env.conf"
    printf '\xef\xbb\xbf[Display]\r\nDepth=24\r\n[system]\r\n workstation = 3\r\nSpeed=fast\r\n' \
        > "$live/prefix/etc/trox/taskbase.ini"
    printf '; plant network\n[Other]\nWorkstation=1\n[Network]\nServer=alpha' > "$live/prefix/etc/trox/xsv.ini"
    printf '[Network]\nName=plant_a\n\n\n[Alarms]\nLevel=2\n' \
        > "$live/systems/$system/config/system/trox_system.ini"
    chmod 0600 "$live/prefix/etc/trox/xsv.ini"
}

no_system_directory() { rm -rf "$live/systems/$system/config/system"; }

reset_values
# Every character the environment file has to escape, a %NAME% reference, a stray percent sign,
# an empty value, and letters beyond ASCII.
server='/srv/a "b" \x `y` $HOME %USERPROFILE%\z %1% 100% ${X}'
reserve=''
system=Zürich
developer=true
run_case fresh-files-special-characters nothing

reset_values
run_case existing-files existing_files

reset_values
standalone=true number=7
run_case stand-alone-missing-system-directory no_system_directory

reset_values
number=''
run_case empty-workstation-number existing_files

echo "byte-identity: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
