// The TCP server of the PC protocol on g_port: up to kMaxClients clients at once, each with its
// own framer (one unfinished frame of at most comm::kMaxBody bytes), its own bounded queue of
// replies and its own thread, which waits in poll() on the client's socket and runs its
// commands one after the other. A client busy with a long command (a flash erase, a register
// dump, a file's save), waiting for the receiving cards or no longer reading holds up nobody
// else, and its replies keep the order of its requests.
#pragma once

#include <netinet/in.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
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
    // Stops and joins the threads and closes every socket (tests only: the box never stops).
    // A client's command under way is finished first.
    void stop();
    // Stops the link and releases it with its sockets and clients (tests only).
    static void shutdown();
    void acceptThread();

    // Reply bytes a client may leave unread: room for two of the largest replies. A client
    // past it is dropped.
    static constexpr size_t kMaxQueued = 2 * comm::kMaxWire;
    // Clients served at once; one more is accepted, logged and closed at once. Each may hold
    // its frame buffers and kMaxQueued bytes: 64 of them stay within the box's memory.
    static constexpr size_t kMaxClients = 64;
    // Stack of a client's thread: the commands need a few KiB; 64 default stacks of 8 MiB would
    // take a sixth of a 32-bit address space.
    static constexpr size_t kClientStack = 256 * 1024;

    uint16_t port = 0;                 // the bound port
    std::atomic<uint32_t> clients{0};  // connected clients
    std::atomic<uint32_t> refused{0};  // clients refused for the limit, since start
    std::atomic<int> last_client{-1};  // socket of the last client that sent a frame

private:
    using Clock = std::chrono::steady_clock;
    // Set up by the accept thread before the client's thread starts; then all but thread and
    // finished are that thread's own. The accept thread joins it once finished is set.
    struct Client {
        networkManage* server = nullptr;
        int fd = -1;
        std::unique_ptr<link_session> session;
        std::vector<uint8_t> out;  // replies not yet sent, from offset sent
        size_t sent = 0;
        bool overflow = false;
        pthread_t thread{};
        std::atomic<bool> finished{false};
    };
    networkManage() = default;
    bool accept_client();
    void refuse(int fd, const sockaddr_in& a);
    bool start_client_thread(Client& c);
    static void* client_main(void* client);
    void serve(Client& c);
    bool serve_client(Client& c, uint8_t* rx, size_t cap);
    void queue_reply(Client& c, const uint8_t* wire, uint32_t len);
    bool flush(Client& c);
    void leave(Client& c, const char* why);
    void reap_finished();

    int listen_fd_ = -1;
    bool accept_paused_ = false;  // out of descriptors: new clients wait a while
    comm::Waker waker_;           // stop: every thread of the server sees it
    comm::Waker left_;            // a client's thread has finished
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::list<Client> list_;  // the accept thread's (stop's once it has ended)
};
