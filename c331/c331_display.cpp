// One window into the C331: the capture of its input channels and, for every output channel
// that carries a piece of it, the read-back of the frame store; the freeze that hides an
// update and the output vertical-sync wait. Window indices are record indices.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "c331/c331_manage.h"
#include "core/console.h"
#include "core/globals.h"

namespace {

constexpr int kWindows = 6;
// An output frame at the slowest panel timing is about 17 ms: a wait of this many 1-ms polls
// spans six frames, and a stuck sync bit costs the apply at most this long per wait.
constexpr int kOutputSyncPolls = 100;

constexpr uint32_t desc(int bank, int address, int count) {
    return uint32_t(bank) << 16 | uint32_t(address) << 8 | uint32_t(count);
}

// Shrink ratio of the input side: out into in, never a zoom.
int32_t inputShrink(int32_t in, int32_t out) {
    if (out >= 1 && in > 1 && out < in) return int32_t(int64_t(out - 1) * 65536 / (in - 1) + 1);
    return 0x10000;
}

// Phase of a shrink at start s: 0 when none.
int32_t shrinkPhase(int32_t s, int32_t r) {
    if (s < 1) return 0;
    const int32_t p = 256 - int32_t(((int64_t(s) * r) & 0xFFFF) >> 8);
    return p == 256 ? 0 : p;
}

// Storage units of a memory write mode: 4, 16/5, 8/3 or 2 per pixel.
void storageUnits(int mode, int* num, int* den) {
    static const int kNum[4] = {4, 16, 8, 2}, kDen[4] = {1, 5, 3, 1};
    const int m = mode >= 0 && mode < 4 ? mode : 0;
    *num = kNum[m];
    *den = kDen[m];
}

// Storage offset of a second capture channel whose first one is a pixels wide (no shrink).
int32_t storageOffset(int mode, int32_t a) {
    switch (mode) {
        case 1:
            return (a / 5) * 80 / 5 + (a % 5) * 3;
        case 2:
            return ((a + (3 - a % 3) % 3) * 8) / 3;
        case 3:
            return 2 * a;
        default:
            return 4 * a;
    }
}

int32_t ceilDiv64(int64_t a, int64_t b) {
    return int32_t(b > 0 ? (a + b - 1) / b : 0);
}

// Zoomed position: (z x) >> 16, plus 1 when the fraction reaches the ratio.
int32_t zoomPos(int32_t z, int32_t x) {
    const int64_t v = int64_t(z) * x;
    return int32_t((v >> 16) + ((v & 0xFFFF) >= z ? 1 : 0));
}

int32_t roundedPhase(int64_t start, int32_t z) {
    return int32_t((((start * z) & 0xFFFF) + 128) / 256);
}

uint32_t fieldSequence(const int32_t* f, int count) {
    uint32_t v = 0;
    for (int i = 0; i < count; ++i) v |= uint32_t(f[i] & 7) << (4 * i);
    return v;
}

}  // namespace

// One input channel's capture: start, width and shrink phase; the field store offset.
struct IchPart {
    int32_t hst, hw, phase, phase_flag, offset;
};

