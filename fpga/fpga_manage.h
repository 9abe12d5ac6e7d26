// The FPGA manager: owns the two FPGAs, their configuration flashes and the pad lines that route
// the shared SPI bus, the register mirror and the sending-card tables served to the PC, and the
// FPGA thread that brings the FPGAs up, watches them and applies the requests other threads
// leave in flags.
//
// Lock order: irq_mutex, then port_send_mutex (one frame onto a port), then rmw_mutex (one
// register's read-modify-write, which for register 2 includes the command-table handler with
// its flash access and register writes, hence recursive), then either Utils::_spi_mutex or
// mirror_mutex (never both). Utils::_led_para_init_mutex is taken before all of them by the
// handshake. Utils::_fpga_multicast_mutex (the PC's table access) may be held when mirror_mutex
// is taken; the card code takes it under irq_mutex.
#pragma once

#include <QStringList>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/thread_safety.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "fpga/clock_record.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_globals.h"
#include "fpga/user_words.h"
#include "platform/soc_window.h"
#include "platform/spi_bus.h"

class rcvRecovery;
class rcv_job_events;

struct TimeRealType {
    uint8_t second;
    uint8_t minute;
    uint8_t hour;
    uint8_t day;
    uint8_t weekday;  // not filled
    uint8_t month;
    uint16_t year;
};

// The on/off schedule as loaded: up to four daily times to light the screen and to black it
// (entries 0..3 of each array are used), each armed until it fires once that day.
struct OnOffSchedule {
    uint8_t count;
    uint8_t off_by_schedule;  // the schedule blacked the screen
    uint8_t day;              // day of month last seen
    uint8_t on_hour[8], on_minute[8], off_hour[8], off_minute[8];
    uint8_t on_armed[8], off_armed[8];
};

class fpga_manage {
public:
    // Pad words of the SoC window (0x10 high, 0 low).
    static constexpr uint32_t fpga1_select = 0x207900;
    static constexpr uint32_t fpga0_select = 0x207810;
    static constexpr uint32_t fpga0_header = 0x207838;
    static constexpr uint32_t fpga1_header = 0x207954;
    static constexpr uint32_t fpga0_reset = 0x207858;
    static constexpr uint32_t fpga0_flash_access = 0x207860;
    static constexpr uint32_t fpga1_reset = 0x207864;
    static constexpr uint32_t fpga1_flash_access = 0x207950;
    static constexpr uint32_t fpga0_irq = 0x207908;
    static constexpr uint32_t fpga1_irq = 0x207910;
    static constexpr uint32_t receiver_power_a = 0x207940;
    static constexpr uint32_t receiver_power_b = 0x207944;
    static constexpr uint32_t input_line_c = 0x2848;
    static constexpr uint32_t input_line_d = 0x207800;
    static constexpr uint16_t kLineHigh = 0x10;

    static constexpr int kRegCount = 170;
    static constexpr int kParaSize = 1024;
    static constexpr int kEthSize = 136;
    static constexpr int kBringUpRunning = 3;  // mirror register 80
    static constexpr int kLit = 18;            // start-up step
    static constexpr int kVboDone = 7;         // V-by-One step
    static constexpr uint32_t kParaFlashAddr = 0x308000;
    static constexpr uint32_t kOnOffFlashAddr = 0x30E000;
    static constexpr uint32_t kBrightFlashAddr = 0x30F000;
    static const uint8_t RAM1[256];

    static fpga_manage* p_fpga_manage;
    // Not EXCLUDES of the C331 mutex: its first call (main's, before the threads) takes it once.
    static fpga_manage* pInstance();

    // --- locks and hand-over flags ---
    zem::Mutex mirror_mutex;  // reg_mirror
    // The pass-through state and the receive side (what GUARDED_BY(irq_mutex) marks), and the
    // FPGAs' interrupt polls.
    zem::Mutex irq_mutex;
    // One register's read-modify-write, and the brightness and schedule state.
    zem::RecursiveMutex rmw_mutex;
    // One frame onto a port: the select, buffer, length and start registers; no memory.
    zem::Mutex port_send_mutex;
    std::atomic<uint8_t> answer_ready{0};  // PC pass-through answer handed over
    uint8_t ram_check[2] = {};
    // A reset pulse in progress. Atomic: a plain read of both bytes may be widened by the
    // compiler into one load that takes in answer_ready, which the link threads write.
    std::atomic<uint8_t> rst_active[2] = {};
    uint32_t rst_start[2] = {};
    // The FPGA side's own: set when it takes a user's close-LED, cleared once applied.
    std::atomic<uint8_t> output_status_request{0};
    // The owner's close-LED (RAM 2116 not 0) as the user's last hand-over or this manager's
    // own register-0 write last set it, and the write generation of the user's close-LED it
    // last took, which its echoes into RAM 2116 carry. Written under rmw_mutex: the FPGA
    // thread never reads RAM 2116, which is guarded by the C331 mutex it may not take.
    std::atomic<uint8_t> close_led{0};
    uint32_t close_led_gen GUARDED_BY(rmw_mutex) = 0;
    // The C331 apply's hand-overs of RAM 2116 and 2176, taken by the FPGA side in order.
    UserWordMailbox user_words;
    std::vector<std::string> usb_file_list;  // paths as the names' bytes

