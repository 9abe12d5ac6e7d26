#!/usr/bin/env bash
# Starts whose build is a stub cmake that "builds" until the test lets it end (the program they
# then run is build/zemT57N, which boxes_together_test.sh built):
# - two starts on one root: the one building holds the root, so the other is refused at once,
#   and the box that then serves keeps its own program and build log, and no child;
# - scripts/run-sim.sh or scripts/test.sh told to stop (SIGTERM, SIGHUP) while it builds ends
#   its build and frees build/'s lock (and the root) within seconds; under nohup a hang-up stops
#   neither the build nor the box, and the docs' nohup example works on a new DIR under umask
#   022 and 002;
# - Ctrl-C on a terminal (a pseudo-terminal) still brings the box's last lines to the terminal
#   and console.log;
# - Ctrl-C while the box starts up (its program a stub that waits until the test lets it go, put
#   in place by a stub cp) is no error: the start's own scripts/sim-ready.sh, which waits for
#   the box, says nothing when the program ends.
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
# The start's own sim-ready, which printed the ready line, is no child of the box's (the
# box's children are the copies of its console).
! ps -o args= --ppid "$first" | grep -q sim-ready ||
    failed "the box's children: $(ps -o pid,stat,args --ppid "$first")"
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
kill -TERM "$started"
within 20 ended "$started" || failed "nohup: the box still runs after SIGTERM"
wait "$started" || true

# The docs' nohup example, pasted with a new DIR under umask 022 and 002: the box starts on a
# root of mode 0755, and the log the example names holds its ready line.
examples=$(grep -ho 'nohup scripts/run-sim.sh DIR [^`#]*&' README.md docs/simulated-box.md |
    sort -u)
[ -n "$examples" ] || failed "no nohup example in README.md or docs/simulated-box.md"
n=0
while IFS= read -r example; do
    for mask in 022 002; do
        root=$tmp/example-$((++n))
        [ ! -e "$root" ] || failed "$root is not new"
        pasted=${example//DIR/$root}
        log=${pasted#*>}
        log=${log%% *}
        user_mask=$(umask)
        umask "$mask"
        eval "STUB_FOR=example ZEM_SIM_PORT_OFFSET=$offset $pasted"
        started=$!
        umask "$user_mask"
        pids+=("$started")
        ready=$(scripts/sim-ready.sh "$root" "$started" 2>&1) ||
            failed "$example under umask $mask: $ready"
        [ "$(stat -c %a "$root")" = 755 ] ||
            failed "$example under umask $mask: a root of mode $(stat -c %a "$root")"
        within 10 grep -q '^simulated box ready: ' "$log" ||
            failed "$example under umask $mask: no ready line in $log"
        kill -TERM "$started"
        within 20 ended "$started" || failed "$example under umask $mask: the box still runs"
        wait "$started" || true
    done
done <<<"$examples"

# Ctrl-C on a terminal, with and without --console: the line the box says as it stops, the
# count of the refused LED sizes it held back, reaches the terminal and console.log.
pc_frame() {  # pc_frame BODY...: the frame of a PC body (hex bytes), or false when it needs escapes
    local b check=0
    for b in "$@"; do check=$((check ^ 16#$b)); done
    printf -v check '%02X' "$check"
    [[ " $* $check " != *" A5 "* && " $* $check " != *" 5A "* &&
        " $* $check " != *" A6 "* && " $* $check " != *" 5B "* ]] || return 1
    printf "$(printf '\\x%s' A5 A5 A5 "$@" "$check" 5A)"
}
refused_sizes() {  # writes of 50 LED sizes the box refuses, each applied by register 11
    local i w head="00 F1 10 F0 00 00 00 00 00"
    for i in $(seq 50); do
        w=$((65000 + i))
        pc_frame $head 60 60 05 00 00 06 00 00 00 04 00 \
            $(printf '%02X %02X' $((w & 255)) $((w >> 8))) FF FF || continue
        pc_frame $head 60 84 05 00 00 04 00 00 00 FF FF FF FF
        pc_frame $head A0 0B FF 01 00
    done
}
mkfifo "$tmp/keys"
exec 6<>"$tmp/keys"
for console in "" --console; do
    root=$tmp/terminal$console
    port_offset=$((offset + 1 + ${#console}))
    # Started in the background, the terminal's start would inherit an ignored SIGINT.
    STUB_FOR=terminal ZEM_SIM_PORT_OFFSET=$port_offset env --default-signal=INT \
        script -qfec "scripts/run-sim.sh $console $root" /dev/null <"$tmp/keys" \
        >"$tmp/out-terminal$console" 2>&1 7>&- &
    started=$!
    pids+=("$started")
    within 60 scripts/sim-ready.sh "$root" >/dev/null 2>&1 || failed "terminal$console: no box"
    refused_sizes | socat -t 5 - "TCP:127.0.0.1:$((5005 + port_offset))" >/dev/null
    printf '\003' >&6  # Ctrl-C
    within 20 ended "$started" || failed "terminal$console: the box still runs after Ctrl-C"
    for out in "$tmp/out-terminal$console" "$root/sim/console.log"; do
        grep -q "LED size .* of this kind since the last line shown)" "$out" ||
            failed "terminal$console: no count of the sizes held back in $out"
    done
done
exec 6>&-

# Ctrl-C during the start-up: to the start's whole process group, as a terminal sends it.
startup=$tmp/startup
mkdir "$startup"
real_cp=$(command -v cp)
cat >"$startup/cp" <<STUB
#!/bin/sh
# The copy of the program a stub that starts up until the test lets it go.
if [ "\$1 \$2" = "-- build/zemT57N" ]; then
    printf '#!/bin/sh\necho started >"%s"\nexec flock -s -w 120 "%s" true\n' \
        "$startup/started" "$startup/hold" >"\$3"
    chmod +x "\$3"
    exit
fi
exec "$real_cp" "\$@"
STUB
chmod +x "$startup/cp"
exec 5>"$startup/hold"
flock 5
root=$tmp/startup-root
# A process group of its own, which the Ctrl-C reaches whole; the start's own sim-ready runs in
# the background there, ignoring it, as it does under a terminal.
PATH="$startup:$PATH" ZEM_SIM_PORT_OFFSET=$offset setsid env --default-signal=INT \
    scripts/run-sim.sh "$root" </dev/null >"$tmp/out-startup" 2>&1 5>&- 7>&- &
started=$!
pids+=("$started")
within 60 test -e "$startup/started" || failed "startup: the program never started"
disown "$started"
kill -INT -- "-$started"
within 10 ended "$started" || failed "startup: the start still runs after Ctrl-C"
# The start's session, its own sim-ready with it, has ended (the start itself may be unreaped).
session_ended() { ! ps -o stat= -s "$started" | grep -qv '^Z'; }
within 20 session_ended || failed "startup: $(ps -o pid,stat,args -s "$started")"
! grep -q "error" "$tmp/out-startup" || failed "startup: an error after Ctrl-C"
exec 5>&-
echo "passed: starts with a stub build"
