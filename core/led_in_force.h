// The LED screen set in force, kept once for the whole box: the five words the last size check
// took (RAM 1376 splice, 1378 and 1380 width and height, 1412 and 1414 output 1) and the image
// offset that goes with them (RAM 1382, 1384). The RAM's words may be a PC's, waiting for their
// check: refusals go back to this set, saves save it, and an FPGA's bring-up reads its size and
// offset from here, since the FPGA thread may not take the C331 mutex that guards the RAM.
#pragma once

#include <array>
#include <cstdint>

#include "c331/c331_manage.h"
#include "core/thread_safety.h"

class LedInForce {
public:
    struct Set {
        std::array<uint16_t, 5> words{};  // in the order of led_size::kRamWords
        uint16_t x = 0, y = 0;            // RAM 1382, 1384
        uint16_t width() const { return words[1]; }
        uint16_t height() const { return words[2]; }
    };

    static LedInForce& get() {
        static LedInForce in_force;
        return in_force;
    }

    // The parameter store's change, the set and its offset in one step.
    void take(const Set& set) REQUIRES(c331_manage::c331_mutex) EXCLUDES(mutex_) {
        zem::MutexLocker lock(mutex_);
        set_ = set;
    }
    Set set() const EXCLUDES(mutex_) {
        zem::MutexLocker lock(mutex_);
        return set_;
    }

private:
    // A leaf: the store takes it inside the C331 mutex, the FPGA thread under its own locks.
    mutable zem::Mutex mutex_ ACQUIRED_AFTER(c331_manage::c331_mutex);
    Set set_ GUARDED_BY(mutex_);
};
