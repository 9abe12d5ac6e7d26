// Where the links listen: a port another program holds is an error on the console naming the port
// and the reason, for TCP and UDP alike, and the simulated box can be moved to other ports.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "comm/network_manage.h"
#include "comm/socket_util.h"
#include "comm/udpnet_manage.h"
#include "comm_fixture.h"
#include "core/globals.h"

namespace {

// A port held by "another program" (a socket of this test) for as long as it lives.
struct HeldPort {
    explicit HeldPort(int type) { fd = comm::open_bound_socket(type, 0, port); }
    ~HeldPort() { ::close(fd); }
    int fd = -1;
    uint16_t port = 0;
};

std::string notOpened(const char* link, uint16_t port) {
    return std::string(link) + " port " + std::to_string(port) +
           " not opened: Address already in use\n";
}

}  // namespace

using Ports = CommTest;

TEST_F(Ports, ASecondBoxGetsNoTcpOrUdpListenerAndSaysSo) {
    HeldPort tcp(SOCK_STREAM), udp(SOCK_DGRAM);
    g_port = tcp.port;
    udpnetManage::udp_port_setting = udp.port;
    testing::internal::CaptureStderr();
    EXPECT_EQ(networkManage::pInstance()->port, 0);
    EXPECT_EQ(udpnetManage::pInstance()->port, 0);
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_NE(console.find(notOpened("TCP", tcp.port)), std::string::npos) << console;
    EXPECT_NE(console.find(notOpened("UDP", udp.port)), std::string::npos) << console;
}

TEST_F(Ports, TheSimulatedBoxListensOnTheBoxsPortsPlusItsOffset) {
    struct Case {
        const char* offset;
        uint16_t port;
        int listens;
    } cases[] = {
        {"", 5008, 5008},      {"100", 5005, 5105}, {"100", 0, 0},       // any free port stays so
        {"100", 65500, -1},    {"-5", 5008, 5008},  {"5x", 5008, 5008},  // ignored, said so
        {"60001", 5008, 5008},
    };
    for (const Case& c : cases) {
        ::setenv("ZEM_SIM_PORT_OFFSET", c.offset, 1);
        EXPECT_EQ(comm::listen_port(c.port), c.listens) << c.offset << " " << c.port;
    }
    ::unsetenv("ZEM_SIM_PORT_OFFSET");
}
