// Input channels: which of the eight capture channels each window uses, the port each channel
// selects, the dual-capture split of a channel pair, the DBD memory blocks of combined inputs
// and the background of a port's windows. Only the C331 thread runs these.
#include <cstdio>

#include "c331/c331_manage.h"
#include "core/console.h"
#include "core/globals.h"

namespace {

constexpr int kWindows = 6;
constexpr int kChannels = 8;
constexpr int kDbdBlocks = 6;

constexpr uint32_t desc(int bank, int address, int count) {
    return uint32_t(bank) << 16 | uint32_t(address) << 8 | uint32_t(count);
}

bool validPort(int p) {
    return p >= 0 && p < 6;
}

// Channels of a DBD mode: 2 below 30, 3 from 30 to 39, 4 from 40 to 51.
int dbdChannels(int mode) {
    return mode < 2 ? 0 : mode < 30 ? 2 : mode < 40 ? 3 : mode <= 51 ? 4 : 0;
}

// Ports whose DBD rectangles make up a combined input, by mode; the first `count` are used.
struct DbdPorts {
    int mode, count, ports[4];
};
constexpr DbdPorts kDbdPorts[] = {{20, 2, {0, 1}}, {21, 1, {0}},       {22, 2, {2, 3}},
                                  {23, 1, {2}},    {30, 3, {0, 1, 2}}, {40, 4, {0, 1, 2, 3}},
                                  {41, 2, {0, 1}}, {50, 2, {4, 5}},    {51, 1, {4}}};

// Ports captured by the channels of a combined input, in channel order.
constexpr DbdPorts kDbdCapture[] = {
    {20, 2, {0, 1}},       {21, 2, {0, 1}},    {22, 2, {2, 3}},
    {23, 2, {2, 3}},       {30, 3, {0, 1, 2}}, {40, 4, {0, 1, 2, 3}},
    {41, 4, {0, 1, 2, 3}}, {50, 2, {4, 5}},    {51, 2, {4, 5}}};

}  // namespace

bool c331_manage::port_interlaced(int port) const {
    return validPort(port) && PI_PORT_INFO[port][kPortScan] == 1;
}

int c331_manage::ich_need(int w) const {
    if (PM_WIN_SHAPE[w][0] == 0 || PM_WIN_SHAPE[w][1] == 0) return 0;
    const int mode = PM_WIN_DBD_MODE[w];
    if (mode == 0 || mode == 1) {
        const int p = PM_INPUT[w];
        return p == 4 || p == 5 ? 2 : validPort(p) ? 1 : 0;
    }
    return mode > 51 ? 0 : dbdChannels(mode);
}

void c331_manage::rebuild_ich_lists() {
    for (int w = 0; w < kWindows; ++w) {
        int n = 0;
        for (int c = 0; c < kChannels; ++c)
            if (g_ich_owner[c] == w) g_win_ich[w][n++] = c;
        while (n < kChannels) g_win_ich[w][n++] = -1;
    }
}

int c331_manage::check_ich_all(int exclude) {
    int sum = 0;
    for (int w = 0; w < kWindows; ++w) sum += ich_need(w);
    if (sum > kChannels) {
        console::outf("check_ich_all ret=%d\n", -1);
        return -1;
    }
    for (int c = 0; c < kChannels; ++c) {
        const int o = g_ich_owner[c];
        if (o == -1) continue;
        if (o < 0 || o >= kWindows || o == exclude || PM_WIN_SHAPE[o][0] == 0 ||
            PM_WIN_SHAPE[o][1] == 0)
            g_ich_owner[c] = -1;
    }
    rebuild_ich_lists();
    console::outf("check_ich_all ret=%d\n", sum);
    return sum;
}

int c331_manage::check_ich(int interlaced, int pair) {
    auto isFree = [&](int c) { return g_ich_owner[c] == -1; };
    if (pair) {
        static const int kPairs[4] = {4, 6, 2, 0};
        for (int c : kPairs)
            if (isFree(c) && isFree(c + 1)) return c;
        return -1;
    }
    if (isFree(0)) return (!isFree(2) && isFree(3)) ? 3 : 0;
    if (interlaced) {
        for (int c = 1; c < 4; ++c)
            if (isFree(c)) return c;
        return -1;
    }
    if (isFree(2)) return isFree(1) ? 1 : 2;
    if (isFree(1)) return 1;
    if (isFree(3)) return 3;
    const bool f4 = isFree(4), f6 = isFree(6);
    if (f4 && f6) return 4;
    if (f4) return isFree(7) ? 7 : 4;
    if (f6) return isFree(5) ? 5 : 6;
    if (isFree(5)) return 5;
    if (isFree(7)) return 7;
    return -1;
}

