#!/usr/bin/env bash
# Builds the Debian package, quaymend_<version>_amd64.deb, in a build directory of its own
# (default: build-deb; the tests are not built there) with Debian's hardening flags, and checks it
# with lintian. Prints the package's path on its last line.
#   scripts/package.sh [build directory]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$top/build-deb}" && cd "${1:-$top/build-deb}" && pwd)
"$top/scripts/setup.sh"

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/quaymend_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/quaymend_*_amd64.deb)
# lintian works as root but says so on every run; its errors fail the build, warnings are shown.
status=0
report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || { echo "lintian finds errors in $deb"; exit 1; }
echo "$deb"
