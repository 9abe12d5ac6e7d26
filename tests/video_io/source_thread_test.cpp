// The source-check thread on the simulated receivers: timing records, the light-up steps,
// the timings in the parameter RAM, unplug and mode changes, receivers that stop answering,
// the FPGA boards' bring-up, the audio selection and the transmitter bits.
#include <gmock/gmock.h>

#include <limits>

#include "c331/c331_manage.h"
#include "input_numbers.h"
#include "video_io_fixture.h"

using ::testing::ElementsAre;

namespace {}

class SourceThreadTest : public InputSideTest {
protected:
    SOURCE_HDMI_INFO record(int s) {
        zem::MutexLocker lock(Utils::_source_hdminfo_mutex);
        return src->hdminfo[s];
    }
    bool recordShows(int s, int hact) {
        return waitFor([&] {
            const auto r = record(s);
            return r.stable == 1 && r.nosignal == 0 && r.Hact == hact;
        });
    }
    bool recordLost(int s) {
        return waitFor([&] {
            const auto r = record(s);
            return r.stable == 1 && r.nosignal == 1;
        });
    }
    int refreshCount(int id) {
        int n = 0;
        for (int r : refreshes()) n += r == id;
        return n;
    }
};

TEST_F(SourceThreadTest, PluggedSourceFillsItsRecord) {
    startSource();
    ASSERT_TRUE(platform::sim::setInput(kHdmi1, 1920, 1080, 60));
    ASSERT_TRUE(recordShows(kHdmi1, 1920));
    const auto r = record(kHdmi1);
    EXPECT_EQ(r.Htotal, 2200);
    EXPECT_EQ(r.Hsync, 44);
    EXPECT_EQ(r.Hback, 148);
    EXPECT_EQ(r.Hpol, 1);
    EXPECT_EQ(r.Vact, 1080);
    EXPECT_EQ(r.Vtotal, 1125);
    EXPECT_EQ(r.Vsync + r.Vback, 41);
    EXPECT_FLOAT_EQ(r.pfreq, 148.5f);
    EXPECT_EQ(r.ip, 0);
    EXPECT_EQ(r.type, 0);
    // The thread raises the light-up step just after it publishes the record.
    EXPECT_TRUE(waitFor([] { return g_source_online == 1; }));
    // Nothing reaches the RAM before the video path is ready.
    EXPECT_FALSE(refreshed(12));
    EXPECT_EQ(record(kHdmi2).stable, 0);
}

TEST_F(SourceThreadTest, LightUpWritesTheTimingsAndRefreshes) {
    platform::sim::setInput(kHdmi1, 1920, 1080, 60);
    platform::sim::setInput(kHdmi3, 3840, 2160, 30);
    startSource();
    ASSERT_TRUE(recordShows(kHdmi3, 3840));
    ASSERT_TRUE(waitFor([] { return g_source_online == 1; }));
    g_fpga_lcd_on = 1;
    settle();  // the C331 has not re-applied yet: still 1
    EXPECT_EQ(g_source_online, 1u);
    g_c331_source_online = 1;
    ASSERT_TRUE(waitFor([] { return g_source_online == 2; }));
    ASSERT_TRUE(waitFor([&] { return refreshed(12); }));
    EXPECT_THAT(timingInRam(kHdmi1), ElementsAre(1920, 1080, 60));
    EXPECT_THAT(timingInRam(kHdmi3), ElementsAre(3840, 2160, 30));
    EXPECT_THAT(timingInRam(kHdmi2), ElementsAre(0, 0, 0));
    EXPECT_EQ(record(kHdmi3).type, 1);
    EXPECT_EQ(record(kHdmi3).lane, 4);
    EXPECT_EQ(refreshCount(12), 1);  // once per light-up
}

