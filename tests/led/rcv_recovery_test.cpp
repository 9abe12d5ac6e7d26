// The receiving-card recovery page: Query and Recovery post their tasks only through the job
// gate and under the ring; the FPGA thread's list and progress arrive queued from its thread;
// Recovery acts only on a shown entry that is not red; the PC's deletion closes the page unless
// a job runs.
#include "ui/led/rcv_recovery.h"

#include <QLabel>
#include <QPushButton>
#include <thread>

#include "comm/comm_bridge.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_job_events.h"
#include "page_driver.h"
#include "platform/sim/sim_fpga.h"
#include "ui/shell/qround_progress_bar.h"

namespace {

class RecoveryPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        for (auto& b : g_send_para) b = 0;
        board = platform::sim::buildFpgaBoard();
        fpga_manage::pInstance();
        startPanel();
    }
    void TearDown() override {
        for (auto& b : g_send_para) b = 0;
        PanelTest::TearDown();
    }
    // The FPGA thread ends its task: the list (when it has one), then the final 100.
    static void jobEnds(std::vector<QStringList> lists) {
        std::thread fpga([lists] {
            rcv_job_events* e = fpga_manage::p_fpga_manage->job_events;
            for (const QStringList& l : lists) emit e->sig_recovery_list(l);
            g_send_para[send_para::kTask] = 0;
            emit e->sig_recovery_progress(100);
        });
        fpga.join();
    }
    static QStringList shownTexts() {
        QStringList t;
        for (QLabel* l : g_rcv_recovery->list.slot_labels)
            if (l) t << l->text();
        return t;
    }
    void open(std::vector<Item> steps) {
        steps.insert(steps.begin(), Item([] { panel::openRegistered(kPageRcvRecovery); }));
        steps.push_back([this] {
            if (g_rcv_recovery) key(kKeyBack);
        });
        session(std::move(steps));
    }
    std::shared_ptr<platform::sim::SimFpgaBoard> board;
};

TEST_F(RecoveryPage, QueryListsTheCardAndRecoveryIsPostedForIt) {
    open({[this] {
              shot("no-cards");
              key(kKeyOk);  // Query
              EXPECT_EQ(g_send_para[send_para::kTask].load(), 5);
              EXPECT_FALSE(g_qround_bar.isNull());
              key(kKeyRight);
              key(kKeyBack);
              EXPECT_TRUE(find<QPushButton>("Button_check")->styleSheet().contains("255,171,84"))
                  << "keys refused under the ring";
              shot("ring");
              jobEnds({{"01/05/04/12"}});
          },
          Item::until([] { return g_qround_bar.isNull(); }),
          [this] {
              ASSERT_EQ(shownTexts().size(), 1);
              EXPECT_EQ(shownTexts()[0],
                        "Find Screen01, LED05, Rcv<font color = #FFFFFF >04</font>");
              shot("found");
              key(kKeyRight);
              key(kKeyOk);  // Recovery
              EXPECT_EQ(g_send_para[send_para::kTask].load(), 6);
              jobEnds({{}});
          },
          Item::until([] { return g_qround_bar.isNull(); }),
          [this] {
              EXPECT_TRUE(shownTexts().isEmpty()) << "restored: nothing left to show";
              shot("restored");
          }});
}

TEST_F(RecoveryPage, RecoveryIsRefusedOnARedEntryAndAfterAnErringQuery) {
    open({[this] {
              key(kKeyOk);
              jobEnds({{"01/02/03/02"}});  // card 3 of a net of 2 cards
          },
          Item::until([] { return g_qround_bar.isNull(); }),
          [this] {
              EXPECT_TRUE(shownTexts().value(0).contains("#FF0000"));
              shot("red");
              key(kKeyRight);
              key(kKeyOk);
              EXPECT_EQ(g_send_para[send_para::kTask].load(), 0) << "refused on a red entry";
              g_rcv_recovery->setResultList({"01/02/03/09"});
              key(kKeyLeft);
              key(kKeyOk);  // a query that ends in error: no list
              jobEnds({});
          },
          Item::until([] { return g_qround_bar.isNull(); }),
          [this] {
              EXPECT_TRUE(shownTexts().isEmpty());
              key(kKeyRight);
              key(kKeyOk);
              EXPECT_EQ(g_send_para[send_para::kTask].load(), 0)
                  << "nothing shown: no recovery onto the old entry";
              EXPECT_TRUE(find<QPushButton>("Button_check")->styleSheet().contains("255,171,84"));
          }});
}

TEST_F(RecoveryPage, ThePcsDeletionClosesThePageUnlessAJobRuns) {
    open({[this] {
              key(kKeyOk);
              emit comm_bridge::pInstance()->sig_file_deleted(1);
          },
          [this] {
              EXPECT_NE(g_rcv_recovery, nullptr) << "kept open under the ring";
              jobEnds({});
          },
          Item::until([] { return g_qround_bar.isNull(); }),
          [] { emit comm_bridge::pInstance()->sig_file_deleted(1); },
          Item::until([] { return g_rcv_recovery == nullptr; })});
}

}  // namespace
