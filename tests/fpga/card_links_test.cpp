// A PC talking to the receiving cards through each transport of the box: a frame to one card,
// a frame to all ports, and the total card count at 0xA000007C.
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "box_links.h"
#include "cards_fixture.h"
#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "core/config_engine.h"
#include "core/md5.h"
#include "platform/clock.h"
#include "simctl/sim_control.h"
#include "time_factor.h"

namespace {

class CardLinks : public CardsTest, public ::testing::WithParamInterface<Via> {
protected:
    // The links start after the cards are set up: the test's writes then come before every
    // read of the link threads, as a thread start orders them (a socket does not, for the
    // race checker).
    void SetUp() override {
        CardsTest::SetUp();
        ConfigEngine::pInstance();
        g_port = 0;
        comm_hooks::wire();
    }
    void startLink() { link = startBoxLink(GetParam()); }
    void TearDown() override {
        link.reset();
        stopBoxLinks();
        link_session::pass_wait_ms = 500;
        link_session::hooks = {};
        CardsTest::TearDown();
    }
    // The frame's body without its check byte, as the PC sends it (the link adds the check).
    static Bytes request(uint16_t dest, uint8_t port, uint32_t addr, uint16_t n) {
        Bytes f = cardFrame(dest, 0x67, 1, port, 0x61, cat({le32(addr), le16(n)}));
        f.pop_back();
        return f;
    }
    std::unique_ptr<Link> link;
};

}  // namespace

TEST_P(CardLinks, ACardIsReadOnOnePortAndOnAllPorts) {
    plug(4, 2);
    plug(17, 3);
    searchCycles(3);
    board->card(4, 1).ram[0x20] = 0xA6;
    board->card(17, 0).ram[0x20] = 0x5B;
    startLink();

    const Bytes one = link->ask(request(1, 5, 0x20, 2));
    ASSERT_EQ(one.size(), 20u);
    EXPECT_EQ(one[2], 1);  // the card's address as the PC knows it
    EXPECT_EQ(one[3], 0);
    EXPECT_EQ(one[7], 5);
    EXPECT_EQ(one[18], 0xA6);

    const Bytes all = link->ask(request(0x0FFF, 0xFF, 0x20, 1));
    ASSERT_EQ(all.size(), 19u);
    EXPECT_EQ(all[2], 0xFF);
    EXPECT_EQ(all[3], 0x0F);
    EXPECT_EQ(all[7], 0xFF);
    {
        zem::MutexLocker lock(mgr->irq_mutex);  // the link thread's collection lock
        EXPECT_EQ(mgr->answered_ports, 0u);     // it ended with the answer
    }

    // The link still answers the box's own commands.
    const Bytes total = link->ask(readRam(0xA000007C, 4));
    ASSERT_EQ(total.size(), 15u);
    EXPECT_EQ(total[10], 0);
    EXPECT_EQ(total[11], 5);
}

// When the box's wait for the cards' answer passes, nothing goes back to the PC; an answer that
// comes after it is dropped, and the next, identical frame gets its own answer, not that one.
// A link handles its frames in turn: the reply to a box command sent behind a card frame comes
// once the card frame's wait has ended, and first when that frame got nothing.
TEST_P(CardLinks, AnAnswerAfterTheWaitIsDroppedAndTheNextFrameGetsItsOwn) {
    plug(2, 1);
    searchCycles(3);
    board->card(2, 0).ram[0x10] = 0x11;
    board->card(2, 0).hold_replies = true;
    link_session::pass_wait_ms = 50;
    startLink();
    const Bytes read = request(0, 3, 0x10, 1);
    const Bytes probe = readRam(0x600880, 1);
    const auto probeAnswered = [&] {
        const Bytes next = link->ask(probe);
        return next.size() == 12u && next[2] == 0x00 && next[3] == 0xF1;
    };
    link->send(wire(read));
    EXPECT_TRUE(probeAnswered());
    const uint32_t late = mgr->unclaimed_answers;
    {
        zem::MutexLocker lock(board->mutex);  // the link threads reach the cards
        board->card(2, 0).hold_replies = false;
        board->card(2, 0).ram[0x10] = 0x22;
    }
    board->releaseHeld();  // the answer with 0x11 waits in the receive buffer now
    const Bytes again = link->ask(read);
    ASSERT_EQ(again.size(), 19u);
    EXPECT_EQ(again[18], 0x22);
    EXPECT_EQ(mgr->unclaimed_answers, late + 1);
    EXPECT_TRUE(probeAnswered());
}

