// Service commands from the PC: dumps of the manager's state and the chip's registers to the
// console, and the fixed register sequences of the production line (moving bars, V-by-One
// receiver resets, measured frame sizes, a write/read-back test, frame-lock set-ups). They run
// on the C331 thread inside an apply turn, except the whole-register dump (register 161),
// which runs on the protocol's thread and relies on the per-access locks.
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "c331/c331_manage.h"
#include "c331/c331_reg_writer.h"
#include "core/console.h"
#include "core/globals.h"
#include "platform/clock.h"
#include "video_io/raviksource.h"

namespace {

const char kTopics[14][20] = {"c331_param", "c331_win", "c331_mem", "c331_mwi", "c331_mw1s",
                              "c331_PI",    "none",     "none",     "none",     "none",
                              "none",       "none",     "none",     "none"};

// An input not measured since the last invalidation holds 0xFF bytes, so its clock is not a
// number; the dump prints what the box's ARM conversion gives (0 for it, the limits beyond
// them) instead of converting out of range.
int32_t clockWord(float mhz) {
    if (std::isnan(mhz)) return 0;
    if (mhz >= 2147483647.0f) return INT32_MAX;
    if (mhz <= -2147483648.0f) return INT32_MIN;
    return int32_t(mhz);
}

void ruler() {
    console::outf("////////////////////////////////////////////////////////////\n");
}

}  // namespace

int c331_manage::zemDbg_c331_param(int t) {
    const int topic = ((t % 14) + 14) % 14;
    console::outf("[zemDbg_c331_param] %s\n", kTopics[topic]);
    switch (topic) {
        case 0:
            zemDbg_c331_param();
            break;
        case 1:
            dump_ports();
            break;
        case 2:
            dump_memory();
            break;
        case 5:
            dump_port_info();
            break;
        case 6:
            for (uint32_t k = 0; k < 8; ++k) {
                drv->write_C331(fd, 0x084903, 0xFFFFFF, 16 * k);
                drv->write_C331(fd, 0x084801, 1, 16 * k);
            }
            console::outf("\n .................... ");
            break;
        case 7:
            for (uint32_t k = 0; k < 8; ++k) drv->write_C331(fd, 0x0A4601, 0xC3, 16 * k);
            console::outf("\n .................... ");
            break;
        case 8:
            for (uint32_t k = 0; k < 8; ++k) {
                drv->write_C331(fd, 0x504A01, 1, 16 * k);
                drv->write_C331(fd, 0x504B03, 0x80FF80, 16 * k);
            }
            console::outf("\n .........input change........... ");
            break;
        case 9:
            for (const uint32_t d : {0x0A4601u, 0x0A4B01u, 0x1A4601u, 0x1A4B01u})
                drv->write_C331(fd, d, 3, 0);
            console::outf("\n .........B10_HZOOMCTCH1/B10_VZOOMCTCH1 change........... ");
            break;
        case 10:
            // The receivers' records are taken under the hdminfo lock, which is never taken
            // inside the C331 mutex: the thread runs this after its apply turn.
            hdmi_recompute_pending = true;
            break;
        default:
            break;
    }
    return 0;
}

void c331_manage::run_deferred_debug() {
    if (!hdmi_recompute_pending) return;
    hdmi_recompute_pending = false;
    if (raviksource* src = raviksource::p_ravik_source) {
        src->iTE6805_Get_Hdmi(0);
        src->iTE6805_Get_Hdmi(1);
    }
}

