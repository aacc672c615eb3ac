#!/usr/bin/env bash
# Runs one command inside a throwaway virtual machine that boots Debian's own kernel under QEMU
# (TCG, no KVM), powers off by itself and exits with the command's exit status.
#
#   tests/kernel/vm.sh [options] -- COMMAND [ARG]...
#
#   --arch amd64|arm64|armhf   the machine (default amd64): amd64 is a PC, arm64 a virt board with
#                              a Cortex-A72, armhf a virt board with a Cortex-A15
#   --release bookworm|trixie  whose kernel (default: this machine's release)
#   --root DIR                 the machine's root file system (default /, this machine's own)
#   --rw-root                  the root is written through; without it the machine sees the root
#                              read-only under a memory overlay whose writes vanish at power-off.
#                              Not for /.
#   --share HOSTDIR            writable in the machine at the same path (made there when missing),
#                              for results
#   --share-ro HOSTDIR         read-only in the machine at the same path (may be given again): for
#                              the source and build folders, which the machine's own /tmp and /run
#                              would hide where they lie there
#   --usb-gadget               loads the USB gadget stack (dummy_hcd, libcomposite, usb_f_acm,
#                              cdc-acm), mounts configfs on /sys/kernel/config and starts udev
#   --net                      a network card behind QEMU's user-mode NAT (10.0.2.15, gateway
#                              10.0.2.2, which also reaches this machine's own 127.0.0.1; DNS
#                              10.0.2.3 in /etc/resolv.conf), for apt in a whole-machine test
#   --udev                     starts systemd-udevd (the root must have it) and waits for its
#                              first pass over the devices
#   --udev-rules FILE          one more rules file for udev, put in /run/udev/rules.d (implies
#                              --udev; may be given again)
#   --env NAME=VALUE           one more variable in the command's environment (may be given again)
#   --memory MB                memory (default 1024)
#   --cpus N                   processors (default 2)
#   --timeout SECONDS          QEMU is stopped after this long (default 300)
#   --console-log FILE         keeps the machine's console (kernel messages) in FILE
#
# The command runs as root with standard input from /dev/null; its standard output and error
# come back here as they are written (virtio ports, not terminals). Its environment is PATH (this
# shell's own when the root is /, Debian's default otherwise), HOME=/root, LANG=C.UTF-8 and the
# --env variables; its working directory is this shell's when the root is / and / otherwise.
# Inside: /proc, /sys, /dev (devtmpfs), /dev/pts, /dev/shm, and tmpfs on /run and /tmp (so this
# machine's own /tmp and /run are not seen there: put what the command needs elsewhere, or in a
# --share or --share-ro folder); hostname quaymend-vm, loopback up, no other network without --net.
# With the root /, the kernel's whole module tree is bound on /lib/modules/<version> once udev's
# first pass is done, so modprobe and udev load modules as on an installed system; and the folder
# $QUAYMEND_RIG_LAYER/root (default /var/tmp/quaymend-rig/root), where scripts/setup.sh --tests
# unpacks what the machine runs but this machine lacks (udev, ModemManager: installed here, Debian
# would start and enable them here as well), lies over the root in the machine.
#
# Exit status: the command's; 124 when the timeout stopped the machine; 125 when the machine ended
# without telling the command's status (its console is printed); 2 for a usage error; 77 (CTest's
# skip code) with a one-line reason when QEMU or the kernel cannot be had, or the kernel never got
# to start the machine's init (the console's end is printed too).
# On standard error, one line of timing: how long from starting QEMU to the command. Under TCG
# on two cores that was about 3 s for amd64 (6 to 7 with udev), 3 to 6 s for arm64 and 8 to 14 s
# for armhf (the zImage decompresses itself), more on a busy machine.
#
# The kernel (linux-image-<flavour> of that release and architecture: amd64, arm64, armmp-lpae)
# and busybox-static are fetched once with apt-get download through a private apt configuration
# (the mirror of /etc/apt/sources.list(.d), the keys of /usr/share/keyrings), unpacked with
# dpkg-deb -x, never installed, and kept with the initramfs made from them in
# $QUAYMEND_KERNEL_CACHE/<release>-<arch> (default /var/tmp/quaymend-kernels). Remove that folder
# to take a newer kernel. Needs root (QEMU shares the root as its owner), qemu-system-x86 or
# qemu-system-arm, kmod, cpio, xz-utils and zstd: scripts/setup.sh --tests installs them.
#
# tests/kernel/smoke.sh shows it at work.
set -euo pipefail
# All of it in one block, which bash reads whole before it runs: an edit of this file while a
# machine runs would otherwise be read half-way by the running script.
{
me=vm.sh
usage() {
    sed -n '/^#   tests\/kernel\/vm.sh/,/^#   --console-log/p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}
skip() { echo "$me: skipped: $*" >&2; exit 77; }

arch=amd64
release=
root=/
rw_root=0
share=
shares_ro=()
usb=0
net=0
udev=0
rules=()
envs=()
memory=1024
cpus=2
timeout_s=300
console_keep=
while [ $# -gt 0 ]; do
    case "$1" in
    --arch) arch=${2:?}; shift 2 ;;
    --release) release=${2:?}; shift 2 ;;
    --root) root=${2:?}; shift 2 ;;
    --rw-root) rw_root=1; shift ;;
    --share) share=${2:?}; shift 2 ;;
    --share-ro) shares_ro+=("${2:?}"); shift 2 ;;
    --usb-gadget) usb=1; udev=1; shift ;;
    --udev) udev=1; shift ;;
    --net) net=1; shift ;;
    --udev-rules) rules+=("${2:?}"); udev=1; shift 2 ;;
    --env) envs+=("${2:?}"); shift 2 ;;
    --memory) memory=${2:?}; shift 2 ;;
    --cpus) cpus=${2:?}; shift 2 ;;
    --timeout) timeout_s=${2:?}; shift 2 ;;
    --console-log) console_keep=${2:?}; shift 2 ;;
    --) shift; break ;;
    -h | --help) usage ;;
    *) echo "$me: unknown option $1" >&2; usage ;;
    esac
