// The seams' safety: file commands stay in the root, nothing runs before a box is chosen, and
// the box's flash back end refuses what is not flash.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "core/utils.h"
#include "platform/mtd.h"
#include "platform/serial_port.h"
#include "platform/spi_bus.h"
#include "sim_fixture.h"

namespace {

class ShellSeamTest : public SimBoxTest {};

// What the program's own tests rely on: file commands act inside the root and nowhere else.
TEST_F(ShellSeamTest, CarriesOutFileCommandsInsideTheRootOnly) {
    writeFile("/data/a.txt", "hello");
    auto& sh = platform::shell();
    EXPECT_EQ(sh.run("mv /data/a.txt /data/c.txt"), 0);
    EXPECT_EQ(readFile("/data/c.txt"), "hello");
    EXPECT_EQ(readFile("/sim/shell.log"), "mv /data/a.txt /data/c.txt\n");
    EXPECT_NE(sh.run("rm -rf /data/../../etc"), 0);
    EXPECT_TRUE(std::filesystem::exists(root_));
}

// On the box the back end is the kernel's device; a plain file stands in for one that is not
// an MTD device, which must not pass for flash.
TEST(LinuxMtd, ANonFlashDescriptorHasNoDeviceInformation) {
    const std::string dir = makeTempDir("mtd");
    ASSERT_FALSE(dir.empty());
    const std::string file = dir + "/not-flash";
    ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0644));
    platform::selectLinux();
    platform::MtdPartition p;
    ASSERT_EQ(p.open(file), 0);
    platform::MtdInfo info;
    EXPECT_LT(p.info(info), 0);
    EXPECT_LT(p.erase(0, 0x20000), 0);
    EXPECT_EQ(p.pwrite("ab", 2, 0), 2);
    removeTree(dir);
}

}  // namespace

TEST(BeforeABoxIsChosen, NoCommandRunsAndNoDeviceOpens) {
    // No fixture: nothing has chosen a back end in this process (ctest runs each case alone).
    // Run whole, an earlier case may have chosen one, even the box's own (whose shell is real).
    if (platform::backend() != platform::Backend::Unselected)
        GTEST_SKIP() << "a back end was chosen earlier in this process";
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
