// The simulated box driven from outside through its control channel (ROOT/sim/ctl) and
// scripts/sim-ctl.sh, as a person with only the README does: a USB disk's package upgrades the
// program, the firmware and the fonts, a corrupt one writes nothing; a card that needs recovery
// is found and restored; a source given to HDMI2 reaches the parameter RAM and the home screen;
// keys, touches and screenshots round-trip, and status names a list a touch opened and a blanked
// FPGA output.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "card_files.h"
#include "pc_link.h"
#include "program_fixture.h"
#include "usb_package.h"

namespace {

using std::chrono::seconds;
namespace fs = std::filesystem;

// Runs scripts/sim-ctl.sh with the box's root and the words; its output.
std::string simCtl(const std::string& root, const std::string& words) {
    return scriptOutput("sim-ctl.sh", root + " " + words);
}

std::string bytesOf(const usb_package::Bytes& b) {
    return std::string(b.begin(), b.end());
}

// What the box sends on fd until it closes it, or what came within limit (a bound that only catches
// a hang).
std::string answerOn(int fd, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + hangBound(limit);
    std::string answer;
    char buf[4096];
    for (;;) {  // bounded: by end
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) return answer;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return answer;
        answer.append(buf, size_t(n));
    }
}

// Two screenshots that both exist and differ (the panel draws the same state the same way).
bool differ(const std::string& a, const std::string& b) {
    return !a.empty() && !b.empty() && a != b;
}

class SimControl : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        ASSERT_TRUE(fpgaReady()) << console();
    }
    bool jobEnds() const {
        return eventually([&] { return statusLine("job: ") == "job: idle"; }, seconds(120));
    }
};

TEST_F(SimControl, APackageOnAUsbDiskUpgradesEverythingAndACorruptOneWritesNothing) {
    using namespace usb_package;
    const Bytes bits = bytes(70000, 4), program = bytes(2000, 5), wide = font(32, false, 3 * 128);
    const std::string disk = root_ + "-disk";  // a folder of this machine, outside the root
    writeBytes(disk + "/ZEM-T73/all.ZEM", package({{kFpga0, firmware(bits)},
                                                   {kFpga1, firmware(bits)},
                                                   {kFont, wide},
                                                   {kProgram, program}}));
    // The watcher listens once the panel has run for 10 s: the script's plug says so until then.
    ASSERT_TRUE(
        eventually([&] { return simCtl(root_, "usb plug " + disk) == "ok\n"; }, seconds(60)));
    ASSERT_TRUE(usbMounted());
    ASSERT_EQ(ctl("job usb"), "ok\n");
    ASSERT_TRUE(jobEnds());
    EXPECT_EQ(statusLine("usb upgrade: "), "usb upgrade: 4 installed, 0 failed, 0 refused");
    EXPECT_EQ(slurp(root_ + "/sim/fpga-flash-1.bin").substr(0, bits.size()), bytesOf(bits));
    EXPECT_EQ(slurp(root_ + "/sim/fpga-flash-2.bin").substr(0, bits.size()), bytesOf(bits));
    EXPECT_EQ(slurp(root_ + "/sim/c331-flash.bin").substr(0x10000, wide.size()), bytesOf(wide));
    EXPECT_EQ(slurp(root_ + "/data/app/zemT57N"), bytesOf(program));

    // Pulled, and a disk with a package cut short plugged in: refused whole, nothing written.
    ASSERT_EQ(simCtl(root_, "usb unplug"), "ok\n");
    ASSERT_TRUE(
        eventually([&] { return statusLine("usb disk: ") == "usb disk: none"; }, seconds(5)));
    // A disk holds no links: a folder that is one is no disk.
    fs::create_directory_symlink(disk, root_ + "/sim/linked-disk");
    EXPECT_EQ(ctl("usb plug /sim/linked-disk"), "error: /sim/linked-disk is a symbolic link\n");
    EXPECT_EQ(statusLine("usb disk: "), "usb disk: none");
    Bytes cut = package({{kFpga0, firmware(bytes(9000, 6))}, {kProgram, bytes(100, 7)}});
    cut.resize(cut.size() - 10);
    fs::remove_all(disk);
    writeBytes(disk + "/ZEM-T73/cut.ZEM", cut);
    const std::string flash = slurp(root_ + "/sim/fpga-flash-1.bin");
    ASSERT_EQ(simCtl(root_, "usb plug " + disk), "ok\n");
    ASSERT_TRUE(usbMounted());
    ASSERT_EQ(ctl("job usb"), "ok\n");
    ASSERT_TRUE(jobEnds());
    EXPECT_EQ(statusLine("usb upgrade: "), "usb upgrade: 0 installed, 0 failed, 1 refused");
    EXPECT_EQ(slurp(root_ + "/sim/fpga-flash-1.bin"), flash);
    EXPECT_EQ(slurp(root_ + "/data/app/zemT57N"), bytesOf(program));
    fs::remove_all(disk);
}