void c331_manage::set_display_window_ich(int fd, const _ImageWindowDef_st* in,
                                         const _ImageWindowDef_st* out, int w) {
    if (w < 0 || w >= kWindows) return;
    const int* list = g_win_ich[w];
    int n = 0;
    while (n < 8 && list[n] >= 0) ++n;
    const int p = PM_INPUT[w];
    if (n == 0 || p < 0 || p > 5) return;
    const int c = list[0];
    const bool dual = n > 1 && c + 1 < 8;
    const int dual_mode = !dual || PI_STATE[p] >= 4 ? 0 : PI_HDMI_INFO[p].lane < 5 ? 2 : 1;
    PM_MEM_WMODE[w] = PI_SCAN_MODE[p] ? 2 : PS_MEM_WMODE[w];

    // The capture split between the two channels of a two-pixels-per-clock input.
    const int32_t hw = PI_ACT[p][1], hst = PI_ACT[p][0], adj = PM_IACTHST[w];
    IchPart a{hst + adj - 7, hw, 0, 0, 0}, b{0, 0, 0, 0, 0};
    if (PI_STATE[p] < 4) {
        if (adj < -hw) {
            a = {hst - hw - 7, 2 * hw, 0, 0, 0}, b = {hst - 7, 0, 0, 0, 0};
        } else if (adj < hw) {
            a = {hst + adj - 7, hw - adj, 0, 0, 0}, b = {hst - 7, hw + adj, 0, 0, 0};
        } else {
            a = {hst + hw - 7, 0, 0, 0, 0}, b = {hst + adj - hw - 7, 2 * hw, 0, 0, 0};
        }
    }
    const int32_t hs = inputShrink(in->hw, out->hw), vs = inputShrink(in->vw, out->vw);
    const bool hshrink = hs != 0x10000, vshrink = vs != 0x10000;
    const int32_t p0 = hshrink ? shrinkPhase(in->hst, hs) : 0;
    a.phase = p0;
    a.phase_flag = p0 != 0;
    int write_offset = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const int mode = PM_MEM_WMODE[w];
        const int32_t A = a.hw;
        write_offset = mode == 2 ? 2 * ((3 - A % 3) % 3) : 0;
        if (!hshrink) {
            b.offset = storageOffset(mode, A);
            break;
        }
        if (PI_STATE[p] >= 4) break;  // the second channel takes no offset
        const int64_t X64 =
            (int64_t(hs) * (A - 1) + int64_t(1 - a.phase_flag) * 65536 + p0 * 256) >> 16;
        const int32_t X = int32_t(X64), Xe = X + (X & 1);
        const int32_t A2 = std::max(A, ceilDiv64(int64_t(Xe - 1) * 65536, hs) + 1);
        const int32_t d = A2 - A;
        auto secondPhase = [&](int32_t first) {
            const int64_t t = int64_t(hs) * first + 256 * p0;
            const int64_t end = (int64_t(hs) * (first + (b.hw - d) - 1) + 256 * p0) & 0xFFFF;
            b.phase = int32_t(((t & 0xFFFF) >> 8) + (end < (t & 0xFF) ? 1 : (t & 0xFF) >> 7));
            b.phase_flag = !(b.phase == 256 || (t & 0xFFFF) < hs);
        };
        if (mode == 0 && (PS_MEM_WMODE[w] == 0 || d > 2)) {
            b.offset = 4 * X;
            secondPhase(A);
            break;
        }
        if (mode != 0 && d < 3) {
            a.hw = A2;
            b.hw -= d;
            b.hst += d;
            b.offset = storageOffset(mode, Xe);
            secondPhase(A2);
            break;
        }
        const int to = mode == 0 ? PS_MEM_WMODE[w] : 0;
        console::outf("\n *** YUV CHG DET win=%d [%d] to ", w, mode);
        console::outf("[%d]\n", to);
        PM_MEM_WMODE[w] = to;
    }
    const int32_t v0 = vshrink ? shrinkPhase(in->vst, vs) : 0;
    const int vflag = v0 != 0;

    set_idual(fd, c, dual_mode, p);
    set_ichsel(fd, w);
    const uint32_t seq = fieldSequence(g_win_order[w], 5);
    auto channel = [&](int ch, const IchPart& part, int enables, int sync, int32_t offset) {
        const uint32_t off = 16 * uint32_t(ch);
        drv->write_C331(fd, desc(0x10, 0x09, 1), uint32_t(sync), off);
        drv->write_C331(fd, desc(0x10, 0x17, 2), uint32_t(part.hst), off);
        drv->write_C331(fd, desc(0x10, 0x19, 2), uint32_t(part.hw), off);
        drv->write_C331(fd, desc(0x10, 0x1B, 2), uint32_t(PM_IACTVST[w] + PI_ACT[p][2] + 1), off);
        drv->write_C331(fd, desc(0x10, 0x1D, 2), uint32_t(PI_ACT[p][3]), off);
        drv->write_C331(fd, desc(0x11, 0x42, 1), uint32_t(enables), off);
        drv->write_C331(fd, desc(0x11, 0x43, 1), 2, off);
        drv->write_C331(fd, desc(0x11, 0x44, 1), hshrink ? 0xC7 : 0x80, off);
        drv->write_C331(fd, desc(0x11, 0x45, 1), uint32_t(part.phase), off);
        drv->write_C331(fd, desc(0x11, 0x46, 1), uint32_t(part.phase), off);
        drv->write_C331(fd, desc(0x11, 0x47, 2), hshrink ? uint32_t(hs) : 0, off);
        drv->write_C331(fd, desc(0x11, 0x49, 1), vshrink ? 0x84 : 0x80, off);
        drv->write_C331(fd, desc(0x11, 0x4A, 1), uint32_t(v0), off);
        drv->write_C331(fd, desc(0x11, 0x4B, 1), uint32_t(v0), off);
        drv->write_C331(fd, desc(0x11, 0x4C, 2), vshrink ? uint32_t(vs) : 0, off);
        for (int i = 0; i < 5; ++i)
            drv->write_C331(fd, desc(0x16, 0x1C + 4 * i, 4), uint32_t(PS_MEM_SC[c][i] + offset),
                            off);
        drv->write_C331(fd, desc(0x16, 0x31, 1), uint32_t(PS_MWI), off);
        drv->write_C331(fd, desc(0x16, 0x66, 3), seq, off);
    };
    channel(c, a, ((a.phase_flag << 4) + vflag) << 3, 1, write_offset);
    if (dual) channel(c + 1, b, (vflag + 16 * b.phase_flag) * 8, (c & ~1) + 8, b.offset);
    set_lut_hshrnk(fd, hs, c, dual);
    set_lut_vshrnk_4sym(fd, vs, c, dual);
    set_iscwct(fd, w);
    set_mct(fd, w, 0);
    set_ip(fd, c);
}

