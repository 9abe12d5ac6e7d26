// PC frames passed through to the cards, to one port or to all ports, and the receive side's
// routing of what comes back: answers for the PC, acknowledgements and the answer buffer, and
// replies it must drop.
#include "cards_fixture.h"
#include "platform/clock.h"
#include "simctl/sim_control.h"

namespace {

uint16_t word(const Bytes& b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}
Bytes sealed(Bytes f) {
    uint8_t x = 0;
    for (uint8_t v : f) x ^= v;
    f.push_back(x);
    return f;
}
bool checkOk(const Bytes& f) {
    uint8_t x = 0;
    for (size_t i = 0; i + 1 < f.size(); ++i) x ^= f[i];
    return !f.empty() && x == f.back();
}
Bytes readCard(uint16_t dest, uint8_t port, uint32_t addr, uint16_t n, uint8_t mode = 1) {
    return cardFrame(dest, 0x67, mode, port, 0x61, cat({le32(addr), le16(n)}));
}

// A clock whose waits pass at once, for the life of the object.
struct FakeTime {
    FakeTime() { platform::installClock(std::make_unique<platform::FakeClock>()); }
    ~FakeTime() { platform::installClock(nullptr); }
};

class PassThrough : public CardsTest {
protected:
    void SetUp() override {
        CardsTest::SetUp();
        g_change[kSearchEnableWord] = 0;  // counts come from each test's own search
    }
    void searchNow() {
        g_change[kSearchEnableWord] = 15;
        searchCycles(3);
        g_change[kSearchEnableWord] = 0;
    }
};

}  // namespace

TEST_F(PassThrough, AFrameToOnePortIsAnsweredWithThePortNamedAsThePcCountsIt) {
    plug(2, 3);
    plug(12, 2);
    board->card(2, 1).ram[0x100] = 0xA5;  // needs escaping on the wire
    board->card(12, 0).ram[0x100] = 0x5A;
    struct Case {
        uint8_t port_byte;
        int port;
        uint16_t card;
        uint8_t value;
    };
    for (const Case& c : {Case{3, 2, 1, 0xA5}, Case{13, 12, 0, 0x5A}}) {
        SCOPED_TRACE("port byte " + std::to_string(c.port_byte));
        const Bytes answer = passThrough(readCard(c.card, c.port_byte, 0x100, 1));
        ASSERT_EQ(answer.size(), 20u);
        EXPECT_TRUE(checkOk(answer));
        EXPECT_EQ(word(answer, 0), 0xF010);
        EXPECT_EQ(word(answer, 2), c.card);  // the card's port bits cleared for the PC
        EXPECT_EQ(answer[7], c.port_byte);
        EXPECT_EQ(answer[18], c.value);
        // On the port the card address carries the port's bits.
        ASSERT_FALSE(sentOn(c.port).empty());
        EXPECT_EQ(word(sentOn(c.port).back(), 0), uint16_t((c.port % 10 & 3) << 12 | c.card));
        EXPECT_TRUE(checkOk(sentOn(c.port).back()));
    }
}

TEST_F(PassThrough, PortByteZeroGoesToBothFirstPortsAndComesBackNumbered) {
    plug(10, 1);  // FPGA 1 port 0; FPGA 0 port 0 has no link
    const Bytes answer = passThrough(readCard(0, 0, 0, 2, 0));
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer[7], 17);  // FPGA 1's ports count from 17
    EXPECT_TRUE(checkOk(answer));
    EXPECT_EQ(sentOn(0).size(), 1u);
    EXPECT_EQ(sentOn(10).size(), 1u);
}

TEST_F(PassThrough, ASearchFromThePcUpdatesThePortsCount) {
    plug(5, 4);
    const Bytes answer = passThrough(cardFrame(0x0FFE, 0xAA, 1, 6, 0x10, Bytes(20, 0)));
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(word(answer, 11), 4);
    EXPECT_EQ(mgr->get_port_card_num(5), 4);
    EXPECT_EQ(areaCount(5), 4);
}

