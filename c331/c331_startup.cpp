// Chip start-up settings: the fixed system parameters and what follows from them, the boot
// defaults of the window modes, the register script from reset to a running video path, and
// the register-update timing control.
#include <cstdio>
#include <cstring>

#include "c331/c331_manage.h"
#include "core/console.h"
#include "core/globals.h"
#include "platform/clock.h"

void c331_manage::load_system_param() {
    PS_CLK1 = 32000000;
    PS_MCLK = 800000000;
    PS_REFCLK1 = PS_REFCLK2 = 27000000;
    PS_ACTHW = 1920;
    PS_ACTVW = 2160;
    PS_HTOTAL = 2200;
    PS_VTOTAL = 2250;
    PS_HSW = 88;
    PS_HBP = 88;
    PS_VSW = 10;
    PS_VBP = 72;
    PS_VBOTX_MODE = 0;
    PS_VBOTX_LAYOUT = 0;
    const int32_t plla[5] = {0, 137, 0, 1, 22};
    const int32_t pllb[4] = {137, 0, 2, 24};
    std::memcpy(PS_PLLA, plla, sizeof plla);
    std::memcpy(PS_PLLB, pllb, sizeof pllb);
    const int32_t sc_base[5] = {0, 0x08800000, 0x11000000, 0x19800000, 0x22000000};
    for (int k = 0; k < 8; ++k)
        for (int i = 0; i < 5; ++i) PS_MEM_SC[k][i] = sc_base[i] + 0x2000 * k;
    PS_DBD_STRIPES = 64;
    for (int i = 0; i < 5; ++i) PS_MEM_DBD[i] = 0x2A800000 + 0x0B280000 * i;
    PS_DBD_BLOCK = 0x01DC0000;
    PS_DBD_WORD = 14;
    const uint32_t ip[16] = {0x65000000, 0x65339000, 0x66EB8800, 0x671F1800, 0x68D71000, 0x690AA000,
                             0x6AC29800, 0x6AF62800, 0x65717000, 0x65000000, 0x675CF800, 0x66EB8800,
                             0x69488000, 0x68D71000, 0x6B340800, 0x6AC29800};
    for (int i = 0; i < 8; ++i) {
        PS_MEM_IP_I[i] = static_cast<int32_t>(ip[i]);
        PS_MEM_IP_P[i] = static_cast<int32_t>(ip[8 + i]);
    }
    const uint32_t mv[4] = {0x65CEA000, 0x67BA2800, 0x69A5B000, 0x6B913800};
    for (int i = 0; i < 4; ++i) {
        PS_MEM_IPYOFF[i] = 207;
        PS_MEM_MV[i] = static_cast<int32_t>(mv[i]);
        PS_MWI_IP[i] = 35;
    }
    for (int w = 0; w < 6; ++w) PS_MEM_WMODE[w] = 1;
    PS_VBO_2LANE = PS_VBO_4LANE = PS_VBO_8LANE = 0;
    PS_VBO_WORD[0] = PS_VBO_WORD[1] = PS_VBO_WORD[2] = 0;
    PS_SFL_ADDR = 0x70000000;
    PS_MEM_OSD = 0x725C0000;
    PS_MEM_OSD1 = 0x74B80000;
    PS_FONT_ADDR = 0x7F000000;
}

namespace {
// The panel's channel tiling by transmitter mode and layout.
void panelShape(int mode, int layout, int* hshape, int* vshape) {
    if (mode == 0) {
        *hshape = layout == 0 ? 4 : 2;
        *vshape = layout == 0 ? 1 : 2;
    } else if (mode == 2) {
        *hshape = layout == 0 ? 2 : 1;
        *vshape = layout == 0 ? 1 : 2;
    } else {
        *hshape = layout == 0 ? 8 : 4;
        *vshape = layout == 0 ? 1 : 2;
    }
}
}  // namespace

