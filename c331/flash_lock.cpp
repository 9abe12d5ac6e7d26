#include "c331/flash_lock.h"

void FlashLock::take(zem::MutexLocker& state) {
    const uint64_t ticket = next_ticket_++;
    changed_.notify_all();  // wait_for_waiters
    changed_.wait(state, [&]() REQUIRES(mutex_) { return serving_ == ticket; });
    owner_ = std::this_thread::get_id();
    depth_ = 1;
}

void FlashLock::lock() {
    zem::MutexLocker state(mutex_);
    if (depth_ > 0 && owner_ == std::this_thread::get_id()) {
        ++depth_;
        return;
    }
    take(state);
}

void FlashLock::unlock() {
    zem::MutexLocker state(mutex_);
    if (--depth_ > 0) return;
    owner_ = std::thread::id();
    ++serving_;
    changed_.notify_all();
}

bool FlashLock::let_waiting_in() {
    zem::MutexLocker state(mutex_);
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
    zem::MutexLocker state(mutex_);
    changed_.wait(state, [&]() REQUIRES(mutex_) {
        return int64_t(next_ticket_ - serving_) - (depth_ > 0 ? 1 : 0) >= int64_t(n);
    });
}
