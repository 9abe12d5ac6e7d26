// Geometry of one window: the captured part of the input (IWIN), where the window lies in the
// block of output channels it spans (OWIN), its piece on each channel column and row, the
// 16.16 scaling ratios, window stitching, the vertical zoom coefficients and the background
// of the window's output channels. Indices are window record indices.
#include <algorithm>
#include <cstdio>

#include "c331/c331_manage.h"
#include "core/console.h"
#include "core/globals.h"

namespace {

constexpr int kWindows = 6;

constexpr uint32_t desc(int bank, int address, int count) {
    return uint32_t(bank) << 16 | uint32_t(address) << 8 | uint32_t(count);
}

// The DBD input area of the combined modes: which ports add up to the width and the height.
struct DbdArea {
    int mode;
    int hw_ports[4];  // -1 ends
    int vw_ports[2];
};
constexpr DbdArea kDbdAreas[] = {
    {20, {0, 1, -1}, {0, -1}}, {21, {0, -1}, {0, 1}},        {22, {2, 3, -1}, {2, -1}},
    {23, {2, -1}, {2, 3}},     {30, {0, 1, 2, -1}, {0, -1}}, {40, {0, 1, 2, 3}, {0, -1}},
    {41, {0, 1, -1}, {0, 2}},  {50, {4, 5, -1}, {4, -1}},    {51, {4, -1}, {4, 5}},
};

// One axis of a scaling: the mode and the shrink or zoom ratio.
void scaleAxis(int32_t in, int32_t out, int32_t* mode, int32_t* shrink, int32_t* zoom) {
    *mode = 0, *shrink = 0, *zoom = 0;
    if (in <= 0 || out <= 0 || in == out) return;
    if (in > out) {
        *mode = 1;
        *shrink = int32_t(int64_t(out - 1) * 65536 / (in - 1) + 1);
    } else {
        *mode = 2;
        *zoom = int32_t(int64_t(in - 1) * 65536 / (out - 1) + 1);
    }
}

// Column (or row) i's piece of [x, x + w) on channels of size a: its start and size.
void cutPiece(int32_t x, int32_t w, int32_t a, int i, int32_t* start, int32_t* size) {
    const int32_t l = x - i * a;
    const bool to_end = x + w >= (i + 1) * a;
    if (l >= a) {
        *start = 0, *size = 0;
    } else if (l >= 0) {
        *start = l, *size = to_end ? a - l : w;
    } else {
        *start = 0, *size = to_end ? a : std::max(0, x + w - i * a);
    }
}

// Index of the first and the last non-zero size among n, -1 when none.
template <typename Size>
void firstLast(int n, Size size, int* first, int* last) {
    *first = *last = -1;
    for (int i = 0; i < n; ++i) {
        if (size(i) == 0) continue;
        if (*first < 0) *first = i;
        *last = i;
    }
}

}  // namespace

const uint8_t c331_manage::lut_set_lut_vzoom_4sym[24] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 254, 253, 252, 252, 253, 0, 5, 13, 24, 35, 46, 56, 62, 64};

void c331_manage::calc_iwin2(int w) {
    if (w < 0 || w >= kWindows) return;
    _ImageWindowDef_st& r = IWIN[w];
    r = {};
    const int p = PM_INPUT[w];
    const int d = PM_WIN_DBD_MODE[w];
    const bool valid_port = p >= 0 && p < 6;
    if (PM_WIN_SHAPE[w][0] != 0 && PM_WIN_SHAPE[w][1] != 0 && valid_port && PI_ACT[p][1] != 0 &&
        PI_ACT[p][3] != 0) {
        const bool field_doubled = PI_SCAN_MODE[p] != 0 && g_win_ich[w][0] < 4;
        const DbdArea* area = nullptr;
        for (const auto& a : kDbdAreas)
            if (a.mode == d) area = &a;
        if (d == 1) {
            r.hw = PI_DBD_ACT[p][1];
            r.vw = PI_DBD_ACT[p][3] * (field_doubled ? 2 : 1);
        } else if (area) {
            for (int q : area->hw_ports)
                if (q >= 0) r.hw += PI_DBD_ACT[q][1];
            for (int q : area->vw_ports)
                if (q >= 0) r.vw += PI_DBD_ACT[q][3];
        } else {
            const int32_t hw = PI_ACT[p][1] * (PI_STATE[p] == 1 ? 2 : 1);
            int32_t vw = PI_ACT[p][3];
            if (PM_INPUT_OFFSET_EN[w]) {
                if (PI_SCAN_MODE[p]) vw *= 2;
                const int32_t* o = PM_INPUT_OFFSET[w];  // left, right, top, bottom
                r.hst = o[0] < hw ? o[0] : 0;
                r.hw = hw - o[0] - o[1] < 1 ? hw : hw - o[0] - o[1];
                r.vst = o[2] < vw ? o[2] : 0;
                r.vw = vw - o[2] - o[3] < 1 ? vw : vw - o[2] - o[3];
            } else {
                r.hw = hw;
                r.vw = vw * (field_doubled ? 2 : 1);
            }
        }
    }
    console::outf("calc_iwin2 IWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", w, r.hst, r.hw, r.vst,
                  r.vw);
}

