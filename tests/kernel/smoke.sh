#!/usr/bin/env bash
# Checks tests/kernel/vm.sh end to end: every row of the table below is one machine, its exit
# status, what it printed and, after it, what it left on this machine.
#
#   tests/kernel/smoke.sh [build directory, ignored]
#
# Needs root. The amd64 rows run over this machine's root. The arm64 and armhf rows need a Debian
# root folder of that architecture, named by QUAYMEND_VM_ROOT_ARM64 and QUAYMEND_VM_ROOT_ARMHF,
# made for instance with
#   debootstrap --arch=arm64 --variant=minbase trixie DIR http://deb.debian.org/debian
# (qemu-user-static registered with binfmt_misc, see scripts/test-install.sh); they are skipped
# without. Those run with the same release as their root (QUAYMEND_VM_ROOT_RELEASE, default
# trixie). The first run of each kernel fetches it (about 100 MB each).
# Exit status 77 (skip) when vm.sh cannot run a machine at all.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
vm=$here/vm.sh
work=$(mktemp -d /tmp/quaymend-vm-smoke.XXXXXX)
listener=
trap '[ -n "$listener" ] && kill "$listener"; rm -rf "$work"' EXIT
export work
share=$work/share
mkdir -p "$share"
root_release=${QUAYMEND_VM_ROOT_RELEASE:-trixie}

# A gadget of the transponder's vendor on the dummy controller, seen back through cdc-acm.
cat >"$share/gadget.sh" <<'EOF'
set -e
g=/sys/kernel/config/usb_gadget/qm
mkdir "$g" "$g/strings/0x409" "$g/configs/c.1" "$g/functions/acm.usb0"
echo 0x3e71 >"$g/idVendor"
echo 0x0001 >"$g/idProduct"
echo QM1 >"$g/strings/0x409/serialnumber"
ln -s "$g/functions/acm.usb0" "$g/configs/c.1/"
echo dummy_udc.0 >"$g/UDC"
i=0
while [ ! -e /dev/ttyACM0 ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
udevadm settle --timeout=30
ls /dev/ttyGS0
udevadm info /dev/ttyACM0
EOF

# What the machines' user-mode network reaches on this machine's loopback, as 10.0.2.2.
port=$((40000 + RANDOM % 20000))
timeout 1800 socat TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork SYSTEM:'echo hello-from-host' &
listener=$!

passed=0 failed=0 skipped=0 ran_amd64=0
# check <name> <arch> <vm.sh options> <status> <output patterns> <command> [<check here after>]
#   Output patterns: grep -E patterns separated by ';', each to be found in the machine's standard
#   output and error; one starting with ! must not be found. The command runs with sh -c; the check
#   after it here too, with $work set.
check() {
    local name=$1 arch=$2 options=$3 want=$4 patterns=$5 command=$6 after=${7:-}
    local root_options=() p status=0 why=
    case "$arch" in
    arm64 | armhf)
        local var=QUAYMEND_VM_ROOT_${arch^^}
        if [ -z "${!var:-}" ]; then
            echo "SKIP $name: no $var"
            skipped=$((skipped + 1))
            return
        fi
        root_options=(--root "${!var}" --release "$root_release")
        ;;
    esac
    # shellcheck disable=SC2086 # the options column is split into words on purpose
    "$vm" --arch "$arch" "${root_options[@]}" $options --share "$share" -- sh -c "$command" \
        >"$work/$name.out" 2>&1 || status=$?
    if [ "$status" = 77 ] && [ "$want" != 77 ]; then
        echo "SKIP $name: $(tail -n 1 "$work/$name.out")"
        skipped=$((skipped + 1))
        return
    fi
    [ "$arch" = amd64 ] && ran_amd64=1
    [ "$status" = "$want" ] || why="exit status $status, not $want"
    local IFS=';'
    for p in $patterns; do
        [ -n "$why" ] && break
        case "$p" in
        !*) ! grep -Eq -- "${p#!}" "$work/$name.out" || why="printed $p" ;;
        *) grep -Eq -- "$p" "$work/$name.out" || why="did not print $p" ;;
        esac
    done
    unset IFS
    if [ -z "$why" ] && [ -n "$after" ] && ! sh -c "$after" >"$work/$name.after" 2>&1; then
        why="the check afterwards failed: $after $(cat "$work/$name.after")"
    fi
    if [ -z "$why" ]; then
        echo "PASS $name ($(grep -o 'command started [0-9.]* s after QEMU' "$work/$name.out" || echo 'no timing'))"
        passed=$((passed + 1))
    else
        echo "FAIL $name: $why"
        sed 's/^/    /' "$work/$name.out"
        failed=$((failed + 1))
    fi
}

