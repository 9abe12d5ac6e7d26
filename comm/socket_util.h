// Small socket helpers shared by the TCP and UDP links.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace comm {

// The address the links listen on: every interface on the box, loopback on the simulated box.
in_addr_t listen_address();
// Where a UDP reply to a PC goes: the broadcast address on the box, loopback in simulation.
in_addr_t broadcast_address();
// "a.b.c.d:port" of an IPv4 socket address.
std::string peer_name(const sockaddr_in& a);
// ZEM_SIM_PORT_OFFSET on the simulated box, which moves its ports so that a second instance
// can run beside the first: 0 when unset (and on the box), -1 when it is not a whole number
// 0..kMaxPortOffset: the box's highest fixed port, the WiFi text socket's, stays within 65535.
constexpr int kHighestFixedPort = 13769;
constexpr int kMaxPortOffset = 65535 - kHighestFixedPort;
int port_offset();
// 0, or 1 after one error on stderr when port_offset() is -1: the program stops at start.
int check_port_offset();
// The port the links listen on for the box's port: the same on the box; on the simulated box
// shifted by port_offset(). Port 0 (any free one) stays 0; -1 when the sum passes 65535 or
// the offset is bad.
int listen_port(uint16_t port);
// A bound socket of type (SOCK_STREAM listening, or SOCK_DGRAM) on listen_port(port); its
// descriptor and the bound port in bound, or -1 after an error on the console that names the
// port and the reason.
int open_bound_socket(int type, uint16_t port, uint16_t& bound);
// Sends all n bytes on a stream socket; false when the peer is gone or stalls.
bool send_all(int fd, const uint8_t* data, uint32_t n);

// A pipe that wakes a thread sleeping in poll(), for the tests' stop or another thread's news.
struct Waker {
    int fd[2] = {-1, -1};
    void open();
    void wake();
    // Empties the pipe, so that a reader polls for the next wake.
    void drain();
    void close();
};

}  // namespace comm
