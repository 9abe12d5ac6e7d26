// The named-frame table over every transport of the box: TCP, UDP and the PC UART's
// pseudo-terminal. After each row the link must still answer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "box_links.h"
#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "comm/network_manage.h"
#include "comm/qz_uart_inout.h"
#include "comm/udpnet_manage.h"
#include "comm_fixture.h"
#include "core/globals.h"
#include "core/link_activity.h"
#include "core/sync_update.h"
#include "core/zem_ram_para.h"
#include "gate.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "time_factor.h"

namespace {

struct Row {
    const char* name;
    Bytes wire;      // sent as is
    Bytes expected;  // reply body without its check byte; empty: silence
};

Bytes reply(const Bytes& request, const Bytes& data) {
    Bytes r = {request[2], request[3], request[0], request[1]};
    for (size_t i = 4; i < 10; ++i) r.push_back(request[i]);
    for (uint8_t d : data) r.push_back(d);
    return r;
}

Bytes corrupt(Bytes w, size_t at, uint8_t x) {
    w[at] ^= x;
    return w;
}

std::vector<Row> table() {
    const Bytes wr = writeRam(0x0C00, {0xA5, 0x5A, 0x01});
    const Bytes rd = readRam(0x0C00, 3);
    const Bytes good = wire(rd);
    Bytes oversized = hex("a5a5a5");
    oversized.insert(oversized.end(), 70000, 0x22);
    oversized.push_back(0x5A);
    Bytes badEscape = good;
    badEscape.insert(badEscape.begin() + 6, {0x5B, 0x09});
    return {
        {"write RAM with bytes that need escaping", wire(wr), reply(wr, {0})},
        {"read them back", good, reply(rd, {0, 0xA5, 0x5A, 0x01})},
        {"write past the RAM", wire(writeRam(4095, {1, 2})), reply(writeRam(4095, {1, 2}), {1})},
        {"write across a user-mode slot", wire(writeRam(0x1FFE, {1, 2, 3, 4, 5})),
         reply(writeRam(0x1FFE, {1, 2, 3, 4, 5}), {1})},
        {"read the status block", wire(readRam(0x600880, 3)),
         reply(readRam(0x600880, 3), {0, 0x80, 0x1F, 0x06})},
        {"unknown command", wire(body(0x5E, {})), reply(body(0x5E, {}), {0xFF})},
        {"truncated frame", Bytes(good.begin(), good.end() - 3), {}},
        {"bad check byte", corrupt(good, good.size() - 2, 0x40), {}},
        {"bad escape pair", badEscape, {}},
        {"oversized frame", oversized, {}},
        {"noise only", hex("00 01 02 5a 5b 03"), {}},
        {"too short for a header", hex("a5a5a5 10 f0 00 f1 5a"), {}},
        {"a box's own reply", wire(body(0x61, {0, 1, 2}, 0xF010, 0xF100)), {}},
    };
}

class Links : public CommTest, public ::testing::WithParamInterface<Via> {
protected:
    void SetUp() override {
        CommTest::SetUp();
        link = startBoxLink(GetParam());
    }
    void TearDown() override {
        link.reset();
        stopBoxLinks();
        CommTest::TearDown();
    }
    std::unique_ptr<Link> link;
};

}  // namespace

TEST_P(Links, NamedFramesThenTheLinkStillAnswers) {
    const Bytes probe = readRam(0x600880, 1);
    pc_cmd_valid = 0;
    G_timeTicks = 4321;
    for (const Row& row : table()) {
        SCOPED_TRACE(row.name);
        link->send(row.wire);
        Bytes got;
        if (row.expected.empty()) {
            // Silence: the next thing that comes back is the probe's answer.
            link->send(wire(probe));
            ASSERT_TRUE(link->recv(got));
            EXPECT_EQ(got, reply(probe, {0, 0x80}));
        } else {
            ASSERT_TRUE(link->recv(got));
            EXPECT_EQ(toHex(got), toHex(row.expected));
            EXPECT_EQ(link->ask(probe), reply(probe, {0, 0x80}));
        }
    }
    EXPECT_EQ(pc_cmd_valid, 1);
    EXPECT_EQ(pc_cmd_time, 4321u);
}

TEST_P(Links, AFrameSplitIntoPiecesAndTwoFramesInOneWrite) {
    const Bytes w = wire(readRam(0x600880, 2));
    if (GetParam() != Via::Udp) {  // a datagram holds whole frames
        link->send(Bytes(w.begin(), w.begin() + 5));
        link->send(Bytes(w.begin() + 5, w.end()));
        Bytes got;
        ASSERT_TRUE(link->recv(got));
        EXPECT_EQ(got, reply(readRam(0x600880, 2), {0, 0x80, 0x1F}));
    }
    link->send(cat({w, wire(readRam(0x600881, 1))}));
    Bytes a, b;
    ASSERT_TRUE(link->recv(a));
    ASSERT_TRUE(link->recv(b));
    EXPECT_EQ(b, reply(readRam(0x600881, 1), {0, 0x1F}));
}

