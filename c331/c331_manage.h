// The video-processor manager. Pages, keys and the PC protocol never program the chip: they
// change the parameter RAM while holding c331_mutex and raise the apply flag with a refresh
// id; the C331 thread applies the change and emits the refresh.
//
// The thread compares the parameter RAM with its own copy of what it last applied (`applied`),
// not with the refresh hub's or the parameter file's record: any refresh may take a change into
// them before the flag is raised, which would otherwise hide it.
#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>

#include "c331/c331_drv.h"
#include "c331/flash_lock.h"
#include "core/json_files.h"
#include "core/led_size_handshake.h"
#include "core/thread_safety.h"

// The receiver timing as the C331 side keeps it per input port (the source manager's record
// without its stable word).
struct ST_HDMI_INFO {
    int Hact, Hsync, Hback, Hpol, Htotal;
    int Vact, Vsync, Vback, Vpol, Vtotal;
    float pfreq;  // MHz
    int type, datamode, lane, ip, nosignal;
};

// The output panel: LED size, splice, channel arrangement and timing.
struct ST_PANEL_INFO {
    uint16_t ledW, ledH;
    uint16_t out1w, out2w;
    uint16_t out1h, out2h;
    uint16_t led_x, led_y;
    uint8_t och_HCnt, och_VCnt;
    int32_t splice;
    int32_t lane_mode;
    int32_t arrang;
    int32_t och_w, och_h;
    int32_t HTT, HSW, HFP;
    int32_t VTT, VSW, VFP;
    uint8_t one_och;
};

// A rectangle of the window geometry: start and size, horizontal then vertical.
struct _ImageWindowDef_st {
    int32_t hst, hw, vst, vw;
};
// A window's piece on one output-channel column (hst, hw) and row (vst, vw).
struct _ImageWindowDef2_St {
    int32_t hst, hw, vst, vw;
    int32_t hfirst, hlast, vfirst, vlast;
};
// Scaling of a window: mode 0 one to one, 1 shrink, 2 zoom; ratios in 16.16.
struct _ScalingSt {
    int32_t hmode, vmode, hshrink, vshrink, hzoom, vzoom;
};

// One enabled window as the chip shows it (32 bytes); records are packed in window order.
struct ST_WIN_INFO {
    struct {
        int16_t x, y, w, h;  // on the LED canvas, the panel's led_x / led_y included
    } rect;
    uint8_t rotate;          // mirror 0..3 (bit 0 horizontal, bit 1 vertical)
    uint8_t outFlag;         // bit 0 black, bit 1 freeze
    uint8_t winEn;           // low byte of the window's flags word
    uint8_t input;           // source id 0..5
    uint8_t cropIdx;         // crop-table index when the window shows a crop
    uint8_t layer;           // 0..5, unique among the records
    uint8_t ochLst[8];       // processing channel of each piece, 0xFF empty
    uint8_t ochPosLst[8];    // output channel (screen position) of each piece, 0xFF empty
    uint8_t totalh, totalv;  // output-channel columns and rows the window spans
};

struct ST_RECT {
    int32_t x, y, w, h;
};
struct ST_MWIN {
    int32_t wincnt;  // records in use, 1..6
    ST_RECT* pwin;   // one rectangle per record
};

// One entry of the output timing table: a frame total.
struct ST_PANEL_TIMING {
    int32_t htt, vtt;
};

class c331_manage {
public:
    static c331_manage* p_c331_manage;

    // Makes the singleton and starts its thread (once, whatever calls it). Not EXCLUDES: it takes
    // c331_mutex only at that first call, which main makes before any thread shares the RAM.
    static c331_manage* pInstance();

    // Producer rule: lock c331_mutex, write the parameter RAM, raise_apply(id), unlock.
    static zem::Mutex c331_mutex;
#ifdef ZEM_LOCK_HOLDS
    static zem::LockHolds c331_holds;  // its holds, in a build that measures them
#endif
    // Asks the C331 thread to apply and then emit refresh id `refresh_id` (1 ordinary changes,
    // 2 user modes changed by the PC). Pending ids are a set: a pending 2 is not lost to a
    // later 1. Caller holds c331_mutex.
    static void raise_apply(uint8_t refresh_id) REQUIRES(c331_mutex);
    // True when an apply is pending. Caller holds c331_mutex.
    static bool apply_pending() REQUIRES(c331_mutex);
    // Takes the lowest pending refresh id and clears it; 0 when none. Caller holds c331_mutex.
    static uint8_t take_apply() REQUIRES(c331_mutex);
    // Takes every pending refresh id at once. Caller holds c331_mutex.
    static std::bitset<256> take_all_apply() REQUIRES(c331_mutex);
    // Signalled by raise_apply; the C331 thread waits on it with c331_mutex.
    static zem::ConditionVariable apply_cv;
    // The FPGA thread's share of an apply, installed by the FPGA manager so that this library
    // calls none of its: a new brightness to take, a new LED close to send, each with the write
    // generation of its RAM word (ZemRamPara::word_gen) as this apply took it. Unset, the C331
    // applies alone.
    using UserWordFn = void (*)(uint16_t value, uint32_t gen);
    static std::atomic<UserWordFn> fpga_brightness_changed;
    static std::atomic<UserWordFn> fpga_close_led_changed;