// Started with a relative root, the box mounts a plugged disk as a link that leads to it.
class RelativeRoot : public SimControl {
protected:
    void SetUp() override {
        relativeRoot_ = true;
        SimControl::SetUp();
    }
};

TEST_F(RelativeRoot, APluggedDiskIsMountedWhereItIs) {
    writeBytes(root_ + "/sim/disk/ZEM-T73/note.txt", {'x'});
    ASSERT_TRUE(eventually([&] { return ctl("usb plug /sim/disk") == "ok\n"; }, seconds(60)));
    ASSERT_TRUE(usbMounted());
    EXPECT_TRUE(fs::read_symlink(root_ + "/mnt/usb1").is_absolute());
    EXPECT_EQ(slurp(root_ + "/mnt/usb1/ZEM-T73/note.txt"), "x");
}

// A box stopped with a disk mounted (as a person stops it, or switched off) and started again
// on the same root: the next disk, one without packages, mounts, and the upgrade reads it, not
// the first one. One restart per case: a restart waits for the watcher again.
class UsbRestart : public SimControl, public ::testing::WithParamInterface<int> {};

TEST_P(UsbRestart, TheNextDiskIsMountedAndTheFirstOneIsNotRead) {
    using namespace usb_package;
    const std::string with = root_ + "-disk", without = root_ + "-empty";
    writeBytes(with + "/ZEM-T73/all.ZEM", package({{kProgram, bytes(2000, 5)}}));
    writeBytes(without + "/readme.txt", bytes(10, 1));
    ASSERT_TRUE(
        eventually([&] { return simCtl(root_, "usb plug " + with) == "ok\n"; }, seconds(60)));
    ASSERT_TRUE(usbMounted());
    stop(GetParam());
    if (GetParam() == SIGTERM) {
        EXPECT_FALSE(fs::is_symlink(root_ + "/mnt/usb1")) << "a stopped box keeps no mount";
    }
    restart(GetParam());
    ASSERT_TRUE(fpgaReady()) << console();
    ASSERT_TRUE(
        eventually([&] { return simCtl(root_, "usb plug " + without) == "ok\n"; }, seconds(60)));
    EXPECT_TRUE(usbMounted()) << statusLine("usb disk: ");
    ASSERT_EQ(ctl("job usb"), "ok\n");
    ASSERT_TRUE(jobEnds());
    EXPECT_EQ(statusLine("usb upgrade: "), "usb upgrade: 0 installed, 0 failed, 0 refused");
    fs::remove_all(with);
    fs::remove_all(without);
}

INSTANTIATE_TEST_SUITE_P(StoppedBy, UsbRestart, ::testing::Values(SIGTERM, SIGKILL),
                         [](const ::testing::TestParamInfo<int>& i) {
                             return i.param == SIGTERM ? "Sigterm" : "Sigkill";
                         });