    // --- devices ---
    fpga_drv* drv = nullptr;
    std::unique_ptr<platform::SpiBus> spi[4];  // FPGA 0, FPGA 1, flash 2, flash 3
    std::unique_ptr<platform::SocWindow> soc;
    std::atomic<bool> fpga_ready{false};  // pads and buses set up: access allowed

    // --- tables (per FPGA): the mirror under mirror_mutex, the sending-card tables the PC reads
    // and writes under Utils::_fpga_multicast_mutex ---
    std::array<std::array<uint8_t, kRegCount>, 2> reg_mirror GUARDED_BY(mirror_mutex) = {};
    std::array<std::array<uint8_t, kParaSize>, 2> ram_para
        GUARDED_BY(Utils::_fpga_multicast_mutex) = {};
    std::array<std::array<uint8_t, kParaSize>, 2> ram_rx
        GUARDED_BY(Utils::_fpga_multicast_mutex) = {};
    std::array<std::array<uint8_t, kParaSize>, 2> ram_tx
        GUARDED_BY(Utils::_fpga_multicast_mutex) = {};
    std::array<std::array<uint8_t, kEthSize>, 2> eth_para
        GUARDED_BY(Utils::_fpga_multicast_mutex) = {};
    std::array<std::array<uint8_t, kEthSize>, 2> eth_back_para
        GUARDED_BY(Utils::_fpga_multicast_mutex) = {};
    // The tables by their protocol names, each guarded as the table it points at (an array of
    // pointers can't carry the annotation): the program reads the tables themselves.
    uint8_t* MCU_REG_func[2];
    uint8_t* MCU_RAM_PARA_func[2];
    uint8_t* MCU_RAM_RX_func[2];
    uint8_t* MCU_RAM_TX_func[2];
    uint8_t* MCU_RAM_ETH_PARA_func[2];
    uint8_t* MCU_RAM_ETH_BACK_PARA_func[2];
    std::array<uint8_t, 2048> MCU_RAM_DEFAULT GUARDED_BY(Utils::_fpga_multicast_mutex) = {};
    std::array<uint8_t, 1024> MCU_RAM_EXTEND GUARDED_BY(Utils::_fpga_multicast_mutex) = {};
    std::array<uint8_t, 1024> MCU_RAM_CMD GUARDED_BY(Utils::_fpga_multicast_mutex) = {};
    std::array<uint8_t, 1024> MCU_RAM_ZOOM GUARDED_BY(Utils::_fpga_multicast_mutex) = {};

    // --- bring-up bookkeeping ---
    uint8_t reg0_bit3 = 0;
    TimeRealType time_record = {};
    uint32_t time_record_tick = 0;
    uint8_t clock_record_started = 0;
    clock_record_run clock_record{*this};     // operating time in FPGA 0's flash
    std::atomic<uint8_t> start_step[2] = {};  // also read by get_fpga_status callers
    uint8_t phy_done[2] = {};
    uint32_t step_time[2] = {};
    std::atomic<uint8_t> vbo_step[2] = {};
    uint32_t passes_since_reset[2] = {};
    uint8_t startup_polls[2] = {};
    uint8_t startup_resets[2] = {};
    uint16_t vbo_retry[2] = {};
    uint8_t vbo_resets[2] = {};
    uint8_t link_fault[2] = {};
    uint8_t fault_substep[2] = {};
    uint16_t fault_polls[2] = {};
    uint32_t restart_tick[2] = {};
    uint8_t rcv_pending[2] = {};
    // A bring-up under way (from power-on, or from a reset pulse or a lost version after the
    // FPGA lit) and its start tick. The start is written before the flag and read after it:
    // the links ask from their own threads.
    std::atomic<uint8_t> bringup_on[2] = {};
    std::atomic<uint32_t> bringup_start[2] = {};
    // A bring-up not lit after 15 s has failed its attempts (an FPGA that never gets ready is
    // reset every second or so): it keeps trying, but the FPGA no longer counts as restarting.
    static constexpr uint32_t kBringUpTicks = 1500;
    rcvRecovery* rcv_recovery = nullptr;

    // --- link watch ---
    uint16_t wlan_words[2] = {};

    // ===== start-up and thread =====
    int initialize();
    int initialize_start();
    void softinit();
    static void* fpgamanageThread(void* arg) EXCLUDES(ZemRamPara::pInstance()->mutex);
    void fpga_manage_deal();
    // One pass of the thread: the USB upgrade's step while one runs, else the FPGA work.
    void thread_pass() EXCLUDES(ZemRamPara::pInstance()->mutex);
    // Wakes the thread before its next due time (a request was left for it).
    void wake();
    // Stops and joins the thread (tests only; the box never stops it).
    void stop_thread();
    // Stops the thread and releases the manager with its buses, pad window and tables, so that
    // the next pInstance() starts afresh on the box selected then (tests only). The C331
    // thread, which hands requests to it, is stopped first.
    static void shutdown();
    // Milliseconds the thread waits before its next pass.
    int next_pass_ms();
    // Source manager's FPGA board state (2: powered and out of reset).
    static uint8_t board_state(int fpga);
    // Drives a pad line of the window (the source thread uses the receiver and reset lines).
    void drive_line(uint32_t line, uint16_t value);

