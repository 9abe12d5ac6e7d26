# Sourced by the scripts' tests.

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/time_factor.sh"
time_factor=$(time_factor_thousandths) || exit 1

# within SECONDS COMMAND...: polls until COMMAND holds; false when it still does not after SECONDS
# times ZEM_TEST_TIME_FACTOR (a bound that only catches a hang: scripts/test.sh and a person on
# a slow machine raise it; 1 when unset).
within() {
    local end=$((SECONDS + $(scaled_seconds "$1")))
    shift
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.1  # unscaled: a pause
    done
}

# scaled_seconds SECONDS: SECONDS times ZEM_TEST_TIME_FACTOR, rounded up.
scaled_seconds() {
    echo $((($1 * time_factor + 999) / 1000))
}

# Whether process PID runs (one that ended but was not reaped yet does not).
runs() {
    local state
    state=$(awk '/^State:/ { print $2 }' "/proc/$1/status" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

# scripts_test NAME TITLE: the test's temporary folder, $tmp (zem-NAME.XXXXXX), removed at exit
# after every process in $pids, and each one listed in the file $also_stop when it is set, has
# been stopped. failed TEXT... then says "FAILED: TITLE: TEXT" with the output of the test's
# background commands ($tmp/out*) and exits with status 1.
scripts_test() {
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/zem-$1.XXXXXX")
    test_title=$2
    pids=()
    trap 'stop_all; rm -rf "$tmp"' EXIT
}
stop_all() {
    local p
    for p in "${pids[@]}" $(cat "${also_stop:-/dev/null}" 2>/dev/null); do
        kill -TERM "$p" 2>/dev/null || true
    done
    wait || true
}
failed() {
    echo "FAILED: $test_title: $*" >&2
    for f in "$tmp"/out*; do echo "--- $f" >&2; cat "$f" >&2; done
    exit 1
}
