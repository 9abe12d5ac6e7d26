// The receiving-card recovery page: Query and Recovery post their tasks only through the job
// gate and under the ring; the FPGA thread's list and progress arrive queued from its thread;
// Recovery acts only on a shown entry that is not red; the PC's deletion closes the page unless
// a job runs.
#include "ui/led/rcv_recovery.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <thread>

#include "card_files.h"
#include "comm/comm_bridge.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_job_events.h"
#include "page_driver.h"
#include "platform/sim/sim_fpga.h"
#include "sim_fpgas.h"
#include "simctl/sim_control.h"
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
    // The FPGA thread ends its task: its outcome (a list of these entries, or why it failed),
    // then the final 100.
    static void jobEnds(std::vector<QStringList> lists) {
        jobEndsWith(lists.empty() ? RecoveryOutcome{RecoveryOutcome::kQueryFailed, {}, {}}
                                  : RecoveryOutcome{RecoveryOutcome::kList, lists.back(), {}});
    }
    static void jobEndsWith(const RecoveryOutcome& outcome) {
        std::thread fpga([outcome] {
            rcv_job_events* e = fpga_manage::p_fpga_manage->job_events;
            e->recoveryEnded(outcome);
            g_send_para[send_para::kTask] = 0;
            emit e->sig_recovery_progress(100);
        });
        fpga.join();
    }
    // The text shown where no entry is: the no-cards text or why the job failed.
    static QString emptyText() {
        auto* l = g_rcv_recovery->list.frame_file->findChild<QLabel*>("label_empty");
        return l ? l->text() : QString();
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

// The list holds as many entries a page as its layout says (three to five, and at least one),
// and a touch chooses the entry on any slot; the choice stays while the list pages away and
// back, and a new list starts with none.
TEST_F(RecoveryPage, AListTakesItsOwnCountOfEntriesAPage) {
    constexpr int kResults = 11;
    QStringList results;
    for (int i = 0; i < kResults; ++i) results << QString("01/%1/04/12").arg(i + 10);
    const struct {
        int per_page, row_step, pages;
    } cases[] = {{3, 25, 4}, {4, 21, 3}, {5, 16, 3}, {0, 21, kResults}};
    const auto states = [] {
        std::vector<panel_style::State> out;
        for (QLabel* l : g_rcv_recovery->list.slot_labels)
            out.push_back(l ? panel_style::stateOf(l) : panel_style::kStates);
        return out;
    };
    open({[&] {
        PagedList& list = g_rcv_recovery->list;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.per_page);
            list.layout.per_page = c.per_page;
            list.layout.row_step = c.row_step;
            g_rcv_recovery->setResultList(results);
            const int per = std::max(1, c.per_page);
            ASSERT_EQ(list.last_page + 1, c.pages);
            QStringList all;
            for (int page = 0; page < c.pages; ++page) {
                EXPECT_EQ(shownTexts().size(), std::min(per, kResults - page * per));
                all << shownTexts();
                list.next();
            }
            all.removeDuplicates();
            EXPECT_EQ(all.size(), kResults) << "each entry on one page";
            ASSERT_EQ(list.current_page, 0) << "past the last page: the first";
            EXPECT_EQ(states(), std::vector<panel_style::State>(per, panel_style::kNormal))
                << "nothing chosen in a new list";
            std::vector<panel_style::State> chosen(per, panel_style::kNormal);
            chosen.back() = panel_style::kChosen;
            click(QString::number(per - 1));  // the page's last slot
            EXPECT_EQ(states(), chosen);
            if (c.per_page == 5) shot("five-a-page");
            list.next();
            list.previous();
            EXPECT_EQ(states(), chosen) << "kept across pages";
            click("0");
            std::rotate(chosen.rbegin(), chosen.rbegin() + 1, chosen.rend());
            EXPECT_EQ(states(), chosen) << "the first slot chosen, the last no more";
        }
    }});
}