void c331_manage::dump_ports() const {
    for (int p = 0; p < 6; ++p) {
        const int32_t* i = PI_PORT_INFO[p];
        console::outf("\t port:%d\n", p);
        console::outf("\t\t PI_UPDATE[%d]:%d\n\t\t PI_STATE [%d]:%d\n", p, PI_UPDATE[p], p,
                      PI_STATE[p]);
        console::outf("\t\t PI_HTOTAL[%d]:%d\n\t\t PI_VTOTAL[%d]:%d\n", p, i[0], p, i[1]);
        console::outf("\t\t PI_ACT   [%d]    -- hst:%4d hw:%4d, vst:%d vw:%4d\n", p, PI_ACT[p][0],
                      PI_ACT[p][1], PI_ACT[p][2], PI_ACT[p][3]);
        console::outf("\t\t PI_PORT_INFO[%d] -- htt:%4d, vtt:%4d hw:%4d, state:%d, nosig:%d\n", p,
                      i[0], i[1], i[4], i[5], i[kPortNoSignal]);
    }
}

void c331_manage::dump_memory() const {
    console::outf("==============WINDOW_MAX==============\n");
    for (int w = 0; w < 6; ++w) {
        console::outf("win_%d\n", w);
        console::outf("\t PM_MEM_WMODE:%d\n\t PS_MEM_WMODE:%d\n", PS_MEM_WMODE[w], PS_MEM_WMODE[w]);
        console::outf("\t PI_SCAN_MODE:%d\n", PI_SCAN_MODE[w]);
    }
    console::outf("==============INPUT_PORT_MAX==============\n");
    for (int p = 0; p < 6; ++p) {
        const unsigned m[5] = {unsigned(PS_MEM_SC[p][0]), unsigned(PS_MEM_SC[p][1]),
                               unsigned(PS_MEM_SC[p][2]), unsigned(PS_MEM_SC[p][3]),
                               unsigned(PS_MEM_SC[p][4])};
        console::outf("INPUT_PORT_%d\n", p + 1);
        console::outf("\t PS_MEM_SC   :FLD(%08X, %08X, %08X, %08X, %08X)\n", m[0], m[1], m[2], m[3],
                      m[4]);
        console::outf("\t PM_IACTHST :%d\n\t PM_IACTVST :%d\n", PM_IACTHST[p], PM_IACTVST[p]);
        console::outf("\t PI_FPICLK  :%f\n\t PI_FV      :%f\n", PI_FPICLK[p], PI_FV[p]);
    }
    console::outf("==============INPUT_CMOS_MAX==============\n");
    for (int c = 0; c < 4; ++c) {
        console::outf("INPUT_CMOS_%d\n", c + 1);
        console::outf("\t PS_MEM_IP_I  :FLD(%08X, %08X)\n", unsigned(PS_MEM_IP_I[2 * c]),
                      unsigned(PS_MEM_IP_I[2 * c + 1]));
        console::outf("\t PS_MEM_IP_P  :FLD(%08X, %08X)\n", unsigned(PS_MEM_IP_P[2 * c]),
                      unsigned(PS_MEM_IP_P[2 * c + 1]));
        console::outf("\t PS_MEM_IPYOFF:%d\n\t PS_MEM_MV    :%08X\n\t PS_MWI_IP    :%d\n",
                      PS_MEM_IPYOFF[c], unsigned(PS_MEM_MV[c]), PS_MWI_IP[c]);
    }
    console::outf("\t !!!!!!!!!!!!!!!unused and not care!!!!!!!!!!!!!!!\n");
    const struct {
        const char* name;
        int32_t value;
    } ip[] = {{"PM_HNR", PM_HNR},           {"PM_VNR", PM_VNR},          {"PM_TNR", PM_TNR},
              {"PM_BNR", PM_BNR},           {"PM_MNR", PM_MNR},          {"PM_COMB", PM_COMB},
              {"PM_IPEN", PM_IPEN},         {"PM_DIAG", PM_DIAG},        {"PM_22PD", PM_22PD},
              {"PM_23PD", PM_23PD},         {"PM_24SF", PM_24SF},        {"PM_MVFLT", PM_MVFLT},
              {"PM_22PDSQTH", PM_22PDSQTH}, {"PM_23PDSQTH", PM_23PDSQTH}};
    for (const auto& f : ip) console::outf("\t %s:%d\n", f.name, f.value);
    console::outf("==============INPUT_VBO_MAX==============\n");
    for (int rx = 0; rx < 2; ++rx) {
        console::outf("INPUT_VBORX_%d\n", rx + 1);
        console::outf("\t PS_VBO_2LANE:%d\n\t PS_VBO_4LANE:%d\n\t PS_VBO_8LANE:%d\n", PS_VBO_2LANE,
                      PS_VBO_4LANE, PS_VBO_8LANE);
    }
    console::outf("==============PM_OVERLAY_PRI==============\n");
    for (int w = 0; w < 6; ++w)
        console::outf("\t PM_OVERLAY_PRI[%d] :%d  \n", w, PM_OVERLAY_PRI[w]);
}

