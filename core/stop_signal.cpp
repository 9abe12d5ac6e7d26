#include "core/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "core/console.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"
#include "platform/thread_name.h"

namespace stop_signal {
namespace {

constexpr auto kMainThreadTime = std::chrono::seconds(2);
// The store's last file work at a stop: its fullest line, a job for each of the 16 user modes
// and the parameter file, each written, synced and paused, takes a few seconds on the box.
constexpr auto kDrainBound = std::chrono::seconds(10);
constexpr int kHooks = 4;

int g_pipe[2] = {-1, -1};
std::atomic<void (*)()> g_hooks[kHooks] = {};
std::atomic<int> g_hook_count{0};

void onSignal(int sig) {
    const int err = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    const ssize_t written = ::write(g_pipe[1], &byte, 1);  // full: stops enough are under way
    static_cast<void>(written);
    errno = err;
}

void runHooks() {
    const int n = g_hook_count.load();
    for (int i = 0; i < n && i < kHooks; ++i)
        if (void (*hook)() = g_hooks[i].load()) hook();
}

// The end the signal would have made: its default action, raised again in this thread, once the
// console's writers have written what they hold (within their bound: a terminal that takes no
// more holds no stop up).
[[noreturn]] void endBy(int sig) {
    console::finish();
    ::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);  // a signal whose default action does not end the program
}

// The signal the pipe's thread hands the main thread, and the eventfd it wakes the main
// thread's loop with (through a socket notifier): no Qt event or functor made on that thread,
// since Qt's event queue synchronises with a futex ThreadSanitizer does not see.
std::atomic<int> g_signal{0};
int g_wake = -1;

// Who does the stop's work: the main thread, or the pipe's thread when the main thread has not
// begun it in time. Once, whichever comes first.
enum StopOwner { kNobody, kMainThread, kPipeThread };
std::atomic<int> g_stop_owner{kNobody};

TestHooks g_test_hooks;

// From here on no PC frame is answered as done: a frame answered 0 is one the stop's work takes.
void refuseFrames() {
    g_frames_refused = true;
}

// The stop's work, in order, the same on either thread: the store's last requests are taken
// (under the C331 mutex, so no handler is between its check and its take) and every job waiting
// is written, within its bound; the errors held back are said; the hooks run.
void stopWork() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
    if (ZemRamPara* store = ZemRamPara::p_zemrampara_config) {
        store->take_last_requests();
        if (const int left = store->saver.finish(kDrainBound))
            console::line(console::kErr, "stop: " + std::to_string(left) +
                                             " file jobs of the parameter store not written in " +
                                             std::to_string(kDrainBound.count()) + " s");
        store->say_failed_files_now();
    }
    writeLogMsgFlush();
    runHooks();
}

void end(int sig) {
    if (g_test_hooks.end)
        g_test_hooks.end(sig);
    else
        endBy(sig);
}

void stopOnMainThread() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
    // Read whoever owns the stop: the notifier stays quiet while the pipe's thread drains.
    uint64_t woken = 0;
    static_cast<void>(::read(g_wake, &woken, sizeof woken));
    int nobody = kNobody;
    if (!g_stop_owner.compare_exchange_strong(nobody, kMainThread)) return;
    stopWork();
    end(g_signal.load());
}

// Reads the signals from the pipe: the first refuses frames at once and has the main thread stop
// the program (through the application's event loop); this thread does the stop itself when the
// main thread has not begun it in time.
// It waits in poll(), which a signal always interrupts: ThreadSanitizer runs a handler only once
// the call that caught the signal returns, and a read would be restarted.
void readSignals() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
    pollfd readable{g_pipe[0], POLLIN, 0};
    while (::poll(&readable, 1, -1) < 0 && errno == EINTR) {
    }
    unsigned char byte = 0;
    ssize_t n;
    while ((n = ::read(g_pipe[0], &byte, 1)) < 0 && errno == EINTR) {
    }
    if (n != 1) return;
    const int sig = byte;
    refuseFrames();
    g_signal.store(sig);
    const uint64_t one = 1;
    const ssize_t woken = ::write(g_wake, &one, sizeof one);  // else the wait below ends it
    static_cast<void>(woken);
    std::this_thread::sleep_for(kMainThreadTime);
    int nobody = kNobody;
    if (g_stop_owner.compare_exchange_strong(nobody, kPipeThread)) {
        stopWork();
    } else {
        // The main thread is at it: its drain has its bound, and the program ends past it.
        std::this_thread::sleep_for(kDrainBound + kMainThreadTime);
        runHooks();
    }
    end(sig);
}

bool failsForTest(const char* call) {
    if (!g_test_hooks.fail || !g_test_hooks.fail(call)) return false;
    errno = EMFILE;
    return true;
}

// The signals keep their default action: the stop's work is not done.
void sayNotInstalled(const char* call, int err) {
    console::line(console::kErr, std::string("stop: ") + call + " failed (" + std::strerror(err) +
                                     "): a signal ends the program at once, without the stop's "
                                     "work");
}

}  // namespace

void install() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || g_pipe[0] >= 0) return;
    if (failsForTest("pipe2") || ::pipe2(g_pipe, O_CLOEXEC) != 0) {
        sayNotInstalled("pipe2", errno);
        return;
    }
    ::fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);  // the handler never waits
    if (failsForTest("eventfd") || (g_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) < 0) {
        const int err = errno;
        for (int& end : g_pipe) {
            ::close(end);
            end = -1;  // nothing half made: a later install starts afresh
        }
        sayNotInstalled("eventfd", err);
        return;
    }
    auto* stop = new QSocketNotifier(g_wake, QSocketNotifier::Read, app);
    QObject::connect(stop, &QSocketNotifier::activated, [] { stopOnMainThread(); });
    struct sigaction a {};
    a.sa_handler = onSignal;
    a.sa_flags = SA_RESTART;
    sigemptyset(&a.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &a, nullptr);
    }
    std::thread reader(readSignals);
    platform::nameThread(reader, "signals");
    reader.detach();
}

void runStopWork() {
    refuseFrames();
    stopWork();
}

void resetAfterStopWork() {
    g_frames_refused = false;
}

TestHooks& hooks() {
    return g_test_hooks;
}

int wakeDescriptor() {
    return g_wake;
}

void addHook(void (*hook)()) {
    const int i = g_hook_count.load();
    if (i >= kHooks) return;
    g_hooks[i].store(hook);
    g_hook_count.store(i + 1);
}

}  // namespace stop_signal
