// Input ports of the C331 and their measurement: the receivers' timing records come in, each
// port that a window shows is measured, its state and active area follow, and the windows of
// a changed port are marked for re-application. Only the C331 thread runs these.
#include <cstdio>
#include <mutex>

#include "c331/c331_manage.h"
#include "core/console.h"
#include "core/globals.h"
#include "core/utils.h"
#include "video_io/raviksource.h"

namespace {

constexpr int kPorts = 6;
constexpr int kWindows = 6;
constexpr uint32_t kLatch = 0x002901;  // bit 7: hold the measurement and status registers
constexpr uint32_t kPict = 0x001802;
constexpr uint32_t kSyncPol = 0x063804;
constexpr uint32_t kVboSyncPol = 0x063C04;
constexpr uint32_t kVboLaneSet = 0x003902;
constexpr uint32_t kVboPhyStep = 0x027F01;
constexpr uint32_t kVboLock = 0xB26301;
constexpr uint32_t kSyncRequest = 0x050801;
constexpr uint32_t kSyncStatus = 0x052201;
constexpr int kVboRetryCycle = 30;  // the retry counter runs 0..29

constexpr uint32_t desc(int bank, int address, int count) {
    return uint32_t(bank) << 16 | uint32_t(address) << 8 | uint32_t(count);
}

bool inRange(uint32_t v, uint32_t lo, uint32_t hi) {
    return v >= lo && v <= hi;
}

uint32_t moved(int32_t a, int32_t b) {
    return uint32_t(a > b ? a - b : b - a);
}

// The registers of one port's measurement: ports 0..3 at a 2-address stride, the two
// V-by-One receivers at their own addresses.
struct MeasureRegs {
    uint32_t htotal, vtotal, fhw, fvm, width;
};

MeasureRegs measureRegs(int p) {
    if (p < 4) {
        return {desc(0xAE, 0x08 + 2 * p, 2), desc(0xAE, 0x20 + 2 * p, 2),
                desc(0xAE, 0x38 + 2 * p, 2), desc(0xAE, 0x50 + 3 * p, 3),
                desc(0xAF, 0x08 + 2 * p, 2)};
    }
    const int rx = p - 4;
    return {desc(0xAE, 0x10 + 8 * rx, 2), desc(0xAE, 0x28 + 8 * rx, 2),
            desc(0xAE, 0x40 + 8 * rx, 2), desc(0xAE, 0x5C + 0x0C * rx, 3),
            desc(0xAF, 0x10 + 8 * rx, 2)};
}

int laneMask(int lanes) {
    return lanes == 8 ? 0xFF : lanes == 4 ? 0xF0 : lanes == 2 ? 0xC0 : 0x80;
}

// Field-status register of a port: ports 4 and 5 report through channels 4 and 6.
uint32_t fieldStatus(int channel) {
    return desc(0xAB, 0x47 + channel, 1);
}

}  // namespace

int c331_manage::zemApi_GetPortDevId(int port) {
    static const int kSourceOfPort[6] = {3, 2, 1, 0, 5, 4};
    return port >= 1 && port <= 5 ? kSourceOfPort[port] : 3;
}

int c331_manage::zemApi_GetWinDbdMultiPort(int win, int* list) {
    for (int i = 0; i < 6; ++i) list[i] = 6;
    if (win < 0 || win >= kWindows) return 0;
    static const struct {
        int mode;
        int ports[4];
    } kLists[] = {{20, {0, 1, 6, 6}}, {21, {0, 1, 6, 6}}, {22, {2, 3, 6, 6}},
                  {23, {2, 3, 6, 6}}, {30, {0, 1, 2, 6}}, {40, {0, 1, 2, 3}},
                  {41, {0, 1, 2, 3}}, {50, {5, 4, 6, 6}}, {51, {5, 4, 6, 6}}};
    for (const auto& l : kLists) {
        if (l.mode != PM_WIN_DBD_MODE[win]) continue;
        for (int i = 0; i < 4; ++i) list[i] = l.ports[i];
        return 1;
    }
    return 0;
}

