// Register access on the simulated chip: the exact frame stream, bank-select suppression, byte
// order, masked writes, refused descriptors and bus errors.
#include <cerrno>

#include "c331/c331_drv.h"
#include "c331_fixture.h"

using Frame = platform::sim::SimC331::Frame;

namespace {

struct Sent {
    uint8_t b0, b1;
    uint32_t hz;
};

class RegisterAccessTest : public C331Test {
protected:
    void SetUp() override {
        C331Test::SetUp();
        fd = drv.initialize();
        ASSERT_GE(fd, 0);
    }
    std::vector<Sent> sent() const {
        std::vector<Sent> out;
        for (const Frame& f : chip->frames()) out.push_back({f.tx0, f.tx1, f.speed_hz});
        return out;
    }
    void expectSent(const std::vector<Sent>& want) const {
        const auto got = sent();
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].b0, want[i].b0) << "frame " << i;
            EXPECT_EQ(got[i].b1, want[i].b1) << "frame " << i;
            EXPECT_EQ(got[i].hz, want[i].hz) << "frame " << i;
        }
    }
    c331_drv drv;
    int fd = -1;
};

constexpr uint32_t W = c331_drv::kWriteHz;
constexpr uint32_t R = c331_drv::kReadHz;

TEST_F(RegisterAccessTest, WritesOfOneBankShareOneBankSelectAndGoLowByteFirst) {
    EXPECT_EQ(drv.write_C331(fd, 0x084903, 0x00FF00, 0), 0);
    EXPECT_EQ(drv.write_C331(fd, 0x084801, 1, 0), 0);
    expectSent(
        {{0x80, 0x08, W}, {0xC9, 0x00, W}, {0xCA, 0xFF, W}, {0xCB, 0x00, W}, {0xC8, 0x01, W}});
    EXPECT_EQ(chip->field(0x084903), 0x00FF00u);
}

TEST_F(RegisterAccessTest, ChannelOffsetSelectsTheChannelsCopyOfTheBank) {
    drv.write_C331(fd, 0x0C1001, 0x5A, 16 * 3);
    expectSent({{0x80, 0x3C, W}, {0x90, 0x5A, W}});
    EXPECT_EQ(chip->reg(0x3C, 0x10), 0x5A);
}

TEST_F(RegisterAccessTest, ForgettingTheBankSendsASelectAgain) {
    drv.write_C331(fd, 0x030101, 1, 0);
    drv.init_reg_acc_param();
    drv.write_C331(fd, 0x030101, 2, 0);
    expectSent({{0x80, 0x03, W}, {0x81, 0x01, W}, {0x80, 0x03, W}, {0x81, 0x02, W}});
}

TEST_F(RegisterAccessTest, ReadsAssembleLittleEndianAtTheSlowerClock) {
    EXPECT_EQ(drv.read_C331(fd, 0xB20801, 0), 0x24u);
    chip->poke(0x03, 0x55, 0x00);
    chip->poke(0x03, 0x56, 0x01);
    chip->poke(0x03, 0x57, 0x02);
    chip->poke(0x03, 0x58, 0x03);
    EXPECT_EQ(drv.read_C331(fd, 0x035504, 0), 0x03020100u);
    expectSent({{0x80, 0xB2, W},
                {0x08, 0xFF, R},
                {0x80, 0x03, W},
                {0x55, 0xFF, R},
                {0x56, 0xFF, R},
                {0x57, 0xFF, R},
                {0x58, 0xFF, R}});
}

TEST_F(RegisterAccessTest, MaskedWriteMergesAndMaskZeroRewritesTheField) {
    chip->poke(0x00, 0x18, 0xF0);
    chip->poke(0x00, 0x19, 0x0F);
    EXPECT_EQ(drv.write_c331_mask(fd, 0x001802, 0x0001, 0x000F, 0), 0);
    EXPECT_EQ(chip->field(0x001802), 0x0FF1u);
    EXPECT_EQ(drv.write_c331_mask(fd, 0x001802, 0xFFFF, 0, 0), 0);
    EXPECT_EQ(chip->writes(0x00, 0x18), (std::vector<uint8_t>{0xF1, 0xF1}));
    EXPECT_EQ(chip->field(0x001802), 0x0FF1u);
}

