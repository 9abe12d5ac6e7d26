// The OSD's state: one property at a time (zemApi_OsdSet) and the text (zemApi_OsdSetUnicode).
// Both only store values and raise the setup or content request that the C331 thread acts on.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "c331/c331_manage.h"
#include "core/console.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"

// Property traces: bit 7 of debug topic 8 (set from the start).
#define OSD_TRACE(...)                                   \
    do {                                                 \
        if (prnEn[8] & 0x80) console::outf(__VA_ARGS__); \
    } while (0)

namespace {

constexpr int kLedXOffset = 1382;  // parameter RAM: LED x offset

const char* onOff(int v, const char* on, const char* off) {
    return v ? on : off;
}

}  // namespace

int c331_manage::osd_narrow_width() const {
    if (!PM_OSD_CHAR_64DOT) return 16;
    if (!PM_OSD_HZOOM_EN) return 32;
    return g_osd_zoom2x ? 128 : 64;
}

int c331_manage::osd_wide_width() const {
    return 2 * osd_narrow_width();
}

int c331_manage::osd_zoom() const {
    return PM_OSD_CHAR_64DOT && PM_OSD_HZOOM_EN ? 2 : 1;
}

int c331_manage::osd_line_width(int line) const {
    return g_osd_line_cn[line] * osd_wide_width() + g_osd_line_en[line] * osd_narrow_width();
}

int c331_manage::zemApi_OsdSetUnicode(int lines, const int* lengths,
                                      const uint32_t (*codes)[kOsdLineChars]) {
    std::memset(g_unicode_text, 0, sizeof g_unicode_text);
    const int n = std::min(std::max(lines, 0), kOsdLines);
    for (int i = 0; i < n; ++i) {
        const int len = std::min(std::max(lengths[i], 0), kOsdLineChars);
        for (int k = 0; k < len; ++k) {
            g_unicode_text[i][2 * k] = uint8_t(codes[i][k] >> 8);
            g_unicode_text[i][2 * k + 1] = uint8_t(codes[i][k]);
        }
    }
    g_unicode_line = n;
    return 0;
}

namespace {

// Type 10: the right cut, or a canvas widened to the widest line (64-dot fonts only).
void setRightCut(c331_manage& c, int value) {
    if (!c.PM_OSD_CHAR_64DOT) return;
    int widest = 0, line = 0;
    for (int i = 0; i < c.g_unicode_line; ++i) {
        const int w = c.osd_line_width(i);
        if (w > widest) {
            widest = w;
            line = i;
        }
    }
    if (c.PS_BG_HACT >= widest) {
        c.PM_OSD_INPUT_OFFSET[1] = c.PS_BG_HACT - value - c.PM_OSD_OUTPUT_OFFSET[0];
    } else {
        const int z = c.osd_zoom();
        const int w = c.g_osd_line_cn[line] * (c.osd_wide_width() / z) +
                      c.g_osd_line_en[line] * (c.osd_narrow_width() / z);
        c.PS_BG_HACT = std::min(w, 8191);
        c.PM_OSD_INPUT_OFFSET[1] = 0;
    }
    ZEM_DEBUG("\n PS_BG_HACT = %d PM_OSD_INPUT_OFFSET[1]=%d max_size=%d\n", c.PS_BG_HACT,
              c.PM_OSD_INPUT_OFFSET[1], widest);
}

// Type 34: per line start offset, or the gap between characters (justify).
void setHorizontalAlignment(c331_manage& c, int a) {
    c.g_osd_h_alignment_ravik = a;
    if (a < 0 || a > 3) return;
    const int area = c.PS_PANEL_HW - c.PM_OSD_OUTPUT_OFFSET[0] - c.PM_OSD_OUTPUT_OFFSET[1];
    const int z = c.osd_zoom();
    for (int i = 0; i < c.g_unicode_line; ++i) {
        const int width = c.osd_line_width(i);
        const bool fits = width <= area;
        int start = 0, remainder = 0, gap = 0;
        if (a == 1 && fits) start = (area - width) / (2 * z);
        if (a == 2 && fits) start = (area - width) / z;
        if (a == 3) {
            const int len = c.g_osd_line_len[i];
            if (len < 2) {
                gap = (area - width) / z;
            } else if (fits) {
                gap = (area - width) / (z * (len - 1));
                remainder = (area - width) % (z * (len - 1));
            }
        }
        c.g_osd_max_line_x_ravik[i] = start;
        c.g_osd_line_remainder[i] = remainder;
        c.g_osd_hmargin_ravik[i] = gap;
        ZEM_DEBUG("\n w_sze = %d g_osd_h_alignment_ravik=%d \n", width, a);
    }
}

// Type 35: the vertical offset of the text block.
void setVerticalAlignment(c331_manage& c, int a) {
    if (a < 0 || a > 2) return;
    const int area = c.PS_PANEL_VW - c.PM_OSD_OUTPUT_OFFSET[3] - c.PM_OSD_OUTPUT_OFFSET[2];
    const int text = c.g_unicode_line * c.osd_wide_width();
    const int z = c.osd_zoom();
    int v = 0;
    if (a == 1 && text <= area) v = (area - text) / (2 * z);
    if (a == 2 && text <= area) v = (area - text) / z;
    c.g_osd_v_alignment_value_ravik = v;
    ZEM_DEBUG("\n g_osd_v_alignment_value_ravik = %d val=%d cn_font_size=%d\n", v, a,
              c.osd_wide_width());
}

int ledXOffset() REQUIRES(c331_manage::c331_mutex) {
    const ZemRamPara* s = ZemRamPara::p_zemrampara_config;
    return s ? s->rd16(kLedXOffset) : 0;
}

}  // namespace