TEST_F(SourceThreadTest, UnplugAndModeChangeDropToOneAndRepublish) {
    platform::sim::setInput(kHdmi1, 1920, 1080, 60);
    platform::sim::setInput(kHdmi2, 1280, 720, 60);
    pretendPathReady();
    startSource();
    ASSERT_TRUE(waitFor([&] { return refreshCount(12) == 1; }));
    ASSERT_EQ(g_source_online, 2u);

    platform::sim::setInput(kHdmi2, nullptr);
    ASSERT_TRUE(recordLost(kHdmi2));
    EXPECT_EQ(record(kHdmi2).Hact, 0);
    ASSERT_TRUE(waitFor([&] { return refreshCount(12) == 2; }));
    EXPECT_THAT(timingInRam(kHdmi2), ElementsAre(0, 0, 0));
    EXPECT_THAT(timingInRam(kHdmi1), ElementsAre(1920, 1080, 60));

    ASSERT_TRUE(platform::sim::setInput(kHdmi1, 1920, 1080, 50));
    ASSERT_TRUE(waitFor([&] { return refreshCount(12) == 3; }));
    EXPECT_THAT(timingInRam(kHdmi1), ElementsAre(1920, 1080, 50));
    EXPECT_EQ(g_source_online, 2u);
}

TEST_F(SourceThreadTest, VideoChangeHoldsTheLightUpUntilTheFlagsAreUp) {
    platform::sim::setInput(kHdmi1, 1920, 1080, 60);
    pretendPathReady();
    startSource();
    ASSERT_TRUE(waitFor([] { return g_source_online == 2; }));
    g_fpga_lcd_on = 0;  // the FPGA side is busy again
    ASSERT_TRUE(platform::sim::setInput(kHdmi1, 1280, 720, 50));
    ASSERT_TRUE(waitFor([] { return g_source_online == 1; }));
    settle();
    EXPECT_EQ(g_source_online, 1u);
    g_fpga_lcd_on = 1;
    ASSERT_TRUE(waitFor([] { return g_source_online == 2; }));
    ASSERT_TRUE(waitFor([&] { return timingInRam(kHdmi1)[0] == 1280; }));
    EXPECT_THAT(timingInRam(kHdmi1), ElementsAre(1280, 720, 50));
}

TEST_F(SourceThreadTest, InterlacedSourceReportsFramesAndFields) {
    pretendPathReady();
    startSource();
    ASSERT_TRUE(platform::sim::setInput(kHdmi1, 1920, 1080, 60, true));
    ASSERT_TRUE(recordShows(kHdmi1, 1920));
    const auto r = record(kHdmi1);
    EXPECT_EQ(r.ip, 1);
    EXPECT_EQ(r.Vact, 540);
    EXPECT_EQ(r.Vtotal, 562);
    ASSERT_TRUE(waitFor([&] { return refreshed(12); }));
    EXPECT_THAT(timingInRam(kHdmi1), ElementsAre(1920, 1080, 60));
}

TEST_F(SourceThreadTest, SilentReceiverIsReportedAndDoesNotStopTheThread) {
    platform::sim::setInput(kHdmi1, 1920, 1080, 60);
    pretendPathReady();
    startSource();
    ASSERT_TRUE(waitFor([&] { return refreshCount(12) == 1; }));

    side->receiver[kHdmi1]->fail_errno = -EREMOTEIO;
    ASSERT_TRUE(recordLost(kHdmi1));  // after a few failed reads, not at the first
    EXPECT_GE(src->receiver_errors[kHdmi1], uint32_t(ReceiverLink::kLostAfter));
    ASSERT_TRUE(waitFor([&] { return refreshCount(12) == 2; }));
    EXPECT_THAT(timingInRam(kHdmi1), ElementsAre(0, 0, 0));

    // The other inputs are still watched.
    ASSERT_TRUE(platform::sim::setInput(kHdmi4, 3840, 2160, 60));
    ASSERT_TRUE(recordShows(kHdmi4, 3840));
    EXPECT_EQ(record(kHdmi4).lane, 8);

    // An error is never read as data: a receiver answering garbage ids is not believed.
    side->receiver[kHdmi1]->fail_errno = 0;
    ASSERT_TRUE(recordShows(kHdmi1, 1920));
    side->receiver[kHdmi2]->setReg(platform::sim::SimReceiver::kId, 0x00);
    side->receiver[kHdmi2]->setReg(platform::sim::SimReceiver::kStatus, 0x03);
    const uint32_t before = src->receiver_errors[kHdmi2];
    ASSERT_TRUE(waitFor([&] { return src->receiver_errors[kHdmi2] > before; }));
    EXPECT_EQ(record(kHdmi2).stable, 0);
}