TEST_F(RegisterAccessTest, DescriptorsOutsideTheBankOrCountAreRefusedWithoutTraffic) {
    EXPECT_EQ(drv.write_C331(fd, 0x010800, 1, 0), -EINVAL);  // count 0
    EXPECT_EQ(drv.write_C331(fd, 0x010805, 1, 0), -EINVAL);  // count 5
    EXPECT_EQ(drv.write_C331(fd, 0x017E04, 1, 0), -EINVAL);  // 0x7E..0x81 crosses 0x7F
    EXPECT_EQ(drv.write_c331_mask(fd, 0x017F02, 1, 1, 0), -EINVAL);
    uint32_t v = 99;
    EXPECT_EQ(drv.read_C331_checked(fd, 0x010800, 0, &v), -EINVAL);
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(chip->frames().empty());
    EXPECT_EQ(drv.write_C331(fd, 0x017C04, 0x01020304, 0), 0);  // ends at 0x7F: allowed
}

TEST_F(RegisterAccessTest, AFailedMessageIsAnErrorNeverAGoodRead) {
    drv.read_C331(fd, 0xB20801, 0);  // bank 0xB2 cached
    chip->setBusError(true);
    uint32_t v = 0;
    EXPECT_EQ(drv.read_C331_checked(fd, 0xB20801, 0, &v), -EIO);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(drv.write_c331_mask(fd, 0x001801, 1, 1, 0), -EIO);
    chip->setBusError(false);
    EXPECT_TRUE(chip->writes(0x00, 0x18).empty());  // the masked write wrote nothing
    chip->clearFrames();
    // The failed select left the chip's bank unknown, so it is sent again.
    EXPECT_EQ(drv.read_C331(fd, 0x001801, 0), 0u);
    expectSent({{0x80, 0x00, W}, {0x18, 0xFF, R}});
    EXPECT_GT(drv.errors, 0u);
}

TEST_F(RegisterAccessTest, EveryTransferRoutesTheBusAwayFromBothFpgas) {
    box().soc.clearWrites();
    drv.write_C331(fd, 0x030101, 1, 0);
    const auto writes = box().soc.writes();
    ASSERT_EQ(writes.size(), 4u);  // two messages, two select lines each
    for (const auto& w : writes) {
        EXPECT_TRUE(w.offset == c331_drv::kFpga0Select || w.offset == c331_drv::kFpga1Select);
        EXPECT_EQ(w.value, 0x10);
    }
}

TEST_F(RegisterAccessTest, ABusyBitThatNeverClearsEndsTheWaitAtItsBound) {
    drv.write_C331(fd, 0x040801, 1, 0);  // start the 2-D engine
    EXPECT_EQ(drv.wait_field(fd, 0x041701, 1, 0, 50, 100, "2-D engine"), 0);
    chip->setStuckBusy(true);
    drv.write_C331(fd, 0x040801, 1, 0);
    chip->clearFrames();
    EXPECT_EQ(drv.wait_field(fd, 0x041701, 1, 0, 50, 100, "2-D engine"), -ETIMEDOUT);
    EXPECT_EQ(chip->frames().size(), 50u);
}

TEST_F(RegisterAccessTest, ANodeWithoutAChipDoesNotOpen) {
    platform::sim::detachAllSpiModels();
    c331_drv other;
    EXPECT_EQ(other.initialize(), -1);
    EXPECT_EQ(other.write_C331(-1, 0x030101, 1, 0), -EBADF);
}

// The flash behind the chip erases to 0xFF and programs by AND, through the engine registers.
TEST_F(RegisterAccessTest, SerialFlashProgramsByAndAndErasesToOnes) {
    auto program = [&](uint32_t address, uint8_t value) {
        drv.write_C331(fd, 0x044701, 0x31, 0);
        drv.write_C331(fd, 0x044E04, address, 0);
        drv.write_C331(fd, 0x045301, value, 0);
        drv.write_C331(fd, 0x044E04, address + 1, 0);
    };
    program(0x1000, 0xF0);
    program(0x1000, 0x3C);
    EXPECT_EQ(chip->flashRead(0x1000, 1)[0], 0x30);
    drv.write_C331(fd, 0x044B01, 0x20, 0);
    drv.write_C331(fd, 0x044E04, 0x1234, 0);
    drv.write_C331(fd, 0x044801, 4, 0);
    EXPECT_EQ(drv.wait_field(fd, 0x045401, 0x08, 0, 10, 0, "erase"), 0);
    EXPECT_EQ(chip->flashRead(0x1000, 1)[0], 0xFF);
    // Read back through the data port.
    program(0x2000, 0x42);
    drv.write_C331(fd, 0x044E04, 0x2000, 0);
    EXPECT_EQ(drv.read_C331(fd, 0x045301, 0), 0x42u);
    // The flash keeps its contents across a restart of the box.
    EXPECT_EQ(platform::sim::attachSimC331()->flashRead(0x2000, 1)[0], 0x42);
}

}  // namespace
