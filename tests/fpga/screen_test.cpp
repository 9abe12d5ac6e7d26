// Screen statuses, the black-screen request, the LED-size handshake with the video-processor
// side, port link state and the tables the PC sees.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "c331/c331_manage.h"
#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "comm/message_deal.h"
#include "core/led_size_handshake.h"
#include "core/utils.h"
#include "fpga_fixture.h"
#include "platform/clock.h"
#include "platform/sim/sim_c331.h"
#include "program_fixture.h"

namespace {
uint16_t word(const std::vector<uint8_t>& b, int at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}
}  // namespace

class LitFpgaTest : public FpgaTest {
protected:
    void SetUp() override {
        FpgaTest::SetUp();
        g_source_online = 2;
        powerUp(0);
        powerUp(1);
        ASSERT_TRUE(bothLit());
        refresh_ids.clear();
        board->clearMessages();
    }
    static led_size_handshake& handshake() { return led_size_handshake::get(); }
    void startHandshake() {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        handshake().start();
    }
    // One reset pulse on each FPGA, then the whole bring-up, lit at its end.
    void expectRestartedAndLit() {
        EXPECT_EQ(resetPulses(0), 1);
        EXPECT_EQ(resetPulses(1), 1);
        ASSERT_TRUE(runUntil([this] { return !mgr->rst_active[0] && !mgr->rst_active[1]; }, 100));
        EXPECT_TRUE(bothLit());
        EXPECT_TRUE(board->fpga[0].lit() && board->fpga[1].lit());
    }
    bool blanked() const {
        for (int i = 0; i < 2; ++i)
            if (!(board->fpga[i].reg(0) & 4) || (board->fpga[i].reg(3) & 0x20)) return false;
        return true;
    }
};

TEST_F(LitFpgaTest, ScreenStatusesSetTheirBitsOnBothFpgas) {
    mgr->SCREEN_fpgactrl_status(0);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(board->fpga[i].reg(0) & 4, 4);
    EXPECT_TRUE(refreshed(1));
    EXPECT_EQ(closeLedAfterRefresh(), 1);
    EXPECT_EQ(ScreenState, 0);

    mgr->SCREEN_fpgactrl_status(1);
    mgr->SCREEN_fpgactrl_status(8);
    mgr->SCREEN_fpgactrl_status(2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(board->fpga[i].reg(0) & 6, 2);
        EXPECT_EQ(board->fpga[i].reg(23) & 1, 1);
    }
    EXPECT_EQ(closeLedAfterRefresh(), 0);
    mgr->SCREEN_fpgactrl_status(5);
    mgr->SCREEN_fpgactrl_status(7);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(board->fpga[i].reg(3) & 0x20, 0);
    EXPECT_EQ(board->fpga[0].reg(23) & 1, 0);

    board->clearMessages();
    mgr->SCREEN_fpgactrl_status(6);
    mgr->SCREEN_fpgactrl_status(10);
    mgr->SCREEN_fpgactrl_status2(2, 0);
    EXPECT_TRUE(board->messages().empty());
    mgr->SCREEN_fpgactrl_status2(10, 1);
    EXPECT_EQ(board->fpga[1].reg(23) & 8, 8);
    EXPECT_EQ(board->fpga[0].reg(23) & 8, 0);
}

TEST_F(FpgaTest, BlackRequestWaitsUntilBothFpgasAreLit) {
    g_source_online = 2;
    powerUp(0);
    powerUp(1);
    runTicks(100);
    userWrite(kPc, ZemRamPara::kRamCloseLed, 1);
    handOver(ZemRamPara::kRamCloseLed);
    runTicks(10);
    EXPECT_EQ(mgr->output_status_request, 1);  // still starting
    ASSERT_TRUE(runUntil([this] { return mgr->output_status_request == 0; }));
    EXPECT_EQ(mgr->get_fpga_status(), 1);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(board->fpga[i].reg(0) & 4, 4);
    EXPECT_EQ(ScreenState, 0);
}

TEST_F(LitFpgaTest, HandshakeBlanksInTimedStepsAndRestartsBothFpgas) {
    para->wr16_no_gen_bump(2116, 0);
    startHandshake();
    const uint32_t t0 = G_timeTicks;
    runTicks(1);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(board->fpga[i].reg(0) & 4, 4);
    EXPECT_TRUE(handshake().blanking());
    EXPECT_EQ(para->rd16(2116), 0);  // the handshake's black is not the user's
    EXPECT_FALSE(refreshed(1));

    ASSERT_TRUE(runUntil([this] { return (board->fpga[0].reg(3) & 0x20) == 0; }, 100));
    const uint32_t t1 = G_timeTicks;
    EXPECT_GE(t1 - t0, 11u);
    ASSERT_TRUE(runUntil([] { return handshake().state() == led_size_handshake::kBlanked; }, 100));
    EXPECT_GE(G_timeTicks - t1, 31u);
    EXPECT_TRUE(blanked());

    // The video-processor side re-initialised its output: both FPGAs restart and light again.
    box().soc.clearWrites();
    handshake().answer(led_size_handshake::kApplied);
    runTicks(1);
    EXPECT_EQ(handshake().state(), led_size_handshake::kIdle);
    EXPECT_EQ(resetPulses(0), 1);
    EXPECT_EQ(resetPulses(1), 1);
    board->clearMessages();
    runTicks(50);
    EXPECT_TRUE(messagesOn(0).empty());  // nothing reaches an FPGA held in reset
    EXPECT_TRUE(messagesOn(1).empty());
    runTicks(1);  // the pulse ends and the bring-up starts over
    EXPECT_EQ(mgr->get_fpga_status(), 0);
    EXPECT_FALSE(board->fpga[0].lit());
    EXPECT_TRUE(bothLit());
    EXPECT_TRUE(board->fpga[0].lit() && board->fpga[1].lit());
}

