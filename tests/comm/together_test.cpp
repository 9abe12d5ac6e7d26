// Links used at the same time: one PC changes the box's identity or settings on one link while
// another reads them on a second link. Every answer must be whole and the box must live.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "comm/network_manage.h"
#include "comm/udpnet_manage.h"
#include "comm_fixture.h"
#include "core/globals.h"

namespace {

// A network set-up request: address, netmask, gateway and TCP port, each ended by a zero byte
// but the last.
Bytes netSet(const std::string& ip, const std::string& port) {
    const std::string fields[] = {ip, "255.255.0.0", "10.0.0.1", port};
    Bytes data;
    for (const std::string& f : fields) {
        if (!data.empty()) data.push_back(0);
        data.insert(data.end(), f.begin(), f.end());
    }
    return body(0x91, data);
}

// Fields of a device-information reply: the TCP port at 43, the MAC text at 47, the barcode's
// length at 65 and its text after it.
std::string macOf(const Bytes& reply) {
    if (reply.size() < 64) return "?";
    return std::string(reply.begin() + 47, reply.begin() + 64);
}
std::string portOf(const Bytes& reply) {
    if (reply.size() < 47) return "?";
    return std::to_string(reply[43] | reply[44] << 8 | reply[45] << 16 | reply[46] << 24);
}
std::string barcodeOf(const Bytes& reply) {
    if (reply.size() < 66 || reply.size() < 66u + reply[65]) return "?";
    return std::string(reply.begin() + 66, reply.begin() + 66 + reply[65]);
}

// A change sent over and over, alternating between two values, while another link reads.
struct Race {
    const char* name;
    Bytes first, second;                             // the two changes
    std::function<std::string(const Bytes&)> field;  // what a device-information reply shows
    std::set<std::string> allowed;                   // the field as either change leaves it
};

class LinksTogether : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        udpnetManage::udp_port_setting = 0;
        udpnetManage::wifi_port_setting = 0;
        tcp = networkManage::pInstance();
        udp = udpnetManage::pInstance();
    }
    // Sends the two changes in turn over UDP while TCP reads the device information, until both
    // made 50 (counts, not a time: a busy machine makes fewer a second); the readings that were
    // neither value.
    std::vector<std::string> run(const Race& race) {
        std::atomic<bool> stop{false};
        std::atomic<int> changes{0};
        UdpLink pc(udp->port);
        EXPECT_FALSE(pc.ask(race.first).empty());
        std::thread writer([&] {
            // bounded: the reads below end it, each change a bounded ask.
            for (int i = 1; !stop; ++i, ++changes) pc.ask(i % 2 ? race.second : race.first, 500);
        });
        TcpLink reader(tcp->port);
        std::vector<std::string> odd;
        for (int n = 0; n < 50 || changes < 50; ++n) {
            const std::string got = race.field(reader.ask(body(0x90, {})));
            if (!race.allowed.count(got)) odd.push_back(got);
        }
        stop = true;
        writer.join();
        return odd;
    }

    networkManage* tcp = nullptr;
    udpnetManage* udp = nullptr;
};

}  // namespace

TEST_F(LinksTogether, IdentityChangedOnOneLinkWhileAnotherReadsIt) {
    const std::string shortCode = "A", longCode(60, 'L');
    const Race races[] = {
        {"barcode",
         body(0x94, text(shortCode)),
         body(0x94, text(longCode)),
         barcodeOf,
         {shortCode, longCode}},
        {"MAC",
         body(0x92, text("00:11:22:33:44:55")),
         body(0x92, text("66:77:88:99:AA:BB")),
         macOf,
         {"00:11:22:33:44:55", "66:77:88:99:AA:BB"}},
        {"network",
         netSet("10.0.0.5", "5005"),
         netSet("10.0.0.6", "6006"),
         portOf,
         {"5005", "6006"}},
    };
    for (const Race& race : races) {
        SCOPED_TRACE(race.name);
        const std::vector<std::string> odd = run(race);
        EXPECT_TRUE(odd.empty()) << odd.size() << " torn readings, first " << odd.front();
    }
}
