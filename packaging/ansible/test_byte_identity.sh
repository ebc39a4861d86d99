#!/usr/bin/env bash
# The dialog, the command-line tool and the playbook must leave a workstation exactly alike. For each
# case the same starting files are laid out once per side; the main dialog's Ok (through
# trox_dialog_apply), `trox_inst_env_cli set` and linux.yml each write the same values under their
# own copy; then the copies must match byte for byte, file modes included.
#
#   test_byte_identity.sh <path-to-trox_dialog_apply> <path-to-trox_inst_env_cli>
set -euo pipefail
dialog=$(realpath "$1")
cli=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
umask 022
# Ansible insists on a UTF-8 locale; C.UTF-8 is there on every Debian. No session bus: nothing is
# announced to the desktop this runs on.
export LC_ALL=C.UTF-8 HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" \
    ANSIBLE_NOCOLOR=1 DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
unset XDG_CONFIG_DIRS OV_ROOT OV_SYSTEM OV_SERVER_ROOT OV_RESERVE_SERVER_ROOT OV_WORKSTATION OV_DEVELOPER
mkdir -p "$HOME"
# Every side sees the same paths: the case's tree is always built at $live, then moved aside.
live="$work/live"
passed=0 failed=0

# Values of one case; the root is a real directory tree so the system's own file can be written.
# An empty number or reserve is left out, as the editors accept neither.
reset_values() {
    root="$live/systems" system=plant_a server=/srv/trox-master reserve=/srv/trox-reserve
    number=12 developer=false standalone=false systemprofile=true
}
seed_tree() { mkdir -p "$live/prefix" "$live/systems/$system/config/system"; }
# What the dialog needs to start: a root and a system, as an earlier Ok left them.
stored_root() {
    mkdir -p "$live/prefix/etc/environment.d"
    printf 'OV_ROOT="%s"\nOV_SYSTEM="old"\n' "$live/systems" > "$live/prefix/etc/environment.d/60-trox_inst_env.conf"
}

arguments() {
    args=(OV_ROOT="$root" OV_SYSTEM="$system")
    if [ "$standalone" = true ]; then args+=(--stand-alone); else args+=(OV_SERVER_ROOT="$server"); fi
    [ -z "$reserve" ] || args+=(OV_RESERVE_SERVER_ROOT="$reserve")
    [ -z "$number" ] || args+=(OV_WORKSTATION="$number")
    # The dialog writes the flag only when its switch moves: the operator leaves it off here.
    [ "$developer" = false ] || args+=(--developer)
}

# A missing system directory is a failed write for the dialog, which cannot leave the system's file
# out; the tool and the playbook are told to, and must succeed.
tolerated() { [ ! -d "$root/$system/config/system" ] || { cat "$work/side.log"; return 1; }; }

write_with_dialog() {
    arguments
    TROX_INST_ENV_PREFIX="$live/prefix" "$dialog" "${args[@]}" >"$work/side.log" 2>&1 || tolerated
}

write_with_cli() {
    arguments
    [ "$systemprofile" = true ] || args+=(--no-system-profile)
    TROX_INST_ENV_PREFIX="$live/prefix" "$cli" set "${args[@]}" >"$work/side.log" 2>&1 ||
        { cat "$work/side.log"; return 1; }
}

write_with_playbook() {
    # Values go through JSON so that no shell or YAML quoting stands between them and the play.
    ROOT=$root SYSTEM=$system SERVER=$server RESERVE=$reserve NUMBER=$number DEVELOPER=$developer \
    STANDALONE=$standalone SYSTEMPROFILE=$systemprofile PREFIX="$live/prefix" CLI="$cli" python3 -c '
import json, os
e = os.environ
values = {"trox_prefix": e["PREFIX"], "trox_cli": e["CLI"], "trox_root": e["ROOT"],
          "trox_system": e["SYSTEM"], "trox_server_root": e["SERVER"],
          "trox_standalone": e["STANDALONE"] == "true",
          "trox_system_profile": e["SYSTEMPROFILE"] == "true"}
if e["DEVELOPER"] == "true":
    values["trox_developer"] = True
if e["RESERVE"]:
    values["trox_reserve_server_root"] = e["RESERVE"]
if e["NUMBER"]:
    values["trox_workstation"] = e["NUMBER"]
print(json.dumps(values))' > "$work/values.json"
    ansible-playbook -i localhost, -c local -e trox_linux_hosts=localhost \
        -e ansible_python_interpreter=/usr/bin/python3 -e @"$work/values.json" \
        "$here/linux.yml" > "$work/side.log" 2>&1 || { cat "$work/side.log"; return 1; }
}

listing() { (cd "$1" && find . -printf '%P %y %m\n' | sort); }

# run_case NAME SEED SIDE...: SEED lays out the starting files in $live; the values are those set
# before. The first side's files are the ones the others must match.
run_case() {
    local name=$1 seed=$2 side first=''
    shift 2
    local ok=true
    for side in "$@"; do
        rm -rf "$live"
        seed_tree
        "$seed"
        "write_with_$side" || ok=false
        mv "$live" "$work/$name.$side"
        if [ -z "$first" ]; then
            first=$side
        elif ! diff -r "$work/$name.$first" "$work/$name.$side" ||
            ! diff <(listing "$work/$name.$first") <(listing "$work/$name.$side"); then
            echo "$side differs from $first"
            ok=false
        fi
    done
    if $ok; then
        echo "PASS: $name"
        passed=$((passed + 1))
    else
        echo "FAIL: $name"
        failed=$((failed + 1))
    fi
}