void c331_manage::calc_owin2(int w) {
    if (w < 0 || w >= kWindows) return;
    _ImageWindowDef_st& o = OWIN[w];
    _ImageWindowDef_st& i = IWIN[w];
    o = {};
    const int32_t* off = PM_WIN_OFFSET[w];  // left, right, up, down
    if (PM_WIN_SHAPE[w][0] > 0) o.hw = PS_ACTHW * PM_WIN_SHAPE[w][0];
    if (PM_WIN_SHAPE[w][1] > 0) o.vw = PS_ACTVW * PM_WIN_SHAPE[w][1];
    o.hst = off[0];
    o.hw -= off[0] + off[1];
    o.vst = off[2];
    o.vw -= off[2] + off[3];
    if (PM_WIN_DBD_MODE[w] != 0) {
        // Shown one to one: the smaller size on each axis.
        if (PM_WIN_DBD_CLIP[w]) {
            i.hw = std::min(i.hw, o.hw);
            i.vw = std::min(i.vw, o.vw);
            if (i.hw < 1) o.hw = i.hw;
            if (i.vw < 1) o.vw = i.vw;
        } else {
            i.hw = o.hw = std::min(i.hw, o.hw);
            i.vw = o.vw = std::min(i.vw, o.vw);
        }
    } else {
        o.hw = std::max(0, o.hw);
        o.vw = std::max(0, o.vw);
    }
    ZEM_DEBUG("calc_owin2 OWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", w, o.hst, o.hw, o.vst,
              o.vw);
}

void c331_manage::calc_oact(const _ImageWindowDef_st* r, _ImageWindowDef2_St* piece, int w) {
    for (int i = 0; i < 8; ++i) piece[i] = {};
    if (w < 0 || w >= kWindows) return;
    const int cols = std::min(8, std::max(0, PM_WIN_SHAPE[w][0]));
    const int rows = std::min(8, std::max(0, PM_WIN_SHAPE[w][1]));
    for (int i = 0; i < cols; ++i)
        cutPiece(r->hst, r->hw, PS_ACTHW, i, &piece[i].hst, &piece[i].hw);
    for (int j = 0; j < rows; ++j)
        cutPiece(r->vst, r->vw, PS_ACTVW, j, &piece[j].vst, &piece[j].vw);
    int first, last;
    firstLast(
        cols, [&](int i) { return piece[i].hw; }, &first, &last);
    if (first >= 0) piece[first].hfirst = piece[last].hlast = 1;
    firstLast(
        rows, [&](int j) { return piece[j].vw; }, &first, &last);
    if (first >= 0) piece[first].vfirst = piece[last].vlast = 1;
}

void c331_manage::calc_scaling(const _ImageWindowDef_st* in, const _ImageWindowDef_st* out,
                               _ScalingSt* s) {
    scaleAxis(in->hw, out->hw, &s->hmode, &s->hshrink, &s->hzoom);
    scaleAxis(in->vw, out->vw, &s->vmode, &s->vshrink, &s->vzoom);
}

int c331_manage::check_stitching_win(int* win, int* pair) {
    const int* S = PM_WIN_STITCHING;
    *pair = -1;
    const int w = *win;
    if (w < 0 || w >= kWindows) return 0;
    auto lastPartner = [&](int master) {
        int v = -1;
        for (int i = 0; i < kWindows; ++i)
            if (i != master && S[i] == master) v = i;
        return v;
    };
    if (S[w] == w) {
        *pair = lastPartner(w);
        return *pair >= 0 ? 1 : 0;
    }
    const int m = S[w];
    if (m < 0 || m >= kWindows) return 0;
    *win = m;
    if (S[m] != m) return 0;
    const int v = lastPartner(m);
    if (v < 0) return 0;
    *pair = v;
    return 2;
}

void c331_manage::set_lut_vzoom_4sym(int fd, int mode, int ch) {
    if (ch < 0 || ch > 7) return;
    const uint32_t off = 16 * uint32_t(ch);
    for (int i = 0; i < 24; ++i) {
        const uint32_t v = mode < 1 ? (i == 0 ? 0x40 : 0) : lut_set_lut_vzoom_4sym[i];
        drv->write_C331(fd, desc(0x0A, 0x68 + i, 1), v, off);
    }
}

void c331_manage::set_input_bkg2(int fd, int w, int onoff) {
    if (w < 0 || w >= kWindows) return;
    const int p = PM_INPUT[w];
    int on = 1;
    if (!onoff) on = zemApi_IsPatternGen() ? 0 : (p >= 0 && p < 6 && PI_STATE[p] == 0 ? 1 : 0);
    const int e = PM_WIN_DBD_MODE[w] != 0 ? 0 : g_force_bkcolor == 1 ? 1 : on;
    const bool black = gWininfo[w].outFlag & 1;
    for (int k = 0; k < 8; ++k) {
        if (PM_WIN_NUM[k] != w) continue;
        const uint32_t off = 16 * uint32_t(k);
        drv->write_C331(fd, desc(0x08, 0x49, 3), g_force_bkcolor == 1 ? 0xFF00 : 0, off);
        drv->write_C331(fd, desc(0x08, 0x48, 1), black ? 1 : uint32_t(e), off);
    }
}
