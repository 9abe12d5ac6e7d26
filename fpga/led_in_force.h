// The LED screen as an FPGA's bring-up reads it: the size in force (RAM 1378, 1380) and the
// image offset the last output-panel set-up wrote (RAM 1382, 1384). The RAM's words may be a
// PC's, waiting for their check, and the FPGA thread may not take the C331 mutex that guards
// them: the parameter store copies what it takes into this cell instead.
#pragma once

#include <cstdint>

#include "core/thread_safety.h"

// The latest values win. Its mutex is a leaf: the store fills the cell under the C331 mutex,
// the FPGA thread reads it under its own locks.
class LedInForceCell {
public:
    struct Screen {
        uint16_t width = 0, height = 0;  // RAM 1378, 1380
        uint16_t x = 0, y = 0;           // RAM 1382, 1384
    };

    static LedInForceCell& get() {
        static LedInForceCell cell;
        return cell;
    }

    // A size taken by its check (or the load).
    void take_size(uint16_t width, uint16_t height) EXCLUDES(mutex_) {
        zem::MutexLocker lock(mutex_);
        screen_.width = width;
        screen_.height = height;
    }
    // The offset the panel set-up wrote.
    void take_offset(uint16_t x, uint16_t y) EXCLUDES(mutex_) {
        zem::MutexLocker lock(mutex_);
        screen_.x = x;
        screen_.y = y;
    }
    Screen screen() const EXCLUDES(mutex_) {
        zem::MutexLocker lock(mutex_);
        return screen_;
    }

private:
    mutable zem::Mutex mutex_;
    Screen screen_ GUARDED_BY(mutex_);
};