// One output-channel column or row of a window: where its read starts and how wide it is.
struct OchPart {
    int32_t start = 0, width = 0, storage = 0, phase = 0, mode = 0, end = 0;
};

void c331_manage::set_display_window_och(int fd, const _ImageWindowDef_st* in,
                                         const _ImageWindowDef_st* out, int w) {
    if (w < 0 || w >= kWindows) return;
    int m = w, pair = -1;
    check_stitching_win(&m, &pair);
    const int d = PM_WIN_DBD_MODE[w];
    const bool own_set = d != 0 && !(d == 1 && check_dbd_input(fd, PM_INPUT[w]) == 0);
    const int first_ich = g_win_ich[w][0];
    if (first_ich < 0 || first_ich > 7) return;  // nothing captures this window
    const int32_t L = own_set ? g_win_dbd_stripes[w] : PS_MWI;
    const int32_t omwi = PM_WIN_VMIRROR[m] ? 256 - L : L;
    const int64_t pitch = 1024 * int64_t(L);
    _ImageWindowDef2_St pieces[8];
    calc_oact(out, pieces, w);
    _ScalingSt sc{};
    calc_scaling(in, out, &sc);
    int num, den;
    storageUnits(PM_MEM_WMODE[m], &num, &den);
    const int64_t h0 = (sc.hmode == 1 ? ((int64_t(sc.hshrink) * (in->hst - 1)) >> 16) * num + num
                                      : int64_t(in->hst) * num) /
                       den;
    const int64_t v0 = sc.vmode == 1 ? ((int64_t(sc.vshrink) * (in->vst - 1)) >> 16) * pitch + pitch
                                     : int64_t(in->vst) * pitch;
    const int cols = std::min(8, PM_WIN_SHAPE[w][0]), rows = std::min(8, PM_WIN_SHAPE[w][1]);
    const bool hmirror = PM_WIN_HMIRROR[m], vmirror = PM_WIN_VMIRROR[m];

    OchPart col[8], row[8];
    int32_t col_offset[8] = {};
    for (int c = 0, S = 0; c < cols; S += pieces[c].hw, ++c) {
        OchPart& k = col[c];
        const int32_t pw = pieces[c].hw;
        k.end = pieces[c].hst + pw;
        if (sc.hmode != 2) {
            k.width = std::max(pw, 16);
            k.storage =
                int32_t(hmirror ? int64_t(num) * (out->hw - pw - S) / den : int64_t(S) * num / den);
            continue;
        }
        const int32_t Z = sc.hzoom;
        const int32_t s = zoomPos(Z, S), e = zoomPos(Z, S + pw), E = zoomPos(Z, out->hw);
        k.mode = 0x47;
        if (pw == 0) continue;
        int32_t start = 0, margin = 0;
        if (!pieces[c].hfirst && s < 5) {
            col_offset[c] = -S, margin = s;
        } else if (!pieces[c].hfirst) {
            start = ceilDiv64(int64_t(s - 4) * 65536, Z);
            col_offset[c] = start - S;
            k.storage = int32_t(int64_t(num) * (s - 4) / den);
            margin = 4;
        }
        const int32_t read_end = pieces[c].hlast ? e : e + 4;
        if (!pieces[c].hlast) margin += std::min(e, 4);
        if (hmirror) k.storage = int32_t(int64_t(num) * (E - read_end) / den);
        k.width = std::max((e - s) + margin, 16);
        k.phase = roundedPhase(start, Z);
        k.mode = 0xC7;
    }
    for (int r = 0, S = 0; r < rows; S += pieces[r].vw, ++r) {
        OchPart& k = row[r];
        const int32_t ph = pieces[r].vw;
        if (sc.vmode != 2) {
            k.width = ph + 1;
            k.storage = int32_t(vmirror ? pitch * (out->vw - 1) - S * pitch : S * pitch);
            k.mode = g_cap_limit[w] ? 5 : 0;
            continue;
        }
        const int32_t Z = sc.vzoom;
        const int32_t s = zoomPos(Z, S), e = zoomPos(Z, S + ph);
        const int64_t full = int64_t(Z) * out->vw;
        const int32_t Ev = int32_t((full >> 16) - ((full & 0xFFFF) < Z ? 1 : 0));
        if (ph == 0) {
            k.mode = 4, k.start = -1, k.width = 2;
            continue;
        }
        int32_t margin = 0;
        k.start = -1;
        if (!pieces[r].vfirst && s < 5) {
            k.start = -S - 1, margin = s;
        } else if (!pieces[r].vfirst) {
            const int32_t st = ceilDiv64(int64_t(s - 4) * 65536, Z);
            k.start = st - S - 1;
            k.phase = roundedPhase(st, Z);
            k.storage = int32_t(pitch * (s - 4));
            margin = 4;
        }
        if (vmirror) k.storage = int32_t(pitch * Ev - k.storage);
        if (!pieces[r].vlast) margin += std::min(e, 4);
        k.width = (e - s) + margin + 2;
        k.mode = g_cap_limit[w] ? 5 : 0x84;
    }
    const int64_t T = !g_cap_limit[w] ? 0 : vmirror ? -pitch : pitch;
    bool no_width = false, no_height = false;
    for (int c = 0; c < cols; ++c) no_width |= pieces[c].hst + col_offset[c] + PS_ACTHST < 10;
    for (int r = 0; r < rows; ++r) no_height |= pieces[r].vst + row[r].start + PS_ACTVST < 3;

    int och[8];
    get_och(w, och);
    const int32_t* bases = own_set ? g_win_dbd_addr[w] : PS_MEM_SC[first_ich];
    int lead = -1;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const int i = r * cols + c;
            if (i >= 8 || och[i] < 0) continue;
            const int k = och[i];
            const uint32_t off = 16 * uint32_t(k);
            const uint32_t kind = k == 0 ? 1 : 0x11;
            const uint32_t sync =
                lead < 0 ? uint32_t(first_ich) << 8 | kind : kind | uint32_t(lead) << 8 | 0x1000;
            if (lead < 0) lead = k;
            drv->write_C331(fd, desc(0x08, 0x08, 2), sync, off);
            for (int f = 0; f < 5; ++f) {
                const int64_t a = row[r].storage + int64_t(bases[f]) + col[c].storage + h0 + v0 - T;
                drv->write_C331(fd, desc(0x16, 0x08 + 4 * f, 4), uint32_t(a), off);
            }
            drv->write_C331(fd, desc(0x16, 0x30, 1), uint32_t(omwi), off);
            drv->write_C331(fd, desc(0x08, 0x40, 2),
                            uint32_t(pieces[c].hst + col_offset[c] + PS_ACTHST), off);
            drv->write_C331(fd, desc(0x08, 0x42, 2), no_width ? 0 : uint32_t(col[c].width), off);
            drv->write_C331(fd, desc(0x08, 0x44, 2),
                            uint32_t(pieces[r].vst + row[r].start + PS_ACTVST), off);
            drv->write_C331(fd, desc(0x08, 0x46, 2), no_height ? 0 : uint32_t(row[r].width), off);
            drv->write_C331(fd, desc(0x08, 0x22, 1), hmirror ? 1 : 0, off);
            drv->write_C331(fd, desc(0x08, 0x32, 2), uint32_t(col[c].end + PS_OAOIHST), off);
            drv->write_C331(fd, desc(0x0A, 0x46, 1), uint32_t(col[c].mode), off);
            drv->write_C331(fd, desc(0x0A, 0x47, 1), uint32_t(col[c].phase), off);
            drv->write_C331(fd, desc(0x0A, 0x48, 1), uint32_t(col[c].phase), off);
            drv->write_C331(fd, desc(0x0A, 0x49, 2), uint32_t(sc.hzoom), off);
            drv->write_C331(fd, desc(0x0A, 0x44, 1), sc.vmode == 2 ? 3 : 0, off);
            drv->write_C331(fd, desc(0x0A, 0x4B, 1), uint32_t(row[r].mode), off);
            drv->write_C331(fd, desc(0x0A, 0x4C, 1), uint32_t(row[r].phase), off);
            drv->write_C331(fd, desc(0x0A, 0x4D, 1), uint32_t(row[r].phase), off);
            drv->write_C331(fd, desc(0x0A, 0x4E, 2), uint32_t(sc.vzoom), off);
            set_oscwct(fd, k);
            set_lut_vzoom_4sym(fd, sc.vzoom, k);
        }
    }
}

