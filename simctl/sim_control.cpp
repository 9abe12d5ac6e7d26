#include "simctl/sim_control.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <sstream>

#include "core/globals.h"
#include "core/singleton.h"
#include "core/stop_signal.h"
#include "core/thread_safety.h"
#include "fpga/fpga_manage.h"
#include "fpga/usb_upgrade.h"
#include "platform/box.h"
#include "platform/sim/sim_usb_disk.h"
#include "platform/thread_name.h"

sim_control* sim_control::p_sim_control = nullptr;

namespace {

constexpr const char* kSocket = "/sim/ctl";
constexpr int kLineWaitMs = 5000;  // each client's, for its line: one that sends none is dropped
constexpr int kBacklog = 64;
// Clients whose lines are read at once; more wait in the backlog to be accepted.
constexpr size_t kReadingLimit = 64;
constexpr int kPanelWaitSeconds = 10;  // the GUI thread may be busy drawing a page
constexpr std::chrono::seconds kFailedWaitPause{1};

// A stopped box must not pass for a running one: at a clean exit (the end of the program,
// Ctrl-C, SIGTERM, SIGHUP) its socket, its links file and the list of its serial ports (whose
// pseudo-terminals end with it) go, and its USB disk's mount point is an empty folder again.
const std::string* g_leftovers[3] = {};

void removeLeftovers() {
    for (const std::string* file : g_leftovers)
        if (file) ::unlink(file->c_str());
    platform::sim::SimUsbDisk::clearMountAtStop();
}

void removeAtExit() {
    if (g_leftovers[0]) return;
    g_leftovers[0] = new std::string(platform::path(kSocket));
    g_leftovers[1] = new std::string(platform::path("/sim/links"));
    g_leftovers[2] = new std::string(platform::path("/sim/serial-ports"));
    std::atexit(removeLeftovers);
    stop_signal::addHook(removeLeftovers);
}

// The command the channel's thread serves, and by when its client listens: a line may start
// with "@MS ", MS the boot clock's millisecond (CLOCK_BOOTTIME, that of /proc/uptime) after
// which the client no longer waits. The thread that comes to run a command past that drops it;
// one that runs it in time first answers "taken", so that a client that gives up meanwhile knows
// it may still be carried out.
struct Request {
    int fd = -1;
    int64_t deadline_ms = -1;  // none
    bool taken = false;
};
thread_local Request* t_request = nullptr;

int64_t bootMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool expired(int64_t deadline_ms) {
    return deadline_ms >= 0 && bootMs() > deadline_ms;
}

// Takes a leading "@MS " off line into deadline_ms; false when MS is no number.
bool takeDeadline(std::string& line, int64_t& deadline_ms) {
    if (line.empty() || line[0] != '@') return true;
    const size_t end = line.find(' ');
    const std::string ms = line.substr(1, end == std::string::npos ? end : end - 1);
    if (ms.empty() || ms.size() > 18 || ms.find_first_not_of("0123456789") != std::string::npos)
        return false;
    deadline_ms = std::stoll(ms);
    line.erase(0, end == std::string::npos ? line.size() : end + 1);
    return true;
}

void sendAll(int fd, const std::string& text);
void listenOnPanel();

// On the channel's thread: "taken" to a client that gave a deadline, once.
void tellTaken() {
    if (!t_request || t_request->deadline_ms < 0 || t_request->taken) return;
    t_request->taken = true;
    sendAll(t_request->fd, "taken\n");
}

SimArgs words(const std::string& line) {
    std::istringstream in(line);
    SimArgs w;
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

// What a client sent, taken into its line: Whole once the line ends (at its new line, or at the
// end of what the client sends), Bad when it sends nothing or too much, More while more may come.
enum class Input { More, Whole, Bad };
Input takeInput(int fd, std::string& line) {
    char buf[256];
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0) return errno == EINTR || errno == EAGAIN ? Input::More : Input::Bad;
    if (n == 0) return line.empty() ? Input::Bad : Input::Whole;
    line.append(buf, size_t(n));
    const size_t nl = line.find('\n');
    if (nl != std::string::npos) {
        line.resize(nl);
        return Input::Whole;
    }
    return line.size() > size_t(sim_control::kLineLimit) ? Input::Bad : Input::More;
}

void sendAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += size_t(n);
    }
}

}  // namespace

