// Globals of the FPGA subsystem: the timer and request words and the page-to-thread task
// mailbox.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>

#include "core/globals.h"

// The 10 ms tick count the FPGA work times itself by.
inline uint32_t now_tick() {
    return G_timeTicks.load();
}

// Ticks of timed activities and request words; each user names the words it takes.
constexpr int kChangeWords = 64;
extern std::atomic<uint32_t> g_change[kChangeWords];

// The task mailbox of the pages: byte 0 task, byte 1 step, byte 6 acknowledgement, u16 and
// u32 fields little-endian. Bytes are atomics so the acknowledgement and the task can be
// handed over between threads.
constexpr int kSendParaSize = 36;
extern std::atomic<uint8_t> g_send_para[kSendParaSize];
uint16_t send_para_u16(int offset);
void set_send_para_u16(int offset, uint16_t value);
uint32_t send_para_u32(int offset);
void set_send_para_u32(int offset, uint32_t value);
// A page posts a task: step 0 first, then the task number the thread looks at.
void post_send_para_task(uint8_t task);

// Byte offsets of the mailbox fields the jobs use.
namespace send_para {
enum Offset : int {
    kTask = 0,
    kStep = 1,
    kPort = 2,
    kPackets = 3,
    kPacket = 4,
    kAck = 6,
    kCardIndex = 8,     // u16
    kCardCount = 10,    // u16
    kFrameLength = 12,  // u16
    kStepTick = 20,     // u32
    kScreen = 24,
    kNet = 25,
    kStartCard = 26,
    kOperation = 27,
    kSubStep = 28,
    kCardToRecover = 30,  // u16
    kResends = 32,
};
}  // namespace send_para

// Output freeze of the handshake: nothing sets it.
extern std::atomic<uint8_t> g_freeze_out;

// Words of g_change used by the card search and the mailbox jobs.
constexpr int kSearchEnableWord = 34;  // 15: the automatic search runs
constexpr int kSearchBusyWord = 42;
constexpr int kSearchCycleWord = 43;
constexpr int kProgressWord = 44;    // progress counter of a job, 0..99
constexpr int kSearchTimeWord = 45;  // end of the last search cycle; also the job tick

// The quick-lighting record the smart-mapping page fills before task 1.
struct LINE_TYPE {
    uint16_t cabinet_width;
    uint16_t cabinet_height;
    uint16_t x_offset;
    uint16_t y_offset;
    uint8_t port;     // 0..19, 10..19 are FPGA 1's ports 0..9
    uint8_t rows;     // cabinets per column
    uint8_t columns;  // cabinets per row
    uint8_t routing;  // 1..16, the cabling order
};
extern LINE_TYPE line_type;

// The values of a RAM-reset frame: [10] the low byte of word, [11] and [13] half.
struct SCAN_PARA {
    uint32_t word;
    uint16_t half;
};

// The scan file the smart-mapping page chose for task 2, as a full program path.
extern QString g_qzfile_name;
