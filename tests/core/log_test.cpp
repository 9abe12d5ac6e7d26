// The program's log: errors reach the terminal (stderr), each text at most once a minute of the
// box's clock; warnings and information do not.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "core/globals.h"
#include "platform/clock.h"

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { platform::installClock(std::unique_ptr<platform::Clock>(clock)); }
    void TearDown() override { platform::installClock(nullptr); }
    platform::FakeClock* clock = new platform::FakeClock;
};

TEST_F(LogTest, ErrorsReachStderrEachTextOnceAMinute) {
    writeLogMsgForget();
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
              "log test: port not opened\n");
}

// A peer that makes the box say 20,000 distinct error texts in 9.3 s (a refusal's text carries
// the values refused): the first kLogTexts are said, the rest are neither said nor kept but
// counted, and the count is said before the next text a minute later, or at the program's end.
TEST_F(LogTest, DistinctTextsPastTheBoundAreCountedNeitherSaidNorKept) {
    writeLogMsgForget();
    auto flood = [&](int count, const char* what) {
        size_t most_kept = 0;
        for (int i = 0; i < count; ++i) {
            const std::string text = std::string("log test: ") + what + std::to_string(i);
            writeLogMsg(1, text.c_str());
            most_kept = std::max(most_kept, writeLogMsgKept());
            clock->advance(465);
        }
        return most_kept;
    };
    auto lines = [](const std::string& said) { return std::count(said.begin(), said.end(), '\n'); };
    auto last = [](const std::string& said) {
        return said.size() < 2 ? said : said.substr(said.rfind('\n', said.size() - 2) + 1);
    };
    const std::string bound = " (over " + std::to_string(kLogTexts) + " a minute)\n";

    testing::internal::CaptureStderr();
    EXPECT_LE(flood(20000, "LED width out of range: "), kLogTexts);
    writeLogMsg(1, "log test: file not saved");  // within the minute: counted too
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines(said), long(kLogTexts));
    EXPECT_EQ(last(said),
              "log test: LED width out of range: " + std::to_string(kLogTexts - 1) + "\n");

    testing::internal::CaptureStderr();
    clock->advance(kLogRepeatMs * 1000);
    writeLogMsg(1, "log test: file not saved");
    writeLogMsgFlush();  // nothing waits any more
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::to_string(20001 - kLogTexts) +
                                                          " more error texts not shown" + bound +
                                                          "log test: file not saved\n");

    // The next flood's count waits for the minute: the program's end says it.
    testing::internal::CaptureStderr();
    EXPECT_LE(flood(100, "LED height out of range: "), kLogTexts);
    writeLogMsgFlush();
    said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines(said), long(kLogTexts));
    EXPECT_EQ(last(said),
              std::to_string(100 - (kLogTexts - 1)) + " more error texts not shown" + bound);
}

}  // namespace
