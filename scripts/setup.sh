#!/usr/bin/env bash
# Installs what Quaymend needs to build, run and test on Debian 12, from Debian's packages only.
# Does nothing when everything is there already.
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

packages=(
    build-essential cmake
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-qpa-plugins libgl-dev
    qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
    fonts-dejavu-core
    lrzsz socat
    xvfb xauth xdotool x11-utils imagemagick openbox wmctrl dbus-daemon
    g++-mingw-w64-x86-64-posix
    desktop-file-utils appstream man-db file lintian debootstrap
    clang libclang-rt-14-dev
)

if [ -n "$arch" ]; then
    packages+=(
        "crossbuild-essential-$arch" qemu-user-static
        "qt6-base-dev:$arch" "qt6-serialport-dev:$arch" "qt6-qpa-plugins:$arch" "libgl-dev:$arch"
    )
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
if [ -n "$arch" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    "${sudo[@]}" dpkg --add-architecture "$arch"
fi
"${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
