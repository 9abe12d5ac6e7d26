// The scripts a person uses beside the program, as the README shows them: without arguments
// they say how they are used, --help prints that with status 0, their errors start with
// "error: " and exit with status 1 (an empty DIR, a PID that is no number), and they tell a
// running box from one that stopped cleanly or was killed. A plug waits for the box's USB
// watcher, a disk's copy lives no longer than the box, and a file fetched out of the root
// replaces only a regular file. The program's own errors reach the terminal, and a box started
// under nohup lives through a hang-up.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "local_command.h"
#include "program_fixture.h"
#include "sim_fixture.h"

namespace {

using std::chrono::seconds;
namespace fs = std::filesystem;

CommandResult script(const std::string& name, const std::string& args,
                     const std::string& before = "") {
    return commandResult(before + ZEM_SOURCE_DIR "/scripts/" + name + " " + args);
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
    // Waiting for a process that runs but starts no box there ends, after 10 s at most.
    const std::string self = std::to_string(::getpid());
    expectResult(script("sim-ready.sh", root + " " + self,
                        "timeout " + std::to_string(hangSeconds(60)) + " "),
                 "error: process " + self + " starts no box with root " + root + " (" + root +
                     "/sim/lock does not name it)\n",
                 1);
    removeTree(root);
}

// Every script of the clone: a regression that ran one would meet the failing cmake and
// apt-get stubs first on PATH, instead of building or installing anything.
TEST(Scripts, HelpPrintsTheUsageWithoutBuildingAndUnknownOptionsAreNamed) {
    auto unknown = [](const std::string& script, const std::string& option) {
        return "error: unknown option " + option + " (" + script + " --help says how it is used)\n";
    };
    struct Case {
        std::string script;  // from the clone's top
        const char* args;
        std::string output;  // the start of it, for the usages
        int status;
        bool usage_follows = false;  // an error line, then the usage
    } cases[] = {
        {"scripts/run-sim.sh", "--help", "Builds the program and starts it", 0},
        {"scripts/run-sim.sh", "somewhere -h", "Builds the program and starts it", 0},
        {"scripts/sim-ready.sh", "--help", "Prints one line saying where", 0},
        {"scripts/sim-ctl.sh", "--help", "Sends one command", 0},
        {"scripts/sim-ctl.sh", "somewhere status --help", "Sends one command", 0},
        {"scripts/key-walk.sh", "--help", "Random key walks", 0},
        {"scripts/test.sh", "--help", "Builds the program and its tests three times", 0},
        {"tests/scripts/run.sh", "--help", "Runs the tests of the scripts themselves", 0},
        {"tests/scripts/boxes_together_test.sh", "--help", "Five boxes started", 0},
        {"tests/scripts/build_folder_test.sh", "--help", "A build folder keeps building", 0},
        {"tests/scripts/lock_test.sh", "--help", "scripts/sim-ready.sh DIR PID and the root", 0},
        {"tests/scripts/stub_build_test.sh", "--help", "Starts whose build is a stub", 0},
        {"scripts/install-deps.sh", "--help", "Installs the Debian packages", 0},
        {"scripts/install-deps.sh", "--armhf --help", "Installs the Debian packages", 0},
        {"tests/fuzz/run.sh", "--help", "Builds the fuzz targets", 0},
        {"scripts/configure.sh", "--help", "Configures the build folder DIR", 0},
        {"scripts/check-locks.sh", "--help", "Compiles every source of the program", 0},
        {"scripts/run-sim.sh", "--bogus", unknown("scripts/run-sim.sh", "--bogus"), 1},
        {"scripts/run-sim.sh", "somewhere --console -x", unknown("scripts/run-sim.sh", "-x"), 1},
        {"scripts/run-sim.sh", "one two", "error: one DIR only, not one and two\n", 1},
        {"scripts/run-sim.sh", "/dev/null/box",
         "error: cannot make /dev/null/box: Not a directory\n", 1},
        {"scripts/sim-ready.sh", "--bogus somewhere", unknown("scripts/sim-ready.sh", "--bogus"),
         1},
        {"scripts/sim-ready.sh", "somewhere 12 -x", unknown("scripts/sim-ready.sh", "-x"), 1},
        {"scripts/sim-ctl.sh", "--bogus status", unknown("scripts/sim-ctl.sh", "--bogus"), 1},
        {"scripts/key-walk.sh", "--bogus", unknown("scripts/key-walk.sh", "--bogus"), 1},
        {"scripts/test.sh", "--bogus", unknown("scripts/test.sh", "--bogus"), 1},
        {"tests/scripts/run.sh", "-x", unknown("tests/scripts/run.sh", "-x"), 1},
        {"tests/scripts/boxes_together_test.sh", "-x",
         unknown("tests/scripts/boxes_together_test.sh", "-x"), 1},
        {"tests/scripts/stub_build_test.sh", "--bogus",
         unknown("tests/scripts/stub_build_test.sh", "--bogus"), 1},
        {"scripts/install-deps.sh", "--arm", unknown("scripts/install-deps.sh", "--arm"), 1},
        {"tests/fuzz/run.sh", "json --bogus", unknown("tests/fuzz/run.sh", "--bogus"), 1},
        {"scripts/check-locks.sh", "-x", unknown("scripts/check-locks.sh", "-x"), 1},
        // An empty DIR names no folder: ./sim-root is taken only when DIR is not given.
        {"scripts/run-sim.sh", "''", "error: DIR is empty\n", 1},
        {"scripts/run-sim.sh", "--console ''", "error: DIR is empty\n", 1},
        {"scripts/sim-ready.sh", "''", "error: DIR is empty\n", 1},
        {"scripts/sim-ready.sh", "'' 123", "error: DIR is empty\n", 1},
        {"scripts/sim-ctl.sh", "'' status", "error: DIR is empty\n", 1},
        {"scripts/sim-ready.sh", "somewhere abc",
         "error: PID abc is not a process number (usage: scripts/sim-ready.sh DIR [PID])\n", 1},
        {"scripts/sim-ready.sh", "somewhere 12x",
         "error: PID 12x is not a process number (usage: scripts/sim-ready.sh DIR [PID])\n", 1},
        // A stray word, or arguments that say no walk.
        {"scripts/test.sh", "WORD",
         "error: unexpected word WORD (scripts/test.sh takes options only)\n", 1, true},
        {"tests/scripts/run.sh", "WORD",
         "error: unexpected word WORD (tests/scripts/run.sh takes options only)\n", 1, true},
        {"scripts/check-locks.sh", "WORD",
         "error: unexpected word WORD (scripts/check-locks.sh takes options only)\n", 1, true},
        {"scripts/install-deps.sh", "--armhf WORD",
         "error: unexpected word WORD (scripts/install-deps.sh takes options only)\n", 1, true},
        {"scripts/key-walk.sh", "", "error: SECONDS or --seeds is missing\n", 1, true},
        {"scripts/key-walk.sh", "10s", "error: SECONDS 10s is not a whole number\n", 1, true},
        {"scripts/key-walk.sh", "--seeds", "error: --seeds needs the list of seeds\n", 1, true},
        {"scripts/key-walk.sh", "10 build-asan more",
         "error: one BUILD only, not build-asan more\n", 1, true},
        // Options in any order.
        {"scripts/key-walk.sh", "5 build-asan --seeds 1",
         "error: SECONDS 5 and --seeds: a walk for SECONDS or the seeds replayed, not both\n", 1,
         true},
        {"scripts/key-walk.sh", "build-x --seeds", "error: --seeds needs the list of seeds\n", 1,
         true},
        {"scripts/key-walk.sh", "no-such-build --seeds '1 2'",
         "error: no no-such-build/tests/e2e_tests: build the e2e_tests target in no-such-build "
         "first\n",
         1},
        {"scripts/configure.sh", "--bogus", unknown("scripts/configure.sh", "--bogus"), 1},
        {"scripts/configure.sh", ". --bogus x", unknown("scripts/configure.sh", "--bogus"), 1},
        {"tests/fuzz/run.sh", "nosuch",
         "error: no fuzz target nosuch (protocol files json edid usb_package osd_font card_files "
         "keypad tcp)\n",
         1},
        {"tests/scripts/time_factor_test.sh", "--help", "ZEM_TEST_TIME_FACTOR read one way", 0},
        {"tests/scripts/build_type_test.sh", "--help", "scripts/run-sim.sh and scripts/test.sh", 0},
        {"tests/scripts/install_deps_test.sh", "--help", "scripts/install-deps.sh on a machine", 0},
        {"tests/scripts/help_commands_test.sh", "--help", "scripts/key-walk.sh's help builds", 0},
    };
    const std::string here = makeTempDir("help");  // where ./sim-root would be made
    const std::string stubs = makeTempDir("stubs");
    for (const char* tool : {"cmake", "apt-get", "sudo"}) {
        const std::string stub = stubs + "/" + tool;
        std::ofstream(stub) << "#!/bin/sh\necho \"stub " << tool << " ran\"\nexit 1\n";
        fs::permissions(stub, fs::perms::owner_all);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script + " " + c.args);
        // The time limit guards against a build all the same.
        const CommandResult r =
            commandResult("cd " + here + " && PATH=" + stubs + ":$PATH timeout " +
                          std::to_string(hangSeconds(120)) + " " ZEM_SOURCE_DIR "/" + c.script +
                          " " + c.args + " </dev/null");
        EXPECT_EQ(r.output.substr(0, c.output.size()), c.output) << r.output;
        EXPECT_EQ(r.status, c.status);
        // The stubs' own words, and run-sim.sh's: the scripts' usages may name stubs and builds.
        EXPECT_EQ(r.output.find(" ran\n"), std::string::npos) << r.output;
        if (c.status == 0 || c.usage_follows) {
            EXPECT_EQ(r.output.find("building build/"), std::string::npos);
            EXPECT_NE(r.output.find("sage: " + c.script), std::string::npos) << r.output;
        } else {
            EXPECT_EQ(r.output, c.output);
        }
    }
    EXPECT_TRUE(fs::is_empty(here));
    removeTree(here);
    removeTree(stubs);
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
    // The USB disks' copies sim-ctl.sh made in the root.
    int diskCopies() const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(root_ + "/sim"))
            n += e.path().filename().string().rfind("usb-disk.", 0) == 0;
        return n;
    }
};

