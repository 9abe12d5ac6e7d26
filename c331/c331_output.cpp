// The one operation that brings the chip in line with the window environment: the input
// channels of changed windows, their input and output sides, the layer order and overlay,
// idle channels off, the change hidden behind a freeze or a fade. Every layout, crop, source
// and input-timing change ends here, on the C331 thread.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "c331/c331_manage.h"
#include "core/console.h"
#include "core/globals.h"

namespace {
constexpr int kWindows = 6;
constexpr int kCaptureLimit = 0x880;  // widest input capture with the 2-lane transmitter mode

// Releases a held lock for a scope and takes it again at its end.
class Released {
public:
    explicit Released(zem::MutexLocker* lock) : lock_(lock && lock->owns_lock() ? lock : nullptr) {
        if (lock_) lock_->unlock();
    }
    ~Released() {
        if (lock_) lock_->lock();
    }
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;

private:
    zem::MutexLocker* lock_;
};
}  // namespace

void c331_manage::set_output(int fd) {
    ++output_applies;
    for (int w = 0; w < kWindows; ++w) reset_ich(w);
    for (int w = 0; w < kWindows; ++w) {
        const bool setup = g_chg_src[w] == 1 || g_chg_src[w] == 3 || g_chg_dbd[w] ||
                           (g_chg_input[w] && g_win_ich[w][0] < 0);
        if (setup && set_input(w, PM_INPUT[w]) == 2) g_chg_src[w] = g_chg_dbd[w] = 0;
    }

    // A lone source switch with fade on fades; anything else freezes.
    int fades = 0, fade_win = -1;
    bool no_fade = false;
    for (int w = 0; w < kWindows; ++w) {
        if (g_chg_src[w] == 1 && PM_WIN_FADE_EN[w]) ++fades, fade_win = w;
        no_fade = no_fade || g_chg_src[w] == 2 || g_chg_src[w] == 3 || g_chg_dbd[w] == 1 ||
                  (g_chg_src[w] == 1 && !PM_WIN_FADE_EN[w]) || g_chg_input[w] == 1;
    }
    const bool fade = !no_fade && !g_chg_overlay && fades == 1;
    if (fade) {
        set_layer_coef(fd, fade_win, PM_WIN_FADE_OUT[fade_win], 0);
    } else {
        set_freeze(fd, 1);
    }

    for (int w = 0; w < kWindows; ++w) {
        g_cap_limit[w] = 1;
        g_win_split[w] = 0;
        if (!g_chg_src[w] && !g_chg_dbd[w] && !g_chg_input[w]) continue;
        calc_iwin2(w);
        calc_owin2(w);
        if (PM_WIN_DBD_MODE[w] != 0) {
            set_display_window_ich_dbd(fd, w, PM_WIN_DBD_MODE[w]);
            continue;
        }
        _ImageWindowDef_st out = OWIN[w];
        if (PS_VBOTX_MODE == 2) {
            const int width = IWIN[w].hw > kCaptureLimit ? OWIN[w].hw : IWIN[w].hw;
            if (IWIN[w].vw < OWIN[w].vw) {
                g_cap_limit[w] = 0;
                if (width > kCaptureLimit) {
                    g_win_split[w] = 1;
                    out.hw = kCaptureLimit;
                }
            }
        }
        set_display_window_ich(fd, &IWIN[w], &out, w);
    }

    reset_act(fd, 0);
    wait1_pivs2(fd);
    wait1_pivs2(fd);
    set_rtct(fd, 2);
    for (int w = 0; w < kWindows; ++w) {
        if (!g_chg_src[w] && !g_chg_dbd[w] && !g_chg_input[w] && !g_chg_mirror[w]) continue;
        _ImageWindowDef_st in = IWIN[w];
        if (g_win_split[w]) in.hw = kCaptureLimit;
        set_display_window_och(fd, &in, &OWIN[w], w);
        set_input_bkg2(fd, w, 0);
    }
    if (g_chg_overlay || g_overlay_reload) {
        update_overlay_info();
        set_overlay(fd);
        reset_layer_coef(fd, 0);
        g_chg_overlay = g_overlay_reload = 0;
    }
    reset_act(fd, 1);
    if (fade) {
        set_layer_coef(fd, fade_win, PM_WIN_FADE_IN[fade_win], 1);
    } else {
        set_freeze(fd, 0);
    }
    set_rtct(fd, 1);

    std::memcpy(g_win_num_copy, PM_WIN_NUM, sizeof g_win_num_copy);
    std::memcpy(g_win_ich_copy, g_win_ich, sizeof g_win_ich_copy);
    for (int w = 0; w < kWindows; ++w) {
        const int d = PM_WIN_DBD_MODE[w];
        if (d <= 0 || (d == 1 && check_dbd_input(fd, PM_INPUT[w]) == 0)) reset_dbd_mem(w);
    }
    for (int w = 0; w < kWindows; ++w)
        g_chg_input[w] = g_chg_src[w] = g_chg_dbd[w] = g_chg_mirror[w] = 0;
}

