// The TCP server as PCs on loopback drive it: each input is a script of client actions (connect,
// send frames or noise, read a little, half close, close, reset, let time pass, open or shut the
// flash's gate) run against a server of its own, which is stopped before the checks. The flash
// is a fake whose erases wait while its gate is shut, so that commands stay under way while the
// script goes on. Checks: each client's replies are an in-order prefix of the answers to its
// frames; a client that half closed got them all (unless the server dropped, evicted, ended or
// refused a client); after the stop the process has the threads and descriptors it had before.
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "comm/network_manage.h"
#include "comm/protocol_phy.h"
#include "common/fuzz_box.h"
#include "core/globals.h"
#include "tests/support/loopback_connect.h"
#include "tests/support/time_factor.h"

namespace {

using Bytes = std::string;

constexpr int kSlots = 8;        // clients an input may have at once
constexpr uint32_t kPlaces = 4;  // the server's bound, so that connecting past it is reachable
constexpr int kMostActions = 200;
constexpr int kMostPauseMs = 120;  // time an input may let pass in all
constexpr int kDrainMs = 2000;     // a half-closed client's last replies, at most (scaled)

// Erases wait while the gate is shut; reads give a pattern of every byte value.
struct FlashGate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
    void set(bool o) {
        std::lock_guard<std::mutex> lock(mutex);
        open = o;
        changed.notify_all();
    }
    void install() {
        comm_hooks& h = comm_hooks::get();
        h.erase_flash = [this](uint32_t, uint32_t, uint8_t) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [this] { return open; });
            return 0;
        };
        h.read_flash = [](uint32_t addr, uint32_t n, uint8_t* out) {
            for (uint32_t i = 0; i < n; ++i) out[i] = uint8_t(addr + i);
            return 0;
        };
    }
};

Bytes wireOf(std::vector<uint8_t> body, bool goodCheck = true) {
    uint8_t x = 0;
    for (uint8_t b : body) x ^= b;
    body.push_back(goodCheck ? x : uint8_t(x ^ 1));
    Bytes w(body.size() * 2 + 4, '\0');
    w.resize(protocol_phy::data_re_transf_meaning(reinterpret_cast<uint8_t*>(&w[0]), body.data(),
                                                  uint32_t(body.size())));
    return w;
}

std::vector<uint8_t> head(uint8_t cmd, uint16_t dest = comm::kAddrBox,
                          uint16_t src = comm::kAddrPc) {
    return {uint8_t(dest), uint8_t(dest >> 8), uint8_t(src), uint8_t(src >> 8), 0, 0, 0, 0, 0, cmd};
}

