#!/usr/bin/env bash
# Builds the root of a bootable Debian 12 workstation, once per machine, into a cache outside the
# checkout, and prints its folder as the last line. Does nothing but print the folder when that root
# is already cached. The root comes from the machine's own Debian mirror; its key covers this script,
# the mirror entry and the package lists, so a change to any of them builds a new root.
#
# The workstation has an administrator (ada, in group sudo, which polkit takes as administrators),
# an operator (olga) and one user per login shell (bert bash, zoe zsh, fred fish, tom tcsh). Root's
# own key opens every account over ssh, so the test drives real logins from inside the system.
#
# TROX_BOOTED_CACHE  where roots are kept (default /var/cache/trox_inst_env)
set -euo pipefail
log() { echo "booted-root: $*" >&2; }
[ "$(id -u)" -eq 0 ] || { log "needs root (debootstrap, chroot)"; exit 1; }
cache=${TROX_BOOTED_CACHE:-/var/cache/trox_inst_env}
suite=bookworm

# What debootstrap lays down first: a booted system with logins, the user manager, polkit and sudo.
core=systemd,systemd-sysv,dbus,dbus-user-session,libpam-systemd,openssh-server,polkitd,pkexec,sudo,procps,login,passwd
# Then, with apt: the other login shells, cron, a display server and its driver, a terminal driver for
# password prompts, the X11 session bus launcher desktops carry, and the dialog's Qt runtime, so that
# installing the package needs no download.
extra=(zsh fish tcsh cron xvfb xauth xdotool expect dbus-x11
    libqt6widgets6 libqt6gui6 libqt6dbus6 libqt6core6 qt6-qpa-plugins fonts-dejavu-core)

# The machine's own Debian entry: the deb822 stanza (or one-line entry) for the suite itself.
sources_text=""
for file in /etc/apt/sources.list.d/*.sources; do
    [ -e "$file" ] || continue
    sources_text+=$(awk -v RS= -v ORS='\n\n' -v suite="$suite" '
        /(^|\n)Types:[^\n]*deb([ \n]|$)/ && $0 ~ ("(^|\n)Suites:[^\n]*[ ]" suite "([ \n]|$)") && /debian/' "$file")
done
mirror=$(printf '%s\n' "$sources_text" | awk '/^URIs:/ && $2 !~ /security/ { print $2; exit }')
if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
    mirror=$(awk -v suite="$suite" '$1 == "deb" && $3 == suite && /debian/ { print $2; exit }' /etc/apt/sources.list)
    sources_text=$(awk -v suite="$suite" '$1 == "deb" && /debian/' /etc/apt/sources.list)
fi
[ -n "$mirror" ] || { log "no Debian $suite entry in the machine's apt sources"; exit 1; }

key=$(cat "$0" - <<<"$mirror $core ${extra[*]} $sources_text" | sha256sum | cut -c1-12)
root=$cache/booted-$suite-$key

cache_hit() {
    [ -f "$root/.complete" ] || return 1
    log "cache hit: $root"
    echo "$root"
}
cache_hit && exit 0
mkdir -p "$cache"
# One build at a time per cache: a second run waits for the first and then finds its result.
exec 9>"$cache/.booted.lock"
if ! flock -n 9; then
    log "another run is building the root; waiting for it"
    flock 9
fi
cache_hit && exit 0
log "cache miss: building $root from $mirror"
started=$(date +%s)
work=$cache/work-booted-$key
rm -rf "$work"
mkdir -p "$work"
debootstrap --variant=minbase --include="$core" "$suite" "$work" "$mirror" >"$cache/booted-$key.log" 2>&1 ||
    { tail -30 "$cache/booted-$key.log" >&2; log "debootstrap failed"; exit 1; }
log "debootstrap done ($(($(date +%s) - started)) s)"

# The machine's own entries, so that apt inside finds what the host found.
rm -f "$work/etc/apt/sources.list"
case $sources_text in
*Types:*) printf '%s\n' "$sources_text" >"$work/etc/apt/sources.list.d/debian.sources" ;;
*) printf '%s\n' "$sources_text" >"$work/etc/apt/sources.list" ;;
esac
in_root() { chroot "$work" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
mount -t proc proc "$work/proc"
trap 'umount "$work/proc" 2>/dev/null || true' EXIT
# No service may start while the root is built in a chroot.
printf '#!/bin/sh\nexit 101\n' >"$work/usr/sbin/policy-rc.d"
chmod 755 "$work/usr/sbin/policy-rc.d"
in_root apt-get update -qq >>"$cache/booted-$key.log" 2>&1
in_root apt-get install -y -qq --no-install-recommends "${extra[@]}" >>"$cache/booted-$key.log" 2>&1 ||
    { tail -30 "$cache/booted-$key.log" >&2; log "apt-get install failed"; exit 1; }
in_root apt-get clean
rm -f "$work/usr/sbin/policy-rc.d"
log "packages installed ($(($(date +%s) - started)) s)"

echo workstation >"$work/etc/hostname"
printf '127.0.0.1 localhost\n127.0.1.1 workstation\n' >"$work/etc/hosts"
# Kept across reboots, so the audit trail can be read after one.
mkdir -p "$work/var/log/journal"
# Nothing the test does not need: timers that would run apt, and consoles nobody logs in on.
for unit in apt-daily.timer apt-daily-upgrade.timer e2scrub_all.timer fstrim.timer \
    console-getty.service getty@tty1.service systemd-networkd-wait-online.service; do
    ln -sf /dev/null "$work/etc/systemd/system/$unit"
done
in_root ssh-keygen -q -t ed25519 -N '' -f /root/.ssh/id_ed25519
printf 'Host *\n  StrictHostKeyChecking no\n  UserKnownHostsFile /dev/null\n  LogLevel ERROR\n  BatchMode yes\n' \
    >"$work/root/.ssh/config"
for entry in ada:bash:sudo olga:bash: bert:bash: zoe:zsh: fred:fish: tom:tcsh:; do
    IFS=: read -r user shell group <<<"$entry"
    in_root useradd -m -s "$(in_root sh -c "command -v $shell")" ${group:+-G "$group"} "$user"
    echo "$user:$user-secret" | in_root chpasswd
    install -d -m 700 -o "$(stat -c %u "$work/home/$user")" -g "$(stat -c %g "$work/home/$user")" \
        "$work/home/$user/.ssh"
    install -m 600 -o "$(stat -c %u "$work/home/$user")" -g "$(stat -c %g "$work/home/$user")" \
        "$work/root/.ssh/id_ed25519.pub" "$work/home/$user/.ssh/authorized_keys"
done
umount "$work/proc"
trap - EXIT
touch "$work/.complete"
mv "$work" "$root"
log "built in $(($(date +%s) - started)) s"
echo "$root"
