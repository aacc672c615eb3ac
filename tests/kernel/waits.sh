# Sourced by the scripts that run inside tests/kernel/vm.sh's machine.
waits=300 # tenths of a second for anything the machine does by itself
# wait_for <file> <pattern>: prints the first line of file that matches, once there is one; fails
# once the wait is over
wait_for() {
    local i
    for ((i = 0; i < waits; i++)); do
        grep -m1 -E "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
