// The process-wide globals shared by the subsystems, with their start values. A global that
// only one subsystem uses lives with that subsystem; the ones here cross subsystem lines.
// Flags written by one thread and read by another are atomics.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/utils.h"

// Logging sink of the whole program (level 1 error, 2 warning, 3 info). Errors go to stderr,
// the terminal of a person running the program; warnings and information are dropped, so that a
// load of bad frames does not flood the terminal. Console traces come from the debug lines gated
// by g_debugSwitch.
// Errors are told by kind: a text that never changes is a kind of its own, and a text that
// carries values is of the kind its call site names, so that other values make no other kind.
// Each kind says its first line at once, then one line a minute at most (kLogRepeatMs of the
// platform clock, core/repeat_count.h): its next line a minute or more after the last one said,
// which carries the count of its lines since that one when some were not said,
//     <text> (<n> of this kind since the last line shown)
// and writeLogMsgFlush says the same for each kind with lines not said, with the last of them.
// The kinds are the program's call sites, a fixed set, so the memory kept for them stays
// bounded whatever a peer makes the box say; one kind never hides another.

// The kind of an error whose text carries values: a name fixed at its call site. Only a string
// literal makes one: a text made at run time does not compile.
class LogKind {
public:
    template <size_t N>
    constexpr LogKind(const char (&kind)[N]) : name(kind) {}
    template <size_t N>
    LogKind(char (&)[N]) = delete;
    const char* name;
};
// An error whose text never changes, or a warning or information.
void writeLogMsg(int level, const char* text);
void writeLogMsg(int level, LogKind kind, const char* text);
// An error each of whose lines is said, for a caller that bounds their number itself (a USB
// job's refused packages, one per file read).
constexpr int kLogEachLine = 0;
// A library's warning (Qt's): on the console (stdout), not the terminal, told by kind as the
// errors are; its kind is its text with the numbers taken out (descriptors, pointers, sizes),
// so that a library looping on one failure floods neither the console nor the memory.
void writeConsoleWarning(const char* text);
// Says each kind's lines not said, if any (at the program's end): the errors', and the
// warnings' on the console.
void writeLogMsgFlush();
// What only tests call of the error log.
struct LogTestHooks {
    // The kinds kept.
    static size_t kept();
    // Every kind may be said again at once (the cases of one test process share the log, each
    // with a clock of its own).
    static void forget();
};

// Console trace, printed when g_debugSwitch is 254, through the console's queue (core/console.h):
// the text as it stands, newlines included.
#define ZEM_DEBUG(...)                                        \
    do {                                                      \
        if (g_debugSwitch == 0xFE) zemDebugLine(__VA_ARGS__); \
    } while (0)
// Set at a stop: a PC frame from then on is refused, never answered as done.
extern std::atomic<bool> g_frames_refused;
void zemDebugLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

extern uint8_t g_debugSwitch;              // 0xFE: console tracing on
extern std::atomic<uint32_t> G_timeTicks;  // 10 ms ticks of real time, counted by the main window

