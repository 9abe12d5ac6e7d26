// Picture controls (brightness, contrast, saturation, sharpness, colour temperature), the
// per-window attributes (priority, mirror, output flags, DBD mode), the test patterns and the
// end of the start-up forced background. C331 thread only, under the C331 mutex.
#include <algorithm>
#include <cstdio>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"

namespace {

constexpr int kWindows = 6;

constexpr uint32_t desc(int bank, int address, int count) {
    return uint32_t(bank) << 16 | uint32_t(address) << 8 | uint32_t(count);
}

// A picture value from the PC outside 0..100 is clamped: folding 101 to 0 would turn a
// slightly high value into the lowest one.
int pictureValue(int v) {
    return std::clamp(v, 0, 100);
}

// A test pattern's registers of bank 0x08: 0x57, 0x58..0x5A, 0x5B, 0x5F, 0x61, 0x63..0x65 and
// the value of 0x66..0x68. A 0x5B of -1 is the solid-colour width word; -2 is 0x8000 on a wide
// window, else the 0x57 value.
struct Pattern {
    int r57, r58, r59, r5a, r5b, r5f, r61, r63, r64, r65, r66;
};
constexpr int kSolid = -1, kLine = -2;
constexpr Pattern kPatterns[20] = {
    {4, 0, 0, 0, kSolid, 0, 0, 255, 0, 0, 3},          // red
    {4, 0, 0, 0, kSolid, 0, 0, 0, 255, 0, 3},          // green
    {4, 0, 0, 0, kSolid, 0, 0, 0, 0, 255, 3},          // blue
    {4, 0, 0, 0, kSolid, 0, 0, 255, 255, 255, 3},      // white
    {4, 0, 0, 0, kSolid, 0, 0, 0, 0, 0, 3},            // black
    {1, 0, 0, 0, 0x8000, 0x1E0, 0, 255, 255, 255, 3},  // colour bar
    {0x0E, 0, 0, 0, kLine, 1, 0, 255, 255, 255, 3},    // vertical line
    {0x0F, 0, 0, 0, kLine, 0, 1, 255, 255, 255, 3},    // horizontal line
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},                 // cleared
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},                 // cleared
    {8, 0x30, 0, 0, 0x8000, 0x20, 0x20, 255, 255, 255, 3},
    {5, 0, 0, 0, 0x8000, 0xF0, 0x10E, 255, 255, 255, 3},
    {0x0E, 0, 0, 0, 0x8000, 1, 0, 255, 255, 255, 3},
    {1, 0, 0, 0, 0x8000, 0x1E0, 0, 255, 255, 255, 3},
    {3, 0, 1, 0, 0x8000, 0x8FFF, 0, 0, 0x78, 0, 0},
    {3, 2, 1, 1, 0x8000, 0x8FFF, 0x8FFF, 0, 0x78, 0, 0},
    {6, 0, 0, 0, 0x8000, 0x3C0, 0, 255, 255, 255, 3},
    {9, 0, 0, 0, 0x8095, 4, 0xF00, 255, 255, 255, 3},
    {2, 0, 0, 0, 0x8000, 0, 0x10E, 255, 255, 255, 3},
    {3, 1, 1, 1, 0x8000, 0, 0x4FFF, 255, 255, 255, 3},
};

}  // namespace

void c331_manage::write_all_och(uint32_t descriptor, uint32_t value) {
    for (uint32_t k = 0; k < 8; ++k) drv->write_C331(fd, descriptor, value, 16 * k);
}

int c331_manage::window_och(int rec, int* och) const {
    if (rec < 0 || rec >= kWindows) return 0;
    const ST_WIN_INFO& r = gWininfo[rec];
    int n = 0;
    for (int j = 0; j < r.totalh * r.totalv && j < 8; ++j)
        if (r.ochLst[j] < 8) och[n++] = r.ochLst[j];
    return n;
}

void c331_manage::c331_SetBrightness(int value) {
    const int v = pictureValue(value);
    int32_t data = (v - 50) * 1024 / 50;
    if (v < 50) data &= 0xFFF;
    ZEM_DEBUG("\r\n[c331_SetBrightness] %d\n", v);
    ZEM_DEBUG("\t data:%04x\r\n", unsigned(data));
    set_rtct(fd, 2);
    for (int a : {0x3A, 0x3C, 0x3E}) write_all_och(desc(0x0C, a, 2), uint32_t(data));
    set_rtct(fd, 1);
}

