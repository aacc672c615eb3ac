#!/usr/bin/env bash
# Builds the Debian package, quaymend_<version>_<architecture>.deb (amd64 on a PC), in a build
# directory of its own (default: build-deb; the tests are not built there) with Debian's hardening
# flags, and checks it with lintian. Prints the package's path on its last line.
#   scripts/package.sh [build directory]
#   scripts/package.sh --arch arm64|armhf [build directory]
#       the package for Raspberry Pi OS 64-bit or 32-bit, quaymend_<version>_arm64.deb or _armhf.deb,
#       cross-built (cmake/toolchain-*.cmake) into build-deb-<arch>/ by default; its dependencies
#       come from dpkg-shlibdeps on that architecture's Qt libraries
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
arch=$(dpkg --print-architecture)
cross=()
setup=()
if [ "${1:-}" = "--arch" ]; then
    arch=${2:?"--arch needs arm64 or armhf"}
    shift 2
    case "$arch" in
    arm64) cross=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-aarch64-linux-gnu.cmake") ;;
    armhf) cross=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-arm-linux-gnueabihf.cmake") ;;
    *) echo "package.sh: unknown architecture $arch (arm64 or armhf)"; exit 2 ;;
    esac
    setup=(--arch "$arch")
    default=$top/build-deb-$arch
else
    default=$top/build-deb
fi
build=$(mkdir -p "${1:-$default}" && cd "${1:-$default}" && pwd)
"$top/scripts/setup.sh" "${setup[@]}"

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# dpkg-buildflags gives the flags of the architecture the package is for.
export DEB_HOST_ARCH=$arch
cmake -S "$top" -B "$build" "${cross[@]}" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/quaymend_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/quaymend_*_"$arch".deb)
# lintian works as root but says so on every run; its errors fail the build, warnings are shown.
status=0
report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || { echo "lintian finds errors in $deb"; exit 1; }
echo "$deb"
