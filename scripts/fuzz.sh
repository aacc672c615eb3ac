#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# into their own build folder, and runs each for the given number of seconds (default 30), starting
# from the seed corpus in fuzz/corpus/<target>. Prints the executions per target; fails on the
# first finding, leaving the input that caused it in the build folder's artifacts/.
#
#     scripts/fuzz.sh [seconds]          QUAYMEND_FUZZ_BUILD=<folder> (default build-fuzz)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
build=${QUAYMEND_FUZZ_BUILD:-$top/build-fuzz}
jobs=$(nproc)

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ not found (scripts/setup.sh installs it)" >&2
    exit 1
fi

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="$flags" -DBUILD_TESTING=OFF -DQUAYMEND_FUZZ=ON >/dev/null
cmake --build "$build" -j"$jobs" --target fuzzers

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/scripts/lsan-suppressions.txt:print_suppressions=0}
export QT_QPA_PLATFORM=offscreen

mkdir -p "$build/artifacts"
summary=()
status=0
for source in "$top"/fuzz/fuzz_*.cpp; do
    target=$(basename "$source" .cpp)
    name=${target#fuzz_}
    corpus=$build/corpus/$name
    mkdir -p "$corpus"
    log=$build/$target.log
    echo "== $target, $seconds s"
    # New inputs go to the build folder's corpus; the repository's seeds are read only.
    if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" "$corpus" "$top/fuzz/corpus/$name" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        status=1
        tail -n 60 "$log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    summary+=("$(printf '%-22s %-6s %12s executions' "$target" "$result" "${runs:-?}")")
done
echo "== fuzz summary ($seconds s each)"
printf '%s\n' "${summary[@]}"
exit $status