// No answer from the C331 (its thread stopped, or a turn that never comes): the FPGAs restart
// 5 s after the outputs were blanked, with one line.
TEST_F(LitFpgaTest, WithNoAnswerTheFpgasRestartFiveSecondsAfterTheBlanking) {
    startHandshake();
    runTicks(1);
    EXPECT_EQ(mgr->next_pass_ms(), 10) << "the blanking's timed steps";
    ASSERT_TRUE(runUntil([] { return handshake().state() == led_size_handshake::kBlanked; }, 100));
    // The answer wakes the thread: waiting for it passes as an idle box does.
    EXPECT_EQ(mgr->next_pass_ms(), 100);
    testing::internal::CaptureStderr();
    runTicks(499);
    EXPECT_EQ(resetPulses(0), 0);
    EXPECT_TRUE(blanked());
    runTicks(1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(handshake().state(), led_size_handshake::kIdle);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("no answer from the C331 within 5 s"), std::string::npos) << err;
    expectRestartedAndLit();
}

// The handshake between the FPGA passes, which this thread runs, and the C331 thread on its
// simulated chip. The test holds the C331's turn (its mutex) while the FPGA side moves on, and
// lets it go where the case wants the answer.
class HandshakeWithC331Test : public LitFpgaTest {
protected:
    void SetUp() override {
        LitFpgaTest::SetUp();
        QObject::disconnect(refresh_conn);  // the C331 thread refreshes too
        chip = platform::sim::attachSimC331();
        c331 = c331_manage::pInstance();
        ASSERT_TRUE(waitFor([this] { return c331->thread_state == 8; }));
    }
    // Real time, bounded: what the C331 thread does next.
    static bool waitFor(const std::function<bool()>& pred) {
        for (int i = 0, n = hangMs(5000); i < n && !pred(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // unscaled: a pause
        return pred();
    }
    // Register 11 with a new width (the caller holds the turn): the handshake starts and the
    // apply is raised. Then, as the outcome asks, the PC writes a size out of range with no
    // register 11 (refused), writes the size in force back (unchanged), or nothing (applied).
    void sizeChange(led_size_handshake::Answer outcome) {
        in_force = para->rd16(1378);
        wanted = in_force == 1280 ? 1024 : 1280;
        para->wr16_no_gen_bump(1378, wanted);
        led_size_handshake_locked(para, true);
        c331_manage::raise_apply(1);
        if (outcome == led_size_handshake::kRefused) para->wr16_no_gen_bump(1378, 9000);
        if (outcome == led_size_handshake::kUnchanged) para->wr16_no_gen_bump(1378, in_force);
    }
    bool answered() {
        return waitFor([] { return handshake().state() == led_size_handshake::kRestartAsked; });
    }
    size_t panelInits() const { return chip->writes(0x03, 0x55).size(); }
    // The C331's verdict as the RAM and the chip show it.
    void expectVerdict(led_size_handshake::Answer outcome, size_t inits_before) {
        const bool applied = outcome == led_size_handshake::kApplied;
        EXPECT_EQ(para->rd16(1378), applied ? wanted : in_force);
        EXPECT_EQ(panelInits(), inits_before + (applied ? 1 : 0));
    }
    // Both FPGAs restarted once and lit again.
    void expectRelit() {
        EXPECT_EQ(handshake().state(), led_size_handshake::kIdle);
        expectRestartedAndLit();
    }
    // A user's write, then the C331 thread's apply of it.
    void writeAndApply(Writer by, int addr, uint16_t value) {
        userWrite(by, addr, value);
        zem::MutexLocker turn(c331_manage::c331_mutex);
        c331_manage::raise_apply(1);
    }
    // The C331 apply's hand-over reached the mailbox; a pass takes it.
    bool takeHandOver(UserWordMailbox::Word w) {
        if (!waitFor([&] { return mgr->user_words.waiting(w); })) return false;
        runTicks(1);
        return true;
    }
    static constexpr led_size_handshake::Answer kOutcomes[3] = {
        led_size_handshake::kRefused, led_size_handshake::kUnchanged, led_size_handshake::kApplied};
    std::shared_ptr<platform::sim::SimC331> chip;
    c331_manage* c331 = nullptr;
    uint16_t in_force = 0, wanted = 0;
};

TEST_F(HandshakeWithC331Test, AnAnswerAfterTheBlankingEndedRestartsTheFpgas) {
    for (const auto outcome : kOutcomes) {
        SCOPED_TRACE(int(outcome));
        box().soc.clearWrites();
        const size_t inits = panelInits();
        {
            zem::MutexLocker turn(c331_manage::c331_mutex);
            sizeChange(outcome);
            ASSERT_TRUE(
                runUntil([] { return handshake().state() == led_size_handshake::kBlanked; }, 100));
            runTicks(20);
            EXPECT_TRUE(blanked());
            EXPECT_EQ(resetPulses(0), 0) << "restarted with no answer";
        }
        ASSERT_TRUE(answered());
        expectVerdict(outcome, inits);
        runTicks(1);
        expectRelit();
    }
}

TEST_F(HandshakeWithC331Test, AnAnswerDuringTheBlankingRestartsTheFpgasOnceItEnded) {
    for (const auto outcome : kOutcomes) {
        SCOPED_TRACE(int(outcome));
        box().soc.clearWrites();
        const size_t inits = panelInits();
        const uint32_t polls = c331->counts.blanking_polls;
        {
            zem::MutexLocker turn(c331_manage::c331_mutex);
            sizeChange(outcome);
            runTicks(1);  // black at once
            ASSERT_TRUE(handshake().blanking());
        }
        if (outcome == led_size_handshake::kApplied) {
            // The turn waits for blanked outputs before it re-initialises the panel.
            ASSERT_TRUE(waitFor([&] { return c331->counts.blanking_polls > polls; }));
            EXPECT_EQ(panelInits(), inits);
            ASSERT_TRUE(runUntil([] { return !handshake().blanking(); }, 100));
            ASSERT_TRUE(answered());
        } else {
            ASSERT_TRUE(answered());  // at once
            ASSERT_TRUE(handshake().blanking());
            const uint32_t black = G_timeTicks;
            bool blanked_before = false;
            ASSERT_TRUE(runUntil(
                [&] {
                    if (resetPulses(0) > 0) return true;
                    blanked_before = blanked();
                    return false;
                },
                100));
            EXPECT_TRUE(blanked_before) << "restarted before the LCD output went off";
            EXPECT_GE(G_timeTicks - black, 11u + 31u - 1u);
        }
        expectVerdict(outcome, inits);
        runTicks(1);
        expectRelit();
    }
}

// A second size comes after the C331 answered the first, before the FPGA pass restarted the
// FPGAs: that answer does not count for it, and one restart follows the second's answer.
TEST_F(HandshakeWithC331Test, TwoSizeChangesInARowRestartTheFpgasOnceAfterTheSecondAnswer) {
    box().soc.clearWrites();
    {
        zem::MutexLocker turn(c331_manage::c331_mutex);
        sizeChange(led_size_handshake::kApplied);
        ASSERT_TRUE(
            runUntil([] { return handshake().state() == led_size_handshake::kBlanked; }, 100));
    }
    ASSERT_TRUE(answered());
    EXPECT_EQ(para->rd16(1390), wanted);
    {
        zem::MutexLocker turn(c331_manage::c331_mutex);
        sizeChange(led_size_handshake::kApplied);
        EXPECT_EQ(handshake().state(), led_size_handshake::kBlanked);
        runTicks(20);
        EXPECT_EQ(resetPulses(0), 0) << "restarted before the second size was applied";
        EXPECT_TRUE(blanked());
    }
    ASSERT_TRUE(answered());
    EXPECT_EQ(para->rd16(1390), wanted);
    runTicks(1);
    expectRelit();
}

// The owner's close-LED (RAM 2116, handed over by the C331 apply) outlives a restart of both
// FPGAs by a size change and of one by a USB package: the bring-up ends black, and opening it
// lights the wall.
TEST_F(HandshakeWithC331Test, AClosedLedStaysClosedThroughEveryRestart) {
    // As register 11 does; the C331 thread's apply hands it over.
    const auto setCloseLed = [this](uint16_t closed) {
        writeAndApply(kPc, ZemRamPara::kRamCloseLed, closed);
        return takeHandOver(UserWordMailbox::kCloseLed) && mgr->close_led == closed;
    };
    const auto black = [this](int i) { return (board->fpga[i].reg(0) & 4) != 0; };
    struct Restart {
        const char* name;
        std::function<void()> run;
        int fpgas;  // restarted: 0 and 1, or 0 alone
    };
    const Restart restarts[] = {
        {"size change",
         [this] {
             {
                 zem::MutexLocker turn(c331_manage::c331_mutex);
                 sizeChange(led_size_handshake::kApplied);
             }
             ASSERT_TRUE(runUntil([] { return !handshake().blanking(); }, 100));
             ASSERT_TRUE(answered());
         },
         2},
        {"USB package of FPGA 0", [this] { mgr->reset_fpga_rst(0, "its flash was upgraded"); }, 1},
    };
    for (const Restart& r : restarts) {
        SCOPED_TRACE(r.name);
        box().soc.clearWrites();
        ASSERT_TRUE(setCloseLed(1));
        ASSERT_TRUE(runUntil([&] { return black(0) && black(1); }, 100));
        r.run();
        ASSERT_TRUE(runUntil([&] { return resetPulses(r.fpgas - 1) == 1; }, 100));
        ASSERT_TRUE(runUntil([this] { return !mgr->rst_active[0] && !mgr->rst_active[1]; }, 100));
        ASSERT_TRUE(bothLit()) << "the bring-up ends";
        runTicks(10);
        EXPECT_TRUE(black(0) && black(1));
        EXPECT_EQ(closeLedAfterRefresh(), 1);

        ASSERT_TRUE(setCloseLed(0));
        ASSERT_TRUE(runUntil([&] { return !black(0) && !black(1); }, 100));
        EXPECT_TRUE(board->fpga[0].lit() && board->fpga[1].lit());
        EXPECT_EQ(closeLedAfterRefresh(), 0);
    }
}

// The FPGA side's own black (as the schedule's off time makes it) lands in RAM 2116 and the C331
// apply passes it back; then a user writes the very same value. The apply hands the write over
// by its generation, so the FPGA side's next change of its own, built on it, lands too.
TEST_F(HandshakeWithC331Test, AUserWriteOfTheEchoedCloseLedReachesTheFpgaSide) {
    for (const Writer by : {kPc, kPanel}) {
        SCOPED_TRACE(by == kPc ? "PC" : "panel");
        // The refresh's apply passes the echo back.
        const auto passedBack = [this] {
            {
                zem::MutexLocker turn(c331_manage::c331_mutex);
                c331_manage::raise_apply(1);
            }
            return takeHandOver(UserWordMailbox::kCloseLed);
        };
        mgr->SCREEN_fpgactrl_status(0);
        ASSERT_EQ(closeLedAfterRefresh(), 1);
        ASSERT_TRUE(passedBack());
        writeAndApply(by, ZemRamPara::kRamCloseLed, 1);
        ASSERT_TRUE(takeHandOver(UserWordMailbox::kCloseLed))
            << "a write of the value in force was not handed over";
        mgr->SCREEN_fpgactrl_status(1);
        EXPECT_EQ(closeLedAfterRefresh(), 0) << "the FPGA side's echo is dropped";
        ASSERT_TRUE(passedBack());
    }
}

// The FPGA side blacks the wall on its own (the schedule's off time), its echo lands in RAM 2116
// and the C331 apply passes it back; before a pass takes it, the FPGA side lights the wall on
// its own again (the on time). The echo passed back is no user's write: the wall stays lit.
TEST_F(HandshakeWithC331Test, AnEchoPassedBackAfterTheFpgaSideChangedAgainChangesNothing) {
    mgr->SCREEN_fpgactrl_status(0);
    ASSERT_EQ(closeLedAfterRefresh(), 1);
    {
        zem::MutexLocker turn(c331_manage::c331_mutex);
        c331_manage::raise_apply(1);
    }
    ASSERT_TRUE(waitFor([this] { return mgr->user_words.waiting(UserWordMailbox::kCloseLed); }));
    mgr->SCREEN_fpgactrl_status(1);
    runTicks(2);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(board->fpga[i].reg(0) & 4, 0) << "fpga " << i;
    EXPECT_EQ(ScreenState, 1);
    EXPECT_EQ(closeLedAfterRefresh(), 0);
}

// The brightness in force is echoed into RAM 2176, whatever the table's mode. A PC's block
// write over 2170..2179 with the values it read, applied, hands the brightness over by its
// generation: the FPGA side keeps its table and leaves the flash. Another brightness written the
// same way is a manual one.
TEST_F(HandshakeWithC331Test, ABlockWriteOfTheBrightnessInForceKeepsTheTable) {
    const auto blockWrite = [this](uint16_t brightness) {
        zem::MutexLocker turn(c331_manage::c331_mutex);
        uint8_t block[10];
        std::memcpy(block, para->ram.data() + 2170, sizeof block);
        block[6] = uint8_t(brightness);
        block[7] = uint8_t(brightness >> 8);
        ASSERT_EQ(para->ZemRamParaDeal(block, sizeof block, 2170), 0);
        c331_manage::raise_apply(1);
    };
    // Half-hour (1, 17), sensor (2) and manual (16) tables.
    for (const uint8_t mode : {17, 1, 2, 16}) {
        SCOPED_TRACE(testing::Message() << "table mode " << int(mode));
        std::vector<uint8_t> table = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, mode};
        table.resize(fpga_manage::kBrightTableSize, 100);
        writeFlash(fpga_manage::kBrightFlashAddr, table);
        g_change[17] = 1;  // the table changed in flash
        runTicks(1100);
        ASSERT_EQ(mgr->bri_mode, mode);
        para->refresh_begin();  // the echo lands
        para->refresh_end();
        const uint16_t in_force = para->rd16_locked(fpga_manage::kRamBrightness);
        const std::vector<uint8_t> stored = flash(fpga_manage::kBrightFlashAddr, 10);
        blockWrite(in_force);
        ASSERT_TRUE(takeHandOver(UserWordMailbox::kBrightness));
        EXPECT_EQ(mgr->bri_mode, mode) << "switched to manual";
        EXPECT_EQ(flash(fpga_manage::kBrightFlashAddr, 10), stored) << "the flash table";
        const uint16_t other = in_force == 60 ? 61 : 60;
        blockWrite(other);
        ASSERT_TRUE(takeHandOver(UserWordMailbox::kBrightness));
        EXPECT_EQ(mgr->bri_mode, 16u);
        EXPECT_EQ(
            flash(fpga_manage::kBrightFlashAddr, 10),
            (std::vector<uint8_t>{0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 16, uint8_t(other * 255 / 100)}));
    }
}

// The same with the first answer during the blanking: the second size keeps the rest of the
// blanking, and the C331 sets up its panel only once the outputs are blanked.
TEST_F(HandshakeWithC331Test, ASecondSizeAfterAnAnswerDuringTheBlankingWaitsForItsEnd) {
    box().soc.clearWrites();
    {
        zem::MutexLocker turn(c331_manage::c331_mutex);
        sizeChange(led_size_handshake::kRefused);  // answered without waiting for the blanking
        runTicks(1);                               // black at once
    }
    ASSERT_TRUE(answered());
    ASSERT_TRUE(handshake().blanking());
    const size_t inits = panelInits();
    const uint32_t polls = c331->counts.blanking_polls;
    {
        zem::MutexLocker turn(c331_manage::c331_mutex);
        sizeChange(led_size_handshake::kApplied);
        EXPECT_TRUE(handshake().blanking()) << "the blanking cut short";
    }
    ASSERT_TRUE(waitFor([&] { return c331->counts.blanking_polls > polls; }));
    EXPECT_EQ(panelInits(), inits) << "the panel set up before the outputs were blanked";
    ASSERT_TRUE(runUntil([] { return !handshake().blanking(); }, 100));
    EXPECT_TRUE(blanked());
    ASSERT_TRUE(answered());
    expectVerdict(led_size_handshake::kApplied, inits);
    runTicks(1);
    expectRelit();
}

// What an FPGA's bring-up takes of the LED screen: the set in force, its size and its image
// offset, whatever took them and however the FPGAs restart; never a PC's words still waiting for
// their register 11. A PC on a link of its own writes the RAM; FPGA 0 loads a port table from its
// flash, which the offset moves. On a fixture with the C331 thread or without it (whose panel
// set-up then never comes).
template <class Base>
class InForceOn : public Base {
protected:
    void SetUp() override {
        Base::SetUp();
        comm_hooks::wire();  // register 11 asks whether both FPGAs run
        this->writeFlash(fpga_manage::kParaFlashAddr, FpgaTest::savedPortTable());
    }
    void pcWrites(const Bytes& frame) { ASSERT_EQ(status(askSession(pc, frame)), 0); }
    // Where FPGA 0's last bring-up put port 1 (saved at 100, 40).
    std::pair<int, int> port1() const {
        const auto a = this->board->fpga[0].area(1, 0, 64);
        return {word(a, 19), word(a, 21)};
    }
    // The source as both FPGAs measure it.
    void input(uint16_t width, uint16_t height) {
        zem::MutexLocker lock(this->board->mutex);
        for (auto& f : this->board->fpga) f.setInput(width, height, 833333);
    }
    // FPGA 0 restarted on a source just under half the screen: its bring-up waits in its step 7
    // until the source measures half.
    void expectHeldUnderHalfOf(uint16_t width, uint16_t height) {
        input(uint16_t(width / 2 - 1), uint16_t(height / 2 - 1));
        this->mgr->reset_fpga_rst(0, "a test");
        ASSERT_TRUE(this->runUntil(
            [this] { return !this->mgr->rst_active[0] && this->mgr->start_step[0] == 7; }, 1000))
            << this->state();
        this->runTicks(50);
        EXPECT_EQ(this->mgr->start_step[0], 7) << "lit on a source under half the screen";
        input(width / 2, height / 2);
        ASSERT_TRUE(this->bothLit());
    }
    link_session pc{LinkKind::Tcp, "pc"};
};
class InForceTest : public InForceOn<HandshakeWithC331Test> {};
class InForceBeforeItsSetUpTest : public InForceOn<LitFpgaTest> {};

TEST_F(InForceTest, AnFpgaResetWhileAPcsLedWordsWaitLightsWithTheScreenInForce) {
    pcWrites(writeRam(1378, le16(16000)));  // more than the box drives
    pcWrites(writeRam(1382, cat({le16(10), le16(4)})));
    box().soc.clearWrites();
    const int starts = board->fpga[0].starts();
    expectHeldUnderHalfOf(1920, 1080);  // held by the width in force, not by none
    EXPECT_TRUE(bothLit()) << "held by a width never taken";
    EXPECT_EQ(board->fpga[0].starts(), starts + 1);
    EXPECT_EQ(port1(), std::make_pair(100, 40)) << "moved by an offset never taken";
}

// A size or panel taken, then the FPGAs' next bring-up: each step starts from the one before.
// The source measures half the new size: enough for it, too little for the size before.
TEST_F(InForceTest, TheBringUpAfterATakenChangeLightsWithTheNewScreen) {
    struct Step {
        const char* name;
        uint16_t splice, width, height, out1_width, out1_height;
        bool fpga1_down;  // when register 11 comes
        bool handshake;
    };
    const Step steps[] = {
        {"a size at register 11", 3, 1280, 1024, 512, 1024, false, true},
        {"a splice alone: no handshake", 2, 1280, 1024, 1280, 400, false, false},
        {"a size while FPGA 1 is down: no handshake", 2, 1024, 768, 1024, 300, true, false},
    };
    std::pair<int, int> offset_before{0, 0};
    uint16_t width_before = 1920;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        const std::array<uint16_t, 7> geometry = c331_manage::geometry_words(
            c331_manage::panel_geometry(s.width, s.height, s.out1_width, s.out1_height, s.splice));
        const std::pair<int, int> offset{geometry[0], geometry[1]};
        ASSERT_NE(offset, offset_before) << "a step that changes no offset";
        ASSERT_TRUE(s.width == width_before || s.width / 2 < width_before / 2)
            << "an input that the size before would light too";
        input(s.width / 2, s.height / 2);
        if (s.fpga1_down) {
            raviksource::pInstance()->fpga_board_state[1] = 1;
            mgr->reset_fpga_rst(1, "its board went away");
            ASSERT_TRUE(runUntil([this] { return !mgr->rst_active[1]; }, 100));
        }
        box().soc.clearWrites();
        pcWrites(writeRam(1376, le16(s.splice)));
        pcWrites(writeRam(1378, cat({le16(s.width), le16(s.height)})));
        pcWrites(writeRam(1412, cat({le16(s.out1_width), le16(s.out1_height)})));
        pcWrites(writeReg(11, 0xFF, {0x01}));
        EXPECT_EQ(handshake().blanking(), s.handshake);
        ASSERT_TRUE(runUntil([] { return !handshake().blanking(); }, 100));
        ASSERT_TRUE(answered());
        runTicks(1);
        if (s.fpga1_down) powerUp(1);
        expectRestartedAndLit();
        EXPECT_EQ(port1(), std::make_pair(100 + offset.first, 40 + offset.second));
        expectHeldUnderHalfOf(s.width, s.height);
        EXPECT_EQ(port1(), std::make_pair(100 + offset.first, 40 + offset.second));
        offset_before = offset;
        width_before = s.width;
    }
}