void c331_manage::dump_port_info() const {
    for (int p = 0; p < 6; ++p) console::outf("PI_UPDATE[%d]:%2d\n", p, PI_UPDATE[p]);
    console::outf("////////////////\n");
    for (int p = 0; p < 6; ++p) console::outf("PI_STATE[%d]:%d\n", p, PI_STATE[p]);
    console::outf("////////////////\n");
    for (int p = 0; p < 6; ++p) {
        const int32_t* i = PI_PORT_INFO[p];
        const ST_HDMI_INFO& h = PI_HDMI_INFO[p];
        console::outf(
            "PI_PORT_INFO[%d] -- htt:%5d, vtt:%5d, hw:%5d, state:%d, nosig:%d laneNum:%d\n", p,
            i[0], i[1], i[4], i[5], i[kPortNoSignal], h.lane);
        console::outf(
            "PI_HDMI_INFO[%d] -- %s - %s\t hact:%d, htt:%d, hsync:%d, hback:%d, vact:%d, vtt:%d, "
            "vsync:%d, vback:%d\n",
            p, h.type ? "IT6807" : "IT6602", h.nosignal ? "Nosignal" : "Normal", h.Hact, h.Htotal,
            h.Hsync, h.Hback, h.Vact, h.Vtotal, h.Vsync, h.Vback);
    }
    console::outf("////////////////\n");
    for (int p = 0; p < 6; ++p)
        console::outf("PI_ACT[%d] -- (%5d,%5d,%5d,%5d)\n", p, PI_ACT[p][0], PI_ACT[p][1],
                      PI_ACT[p][2], PI_ACT[p][3]);
}

