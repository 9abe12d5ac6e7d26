#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

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
std::atomic<Clock*> g_clock{&g_real};
std::unique_ptr<Clock> g_installed;
std::mutex g_install_mutex;

}  // namespace

Clock& clock() {
    return *g_clock.load(std::memory_order_acquire);
}

void installClock(std::unique_ptr<Clock> c) {
    std::lock_guard<std::mutex> lock(g_install_mutex);
    // The old clock stays alive: a thread may still be inside one of its sleeps.
    static std::unique_ptr<Clock> retired;
    retired = std::move(g_installed);
    g_installed = std::move(c);
    g_clock.store(g_installed ? g_installed.get() : &g_real, std::memory_order_release);
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

}  // namespace platform