    // Stops and joins the thread; the manager and its chip stay for the caller alone (tests
    // and benchmarks only; the box never stops it).
    static void stop_thread() EXCLUDES(c331_mutex);
    // Stops the thread and releases the manager with the devices it holds and the applies
    // still pending, so that the next pInstance() starts afresh on the box selected then.
    static void shutdown() EXCLUDES(c331_mutex);

    // ---- System parameters (chip start-up settings) ----
    int32_t PS_CLK1{}, PS_MCLK{}, PS_REFCLK1{}, PS_REFCLK2{};
    int32_t PS_ACTHW{}, PS_ACTVW{}, PS_HTOTAL{}, PS_VTOTAL{}, PS_HSW{}, PS_HBP{}, PS_VSW{},
        PS_VBP{};
    int32_t PS_VBOTX_MODE{}, PS_VBOTX_LAYOUT{};
    int32_t PS_PLLA[5]{}, PS_PLLB[4]{};
    int32_t PS_MEM_SC[8][5]{};
    int32_t PS_DBD_STRIPES{}, PS_MEM_DBD[5]{}, PS_DBD_BLOCK{}, PS_DBD_WORD{};
    int32_t PS_MEM_IP_I[8]{}, PS_MEM_IP_P[8]{};
    int32_t PS_MEM_IPYOFF[4]{}, PS_MEM_MV[4]{}, PS_MWI_IP[4]{};
    int32_t PS_MEM_WMODE[6]{};
    int32_t PS_VBO_2LANE{}, PS_VBO_4LANE{}, PS_VBO_8LANE{}, PS_VBO_WORD[3]{};
    int32_t PS_SFL_ADDR{}, PS_MEM_OSD{}, PS_MEM_OSD1{}, PS_FONT_ADDR{};
    int32_t PS_MCLK4{};  // a quarter of the memory clock: the input measurement's count clock
    int32_t PS_MWI{};
    int32_t PS_OAOIHST{}, PS_OAOIHED{}, PS_OAOIVST{}, PS_OAOIVED{}, PS_ACTHST{}, PS_ACTVST{};
    int32_t PS_PANEL_HW{}, PS_PANEL_VW{}, PS_PANEL_HSHAPE{}, PS_PANEL_VSHAPE{};
    int32_t PS_BMP_ADDR{}, PS_BMP_HACT{}, PS_BMP_VACT{}, PS_BMPCP_ADDR{};
    int32_t PS_BG_HACT{}, PS_BG_VACT{}, PS_BG_COLOR{}, PS_BG_TRANS{};
    int32_t PS_CHAR_HST{}, PS_CHAR_VST{}, PS_CHAR_COLOR{};
    int32_t PS_CHAR_ADDR_32ASCII{}, PS_CHAR_ADDR_32CHN{}, PS_CHAR_ADDR_64ASCII{},
        PS_CHAR_ADDR_64CHN{};
    int32_t PS_CHAR_SIZE_32ASCII{}, PS_CHAR_SIZE_32CHN{}, PS_CHAR_SIZE_64ASCII{},
        PS_CHAR_SIZE_64CHN{};

    // ---- Per-window change state ----
    int32_t g_chg_input[6]{};
    int32_t g_chg_src[6]{};  // 1 source switched, 2 input channels re-adjusted, 3 timing changed
    int32_t g_chg_mirror[6]{};
    int32_t g_chg_dbd[6]{};
    int32_t g_chg_fade[6]{};
    int32_t g_chg_pri[6]{};
    int32_t g_chg_overlay{};
    int32_t g_chg_global{};  // entry 158 of the default table

