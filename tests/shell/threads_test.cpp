// The panel while the hardware threads run, as on the box: the C331, FPGA and source-check
// threads apply and announce changes while the page driver works the main menu. Every refresh
// reaches the page on the GUI thread, queued.
#include <QThread>
#include <thread>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "fpga/fpga_manage.h"
#include "page_driver.h"
#include "platform/clock.h"
#include "platform/sim/sim_box.h"
#include "ui/shell/main_window.h"
#include "ui/shell/tip.h"
#include "ui_main_window.h"
#include "video_io/raviksource.h"

namespace {

class PanelWithThreads : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        platform::installClock(nullptr);  // the threads wait in real time
        platform::sim::buildDefaultBox();
        // In start-up order: the FPGA thread reads the source manager.
        raviksource* source = raviksource::pInstance();
        c331_manage::pInstance();
        fpga_manage::pInstance()->initialize_start();
        source->initialize();
        QObject::connect(
            &store(), &ZemRamPara::sig_update_para, &store(),
            [this](int) {
                if (QThread::currentThread() != qApp->thread()) ++worker_refreshes;
            },
            Qt::DirectConnection);
        startPanel();
        key(kKeyOk);
    }
    void TearDown() override {
        // The readers of the source manager stop before it goes.
        c331_manage::shutdown();
        fpga_manage::pInstance()->stop_thread();
        raviksource::shutdown();
        PanelTest::TearDown();
    }
    bool appliedAndSaved(int addr) const { return store().persisted16(addr) == store().rd16(addr); }
    std::atomic<int> worker_refreshes{0};
};

TEST_F(PanelWithThreads, ChangesFromWorkersAndFromTheMenuReachThePageQueued) {
    // A PC-like writer on its own thread closes the LED screen; the C331 thread applies it and
    // its refresh redraws the tool picture on the GUI thread.
    std::thread pc([this] {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store().wr16_no_gen_bump(ZemRamPara::kRamCloseLed, 1);
        c331_manage::raise_apply(1);
    });
    pc.join();
    const QImage closed = QIcon(":/png/closeled.png").pixmap(24, 36).toImage();
    session({Item::until(
        [&] { return g_mainwindow->ui->toolButton1->icon().pixmap(24, 36).toImage() == closed; })});
    EXPECT_GT(worker_refreshes, 0);
    shot("closed-by-pc");

    // The user mutes window 0 and recalls a mode while the threads run.
    saveSlot(5, 0x33);
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(0, 0), 1);
    keys({kKeyLeft, kKeyOk, kKeyRight, kKeyOk});  // mute
    const int audio = ZemRamPara::windowAddr(0, 20);
    session({Item::until([&] { return appliedAndSaved(audio); })});
    keys({kKeyRight, kKeyOk, kKeyOk});  // CALL, then OK on slot 5
    EXPECT_EQ(store().ram[2000], 0x33);
    session({Item::until([] { return g_tip->isVisible(); }), [this] {
                 shot("called");
                 tick(TIP::kShowTicks);
             }});
    EXPECT_FALSE(g_tip->isVisible());
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 6);
    EXPECT_TRUE(appliedAndSaved(ZemRamPara::kRamCurrentMode));
}

}  // namespace
