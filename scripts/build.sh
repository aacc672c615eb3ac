#!/usr/bin/env bash
# Configures and builds into ./build: everything (Release with debug info, as the tests run it), or
# only the targets named (scripts/build.sh demo quaymend-devsim).
#   --quick   a Release build of the named targets with their sources compiled a few files at a
#             time (CMake's unity build), in under half the compiler's time: what run.sh builds.
#             The next plain build.sh compiles them one by one again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
type=RelWithDebInfo unity=OFF
if [ "${1:-}" = --quick ]; then
    type=Release unity=ON
    shift
fi
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=$type -DCMAKE_UNITY_BUILD=$unity >/dev/null
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build "$top/build" -j"$(nproc)" "${targets[@]}"
