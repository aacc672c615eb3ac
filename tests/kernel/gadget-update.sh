#!/usr/bin/env bash
# One update through a real kernel's USB stack: inside tests/kernel/vm.sh's machine the device
# simulator plays the transponder as USB gadgets on dummy_hcd, and `quaymend --batch` updates it
# through cdc_acm's /dev/ttyACM<n>, found by the system's own enumeration.
#
#   tests/kernel/gadget-update.sh [options] [-- SIMULATOR OPTION...]
#
#   --build DIR       the build folder with the simulator and the program (default build)
#   --no-rule         without Quaymend's udev rule (packaging/linux/70-quaymend.rules)
#   --serial TEXT     the device's USB serial number (default QM1; a second device gets TEXT-2)
#   --no-serial       a device without a serial number
#   --devices N       N devices side by side (default 1), each on its own UDC (dummy_hcd num=N),
#                     each updated by its own run bound to its serial number
#   --chatter MS      the application sends a sentence of its own every MS
#   --batch-option O  one more option for quaymend --batch (may be given again); without
#                     --timeout a run ends by itself once its retries are used up
#   --keep DIR        keep the simulator's and the program's logs in DIR (default: removed)
#   --timeout S       the machine's bound (default 600)
# Options after -- go to every simulator as they are (e.g. --replug-block 5, --teardown-delay 800).
#
# Prints for each device the outcome and exit code of the run, the last lines of its log (and the
# simulator's lines on unexpected bytes, errors and warnings, stamped with the time), whether
# the image the simulator received equals the update file, the bytes the device received that the
# program never sends (the simulator's "unexpected bytes"), the run's time and its transfer's time,
# and last one line a device to build tables on:
#   gadget-update: device=1 outcome=updated exit=0 image=intact unexpected=0 seconds=9.912 transfer=4.201
# Exit status: 0 when every run updated its device (exit 0), the image is intact and nothing
# unexpected was received; 1 otherwise; vm.sh's own status (77 skipped, 124 timed out, ...) when the
# machine itself did not get that far.
set -euo pipefail

me=gadget-update.sh
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
usage() {
    sed -n '/^#   tests\/kernel\/gadget-update.sh/,/^# Options after --/p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

build=$top/build
rule=1
serial=QM1
devices=1
chatter=
batch_options=()
keep=
timeout_s=600
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=${2:?}; shift 2 ;;
    --no-rule) rule=0; shift ;;
    --serial) serial=${2:?}; shift 2 ;;
    --no-serial) serial=; shift ;;
    --devices) devices=${2:?}; shift 2 ;;
    --chatter) chatter=${2:?}; shift 2 ;;
    --batch-option) batch_options+=("${2:?}"); shift 2 ;;
    --keep) keep=${2:?}; shift 2 ;;
    --timeout) timeout_s=${2:?}; shift 2 ;;
    --) shift; break ;;
    -h | --help) usage ;;
    *) echo "$me: unknown option $1" >&2; usage ;;
    esac
done
[[ $devices =~ ^[1-8]$ ]] || { echo "$me: --devices takes 1 to 8" >&2; exit 2; }
[ "$devices" = 1 ] || [ -n "$serial" ] ||
    { echo "$me: several devices are told apart by serial number; not with --no-serial" >&2; exit 2; }
build=$(realpath -e "$build")
devsim=$build/tools/devsim/quaymend-devsim
program=$build/src/quaymend
update=$(realpath -e "$top/tools/demo/730400_03_00_01.hex")
for f in "$devsim" "$program" "$update"; do [ -f "$f" ] || { echo "$me: no $f (build first)" >&2; exit 2; }; done

