#!/usr/bin/env bash
# Builds the Debian package, quaymend_<version>_<architecture>.deb (amd64 on a PC), in a build
# directory of its own (the tests are not built there) with Debian's hardening flags, and checks it
# with lintian: its errors fail the build. Prints the package's path on its last line.
#   scripts/package.sh [build directory]
#       with this machine's own Debian (default build folder build-deb)
#   scripts/package.sh --arch arm64|armhf [build directory]
#       the package for Raspberry Pi OS 64-bit or 32-bit, quaymend_<version>_arm64.deb or _armhf.deb,
#       cross-built (cmake/toolchain-*.cmake) into build-deb-<arch>/ by default; its dependencies
#       come from dpkg-shlibdeps on that architecture's Qt libraries
#   scripts/package.sh --release bookworm|trixie [--arch arm64|armhf] [build directory]
#       the package for Debian 12 or 13 (and Raspberry Pi OS built on it), built inside a fresh
#       amd64 root of that release (scripts/release-root.sh; needs root) with that release's
#       compilers, Qt, dpkg-shlibdeps and lintian. The source is copied into the root as it stands
#       when the build starts (edits made meanwhile cannot mix into it) and is read-only there; the
#       build folder (default build-deb-<release>[-<arch>], emptied first) is bound read-write.
#       Its version is the program's with "~deb12" or "~deb13" appended, so that the packages of
#       both releases can lie in one folder, and a package for the newer release upgrades one for
#       the older. The root is removed afterwards (kept, unmounted, with QUAYMEND_KEEP_ROOT=1).
#   --commit REV
#       with --release: builds the files of that commit rather than the working tree as it stands.
#   --version-suffix SUFFIX
#       appends SUFFIX to the package's version (letters, digits, ".", "+" and "~"); the program's
#       own --version stays the program's.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
arch=
release=
suffix=
build=
commit=
while [ $# -gt 0 ]; do
    case "$1" in
    --arch) arch=${2:?"--arch needs arm64 or armhf"}; shift 2 ;;
    --release) release=${2:?"--release needs bookworm or trixie"}; shift 2 ;;
    --version-suffix) suffix=${2?"--version-suffix needs a suffix"}; shift 2 ;;
    --commit) commit=${2:?"--commit needs a revision"}; shift 2 ;;
    -*) echo "package.sh: unknown option $1"; exit 2 ;;
    *) [ -z "$build" ] || { echo "package.sh: one build directory only"; exit 2; }; build=$1; shift ;;
    esac
done
cross=()
setup=()
case "$arch" in
"") ;;
arm64) cross=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-aarch64-linux-gnu.cmake") ;;
armhf) cross=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-arm-linux-gnueabihf.cmake") ;;
*) echo "package.sh: unknown architecture $arch (arm64 or armhf)"; exit 2 ;;
esac
[ -n "$arch" ] && setup=(--arch "$arch")
# A Debian version without a hyphen has no Debian revision, as the package's own has none.
[[ "$suffix" =~ ^[A-Za-z0-9.+~]*$ ]] || { echo "package.sh: a version suffix may hold only letters, digits, '.', '+' and '~'"; exit 2; }

[ -z "$commit" ] || [ -n "$release" ] || { echo "package.sh: --commit goes with --release"; exit 2; }
if [ -n "$release" ]; then
    # Debian's version number of each release the package is built for.
    declare -A release_number=([bookworm]=12 [trixie]=13)
    n=${release_number[$release]:-}
    [ -n "$n" ] || { echo "package.sh: unknown release $release (one of: ${!release_number[*]})"; exit 2; }
    [ "$(id -u)" -eq 0 ] || { echo "package.sh --release: run this as root (it builds in a chroot)"; exit 2; }
    build=${build:-$top/build-deb-$release${arch:+-$arch}}
    mkdir -p "$build"
    build=$(cd "$build" && pwd)
    # A release's package is built from scratch: a folder an earlier build left is emptied, but
    # only one that such a build made (its sources were /src) or an empty one.
    if [ -n "$(ls -A "$build")" ]; then
        grep -qx 'CMAKE_HOME_DIRECTORY:INTERNAL=/src' "$build/CMakeCache.txt" 2>/dev/null ||
            { echo "package.sh: $build holds something else than an earlier --release build; not emptying it"; exit 2; }
        find "$build" -mindepth 1 -delete
    fi
    started=$SECONDS
    roots=${QUAYMEND_ROOT_CACHE:-/var/tmp/quaymend-roots}
    mkdir -p "$roots"
    root=$(mktemp -d "$roots/package-$release-amd64.XXXXXX")
    finish() {
        if [ -n "${QUAYMEND_KEEP_ROOT:-}" ]; then
            "$top/scripts/release-root.sh" umount "$root" && echo "package.sh: the root is kept in $root" >&2
        else
            "$top/scripts/release-root.sh" remove "$root" || echo "package.sh: could not remove $root" >&2
        fi
    }
    trap finish EXIT
    # Progress goes to stderr, so that the package's path stays the last line of the output.
    "$top/scripts/release-root.sh" create "$release" "$root" >&2
    copy=()
    if [ -n "$commit" ]; then
        commit=$(git -C "$top" rev-parse --verify "$commit^{commit}")
        copy=(--commit "$commit")
        echo "package.sh: the source is commit $commit" >&2
    fi
    "$top/scripts/release-root.sh" copy-src "${copy[@]}" "$top" "$root" /src >&2
    "$top/scripts/release-root.sh" mount "$root" --bind "$root/src:/src:ro" --bind "$build:/build" >&2
    echo "package.sh: building in a fresh $release root ($root) after $((SECONDS - started)) s" >&2
    # Its output is shown and kept, to take the package's path from its last line. (Not through
    # tee /dev/stderr, which opens the file behind stderr anew and writes over a log's beginning.)
    "$top/scripts/release-root.sh" enter "$root" -- /src/scripts/package.sh "${setup[@]}" \
        --version-suffix "$suffix~deb$n" /build | tee "$root/tmp/package-output" >&2
    inner=$(tail -n 1 "$root/tmp/package-output")
    case "$inner" in /build/quaymend_*.deb) ;; *) echo "package.sh: the build in the root made no package"; exit 1 ;; esac
    echo "package.sh: $release${arch:+ $arch} package built in $((SECONDS - started)) s" >&2
    echo "$build/${inner#/build/}"
    exit 0
fi

arch=${arch:-$(dpkg --print-architecture)}
build=${build:-$top/build-deb${cross:+-$arch}}
build=$(mkdir -p "$build" && cd "$build" && pwd)
"$top/scripts/setup.sh" "${setup[@]}"

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# dpkg-buildflags gives the flags of the architecture the package is for.
export DEB_HOST_ARCH=$arch
cmake -S "$top" -B "$build" "${cross[@]}" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/quaymend_*.deb
# The package's version is the program's (CPack's), with the suffix when one is asked for.
cpack_version=()
if [ -n "$suffix" ]; then
    version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
    [ -n "$version" ] || { echo "package.sh: no CPACK_PACKAGE_VERSION in $build/CPackConfig.cmake"; exit 1; }
    cpack_version=(-D "CPACK_DEBIAN_PACKAGE_VERSION=$version$suffix")
fi
(cd "$build" && cpack -G DEB "${cpack_version[@]}" >/dev/null)
deb=$(ls "$build"/quaymend_*_"$arch".deb)
# lintian works as root but says so on every run; its errors fail the build, warnings are shown.
status=0
report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || { echo "lintian finds errors in $deb"; exit 1; }
echo "$deb"
