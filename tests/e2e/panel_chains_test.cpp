// Whole chains from the panel's keys to the simulated chips, on the program as a person starts
// it: picture steps taken on the picture quality page reach the FPGAs' LED brightness and the
// C331's contrast and come back after the box is switched off and on; an EDID request typed on
// the EDID page's keypad reaches HDMI1's EEPROM as an EDID that edid-decode accepts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "local_command.h"
#include "pc_link.h"
#include "program_fixture.h"

namespace {

using std::chrono::seconds;
using ::testing::HasSubstr;

// The saved parameter file: "AA AA", then RAM 768.. (little-endian words).
constexpr size_t kRamFileFirst = 768;
constexpr int kRamBrightness = 2176, kRamContrast = 2178;
// The brightness table the FPGA side keeps in FPGA 0's flash: mode byte, then the levels.
constexpr size_t kBrightTable = 0x30F000, kBrightMode = 8, kBrightLevel = 9;
constexpr char kManualMode = 16;

// The number keypad's ring: digits 1..9, 0, Clear, Delete, Cancel, OK.
constexpr int kKeypadItems = 14, kKeypadOk = 13;
int keypadIndex(char digit) {
    return digit == '0' ? 9 : digit - '1';
}

class PanelChains : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        ASSERT_TRUE(chipsRunning()) << console();
    }
    void keys(std::initializer_list<const char*> names) const {
        for (const char* k : names) ASSERT_EQ(ctl(std::string("key ") + k), "ok\n") << k;
    }
    void keyTimes(const char* name, int n) const {
        for (int i = 0; i < n; ++i) keys({name});
    }
    // Waits until the status line starting with prefix reads line.
    bool statusReads(const std::string& prefix, const std::string& line) const {
        return eventually([&] { return statusLine(prefix) == line; }, seconds(20));
    }
    // Types digits on the open number keypad, its focus at *at, and presses its OK.
    void typeOnKeypad(const std::string& digits, int* at) const {
        auto moveTo = [&](int target) {
            const int right = (target - *at + kKeypadItems) % kKeypadItems;
            if (right <= kKeypadItems / 2)
                keyTimes("Right", right);
            else
                keyTimes("Left", kKeypadItems - right);
            *at = target;
        };
        for (char d : digits) {
            moveTo(keypadIndex(d));
            keys({"OK"});
        }
        moveTo(kKeypadOk);
        keys({"OK"});
    }
    // A step on the field being edited, pressed again as a user would while the field does not
    // move: a step taken while the C331 thread has not yet taken the last apply (an OK's
    // commit, say) is dropped.
    bool stepTaken(const char* key) const {
        const std::string before = screenshot("before-step");
        return eventually(
            [&] {
                keys({key});
                const std::string after = screenshot("after-step");
                return !after.empty() && after != before;
            },
            seconds(20));
    }
    uint16_t savedWord(int addr) const {
        const std::string file = slurp(root_ + "/data/ram_device_info");
        const size_t at = 2 + size_t(addr) - kRamFileFirst;
        if (file.size() < at + 2 || file.compare(0, 2, "\xAA\xAA") != 0) return 0xFFFF;
        return uint16_t(uint8_t(file[at]) | uint8_t(file[at + 1]) << 8);
    }
    // The head of the brightness table in FPGA 0's flash image ("" before it exists).
    std::string brightTable() const {
        std::ifstream in(root_ + "/sim/fpga-flash-1.bin", std::ios::binary);
        std::string head(kBrightLevel + 1, '\0');
        if (!in.seekg(std::streamoff(kBrightTable)) ||
            !in.read(&head[0], std::streamsize(head.size())))
            return "";
        return head;
    }
    // From the home screen: the main menu, Settings, Image quality, Picture quality.
    void openQualityPage() const {
        keys({"OK", "Right", "Right", "Right", "OK"});     // the main menu's Settings
        keys({"Right", "Right", "Right", "Right", "OK"});  // Image quality
        keys({"OK"});                                      // Picture quality
    }
};

