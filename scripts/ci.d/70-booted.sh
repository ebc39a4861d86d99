#!/usr/bin/env bash
# The tool on a booted Debian 12: real ssh logins through PAM and logind, each user's own systemd
# user manager and session bus, the real polkitd with pkexec and a text agent, sudo, cron and a
# reboot. The root comes from scripts/booted/root.sh (built once per machine, cached); each run
# boots a fresh overlay of it with systemd-nspawn in a private network (loopback only), installs the
# package built in build/ with apt-get, drives every step from inside with nsenter and ssh, and
# stops the container by the process id it started. Nothing outside the container is touched.
#
# Steps known not to pass yet are listed in expected_gaps with the reason: they are run and reported
# loudly, but do not fail the stage. A listed step that passes says so, to be unlisted.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
[ "$(id -u)" -eq 0 ] || exec sudo -E bash "$0" "$@"
# Every mount of this stage stays in a mount namespace of its own.
[ -n "${TROX_BOOTED_PRIVATE:-}" ] || exec unshare --mount --propagation private env TROX_BOOTED_PRIVATE=1 bash "$0" "$@"
started=$(date +%s)
build=${BUILD_DIR:-$top/build}

# step id -> why it does not pass yet (a feature not in the tree, a known fault, the platform's limit).
declare -A expected_gaps=(
    [sudo-i-zsh]="Debian's sudo -i runs no pam_env, and a zsh login reads no /etc/profile.d"
)

passed=0 failed=0 gapped=0
gaps_seen=()
check() { # id, description, command...
    local id=$1 what=$2
    shift 2
    if "$@"; then
        passed=$((passed + 1))
        if [ -n "${expected_gaps[$id]:-}" ]; then
            echo "ok   $what  [listed as an expected gap: $id; unlist it]"
        else
            echo "ok   $what"
        fi
    elif [ -n "${expected_gaps[$id]:-}" ]; then
        gapped=$((gapped + 1))
        gaps_seen+=("$id")
        echo "GAP  $what  <<< EXPECTED GAP: ${expected_gaps[$id]} >>>"
    else
        failed=$((failed + 1))
        echo "FAIL $what"
    fi
}
note() { echo "     $*"; }
# holds or lacks, with the text it looked at shown when it fails, so that a rare failure can be read.
shown() { "$@" || { printf '%s\n' "$2" | sed 's/^/     | /'; return 1; }; }

# --- the package and the root ---------------------------------------------------------------------
[ -f "$build/CPackConfig.cmake" ] || bash "$top/scripts/build.sh"
work=$(mktemp -d /var/tmp/trox-booted.XXXXXX)
nspawn_pid=""
machine=trox-booted-$$
cleanup() {
    if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
        kill -TERM "$nspawn_pid" 2>/dev/null || true
        for _ in $(seq 200); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.05; done
        kill -KILL "$nspawn_pid" 2>/dev/null || true
        wait "$nspawn_pid" 2>/dev/null || true
    fi
    umount "$work/merged" 2>/dev/null || true
    rm -rf "$work" "/run/systemd/nspawn/propagate/$machine"
}
trap cleanup EXIT
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/package/trox-inst-env_*.deb)
root_started=$(date +%s)
root=$(bash "$top/scripts/booted/root.sh" 2>"$work/root.log" | tail -n 1) || { cat "$work/root.log" >&2; exit 1; }
root_seconds=$(($(date +%s) - root_started))
grep -q 'cache hit' "$work/root.log" && root_state="cached" || root_state="built in $root_seconds s"

mkdir -p "$work/upper" "$work/overlay" "$work/merged"
# Each run boots a fresh copy: an overlay over the cached root, or a real copy where overlays fail.
mount -t overlay overlay -o "lowerdir=$root,upperdir=$work/upper,workdir=$work/overlay" "$work/merged" 2>/dev/null ||
    cp -a --reflink=auto "$root/." "$work/merged/"
mkdir -p "$work/merged/srv/booted" "$work/merged/srv/trox"
cp "$top"/scripts/booted/{dialog.sh,agent.sh,authenticate.exp} "$work/merged/srv/booted/"
cp "$deb" "$work/merged/srv/booted/"
cp -r "$top/demo/systems" "$work/merged/srv/trox/systems"

