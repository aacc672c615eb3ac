#!/usr/bin/env bash
# The window as a screen reader meets it: the real program on Xvfb with an accessibility bus of
# its own (a D-Bus session bus and at-spi-bus-launcher), read through AT-SPI by pyatspi page by
# page while a whole simulated update is driven by the keyboard alone (tests/atspi_pages.py holds
# the table). Then the update log, the image the device received and the exit code after "Close".
# Exit 77 (skipped) when a tool it needs is not installed.
set -euo pipefail
build=${1:?build directory}
top=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "FAIL: $*"; echo "--- update log:"; cat "$logfile" 2>/dev/null || true; exit 1; }

python=/usr/bin/python3 # Debian's own, which pyatspi is installed for
launcher=/usr/libexec/at-spi-bus-launcher
for tool in Xvfb xdotool openbox wmctrl dbus-daemon "$launcher" "$python"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/setup.sh)"; exit 77; }
done
"$python" -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed (scripts/setup.sh)"; exit 77; }

. "$top/scripts/common.sh"
make_work
logfile="$work/quaymendlog.txt"
start_xvfb "$work" || fail "Xvfb did not start"

# A session bus of this test's own; the accessibility bus is found through it.
dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$work/bus" >"$work/dbus.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/bus" ] && break; sleep 0.1; done
[ -s "$work/bus" ] || fail "no session bus"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
"$launcher" --launch-immediately >"$work/at-spi.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
    sleep 0.1
done
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 ||
    fail "the accessibility bus did not start: $(cat "$work/at-spi.log")"

# A window manager gives the window the keyboard, also when the window comes back with another
# title bar at the boot command and at the confirmation.
start_openbox "$work" || fail "openbox did not start"

cp "$top/tools/demo/730400_03_00_01.hex" "$work/"
# Each busy page lasts long enough to be read: the transfer runs at 8000 bytes/s (about 5 s), the
# new firmware reports after 2 s. The device is plugged in only once the detection page has been
# read (tests/atspi_pages.py swaps the simulator's ports file in for the empty one).
start_simulator "$(built_program "$build/tools/devsim/quaymend-devsim" "$work")" "$work" \
    --new-version 730400.03.00.01 --link-speed 8000 --flash-ms 5 --restart-delay 2000 || fail "simulator"
: >"$work/unplugged"
ln -s "$work/unplugged" "$work/program-ports"
export ATSPI_PORTS="$work/program-ports" ATSPI_DEVICE_PORTS="$work/ports"

TMPDIR="$work" QUAYMEND_SIMULATED_PORTS="$work/program-ports" QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    "$(built_program "$build/src/quaymend" "$work")" "$work/730400_03_00_01.hex" 2>"$work/debug.log" &
app=$!
pids+=($app)
wait_for_window 200 || fail "no window"

status=0
timeout 90 "$python" "$top/tests/atspi_pages.py" || status=$?
[ "$status" -eq 0 ] || fail "the accessible pages (exit $status)"

for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "the program did not end on Enter at \"Close\""
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "exit code $status"

# The keys refused on the busy page changed nothing: the run went through as a clicked one does.
lines=$(grep -E ' : (Welcome screen|Connect|Detecting AIS|Detecting AIS - update required|Booting|Connecting|Updating|Updating - complete|Confirming|Confirming - confirmed .*|Complete)$' "$logfile" |
    sed 's/.* : //' | tr '\n' '|')
[ "$lines" = "Welcome screen|Connect|Detecting AIS|Detecting AIS - update required|Booting|Connecting|Updating|Updating - complete|Confirming|Confirming - confirmed 730400.03.00.01|Complete|" ] ||
    fail "log lines: $lines"
size=$(stat -c %s "$work/730400_03_00_01.hex")
cmp <(head -c "$size" "$work/received-image.bin") "$work/730400_03_00_01.hex" || fail "the image differs"
echo "PASS: every page of the update read through AT-SPI and driven by the keyboard alone"