bool c331_manage::window_shows_port(int win, int port, bool* dbd) {
    int list[6];
    const bool has_list = zemApi_GetWinDbdMultiPort(win, list) != 0;
    if (dbd) *dbd = has_list;
    if (!has_list) return PM_INPUT[win] == port;
    for (int p : list) {
        if (p == port) return true;
    }
    return false;
}

bool c331_manage::port_record_stable(int port) {
    raviksource* src = raviksource::p_ravik_source;
    if (!src) return false;
    zem::MutexLocker lock(Utils::_source_hdminfo_mutex);
    return src->hdminfo[zemApi_GetPortDevId(port)].stable != 0;
}

void c331_manage::load_hdmi() {
    raviksource* src = raviksource::p_ravik_source;
    if (!src) return;
    for (int p = 0; p < kPorts; ++p) {
        const int s = zemApi_GetPortDevId(p);
        // The whole record is copied under the lock: the source thread rewrites it while this
        // thread runs, and a record read half before and half after a change is no timing.
        SOURCE_HDMI_INFO in;
        {
            zem::MutexLocker lock(Utils::_source_hdminfo_mutex);
            in = src->hdminfo[s];
        }
        if (in.stable == 0) continue;
        ST_HDMI_INFO& out = PI_HDMI_INFO[p];
        bool changed = false;
        auto take = [&](int& dst, int v, const char* name) {
            if (dst == v) return;
            ZEM_DEBUG("\n [load_hdmi]%s=%d,%d,chaned! \n", name, dst, v);
            dst = v;
            changed = true;
        };
        take(out.Hact, in.Hact, "Hact");
        take(out.Hsync, in.Hsync, "Hsync");
        take(out.Hback, in.Hback, "Hback");
        take(out.Hpol, in.Hpol, "Hpol");
        take(out.Htotal, in.Htotal, "Htotal");
        take(out.Vact, in.Vact, "Vact");
        take(out.Vsync, in.Vsync, "Vsync");
        take(out.Vback, in.Vback, "Vback");
        take(out.Vpol, in.Vpol, "Vpol");
        take(out.Vtotal, in.Vtotal, "Vtotal");
        if (out.pfreq != in.pfreq) {
            ZEM_DEBUG("\n [load_hdmi]pfreq=%f,%f,chaned! \n", double(out.pfreq), double(in.pfreq));
            out.pfreq = in.pfreq;
            changed = true;
        }
        take(out.type, in.type, "type");
        take(out.lane, in.lane, "lane");
        take(out.ip, in.ip, "ip");
        take(out.datamode, in.datamode, "datamode");
        take(out.nosignal, in.nosignal, "nosignal");
        if (!changed) continue;
        console::outf("[load_hdmi] chg_input[PI_HDMI_INFO], port:%d, dev_id:%d\n", p, s);
        for (int w = 0; w < kWindows; ++w) {
            bool dbd = false;
            if (!window_shows_port(w, p, &dbd)) continue;
            g_chg_src[w] = 1;
            if (dbd) {
                ZEM_DEBUG("\n[load_hdmi] g_chg_input[%d] = 1 for dbd:%d\n", w, PM_WIN_DBD_MODE[w]);
                set_ichsel(fd, w);
            } else {
                ZEM_DEBUG("\n[load_hdmi] g_chg_input[%d] = 1\n", w);
            }
        }
    }
}

void c331_manage::set_pict(int fd, int on, int port) {
    if (port < 0 || port > 3) return;
    const uint32_t bit = 1u << (4 * port);
    drv->write_c331_mask(fd, kPict, on ? bit : 0, bit, 0);
}

