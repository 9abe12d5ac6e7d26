#include "comm/network_manage.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/globals.h"
#include "core/repeat_count.h"
#include "core/singleton.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/thread_name.h"

networkManage* networkManage::p_networkManage = nullptr;
networkManage::Limits networkManage::limits;
networkManage::TestHooks networkManage::hooks;

namespace {
constexpr size_t kKeptQueue = 4096;       // reply-queue capacity a client keeps between bursts
constexpr size_t kReadChunk = 16 * 1024;  // received bytes a client's thread takes at once
constexpr int kHeaps = 4;                 // the C library's default on a two-core 32-bit box
constexpr std::chrono::milliseconds kWaitRetry{1000};  // a failed wait's pause

// The program's clock: a client's silence is measured on it, so tests pass it by hand.
int64_t now_ms() {
    return int64_t(platform::nowMs());
}

constexpr short kGone = POLLHUP | POLLERR | POLLNVAL;

// Which of events, a hang-up or an error the socket shows now.
short socket_events(int fd, short events) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, 0) == 1 ? short(p.revents & (events | kGone)) : 0;
}

void log_line(const char* line) {
    writeLogMsg(2, line);
    ZEM_DEBUG("\n %s \n", line);
}

// A line of something a peer repeats at will: the first, and the first a minute after the last
// line with the count since (`counted` names them), else nothing.
void tell_first(RepeatCount& count, std::string line, const char* counted) {
    uint32_t before = 0;
    if (!count.tell(platform::nowMs(), &before)) return;
    if (before) line += " (" + std::to_string(before) + " more " + counted + " before it)";
    log_line(line.c_str());
}

// The ones counted since the last line, if any.
void tell_count(uint32_t n, const char* counted) {
    if (n == 0) return;
    char line[120];
    std::snprintf(line, sizeof line, "TCP server: %u more %s", n, counted);
    log_line(line);
}
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
    listen_fd_ = comm::open_bound_socket(SOCK_STREAM, uint16_t(Utils::configValue(&g_port)), port);
    if (listen_fd_ < 0) return 255;
    waker_.open();
    left_.open();
    stopping_ = false;
    listening = true;
    thread_ = std::thread(&networkManage::acceptThread, this);
    platform::nameThread(thread_, "tcp");
    return 0;
}

void networkManage::stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    waker_.wake();
    end_rests();
    thread_.join();
    tell_counts(true);
    for (Client& c : list_) {
        pthread_join(c.thread, nullptr);
        ::close(c.fd);
        c.waker.close();
    }
    list_.clear();
    clients = 0;
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
    listening = false;
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
    const std::string name = comm::peer_name(a);
    const size_t bound = limits.max_clients.load();
    if (list_.size() >= bound) {
        const Census now = census();
        // Clients ended finish the command under way on their threads.
        const bool crowded = list_.size() >= kThreadsPerPlace * bound;
        if (crowded || (now.placed.size() >= bound && !evict_silent(name, now.placed))) {
            refuse(fd, a);
            return true;
        }
        // Closed clients hold no place, but a PC may leave any amount of work behind its FIN:
        // as many as the places run on, and a new client ends the first of them.
        if (now.closed.size() >= bound) cut_first_closed(name, now.closed);
    }
    // A PC that vanishes without closing (switched off, cable pulled) is found by keep-alive
    // probes after about 90 s of silence, so its socket and buffers do not pile up.
    const int on = 1, idle = 60, interval = 10, count = 3;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    // Replies are whole frames sent as they are made: none should wait for the PC's ACK.
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Client& c = list_.emplace_back();
    c.server = this;
    c.fd = fd;
    c.address = a.sin_addr.s_addr;
    c.name = name;
    c.heard_ms = now_ms();
    c.session = std::make_unique<link_session>(LinkKind::Tcp, name);
    c.waker.open();
    ++clients;  // before its thread may answer: a PC that got a reply is counted
    if (c.waker.fd[0] < 0 || !start_client_thread(c)) {
        --clients;
        ::close(fd);
        c.waker.close();
        list_.pop_back();
        writeLogMsg(1, "TCP server: no thread for a new client");
        ZEM_DEBUG("\n TCP server: no thread for client %s \n", name.c_str());
        return false;
    }
    return true;
}

// The clients neither ending nor evicted: those closed by their peer, whatever they run, hold no
// place (the box can't tell a close from a half close before a reply brings back a reset, and a
// closed PC's command runs on for nobody); the others do. Their sockets stay open until the
// accept thread closes them, so they may be looked at here.
networkManage::Census networkManage::census() {
    Census out;
    for (Client& c : list_) {
        if (c.leaving || c.evicted) continue;
        if (c.fin_seen == 0 && socket_events(c.fd, POLLRDHUP) != 0) saw_fin(c);
        (c.fin_seen != 0 ? out.closed : out.placed).push_back(&c);
    }
    return out;
}

