#!/usr/bin/env bash
# Rolls the TROX environment out over a fleet of six workstations with the shipped Linux playbook,
# as an administrator would: the package delivered over ssh, a first roll-out, a rerun that must
# find nothing to do and replace no file, a check-mode run that shows before and after and writes
# nothing, a value one workstation refuses while the others go on, and a converged workstation whose
# /etc/trox is read-only. The workstations are namespaces on this machine (scripts/fleet); whatever
# happens, this machine's own /etc, dpkg database and processes are as they were.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
build=${BUILD_DIR:-$top/build}
[ "$(id -u)" -eq 0 ] || exec sudo --preserve-env=BUILD_DIR bash "$0" "$@"
started=$SECONDS
passed=0
failed=0
pass() { echo "ok   $1"; passed=$((passed + 1)); }
# A failed check's line, then whatever explains it, indented.
miss() {
    echo "FAIL $1:$2"
    [ -z "${3:-}" ] || sed 's/^/   | /' <<<"$3"
    failed=$((failed + 1))
}
# A step's verdict from the problems it collected: verdict NAME WHAT [OUTPUT].
verdict() { if [ -z "$problem" ]; then pass "$2"; else miss "$1" "$problem" "${3:-}"; fi; }

[ -f "$build/CPackConfig.cmake" ] || bash scripts/build.sh
cmake --build "$build" --target trox_inst_env trox_inst_env_cli >/dev/null
rm -rf "$build/fleet-package"
cpack --config "$build/CPackConfig.cmake" -B "$build/fleet-package" >"$build/fleet-cpack.log" 2>&1 ||
    { cat "$build/fleet-cpack.log"; exit 1; }
deb=$(ls "$build"/fleet-package/trox-inst-env_*.deb)

# What of this machine a workstation could have touched by mistake, seen before and after.
machine_state() {
    local path
    for path in /etc/environment.d/60-trox_inst_env.conf /etc/trox /etc/trox/xsv.ini /etc/trox/taskbase.ini \
        "/etc/xdg/Quarnby Technology/trox_inst_env.conf" /srv/trox /usr/bin/trox_inst_env_cli \
        /var/lib/dpkg/info/trox-inst-env.list /tmp/trox-inst-env.deb /etc/sudoers.d/fleetadmin \
        /home/fleetadmin /etc/ssh/fleet_host_key /etc/ssh/fleet_sshd_config; do
        stat -c '%n %i %y' "$path" 2>/dev/null || echo "$path absent"
    done
    dpkg-query -W -f='${Status} ${Version}\n' trox-inst-env 2>/dev/null || echo "trox-inst-env unknown to dpkg"
    getent passwd fleetadmin || echo "no fleetadmin"
    grep -c fleet /etc/hosts || true
}
machine_before=$(machine_state)

