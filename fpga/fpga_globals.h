// Globals of the FPGA subsystem: the timer and request words and the page-to-thread task
// mailbox.
#pragma once

#include <atomic>
#include <cstdint>

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
// A page posts a task: step 0 first, then the task number the thread looks at.
void post_send_para_task(uint8_t task);

// Output freeze of the handshake: nothing sets it.
extern std::atomic<uint8_t> g_freeze_out;
