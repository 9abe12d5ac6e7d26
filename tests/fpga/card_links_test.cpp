// A PC talking to the receiving cards through each transport of the box: a frame to one card,
// a frame to all ports, and the total card count at 0xA000007C.
#include <memory>
#include <mutex>

#include "box_links.h"
#include "cards_fixture.h"
#include "comm/comm_hooks.h"
#include "core/config_engine.h"

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
        std::lock_guard<std::mutex> lock(mgr->irq_mutex);  // the link thread's collection lock
        EXPECT_EQ(mgr->answered_ports, 0u);                // it ended with the answer
    }

    // The link still answers the box's own commands.
    const Bytes total = link->ask(readRam(0xA000007C, 4));
    ASSERT_EQ(total.size(), 15u);
    EXPECT_EQ(total[10], 0);
    EXPECT_EQ(total[11], 5);
}

INSTANTIATE_TEST_SUITE_P(Transports, CardLinks, ::testing::Values(Via::Tcp, Via::Udp, Via::Pty),
                         viaName);
