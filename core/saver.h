// The parameter store's file work on a thread of its own: the parameter file, the user-mode
// files and their OSD menu copies. Each is still written whole, synced and paused, but never on
// the main thread, whose 10 ms tick and panel a save's sync and pause would stall.
//
// The store owns it and hands it requests as jobs. The store changed its memory when it took
// each request; a slot's job carries the file's bytes as the take left them and writes nothing
// back. The parameter file's job takes the RAM when it runs, and waits at most once.
//
// Each slot job gets an order key as it is posted, under the C331 mutex, so the keys follow the
// order in which the box answered its requests. The line runs from its front. A later job on a
// slot whose job still waits replaces that job in its place in the line (its bytes are newer)
// and carries what the replaced one still owed: its OSD step, its keys, the parameter file's
// post. So a slot's file lands at the place of its first waiting take, with the bytes of its
// last, and at most one job waits per slot, plus the parameter file's, whatever a PC floods.
// After each slot job, with its own mutex let go, the saver has the store end the save requests
// whose keys, and every key before them, are carried out (first_key_waiting): written, removed,
// or failed and said. The parameter file's job holds up no request.
//
// Lock order: the saver's mutex is a leaf, taken inside the C331 mutex (a post), never around it.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "c331/c331_manage.h"
#include "core/thread_safety.h"

class ZemRamPara;

class Saver {
public:
    static constexpr int kSlots = 16;
    static constexpr int kFileSize = 4096;

    enum Kind : uint8_t {
        kParameterFile,  // RAM 768..4095, when it differs from the file
        kModeSave,       // a save request (RAM 868, or the panel's): the mode file
        kModeWrite,      // the synchronisation of a slot marked saved: its file
        kModeDelete,     // a slot marked deleted (by a PC or the panel): its files removed
    };
    // What a job does with the slot's OSD menu copy ("/data/modes/MOnn.json").
    enum OsdStep : uint8_t { kOsdNone, kOsdCopy, kOsdRemove };
    struct Job {
        Kind kind = kParameterFile;
        uint8_t slot = 0;        // 0..15
        OsdStep osd = kOsdNone;  // its own, after its file work
        // The last OSD step of the jobs it replaced, which they still owed: run after its file
        // work, before its own OSD step.
        OsdStep owed_osd = kOsdNone;
        // The parameter file's job, posted once its file work is done (a save's, or owed).
        bool post_parameter_file = false;
        // Set by post: its own order key, and the first of the takes it stands for (the oldest
        // job it replaced, else its own).
        uint64_t key = 0;
        uint64_t first_key = 0;
        std::array<uint8_t, kFileSize> image{};  // save and write: the file's bytes
    };
    static constexpr uint64_t kNoKey = ~uint64_t(0);

    explicit Saver(ZemRamPara& store) : store_(store) {}
    ~Saver() { stop(); }
    Saver(const Saver&) = delete;
    Saver& operator=(const Saver&) = delete;

    // Queues a slot's job and returns its order key; the store posts under the C331 mutex, so
    // that the keys and the line hold requests in the order the box answered them. Without the
    // thread (start-up, and tests that do not start it) it waits for run_waiting. A job still
    // waiting for the slot is replaced in its place, and what it owed moves to the new one.
    // While the thread ends, and after the stop's drain (finish) until the next start, a job is
    // refused with one line on the terminal, and 0 returned.
    uint64_t post(const Job& job) REQUIRES(c331_manage::c331_mutex);
    // The first key not carried out: of the slot job under way or of any waiting; kNoKey when
    // none. Under the C331 mutex, which every post holds, so no key is taken meanwhile.
    uint64_t first_key_waiting() const REQUIRES(c331_manage::c331_mutex);
    // Without the thread: runs every job waiting on the caller, which holds no store lock.
    // With it: nothing.
    void run_waiting() EXCLUDES(c331_manage::c331_mutex);
    // Slot `slot`'s job of `key` (post's) carried out: run on the caller with every job before
    // it when there is no thread, else waited for. True when the job that carried it (its own,
    // or the later one that replaced it) did its file work; false for a job refused or dropped
    // by stop().
    bool carry_out(int slot, uint64_t key) EXCLUDES(c331_manage::c331_mutex);
    // Queues the parameter file's job unless it waits already; refused as post refuses.
    void post_parameter_file() EXCLUDES(c331_manage::c331_mutex);

