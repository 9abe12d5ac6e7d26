#!/usr/bin/env bash
# Starts whose build is a stub cmake that "builds" until the test lets it end (the program they
# then run is build/zemT57N, which boxes_together_test.sh built):
# - two starts on one root: the one building holds the root, so the other is refused at once,
#   and the box that then serves keeps its own program and build log;
# - scripts/run-sim.sh or scripts/test.sh told to stop (SIGTERM, SIGHUP) while it builds ends
#   its build and frees build/'s lock (and the root) within seconds; under nohup a hang-up stops
#   neither the build nor the box.
# Usage: tests/scripts/stub_build_test.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/usage.sh
check_options tests/scripts/stub_build_test.sh -- "$@"
source tests/scripts/common.sh
scripts_test stub-build "starts with a stub build"
stubs=$tmp/stubs
also_stop=$stubs/building
[ -x build/zemT57N ] || failed "no build/zemT57N: tests/scripts/run.sh builds it first"

mkdir "$stubs"
cat >"$stubs/cmake" <<'STUB'
#!/bin/sh
echo "stub cmake $* for $STUB_FOR"
echo $$ >>"$STUBS/building"
# Builds while the test holds the lock; bounded, so that a stub the test never lets go can't
# outlive it for long.
flock -s -w 120 "$STUBS/hold" true
STUB
chmod +x "$stubs/cmake"
export PATH="$stubs:$PATH" STUBS=$stubs QT_QPA_PLATFORM=offscreen
offset=$((20000 + RANDOM % 2000 * 10))  # loopback ports 25005.. up to 58779 at most
# The stub's builds last while this shell holds the hold file's lock.
exec 7>"$stubs/hold"
hold_builds() { flock 7; }
let_builds_end() { flock -u 7; }
hold_builds

# start NAME COMMAND...: COMMAND in the background, its output in $tmp/out-NAME and its
# process in $started; the stub's builds are marked NAME. A hang-up reaches COMMAND even when
# this test runs under nohup (COMMAND would inherit the ignored signal).
start() {
    local name=$1
    shift
    STUB_FOR=$name ZEM_SIM_PORT_OFFSET=$offset env --default-signal=HUP "$@" </dev/null \
        >"$tmp/out-$name" 2>&1 7>&- &
    started=$!
    pids+=("$started")
}
building() { [ -s "$stubs/building" ]; }
ended() { ! runs "$1"; }
builds_ended() {
    local p
    for p in $(cat "$stubs/building"); do ! runs "$p" || return 1; done
}
free() { flock -n "$1" true; }

# Two starts on one root.
root=$tmp/one-root
start first scripts/run-sim.sh "$root"
first=$started
within 60 building || failed "the first start never built"
start second scripts/run-sim.sh "$root"
within 60 ended "$started" || failed "the second start was not refused while the first built"
status=0
wait "$started" || status=$?
expected="error: a box (pid $first) already runs with root $root"
[ "$status" = 1 ] && [ "$(cat "$tmp/out-second")" = "$expected" ] ||
    failed "the second start: status $status"
let_builds_end
ready=$(scripts/sim-ready.sh "$root" "$first" 2>&1) || failed "the first start: $ready"
[ "$(readlink "/proc/$first/exe")" = "$root/sim/zemT57N" ] ||
    failed "the box runs $(readlink "/proc/$first/exe")"
grep -q "for first" "$root/sim/build.log" && ! grep -q "for second" "$root/sim/build.log" ||
    failed "the box's build log was rewritten: $(cat "$root/sim/build.log")"
kill -TERM "$first"
wait "$first" || true

# Told to stop while building: the build ends, build/'s lock and the root are free.
for run in "run-sim.sh TERM" "run-sim.sh HUP" "test.sh TERM" "test.sh HUP"; do
    read -r script signal <<<"$run"
    hold_builds
    rm -f "$stubs/building"
    root=$tmp/stopped-$script-$signal
    if [ "$script" = run-sim.sh ]; then
        start "$script-$signal" scripts/run-sim.sh "$root"
    else
        start "$script-$signal" scripts/test.sh
    fi
    within 60 building || failed "$run: no build"
    disown "$started"  # the shell would report the signal that ends it
    kill "-$signal" "$started"
    within 10 ended "$started" || failed "$run: the script still runs"
    within 10 builds_ended || failed "$run: the build still runs"
    within 10 free build || failed "$run: build/ is still locked"
    [ "$script" = test.sh ] || within 10 free "$root/sim/lock" || failed "$run: the root is held"
done

# Under nohup a hang-up ends neither the build nor the box.
hold_builds
rm -f "$stubs/building"
root=$tmp/nohup
start nohup nohup scripts/run-sim.sh "$root"
within 60 building || failed "nohup: no build"
kill -HUP "$started"
let_builds_end
ready=$(scripts/sim-ready.sh "$root" "$started" 2>&1) || failed "nohup: $ready"
echo "passed: starts with a stub build"
