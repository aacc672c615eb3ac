#!/usr/bin/env bash
# The update through Linux's own USB stack, row by row, in one machine of tests/kernel/vm.sh: the
# device simulator plays the transponder as USB gadgets on dummy_hcd, the kernel's cdc_acm gives
# /dev/ttyACM<n>, udev fills in its database with Quaymend's rule, and the program finds the device
# by the system's own enumeration (no simulated ports file).
#
#   tests/kernel/usb-table.sh [--build DIR] [--keep DIR] [--timeout S] [ROW...]
#
# ROW names rows to run (default: all). Each row prints one line
#   usb-table: <row> result=pass|FAIL <facts>
# with the outcome, the exit code, whether the image is intact and the bytes the device received
# that the program never sends (must be 0), and after a failure the last log lines. Exit status:
# 0 when every row passed, 1 otherwise, 77 (CTest's skip code) when the machine cannot be had.
set -euo pipefail
me=usb-table.sh
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$top/build
keep=
timeout_s=840
rows=()
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=${2:?}; shift 2 ;;
    --keep) keep=${2:?}; shift 2 ;;
    --timeout) timeout_s=${2:?}; shift 2 ;;
    -*) echo "$me: unknown option $1" >&2; exit 2 ;;
    *) rows+=("$1"); shift ;;
    esac
done
skip() { echo "$me: skipped: $*" >&2; exit 77; }
[ "${QUAYMEND_KERNEL_TABLE:-1}" != 0 ] || skip "QUAYMEND_KERNEL_TABLE=0"
[ "$(id -u)" = 0 ] || skip "needs root (QEMU shares the root file system as its owner)"
[ -z "${QUAYMEND_EMULATOR:-}" ] || skip "a build for another architecture"
build=$(realpath -e "$build")
for f in "$build/tools/devsim/quaymend-devsim" "$build/src/quaymend"; do
    [ -x "$f" ] || { echo "$me: no $f (build first)" >&2; exit 2; }
done
work=$(mktemp -d /var/tmp/quaymend-usb-table.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$top/packaging/linux/70-quaymend.rules" "$work/70-quaymend.rules"
printf 'devsim=%q program=%q update=%q drive=%q rows=%q\n' "$build/tools/devsim/quaymend-devsim" \
    "$build/src/quaymend" "$top/tools/demo/730400_03_00_01.hex" "$top/scripts/drive-update.sh" \
    "${rows[*]:-}" >"$work/config"

status=0
"$here/vm.sh" --usb-gadget --udev-rules "$work/70-quaymend.rules" --share "$work" --timeout "$timeout_s" --memory 1536 \
    --share-ro "$top" --share-ro "$build" -- bash "$here/usb-rows.sh" "$work" || status=$?
[ -n "$keep" ] && mkdir -p "$keep" && cp -r "$work"/. "$keep"/
if [ ! -f "$work/table" ]; then
    echo "$me: the machine ended with status $status before the table ran" >&2
    exit "$([ "$status" = 0 ] && echo 1 || echo "$status")"
fi
cat "$work/table"
grep -q 'result=FAIL' "$work/table" && exit 1
[ "$status" = 0 ] || exit 1
