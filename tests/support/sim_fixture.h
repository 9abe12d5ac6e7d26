// The base fixture of every test that touches the box: a simulated box with its own
// temporary root, so test processes can run side by side, and the panel's tick on a clock that
// moves one 10 ms tick at each call of the tick (tickStep sets more).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/box.h"
#include "platform/clock.h"
#include "platform/sim/sim_box.h"
#include "platform/sim/sim_shell.h"
#include "time_factor.h"

class SimBoxTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Releases the program's singletons that hold this case's devices, files or requests (the
    // links, the managers, the hooks into them): the next case selects a new box, and a
    // singleton kept from this one would work on freed devices or hand its state on.
    void TearDown() override;

    // A program path ("/data/x") as a path on this machine.
    std::string local(const std::string& absolute) const { return platform::path(absolute); }
    // Writes or reads a whole file by its program path.
    void writeFile(const std::string& absolute, const std::string& bytes) const;
    std::string readFile(const std::string& absolute) const;
    bool exists(const std::string& absolute) const;

    // A new, empty USB disk (a folder under the root) plugged in and mounted at /mnt/usb1, as
    // the watcher mounts it, in place of the one before: what a test then writes under
    // /mnt/usb1 is on the disk.
    void mountUsbDisk() const;
    // The disk unmounted as the watcher does it, and pulled.
    void pullUsbDisk() const;

    platform::sim::SimShell& shell() const { return platform::sim::simShell(); }
    std::vector<std::string> commands() const { return shell().commands(); }
    platform::sim::SimBox& box() const { return platform::sim::SimBox::get(); }

    // Each call of the main window's tick from now on counts `ticks` ticks, as after a main
    // thread kept busy that long.
    void tickStep(uint32_t ticks) const;
    platform::SteppingClock* tick_clock_ = nullptr;

    std::string root_;
};

// Waits until pred holds, at most ms scaled by the time factor (time_factor.h); false when it
// never did.
bool eventually(const std::function<bool()>& pred, int ms = 10000);

// A fresh temporary folder (removed by the fixture or by the caller).
std::string makeTempDir(const char* tag);
void removeTree(const std::string& dir);
// At the end of a case: the root removed when the case passed, else kept and named on stdout.
void keepRootIfFailed(const std::string& root);
