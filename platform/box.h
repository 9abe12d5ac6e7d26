// Which box the program runs on, chosen once at start: the real devices of the box, or the
// simulated box with its chip models. Every absolute path of the program goes through path().
#pragma once

#include <string>

namespace platform {

// Unselected until main or a test fixture chooses: then no device opens and no command runs.
enum class Backend { Unselected, Linux, Simulated };

// The box: devices under "/dev", files under "/". Call once, before anything opens a device.
void selectLinux();
// The simulated box: every absolute path resolves under root (created when missing), every
// shell command is recorded instead of run, devices are the chip models of platform/sim.
// Tests may call it again to start over with a new root.
void selectSimulated(const std::string& root);
// The same in two steps, for a start that first claims the root: the root alone (paths resolve
// under it, nothing is made or touched), then the box starting over, which makes the root and
// clears what a box before left under it (its USB disk among them).
void selectSimulatedRoot(const std::string& root);
void startSimulatedBox();

Backend backend();
bool simulated();
// The box's own devices were chosen (selectLinux).
bool onBox();

// The root prefix: empty on the box, a folder on the simulated box.
const std::string& root();

// An absolute path of the program ("/data/ram_device_info") as a path on this machine.
std::string path(const std::string& absolute);
// The other way: a path on this machine under the root as the program names it, for the lines
// the box prints; other paths as they are.
std::string boxPath(const std::string& local);

// Creates the folders of an absolute program path's parent (mkdir -p); 0 or -errno.
int makeParentDirs(const std::string& absolute);
// The same for a folder of this machine and those above it: each one made gets mode 0755
// whatever the umask.
int makeDirs(const std::string& local);

}  // namespace platform
