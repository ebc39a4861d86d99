#!/usr/bin/env bash
# The first process of one workstation: runs inside fresh mount, network, PID, UTS and IPC namespaces
# (see fleet.sh) and turns them into a machine of its own. /etc, /usr, /var, /root, /home, /srv and
# /opt become overlays whose writes land on a tmpfs that dies with this process, so a package
# installed here, its dpkg database entry and every file the tool writes stay on this workstation.
# Then it starts the workstation's sshd on its own loopback and waits for it.
#
#   host.sh NAME SETUP_DIR STATE_DIR
# SETUP_DIR holds NAME.key (sshd's host key), admin.pub (the administrator's key) and
# sshd_config; STATE_DIR is an empty folder to put the tmpfs on.
set -euo pipefail
name=$1
setup=$2
state=$3

hostname "$name"
ip link set lo up

mount -t tmpfs -o mode=0700 "fleet-$name" "$state"
for dir in etc usr var root home srv opt; do
    mkdir "$state/$dir" "$state/$dir.work"
    mount -t overlay "fleet-$name-$dir" -o "lowerdir=/$dir,upperdir=$state/$dir,workdir=$state/$dir.work" "/$dir"
done

# Whatever the machine underneath carries of the tool is not this workstation's: it starts clean.
if dpkg-query -W -f='${Status}' trox-inst-env 2>/dev/null | grep -q 'ok installed'; then
    dpkg --purge trox-inst-env >/dev/null
fi
rm -rf /etc/trox /etc/environment.d/60-trox_inst_env.conf "/etc/xdg/Quarnby Technology" /srv/trox
# The systems tree a workstation gets copied before the tool runs.
for system in plant_a plant_b; do
    mkdir -p "/srv/trox/systems/$system/config/system"
done

# The administrator logs in with a key and becomes root through sudo, as on a real fleet. Without
# PAM sshd refuses accounts whose password is locked with "!", so the account gets "*" (no password).
id fleetadmin >/dev/null 2>&1 || useradd --create-home --shell /bin/bash fleetadmin
usermod --password '*' fleetadmin
install -d -m 0700 -o fleetadmin -g fleetadmin /home/fleetadmin/.ssh
install -m 0600 -o fleetadmin -g fleetadmin "$setup/admin.pub" /home/fleetadmin/.ssh/authorized_keys
echo 'fleetadmin ALL=(ALL:ALL) NOPASSWD: ALL' >/etc/sudoers.d/fleetadmin
chmod 0440 /etc/sudoers.d/fleetadmin
echo "127.0.1.1 $name" >>/etc/hosts
install -m 0600 "$setup/$name.key" /etc/ssh/fleet_host_key
install -m 0644 "$setup/sshd_config" /etc/ssh/fleet_sshd_config

# From here on the setup folder is not needed: /tmp and /run become the workstation's own.
mount -t tmpfs -o mode=1777 "fleet-$name-tmp" /tmp
mount -t tmpfs -o mode=0755 "fleet-$name-run" /run
mkdir -m 0755 /run/sshd

/usr/sbin/sshd -D -e -f /etc/ssh/fleet_sshd_config &
wait $!
