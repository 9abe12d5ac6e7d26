# Sourced by the scripts. A script's usage is its header comment, from its second line up to
# the "set -euo pipefail" line.
usage() {
    sed -n '2,/^set /p' "$0" | sed '$d; s/^# \{0,1\}//'
}

fail() {
    echo "error: $*" >&2
    exit 1
}

# take_help ARGS...: --help or -h among ARGS prints the usage and exits with status 0.
take_help() {
    local arg
    for arg in "$@"; do
        case $arg in -h | --help)
            usage
            exit 0
            ;;
        esac
    done
}

# refuse_option NAME OPTION: the error for an option the script (called as NAME) does not take.
refuse_option() {
    fail "unknown option $2 ($1 --help says how it is used)"
}

# check_options NAME [OPTION...] -- ARGS...: take_help, then a word of ARGS that starts with "-"
# and is no OPTION is refused, before the script does anything.
check_options() {
    local name=$1 known=" " arg
    shift
    while [ "$1" != -- ]; do
        known+="$1 "
        shift
    done
    shift
    take_help "$@"
    for arg in "$@"; do
        [[ $arg != -* || $known == *" $arg "* ]] || refuse_option "$name" "$arg"
    done
}

# no_words NAME ARGS...: for a script that takes options only, a word of ARGS that is no option
# is an error line, then the usage, on stderr.
no_words() {
    local name=$1 arg
    shift
    for arg in "$@"; do
        [[ $arg != -* ]] || continue
        echo "error: unexpected word $arg ($name takes options only)" >&2
        usage >&2
        exit 1
    done
}
