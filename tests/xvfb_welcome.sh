#!/usr/bin/env bash
# The real program in a real X window (Xvfb): the Welcome page with its title, size and side
# picture, the first update-log line, and a clean exit when the window is closed with Escape.
set -euo pipefail
build=${1:?build directory}
top=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "FAIL: $*"; exit 1; }

. "$top/scripts/common.sh"
make_work
start_xvfb "$work" || fail "Xvfb did not start"

# The log goes to this test's own temporary directory; no simulated ports.
TMPDIR="$work" QUAYMEND_SIMULATED_PORTS= QT_QPA_PLATFORM=xcb "$(built_program "$build/src/quaymend" "$work")" 2>"$work/debug.log" &
app=$!
pids+=($app)

wait_for_window 200 || { cat "$work/debug.log"; echo "--- Xvfb:"; cat "$work/xvfb.log"; fail "no window"; }
sleep 0.5

title=$(xdotool getwindowname "$window")
[ "$title" = "Quaymend v730900.03.00.00" ] || fail "title '$title'"
geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
[ "$geometry" = "522x367" ] || fail "geometry '$geometry'"

# The side picture is drawn unscaled at the grid's margin.
import -window "$window" "$work/shot.png"
convert "$work/shot.png" -crop 164x314+11+11 +repage "$work/side.png"
differing=$(compare -metric AE "$work/side.png" "$top/resources/setup.bmp" null: 2>&1 || true)
[ "$differing" = "0" ] || fail "side picture differs in $differing pixels"

grep -q ' : Welcome screen$' "$work/quaymendlog.txt" || fail "no Welcome line in the update log"

# No window manager here: give the window the focus ourselves, then press Escape.
xdotool windowfocus --sync "$window"
xdotool key Escape
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "exit code $status"
echo "PASS: Welcome page in a real window"
