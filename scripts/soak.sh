#!/usr/bin/env bash
# Runs the randomized fault soak with N random seeds (default 100) and prints a summary: every seed
# with its ending, the count per ending, and the failed seeds with their fault lists.
#   scripts/soak.sh [N] [build directory (default build)] [parallel runs (default 2)]
# A failed seed is repeated with QUAYMEND_SOAK_SEEDS=<seed> build/tests/tst_soak.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-100}
build=${2:-$top/build}
jobs=${3:-2}
program=$build/tests/tst_soak
if [ ! -x "$program" ]; then
    echo "soak: $program is missing; build first (scripts/build.sh)" >&2
    exit 2
fi

out=$(mktemp -d)
per=$(( (count + jobs - 1) / jobs ))
left=$count
pids=()
for ((j = 0; j < jobs && left > 0; j++)); do
    n=$(( left < per ? left : per ))
    left=$(( left - n ))
    # Each run has its own bound inside the program; this one only guards against a stuck process.
    QT_QPA_PLATFORM=offscreen QUAYMEND_SOAK_RANDOM=$n \
        timeout $(( n * 180 + 60 )) "$program" >"$out/$j.log" 2>&1 &
    pids+=($!)
done
status=0
for pid in "${pids[@]}"; do
    wait "$pid" || status=1
done

cat "$out"/*.log >"$out/all"
grep -o 'soak: seed .*' "$out/all" | sed 's/: seed [0-9]*: /: /' >"$out/seeds" || true
echo "== seeds (seed -> ending, verdict, time: scenario)"
sed 's/^soak: seed //' "$out/seeds"
echo "== summary"
echo "seeds run: $(wc -l <"$out/seeds") of $count"
awk '{print $5, $6}' "$out/seeds" | sort | uniq -c | sed 's/^/  /'
failed=$(grep -c '^FAIL!' "$out/all" || true)
echo "failed: $failed"
if [ "$failed" -eq 0 ] && [ "$status" -eq 0 ]; then
    rm -rf "$out"
else
    echo "== failures (whole logs, with the simulator's, in $out)"
    grep -A4 '^FAIL!' "$out/all" || true
    # A crash or a stuck process shows no FAIL! line; the tail of its log tells.
    [ "$status" -ne 0 ] && tail -n 20 "$out"/*.log
    exit 1
fi
