// The program as a person starts it on the simulated box: it comes up in its own process, lights
// the screen for the simulated HDMI1 input, and a PC on TCP reads its identity, writes a
// parameter, has it applied and finds it saved.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "pc_link.h"
#include "sim_fixture.h"

namespace {

using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

// Polls until check() holds or the time runs out.
bool eventually(const std::function<bool()>& check, seconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (check()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return check();
}

uint16_t freeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

std::string slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = makeTempDir("program");
        ASSERT_FALSE(root_.empty());
        port_ = freeTcpPort();
        // A box whose PC port is free on this machine; every other setting takes its default.
        std::filesystem::create_directories(root_ + "/data/configs");
        std::ofstream(root_ + "/data/configs/tcpip.ini") << "[config]\nTcpPort=" << port_ << "\n";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            if (!std::freopen((root_ + "/console.log").c_str(), "w", stdout)) ::_exit(127);
            const char* argv[] = {ZEM_PROGRAM_COMMAND, "--sim", root_.c_str(), nullptr};
            ::execv(argv[0], const_cast<char**>(argv));
            ::_exit(127);
        }
        ASSERT_GT(pid_, 0);
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (!HasFailure()) removeTree(root_);
    }
    bool running() { return ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    // What scripts/sim-ready.sh prints for this box.
    std::string readyLine() const {
        const std::string cmd = std::string(ZEM_SOURCE_DIR "/scripts/sim-ready.sh ") + root_ + " " +
                                std::to_string(pid_);
        std::string out;
        if (FILE* p = ::popen(cmd.c_str(), "r")) {
            char buf[512];
            while (std::fgets(buf, sizeof buf, p)) out += buf;
            ::pclose(p);
        }
        return out;
    }
    std::string console() const { return slurp(root_ + "/console.log"); }

    std::string root_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
};

uint8_t status(const Bytes& reply) {
    return reply.size() > 10 ? reply[10] : 0xEE;
}

TEST_F(Program, StartsLightsTheScreenAndServesThePc) {
    std::unique_ptr<TcpLink> pc;
    ASSERT_TRUE(eventually(
        [&] {
            pc = std::make_unique<TcpLink>(port_);
            return pc->fd >= 0;
        },
        seconds(60)))
        << console();
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

}  // namespace
