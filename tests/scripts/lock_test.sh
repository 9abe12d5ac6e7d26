#!/usr/bin/env bash
# scripts/sim-ready.sh DIR PID and the root's lock, DIR/sim/lock (the program it starts is
# build/zemT57N, which boxes_together_test.sh built):
# - a pid in the lock counts only while that process has the lock file open: one naming a
#   process that runs but holds nothing (a box that ended left its pid, and another program got
#   the number), even the one asked about, stops no wait, and the README's "run-sim.sh DIR & sim-ready.sh DIR $!" works
#   with it; one naming a process that holds the file stops the wait at once;
# - a start writes its pid over the one before, then cuts the file to it: a reader that comes
#   between the two (a stub truncate holds the start there for longer than sim-ready's 10 s)
#   takes the first line, the start's, and waits on for its box.
# Usage: tests/scripts/lock_test.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/usage.sh
check_options tests/scripts/lock_test.sh -- "$@"
source tests/scripts/common.sh
scripts_test lock "the root's lock"
stubs=$tmp/stubs
[ -x build/zemT57N ] || failed "no build/zemT57N: tests/scripts/run.sh builds it first"
export QT_QPA_PLATFORM=offscreen
offset=$((20000 + RANDOM % 2000 * 10))  # loopback ports 25005.. up to 58779 at most

# background NAME COMMAND...: COMMAND in the background, its output in $tmp/out-NAME, its
# process in $started.
background() {
    local name=$1
    shift
    "$@" </dev/null >"$tmp/out-$name" 2>&1 &
    started=$!
    pids+=("$started")
}
# lock_naming ROOT PID: ROOT's lock, as a box that ended left it, naming PID.
lock_naming() {
    (umask 022 && mkdir -p "$1/sim")
    echo "$2" >"$1/sim/lock"
}
# expect_output NAME PID TEXT: the background command NAME, process PID, ended with status 1
# and printed TEXT.
expect_output() {
    local name=$1 status=0
    wait "$2" || status=$?
    [ "$(cat "$tmp/out-$name")" = "$3" ] && [ $status = 1 ] ||
        failed "$name: status $status, expected: $3"
}

# Processes that run: one holding nothing, one holding a root's lock file open.
background idle sleep infinity
idle=$started
background asker sleep infinity
asker=$started
held=$tmp/held
(umask 022 && mkdir -p "$held/sim")
background holder bash -c 'exec 5<>"$1/sim/lock"; : >"$1/open"; exec sleep infinity' _ "$held"
holder=$started
within 60 test -e "$held/open" || failed "the holder never opened the lock"

# A lock naming the idle process: no start of the asker holds the root, after 10 s.
stale=$tmp/stale
lock_naming "$stale" "$idle"
background stale timeout 60 scripts/sim-ready.sh "$stale" "$asker"
stale_reader=$started
# A lock naming the asked process itself, which holds nothing (a box that ended left its pid,
# and the number names another program now): no box of it either, after 10 s.
named=$tmp/named
lock_naming "$named" "$idle"
background named timeout 60 scripts/sim-ready.sh "$named" "$idle"
named_reader=$started
# A lock naming the holder: at once.
lock_naming "$held" "$holder"
out=$(timeout 60 scripts/sim-ready.sh "$held" "$asker" 2>&1) && failed "held: $out"
[ "$out" = "error: the box with root $held is process $holder, not $asker" ] ||
    failed "held: $out"

# The README's start with the idle process's pid left in the lock.
readme=$tmp/readme
lock_naming "$readme" "$idle"
background readme-box env ZEM_SIM_PORT_OFFSET=$offset scripts/run-sim.sh "$readme"
ready=$(timeout 600 scripts/sim-ready.sh "$readme" "$started" 2>&1) ||
    failed "run-sim.sh DIR & sim-ready.sh DIR \$!: $ready"
[[ $ready == "simulated box ready: "* ]] || failed "the README's start: $ready"
kill -TERM "$started"
wait "$started" || true

# A reader between a start's write and its cut.
mkdir "$stubs"
real_truncate=$(command -v truncate)
cat >"$stubs/truncate" <<STUB
#!/bin/sh
case "\$*" in *"/sim/lock")
    echo cutting >"$stubs/cutting"
    flock -s -w 120 "$stubs/hold" true ;;
esac
exec "$real_truncate" "\$@"
STUB
chmod +x "$stubs/truncate"
exec 7>"$stubs/hold"
flock 7
racing=$tmp/racing
lock_naming "$racing" 99999999999  # longer than any pid: its end trails the start's pid
background racing-box env PATH="$stubs:$PATH" ZEM_SIM_PORT_OFFSET=$((offset + 10)) \
    scripts/run-sim.sh "$racing" 7>&-
start=$started
within 60 test -s "$stubs/cutting" || failed "the start wrote its pid without cutting the lock"
[ "$(head -n 1 "$racing/sim/lock")" = "$start" ] ||
    failed "the lock before the cut: $(cat "$racing/sim/lock")"
# The reader's trace shows when it took the root as the start's: it looks for the links next.
background racing-reader env BASH_XTRACEFD=9 bash -x scripts/sim-ready.sh "$racing" "$start" \
    7>&- 9>"$tmp/racing-trace"
reader=$started
within 60 grep -qF -- "-s $racing/sim/links" "$tmp/racing-trace" ||
    failed "sim-ready did not take the start's pid from the lock before the cut"
runs "$reader" || failed "sim-ready stopped while the start was between its write and its cut"
flock -u 7
wait "$reader" || failed "sim-ready after the cut"
[[ $(cat "$tmp/out-racing-reader") == "simulated box ready: "* ]] || failed "the racing reader"
[ "$(cat "$racing/sim/lock")" = "$start" ] || failed "the lock after the cut"

expect_output named "$named_reader" \
    "error: process $idle starts no box with root $named (it does not hold $named/sim/lock open)"
expect_output stale "$stale_reader" \
    "error: process $asker starts no box with root $stale ($stale/sim/lock does not name it)"
echo "passed: the root's lock"
