// The TCP server's clients: 64 PCs are served at once, the next is refused (closed at once and
// counted), and a place that frees up is taken by the next PC. Each PC gets its replies in the
// order of its requests, while the others are served beside it.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/comm_hooks.h"
#include "comm/network_manage.h"
#include "comm_fixture.h"

namespace {

class TcpClients : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        tcp = networkManage::pInstance();
    }
    // A new PC and whether the box answers its device-information request.
    bool served(std::vector<std::unique_ptr<TcpLink>>& pcs) {
        pcs.push_back(std::make_unique<TcpLink>(tcp->port));
        return !pcs.back()->ask(body(0x90, {})).empty();
    }
    networkManage* tcp = nullptr;
};

TEST_F(TcpClients, TheClientPastTheLimitIsRefusedAndAFreedPlaceIsTaken) {
    std::vector<std::unique_ptr<TcpLink>> pcs;
    for (size_t i = 0; i < networkManage::kMaxClients; ++i) ASSERT_TRUE(served(pcs)) << i;
    EXPECT_EQ(tcp->clients.load(), networkManage::kMaxClients);
    EXPECT_FALSE(served(pcs));
    EXPECT_EQ(tcp->refused.load(), 1u);
    EXPECT_EQ(tcp->clients.load(), networkManage::kMaxClients);
    // The first PCs are still served, then one leaves and a new one is.
    EXPECT_FALSE(pcs.front()->ask(body(0x90, {})).empty());
    pcs.erase(pcs.begin());
    pcs.pop_back();  // the refused one
    ASSERT_TRUE(eventually([&] { return tcp->clients == networkManage::kMaxClients - 1; }));
    EXPECT_TRUE(served(pcs));
    EXPECT_EQ(tcp->refused.load(), 1u);
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
        h.pc_to_eth = [this](uint32_t n, uint8_t* f, comm_hooks::AnswerFn answer) {
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
    std::mutex irq;
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