std::vector<uint8_t> with(std::vector<uint8_t> b, std::initializer_list<uint8_t> data) {
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// The frames a script sends, and the wire bytes the box answers each with (none for a frame
// that asks nothing or fails its check).
struct Frames {
    std::vector<Bytes> wire, answer;
    Frames() {
        wire = {
            wireOf(head(0x90)),
            wireOf(with(head(0x61), {0, 0, 0, 0, 16, 0})),
            wireOf(with(head(0x61), {0, 0, 0, 0, 0, 16})),          // 4 KiB
            wireOf(with(head(0x72), {4, 0, 0, 0, 0, 0x60, 0xEA})),  // 60,000 bytes
            wireOf(with(head(0x70), {4, 0, 0, 0, 0, 1, 0, 0})),     // one 4 KiB unit: slow
            wireOf(head(0x3F)),                                     // no such command
            wireOf(head(0x90, comm::kAddrPc, comm::kAddrBox)),      // a box's own reply
            wireOf(head(0x90), false),                              // a bad check byte
        };
        link_session reference(LinkKind::Tcp, "fuzz-reference");
        for (const Bytes& w : wire) {
            Bytes a;
            reference.feed(reinterpret_cast<const uint8_t*>(w.data()), w.size(),
                           [&](const uint8_t* p, uint32_t n) {
                               a.append(reinterpret_cast<const char*>(p), n);
                           });
            answer.push_back(a);
        }
    }
};

int countEntries(const char* dir) {
    int n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n - (std::string(dir) == "/proc/self/fd" ? 1 : 0);  // the listing's own
}

[[noreturn]] void fail(const char* what, int client) {
    std::fprintf(stderr, "fuzz_tcp: client %d: %s\n", client, what);
    std::abort();
}

// One PC: what it sent (table ids, before its FIN) and what it read.
struct Pc {
    int fd = -1;
    int id = 0;
    Bytes pending;  // not yet taken by its socket
    std::vector<int> frames;
    Bytes got;
    bool wantsFin = false, finSent = false, drained = false, eof = false, reset = false;

    void pump() {
        while (fd >= 0 && !pending.empty()) {
            const ssize_t n =
                ::send(fd, pending.data(), pending.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n <= 0) {
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
                pending.clear();  // the box has ended it
                break;
            }
            pending.erase(0, size_t(n));
        }
        if (fd >= 0 && wantsFin && !finSent && pending.empty()) {
            ::shutdown(fd, SHUT_WR);
            finSent = true;
        }
    }
    // Reads what has come, at most cap bytes; false at the end of the connection.
    bool take(size_t cap) {
        char buf[16384];
        while (fd >= 0 && !eof && cap > 0) {
            const ssize_t n = ::recv(fd, buf, std::min(cap, sizeof buf), MSG_DONTWAIT);
            if (n > 0) {
                got.append(buf, size_t(n));
                cap -= size_t(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
            eof = true;
        }
        return !eof;
    }
    void close(bool withReset) {
        if (withReset) {
            const linger now{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
        }
        ::close(fd);
        fd = -1;
        reset = withReset;
    }
};

struct Script {
    const uint8_t* at;
    const uint8_t* end;
    uint8_t next() { return at < end ? *at++ : 0; }
    bool more() const { return at < end; }
};

// The answers a client is owed for the frames it sent, in order.
Bytes owed(const Frames& table, const Pc& pc) {
    Bytes all;
    for (int f : pc.frames) all += table.answer[size_t(f)];
    return all;
}

// Reads a half-closed client's replies until the box closes, or kDrainMs (scaled by the time
// factor) pass without one.
void drain(Pc& pc) {
    pc.drained = true;
    for (;;) {  // bounded: by the box's close or a quiet kDrainMs
        pc.pump();
        if (!pc.take(~size_t(0))) return;
        pollfd p{pc.fd, short(POLLIN | (pc.pending.empty() ? 0 : POLLOUT)), 0};
        if (::poll(&p, 1, hangMs(kDrainMs)) != 1) return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FlashGate* gate = [] {
        fuzz::startBox();
        g_networkMode = 1;
        g_port = 0;  // any free port (the device information reports it)
        auto* g = new FlashGate;
        g->install();
        return g;
    }();
    static const Frames* table = new Frames;
    if (size < 1) return 0;
    Script script{data, data + size};
    const uint8_t setup = script.next();
    const int threadsBefore = countEntries("/proc/self/task");
    const int fdsBefore = countEntries("/proc/self/fd");

    networkManage::limits.stall_ms = 20 + 10 * (setup & 3);
    networkManage::limits.silence_ms = 10 + 10 * ((setup >> 2) & 3);
    networkManage::limits.max_clients = kPlaces;
    gate->set(!(setup & 0x10));
    networkManage* server = networkManage::pInstance();
    const uint16_t port = server->port;

    Pc pcs[kSlots];
    std::vector<Pc> gone;
    int nextId = 0, pausedMs = 0;
    for (int step = 0; step < kMostActions && script.more(); ++step) {
        const uint8_t op = script.next();
        Pc& pc = pcs[(op >> 3) % kSlots];
        const uint8_t arg = script.next();
        switch (op & 7) {
            case 0:  // connect
                if (pc.fd < 0) {
                    pc = Pc{};
                    const int narrow = 4096;  // replies soon wait in the box
                    pc.fd = connectLoopback(port, arg & 1 ? narrow : 0);
                    pc.id = nextId++;
                }
                break;
            case 1:  // a frame of the table
                if (pc.fd >= 0 && !pc.wantsFin) {
                    pc.frames.push_back(arg % int(table->wire.size()));
                    pc.pending += table->wire[size_t(pc.frames.back())];
                }
                break;
            case 2:  // noise: never an end byte, so that it completes no frame
                for (int i = 0; i < arg % 48 && script.more(); ++i) {
                    const uint8_t b = script.next();
                    if (pc.fd >= 0 && !pc.wantsFin && b != comm::kEnd) pc.pending += char(b);
                }
                break;
            case 3:  // read a little
                if (pc.fd >= 0) pc.take(size_t(arg + 1) * 256);
                break;
            case 4:  // half close, once what it sent has gone
                if (pc.fd >= 0) pc.wantsFin = true;
                break;
            case 5:  // close or reset
                if (pc.fd >= 0) {
                    pc.close(arg & 1);
                    gone.push_back(pc);
                    pc = Pc{};
                }
                break;
            case 6: {  // let time pass
                const int ms = std::min<int>(arg % 32, kMostPauseMs - pausedMs);
                pausedMs += ms;
                if (ms > 0) ::poll(nullptr, 0, ms);
                break;
            }
            case 7:  // open or shut the flash's gate
                gate->set(arg & 1);
                break;
        }
        for (Pc& p : pcs) p.pump();
    }

    gate->set(true);
    for (Pc& pc : pcs)
        if (pc.fd >= 0 && pc.wantsFin) drain(pc);
    const bool spared = server->counts.refused == 0 && server->counts.evicted == 0 &&
                        server->counts.stalled == 0 && server->counts.cut == 0;
    server->stop();
    for (Pc& pc : pcs) {
        if (pc.fd < 0) continue;
        pc.take(~size_t(0));
        pc.close(false);
        gone.push_back(pc);
    }
    networkManage::shutdown();

    for (const Pc& pc : gone) {
        const Bytes answers = owed(*table, pc);
        if (answers.compare(0, pc.got.size(), pc.got) != 0 || pc.got.size() > answers.size()) {
            const size_t at = size_t(
                std::mismatch(pc.got.begin(), pc.got.end(), answers.begin(), answers.end()).first -
                pc.got.begin());
            std::fprintf(stderr, "fuzz_tcp: %zu bytes read, %zu owed, first difference at %zu\n",
                         pc.got.size(), answers.size(), at);
            fail("its replies are no in-order prefix of the answers to its frames", pc.id);
        }
        if (pc.drained && pc.finSent && spared && pc.got != answers)
            fail("half closed, it did not get every reply it was owed", pc.id);
    }
    // A joined thread's task may stay listed for a moment after the join returns.
    for (int i = 0, n = hangMs(1000) / 5; i < n && countEntries("/proc/self/task") != threadsBefore;
         ++i)
        ::poll(nullptr, 0, 5);  // unscaled: a pause; n is the bound
    if (countEntries("/proc/self/task") != threadsBefore) {
        std::fprintf(stderr, "fuzz_tcp: %d threads before, %d after\n", threadsBefore,
                     countEntries("/proc/self/task"));
        fail("threads left after stop", -1);
    }
    if (countEntries("/proc/self/fd") != fdsBefore) fail("descriptors left after stop", -1);
    return 0;
}