void c331_manage::define_param() {
    PS_MCLK4 = PS_MCLK / 4;
    PS_OAOIHST = PS_ACTHST = PS_HSW + PS_HBP;
    PS_OAOIHED = PS_OAOIHST + PS_ACTHW;
    PS_OAOIVST = PS_ACTVST = PS_VSW + PS_VBP;
    PS_OAOIVED = PS_OAOIVST + PS_ACTVW;
    panelShape(PS_VBOTX_MODE, PS_VBOTX_LAYOUT, &PS_PANEL_HSHAPE, &PS_PANEL_VSHAPE);
    PS_PANEL_HW = PS_PANEL_HSHAPE * PS_ACTHW;
    PS_PANEL_VW = PS_PANEL_VSHAPE * PS_ACTVW;

    PM_HNR = PM_VNR = PM_TNR = PM_BNR = PM_MNR = PM_COMB = 0;
    PM_IPEN = 1;
    PM_DIAG = 2;
    PM_MVFLT = 3;
    PM_22PD = PM_23PD = 0;
    PM_22PDSQTH = PM_23PDSQTH = 1;
    PM_24SF = 0;
    for (int p = 0; p < 6; ++p) PM_IACTHST[p] = PM_IACTVST[p] = 0;

    for (int w = 0; w < 6; ++w) {
        PM_INPUT[w] = -1;
        PM_WIN_DBD_MODE[w] = -1;
        for (int i = 0; i < 8; ++i) g_win_ich[w][i] = g_win_ich_copy[w][i] = -1;
        for (int i = 0; i < 4; ++i) g_win_dbd_mem[w][i] = -1;
        for (int i = 0; i < 5; ++i) g_win_order[w][i] = i;
        g_dbd_mem_owner[w] = -1;
    }
    for (int k = 0; k < 8; ++k) {
        g_ich_owner[k] = -1;
        g_och_rec[k][0] = k;
        g_och_rec[k][1] = g_och_rec[k][2] = g_och_rec[k][3] = -1;
        g_och_word[k] = -1;
        g_och_on[k] = 1;
    }
    PM_OSD_SCROLL_SPEED = 32;
    PM_OSD_CHAR_64DOT = 1;
}

// Boot defaults of the window modes; the first apply rebuilds them from the parameter RAM.
const int32_t c331_manage::parameters_txt[160] = {
    2,   1,   2,    1,   1,  1,  1,   1, 1,   1, 1,   1,                 // shapes
    4,   5,   1,    2,   3,  0,                                          // input ports
    100, 100, 100,  100, 0,  0,  0,   0, 0,   0, 540, 0, 0, 0, 1080, 0,  // window offsets
    0,   0,   1080, 0,   0,  0,  540, 0,                                 //
    100, 100, 200,  200, 0,  0,  0,   0, 400, 0, 200, 0, 0, 0, 0,    0,  // input offsets
    0,   0,   0,    0,   0,  0,  0,   0,                                 //
    1,   0,   0,    0,   0,  0,                                          // input offset enables
    0,   0,   1,    1,   2,  3,  4,   5,                                 // channel owners
    0,   1,   0,    1,   0,  0,  0,   0,                                 // channel areas
    0,   0,   0,    0,   1,  2,  3,   4,                                 // overlay
    1,   0,   2,    3,   4,  5,                                          // layer priorities
    0,   0,   0,    1,   1,  1,                                          // horizontal mirror
    0,   0,   1,    0,   1,  0,                                          // vertical mirror
    0,   1,   1,    1,   0,  1,                                          // fade enables
    60,  60,  60,   60,  60, 60,                                         // fade in
    60,  60,  60,   60,  60, 60,                                         // fade out
    0,   0,   1,    0,   1,  1,                                          // DBD modes
    0,   0,   0,    0,   0,  0,                                          // DBD clips
    0,   0,   0,    1,   2,                                              // OSD switches
    0,   0,   0,    0,   0,  0,  0,   0,                                 // OSD offsets
    1,   0,   0};

