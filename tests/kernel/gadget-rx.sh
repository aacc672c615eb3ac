#!/usr/bin/env bash
# What the device simulator counts as received but never sent by the program ("unexpected rx"),
# and its two ways of attaching the device: a table of rows, each a simulator, a client that
# plays the program's side of the port byte by byte, and the simulator's count at exit. Without
# --rig the rows run here on pseudo-terminals; with --rig the same rows run inside
# tests/kernel/vm.sh's machine on USB gadgets, through the kernel's cdc_acm, in one boot.
#
#   tests/kernel/gadget-rx.sh [--rig] [--build DIR] [--only NAME]
#
# Prints PASS or FAIL a row (FAIL with the simulator's log) and exits 1 when a row failed; with
# --rig, vm.sh's own status (77 skipped, ...) when the machine did not get to run the rows.
set -euo pipefail

me=gadget-rx.sh
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

rig=0
inside=0
build=$top/build
only=
while [ $# -gt 0 ]; do
    case "$1" in
    --rig) rig=1; shift ;;
    --inside) inside=1; shift ;; # this script, run again inside the machine
    --build) build=${2:?}; shift 2 ;;
    --only) only=${2:?}; shift 2 ;;
    *) echo "$me: unknown option $1" >&2; exit 2 ;;
    esac
done
build=$(realpath -e "$build")
devsim=$build/tools/devsim/quaymend-devsim
[ -x "$devsim" ] || { echo "$me: no $devsim (build first)" >&2; exit 2; }

if [ "$rig" = 1 ] && [ "$inside" = 0 ]; then
    args=(--inside --build "$build")
    [ -n "$only" ] && args+=(--only "$only")
    exec "$here/vm.sh" --usb-gadget --share-ro "$top" --share-ro "$build" --timeout 900 -- bash "$here/$me" "${args[@]}"
fi
attach=pty
[ "$inside" = 1 ] && attach=gadget
# Tenths of a second any one wait may take; emulated, a machine takes its time.
waits=30
[ "$attach" = gadget ] && waits=300

appver='$PKVR,0,0,0,2,appver,0*2D\r\n'
bootcmd='$PKVR,0,3,0x6D1F48A3,0,bootcmd 0x5A3C9E01,0*42\r\n'
# One row a line: name | attachments | simulator options | client steps | least | most unexpected.
# The boot loader's exact rows are for ptys only: a new USB device's tty starts cooked, echo on,
# and whoever opens it first echoes part of the U stream before the line is raw, which is what the
# "echoed" rows are about.
# Client steps, separated by ';':
#   w TEXT     write TEXT (printf format) to the port
#   r N        read until N bytes have come (or the wait is over)
#   s TENTHS   sleep
#   cooked T   the port cooked, echo on, held open T tenths of a second, then raw again
#   log RE     wait for a simulator log line matching RE
rows="
appver answered        |pty gadget|                    |w $appver; r 30; log tx line .PKVR,255                 |0|0
appver in two writes   |pty gadget|                    |w \$PKVR,0,0,0,2,app; s 2; w ver,0*2D\\r\\n; log tx line .PKVR,255|0|0
stray U before appver  |pty gadget|                    |w U$appver; log ignored line                          |1|1
boot command           |pty gadget|                    |w $bootcmd; log boot command received                 |0|0
chatter echoed         |pty gadget|--chatter 100       |cooked 10; s 3                                          |20|100000
tail cut by the end    |pty gadget|                    |w \$PKV; s 3                                            |4|4
no serial number       |    gadget|                    |w $appver; log tx line .PKVR,255; log no serial number |0|0
boot loader, one U     |pty       |--no-app            |r 4; w U; log tx C                                      |0|0
boot loader, U burst   |pty       |--no-app            |r 4; w UUUU; log tx C; s 3                              |4|4
boot loader, scan line |pty       |--no-app            |r 4; w $appver; log boot loader ignored 27              |0|0
boot loader, echoed C  |pty       |--no-app            |r 4; w U; log tx C; s 3; w C; log boot loader ignored 1 |1|1
boot loader, cancel    |pty       |--no-app            |r 4; w U; log tx C; s 3; w \\x18\\x18; log cancelled by sender|0|0
deaf boot loader       |pty       |--no-app --fault silent-after-echo|r 4; w U; log silent after; w UUU; s 3  |0|0
boot loader echoed     |pty gadget|--no-app            |cooked 10; s 3                                          |1|100000
"