// Moves the owner of channel `from` to the first free channel of `to`; the new channel, or -1.
int c331_manage::move_ich_owner(int from, const int* to, int count) {
    for (int i = 0; i < count; ++i) {
        const int c = to[i];
        if (g_ich_owner[c] != -1) continue;
        const int owner = g_ich_owner[from];
        g_ich_owner[c] = owner;
        g_ich_owner[from] = -1;
        if (owner >= 0 && owner < kWindows) g_chg_src[owner] = 2;
        return c;
    }
    return -1;
}

int c331_manage::adjust_ich(int interlaced, int pair, int w) {
    auto firstFree = [&](int lo, int hi) {
        for (int c = lo; c <= hi; ++c)
            if (g_ich_owner[c] == -1) return c;
        return -1;
    };
    auto ng = [] {
        console::outf("adjust_ich NG!!!\n");
        return -1;
    };
    static const int kHigh[4] = {4, 5, 6, 7};
    if (!pair) {
        int c = firstFree(0, interlaced ? 3 : 7);
        if (c < 0 && interlaced) {
            // A progressive input gives up its CMOS channel to the interlaced one.
            for (int i = 0; i < 4 && c < 0; ++i) {
                const int o = g_ich_owner[i];
                const bool progressive = o >= 0 && o < kWindows && !port_interlaced(PM_INPUT[o]);
                if (progressive && move_ich_owner(i, kHigh, 4) >= 0) c = i;
            }
            if (c < 0) {
                console::outf("ICH1-4 is not available!!!\n");
                c = firstFree(4, 7);
            }
        }
        if (c < 0) return ng();
        g_ich_owner[c] = w;
        return 0;
    }
    // The partner of a free channel is owned: its owner moves on and w takes the pair.
    static const int kRest45[6] = {6, 7, 0, 1, 2, 3};
    static const int kRestLow[4] = {0, 1, 2, 3};
    static const int kRest01[2] = {2, 3};
    static const struct {
        int free, first;
        const int* to;
        int count;
    } kRules[6] = {{4, 4, kRest45, 6},  {5, 4, kRest45, 6}, {6, 6, kRestLow, 4},
                   {7, 6, kRestLow, 4}, {0, 0, kRest01, 2}, {1, 0, kRest01, 2}};
    for (const auto& r : kRules) {
        if (g_ich_owner[r.free] != -1) continue;
        const int other = r.free == r.first ? r.first + 1 : r.first;
        if (move_ich_owner(other, r.to, r.count) < 0) return ng();
        g_ich_owner[r.first] = g_ich_owner[r.first + 1] = w;
        return 0;
    }
    return ng();
}

int c331_manage::set_input(int w, int port) {
    if (w < 0 || w >= kWindows) return 2;
    const int mode = PM_WIN_DBD_MODE[w];
    if (mode != 0 && g_chg_dbd[w] == 0) return 0;
    if (PM_WIN_SHAPE[w][0] == 0 || PM_WIN_SHAPE[w][1] == 0) {
        ZEM_DEBUG("[set_input] win_%d, port_%d, window is unavailable\n", w, port);
        return 2;
    }
    if (check_ich_all(w) == -1) {
        ZEM_DEBUG("[set_input] win_%d, check_ich_all(win) fail\n", w);
        return 2;
    }
    int result = 2;
    if (mode == 0 || mode == 1) {
        if (!validPort(port)) {
            ZEM_DEBUG("[set_input] win_%d, port_%d, no such port\n", w, port);
            return 2;
        }
        const int il = port_interlaced(port) ? 1 : 0;
        const int pair = port >= 4 ? 1 : 0;
        const int c = check_ich(il, pair);
        if (c >= 0) {
            g_ich_owner[c] = w;
            if (pair) g_ich_owner[c + 1] = w;
            result = 0;
        } else {
            result = adjust_ich(il, pair, w) == 0 ? 1 : 2;
        }
    } else if (const int n = dbdChannels(mode); n > 0) {
        result = 0;
        for (int i = 0; i < n && result != 2; ++i) {
            const int c = check_ich(0, 0);
            if (c >= 0) {
                g_ich_owner[c] = w;
            } else {
                result = adjust_ich(0, 0, w) == 0 ? 1 : 2;
            }
        }
    }
    if (result == 2 && mode != 0 && mode != 1)
        console::outf("set_input Dot-By-Dot Rare Case!!!   win=%d  port=%d\n", w, port);
    rebuild_ich_lists();
    return result;
}

void c331_manage::reset_ich(int w) {
    if (w < 0 || w >= kWindows) return;
    if (PM_WIN_SHAPE[w][0] != 0 && PM_WIN_SHAPE[w][1] != 0) return;
    for (int i = 0; i < kChannels; ++i) {
        const int c = g_win_ich[w][i];
        if (c >= 0 && c < kChannels && g_ich_owner[c] == w) g_ich_owner[c] = -1;
        g_win_ich[w][i] = -1;
    }
}

