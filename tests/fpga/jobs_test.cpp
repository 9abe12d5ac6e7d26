// The receiving-card jobs of the command mailbox, from the page's write of the task to task 0:
// quick lighting, saving into the cards, mapping, the query and recovery from the stored
// configuration, the scan load, and files that must be refused.
#include <QObject>
#include <algorithm>

#include "card_files.h"
#include "cards_fixture.h"
#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "core/config_engine.h"
#include "fpga/rcv_job_events.h"
#include "fpga/rcv_recovery.h"
#include "simctl/sim_control.h"

namespace {

Bytes pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7);
    return b;
}

class JobsTest : public CardsTest {
protected:
    void SetUp() override {
        CardsTest::SetUp();
        auto* ev = mgr->job_events;
        conns = {QObject::connect(ev, &rcv_job_events::sig_smartmapping_progress,
                                  [this](int v) { smart.push_back(v); }),
                 QObject::connect(ev, &rcv_job_events::sig_recovery_progress,
                                  [this](int v) {
                                      recovery.push_back(v);
                                      // A page that sees a query running waits for its 100.
                                      if (v == 100 && fpga_manage::query_running())
                                          ADD_FAILURE() << "a 100 told while a query runs";
                                  }),
                 QObject::connect(ev, &rcv_job_events::sig_recovery_outcome, [this, ev] {
                     const RecoveryOutcome o = ev->recoveryOutcome();
                     if (o.kind != RecoveryOutcome::kList) return failures.push_back(o.kind);
                     lists.push_back(o.entries);
                     silent_nets.push_back(o.silent_nets);
                 })};
    }
    void TearDown() override {
        for (auto& c : conns) QObject::disconnect(c);
        CardsTest::TearDown();
    }
    // Posts a task as a page does and runs FPGA passes until the job sets the task back to 0.
    // Only the job's own frames are on the ports from then on.
    ::testing::AssertionResult runTask(uint8_t task, int maxTicks = 20000) {
        startJob(task);
        if (runUntil([] { return g_send_para[0] == 0; }, maxTicks))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "task " << int(task) << " still at step " << int(g_send_para[1]);
    }
    void startJob(uint8_t task) {
        g_change[kSearchEnableWord] = 0;
        for (auto& f : board->fpga) f.clearSentFrames();
        post_send_para_task(task);
    }
    // Progress only rises (never back to 1 in the middle) and ends with one 100.
    static ::testing::AssertionResult wellFormed(const std::vector<int>& p) {
        if (p.empty() || p.back() != 100) return ::testing::AssertionFailure() << "no end";
        if (std::count(p.begin(), p.end(), 100) != 1)
            return ::testing::AssertionFailure() << "100 before the end";
        if (!std::is_sorted(p.begin(), p.end()) || p.front() < 0)
            return ::testing::AssertionFailure() << "progress went back";
        return ::testing::AssertionSuccess();
    }
    void writeBytes(const std::string& path, const Bytes& b) const {
        writeFile(path, std::string(b.begin(), b.end()));
    }
    // A PC frame passed through to card 0 of port 0..19 (a one-byte RAM read).
    void pcCardFrame(int port) {
        passThrough(cardFrame(0, 0x67, 1, uint8_t(port + 1), 0x61, cat({le32(0x40), le16(1)})), 2);
    }

    std::vector<int> smart, recovery;
    // The outcome of each query or recovery: a list with the nets that did not answer, or why
    // it failed (a RecoveryOutcome::Kind).
    std::vector<QStringList> lists;
    std::vector<QStringList> silent_nets;
    std::vector<int> failures;
    std::vector<QMetaObject::Connection> conns;
};

// The configuration of the tests: screen 0 (config 0x1111) with one net on port 4 of 2 cards;
// screen 1 (config 0x2222) with smart-debugging data and nets on ports 3 (1 card) and 14
// (3 cards). Card 1 of port 14 has its own RAM, register and save operations.
const Bytes kRam = pattern(1500, 3);
std::vector<CardScreen> twoScreens() {
    const std::vector<CardOp> card1 = {
        {1, 1, 0x200, kRam}, {1, 2, 0, {5, 0xFF, 2, 0x12, 0x34}}, {2, 0, 0, {}}};
    const std::vector<CardOp> plain = {{1, 1, 0x10, {1, 2, 3}}};
    return {
        {0x1111, {}, {{4, {plain, plain}}}},
        {0x2222, {{1, 2, 0, {10, 0xFF, 1, 0x42}}}, {{3, {plain}}, {14, {plain, card1, plain}}}}};
}

}  // namespace