TEST_F(SimControl, ACardThatNeedsRecoveryIsFoundByTheQueryAndRestoredByTheRecovery) {
    const Bytes ram = {0xDE, 0xAD, 0xBE, 0xEF};
    const std::vector<CardOp> restore = {
        {1, 1, 0x200, ram}, {1, 2, 0, {5, 0xFF, 2, 0x12, 0x34}}, {2, 0, 0, {}}};
    const std::vector<CardOp> plain = {{1, 1, 0x10, {1, 2, 3}}};
    // What the PC saved: one screen whose net on port 15 (index 14) has four cards.
    const Bytes qzfx = packedFile(
        {{0x2222, {{1, 2, 0, {10, 0xFF, 1, 0x42}}}, {{14, {plain, restore, plain, plain}}}}});
    EXPECT_EQ(ctl("card 15 2 needs-recovery"),
              "error: the recovery file /data/rcvrecovery/QZFX has no screen on port 15\n");
    EXPECT_EQ(statusLine("recovery list: "), "recovery list: no query yet");
    ASSERT_EQ(ctl("job query"), "ok\n");
    ASSERT_TRUE(jobEnds());
    EXPECT_EQ(statusLine("recovery list: "), "recovery list: no recovery file");
    writeBytes(root_ + "/data/rcvrecovery/QZFX", qzfx);
    ASSERT_EQ(ctl("card 15 2 needs-recovery"), "ok\n");
    EXPECT_EQ(statusLine("port 15: "), "port 15: 4 cards, link up, card 2 needs-recovery");

    ASSERT_EQ(ctl("job query"), "ok\n");
    EXPECT_EQ(ctl("job recover"), "error: a job is running; wait until status says job: idle\n");
    ASSERT_TRUE(jobEnds());
    EXPECT_EQ(statusLine("recovery list: "), "recovery list: 01/15/02/04");

    // The card stops answering: each operation fails, and the card stays the target.
    ASSERT_EQ(ctl("card 15 2 silent"), "ok\n");
    ASSERT_EQ(ctl("job recover"), "ok\n");
    ASSERT_TRUE(jobEnds());
    EXPECT_EQ(statusLine("recovery list: "), "recovery list: recovery failed; 01/15/02/04");

    ASSERT_EQ(ctl("card 15 2 needs-recovery"), "ok\n");
    ASSERT_EQ(ctl("job recover"), "ok\n");
    ASSERT_TRUE(jobEnds());
    EXPECT_EQ(statusLine("port 15: "), "port 15: 4 cards, link up");
    EXPECT_EQ(statusLine("recovery list: "), "recovery list: empty");
}

// A query that cards leave unanswered is no all clear: with one silent net of two, the card
// found is listed with the net that did not answer; with no net answering, the query failed.
TEST_F(SimControl, AQueryTheCardsDidNotAnswerIsNoAllClear) {
    const std::vector<CardOp> plain = {{1, 1, 0x10, {1, 2, 3}}};
    // One screen: a net of one card on port 16 (index 15), asked first, then port 15's four.
    writeBytes(root_ + "/data/rcvrecovery/QZFX",
               packedFile({{0x2222, {}, {{15, {plain}}, {14, {plain, plain, plain, plain}}}}}));
    // The recovery list a query run to its end leaves. While it runs (a silent net alone keeps
    // it 5 s) it has none yet.
    const auto query = [this] {
        if (ctl("job query") != "ok\n") return std::string("no query ran");
        EXPECT_EQ(statusLine("recovery list: "), "recovery list: query running");
        return jobEnds() ? statusLine("recovery list: ") : "no query ran to its end";
    };
    ASSERT_EQ(ctl("card 15 2 needs-recovery"), "ok\n");
    ASSERT_EQ(ctl("link 16 down"), "ok\n");
    EXPECT_EQ(query(), "recovery list: 01/15/02/04; no answer from 01/16");
    ASSERT_EQ(ctl("link 15 down"), "ok\n");
    EXPECT_EQ(query(), "recovery list: query failed");
    EXPECT_EQ(statusLine("port 15: "), "port 15: 4 cards, link down, card 2 needs-recovery");
}

TEST_F(SimControl, Hdmi2GivenASignalReachesTheRamAndTheHomeScreenOnceWindow0ShowsIt) {
    const std::unique_ptr<TcpLink> pc = connectPc(seconds(30));
    ASSERT_TRUE(pc);
    const std::string before = screenshot("home-before");
    ASSERT_EQ(ctl("input HDMI2 1280x720@50"), "ok\n");
    EXPECT_EQ(statusLine("input HDMI2: "), "input HDMI2: 1280x720@50");
    const Bytes timing = cat({le16(1280), le16(720), le16(50)});
    EXPECT_TRUE(eventually(
        [&] {
            const Bytes r = pc->ask(readRam(274, 6));
            return status(r) == 0 && Bytes(r.begin() + 11, r.end()) == timing;
        },
        seconds(30)));
    // The PC switches window 0 to HDMI2 (source id 3) and applies it.
    ASSERT_EQ(status(pc->ask(writeRam(2280, le16(3)))), 0);
    ASSERT_EQ(status(pc->ask(writeReg(11, 0xFF, {0}))), 0);
    EXPECT_TRUE(eventually([&] { return differ(screenshot("home-after"), before); }, seconds(20)));
    // Pulled: the input reports no signal.
    ASSERT_EQ(ctl("input HDMI2 off"), "ok\n");
    EXPECT_EQ(statusLine("input HDMI2: "), "input HDMI2: no signal");
}

