// The OSD drawn on the chip: the canvas painted with the 2-D engine (fill, copy, character
// generator, DMA from the serial flash), the two palette colours, the band cut into the pieces
// that fall on each output channel, and each channel's OSD and scroll registers. C331 thread
// only; a whole redraw holds flash_lock, since a flash DMA from another thread stops the
// 2-D engine.
#include <algorithm>
#include <cstdio>

#include "c331/c331_manage.h"
#include "c331/c331_reg_writer.h"
#include "core/globals.h"

namespace {

constexpr uint32_t kEngineStart = 0x040801;  // 1 fill, 2 copy, 3 character generator
constexpr uint32_t kEngineBusy = 0x041701;   // bit 0
constexpr int kEnginePolls = 10000;
constexpr int kFg = 2, kBgOpaque = 1, kTransparent = 255;  // palette indices
constexpr int kNarrowGlyphs = 96;                          // 0x20..0x7F
constexpr uint32_t kReplacement = '?';

// Starts a 2-D engine command and waits until it is done.
void runEngine(RegWriter& e, uint32_t command) {
    e.w(kEngineStart, command);
    e.wait(kEngineBusy, 0x01, 0, kEnginePolls, 0, "2-D engine");
    e.w(kEngineStart, 0);
}

// The glyph of a narrow code, or '?' when the font has no cell for it.
uint32_t narrowIndex(uint32_t code) {
    return (code >= 0x20 && code <= 0x7F ? code : kReplacement) - 0x20;
}

}  // namespace

int c331_manage::osd_stride() const {
    return g_osd_mwi * (g_osd_mwi_shift ? 4 : 1) * 128;
}

int c331_manage::osd_paint(int fd, int x, int w, int y, int h, int colour, uint32_t base) {
    RegWriter e{drv, fd};
    e.w(0x040B02, uint32_t(colour));
    e.w(0x041E02, uint32_t(w - 1));
    e.w(0x042002, uint32_t(h - 1));
    e.w(0x041104, base + uint32_t(x + osd_stride() * y));
    e.w(0x041C01, uint32_t(g_osd_mwi));
    e.w(0x041B01, uint32_t(g_osd_mwi));
    e.w(0x042201, g_osd_mwi_shift ? 48 : 0);
    runEngine(e, 1);
    return e.rc;
}

int c331_manage::osd_copy(int fd, uint32_t src, uint32_t dst, int w, int h, int linear) {
    uint32_t pitch = uint32_t(g_osd_mwi), mode = g_osd_mwi_shift ? 48 : 0;
    if (linear) {
        pitch = w < 8320 ? uint32_t(w) / 128 : uint32_t(w) / 512;
        mode = (g_osd_mwi_shift ? 16 : 0) + (w >= 8320 ? 32 : 0);
    }
    RegWriter e{drv, fd};
    e.w(0x040D04, src);
    e.w(0x041104, dst);
    e.w(0x041E02, uint32_t(w - 1));
    e.w(0x042002, uint32_t(h - 1));
    e.w(0x041C01, pitch);
    e.w(0x041B01, uint32_t(g_osd_mwi));
    e.w(0x042201, mode);
    runEngine(e, 2);
    return e.rc;
}

int c331_manage::osd_put_unicode_string(int fd, int row, int x, int y, int fg, int bg, int gw,
                                        int gh, uint32_t base, int dot64) {
    return osd_put_unicode_string_1char_ravik(fd, row, 0, kOsdLineChars, x, y, fg, bg, gw, gh, base,
                                              dot64);
}

