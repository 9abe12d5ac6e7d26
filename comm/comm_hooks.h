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
#include <optional>
#include <vector>

#include "core/thread_safety.h"

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
    // The answer window of a frame for the cards, and when kPortQuiet comes back, the end of
    // the quiet its port keeps first.
    struct CardWindow {
        std::chrono::milliseconds length{0};
        std::chrono::steady_clock::time_point quiet_until{};
    };
    // Hands a PC frame to the cards; its answer goes to `answer`, once. 1 handed over, 0
    // refused: too short or long, or not sent; kNotSentByRule: its mode or port byte sends it
    // to no port, so no answer can come; kPortQuiet: not sent, since a late answer to a frame
    // given up on its port could still come and pass for this one's until window.quiet_until.
    static constexpr int kNotSentByRule = 2;
    static constexpr int kPortQuiet = 3;
    std::function<int(uint32_t n, uint8_t* frame, AnswerFn answer, CardWindow& window)> pc_to_eth;
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

    // Tests: run by a store write (RAM, a slot, register 11) after the frame's first stop check,
    // before it takes the C331 mutex: where a stop's signal may land.
    std::function<void()> before_store_lock;
};

// The cards take one PC frame at a time, whichever link it came from: a link takes the turn,
// sends, and waits for the answer meant for its frame alone. An answer that comes after its
// asker stopped waiting is dropped and counted. A late answer looks like the answer to the next
// frame to the same port, card and command: such a frame is sent only once its port was quiet
// for one more window after the window of the frame given up (the FPGA manager says when),
// and the answers in that quiet are dropped and counted.
//
// A turn holds the cards for its answer window only: a link waiting for them wakes at the
// holder's deadline and takes the turn over, whether or not the holder's thread has run since.
// The holder then finds its turn gone: it sends nothing if it had not sent yet, and an answer
// to its frame that comes after that is dropped as late. An answer that came within the window
// is kept for the holder's link.
//
// Lock order: the FPGA manager's IRQ mutex, then this one (answers are handed in under it).
class card_turns {
public:
    using time_point = std::chrono::steady_clock::time_point;
    using window = std::chrono::milliseconds;
    enum class Answer : uint8_t { Got, Waiting, Gone };
    static card_turns& get();

    // Takes the turn for `w`, waiting until `until` while another link's turn holds the cards
    // within its window; the turn's number, 0 when the cards stayed taken.
    uint32_t take(time_point until, window w);
    // Turn t's frame goes to the cards now: its window starts again and ends at the time
    // returned; none when the turn was taken over meanwhile, and then nothing may be sent.
    // Called under the IRQ mutex, which the send holds too.
    std::optional<time_point> sending(uint32_t t, window w);
    // The answer for turn t: kept when t is still waiting, else dropped as late.
    void deliver(uint32_t t, const uint8_t* body, uint32_t len);
    // Waits until `until` for turn t's answer: Got with it in out, Gone once t was taken over
    // with no answer, else Waiting.
    Answer wait_answer(uint32_t t, time_point until, std::vector<uint8_t>& out);
    // Ends turn t (answered or given up): the next link's frame may go.
    void release(uint32_t t);

    uint32_t late_answers();

private:
    struct Turn {
        uint32_t id = 0;  // 0 none
        time_point deadline{};
        bool answered = false;
        std::vector<uint8_t> answer;
    };
    bool cards_free_locked() const REQUIRES(mutex_);
    void take_over_locked() REQUIRES(mutex_);
    zem::Mutex mutex_;
    zem::ConditionVariable changed_;
    Turn holder_ GUARDED_BY(mutex_);  // the turn whose frame is with the cards
    Turn parked_ GUARDED_BY(mutex_);  // an answered turn taken over before its link took the answer
    uint32_t last_ GUARDED_BY(mutex_) = 0;
    uint32_t late_ GUARDED_BY(mutex_) = 0;
};
