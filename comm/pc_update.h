// The PC's update (register 9 above 15, register 10, a program or kernel transfer): its start
// and end, and the watch that ends it when the PC that started it has gone. The upgrade
// overlay takes every key, so an update whose PC vanished must not keep it up for good.
//
// The link threads tell it what they hear; the main tick asks it, so the watch adds no timer.
// Times are G_timeTicks (10 ms). Lock order: this mutex is the last one taken.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "comm/link_session.h"
#include "core/thread_safety.h"

class pc_update {
public:
    static pc_update& get();

    // The starting link's silence that ends the update.
    static constexpr uint32_t kSilentTicks = 6000;
    // After the starting TCP client closed: the time with no update frame from any link.
    static constexpr uint32_t kClosedTicks = 1000;

    // A start from link: the overlay and refresh 105 at the first; the latest start's link is
    // the one watched, from now.
    void begin(LinkId link);
    // The PC's end (register 9 or 10): the overlay goes, refresh 106.
    void end();
    // Every PC frame a link hands to the box (the body as link_session::handle has it).
    void heard(LinkId link, const uint8_t* body, uint32_t len);
    // A TCP client's link has ended.
    void closed(LinkId link);
    // The main tick: ends the update, with a console line and the panel's tip
    // (comm_bridge::sig_update_unfinished), when the link that started it is gone.
    void watch(uint32_t now);

private:
    enum class State : uint8_t {
        Idle,     // no PC update, or one this watch did not start (it is left alone)
        Running,  // the starting link may still speak
        Closed,   // the starting link was a TCP client that has closed
    };
    static bool update_frame(const uint8_t* body, uint32_t len);
    // Caller holds mutex_: clears the PC's bit and asks for the overlay's removal.
    void finish_locked() REQUIRES(mutex_);
    // Why the update should end now, or null.
    const char* lapse_locked(uint32_t now) const REQUIRES(mutex_);

    zem::Mutex mutex_;
    std::atomic<bool> watching_{false};  // State is not Idle: read without the mutex
    State state_ GUARDED_BY(mutex_) = State::Idle;
    LinkId starter_ GUARDED_BY(mutex_) = 0;
    uint32_t starter_heard_ GUARDED_BY(mutex_) = 0;  // the starting link's last frame
    uint32_t closed_at_ GUARDED_BY(mutex_) = 0;      // when it closed (Closed)
    uint32_t update_heard_ GUARDED_BY(mutex_) = 0;   // the last update frame from any link
};