    // ===== register, RAM-area and flash access =====
    int read_fpga_register(uint8_t reg, uint8_t* out, uint8_t fpga);
    int write_fpga_register(uint8_t reg, uint8_t value, uint8_t fpga, uint8_t mask);
    int write_fpga_ram(const uint8_t* buf, uint32_t address, uint32_t length, uint8_t area,
                       uint8_t fpga);
    int read_fpga_ram(uint8_t* out, uint32_t address, uint32_t length, uint8_t area, uint8_t fpga);
    static uint32_t fpga_cmd_to_spi_data(uint8_t cmd, uint8_t area, uint32_t address);
    static uint32_t fpga_reg_cmd_to_spi_data(uint8_t cmd, uint8_t reg, uint8_t mask);
    void read_from_register(uint8_t reg, uint8_t fpga);
    uint8_t mirror(int fpga, uint8_t reg);  // a mirror byte, read under mirror_mutex
    void write_to_0x00_register(uint8_t reg, uint8_t mask, uint8_t value, uint8_t fpga);
    void write_to_register(uint8_t reg, uint8_t mask, uint8_t value, uint8_t fpga);
    void fpga_flash_access() {}
    // Flash of device 2 (FPGA 0) or 3 (FPGA 1): fpga_drv results (1 done, 0 refused, 2 failed).
    int flash_erase(int device, uint32_t start_sector, int type, uint32_t count);
    int flash_write(int device, uint32_t address, const uint8_t* data, uint32_t length);
    int flash_read(int device, uint32_t address, uint32_t length, uint8_t* out);
    int flash_uid(int device, uint8_t* out);

    // ===== bring-up =====
    // A reset pulse: the FPGA's bring-up starts again, for the reason given.
    void reset_fpga_rst(int fpga, const char* why = "reset");
    void check_fpga_rst();
    // True from a reset pulse, or from the start of a bring-up (the first one at power-on
    // included), until the bring-up lights the FPGA or fails its attempts (kBringUpTicks).
    // Any thread.
    bool restarting(int fpga) const;
    void power_up_fpga_start(int mode, int fpga);
    void power_up_check_fpga_status(int fpga);
    int get_fpga_status();
    uint8_t check_vbo_status(int fpga);
    void run_clock_record();
    void reg_IRQ_Dealwith(int fpga, int force) REQUIRES(irq_mutex);
    int IT8563WE_Get(TimeRealType* out);

    // ===== tables =====
    int Dealwith_mcu_ram();
    void fpgainit(int fpga);
    int check_fpga_ram_param(int fpga);
    void eth_param_init(int mode, int fpga) REQUIRES(Utils::_fpga_multicast_mutex);
    void update_eth_state(int fpga);
    void FPGA_to_RAM(int fpga);
    void Version_to_RAM() REQUIRES(Utils::_fpga_multicast_mutex);
    void PHY_status_to_RAM() REQUIRES(Utils::_fpga_multicast_mutex);
    void T57_back_mcu_set_net_para(int fpga) REQUIRES(Utils::_fpga_multicast_mutex);
    void T57_mcu_set_net_para(int fpga) REQUIRES(Utils::_fpga_multicast_mutex);
    static int get_eth_param_addr(uint8_t port, uint16_t* x, uint16_t* y, uint16_t* w, uint16_t* h);
    static void get_port_count_addr(uint8_t port, uint16_t* count, uint16_t* flag);
    // These four take the tables' mutex themselves.
    void get_eth_min_x_y(int fpga, uint16_t* x, uint16_t* y) EXCLUDES(Utils::_fpga_multicast_mutex);
    void get_eth_max_border(int fpga, uint16_t* right, uint16_t* bottom)
        EXCLUDES(Utils::_fpga_multicast_mutex);
    void get_eth_lcd_x_y(int fpga, uint16_t* x, uint16_t* y) EXCLUDES(Utils::_fpga_multicast_mutex);
    void get_eth_lcd_w_h(int fpga, uint16_t* w, uint16_t* h) EXCLUDES(Utils::_fpga_multicast_mutex);
    // The PC's view of the tables by function number (see fpga_tables.cpp): a pointer to the
    // table of `fpga` and its size, or null for an unknown number or the mirror (10), which its
    // own mutex guards. The pointer is the caller's while it holds the tables' mutex.
    uint8_t* table_by_function(int function, int fpga, uint32_t* size)
        REQUIRES(Utils::_fpga_multicast_mutex);
    // PC reads and writes of a table under Utils::_fpga_multicast_mutex; 0 done, 1 out of range
    // or unknown table.
    int pc_read_table(int function, int fpga, uint32_t address, uint8_t* out, uint32_t length)
        EXCLUDES(Utils::_fpga_multicast_mutex, mirror_mutex);
    int pc_write_table(int function, int fpga, uint32_t address, const uint8_t* data,
                       uint32_t length) EXCLUDES(Utils::_fpga_multicast_mutex);

