#!/usr/bin/env bash
# Installs the Debian package into a fresh Debian 12 root made with debootstrap, as a user would
# (apt-get install ./quaymend_*.deb), and runs the installed program there:
#   1. quaymend --version, and udev's reading of the udev rule;
#   2. quaymend --check against the device simulator, as a user who may not open its port (one
#      only root may use, then one of group dialout) and as root, who may;
#   3. the wizard, started with the demo update file as argument, through a whole update of the
#      simulated device under Xvfb; the simulator must receive the file intact.
# The simulator runs inside the root too (its binary copied in), so that its port paths are the
# same for both. Xvfb and the clicking (scripts/drive-update.sh) run outside, on the display's
# socket bound into the root; the wizard gets DISPLAY from drive-update.sh.
#
# Needs root (debootstrap, chroot, mounts) and the package mirror of /etc/apt/sources.list(.d).
# Takes about 2 minutes the first time (debootstrap, downloads) and about 1 after: the bare
# root and the downloaded packages are kept in $QUAYMEND_INSTALL_CACHE (default
# /var/tmp/quaymend-install-test). Not part of .ci/run.
#   scripts/test-install.sh [build directory]     (default build-deb, see scripts/package.sh)
#   scripts/test-install.sh --arch arm64|armhf [build directory]     (default build-deb-<arch>)
#       the same for the Raspberry Pi package, in a Debian 12 root of that architecture whose
#       programs run under qemu-user-static (binfmt_misc is mounted and the emulator registered
#       when they are not yet); step 3 is then a whole update with quaymend --batch.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
arch=
if [ "${1:-}" = "--arch" ]; then
    arch=${2:?"--arch needs arm64 or armhf"}
    shift 2
fi
build=${1:-$top/build-deb${arch:+-$arch}}
[ "$(id -u)" -eq 0 ] || { echo "Run this as root (it uses debootstrap, chroot and mount)."; exit 2; }
started=$SECONDS
phase() { echo "== $* (after $((SECONDS - started)) s)"; }

phase "Building the package"
deb=$("$top/scripts/package.sh" ${arch:+--arch "$arch"} "$build" | tail -n 1)
build=$(cd "$build" && pwd)
echo "$deb"

cache=${QUAYMEND_INSTALL_CACHE:-/var/tmp/quaymend-install-test}
tarball="$cache/debian12-minbase${arch:+-$arch}.tar.gz"
mkdir -p "$cache/archives/partial"
work=$(mktemp -d /tmp/quaymend-install.XXXXXX)
root="$work/root"
mounts=()
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
    # Only once nothing is mounted inside any more.
    if ! grep -q " $root" /proc/mounts; then rm -rf "$work"; else echo "Left mounted, not removed: $work"; fi
}
trap cleanup EXIT
bind() { # what where [options]
    mkdir -p "$2"
    mount --bind "$1" "$2"
    mounts+=("$2")
}

# The first deb822 URIs or one-line "deb" URL that names Debian's main archive.
mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk '/^URIs:/ {print $2} /^deb / {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; break}}' |
    grep -E '/debian/?$' | head -n 1) || true