TEST_P(Links, EveryMalformedFrameIsCountedOnce) {
    const Bytes probe = readRam(0x600880, 1);
    const Bytes good = wire(probe);
    Bytes badEscape = good;
    badEscape.insert(badEscape.begin() + 6, {0x5B, 0x09});
    const std::vector<Bytes> bad = {Bytes(good.begin(), good.end() - 3),
                                    corrupt(good, good.size() - 2, 0x40), badEscape};
    for (const Bytes& b : bad) {
        const uint32_t before = link_session::dropped_total;
        link->send(b);
        EXPECT_EQ(link->ask(probe), reply(probe, {0, 0x80}));
        EXPECT_EQ(link_session::dropped_total - before, 1u) << toHex(b);
    }
}

// Stopped and started again (as each case of a test program does), a link answers afresh.
TEST_P(Links, ALinkStoppedAndStartedAgainAnswers) {
    const Bytes probe = readRam(0x600880, 1);
    ASSERT_EQ(link->ask(probe), reply(probe, {0, 0x80}));
    link.reset();
    stopBoxLinks();
    link = startBoxLink(GetParam());
    EXPECT_EQ(link->ask(probe), reply(probe, {0, 0x80}));
}

INSTANTIATE_TEST_SUITE_P(Transports, Links,
                         ::testing::Values(Via::Tcp, Via::Udp, Via::Pty, Via::Pty4G), viaName);

using TcpServer = CommTest;

TEST_F(TcpServer, ManyClientsAtOnceEachWithItsOwnFramer) {
    networkManage* server = networkManage::pInstance();
    std::vector<std::unique_ptr<TcpLink>> clients;
    for (int i = 0; i < 8; ++i) clients.push_back(std::make_unique<TcpLink>(server->port));
    // Each client leaves half a frame pending while the others talk.
    for (int i = 0; i < 8; ++i) {
        const Bytes w = wire(writeRam(0xA00 + i, {uint8_t(i + 1)}));
        clients[i]->send(Bytes(w.begin(), w.begin() + 7));
    }
    for (int i = 0; i < 8; ++i) {
        const Bytes w = wire(writeRam(0xA00 + i, {uint8_t(i + 1)}));
        clients[i]->send(Bytes(w.begin() + 7, w.end()));
        Bytes got;
        ASSERT_TRUE(clients[i]->recv(got));
        EXPECT_EQ(got.back(), 0);
    }
    for (int i = 0; i < 8; ++i) EXPECT_EQ(store()->ram[0xA00 + i], i + 1);
    clients.resize(3);  // five leave
    EXPECT_EQ(clients[2]->ask(readRam(0xA02, 1)), reply(readRam(0xA02, 1), {0, 3}));
    networkManage::shutdown();
}

TEST_F(TcpServer, OutOfDescriptorsItWaitsInsteadOfSpinningAndServesLater) {
    networkManage* server = networkManage::pInstance();
    const Bytes probe = readRam(0x600880, 1);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = std::min<rlim_t>(old.rlim_cur, 256);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fill;
    for (int fd; (fd = ::socket(AF_INET, SOCK_STREAM, 0)) >= 0;) fill.push_back(fd);
    ::close(fill.back());
    fill.pop_back();
    // The last descriptor goes to a plain client socket (nothing here may need another one, the
    // sanitizers included): the server cannot accept it.
    const int late = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(server->port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int connected = ::connect(late, reinterpret_cast<sockaddr*>(&to), sizeof to);
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    // unscaled: a window for the processor time the accept retries take, not a bound.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::getrusage(RUSAGE_SELF, &after);
    for (int fd : fill) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &old);
    auto ms = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000 +
               (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
    };
    ASSERT_EQ(connected, 0);
    EXPECT_LT(ms(after) - ms(before), 100);  // a spinning thread would take about 300
    // Once descriptors are free again the waiting client is taken and answered.
    const Bytes w = wire(probe);
    ASSERT_EQ(::send(late, w.data(), w.size(), MSG_NOSIGNAL), ssize_t(w.size()));
    ReplyReader replies;
    uint8_t buf[256];
    while (replies.bodies.empty()) {
        pollfd p{late, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, hangMs(5000)), 1);
        const ssize_t n = ::recv(late, buf, sizeof buf, 0);
        ASSERT_GT(n, 0);
        replies.add(buf, size_t(n));
    }
    EXPECT_EQ(replies.bodies[0], reply(probe, {0, 0x80}));
    ::close(late);
    networkManage::shutdown();
}

using SerialLink = CommTest;

TEST_F(SerialLink, AfterReadErrorsThePortIsServedAgain) {
    Qz_uart_inout* uart = Qz_uart_inout::pInstance();
    const std::string name = platform::sim::serialPeerName("/dev/ttyS2");
    const Bytes probe = readRam(0x600880, 1);
    {
        PtyLink first(name);
        EXPECT_EQ(first.ask(probe), reply(probe, {0, 0x80}));
        platform::sim::releaseSimSerial("/dev/ttyS2");
    }  // nobody holds the far end now: the program's reads fail
    // A second failed read: the port rested after the first and was read again.
    ASSERT_TRUE(eventually([&] { return uart->read_errors >= 2; }, 5000))
        << uart->read_errors << " failed reads";
    PtyLink again(name);
    EXPECT_EQ(again.ask(probe, 3000), reply(probe, {0, 0x80}));
    Qz_uart_inout::shutdown();
}

