// The program's log: errors reach the terminal (stderr), each text at most once a minute of the
// box's clock; warnings and information do not.
#include <gtest/gtest.h>

#include <memory>

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

}  // namespace
