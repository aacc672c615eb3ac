#!/usr/bin/env bash
# Sets up, builds and runs the wizard's main job, an update, against the device simulator: a
# simulated 7304 transceiver one version behind the sample update file in build/demo/.
#  - With a display: the wizard opens and you click through it.
#  - Without one: the same update runs unattended (quaymend --batch), every update-log line on
#    the terminal.
#  - With --xvfb, without a display: the window on a virtual display of its own (Xvfb), clicked
#    through by this script, which prints each page title and saves a screenshot of each page.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mode=
case "${1:-}" in
"") ;;
--xvfb) mode=xvfb ;;
*) echo "run.sh: unknown option $1 (--xvfb: click the window through on a virtual display)"; exit 2 ;;
esac
# A display: Wayland's, or X's where it answers (xdpyinfo, where installed, asks it).
has_display() {
    [ -n "${WAYLAND_DISPLAY:-}" ] && return 0
    [ -n "${DISPLAY:-}" ] || return 1
    ! command -v xdpyinfo >/dev/null || xdpyinfo >/dev/null 2>&1
}

[ -n "$mode" ] || ! has_display || mode=display
case "$mode" in
xvfb) "$top/scripts/setup.sh" --xvfb ;;
display) "$top/scripts/setup.sh" --window ;;
*) "$top/scripts/setup.sh" --run ;;
esac
# Only what the demo needs: the program in build/demo/ and the simulator, not the tests.
"$top/scripts/build.sh" --quick demo quaymend-devsim

build="$top/build"
work=$(mktemp -d /tmp/quaymend-demo.XXXXXX)
# The folder stays: it holds the update log (and the screenshots).
. "$top/scripts/common.sh"
trap stop_started EXIT

# The update log goes to this run's own temporary directory.
export TMPDIR="$work"
logfile="$work/quaymendlog.txt"
export QUAYMEND_SIMULATED_PORTS="$work/ports"

# A window's pages stay up for a device's own pace of answers; the unattended run need not wait.
delay=300
[ -z "$mode" ] || delay=1500
start_simulator "$build/tools/devsim/quaymend-devsim" "$work" \
    --new-version 730400.03.00.01 --reply-delay "$delay" --link-speed 11520 --flash-ms 5 || exit 1
echo "Device simulator running (its log: $work/devsim.log)"

if [ "$mode" = display ]; then
    echo "Starting the wizard; click through it. Update log: $logfile"
    (cd "$work" && "$build/demo/quaymend" 2>"$work/quaymend-debug.log") || true
    echo "Update log: $logfile"
    exit 0
fi

if [ "$mode" = xvfb ]; then
    shots="$work/screenshots"
    "$top/scripts/drive-update.sh" "$logfile" "$shots" \
        sh -c 'cd "$1" && exec "$2" 2>"$1/quaymend-debug.log"' sh "$work" "$build/demo/quaymend"
else
    echo "No display: the same update without a window (quaymend --batch)."
    status=0
    (cd "$work" && "$build/demo/quaymend" --batch --no-driver --timeout 120 "$build/demo" 2>"$work/quaymend-debug.log") || status=$?
    [ "$status" -eq 0 ] || { echo "The update ended with exit code $status (see quaymend --help)."; exit 1; }
fi
if cmp -s <(head -c "$(stat -c %s "$build/demo/730400_03_00_01.hex")" "$work/received-image.bin") "$build/demo/730400_03_00_01.hex"; then
    echo "The simulated device received the update file intact."
else
    echo "The simulated device's image differs from the update file!"; exit 1
fi
echo "Update log: $logfile"
[ "$mode" != xvfb ] || echo "Screenshots: $shots"