// The full parameter dump: one "\t label :value \r\n" line per field.
int c331_manage::zemDbg_c331_param() {
    auto line = [](const char* label, long long v) {
        console::outf("\t %-10s:%lld \r\n", label, v);
    };
    console::outf("[zemDbg_c331_param]\r\n<<===OCH SPEC\r\n");
    const struct {
        const char* label;
        int32_t v;
    } och[] = {{"PS_ACTHW", PS_ACTHW},     {"PS_HSW", PS_HSW},         {"PS_HBP", PS_HBP},
               {"PS_HFP", PS_HFP},         {"PS_HTOTAL", PS_HTOTAL},   {"PS_VTOTAL", PS_VTOTAL},
               {"PS_ACTVW", PS_ACTVW},     {"PS_VSW", PS_VSW},         {"PS_VBP", PS_VBP},
               {"PS_OAOIHST", PS_OAOIHST}, {"PS_OAOIHED", PS_OAOIHED}, {"PS_ACTVST", PS_ACTVST},
               {"PS_OAOIVST", PS_OAOIVST}, {"PS_OAOIVED", PS_OAOIVED}, {"PS_ACTHST", PS_ACTHST}};
    for (const auto& f : och) line(f.label, f.v);
    console::outf("<<===PS VBO\r\n");
    line("PS_VBOTX_MODE", PS_VBOTX_MODE);
    line("PS_VBOTX_LAYOUT", PS_VBOTX_LAYOUT);
    console::outf("<<===PM_WIN_SHAPE\r\n");
    for (int w = 0; w < 6; ++w)
        console::outf("\t PM_WIN_SHAPE[%d][0] = %d\r\n\t PM_WIN_SHAPE[%d][1] = %d\r\n", w,
                      PM_WIN_SHAPE[w][0], w, PM_WIN_SHAPE[w][1]);
    console::outf("<<===PM_WIN_FAD\r\n");
    for (int w = 0; w < 6; ++w)
        console::outf("\t PM_WIN_FADE_EN[%d] = %d, IN = %d, OUT = %d\r\n", w, PM_WIN_FADE_EN[w],
                      PM_WIN_FADE_IN[w], PM_WIN_FADE_OUT[w]);
    console::outf("<<===PM_INPUT\r\n");
    for (int w = 0; w < 6; ++w) console::outf("\t PM_INPUT[%d] = %d\r\n", w, PM_INPUT[w]);
    console::outf("<<===PM_WIN_OFFSET\r\n");
    for (int w = 0; w < 6; ++w)
        console::outf("\t PM_WIN_OFFSET[%d](%d,  %d,  %d,  %d)\r\n", w, PM_WIN_OFFSET[w][0],
                      PM_WIN_OFFSET[w][1], PM_WIN_OFFSET[w][2], PM_WIN_OFFSET[w][3]);
    console::outf("<<===PM_INPUT_OFFSET_EN\r\n");
    for (int w = 0; w < 6; ++w)
        console::outf("\t PM_INPUT_OFFSET_EN[%d] = %d  (%5d, %5d, %5d, %5d)\r\n", w,
                      PM_INPUT_OFFSET_EN[w], PM_INPUT_OFFSET[w][0], PM_INPUT_OFFSET[w][1],
                      PM_INPUT_OFFSET[w][2], PM_INPUT_OFFSET[w][3]);
    console::outf("<<===PM_WIN_NUM\r\n");
    for (int k = 0; k < 8; ++k) console::outf("\t PM_WIN_NUM[%d] = %d\r\n", k, PM_WIN_NUM[k]);
    console::outf("<<===PM_AREA_NUM\r\n");
    for (int k = 0; k < 8; ++k) console::outf("\t PM_AREA_NUM[%d] = %d\r\n", k, PM_AREA_NUM[k]);
    console::outf("<<===PM_OVERLAY\r\n");
    for (int k = 0; k < 8; ++k)
        console::outf("\t PM_OVERLAY[%d] = %08X\r\n", k, unsigned(PM_OVERLAY[k]));
    console::outf("<<===PM OSD\r\n");
    line("PS_PANEL_HW", PS_PANEL_HW);
    line("PS_PANEL_VW", PS_PANEL_VW);
    line("PS_PANEL_HSHAPE", PS_PANEL_HSHAPE);
    line("PS_PANEL_VSHAPE", PS_PANEL_VSHAPE);
    console::outf("<<===OSD_WIN\r\n");
    const struct {
        const char* label;
        int32_t v;
    } osd[] = {{"OSD_WIN.HST", OSD_WIN.HST},
               {"OSD_WIN.HW", OSD_WIN.HW},
               {"OSD_WIN.VST", OSD_WIN.VST},
               {"OSD_WIN.VW", OSD_WIN.VW},
               {"PM_OSD_EN", PM_OSD_EN},
               {"PS_BG_HACT", PS_BG_HACT},
               {"PS_BG_VACT", PS_BG_VACT},
               {"PM_OSD_HZOOM_EN", PM_OSD_HZOOM_EN},
               {"PM_OSD_VZOOM_EN", PM_OSD_VZOOM_EN},
               {"PM_OSD_DATA_MODE", PM_OSD_DATA_MODE},
               {"PM_OSD_UPDATE_BUTTON", PM_OSD_UPDATE_BUTTON},
               {"PM_OSD_SCROLL_MODE", PM_OSD_SCROLL_MODE},
               {"PM_OSD_OUTPUT_OFFSET[0]", PM_OSD_OUTPUT_OFFSET[0]},
               {"PM_OSD_OUTPUT_OFFSET[1]", PM_OSD_OUTPUT_OFFSET[1]},
               {"PM_OSD_OUTPUT_OFFSET[2]", PM_OSD_OUTPUT_OFFSET[2]},
               {"PM_OSD_OUTPUT_OFFSET[3]", PM_OSD_OUTPUT_OFFSET[3]},
               {"PM_OSD_INPUT_OFFSET[0]", PM_OSD_INPUT_OFFSET[0]},
               {"PM_OSD_INPUT_OFFSET[1]", PM_OSD_INPUT_OFFSET[1]},
               {"PM_OSD_INPUT_OFFSET[2]", PM_OSD_INPUT_OFFSET[2]},
               {"PM_OSD_INPUT_OFFSET[3]", PM_OSD_INPUT_OFFSET[3]},
               {"PM_OSD_SCROLL_SPEED", PM_OSD_SCROLL_SPEED},
               {"PM_OSD_CHAR_64DOT", PM_OSD_CHAR_64DOT},
               {"g_osd_mwi", g_osd_mwi},
               {"g_osd_mwi_shift", g_osd_mwi_shift}};
    for (const auto& f : osd) line(f.label, f.v);
    console::outf("\t g_font_addr_32ASCII:%#x \r\n\t g_font_addr_32CHN:%#x \r\n",
                  g_font_addr_32ASCII.load(), g_font_addr_32CHN.load());
    console::outf("\t g_font_addr_64ASCII:%#x \r\n\t g_font_addr_64CHN:%#x \r\n",
                  g_font_addr_64ASCII.load(), g_font_addr_64CHN.load());
    line("g_unicode_line", g_unicode_line);
    for (int i = 0; i < g_unicode_line && i < kOsdLines; ++i) {
        console::outf(" line%d: \r\n", i);
        for (int k = 0; k < kOsdLineChars; ++k) {
            const uint8_t hi = g_unicode_text[i][2 * k], lo = g_unicode_text[i][2 * k + 1];
            if (!hi && !lo) break;
            console::outf("[%#x,%#x] %s", hi, lo, k % 8 == 7 ? "\r\n" : "");
        }
        console::outf("\r\n");
    }
    const struct {
        const char* label;
        int32_t v;
    } mem[] = {{"PS_BMP_ADDR", PS_BMP_ADDR},
               {"PS_BMP_HACT", PS_BMP_HACT},
               {"PS_BMP_VACT", PS_BMP_VACT},
               {"PS_BMPCP_ADDR", PS_BMPCP_ADDR},
               {"PS_SFL_ADDR", PS_SFL_ADDR},
               {"PS_MEM_OSD", PS_MEM_OSD},
               {"PS_MEM_OSD1", PS_MEM_OSD1},
               {"PS_FONT_ADDR", PS_FONT_ADDR},
               {"PS_BG_HACT", PS_BG_HACT},
               {"PS_BG_VACT", PS_BG_VACT},
               {"PS_BG_COLOR", PS_BG_COLOR},
               {"PS_BG_TRANS", PS_BG_TRANS},
               {"PS_CHAR_HST", PS_CHAR_HST},
               {"PS_CHAR_VST", PS_CHAR_VST},
               {"PS_CHAR_COLOR", PS_CHAR_COLOR},
               {"PS_CHAR_ADDR_32ASCII", PS_CHAR_ADDR_32ASCII},
               {"PS_CHAR_ADDR_32CHN", PS_CHAR_ADDR_32CHN},
               {"PS_CHAR_ADDR_64ASCII", PS_CHAR_ADDR_64ASCII},
               {"PS_CHAR_ADDR_64CHN", PS_CHAR_ADDR_64CHN},
               {"PS_CHAR_SIZE_32ASCII", PS_CHAR_SIZE_32ASCII},
               {"PS_CHAR_SIZE_32CHN", PS_CHAR_SIZE_32CHN},
               {"PS_CHAR_SIZE_64ASCII", PS_CHAR_SIZE_64ASCII},
               {"PS_CHAR_SIZE_64CHN", PS_CHAR_SIZE_64CHN}};
    for (const auto& f : mem) line(f.label, f.v);
    console::outf("<<===PI HDMI INFO\r\n");
    for (int p = 0; p < 4; ++p) {
        const ST_HDMI_INFO& h = PI_HDMI_INFO[p];
        const int32_t words[] = {
            h.Hact,  h.Hsync, h.Hback,    h.Hpol,    h.Htotal,           h.Vact,
            h.Vsync, h.Vback, h.Vpol,     h.Vtotal,  clockWord(h.pfreq), h.type,
            h.lane,  h.ip,    h.datamode, h.nosignal};
        const char* names[] = {"Hact",  "Hsync", "Hback",    "Hpol",    "Htotal", "Vact",
                               "Vsync", "Vback", "Vpol",     "Vtotal",  "pfreq",  "type",
                               "lane",  "ip",    "datamode", "nosignal"};
        for (int i = 0; i < 16; ++i)
            console::outf("\t PI_HDMI_INFO[%d].%-6s:%d \r\n", p, names[i], words[i]);
    }
    return 0;
}

