// One box per root. The program started with --sim takes the lock DIR/sim/lock (flock, the
// file holding its pid) before it touches anything under DIR, and keeps it for its life; a
// second program on the same root, and scripts/run-sim.sh before it clears the console log,
// find it taken. The kernel lets go of it when the process ends, however it ends.
#pragma once

// 0, or 1 after one error on stderr: the root's path leaves no room for the control socket, or
// another box holds the root.
int sim_root_claim();