sim_control* sim_control::pInstance() {
    if (!p_sim_control) p_sim_control = new sim_control;
    return p_sim_control;
}

void sim_control::shutdown() {
    release_singleton(p_sim_control);
}

sim_control::sim_control() {
    listenOnPanel();
    // The USB upgrade's end, kept for status; a direct connection, so the FPGA thread writes it.
    // Through context_, so that it ends with the channel: the sender outlives it.
    QObject::connect(
        usb_upgrade_report::pInstance(), &usb_upgrade_report::sig_usb_upgrade_result, &context_,
        [this](int installed, int failed, int refused, int, int, int not_read) {
            zem::MutexLocker lock(results_mutex_);
            results_.upgraded = true;
            results_.installed = installed;
            results_.failed = failed;
            results_.refused = refused;
            results_.not_read = not_read;
        },
        Qt::DirectConnection);
}

sim_control::JobResults sim_control::jobResults() const {
    zem::MutexLocker lock(results_mutex_);
    return results_;
}

int sim_control::checkSocketPath() {
    const std::string file = platform::path(kSocket);
    if (file.size() < sizeof(sockaddr_un::sun_path)) return 0;
    std::fprintf(stderr,
                 "error: control channel %s not opened: the path is longer than %zu bytes\n",
                 file.c_str(), sizeof(sockaddr_un::sun_path) - 1);
    return 255;
}

int sim_control::open() {
    if (!platform::simulated() || thread_.joinable() || checkSocketPath() != 0) return 255;
    const std::string file = platform::path(kSocket);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (const int rc = platform::makeParentDirs(kSocket)) {
        std::fprintf(stderr, "control channel %s not opened: %s\n", file.c_str(),
                     std::strerror(-rc));
        return 255;
    }
    std::memcpy(a.sun_path, file.c_str(), file.size() + 1);
    ::unlink(file.c_str());  // left by an earlier run of this box: this one holds the root's lock
    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_fd_, kBacklog) != 0) {
        std::fprintf(stderr, "control channel %s not opened: %s\n", file.c_str(),
                     std::strerror(errno));
        if (listen_fd_ >= 0) ::close(listen_fd_);
        listen_fd_ = -1;
        return 255;
    }
    removeAtExit();
    listenOnPanel();
    waker_.open();
    stopping_ = false;
    thread_ = std::thread(&sim_control::acceptThread, this);
    platform::nameThread(thread_, "sim-ctl");
    return 0;
}

void sim_control::stop() {
    if (!thread_.joinable()) return;
    {
        zem::MutexLocker lock(pause_mutex_);
        stopping_ = true;
    }
    pause_cv_.notify_all();
    waker_.wake();
    thread_.join();
    ::close(listen_fd_);
    listen_fd_ = -1;
    waker_.close();
}