void c331_manage::zemDbg_c331_print_regGrp(int grp) {
    console::outf("[%s] grp:%d\n", "zemDbg_c331_print_regGrp", grp);
    if (grp != 0) {
        console::outf("\t not found valid grp!!!!!!!");
        return;
    }
    ruler();
    console::outf("\t ICH:\n");
    for (int w = 0; w < 6; ++w) {
        console::outf("\t\t win:%d, port:%d ich_used: ", w, PM_INPUT[w]);
        if (g_win_ich[w][0] >= 0 && g_win_ich[w][0] < 8)
            console::outf("ICH%d ", g_win_ich[w][0] + 1);
        console::outf("\n");
    }
    ruler();
    console::outf(
        "\t      OSFLD0,  OSFLD1,  OSFLD2,  OSFLD3,  OSFLD4   --- ISFLD0,  ISFLD1,  "
        "ISFLD2,  ISFLD3,  ISFLD4\n");
    for (uint32_t n = 1; n <= 8; ++n) {
        const uint32_t o = 16 * (n - 1);
        uint32_t f[10];
        for (uint32_t i = 0; i < 10; ++i) f[i] = drv->read_C331(fd, 0x160804 + (4 * i << 8), o);
        console::outf("\t CH%u  %08X,%08X,%08X,%08X,%08X --- %08X,%08X,%08X,%08X,%08X\n", n, f[0],
                      f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9]);
    }
    ruler();
    console::outf("\t      OSYCT    --- ISYCT,     OMWI     --- IMWI\n");
    for (uint32_t n = 1; n <= 8; ++n) {
        const uint32_t o = 16 * (n - 1);
        console::outf("\t CH%u  %08X --- %08X,  %08X --- %08X\n", n,
                      drv->read_C331(fd, 0x080802, o), drv->read_C331(fd, 0x100901, o),
                      drv->read_C331(fd, 0x163001, o), drv->read_C331(fd, 0x163101, o));
    }
    ruler();
    console::outf("\t OACT:HST,  HW,   VST,  VW   - IACT:HST,  HW,   VST,  VW\n");
    for (uint32_t n = 1; n <= 8; ++n) {
        const uint32_t o = 16 * (n - 1);
        uint32_t a[8];
        for (uint32_t i = 0; i < 4; ++i) {
            a[i] = drv->read_C331(fd, 0x084002 + (2 * i << 8), o);
            a[4 + i] = drv->read_C331(fd, 0x101702 + (2 * i << 8), o);
        }
        console::outf("\t CH%u  %04X, %04X, %04X, %04X ---    %04X, %04X, %04X, %04X\n", n, a[0],
                      a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
    }
    ruler();
    console::outf("\t        ICHSEL  ISCWCT  OSCWCT\n");
    for (uint32_t n = 1; n <= 8; ++n) {
        console::outf("\t CH%u    %02X      %02X      %04X\n", n,
                      drv->read_C331(fd, (0x10 + n - 1) << 8 | 1, 0),
                      drv->read_C331(fd, (0x71 + n - 1) << 8 | 1, 0),
                      drv->read_C331(fd, (0x69 + n - 1) << 8 | 1, 0));
    }
    ruler();
}

