#!/usr/bin/env bash
# A service bench on the simulator: N simulated devices, each with its own serial number, on the
# slow link (11520 B/s, 5 ms flash per block), updated by N batch runs side by side, each bound to
# its device with --serial. Checks that every run exits 0, that every device received the same
# image, the update file, exactly once; prints the wall time against one device updated alone, and
# the CPU the runs used, in all and during the transfers.
#   scripts/bench.sh [N (default 8)] [build directory (default build)]
#   scripts/bench.sh --usb N [build directory]
#       the same on the kernel's own USB stack, in a virtual machine (tests/kernel/vm.sh, as root):
#       N simulated devices as USB gadgets on N dummy_hcd controllers, found through cdc_acm and
#       udev, each run bound to its own by serial number; prints each run's time and its transfer's
# A benchmark, not a test: it prints figures and judges only the outcome of the runs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--usb" ]; then
    count=${2:?"--usb needs a number of devices"}
    started=$SECONDS
    "$top/tests/kernel/gadget-update.sh" --build "${3:-$top/build}" --devices "$count" |
        grep -E '^(gadget-update:|time:|vm.sh)'
    echo "bench --usb $count: whole machine, boot included, $((SECONDS - started)) s"
    exit 0
fi
source "$top/scripts/common.sh"
count=${1:-8}
build=${2:-$top/build}
program=$build/src/quaymend
simulator=$build/tools/devsim/quaymend-devsim
file=$top/tools/demo/730400_03_00_01.hex
for needed in "$program" "$simulator"; do
    [ -x "$needed" ] || { echo "bench: $needed is missing; build first (scripts/build.sh)" >&2; exit 2; }
done
link=(--new-version 730400.03.00.01 --link-speed 11520 --flash-ms 5)
# Each run's bound (--timeout never cuts a transfer, which has bounds of its own).
run_bound=300
ticks=$(getconf CLK_TCK)
make_work

# start_devices <label> <count>: devices <label>1..<count>, serial numbers BENCH-<label><i>, each in
# its folder $work/<label><i>; their ports files joined in $ports_files.
start_devices() {
    local label=$1 n=$2 files=()
    for i in $(seq "$n"); do
        mkdir -p "$work/$label$i"
        start_simulator "$simulator" "$work/$label$i" --serial "BENCH-$label$i" "${link[@]}"
        files+=("$work/$label$i/ports")
    done
    ports_files=$(IFS=:; echo "${files[*]}")
}

# epoch_of <log line>: the seconds since the epoch of an update-log line's time stamp.
epoch_of() {
    date -d "$(echo "$1" | sed -E 's/^([0-9]+ [A-Za-z]+ [0-9]+) - ([0-9:.]+) : .*/\1 \2/')" +%s.%N
}