TEST_F(TcpServer, APeerThatVanishesIsFoundByKeepAlive) {
    // A PC switched off mid-connection sends no FIN; without keep-alive probes its socket and
    // buffers would stay for ever on a box that runs for months.
    networkManage* server = networkManage::pInstance();
    TcpLink pc(server->port);
    const Bytes probe = readRam(0x600880, 1);
    ASSERT_EQ(pc.ask(probe), reply(probe, {0, 0x80}));
    const int fd = server->last_client;
    int on = 0, idle = 0, count = 0;
    socklen_t n = sizeof(int);
    ASSERT_EQ(::getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, &n), 0);
    ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &n);
    ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, &n);
    EXPECT_EQ(on, 1);
    EXPECT_GT(idle, 0);
    EXPECT_LE(idle, 300);
    EXPECT_GT(count, 0);
    networkManage::shutdown();
}

using WifiSocket = CommTest;

TEST_F(WifiSocket, EveryLineGetsAnErrorReply) {
    udpnetManage::udp_port_setting = 0;
    udpnetManage::wifi_port_setting = 0;
    g_udpnetmode = 1;
    udpnetManage* udp = udpnetManage::pInstance();
    UdpLink peer(udp->wifi_port);
    const std::string lines = "AT+SSID?\r\nAT+PASS=1\r\n";
    peer.send(Bytes(lines.begin(), lines.end()));
    char buf[64];
    std::string got;
    for (int i = 0; i < 2; ++i) {
        pollfd p{peer.fd, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, hangMs(2000)), 1);
        const ssize_t n = ::recv(peer.fd, buf, sizeof buf, 0);
        got.append(buf, size_t(n));
    }
    EXPECT_EQ(got, "ERROR\r\nERROR\r\n");
    udpnetManage::shutdown();
}

TEST_F(WifiSocket, AFloodOfLinesIsAnsweredOnlyUpToTheQueueBound) {
    // One small datagram must not turn into thousands of replies or an ever longer queue.
    udpnetManage::udp_port_setting = 0;
    udpnetManage::wifi_port_setting = 0;
    g_udpnetmode = 1;
    udpnetManage* udp = udpnetManage::pInstance();
    UdpLink peer(udp->wifi_port);
    const int lines = 2000;
    peer.send(Bytes(lines, '\n'));
    int replies = 0;
    char buf[64];
    // A box that answered on and on stops the count at a reply a line.
    for (pollfd p{peer.fd, POLLIN, 0}; replies < lines && ::poll(&p, 1, hangMs(300)) == 1;
         ++replies)
        ASSERT_EQ(::recv(peer.fd, buf, sizeof buf, 0), 7);
    EXPECT_EQ(replies, int(udpnetManage::kMaxTextReplies));
    // The socket still answers the next line.
    const std::string line = "AT\r\n";
    peer.send(Bytes(line.begin(), line.end()));
    pollfd p{peer.fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, hangMs(2000)), 1);
    EXPECT_EQ(::recv(peer.fd, buf, sizeof buf, 0), 7);
    udpnetManage::shutdown();
}

// A PC that sends and never reads its replies holds up nobody else: it is dropped once its
// socket has taken nothing for the stall time.
TEST_F(TcpServer, AClientThatNeverReadsItsRepliesIsDroppedWithoutHoldingUpOthers) {
    networkManage::limits.stall_ms = 200;
    networkManage* server = networkManage::pInstance();
    TcpLink deaf(server->port), other(server->port);
    const Bytes probe = readRam(0x600880, 1);
    ASSERT_EQ(deaf.ask(probe), reply(probe, {0, 0x80}));
    // Far more reply bytes than its queue and the socket buffers hold.
    const Bytes big = wire(readRam(0, 4096));
    Bytes flood;
    for (int i = 0; i < 2000; ++i) flood.insert(flood.end(), big.begin(), big.end());
    std::thread flooding([&] { deaf.send(flood); });
    for (int i = 0; i < 5; ++i) EXPECT_EQ(other.ask(probe, 1000), reply(probe, {0, 0x80}));
    EXPECT_TRUE(eventually([&] { return server->clients == 1; }, 30000));  // only a hang
    flooding.join();
    EXPECT_EQ(other.ask(probe), reply(probe, {0, 0x80}));
    networkManage::shutdown();
    networkManage::limits.stall_ms = 10000;
}

