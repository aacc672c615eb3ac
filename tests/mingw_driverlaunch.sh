#!/bin/bash
# The driver launch for Windows is not built on this platform; the cross compiler at least checks
# that it compiles against the real Windows headers.
set -eu
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
compiler=x86_64-w64-mingw32-g++
if ! command -v "$compiler" >/dev/null; then
    echo "skipped: $compiler is not installed" >&2
    exit 77
fi
"$compiler" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I"$source_dir/src" \
    "$source_dir/src/support/driverlaunch_win.cpp" "$source_dir/src/support/keepawake_win.cpp"
echo "driverlaunch_win.cpp and keepawake_win.cpp compile for Windows"
