#include "c331/flash_lock.h"

void FlashLock::take(std::unique_lock<std::mutex>& state) {
    const uint64_t ticket = next_ticket_++;
    changed_.notify_all();  // wait_for_waiters
    changed_.wait(state, [&] { return serving_ == ticket; });
    owner_ = std::this_thread::get_id();
    depth_ = 1;
}

void FlashLock::lock() {
    std::unique_lock<std::mutex> state(mutex_);
    if (depth_ > 0 && owner_ == std::this_thread::get_id()) {
        ++depth_;
        return;
    }
    take(state);
}

void FlashLock::unlock() {
    std::lock_guard<std::mutex> state(mutex_);
    if (--depth_ > 0) return;
    owner_ = std::thread::id();
    ++serving_;
    changed_.notify_all();
}

bool FlashLock::let_waiting_in() {
    std::unique_lock<std::mutex> state(mutex_);
    // Held more than once, the caller's caller holds the whole job.
    if (depth_ != 1 || next_ticket_ == serving_ + 1) return false;
    depth_ = 0;
    owner_ = std::thread::id();
    ++serving_;
    changed_.notify_all();
    take(state);
    return true;
}

void FlashLock::wait_for_waiters(int n) {
    std::unique_lock<std::mutex> state(mutex_);
    changed_.wait(state, [&] {
        return int64_t(next_ticket_ - serving_) - (depth_ > 0 ? 1 : 0) >= int64_t(n);
    });
}