// A card that answers after its frame was given up and after the next frame to the same port,
// card and command came: that answer would pass for the next frame's. The port keeps quiet
// for one more window first, the late answer that comes in it is dropped and counted, and the
// next frame gets its own. A frame that was answered holds up none after it.
TEST_P(CardLinks, AnAnswerAfterTheNextFrameCameIsDroppedInItsPortsQuiet) {
    plug(2, 1);
    searchCycles(3);
    board->card(2, 0).ram[0x10] = 0x11;
    board->card(2, 0).hold_replies = true;
    std::atomic<int> sent{0}, quiets{0};
    const auto answerLate = [&] {
        {
            zem::MutexLocker lock(board->mutex);  // the link threads reach the cards
            board->card(2, 0).hold_replies = false;
        }
        board->releaseHeld();
    };
    link_session::hooks.card_frame_sent = [&](uint32_t) {
        if (++sent > 1) return answerLate();  // behind the next frame, were it sent at once
        zem::MutexLocker lock(board->mutex);
        board->card(2, 0).ram[0x10] = 0x22;  // the first frame's held answer reads 0x11
    };
    link_session::hooks.card_port_quiet = [&] {
        ++quiets;
        answerLate();
    };
    // The second frame comes right behind the first on the link: the window only has to be
    // longer than the link thread takes between them.
    link_session::pass_wait_ms = uint32_t(500 * timeFactor());
    startLink();
    const uint32_t dropped = mgr->unclaimed_answers + card_turns::get().late_answers();
    const Bytes read = request(0, 3, 0x10, 1);
    link->send(wire(read));
    link->send(wire(read));
    Bytes got;
    ASSERT_TRUE(link->recv(got));
    ASSERT_EQ(got.size(), 19u);
    EXPECT_EQ(got[18], 0x22);
    EXPECT_EQ(quiets, 1);
    EXPECT_EQ(mgr->unclaimed_answers + card_turns::get().late_answers(), dropped + 1);
    for (int i = 0; i < 2; ++i) {
        const Bytes again = link->ask(read);
        ASSERT_EQ(again.size(), 19u);
        EXPECT_EQ(again[18], 0x22);
    }
    EXPECT_EQ(quiets, 1);
}

INSTANTIATE_TEST_SUITE_P(Transports, CardLinks, ::testing::Values(Via::Tcp, Via::Udp, Via::Pty),
                         viaName);

