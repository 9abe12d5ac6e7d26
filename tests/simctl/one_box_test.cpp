// One box per root, and starts that can't work stop at once with one error: a second box on a
// running root, from the program or from scripts/run-sim.sh (with its DIR read from the
// caller's folder, or ZEM_SIM_ROOT, or ./sim-root), leaves the first box's channel and files
// alone, its USB disk's too; a bad port offset or a root too long for the control socket stops
// the program before it builds its box, and scripts/run-sim.sh before its build, making
// nothing. --help and an unknown option end the program before it does anything, and a PC
// build without a root refuses to start.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "local_command.h"
#include "platform/box.h"
#include "program_fixture.h"
#include "sim_fixture.h"

namespace {

using std::chrono::seconds;
namespace fs = std::filesystem;

// scripts/run-sim.sh started in folder with the environment settings env. It stops before
// building when the root is taken; the time limit guards against a build all the same.
CommandResult runSim(const std::string& folder, const std::string& env, const std::string& args) {
    return commandResult("cd '" + folder + "' && env " + env + " timeout " +
                         std::to_string(hangSeconds(120)) +
                         " " ZEM_SOURCE_DIR "/scripts/run-sim.sh " + args + " </dev/null");
}

CommandResult scriptIn(const std::string& folder, const std::string& name,
                       const std::string& args) {
    return commandResult("cd '" + folder + "' && " ZEM_SOURCE_DIR "/scripts/" + name + " " + args);
}

// The program started on root with env (in a shell of umask mask, if given), stopped with SIGTERM
// once sim-ready.sh finds it ready, or when it ends on its own: what it made is then on disk, and
// the run takes what a start takes, whatever the time factor. Not SIGINT: a shell without job
// control starts it with SIGINT ignored.
CommandResult startedUntilReady(const std::string& mask, const std::string& env,
                                const std::string& root) {
    return commandResult((mask.empty() ? "" : "umask " + mask + "; ") + "env " + env +
                         " QT_QPA_PLATFORM=offscreen" + programCommand() + " --sim '" + root +
                         "' </dev/null & box=$!; timeout " + std::to_string(hangSeconds(60)) +
                         " " ZEM_SOURCE_DIR "/scripts/sim-ready.sh '" + root +
                         "' $box >/dev/null; kill -TERM $box; "
                         "wait $box");
}

class OneBoxPerRoot : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        ASSERT_TRUE(ctlReady()) << console();
        ASSERT_TRUE(eventually([&] { return fs::exists(root_ + "/sim/links"); }, seconds(30)));
    }
    std::string taken() const {
        return "error: a box (pid " + std::to_string(pid_) + ") already runs with root " + root_ +
               "\n";
    }
    // The first box's files that a second start must not touch, its USB disk's among them.
    std::string files() const {
        std::string all;
        for (const char* f : {"links", "serial-ports", "console.log", "lock", "usb-mount"})
            all += std::string(f) + ":" + slurp(root_ + "/sim/" + f) + "\n";
        for (const auto& e : fs::directory_iterator(root_ + "/sim"))
            if (e.path().filename().string().rfind("usb-disk.", 0) == 0)
                all += e.path().filename().string() + "\n";
        std::error_code ec;
        all += "mount point:" + fs::read_symlink(root_ + "/mnt/usb1", ec).string() + "\n";
        return all;
    }
    void expectFirstBoxIntact(const std::string& before) {
        EXPECT_EQ(files(), before);
        EXPECT_TRUE(running());
        EXPECT_EQ(ctl("status").rfind("fpga thread: ", 0), 0u);
        EXPECT_EQ(readyLine().rfind("simulated box ready: ", 0), 0u);
    }
};

TEST_F(OneBoxPerRoot, ASecondProgramOnTheRootIsRefusedAndTheFirstKeepsItsChannelAndFiles) {
    std::ofstream(root_ + "/sim/console.log") << "the first box's console\n";
    const std::string disk = makeTempDir("disk");
    ASSERT_EQ(scriptOutput("sim-ctl.sh", root_ + " usb plug " + disk), "ok\n");
    ASSERT_TRUE(usbMounted()) << statusLine("usb disk: ");
    const std::string before = files();
    ASSERT_NE(before.find("\nusb-disk."), std::string::npos) << before;
    const CommandResult second = programRun(root_, "");
    EXPECT_EQ(second.output, taken());
    EXPECT_EQ(second.status, 1);
    expectFirstBoxIntact(before);
    EXPECT_TRUE(usbMounted()) << statusLine("usb disk: ");
    removeTree(disk);
}

