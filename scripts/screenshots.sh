#!/usr/bin/env bash
# Remakes the screenshots in docs/screenshots/ (English) and docs/screenshots/<language>/ (each
# translation): the whole update as scripts/drive-update.sh clicks through it, then the two endings
# of an update the device does not confirm.
#   scripts/screenshots.sh [--build <build directory>] [language...]
# Without languages, English and every translation in translations/. Needs a build (scripts/build.sh
# makes build/, the default); takes about three minutes a language, most of it the minute a device
# that never comes back is waited for.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
if [ "${1:-}" = "--build" ]; then
    build=$(cd "${2:?"--build needs a build directory"}" && pwd)
    shift 2
fi
languages=("$@")
if [ ${#languages[@]} = 0 ]; then
    languages=(en)
    for ts in "$top"/translations/quaymend_*.ts; do
        language=${ts##*/quaymend_}
        languages+=("${language%.ts}")
    done
fi
. "$top/scripts/common.sh"
make_work

# ending <shots> <file name> <log line of the ending> <simulator options...>: an update up to a
# page that is not "Update complete", and a screenshot of that page.
ending() {
    local shots=$1 name=$2 line=$3 run
    shift 3
    run=$(mktemp -d "$work/run.XXXXXX")
    start_simulator "$build/tools/devsim/quaymend-devsim" "$run" "$@" || return 1
    logfile="$run/quaymendlog.txt"
    (cd "$run" && TMPDIR="$run" QUAYMEND_SIMULATED_PORTS="$run/ports" QT_QPA_PLATFORM=xcb \
        exec "$build/demo/quaymend" 2>/dev/null) &
    pids+=($!)
    wait_for_window 200 || { echo "no window"; return 1; }
    await 'Welcome screen' 20; click_next
    await 'Connect' 20; click_next
    await 'Detecting AIS - update required' 60; click_next
    local deadline=$((SECONDS + 120))
    until grep -Eq " : $line\$" "$logfile"; do
        [ $SECONDS -lt $deadline ] || { echo "no '$line'"; cat "$logfile"; return 1; }
        sleep 0.2
    done
    sleep 0.5
    import -window "$window" "$shots/$name"
    echo "    screenshot: $shots/$name"
    kill "${pids[-1]}"
}

start_xvfb "$work" || exit 1
for language in "${languages[@]}"; do
    shots="$top/docs/screenshots"
    [ "$language" = en ] || shots="$shots/$language"
    mkdir -p "$shots"
    export LANGUAGE=$language
    run="$work/update-$language"
    mkdir -p "$run"
    start_simulator "$build/tools/devsim/quaymend-devsim" "$run" \
        --new-version 730400.03.00.01 --reply-delay 1500 --link-speed 11520 --flash-ms 5 || exit 1
    TMPDIR="$run" QUAYMEND_SIMULATED_PORTS="$run/ports" QT_QPA_PLATFORM=xcb \
        "$top/scripts/drive-update.sh" "$run/quaymendlog.txt" "$shots" \
        sh -c 'cd "$1" && exec "$2" 2>/dev/null' sh "$run" "$build/demo/quaymend"
    ending "$shots" 09-update-not-confirmed.png 'Confirming - device reports .*' --reply-delay 300
    ending "$shots" 10-no-answer.png 'Confirming - no answer' --new-version 730400.03.00.01 --no-restart
done