void c331_manage::c331_SetContrast(int value) {
    const int v = pictureValue(value);
    const uint32_t data = uint32_t(v * 1023 / 100);
    set_rtct(fd, 2);
    for (uint32_t k = 0; k < 8; ++k) {
        drv->write_c331_mask(fd, desc(0x0C, 0x21, 1), 1, 1, 16 * k);
        for (int a : {0x28, 0x2A, 0x2C}) drv->write_C331(fd, desc(0x0C, a, 2), data, 16 * k);
    }
    set_rtct(fd, 1);
    ZEM_DEBUG("\r\n[c331_SetContrast] val:%d, data:%u\r\n", v, data);
}

void c331_manage::c331_SetSaturation(int value) {
    const int v = pictureValue(value);
    const uint32_t data = uint32_t(v * 1023 / 100) & 0x7FF;
    ZEM_DEBUG("[c331_SetSaturation] %d:%04x\r\n", v, data);
    set_rtct(fd, 2);
    for (uint32_t k = 0; k < 8; ++k) {
        drv->write_c331_mask(fd, desc(0x0C, 0x14, 1), 1, 1, 16 * k);
        for (int a : {0x1B, 0x1D, 0x1F}) drv->write_C331(fd, desc(0x0C, a, 2), data, 16 * k);
    }
    set_rtct(fd, 1);
}

void c331_manage::c331_SetColorTemp(uint32_t word) {
    static const uint32_t kPresets[4][3] = {
        {0, 0, 0}, {8845, 8113, 7056}, {8192, 8192, 8192}, {6944, 8282, 10978}};
    const int preset = int(word & 3);
    uint32_t rgb[3] = {kPresets[preset][0], kPresets[preset][1], kPresets[preset][2]};
    if (preset == 0) {
        rgb[0] = ((word >> 24) & 0xFF) * 64;
        rgb[1] = ((word >> 16) & 0xFF) * 64;
        rgb[2] = ((word >> 8) & 0xFF) * 64;
    }
    ZEM_DEBUG("[c331_SetColorTemp] %8x\r\n", word);
    set_rtct(fd, 2);
    for (int a = 0x59; a <= 0x60; ++a) drv->write_c331_mask(fd, desc(0x00, a, 1), 0x20, 0x20, 0);
    // The 3 x 3 matrix row by row: the gains on the diagonal.
    for (int i = 0; i < 9; ++i)
        write_all_och(desc(0x0C, 0x5B + 2 * i, 2), i % 4 == 0 ? rgb[i / 4] : 0);
    set_rtct(fd, 1);
}

void c331_manage::c331_SetSharpness(int value) {
    const int v = pictureValue(value);
    const int s = v > 9 ? v - 10 : 0;
    ZEM_DEBUG("[c331_SetSharpness] :%04x\r\n", unsigned(v));
    // The gain register is a byte: 90 x 12.8 would wrap to 0x80, so the gain is clamped.
    const uint32_t gain = uint32_t(std::min(int(s * 12.8), 255));
    const uint32_t enable = s > 0 ? 6 : 0;
    drv->write_c331_mask(fd, desc(0x0C, 0x21, 1), 1, 1, 0);
    for (int w = 0; w < gMwin.wincnt && w < kWindows; ++w) {
        const int p = zemApi_inputCvtC331(gWininfo[w].input);
        if (p > 5 || PI_STATE[p] == 0) continue;
        int och[8];
        const int n = window_och(w, och);
        for (int i = 0; i < n; ++i)
            drv->write_C331(fd, desc(0x0B, 0x08, 1), enable, 16 * uint32_t(och[i]));
        auto ratio = [](int32_t out, int32_t in) { return in > 0 ? float(out) / float(in) : 1.0f; };
        const float rh = ratio(OWIN[w].hw, IWIN[w].hw);
        const float rv = ratio(OWIN[w].vw, IWIN[w].vw * (1 + (PI_SCAN_MODE[p] ? 1 : 0)));
        static const int kH[4][5] = {
            {36, 43, 58, 4, 5}, {30, 42, 0, 7, 0}, {28, 46, 5, 3, 60}, {44, 49, 56, 63, 2}};
        static const int kV[4][5] = {
            {42, 48, 59, 0, 0}, {34, 47, 0, 0, 0}, {28, 45, 5, 0, 0}, {44, 50, 56, 0, 0}};
        auto row = [](float r) { return r > 2.5f ? 0 : r > 2.0f ? 1 : r > 1.25f ? 2 : 3; };
        const int* h = kH[row(rh)];
        const int* vv = kV[row(rv)];
        set_rtct(fd, 2);
        for (int i = 0; i < n; ++i) {
            const uint32_t off = 16 * uint32_t(och[i]);
            for (int j = 0; j < 5; ++j)
                drv->write_C331(fd, desc(0x0B, 0x0C + j, 1), s ? uint32_t(h[j]) : 0, off);
            drv->write_C331(fd, desc(0x0B, 0x09, 1), gain, off);
        }
        for (int i = 0; i < n; ++i)
            drv->write_C331(fd, desc(0x0B, 0x11, 1), enable, 16 * uint32_t(och[i]));
        for (int i = 0; i < n; ++i) {
            const uint32_t off = 16 * uint32_t(och[i]);
            drv->write_C331(fd, desc(0x0B, 0x5E, 1), 1, off);
            for (int j = 0; j < 5; ++j)
                drv->write_C331(fd, desc(0x0B, 0x15 + j, 1), s ? uint32_t(vv[j]) : 0, off);
            drv->write_C331(fd, desc(0x0B, 0x12, 1), gain, off);
        }
        set_rtct(fd, 1);
    }
}

