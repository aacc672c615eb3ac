#!/usr/bin/env bash
# Sets up, builds and runs every test through CTest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
cd "$top/build"
ctest --output-on-failure -j"$(nproc)" --timeout 600