// Every register of the banks the chip documents is read and printed with its descriptor.
void c331_manage::c331_print() {
    for (uint32_t bank = 0; bank < 256; ++bank) {
        // Bank 4 holds the flash engine: reading its data port takes a byte from a running flash
        // read, so that bank waits for the flash lock.
        std::unique_lock<FlashLock> flash(flash_lock, std::defer_lock);
        if (bank == kFlashEngineBank) flash.lock();
        for (uint32_t address = 1; address < 0x80; ++address) {
            const uint32_t d = bank << 16 | address << 8 | 1;
            console::outf("%06X  %08Xh\n", d, drv->read_C331(fd, d, 0));
            platform::sleepUs(1);
        }
    }
}

// ---- Factory test sequences ----

namespace {

struct Bars {
    uint8_t fg[3], bg[3];
};

void bars(RegWriter& e, uint32_t k, uint32_t mode, uint32_t width, const Bars& c) {
    const uint32_t o = 16 * k;
    e.w(0x085701, mode, o);
    e.w(0x085801, 0, o);
    e.w(0x085901, 0, o);
    e.w(0x085A01, 0, o);
    e.w(0x085B02, 0xA0, o);
    e.w(0x085D02, 0, o);
    e.w(0x085F02, 0x20, o);
    e.w(0x086102, width, o);
    for (uint32_t i = 0; i < 3; ++i) {
        e.w(0x086301 + (i << 8), c.fg[i], o);
        e.w(0x086601 + (i << 8), c.bg[i], o);
    }
}

constexpr Bars kWhite{{255, 255, 255}, {3, 3, 3}}, kRed{{255, 0, 0}, {3, 0, 0}},
    kGreen{{0, 255, 0}, {0, 3, 0}}, kBlue{{0, 0, 255}, {0, 0, 3}};

}  // namespace

