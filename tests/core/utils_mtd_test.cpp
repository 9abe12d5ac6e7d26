// Raw flash erase and write against the simulated partitions, with the device faults.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/utils.h"
#include "platform/sim/sim_mtd.h"
#include "sim_fixture.h"

namespace {

using platform::sim::SimMtd;

class MtdUtilsTest : public SimBoxTest {
protected:
    void SetUp() override {
        SimBoxTest::SetUp();
        model = platform::sim::simMtd("/dev/mtd8");
        ASSERT_EQ(mtd.open("/dev/mtd8"), 0);
    }
    // Requests of one kind, in order.
    std::vector<SimMtd::Op> opsOf(SimMtd::Op::Kind kind) const {
        std::vector<SimMtd::Op> out;
        for (const auto& op : model->ops())
            if (op.kind == kind) out.push_back(op);
        return out;
    }
    static std::vector<uint8_t> pattern(size_t n) {
        std::vector<uint8_t> p(n);
        for (size_t i = 0; i < n; ++i) p[i] = uint8_t(i * 131 + (i >> 11));
        return p;
    }
    // Fills the whole part with zeros, so an erase shows as 0xFF.
    void programZeros() {
        std::vector<uint8_t> zeros(0x60000, 0);
        ASSERT_EQ(Utils::non_region_write(mtd, zeros.data(), uint32_t(zeros.size()), 0), 0);
        model->clearOps();
    }

    std::shared_ptr<SimMtd> model;
    platform::MtdPartition mtd;
};

TEST_F(MtdUtilsTest, FileTransferImageFillsThePartitionInFullPages) {
    ASSERT_EQ(Utils::non_region_erase(mtd, 0, 0x60000, 0), 0);
    const auto erases = opsOf(SimMtd::Op::Erase);
    ASSERT_EQ(erases.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(erases[i].offset, i * 0x20000);
        EXPECT_EQ(erases[i].length, 0x20000u);
    }
    EXPECT_TRUE(opsOf(SimMtd::Op::Unlock).empty());

    const auto image = pattern(0x60000);
    ASSERT_EQ(Utils::non_region_write(mtd, image.data(), 0x60000, 0), 0);
    const auto writes = opsOf(SimMtd::Op::Write);
    ASSERT_EQ(writes.size(), 192u);  // 192 full pages, no tail
    for (size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].offset, i * 2048);
        EXPECT_EQ(writes[i].length, 2048u);
    }
    EXPECT_EQ(model->contents(), image);
}

TEST_F(MtdUtilsTest, ATailShorterThanAPageIsWrittenLast) {
    const auto data = pattern(5000);
    ASSERT_EQ(Utils::non_region_write(mtd, data.data(), 5000, 0x2000), 0);
    const auto writes = opsOf(SimMtd::Op::Write);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[2].offset, 0x2000u + 4096);
    EXPECT_EQ(writes[2].length, 5000u - 4096);
    const auto bytes = model->contents();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), bytes.begin() + 0x2000));
    EXPECT_EQ(bytes[0x2000 + 5000], 0xFF);
}

