#include "core/globals.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/repeat_count.h"
#include "core/thread_safety.h"
#include "platform/clock.h"
#include "platform/own_files.h"

namespace {

// Far more kinds than the program's call sites: a text made at run time given as a kind of its
// own still keeps the memory bounded, all such past the bound sharing one kind.
constexpr size_t kLogKinds = 256;
// The last text a kind keeps for its count line, at most.
constexpr size_t kLogKeptText = 256;

// An error kind: when it was said, its lines since not said and the last of them.
struct ErrorKind {
    RepeatCount lines;
    std::string last;
};
using Kinds = std::map<std::string, ErrorKind>;

// The errors, on the terminal, and the libraries' warnings, on the console.
struct SaidErrors {
    zem::Mutex mutex;
    Kinds kinds GUARDED_BY(mutex);
    Kinds console_kinds GUARDED_BY(mutex);
};

SaidErrors& saidErrors() {
    static auto* said = new SaidErrors;  // used by threads that may outlive static destructors
    return *said;
}

// A kind's line: its text, with the count of its lines since the last one said when some of
// them were not said.
std::string kindLine(const char* text, uint32_t since) {
    if (since <= 1) return text;
    return std::string(text) + " (" + std::to_string(since) +
           " of this kind since the last line shown)";
}

ErrorKind& kindOf(Kinds& kinds, const std::string& name) {
    auto it = kinds.find(name);
    if (it != kinds.end()) return it->second;
    return kinds[kinds.size() < kLogKinds ? name : ""];
}

// One line of a kind of kinds (the errors' or the console's), said on out when it is due.
void say(Kinds SaidErrors::*kinds, console::Stream out, const std::string& kind, const char* text) {
    SaidErrors& said = saidErrors();
    std::string line;
    {
        zem::MutexLocker lock(said.mutex);
        ErrorKind& k = kindOf(said.*kinds, kind);
        uint32_t before = 0;
        if (!k.lines.tell(platform::nowMs(), &before)) {
            k.last.assign(text, std::min(std::strlen(text), kLogKeptText));
            return;
        }
        line = kindLine(text, before + 1);
    }
    console::line(out, line);
}

// A library's text with its numbers taken out, decimal or hexadecimal (a descriptor, a pointer,
// a size): what stays is the kind of the message.
std::string withoutNumbers(const char* text) {
    std::string kind;
    for (const char* c = text; *c;) {
        if (!std::isdigit(static_cast<unsigned char>(*c))) {
            kind += *c++;
            continue;
        }
        while (std::isxdigit(static_cast<unsigned char>(*c)) || *c == 'x' || *c == 'X') ++c;
    }
    return kind;
}

}  // namespace

void LogTestHooks::forget() {
    zem::MutexLocker lock(saidErrors().mutex);
    saidErrors().kinds.clear();
    saidErrors().console_kinds.clear();
}

size_t LogTestHooks::kept() {
    zem::MutexLocker lock(saidErrors().mutex);
    return saidErrors().kinds.size() + saidErrors().console_kinds.size();
}

void writeLogMsgFlush() {
    SaidErrors& said = saidErrors();
    std::vector<std::pair<console::Stream, std::string>> lines;
    {
        zem::MutexLocker lock(said.mutex);
        const uint64_t now = platform::nowMs();
        for (auto [kinds, out] :
             {std::pair{&said.kinds, console::kErr}, {&said.console_kinds, console::kOut}})
            for (auto& [name, kind] : *kinds)
                if (const uint32_t n = kind.lines.take(now, true))
                    lines.emplace_back(out, kindLine(kind.last.c_str(), n));
    }
    for (const auto& [out, line] : lines) console::line(out, line);
}

void writeLogMsg(int level, const char* text) {
    if (level == 1 && text) say(&SaidErrors::kinds, console::kErr, text, text);
}

void writeLogMsg(int level, LogKind kind, const char* text) {
    if (level == kLogEachLine && text) console::line(console::kErr, text);
    if (level == 1 && text) say(&SaidErrors::kinds, console::kErr, kind.name, text);
}

void writeConsoleWarning(const char* text) {
    if (text) say(&SaidErrors::console_kinds, console::kOut, withoutNumbers(text), text);
}

// A file refused as a symbolic link is said as an error of its own, once a minute at most: a PC
// or the panel may ask for its write again and again.
const bool g_refusals_logged =
    (platform::setRefusalSink([](const char* line) { writeLogMsg(1, line); }), true);

uint8_t g_debugSwitch = 0xFE;
std::atomic<bool> g_frames_refused{false};

void zemDebugLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    console::write(console::kOut, console::format(format, args));
    va_end(args);
}
std::atomic<uint32_t> G_timeTicks{0};

uint32_t g_port = 5005;
uint32_t g_int_tcp_port = 5005;
uint32_t g_BPS = 115200;
uint32_t g_dataLen = 32;
uint8_t g_networkMode = 1;
uint8_t g_udpnetmode = 1;
std::atomic<uint8_t> g_passby_trans_port{255};
QString g_str_wifi_ip = "192.168.22.101";
QString g_str_ip = "192.168.1.199";
QString g_srt_mask = "255.255.255.0";
QString g_str_gateway = "192.168.1.1";
QString g_str_mac = "FF:FF:FF:FF:FF:FF";
QString g_str_barcode = " ";
QString g_Wenx_cloudserverip;
uint32_t g_Wenx_cloudserverport = 0;
QString g_Wenx_clouduserid;
QString g_Wenx_controllername;
uint8_t g_Wenx_cloud = 0;
QString g_usb_grade_path;
QString g_check_edid;
QString g_imagelayoutpassword;
QString g_rcv_sync_led;
uint32_t g_check_source = 0;
uint32_t g_zem_max_pixel = 0;
uint32_t g_lcd_lang_valid = 0;
char g_pid[33] = {0};
uint8_t g_update_status = 0;

uint8_t ScreenState = 1;
uint32_t g_auto_lock_time = 30000;
uint32_t g_back_to_mainwindow_time = 3000;

namespace {
struct PrnEnInit {
    PrnEnInit(uint8_t* table) {
        for (int i = 0; i <= 11; ++i)
            if (i != 6) table[i] = 0x80;
    }
};
}  // namespace
uint8_t prnEn[400] = {0};
static PrnEnInit prn_en_init(prnEn);

std::atomic<uint8_t> g_page_focus{0};
std::atomic<uint8_t> g_image_current{0};
uint8_t g_zem_keys = 0;
std::atomic<uint8_t> g_update_flag{0};
std::atomic<uint8_t> g_language{0};
QStringList factoryage_log;
uint32_t factoryage_log_num = 0;

std::atomic<uint32_t> g_source_online{0};
std::atomic<uint32_t> g_c331_source_online{0};
std::atomic<uint32_t> g_fpga_lcd_on{0};
std::atomic<uint32_t> g_fpga_c331_start{0};
std::atomic<uint8_t> g_usb_grade{0};
std::atomic<uint8_t> g_app_reset_flag{0};
std::atomic<uint32_t> G_reboot_tickTicks{0};
std::atomic<uint8_t> g_delay_usbserver{0};
std::atomic<uint32_t> g_osd_update{0};

std::atomic<uint8_t> pc_cmd_valid{0};
std::atomic<uint32_t> pc_cmd_time{0};

static uint8_t file_buf_storage[kFileBufSize];
uint8_t* fileBuf_ravik = file_buf_storage;