void c331_manage::c331_debugEnv() {}

void c331_manage::c331_SetWinPriority(int win, int value) {
    if (win < 0 || win >= kWindows) return;
    ZEM_DEBUG("[c331_SetWinPriority] win_%d, pri_%d\n", win, value);
    // As the rebuild does: a layer is 0..5.
    gWininfo[win].layer = uint8_t(((value % 6) + 6) % 6);
}

void c331_manage::c331_SetWinPriority1(int fd) {
    for (int w = 0; w < kWindows; ++w)
        PM_OVERLAY_PRI[w] = w < gMwin.wincnt ? 5 - std::min<int>(gWininfo[w].layer, 5) : 0;
    update_overlay_info();
    set_overlay(fd);
    reset_layer_coef(fd, 0);
}

void c331_manage::c331_SetWinAttr(int win, int value) {
    if (win < 0 || win >= gMwin.wincnt || win >= kWindows) return;
    ZEM_DEBUG("[c331_SetWinAttr] win:%d, data:%x\r\n", win, unsigned(value));
    gWininfo[win].rotate = uint8_t(value & 3);
    g_chg_mirror[win] = 1;
    PM_WIN_HMIRROR[win] = value & 1;
    PM_WIN_VMIRROR[win] = (value >> 1) & 1;
    set_output(fd);
}

int c331_manage::ram_window(int rec) const {
    for (int w = 0; w < kWindows; ++w)
        if (g_win_record[w] == rec) return w;
    return -1;
}

int c331_manage::dbd_code(int mode) {
    static const int kCodes[10] = {1, 20, 21, 22, 23, 30, 40, 41, 50, 51};
    if (mode >= 0 && mode < 10) return kCodes[mode];
    ZEM_DEBUG("\t !!!!!!!!DBD_MODE OOR!!!!!!!, set it to DBD_SINGLE_INPUT");
    return 1;
}

void c331_manage::c331_SetWinOutput(int fd, int win, int flags) {
    if (win < 0 || win >= kWindows) return;  // the records are six
    if (win >= gMwin.wincnt) ZEM_DEBUG("[c331_SetWinOutput], win OOR");
    ST_WIN_INFO& rec = gWininfo[win];
    const int f = flags & 3;
    if (rec.outFlag != f) {
        if ((rec.outFlag ^ f) & 1) {
            rec.outFlag = uint8_t((rec.outFlag & ~1) | (f & 1));
            set_input_bkg2(fd, win, flags & 1);
        }
        if ((rec.outFlag ^ f) & 2) {
            rec.outFlag &= uint8_t(~2);
            const int p = PM_INPUT[win];
            if (p >= 0 && p < 6 && PI_PORT_INFO[p][kPortNoSignal] == 1) {
                ZEM_DEBUG("\t change win_%d no signal, disable freeze\n", win);
            } else {
                rec.outFlag |= uint8_t(f & 2);
                win_freeze_sel(fd, win, flags);
                return;
            }
        }
    }
    PM_WIN_FADE_EN[win] = (flags >> 2) & 1;
    const int w = ram_window(win);
    const ZemRamPara* s = ZemRamPara::p_zemrampara_config;
    PM_WIN_DBD_MODE[win] =
        (flags & 0x100) && s && w >= 0 ? dbd_code(s->rd16(2272 + 26 * w + 22)) : 0;
    g_chg_dbd[win] = 1;
    set_output(fd);
}

