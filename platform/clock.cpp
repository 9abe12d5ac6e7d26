#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

#include "core/thread_safety.h"

namespace platform {
namespace {

class RealClock : public Clock {
public:
    uint64_t nowUs() override {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void sleepUs(uint64_t us) override {
        std::this_thread::sleep_for(std::chrono::microseconds(us));
    }
    int64_t wallSeconds() override { return int64_t(std::time(nullptr)); }
};

RealClock g_real;

// A replaceable clock. The one replaced stays alive: a thread may still be inside its sleep.
class ClockSeat {
public:
    Clock& get() { return *current_.load(std::memory_order_acquire); }
    void install(std::unique_ptr<Clock> c) {
        zem::MutexLocker lock(mutex_);
        retired_ = std::move(installed_);
        installed_ = std::move(c);
        current_.store(installed_ ? installed_.get() : &g_real, std::memory_order_release);
    }

private:
    std::atomic<Clock*> current_{&g_real};
    std::unique_ptr<Clock> installed_ GUARDED_BY(mutex_);
    std::unique_ptr<Clock> retired_ GUARDED_BY(mutex_);
    zem::Mutex mutex_;
};

ClockSeat g_clock;
ClockSeat g_tick_clock;

}  // namespace

Clock& clock() {
    return g_clock.get();
}

void installClock(std::unique_ptr<Clock> c) {
    g_clock.install(std::move(c));
}

Clock& tickClock() {
    return g_tick_clock.get();
}

void installTickClock(std::unique_ptr<Clock> c) {
    g_tick_clock.install(std::move(c));
}

constexpr int64_t kFakeWallStart = 1767225600;  // 2026-01-01 00:00:00 UTC

struct FakeClock::State {
    std::atomic<uint64_t> now{1000000};
    std::atomic<uint64_t> slept{0};
    // Wall-clock microseconds less `now`.
    std::atomic<int64_t> wall_offset_us{kFakeWallStart * 1000000 - 1000000};
};

std::shared_ptr<FakeClock::State> FakeClock::makeState() {
    return std::make_shared<State>();
}

uint64_t FakeClock::nowUs() {
    return state_->now.load();
}

void FakeClock::sleepUs(uint64_t us) {
    state_->now += us;
    state_->slept += us;
    // Time runs a thousand times faster, so a worker that polls on a fake clock still yields
    // the processor instead of spinning.
    std::this_thread::sleep_for(std::chrono::microseconds(std::min<uint64_t>(us / 1000, 1000)));
}

void FakeClock::advance(uint64_t us) {
    state_->now += us;
}

uint64_t FakeClock::sleptUs() const {
    return state_->slept.load();
}

int64_t FakeClock::wallSeconds() {
    return (int64_t(state_->now.load()) + state_->wall_offset_us.load()) / 1000000;
}

void FakeClock::setWall(int64_t seconds) {
    state_->wall_offset_us = seconds * 1000000 - int64_t(state_->now.load());
}

uint64_t SteppingClock::nowUs() {
    advance(step_us_.load());
    return FakeClock::nowUs();
}

void SteppingClock::setStepUs(uint64_t us) {
    step_us_ = us;
}

}  // namespace platform
