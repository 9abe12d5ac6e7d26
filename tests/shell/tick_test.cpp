// The main menu's 10 ms tick: tick count, the delayed reboot through the shell, the start of the
// USB watcher, and the timer driving it on the event loop.
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

#include "core/globals.h"
#include "page_driver.h"
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