// A PC whose frame waits for receiving cards that do not answer waits alone: the others are
// served meanwhile, and it is served again once its wait ends.
TEST_F(TcpServer, AClientWaitingForTheCardsHoldsUpNobodyElse) {
    zem::Mutex irq;
    std::atomic<int> sent{0};
    comm_hooks& h = comm_hooks::get();
    h.irq_mutex = &irq;
    h.pc_to_eth = [&](uint32_t, uint8_t*, comm_hooks::AnswerFn, comm_hooks::CardWindow&) {
        return ++sent, 1;
    };
    h.poll_cards = [] {};
    link_session::pass_wait_ms = 3000;
    platform::installClock(nullptr);  // the wait is in real time, as on the box
    networkManage* server = networkManage::pInstance();
    TcpLink cards(server->port), other(server->port);
    const Bytes probe = readRam(0x600880, 1);
    cards.send(wire(body(0x61, {1, 2}, 0x0001, 0xF010)));
    ASSERT_TRUE(eventually([&] { return sent == 1; }));  // its frame is with the cards
    for (int i = 0; i < 5; ++i) EXPECT_EQ(other.ask(probe, 1000), reply(probe, {0, 0x80}));
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(cards.ask(probe, 5000), reply(probe, {0, 0x80}));
    networkManage::shutdown();
    link_session::pass_wait_ms = 500;
    h = comm_hooks();
}

// The cards' answer goes back to the TCP client that asked, and a second client's card frame
// waits its turn (one frame is with the cards at a time) without holding up box commands.
TEST_F(TcpServer, CardAnswersGoToTheClientThatAskedOneFrameAtATime) {
    zem::Mutex irq;
    std::vector<uint8_t> last;      // the frame now with the cards (under irq)
    comm_hooks::AnswerFn answerTo;  // its asker (under irq)
    int answerIn = -1;              // polls until the cards answer (under irq)
    comm_hooks& h = comm_hooks::get();
    h.irq_mutex = &irq;
    h.pc_to_eth = [&](uint32_t n, uint8_t* f, comm_hooks::AnswerFn answer,
                      comm_hooks::CardWindow&) {
        EXPECT_EQ(answerIn, -1);  // the previous frame was answered first
        last.assign(f, f + n);
        answerTo = std::move(answer);
        answerIn = 20;
        return 1;
    };
    h.poll_cards = [&] {
        if (answerIn > 0 && --answerIn == 0) {
            answerIn = -1;
            // The card answers with the request's data byte.
            Bytes a = body(0x61, {0, last[10]}, 0xF010, 0x0001);
            a.push_back(0);
            for (size_t i = 0; i + 1 < a.size(); ++i) a.back() ^= a[i];
            answerTo(a.data(), uint32_t(a.size()));
        }
    };
    networkManage* server = networkManage::pInstance();
    TcpLink first(server->port), second(server->port), other(server->port);
    first.send(wire(body(0x61, {0x11}, 0x0001, 0xF010)));
    second.send(wire(body(0x61, {0x22}, 0x0002, 0xF010)));
    const Bytes probe = readRam(0x600880, 1);
    EXPECT_EQ(other.ask(probe), reply(probe, {0, 0x80}));
    Bytes a, b;
    ASSERT_TRUE(first.recv(a));
    ASSERT_TRUE(second.recv(b));
    EXPECT_EQ(a, body(0x61, {0, 0x11}, 0xF010, 0x0001));
    EXPECT_EQ(b, body(0x61, {0, 0x22}, 0xF010, 0x0001));
    networkManage::shutdown();
    h = comm_hooks();
}

namespace {
// A card answer to a request of `body`, with its check byte.
Bytes cardAnswer(uint8_t data) {
    Bytes a = body(0x61, {0, data}, 0xF010, 0x0001);
    uint8_t x = 0;
    for (uint8_t v : a) x ^= v;
    a.push_back(x);
    return a;
}
}  // namespace

// The cards as the FPGA side hands them to the links: each frame sent gives its answer sink to
// `askers`, under the fixture's IRQ mutex; what a poll answers is each case's.
class CardTurns : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        comm_hooks& h = comm_hooks::get();
        h.irq_mutex = &irq;
        h.pc_to_eth = [this](uint32_t, uint8_t*, comm_hooks::AnswerFn a, comm_hooks::CardWindow&) {
            askers.push_back(std::move(a));
            return 1;
        };
    }
    void TearDown() override {
        link_session::hooks = {};
        link_session::pass_wait_ms = 500;
        comm_hooks::get() = comm_hooks();
        CommTest::TearDown();
    }
    zem::Mutex irq;
    std::vector<comm_hooks::AnswerFn> askers;  // one per frame sent (under irq)
};

// A card answer that comes after its link stopped waiting is counted and reaches nobody: the
// next frame gets its own answer.
TEST_F(CardTurns, ALateAnswerIsDroppedAndCounted) {
    Bytes answer;  // what the cards answer on the next poll
    comm_hooks::get().poll_cards = [&] {
        if (!answer.empty()) askers.back()(answer.data(), uint32_t(answer.size()));
    };
    link_session::pass_wait_ms = 20;
    const uint32_t late = card_turns::get().late_answers();
    EXPECT_TRUE(handle(body(0x61, {1}, 0x0001, 0xF010)).empty());
    const Bytes first = cardAnswer(1);
    Bytes second = cardAnswer(2);
    askers[0](first.data(), uint32_t(first.size()));
    EXPECT_EQ(card_turns::get().late_answers() - late, 1u);
    answer = second;
    second.pop_back();
    EXPECT_EQ(handle(body(0x61, {2}, 0x0001, 0xF010)), second);
    EXPECT_EQ(askers.size(), 2u);
}

