// The program as a person starts it on the simulated box, in its own process with its own root
// and a free PC port, and the ways a test reaches it from outside: TCP, the control channel
// (ROOT/sim/ctl), the files under its root and its console.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "local_command.h"
#include "pc_link.h"
#include "time_factor.h"

// Polls until check() holds or the time runs out (limit scaled by the time factor).
bool eventually(const std::function<bool()>& check, std::chrono::seconds limit);
std::string slurp(const std::string& file);
// Writes bytes to a file of this machine, making its folders.
void writeBytes(const std::string& file, const Bytes& bytes);
// What one of the project's scripts (scripts/NAME) prints; it reaches only the box's root.
std::string scriptOutput(const std::string& script, const std::string& args);
// The command line that starts the program (through the emulator when cross-built), quoted
// for the shell.
std::string programCommand();
// The program started on root with the environment settings env ("NAME=value ..."), run to
// its end (at most 2 minutes, scaled by the time factor): what it printed on stdout and stderr, and
// its exit status.
CommandResult programRun(const std::string& root, const std::string& env);

class Program : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the program on root_; SetUp starts it once.
    void start();
    // The box stopped by sig, and waited for, so that it has let go of the root's lock: SIGKILL
    // switches it off (a power cut), SIGTERM stops it as a person does.
    void stop(int sig);
    // The same, then started again on the same root.
    void restart(int sig = SIGKILL);

    bool running();
    // What scripts/sim-ready.sh prints for this box.
    std::string readyLine() const;
    std::string console() const;

    // One command on the control channel and the box's answer ("" when it can't be reached).
    std::string ctl(const std::string& line) const;
    // A connection to the control channel (blocking), -1 when none is made; without wait, also
    // -1 when the channel's backlog is full, where a connect would wait.
    int ctlConnection(bool wait) const;
    // A PC connected to the box's TCP port, once the box listens (null after `limit`).
    std::unique_ptr<TcpLink> connectPc(std::chrono::seconds limit) const;
    // Waits until the channel answers status (the box is up); false after a minute.
    bool ctlReady() const;
    // Waits until the channel answers and the FPGA thread runs jobs; false after a minute each.
    bool fpgaReady() const;
    // The same, and the C331 thread runs too.
    bool chipsRunning() const;
    // Waits until the box has run its start-up: every thread it starts runs (chipsRunning) and
    // the panel has drawn its page (a screenshot). A test that takes the box's descriptors away
    // waits for this first: in the sanitizer build, a type check the program meets for the first
    // time reads memory through a pipe and, with no descriptor for it, ends the program.
    bool settled() const;
    // Repeats a command until it is answered ok (a USB plug waits for the watcher), for a minute.
    bool ctlOk(const std::string& line) const;
    // Waits until status says a USB disk is mounted; false after 20 s.
    bool usbMounted() const;
    // The status line that starts with prefix ("job: "), or "".
    std::string statusLine(const std::string& prefix) const;
    // A screenshot of the panel, as PNG bytes.
    std::string screenshot(const std::string& name) const;
    // A screenshot kept with the page tests' ones (build/screenshots), named after the test.
    void shot(const std::string& state) const;

    // What the program wrote to stderr, when stderrToFile_ was set before the start (the
    // terminal's part of its output, as a person starting it in a plain shell sees it).
    std::string errors() const;
    // The console, the terminal's part when it goes to a file and a sanitizer's reports, for a
    // failure message.
    std::string output() const;
    // With stderrFd_ set, what a sanitizer reported (its files under the root), or "".
    std::string sanitizerReports() const;

    // With consoleToPipe_ set before the start, the program's stdout is a pipe the test reads
    // into console.log until this stops reading and fills it: a reader that stopped reading
    // (zemT57N --sim ROOT piped to a reader that stopped reading), on which the program's next
    // console line waits.
    void stopReadingConsole();
    // The test reads the program's stdout again, as a reader that came back.
    void readConsoleAgain();

    // The panel's thread held (neither keys nor the stop's work run there) until releasePanel():
    // a screenshot into a FIFO whose reader takes its first bytes only, so the panel's thread
    // waits in its write, as on a slow or stuck device. The screenshot is asked through send
    // (ctl when none), whose answer is kept; it returns once send has (the channel waits 10 s
    // for a command the panel started).
    void holdPanel(const std::function<std::string(const std::string&)>& send = {});
    void releasePanel();
    std::string panel_hold_answer_;

    // A pipe already full that nobody reads (a reader that stopped reading): its write end, for
    // stdoutFd_ or stderrFd_. The test keeps the read end until TearDown.
    int fullPipe();

    std::string root_;
    const char* rootTag_ = "program";  // the root is $TMPDIR/zem-TAG-XXXXXX, set before SetUp
    bool stderrToFile_ = false;        // and started as from a shell without a login session
    bool ignoreHangUp_ = false;        // started under nohup
    int umask_ = -1;                   // the umask it starts with; the test's own when -1
    bool consoleToPipe_ = false;
    bool relativeRoot_ = false;  // started in the root's parent folder, the root named from it
    int stdoutFd_ = -1;          // when set before the start, the program's stdout, or stderr
    int stderrFd_ = -1;
    uint16_t port_ = 0;  // the box's TCP port, held for it by port_hold_
    pid_t pid_ = -1;

private:
    void readConsole();
    int console_pipe_ = -1;           // the read end
    int stop_reading_[2] = {-1, -1};  // a byte here stops readConsole
    std::thread console_reader_;
    int panel_fifo_ = -1;
    std::thread panel_holder_;
    std::vector<int> full_pipes_;  // both ends of each fullPipe()
    int port_hold_ = -1;           // a socket bound to port_, not listening, until TearDown
};

uint8_t status(const Bytes& reply);
