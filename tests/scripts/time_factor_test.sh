#!/usr/bin/env bash
# ZEM_TEST_TIME_FACTOR read one way by all its readers: scripts/test.sh's rule
# (scripts/lib/time_factor.sh), the scripts' tests' waits (tests/scripts/common.sh), a test
# program's bounds (tests/support/time_factor.cpp) and ctest's limit per case
# (tests/scale_timeouts.cmake.in). Each factor of the table scales the 120 s limit to the same
# whole seconds in all four, or is refused by all four with one error line (build/ as
# tests/scripts/run.sh leaves it).
# Usage: tests/scripts/time_factor_test.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/usage.sh
check_options tests/scripts/time_factor_test.sh -- "$@"
source tests/scripts/common.sh
scripts_test time-factor "the time factor"
[ -x build/tests/core_tests ] || failed "no build/tests/core_tests: build/ is built first"

# factor, then the 120 s limit it gives, or "refused".
table=(
    "" 120
    1 120
    1.5 180
    1.001 121
    2.25 270
    6.000 720
    000000002 240
    100000 12000000
    1.2345 refused
    1e2 refused
    0x10 refused
    1,5 refused
    0.5 refused
    0.999 refused
    0 refused
    1. refused
    .5 refused
    -2 refused
    " 2" refused
    inf refused
    1000000000 refused
)
refusal() {
    echo "error: ZEM_TEST_TIME_FACTOR=$1: the factor must be a number of at least 1, below a" \
        "billion, with at most 3 decimals"
}

# Each reader prints the limit, or fails with its error on stderr.
by_test_sh() { bash -c 'source scripts/lib/time_factor.sh && th=$(time_factor_thousandths) &&
                        echo $(((120 * th + 999) / 1000))'; }
by_scripts_tests() { bash -c 'source tests/scripts/common.sh && scaled_seconds 120'; }
by_test_program() {
    local out
    out=$(build/tests/core_tests --gtest_filter=TimeFactor.ScalesTheCaseLimit) || return
    sed -n 's/^120 s scaled: \([0-9]*\) s$/\1/p' <<<"$out"
}
# ctest follows the line with the stack of the file that refused.
by_ctest() {
    local out
    out=$(ctest --test-dir build --show-only=json-v1 -R '^TimeFactor\.ScalesTheCaseLimit$' 2>&1)
    if grep -F "error: ZEM_TEST_TIME_FACTOR" <<<"$out" >&2; then return 1; fi
    tr -d ' \n' <<<"$out" | grep -oE '"name":"TIMEOUT","value":[0-9]+' | grep -oE '[0-9]+$'
}

for ((i = 0; i < ${#table[@]}; i += 2)); do
    factor=${table[i]} expected=${table[i + 1]}
    for reader in by_test_sh by_scripts_tests by_test_program by_ctest; do
        status=0
        out=$(ZEM_TEST_TIME_FACTOR=$factor $reader 2>"$tmp/err") || status=$?
        err=$(cat "$tmp/err")
        if [ "$expected" = refused ]; then
            [ $status != 0 ] && [ "$err" = "$(refusal "$factor")" ] ||
                failed "$reader took '$factor' (status $status, printed '$out', said '$err')"
        else
            [ $status = 0 ] && [ "$out" = "$expected" ] ||
                failed "$reader gave '$out' for '$factor', not $expected (status $status: $err)"
        fi
    done
done
echo "passed: the time factor"
