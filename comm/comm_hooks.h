// The calls of the protocol into other subsystems that are reached through a seam: the FPGA
// manager's tables, card count and card pass-through, the C331 serial flash, debug dumps and
// fonts, and the operating-time record. An empty hook makes its command answer
// comm::kUnavailable. The box fills them at start (comm_wiring.cpp); tests install fakes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

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

    // Card pass-through (both called with irq_mutex held).
    std::mutex* irq_mutex = nullptr;
    // The cards' answer to a PC frame: its body, check byte included. Called under irq_mutex
    // by whichever thread reads it from the FPGA.
    using AnswerFn = std::function<void(const uint8_t* body, uint32_t len)>;
    // Hands a PC frame to the cards; its answer goes to `answer`, once. 1 handed over, 0
    // refused: too short or long, or not sent; kNotSentByRule: its mode or port byte sends it
    // to no port, so no answer can come.
    static constexpr int kNotSentByRule = 2;
    std::function<int(uint32_t n, uint8_t* frame, AnswerFn answer)> pc_to_eth;
    std::function<void()> poll_cards;  // one interrupt poll of both FPGAs

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

// The cards take one PC frame at a time, whichever link it came from: a link takes the turn,
// sends, and waits for the answer meant for its frame alone. An answer that comes after its
// asker stopped waiting is dropped and counted.
//
// Lock order: the FPGA manager's IRQ mutex, then this one (answers are handed in under it).
class card_turns {
public:
    using time_point = std::chrono::steady_clock::time_point;
    static card_turns& get();

    // Takes the turn, waiting until `until` while another link holds it; the turn's number,
    // 0 when it stayed taken.
    uint32_t take(time_point until);
    // The answer for turn t: kept when t is still waiting, else dropped as late.
    void deliver(uint32_t t, const uint8_t* body, uint32_t len);
    // Waits until `until` for turn t's answer; true with it in out.
    bool wait_answer(uint32_t t, time_point until, std::vector<uint8_t>& out);
    // Ends turn t (answered or given up): the next link's frame may go.
    void release(uint32_t t);

    uint32_t late_answers();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    uint32_t holder_ = 0;  // the turn whose frame is with the cards, 0 none
    uint32_t last_ = 0;
    bool answered_ = false;
    std::vector<uint8_t> answer_;
    uint32_t late_ = 0;
};
