// The program's log: errors reach the terminal (stderr), each kind at most once a minute of the
// box's clock with the count of its lines not said; warnings and information do not.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/console.h"
#include "core/globals.h"
#include "core/led_size.h"
#include "core/repeat_count.h"
#include "core/zem_ram_para.h"
#include "core_fixture.h"
#include "platform/clock.h"

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { platform::installClock(std::unique_ptr<platform::Clock>(clock)); }
    void TearDown() override { platform::installClock(nullptr); }
    platform::FakeClock* clock = new platform::FakeClock;
};

TEST_F(LogTest, ErrorsReachStderrEachTextOnceAMinute) {
    LogTestHooks::forget();
    testing::internal::CaptureStderr();
    writeLogMsg(1, "log test: port not opened");
    writeLogMsg(1, "log test: port not opened");
    writeLogMsg(2, "log test: a warning");
    writeLogMsg(3, "log test: information");
    clock->advance(kLogRepeatMs / 2 * 1000);
    writeLogMsg(1, "log test: file not saved");
    clock->advance((kLogRepeatMs / 2 - 1) * 1000);
    writeLogMsg(1, "log test: port not opened");
    clock->advance(1000);
    writeLogMsg(1, "log test: port not opened");
    writeLogMsg(1, "log test: file not saved");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "log test: port not opened\n"
              "log test: file not saved\n"
              "log test: port not opened (3 of this kind since the last line shown)\n");
}

// A peer that makes the box say 20,000 distinct error texts of one kind in 9.3 s (a refusal's
// text carries the values refused): the first is said, the rest are neither said nor kept but
// counted, and the count is said with the kind's last text at the program's end. An error of
// another kind is said at once meanwhile.
TEST_F(LogTest, DistinctTextsOfOneKindAreCountedNeitherSaidNorKept) {
    LogTestHooks::forget();
    auto flood = [&](int count, const char* what) {
        size_t most_kept = 0;
        for (int i = 0; i < count; ++i) {
            const std::string text = std::string("log test: ") + what + std::to_string(i);
            writeLogMsg(1, "log test: LED size", text.c_str());
            most_kept = std::max(most_kept, LogTestHooks::kept());
            clock->advance(465);
        }
        return most_kept;
    };
    const std::string since = " of this kind since the last line shown)\n";

    testing::internal::CaptureStderr();
    EXPECT_LE(flood(20000, "LED width out of range: "), 1u);
    writeLogMsg(1, "log test: file not saved");  // within the minute: said all the same
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "log test: LED width out of range: 0\n"
              "log test: file not saved\n");

    testing::internal::CaptureStderr();
    clock->advance(kLogRepeatMs * 1000);
    writeLogMsg(1, "log test: file not saved");
    writeLogMsgFlush();
    writeLogMsgFlush();  // nothing waits any more
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "log test: file not saved\n"
              "log test: LED width out of range: 19999 (19999" +
                  since);

    // The next flood's count waits for the minute: the program's end says it.
    testing::internal::CaptureStderr();
    EXPECT_LE(flood(100, "LED height out of range: "), 2u);
    writeLogMsgFlush();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "log test: LED height out of range: 99 (100" + since);
}

// A library's warnings (Qt's) go to the console, not the terminal, by kind: the text with its
// numbers taken out, decimal or hexadecimal. The kind's count waits for its minute, or the end.
TEST_F(LogTest, WarningsOfALibraryReachTheConsoleOnceAMinuteAKind) {
    LogTestHooks::forget();
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i) {
        writeConsoleWarning("log test: qt_safe_poll: Invalid argument");
        writeConsoleWarning(("log test: QSocketNotifier: Invalid socket " + std::to_string(30 + i) +
                             " and type 'Read', disabling...")
                                .c_str());
        writeConsoleWarning(
            ("log test: QObject(0x55d3c4a2b" + std::to_string(i) + "f0) deleted").c_str());
    }
    clock->advance(kLogRepeatMs * 1000);
    writeConsoleWarning("log test: qt_safe_poll: Invalid argument");
    writeLogMsgFlush();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "log test: qt_safe_poll: Invalid argument\n"
              "log test: QSocketNotifier: Invalid socket 30 and type 'Read', disabling...\n"
              "log test: QObject(0x55d3c4a2b0f0) deleted\n"
              "log test: qt_safe_poll: Invalid argument (5 of this kind since the last line "
              "shown)\n"
              "log test: QObject(0x55d3c4a2b4f0) deleted (4 of this kind since the last line "
              "shown)\n"
              "log test: QSocketNotifier: Invalid socket 34 and type 'Read', disabling... (4 of "
              "this kind since the last line shown)\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(LogTestHooks::kept(), 3u);
}