TEST_F(OneBoxPerRoot, RunSimFindsTheRootTakenWhereverItsDirComesFrom) {
    std::ofstream(root_ + "/sim/console.log") << "the first box's console\n";
    const std::string before = files();
    const std::string parent = fs::path(root_).parent_path(), name = fs::path(root_).filename();
    // The caller's folder holds a ./sim-root that is the running box's root.
    const std::string caller = makeTempDir("caller");
    fs::create_directory_symlink(root_, caller + "/sim-root");
    struct Case {
        std::string folder, env, args;
    } cases[] = {
        {"/", "", root_},
        {parent, "", name},                           // relative to the caller's folder
        {parent, "", name + " --console"},            // options in any order
        {parent, "ZEM_SIM_ROOT=" + name, ""},         // the environment, then
        {parent, "ZEM_SIM_ROOT=/nonexistent", name},  // the argument first
        {caller, "", ""},                             // ./sim-root last
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder + " " + c.env + " run-sim.sh " + c.args);
        const CommandResult r = runSim(c.folder, c.env, c.args);
        EXPECT_EQ(r.output, taken());
        EXPECT_EQ(r.status, 1);
    }
    expectFirstBoxIntact(before);
    // The other scripts read a relative DIR the same way.
    const std::string ready = scriptIn(parent, "sim-ready.sh", name).output;
    EXPECT_NE(ready.find(", root " + root_ + "\n"), std::string::npos) << ready;
    EXPECT_EQ(scriptIn(parent, "sim-ctl.sh", name + " key Right").output, "ok\n");
    removeTree(caller);
}

