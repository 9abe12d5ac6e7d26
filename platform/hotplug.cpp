#include "platform/hotplug.h"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "core/thread_safety.h"
#include "platform/box.h"

namespace platform {
namespace {

class NetlinkHotplug : public HotplugSource {
public:
    NetlinkHotplug(int fd, int wake_fd) : fd_(fd), wake_fd_(wake_fd) {}
    ~NetlinkHotplug() override {
        ::close(fd_);
        ::close(wake_fd_);
    }
    int wait(std::string& event, int timeout_ms) override {
        pollfd p[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
        const int r = ::poll(p, 2, timeout_ms);
        if (r <= 0) return r < 0 && errno != EINTR ? -errno : 0;
        if (p[1].revents) return 0;  // interrupted: stays readable, so later waits end too
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return 0;
        event.assign(buf, size_t(n));
        return 1;
    }
    void interrupt() override {
        const uint64_t one = 1;
        if (::write(wake_fd_, &one, sizeof one) < 0) {
            // Only a counter overflow fails, and then the source is interrupted already.
        }
    }

private:
    int fd_;
    int wake_fd_;
};

struct SimQueue {
    zem::Mutex mutex;
    zem::ConditionVariable cv;
    std::deque<std::string> events GUARDED_BY(mutex);
};
SimQueue& simQueue() {
    static SimQueue* q = new SimQueue;  // shared by the test thread and the watcher, never freed
    return *q;
}

class SimHotplug : public HotplugSource {
public:
    int wait(std::string& event, int timeout_ms) override {
        zem::MutexLocker lock(q_.mutex);
        auto ready = [&]() REQUIRES(q_.mutex) { return interrupted_ || !q_.events.empty(); };
        if (timeout_ms < 0)
            q_.cv.wait(lock, ready);
        else if (!q_.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready))
            return 0;
        if (interrupted_) return 0;
        event = q_.events.front();
        q_.events.pop_front();
        return 1;
    }
    void interrupt() override {
        zem::MutexLocker lock(q_.mutex);
        interrupted_ = true;
        q_.cv.notify_all();
    }

private:
    SimQueue& q_ = simQueue();
    bool interrupted_ GUARDED_BY(q_.mutex) = false;
};

}  // namespace

std::unique_ptr<HotplugSource> openHotplug() {
    if (simulated()) return std::make_unique<SimHotplug>();
    if (!onBox()) return nullptr;
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) return nullptr;
    sockaddr_nl a{};
    a.nl_family = AF_NETLINK;
    a.nl_pid = 0;
    a.nl_groups = 1;  // the kernel's uevent group
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        if (wake >= 0) ::close(wake);
        return nullptr;
    }
    return std::make_unique<NetlinkHotplug>(fd, wake);
}

namespace sim {
void injectHotplug(const std::string& event) {
    SimQueue& q = simQueue();
    zem::MutexLocker lock(q.mutex);
    q.events.push_back(event);
    q.cv.notify_all();
}

void dropHotplugEvents() {
    SimQueue& q = simQueue();
    zem::MutexLocker lock(q.mutex);
    q.events.clear();
}
}  // namespace sim

}  // namespace platform
