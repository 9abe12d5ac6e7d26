// A console that takes no more (stdout and stderr a pipe nobody reads, or a terminal paused with
// Ctrl-S) holds no thread of the box up: keys and PC frames are answered, the video processor's
// dumps included, the terminal still gets its errors when only the console is stuck, and SIGTERM
// ends the box within its bound with what it acknowledged in its files. And a stop while the
// panel's thread is held: what was answered before the signal is in the files, a frame after it
// is refused.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "pc_link.h"
#include "program_fixture.h"
#include "time_factor.h"

namespace {

using std::chrono::seconds;

class StuckConsole : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        ASSERT_TRUE(chipsRunning()) << "no status on the control channel";
        pc = connectPc(seconds(30));
        ASSERT_TRUE(pc);
    }
    void TearDown() override {
        pc.reset();
        Program::TearDown();
    }
    void answered(const Bytes& frame) { ASSERT_EQ(status(pc->ask(frame)), 0); }
    // Keys through the control channel, each answered.
    void keys(int n) {
        for (int i = 0; i < n; ++i) ASSERT_EQ(ctl(i % 2 ? "key Left" : "key Right"), "ok\n") << i;
    }
    // PC frames that have the video processor dump its state on the console (register 163, each
    // topic, on the C331 thread), between brightness writes, each answered; and one dump of its
    // registers on the link's own thread (register 161, seconds on the simulated box).
    void framesWithDumps(int rounds) {
        answered(writeReg(161, 0xFF, {0x02}));
        for (int i = 0; i < rounds; ++i) {
            answered(writeReg(163, 0xFF, {uint8_t(i % 14)}));
            answered(writeRam(2176, le16(uint16_t(i % 100))));
            answered(writeReg(11, 0xFF, {0}));
        }
    }
    // SIGTERM, and the box ended by it within the stop's bounds (2 s for the panel's thread,
    // 10 s for the files, 2 s for the console).
    void sigtermEndsTheBox() {
        ::kill(pid_, SIGTERM);
        ASSERT_NO_FATAL_FAILURE(endedBySigterm());
        EXPECT_EQ(sanitizerReports(), "");
    }
    // The box, sent SIGTERM, ended by it.
    void endedBySigterm() {
        int wait_status = 0;
        ASSERT_TRUE(
            eventually([&] { return ::waitpid(pid_, &wait_status, WNOHANG) == pid_; }, seconds(20)))
            << "the box still runs 20 s after SIGTERM";
        pid_ = -1;
        EXPECT_TRUE(WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == SIGTERM) << wait_status;
    }
    int fileBrightness() const {
        const std::string f = slurp(root_ + "/data/ram_device_info");
        const size_t at = 2 + 2176 - 768;
        return f.size() > at + 1 ? uint8_t(f[at]) | uint8_t(f[at + 1]) << 8 : -1;
    }
    std::unique_ptr<TcpLink> pc;
};

class OnPipesNobodyReads : public StuckConsole {
protected:
    OnPipesNobodyReads() { stdoutFd_ = stderrFd_ = fullPipe(); }
};

TEST_F(OnPipesNobodyReads, KeysAndFramesAreAnsweredAndSigtermKeepsWhatWasAcknowledged) {
    keys(1000);
    framesWithDumps(3333);  // 10,000 frames
    answered(writeRam(2176, le16(77)));
    answered(writeReg(11, 0xFF, {0}));
    sigtermEndsTheBox();
    EXPECT_EQ(fileBrightness(), 77);
}

class OnAStuckStdout : public StuckConsole {
protected:
    OnAStuckStdout() {
        stdoutFd_ = fullPipe();
        stderrToFile_ = true;
    }
};

// The terminal has a writer of its own: the errors arrive while the console takes nothing, and
// the end says there how many console lines were left.
TEST_F(OnAStuckStdout, TheErrorsStillReachTheTerminal) {
    keys(50);
    framesWithDumps(10);
    answered(writeRam(1376, cat({le16(4), le16(65000), le16(65535)})));
    answered(writeReg(11, 0xFF, {0}));
    EXPECT_TRUE(
        eventually([&] { return errors().find(": LED size 65000 x 65535 ") != std::string::npos; },
                   seconds(20)))
        << errors();
    sigtermEndsTheBox();
    EXPECT_NE(errors().find("stdout took no more: "), std::string::npos) << errors();
}

class OnAPausedTerminal : public StuckConsole {
protected:
    OnAPausedTerminal() {
        int reader = -1, terminal = -1;
        EXPECT_EQ(::openpty(&reader, &terminal, nullptr, nullptr, nullptr), 0);
        ::tcflow(terminal, TCOOFF);  // Ctrl-S; and nobody reads the other side either
        stdoutFd_ = stderrFd_ = terminal;
        pty_ = {reader, terminal};
    }
    ~OnAPausedTerminal() override {
        ::close(pty_.first);
        ::close(pty_.second);
    }
    std::pair<int, int> pty_;
};

TEST_F(OnAPausedTerminal, KeysAndFramesAreAnsweredAndSigtermEndsTheBox) {
    keys(200);
    framesWithDumps(50);
    answered(writeRam(2176, le16(66)));
    answered(writeReg(11, 0xFF, {0}));
    sigtermEndsTheBox();
    EXPECT_EQ(fileBrightness(), 66);
}

// The panel's thread held (its stop's work never begins): the thread that read the signal
// refuses frames at once and does the stop's work itself. Every write answered done is in the
// parameter file, the last of them included; the frames after the signal are refused.
class WithThePanelHeld : public StuckConsole {};

TEST_F(WithThePanelHeld, SigtermKeepsEveryWriteAnsweredAndRefusesTheRest) {
    ASSERT_NO_FATAL_FAILURE(holdPanel());
    answered(writeRam(2176, le16(50)));
    answered(writeReg(11, 0xFF, {0}));
    ::kill(pid_, SIGTERM);
    int last = 50;
    bool refused = false;
    const auto end = std::chrono::steady_clock::now() + hangBound(std::chrono::seconds(60));
    for (uint16_t v = 51; !refused && std::chrono::steady_clock::now() < end;
         v = uint16_t(v % 99 + 1)) {
        const Bytes reply = pc->ask(writeRam(2176, le16(v)));
        refused = status(reply) != 0;
        if (refused)
            EXPECT_EQ(status(reply), 2) << "refused as unavailable";
        else
            last = v;
    }
    ASSERT_TRUE(refused) << "writes still answered done a minute after SIGTERM, the last " << last;
    ASSERT_NO_FATAL_FAILURE(endedBySigterm());
    EXPECT_EQ(fileBrightness(), last) << "the last write answered done";
}

}  // namespace
