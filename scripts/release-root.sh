#!/usr/bin/env bash
# Fresh Debian roots of a given release and architecture, to build and test in with that release's
# own compilers, Qt and tools, whatever Debian the machine itself runs. Needs root.
#
#   scripts/release-root.sh create [--arch amd64|arm64|armhf] bookworm|trixie DIR
#       a fresh minbase root in DIR (which must be missing or empty), unpacked from a cached
#       tarball that debootstrap makes once per release and architecture; with the machine's
#       resolv.conf, apt sources for the release (its -updates and security suites when the
#       archive answers for them) and no services started by package scripts. Its apt finds the
#       packages earlier roots of the release and architecture fetched (umount and remove keep
#       what it fetched for the next one), so each is downloaded once. A root of a foreign
#       architecture runs its programs under qemu-user-static (registered with binfmt_misc here
#       when it is not yet).
#   scripts/release-root.sh mount DIR [--src HOSTDIR] [--bind HOSTDIR:PATH[:ro]]...
#       mounts proc, sys, dev, dev/pts and a private dev/shm in the root, binds HOSTDIR read-only
#       at /src and each --bind at PATH inside (read-write unless :ro). Mounts only what is not
#       mounted yet.
#   scripts/release-root.sh enter DIR -- COMMAND...
#       runs COMMAND in the (mounted) root with a clean environment (PATH, HOME=/root,
#       LANG=C.UTF-8, TERM); its exit status is COMMAND's. Put "env NAME=VALUE" before COMMAND
#       to give it more.
#   scripts/release-root.sh run DIR [mount options] -- COMMAND...
#       mount, enter, and unmount again what this call mounted.
#   scripts/release-root.sh copy-src [--commit REV] HOSTDIR DIR [PATH]
#       copies the source tree HOSTDIR into the root at PATH (default /src): with git, its tracked
#       and untracked files but not the ignored ones (no build folders), with their times; with
#       --commit, the files of that commit instead (git archive). A copy holds still while other
#       work goes on in HOSTDIR; a build from a tree that changes under it can mix two versions
#       of a header. E.g. the suite in a trixie root, built inside the root:
#         scripts/release-root.sh create trixie /var/tmp/t
#         scripts/release-root.sh copy-src . /var/tmp/t /work
#         scripts/release-root.sh run /var/tmp/t -- /work/scripts/test.sh
#   scripts/release-root.sh umount DIR
#       stops what still runs inside the root and unmounts everything below DIR.
#   scripts/release-root.sh remove DIR
#       umount, then deletes DIR: only a root that create made, and only once nothing is
#       mounted below it any more.
#
# Environment: QUAYMEND_ROOT_CACHE (default /var/tmp/quaymend-roots) keeps the minbase tarballs
# and downloaded packages; QUAYMEND_MIRROR overrides the Debian mirror (default: the first one of
# the machine's apt sources, else deb.debian.org).
set -euo pipefail

cache=${QUAYMEND_ROOT_CACHE:-/var/tmp/quaymend-roots}
# The releases a root can be made of, and their Debian version numbers.
declare -A release_number=([bookworm]=12 [trixie]=13)
# Debian architecture -> QEMU's name for it.
declare -A qemu_name=([arm64]=aarch64 [armhf]=arm [amd64]=x86_64)
# The file create leaves in a root; remove deletes nothing without it.
marker=etc/quaymend-root

say() { echo "release-root: $*" >&2; }
die() { say "$*"; exit 2; }
usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2; }

need_root() { [ "$(id -u)" -eq 0 ] || die "run this as root (debootstrap, chroot and mount need it)"; }

# root_dir DIR: DIR made absolute, without a trailing slash; refuses / and paths with whitespace
# (mount tables escape those).
root_dir() {
    local dir
    [[ "$1" =~ [[:space:]] ]] && die "a root's path may not contain white space: $1"
    dir=$(realpath -m -- "$1")
    [ "$dir" != / ] || die "refusing / as a root"
    echo "$dir"
}

# mounts_below DIR: the mount points at DIR and below it, deepest first.
mounts_below() {
    awk -v d="$1" '$2 == d || index($2, d "/") == 1 {print $2}' /proc/mounts | sort -r
}

# The first URI of the machine's apt sources that names Debian's main archive.
mirror() {
    if [ -n "${QUAYMEND_MIRROR:-}" ]; then echo "$QUAYMEND_MIRROR"; return; fi
    local found
    found=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
        awk '/^URIs:/ {for (i = 2; i <= NF; i++) print $i} /^deb / {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; break}}' |
        grep -E '/debian/?$' | head -n 1) || true
    echo "${found:-http://deb.debian.org/debian}"
}