// The program's end with its console a pipe that takes no more (a reader that stopped reading):
// the held-back lines are said without waiting on it, the console's left out and counted on the
// terminal, within the end's bound.
TEST_F(LogTest, AtTheEndAConsoleThatTakesNoMoreHoldsNothingUp) {
    LogTestHooks::forget();
    for (int i = 0; i < 2; ++i) writeConsoleWarning("log test: qt_safe_poll: Invalid argument");
    std::fflush(stdout);
    int full[2];
    ASSERT_EQ(::pipe2(full, O_CLOEXEC | O_NONBLOCK), 0);
    const std::string block(4096, '.');
    for (size_t size : {block.size(), size_t(1)})
        while (::write(full[1], block.data(), size) > 0) {
        }
    ASSERT_EQ(::fcntl(full[1], F_SETFL, 0), 0);  // as the program's stdout: it would wait
    const int console = ::dup(STDOUT_FILENO);
    ASSERT_EQ(::dup2(full[1], STDOUT_FILENO), STDOUT_FILENO);
    testing::internal::CaptureStderr();
    console::start();  // as the program does

    for (int i = 0; i < 2; ++i) writeLogMsg(1, "log test: port not opened");
    writeLogMsgFlush();
    EXPECT_FALSE(console::finish());
    const std::string terminal = testing::internal::GetCapturedStderr();
    ::dup2(console, STDOUT_FILENO);
    ::close(console);
    EXPECT_EQ(terminal,
              "log test: port not opened\n"
              "log test: port not opened\n"
              "stdout took no more: 1 line left out at the end\n");
    ::close(full[0]);  // the writer blocked on it gets EPIPE
    ::close(full[1]);
    console::stopForTests();  // the next case in this process writes at once again
}

// The log beside the parameter store, whose LED-size refusals carry the values refused.
class LogFloodTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        platform::installClock(std::unique_ptr<platform::Clock>(clock));
        if (ZemRamPara::p_zemrampara_config)
            ZemRamPara::p_zemrampara_config->reload();
        else
            ZemRamPara::pInstance();
    }
    void TearDown() override {
        platform::installClock(nullptr);
        CoreTest::TearDown();
    }
    platform::FakeClock* clock = new platform::FakeClock;
};

// Three minutes of 2,000 LED-size refusals a second, each with other numbers (a PC writing bad
// sizes), beside another error every 5 s, of three kinds in turn (a failed save, a refused USB
// package, a failed wait of the TCP server): every other error is said within its minute, and
// the flood's kind says a line a minute, whose count and last text are those of the flood.
TEST_F(LogFloodTest, AFloodOfOneKindHidesNoOtherError) {
    LogTestHooks::forget();
    ZemRamPara& ram = *ZemRamPara::p_zemrampara_config;
    const auto applied = [](int addr) -> uint16_t {
        switch (addr) {
            case led_size::kRamSplice:
                return led_size::kHorizontal;
            case led_size::kRamWidth:
                return 1920;
            case led_size::kRamOut1Width:
                return 960;
            default:
                return 1080;
        }
    };
    const char* const others[] = {"log test: user mode 2 save failed",
                                  "log test: USB package refused",
                                  "TCP server: poll failed (Invalid argument), new clients wait"};
    constexpr int kPerSecond = 2000, kEvery = 5, kSteps = 180 / kEvery;
    const auto refusal = [](int k) {
        return "register 11: LED size " + std::to_string(100 + k % 400) +
               " x 1080 (splice 3, output 1 960 x 1080) refused; back to 1920 x 1080";
    };
    std::vector<std::string> said(kSteps + 1);     // the lines of each 5 s, then of the end
    clock->advance(1000 - clock->nowUs() % 1000);  // minutes from a whole millisecond
    int k = 0;
    for (int step = 0; step < kSteps; ++step) {
        testing::internal::CaptureStderr();
        writeLogMsg(1, others[step % 3]);
        for (int i = 0; i < kPerSecond * kEvery; ++i, ++k) {
            for (int a : led_size::kRamWords) ram.wr16_no_gen_bump(a, applied(a));
            ram.wr16_no_gen_bump(led_size::kRamWidth, uint16_t(100 + k % 400));
            ASSERT_TRUE(led_size::refuse(&ram, applied, "register 11")) << k;
            clock->advance(1000000 / kPerSecond);
        }
        said[size_t(step)] = testing::internal::GetCapturedStderr();
    }
    testing::internal::CaptureStderr();
    writeLogMsgFlush();
    said[kSteps] = testing::internal::GetCapturedStderr();

    const auto says = [&](int step, const std::string& text) {
        const std::string& lines = said[size_t(step)];
        return lines.compare(0, text.size(), text) == 0 ||
               lines.find("\n" + text) != std::string::npos;
    };
    for (int step = 0; step < kSteps; ++step) {
        bool told = false;
        for (int at = step; at <= std::min(step + 60 / kEvery, kSteps); ++at)
            told = told || says(at, others[step % 3]);
        EXPECT_TRUE(told) << "the error of second " << step * kEvery << " never said";
    }
    std::vector<int> flood_lines;
    for (int step = 0; step <= kSteps; ++step)
        if (says(step, "register 11: LED size")) flood_lines.push_back(step);
    EXPECT_EQ(flood_lines, (std::vector<int>{0, 12, 24, kSteps}));
    const int minute = 60 * kPerSecond;  // the refusal said a minute after the first
    EXPECT_NE(said[12].find(refusal(minute) + " (" + std::to_string(minute) +
                            " of this kind since the last line shown)\n"),
              std::string::npos)
        << said[12];
    EXPECT_NE(said[kSteps].find(refusal(k - 1) + " (" + std::to_string(minute - 1) +
                                " of this kind since the last line shown)\n"),
              std::string::npos)
        << said[kSteps];
}

}  // namespace
