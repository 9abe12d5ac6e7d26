// Where the links listen: a port another program holds is an error on the console naming the port
// and the reason, for TCP and UDP alike, and leaves the other sockets served; the simulated box
// can be moved to other ports, and only by a whole number.
#include <gtest/gtest.h>
#include <poll.h>
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

size_t count(const std::string& text, const std::string& line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
}

std::string udpNotOpened(uint16_t port, const char* link) {
    return "UDP port " + std::to_string(port) + " (" + link + "): socket not opened\n";
}

TEST_F(Ports, AUdpPortHeldElsewhereLeavesTheWifiTextSocketServedAndIsSaidOnceAMinute) {
    HeldPort udp(SOCK_DGRAM);
    udpnetManage::udp_port_setting = udp.port;
    udpnetManage::wifi_port_setting = 0;
    g_udpnetmode = 1;
    LogTestHooks::forget();  // an earlier case of this process may have said it
    testing::internal::CaptureStderr();
    udpnetManage::pInstance();
    udpnetManage::shutdown();
    udpnetManage* links = udpnetManage::pInstance();  // a second start, within the minute
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count(console, notOpened("UDP", udp.port)), 2u) << console;
    EXPECT_EQ(count(console, udpNotOpened(udp.port, "PC protocol")), 1u) << console;
    EXPECT_EQ(console.find("WiFi text"), std::string::npos) << console;

    EXPECT_EQ(links->port, 0);
    ASSERT_NE(links->wifi_port, 0);
    UdpLink phone(links->wifi_port);
    const std::string line = "AT\r\n";
    phone.send(Bytes(line.begin(), line.end()));
    char buf[16];
    pollfd p{phone.fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, hangMs(5000)), 1);
    EXPECT_EQ(std::string(buf, size_t(::recv(phone.fd, buf, sizeof buf, 0))), "ERROR\r\n");
    udpnetManage::shutdown();
}

// The WiFi text port that can't open is the one named: the PC's UDP port is served.
TEST_F(Ports, AWifiTextPortHeldElsewhereIsNamedAndLeavesThePcPortServed) {
    HeldPort wifi(SOCK_DGRAM);
    udpnetManage::udp_port_setting = 0;
    udpnetManage::wifi_port_setting = wifi.port;
    g_udpnetmode = 1;
    LogTestHooks::forget();
    testing::internal::CaptureStderr();
    udpnetManage* links = udpnetManage::pInstance();
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(console, notOpened("UDP", wifi.port) + udpNotOpened(wifi.port, "WiFi text"));
    EXPECT_NE(links->port, 0);
    EXPECT_EQ(links->wifi_port, 0);
    udpnetManage::shutdown();
}

// Moved by an offset, the port that failed is named with the box's own.
TEST_F(Ports, AUdpPortMovedByTheOffsetIsNamedWithTheBoxsPort) {
    HeldPort udp(SOCK_DGRAM);
    ASSERT_GT(udp.port, 100);
    ::setenv("ZEM_SIM_PORT_OFFSET", "100", 1);
    udpnetManage::udp_port_setting = uint16_t(udp.port - 100);
    const auto wifi = g_udpnetmode;
    g_udpnetmode = 0;  // the WiFi text port, moved too, may be another box's
    LogTestHooks::forget();
    testing::internal::CaptureStderr();
    udpnetManage::pInstance();
    const std::string console = testing::internal::GetCapturedStderr();
    ::unsetenv("ZEM_SIM_PORT_OFFSET");
    EXPECT_EQ(console, notOpened("UDP", udp.port) + "UDP port " + std::to_string(udp.port) +
                           " (PC protocol, the box's port " + std::to_string(udp.port - 100) +
                           "): socket not opened\n");
    udpnetManage::shutdown();
    g_udpnetmode = wifi;
}

// The highest offset keeps every fixed port; a TCP port of tcpip.ini that it pushes past 65535
// is not opened, and says so with its own line.
TEST_F(Ports, ATcpPortTheOffsetPushesPast65535IsNamed) {
    ::setenv("ZEM_SIM_PORT_OFFSET", "51766", 1);
    g_port = 60000;
    LogTestHooks::forget();
    testing::internal::CaptureStderr();
    EXPECT_EQ(networkManage::pInstance()->port, 0);
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(console,
              "TCP port 60000 not opened: ZEM_SIM_PORT_OFFSET takes it past 65535\n"
              "TCP server: socket not opened\n");
    ::unsetenv("ZEM_SIM_PORT_OFFSET");
}

TEST_F(Ports, TheSimulatedBoxListensOnTheBoxsPortsPlusItsOffset) {
    struct Case {
        const char* offset;
        uint16_t port;
        int listens;
    } cases[] = {
        {"", 5008, 5008},
        {"100", 5005, 5105},
        {"100", 0, 0},  // any free port stays so
        {"100", 65500, -1},
        {"51766", 13769, 65535},  // the highest fixed port reaches the last one
        {"51766", 5008, 56774},
        // A bad offset opens no port: the default ones may be the first box's.
        {"-5", 5008, -1},
        {"5x", 5008, -1},
        {"51767", 5008, -1},
        {"60000", 5008, -1},
        {"+5", 5008, -1},
        {" 5", 5008, -1},
        {"99999999999999999999", 5008, -1},
    };
    for (const Case& c : cases) {
        ::setenv("ZEM_SIM_PORT_OFFSET", c.offset, 1);
        EXPECT_EQ(comm::listen_port(c.port), c.listens) << c.offset << " " << c.port;
    }
    ::unsetenv("ZEM_SIM_PORT_OFFSET");
}