# --- the container ---------------------------------------------------------------------------------
init=""
boot() {
    systemd-nspawn --quiet --register=no --keep-unit --private-network --console=passive \
        --machine="$machine" -D "$work/merged" -b >>"$work/nspawn.log" 2>&1 &
    nspawn_pid=$!
    init=""
    local boot_started=$SECONDS
    for _ in $(seq 400); do
        init=$(ps -o pid= --ppid "$nspawn_pid" 2>/dev/null | tr -d ' ' | head -n 1)
        [ -n "$init" ] && [ "$(cat "/proc/$init/comm" 2>/dev/null)" = systemd ] && break
        init=""
        sleep 0.05
    done
    [ -n "$init" ] || return 1
    local state=""
    for _ in $(seq 1200); do
        state=$(in_box systemctl is-system-running 2>/dev/null) || true
        case $state in running | degraded | maintenance | stopping) break ;; esac
        sleep 0.1
    done
    note "booted to '$state' in $((SECONDS - boot_started)) s"
    [ "$state" = running ] || [ "$state" = degraded ]
}
in_box() { nsenter -t "$init" -a -- /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
# A command over ssh (a non-login shell), and a login shell fed its commands on standard input.
over_ssh() { local user=$1; shift; in_box ssh -T "$user@localhost" "$@"; }
login_shell() { local user=$1; shift; printf '%s\n' "$@" | in_box ssh -T "$user@localhost"; }
# The six values as a session sees them, one NAME=VALUE a line, sorted.
ours() { { grep -a '^OV_' || true; } | sort; }
# TEXT has each LINE (a grep pattern for the whole line); TEXT has no line starting with PREFIX.
holds() {
    local text=$1 line
    shift
    for line; do printf '%s\n' "$text" | grep -qx -- "$line" || return 1; done
}
lacks() { ! printf '%s\n' "$1" | grep -q -- "^$2"; }
journal_lines() { in_box journalctl -q -t trox_inst_env -o cat --no-pager 2>/dev/null || true; }

check boot "boots to the multi-user target (systemd, logind, sshd, polkitd)" boot
# Nothing below means anything without a running system.
[ "$failed" -eq 0 ] || { tail -n 30 "$work/nspawn.log"; echo "$passed passed, $failed failed"; exit 1; }

# No network inside: the root already holds every dependency, so apt-get only checks them.
apt_out=$(in_box apt-get install -y -qq "/srv/booted/$(basename "$deb")" 2>&1) || note "$apt_out"
check install "apt-get installs the package with its dependencies from Debian" \
    in_box sh -c 'test "$(trox_inst_env_cli --version)" = "trox_inst_env_cli 4.5.0.4" && pkaction --action-id com.quarnby.trox_inst_env.run >/dev/null'

# --- the administrator sets up the workstation from a terminal ------------------------------------
setup=$(printf 'ada-secret\n' | over_ssh ada "sudo -S -p '' trox_inst_env_cli set OV_ROOT=/srv/trox/systems OV_SYSTEM=plant_a OV_SERVER_ROOT=/srv/trox-master OV_WORKSTATION=12 --no-developer" 2>&1) || note "$setup"
machine_file() { in_box cat /etc/environment.d/60-trox_inst_env.conf 2>/dev/null; }
user_file() { in_box cat "/home/$1/.config/environment.d/61-trox_inst_env.conf" 2>/dev/null || true; }
check sudo-setup "sudo trox_inst_env_cli set: the workstation's values land machine-wide" \
    holds "$(machine_file)" 'OV_SYSTEM="plant_a"' 'OV_WORKSTATION="12"'

# --- the operator's own Ok --------------------------------------------------------------------------
olga=$(over_ssh olga 'bash /srv/booted/dialog.sh :11 40 developer &&
    echo "== manager" && systemctl --user show-environment &&
    echo "== service" && systemd-run --user --quiet --wait --pipe env' 2>&1) || note "$olga"
note "her dialog showed: $(printf '%s\n' "$olga" | sed -n 's/^box: //p' | paste -sd, -)"
manager=$(printf '%s\n' "$olga" | sed -n '/^== manager$/,/^== service$/p' | ours)
service=$(printf '%s\n' "$olga" | sed -n '/^== service$/,$p' | ours)
check operator-ok "operator's Ok in the dialog on a display of her ssh session: her user manager has the values at once" \
    holds "$manager" OV_WORKSTATION=40 OV_DEVELOPER=true
check operator-service "a user service started afterwards (systemd-run --user) sees them" \
    holds "$service" OV_WORKSTATION=40 OV_SYSTEM=plant_a
check operator-own-file "without root rights the values land in her own file" \
    holds "$(user_file olga)" 'OV_WORKSTATION="40"'

# --- "Set for all users": pkexec, polkitd, the administrator's password on a text agent ------------
journal_before=$(journal_lines | wc -l)
first=$(over_ssh olga 'PKEXEC_PASSWORD=ada-secret bash /srv/booted/dialog.sh :12 41' 2>&1) || note "$first"
note "the dialog under pkexec showed: $(printf '%s\n' "$first" | sed -n 's/^box: //p' | paste -sd, -)"
check pkexec-auth "pkexec through polkitd: pkttyagent asks for the administrator's password once, and it is taken" \
    shown holds "$first" '.*AUTHENTICATION COMPLETE.*' 'prompts: 1'
check pkexec-machine "the dialog run by pkexec writes the values machine-wide" \
    holds "$(machine_file)" 'OV_WORKSTATION="41"'
root_buses=$(printf '%s\n' "$first" | sed -n 's/^root bus: //p')
check pkexec-bus "the dialog run by pkexec left no session bus of root's behind" test -z "$root_buses"
[ -z "$root_buses" ] || note "root's: $(printf '%s\n' "$root_buses" | paste -sd ';' -)"
check pkexec-stale "the operator's stale per-user value is gone" \
    lacks "$(user_file olga)" OV_WORKSTATION=
# polkitd treats an ssh session as remote (allow_any); at the screen it applies allow_active. A
# graphical login's session on seat0, as a display manager opens it, and the menu action asked twice
# from the same launcher: each time the password.
again=$(in_box systemd-run --quiet --wait --pipe --uid=olga -p PAMName=login -p Environment=XDG_SEAT=seat0 \
    -p Environment=XDG_SESSION_TYPE=x11 -p Environment=PKEXEC_PASSWORD=ada-secret -p Environment=PKEXEC_TIMES=2 \
    -- sh -c 'loginctl show-session "$XDG_SESSION_ID" -p Remote -p Seat -p Active; bash /srv/booted/dialog.sh :13 escape 2' 2>&1) ||
    note "$again"
note "at the screen: $(printf '%s\n' "$again" | grep -E '^(Remote|Seat|Active)=' | paste -sd ' ' -)"
check pkexec-again "at the screen (seat0, active, local), pkexec asked twice asks for the password twice" \
    shown holds "$again" 'Remote=no' 'Seat=seat0' 'Active=yes' 'prompts: 2'

# --- sudo from a terminal, over the administrator's own stale value --------------------------------
over_ssh ada 'trox_inst_env_cli set OV_RESERVE_SERVER_ROOT=/srv/old-reserve' >/dev/null 2>&1 || true
stale_before=$(user_file ada)
sudo_out=$(printf 'ada-secret\n' | over_ssh ada "sudo -S -p '' trox_inst_env_cli set OV_RESERVE_SERVER_ROOT=/srv/trox-reserve" 2>&1) || note "$sudo_out"
check sudo-machine "sudo trox_inst_env_cli set writes machine-wide" \
    holds "$(machine_file)" 'OV_RESERVE_SERVER_ROOT="/srv/trox-reserve/\?"'
stale_gone() { holds "$stale_before" 'OV_RESERVE_SERVER_ROOT=.*old-reserve.*' && lacks "$(user_file ada)" OV_RESERVE_SERVER_ROOT=; }
check sudo-stale "the invoking user's stale per-user value is gone" stale_gone
journal_mid=$(journal_lines | wc -l)
again_out=$(printf 'ada-secret\n' | over_ssh ada "sudo -S -p '' trox_inst_env_cli set OV_RESERVE_SERVER_ROOT=/srv/trox-reserve" 2>&1) || note "$again_out"
journal_after=$(journal_lines | wc -l)

# --- everybody else's next login --------------------------------------------------------------------
# What every fresh session must see, as the machine file now says.
expected=$(in_box sh -c 'set -a; . /etc/environment.d/60-trox_inst_env.conf; env' | ours)
note "machine-wide: $(printf '%s\n' "$expected" | paste -sd ' ' -)"
# Cron runs jobs on the minute: installed now, the job's output is collected after the other probes.
in_box sh -c "echo '* * * * * env > /tmp/cron-bert.env' | crontab -u bert -"
sees() { [ "$(printf '%s\n' "$1" | ours)" = "$expected" ]; }
declare -A seen=()
probe() { # id, description, output
    seen[$1]=$(printf '%s\n' "$3" | ours | sed -n 's/^OV_WORKSTATION=//p')
    check "$1" "$2" sees "$3"
}
probe login-bash "ssh login, bash" "$(login_shell bert env exit 2>&1)"
probe login-zsh "ssh login, zsh" "$(login_shell zoe env exit 2>&1)"
probe login-fish "ssh login, fish" "$(login_shell fred env exit 2>&1)"
probe login-tcsh "ssh login, tcsh" "$(login_shell tom env exit 2>&1)"
probe ssh-command "ssh host COMMAND (bash, no login shell)" "$(over_ssh bert env 2>&1)"
probe ssh-command-fish "ssh host COMMAND (fish, no login shell)" "$(over_ssh fred env 2>&1)"
probe su-bash "su - (bash)" "$(in_box su - bert -c env 2>&1)"
probe su-zsh "su - (zsh)" "$(in_box su - zoe -c env 2>&1)"
probe sudo-i "sudo -i (bash)" "$(in_box sudo -i -u bert env 2>&1)"
probe sudo-i-zsh "sudo -i (zsh)" "$(in_box sudo -i -u zoe env 2>&1)"
probe user-service "a user service (systemd-run --user)" "$(over_ssh fred 'systemd-run --user --quiet --wait --pipe env' 2>&1)"
probe user-manager "the user manager, which graphical sessions start from (systemctl --user show-environment)" \
    "$(over_ssh tom 'systemctl --user show-environment' 2>&1)"
cron_out=""
for _ in $(seq 1500); do
    in_box test -s /tmp/cron-bert.env && cron_out=$(in_box cat /tmp/cron-bert.env) && break
    sleep 0.1
done
probe cron "a cron job" "$cron_out"

logged() { [ "$journal_mid" -gt "$journal_before" ] && holds "$(journal_lines)" '.*olga.*OV_WORKSTATION.*' '.*ada.*OV_RESERVE_SERVER_ROOT.*'; }
check journal "journalctl -t trox_inst_env shows the changes, with olga under pkexec and ada under sudo" logged
journal_lines | sed 's/^/     log: /'
check journal-quiet "a set that changes nothing logs nothing" test "$journal_mid" -gt 0 -a "$journal_mid" = "$journal_after"

# --- reboot -------------------------------------------------------------------------------------------
in_box systemctl reboot >/dev/null 2>&1 || true
for _ in $(seq 1200); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$nspawn_pid" 2>/dev/null && { note "the container did not stop within a minute"; kill -KILL "$nspawn_pid"; }
status=0
wait "$nspawn_pid" || status=$?
nspawn_pid=""
note "the container rebooted (systemd-nspawn exit $status)"
check reboot "boots again from the same disk" boot
check reboot-file "after the reboot the machine-wide values hold" \
    test "$(in_box sh -c 'set -a; . /etc/environment.d/60-trox_inst_env.conf; env' | ours)" = "$expected"
probe reboot-login "the first login after the reboot (ssh, bash) gets them" "$(login_shell bert env exit 2>&1)"
probe reboot-manager "and so does that user's fresh user manager" "$(over_ssh bert 'systemctl --user show-environment' 2>&1)"
check journal-reboot "the audit entries survive the reboot" test "$journal_after" -gt 0 -a "$(journal_lines | wc -l)" -ge "$journal_after"

# --- summary ------------------------------------------------------------------------------------------
echo "session kinds (OV_WORKSTATION seen; machine-wide is $(printf '%s\n' "$expected" | sed -n 's/^OV_WORKSTATION=//p')):"
for id in login-bash login-zsh login-fish login-tcsh ssh-command ssh-command-fish su-bash su-zsh sudo-i sudo-i-zsh \
    cron user-service user-manager reboot-login reboot-manager; do
    printf '     %-16s %s\n' "$id" "${seen[$id]:-none}"
done
if [ "$gapped" -gt 0 ]; then
    echo "!!! $gapped EXPECTED GAPS, steps this tree does not pass yet: ${gaps_seen[*]}"
fi
echo "booted system: $(($(date +%s) - started)) s (root $root_state)"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
