// The C331 thread on the simulated box: the time from a producer raising the apply flag to the
// chip register being written (goal: median under 2 ms); and for a source switch, a window move
// and a brightness step, the time to the apply's last register write and the SPI frames it
// sends (frame waits take real frames of the simulated chip). The idle CPU of the whole program
// is measured by bench_idle_process.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_root.h"
#include "c331/c331_manage.h"
#include "core/globals.h"
#include "core/led_size_handshake.h"
#include "core/zem_ram_para.h"
#include "platform/box.h"
#include "platform/sim/sim_box.h"
#include "platform/sim/sim_c331.h"

namespace {

using Clock = std::chrono::steady_clock;

// The simulated box with the parameter store and the C331 thread in its running state.
bool startBox() {
    static bool started = false;
    if (started) return true;
    if (!selectBenchRoot("c331")) return false;
    g_debugSwitch = 0;  // no console tracing while measuring
    platform::sim::buildDefaultBox();
    ZemRamPara::pInstance();
    c331_manage* m = c331_manage::pInstance();
    for (int i = 0; i < 5000 && m->thread_state.load() != 8; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    started = m->thread_state.load() == 8;
    return started;
}

// When output channel 0's active width gets the high byte that was asked for. The chip tells
// the benchmark from the C331 thread: polling the chip here would contend for its lock with
// every frame the thread sends and measure that contention instead of the apply.
struct WidthWatch {
    std::mutex mutex;
    std::condition_variable cv;
    uint8_t want = 0;
    bool seen = false;
    Clock::time_point at;

    void arm(uint8_t high) {
        std::lock_guard<std::mutex> lock(mutex);
        want = high;
        seen = false;
    }
    void written(uint8_t bank, uint8_t address, uint8_t value) {
        if (bank != 0x08 || address != 0x43) return;
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        if (seen || value != want) return;
        seen = true;
        at = now;
        cv.notify_all();
    }
    bool wait(Clock::time_point* when) {
        std::unique_lock<std::mutex> lock(mutex);
        if (!cv.wait_for(lock, std::chrono::seconds(2), [this] { return seen; })) return false;
        *when = at;
        return true;
    }
};

// The time of the last register write the chip saw, told by the C331 thread.
struct LastWrite {
    std::mutex mutex;
    Clock::time_point at;
    void written() {
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        at = now;
    }
    Clock::time_point last() {
        std::lock_guard<std::mutex> lock(mutex);
        return at;
    }
};

// The refreshes the store emits after each apply.
struct Refreshes {
    std::mutex mutex;
    std::condition_variable cv;
    int count = 0;
    bool waitBeyond(int seen) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(5), [&] { return count > seen; });
    }
};

// Counts the store's refreshes (emitted on the C331 thread after each apply).
QMetaObject::Connection countRefreshes(const std::shared_ptr<Refreshes>& refreshes) {
    ZemRamPara* s = ZemRamPara::p_zemrampara_config;
    return QObject::connect(
        s, &ZemRamPara::sig_update_para, s,
        [refreshes](int) {
            std::lock_guard<std::mutex> lock(refreshes->mutex);
            ++refreshes->count;
            refreshes->cv.notify_all();
        },
        Qt::DirectConnection);
}

int refreshesSeen(const std::shared_ptr<Refreshes>& r) {
    std::lock_guard<std::mutex> lock(r->mutex);
    return r->count;
}

void BM_ApplyLatency(benchmark::State& state) {
    if (!startBox()) {
        state.SkipWithError("the C331 thread did not come up");
        return;
    }
    auto chip = platform::sim::simC331();
    auto watch = std::make_shared<WidthWatch>();
    chip->onWrite([watch](uint8_t bank, uint8_t address, uint8_t value) {
        watch->written(bank, address, value);
    });
    ZemRamPara* s = ZemRamPara::p_zemrampara_config;
    auto refreshes = std::make_shared<Refreshes>();
    auto connection = countRefreshes(refreshes);
    std::vector<double> samples;
    uint16_t width = 1920;
    // No producer starts a handshake and no FPGA side runs here: the restart each new width asks
    // for stays asked, and no turn waits for a blanking.
    led_size_handshake::get().clear();
    for (auto _ : state) {
        width = width == 1920 ? 1280 : 1920;
        const int seen = refreshesSeen(refreshes);
        watch->arm(static_cast<uint8_t>(width >> 8));
        const auto t0 = Clock::now();
        {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            s->wr16_no_gen_bump(1378, width);
            c331_manage::raise_apply(1);
        }
        // The active width of output channel 0 follows the LED width.
        Clock::time_point t1;
        if (!watch->wait(&t1)) {
            state.SkipWithError("the LED width did not reach the chip");
            break;
        }
        const double ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
        samples.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
        // The panel's output apply waits for frames: let it end before the next change.
        if (!refreshes->waitBeyond(seen)) {
            state.SkipWithError("the apply did not end");
            break;
        }
    }
    QObject::disconnect(connection);
    chip->onWrite(nullptr);
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    state.counters["median_ms"] = samples[samples.size() / 2];
    state.counters["p99_ms"] = samples[samples.size() * 99 / 100];
    state.counters["max_ms"] = samples.back();
}
BENCHMARK(BM_ApplyLatency)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);

