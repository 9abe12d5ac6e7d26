// One clock for every sleep and time reading of the program, so tests of timed paths can run
// a 4-second or 300-tick wait in microseconds.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic microseconds since an arbitrary start.
    virtual uint64_t nowUs() = 0;
    virtual void sleepUs(uint64_t us) = 0;
    // Wall-clock seconds since 1970 (UTC): the system clock that "date" sets on the box.
    virtual int64_t wallSeconds() = 0;
};

Clock& clock();
// Replaces the clock (tests); nullptr restores the real one.
void installClock(std::unique_ptr<Clock> c);

// The clock the panel's 10 ms tick counts periods on: the real one unless replaced. Apart from
// clock(), so that tests whose threads sleep in real time still step the tick by hand.
Clock& tickClock();
void installTickClock(std::unique_ptr<Clock> c);

inline void sleepUs(uint64_t us) {
    clock().sleepUs(us);
}
inline void sleepMs(uint64_t ms) {
    clock().sleepUs(ms * 1000);
}
inline uint64_t nowMs() {
    return clock().nowUs() / 1000;
}

// A clock whose sleeps return (almost) at once and advance its time by the amount slept; advance()
// moves it by hand. Its wall clock runs with it from 2026-01-01 00:00:00 UTC until setWall()
// moves it. Safe to use from several threads.
class FakeClock : public Clock {
public:
    uint64_t nowUs() override;
    void sleepUs(uint64_t us) override;
    void advance(uint64_t us);
    uint64_t sleptUs() const;
    int64_t wallSeconds() override;
    void setWall(int64_t seconds);  // total of all sleeps so far

private:
    struct State;
    std::shared_ptr<State> state_ = makeState();
    static std::shared_ptr<State> makeState();
};

// A fake clock that moves on by a step at every reading (10 ms unless set): as the tick clock,
// each call of the tick is one period, or as many as the step holds.
class SteppingClock : public FakeClock {
public:
    static constexpr uint64_t kPeriodUs = 10000;
    uint64_t nowUs() override;
    void setStepUs(uint64_t us);

private:
    std::atomic<uint64_t> step_us_{kPeriodUs};
};

}  // namespace platform
