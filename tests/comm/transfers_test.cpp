// File transfers over the four links at once, and a second UDP peer: a transfer belongs to the
// link that started it, and every end closes it.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "box_links.h"
#include "comm/udpnet_manage.h"
#include "comm_fixture.h"
#include "platform/clock.h"
#include "transfer_frames.h"

namespace {

constexpr Via kVias[4] = {Via::Tcp, Via::Udp, Via::Pty, Via::Pty4G};

class Transfers : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        platform::installClock(std::make_unique<platform::FakeClock>(clock));  // before the links
        for (Via via : kVias) links.push_back(startBoxLink(via));
        // Another PC on UDP, next to the first: a link of its own.
        links.insert(links.begin() + 2,
                     std::make_unique<UdpLink>(udpnetManage::p_udpnetManage->port));
    }
    void TearDown() override {
        links.clear();
        stopBoxLinks();
        CommTest::TearDown();
    }
    // The status a link gets for a request; 0xEE for no reply.
    uint8_t status(size_t link, const Bytes& request) {
        const Bytes reply = links[link]->ask(request);
        return reply.size() > 10 ? reply[10] : 0xEE;
    }
    void removeFile(const std::string& absolute) { std::remove(local(absolute).c_str()); }
    static std::string name(size_t link) {
        static const char* const kNames[] = {"Tcp", "Udp", "Udp peer 2", "Pty", "Pty4G"};
        return kNames[link];
    }

    platform::FakeClock clock;
    std::vector<std::unique_ptr<Link>> links;
};

}  // namespace

// Each link in turn owns a transfer while the next one tries to start, send and end its own.
TEST_F(Transfers, AnotherLinksStartDataAndEndGetBusyAndChangeNothing) {
    for (size_t owner = 0; owner < links.size(); ++owner) {
        const size_t other = (owner + 1) % links.size();
        SCOPED_TRACE(name(owner) + " owns, " + name(other) + " intrudes");
        removeFile("/data/configs/alias.json");
        const std::string card = "u" + std::to_string(owner) + ".b";
        ASSERT_EQ(status(owner, start("ALIS", 3)), 0);
        EXPECT_EQ(status(other, start("RCVR", 3, card)), 1);
        EXPECT_EQ(status(other, piece(0, "zz")), 1);
        EXPECT_EQ(status(owner, piece(0, "ab")), 0);
        EXPECT_EQ(status(other, end(kMd5Abc)), 1);
        EXPECT_EQ(status(owner, piece(2, "c")), 0);
        EXPECT_EQ(status(owner, end(kMd5Abc)), 0);
        EXPECT_EQ(readFile("/data/configs/alias.json"), "abc");
        EXPECT_FALSE(exists("/data/rcvrecovery/" + card));
        // Once the owner ended it, the other link starts its own.
        EXPECT_EQ(status(other, start("RCVR", 3, card)), 0);
        EXPECT_EQ(status(other, end(Bytes(16, 0))), 1);
    }
}

TEST_F(Transfers, ANewStartFromTheOwnerReplacesItsOwnTransfer) {
    for (size_t owner = 0; owner < links.size(); ++owner) {
        SCOPED_TRACE(name(owner));
        removeFile("/data/configs/alias.json");
        removeFile("/data/configs/omenu.json");
        ASSERT_EQ(status(owner, start("ALIS", 3)), 0);
        EXPECT_EQ(status(owner, piece(0, "xy")), 0);
        ASSERT_EQ(status(owner, start("OSDS", 3)), 0);
        EXPECT_EQ(status(owner, piece(0, "abc")), 0);
        EXPECT_EQ(status(owner, end(kMd5Abc)), 0);
        EXPECT_EQ(readFile("/data/configs/omenu.json"), "abc");
        EXPECT_FALSE(exists("/data/configs/alias.json"));
    }
}

// A short digest answers 3 and closes the transfer: its data is refused after it, and another
// link may start.
TEST_F(Transfers, AnEndWithAShortDigestClosesTheTransfer) {
    for (size_t owner = 0; owner < links.size(); ++owner) {
        const size_t other = (owner + 1) % links.size();
        SCOPED_TRACE(name(owner));
        removeFile("/data/configs/alias.json");
        ASSERT_EQ(status(owner, start("ALIS", 3)), 0);
        EXPECT_EQ(status(owner, piece(0, "abc")), 0);
        EXPECT_EQ(status(owner, end(Bytes(kMd5Abc.begin(), kMd5Abc.begin() + 8))), 3);
        EXPECT_EQ(status(owner, piece(0, "abc")), 1);
        EXPECT_EQ(status(owner, end(kMd5Abc)), 1);
        EXPECT_FALSE(exists("/data/configs/alias.json"));
        ASSERT_EQ(status(other, start("OSDS", 3)), 0);
        EXPECT_EQ(status(other, end(Bytes(3, 0))), 3);
    }
}

// A transfer its link left unfinished does not keep the box from taking files for ever.
TEST_F(Transfers, AnAbandonedTransferGivesWayToAnotherLink) {
    ASSERT_EQ(status(0, start("ALIS", 3)), 0);
    EXPECT_EQ(status(0, piece(0, "ab")), 0);
    clock.advance(5'000'000);
    EXPECT_EQ(status(1, start("OSDS", 3)), 1);  // still in progress
    clock.advance(6'000'000);
    ASSERT_EQ(status(1, start("OSDS", 3)), 0);  // idle for over 10 s: taken over
    EXPECT_EQ(status(0, piece(2, "c")), 1);
    EXPECT_EQ(status(1, piece(0, "abc")), 0);
    EXPECT_EQ(status(1, end(kMd5Abc)), 0);
    EXPECT_EQ(readFile("/data/configs/omenu.json"), "abc");
    EXPECT_FALSE(exists("/data/configs/alias.json"));
}
