// Load on the PC protocol's TCP server over loopback: 64 clients each sending 10,000
// write-RAM / read-RAM pairs (every reply checked), the round trip of one request against a
// bare TCP echo of the same bytes, the resident memory of 1,000 clients that come with
// unfinished frames and unread replies and go, and the time TCP's reads take while the UDP link
// or another TCP client runs a long job (a flash erase and the register dump on the video
// processor, uploads back to back), and another client's flash reads during a 16 MiB erase.
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
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "c331/c331_manage.h"
#include "comm/comm_hooks.h"
#include "comm/network_manage.h"
#include "comm/protocol_phy.h"
#include "comm/udpnet_manage.h"
#include "core/config_engine.h"
#include "core/globals.h"
#include "core/md5.h"
#include "core/zem_ram_para.h"
#include "pc_frames.h"
#include "platform/box.h"
#include "platform/memory.h"
#include "platform/sim/sim_box.h"
#include "tests/support/loopback_connect.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes frame(uint8_t cmd, const Bytes& data) {
    return pcFrame(cmd, data);
}

Bytes write_ram(uint32_t addr, uint16_t value) {
    return pcWriteRam16(addr, value);
}
Bytes read_ram(uint32_t addr) {
    return frame(0x61, {uint8_t(addr), uint8_t(addr >> 8), 0, 0, 2, 0});
}

// Sends a request and reads one reply frame; its unescaped body, empty on failure.
struct Client {
    explicit Client(int f) : fd(f) {}
    int fd;
    uint8_t rx[16384];  // a 4 KiB flash read's reply, escaped
    size_t have = 0;
    Bytes ask(const Bytes& w) {
        if (::send(fd, w.data(), w.size(), MSG_NOSIGNAL) != ssize_t(w.size())) return {};
        return next();
    }
    // The next reply frame's body, empty on failure.
    Bytes next() {
        for (;;) {
            for (size_t i = 0; i < have; ++i) {
                if (rx[i] != 0x5A) continue;
                size_t s = 0;
                while (s < i && rx[s] == 0xA5) ++s;
                Bytes body(i - s);
                const int n = protocol_phy::data_transf_meaning(
                    body.data(), rx + s, uint32_t(i - s), uint32_t(body.size()));
                std::memmove(rx, rx + i + 1, have - i - 1);
                have -= i + 1;
                body.resize(n < 0 ? 0 : size_t(n));
                return body;
            }
            const ssize_t n = ::recv(fd, rx + have, sizeof rx - have, 0);
            if (n <= 0) return {};
            have += size_t(n);
        }
    }
};

char g_root[] = "/tmp/zem-bench-XXXXXX";

networkManage* box_server() {
    static networkManage* server = [] {
        platform::selectSimulated(::mkdtemp(g_root));
        g_debugSwitch = 0;
        ConfigEngine::pInstance();
        ZemRamPara::pInstance();
        g_port = 0;
        networkManage* s = networkManage::pInstance();
        // The run leaves nothing behind: the server stops and its temporary root goes.
        std::atexit([] {
            networkManage::p_networkManage->stop();
            std::error_code ec;
            std::filesystem::remove_all(g_root, ec);
        });
        return s;
    }();
    return server;
}

void BM_Load64Clients(benchmark::State& state) {
    const uint16_t port = box_server()->port;
    constexpr int kClients = 64, kPairs = 10000;
    std::atomic<long> wrong{0}, done{0};
    for (auto _ : state) {
        std::vector<std::thread> threads;
        for (int c = 0; c < kClients; ++c) {
            threads.emplace_back([&, c] {
                Client cl{connectLoopback(port)};
                const uint32_t addr = 0xC00 + 2 * c;  // each client owns one word
                for (int i = 0; i < kPairs; ++i) {
                    const Bytes w = cl.ask(write_ram(addr, uint16_t(i)));
                    const Bytes r = cl.ask(read_ram(addr));
                    const bool ok = w.size() == 12 && w[10] == 0 && r.size() == 14 && r[10] == 0 &&
                                    r[11] == uint8_t(i) && r[12] == uint8_t(i >> 8);
                    if (!ok) ++wrong;
                    ++done;
                }
                ::close(cl.fd);
            });
        }
        for (std::thread& t : threads) t.join();
    }
    state.counters["pairs"] = double(done.load());
    state.counters["wrong"] = double(wrong.load());
    state.counters["requests/s"] =
        benchmark::Counter(double(done.load()) * 2, benchmark::Counter::kIsRate);
    if (wrong) state.SkipWithError("wrong or missing replies");
}
BENCHMARK(BM_Load64Clients)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

