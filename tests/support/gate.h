// Where a held job waits, on its own thread, until the test opens the gate: it enters, then
// waits (bounded, so that a failing test still ends). Opening lets go of the jobs inside only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "time_factor.h"

class Gate {
public:
    void pass() {
        std::unique_lock<std::mutex> lock(m_);
        const uint32_t opened = opened_;
        ++inside_;
        cv_.notify_all();
        cv_.wait_for(lock, hangBound(std::chrono::seconds(30)), [&] { return opened_ != opened; });
        --inside_;
    }
    bool entered(int ms) {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, hangBound(std::chrono::milliseconds(ms)),
                            [this] { return inside_ > 0; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(m_);
        ++opened_;
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    int inside_ = 0;
    uint32_t opened_ = 0;
};