void c331_manage::set_sypol(int fd, int vbo, int port) {
    if (vbo == 0 && (port < 0 || port > 3)) return;
    if (vbo != 0 && (port < 0 || port > 1)) return;
    drv->write_c331_mask(fd, kLatch, 0x80, 0x80, 0);
    if (vbo == 0) {
        const ST_HDMI_INFO& h = PI_HDMI_INFO[port];
        const uint32_t v = uint32_t((h.Vpol & 1) | (h.Hpol & 1) << 1 | 4);
        drv->write_c331_mask(fd, kSyncPol, v << (8 * port), 0xFFu << (8 * port), 0);
    } else {
        const ST_HDMI_INFO& h = PI_HDMI_INFO[4 + port];
        const uint32_t v = uint32_t((h.Vpol & 1) | (h.Hpol & 1) << 1) * 0x1111u;
        drv->write_c331_mask(fd, kVboSyncPol, v << (16 * port), 0xFFFFu << (16 * port), 0);
    }
    drv->write_c331_mask(fd, kLatch, 0, 0x80, 0);
}

void c331_manage::set_VBORXfrange(int fd, int rx, float clock, int toggle) {
    if (rx < 0 || rx > 1) return;
    const uint32_t reg = desc(0x02, 0x4C + 0x1C * rx, 1);
    if (toggle == 1) {
        drv->write_C331(fd, reg, drv->read_C331(fd, reg, 0) ^ 0x08, 0);
        return;
    }
    drv->write_c331_mask(fd, reg, clock < 50000000.0f ? 0x08 : 0, 0x08, 0);
    const uint32_t lock_bit = 1u << (5 + 2 * rx);
    if (drv->read_C331(fd, kVboLock, 0) & lock_bit) return;
    const uint32_t vcount = desc(0xAE, 0x5C + 0x0C * rx, 3);
    for (int i = 0; i < 250; ++i) {
        if (drv->read_C331(fd, vcount, 0) < 0xFFFFFE) return;
        if (drv->read_C331(fd, kVboLock, 0) & lock_bit) return;
    }
    ZEM_DEBUG("[set_VBORXfrange] rx%d: no lock after 250 polls\n", rx);
}

void c331_manage::set_VBOInput(int fd, int rx) {
    if (rx < 0 || rx > 1) return;
    set_sypol(fd, 1, rx);
    uint32_t word, bits;
    switch (PI_HDMI_INFO[4 + rx].lane) {
        case 1:
            word = 0, bits = 0;
            break;
        case 2:
            word = 1, bits = 0x10;
            break;
        case 4:
            word = 17, bits = 4;
            break;
        default:
            word = 1028, bits = 0x02;
            break;
    }
    drv->write_C331(fd, desc(0x00, 0x1E + 2 * rx, 2), word, 0);
    drv->write_c331_mask(fd, kVboLaneSet, bits << (8 * rx), 0xFFu << (8 * rx), 0);
}

// Steps 1 and 2 of the receiver reset: the PHY sequence and the lane mask.
void c331_manage::vbo_rx_restart(int fd, int rx, int mask) {
    drv->write_C331(fd, kVboPhyStep, rx == 0 ? 14 : 13, 0);
    drv->write_C331(fd, kVboPhyStep, 15, 0);
    drv->write_C331(fd, desc(0x02, 0x40 + 0x1C * rx, 1), 5, 0);
    drv->write_C331(fd, desc(0x02, 0x4F + 0x1C * rx, 1), uint32_t(mask), 0);
}

void c331_manage::vbo_rx_reset(int fd, int rx) {
    vbo_rx_restart(fd, rx, 0x80);
    set_VBORXfrange(fd, rx, 0, 1);
    PI_VBO_RETRY[rx] = uint8_t((PI_VBO_RETRY[rx] + 1) % kVboRetryCycle);
}

