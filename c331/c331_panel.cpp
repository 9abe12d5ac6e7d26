// The output panel: LED size and splice mode to a channel arrangement, output timing from the
// table of frame totals, the image offset, the channel geometry in the parameter RAM (read by
// the FPGA side and the PC) and the output-channel registers.
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"

namespace {

const char* const kSpliceNames[6] = {"NONE", "HV", "V", "H", "CP12", "CP21"};
const char* const kArrangNames[4] = {"ARRANG2K4_2x1", "ARRANG2K4_4x1_8K", "ARRANG2K4_2x2_8K",
                                     "ARRANG2K4_1x2"};
constexpr int kArrangCols[4] = {2, 4, 2, 1};
constexpr int kArrangRows[4] = {1, 1, 2, 2};

// Frame totals for one fixed pixel budget per frame (about 9.9 million): each horizontal total
// from 660 to 8280 in steps of 4 with its vertical total, most followed by one or two rows a
// line or two shorter.
std::vector<ST_PANEL_TIMING> buildTimingTable() {
    constexpr int64_t kBudget = 9900000;
    constexpr int kFirst = 660, kLast = 8280, kStep = 4;
    constexpr int kSteps = (kLast - kFirst) / kStep;  // rows that get extras: all but the last
    constexpr int kSecondExtras = 5199 - (kSteps + 1) - kSteps;
    std::vector<ST_PANEL_TIMING> table;
    table.reserve(5199);
    for (int i = 0; i <= kSteps; ++i) {
        const int htt = kFirst + kStep * i;
        const int vtt = static_cast<int>((kBudget + htt - 1) / htt);
        table.push_back({htt, vtt});
        if (i == kSteps) break;
        const int extras = 1 + ((i + 1) * kSecondExtras / kSteps - i * kSecondExtras / kSteps);
        for (int j = 1; j <= extras; ++j) table.push_back({htt, vtt - j});
    }
    return table;
}

int roundUp(int v, int m) {
    return (v + m - 1) / m * m;
}

int ceilDiv(int a, int b) {
    return b > 0 ? (a + b - 1) / b : 0;
}

}  // namespace

const ST_PANEL_TIMING* c331_manage::panel_timing_table(int* count) {
    static const std::vector<ST_PANEL_TIMING> table = buildTimingTable();
    if (count) *count = static_cast<int>(table.size());
    return table.data();
}

// Output 2 is what output 1 leaves of the LED screen: an output 1 larger than the screen
// would leave it a wrapped, huge size.
int c331_manage::output_within_led(const char* what, int out1, int led) {
    if (out1 >= 0 && out1 <= led) return out1;
    const int clamped = out1 < 0 ? 0 : led;
    char text[112];
    std::snprintf(text, sizeof text, "c331: output 1 %s %d outside the LED screen's %d; %d taken",
                  what, out1, led, clamped);
    writeLogMsg(2, text);
    ZEM_DEBUG("%s\n", text);
    return clamped;
}

ST_PANEL_INFO c331_manage::panel_geometry(int ledW, int ledH, int out1w, int out1h, int splice) {
    ST_PANEL_INFO p{};
    p.splice = ((splice % 6) + 6) % 6;
    p.ledW = static_cast<uint16_t>(ledW);
    p.ledH = static_cast<uint16_t>(ledH);
    switch (p.splice) {
        case 1:
        case 2:
            out1h = output_within_led("height", out1h, p.ledH);
            p.out1w = p.ledW;
            p.out1h = static_cast<uint16_t>(out1h);
            p.out2h = static_cast<uint16_t>(p.ledH - out1h);
            break;
        case 3:
            out1w = output_within_led("width", out1w, p.ledW);
            p.out1w = static_cast<uint16_t>(out1w);
            p.out2w = static_cast<uint16_t>(p.ledW - out1w);
            p.out1h = p.ledH;
            break;
        case 0:
        case 4:
            p.out1w = p.out2w = p.ledW;
            p.out1h = p.ledH;
            break;
        default:
            break;
    }
    lay_out_channels(p);
    return p;
}

