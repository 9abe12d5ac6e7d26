// An LED screen size from the PC on the simulated box: one above 3840 x 2160 lights the wall
// (each FPGA measures the picture the video processor routes to it), and one out of range is
// put back, so the PC reads the old size and the file keeps it.
#include <gtest/gtest.h>

#include <memory>

#include "pc_link.h"
#include "program_fixture.h"

namespace {

using std::chrono::seconds;

class LedSize : public Program {
protected:
    // The five size words as the PC writes them, then register 11.
    void setSize(uint16_t splice, uint16_t w, uint16_t h, uint16_t out1w, uint16_t out1h) {
        ASSERT_EQ(status(pc->ask(writeRam(1376, cat({le16(splice), le16(w), le16(h)})))), 0);
        ASSERT_EQ(status(pc->ask(writeRam(1412, cat({le16(out1w), le16(out1h)})))), 0);
        ASSERT_EQ(status(pc->ask(writeReg(11, 0xFF, {0}))), 0);
    }
    // Both FPGAs measured w x h at their start-up, the FPGA thread is ready and both give light.
    bool lit(int w, int h) {
        const std::string ok = "......." + std::string("ok(") + std::to_string(w) + "," +
                               std::to_string(h) + ",833333)";
        return eventually(
            [&] {
                const std::string c = console();
                if (c.find("fpag1" + ok) == std::string::npos ||
                    c.find("fpag2" + ok) == std::string::npos)
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
    std::unique_ptr<TcpLink> pc;
};

TEST_F(LedSize, AScreenAbove4KLightsTheWallAndOneOutOfRangeIsPutBack) {
    pc = connectPc(seconds(60));
    ASSERT_TRUE(pc) << console();
    ASSERT_TRUE(fpgaReady());

    setSize(4, 4096, 2160, 4096, 2160);
    EXPECT_TRUE(lit(4096, 2160)) << statusLine("fpga thread: ");
    setSize(4, 4096, 3200, 4096, 3200);
    EXPECT_TRUE(lit(4096, 3200)) << statusLine("fpga thread: ");
    EXPECT_TRUE(eventually(
        [&] {
            return fileSize() == std::vector<int>{4096, 3200};
        },
        seconds(20)));

    setSize(4, 65535, 65535, 65535, 65535);
    EXPECT_EQ(ramSize(), (std::vector<int>{4096, 3200}));
    ASSERT_EQ(status(pc->ask(writeReg(11, 0xFF, {0}))), 0);  // any later apply saves the RAM
    EXPECT_TRUE(eventually(
        [&] {
            return fileSize() == std::vector<int>{4096, 3200};
        },
        seconds(20)));
    EXPECT_EQ(statusLine("fpga thread: "), "fpga thread: ready");
    EXPECT_TRUE(running());
}

}  // namespace
