// The check before a page posts a job: each thing that may be running closes the gate alone,
// and a closed gate posts nothing.
#include "ui/shell/job_gate.h"

#include <QDialog>
#include <memory>

#include "fpga/fpga_globals.h"
#include "page_driver.h"
#include "ui/shell/qround_progress_bar.h"

namespace {

class JobGate : public PanelTest {
public:
    std::unique_ptr<QDialog> page;

protected:
    void TearDown() override {
        delete g_qround_bar.data();
        page.reset();
        g_usb_grade = 0;
        g_update_flag = 0;
        for (auto& b : g_send_para) b = 0;
        PanelTest::TearDown();
    }
};

TEST_F(JobGate, EachRunningThingClosesTheGateAndNothingIsPosted) {
    struct Case {
        const char* what;
        std::function<void(JobGate*)> busy;
        uint8_t task_after;  // byte 0 once postJob(6) has been tried
    };
    const Case cases[] = {
        {"idle", [](JobGate*) {}, 6},
        {"byte 0 holds a task", [](JobGate*) { g_send_para[send_para::kTask] = 3; }, 3},
        {"a ring is shown",
         [](JobGate* t) {
             t->page.reset(new QDialog);
             QRoundProgressBar::create_qround_bar(t->page.get());
         },
         0},
        {"a USB upgrade runs", [](JobGate*) { g_usb_grade = 1; }, 0},
        {"a PC update runs", [](JobGate*) { g_update_flag = 1; }, 0},
        {"a USB update's bit", [](JobGate*) { g_update_flag = 2; }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (auto& b : g_send_para) b = 0;
        g_send_para[send_para::kStep] = 0x5A;  // a step left over must stay unless posted
        c.busy(this);
        const bool idle = c.task_after == 6;
        EXPECT_EQ(panel::jobGateOpen(), idle);
        EXPECT_EQ(panel::postJob(6), idle);
        EXPECT_EQ(g_send_para[send_para::kTask], c.task_after);
        EXPECT_EQ(g_send_para[send_para::kStep], idle ? 0 : 0x5A);
        delete g_qround_bar.data();
        page.reset();
        g_usb_grade = 0;
        g_update_flag = 0;
    }
}

// A closed ring (the job's final 100) opens the gate again.
TEST_F(JobGate, OpensAgainWhenTheRingCloses) {
    page.reset(new QDialog);
    QRoundProgressBar::create_qround_bar(page.get());
    EXPECT_FALSE(panel::jobGateOpen());
    g_qround_bar->para_sync(100);
    settle();
    EXPECT_TRUE(panel::jobGateOpen());
    EXPECT_TRUE(panel::postJob(5));
    EXPECT_EQ(g_send_para[send_para::kTask], 5);
}

}  // namespace
