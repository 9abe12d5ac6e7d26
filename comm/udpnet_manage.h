// The UDP links: the PC protocol on port 5008, answered to the requester's port at the
// broadcast address, and the WiFi text socket on port 13769 with its receive and send threads.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "comm/link_session.h"
#include "comm/socket_util.h"
#include "core/thread_safety.h"

class udpnetManage {
public:
    static udpnetManage* pInstance();
    static udpnetManage* p_udpnetManage;

    // Ports to bind (tests set 0 before pInstance for free ports; bound ports are then in
    // port and wifi_port).
    static uint16_t udp_port_setting;
    static uint16_t wifi_port_setting;

    int start();
    void stop();  // tests only
    // Stops the link and releases it with its sockets and clients (tests only).
    static void shutdown();

    void udpacceptThread();
    void udp_13769_acceptThread();
    void udp_13769_sendThread();

    // Text replies waiting to go out on the WiFi socket at most; lines beyond are not answered.
    static constexpr size_t kMaxTextReplies = 64;

    uint16_t port = 0;
    uint16_t wifi_port = 0;
    sockaddr_in requester{};  // the last PC that sent a frame (pass-through answers go there)

private:
    struct TextReply {
        sockaddr_in to;
        std::string text;
    };
    udpnetManage() = default;
    void send_reply(const uint8_t* wire, uint32_t len, uint16_t to_port);

    int fd_ = -1, wifi_fd_ = -1;
    comm::Waker waker_;
    std::atomic<bool> stopping_{false};
    std::thread pc_thread_, wifi_rx_thread_, wifi_tx_thread_;
    zem::Mutex queue_mutex_;
    zem::ConditionVariable queue_cv_;
    std::deque<TextReply> queue_ GUARDED_BY(queue_mutex_);
};