// A PC's global offset (RAM 1382, 1384) alone sets no panel up: the register 11 that takes it
// moves the ports at the FPGAs' next bring-up.
TEST_F(InForceTest, APcsOffsetTakenAtRegister11MovesTheNextBringUp) {
    pcWrites(writeRam(1382, cat({le16(10), le16(4)})));
    pcWrites(writeReg(11, 0xFF, {0x01}));
    EXPECT_FALSE(handshake().blanking()) << "an offset alone restarts nothing";
    box().soc.clearWrites();
    mgr->reset_fpga_rst(0, "a test");
    ASSERT_TRUE(runUntil([this] { return !mgr->rst_active[0]; }, 100));
    ASSERT_TRUE(bothLit());
    EXPECT_EQ(port1(), std::make_pair(110, 44));
}

// A size taken at register 11 whose panel set-up has not come (here it never does: no C331
// thread runs): the FPGAs restart 5 s after the blanking, and their bring-up reads the screen
// before the change or after it, whole; never the new size with the old offset. The source
// measures half the new size: too little for the old.
TEST_F(InForceBeforeItsSetUpTest, ABringUpBeforeThePanelSetUpReadsTheOldOrTheNewScreenWhole) {
    const std::array<uint16_t, 7> geometry =
        c331_manage::geometry_words(c331_manage::panel_geometry(1280, 1024, 512, 1024, 3));
    const std::pair<int, int> moved{100 + geometry[0], 40 + geometry[1]};
    ASSERT_NE(moved, std::make_pair(100, 40)) << "a set whose offset is the old one";
    box().soc.clearWrites();
    pcWrites(writeRam(1376, le16(3)));
    pcWrites(writeRam(1378, cat({le16(1280), le16(1024)})));
    pcWrites(writeRam(1412, cat({le16(512), le16(1024)})));
    pcWrites(writeReg(11, 0xFF, {0x01}));
    ASSERT_TRUE(handshake().blanking());
    input(640, 512);
    ASSERT_TRUE(runUntil([this] { return resetPulses(0) == 1 && !mgr->rst_active[0]; }, 1000));
    ASSERT_TRUE(runUntil([this] { return mgr->start_step[0] == 7; }, 1000)) << state();
    const bool new_size = runUntil([this] { return mgr->start_step[0] != 7; }, 100);
    if (new_size) {
        EXPECT_TRUE(bothLit());
        EXPECT_EQ(port1(), moved) << "the new size with the old offset";
    } else {
        EXPECT_EQ(port1(), std::make_pair(100, 40)) << "the old size with the new offset";
    }
}

