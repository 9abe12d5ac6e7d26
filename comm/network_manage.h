// The TCP server of the PC protocol on g_port: up to kMaxClients clients at once, each with its
// own framer (one unfinished frame of at most comm::kMaxBody bytes), its own bounded queue of
// replies and its own thread, which waits in poll() on the client's socket and runs its
// commands one after the other, each reply sent as soon as it is made. A client busy with a long
// command (a flash erase, a register dump, a file's save), waiting for the receiving cards or no
// longer reading holds up nobody else, and its replies keep the order of its requests. A client
// whose replies pile up is read no further until it takes them; one that has gone is ended between
// two of its frames; a silent one gives its place to a new client when all places are taken, and
// the one closed first by its PC gives its thread when as many closed ones as places run on.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/link_session.h"
#include "comm/socket_util.h"
#include "core/repeat_count.h"
#include "core/thread_safety.h"

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
    // that reaches it is read no further until half of it is sent.
    static constexpr size_t kMaxQueued = 2 * comm::kMaxWire;
    // Clients served at once; one more takes the place of a silent client, or is logged and
    // closed at once. Each may hold its frame buffers and kMaxQueued bytes and one more reply:
    // 64 of them stay within the box's memory.
    static constexpr size_t kMaxClients = 64;
    // Client threads at most, in multiples of the places: the clients with a place, as many
    // whose PC has closed while their commands run, and as many again ended but finishing the
    // command under way. Past them a new client is refused, so the box's memory stays bounded.
    static constexpr size_t kThreadsPerPlace = 3;
    // Stack of a client's thread: the commands need a few KiB; 64 default stacks of 8 MiB would
    // take a sixth of a 32-bit address space.
    static constexpr size_t kClientStack = 256 * 1024;
    // The link's bounds: the program keeps these values, tests lower them before clients come.
    struct Limits {
        // A client whose socket takes no byte for this long while its replies wait is dropped.
        std::atomic<uint32_t> stall_ms{10000};
        // A client that sent no frame passing the framer's checks for this long, runs no
        // command and has no reply waiting is silent: at the bound, a new client takes its
        // place.
        std::atomic<uint32_t> silence_ms{30000};
        // Clients that hold a place at once.
        std::atomic<uint32_t> max_clients{kMaxClients};
    };
    static Limits limits;
    // What only tests set, before clients come.
    struct TestHooks {
        // Called by a client's thread right after it holds its client up (tests drive races
        // through it).
        std::function<void()> on_hold;
    };
    static TestHooks hooks;

    uint16_t port = 0;                   // the bound port
    std::atomic<uint32_t> clients{0};    // connected clients
    std::atomic<int> last_client{-1};    // socket of the last client that sent a frame
    std::atomic<bool> listening{false};  // new clients are taken (not while a wait fails)
    // What the server has done, read by tests and the fuzzer (the program reads none of it).
    struct Counts {
        std::atomic<uint32_t> refused{0};  // clients refused for the limit, since start
        std::atomic<uint32_t> evicted{0};  // silent clients whose place a new one took, since start
        std::atomic<uint32_t> cut{0};      // closed clients ended for a new one, since start
        std::atomic<uint32_t> stalled{0};  // clients dropped for replies not read, since start
        std::atomic<uint32_t> held_up{0};  // clients read no further until they take their replies
        std::atomic<uint32_t> retried{0};  // failed waits of clients tried again, since start
    };
    Counts counts;

private:
    using Clock = std::chrono::steady_clock;
    // Set up by the accept thread before the client's thread starts; then the thread's own but
    // for the atomics, which the accept thread reads. The accept thread joins the thread once
    // finished is set, then closes the socket and the waker: their numbers stay the client's
    // until then.
    struct Client {
        networkManage* server = nullptr;
        int fd = -1;
        in_addr_t address = 0;  // the peer's
        std::string name;       // "a.b.c.d:port" of the peer
        std::unique_ptr<link_session> session;
        std::vector<uint8_t> rx;  // received bytes, handled from rx_at to rx_end
        size_t rx_at = 0, rx_end = 0;
        bool input_ended = false;  // the peer sent its FIN
        // When its peer's FIN was first seen, by its thread or the accept thread: the order
        // among clients (0 not yet).
        std::atomic<uint64_t> fin_seen{0};
        std::vector<uint8_t> out;  // replies not yet sent, from offset sent
        size_t sent = 0;
        bool held = false;             // its replies reached kMaxQueued: not read meanwhile
        Clock::time_point progress{};  // the socket last took a byte, or replies began to wait
        Clock::time_point failing{};   // its waits fail since (none: epoch)
        bool done = false;             // the thread ends, logging why when set
        const char* why = nullptr;
        comm::Waker waker;  // the accept thread's: the client's place was taken
        // Ended by the accept thread: its place given to a new client, or its thread when
        // closed past the bound.
        std::atomic<bool> evicted{false};
        std::atomic<bool> quiet{false};    // waits for the peer with nothing to do
        std::atomic<int64_t> heard_ms{0};  // when a frame last came (Clock, in ms)
        std::atomic<bool> leaving{false};  // its thread has begun to end
        pthread_t thread{};
        std::atomic<bool> finished{false};
    };
    networkManage() = default;
    bool accept_client();
    void refuse(int fd, const sockaddr_in& a);
    bool start_client_thread(Client& c);
    static void* client_main(void* client);
    void serve(Client& c);
    void handle_received(Client& c);
    void heard(Client& c);
    void wait_for_socket(Client& c, pollfd* fds);
    bool retry_wait(Client& c, int err, bool writing);
    void receive(Client& c);
    static void end(Client& c, const char* why = nullptr);
    static size_t queued(const Client& c) { return c.out.size() - c.sent; }
    void hold(Client& c, bool on);
    void queue_reply(Client& c, const uint8_t* wire, uint32_t len);
    bool flush(Client& c);
    bool send_queued(Client& c);
    void leave(Client& c);
    void reap_finished();
    void wait_failed(int err, std::chrono::milliseconds pause);
    void rest(std::chrono::milliseconds pause, const Client* c = nullptr);
    void end_rests();
    void tell_counts(bool at_end);
    uint64_t counts_due_ms() const;
    void saw_fin(Client& c);
    // The clients that hold a place, and those whose peer has closed while they run.
    struct Census {
        std::vector<Client*> placed, closed;
    };
    Census census();
    bool evict_silent(const std::string& newcomer, const std::vector<Client*>& placed);
    void cut_first_closed(const std::string& newcomer, const std::vector<Client*>& closed);
    void oust(Client& c);

    int listen_fd_ = -1;
    bool accept_paused_ = false;  // out of descriptors: new clients wait a while
    comm::Waker waker_;           // stop: every thread of the server sees it
    comm::Waker left_;            // a client's thread has finished
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::list<Client> list_;  // the accept thread's (stop's once it has ended)

    std::atomic<uint64_t> fins_seen_{0};
    RepeatCount refusals_;  // the accept thread's, then stop's
    RepeatCount cuts_;      // the same
    // A failed wait's pause, cut short by stop (or the client's ousting). It guards no state:
    // what ends the pause is atomic, and the lock only keeps a wake from falling between the
    // check and the wait.
    zem::Mutex pause_mutex_;
    zem::ConditionVariable pause_cv_;
};
