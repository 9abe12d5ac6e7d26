// A PC that applies as fast as the box answers (a tool applying on every step of a slider):
// the whole program on the simulated box, the home screen in front, takes two bursts of 20,000
// (or 200,000) register 11 writes over loopback TCP, each sent once the last one's reply came.
// Reported: how long the first burst took, how long after it the panel answers the control
// channel's `status` again, and the program's private dirty memory before the first burst,
// once the panel answers after each burst and 60 s after each: what a second burst adds shows
// whether the memory levels off. A run of no applies is the measure of what the program gains
// meanwhile without them; on the simulated box that includes the simulated chips' logs of what
// they were sent, which grow up to their capacities. A run takes minutes, so it is not among
// the benchmarks the tests run.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_program.h"
#include "comm/protocol_phy.h"
#include "pc_frames.h"
#include "tests/support/loopback_connect.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kQuietSeconds = 60;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Private dirty memory of the process, in MiB; negative when it can't be read.
double privateDirtyMiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string key;
    long kib = 0;
    double total = -1;
    while (in >> key) {
        if (key == "Private_Dirty:" && in >> kib) total = (total < 0 ? 0 : total) + kib / 1024.0;
        in.ignore(1 << 20, '\n');
    }
    return total;
}

// Each apply sent once the last one's reply came; false when one went missing.
bool applyBurst(int fd, int64_t applies) {
    const std::vector<uint8_t> frame = pcWriteReg(11, 1);
    for (int64_t i = 0; i < applies; ++i)
        if (!pcAsk(fd, frame)) return false;
    return true;
}

void BM_PcApplyBurst(benchmark::State& state) {
    BenchBox box;
    const std::string why = box.start("burst");
    const pid_t pid = box.pid;
    const std::string& root = box.root;
    const int fd = why.empty() ? connectPc(root) : -1;
    for (auto _ : state) {
        if (fd < 0) {
            state.SkipWithError("the program's TCP server is not listening");
            break;
        }
        state.counters["private_dirty_before_MiB"] = privateDirtyMiB(pid);
        for (int burst = 1; burst <= 2; ++burst) {
            const Clock::time_point sent = Clock::now();
            if (!applyBurst(fd, state.range(0))) {
                state.SkipWithError("an apply was not answered");
                break;
            }
            const double burstSeconds = secondsSince(sent);
            const Clock::time_point ended = Clock::now();
            while (!panelAnswers(root) && secondsSince(ended) < 1800)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const double answered = secondsSince(ended);
            const std::string n = std::to_string(burst);
            state.counters["private_dirty_after" + n + "_MiB"] = privateDirtyMiB(pid);
            std::this_thread::sleep_for(std::chrono::seconds(kQuietSeconds));
            state.counters["private_dirty_after" + n + "_plus60s_MiB"] = privateDirtyMiB(pid);
            if (burst > 1) continue;
            state.SetIterationTime(burstSeconds + answered);
            state.counters["burst_s"] = burstSeconds;
            state.counters["panel_answers_after_s"] = answered;
        }
    }
    if (fd >= 0) ::close(fd);
}
BENCHMARK(BM_PcApplyBurst)
    ->Arg(0)
    ->Arg(20000)
    ->Arg(200000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
