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
    node=$(readlink -f "$port")
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