TEST_F(PanelChains, PictureStepsReachTheFpgasAndTheC331AndSurviveARestart) {
    // The fresh box: brightness 100 (full, 255 on the FPGAs), contrast 50.
    ASSERT_TRUE(statusReads("fpga 1: ", "fpga 1: running, brightness 255"));
    ASSERT_TRUE(
        statusReads("c331 picture: ", "c331 picture: brightness 0, contrast 511, saturation 511"));
    // The colour temperature "nature" and sharpness 10 (no sharpening, and no source anyway).
    EXPECT_TRUE(
        statusReads("c331 colour: ", "c331 colour: red 8192, green 8192, blue 8192, sharpness 0"));
    openQualityPage();
    shot("quality");
    // Each step is written at once; the next waits until the chips have it.
    const struct {
        const char* key;
        const char* fpga;  // both FPGAs' register 6
        const char* c331;
    } steps[] = {
        {"Left", "brightness 252", "brightness 0, contrast 511, saturation 511"},   // 99
        {"Left", "brightness 249", "brightness 0, contrast 511, saturation 511"},   // 98
        {"Left", "brightness 247", "brightness 0, contrast 511, saturation 511"},   // 97
        {nullptr, nullptr, nullptr},                                                // to contrast
        {"Right", "brightness 247", "brightness 0, contrast 521, saturation 511"},  // 51
        {"Right", "brightness 247", "brightness 0, contrast 531, saturation 511"},  // 52
    };
    keys({"OK"});  // edit the brightness
    for (const auto& s : steps) {
        if (!s.key) {
            keys({"OK", "Right", "Right", "OK"});  // keep it; edit the contrast, two rows down
            continue;
        }
        SCOPED_TRACE(std::string(s.key) + " to " + s.fpga + ", " + s.c331);
        ASSERT_TRUE(stepTaken(s.key));
        EXPECT_TRUE(statusReads("fpga 1: ", std::string("fpga 1: running, ") + s.fpga));
        EXPECT_TRUE(statusReads("fpga 2: ", std::string("fpga 2: running, ") + s.fpga));
        EXPECT_TRUE(statusReads("c331 picture: ", std::string("c331 picture: ") + s.c331));
    }
    keys({"OK"});
    shot("quality-stepped");

    // Kept: the parameter file and FPGA 0's brightness table; then the power goes.
    ASSERT_TRUE(
        eventually([&] { return savedWord(kRamBrightness) == 97 && savedWord(kRamContrast) == 52; },
                   seconds(20)));
    ASSERT_TRUE(eventually(
        [&] {
            const std::string t = brightTable();
            return t.size() == kBrightLevel + 1 && t[kBrightMode] == kManualMode &&
                   uint8_t(t[kBrightLevel]) == 247;
        },
        seconds(20)));
    restart();
    ASSERT_TRUE(chipsRunning()) << console();
    EXPECT_TRUE(statusReads("fpga 1: ", "fpga 1: running, brightness 247"));
    EXPECT_TRUE(statusReads("fpga 2: ", "fpga 2: running, brightness 247"));
    EXPECT_TRUE(
        statusReads("c331 picture: ", "c331 picture: brightness 0, contrast 531, saturation 511"));
    EXPECT_EQ(savedWord(kRamBrightness), 97);
    EXPECT_EQ(savedWord(kRamContrast), 52);
    openQualityPage();
    shot("quality-after-restart");
}

TEST_F(PanelChains, A720pEdidTypedOnTheEdidPageReachesTheHdmi1Eeprom) {
    if (::access("/usr/bin/edid-decode", X_OK) != 0) GTEST_SKIP() << "edid-decode is not installed";
    keys({"OK", "Right", "OK"});  // the main menu's source page
    keys({"Left", "OK"});         // its EDID button: the EDID page, HDMI1's tab
    keys({"OK", "OK"});           // the edit row; the keypad for the width
    int at = 0;                   // the keypad's focus, kept between openings
    typeOnKeypad("1280", &at);
    keys({"Right", "OK"});  // the height
    typeOnKeypad("720", &at);
    shot("edid-typed");
    keys({"Left", "Left", "OK"});  // SAVE, left of the width; the rate stays 60
    shot("edid-saved");

    // Read out of the EEPROM as a jig would, through the project's script: written once its
    // first timing says 1280 x 720 and the box tells the PC that the rewrite of HDMI1 (source
    // 2) has ended with a valid EDID (status block bytes 0 and 1).
    const std::string file = root_ + "-edid/hdmi1.bin";
    auto readOut = [&] {
        return scriptOutput("sim-ctl.sh", root_ + " edid HDMI1 " + file) == "ok\n" ? slurp(file)
                                                                                   : "";
    };
    ASSERT_TRUE(eventually(
        [&] {
            const std::string b = readOut();
            // The first detailed timing: 1280 (bytes 56, 58 high) by 720 (59, 61 high).
            return b.size() == 256 && (uint8_t(b[56]) | (uint8_t(b[58]) >> 4) << 8) == 1280 &&
                   (uint8_t(b[59]) | (uint8_t(b[61]) >> 4) << 8) == 720;
        },
        seconds(30)));
    const std::unique_ptr<TcpLink> pc = connectPc(seconds(30));
    ASSERT_TRUE(pc);
    constexpr uint8_t kHdmi1Bit = 1 << 2;
    ASSERT_TRUE(eventually(
        [&] {
            const Bytes r = pc->ask(readRam(kStatusBlock, 2));
            return status(r) == 0 && r.size() >= 13 && !(r[11] & kHdmi1Bit) && (r[12] & kHdmi1Bit);
        },
        seconds(30)));
    ASSERT_EQ(readOut().size(), 256u);
    const std::string verdict = edidDecodeFile(file);
    EXPECT_THAT(verdict, HasSubstr("EDID conformity: PASS")) << verdict;
    EXPECT_THAT(verdict, HasSubstr("DTD 1:  1280x720    60.000000 Hz  16:9")) << verdict;
    std::filesystem::remove_all(root_ + "-edid");
}

}  // namespace