TEST_F(JobsTest, QuickLightingPlacesEachCardThenResetsTheirRam) {
    plug(2, 3);
    searchCycles(3);
    line_type = {128, 64, 8, 4, 2, 1, 3, 2};  // one row of three, left to right
    ASSERT_TRUE(runTask(1));
    const auto positions = sentOn(2, 0x60);
    ASSERT_EQ(positions.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(positions[i][0], i);  // card index
        const auto& ram = board->card(2, i).ram;
        EXPECT_EQ(ram[0x180] | ram[0x181] << 8, 128 * i + 8);
        EXPECT_EQ(ram[0x182] | ram[0x183] << 8, 4);
    }
    EXPECT_EQ(sentOn(2, 0xA0).size(), 1u);
    EXPECT_EQ(board->card(2, 2).regs[1], 0xFF);
    EXPECT_TRUE(wellFormed(smart));
    EXPECT_EQ(smart[smart.size() - 2], 90);
}

TEST_F(JobsTest, SaveAndMappingGoToEveryPortWithCards) {
    plug(4, 2);
    plug(15, 1);
    searchCycles(3);
    ASSERT_TRUE(runTask(3));
    EXPECT_EQ(sentOn(4, 0x81).size(), 1u);
    EXPECT_EQ(sentOn(15, 0x81).size(), 1u);
    EXPECT_EQ(board->card(4, 1).saves, 1);
    EXPECT_EQ(board->card(15, 0).saves, 1);
    EXPECT_TRUE(wellFormed(smart));
    EXPECT_EQ(smart[smart.size() - 2], 95);

    g_send_para[16] = 9;
    smart.clear();
    ASSERT_TRUE(runTask(4));
    ASSERT_EQ(sentOn(15, 0xA0).size(), 1u);
    EXPECT_EQ(sentOn(15, 0xA0)[0][13], 9);
    EXPECT_EQ(board->card(15, 0).regs[3], 9);
    EXPECT_TRUE(wellFormed(smart));
}

// A PC frame to the cards in the middle of a wait stops its clock for 0.8 s: the wait then goes
// on where it stood, and does not start again.
TEST_F(JobsTest, ASilentPortCostsItsTimeLimitAndAPcCardFrameStopsItsClock) {
    plug(6, 8);
    searchCycles(3);
    for (auto& c : board->port(6).cards) c.silent = true;
    post_send_para_task(3);
    ASSERT_TRUE(runUntil([] { return g_send_para[1] == 3; }));
    runTicks(1000);
    pcCardFrame(6);
    runTicks(50);
    ASSERT_EQ(g_send_para[1], 3);
    // 8 cards: 2000 ticks of waiting, and the 80 of the pause.
    runTicks(950 + 80 - 10);
    EXPECT_EQ(g_send_para[1], 3);
    EXPECT_TRUE(runUntil([] { return g_send_para[1] != 3; }, 20));
    ASSERT_TRUE(runUntil([] { return g_send_para[0] == 0; }, 500));
    EXPECT_TRUE(wellFormed(smart));
}

TEST_F(JobsTest, AQueryFindsTheCardThenTheRecoveryRestoresItsStoredConfiguration) {
    writeBytes("/data/rcvrecovery/QZFX", packedFile(twoScreens()));
    plug(4, 2);
    plug(3, 1);
    plug(14, 3);
    for (int port : {4, 3, 14})
        for (auto& c : board->port(port).cards) c.config_id = port == 4 ? 0x1111 : 0x2222;
    board->card(14, 1).needs_recovery = true;
    searchCycles(3);

    ASSERT_TRUE(runTask(5));
    ASSERT_FALSE(lists.empty());
    EXPECT_EQ(lists.back(), QStringList{"02/15/02/03"});
    EXPECT_EQ(mgr->recovery_target.valid, 1);
    EXPECT_EQ(mgr->recovery_target.card, 1);
    EXPECT_EQ(sentOn(4, 0x10).back()[16], 1);  // the search asked with the config id
    EXPECT_TRUE(wellFormed(recovery));
    EXPECT_TRUE(refreshed(1));

    recovery.clear();
    board->clearMessages();
    ASSERT_TRUE(runTask(6));
    const platform::sim::SimCard& card = board->card(14, 1);
    EXPECT_TRUE(std::equal(kRam.begin(), kRam.end(), card.ram.begin() + 0x200));
    EXPECT_EQ(card.regs[5], 0x12);
    EXPECT_EQ(card.regs[6], 0x34);
    EXPECT_EQ(card.regs[10], 0x42);  // the screen's smart-debugging data came first
    EXPECT_EQ(card.saves, 1);
    EXPECT_EQ(card.saved_ram, card.ram);
    EXPECT_EQ(board->card(14, 0).regs[10], 0);  // only the card to recover
    EXPECT_EQ(mgr->replay_failures, 0u);
    EXPECT_TRUE(wellFormed(recovery));
    EXPECT_TRUE(lists.back().isEmpty());
    EXPECT_EQ(mgr->recovery_target.valid, 0);
}