    // ---- OSD requests and text ----
    static constexpr int kOsdLines = 64;
    static constexpr int kOsdLineChars = 128;
    int32_t g_osd_setup_request{};
    int32_t g_osd_update_request{};
    // Chip-memory addresses of the four glyph sets, and which fonts the flash holds (bit 0 wide
    // 32, 1 narrow 32, 2 wide 64, 3 narrow 64); written by whichever thread reloads the fonts.
    std::atomic<uint32_t> g_font_addr_32ASCII{}, g_font_addr_32CHN{}, g_font_addr_64ASCII{},
        g_font_addr_64CHN{};
    uint8_t g_unicode_text[kOsdLines][2 * kOsdLineChars]{};  // UTF-16BE, 0x0000 ends a row
    int32_t g_unicode_line{};
    int32_t g_osd_zoom2x{};                   // 64-dot glyphs drawn at twice their size again
    int32_t g_osd_layer_bottom{};             // 1 OSD on the bottom layer
    int32_t g_osd_h_alignment_ravik{};        // 0 left, 1 centre, 2 right, 3 justify
    int32_t g_osd_v_alignment_value_ravik{};  // vertical offset of the text block
    // Per text line: start offset, remainder, gap after each character (justify), wide and
    // narrow character counts, length in characters.
    int32_t g_osd_max_line_x_ravik[kOsdLines]{};
    int32_t g_osd_line_remainder[kOsdLines]{};
    int32_t g_osd_hmargin_ravik[kOsdLines]{};
    int32_t g_osd_line_cn[kOsdLines]{};
    int32_t g_osd_line_en[kOsdLines]{};
    int32_t g_osd_line_len[kOsdLines]{};
    int32_t g_osd_mwi{}, g_osd_mwi_shift{};  // canvas pitch
    struct {
        int32_t HST, HW, VST, VW;
    } OSD_WIN{};  // the OSD band on the panel after clipping

    // ---- Input-channel and DBD tables ----
    int32_t g_ich_owner[8]{};
    int32_t g_win_ich[6][8]{}, g_win_ich_copy[6][8]{};
    int32_t g_win_dbd_mem[6][4]{};
    int32_t g_dbd_mem_owner[6]{};
    int32_t g_win_order[6][5]{};
    int32_t g_och_rec[8][4]{};
    int32_t g_och_word[8]{}, g_och_on[8]{};
    int32_t g_win_dbd_addr[6][5]{};  // a DBD window's five frame addresses
    int32_t g_win_dbd_stripes[6]{};  // and its line width in stripes

    // ---- Window records, geometry and channel sharing (by record index) ----
    ST_WIN_INFO gWininfo[6]{};
    ST_RECT g_mwin_rect[6]{};
    ST_MWIN gMwin{1, g_mwin_rect};
    // RAM window 0..5 to its record index, -1 when the window has no record (disabled). The
    // apply finds changed words by RAM window; the chip tables are by record.
    int32_t g_win_record[6]{-1, -1, -1, -1, -1, -1};
    int32_t g_win_crop[6][4]{};  // crop rectangle of each record: x, y, width, height
    _ImageWindowDef_st IWIN[6]{}, OWIN[6]{};
    int32_t g_och_owner[8]{}, g_och_borrowed[8]{};  // 0xFF free, while sharing channels out
    int32_t g_overlay_reload{};                     // the chip parameters were loaded again
    int32_t g_och_layer[8][8]{}, g_och_layer_cnt[8]{};
    int32_t g_win_num_copy[8]{};  // PM_WIN_NUM as set_output last applied it
    uint8_t g_cap_limit[6]{}, g_win_split[6]{};
    int32_t PM_MEM_WMODE[6]{};
    int32_t g_win_frozen[6]{};

    // A fade time is one byte of the parameter RAM; a larger word from the PC is clamped, so one
    // fade (a frame per step, under the C331 mutex) lasts at most about 4 s at 60 Hz.
    static constexpr int kMaxFadeFrames = 255;

