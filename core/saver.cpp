#include "core/saver.h"

#include <algorithm>

#include "core/zem_ram_para.h"
#include "platform/thread_name.h"

Saver& Saver::get() {
    static Saver saver;
    return saver;
}

void Saver::post(Kind kind, uint8_t mode) {
    const Job job{kind, mode};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (thread_.joinable()) {
            if (std::find(waiting_.begin(), waiting_.end(), job) == waiting_.end()) {
                waiting_.push_back(job);
                cv_.notify_one();
            }
            return;
        }
    }
    execute(job);
}

void Saver::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) return;
    stop_ = false;
    thread_ = std::thread([this] { run(); });
    platform::nameThread(thread_, "saver");
}

void Saver::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_.joinable()) return;
        stop_ = true;
        waiting_.clear();
    }
    cv_.notify_one();
    thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    thread_ = std::thread();
    idle_cv_.notify_all();
}

void Saver::drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_cv_.wait(lock, [this] { return (waiting_.empty() && !busy_) || !thread_.joinable(); });
}

void Saver::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
        if (stop_) return;
        // Taken off the queue before it runs: a post from here on is a job of its own, which
        // takes what was written after this one's values.
        const Job job = waiting_.front();
        waiting_.pop_front();
        busy_ = true;
        lock.unlock();
        if (hooks.before_job) hooks.before_job(job);
        execute(job);
        lock.lock();
        busy_ = false;
        if (waiting_.empty()) idle_cv_.notify_all();
    }
}

void Saver::execute(const Job& job) {
    ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    if (!store) return;
    switch (job.kind) {
        case kParameterFile:
            store->ram_para_persist();
            return;
        case kSlotSync:
            store->ZemUserModeSync();
            return;
        case kModeSave:
            store->save_mode_on_request(job.mode);
            return;
        case kModeDelete:
            store->mode_file_deal(job.mode - 1, 1);
            return;
    }
}
