// The C331 thread on the simulated chip: probing to the running state, parameter changes that
// reach the chip and raise their refresh, the LED-size handshake, and the lost-update and
// pending-id regressions.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "c331_fixture.h"
#include "core/globals.h"
#include "core/led_size_handshake.h"
#include "fpga/fpga_manage.h"
#include "platform/clock.h"
#include "video_io/raviksource.h"

namespace {

constexpr uint32_t kRouting = 0x035504;

class C331ThreadTest : public C331Test {
protected:
    // Starts the thread and waits for the running state.
    void startRunning() {
        startManager();
        ASSERT_TRUE(waitState(8));
    }
    size_t routingWrites() const { return chip->writes(0x03, 0x55).size(); }
    // The FPGA side's blanking steps, run to their end as its passes would.
    static void blankOutputs() {
        auto& handshake = led_size_handshake::get();
        while (handshake.blanking()) {
            G_timeTicks += 40;
            handshake.step([](led_size_handshake::Action) {});
        }
    }
    static led_size_handshake::State handshake() { return led_size_handshake::get().state(); }
    // Runs of the start-up script: its transmitter bring-up writes 0x88 to 0xFF:02 once.
    long scriptRuns() const {
        const auto w = chip->writes(0xFF, 0x02);
        return std::count(w.begin(), w.end(), 0x88);
    }
};

TEST_F(C331ThreadTest, ProbesTheChipAndComesUpWithTheStoredPanel) {
    startRunning();
    EXPECT_EQ(g_fpga_c331_start.load(), 1u);
    // The default screen: 1920 x 1080, copy splice, one channel.
    EXPECT_EQ(store().rd16(1386), 1);
    EXPECT_EQ(store().rd16(1388), 1);
    EXPECT_EQ(store().rd16(1390), 1920);
    EXPECT_EQ(store().rd16(1392), 1080);
    EXPECT_EQ(chip->field(kRouting), 0x00000000u);
    EXPECT_EQ(chip->field(0x084202), 1920u);       // active width of output channel 0
    EXPECT_EQ(chip->field(0x084202, 16 * 7), 0u);  // idle channels are switched off
    // The start-up script ran once, PLL first.
    EXPECT_EQ(scriptRuns(), 1);
    EXPECT_EQ(chip->reg(0x02, 0x0A), 0x4C);  // PLL range code of the defaults
}

TEST_F(C331ThreadTest, AFlakyChipIdStillReachesTheRunningStateAfterFiveGoodReads) {
    chip->setFlakyId(true);
    startRunning();
    int id_reads = 0;
    int bank = -1;
    for (const auto& f : chip->frames()) {
        if (f.tx0 == 0x80) bank = f.tx1;
        if (bank == 0xB2 && f.tx0 == 0x08) ++id_reads;
    }
    EXPECT_GE(id_reads, 10);  // one read at creation, then bad and good reads in turn
    EXPECT_EQ(scriptRuns(), 1);
}

TEST_F(C331ThreadTest, WithoutAChipTheThreadKeepsProbingAndNeverStartsThePanel) {
    chip->setAbsent(true);
    startManager();
    EXPECT_TRUE(waitFor([&] { return chip->frameCount() > 20; }));
    EXPECT_LT(c331_manage::p_c331_manage->thread_state.load(), 1);
    EXPECT_EQ(g_fpga_c331_start.load(), 0u);
    EXPECT_EQ(scriptRuns(), 0);
    // A producer is not kept waiting by the probing thread.
    produce([](ZemRamPara& s) { s.wr16_no_gen_bump(1378, 3840); });
    // The thread takes the lock for an instant at each probe, so the first try may meet it.
    EXPECT_TRUE(waitFor([] {
        if (!c331_manage::c331_mutex.try_lock()) return false;
        c331_manage::c331_mutex.unlock();
        return true;
    }));
}

TEST_F(C331ThreadTest, AnLedSizeChangeReachesTheChipBeforeItsRefresh) {
    startRunning();
    uint32_t routing_at_refresh = 0xFFFFFFFF;
    on_refresh = [&](int) { routing_at_refresh = chip->field(kRouting); };
    produce([](ZemRamPara& s) {
        s.wr16_no_gen_bump(1376, 3);
        s.wr16_no_gen_bump(1378, 3840);
        s.wr16_no_gen_bump(1380, 2160);
        s.wr16_no_gen_bump(1412, 1920);
    });
    ASSERT_TRUE(waitRefresh(1));
    EXPECT_EQ(routing_at_refresh, 0x00010000u);
    EXPECT_EQ(store().rd16(1386), 2);
    EXPECT_EQ(store().rd16(1388), 1);
    EXPECT_EQ(store().rd16(1382), 0);
    {
        // The set in force, which the files save, is the one applied.
        zem::MutexLocker lock(c331_manage::c331_mutex);
        EXPECT_EQ(store().led_in_force16(1378), 3840);
        EXPECT_EQ(store().led_in_force16(1376), 3);
    }
    // No handshake ran: the FPGAs restart with the new panel, with nothing to blank first.
    EXPECT_EQ(handshake(), led_size_handshake::kRestartAsked);
    EXPECT_FALSE(led_size_handshake::get().blanking());
}

TEST_F(C331ThreadTest, OnlyTheFiveTriggerWordsReinitialiseThePanel) {
    startRunning();
    const size_t before = routingWrites();
    produce([](ZemRamPara& s) { s.wr16_no_gen_bump(1382, 7); });
    ASSERT_TRUE(waitRefresh(1));
    EXPECT_EQ(routingWrites(), before);
    EXPECT_EQ(handshake(), led_size_handshake::kIdle);
}

TEST_F(C331ThreadTest, ThePanelWaitsForTheFpgaSideWithoutHoldingTheMutex) {
    platform::installClock(nullptr);  // the wait's bound must not pass here
    startRunning();
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        led_size_handshake::get().start();
    }
    const size_t before = routingWrites();
    produce([](ZemRamPara& s) {
        s.wr16_no_gen_bump(1378, 1280);
        s.wr16_no_gen_bump(1380, 720);
    });
    std::this_thread::sleep_for(hangBound(std::chrono::milliseconds(100)));
    EXPECT_EQ(routingWrites(), before);
    EXPECT_TRUE(refreshes().empty());
    // Another producer gets the mutex meanwhile, and its change joins the same apply.
    produce([](ZemRamPara& s) {
        s.wr16_no_gen_bump(1376, 3);
        s.wr16_no_gen_bump(1412, 640);
    });
    blankOutputs();
    ASSERT_TRUE(waitRefresh(1));
    EXPECT_EQ(routingWrites(), before + 1);         // one panel initialisation
    EXPECT_EQ(chip->field(kRouting), 0x00010000u);  // splice 3
    EXPECT_EQ(handshake(), led_size_handshake::kRestartAsked);
}

