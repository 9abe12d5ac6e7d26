// Windows shown on the simulated chip: capture and read-back registers of a source switch, a
// window move and a scaled window; freeze, fade and layer order; the processing-block presets;
// picture controls and test patterns; and an apply that still ends when no frame comes.
#include <gmock/gmock.h>

#include "window_fixture.h"

using ::testing::ElementsAre;

namespace {

constexpr uint32_t kIact = 0x101702, kIactHw = 0x101902, kIactVst = 0x101B02;
constexpr uint32_t kOactHst = 0x084002, kOactHw = 0x084202;
constexpr int kRtctBank = 0x00, kRtct = 0x22;

class DisplayTest : public WindowsTest {
protected:
    // Two windows side by side on HDMI1 and HDMI2, applied, the thread running on.
    void twoWindows() {
        step([](ZemRamPara& s) {
            window(s, 0, kHdmi1, {0, 0, 960, 1080});
            window(s, 1, kHdmi2, {960, 0, 960, 1080});
        });
    }
    size_t writesOf(uint8_t bank, uint8_t address, uint8_t value) const {
        const auto w = chip->writes(bank, address);
        return size_t(std::count(w.begin(), w.end(), value));
    }
    uint32_t ich(uint32_t descriptor, int c) const {
        return chip->field(descriptor, 16 * uint32_t(c));
    }
};

TEST_F(DisplayTest, ASourceSwitchAWindowMoveAndABrightnessStepReachTheChip) {
    twoWindows();
    const uint32_t applies = c->output_applies;
    // Window 1 to DVI (port 2): its input channel selects the port and captures its picture.
    step([](ZemRamPara& s) { s.wr16_no_gen_bump(2272 + 26 + 8, 1); });
    EXPECT_EQ(c->output_applies, applies + 1);
    EXPECT_EQ(chip->reg(0x00, 0x11), 4);
    EXPECT_EQ(ich(kIact, 1), 192u - 7);
    EXPECT_EQ(ich(kIactHw, 1), 1920u);
    EXPECT_EQ(ich(kIactVst, 1), 41u + 1);
    // Window 1 moves right by 40 pixels: its output channel's active area starts there.
    step([](ZemRamPara& s) { window(s, 1, 1, {1000, 0, 920, 1080}); });
    EXPECT_EQ(c->output_applies, applies + 2);
    EXPECT_EQ(och(kOactHst, 1), uint32_t(1000 + c->PS_ACTHST));
    EXPECT_EQ(och(kOactHw, 1), 920u);
    // Brightness: the chip's offset stays neutral (the FPGAs carry it); no output apply.
    chip->clearFrames();
    step([](ZemRamPara& s) { s.wr16_no_gen_bump(2176, 20); });
    EXPECT_EQ(c->output_applies, applies + 2);
    EXPECT_FALSE(chip->writeLog().empty());
    for (int k = 0; k < 8; ++k) EXPECT_EQ(och(0x0C3A02, k), 0u);
}

TEST_F(DisplayTest, ZoomAndShrinkProgramTheirSides) {
    measure(kPortOf[kHdmi2], 1280, 720);
    apply([](ZemRamPara& s) {
        window(s, 0, kHdmi2, {0, 0, 1920, 1080});
        window(s, 1, kHdmi1, {0, 0, 960, 540});
    });
    // Window 0 zooms 1280 x 720 up on the output side; the input side captures it whole.
    EXPECT_EQ(ich(0x114401, 0), 0x80u);
    EXPECT_EQ(och(0x0A4601, 0), 0xC7u);
    EXPECT_EQ(och(0x0A4902, 0), 43680u);
    EXPECT_EQ(och(0x0A4401, 0), 3u);
    // Window 1 shrinks 1920 x 1080 to half on the input side; its output reads one to one.
    const int c1 = c->g_win_ich[1][0];
    ASSERT_GE(c1, 0);
    EXPECT_EQ(ich(0x114401, c1), 0xC7u);
    EXPECT_EQ(ich(0x114702, c1), uint32_t(959 * 65536 / 1919 + 1));
    EXPECT_EQ(ich(0x114901, c1), 0x84u);
    EXPECT_EQ(och(0x0A4601, 1), 0u);
    EXPECT_EQ(och(kOactHw, 1), 960u);
}

TEST_F(DisplayTest, ALayoutChangeFreezesThenReleases) {
    twoWindows();
    apply([](ZemRamPara& s) { window(s, 1, kHdmi2, {960, 0, 900, 1080}); });
    // The read sequence of output channel 0 holds one field, then runs the four again.
    const auto seq = chip->writes(0x16, 0x6C);
    const auto high = chip->writes(0x16, 0x6D);
    ASSERT_GE(seq.size(), 2u);
    bool held = false, released_after = false;
    for (size_t i = 0; i < seq.size() && i < high.size(); ++i) {
        const uint32_t v = seq[i] | high[i] << 8;
        const bool hold = v == (v & 0xF) * 0x1111u;
        held = held || hold;
        released_after = released_after || (held && !hold);
    }
    EXPECT_TRUE(held);
    EXPECT_TRUE(released_after);
    EXPECT_GE(writesOf(0x10, 0x09, 2), 1u);  // the capture was stopped on the held field
}

TEST_F(DisplayTest, ALoneSourceSwitchWithFadeRampsOutAndIn) {
    step([](ZemRamPara& s) {
        s.wr16_no_gen_bump(2816, 3);
        s.wr16_no_gen_bump(2818, 3);
        s.wr16_no_gen_bump(2272 + 18, 4);  // fade on
        window(s, 0, kHdmi1, {0, 0, 1920, 1000});
    });
    const size_t before = writesOf(kRtctBank, kRtct, 0xA9);
    apply([](ZemRamPara& s) { s.wr16_no_gen_bump(2272 + 8, kHdmi2); });
    EXPECT_EQ(writesOf(kRtctBank, kRtct, 0xA9) - before, 8u);  // 3 + 1 frames out, 3 + 1 in
}

TEST_F(DisplayTest, AStuckSyncDelaysTheApplyButEndsIt) {
    step([](ZemRamPara& s) {
        s.wr16_no_gen_bump(2816, 255);
        s.wr16_no_gen_bump(2818, 255);
        s.wr16_no_gen_bump(2272 + 18, 4);
        window(s, 0, kHdmi1, {0, 0, 1920, 1000});
    });
    chip->setFramesStopped(true);
    const size_t before = writesOf(kRtctBank, kRtct, 0xA9);
    apply([](ZemRamPara& s) { s.wr16_no_gen_bump(2272 + 8, kHdmi2); });
    // Each ramp gives up waiting after its first lost frame and writes its last step.
    EXPECT_LE(writesOf(kRtctBank, kRtct, 0xA9) - before, 4u);
}

TEST_F(DisplayTest, OverlappingWindowsAreLayeredByPriority) {
    apply([](ZemRamPara& s) {
        window(s, 0, kHdmi1, {0, 0, 1920, 1080});
        window(s, 1, kHdmi2, {100, 100, 800, 600});
        s.wr16_no_gen_bump(2208, 2);      // window 0 under
        s.wr16_no_gen_bump(2208 + 2, 4);  // window 1
    });
    EXPECT_THAT(std::vector<int>(c->g_och_layer[0], c->g_och_layer[0] + 2), ElementsAre(1, 0));
    EXPECT_EQ(och(0x0E0B04, 0), (1u + 8) | (0u + 8) << 4);
    EXPECT_EQ(och(0x0E0B04, 1), 0u);
    EXPECT_EQ(och(kOactHw, 2), 0u);  // idle output channel
}

TEST_F(DisplayTest, PictureControlsAtTheirEndsAndBeyond) {
    c331_manage::stop_thread();
    struct {
        int value;
        uint32_t brightness, contrast, saturation;
    } cases[] = {{0, 0xC00, 0, 0},         {49, 0xFEC, 501, 501},    {50, 0, 511, 511},
                 {100, 0x400, 1023, 1023}, {101, 0x400, 1023, 1023}, {-5, 0xC00, 0, 0}};
    for (const auto& k : cases) {
        c->c331_SetBrightness(k.value);
        c->c331_SetContrast(k.value);
        c->c331_SetSaturation(k.value);
        for (int ch : {0, 7}) {
            EXPECT_EQ(och(0x0C3A02, ch), k.brightness) << k.value;
            EXPECT_EQ(och(0x0C3E02, ch), k.brightness) << k.value;
            EXPECT_EQ(och(0x0C2C02, ch), k.contrast) << k.value;
            EXPECT_EQ(och(0x0C1F02, ch), k.saturation) << k.value;
        }
    }
    c->c331_SetColorTemp(64u << 24 | 64u << 16 | 64u << 8);
    EXPECT_THAT(std::vector<uint32_t>(
                    {och(0x0C5B02, 3), och(0x0C6302, 3), och(0x0C6B02, 3), och(0x0C5D02, 3)}),
                ElementsAre(4096u, 4096u, 4096u, 0u));
    c->c331_SetColorTemp(2 | 100u << 24);
    EXPECT_EQ(och(0x0C5B02, 0), 8192u);
    // Sharpness on a window scaled 3:1: the strongest set; the gain is clamped to its byte.
    c->IWIN[0] = {0, 640, 0, 1080};
    c->OWIN[0] = {0, 1920, 0, 1080};
    struct {
        int value;
        uint32_t enable, gain, c0;
    } sharp[] = {{0, 0, 0, 0}, {10, 0, 0, 0}, {11, 6, 12, 36}, {50, 6, 255, 36}, {100, 6, 255, 36}};
    for (const auto& k : sharp) {
        c->c331_SetSharpness(k.value);
        EXPECT_EQ(och(0x0B0801, 0), k.enable) << k.value;
        EXPECT_EQ(och(0x0B0901, 0), k.gain) << k.value;
        EXPECT_EQ(och(0x0B0C01, 0), k.c0) << k.value;
        EXPECT_EQ(och(0x0B1201, 0), k.gain) << k.value;
    }
}

TEST_F(DisplayTest, TestPatternsOnOneWindowAndRefusedWithTwo) {
    c331_manage::stop_thread();
    // The default layout: one window on output channel 0.
    const uint8_t first[20] = {4, 4, 4, 4, 4, 1, 0x0E, 0x0F, 0, 0, 8, 5, 0x0E, 1, 3, 3, 6, 9, 2, 3};
    for (int n = 1; n <= 21; ++n) {
        EXPECT_EQ(c->c331_SetPattern(n), 0);
        EXPECT_EQ(chip->reg(0x08, 0x57), first[(n - 1) % 20]) << n;
        EXPECT_EQ(c->zemApi_IsPatternGen(), 1);
    }
    EXPECT_EQ(chip->reg(0x08, 0x63), 255);  // 21 is red again
    EXPECT_EQ(chip->reg(0x08, 0x64), 0);
    EXPECT_EQ(c->c331_SetPattern(0), 0);
    EXPECT_EQ(chip->reg(0x08, 0x57), 0);
    EXPECT_EQ(c->zemApi_IsPatternGen(), 0);
    c->gMwin.wincnt = 2;
    chip->clearFrames();
    EXPECT_EQ(c->c331_SetPattern(1), -1);
    EXPECT_TRUE(chip->writeLog().empty());  // nothing half-written
    EXPECT_EQ(c->zemApi_IsPatternGen(), 0);
}

TEST_F(DisplayTest, ShrinkFiltersByRatio) {
    c331_manage::stop_thread();
    // Vertical tables: 1080 lines into 540, 1000 and 810; register 0x70 is the first coefficient.
    struct {
        int in, out;
        uint8_t first, last;
    } rows[] = {
        {1080, 540, 6, 26}, {1080, 1000, 247, 54}, {1080, 810, 248, 38}, {1080, 1080, 252, 64}};
    for (const auto& r : rows) {
        const int ratio = r.out < r.in ? (r.out - 1) * 65536 / (r.in - 1) + 1 : 65536;
        c->set_lut_vshrnk_4sym(c->fd, ratio, 2, 1);
        EXPECT_EQ(chip->reg(0x31, 0x70), r.first) << r.out;
        EXPECT_EQ(chip->reg(0x31, 0x7F), r.last) << r.out;
        EXPECT_EQ(chip->reg(0x41, 0x70), r.first) << "the pair's second channel";
    }
    for (auto [ratio, sel] : {std::pair{65001, 44}, {65000, 38}, {0, 44}, {32769, 6}, {1, 1}}) {
        c->set_lut_hshrnk(c->fd, ratio, 1, 0);
        EXPECT_EQ(chip->reg(0x00, 0x79), sel) << ratio;
        EXPECT_EQ(chip->reg(0x00, 0x7A), 4 * 1 + 131);
    }
}

TEST_F(DisplayTest, DeinterlacerAndNoiseReductionPresets) {
    c331_manage::stop_thread();
    c->g_ich_owner[0] = 0;
    c->PM_INPUT[0] = 1;
    // Progressive 1080p with block noise reduction 3.
    c->PM_BNR = 3;
    c->set_ip(c->fd, 0);
    EXPECT_EQ(chip->field(0x153902), 0x0C97u);
    EXPECT_EQ(chip->field(0x155402), 768u);
    EXPECT_EQ(chip->reg(0x15, 0x6A), 36);
    EXPECT_EQ(chip->reg(0x15, 0x08), 3);
    EXPECT_EQ(chip->reg(0x14, 0x2A), 0x10);
    EXPECT_EQ(chip->field(0x171804), uint32_t(c->PS_MEM_IP_P[0]));
    // Interlaced 480i (state 8): the de-interlacer's group B and the field memories.
    c->PM_BNR = 0;
    measure(1, 720, 240, 8, 1);
    c->set_ip(c->fd, 0);
    EXPECT_EQ(chip->reg(0x14, 0x2E), 13);
    EXPECT_EQ(chip->reg(0x14, 0x42), 70);
    EXPECT_EQ(chip->reg(0x14, 0x2C), 50);
    EXPECT_EQ(chip->reg(0x14, 0x2A), 0);  // de-interlacer enabled
    EXPECT_EQ(chip->reg(0x16, 0x5B), 1);
    EXPECT_EQ(chip->field(0x171C04), uint32_t(c->PS_MEM_IP_I[0]));
    EXPECT_EQ(chip->field(0x141302), 480u);  // field height doubled
    // A V-by-One channel gets no de-interlacer writes.
    chip->clearFrames();
    c->set_ip(c->fd, 4);
    EXPECT_TRUE(chip->writeLog().empty());
}

}  // namespace
