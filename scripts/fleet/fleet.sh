#!/usr/bin/env bash
# A fleet of Linux workstations on this one machine, for trying roll-outs the way an administrator
# makes them: each workstation has its own mount, network, PID, UTS and IPC namespaces (host.sh), its
# own /etc, /usr and /var over the machine's, and its own sshd on its own loopback. Ansible reaches it
# as "fleetadmin" with a key made for the fleet, through socat started inside the workstation's
# network namespace; nothing listens outside and no packet leaves the machine.
#
# Sourced by scripts/ci.d/45-fleet.sh; to try a play by hand (as root), with hosts fleet1..fleet3:
#   source scripts/fleet/fleet.sh && fleet_up 3
#   fleet_ansible -i inventory.yml trox_linux --become -m copy -a "src=$PWD/x.deb dest=/tmp/x.deb"
#   fleet_playbook -i inventory.yml packaging/ansible/linux.yml --become
#   fleet_root fleet2 cat /etc/environment.d/60-trox_inst_env.conf
#   fleet_down
# fleet_up sets ANSIBLE_CONFIG, which holds the connection settings; an inventory needs only names.
fleet_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fleet_work=""
fleet_hosts=()
declare -A fleet_pid=()     # the workstation's first process as this machine sees it
declare -A fleet_leader=()  # the unshare process that holds it

fleet_die() { echo "fleet: $*" >&2; return 1; }

# Starts COUNT workstations fleet1..fleetCOUNT and waits until each one's sshd answers.
fleet_up() {
    local count=$1 name i leader pid
    fleet_work=$(mktemp -d "${TMPDIR:-/tmp}/fleet.XXXXXX")
    chmod 0755 "$fleet_work"
    mkdir "$fleet_work/setup" "$fleet_work/state" "$fleet_work/controller" "$fleet_work/log"
    ssh-keygen -q -t ed25519 -N '' -C fleetadmin -f "$fleet_work/admin"
    cp "$fleet_work/admin.pub" "$fleet_work/setup/admin.pub"
    cat >"$fleet_work/setup/sshd_config" <<'EOF'
ListenAddress 127.0.0.1:22
HostKey /etc/ssh/fleet_host_key
PidFile /run/sshd.pid
UsePAM no
PermitRootLogin no
PasswordAuthentication no
KbdInteractiveAuthentication no
AuthorizedKeysFile .ssh/authorized_keys
AllowUsers fleetadmin
Subsystem sftp /usr/lib/openssh/sftp-server
EOF
    : >"$fleet_work/known_hosts"
    : >"$fleet_work/ssh_config"
    for ((i = 1; i <= count; i++)); do
        name=fleet$i
        ssh-keygen -q -t ed25519 -N '' -C "$name" -f "$fleet_work/setup/$name.key"
        echo "$name $(cut -d' ' -f1,2 "$fleet_work/setup/$name.key.pub")" >>"$fleet_work/known_hosts"
        mkdir "$fleet_work/state/$name"
        # --kill-child: when the holder goes, the workstation's first process and with it every
        # process of its PID namespace go too.
        unshare --mount --propagation private --net --pid --uts --ipc --fork --kill-child --mount-proc \
            bash "$fleet_dir/host.sh" "$name" "$fleet_work/setup" "$fleet_work/state/$name" \
            >"$fleet_work/log/$name.log" 2>&1 &
        leader=$!
        fleet_hosts+=("$name")
        fleet_leader[$name]=$leader
        pid=""
        for _ in $(seq 100); do
            pid=$(cat "/proc/$leader/task/$leader/children" 2>/dev/null | tr -d ' ') || true
            [ -n "$pid" ] && break
            kill -0 "$leader" 2>/dev/null || break
            sleep 0.05
        done
        [ -n "$pid" ] || { cat "$fleet_work/log/$name.log" >&2; fleet_die "$name did not start"; return 1; }
        fleet_pid[$name]=$pid
        cat >>"$fleet_work/ssh_config" <<EOF
Host $name
    HostKeyAlias $name
    User fleetadmin
    IdentityFile $fleet_work/admin
    IdentitiesOnly yes
    UserKnownHostsFile $fleet_work/known_hosts
    GlobalKnownHostsFile /dev/null
    StrictHostKeyChecking yes
    BatchMode yes
    ProxyCommand nsenter --net=/proc/$pid/ns/net socat STDIO TCP:127.0.0.1:22
    ControlMaster auto
    ControlPath $fleet_work/controller/%n.ssh
    ControlPersist 300

EOF
    done
    cat >"$fleet_work/ansible.cfg" <<EOF
[defaults]
host_key_checking = True
interpreter_python = /usr/bin/python3
local_tmp = $fleet_work/controller/ansible-local
retry_files_enabled = False
nocolor = True
forks = 10

[ssh_connection]
ssh_args = -F $fleet_work/ssh_config
pipelining = True
EOF
    export ANSIBLE_CONFIG=$fleet_work/ansible.cfg
    # Each sshd takes a moment to come up; wait on the port itself, a bounded number of times.
    for name in "${fleet_hosts[@]}"; do
        local up=""
        for _ in $(seq 200); do
            if fleet_root "$name" bash -c 'exec 3<>/dev/tcp/127.0.0.1/22' 2>/dev/null; then
                up=yes
                break
            fi
            kill -0 "${fleet_leader[$name]}" 2>/dev/null || break
            sleep 0.05
        done
        [ -n "$up" ] || { cat "$fleet_work/log/$name.log" >&2; fleet_die "$name's sshd does not answer"; return 1; }
    done
}