// A turn past its window is taken over by the next link's take, even one whose own wait is
// over too: the turn taken over may no longer send, and its answer is then dropped as late;
// an answer that came within the window still reaches its link.
TEST_F(CardTurns, ATurnPastItsWindowIsTakenOverWhateverWaitEndedFirst) {
    card_turns& turns = card_turns::get();
    const auto now = std::chrono::steady_clock::now();
    const card_turns::window over(0), open(60000);
    const uint32_t late = turns.late_answers();
    std::vector<uint8_t> got;
    const uint32_t first = turns.take(now, over);
    ASSERT_NE(first, 0u);
    const uint32_t second = turns.take(now, open);
    if (second == 0) {
        turns.release(first);  // for the cases after this one in the process
        FAIL() << "the cards stayed with a turn past its window";
    }
    EXPECT_FALSE(turns.sending(first, open));
    ASSERT_TRUE(turns.sending(second, over));
    const uint8_t a = 0xA1, b = 0xB2;
    turns.deliver(first, &a, 1);
    EXPECT_EQ(turns.late_answers() - late, 1u);
    EXPECT_EQ(turns.wait_answer(first, now, got), card_turns::Answer::Gone);
    turns.deliver(second, &b, 1);  // in time, but its link has not run since
    const uint32_t third = turns.take(now, open);
    ASSERT_NE(third, 0u);
    EXPECT_EQ(turns.wait_answer(third, now, got), card_turns::Answer::Waiting);
    ASSERT_EQ(turns.wait_answer(second, now, got), card_turns::Answer::Got);
    EXPECT_EQ(got, std::vector<uint8_t>{b});
    turns.release(second);
    turns.release(third);
    EXPECT_EQ(turns.late_answers() - late, 1u);
}

// The link whose frame is with the cards does not run past its window (its thread is held
// right after the send): the next link's frame takes the cards at the end of that window and
// gets its own answer; an answer to the first frame that comes after the second was sent is
// dropped as late, and the first link, let go, finds its turn gone and answers its PC nothing.
TEST_F(CardTurns, AFrameBehindALinkHeldPastItsWindowTakesTheCards) {
    comm_hooks::get().poll_cards = [&] {
        if (askers.size() != 2 || !askers[1]) return;
        askers[0](cardAnswer(1).data(), uint32_t(cardAnswer(1).size()));
        askers[1](cardAnswer(2).data(), uint32_t(cardAnswer(2).size()));
        askers[1] = nullptr;
    };
    std::mutex m;
    std::condition_variable changed;
    bool held = false, let_go = false;
    link_session::hooks.card_frame_sent = [&](uint32_t) {
        std::unique_lock<std::mutex> lock(m);
        if (held) return;  // the second link goes on
        held = true;
        changed.notify_all();
        changed.wait(lock, [&] { return let_go; });
    };
    link_session::pass_wait_ms = 50;  // the windows' length changes the wait, not the outcome
    const uint32_t late = card_turns::get().late_answers();
    link_session holder(LinkKind::Tcp, "holder"), next(LinkKind::Udp, "next");
    Bytes holderGot = {0xEE};
    std::thread holding([&] { holderGot = askSession(holder, body(0x61, {1}, 0x0001, 0xF010)); });
    {
        std::unique_lock<std::mutex> lock(m);
        changed.wait(lock, [&] { return held; });
    }
    Bytes answer2 = cardAnswer(2);
    answer2.pop_back();
    EXPECT_EQ(askSession(next, body(0x61, {2}, 0x0001, 0xF010)), answer2);
    EXPECT_EQ(card_turns::get().late_answers() - late, 1u);
    {
        std::lock_guard<std::mutex> lock(m);
        let_go = true;
        changed.notify_all();
    }
    holding.join();
    EXPECT_TRUE(holderGot.empty());
    EXPECT_EQ(askers.size(), 2u);
}

// ---- Save requests whose register 11 may never come ----