    // ===== screen status and handshake =====
    void SCREEN_fpgactrl_status(int status);
    void SCREEN_fpgactrl_status2(int status, int fpga);
    int set_output_status();
    // The video-processor apply's calls when the brightness (RAM 2176) or the LED close (RAM
    // 2116) changed or a user wrote it, with the word's write generation: into the running
    // manager's mailbox, waking its thread. Under the C331 mutex they take only the mailbox's.
    static void brightness_changed(uint16_t ram, uint32_t gen);
    static void close_led_changed(uint16_t closed, uint32_t gen);
    // The user's close-LED handed over since the last pass, if any: the output-status request.
    void take_close_led();
    // The output stays black at the end of a bring-up: the owner closed the LED or the
    // schedule's off time blacked it.
    bool output_held_black();
    // LED-size handshake, the FPGA thread's part: each pass steps it (black, the LCD output
    // off, the restart of both FPGAs), and the C331's answer or a producer's start wakes the
    // thread through led_size_handshake_moved (core/led_size_handshake.h). The C331 thread
    // answers from its apply turn, the producers start it under the C331 mutex.
    void set_led_para_deal();
    static void led_size_handshake_moved();
    // The output ports' links, bit n port n (0..9 FPGA 0, 10..19 FPGA 1; 0 for an FPGA that
    // does not run): read over SPI, or only from the mirror the FPGA thread keeps.
    uint32_t get_wlan_state();
    uint32_t wlan_state_mirror();
    void check_wlanonline_state();

    // ===== brightness, on/off schedule and clock setting (fpga_bright.cpp) =====
    // The brightness and schedule state is guarded by rmw_mutex: the PC's command table runs
    // under it (register 2) from the PC's thread, the tasks run on the FPGA thread.
    static constexpr int kRamBrightness = 2176;  // parameter RAM, 0..100 %
    static constexpr int kHalfHours = 48;
    static constexpr int kBrightTableSize = 57;
    static constexpr int kOnOffTableSize = 50;
    std::atomic<uint32_t> bri_mode{0};  // byte 8 of the brightness table
    std::array<uint8_t, kHalfHours> HalfHourValue GUARDED_BY(rmw_mutex);
    uint8_t half_hour_index GUARDED_BY(rmw_mutex) = 255;
    // RAM 2176 as the user's last hand-over or this side's last echo left it, and the write
    // generation of the user's brightness last taken, which the echoes carry: this side never
    // reads the RAM word, which PCs write under the C331 mutex.
    uint16_t bri_ram GUARDED_BY(rmw_mutex) = 0;
    uint32_t bri_ram_gen GUARDED_BY(rmw_mutex) = 0;
    // The brightness the box kept in its parameter file is to be applied at the next apply (a
    // bring-up found the flash's manual table behind it).
    bool bri_kept_pending GUARDED_BY(rmw_mutex) = false;
    // The last brightness apply found no port linked: the level waits for a link.
    std::atomic<uint8_t> bri_waits_for_link{0};
    OnOffSchedule onoff{};
    uint8_t sensor_data[128] = {};  // the light sensor's last good reading page

    // Register 6 value of level v in a mode: 16, 17 and 2 take 0..255 as it is; every other
    // mode a level 1..16 as v x 16 - 1, with 0 taken as 1 and levels past 16 as 16.
    static uint8_t bri_register_value(uint32_t mode, uint32_t level);
    // Register 6 value of a brightness of ram % (at most 100) through the request: at least
    // 15 outside modes 16 and 17.
    static uint8_t bri_request_value(uint32_t mode, uint32_t ram);
    void Power_ctrl_init();
    void Power_ctrl_reset();
    void record_bright_change();
    // At bring-up, after the table's load: the brightness the parameter file kept, when the
    // table in force is manual and shows another, is applied as a request at the next apply.
    void keep_loaded_brightness();
    void Brightness_init(const uint8_t* table);
    // The brightness apply: 1 applied (or no port has link), 0 when the FPGAs disagree.
    int Brightness_hand_dealwith();
    int set_fpga_bri_val();
    // A level that waited for a link goes out on the pass that finds one, also while a PC
    // talks: it sends the cards nothing.
    void apply_brightness_on_link();
    // The PC's manual level of the command table (in the form of mode 0 or 16) is in soft
    // register 64: the brightness switches to that mode and applies it.
    void Brightness_manual_apply(uint8_t mode);
    void Extension_function();
    void Brightness_task();
    void Brightness_hand_change();
    void Brightness_time_change();
    // Light sensor: find its port, read it (waits at most 35 ticks for the reply), move the
    // level one step towards what it asks for, apply.
    void Brightness_auto_change();
    void Brightness_check_VMF();
    void Brightness_read_VMF_value();
    void Brightness_auto_filter();
    void record_onoff_time(int device);
    void OnOff_time();
    void dealwith_onoff();
    void Checktime();
    void usb_upgrade_manage_deal() EXCLUDES(ZemRamPara::pInstance()->mutex);

