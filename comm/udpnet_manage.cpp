#include "comm/udpnet_manage.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "comm/socket_util.h"
#include "core/globals.h"
#include "core/singleton.h"
#include "platform/thread_name.h"

udpnetManage* udpnetManage::p_udpnetManage = nullptr;
uint16_t udpnetManage::udp_port_setting = 5008;
uint16_t udpnetManage::wifi_port_setting = 13769;

namespace {
// No AT command is defined for the WiFi socket: every line gets this answer.
const char kWifiError[] = "ERROR\r\n";

// Names the port that failed, and the box's own port when an offset moved it: the other UDP
// socket may well be served.
void sayNotOpened(uint16_t box_port, const char* link) {
    const int tried = comm::listen_port(box_port);
    const std::string moved =
        tried >= 0 && tried != box_port ? ", the box's port " + std::to_string(box_port) : "";
    const std::string line = "UDP port " + std::to_string(tried >= 0 ? tried : box_port) + " (" +
                             link + moved + "): socket not opened";
    writeLogMsg(1, line.c_str());
}
}  // namespace

udpnetManage* udpnetManage::pInstance() {
    if (!p_udpnetManage) {
        p_udpnetManage = new udpnetManage;
        p_udpnetManage->start();
    }
    return p_udpnetManage;
}

void udpnetManage::shutdown() {
    release_singleton(p_udpnetManage);
}

// Each socket opens on its own: a PC port another program holds leaves the WiFi text socket
// served, and the other way round. 255 when either failed, after a line naming it.
int udpnetManage::start() {
    waker_.open();
    stopping_ = false;
    int rc = 0;
    fd_ = comm::open_bound_socket(SOCK_DGRAM, udp_port_setting, port);
    if (fd_ >= 0) {
        pc_thread_ = std::thread(&udpnetManage::udpacceptThread, this);
        platform::nameThread(pc_thread_, "udp");
    } else {
        sayNotOpened(udp_port_setting, "PC protocol");
        rc = 255;
    }
    if (g_udpnetmode) {
        wifi_fd_ = comm::open_bound_socket(SOCK_DGRAM, wifi_port_setting, wifi_port);
        if (wifi_fd_ < 0) {
            sayNotOpened(wifi_port_setting, "WiFi text");
            return 255;
        }
        wifi_rx_thread_ = std::thread(&udpnetManage::udp_13769_acceptThread, this);
        wifi_tx_thread_ = std::thread(&udpnetManage::udp_13769_sendThread, this);
        platform::nameThread(wifi_rx_thread_, "wifi-text-rx");
        platform::nameThread(wifi_tx_thread_, "wifi-text-tx");
    }
    return rc;
}

void udpnetManage::stop() {
    {
        // Under the queue's mutex, so the send thread cannot miss it between its check and its
        // wait.
        zem::MutexLocker lock(queue_mutex_);
        stopping_ = true;
    }
    waker_.wake();
    queue_cv_.notify_all();
    for (std::thread* t : {&pc_thread_, &wifi_rx_thread_, &wifi_tx_thread_})
        if (t->joinable()) t->join();
    for (int* fd : {&fd_, &wifi_fd_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    waker_.close();
}

void udpnetManage::send_reply(const uint8_t* wire, uint32_t len, uint16_t to_port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = to_port;  // network order, as received
    to.sin_addr.s_addr = comm::broadcast_address();
    if (::sendto(fd_, wire, len, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        ZEM_DEBUG("\n UDP reply of %u bytes not sent \n", len);
}

void udpnetManage::udpacceptThread() {
    std::vector<uint8_t> rx(65536);
    link_session session(LinkKind::Udp, "udp");
    pollfd fds[2] = {{fd_, POLLIN, 0}, {waker_.fd[0], POLLIN, 0}};
    while (!stopping_) {
        // Nothing waiting: every datagram that came before now has been read, so its peers'
        // silence counts up to now. Then it waits.
        int ready = ::poll(fds, 2, 0);
        if (ready == 0) {
            session.input_drained();
            ready = ::poll(fds, 2, -1);
        }
        if (ready <= 0 || !(fds[0].revents & POLLIN)) continue;
        sockaddr_in from{};
        socklen_t flen = sizeof from;
        const ssize_t n =
            ::recvfrom(fd_, rx.data(), rx.size(), 0, reinterpret_cast<sockaddr*>(&from), &flen);
        if (n <= 0) continue;
        requester = from;
        session.setPeer(comm::peer_name(from),
                        link_session::udp_link(from.sin_addr.s_addr, from.sin_port));
        session.feed(rx.data(), size_t(n), [&](const uint8_t* wire, uint32_t len) {
            send_reply(wire, len, from.sin_port);
        });
        session.end_input();  // a datagram holds whole frames
    }
}

void udpnetManage::udp_13769_acceptThread() {
    char rx[2048];
    pollfd fds[2] = {{wifi_fd_, POLLIN, 0}, {waker_.fd[0], POLLIN, 0}};
    while (!stopping_) {
        if (::poll(fds, 2, -1) <= 0 || !(fds[0].revents & POLLIN)) continue;
        sockaddr_in from{};
        socklen_t flen = sizeof from;
        const ssize_t n =
            ::recvfrom(wifi_fd_, rx, sizeof rx, 0, reinterpret_cast<sockaddr*>(&from), &flen);
        if (n <= 0) continue;
        // One answer per line; a datagram without a line end counts as one line.
        int lines = 0;
        for (ssize_t i = 0; i < n; ++i)
            if (rx[i] == '\n') ++lines;
        if (lines == 0 || rx[n - 1] != '\n') ++lines;
        zem::MutexLocker lock(queue_mutex_);
        // Bounded: a flood of lines gets no more answers than the queue holds.
        for (int i = 0; i < lines && queue_.size() < kMaxTextReplies; ++i)
            queue_.push_back({from, kWifiError});
        queue_cv_.notify_one();
    }
}

void udpnetManage::udp_13769_sendThread() {
    zem::MutexLocker lock(queue_mutex_);
    while (!stopping_) {
        queue_cv_.wait(lock, [&]() REQUIRES(queue_mutex_) { return stopping_ || !queue_.empty(); });
        while (!queue_.empty()) {
            TextReply r = queue_.front();
            queue_.pop_front();
            lock.unlock();
            ::sendto(wifi_fd_, r.text.data(), r.text.size(), 0, reinterpret_cast<sockaddr*>(&r.to),
                     sizeof r.to);
            lock.lock();
        }
    }
}