// Close-LED from the PC blacks both FPGAs: their status lines say so while it holds, and end
// as before once the picture is back.
TEST_F(SimControl, StatusSaysWhileAnFpgasOutputIsBlanked) {
    const std::unique_ptr<TcpLink> pc = connectPc(seconds(30));
    ASSERT_TRUE(pc);
    const auto fpgaLines = [&] { return statusLine("fpga 1: ") + "; " + statusLine("fpga 2: "); };
    const std::string lit = "fpga 1: running, brightness 255; fpga 2: running, brightness 255";
    ASSERT_TRUE(eventually([&] { return fpgaLines() == lit; }, seconds(30))) << fpgaLines();
    for (const uint16_t close : {uint16_t(1), uint16_t(0)}) {
        ASSERT_EQ(status(pc->ask(writeRam(2116, le16(close)))), 0);
        ASSERT_EQ(status(pc->ask(writeReg(11, 0xFF, {0}))), 0);
        const std::string want =
            close ? "fpga 1: running, brightness 255, blanked; fpga 2: running, brightness 255, "
                    "blanked"
                  : lit;
        EXPECT_TRUE(eventually([&] { return fpgaLines() == want; }, seconds(30))) << fpgaLines();
    }
}

TEST_F(SimControl, KeysMoveThePanelAndScreenshotsShowIt) {
    const std::string shot = root_ + "-shots/home.png";
    ASSERT_EQ(simCtl(root_, "screenshot " + shot), "ok\n");
    const std::string home = slurp(shot);
    ASSERT_EQ(home.substr(1, 3), "PNG");
    ASSERT_EQ(ctl("key OK"), "ok\n");  // the home screen opens the main menu
    std::string menu;
    EXPECT_TRUE(eventually(
        [&] {
            menu = screenshot("menu");
            return differ(menu, home);
        },
        seconds(10)));
    ASSERT_EQ(ctl("key Back"), "ok\n");
    EXPECT_TRUE(eventually([&] { return screenshot("home-again") == home; }, seconds(10)));
    // A touch on the home screen opens the main menu too.
    ASSERT_EQ(ctl("touch 160 120"), "ok\n");
    EXPECT_TRUE(eventually([&] { return screenshot("menu-again") == menu; }, seconds(10)));
    fs::remove_all(root_ + "-shots");
}

// A source applied on the source page shows its check mark; Back pressed at once, while it
// shows, is dropped as the panel's own keys are: the entry list stays as it was until the tip
// has gone, and a Back after that goes up one level.
TEST_F(SimControl, KeysWhileTheCheckMarkShowsAreDroppedAndTheBoxLives) {
    const std::string source = "page: 3 InputChoose";
    // To the source page and its entry list: the menu's source page, a tab, the list. Each
    // command runs on the panel after the one before.
    for (const char* k : {"OK", "Right", "OK", "OK", "OK"})
        ASSERT_EQ(ctl(std::string("key ") + k), "ok\n") << k;
    ASSERT_EQ(statusLine("page: "), source);
    const std::string list = screenshot("list");
    ASSERT_EQ(ctl("key OK"), "ok\n");  // apply
    ASSERT_TRUE(eventually([&] { return statusLine("pop-up: ") == "pop-up: TIP"; }, seconds(10)));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(ctl("key Back"), "ok\n");
    EXPECT_EQ(statusLine("page: "), source) << "Back under the tip closed the page";
    ASSERT_TRUE(eventually([&] { return statusLine("pop-up: ") == "pop-up: none"; }, seconds(20)));
    EXPECT_EQ(statusLine("page: "), source);
    EXPECT_EQ(screenshot("tip-gone"), list) << "a key under the tip changed the page";
    ASSERT_EQ(ctl("key Back"), "ok\n");
    EXPECT_EQ(statusLine("page: "), source);
    EXPECT_TRUE(differ(screenshot("up-one-level"), list)) << "Back after the tip did nothing";
    EXPECT_TRUE(running()) << console();
    shot("after-six-keys");
}

