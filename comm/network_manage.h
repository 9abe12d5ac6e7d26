// The TCP server of the PC protocol on g_port: any number of clients at once, each with its own
// framer, served by one thread that waits in poll().
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "comm/link_session.h"
#include "comm/socket_util.h"

class networkManage {
public:
    // Creates the server and starts acceptThread on g_port (0: any free port, see port).
    static networkManage* pInstance();
    static networkManage* p_networkManage;

    // Serves until stop(); 255 when the socket could not be opened.
    int start();
    // Stops and joins the thread and closes every socket (tests only: the box never stops).
    void stop();
    void acceptThread();

    uint16_t port = 0;                 // the bound port
    std::atomic<uint32_t> clients{0};  // connected clients
    std::atomic<int> last_client{-1};  // socket of the last client that sent a frame

private:
    struct Client {
        int fd;
        std::unique_ptr<link_session> session;
    };
    networkManage() = default;
    bool accept_client();
    bool serve_client(Client& c, uint8_t* rx, size_t cap);

    int listen_fd_ = -1;
    bool accept_paused_ = false;  // out of descriptors: new clients wait a while
    comm::Waker waker_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::list<Client> list_;
};
