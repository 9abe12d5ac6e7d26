// The main menu's 10 ms tick: tick count, the delayed reboot through the shell and the start
// of the USB watcher; the home screen and the main menu as pages 0 and 1 of the hub.
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

#include "core/globals.h"
#include "store_fixture.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/main_window.h"

namespace {

class TickTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        G_timeTicks = 0;
        g_app_reset_flag = 0;
        g_delay_usbserver = 0;
        g_delay_usbserver_ticks = 0;
        window = new MainWindow(nullptr);
    }
    void TearDown() override {
        delete window;
        StoreTest::TearDown();
    }
    void tick(int n) {
        for (int i = 0; i < n; ++i) window->slot_update_timer_ticks();
    }
    long reboots() const {
        const auto c = commands();
        return std::count(c.begin(), c.end(), std::string("reboot"));
    }
    MainWindow* window = nullptr;
};

TEST_F(TickTest, ARebootRequestedAtTickTRunsAtTPlus300AndRetriesEvery300) {
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

TEST_F(TickTest, TheUsbWatcherMayActFromTick1000) {
    tick(999);
    EXPECT_EQ(g_delay_usbserver, 0);
    tick(1);
    EXPECT_EQ(g_delay_usbserver, 1);
    tick(5000);
    EXPECT_EQ(g_delay_usbserver, 1);
    EXPECT_EQ(reboots(), 0);
}

TEST_F(TickTest, TheTimerDrivesTheTickOnTheEventLoop) {
    QTimer timer;
    QObject::connect(&timer, SIGNAL(timeout()), window, SLOT(slot_update_timer_ticks()));
    timer.start(10);
    QElapsedTimer bound;
    bound.start();
    while (G_timeTicks < 3 && bound.elapsed() < 5000)
        app().processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_GE(G_timeTicks, 3u);
}

TEST_F(TickTest, TheHomeScreenAndTheMainMenuAreReachedThroughTheirPointers) {
    startStore();
    // The routes are the ones the shell's units installed for their page pointers.
    std::vector<int> tips;
    static std::vector<int>* seen = &tips;
    SyncUpdate::setTip([](int type) { seen->push_back(type); });
    g_mainwindow = window;
    g_page_focus = 1;
    window->tip_request = 1;
    hub().para_sync(1);
    EXPECT_EQ(tips, std::vector<int>{1});
    EXPECT_EQ(window->tip_request, 0);

    g_page_focus = 0;
    hub().para_sync(1);  // no home screen yet: skipped
    g_lockwindow = new LockWindow(nullptr);
    hub().para_sync(1);
    delete g_lockwindow;
    g_lockwindow = nullptr;
    g_mainwindow = nullptr;
    EXPECT_EQ(tips, std::vector<int>{1});
}

}  // namespace
