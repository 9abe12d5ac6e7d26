#include "simctl/sim_control.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
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
#include "fpga/fpga_manage.h"
#include "fpga/rcv_job_events.h"
#include "fpga/usb_upgrade.h"
#include "platform/box.h"
#include "platform/sim/sim_usb_disk.h"
#include "platform/thread_name.h"

sim_control* sim_control::p_sim_control = nullptr;

namespace {

constexpr const char* kSocket = "/sim/ctl";
constexpr int kLineWaitMs = 5000;      // a client that connects and sends nothing is dropped
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

SimArgs words(const std::string& line) {
    std::istringstream in(line);
    SimArgs w;
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

// Reads one line (up to the new line or the end of what the client sends); false when the
// client sends nothing in time, or too much.
bool readLine(int fd, std::string& line) {
    char buf[256];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kLineWaitMs) <= 0) return false;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return !line.empty();
        line.append(buf, size_t(n));
        const size_t nl = line.find('\n');
        if (nl != std::string::npos) {
            line.resize(nl);
            return true;
        }
        if (line.size() > size_t(sim_control::kLineLimit)) return false;
    }
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
    // The jobs' ends, kept for status; direct connections, so the FPGA thread writes them.
    // Through context_, so that they end with the channel: the senders outlive it.
    if (fpga_manage* fpga = fpga_manage::p_fpga_manage) {
        QObject::connect(
            fpga->job_events, &rcv_job_events::sig_recovery_list, &context_,
            [this](const QStringList& list, const QStringList& silent_nets) {
                std::lock_guard<std::mutex> lock(results_mutex_);
                results_.queried = true;
                results_.recovery_list = list;
                results_.silent_nets = silent_nets;
                results_.recovery_fault = kRecoveryNoFault;
            },
            Qt::DirectConnection);
        QObject::connect(
            fpga->job_events, &rcv_job_events::sig_recovery_failed, &context_,
            [this](int fault) {
                std::lock_guard<std::mutex> lock(results_mutex_);
                results_.queried = true;
                results_.silent_nets.clear();
                results_.recovery_fault = fault;
            },
            Qt::DirectConnection);
    }
    QObject::connect(
        usb_upgrade_report::pInstance(), &usb_upgrade_report::sig_usb_upgrade_result, &context_,
        [this](int installed, int failed, int refused) {
            std::lock_guard<std::mutex> lock(results_mutex_);
            results_.upgraded = true;
            results_.installed = installed;
            results_.failed = failed;
            results_.refused = refused;
        },
        Qt::DirectConnection);
}

sim_control::JobResults sim_control::jobResults() const {
    std::lock_guard<std::mutex> lock(results_mutex_);
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
        ::listen(listen_fd_, 4) != 0) {
        std::fprintf(stderr, "control channel %s not opened: %s\n", file.c_str(),
                     std::strerror(errno));
        if (listen_fd_ >= 0) ::close(listen_fd_);
        listen_fd_ = -1;
        return 255;
    }
    removeAtExit();
    waker_.open();
    stopping_ = false;
    thread_ = std::thread(&sim_control::acceptThread, this);
    platform::nameThread(thread_, "sim-ctl");
    return 0;
}

void sim_control::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(pause_mutex_);
        stopping_ = true;
    }
    pause_cv_.notify_all();
    waker_.wake();
    thread_.join();
    ::close(listen_fd_);
    listen_fd_ = -1;
    waker_.close();
}

void sim_control::acceptThread() {
    while (!stopping_) {
        // Sleeps until a client comes or stop() wakes it.
        pollfd p[2] = {{listen_fd_, POLLIN, 0}, {waker_.fd[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno != EINTR) waitFailed("poll", errno);
            continue;
        }
        if (stopping_ || !(p[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // No descriptor or memory for the client: it waits in the backlog meanwhile.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                waitFailed("accept", errno);
            continue;
        }
        if (failing_) {
            ZEM_DEBUG("\n control channel: answering again \n");
            failing_ = false;
        }
        serve(fd);
        ::close(fd);
    }
}

// A wait or an accept that fails for a reason that passes (a descriptor limit lowered below the
// sockets waited on, no memory) is tried again after a pause, cut short by stop().
void sim_control::waitFailed(const char* what, int err) {
    if (!failing_)
        ZEM_DEBUG("\n control channel: %s failed (%s), commands wait \n", what, std::strerror(err));
    failing_ = true;
    std::unique_lock<std::mutex> lock(pause_mutex_);
    pause_cv_.wait_for(lock, kFailedWaitPause, [this] { return stopping_.load(); });
}

void sim_control::serve(int fd) {
    std::string line;
    if (!readLine(fd, line)) {
        sendAll(fd, "error: send one command line of at most " + std::to_string(kLineLimit) +
                        " bytes\n");
        return;
    }
    sendAll(fd, execute(line) + "\n");
}

std::string sim_control::execute(const std::string& line) {
    if (line.size() > size_t(kLineLimit)) return "error: the line is longer than 512 bytes";
    return sim_control_dispatch(words(line));
}

namespace {

// A command's work for the main thread, and its answer.
struct PanelCall {
    std::function<std::string()> work;
    std::mutex mutex;
    std::condition_variable done_cv;
    bool done = false;
    std::string answer;
};

// Calls handed to the main thread. They travel through this queue under its mutex, not inside
// the posted event: Qt's event queue synchronises with a futex ThreadSanitizer does not see.
struct PanelQueue {
    std::mutex mutex;
    std::deque<std::shared_ptr<PanelCall>> calls;
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
        std::lock_guard<std::mutex> lock(q.mutex);
        if (q.calls.empty()) return;
        call = q.calls.front();
        q.calls.pop_front();
    }
    std::string answer = call->work();
    std::lock_guard<std::mutex> lock(call->mutex);
    call->answer = std::move(answer);
    call->done = true;
    call->done_cv.notify_all();
}

}  // namespace

std::string sim_control_on_panel(const std::function<std::string()>& work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return "error: the panel is not running";
    auto call = std::make_shared<PanelCall>();
    call->work = work;
    {
        PanelQueue& q = panelQueue();
        std::lock_guard<std::mutex> lock(q.mutex);
        q.calls.push_back(call);
    }
    QMetaObject::invokeMethod(
        app, [] { runPanelCall(); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(call->mutex);
    if (!call->done_cv.wait_for(lock, std::chrono::seconds(kPanelWaitSeconds),
                                [&] { return call->done; }))
        return "error: the panel did not answer within " + std::to_string(kPanelWaitSeconds) + " s";
    return call->answer;
}