// The program stops before it builds its box, and scripts/run-sim.sh before it builds the
// program: one line each, the same, and neither makes the root.
TEST(StartErrors, ABadPortOffsetOrARootTooLongForTheChannelStopWithOneError) {
    const std::string base = makeTempDir("start");
    const std::string longRoot = base + "/" + std::string(110, 'r');
    const std::string byteTooLong = base + "/" + std::string(107 - base.size() - 9 + 1, 'r');
    ASSERT_EQ((byteTooLong + "/sim/ctl").size(), 108u);
    auto badOffset = [](const std::string& offset) {
        return "error: ZEM_SIM_PORT_OFFSET=" + offset +
               ": the offset must be a whole number from 0 to 51766\n";
    };
    struct Case {
        std::string root, env, error;
    } cases[] = {
        // 51767 would put the WiFi text port (13769) past 65535.
        {base + "/a", "ZEM_SIM_PORT_OFFSET=51767", badOffset("51767")},
        {base + "/b", "ZEM_SIM_PORT_OFFSET=60000", badOffset("60000")},
        {base + "/c", "ZEM_SIM_PORT_OFFSET=5x", badOffset("5x")},
        {base + "/d", "ZEM_SIM_PORT_OFFSET=-100", badOffset("-100")},
        {base + "/e", "ZEM_SIM_PORT_OFFSET=99999999999999999999",
         badOffset("99999999999999999999")},
        {longRoot, "",
         "error: control channel " + longRoot +
             "/sim/ctl not opened: the path is longer than 107 bytes\n"},
        {byteTooLong, "",
         "error: control channel " + byteTooLong +
             "/sim/ctl not opened: the path is longer than 107 bytes\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.env + " " + c.root);
        const CommandResult r = programRun(c.root, c.env);
        EXPECT_EQ(r.output, c.error);
        EXPECT_EQ(r.status, 1);
        EXPECT_FALSE(fs::exists(c.root));
        removeTree(c.root);
        const CommandResult script = runSim("/", c.env, c.root);
        EXPECT_EQ(script.output, c.error);
        EXPECT_EQ(script.status, 1);
        EXPECT_FALSE(fs::exists(c.root));
    }
    // The highest offset and the longest root that fit pass the script's checks: it stops at
    // the root taken instead (a lock held here stands for a running box).
    const std::string fits = base + "/" + std::string(107 - base.size() - 9, 'f');
    ASSERT_EQ((fits + "/sim/ctl").size(), 107u);
    platform::makeDirs(fits + "/sim");
    const int lock = ::open((fits + "/sim/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    const CommandResult taken = runSim("/", "ZEM_SIM_PORT_OFFSET=51766", fits);
    EXPECT_EQ(taken.output, "error: a box already runs with root " + fits + "\n");
    ::close(lock);
    removeTree(base);
}

// ROOT/sim is the box's own: a symbolic link there, a folder of another user's or one others
// may write in is refused, and so is a symbolic link where a start makes its lock, its build's
// log, its console's log or its program's copy; what it leads to stays as it was. Of the four
// files the program alone makes the lock.
TEST(StartErrors, ASimFolderNotTheBoxsOwnOrALinkInItIsRefused) {
    const std::string base = makeTempDir("own-sim");
    const std::string outside = base + "/outside";
    fs::create_directory(outside);
    const std::string kept = outside + "/kept.txt";
    struct Case {
        const char* name;
        std::function<void(const std::string& sim)> plant;
        std::string why;          // after "error: ROOT/sim"
        std::string before = "";  // after "error: "
    } cases[] = {
        {"sim a file", [&](const std::string& sim) { std::ofstream(sim) << "a file\n"; },
         ": Not a directory", "cannot make "},
        {"sim a link", [&](const std::string& sim) { fs::create_directory_symlink(outside, sim); },
         " is a symbolic link: the box needs a folder of its own there"},
        {"sim writable by others",
         [&](const std::string& sim) {
             fs::create_directory(sim);
             fs::permissions(sim, fs::perms::all);
         },
         " is writable by other users: the box needs a folder of its own there"},
        {"sim another user's",
         [&](const std::string& sim) {
             fs::create_directory(sim);
             fs::permissions(sim, fs::perms::owner_all);
             if (::chown(sim.c_str(), 65534, 65534) != 0) fs::remove(sim);
         },
         " belongs to another user: the box needs a folder of its own there"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string root = base + "/root";
        platform::makeDirs(root);
        std::ofstream(kept) << "kept\n";
        c.plant(root + "/sim");
        if (!fs::exists(fs::symlink_status(root + "/sim"))) {
            std::printf("chown is not permitted here: the case \"%s\" is skipped\n", c.name);
            removeTree(root);
            continue;
        }
        const std::string error = "error: " + c.before + root + "/sim" + c.why + "\n";
        const CommandResult program = programRun(root, "");
        EXPECT_EQ(program.output, error);
        EXPECT_EQ(program.status, 1);
        const CommandResult script = runSim("/", "", root);
        EXPECT_EQ(script.output, error);
        EXPECT_EQ(script.status, 1);
        EXPECT_EQ(slurp(kept), "kept\n");
        for (const auto& e : fs::directory_iterator(outside))
            EXPECT_EQ(e.path().string(), kept) << "made outside the root";
        removeTree(root);
    }
    for (const char* file : {"lock", "build.log", "console.log", "zemT57N.new"}) {
        SCOPED_TRACE(file);
        const std::string root = base + "/root", sim = root + "/sim";
        platform::makeDirs(sim);
        fs::permissions(sim, fs::perms::owner_all);
        std::ofstream(kept) << "kept\n";
        fs::create_symlink(kept, sim + "/" + file);
        const std::string error = "error: " + sim + "/" + file +
                                  " is a symbolic link: the box makes its own files in " + sim +
                                  "\n";
        const CommandResult script = runSim("/", "", root);
        EXPECT_EQ(script.output, error);
        EXPECT_EQ(script.status, 1);
        if (std::string(file) == "lock") {
            const CommandResult program = programRun(root, "");
            EXPECT_EQ(program.output, error);
            EXPECT_EQ(program.status, 1);
        }
        EXPECT_EQ(slurp(kept), "kept\n");
        removeTree(root);
    }
    removeTree(base);
}

// The root is the box's own as ROOT/sim is: one another user owns, or others may write in (a
// sticky shared folder too, or 0775 made under umask 002), is refused by the program and every
// script with one line naming the folder it resolves to, and the chmod that mends it; nothing
// is made in it. The line names the folder a link given as DIR leads to.
TEST(StartErrors, ARootNotTheBoxsOwnIsRefused) {
    const std::string base = makeTempDir("own-root");
    const std::string root = base + "/root";
    auto writable = [&](fs::perms mode) {
        return [mode](const std::string& dir) { fs::permissions(dir, mode); };
    };
    const std::string others = "error: root " + root +
                               " is writable by other users: the box needs a root of its own "
                               "(chmod go-w '" +
                               root + "' mends it)\n";
    struct Case {
        const char* name;
        std::function<void(const std::string& root)> make;
        std::string dir, error;
    } cases[] = {
        {"writable by all", writable(fs::perms::all), root, others},
        {"sticky, writable by all", writable(fs::perms::all | fs::perms::sticky_bit), root, others},
        {"writable by the group", writable(fs::perms::owner_all | fs::perms::group_all), root,
         others},
        {"writable by the group, given as a link",
         writable(fs::perms::owner_all | fs::perms::group_all), base + "/link", others},
        {"another user's",
         [&](const std::string& dir) {
             if (::chown(dir.c_str(), 65534, 65534) != 0) fs::remove(dir);
         },
         root,
         "error: root " + root + " belongs to another user: the box needs a root of its own\n"},
    };
    fs::create_directory_symlink(root, base + "/link");
    const std::string sh = "umask 002 && ";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::makeDirs(root);
        c.make(root);
        if (!fs::exists(root)) {
            std::printf("chown is not permitted here: the case \"%s\" is skipped\n", c.name);
            continue;
        }
        for (const std::string& start :
             {"env QT_QPA_PLATFORM=offscreen timeout 120" + programCommand() + " --sim",
              std::string("timeout 120 " ZEM_SOURCE_DIR "/scripts/run-sim.sh"),
              std::string(ZEM_SOURCE_DIR "/scripts/sim-ready.sh"),
              std::string(ZEM_SOURCE_DIR "/scripts/sim-ctl.sh")}) {
            const std::string line = sh + start + " '" + c.dir + "'" +
                                     (start.find("sim-ctl") != std::string::npos ? " status" : "");
            SCOPED_TRACE(line);
            const CommandResult r = commandResult(line + " </dev/null");
            EXPECT_EQ(r.output, c.error);
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(fs::is_empty(root)) << "made in the root";
        }
        removeTree(root);
    }
    fs::remove(base + "/link");
    removeTree(base);
}

// A new root, and every folder the box makes in it, is made with mode 0755 whatever the umask
// (the folder sim and Qt's runtime folder are the box's alone: 0700), and every file with mode
// 0644 (the configuration QSettings writes, the shell's log among them); by scripts/run-sim.sh
// too.
TEST(StartErrors, ANewRootAndWhatTheBoxMakesInItHaveTheirModesWhateverTheUmask) {
    const std::string base = makeTempDir("new-root");
    std::string root;
    for (const char* mask : {"077", "002"}) {
        SCOPED_TRACE(std::string("umask ") + mask);
        const std::string top = base + "/new-" + mask;
        root = top + "/root";
        const CommandResult started = startedUntilReady(mask, "", root);
        ASSERT_TRUE(fs::exists(root + "/data/configs/tcpip.ini")) << started.output;
        EXPECT_EQ(fs::status(top).permissions(), fs::perms(0755));
        EXPECT_EQ(fs::status(root).permissions(), fs::perms(0755));
        for (const auto& e : fs::recursive_directory_iterator(root)) {
            if (e.is_symlink()) continue;
            const std::string name = e.path().string();
            SCOPED_TRACE(name);
            const bool own = name == root + "/sim" || name == root + "/sim/runtime";
            if (e.is_directory()) {
                EXPECT_EQ(e.status().permissions(), fs::perms(own ? 0700 : 0755));
            } else if (e.is_regular_file()) {
                EXPECT_EQ(e.status().permissions(), fs::perms(0644));
            }
        }
        EXPECT_TRUE(fs::exists(root + "/sim/shell.log"));
    }
    // A link in its place is never chmod-ed: the folder it leads to keeps its mode.
    const std::string outside = base + "/outside";
    platform::makeDirs(outside);
    removeTree(root + "/sim/runtime");
    fs::create_directory_symlink(outside, root + "/sim/runtime");
    const CommandResult again = startedUntilReady("", "-u XDG_RUNTIME_DIR", root);
    EXPECT_NE(again.output.find(root + "/sim/runtime is a symbolic link: refused"),
              std::string::npos)
        << again.output;
    EXPECT_EQ(fs::status(outside).permissions(), fs::perms(0755));
    const std::string made = base + "/by-script/root";
    const CommandResult script =
        commandResult("bash -c 'cd " ZEM_SOURCE_DIR
                      " && umask 002 && source scripts/lib/usage.sh && source "
                      "scripts/lib/box.sh && make_root \"$0\"' '" +
                      made + "'");
    EXPECT_EQ(script.output, "");
    EXPECT_EQ(fs::status(base + "/by-script").permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(made).permissions(), fs::perms(0755));
    removeTree(base);
}

// A root that is the machine's own / would make the box's paths the machine's files: the
// program and the scripts refuse it however it is written. Each start also carries a bad port
// offset, refused right after the root: a start that took the root would stop there, before it
// made or wrote anything under /.
TEST(StartErrors, ARootThatIsTheMachinesOwnIsRefused) {
    const std::string base = makeTempDir("machine-root");
    fs::create_directory_symlink("/", base + "/link");
    std::string up = base + "/not-made/..";  // then as many ".." as base is deep
    for (const auto& part : fs::path(base).relative_path()) up += part.empty() ? "" : "/..";
    auto refused = [](const std::string& dir) {
        return "error: DIR " + dir + " is / itself: the simulated box needs a folder of its own\n";
    };
    const std::string start =
        "cd " + base + " && env QT_QPA_PLATFORM=offscreen ZEM_SIM_PORT_OFFSET=x ";
    const std::string program = start + "timeout 120" + programCommand();
    const std::string runSim = "timeout 120 " ZEM_SOURCE_DIR "/scripts/run-sim.sh";
    struct Case {
        std::string command, output;
    } cases[] = {
        {program + " --sim /", refused("/")},
        {program + " --sim /./", refused("/./")},
        {program + " --sim link", refused("link")},
        {program + " --sim " + up, refused(up)},
        {start + "ZEM_SIM_ROOT=" + base + "/link timeout 120" + programCommand(),
         refused(base + "/link")},
        {start + runSim + " /", refused("/")},
        {"X=; " + start + runSim + " \"$X/\"", refused("/")},
        {start + runSim + " --console " + up, refused(up)},
        {start + "ZEM_SIM_ROOT=link " + runSim, refused("link")},
        {ZEM_SOURCE_DIR "/scripts/sim-ready.sh /", refused("/")},
        {ZEM_SOURCE_DIR "/scripts/sim-ready.sh " + base + "/link 1", refused(base + "/link")},
        {ZEM_SOURCE_DIR "/scripts/sim-ctl.sh //. status", refused("//.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const CommandResult r = commandResult(c.command + " </dev/null");
        EXPECT_EQ(r.output, c.output);
        EXPECT_EQ(r.status, 1);
    }
    EXPECT_FALSE(fs::exists(base + "/not-made"));
    fs::remove(base + "/link");
    removeTree(base);
}

// A DIR that is a file is refused by the program and the three scripts with one line naming it,
// and the file is left as it was.
TEST(StartErrors, ADirThatIsAFileIsRefused) {
    const std::string base = makeTempDir("file-root");
    std::ofstream(base + "/file") << "kept\n";
    const std::string start = "cd " + base + " && env QT_QPA_PLATFORM=offscreen timeout 120";
    const std::string scripts = " " ZEM_SOURCE_DIR "/scripts/";
    const std::string commands[] = {
        start + programCommand() + " --sim file",
        "cd " + base + " && env QT_QPA_PLATFORM=offscreen ZEM_SIM_ROOT=file timeout 120" +
            programCommand(),
        start + scripts + "run-sim.sh file",
        start + scripts + "sim-ready.sh file",
        start + scripts + "sim-ready.sh file 1",
        start + scripts + "sim-ctl.sh file status",
    };
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        const CommandResult r = commandResult(command + " </dev/null");
        EXPECT_EQ(r.output,
                  "error: DIR file is not a folder: the simulated box needs a folder of its own\n");
        EXPECT_EQ(r.status, 1);
    }
    EXPECT_EQ(slurp(base + "/file"), "kept\n");
    removeTree(base);
}

// The program started with args in a folder of its own under base, with a HOME of its own there,
// no ZEM_SIM_ROOT and no commands on PATH: a start that went on anyway would find no shell
// command to run.
CommandResult programIn(const std::string& base, const std::string& env, const std::string& args) {
    for (const char* dir : {"/work", "/home", "/no-commands"}) fs::create_directory(base + dir);
    return commandResult("cd '" + base + "/work' && timeout " + std::to_string(hangSeconds(20)) +
                         " env -u ZEM_SIM_ROOT HOME='" + base + "/home' PATH='" + base +
                         "/no-commands' QT_QPA_PLATFORM=offscreen " + env + programCommand() + " " +
                         args + " </dev/null");
}

void expectNothingMadeIn(const std::string& base) {
    EXPECT_TRUE(fs::is_empty(base + "/work"));
    EXPECT_TRUE(fs::is_empty(base + "/home"));
}

TEST(StartErrors, HelpPrintsTheUsageAndAnUnknownOptionIsRefusedBeforeAnythingRuns) {
    const std::string base = makeTempDir("options");
    const std::string usage = "usage: zemT57N [--sim DIR] [Qt's options]\n";
    auto unknown = [](const std::string& option) {
        return "error: unknown option " + option + " (zemT57N --help says how it is used)\n";
    };
    struct Case {
        std::string args, output;  // the start of it, for the usage
        int status;
    } cases[] = {
        {"--help", usage, 0},
        {"-h", usage, 0},
        {"--sim root --help", usage, 0},
        {"-platform offscreen --help --sim root", usage, 0},
        {"--sim root --bogus", unknown("--bogus"), 1},
        {"--sim root -platform offscreen -x", unknown("-x"), 1},
        {"--sim root -platformx", unknown("-platformx"), 1},
        {"--sim", "error: --sim needs a DIR (zemT57N --help says how it is used)\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const CommandResult r = programIn(base, "", c.args);
        EXPECT_EQ(r.output.substr(0, c.output.size()), c.output) << r.output;
        EXPECT_EQ(r.status, c.status);
        if (c.status == 0) {
            // The Qt options it passes on are named.
            EXPECT_NE(r.output.find(" -platform NAME "), std::string::npos) << r.output;
            EXPECT_NE(r.output.find("--sim DIR "), std::string::npos) << r.output;
        } else {
            EXPECT_EQ(r.output, c.output);
        }
        expectNothingMadeIn(base);
    }
    removeTree(base);
}

// The box's own build starts without a root: it is the box. Any other takes the PC for the box
// without one, so it stops at once, before it makes or runs anything.
TEST(StartErrors, APcBuildWithoutARootRefusesToStartAndMakesNothing) {
    if (!ZEM_PC_BUILD) GTEST_SKIP() << "the box's own build starts without a root";
    const std::string base = makeTempDir("no-root");
    const bool hostData = fs::exists("/data");
    const std::string refused =
        "error: this build runs on the simulated box only: start it with --sim DIR (or "
        "ZEM_SIM_ROOT=DIR)\n";
    for (const std::string& start :
         {std::string(""), std::string("ZEM_SIM_ROOT= "), std::string(" -platform offscreen")}) {
        SCOPED_TRACE(start);
        const bool inEnv = start.rfind("ZEM", 0) == 0;
        const CommandResult r = programIn(base, inEnv ? start : "", inEnv ? "" : start);
        EXPECT_EQ(r.output, refused);
        EXPECT_EQ(r.status, 1);
        expectNothingMadeIn(base);
    }
    EXPECT_EQ(fs::exists("/data"), hostData);
    removeTree(base);
}

}  // namespace
