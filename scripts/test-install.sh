#!/usr/bin/env bash
# Installs the Debian package into a fresh Debian root of the release it was built for, as a user
# would (apt-get install ./quaymend_*.deb), and runs the installed program there:
#   1. quaymend --version (the program's version, without the package's release suffix), and
#      udev's reading of the udev rule;
#   2. quaymend --check against the device simulator, as a user who may not open its port (one
#      only root may use, then one of group dialout) and as root, who may;
#   3. quaymend --batch with the demo update file, a whole update of the simulated device, which
#      must receive the file intact;
#   4. on amd64 also the wizard, started with the demo update file as argument, through a whole
#      update under Xvfb (clicked through by scripts/drive-update.sh).
# The simulator runs inside the root too (its binary, from the package's build folder, copied in),
# so that its port paths are the same for both.
#
#   scripts/test-install.sh [--release bookworm|trixie [--commit REV]] [--arch arm64|armhf] [--no-build] [build directory]
# Without --release: this machine's package (scripts/package.sh, build-deb[-<arch>]) in a root of
# this machine's release. With it: that release's package (scripts/package.sh --release, built in
# a root of its own, build-deb-<release>[-<arch>]; of commit REV with --commit) in a root of that
# release. --no-build takes the package (and simulator) the build folder already holds.
#
# amd64 runs everything in a chroot. An arm64 or armhf root gets its packages installed in a
# chroot under qemu-user-static (apt's work runs fine there), but steps 1 to 3 run in a whole
# emulated machine of that architecture booting the release's own kernel (tests/kernel/vm.sh):
# under qemu-user the packaged program hangs (arm64) or crashes (armhf) in QDBusConnection's
# system bus connection when no bus is there, in QEMU's emulation of the thread start, not in the
# program.
#
# Needs root (chroot, mounts) and Debian's archive. The minbase roots and downloaded packages are
# kept by scripts/release-root.sh (QUAYMEND_ROOT_CACHE, default /var/tmp/quaymend-roots); the
# last amd64 run's update log and screenshots land in its last-run-<release>/. Not part of .ci/run.
# Exit status 0 when everything passed, 77 when the whole machine could not be had (the install
# went through, the program was not run), 1 on a failure, 2 on a usage error.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
arch=
release=
build=
commit=
no_build=
while [ $# -gt 0 ]; do
    case "$1" in
    --arch) arch=${2:?"--arch needs arm64 or armhf"}; shift 2 ;;
    --release) release=${2:?"--release needs bookworm or trixie"}; shift 2 ;;
    --commit) commit=${2:?"--commit needs a revision"}; shift 2 ;;
    --no-build) no_build=1; shift ;;
    -*) echo "test-install.sh: unknown option $1"; exit 2 ;;
    *) build=$1; shift ;;
    esac
done
case "$arch" in "" | arm64 | armhf) ;; *) echo "test-install.sh: unknown architecture $arch (arm64 or armhf)"; exit 2 ;; esac
[ "$(id -u)" -eq 0 ] || { echo "Run this as root (it uses chroot and mount)."; exit 2; }
started=$SECONDS
phase() { echo "== $* (after $((SECONDS - started)) s)"; }
rr="$top/scripts/release-root.sh"

root_arch=${arch:-$(dpkg --print-architecture)}
if [ -n "$release" ]; then
    build=${build:-$top/build-deb-$release${arch:+-$arch}}
    package=("$top/scripts/package.sh" --release "$release" ${arch:+--arch "$arch"} ${commit:+--commit "$commit"} "$build")
else
    [ -z "$commit" ] || { echo "test-install.sh: --commit goes with --release"; exit 2; }
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")
    build=${build:-$top/build-deb${arch:+-$arch}}
    package=("$top/scripts/package.sh" ${arch:+--arch "$arch"} "$build")
fi
if [ -n "$no_build" ]; then
    phase "The package already built in $build"
    deb=$(ls -t "$build"/quaymend_*_"$root_arch".deb 2>/dev/null | head -n 1) || true
else
    phase "Building the package"
    deb=$("${package[@]}" | tail -n 1)
fi
build=$(cd "$build" && pwd)
echo "$deb"
[ -f "$deb" ] || { echo "FAIL: no package"; exit 1; }
[ "$(dpkg-deb -f "$deb" Architecture)" = "$root_arch" ] || { echo "FAIL: $deb is not for $root_arch"; exit 1; }
# The simulator must be a program of the root's architecture (cross-built with the package).
simulator=$build/tools/devsim/quaymend-devsim
case "$root_arch:$(file -b "$simulator")" in
amd64:*x86-64* | arm64:*aarch64* | armhf:*ARM,*) ;;
*) echo "FAIL: $simulator is not an $root_arch program: $(file -b "$simulator")"; exit 1 ;;
esac
# The package's version may carry a release suffix (~deb13); the program reports its own version.
package_version=$(dpkg-deb -f "$deb" Version)
program_version=${package_version%%~*}