TEST_F(PassThrough, AllPortsAnswerAsOneFrameOnlyWhenEveryPortWithCardsAnswered) {
    plug(0, 1);
    plug(1, 2);
    plug(14, 1);
    searchNow();
    for (uint16_t dest : {uint16_t(0x0FFF), uint16_t(0x0FFE)}) {
        SCOPED_TRACE(dest);
        const Bytes answer = passThrough(readCard(dest, 0xFF, 0, 4));
        ASSERT_FALSE(answer.empty());
        EXPECT_EQ(word(answer, 2), dest);
        EXPECT_EQ(answer[7], 0xFF);
        EXPECT_TRUE(checkOk(answer));
        EXPECT_EQ(mgr->multi_waiting, 0);
        for (int port : {0, 1, 14}) {
            ASSERT_FALSE(sentOn(port).empty());
            EXPECT_EQ(word(sentOn(port).back(), 0), uint16_t(dest | (port % 10 & 3) << 12));
        }
    }
}

TEST_F(PassThrough, ASilentPortOrAnUnexpectedAnswerForwardsNoPartialAnswer) {
    plug(0, 1);
    plug(1, 1);
    plug(14, 1);
    searchNow();
    board->card(14, 0).silent = true;
    EXPECT_TRUE(passThrough(readCard(0x0FFF, 0xFF, 0, 4)).empty());
    EXPECT_EQ(mgr->answered_ports, 0x3u);
    EXPECT_EQ(mgr->multi_waiting, 1);

    // Port 1's answer comes late, after its link (and so its count) went away: the answers
    // can no longer match the ports that should answer.
    board->card(14, 0).silent = false;
    board->card(1, 0).hold_replies = true;
    EXPECT_TRUE(passThrough(readCard(0x0FFF, 0xFF, 0, 4)).empty());
    board->setLink(1, false);
    runTicks(1);
    EXPECT_EQ(mgr->get_port_card_num(1), 0);
    board->releaseHeld();
    EXPECT_TRUE(pollAnswer().empty());

    // The next PC frame starts afresh.
    const Bytes single = passThrough(readCard(0, 15, 0, 1));
    EXPECT_FALSE(single.empty());
    EXPECT_EQ(mgr->multi_port_pass, 0);
}

// A port that answers a frame for all ports with another frame kind has not answered it: the
// combined answer waits for that port's own answer.
TEST_F(PassThrough, AnAnswerOfAnotherKindDoesNotCompleteTheAnswerOfAllPorts) {
    plug(0, 1);
    plug(1, 1);
    plug(14, 1);  // FPGA 1's port 4: pair 2, port bits 0
    searchNow();
    board->card(14, 0).hold_replies = true;
    EXPECT_TRUE(passThrough(readCard(0x0FFF, 0xFF, 0, 4), 3).empty());
    EXPECT_EQ(mgr->answered_ports, 0x3u);
    board->injectReply(1, 2,
                       sealed(cat({le16(0xF010),
                                   le16(0x0000),
                                   {0x10, 0x66, 1, 0xFF, 0, 0x61},
                                   le32(0),
                                   le16(4),
                                   {1, 2, 3, 4}})));
    EXPECT_TRUE(pollAnswer(5).empty());
    EXPECT_EQ(mgr->answered_ports, 0x3u);
    board->releaseHeld();
    const Bytes answer = pollAnswer();
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer[5], 0x67);
    EXPECT_EQ(answer[7], 0xFF);
}

TEST_F(PassThrough, ABadCheckByteIsForwardedButNeverCollected) {
    plug(0, 1);
    plug(1, 1);
    searchNow();
    board->card(1, 0).bad_check = true;
    const Bytes single = passThrough(readCard(0, 2, 0, 1));
    ASSERT_FALSE(single.empty());
    EXPECT_FALSE(checkOk(single));
    EXPECT_TRUE(passThrough(readCard(0x0FFF, 0xFF, 0, 1)).empty());
    EXPECT_EQ(mgr->answered_ports, 0x1u);
}

