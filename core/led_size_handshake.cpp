// The LED-size handshake's states and the calls of the three threads that move them.
#include "core/led_size_handshake.h"

#include <mutex>

#include "core/globals.h"
#include "core/utils.h"

namespace {
constexpr uint8_t kBlankingEnded = 3;
constexpr uint8_t kNotBlanked = 4;  // a restart asked with no handshake: nothing was blanked
}  // namespace

led_size_handshake& led_size_handshake::get() {
    static led_size_handshake handshake;
    return handshake;
}

void led_size_handshake::start() {
    {
        zem::MutexLocker lock(Utils::_led_para_init_mutex);
        switch (state()) {
            case kIdle:
                state_ = kBlanking;
                blank_step_ = 0;
                break;
            case kRestartAsked:
                // The answer given so far is older than this size: the next one is awaited, on
                // blanked outputs.
                if (blank_step_ == kNotBlanked) blank_step_ = 0;
                state_ = blank_step_ == kBlankingEnded ? kBlanked : kBlanking;
                if (state() == kBlanked) tick_ = G_timeTicks;
                break;
            case kBlanked:
                tick_ = G_timeTicks;  // its answer gets the whole wait
                break;
            case kBlanking:
                break;
        }
    }
    wake();
}

void led_size_handshake::answer(Answer verdict) {
    {
        zem::MutexLocker lock(Utils::_led_para_init_mutex);
        switch (state()) {
            case kBlanking:
            case kBlanked:
                // Whatever the verdict: the outputs a handshake blanked light only by the restart.
                state_ = kRestartAsked;
                break;
            case kIdle:
                // A panel set up again with no handshake (a splice alone at register 11, a
                // debug register's apply) still restarts the FPGAs, which take its routing at
                // their bring-up; a refusal or no change leaves them alone.
                if (verdict != kApplied) return;
                blank_step_ = kNotBlanked;
                state_ = kRestartAsked;
                break;
            case kRestartAsked:
                return;
        }
    }
    wake();
}

void led_size_handshake::blanking_step(const std::function<void(Action)>& act) {
    switch (blank_step_) {
        case 0:
            act(kBlack);
            tick_ = G_timeTicks;
            blank_step_ = 1;
            return;
        case 1:
            if (Utils::getTimeSpace(tick_) < kOutputOffTicks) return;
            tick_ = G_timeTicks;
            act(kOutputOff);
            blank_step_ = 2;
            return;
        case 2:
            if (Utils::getTimeSpace(tick_) < kBlankedTicks) return;
            tick_ = G_timeTicks;  // the answer's wait starts
            blank_step_ = kBlankingEnded;
            if (state() == kBlanking) state_ = kBlanked;
            return;
        default:
            return;
    }
}

void led_size_handshake::step(const std::function<void(Action)>& act) {
    zem::MutexLocker lock(Utils::_led_para_init_mutex);
    switch (state()) {
        case kIdle:
            return;
        case kBlanking:
            blanking_step(act);
            return;
        case kBlanked:
            if (Utils::getTimeSpace(tick_) < kAnswerTicks) return;
            writeLogMsg(1, "LED size: no answer from the C331 within 5 s; the FPGAs restart");
            break;
        case kRestartAsked:
            blanking_step(act);
            if (blank_step_ < kBlankingEnded) return;
            break;
    }
    state_ = kIdle;
    blank_step_ = 0;
    act(kRestart);
}

bool led_size_handshake::blanking_locked() const {
    return (state() == kBlanking || state() == kRestartAsked) && blank_step_ < kBlankingEnded;
}

bool led_size_handshake::blanking() {
    zem::MutexLocker lock(Utils::_led_para_init_mutex);
    return blanking_locked();
}

bool led_size_handshake::steps_due() {
    zem::MutexLocker lock(Utils::_led_para_init_mutex);
    return blanking_locked() || state() == kRestartAsked;
}

void led_size_handshake::clear() {
    zem::MutexLocker lock(Utils::_led_para_init_mutex);
    state_ = kIdle;
    blank_step_ = 0;
    tick_ = 0;
}

void led_size_handshake::wake() {
    if (auto owner = wake_owner.load()) owner();
}
