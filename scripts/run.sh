#!/usr/bin/env bash
# Sets up, builds and runs the wizard's main job against the device simulator: a simulated 7304
# transceiver one version behind the sample update file in build/demo/.
#  - With a display: the wizard opens and you click through it.
#  - Without one: it runs under Xvfb and clicks through the whole update by itself, printing each
#    page title and saving a screenshot of each page.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"

build="$top/build"
work=$(mktemp -d /tmp/quaymend-demo.XXXXXX)
shots="$work/screenshots"
mkdir -p "$shots"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

# The update log goes to this run's own temporary directory.
export TMPDIR="$work"
logfile="$work/quaymendlog.txt"
export QUAYMEND_SIMULATED_PORTS="$work/ports"

"$build/tools/devsim/quaymend-devsim" --ports-file "$QUAYMEND_SIMULATED_PORTS" \
    --image "$work/received-image.bin" --new-version 730400.03.00.01 \
    --reply-delay 1500 --link-speed 11520 --flash-ms 5 2>"$work/devsim.log" &
pids+=($!)
for _ in $(seq 100); do
    grep -q 'devsim: ready' "$work/devsim.log" 2>/dev/null && break
    sleep 0.1
done
grep -q 'devsim: ready' "$work/devsim.log" || { echo "The device simulator did not start:"; cat "$work/devsim.log"; exit 1; }
echo "Device simulator running (its log: $work/devsim.log)"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "Starting the wizard; click through it. Update log: $logfile"
    (cd "$work" && "$build/demo/quaymend" 2>"$work/quaymend-debug.log") || true
    echo "Update log: $logfile"
    exit 0
fi

# No display: a virtual one, and the clicks are ours.
# Xvfb picks a free display number itself and tells it on the descriptor. By default it resets
# itself when its last client leaves, and drops a client that connects during that reset: the
# check below is such a last client, so the server must not reset (-noreset).
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n 1 "$work/display")
for _ in $(seq 200); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { cat "$work/xvfb.log"; echo "Xvfb did not start."; exit 1; }

(cd "$work" && exec "$build/demo/quaymend" 2>"$work/quaymend-debug.log") &
app=$!
pids+=($app)

window=""
for _ in $(seq 100); do
    window=$(xdotool search --name '^Quaymend v' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "The wizard's window did not appear"; exit 1; }

n=0
shot() { # name
    n=$((n + 1))
    local file
    file=$(printf '%s/%02d-%s.png' "$shots" "$n" "$1")
    sleep 0.3
    import -window "$window" "$file"
    echo "    screenshot: $file"
}
click_next() {
    # The wizard's first prompt button sits at the right end of its button row.
    eval "$(xdotool getwindowgeometry --shell "$window")"
    # Away first: a pointer that has not moved since the last click is not a fresh press to Qt.
    xdotool mousemove --sync $((X + 10)) $((Y + 10))
    xdotool mousemove --sync $((X + WIDTH - 63)) $((Y + HEIGHT - 28)) click 1
}
# Waits for an update-log line; fails loudly on any failure line of the wizard.
await() { # pattern seconds
    local deadline=$((SECONDS + $2))
    while [ $SECONDS -lt $deadline ]; do
        if grep -Eq " : ($1)\$" "$logfile" 2>/dev/null; then return 0; fi
        if grep -Eq ' : (Detecting AIS - not found|Connecting - failed|Updating - failed|Updating - xmodem .*|Detecting AIS - No update file)$' "$logfile" 2>/dev/null; then
            echo "The update did not go through; the update log says:"; cat "$logfile"; return 1
        fi
        sleep 0.1
    done
    echo "Timed out waiting for '$1'; the update log so far:"; cat "$logfile"; return 1
}
page() { echo "Page: $1"; }

await 'Welcome screen' 20;                  page "Welcome";                          shot welcome;          click_next
await 'Connect' 20;                         page "Connect your AIS device";          shot connect;          click_next
await 'Detecting AIS' 20;                   page "Detecting your AIS device";        shot detecting
await 'Detecting AIS - update required' 60; page "AIS Class B CS Transceiver found"; shot update-required;   click_next
await 'Booting' 20;                         page "Updating AIS device";              shot switching
await 'Updating' 60;                        page "Updating AIS device";              sleep 1; shot update-in-progress
await 'Updating - complete' 120;            page "Update complete";                  shot update-complete;  click_next
await 'Complete' 20
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
status=0; wait "$app" || status=$?
echo "The wizard closed with exit code $status."
if cmp -s <(head -c "$(stat -c %s "$build/demo/730400_03_00_01.hex")" "$work/received-image.bin") "$build/demo/730400_03_00_01.hex"; then
    echo "The simulated device received the update file intact."
else
    echo "The simulated device's image differs from the update file!"; exit 1
fi
echo "Update log: $logfile"
echo "Screenshots: $shots"
