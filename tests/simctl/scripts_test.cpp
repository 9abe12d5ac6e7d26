// The scripts a person uses beside the program, as the README shows them: without arguments
// they say how they are used, their errors start with "error: " and exit with status 1, and
// they tell a running box from one that stopped cleanly or was killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>

#include "local_command.h"
#include "program_fixture.h"
#include "sim_fixture.h"

namespace {

using std::chrono::seconds;
namespace fs = std::filesystem;

CommandResult script(const std::string& name, const std::string& args) {
    return commandResult(std::string(ZEM_SOURCE_DIR "/scripts/") + name + " " + args);
}

void expectResult(const CommandResult& r, const std::string& output, int status) {
    EXPECT_EQ(r.output, output);
    EXPECT_EQ(r.status, status) << r.output;
}

TEST(Scripts, WithoutArgumentsSayHowTheyAreUsedAndWithoutABoxSaySo) {
    expectResult(script("sim-ready.sh", ""), "usage: scripts/sim-ready.sh DIR [PID]\n", 1);
    const CommandResult usage = script("sim-ctl.sh", "");
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.output.rfind("Sends one command", 0), 0u) << usage.output;
    // The last command of the list is described to its end.
    EXPECT_NE(usage.output.find("the receiving-card query or the\n"), std::string::npos);
    EXPECT_NE(usage.output.find("recovery, started as their pages start them\n"), std::string::npos)
        << usage.output;

    const std::string root = makeTempDir("no-box");
    expectResult(script("sim-ready.sh", root), "error: no box runs with root " + root + "\n", 1);
    expectResult(script("sim-ctl.sh", root + " status"),
                 "error: no box runs with root " + root + " (no " + root + "/sim/ctl)\n", 1);
    removeTree(root);
}

class ScriptsOnABox : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        ASSERT_TRUE(ctlReady()) << console();
        ASSERT_TRUE(eventually([&] { return leftBehind("links"); }, seconds(30)));
    }
    // Ends the program with the signal and waits for it.
    void stopWith(int sig) {
        ::kill(pid_, sig);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    std::string ctlScript(const std::string& words) const { return root_ + " " + words; }
    bool leftBehind(const char* file) const {
        return fs::exists(fs::symlink_status(root_ + "/sim/" + file));
    }
};

TEST_F(ScriptsOnABox, ErrorsSayWhatIsWrongAndACleanStopLeavesNoTrace) {
    const std::string ready = script("sim-ready.sh", root_).output;
    EXPECT_EQ(ready.rfind("simulated box ready: TCP 127.0.0.1:" + std::to_string(port_), 0), 0u)
        << ready;
    expectResult(script("sim-ctl.sh", ctlScript("usb plug /nonexistent")),
                 "error: no folder /nonexistent\n", 1);
    expectResult(script("sim-ctl.sh", ctlScript("usb plug")), "error: usage: usb plug HOSTDIR\n",
                 1);
    expectResult(script("sim-ctl.sh", ctlScript("screenshot")), "error: usage: screenshot FILE\n",
                 1);
    // The box's own refusal is passed on as it is.
    expectResult(script("sim-ctl.sh", ctlScript("key Enter")),
                 "error: usage: key Left|Right|OK|Mode|Back|A..S\n", 1);

    // Ctrl-C (and SIGTERM) end the program cleanly: neither file says a box runs.
    ASSERT_TRUE(leftBehind("links"));
    stopWith(SIGINT);
    EXPECT_FALSE(leftBehind("links"));
    EXPECT_FALSE(leftBehind("ctl"));
    expectResult(script("sim-ready.sh", root_), "error: no box runs with root " + root_ + "\n", 1);
}

TEST_F(ScriptsOnABox, AKilledBoxIsNotTakenForARunningOne) {
    // A power cut leaves the files; nothing answers on the socket any more.
    stopWith(SIGKILL);
    ASSERT_TRUE(leftBehind("links"));
    ASSERT_TRUE(leftBehind("ctl"));
    expectResult(script("sim-ready.sh", root_), "error: no box runs with root " + root_ + "\n", 1);
    expectResult(
        script("sim-ctl.sh", ctlScript("status")),
        "error: no box runs with root " + root_ + " (nothing answers on " + root_ + "/sim/ctl)\n",
        1);
    // Started again on the same root: ready once it runs, and the PID lets the script wait.
    start();
    EXPECT_EQ(readyLine().rfind("simulated box ready: ", 0), 0u);
}

class PlainStart : public Program {
protected:
    PlainStart() { stderrToFile_ = true; }
};

TEST_F(PlainStart, TheTerminalShowsNoWarningOfQtAtStartAndNoKeyTraces) {
    ASSERT_TRUE(ctlReady()) << console();
    ASSERT_EQ(readyLine().rfind("simulated box ready: ", 0), 0u);
    // A key's traces belong to the console, not among the errors.
    ASSERT_EQ(ctl("key Right"), "ok\n");
    ASSERT_TRUE(eventually(
        [&] { return console().find("this is right-code [") != std::string::npos; }, seconds(10)))
        << console();
    EXPECT_EQ(errors().find("QStandardPaths"), std::string::npos) << errors();
    EXPECT_EQ(errors().find("Qt"), std::string::npos) << errors();
    EXPECT_EQ(errors().find("right-code"), std::string::npos) << errors();
}

}  // namespace