void c331_manage::set_ichsel(int fd, int w) {
    if (w < 0 || w >= kWindows) return;
    const int mode = PM_WIN_DBD_MODE[w];
    const int* list = g_win_ich[w];
    ZEM_DEBUG("[set_ichsel] PM_WIN_DBD_MODE[win_%d]:%d\n", w, mode);
    auto sel = [&](int c, int v) { drv->write_C331(fd, desc(0x00, 0x10 + c, 1), uint32_t(v), 0); };
    auto eightLanes = [&](int port) {
        const bool eight = PI_HDMI_INFO[port].lane > 4;
        ZEM_DEBUG("\t port_%d %s lane\n", port, eight ? "8" : "4");
        return eight;
    };
    if (mode == 0 || mode == 1) {
        const int c = list[0];
        const int p = PM_INPUT[w];
        if (c < 0 || !validPort(p)) return;
        if (p < 4) {
            sel(c, 2 * p);
        } else if (c + 1 < kChannels) {
            const int v = 4 * (p - 2);
            sel(c, v);
            sel(c + 1, PI_HDMI_INFO[p].lane > 4 ? v + 2 : v + 1);
        }
        return;
    }
    int values[4];
    int n = 0;
    switch (mode) {
        case 20:
        case 21:
            values[0] = 0, values[1] = 2, n = 2;
            break;
        case 22:
        case 23:
            values[0] = 4, values[1] = 6, n = 2;
            break;
        case 30:
            values[0] = 0, values[1] = 2, values[2] = 4, n = 3;
            break;
        case 40:
        case 41:
            values[0] = 0, values[1] = 2, values[2] = 4, values[3] = 6, n = 4;
            break;
        case 50:
        case 51:
            values[0] = 8, values[1] = eightLanes(4) ? 10 : 9;
            values[2] = 12, values[3] = eightLanes(5) ? 14 : 13;
            n = 4;
            break;
        default:
            return;
    }
    for (int i = 0; i < n && list[i] >= 0; ++i) sel(list[i], values[i]);
}

void c331_manage::set_idual(int fd, int channel, int on, int port) {
    if (channel < 0 || channel >= kChannels) return;
    const int k = channel / 2;
    if (!on || !validPort(port)) {
        drv->write_C331(fd, desc(0x03, 0x08 + 9 * k, 1), 0, 0);
        return;
    }
    drv->write_C331(fd, desc(0x03, 0x08 + 9 * k, 1), 3, 0);
    drv->write_C331(fd, desc(0x03, 0x09 + 9 * k, 2), uint32_t(PI_ACT[port][0]), 0);
    drv->write_C331(fd, desc(0x03, 0x0B + 9 * k, 2), uint32_t(2 * PI_ACT[port][1]), 0);
}

int c331_manage::check_dbd_input(int, int port) {
    if (!validPort(port)) return 0;
    const int max_w = port < 4 ? 2560 : 5120;
    return PI_DBD_ACT[port][1] > max_w || PI_DBD_ACT[port][3] > 2176 ? 1 : 0;
}

void c331_manage::reset_dbd_mem(int w) {
    if (w < 0 || w >= kWindows) return;
    for (int& b : g_win_dbd_mem[w]) {
        if (b >= 0 && b < kDbdBlocks) g_dbd_mem_owner[b] = -1;
        b = -1;
    }
}

int c331_manage::dbd_width(int w) const {
    const int mode = PM_WIN_DBD_MODE[w];
    if (mode == 1) return validPort(PM_INPUT[w]) ? PI_DBD_ACT[PM_INPUT[w]][1] : 0;
    for (const auto& d : kDbdPorts) {
        if (d.mode != mode) continue;
        int width = 0;
        for (int i = 0; i < d.count; ++i) width += PI_DBD_ACT[d.ports[i]][1];
        return width;
    }
    return 0;
}

