#!/usr/bin/env bash
# Sets up, builds and runs the wizard's main job against the device simulator: a simulated 7304
# transceiver one version behind the sample update file in build/demo/.
#  - With a display: the wizard opens and you click through it.
#  - Without one: it runs under Xvfb and clicks through the whole update by itself, printing each
#    page title and saving a screenshot of each page.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" --run
# Only what the demo needs: the program in build/demo/ and the simulator, not the tests.
"$top/scripts/build.sh" demo quaymend-devsim

build="$top/build"
work=$(mktemp -d /tmp/quaymend-demo.XXXXXX)
shots="$work/screenshots"
mkdir -p "$shots"
# The folder stays: it holds the update log and the screenshots.
. "$top/scripts/common.sh"
trap stop_started EXIT

# The update log goes to this run's own temporary directory.
export TMPDIR="$work"
logfile="$work/quaymendlog.txt"
export QUAYMEND_SIMULATED_PORTS="$work/ports"

start_simulator "$build/tools/devsim/quaymend-devsim" "$work" \
    --new-version 730400.03.00.01 --reply-delay 1500 --link-speed 11520 --flash-ms 5 || exit 1
echo "Device simulator running (its log: $work/devsim.log)"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "Starting the wizard; click through it. Update log: $logfile"
    (cd "$work" && "$build/demo/quaymend" 2>"$work/quaymend-debug.log") || true
    echo "Update log: $logfile"
    exit 0
fi

# No display: a virtual one, and the clicks are ours.
"$top/scripts/drive-update.sh" "$logfile" "$shots" \
    sh -c 'cd "$1" && exec "$2" 2>"$1/quaymend-debug.log"' sh "$work" "$build/demo/quaymend"
if cmp -s <(head -c "$(stat -c %s "$build/demo/730400_03_00_01.hex")" "$work/received-image.bin") "$build/demo/730400_03_00_01.hex"; then
    echo "The simulated device received the update file intact."
else
    echo "The simulated device's image differs from the update file!"; exit 1
fi
echo "Update log: $logfile"
echo "Screenshots: $shots"
