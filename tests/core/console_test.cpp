// The console's writer on a pipe nobody reads: its callers never wait, what it leaves out is
// counted where it was left out once the pipe takes again, and what it keeps comes whole and in
// order; on a non-blocking descriptor it waits and loses nothing, and what a failed one did not
// take is counted too.
#include "core/console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "time_factor.h"

namespace {

using Clock = std::chrono::steady_clock;

// A pipe already full, as one whose reader stopped reading: the writer's next write waits.
struct FullPipe {
    FullPipe() {
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        // Filled through a descriptor of its own, so the writer's keeps its flags (no
        // O_NONBLOCK, as the program's inherited stdout).
        const int fill = ::open(("/proc/self/fd/" + std::to_string(ends[1])).c_str(),
                                O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(fill, 0);
        const std::string block(4096, '.');
        for (size_t size : {block.size(), size_t(1)})
            while (::write(fill, block.data(), size) > 0) {
            }
        ::close(fill);
        EXPECT_EQ(::fcntl(ends[1], F_GETFL) & O_NONBLOCK, 0);
    }
    ~FullPipe() {
        for (int fd : ends)
            if (fd >= 0) ::close(fd);
    }
    // The reader comes back: everything written until `until` is seen (the filler taken out).
    std::string readUntil(const std::string& until) {
        std::string got;
        char buf[4096];
        while (got.find(until) == std::string::npos) {
            const ssize_t n = ::read(ends[0], buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, size_t(n));
        }
        return got.substr(got.find_first_not_of('.'));
    }
    int ends[2] = {-1, -1};
};

// What a pipe holds once every writer's end is closed; the read end is closed after.
std::string readToEnd(int fd) {
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
    ::close(fd);
    return got;
}

std::string numbered(int i) {
    return "line " + std::to_string(i) + "\n";
}

// 10,000 lines from four threads while the pipe takes nothing: every caller returns, the queue
// keeps its bound's worth (in each thread's order), and once the pipe takes again one line says
// how many were left out, before the lines that came after.
TEST(ConsoleWriterTest, OnAPipeNobodyReadsCallersGoOnAndTheLinesLeftOutAreCounted) {
    FullPipe pipe;
    constexpr size_t kBound = 100;
    ConsoleWriter writer(pipe.ends[1], "stdout", kBound, 1 << 20);
    constexpr int kThreads = 4, kEach = 2500;
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t)
        callers.emplace_back([&writer, t] {
            for (int i = 0; i < kEach; ++i) writer.write(numbered(t * kEach + i));
        });
    for (auto& c : callers) c.join();
    EXPECT_FALSE(writer.flush(Clock::now())) << "the pipe takes nothing";
    EXPECT_EQ(writer.linesWaiting(), size_t(kThreads * kEach));

    const std::string after = "after the reader came back\n";
    const std::string count =
        "stdout took no more: " + std::to_string(kThreads * kEach - kBound) + " lines left out\n";
    std::string got = pipe.readUntil(count);
    writer.write(after);
    got += pipe.readUntil(after);
    ASSERT_TRUE(writer.flush(Clock::now() + hangBound(std::chrono::seconds(10))));