int c331_manage::zemApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice) {
    ZEM_DEBUG("[zemApi_PnlInit2] ledW:%d ledH:%d, out1w:%d, out1h:%d, splice:%s\n", ledW, ledH,
              out1w, out1h, kSpliceNames[((splice % 6) + 6) % 6]);
    gPanel = panel_geometry(ledW, ledH, out1w, out1h, splice);
    zemApi_PnlInitOch3();
    zemApi_initEnvC331();
    std::memset(PI_PORT_INFO, 0xFF, sizeof PI_PORT_INFO);
    for (int port = 0; port < 6; ++port) PI_PORT_INFO[port][kPortNoSignal] = 1;
    zemApi_MultiWinChAlloc(1);
    zemApi_MultiWinChInit();
    return zemDbg_c331_param(0);
}

void c331_manage::zemApi_PnlInitOch3() {
    const ST_PANEL_INFO& p = gPanel;
    ZEM_DEBUG("\t%s %s\n", kSpliceNames[p.splice], kArrangNames[p.arrang - 5]);
    if (p.splice == 0)
        ZEM_DEBUG("\t%s OCHBW_2K4K30 ARRANG2K4_2x1 for NONE\n", kSpliceNames[p.splice]);
    if (p.splice == 4)
        ZEM_DEBUG("\t%s OCHBW_2K4K30 ARRANG2K4_2x1 for CP1TO2 ,%s\n", kSpliceNames[p.splice],
                  p.one_och ? "1OCH" : "2OCH");
    zemApi_WriteRam(1376);
    zemApi_c331InitRegPanel();
}

void c331_manage::lay_out_channels(ST_PANEL_INFO& p) {
    const bool vsplice = p.splice == 1 || p.splice == 2;
    int W, H;
    if (vsplice) {
        W = p.out1w + p.out2w;
        H = p.out1h > p.out2h ? p.out1h : p.out2h;
    } else {
        H = p.out1h + p.out2h;
        W = p.out1w > p.out2w ? p.out1w : p.out2w;
    }
    p.one_och = p.out1w <= 8191 && p.out2w <= 8191 && static_cast<int64_t>(W) * H <= 9800000;
    W = roundUp(W, p.one_och ? 4 : 8);

    int hblank, vblank;
    if (p.one_och) {
        p.HSW = 12, p.HFP = 4, p.VSW = 3, p.VFP = 3;
        hblank = 64;
        vblank = p.splice == 2 ? 38 : 12;
        p.arrang = vsplice ? 8 : 5;
    } else if (p.splice == 3) {
        p.HSW = 64, p.HFP = 64, p.VSW = 64, p.VFP = 32;
        hblank = 192;
        vblank = 128;
        p.arrang = 6;
    } else {
        p.HSW = 12, p.HFP = 32, p.VSW = 12, p.VFP = 32;
        hblank = 76;
        vblank = 76;
        p.arrang = vsplice ? 7 : p.splice == 5 ? 5 : 6;
    }
    p.och_HCnt = static_cast<uint8_t>(kArrangCols[p.arrang - 5]);
    p.och_VCnt = static_cast<uint8_t>(kArrangRows[p.arrang - 5]);
    p.led_x = p.led_y = 0;
    p.lane_mode = 0;

    // The channel's share of the canvas sets the timing target.
    int tW = W, tH = H;
    if (!p.one_och) {
        if (vsplice) {
            tH = H / 2;
            if (p.arrang == 7) tW = W / 2;
        } else {
            tW = W / 2;
        }
    }
    int htt = 0, vtt = 0;
    find_timing(&htt, &vtt, hblank, vblank, tW, tH, p.one_och);
    p.HTT = htt;
    p.VTT = vtt;
    p.och_w = tW;
    p.och_h = vtt - vblank;

    if (vsplice) {
        p.och_h = ceilDiv(H, p.och_VCnt / 2);
        p.led_y = static_cast<uint16_t>((p.och_VCnt / 2) * p.och_h - p.out1h);
    } else if (p.splice == 3) {
        p.led_x = static_cast<uint16_t>((p.och_w * p.och_HCnt) / 2 - p.out1w);
    } else {
        p.och_h = ceilDiv(p.ledH, p.och_VCnt);
    }
}