namespace {

// All four links at once, as a PC, a serial controller and a second PC on a site.
class AllCardLinks : public CardsTest {
protected:
    void SetUp() override {
        CardsTest::SetUp();
        ConfigEngine::pInstance();
        g_port = 0;
        comm_hooks::wire();
    }
    void startLinks() {
        for (Via via : kVias) links.push_back(startBoxLink(via));
    }
    void TearDown() override {
        links.clear();
        stopBoxLinks();
        link_session::pass_wait_ms = 500;
        CardsTest::TearDown();
    }
    static uint16_t word(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
    static Bytes request(uint16_t dest, uint8_t port, uint32_t addr, uint16_t n) {
        Bytes f = cardFrame(dest, 0x67, 1, port, 0x61, cat({le32(addr), le16(n)}));
        f.pop_back();
        return f;
    }
    // The error answer of a card frame the box refused: the header turned round and a status.
    static Bytes refusal(const Bytes& request, uint8_t status) {
        Bytes r(request.begin(), request.begin() + 10);
        std::swap(r[0], r[2]);
        std::swap(r[1], r[3]);
        r.push_back(status);
        return r;
    }
    // A card frame the box sends to no port, on each link in turn (below).
    void expectNotSentAndNothingHeld(const Bytes& frame);
    static constexpr Via kVias[4] = {Via::Tcp, Via::Udp, Via::Pty, Via::Pty4G};
    std::vector<std::unique_ptr<Link>> links;
};

}  // namespace

// Each link loops a card read of its own length; every answer must come back, to its asker.
TEST_F(AllCardLinks, CardReadsOnFourLinksAtOnceNeitherCrossNorGetLost) {
    plug(2, 1);
    searchCycles(3);
    for (int i = 0; i < 16; ++i) board->card(2, 0).ram[0x40 + i] = uint8_t(0x30 + i);
    const Bytes ram(board->card(2, 0).ram.begin() + 0x40, board->card(2, 0).ram.begin() + 0x50);
    startLinks();
    constexpr int kRounds = 60;
    std::atomic<int> wrong{0}, lost{0};
    std::vector<std::thread> pcs;
    for (size_t l = 0; l < links.size(); ++l)
        pcs.emplace_back([&, l] {
            const uint16_t n = uint16_t(l + 1);  // the link's own answer length
            for (int r = 0; r < kRounds; ++r) {
                const Bytes got = links[l]->ask(request(0, 3, 0x40, n), 1000);
                if (got.empty()) {
                    ++lost;
                    continue;
                }
                if (got.size() != 18u + n ||
                    !std::equal(ram.begin(), ram.begin() + n, got.begin() + 18))
                    ++wrong;
            }
        });
    for (std::thread& t : pcs) t.join();
    std::printf("card answers of %d: %d to the wrong link, %d lost\n", kRounds * 4, wrong.load(),
                lost.load());
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(lost, 0);
}

// A card frame the box will not send is answered with a status, on every link, and the link
// goes on answering card reads.
TEST_F(AllCardLinks, AFrameTheBoxRefusesIsAnsweredWithAnErrorStatus) {
    plug(0, 1);
    plug(4, 1);
    searchCycles(3);
    board->card(4, 0).ram[0x10] = 0x42;
    board->fpga[0].stuck_busy_pairs = 1;  // ports 0 and 1 never free their transmit buffer
    platform::installClock(std::make_unique<platform::FakeClock>());  // its 3 s wait at once
    startLinks();
    Bytes tooLong = cardFrame(0, 0x67, 1, 5, 0x60, Bytes(1013, 0));
    tooLong.pop_back();  // 1024 bytes with its check byte: more than a transmit area
    const Bytes busy = request(0, 1, 0x10, 1);
    for (size_t l = 0; l < links.size(); ++l) {
        SCOPED_TRACE(viaName({kVias[l], l}));
        EXPECT_EQ(links[l]->ask(tooLong), refusal(tooLong, 1));
        EXPECT_EQ(links[l]->ask(busy), refusal(busy, 1));
        const Bytes good = links[l]->ask(request(0, 5, 0x10, 1));
        ASSERT_EQ(good.size(), 19u);
        EXPECT_EQ(good[18], 0x42);
    }
}

// On every link: the frame is not sent nor answered, and holds up nothing: another link's
// card read (card 0 of port 4, RAM 0x10 = 0x42) and the box command sent behind it are
// answered at once. The control channel's status counts it.
void AllCardLinks::expectNotSentAndNothingHeld(const Bytes& frame) {
    link_session::pass_wait_ms = 60000;  // a frame left waiting would hold everything a minute
    startLinks();
    const uint32_t before = link_session::unsent_total;
    const Bytes probe = readRam(0x600880, 1);
    for (size_t l = 0; l < links.size(); ++l) {
        SCOPED_TRACE(viaName({kVias[l], l}));
        links[l]->send(wire(frame));
        const Bytes other = links[(l + 1) % links.size()]->ask(request(0, 5, 0x10, 1));
        ASSERT_EQ(other.size(), 19u);
        EXPECT_EQ(other[18], 0x42);
        const Bytes next = links[l]->ask(probe);
        ASSERT_EQ(next.size(), 12u);  // the box's reply to the probe, not a card frame's
        EXPECT_EQ(word(next, 2), 0xF100);
        EXPECT_EQ(next[11], 0x80);
    }
    EXPECT_EQ(link_session::unsent_total - before, links.size());
    const std::string status = sim_control::pInstance()->execute("status");
    EXPECT_NE(status.find("card frames sent to no port: " +
                          std::to_string(link_session::unsent_total) + "\n"),
              std::string::npos)
        << status;
    sim_control::shutdown();
}

// A card frame whose port byte names no port of the board (23: FPGA 1's port 13).
TEST_F(AllCardLinks, AFrameForNoPortIsNotAnsweredAndHoldsUpNothing) {
    plug(4, 1);
    searchCycles(3);
    board->card(4, 0).ram[0x10] = 0x42;
    expectNotSentAndNothingHeld(request(0, 23, 0x10, 1));
}

// A frame for all ports (port byte FF) on a box whose linked ports have no cards: the card
// just plugged into port 4 is not counted yet (no search ran), port 6 has none.
TEST_F(AllCardLinks, AFrameForAllPortsWhenNoneHasCardsIsNotAnsweredAndHoldsUpNothing) {
    plug(4, 1);
    board->setLink(6, true);
    board->card(4, 0).ram[0x10] = 0x42;
    ASSERT_EQ(mgr->get_port_card_num(4), 0);
    expectNotSentAndNothingHeld(request(0x0FFF, 0xFF, 0x10, 1));
}

// The total at 0xA000007C follows the ports, step by step: a search cycle counts the cards; a
// port that loses its link (its cards taken off) counts 0 at the next pass, before any search
// cycle (the PC's last read holds the search back); a search cycle with no port to ask takes
// what the ports' counts hold then (here a count the PC wrote into FPGA 0's table).
TEST_F(AllCardLinks, TheTotalCardCountFollowsThePorts) {
    sim_control& ctl = *sim_control::pInstance();
    const auto cards = [&](int port, int n) {
        ASSERT_EQ(ctl.execute("cards " + std::to_string(port) + " " + std::to_string(n)), "ok");
    };
    const auto everyPort = [&](int n) {
        for (int port = 1; port <= 20; ++port) cards(port, n);
    };
    links.push_back(startBoxLink(Via::Tcp));
    Link& pc = *links[0];
    const auto total = [&] {
        const Bytes r = pc.ask(readRam(0xA000007C, 4));
        return r.size() == 15u && r[10] == 0 ? int(word(r, 11) | word(r, 13) << 16) : -1;
    };
    const Bytes port1Count = writeRam(0x80010000 | 100, {5, 0});  // FPGA 0's table, port 1
    enum Then { kSearchCycles, kOnePass };
    const struct {
        const char* what;
        std::function<void()> change;
        Then then;
        int total;
    } steps[] = {
        {"cards on every port", [&] { everyPort(4); }, kSearchCycles, 80},
        {"every port's cards and link lost", [&] { everyPort(0); }, kOnePass, 0},
        {"cards on one port", [&] { cards(7, 3); }, kSearchCycles, 3},
        {"its cards and link lost", [&] { cards(7, 0); }, kOnePass, 0},
        {"no port to ask, a count written by the PC",
         [&] { ASSERT_EQ(pc.ask(port1Count).at(10), 0); }, kSearchCycles, 5},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        if (step.then == kSearchCycles)
            searchCycles(3);
        else
            runTicks(1);
        EXPECT_EQ(total(), step.total);
    }
    sim_control::shutdown();
}

// A frame for all ports when no linked port has cards: while an FPGA restarts, its ports are not
// known yet, and the frame is refused (status 1) to be sent again; once the FPGA is lit again,
// or its bring-up has failed its attempts, it is not sent.
TEST_F(AllCardLinks, AFrameForAllPortsWithNoCardsGetsStatusOneOnlyWhileAnFpgaRestarts) {
    board->setLink(6, true);
    links.push_back(startBoxLink(Via::Tcp));
    Link& pc = *links[0];
    const Bytes all = request(0x0FFF, 0xFF, 0x10, 1);
    const auto notSent = [&] {
        pc.send(wire(all));
        const Bytes next = pc.ask(readRam(0x600880, 1));
        return next.size() == 12u && word(next, 2) == 0xF100;  // the probe's reply comes first
    };
    mgr->reset_fpga_rst(1, "a restart");
    EXPECT_EQ(pc.ask(all), refusal(all, 1));  // in its reset pulse
    ASSERT_TRUE(runUntil([this] { return mgr->start_step[1] == 14; }));
    EXPECT_EQ(pc.ask(all), refusal(all, 1));  // its start-up steps
    ASSERT_TRUE(bothLit());
    EXPECT_FALSE(mgr->restarting(1));
    EXPECT_TRUE(notSent());

    board->fpga[1].never_ready = true;  // restarted, it never comes up again
    mgr->reset_fpga_rst(1, "a restart");
    runTicks(600);  // its first attempt failed: it resets again
    EXPECT_EQ(pc.ask(all), refusal(all, 1));
    ASSERT_TRUE(runUntil([this] { return !mgr->restarting(1); }, 2000));
    ASSERT_TRUE(runUntil([this] { return mgr->rst_active[1] != 0; }, 1000));  // it keeps trying
    EXPECT_TRUE(notSent());
}

namespace {

Bytes fileStart(const std::string& tag, uint32_t size, const std::string& name) {
    return body(0x80, cat({Bytes(tag.begin(), tag.end()),
                           le32(size),
                           {uint8_t(name.size())},
                           Bytes(name.begin(), name.end())}));
}
Bytes filePiece(const std::string& data) {
    return body(0x81, cat({le32(0), le16(uint16_t(data.size())), Bytes(data.begin(), data.end())}));
}
Bytes fileEnd(const std::string& data) {
    MD5 md5;
    md5.update(data.data(), unsigned(data.size()));
    return body(0x82, Bytes(md5.digest(), md5.digest() + 16));
}

}  // namespace

// Two links read cards while the other two upload files: each read gets its own answer, and
// each upload either waits its turn (status 1 at its start) or lands whole in its own file.
TEST_F(AllCardLinks, CardReadsAndUploadsOnFourLinksAtOnce) {
    plug(2, 1);
    searchCycles(3);
    for (int i = 0; i < 16; ++i) board->card(2, 0).ram[0x40 + i] = uint8_t(0x30 + i);
    const Bytes ram(board->card(2, 0).ram.begin() + 0x40, board->card(2, 0).ram.begin() + 0x50);
    startLinks();
    constexpr int kRounds = 30, kUploads = 8;  // a file's write and sync takes far longer
    std::atomic<int> wrong{0}, lost{0}, uploads{0};
    const auto status = [](const Bytes& reply) { return reply.size() > 10 ? reply[10] : 0xEE; };
    const auto reads = [&](size_t l) {
        const uint16_t n = uint16_t(l + 1);
        for (int r = 0; r < kRounds; ++r) {
            const Bytes got = links[l]->ask(request(0, 3, 0x40, n), 1000);
            if (got.empty())
                ++lost;
            else if (got.size() != 18u + n ||
                     !std::equal(ram.begin(), ram.begin() + n, got.begin() + 18))
                ++wrong;
        }
    };
    const auto uploadsOn = [&](size_t l) {
        for (int r = 0; r < kUploads; ++r) {
            const std::string name = "l" + std::to_string(l) + ".b";
            const std::string data = name + " round " + std::to_string(r);
            Link& link = *links[l];
            // The other link's upload holds the start busy; one that never ends fails here.
            const auto end = std::chrono::steady_clock::now() + hangBound(std::chrono::seconds(30));
            uint8_t s;
            // bounded: end.
            while ((s = status(link.ask(fileStart("RCVR", uint32_t(data.size()), name)))) == 1 &&
                   std::chrono::steady_clock::now() < end) {
            }
            if (s == 1)
                ADD_FAILURE() << "link " << l << ", upload " << r
                              << ": the start still busy at the bound";
            if (s != 0 || status(link.ask(filePiece(data))) != 0 ||
                status(link.ask(fileEnd(data))) != 0) {
                ++wrong;
                continue;
            }
            ++uploads;
            if (readFile("/data/rcvrecovery/" + name) != data) ++wrong;
        }
    };
    std::vector<std::thread> pcs;
    pcs.emplace_back(reads, 0);
    pcs.emplace_back(uploadsOn, 1);
    pcs.emplace_back(reads, 2);
    pcs.emplace_back(uploadsOn, 3);
    for (std::thread& t : pcs) t.join();
    std::printf("mixed load: %d card answers or uploads wrong, %d card answers lost, %d uploads\n",
                wrong.load(), lost.load(), uploads.load());
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(uploads, 2 * kUploads);
}

// A TCP client that leaves while the cards have not answered its frame does not keep the
// other links from the cards.
TEST_F(AllCardLinks, AClientLeavingWhileItsCardFrameIsOutFreesTheCards) {
    plug(2, 1);
    plug(4, 1);
    searchCycles(3);
    board->card(2, 0).hold_replies = true;
    board->card(4, 0).ram[0x10] = 0x42;
    startLinks();
    const size_t before = sentOn(2).size();
    links[0]->send(wire(request(0, 3, 0x10, 1)));
    ASSERT_TRUE(eventually([&] { return sentOn(2).size() > before; }));
    // Reset, not closed: the box sees the socket fail at once, while the frame is out.
    const linger reset{1, 0};
    ::setsockopt(static_cast<TcpLink&>(*links[0]).fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    links[0].reset();
    for (size_t l = 1; l < links.size(); ++l) {
        SCOPED_TRACE(viaName({kVias[l], l}));
        const Bytes got = links[l]->ask(request(0, 5, 0x10, 1), 10000);  // a loaded machine
        ASSERT_EQ(got.size(), 19u);
        EXPECT_EQ(got[18], 0x42);
    }
}
