// The calls of the protocol into other subsystems that are reached through a seam: the FPGA
// manager's tables, card count and card pass-through, the C331 serial flash, debug dumps and
// fonts, and the operating-time record. An empty hook makes its command answer
// comm::kUnavailable. The box fills them at start (comm_wiring.cpp); tests install fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

struct comm_hooks {
    static comm_hooks& get();
    // Fills the hooks of the subsystems that exist.
    static void wire();

    // PC reads and writes of the FPGA tables by function number (1..10) and FPGA (0, 1), at a
    // byte offset: 0 done, 1 unknown table or out of range (nothing copied).
    std::function<int(int function, int fpga, uint32_t off, uint8_t* out, uint32_t n)> table_read;
    std::function<int(int function, int fpga, uint32_t off, const uint8_t* data, uint32_t n)>
        table_write;
    // True when both FPGAs run (mirror register 80 is 3 on each).
    std::function<bool()> fpgas_running;
    // Total receiving-card count of both FPGAs.
    std::function<uint32_t()> card_total;

    // Card pass-through (all three called with irq_mutex held).
    std::mutex* irq_mutex = nullptr;
    std::function<int(uint32_t n, uint8_t* frame)> pc_to_eth;  // hand a PC frame to the cards
    std::function<void()> poll_cards;                          // one interrupt poll of both FPGAs
    // Takes the queued answer of transport (1 UART, 2 TCP, 3 UDP) into out (capacity cap);
    // its wire length, 0 when none is ready. The box's version takes what the FPGA side left
    // through comm_queue_card_answer.
    std::function<uint32_t(uint8_t transport, uint8_t* out, uint32_t cap)> take_answer;

    // C331 serial flash: 0 done, else failed.
    std::function<int(uint32_t first_unit, uint32_t count, uint8_t kind)> erase_flash;
    std::function<int(uint32_t addr, uint32_t len, const uint8_t* data)> write_flash;
    std::function<int(uint32_t addr, uint32_t len, uint8_t* out)> read_flash;
    std::function<void()> c331_print;  // register 161 bit 1
    std::function<int()> update_font;  // register 14 bit 3: read the fonts, then write them

    // Operating time: after the clock was set; the record for the PC (out 64 bytes), its
    // length, 0 while it has not been read from the flash.
    std::function<void()> record_timing;
    std::function<uint32_t(uint8_t* out, uint32_t cap)> run_time;
};

// The FPGA side's hand-over of the cards' answer (a wire frame) to the PC transport that sent
// the request (1 UART, 2 TCP, 3 UDP); called under the FPGA manager's IRQ mutex, before it
// sets its answer-ready byte. A later answer replaces one not yet taken.
void comm_queue_card_answer(uint8_t transport, const uint8_t* wire, uint32_t len);
// The transport's side: takes a queued answer into out; its length, or 0 when none is there.
uint32_t comm_take_card_answer(uint8_t transport, uint8_t* out, uint32_t cap);