TEST_F(C331ThreadTest, AHandshakeThatNeverMovesOnEndsAtItsBound) {
    startRunning();
    produce([](ZemRamPara& s) {
        s.wr16_no_gen_bump(1378, 1280);
        led_size_handshake::get().start();
    });
    // The fake clock lets the 3-second bound pass at once.
    ASSERT_TRUE(waitRefresh(1));
    EXPECT_EQ(store().rd16(1390), 1280);
    // The restart waits for the blanking's end.
    EXPECT_EQ(handshake(), led_size_handshake::kRestartAsked);
    EXPECT_TRUE(led_size_handshake::get().blanking());
}

// LED size words the PC wrote with no register 11, then applied by anything else (a debug
// register, a panel setting, a source change): a set the box can't drive goes back whole to
// the one in force, the panel and the FPGAs are left alone, one line says so, and the next save
// writes the kept set over a save that caught the refused one.
TEST_F(C331ThreadTest, AnLedSizeOutOfRangeIsRefusedWhateverRaisesTheApply) {
    startRunning();
    struct Case {
        const char* name;
        uint16_t splice, w, h, out1w, out1h;
    } cases[] = {
        {"65535 x 65535", 4, 65535, 65535, 65535, 65535},
        {"wider than 8188 in copy", 4, 8189, 1080, 8189, 1080},
        {"output 1 past the width", 3, 3840, 2160, 3841, 2160},
        {"output 1 under 256", 2, 1920, 2160, 1920, 255},
        {"splice 1", 1, 1920, 2160, 1920, 1080},
    };
    const int words[5] = {1376, 1378, 1380, 1412, 1414};
    int refreshed = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> before;
        for (int a = 1376; a <= 1394; a += 2) before.push_back(store().rd16(a));
        const size_t routings = routingWrites();
        led_size_handshake::get().clear();
        {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            const uint16_t wrote[5] = {c.splice, c.w, c.h, c.out1w, c.out1h};
            for (int i = 0; i < 5; ++i) {
                const uint8_t le[2] = {uint8_t(wrote[i]), uint8_t(wrote[i] >> 8)};
                store().ZemRamParaDeal(le, 2, uint32_t(words[i]));
            }
            // A refresh for something else saw and saved it meanwhile.
            std::memcpy(store().shadow, store().ram.data(), sizeof store().shadow);
            std::memcpy(store().persisted.data(), store().ram.data(), sizeof store().persisted);
        }
        LogTestHooks::forget();  // each case's refusal the first of its kind
        testing::internal::CaptureStderr();
        produce([](ZemRamPara&) {});
        ASSERT_TRUE(waitRefresh(1, ++refreshed));
        const std::string err = testing::internal::GetCapturedStderr();
        std::vector<int> after;
        for (int a = 1376; a <= 1394; a += 2) after.push_back(store().rd16(a));
        EXPECT_EQ(after, before);
        EXPECT_EQ(routingWrites(), routings) << "the panel stays";
        EXPECT_EQ(handshake(), led_size_handshake::kIdle) << "the FPGAs are not restarted";
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find("LED size " + std::to_string(c.w) + " x " + std::to_string(c.h)),
                  std::string::npos)
            << err;
        EXPECT_EQ(store().ram_para_persist(), 1);
        EXPECT_EQ(store().persisted16(1378), before[1]) << "saved again";
    }
}

