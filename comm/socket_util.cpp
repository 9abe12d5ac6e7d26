#include "comm/socket_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/box.h"

namespace comm {

in_addr_t listen_address() {
    return htonl(platform::onBox() ? INADDR_ANY : INADDR_LOOPBACK);
}

in_addr_t broadcast_address() {
    return htonl(platform::onBox() ? INADDR_BROADCAST : INADDR_LOOPBACK);
}

std::string peer_name(const sockaddr_in& a) {
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
    return std::string(ip) + ":" + std::to_string(ntohs(a.sin_port));
}

int port_offset() {
    const char* env = platform::onBox() ? nullptr : std::getenv("ZEM_SIM_PORT_OFFSET");
    if (!env || !*env) return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long offset = std::strtoul(env, &end, 10);
    const bool digits = env[0] >= '0' && env[0] <= '9' && *end == '\0' && errno == 0;
    return digits && offset <= (unsigned long)kMaxPortOffset ? int(offset) : -1;
}

int check_port_offset() {
    if (port_offset() >= 0) return 0;
    std::fprintf(stderr,
                 "error: ZEM_SIM_PORT_OFFSET=%s: the offset must be a whole number from 0 to %d\n",
                 std::getenv("ZEM_SIM_PORT_OFFSET"), kMaxPortOffset);
    return 1;
}

int listen_port(uint16_t port) {
    const int offset = port_offset();
    if (port == 0 || offset == 0) return port;
    // A bad offset would put a second box on the first one's ports.
    if (offset < 0 || port + offset > 65535) return -1;
    return port + offset;
}

namespace {

// Names the port and the reason on the console, whatever the debug switch: a link that does not
// listen must not go unnoticed.
int bind_failed(int type, int port, int fd, const char* reason) {
    std::fprintf(stderr, "%s port %d not opened: %s\n", type == SOCK_STREAM ? "TCP" : "UDP", port,
                 reason);
    if (fd >= 0) ::close(fd);
    return -1;
}

}  // namespace

int open_bound_socket(int type, uint16_t port, uint16_t& bound) {
    const int want = listen_port(port);
    if (want < 0)
        return bind_failed(type, port, -1,
                           port_offset() < 0 ? "ZEM_SIM_PORT_OFFSET is bad"
                                             : "ZEM_SIM_PORT_OFFSET takes it past 65535");
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return bind_failed(type, want, fd, std::strerror(errno));
    const int one = 1;
    // A restarted server may listen again at once; datagram sockets get no reuse, or a second
    // program would share the port without a word.
    if (type == SOCK_STREAM) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (type == SOCK_DGRAM) ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(want));
    a.sin_addr.s_addr = listen_address();
    socklen_t alen = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 64) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &alen) != 0)
        return bind_failed(type, want, fd, std::strerror(errno));
    bound = ntohs(a.sin_port);
    return fd;
}

bool send_all(int fd, const uint8_t* data, uint32_t n) {
    uint32_t done = 0;
    while (done < n) {
        const ssize_t w = ::send(fd, data + done, n - done, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;  // gone, or stalled past the send timeout
        done += uint32_t(w);
    }
    return true;
}

void Waker::open() {
    if (::pipe2(fd, O_CLOEXEC | O_NONBLOCK) != 0) fd[0] = fd[1] = -1;
}

void Waker::wake() {
    const char c = 1;
    if (fd[1] >= 0) (void)!::write(fd[1], &c, 1);
}

void Waker::drain() {
    char buf[64];
    while (fd[0] >= 0 && ::read(fd[0], buf, sizeof buf) > 0) {
    }
}

void Waker::close() {
    for (int& f : fd) {
        if (f >= 0) ::close(f);
        f = -1;
    }
}

}  // namespace comm