namespace {

// A flash erase, held or stretched by the test's erase hook: a long frame.
Bytes eraseFlash() {
    return body(0x70, cat({{4}, le32(0), le16(1), {0}}));
}

// PCs that write save requests (RAM 868) on UDP, from ports of loopback addresses, and on a
// serial port, through link sessions as their transports hand them the frames; the main tick
// is G_timeTicks stepped by hand and the watch it runs. The store's file work runs on its
// thread, as on the box.
class RequestOwners : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        store()->reload();
        store()->saver.start();
        G_timeTicks = 1000;
    }
    void TearDown() override {
        link_activity::get().hooks = link_activity::TestHooks();
        store()->saver.stop();
        CommTest::TearDown();
    }
    // The frame from UDP port `port` of 127.0.0.host: its reply.
    Bytes fromUdp(uint8_t host, uint16_t port, const Bytes& frame) {
        udp.setPeer("udp", link_session::udp_link(htonl(0x7F000000u | host), htons(port)));
        return askSession(udp, frame);
    }
    // Ticks of the main tick with no frame.
    static void tick(uint32_t ticks) {
        G_timeTicks += ticks;
        link_activity::get().watch(G_timeTicks);
    }
    static int recorded() {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return int(store()->recorded_requests());
    }
    // Whether mode's file was written, once the file work asked so far is done.
    bool saved(int mode) {
        store()->saver.drain();
        return std::filesystem::exists(local("/data/modes/custom_mode" + std::to_string(mode)));
    }
    // A fresh start: no request recorded, no mode saved.
    void restart() {
        store()->saver.drain();
        std::filesystem::remove_all(local("/data/modes"));
        std::filesystem::create_directories(local("/data/modes"));
        store()->reload();
    }
    // The one request recorded (of mode 3) is carried out after `ticks` more ticks of silence,
    // and not one before (0: at the next look).
    void expectCarriedOutAfter(uint32_t ticks) {
        if (ticks > 0) {
            tick(ticks - 1);
            EXPECT_EQ(recorded(), 1) << "carried out before its silence ended";
            EXPECT_FALSE(saved(3));
        }
        tick(ticks > 0 ? 1 : 0);
        EXPECT_EQ(recorded(), 0) << "not carried out at the end of its silence";
        EXPECT_TRUE(saved(3));
        EXPECT_EQ(store()->rd16_locked(868), 0) << "868 reads 0 once its file is written";
        EXPECT_EQ(link_activity::get().watched(), 0u)
            << "the take left its owner watched: the tick would find it silent at every turn";
    }

    static constexpr uint32_t kSilent = link_activity::kSilentTicks;
    link_session udp{LinkKind::Udp, "udp"};
    link_session serial{LinkKind::Uart, "/dev/ttyS2"};
};

using Send = std::function<void(const Bytes&)>;

}  // namespace

