// The simulated chip's behaviour where the program waits on it, seen through register access:
// sync requests, field counters, an injected input's measurement and V-by-One lock.
#include "c331/c331_drv.h"
#include "c331_fixture.h"

namespace {

using platform::sim::C331InputTiming;

class SimChipTest : public C331Test {
protected:
    void SetUp() override {
        C331Test::SetUp();
        fd = drv.initialize();
        ASSERT_GE(fd, 0);
    }
    uint32_t rd(uint32_t d) { return drv.read_C331(fd, d, 0); }
    c331_drv drv;
    int fd = -1;
};

TEST_F(SimChipTest, ARequestedVerticalSyncArrivesOnALaterPollUnlessFramesStop) {
    drv.write_C331(fd, 0x050801, 0x04, 0);
    EXPECT_EQ(rd(0x052201), 0u);
    EXPECT_EQ(rd(0x052201), 0x04u);
    chip->setFramesStopped(true);
    drv.write_C331(fd, 0x050801, 0x04, 0);
    EXPECT_EQ(drv.wait_field(fd, 0x052201, 0x04, 0x04, 45, 0, "input sync"), -ETIMEDOUT);
}

TEST_F(SimChipTest, FieldCountersStepWhileFramesRun) {
    const uint32_t first = rd(0xAB4701);
    uint32_t later = first;
    for (int i = 0; i < 4 && later == first; ++i) later = rd(0xAB4701);
    EXPECT_NE(later, first);
    EXPECT_EQ((later >> 2) & 3, later & 3);  // input and output field of the same channel
    chip->setFramesStopped(true);
    const uint32_t frozen = rd(0xAB4701);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(rd(0xAB4701), frozen);
}

TEST_F(SimChipTest, AnInjectedParallelInputIsMeasuredAndRemovedAgain) {
    chip->setInputSignal(2, C331InputTiming::video(2200, 1125, 1920, 60));
    EXPECT_EQ(rd(0xAE0C02) + 1, 2200u);  // horizontal total of port 2
    EXPECT_EQ(rd(0xAE2402), 1125u);
    EXPECT_EQ(rd(0xAE5603) + 1, 3333333u);  // memory clocks per field at 60 Hz
    EXPECT_EQ(rd(0xAF0C02), 1920u);
    chip->clearInputSignal(2);
    EXPECT_EQ(rd(0xAE0C02) + 1, 65536u);
    EXPECT_EQ(rd(0xAE5603) + 1, 0x1000000u);
}

TEST_F(SimChipTest, AVbyOneInputLocksItsLanesOrNot) {
    chip->setInputSignal(5, C331InputTiming::video(4400, 2250, 3840, 60, 8));
    EXPECT_EQ(rd(0xB26301) & (1u << 7), 1u << 7);
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(rd(0xAE4802 + (2 * i << 8)) + 1, 4400u) << i;
    EXPECT_EQ(rd(0xAE6803) + 1, 3333333u);
    auto unlocked = C331InputTiming::video(4400, 2250, 3840, 60, 8);
    unlocked.locked = false;
    chip->setInputSignal(5, unlocked);
    EXPECT_EQ(rd(0xB26301) & (1u << 7), 0u);
    EXPECT_EQ(rd(0xAE4802) + 1, 4400u);       // the first pair still counts
    EXPECT_EQ(rd(0xAE4A02) + 1, 65536u);      // the others do not
    EXPECT_EQ(rd(0xB26301) & (1u << 5), 0u);  // port 4 has no signal
}

TEST_F(SimChipTest, WithoutAChipEveryReadIsOnesAndWritesAreLost) {
    chip->setAbsent(true);
    EXPECT_EQ(rd(0xB20801), 0xFFu);
    drv.write_C331(fd, 0x030101, 5, 0);
    EXPECT_TRUE(chip->writes(0x03, 0x01).empty());
    EXPECT_EQ(chip->frames().size(), 4u);  // still sent: two selects, one read, one write
}

}  // namespace