TEST_F(JobsTest, AQueryThatFindsNothingClearsTheTargetSoNoRecoveryRuns) {
    writeBytes("/data/rcvrecovery/QZFX", packedFile(twoScreens()));
    plug(4, 2);
    plug(14, 3);
    board->card(14, 1).needs_recovery = true;
    for (int port : {4, 14})
        for (auto& c : board->port(port).cards) c.config_id = port == 4 ? 0x1111 : 0x2222;
    searchCycles(3);
    ASSERT_TRUE(runTask(5));
    ASSERT_EQ(mgr->recovery_target.valid, 1);

    board->card(14, 1).needs_recovery = false;  // repaired meanwhile
    refresh_ids.clear();
    ASSERT_TRUE(runTask(5, 40000));  // port 3 is silent: its net waits out its 500 ticks
    EXPECT_TRUE(lists.back().isEmpty());
    EXPECT_EQ(mgr->recovery_target.valid, 0);
    EXPECT_TRUE(refreshed(99));

    recovery.clear();
    startJob(6);
    ASSERT_TRUE(runUntil([] { return g_send_para[1] == 35; }));
    runTicks(90);
    EXPECT_NE(g_send_para[0], 0);  // the error end waits 100 ticks more
    ASSERT_TRUE(runUntil([] { return g_send_para[0] == 0; }, 20));
    EXPECT_TRUE(sentOn(14).empty());
    EXPECT_TRUE(wellFormed(recovery));
}

TEST_F(JobsTest, AScanFileLoadsOntoEveryCardOfThePort) {
    const Bytes ram = pattern(2500, 9);
    const std::vector<CardOp> ops = {{1, 1, 0x100, ram},
                                     {1, 2, 0, {7, 0x0F, 1, 0x05}},
                                     {3, 0, 0, {0xAB}},
                                     {6, 0, 0, {}, 3000},
                                     {2, 0, 0, {}, 500}};
    writeBytes("/data/smartmapping/wall.qzfile", scanFile(ops));
    g_qzfile_name = "/data/smartmapping/wall.qzfile";
    plug(7, 3);
    plug(8, 2);
    searchCycles(3);
    line_type.port = 7;
    ASSERT_TRUE(runTask(2));
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const auto& c = board->card(7, i);
        EXPECT_TRUE(std::equal(ram.begin(), ram.end(), c.ram.begin() + 0x100));
        EXPECT_EQ(c.regs[7], 0x05);
        EXPECT_EQ(c.activations, 1);
        EXPECT_EQ(c.saves, 1);
    }
    // Packets of 1000, 1000 and 500 bytes to every card at once; firmware to each card in
    // turn, the last first.
    const auto packets = sentOn(7, 0x60);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[2].size(), 500u + 19);
    EXPECT_EQ(packets[2][0] | packets[2][1] << 8, 0x0FFF);
    EXPECT_EQ((packets[1][10] | packets[1][11] << 8), 0x100 + 1000);
    const auto firmware = sentOn(7, 0xB4);
    ASSERT_EQ(firmware.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(firmware[i][0], 2 - i);
    EXPECT_TRUE(sentOn(8).empty() || sentOn(8, 0x60).empty());
    EXPECT_EQ(mgr->replay_failures, 0u);
    EXPECT_TRUE(wellFormed(smart));
}

