// The parameter store's file work on a thread of its own: the parameter file, the user-mode
// files and their OSD menu copies. Each is still written whole, synced and paused, but never on
// the main thread, whose 10 ms tick and panel a save's sync and pause would stall. A job waits at
// most once: posted again while it waits, it stays where it is, and it takes the values in force
// when it runs. Jobs run in the order they were first posted.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class Saver {
public:
    enum Kind : uint8_t {
        kParameterFile,  // RAM 768..4095, when it differs from the file
        kSlotSync,       // every slot's file as its markers say (saved, or deleted)
        kModeSave,       // user mode `mode` saved from the RAM (the save request, RAM 868)
        kModeDelete,     // user mode `mode`'s file and OSD menu copy deleted (the panel's delete)
    };
    struct Job {
        Kind kind;
        uint8_t mode;  // 1..16 for kModeSave and kModeDelete
        bool operator==(const Job& o) const { return kind == o.kind && mode == o.mode; }
    };

    static Saver& get();

    // Queues the job unless the same one waits. Without the thread (start-up, and tests that do
    // not start it) the job runs at once on the caller.
    void post(Kind kind, uint8_t mode = 0);
    void start();
    // The job under way ends whole; those still waiting are dropped.
    void stop();
    bool running() const { return thread_.joinable(); }
    // Waits until no job waits or runs (tests and benchmarks).
    void drain();

    // ===== what only tests set, before the thread starts =====
    struct TestHooks {
        // Run on the saver's thread before each job.
        std::function<void(const Job&)> before_job;
    };
    TestHooks hooks;

private:
    Saver() = default;
    void run();
    static void execute(const Job& job);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::condition_variable idle_cv_;
    std::deque<Job> waiting_;
    bool busy_ = false;
    bool stop_ = false;
    std::thread thread_;
};
