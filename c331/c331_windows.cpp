// The window environment of the chip: one record per enabled window of the parameter RAM,
// validated against the output channels; the output channels each record covers; spare
// processing channels for windows that share an output channel, with the overlay map that
// routes them back; the per-window and per-channel mode tables; and the crop offsets on the
// input side. Unusable window parameters fall back to one window covering the LED screen.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "c331/c331_manage.h"
#include "core/console.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"

namespace {

constexpr int kWindows = 6;
constexpr int kChannels = 8;
constexpr int kNone = 0xFF;

// Parameter RAM of the windows, crops and priorities.
constexpr int kWindowBase = 2272, kWindowSize = 26;
constexpr int kFlags = 0, kMirror = 4, kSource = 8, kX = 10, kY = 12, kW = 14, kH = 16;
constexpr int kOutFlags = 18, kDbdWord = 22;
constexpr int kPriority = 2208;
constexpr int kFadeIn = 2816, kFadeOut = 2818;
constexpr int kCropBase = 1472, kCropSize = 10, kCrops = 40;

ZemRamPara* store() {
    return ZemRamPara::p_zemrampara_config;
}

int ram16(int addr) REQUIRES(c331_manage::c331_mutex) {
    return store()->rd16(addr);
}

int windowWord(int w, int offset) REQUIRES(c331_manage::c331_mutex) {
    return ram16(kWindowBase + kWindowSize * w + offset);
}

// DBD mode code of a window from its output flags and DBD word.
int dbdCode(int out_flags, int word) {
    static const int kCodes[10] = {1, 20, 21, 22, 23, 30, 40, 41, 50, 51};
    if (!(out_flags & 0x100)) return 0;
    return word >= 0 && word < 10 ? kCodes[word] : 1;
}

}  // namespace

void c331_manage::log_bad_ram(int item, int win, const char* text) {
    const uint32_t bit = 1u << win;
    if (bad_ram_logged_[item] & bit) return;
    bad_ram_logged_[item] |= bit;
    writeLogMsg(2, text);
    ZEM_DEBUG("\033[1m%s\033[0m\n", text);
}

void c331_manage::clear_bad_ram(int item, int win) {
    bad_ram_logged_[item] &= ~(1u << win);
}

int c331_manage::ram_port(int rec) const {
    const int p = zemApi_inputCvtC331(gWininfo[rec].input);
    return p == 255 ? 6 : p;
}

bool c331_manage::window_record_from_ram(int w, ST_WIN_INFO* rec, int k) {
    const int source = windowWord(w, kSource);
    int input = source & 7;
    PM_INPUT_OFFSET_EN[k] = 0;
    if (source & 0x8000) {
        const int c = source & 0xFF;
        if (c >= kCrops) {
            char text[96];
            std::snprintf(text, sizeof text,
                          "c331: window %d names crop %d (40 crops); layout kept", w, c);
            log_bad_ram(kBadCrop, w, text);
            return false;
        }
        clear_bad_ram(kBadCrop, w);
        PM_INPUT_OFFSET_EN[k] = 1;
        rec->cropIdx = uint8_t(c);
        const int e = kCropBase + kCropSize * c;
        input = ram16(e) & 7;
        for (int i = 0; i < 4; ++i) g_win_crop[k][i] = ram16(e + 2 + 2 * i);
    }
    int layer = ram16(kPriority + 2 * w);
    if (layer > 5) {
        ZEM_DEBUG(" WIN%d PRIORITY:%x OOR,reset to %d", w, unsigned(layer), layer % 6);
        layer %= 6;
    }
    rec->layer = uint8_t(layer);
    rec->rect = {int16_t(windowWord(w, kX) + gPanel.led_x),
                 int16_t(windowWord(w, kY) + gPanel.led_y), int16_t(windowWord(w, kW)),
                 int16_t(windowWord(w, kH))};
    g_mwin_rect[k] = {rec->rect.x, rec->rect.y, rec->rect.w, rec->rect.h};
    rec->input = uint8_t(input);
    rec->winEn = uint8_t(windowWord(w, kFlags));
    rec->rotate = uint8_t(windowWord(w, kMirror));
    const int out_flags = windowWord(w, kOutFlags);
    rec->outFlag = uint8_t(out_flags & 3);
    PM_WIN_FADE_EN[k] = (out_flags >> 2) & 1;
    PM_WIN_DBD_MODE[k] = dbdCode(out_flags, windowWord(w, kDbdWord));
    g_chg_dbd[k] = 1;
    PM_WIN_FADE_IN[k] = std::min(ram16(kFadeIn + 4 * w), kMaxFadeFrames);
    PM_WIN_FADE_OUT[k] = std::min(ram16(kFadeOut + 4 * w), kMaxFadeFrames);
    return true;
}