    // ===== USB-disk upgrade (one step per pass while g_usb_grade is set) =====
    uint32_t usb_file_count = 0;
    uint8_t downing_mcu = 0, downing_txc1 = 0, downing_txc2 = 0, downing_osd = 0;
    QString usb_upgrade_time;
    int usb_installed = 0, usb_failed = 0, usb_refused = 0;  // of the last job
    // Of the last job's files: those read, and those the disk took with it before they were.
    int usb_files_read = 0, usb_not_read = 0;
    int usb_fault = 0;  // UsbFault of the last job's first refused package or failed child
    // Upgrade files past the limit and "._NAME" companions; the control channel reads it.
    std::atomic<int> usb_left_out{0};
    void usb_upgrade_deal() EXCLUDES(ZemRamPara::pInstance()->mutex);
    void get_usb_file_list_path();
    void usb_upgrade_main_deal() EXCLUDES(ZemRamPara::pInstance()->mutex);
    // Each child, read whole from the disk before: true when written and read back equal (the
    // flags are set by the caller).
    bool update_muc_file(const std::vector<uint8_t>& image);
    bool update_txc_file(uint8_t device, const uint8_t* bits, uint32_t length);  // the bitstream
    bool update_c331_osd_font_file(const std::vector<uint8_t>& font);  // header and glyphs

    // ===== receiving-card frames (rcv_frames.cpp) =====
    static constexpr uint16_t kAllCards = 0x0FFF;  // every card on every port
    static constexpr uint16_t kPortCards = 0xFFE;  // all cards of one port (card index)
    static constexpr uint32_t kPortBuffer = 1024;  // a port pair's transmit or receive buffer
    static constexpr uint32_t kMinCardFrame = 11;  // header and check byte
    static constexpr int kPortsPerFpga = 10;
    static constexpr uint32_t kBoardPortMask = 0x3FF;
    static constexpr int kRxPairs = 5;
    // Builders: the frame into out; the length (or check byte, as each says) is returned, and
    // all but the card-position frame store it at g_send_para byte 12. A frame whose data
    // would not fit a transmit buffer is not built (0).
    uint8_t rcv_card_cmd_create(uint8_t* out, uint8_t port);  // check byte; 23 bytes
    uint8_t load_write_ram_cmd_create(uint8_t port, uint16_t card, uint32_t address,
                                      const uint8_t* data, uint16_t len, uint8_t* out,
                                      bool broadcast);  // check byte; len + 19 bytes
    uint16_t load_write_reg_cmd_create(uint8_t port, uint16_t card, const uint8_t* data,
                                       uint16_t len, uint8_t* out, bool broadcast);
    uint16_t load_write_user_defined_cmd_create(uint8_t port, uint16_t card, const uint8_t* data,
                                                uint16_t len, uint8_t* out, bool broadcast);
    uint16_t save_para2flash_cmd_create(uint8_t port, uint16_t card, uint8_t* out, bool broadcast);
    uint16_t rcv_active_firmware_cmd_create(uint8_t port, uint16_t card, const uint8_t* data,
                                            uint16_t len, uint8_t* out);
    uint16_t rcv_reconfig_cmd_create(uint8_t port, uint16_t card, const uint8_t* data, uint16_t len,
                                     uint8_t* out);
    uint16_t load_search_rxc_cmd_create(uint8_t port, const uint8_t* data, uint16_t len,
                                        uint8_t* out);
    uint8_t ram_reset_cmd_create(uint8_t* out, const SCAN_PARA& scan, uint8_t port);  // 15
    uint8_t save_para_cmd_create(uint8_t* out, uint8_t port);                         // 13
    uint8_t mapping_enable_cmd_create(uint8_t port, uint8_t* out);                    // 15
    // Position of card `index` in the quick-lighting screen of line_type; false (x and y
    // unchanged) for a routing, size or index outside it.
    bool get_rcvcard_x_y(uint16_t index, uint16_t* x, uint16_t* y);
    uint16_t get_port_card_num(uint8_t port);  // port 0..19; 0 above
    uint16_t check_netport_card(int fpga);     // sum of the ten ports, wrapping
    // 1 once the port pair's transmit buffer is free, 0 after 3 s or for a port above 15.
    int wait_fpga_send_ready(uint8_t port, int fpga);
    int check_multi_port_send(uint32_t mask, const uint8_t* frame);

