# Sourced by scripts/test.sh and the scripts' tests: ZEM_TEST_TIME_FACTOR read as every reader
# of it reads it (the tests' programs, ctest's limits): a decimal number of at least 1, below a
# billion, with at most 3 decimals, 1 when unset or empty; anything else is refused with one line.

# time_factor_thousandths: the factor in thousandths (1500 for 1.5), or its error line on stderr
# and status 1. Whole numbers, so that every reader scales a bound alike.
time_factor_thousandths() {
    local f=${ZEM_TEST_TIME_FACTOR:-1} fraction
    if [[ $f =~ ^([0-9]{1,9})(\.([0-9]{1,3}))?$ ]]; then
        fraction=${BASH_REMATCH[3]}000
        local th=$((10#${BASH_REMATCH[1]} * 1000 + 10#${fraction:0:3}))
        if ((th >= 1000)); then
            echo "$th"
            return
        fi
    fi
    echo "error: ZEM_TEST_TIME_FACTOR=$f: the factor must be a number of at least 1," \
        "below a billion, with at most 3 decimals" >&2
    return 1
}