TEST_F(JobsTest, ALostAcknowledgementIsResentAndAnAbsentOneGivesUp) {
    writeBytes("/data/smartmapping/a.qzfile", scanFile({{1, 2, 0, {1, 0xFF, 1, 9}, 300}}));
    g_qzfile_name = "/data/smartmapping/a.qzfile";
    plug(5, 1);
    searchCycles(3);
    line_type.port = 5;
    board->card(5, 0).hold_replies = true;  // the first answer is lost
    startJob(2);
    ASSERT_TRUE(runUntil([this] { return !sentOn(5, 0xA0).empty(); }));
    board->card(5, 0).hold_replies = false;
    board->port(5).held.clear();
    ASSERT_TRUE(runUntil([] { return g_send_para[0] == 0; }));
    EXPECT_EQ(sentOn(5, 0xA0).size(), 2u);
    EXPECT_EQ(mgr->replay_failures, 0u);

    board->card(5, 0).silent = true;
    ASSERT_TRUE(runTask(2));
    EXPECT_EQ(sentOn(5, 0xA0).size(), 4u);  // the first send and three more
    EXPECT_EQ(mgr->replay_failures, 1u);
}

TEST_F(JobsTest, OperationsWithoutAFrameEndReportedInsteadOfStaying) {
    writeBytes("/data/smartmapping/a.qzfile", scanFile({{4, 0, 0, {1}},
                                                        {0x33, 0, 0, {}},
                                                        {1, 3, 0, {1}},
                                                        {16, 0, 0, Bytes(1001, 0)},
                                                        {16, 0, 0, {0x55, 1}}}));
    g_qzfile_name = "/data/smartmapping/a.qzfile";
    plug(5, 1);
    searchCycles(3);
    line_type.port = 5;
    ASSERT_TRUE(runTask(2, 3000));
    EXPECT_EQ(mgr->replay_failures, 4u);
    EXPECT_EQ(board->card(5, 0).other_commands, 1);  // the user-defined frame still went out
}

TEST_F(JobsTest, BadFilesAreRefusedAndNothingIsSentFromThem) {
    plug(4, 2);
    plug(14, 3);
    searchCycles(3);
    const Bytes good = packedFile(twoScreens());
    const auto with = [&](size_t at, const Bytes& bytes) {
        Bytes b = good;
        std::copy(bytes.begin(), bytes.end(), b.begin() + at);
        return b;
    };
    const uint32_t o10 = 40;
    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        {"more sub-files than the table holds", with(3, {7})},
        {"cut short inside the screen records", Bytes(good.begin(), good.begin() + o10 + 60)},
        {"more screens than records", with(o10 + 20, {9})},
        {"no screen sub-file", with(4, {0x20})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes("/data/rcvrecovery/QZFX", c.file);
        recovery.clear();
        failures.clear();
        lists.clear();
        ASSERT_TRUE(runTask(5, 30000));
        EXPECT_TRUE(sentOn(4).empty());
        EXPECT_TRUE(sentOn(14).empty());
        EXPECT_TRUE(wellFormed(recovery));
        EXPECT_EQ(failures, std::vector<int>{RecoveryOutcome::kFileRefused});
        EXPECT_TRUE(lists.empty()) << "no list, so no all clear";
    }
}

TEST_F(JobsTest, AScanFileThatLiesAboutItsOperationsSendsNothing) {
    plug(5, 1);
    searchCycles(3);
    line_type.port = 5;
    Bytes lying = scanFile({{1, 1, 0, pattern(100, 1)}, {1, 2, 0, {1, 0xFF, 1, 2}}});
    Bytes many = lying;
    many[16] = 0x2C;  // 300 operations: past what one-byte indexes reach
    many[17] = 0x01;
    Bytes past = lying;
    past[20 + 4] = 0xE8;  // the first operation's data runs past the end of the file
    past[20 + 5] = 0x03;
    for (const Bytes& f : {many, past, Bytes(lying.begin(), lying.begin() + 30)}) {
        writeBytes("/data/smartmapping/a.qzfile", f);
        g_qzfile_name = "/data/smartmapping/a.qzfile";
        smart.clear();
        ASSERT_TRUE(runTask(2));
        EXPECT_TRUE(sentOn(5).empty());
        EXPECT_TRUE(wellFormed(smart));
    }
}

TEST_F(JobsTest, TwoRecoveryFilesEndTheQueryAtOnce) {
    writeBytes("/data/rcvrecovery/QZFX", packedFile(twoScreens()));
    writeFile("/data/rcvrecovery/other", "x");
    plug(4, 2);
    searchCycles(3);
    ASSERT_TRUE(runTask(5, 400));
    EXPECT_TRUE(sentOn(4).empty());
    EXPECT_TRUE(wellFormed(recovery));
    // No card was asked, so none is listed: not the answer a search left from before, nor an
    // all clear; the file's fault is told instead.
    EXPECT_TRUE(lists.empty());
    EXPECT_EQ(failures, std::vector<int>{RecoveryOutcome::kFileRefused});
    EXPECT_EQ(mgr->recovery_target.valid, 0);
}

