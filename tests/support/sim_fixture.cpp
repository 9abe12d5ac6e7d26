#include "sim_fixture.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "c331/c331_manage.h"
#include "comm/comm_hooks.h"
#include "comm/comm_links.h"
#include "comm/usb_server.h"
#include "fpga/fpga_manage.h"
#include "platform/clock.h"
#include "simctl/sim_control.h"
#include "time_factor.h"
#include "video_io/raviksource.h"

std::string makeTempDir(const char* tag) {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/zem-" + tag + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) return {};
    return buf.data();
}

bool eventually(const std::function<bool()>& pred, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(hangMs(ms));
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // unscaled: a pause
    }
    return pred();
}

void SimBoxTest::tickStep(uint32_t ticks) const {
    tick_clock_->setStepUs(ticks * platform::SteppingClock::kPeriodUs);
}

void removeTree(const std::string& dir) {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
}

void SimBoxTest::SetUp() {
    auto tickClock = std::make_unique<platform::SteppingClock>();
    tick_clock_ = tickClock.get();
    platform::installTickClock(std::move(tickClock));
    root_ = makeTempDir("root");
    ASSERT_FALSE(root_.empty());
    platform::selectSimulated(root_);
}

void SimBoxTest::TearDown() {
    // Links first (they call into the managers), then the C331 thread, which hands work to the
    // FPGA manager, which reads the source manager.
    comm_stop_links();
    UsbServer::shutdown();
    sim_control::shutdown();
    c331_manage::shutdown();
    fpga_manage::shutdown();
    raviksource::shutdown();
    comm_hooks::get() = comm_hooks();
    platform::installTickClock(nullptr);
    // Singletons of the program may still run threads that write under the root, so it is
    // only removed when the test passed and left no threads behind that matter.
    keepRootIfFailed(root_);
}

void keepRootIfFailed(const std::string& root) {
    if (!::testing::Test::HasFailure()) {
        removeTree(root);
        return;
    }
    std::printf("the box's root is kept for a look: %s\n", root.c_str());
    std::fflush(stdout);
}

void SimBoxTest::writeFile(const std::string& absolute, const std::string& bytes) const {
    platform::makeParentDirs(absolute);
    std::ofstream(local(absolute), std::ios::binary) << bytes;
}

std::string SimBoxTest::readFile(const std::string& absolute) const {
    std::ifstream in(local(absolute), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void SimBoxTest::pullUsbDisk() const {
    platform::sim::SimUsbDisk& disk = box().usb_disk;
    disk.unmount("/mnt/usb1");
    disk.unplug();
}

void SimBoxTest::mountUsbDisk() const {
    pullUsbDisk();
    removeTree(local("/sim/usb-disk"));
    std::error_code ec;
    std::filesystem::create_directories(local("/sim/usb-disk"), ec);
    platform::sim::SimUsbDisk& disk = box().usb_disk;
    ASSERT_EQ(disk.plug("/sim/usb-disk"), 0);
    ASSERT_EQ(disk.mount("/dev/sda1", "/mnt/usb1"), 0);
}

bool SimBoxTest::exists(const std::string& absolute) const {
    return std::filesystem::exists(local(absolute));
}