void c331_manage::update_overlay_info() {
    for (int k = 0; k < 8; ++k) {
        int n = 0;
        for (int c = 0; c < 8 && n < 8; ++c)
            if (PM_OVERLAY[c] == k + 1) g_och_layer[k][n++] = c;
        g_och_layer_cnt[k] = n;
        auto pri = [&](int c) {
            const int w = PM_WIN_NUM[c];
            return w >= 0 && w < kWindows ? PM_OVERLAY_PRI[w] : 0;
        };
        int* l = g_och_layer[k];
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                if (pri(l[i]) > pri(l[j])) std::swap(l[i], l[j]);
    }
}

void c331_manage::set_overlay(int fd) {
    for (int k = 0; k < 8; ++k) {
        uint32_t order = 0;
        for (int i = 0; i < g_och_layer_cnt[k]; ++i)
            order |= uint32_t(g_och_layer[k][i] + 8) << (4 * i);
        drv->write_C331(fd, 0x0E0B04, order, 16 * uint32_t(k));
    }
}

void c331_manage::reset_layer_coef(int fd, int mode) {
    const uint32_t extended = mode == 1 ? 256 : mode == 2 ? 512 : 0;
    for (int k = 0; k < 4; ++k) {
        const uint32_t off = 16 * uint32_t(k);
        const uint32_t v = g_och_layer_cnt[k] > 0 ? 128 : 0;
        for (int i = 0; i < 16; ++i) {
            const int top = i == 0 ? -1 : 31 - __builtin_clz(unsigned(i));
            for (int j = 0; j < 5; ++j) {
                const bool shown = i == 0 ? j == 0 : j == top + 1;
                drv->write_C331(fd, 0x0E0001 | uint32_t(0x11 + 5 * i + j) << 8, shown ? v : 0, off);
            }
            drv->write_C331(fd, 0x0E0F02, extended, off);
        }
    }
}

void c331_manage::set_layer_coef(int fd, int w, int cnt, int dir) {
    console::outf("set_layer_coef  win=%d  cnt=%d  dir=%d\n", w, cnt, dir);
    if (cnt < 0 || w < 0 || w >= kWindows) return;
    cnt = std::min(cnt, kMaxFadeFrames);
    // A ramp lasts up to 255 frames: the RAM's readers and writers on other threads go on
    // meanwhile (the turn's later steps see their changes, and take what they apply as applied).
    const Released released(turn_lock);
    for (int s = 0; s <= cnt; ++s) {
        const int a = cnt == 0 ? 128 : 128 * s / cnt;
        const int mine = dir ? a : 128 - a, below = 128 - mine;
        drv->write_C331(fd, 0x002201, 0xFF, 0);
        drv->write_C331(fd, 0x002301, 0xFF, 0);
        for (int k = 0; k < 4; ++k) {
            if (g_och_layer_cnt[k] == 0) continue;
            int p = -1;
            for (int i = 0; i < g_och_layer_cnt[k]; ++i)
                if (PM_WIN_NUM[g_och_layer[k][i]] == w) p = i;
            if (p < 0) continue;
            const uint32_t off = 16 * uint32_t(k);
            drv->write_C331(fd, 0x0E0F02, p == 4 ? 256 : p >= 5 ? 512 : 0, off);
            p = std::min(p, 3);
            for (int i = 1; i < 16; ++i) {
                if (!(i & (1 << p)) || (i >> (p + 1))) continue;  // holds p, nothing higher
                int lower = -1;
                if (p >= 1 && (i & (1 << (p - 1)))) {
                    lower = p - 1;
                } else if (p >= 2 && (i & (1 << (p - 2)))) {
                    lower = p - 2;
                } else if (p == 3 && (i & 1)) {
                    lower = 0;
                }
                drv->write_C331(fd, 0x0E0001 | uint32_t(0x11 + 5 * i + p + 1) << 8, uint32_t(mine),
                                off);
                const int j = lower >= 0 ? lower + 1 : 0;  // the background takes it otherwise
                drv->write_C331(fd, 0x0E0001 | uint32_t(0x11 + 5 * i + j) << 8, uint32_t(below),
                                off);
            }
        }
        drv->write_C331(fd, 0x002201, 0xA9, 0);
        drv->write_C331(fd, 0x002301, 0xCB, 0);
        // A frame that never comes ends the ramp at its last step instead of waiting per step.
        if (!wait1_povs(fd, 0) && s < cnt) s = cnt - 1;
    }
}

void c331_manage::reset_act(int fd, int mode) {
    if (mode == 0 || mode == 2) {
        for (int i = 0; i < 8; ++i)
            if (g_ich_owner[i] == -1) drv->write_C331(fd, 0x101902, 0, 16 * uint32_t(i));
    }
    if (mode == 1 || mode == 2) {
        for (int k = 0; k < 8; ++k) {
            const int w = PM_WIN_NUM[k];
            const bool used = w >= 0 && w < kWindows &&
                              PM_WIN_SHAPE[w][0] * PM_WIN_SHAPE[w][1] != 0 &&
                              PM_AREA_NUM[k] < PM_WIN_SHAPE[w][0] * PM_WIN_SHAPE[w][1];
            if (!used) drv->write_C331(fd, 0x084202, 0, 16 * uint32_t(k));
        }
    }
}
