// Lock contracts the compiler checks: mutexes, their scoped locks and a condition variable
// carrying Clang's capability attributes, so that a read of shared state without its lock fails
// the build with -Wthread-safety (libstdc++'s lock_guard, unique_lock and condition_variable
// carry none). Under GCC the attributes are empty and the types are the standard ones inside.
//
// A recursive mutex is one capability to the analysis, which has no re-entry: a function entered
// with it held says REQUIRES (never EXCLUDES) and takes no second scoped lock on it.
#pragma once

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define ZEM_TSA(x) __attribute__((x))
#else
#define ZEM_TSA(x)
#endif

#define CAPABILITY(x) ZEM_TSA(capability(x))
#define SCOPED_CAPABILITY ZEM_TSA(scoped_lockable)
#define GUARDED_BY(x) ZEM_TSA(guarded_by(x))
#define PT_GUARDED_BY(x) ZEM_TSA(pt_guarded_by(x))
#define REQUIRES(...) ZEM_TSA(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) ZEM_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZEM_TSA(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ZEM_TSA(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) ZEM_TSA(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) ZEM_TSA(assert_capability(x))
#define RETURN_CAPABILITY(x) ZEM_TSA(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS ZEM_TSA(no_thread_safety_analysis)

namespace zem {

template <class Std>
class CAPABILITY("mutex") BasicMutex {
public:
    using native_type = Std;
    void lock() ACQUIRE() { std_.lock(); }
    void unlock() RELEASE() { std_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return std_.try_lock(); }
    // The standard mutex inside, for the scoped lock and the condition variable only.
    Std& native() { return std_; }

private:
    Std std_;
};

using Mutex = BasicMutex<std::mutex>;
using RecursiveMutex = BasicMutex<std::recursive_mutex>;

// Holds its mutex from construction to destruction, but where unlock() and lock() release and
// take it again in between (a wait, a ramp outside the lock).
template <class M>
class SCOPED_CAPABILITY BasicLocker {
public:
    explicit BasicLocker(M& mutex) ACQUIRE(mutex) : mutex_(mutex), lock_(mutex.native()) {}
    // Takes over a lock the caller took (a successful try_lock).
    BasicLocker(M& mutex, std::adopt_lock_t) REQUIRES(mutex)
        : mutex_(mutex), lock_(mutex.native(), std::adopt_lock) {}
    ~BasicLocker() RELEASE() {}
    BasicLocker(const BasicLocker&) = delete;
    BasicLocker& operator=(const BasicLocker&) = delete;

    void lock() ACQUIRE() { lock_.lock(); }
    void unlock() RELEASE() { lock_.unlock(); }
    bool owns_lock() const { return lock_.owns_lock(); }
    M& mutex() const RETURN_CAPABILITY(mutex_) { return mutex_; }
    auto& native() { return lock_; }

private:
    M& mutex_;
    std::unique_lock<typename M::native_type> lock_;
};

using MutexLocker = BasicLocker<Mutex>;
using RecursiveMutexLocker = BasicLocker<RecursiveMutex>;

// The other way round: lets go of a mutex the caller holds (through its own scoped lock, or a
// REQUIRES) for its scope, and takes it again at its end, so the analysis sees the guarded state
// out of reach in between (a wait that lets other threads write).
template <class M>
class SCOPED_CAPABILITY BasicUnlocker {
public:
    explicit BasicUnlocker(M& mutex) RELEASE(mutex) : mutex_(mutex) { mutex_.unlock(); }
    ~BasicUnlocker() RELEASE() { mutex_.lock(); }
    BasicUnlocker(const BasicUnlocker&) = delete;
    BasicUnlocker& operator=(const BasicUnlocker&) = delete;

private:
    M& mutex_;
};

using MutexUnlocker = BasicUnlocker<Mutex>;

// Waits release and retake the locker's mutex; the analysis sees it held throughout, as the
// caller does. A predicate reading guarded state says REQUIRES of that mutex.
class ConditionVariable {
public:
    void notify_one() { cv_.notify_one(); }
    void notify_all() { cv_.notify_all(); }
    void wait(MutexLocker& locker) { cv_.wait(locker.native()); }
    template <class Predicate>
    void wait(MutexLocker& locker, Predicate stop_waiting) {
        cv_.wait(locker.native(), stop_waiting);
    }
    template <class Duration>
    std::cv_status wait_for(MutexLocker& locker, const Duration& d) {
        return cv_.wait_for(locker.native(), d);
    }
    template <class Duration, class Predicate>
    bool wait_for(MutexLocker& locker, const Duration& d, Predicate stop_waiting) {
        return cv_.wait_for(locker.native(), d, stop_waiting);
    }
    template <class TimePoint>
    std::cv_status wait_until(MutexLocker& locker, const TimePoint& t) {
        return cv_.wait_until(locker.native(), t);
    }
    template <class TimePoint, class Predicate>
    bool wait_until(MutexLocker& locker, const TimePoint& t, Predicate stop_waiting) {
        return cv_.wait_until(locker.native(), t, stop_waiting);
    }

private:
    std::condition_variable cv_;
};

}  // namespace zem
