// The OSD: its properties and text, the menu item applied, and what the simulated chip's 2-D
// engine is asked to draw (positions for each alignment, scrolling, the channel cut), and the
// whole road from the menu file to the engine on the running C331 thread.
#include <algorithm>

#include "c331_fixture.h"
#include "core/json_files.h"
#include "osd_support.h"

namespace {

using Draw = platform::sim::SimC331::Draw;

class OsdTest : public C331Test {
protected:
    // The manager after its start-up with its thread stopped, on a 1920 x 1080 panel of two
    // 960-pixel channel columns, with both 32-dot fonts present.
    c331_manage& idleManager() {
        chip->flashLoad(0x000000, fontFile(32, true, 2));
        chip->flashLoad(0x010000, fontFile(32, false, 2));
        c331_manage* c = startManager();
        EXPECT_TRUE(waitState(8));
        c331_manage::stop_thread();
        c->PS_PANEL_HW = 1920;
        c->PS_PANEL_VW = 1080;
        c->PS_PANEL_HSHAPE = 2;
        c->PS_PANEL_VSHAPE = 1;
        c->PS_ACTHW = 960;
        c->PS_ACTVW = 1080;
        c->load_char();
        chip->clearFrames();
        chip->clearDraws();
        return *c;
    }
    // A text item as the menu file gives it.
    static OSD_LIST textItem(const std::string& text) {
        OSD_LIST list;
        list.osdcount = 1;
        OMENU_PARA& m = list.menu[0];
        m.type = 0;
        m.status = "on";
        m.x = 0, m.y = 100, m.w = 1920, m.h = 200;
        m.h_align = "left", m.v_align = "top";
        m.enable = "on", m.color = "000000";
        m.fontw = m.fonth = 32;
        m.font_color = "FF0000";
        m.texts = text;
        return list;
    }
    std::vector<Draw> charDraws() const {
        std::vector<Draw> out;
        for (const Draw& d : chip->draws())
            if (d.command == 3) out.push_back(d);
        return out;
    }
    // Glyph indices queued by a character command (after the height byte, five bytes each).
    static std::vector<int> glyphs(const Draw& d) {
        std::vector<int> out;
        for (size_t i = 1; i + 4 < d.fifo.size(); i += 5)
            out.push_back(d.fifo[i] | d.fifo[i + 1] << 8);
        return out;
    }
};

TEST_F(OsdTest, PropertiesAreStoredAndRaiseTheirRequest) {
    c331_manage& c = idleManager();
    struct Case {
        int type, value;
        int32_t c331_manage::*field;
        int32_t want;
        int result, setup, content;
    };
    const Case cases[] = {
        {0, 7, &c331_manage::PM_OSD_EN, 1, 1, 1, 0},
        {4, 9, &c331_manage::PM_OSD_SCROLL_MODE, 0, 1, 1, 0},
        {4, 13, &c331_manage::PM_OSD_SCROLL_MODE, 4, 1, 1, 0},
        {4, -1, &c331_manage::PM_OSD_SCROLL_MODE, 8, 1, 1, 0},
        {13, 300, &c331_manage::PM_OSD_SCROLL_SPEED, 44, 1, 1, 0},
        {14, 1, &c331_manage::PM_OSD_CHAR_64DOT, 1, 1, 0, 1},
        {3, 0, &c331_manage::PM_OSD_DATA_MODE, 0, 1, 0, 1},
        {16, 0x12345678, &c331_manage::PS_BG_COLOR, 0x345678, 1, 0, 0},
        {18, 2, &c331_manage::PS_BG_TRANS, 1, 1, 0, 0},
        {33, 1, &c331_manage::g_osd_layer_bottom, 1, 1, 0, 0},
        {40, 5, &c331_manage::PM_OSD_EN, 0, 0, 0, 0},
    };
    for (const Case& k : cases) {
        c.g_osd_setup_request = c.g_osd_update_request = 0;
        c.PM_OSD_EN = 0;
        EXPECT_EQ(c.zemApi_OsdSet(k.type, k.value), k.result) << k.type;
        EXPECT_EQ(c.*k.field, k.want) << k.type << " " << k.value;
        EXPECT_EQ(c.g_osd_setup_request, k.setup) << k.type;
        EXPECT_EQ(c.g_osd_update_request, k.content) << k.type;
    }
    c.zemApi_OsdSet(32, 0xC0);
    EXPECT_EQ(c.g_osd_setup_request + c.g_osd_update_request, 2);
}

TEST_F(OsdTest, TextKeepsAtMost64LinesOf128CharactersOf16Bits) {
    c331_manage& c = idleManager();
    static uint32_t codes[70][c331_manage::kOsdLineChars];
    int lengths[70];
    for (int i = 0; i < 70; ++i) {
        lengths[i] = 200;
        std::fill_n(codes[i], c331_manage::kOsdLineChars, 0x1F600u + uint32_t(i));
    }
    EXPECT_EQ(c.zemApi_OsdSetUnicode(70, lengths, codes), 0);
    EXPECT_EQ(c.g_unicode_line, 64);
    EXPECT_EQ(c.g_unicode_text[63][254] << 8 | c.g_unicode_text[63][255], 0xF600 + 63);
    EXPECT_EQ(c.zemApi_OsdSetUnicode(0, lengths, codes), 0);
    EXPECT_EQ(c.g_unicode_line, 0);
    EXPECT_EQ(c.g_unicode_text[0][1], 0);
}

// Two lines of "AB" placed left, centred and right: each line one character command at its
// place on the canvas (stride 4096 bytes for a 1920-pixel canvas).
TEST_F(OsdTest, EachAlignmentDrawsTheLineAtItsPlaceOnTheCanvas) {
    c331_manage& c = idleManager();
    struct Case {
        const char* align;
        uint32_t x;  // start of "AB" (two 16-pixel characters) in a 1920-pixel band
    };
    for (const Case& k : {Case{"left", 0}, Case{"center", 944}, Case{"right", 1888}}) {
        OSD_LIST list = textItem("AB\nAB");
        list.menu[0].h_align = k.align;
        c.set_OSD_para(&list);
        chip->clearDraws();
        c.update_osd(c.fd);
        const auto draws = charDraws();
        ASSERT_EQ(draws.size(), 2u) << k.align;
        const uint32_t canvas = uint32_t(c.PS_MEM_OSD);
        EXPECT_EQ(draws[0].target, canvas + k.x) << k.align;
        EXPECT_EQ(draws[1].target, canvas + k.x + 4096 * 32) << k.align;
        EXPECT_EQ(draws[0].count, 1);
        EXPECT_EQ(glyphs(draws[0]), (std::vector<int>{0x21, 0x22}));
        EXPECT_EQ(draws[0].source, c.g_font_addr_32ASCII.load());
    }
}

TEST_F(OsdTest, JustifySpreadsTheSpareWidthOverTheGaps) {
    c331_manage& c = idleManager();
    OSD_LIST list = textItem("AB\nA");
    list.menu[0].h_align = "justify";
    c.set_OSD_para(&list);
    EXPECT_EQ(c.g_osd_hmargin_ravik[0], 1920 - 32);  // (W - L) / (length - 1)
    EXPECT_EQ(c.g_osd_hmargin_ravik[1], 1920 - 16);  // one character: the whole spare width
    chip->clearDraws();
    c.update_osd(c.fd);
    const auto draws = charDraws();
    ASSERT_EQ(draws.size(), 3u);  // one command per character
    EXPECT_EQ(draws[1].target - draws[0].target, 16u + 1888u);
}

TEST_F(OsdTest, WideLinesCentreFromTheBandStartWhenTheyDoNotFit) {
    c331_manage& c = idleManager();
    OSD_LIST list = textItem("");
    std::string wide;
    for (int i = 0; i < 70; ++i) wide += "\xe4\xb8\xad";  // 70 x U+4E2D: 2240 pixels
    list.menu[0].texts = wide + "\nxy";
    list.menu[0].h_align = "center";
    list.menu[0].v_align = "center";
    c.set_OSD_para(&list);
    EXPECT_EQ(c.g_osd_max_line_x_ravik[0], 0);
    EXPECT_EQ(c.g_osd_max_line_x_ravik[1], (1920 - 32) / 2);
    EXPECT_EQ(c.g_osd_v_alignment_value_ravik, (200 - 2 * 32) / 2);
}

// A wide character, one above U+FFFF, one between the fonts' ranges, and a malformed byte:
// only the wide character reads the wide font; the others show '?', nothing past the glyphs.
TEST_F(OsdTest, CharactersTheFontsDoNotHoldDrawAReplacementGlyph) {
    c331_manage& c = idleManager();
    OSD_LIST list = textItem(
        "\xe4\xb8\xad\xf0\x9f\x98\x80"
        "A\x80\xc3\xa9");
    c.set_OSD_para(&list);
    EXPECT_EQ(c.g_osd_line_cn[0], 3);  // U+4E2D, U+1F600, U+FFFD
    EXPECT_EQ(c.g_osd_line_en[0], 2);  // A, e-acute
    chip->clearDraws();
    c.update_osd(c.fd);
    const auto draws = charDraws();
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(glyphs(draws[0]), (std::vector<int>{96 + 0x2D, 0x1F, 0x21, 0x1F, 0x1F}));
    const auto& f = draws[0].fifo;
    EXPECT_EQ(f[0], 31);          // glyph height - 1
    EXPECT_EQ(f[5], 31);          // a wide cell
    EXPECT_EQ(f[2 * 5 + 5], 15);  // 'A' half a cell
    // Without the wide font every wide character shows '?'.
    chip->flashLoad(0x010000, Bytes(35, 0xFF));
    c.read_c331_font(c.fd);
    chip->clearDraws();
    c.update_osd(c.fd);
    EXPECT_EQ(glyphs(charDraws().at(0))[0], 0x1F);
}

TEST_F(OsdTest, MenuItemFieldsBecomeProperties) {
    c331_manage& c = idleManager();
    store().wr16_no_gen_bump(1378, 1920);
    store().wr16_no_gen_bump(1380, 1080);
    // Colour texts read as base-16 numbers up to the first other character; red and blue
    // swap places.
    struct Colour {
        const char* text;
        int32_t bgr;
    };
    for (const Colour& k :
         {Colour{"FF0000", 0x0000FF}, Colour{"0x00ff80", 0x80FF00}, Colour{" 123456", 0x563412},
          Colour{"#FF0000", 0}, Colour{"FF00", 0x00FF00}, Colour{"GG0000", 0},
          Colour{"FF00001", 0x0100F0}, Colour{"12G456", 0x120000}, Colour{"+0X0000ff", 0xFF0000},
          Colour{"-1", 0xFFFFFF}, Colour{"", 0}, Colour{"  \t 0x", 0}}) {
        c.PS_CHAR_COLOR = 0x010203;
        c.PS_BG_COLOR = 0x040506;
        OSD_LIST list = textItem("x");
        list.menu[0].font_color = k.text;
        list.menu[0].color = k.text;
        c.set_OSD_para(&list);
        EXPECT_EQ(c.PS_CHAR_COLOR, k.bgr) << k.text;
        EXPECT_EQ(c.PS_BG_COLOR, k.bgr) << k.text;
    }
    struct Size {
        int w, h, hzoom, dot64, zoom2x;
    };
    c.PM_OSD_HZOOM_EN = 1;
    for (const Size& k : {Size{64, 64, 0, 1, 0}, Size{128, 128, 1, 1, 0}, Size{256, 256, 1, 1, 1},
                          Size{64, 32, 1, 0, 1}, Size{32, 32, 0, 0, 0}}) {
        OSD_LIST list = textItem("x");
        list.menu[0].fontw = k.w;
        list.menu[0].fonth = k.h;
        c.set_OSD_para(&list);
        EXPECT_EQ(c.PM_OSD_HZOOM_EN, k.hzoom) << k.w << "x" << k.h;
        EXPECT_EQ(c.PM_OSD_CHAR_64DOT, k.dot64) << k.w << "x" << k.h;
        EXPECT_EQ(c.g_osd_zoom2x, k.zoom2x) << k.w << "x" << k.h;
    }
    c.PM_OSD_SCROLL_MODE = 6;
    for (const auto& [effect, mode] :
         std::vector<std::pair<int, int>>{{0, 0}, {1, 3}, {2, 4}, {3, 1}, {4, 2}, {9, 2}}) {
        OSD_LIST list = textItem("x");
        list.menu[0].effect = effect;
        c.set_OSD_para(&list);
        EXPECT_EQ(c.PM_OSD_SCROLL_MODE, mode) << effect;
    }
    OSD_LIST list = textItem("x");
    list.menu[0].w = 5000;
    list.menu[0].y = 2000;
    list.menu[0].speed = 30;
    list.menu[0].layer = "buttom";
    list.menu[0].enable = "off";
    list.menu[0].status = "off";
    c.set_OSD_para(&list);
    EXPECT_EQ(list.menu[0].w, 1920);
    EXPECT_EQ(list.menu[0].y, 1080);
    EXPECT_EQ(c.PM_OSD_SCROLL_SPEED, 44);
    EXPECT_EQ(c.g_osd_layer_bottom, 1);
    EXPECT_EQ(c.PS_BG_TRANS, 1);
    EXPECT_EQ(c.PM_OSD_EN, 0);
    list.menu[0].layer = "bottom";
    c.set_OSD_para(&list);
    EXPECT_EQ(c.g_osd_layer_bottom, 0);
    OSD_LIST none;
    c.PM_OSD_EN = 1;
    c.set_OSD_para(&none);  // osdcount 0: the OSD stays as it was
    EXPECT_EQ(c.PM_OSD_EN, 1);
}

TEST_F(OsdTest, CanvasPitchFollowsItsWidth) {
    c331_manage& c = idleManager();
    for (const auto& [width, mwi, shift] :
         std::vector<std::tuple<int, int, int>>{{1920, 32, 0}, {4200, 17, 1}, {100, 4, 0}}) {
        c.PS_BG_HACT = width;
        c.update_osd(c.fd);
        EXPECT_EQ(c.g_osd_mwi, mwi) << width;
        EXPECT_EQ(c.g_osd_mwi_shift, shift) << width;
    }
}

TEST_F(OsdTest, ABandStartingInTheSecondColumnLeavesTheFirstEmpty) {
    c331_manage& c = idleManager();
    c.PM_OSD_OUTPUT_OFFSET[0] = 1000;
    c.PM_OSD_OUTPUT_OFFSET[2] = 100;
    c.PM_OSD_OUTPUT_OFFSET[3] = 780;
    c331_manage::OsdCut cut;
    c.calc_osd(&cut);
    EXPECT_EQ(c.OSD_WIN.HST, 1000);
    EXPECT_EQ(c.OSD_WIN.HW, 920);
    EXPECT_EQ(c.OSD_WIN.VW, 200);
    EXPECT_EQ(cut.x[0], 0);
    EXPECT_EQ(cut.w[0], 0);
    EXPECT_EQ(cut.x[1], 40);
    EXPECT_EQ(cut.w[1], 920);
    EXPECT_EQ(cut.y[0], 100);
    EXPECT_EQ(cut.h[0], 200);
}

// After the first buffer the visible block is tiled 2 x 2 into the second, and every channel
// scrolls: mode 0 static (0x80), mode 3 0xA1.
TEST_F(OsdTest, ScrollingTilesTheBlockAndProgramsEveryChannel) {
    c331_manage& c = idleManager();
    OSD_LIST list = textItem("AB");
    list.menu[0].effect = 3;  // scroll mode 1
    c.set_OSD_para(&list);
    c.zemApi_OsdSet(4, 3);
    chip->clearDraws();
    c.update_osd(c.fd);
    std::vector<uint32_t> copies;
    for (const Draw& d : chip->draws())
        if (d.command == 2) copies.push_back(d.target - uint32_t(c.PS_MEM_OSD1));
    const uint32_t cw = 1920, ch = 1080 - 780 - 100;  // bottom cut from the band's height
    EXPECT_EQ(copies, (std::vector<uint32_t>{0, cw, 4096 * ch, 4096 * ch + cw}));
    for (uint8_t k = 0; k < 8; ++k) {
        EXPECT_EQ(chip->writes(uint8_t(0x09 + 16 * k), 0x3C).back(), 0xA1) << int(k);
        EXPECT_EQ(chip->field(0x094002, 16 * k), cw);
    }
    c.zemApi_OsdSet(4, 0);
    c.set_scroll(c.fd);
    EXPECT_EQ(chip->writes(0x09, 0x3C).back(), 0x80);
    // The band's place on the panel: 100 lines down in channel 0.
    EXPECT_EQ(chip->field(0x091602), uint32_t(c.PS_ACTVST + 100 + 1));
}

// The running thread: the OSD switched on in the parameter RAM reads the menu file and the
// text reaches the 2-D engine, the band at its place.
TEST_F(OsdTest, TheMenuFileReachesTheEngineWhenTheOsdIsSwitchedOn) {
    chip->flashLoad(0x000000, fontFile(32, true, 2));
    writeFile("/data/configs/omenu.json", R"({"name": "t", "osdcount": 1, "oactcount": 0,
      "menu": [{"type": 0, "status": "on",
        "pos": {"x": 0, "y": 40, "w": 400, "h": 64},
        "act": {"effect": 0, "speed": 1, "staytime": 0},
        "backpara": {"enable": "on", "color": "000000"},
        "fontpara": {"startx": 8, "starty": 4, "fontw": 32, "fonth": 32, "wordspace": 0,
                     "verticalspace": 0, "color": "FFFFFF"},
        "texts": ["HI"]}]})");
    c331_manage* c = startManager();
    ASSERT_TRUE(waitState(8));
    produce([](ZemRamPara& s) { s.wr16_no_gen_bump(ZemRamPara::kRamOsdOn, 1); });
    ASSERT_TRUE(waitFor([&] { return !charDraws().empty(); }));
    const Draw d = charDraws().front();
    EXPECT_EQ(glyphs(d), (std::vector<int>{'H' - 0x20, 'I' - 0x20}));
    c331_manage::stop_thread();
    EXPECT_EQ(d.target, uint32_t(c->PS_MEM_OSD) + 8 + uint32_t(c->osd_stride()) * 4);
    EXPECT_EQ(chip->field(0x091602), uint32_t(c->PS_ACTVST + 40 + 1));
}

}  // namespace