// Its order among the FINs seen, unless seen before (by its thread or the accept thread).
void networkManage::saw_fin(Client& c) {
    uint64_t unseen = 0;
    if (c.fin_seen == 0) c.fin_seen.compare_exchange_strong(unseen, ++fins_seen_);
}

// Ends the closed client whose FIN was seen first, whether it reads or not: its frames not yet
// run are dropped, as for a reset, and its thread ends after the command under way.
void networkManage::cut_first_closed(const std::string& newcomer,
                                     const std::vector<Client*>& closed) {
    Client& first = **std::min_element(closed.begin(), closed.end(), [](Client* x, Client* y) {
        return x->fin_seen < y->fin_seen;
    });
    oust(first);
    ++counts.cut;
    tell_first(cuts_,
               "TCP client " + first.name + " ended: closed with commands left, for " + newcomer,
               "ended");
}

void networkManage::oust(Client& c) {
    c.evicted = true;
    c.waker.wake();
    end_rests();
}

// Gives a silent client's place to the newcomer: among those silent for limits.silence_ms, the one
// whose address holds the most places (a tool that leaks sockets before a lone idle PC), then
// the one silent longest. False when none is silent.
bool networkManage::evict_silent(const std::string& newcomer, const std::vector<Client*>& placed) {
    const int64_t now = now_ms();
    Client* victim = nullptr;
    size_t victim_share = 0;
    for (Client* c : placed) {
        if (!c->quiet || now - c->heard_ms < int64_t(limits.silence_ms.load())) continue;
        const size_t share = size_t(std::count_if(
            placed.begin(), placed.end(), [c](Client* o) { return o->address == c->address; }));
        const bool before = !victim || share > victim_share ||
                            (share == victim_share && c->heard_ms < victim->heard_ms);
        if (!before) continue;
        victim = c;
        victim_share = share;
    }
    if (!victim) return false;
    oust(*victim);
    ++counts.evicted;
    char line[200];
    std::snprintf(line, sizeof line,
                  "TCP client %s dropped: silent for %lld s, its place given to %s",
                  victim->name.c_str(), static_cast<long long>((now - victim->heard_ms) / 1000),
                  newcomer.c_str());
    log_line(line);
    return true;
}

// A connect flood is told as its first refusal, then a line a minute at most with the count.
// The line names the limit that refused: the places, or the threads of clients that left but
// still finish their commands.
void networkManage::refuse(int fd, const sockaddr_in& a) {
    ++counts.refused;
    const size_t bound = limits.max_clients.load();
    const std::string places = std::to_string(bound);
    const std::string why =
        list_.size() >= kThreadsPerPlace * bound
            ? std::to_string(list_.size()) + " client threads still running (" + places + " places)"
            : places + " clients connected";
    tell_first(refusals_, "TCP client " + comm::peer_name(a) + " refused: " + why, "refused");
    ::close(fd);  // after the line: a PC that sees its close finds it said
}

// The refusals and closed clients ended counted since their last lines, when due or at_end.
void networkManage::tell_counts(bool at_end) {
    const uint64_t now = platform::nowMs();
    tell_count(refusals_.take(now, at_end), "clients refused");
    tell_count(cuts_.take(now, at_end), "closed clients ended");
}