// Whether a filled record fits the output channels, with a valid input and rotation (window 0
// enabled); the first fault found is traced.
bool c331_manage::window_valid(int k, int ram_win) {
    const ST_PANEL_INFO& pnl = gPanel;
    const ST_WIN_INFO& r = gWininfo[k];
    const char* pre = pnl.splice == 0   ? "\t OOR for SPLICE_NONE "
                      : pnl.splice == 4 ? "\t OOR for SPLICE_CP1TO2 "
                                        : "\t OOR for ";
    // From the RAM words themselves: the record's 16-bit rectangle may have wrapped.
    const int x = windowWord(ram_win, kX) + pnl.led_x, y = windowWord(ram_win, kY) + pnl.led_y;
    const int w = windowWord(ram_win, kW), h = windowWord(ram_win, kH);
    bool ok = true;
    if (x + w > pnl.och_w * pnl.och_HCnt) {
        ZEM_DEBUG("%swin:%d x:%d w:%d, pnl->w:%d\r\n", pre, k, x, w, pnl.och_w * pnl.och_HCnt);
        ok = false;
    } else if (y + h > pnl.och_h * pnl.och_VCnt) {
        ZEM_DEBUG("%swin:%d y:%d h:%d, pnl->h:%d\r\n", pre, k, y, h, pnl.och_h * pnl.och_VCnt);
        ok = false;
    } else if (r.input > 5) {
        ZEM_DEBUG("%swin:%d, input:%s\r\n", pre, k, "Para Error");
        ok = false;
    } else if (k == 0 && r.winEn == 0) {
        ZEM_DEBUG("%swin0 disable\r", pre);
        ok = false;
    } else if (r.rotate > 3) {
        ZEM_DEBUG("%swin%d rotate:%d\r\n", pre, k, r.rotate);
        ok = false;
    }
    if (!ok) ZEM_DEBUG("\t OOR for win RECT\t");
    return ok;
}

void c331_manage::zemApi_initEnvC331() {
    if (!store()) {
        zemApi_initEnvC331Default();
        return;
    }
    int count = 0;
    for (int w = 0; w < kWindows; ++w) count += windowWord(w, kFlags) != 0;
    if (count == 0) {
        zemApi_initEnvC331Default();
        return;
    }
    // A crop index beyond the table is refused before anything changes.
    for (int w = 0; w < kWindows; ++w) {
        const int source = windowWord(w, kSource);
        if (windowWord(w, kFlags) != 0 && (source & 0x8000) && (source & 0xFF) >= kCrops) {
            ST_WIN_INFO scratch{};
            window_record_from_ram(w, &scratch, 0);  // logs it
            return;
        }
    }
    gMwin.wincnt = count;
    gMwin.pwin = g_mwin_rect;
    int k = 0;
    for (int w = 0; w < kWindows; ++w) {
        g_win_record[w] = -1;
        if (windowWord(w, kFlags) == 0) continue;
        window_record_from_ram(w, &gWininfo[k], k);
        g_win_record[w] = k;
        if (!window_valid(k, w)) {
            for (int v = w + 1; v < kWindows; ++v) g_win_record[v] = -1;
            zemApi_initEnvC331Default();
            return;
        }
        ++k;
    }
    unsigned used = 0;
    for (int r = 0; r < count; ++r) {
        ST_WIN_INFO& rec = gWininfo[r];
        if (used & (1u << rec.layer)) {
            int free_layer = 0;
            while (used & (1u << free_layer)) ++free_layer;
            ZEM_DEBUG("\t\t win%d layer:%d already assigned, reset it to :%d\n", r, rec.layer,
                      free_layer);
            rec.layer = uint8_t(free_layer);
        }
        used |= 1u << rec.layer;
    }
    for (int w = 0; w < kWindows; ++w) {
        const int r = g_win_record[w];
        if (r < 0) continue;
        gWininfo[r].rotate = uint8_t(windowWord(w, kMirror) & 3);
        PM_WIN_HMIRROR[r] = gWininfo[r].rotate & 1;
        PM_WIN_VMIRROR[r] = (gWininfo[r].rotate >> 1) & 1;
    }
    for (int& m : g_chg_mirror) m = 1;
}