done
[ $# -gt 0 ] || { echo "$me: no command" >&2; usage; }
case "$arch" in amd64 | arm64 | armhf) ;; *) echo "$me: unknown architecture $arch" >&2; exit 2 ;; esac
[ -n "$release" ] || release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$release" ] || { echo "$me: no release in /etc/os-release; give --release" >&2; exit 2; }
[[ $memory =~ ^[0-9]+$ && $cpus =~ ^[0-9]+$ && $timeout_s =~ ^[0-9]+$ ]] ||
    { echo "$me: --memory, --cpus and --timeout take whole numbers" >&2; exit 2; }
root=$(realpath -e "$root") || { echo "$me: no root folder $root" >&2; exit 2; }
[ -d "$root" ] || { echo "$me: the root $root is not a folder" >&2; exit 2; }
[ "$root" = / ] && [ "$rw_root" = 1 ] && { echo "$me: this machine's own root is never written through" >&2; exit 2; }
if [ -n "$share" ]; then
    mkdir -p "$share"
    share=$(realpath -e "$share")
fi
for i in "${!shares_ro[@]}"; do
    shares_ro[i]=$(realpath -e "${shares_ro[i]}") || { echo "$me: no folder ${shares_ro[i]} to share" >&2; exit 2; }
    [ -d "${shares_ro[i]}" ] && [ "${shares_ro[i]}" != / ] || { echo "$me: ${shares_ro[i]} is not a folder to share" >&2; exit 2; }
done
for f in "${rules[@]}"; do [ -f "$f" ] || { echo "$me: no rules file $f" >&2; exit 2; }; done
for e in "${envs[@]}"; do [[ $e =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || { echo "$me: --env takes NAME=VALUE, not $e" >&2; exit 2; }; done
[ "$(id -u)" -eq 0 ] || skip "needs root (QEMU shares the root file system as its owner)"

case "$arch" in
amd64) qemu=qemu-system-x86_64 flavours=(amd64) qemu_pkg=qemu-system-x86 ;;
arm64) qemu=qemu-system-aarch64 flavours=(arm64) qemu_pkg=qemu-system-arm ;;
armhf) qemu=qemu-system-arm flavours=(armmp-lpae armmp) qemu_pkg=qemu-system-arm ;;
esac
command -v "$qemu" >/dev/null || skip "no $qemu (Debian package $qemu_pkg, scripts/setup.sh)"
for tool in depmod modprobe cpio dpkg-deb apt-get flock timeout; do
    command -v "$tool" >/dev/null || skip "no $tool (scripts/setup.sh)"
done

cache=${QUAYMEND_KERNEL_CACHE:-/var/tmp/quaymend-kernels}/$release-$arch