namespace {
// Copies n table entries into a field, raising flag[i] (or *flag) for each entry that changed.
void copyFlagged(const int32_t* src, int32_t* dst, int n, int32_t* flags, int32_t* one_flag) {
    for (int i = 0; i < n; ++i) {
        if (dst[i] == src[i]) continue;
        dst[i] = src[i];
        if (flags) flags[i] = 1;
        if (one_flag) *one_flag = 1;
    }
}
}  // namespace

void c331_manage::load_param() {
    ZEM_DEBUG("[load_param]\n");
    for (int w = 0; w < 6; ++w)
        g_chg_input[w] = g_chg_src[w] = g_chg_mirror[w] = g_chg_fade[w] = g_chg_dbd[w] =
            g_chg_pri[w] = 0;
    g_chg_overlay = g_chg_global = 0;
    g_osd_setup_request = g_osd_update_request = 0;

    const int32_t* t = parameters_txt;
    for (int w = 0; w < 6; ++w) {
        int32_t* flag = &g_chg_input[w];
        copyFlagged(t + 2 * w, PM_WIN_SHAPE[w], 2, nullptr, flag);
        copyFlagged(t + 18 + 4 * w, PM_WIN_OFFSET[w], 4, nullptr, flag);
        copyFlagged(t + 42 + 4 * w, PM_INPUT_OFFSET[w], 4, nullptr, flag);
    }
    copyFlagged(t + 66, PM_INPUT_OFFSET_EN, 6, g_chg_input, nullptr);
    copyFlagged(t + 12, PM_INPUT, 6, g_chg_src, nullptr);
    std::memcpy(PM_WIN_NUM, t + 72, sizeof PM_WIN_NUM);
    std::memcpy(PM_AREA_NUM, t + 80, sizeof PM_AREA_NUM);
    copyFlagged(t + 88, PM_OVERLAY, 8, nullptr, &g_chg_overlay);
    copyFlagged(t + 96, PM_OVERLAY_PRI, 6, g_chg_pri, nullptr);
    copyFlagged(t + 102, PM_WIN_HMIRROR, 6, g_chg_mirror, nullptr);
    copyFlagged(t + 108, PM_WIN_VMIRROR, 6, g_chg_mirror, nullptr);
    copyFlagged(t + 114, PM_WIN_FADE_EN, 6, g_chg_fade, nullptr);
    copyFlagged(t + 120, PM_WIN_FADE_IN, 6, g_chg_fade, nullptr);
    copyFlagged(t + 126, PM_WIN_FADE_OUT, 6, g_chg_fade, nullptr);
    copyFlagged(t + 132, PM_WIN_DBD_MODE, 6, g_chg_dbd, nullptr);
    copyFlagged(t + 138, PM_WIN_DBD_CLIP, 6, g_chg_dbd, nullptr);
    copyFlagged(t + 144, &PM_OSD_EN, 1, nullptr, &g_osd_setup_request);
    copyFlagged(t + 145, &PM_OSD_HZOOM_EN, 1, nullptr, &g_osd_setup_request);
    copyFlagged(t + 146, &PM_OSD_VZOOM_EN, 1, nullptr, &g_osd_setup_request);
    copyFlagged(t + 147, &PM_OSD_DATA_MODE, 1, nullptr, &g_osd_update_request);
    copyFlagged(t + 148, &PM_OSD_SCROLL_MODE, 1, nullptr, &g_osd_setup_request);
    copyFlagged(t + 149, PM_OSD_OUTPUT_OFFSET, 4, nullptr, &g_osd_setup_request);
    copyFlagged(t + 153, PM_OSD_INPUT_OFFSET, 4, nullptr, &g_osd_update_request);
    PM_GLOBAL_WORD = t[157];
    PM_GLOBAL_SWITCH = t[158];
    PM_OSD_UPDATE_BUTTON = t[159];
    if (PM_GLOBAL_SWITCH) g_chg_global = 1;
    if (PM_OSD_UPDATE_BUTTON) g_osd_update_request = 1;

    for (int w = 0; w < 6; ++w) PM_WIN_STITCHING[w] = w;
    for (int w = 0; w < 6; ++w)
        console::outf("load_param  WIN[%d]  win=%d  dbd=%d  input=%d  pri=%d\n", w, w,
                      PM_WIN_DBD_MODE[w], PM_INPUT[w], PM_OVERLAY_PRI[w]);
}