// The terminal's part of the output, as a person starting the box in a plain shell sees it.
class QuietSimControl : public SimControl {
protected:
    QuietSimControl() { stderrToFile_ = true; }
};

// The layout page's point-to-point list, opened by a touch: status names it, a key closes it
// and goes no further. Opened twice (Qt raises and grabs for it each time), it prints nothing on
// the terminal.
TEST_F(QuietSimControl, AListATouchOpenedIsNamedAndClosedByAKeyAndPrintsNothing) {
    const std::string layout = "page: 9 ImageLayout";
    // The options page, then its layout entry.
    for (const char* c : {"key OK", "touch 218 172", "key Right", "key Right", "key OK"})
        ASSERT_EQ(ctl(c), "ok\n") << c;
    ASSERT_EQ(statusLine("page: "), layout);
    const std::string page = screenshot("layout");
    for (const char* k : {"Back", "Mode"}) {
        SCOPED_TRACE(k);
        ASSERT_EQ(ctl("touch 162 152"), "ok\n");  // the list's box
        EXPECT_EQ(statusLine("pop-up: "), "pop-up: list of comboBox_P2P");
        EXPECT_TRUE(differ(screenshot(std::string("list-before-") + k), page));
        shot(std::string("list-before-") + k);
        ASSERT_EQ(ctl(std::string("key ") + k), "ok\n");
        EXPECT_EQ(statusLine("pop-up: "), "pop-up: none");
        EXPECT_EQ(statusLine("page: "), layout);
        EXPECT_EQ(screenshot(std::string("after-") + k), page);
    }
    EXPECT_TRUE(running()) << console();
    EXPECT_EQ(errors().find("does not support"), std::string::npos) << errors();
    // Qt's notes on what the platform lacks are its warnings: on the console, each kind once
    // within the minute.
    std::map<std::string, int> notes;
    std::istringstream console_lines(console());
    for (std::string line; std::getline(console_lines, line);)
        if (line.rfind("This plugin does not support ", 0) == 0) ++notes[line];
    EXPECT_FALSE(notes.empty()) << console();
    for (const auto& [line, times] : notes) EXPECT_EQ(times, 1) << line;
}