// A query or recovery that ends in error says whether the file was at fault (none or several
// files, a file refused), the job (an FPGA not running, no card found to recover) or the cards
// (not one net answered); one that ran through its one file sends its list, and no fault, with
// the nets whose cards did not answer (here ports 3 and 14, which have none).
TEST_F(JobsTest, AQueryOrRecoveryEndingInErrorSaysWhy) {
    plug(4, 2);
    searchCycles(3);
    const Bytes good = packedFile(twoScreens());
    struct Case {
        const char* name;
        uint8_t task;
        std::vector<std::pair<std::string, Bytes>> files;
        bool fpga_down;
        std::vector<int> failures;
        size_t lists;
        bool cards_silent = false;  // port 4's cards too
    };
    const Case cases[] = {
        {"no file", 5, {}, false, {RecoveryOutcome::kNoFile}, 0},
        {"a file cut short",
         5,
         {{"QZFX", Bytes(good.begin(), good.begin() + 30)}},
         false,
         {RecoveryOutcome::kFileRefused},
         0},
        {"an FPGA not running", 5, {{"QZFX", good}}, true, {RecoveryOutcome::kQueryFailed}, 0},
        {"a recovery with no card found",
         6,
         {{"QZFX", good}},
         false,
         {RecoveryOutcome::kRecoveryFailed},
         0},
        {"a query through its file", 5, {{"QZFX", good}}, false, {}, 1},
        {"a query no net answered",
         5,
         {{"QZFX", good}},
         false,
         {RecoveryOutcome::kQueryFailed},
         0,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto& card : board->port(4).cards) {
            card.config_id = 0x1111;  // screen 0's: an answer to the query
            card.silent = c.cards_silent;
        }
        removeTree(local("/data/rcvrecovery"));
        for (const auto& [name, bytes] : c.files) writeBytes("/data/rcvrecovery/" + name, bytes);
        if (c.fpga_down) {
            board->fpga[0].version[3] = 0x60;  // reloads itself and does not answer yet
            board->restartFpga(0);
            runTicks(1);
            ASSERT_EQ(mgr->get_fpga_status(), 0);
        }
        failures.clear();
        lists.clear();
        silent_nets.clear();
        recovery.clear();
        ASSERT_TRUE(runTask(c.task, 40000));
        EXPECT_EQ(failures, c.failures);
        EXPECT_EQ(lists.size(), c.lists);
        if (c.lists) {
            EXPECT_TRUE(lists.back().isEmpty()) << "port 4's cards: none to recover";
            EXPECT_EQ(silent_nets.back(), (QStringList{"02/04", "02/15"}));
        }
        EXPECT_TRUE(wellFormed(recovery));
        if (c.fpga_down) {
            board->fpga[0].version[3] = 0x25;
            ASSERT_TRUE(bothLit());
        }
    }
}

TEST_F(JobsTest, ProgressStaysBelowOneHundredThroughALongWait) {
    writeBytes("/data/smartmapping/a.qzfile",
               scanFile({{1, 2, 0, {1, 0xFF, 1, 9}, 200000}}));  // 200 s to acknowledge
    g_qzfile_name = "/data/smartmapping/a.qzfile";
    plug(5, 1);
    searchCycles(3);
    line_type.port = 5;
    board->card(5, 0).silent = true;
    startJob(2);
    runTicks(12000);  // 120 s: the counter would have wrapped at 100
    ASSERT_NE(g_send_para[0], 0);
    ASSERT_FALSE(smart.empty());
    EXPECT_EQ(smart.back(), 99);
    EXPECT_TRUE(std::is_sorted(smart.begin(), smart.end()));
}

namespace {

// A marker write to card RAM 0x40 after the operations that must stop the replay: it shows
// whether the replay went on.
const CardOp kMarker = {1, 1, 0x40, {0x5A}};

}  // namespace

