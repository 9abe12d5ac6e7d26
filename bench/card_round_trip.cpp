// A PC's read of a receiving card's RAM over TCP (through the box, the FPGA port and the
// simulated card and back) against a plain parameter-RAM read on the same connection, with the
// FPGA pair lit and four cards behind each of the 20 ports. Reported: the medians of both round
// trips and their ratio. The idle cost of the card search is in bench_idle_process.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "comm/comm_hooks.h"
#include "comm/network_manage.h"
#include "comm/protocol_phy.h"
#include "core/config_engine.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_manage.h"
#include "platform/box.h"
#include "platform/sim/sim_fpga.h"
#include "tests/support/loopback_connect.h"
#include "video_io/raviksource.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes wire(Bytes b) {
    uint8_t x = 0;
    for (uint8_t v : b) x ^= v;
    b.push_back(x);
    Bytes w(b.size() * 2 + 4);
    w.resize(protocol_phy::data_re_transf_meaning(w.data(), b.data(), uint32_t(b.size())));
    return w;
}

// Card 1 behind FPGA 0's port 2 (port byte 3): 16 bytes of its RAM.
const Bytes kCardRead =
    wire({0x01, 0x00, 0x10, 0xF0, 0x10, 0x67, 1, 3, 0, 0x61, 0, 0, 0, 0, 16, 0});
// 16 bytes of the parameter RAM.
const Bytes kRamRead = wire({0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0x61, 0, 0x0C, 0, 0, 16, 0});

// Sends a request and reads one reply frame; its length on the wire, 0 on failure.
struct Client {
    int fd = -1;
    uint8_t rx[8192];
    size_t ask(const Bytes& w) {
        if (::send(fd, w.data(), w.size(), MSG_NOSIGNAL) != ssize_t(w.size())) return 0;
        size_t have = 0;
        for (;;) {
            const ssize_t n = ::recv(fd, rx + have, sizeof rx - have, 0);
            if (n <= 0) return 0;
            have += size_t(n);
            if (std::memchr(rx, 0x5A, have)) return have;
        }
    }
};

int connect_to(uint16_t port) {
    const int fd = connectLoopback(port);
    if (fd < 0) return -1;
    timeval tv{2, 0};  // a lost answer fails the run instead of hanging it
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

char g_root[] = "/tmp/zem-bench-cards-XXXXXX";

// The box: FPGA pair lit with its thread and the panel's tick running, cards counted, the TCP
// server up. 0 when it did not come up.
uint16_t startBox() {
    static uint16_t port = []() -> uint16_t {
        if (!::mkdtemp(g_root)) return 0;
        platform::selectSimulated(g_root);
        g_debugSwitch = 0;
        ConfigEngine::pInstance();
        ZemRamPara* para = ZemRamPara::pInstance();
        para->wr16_no_gen_bump(1378, 1920);
        para->wr16_no_gen_bump(1380, 1080);
        auto board = platform::sim::buildFpgaBoard();
        for (int p = 0; p < 20; ++p) board->setCards(p, 4);
        fpga_manage* m = fpga_manage::pInstance();
        raviksource* source = raviksource::pInstance();
        for (int i = 0; i < 2; ++i) {
            m->drive_line(i == 0 ? fpga_manage::fpga0_reset : fpga_manage::fpga1_reset,
                          fpga_manage::kLineHigh);
            source->fpga_board_state[i] = 2;
        }
        g_source_online = 2;
        std::thread([] {
            for (;;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                ++G_timeTicks;
            }
        }).detach();
        if (m->initialize_start() != 0) return 0;
        const auto end = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < end && m->total_card_count != 80)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (m->total_card_count != 80) return 0;
        comm_hooks::wire();
        g_port = 0;
        networkManage* server = networkManage::pInstance();
        std::atexit([] {
            networkManage::p_networkManage->stop();
            fpga_manage::p_fpga_manage->stop_thread();  // before the simulated board goes
            std::error_code ec;
            std::filesystem::remove_all(g_root, ec);
        });
        return server->port;
    }();
    return port;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_CardReadAgainstRamRead(benchmark::State& state) {
    const uint16_t port = startBox();
    if (!port) {
        state.SkipWithError("the box did not come up with its cards counted");
        return;
    }
    Client cl;
    cl.fd = connect_to(port);
    std::vector<double> card_us, ram_us;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const size_t card = cl.ask(kCardRead);
        const auto t1 = Clock::now();
        const size_t ram = cl.ask(kRamRead);
        const auto t2 = Clock::now();
        if (!card || !ram) {
            state.SkipWithError("no answer");
            break;
        }
        card_us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        ram_us.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
        state.SetIterationTime(card_us.back() / 1e6);
    }
    ::close(cl.fd);
    const double card = median(card_us), ram = median(ram_us);
    state.counters["card_median_us"] = card;
    state.counters["ram_median_us"] = ram;
    state.counters["ratio"] = ram > 0 ? card / ram : 0;
}
BENCHMARK(BM_CardReadAgainstRamRead)
    ->Iterations(2000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