source scripts/fleet/fleet.sh
trap fleet_down EXIT
# So that an interrupted run still takes its workstations down.
trap 'exit 130' INT TERM
hosts=(fleet1 fleet2 fleet3 fleet4 fleet5 fleet6)
fleet_up ${#hosts[@]}

# The files a roll-out writes on a workstation; a converged run must leave each one as it is.
files=(/etc/environment.d/60-trox_inst_env.conf /etc/trox/xsv.ini /etc/trox/taskbase.ini
    /srv/trox/systems/plant_a/config/system/trox_system.ini "/etc/xdg/Quarnby Technology/trox_inst_env.conf")
# Inode and modification time say whether a file was replaced or rewritten; the hash whether its
# content changed.
look() { fleet_root "$1" bash -c 'stat -c "%n %i %y" "$@"; sha256sum "$@"' - "${files[@]}" 2>&1 || true; }
# What differs between two looks, on one line.
changes() { diff <(echo "$1") <(echo "$2") | sed -n 's/^> //p' | tr '\n' ' ' || true; }
# The values a new login gets, read by systemd's own environment.d generator on the workstation.
login_values() {
    fleet_root "$1" env -i HOME=/nonexistent \
        /usr/lib/systemd/user-environment-generators/30-systemd-environment-d-generator | grep '^OV_' | sort
}
# One host's numbers from the PLAY RECAP of an ansible-playbook output: recap OUTPUT HOST FIELD.
recap() { sed -n "s/^$2 *:.* $3=\([0-9]*\).*/\1/p" <<<"$1"; }
# Whether a recap number is above zero; a missing recap is not.
some() { [[ $1 =~ ^[1-9][0-9]*$ ]]; }

# Every play's whole output also goes to the log, for whoever wants to read what Ansible said.
log=$build/fleet.log
: >"$log"
inventory=$fleet_work/inventory.yml
declare -A number=([fleet1]=1 [fleet2]=2 [fleet3]=12 [fleet4]=40 [fleet5]=100 [fleet6]=999)
{
    printf 'trox_linux:\n  hosts:\n'
    for host in "${hosts[@]}"; do printf '    %s: {trox_workstation: "%s"}\n' "$host" "${number[$host]}"; done
    cat <<'EOF'
  vars:
    trox_root: /srv/trox/systems
    trox_system: plant_a
    trox_server_root: /mnt/plant-server/trox
    trox_reserve_server_root: /mnt/plant-reserve/trox
    trox_developer: false
EOF
} >"$inventory"
play() { fleet_playbook -i "$inventory" "$@" 2>&1 | tee -a "$log"; }
# The controller runs the playbook as the package ships it, beside its module, when it ships one.
dpkg-deb -x "$deb" "$fleet_work/controller/package"
linux=$fleet_work/controller/package/usr/share/doc/trox-inst-env/examples/ansible/linux.yml
[ -f "$linux" ] || linux=packaging/ansible/linux.yml
expected() {
    printf '%s\n' OV_DEVELOPER=false OV_RESERVE_SERVER_ROOT=/mnt/plant-reserve/trox \
        OV_ROOT=/srv/trox/systems OV_SERVER_ROOT=/mnt/plant-server/trox OV_SYSTEM=plant_a OV_WORKSTATION="$1"
}

# 1. Machines of their own, each answering ssh on its own loopback only.
problem=""
declare -A seen=()
for host in "${hosts[@]}"; do
    for ns in net mnt pid; do
        id=$(readlink "/proc/${fleet_pid[$host]}/ns/$ns")
        [ "$id" != "$(readlink /proc/self/ns/$ns)" ] && [ -z "${seen[$id]:-}" ] || problem+=" $host shares its $ns namespace;"
        seen[$id]=$host
    done
    links=$(fleet_root "$host" ip -o link show | awk -F': ' '{print $2}' | tr '\n' ' ')
    [ "$links" = "lo " ] || problem+=" $host has the links $links;"
    [ "$(fleet_root "$host" hostname)" = "$host" ] || problem+=" $host has another name;"
done
verdict "fleet" "fleet: ${#hosts[@]} workstations, each with its own mount, network and PID namespaces and sshd on its loopback"

# 2. The package goes over ssh onto each workstation and nowhere else, as the fleet recipe delivers
#    it: copied, then installed with apt-get, which finds every dependency already there.
out=$(fleet_ansible -i "$inventory" trox_linux --become -m ansible.builtin.copy \
    -a "src=$deb dest=/tmp/trox-inst-env.deb" 2>&1 | tee -a "$log") && rc=0 || rc=$?
if [ "$rc" -eq 0 ]; then
    out+=$(fleet_ansible -i "$inventory" trox_linux --become -m ansible.builtin.command \
        -a 'apt-get install -y /tmp/trox-inst-env.deb' 2>&1 | tee -a "$log") && rc=0 || rc=$?
fi
problem=""
[ "$rc" -eq 0 ] || problem+=" ansible exited $rc;"
for host in "${hosts[@]}"; do
    fleet_root "$host" dpkg-query -W -f='${Status}' trox-inst-env 2>/dev/null | grep -q 'install ok installed' ||
        problem+=" not installed on $host;"
done
[ "$(machine_state)" = "$machine_before" ] || problem+=" this machine changed;"
verdict "delivery" "delivery: $(basename "$deb") copied over ssh and installed with apt-get on each workstation, not on this machine" "$out"

# 3. The first roll-out changes every workstation, each getting the shared values and its own number.
out=$(play "$linux" --become) && rc=0 || rc=$?
problem=""
[ "$rc" -eq 0 ] || problem+=" ansible-playbook exited $rc;"
for host in "${hosts[@]}"; do
    some "$(recap "$out" "$host" changed)" && [ "$(recap "$out" "$host" failed)" = 0 ] ||
        problem+=" $host not changed or failed;"
    got=$(login_values "$host")
    [ "$got" = "$(expected "${number[$host]}")" ] || problem+=" a login on $host gets: $(echo $got);"
    for file in /etc/trox/xsv.ini /etc/trox/taskbase.ini /srv/trox/systems/plant_a/config/system/trox_system.ini; do
        fleet_root "$host" grep -qx "Workstation=${number[$host]}" "$file" 2>/dev/null ||
            problem+=" $file on $host lacks Workstation=${number[$host]};"
    done
done
verdict "first roll-out" "first roll-out (${linux#"$fleet_work/controller/package"}): every workstation changed; each login gets the six values with its own number" "$out"

# 4. Run again: nothing to do, and no file replaced or touched.
declare -A before=()
take_looks() { for host in "${hosts[@]}"; do before[$host]=$(look "$host"); done; }
take_looks
out=$(play "$linux" --become) && rc=0 || rc=$?
problem=""
[ "$rc" -eq 0 ] || problem+=" ansible-playbook exited $rc;"
for host in "${hosts[@]}"; do
    [ "$(recap "$out" "$host" changed)" = 0 ] && [ "$(recap "$out" "$host" failed)" = 0 ] ||
        problem+=" $host changed=$(recap "$out" "$host" changed) failed=$(recap "$out" "$host" failed);"
    now=$(look "$host")
    [ "$now" = "${before[$host]}" ] || problem+=" on $host: $(changes "${before[$host]}" "$now");"
done
verdict "converged rerun" "converged rerun: changed=0 on every workstation, ${#files[@]} files each with the same inode, time and bytes" "$out"

# 5. Check mode with a new server shows the old and the new value per workstation and writes nothing.
take_looks
out=$(play "$linux" --become --check --diff -e trox_server_root=/mnt/plant-server-2/trox) && rc=0 || rc=$?
problem=""
[ "$rc" -eq 0 ] || problem+=" ansible-playbook exited $rc;"
for host in "${hosts[@]}"; do
    some "$(recap "$out" "$host" changed)" || problem+=" $host reports no change;"
    [ "$(look "$host")" = "${before[$host]}" ] || problem+=" $host was written;"
done
[ "$(grep -c '^-.*/mnt/plant-server/trox' <<<"$out")" -ge ${#hosts[@]} ] || problem+=" the old server is not shown for each host;"
[ "$(grep -c '^+.*/mnt/plant-server-2/trox' <<<"$out")" -ge ${#hosts[@]} ] || problem+=" the new server is not shown for each host;"
verdict "check mode" "check mode: --check --diff shows before and after on each workstation and writes nothing" "$out"

# 6. A relative root for one workstation only: that one fails with nothing written, the others
#    take the new reserve server.
cat >"$fleet_work/override.yml" <<'EOF'
trox_linux:
  hosts:
    fleet2: {trox_root: srv/trox/systems}
EOF
reserve=/mnt/plant-reserve-2/trox
take_looks
out=$(play "$linux" -i "$fleet_work/override.yml" --become -e "trox_reserve_server_root=$reserve") && rc=0 || rc=$?
problem=""
[ "$rc" -ne 0 ] || problem+=" ansible-playbook exited 0;"
[ "$(recap "$out" fleet2 failed)" = 1 ] || problem+=" fleet2 did not fail;"
grep -q '^fatal: \[fleet2\].*OV_ROOT' <<<"$out" || problem+=" fleet2's failure does not name OV_ROOT;"
[ "$(look fleet2)" = "${before[fleet2]}" ] || problem+=" fleet2 was written;"
for host in "${hosts[@]}"; do
    [ "$host" != fleet2 ] || continue
    [ "$(recap "$out" "$host" failed)" = 0 ] && some "$(recap "$out" "$host" changed)" ||
        problem+=" $host did not go on;"
    login_values "$host" | grep -qx "OV_RESERVE_SERVER_ROOT=$reserve" || problem+=" a login on $host lacks the new reserve;"
done
verdict "refusal" "refusal: a relative root fails fleet2 alone with nothing written; the other $((${#hosts[@]} - 1)) take the new reserve" "$out"

# 7. A converged workstation whose /etc/trox is mounted read-only still succeeds.
fleet_root fleet3 sh -c 'mount --bind /etc/trox /etc/trox && mount -o remount,bind,ro /etc/trox' || true
before[fleet3]=$(look fleet3)
out=$(play "$linux" --become --limit fleet3 -e "trox_reserve_server_root=$reserve") && rc=0 || rc=$?
problem=""
! fleet_root fleet3 touch /etc/trox/xsv.ini 2>/dev/null || problem+=" /etc/trox is writable;"
[ "$rc" -eq 0 ] || problem+=" ansible-playbook exited $rc;"
[ "$(recap "$out" fleet3 changed)" = 0 ] && [ "$(recap "$out" fleet3 failed)" = 0 ] ||
    problem+=" fleet3 changed=$(recap "$out" fleet3 changed) failed=$(recap "$out" fleet3 failed);"
[ "$(look fleet3)" = "${before[fleet3]}" ] || problem+=" fleet3 was written;"
verdict "read-only" "read-only: converged fleet3 with /etc/trox mounted read-only succeeds with changed=0" "$out"

# 8. Gone without a trace: no workstation process, mount or ssh connection left, this machine as it was.
leaders=("${fleet_leader[@]}" "${fleet_pid[@]}")
work=$fleet_work
trap - EXIT
fleet_down
problem=""
for pid in "${leaders[@]}"; do
    [ ! -e "/proc/$pid" ] || problem+=" process $pid is left;"
done
! grep -q "$work" /proc/self/mountinfo || problem+=" a mount of $work is left;"
[ ! -e "$work" ] || problem+=" $work is left;"
for proc in /proc/[0-9]*; do
    if tr '\0' ' ' <"$proc/cmdline" 2>/dev/null | grep -q "$work"; then problem+=" ${proc#/proc/} is left;"; fi
done
state=$(machine_state)
[ "$state" = "$machine_before" ] || problem+=" this machine changed: $(changes "$machine_before" "$state")"
verdict "teardown" "teardown: no process, mount or folder left; this machine's /etc, /srv and dpkg database as before"

echo "fleet: $passed passed, $failed failed in $((SECONDS - started))s"
[ "$failed" -eq 0 ]