// A file that asks for a sleep above 60 s, or for time limits adding up to more than 60
// minutes, is refused when it is read: the job ends at once as failed, nothing reaches the
// card (the marker after them included), and the next job runs.
TEST_F(JobsTest, AScanFileSleepingPastItsBoundsEndsAsFailed) {
    struct Case {
        const char* name;
        std::vector<CardOp> ops;
    };
    std::vector<CardOp> too_long(62, CardOp{6, 0, 0, {}, 59000});  // 3658 s of legal sleeps
    too_long.push_back(kMarker);
    const Case cases[] = {
        {"one sleep of 0xFFFFFFFF ms", {{6, 0, 0, {}, 0xFFFFFFFF}, kMarker}},
        {"one sleep of 60.001 s", {{6, 0, 0, {}, 60001}, kMarker}},
        {"sixty-two sleeps of 59 s", too_long},
        {"a register write waiting 3601 s", {{1, 2, 0, {1, 0xFF, 1, 9}, 3601000}, kMarker}},
    };
    plug(5, 1);
    searchCycles(3);
    line_type.port = 5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes("/data/smartmapping/a.qzfile", scanFile(c.ops));
        g_qzfile_name = "/data/smartmapping/a.qzfile";  // as the smart-mapping page's Load
        smart.clear();
        startJob(2);
        ASSERT_TRUE(runUntil([] { return g_send_para[0] == 0; }, 1000));
        EXPECT_TRUE(sentOn(5).empty());
        EXPECT_EQ(board->card(5, 0).ram[0x40], 0);
        EXPECT_EQ(mgr->replay_failures, 0u);  // refused before any operation ran
        EXPECT_TRUE(wellFormed(smart));
    }
}

// A replay may take as long as its file's own time limits: eleven sleeps of 59 s (649 s) run
// to their end and the marker after them arrives.
TEST_F(JobsTest, AReplayLongerThanTenMinutesWithinItsOwnLimitsRunsToItsEnd) {
    std::vector<CardOp> ops(11, CardOp{6, 0, 0, {}, 59000});
    ops.push_back(kMarker);
    writeBytes("/data/smartmapping/a.qzfile", scanFile(ops));
    g_qzfile_name = "/data/smartmapping/a.qzfile";
    plug(5, 1);
    searchCycles(3);
    line_type.port = 5;
    startJob(2);
    ASSERT_TRUE(runUntil([] { return g_send_para[0] == 0; }, 66000));
    EXPECT_EQ(board->card(5, 0).ram[0x40], 0x5A);
    EXPECT_EQ(mgr->replay_failures, 0u);
    EXPECT_TRUE(wellFormed(smart));
}

// Cards that stay silent cost every resend: a scan's firmware to four cards of which the last
// three never answer (three times four sends of 10 s, longer than the limits counted once and
// 60 s) still reaches the first card, and the RAM write after it too.
TEST_F(JobsTest, ResendsToSilentCardsStillReachTheCardsThatAnswer) {
    writeBytes("/data/smartmapping/a.qzfile", scanFile({{3, 0, 0, {0xAB}, 10000}, kMarker}));
    g_qzfile_name = "/data/smartmapping/a.qzfile";
    plug(5, 4);
    searchCycles(3);
    line_type.port = 5;
    for (int i = 1; i < 4; ++i) board->card(5, i).silent = true;
    ASSERT_TRUE(runTask(2, 14000));
    EXPECT_EQ(sentOn(5, 0xB4).size(), 13u);  // four sends to each silent card, one to card 0
    EXPECT_EQ(board->card(5, 0).activations, 1);
    EXPECT_EQ(board->card(5, 0).ram[0x40], 0x5A);
    EXPECT_EQ(mgr->replay_failures, 3u);
    EXPECT_TRUE(wellFormed(smart));
}

// A PC that keeps talking to the cards pauses a replay as long as it talks: card frames every
// 0.5 s for 120 s, longer than the replay's bound (a 30 s sleep and the marker, and 60 s), hold
// it still; once the PC is quiet it resumes, sleeps its 30 s and sends the marker.
TEST_F(JobsTest, AReplayPausedByThePcLongerThanItsBoundResumesWhenThePcStops) {
    writeBytes("/data/smartmapping/a.qzfile", scanFile({{6, 0, 0, {}, 30000}, kMarker}));
    g_qzfile_name = "/data/smartmapping/a.qzfile";
    plug(5, 1);
    searchCycles(3);
    line_type.port = 5;
    startJob(2);
    ASSERT_TRUE(runUntil([] { return g_send_para[1] == 19; }));
    for (int frame = 0; frame < 240; ++frame) {
        pcCardFrame(5);
        runTicks(50);
        ASSERT_EQ(g_send_para[1], 19) << "after " << frame << " PC frames";
    }
    EXPECT_EQ(board->card(5, 0).ram[0x40], 0);
    // 0.8 s after the last frame the pause ends and the sleep begins: 10 ms before its end the
    // marker has not gone out.
    runTicks(31 + 2990);
    EXPECT_EQ(board->card(5, 0).ram[0x40], 0);
    ASSERT_TRUE(runUntil([] { return g_send_para[0] == 0; }, 200));
    EXPECT_EQ(board->card(5, 0).ram[0x40], 0x5A);
    EXPECT_EQ(mgr->replay_failures, 0u);
    EXPECT_TRUE(wellFormed(smart));
}

