#include "comm/network_manage.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/globals.h"
#include "core/singleton.h"
#include "platform/memory.h"
#include "platform/thread_name.h"

networkManage* networkManage::p_networkManage = nullptr;

namespace {
constexpr size_t kKeptQueue = 4096;  // reply-queue capacity a client keeps between bursts
constexpr int kHeaps = 4;            // the C library's default on a two-core 32-bit box
}  // namespace

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

void networkManage::shutdown() {
    release_singleton(p_networkManage);
}

int networkManage::start() {
    // Each client's thread would otherwise get a heap of its own, which keeps its free pages
    // after the client has left.
    platform::limitHeaps(kHeaps);
    listen_fd_ = comm::open_bound_socket(SOCK_STREAM, uint16_t(g_port), port);
    if (listen_fd_ < 0) return 255;
    waker_.open();
    left_.open();
    stopping_ = false;
    thread_ = std::thread(&networkManage::acceptThread, this);
    platform::nameThread(thread_, "tcp");
    return 0;
}

void networkManage::stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    waker_.wake();
    thread_.join();
    for (Client& c : list_) pthread_join(c.thread, nullptr);
    list_.clear();
    clients = 0;
    ::close(listen_fd_);
    listen_fd_ = -1;
    waker_.close();
    left_.close();
}

// Takes a waiting client; false when the box is out of descriptors or memory, so that the
// listening socket, still readable, is left alone for a while instead of polled in a loop.
bool networkManage::accept_client() {
    sockaddr_in a{};
    socklen_t alen = sizeof a;
    const int fd =
        ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&a), &alen, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        if (err != EMFILE && err != ENFILE && err != ENOBUFS && err != ENOMEM) return true;
        writeLogMsg(1, "TCP server: no descriptor for a new client");
        ZEM_DEBUG("\n TCP server: accept failed (%d), new clients wait 1 s \n", err);
        return false;
    }
    if (list_.size() >= kMaxClients) {
        refuse(fd, a);
        return true;
    }
    // A PC that vanishes without closing (switched off, cable pulled) is found by keep-alive
    // probes after about 90 s of silence, so its socket and buffers do not pile up.
    const int on = 1, idle = 60, interval = 10, count = 3;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    Client& c = list_.emplace_back();
    c.server = this;
    c.fd = fd;
    c.session = std::make_unique<link_session>(LinkKind::Tcp, comm::peer_name(a));
    if (!start_client_thread(c)) {
        ::close(fd);
        list_.pop_back();
        writeLogMsg(1, "TCP server: no thread for a new client");
        ZEM_DEBUG("\n TCP server: no thread for client %s \n", comm::peer_name(a).c_str());
        return false;
    }
    ++clients;
    return true;
}

void networkManage::refuse(int fd, const sockaddr_in& a) {
    ++refused;
    ::close(fd);
    char line[160];
    std::snprintf(line, sizeof line, "TCP client %s refused: %u clients connected",
                  comm::peer_name(a).c_str(), unsigned(kMaxClients));
    writeLogMsg(2, line);
    ZEM_DEBUG("\n %s \n", line);
}

bool networkManage::start_client_thread(Client& c) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_attr_setstacksize(&attr, kClientStack);
    const bool started = pthread_create(&c.thread, &attr, &networkManage::client_main, &c) == 0;
    pthread_attr_destroy(&attr);
    if (started) pthread_setname_np(c.thread, "tcp-client");
    return started;
}

void* networkManage::client_main(void* client) {
    Client& c = *static_cast<Client*>(client);
    c.server->serve(c);
    return nullptr;
}