// One loop serves every client: it reads each one's line against its own deadline, so a client
// that sends half a line holds up no other; the command of a whole line runs at once.
void sim_control::acceptThread() {
    std::vector<Client> clients;
    while (!stopping_) {
        std::vector<pollfd> p{{waker_.fd[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}};
        if (clients.size() >= kReadingLimit) p.pop_back();  // the rest wait in the backlog
        const size_t first = p.size();
        for (const Client& c : clients) p.push_back({c.fd, POLLIN, 0});
        if (::poll(p.data(), p.size(), untilFirstDeadline(clients)) < 0) {
            if (errno != EINTR) waitFailed("poll", errno);
            continue;
        }
        if (stopping_) break;
        for (size_t i = 0; i < clients.size(); ++i)
            if (p[first + i].revents) readFrom(clients[i]);
        dropLateClients(clients);
        if (first > 1 && (p[1].revents & POLLIN)) acceptClient(clients);
    }
    for (const Client& c : clients) ::close(c.fd);
}

int sim_control::untilFirstDeadline(const std::vector<Client>& clients) {
    if (clients.empty()) return -1;
    int64_t first = clients.front().line_deadline_ms;
    for (const Client& c : clients) first = std::min(first, c.line_deadline_ms);
    return int(std::max<int64_t>(0, first - bootMs()));
}

void sim_control::acceptClient(std::vector<Client>& clients) {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        // No descriptor or memory for the client: it waits in the backlog meanwhile.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
            waitFailed("accept", errno);
        return;
    }
    if (failing_) {
        ZEM_DEBUG("\n control channel: answering again \n");
        failing_ = false;
    }
    clients.push_back({fd, bootMs() + kLineWaitMs, {}});
}

// A client whose line is whole is served and closed (its fd set to -1).
void sim_control::readFrom(Client& c) {
    const Input input = takeInput(c.fd, c.line);
    if (input == Input::More) return;
    if (input == Input::Whole)
        serve(c.fd, c.line);
    else
        refuseLine(c.fd);
    ::close(c.fd);
    c.fd = -1;
}

// A client past its deadline is refused, unless its line came meanwhile (while a command ran).
void sim_control::dropLateClients(std::vector<Client>& clients) {
    const int64_t now = bootMs();
    for (Client& c : clients)
        if (c.fd >= 0 && now >= c.line_deadline_ms) readFrom(c);
    for (Client& c : clients)
        if (c.fd >= 0 && now >= c.line_deadline_ms) {
            refuseLine(c.fd);
            ::close(c.fd);
            c.fd = -1;
        }
    clients.erase(
        std::remove_if(clients.begin(), clients.end(), [](const Client& c) { return c.fd < 0; }),
        clients.end());
}

void sim_control::refuseLine(int fd) {
    sendAll(fd,
            "error: send one command line of at most " + std::to_string(kLineLimit) + " bytes\n");
}

// A wait or an accept that fails for a reason that passes (a descriptor limit lowered below the
// sockets waited on, no memory) is tried again after a pause, cut short by stop().
void sim_control::waitFailed(const char* what, int err) {
    if (!failing_)
        ZEM_DEBUG("\n control channel: %s failed (%s), commands wait \n", what, std::strerror(err));
    failing_ = true;
    zem::MutexLocker lock(pause_mutex_);
    pause_cv_.wait_for(lock, kFailedWaitPause, [this] { return stopping_.load(); });
}

void sim_control::serve(int fd, std::string line) {
    Request request{fd};
    if (!takeDeadline(line, request.deadline_ms)) {
        sendAll(fd, "error: @MS must be a whole number of milliseconds\n");
        return;
    }
    t_request = &request;
    const std::string answer = execute(line);
    t_request = nullptr;
    sendAll(fd, answer + "\n");
}

std::string sim_control::execute(const std::string& line) {
    if (line.size() > size_t(kLineLimit)) return "error: the line is longer than 512 bytes";
    return sim_control_dispatch(words(line));
}

