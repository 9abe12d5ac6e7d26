#!/usr/bin/env bash
# Builds the program and starts it on the simulated box, with ./sim-root as the box's root (or
# the folder given as the first argument), and prints one line when it is ready and where it
# listens. Stop it with Ctrl-C. ZEM_SIM_PORT_OFFSET=N moves its ports up by N, for a second box.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
log=$(cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo 2>&1) || { printf '%s\n' "$log" >&2; exit 1; }
cmake --build build -j "$(nproc)" --target zemT57N
root=$(realpath -m "${1:-sim-root}")
mkdir -p "$root"
rm -f "$root/sim/links"  # the program writes it anew once its links are up
# With a display the 320 x 240 panel opens in a window (keys S, R, Q, M, O are Left, Right,
# OK, Mode and Back); without one it renders offscreen.
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
fi
scripts/sim-ready.sh "$root" $$ &
exec build/zemT57N --sim "$root"
