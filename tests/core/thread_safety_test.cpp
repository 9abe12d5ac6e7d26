// The annotated mutexes: their scoped lock and condition variable behave as the standard ones,
// and under clang a guarded word touched without its lock fails the compile (the attributes are
// really there, not macros left empty).
#include "core/thread_safety.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "local_command.h"
#include "sim_fixture.h"

namespace {

bool takenElsewhere(zem::Mutex& m) {
    bool took = false;
    std::thread([&] {
        took = m.try_lock();
        if (took) m.unlock();
    }).join();
    return took;
}

TEST(ThreadSafety, TheLockerHoldsItsMutexButWhereItLetsItGo) {
    zem::Mutex m;
    {
        zem::MutexLocker lock(m);
        EXPECT_FALSE(takenElsewhere(m));
        lock.unlock();
        EXPECT_FALSE(lock.owns_lock());
        EXPECT_TRUE(takenElsewhere(m));
        lock.lock();
        EXPECT_FALSE(takenElsewhere(m));
    }
    EXPECT_TRUE(takenElsewhere(m));
    ASSERT_TRUE(m.try_lock());
    { zem::MutexLocker adopted(m, std::adopt_lock); }
    EXPECT_TRUE(takenElsewhere(m)) << "an adopted lock is released at the scope's end";
}

TEST(ThreadSafety, TheUnlockerLetsAHeldMutexGoForItsScopeAndTakesItBack) {
    zem::Mutex m;
    zem::MutexLocker lock(m);
    {
        zem::MutexUnlocker unlocked(m);
        EXPECT_TRUE(takenElsewhere(m));
    }
    EXPECT_FALSE(takenElsewhere(m));
    EXPECT_TRUE(lock.owns_lock());
}

TEST(ThreadSafety, AWaitLetsTheMutexGoAndWakesOnItsCondition) {
    zem::Mutex m;
    zem::ConditionVariable cv;
    bool ready = false;
    std::thread producer([&] {
        zem::MutexLocker lock(m);  // before the wait or during it
        ready = true;
        cv.notify_all();
    });
    {
        zem::MutexLocker lock(m);
        cv.wait(lock, [&] { return ready; });
        EXPECT_TRUE(ready);
        EXPECT_TRUE(lock.owns_lock());
        EXPECT_FALSE(cv.wait_for(lock, std::chrono::milliseconds(1), [] { return false; }));
    }
    producer.join();
}

// A word guarded by a mutex, read with and without it.
const char* const kGuarded = R"(#include "core/thread_safety.h"
struct Store {
    zem::Mutex mutex;
    int word GUARDED_BY(mutex) = 0;
    int locked() { zem::MutexLocker lock(mutex); return word; }
    int held() REQUIRES(mutex) { return word; }
#ifdef UNLOCKED
    int unlocked() { return word; }
#endif
#ifdef CALLER_WITHOUT_LOCK
    int caller() { return held(); }
#endif
#ifdef WHILE_LET_GO
    int let_go() REQUIRES(mutex) { zem::MutexUnlocker unlocked(mutex); return word; }
#endif
};
)";

TEST(ThreadSafety, ClangRefusesAGuardedWordWithoutItsLock) {
    if (commandResult("command -v clang++").status != 0) GTEST_SKIP() << "no clang++ here";
    const std::string dir = makeTempDir("tsa");
    const std::string file = dir + "/guarded.cpp";
    std::ofstream(file) << kGuarded;
    const auto compile = [&](const std::string& define) {
        return commandResult(
            "clang++ -std=c++17 -fsyntax-only -Wthread-safety "
            "-Werror=thread-safety -I" ZEM_SOURCE_DIR " " +
            define + " " + file + " 2>&1");
    };
    EXPECT_EQ(compile("").status, 0) << compile("").output;
    const struct {
        const char* define;
        const char* says;
    } kBroken[] = {
        {"-DUNLOCKED", "reading variable 'word' requires holding mutex 'mutex'"},
        {"-DCALLER_WITHOUT_LOCK", "calling function 'held' requires holding mutex 'mutex'"},
        {"-DWHILE_LET_GO", "reading variable 'word' requires holding mutex 'mutex'"},
    };
    for (const auto& c : kBroken) {
        const CommandResult r = compile(c.define);
        EXPECT_NE(r.status, 0) << c.define;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