TEST_F(SourceThreadTest, ShortBusErrorsDoNotDropTheSignal) {
    platform::sim::setInput(kHdmi1, 1920, 1080, 60);
    startSource();
    ASSERT_TRUE(recordShows(kHdmi1, 1920));
    const uint32_t before = src->receiver_errors[kHdmi1];
    side->receiver[kHdmi1]->fail_count = 2;
    ASSERT_TRUE(waitFor([&] { return src->receiver_errors[kHdmi1] >= before + 2; }));
    settle();
    EXPECT_EQ(record(kHdmi1).nosignal, 0);
    EXPECT_EQ(g_source_online, 1u);
}

TEST_F(SourceThreadTest, DisabledSourcesAreNotWatched) {
    g_check_source = 0x3F & ~(1u << kHdmi2);
    platform::sim::setInput(kHdmi2, 1920, 1080, 60);
    platform::sim::setInput(kHdmi1, 1920, 1080, 60);
    startSource();
    ASSERT_TRUE(recordShows(kHdmi1, 1920));
    settle();
    EXPECT_EQ(record(kHdmi2).stable, 0);
}

TEST_F(SourceThreadTest, PowersTheInputsAndReleasesTheFpgasAfterTheirClocks) {
    auto& soc = box().soc;
    startSource();
    ASSERT_TRUE(
        waitFor([&] { return src->fpga_board_state[0] == 2 && src->fpga_board_state[1] == 2; }));
    for (uint32_t line :
         {raviksource::kPowerA, raviksource::kPowerB, raviksource::kLineC, raviksource::kLineD,
          raviksource::kFpgaReset[0], raviksource::kFpgaReset[1]}) {
        EXPECT_EQ(soc.word(line), 0x10) << std::hex << line;
    }
    for (int f = 0; f < 2; ++f) {
        const auto w = side->clock_chip[f]->writes();
        ASSERT_FALSE(w.empty());
        EXPECT_EQ(w.back().reg, 0x03);  // outputs on last
        EXPECT_EQ(w.back().value, 0xFE);
    }
}

TEST_F(SourceThreadTest, FpgaStaysInResetWhileItsClockChipIsSilent) {
    side->clock_chip[1]->fail_errno = -EREMOTEIO;
    startSource();
    ASSERT_TRUE(waitFor([&] { return src->fpga_board_state[0] == 2; }));
    settle();
    EXPECT_EQ(src->fpga_board_state[1], 0);
    EXPECT_EQ(box().soc.word(raviksource::kFpgaReset[1]), 0);
    side->clock_chip[1]->fail_errno = 0;
    EXPECT_TRUE(waitFor([&] { return src->fpga_board_state[1] == 2; }));
    EXPECT_EQ(box().soc.word(raviksource::kFpgaReset[1]), 0x10);
}

TEST_F(SourceThreadTest, FpgaIsNotReportedReleasedWithoutItsResetLine) {
    box().soc.pads_open_error = -EACCES;  // the pad window does not open
    startSource();
    ASSERT_TRUE(waitFor([&] { return src->fpga_board_state[0] == 1; }));
    settle();
    EXPECT_EQ(int(src->fpga_board_state[0]), 1);
    EXPECT_EQ(int(src->fpga_board_state[1]), 1);
}

// The expander gets the audio window's source, muted (bit 3) for a crop whose audio is off and
// for a window or crop that does not exist; a failed write keeps the request.
TEST_F(SourceThreadTest, AudioFollowsTheAudioWindow) {
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        para->wr16_no_gen_bump(2272 + 8, 0x8007);  // window 0: crop 7 of HDMI4, audio off
        para->wr16_no_gen_bump(1472 + 10 * 7, 0x8000 | kHdmi4);
        para->wr16_no_gen_bump(2272 + 20, 0);
        para->wr16_no_gen_bump(2272 + 26 + 8, kHdmi2);  // window 1: HDMI2, audio on
        para->wr16_no_gen_bump(2272 + 26 + 20, 0x80FF);
        para->wr16_no_gen_bump(2272 + 26 * 2 + 8,
                               0x8000 | 45);  // window 2: crop 45, beyond the table
        para->wr16_no_gen_bump(2272 + 26 * 2 + 20, 0x80FF);
    }
    startSource();
    auto& expander = *side->audio_expander;
    auto audioOf = [&](uint16_t window) {
        {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            para->wr16_no_gen_bump(2112, window);
        }
        src->source_changed = 1;
        // The request is taken before the write goes out: wait for the write itself.
        const uint8_t before = expander.reg(0x01);
        waitFor([&] { return src->source_changed == 0 && expander.reg(0x01) != before; });
        return expander.reg(0x01);
    };
    EXPECT_EQ(audioOf(1), kHdmi2);
    EXPECT_EQ(audioOf(0), 0x08 | kHdmi4);
    EXPECT_EQ(audioOf(1), kHdmi2);
    EXPECT_EQ(audioOf(2), 0x08);
    EXPECT_EQ(audioOf(1), kHdmi2);
    EXPECT_EQ(audioOf(7), 0x08);  // no such window
    EXPECT_EQ(expander.reg(0x03), 0x00);

    expander.fail_errno = -EREMOTEIO;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        para->wr16_no_gen_bump(2112, 1);
    }
    src->source_changed = 1;
    settle();
    EXPECT_EQ(src->source_changed, 1);  // kept until the write succeeds
    EXPECT_EQ(expander.reg(0x01), 0x08);
    expander.fail_errno = 0;
    ASSERT_TRUE(waitFor([&] { return src->source_changed == 0 && expander.reg(0x01) == kHdmi2; }));
}

