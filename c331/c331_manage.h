// The video-processor manager. Pages, keys and the PC protocol never program the chip: they
// change the parameter RAM while holding c331_mutex and raise the apply flag with a refresh
// id; the C331 thread applies the change and emits the refresh.
//
// The thread compares the parameter RAM with its own copy of what it last applied (`applied`),
// not with the persistence shadow: any refresh persists the RAM into the shadow, which would
// otherwise hide a change written before the flag was raised.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "c331/c331_drv.h"

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

// One entry of the output timing table: a frame total.
struct ST_PANEL_TIMING {
    int32_t htt, vtt;
};

class c331_manage {
public:
    static c331_manage* p_c331_manage;

    // Makes the singleton and starts its thread (once, whatever calls it).
    static c331_manage* pInstance();

    // Producer rule: lock c331_mutex, write the parameter RAM, raise_apply(id), unlock.
    static std::mutex c331_mutex;
    // Asks the C331 thread to apply and then emit refresh id `refresh_id` (1 ordinary changes,
    // 2 user modes changed by the PC). Pending ids are a set: a pending 2 is not lost to a
    // later 1. Caller holds c331_mutex.
    static void raise_apply(uint8_t refresh_id);
    // True when an apply is pending. Caller holds c331_mutex.
    static bool apply_pending();
    // Takes the lowest pending refresh id and clears it; 0 when none. Caller holds c331_mutex.
    static uint8_t take_apply();
    // Signalled by raise_apply; the C331 thread waits on it with c331_mutex.
    static std::condition_variable apply_cv;

    // Stops and joins the thread (tests and benchmarks only; the box never stops it).
    static void shutdown();

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
    int32_t g_osd_setup_request{};
    int32_t g_osd_update_request{};
    uint32_t g_font_addr_32ASCII{}, g_font_addr_32CHN{}, g_font_addr_64ASCII{}, g_font_addr_64CHN{};
    uint8_t g_unicode_text[64][256]{};  // UTF-16BE
    int32_t g_unicode_line{};

    // ---- Input-channel and DBD tables ----
    int32_t g_ich_owner[8]{};
    int32_t g_win_ich[6][8]{}, g_win_ich_copy[6][8]{};
    int32_t g_win_dbd_mem[6][4]{};
    int32_t g_dbd_mem_owner[6]{};
    int32_t g_win_order[6][5]{};
    int32_t g_och_rec[8][4]{};
    int32_t g_och_word[8]{}, g_och_on[8]{};

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
    uint32_t g_osd_font_mask{};
    int fd = -1;  // SPI descriptor of the chip
    c331_drv* drv = nullptr;
    // 0..4 probing, 5 start-up, 6 panel, 7 picture, 8 running.
    std::atomic<uint8_t> thread_state{0};
    // The parameter RAM as last applied, and the RAM as one apply turn found it; both
    // guarded by c331_mutex.
    uint8_t applied[4096]{};
    uint8_t apply_snapshot[4096]{};

    // ---- Panel ----
    ST_PANEL_INFO gPanel{};
    int32_t PS_HFP{};
    int32_t g_pattern_gen{};  // a test pattern is shown: no input polling

