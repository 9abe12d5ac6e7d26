// The FPGA pair on the simulated box, lit and running: the cost of one register
// read-modify-write over the bus. The idle CPU of the whole program is measured by
// bench_idle_process.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "bench_root.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_manage.h"
#include "platform/box.h"
#include "platform/sim/sim_box.h"
#include "platform/sim/sim_fpga.h"
#include "video_io/raviksource.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> g_ticking{false};

// The 10 ms tick of the panel, which the FPGA steps count.
void startTicker() {
    if (g_ticking.exchange(true)) return;
    std::thread([] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ++G_timeTicks;
        }
    }).detach();
}

// The FPGA pair brought up and lit, with the FPGA thread running.
bool startBox() {
    static bool started = false;
    if (started) return true;
    if (!selectBenchRoot("fpga")) return false;
    g_debugSwitch = 0;
    platform::sim::buildFpgaBoard();
    ZemRamPara* para = ZemRamPara::pInstance();
    para->wr16_no_gen_bump(1378, 1920);
    para->wr16_no_gen_bump(1380, 1080);
    fpga_manage* m = fpga_manage::pInstance();
    raviksource* source = raviksource::pInstance();
    for (int i = 0; i < 2; ++i) {
        m->drive_line(i == 0 ? fpga_manage::fpga0_reset : fpga_manage::fpga1_reset,
                      fpga_manage::kLineHigh);
        source->fpga_board_state[i] = 2;
    }
    g_source_online = 2;
    startTicker();
    if (m->initialize_start() != 0) return false;
    for (int i = 0; i < 20000 && m->get_fpga_status() != 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    started = m->get_fpga_status() == 1;
    return started;
}

// One register read-modify-write over the bus, pads included.
void BM_RegisterWrite(benchmark::State& state) {
    if (!startBox()) {
        state.SkipWithError("the FPGA pair did not light");
        return;
    }
    fpga_manage* m = fpga_manage::pInstance();
    uint8_t v = 0;
    for (auto _ : state) m->write_to_register(26, 0xFF, v++, 0);
}
BENCHMARK(BM_RegisterWrite);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The simulated box goes away with the process's statics: stop the thread first.
    if (fpga_manage::p_fpga_manage) fpga_manage::p_fpga_manage->stop_thread();
    return 0;
}
