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

std::optional<Saver::Job> Saver::post(const Job& job) {
    std::optional<Job> replaced;
    {
        zem::MutexLocker lock(mutex_);
        if (refusing()) {
            lock.unlock();
            sayRefused(job.slot);
            return replaced;
        }
        line_gen_[job.slot] = job.slot_gen;
        // The later request takes the place at the end of the line: jobs run as asked.
        if (waiting_[job.slot]) {
            replaced = std::move(waiting_[job.slot]);
            order_.erase(std::find(order_.begin(), order_.end(), int(job.slot)));
        } else {
            ++in_line_[job.slot];
        }
        waiting_[job.slot] = job;
        order_.push_back(job.slot);
        cv_.notify_one();
    }
    return replaced;
}

void Saver::run_waiting() {
    zem::MutexLocker lock(mutex_);
    while (state_ == kNoThread && !busy_ && !order_.empty()) {
        const Job job = take_front();
        busy_ = true;
        lock.unlock();
        execute(job);
        lock.lock();
        busy_ = false;
    }
}

Saver::Job Saver::take_front() {
    const int entry = order_.front();
    order_.pop_front();
    Job job;
    if (entry != kParaEntry) {
        job = std::move(*waiting_[entry]);
        waiting_[entry].reset();
    }
    return job;
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

bool Saver::holds(int slot, uint32_t gen) const {
    zem::MutexLocker lock(mutex_);
    return in_line_[slot] > 0 && line_gen_[slot] == gen;
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
    idle_cv_.wait(lock, [&]() REQUIRES(mutex_) { return finished_ >= target || state_ != kRunning; });
    return true;
}

int Saver::waiting() const {
    zem::MutexLocker lock(mutex_);
    return int(order_.size());
}

bool Saver::last_in_line(int slot) const {
    zem::MutexLocker lock(mutex_);
    return !waiting_[slot];
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
        for (int slot : order_)
            if (slot != kParaEntry) --in_line_[slot];
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
        if (state_ == kRunning && !idle_cv_.wait_for(lock, bound, [this]() REQUIRES(mutex_) { return idle(); }))
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
        busy_ = true;
        lock.unlock();
        if (hooks.before_job) hooks.before_job(job);
        execute(job);
        lock.lock();
        busy_ = false;
        ++finished_;
        idle_cv_.notify_all();
    }
}

void Saver::execute(const Job& job) {
    if (job.kind == kParameterFile) {
        store_.ram_para_persist();
        return;
    }
    store_.run_slot_job(job);
    // Counted out only after the job's write-back: a synchronisation that finds it still in
    // line skips the slot, and one that does not sees the slot as the job left it.
    zem::MutexLocker lock(mutex_);
    --in_line_[job.slot];
}