rules=$top/packaging/linux/70-quaymend.rules
check status-false amd64 "" 1 "" 'false'
check status-code amd64 "" 3 "" 'exit 3'
check gadget-stack amd64 "--usb-gadget" 0 "Linux version .*Debian;!No such file" \
    'ls /sys/kernel/config/usb_gadget && cat /proc/version'
check environment amd64 "--env QM_PROBE=probe-value" 0 \
    "^out$;^err$;^probe-value$;^$top$;^quaymend-vm$;^lo .*UP" \
    'echo out; echo err >&2; echo "$QM_PROBE"; pwd; hostname; ip -brief link'
check overlay-and-share amd64 "" 0 "^written$" \
    'echo written >/etc/quaymend-vm-probe && cat /etc/quaymend-vm-probe && echo shared >'"$share"'/probe' \
    'test ! -e /etc/quaymend-vm-probe && grep -qx shared "$work/share/probe"'
check module-tree amd64 "" 0 "^ftdi_sio$" 'modprobe ftdi_sio && ls /sys/bus/usb-serial/drivers'
check gadget-udev amd64 "--usb-gadget" 0 \
    "^/dev/ttyGS0$;ID_VENDOR_ID=3e71;ID_SERIAL_SHORT=QM1;!ID_MM_DEVICE_IGNORE;!uaccess" "sh $share/gadget.sh"
check gadget-udev-rules amd64 "--usb-gadget --udev-rules $rules" 0 \
    "^/dev/ttyGS0$;ID_VENDOR_ID=3e71;ID_SERIAL_SHORT=QM1;ID_MM_DEVICE_IGNORE=1;TAGS=.*:uaccess:" "sh $share/gadget.sh"
check network amd64 "--net" 0 "^hello-from-host$;^nameserver 10.0.2.3$" \
    'cat /etc/resolv.conf; bash -c "cat </dev/tcp/10.0.2.2/'$port'"'
check machine-dies amd64 "" 125 "ended without the command's status;Kernel panic" 'echo c >/proc/sysrq-trigger'
check timeout amd64 "--timeout 20" 124 "did not finish within 20 s" 'sleep 600'
for arch in arm64 armhf; do
    case "$arch" in arm64) machine=aarch64 ;; armhf) machine=armv7l ;; esac
    check "$arch-root" "$arch" "" 5 "^$machine$" 'uname -m; echo gone >/quaymend-vm-probe; exit 5' \
        "test ! -e \"\$QUAYMEND_VM_ROOT_${arch^^}/quaymend-vm-probe\""
    check "$arch-rw-root" "$arch" "--rw-root --net" 0 "^$machine$;^hello-from-host$" \
        'uname -m; echo kept >/quaymend-vm-probe; bash -c "cat </dev/tcp/10.0.2.2/'$port'"' \
        "grep -qx kept \"\$QUAYMEND_VM_ROOT_${arch^^}/quaymend-vm-probe\" && rm \"\$QUAYMEND_VM_ROOT_${arch^^}/quaymend-vm-probe\""
done

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ] || exit 1
[ "$ran_amd64" = 1 ] || exit 77
