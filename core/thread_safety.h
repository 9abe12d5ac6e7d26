// Lock contracts the compiler checks: mutexes, their scoped locks and a condition variable
// carrying Clang's capability attributes, so that a read of shared state without its lock fails
// the build with -Wthread-safety (libstdc++'s lock_guard, unique_lock and condition_variable
// carry none). Under GCC the attributes are empty and the types are the standard ones inside.
//
// A recursive mutex is one capability to the analysis, which has no re-entry: a function entered
// with it held says REQUIRES (never EXCLUDES) and takes no second scoped lock on it.
//
// Lock order: a mutex taken while another is held says ACQUIRED_AFTER of it (the store's own,
// the links', the posted words' and the saver's all come after the C331 mutex), and
// -Wthread-safety-beta refuses the two taken the other way round within one function. What
// clang 14 cannot check: the order through a call (a function that takes the C331 mutex, called
// holding a later one), and a missing EXCLUDES on a new function that takes a static mutex of
// another class (called holding it, it deadlocks: the analysis knows no function it does not
// see the annotation of). Nor can it follow a raw pointer into guarded storage past the lock it
// was taken under: none leaves the function that holds that lock (a rule for review).
#pragma once

#include <condition_variable>
#include <mutex>
#ifdef ZEM_LOCK_HOLDS
#include <atomic>
#include <chrono>
#include <cstdint>
#endif

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
#define ACQUIRED_AFTER(...) ZEM_TSA(acquired_after(__VA_ARGS__))
#define ACQUIRED_BEFORE(...) ZEM_TSA(acquired_before(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) ZEM_TSA(assert_capability(x))
#define RETURN_CAPABILITY(x) ZEM_TSA(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS ZEM_TSA(no_thread_safety_analysis)

// A build that measures holds (cmake -DZEM_LOCK_HOLDS=ON) times each hold of a watched mutex
// and keeps the longest, with where the locker was made; in every other build none of it
// exists. ZEM_HOLDS(code) is code in that build only; ZEM_WHERE and ZEM_AND_WHERE, the
// caller's place as defaulted parameters.
#ifdef ZEM_LOCK_HOLDS
#define ZEM_HOLDS(...) __VA_ARGS__
#define ZEM_WHERE const char *file = __builtin_FILE(), int line = __builtin_LINE()
#define ZEM_AND_WHERE , ZEM_WHERE
#else
#define ZEM_HOLDS(...)
#define ZEM_WHERE
#define ZEM_AND_WHERE
#endif

namespace zem {

#ifdef ZEM_LOCK_HOLDS
// The holds of a watched mutex, written by its holder, read by anyone.
struct LockHolds {
    std::atomic<uint64_t> count{0};
    std::atomic<int64_t> longest_ns{0};
    std::atomic<const char*> file{""};
    std::atomic<int> line{0};
    void add(std::chrono::nanoseconds held, const char* where, int at) {
        count.fetch_add(1, std::memory_order_relaxed);
        if (held.count() <= longest_ns.load(std::memory_order_relaxed)) return;
        longest_ns.store(held.count(), std::memory_order_relaxed);
        file.store(where, std::memory_order_relaxed);
        line.store(at, std::memory_order_relaxed);
    }
};
#endif

template <class Std>
class CAPABILITY("mutex") BasicMutex {
public:
    using native_type = Std;
    void lock(ZEM_WHERE) ACQUIRE() {
        std_.lock();
        ZEM_HOLDS(began(file, line));
    }
    void unlock() RELEASE() {
        ZEM_HOLDS(ending());
        std_.unlock();
    }
    bool try_lock(ZEM_WHERE) TRY_ACQUIRE(true) {
        if (!std_.try_lock()) return false;
        ZEM_HOLDS(began(file, line));
        return true;
    }
    // The standard mutex inside, for the scoped lock and the condition variable only.
    Std& native() { return std_; }

#ifdef ZEM_LOCK_HOLDS
    LockHolds* holds = nullptr;  // set on a watched mutex, before any thread takes it
    // Called by the holder, the mutex held: a hold begins, with where its locker was made, or
    // ends.
    void began(const char* file, int line) {
        if (!holds) return;
        file_ = file;
        line_ = line;
        since_ = std::chrono::steady_clock::now();
    }
    void ending() {
        if (holds) holds->add(std::chrono::steady_clock::now() - since_, file_, line_);
    }
    // Where the hold under way began: a wait takes it up there again, whoever held the mutex
    // meanwhile.
    const char* heldFile() const {
        return file_;
    }
    int heldLine() const {
        return line_;
    }

private:
    std::chrono::steady_clock::time_point since_;
    const char* file_ = "";
    int line_ = 0;
#endif

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
    explicit BasicLocker(M& mutex ZEM_AND_WHERE) ACQUIRE(mutex)
        : mutex_(mutex), lock_(mutex.native()) {
        ZEM_HOLDS(file_ = file; line_ = line; mutex_.began(file, line));
    }
    // Takes over a lock the caller took (a successful try_lock).
    BasicLocker(M& mutex, std::adopt_lock_t) REQUIRES(mutex)
        : mutex_(mutex), lock_(mutex.native(), std::adopt_lock) {}
    ~BasicLocker() RELEASE() { ZEM_HOLDS(if (lock_.owns_lock()) mutex_.ending()); }
    BasicLocker(const BasicLocker&) = delete;
    BasicLocker& operator=(const BasicLocker&) = delete;

