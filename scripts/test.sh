#!/usr/bin/env bash
# Sets up, builds and runs every test through CTest.
#
#     scripts/test.sh              the suite, built into build/
#     scripts/test.sh --sanitize   the suite built with AddressSanitizer and UndefinedBehaviorSanitizer
#                                  into build-asan/ (any error fails the test that met it; leaks only
#                                  from Qt's D-Bus library are suppressed, scripts/lsan-suppressions.txt)
#     scripts/test.sh --arch arm64     the suite cross-built for arm64 or armhf (Raspberry Pi OS) into
#     scripts/test.sh --arch armhf     build-<arch>/ and run under the user-mode emulator (qemu-user-static);
#                                      the tools the tests start besides (rx, socat, Xvfb) stay native.
#                                      QUAYMEND_CROSS_TESTS=<regex> runs only the tests it matches;
#                                      QUAYMEND_CROSS_BUILD_ONLY=1 builds and runs none.
#     scripts/test.sh --windows    the Windows build and its tests under Wine (scripts/windows.sh):
#                                  Qt for Windows from Debian's source when its cache is missing,
#                                  the program, the installer, the tests
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--windows" ]; then
    exec "$top/scripts/windows.sh"
fi
if [ "${1:-}" = "--arch" ]; then
    arch=${2:?"--arch needs arm64 or armhf"}
    case "$arch" in
    arm64) toolchain=$top/cmake/toolchain-aarch64-linux-gnu.cmake ;;
    armhf) toolchain=$top/cmake/toolchain-arm-linux-gnueabihf.cmake ;;
    *) echo "test.sh: unknown architecture $arch (arm64 or armhf)"; exit 2 ;;
    esac
    "$top/scripts/setup.sh" --tests --arch "$arch"
    build=$top/build-$arch
    # Emulated, a test takes several times as long: the same bounds as the sanitized build.
    cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUAYMEND_TEST_TIMEOUT=900 >/dev/null
    cmake --build "$build" -j"$(nproc)"
    [ -n "${QUAYMEND_CROSS_BUILD_ONLY:-}" ] && exit 0
    cd "$build"
    exec ctest --output-on-failure -j"$(nproc)" ${QUAYMEND_CROSS_TESTS:+-R "$QUAYMEND_CROSS_TESTS"}
fi
"$top/scripts/setup.sh" --tests
if [ "${1:-}" = "--sanitize" ]; then
    build=${QUAYMEND_ASAN_BUILD:-$top/build-asan}
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
        -DQUAYMEND_TEST_TIMEOUT=900 \
        >/dev/null
    cmake --build "$build" -j"$(nproc)"
    cd "$build"
    # The real-kernel table runs in the plain build; instrumented, it would not fit CI's time.
    export QUAYMEND_KERNEL_TABLE=0
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS=suppressions=$top/scripts/lsan-suppressions.txt:print_suppressions=0
    exec ctest --output-on-failure -j"$(nproc)" ${QUAYMEND_ASAN_CTEST_ARGS:-}
fi
"$top/scripts/build.sh"
cd "$top/build"
ctest --output-on-failure -j"$(nproc)"
