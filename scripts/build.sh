#!/usr/bin/env bash
# Configures and builds into ./build (Release with debug info): everything, or only the targets
# named (scripts/build.sh demo quaymend-devsim).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build "$top/build" -j"$(nproc)" "${targets[@]}"
