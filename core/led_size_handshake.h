// The LED-size handshake: while a new LED screen size reaches the outputs, the FPGA thread
// blanks them, the C331 thread re-initialises its output panel once they are blanked, and both
// FPGAs then restart, lit at the end of their bring-up. One object owned by the FPGA thread
// says where the handshake is; the other threads tell it what happened and never guess it from
// a value they read.
//
// Threads: start comes from the producers (panel pages, PC links) holding the C331 mutex;
// answer and blanking from the C331 thread in its apply turn, holding the C331 mutex; step
// from the FPGA thread's pass alone. The state is guarded by Utils::_led_para_init_mutex,
// taken after the C331 mutex and before every FPGA-side lock (step holds it while it writes the
// FPGAs' registers).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "core/thread_safety.h"
#include "core/utils.h"

class led_size_handshake {
public:
    // What is true of the outputs.
    enum State {
        kIdle,          // no handshake: the outputs are as the user and the schedule left them
        kBlanking,      // black, the LCD output going off in timed steps
        kBlanked,       // blanked, waiting for the C331's answer
        kRestartAsked,  // answered: both FPGAs restart once the blanking has ended
    };
    // The C331 apply's verdict on the LED size words.
    enum Answer { kApplied, kRefused, kUnchanged };
    // What the FPGA pass does to both FPGAs for a step.
    enum Action { kBlack, kOutputOff, kRestart };

    static constexpr uint32_t kOutputOffTicks = 11;  // black, then the LCD output off
    static constexpr uint32_t kBlankedTicks = 31;    // then the outputs count as blanked
    static constexpr uint32_t kAnswerTicks = 500;    // 5 s for the C331's answer

    static led_size_handshake& get();

    // A new LED size waits to be applied: the outputs blank, or stay blanked, until an answer
    // given from now on. Caller holds the C331 mutex and raises the C331 apply after it.
    void start();
    // The C331 apply's verdict. While the outputs are blanked or being blanked, the FPGAs
    // restart once the blanking has ended. With no handshake running, a refusal or no change
    // changes nothing; a panel applied all the same restarts the FPGAs, with no blanking.
    void answer(Answer verdict);
    // One step of the FPGA pass: `act` runs the register work of the step, under the lock.
    void step(const std::function<void(Action)>& act);

    // Read without the lock: a register-0 write in the FPGA pass runs under it.
    State state() const { return State(state_.load()); }
    // The C331 waits while this holds before it re-initialises its panel.
    bool blanking();
    // Timed steps are due: the FPGA thread passes every tick. Waiting for the answer is not:
    // the answer wakes the thread.
    bool steps_due();
    // Back to idle, with no action (tests; a box restart).
    void clear();

    // Wakes the FPGA thread (installed by the FPGA manager; unset, nothing is woken).
    std::atomic<void (*)()> wake_owner{nullptr};

private:
    void wake();
    bool blanking_locked() const REQUIRES(Utils::_led_para_init_mutex);
    void blanking_step(const std::function<void(Action)>& act)
        REQUIRES(Utils::_led_para_init_mutex);
    std::atomic<uint8_t> state_{kIdle};  // changed under the lock, read without it (state())
    // 0 black due, 1 output off due, 2 end due, 3 ended
    uint8_t blank_step_ GUARDED_BY(Utils::_led_para_init_mutex) = 0;
    // of the last blanking step, then of the wait's start
    uint32_t tick_ GUARDED_BY(Utils::_led_para_init_mutex) = 0;
};
