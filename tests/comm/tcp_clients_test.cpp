// The TCP server's clients: 64 PCs are served at once, the next is refused (closed at once and
// counted) unless a silent PC gives its place, and a place that frees up is taken by the next
// PC. Each PC gets its replies in the order of its requests, however many it sends before
// reading, while the others are served beside it. A PC that has gone holds nothing.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "comm/network_manage.h"
#include "comm_fixture.h"
#include "core/globals.h"
#include "core/repeat_count.h"
#include "platform/clock.h"

namespace {

Bytes flashRead(uint32_t addr, uint16_t n) {
    return body(0x72, cat({{4}, le32(addr), le16(n)}));
}

Bytes train(const Bytes& request, size_t bytes) {
    const Bytes w = wire(request);
    Bytes out;
    while (out.size() + w.size() <= bytes) out.insert(out.end(), w.begin(), w.end());
    return out;
}

// True when the box ends the PC's connection: what it still sent is read and dropped.
bool endedByBox(const TcpLink& pc) {
    uint8_t buf[4096];
    for (pollfd p{pc.fd, POLLIN, 0}; ::poll(&p, 1, hangMs(5000)) == 1;) {
        const ssize_t n = ::recv(pc.fd, buf, sizeof buf, 0);
        if (n <= 0) return n == 0 || errno == ECONNRESET;
    }
    return false;
}

// Ends a PC's connection with a reset, as a tool that is killed or times out does.
void reset(TcpLink& pc) {
    const linger now{1, 0};
    ::setsockopt(pc.fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    ::close(pc.fd);
    pc.fd = -1;
}

// The C331 flash as a hook: reads give a pattern of every byte value; the first read waits
// while the gate is shut. Kept by the fixture until the server has stopped.
struct FlashGate {
    void install(bool shut) {
        open = !shut;
        comm_hooks::get().read_flash = [this](uint32_t addr, uint32_t n, uint8_t* out) {
            std::unique_lock<std::mutex> lock(mutex);
            if (reads++ == 0) opened.wait(lock, [this] { return open; });
            for (uint32_t i = 0; i < n; ++i) out[i] = uint8_t(addr + i);
            return 0;
        };
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        opened.notify_all();
    }
    int count() {
        std::lock_guard<std::mutex> lock(mutex);
        return reads;
    }
    std::mutex mutex;
    std::condition_variable opened;
    bool open = true;
    int reads = 0;
};

// The C331 flash's erase as a hook: every erase waits while the gate is shut, and is counted.
struct EraseGate {
    void install() {
        comm_hooks::get().erase_flash = [this](uint32_t, uint32_t, uint8_t) {
            std::unique_lock<std::mutex> lock(mutex);
            ++erases;
            changed.notify_all();
            changed.wait(lock, [this] { return open; });
            return 0;
        };
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }
    int count() {
        std::lock_guard<std::mutex> lock(mutex);
        return erases;
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int erases = 0;
};

// An erase of n units of 4 KiB from unit 0.
Bytes erase4k(uint16_t n) {
    return body(0x70, cat({{4}, le32(0), le16(n), {0}}));
}

class TcpClients : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        tcp = networkManage::pInstance();
    }
    void TearDown() override {
        flash.release();
        erases.release();
        networkManage::shutdown();
        networkManage::limits.stall_ms = 10000;
        networkManage::limits.silence_ms = 30000;
        networkManage::limits.max_clients = networkManage::kMaxClients;
        networkManage::hooks.on_hold = nullptr;
        CommTest::TearDown();
    }
    // A new PC and whether the box answers its device-information request.
    bool served(std::vector<std::unique_ptr<TcpLink>>& pcs, const char* from = nullptr) {
        pcs.push_back(std::make_unique<TcpLink>(tcp->port, from));
        return !pcs.back()->ask(body(0x90, {})).empty();
    }
    bool served(TcpLink& pc) { return !pc.ask(body(0x90, {})).empty(); }
    networkManage* tcp = nullptr;
    FlashGate flash;
    EraseGate erases;
};

TEST_F(TcpClients, TheClientPastTheLimitIsRefusedAndAFreedPlaceIsTaken) {
    std::vector<std::unique_ptr<TcpLink>> pcs;
    for (size_t i = 0; i < networkManage::kMaxClients; ++i) ASSERT_TRUE(served(pcs)) << i;
    EXPECT_EQ(tcp->clients.load(), networkManage::kMaxClients);
    EXPECT_FALSE(served(pcs));
    EXPECT_EQ(tcp->counts.refused.load(), 1u);
    EXPECT_EQ(tcp->clients.load(), networkManage::kMaxClients);
    // The first PCs are still served, then one leaves and a new one is.
    EXPECT_FALSE(pcs.front()->ask(body(0x90, {})).empty());
    pcs.erase(pcs.begin());
    pcs.pop_back();  // the refused one
    ASSERT_TRUE(eventually([&] { return tcp->clients == networkManage::kMaxClients - 1; }));
    EXPECT_TRUE(served(pcs));
    EXPECT_EQ(tcp->counts.refused.load(), 1u);
}

// A PC that sends many requests before it reads gets every reply, however far they pass the
// reply bound: the box reads no further until the PC has taken half of them.
TEST_F(TcpClients, RequestsSentBeforeReadingAreAllAnswered) {
    flash.install(false);
    struct Case {
        const char* name;
        Bytes request;
        int count;
        uint32_t size;  // of each reply's data
    };
    const Case cases[] = {
        {"100 RAM reads of 4 KiB", readRam(0, 4096), 100, 4096},
        {"ten flash reads of 32,000 bytes", flashRead(0, 32000), 10, 32000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TcpLink pc(tcp->port);
        pc.send(train(c.request, c.count * wire(c.request).size()));
        int answered = 0;
        for (Bytes got; answered < c.count && pc.recv(got, 5000); ++answered)
            ASSERT_EQ(got.size(), 11 + c.size) << answered;
        EXPECT_EQ(answered, c.count);
    }
}

// A PC that pipelines a quick request before long ones gets the quick reply while the first long
// one still runs, not after all of them.
TEST_F(TcpClients, AQuickReplyLeavesBeforeTheLongRequestsQueuedBehindItRun) {
    erases.install();
    TcpLink pc(tcp->port);
    const Bytes erase8M = erase4k(2048);
    pc.send(cat({wire(body(0x90, {})), wire(erase8M), wire(erase8M), wire(erase8M)}));
    ASSERT_TRUE(eventually([&] { return erases.count() == 1; }));
    Bytes got;
    ASSERT_TRUE(pc.recv(got, 2000)) << "the quick reply waits for the erases";
    EXPECT_EQ(got.at(9), 0x90);
    EXPECT_EQ(erases.count(), 1);
    // Nor does a reply wait for the PC's acknowledgement of the one before (Nagle's delay).
    int noDelay = 0;
    socklen_t len = sizeof noDelay;
    ASSERT_EQ(::getsockopt(tcp->last_client, IPPROTO_TCP, TCP_NODELAY, &noDelay, &len), 0);
    EXPECT_NE(noDelay, 0);
    erases.release();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(pc.recv(got, 5000)) << i;
        EXPECT_EQ(got.at(9), 0x70);
        EXPECT_EQ(got.at(10), 0);
    }
}

// 64 PCs each queue 16 KiB of 16 MiB erases and close: their places go to new PCs at once while
// their first erases run, and none runs a second one, as its first reply brings back the reset.
TEST_F(TcpClients, ClientsThatCloseBehindLongRequestsGiveTheirPlacesAndRunOnlyTheFirst) {
    erases.install();
    std::vector<std::unique_ptr<TcpLink>> pcs;
    for (size_t i = 0; i < networkManage::kMaxClients; ++i)
        pcs.push_back(std::make_unique<TcpLink>(tcp->port));
    for (auto& pc : pcs) pc->send(train(erase4k(4096), 16 * 1024));
    pcs.clear();
    ASSERT_TRUE(eventually([&] { return erases.count() == int(networkManage::kMaxClients); }));
    std::vector<std::unique_ptr<TcpLink>> newcomers;
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(served(newcomers)) << i;
    EXPECT_EQ(tcp->counts.refused.load(), 0u);
    erases.release();
    EXPECT_TRUE(eventually([&] { return tcp->clients == 2; }, 10000));
    EXPECT_EQ(erases.count(), int(networkManage::kMaxClients));
}

// A PC that closes its side after its requests gets every reply, then the close, while new PCs
// come: below the bound of closed clients, none is ended for them.
TEST_F(TcpClients, AClientThatClosesItsSideGetsEveryReplyThenTheClose) {
    flash.install(false);
    networkManage::limits.max_clients = 2;
    constexpr int kReads = 100;  // 6 MB: more than the sockets (about 4 MiB on loopback) hold
    TcpLink pc(tcp->port);
    pc.send(train(flashRead(0, 60000), kReads * wire(flashRead(0, 60000)).size()));
    ::shutdown(pc.fd, SHUT_WR);
    ASSERT_TRUE(eventually([&] { return tcp->counts.held_up == 1; }, 10000));
    std::vector<std::unique_ptr<TcpLink>> newcomers;
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(served(newcomers)) << i;
    EXPECT_EQ(tcp->counts.cut.load(), 0u);
    int answered = 0;
    for (Bytes got; answered < kReads && pc.recv(got, 5000); ++answered)
        ASSERT_EQ(got.size(), 11u + 60000) << answered;
    EXPECT_EQ(answered, kReads);
    EXPECT_TRUE(endedByBox(pc));
}

// A held-up PC that takes all its replies between the hold and the box's next send of them (the
// queue empties while the client is held) is read again: its later requests are answered.
TEST_F(TcpClients, AHeldClientWhoseQueueEmptiesIsReadAgain) {
    flash.install(false);
    constexpr int kReads = 200;  // 12 MB: more than the sockets hold
    const Bytes request = flashRead(0, 60000);
    std::mutex mutex;
    ReplyReader replies;  // under mutex
    std::atomic<int> pcFd{-1}, holds{0};
    const auto take = [&] {
        uint8_t buf[65536];
        for (ssize_t n; (n = ::recv(pcFd, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
            replies.add(buf, size_t(n));
    };
    networkManage::hooks.on_hold = [&] {
        // The PC takes everything the box's socket had, until the socket has room for all the
        // box's waiting replies.
        std::lock_guard<std::mutex> lock(mutex);
        const int boxFd = networkManage::p_networkManage->last_client;
        int unsent = 1;
        for (int i = 0; i < 500 && unsent > 0 && ::ioctl(boxFd, SIOCOUTQ, &unsent) == 0; ++i) {
            pollfd p{pcFd, POLLIN, 0};
            ::poll(&p, 1, hangMs(10));
            take();
        }
        ++holds;
    };
    TcpLink pc(tcp->port);
    pcFd = pc.fd;
    pc.send(train(request, kReads * wire(request).size()));
    ASSERT_TRUE(eventually([&] { return holds >= 1; }, 10000));
    for (pollfd p{pc.fd, POLLIN, 0}; ::poll(&p, 1, hangMs(3000)) == 1;) {
        std::lock_guard<std::mutex> lock(mutex);
        take();
        if (replies.bodies.size() >= size_t(kReads)) break;
    }
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(replies.bodies.size(), size_t(kReads));
    for (const Bytes& b : replies.bodies) ASSERT_EQ(b.size(), 11u + 60000);
    EXPECT_TRUE(served(pc));
}

// A PC that sends and never reads is held up, then dropped when its socket has taken nothing
// for the stall time; one still held up when the server stops does not hold up the stop.
TEST_F(TcpClients, AClientThatNeverReadsIsHeldUpThenDroppedAndDoesNotHoldUpTheStop) {
    flash.install(false);
    for (const bool stopFirst : {false, true}) {
        SCOPED_TRACE(stopFirst ? "the server stops" : "the stall time passes");
        networkManage::limits.stall_ms = stopFirst ? 600000 : 100;
        TcpLink deaf(tcp->port), other(tcp->port);
        // Replies far beyond what the sockets and the reply bound hold.
        deaf.send(train(flashRead(0, 60000), 200 * wire(flashRead(0, 60000)).size()));
        // Bounds that only catch a hang: under a sanitizer the replies take seconds to make.
        if (stopFirst) {
            ASSERT_TRUE(eventually([&] { return tcp->counts.held_up == 1; }, 30000));
            std::atomic<bool> stopped{false};
            std::thread stopping([&] {
                networkManage::shutdown();
                stopped = true;
            });
            EXPECT_TRUE(eventually([&] { return stopped.load(); }, 30000));
            stopping.join();
        } else {
            EXPECT_TRUE(served(other));
            EXPECT_TRUE(
                eventually([&] { return tcp->clients == 1 && tcp->counts.held_up == 0; }, 30000));
            EXPECT_TRUE(endedByBox(deaf));
            EXPECT_TRUE(served(other));
        }
    }
}

// A PC that resets its connection while the box works through its requests is ended between
// two of them: the rest are not run for nobody.
TEST_F(TcpClients, AClientThatResetsIsEndedBetweenTwoOfItsRequests) {
    flash.install(true);
    TcpLink pc(tcp->port);
    pc.send(train(flashRead(0, 16), 10000));
    ASSERT_TRUE(eventually([&] { return flash.count() == 1; }));
    reset(pc);
    flash.release();
    EXPECT_TRUE(eventually([&] { return tcp->clients == 0; }));
    EXPECT_LE(flash.count(), 2);
}

// 64 PCs queue long flash reads and reset at once: a new PC is served, and their threads end.
TEST_F(TcpClients, ClientsThatQueueLongReadsAndResetLeaveTheirPlaces) {
    flash.install(false);
    std::vector<std::unique_ptr<TcpLink>> pcs;
    for (size_t i = 0; i < networkManage::kMaxClients; ++i)
        pcs.push_back(std::make_unique<TcpLink>(tcp->port));
    for (auto& pc : pcs) pc->send(train(flashRead(0, 60000), 16 * 1024));
    for (auto& pc : pcs) reset(*pc);
    EXPECT_TRUE(eventually(
        [&] {
            TcpLink pc(tcp->port);
            return !pc.ask(body(0x90, {}), 500).empty();
        },
        10000));
    EXPECT_TRUE(eventually([&] { return tcp->clients == 0; }, 10000));
}

// A flood of connections past the bound is told on the console by its first refusal, then by a
// line a minute at most with the count refused since, and at the server's stop by the count of
// the rest.
TEST_F(TcpClients, AConnectFloodIsToldOnceAMinuteWithItsCount) {
    auto& clock = dynamic_cast<platform::FakeClock&>(platform::clock());
    networkManage::limits.silence_ms = 2 * kLogRepeatMs;  // the PCs keep their places meanwhile
    const uint8_t debug = g_debugSwitch;
    g_debugSwitch = 0xFE;
    std::vector<std::unique_ptr<TcpLink>> pcs;
    for (size_t i = 0; i < networkManage::kMaxClients; ++i) ASSERT_TRUE(served(pcs)) << i;
    auto flood = [&](uint32_t count) {
        const uint32_t until = tcp->counts.refused + count;
        for (uint32_t i = 0; i < count; ++i) TcpLink refused(tcp->port);
        return eventually([&] { return tcp->counts.refused == until; }, 10000);
    };
    testing::internal::CaptureStdout();
    const bool first = flood(50);
    clock.advance(kLogRepeatMs * 1000);
    const bool second = flood(30);
    networkManage::shutdown();
    const std::string said = testing::internal::GetCapturedStdout();
    g_debugSwitch = debug;
    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
    std::vector<std::string> lines;
    for (size_t at = said.find("refused"); at != std::string::npos;
         at = said.find("refused", said.find('\n', at))) {
        const size_t from = said.rfind('\n', at) + 1;
        lines.push_back(said.substr(from, said.find('\n', at) - from));
    }
    ASSERT_EQ(lines.size(), 3u) << said;
    EXPECT_NE(lines[0].find(" refused: 64 clients connected "), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" refused: 64 clients connected (49 more refused before it)"),
              std::string::npos)
        << lines[1];
    EXPECT_EQ(lines[2], " TCP server: 29 more clients refused ");
}

// At the bound a new PC takes the place of a silent one: of the address holding the most
// places, the one silent longest. A lone silent PC keeps its place, so does a PC whose request
// is under way, and nobody gives a place while places are free.
TEST_F(TcpClients, AtTheBoundANewClientTakesASilentClientsPlace) {
    flash.install(true);
    networkManage::limits.silence_ms = 0;  // every idle client counts as silent at once
    std::vector<std::unique_ptr<TcpLink>> pcs;
    ASSERT_TRUE(served(pcs, "127.0.0.2"));  // the lone PC, silent longest
    for (size_t i = 1; i < networkManage::kMaxClients; ++i) ASSERT_TRUE(served(pcs)) << i;
    EXPECT_EQ(tcp->counts.evicted.load(), 0u);
    TcpLink& lone = *pcs[0];
    TcpLink& busy = *pcs[1];
    busy.send(wire(flashRead(0, 16)));
    ASSERT_TRUE(eventually([&] { return flash.count() == 1; }));
    TcpLink newcomer(tcp->port);
    EXPECT_TRUE(served(newcomer));
    EXPECT_EQ(tcp->counts.evicted.load(), 1u);
    EXPECT_EQ(tcp->counts.refused.load(), 0u);
    EXPECT_TRUE(endedByBox(*pcs[2]));  // the first idle PC of the crowded address
    EXPECT_TRUE(served(lone));
    EXPECT_TRUE(served(*pcs[3]));
    flash.release();
    Bytes got;
    ASSERT_TRUE(busy.recv(got));
    EXPECT_EQ(got.size(), 11u + 16);
}

// At the bound only a frame that passes the framer's checks ends a PC's silence: bytes that make
// no frame keep no place, while a checked frame that asks nothing (a box's own reply) does.
TEST_F(TcpClients, OnlyACheckedFrameEndsAClientsSilence) {
    flash.install(true);
    Bytes badCheck = wire(body(0x90, {}));
    badCheck[3 + 9] ^= 1;  // the command byte: the check byte no longer matches
    struct Case {
        const char* name;
        Bytes sent;
        bool keepsPlace;
        uint32_t drops;
    };
    const Case cases[] = {
        {"noise between frames", hex("00 11 22 33 5a"), false, 0},
        {"a frame with a bad check byte", badCheck, false, 1},
        {"a box's own reply", wire(body(0x90, {}, 0xF010, 0xF100)), true, 0},
        {"a device-information request", wire(body(0x90, {})), true, 0},
    };
    auto& clock = dynamic_cast<platform::FakeClock&>(platform::clock());
    constexpr int kSilenceMs = 1000;
    networkManage::limits.silence_ms = kSilenceMs;
    networkManage::limits.max_clients = uint32_t(std::size(cases)) + 1;
    TcpLink busy(tcp->port);  // never silent: its read waits at the gate
    busy.send(wire(flashRead(0, 16)));
    std::vector<std::unique_ptr<TcpLink>> pcs;
    for (size_t i = 0; i < std::size(cases); ++i)
        pcs.push_back(std::make_unique<TcpLink>(tcp->port));
    ASSERT_TRUE(eventually([&] { return flash.count() == 1; }));
    ASSERT_TRUE(eventually([&] { return tcp->clients == std::size(cases) + 1; }));
    // Silent since they came; then each sends its bytes and a dropped frame that says they
    // were handled.
    clock.advance((kSilenceMs + 100) * 1000);
    uint32_t drops = link_session::dropped_total;
    for (size_t i = 0; i < std::size(cases); ++i) {
        pcs[i]->send(cat({cases[i].sent, badCheck}));
        drops += cases[i].drops + 1;
    }
    ASSERT_TRUE(eventually([&] { return link_session::dropped_total == drops; }));
    std::vector<std::unique_ptr<TcpLink>> newcomers;
    EXPECT_TRUE(served(newcomers));
    EXPECT_TRUE(served(newcomers));
    EXPECT_FALSE(served(newcomers));
    EXPECT_EQ(tcp->counts.evicted.load(), 2u);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        if (cases[i].keepsPlace)
            EXPECT_TRUE(served(*pcs[i]));
        else
            EXPECT_TRUE(endedByBox(*pcs[i]));
    }
}

// Clients whose peers have closed hold no place, and each new PC ends the first of them once
// they are as many as the places, but an ended one finishes the command under way on its thread:
// past kThreadsPerPlace threads a place, a new PC is refused until they have ended, with a line
// that names that limit.
TEST_F(TcpClients, ClosedClientsStillRunningAreBounded) {
    erases.install();
    networkManage::limits.max_clients = 2;
    for (int i = 0; i < int(2 * networkManage::kThreadsPerPlace); ++i) {
        TcpLink pc(tcp->port);
        pc.send(wire(erase4k(1)));
        ASSERT_TRUE(eventually([&] { return erases.count() == i + 1; })) << i;
    }
    std::vector<std::unique_ptr<TcpLink>> pcs;
    const uint8_t debug = g_debugSwitch;
    g_debugSwitch = 0xFE;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(served(pcs));
    EXPECT_EQ(tcp->counts.refused.load(), 1u);
    erases.release();
    EXPECT_TRUE(eventually([&] { return tcp->clients == 0; }));
    EXPECT_TRUE(served(pcs));
    networkManage::shutdown();  // its threads, which read the switch, end before it changes back
    const std::string said = testing::internal::GetCapturedStdout();
    g_debugSwitch = debug;
    EXPECT_NE(said.find(" refused: 6 client threads still running (2 places)"), std::string::npos)
        << said;
}

// PCs that queue long commands and close their sending side never keep a new PC out: once the
// closed clients still running are as many as the places, a new PC ends the one whose close the
// box saw first (not the one that came first), whose commands not yet run are dropped, and is
// served at once. A closed PC below that bound, reading its replies, gets every one. The ends
// are told like refusals: the first, then a count.
TEST_F(TcpClients, ANewClientEndsTheClientClosedFirstPastTheBoundOfClosedOnes) {
    erases.install();
    networkManage::limits.max_clients = 2;
    const uint8_t debug = g_debugSwitch;
    g_debugSwitch = 0xFE;
    testing::internal::CaptureStdout();
    const Bytes twoErases = cat({wire(erase4k(1)), wire(erase4k(1))});
    std::vector<std::unique_ptr<TcpLink>> pcs;  // a, b, c, d from one address
    auto queue = [&](bool close) {
        pcs.push_back(std::make_unique<TcpLink>(tcp->port, "127.0.0.2"));
        pcs.back()->send(twoErases);
        if (close) ::shutdown(pcs.back()->fd, SHUT_WR);
        const int running = int(pcs.size());
        return eventually([&] { return erases.count() == running; });
    };
    ASSERT_TRUE(queue(true));
    ASSERT_TRUE(queue(true));
    ASSERT_TRUE(queue(false));  // ends a, closed with b before it came
    ASSERT_TRUE(queue(true));
    TcpLink p(tcp->port, "127.0.0.3");  // sees d closed, ends b
    EXPECT_TRUE(served(p));
    ::shutdown(pcs[2]->fd, SHUT_WR);    // c closes after d was seen closed
    TcpLink n(tcp->port, "127.0.0.3");  // ends d
    EXPECT_TRUE(served(n));
    EXPECT_EQ(tcp->counts.refused.load(), 0u);
    EXPECT_EQ(tcp->counts.cut.load(), 3u);
    erases.release();
    std::vector<int> replies;
    for (auto& pc : pcs) {
        int got = 0;
        // At most 8: a box that answered on and on would not hold the test.
        for (Bytes reply; got < 8 && pc->recv(reply, 3000); ++got) EXPECT_EQ(reply.at(9), 0x70);
        replies.push_back(got);
    }
    EXPECT_EQ(replies, (std::vector<int>{1, 1, 2, 1}));
    EXPECT_EQ(erases.count(), 5);
    networkManage::shutdown();
    const std::string said = testing::internal::GetCapturedStdout();
    g_debugSwitch = debug;
    EXPECT_NE(said.find(" ended: closed with commands left, for 127.0.0.2:"), std::string::npos)
        << said;
    EXPECT_NE(said.find(" TCP server: 2 more closed clients ended \n"), std::string::npos) << said;
}

// At the bound, a PC that closes gives its place to one that connects right after it.
TEST_F(TcpClients, AtTheBoundAClosedPlaceIsTakenAtOnce) {
    std::vector<std::unique_ptr<TcpLink>> pcs;
    for (size_t i = 0; i < networkManage::kMaxClients; ++i) ASSERT_TRUE(served(pcs)) << i;
    int taken = 0;
    for (int i = 0; i < 30; ++i) {
        pcs.erase(pcs.begin());
        if (served(pcs))
            ++taken;
        else
            pcs.pop_back();
    }
    EXPECT_EQ(taken, 30);
    EXPECT_EQ(tcp->counts.refused.load(), 0u);
}

// A wait of the accept thread that fails for another reason than a signal (here a descriptor
// limit below the sockets it waits on) is tried again after a pause, neither in a loop nor
// never: a PC that connects meanwhile waits in the backlog, one that leaves is let go, and once
// the wait works again the waiting PC is served. One terminal line says the failure, one the
// recovery; listening is false in between.
TEST_F(TcpClients, AFailedWaitOfTheAcceptThreadIsRetriedAfterAPause) {
    LogTestHooks::forget();
    TcpLink leaving(tcp->port);
    ASSERT_TRUE(served(leaving));
    TcpLink waiting(0);  // nobody on port 0: a socket made now, connected once descriptors are out
    waiting.fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(waiting.fd, 0);
    sockaddr_in box{};
    box.sin_family = AF_INET;
    box.sin_port = htons(tcp->port);
    box.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    testing::internal::CaptureStderr();
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit one = old;
    one.rlim_cur = 1;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &one), 0);
    const bool connected =
        ::connect(waiting.fd, reinterpret_cast<const sockaddr*>(&box), sizeof box) == 0;
    const bool paused = eventually([&] { return !tcp->listening; });
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    ::close(leaving.fd);
    leaving.fd = -1;
    const bool let_go = eventually([&] { return tcp->clients == 0; }, 5000);
    // Over a second and more of retries, the accept thread takes next to no processor time.
    // unscaled: a window for the processor time, not a bound.
    std::this_thread::sleep_until(start + std::chrono::milliseconds(1500));
    ::getrusage(RUSAGE_SELF, &after);
    const bool still_paused = !tcp->listening;
    ::setrlimit(RLIMIT_NOFILE, &old);
    const bool listens = eventually([&] { return tcp->listening.load(); }, 5000);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(connected);
    EXPECT_TRUE(paused);
    EXPECT_TRUE(let_go);
    EXPECT_TRUE(still_paused);
    const auto cpu_us = [](const rusage& r) {
        return int64_t(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000 + r.ru_utime.tv_usec +
               r.ru_stime.tv_usec;
    };
    EXPECT_LT(cpu_us(after) - cpu_us(before), 300000);
    ASSERT_TRUE(listens);
    EXPECT_TRUE(served(waiting));
    std::vector<std::unique_ptr<TcpLink>> pcs;
    EXPECT_TRUE(served(pcs));
    auto count = [&](const std::string& text) {
        size_t n = 0;
        for (size_t at = said.find(text); at != std::string::npos; at = said.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("TCP server: poll failed (Invalid argument), new clients wait\n"), 1u) << said;
    EXPECT_EQ(count("TCP server: listening again\n"), 1u) << said;
}

// A connected PC's wait that fails for a reason that passes (here the descriptor limit lowered
// below the sockets its thread waits on) is tried again after a pause, neither in a loop nor
// never: the PC is kept through a second of failures and a request it sends meanwhile is
// answered. Only a failure that outlasts the PC's silence time (it is idle) ends it.
TEST_F(TcpClients, AFailedWaitOfAClientsThreadIsRetriedAfterAPause) {
    for (const bool outlasted : {false, true}) {
        SCOPED_TRACE(outlasted ? "the failure outlasts the silence time" : "a second's failure");
        networkManage::limits.silence_ms = outlasted ? 500 : 30000;
        TcpLink pc(tcp->port);
        ASSERT_TRUE(served(pc));
        const uint32_t retried_before = tcp->counts.retried;
        rlimit old{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
        rlimit one = old;
        one.rlim_cur = 1;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &one), 0);
        // Answered by a wait begun before; the client's next wait fails.
        const bool before = served(pc);
        const bool failed = eventually([&] { return tcp->counts.retried > retried_before; });
        if (outlasted) {
            const bool ended = endedByBox(pc);
            ::setrlimit(RLIMIT_NOFILE, &old);
            EXPECT_TRUE(before);
            EXPECT_TRUE(failed);
            EXPECT_TRUE(ended);
            continue;
        }
        // Past the first pause, the PC sends while the waits still fail.
        // A retry a second: generous bounds, only a hang fails them.
        const bool paused =
            eventually([&] { return tcp->counts.retried >= retried_before + 2; }, 10000);
        pc.send(wire(body(0x90, {})));
        const bool still_failing =
            eventually([&] { return tcp->counts.retried >= retried_before + 3; }, 10000);
        ::setrlimit(RLIMIT_NOFILE, &old);
        EXPECT_TRUE(before);
        EXPECT_TRUE(failed);
        EXPECT_TRUE(paused);
        EXPECT_TRUE(still_failing);
        Bytes got;
        ASSERT_TRUE(pc.recv(got, 3000));
        EXPECT_EQ(got.at(9), 0x90);
        EXPECT_TRUE(served(pc));
        EXPECT_LE(tcp->counts.retried - retried_before, 6u);
    }
}

// Several PCs each send a train of RAM writes and read-backs of their own word in one go, all
// at once: every PC's replies come in its order, each read-back with the value just written.
TEST_F(TcpClients, EachClientsRepliesComeInTheOrderOfItsRequests) {
    constexpr int kPcs = 8, kPairs = 40;
    std::vector<std::unique_ptr<TcpLink>> pcs;
    for (int c = 0; c < kPcs; ++c) pcs.push_back(std::make_unique<TcpLink>(tcp->port));
    std::vector<std::string> wrong(kPcs);
    std::vector<std::thread> talking;
    for (int c = 0; c < kPcs; ++c) {
        talking.emplace_back([&, c] {
            const uint32_t addr = 0xA00 + uint32_t(c);
            Bytes train;
            for (int i = 0; i < kPairs; ++i)
                for (const Bytes& b : {writeRam(addr, {uint8_t(i)}), readRam(addr, 1)}) {
                    const Bytes w = wire(b);
                    train.insert(train.end(), w.begin(), w.end());
                }
            pcs[c]->send(train);
            for (int i = 0; i < kPairs && wrong[c].empty(); ++i) {
                Bytes written, read;
                if (!pcs[c]->recv(written) || !pcs[c]->recv(read))
                    wrong[c] = "reply " + std::to_string(i) + " missing";
                else if (written.size() != 11 || written[9] != 0x60 || written[10] != 0 ||
                         read.size() != 12 || read[9] != 0x61 || read[11] != uint8_t(i))
                    wrong[c] =
                        "pair " + std::to_string(i) + ": " + toHex(written) + " / " + toHex(read);
            }
        });
    }
    for (std::thread& t : talking) t.join();
    for (int c = 0; c < kPcs; ++c) EXPECT_EQ(wrong[c], "") << "PC " << c;
}

// A PC's request sent behind its own upload waits for the upload's save, which the shell holds,
// while another PC is served; then both replies come, in order.
TEST_F(TcpClients, ARequestBehindItsOwnLongJobWaitsWhileAnotherClientIsServed) {
    const std::string json = "{\"a\":1}";
    TcpLink pc(tcp->port), other(tcp->port);
    ASSERT_EQ(
        pc.ask(body(0x80, cat({{'A', 'L', 'I', 'S'}, le32(uint32_t(json.size())), {0}}))).at(10),
        0);
    ASSERT_EQ(pc.ask(body(0x81, cat({le32(0), le16(uint16_t(json.size())),
                                     Bytes(json.begin(), json.end())})))
                  .at(10),
              0);
    shell().hold("sync");
    // The end with the MD5 of {"a":1}, then a read of the parameter RAM.
    pc.send(
        cat({wire(body(0x82, hex("bb6cb5c68df4652941caf652a366f2d8"))), wire(readRam(0xA02, 1))}));
    ASSERT_TRUE(shell().waitHeld(5000));
    for (int i = 0; i < 3; ++i) EXPECT_GT(other.ask(body(0x90, {})).size(), 60u) << i;
    Bytes first, second;
    EXPECT_FALSE(pc.recv(first, 0));
    shell().release();
    ASSERT_TRUE(pc.recv(first, 5000));
    ASSERT_TRUE(pc.recv(second, 5000));
    EXPECT_EQ(first[9], 0x82);
    EXPECT_EQ(first[10], 0);
    EXPECT_EQ(second[9], 0x61);
    EXPECT_EQ(second[10], 0);
}

// Receiving cards that answer a frame a few polls after it was sent, with its data byte. Their
// hooks are in place before the server's threads start.
class TcpCards : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        comm_hooks& h = comm_hooks::get();
        h.irq_mutex = &irq;
        h.pc_to_eth = [this](uint32_t n, uint8_t* f, comm_hooks::AnswerFn answer,
                             comm_hooks::CardWindow&) {
            asked.assign(f, f + n);
            answerTo = std::move(answer);
            polls = 5;
            return 1;
        };
        h.poll_cards = [this] {
            if (polls <= 0 || --polls > 0) return;
            Bytes a = body(0x61, {0, asked[10]}, 0xF010, 0x0001);
            a.push_back(0);
            for (size_t i = 0; i + 1 < a.size(); ++i) a.back() ^= a[i];
            answerTo(a.data(), uint32_t(a.size()));
        };
        tcp = networkManage::pInstance();
    }
    networkManage* tcp = nullptr;
    zem::Mutex irq;
    Bytes asked;                    // the frame with the cards (under irq)
    comm_hooks::AnswerFn answerTo;  // its asker (under irq)
    int polls = 0;                  // polls until the cards answer (under irq)
};

// A card frame and a box command sent together: the cards' answer comes first, as asked.
TEST_F(TcpCards, ACardAnswerComesBeforeTheReplyToTheRequestSentBehindIt) {
    TcpLink pc(tcp->port);
    pc.send(cat({wire(body(0x61, {0x11}, 0x0001, 0xF010)), wire(readRam(0x600880, 1))}));
    Bytes first, second;
    ASSERT_TRUE(pc.recv(first));
    ASSERT_TRUE(pc.recv(second));
    EXPECT_EQ(first, body(0x61, {0, 0x11}, 0xF010, 0x0001));
    EXPECT_EQ(second, body(0x61, {0, 0x80}, 0xF010, 0xF100));
}

}  // namespace