# Runs a command as root on workstation NAME, outside of ssh: the test's own look at the machine.
fleet_root() {
    local name=$1
    shift
    nsenter --target "${fleet_pid[$name]}" --mount --net --pid --uts --ipc "$@"
}

# Runs ansible-playbook or ansible from the controller, with HOME in the fleet's folder so that nothing of it
# lands in the real home; a play that hangs is stopped after five minutes.
fleet_playbook() {
    HOME=$fleet_work/controller timeout 300 ansible-playbook "$@"
}
fleet_ansible() {
    HOME=$fleet_work/controller timeout 300 ansible "$@"
}

# Stops the ssh connections, then each workstation by the process that holds it, and waits for them.
fleet_down() {
    local name
    [ -n "$fleet_work" ] || return 0
    local master masters=()
    for name in "${fleet_hosts[@]}"; do
        [ -S "$fleet_work/controller/$name.ssh" ] || continue
        master=$(ssh -F "$fleet_work/ssh_config" -O check "$name" 2>&1 | sed -n 's/.*(pid=\([0-9]*\)).*/\1/p')
        ssh -F "$fleet_work/ssh_config" -O exit "$name" 2>/dev/null || true
        [ -z "$master" ] || masters+=("$master")
    done
    # The masters finish on their own once told; wait for that, a bounded number of times.
    for master in "${masters[@]}"; do
        for _ in $(seq 100); do
            kill -0 "$master" 2>/dev/null || break
            sleep 0.05
        done
    done
    # unshare ignores SIGTERM while it waits; the workstation's first process is the init of its PID
    # namespace, which only SIGKILL stops from outside, and with it every process inside.
    # A workstation that never got that far is stopped through its holder, which takes its child along.
    local pid leader
    for name in "${fleet_hosts[@]}"; do
        pid=${fleet_pid[$name]:-}
        leader=${fleet_leader[$name]}
        # Only while it is still the holder's child: a number the kernel gave to another process since
        # is not ours to stop.
        if [ -n "$pid" ] && [ "$(awk '{print $4}' "/proc/$pid/stat" 2>/dev/null)" = "$leader" ]; then
            kill -KILL "$pid" 2>/dev/null || true
        else
            kill -KILL "$leader" 2>/dev/null || true
        fi
    done
    for name in "${fleet_hosts[@]}"; do
        wait "${fleet_leader[$name]}" 2>/dev/null || true
    done
    rm -rf "$fleet_work"
    fleet_work=""
    fleet_hosts=()
}