// Lock check of a V-by-One port with a signal: the lane pairs in use must all count.
void c331_manage::vbo_lock_check(int fd, int p) {
    const int rx = p - 4;
    const int lanes = PI_HDMI_INFO[p].lane;
    const int pairs = lanes == 8 ? 4 : lanes == 4 ? 2 : 1;
    bool valid = true;
    drv->write_C331(fd, kLatch, 0x80, 0);
    for (int i = 0; i < pairs; ++i) {
        const uint32_t h = drv->read_C331(fd, desc(0xAE, 0x40 + 8 * rx + 2 * i, 2), 0) + 1;
        const uint32_t v = drv->read_C331(fd, desc(0xAE, 0x5C + 0x0C * rx + 3 * i, 3), 0) + 1;
        valid = valid && inRange(h, 2, 65534) && inRange(v, 2, 0xFFFFFE);
    }
    drv->write_C331(fd, kLatch, 0, 0);
    if (valid) {
        PI_VBO_RETRY[rx] = 0;
        return;
    }
    PI_VBO_RETRY[rx] = uint8_t((PI_VBO_RETRY[rx] + 1) % kVboRetryCycle);
    vbo_rx_restart(fd, rx, laneMask(lanes));
}

void c331_manage::port_lost(int fd, int p) {
    set_input_bkg(p, 1);
    if (PI_STATE[p] != 0) PI_UPDATE[p] = 1;
    PI_STATE[p] = 0;
    PI_SCAN_MODE[p] = 0;
    PI_PORT_INFO[p][5] = 0;
    PI_PORT_INFO[p][kPortScan] = 0;
    PI_FV[p] = 0;
    const int32_t none[4] = {16, 0, 16, 0};
    for (int i = 0; i < 4; ++i) PI_ACT[p][i] = PI_DBD_ACT[p][i] = none[i];
    if (p < 4) {
        set_pict(fd, 0, p);
    } else {
        vbo_rx_reset(fd, p - 4);
    }
}

// Re-measure of a port with a signal: rate, clock, state, scan flag and active area.
void c331_manage::port_remeasure(int fd, int p) {
    const ST_HDMI_INFO& h = PI_HDMI_INFO[p];
    const double mclk4 = PS_MCLK4 > 0 ? PS_MCLK4 : 200000000.0;
    PI_FV[p] = mclk4 / double(PI_PORT_INFO[p][3]);
    PI_FPICLK[p] = double(h.Htotal) * PI_FV[p] * double(h.Vtotal);
    int state, scan = 0;
    if (p < 4) {
        set_pict(fd, h.datamode, p);
        set_sypol(fd, 0, p);
        state = h.datamode ? 3 : 4;
        if (h.ip) {
            scan = 1;
            if (inRange(uint32_t(h.Vtotal), 560, 565)) {
                state = PI_FV[p] >= 55 ? 5 : 6;
            } else if (inRange(uint32_t(h.Vtotal), 266, 350)) {
                state = 8;
            } else if (inRange(uint32_t(h.Vtotal), 260, 265)) {
                state = 7;
            } else {
                scan = 0;
            }
        }
    } else {
        const int rx = p - 4;
        const int lanes = h.lane > 0 ? h.lane : 1;
        vbo_rx_restart(fd, rx, laneMask(h.lane));
        set_VBORXfrange(fd, rx, float(PI_FPICLK[p] / lanes), 0);
        set_VBOInput(fd, rx);
        state = (h.Hact <= 2176 && PI_FPICLK[p] <= 324000000.0 && h.lane < 4) ? 4 : 1;
    }
    PI_STATE[p] = PI_PORT_INFO[p][5] = state;
    PI_SCAN_MODE[p] = PI_PORT_INFO[p][kPortScan] = scan;
    const int32_t act[4] = {h.Hsync + h.Hback, h.Hact, h.Vsync + h.Vback, h.Vact};
    for (int i = 0; i < 4; ++i) PI_ACT[p][i] = PI_DBD_ACT[p][i] = act[i];
    if (state < 4) {  // two pixels per clock
        PI_ACT[p][0] /= 2;
        PI_ACT[p][1] /= 2;
    }
    PI_UPDATE[p] = 1;
}