    // ===== port send and receive, PC pass-through (rcv_ports.cpp) =====
    // 0 sent; -EINVAL for a bad port or length, -EBUSY (logged) when the transmit buffer
    // stayed busy: the frame is then not sent.
    int Send_to_port(const uint8_t* frame, uint32_t n, uint8_t port, int fpga);
    void Rcv_data_from_eth(int fpga) REQUIRES(irq_mutex);
    void update_eth_rcv_num(const uint8_t* frame, uint8_t port, int fpga) REQUIRES(irq_mutex);
    void check_fpga_net_data_status(int fpga) REQUIRES(irq_mutex);
    void irq_fallback_poll(int fpga) REQUIRES(irq_mutex);
    // The cards' answer to a PC frame: its body with the check byte (under irq_mutex).
    using CardAnswerFn = std::function<void(const uint8_t* body, uint32_t len)>;
    // A PC frame for the cards (under irq_mutex): 1 handed to the ports, 0 refused (length)
    // or not sent (transmit buffer busy), kNotSentByRule when its mode or port byte sends it
    // nowhere (port byte FF too, when no linked port has cards). Its answer goes to `answer`,
    // once; a frame sent later takes the place of one still unanswered.
    // A frame given up unanswered keeps its ports quiet for one more `window` after its own
    // window ended: its late answer would match the next frame to the same port, card and
    // command. Such a frame is not sent within the quiet: kPortQuiet, and *quiet_until says
    // when it may go (with no quiet_until, it goes at once).
    static constexpr int kNotSentByRule = 2;
    static constexpr int kPortQuiet = 3;
    using Steady = std::chrono::steady_clock;
    int Dealwith1_PC_to_eth(uint32_t n, const uint8_t* frame, CardAnswerFn answer = {},
                            std::chrono::milliseconds window = {},
                            Steady::time_point* quiet_until = nullptr) REQUIRES(irq_mutex);
    // Linked ports with cards of both FPGAs (port + 16 * FPGA), where a frame for all ports
    // goes; multi_port_send sends to them and returns the number of failed sends.
    uint32_t multi_port_targets() REQUIRES(irq_mutex);
    int multi_port_send(uint8_t* frame, uint32_t n, uint32_t targets) REQUIRES(irq_mutex);

    // Pass-through state (under irq_mutex).
    uint8_t multi_port_pass GUARDED_BY(irq_mutex) = 0;
    uint32_t answered_ports GUARDED_BY(irq_mutex) = 0;  // port + 16 * FPGA
    uint32_t multi_send_time GUARDED_BY(irq_mutex) = 0;
    std::atomic<uint8_t> multi_waiting{0};  // cleared under Utils::_system_mutex
    uint8_t expected_kind GUARDED_BY(irq_mutex) = 0;
    uint8_t all_cards_source GUARDED_BY(irq_mutex) = 0;
    // answer_buffer holds a reply for the controller.
    uint8_t answer_flag GUARDED_BY(irq_mutex) = 0;
    std::array<uint8_t, 130> answer_buffer
        GUARDED_BY(irq_mutex) = {};              // bytes 9..138 of that reply
    std::atomic<uint32_t> dropped_replies{0};    // replies that named no port or were cut
    std::atomic<uint32_t> unclaimed_answers{0};  // answers for the PC that nobody waits for
    // Answers for the PC while a frame waits, but from another port or card or to another
    // command: dropped.
    std::atomic<uint32_t> unmatched_answers{0};
    std::atomic<uint32_t> send_failures{0};  // frames not sent: transmit buffer busy
    std::array<uint8_t, 2> fallback_on GUARDED_BY(irq_mutex) = {};
    std::array<uint32_t, 2> fallback_tick GUARDED_BY(irq_mutex) = {};
    CardAnswerFn pc_answer GUARDED_BY(irq_mutex);  // where the answer to the PC frame out goes
    // What the answer to the PC frame out must be: from one of the ports it went to (port +
    // 16 * FPGA), from its card (kAnyCard for a frame to all cards) and to its command.
    static constexpr uint16_t kAnyCard = 0xFFFF;
    struct PcFrameWait {
        uint32_t ports;
        uint16_t card;
        uint8_t command;
    };
    PcFrameWait pc_wait GUARDED_BY(irq_mutex){};
    // The frame out: when its window ends, and its length (under irq_mutex).
    Steady::time_point pc_window_end GUARDED_BY(irq_mutex){};
    std::chrono::milliseconds pc_window GUARDED_BY(irq_mutex){0};
    // The last frame given up unanswered, and the end of its ports' quiet (under irq_mutex).
    PcFrameWait quiet_wait GUARDED_BY(irq_mutex){};
    Steady::time_point quiet_end GUARDED_BY(irq_mutex){};
    // The last PC frame passed through to the cards: its tick, and how many have passed
    // (written under irq_mutex; the mailbox jobs give way to these frames).
    std::atomic<uint32_t> pc_card_frame_tick{0};
    std::atomic<uint32_t> pc_card_frames{0};

    // ===== mailbox jobs (rcv_jobs.cpp, rcv_recovery_job.cpp, rcv_replay.cpp) =====
    void SmartMapping_deal();                // task 1
    void save_para_deal();                   // task 3
    void mapping_enable_deal();              // task 4
    void rcv_recovery_check_deal(int kind);  // tasks 5 (0 query), 6 (1 recovery), 2 (2 scan)
    // A query (task 5) is posted and has not told its outcome yet.
    static bool query_running();
    // One step of the replay of the operation the reader holds; 1 when it has finished, 0
    // while it runs.
    int load_rcv_xy_operate(const QString& path, uint32_t position, bool scan);
    // A replay of a card file starts: it may run 60 s and the bound of each block it checks
    // (replay_bound_adds). Each pass of the job adds the time since the last that the PC's
    // card frames did not pause: only the time it ran counts. replay_past_bound: true, logged,
    // once it has run past it.
    void replay_begins();
    void replay_bound_adds(uint64_t ms);
    void replay_clock();
    bool replay_past_bound();
    rcv_job_events* job_events = nullptr;  // progress and the recovery list, for the pages
    // The card a query found, for the next recovery; valid 0 when there is none.
    struct RecoveryTarget {
        uint8_t valid, screen, net_index, net, card;
        uint16_t net_cards;  // the net's card count in the file
    };
    RecoveryTarget recovery_target{};
    int recovery_fault = 0;  // RecoveryOutcome::Kind of the receiving-card job ending in error
    // The query's nets asked, and those whose cards did not answer ("screen/net").
    int query_nets_asked = 0;
    QStringList query_silent_nets;
    std::atomic<uint32_t> replay_failures{0};  // operations that ended without success

