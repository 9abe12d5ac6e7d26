#!/usr/bin/env bash
# Builds the program and starts it on the simulated box, with DIR as the box's root: the folder
# given, else ZEM_SIM_ROOT, else ./sim-root (a relative one is taken from the folder you run the
# script in; the machine's own / is refused). It prints one line when the box is ready and where it listens. Stop it with
# Ctrl-C, or SIGTERM when it runs in the background. The build shows its progress on a
# terminal (elsewhere, tail -f DIR/sim/build.log follows it); it runs as many parallel jobs as
# the machine has cores, or CMAKE_BUILD_PARALLEL_LEVEL=N. The whole console (the box's traces) goes to
# DIR/sim/console.log; the terminal shows what the program writes to stderr and the ready line.
# With --console the terminal shows the whole console too.
# ZEM_SIM_PORT_OFFSET=N (0..51766) moves its ports up by N, for a second box.
# One box runs on a root at a time: a second start on it stops with an error, touching nothing;
# the root is held from the start's first check on, through its build.
# A build/ configured with another build type than RelWithDebInfo is configured so, saying it.
# Boxes on other roots may start together from one clone: each start builds build/ under a lock
# on it (scripts/test.sh takes it too), copies the program into DIR/sim and runs that copy; its
# build's output is in DIR/sim/build.log. SIGTERM, SIGHUP or Ctrl-C during the build end the
# build too; under nohup a hang-up ends neither the build nor the box.
# Usage: scripts/run-sim.sh [--console] [DIR]
set -euo pipefail
source "$(dirname "$0")/lib/usage.sh"
source "$(dirname "$0")/lib/box.sh"
source "$(dirname "$0")/lib/build_type.sh"
check_options scripts/run-sim.sh --console -- "$@"
console=0
dir=
dir_given=0
for arg in "$@"; do
    case $arg in
    --console) console=1 ;;
    *)
        [ $dir_given = 0 ] || fail "one DIR only, not $dir and $arg"
        dir=$arg
        dir_given=1
        ;;
    esac
done
[ $dir_given = 0 ] || [ -n "$dir" ] || fail "DIR is empty"
dir=${dir:-${ZEM_SIM_ROOT:-sim-root}}
root=$(box_root "$dir")  # from the caller's folder, before the script changes its own

# The program refuses these too, but only after the build: say it now, and make nothing.
max_offset=51766  # the highest fixed port, UDP 13769, must stay within 65535
offset=${ZEM_SIM_PORT_OFFSET:-}
if [ -n "$offset" ] && ! { [[ $offset =~ ^0*([0-9]{1,5})$ ]] &&
    ((10#${BASH_REMATCH[1]} <= max_offset)); }; then
    fail "ZEM_SIM_PORT_OFFSET=$offset: the offset must be a whole number from 0 to $max_offset"
fi
sock=$root/sim/ctl
if [ "$(LC_ALL=C; echo ${#sock})" -gt 107 ]; then
    fail "control channel $sock not opened: the path is longer than 107 bytes"
fi
# What the start makes in the root is 0644, its folders and the program's copy 0755, whatever
# the umask, as the program makes its own; build/ is the clone's, made with the user's umask.
user_umask=$(umask)
umask 022
make_root "$root"
own_sim "$root"
lock=$root/sim/lock

# The root's lock on descriptor 9, held from here on, or an error when a box or another start
# holds it. It names this process, which becomes the program; the program takes the descriptor
# over (ZEM_SIM_LOCK_FD) and holds it for its life. Nothing else started here may inherit it.
exec 9<>"$lock"
if ! flock -n 9; then
    pid=$(lock_holder "$lock")
    fail "a box${pid:+ (pid $pid)} already runs with root $root"
fi
# The pid over the one before, then the file cut to it: a reader never finds it empty.
printf '%s\n' $$ >&9
truncate -s $((${#$} + 1)) -- "$lock"

cd "$(dirname "$0")/.."
source scripts/lib/in_group.sh
scripts/install-deps.sh 9<&-

# The build's percentage on one line of a terminal; nothing elsewhere.
show_progress() {
    local line
    while IFS= read -r line; do
        [ -t 1 ] || continue
        if [[ $line =~ ^\[\ *([0-9]+)%\] ]]; then
            printf '\r  %s%%' "${BASH_REMATCH[1]}"
        elif [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]]; then
            printf '\r  %s%%' $((100 * BASH_REMATCH[1] / BASH_REMATCH[2]))
        fi
    done
    if [ -t 1 ]; then printf '\r'; fi
}
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
build_log=$root/sim/build.log
build_program() {
    umask "$user_umask"
    { scripts/configure.sh . build -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
        cmake --build build -j "$jobs" --target zemT57N; } </dev/null 2>&1 | tee "$build_log" |
        show_progress
}
: >"$build_log"
(umask "$user_umask" && mkdir -p build)
# One build of build/ at a time, and no box runs the file a build rewrites: the program is
# copied out under the same lock.
exec 8<build
if ! flock -n 8; then
    echo "waiting for another build of build/ (scripts/run-sim.sh or scripts/test.sh) to end"
    flock 8
fi
say_type_change build RelWithDebInfo
echo "building build/zemT57N with $jobs parallel jobs (CMAKE_BUILD_PARALLEL_LEVEL=N for fewer):" \
    "the first build takes minutes, later ones a few seconds"
built=0
start=$SECONDS
in_group build_program 8<&- 9<&- || built=$?
if [ $built -ne 0 ]; then
    cat "$build_log" >&2
    echo "error: the build failed (its output is in $build_log)" >&2
    exit 1
fi
program=$root/sim/zemT57N
cp -- build/zemT57N "$program.new"
mv -f -- "$program.new" "$program"  # a box that ran the old copy keeps its own
exec 8<&-
echo "built in $((SECONDS - start)) s; starting the simulated box"
rm -f "$root/sim/links"  # the program writes it anew once its links are up
console_log=$root/sim/console.log
: >"$console_log"
# With a display the 320 x 240 panel opens in a window (keys S, R, Q, M, O are Left, Right,
# OK, Mode and Back); without one it renders offscreen.
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
fi
# Started from a subshell that ends at once, so that the program this process becomes is not
# its parent: the program waits for no child, and would keep it defunct for its whole life.
# It prints the ready line and nothing else: a program that ends before it is ready says why
# itself (or, killed, the shell that started it does), or was stopped by the user (Ctrl-C,
# SIGTERM), which is no error.
(scripts/sim-ready.sh "$root" $$ 2>/dev/null 9<&- &)
export ZEM_SIM_LOCK_FD=9
# The console's copies ignore the terminal's signals (Ctrl-C reaches the whole foreground
# group) and end at their input's end: the lines the program says as it stops reach them.
copy_console() {
    trap '' INT QUIT HUP
    exec tee -a "$console_log"
}
if [ $console = 1 ]; then
    exec "$program" --sim "$root" > >(copy_console 9<&-) 2> >(copy_console >&2 9<&-)
fi
exec "$program" --sim "$root" >>"$console_log" 2> >(copy_console >&2 9<&-)
