// The USB-disk upgrade: packages built in the test on the simulated disk, run step by step as
// the FPGA thread does. Each child alone and all together; every bad package leaves flashes and
// files as they were; a flash that refuses or reads back wrong fails the child; a power cut
// while the program is written leaves the old file whole, one while a font is written leaves the
// font absent; files past the limit are counted and reported.
#include "fpga/usb_upgrade.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "c331/c331_manage.h"
#include "core/file_io.h"
#include "fpga_fixture.h"
#include "platform/mounts.h"
#include "platform/sim/sim_c331.h"
#include "simctl/sim_control.h"
#include "ui/shell/main_window.h"
#include "usb_package.h"

namespace {

using namespace usb_package;

class UsbUpgradeTest : public FpgaTest {
protected:
    void SetUp() override {
        FpgaTest::SetUp();
        mountUsbDisk();
        g_usb_grade_path = " ";
        g_app_reset_flag = 0;
        g_update_status = 0;
        chip = platform::sim::attachSimC331();
        c331 = c331_manage::pInstance();
        for (int i = 0, n = hangMs(5000); i < n && c331->thread_state != 8; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // unscaled: a pause
        ASSERT_EQ(c331->thread_state.load(), 8);
        c331_manage::stop_thread();  // the test alone drives the chip from here
        usb_upgrade_report* r = usb_upgrade_report::pInstance();
        QObject::connect(r, &usb_upgrade_report::sig_usb_upgrade_result, r,
                         [this](int i, int f, int x, int why, int read, int unread) {
                             result = {i, f, x};
                             fault = why;
                             files_read = read;
                             not_read = unread;
                         });
        QObject::connect(r, &usb_upgrade_report::sig_update_start, r, [this] { ++overlay; });
        QObject::connect(r, &usb_upgrade_report::sig_update_over, r, [this] { --overlay; });
        QObject::connect(r, &usb_upgrade_report::sig_qround_bar_update, r,
                         [this](int p) { progress.push_back(p); });
    }
    void TearDown() override {
        QObject::disconnect(usb_upgrade_report::pInstance(), nullptr, nullptr, nullptr);
        FpgaTest::TearDown();
    }
    void onDisk(const std::string& name, const Bytes& b) {
        writeFile("/mnt/usb1/" + name, std::string(b.begin(), b.end()));
    }
    // Starts the job as the upgrade page does and runs it, one step per FPGA pass.
    void runJob() {
        g_send_para[1] = 0;
        g_usb_grade = 1;
        for (int pass = 0; pass < 10 && g_usb_grade; ++pass) mgr->usb_upgrade_manage_deal();
        ASSERT_EQ(g_usb_grade.load(), 0);
    }
    Bytes fpgaFlash(int side, size_t n) const {
        const auto& m = board->flash[side].mem;
        return Bytes(m.begin(), m.begin() + long(n));
    }
    // The control channel's status line of the last upgrade.
    static std::string upgradeLine() {
        const std::string status = sim_control::pInstance()->execute("status");
        const size_t at = status.find("usb upgrade: ");
        return at == std::string::npos ? status : status.substr(at, status.find('\n', at) - at);
    }
    bool ran(const std::string& cmd) const {
        const auto c = commands();
        return std::find(c.begin(), c.end(), cmd) != c.end();
    }
    std::shared_ptr<platform::sim::SimC331> chip;
    c331_manage* c331 = nullptr;
    std::array<int, 3> result{-1, -1, -1};
    int fault = -1;       // the UsbFault the job's end carried
    int files_read = -1;  // the files it read
    int not_read = -1;    // ... and those its disk took with it
    int overlay = 0;
    std::vector<int> progress;
};

TEST_F(UsbUpgradeTest, EachChildAloneIsWrittenReadBackAndTakesEffect) {
    const Bytes bits0 = bytes(40000, 1), bits1 = bytes(5000, 2), program = bytes(3000, 9);
    const Bytes narrow = font(32, true, 4 * 128);
    struct Case {
        const char* name;
        ChildSpec child;
    };
    for (const Case& k :
         {Case{"FPGA 0", {7, firmware(bits0)}}, Case{"FPGA 1", {8, firmware(bits1)}},
          Case{"font", {13, narrow}}, Case{"program", {10, program}}}) {
        onDisk("pkg.ZEM", package({k.child}));
        const int resets0 = resetPulses(0), resets1 = resetPulses(1);
        runJob();
        EXPECT_EQ(result, (std::array<int, 3>{1, 0, 0})) << k.name;
        EXPECT_EQ(resetPulses(0) - resets0, k.child.type == 7 ? 1 : 0) << k.name;
        EXPECT_EQ(resetPulses(1) - resets1, k.child.type == 8 ? 1 : 0) << k.name;
    }
    EXPECT_EQ(fpgaFlash(0, bits0.size()), bits0);
    EXPECT_EQ(fpgaFlash(1, bits1.size()), bits1);
    EXPECT_EQ(chip->flashRead(0, uint32_t(narrow.size())), narrow);
    EXPECT_EQ(c331->g_osd_font_mask.load(), 0x2u);                 // reloaded after writing
    EXPECT_TRUE(ran("mv /data/app/zemT57N2  /data/app/zemT57N"));  // the shell seam moves it
    EXPECT_EQ(readFile("/data/app/zemT57N"), std::string(program.begin(), program.end()));
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_EQ(overlay, 0);
    EXPECT_EQ(progress.back(), 100);
}

// The example packages of docs/usb_package.md, from the document's text alone: an indented file
// name, then the file's bytes, 16 a line after the line's offset (hex).
std::map<std::string, Bytes> documentedPackages() {
    std::ifstream doc(ZEM_SOURCE_DIR "/docs/usb_package.md");
    std::map<std::string, Bytes> files;
    Bytes* file = nullptr;
    for (std::string line; std::getline(doc, line);) {
        if (line.rfind("    ", 0) != 0) {
            file = nullptr;
            continue;
        }
        std::istringstream words(line);
        std::string first;
        words >> first;
        const auto ends = [&](const std::string& suffix) {
            return first.size() > suffix.size() &&
                   first.compare(first.size() - suffix.size(), suffix.size(), suffix) == 0;
        };
        if (ends(".ZEM") || ends(".ZEMZK")) {
            file = &files[first];
            continue;
        }
        if (!file) continue;
        EXPECT_EQ(std::stoul(first, nullptr, 16), file->size()) << line;
        for (std::string byte; words >> byte;)
            file->push_back(uint8_t(std::stoul(byte, nullptr, 16)));
    }
    return files;
}

// Both examples, in the disk's default folder, install as the document says.
TEST_F(UsbUpgradeTest, TheDocumentedPackagesInstall) {
    const auto files = documentedPackages();
    ASSERT_EQ(files.size(), 2u);
    g_usb_grade_path = "ZEM-T73";
    for (const auto& [name, bytes] : files) onDisk("ZEM-T73/" + name, bytes);
    const int resets = resetPulses(0);
    runJob();
    EXPECT_EQ(result, (std::array<int, 3>{2, 0, 0}));
    EXPECT_EQ(fpgaFlash(0, 16), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    EXPECT_EQ(resetPulses(0) - resets, 1);
    const Bytes& font = files.at("font.ZEMZK");
    ASSERT_EQ(font.size(), 0x46u + 0x123u);
    EXPECT_EQ(chip->flashRead(0, 0x123), Bytes(font.begin() + 0x46, font.end()));
    EXPECT_EQ(c331->g_osd_font_mask.load(), 0x2u);  // the narrow 32-dot font, taken into use
}

TEST_F(UsbUpgradeTest, APackageWithEverythingInstallsAllAndTheBoxReboots) {
    const Bytes bits = bytes(70000, 4), program = bytes(2000, 5), wide = font(32, false, 3 * 128);
    onDisk("all.ZEM",
           package({{7, firmware(bits)}, {8, firmware(bits)}, {13, wide}, {10, program}}));
    onDisk("notes.zem", package({{10, bytes(10, 1)}}));  // lower-case suffix: not a package
    const int resets = resetPulses(0);
    runJob();
    EXPECT_EQ(result, (std::array<int, 3>{4, 0, 0}));
    EXPECT_EQ(fpgaFlash(0, bits.size()), bits);
    EXPECT_EQ(fpgaFlash(1, bits.size()), bits);
    EXPECT_EQ(chip->flashRead(0x10000, uint32_t(wide.size())), wide);
    EXPECT_EQ(resetPulses(0), resets);  // the reboot brings the new firmware up
    static int argc = 1;
    static char arg0[] = "test";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
    MainWindow window(nullptr);
    for (int t = 0; t < 301; ++t) window.slot_update_timer_ticks();
    EXPECT_TRUE(ran("reboot"));
}

// Only a mounted disk is read: the folder that a failed mount, a pulled disk or a program
// restart leaves behind is no disk, whatever files it holds.
TEST_F(UsbUpgradeTest, TheFolderIsReadOnlyWhileTheDiskIsMountedThere) {
    const Bytes program = bytes(3000, 9);
    onDisk("pkg.ZEM", package({{10, program}}));
    ASSERT_EQ(box().usb_disk.unmount("/mnt/usb1"), 0);
    ASSERT_EQ(box().usb_disk.unplug(), 0);
    writeFile("/mnt/usb1/left.ZEM", std::string(package({{10, program}}).size(), 'x'));
    EXPECT_TRUE(usbUpgradeFiles().isEmpty());
    runJob();
    EXPECT_EQ(result, (std::array<int, 3>{0, 0, 0}));
    EXPECT_FALSE(exists("/data/app/zemT57N2"));

    ASSERT_EQ(box().usb_disk.plug("/sim/usb-disk"), 0);
    ::unlink(local("/mnt/usb1/left.ZEM").c_str());  // a mount point is an empty folder
    ASSERT_EQ(box().usb_disk.mount("/dev/sda1", "/mnt/usb1"), 0);
    EXPECT_EQ(usbUpgradeFiles().size(), 1);
    runJob();
    EXPECT_EQ(result, (std::array<int, 3>{1, 0, 0}));
}

// The job tells how many files it read: none when its disk went away, before it listed the
// disk's files or after (a file gone counts as not read, not as refused), and all of a disk
// whose packages are on the box already, though it writes nothing.
TEST_F(UsbUpgradeTest, TheEndTellsHowManyFilesTheJobRead) {
    const std::array<uint8_t, 6> running = {25, 9, 26, 11, 2, 0};
    const Bytes same = package({{kProgram, bytes(500, 3), running}}, 0x9752, 0x80);
    struct Case {
        const char* what;
        int pulled_before;  // the step the disk is pulled before, -1 not pulled
        std::array<int, 3> result;
        int read, unread;
    };
    const Case cases[] = {{"on the box already", -1, {0, 0, 0}, 2, 0},
                          {"pulled before its list", 1, {0, 0, 0}, 0, 0},
                          {"pulled after its list", 2, {0, 0, 0}, 0, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mountUsbDisk();
        onDisk("a.ZEM", same);
        onDisk("b.ZEM", same);
        g_send_para[1] = 0;
        g_usb_grade = 1;
        for (int pass = 0; pass < 10 && g_usb_grade; ++pass) {
            if (g_send_para[1] == c.pulled_before) pullUsbDisk();
            mgr->usb_upgrade_manage_deal();
        }
        ASSERT_EQ(g_usb_grade.load(), 0);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(files_read, c.read);
        EXPECT_EQ(not_read, c.unread);
    }
}

// The disk pulled part way through the job's reads: a child read in part leaves its flash or
// file as it was and fails with the disk gone; the packages not yet read are counted as such,
// not as refused.
TEST_F(UsbUpgradeTest, ADiskPulledDuringTheReadsTearsNoFlash) {
    sim_control::pInstance();  // takes the job's result as the running box does
    const Bytes fw = firmware(bytes(70000, 4)), program = bytes(3000, 9);
    const Bytes narrow = font(32, true, 40 * 128);
    constexpr int64_t kTable = 49 + 21;  // header and the one entry, read by the check
    struct Case {
        const char* name;
        ChildSpec child;
        int packages;
        int64_t pulled_after;  // bytes read
        std::array<int, 3> result;
        int unread;
        const char* line;
    };
    const int64_t fw_whole = kTable + 64 + int64_t(fw.size());
    Bytes fw_tail = fw;  // bytes past the bitstream, which are never written
    fw_tail.resize(fw.size() + 100000, 7);
    // clang-format off
    const Case cases[] = {
        {"firmware, in its child", {kFpga0, fw}, 1, kTable + 64 + 35000, {0, 1, 0}, 0,
         "usb upgrade: 0 installed, 1 failed, 0 refused"},
        {"font, in its child", {kFont, narrow}, 1, kTable + 35 + 2000, {0, 1, 0}, 0,
         "usb upgrade: 0 installed, 1 failed, 0 refused"},
        {"program, in its child", {kProgram, program}, 1, kTable + 1500, {0, 1, 0}, 0,
         "usb upgrade: 0 installed, 1 failed, 0 refused"},
        {"the second firmware's child", {kFpga0, fw}, 3, fw_whole + kTable + 64 + 100, {1, 1, 0}, 1,
         "usb upgrade: 1 installed, 1 failed, 0 refused, 1 not read"},
        {"the second package's header", {kFpga0, fw}, 3, fw_whole + 20, {1, 0, 0}, 2,
         "usb upgrade: 1 installed, 0 failed, 0 refused, 2 not read"},
        {"past the bitstream, bytes never read", {kFpga0, fw_tail}, 1, fw_whole + 10, {1, 0, 0}, 0,
         "usb upgrade: 1 installed, 0 failed, 0 refused"},
    };
    // clang-format on
    const Bytes old_font(narrow.size(), 0x33);  // what the font's place holds before
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mountUsbDisk();
        std::fill(board->flash[0].mem.begin(), board->flash[0].mem.end(), uint8_t(0x5A));
        chip->flashLoad(0, old_font);
        ::unlink(local("/data/app/zemT57N2").c_str());
        for (int i = 0; i < c.packages; ++i)
            onDisk("p" + std::to_string(i) + ".ZEM", package({c.child}));
        box().usb_disk.pullAfterRead(c.pulled_after);
        runJob();
        box().usb_disk.pullAfterRead(-1);
        const bool all_in = c.result[1] == 0 && c.unread == 0;
        EXPECT_EQ(platform::usbDiskMounted(), all_in) << "the fault switch pulled it";
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(not_read, c.unread);
        EXPECT_EQ(files_read, c.packages - c.unread);
        EXPECT_EQ(fault, all_in ? kUsbFaultNone : kUsbFaultDiskGone);
        EXPECT_EQ(upgradeLine(), c.line);
        const Bytes first = fpgaFlash(0, fw.size() - 64);
        if (c.result[0] == 1)
            EXPECT_EQ(first, Bytes(fw.begin() + 64, fw.end())) << "the first, whole";
        else
            EXPECT_EQ(first, Bytes(first.size(), 0x5A)) << "as it was";
        EXPECT_EQ(chip->flashRead(0, uint32_t(old_font.size())), old_font);
        EXPECT_FALSE(exists("/data/app/zemT57N2"));
    }
}

// Nothing of a bad package is erased or written, whatever its other children are.
TEST_F(UsbUpgradeTest, BadPackagesLeaveEverythingAsItWas) {
    const Bytes good = firmware(bytes(9000, 6));
    Bytes truncated = package({{7, good}});
    truncated.resize(truncated.size() - 10);
    Bytes lying = package({{7, good}, {13, font(32, true, 128)}});
    put32(lying, 49 + 21 * 1 + 1, 0x01000000);  // the font entry claims 16 MiB
    Bytes long_bitstream = package({{8, good}});
    put32(long_bitstream, 49 + 21 + 31, 0x7FFFFFFF);  // bitstream length in the firmware header
    Bytes big_font = package({{13, font(32, true, 0x10000)}});  // past the narrow font's place
    Bytes big_bitstream = package({{8, firmware(bytes(9000, 6))}});
    // A bitstream that its child holds whole, but larger than the firmware area.
    put32(big_bitstream, 49 + 21 + 31, fpga_manage::kParaFlashAddr + 1);
    big_bitstream.resize(49 + 21 + 64 + fpga_manage::kParaFlashAddr + 1, 0);
    put32(big_bitstream, 49 + 1, 64 + fpga_manage::kParaFlashAddr + 1);
    Bytes big_program = package({{10, bytes(64, 1)}});
    put32(big_program, 49 + 1, kFileBufSize + 1);
    big_program.resize(49 + 21 + kFileBufSize + 1, 0);
    Bytes program_in_header = package({{10, bytes(64, 1)}});
    put32(program_in_header, 49 + 5, 20);  // its data starts inside the package's header
    struct Case {
        const char* name;
        Bytes file;
        UsbFault fault;
    };
    for (const Case& k :
         {Case{"truncated", truncated, kUsbFaultDamaged},
          Case{"lying length", lying, kUsbFaultDamaged},
          Case{"bitstream past its child", long_bitstream, kUsbFaultDamaged},
          Case{"font past its region", big_font, kUsbFaultTooLarge},
          Case{"bitstream past the firmware area", big_bitstream, kUsbFaultTooLarge},
          Case{"program past 5 MiB", big_program, kUsbFaultTooLarge},
          Case{"program over the header", program_in_header, kUsbFaultDamaged},
          Case{"header only", Bytes(20, 0), kUsbFaultDamaged},
          Case{"firmware without a bitstream", package({{7, firmware({})}}), kUsbFaultDamaged},
          Case{"another box's firmware and program",
               package({{7, firmware(bytes(900, 6))}, {10, bytes(700, 2)}}, 0x1234),
               kUsbFaultOtherBox},
          // This box's packages whose children are all of kinds it does not take, as the
          // fuzz seeds "firmware" and "mixed" are.
          Case{"a kind not taken", package({{2, firmware(bytes(64, 6))}}), kUsbFaultOtherBox},
          Case{"three kinds not taken",
               package({{1, bytes(64, 1)}, {3, firmware(bytes(64, 6))}, {9, bytes(1, 2)}}),
               kUsbFaultOtherBox}}) {
        onDisk("bad.ZEMZK", k.file);
        board->clearMessages();
        chip->clearFrames();
        testing::internal::CaptureStderr();
        runJob();
        const std::string terminal = testing::internal::GetCapturedStderr();
        EXPECT_NE(terminal.find("usb upgrade: /mnt/usb1/bad.ZEMZK refused: "), std::string::npos)
            << k.name << ": " << terminal;
        EXPECT_EQ(result, (std::array<int, 3>{0, 0, 1})) << k.name;
        EXPECT_EQ(fault, k.fault) << k.name;
        EXPECT_EQ(board->flash[0].erases + board->flash[1].erases, 0) << k.name;
        const auto log = chip->writeLog();
        EXPECT_TRUE(std::none_of(log.begin(), log.end(), [](const auto& w) {
            return w.bank == 0x04 && w.address == 0x48;
        })) << k.name;  // no flash command at all
    }
    EXPECT_FALSE(exists("/data/app/zemT57N"));
    EXPECT_FALSE(ran("mv /data/app/zemT57N2  /data/app/zemT57N"));
}

// Font children are taken from a package of any controller type; the program and firmware
// children of another controller's package are passed over, whole package checks still hold.
TEST_F(UsbUpgradeTest, AnotherControllersPackageGivesItsFontsOnly) {
    const Bytes narrow = font(32, true, 2 * 128);
    const Bytes firmware0 = firmware(bytes(9000, 6));
    onDisk("other.ZEMZK", package({{7, firmware0}, {10, bytes(700, 2)}, {13, narrow}}, 0x1234));
    const int resets = resetPulses(0);
    runJob();
    EXPECT_EQ(result, (std::array<int, 3>{1, 0, 0}));
    EXPECT_EQ(chip->flashRead(0, uint32_t(narrow.size())), narrow);
    EXPECT_EQ(c331->g_osd_font_mask.load(), 0x2u);
    EXPECT_EQ(board->flash[0].erases + board->flash[1].erases, 0);
    EXPECT_EQ(resetPulses(0), resets);
    EXPECT_FALSE(exists("/data/app/zemT57N2"));
    EXPECT_EQ(g_app_reset_flag.load(), 0);

    Bytes truncated = package({{7, firmware0}, {13, narrow}}, 0x1234);
    truncated.resize(truncated.size() - 10);
    onDisk("other.ZEMZK", truncated);
    runJob();
    EXPECT_EQ(result, (std::array<int, 3>{0, 0, 1}));
}

// The program and firmware children of another controller's package are ignored even when they
// point past the end of the file: its fonts still apply.
TEST_F(UsbUpgradeTest, AnotherControllersChildPastTheEndIsIgnoredAndItsFontsApply) {
    const Bytes narrow = font(32, true, 2 * 128);
    struct Case {
        const char* name;
        size_t field;  // of the first child's entry: its length or its offset
    };
    for (const Case& k : {Case{"length", 1}, Case{"offset", 5}}) {
        SCOPED_TRACE(k.name);
        for (uint8_t type : {kFpga0, kFpga1, kProgram}) {
            SCOPED_TRACE(int(type));
            Bytes file = package({{type, firmware(bytes(4096, 6))}, {kFont, narrow}}, 0x1234);
            put32(file, 49 + k.field, 0x01000000);  // 16 MiB: past the end of the file
            onDisk("other.ZEMZK", file);
            chip->flashLoad(0, Bytes(narrow.size(), 0xFF));
            runJob();
            EXPECT_EQ(result, (std::array<int, 3>{1, 0, 0}));
            EXPECT_EQ(chip->flashRead(0, uint32_t(narrow.size())), narrow);
            EXPECT_EQ(board->flash[0].erases + board->flash[1].erases, 0);
            EXPECT_FALSE(exists("/data/app/zemT57N2"));
        }
    }
}

TEST_F(UsbUpgradeTest, AFlashThatDoesNotTakeTheDataFailsTheChildAndNothingTakesEffect) {
    onDisk("fw.ZEM", package({{7, firmware(bytes(5000, 8))}, {13, font(64, true, 512)}}));
    chip->setFlashProtected(true);
    board->flash[0].stuck_busy = true;
    const int resets = resetPulses(0);
    runJob();
    EXPECT_EQ(result, (std::array<int, 3>{0, 2, 0}));
    EXPECT_EQ(fault, kUsbFaultWrite);
    EXPECT_EQ(resetPulses(0), resets);
    EXPECT_EQ(c331->g_osd_font_mask.load(), 0u);
}

// The file changed on the disk between its package's check and the read of a child: the child
// read whole no longer says what was checked (where a font goes, how long a bitstream is), so it
// fails as damaged and nothing of it is written.
TEST_F(UsbUpgradeTest, AChildThatChangedSinceItsCheckIsNotWritten) {
    constexpr size_t kChild = 49 + 21;  // the only child's image, after the header and its entry
    const Bytes narrow = font(32, true, 4 * 128);
    const Bytes old_font(narrow.size(), 0x33);
    struct Case {
        const char* name;
        ChildSpec child;
        size_t at;  // the byte of the child's image changed after the check
        uint8_t now;
    };
    for (const Case& c :
         {Case{"another bitstream length", {kFpga0, firmware(bytes(9000, 6))}, 31, 100},
          Case{"a font of 64 dots", {kFont, narrow}, 18, 64}}) {
        SCOPED_TRACE(c.name);
        chip->flashLoad(0, old_font);
        board->clearMessages();
        const Bytes checked = package({c.child});
        onDisk("pkg.ZEM", checked);
        mgr->hooks.on_usb_package_checked = [&](int) {
            Bytes changed = checked;
            changed[kChild + c.at] = c.now;
            onDisk("pkg.ZEM", changed);
        };
        const int erases = board->flash[0].erases;
        runJob();
        mgr->hooks.on_usb_package_checked = nullptr;
        EXPECT_EQ(result, (std::array<int, 3>{0, 1, 0}));
        EXPECT_EQ(fault, kUsbFaultDamaged);
        EXPECT_EQ(board->flash[0].erases, erases);
        EXPECT_EQ(chip->flashRead(0, uint32_t(old_font.size())), old_font);
        EXPECT_EQ(c331->g_osd_font_mask.load(), 0u);
    }
}

TEST_F(UsbUpgradeTest, SkippedAndUnknownChildrenKeepWhatEarlierChildrenDid) {
    const Bytes program = bytes(500, 3);
    std::array<uint8_t, 6> running = {25, 9, 26, 11, 2, 0};
    // A written FPGA child, then an unknown one and the running program's own version.
    onDisk("a.ZEM",
           package({{7, firmware(bytes(4096, 1))}, {99, bytes(10, 0)}, {10, program, running}},
                   0x9752, 0x80));
    const int resets = resetPulses(0);
    runJob();
    EXPECT_EQ(result, (std::array<int, 3>{1, 0, 0}));
    EXPECT_EQ(resetPulses(0), resets + 1);
    EXPECT_FALSE(exists("/data/app/zemT57N2"));
}

TEST_F(UsbUpgradeTest, FontsAreLeftAloneWhileAllFourArePresent) {
    for (const auto& [at, dots, narrow] : std::vector<std::tuple<uint32_t, int, bool>>{
             {0, 32, true}, {0x10000, 32, false}, {0x410000, 64, true}, {0x450000, 64, false}})
        chip->flashLoad(at, font(dots, narrow, 8));
    c331->read_c331_font(c331->fd);
    onDisk("f.ZEMZK", package({{13, font(32, true, 256)}}));
    chip->clearFrames();
    runJob();
    EXPECT_EQ(result, (std::array<int, 3>{0, 0, 0}));
    const auto log = chip->writeLog();
    EXPECT_TRUE(std::none_of(log.begin(), log.end(),
                             [](const auto& w) { return w.bank == 0x04 && w.address == 0x53; }));
}

// A power cut at any point of a font's erase and write leaves the font absent after the
// restart, so the factory page shows it missing; only the whole font counts as present.
TEST_F(UsbUpgradeTest, AFontWriteCutShortReadsAsAbsentAfterTheRestart) {
    const Bytes narrow = font(32, true, 3 * 128);
    onDisk("f.ZEMZK", package({{13, narrow}}));
    const int glyphs = int(narrow.size()) - 35;
    // One sector erase, then each programmed byte counts towards the cut.
    const int whole = 1 + int(narrow.size());
    for (int cut : {0, 1, 2, 36, glyphs, glyphs + 1, glyphs + 20, whole - 2, whole - 1, whole}) {
        chip->flashLoad(0, Bytes(4096, 0xFF));
        c331->read_c331_font(c331->fd);
        ASSERT_EQ(c331->g_osd_font_mask.load() & 0x2u, 0u);
        chip->setFlashPowerCut(cut);
        runJob();
        chip->setFlashPowerCut(-1);  // the power is back: the box starts and checks its fonts
        c331->read_c331_font(c331->fd);
        const bool present = (c331->g_osd_font_mask.load() & 0x2u) != 0;
        EXPECT_EQ(present, cut == whole) << "cut after " << cut;
        EXPECT_EQ(result, (std::array<int, 3>{cut == whole ? 1 : 0, cut == whole ? 0 : 1, 0}))
            << "cut after " << cut;
    }
    EXPECT_EQ(chip->flashRead(0, uint32_t(narrow.size())), narrow);
}

// At most a hundred files are read, in directory order; the rest are counted, logged and
// shown on the control channel's status line.
TEST_F(UsbUpgradeTest, FilesPastTheLimitAreCountedAndReported) {
    sim_control::pInstance();  // takes the job's result as the running box does
    for (int i = 0; i < 130; ++i) {
        Bytes cut = package({{10, bytes(100, uint8_t(i))}});
        cut.resize(cut.size() - 50);
        onDisk("p" + std::to_string(i) + ".ZEM", cut);
    }
    testing::internal::CaptureStderr();
    runJob();
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, (std::array<int, 3>{0, 0, 100}));
    EXPECT_EQ(mgr->usb_left_out.load(), 30);
    EXPECT_NE(console.find("usb upgrade: 30 files left out, at most 100 are read"),
              std::string::npos);
    size_t refused = 0;  // one line for each file refused
    for (size_t at = 0;
         (at = console.find(" refused: child past the end of the file\n", at)) != std::string::npos;
         ++at)
        ++refused;
    EXPECT_EQ(refused, 100u);
    EXPECT_EQ(upgradeLine(), "usb upgrade: 0 installed, 0 failed, 100 refused, 30 left out");

    for (int i = 0; i < 30; ++i)
        std::remove(local("/mnt/usb1/p" + std::to_string(i) + ".ZEM").c_str());
    runJob();
    EXPECT_EQ(mgr->usb_left_out.load(), 0);
    EXPECT_EQ(upgradeLine(), "usb upgrade: 0 installed, 0 failed, 100 refused");
}

// Any name before the suffix is a package's: hidden names and names that are no UTF-8 are read,
// or refused with their line. The "._NAME" companions a FAT disk may carry beside each file
// are no packages: skipped, and counted as left out. Every line, traces too, names a file by its
// path on the box.
TEST_F(UsbUpgradeTest, HiddenAndNonUtf8NamesAreReadAndCompanionsLeftOut) {
    sim_control::pInstance();  // takes the job's result as the running box does
    const Bytes good = package({{10, bytes(3000, 9)}});
    Bytes cut = good;
    cut.resize(cut.size() - 50);
    onDisk(".update.ZEM", good);
    onDisk("..ZEM", good);
    onDisk("bad\xC3(.ZEM", cut);
    onDisk("._update.ZEM", Bytes(4096, 0));
    EXPECT_EQ(usbUpgradeFiles().size(), 3);
    const uint8_t traces = g_debugSwitch;
    g_debugSwitch = 254;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    runJob();
    const std::string console = testing::internal::GetCapturedStdout();
    const std::string terminal = testing::internal::GetCapturedStderr();
    g_debugSwitch = traces;
    EXPECT_EQ(result, (std::array<int, 3>{2, 0, 1}));
    EXPECT_EQ(files_read, 3);
    const std::string refused = "/mnt/usb1/bad\\xC3(.ZEM refused: child past the end of the file";
    EXPECT_NE(terminal.find("usb upgrade: " + refused + "\n"), std::string::npos) << terminal;
    const std::string traced[] = {"\n /mnt/usb1/..ZEM \n",
                                  "ready to downing file name  /mnt/usb1/.update.ZEM\n",
                                  "\n usb upgrade: " + refused + " \n"};
    for (const std::string& line : traced)
        EXPECT_NE(console.find(line), std::string::npos) << line << " in:\n" << console;
    EXPECT_EQ(console.find(root_), std::string::npos) << "the host's root named:\n" << console;
    EXPECT_EQ(terminal.find(root_), std::string::npos) << "the host's root named:\n" << terminal;
    EXPECT_EQ(upgradeLine(), "usb upgrade: 2 installed, 0 failed, 1 refused, 1 left out");
}

// A disk holds no links: a package folder that is one (leading off the disk) is not read, with
// one line, as a linked package file is skipped; the same folder as a folder of its own is.
TEST_F(UsbUpgradeTest, APackageFolderThatIsALinkIsNotRead) {
    const Bytes good = package({{10, bytes(3000, 9)}});
    writeFile("/outside/ZEM-T73/pkg.ZEM", std::string(good.begin(), good.end()));
    std::filesystem::create_directory_symlink(local("/outside/ZEM-T73"),
                                              local("/mnt/usb1/ZEM-T73"));
    std::filesystem::create_symlink(local("/outside/ZEM-T73/pkg.ZEM"), local("/mnt/usb1/a.ZEM"));
    g_usb_grade_path = "ZEM-T73";
    testing::internal::CaptureStderr();
    EXPECT_TRUE(usbUpgradeFiles().isEmpty());
    runJob();
    const std::string terminal = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, (std::array<int, 3>{0, 0, 0}));
    EXPECT_FALSE(exists("/data/app/zemT57N2"));
    EXPECT_NE(terminal.find("usb upgrade: /mnt/usb1/ZEM-T73 is a symbolic link: not read\n"),
              std::string::npos)
        << terminal;
    g_usb_grade_path = " ";
    EXPECT_TRUE(usbUpgradeFiles().isEmpty()) << "a linked package file is skipped";