void c331_manage::output_slidebar(int fd) {
    RegWriter e{drv, fd};
    const Bars colours[4] = {kWhite, kRed, kGreen, kBlue};
    for (uint32_t k = 0; k < 4; ++k) bars(e, k, 9, 0x560, colours[k]);
    console::outf("\n output_slidebar over ");
}

void c331_manage::input_slidebar(int fd) {
    RegWriter e{drv, fd};
    bars(e, 4, 0x89, 0xAC0, kWhite);
    bars(e, 5, 0x89, 0xAC0, kGreen);
    console::outf("\n input_slidebar over ");
}

void c331_manage::disable_slidebar(int fd) {
    for (uint32_t k = 0; k < 6; ++k) drv->write_C331(fd, 0x085701, 0, 16 * k);
    console::outf("\n disable_slidebar over ");
}

namespace {

// Reset of V-by-One receiver rx (0, 1): its lane reset value, then the receiver's three
// set-up registers, 0x1C apart.
void vbyoneReset(RegWriter& e, int rx) {
    const uint32_t at = 0x1C00u * uint32_t(rx);
    e.w(0x027F01, rx == 0 ? 14 : 13);
    e.w(0x027F01, 15);
    e.w(0x024001 + at, 5);
    e.w(0x024F01 + at, 255);
    e.w(0x024C01 + at, 0xAB);
}

}  // namespace