TEST_F(MtdUtilsTest, EraseRoundsUpToWholeBlocksAndUnlocksEachFirst) {
    programZeros();
    ASSERT_EQ(Utils::non_region_erase(mtd, 0x20000, 0x20001, 1), 0);
    const auto ops = model->ops();
    ASSERT_EQ(ops.size(), 5u);  // info, then unlock and erase per block
    EXPECT_EQ(ops[1].kind, SimMtd::Op::Unlock);
    EXPECT_EQ(ops[2].kind, SimMtd::Op::Erase);
    EXPECT_EQ(ops[3].kind, SimMtd::Op::Unlock);
    EXPECT_EQ(ops[4].offset, 0x40000u);
    const auto bytes = model->contents();
    EXPECT_EQ(bytes[0x1FFFF], 0x00);
    EXPECT_TRUE(
        std::all_of(bytes.begin() + 0x20000, bytes.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(MtdUtilsTest, UnreadableOrZeroSizedDeviceInformationIsAFailure) {
    model->info_error = -EIO;
    const auto data = pattern(4096);
    EXPECT_EQ(Utils::non_region_erase(mtd, 0, 0x60000, 0), 9);
    EXPECT_EQ(Utils::non_region_write(mtd, data.data(), 4096, 0), 1);
    EXPECT_TRUE(opsOf(SimMtd::Op::Erase).empty());
    EXPECT_TRUE(opsOf(SimMtd::Op::Write).empty());
    EXPECT_TRUE(mtd.isOpen());

    auto broken = std::make_shared<SimMtd>("/dev/mtd8", 0x60000, 0, 0);
    platform::sim::attachMtd(broken);
    platform::MtdPartition dev;
    ASSERT_EQ(dev.open("/dev/mtd8"), 0);
    EXPECT_EQ(Utils::non_region_erase(dev, 0, 0x60000, 0), 9);
    EXPECT_EQ(Utils::non_region_write(dev, data.data(), 4096, 0), 1);
    EXPECT_EQ(broken->ops().size(), 2u);  // the two information reads, nothing else
}

TEST_F(MtdUtilsTest, ARefusedEraseStopsAndClosesTheDevice) {
    programZeros();
    model->erase_refused_at = 0x30000;  // in the second block
    EXPECT_EQ(Utils::non_region_erase(mtd, 0, 0x60000, 0), 8);
    EXPECT_FALSE(mtd.isOpen());
    EXPECT_EQ(opsOf(SimMtd::Op::Erase).size(), 2u);
    const auto bytes = model->contents();
    EXPECT_EQ(bytes[0x1FFFF], 0xFF);  // first block erased
    EXPECT_EQ(bytes[0x40000], 0x00);  // third never reached
    // The closed handle fails from then on.
    const uint8_t page[2048] = {};
    EXPECT_EQ(Utils::non_region_write(mtd, page, sizeof page, 0), 1);
}

TEST_F(MtdUtilsTest, ARefusedUnlockStopsBeforeTheErase) {
    model->unlock_error = -EOPNOTSUPP;
    EXPECT_EQ(Utils::non_region_erase(mtd, 0, 0x20000, 1), 8);
    EXPECT_FALSE(mtd.isOpen());
    EXPECT_TRUE(opsOf(SimMtd::Op::Erase).empty());
}

TEST_F(MtdUtilsTest, AShortWriteIsAFailureAndNothingFollows) {
    model->short_write_at = 0x1800 + 100;  // inside the fourth page
    const auto data = pattern(0x4000);
    EXPECT_EQ(Utils::non_region_write(mtd, data.data(), 0x4000, 0), 1);
    EXPECT_EQ(opsOf(SimMtd::Op::Write).size(), 4u);
    // A short tail fails the same way.
    model->clearOps();
    model->short_write_at = 0x10000 + 10;
    EXPECT_EQ(Utils::non_region_write(mtd, data.data(), 100, 0x10000), 1);
}

TEST_F(MtdUtilsTest, AreasPastTheEndAreRefusedBeforeAnythingChanges) {
    programZeros();
    const auto data = pattern(0x1000);
    // Nothing to do is done.
    EXPECT_EQ(Utils::non_region_erase(mtd, 0, 0, 0), 0);
    EXPECT_EQ(Utils::non_region_write(mtd, nullptr, 0, 0), 0);
    // The rounded-up blocks would pass the end even though start + length does not wrap.
    EXPECT_EQ(Utils::non_region_erase(mtd, 0x40000, 0x20001, 0), 9);
    EXPECT_EQ(Utils::non_region_erase(mtd, 0xFFFE0000u, 0x40000, 0), 9);  // would wrap
    EXPECT_EQ(Utils::non_region_write(mtd, data.data(), 0x1000, 0x5F800), 1);
    EXPECT_EQ(Utils::non_region_write(mtd, data.data(), 0x1000, 0xFFFFF800u), 1);
    EXPECT_TRUE(opsOf(SimMtd::Op::Erase).empty());
    EXPECT_TRUE(opsOf(SimMtd::Op::Write).empty());
    EXPECT_TRUE(mtd.isOpen());
    const auto bytes = model->contents();
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; }));
    // The last page and the last block themselves are fine.
    EXPECT_EQ(Utils::non_region_write(mtd, data.data(), 0x800, 0x5F800), 0);
    EXPECT_EQ(Utils::non_region_erase(mtd, 0x40000, 0x20000, 0), 0);
}

TEST_F(MtdUtilsTest, TheLargerPartitionTakesAFiveMebibyteProgram) {
    auto big = platform::sim::simMtd("/dev/mtd10");
    platform::MtdPartition dev;
    ASSERT_EQ(dev.open("/dev/mtd10"), 0);
    const auto image = pattern(0x500000);
    ASSERT_EQ(Utils::non_region_erase(dev, 0, 0x500000, 0), 0);
    ASSERT_EQ(Utils::non_region_write(dev, image.data(), 0x500000, 0), 0);
    EXPECT_EQ(big->contents(), image);
}

}  // namespace