TEST_F(ScriptsOnABox, ErrorsSayWhatIsWrongAndACleanStopLeavesNoTrace) {
    const std::string ready = script("sim-ready.sh", root_).output;
    EXPECT_EQ(ready.rfind("simulated box ready: TCP 127.0.0.1:" + std::to_string(port_), 0), 0u)
        << ready;
    // Waiting for another process on this box's root ends at once.
    const std::string self = std::to_string(::getpid());
    expectResult(script("sim-ready.sh", root_ + " " + self,
                        "timeout " + std::to_string(hangSeconds(60)) + " "),
                 "error: the box with root " + root_ + " is process " + std::to_string(pid_) +
                     ", not " + self + "\n",
                 1);
    expectResult(script("sim-ctl.sh", ctlScript("usb plug /nonexistent")),
                 "error: no folder /nonexistent\n", 1);
    expectResult(script("sim-ctl.sh", ctlScript("usb plug")), "error: usage: usb plug HOSTDIR\n",
                 1);
    expectResult(script("sim-ctl.sh", ctlScript("usb plug " + root_)),
                 "error: " + root_ + " holds the box's root " + root_ +
                     ": a disk's copy would go into itself\n",
                 1);
    // A disk's folder given as a link, however written, is refused as the box refuses one, and
    // nothing is copied through it; so is a folder holding a link, which the copy would keep.
    const std::string disk = makeTempDir("linked-disk");
    std::ofstream(disk + "/note.txt") << "on the disk\n";
    fs::create_directory_symlink(disk, disk + "-link");
    for (const std::string& link :
         {disk + "-link", disk + "-link/", disk + "-link/.", disk + "-link/./"}) {
        expectResult(script("sim-ctl.sh", ctlScript("usb plug " + link)),
                     "error: " + link + " is a symbolic link\n", 1);
    }
    const std::string inside = disk + "/ZEM-T73/rootlink";
    fs::create_directories(disk + "/ZEM-T73");
    fs::create_directory_symlink("/", inside);
    for (const std::string& folder : {disk, disk + "/"}) {
        expectResult(script("sim-ctl.sh", ctlScript("usb plug " + folder)),
                     "error: " + inside + " is a symbolic link: a USB disk holds none\n", 1);
    }
    EXPECT_EQ(diskCopies(), 0);
    fs::remove(disk + "-link");
    fs::remove(inside);
    removeTree(disk);
    expectResult(script("sim-ctl.sh", ctlScript("screenshot")), "error: usage: screenshot FILE\n",
                 1);
    // The box's own refusal is passed on as it is, extra words included.
    expectResult(script("sim-ctl.sh", ctlScript("key Enter")),
                 "error: usage: key Left|Right|OK|Mode|Back|A..S\n", 1);
    expectResult(script("sim-ctl.sh", ctlScript("usb unplug extra words")),
                 "error: usage: usb plug HOSTDIR | usb unplug\n", 1);
    // The box has answered commands sent after every refused plug, so its status is final: a
    // plug that reached it would show (usbMounted() would wait its whole bound for nothing).
    EXPECT_EQ(statusLine("usb disk: ").find("mounted at"), std::string::npos)
        << statusLine("usb disk: ");
    // Every error line goes to stderr, the box's and the script's own.
    for (const char* words :
         {"key Enter", "usb plug /nonexistent", "screenshot", "edid HDMI9 x", "usb unplug extra"}) {
        SCOPED_TRACE(words);
        expectResult(script("sim-ctl.sh", ctlScript(words) + " 2>/dev/null"), "", 1);
    }

    // Ctrl-C (and SIGTERM) end the program cleanly: no file says a box runs, nor names its
    // pseudo-terminals.
    ASSERT_TRUE(leftBehind("links"));
    ASSERT_TRUE(leftBehind("serial-ports"));
    stopWith(SIGINT);
    EXPECT_FALSE(leftBehind("links"));
    EXPECT_FALSE(leftBehind("ctl"));
    EXPECT_FALSE(leftBehind("serial-ports"));
    expectResult(script("sim-ready.sh", root_), "error: no box runs with root " + root_ + "\n", 1);
}