// A size handshake already under way has blanked the outputs when the set it waited for is
// refused: the FPGAs still restart, with the screen in force.
TEST_F(C331ThreadTest, ARefusedSetAfterAHandshakeStillRestartsTheFpgas) {
    startRunning();
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        led_size_handshake::get().start();
    }
    blankOutputs();  // blanked, waiting for the answer
    const size_t routings = routingWrites();
    produce([](ZemRamPara& s) { s.wr16_no_gen_bump(1378, 65535); });
    ASSERT_TRUE(waitRefresh(1));
    EXPECT_EQ(store().rd16(1378), 1920);
    EXPECT_EQ(routingWrites(), routings);
    EXPECT_EQ(handshake(), led_size_handshake::kRestartAsked);
}

// A PC write with no flag, a refresh from another thread that takes the RAM into its records,
// then register 11's flag: the change still reaches the chip.
TEST_F(C331ThreadTest, AChangePersistedByAnotherRefreshIsStillApplied) {
    startRunning();
    const uint8_t pc_write[2] = {0x00, 0x0F};  // 3840
    store().ZemRamParaDeal(pc_write, 2, 1378);
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        std::memcpy(store().shadow, store().ram.data(),
                    sizeof store().shadow);  // refresh 12 saw it
        std::memcpy(store().persisted.data(), store().ram.data(),
                    sizeof store().persisted);  // and saved it
    }
    produce([](ZemRamPara&) {});  // register 11
    ASSERT_TRUE(waitRefresh(1));
    EXPECT_EQ(store().rd16(1390), 3840);  // the channel is as wide as the new screen
    EXPECT_EQ(chip->field(kRouting), 0x00000000u);
    EXPECT_EQ(handshake(), led_size_handshake::kRestartAsked);
}

TEST_F(C331ThreadTest, PendingRefreshIdsAreASet) {
    startRunning();
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        c331_manage::raise_apply(2);
        c331_manage::raise_apply(1);
        c331_manage::raise_apply(2);
    }
    ASSERT_TRUE(waitRefresh(2));
    ASSERT_TRUE(waitRefresh(1));
    const auto ids = refreshes();
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 2), 1);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 1), 1);
}

TEST_F(C331ThreadTest, FadeTimesAreTakenIntoTheWindowModesAndClamped) {
    startRunning();
    produce([](ZemRamPara& s) {
        s.wr16_no_gen_bump(2816, 25);
        s.wr16_no_gen_bump(2818, 0x1234);      // a PC word beyond the byte the RAM keeps
        s.wr16_no_gen_bump(2818 + 4 * 5, 90);  // window 5 is off: no record to take it
    });
    ASSERT_TRUE(waitRefresh(1));
    c331_manage* c = c331_manage::p_c331_manage;
    EXPECT_EQ(c->PM_WIN_FADE_IN[0], 25);
    EXPECT_EQ(c->PM_WIN_FADE_OUT[0], c331_manage::kMaxFadeFrames);
    EXPECT_NE(c->PM_WIN_FADE_OUT[5], 90);
}