// The start's set in force comes with the offset its panel set-up is going to write, not the
// offset words the parameter file holds: the FPGAs' first bring-up, before the C331 has set
// its panel up, moves the ports by it.
TEST_F(FpgaTest, TheFirstBringUpTakesTheOffsetOfTheSetLoaded) {
    std::string file(default_para_ramlist.begin(), default_para_ramlist.end());
    const auto put = [&file](int addr, uint16_t v) {
        file[size_t(addr - 766)] = char(v & 0xFF);
        file[size_t(addr - 765)] = char(v >> 8);
    };
    const std::pair<int, uint16_t> words[] = {{1376, 3},    {1378, 1280}, {1380, 1024}, {1412, 512},
                                              {1414, 1024}, {1382, 7},    {1384, 3}};
    for (const auto& [addr, v] : words) put(addr, v);
    writeFile(ZemRamPara::kParaFile, file);
    para->reload();
    // The store outlives the case: the next one starts from the defaults, not this set.
    struct DefaultsAtEnd {
        ZemRamPara* store;
        ~DefaultsAtEnd() {
            std::remove(platform::path(ZemRamPara::kParaFile).c_str());
            store->reload();
        }
    } defaults_at_end{para};
    const std::array<uint16_t, 7> geometry =
        c331_manage::geometry_words(c331_manage::panel_geometry(1280, 1024, 512, 1024, 3));
    ASSERT_NE(std::make_pair(geometry[0], geometry[1]), std::make_pair(uint16_t(7), uint16_t(3)));
    writeFlash(fpga_manage::kParaFlashAddr, savedPortTable());
    {
        zem::MutexLocker lock(board->mutex);
        for (auto& f : board->fpga) f.setInput(640, 512, 833333);
    }
    g_source_online = 2;
    powerUp(0);
    powerUp(1);
    ASSERT_TRUE(bothLit());
    const auto a = board->fpga[0].area(1, 0, 64);
    EXPECT_EQ(std::make_pair(int(word(a, 19)), int(word(a, 21))),
              std::make_pair(100 + geometry[0], 40 + geometry[1]));
}