int c331_manage::pll_range_code() const {
    const int64_t d = PS_VBOTX_MODE == 1 ? 2000000 : 4000000;
    const int64_t den = d * (PS_PLLA[3] ? PS_PLLA[3] : 1);
    const int64_t r = static_cast<int64_t>(PS_PLLA[4]) * PS_REFCLK1 / den;
    return r > 40 ? 0x4C : r > 20 ? 0x48 : 0x44;
}

void c331_manage::write_initial_setting(int fd, int pll) {
    const int code = pll == 1 ? start_pll(fd) : 0x4C;
    write_clock_and_output_setup(fd);
    write_memory_map(fd);
    if (pll == 1) start_vbo_transmitter(fd, code);
}

// The PLL is started first; its lock range picks the V-by-One transmitter's range code.
int c331_manage::start_pll(int fd) {
    auto w = [&](uint32_t desc, uint32_t v) { drv->write_C331(fd, desc, v, 0); };
    w(0xFF0001, 8);
    w(0xFF0101, 0);
    w(0xFF0201, 200);
    w(0xFF0301, 0);
    w(0xFF0401, 0x61);
    w(0xFF0503, 1);
    Sleep(20);
    return pll_range_code();
}

// Clocks and resets, the two PLL sets, the output timing and the output channels.
void c331_manage::write_clock_and_output_setup(int fd) {
    auto w = [&](uint32_t desc, uint32_t v, uint32_t off = 0) {
        drv->write_C331(fd, desc, v, off);
    };
    w(0x000101, 0x01);
    w(0x000201, 0x0F);
    w(0x000301, 0x00);
    for (int n = 0; n < 8; ++n) w(0x000801 + (n << 8), 0x00);  // channels off until allocated
    for (int i = 0; i < 5; ++i) w(0x004701 + (i << 8), static_cast<uint32_t>(PS_PLLA[i]));
    for (int i = 0; i < 4; ++i) w(0x005101 + (i << 8), static_cast<uint32_t>(PS_PLLB[i]));

    w(0x034001, static_cast<uint32_t>(PS_HSW / 2 - 1));
    w(0x034401, static_cast<uint32_t>(PS_HSW / 2 - 1));
    w(0x034501, static_cast<uint32_t>(PS_VSW - 1));
    w(0x034602, static_cast<uint32_t>(PS_HBP));
    w(0x034802, static_cast<uint32_t>(PS_VBP));
    w(0x034C01, static_cast<uint32_t>(PS_HSW / 2 - 1));
    w(0x034D01, static_cast<uint32_t>(PS_VSW - 1));
    const uint32_t tx_variant = PS_VBOTX_MODE == 1 ? 0x11 : PS_VBOTX_MODE == 2 ? 0x22 : 0x44;
    w(0x031A01, tx_variant);
    w(0x031B01, static_cast<uint32_t>(PS_VBOTX_LAYOUT));

    // Memory windows.
    w(0x042B02, (static_cast<uint32_t>(PS_SFL_ADDR) >> 16) | 0x8000);
    w(0x042D02, static_cast<uint32_t>(PS_MEM_OSD) >> 16);
    w(0x042F02, static_cast<uint32_t>(PS_FONT_ADDR) >> 16);

    // Output channels: active area, totals.
    for (uint32_t k = 0; k < 8; ++k) {
        w(0x080C02, static_cast<uint32_t>(PS_VTOTAL - 2), 16 * k);
        write_channel_area(fd, k);
    }
}

