#!/usr/bin/env bash
# The real program under a real window manager (openbox on Xvfb): from the boot command until the
# device has confirmed its new version, the window manager's close (wmctrl -c), Alt+F4 and Escape
# are refused; the window stays, the update goes on to its confirmation and the image arrives
# intact. Once it is confirmed, the window manager's close ends the program as before. The title
# bar the window asks for loses its close and minimise functions at the boot command and gets them
# back, exactly as before, at the confirmation.
set -euo pipefail
build=${1:?build directory}
top=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "FAIL: $*"; echo "--- update log:"; cat "$logfile" 2>/dev/null || true; exit 1; }

. "$top/scripts/common.sh"
make_work
logfile="$work/quaymendlog.txt"
start_xvfb "$work" || fail "Xvfb did not start"
start_openbox "$work" || fail "openbox did not start"

cp "$top/tools/demo/730400_03_00_01.hex" "$work/"
start_simulator "$(built_program "$build/tools/devsim/quaymend-devsim" "$work")" "$work" \
    --new-version 730400.03.00.01 --link-speed 11520 --flash-ms 5 --restart-delay 1500 || fail "simulator"

TMPDIR="$work" QUAYMEND_SIMULATED_PORTS="$work/ports" QT_QPA_PLATFORM=xcb \
    "$(built_program "$build/src/quaymend" "$work")" "$work/730400_03_00_01.hex" 2>"$work/debug.log" &
app=$!
pids+=($app)
wait_for_window 200 || fail "no window"

# Every way a user or the desktop asks a window to go; the window must still be there after each.
try_to_close() { # when
    wmctrl -c Quaymend || true
    sleep 0.5
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    xdotool key --clearmodifiers alt+F4
    sleep 0.5
    xdotool key --clearmodifiers Escape
    sleep 0.5
    kill -0 "$app" 2>/dev/null || fail "the program ended on a close request $1"
    xdotool search --name '^Quaymend v' >/dev/null || fail "the window went on a close request $1"
    echo "Close requests $1: refused"
}

# The title bar, as the window asks the window manager for it (_MOTIF_WM_HINTS: flags, functions,
# decorations, ...) and as openbox grants it (_NET_WM_ALLOWED_ACTIONS). Openbox never takes the
# close or minimise action away for these hints, so during the update only the request is checked.
motif_hints() { xprop -id "$window" _MOTIF_WM_HINTS 2>/dev/null | sed -n 's/^_MOTIF_WM_HINTS([^)]*) = //p'; }
allowed_actions() { xprop -id "$window" _NET_WM_ALLOWED_ACTIONS 2>/dev/null | sed -n 's/^[^=]*= //p'; }
# offers_close_and_minimise <hints>: whether the hints leave the window both functions (no functions
# field: all of them; "all" set: all but those named; else only those named).
offers_close_and_minimise() {
    local flags functions wanted=$((0x20 | 0x8))
    IFS=', ' read -r flags functions _ <<<"$1"
    [ -n "$functions" ] || return 1
    if ((!(flags & 1))); then return 0; fi
    if ((functions & 1)); then ((!(functions & wanted))); else (((functions & wanted) == wanted)); fi
}
# title_bar <when> <closable|fixed> [hints expected]: waits (at most 5 s) for the window's hints to
# offer (closable) or withhold (fixed) the close and minimise functions, and to equal the hints
# given; a closable window must also have both actions from openbox. Prints the row.
title_bar() {
    local hints="" actions
    for _ in $(seq 50); do
        hints=$(motif_hints)
        if [ "$2" = closable ] && offers_close_and_minimise "$hints" && [ "$hints" = "${3:-$hints}" ]; then break; fi
        if [ "$2" = fixed ] && [ -n "$hints" ] && ! offers_close_and_minimise "$hints"; then break; fi
        sleep 0.1
    done
    actions=$(allowed_actions)
    echo "Title bar $1: _MOTIF_WM_HINTS $hints; _NET_WM_ALLOWED_ACTIONS $actions"
    if [ "$2" = closable ]; then
        offers_close_and_minimise "$hints" || fail "the window withholds close or minimise $1"
        [ "$hints" = "${3:-$hints}" ] || fail "the title bar $1 is not the one it started with ($3)"
        for action in _NET_WM_ACTION_CLOSE _NET_WM_ACTION_MINIMIZE; do
            [[ ", $actions," == *", $action,"* ]] || fail "openbox does not allow $action $1"
        done
    else
        [ -n "$hints" ] && ! offers_close_and_minimise "$hints" || fail "the window offers close or minimise $1"
    fi
}

await 'Welcome screen' 20; title_bar "at the welcome page" closable; started_with=$(motif_hints); click_next
await 'Connect' 20; click_next
await 'Detecting AIS - update required' 60; title_bar "before the boot command" closable "$started_with"; click_next
await 'Booting' 20; title_bar "after the boot command" fixed
await 'Connecting' 20; try_to_close "while switching to the boot loader"
await 'Updating' 60; sleep 1; title_bar "during the transfer" fixed; try_to_close "during the transfer"
await 'Confirming' 60; title_bar "while confirming" fixed; try_to_close "while confirming"
await 'Confirming - confirmed 730400.03.00.01' 90
title_bar "after the confirmation" closable "$started_with"
grep -q ' : Complete$' "$logfile" && fail "the run ended before its last page"

# The transfer and the confirmation wrote their lines, in order, after the refused requests.
tail_lines=$(grep -E ' : (Updating|Updating - complete|Confirming|Confirming - confirmed .*)$' "$logfile" | sed 's/.* : //' | tr '\n' '|')
[ "$tail_lines" = "Updating|Updating - complete|Confirming|Confirming - confirmed 730400.03.00.01|" ] ||
    fail "log lines: $tail_lines"
size=$(stat -c %s "$work/730400_03_00_01.hex")
cmp <(head -c "$size" "$work/received-image.bin") "$work/730400_03_00_01.hex" || fail "the image differs"

# Confirmed: closing behaves as it always did.
sleep 0.5
wmctrl -c Quaymend
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "the window manager's close did not end the program after the update"
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "exit code $status"
echo "PASS: close requests refused from the boot command to the confirmation under openbox"