int c331_manage::zemApi_OsdSet(int type, int value) {
    enum Request { kNone, kSetup, kContent };
    Request request = kNone;
    const int on = value != 0;
    OSD_TRACE("[zemApi_OsdSet] type:%d, val:%x\n", type, unsigned(value));
    switch (type) {
        case 0:
            PM_OSD_EN = on;
            request = kSetup;
            OSD_TRACE("\t OSD display %s\n", onOff(on, "enable", "disable"));
            break;
        case 1:
            PM_OSD_HZOOM_EN = on;
            request = kSetup;
            OSD_TRACE("\t OSD horizontal zoom  %s\n", onOff(on, "enable", "disable"));
            break;
        case 2:
            PM_OSD_VZOOM_EN = on;
            request = kSetup;
            OSD_TRACE("\t OSD vertical zoom %s\n", onOff(on, "enable", "disable"));
            break;
        case 3:
            PM_OSD_DATA_MODE = on;
            request = kContent;
            OSD_TRACE("\t OSD display data mode %s\n", onOff(on, "char", "bmp"));
            break;
        case 4:
            PM_OSD_SCROLL_MODE = ((value % 9) + 9) % 9;
            request = kSetup;
            OSD_TRACE("\t OSD scroll mode %d\n", PM_OSD_SCROLL_MODE);
            break;
        case 5:
            PM_OSD_OUTPUT_OFFSET[0] = ledXOffset() + value;
            break;
        case 6:
            PM_OSD_OUTPUT_OFFSET[1] = PS_PANEL_HW - value - PM_OSD_OUTPUT_OFFSET[0];
            break;
        case 7:
            PM_OSD_OUTPUT_OFFSET[2] = value;
            break;
        case 8:
            PM_OSD_OUTPUT_OFFSET[3] = PS_PANEL_VW - value - PM_OSD_OUTPUT_OFFSET[2];
            break;
        case 9:
            PM_OSD_INPUT_OFFSET[0] = 0;
            break;
        case 10:
            setRightCut(*this, value);
            break;
        case 11:
            PM_OSD_INPUT_OFFSET[2] = value;
            break;
        case 12:
            PM_OSD_INPUT_OFFSET[3] = PS_BG_VACT - value - PM_OSD_OUTPUT_OFFSET[2];
            break;
        case 13:
            PM_OSD_SCROLL_SPEED = value % 256;
            request = kSetup;
            OSD_TRACE("\t OSD scroll speed %d\n", PM_OSD_SCROLL_SPEED);
            break;
        case 14:
            PM_OSD_CHAR_64DOT = on;
            request = kContent;
            OSD_TRACE("\t Charater size %s\n", onOff(on, "64x64", "32x32"));
            break;
        case 15:
            PM_OSD_UPDATE_BUTTON = on;
            request = kContent;
            break;
        case 16:
            PS_BG_COLOR = value & 0xFFFFFF;
            OSD_TRACE("\t background color BBGGRR %08x\n", unsigned(PS_BG_COLOR));
            break;
        case 17:
            PS_CHAR_COLOR = value & 0xFFFFFF;
            OSD_TRACE("\t character color BBGGRR %08x\n", unsigned(PS_CHAR_COLOR));
            break;
        case 18:
            PS_BG_TRANS = on;
            OSD_TRACE("\t transparent background color %s\n", onOff(on, "Enable", "Disable"));
            break;
        case 19:
            PS_BG_HACT = value;
            break;
        case 20:
            PS_BG_VACT = value;
            break;
        case 21:
            PS_CHAR_HST = value;
            break;
        case 22:
            PS_CHAR_VST = value;
            break;
        case 32:
            g_osd_setup_request = (value >> 7) & 1;
            g_osd_update_request = (value >> 6) & 1;
            break;
        case 33:
            g_osd_layer_bottom = on;
            break;
        case 34:
            setHorizontalAlignment(*this, value);
            break;
        case 35:
            setVerticalAlignment(*this, value);
            break;
        case 48:
            g_osd_zoom2x = value;
            break;
        default:
            return 0;
    }
    if (request == kSetup) g_osd_setup_request = 1;
    if (request == kContent) g_osd_update_request = 1;
    return 1;
}