// Links and network (configuration items fill these at start). The configuration's values and
// g_str_mac change under Utils::_config_mutex; other threads read them with Utils::configValue.
extern uint32_t g_BPS;                            // baud rate of both UARTs
extern uint32_t g_dataLen;                        // UART read size factor
extern uint8_t g_networkMode;                     // TCP server enabled
extern uint8_t g_udpnetmode;                      // UDP 13769 served
extern std::atomic<uint8_t> g_passby_trans_port;  // transport of a forwarded card frame, 255 none
extern QString g_rcv_sync_led;
extern char g_pid[33];           // device id: 32 lower-case hex digits
extern uint8_t g_update_status;  // 1 when the start-up file names the standard program
// TCP server port, and as the protocol reports it.
extern uint32_t g_port GUARDED_BY(Utils::_config_mutex);
extern uint32_t g_int_tcp_port GUARDED_BY(Utils::_config_mutex);
extern QString g_str_wifi_ip GUARDED_BY(Utils::_config_mutex);
extern QString g_str_ip GUARDED_BY(Utils::_config_mutex);
extern QString g_srt_mask GUARDED_BY(Utils::_config_mutex);
extern QString g_str_gateway GUARDED_BY(Utils::_config_mutex);
extern QString g_str_mac GUARDED_BY(Utils::_config_mutex);
extern QString g_str_barcode GUARDED_BY(Utils::_config_mutex);
extern QString g_Wenx_cloudserverip GUARDED_BY(Utils::_config_mutex);
extern uint32_t g_Wenx_cloudserverport GUARDED_BY(Utils::_config_mutex);
extern QString g_Wenx_clouduserid GUARDED_BY(Utils::_config_mutex);
extern QString g_Wenx_controllername GUARDED_BY(Utils::_config_mutex);
extern uint8_t g_Wenx_cloud GUARDED_BY(Utils::_config_mutex);
extern QString g_usb_grade_path GUARDED_BY(Utils::_config_mutex);
extern QString g_check_edid GUARDED_BY(Utils::_config_mutex);
extern QString g_imagelayoutpassword GUARDED_BY(Utils::_config_mutex);
// The source-enable mask, one bit per source.
extern uint32_t g_check_source GUARDED_BY(Utils::_config_mutex);
extern uint32_t g_zem_max_pixel GUARDED_BY(Utils::_config_mutex);
// Bit n enables panel language n.
extern uint32_t g_lcd_lang_valid GUARDED_BY(Utils::_config_mutex);

// Screen and panel.
extern uint8_t ScreenState;                   // 1 LED screen on, 0 black
extern uint32_t g_auto_lock_time;             // ticks
extern uint32_t g_back_to_mainwindow_time;    // ticks
extern uint8_t prnEn[400];                    // C331 debug topics: bit 7 of entry n
extern std::atomic<uint8_t> g_page_focus;     // page in front, 0..26
extern std::atomic<uint8_t> g_image_current;  // selected window 0..5
extern uint8_t g_zem_keys;                    // USB keypad found at start-up
extern std::atomic<uint8_t> g_update_flag;    // a firmware transfer runs: one bit per path
// The bits of g_update_flag: each upgrade path sets and clears only its own (fetch_or,
// fetch_and), so the end of one never ends the other's overlay.
constexpr uint8_t kUpdateByPc = 1;
constexpr uint8_t kUpdateByUsb = 2;
extern std::atomic<uint8_t> g_language;  // 0..4
extern QStringList factoryage_log;       // aging log
extern uint32_t factoryage_log_num;

// Hand-overs between the hardware threads.
extern std::atomic<uint32_t> g_source_online;       // 0 none, 1 first video, 2 stable
extern std::atomic<uint32_t> g_c331_source_online;  // C331 re-applied a changed input
extern std::atomic<uint32_t> g_fpga_lcd_on;         // FPGA thread lit the panel path
extern std::atomic<uint32_t> g_fpga_c331_start;     // C331 output panel initialised
// The LED-size handshake is an object of its own (core/led_size_handshake.h).
extern std::atomic<uint8_t> g_usb_grade;          // FPGA thread runs the USB upgrade
extern std::atomic<uint8_t> g_app_reset_flag;     // reboot 300 ticks after it is raised
extern std::atomic<uint32_t> G_reboot_tickTicks;  // tick at which g_app_reset_flag was raised
extern std::atomic<uint8_t> g_delay_usbserver;    // the USB watcher may act
extern std::atomic<uint32_t> g_osd_update;        // reload and re-apply the OSD menu

// PC activity: a frame was accepted, and at which tick.
extern std::atomic<uint8_t> pc_cmd_valid;
extern std::atomic<uint32_t> pc_cmd_time;

// The PC file transfer buffer (5 MiB).
constexpr uint32_t kFileBufSize = 5 * 1024 * 1024;
extern uint8_t* fileBuf_ravik;
