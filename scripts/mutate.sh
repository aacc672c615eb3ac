#!/usr/bin/env bash
# Hand-picked mutants, tests/mutants.tsv: each is one small slip a developer could make. For each,
# this puts the slip in place of its line, rebuilds only the test programs that must catch it, runs
# the named tests and puts the line back; it prints caught or missed, and the score at the end.
#
#     scripts/mutate.sh            every mutant (takes minutes; not part of CI)
#     scripts/mutate.sh 3 7        only the mutants on those rows of the table (1 is the first)
#
# The slips go into the working tree's files, so leave them alone while it runs. Builds into
# build-mutate/ (or $QUAYMEND_MUTATE_BUILD), keeps each run's output in its logs/.
# The unchanged code must pass every named test first, or no score would mean anything. The
# mutated file is put back on any exit, Ctrl-C included; a run killed outright leaves a note that
# the next run acts on before anything else. Exit status 0 only when every mutant was caught.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
table=$top/tests/mutants.tsv
build=${QUAYMEND_MUTATE_BUILD:-$top/build-mutate}
logs=$build/logs
note=$build/mutated-file # the path of the file in the slip's place; its original is beside it

restore() {
    [ -f "$note" ] || return 0
    local file
    file=$(cat "$note")
    # cat, not cp -p: the file must look newer than what was built from the slip.
    cat "$build/mutated-original" >"$top/$file" && rm -f "$note" "$build/mutated-original"
}
trap restore EXIT
trap 'restore; exit 130' INT
trap 'restore; exit 143' TERM HUP

mkdir -p "$logs"
if [ -f "$note" ]; then
    echo "Putting back $(cat "$note"), left mutated by an earlier run."
    restore
fi

# The table: file, the line as it stands, the slip, and the tests that must catch it
# ("tst_program:function" or "tst_program:function:data row", split by ";"), split by tabs; none
# may be empty (a dropped line is the slip "/* dropped */"). Lines compare without their
# indentation; the slip takes the line's own indentation.
files=() lines=() slips=() tests=()
while IFS=$'\t' read -r file line slip what || [ -n "$file" ]; do
    case $file in '' | '#'*) continue ;; esac
    files+=("$file") lines+=("$line") slips+=("$slip") tests+=("$what")
done <"$table"
count=${#files[@]}
chosen=("$@")
[ ${#chosen[@]} -gt 0 ] || chosen=($(seq 1 "$count"))

trim() { sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' <<<"$1"; }
targetsOf() { tr ';' '\n' <<<"$1" | sed -e 's/^[[:space:]]*//' -e 's/:.*//' | sort -u; }

# Runs the tests named in $1; returns 0 when all pass. Output goes to the log file $2.
runTests() {
    local entry program function status=0
    : >"$2"
    while IFS= read -r entry; do
        entry=$(trim "$entry")
        [ -n "$entry" ] || continue
        program=${entry%%:*}
        function=${entry#"$program"}
        function=${function#:}
        echo "== $entry" >>"$2"
        (cd "$build/tests" && QT_QPA_PLATFORM=offscreen timeout 600 "./$program" ${function:+"$function"}) \
            >>"$2" 2>&1 || status=1
    done < <(tr ';' '\n' <<<"$1")
    return $status
}

buildTargets() { # log file, targets...
    local log=$1
    shift
    nice -n 10 cmake --build "$build" -j2 --target "$@" >"$log" 2>&1
}

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$logs/configure.log" 2>&1 \
    || { echo "cmake failed, see $logs/configure.log"; exit 2; }

# The unchanged code first: every named test must pass on it.
all_tests=""
for n in "${chosen[@]}"; do
    [ "$n" -ge 1 ] && [ "$n" -le "$count" ] || { echo "No mutant $n (the table has $count)."; exit 2; }
    all_tests+="${tests[n - 1]};"
done
echo "Building and running the named tests on the unchanged code ..."
buildTargets "$logs/build-baseline.log" $(targetsOf "$all_tests") \
    || { echo "The unchanged code does not build, see $logs/build-baseline.log"; exit 2; }
runTests "$all_tests" "$logs/baseline.log" \
    || { echo "A named test fails on the unchanged code, see $logs/baseline.log"; exit 2; }

caught=0 missed=() notRun=()
for n in "${chosen[@]}"; do
    i=$((n - 1))
    file=${files[i]} line=$(trim "${lines[i]}") slip=$(trim "${slips[i]}")
    label=$(printf '%2d  %s: %s -> %s' "$n" "$file" "$line" "$slip")
    log=$logs/mutant-$n.log
    found=0
    if [ -f "$top/$file" ]; then
        found=$(MUT_LINE=$line awk '
            { s = $0; sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s); if (s == ENVIRON["MUT_LINE"]) n++ }
            END { print n + 0 }' "$top/$file")
    fi
    if [ "$found" -ne 1 ]; then
        [ "$found" -eq 0 ] && result="line not found" || result="line not unique ($found)"
        printf '%-16s %s\n' "$result" "$label"
        notRun+=("$n")
        continue
    fi

    cp "$top/$file" "$build/mutated-original"
    echo "$file" >"$note"
    MUT_LINE=$line MUT_SLIP=$slip awk '
        { s = $0; sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s) }
        s == ENVIRON["MUT_LINE"] { match($0, /^[ \t]*/); print substr($0, 1, RLENGTH) ENVIRON["MUT_SLIP"]; next }
        { print }' "$build/mutated-original" >"$top/$file"

    if ! buildTargets "$log" $(targetsOf "${tests[i]}"); then
        result="does not build"
        notRun+=("$n")
    elif runTests "${tests[i]}" "$log.tests"; then
        result="MISSED"
        missed+=("$n")
    else
        result="caught"
        caught=$((caught + 1))
    fi
    restore
    printf '%-16s %s\n' "$result" "$label"
done

echo "Score: $caught of ${#chosen[@]} mutants caught."
[ ${#missed[@]} -eq 0 ] || echo "Missed: ${missed[*]} (their test output: $logs/mutant-<n>.log.tests)"
[ ${#notRun[@]} -eq 0 ] || echo "Not run (fix their rows in tests/mutants.tsv): ${notRun[*]}"
[ "$caught" -eq ${#chosen[@]} ]
