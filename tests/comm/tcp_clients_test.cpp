// The TCP server's client limit: 64 PCs are served at once, the next is refused (closed at
// once and counted), and a place that frees up is taken by the next PC.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

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

}  // namespace