# Written by earlier runs and by hand: other variables and keys, CRLF, a byte order mark, a section
# in other letter case with spaces round '=', comments, and a last line without a line break.
existing_files() {
    mkdir -p "$live/prefix/etc/environment.d" "$live/prefix/etc/trox"
    printf 'LANG=C.UTF-8\nOV_ROOT="%s"\nOV_SYSTEM="old"\nOV_WORKSTATION="3"\n# kept\nEDITOR=vi' "$live/systems" \
        > "$live/prefix/etc/environment.d/60-trox_inst_env.conf"
    printf '\xef\xbb\xbf[Display]\r\nDepth=24\r\n[system]\r\n workstation = 3\r\nSpeed=fast\r\n' \
        > "$live/prefix/etc/trox/taskbase.ini"
    printf '; plant network\n[Other]\nWorkstation=1\n[Network]\nServer=alpha' > "$live/prefix/etc/trox/xsv.ini"
    printf '[Network]\nName=plant_a\n\n\n[Alarms]\nLevel=2\n' \
        > "$live/systems/$system/config/system/trox_system.ini"
    chmod 0600 "$live/prefix/etc/trox/xsv.ini"
}

no_system_directory() { stored_root; rm -rf "$live/systems/$system/config/system"; }
nothing() { :; }

reset_values
# Every character the environment file has to escape, a %NAME% reference, a stray percent sign,
# and letters beyond ASCII; the backslashes become the separators the server editor makes of them.
server='/srv/a "b" \x `y` $HOME %USERPROFILE%\z %1% 100% ${X}'
system=Zürich
developer=true
run_case special-characters stored_root dialog cli playbook

reset_values
run_case existing-files existing_files dialog cli playbook

reset_values
standalone=true number=7 systemprofile=false
run_case stand-alone-missing-system-directory no_system_directory dialog cli playbook

reset_values
number='' reserve=''
run_case no-workstation-number existing_files dialog cli playbook

# A fresh workstation, with nothing stored: the dialog refuses to start there, the tool does not.
reset_values
run_case fresh-workstation nothing cli playbook

# What the plays refuse on their host before anything is written: a value YAML typed as a number,
# a misspelt variable, a switch neither true nor false, and (through the tool, or the Windows
# checks) a value the editors refuse. The Windows checks run here on their own.
printf '%s\n' '- hosts: localhost' '  gather_facts: false' "  vars_files: [$here/variables.yml]" '  vars:' \
    '    trox_texts: [trox_root, trox_system, trox_server_root, trox_reserve_server_root, trox_workstation]' \
    '  tasks:' "    - ansible.builtin.import_tasks: $here/windows_checks.yml" > "$work/windows-checks.yml"
# refused NAME PLAY VALUES-AS-JSON MESSAGE: an empty MESSAGE means the values pass.
refused() {
    rm -rf "$live"
    seed_tree
    local play=$here/linux.yml values
    [ "$2" = linux ] || play=$work/windows-checks.yml
    values=$(PLAY=$2 PREFIX="$live/prefix" CLI="$cli" ROOT="$live/systems" python3 -c '
import json, os, sys
e = os.environ
v = {"trox_root": e["ROOT"], "trox_system": "plant_a", "trox_workstation": "12"}
if e["PLAY"] == "linux":
    v.update(trox_prefix=e["PREFIX"], trox_cli=e["CLI"])
else:
    v["trox_root"] = "D:\\TROX"
v.update(json.loads(sys.argv[1]))
print(json.dumps(v))' "$3")
    local ok=false
    if ansible-playbook -i localhost, -c local -e trox_linux_hosts=localhost \
        -e ansible_python_interpreter=/usr/bin/python3 -e "$values" "$play" > "$work/side.log" 2>&1; then
        [ -z "$4" ] && ok=true
    else
        [ -n "$4" ] && grep -qF -- "$4" "$work/side.log" && [ ! -e "$live/prefix/etc" ] && ok=true
    fi
    if $ok; then
        echo "PASS: $1"
        passed=$((passed + 1))
    else
        cat "$work/side.log"
        echo "FAIL: $1"
        failed=$((failed + 1))
    fi
}
for play in linux windows; do
    refused "$play: YAML octal number" $play '{"trox_workstation": 10}' "must be text"
    refused "$play: misspelt variable" $play '{"trox_worksation": "12"}' "(misspelt?): trox_worksation"
    refused "$play: maybe" $play '{"trox_developer": "maybe"}' "true or false"
    refused "$play: number beyond 999" $play '{"trox_workstation": "1000abc"}' "between 1 and 999"
    refused "$play: relative root" $play '{"trox_root": "TROX"}' "absolute path"
done
refused "windows: good values" windows '{"trox_root": "D:/TROX/", "trox_workstation": "007"}' ""
refused "windows: a server path without a drive" windows '{"trox_server_root": "srv/x"}' "not a valid path"

echo "byte-identity: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