// When the next count falls due; 0 when none waits.
uint64_t networkManage::counts_due_ms() const {
    const uint64_t a = refusals_.due_ms(), b = cuts_.due_ms();
    return a && b ? std::min(a, b) : a + b;
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

// A client's thread: handles what the client sent, frame by frame while its replies have room,
// and sleeps in poll() until the client sends, takes its replies, leaves, loses its place or
// the server stops. Ends when the client has gone, or has closed its side and taken every
// reply.
void networkManage::serve(Client& c) {
    c.rx.resize(kReadChunk);
    pollfd fds[3] = {{c.fd, 0, 0}, {waker_.fd[0], POLLIN, 0}, {c.waker.fd[0], POLLIN, 0}};
    while (!c.done) {
        handle_received(c);
        if (c.done || (c.input_ended && queued(c) == 0)) break;
        // Released by the last flush with frames still received: they go first.
        if (!c.held && c.rx_at < c.rx_end) continue;
        wait_for_socket(c, fds);
    }
    leave(c);
}

// Handles the received frames one at a time until its replies reach kMaxQueued; each reply
// leaves as soon as its frame is handled. Between two frames, a client that has gone or lost
// its place, or a server that stops, ends it at once: not after the rest of what it sent. A
// reply sent to a closed peer brings back its reset, so a PC that closed after queuing long
// commands has only its first one run.
void networkManage::handle_received(Client& c) {
    const link_session::SendFn queue = [&](const uint8_t* wire, uint32_t len) {
        queue_reply(c, wire, len);
    };
    while (c.rx_at < c.rx_end && !c.held) {
        const uint32_t frames = c.session->phy.frames;
        c.rx_at += c.session->feed_one(c.rx.data() + c.rx_at, c.rx_end - c.rx_at, queue);
        if (c.session->phy.frames != frames) heard(c);
        // Idle once its last reply is sent: marked before, as the client may act on the reply
        // at once.
        if (c.rx_at == c.rx_end) c.quiet = true;
        if (queued(c) > 0 && !flush(c)) return end(c);
        const short shown = socket_events(c.fd, POLLRDHUP);
        if (shown & POLLRDHUP) saw_fin(c);
        if (stopping_ || c.evicted || (shown & kGone)) return end(c);
        if (queued(c) >= kMaxQueued) {
            hold(c, true);
            if (hooks.on_hold) hooks.on_hold();
        }
    }
    if (queued(c) > 0 && !flush(c)) end(c);
}

// A frame that passed the framer's checks ends the client's silence: bytes that make none
// (noise, a bad check byte) keep no place.
void networkManage::heard(Client& c) {
    c.heard_ms = now_ms();
    last_client = c.fd;
}

// Sleeps until the client sends (unless its replies are held up or it has closed its side),
// its socket takes replies, it goes or loses its place, or the server stops. Waiting replies
// give the socket limits.stall_ms to take a byte.
void networkManage::wait_for_socket(Client& c, pollfd* fds) {
    const bool reading = !c.held && !c.input_ended, writing = queued(c) > 0;
    fds[0].events = short((reading ? POLLIN : 0) | (writing ? POLLOUT : 0));
    const auto stall_end = c.progress + std::chrono::milliseconds(limits.stall_ms.load());
    int timeout = -1;
    if (writing)
        timeout = int(std::max<int64_t>(
            0, std::chrono::ceil<std::chrono::milliseconds>(stall_end - Clock::now()).count()));
    // Idle: a candidate for giving its place, until its next byte comes.
    c.quiet = !writing;
    short ev = 0;
    if (::poll(fds, 3, timeout) < 0) {
        if (errno == EINTR || !retry_wait(c, errno, writing)) return;
        ev = fds[0].events;  // tried as it is: the socket does not block
    } else {
        c.failing = {};
        if (fds[1].revents || fds[2].revents) return end(c);  // the stop, or its place is taken
        ev = fds[0].revents;
    }
    if ((ev & POLLOUT) && !flush(c)) return end(c);
    if (ev & kGone) return end(c);
    if (ev & POLLIN) receive(c);
    if (c.done) return;
    if (queued(c) > 0 &&
        Clock::now() >= c.progress + std::chrono::milliseconds(limits.stall_ms.load())) {
        ++counts.stalled;
        return end(c, "its replies were not read");
    }
}

// A wait that fails for a reason that passes (out of memory, a descriptor limit lowered below the
// sockets waited on) is tried again after a pause, as the accept thread's is, and the socket is
// tried meanwhile: a PC that sends is answered, one that leaves is let go. The client is ended
// when the failure outlasts its stall time (replies waiting) or its silence time, or at once for
// another reason. False when it is ended.
bool networkManage::retry_wait(Client& c, int err, bool writing) {
    ZEM_DEBUG("\n TCP client %s: poll failed (%d) \n", c.name.c_str(), err);
    const auto now = Clock::now();
    if (c.failing == Clock::time_point{}) c.failing = now;
    const auto until =
        c.failing + std::chrono::milliseconds(writing ? limits.stall_ms : limits.silence_ms);
    const bool passing = err == ENOMEM || err == EINVAL || err == EAGAIN;
    if (!passing || now >= until) {
        end(c, "its socket could not be waited on");
        return false;
    }
    ++counts.retried;
    rest(std::min<std::chrono::milliseconds>(
             kWaitRetry, std::chrono::ceil<std::chrono::milliseconds>(until - now)),
         &c);
    if (stopping_ || c.evicted) {
        end(c);
        return false;
    }
    return true;
}

void networkManage::hold(Client& c, bool on) {
    if (c.held == on) return;
    c.held = on;
    if (on)
        ++counts.held_up;
    else
        --counts.held_up;
}

void networkManage::receive(Client& c) {
    const ssize_t n = ::recv(c.fd, c.rx.data(), c.rx.size(), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n < 0) return end(c);
    // A FIN ends the reading only: the replies to what came before it still go out.
    if (n == 0) {
        c.input_ended = true;
        saw_fin(c);
        return;
    }
    c.quiet = false;
    c.rx_at = 0;
    c.rx_end = size_t(n);
}

void networkManage::end(Client& c, const char* why) {
    c.done = true;
    c.why = why;
}

void networkManage::queue_reply(Client& c, const uint8_t* wire, uint32_t len) {
    if (queued(c) == 0) {
        c.out.clear();
        c.progress = Clock::now();  // the socket's time to take them starts now
    } else {
        c.out.erase(c.out.begin(), c.out.begin() + long(c.sent));
    }
    c.sent = 0;
    c.out.insert(c.out.end(), wire, wire + len);
}

// Sends what the socket takes now; false when the client is gone. The client is held only
// while replies wait, whether the queue empties here or on its next wait.
bool networkManage::flush(Client& c) {
    const bool alive = send_queued(c);
    if (queued(c) < kMaxQueued / 2) hold(c, false);
    return alive;
}

bool networkManage::send_queued(Client& c) {
    while (c.sent < c.out.size()) {
        const ssize_t n =
            ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.sent += size_t(n);
            c.progress = Clock::now();
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
            return false;
        }
    }
    // A burst's large queue is given back once sent and the received chunk is handled, so idle
    // clients hold no more than a reply.
    if (c.out.capacity() > kKeptQueue && c.rx_at == c.rx_end)
        std::vector<uint8_t>().swap(c.out);
    else
        c.out.clear();
    c.sent = 0;
    return true;
}