void c331_manage::check_input_port(int fd) {
    for (int p = 0; p < kPorts; ++p) {
        int first_win = -1;
        for (int w = 0; w < kWindows && first_win < 0; ++w) {
            if (window_shows_port(w, p, nullptr)) first_win = w;
        }
        if (first_win < 0 || !port_record_stable(p)) continue;
        check_port(fd, p, first_win);
    }
}

void c331_manage::check_port(int fd, int p, int first_win) {
    int32_t* info = PI_PORT_INFO[p];
    const int32_t old[5] = {info[0], info[1], info[2], info[3], info[4]};
    const int32_t old_nosignal = info[kPortNoSignal];
    PI_UPDATE[p] = 0;

    const MeasureRegs r = measureRegs(p);
    drv->write_C331(fd, kLatch, 0x80, 0);
    const uint32_t ht = drv->read_C331(fd, r.htotal, 0) + 1;
    const uint32_t vt = drv->read_C331(fd, r.vtotal, 0);
    const uint32_t fhw = drv->read_C331(fd, r.fhw, 0) + 1;
    const uint32_t fvm = drv->read_C331(fd, r.fvm, 0) + 1;
    const uint32_t width = drv->read_C331(fd, r.width, 0);
    drv->write_C331(fd, kLatch, 0, 0);
    info[0] = int32_t(ht);
    info[1] = int32_t(vt);
    info[2] = int32_t(fhw);
    info[3] = int32_t(fvm);
    info[4] = int32_t(width);

    const bool nosignal = !inRange(ht, 2, 65534) || !inRange(fvm, 2, 0xFFFFFE) ||
                          !inRange(fhw, 2, 65534) || PI_HDMI_INFO[p].nosignal == 1;
    info[kPortNoSignal] = nosignal ? 1 : 0;
    if (nosignal) {
        if (old_nosignal == 0) {
            port_lost(fd, p);
        } else if (p >= 4) {
            vbo_rx_reset(fd, p - 4);
        }
        return;
    }
    const bool value_moved = moved(info[0], old[0]) > 2 || moved(info[1], old[1]) > 2 ||
                             moved(info[2], old[2]) > 100 || moved(info[3], old[3]) > 100;
    const bool remeasure =
        value_moved || info[4] != old[4] || old_nosignal != 0 || g_chg_src[first_win] != 0;
    if (remeasure) {
        ZEM_DEBUG("\t port_info_chg:%d, g_chg_input[win_%d]:%d\n", value_moved ? 1 : 0, first_win,
                  g_chg_src[first_win]);
        port_remeasure(fd, p);
    }
    if (p >= 4) vbo_lock_check(fd, p);
    if (!remeasure) return;
    ZEM_DEBUG("PortInfo Updated.  port=%d  STATE=%d  IP=%d  HTOTAL=%4d  VTOTAL=%4d\n", p,
              PI_STATE[p], PI_SCAN_MODE[p], info[0], info[1]);
    ZEM_DEBUG("\t FHW=%d  FVM=%d  HW=%d\n", info[2], info[3], info[4]);
    ZEM_DEBUG("\t FV=%f  FPICLK=%f\n", PI_FV[p], PI_FPICLK[p]);
    ZEM_DEBUG("\t ACT HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", PI_ACT[p][0], PI_ACT[p][1], PI_ACT[p][2],
              PI_ACT[p][3]);
    ZEM_DEBUG("\t DBD HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", PI_DBD_ACT[p][0], PI_DBD_ACT[p][1],
              PI_DBD_ACT[p][2], PI_DBD_ACT[p][3]);
    zemApi_updateCrop(p);
}