// Neutral processing channels and windows, then where each input's frames live.
void c331_manage::write_memory_map(int fd) {
    auto w = [&](uint32_t desc, uint32_t v, uint32_t off = 0) {
        drv->write_C331(fd, desc, v, off);
    };
    for (uint32_t k = 0; k < 8; ++k) {
        w(0x0E0D02, 0, 16 * k);
        w(0x100801, 0x00, 16 * k);
        w(0x0A4401, 0x00, 16 * k);
    }
    w(0x010801, 0x00);
    for (uint32_t k = 0; k < 6; ++k) {
        w(0x163002, static_cast<uint32_t>(PS_MWI), 16 * k);
        w(0x116C02, 0x3210, 16 * k);
    }

    // Frame stores of the channels, CMOS capture and motion memory. The last channel and the
    // last CMOS capture hold the right half of a line whose left half is in the channel
    // before: that one's addresses plus 1920 pixels of 4 bytes.
    constexpr uint32_t kHalfLine = 7680;
    for (uint32_t c = 0; c < 8; ++c) {
        const uint32_t from = c < 7 ? c : 6;
        const uint32_t plus = c < 7 ? 0 : kHalfLine;
        for (uint32_t i = 0; i < 5; ++i)
            w(0x160804 + (i << 10), static_cast<uint32_t>(PS_MEM_SC[from][i]) + plus, 16 * c);
    }
    for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t off = 16 * k;
        const uint32_t from = k < 3 ? k : 2;
        const uint32_t plus = k < 3 ? 0 : kHalfLine;
        w(0x006004 + (k << 10), static_cast<uint32_t>(PS_MEM_IP_I[k]));
        w(0x106004, static_cast<uint32_t>(PS_MEM_IP_I[from]) + plus, off);
        w(0x106404, static_cast<uint32_t>(PS_MEM_IP_P[from]) + plus, off);
        w(0x106804, static_cast<uint32_t>(PS_MEM_MV[k]), off);
        w(0x140801 + (k << 8), static_cast<uint32_t>(PS_MEM_IPYOFF[k]));
        w(0x170801 + (k << 8), static_cast<uint32_t>(PS_MWI_IP[k]));
    }
}

// The V-by-One transmitter's PHY and its start sequence, with the PLL's range code.
void c331_manage::start_vbo_transmitter(int fd, int code) {
    auto w = [&](uint32_t desc, uint32_t v) { drv->write_C331(fd, desc, v, 0); };
    w(0xFF0201, 0);
    w(0xFF0401, 0);
    w(0x012601, 0);
    Sleep(1);
    static const uint8_t phy[][2] = {{0x20, 0x03}, {0x21, 0x3C}, {0x22, 0x10}, {0x23, 0x44},
                                     {0x24, 0x0F}, {0x25, 0x01}, {0x26, 0x01}};
    for (const auto& e : phy) w(0x010001 | e[0] << 8, e[1]);
    Sleep(1);
    w(0xFF0201, 0x88);
    Sleep(1);
    w(0xFF0201, 0xC8);
    Sleep(1);
    w(0xFF0401, 0x61);
    Sleep(20);
    const uint32_t mode = PS_VBOTX_MODE == 1 ? 5 : 9;
    w(0x020A01, static_cast<uint32_t>(code));
    w(0x020801, mode);
    w(0x020B01, 1);
    static const uint8_t steps[] = {14, 15, 13, 15, 11, 15, 7, 15};
    for (uint8_t s : steps) w(0x027F01, s);
    w(0x027A01, static_cast<uint32_t>(code));
    w(0x027801, mode);
    w(0x027B01, 1);
}

void c331_manage::set_rtct(int fd, int mode) {
    static const uint8_t rows[5][7] = {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
                                       {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99},
                                       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                       {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF},
                                       {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99}};
    const uint8_t* row = rows[(mode >= 0 && mode <= 3) ? mode : 4];
    drv->write_c331_mask(fd, 0x002901, 1, 1, 0);
    for (uint32_t i = 0; i < 7; ++i) drv->write_C331(fd, 0x002201 + (i << 8), row[i], 0);
    drv->write_c331_mask(fd, 0x002901, 0, 1, 0);
}