TEST_F(SourceThreadTest, TransmitterPresenceBits) {
    platform::sim::attachI2cDevice(platform::kI2cNode, platform::sim::kHdmiTransmitterAddr,
                                   nullptr);
    para->status[2] = 0x06;
    startSource();
    ASSERT_TRUE(waitFor([&] { return (status(2) & 0x04) == 0; }));
    EXPECT_EQ(status(2) & 0x02, 0x02);
}

TEST_F(SourceThreadTest, Ite6805SnapshotRecomputesTheRecord) {
    startSource();
    ASSERT_TRUE(platform::sim::setInput(kHdmi4, 3840, 2160, 60));
    ASSERT_TRUE(recordShows(kHdmi4, 3840));
    {
        zem::MutexLocker lock(Utils::_source_hdminfo_mutex);
        src->hdminfo[kHdmi4].Hact = 0;  // a record spoiled by hand
    }
    src->iTE6805_Get_Hdmi(0);
    EXPECT_EQ(record(kHdmi4).Hact, 3840);
    EXPECT_EQ(record(kHdmi4).Htotal, 4400);
    platform::sim::setInput(kHdmi4, nullptr);
    ASSERT_TRUE(recordLost(kHdmi4));
    src->iTE6805_Get_Hdmi(0);
    EXPECT_EQ(record(kHdmi4).Htotal, 0);
    EXPECT_EQ(record(kHdmi4).nosignal, 1);
}

TEST_F(SourceThreadTest, Ite6805ThatStoppedAnsweringLeavesNoSignalBehind) {
    startSource();
    ASSERT_TRUE(platform::sim::setInput(kHdmi3, 3840, 2160, 30));
    ASSERT_TRUE(recordShows(kHdmi3, 3840));
    side->receiver[kHdmi3]->fail_errno = -EREMOTEIO;
    ASSERT_TRUE(recordLost(kHdmi3));
    src->iTE6805_Get_Hdmi(1);  // the debug command must not bring the old timing back
    EXPECT_EQ(record(kHdmi3).nosignal, 1);
    EXPECT_EQ(record(kHdmi3).Hact, 0);
}

// A receiver that never answers (as every receiver on the box without its back end) is read
// every pass for as long as the box runs: its count of failed reads must not wrap.
TEST(ReceiverLinkTest, FailedReadCountDoesNotWrap) {
    ReceiverLink link;
    ReceiverRegs none;
    link.failures = std::numeric_limits<int>::max() - 1;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(link.update(-EREMOTEIO, none), ReceiverLink::Change::None);
    EXPECT_GE(link.failures, ReceiverLink::kLostAfter);
    ReceiverRegs on;
    on.valid = true;
    on.status = platform::sim::SimReceiver::kVideoOn;
    EXPECT_EQ(link.update(0, on), ReceiverLink::Change::VideoOn);
    EXPECT_EQ(link.failures, 0);
    // A later outage is still noticed after the same number of failed reads.
    for (int i = 1; i < ReceiverLink::kLostAfter; ++i) {
        EXPECT_EQ(link.update(-EIO, none), ReceiverLink::Change::None);
    }
    EXPECT_EQ(link.update(-EIO, none), ReceiverLink::Change::VideoOff);
}
