#!/usr/bin/env bash
# Builds the program and starts it on the simulated box, with ./sim-root as the box's root (or
# the folder given), and prints one line when it is ready and where it listens. Stop it with
# Ctrl-C, or SIGTERM when it runs in the background. The build shows its progress on a
# terminal; it runs as many parallel jobs as the machine has cores, or
# CMAKE_BUILD_PARALLEL_LEVEL=N. The whole console (the box's traces) goes to
# DIR/sim/console.log; the terminal shows what the program writes to stderr and the ready line.
# With --console the terminal shows the whole console too.
# ZEM_SIM_PORT_OFFSET=N moves its ports up by N, for a second box.
# Usage: scripts/run-sim.sh [--console] [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
console=0
if [ "${1:-}" = "--console" ]; then
    console=1
    shift
fi
scripts/install-deps.sh

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
echo "building build/zemT57N with $jobs parallel jobs (CMAKE_BUILD_PARALLEL_LEVEL=N for fewer):" \
    "the first build takes about a minute or more, later ones a few seconds"
mkdir -p build
build_log=build/run-sim-build.log
built=0
start=$SECONDS
{ cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    cmake --build build -j "$jobs" --target zemT57N; } </dev/null 2>&1 | tee "$build_log" |
    show_progress || built=$?
if [ $built -ne 0 ]; then
    cat "$build_log" >&2
    echo "error: the build failed (its output is in $build_log)" >&2
    exit 1
fi
echo "built in $((SECONDS - start)) s; starting the simulated box"
root=$(realpath -m "${1:-sim-root}")
mkdir -p "$root/sim"
rm -f "$root/sim/links"  # the program writes it anew once its links are up
console_log=$root/sim/console.log
: >"$console_log"
# With a display the 320 x 240 panel opens in a window (keys S, R, Q, M, O are Left, Right,
# OK, Mode and Back); without one it renders offscreen.
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
fi
scripts/sim-ready.sh "$root" $$ &
if [ $console = 1 ]; then
    exec build/zemT57N --sim "$root" > >(tee -a "$console_log") 2> >(tee -a "$console_log" >&2)
fi
exec build/zemT57N --sim "$root" >>"$console_log" 2> >(tee -a "$console_log" >&2)
