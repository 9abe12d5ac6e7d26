// The calls of the protocol into other subsystems that are reached through a seam: the FPGA
// manager's tables, card count and card pass-through, the C331 serial flash, debug dumps and
// fonts, and the operating-time record. An empty hook makes its command answer
// comm::kUnavailable. The box fills them at start (comm_wiring.cpp); tests install fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

struct fpga_table {
    uint8_t* data = nullptr;
    uint32_t size = 0;
    std::mutex* lock = nullptr;  // held around every PC copy in or out
};

struct comm_hooks {
    static comm_hooks& get();
    // Fills the hooks of the subsystems that exist.
    static void wire();

    // The table of a function number (1..9) of FPGA 0 or 1.
    std::function<fpga_table(uint8_t function, uint8_t fpga)> table;
    // Total receiving-card count of both FPGAs.
    std::function<uint32_t()> card_total;

    // Card pass-through (all three called with irq_mutex held).
    std::mutex* irq_mutex = nullptr;
    std::function<int(uint32_t n, uint8_t* frame)> pc_to_eth;  // hand a PC frame to the cards
    std::function<void()> poll_cards;                          // one interrupt poll of both FPGAs
    // Takes the queued answer of transport (1 UART, 2 TCP, 3 UDP) into out (capacity cap);
    // its wire length, 0 when none is ready.
    std::function<uint32_t(uint8_t transport, uint8_t* out, uint32_t cap)> take_answer;

    // C331 serial flash: 0 done, else failed.
    std::function<int(uint32_t first_unit, uint32_t count, uint8_t kind)> erase_flash;
    std::function<int(uint32_t addr, uint32_t len, const uint8_t* data)> write_flash;
    std::function<int(uint32_t addr, uint32_t len, uint8_t* out)> read_flash;
    std::function<void()> c331_print;  // register 161 bit 1
    std::function<int()> update_font;  // register 14 bit 3: read the fonts, then write them

    // Operating time: after the clock was set; the record for the PC (out 64 bytes).
    std::function<void()> record_timing;
    std::function<uint32_t(uint8_t* out, uint32_t cap)> run_time;
};