void c331_manage::win_freeze_sel(int fd, int win, int flags) {
    const int i = g_win_ich[win][0];
    if (i < 0 || i > 7) return;
    drv->write_C331(fd, desc(0x10, 0x09, 1), (flags & 2) ? 2 : 1, 16 * uint32_t(i));
}

void c331_manage::c331_SetWinDbdMode(int fd, int win, int mode) {
    if (win < 0 || win >= kWindows) return;
    PM_WIN_DBD_MODE[win] = dbd_code(mode);
    const int w = ram_window(win);
    const ZemRamPara* s = ZemRamPara::p_zemrampara_config;
    if (!s || w < 0 || !(s->rd16(2272 + 26 * w + 18) & 0x100)) return;
    g_chg_dbd[win] = 1;
    set_output(fd);
}

int c331_manage::c331_SetPattern(int n) {
    if (gMwin.wincnt > 1) {
        ZEM_DEBUG("\t wincnt:%d OOR, return fail\r\n", gMwin.wincnt);
        writeLogMsg(2, "c331: test pattern refused: more than one window is open");
        return -1;
    }
    int och[8];
    const int count = window_och(0, och);
    set_rtct(fd, 2);
    for (int i = 0; i < count; ++i) {
        const uint32_t off = 16 * uint32_t(och[i]);
        for (int a : {0x57, 0x58, 0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68})
            drv->write_C331(fd, desc(0x08, a, 1), 0, off);
        for (int a : {0x5B, 0x5D, 0x5F, 0x61}) drv->write_C331(fd, desc(0x08, a, 2), 0, off);
    }
    if (n <= 0) {
        g_pattern_gen = 0;
        ZEM_DEBUG("    turn off pattern\r");
        set_input_bkg2(fd, 0, 0);
        set_rtct(fd, 1);
        return 0;
    }
    const Pattern& pt = kPatterns[(n - 1) % 20];
    g_pattern_gen = 1;
    const bool wide = gWininfo[0].rect.w > 2048;
    set_input_bkg2(fd, 0, 0);
    for (int i = 0; i < count && pt.r57 != 0; ++i) {
        const uint32_t off = 16 * uint32_t(och[i]);
        const int r5b = pt.r5b == kSolid  ? (wide     ? 0x8000
                                             : i == 0 ? 0
                                                      : 3)
                        : pt.r5b == kLine ? (wide ? 0x8000 : pt.r57)
                                          : pt.r5b;
        const int bytes[7][2] = {{0x57, pt.r57}, {0x58, pt.r58}, {0x59, pt.r59}, {0x5A, pt.r5a},
                                 {0x63, pt.r63}, {0x64, pt.r64}, {0x65, pt.r65}};
        for (const auto& b : bytes) drv->write_C331(fd, desc(0x08, b[0], 1), uint32_t(b[1]), off);
        for (int a : {0x66, 0x67, 0x68})
            drv->write_C331(fd, desc(0x08, a, 1), uint32_t(pt.r66), off);
        drv->write_C331(fd, desc(0x08, 0x5B, 2), uint32_t(r5b), off);
        drv->write_C331(fd, desc(0x08, 0x5F, 2), uint32_t(pt.r5f), off);
        drv->write_C331(fd, desc(0x08, 0x61, 2), uint32_t(pt.r61), off);
    }
    set_rtct(fd, 1);
    return 0;
}

void c331_manage::zemApi_forceColorDisable(int fd) {
    g_force_bkcolor = 2;
    ZEM_DEBUG("[zemApi_forceColorDisable]");
    write_all_och(desc(0x08, 0x49, 3), 0);
    for (int w = 0; w < gMwin.wincnt && w < kWindows; ++w) {
        const int p = PM_INPUT[w];
        const bool nosig = p >= 0 && p < 6 && PI_PORT_INFO[p][kPortNoSignal] == 1;
        int och[8];
        const int n = window_och(w, och);
        ZEM_DEBUG("\t win_%d, oimgct:%d,och:\t", w, nosig ? 1 : 0);
        for (int i = 0; i < n; ++i) {
            ZEM_DEBUG("%d ", och[i]);
            drv->write_C331(fd, desc(0x08, 0x48, 1), nosig ? 1 : 0, 16 * uint32_t(och[i]));
        }
        ZEM_DEBUG("\n");
    }
}
