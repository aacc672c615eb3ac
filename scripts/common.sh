# Shared by the run, drive and test scripts (sourced, not run). Every wait has a bound; what was
# started is added to the pids array, which stop_started kills.

pids=()

# stop_started: kills everything in pids and waits for it.
stop_started() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}

# make_work [mktemp template]: a fresh temporary folder in $work; on exit, whatever was started is
# stopped and the folder removed.
make_work() {
    work=$(mktemp -d ${1:+"$1"})
    trap 'stop_started; rm -rf "$work"' EXIT
}

# wait_for_window <tenths of a second>: the wizard's window id in $window; non-zero when it did not
# appear in time.
wait_for_window() {
    window=""
    for _ in $(seq "$1"); do
        window=$(xdotool search --name '^Quaymend v' 2>/dev/null | head -n 1) && [ -n "$window" ] && return 0
        sleep 0.1
    done
    return 1
}

# start_xvfb <work folder>: a virtual display of its own; exports DISPLAY, returns non-zero (after
# printing Xvfb's log) when it did not come up.
# Xvfb picks a free display number itself and tells it on the descriptor. By default it resets
# itself when its last client leaves, and drops a client that connects during that reset: the
# readiness check is such a last client, so the server must not reset (-noreset).
start_xvfb() {
    local work=$1
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.1; done
    export DISPLAY=:$(head -n 1 "$work/display")
    for _ in $(seq 200); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    xdpyinfo >/dev/null 2>&1 || { cat "$work/xvfb.log"; echo "Xvfb did not start."; return 1; }
}

# start_openbox <work folder>: a window manager on DISPLAY (which gives windows the keyboard and
# answers wmctrl); returns non-zero when it did not come up within 10 s.
start_openbox() {
    openbox --sm-disable >"$1/openbox.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
    wmctrl -m >/dev/null 2>&1
}

# start_simulator <simulator> <work folder> [options...]: the device simulator with its ports file
# <work>/ports, its image <work>/received-image.bin and its log <work>/devsim.log; returns non-zero
# (after printing that log) when it did not report itself ready.
start_simulator() {
    local simulator=$1 work=$2
    shift 2
    "$simulator" --ports-file "$work/ports" --image "$work/received-image.bin" "$@" 2>"$work/devsim.log" &
    pids+=($!)
    for _ in $(seq 100); do grep -q 'devsim: ready' "$work/devsim.log" 2>/dev/null && break; sleep 0.1; done
    grep -q 'devsim: ready' "$work/devsim.log" || { echo "The device simulator did not start:"; cat "$work/devsim.log"; return 1; }
}

# click_next: clicks the wizard's first prompt button ($window), which sits at the right end of its
# button row.
click_next() {
    # xwininfo's absolute corner is right with and without a window manager's frame around it.
    local info X Y WIDTH HEIGHT
    info=$(xwininfo -id "$window")
    X=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
    Y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
    WIDTH=$(sed -n 's/.*Width: *//p' <<<"$info")
    HEIGHT=$(sed -n 's/.*Height: *//p' <<<"$info")
    # Away first: a pointer that has not moved since the last click is not a fresh press to Qt.
    xdotool mousemove --sync $((X + 10)) $((Y + 10))
    xdotool mousemove --sync $((X + WIDTH - 63)) $((Y + HEIGHT - 28)) click 1
}

# await <pattern> <seconds>: waits for an update-log line of $logfile; fails loudly on any failure
# line of the wizard.
await() {
    local deadline=$((SECONDS + $2))
    while [ $SECONDS -lt $deadline ]; do
        # Without the carriage returns of a log written on Windows.
        local lines
        lines=$(tr -d '\r' <"$logfile" 2>/dev/null) || lines=
        if grep -Eq " : ($1)\$" <<<"$lines"; then return 0; fi
        if grep -Eq ' : (Detecting AIS - not found|Connecting - failed|Updating - failed|Updating - xmodem .*|Detecting AIS - No update file|Confirming - no answer|Confirming - device reports .*)$' <<<"$lines"; then
            echo "The update did not go through; the update log says:"; cat "$logfile"; return 1
        fi
        sleep 0.1
    done
    echo "Timed out waiting for '$1'; the update log so far:"; cat "$logfile"; return 1
}

# built_program <program> <work folder>: prints the command to start a program built in this tree:
# the program itself, or, in a test run of a build for another architecture (QUAYMEND_EMULATOR
# names the user-mode emulator), a wrapper in the work folder that starts it through the emulator.
built_program() {
    if [ -z "${QUAYMEND_EMULATOR:-}" ]; then
        echo "$1"
        return
    fi
    local wrapper
    wrapper="$2/emulated-$(basename "$1")"
    printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$QUAYMEND_EMULATOR" "$1" >"$wrapper"
    chmod 755 "$wrapper"
    echo "$wrapper"
}
