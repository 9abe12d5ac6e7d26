// The OSD menu file applied: the first menu item of the parsed file becomes text lines and a
// series of OSD property calls, which raise the content request for the next redraw.
#include <QString>
#include <QStringList>
#include <QVector>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"

namespace {

constexpr int kLedW = 1378, kLedH = 1380;  // parameter RAM

// A colour text RRGGBB as the chip's 0xBBGGRR.
int32_t bgrFromText(const std::string& text) {
    const uint32_t rgb = osd_rgb_from_text(text);
    return int32_t((rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF));
}

struct FontSize {
    int size, hzoom, vzoom, dot64, zoom2x;
};
constexpr FontSize kFontSizes[] = {
    {32, 0, 0, 0, 0}, {64, 0, 0, 1, 0}, {128, 1, 1, 1, 0}, {256, 1, 1, 1, 1}};

int indexOf(const std::string& text, std::initializer_list<const char*> names) {
    int i = 0;
    for (const char* n : names) {
        if (text == n) return i;
        ++i;
    }
    return -1;
}

}  // namespace

void c331_manage::set_OSD_para(OSD_LIST* list) {
    if (!list || list->osdcount == 0) return;
    OMENU_PARA& m = list->menu[0];
    if (const ZemRamPara* s = ZemRamPara::p_zemrampara_config) {
        m.w = std::min<int32_t>(m.w, s->rd16(kLedW));
        m.y = std::min<int32_t>(m.y, s->rd16(kLedH));
    }
    load_char();
    g_osd_h_alignment_ravik = 0;
    g_osd_v_alignment_value_ravik = 0;

    // Text: UTF-8 (malformed sequences become U+FFFD), one line per "\n", at most 64 lines of
    // 128 characters; a character above U+FFFF keeps its low 16 bits.
    const QStringList parts = QString::fromUtf8(m.texts.data(), int(m.texts.size())).split('\n');
    const int lines = std::min(int(parts.size()), kOsdLines);
    auto rows = std::make_unique<uint32_t[][kOsdLineChars]>(kOsdLines);
    int lengths[kOsdLines] = {};
    for (int i = 0; i < lines; ++i) {
        const QVector<uint> codes = parts[i].toUcs4();
        const int len = std::min(int(codes.size()), kOsdLineChars);
        int narrow = 0, wide = 0;
        for (int k = 0; k < len; ++k) {
            rows[i][k] = codes[k];
            (codes[k] >= 1 && codes[k] <= 255 ? narrow : wide)++;
        }
        lengths[i] = len;
        g_osd_max_line_x_ravik[i] = 0;
        g_osd_line_cn[i] = wide;
        g_osd_line_en[i] = narrow;
        g_osd_line_len[i] = len;
        ZEM_DEBUG(" \n %dline ,num=%d ,en = %d,cn=%d\n", i, len, narrow, wide);
    }
    zemApi_OsdSetUnicode(lines, lengths, rows.get());

    zemApi_OsdSet(5, m.x);
    zemApi_OsdSet(6, m.w);
    zemApi_OsdSet(7, m.y);
    zemApi_OsdSet(8, m.h);
    zemApi_OsdSet(3, m.type == 0 ? 1 : 0);
    const FontSize* font = nullptr;
    for (const FontSize& f : kFontSizes) {
        if (m.fontw == f.size && m.fonth == f.size) font = &f;
    }
    if (font) {
        zemApi_OsdSet(1, font->hzoom);
        zemApi_OsdSet(2, font->vzoom);
        zemApi_OsdSet(14, font->dot64);
        zemApi_OsdSet(48, font->zoom2x);
    } else {
        zemApi_OsdSet(14, 0);
    }
    zemApi_OsdSet(21, m.startx);
    zemApi_OsdSet(22, m.starty);
    zemApi_OsdSet(9, m.x);
    zemApi_OsdSet(10, m.w);
    zemApi_OsdSet(11, m.y);
    zemApi_OsdSet(12, m.h);
    zemApi_OsdSet(17, bgrFromText(m.font_color));
    zemApi_OsdSet(13, m.speed * 10);
    if (m.enable != "off") {
        zemApi_OsdSet(16, bgrFromText(m.color));
        zemApi_OsdSet(18, 0);
    } else {
        zemApi_OsdSet(18, 1);
    }
    static const int kScrollOfEffect[5] = {0, 3, 4, 1, 2};
    if (m.effect >= 0 && m.effect <= 4) zemApi_OsdSet(4, kScrollOfEffect[m.effect]);
    zemApi_OsdSet(0, m.status == "on" ? 1 : 0);
    zemApi_OsdSet(33, m.layer == "buttom" ? 1 : 0);
    const int h = indexOf(m.h_align, {"left", "center", "right", "justify"});
    ZEM_DEBUG("\n find h_align = %s\n", m.h_align.c_str());
    if (h >= 0) zemApi_OsdSet(34, h);
    const int v = indexOf(m.v_align, {"top", "center", "bottom"});
    if (v >= 0) zemApi_OsdSet(35, v);
}

uint32_t osd_rgb_from_text(const std::string& text) {
    return uint32_t(std::strtoull(text.c_str(), nullptr, 16)) & 0xFFFFFF;
}
