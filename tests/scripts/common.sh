# Sourced by the scripts' tests.

# within SECONDS COMMAND...: polls until COMMAND holds; false when it still does not after SECONDS
# times ZEM_TEST_TIME_FACTOR (a bound that only catches a hang: scripts/test.sh and a person on
# a slow machine raise it; 1 when unset or not a number of at least 1).
within() {
    local end=$((SECONDS + $(awk -v s="$1" -v f="${ZEM_TEST_TIME_FACTOR:-1}" \
        'BEGIN { f += 0; if (f < 1) f = 1; t = s * f; printf "%d", t == int(t) ? t : int(t) + 1 }')))
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