roots=${QUAYMEND_ROOT_CACHE:-/var/tmp/quaymend-roots}
mkdir -p "$roots"
root=$(mktemp -d "$roots/install-$release-$root_arch.XXXXXX")
work=$(mktemp -d /tmp/quaymend-install.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    "$rr" remove "$root" || echo "Left in place: $root"
    rm -rf "$work"
}
trap cleanup EXIT

phase "A fresh $release $root_arch root"
"$rr" create --arch "$root_arch" "$release" "$root"
mount_options=()
[ -z "$arch" ] && mount_options=(--bind /tmp/.X11-unix:/tmp/.X11-unix)
"$rr" mount "$root" "${mount_options[@]}"
in_root() { "$rr" enter "$root" -- "$@"; }

phase "Installing the package with apt-get${arch:+ (in a chroot under qemu-user-static)}"
mkdir -p "$root/qm"
cp "$deb" "$root/qm/"
in_root apt-get -q update >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
# udev too, for udevadm's reading of the rule.
in_root sh -c 'cd /qm && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends ./quaymend_*.deb udev' \
    >>"$work/apt.log" 2>&1 || { tail -n 40 "$work/apt.log"; exit 1; }
grep -E '^(Setting up quaymend|[0-9]+ upgraded)' "$work/apt.log"
in_root dpkg -L quaymend | grep -E '^/usr/(bin|lib/udev)/.'
in_root useradd --create-home boatowner
cp "$simulator" "$top/tools/demo/730400_03_00_01.hex" "$root/qm/"
chmod 755 "$root/qm"
chmod 644 "$root/qm/730400_03_00_01.hex"

# Steps 1 to 3, run inside the root by whatever runs it: a chroot or a whole machine, which shares
# nothing with this script but the root's files. Every wait has a bound, wide enough for an
# emulated machine.
cat >"$root/qm/checks.sh" <<'EOF'
#!/bin/bash
# /qm/checks.sh <program version>: the installed program's checks; exit status 0 when all pass.
set -u
version=$1
cd /qm
fail() { echo "FAIL: $*"; exit 1; }
step() { echo "== $* (after $SECONDS s)"; }
# A machine booted only to run this may have less mounted than a chroot.
[ -e /proc/self ] || mount -t proc proc /proc
grep -qs ' /sys ' /proc/mounts || mount -t sysfs sysfs /sys
grep -qs ' /dev ' /proc/mounts || [ -e /dev/ptmx ] || mount -t devtmpfs devtmpfs /dev
grep -qs ' /dev/pts ' /proc/mounts || { mkdir -p /dev/pts && mount -t devpts -o ptmxmode=0666 devpts /dev/pts; }
echo "Running on $(uname -srm), $(. /etc/os-release && echo "$PRETTY_NAME")"

step "quaymend --version"
timeout 300 quaymend --version | tee version.txt
grep -qx "quaymend $version" version.txt || fail "expected \"quaymend $version\""

step "The udev rule as udev reads it (udevadm test on a tty; no device of vendor 3e71 here)"
timeout 300 udevadm test --action=add /class/tty/tty >udevadm-test.log 2>&1
grep -F 70-quaymend.rules udevadm-test.log
grep -q 'Reading rules file: /usr/lib/udev/rules.d/70-quaymend.rules' udevadm-test.log &&
    ! grep -F 70-quaymend.rules udevadm-test.log | grep -qiv 'Reading rules file' ||
    { cat udevadm-test.log; fail "udev does not read the rule cleanly"; }

step "The simulator"
rm -f received-image.bin
./quaymend-devsim --ports-file /qm/ports --image /qm/received-image.bin --new-version 730400.03.00.01 \
    --reply-delay 300 --link-speed 11520 --flash-ms 5 2>devsim.log &
simulator=$!
trap 'kill $simulator 2>/dev/null' EXIT
for _ in $(seq 1200); do grep -q 'devsim: ready' devsim.log && break; sleep 0.1; done
grep -q 'devsim: ready' devsim.log || { cat devsim.log; fail "the simulator did not start"; }
chmod 644 ports
# The simulated port's name as the program shows it, and the pseudo-terminal it names.
link=$(cut -d ' ' -f 1 ports | head -n 1)
port=$(readlink -f "$link")

# Who asks | the port's group and mode | expected exit code | what the output must say
checks=(
    "boatowner|root 600|1|You may not open $link"
    "boatowner|dialout 660|1|you are not in group dialout"
    "root|dialout 660|0|Ready: nothing stands in the way"
)
for row in "${checks[@]}"; do
    IFS='|' read -r who access expected text <<<"$row"
    chgrp "${access% *}" "$port" && chmod "${access#* }" "$port"
    step "quaymend --check as $who, port $port of group ${access% *} with mode ${access#* } (expect exit $expected)"
    status=0
    timeout 300 runuser -u "$who" -- env HOME="$(getent passwd "$who" | cut -d: -f6)" \
        QUAYMEND_SIMULATED_PORTS=/qm/ports quaymend --check /qm >check.txt 2>&1 || status=$?
    cat check.txt
    echo "exit code $status"
    [ "$status" -eq "$expected" ] || fail "expected exit code $expected"
    grep -qF "$text" check.txt || fail "expected \"$text\""
