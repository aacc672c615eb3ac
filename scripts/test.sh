#!/usr/bin/env bash
# Sets up, builds and runs every test through CTest.
#
#     scripts/test.sh              the suite, built into build/
#     scripts/test.sh --sanitize   the suite built with AddressSanitizer and UndefinedBehaviorSanitizer
#                                  into build-asan/ (any error fails the test that met it; leaks only
#                                  from Qt's D-Bus library are suppressed, scripts/lsan-suppressions.txt)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
if [ "${1:-}" = "--sanitize" ]; then
    build=${QUAYMEND_ASAN_BUILD:-$top/build-asan}
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
        -DQUAYMEND_TEST_TIMEOUT=900 \
        >/dev/null
    cmake --build "$build" -j"$(nproc)"
    cd "$build"
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS=suppressions=$top/scripts/lsan-suppressions.txt:print_suppressions=0
    exec ctest --output-on-failure -j"$(nproc)" ${QUAYMEND_ASAN_CTEST_ARGS:-}
fi
"$top/scripts/build.sh"
cd "$top/build"
ctest --output-on-failure -j"$(nproc)"