// A client's thread: sleeps in poll() until the client sends, can take its pending replies,
// leaves, or the server stops; runs the client's commands in the order they came.
void networkManage::serve(Client& c) {
    std::vector<uint8_t> rx(16 * 1024);
    pollfd fds[2] = {{c.fd, POLLIN, 0}, {waker_.fd[0], POLLIN, 0}};
    const char* why = nullptr;
    while (!stopping_) {
        fds[0].events = short(POLLIN | (c.sent < c.out.size() ? POLLOUT : 0));
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) break;
        const short ev = fds[0].revents;
        bool alive = true;
        if (ev & POLLIN)
            alive = serve_client(c, rx.data(), rx.size());
        else if (ev & (POLLERR | POLLHUP | POLLNVAL))
            alive = false;
        if (alive && (ev & POLLOUT)) alive = flush(c);
        if (!alive) break;
        if (c.overflow) {
            why = "its replies were not read";
            break;
        }
    }
    leave(c, why);
}

void networkManage::queue_reply(Client& c, const uint8_t* wire, uint32_t len) {
    if (c.overflow) return;
    if (len > kMaxQueued - (c.out.size() - c.sent)) {
        c.overflow = true;
        return;
    }
    c.out.erase(c.out.begin(), c.out.begin() + long(c.sent));
    c.sent = 0;
    c.out.insert(c.out.end(), wire, wire + len);
}

// Sends what the socket takes now; false when the client is gone.
bool networkManage::flush(Client& c) {
    while (c.sent < c.out.size()) {
        const ssize_t n =
            ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.sent += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
            return false;
        }
    }
    // A burst's large queue is given back once sent, so idle clients hold no more than a reply.
    if (c.out.capacity() > kKeptQueue)
        std::vector<uint8_t>().swap(c.out);
    else
        c.out.clear();
    c.sent = 0;
    return true;
}

// Reads what the client sent and answers it; false when the client is gone.
bool networkManage::serve_client(Client& c, uint8_t* rx, size_t cap) {
    const ssize_t n = ::recv(c.fd, rx, cap, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
    if (n <= 0) return false;
    last_client = c.fd;
    c.session->feed(rx, size_t(n),
                    [&](const uint8_t* wire, uint32_t len) { queue_reply(c, wire, len); });
    return flush(c);
}

// The end of a client's thread: its socket and buffers go now, the thread itself when the
// accept thread joins it.
void networkManage::leave(Client& c, const char* why) {
    if (why) {
        char line[160];
        std::snprintf(line, sizeof line, "TCP client %s dropped: %s", c.session->peer().c_str(),
                      why);
        writeLogMsg(2, line);
        ZEM_DEBUG("\n %s \n", line);
    }
    ::close(c.fd);
    c.session.reset();
    std::vector<uint8_t>().swap(c.out);
    c.finished = true;
    left_.wake();
}

void networkManage::reap_finished() {
    bool any = false;
    for (auto it = list_.begin(); it != list_.end();) {
        if (!it->finished) {
            ++it;
            continue;
        }
        pthread_join(it->thread, nullptr);
        it = list_.erase(it);
        --clients;
        any = true;
    }
    // The C library keeps the freed buffers of many clients otherwise, and the box has little
    // memory to spare.
    if (any && list_.empty()) platform::releaseFreeMemory();
}

// Takes new clients and joins the threads of those that left; the clients' own threads serve
// them. Sleeps in poll() without a timeout, but for the retry of a paused accept.
void networkManage::acceptThread() {
    constexpr auto kRetry = std::chrono::seconds(1);
    Clock::time_point retry{};
    while (!stopping_) {
        if (accept_paused_ && Clock::now() >= retry) accept_paused_ = false;
        pollfd fds[3] = {{accept_paused_ ? -1 : listen_fd_, POLLIN, 0},
                         {waker_.fd[0], POLLIN, 0},
                         {left_.fd[0], POLLIN, 0}};
        int timeout = -1;
        if (accept_paused_)
            timeout =
                int(std::chrono::duration_cast<std::chrono::milliseconds>(retry - Clock::now())
                        .count()) +
                1;
        if (::poll(fds, 3, timeout) < 0) continue;
        if (fds[2].revents & POLLIN) left_.drain();
        // A place freed by a client that left is taken by the next one.
        reap_finished();
        if ((fds[0].revents & POLLIN) && !accept_client()) {
            accept_paused_ = true;
            retry = Clock::now() + kRetry;
        }
    }
}
