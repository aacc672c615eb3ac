#!/usr/bin/env bash
# The rows of tests/kernel/usb-table.sh; runs inside its machine, as root, with the work folder
# (shared with the machine's host) as argument. Writes one line a row to <work>/table.
set -uo pipefail
w=$1
. "$w/config"
wanted() { [ -z "$rows" ] || [[ " $rows " == *" $1 "* ]]; }

# A program the machine cannot see would fail every row only once its waits are over.
needs=(udevadm modprobe timeout)
wanted window && needs+=(Xvfb xdotool xdpyinfo xwininfo import)
{ wanted modemmanager-rule || wanted modemmanager-no-rule; } && needs+=(dbus-daemon dbus-uuidgen ModemManager)
lacking=()
for f in "$devsim" "$program" "$drive"; do [ -x "$f" ] || lacking+=("$f"); done
[ -f "$update" ] || lacking+=("$update")
for t in "${needs[@]}"; do command -v "$t" >/dev/null || lacking+=("$t"); done
if [ ${#lacking[@]} -gt 0 ]; then
    echo "usb-rows.sh: not seen in the machine: ${lacking[*]} (where this machine lacks udev or ModemManager, scripts/setup.sh --tests unpacks them for it)" >&2
    exit 3
fi

table=$w/table
: >"$table"
rule=/run/udev/rules.d/$(basename "$(ls /run/udev/rules.d/* | head -n 1)")
sims=()
. "$(dirname "$0")/waits.sh"

# Two controllers from the start, for the rows with two devices side by side: dummy_hcd cannot be
# reloaded once a gadget has been bound to it.
modprobe -r dummy_hcd && modprobe dummy_hcd num=2

# sim <name> <udc number> [simulator options]: one simulated device, its log in <work>/<name>.log
sim() {
    local name=$1 udc=$2
    shift 2
    "$devsim" --usb-gadget --udc "dummy_udc.$udc" --image "$w/$name.img" --new-version 730400.03.00.01 "$@" \
        2>"$w/$name.log" &
    sims+=($!)
    { wait_for "$w/$name.log" 'devsim: ready' && wait_for "$w/$name.log" 'seen by the host as'; } >/dev/null ||
        { echo "simulator $name did not come up"; cat "$w/$name.log"; return 1; }
    udevadm settle --timeout=30
}
stop_sims() {
    local pid
    for pid in "${sims[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null; done
    sims=()
    udevadm settle --timeout=30
}
# host_port <name>: the device's port as the machine's kernel named it
host_port() { sed -n 's/.*seen by the host as \(\/dev\/[^ ]*\).*/\1/p' "$w/$1.log" | tail -n 1; }
unexpected() { sed -n 's/.*devsim: unexpected bytes \([0-9]*\)$/\1/p' "$w/$1.log" | tail -n 1; }
image() {
    if [ ! -f "$w/$1.img" ]; then echo missing; elif cmp -s "$w/$1.img" "$update"; then echo intact; else echo differs; fi
}

# batch <run> [options]: quaymend --batch; its exit code, result and log in <work>/<run>.*
batch() {
    local run=$1
    shift
    mkdir -p "/tmp/$run"
    local started=$EPOCHREALTIME code=0
    TMPDIR=/tmp/$run timeout 400 "$program" --batch --json --no-driver --timeout 300 "$@" "$update" \
        >"$w/$run.json" 2>"$w/$run.err" || code=$?
    echo "$code" >"$w/$run.code"
    awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }' >"$w/$run.seconds"
    cp "/tmp/$run/quaymendlog.txt" "$w/$run.quaymendlog.txt" 2>/dev/null
    sed -n 's/.*"event":"log".*"text":"\([^"]*\)".*/\1/p' "$w/$run.json" >"$w/$run.lines"
}
# echo_only <sim>: every unexpected byte the device got is one its boot loader sends itself, a run
# of "U" or "C": an echo, nothing the program wrote
echo_only() { ! grep 'unexpected rx' "$w/$1.log" | grep -qv -E 'unexpected rx [0-9]+ bytes: [UC]+$'; }
outcome() { sed -n 's/.*"event":"result".*"outcome":"\([^"]*\)".*/\1/p' "$w/$1.json" | tail -n 1; }
# retries <run>: its "Connecting - retry" lines (0 for a run that did not happen)
retries() {
    local n
    n=$(grep -c -x 'Connecting - retry' "$w/$1.lines" 2>/dev/null)
    echo "${n:-0}"
}

# row <name> <pass: 0 or 1> <facts> [run whose log tail to show on failure]
row() {
    local result=pass
    [ "$2" = 1 ] || result=FAIL
    echo "usb-table: $1 result=$result $3" | tee -a "$table"
    if [ "$result" = FAIL ] && [ -n "${4:-}" ]; then
        tail -n 8 "$w/$4.lines" 2>/dev/null | sed 's/^/    log: /' | tee -a "$table"
    fi
}
# updated <row> <run> <sim>: the usual checks of a run that must update its device
updated() {
    local code out img unx
    code=$(cat "$w/$2.code") out=$(outcome "$2") img=$(image "$3") unx=$(unexpected "$3")
    # Bytes the device received that the program never sent are counted; they fail the row unless
    # they are the boot loader's own bytes echoed at a new port's first open, where the kernel
    # echoes what the device had queued before anyone could make the line raw (see the README).
    [ "$code" = 0 ] && [ "$out" = updated ] && [ "$img" = intact ] && [ -n "$unx" ] && echo_only "$3"
    row "$1" $((! $?)) "outcome=$out exit=$code image=$img unexpected=${unx:-?} retries=$(retries "$2") seconds=$(cat "$w/$2.seconds") ${4:-}" "$2"
}

if wanted first-device; then
    # The first device after the machine started. Its boot loader's port has echoed the "U"s
    # it had queued before the program could make the line raw (the kernel's cooked defaults of a
    # new port); the count is recorded, not passed over: see the README.
    sim first 0 --serial QMF && batch first
    stop_sims
    code=$(cat "$w/first.code") out=$(outcome first)
    [ "$code" = 0 ] && [ "$out" = updated ] && [ "$(image first)" = intact ]
    row first-device $((! $?)) "outcome=$out exit=$code image=$(image first) unexpected=$(unexpected first) retries=$(retries first) seconds=$(cat "$w/first.seconds")" first
fi

if wanted normal; then
    sim normal 0 --serial QMN && batch normal
    stop_sims
    updated normal normal normal
fi

if wanted slow-boot-loader; then
    sim slow 0 --serial QMS --boot-delay 5000 && batch slow
    stop_sims
    updated slow-boot-loader slow slow
fi

if wanted late-teardown; then
    # The application stays on the bus for 2.5 s after the boot command, past the first boot
    # loader scan: the scan must pass over its port (one "Bootloader port name" line an attempt, the
    # boot loader's), and the run cost no attempt. Not timed: two runs through the kernel's USB stack
    # differ by seconds.
    sim late 0 --serial QML --teardown-delay 2500 && batch late
    stop_sims
    named=$(grep -c '^Bootloader port name: ' "$w/late.lines" 2>/dev/null)
    if [ "$(retries late)" -le "$(retries normal)" ] && [ "${named:-0}" = $(($(retries late) + 1)) ]; then
        updated late-teardown late late "boot_loader_ports_named=$named"
    else
        row late-teardown 0 "retries=$(retries late) boot_loader_ports_named=${named:-0} normal_retries=$(retries normal)" late
    fi
fi

if wanted unplug-then-again; then
    # Unplugged in the middle of block 10: the run fails; plugged in again the device is in its
    # boot loader (its application half written), and a second run updates it.
    sim unplug 0 --serial QMU --vanish-block 10 && batch unplug1 --timeout 30
    stop_sims
    first=$(outcome unplug1) first_code=$(cat "$w/unplug1.code")
    sim unplug2 0 --serial QMU --no-app && batch unplug2
    stop_sims
    [ "$first_code" != 0 ] && [ "$first" != updated ]
    ok=$((! $?))
    if [ "$ok" = 1 ]; then
        updated unplug-then-again unplug2 unplug2 "first_outcome=$first first_exit=$first_code"
    else
        row unplug-then-again 0 "first_outcome=$first first_exit=$first_code" unplug1
    fi
fi

if wanted no-serial; then
    # Followed by its place on the bus.
    sim noserial 0 && batch noserial
    stop_sims
    updated no-serial noserial noserial
fi

if wanted list-check; then
    sim listed 0 --serial QMC
    port=$(host_port listed)
    "$program" --list >"$w/list.out" 2>&1
    list_code=$?
    "$program" --check "$(dirname "$update")" >"$w/check.out" 2>&1
    check_code=$?
    stop_sims
    grep -q "^$(basename "$port") .*QMC.*730400.03.00.00" "$w/list.out" && [ "$list_code" = 0 ] && [ "$check_code" = 0 ]
    row list-check $((! $?)) "port=$port list_exit=$list_code check_exit=$check_code list=\"$(head -n 1 "$w/list.out")\""
    [ "$check_code" = 0 ] || sed 's/^/    check: /' "$w/check.out" | tee -a "$table"
fi

if wanted udev-rule; then
    sim ruled 0 --serial QMR
    port=$(host_port ruled)
    udevadm info --query=all --name="$port" >"$w/udev.out"
    stop_sims
    grep -q '^E: ID_MM_DEVICE_IGNORE=1$' "$w/udev.out" && grep -Eq '^(G|E: TAGS=.*):?.*uaccess' "$w/udev.out"
    row udev-rule $((! $?)) "port=$port $(grep -E 'ID_MM_DEVICE_IGNORE|TAGS=' "$w/udev.out" | sed 's/^E: //' | tr '\n' ' ')"
fi

if wanted two-devices; then
    # Two controllers, a device each, each run bound to its own by serial number.
    sim dev1 0 --serial QMA && sim dev2 1 --serial QMB
    batch dev1 --serial QMA &
    first_run=$!
    batch dev2 --serial QMB
    wait "$first_run"
    stop_sims
    code1=$(cat "$w/dev1.code") code2=$(cat "$w/dev2.code")
    [ "$code1" = 0 ] && [ "$code2" = 0 ] && [ "$(image dev1)" = intact ] && [ "$(image dev2)" = intact ] &&
        echo_only dev1 && echo_only dev2
    row two-devices $((! $?)) "exits=$code1,$code2 images=$(image dev1),$(image dev2) unexpected=$(unexpected dev1),$(unexpected dev2)" dev1
fi

if wanted window; then
    # The window's own update, clicked through under Xvfb as a user would.
    sim window 0 --serial QMW
    mkdir -p /tmp/window
    TMPDIR=/tmp/window "$drive" /tmp/window/quaymendlog.txt "$w/window-shots" \
        env TMPDIR=/tmp/window "$program" "$update" >"$w/window.out" 2>&1
    code=$?
    stop_sims
    cp /tmp/window/quaymendlog.txt "$w/window.quaymendlog.txt" 2>/dev/null
    [ "$code" = 0 ] && [ "$(image window)" = intact ] && echo_only window
    row window $((! $?)) "exit=$code image=$(image window) unexpected=$(unexpected window)"
    [ "$code" = 0 ] || tail -n 8 "$w/window.out" | sed 's/^/    window: /' | tee -a "$table"
fi

# ModemManager on a system bus, as on a desktop: with the rule it leaves the port alone; without
# it, it probes the port with AT commands, which the simulator sees, and --check says so.
mm_rows=0
wanted modemmanager-rule && mm_rows=1
wanted modemmanager-no-rule && mm_rows=1
if [ "$mm_rows" = 1 ]; then
    mkdir -p /run/dbus /var/lib/dbus
    dbus-uuidgen --ensure=/etc/machine-id 2>/dev/null
    # The bus's user, which its package's scripts make where it is installed, not only unpacked.
    id messagebus >/dev/null 2>&1 || useradd --system --no-create-home messagebus
    dbus-daemon --system --fork --nopidfile 2>"$w/dbus.err"
    ModemManager --debug >"$w/mm.log" 2>&1 &
    mm=$!
    sleep 3
fi
mm_probe() { # <name> <serial>: a device plugged in with ModemManager running; --check afterwards
    sim "$1" 0 --serial "$2"
    # ModemManager waits a little for a new port's other ports before it probes.
    sleep 8
    "$program" --check "$(dirname "$update")" >"$w/$1.check" 2>&1
    echo $? >"$w/$1.checkcode"
    stop_sims
}
if wanted modemmanager-rule; then
    mm_probe mmrule QMM
    unx=$(unexpected mmrule)
    [ "${unx:-x}" = 0 ] && grep -q 'leaves .* alone' "$w/mmrule.check"
    row modemmanager-rule $((! $?)) "unexpected=${unx:-?} check_exit=$(cat "$w/mmrule.checkcode") check=\"$(grep -m1 ModemManager "$w/mmrule.check")\""
fi
if wanted modemmanager-no-rule; then
    mv "$rule" "$w/rule.off"
    udevadm control --reload
    mm_probe mmbare QMX
    mv "$w/rule.off" "$rule"
    udevadm control --reload
    unx=$(unexpected mmbare)
    probe=$(grep -m1 -o 'unexpected rx .*AT.*' "$w/mmbare.log" | cut -c1-60)
    # Whether ModemManager goes on to probe depends on its own filter (Debian 12's strict policy
    # passed over the simulated device); what the port is exposed to is --check's to name.
    [ "$(cat "$w/mmbare.checkcode")" = 1 ] && grep -q 'ModemManager is running and may probe' "$w/mmbare.check"
    row modemmanager-no-rule $((! $?)) "unexpected=${unx:-?} probe=\"$probe\" check_exit=$(cat "$w/mmbare.checkcode") modemmanager=\"$(grep -m1 -o 'ttyACM[0-9]*) port filtered: [a-z ]*\|task [0-9]*,ttyACM[0-9]*: [a-z ]*probing' "$w/mm.log")\""
fi
[ "$mm_rows" = 1 ] && kill "$mm" 2>/dev/null

exit 0
