// The simulated shell: commands are recorded and answered, file effects stay in the root.
#include <filesystem>

#include "core/utils.h"
#include "platform/serial_port.h"
#include "platform/spi_bus.h"
#include "sim_fixture.h"

namespace {

class ShellSeamTest : public SimBoxTest {};

TEST_F(ShellSeamTest, RecordsCommandsInOrderAndLogsThemUnderTheRoot) {
    auto& sh = platform::shell();
    EXPECT_EQ(sh.run("reboot"), 0);
    EXPECT_EQ(sh.run("ifconfig eth0 192.168.1.5 netmask 255.255.255.0"), 0);
    const std::vector<std::string> expected{"reboot",
                                            "ifconfig eth0 192.168.1.5 netmask 255.255.255.0"};
    EXPECT_EQ(commands(), expected);
    EXPECT_EQ(readFile("/sim/shell.log"),
              "reboot\nifconfig eth0 192.168.1.5 netmask 255.255.255.0\n");
}

TEST_F(ShellSeamTest, AnswersWithTheLongestMatchingPrefix) {
    shell().answer("ifconfig", 0, "generic");
    shell().answer("ifconfig eth0", 1, "eth0: error fetching interface information\n");
    std::string out;
    EXPECT_EQ(platform::shell().capture("ifconfig eth0 >/dev/null 2>&1", out), 1 << 8);
    EXPECT_EQ(out, "eth0: error fetching interface information\n");
    EXPECT_EQ(platform::shell().capture("ifconfig wlan0", out), 0);
    EXPECT_EQ(out, "generic");
}

TEST_F(ShellSeamTest, CarriesOutFileCommandsInsideTheRootOnly) {
    writeFile("/data/a.txt", "hello");
    auto& sh = platform::shell();
    EXPECT_EQ(sh.run("cp /data/a.txt /data/b.txt"), 0);
    EXPECT_EQ(readFile("/data/b.txt"), "hello");
    EXPECT_EQ(sh.run("mv /data/b.txt /data/c.txt"), 0);
    EXPECT_FALSE(exists("/data/b.txt"));
    EXPECT_EQ(readFile("/data/c.txt"), "hello");
    EXPECT_EQ(sh.run("rm  -rf  /data/c.txt"), 0);
    EXPECT_FALSE(exists("/data/c.txt"));
    // A path that climbs out of the root is refused, and nothing outside is touched.
    EXPECT_NE(sh.run("rm -rf /data/../../etc"), 0);
    EXPECT_TRUE(std::filesystem::exists(root_));
}

TEST_F(ShellSeamTest, PathsResolveUnderTheRoot) {
    EXPECT_EQ(platform::path("/data/ram_device_info"), root_ + "/data/ram_device_info");
    EXPECT_EQ(platform::path("relative"), "relative");
}

TEST_F(ShellSeamTest, SocWindowRecordsWritesAndHoldsTheIdentityWords) {
    std::unique_ptr<platform::SocWindow> win;
    ASSERT_EQ(platform::openSocWindow(platform::SocWindowKind::Identity, win), 0);
    EXPECT_EQ(win->read16(0x4058), 0x1234);
    win->write16(0x400C, 0);
    ASSERT_EQ(box().soc.writes().size(), 1u);
    EXPECT_EQ(box().soc.writes()[0].offset, 0x400Cu);
    box().soc.identity_open_error = -ENOENT;
    EXPECT_EQ(platform::openSocWindow(platform::SocWindowKind::Identity, win), -ENOENT);
}

}  // namespace

TEST(BeforeABoxIsChosen, NoCommandRunsAndNoDeviceOpens) {
    // No fixture: nothing has chosen a back end in this process (ctest runs each case alone).
    if (!platform::root().empty()) GTEST_SKIP() << "a simulated box was chosen earlier";
    std::string out = "stale";
    EXPECT_EQ(platform::shell().run("touch /tmp/zem-must-not-exist"), -1);
    EXPECT_EQ(platform::shell().capture("echo hi", out), -1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Utils::system_mutex("reboot"), 255);
    EXPECT_FALSE(std::filesystem::exists("/tmp/zem-must-not-exist"));
    std::unique_ptr<platform::SpiBus> spi;
    EXPECT_EQ(platform::openSpiBus("/dev/spidev32766.0", 10000000, spi), -ENODEV);
    std::unique_ptr<platform::SocWindow> soc;
    EXPECT_EQ(platform::openSocWindow(platform::SocWindowKind::Pads, soc), -ENODEV);
    platform::SerialPort port;
    EXPECT_EQ(port.open("/dev/ttyS2", 115200), -ENODEV);
}
