#include "core/saver.h"

#include <algorithm>
#include <string>

#include "core/globals.h"
#include "core/zem_ram_para.h"
#include "platform/thread_name.h"

namespace {

void sayRefused(int slot) {
    const std::string what =
        slot < 0 ? std::string("the parameter file") : "user mode " + std::to_string(slot + 1);
    writeLogMsg(1, "saver: job after the stop",
                ("saver: " + what + " asked after the stop's file work, not written").c_str());
}

}  // namespace

bool Saver::refusing() const {
    return state_ == kEnding || state_ == kDrained;
}

namespace {

// The OSD step a job leaves last: its own, else the one it owed.
Saver::OsdStep lastOsdStep(const Saver::Job& job) {
    return job.osd != Saver::kOsdNone ? job.osd : job.owed_osd;
}

}  // namespace

uint64_t Saver::post(const Job& job) {
    zem::MutexLocker lock(mutex_);
    if (refusing()) {
        lock.unlock();
        sayRefused(job.slot);
        return 0;
    }
    Job taken = job;
    taken.key = taken.first_key = ++last_key_;
    // The later request takes the replaced job's place in the line, so nothing asked between
    // them waits longer for that slot's file. Its bytes are newer than the replaced job's; what
    // that job owed besides them is done with it, and its keys are carried out with it.
    if (std::optional<Job>& earlier = waiting_[job.slot]) {
        taken.owed_osd = lastOsdStep(*earlier);
        taken.first_key = earlier->first_key;
        taken.post_parameter_file = taken.post_parameter_file || earlier->post_parameter_file;
    } else {
        order_.push_back(job.slot);
    }
    waiting_[job.slot] = std::move(taken);
    cv_.notify_one();
    return last_key_;
}

uint64_t Saver::first_key_waiting() const {
    zem::MutexLocker lock(mutex_);
    uint64_t first = running_.first_key;
    for (const std::optional<Job>& w : waiting_)
        if (w) first = std::min(first, w->first_key);
    return first;
}

void Saver::run_waiting() {
    zem::MutexLocker lock(mutex_);
    while (state_ == kNoThread && !busy_ && !order_.empty()) {
        const Job job = take_front();
        lock.unlock();
        run_job(job);
        lock.lock();
        busy_ = false;
    }
}

bool Saver::outstanding(int slot, uint64_t key) const {
    const std::optional<Job>& w = waiting_[slot];
    const bool waits = w && w->first_key <= key && key <= w->key;
    const bool runs = running_.slot == slot && running_.first_key <= key && key <= running_.key;
    return waits || runs;
}

bool Saver::carry_out(int slot, uint64_t key) {
    if (key == 0) return false;
    run_waiting();
    zem::MutexLocker lock(mutex_);
    // Without the thread, another caller's run_waiting may be running it.
    idle_cv_.wait(lock, [&]() REQUIRES(mutex_) { return !outstanding(slot, key); });
    return done_[size_t(slot)].key >= key && done_[size_t(slot)].ok;
}

Saver::Job Saver::take_front() {
    const int entry = order_.front();
    order_.pop_front();
    Job job;
    if (entry != kParaEntry) {
        job = std::move(*waiting_[entry]);
        waiting_[entry].reset();
        running_ = {entry, job.first_key, job.key};
    }
    busy_ = true;
    return job;
}

void Saver::run_job(const Job& job) {
    const bool ok = execute(job);
    if (job.kind == kParameterFile) return;
    {
        zem::MutexLocker lock(mutex_);
        done_[job.slot] = {job.key, ok};
        running_ = Running();
    }
    idle_cv_.notify_all();
    store_.end_carried_out_saves();
}

void Saver::post_parameter_file() {
    {
        zem::MutexLocker lock(mutex_);
        if (refusing()) {
            lock.unlock();
            sayRefused(kParaEntry);
            return;
        }
        if (state_ == kRunning) {
            if (std::find(order_.begin(), order_.end(), kParaEntry) == order_.end()) {
                order_.push_back(kParaEntry);
                cv_.notify_one();
            }
            return;
        }
    }
    execute(Job());
}

void Saver::hold(bool on) {
    {
        zem::MutexLocker lock(mutex_);
        held_ = on;
        steps_ = 0;
    }
    cv_.notify_one();
}

bool Saver::step() {
    zem::MutexLocker lock(mutex_);
    if (order_.empty() || state_ != kRunning) return false;
    const uint64_t target = finished_ + 1;
    ++steps_;
    cv_.notify_one();
    idle_cv_.wait(lock,
                  [&]() REQUIRES(mutex_) { return finished_ >= target || state_ != kRunning; });
    return true;
}

int Saver::waiting() const {
    zem::MutexLocker lock(mutex_);
    return int(order_.size());
}

bool Saver::running() const {
    zem::MutexLocker lock(mutex_);
    return state_ == kRunning;
}

void Saver::start() {
    zem::MutexLocker lock(mutex_);
    if (state_ == kRunning || state_ == kEnding) return;
    state_ = kRunning;
    stop_ = false;
    thread_ = std::thread([this] { run(); });
    platform::nameThread(thread_, "saver");
}

void Saver::stop() {
    std::thread ending;
    {
        zem::MutexLocker lock(mutex_);
        if (state_ != kRunning) return;
        state_ = kEnding;
        stop_ = true;
        order_.clear();
        for (auto& w : waiting_) w.reset();
        ending = std::move(thread_);
    }
    cv_.notify_one();
    ending.join();
    zem::MutexLocker lock(mutex_);
    state_ = kNoThread;
    idle_cv_.notify_all();
}

int Saver::finish(std::chrono::milliseconds bound) {
    std::thread ending;
    {
        zem::MutexLocker lock(mutex_);
        // Past the bound the program ends with the thread where it stands: each file is written
        // beside and renamed, so the disk holds the old or the new one.
        if (state_ == kRunning &&
            !idle_cv_.wait_for(lock, bound, [this]() REQUIRES(mutex_) { return idle(); }))
            return int(order_.size()) + (busy_ ? 1 : 0);
        // Drained, under the lock that posts take: a later one is refused, none is dropped.
        if (state_ == kRunning) {
            stop_ = true;
            ending = std::move(thread_);
        }
        state_ = kDrained;
    }
    if (hooks.after_drain) hooks.after_drain();
    if (ending.joinable()) {
        cv_.notify_one();
        ending.join();
    }
    idle_cv_.notify_all();
    return 0;
}

void Saver::drain() {
    zem::MutexLocker lock(mutex_);
    idle_cv_.wait(lock, [this]() REQUIRES(mutex_) { return idle() || state_ != kRunning; });
}

void Saver::run() {
    zem::MutexLocker lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this]() REQUIRES(mutex_) {
            return stop_ || (!order_.empty() && (!held_ || steps_ > 0));
        });
        if (stop_) {
            lock.unlock();
            if (hooks.at_thread_end) hooks.at_thread_end();
            return;
        }
        if (held_) --steps_;
        // Taken off the queue before it runs: a post from here on is a job of its own, which
        // follows this one.
        const Job job = take_front();
        lock.unlock();
        if (hooks.before_job) hooks.before_job(job);
        run_job(job);
        lock.lock();
        busy_ = false;
        ++finished_;
        idle_cv_.notify_all();
    }
}

bool Saver::execute(const Job& job) {
    if (job.kind == kParameterFile) return store_.ram_para_persist() >= 0;
    return store_.run_slot_job(job);
}
