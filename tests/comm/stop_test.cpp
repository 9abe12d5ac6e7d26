// The stop's own work (core/stop_signal.h) on the store the handlers answer for: whichever thread
// does it, no frame is answered as done from the signal on, what was answered before is in the
// files, and the saver takes no job after its drain.
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "c331/c331_manage.h"
#include "comm/comm_hooks.h"
#include "comm_fixture.h"
#include "core/globals.h"
#include "core/saver.h"
#include "core/stop_signal.h"
#include "core/sync_update.h"
#include "core/zem_ram_para.h"
#include "time_factor.h"

namespace {

using std::chrono::seconds;

class StopTest : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        comm_hooks::get().fpgas_running = [] { return false; };
        LogTestHooks::forget();
    }
    void TearDown() override {
        store()->saver.stop();
        store()->saver.hooks = Saver::TestHooks();
        store()->hooks = ZemRamPara::TestHooks();
        stop_signal::resetAfterStopWork();
        comm_hooks::get() = comm_hooks();
        CommTest::TearDown();
    }
    void ok(const Bytes& frame) { ASSERT_EQ(status(handle(frame)), 0); }
    // RAM word addr in the parameter file (its byte 2 holds RAM 768), -1 when too short.
    int fileWord(int addr) const {
        const std::string f = readFile("/data/ram_device_info");
        const size_t at = size_t(2 + addr - 768);
        return f.size() > at + 1 ? uint8_t(f[at]) | uint8_t(f[at + 1]) << 8 : -1;
    }
    int modeFileWord(int mode, int addr) const {
        const std::string f = readFile("/data/modes/custom_mode" + std::to_string(mode));
        const size_t at = size_t(2 + addr - 896);
        return f.size() == 4096 ? uint8_t(f[at]) | uint8_t(f[at + 1]) << 8 : -1;
    }
    // What the saver says when it refuses a job, captured from the terminal.
    static std::string refusalOf(const std::function<void()>& post) {
        testing::internal::CaptureStderr();
        post();
        return testing::internal::GetCapturedStderr();
    }
};

const char* const kParameterFileRefused =
    "saver: the parameter file asked after the stop's file work, not written\n";

// The stop's own work, on the main thread and on another one: a write answered before it is in
// the parameter file though no refresh ran, a frame after it is refused, a job posted after the
// drain is refused with one line; restarted, the box answers and writes again.
TEST_F(StopTest, TheStopsWorkOnEitherThreadTakesWhatWasAnswered) {
    const std::function<void(const std::function<void()>&)> threads[] = {
        [](const std::function<void()>& work) { work(); },
        [](const std::function<void()>& work) { std::thread(work).join(); },
    };
    uint16_t brightness = 30;
    for (const auto& onThread : threads) {
        SCOPED_TRACE(brightness == 30 ? "main thread" : "another thread");
        LogTestHooks::forget();
        store()->saver.start();
        ok(writeRam(2176, le16(brightness)));
        ok(writeReg(11, 0xFF, {0}));  // its refresh never runs: the main thread is elsewhere
        onThread(stop_signal::runStopWork);
        EXPECT_EQ(fileWord(2176), brightness);
        EXPECT_EQ(status(handle(writeRam(2176, le16(5)))), 2) << "never answered as done";
        EXPECT_EQ(store()->rd16(2176), brightness);
        EXPECT_EQ(refusalOf([this] { store()->saver.post_parameter_file(); }),
                  kParameterFileRefused);
        stop_signal::resetAfterStopWork();
        store()->saver.start();
        ok(writeRam(2176, le16(++brightness)));
        brightness += 10;
        pendingApplies();
    }
}

// The stop's pipe or its eventfd not made (no descriptor left): one line on the terminal says
// which and that a signal ends the program without the stop's work; nothing is installed.
TEST_F(StopTest, AStopThatCannotBeInstalledSaysWhyOnce) {
    makeApplication();
    for (const char* call : {"pipe2", "eventfd"}) {
        SCOPED_TRACE(call);
        stop_signal::hooks().fail = [call](const char* c) { return std::strcmp(c, call) == 0; };
        testing::internal::CaptureStderr();
        stop_signal::install();
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  std::string("stop: ") + call +
                      " failed (Too many open files): a signal ends the program at once, "
                      "without the stop's work\n");
        EXPECT_EQ(stop_signal::wakeDescriptor(), -1);
    }
    stop_signal::hooks().fail = nullptr;
}