int c331_manage::zemApi_PnlInitOch_diff(int* htt, int* vtt, int hblank, int vblank, int W, int H) {
    return find_timing(htt, vtt, hblank, vblank, W, H, gPanel.one_och);
}

int c331_manage::find_timing(int* htt, int* vtt, int hblank, int vblank, int W, int H,
                             bool one_och) {
    const int want_h = W + hblank;
    const int want_v = H + vblank;
    int count = 0;
    const ST_PANEL_TIMING* table = panel_timing_table(&count);
    for (int i = 0; i < count; ++i) {
        if (table[i].htt >= want_h && table[i].vtt >= want_v) {
            *htt = table[i].htt;
            *vtt = table[i].vtt;
            ZEM_DEBUG("\t found htt: %d, vtt:%d\n", *htt, *vtt);
            return 1;
        }
    }
    *htt = one_och ? roundUp(want_h, 4) : want_h;
    *vtt = want_v;
    return 1;
}

std::array<uint16_t, 7> c331_manage::geometry_words(const ST_PANEL_INFO& p) {
    int och_h = 1, och_v = 1;
    if (p.splice == 3) {
        och_h = p.one_och ? 2 : 4;
    } else if (p.splice == 1 || p.splice == 2 || p.splice == 5) {
        och_h = p.one_och ? 1 : 2;
        och_v = 2;
    } else {
        och_h = p.one_och ? 1 : 2;
    }
    return {p.led_x,
            p.led_y,
            static_cast<uint16_t>(och_h),
            static_cast<uint16_t>(och_v),
            static_cast<uint16_t>(p.och_w),
            static_cast<uint16_t>(p.och_h),
            static_cast<uint16_t>(p.lane_mode)};
}

void c331_manage::zemApi_WriteRam(int address) {
    const ST_PANEL_INFO& p = gPanel;
    const std::array<uint16_t, 7> words = geometry_words(p);
    const int och_h = words[2], och_v = words[3];
    if (address == 1376) {
        ZemRamPara* store = ZemRamPara::p_zemrampara_config;
        if (store) store->put_geometry(words.data());
    }
    ZEM_DEBUG("\n\t%s ========PC RAM=======\n", kSpliceNames[p.splice]);
    ZEM_DEBUG("\t led_x:       %d\n\t led_y:       %d\n", p.led_x, p.led_y);
    ZEM_DEBUG("\t och_num_h:   %d\n\t och_num_v:   %d\n", och_h, och_v);
    ZEM_DEBUG("\t och_w:       %d\n\t och_h:       %d\n", p.och_w, p.och_h);
}