Bytes read_ram_block(uint32_t addr, uint16_t n) {
    return frame(0x61, {uint8_t(addr), uint8_t(addr >> 8), 0, 0, uint8_t(n), uint8_t(n >> 8)});
}

double megabytes(uint64_t bytes) {
    return double(bytes) / (1024.0 * 1024.0);
}

// Waits (bounded) until the server has as many clients as wanted.
void wait_clients(networkManage* server, uint32_t wanted) {
    for (int i = 0; i < 500 && server->clients.load() != wanted; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// 1,000 PCs in four waves of 250: each asks for 32 replies of 4 KiB that it never reads, then
// sends 64 KiB of a frame that never ends, and leaves. Resident memory at the start, with a
// wave connected, and after all have left.
void BM_ThousandClientsComeAndGo(benchmark::State& state) {
    networkManage* server = box_server();
    constexpr int kWaves = 4, kPerWave = 250, kUnread = 32;
    Bytes asks;
    for (int i = 0; i < kUnread; ++i) {
        const Bytes r = read_ram_block(0, 4096);
        asks.insert(asks.end(), r.begin(), r.end());
    }
    Bytes open_frame(3, 0xA5);
    open_frame.resize(3 + 65536, 0x11);
    uint64_t start = 0, peak = 0, end = 0;
    for (auto _ : state) {
        wait_clients(server, 0);
        start = platform::residentBytes();
        for (int w = 0; w < kWaves; ++w) {
            std::vector<int> fds;
            for (int c = 0; c < kPerWave; ++c) {
                const int fd = connectLoopback(server->port);
                if (fd < 0) continue;
                ::send(fd, asks.data(), asks.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                ::send(fd, open_frame.data(), open_frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                fds.push_back(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the box reads it all
            peak = std::max(peak, platform::residentBytes());
            for (int fd : fds) ::close(fd);
            wait_clients(server, 0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        end = platform::residentBytes();
    }
    state.counters["start_MB"] = megabytes(start);
    state.counters["peak_MB"] = megabytes(peak);
    state.counters["end_MB"] = megabytes(end);
    state.counters["kept_MB"] = megabytes(end > start ? end - start : 0);
}
BENCHMARK(BM_ThousandClientsComeAndGo)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The box server with the simulated chips, the C331 thread running and the UDP link open on a
// free loopback port; the UDP port, 0 when the C331 did not start.
uint16_t box_with_chips() {
    static const uint16_t udp_port = [] {
        box_server();
        platform::sim::buildDefaultBox();
        c331_manage* c = c331_manage::pInstance();
        for (int i = 0; i < 5000 && c->thread_state.load() != 8; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (c->thread_state.load() != 8) return uint16_t(0);
        comm_hooks::wire();
        udpnetManage::udp_port_setting = 0;
        udpnetManage::wifi_port_setting = 0;
        return udpnetManage::pInstance()->port;
    }();
    return udp_port;
}

// A PC on UDP: sends one request and waits (bounded) for its reply.
bool udp_job(uint16_t port, const Bytes& w, int timeout_s) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    a.sin_port = htons(port);
    const timeval tv{timeout_s, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::sendto(fd, w.data(), w.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    uint8_t reply[2048];
    const bool answered = ::recv(fd, reply, sizeof reply, 0) > 0;
    ::close(fd);
    return answered;
}

// A PC on TCP: asks each request in turn; true when every reply came with status 0.
bool tcp_job(const std::vector<Bytes>& requests) {
    Client cl{connectLoopback(box_server()->port)};
    bool ok = cl.fd >= 0;
    for (const Bytes& w : requests) {
        if (!ok) break;
        const Bytes r = cl.ask(w);
        ok = r.size() > 10 && r[10] == 0;
    }
    ::close(cl.fd);
    return ok;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Device information and a RAM word, in turn.
Bytes info_or_ram(int i) {
    return i % 2 ? read_ram(0xC00) : frame(0x90, {});
}

// Another TCP client sends read(0), read(1)... one after the other (by default device
// information and RAM) while a PC runs a job; the job's time, the reads done meanwhile, their
// median and the longest of them.
void reads_during(benchmark::State& state, const std::function<bool()>& job,
                  Bytes (*read)(int) = info_or_ram) {
    if (!box_with_chips()) {
        state.SkipWithError("the C331 did not start");
        return;
    }
    double job_ms = 0;
    std::vector<double> took_ms;
    long failed = 0;
    for (auto _ : state) {
        std::atomic<bool> running{true};
        std::thread pc([&] {
            Client cl{connectLoopback(box_server()->port)};
            for (int i = 0; running; ++i) {
                // A read that began during the job counts, even when the job held it to its end.
                const auto t0 = std::chrono::steady_clock::now();
                const Bytes r = cl.ask(read(i));
                took_ms.push_back(
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                        .count());
                if (r.size() < 14) ++failed;
            }
            ::close(cl.fd);
        });
        const auto t0 = std::chrono::steady_clock::now();
        const bool done = job();
        job_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                     .count();
        running = false;
        pc.join();
        if (!done) state.SkipWithError("the job failed or got no reply");
    }
    state.counters["job_ms"] = job_ms;
    state.counters["reads"] = double(took_ms.size());
    state.counters["median_read_ms"] = median(took_ms);
    state.counters["longest_read_ms"] =
        took_ms.empty() ? 0 : *std::max_element(took_ms.begin(), took_ms.end());
    if (failed) state.SkipWithError("a read got no reply");
}

// The 17 MiB OSD bitmap region of the C331 flash (0xED9000 to its end) in 4 KiB units.
Bytes erase_osd_region() {
    const uint32_t first = 0xED9, count = 0x2000 - 0xED9;
    return frame(0x70, {4, uint8_t(first), uint8_t(first >> 8), 0, 0, uint8_t(count),
                        uint8_t(count >> 8), 0});
}

// The upper 16 MiB of the C331 flash in 4 KiB units.
Bytes erase_upper_16mib() {
    const uint32_t first = 0x1000, count = 0x1000;
    return frame(0x70, {4, uint8_t(first), uint8_t(first >> 8), 0, 0, uint8_t(count),
                        uint8_t(count >> 8), 0});
}

// 4 KiB of the C331 flash: the first font's place.
Bytes read_flash_4kib(int) {
    return frame(0x72, {4, 0, 0, 0, 0, 0x00, 0x10});
}

// Register 161 bit 1: every register of every bank to the console.
Bytes dump_registers() {
    return frame(0xA0, {161, 0x02, 1, 0x02});
}

// Twenty smart-mapping files of 64 KiB, one after the other, in pieces of 16 KiB.
std::vector<Bytes> uploads() {
    constexpr uint32_t kFiles = 20, kSize = 64 * 1024, kPiece = 16 * 1024;
    std::vector<Bytes> requests;
    for (uint32_t f = 0; f < kFiles; ++f) {
        Bytes file(kSize);
        for (uint32_t i = 0; i < kSize; ++i) file[i] = uint8_t(i * 7 + f);
        const std::string name = "bench" + std::to_string(f);
        Bytes start = {'S',
                       'M',
                       'A',
                       'P',
                       uint8_t(kSize),
                       uint8_t(kSize >> 8),
                       uint8_t(kSize >> 16),
                       uint8_t(kSize >> 24),
                       uint8_t(name.size())};
        start.insert(start.end(), name.begin(), name.end());
        requests.push_back(frame(0x80, start));
        for (uint32_t off = 0; off < kSize; off += kPiece) {
            Bytes piece = {uint8_t(off),       uint8_t(off >> 8), uint8_t(off >> 16),
                           uint8_t(off >> 24), uint8_t(kPiece),   uint8_t(kPiece >> 8)};
            piece.insert(piece.end(), file.begin() + off, file.begin() + off + kPiece);
            requests.push_back(frame(0x81, piece));
        }
        MD5 sum;
        sum.update(file.data(), kSize);
        const uint8_t* d = sum.digest();
        requests.push_back(frame(0x82, Bytes(d, d + 16)));
    }
    return requests;
}

void BM_ReadsWhileUdpErasesTheOsdRegion(benchmark::State& state) {
    reads_during(state, [] { return udp_job(box_with_chips(), erase_osd_region(), 60); });
}
BENCHMARK(BM_ReadsWhileUdpErasesTheOsdRegion)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_ReadsWhileUdpDumpsTheRegisters(benchmark::State& state) {
    reads_during(state, [] { return udp_job(box_with_chips(), dump_registers(), 60); });
}
BENCHMARK(BM_ReadsWhileUdpDumpsTheRegisters)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same jobs from another TCP client of the same server.
void BM_ReadsWhileTcpErasesTheOsdRegion(benchmark::State& state) {
    reads_during(state, [] { return tcp_job({erase_osd_region()}); });
}
BENCHMARK(BM_ReadsWhileTcpErasesTheOsdRegion)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Flash reads of another TCP client while one erases: each waits for an erase unit at most.
void BM_FlashReadsWhileTcpErases16MiB(benchmark::State& state) {
    reads_during(
        state, [] { return tcp_job({erase_upper_16mib()}); }, read_flash_4kib);
}
BENCHMARK(BM_FlashReadsWhileTcpErases16MiB)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_ReadsWhileTcpDumpsTheRegisters(benchmark::State& state) {
    reads_during(state, [] { return tcp_job({dump_registers()}); });
}
BENCHMARK(BM_ReadsWhileTcpDumpsTheRegisters)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_ReadsWhileTcpUploadsBackToBack(benchmark::State& state) {
    reads_during(state, [] { return tcp_job(uploads()); });
}
BENCHMARK(BM_ReadsWhileTcpUploadsBackToBack)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// A PC sends a device-information request and three 8 MiB erases (4 KiB units) in one write:
// the time until the quick reply, and until the last erase's.
void BM_QuickReplyBeforeThreeErases(benchmark::State& state) {
    if (!box_with_chips()) {
        state.SkipWithError("the C331 did not start");
        return;
    }
    const uint32_t first = 0x1000, count = 2048;  // 8 MiB from 16 MiB
    const Bytes erase = frame(0x70, {4, uint8_t(first), uint8_t(first >> 8), 0, 0, uint8_t(count),
                                     uint8_t(count >> 8), 0});
    Bytes train = frame(0x90, {});
    for (int i = 0; i < 3; ++i) train.insert(train.end(), erase.begin(), erase.end());
    double quick_ms = 0, all_ms = 0;
    for (auto _ : state) {
        Client cl{connectLoopback(box_server()->port)};
        const auto t0 = std::chrono::steady_clock::now();
        ::send(cl.fd, train.data(), train.size(), MSG_NOSIGNAL);
        const bool quick = cl.next().size() > 60;
        quick_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                       .count();
        bool erased = true;
        for (int i = 0; i < 3; ++i) {
            const Bytes r = cl.next();
            erased = erased && r.size() > 10 && r[10] == 0;
        }
        all_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                     .count();
        ::close(cl.fd);
        if (!quick || !erased) state.SkipWithError("a reply was missing or failed");
    }
    state.counters["quick_reply_ms"] = quick_ms;
    state.counters["erases_ms"] = all_ms;
}
BENCHMARK(BM_QuickReplyBeforeThreeErases)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// A PC that sends N small reads in one write before it reads: the time until the last reply.
void BM_PipelinedReads(benchmark::State& state) {
    Client cl{connectLoopback(box_server()->port)};
    const int count = int(state.range(0));
    Bytes train;
    for (int i = 0; i < count; ++i) {
        const Bytes w = read_ram(0xC00);
        train.insert(train.end(), w.begin(), w.end());
    }
    for (auto _ : state) {
        if (::send(cl.fd, train.data(), train.size(), MSG_NOSIGNAL) != ssize_t(train.size()))
            state.SkipWithError("not sent");
        for (int i = 0; i < count; ++i)
            if (cl.next().size() != 14) state.SkipWithError("bad reply");
    }
    ::close(cl.fd);
}
BENCHMARK(BM_PipelinedReads)->Arg(100)->Arg(1000)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_RoundTripBox(benchmark::State& state) {
    Client cl{connectLoopback(box_server()->port)};
    const Bytes req = read_ram(0xC00);
    for (auto _ : state) {
        const Bytes r = cl.ask(req);
        if (r.size() != 14) state.SkipWithError("bad reply");
    }
    ::close(cl.fd);
}
BENCHMARK(BM_RoundTripBox)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A bare echo on loopback: the request comes back as its own reply.
void BM_RoundTripEcho(benchmark::State& state) {
    uint16_t port = 0;
    const int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t alen = sizeof a;
    ::bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(lfd, 1);
    ::getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &alen);
    port = ntohs(a.sin_port);
    std::thread echo([lfd] {
        const int fd = ::accept(lfd, nullptr, nullptr);
        uint8_t buf[4096];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0 || ::send(fd, buf, size_t(n), MSG_NOSIGNAL) != n) break;
        }
        ::close(fd);
    });
    Client cl{connectLoopback(port)};
    const Bytes req = read_ram(0xC00);
    for (auto _ : state) {
        if (cl.ask(req).empty()) state.SkipWithError("no echo");
    }
    ::close(cl.fd);
    echo.join();
    ::close(lfd);
}
BENCHMARK(BM_RoundTripEcho)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