// Every port measured as 1920 x 1080 (no receiver runs on the benchmark's box); two windows.
void prepareWindows() {
    static bool done = false;
    if (done) return;
    done = true;
    c331_manage* m = c331_manage::p_c331_manage;
    zem::MutexLocker lock(c331_manage::c331_mutex);
    for (int p = 0; p < 6; ++p) {
        const int act[4] = {192, 1920, 41, 1080};
        for (int i = 0; i < 4; ++i) m->PI_ACT[p][i] = m->PI_DBD_ACT[p][i] = act[i];
        m->PI_STATE[p] = 4;
    }
    ZemRamPara* s = ZemRamPara::p_zemrampara_config;
    const uint16_t words[2][9] = {{1, 0, 0, 0, 2, 0, 0, 960, 1080},
                                  {1, 0, 0, 0, 3, 960, 0, 960, 1080}};
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < 9; ++i) s->wr16_no_gen_bump(2272 + 26 * w + 2 * i, words[w][i]);
    c331_manage::raise_apply(1);
}

// From the apply flag to the chip's last register write, and the SPI frames sent, for a RAM
// change that alternates between two values.
void measureApply(benchmark::State& state, int addr, uint16_t a, uint16_t b) {
    if (!startBox()) {
        state.SkipWithError("the C331 thread did not come up");
        return;
    }
    prepareWindows();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the windows' own apply
    auto chip = platform::sim::simC331();
    auto last = std::make_shared<LastWrite>();
    chip->onWrite([last](uint8_t, uint8_t, uint8_t) { last->written(); });
    auto refreshes = std::make_shared<Refreshes>();
    auto connection = countRefreshes(refreshes);
    ZemRamPara* s = ZemRamPara::p_zemrampara_config;
    std::vector<double> samples;
    std::vector<double> frames;
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        const int seen = refreshesSeen(refreshes);
        const uint64_t frames0 = chip->frameCount();
        const auto t0 = Clock::now();
        {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            s->wr16_no_gen_bump(addr, flip ? a : b);
            c331_manage::raise_apply(1);
        }
        if (!refreshes->waitBeyond(seen)) {
            state.SkipWithError("the apply did not end");
            break;
        }
        const double ms = std::chrono::duration<double, std::milli>(last->last() - t0).count();
        samples.push_back(ms);
        frames.push_back(double(chip->frameCount() - frames0));
        state.SetIterationTime(ms / 1000.0);
    }
    QObject::disconnect(connection);
    chip->onWrite(nullptr);
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    std::sort(frames.begin(), frames.end());
    state.counters["median_ms"] = samples[samples.size() / 2];
    state.counters["max_ms"] = samples.back();
    state.counters["spi_frames"] = frames[frames.size() / 2];
}

// Window 0 between HDMI1 and HDMI2.
void BM_SourceSwitch(benchmark::State& state) {
    measureApply(state, 2272 + 8, 3, 2);
}
// Window 1 moved by 40 pixels and back (the whole layout is rebuilt).
void BM_WindowMove(benchmark::State& state) {
    measureApply(state, 2272 + 26 + 10, 1000, 960);
}
// Brightness 40 and 60: the chip's offset stays neutral, the FPGAs are asked.
void BM_BrightnessStep(benchmark::State& state) {
    measureApply(state, 2176, 40, 60);
}
BENCHMARK(BM_SourceSwitch)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowMove)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrightnessStep)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    c331_manage::shutdown();  // the simulated box goes away with the process's statics
    return 0;
}