work=$(mktemp -d /tmp/quaymend-gadget.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Everything the machine needs, as shell assignments its bash reads back.
quoted() { [ $# -eq 0 ] || printf '%q ' "$@"; }
{
    printf 'devsim=%q program=%q update=%q devices=%q serial=%q chatter=%q kernel_dir=%q\n' \
        "$devsim" "$program" "$update" "$devices" "$serial" "$chatter" "$here"
    printf 'extra=(%s)\n' "$(quoted "$@")"
    printf 'batch_options=(%s)\n' "$(quoted "${batch_options[@]}")"
} >"$work/config"

cat >"$work/inside.sh" <<'EOF'
# Runs in the machine: the simulators, one batch run for each, then what they left.
w=$1
. "$w/config"
. "$kernel_dir/waits.sh"
if [ "$devices" -gt 1 ]; then
    # vm.sh loads dummy_hcd with one controller; a device each needs one each.
    modprobe -r dummy_hcd && modprobe dummy_hcd num="$devices" || { echo "could not reload dummy_hcd num=$devices"; exit 1; }
fi
serial_of() { if [ "$1" = 1 ]; then echo "$serial"; else echo "$serial-$1"; fi; }
stamp_lines() {
    local line
    while IFS= read -r line; do
        printf '%(%H:%M:%S)T.%s %s\n' "${EPOCHREALTIME%.*}" "${EPOCHREALTIME#*.}" "$line"
    done
}
pids=()
for ((d = 1; d <= devices; d++)); do
    s=$(serial_of $d)
    args=(--usb-gadget --udc "dummy_udc.$((d - 1))" --image "$w/image$d.bin" --new-version 730400.03.00.01)
    [ -n "$s" ] && args+=(--serial "$s")
    [ -n "$chatter" ] && args+=(--chatter "$chatter")
    # Each line stamped with the machine's time, to be read beside the program's log; through a
    # FIFO of the machine's own (the 9p share has none), so that $! is the simulator.
    mkfifo "/tmp/devsim$d"
    stamp_lines <"/tmp/devsim$d" >"$w/devsim$d.log" &
    "$devsim" "${args[@]}" "${extra[@]}" 2>"/tmp/devsim$d" &
    pids+=($!)
done
for ((d = 1; d <= devices; d++)); do
    wait_for "$w/devsim$d.log" 'devsim: (ready|error)' | grep -q ready || { cat "$w/devsim$d.log"; exit 1; }
    wait_for "$w/devsim$d.log" 'seen by the host as' || echo "device $d: the host's tty did not appear"
done
# A user starts the program after plugging in: the udev rule has had its turn by then.
udevadm settle --timeout=30
echo "--- quaymend --list"
"$program" --list
runs=()
for ((d = 1; d <= devices; d++)); do
    s=$(serial_of $d)
    bind=()
    [ "$devices" -gt 1 ] && bind=(--serial "$s")
    # On the machine's own memory, not the share: a write to the share takes long enough under
    # emulation to slow the run it is logging.
    mkdir -p "/tmp/run$d"
    TMPDIR="/tmp/run$d" "$program" --batch --json --no-driver "${bind[@]}" "${batch_options[@]}" \
        "$update" >"/tmp/run$d/batch.json" 2>"/tmp/run$d/batch.err" &
    runs+=($!)
done
for ((d = 1; d <= devices; d++)); do
    status=0
    wait "${runs[d - 1]}" || status=$?
    for f in batch.json batch.err quaymendlog.txt; do cp "/tmp/run$d/$f" "$w/${f%.*}$d.${f##*.}" 2>/dev/null; done
    echo "$status" >"$w/batch$d.status"
done
for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
for ((d = 1; d <= devices; d++)); do
    wait_for "$w/devsim$d.log" 'devsim: stopped' >/dev/null || echo "device $d: the simulator did not stop"
done
EOF

vm_options=(--usb-gadget --share "$work" --share-ro "$top" --share-ro "$build" --timeout "$timeout_s")
[ "$rule" = 1 ] && vm_options+=(--udev-rules "$top/packaging/linux/70-quaymend.rules")
vm_status=0
"$here/vm.sh" "${vm_options[@]}" -- bash "$work/inside.sh" "$work" || vm_status=$?
if [ "$vm_status" != 0 ] && [ ! -f "$work/batch1.status" ]; then
    echo "$me: the machine ended with status $vm_status before the update had run" >&2
    exit "$vm_status"
fi
if [ -n "$keep" ]; then
    mkdir -p "$keep"
    cp -r "$work"/. "$keep"/
fi

serial_of() { if [ "$1" = 1 ]; then echo "$serial"; else echo "$serial-$1"; fi; }
# json_field <name> <line>: a plain string or number field of one JSON object
json_field() { sed -n 's/.*"'"$1"'":"\{0,1\}\([^",}]*\).*/\1/p' <<<"$2"; }
all_good=1
for ((d = 1; d <= devices; d++)); do
    result=$(grep '"event":"result"' "$work/batch$d.json" | tail -n 1 || true)
    exit_code=$(cat "$work/batch$d.status" 2>/dev/null || echo none)
    outcome=$(json_field outcome "$result")
    seconds=$(json_field seconds "$result")
    log=$(sed -n 's/.*"event":"log".*"text":"\([^"]*\)".*/\1/p' "$work/batch$d.json")
    # The transfer: from the log line "Updating" to "Updating - complete".
    stamp() { { grep -F "\"text\":\"$1\"," "$work/batch$d.json" || true; } | tail -n 1 | sed -n 's/.*"time":"[^"]*T\([0-9:.]*\)".*/\1/p'; }
    from=$(stamp Updating) to=$(stamp 'Updating - complete')
    transfer=
    if [ -n "$from" ] && [ -n "$to" ]; then
        transfer=$(awk -v a="$from" -v b="$to" 'BEGIN { split(a, x, ":"); split(b, y, ":");
            printf "%.3f", (y[1] - x[1]) * 3600 + (y[2] - x[2]) * 60 + (y[3] - x[3]) }')
    fi
    if [ ! -f "$work/image$d.bin" ]; then
        image=missing
    elif cmp -s "$work/image$d.bin" "$update"; then
        image=intact
    else
        image=differs
    fi
    unexpected=$(sed -n 's/.*devsim: unexpected bytes \([0-9]*\)$/\1/p' "$work/devsim$d.log" | tail -n 1)
    echo "--- device $d${serial:+, serial $(serial_of "$d")}"
    echo "outcome: ${outcome:-none} (exit $exit_code)"
    echo "last log lines:"
    tail -n 8 <<<"$log" | sed 's/^/    /'
    grep -E 'devsim: (unexpected rx|error|warning|gadget .* hung)' "$work/devsim$d.log" | head -n 20 | sed 's/^/    /' || true
    echo "image: $image"
    echo "unexpected bytes: ${unexpected:-unknown}"
    echo "time: run ${seconds:-?} s, transfer ${transfer:-?} s"
    echo "gadget-update: device=$d outcome=${outcome:-none} exit=$exit_code image=$image unexpected=${unexpected:-unknown} seconds=${seconds:-none} transfer=${transfer:-none}"
    [ "$exit_code" = 0 ] && [ "$outcome" = updated ] && [ "$image" = intact ] && [ "${unexpected:-x}" = 0 ] || all_good=0
done
[ "$all_good" = 1 ]