# run_side_by_side <label> <count>: one batch run per device, all at once; sets wall (s), cpu (s of
# all runs), transfer_cpu (% of one core the runs use together while they transfer) and failed
# (runs that did not end with 0).
run_side_by_side() {
    local label=$1 n=$2
    local start=$EPOCHREALTIME
    (
        # Not the script's clean-up: this group ends long before the script.
        trap - EXIT
        for i in $(seq "$n"); do
            QUAYMEND_SIMULATED_PORTS=$ports_files \
                "$program" --batch --timeout "$run_bound" --serial "BENCH-$label$i" "$file" \
                >"$work/$label$i/run.out" 2>"$work/$label$i/run.err" &
            echo $! >"$work/$label$i/run.pid"
        done
        for i in $(seq "$n"); do
            rc=0
            wait "$(cat "$work/$label$i/run.pid")" || rc=$?
            echo "$rc" >"$work/$label$i/run.rc"
        done
        # The second line: user and system time of this group's children, the runs.
        times >"$work/$label.times"
        tail -n 1 "$work/$label.times" >"$work/$label.cpu"
    ) &
    local group=$!
    # Samples of each run's CPU ticks, every 50 ms, without a process of its own per sample: a line
    # of the time and the ticks of runs 1..n.
    declare -A last=()
    : >"$work/$label.samples"
    while kill -0 "$group" 2>/dev/null; do
        local line=$EPOCHREALTIME
        for i in $(seq "$n"); do
            if [ -s "$work/$label$i/run.pid" ]; then
                local pid stat
                pid=$(<"$work/$label$i/run.pid")
                if { read -r stat <"/proc/$pid/stat"; } 2>/dev/null; then
                    local fields=(${stat##*) })
                    last[$i]=$(( fields[11] + fields[12] ))
                fi
            fi
            line+=" ${last[$i]:-0}"
        done
        echo "$line" >>"$work/$label.samples"
        sleep 0.05
    done
    wait "$group"
    wall=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')
    cpu=$(awk '{ n = split($0, t, /[ ms]+/); print (t[1] * 60 + t[2]) + (t[3] * 60 + t[4]) }' "$work/$label.cpu")
    failed=0
    local windows=""
    for i in $(seq "$n"); do
        [ "$(cat "$work/$label$i/run.rc")" = 0 ] || { failed=$((failed + 1)); echo "run $label$i ended with $(cat "$work/$label$i/run.rc"):"; tail -n 5 "$work/$label$i/run.out"; }
        local began ended
        began=$(grep -m 1 ' : Updating$' "$work/$label$i/run.out" || true)
        ended=$(grep -m 1 ' : Updating - complete$' "$work/$label$i/run.out" || true)
        [ -n "$began" ] && [ -n "$ended" ] || continue
        windows+="$i $(epoch_of "$began") $(epoch_of "$ended") "
    done
    # Each run's CPU from its own "Updating" to its "Updating - complete", as a share of one core;
    # the runs' shares added up are what they use together while all of them transfer.
    transfer_cpu=$(awk -v w="$windows" -v hz="$ticks" '
        BEGIN { k = split(w, f, " "); for (j = 1; j + 2 <= k; j += 3) { run[f[j]] = 1; a[f[j]] = f[j + 1]; b[f[j]] = f[j + 2] } }
        { for (r in run) { if ($1 <= a[r]) { ta[r] = $1; ca[r] = $(r + 1) } if ($1 <= b[r]) { tb[r] = $1; cb[r] = $(r + 1) } } }
        END { sum = 0; for (r in run) if (tb[r] > ta[r]) sum += (cb[r] - ca[r]) / hz / (tb[r] - ta[r]); printf "%.1f", 100 * sum }' \
        "$work/$label.samples")
}

# check_devices <label> <count>: every device received the update file exactly once.
check_devices() {
    local label=$1 n=$2 bad=0 size
    size=$(stat -c %s "$file")
    for i in $(seq "$n"); do
        local dir=$work/$label$i images
        images=$(grep -c 'devsim: image written' "$dir/devsim.log" || true)
        if [ "$images" != 1 ]; then
            echo "device BENCH-$label$i received $images images"; bad=$((bad + 1))
        elif ! cmp -s -n "$size" "$dir/received-image.bin" "$file"; then
            echo "device BENCH-$label$i received another image"; bad=$((bad + 1))
        fi
    done
    return "$bad"
}

status=0
start_devices alone 1
run_side_by_side alone 1
alone_wall=$wall alone_cpu=$cpu alone_transfer_cpu=$transfer_cpu
[ "$failed" = 0 ] && check_devices alone 1 || status=1
stop_started
pids=()

start_devices bench "$count"
run_side_by_side bench "$count"
[ "$failed" = 0 ] || status=1
check_devices bench "$count" || status=1

printf 'devices side by side: %d (update file %d bytes, link 11520 B/s, flash 5 ms a block)\n' \
    "$count" "$(stat -c %s "$file")"
printf 'one device alone:      wall %6.2f s   CPU %5.2f s   during the transfer %s %% of one core\n' \
    "$alone_wall" "$alone_cpu" "$alone_transfer_cpu"
printf '%2d devices at once:    wall %6.2f s   CPU %5.2f s   during the transfers %s %% of one core (goal: at most 10)\n' \
    "$count" "$wall" "$cpu" "$transfer_cpu"
printf 'wall time ratio:       %.2f (goal: at most 1.2)\n' "$(awk -v a="$alone_wall" -v b="$wall" 'BEGIN { print b / a }')"
if [ "$status" = 0 ]; then
    echo "every run exited 0; every device received the update file exactly once"
else
    echo "FAILED: see above; the folders are kept in $work" >&2
    trap - EXIT
    stop_started
fi
exit "$status"