int c331_manage::osd_put_unicode_string_1char_ravik(int fd, int row, int start, int count, int x,
                                                    int y, int fg, int bg, int gw, int gh,
                                                    uint32_t base, int dot64) {
    if (row < 0 || row >= kOsdLines || start < 0 || start >= kOsdLineChars) return 0;
    const uint8_t* units = g_unicode_text[row];
    const int end = std::min(kOsdLineChars, start + std::max(count, 0));
    const uint8_t zoom = g_osd_zoom2x ? 0x80 : 0;
    // A wide character the wide font does not hold (absent, or outside U+4E00..U+9FFF) shows
    // the narrow '?' in its full cell; nothing indexes past the glyph sets.
    const bool wide_present = (g_osd_font_mask & (dot64 ? 1u << 2 : 1u << 0)) != 0;
    int n = 0;
    RegWriter e{drv, fd};
    for (int k = start; k < end; ++k) {
        const uint32_t code = uint32_t(units[2 * k]) << 8 | units[2 * k + 1];
        if (code == 0) break;
        if (n == 0) {
            e.w(0x042A01, dot64 ? 0x48 : 0x08);
            e.w(0x042702, 0x0A00);
            e.w(0x042901, uint32_t(gh - 1) | zoom);
            e.w(0x042702, 0);
        }
        uint32_t index, width = uint32_t(gw);
        if (code < 0x100) {
            index = narrowIndex(code);
            width = uint32_t(gw) / 2;
        } else if (wide_present && code >= 0x4E00 && code <= 0x9FFF) {
            index = kNarrowGlyphs + code - 0x4E00;
        } else {
            index = narrowIndex(kReplacement);
        }
        e.w(0x042901, index & 0xFF);
        e.w(0x042901, (index >> 8) & 0xFF);
        e.w(0x042901, uint32_t(fg));
        e.w(0x042901, uint32_t(bg));
        e.w(0x042901, ((width - 1) & 0x7F) | zoom);
        ++n;
    }
    if (n == 0) return 0;
    const uint32_t font = dot64 ? g_font_addr_64ASCII.load() : g_font_addr_32ASCII.load();
    e.w(0x042301, 0);
    e.w(0x042401, uint32_t(n - 1));
    e.w(0x042501, 0);
    e.w(0x042601, 0);
    e.w(0x040D04, font);
    e.w(0x041104, base + uint32_t(x + osd_stride() * y));
    runEngine(e, 3);
    return e.rc;
}

void c331_manage::gen_char(int fd) {
    if (g_unicode_line == 0) return;
    const int dot64 = PM_OSD_CHAR_64DOT ? 1 : 0;
    const int g = dot64 ? 64 : 32;
    const int scale = g_osd_zoom2x ? 2 : 1;
    const int bg = PS_BG_TRANS == 1 ? kTransparent : kBgOpaque;
    const uint32_t base = uint32_t(PS_MEM_OSD);
    for (int i = 0; i < g_unicode_line && i < kOsdLines; ++i) {
        const int y = PS_CHAR_VST + i * g * scale + g_osd_v_alignment_value_ravik;
        int x = PS_CHAR_HST + g_osd_max_line_x_ravik[i];
        if (g_osd_h_alignment_ravik != 3) {
            osd_put_unicode_string(fd, i, x, y, kFg, bg, g, g, base, dot64);
            continue;
        }
        // Justify: one command per character, the spare width spread over the gaps.
        int drawn = 0;
        for (int k = 0; k < kOsdLineChars; ++k) {
            const uint32_t code =
                uint32_t(g_unicode_text[i][2 * k]) << 8 | g_unicode_text[i][2 * k + 1];
            if (code == 0) continue;
            ZEM_DEBUG("\n 1char[%d] hst= %d k=%d\n", i, x, k);
            osd_put_unicode_string_1char_ravik(fd, i, k, 1, x, y, kFg, bg, g, g, base, dot64);
            ++drawn;
            x += (code >= 256 ? g : g / 2) * scale + g_osd_hmargin_ravik[i];
            if (g_osd_line_remainder[i] >= 2 * drawn) ++x;
        }
    }
}

void c331_manage::set_char_color(int fd) {
    RegWriter e{drv, fd};
    e.w(0xFF0101, 1);
    e.w(0x091F01, 1);
    for (const int32_t colour : {PS_BG_COLOR, PS_CHAR_COLOR}) {
        for (int byte = 0; byte < 3; ++byte) e.w(0x092001, (uint32_t(colour) >> (8 * byte)) & 0xFF);
    }
    e.w(0xFF0101, 0);
}

