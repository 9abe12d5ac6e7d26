// An LED screen size from the PC on the simulated box: each splice the LED set-up page offers,
// at a small and a large size, lights the wall (each FPGA measures the picture the video
// processor routes to it), and one out of range is put back, so the PC reads the old size and
// the file keeps it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <memory>

#include "pc_link.h"
#include "program_fixture.h"

namespace {

using std::chrono::seconds;

class LedSize : public Program {
protected:
    // The five size words as the PC writes them, then the register that applies them.
    void setSize(uint16_t splice, uint16_t w, uint16_t h, uint16_t out1w, uint16_t out1h,
                 uint8_t reg = 11) {
        ASSERT_EQ(status(pc->ask(writeRam(1376, cat({le16(splice), le16(w), le16(h)})))), 0);
        ASSERT_EQ(status(pc->ask(writeRam(1412, cat({le16(out1w), le16(out1h)})))), 0);
        ASSERT_EQ(status(pc->ask(writeReg(reg, 0xFF, {0}))), 0);
    }
    // Both FPGAs measured their part of the screen at a start-up after the console's first
    // `from` bytes, the FPGA thread is ready and both give light.
    bool lit(size_t from) {
        return eventually(
            [&] {
                const std::string c = console();
                const size_t restart = c.size() > from ? from : c.size();
                if (c.find("fpag1.......ok(", restart) == std::string::npos ||
                    c.find("fpag2.......ok(", restart) == std::string::npos)
                    return false;
                return statusLine("fpga thread: ") == "fpga thread: ready" && brightness(1) > 0 &&
                       brightness(2) > 0;
            },
            seconds(60));
    }
    int brightness(int fpga) {
        const std::string line = statusLine("fpga " + std::to_string(fpga) + ": ");
        const size_t at = line.find("brightness ");
        return at == std::string::npos ? -1 : std::stoi(line.substr(at + 11));
    }
    std::vector<int> ramSize() {
        const Bytes r = pc->ask(readRam(1378, 4));
        if (status(r) != 0 || r.size() < 15) return {};
        return {r[11] | r[12] << 8, r[13] | r[14] << 8};
    }
    std::vector<int> fileSize() {
        const std::string f = slurp(root_ + "/data/ram_device_info");
        if (f.size() < 3330) return {};
        const auto word = [&](int addr) {
            return uint8_t(f[size_t(2 + addr - 768)]) | uint8_t(f[size_t(3 + addr - 768)]) << 8;
        };
        return {word(1378), word(1380)};
    }
    // Register 0 of FPGA 0 or 1 as the PC reads it in the register mirror (FPGA table 10); -1
    // when unread.
    int mirrorRegister0(int fpga) {
        const Bytes r = pc->ask(readRam(0x800A0000u | uint32_t(fpga) << 12, 1));
        return status(r) != 0 || r.size() < 12 ? -1 : r[11];
    }
    // Both FPGAs give light: running, not blanked by the box's registers nor by its mirror.
    bool unblanked() {
        for (int i = 1; i <= 2; ++i) {
            const std::string line = statusLine("fpga " + std::to_string(i) + ": ");
            if (line.rfind("fpga " + std::to_string(i) + ": running", 0) != 0 ||
                line.find(", blanked") != std::string::npos)
                return false;
            const int reg0 = mirrorRegister0(i - 1);
            if (reg0 < 0 || (reg0 & 4)) return false;
        }
        return true;
    }
    std::unique_ptr<TcpLink> pc;
};

TEST_F(LedSize, EachSpliceLightsTheWallSmallAndLargeAndOneOutOfRangeIsPutBack) {
    pc = connectPc(seconds(60));
    ASSERT_TRUE(pc) << console();
    ASSERT_TRUE(fpgaReady());

    // As the page writes them: output 1 halved by its rules, the large ones at its field edges
    // (both outputs past one channel's width or height, or the copy width cap).
    struct Screen {
        uint16_t splice, w, h, out1w, out1h;
    };
    const Screen screens[] = {
        {3, 1920, 1080, 960, 1080},  {3, 16376, 800, 8192, 800}, {2, 1920, 1080, 1920, 542},
        {2, 800, 16376, 800, 8190},  {4, 1024, 768, 1024, 768},  {4, 4096, 2160, 4096, 2160},
        {4, 8188, 1600, 8188, 1600},
    };
    for (const Screen& s : screens) {
        const size_t from = console().size();
        setSize(s.splice, s.w, s.h, s.out1w, s.out1h);
        EXPECT_TRUE(lit(from)) << "splice " << s.splice << ", " << s.w << " x " << s.h << ": "
                               << statusLine("fpga thread: ") << ", " << statusLine("fpga 1: ")
                               << ", " << statusLine("fpga 2: ");
    }
    EXPECT_TRUE(eventually(
        [&] {
            return fileSize() == std::vector<int>{8188, 1600};
        },
        seconds(20)));

    setSize(4, 65535, 65535, 65535, 65535);
    EXPECT_EQ(ramSize(), (std::vector<int>{8188, 1600}));
    ASSERT_EQ(status(pc->ask(writeReg(11, 0xFF, {0}))), 0);  // any later apply saves the RAM
    EXPECT_TRUE(eventually(
        [&] {
            return fileSize() == std::vector<int>{8188, 1600};
        },
        seconds(20)));
    EXPECT_EQ(statusLine("fpga thread: "), "fpga thread: ready");

    // Applied by a video-processor debug command instead: the same limits, the set goes back
    // and the wall stays lit.
    setSize(4, 65535, 65535, 65535, 65535, 162);
    EXPECT_TRUE(eventually([&] { return ramSize() == std::vector<int>{8188, 1600}; }, seconds(20)));
    EXPECT_TRUE(eventually(
        [&] {
            return fileSize() == std::vector<int>{8188, 1600};
        },
        seconds(20)));
    EXPECT_EQ(statusLine("fpga thread: "), "fpga thread: ready");
    EXPECT_GT(brightness(1), 0);
    EXPECT_GT(brightness(2), 0);
    EXPECT_TRUE(running());
}

// In one TCP write the PC sets a new width with register 11, then a second width with register
// 11: one the box can't drive (refused there: back to the first, which register 11 took) or the
// width in force before written back. The outputs blank, and both FPGAs restart and give light
// again all the same.
TEST_F(LedSize, ASecondSizeRefusedOrWrittenBackInTheSameWriteStillEndsLit) {
    pc = connectPc(seconds(60));
    ASSERT_TRUE(pc) << console();
    ASSERT_TRUE(chipsRunning());
    ASSERT_TRUE(eventually([&] { return unblanked(); }, seconds(60)));
    for (const uint16_t second : {uint16_t(9000), uint16_t(1920)}) {
        SCOPED_TRACE(second);
        const size_t from = console().size();
        pc->send(cat({wire(writeRam(1378, le16(1280))), wire(writeReg(11, 0xFF, {0})),
                      wire(writeRam(1378, le16(second))), wire(writeReg(11, 0xFF, {0}))}));
        for (int i = 0; i < 4; ++i) {
            Bytes reply;
            ASSERT_TRUE(pc->recv(reply, 5000)) << "reply " << i;
            EXPECT_EQ(status(reply), 0) << "reply " << i;
        }
        // Restarted: both bring-ups ran again and ended lit, within the bring-up's time (the
        // bound leaves room for the sanitizer and emulated builds).
        EXPECT_TRUE(lit(from)) << statusLine("fpga 1: ") << ", " << statusLine("fpga 2: ");
        EXPECT_TRUE(eventually([&] { return unblanked(); }, seconds(60)))
            << statusLine("fpga 1: ") << ", " << statusLine("fpga 2: ") << ", mirrors "
            << mirrorRegister0(0) << " " << mirrorRegister0(1);
        EXPECT_EQ(ramSize(), (std::vector<int>{second == 9000 ? 1280 : 1920, 1080}));
    }
}

// The terminal's part of the output, as a person starting the box in a plain shell sees it.
class LedSizeOnATerminal : public LedSize {
protected:
    LedSizeOnATerminal() { stderrToFile_ = true; }
};

// Sizes refused within a minute: the first is said at once, the rest are held back. SIGTERM has
// the box say the last of them with their count before it ends, by the signal.
TEST_F(LedSizeOnATerminal, RefusedSizesHeldBackAreSaidWhenSigtermStopsTheBox) {
    pc = connectPc(seconds(60));
    ASSERT_TRUE(pc) << console();
    ASSERT_TRUE(fpgaReady());
    for (uint16_t i = 0; i < 5; ++i) setSize(4, uint16_t(65000 + i), 65535, 65535, 65535);
    // Refused by register 11's handler, or by the C331 thread when its turn comes first.
    const std::string first = ": LED size 65000 x 65535 ";
    const std::string last = ": LED size 65004 x 65535 ";
    ASSERT_TRUE(eventually([&] { return errors().find(first) != std::string::npos; }, seconds(10)))
        << errors();
    EXPECT_EQ(errors().find(last), std::string::npos) << errors();  // held back
    ::kill(pid_, SIGTERM);
    int wait_status = 0;
    ASSERT_EQ(::waitpid(pid_, &wait_status, 0), pid_);
    pid_ = -1;
    EXPECT_TRUE(WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == SIGTERM) << wait_status;
    const std::string terminal = errors();
    const size_t at = terminal.find(last);
    ASSERT_NE(at, std::string::npos) << terminal;
    const std::string line = terminal.substr(at, terminal.find('\n', at) - at);
    EXPECT_NE(line.find(" of this kind since the last line shown)"), std::string::npos) << line;
}

}  // namespace