mirror=${mirror:-http://deb.debian.org/debian}

if [ -n "$arch" ]; then
    # The root's programs run through the emulator, which the kernel finds through binfmt_misc;
    # with the F flag it is opened now, so that it works inside the root too.
    case "$arch" in arm64) qemu=aarch64 ;; armhf) qemu=arm ;; *) echo "unknown architecture $arch"; exit 2 ;; esac
    [ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    if [ ! -e "/proc/sys/fs/binfmt_misc/qemu-$qemu" ]; then
        phase "Registering qemu-$qemu with binfmt_misc"
        cat "/usr/lib/binfmt.d/qemu-$qemu.conf" >/proc/sys/fs/binfmt_misc/register
    fi
fi
if [ ! -s "$tarball" ]; then
    phase "Making a Debian 12${arch:+ $arch} root with debootstrap from $mirror (cached afterwards in $tarball)"
    debootstrap ${arch:+--arch="$arch"} --variant=minbase bookworm "$work/bootstrap" "$mirror" >"$work/debootstrap.log" 2>&1 ||
        { tail -n 20 "$work/debootstrap.log"; echo "debootstrap failed"; exit 1; }
    tar -C "$work/bootstrap" -czf "$tarball.part" . && mv "$tarball.part" "$tarball"
    rm -rf "$work/bootstrap"
fi
phase "Unpacking a fresh root"
mkdir -p "$root"
tar -C "$root" -xzf "$tarball"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mounts+=("$root/proc")
bind /dev "$root/dev"
bind /dev/pts "$root/dev/pts"
bind /tmp/.X11-unix "$root/tmp/.X11-unix"
bind "$cache/archives" "$root/var/cache/apt/archives"
bind /sys "$root/sys"

phase "Installing the package with apt-get"
mkdir -p "$root/qm"
cp "$deb" "$root/qm/"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
in_root apt-get -q update >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
in_root sh -c 'cd /qm && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends ./quaymend_*.deb' \
    >>"$work/apt.log" 2>&1 || { tail -n 40 "$work/apt.log"; exit 1; }
grep -E '^(Setting up quaymend|[0-9]+ upgraded)' "$work/apt.log"
in_root dpkg -L quaymend | grep -E '^/usr/(bin|lib/udev)/.'

phase "quaymend --version"
in_root quaymend --version | tee "$work/version.txt"
version=$(dpkg-deb -f "$deb" Version)
grep -qx "quaymend $version" "$work/version.txt" || { echo "FAIL: the package is $version"; exit 1; }

phase "The udev rule as udev reads it (udevadm test on a tty; no device of vendor 3e71 here)"
in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends udev' >>"$work/apt.log" 2>&1 ||
    { tail -n 20 "$work/apt.log"; exit 1; }
in_root udevadm test --action=add /class/tty/tty >"$work/udevadm-test.log" 2>&1 || true
grep -F 70-quaymend.rules "$work/udevadm-test.log"
grep -q 'Reading rules file: /usr/lib/udev/rules.d/70-quaymend.rules' "$work/udevadm-test.log" &&
    ! grep -F 70-quaymend.rules "$work/udevadm-test.log" | grep -qiv 'Reading rules file' ||
    { cat "$work/udevadm-test.log"; echo "FAIL: udev does not read the rule cleanly"; exit 1; }

# The simulator inside the root; its ports file, links and the update log in /qm.
cp "$build/tools/devsim/quaymend-devsim" "$top/tools/demo/730400_03_00_01.hex" "$root/qm/"
in_root /qm/quaymend-devsim --ports-file /qm/ports --image /qm/received-image.bin \
    --new-version 730400.03.00.01 --reply-delay 300 --link-speed 11520 --flash-ms 5 2>"$work/devsim.log" &
pids+=($!)
for _ in $(seq 100); do grep -q 'devsim: ready' "$work/devsim.log" && break; sleep 0.1; done
grep -q 'devsim: ready' "$work/devsim.log" || { cat "$work/devsim.log"; echo "The simulator did not start"; exit 1; }
chmod 755 "$root/qm"
chmod 644 "$root/qm/ports" "$root/qm/730400_03_00_01.hex"

phase "quaymend --check as a user who may not open the simulator's ports (expect exit 1)"
in_root useradd --create-home boatowner
status=0
in_root runuser -u boatowner -- env HOME=/home/boatowner QUAYMEND_SIMULATED_PORTS=/qm/ports \
    quaymend --check /qm || status=$?
echo "exit code $status"
[ "$status" -eq 1 ] || { echo "FAIL: expected 1"; exit 1; }

phase "quaymend --check as a user outside the port's group dialout (expect exit 1 and the group named)"
in_root sh -c 'port=$(readlink -f "$(cut -d " " -f 1 /qm/ports | head -n 1)") && chgrp dialout "$port" && chmod 660 "$port"'
status=0
in_root runuser -u boatowner -- env HOME=/home/boatowner QUAYMEND_SIMULATED_PORTS=/qm/ports \
    quaymend --check /qm >"$work/check-dialout.txt" || status=$?
cat "$work/check-dialout.txt"
echo "exit code $status"
[ "$status" -eq 1 ] && grep -q dialout "$work/check-dialout.txt" || { echo "FAIL: expected 1 and dialout"; exit 1; }

phase "quaymend --check as root (expect exit 0)"
status=0
in_root env QUAYMEND_SIMULATED_PORTS=/qm/ports quaymend --check /qm || status=$?
echo "exit code $status"
[ "$status" -eq 0 ] || { echo "FAIL: expected 0"; exit 1; }

if [ -n "$arch" ]; then
    phase "quaymend --batch with the demo file, a whole update of the simulated device"
    in_root env TMPDIR=/qm QUAYMEND_SIMULATED_PORTS=/qm/ports quaymend --batch /qm/730400_03_00_01.hex |
        grep -E ' : (Welcome screen|Detecting AIS - update required|Updating - complete|Complete)$' ||
        { echo "--- simulator's log:"; cat "$work/devsim.log"; echo "FAIL: the batch update"; exit 1; }
    size=$(stat -c %s "$root/qm/730400_03_00_01.hex")
    cmp <(head -c "$size" "$root/qm/received-image.bin") "$root/qm/730400_03_00_01.hex" ||
        { echo "FAIL: the simulated device's image differs from the update file"; exit 1; }
    echo "The simulated device received the update file intact."
    phase "PASS ($arch)"
    exit 0
fi

phase "The installed wizard with the demo file as argument, through a whole update under Xvfb"
shots="$work/screenshots"
"$top/scripts/drive-update.sh" "$root/qm/quaymendlog.txt" "$shots" \
    chroot "$root" /usr/bin/env PATH=/usr/bin:/bin LANG=C.UTF-8 TMPDIR=/qm QUAYMEND_SIMULATED_PORTS=/qm/ports \
    sh -c 'exec quaymend /qm/730400_03_00_01.hex 2>/qm/quaymend-debug.log' \
    || { echo "--- update log:"; cat "$root/qm/quaymendlog.txt" || true; echo "--- program's output:";
         cat "$root/qm/quaymend-debug.log" || true; echo "--- simulator's log:"; cat "$work/devsim.log"; exit 1; }
size=$(stat -c %s "$root/qm/730400_03_00_01.hex")
cmp <(head -c "$size" "$root/qm/received-image.bin") "$root/qm/730400_03_00_01.hex" ||
    { echo "FAIL: the simulated device's image differs from the update file"; exit 1; }
echo "The simulated device received the update file intact."
grep -E ' : (Welcome screen|Detecting AIS - update required|Updating - complete|Complete)$' "$root/qm/quaymendlog.txt"
mkdir -p "$cache/last-run"
cp "$root/qm/quaymendlog.txt" "$shots"/*.png "$cache/last-run/"
phase "PASS; the update log and screenshots are in $cache/last-run"
