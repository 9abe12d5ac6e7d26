// The XOR check byte, tick spans and shell commands.
#include "core/utils.h"

#include <gtest/gtest.h>

#include "core/globals.h"
#include "sim_fixture.h"

namespace {

TEST(Bcc, XorOfTheBytes) {
    const uint8_t three[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(Utils::BCC(three, 3), 0);
    EXPECT_EQ(Utils::BCC(three, 0), 0);
    EXPECT_EQ(Utils::BCC(nullptr, 0), 0);
    const uint8_t frame[] = {0xF1, 0x00, 0x10, 0xF0, 0x02, 0x00, 0x60};
    EXPECT_EQ(Utils::BCC(frame, sizeof frame), 0xF1 ^ 0x10 ^ 0xF0 ^ 0x02 ^ 0x60);
    EXPECT_EQ(Utils::BCC(frame, 1), 0xF1);
}

TEST(TimeSpace, ElapsedTicksAndTheWrap) {
    G_timeTicks = 150;
    EXPECT_EQ(Utils::getTimeSpace(100), 50u);
    EXPECT_EQ(Utils::getTimeSpace(150), 0u);
    G_timeTicks = 50;
    EXPECT_EQ(Utils::getTimeSpace(100), 0xFFFFFFCDu);  // modular difference minus one
    G_timeTicks = 2;
    EXPECT_EQ(Utils::getTimeSpace(0xFFFFFFFEu), 3u);
    G_timeTicks = 0xFFFFFFFFu;
    EXPECT_EQ(Utils::getTimeSpace(0), 0xFFFFFFFFu);
    G_timeTicks = 0;
}

class SystemMutexTest : public SimBoxTest {};

TEST_F(SystemMutexTest, ExitStatusOneGives255AndTheRawStatus) {
    shell().answer("/data/app/check", 1);
    int status = -7;
    EXPECT_EQ(Utils::system_mutex("/data/app/check", &status), 255);
    EXPECT_EQ(status, 256);
    EXPECT_EQ(Utils::system_mutex("sync", &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Utils::system_mutex("sync"), 0);  // no status wanted
}

// The box's own shell gives the same raw status; "exit 1" changes nothing on this machine.
TEST_F(SystemMutexTest, TheRealShellGivesTheSameRawStatus) {
    platform::selectLinux();
    int status = 0;
    EXPECT_EQ(Utils::system_mutex("exit 1", &status), 255);
    EXPECT_EQ(status, 256);
    EXPECT_EQ(Utils::system_mutex("exit 0", &status), 0);
    EXPECT_EQ(Utils::shell_exec("echo hello; echo there", 4), "hello\nthere\n");
    platform::selectSimulated(root_);
}

TEST_F(SystemMutexTest, ShellExecReturnsWhatTheCommandPrints) {
    shell().answer("ifconfig eth0", 0, "eth0 Link encap:Ethernet  HWaddr 00:11:22:33:44:55\n");
    EXPECT_EQ(Utils::shell_exec("ifconfig eth0", 100),
              "eth0 Link encap:Ethernet  HWaddr 00:11:22:33:44:55\n");
    EXPECT_EQ(Utils::shell_exec(nullptr, 100), "");
    EXPECT_EQ(commands().back(), "ifconfig eth0");
}

}  // namespace
