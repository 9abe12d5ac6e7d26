#!/usr/bin/env bash
# Builds the program and starts it on the simulated box, with ./sim-root as the box's root
# (or the folder given as the first argument). Stop it with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target zemT57N
root=$(realpath -m "${1:-sim-root}")
mkdir -p "$root"
echo "simulated box root: $root"
# With a display the 320 x 240 panel opens in a window (keys S, R, Q, M, O are Left, Right,
# OK, Mode and Back); without one it renders offscreen.
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
fi
exec build/zemT57N --sim "$root"