TEST_F(LitFpgaTest, LinkStateAndItsRefresh) {
    board->fpga[1].setLinks(0xFF, 0x03);
    mgr->MCU_REG_func[0][80] = 0;  // FPGA 0 not running
    EXPECT_EQ(mgr->get_wlan_state(), 0x3FFu << 10);
    mgr->MCU_REG_func[0][80] = 3;
    board->fpga[0].setLinks(0x05, 0x02);
    EXPECT_EQ(mgr->get_wlan_state(), (0x3FFu << 10) | 0x205u);

    runTicks(1);  // the idle pass watches the links
    EXPECT_TRUE(refreshed(11));
    refresh_ids.clear();
    runTicks(3);
    EXPECT_FALSE(refreshed(11));  // unchanged
}

TEST_F(FpgaTest, NoLinkRefreshWhileAnFpgaIsNotLit) {
    g_source_online = 1;
    powerUp(0);
    powerUp(1);
    ASSERT_TRUE(runUntil([this] { return mgr->start_step[1] == 16; }));
    board->fpga[0].setLinks(0x0F, 0);
    mgr->check_wlanonline_state();
    EXPECT_FALSE(refreshed(11));
    EXPECT_EQ(mgr->wlan_words[0], 0);
}

TEST_F(LitFpgaTest, LinkLossClearsThePortsCardCount) {
    board->fpga[0].setLinks(0x0F, 0x00);
    mgr->update_eth_state(0);
    uint8_t counts[2] = {5, 0};
    mgr->MCU_RAM_PARA_func[0][108] = 5;
    mgr->MCU_RAM_PARA_func[0][112] = 1;
    mgr->write_fpga_ram(counts, 108, 2, 1, 0);
    board->fpga[0].setLinks(0x0B, 0x00);  // port 2 lost
    mgr->update_eth_state(0);
    const auto a = board->fpga[0].area(1, 0, 1024);
    EXPECT_EQ(word(a, 108), 0);
    EXPECT_EQ(a[112], 0);
    EXPECT_EQ(a[96] & 0x1B, 0x13);  // ports 0, 1, 3 linked; bit 3 (port 2) clear
    EXPECT_EQ(mgr->MCU_RAM_PARA_func[0][96] & 0x08, 0);
}

