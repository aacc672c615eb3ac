#!/usr/bin/env bash
# Installs what Quaymend needs to build, run and test, from Debian's packages only, on Debian 12
# "bookworm" or Debian 13 "trixie" (and Raspberry Pi OS built on either). The release comes from
# /etc/os-release; on one it does not know it says so, tries Debian 13's list and names what it
# could not install. Does nothing when everything is there already.
#   scripts/setup.sh                   for this machine's own architecture
#   scripts/setup.sh --arch arm64      also what a cross build for arm64 or armhf needs (Raspberry
#   scripts/setup.sh --arch armhf      Pi OS): the cross compiler, Qt's libraries of that
#                                      architecture (multiarch) and the user-mode emulator
set -euo pipefail
arch=
if [ "${1:-}" = "--arch" ]; then
    arch=${2:?"--arch needs arm64 or armhf"}
    case "$arch" in arm64 | armhf) ;; *) echo "setup.sh: unknown architecture $arch (arm64 or armhf)"; exit 2 ;; esac
fi

codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}") || codename=
known=yes
case "$codename" in
bookworm | trixie) ;;
*)
    known=
    echo "setup.sh: release '${codename:-unknown}' is not one Quaymend is tested on (Debian 12 bookworm, 13 trixie); trying Debian 13's packages"
    ;;
esac

packages=(
    build-essential cmake
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-qpa-plugins libgl-dev
    qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
    fonts-dejavu-core
    lrzsz socat
    xvfb xauth xdotool x11-utils imagemagick openbox wmctrl dbus-daemon at-spi2-core python3-pyatspi
    g++-mingw-w64-x86-64-posix
    desktop-file-utils appstream man-db file lintian debootstrap
    clang
    qemu-system-x86 qemu-system-arm kmod cpio xz-utils zstd udev modemmanager
)

if [ -n "$arch" ]; then
    packages+=(
        "crossbuild-essential-$arch" qemu-user-static
        "qt6-base-dev:$arch" "qt6-serialport-dev:$arch" "qt6-qpa-plugins:$arch" "libgl-dev:$arch"
    )
fi

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
apt_get() { DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 "$@"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# clang's sanitizer and libFuzzer runtime carries the compiler's major version in its name
# (libclang-rt-14-dev on Debian 12, -19- on Debian 13): the one of the release's own clang.
clang_runtime() {
    local major=
    if command -v clang >/dev/null; then
        major=$(clang --version | sed -n 's/.*clang version \([0-9]*\)\..*/\1/p' | head -n 1)
    fi
    [ -n "$major" ] || major=$(apt-cache depends clang 2>/dev/null | sed -n 's/.*Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1)
    [ -n "$major" ] && echo "libclang-rt-$major-dev"
}

missing_of() {
    local p
    for p in "$@"; do installed "$p" || echo "$p"; done
}

runtime=$(clang_runtime) || true
[ -n "$runtime" ] && packages+=("$runtime")
mapfile -t missing < <(missing_of "${packages[@]}")
[ ${#missing[@]} -eq 0 ] && [ -n "$runtime" ] && exit 0

echo "Installing: ${missing[*]}"
if [ -n "$arch" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    "${sudo[@]}" dpkg --add-architecture "$arch"
fi
apt_get update -qq
if [ -z "$runtime" ]; then
    runtime=$(clang_runtime) || true
    if [ -n "$runtime" ]; then missing+=("$runtime"); else echo "setup.sh: no clang in this release's packages"; fi
fi
if apt_get install -y -qq --no-install-recommends "${missing[@]}"; then
    exit 0
fi
# One at a time, to name each package this release lacks.
failed=()
for p in "${missing[@]}"; do
    apt_get install -y -qq --no-install-recommends "$p" >/dev/null 2>&1 || failed+=("$p")
done
[ ${#failed[@]} -eq 0 ] && exit 0
echo "setup.sh: could not install: ${failed[*]}"
# On a release it knows, every package must be there; elsewhere the build may still go through.
[ -n "$known" ] && exit 1
exit 0
