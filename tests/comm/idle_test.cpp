// An idle box wakes only for its tick and pollers: the serial receive threads and the USB
// watcher sleep until bytes, an event or a stop come, and still answer and stop at once.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "box_links.h"
#include "comm/qz_uart_inout.h"
#include "comm/usb_server.h"
#include "comm_fixture.h"
#include "core/globals.h"
#include "platform/hotplug.h"

namespace {

struct ThreadState {
    long wakeups = 0;  // times it went to sleep and was woken (voluntary context switches)
    char state = '?';  // 'S' while it sleeps in a wait
};

// Each named thread of this process, by name.
std::map<std::string, ThreadState> threads() {
    std::map<std::string, ThreadState> out;
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir) return out;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const std::string task = std::string("/proc/self/task/") + e->d_name;
        std::string name, line;
        std::getline(std::ifstream(task + "/comm"), name);
        ThreadState& t = out[name];
        std::ifstream status(task + "/status");
        while (std::getline(status, line)) {
            if (line.rfind("State:", 0) == 0) t.state = line[line.find_first_not_of(" \t", 6)];
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                t.wakeups = std::stol(line.substr(line.find(':') + 1));
        }
    }
    ::closedir(dir);
    return out;
}

const char* const kIdle[] = {"ttyS1", "ttyS2", "usb"};

// Every watched thread asleep: the replies and the event are done with.
bool allAsleep() {
    const auto now = threads();
    for (const char* name : kIdle)
        if (!now.count(name) || now.at(name).state != 'S') return false;
    return true;
}

}  // namespace

using IdleLinks = CommTest;

TEST_F(IdleLinks, SerialThreadsAndTheUsbWatcherSleepUntilSomethingComes) {
    auto pc = startBoxLink(Via::Pty);
    auto modem = startBoxLink(Via::Pty4G);
    UsbServer* usb = UsbServer::pInstance();
    std::atomic<int> got{0};
    QObject::connect(usb, &UsbServer::sig_usb_update, [&](int id) { got = id; });
    // Each thread has come to its wait: the links answer and the watcher has handled an event.
    g_delay_usbserver = 1;
    platform::sim::injectHotplug(
        "remove@/block/sda\nACTION=remove\nSUBSYSTEM=block\nDEVNAME=sda\nDEVTYPE=disk\n");
    ASSERT_TRUE(eventually([&] { return got == 101; }));
    ASSERT_EQ(pc->ask(body(0x90, {})).size() > 10, true);
    ASSERT_EQ(modem->ask(body(0x90, {})).size() > 10, true);

    ASSERT_TRUE(eventually(allAsleep));
    const auto before = threads();
    // Longer than the longest old wake-up period (the watcher's second); the code's period sets
    // it, and a slower machine only wakes more within it. unscaled: a window, not a bound.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const auto after = threads();
    for (const char* name : kIdle)
        EXPECT_EQ(after.at(name).wakeups - before.at(name).wakeups, 0)
            << name << " woke while idle";

    // Still answering, and a stop ends each wait (the joins return); the threads go (under
    // qemu-user a joined thread may linger a moment in /proc).
    EXPECT_GT(pc->ask(body(0x90, {})).size(), 10u);
    stopBoxLinks();
    UsbServer::shutdown();
    EXPECT_TRUE(eventually([] {
        const auto left = threads();
        for (const char* name : kIdle)
            if (left.count(name)) return false;
        return true;
    }));
}
