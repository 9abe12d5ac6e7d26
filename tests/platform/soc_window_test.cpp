// The box's SoC window over a plain file standing in for "/dev/mem": words land at the mapped
// physical address, and offsets the hardware would fault on never reach the mapping.
#include "platform/soc_window.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/linux/linux_devices.h"
#include "sim_fixture.h"

namespace {

class BoxSocWindow : public SimBoxTest {
protected:
    void SetUp() override {
        SimBoxTest::SetUp();
        writeFile("/dev/mem", "");
        mem_ = ::open(local("/dev/mem").c_str(), O_RDWR);
        ASSERT_GE(mem_, 0);
        // Sparse: only the identification window's pages are ever touched.
        ASSERT_EQ(::ftruncate(mem_, off_t(platform::kSocIdentityBase) + platform::kSocIdentitySize),
                  0);
        ASSERT_EQ(platform::openLinuxSocWindow(platform::SocWindowKind::Identity, window_), 0);
    }
    void TearDown() override {
        window_.reset();
        if (mem_ >= 0) ::close(mem_);
        SimBoxTest::TearDown();
    }
    // The two bytes at a physical address, low byte first as the box stores them.
    uint16_t memWord(uint32_t physical) const {
        uint8_t b[2] = {};
        EXPECT_EQ(::pread(mem_, b, 2, physical), 2);
        return uint16_t(b[0] | b[1] << 8);
    }

    int mem_ = -1;
    std::unique_ptr<platform::SocWindow> window_;
};

TEST_F(BoxSocWindow, WordsReachTheirPhysicalAddress) {
    window_->write16(0x405C, 0xBEEF);
    EXPECT_EQ(memWord(platform::kSocIdentityBase + 0x405C), 0xBEEF);
    EXPECT_EQ(window_->read16(0x405C), 0xBEEF);
    const uint32_t last = platform::kSocIdentitySize - 2;
    window_->write16(last, 0x1234);
    EXPECT_EQ(memWord(platform::kSocIdentityBase + last), 0x1234);
    EXPECT_EQ(window_->read16(last), 0x1234);
}

// Odd offsets (a bus error on ARM) and offsets at or past the end, including those near 2^32
// where offset + 2 wraps, read as 0 and write nothing.
TEST_F(BoxSocWindow, OddAndOutOfRangeOffsetsAreRefused) {
    window_->write16(0x4058, 0x1111);
    window_->write16(0x405A, 0x2222);
    for (const uint32_t offset : {0x4059u, platform::kSocIdentitySize - 1,
                                  platform::kSocIdentitySize, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(offset);
        EXPECT_EQ(window_->read16(offset), 0);
        window_->write16(offset, 0xDEAD);
    }
    EXPECT_EQ(memWord(platform::kSocIdentityBase + 0x4058), 0x1111);
    EXPECT_EQ(memWord(platform::kSocIdentityBase + 0x405A), 0x2222);
    EXPECT_EQ(memWord(platform::kSocIdentityBase + platform::kSocIdentitySize - 2), 0);
}

}  // namespace