// The end of a client's thread: its buffers go now, and the peer is told; its socket, waker
// and thread go when the accept thread joins it.
void networkManage::leave(Client& c) {
    c.leaving = true;
    hold(c, false);
    if (c.why) {
        char line[160];
        std::snprintf(line, sizeof line, "TCP client %s dropped: %s", c.name.c_str(), c.why);
        log_line(line);
    }
    ::shutdown(c.fd, SHUT_RDWR);
    c.session.reset();
    std::vector<uint8_t>().swap(c.out);
    std::vector<uint8_t>().swap(c.rx);
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
        ::close(it->fd);
        it->waker.close();
        it = list_.erase(it);
        --clients;
        any = true;
    }
    // The C library keeps the freed buffers of many clients otherwise, and the box has little
    // memory to spare.
    if (any && list_.empty()) platform::releaseFreeMemory();
}

// Takes new clients and joins the threads of those that left; the clients' own threads serve
// them. Sleeps in poll() without a timeout, but for the retry of a paused accept and the count
// of refusals waiting to be told. A poll that fails (out of memory, descriptors) is tried
// again after a pause, clients that left being joined meanwhile; new clients wait in the
// listening socket's backlog until then.
void networkManage::acceptThread() {
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
        if (const uint64_t due = counts_due_ms()) {
            const uint64_t now = platform::nowMs();
            const int until = due > now ? int(std::min<uint64_t>(due - now, kLogRepeatMs)) : 0;
            timeout = timeout < 0 ? until : std::min(timeout, until);
        }
        if (::poll(fds, 3, timeout) < 0) {
            if (errno != EINTR) wait_failed(errno, kWaitRetry);
            continue;
        }
        if (!listening) {
            writeLogMsg(1, "TCP server: listening again");
            listening = true;
        }
        if (fds[2].revents & POLLIN) left_.drain();
        // A place freed by a client that left is taken by the next one.
        reap_finished();
        if ((fds[0].revents & POLLIN) && !accept_client()) {
            accept_paused_ = true;
            retry = Clock::now() + kWaitRetry;
        }
        tell_counts(false);  // a minute after the last line, when none came to say it
    }
}

// The accept thread cannot wait: new clients are taken no more until a wait works again, the
// connected ones are served and those that left are joined meanwhile.
void networkManage::wait_failed(int err, std::chrono::milliseconds pause) {
    if (listening) {
        listening = false;
        char line[120];
        std::snprintf(line, sizeof line, "TCP server: poll failed (%s), new clients wait",
                      std::strerror(err));
        writeLogMsg(1, "TCP server: poll failed", line);
    }
    reap_finished();
    rest(pause);
}

// Sleeps for pause, cut short by the stop, or by the ousting of c.
void networkManage::rest(std::chrono::milliseconds pause, const Client* c) {
    zem::MutexLocker lock(pause_mutex_);
    pause_cv_.wait_for(lock, pause, [&] { return stopping_.load() || (c && c->evicted.load()); });
}

// Threads resting after a failed wait look again at what cuts their rest short.
void networkManage::end_rests() {
    { zem::MutexLocker lock(pause_mutex_); }
    pause_cv_.notify_all();
}