void c331_manage::vbyone_rx_ch1_seq(int fd) {
    RegWriter e{drv, fd};
    vbyoneReset(e, 0);
    console::outf("\n vbyone_rx_ch1_seq over ");
}

void c331_manage::vbyone_rx_ch2_seq(int fd) {
    RegWriter e{drv, fd};
    vbyoneReset(e, 1);
    console::outf("\n vbyone_rx_ch2_seq over ");
}

void c331_manage::read_c331_b174bug(int fd) {
    const char* h[4] = {"B174_VI11FHM", "B174_VI13FHM", "B174_VI15FHM", "B174_VI17FHM"};
    const char* v[4] = {"B174_VI11FVM", "B174_VI13FVM", "B174_VI15FVM", "B174_VI17FVM"};
    for (uint32_t i = 0; i < 4; ++i)
        console::outf("\n read_c331_b174bug(%s=%d ) over \n", h[i],
                      int(drv->read_C331(fd, 0xAE4002 + (2 * i << 8), 0) + 1));
    for (uint32_t i = 0; i < 4; ++i)
        console::outf("\n read_c331_b174bug(%s=%d ) over \n", v[i],
                      int(drv->read_C331(fd, 0xAE5B03 + (3 * i << 8), 0) + 1));
    console::outf("\n read_c331_b174bug(B3_IDUALCTCH56=%d ) over \n",
                  int(drv->read_C331(fd, 0x031A01, 0)));
}

void c331_manage::write_read_c331_b80_iacthstch5(int fd) {
    const uint32_t v = drv->read_C331(fd, 0x501702, 0);
    console::outf("\n write_read_c331_b80_iacthstch5(B80_IACTHSTCH5=%d ) read \n", int(v));
    const uint32_t written = (v + 100) & 0xFFFF;
    drv->write_C331(fd, 0x501702, written, 0);
    const uint32_t back = drv->read_C331(fd, 0x501702, 0);
    console::outf("\n write_read_c331_b80_iacthstch5(B80_IACTHSTCH5=%d ) write=%#x,read=%#x \n",
                  int(written), written, back);
}

void c331_manage::sync_c331_device_test_input(int fd) {
    RegWriter e{drv, fd};
    e.w(0x004801, 0x89);
    e.w(0x004901, 0x43);
    e.w(0x004A01, 2);
    e.w(0x004B01, 0x10);
    e.w(0x081802, 1);
    e.w(0x080F01, 0xC4);
    Sleep(100);
    e.w(0x080F01, 0);
    console::outf("\n sync_c331_device_test_input over ");
}

void c331_manage::frame_lock_test(int fd, uint32_t lock, uint32_t sync, uint32_t total, bool vbo2) {
    RegWriter e{drv, fd};
    e.w(0x005502, 0x40);
    e.w(0x080F01, lock);
    e.w(0x080802, 0x403);
    e.w(0x081802, sync);
    for (uint32_t k = 0; k < 8; ++k) {
        e.w(0x080C02, total, 16 * k);
        if (vbo2) e.w(0x081E02, 1, 16 * k);
    }
}

void c331_manage::sync_c331_device_test_frame_lock(int fd) {
    frame_lock_test(fd, 4, 1, 5489, false);
    console::outf("\n sync_c331_device_test_frame_lock over ");
}

void c331_manage::sync_c331_device_test_frame_lock_vbyrx2(int fd) {
    const int vtt = gPanel.VTT;
    const uint32_t total = uint32_t(float(vtt) * 1.1f);
    frame_lock_test(fd, 0x84, 2, total, true);
    console::outf("\n sync_c331_device_test_frame_lock over total = %d ,och_vtt = %d\n", int(total),
                  vtt);
}

void c331_manage::sync_c331_device_test_frame_lock_vbyrx3(int fd) {
    frame_lock_test(fd, 4, 2, 5489, false);
    console::outf("\n sync_c331_device_test_frame_lock over ");
}