TEST_F(LitFpgaTest, CommandTableSavesTheBrightnessTableThroughRegister2) {
    uint8_t* cmd = mgr->MCU_RAM_CMD.data();
    cmd[0] = 0xAA, cmd[1] = 3, cmd[2] = 0xAA, cmd[6] = 49, cmd[7] = 0;
    cmd[8] = 1;  // half-hour table
    for (int k = 0; k < 48; ++k) cmd[9 + k] = uint8_t(k);
    board->clearMessages();
    mgr->write_to_register(2, 0x04, 0x04, 0);
    EXPECT_EQ(board->fpga[0].reg(2) & 0x06, 0);  // the FPGA never sees the handler bit
    // The handler's flash traffic comes before the register-2 byte.
    const auto msgs = board->messages();
    size_t last_flash = 0, reg2_write = 0;
    for (size_t i = 0; i < msgs.size(); ++i) {
        if (msgs[i].node == 2) last_flash = i;
        if (msgs[i].header && msgs[i].tx[0] == 0x04 && msgs[i].tx[2] == 2) reg2_write = i;
    }
    EXPECT_GT(last_flash, 0u);
    EXPECT_GT(reg2_write, last_flash);
    const auto& mem = board->flash[0].mem;
    EXPECT_EQ(mem[0x30F000], 0xAA);
    EXPECT_EQ(mem[0x30F000 + 9 + 47], 47);
    EXPECT_EQ(mem[0x30F000 + 57], 0xFF);
    EXPECT_EQ(g_change[17], 1u);
}

TEST_F(LitFpgaTest, CommandTableLengthIsBoundedByTheTable) {
    uint8_t* cmd = mgr->MCU_RAM_CMD.data();
    std::fill(cmd, cmd + 1024, 0x11);
    cmd[0] = 0xAA, cmd[1] = 2, cmd[2] = 0xAA, cmd[6] = 0xFF, cmd[7] = 0xFF;
    auto& mem = board->flash[0].mem;
    std::fill(mem.begin() + 0x30F000, mem.begin() + 0x310000, 0x00);
    mgr->Dealwith_mcu_ram();
    EXPECT_EQ(mem[0x30E000 + 1023], 0x11);
    EXPECT_EQ(mem[0x30E000 + 1024], 0xFF);
    EXPECT_EQ(mem[0x30F000], 0x00);  // the next sector is untouched
    EXPECT_EQ(mgr->MCU_REG_func[0][66], 1);

    cmd[2] = 0x55;  // erase only
    mgr->Dealwith_mcu_ram();
    EXPECT_EQ(mem[0x30E000], 0xFF);
    EXPECT_EQ(mgr->MCU_REG_func[0][66], 0);
}

