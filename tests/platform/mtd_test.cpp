// The simulated raw flash partitions behave as the kernel's MTD device does.
#include "platform/mtd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "platform/sim/sim_mtd.h"
#include "sim_fixture.h"

namespace {

using platform::MtdInfo;
using platform::MtdPartition;

class MtdTest : public SimBoxTest {};

TEST_F(MtdTest, ThePartitionsOfTheBoxOpenWithTheirGeometry) {
    MtdPartition p8, p10, other;
    ASSERT_EQ(p8.open("/dev/mtd8"), 0);
    ASSERT_EQ(p10.open("/dev/mtd10"), 0);
    MtdInfo info;
    ASSERT_EQ(p8.info(info), 0);
    EXPECT_EQ(info.size, 0x60000u);
    EXPECT_EQ(info.erasesize, 0x20000u);
    EXPECT_EQ(info.writesize, 2048u);
    ASSERT_EQ(p10.info(info), 0);
    EXPECT_EQ(info.size, 0x500000u);
    EXPECT_EQ(other.open("/dev/mtd3"), -ENOENT);
    EXPECT_FALSE(other.isOpen());
    EXPECT_EQ(other.info(info), -EBADF);
}

TEST_F(MtdTest, AFreshPartIsErasedAndLivesUnderTheRoot) {
    MtdPartition p;
    ASSERT_EQ(p.open("/dev/mtd8"), 0);
    uint8_t page[2048];
    std::fill(std::begin(page), std::end(page), 0x12);
    ASSERT_EQ(p.pwrite(page, sizeof page, 0), 2048);
    const std::string bytes = readFile("/dev/mtd8");
    ASSERT_EQ(bytes.size(), 0x60000u);
    EXPECT_EQ(uint8_t(bytes[2047]), 0x12);
    EXPECT_TRUE(
        std::all_of(bytes.begin() + 2048, bytes.end(), [](char c) { return uint8_t(c) == 0xFF; }));
}

TEST_F(MtdTest, ProgrammingOnlyClearsBitsAndEraseSetsThemAgain) {
    MtdPartition p;
    ASSERT_EQ(p.open("/dev/mtd8"), 0);
    uint8_t page[2048];
    std::fill(std::begin(page), std::end(page), 0xF0);
    ASSERT_EQ(p.pwrite(page, sizeof page, 0x20000), 2048);
    std::fill(std::begin(page), std::end(page), 0x3C);
    ASSERT_EQ(p.pwrite(page, sizeof page, 0x20000), 2048);
    auto model = platform::sim::simMtd("/dev/mtd8");
    EXPECT_EQ(model->contents()[0x20000], 0x30);
    ASSERT_EQ(p.erase(0x20000, 0x20000), 0);
    EXPECT_EQ(model->contents()[0x20000], 0xFF);
}

TEST_F(MtdTest, RequestsOutsideTheRulesAreRefusedAsTheKernelDoes) {
    MtdPartition p;
    ASSERT_EQ(p.open("/dev/mtd8"), 0);
    const uint8_t page[4096] = {};
    EXPECT_EQ(p.erase(0x1000, 0x20000), -EINVAL);   // not on a block boundary
    EXPECT_EQ(p.erase(0x40000, 0x40000), -EINVAL);  // past the end
    EXPECT_EQ(p.erase(0, 0), -EINVAL);
    EXPECT_EQ(p.pwrite(page, 2048, 100), -EINVAL);  // not on a page boundary
    EXPECT_EQ(p.pwrite(page, 2048, 0x60000), -ENOSPC);
    EXPECT_EQ(p.pwrite(page, 4096, 0x5F800), 2048);  // cut at the end
}

TEST_F(MtdTest, FaultsAreInjectable) {
    auto model = platform::sim::simMtd("/dev/mtd10");
    MtdPartition p;
    model->open_error = -EACCES;
    EXPECT_EQ(p.open("/dev/mtd10"), -EACCES);
    model->open_error = 0;
    ASSERT_EQ(p.open("/dev/mtd10"), 0);
    MtdInfo info;
    model->info_error = -EIO;
    EXPECT_EQ(p.info(info), -EIO);
    model->unlock_error = -EOPNOTSUPP;
    EXPECT_EQ(p.unlock(0, 0x20000), -EOPNOTSUPP);
    model->erase_refused_at = 0x20000;
    EXPECT_EQ(p.erase(0, 0x20000), 0);
    EXPECT_EQ(p.erase(0x20000, 0x20000), -EIO);
    model->short_write_at = 0x800 + 10;
    const uint8_t page[2048] = {};
    EXPECT_EQ(p.pwrite(page, 2048, 0), 2048);
    EXPECT_EQ(p.pwrite(page, 2048, 0x800), 10);
    const auto ops = model->ops();
    ASSERT_FALSE(ops.empty());
    EXPECT_EQ(ops.back().kind, platform::sim::SimMtd::Op::Write);
    EXPECT_EQ(ops.back().result, 10);
}

TEST_F(MtdTest, ANewRootStartsWithAFreshPart) {
    auto first = platform::sim::simMtd("/dev/mtd8");
    first->info_error = -EIO;
    const std::string other = makeTempDir("root2");
    platform::selectSimulated(other);
    auto second = platform::sim::simMtd("/dev/mtd8");
    EXPECT_NE(first, second);
    EXPECT_EQ(second->info_error, 0);
    platform::selectSimulated(root_);
    removeTree(other);
}

// On the box the back end is the kernel's device; a plain file stands in for one that is not
// an MTD device, which must not pass for flash.
TEST(LinuxMtd, ANonFlashDescriptorHasNoDeviceInformation) {
    const std::string dir = makeTempDir("mtd");
    ASSERT_FALSE(dir.empty());
    const std::string file = dir + "/not-flash";
    const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    platform::selectLinux();
    MtdPartition p;
    ASSERT_EQ(p.open(file), 0);
    MtdInfo info;
    EXPECT_LT(p.info(info), 0);
    EXPECT_LT(p.erase(0, 0x20000), 0);
    EXPECT_EQ(p.pwrite("ab", 2, 0), 2);
    p.close();
    removeTree(dir);
}

}  // namespace