TEST_F(SimControl, BadCommandsAreAnsweredWithAnErrorAndTheChannelKeepsWorking) {
    const struct {
        const char* line;
        const char* answer;
    } cases[] = {
        {"", "error: no command"},
        {"reboot now",
         "error: unknown command reboot (usb, input, edid, cards, card, link, key, touch, "
         "screenshot, status, job)"},
        {"usb plug /no/such/folder", nullptr},  // refused until the watcher listens, or no folder
        {"usb plug ../../etc", nullptr},
        {"usb unplug", "error: no USB disk is plugged in"},
        {"input HDMI5 1920x1080@60", "error: no input HDMI5 (EXT, DVI, HDMI1..HDMI4)"},
        {"input HDMI1 1920x1080", "error: usage: input EXT|DVI|HDMI1..HDMI4 WxH@HZ|off"},
        {"input HDMI1 1921x1080@60", "error: no standard video mode 1921x1080@60"},
        {"edid HDMI5 /sim/edid.bin", "error: no input HDMI5 (EXT, DVI, HDMI1..HDMI4)"},
        {"edid HDMI1 edid.bin",
         "error: usage: edid EXT|DVI|HDMI1..HDMI4 FILE (a path under the box's root, as "
         "/sim/edid.bin)"},
        {"edid HDMI1", nullptr},
        {"cards 0 4", "error: usage: cards PORT(1..20) N(0..255)"},
        {"cards 21 4", "error: usage: cards PORT(1..20) N(0..255)"},
        {"cards 1 256", "error: usage: cards PORT(1..20) N(0..255)"},
        {"card 1 5 silent", "error: port 1 has 4 cards"},
        {"card 1 1 broken",
         "error: usage: card PORT(1..20) INDEX(1..) ok|silent|bad-check|needs-recovery"},
        {"link 3 sideways", "error: usage: link PORT(1..20) up|down"},
        {"key Enter", "error: usage: key Left|Right|OK|Mode|Back|A..S"},
        {"touch 320 10", "error: usage: touch X(0..319) Y(0..239)"},
        {"screenshot shot.png",
         "error: usage: screenshot FILE (a path under the box's root, as /sim/shot.png)"},
        {"screenshot /../shot.png",
         "error: usage: screenshot FILE (a path under the box's root, as /sim/shot.png)"},
        {"job erase", "error: usage: job usb|query|recover"},
        {"status now", "error: usage: status"},
        {"screenshot /sim/planted.png", "error: /sim/planted.png is a symbolic link"},
        {"edid HDMI1 /sim/planted.bin", "error: /sim/planted.bin is a symbolic link"},
    };
    const std::string kept = root_ + "/kept.txt";
    std::ofstream(kept) << "kept\n";
    for (const char* planted : {"/sim/planted.png", "/sim/planted.bin"})
        fs::create_symlink(kept, root_ + planted);
    for (const auto& c : cases) {
        const std::string answer = ctl(c.line);
        if (c.answer)
            EXPECT_EQ(answer, std::string(c.answer) + "\n") << c.line;
        else
            EXPECT_EQ(answer.rfind("error: ", 0), 0u) << c.line << ": " << answer;
    }
    EXPECT_EQ(slurp(kept), "kept\n");
    // A line too long is refused, and the next command is answered.
    EXPECT_EQ(ctl(std::string(600, 'x')).rfind("error: ", 0), 0u);
    // The device commands act: cards, faults and links show in the status.
    ASSERT_EQ(ctl("cards 3 2"), "ok\n");
    ASSERT_EQ(ctl("card 3 1 silent"), "ok\n");
    ASSERT_EQ(ctl("card 3 2 bad-check"), "ok\n");
    EXPECT_EQ(statusLine("port 3: "), "port 3: 2 cards, link up, card 1 silent, card 2 bad-check");
    ASSERT_EQ(ctl("link 3 down"), "ok\n");
    ASSERT_EQ(ctl("card 3 1 ok"), "ok\n");
    EXPECT_EQ(statusLine("port 3: "), "port 3: 2 cards, link down, card 2 bad-check");
    ASSERT_EQ(ctl("cards 3 0"), "ok\n");
    EXPECT_EQ(statusLine("port 3: "), "port 3: 0 cards, link down");
    EXPECT_TRUE(running());
}

// Clients that send half a line hold up no other: while twenty have yet to end theirs, all taken
// at once, status is answered before any of them is refused; each then ends its own line.
TEST_F(SimControl, StatusIsAnsweredWhileTwentyClientsHoldHalfALine) {
    std::vector<int> holders;
    for (int i = 0; i < 20; ++i) {
        const int fd = ctlConnection(false);
        ASSERT_GE(fd, 0) << "client " << i << " not taken at once: " << std::strerror(errno);
        holders.push_back(fd);
        ASSERT_EQ(::send(fd, "sta", 3, MSG_NOSIGNAL), 3);
    }
    const int asker = ctlConnection(false);
    ASSERT_GE(asker, 0) << std::strerror(errno);
    ASSERT_EQ(::send(asker, "status\n", 7, MSG_NOSIGNAL), 7);
    const std::string answer = answerOn(asker, std::chrono::seconds(1));
    ::close(asker);
    EXPECT_NE(answer.find("usb disk: "), std::string::npos) << answer;
    for (int fd : holders) {
        char byte = 0;
        EXPECT_EQ(::recv(fd, &byte, 1, MSG_DONTWAIT), -1) << "a holder was answered first";
        EXPECT_EQ(errno, EAGAIN);
    }
    for (int fd : holders) {
        ASSERT_EQ(::send(fd, "tus\n", 4, MSG_NOSIGNAL), 4);
        EXPECT_NE(answerOn(fd, std::chrono::seconds(10)).find("usb disk: "), std::string::npos);
        ::close(fd);
    }
}

}  // namespace
