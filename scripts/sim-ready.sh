#!/usr/bin/env bash
# Prints one line saying where the running program on the simulated box with root DIR listens:
# the TCP and UDP ports, the serial pseudo-terminals and the root. The box runs when its control
# channel (the Unix socket DIR/sim/ctl) answers; the program writes DIR/sim/links once its links
# are up and removes both at a clean exit.
# With PID (the program's process, or scripts/run-sim.sh's, which becomes the program after its
# build), waits until that box is ready, however long a first build takes, and gives up when
# the process ends, or at once when the root's lock (DIR/sim/lock) names another process that
# holds it open, or after 10 s when the lock still does not name PID or PID does not hold it open
# (no start of PID holds DIR);
# without it, reports a box that runs now, or says that none does. A box that holds the root but
# does not answer (stopped) is an error in both forms, within 10 s, and so is one that ends as
# it is found ready ("the box with root DIR ended").
# A relative DIR is taken from the folder you run the script in.
# Errors print "error: ..." and exit with status 1.
# Usage: scripts/sim-ready.sh DIR [PID]
set -euo pipefail
source "$(dirname "$0")/lib/usage.sh"
source "$(dirname "$0")/lib/box.sh"
usage="usage: scripts/sim-ready.sh DIR [PID]"
check_options scripts/sim-ready.sh -- "$@"
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "$usage" >&2
    exit 1
fi
root=$(box_root "$1")
pid=${2:-}
[ $# -lt 2 ] || [[ $pid =~ ^[0-9]+$ ]] || fail "PID $pid is not a process number ($usage)"
links=$root/sim/links
sock=$root/sim/ctl
lock=$root/sim/lock
command -v socat >/dev/null || fail "socat is missing: scripts/install-deps.sh installs it"

# channel: "answers" when the box takes a command on its control socket within 5 s (it says
# "taken" before it runs it, however busy its panel), "silent" when something holds the socket
# open but says nothing or takes no connection (a stopped box), "none" when nothing listens there.
channel() {
    local answer status=0
    [[ -S $sock ]] || status=1
    ((status)) || answer=$(ask_box "$root" 5 "@$(deadline_ms 5) status") || status=$?
    case $status in
    0) if [[ -n $answer ]]; then echo answers; else echo silent; fi ;;
    2) echo silent ;;
    *) echo none ;;
    esac
}

silent() {  # the error for a box that holds the root and does not answer
    local holder
    holder=$(lock_holder "$lock")
    if [[ $holder =~ ^[0-9]+$ ]] && holds_lock "$holder" "$lock"; then
        fail "a box (process $holder) holds root $root and does not answer"
    fi
    fail "a box holds root $root and does not answer"
}

if [[ -z $pid ]]; then
    case $(channel) in
    silent) silent ;;
    none) fail "no box runs with root $root" ;;
    esac
fi
# Whether the root is PID's: its start names itself in the lock as it takes it, and holds it on.
# A process named there holds the root only while it has the lock open; a pid left by a box
# that ended does not, whatever runs under that number now (PID itself included).
root_is_pids() {
    local holder
    holder=$(lock_holder "$lock")
    if [[ $holder == "$pid" ]]; then
        holds_lock "$pid" "$lock" && return
    elif [[ $holder =~ ^[0-9]+$ ]] && holds_lock "$holder" "$lock"; then
        fail "the box with root $root is process $holder, not $pid"
    fi
    if ((SECONDS - start >= 10)); then
        [[ $holder != "$pid" ]] ||
            fail "process $pid starts no box with root $root (it does not hold $lock open)"
        fail "process $pid starts no box with root $root ($lock does not name it)"
    fi
    return 1
}

start=$SECONDS
while :; do
    if [[ -n $pid ]] && ! kill -0 "$pid" 2>/dev/null; then
        fail "the program (process $pid) ended before the box with root $root was ready"
    fi
    if { [[ -z $pid ]] || root_is_pids; } && [[ -s $links ]] && [[ ! -L $links ]]; then
        case $(channel) in
        answers) break ;;
        silent) silent ;;
        esac
    fi
    if [[ -z $pid ]] && ((SECONDS - start >= 120)); then
        fail "the box with root $root is not ready after 2 minutes"
    fi
    sleep 0.1
done

# What the box wrote, each file read once and never through a link (the box writes none there):
# the serial ports first, since a box that ends removes them after the links, so that a box
# found ready by its links was ready with its serial ports.
# A box that ended since it answered has removed its links: it is said to have ended, never
# taken for one that listens nowhere.
ports=$root/sim/serial-ports
if [[ -L $ports ]]; then
    serial="serial: not known ($ports is a symbolic link)"
else
    serial=$(read_own "$ports" | awk '{ printf "%s%s at %s", sep, $1, $2; sep = ", " }' || true)
    serial="serial ${serial:-none}"
fi
listening=$(read_own "$links") || fail "the box with root $root ended"
where() {  # where <link>: "127.0.0.1:port", or "not listening"
    local port
    port=$(awk -v l="$1" '$1 == l { print $2 }' <<<"$listening")
    if [[ -z $port || $port == none ]]; then echo "not listening"; else echo "127.0.0.1:$port"; fi
}

echo "simulated box ready: TCP $(where tcp), UDP $(where udp), WiFi text UDP $(where wifi)," \
    "$serial, root $root"
