# Sourced by the scripts' tests.

# within SECONDS COMMAND...: polls until COMMAND holds; false when it still does not after SECONDS.
within() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.1
    done
}

# Whether process PID runs (one that ended but was not reaped yet does not).
runs() {
    local state
    state=$(awk '/^State:/ { print $2 }' "/proc/$1/status" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}