// A UDP address or a serial port that sends nothing for 60 s has its requests carried out.
TEST_F(RequestOwners, SixtySilentSecondsCarryOutAUdpAddressOrSerialPortsRequests) {
    const struct {
        const char* name;
        Send send;
    } cases[] = {
        {"a UDP address", [this](const Bytes& f) { fromUdp(1, 40001, f); }},
        {"a serial port", [this](const Bytes& f) { askSession(serial, f); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        c.send(writeRam(868, le16(3)));
        expectCarriedOutAfter(kSilent);
    }
}

// Frames from any port of the address keep its requests waiting, however long, a frame for
// the receiving cards as any other; another address's frames do not.
TEST_F(RequestOwners, AHostThatKeepsPollingFromAnyPortIsNeverSilent) {
    const struct {
        const char* name;
        Bytes poll;
    } cases[] = {
        {"reading RAM 868", readRam(868, 2)},
        {"with frames for the cards", body(0x61, {1}, 0x0001, 0xF010)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        fromUdp(1, 40001, writeRam(868, le16(3)));
        for (uint16_t port = 40002; port < 40012; ++port) {
            tick(kSilent - 1);
            fromUdp(1, port, c.poll);
        }
        EXPECT_EQ(recorded(), 1);
        tick(kSilent / 2);
        fromUdp(2, 40001, c.poll);
        expectCarriedOutAfter(kSilent / 2);
    }
}

// The tick looks for silence without the C331 mutex and decides again under it: a frame of the
// address answered between the two heard it, and so did one that recorded a request there and
// has not ended yet; its requests wait. Another address's frame leaves its silence as it was.
TEST_F(RequestOwners, ATickTakesOnlyWhatWasStillSilentUnderTheC331Mutex) {
    // One frame writing the key lock (RAM 772) with the rest of the RAM as it is, and a
    // request of mode 4: after its request is recorded, and before the frame ends, the box
    // redraws the padlock, where this frame is held.
    Gate recordedNotEnded;
    QObject::connect(
        store(), &ZemRamPara::sig_update_para, &scope,
        [&](int id) {
            if (id == SyncUpdate::kIdKeyLock) recordedNotEnded.pass();
        },
        Qt::DirectConnection);
    std::thread held;
    const auto keyLockAndRequest = [this] {
        Bytes block(store()->ram.data() + 772, store()->ram.data() + 870);
        block[868 - 772] = 4, block[869 - 772] = 0;
        return writeRam(772, block);
    };
    const struct {
        const char* name;
        std::function<void()> between;  // between the tick's look and its lock
        int recorded;                   // then, after the tick
    } cases[] = {
        {"a frame of the address recording a request",
         [this] { fromUdp(1, 40002, writeRam(868, le16(4))); }, 2},
        {"a frame of the address reading", [this] { fromUdp(1, 40002, readRam(868, 2)); }, 1},
        {"a frame of the address that recorded a request and has not ended",
         [&] {
             held = std::thread([&] { fromUdp(1, 40002, keyLockAndRequest()); });
             ASSERT_TRUE(recordedNotEnded.entered(10000)) << "the frame was not held";
         },
         2},
        {"another address's frame", [this] { fromUdp(2, 40001, readRam(868, 2)); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        fromUdp(1, 40001, writeRam(868, le16(3)));
        tick(kSilent - 1);
        int looks = 0;
        link_activity::get().hooks.before_silence_lock = [&] {
            ++looks;
            c.between();
        };
        tick(1);
        link_activity::get().hooks.before_silence_lock = nullptr;
        recordedNotEnded.open();
        if (held.joinable()) held.join();
        EXPECT_EQ(looks, 1) << "the address did not look silent";
        EXPECT_EQ(recorded(), c.recorded);
        EXPECT_EQ(saved(3), c.recorded == 0);
        EXPECT_FALSE(saved(4));
    }
}

// The silence stands still while the link's receiver is on a frame, any peer's (a flash erase
// across 90 s of ticks, the main tick watching meanwhile), and starts again at the end of the
// link's own; another peer's frame counts once the receiver has found nothing more waiting.
TEST_F(RequestOwners, ALongFrameOnItsReceiverIsNoSilence) {
    comm_hooks::get().erase_flash = [](uint32_t, uint32_t, uint8_t) {
        for (int k = 0; k < 3; ++k) tick(kSilent / 2);
        return 0;
    };
    const Send pc = [this](const Bytes& f) { fromUdp(1, 40001, f); };
    const Send serialPc = [this](const Bytes& f) { askSession(serial, f); };
    const struct {
        const char* name;
        Send request, longFrame;
        uint32_t after;  // the silence left after the long frame
    } cases[] = {
        {"another UDP address's", pc, [this](const Bytes& f) { fromUdp(2, 40001, f); }, 0},
        {"from another port of its address", pc, [this](const Bytes& f) { fromUdp(1, 40002, f); },
         kSilent},
        {"its own, on a serial port", serialPc, serialPc, kSilent},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        c.request(writeRam(868, le16(3)));
        tick(kSilent / 2);
        c.longFrame(eraseFlash());
        EXPECT_EQ(recorded(), 1) << "carried out during a frame";
        expectCarriedOutAfter(c.after);
    }
}

// A receiver busy on other peers' frames, with more input waiting between them, holds the
// address's silence still however long that lasts (the main tick watching meanwhile); once it
// finds nothing waiting, every tick since the address's last frame counted.
TEST_F(RequestOwners, ABusyReceiverCountsTheSilenceOnceItsInputIsDrained) {
    comm_hooks::get().erase_flash = [](uint32_t, uint32_t, uint8_t) {
        tick(kSilent / 4);
        return 0;
    };
    const auto otherPeer = [this](const Bytes& f) {
        udp.setPeer("udp", link_session::udp_link(htonl(0x7F000002u), htons(40001)));
        askSessionBusy(udp, f);
    };
    const struct {
        const char* name;
        Bytes frame;       // another peer's, eight times
        uint32_t between;  // ticks between two of them
    } cases[] = {
        {"frames of a flash erase each, back to back", eraseFlash(), 0},
        {"short frames, a minute apart", readRam(868, 2), kSilent},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        fromUdp(1, 40001, writeRam(868, le16(3)));
        for (int i = 0; i < 8; ++i) {
            otherPeer(c.frame);
            tick(c.between);
        }
        EXPECT_EQ(recorded(), 1) << "carried out while input waited";
        udp.input_drained();
        expectCarriedOutAfter(0);
    }
}

// A frame of an address that waits in the socket while the receiver is on another peer's long
// frame, the main tick running meanwhile and again as that frame is answered: its silence is
// not counted, and starts again at the end of its own frame (its request's, or a later one's).
TEST_F(RequestOwners, ARequestWrittenWhileTheReceiverServesAnotherPeerWaitsItsOwnSilence) {
    Gate erasing;
    comm_hooks::get().erase_flash = [&erasing](uint32_t, uint32_t, uint8_t) {
        erasing.pass();
        return 0;
    };
    comm_hooks::get().before_store_lock = [] { tick(0); };
    std::mutex m;
    std::condition_variable cv;
    int drains = 0;
    link_activity::get().hooks.drained = [&] {
        std::lock_guard<std::mutex> lock(m);
        ++drains;
        cv.notify_all();
    };
    const auto drainedOnce = [&] {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, hangBound(std::chrono::seconds(10)), [&] { return drains > 0; });
    };
    udpnetManage::udp_port_setting = 0;
    udpnetManage::wifi_port_setting = 0;
    udpnetManage* box = udpnetManage::pInstance();
    UdpLink other(box->port, "127.0.0.2"), pc(box->port);
    const struct {
        const char* name;
        bool heldBefore;  // the request recorded before the other's frame, half a minute ago
        Bytes waiting;    // the address's frame that waits
    } cases[] = {
        {"its request", false, writeRam(868, le16(3))},
        {"a frame of an address holding a request", true, writeRam(2176, le16(40))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        Bytes reply;
        if (c.heldBefore) {
            pc.send(wire(writeRam(868, le16(3))));
            ASSERT_TRUE(pc.recv(reply));
            tick(kSilent / 2);
        }
        other.send(wire(eraseFlash()));
        ASSERT_TRUE(erasing.entered(10000));
        pc.send(wire(c.waiting));
        tick(2 * kSilent);
        EXPECT_EQ(recorded(), int(c.heldBefore)) << "carried out while its frame waited";
        {
            // Every drain so far came before the long frame; the next one after the address's.
            std::lock_guard<std::mutex> lock(m);
            drains = 0;
        }
        erasing.open();
        ASSERT_TRUE(pc.recv(reply));
        EXPECT_EQ(status(reply), 0);
        ASSERT_TRUE(drainedOnce()) << "the receiver never found its socket empty";
        EXPECT_EQ(recorded(), 1) << "carried out when its waiting frame was read";
        expectCarriedOutAfter(kSilent);
    }
    udpnetManage::shutdown();
    comm_hooks::get().before_store_lock = nullptr;
}

// The serial port's receiver tells when it finds nothing waiting in the port: a request of
// the port is carried out after 60 s of silence from the end of its frame.
TEST_F(RequestOwners, ASerialPortsSilenceCountsOnceThePortIsFoundEmpty) {
    std::mutex m;
    std::condition_variable cv;
    bool drainedAfterRequest = false;
    link_activity::get().hooks.drained = [&] {
        if (recorded() == 0) return;
        std::lock_guard<std::mutex> lock(m);
        drainedAfterRequest = true;
        cv.notify_all();
    };
    Qz_uart_inout::pInstance();
    PtyLink pc(platform::sim::serialPeerName("/dev/ttyS2"));
    EXPECT_EQ(status(pc.ask(writeRam(868, le16(3)))), 0);
    {
        std::unique_lock<std::mutex> lock(m);
        EXPECT_TRUE(cv.wait_for(lock, hangBound(std::chrono::seconds(10)), [&] {
            return drainedAfterRequest;
        })) << "the port was never found empty after the request";
    }
    expectCarriedOutAfter(kSilent);
    Qz_uart_inout::shutdown();
}

// At most 64 UDP addresses hold requests: a 65th's first request carries out every request of
// the longest-silent address first, with the RAM as it was before that frame, and nothing else.
TEST_F(RequestOwners, PastSixtyFourAddressesTheLongestSilentOnesRequestsAreCarriedOut) {
    const auto mode = [](int host) { return uint16_t(1 + host % 16); };
    for (int host = 1; host <= 64; ++host) {
        fromUdp(uint8_t(host), 40001, writeRam(868, le16(mode(host))));
        if (host == 2) fromUdp(2, 40001, writeRam(868, le16(16)));
        tick(1);
    }
    fromUdp(1, 40002, readRam(868, 2));  // 127.0.0.1 is not the longest silent any more
    ASSERT_EQ(recorded(), 65);
    for (int m = 1; m <= 16; ++m) ASSERT_FALSE(saved(m));
    // One frame writes the 65th's request and a brightness: RAM 868..2177 as it is, but for those.
    ASSERT_EQ(status(handle(writeRam(2176, le16(55)))), 0);
    Bytes block(store()->ram.data() + 868, store()->ram.data() + 2178);
    block[0] = uint8_t(mode(65)), block[1] = 0;
    block[2176 - 868] = 66, block[2177 - 868] = 0;
    ASSERT_EQ(status(fromUdp(65, 40001, writeRam(868, block))), 0);
    for (int m = 1; m <= 16; ++m) EXPECT_EQ(saved(m), m == mode(2) || m == 16) << "mode " << m;
    const std::string file = readFile("/data/modes/custom_mode" + std::to_string(mode(2)));
    ASSERT_EQ(file.size(), size_t(ZemRamPara::kModeFileSize));
    EXPECT_EQ(uint8_t(file[2 + 2176 - 896]), 55) << "the brightness the displacing frame wrote";
    EXPECT_EQ(recorded(), 64);
    EXPECT_EQ(link_activity::get().watched(), link_activity::kMaxAddresses);
    EXPECT_NE(store()->rd16_locked(868), 0) << "64 requests are still open";
}

// One request an owner and mode, however often the link writes it before its register 11;
// the ports of one UDP address are one owner.
TEST_F(RequestOwners, OneRequestAnOwnerAndMode) {
    link_session tcpA(LinkKind::Tcp, "PC A"), tcpB(LinkKind::Tcp, "PC B");
    const auto fiveTimes = [](link_session& link) {
        for (int i = 0; i < 5; ++i) askSession(link, writeRam(868, le16(3)));
    };
    const struct {
        const char* name;
        std::function<void()> writes;
        int recorded;
    } cases[] = {
        {"one TCP link writing mode 3 five times", [&] { fiveTimes(tcpA); }, 1},
        {"one serial port writing mode 3 five times", [&] { fiveTimes(serial); }, 1},
        {"two TCP links writing mode 3", [&] { fiveTimes(tcpA), fiveTimes(tcpB); }, 2},
        {"4,000 ports of one address writing modes 1..16",
         [this] {
             for (int i = 0; i < 4000; ++i)
                 fromUdp(1, uint16_t(20000 + i), writeRam(868, le16(uint16_t(1 + i % 16))));
         },
         16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        c.writes();
        EXPECT_EQ(recorded(), c.recorded);
        EXPECT_LE(link_activity::get().watched(), 1u);
    }
}
