#!/usr/bin/env bash
# The program as installed (cmake --install into a staging folder, the layout of the Debian
# package), started with the demo update file as argument, clicked through a whole update of the
# simulated device under Xvfb by scripts/drive-update.sh; the device must receive the file intact.
# scripts/test-install.sh does the same with the real package in a fresh Debian root.
set -euo pipefail
build=${1:?build directory}
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/common.sh"
make_work

DESTDIR="$work/stage" cmake --install "$build" --prefix /usr --component quaymend >/dev/null
program=$(built_program "$work/stage/usr/bin/quaymend" "$work")
mkdir "$work/downloads"
cp "$top/tools/demo/730400_03_00_01.hex" "$work/downloads/"

start_simulator "$(built_program "$build/tools/devsim/quaymend-devsim" "$work")" "$work" \
    --new-version 730400.03.00.01 --reply-delay 300 --link-speed 11520 --flash-ms 5 || { echo "FAIL: simulator"; exit 1; }

TMPDIR="$work" QUAYMEND_SIMULATED_PORTS="$work/ports" QT_QPA_PLATFORM=xcb \
    "$top/scripts/drive-update.sh" "$work/quaymendlog.txt" "$work/shots" \
    sh -c 'exec "$0" "$1" 2>"$2"' "$program" "$work/downloads/730400_03_00_01.hex" "$work/debug.log" ||
    { echo "--- program:"; cat "$work/debug.log"; echo "--- simulator:"; cat "$work/devsim.log"; exit 1; }
size=$(stat -c %s "$work/downloads/730400_03_00_01.hex")
cmp <(head -c "$size" "$work/received-image.bin") "$work/downloads/730400_03_00_01.hex" ||
    { echo "FAIL: the simulated device's image differs from the update file"; exit 1; }
echo "PASS: the installed program updated the simulated device from the file given as argument"