    // ---- Thread and start-up ----
    int initialize();
    static void* c331manageThread(void* arg);
    void c331managerdeal(void* arg);
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
    int zemApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice);
    void zemApi_PnlInitOch3();
    int zemApi_PnlInitOch_diff(int* htt, int* vtt, int hblank, int vblank, int W, int H);
    void zemApi_c331InitRegPanel();
    // Output active area and active window of output channel k (both area copies).
    void write_channel_area(int fd, uint32_t k);
    void zemApi_WriteRam(int address);
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

    // ---- Operations of later work, called in place (each does nothing yet) ----
    void zemApi_initEnvC331();                             // window environment
    void zemApi_MultiWinChAlloc(int mode);                 // multi-window channel allocation
    void zemApi_MultiWinChInit();                          // multi-window channel set-up
    void set_output(int fd);                               // layers, overlay and output
    void set_input_bkg(int port, int on);                  // input-channel background
    void set_ichsel(int fd, int win);                      // DBD input-channel select
    void zemApi_updateCrop(int port);                      // crop of the windows on a port
    int zemDbg_c331_param(int group);                      // parameter dump
    void zemDbg_c331_print_regGrp(int group);              // register group dump
    void c331_SetBrightness(int value);                    // picture controls
    void c331_SetContrast(int value);                      // picture controls
    void c331_SetSharpness(int value);                     // picture controls
    void c331_SetSaturation(int value);                    // picture controls
    void c331_SetColorTemp(uint32_t colour);               // picture controls
    void c331_debugEnv();                                  // empty debug hook
    void zemApi_forceColorDisable(int fd);                 // end of the forced background
    void c331_SetWinPriority(int win, int value);          // window priority
    void c331_SetWinPriority1(int fd);                     // layer order from the priorities
    void c331_SetWinAttr(int win, int value);              // window mirror
    void c331_SetWinOutput(int fd, int win, int value);    // window output attributes
    void c331_SetWinDbdMode(int fd, int win, int value);   // window DBD mode
    void c331_SetInputsourceCrop(int win, int value);      // crop source of a window
    void c331_SetCrop(int win, int on, const int* rect);   // window crop rectangle
    void c331_SetPattern(int value);                       // test patterns
    void zemApi_OsdSet(int item, int value);               // OSD properties
    void set_OSD_para();                                   // OSD menu to the chip
    void update_osd(int fd);                               // OSD rendering
    void set_osd(int fd, int buffer);                      // OSD rendering
    void set_scroll(int fd);                               // OSD rendering
    void load_char();                                      // OSD defaults
    void read_c331_font(int fd);                           // fonts in the serial flash
    void update_font(int fd);                              // fonts into chip memory
    void input_slidebar(int fd);                           // debug commands
    void output_slidebar(int fd);                          // debug commands
    void disable_slidebar(int fd);                         // debug commands
    void vbyone_rx_ch1_seq(int fd);                        // debug commands
    void vbyone_rx_ch2_seq(int fd);                        // debug commands
    void read_c331_b174bug(int fd);                        // debug commands
    void write_read_c331_b80_iacthstch5(int fd);           // debug commands
    void sync_c331_device_test_input(int fd);              // factory test sequences
    void sync_c331_device_test_frame_lock(int fd);         // factory test sequences
    void sync_c331_device_test_frame_lock_vbyrx2(int fd);  // factory test sequences
    void sync_c331_device_test_frame_lock_vbyrx3(int fd);  // factory test sequences
    // OSD menu file read into g_osd_list (the parameter store's JSON files).
    void reload_osd_menu();

    // ---- Thread internals ----
    void run_state();  // one step of the state machine
    void probe_chip();
    void start_chip();
    void start_panel();
    void start_picture();
    void poll_inputs();
    void apply_changes_locked(std::unique_lock<std::mutex>& lock);
    bool apply_panel(std::unique_lock<std::mutex>& lock);
    void apply_picture();
    void apply_priorities();
    void apply_windows();
    void apply_window_source(int w);
    void apply_fades();
    void apply_edid();
    void apply_debug_commands();
    void init_panel_from_ram();
    void colour_temp_from_ram();
    // Waits, without holding the C331 mutex, until the FPGA side has left step 1 of the
    // LED-size handshake; false (logged) when it did not within its bound.
    bool wait_led_para_idle(std::unique_lock<std::mutex>& lock);
    // A 16-bit word of the RAM as last applied. Caller holds c331_mutex.
    uint16_t applied16(int addr) const {
        return static_cast<uint16_t>(applied[addr] | applied[addr + 1] << 8);
    }
    bool changed16(int addr) const;
    // The whole parameter RAM into `to` (4096 bytes). Caller holds c331_mutex.
    void copy_ram(uint8_t* to);

    ~c331_manage();

private:
    c331_manage();
    std::thread thread_;
    std::atomic<bool> stop_{false};
    uint32_t probe_failures_ = 0;
};

extern uint8_t g_force_bkcolor;  // 1: force the background colour at panel start
