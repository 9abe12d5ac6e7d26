// A PC write that lands while the box is still busy with the refresh of the one before: a new
// brightness is applied and the PC, as soon as FPGA 0 shows it, writes an out-of-range language
// and applies it. The language must be replaced, as the protocol document says, whenever it
// lands.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "pc_link.h"
#include "program_fixture.h"

namespace {

using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kFpga0Brightness = 0x800A0006;  // FPGA 0, register 6

class WriteDuringRefresh : public Program {
protected:
    // One byte (or u16) the PC reads, or -1 when the read is refused.
    int read(uint32_t addr, uint16_t n) {
        const Bytes r = pc->ask(readRam(addr, n));
        if (status(r) != 0 || r.size() < size_t(11 + n)) {
            refusal = "status " + std::to_string(status(r)) + ", " + std::to_string(r.size()) +
                      " bytes, of RAM " + std::to_string(addr);
            return -1;
        }
        return n == 1 ? r[11] : r[11] | r[12] << 8;
    }
    // Polls, as a PC tool does, with no pause, until addr reads other than `was`.
    int pollUntilChanged(uint32_t addr, uint16_t n, int was, seconds limit) {
        const auto end = Clock::now() + hangBound(limit);
        int now = read(addr, n);
        while (now == was && Clock::now() < end) now = read(addr, n);
        return now;
    }
    void apply() { ASSERT_EQ(status(pc->ask(writeReg(11, 0xFF, {0}))), 0); }
    std::unique_ptr<TcpLink> pc;
    std::string refusal;  // the last read's reply that held no value
};

TEST_F(WriteDuringRefresh, ALanguageWrittenAsSoonAsABrightnessShowsIsReplaced) {
    pc = connectPc(seconds(60));
    ASSERT_TRUE(pc) << console();
    ASSERT_TRUE(fpgaReady());
    // Both values light FPGA 0 differently (the protocol document's example: 0x7F and 0xFF).
    const uint16_t brightness[2] = {50, 150};
    for (int trial = 0; trial < 20; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const int before = read(kFpga0Brightness, 1);
        ASSERT_GE(before, 0) << refusal;
        ASSERT_EQ(status(pc->ask(writeRam(2176, le16(brightness[trial % 2])))), 0);
        apply();
        ASSERT_NE(pollUntilChanged(kFpga0Brightness, 1, before, seconds(10)), before)
            << "the brightness never reached FPGA 0";
        ASSERT_EQ(status(pc->ask(writeRam(768, {9}))), 0);
        apply();
        // A language kept at 9 would stay so for every later trial.
        ASSERT_EQ(pollUntilChanged(768, 2, 9, seconds(5)), 0) << "the lowest enabled language";
    }
    // The file keeps the replaced language.
    EXPECT_TRUE(eventually(
        [&] {
            const std::string f = slurp(root_ + "/data/ram_device_info");
            return f.size() >= 3330 && f[2] == 0;
        },
        seconds(5)));
    EXPECT_TRUE(running());
}

}  // namespace