    // ---- Per-window modes ----
    int32_t PM_WIN_NUM[8]{};
    int32_t PM_AREA_NUM[8]{};
    int32_t PM_WIN_SHAPE[6][2]{};
    int32_t PM_WIN_OFFSET[6][4]{};
    int32_t PM_INPUT_OFFSET[6][4]{};
    int32_t PM_INPUT_OFFSET_EN[6]{};
    int32_t PM_INPUT[6]{};  // C331 input port of each window, 6 none
    int32_t PM_OVERLAY[8]{};
    int32_t PM_OVERLAY_PRI[6]{};
    int32_t PM_WIN_HMIRROR[6]{}, PM_WIN_VMIRROR[6]{};
    int32_t PM_WIN_FADE_EN[6]{}, PM_WIN_FADE_IN[6]{}, PM_WIN_FADE_OUT[6]{};
    int32_t PM_WIN_DBD_MODE[6]{};
    int32_t PM_WIN_DBD_CLIP[6]{};
    int32_t PM_WIN_STITCHING[6]{};
    int32_t PM_OSD_EN{}, PM_OSD_HZOOM_EN{}, PM_OSD_VZOOM_EN{}, PM_OSD_DATA_MODE{},
        PM_OSD_SCROLL_MODE{};
    int32_t PM_OSD_OUTPUT_OFFSET[4]{}, PM_OSD_INPUT_OFFSET[4]{};
    int32_t PM_GLOBAL_WORD{}, PM_GLOBAL_SWITCH{}, PM_OSD_UPDATE_BUTTON{};
    int32_t PM_OSD_SCROLL_SPEED{}, PM_OSD_CHAR_64DOT{};
    int32_t PM_HNR{}, PM_VNR{}, PM_TNR{}, PM_BNR{}, PM_MNR{}, PM_COMB{}, PM_IPEN{}, PM_DIAG{},
        PM_MVFLT{};
    int32_t PM_22PD{}, PM_23PD{}, PM_22PDSQTH{}, PM_23PDSQTH{}, PM_24SF{};
    int32_t PM_IACTHST[6]{}, PM_IACTVST[6]{};

    // ---- Measured input per C331 input port ----
    static constexpr int kPortInfoWords = 12;
    static constexpr int kPortNoSignal = 10;  // index of the no-signal word in PI_PORT_INFO
    static constexpr int kPortScan = 11;      // index of the scan flag
    int32_t PI_PORT_INFO[7][kPortInfoWords]{};
    int32_t PI_ACT[6][4]{};  // HST, HW, VST, VW
    int32_t PI_STATE[6]{};
    int32_t PI_UPDATE[6]{};
    int32_t PI_SCAN_MODE[6]{};
    ST_HDMI_INFO PI_HDMI_INFO[6]{};
    int32_t PI_DBD_ACT[6][4]{};
    double PI_FV[6]{};
    double PI_FPICLK[6]{};
    uint8_t PI_VBO_RETRY[2]{};

    // ---- Control block ----
    std::atomic<uint32_t> g_osd_font_mask{};
    int fd = -1;  // SPI descriptor of the chip
    c331_drv* drv = nullptr;
    // 0..4 probing, 5 start-up, 6 panel, 7 picture, 8 running.
    std::atomic<uint8_t> thread_state{0};
    // The parameter RAM as last applied (the RAM as loaded until the first apply), guarded by
    // c331_mutex: an apply turn takes each word into it as it reads the word to apply it.
    std::array<uint8_t, 4096> applied GUARDED_BY(c331_mutex){};
    // The refresh ids one apply turn answers; ids raised later wait for the next turn.
    std::bitset<256> turn_ids;
    // The apply turn's hold of c331_mutex, released for a fade ramp; null outside a turn.
    zem::MutexLocker* turn_lock = nullptr;

    // ---- Panel ----
    ST_PANEL_INFO gPanel{};
    int32_t PS_HFP{};
    int32_t g_pattern_gen{};  // a test pattern is shown: no input polling

    // ---- Thread and start-up ----
    int initialize();
    static void* c331manageThread(void* arg) EXCLUDES(c331_mutex);
    void c331managerdeal(void* arg) EXCLUDES(c331_mutex);
    void Sleep(int ms);

    // ---- Chip start-up settings ----
    static const int32_t parameters_txt[160];
    void load_system_param();
    void define_param();
    void load_param();
    void write_initial_setting(int fd, int pll);
    int start_pll(int fd);
    void write_clock_and_output_setup(int fd);
    void write_memory_map(int fd);
    void start_vbo_transmitter(int fd, int code);
    void set_rtct(int fd, int mode);
    int pll_range_code() const;

