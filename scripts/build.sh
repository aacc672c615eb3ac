#!/usr/bin/env bash
# Configures and builds into ./build: everything (Release with debug info, as the tests run it), or
# only the targets named (scripts/build.sh demo quaymend-devsim).
#   --quick   the named targets without debug information, optimised less (the program waits on
#             its device, not its processor) and compiled up to 16 source files at a time (CMake's
#             unity build): in about a third of the compiler's time; without the translations
#             where Qt's Linguist tools are not installed (setup.sh --run leaves them out). What
#             run.sh builds; the next plain build.sh compiles them one by one again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
config=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=OFF -DQUAYMEND_TRANSLATIONS=ON)
if [ "${1:-}" = --quick ]; then
    translations=OFF
    ! compgen -G "/usr/lib/*/cmake/Qt6LinguistTools/Qt6LinguistToolsConfig.cmake" >/dev/null || translations=ON
    config=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG"
        -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16 -DQUAYMEND_TRANSLATIONS=$translations)
    shift
fi
cmake -S "$top" -B "$top/build" "${config[@]}" >/dev/null
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build "$top/build" -j"$(nproc)" "${targets[@]}"