namespace {

// One axis of the channel cut: band [start, start + len) over channels of size `size`.
void cutAxis(int channels, int size, int start, int len, int32_t* pos, int32_t* extent) {
    for (int c = 0; c < channels && c < 8; ++c) {
        const int s = c * size, rel = start - s;
        const bool runs_on = s + size - 1 < start + len;
        if (rel >= size) {
            pos[c] = extent[c] = 0;
        } else if (rel >= 0) {
            pos[c] = rel;
            extent[c] = runs_on ? size - rel : len;
        } else {
            pos[c] = 0;
            extent[c] = std::max(0, runs_on ? size : start + len - s);
        }
    }
}

}  // namespace

void c331_manage::calc_osd(OsdCut* cut) {
    const bool bmp = PM_OSD_DATA_MODE == 0;
    const int width = bmp ? PS_BMP_HACT : PS_BG_HACT;
    const int height = bmp ? PS_BMP_VACT : PS_BG_VACT;
    const int32_t* in = PM_OSD_INPUT_OFFSET;
    const int32_t* out = PM_OSD_OUTPUT_OFFSET;
    int cw = std::max(0, width - in[0] - in[1]), ch = std::max(0, height - in[2] - in[3]);
    if (PM_OSD_HZOOM_EN == 1) cw *= 2;
    if (PM_OSD_VZOOM_EN == 1) ch *= 2;
    OSD_WIN.HST = out[0];
    OSD_WIN.HW = std::max(0, std::min(PS_PANEL_HW - out[0] - out[1], cw));
    OSD_WIN.VST = out[2];
    OSD_WIN.VW = std::max(0, std::min(PS_PANEL_VW - out[2] - out[3], ch));
    *cut = OsdCut{};
    cutAxis(PS_PANEL_HSHAPE, PS_ACTHW, OSD_WIN.HST, OSD_WIN.HW, cut->x, cut->w);
    cutAxis(PS_PANEL_VSHAPE, PS_ACTVW, OSD_WIN.VST, OSD_WIN.VW, cut->y, cut->h);
}

void c331_manage::set_osd(int fd, int second) {
    OsdCut cut;
    calc_osd(&cut);
    const uint32_t base = uint32_t(second ? PS_MEM_OSD1 : PS_MEM_OSD);
    const int in0 = second ? 0 : PM_OSD_INPUT_OFFSET[0], in2 = second ? 0 : PM_OSD_INPUT_OFFSET[2];
    uint32_t control = g_osd_mwi_shift ? 0x6000 : 0x4000;
    if (PM_OSD_VZOOM_EN) control += 0x0800;
    if (PM_OSD_HZOOM_EN) control += 0x1000;
    if (PM_OSD_EN) control += PM_OSD_DATA_MODE ? 3 : 2;
    if (g_osd_layer_bottom) control += 0x8000;
    RegWriter e{drv, fd};
    const int rows = std::min(PS_PANEL_VSHAPE, 8), cols = std::min(PS_PANEL_HSHAPE, 8);
    for (int r = 0, Y = 0; r < rows; Y += cut.h[r], ++r) {
        for (int c = 0, X = 0; c < cols; X += cut.w[c], ++c) {
            const int k = c + PS_PANEL_HSHAPE * r;
            if (k > 7) continue;
            const uint32_t bank = 16u * uint32_t(k);
            const int y = PM_OSD_VZOOM_EN ? Y / 2 : Y, x = PM_OSD_HZOOM_EN ? X / 2 : X;
            e.w(0x091202, uint32_t(PS_ACTHST + cut.x[c] - 4), bank);
            e.w(0x091402, uint32_t(cut.w[c]), bank);
            e.w(0x091602, uint32_t(PS_ACTVST + cut.y[r] + 1), bank);
            e.w(0x091802, uint32_t(cut.h[r]), bank);
            e.w(0x091A04, base + uint32_t(in0 + osd_stride() * (in2 + y) + x), bank);
            e.w(0x091E01, uint32_t(g_osd_mwi), bank);
            e.w(0x090802, control, bank);
        }
    }
}

