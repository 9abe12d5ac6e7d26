// The PC links whose save requests (RAM 868) could wait for a register 11 that never comes, and
// how long each has been silent: a UDP peer address (a tool that opens a socket per command,
// or one restarted between two frames) and a serial port. TCP clients are not watched: their
// requests end at their register 11 or when the connection closes.
//
// The links tell the frames their receivers hand to the box; the store tells, under the C331
// mutex, which owners hold requests; the main tick carries out the requests of an owner silent
// for 60 s, as it ends a PC update whose link has gone, and the store makes room here when the
// addresses that may hold requests are full. Time is G_timeTicks (10 ms). An owner's silence
// runs on its receiver's clock, which stops while that receiver is on a frame (any peer's), so
// a long flash erase or a file's end is nobody's silence.
//
// Lock order: this mutex is a leaf (the store holds the C331 mutex around its calls).
#pragma once

#include <atomic>
#include <cstdint>
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

    private:
        friend class link_activity;
        std::shared_ptr<Clock> clock_;
    };

    // A frame of `owner` on its receiver's thread, for as long as it lives: the receiver's clock
    // stands still, and the owner's silence starts again at its end. No receiver (a TCP
    // client): nothing.
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
    // `owner`: the owner is watched from now when that frame came through a receiver. Returns
    // the address whose requests are to be carried out first, to make room (the longest silent
    // once kMaxAddresses hold requests), or kNone.
    uint64_t hold(uint64_t owner) EXCLUDES(mutex_);
    // The owner's requests were taken; release_all: everyone's.
    void release(uint64_t owner) EXCLUDES(mutex_);
    void release_all() EXCLUDES(mutex_);

    // The main tick: the requests of each owner silent for kSilentTicks are carried out
    // (ZemRamPara::client_gone). Nothing to do while no owner is watched.
    void watch(uint32_t now) EXCLUDES(mutex_);

    // Owners watched (tests).
    size_t watched() const { return watched_.load(); }

private:
    // A receiver's clock: G_timeTicks less the ticks it spent on frames.
    struct Clock {
        explicit Clock(Kind k) : kind(k) {}
        const Kind kind;
        bool busy GUARDED_BY(mutex_) = false;
        uint32_t busy_since GUARDED_BY(mutex_) = 0;
        uint32_t spent GUARDED_BY(mutex_) = 0;
        uint32_t time(uint32_t now) const REQUIRES(mutex_) {
            return now - spent - (busy ? now - busy_since : 0);
        }
    };
    struct Owner {
        std::shared_ptr<Clock> clock;  // its last frame's receiver
        uint32_t heard;                // the end of that frame, on that clock
        uint64_t order;                // when it came to hold requests: older goes first
    };

    void frame_begins(Receiver& r) EXCLUDES(mutex_);
    void frame_ends(Receiver& r, uint64_t owner) EXCLUDES(mutex_);
    // Ticks; a frame that ended after `now` (read before it) is no silence.
    static int32_t silence(const Owner& o, uint32_t now) REQUIRES(mutex_) {
        return int32_t(o.clock->time(now) - o.heard);
    }
    uint64_t longest_silent_address(uint32_t now) const REQUIRES(mutex_);
    void forget(uint64_t owner) REQUIRES(mutex_);
    // The owners silent for kSilentTicks, no longer watched.
    std::vector<uint64_t> take_silent(uint32_t now) EXCLUDES(mutex_);

    // The receiver whose frame this thread is on.
    static thread_local Receiver* current_;
    std::unordered_map<uint64_t, Owner> owners_ GUARDED_BY(mutex_);
    size_t addresses_ GUARDED_BY(mutex_) = 0;
    uint64_t next_order_ GUARDED_BY(mutex_) = 0;
    std::atomic<size_t> watched_{0};  // owners_.size(), read without the lock
};