TEST_F(C331ThreadTest, EveryChangedEdidRequestIsPassedOn) {
    raviksource* src = raviksource::pInstance();
    startRunning();
    produce([](ZemRamPara& s) {
        s.wr16_no_gen_bump(896 + 6 * 1, 1280);
        s.wr16_no_gen_bump(900 + 6 * 4, 30);
    });
    ASSERT_TRUE(waitRefresh(1));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(src->edid_rewrite[i].load(), (i == 1 || i == 4) ? 1 : 0) << "source " << i;
    }
}

TEST_F(C331ThreadTest, TheAudioWindowsSourceOrAudioWordRaisesTheSourceChange) {
    raviksource* src = raviksource::pInstance();
    startRunning();
    produce([](ZemRamPara& s) { s.wr16_no_gen_bump(2272 + 26 * 3 + 20, 0x80FF); });
    ASSERT_TRUE(waitRefresh(1));
    EXPECT_EQ(src->source_changed.load(), 1);
}

TEST_F(C331ThreadTest, CreatingTheManagerTwiceStartsOneThread) {
    c331_manage* first = startManager();
    ASSERT_TRUE(waitState(8));
    const long script_runs = scriptRuns();
    EXPECT_EQ(c331_manage::pInstance(), first);
    std::this_thread::sleep_for(hangBound(std::chrono::milliseconds(50)));
    EXPECT_EQ(scriptRuns(), script_runs);
    EXPECT_EQ(first->thread_state.load(), 8);
}

// A change raised after the thread stopped goes with the manager: whoever waits for an apply
// next (a new manager, a test's stand-in) does not see it.
TEST_F(C331ThreadTest, ShutdownDropsTheAppliesItsThreadDidNotTake) {
    startRunning();
    c331_manage::stop_thread();
    produce([](ZemRamPara& s) { s.wr16_no_gen_bump(2178, 61); });
    produce([](ZemRamPara& s) { s.wr16_no_gen_bump(2180, 7); }, 2);
    c331_manage::shutdown();
    zem::MutexLocker lock(c331_manage::c331_mutex);
    EXPECT_FALSE(c331_manage::apply_pending());
}

TEST_F(C331ThreadTest, DebugCommandSixProbesAndStartsTheChipAgain) {
    startRunning();
    produce([](ZemRamPara& s) { s.command_reg[ZemRamPara::kCmd162] = 0x40; });
    ASSERT_TRUE(waitFor([&] { return scriptRuns() == 2; }));
    EXPECT_TRUE(waitState(8));
    EXPECT_EQ(store().command_reg[ZemRamPara::kCmd162], 0);
}

}  // namespace

namespace {

// Each with the write generation the apply took: a user's write of the value in force is handed
// over too, so the FPGA side takes its generation (the user's, not its own echo passed back)
// and decides what it changes.
TEST_F(C331ThreadTest, BrightnessAndCloseLedAreHandedToTheFpgaSide) {
    fpga_manage* f = fpga_manage::pInstance();
    f->stop_thread();  // the hand-overs stay in the mailbox
    f->clear_state();
    startRunning();
    using Box = UserWordMailbox;
    const auto handed = [&](Box::Word w, int addr) {
        const auto m = f->user_words.take(w);
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return m && m->value == store().rd16(addr) && m->gen == store().word_gen(addr);
    };
    produce([](ZemRamPara& s) { s.user_wr16(2178, 60); });  // contrast alone
    ASSERT_TRUE(waitRefresh(1));
    EXPECT_FALSE(f->user_words.waiting(Box::kBrightness));
    EXPECT_FALSE(f->user_words.waiting(Box::kCloseLed));
    produce([](ZemRamPara& s) {
        s.user_wr16(2176, 40);
        s.user_wr16(2116, 1);
    });
    ASSERT_TRUE(waitRefresh(1, 2));
    EXPECT_TRUE(handed(Box::kBrightness, 2176));
    EXPECT_TRUE(handed(Box::kCloseLed, 2116));
    produce([](ZemRamPara& s) {
        s.user_wr16(2176, 40);
        s.user_wr16(2116, 1);
    });
    ASSERT_TRUE(waitRefresh(1, 3));
    EXPECT_TRUE(handed(Box::kBrightness, 2176)) << "the same value written again";
    EXPECT_TRUE(handed(Box::kCloseLed, 2116)) << "the same value written again";
}

}  // namespace