done

step "quaymend --batch with the demo file, a whole update of the simulated device"
status=0
timeout 900 env TMPDIR=/qm QUAYMEND_SIMULATED_PORTS=/qm/ports quaymend --batch /qm/730400_03_00_01.hex \
    >batch.txt 2>&1 || status=$?
echo "exit code $status"
for line in 'Welcome screen' 'Detecting AIS - update required' 'Updating - complete' 'Complete'; do
    grep -E " : $line\$" batch.txt || { cat batch.txt; echo "--- simulator's log:"; cat devsim.log; fail "no \"$line\""; }
done
[ "$status" -eq 0 ] || { cat batch.txt; fail "expected exit code 0"; }
size=$(stat -c %s 730400_03_00_01.hex)
cmp -n "$size" received-image.bin 730400_03_00_01.hex ||
    fail "the simulated device's image differs from the update file"
echo "The simulated device received the update file intact."
echo "checks.sh: PASS"
EOF
chmod 755 "$root/qm/checks.sh"

if [ -n "$arch" ]; then
    vm=$top/tests/kernel/vm.sh
    echo "--version, --check and --batch run in a whole emulated $arch machine, not under qemu-user-static:"
    echo "there the packaged program hangs (arm64) or crashes (armhf) in QEMU's start of the thread"
    echo "of QDBusConnection::systemBus() when no system bus is there."
    "$rr" umount "$root"
    phase "Steps 1 to 3 in a whole $release $arch machine (tests/kernel/vm.sh)"
    status=0
    if [ -x "$vm" ]; then
        "$vm" --arch "$arch" --release "$release" --root "$root" --rw-root --timeout 1800 -- \
            /qm/checks.sh "$program_version" || status=$?
    else
        echo "$vm is missing."
        status=77
    fi
    case "$status" in
    0) ;;
    77)
        echo "INCOMPLETE: no whole $arch machine could be had (tests/kernel/vm.sh missing or skipped, see above);"
        echo "the package installed, but --version, --check and --batch were not run."
        exit 77
        ;;
    *) echo "FAIL: the checks in the $arch machine ended with $status"; exit 1 ;;
    esac
    phase "PASS ($release $arch)"
    exit 0
fi

phase "Steps 1 to 3 in the chroot"
in_root /qm/checks.sh "$program_version" || { echo "FAIL: the checks in the chroot"; exit 1; }

phase "The installed wizard with the demo file as argument, through a whole update under Xvfb"
rm -f "$root/qm/received-image.bin" "$root/qm/quaymendlog.txt"
in_root /qm/quaymend-devsim --ports-file /qm/ports --image /qm/received-image.bin \
    --new-version 730400.03.00.01 --reply-delay 300 --link-speed 11520 --flash-ms 5 2>"$work/devsim.log" &
pids+=($!)
for _ in $(seq 100); do grep -q 'devsim: ready' "$work/devsim.log" && break; sleep 0.1; done
grep -q 'devsim: ready' "$work/devsim.log" || { cat "$work/devsim.log"; echo "The simulator did not start"; exit 1; }
chmod 644 "$root/qm/ports"
shots="$work/screenshots"
# Not through release-root.sh enter, whose clean environment would drop the display
# drive-update.sh gives the wizard.
"$top/scripts/drive-update.sh" "$root/qm/quaymendlog.txt" "$shots" \
    chroot "$root" /usr/bin/env PATH=/usr/bin:/bin LANG=C.UTF-8 TMPDIR=/qm QUAYMEND_SIMULATED_PORTS=/qm/ports \
    sh -c 'exec quaymend /qm/730400_03_00_01.hex 2>/qm/quaymend-debug.log' \
    || { echo "--- update log:"; cat "$root/qm/quaymendlog.txt" || true; echo "--- program's output:";
         cat "$root/qm/quaymend-debug.log" || true; echo "--- simulator's log:"; cat "$work/devsim.log"; exit 1; }
size=$(stat -c %s "$root/qm/730400_03_00_01.hex")
cmp -n "$size" "$root/qm/received-image.bin" "$root/qm/730400_03_00_01.hex" ||
    { echo "FAIL: the simulated device's image differs from the update file"; exit 1; }
echo "The simulated device received the update file intact."
grep -E ' : (Welcome screen|Detecting AIS - update required|Updating - complete|Complete)$' "$root/qm/quaymendlog.txt"
rm -rf "$roots/last-run-$release"
mkdir -p "$roots/last-run-$release"
cp "$root/qm/quaymendlog.txt" "$shots"/*.png "$roots/last-run-$release/"
phase "PASS ($release amd64); the update log and screenshots are in $roots/last-run-$release"