work=$(mktemp -d /tmp/quaymend-rx.XXXXXX)
sim=
cleanup() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null
    exec 3>&- 4>&- 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# wait_log <regex>: true once the simulator's log has a matching line
wait_log() {
    local i
    for ((i = 0; i < waits; i++)); do
        grep -Eq -- "$1" "$work/log" && return 0
        sleep 0.1
    done
    return 1
}

# run_steps <port> <steps>: the client; false with why on the first step that fails
run_steps() {
    local port=$1 step verb arg got i
    # Raw before the client's own open; a no-op on a pty, which the simulator made raw.
    stty -F "$port" raw -echo
    exec 3<>"$port"
    local IFS=';'
    for step in $2; do
        step=${step#"${step%%[! ]*}"}
        step=${step%"${step##*[! ]}"}
        verb=${step%% *} arg=${step#* }
        case "$verb" in
        w) printf -- "$arg" >&3 ;;
        r)
            got=0
            for ((i = 0; i < waits && got < arg; i++)); do
                local chunk=
                IFS= read -r -t 0.1 -N $((arg - got)) chunk <&3 || true
                got=$((got + ${#chunk}))
            done
            [ "$got" -ge "$arg" ] || { why="read $got of $arg bytes"; return 1; }
            ;;
        s) sleep "$(awk -v t="$arg" 'BEGIN { print t / 10 }')" ;;
        cooked)
            stty -F "$port" sane
            exec 4<"$port"
            sleep "$(awk -v t="$arg" 'BEGIN { print t / 10 }')"
            stty -F "$port" raw -echo
            exec 4<&-
            ;;
        log) wait_log "$arg" || { why="no log line $arg"; return 1; } ;;
        *) why="bad step $step"; return 1 ;;
        esac
    done
    exec 3>&-
}

passed=0 failed=0
while IFS='|' read -r name where options steps least most; do
    name=$(echo $name)
    [ -n "$name" ] || continue
    [ -z "$only" ] || [ "$only" = "$name" ] || continue
    [[ " $where " == *" $attach "* ]] || continue
    : >"$work/log"
    # shellcheck disable=SC2086 # the options column is split into words on purpose
    if [ "$attach" = pty ]; then
        "$devsim" --ports-file "$work/ports" $options 2>"$work/log" &
    else
        "$devsim" --usb-gadget $options 2>"$work/log" &
    fi
    sim=$!
    why=
    port=
    if [ "$attach" = pty ]; then
        wait_log 'devsim: ready' && port=$(cut -d' ' -f1 "$work/ports")
    else
        wait_log 'seen by the host as' && port=$(sed -n 's/.*seen by the host as //p' "$work/log" | head -n 1)
        # The port as a user would find it: after udev's turn at it.
        udevadm settle --timeout=30
    fi
    if [ -z "$port" ]; then
        why="no port came up"
    else
        run_steps "$port" "$steps" || true
    fi
    kill -TERM "$sim"
    wait_log 'devsim: stopped' || why="${why:-the simulator did not stop}"
    wait "$sim" 2>/dev/null || true
    sim=
    count=$(sed -n 's/^devsim: unexpected bytes \([0-9]*\)$/\1/p' "$work/log")
    if [ -z "$why" ] && { [ -z "$count" ] || [ "$count" -lt "$least" ] || [ "$count" -gt "$most" ]; }; then
        why="unexpected bytes ${count:-missing}, wanted $least to $most"
    fi
    if [ -z "$why" ]; then
        echo "PASS $attach: $name (unexpected $count)"
        passed=$((passed + 1))
    else
        echo "FAIL $attach: $name: $why"
        sed 's/^/    /' "$work/log"
        failed=$((failed + 1))
    fi
done <<<"$rows"
echo "$me: $attach: $passed passed, $failed failed"
[ "$failed" = 0 ]
