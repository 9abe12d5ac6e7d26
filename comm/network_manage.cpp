#include "comm/network_manage.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "core/globals.h"

networkManage* networkManage::p_networkManage = nullptr;

networkManage* networkManage::pInstance() {
    if (!p_networkManage) {
        p_networkManage = new networkManage;
        if (!g_networkMode)
            ZEM_DEBUG("\n TCP server switched off \n");
        else if (p_networkManage->start() != 0)
            writeLogMsg(1, "TCP server: socket not opened");
    }
    return p_networkManage;
}

int networkManage::start() {
    listen_fd_ = comm::open_bound_socket(SOCK_STREAM, uint16_t(g_port), port);
    if (listen_fd_ < 0) return 255;
    waker_.open();
    stopping_ = false;
    thread_ = std::thread(&networkManage::acceptThread, this);
    return 0;
}

void networkManage::stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    waker_.wake();
    thread_.join();
    for (Client& c : list_) ::close(c.fd);
    list_.clear();
    clients = 0;
    ::close(listen_fd_);
    listen_fd_ = -1;
    waker_.close();
}

// Takes a waiting client; false when the box is out of descriptors or memory, so that the
// listening socket, still readable, is left alone for a while instead of polled in a loop.
bool networkManage::accept_client() {
    sockaddr_in a{};
    socklen_t alen = sizeof a;
    const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&a), &alen, SOCK_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err != EMFILE && err != ENFILE && err != ENOBUFS && err != ENOMEM) return true;
        writeLogMsg(1, "TCP server: no descriptor for a new client");
        ZEM_DEBUG("\n TCP server: accept failed (%d), new clients wait 1 s \n", err);
        return false;
    }
    // A client that stops reading must not hold the other clients up for long.
    timeval tv{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    // A PC that vanishes without closing (switched off, cable pulled) is found by keep-alive
    // probes after about 90 s of silence, so its socket and buffers do not pile up.
    const int on = 1, idle = 60, interval = 10, count = 3;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    list_.push_back({fd, std::make_unique<link_session>(LinkKind::Tcp, comm::peer_name(a))});
    ++clients;
    return true;
}

// Reads what the client sent and answers it; false when the client is gone.
bool networkManage::serve_client(Client& c, uint8_t* rx, size_t cap) {
    const ssize_t n = ::recv(c.fd, rx, cap, 0);
    if (n <= 0) return false;
    bool alive = true;
    last_client = c.fd;
    c.session->feed(rx, size_t(n), [&](const uint8_t* wire, uint32_t len) {
        if (alive && !comm::send_all(c.fd, wire, len)) alive = false;
    });
    return alive;
}

void networkManage::acceptThread() {
    using Clock = std::chrono::steady_clock;
    constexpr auto kRetry = std::chrono::seconds(1);
    std::vector<uint8_t> rx(64 * 1024);
    std::vector<pollfd> fds;
    Clock::time_point retry{};
    while (!stopping_) {
        if (accept_paused_ && Clock::now() >= retry) accept_paused_ = false;
        fds.clear();
        fds.push_back({accept_paused_ ? -1 : listen_fd_, POLLIN, 0});
        fds.push_back({waker_.fd[0], POLLIN, 0});
        for (const Client& c : list_) fds.push_back({c.fd, POLLIN, 0});
        // Nothing to do until a client connects or sends: no timeout needed, except for the
        // retry of a paused accept.
        int timeout = -1;
        if (accept_paused_)
            timeout =
                int(std::chrono::duration_cast<std::chrono::milliseconds>(retry - Clock::now())
                        .count()) +
                1;
        if (::poll(fds.data(), fds.size(), timeout) < 0) continue;
        if ((fds[0].revents & POLLIN) && !accept_client()) {
            accept_paused_ = true;
            retry = Clock::now() + kRetry;
        }
        size_t i = 2;
        for (auto it = list_.begin(); it != list_.end() && i < fds.size(); ++i) {
            const short ev = fds[i].revents;
            if (ev && !((ev & POLLIN) && serve_client(*it, rx.data(), rx.size()))) {
                ::close(it->fd);
                it = list_.erase(it);
                --clients;
            } else {
                ++it;
            }
        }
    }
}