void c331_manage::zemApi_c331InitRegPanel() {
    const ST_PANEL_INFO& p = gPanel;
    PS_ACTHW = p.och_w;
    PS_HSW = p.HSW;
    PS_HTOTAL = p.HTT;
    PS_HBP = p.HTT - p.och_w - p.HSW - p.HFP;
    PS_HFP = p.HFP;
    PS_ACTVW = p.och_h;
    PS_VSW = p.VSW;
    PS_VTOTAL = p.VTT;
    PS_VBP = p.VTT - p.och_h - p.VSW - p.VFP;

    auto w = [&](uint32_t desc, uint32_t v, uint32_t off = 0) {
        drv->write_C331(fd, desc, v, off);
    };
    w(0x034401, static_cast<uint32_t>(PS_HSW / 2 - 1));
    w(0x034C01, static_cast<uint32_t>(PS_HSW / 2 - 1));
    w(0x034501, static_cast<uint32_t>(PS_VSW - 1));
    w(0x034D01, static_cast<uint32_t>(PS_VSW - 1));

    PS_OAOIHST = PS_ACTHST = PS_HSW + PS_HBP;
    PS_OAOIHED = PS_OAOIHST + PS_ACTHW;
    PS_OAOIVST = PS_ACTVST = PS_VSW + PS_VBP;
    PS_OAOIVED = PS_OAOIVST + PS_ACTVW;

    PS_VBOTX_MODE = 2;
    PS_VBOTX_LAYOUT = (p.arrang == 7 || p.arrang == 8) ? 1 : 0;
    ZEM_DEBUG("PS_VBOTX_MODE = 2\n");
    if (PS_VBOTX_LAYOUT == 1) {
        PS_PANEL_HSHAPE = p.one_och ? 1 : 2;
        PS_PANEL_VSHAPE = 2;
    } else {
        PS_PANEL_HSHAPE = p.one_och ? 2 : 4;
        PS_PANEL_VSHAPE = 1;
    }
    PS_PANEL_HW = PS_PANEL_HSHAPE * PS_ACTHW;
    PS_PANEL_VW = PS_PANEL_VSHAPE * PS_ACTVW;

    for (uint32_t k = 0; k < 8; ++k) {
        const uint32_t off = 16 * k;
        w(0x080A02, static_cast<uint32_t>(PS_HTOTAL - 2), off);
        w(0x080C02, static_cast<uint32_t>(PS_VTOTAL - 2), off);
        w(0x081D02, 64, off);
        write_channel_area(fd, k);
    }
    ZEM_DEBUG("[zemApi_c331InitRegPanel] ochBW:%s\r\n", "OCHBW_2K4K30");
    w(0x035E04, 0x76543210);
    w(0x036204, 0x76543210);

    static const uint32_t routing[6][2] = {{0x03020100, 0x03020100}, {0x00010000, 0x00010000},
                                           {0x00010000, 0x03020100}, {0x00010000, 0x03020100},
                                           {0x00000000, 0x01000100}, {0x00010000, 0x00010000}};
    w(0x035504, routing[p.splice][p.one_och ? 0 : 1]);

    w(0x032C02, 0);
    w(0x032E01, 0);
    w(0x032F02, 0);
    w(0x020801, 9);
    w(0x035E04, 0x76543210);
    w(0x033602, 0);
    w(0x033801, 0);
    w(0x033902, 0);
    w(0x027801, 9);
    w(0x036204, 0x76543210);

    PS_PLLA[4] = 11;
    w(0x004701, 33);
    w(0x004C01, 33);
    w(0x004B01, 11);
    w(0x005001, 11);
    w(0x004801, 137);
    w(0x004D01, 137);
}

void c331_manage::write_channel_area(int fd, uint32_t k) {
    const uint32_t off = 16 * k;
    for (uint32_t copy = 0; copy < 2; ++copy) {
        drv->write_C331(fd, 0x082802 + (copy << 11), static_cast<uint32_t>(PS_OAOIHST), off);
        drv->write_C331(fd, 0x082A02 + (copy << 11), static_cast<uint32_t>(PS_OAOIHED), off);
        drv->write_C331(fd, 0x082C02 + (copy << 11), static_cast<uint32_t>(PS_OAOIVST), off);
        drv->write_C331(fd, 0x082E02 + (copy << 11), static_cast<uint32_t>(PS_OAOIVED), off);
    }
    drv->write_C331(fd, 0x084002, static_cast<uint32_t>(PS_ACTHST), off);
    drv->write_C331(fd, 0x084202, static_cast<uint32_t>(PS_ACTHW), off);
    drv->write_C331(fd, 0x084402, static_cast<uint32_t>(PS_ACTVST), off);
    drv->write_C331(fd, 0x084602, static_cast<uint32_t>(PS_ACTVW + 1), off);
}
