// The program as a person starts it on the simulated box: it comes up in its own process, lights
// the screen for the simulated HDMI1 input, and a PC on TCP reads its identity, writes a
// parameter, has it applied and finds it saved.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "pc_link.h"
#include "program_fixture.h"

namespace {

using std::chrono::seconds;

TEST_F(Program, StartsLightsTheScreenAndServesThePc) {
    const std::unique_ptr<TcpLink> pc = connectPc(seconds(60));
    ASSERT_TRUE(pc) << console();
    ASSERT_TRUE(running());

    // The line scripts/run-sim.sh prints when the box is up says where it listens.
    const std::string ready = readyLine();
    for (const std::string& part :
         {"TCP 127.0.0.1:" + std::to_string(port_), std::string("serial /dev/ttyS1 at /dev/pts/"),
          ", root " + root_})
        EXPECT_NE(ready.find(part), std::string::npos) << part << " not in: " << ready;

    // Its identity: the device id derived from the simulated SoC's identification words.
    const Bytes info = pc->ask(body(0x90, {}));
    ASSERT_EQ(status(info), 0);
    ASSERT_GE(info.size(), 43u);
    EXPECT_EQ(std::string(info.begin() + 11, info.begin() + 43),
              "1597bca0886b31023001305032627494");

    // The HDMI1 input's timing reaches the parameter RAM once the video path is stable, and both
    // FPGAs light the screen.
    const Bytes hdmi1 = cat({le16(1920), le16(1080), le16(60)});
    EXPECT_TRUE(eventually(
        [&] {
            const Bytes r = pc->ask(readRam(256 + 6 * 2, 6));
            return status(r) == 0 && Bytes(r.begin() + 11, r.end()) == hdmi1;
        },
        seconds(60)));
    EXPECT_TRUE(eventually(
        [&] {
            const std::string c = console();
            return c.find("fpga0 start to light on") != std::string::npos &&
                   c.find("fpga1 start to light on") != std::string::npos;
        },
        seconds(30)))
        << console();

    // A parameter written by the PC and applied through register 11 is saved to the file.
    ASSERT_EQ(status(pc->ask(writeRam(2176, {37, 0}))), 0);
    ASSERT_EQ(status(pc->ask(writeReg(11, 0xFF, {0}))), 0);
    const std::string file = root_ + "/data/ram_device_info";
    EXPECT_TRUE(eventually(
        [&] {
            const std::string bytes = slurp(file);
            return bytes.size() >= 3330 && uint8_t(bytes[2 + 2176 - 768]) == 37;
        },
        seconds(20)));
    EXPECT_TRUE(running());
}

// The box's port stays held for it while it is down, as from its start: no other socket of this
// machine is given it meanwhile, so a PC connects to this box, not to the server of a test run
// beside whose bind to port 0 was handed the port. A bind to it without SO_REUSEADDR stands for
// theirs: both are refused a port in use.
TEST_F(Program, ItsPortGoesToNoOtherSocketWhileItIsDown) {
    ASSERT_NE(readyLine().find("TCP 127.0.0.1:" + std::to_string(port_)), std::string::npos)
        << readyLine();
    stop(SIGKILL);
    const int other = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(other, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int err = ::bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : errno;
    ::close(other);
    EXPECT_EQ(err, EADDRINUSE) << "port " << port_ << ": "
                               << (err ? std::strerror(err) : "given to another socket");
    start();
    const std::unique_ptr<TcpLink> pc = connectPc(seconds(60));
    ASSERT_TRUE(pc) << console();
    EXPECT_EQ(status(pc->ask(body(0x90, {}))), 0) << console();
}

// With ZEM_SIM_PORT_OFFSET exported for a second box, as a person running two does, the tests'
// boxes still listen on the ports they were given.
class ProgramWithAPortOffsetExported : public Program {
protected:
    void SetUp() override {
        ::setenv("ZEM_SIM_PORT_OFFSET", "100", 1);
        Program::SetUp();
    }
    void TearDown() override {
        Program::TearDown();
        ::unsetenv("ZEM_SIM_PORT_OFFSET");
    }
};

TEST_F(ProgramWithAPortOffsetExported, ServesThePcOnItsOwnPort) {
    const std::unique_ptr<TcpLink> pc = connectPc(seconds(60));
    ASSERT_TRUE(pc) << console();
    EXPECT_EQ(status(pc->ask(body(0x90, {}))), 0);
    EXPECT_NE(readyLine().find("TCP 127.0.0.1:" + std::to_string(port_)), std::string::npos)
        << readyLine();
}

}  // namespace