void c331_manage::zemApi_initEnvC331Default() {
    // Only the first window keeps a record: the others' RAM changes have nothing to apply to.
    bool first = true;
    for (int w = 0; w < kWindows; ++w) {
        const bool keep = first && store() && windowWord(w, kFlags) != 0 && g_win_record[w] == 0;
        g_win_record[w] = keep ? 0 : -1;
        first = first && !keep;
    }
    zemApi_MultiWinInit();
    ST_WIN_INFO& r = gWininfo[0];
    r.rect = {int16_t(gPanel.led_x), int16_t(gPanel.led_y), int16_t(gPanel.ledW),
              int16_t(gPanel.ledH)};
    r.rotate = 0;
    r.winEn = 1;
}

void c331_manage::zemApi_MultiWinInit() {
    gMwin.wincnt = 1;
    gMwin.pwin = g_mwin_rect;
    g_mwin_rect[0] = {gPanel.led_x, gPanel.led_y, gPanel.ledW, gPanel.ledH};
}

void c331_manage::zemApi_MultiWinGet(ST_MWIN* out) {
    if (out) *out = gMwin;
}

void c331_manage::zemApi_MultiWinChAlloc(char init) {
    const ST_PANEL_INFO& pnl = gPanel;
    const int C = pnl.och_HCnt, R = pnl.och_VCnt, W = pnl.och_w, H = pnl.och_h;
    const int n = C * R;
    ZEM_DEBUG("[zemApi_MultiWinChAlloc] init:%d arrang:%d wincnt:%d\n", init, pnl.arrang,
              gMwin.wincnt);
    for (ST_WIN_INFO& r : gWininfo) {
        std::memset(r.ochLst, kNone, sizeof r.ochLst);
        std::memset(r.ochPosLst, kNone, sizeof r.ochPosLst);
        r.totalh = r.totalv = 0;
    }
    const bool test_h = pnl.arrang != 8, test_v = pnl.arrang != 5;
    int S = 0;
    for (int k = 0; k < gMwin.wincnt && k < kWindows; ++k) {
        ST_WIN_INFO& rec = gWininfo[k];
        // A window of no width or height shows nothing: it takes no channel and leaves the
        // start channel to the next window, as if it were off.
        if (rec.rect.w <= 0 || rec.rect.h <= 0) continue;
        const int x1 = rec.rect.x, y1 = rec.rect.y;
        const int x2 = x1 + rec.rect.w, y2 = y1 + rec.rect.h;
        int E = -1;
        for (int c = 0; c < n && E < 0; ++c) {
            const int cx = (c % C) * W, cy = (c / C) * H;
            const bool start_h = !test_h || (x1 >= cx && x1 < cx + W);
            const bool start_v = !test_v || (y1 >= cy && y1 < cy + H);
            if (start_h && start_v) S = c;
            const bool end_h = !test_h || (x2 >= cx && x2 <= cx + W);
            const bool end_v = !test_v || (y2 >= cy && y2 <= cy + H);
            if (end_h && end_v) E = c;
        }
        if (C <= 0 || S > E) continue;
        // The columns and rows between the start and the end channel, whatever the grid.
        const int totalh = E % C - S % C + 1, totalv = E / C - S / C + 1;
        if (totalh < 1 || totalv < 1 || totalh * totalv > 8) {
            console::outf("\033[1m\033[5mtotalh(%d)*totalv(%d)=%d > 8\n", totalh, totalv,
                          totalh * totalv);
            console::outf("win%d alloc och FAIL\033[0m\n", k);
            return;
        }
        rec.totalh = uint8_t(totalh);
        rec.totalv = uint8_t(totalv);
        int j = 0;
        for (int row = 0; row < totalv; ++row)
            for (int col = 0; col < totalh; ++col, ++j)
                rec.ochLst[j] = rec.ochPosLst[j] = uint8_t(S + row * C + col);
    }
}

