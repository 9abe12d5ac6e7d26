// The video-processor manager. Pages, keys and the PC protocol never program the chip: they
// change the parameter RAM while holding c331_mutex and raise the apply flag with a refresh
// id; the C331 thread applies the change and emits the refresh.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class c331_manage {
public:
    static c331_manage* p_c331_manage;

    // Producer rule: lock c331_mutex, write the parameter RAM, raise_apply(id), unlock.
    static std::mutex c331_mutex;
    // Asks the C331 thread to apply and then emit refresh id `refresh_id` (1 ordinary changes,
    // 2 user modes changed by the PC). Pending ids are a set: a pending 2 is not lost to a
    // later 1. Caller holds c331_mutex.
    static void raise_apply(uint8_t refresh_id);
    // True when an apply is pending. Caller holds c331_mutex.
    static bool apply_pending();
    // Takes the lowest pending refresh id and clears it; 0 when none. Caller holds c331_mutex.
    static uint8_t take_apply();
    // Signalled by raise_apply; the C331 thread waits on it with c331_mutex.
    static std::condition_variable apply_cv;
};