namespace {

// A command's work for the main thread, the client's deadline, and its answer. A call the
// channel gave up on, or whose deadline has passed, is dropped when its turn comes.
struct PanelCall {
    std::function<std::string()> work;  // set before the call is queued, fixed after
    int64_t deadline_ms = -1;           // the same
    zem::Mutex mutex;
    zem::ConditionVariable done_cv;
    bool abandoned GUARDED_BY(mutex) = false;
    bool started GUARDED_BY(mutex) = false;
    bool done GUARDED_BY(mutex) = false;
    std::string answer GUARDED_BY(mutex);
};

// Calls handed to the main thread: the queue under its mutex, and an eventfd whose count the
// main thread's loop reads through a socket notifier. No Qt event or functor is made on the
// channel's thread: Qt's event queue synchronises with a futex ThreadSanitizer does not see.
struct PanelQueue {
    zem::Mutex mutex;
    std::deque<std::shared_ptr<PanelCall>> calls GUARDED_BY(mutex);
    std::atomic<int> wake_fd{-1};
    QPointer<QSocketNotifier> notifier;  // the main thread's
};
PanelQueue& panelQueue() {
    static auto* q = new PanelQueue;  // shared by the channel and the main thread, never freed
    return *q;
}

// On the main thread: the oldest call waiting.
void runPanelCall() {
    std::shared_ptr<PanelCall> call;
    {
        PanelQueue& q = panelQueue();
        zem::MutexLocker lock(q.mutex);
        if (q.calls.empty()) return;
        call = q.calls.front();
        q.calls.pop_front();
    }
    bool started;
    {
        zem::MutexLocker lock(call->mutex);
        if (call->abandoned || expired(call->deadline_ms)) {
            call->answer = kSimControlDropped;
            call->done = true;
        } else {
            call->started = true;
        }
        started = call->started;
    }
    call->done_cv.notify_all();
    if (!started) return;
    std::string answer = call->work();
    zem::MutexLocker lock(call->mutex);
    call->answer = std::move(answer);
    call->done = true;
    call->done_cv.notify_all();
}

// On the main thread, once its application exists: its loop runs the calls the channel hands
// over.
void listenOnPanel() {
    QCoreApplication* app = QCoreApplication::instance();
    PanelQueue& q = panelQueue();
    if (!app || q.notifier) return;
    int fd = q.wake_fd.load();
    // A count of the calls: one call per turn of the loop, after the events posted before it
    // (a key's), as a posted call would run.
    if (fd < 0 && (fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE)) < 0) return;
    q.wake_fd.store(fd);
    q.notifier = new QSocketNotifier(fd, QSocketNotifier::Read, app);
    QObject::connect(q.notifier, &QSocketNotifier::activated, [fd] {
        uint64_t one = 0;
        if (::read(fd, &one, sizeof one) == sizeof one) runPanelCall();
    });
}

}  // namespace

std::string sim_control_on_panel(const std::function<std::string()>& work) {
    PanelQueue& q = panelQueue();
    const int wake_fd = q.wake_fd.load();
    if (!QCoreApplication::instance() || wake_fd < 0) return "error: the panel is not running";
    auto call = std::make_shared<PanelCall>();
    call->work = work;
    if (t_request) call->deadline_ms = t_request->deadline_ms;
    {
        zem::MutexLocker lock(q.mutex);
        q.calls.push_back(call);
    }
    const uint64_t one = 1;
    if (::write(wake_fd, &one, sizeof one) < 0) return "error: the panel could not be woken";
    // A command not taken yet is given up at its client's deadline, so that the channel serves
    // the next one; one taken runs on as long as the panel is given.
    const auto now = std::chrono::steady_clock::now();
    const auto limit = now + std::chrono::seconds(kPanelWaitSeconds);
    auto drop_at = limit;
    if (t_request && t_request->deadline_ms >= 0 && !t_request->taken)
        drop_at =
            std::min(limit, now + std::chrono::milliseconds(t_request->deadline_ms - bootMs()));
    zem::MutexLocker lock(call->mutex);
    bool told = false;
    while (call->done_cv.wait_until(
        lock, call->started ? limit : drop_at,
        [&]() REQUIRES(call->mutex) { return call->done || (call->started && !told); })) {
        if (call->done) return call->answer;
        told = true;
        lock.unlock();
        tellTaken();
        lock.lock();
    }
    if (call->started)
        return "error: the panel did not answer within " + std::to_string(kPanelWaitSeconds) +
               " s; it may still be carried out";
    call->abandoned = true;
    return "error: the panel did not take it in time; not carried out";
}

bool sim_control_take() {
    if (t_request && expired(t_request->deadline_ms)) return false;
    tellTaken();
    return true;
}