void c331_manage::zemApi_MultiWinChOverlay() {
    for (int k = 0; k < kChannels; ++k) PM_OVERLAY[k] = k + 1;
    const int count = gMwin.wincnt;
    if (count <= 0) return;
    for (int k = 0; k < kChannels; ++k) g_och_owner[k] = g_och_borrowed[k] = kNone;
    auto pieces = [&](int r) { return gWininfo[r].totalh * gWininfo[r].totalv; };
    for (int r = 0; r < count; ++r)
        for (int j = 0; j < pieces(r); ++j)
            if (gWininfo[r].ochLst[j] < kChannels) g_och_owner[gWininfo[r].ochLst[j]] = r;
    if (count > 1) {
        for (int a = 0; a < count; ++a) {
            for (int i = 0; i < pieces(a); ++i) {
                for (int b = a + 1; b < count; ++b) {
                    for (int j = 0; j < pieces(b); ++j) {
                        uint8_t& entry = gWininfo[b].ochLst[j];
                        if (entry != gWininfo[a].ochLst[i]) continue;
                        int slot = 0;
                        while (slot < kChannels && g_och_owner[slot] != kNone) ++slot;
                        if (slot == kChannels) {
                            ZEM_DEBUG("\t not found idle CH, !!!!!why!!!!!\r");
                            continue;
                        }
                        g_och_owner[slot] = b;
                        g_och_borrowed[slot] = 1;
                        entry = uint8_t(slot);
                    }
                }
            }
        }
        for (int k = 0; k < kChannels; ++k) {
            int holders = 0;
            for (int r = 0; r < count; ++r)
                for (int j = 0; j < pieces(r); ++j) holders += gWininfo[r].ochPosLst[j] == k;
            if (holders < 2) continue;
            bool met[kChannels] = {};
            for (int r = 0; r < count; ++r) {
                for (int j = 0; j < pieces(r); ++j) {
                    const int c = gWininfo[r].ochLst[j];
                    if (gWininfo[r].ochPosLst[j] != k || c >= kChannels || met[c]) continue;
                    met[c] = true;
                    PM_OVERLAY[c] = k + 1;
                }
            }
        }
    }
    g_chg_overlay = 1;
}

void c331_manage::zemApi_MultiWinChInit() {
    zemApi_MultiWinChOverlay();
    c331_SetWinPriority1(fd);
    std::memset(PI_HDMI_INFO, 0xFF, sizeof PI_HDMI_INFO);
    for (ST_HDMI_INFO& h : PI_HDMI_INFO) h.nosignal = 1;
    for (int w = 0; w < kWindows; ++w) {
        PM_INPUT[w] = 6;
        PM_WIN_SHAPE[w][0] = PM_WIN_SHAPE[w][1] = 0;
        for (int& o : PM_WIN_OFFSET[w]) o = 0;
        g_chg_input[w] = g_chg_src[w] = g_chg_dbd[w] = 0;
    }
    for (int i = 0; i < gMwin.wincnt && i < kWindows; ++i) {
        const ST_WIN_INFO& rec = gWininfo[i];
        g_chg_input[i] = g_chg_src[i] = g_chg_dbd[i] = 1;
        PM_WIN_SHAPE[i][0] = rec.totalh;
        PM_WIN_SHAPE[i][1] = rec.totalv;
        PM_INPUT[i] = ram_port(i);
        if (PM_INPUT[i] == 6) {
            char text[80];
            std::snprintf(text, sizeof text, "c331: window record %d has no input (source %d)", i,
                          rec.input);
            log_bad_ram(kBadInput, i, text);
        } else {
            clear_bad_ram(kBadInput, i);
        }
        for (int t = 0; t < 4; ++t) PM_WIN_OFFSET[i][t] = zemApi_OchGetWinOffset1(&rec, t);
        crop_offsets(i, PM_INPUT[i]);
    }
    for (int k = 0; k < kChannels; ++k) PM_WIN_NUM[k] = 6, PM_AREA_NUM[k] = 8;
    for (int i = 0; i < gMwin.wincnt && i < kWindows; ++i) {
        const ST_WIN_INFO& rec = gWininfo[i];
        for (int j = 0; j < rec.totalh * rec.totalv && j < 8; ++j) {
            const int c = rec.ochLst[j];
            if (c >= kChannels) {
                ZEM_DEBUG("\t !!!!och:%d OOR\r\n", c);
                break;
            }
            PM_WIN_NUM[c] = i;
            PM_AREA_NUM[c] = j;
        }
    }
    for (int k = 0; k < kChannels; ++k)
        drv->write_c331_mask(fd, 0x000801 + (uint32_t(k) << 8), PM_WIN_NUM[k] != 6 ? 1 : 0, 1, 0);
}