int c331_manage::set_dbd_mem(int fd, int w) {
    if (w < 0 || w >= kWindows) return -1;
    reset_dbd_mem(w);
    const int mode = PM_WIN_DBD_MODE[w];
    const int first = g_win_ich[w][0];
    if (first < 0 || mode == 0) return -1;
    int need;
    bool up;
    if (mode == 1) {
        if (check_dbd_input(fd, PM_INPUT[w]) == 0) {
            for (int i = 0; i < 5; ++i) g_win_dbd_addr[w][i] = PS_MEM_SC[first][i];
            g_win_dbd_stripes[w] = PS_DBD_STRIPES;
            return 0;
        }
        need = PM_INPUT[w] >= 4 ? 2 : 1;
        up = true;
    } else {
        need = mode < 30 ? 2 : mode < 40 ? 3 : 4;
        up = mode == 20 || mode == 22 || mode == 30 || mode == 40 || mode == 50;
    }
    int found = 0, base = -1;
    for (int i = 0; i < kDbdBlocks && found < need; ++i) {
        const int b = up ? i : kDbdBlocks - 1 - i;
        if (g_dbd_mem_owner[b] != -1) continue;
        g_dbd_mem_owner[b] = w;
        g_win_dbd_mem[w][found++] = b;
        if (!up || base < 0) base = b;  // the first taken counting up, the last counting down
    }
    if (found < need) {
        reset_dbd_mem(w);
        console::outf(
            "Dot-By-Dot memory assignment error!!!   win=%d  mode=%d  mem_cnt=%d  blk_cnt=%d\n", w,
            mode, need, found);
        return -1;
    }
    for (int i = 0; i < 5; ++i) g_win_dbd_addr[w][i] = PS_MEM_DBD[i] + base * PS_DBD_BLOCK;
    g_win_dbd_stripes[w] = (dbd_width(w) + 319) / 320;
    return 0;
}

void c331_manage::set_input_bkg(int port, int on) {
    ZEM_DEBUG("[set_input_bkg] port_%d, onoff:%d\n", port, on);
    set_rtct(fd, 2);
    for (int w = 0; w < kWindows; ++w) {
        if (PM_INPUT[w] != port) continue;
        int enable = on ? 1 : (validPort(port) && PI_STATE[port] == 0 ? 1 : 0);
        if (PM_WIN_DBD_MODE[w] != 0) enable = 0;
        for (int k = 0; k < kChannels; ++k) {
            if (PM_WIN_NUM[k] != w) continue;
            const uint32_t off = 16 * uint32_t(k);
            drv->write_C331(fd, desc(0x08, 0x49, 3), g_force_bkcolor == 1 ? 0xFF00 : 0, off);
            drv->write_C331(fd, desc(0x08, 0x48, 1), g_force_bkcolor == 1 ? 1 : uint32_t(enable),
                            off);
        }
    }
    set_rtct(fd, 1);
}

void c331_manage::set_display_window_ich_dbd(int fd, int w, int mode) {
    if (w < 0 || w >= kWindows) return;
    const int* list = g_win_ich[w];
    for (int i = 0; i < kChannels && list[i] >= 0; ++i) set_idual(fd, list[i], 0, 0);
    if (list[0] < 0) return;
    if (set_dbd_mem(fd, w) == -1) {
        g_chg_src[w] = g_chg_dbd[w] = 0;
        console::outf("[set_display_window_ich_dbd] g_chg_dbd[%d]:%d\n", w, 0);
        set_mct(fd, w, 0);
        return;
    }
    set_ichsel(fd, w);
    int n = 0;
    while (n < kChannels && list[n] >= 0) ++n;
    const int want = mode >= 20 && mode <= 23   ? 2
                     : mode == 30               ? 3
                     : mode == 40 || mode == 41 ? 4
                                                : 0;
    if (n < want) return;
    // The port whose DBD rectangle each channel captures.
    int ports[4] = {PM_INPUT[w], -1, -1, -1};
    int parts = 1;
    for (const auto& d : kDbdCapture) {
        if (d.mode != mode) continue;
        parts = d.count;
        for (int i = 0; i < d.count; ++i) ports[i] = d.ports[i];
    }
    for (int i = 0; i < parts && i < n; ++i) {
        const int p = ports[i];
        if (!validPort(p)) continue;
        int hst = PI_DBD_ACT[p][0] - 7, hw = PI_DBD_ACT[p][1];
        if (mode == 1 && p >= 4 && PI_STATE[p] < 4) {  // two pixels per clock
            hst = PI_DBD_ACT[p][0] / 2 - 7;
            hw = PI_DBD_ACT[p][1] / 2;
        }
        const uint32_t off = 16 * uint32_t(list[i]);
        drv->write_C331(fd, desc(0x10, 0x17, 2), uint32_t(hst), off);
        drv->write_C331(fd, desc(0x10, 0x19, 2), uint32_t(hw), off);
        drv->write_C331(fd, desc(0x10, 0x1B, 2), uint32_t(PI_DBD_ACT[p][2] + 1), off);
        drv->write_C331(fd, desc(0x10, 0x1D, 2), uint32_t(PI_DBD_ACT[p][3]), off);
        for (int f = 0; f < 5; ++f)
            drv->write_C331(fd, desc(0x16, 0x1C + 4 * f, 4), uint32_t(g_win_dbd_addr[w][f]), off);
        drv->write_C331(fd, desc(0x16, 0x31, 1), uint32_t(g_win_dbd_stripes[w]), off);
    }
    set_mct(fd, w, 0);
    for (int i = 0; i < n; ++i) set_ip(fd, list[i]);
}