void c331_manage::set_freeze(int fd, int on) {
    if (!on) {
        for (int w = 0; w < kWindows; ++w) {
            int m = w, pair;
            check_stitching_win(&m, &pair);
            const int32_t* F = g_win_order[m];
            const uint32_t seq = uint32_t(F[3] & 7) | uint32_t(F[0] & 7) << 4 |
                                 uint32_t(F[1] & 7) << 8 | uint32_t(F[2] & 7) << 12;
            for (int k = 0; k < 8; ++k)
                if (PM_WIN_NUM[k] == w)
                    drv->write_C331(fd, desc(0x16, 0x6C, 2), seq, 16 * uint32_t(k));
            g_win_frozen[w] = 0;
        }
        return;
    }
    int wins[kWindows], first[kWindows], count = 0;
    for (int w = 0; w < kWindows; ++w) {
        if (!g_chg_src[w] && !g_chg_dbd[w] && !g_chg_input[w]) continue;
        wins[count] = w;
        first[count++] = g_win_ich_copy[w][0] >= 0 ? g_win_ich_copy[w][0] : g_win_ich[w][0];
    }
    set_rtct(fd, 0);
    if (count == 0 || first[0] < 0 || first[0] > 7) return;
    auto field = [&](int c) {
        return int(drv->read_C331(fd, desc(0xAB, 0x47 + c, 1), 0) >> 2) & 3;
    };
    drv->write_C331(fd, desc(0x10, 0x09, 1), 2, 16 * uint32_t(first[0]));
    const int F = field(first[0]);
    bool done[kWindows] = {true};
    int left = count - 1;
    for (int pass = 0; pass < 251 && left > 0; ++pass) {
        for (int i = 1; i < count; ++i) {
            if (done[i] || first[i] < 0 || first[i] > 7) continue;
            if (field(first[i]) != F) continue;
            drv->write_C331(fd, desc(0x10, 0x09, 1), 2, 16 * uint32_t(first[i]));
            done[i] = true;
            --left;
        }
    }
    for (int i = 0; i < count; ++i)
        for (int c : g_win_ich_copy[wins[i]])
            if (c >= 0 && c < 8) drv->write_C331(fd, desc(0x00, 0x08 + c, 1), 1, 0);
    wait1_povs(fd, 0);
    int32_t* seq = g_win_order[wins[0]];
    std::swap(seq[(F + 3) % 4], seq[4]);
    const uint32_t write_seq = fieldSequence(seq, 5);
    for (int i = 0; i < count; ++i) {
        const int w = wins[i];
        if (i > 0) std::copy(seq, seq + 5, g_win_order[w]);
        g_win_frozen[w] = 1;
        for (int c : g_win_ich_copy[w])
            if (c >= 0 && c < 8)
                drv->write_C331(fd, desc(0x16, 0x66, 3), write_seq, 16 * uint32_t(c));
    }
    const uint32_t hold = uint32_t(seq[4] & 7) * 0x1111;
    for (int k = 0; k < 8; ++k)
        for (int i = 0; i < count; ++i)
            if (g_win_num_copy[k] == wins[i])
                drv->write_C331(fd, desc(0x16, 0x6C, 2), hold, 16 * uint32_t(k));
}

