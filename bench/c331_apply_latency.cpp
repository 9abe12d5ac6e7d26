// The C331 thread on the simulated box: the time from a producer raising the apply flag to the
// chip register being written (goal: median under 2 ms). The idle CPU of the whole program is
// measured by bench_idle_process.
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

#include "c331/c331_manage.h"
#include "core/globals.h"
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
    char dir[] = "/tmp/zem-bench-c331-XXXXXX";
    if (!mkdtemp(dir)) return false;
    g_debugSwitch = 0;  // no console tracing while measuring
    platform::selectSimulated(dir);
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
    std::vector<double> samples;
    uint16_t width = 1920;
    for (auto _ : state) {
        width = width == 1920 ? 1280 : 1920;
        g_set_led_para = 0;  // no FPGA side here: the handshake is idle
        watch->arm(static_cast<uint8_t>(width >> 8));
        const auto t0 = Clock::now();
        {
            std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
            s->wr16(1378, width);
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
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // let the apply finish
    }
    chip->onWrite(nullptr);
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    state.counters["median_ms"] = samples[samples.size() / 2];
    state.counters["p99_ms"] = samples[samples.size() * 99 / 100];
    state.counters["max_ms"] = samples.back();
}
BENCHMARK(BM_ApplyLatency)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    c331_manage::shutdown();  // the simulated box goes away with the process's statics
    return 0;
}
