#!/usr/bin/env bash
# Configures the build folder DIR of the CMake project in SRC with Ninja, as every build of the
# scripts is made. A folder configured before with another generator (by an older clone's
# scripts, or by hand) is configured afresh, since a configured folder keeps its generator: its
# next build compiles everything once.
# Usage: scripts/configure.sh SRC DIR [cmake options]
set -euo pipefail
case ${1:-} in
-h | --help)
    sed -n '2,/^set /p' "$0" | sed '$d; s/^# \{0,1\}//'
    exit 0
    ;;
esac
# cmake's options follow SRC and DIR; an option in their place is none of this script's.
for arg in "${@:1:2}"; do
    case $arg in -*)
        echo "error: unknown option $arg (scripts/configure.sh --help says how it is used)" >&2
        exit 1
        ;;
    esac
done
[ $# -ge 2 ] || { echo "error: SRC and DIR are needed (scripts/configure.sh --help)" >&2; exit 1; }
src=$1
dir=$2
shift 2
fresh=()
cache=$dir/CMakeCache.txt
if [ -f "$cache" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache"; then
    fresh=(--fresh)
fi
exec cmake -S "$src" -B "$dir" -G Ninja "${fresh[@]}" "$@"