    // ===== card search and counts (rcv_search.cpp) =====
    void Check_search_card();
    void Search_Card_Cmd();
    void CHECK_search_cmd_status();
    void check_error_rcv_search_card_cmd(uint8_t port, int fpga, uint32_t config_id,
                                         uint32_t device_id, uint8_t flag);
    void deal_with_search_concurrent(int fpga) REQUIRES(irq_mutex);
    void Search_concurrent_back_result(uint8_t* frame, int group, int fpga, uint32_t len)
        REQUIRES(irq_mutex);
    std::atomic<uint32_t> search_sent{0};      // port + 16 * FPGA
    std::atomic<uint32_t> search_answered{0};  // 8 * FPGA + pair; bits 31, 30: evaluate
    // PC address 0xA000007C: stored whenever a port's count changes.
    std::atomic<uint16_t> total_card_count{0};
    // Config id of the screen a query asks about: a search reply with it names the card to
    // recover (the reply may be read on a PC link's thread).
    std::atomic<uint32_t> query_config_id{0};

    // ===== what only tests set, before the threads start =====
    struct TestHooks {
        // Told each time an FPGA's bring-up starts again and why, on the thread that started
        // it (a link's interrupt poll may see an FPGA lost).
        std::function<void(int fpga, const char* why)> on_bringup_restart;
        // Told on the FPGA thread when the USB upgrade has checked file `file` of its list and
        // is about to write its parts.
        std::function<void(int file)> on_usb_package_checked;
    };
    TestHooks hooks;

