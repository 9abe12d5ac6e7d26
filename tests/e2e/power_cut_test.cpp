// The box switched off (kill -9) while the USB upgrade writes a font into the C331's serial
// flash: after it starts again the font reads as absent, for the PC (status block byte 6) and
// in the flash itself, so the upgrade writes it again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "pc_link.h"
#include "program_fixture.h"
#include "usb_package.h"

namespace {

using std::chrono::seconds;
namespace fs = std::filesystem;

constexpr size_t kWide32 = 0x10000;   // where the wide 32-dot font lives in the flash
constexpr uint8_t kWide32Bit = 0x02;  // its bit in status byte 6
constexpr size_t kReplyData = 11;     // the first data byte of a RAM read's reply

class PowerCut : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        ASSERT_TRUE(chipsRunning()) << console();
    }
    // Status byte 6 as the PC reads it, or -1.
    int fontBits() const {
        const std::unique_ptr<TcpLink> pc = connectPc(seconds(30));
        if (!pc) return -1;
        const Bytes r = pc->ask(readRam(kStatusBlock, 8));
        return status(r) == 0 && r.size() > kReplyData + 6 ? r[kReplyData + 6] : -1;
    }
    std::string flash(size_t at, size_t n) const {
        std::ifstream in(root_ + "/sim/c331-flash.bin", std::ios::binary);
        std::string out(n, '\0');
        in.seekg(std::streamoff(at));
        in.read(&out[0], std::streamsize(n));
        return in ? out : "";
    }
};

TEST_F(PowerCut, AFontCutByAPowerLossReadsAsAbsentAfterTheRestart) {
    using namespace usb_package;
    const Bytes wide = font(32, false, 0x100000);
    const std::string disk = root_ + "-disk";
    writeBytes(disk + "/ZEM-T73/font.ZEMZK", package({{kFont, wide}}));
    const int before = fontBits();
    ASSERT_GE(before, 0);
    ASSERT_EQ(before & kWide32Bit, 0);
    // The project's script brings the folder onto the box; the watcher listens 10 s after start.
    ASSERT_TRUE(eventually(
        [&] { return scriptOutput("sim-ctl.sh", root_ + " usb plug " + disk) == "ok\n"; },
        seconds(60)));
    ASSERT_TRUE(usbMounted());
    ASSERT_EQ(ctl("job usb"), "ok\n");
    // Switched off once the first glyphs are in the flash, long before the whole font is.
    const std::string first_glyphs(wide.begin() + 35, wide.begin() + 35 + 64);
    ASSERT_TRUE(eventually([&] { return flash(kWide32 + 35, 64) == first_glyphs; }, seconds(60)));
    const std::string last_glyphs(wide.end() - 64, wide.end());
    ASSERT_NE(flash(kWide32 + wide.size() - 64, 64), last_glyphs) << "the write ended too soon";
    restart();
    ASSERT_TRUE(chipsRunning()) << console();
    EXPECT_NE(flash(kWide32, 1), "P");
    const int after = fontBits();
    ASSERT_GE(after, 0);
    EXPECT_EQ(after & kWide32Bit, 0);
    fs::remove_all(disk);
}

}  // namespace