// The box refuses to write its list of serial ports through a link planted at its name: the
// ready line then says the ports are not known, and names none of the file the link leads to.
TEST_F(ScriptsOnABox, TheReadyLineReadsNoFileThroughALink) {
    const std::string ports = root_ + "/sim/serial-ports";
    const std::string outside = root_ + "-outside";
    std::ofstream(outside) << "/dev/ttyS9 /dev/pts/999\n";
    const std::string listed = slurp(ports);
    fs::remove(ports);
    fs::create_symlink(outside, ports);
    const CommandResult ready = script("sim-ready.sh", root_);
    EXPECT_EQ(ready.status, 0) << ready.output;
    EXPECT_EQ(ready.output.rfind("simulated box ready: TCP 127.0.0.1:", 0), 0u) << ready.output;
    const std::string said =
        ", serial: not known (" + ports + " is a symbolic link), root " + root_ + "\n";
    EXPECT_NE(ready.output.find(said), std::string::npos) << ready.output;
    EXPECT_EQ(ready.output.find("ttyS9"), std::string::npos) << ready.output;
    // Its own file, put back, is read again.
    fs::remove(ports);
    std::ofstream(ports) << listed;
    const std::string again = script("sim-ready.sh", root_).output;
    EXPECT_NE(again.find(", serial /dev/ttyS1 at /dev/pts/"), std::string::npos) << again;
    fs::remove(outside);
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

TEST_F(ScriptsOnABox, AFileThatCantBeWrittenIsAnErrorAndLeavesNothingInTheRoot) {
    const std::string notAFolder = root_ + "-file";
    std::ofstream(notAFolder) << "a file, not a folder";
    for (const std::string& file : {notAFolder + "/shot.png", notAFolder + "/in/edid.bin"}) {
        const std::string words =
            file.find("shot") != std::string::npos ? "screenshot " + file : "edid HDMI1 " + file;
        SCOPED_TRACE(words);
        expectResult(script("sim-ctl.sh", ctlScript(words)), "error: cannot write " + file + "\n",
                     1);
    }
    for (const char* folder : {"/sim/screenshots", "/sim/edid"})
        EXPECT_TRUE(fs::is_empty(root_ + folder)) << folder;
    // Missing folders are made.
    const std::string made = root_ + "-out/new/folders/shot.png";
    expectResult(script("sim-ctl.sh", ctlScript("screenshot " + made)), "ok\n", 0);
    EXPECT_EQ(slurp(made).substr(1, 3), "PNG");
    removeTree(root_ + "-out");
    fs::remove(notAFolder);
}

// The plug right after the box is ready waits until its USB watcher listens; the disk's copy
// in the root goes at a clean stop, and one a killed box left goes at the next start.
TEST_F(ScriptsOnABox, AUsbPlugWaitsForTheWatcherAndTheDisksCopiesGoAtStopAndStart) {
    const std::string host = makeTempDir("disk");
    std::ofstream(host + "/note.txt") << "on the disk\n";
    expectResult(script("sim-ctl.sh", ctlScript("usb plug " + host)), "ok\n", 0);
    EXPECT_EQ(statusLine("usb watcher: "), "usb watcher: listening");
    EXPECT_TRUE(usbMounted()) << statusLine("usb disk: ");
    EXPECT_EQ(diskCopies(), 1);

    stopWith(SIGTERM);
    EXPECT_EQ(diskCopies(), 0);
    EXPECT_TRUE(fs::is_empty(root_ + "/mnt/usb1"));
    EXPECT_EQ(slurp(host + "/note.txt"), "on the disk\n");  // the host's folder stays

    // As a box that was killed leaves it, with folders in it.
    fs::create_directories(root_ + "/sim/usb-disk.left/ZEM-T73/deep");
    std::ofstream(root_ + "/sim/usb-disk.left/ZEM-T73/deep/new.ZEM") << "package";
    start();
    ASSERT_TRUE(ctlReady()) << console();
    EXPECT_EQ(diskCopies(), 0);
    removeTree(host);
}

// Started under umask 077, the box leaves its USB disk's mount point a folder of mode 0755 at
// its stop, as it makes every folder.
class ScriptsOnABoxUnderUmask077 : public ScriptsOnABox {
protected:
    ScriptsOnABoxUnderUmask077() { umask_ = 077; }
};

TEST_F(ScriptsOnABoxUnderUmask077, TheMountPointAStopLeavesIs0755) {
    const std::string host = makeTempDir("disk");
    expectResult(script("sim-ctl.sh", ctlScript("usb plug " + host)), "ok\n", 0);
    stopWith(SIGTERM);
    EXPECT_TRUE(fs::is_empty(root_ + "/mnt/usb1"));
    EXPECT_EQ(fs::status(root_ + "/mnt/usb1").permissions(), fs::perms(0755));
    removeTree(host);
}

// A command the box has not started when sim-ctl.sh stops waiting is dropped, not carried out
// once the box runs again: a person who tries again presses a key once.
TEST_F(ScriptsOnABox, ACommandNotStartedWhenItsClientGaveUpIsDropped) {
    const std::string before = statusLine("port 7: ");
    ASSERT_NE(before, "port 7: 9 cards, link up");
    ::kill(pid_, SIGSTOP);
    const CommandResult late = script("sim-ctl.sh", ctlScript("cards 7 9"), "ZEM_SIM_CTL_WAIT=2 ");
    ::kill(pid_, SIGCONT);
    expectResult(late, "error: the box with root " + root_ + " did not answer; not carried out\n",
                 1);
    EXPECT_EQ(statusLine("port 7: "), before);
    expectResult(script("sim-ctl.sh", ctlScript("cards 7 9")), "ok\n", 0);
    EXPECT_EQ(statusLine("port 7: "), "port 7: 9 cards, link up");
}

// A box that ends right after it answered sim-ready.sh (a stub socat stops it then, and waits
// until it has removed its files) is said to have ended, never taken for one that listens
// nowhere.
TEST_F(ScriptsOnABox, ABoxThatEndsAsItIsFoundReadyIsSaidToHaveEnded) {
    const std::string real = commandResult("command -v socat").output;
    ASSERT_FALSE(real.empty());
    const std::string stubs = makeTempDir("stubs");
    const std::string stub = stubs + "/socat";
    std::ofstream(stub) << "#!/bin/sh\n\"" << real.substr(0, real.size() - 1)
                        << "\" \"$@\"\nstatus=$?\nkill -TERM " << pid_ << "\nwhile [ -e '" << root_
                        << "/sim/links' ]; do sleep 0.05; done\nexit $status\n";
    fs::permissions(stub, fs::perms::owner_all);
    const CommandResult ready =
        script("sim-ready.sh", root_ + " " + std::to_string(pid_),
               "PATH=" + stubs + ":$PATH timeout " + std::to_string(hangSeconds(60)) + " ");
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    expectResult(ready, "error: the box with root " + root_ + " ended\n", 1);
    removeTree(stubs);
}

// A stopped box holds its root without answering: sim-ready.sh says so, with and without its
// pid, where it would take it for no box or wait for good.
TEST_F(ScriptsOnABox, AStoppedBoxIsToldFromNoBox) {
    ::kill(pid_, SIGSTOP);
    const std::string limit = "timeout " + std::to_string(hangSeconds(60)) + " ";
    const std::string said = "error: a box (process " + std::to_string(pid_) + ") holds root " +
                             root_ + " and does not answer\n";
    for (const std::string& args : {root_, root_ + " " + std::to_string(pid_)}) {
        SCOPED_TRACE(args);
        expectResult(script("sim-ready.sh", args, limit), said, 1);
    }
    ::kill(pid_, SIGCONT);
    EXPECT_EQ(readyLine().rfind("simulated box ready: ", 0), 0u);
}

// A stopped box whose backlog is full takes no connection: sim-ctl.sh and sim-ready.sh try
// again until their wait ends and say the command was never sent, where they would hang in
// connect or take the box for none; the box, running again, does not carry it out.
TEST_F(ScriptsOnABox, AStoppedBoxWithAFullBacklogIsAnErrorWithinTheWait) {
    const std::string before = statusLine("port 7: ");
    ASSERT_NE(before, "port 7: 9 cards, link up");
    ::kill(pid_, SIGSTOP);
    // Until every thread has stopped, the channel's may still take a connection out of the backlog.
    int state = 0;
    ASSERT_EQ(::waitpid(pid_, &state, WUNTRACED), pid_);
    ASSERT_TRUE(WIFSTOPPED(state));
    std::vector<int> waiting;
    for (int fd; waiting.size() < 1000 && (fd = ctlConnection(false)) >= 0;) waiting.push_back(fd);
    EXPECT_EQ(errno, EAGAIN) << std::strerror(errno);
    const std::string limit = "timeout " + std::to_string(hangSeconds(60)) + " ";
    expectResult(script("sim-ctl.sh", ctlScript("cards 7 9"), limit + "env ZEM_SIM_CTL_WAIT=2 "),
                 "error: the box with root " + root_ + " did not answer; not carried out\n", 1);
    const std::string said = "error: a box (process " + std::to_string(pid_) + ") holds root " +
                             root_ + " and does not answer\n";
    for (const std::string& args : {root_, root_ + " " + std::to_string(pid_)}) {
        SCOPED_TRACE(args);
        expectResult(script("sim-ready.sh", args, limit), said, 1);
    }
    for (int fd : waiting) ::close(fd);
    ::kill(pid_, SIGCONT);
    EXPECT_EQ(readyLine().rfind("simulated box ready: ", 0), 0u);
    EXPECT_EQ(statusLine("port 7: "), before);
}

// socat reads "," and ":" in an address as its own syntax: a root holding them is reached all
// the same.
class ScriptsOnARootOfOddName : public ScriptsOnABox {
protected:
    void SetUp() override {
        rootTag_ = "odd,name:x";
        ScriptsOnABox::SetUp();
    }
};

TEST_F(ScriptsOnARootOfOddName, ReachTheBox) {
    const CommandResult ready =
        script("sim-ready.sh", ctlScript(std::to_string(pid_)), "timeout 60 ");
    EXPECT_EQ(ready.status, 0) << ready.output;
    EXPECT_EQ(ready.output.rfind("simulated box ready: TCP 127.0.0.1:", 0), 0u) << ready.output;
    EXPECT_NE(ready.output.find(", root " + root_ + "\n"), std::string::npos) << ready.output;
    EXPECT_EQ(script("sim-ready.sh", root_).output, ready.output);
    const CommandResult status = script("sim-ctl.sh", ctlScript("status"));
    EXPECT_EQ(status.status, 0) << status.output;
    EXPECT_EQ(status.output.rfind("fpga thread: ", 0), 0u) << status.output;
    expectResult(script("sim-ctl.sh", ctlScript("key Right")), "ok\n", 0);
}

// A screenshot or an EEPROM read-out replaces a regular file only: a device, a FIFO, a socket
// or a link stays as it was (the machine's /dev/null must never become a PNG).
TEST_F(ScriptsOnABox, AFileThatIsNoRegularFileIsRefusedAndLeftAsItWas) {
    const std::string dir = makeTempDir("targets");
    const std::string kept = dir + "/kept.txt";
    std::ofstream(kept) << "kept\n";
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0644), 0);
    fs::create_symlink(kept, dir + "/link");
    fs::create_symlink(dir + "/nowhere", dir + "/dangling");
    fs::create_directory(dir + "/folder");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const std::string sockPath = dir + "/socket";
    ASSERT_LT(sockPath.size(), sizeof a.sun_path);
    std::memcpy(a.sun_path, sockPath.c_str(), sockPath.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    std::vector<std::string> targets = {"fifo", "link", "dangling", "folder", "socket"};
    if (::mknod((dir + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        targets.push_back("null");
    else
        std::printf("mknod is not permitted here: the character device case is skipped\n");

    auto shape = [](const std::string& file) {
        const fs::file_status st = fs::symlink_status(file);
        return std::to_string(int(st.type())) +
               (fs::is_symlink(st) ? " -> " + fs::read_symlink(file).string() : "");
    };
    for (const std::string& name : targets) {
        const std::string file = dir + "/" + name, before = shape(file);
        for (const std::string& words : {"screenshot " + file, "edid HDMI1 " + file}) {
            SCOPED_TRACE(words);
            expectResult(script("sim-ctl.sh", ctlScript(words)),
                         "error: cannot write " + file + ": not a regular file\n", 1);
            EXPECT_EQ(shape(file), before);
        }
    }
    EXPECT_EQ(slurp(kept), "kept\n");
    for (const char* folder : {"/sim/screenshots", "/sim/edid"})
        EXPECT_TRUE(fs::is_empty(root_ + folder)) << folder;
    // A regular file is replaced.
    expectResult(script("sim-ctl.sh", ctlScript("screenshot " + kept)), "ok\n", 0);
    EXPECT_EQ(slurp(kept).substr(1, 3), "PNG");
    ::close(sock);
    removeTree(dir);
}

class UnderNohup : public ScriptsOnABox {
protected:
    UnderNohup() { ignoreHangUp_ = true; }
};

TEST_F(UnderNohup, TheBoxLivesThroughAHangUpAndStopsCleanlyOnSigterm) {
    ::kill(pid_, SIGHUP);
    EXPECT_EQ(ctl("status").rfind("fpga thread: ", 0), 0u);
    EXPECT_TRUE(running());
    // SIGTERM still removes the files, then ends the program as the signal does.
    ::kill(pid_, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid_, &status, 0), pid_);
    pid_ = -1;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_FALSE(leftBehind("links"));
    EXPECT_FALSE(leftBehind("ctl"));
}

// A console whose reader stopped reading (zemT57N --sim ROOT piped to a reader that stopped
// reading): a worker waits on it with a source's trace, the panel's thread with a key's; SIGTERM
// ends the box all the same, by the signal, with its files removed.
class OnAStuckConsole : public ScriptsOnABox {
protected:
    OnAStuckConsole() { consoleToPipe_ = true; }
    // The id of the box's thread of that name, or 0.
    pid_t threadNamed(const std::string& name) const {
        const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
        for (const auto& task : fs::directory_iterator(tasks))
            if (slurp(task.path().string() + "/comm") == name + "\n")
                return pid_t(std::stol(task.path().filename().string()));
        return 0;
    }
};

TEST_F(OnAStuckConsole, SigtermEndsTheBoxAllTheSame) {
    stopReadingConsole();
    ctl("input HDMI1 1920x1080@60");
    // Posted before the stop's call: the panel's thread takes the key first and waits writing its
    // trace (or it waits on a line of its own already, and the channel says it did not answer).
    ctl("key Right");
    // To the thread that waits for the signals: ThreadSanitizer runs a handler only once the call
    // that caught the signal returns, and the panel's thread's write never does.
    ASSERT_EQ(::syscall(SYS_tgkill, pid_, threadNamed("signals"), SIGTERM), 0)
        << std::strerror(errno);
    int status = 0;
    ASSERT_TRUE(eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, seconds(20)))
        << "the box still runs 20 s after SIGTERM";
    pid_ = -1;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_FALSE(leftBehind("links"));
    EXPECT_FALSE(leftBehind("ctl"));
}

// The panel's thread waits (on a screenshot's file nobody reads): a key sent meanwhile is not
// started by the time sim-ctl.sh stops waiting, and is dropped; the screenshot the panel had
// started says it may still be carried out.
TEST_F(OnAStuckConsole, APanelCommandNotStartedInTimeIsDroppedAndOneUnderWaySaysSo) {
    const std::string before = statusLine("page: ");
    ASSERT_NE(before, "page: 1 MainWindow");
    // Asked with a deadline 2 s on, as sim-ctl.sh asks: taken, then still under way.
    ASSERT_NO_FATAL_FAILURE(holdPanel([&](const std::string& line) {
        timespec now{};
        ::clock_gettime(CLOCK_BOOTTIME, &now);
        const int64_t deadline = int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000 + 2000;
        return ctl("@" + std::to_string(deadline) + " " + line);
    }));
    EXPECT_EQ(panel_hold_answer_,
              "taken\nerror: the panel did not answer within 10 s; it may still be carried out\n");
    // The box drops it at its deadline, a little before sim-ctl.sh's wait ends, and says so (or,
    // its answer late, sim-ctl.sh says it did not answer): either way, not carried out.
    const CommandResult key = script("sim-ctl.sh", ctlScript("key OK"), "ZEM_SIM_CTL_WAIT=2 ");
    EXPECT_EQ(key.status, 1);
    EXPECT_TRUE(key.output == "error: the panel did not take it in time; not carried out\n" ||
                key.output ==
                    "error: the box with root " + root_ + " did not answer; not carried out\n")
        << key.output;
    releasePanel();
    // Asked after both: the key OK that would have opened the menu was dropped.
    EXPECT_EQ(statusLine("page: "), before);
    expectResult(script("sim-ctl.sh", ctlScript("key OK")), "ok\n", 0);
    EXPECT_EQ(statusLine("page: "), "page: 1 MainWindow");
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

// A port the box can't open is an error on the terminal, each line once.
TEST_F(PlainStart, APortHeldElsewhereIsSaidOnTheTerminalOnce) {
    ASSERT_TRUE(ctlReady()) << console();
    stop(SIGKILL);
    const int held = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(held, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(held, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(held, 1), 0);
    start();
    ASSERT_EQ(readyLine().rfind("simulated box ready: TCP not listening", 0), 0u) << readyLine();
    const std::string terminal = errors();
    for (const std::string& line :
         {"TCP port " + std::to_string(port_) + " not opened: Address already in use\n",
          std::string("TCP server: socket not opened\n")}) {
        const size_t first = terminal.find(line);
        EXPECT_NE(first, std::string::npos) << line << terminal;
        EXPECT_EQ(terminal.find(line, first + 1), std::string::npos) << line << terminal;
    }
    ::close(held);
}

// The channel's thread lives through waits that fail: a few moments with the program's
// descriptor limit at 0 (as prlimit sets it) make its poll and accept fail, and a command sent
// meanwhile is answered once the limit is back. The limit goes to 0 once the box has settled.
TEST_F(PlainStart, TheChannelAnswersAgainAfterItsWaitsFailed) {
    ASSERT_TRUE(settled()) << output();
    rlimit before{};
    ASSERT_EQ(::prlimit(pid_, RLIMIT_NOFILE, nullptr, &before), 0);
    rlimit none = before;
    none.rlim_cur = 0;
    ASSERT_EQ(::prlimit(pid_, RLIMIT_NOFILE, &none, nullptr), 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, (root_ + "/sim/ctl").c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::send(fd, "status\n", 7, MSG_NOSIGNAL), 7);
    // The channel says when its waits fail: the limit goes back after that.
    const bool failed = eventually(
        [&] { return console().find("control channel: ") != std::string::npos || !running(); },
        seconds(60));
    ASSERT_TRUE(running()) << "the box ended without descriptors\n" << output();
    ASSERT_EQ(::prlimit(pid_, RLIMIT_NOFILE, &before, nullptr), 0);
    EXPECT_TRUE(failed) << output();
    // Its accept (no descriptor) or its next poll (more descriptors than the limit) failed.
    EXPECT_NE(console().find("), commands wait"), std::string::npos) << output();
    // The answer to the command sent meanwhile; the bound only catches a channel that died.
    std::string answer;
    char buf[4096];
    for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, hangMs(60000)) > 0;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        answer.append(buf, size_t(n));
    }
    ::close(fd);
    EXPECT_EQ(answer.rfind("fpga thread: ", 0), 0u) << answer << output();
    EXPECT_EQ(ctl("key Right"), "ok\n") << output();
    EXPECT_TRUE(eventually(
        [&] { return console().find("control channel: answering again") != std::string::npos; },
        seconds(10)))
        << output();
}

// Qt's event loop, its wait failing while the descriptor limit is 0, says so as fast as it can:
// the console has it once a minute at most, the terminal not at all. The limit goes to 0 once the
// box has settled.
TEST_F(PlainStart, WarningsOfQtDuringFailedWaitsGoToTheConsoleOnceAMinute) {
    ASSERT_TRUE(settled()) << output();
    const std::string warning = "qt_safe_poll: Invalid argument";
    auto count = [](const std::string& text, const std::string& line) {
        size_t n = 0;
        for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
            ++n;
        return n;
    };
    rlimit before{};
    ASSERT_EQ(::prlimit(pid_, RLIMIT_NOFILE, nullptr, &before), 0);
    rlimit none = before;
    none.rlim_cur = 0;
    const auto lowered = std::chrono::steady_clock::now();
    ASSERT_EQ(::prlimit(pid_, RLIMIT_NOFILE, &none, nullptr), 0);
    // Said somewhere (the terminal would fill the disk fast): the limit goes back.
    const bool said = eventually(
        [&] { return count(console(), warning) + count(errors(), warning) > 0 || !running(); },
        seconds(60));
    ASSERT_TRUE(running()) << "the box ended without descriptors\n" << output();
    ASSERT_EQ(::prlimit(pid_, RLIMIT_NOFILE, &before, nullptr), 0);
    EXPECT_TRUE(said) << output();
    // The panel's loop runs on: the channel answers again once its paused wait is retried.
    EXPECT_TRUE(ctlOk("key Right")) << output();
    const auto minutes =
        std::chrono::duration_cast<std::chrono::minutes>(std::chrono::steady_clock::now() - lowered)
            .count();
    EXPECT_LE(count(console(), warning), size_t(1 + minutes)) << output();
    EXPECT_EQ(count(errors(), warning), 0u) << output();
}

// A box that does not answer (stopped here) is an error, not an empty answer; the script's
// wait is ZEM_SIM_CTL_WAIT seconds.
TEST_F(ScriptsOnABox, ABoxThatDoesNotAnswerIsAnError) {
    ::kill(pid_, SIGSTOP);
    const std::string wait = "env ZEM_SIM_CTL_WAIT=1 timeout 60 ";
    for (const char* command : {"status", "key Right"})
        expectResult(script("sim-ctl.sh", ctlScript(command), wait),
                     "error: the box with root " + root_ + " did not answer; not carried out\n", 1);
    ::kill(pid_, SIGCONT);
    expectResult(script("sim-ctl.sh", ctlScript("key Right"), wait), "ok\n", 0);
    for (const char* bad : {"0", "x", "-1"})
        expectResult(script("sim-ctl.sh", ctlScript("status"),
                            std::string("env ZEM_SIM_CTL_WAIT=") + bad + " "),
                     std::string("error: ZEM_SIM_CTL_WAIT=") + bad +
                         ": the wait must be a whole number of seconds from 1\n",
                     1);
}

}  // namespace
