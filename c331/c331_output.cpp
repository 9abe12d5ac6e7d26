// The one operation that brings the chip in line with the window environment: the input
// channels of changed windows, their input and output sides, the layer order and overlay,
// idle channels off, the change hidden behind a freeze or a fade. Every layout, crop, source
// and input-timing change ends here, on the C331 thread.
#include <cstring>

#include "c331/c331_manage.h"
#include "core/globals.h"

namespace {
constexpr int kWindows = 6;
constexpr int kCaptureLimit = 0x880;  // widest input capture with the 2-lane transmitter mode
}  // namespace

void c331_manage::set_output(int fd) {
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