void c331_manage::set_scroll(int fd) {
    OsdCut cut;
    calc_osd(&cut);
    const int32_t* in = PM_OSD_INPUT_OFFSET;
    const bool bmp = PM_OSD_DATA_MODE == 0;
    const int width = std::max(0, (bmp ? PS_BMP_HACT : PS_BG_HACT) - in[0] - in[1]);
    const int height = std::max(0, bmp ? PS_BMP_VACT - in[2] - in[3] : OSD_WIN.VW);
    const int m = PM_OSD_SCROLL_MODE;
    const uint32_t control = m == 0 ? 0x80 : 0x81 | uint32_t(m - 1) << 4;
    RegWriter e{drv, fd};
    for (const uint32_t last : {0u, control}) {
        for (uint32_t k = 0; k < 8; ++k) {
            e.w(0x093D01, uint32_t(PM_OSD_SCROLL_SPEED) & 0xFF, 16 * k);
            e.w(0x094002, uint32_t(width), 16 * k);
            e.w(0x094202, uint32_t(height), 16 * k);
            e.w(0x093C01, last, 16 * k);
        }
    }
}

void c331_manage::update_osd(int fd) {
    std::lock_guard<FlashLock> lock(flash_lock);
    const bool bmp = PM_OSD_DATA_MODE == 0;
    if (bmp) load_bmp();
    const int width = bmp ? PS_BMP_HACT : PS_BG_HACT;
    const int height = bmp ? PS_BMP_VACT : PS_BG_VACT;
    const int p = ((2 * ((width + 127) / 128)) + 3) / 4 * 4;
    g_osd_mwi = p > 64 ? p / 4 : p;
    g_osd_mwi_shift = p > 64 ? 1 : 0;
    const uint32_t canvas = uint32_t(PS_MEM_OSD);
    if (!bmp) {
        osd_paint(fd, 0, width, 0, height, PS_BG_TRANS == 1 ? kTransparent : kBgOpaque, canvas);
        gen_char(fd);
        wait1_povs(fd, 0);
        set_char_color(fd);
    } else {
        osd_write_dma_sfl(fd, uint32_t(PS_BMP_ADDR), uint32_t(PS_SFL_ADDR), 0,
                          uint32_t(width * height));
        osd_copy(fd, uint32_t(PS_SFL_ADDR), canvas, width, height, 1);
        wait1_povs(fd, 0);
        drv->write_C331(fd, 0xFF0101, 1, 0);
        osd_write_dma_sfl(fd, uint32_t(PS_BMPCP_ADDR), 0, 4, 816);
        drv->write_C331(fd, 0xFF0101, 0, 0);
    }
    set_rtct(fd, 2);
    set_osd(fd, 0);
    set_rtct(fd, 1);
    wait1_povs(fd, 0);
    // The visible block tiled 2 x 2 into the second buffer, so a scroll wraps without redraws.
    const int32_t* in = PM_OSD_INPUT_OFFSET;
    const int cw = width - in[0] - in[1], ch = height - in[2] - in[3];
    if (cw <= 0 || ch <= 0)
        return;  // nothing visible: no scroll buffer (an empty copy would be huge)
    const uint32_t s = uint32_t(osd_stride());
    const uint32_t src = canvas + uint32_t(in[0]) + s * uint32_t(in[2]);
    const uint32_t dst = uint32_t(PS_MEM_OSD1);
    for (const uint32_t at : {0u, uint32_t(cw), s * uint32_t(ch), s * uint32_t(ch) + uint32_t(cw)})
        osd_copy(fd, src, dst + at, cw, ch, 0);
    set_rtct(fd, 2);
    set_osd(fd, 1);
    set_scroll(fd);
    set_rtct(fd, 1);
}