# security_mirror MIRROR: where the security suites live beside MIRROR (…/debian-security).
security_mirror() { echo "${1%/}-security"; }

# answers URL: whether the archive serves URL (an InRelease file), within 30 s.
answers() {
    local probe
    probe=$(mktemp)
    if timeout 30 /usr/lib/apt/apt-helper -o Acquire::http::Timeout=15 -o Acquire::Retries=0 \
        download-file "$1" "$probe" >/dev/null 2>&1; then
        rm -f "$probe"
        return 0
    fi
    rm -f "$probe"
    return 1
}

# need_emulator ARCH: makes sure the kernel runs ARCH's programs, through qemu-user-static.
# With the F flag binfmt_misc opens the emulator once, at registration, so it works inside a
# chroot too, where no emulator lies.
need_emulator() {
    local arch=$1 host qemu
    host=$(dpkg --print-architecture)
    [ "$arch" = "$host" ] && return 0
    qemu=${qemu_name[$arch]:-}
    [ -n "$qemu" ] || die "no emulator known for $arch"
    [ -e "/usr/lib/binfmt.d/qemu-$qemu.conf" ] ||
        die "qemu-user-static is missing (apt-get install qemu-user-static), needed to run $arch programs"
    [ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    if [ ! -e "/proc/sys/fs/binfmt_misc/qemu-$qemu" ]; then
        say "registering qemu-$qemu with binfmt_misc"
        cat "/usr/lib/binfmt.d/qemu-$qemu.conf" >/proc/sys/fs/binfmt_misc/register
    fi
}

# tarball RELEASE ARCH: the cached minbase root, made by debootstrap when missing. One maker at a
# time per tarball; another waits (at most 30 minutes) and then takes what the first made.
tarball() {
    local release=$1 arch=$2 file lock work mirror
    file=$cache/$release-$arch-minbase.tar.zst
    mkdir -p "$cache"
    lock=$cache/.$release-$arch.lock
    exec 9>"$lock"
    flock -w 1800 9 || die "another debootstrap of $release $arch has held $lock for 30 minutes"
    if [ ! -s "$file" ]; then
        mirror=$(mirror)
        work=$(mktemp -d "$cache/debootstrap.XXXXXX")
        say "debootstrap $release $arch from $mirror (once; kept in $file)"
        if ! timeout 3600 debootstrap --arch="$arch" --variant=minbase "$release" "$work/root" "$mirror" \
            >"$work/debootstrap.log" 2>&1; then
            tail -n 20 "$work/debootstrap.log" >&2
            umount_all "$work/root" || true
            [ -z "$(mounts_below "$work")" ] && rm -rf "$work"
            die "debootstrap failed"
        fi
        umount_all "$work/root"
        rm -f "$work/root/var/cache/apt/archives/"*.deb
        tar -C "$work/root" --numeric-owner --zstd -cf "$file.part" . && mv "$file.part" "$file"
        rm -rf "$work"
    fi
    exec 9>&-
    echo "$file"
}

create() {
    local arch release dir n mirror security suites
    arch=$(dpkg --print-architecture)
    if [ "${1:-}" = --arch ]; then arch=${2:?"--arch needs amd64, arm64 or armhf"}; shift 2; fi
    [ $# -eq 2 ] || usage
    release=$1
    n=${release_number[$release]:-}
    [ -n "$n" ] || die "unknown release $release (one of: ${!release_number[*]})"
    [ -n "${qemu_name[$arch]:-}" ] || die "unknown architecture $arch (one of: ${!qemu_name[*]})"
    dir=$(root_dir "$2")
    if [ -e "$dir" ] && [ -n "$(ls -A "$dir")" ]; then die "$dir is not empty"; fi
    need_emulator "$arch"
    local file
    file=$(tarball "$release" "$arch")
    mkdir -p "$dir"
    tar -C "$dir" --numeric-owner --zstd -xpf "$file"

    # Names resolve as on this machine.
    rm -f "$dir/etc/resolv.conf"
    cp -L /etc/resolv.conf "$dir/etc/resolv.conf"

    # Only Debian's archive: the release, its -updates and its security suite (when they answer;
    # a mirror may lack them).
    mirror=$(mirror)
    mirror=${mirror%/}
    security=$(security_mirror "$mirror")
    suites=$release
    if answers "$mirror/dists/$release-updates/InRelease"; then
        suites="$suites $release-updates"
    else
        say "$mirror has no $release-updates; the root goes without"
    fi
    rm -f "$dir/etc/apt/sources.list"
    mkdir -p "$dir/etc/apt/sources.list.d"
    cat >"$dir/etc/apt/sources.list.d/debian.sources" <<EOF
Types: deb
URIs: $mirror
Suites: $suites
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    if answers "$security/dists/$release-security/InRelease"; then
        cat >>"$dir/etc/apt/sources.list.d/debian.sources" <<EOF

Types: deb
URIs: $security
Suites: $release-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    else
        say "$security does not answer for $release-security; the root goes without security updates"
    fi
    # Every download has a bound; a failed one is retried.
    cat >"$dir/etc/apt/apt.conf.d/90quaymend" <<'EOF'
Acquire::http::Timeout "60";
Acquire::Retries "3";
DPkg::Lock::Timeout "600";
Dpkg::Use-Pty "0";
EOF
    # A throwaway root: no fsync after each file, and no daemons started by package scripts, which
    # would outlive the command and hold the root's mounts.
    echo force-unsafe-io >"$dir/etc/dpkg/dpkg.cfg.d/90quaymend-unsafe-io"
    printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d"
    chmod 755 "$dir/usr/sbin/policy-rc.d"
    printf 'RELEASE=%s\nVERSION_NUMBER=%s\nARCH=%s\n' "$release" "$n" "$arch" >"$dir/$marker"
    seed "$dir"
    say "made a $release $arch root in $dir"
}

# The packages roots of a release and architecture fetched are kept in one store. Each root gets
# its own links to them rather than the store itself: apt locks its archives folder for a whole
# install, so roots sharing one would wait for each other, or fail.
store_of() { # DIR
    echo "$cache/archives/$(sed -n 's/^RELEASE=//p' "$1/$marker")-$(sed -n 's/^ARCH=//p' "$1/$marker")"
}

# seed DIR: the store's packages into the root's archives folder (hard links when they share a
# file system).
seed() {
    local store archives f
    store=$(store_of "$1")
    archives=$1/var/cache/apt/archives
    mkdir -p "$store" "$archives/partial"
    for f in "$store"/*.deb; do
        [ -e "$f" ] || continue
        ln -f "$f" "$archives/" 2>/dev/null || cp "$f" "$archives/"
    done
}

# harvest DIR: what the root's apt fetched goes into the store; a file already there stays.
harvest() {
    local store f name
    [ -f "$1/$marker" ] || return 0
    store=$(store_of "$1")
    mkdir -p "$store"
    for f in "$1"/var/cache/apt/archives/*.deb; do
        [ -e "$f" ] || continue
        name=${f##*/}
        [ -e "$store/$name" ] && continue
        ln "$f" "$store/$name" 2>/dev/null ||
            { cp "$f" "$store/.$name.$$" && mv -f "$store/.$name.$$" "$store/$name"; } || true
    done
}

# bind_mount HOSTDIR TARGET ro|rw
bind_mount() {
    local source=$1 target=$2 mode=$3
    [ -d "$source" ] || die "no folder $source to bind"
    mkdir -p "$target"
    mountpoint -q "$target" && return 0
    mount --bind "$source" "$target"
    mounted+=("$target")
    [ "$mode" = ro ] && mount -o remount,bind,ro "$target"
    return 0
}

# mount_all DIR [options]: mounts what is missing; what it mounted is appended to the array
# mounted.
mount_all() {
    local dir=$1 arch bind_arg source target mode
    shift
    [ -f "$dir/$marker" ] || die "$dir is no root made by $0 create"
    arch=$(sed -n 's/^ARCH=//p' "$dir/$marker")
    local binds=()
    while [ $# -gt 0 ]; do
        case "$1" in
        --src) binds+=("$(realpath "${2:?--src needs a folder}"):/src:ro"); shift 2 ;;
        --bind) binds+=("${2:?--bind needs HOSTDIR:PATH[:ro]}"); shift 2 ;;
        *) die "unknown mount option $1" ;;
        esac
    done
    need_emulator "$arch"
    if ! mountpoint -q "$dir/proc"; then mount -t proc proc "$dir/proc"; mounted+=("$dir/proc"); fi
    bind_mount /sys "$dir/sys" rw
    bind_mount /dev "$dir/dev" rw
    bind_mount /dev/pts "$dir/dev/pts" rw
    if ! mountpoint -q "$dir/dev/shm"; then
        mount -t tmpfs -o mode=1777,nosuid,nodev shm "$dir/dev/shm"
        mounted+=("$dir/dev/shm")
    fi
    for bind_arg in "${binds[@]}"; do
        IFS=: read -r source target mode <<<"$bind_arg"
        [ -n "$target" ] && [ "${target#/}" != "$target" ] || die "--bind $bind_arg: PATH must be absolute"
        bind_mount "$(realpath "$source")" "$dir$target" "${mode:-rw}"
    done
}

