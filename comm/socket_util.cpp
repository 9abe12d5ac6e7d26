#include "comm/socket_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

int open_bound_socket(int type, uint16_t port, uint16_t& bound) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (type == SOCK_DGRAM) ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = listen_address();
    socklen_t alen = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 64) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &alen) != 0) {
        ::close(fd);
        return -1;
    }
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

void Waker::close() {
    for (int& f : fd) {
        if (f >= 0) ::close(f);
        f = -1;
    }
}

}  // namespace comm