// The thread that reads the signal refuses frames at once, and does the stop itself when the main
// thread is blocked (here this test's, which never runs its event loop): what was answered before
// the signal is in the files, a frame after it is refused, without waiting the 2 s the main
// thread is given.
TEST_F(StopTest, WithTheMainThreadBlockedTheSignalsThreadTakesWhatWasAnswered) {
    store()->saver.start();
    ok(writeRam(2176, le16(37)));
    ok(writeReg(11, 0xFF, {0}));
    std::promise<int> ended;
    stop_signal::hooks().end = [&ended](int sig) { ended.set_value(sig); };
    makeApplication();
    stop_signal::install();
    pid_t reader = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        if (name == "signals") reader = pid_t(std::stol(task.path().filename().string()));
    }
    ASSERT_GT(reader, 0);
    // To the thread that waits for it: ThreadSanitizer runs a handler only once the call that
    // caught the signal returns.
    ASSERT_EQ(::syscall(SYS_tgkill, ::getpid(), reader, SIGTERM), 0);
    pollfd woken{stop_signal::wakeDescriptor(), POLLIN, 0};
    ASSERT_EQ(::poll(&woken, 1, hangMs(20000)), 1) << "the signal was not taken";
    EXPECT_EQ(status(handle(writeRam(2176, le16(5)))), 2) << "answered as done after the signal";
    std::future<int> end = ended.get_future();
    ASSERT_EQ(end.wait_for(hangBound(seconds(30))), std::future_status::ready);
    EXPECT_EQ(end.get(), SIGTERM);
    EXPECT_EQ(fileWord(2176), 37);
    EXPECT_EQ(store()->rd16(2176), 37);
    // The main thread comes back to its loop late: it reads the wake once and leaves the stop to
    // the thread that owns it, its loop quiet again (no notifier firing at every turn).
    QCoreApplication::processEvents();
    woken.revents = 0;
    EXPECT_EQ(::poll(&woken, 1, 0), 0) << "the wake is still readable: the main loop would spin";
}

// The drain and the thread's end are one step for a post: one made once the line is empty is
// refused with one line, never taken and then dropped with the thread.
TEST_F(StopTest, APostBetweenTheDrainAndTheThreadsEndIsRefused) {
    store()->saver.start();
    ok(writeRam(2176, le16(44)));
    std::string said;
    store()->saver.hooks.after_drain = [&] {
        said = refusalOf([this] { store()->saver.post_parameter_file(); });
    };
    EXPECT_EQ(store()->saver.finish(hangBound(seconds(20))), 0);
    EXPECT_EQ(said, kParameterFileRefused);
    EXPECT_EQ(store()->saver.waiting(), 0);
    EXPECT_FALSE(store()->saver.running());
    EXPECT_NE(fileWord(2176), 44) << "the refused job did not run either";
}

// A post while stop() waits for the thread to end (from a third thread, the thread's end held
// until it returned) is refused with one line: it never lands in a line the thread no longer
// takes, and never reads the thread stop() joins. After stop() jobs run on the caller again.
TEST_F(StopTest, APostWhileTheThreadEndsIsRefused) {
    store()->saver.start();
    ok(writeRam(2176, le16(45)));
    std::string said;
    store()->saver.hooks.at_thread_end = [&] {
        std::thread poster(
            [&] { said = refusalOf([this] { store()->saver.post_parameter_file(); }); });
        poster.join();
    };
    store()->saver.stop();
    EXPECT_EQ(said, kParameterFileRefused);
    EXPECT_EQ(store()->saver.waiting(), 0);
    EXPECT_NE(fileWord(2176), 45);
    store()->saver.post_parameter_file();
    EXPECT_EQ(fileWord(2176), 45) << "without the thread, on the caller";
}