    void lock() ACQUIRE() {
        lock_.lock();
        ZEM_HOLDS(mutex_.began(file_, line_));
    }
    void unlock() RELEASE() {
        ZEM_HOLDS(mutex_.ending());
        lock_.unlock();
    }
    bool owns_lock() const { return lock_.owns_lock(); }
    M& mutex() const RETURN_CAPABILITY(mutex_) { return mutex_; }
    auto& native() { return lock_; }

private:
    M& mutex_;
    std::unique_lock<typename M::native_type> lock_;
#ifdef ZEM_LOCK_HOLDS
    const char* file_ = "";
    int line_ = 0;
#endif
};

using MutexLocker = BasicLocker<Mutex>;
using RecursiveMutexLocker = BasicLocker<RecursiveMutex>;

// The other way round: lets go of a mutex the caller holds (through its own scoped lock, or a
// REQUIRES) for its scope, and takes it again at its end, so the analysis sees the guarded state
// out of reach in between (a wait that lets other threads write).
template <class M>
class SCOPED_CAPABILITY BasicUnlocker {
public:
    explicit BasicUnlocker(M& mutex) RELEASE(mutex) : mutex_(mutex) {
        ZEM_HOLDS(file_ = mutex_.heldFile(); line_ = mutex_.heldLine());
        mutex_.unlock();
    }
    // The hold taken up again is credited where the let-go one began.
    ~BasicUnlocker() RELEASE() { mutex_.lock(ZEM_HOLDS(file_, line_)); }
    BasicUnlocker(const BasicUnlocker&) = delete;
    BasicUnlocker& operator=(const BasicUnlocker&) = delete;

private:
    M& mutex_;
#ifdef ZEM_LOCK_HOLDS
    const char* file_ = "";
    int line_ = 0;
#endif
};

using MutexUnlocker = BasicUnlocker<Mutex>;

// Waits release and retake the locker's mutex; the analysis sees it held throughout, as the
// caller does. A predicate reading guarded state says REQUIRES of that mutex.
class ConditionVariable {
public:
    void notify_one() { cv_.notify_one(); }
    void notify_all() { cv_.notify_all(); }
    void wait(MutexLocker& locker) {
        ZEM_HOLDS(Pause pause(locker));
        cv_.wait(locker.native());
    }
    template <class Predicate>
    void wait(MutexLocker& locker, Predicate stop_waiting) {
        ZEM_HOLDS(Pause pause(locker));
        cv_.wait(locker.native(), stop_waiting);
    }
    template <class Duration>
    std::cv_status wait_for(MutexLocker& locker, const Duration& d) {
        ZEM_HOLDS(Pause pause(locker));
        return cv_.wait_for(locker.native(), d);
    }
    template <class Duration, class Predicate>
    bool wait_for(MutexLocker& locker, const Duration& d, Predicate stop_waiting) {
        ZEM_HOLDS(Pause pause(locker));
        return cv_.wait_for(locker.native(), d, stop_waiting);
    }
    template <class TimePoint>
    std::cv_status wait_until(MutexLocker& locker, const TimePoint& t) {
        ZEM_HOLDS(Pause pause(locker));
        return cv_.wait_until(locker.native(), t);
    }
    template <class TimePoint, class Predicate>
    bool wait_until(MutexLocker& locker, const TimePoint& t, Predicate stop_waiting) {
        ZEM_HOLDS(Pause pause(locker));
        return cv_.wait_until(locker.native(), t, stop_waiting);
    }

private:
#ifdef ZEM_LOCK_HOLDS
    // The wait lets the mutex go: no part of a hold.
    struct Pause {
        explicit Pause(MutexLocker& locker)
            : mutex(locker.mutex()), file(mutex.heldFile()), line(mutex.heldLine()) {
            mutex.ending();
        }
        ~Pause() { mutex.began(file, line); }
        Mutex& mutex;
        const char* file;
        int line;
    };
#endif
    std::condition_variable cv_;
};

}  // namespace zem
