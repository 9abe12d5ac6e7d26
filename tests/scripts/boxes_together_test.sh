#!/usr/bin/env bash
# Five boxes started half a second apart from one clone, each with its own root and port offset
# (loopback only): each start builds build/ in turn, runs its own copy of the program, keeps its
# own build log and serves. No start may run the file another start's build rewrites: a source
# touched before each start makes every build relink build/zemT57N. Box 1, started under umask
# 002, makes its files 0644 and its folders 0755 all the same.
# Usage: tests/scripts/boxes_together_test.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/usage.sh
check_options tests/scripts/boxes_together_test.sh -- "$@"
source tests/scripts/common.sh
scripts_test boxes "boxes started together"

base=$((20000 + RANDOM % 2000 * 10))  # ports 25005.. up to 58779 at most, all on loopback
# The lock scripts/test.sh holds while it builds build/ and runs its tests: the first start
# waits for it, and builds nothing meanwhile.
exec 7<build
flock 7
for i in 1 2 3 4 5; do
    touch core/main.cpp
    mask=022
    [ $i != 1 ] || mask=002
    ZEM_SIM_PORT_OFFSET=$((base + 10 * i)) QT_QPA_PLATFORM=offscreen \
        CMAKE_BUILD_PARALLEL_LEVEL=2 bash -c 'umask "$1" && exec scripts/run-sim.sh "$2"' _ \
        "$mask" "$tmp/box$i" </dev/null >"$tmp/out$i" 2>&1 7<&- &
    pids+=($!)  # run-sim.sh becomes the program
    if [ $i = 1 ]; then
        # It first installs what is missing, which takes a while on a loaded machine.
        within 60 grep -qs "^waiting for another build of build/" "$tmp/out1" ||
            failed "box 1 did not wait"
        ! grep -q "^building" "$tmp/out1" || failed "box 1 built while build/ was locked"
        exec 7<&-
    fi
    sleep 0.5  # unscaled: the starts' spacing, what the test tries
done
for i in 1 2 3 4 5; do
    ready=$(scripts/sim-ready.sh "$tmp/box$i" "${pids[i - 1]}" 2>&1) || failed "box $i: $ready"
    tcp=$((5005 + base + 10 * i))
    [[ $ready == "simulated box ready: TCP 127.0.0.1:$tcp,"* ]] || failed "box $i: $ready"
    answer=$(scripts/sim-ctl.sh "$tmp/box$i" status 2>&1) || failed "box $i: $answer"
    [[ $answer == "fpga thread: "* ]] || failed "box $i: $answer"
    # A start whose sources an earlier start's build already took builds nothing.
    grep -qE "zemT57N|no work to do" "$tmp/box$i/sim/build.log" ||
        failed "box $i: no build log of its own"
    [ "$(readlink "/proc/${pids[i - 1]}/exe")" = "$tmp/box$i/sim/zemT57N" ] ||
        failed "box $i runs $(readlink "/proc/${pids[i - 1]}/exe")"
done
stop_all
for i in 1 2 3 4 5; do
    [ ! -e "$tmp/box$i/sim/ctl" ] || failed "box $i did not stop cleanly"
done
# The box's own folders are 0700, the program's copy 0755.
modes=$(cd "$tmp/box1" && find . \( \( -type d ! -perm 0755 ! -path ./sim ! -path ./sim/runtime \) \
    -o \( -type f ! -perm 0644 ! -path ./sim/zemT57N \) \) -printf '%m %p\n')
[ -z "$modes" ] || failed "box 1 under umask 002 made: $modes"
echo "passed: boxes started together"