bool c331_manage::wait1_povs(int fd, int k) {
    if (k < 0 || k > 7) return true;
    drv->write_C331(fd, desc(0x05, 0x09, 1), 1u << k, 0);
    drv->write_C331(fd, desc(0x00, 0x29, 1), 0x80, 0);
    bool seen = false;
    for (int i = 0; i < kOutputSyncPolls && !seen; ++i) {
        seen = drv->read_C331(fd, desc(0x05, 0x23, 1), 0) & (1u << k);
        if (!seen) Sleep(1);
    }
    drv->write_C331(fd, desc(0x05, 0x09, 1), 0, 0);
    drv->write_C331(fd, desc(0x00, 0x29, 1), 0, 0);
    if (!seen) {
        char text[80];
        std::snprintf(text, sizeof text, "c331: no output frame on channel %d within %d ms", k,
                      kOutputSyncPolls);
        writeLogMsg(2, text);
        ZEM_DEBUG("\033[1m%s\033[0m\n", text);
    }
    return seen;
}

void c331_manage::get_och(int w, int* och) {
    for (int i = 0; i < 8; ++i) och[i] = -1;
    for (int k = 0; k < 8; ++k)
        if (PM_WIN_NUM[k] == w && PM_AREA_NUM[k] >= 0 && PM_AREA_NUM[k] < 8)
            och[PM_AREA_NUM[k]] = k;
}

void c331_manage::set_oscwct(int fd, int k) {
    if (k < 0 || k > 7) return;
    int m = PM_WIN_NUM[k], pair;
    if (m < 0 || m >= kWindows) m = 0;
    check_stitching_win(&m, &pair);
    const int mode = PM_MEM_WMODE[m];
    const uint32_t v = mode == 1 ? 0x80 : mode == 2 ? 0x01 : mode == 3 ? 0x11 : 0;
    drv->write_C331(fd, desc(0x00, 0x69 + k, 1), v, 0);
}
