#!/bin/bash
# Runs a command through pkexec the way a desktop's "Set for all users" does, with a text
# authentication agent (pkttyagent) registered for this shell first, so polkit asks on this terminal.
set -u
ready=$(mktemp -u)
mkfifo "$ready"
pkttyagent --process $$ --notify-fd 5 5>"$ready" &
agent=$!
# The agent closes its end once it is registered (or exits when it cannot be).
cat "$ready" >/dev/null
rm -f "$ready"
# PKEXEC_TIMES runs it again from the same shell, as a launcher does that is asked twice.
status=0
for _ in $(seq "${PKEXEC_TIMES:-1}"); do
    pkexec "$@" || status=$?
done
kill "$agent" 2>/dev/null
wait "$agent" 2>/dev/null
exit "$status"