// The crop offsets of a record on its port: from its crop rectangle, or 0 without a crop.
void c331_manage::crop_offsets(int i, int port) {
    for (int t = 0; t < 4; ++t)
        PM_INPUT_OFFSET[i][t] =
            PM_INPUT_OFFSET_EN[i] ? zemApi_CropGetOffset(port, g_win_crop[i], t) : 0;
}

int c331_manage::zemApi_OchGetWinOffset1(const ST_WIN_INFO* rec, int type) {
    const int W = gPanel.och_w, H = gPanel.och_h;
    const int x = rec->rect.x, y = rec->rect.y, w = rec->rect.w, h = rec->rect.h;
    switch (type) {
        case 0:
        case 1:
            if (W == 0) {
                ZEM_DEBUG("\t !!!!!!!! po->width %s Error\n", type == 0 ? "left" : "right");
                return 0;
            }
            return type == 0 ? x % W : W * rec->totalh - (x % W + w);
        case 2:
        case 3:
            if (H == 0) {
                ZEM_DEBUG("\t !!!!!!!! po->height %s Error\n", type == 2 ? "up" : "down");
                return 0;
            }
            return type == 2 ? y % H : H * rec->totalv - (y % H + h);
        default:
            return 0;
    }
}

int c331_manage::zemApi_CropGetOffset(int port, const int* rect, int type) {
    if (port < 0 || port > 5 || type < 0 || type > 3) return 0;
    const int hw = PI_ACT[port][1] * ((port >= 4 && PI_STATE[port] < 4) ? 2 : 1);
    const int vw = PI_ACT[port][3];
    if (hw == 0 || vw == 0) ZEM_DEBUG("\t no signal, return 0\n");
    const int x = rect[0], y = rect[1], w = rect[2], h = rect[3];
    const int offsets[4] = {x, hw - (x + w), y, vw - (y + h)};
    if (offsets[type] < 0) {
        ZEM_DEBUG("[zemApi_CropGetOffset] offset:%d < 0, reset to zeruo\n", offsets[type]);
        return 0;
    }
    return offsets[type];
}

void c331_manage::c331_SetCrop(int win, int enable, const int* rect) {
    if (win < 0 || win >= kWindows) {
        ZEM_DEBUG("  not found win:%d\r\n", win);
        return;
    }
    const int port = ram_port(win);
    if (enable && rect && port < 6) {
        const int hw = PI_ACT[port][1] * ((port >= 4 && PI_STATE[port] < 4) ? 2 : 1);
        const int vw = PI_ACT[port][3];
        int* crop = g_win_crop[win];
        for (int i = 0; i < 4; ++i) crop[i] = rect[i];
        if (crop[0] + crop[2] > hw) crop[0] = 0, crop[2] = hw;
        if (crop[1] + crop[3] > vw) crop[1] = 0, crop[3] = vw;
        PM_INPUT_OFFSET_EN[win] = 1;
    } else {
        PM_INPUT_OFFSET_EN[win] = 0;
    }
    crop_offsets(win, port);
    set_output(fd);
}

void c331_manage::c331_SetInputsourceCrop(int win, int word) {
    if (win < 0 || win >= gMwin.wincnt || win >= kWindows) {
        ZEM_DEBUG("[%s] win:%d oor\n", "c331_SetInputsourceCrop", win);
        return;
    }
    const int c = word & 0xFF;
    if (c >= kCrops) {
        ZEM_DEBUG("\t !!!!!!!!!cropIdx OOR,return !!!!!!!!!!!!!");
        return;
    }
    gWininfo[win].cropIdx = uint8_t(c);
    gWininfo[win].input = uint8_t(ram16(kCropBase + kCropSize * c) & 0xFF);
}

void c331_manage::zemApi_updateCrop(int port) {
    for (int w = 0; w < kWindows && w < gMwin.wincnt; ++w)
        if (PM_INPUT[w] == port && PM_INPUT_OFFSET_EN[w]) crop_offsets(w, port);
}
