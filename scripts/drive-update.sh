#!/usr/bin/env bash
# Clicks the wizard through a whole update on a virtual display (Xvfb) of its own, the way a user
# would: prints each page title as it appears, saves a screenshot of each page, and checks the
# program's exit code after "Close".
#   scripts/drive-update.sh <update log> <screenshot folder> <command that starts the wizard...>
# The command gets DISPLAY; everything else it needs (TMPDIR so that its update log is <update
# log>, the simulator's ports file) the caller gives it. A device, real or simulated, must be
# waiting one version behind the update file. Exit status 0 when the update went through.
set -euo pipefail
logfile=${1:?update log}
shots=${2:?screenshot folder}
shift 2
[ $# -gt 0 ] || { echo "No command to start the wizard with"; exit 2; }
mkdir -p "$shots"
. "$(dirname "$0")/common.sh"
make_work /tmp/quaymend-drive.XXXXXX
start_xvfb "$work" || exit 1

"$@" &
app=$!
pids+=($app)

# QUAYMEND_WINDOW_WAIT: seconds for the window to appear, and to go after "Close" (Wine takes
# longer for both).
wait_for_window $((${QUAYMEND_WINDOW_WAIT:-10} * 10)) || { echo "The wizard's window did not appear"; exit 1; }

n=0
shot() { # name
    n=$((n + 1))
    local file
    file=$(printf '%s/%02d-%s.png' "$shots" "$n" "$1")
    sleep 0.3
    import -window "$window" "$file"
    echo "    screenshot: $file"
}
page() { echo "Page: $1 (after ${SECONDS} s)"; }

await 'Welcome screen' 20;                  page "Welcome";                          shot welcome;          click_next
await 'Connect' 20;                         page "Connect your AIS device";          shot connect;          click_next
await 'Detecting AIS' 20;                   page "Detecting your AIS device";        shot detecting
await 'Detecting AIS - update required' 60; page "AIS Class B CS Transceiver found"; shot update-required;   click_next
await 'Booting' 20;                         page "Updating AIS device";              shot switching
await 'Updating' 60;                        page "Updating AIS device";              sleep 1; shot update-in-progress
await 'Updating - complete' 120;            page "Updating AIS device";              shot confirming
await 'Confirming - confirmed .*' 90;       page "Update complete";                  shot update-complete;  click_next
await 'Complete' 20
for _ in $(seq $((${QUAYMEND_WINDOW_WAIT:-5} * 10))); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && { echo "The wizard did not close after \"Close\""; cat "$logfile"; exit 1; }
status=0; wait "$app" || status=$?
echo "The wizard closed with exit code $status."
[ "$status" -eq 0 ]