    ::unlink(local("/mnt/usb1/ZEM-T73").c_str());
    onDisk("ZEM-T73/pkg.ZEM", good);
    g_usb_grade_path = "ZEM-T73/";
    EXPECT_EQ(usbUpgradeFiles().size(), 1);
    runJob();
    EXPECT_EQ(result, (std::array<int, 3>{1, 0, 0}));
}

// The new program is written beside the old one and renamed over it: a writer killed at any
// moment leaves the old file or the whole new one.
TEST_F(UsbUpgradeTest, APowerCutWhileTheProgramIsWrittenLeavesTheOldFileWhole) {
    const std::string old_image(100000, 'o');
    writeFile("/data/app/zemT57N2", old_image);
    const Bytes image = bytes(4 << 20, 1);
    onDisk("big.ZEM", package({{10, image}}));
    for (int delay_us : {0, 300, 2000, 8000}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) mgr->update_muc_file(image);  // bounded: the kill below
        }
        usleep(useconds_t(delay_us));  // unscaled: the kill's moment, what the test tries
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string now = readFile("/data/app/zemT57N2");
        EXPECT_TRUE(now == old_image || now == std::string(image.begin(), image.end()))
            << delay_us << " us: " << now.size() << " bytes";
    }
}

}  // namespace

namespace {

using namespace usb_package;

// The job's end during a PC update leaves the PC's bit, so the overlay, which closes only once
// no bit is left, stays; its start during one asks for no second overlay.
TEST_F(UsbUpgradeTest, TheJobKeepsAPcUpdatesFlagBit) {
    onDisk("pkg.ZEM", package({{10, bytes(100, 3)}}));
    g_update_flag = kUpdateByPc;
    runJob();
    EXPECT_EQ(g_update_flag.load(), kUpdateByPc);
    EXPECT_EQ(overlay, -1) << "no start; the end request finds the PC's bit still set";
    g_update_flag = 0;
    overlay = 0;
    runJob();
    EXPECT_EQ(g_update_flag.load(), 0);
    EXPECT_EQ(overlay, 0) << "one start, one end";
}

}  // namespace
