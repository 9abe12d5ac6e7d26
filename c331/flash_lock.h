// The lock of the C331's serial-flash engine, shared by the PC links, the USB upgrade, the
// panel and the C331 thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "core/thread_safety.h"

// Recursive, so that a holder may call the flash operations, and handed over between the units
// of a long job: a thread that asked for it while a job held it goes before the job's next
// unit. Turns are served in the order they were asked for. Meets BasicLockable.
class FlashLock {
public:
    void lock();
    void unlock();
    // Between two units of a job holding the lock once: every thread waiting for it meanwhile
    // runs its operation first, in the order they asked, then the job takes it back. True when
    // the lock was given up, so the engine's set-up is no longer the job's.
    bool let_waiting_in();

    // Test seam: blocks until at least n threads wait for the lock (a job's unit is under way
    // while another caller's request waits).
    void wait_for_waiters(int n);

private:
    void take(zem::MutexLocker& state) REQUIRES(mutex_);
    zem::Mutex mutex_;
    // Every change wakes every waiter: each checks its own ticket, and wait_for_waiters counts.
    zem::ConditionVariable changed_;
    uint64_t next_ticket_ GUARDED_BY(mutex_) = 0;
    uint64_t serving_ GUARDED_BY(mutex_) = 0;  // the holder's ticket is serving_
    std::thread::id owner_ GUARDED_BY(mutex_);
    int depth_ GUARDED_BY(mutex_) = 0;  // how many times the owner holds it
};