TEST_F(PassThrough, FramesOfBadLengthModeOrPortAreNotSent) {
    plug(0, 1);
    int rc = -1;
    const Bytes good = readCard(0, 1, 0, 1);
    EXPECT_TRUE(passThrough(Bytes(good.begin(), good.begin() + 10), 1, &rc).empty());
    EXPECT_EQ(rc, 0);  // shorter than a header and check byte: refused
    Bytes big = cardFrame(0, 0x67, 1, 1, 0x60, Bytes(1013, 0));
    EXPECT_EQ(big.size(), 1024u);
    passThrough(big, 1, &rc);
    EXPECT_EQ(rc, 0);  // longer than a transmit buffer: refused
    // Another mode, port byte FF in mode 0, port bytes past FPGA 1's port 10 (21..26 name
    // ports 11..16, which the board lacks), and port byte FF while the linked port has no
    // cards counted yet: sent nowhere, a result of their own, and nothing waits for an answer.
    std::vector<Bytes> nowhere = {readCard(0, 1, 0, 1, 2), readCard(0, 0xFF, 0, 1, 0)};
    for (int p : {21, 22, 23, 24, 25, 26, 27, 42, 43, 200, 254})
        for (uint8_t mode : {0, 1, 3, 0xFF}) nowhere.push_back(readCard(0, uint8_t(p), 0, 1, mode));
    for (uint8_t mode : {1, 3, 0xFF}) {
        nowhere.push_back(readCard(0x0FFF, 0xFF, 0, 1, mode));
        nowhere.push_back(readCard(0x0FFE, 0xFF, 0, 1, mode));
    }
    for (const Bytes& f : nowhere) {
        SCOPED_TRACE("mode " + std::to_string(f[6]) + ", port byte " + std::to_string(f[7]));
        EXPECT_TRUE(passThrough(f, 1, &rc).empty());
        EXPECT_EQ(rc, fpga_manage::kNotSentByRule);
        EXPECT_EQ(mgr->multi_waiting, 0);
    }
    {
        zem::MutexLocker lock(board->mutex);
        for (int f = 0; f < 2; ++f) EXPECT_TRUE(board->fpga[size_t(f)].sentFrames().empty()) << f;
    }
    // While an FPGA restarts its ports are not known: refused, as a frame for one of them is.
    mgr->reset_fpga_rst(1);
    passThrough(readCard(0x0FFF, 0xFF, 0, 1), 1, &rc);
    EXPECT_EQ(rc, 0);
}

TEST_F(PassThrough, RepliesThatNameNoPortOrAreCutShortAreDroppedAndCounted) {
    // Search replies for the PC: port byte 6 of FPGA 0 is port 5; 12 names none, nor do the
    // address bits 3 of pair 4 (port 11).
    const auto search = [](uint16_t source, uint8_t p) {
        return sealed(cat(
            {le16(0xF010), le16(source), {0x10, 0xAA, 0xFF, p, 0, 0x10, 0}, le16(9), {1, 0, 0}}));
    };
    board->setLink(5, true);                           // a port without link has its count cleared
    const Bytes ask = cardFrame(0, 0xAA, 1, 6, 0x10);  // the search of port 5 they answer
    armAnswer(ask);
    board->injectReply(0, 2, search(0x1000, 6));
    EXPECT_FALSE(pollAnswer().empty());
    EXPECT_EQ(mgr->get_port_card_num(5), 9);
    EXPECT_EQ(mgr->dropped_replies, 0u);
    armAnswer(ask);
    board->injectReply(0, 2, search(0x1000, 12));
    board->injectReply(0, 4, search(0x3000, 0));
    board->injectReply(0, 0, {1, 2, 3, 4, 5});  // shorter than a header
    EXPECT_TRUE(pollAnswer(10).empty());
    EXPECT_EQ(mgr->dropped_replies, 3u);
    EXPECT_EQ(board->fpga[0].reg(129) & 0x55, 0);  // every buffer released
    EXPECT_EQ(board->fpga[0].reg(145) & 0x01, 0);
}

TEST_F(PassThrough, RepliesToTheControllerAcknowledgeOrFillTheAnswerBuffer) {
    plug(3, 1);
    board->card(3, 0).bad_check = true;
    board->card(3, 0).ram[8] = 0x77;
    uint8_t f[32];
    g_send_para[6] = 0;
    mgr->save_para_cmd_create(f, 3);
    ASSERT_EQ(mgr->Send_to_port(f, 13, 3, 0), 0);
    EXPECT_TRUE(pollAnswer(3).empty());
    EXPECT_EQ(g_send_para[6], 1);  // acknowledged even with a wrong check byte

    const Bytes read =
        sealed(cat({le16(0x3000), le16(0xF000), {0x10, 0x66, 1, 4, 0, 0x61}, le32(8), le16(1)}));
    g_send_para[6] = 0;
    ASSERT_EQ(mgr->Send_to_port(read.data(), uint32_t(read.size()), 3, 0), 0);
    EXPECT_TRUE(pollAnswer(3).empty());
    EXPECT_EQ(mgr->answer_flag, 1);
    EXPECT_EQ(mgr->answer_buffer[0], 0x61);       // frame byte 9 on
    EXPECT_EQ(mgr->answer_buffer[18 - 9], 0x77);  // the byte read
    EXPECT_EQ(g_send_para[6], 0);                 // kind 0x66 is no acknowledgement
}

