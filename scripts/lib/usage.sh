# Sourced by the scripts. A script's usage is its header comment, from its second line up to
# the "set -euo pipefail" line.
usage() {
    sed -n '2,/^set /p' "$0" | sed '$d; s/^# \{0,1\}//'
}

fail() {
    echo "error: $*" >&2
    exit 1
}

# check_options NAME [OPTION...] -- ARGS...: --help or -h among ARGS prints the usage and exits
# with status 0; a word of ARGS that starts with "-" and is no OPTION is refused (NAME is how
# the script is called), before the script does anything.
check_options() {
    local name=$1 known=" " arg
    shift
    while [ "$1" != -- ]; do
        known+="$1 "
        shift
    done
    shift
    for arg in "$@"; do
        case $arg in -h | --help)
            usage
            exit 0
            ;;
        esac
    done
    for arg in "$@"; do
        if [[ $arg == -* && $known != *" $arg "* ]]; then
            fail "unknown option $arg ($name --help says how it is used)"
        fi
    done
}