// What the replay itself runs still has its bound (every send's wait, and 60 s): a 30 s sleep
// and the marker may run about 91 s. An FPGA thread held up for 90 s in the middle of the
// sleep has the replay stopped as failed; held up for 85 s, it finishes.
TEST_F(JobsTest, AReplayRunningPastItsOwnBoundIsStopped) {
    writeBytes("/data/smartmapping/a.qzfile", scanFile({{6, 0, 0, {}, 30000}, kMarker}));
    g_qzfile_name = "/data/smartmapping/a.qzfile";
    plug(5, 1);
    searchCycles(3);
    line_type.port = 5;
    struct Case {
        const char* name;
        uint32_t held_ticks;
        uint8_t marker;
        uint32_t failures;
    };
    const Case cases[] = {{"held 85 s", 8500, 0x5A, 0}, {"held 90 s", 9000, 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        board->card(5, 0).ram[0x40] = 0;
        mgr->replay_failures = 0;
        smart.clear();
        startJob(2);
        ASSERT_TRUE(runUntil([] { return g_send_para[1] == 19; }));
        runTicks(100);
        G_timeTicks += c.held_ticks;  // no pass meanwhile
        ASSERT_TRUE(runUntil([] { return g_send_para[0] == 0; }, 3500));
        EXPECT_EQ(board->card(5, 0).ram[0x40], c.marker);
        EXPECT_EQ(mgr->replay_failures, c.failures);
        EXPECT_TRUE(wellFormed(smart));
    }
}

TEST_F(JobsTest, ARecoverySleepingForeverEndsAsFailedAndTheJobsRunAfterIt) {
    const std::vector<CardOp> card = {{6, 0, 0, {}, 0xFFFFFFFF}, kMarker};
    writeBytes("/data/rcvrecovery/QZFX", packedFile({{0x3333, {}, {{5, {card}}}}}));
    plug(5, 1);
    board->card(5, 0).config_id = 0x3333;
    board->card(5, 0).needs_recovery = true;
    searchCycles(3);
    ASSERT_TRUE(runTask(5));
    ASSERT_EQ(mgr->recovery_target.valid, 1);

    recovery.clear();
    startJob(6);
    // Refused when the card's operations are read: nothing is replayed.
    ASSERT_TRUE(runUntil([] { return g_send_para[0] == 0; }, 1000));
    EXPECT_EQ(board->card(5, 0).ram[0x40], 0);
    EXPECT_EQ(mgr->replay_failures, 0u);
    EXPECT_TRUE(wellFormed(recovery));

    // The control channel's jobs, as a test jig starts them, are taken and run to their end.
    sim_control* ctl = sim_control::pInstance();
    EXPECT_EQ(ctl->execute("job usb"), "ok");
    EXPECT_TRUE(runUntil([] { return g_usb_grade == 0; }));
    EXPECT_EQ(ctl->execute("job query"), "ok");
    EXPECT_TRUE(runUntil([] { return g_send_para[0] == 0; }, 20000));
    EXPECT_EQ(mgr->job_events->recoveryOutcome().kind, RecoveryOutcome::kList);
    sim_control::shutdown();
}

// The jobs beside a PC on a link of its own, its frames handed to the link as a transport hands
// them: box commands do not pause the jobs, card frames pause them and stop their waits' clocks.
namespace {

class JobsBesideAPc : public JobsTest {
protected:
    void SetUp() override {
        JobsTest::SetUp();
        ConfigEngine::pInstance();
        g_port = 0;
        comm_hooks::wire();
    }
    void TearDown() override {
        link_session::hooks = {};
        JobsTest::TearDown();
    }
    // Posts the task and runs it pass by pass, the PC's turn (pc, with the tick) before each:
    // the ticks it took, or -1 when it was still running after maxTicks.
    // The ticks the task takes with no PC beside it.
    int ticksAlone(uint8_t task) {
        return ticksToEnd(
            task, [](int) {}, 20000);
    }
    int ticksToEnd(uint8_t task, const std::function<void(int)>& pc, int maxTicks) {
        startJob(task);
        for (int t = 0; t < maxTicks; ++t) {
            if (g_send_para[0] == 0) return t;
            pc(t);
            runTicks(1);
        }
        return g_send_para[0] == 0 ? maxTicks : -1;
    }
    // The PC's device-information poll, a box command; it is answered.
    void poll() {
        const Bytes reply = askSession(pc, body(0x90, {}));
        ASSERT_FALSE(reply.empty());
    }
    // A read of card 0 of port 9 (`port byte 10`), which answers.
    void cardRead() {
        Bytes f = cardFrame(0, 0x67, 1, 10, 0x61, cat({le32(0x40), le16(1)}));
        f.pop_back();  // the link adds the check byte
        const Bytes reply = askSession(pc, f);
        ASSERT_EQ(reply.size(), 19u);
    }
    // The jobs of the cases: a query whose nets on ports 3 and 14 stay silent (screen 1 of
    // twoScreens: 500 ticks each), saving into ports of 8 and 2 silent cards (2000 and 1400
    // ticks), quick lighting of the port of 2 silent cards (1200 ticks each, and the RAM
    // reset's 1200).
    void setUpJobs() {
        writeBytes("/data/rcvrecovery/QZFX", packedFile(twoScreens()));
        plug(4, 2);
        for (auto& c : board->port(4).cards) c.config_id = 0x1111;
        plug(6, 8);
        plug(7, 2);
        plug(9, 1);  // the PC's card
        searchCycles(3);
        for (int port : {6, 7})
            for (auto& c : board->port(port).cards) c.silent = true;
        line_type.port = 7;
    }
    struct Job {
        const char* name;
        uint8_t task;
    };
    static constexpr Job kJobs[] = {{"query", 5}, {"save", 3}, {"lighting", 1}};
    link_session pc{LinkKind::Tcp, "pc"};
};

}  // namespace

// A PC polling the box's device information every 0.5 s holds the card search (pc_cmd_valid)
// but not a job: each ends when it would without the PC.
TEST_F(JobsBesideAPc, APcPollingTheBoxHoldsNoJob) {
    setUpJobs();
    for (const Job& job : kJobs) {
        SCOPED_TRACE(job.name);
        const int alone = ticksAlone(job.task);
        ASSERT_GT(alone, 1000);
        const int polled = ticksToEnd(
            job.task,
            [this](int t) {
                if (t % 50 == 0) poll();
            },
            alone + 10);
        EXPECT_NEAR(polled, alone, 2);
        EXPECT_EQ(pc_cmd_valid, 1) << "the search still gives way to the PC";
    }
}

// A card frame every 2 s pauses a job for 0.8 s of each 2: it ends within its waits / 0.6 and
// 5 s.
TEST_F(JobsBesideAPc, APcCardFrameEveryTwoSecondsDelaysAJobWithinABound) {
    setUpJobs();
    for (const Job& job : kJobs) {
        SCOPED_TRACE(job.name);
        const int alone = ticksAlone(job.task);
        ASSERT_GT(alone, 1000);
        const int bound = alone * 10 / 6 + 500;
        const int paced = ticksToEnd(
            job.task,
            [this](int t) {
                if (t % 200 == 0) cardRead();
            },
            bound);
        EXPECT_NE(paced, -1) << "still running after " << bound << " ticks";
        EXPECT_GT(paced, alone) << "the PC's frames paused it";
    }
}

// Card frames less than 0.8 s apart keep a job paused at its step as long as they come (60 s,
// longer than any of the jobs); once they stop, it ends after the waits it had left.
TEST_F(JobsBesideAPc, CardFramesWithoutAGapKeepAJobPausedUntilTheyStop) {
    setUpJobs();
    for (const Job& job : kJobs) {
        SCOPED_TRACE(job.name);
        const int alone = ticksAlone(job.task);
        ASSERT_GT(alone, 1000);
        startJob(job.task);
        runTicks(300);
        const uint8_t step = g_send_para[1];
        for (int t = 0; t < 6000; t += 50) {
            cardRead();
            runTicks(50);
            ASSERT_EQ(g_send_para[1], step) << "after " << t << " ticks of frames";
        }
        ASSERT_NE(g_send_para[0], 0);
        EXPECT_TRUE(runUntil([] { return g_send_para[0] == 0; }, alone - 300 + 150));
    }
}
