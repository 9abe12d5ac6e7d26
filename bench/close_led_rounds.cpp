// A PC closes the LED and opens it again at once (each frame answered first), 60 rounds, on the
// simulated box run as the whole program: the wall must end open and lit every round, and stay
// so (an echo of the close written over the open would black it again). Counters: the rounds,
// those that ended open and lit, those left black. Not run by the tests.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <string>

#include "bench_program.h"
#include "pc_frames.h"

namespace {

constexpr int kRounds = 60;

// Both FPGAs running and neither blanked, as the control channel's status says.
bool openAndLit(const std::string& root) {
    const std::string s = control(root, "status");
    return s.find("fpga thread: ready") != std::string::npos &&
           s.find("fpga 1: running") != std::string::npos &&
           s.find("fpga 2: running") != std::string::npos && s.find("blanked") == std::string::npos;
}

// Polls every 100 ms for up to `ms`.
bool openWithin(const std::string& root, int ms) {
    for (int waited = 0; !openAndLit(root); waited += 100) {
        if (waited >= ms) return false;
        ::usleep(100 * 1000);
    }
    return true;
}

bool closeThenOpen(int fd) {
    return pcAsk(fd, pcWriteRam16(2116, 1)) && pcAsk(fd, pcWriteReg(11, 0)) &&
           pcAsk(fd, pcWriteRam16(2116, 0)) && pcAsk(fd, pcWriteReg(11, 0));
}

void BM_CloseThenOpenAtOnce(benchmark::State& state) {
    BenchBox box;
    const std::string why = box.start("close-led", 300);
    for (auto _ : state) {
        if (!why.empty()) {
            state.SkipWithError(why.c_str());
            break;
        }
        const int fd = connectPc(box.root);
        if (fd < 0 || !openWithin(box.root, 60000)) {
            state.SkipWithError("the wall never lit");
            break;
        }
        int open = 0, failed = 0;
        for (int round = 0; round < kRounds; ++round) {
            if (!closeThenOpen(fd)) {
                ++failed;
                continue;
            }
            // Open within 5 s, and still open a second later.
            if (!openWithin(box.root, 5000)) continue;
            ::sleep(1);
            if (openAndLit(box.root)) ++open;
        }
        ::close(fd);
        state.counters["rounds"] = kRounds;
        state.counters["rounds_open_and_lit"] = open;
        state.counters["rounds_left_black"] = kRounds - open - failed;
        state.counters["rounds_not_answered"] = failed;
    }
}

}  // namespace

BENCHMARK(BM_CloseThenOpenAtOnce)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
