// The PC links whose save requests (RAM 868) could wait for a register 11 that never comes, and
// how long each has been silent: a UDP peer address (a tool that opens a socket per command,
// or one restarted between two frames) and a serial port. TCP clients are not watched: their
// requests end at their register 11 or when the connection closes.
//
// The links tell the frames their receivers hand to the box; the store tells, under the C331
// mutex, which owners hold requests, and recording a request is hearing its owner; the main
// tick carries out the requests of an owner silent for 60 s, as it ends a PC update whose link
// has gone, and the store makes room here when the addresses that may hold requests are full.
// Time is G_timeTicks (10 ms). An owner's silence runs on its receiver's clock: a frame of that
// owner may wait unread in the socket or port while the receiver is on other frames, so the
// clock stands still from the start of a frame until the receiver next finds its input empty,
// and then catches up: all time up to that moment is silence for an owner not heard since.
//
// The tick looks for silence without the C331 mutex; only for an owner that looks silent does
// it take that mutex, then this one inside it, and decide again: a request recorded since the
// look (under the C331 mutex) heard its owner, so a take carries out only what was recorded
// before the silence.
//
// Lock order: this mutex comes after the C331 mutex and is never held while taking it; nothing
// else is taken under it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "c331/c331_manage.h"
#include "core/thread_safety.h"

class link_activity {
    static zem::Mutex mutex_ ACQUIRED_AFTER(c331_manage::c331_mutex);
    struct Clock;

public:
    static link_activity& get();

    // The silence that carries out an owner's requests.
    static constexpr uint32_t kSilentTicks = 6000;
    // UDP addresses that may hold requests at once.
    static constexpr size_t kMaxAddresses = 64;
    static constexpr uint64_t kNone = ~uint64_t(0);

    enum class Kind : uint8_t {
        Port,       // a serial port: the port owns its requests
        Addresses,  // the UDP socket: each peer address owns its requests
    };

    // The thread that hands one transport's frames to the box (a link session's).
    class Receiver {
    public:
        explicit Receiver(Kind kind);
        // On its thread: it found nothing waiting in its socket or port, so everything that
        // came before now has been read. Told when it goes back to wait, never periodically.
        void drained();

    private:
        friend class link_activity;
        std::shared_ptr<Clock> clock_;
    };

    // A frame of `owner` on its receiver's thread, for as long as it lives: the receiver's clock
    // stands still from its start until the receiver is drained, and the owner's silence starts
    // again at its end. No receiver (a TCP client): nothing.
    class Frame {
    public:
        Frame(Receiver* receiver, uint64_t owner);
        ~Frame();
        Frame(const Frame&) = delete;
        Frame& operator=(const Frame&) = delete;

    private:
        Receiver* receiver_;
        uint64_t owner_;
    };

    // The store, under the C331 mutex, on the thread of the frame that records a request of
    // `owner`: when that frame came through a receiver, the owner is heard now and watched from
    // now on (also when it was already). Returns the address whose requests are to be carried
    // out first, to make room (the longest silent once kMaxAddresses hold requests), or kNone.
    uint64_t hold(uint64_t owner) REQUIRES(c331_manage::c331_mutex) EXCLUDES(mutex_);
    // The owner's requests were taken; release_all: everyone's.
    void release(uint64_t owner) REQUIRES(c331_manage::c331_mutex) EXCLUDES(mutex_);
    void release_all() REQUIRES(c331_manage::c331_mutex) EXCLUDES(mutex_);

    // The main tick: the requests of each owner silent for kSilentTicks are carried out
    // (ZemRamPara::take_silent_clients). Nothing to do while no owner is watched, and no lock
    // but this one's while none looks silent.
    void watch(uint32_t now) EXCLUDES(mutex_, c331_manage::c331_mutex);
    // Whether `owner` is watched and has been silent for kSilentTicks at `now`: the store asks
    // again under the C331 mutex, so no request of it is recorded between this and the take.
    bool silent(uint64_t owner, uint32_t now) const REQUIRES(c331_manage::c331_mutex)
        EXCLUDES(mutex_);

    // Owners watched (tests).
    size_t watched() const { return watched_.load(); }

    // ===== what only tests set =====
    struct TestHooks {
        // Run by the main tick between its look (an owner looked silent) and its take of the
        // C331 mutex: where a frame of that owner may record a request.
        std::function<void()> before_silence_lock;
        // Run on a receiver's thread once its clock runs again (set before receivers start).
        std::function<void()> drained;
    };
    TestHooks hooks;

private:
    // A receiver's clock: G_timeTicks while its input is known empty and no frame came since;
    // otherwise the moment its last frame started after that, where it stands.
    struct Clock {
        explicit Clock(Kind k) : kind(k) {}
        const Kind kind;
        bool drained GUARDED_BY(mutex_) = true;
        uint32_t stood GUARDED_BY(mutex_) = 0;
        uint32_t time(uint32_t now) const REQUIRES(mutex_) {
            // A frame that started after `now` (read before it) stands at `now`.
            return !drained && int32_t(now - stood) > 0 ? stood : now;
        }
    };
    struct Owner {
        std::shared_ptr<Clock> clock;  // its last frame's receiver
        uint32_t heard;                // the end of that frame, or its last request recorded
        uint64_t order;                // when it came to hold requests: older goes first
    };

    void frame_begins(Receiver& r) EXCLUDES(mutex_);
    void frame_ends(Receiver& r, uint64_t owner) EXCLUDES(mutex_);
    void input_drained(Receiver& r) EXCLUDES(mutex_);
    // The owner heard at `now` through `clock`'s receiver, which it follows from then on (a UDP
    // address's frames may come through another UDP session).
    static void heard(Owner& o, const std::shared_ptr<Clock>& clock, uint32_t now) REQUIRES(mutex_);
    // Ticks; negative while its receiver stands before the owner was heard.
    static int32_t silence(const Owner& o, uint32_t now) REQUIRES(mutex_) {
        return int32_t(o.clock->time(now) - o.heard);
    }
    uint64_t longest_silent_address(uint32_t now) const REQUIRES(mutex_);
    void forget(uint64_t owner) REQUIRES(mutex_);
    // The owners silent for kSilentTicks at `now`; they stay watched.
    std::vector<uint64_t> looking_silent(uint32_t now) const EXCLUDES(mutex_);

    // The receiver whose frame this thread is on.
    static thread_local Receiver* current_;
    std::unordered_map<uint64_t, Owner> owners_ GUARDED_BY(mutex_);
    size_t addresses_ GUARDED_BY(mutex_) = 0;
    uint64_t next_order_ GUARDED_BY(mutex_) = 0;
    std::atomic<size_t> watched_{0};  // owners_.size(), read without the lock
};