# ---------------------------------------------------------------------------------------------
# The kernel and the initramfs, made once per release and architecture.

# The first URI of the host's sources that ends in the given path (debian, debian-security).
host_mirror() {
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
        awk '/^URIs:/ {for (i = 2; i <= NF; i++) print $i}
             /^deb / {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; break}}' |
        grep -E "/$1/?\$" | head -n 1 | sed 's:/*$::'
}

# apt-get and apt-cache with a configuration of their own in $cache/apt, so that any release and
# architecture can be had whatever the host's apt knows, and the host's package state is not
# touched (its apt.conf.d still applies, for a proxy).
private_apt() {
    local tool=$1
    shift
    "$tool" -q -o Dir::Etc::sourcelist="$cache/apt/sources.list" -o Dir::Etc::sourceparts=- \
        -o Dir::Etc::preferences=- -o Dir::Etc::preferencesparts=- \
        -o Dir::State="$cache/apt/state" -o Dir::State::status="$cache/apt/status" \
        -o Dir::Cache="$cache/apt/cache" -o APT::Architecture="$arch" -o APT::Architectures="$arch" \
        -o APT::Sandbox::User=root -o Acquire::Languages=none -o Acquire::Retries=2 \
        -o Acquire::http::Timeout=30 -o Acquire::https::Timeout=30 -o Debug::NoLocking=1 "$@"
}

fetch_packages() {
    local mirror security keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    mirror=$(host_mirror debian) || true
    security=$(host_mirror debian-security) || true
    mirror=${mirror:-http://deb.debian.org/debian}
    security=${security:-http://deb.debian.org/debian-security}
    mkdir -p "$cache/apt/state/lists/partial" "$cache/apt/cache/archives/partial" "$cache/debs"
    : >"$cache/apt/status"
    cat >"$cache/apt/sources.list" <<EOF
deb [signed-by=$keyring] $mirror $release main
deb [signed-by=$keyring] $mirror $release-updates main
deb [signed-by=$keyring] $security $release-security main
EOF
    private_apt apt-get update >"$cache/apt/update.log" 2>&1 ||
        { tail -n 5 "$cache/apt/update.log" >&2; return 1; }
    # linux-image-<flavour> only depends on the versioned package that holds the kernel.
    local meta= kpkg= f
    for f in "${flavours[@]}"; do
        kpkg=$(private_apt apt-cache depends --important "linux-image-$f" 2>/dev/null |
            sed -n 's/^ *Depends: \(linux-image-[^ <>]*\)$/\1/p' | head -n 1) || true
        [ -n "$kpkg" ] && { meta=linux-image-$f; break; }
    done
    [ -n "$kpkg" ] || { echo "no linux-image-${flavours[0]} in $release for $arch" >&2; return 1; }
    echo "$me: fetching $kpkg (for $meta) and busybox-static, $release $arch" >&2
    rm -f "$cache/debs/"*.deb
    (cd "$cache/debs" && private_apt apt-get download "$kpkg" busybox-static) >"$cache/apt/download.log" 2>&1 ||
        { tail -n 5 "$cache/apt/download.log" >&2; return 1; }
}

# unpack <compressed file>: writes the uncompressed stream to standard output, the compression
# told by its magic number.
unpack() {
    case "$(od -An -tx1 -N4 "$1" | tr -d ' ')" in
    1f8b*) gzip -dc "$1" ;;
    fd377a58) xz -dc "$1" ;;
    28b52ffd) zstd -qdc "$1" ;;
    *) echo "a kernel compressed in a way this script cannot unpack" >&2; return 1 ;;
    esac
}

cut_bytes() { # file offset count
    dd if="$1" bs=1M iflag=skip_bytes,count_bytes skip="$2" count="$3" status=none
}