    void start();
    // The job under way ends whole; those still waiting are dropped (their keys with them, so
    // they hold up no request). Jobs then run on the caller again.
    void stop();
    // The stop's drain: every waiting job is run, then the thread ends, and no job is taken any
    // more until the next start (nothing comes between the drain and the thread's end). Returns
    // the number of jobs not written when `bound` ran out (the thread then goes on until the
    // program ends, and still takes jobs).
    int finish(std::chrono::milliseconds bound);
    bool running() const;
    // Waits until no job waits or runs (tests and benchmarks).
    void drain();

    // ===== what only tests set, before the thread starts =====
    struct TestHooks {
        // Run on the saver's thread before each job.
        std::function<void(const Job&)> before_job;
        // Run by finish on its caller once the line is empty, before the thread is ended.
        std::function<void()> after_drain;
        // Run on the saver's thread as it ends, while stop() waits for it.
        std::function<void()> at_thread_end;
    };
    // Tests: while held, the thread takes no job until step() lets the first waiting one go;
    // step() returns once it has ended and the save requests it held up last have ended, false
    // when none waits.
    void hold(bool on);
    bool step();
    // The jobs waiting (tests).
    int waiting() const;
    TestHooks hooks;

private:
    // Where the thread is: none (jobs run on the caller), taking jobs, ending (stop() waits for
    // it), or ended by the stop's drain.
    enum State { kNoThread, kRunning, kEnding, kDrained };
    void run() EXCLUDES(c331_manage::c331_mutex);
    // The job's work: true when a slot's file work was done.
    bool execute(const Job& job) EXCLUDES(c331_manage::c331_mutex);
    // A job taken off the line: its work, then, for a slot's, its keys carried out and the
    // save requests it held up last ended (the store takes the C331 mutex for that).
    void run_job(const Job& job) EXCLUDES(mutex_, c331_manage::c331_mutex);
    // The first job in line, off the line and recorded as under way (busy_); the line is not
    // empty.
    Job take_front() REQUIRES(mutex_);
    // Whether the job of `key` on `slot` is waiting or under way.
    bool outstanding(int slot, uint64_t key) const REQUIRES(mutex_);
    bool idle() const REQUIRES(mutex_) { return order_.empty() && !busy_; }
    // A job posted while the thread ends or after the drain is not taken.
    bool refusing() const REQUIRES(mutex_);

    ZemRamPara& store_;
    mutable zem::Mutex mutex_ ACQUIRED_AFTER(c331_manage::c331_mutex);
    zem::ConditionVariable cv_;
    zem::ConditionVariable idle_cv_;
    // The slot of each waiting job, or kParaEntry, in the order asked.
    std::deque<int> order_ GUARDED_BY(mutex_);
    static constexpr int kParaEntry = -1;
    std::array<std::optional<Job>, kSlots> waiting_ GUARDED_BY(mutex_);
    // The slot job under way: its slot and keys (first_key kNoKey when none).
    struct Running {
        int slot = 0;
        uint64_t first_key = kNoKey, key = 0;
    };
    Running running_ GUARDED_BY(mutex_);
    // Each slot's last job carried out: its key and whether its file work was done.
    struct Done {
        uint64_t key = 0;
        bool ok = false;
    };
    std::array<Done, kSlots> done_ GUARDED_BY(mutex_){};
    uint64_t last_key_ GUARDED_BY(mutex_) = 0;
    State state_ GUARDED_BY(mutex_) = kNoThread;
    bool busy_ GUARDED_BY(mutex_) = false;
    bool stop_ GUARDED_BY(mutex_) = false;
    bool held_ GUARDED_BY(mutex_) = false;
    int steps_ GUARDED_BY(mutex_) = 0;          // jobs a held thread may take
    uint64_t finished_ GUARDED_BY(mutex_) = 0;  // jobs the thread ended
    std::thread thread_ GUARDED_BY(mutex_);  // set and moved out under mutex_, never read by a post
};