// The FPGA side's last hand-over (a brightness it applied) is in force when the stop comes,
// though no refresh landed it: the stop lands it, and the parameter file holds it.
TEST_F(StopTest, TheStopLandsTheWordsTheFpgaSideHandedOver) {
    store()->saver.start();
    ok(writeRam(2176, le16(40)));
    ok(writeReg(11, 0xFF, {0}));
    uint32_t gen;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        gen = store()->word_gen(2176);
    }
    std::thread([&] { store()->post_word(2176, 60, gen); }).join();
    stop_signal::runStopWork();
    EXPECT_EQ(fileWord(2176), 60);
    stop_signal::resetAfterStopWork();
    store()->saver.start();  // out of its drain, for the next case in this process
}

// A signal that lands between a frame's first check and the store's lock: the write is refused
// under the lock, as the stop's copy of the RAM may already be taken.
TEST_F(StopTest, AWriteReachingTheLockAfterTheSignalIsRefused) {
    struct Row {
        const char* name;
        Bytes frame;
    };
    Bytes slot(ZemRamPara::kModeSize, 0);
    slot[0] = slot[1] = 0xAA;
    const Row rows[] = {
        {"a RAM write", writeRam(2176, le16(77))},
        {"a slot write", writeRam(4u << 12, slot)},
        {"register 11", writeReg(11, 0xFF, {0x04})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ok(writeRam(3u << 12, slot));  // a slot marked saved, for the synchronisation to take
        uint8_t ram[ZemRamPara::kRamSize];
        std::memcpy(ram, store()->ram.data(), sizeof ram);
        uint8_t mode4[ZemRamPara::kModeSize];
        std::memcpy(mode4, store()->mode_ram[3].data(), sizeof mode4);
        std::filesystem::remove(local("/data/modes/custom_mode3"));
        comm_hooks::get().before_store_lock = [] { g_frames_refused = true; };
        EXPECT_EQ(status(handle(row.frame)), 2);
        comm_hooks::get().before_store_lock = nullptr;
        stop_signal::resetAfterStopWork();
        EXPECT_EQ(0, std::memcmp(ram, store()->ram.data(), sizeof ram));
        EXPECT_EQ(0, std::memcmp(mode4, store()->mode_ram[3].data(), sizeof mode4));
        EXPECT_FALSE(exists("/data/modes/custom_mode3")) << "not synchronised";
        store()->reload();
    }
}

// A synchronisation answered while a save's file is written takes the slot as the save left it:
// the file ends as the request saved it.
TEST_F(StopTest, ASynchronisationDuringASavesFileWorkLeavesTheSlotToIt) {
    const auto refresh = [](int id) {
        pendingApplies();
        SyncUpdate::pInstance()->para_sync(id);
    };
    Bytes slot(ZemRamPara::kModeSize, 0);
    slot[0] = slot[1] = 0xAA;
    slot[2 + 2176 - 896] = 5;
    ok(writeRam(3u << 12, slot));  // mode 3 saved with brightness 5
    ok(writeReg(11, 0xFF, {0x04}));
    refresh(2);
    ASSERT_EQ(modeFileWord(3, 2176), 5);

    std::mutex m;
    std::condition_variable cv;
    bool held = false, released = false;
    store()->hooks.during_slot_file_work = [&](int) {
        std::unique_lock<std::mutex> lock(m);
        if (released) return;
        held = true;
        cv.notify_all();
        cv.wait_for(lock, hangBound(seconds(20)), [&] { return released; });
    };
    store()->saver.start();
    ok(writeRam(2176, le16(11)));
    ok(writeRam(868, le16(3)));
    ok(writeReg(11, 0xFF, {0}));
    refresh(1);
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, hangBound(seconds(20)), [&] { return held; }));
    }
    ok(writeReg(11, 0xFF, {0x04}));
    refresh(2);
    {
        std::lock_guard<std::mutex> lock(m);
        released = true;
    }
    cv.notify_all();
    store()->saver.drain();
    EXPECT_EQ(modeFileWord(3, 2176), 11) << "the synchronisation took the slot from the save";
}

}  // namespace
