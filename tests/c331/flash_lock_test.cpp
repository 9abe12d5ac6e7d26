// The flash engine's lock: turns in the order asked, recursion by its holder, and the hand-over
// between a long job's units. Each waiter is known to wait (wait_for_waiters) before the next
// step, so no interleaving is left to chance.
#include "c331/flash_lock.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// Threads that each take the lock once and write their letter, started one by one so that
// their turns are asked in the order of the letters.
struct Waiters {
    explicit Waiters(FlashLock& l) : lock(l) {}
    FlashLock& lock;
    std::string order;  // written only while holding the lock
    std::vector<std::thread> threads;

    void ask(char letter) {
        threads.emplace_back([this, letter] {
            std::lock_guard<FlashLock> hold(lock);
            order += letter;
        });
        lock.wait_for_waiters(int(threads.size()));
    }
    void join() {
        for (auto& t : threads) t.join();
    }
};

TEST(FlashLockTest, WaitersTakeTheirTurnsInTheOrderTheyAsked) {
    FlashLock lock;
    Waiters w(lock);
    lock.lock();
    for (char c : std::string("ABCD")) w.ask(c);
    lock.unlock();
    w.join();
    EXPECT_EQ(w.order, "ABCD");
}

TEST(FlashLockTest, AHolderTakesItAgainAndAWaiterRunsOnlyAfterTheOuterUnlock) {
    FlashLock lock;
    Waiters w(lock);
    lock.lock();
    lock.lock();  // a flash operation called by a holder of the whole job
    w.ask('W');
    EXPECT_FALSE(lock.let_waiting_in()) << "held twice, the outer caller holds the whole job";
    lock.unlock();
    w.order += 'h';  // still the holder's: W can't have run
    lock.unlock();
    w.join();
    EXPECT_EQ(w.order, "hW");
}

TEST(FlashLockTest, BetweenUnitsEveryWaiterGoesFirstThenTheJobResumes) {
    FlashLock lock;
    Waiters w(lock);
    lock.lock();
    EXPECT_FALSE(lock.let_waiting_in()) << "nobody waits: the job keeps the engine";
    w.order += '1';
    w.ask('A');
    w.ask('B');
    EXPECT_TRUE(lock.let_waiting_in());
    w.order += '2';  // the job's next unit, after both waiters
    lock.unlock();
    w.join();
    EXPECT_EQ(w.order, "1AB2");
}

}  // namespace