    ~fpga_manage();
    // Fresh bookkeeping and tables, as after construction (construction; tests).
    void clear_state() EXCLUDES(c331_manage::c331_mutex);
    void clear_card_state();  // pass-through and search state (rcv_ports.cpp)

private:
    void clear_bringup_state();
    // RAM 2116 and 2176 with their write generations as loaded, before the threads run: the
    // user's words until the C331 apply hands one over.
    void take_loaded_user_words() EXCLUDES(c331_manage::c331_mutex);
    struct RxFrame {
        uint8_t b[kPortBuffer];
        uint32_t len;
        int pair;
        bool good;
    };
    uint8_t fresh_register(uint8_t reg, int fpga);  // read into the mirror, then the value
    static bool receive_flag(int pair, uint8_t r129, uint8_t r145);
    // False: length outside the buffer.
    bool read_receive(int fpga, int pair, RxFrame& rx) REQUIRES(irq_mutex);
    void release_receive(int fpga, int pair) REQUIRES(irq_mutex);
    void drop_reply(int fpga, const char* why) REQUIRES(irq_mutex);
    static int reply_port(int fpga, int group, uint16_t source, uint8_t p);  // -1: none
    void route_reply(RxFrame& rx, int fpga) REQUIRES(irq_mutex);
    void fill_answer_buffer(const RxFrame& rx) REQUIRES(irq_mutex);
    void forward_to_pc(RxFrame& rx, int fpga) REQUIRES(irq_mutex);
    uint32_t expected_ports() REQUIRES(irq_mutex);
    void combined_answer(RxFrame& rx) REQUIRES(irq_mutex);
    void queue_for_pc(const RxFrame& rx) REQUIRES(irq_mutex);
    // To the PC frame out.
    bool answer_matches(const RxFrame& rx, int fpga) const REQUIRES(irq_mutex);
    void drop_unmatched(const RxFrame& rx, int fpga) REQUIRES(irq_mutex);
    // Routes the answers already received (at most a few), before a PC frame goes out.
    void drain_answers() REQUIRES(irq_mutex);
    // Send_to_port for a PC frame: the port is then one its answer may come from.
    int pc_send(const uint8_t* frame, uint32_t n, uint8_t port, int fpga) REQUIRES(irq_mutex);
    bool takes_frames(int fpga) REQUIRES(irq_mutex);  // out of its reset and brought up
    // Dealwith1_PC_to_eth's sends.
    int pass_to_ports(uint32_t n, const uint8_t* frame) REQUIRES(irq_mutex);
    // The ports a frame would go to (port + 16 * FPGA; all for a frame to every port), its
    // card and command: what its answer will match.
    PcFrameWait wait_for(const uint8_t* frame) const REQUIRES(irq_mutex);
    bool within_quiet(const uint8_t* frame, Steady::time_point now) const REQUIRES(irq_mutex);
    void store_port_count(int fpga, uint8_t port, uint16_t count, uint8_t port_byte);
    void store_card_total();       // the sum of both FPGAs' ports into total_card_count
    uint32_t link_word(int fpga);  // registers 144:128 when running, else 0
    // Mailbox jobs.
    bool job_paused();  // the PC talks to the cards: the waits' clocks stand still
    void job_progress(int value);
    void job_progress_of(uint8_t task, int value);
    void job_step(uint8_t step);
    void job_wait_begins(int progress, int cap);
    void job_tick_progress();
    bool job_wait(uint32_t limit);  // acknowledged or timed out
    void job_send(uint8_t port, const uint8_t* frame, uint32_t n);
    void job_end();
    void port_walk_job(bool mapping);
    // The job ends in error (a RecoveryOutcome::Kind); recovery_error: the file's fault when the
    // file was refused, else the query's or the recovery's.
    void recovery_fails(int outcome, const char* text);
    void recovery_error(const char* text);
    void recovery_file_error(const char* text);  // the file's fault whatever was read
    void recovery_start_steps(int kind, uint8_t step);
    void recovery_walk_steps(int kind, uint8_t step);
    void recovery_smart_steps(int kind, uint8_t step);
    void recovery_end_steps(int kind, uint8_t step);
    void open_recovery_file();
    void open_scan_file();
    void choose_recovery_path();
    void read_net(int kind);
    void begin_operation(uint8_t next_step, uint32_t data);
    void run_operation(int kind, uint8_t read_step, uint8_t after_last);
    void send_query();
    void wait_query();
    void next_net();
    void recovery_done(int kind);
    bool query_done(uint16_t card);  // false: the query failed
    void recovery_replayed();
    // The outcome of the query or recovery that ends, held for the page and status.
    void recovery_ends(int outcome);
    void replay_failed(const char* why);
    void choose_replay();
    void replay_send(uint8_t sub, uint32_t position, bool scan);
    void replay_wait(bool scan);
    void next_card_or_finish(uint8_t sent, bool scan, uint16_t card);
    uint32_t job_seen_ = 0;                // tick of the job's last pass
    uint32_t job_ran_ticks_ = 0;           // ticks since the pass before that no pause held
    uint32_t replay_ran_ticks_ = 0;        // its running time, PC pauses left out
    uint32_t replay_failures_before_ = 0;  // replay_failures when the job began
    uint32_t replay_bound_ticks_ = 0;      // how long it may run
    int progress_base_ = 0, progress_cap_ = 99;
    int last_progress_ = 0;
    uint32_t replay_limit_ = 0;  // ms of the current operation's acknowledgement wait
    uint8_t replay_sub_ = 0;     // the send sub-step a wait belongs to
    uint8_t replay_read_failures_ = 0;
    uint8_t job_frame_[kPortBuffer] = {};
    uint8_t replay_data_[kPortBuffer] = {};

    RxFrame rx_frame GUARDED_BY(irq_mutex){};
    uint8_t pc_frame[kPortBuffer] = {};

    fpga_manage() EXCLUDES(c331_manage::c331_mutex);
    int fpga_transfer(uint32_t header, const uint8_t* tx, uint8_t* rx, uint32_t len, int fpga);
    void set_line(uint32_t line, bool high);
    int run_flash(int device, const std::function<int(platform::SpiBus*)>& op);
    void startup_step(int fpga);
    void vbo_action(int fpga);
    void set_step(int fpga, uint8_t step);
    void bringup_restarts(int fpga, const char* why);
    void start_reset_pulse(int fpga, const char* why);  // takes irq_mutex
    bool waited(int fpga, uint32_t ticks) const;
    bool counting_passes();
    void set_mirror(int fpga, uint8_t reg, uint8_t value);  // takes mirror_mutex
    void mirror_merge(uint8_t reg, uint8_t mask, uint8_t value, uint8_t fpga, uint8_t* merged);
    void close_led_follows(uint8_t reg0)
        REQUIRES(rmw_mutex);  // register 0's close bit outside a size handshake
    bool save_cmd_table(uint32_t flash_addr, bool write);  // false: erase or write failed
    // Erases the flash 2 sector at flash_addr and, with data, writes len bytes there.
    bool save_flash_table(uint32_t flash_addr, const uint8_t* data, uint32_t len);
    bool take_bri_request() REQUIRES(rmw_mutex);  // a user's brightness handed over
    bool ram_shows(uint32_t mode, uint8_t value) const
        REQUIRES(rmw_mutex);            // RAM 2176 stands for the value
    void set_bri_level(uint8_t level);  // soft register 64 of both FPGAs and word 16
    void echo_brightness(uint32_t mode, uint8_t value) REQUIRES(rmw_mutex);
    void save_manual_table(uint8_t level);
    bool take_sensor_reply() REQUIRES(irq_mutex);

    std::thread thread_;
    zem::Mutex wake_mutex_;
    zem::ConditionVariable wake_cv_;
    bool wake_flag_ GUARDED_BY(wake_mutex_) = false;
    bool stop_ GUARDED_BY(wake_mutex_) = false;
};