// An answer goes only to the frame it belongs to: one that comes after its frame was given up
// (here: the next frame was refused) reaches nobody and is counted.
TEST_F(PassThrough, AnAnswerNobodyWaitsForIsDroppedAndCounted) {
    plug(2, 1);
    searchNow();
    board->card(2, 0).hold_replies = true;
    EXPECT_TRUE(passThrough(readCard(0, 3, 0, 1), 3).empty());
    int rc = -1;
    EXPECT_TRUE(passThrough(cardFrame(0, 0x67, 1, 3, 0x60, Bytes(1013, 0)), 1, &rc).empty());
    EXPECT_EQ(rc, 0);
    board->releaseHeld();
    EXPECT_TRUE(pollAnswer().empty());
    EXPECT_EQ(mgr->unclaimed_answers, 1u);
    EXPECT_EQ(mgr->answer_ready, 0);
    // The card still answers the next frame, to its asker.
    board->card(2, 0).hold_replies = false;
    EXPECT_FALSE(passThrough(readCard(0, 3, 0, 1)).empty());
    EXPECT_EQ(mgr->unclaimed_answers, 1u);
}

// While a frame waits, an answer from another port, another card or to another command is not
// its answer: dropped and counted, and the frame still gets its own.
TEST_F(PassThrough, AnswersFromAnotherPortCardOrCommandAreDroppedAndCounted) {
    plug(4, 2);
    plug(5, 2);
    searchNow();
    board->card(4, 1).hold_replies = true;
    board->card(4, 1).ram[0x30] = 0x66;
    EXPECT_TRUE(passThrough(readCard(1, 5, 0x30, 1), 3).empty());  // card 1 of port 4
    // Ports 4 and 5 are pair 2; their cards' address bits are 0 and 1.
    const auto reply = [](uint16_t source, uint8_t p, uint8_t cmd) {
        return sealed(cat({le16(0xF010),
                           le16(source),
                           {0x10, 0x67, 1, p, 0, cmd},
                           le32(0x30),
                           le16(1),
                           {0, 0, 0x99}}));
    };
    struct Case {
        const char* name;
        int fpga;
        Bytes frame;
    };
    const Case cases[] = {
        {"the other port of the pair", 0, reply(0x1001, 6, 0x61)},
        {"the same port of the other FPGA", 1, reply(0x0001, 5, 0x61)},
        {"another card of the port", 0, reply(0x0000, 5, 0x61)},
        {"another command", 0, reply(0x0001, 5, 0x60)},
    };
    uint32_t dropped = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        board->injectReply(c.fpga, 2, c.frame);
        EXPECT_TRUE(pollAnswer(5).empty());
        EXPECT_EQ(mgr->unmatched_answers, ++dropped);
    }
    board->releaseHeld();
    const Bytes own = pollAnswer();
    ASSERT_EQ(own.size(), 20u);
    EXPECT_EQ(own[18], 0x66);
    EXPECT_EQ(mgr->unmatched_answers, dropped);
    // The count as a test jig reads it on the control channel.
    const std::string status = sim_control::pInstance()->execute("status");
    EXPECT_NE(status.find(" late, 4 not matching\n"), std::string::npos) << status;
    sim_control::shutdown();
}

// An FPGA in its reset pulse, or brought up again after it, takes no PC frame: the frame is
// refused at once, and goes out again once the FPGA runs.
TEST_F(PassThrough, AFrameForAnFpgaInResetIsRefusedAtOnce) {
    plug(12, 1);
    searchNow();
    const FakeTime fake;  // a send bound passes at once
    const size_t before = sentOn(12).size();
    mgr->reset_fpga_rst(1);
    int rc = -1;
    EXPECT_TRUE(passThrough(readCard(0, 13, 0, 1), 3, &rc).empty());
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(mgr->send_failures, 0u);  // not left to wait out the send bound
    EXPECT_EQ(sentOn(12).size(), before);
    ASSERT_TRUE(runUntil([this] { return !mgr->rst_active[1] && mgr->get_fpga_status() == 1; }));
    EXPECT_FALSE(passThrough(readCard(0, 13, 0, 1), 20, &rc).empty());
    EXPECT_EQ(rc, 1);
}