# umount_all DIR: stops the processes whose root is DIR (only this root's: they were started
# in it by its user), then unmounts everything below DIR, deepest first.
umount_all() {
    local dir=$1 pid link m left
    for link in /proc/[0-9]*/root; do
        pid=${link#/proc/}
        pid=${pid%/root}
        [ "$(readlink "$link" 2>/dev/null)" = "$dir" ] || continue
        say "stopping process $pid ($(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | cut -c1-80)), still running in $dir"
        kill "$pid" 2>/dev/null || true
    done
    for m in $(mounts_below "$dir"); do
        umount "$m" 2>/dev/null || umount -l "$m" || true
    done
    left=$(mounts_below "$dir")
    [ -z "$left" ] || { say "still mounted below $dir: $left"; return 1; }
    harvest "$dir"
}

# copy_src [--commit REV] HOSTDIR DIR PATH
copy_src() {
    local source target commit=
    if [ "${1:-}" = --commit ]; then commit=${2:?--commit needs a revision}; shift 2; fi
    [ $# -ge 2 ] || usage
    source=$(realpath "$1")
    target=$(root_dir "$2")${3:-/src}
    [ -f "$2/$marker" ] || die "$2 is no root made by $0 create"
    mkdir -p "$target"
    if [ -n "$commit" ]; then
        git -C "$source" archive --format=tar "$commit" | tar -C "$target" -xpf -
    elif git -C "$source" rev-parse --show-toplevel >/dev/null 2>&1; then
        # Files deleted but not yet committed are still listed; they are left out.
        git -C "$source" ls-files -z --cached --others --exclude-standard |
            while IFS= read -r -d '' f; do
                if [ -e "$source/$f" ] || [ -L "$source/$f" ]; then printf '%s\0' "$f"; fi
            done |
            tar -C "$source" --null -T - -cf - | tar -C "$target" -xpf -
    else
        tar -C "$source" --exclude='./build*' -cf - . | tar -C "$target" -xpf -
    fi
}

enter() {
    local dir
    dir=$(root_dir "${1:?enter needs a root}")
    shift
    [ "${1:-}" = -- ] && shift
    [ $# -gt 0 ] || die "enter needs a command after --"
    mountpoint -q "$dir/proc" || die "$dir is not mounted (scripts/release-root.sh mount $dir)"
    exec chroot "$dir" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" "$@"
}

# The whole command is read before any of it runs, so that a change to this file while it runs
# (another checkout step, an edit) cannot make it run a mix of two versions.
main() {
    command=${1:-}
    [ $# -gt 0 ] && shift
    case "$command" in
    create)
        need_root
        create "$@"
        ;;
    mount)
        need_root
        dir=$(root_dir "${1:?mount needs a root}")
        shift
        mounted=()
        mount_all "$dir" "$@"
        ;;
    enter)
        need_root
        enter "$@"
        ;;
    run)
        need_root
        dir=$(root_dir "${1:?run needs a root}")
        shift
        options=()
        while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
        [ "${1:-}" = -- ] && shift
        [ $# -gt 0 ] || die "run needs a command after --"
        mounted=()
        trap 'for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}"; done; harvest "$dir"' EXIT
        mount_all "$dir" "${options[@]}"
        status=0
        (enter "$dir" -- "$@") || status=$?
        exit "$status"
        ;;
    copy-src)
        need_root
        copy_src "$@"
        ;;
    umount)
        need_root
        umount_all "$(root_dir "${1:?umount needs a root}")"
        ;;
    remove)
        need_root
        dir=$(root_dir "${1:?remove needs a root}")
        [ -e "$dir" ] || exit 0
        [ -f "$dir/$marker" ] || die "$dir is no root made by $0 create; not removing it"
        umount_all "$dir" || die "not removing $dir while something is mounted below it"
        rm -rf --one-file-system "$dir"
        ;;
    *) usage ;;
    esac
}

main "$@"
exit