TEST_F(FpgaTest, GeometryHelpers) {
    uint16_t x, y, w, h;
    fpga_manage::get_eth_param_addr(1, &x, &y, &w, &h);
    EXPECT_EQ(x, 19);
    EXPECT_EQ(y, 21);
    EXPECT_EQ(w, 23);
    EXPECT_EQ(h, 25);
    fpga_manage::get_eth_param_addr(9, &x, &y, nullptr, nullptr);
    EXPECT_EQ(x, 584);
    fpga_manage::get_eth_param_addr(16, &x, nullptr, nullptr, nullptr);
    EXPECT_EQ(x, 8);

    panelOffset(10, 0);
    mgr->MCU_RAM_ETH_BACK_PARA_func[0][0] = uint8_t(1000 & 0xFF);
    mgr->MCU_RAM_ETH_BACK_PARA_func[0][1] = uint8_t(1000 >> 8);
    mgr->T57_mcu_set_net_para(0);
    uint16_t sw, sh;
    mgr->get_eth_lcd_w_h(0, &sw, &sh);
    EXPECT_EQ(sw, 1024);

    mgr->eth_param_init(1, 1);
    mgr->MCU_RAM_PARA_func[1][32] = 40;  // port 2 x = 40
    uint16_t mx, my, r, b;
    mgr->get_eth_min_x_y(1, &mx, &my);
    mgr->get_eth_max_border(1, &r, &b);
    EXPECT_EQ(mx, 0);
    EXPECT_EQ(my, 0);
    EXPECT_EQ(r, 1320);
    EXPECT_EQ(b, 512);
}

TEST_F(FpgaTest, PcTableAccessIsBounded) {
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(mgr->pc_write_table(1, 1, 1020, data, 4), 0);
    EXPECT_EQ(mgr->MCU_RAM_PARA_func[1][1023], 4);
    EXPECT_EQ(mgr->pc_write_table(1, 1, 1021, data, 4), 1);
    EXPECT_EQ(mgr->pc_write_table(1, 1, 0xFFFFFFFF, data, 4), 1);
    EXPECT_EQ(mgr->pc_write_table(99, 0, 0, data, 4), 1);
    EXPECT_EQ(mgr->pc_write_table(10, 0, 0, data, 1), 1);  // the mirror is read-only
    uint8_t out[4] = {};
    EXPECT_EQ(mgr->pc_read_table(1, 1, 1020, out, 4), 0);
    EXPECT_EQ(out[3], 4);
    EXPECT_EQ(mgr->pc_read_table(8, 0, 24, out, 4), 0);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 0x11);  // version bytes set at start
    EXPECT_EQ(mgr->pc_read_table(4, 0, 130, out, 7), 1);
    mgr->MCU_REG_func[1][169] = 0x5A;
    EXPECT_EQ(mgr->pc_read_table(10, 1, 169, out, 1), 0);
    EXPECT_EQ(out[0], 0x5A);
    EXPECT_EQ(mgr->pc_read_table(10, 1, 169, out, 2), 1);
}

TEST_F(LitFpgaTest, IdleLinkWatchWaitsWhileThePcIsTalking) {
    pc_cmd_time = G_timeTicks.load();
    pc_cmd_valid = 1;
    board->fpga[0].setLinks(0x03, 0x00);
    runTicks(80);
    EXPECT_FALSE(refreshed(11));
    EXPECT_EQ(pc_cmd_valid, 1);
    ASSERT_TRUE(runUntil([] { return pc_cmd_valid == 0; }, 5));
    runTicks(1);
    EXPECT_TRUE(refreshed(11));
}

TEST_F(LitFpgaTest, ManualBrightnessCommandSetsTheLevelAndSavesIt) {
    uint8_t* cmd = mgr->MCU_RAM_CMD.data();
    cmd[0] = 0xAA, cmd[1] = 3, cmd[2] = 0xAA, cmd[6] = 49, cmd[7] = 0;
    cmd[8] = 0x10;  // manual 0..255 (bit 4 is not part of the mode)
    cmd[9] = 12;
    mgr->Dealwith_mcu_ram();
    EXPECT_EQ(mgr->MCU_REG_func[0][64], 12);
    EXPECT_EQ(g_change[16], 12u);
    EXPECT_EQ(board->flash[0].mem[0x30F000 + 9], 12);

    cmd[8] = 1;  // half-hour table: the manual level stays
    cmd[9] = 5;
    mgr->Dealwith_mcu_ram();
    EXPECT_EQ(mgr->MCU_REG_func[0][64], 12);
    EXPECT_EQ(board->flash[0].mem[0x30F000 + 8], 1);

    cmd[0] = 0x55;  // no command present
    cmd[9] = 3;
    mgr->Dealwith_mcu_ram();
    EXPECT_EQ(mgr->MCU_REG_func[0][64], 12);
}

// Blanking, blanked and restart asked are all inside the handshake: a black there is not the
// user's. Only once idle again does the close-LED word follow the register.
TEST_F(LitFpgaTest, BlackDuringTheHandshakeLeavesTheUsersSetting) {
    const std::function<void()> reach[] = {
        [] {},  // blanking under way
        [this] {
            ASSERT_TRUE(
                runUntil([] { return handshake().state() == led_size_handshake::kBlanked; }));
        },
        [] { handshake().answer(led_size_handshake::kRefused); },
    };
    const led_size_handshake::State states[] = {led_size_handshake::kBlanking,
                                                led_size_handshake::kBlanked,
                                                led_size_handshake::kRestartAsked};
    startHandshake();
    for (int k = 0; k < 3; ++k) {
        reach[k]();
        ASSERT_EQ(handshake().state(), states[k]);
        refresh_ids.clear();
        mgr->write_to_register(0, 0x04, 0x04, 0);
        EXPECT_EQ(ScreenState, 0);
        EXPECT_EQ(closeLedAfterRefresh(), 0) << "state " << k;
        EXPECT_FALSE(refreshed(1)) << "state " << k;
    }
    handshake().clear();
    mgr->write_to_register(0, 0x04, 0x00, 0);
    EXPECT_EQ(ScreenState, 1);
    EXPECT_TRUE(refreshed(1));
}