    const size_t at = got.find(count);
    ASSERT_NE(at, std::string::npos) << got;
    EXPECT_EQ(got.substr(at + count.size()), after);
    // The lines kept: the bound's worth, each thread's in its order.
    std::vector<int> last(kThreads, -1);
    size_t kept = 0;
    for (size_t pos = 0; pos < at;) {
        const size_t end = got.find('\n', pos);
        const int n = std::stoi(got.substr(pos + 5, end - pos - 5));
        EXPECT_GT(n % kEach, last[size_t(n / kEach)]) << "thread " << n / kEach << " out of order";
        last[size_t(n / kEach)] = n % kEach;
        ++kept;
        pos = end + 1;
    }
    EXPECT_EQ(kept, kBound);
}

// A dump far longer than a line comes whole, a formatted text keeps the newline it has and gets
// none more, and the byte bound leaves out what does not fit behind it.
TEST(ConsoleWriterTest, LongTextsComeWholeAndTheByteBoundHolds) {
    FullPipe pipe;
    ConsoleWriter writer(pipe.ends[1], "stdout", 1000, 64 * 1024);
    const std::string dump(100 * 1024, 'd');  // alone in the queue: taken whatever its size
    writer.write(dump + "\n");
    writer.write("behind the dump, past the bound\n");
    const auto formatted = [](const char* fmt, ...) {
        va_list args;
        va_start(args, fmt);
        std::string text = console::format(fmt, args);
        va_end(args);
        return text;
    };
    const std::string count = "stdout took no more: 1 line left out\n";
    std::string got = pipe.readUntil(count);
    writer.write(formatted("\n %s = %d \n", std::string(600, 'x').c_str(), 7));
    got += pipe.readUntil(" = 7 \n");
    EXPECT_EQ(got, dump + "\n" + count + "\n " + std::string(600, 'x') + " = 7 \n");
}

// The writer's end-of-program wait has its bound: on a pipe nobody reads it returns false in
// time, and true once the reader takes what was written.
TEST(ConsoleWriterTest, AFlushWaitsWithinItsBound) {
    FullPipe pipe;
    ConsoleWriter writer(pipe.ends[1], "stderr");
    int writes = 0;
    writer.before_write = [&writes] { ++writes; };
    writer.write("held\n");
    EXPECT_FALSE(writer.flush(Clock::now() + std::chrono::milliseconds(50)));
    EXPECT_EQ(pipe.readUntil("held\n"), "held\n");
    EXPECT_TRUE(writer.flush(Clock::now() + hangBound(std::chrono::seconds(10))));
    EXPECT_EQ(writes, 1);
}

// The descriptor takes again while the queue still holds a text: the count line goes before the
// next text, where the lines were left out, not behind it. Each write waits at a gate, so the
// writer is where the test says.
TEST(ConsoleWriterTest, TheCountComesBeforeTheNextTextOnceTheDescriptorTakesAgain) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    struct Gate {
        std::mutex mutex;
        std::condition_variable cv;
        int reached = 0, opened = 0;
        void pass() {
            std::unique_lock<std::mutex> lock(mutex);
            ++reached;
            cv.notify_all();
            cv.wait(lock, [this] { return opened >= reached; });
        }
        bool reach(int n) {
            std::unique_lock<std::mutex> lock(mutex);
            return cv.wait_for(lock, hangBound(std::chrono::seconds(10)),
                               [&] { return reached >= n; });
        }
        void open(int n) {
            std::lock_guard<std::mutex> lock(mutex);
            opened = n;
            cv.notify_all();
        }
    } gate;
    {
        ConsoleWriter writer(ends[1], "stdout", 2, 1 << 20);
        writer.before_write = [&gate] { gate.pass(); };
        writer.write("a\n");
        ASSERT_TRUE(gate.reach(1));
        writer.write("b\n");
        writer.write("c\n");  // the bound's third: left out
        gate.open(1);         // a written, b taken
        ASSERT_TRUE(gate.reach(2));
        writer.write("d\n");
        gate.open(INT_MAX);
        EXPECT_TRUE(writer.flush(Clock::now() + hangBound(std::chrono::seconds(10))));
    }
    ::close(ends[1]);
    EXPECT_EQ(readToEnd(ends[0]), "a\nb\nstdout took no more: 1 line left out\nd\n");
}

// A descriptor the starter made non-blocking (a shell's, shared with the writer) that takes no
// more: the writer waits for it as for any other, and once its reader is back it has all.
TEST(ConsoleWriterTest, OnANonBlockingDescriptorTheWriterWaitsAndLosesNothing) {
    FullPipe pipe;
    ASSERT_EQ(::fcntl(pipe.ends[1], F_SETFL, O_NONBLOCK), 0);
    ConsoleWriter writer(pipe.ends[1], "stdout");
    std::promise<void> waits;
    std::atomic<bool> waited{false};
    writer.before_wait = [&] {
        if (!waited.exchange(true)) waits.set_value();
    };
    std::string sent;
    for (int i = 0; i < 1000; ++i) {
        sent += numbered(i);
        writer.write(numbered(i));
    }
    ASSERT_EQ(waits.get_future().wait_for(hangBound(std::chrono::seconds(10))),
              std::future_status::ready)
        << "the writer never waited for the descriptor";
    EXPECT_EQ(pipe.readUntil(numbered(999)), sent);
    EXPECT_TRUE(writer.flush(Clock::now() + hangBound(std::chrono::seconds(10))));
    EXPECT_EQ(writer.linesWaiting(), 0u);
}

// A descriptor that fails (its reader closed its end): the lines it did not take are counted
// with the lines left out, and the count is told once a descriptor takes again.
TEST(ConsoleWriterTest, WhatAFailedDescriptorDidNotTakeIsCountedAndTold) {
    int dead[2], live[2];
    ASSERT_EQ(::pipe2(dead, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(live, O_CLOEXEC), 0);
    ::close(dead[0]);
    const int fd = ::dup(dead[1]);  // the writer's; later the live pipe's
    {
        ConsoleWriter writer(fd, "stdout");
        writer.write("a\n");
        writer.write("b\nc\n");
        ASSERT_TRUE(writer.flush(Clock::now() + hangBound(std::chrono::seconds(10))));
        EXPECT_EQ(writer.linesWaiting(), 3u);
        ASSERT_EQ(::dup2(live[1], fd), fd);  // the writer waits for work meanwhile
        writer.write("d\n");
        EXPECT_TRUE(writer.flush(Clock::now() + hangBound(std::chrono::seconds(10))));
        EXPECT_EQ(writer.linesWaiting(), 0u);
    }
    for (int end : {fd, dead[1], live[1]}) ::close(end);
    EXPECT_EQ(readToEnd(live[0]), "stdout took no more: 3 lines left out\nd\n");
}

}  // namespace