    // ---- Output panel ----
    int zemApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice) REQUIRES(c331_mutex);
    // The panel an LED set gives (its channels and timing), set up nowhere.
    static ST_PANEL_INFO panel_geometry(int ledW, int ledH, int out1w, int out1h, int splice);
    static void lay_out_channels(ST_PANEL_INFO& p);
    // The channel geometry the panel writes to RAM 1382, 1384, ..., 1394.
    static std::array<uint16_t, 7> geometry_words(const ST_PANEL_INFO& p);
    // Output 1's width or height (`what`) held inside the LED screen's, logged when it was not.
    static int output_within_led(const char* what, int out1, int led);
    void zemApi_PnlInitOch3() REQUIRES(c331_mutex);
    int zemApi_PnlInitOch_diff(int* htt, int* vtt, int hblank, int vblank, int W, int H);
    static int find_timing(int* htt, int* vtt, int hblank, int vblank, int W, int H, bool one_och);
    void zemApi_c331InitRegPanel();
    // Output active area and active window of output channel k (both area copies).
    void write_channel_area(int fd, uint32_t k);
    void zemApi_WriteRam(int address) REQUIRES(c331_mutex);
    static const ST_PANEL_TIMING* panel_timing_table(int* count);

    // Source id to C331 input port; 255 when the id names no port.
    static int zemApi_inputCvtC331(int source);

    // ---- Input ports and measurement ----
    void load_hdmi();
    void check_input_port(int fd);
    void c331_SetInputsource(int win, int source);
    int zemApi_GetPortDevId(int port);
    int zemApi_GetWinDbdMultiPort(int win, int* list);
    void set_pict(int fd, int on, int port);
    void set_sypol(int fd, int vbo, int port);
    void set_VBORXfrange(int fd, int rx, float clock, int toggle);
    void set_VBOInput(int fd, int rx);
    void wait1_pivs(int fd, int channel);
    void wait1_pivs2(int fd);
    int wait_ifld_change(int fd, int port);
    int wait_ofld_change(int fd, int channel);
    bool window_shows_port(int win, int port, bool* dbd);
    bool port_record_stable(int port);
    void check_port(int fd, int p, int first_win);
    void port_lost(int fd, int p);
    void port_remeasure(int fd, int p);
    void vbo_rx_restart(int fd, int rx, int mask);
    void vbo_rx_reset(int fd, int rx);
    void vbo_lock_check(int fd, int p);
    int wait_field_counter(int fd, int channel, int shift, int polls);
    // ---- end of input ports and measurement ----

    // ---- Input channels and DBD inputs ----
    int ich_need(int win) const;
    int check_ich_all(int exclude);
    int check_ich(int interlaced, int pair);
    int adjust_ich(int interlaced, int pair, int win);
    int set_input(int win, int port);
    void reset_ich(int win);
    void set_ichsel(int fd, int win);
    void set_idual(int fd, int channel, int on, int port);
    void set_display_window_ich_dbd(int fd, int win, int mode);
    int check_dbd_input(int fd, int port);
    int set_dbd_mem(int fd, int win);
    void reset_dbd_mem(int win);
    void set_input_bkg(int port, int on);
    void rebuild_ich_lists();
    bool port_interlaced(int port) const;
    int move_ich_owner(int from, const int* to, int count);
    int dbd_width(int win) const;

    // ---- Window geometry and scaling ----
    void calc_iwin2(int win);
    void calc_owin2(int win);
    void calc_oact(const _ImageWindowDef_st* rect, _ImageWindowDef2_St* piece, int win);
    static void calc_scaling(const _ImageWindowDef_st* in, const _ImageWindowDef_st* out,
                             _ScalingSt* result);
    int check_stitching_win(int* win, int* pair);
    static const uint8_t lut_set_lut_vzoom_4sym[24];
    void set_lut_vzoom_4sym(int fd, int mode, int ch);
    void set_input_bkg2(int fd, int win, int onoff);
    int zemApi_IsPatternGen() const {
        return g_pattern_gen;
    }

    // ---- Multi-window channel allocation ----
    void zemApi_initEnvC331() REQUIRES(c331_mutex);
    void zemApi_initEnvC331Default() REQUIRES(c331_mutex);
    void zemApi_MultiWinInit();
    void zemApi_MultiWinGet(ST_MWIN* out);
    void zemApi_PreviewCh() {}
    void zemApi_MultiWinChAlloc(char init);
    void zemApi_MultiWinChOverlay();
    void zemApi_MultiWinChInit();
    int zemApi_OchGetWinOffset1(const ST_WIN_INFO* rec, int type);
    int zemApi_CropGetOffset(int port, const int* rect, int type);
    void c331_SetCrop(int win, int on, const int* rect);
    void zemApi_updateCrop(int port);
    // A window's record from its RAM words; false (logged once) when a table index in them is
    // out of range, so the previous layout stays.
    bool window_record_from_ram(int w, ST_WIN_INFO* rec, int k) REQUIRES(c331_mutex);
    bool window_valid(int rec, int ram_win) REQUIRES(c331_mutex);
    void crop_offsets(int rec, int port);
    int ram_port(int rec) const;  // C331 port of a record's source, 6 when none
    // Logs a bad parameter-RAM value once per item and window until the window is good again.
    enum BadRamItem { kBadCrop, kBadSource, kBadInput };
    void log_bad_ram(int item, int win, const char* text);
    void clear_bad_ram(int item, int win);
    uint32_t bad_ram_logged_[4]{};

    // ---- Layers, overlay and output ----
    void set_output(int fd);
    uint32_t output_applies{};  // set_output calls since start (debug dump and tests)
    void update_overlay_info();
    void set_overlay(int fd);
    void reset_layer_coef(int fd, int mode);
    void set_layer_coef(int fd, int win, int cnt, int dir);
    void reset_act(int fd, int mode);

    // ---- Window display on the channels ----
    void set_display_window_ich(int fd, const _ImageWindowDef_st* in, const _ImageWindowDef_st* out,
                                int win);
    void set_display_window_och(int fd, const _ImageWindowDef_st* in, const _ImageWindowDef_st* out,
                                int win);
    void set_freeze(int fd, int on);
    bool wait1_povs(int fd, int k);  // false (logged) when no frame came
    void get_och(int win, int* och);
    void set_oscwct(int fd, int k);

    // ---- Input-channel image processing ----
    void set_lut_hshrnk(int fd, int ratio, int ich, int pair);
    void set_lut_vshrnk_4sym(int fd, int ratio, int ich, int pair);
    void set_iscwct(int fd, int win);
    void set_mct(int fd, int win, int mode);
    void set_ip(int fd, int ich);
    void set_mvflt(int fd, int ich, int port);
    void set_diag(int fd, int ich, int port);
    void set_ipregs(int fd, int ich, int port);
    void set_comb(int fd, int ich, int port);
    void set_nr(int fd, int ich, int port);
    void set_nr_block(int fd, int ich, int port);
    void set_nr_tpx(int fd, int ich, int port);
    void set_nr_hvpx(int fd, int ich, int port);
    void set_nr_mosq(int fd, int ich, int port);
    void set_nr_b_480i(int fd, int ich, int port);
    void set_nr_b_480p(int fd, int ich, int port);
    void set_nr_b_1080i(int fd, int ich, int port);
    void set_nr_b_720p(int fd, int ich, int port);
    void set_nr_b_1080p(int fd, int ich, int port);
    void set_nr_b_format(int ich, int format);  // format 0..4: 480i, 480p, 1080i, 720p, 1080p
    // One register of input channel ich's banks (bank + 16 x ich); a run of one-byte registers.
    void ich_write(int ich, int bank, int address, int count, uint32_t value);
    void ich_write_run(int ich, int bank, int first, int last, uint32_t value);
    bool any_nr() const;
    static const uint32_t lut[10][24];    // vertical shrink coefficients by row
    int32_t nren_old[4]{-1, -1, -1, -1};  // noise-reduction mode last written per CMOS port
    int32_t PI_IFH[6]{}, PI_IFV[6]{};     // measured input frame size

    // ---- Picture controls, window attributes and test patterns ----
    void c331_SetBrightness(int value);
    void c331_SetContrast(int value);
    void c331_SetSharpness(int value);
    void c331_SetSaturation(int value);
    void c331_SetColorTemp(uint32_t colour);
    void c331_debugEnv();
    void zemApi_forceColorDisable(int fd);
    void c331_SetWinPriority(int win, int value);
    void c331_SetWinPriority1(int fd);
    void c331_SetWinAttr(int win, int value);
    void c331_SetWinOutput(int fd, int win, int value) REQUIRES(c331_mutex);
    void c331_SetWinDbdMode(int fd, int win, int value) REQUIRES(c331_mutex);
    void win_freeze_sel(int fd, int win, int flags);
    void c331_SetInputsourceCrop(int win, int value) REQUIRES(c331_mutex);
    // 0, or -1 (logged, nothing written) while more than one window is open.
    int c331_SetPattern(int value);
    static int dbd_code(int mode);
    int ram_window(int rec) const;  // the RAM window of a record, -1 none
    // Output channels of a record's pieces into och (8); their count.
    int window_och(int rec, int* och) const;
    void write_all_och(uint32_t descriptor, uint32_t value);  // on all eight output channels

    // OSD menu file read into g_osd_list (the parameter store's JSON files).
    void reload_osd_menu();

    // ---- Serial flash behind the chip (bank 4 engine) and the OSD fonts ----
    // Flash layout: fonts at 0x000000 (narrow 32), 0x010000 (wide 32), 0x410000 (narrow 64),
    // 0x450000 (wide 64), each a 35-byte header and its glyphs; the OSD bitmap and palette
    // from 0xED9800. Callers on different threads (PC links, USB upgrade, panel, this thread)
    // share the engine through flash_lock, one unit at a time: an erase takes it for each
    // erase unit and a write for each 256-byte page (its bytes and the address write that
    // programs it), a read for each 4 KiB; between units a waiting caller goes first, and the
    // job sets the engine up again before its next unit (the other caller changed its mode, op
    // codes, access and address). A font check, a font load and an OSD redraw hold it whole.
    // Lock order: c331_mutex, flash_lock, then the register-access locks.
    static constexpr uint32_t kFlashSize = 0x2000000;
    static constexpr uint32_t kFlashEngineBank = 4;
    static constexpr int kFontHeaderSize = 35;
    static const uint32_t osd_char_txt[15];  // character-mode defaults (load_char)
    static const uint32_t osd_bmp_txt[4];    // bitmap defaults (load_bmp)
    FlashLock flash_lock;                    // also held across a whole OSD redraw
    // Results: 0 done; -EINVAL refused before anything was sent (outside the flash, nothing to
    // write, or a block erase off its block's boundary); -ETIMEDOUT the engine did not finish;
    // another negative errno when the bus failed.
    int erase_flash(int fd, uint32_t first_unit, uint32_t count, uint8_t kind);
    // True when [address, address + length) lies inside one region of the flash (a font's
    // place); erase and write themselves do not ask it.
    static bool flash_region_fits(uint32_t address, uint32_t length);
    int write_flash(int fd, uint32_t address, uint32_t length, const uint8_t* data);
    int read_flash(int fd, uint32_t address, uint32_t length, uint8_t* out);
    // Which fonts the flash holds: g_osd_font_mask and byte 6 of the status block.
    int read_c331_font(int fd);
    // Copies the present glyph sets into chip memory at PS_FONT_ADDR, back to back.
    int update_font(int fd);
    void load_char();
    void load_bmp();
    void zemApi_debug_printf_unicode(uint32_t code, int fd);

    // ---- Service commands: dumps to the console and factory test sequences ----
    // Topic t (mod 14) of the manager's state; 0 the full parameter dump.
    int zemDbg_c331_param(int topic);
    int zemDbg_c331_param();
    void zemDbg_c331_print_regGrp(int group);
    // Every register read and printed with its descriptor (the PC's register 161); runs on the
    // caller's thread.
    void c331_print();
    // Work a dump asked for inside an apply turn that must run outside the C331 mutex.
    bool hdmi_recompute_pending = false;
    void run_deferred_debug();
    void dump_ports() const;
    void dump_memory() const;
    void dump_port_info() const;
    void input_slidebar(int fd);
    void output_slidebar(int fd);
    void disable_slidebar(int fd);
    void vbyone_rx_ch1_seq(int fd);
    void vbyone_rx_ch2_seq(int fd);
    void read_c331_b174bug(int fd);
    void write_read_c331_b80_iacthstch5(int fd);
    void sync_c331_device_test_input(int fd);
    void sync_c331_device_test_frame_lock(int fd);
    void sync_c331_device_test_frame_lock_vbyrx2(int fd);
    void sync_c331_device_test_frame_lock_vbyrx3(int fd);
    void frame_lock_test(int fd, uint32_t lock, uint32_t sync, uint32_t total, bool vbo2);

    // ---- OSD properties and text ----
    int zemApi_OsdSet(int type, int value) REQUIRES(c331_mutex);
    int zemApi_OsdSetUnicode(int lines, const int* lengths, const uint32_t (*codes)[kOsdLineChars]);
    // Glyph widths in panel pixels of narrow and wide characters, and the zoom factor that
    // divides them back to canvas pixels, for the current font size.
    int osd_narrow_width() const;
    int osd_wide_width() const;
    int osd_zoom() const;
    int osd_line_width(int line) const;

    // ---- OSD menu item to the chip ----
    // Applies the first item of list (the parsed OSD menu file).
    void set_OSD_para(OSD_LIST* list) REQUIRES(c331_mutex);
    void set_OSD_para() REQUIRES(c331_mutex) {
        set_OSD_para(&g_osd_list);
    }

    // ---- OSD rendering ----
    struct OsdCut {
        int32_t x[8], w[8];  // per channel column
        int32_t y[8], h[8];  // per channel row
    };
    void update_osd(int fd);
    void set_osd(int fd, int second);
    void set_scroll(int fd);
    void calc_osd(OsdCut* cut);
    void gen_char(int fd);
    int osd_put_unicode_string(int fd, int row, int x, int y, int fg, int bg, int gw, int gh,
                               uint32_t base, int dot64);
    int osd_put_unicode_string_1char_ravik(int fd, int row, int start, int count, int x, int y,
                                           int fg, int bg, int gw, int gh, uint32_t base,
                                           int dot64);
    int osd_paint(int fd, int x, int w, int y, int h, int colour, uint32_t base);
    int osd_copy(int fd, uint32_t src, uint32_t dst, int w, int h, int linear);
    int osd_write_dma_sfl(int fd, uint32_t flash_address, uint32_t target, int mode,
                          uint32_t length);
    void set_char_color(int fd);
    int osd_stride() const;  // bytes of one canvas row

    // ---- Thread internals ----
    void run_state() EXCLUDES(c331_mutex);  // one step of the state machine
    void probe_chip() EXCLUDES(c331_mutex);
    void start_chip();
    void start_panel() EXCLUDES(c331_mutex);
    void start_picture() EXCLUDES(c331_mutex);
    void poll_inputs();
    void apply_changes_locked(zem::MutexLocker& lock) REQUIRES(c331_mutex);
    bool apply_panel() REQUIRES(c331_mutex);
    void apply_picture() REQUIRES(c331_mutex);
    void apply_priorities() REQUIRES(c331_mutex);
    void apply_windows() REQUIRES(c331_mutex);
    void apply_window_source(int w, uint16_t old) REQUIRES(c331_mutex);
    void apply_fades() REQUIRES(c331_mutex);
    void apply_edid() REQUIRES(c331_mutex);
    void apply_debug_commands() REQUIRES(c331_mutex);
    void init_panel_from_ram() REQUIRES(c331_mutex);
    void colour_temp_from_ram() REQUIRES(c331_mutex);
    // LED-size handshake, the C331 thread's part (in its apply turn, holding c331_mutex): wait
    // until a handshake's blanking has ended before the panel is re-initialised (the C331 mutex
    // is let go meanwhile; false, logged, after 3 s), then answer with the verdict. The FPGA
    // thread steps the handshake, the producers start it (core/led_size_handshake.h).
    bool wait_outputs_blanked() REQUIRES(c331_mutex);
    // The LED size words against the applied ones: unchanged, refused (put back), or to apply.
    led_size_handshake::Answer panel_verdict() REQUIRES(c331_mutex);
    // A 16-bit word of the RAM as last applied. Caller holds c331_mutex.
    uint16_t applied16(int addr) const REQUIRES(c331_mutex) {
        return static_cast<uint16_t>(applied[addr] | applied[addr + 1] << 8);
    }
    bool changed16(int addr) const REQUIRES(c331_mutex);
    // Takes the RAM's word at addr as already applied: a writer that put a value back, which
    // the apply must not take for a change. Caller holds c331_mutex.
    void take_as_applied16(int addr) REQUIRES(c331_mutex);
    // Whether the RAM's word at addr differs from the applied copy; when it does, the word is
    // taken as applied, for the caller to apply under the same hold of c331_mutex. The list form
    // takes every word of a setting that spans several.
    bool take_change16(int addr) REQUIRES(c331_mutex);
    bool take_changes16(std::initializer_list<int> addrs) REQUIRES(c331_mutex);
    // A word the FPGA side takes from the user (RAM 2116, 2176): taken as take_change16 does,
    // and also when a user wrote it since the last hand-over, even with the value in force, so
    // that side tells the user's write from its own echo. Hands it over through `tell`.
    bool take_user_word(int addr, const std::atomic<UserWordFn>& tell) REQUIRES(c331_mutex);
    std::array<uint32_t, 2> handed_gen
        GUARDED_BY(c331_mutex) = {};  // of RAM 2116 and 2176, under c331_mutex
    void take_handed_gens() REQUIRES(c331_mutex);
    // The whole parameter RAM into `to` (4096 bytes). Caller holds c331_mutex.
    void copy_ram(uint8_t* to) REQUIRES(c331_mutex);

    // ===== what only tests read =====
    struct Counts {
        std::atomic<uint32_t> blanking_polls{0};  // looks at a blanking under way
    };
    Counts counts;

    ~c331_manage();

private:
    c331_manage();
    std::thread thread_;
    std::atomic<bool> stop_{false};
    uint32_t probe_failures_ = 0;
};

// An OSD colour text as the chip reads it, as 0xRRGGBB: a base-16 number (optional blanks, sign
// and 0x, then hex digits up to the first other character); a text that starts otherwise reads 0
// (black). PC tools write their files for this reading.
uint32_t osd_rgb_from_text(const std::string& text);

extern uint8_t g_force_bkcolor;  // 1: force the background colour at panel start
