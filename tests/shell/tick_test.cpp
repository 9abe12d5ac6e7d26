// The main menu's 10 ms tick: tick count, the delayed reboot through the shell, the start of the
// USB watcher, the end of a silent PC's save requests, the line naming the failed saves, and the
// timer driving it on the event loop. The tick counts the 10 ms periods of real time, however
// late or early its timer fires: a call may count several, or none.
#include <arpa/inet.h>

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "comm/link_session.h"
#include "core/globals.h"
#include "core/link_activity.h"
#include "core/zem_ram_para.h"
#include "page_driver.h"
#include "pc_link.h"
#include "ui/shell/main_window.h"

namespace {

class Tick : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        g_app_reset_flag = 0;
        g_delay_usbserver = 0;
        startPanel();
    }
    long reboots() const {
        const auto c = commands();
        return std::count(c.begin(), c.end(), std::string("reboot"));
    }
};

TEST_F(Tick, ARebootRequestedAtTickTRunsAtTPlus300AndRetriesEvery300) {
    tick(4999);
    g_app_reset_flag = 1;
    G_reboot_tickTicks = G_timeTicks.load();
    tick(299);
    EXPECT_EQ(reboots(), 0);
    tick(1);
    EXPECT_EQ(G_timeTicks, 5299u);
    EXPECT_EQ(reboots(), 1);
    tick(299);
    EXPECT_EQ(reboots(), 1) << "not on every tick: the shell log would grow without end";
    tick(1);
    EXPECT_EQ(reboots(), 2) << "a reboot that did not happen is tried again";
}

TEST_F(Tick, TheUsbWatcherMayActFromTick1000) {
    tick(999);
    EXPECT_EQ(g_delay_usbserver, 0);
    tick(1);
    EXPECT_EQ(g_delay_usbserver, 1);
    tick(5000);
    EXPECT_EQ(g_delay_usbserver, 1);
    EXPECT_EQ(reboots(), 0);
}

// A main thread kept busy counts the ticks it missed at its next call; a rule due after N ticks
// acts at the call that passes N, once.
TEST_F(Tick, RulesDueAfterNTicksActAtTheCallThatStepsPastN) {
    for (uint32_t step : {3u, 7u, 299u, 301u, 1500u}) {
        SCOPED_TRACE(testing::Message() << step << " ticks a call");
        G_timeTicks = 0;
        g_delay_usbserver = 0;
        tickStep(step);
        const int usbCalls = int((kUsbServerDelayTicks + step - 1) / step);
        tick(usbCalls - 1);
        EXPECT_EQ(g_delay_usbserver, 0);
        tick(1);
        EXPECT_EQ(G_timeTicks, usbCalls * step);
        EXPECT_EQ(g_delay_usbserver, 1);

        const long before = reboots();
        g_app_reset_flag = 1;
        G_reboot_tickTicks = G_timeTicks.load();
        const int rebootCalls = int((kRebootDelayTicks + step - 1) / step);
        tick(rebootCalls - 1);
        EXPECT_EQ(reboots(), before);
        tick(1);
        EXPECT_EQ(reboots(), before + 1);
        g_app_reset_flag = 0;
    }
}

// The tick is the real time passed to the nearest 10 ms, whether its timer fires often or
// seldom, early or late.
TEST_F(Tick, TheTickIsTheTimePassedToTheNearestTick) {
    const uint32_t start = G_timeTicks;
    int64_t passedUs = 0;
    for (int64_t stepUs : {4000, 9000, 10000, 11000, 25000, 1234567}) {
        SCOPED_TRACE(testing::Message() << "a call every " << stepUs << " us");
        tick_clock_->setStepUs(uint64_t(stepUs));
        for (int calls = 1; calls <= 200; ++calls) {
            tick(1);
            passedUs += stepUs;
            const int64_t countedUs = int64_t(G_timeTicks - start) * int64_t(kTickUs);
            ASSERT_LE(std::abs(countedUs - passedUs), int64_t(kTickUs / 2)) << calls << " calls";
        }
    }
}

// A UDP PC's save request with no register 11 is carried out once its address has been
// silent for 60 s, at the call of the tick that steps past them.
TEST_F(Tick, ASaveRequestOfAUdpAddressSilentFor60sIsCarriedOut) {
    ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    link_session udp(LinkKind::Udp, "udp");
    udp.setPeer("udp", link_session::udp_link(htonl(INADDR_LOOPBACK), htons(40001)));
    const uint32_t step = 7;
    tickStep(step);
    ASSERT_EQ(askSession(udp, writeRam(868, le16(3))).at(10), 0);
    const int calls = int((link_activity::kSilentTicks + step - 1) / step);
    tick(calls - 1);
    store->saver.run_waiting();
    EXPECT_NE(store->rd16_locked(868), 0) << "carried out before 60 s";
    tick(1);
    store->saver.run_waiting();
    EXPECT_EQ(store->rd16_locked(868), 0);
    EXPECT_EQ(readFile("/data/modes/custom_mode3").size(), size_t(ZemRamPara::kModeFileSize));
}

// Saves whose files can't be written (a folder where each new file goes) and a delete whose file
// can't be removed, a few seconds apart: the error-by-kind limit says the first of a kind and
// holds the others back; the tick names them all in one line a minute after the first, with no
// stop and no later error, and then says nothing more.
TEST_F(Tick, FailedSavesAreNamedInOneLineAMinuteAfterTheFirst) {
    ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    for (int mode : {3, 5, 9})
        std::filesystem::create_directories(
            local("/data/modes/custom_mode" + std::to_string(mode) + ".new"));
    shell().answer("rm  -rf  /data/modes/custom_mode7", 1);
    LogTestHooks::forget();
    testing::internal::CaptureStderr();
    const uint32_t first = G_timeTicks;
    for (int mode : {3, 5, 7, 9}) {
        if (mode == 7)
            store->delete_mode_from_panel(mode - 1);
        else
            store->save_mode_from_panel(mode - 1);
        store->saver.run_waiting();
        tick(150);
    }
    const uint32_t due = first + ZemRamPara::kFailedFilesTicks;
    tick(int(due - G_timeTicks) - 1);
    const std::string before = testing::internal::GetCapturedStderr();
    EXPECT_EQ(before.find("user mode files failed"), std::string::npos) << before;
    EXPECT_EQ(before.find("user mode 5"), std::string::npos) << "the limit said each: " << before;

    testing::internal::CaptureStderr();
    tick(1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "user mode files failed: modes 3, 5, 9 not written; mode 7 not removed\n");
    testing::internal::CaptureStderr();
    tick(int(ZemRamPara::kFailedFilesTicks) + 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "said again";
}

TEST_F(Tick, TheTimerDrivesTheTickOnTheEventLoop) {
    QTimer timer;
    QObject::connect(&timer, SIGNAL(timeout()), g_mainwindow, SLOT(slot_update_timer_ticks()));
    timer.start(10);
    QElapsedTimer bound;
    bound.start();
    while (G_timeTicks < 3 && bound.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_GE(G_timeTicks, 3u);
}

}  // namespace
