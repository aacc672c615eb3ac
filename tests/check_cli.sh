#!/usr/bin/env bash
# The installed command line as a user meets it: --check against the device simulator reports the
# simulated device as ready; a port the user may not open is reported with its fix (run as an
# unprivileged user, which needs root to set up); unusable update sources end with exit code 2.
set -euo pipefail
build=${1:?build directory}
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/common.sh"
make_work
chmod 755 "$work"
quaymend=$(built_program "$build/src/quaymend" "$work")
fail() { echo "FAIL: $*"; exit 1; }
expect() { # exit-code description command...
    local want=$1 what=$2 got=0
    shift 2
    "$@" >"$work/out" 2>"$work/err" || got=$?
    [ "$got" -eq "$want" ] || { cat "$work/out" "$work/err"; fail "$what: exit code $got, wanted $want"; }
}

export TMPDIR="$work" QT_QPA_PLATFORM=offscreen
export QUAYMEND_SIMULATED_PORTS="$work/ports"
start_simulator "$(built_program "$build/tools/devsim/quaymend-devsim" "$work")" "$work" || fail "the simulator did not start"
port=$(awk '{ print $1 }' "$QUAYMEND_SIMULATED_PORTS")
cp "$top/tools/demo/730400_03_00_01.hex" "$work/"

expect 0 "check with the simulated device" "$quaymend" --check "$work/730400_03_00_01.hex"
grep -qxF "[ok] Serial port $port (simulated): it carries the AIS device's vendor ID 3E71." "$work/out" || fail "port line"
grep -qxF "[ok] You can open $port for reading and writing." "$work/out" || fail "access line"
grep -qF "[ok] Update file 730400_03_00_01.hex in $work: version 730400.03.00.01" "$work/out" || fail "update file line"
tail -n 1 "$work/out" | grep -qxF "Ready: nothing stands in the way of an update." || fail "verdict"

# Another program's lock files on the device (both names minicom writes), one row per format, then
# the port open without one: while it lives, it is named and neither its port nor its files touched.
node=$(readlink -f "$port")
locks=("/var/lock/LCK..${node##*/}" "/var/lock/LCK..pts_${node##*/}")
trap 'rm -f "${locks[@]}"; stop_started; rm -rf "$work"' EXIT
sleep 600 &
holder=$! && pids+=("$holder")
held() { # what [command prefix...]
    local what=$1 lock
    shift
    expect 1 "check, $what" "$@" "$quaymend" --check "$work/730400_03_00_01.hex"
    grep -qxF "[problem] $port is in use by sleep (process $holder). Fix: close that program, then try again." \
        "$work/out" || { cat "$work/out"; fail "holder, $what"; }
    expect 4 "list, $what" "$@" "$quaymend" --list
    expect 4 "batch, $what" "$@" "$quaymend" --batch --timeout 1 "$work/730400_03_00_01.hex"
    for lock in "${locks[@]}"; do [ ! -e "$work/lock" ] || cmp -s "$lock" "$work/lock" || fail "$what: $lock"; done
}
binary=$(printf '\\x%02x\\x%02x\\x%02x\\x00' $((holder & 255)) $((holder >> 8 & 255)) $((holder >> 16)))
for row in "HDB UUCP:%10d\n:$holder" "minicom:%10d minicom root\n:$holder" \
    "QLockFile:%d\nsleep\n$(uname -n)\n:$holder" "binary:$binary:" "holder gone:%10d\n:$(sh -c 'echo $$')"; do
    IFS=: read -r what layout pid <<<"$row"
    printf "$layout" $pid >"$work/lock"
    for lock in "${locks[@]}"; do cp "$work/lock" "$lock"; done
    [ "$what" = "holder gone" ] || { held "$what lock file"; continue; }
    expect 0 "check, $what" "$quaymend" --check "$work/730400_03_00_01.hex"
    expect 0 "list, $what" "$quaymend" --list
    for lock in "${locks[@]}"; do [ ! -e "$lock" ] || fail "$what: $lock left behind"; done
done
rm "$work/lock"
sleep 600 <"$node" &
pids+=($!)
holder=$! held "held open without a lock file"
kill "$!" 2>/dev/null || true

expect 1 "check without an update file" "$quaymend" --check "$top/README.md"
grep -qF "[problem] README.md in " "$work/out" || fail "file that is no update file"

expect 2 "missing source" "$quaymend" --check "$work/no-such-file.hex"
grep -qF "quaymend: \"$work/no-such-file.hex\" does not exist." "$work/err" || fail "message for a missing source"
expect 2 "missing source in batch mode" "$quaymend" --batch "$work/no-such-file.hex"
expect 2 "unknown option" "$quaymend" --frobnicate
expect 0 "version" "$quaymend" --version
grep -qx "quaymend 730900.03.00.00" "$work/out" || fail "version line"

# A port owned by another user with mode 0600, seen by an unprivileged user.
# An unprivileged user must be able to start the program at all: a clone in a private home folder
# (or a sanitizer's settings file there) would fail for another reason than the port.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null \
    && setpriv --reuid=nobody --regid=nogroup --clear-groups "$quaymend" --version >/dev/null 2>&1; then
    # Another user's holder answers kill(pid, 0) with EPERM and lives (Qt takes its file over, as /proc
    # hides its program); without the file the port is this user's, Qt's exclusive open after ours.
    nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    chmod 0666 "$node"
    printf '%d\nsleep\n%s\n' "$holder" "$(uname -n)" >"$work/lock"
    for lock in "${locks[@]}"; do cp "$work/lock" "$lock" && chown nobody "$lock"; done
    held "another user's QLockFile lock file" "${nobody[@]}"
    rm -f "${locks[@]}"
    expect 0 "list as another user" "${nobody[@]}" "$quaymend" --list
    chown daemon "$node"
    chmod 0600 "$node"
    expect 1 "check of a port the user may not open" \
        setpriv --reuid=nobody --regid=nogroup --clear-groups "$quaymend" --check "$work/730400_03_00_01.hex"
    grep -qF "[problem] You may not open $port for reading and writing: it belongs to user daemon and group" "$work/out" \
        || { cat "$work/out"; fail "permission finding"; }
    grep -qF "with mode 0600, which lets no one else use it. Fix: install Quaymend's udev rule (70-quaymend.rules" "$work/out" \
        || { cat "$work/out"; fail "permission fix"; }
else
    echo "SKIP: the permission case needs root, setpriv and a build that user nobody can run"
fi
echo "PASS"