# plain_kernel <vmlinuz> <out>: the kernel in the form QEMU boots fastest.
# - amd64: the vmlinux ELF inside the bzImage, booted through its PVH entry point; that skips the
#   firmware's real-mode boot and the decompressor, which under TCG take some 4 of 7 seconds.
# - arm64: the plain Image when the package ships an EFI zboot image (a PE stub around the
#   compressed Image), which QEMU 7.2 cannot load.
plain_kernel() {
    local image=$1 out=$2 off size
    if [ "$arch" = amd64 ] && grep -qx CONFIG_PVH=y "$cache/kernel/boot/config-$kver" 2>/dev/null; then
        # setup_sects, then payload_offset and payload_length of the boot protocol's header
        local sects
        sects=$(od -An -tu1 -j$((0x1f1)) -N1 "$image" | tr -d ' ')
        [ "$sects" = 0 ] && sects=4
        off=$(od -An -tu4 -j$((0x248)) -N4 "$image" | tr -d ' ')
        size=$(od -An -tu4 -j$((0x24c)) -N4 "$image" | tr -d ' ')
        # The last 4 bytes are the uncompressed size, which no decompressor wants.
        cut_bytes "$image" "$(((sects + 1) * 512 + off))" "$((size - 4))" >"$cache/payload"
        unpack "$cache/payload" >"$out"
        rm -f "$cache/payload"
        [ "$(od -An -c -j1 -N3 "$out" | tr -d ' ')" = ELF ] || { echo "no ELF kernel in $image" >&2; return 1; }
    elif [ "$(dd if="$image" bs=1 skip=4 count=4 status=none)" = zimg ]; then
        off=$(od -An -tu4 -j8 -N4 "$image" | tr -d ' ')
        size=$(od -An -tu4 -j12 -N4 "$image" | tr -d ' ')
        cut_bytes "$image" "$off" "$((size - 4))" >"$cache/payload"
        unpack "$cache/payload" >"$out"
        rm -f "$cache/payload"
    else
        cp "$image" "$out"
    fi
}

# modules_for <list file> <module>...: the .ko files those modules need, in loading order, copied
# (uncompressed) into the initramfs's /lib/modules and named in the list file. Built-in ones are
# left out; non-zero when one is neither.
modules_for() {
    local list=$1 m line file name
    shift
    : >"$list"
    for m in "$@"; do
        modprobe -C /dev/null -d "$cache/kernel" -S "$kver" --show-depends "$m" >"$cache/deps" 2>/dev/null ||
            { echo "$me: module $m not in kernel $kver" >&2; return 1; }
        while read -r line; do
            case "$line" in
            insmod\ *)
                file=$(echo "$line" | awk '{print $2}')
                name=$(basename "$file")
                name=${name%.xz}
                name=${name%.zst}
                name=${name%.gz}
                grep -qx "$name" "$list" && continue
                case "$file" in
                *.xz) xz -dc "$file" >"$initrd_dir/lib/modules/$name" ;;
                *.zst) zstd -qdc "$file" >"$initrd_dir/lib/modules/$name" ;;
                *.gz) gzip -dc "$file" >"$initrd_dir/lib/modules/$name" ;;
                *) cp "$file" "$initrd_dir/lib/modules/$name" ;;
                esac
                echo "$name" >>"$list"
                ;;
            esac
        done <"$cache/deps"
    done
    rm -f "$cache/deps"
}