TEST_F(RecoveryPage, QueryListsTheCardAndRecoveryIsPostedForIt) {
    open({[this] {
              shot("no-cards");
              key(kKeyOk);  // Query
              EXPECT_EQ(g_send_para[send_para::kTask].load(), 5);
              EXPECT_FALSE(g_qround_bar.isNull());
              key(kKeyRight);
              key(kKeyBack);
              EXPECT_TRUE(panel_style::stateOf(widget<QPushButton>("Button_check")) ==
                          panel_style::kFocus)
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

// Under the ring of a query the page shows no outcome, in each language: neither the no-cards
// text nor the list before, which stays stored (on the page and with the FPGA thread) until the
// query's own outcome comes; Recovery then acts on what that shows.
TEST_F(RecoveryPage, UnderTheRingOfAQueryThePageShowsNoOutcome) {
    const QString entry = "Find Screen01, LED05, Rcv<font color = #FFFFFF >04</font>";
    const struct {
        const char* name;
        QStringList list;  // the outcome of the query before, and of this one
        QString empty;     // the text it shows where no entry is
        QStringList rows;
    } cases[] = {{"no-cards", {}, "No receiving cards that need to be updated!", {}},
                 {"found", {"01/05/04/12"}, "", {entry}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RecoveryOutcome outcome{RecoveryOutcome::kList, c.list, {}};
        open({[&] {
                  key(kKeyOk);  // Query
                  jobEndsWith(outcome);
              },
              Item::until([] { return g_qround_bar.isNull(); }),
              [&] {
                  EXPECT_EQ(emptyText(), c.empty);
                  key(kKeyOk);  // Query again
                  ASSERT_EQ(g_send_para[send_para::kTask].load(), 5);
                  for (int lang = 0; lang < kLanguageCount; ++lang) {
                      SCOPED_TRACE(lang);
                      g_language = uint8_t(lang);
                      g_rcv_recovery->language_changed();
                      SyncUpdate::pInstance()->para_sync(99);  // a cleared list: drawn again
                      EXPECT_TRUE(emptyText().isEmpty())
                          << "no outcome yet: " << emptyText().toStdString();
                      EXPECT_TRUE(shownTexts().isEmpty());
                      EXPECT_EQ(textsNotFitting(g_rcv_recovery), std::vector<std::string>{});
                      shot(QString("querying-%1-%2").arg(c.name).arg(lang));
                  }
                  g_language = 1;
                  g_rcv_recovery->language_changed();
                  EXPECT_EQ(g_rcv_recovery->result_list, c.list) << "stored on the page";
                  EXPECT_EQ(rcv_recovery::heldOutcome().entries, c.list) << "and by the thread";
                  jobEndsWith(outcome);
              },
              Item::until([] { return g_qround_bar.isNull(); }),
              [&] {
                  EXPECT_EQ(emptyText(), c.empty);
                  EXPECT_EQ(shownTexts(), c.rows);
                  key(kKeyRight);
                  key(kKeyOk);  // Recovery: onto the entry shown, none without one
                  EXPECT_EQ(g_send_para[send_para::kTask].load(), c.list.isEmpty() ? 0 : 6);
                  if (!c.list.isEmpty()) jobEnds({{}});
              },
              Item::until([] { return g_qround_bar.isNull(); })});
    }
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
              EXPECT_TRUE(panel_style::stateOf(widget<QPushButton>("Button_check")) ==
                          panel_style::kFocus);
          }});
}

// A refresh redraws the list on a cleared list (99) or while the mailbox names cards to
// recover; with no card named (255, 65535) it leaves the list as drawn.
TEST_F(RecoveryPage, TheRefreshRedrawsTheListOnAClearedListOrCardsToRecover) {
    open({[this] {
        const QString entry = "Find Screen01, LED02, Rcv<font color = #FFFFFF >03</font>";
        // Stored but not drawn yet, as the FPGA thread leaves them.
        g_rcv_recovery->result_list = QStringList{"01/02/03/09"};
        g_rcv_recovery->shown_count = 1;
        for (uint16_t none : {uint16_t(255), uint16_t(65535)}) {
            set_send_para_u16(send_para::kCardToRecover, none);
            SyncUpdate::pInstance()->para_sync(1);
            EXPECT_TRUE(shownTexts().isEmpty()) << none;
        }
        SyncUpdate::pInstance()->para_sync(99);
        EXPECT_EQ(shownTexts(), QStringList{entry}) << "99";
        g_rcv_recovery->rcv_self_recovery_file_list();  // the entry drawn, whatever came before
        g_rcv_recovery->shown_count = 0;
        set_send_para_u16(send_para::kCardToRecover, 2);
        SyncUpdate::pInstance()->para_sync(1);
        EXPECT_TRUE(shownTexts().isEmpty()) << "a named card: drawn again, now without entries";
        set_send_para_u16(send_para::kCardToRecover, 255);
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

// The page on the simulated cards: the FPGA passes run on a thread of their own, as the FPGA
// thread runs beside the panel, and the job's list and progress reach the page queued.
namespace {

// What the PC saved for one screen (config 0x1111): a net on port 5 (index 4) of `cards`
// cards; the fourth, when there is one, has its own RAM, register and save operations. With
// `first_port`, a net of one card on that port index is asked first.
const Bytes kRam = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};
Bytes savedScreen(size_t cards, int first_port = -1) {
    const std::vector<CardOp> plain = {{1, 1, 0x10, {1, 2, 3}}};
    const std::vector<CardOp> fourth = {
        {1, 1, 0x200, kRam}, {1, 2, 0, {5, 0xFF, 2, 0x12, 0x34}}, {2, 0, 0, {}}};
    std::vector<std::vector<CardOp>> ops(cards, plain);
    if (cards > 3) ops[3] = fourth;
    std::vector<CardNet> nets = {{4, ops}};
    if (first_port >= 0) nets.insert(nets.begin(), {uint16_t(first_port), {plain}});
    return packedFile({{0x1111, {}, nets}});
}

class RecoveryOnCards : public RecoveryPage {
protected:
    static constexpr int kPort = 4;
    void SetUp() override {
        PanelTest::SetUp();
        for (auto& b : g_send_para) b = 0;
        ASSERT_TRUE(fpgas.start());
        startPanel();
    }
    // `plugged` cards on the port, found by the search; the fourth needs recovery.
    void cards(int plugged, const Bytes& saved) {
        save(saved);
        fpgas.plug(kPort, plugged);
        for (auto& c : fpgas.board->port(kPort).cards) c.config_id = 0x1111;
        fourth().needs_recovery = true;
        fpgas.searchCycles(3);
    }
    void save(const Bytes& saved) {
        writeFile("/data/rcvrecovery/QZFX", std::string(saved.begin(), saved.end()));
    }
    platform::sim::SimCard& fourth() { return fpgas.board->card(kPort, 3); }
    void clearSent() {
        for (auto& f : fpgas.board->fpga) f.clearSentFrames();
    }
    // The FPGA thread runs the posted task to its end (byte 0 back at 0).
    void runTask() {
        EXPECT_TRUE(fpgas.runOnFpgaThread([] { return g_send_para[send_para::kTask] == 0; }, 40000))
            << "task still at step " << int(g_send_para[send_para::kStep]);
    }
    static Item ringClosed() {
        return Item::until([] { return g_qround_bar.isNull(); });
    }
    static Item ringShown() {
        return Item::until([] { return !g_qround_bar.isNull(); });
    }
    // The net's cards answer a query or not.
    void silence(bool silent) {
        for (auto& c : fpgas.board->port(kPort).cards) c.silent = silent;
    }
    // A query as the page's own Query runs it, to its end: the page shows its outcome.
    void queryOnThePage() {
        open({[this] {
                  key(kKeyOk);
                  runTask();
              },
              ringClosed()});
    }
    // A query from the control channel (not from the page), run to its first step.
    void queryFromOutside() {
        EXPECT_EQ(sim_control::pInstance()->execute("job query"), "ok");
        EXPECT_TRUE(fpgas.runOnFpgaThread([] { return g_send_para[send_para::kStep] != 0; }, 10))
            << "the query not taken";
        EXPECT_TRUE(fpga_manage::query_running());
    }
    // The keys the ring holds: the focus stays on Query and the page open.
    void keysHeld() {
        keys({kKeyRight, kKeyBack, kKeyMode, kKeyOk});
        EXPECT_EQ(g_page_focus, kPageRcvRecovery);
        ASSERT_NE(g_rcv_recovery, nullptr);
        EXPECT_EQ(panel_style::stateOf(widget<QPushButton>("Button_check")), panel_style::kFocus);
        EXPECT_FALSE(g_qround_bar.isNull());
    }
    SimFpgas fpgas;
};

TEST_F(RecoveryOnCards, QueryFindsTheCardAndRecoveryRestoresIt) {
    cards(12, savedScreen(12));
    open({[this] {
              key(kKeyOk);  // Query
              EXPECT_EQ(g_send_para[send_para::kTask].load(), 5);
              shot("query");
              runTask();
          },
          ringClosed(),
          [this] {
              EXPECT_EQ(g_rcv_recovery->result_list, QStringList{"01/05/04/12"});
              ASSERT_EQ(shownTexts().size(), 1);
              EXPECT_EQ(shownTexts()[0],
                        "Find Screen01, LED05, Rcv<font color = #FFFFFF >04</font>");
              EXPECT_EQ(fourth().saves, 0) << "the query changes no card";
              shot("found");
              clearSent();
              key(kKeyRight);
              key(kKeyOk);  // Recovery
              EXPECT_EQ(g_send_para[send_para::kTask].load(), 6);
              runTask();
          },
          ringClosed(),
          [this] {
              EXPECT_TRUE(shownTexts().isEmpty()) << "restored: nothing left to show";
              shot("restored");
          }});
    const platform::sim::SimCard& card = fourth();
    EXPECT_TRUE(std::equal(kRam.begin(), kRam.end(), card.ram.begin() + 0x200));
    EXPECT_EQ(card.regs[5], 0x12);
    EXPECT_EQ(card.regs[6], 0x34);
    EXPECT_EQ(card.saves, 1);
    EXPECT_EQ(card.saved_ram, card.ram);
    EXPECT_FALSE(card.needs_recovery);
    for (int other : {0, 2, 4, 11}) EXPECT_EQ(fpgas.board->card(kPort, other).saves, 0) << other;
    EXPECT_EQ(fpgas.sentOn(kPort, 0x81).size(), 1u) << "one save, on the card's port";
}

// Touches on the two buttons work them as OK does; one under the ring does nothing.
TEST_F(RecoveryOnCards, TouchesOnQueryAndRecoveryFindTheCardAndRestoreIt) {
    cards(12, savedScreen(12));
    auto touchOn = [this](const char* name) { touch(panelPoint(widget<QPushButton>(name))); };
    open({[&] {
              touchOn("Button_check");
              EXPECT_EQ(g_send_para[send_para::kTask].load(), 5);
              touchOn("Button_self_covery");
              EXPECT_EQ(panel_style::stateOf(widget<QPushButton>("Button_check")),
                        panel_style::kFocus)
                  << "the ring keeps the focus on Query";
              runTask();
          },
          ringClosed(),
          [&] {
              EXPECT_EQ(g_rcv_recovery->result_list, QStringList{"01/05/04/12"});
              touchOn("Button_self_covery");
              EXPECT_EQ(g_send_para[send_para::kTask].load(), 6);
              shot("recovery-touched");
              runTask();
          },
          ringClosed()});
    EXPECT_EQ(fourth().saves, 1);
    EXPECT_FALSE(fourth().needs_recovery);
}

// A red entry (the card lies past the cards its net was saved with), then a list that the last
// query, ending in error, did not confirm: Recovery posts nothing and the port hears no frame.
TEST_F(RecoveryOnCards, RecoveryIsRefusedOnARedEntryAndAfterAnErringQuery) {
    cards(4, savedScreen(2));
    open({[this] {
              key(kKeyOk);
              runTask();
          },
          ringClosed(),
          [this] {
              EXPECT_EQ(g_rcv_recovery->result_list, QStringList{"01/05/04/02"});
              EXPECT_TRUE(shownTexts().value(0).contains("#FF0000"));
              shot("red");
              clearSent();
              key(kKeyRight);
              key(kKeyOk);
              EXPECT_EQ(g_send_para[send_para::kTask].load(), 0) << "refused on a red entry";
              EXPECT_TRUE(fpgas.sentOn(kPort).empty());
              save(savedScreen(4));
              key(kKeyLeft);
              key(kKeyOk);
              runTask();
          },
          ringClosed(),
          [this] {
              EXPECT_EQ(g_rcv_recovery->result_list, QStringList{"01/05/04/04"});
              // FPGA 0 reloads itself and does not answer yet: a query now ends in error.
              fpgas.board->fpga[0].version[3] = 0x60;
              fpgas.board->restartFpga(0);
              fpgas.runTicks(1);
              ASSERT_EQ(fpgas.mgr->get_fpga_status(), 0);
              key(kKeyOk);  // Query still in focus
              runTask();
          },
          ringClosed(),
          [this] {
              EXPECT_TRUE(shownTexts().isEmpty()) << "the erring query's list is not shown";
              EXPECT_EQ(emptyText(), "<font color = #FF0000 >Query failed</font>");
              EXPECT_EQ(fpgas.mgr->recovery_target.valid, 1) << "the FPGA side kept its target";
              shot("after-error");
              fpgas.board->fpga[0].version[3] = 0x25;
              ASSERT_TRUE(fpgas.bothLit());
              clearSent();
              key(kKeyRight);
              key(kKeyOk);
              EXPECT_EQ(g_send_para[send_para::kTask].load(), 0) << "nothing shown: refused";
          }});
    EXPECT_TRUE(fpgas.sentOn(kPort).empty());
    EXPECT_EQ(fourth().saves, 0);
    EXPECT_TRUE(fourth().needs_recovery);
}

// A query that ends in error tells why in place of the no-cards text, in each language: the
// file refused, or the query failed (an FPGA not running). The no-cards text stays for a query
// that ran through its one file, here one that lists no card.
TEST_F(RecoveryOnCards, AQueryThatFailsSaysSoInPlaceOfTheNoCardsText) {
    struct Case {
        const char* name;
        Bytes file;
        bool fpga_down;
        bool failed;  // the words in red
        const char* const shown[kLanguageCount];
        bool cards_silent = false;
    };
    const Bytes good = savedScreen(12);
    const char* const query_failed[kLanguageCount] = {
        "查询失败", "Query failed", "Запрос не удался", "Truy vấn không thành công", "查詢失敗"};
    const Case cases[] = {
        {"refused-file",
         Bytes(good.begin(), good.begin() + 30),
         false,
         true,
         {"文件被拒绝或无法读取", "File refused or unreadable", "Файл отклонён или не читается",
          "Tệp bị từ chối hoặc không đọc được", "文件被拒絕或無法讀取"}},
        {"fpga-not-running",
         good,
         true,
         true,
         {query_failed[0], query_failed[1], query_failed[2], query_failed[3], query_failed[4]}},
        // The net's cards do not answer: that is no all clear.
        {"no-card-answered",
         good,
         false,
         true,
         {query_failed[0], query_failed[1], query_failed[2], query_failed[3], query_failed[4]},
         true},
        {"no-card-listed",
         packedFile({{0x1111, {}, {{kPort, {}}}}}),
         false,
         false,
         {"暂无接收卡需要更新!", "No receiving cards that need to be updated!",
          "Обновление принимающих карт не требуется!", "Chưa có thẻ nhận nào để cập nhật!",
          "暫無接收卡需要更新!"}},
    };
    fpgas.plug(kPort, 4);
    for (auto& card : fpgas.board->port(kPort).cards) card.config_id = 0x1111;
    fpgas.searchCycles(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        save(c.file);
        for (auto& card : fpgas.board->port(kPort).cards) card.silent = c.cards_silent;
        if (c.fpga_down) {
            fpgas.board->fpga[0].version[3] = 0x60;  // reloads itself and does not answer yet
            fpgas.board->restartFpga(0);
            fpgas.runTicks(1);
            ASSERT_EQ(fpgas.mgr->get_fpga_status(), 0);
        }
        open({[this] {
                  key(kKeyOk);  // Query
                  runTask();
              },
              ringClosed(),
              [this, c] {
                  EXPECT_TRUE(shownTexts().isEmpty());
                  for (int lang = 0; lang < kLanguageCount; ++lang) {
                      SCOPED_TRACE(lang);
                      g_language = uint8_t(lang);
                      g_rcv_recovery->language_changed();
                      const QString words = QString::fromUtf8(c.shown[lang]);
                      EXPECT_EQ(emptyText(),
                                c.failed ? "<font color = #FF0000 >" + words + "</font>" : words);
                      EXPECT_EQ(textsNotFitting(g_rcv_recovery), std::vector<std::string>{});
                      shot(QString("%1-%2").arg(c.name).arg(lang));
                  }
                  g_language = 1;
              }});
        if (c.fpga_down) {
            fpgas.board->fpga[0].version[3] = 0x25;
            ASSERT_TRUE(fpgas.bothLit());
        }
    }
}

// One net of two answers the query: the page lists what it found, or nothing found, and then
// the net that did not answer, in red, in each language; the no-cards text is not shown.
TEST_F(RecoveryOnCards, AQueryListsTheAnsweringNetsFindingsAndTheSilentNet) {
    struct Case {
        const char* name;
        bool needs_recovery;  // the fourth card of the answering net
        std::vector<const char*> found;
    };
    // The found card last: its recovery and the query after it hear port 7 from then on.
    const Case cases[] = {
        {"none-and-silent", false, {}},
        {"found-and-silent", true, {"Find Screen01, LED05, Rcv<font color = #FFFFFF >04</font>"}},
    };
    const char* const silent[kLanguageCount] = {
        "无应答: 屏幕01, 网口LED07", "No answer: Screen01, LED07", "Нет ответа: Screen01, LED07",
        "Không phản hồi: Screen01, LED07", "無應答: 屏幕01, 網口LED07"};
    cards(4, savedScreen(4, 6));  // port 7 (index 6) has no cards: its link is down
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fourth().needs_recovery = c.needs_recovery;
        open({[this] {
                  key(kKeyOk);  // Query
                  runTask();
              },
              ringClosed(),
              [this, c, &silent] {
                  EXPECT_EQ(g_rcv_recovery->silent_nets, QStringList{"01/07"});
                  EXPECT_EQ(emptyText(), QString()) << "no all clear";
                  for (int lang = 0; lang < kLanguageCount; ++lang) {
                      SCOPED_TRACE(lang);
                      g_language = uint8_t(lang);
                      g_rcv_recovery->language_changed();
                      const QStringList rows = shownTexts();
                      ASSERT_EQ(rows.size(), int(c.found.size()) + 1) << "the silent net last";
                      for (size_t i = 0; lang == 1 && i < c.found.size(); ++i)
                          EXPECT_EQ(rows[int(i)], c.found[i]);
                      EXPECT_EQ(rows.last(), "<font color = #FF0000 >" +
                                                 QString::fromUtf8(silent[lang]) + "</font>");
                      EXPECT_EQ(textsNotFitting(g_rcv_recovery), std::vector<std::string>{});
                      shot(QString("%1-%2").arg(c.name).arg(lang));
                  }
                  g_language = 1;
                  g_rcv_recovery->language_changed();
                  clearSent();
                  key(kKeyRight);
                  key(kKeyOk);  // Recovery: only onto a found card
                  EXPECT_EQ(g_send_para[send_para::kTask].load(), c.needs_recovery ? 6 : 0);
                  if (c.needs_recovery) runTask();
              },
              ringClosed(),
              [this, c, &silent] {
                  if (!c.needs_recovery) return;
                  // The recovery asked no net: the silent one stays listed, and no all clear.
                  EXPECT_EQ(shownTexts(), QStringList{"<font color = #FF0000 >" +
                                                      QString::fromUtf8(silent[1]) + "</font>"});
                  EXPECT_EQ(emptyText(), QString());
                  shot("restored-silent");
                  // Until a query hears it.
                  fpgas.plug(6, 1);
                  fpgas.board->card(6, 0).config_id = 0x1111;
                  fpgas.searchCycles(3);
                  key(kKeyLeft);
                  key(kKeyOk);  // Query
                  runTask();
              },
              ringClosed(),
              [this, c] {
                  if (!c.needs_recovery) return;
                  EXPECT_TRUE(shownTexts().isEmpty());
                  EXPECT_EQ(emptyText(), "No receiving cards that need to be updated!");
                  shot("heard");
              }});
    }
    EXPECT_EQ(fourth().saves, 1) << "the card found restored";
}

// A recovery one of whose card operations failed says so above the card it keeps, in each
// language; Recovery runs again onto it, and then the card is restored.
TEST_F(RecoveryOnCards, ARecoveryWhoseOperationsFailedSaysSoAndRunsAgain) {
    const char* const failed[kLanguageCount] = {"恢复失败", "Recovery failed",
                                                "Восстановление не удалось",
                                                "Phục hồi không thành công", "恢復失敗"};
    const QString entry = "Find Screen01, LED05, Rcv<font color = #FFFFFF >04</font>";
    cards(12, savedScreen(12));
    open({[this] {
              key(kKeyOk);  // Query
              runTask();
          },
          ringClosed(),
          [this] {
              fourth().silent = true;  // no acknowledgement, after three resends each
              key(kKeyRight);
              key(kKeyOk);  // Recovery
              runTask();
          },
          ringClosed(),
          [&] {
              EXPECT_EQ(fpgas.mgr->recovery_target.valid, 1) << "the card stays the target";
              for (int lang = 0; lang < kLanguageCount; ++lang) {
                  SCOPED_TRACE(lang);
                  g_language = uint8_t(lang);
                  g_rcv_recovery->language_changed();
                  const QStringList rows = shownTexts();
                  ASSERT_EQ(rows.size(), 2);
                  EXPECT_EQ(rows[0], "<font color = #FF0000 >" + QString::fromUtf8(failed[lang]) +
                                         "</font>");
                  if (lang == 1) {
                      EXPECT_EQ(rows[1], entry);
                  }
                  EXPECT_EQ(textsNotFitting(g_rcv_recovery), std::vector<std::string>{});
                  shot(QString("recovery-failed-%1").arg(lang));
              }
              g_language = 1;
              g_rcv_recovery->language_changed();
              fourth().silent = false;
              key(kKeyOk);  // Recovery again, still in focus
              EXPECT_EQ(g_send_para[send_para::kTask].load(), 6);
              runTask();
          },
          ringClosed(),
          [this] {
              EXPECT_TRUE(shownTexts().isEmpty());
              EXPECT_EQ(emptyText(), "No receiving cards that need to be updated!");
              shot("restored-at-last");
          }});
    EXPECT_EQ(fourth().saves, 1);
    EXPECT_FALSE(fourth().needs_recovery);
}

// A query the control channel starts while the page shows the last one's "Query failed": the
// page shows the query's ring and no outcome, the ring holds the keys as under the page's own
// query, and the query's list follows its end.
TEST_F(RecoveryOnCards, AQueryStartedOutsideThePageShowsItsRingThere) {
    cards(12, savedScreen(12));
    silence(true);
    const QString entry = "Find Screen01, LED05, Rcv<font color = #FFFFFF >04</font>";
    open({[this] {
              key(kKeyOk);  // the page's own query, no card answering
              runTask();
          },
          ringClosed(),
          [this] {
              ASSERT_EQ(emptyText(), "<font color = #FF0000 >Query failed</font>");
              shot("query-failed");
              silence(false);
              queryFromOutside();
          },
          ringShown(),
          [this] {
              EXPECT_TRUE(shownTexts().isEmpty());
              EXPECT_EQ(emptyText(), QString()) << "no outcome under the ring";
              shot("outside-query");
              keysHeld();
              runTask();
          },
          ringClosed(),
          [&] {
              EXPECT_EQ(shownTexts(), QStringList{entry});
              shot("outside-query-listed");
          }});
    sim_control::shutdown();
}

// A page opened while a query from the control channel runs shows its ring, not the last
// query's "Query failed", and the query's list once it ends.
TEST_F(RecoveryOnCards, APageOpenedDuringAQueryShowsItsRing) {
    cards(12, savedScreen(12));
    silence(true);
    queryOnThePage();
    ASSERT_EQ(rcv_recovery::heldOutcome().kind, RecoveryOutcome::kQueryFailed);
    silence(false);
    queryFromOutside();
    settle();  // its progress, with no page open
    open({[this] {
              EXPECT_FALSE(g_qround_bar.isNull()) << "opened under the query's ring";
              EXPECT_TRUE(shownTexts().isEmpty());
              EXPECT_EQ(emptyText(), QString()) << "not the last query's outcome";
              shot("opened-during-query");
              keysHeld();
              runTask();
          },
          ringClosed(),
          [this] {
              EXPECT_EQ(shownTexts().size(), 1);
              EXPECT_EQ(emptyText(), QString());
              shot("listed");
          }});
    sim_control::shutdown();
}

// A page opened again shows the outcome of the last query, as the page before it did: none yet,
// no file, the file refused, a query no net answered, a list with a net that did not answer.
TEST_F(RecoveryOnCards, APageOpenedAgainShowsTheLastOutcome) {
    const QString red = "<font color = #FF0000 >%1</font>";
    struct Case {
        const char* name;
        std::function<void()> arrange;  // before the query; none: no query
        QString empty;                  // the line where no entry is
        QStringList rows;
    };
    const Bytes good = savedScreen(4, 6);  // port 7 (index 6) has no cards: its link is down
    const Case cases[] = {
        {"no-query", nullptr, "No query yet", {}},
        {"no-file", [] {}, red.arg("No recovery file"), {}},
        {"refused",
         [&] { save(Bytes(good.begin(), good.begin() + 30)); },
         red.arg("File refused or unreadable"),
         {}},
        {"query-failed",
         [&] {
             save(good);
             for (auto& c : fpgas.board->port(kPort).cards) c.silent = true;
         },
         red.arg("Query failed"),
         {}},
        {"list-and-silent",
         [&] {
             for (auto& c : fpgas.board->port(kPort).cards) c.silent = false;
         },
         "",
         {"Find Screen01, LED05, Rcv<font color = #FFFFFF >04</font>",
          red.arg("No answer: Screen01, LED07")}},
    };
    fpgas.plug(kPort, 4);
    for (auto& c : fpgas.board->port(kPort).cards) c.config_id = 0x1111;
    fourth().needs_recovery = true;
    fpgas.searchCycles(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.arrange) {
            c.arrange();
            open({[this] {
                      key(kKeyOk);  // Query
                      runTask();
                  },
                  ringClosed()});
        }
        for (int lang = 0; lang < kLanguageCount; ++lang) {
            SCOPED_TRACE(lang);
            g_language = uint8_t(lang);
            open({[&] {
                if (lang == 1) {
                    EXPECT_EQ(emptyText(), c.empty);
                    EXPECT_EQ(shownTexts(), c.rows);
                }
                EXPECT_EQ(textsNotFitting(g_rcv_recovery), std::vector<std::string>{});
                shot(QString("reopened-%1-%2").arg(c.name).arg(lang));
            }});
        }
        g_language = 1;
    }
}

}  // namespace