namespace {

// What the neighbours had been handed when the panel was programmed and when the refresh came.
struct HandOver {
    uint8_t brightness = 0xFF, edid = 0xFF, close_led = 0xFF;
};

TEST_F(C331ThreadTest, OneApplyProgramsThePanelFirstAndRefreshesLast) {
    fpga_manage* f = fpga_manage::pInstance();
    f->stop_thread();  // the requests stay as the apply left them
    f->clear_state();  // and none is left from an earlier test in this process
    raviksource* src = raviksource::pInstance();
    src->edid_rewrite[0] = 0;
    startRunning();
    auto now = [&] {
        return HandOver{f->user_words.waiting(UserWordMailbox::kBrightness),
                        src->edid_rewrite[0].load(),
                        f->user_words.waiting(UserWordMailbox::kCloseLed)};
    };
    HandOver at_panel, at_refresh;
    bool panel_seen = false;
    chip->onWrite([&](uint8_t bank, uint8_t address, uint8_t) {
        if (bank != 0x03 || address != 0x55 || panel_seen) return;
        panel_seen = true;  // the routing word: the panel is being programmed
        at_panel = now();
    });
    on_refresh = [&](int) { at_refresh = now(); };
    produce([](ZemRamPara& s) {
        s.wr16_no_gen_bump(2176, 30);    // brightness
        s.wr16_no_gen_bump(2116, 1);     // close LED
        s.wr16_no_gen_bump(896, 1024);   // EDID request of source 0
        s.wr16_no_gen_bump(1378, 1280);  // LED width
    });
    ASSERT_TRUE(waitRefresh(1));
    chip->onWrite(nullptr);
    ASSERT_TRUE(panel_seen);
    EXPECT_EQ(at_panel.brightness, 0);
    EXPECT_EQ(at_panel.edid, 0);
    EXPECT_EQ(at_panel.close_led, 0);
    EXPECT_EQ(at_refresh.brightness, 1);
    EXPECT_EQ(at_refresh.edid, 1);
    EXPECT_EQ(at_refresh.close_led, 1);
    EXPECT_EQ(store().rd16(1390), 1280);
}

}  // namespace

namespace {

// Changes raised while the chip is missing, or probed again after the debug command, reach it
// with the first apply once it answers.
TEST_F(C331ThreadTest, ChangesRaisedBeforeTheChipStartsAreAppliedOnceItRuns) {
    fpga_manage* f = fpga_manage::pInstance();
    f->stop_thread();  // the requests stay as the apply left them
    f->clear_state();  // and none is left from an earlier test in this process
    raviksource* src = raviksource::pInstance();
    src->edid_rewrite[0] = 0;
    chip->setAbsent(true);
    c331_manage* m = startManager();
    // The chip is absent: it answers once the change is raised.
    auto raiseWhileProbing = [&](uint16_t close_led, int source, uint16_t edid_width) {
        const uint64_t frames = chip->frameCount();
        ASSERT_TRUE(waitFor([&] { return chip->frameCount() > frames + 3; }));
        ASSERT_LT(m->thread_state.load(), 5);
        const auto ids = refreshes();
        const int applies_before = int(std::count(ids.begin(), ids.end(), 1));
        f->user_words.clear();
        src->edid_rewrite[source] = 0;
        produce([&](ZemRamPara& s) {
            s.wr16_no_gen_bump(2116, close_led);
            s.wr16_no_gen_bump(896 + 6 * source, edid_width);
            s.wr16_no_gen_bump(2272 + 8, uint16_t(source));  // window 1's source
        });
        chip->setAbsent(false);
        ASSERT_TRUE(waitRefresh(1, applies_before + 1));
        EXPECT_TRUE(f->user_words.waiting(UserWordMailbox::kCloseLed));
        EXPECT_EQ(src->edid_rewrite[source].load(), 1);
        EXPECT_EQ(m->PM_INPUT[0], c331_manage::zemApi_inputCvtC331(source));
    };
    raiseWhileProbing(1, 4, 1366);
    ASSERT_TRUE(waitState(8));
    chip->setAbsent(true);
    produce([](ZemRamPara& s) { s.command_reg[ZemRamPara::kCmd162] = 0x40; });  // probe again
    ASSERT_TRUE(waitFor([&] { return m->thread_state.load() < 5; }));
    raiseWhileProbing(0, 3, 1440);
}

}  // namespace