// The user (a PC or the panel) turns the picture back on while the pass applies the black it
// asked for: after the first FPGA's register write echoed into the parameter RAM, before the
// second's (the hand-over lands between the pass's read of the close-LED and its last write),
// or after both. The user's open is kept in the RAM at the next refresh and reaches the wall.
TEST_F(LitFpgaTest, PictureRequestedWhileBlackIsAppliedIsNotLost) {
    for (const Writer by : {kPc, kPanel}) {
        for (const int at_echo : {1, 2}) {
            SCOPED_TRACE(testing::Message()
                         << (by == kPc ? "PC" : "panel") << ", at echo " << at_echo);
            userWrite(by, ZemRamPara::kRamCloseLed, 1);
            handOver(ZemRamPara::kRamCloseLed);
            int echoes = 0;
            auto conn = QObject::connect(para, &ZemRamPara::sig_update_para, [&](int id) {
                if (id != 1 || ++echoes != at_echo) return;
                // Another thread, as the C331 thread and the PC's are: this pass holds rmw_mutex,
                // which comes after the C331 mutex.
                std::thread([&] {
                    userWrite(by, ZemRamPara::kRamCloseLed, 0);
                    handOver(ZemRamPara::kRamCloseLed);
                }).join();
            });
            runTicks(1);
            QObject::disconnect(conn);
            ASSERT_EQ(echoes, 2);
            EXPECT_EQ(closeLedAfterRefresh(), 0) << "the echo of the black wrote over the open";
            runTicks(2);
            EXPECT_EQ(mgr->output_status_request, 0);
            for (int i = 0; i < 2; ++i) EXPECT_EQ(board->fpga[i].reg(0) & 4, 0) << "fpga " << i;
            EXPECT_EQ(ScreenState, 1);
            EXPECT_EQ(closeLedAfterRefresh(), 0);
        }
    }
}

// The FPGA side blacks the wall on its own (as the schedule's off time does) and echoes it into
// RAM 2116; before the next refresh writes the echo, a user writes the word. What the user wrote
// last is kept, and the wall follows it once the C331 apply hands it over. A write of the very
// value the echo posts is the user's too: the FPGA side's next echo, built on it, lands.
TEST_F(LitFpgaTest, TheUsersCloseLedWrittenAfterAnEchoIsKept) {
    const auto black = [this] {
        return (board->fpga[0].reg(0) & 4) && (board->fpga[1].reg(0) & 4);
    };
    struct Row {
        const char* name;
        std::vector<uint16_t> writes;
    };
    const Row rows[] = {
        {"the very value the echo posts", {1}},
        {"closed and opened again", {1, 0}},
    };
    for (const Writer by : {kPc, kPanel}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << (by == kPc ? "PC, " : "panel, ") << row.name);
            userWrite(by, ZemRamPara::kRamCloseLed, 0);
            handOver(ZemRamPara::kRamCloseLed);
            runTicks(2);
            ASSERT_EQ(closeLedAfterRefresh(), 0);
            mgr->SCREEN_fpgactrl_status(0);  // the FPGA side's own black, posted
            for (uint16_t v : row.writes) userWrite(by, ZemRamPara::kRamCloseLed, v);
            const uint16_t last = row.writes.back();
            EXPECT_EQ(closeLedAfterRefresh(), last) << "the echo wrote over the user's";
            handOver(ZemRamPara::kRamCloseLed);
            runTicks(2);
            EXPECT_EQ(black(), last == 1);
            mgr->SCREEN_fpgactrl_status(last ? 1 : 0);  // the FPGA side's next change of its own
            EXPECT_EQ(closeLedAfterRefresh(), last ? 0 : 1) << "its echo is dropped";
        }
    }
}

TEST_F(LitFpgaTest, LinkLossWritesOnlyThatPortsCountAndByte) {
    board->fpga[0].setLinks(0xFF, 0x03);
    mgr->update_eth_state(0);
    const uint8_t port1[2] = {9, 0};  // the FPGA's count of port 1, beside port 0's
    mgr->write_fpga_ram(port1, 102, 2, 1, 0);
    board->clearMessages();
    board->fpga[0].setLinks(0xFE, 0x03);  // port 0 lost
    mgr->update_eth_state(0);

    std::vector<std::vector<uint8_t>> writes;  // header and data of each area write
    const auto msgs = messagesOn(0);
    for (size_t k = 0; k + 1 < msgs.size(); ++k)
        if (msgs[k].header && msgs[k].tx[0] == 0x02) {
            auto w = msgs[k].tx;
            w.insert(w.end(), msgs[k + 1].tx.begin(), msgs[k + 1].tx.end());
            writes.push_back(w);
        }
    const std::vector<std::vector<uint8_t>> want = {
        {0x02, 1, 96, 0, 0x1E}, {0x02, 1, 100, 0, 0, 0}, {0x02, 1, 104, 0, 0}};
    EXPECT_EQ(writes, want);
    EXPECT_EQ(board->fpga[0].area(1, 102, 2), (std::vector<uint8_t>{9, 0}));
}

TEST_F(LitFpgaTest, OnOffTableThatCouldNotBeSavedIsNotMarkedSaved) {
    platform::installClock(std::make_unique<platform::FakeClock>());
    board->flash[0].stuck_busy = true;
    uint8_t* cmd = mgr->MCU_RAM_CMD.data();
    cmd[0] = 0xAA, cmd[1] = 2, cmd[2] = 0xAA, cmd[6] = 4, cmd[7] = 0, cmd[8] = 1;
    mgr->Dealwith_mcu_ram();
    EXPECT_EQ(mgr->MCU_REG_func[0][66], 0);
    board->flash[0].stuck_busy = false;
    mgr->Dealwith_mcu_ram();
    EXPECT_EQ(mgr->MCU_REG_func[0][66], 1);
    EXPECT_EQ(board->flash[0].mem[0x30E000 + 8], 1);
    platform::installClock(nullptr);
}

TEST_F(FpgaTest, PcTableTrafficDuringBringUpNeitherBlocksNorBreaksIt) {
    std::atomic<bool> stop{false};
    std::atomic<int> served{0};
    std::thread pc([&] {
        uint8_t buf[170];
        while (!stop) {
            served += mgr->pc_read_table(10, 0, 0, buf, 170) == 0;
            served += mgr->pc_read_table(1, 1, 0, buf, 128) == 0;
            served += mgr->pc_write_table(9, 0, 0, buf, 16) == 0;
            std::this_thread::yield();
        }
    });
    EXPECT_TRUE(eventually([&] { return served > 0; }, 5000))  // talking before bring-up starts
        << "the PC's table reads and writes were never served";
    g_source_online = 2;
    powerUp(0);
    powerUp(1);
    const bool lit = bool(bothLit());
    stop = true;
    pc.join();
    EXPECT_TRUE(lit) << state();
    EXPECT_EQ(mgr->ram_check[0], 1);
    EXPECT_EQ(mgr->ram_check[1], 1);
}
