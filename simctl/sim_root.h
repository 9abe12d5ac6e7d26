// One box per root. The program started with --sim takes the lock DIR/sim/lock (flock, the
// file holding its pid) before it touches anything under DIR, and keeps it for its life; a
// second program on the same root, and scripts/run-sim.sh before it touches anything there,
// find it taken. The kernel lets go of it when the process ends, however it ends. A start by
// scripts/run-sim.sh holds it through its build and the program takes its descriptor over.
#pragma once

#include <string>

// 0, or 1 after one error on stderr: the root's path leaves no room for the control socket, the
// root (made with mode 0755) is another user's or writable by others, its folder sim (made with
// mode 0700) is a symbolic link, another user's or writable by others, the lock in it is a
// symbolic link, or another box holds the root.
int sim_root_claim();

// The root as a whole path, resolved once from the folder the program starts in (links, "." and
// "..", as the scripts' realpath does): a relative link made under it later still leads there.
// 0, or 1 after one error on stderr when it is this machine's own /, where the box's paths
// ("/data", "/etc", "/dev") would be the machine's files, or when it is no folder.
int sim_root_resolve(std::string& root);
