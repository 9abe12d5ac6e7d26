// The whole program on the simulated box, as a person starts it: its CPU use over 10 idle
// seconds once start-up is over (goal: under 1% of one core and about 145 wake-ups a second,
// with the card search running over four cards behind each of the 20 ports), alone and with
// 64 PCs connected over TCP that were answered once and then stay silent. The program runs as
// a child process with its own root; its CPU time and wake-ups come from /proc.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_program.h"
#include "comm/protocol_phy.h"
#include "tests/support/loopback_connect.h"

namespace {

// CPU time of all threads of a process, in seconds (the scheduler's nanosecond count, finer
// than utime and stime), and how often its threads were put on a CPU (their wake-ups);
// negative when it is gone.
double cpuSeconds(pid_t pid, double* wakeups = nullptr) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir) return -1;
    unsigned long long ns = 0, slices = 0;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream in(tasks + "/" + e->d_name + "/schedstat");
        unsigned long long run = 0, wait = 0, count = 0;
        if (in >> run >> wait >> count) {
            ns += run;
            slices += count;
        }
    }
    closedir(dir);
    if (wakeups) *wakeups = double(slices);
    return double(ns) / 1e9;
}

// A PC that connects and asks for the device information once; its socket, -1 when the
// program did not answer.
int answeredPc(uint16_t port) {
    const int fd = connectLoopback(port);
    if (fd < 0) return -1;
    const timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    // Device information: destination 0xF100, source 0xF010, command 0x90, XOR check.
    const uint8_t body[] = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0x90, 0x81};
    uint8_t ask[2 * sizeof body + 4], reply[512];
    const uint32_t n = protocol_phy::data_re_transf_meaning(ask, body, sizeof body);
    if (::send(fd, ask, n, MSG_NOSIGNAL) != ssize_t(n) || ::recv(fd, reply, sizeof reply, 0) <= 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void BM_ProgramIdleCpu(benchmark::State& state) {
    char dir[] = "/tmp/zem-bench-idle-XXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("no temporary root");
        return;
    }
    const pid_t pid = startProgram(dir);
    // Start-up: the 4-second settling sleep, bring-up of the chips, the first light-up.
    std::this_thread::sleep_for(std::chrono::seconds(10));
    // Another program on this machine may hold the port: ZEM_SIM_PORT_OFFSET moves it.
    const uint16_t port = tcpPort(dir);
    std::vector<int> pcs;
    for (int i = 0; port && i < state.range(1); ++i) pcs.push_back(answeredPc(port));
    if (state.range(1) && !port)
        state.SkipWithError("the program's TCP server is not listening");
    else if (std::count(pcs.begin(), pcs.end(), -1) > 0)
        state.SkipWithError("a PC was not answered");
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the work of their requests ends
    for (auto _ : state) {
        double wake0 = 0, wake1 = 0;
        const double cpu0 = cpuSeconds(pid, &wake0);
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(state.range(0)));
        const double cpu1 = cpuSeconds(pid, &wake1);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (cpu0 < 0 || cpu1 < 0) {
            state.SkipWithError("the program exited");
            break;
        }
        state.SetIterationTime(wall);
        state.counters["cpu_percent"] = 100.0 * (cpu1 - cpu0) / wall;
        state.counters["wakeups_per_s"] = (wake1 - wake0) / wall;
    }
    for (int fd : pcs)
        if (fd >= 0) ::close(fd);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    std::system((std::string("rm -rf ") + dir).c_str());
}
// Seconds measured, idle PCs connected.
BENCHMARK(BM_ProgramIdleCpu)
    ->Args({10, 0})
    ->Args({10, 64})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
