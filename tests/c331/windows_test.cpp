// Windows on the simulated chip: window words of the parameter RAM applied through the apply
// flag become window records, output-channel lists, the overlay of shared channels, input
// channels and their port selection, and the window geometry; bad words keep the last layout.
#include <gmock/gmock.h>

#include "window_fixture.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

TEST_F(WindowsTest, OneWindowFullScreenOnTheDefaultPanel) {
    step([](ZemRamPara& s) { window(s, 0, kHdmi1, {0, 0, 960, 540}); });
    apply([](ZemRamPara& s) { window(s, 0, kHdmi1, {0, 0, 1920, 1080}); });
    EXPECT_EQ(c->gMwin.wincnt, 1);
    EXPECT_THAT(list(0), ElementsAre(0));
    EXPECT_THAT(enables(), ElementsAre(1, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(c->PM_INPUT[0], kPortOf[kHdmi1]);
    EXPECT_THAT(ichOf(0), ElementsAre(0));
    EXPECT_EQ(chip->reg(0x00, 0x10), 2 * kPortOf[kHdmi1]);  // channel 0 selects port 1
    EXPECT_THAT(rect(c->IWIN[0]), ElementsAre(0, 1920, 0, 1080));
    EXPECT_THAT(rect(c->OWIN[0]), ElementsAre(0, 1920, 0, 1080));
    // The background of the window's channel is off while its input has a signal.
    EXPECT_EQ(chip->reg(0x08, 0x48), 0);
}

// Windows side by side in each arrangement the splice modes give: which output channels each
// record covers and where a shared channel's second picture is laid.
struct SpliceCase {
    const char* name;
    int splice, ledW, ledH, out1w, out1h;
    int arrang;
    std::vector<Rect> windows;
    std::vector<std::vector<int>> lists;  // per record
    std::vector<int> overlay;             // PM_OVERLAY
};

class SpliceTest : public WindowsTest, public ::testing::WithParamInterface<SpliceCase> {};

TEST_P(SpliceTest, WindowsGetTheirChannelsAndOverlay) {
    const SpliceCase& k = GetParam();
    apply([&](ZemRamPara& s) {
        screen(s, k.splice, k.ledW, k.ledH, k.out1w, k.out1h);
        for (int w = 0; w < 6; ++w) {
            if (w < int(k.windows.size()))
                window(s, w, w % 4, k.windows[w]);
            else
                window(s, w, 0, {0, 0, 0, 0}, 0);
        }
    });
    EXPECT_EQ(c->gPanel.arrang, k.arrang);
    ASSERT_EQ(c->gMwin.wincnt, int(k.windows.size()));
    for (size_t r = 0; r < k.lists.size(); ++r)
        EXPECT_EQ(list(int(r)), k.lists[r]) << "record " << r;
    EXPECT_THAT(std::vector<int>(c->PM_OVERLAY, c->PM_OVERLAY + 8), ElementsAreArray(k.overlay));
    for (size_t r = 0; r < k.lists.size(); ++r) {
        for (size_t j = 0; j < k.lists[r].size(); ++j) {
            const int ch = k.lists[r][j];
            EXPECT_EQ(c->PM_WIN_NUM[ch], int(r));
            EXPECT_EQ(c->PM_AREA_NUM[ch], int(j));
            EXPECT_EQ(chip->reg(0x00, uint8_t(0x08 + ch)) & 1, 1);
        }
        EXPECT_EQ(ichOf(int(r)).size(), 1u) << "one input channel for an HDMI port";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arrangements, SpliceTest,
    ::testing::Values(
        SpliceCase{"CopyTwoInOneChannel",
                   4,
                   1920,
                   1080,
                   1920,
                   1080,
                   5,
                   {{0, 0, 960, 1080}, {960, 0, 960, 1080}},
                   {{0}, {1}},
                   {1, 1, 3, 4, 5, 6, 7, 8}},
        SpliceCase{"CopyFourQuadrants",
                   4,
                   1920,
                   1080,
                   1920,
                   1080,
                   5,
                   {{0, 0, 960, 540}, {960, 0, 960, 540}, {0, 540, 960, 540}, {960, 540, 960, 540}},
                   {{0}, {1}, {2}, {3}},
                   {1, 1, 1, 1, 5, 6, 7, 8}},
        SpliceCase{"HorizontalTwoChannels",
                   3,
                   3840,
                   1080,
                   1920,
                   1080,
                   5,
                   {{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}},
                   {{0}, {1}},
                   {1, 2, 3, 4, 5, 6, 7, 8}},
        SpliceCase{
            "HorizontalFourAcrossTwoChannels",
            3,
            3840,
            1080,
            1920,
            1080,
            5,
            {{0, 0, 960, 1080}, {960, 0, 960, 1080}, {1920, 0, 960, 1080}, {2880, 0, 960, 1080}},
            {{0}, {2}, {1}, {3}},
            {1, 2, 1, 2, 5, 6, 7, 8}},
        SpliceCase{"VerticalTwoRows",
                   2,
                   1920,
                   2160,
                   1920,
                   1080,
                   8,
                   {{0, 0, 1920, 1080}, {0, 1080, 1920, 1080}},
                   {{0}, {1}},
                   {1, 2, 3, 4, 5, 6, 7, 8}},
        SpliceCase{"HorizontalFourChannelsWide",
                   3,
                   16376,
                   800,
                   8192,
                   800,
                   6,
                   {{0, 0, 8192, 800}, {8192, 0, 8184, 800}},
                   {{0, 1}, {2, 3}},
                   {1, 2, 3, 4, 5, 6, 7, 8}},
        // A window in the right column over both rows covers channels 1 and 3 only.
        SpliceCase{"VerticalGridRightColumn",
                   2,
                   8192,
                   1600,
                   8192,
                   800,
                   7,
                   {{0, 0, 4096, 1600}, {4096, 0, 4096, 1600}},
                   {{0, 2}, {1, 3}},
                   {1, 2, 3, 4, 5, 6, 7, 8}},
        SpliceCase{"VerticalGridFullScreen",
                   2,
                   8192,
                   1600,
                   8192,
                   800,
                   7,
                   {{0, 0, 8192, 1600}},
                   {{0, 1, 2, 3}},
                   {1, 2, 3, 4, 5, 6, 7, 8}}),
    [](const ::testing::TestParamInfo<SpliceCase>& i) { return std::string(i.param.name); });

// A window of no width or height between two others in the 2 x 2 grid: it takes no channel,
// and the windows after it get theirs as if it were off.
class EmptyWindowTest : public WindowsTest, public ::testing::WithParamInterface<Rect> {};

TEST_P(EmptyWindowTest, TakesNoChannelAndLeavesTheOthersTheirs) {
    const Rect empty = GetParam();
    apply([&](ZemRamPara& s) {
        screen(s, 2, 8192, 1600, 8192, 800);
        window(s, 0, kHdmi1, {0, 0, 4096, 1600});
        window(s, 1, kHdmi2, empty);
        window(s, 2, kHdmi3, {4096, 0, 4096, 1600});
    });
    ASSERT_EQ(c->gPanel.arrang, 7);
    ASSERT_EQ(c->gMwin.wincnt, 3);
    EXPECT_THAT(list(0), ElementsAre(0, 2));
    EXPECT_THAT(list(1), ElementsAre());
    EXPECT_THAT(list(2), ElementsAre(1, 3));
    EXPECT_THAT(std::vector<int>(c->PM_WIN_NUM, c->PM_WIN_NUM + 8),
                ElementsAre(0, 2, 0, 2, 6, 6, 6, 6));
    EXPECT_THAT(std::vector<int>(c->PM_OVERLAY, c->PM_OVERLAY + 8),
                ElementsAre(1, 2, 3, 4, 5, 6, 7, 8));
    EXPECT_THAT(std::vector<int>(c->PM_WIN_SHAPE[1], c->PM_WIN_SHAPE[1] + 2), ElementsAre(0, 0));
    EXPECT_TRUE(ichOf(1).empty());  // nor an input channel
    EXPECT_FALSE(ichOf(2).empty());
}

INSTANTIATE_TEST_SUITE_P(NoWidthOrNoHeight, EmptyWindowTest,
                         ::testing::Values(Rect{4096, 0, 0, 1600}, Rect{0, 0, 8192, 0}),
                         [](const ::testing::TestParamInfo<Rect>& i) {
                             return i.param.w == 0 ? std::string("NoWidth")
                                                   : std::string("NoHeight");
                         });

TEST_F(WindowsTest, TwoHdmiWindowsSideBySideGetTheirPortsAndGeometry) {
    measure(kPortOf[kHdmi2], 1280, 720);
    apply([](ZemRamPara& s) {
        window(s, 0, kHdmi1, {0, 0, 960, 1080});
        window(s, 1, kHdmi2, {960, 0, 960, 1080});
    });
    EXPECT_THAT(ichOf(0), ElementsAre(0));
    EXPECT_THAT(ichOf(1), ElementsAre(1));
    EXPECT_EQ(chip->reg(0x00, 0x10), 2 * kPortOf[kHdmi1]);
    EXPECT_EQ(chip->reg(0x00, 0x11), 2 * kPortOf[kHdmi2]);
    EXPECT_THAT(std::vector<int>(c->PM_WIN_OFFSET[0], c->PM_WIN_OFFSET[0] + 4),
                ElementsAre(0, 960, 0, 0));
    EXPECT_THAT(std::vector<int>(c->PM_WIN_OFFSET[1], c->PM_WIN_OFFSET[1] + 4),
                ElementsAre(960, 0, 0, 0));
    EXPECT_THAT(rect(c->IWIN[0]), ElementsAre(0, 1920, 0, 1080));
    EXPECT_THAT(rect(c->OWIN[0]), ElementsAre(0, 960, 0, 1080));
    EXPECT_THAT(rect(c->IWIN[1]), ElementsAre(0, 1280, 0, 720));
    EXPECT_THAT(rect(c->OWIN[1]), ElementsAre(960, 960, 0, 1080));
    _ScalingSt sc{};
    c331_manage::calc_scaling(&c->IWIN[0], &c->OWIN[0], &sc);
    EXPECT_EQ(sc.hmode, 1);  // 1920 shrinks to 960
    EXPECT_EQ(sc.hshrink, 959 * 65536 / 1919 + 1);
    EXPECT_EQ(sc.vmode, 0);
    c331_manage::calc_scaling(&c->IWIN[1], &c->OWIN[1], &sc);
    EXPECT_EQ(sc.hmode, 1);  // 1280 wide into 960
    EXPECT_EQ(sc.vmode, 2);  // 720 lines onto 1080
    EXPECT_EQ(sc.vzoom, 719 * 65536 / 1079 + 1);
}

TEST_F(WindowsTest, ADisabledWindowInTheMiddleMapsByRecord) {
    apply([](ZemRamPara& s) {
        window(s, 0, kHdmi1, {0, 0, 960, 1080});
        window(s, 1, kHdmi2, {960, 0, 960, 1080}, 0);
        window(s, 2, kHdmi2, {960, 0, 960, 1080});
    });
    EXPECT_EQ(c->gMwin.wincnt, 2);
    EXPECT_THAT(std::vector<int>(c->g_win_record, c->g_win_record + 3), ElementsAre(0, -1, 1));
    EXPECT_EQ(c->PM_INPUT[1], kPortOf[kHdmi2]);
    EXPECT_EQ(c->gWininfo[1].rect.x, 960);
}

TEST_F(WindowsTest, ASourceSwitchOfAWindowAfterADisabledOneReachesItsRecord) {
    step([](ZemRamPara& s) {
        window(s, 0, kHdmi1, {0, 0, 960, 1080});
        window(s, 1, kHdmi2, {960, 0, 960, 1080}, 0);
        window(s, 2, kHdmi2, {960, 0, 960, 1080});
    });
    apply([](ZemRamPara& s) { s.wr16(2272 + 26 * 2 + 8, kHdmi4); });
    EXPECT_EQ(c->PM_INPUT[1], kPortOf[kHdmi4]);  // record 1 is RAM window 2
    EXPECT_EQ(c->PM_INPUT[0], kPortOf[kHdmi1]);
    EXPECT_THAT(ichOf(1), ElementsAre(4, 5));  // a V-by-One port takes a pair
    EXPECT_EQ(chip->reg(0x00, 0x14), 4 * (kPortOf[kHdmi4] - 2));
}

TEST_F(WindowsTest, ACroppedSourceCapturesItsRectangle) {
    apply([](ZemRamPara& s) {
        const int e = 1472 + 10 * 3;
        s.wr16(e, 0x8000 | kHdmi1);
        s.wr16(e + 2, 100);
        s.wr16(e + 4, 50);
        s.wr16(e + 6, 800);
        s.wr16(e + 8, 600);
        window(s, 0, 0x8003, {0, 0, 1920, 1080});
    });
    EXPECT_EQ(c->PM_INPUT[0], kPortOf[kHdmi1]);
    EXPECT_EQ(c->PM_INPUT_OFFSET_EN[0], 1);
    EXPECT_THAT(std::vector<int>(c->PM_INPUT_OFFSET[0], c->PM_INPUT_OFFSET[0] + 4),
                ElementsAre(100, 1020, 50, 430));
    EXPECT_THAT(rect(c->IWIN[0]), ElementsAre(100, 800, 50, 600));
}

TEST_F(WindowsTest, BadWordsFromThePcKeepTheLayoutOrFallBack) {
    step([](ZemRamPara& s) {
        window(s, 0, kHdmi1, {0, 0, 960, 1080});
        window(s, 1, kHdmi2, {960, 0, 960, 1080});
    });
    // A crop index past the 40 entries: nothing is read past the table, the layout stays.
    step([](ZemRamPara& s) { window(s, 1, 0x8000 | 45, {960, 0, 900, 1080}); });
    EXPECT_EQ(c->gMwin.wincnt, 2);
    EXPECT_EQ(c->gWininfo[1].rect.w, 960);
    // A window beyond the screen: one full-screen window.
    apply([](ZemRamPara& s) { window(s, 1, kHdmi2, {960, 0, 3000, 1080}); });
    EXPECT_EQ(c->gMwin.wincnt, 1);
    EXPECT_THAT(std::vector<int>({c->gWininfo[0].rect.x, c->gWininfo[0].rect.y,
                                  c->gWininfo[0].rect.w, c->gWininfo[0].rect.h}),
                ElementsAre(0, 0, 1920, 1080));
    EXPECT_THAT(enables(), ElementsAre(1, 0, 0, 0, 0, 0, 0, 0));
}

TEST_F(WindowsTest, TheFallbackWithAnInputOfSevenIndexesNoInputTable) {
    // Window 0 rebuilt on source 7 (low three bits of the word) is invalid and stays the
    // fallback's window: it shows nothing rather than reading past the six inputs.
    apply([](ZemRamPara& s) { window(s, 0, 7, {0, 0, 960, 1080}); });
    EXPECT_EQ(c->gMwin.wincnt, 1);
    EXPECT_EQ(c->PM_INPUT[0], 6);
    EXPECT_TRUE(ichOf(0).empty());
    EXPECT_THAT(rect(c->IWIN[0]), ElementsAre(0, 0, 0, 0));
}

TEST_F(WindowsTest, MoreInputChannelsThanTheChipHasLeaveLaterWindowsWithout) {
    // Five windows on the 4K ports need ten channels: the allocation refuses the need.
    apply([](ZemRamPara& s) {
        for (int w = 0; w < 5; ++w) window(s, w, w % 2 ? kHdmi3 : kHdmi4, {w * 384, 0, 384, 1080});
    });
    EXPECT_EQ(c->gMwin.wincnt, 5);
    int with_channels = 0;
    for (int r = 0; r < 5; ++r) with_channels += !ichOf(r).empty();
    EXPECT_LT(with_channels, 5);
    EXPECT_EQ(c->check_ich_all(-1), -1);
}

// Scaling ratios worked by hand, and a window split across two output channels.
TEST_F(WindowsTest, ScalingRatiosAndChannelPieces) {
    c331_manage::stop_thread();
    struct {
        int in, out, mode, ratio;
    } cases[] = {{1920, 1280, 1, 43680}, {1280, 1920, 2, 43680}, {3840, 1920, 1, 32760},
                 {1920, 1920, 0, 0},     {0, 1920, 0, 0},        {1920, 0, 0, 0}};
    for (const auto& k : cases) {
        _ImageWindowDef_st in{0, k.in, 0, k.in}, out{0, k.out, 0, k.out};
        _ScalingSt s{};
        c331_manage::calc_scaling(&in, &out, &s);
        EXPECT_EQ(s.hmode, k.mode) << k.in << " to " << k.out;
        EXPECT_EQ(s.hmode == 2 ? s.hzoom : s.hshrink, k.ratio) << k.in << " to " << k.out;
        EXPECT_EQ(s.vmode, s.hmode);
    }
    c->PS_ACTHW = 1920;
    c->PS_ACTVW = 1080;
    c->PM_WIN_SHAPE[0][0] = 2;
    c->PM_WIN_SHAPE[0][1] = 1;
    _ImageWindowDef2_St p[8];
    _ImageWindowDef_st r{100, 1920, 0, 1080};
    c->calc_oact(&r, p, 0);
    EXPECT_THAT(std::vector<int>({p[0].hst, p[0].hw, p[1].hst, p[1].hw}),
                ElementsAre(100, 1820, 0, 100));
    EXPECT_THAT(std::vector<int>({p[0].hfirst, p[0].hlast, p[1].hfirst, p[1].hlast}),
                ElementsAre(1, 0, 0, 1));
    r = {100, 1820, 0, 1080};  // ends on the channel border
    c->calc_oact(&r, p, 0);
    EXPECT_THAT(std::vector<int>({p[0].hw, p[1].hw, p[0].hlast}), ElementsAre(1820, 0, 1));
}

TEST_F(WindowsTest, InputChannelPlacementRules) {
    c331_manage::stop_thread();
    auto owners = [&](std::vector<int> o) {
        for (int k = 0; k < 8; ++k) c->g_ich_owner[k] = o[k];
    };
    owners({-1, -1, 0, -1, -1, -1, -1, -1});
    EXPECT_EQ(c->check_ich(0, 0), 3);  // 0 free, 2 owned, 3 free
    owners({0, -1, -1, -1, -1, -1, -1, -1});
    EXPECT_EQ(c->check_ich(0, 0), 1);
    owners({0, 1, -1, -1, -1, -1, -1, -1});
    EXPECT_EQ(c->check_ich(0, 0), 2);
    owners({0, 1, 2, 3, 4, -1, 5, -1});
    EXPECT_EQ(c->check_ich(0, 0), 5);
    EXPECT_EQ(c->check_ich(1, 0), -1);  // an interlaced input wants a CMOS channel
    EXPECT_EQ(c->check_ich(0, 1), -1);
    owners({-1, -1, 0, 0, 1, -1, -1, 2});
    EXPECT_EQ(c->check_ich(0, 1), 0);
    // A pair where only one half is free: the other half's owner moves.
    owners({0, 1, 2, 3, -1, 4, 5, 5});
    c->PM_INPUT[4] = 2;
    EXPECT_EQ(c->adjust_ich(0, 1, 3), -1);  // nowhere for window 4 to go
    owners({0, -1, 2, 3, -1, 4, 5, 5});
    EXPECT_EQ(c->adjust_ich(0, 1, 1), 0);
    EXPECT_THAT(std::vector<int>(c->g_ich_owner, c->g_ich_owner + 8),
                ElementsAre(0, 4, 2, 3, 1, 1, 5, 5));
    EXPECT_EQ(c->g_chg_src[4], 2);
}

}  // namespace