// Window `win` is a record index. A source id beyond the six inputs is refused (logged once),
// not folded onto another input: the window keeps what it shows.
void c331_manage::c331_SetInputsource(int win, int source) {
    if (win < 0 || win >= gMwin.wincnt || win >= kWindows) {
        ZEM_DEBUG("    win:%d OOR, wincnt:%d\r\n", win, gMwin.wincnt);
        return;
    }
    const int port = zemApi_inputCvtC331(source);
    if (port == 255) {
        ZEM_DEBUG("    input:%d OOR\r\n", source);
        char text[80];
        std::snprintf(text, sizeof text, "c331: window record %d asks for source %d; ignored", win,
                      source);
        log_bad_ram(kBadSource, win, text);
        return;
    }
    clear_bad_ram(kBadSource, win);
    gWininfo[win].input = uint8_t(source);
    PM_INPUT[win] = port;
    g_chg_src[win] = 1;
    ZEM_DEBUG("[c331_SetInputsource] win_%d, port_%d\n", win, port);
    check_input_port(fd);
    set_output(fd);
}

// Polls a millisecond apart, so the 45 polls span a frame of the slowest input (24 Hz).
void c331_manage::wait1_pivs(int fd, int channel) {
    if (channel < 0 || channel > 7) return;
    const uint32_t bit = 1u << channel;
    const uint32_t status = desc(0xA8, 0x3F + 5 * channel, 1);
    drv->write_c331_mask(fd, kLatch, 0x80, 0x80, 0);
    drv->write_C331(fd, kSyncRequest, bit, 0);
    bool seen = false;
    for (int i = 0; i < 45 && !seen; ++i) {
        seen = (drv->read_C331(fd, kSyncStatus, 0) & bit) || drv->read_C331(fd, status, 0) == 0xFF;
        if (!seen) Sleep(1);
    }
    if (!seen) {
        char text[80];
        std::snprintf(text, sizeof text, "c331: no input frame on channel %d within 45 ms",
                      channel);
        writeLogMsg(2, text);
        ZEM_DEBUG("\033[1m%s\033[0m\n", text);
    }
    drv->write_C331(fd, kSyncRequest, 0, 0);
    drv->write_c331_mask(fd, kLatch, 0, 0x80, 0);
}

void c331_manage::wait1_pivs2(int fd) {
    int best = -1;
    double best_fv = 120;
    for (int w = 0; w < kWindows; ++w) {
        if (!g_chg_input[w] && !g_chg_dbd[w] && !g_chg_src[w]) continue;
        const int p = PM_INPUT[w];
        if (p < 0 || p >= kPorts || PI_FV[p] >= best_fv) continue;
        best_fv = PI_FV[p];
        best = w;
    }
    const int channel = best >= 0 ? g_win_ich[best][0] : -1;
    if (channel < 0 || channel >= 8) {
        Sleep(45);
        return;
    }
    wait1_pivs(fd, channel);
}

// Polls a 2-bit field counter until it moves; on time-out the next value is assumed.
int c331_manage::wait_field_counter(int fd, int channel, int shift, int polls) {
    drv->write_c331_mask(fd, kLatch, 0x80, 0x80, 0);
    const uint32_t reg = fieldStatus(channel);
    const int old = int(drv->read_C331(fd, reg, 0) >> shift) & 3;
    int now = (old + 1) & 3;
    int i = 0;
    for (; i < polls; ++i) {
        const int v = int(drv->read_C331(fd, reg, 0) >> shift) & 3;
        if (v != old) {
            now = v;
            break;
        }
    }
    drv->write_c331_mask(fd, kLatch, 0, 0x80, 0);
    if (i == polls)
        ZEM_DEBUG("[field wait] ch%d: no field change after %d polls\n", channel, polls);
    return now;
}

int c331_manage::wait_ifld_change(int fd, int port) {
    if (port < 0 || port >= kPorts) return 0;
    const int channel = port < 4 ? port : port == 4 ? 4 : 6;
    return wait_field_counter(fd, channel, 2, 90);
}

int c331_manage::wait_ofld_change(int fd, int channel) {
    if (channel < 0 || channel > 7) return 0;
    return wait_field_counter(fd, channel, 0, 70);
}
