// eth0 set-up: the exact commands, in order, and the refusal of anything but an address.
#include <gtest/gtest.h>

#include "core/globals.h"
#include "core/utils.h"
#include "core_fixture.h"

namespace {

const char* kProbe = "ifconfig eth0 >/dev/null 2>&1";

std::vector<std::string> setUpCommands(const char* ip, const char* mask, const char* gw) {
    return {kProbe,
            "route del default wlan0",
            std::string("ifconfig eth0 ") + ip + " netmask " + mask,
            std::string("route add -host ") + gw + " dev eth0",
            std::string("route add default gw ") + gw + " metric 100",
            "route add -host 255.255.255.255 eth0",
            "route del 255.255.255.255 wlan1"};
}

class NetworkSetupTest : public CoreTest {};

TEST_F(NetworkSetupTest, ExplicitAddressRunsTheCommandsInOrder) {
    EXPECT_EQ(Utils::init_resteth("192.168.1.50", "192.168.1.1", "255.255.255.0"), 0);
    EXPECT_EQ(commands(), setUpCommands("192.168.1.50", "255.255.255.0", "192.168.1.1"));
    // The extremes of each number are addresses too.
    shell().clear();
    EXPECT_EQ(Utils::init_resteth("0.0.0.0", "255.255.255.255", "0.0.0.0"), 0);
    EXPECT_EQ(commands(), setUpCommands("0.0.0.0", "0.0.0.0", "255.255.255.255"));
}

TEST_F(NetworkSetupTest, ConfiguredAddressIsReloadedAndApplied) {
    auto* c = freshConfig();
    c->write_config_variant(ConfigItem::IPAddress, QString("10.1.2.3"));
    c->write_config_variant(ConfigItem::SubNetMask, QString("255.255.0.0"));
    c->write_config_variant(ConfigItem::GateWay, QString("10.1.0.1"));
    shell().clear();
    EXPECT_EQ(Utils::initIPAddress(), 0);
    EXPECT_EQ(commands(), setUpCommands("10.1.2.3", "255.255.0.0", "10.1.0.1"));
    EXPECT_EQ(g_str_ip, "10.1.2.3");
    EXPECT_EQ(g_srt_mask, "255.255.0.0");
    EXPECT_EQ(g_str_gateway, "10.1.0.1");
}

TEST_F(NetworkSetupTest, WithoutEth0OnlyTheProbeRuns) {
    freshConfig();
    shell().clear();
    shell().answer(kProbe, 1);
    EXPECT_EQ(Utils::initIPAddress(), 255);
    EXPECT_EQ(Utils::init_resteth("192.168.1.50", "192.168.1.1", "255.255.255.0"), 255);
    EXPECT_EQ(commands(), (std::vector<std::string>{kProbe, kProbe}));
}

// Texts that reach a root shell: each refused before anything runs, in every position.
const char* const kBadAddresses[] = {
    "",
    "192.168.1",
    "192.168.1.1.1",
    "192.168.1.256",
    "192.168.01.1",
    "192.168.1.-1",
    "+192.168.1.1",
    " 192.168.1.1",
    "192.168.1.1 ",
    "192.168..1",
    "1234.1.1.1",
    "a.b.c.d",
    "0x7f.0.0.1",
    "192.168.1.1;reboot",
    "192.168.1.1 && rm -rf /",
    "$(reboot)",
    "`reboot`",
    "192.168.1.1\n",
    "１.2.3.4",
};

TEST_F(NetworkSetupTest, AnythingButADottedAddressIsRefusedAndNothingRuns) {
    for (const char* bad : kBadAddresses) {
        const QString b = QString::fromUtf8(bad);
        EXPECT_EQ(Utils::init_resteth(b, "192.168.1.1", "255.255.255.0"), 255) << bad;
        EXPECT_EQ(Utils::init_resteth("192.168.1.50", b, "255.255.255.0"), 255) << bad;
        EXPECT_EQ(Utils::init_resteth("192.168.1.50", "192.168.1.1", b), 255) << bad;
    }
    EXPECT_TRUE(commands().empty());
}

TEST_F(NetworkSetupTest, ABadConfiguredAddressIsRefusedToo) {
    auto* c = freshConfig();
    c->write_config_variant(ConfigItem::GateWay, QString("192.168.1.1; reboot"));
    shell().clear();
    EXPECT_EQ(Utils::initIPAddress(), 255);
    EXPECT_TRUE(commands().empty());
}

}  // namespace