prepare() {
    if ! ls "$cache/debs"/linux-image-*.deb "$cache/debs"/busybox-static_*.deb >/dev/null 2>&1; then
        fetch_packages || return 1
    fi
    rm -rf "$cache/kernel" "$cache/busybox" "$cache/initrd"
    dpkg-deb -x "$(ls "$cache/debs"/linux-image-*.deb | head -n 1)" "$cache/kernel"
    dpkg-deb -x "$(ls "$cache/debs"/busybox-static_*.deb | head -n 1)" "$cache/busybox"
    local image
    image=$(ls "$cache/kernel/boot"/vmlinu[xz]-* | head -n 1)
    kver=${image##*/vmlinu?-}
    # depmod and modprobe look in <base>/lib/modules; newer packages put modules in /usr/lib.
    if [ ! -d "$cache/kernel/lib/modules/$kver" ] && [ -d "$cache/kernel/usr/lib/modules/$kver" ]; then
        ln -sfn usr/lib "$cache/kernel/lib"
    fi
    depmod -b "$cache/kernel" "$kver"
    plain_kernel "$image" "$cache/kernel.img"

    initrd_dir=$cache/initrd
    mkdir -p "$initrd_dir"/{bin,dev,proc,sys,run,lib/modules,newroot,lower,overlay,host}
    cp "$(ls "$cache/busybox"/{usr/,}bin/busybox 2>/dev/null | head -n 1)" "$initrd_dir/bin/busybox"
    mknod -m 600 "$initrd_dir/dev/console" c 5 1
    local transport=virtio_mmio
    [ "$arch" = amd64 ] && transport=virtio_pci
    modules_for "$initrd_dir/lib/modules/base.list" "$transport" 9pnet_virtio 9p virtio_console overlay || return 1
    modules_for "$initrd_dir/lib/modules/net.list" virtio_net || return 1
    # Not every kernel has the gadget stack; only --usb-gadget needs it.
    modules_for "$initrd_dir/lib/modules/gadget.list" configfs dummy_hcd libcomposite usb_f_acm cdc_acm ||
        rm -f "$initrd_dir/lib/modules/gadget.list"
    cp "$here/vm-init.sh" "$initrd_dir/init"
    cp "$here/vm-stage2.sh" "$initrd_dir/stage2"
    chmod 755 "$initrd_dir/init"
    (cd "$initrd_dir" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$cache/initrd.cpio.part"
    mv "$cache/initrd.cpio.part" "$cache/initrd.cpio"
    echo "$kver" >"$cache/version"
}

mkdir -p "$cache"
exec {lock}>"$cache/.lock"
flock -w 900 "$lock" || skip "another run kept $cache locked for 15 minutes"
# Unpacked again (not fetched again) when these scripts changed.
here=$(cd "$(dirname "$0")" && pwd)
stamp=$(cat "$here/vm.sh" "$here/vm-init.sh" "$here/vm-stage2.sh" | md5sum | cut -c1-32)
if [ ! -s "$cache/version" ] || [ "$(cat "$cache/stamp" 2>/dev/null)" != "$stamp" ]; then
    rm -f "$cache/version"
    prepare_log=$cache/prepare.log
    # Not in a condition, where set -e would not apply inside.
    set +e
    (set -e; prepare) >"$prepare_log" 2>&1
    prepared=$?
    set -e
    if [ "$prepared" != 0 ] || [ ! -s "$cache/version" ]; then
        tail -n 5 "$prepare_log" >&2
        skip "could not fetch or unpack Debian's $release $arch kernel (log in $prepare_log)"
    fi
    echo "$stamp" >"$cache/stamp"
fi
kver=$(cat "$cache/version")
flock -u "$lock"
exec {lock}>&-

# ---------------------------------------------------------------------------------------------
# One run.

work=$(mktemp -d /tmp/quaymend-vm.XXXXXX)
qemu_pid=
relays=()
cleanup() {
    [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null
    for p in "${relays[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

host=$work/host
mkdir -p "$host/rules"
for f in "${rules[@]}"; do cp "$f" "$host/rules/"; done

q() { printf "'%s'" "${1//\'/\'\\\'\'}"; }
if [ "$root" = / ]; then
    path=$PATH
    cwd=$PWD
    kmoddir=$cache/kernel/lib/modules/$kver
    [ -d "$kmoddir" ] || kmoddir=$cache/kernel/usr/lib/modules/$kver
    layer=${QUAYMEND_RIG_LAYER:-/var/tmp/quaymend-rig}/root
    [ -d "$layer" ] || layer=
else
    path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    cwd=/
    kmoddir=
    layer=
fi
{
    echo "qm_rw_root=$rw_root"
    echo "qm_share=$(q "$share")"
    echo "qm_shares_ro=${#shares_ro[@]}"
    for i in "${!shares_ro[@]}"; do echo "qm_share_ro_$i=$(q "${shares_ro[i]}")"; done
    echo "qm_layer=$([ -n "$layer" ] && echo 1 || echo 0)"
    echo "qm_usb=$usb"
    echo "qm_net=$net"
    echo "qm_udev=$udev"
    echo "qm_kver=$(q "$kver")"
    echo "qm_kmoddir=$(q "$kmoddir")"
    echo "qm_cwd=$(q "$cwd")"
    printf 'set --'
    for a in "PATH=$path" HOME=/root LANG=C.UTF-8 "${envs[@]}" /bin/sh -c 'exec "$@"' sh "$@"; do printf ' %s' "$(q "$a")"; done
    echo
} >"$host/config"

fs_opts=security_model=none,multidevs=remap
root_ro=,readonly=on
[ "$rw_root" = 1 ] && root_ro=
case "$arch" in
amd64)
    machine=(-M pc -cpu max)
    console=ttyS0
    dev=pci
    ;;
arm64)
    machine=(-M virt -cpu cortex-a72)
    console=ttyAMA0
    dev=device
    ;;
armhf)
    machine=(-M virt,highmem=off -cpu cortex-a15)
    console=ttyAMA0
    dev=device
    ;;
esac
args=(
    "${machine[@]}" -accel tcg -m "$memory" -smp "$cpus"
    -nodefaults -no-user-config -display none -no-reboot
    -kernel "$cache/kernel.img" -initrd "$cache/initrd.cpio"
    -append "console=$console panic=-1 loglevel=4"
    -chardev "file,id=console,path=$work/console.log" -serial chardev:console
    -fsdev "local,id=root,path=$root$root_ro,$fs_opts" -device "virtio-9p-$dev,fsdev=root,mount_tag=qmroot"
    -fsdev "local,id=host,path=$host,$fs_opts" -device "virtio-9p-$dev,fsdev=host,mount_tag=qmhost"
    -device "virtio-serial-$dev"
    -chardev "file,id=out,path=$work/stdout" -device virtserialport,chardev=out,name=quaymend.stdout
    -chardev "file,id=err,path=$work/stderr" -device virtserialport,chardev=err,name=quaymend.stderr
)
[ "$net" = 1 ] && args+=(-netdev user,id=net -device "virtio-net-$dev,netdev=net")
[ -n "$share" ] && args+=(-fsdev "local,id=share,path=$share,$fs_opts" -device "virtio-9p-$dev,fsdev=share,mount_tag=qmshare")
# QEMU reads a doubled comma as one comma of the path.
for i in "${!shares_ro[@]}"; do
    args+=(-fsdev "local,id=ro$i,path=${shares_ro[i]//,/,,},readonly=on,$fs_opts" -device "virtio-9p-$dev,fsdev=ro$i,mount_tag=qmro$i")
done
[ -n "$layer" ] && args+=(-fsdev "local,id=layer,path=${layer//,/,,},readonly=on,$fs_opts" -device "virtio-9p-$dev,fsdev=layer,mount_tag=qmlayer")

started=$(date +%s.%N)
# The command's output comes through FIFOs and is copied out by this script's own descriptors: a
# file QEMU opened itself would have an offset of its own, and what this script writes later
# would overwrite what it appended.
mkfifo "$work/stdout" "$work/stderr"
cat "$work/stdout" &
relays=($!)
cat "$work/stderr" >&2 &
relays+=($!)
timeout -k 5 "$timeout_s" "$qemu" "${args[@]}" </dev/null >"$work/qemu.log" 2>&1 &
qemu_pid=$!
qemu_status=0
wait "$qemu_pid" || qemu_status=$?
qemu_pid=
ended=$(date +%s.%N)
# A FIFO QEMU never opened still holds its reader: opening it read-write and closing it ends it.
for f in "$work/stdout" "$work/stderr"; do
    exec {fifo}<>"$f"
    exec {fifo}>&-
done
wait "${relays[@]}" 2>/dev/null || true
relays=()
[ -n "$console_keep" ] && cp "$work/console.log" "$console_keep"

console_tail() {
    echo "--- console (end) ---" >&2
    tail -n "${1:-40}" "$work/console.log" >&2
    [ -s "$work/qemu.log" ] && { echo "--- QEMU ---" >&2; cat "$work/qemu.log" >&2; }
    echo "---" >&2
}

if [ -s "$host/status" ]; then
    status=$(cat "$host/status")
    read -r t_init t_cmd t_end <"$host/times" || true
    awk -v s="$started" -v e="$ended" -v i="${t_init:-0}" -v c="${t_cmd:-0}" -v d="${t_end:-0}" \
        -v a="$arch" -v r="$release" -v k="$kver" 'BEGIN {
            printf "'"$me"': %s %s %s: command started %.1f s after QEMU (init at %.1f s of kernel time, command at %.1f s), QEMU ran %.1f s\n",
                a, r, k, (e - s) - (d - c), i, c, e - s }' >&2
    exit "$status"
fi
if [ "$qemu_status" = 124 ] || [ "$qemu_status" = 137 ]; then
    console_tail
    echo "$me: the machine did not finish within $timeout_s s" >&2
    exit 124
fi
if ! grep -q 'quaymend-vm: init' "$work/console.log" 2>/dev/null; then
    console_tail 20
    skip "$qemu ($arch, kernel $kver) did not start the machine's init (QEMU status $qemu_status)"
fi
console_tail 60
echo "$me: the machine ended without the command's status (QEMU status $qemu_status)" >&2
exit 125
}
