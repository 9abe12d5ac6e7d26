// On the simulated box no file of the box is read or written through a symbolic link at its
// last component: one planted at each of its read and write sites is refused with a line naming
// it and what is used instead, or replaced (a rename), never followed; the file it leads to
// outside the root is never opened and nothing is made there. On the box links are followed: a
// write replaces the file a link leads to, and the link stays.
#include "platform/own_files.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "core/config_engine.h"
#include "core/file_io.h"
#include "core/globals.h"
#include "core/json_files.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "core_fixture.h"
#include "fpga/rcv_recovery.h"
#include "platform/hid_keypad.h"
#include "platform/mtd.h"
#include "platform/serial_port.h"
#include "platform/sim/flash_image.h"
#include "program_fixture.h"
#include "video_io/raviksource.h"

namespace {

namespace fs = std::filesystem;

class OwnFiles : public CoreTest {};

// Whether anything opened a file since the watch began: the kernel queues the event as the
// open happens, so a read of the queue after the steps sees every open they made.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& file) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0 && ::inotify_add_watch(fd_, file.c_str(), IN_OPEN) < 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~OpenWatch() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool watching() const { return fd_ >= 0; }
    bool opened() const {
        alignas(inotify_event) char events[1024];
        return ::read(fd_, events, sizeof events) > 0;
    }

private:
    int fd_;
};

TEST_F(OwnFiles, ALinkPlantedAtAFileTheBoxReadsOrWritesIsNeverFollowed) {
    file_io::hooks().durable = false;
    const std::string outside = makeTempDir("outside");
    const std::string kept = outside + "/kept";
    const std::string bytes = "parameters";
    constexpr const char* kNoLine = nullptr;
    struct Row {
        const char* link;     // program path
        const char* instead;  // the refusal line's end ("" none), or no line: the link replaced
        bool link_stays;      // else replaced or removed by what follows the refusal
        std::function<void()> use;
    } rows[] = {
        // Written.
        {"/data/ram_device_info.new", kNoLine, false,
         [&] { file_io::writeFileAtomic("/data/ram_device_info", bytes.data(), bytes.size()); }},
        {"/data/ram_device_info", kNoLine, false,
         [&] { file_io::writeFileAtomic("/data/ram_device_info", bytes.data(), bytes.size()); }},
        {"/sim/links.new", kNoLine, false,
         [&] { file_io::writeFileAtomic("/sim/links", bytes.data(), bytes.size()); }},
        {"/data/configs/tcpip.ini", "", true,
         [&] { freshConfig()->write_config_variant(ConfigItem::TcpPort, 6000); }},
        {"/data/configs/led_load_config.ini", "", true,
         [&] {
             g_update_status = 0;
             file_io::installNewProgram();
         }},
        {"/sim/c331-flash.bin", "", true,
         [&] { platform::sim::FlashImage("/sim/c331-flash.bin", 4096); }},
        {"/sim/fpga-flash-1.bin", "", true,
         [&] { platform::sim::FlashImage("/sim/fpga-flash-1.bin", 4096); }},
        {"/dev/mtd8", "", true,
         [&] {
             platform::MtdPartition mtd;
             ASSERT_EQ(mtd.open("/dev/mtd8"), 0);
             EXPECT_LT(mtd.pwrite(bytes.data(), bytes.size(), 0), 0);
         }},
        {"/sim/shell.log", "", true, [&] { Utils::system_mutex("sync"); }},
        {"/data/copy.json", "", true,
         [&] {
             writeFile("/data/from.json", "{}");
             Utils::system_mutex("cp /data/from.json /data/copy.json");
         }},
        {"/sim/keypad.log", "", true,
         [&] {
             platform::sim::simKeypad().attach();
             const uint8_t report[5] = {1, 2, 3, 4, 5};
             platform::sim::simKeypad().write(report, sizeof report);
         }},
        {"/sim/serial-ports", "", true,
         [&] {
             const int fd = platform::sim::openSimSerial("/dev/ttyS1");
             if (fd >= 0) ::close(fd);
             platform::sim::releaseSimSerial("/dev/ttyS1");
         }},
        {"/sim/usb-mount", "", true, [&] { mountUsbDisk(); }},
        // Read. The parameter file's defaults are then saved in the link's place.
        {"/data/ram_device_info", "the defaults are used", false,
         [&] { ZemRamPara::pInstance()->reload(); }},
        {"/data/modes/custom_mode7", "user mode 7 is empty", true,
         [&] { ZemRamPara::pInstance()->reload(); }},
        {"/data/configs/tcpip.ini", "the configuration's defaults are used", true,
         [&] { freshConfig(); }},
        {"/data/configs/led_load_config.ini",
         "the start-up file is taken as not naming the program", true,
         [&] { ConfigEngine::pInstance(); }},
        {"/data/configs/alias.json", "no alias is used", true,
         [&] {
             ALIAS_PARA alias;
             get_json_alias_para(&alias, "source", 1);
         }},
        {"/data/configs/omenu.json", "no OSD menu is shown", true,
         [&] {
             OSD_LIST list;
             get_json_omenu_para("/data/configs/omenu.json", &list);
         }},
        {"/data/modes/MO07.json", "no OSD menu is shown", true,
         [&] {
             OSD_LIST list;
             get_json_omenu_para(ZemRamPara::osdCopyFile(6).c_str(), &list);
         }},
        {"/data/configs/omenu.json", "nothing is copied", true,
         [&] { Utils::system_mutex("cp  /data/configs/omenu.json /data/modes/MO02.json"); }},
        {"/data/rcvrecovery/QZFX", "the receiving-card file is not read", true,
         [&] {
             rcvRecovery card_files;
             card_files.file_path = "/data/rcvrecovery/QZFX";
             card_files.get_rcvPackedFileNum();
         }},
        {"/data/smartmapping/scan1.bin", "the receiving-card file is not read", true,
         [&] {
             rcvRecovery card_files;
             card_files.file_path = "/data/smartmapping/scan1.bin";
             card_files.update_smartDebugingHead();
         }},
        {"/data/edidramtable/edid2.bin", "no uploaded EDID table is used", true,
         [&] { raviksource::pInstance()->edid_table_uploaded(2); }},
        {"/sim/usb-mount", "the mount point a box before named is left as it is", false,
         [&] { box().usb_disk.clearStaleMount(); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.link) + (row.instead ? ": " + std::string(row.instead) : ""));
        LogTestHooks::forget();
        std::ofstream(kept) << "kept\n";
        platform::makeParentDirs(row.link);
        fs::remove(local(row.link));  // what an earlier row wrote there
        fs::create_symlink(kept, local(row.link));
        const OpenWatch watch(kept);
        ASSERT_TRUE(watch.watching());
        testing::internal::CaptureStderr();
        row.use();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(watch.opened()) << "the file outside the root was opened";
        EXPECT_EQ(slurp(kept), "kept\n");
        for (const auto& e : fs::directory_iterator(outside))
            EXPECT_EQ(e.path().string(), kept) << "made outside the root";
        const std::string line =
            local(row.link) +
            " is a symbolic link: refused (the box uses its own files, never "
            "through a link)" +
            (row.instead && *row.instead ? ": " + std::string(row.instead) : "");
        if (row.instead)
            EXPECT_NE(said.find(line), std::string::npos) << said;
        else
            EXPECT_EQ(said.find(line), std::string::npos) << said;
        EXPECT_EQ(fs::is_symlink(local(row.link)), row.link_stays);
        std::error_code ec;
        fs::remove(local(row.link), ec);
    }
    removeTree(outside);
}

// A ".new" a kill left behind never stops a later save.
TEST_F(OwnFiles, ANewFileAKillLeftIsReplaced) {
    file_io::hooks().durable = false;
    writeFile("/data/ram_device_info.new", "torn");
    const std::string bytes = "whole";
    EXPECT_EQ(file_io::writeFileAtomic("/data/ram_device_info", bytes.data(), bytes.size()), 0);
    EXPECT_EQ(readFile("/data/ram_device_info"), "whole");
    EXPECT_FALSE(exists("/data/ram_device_info.new"));
}

}  // namespace

// On the box a link at a file's own name is followed, as the box's makers may lay out /data: a
// write replaces the file the link leads to whole (the new file beside that one, renamed over
// it) and the link stays; a read reads that file, and a cut write's leftover is removed beside
// it. The box's back end on a folder of this machine: no program path leads there, and the
// writes run no command (no sync).
TEST_F(OwnFiles, OnTheBoxAWriteThroughALinkReplacesTheFileItLeadsToAndKeepsTheLink) {
    file_io::hooks().durable = false;
    const std::string dir = makeTempDir("box");
    ASSERT_FALSE(dir.empty());
    fs::create_directories(dir + "/data");
    fs::create_directories(dir + "/store");
    struct Row {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // link, what it names
        std::string file;                                        // where the bytes land
        bool existed;                                            // else the write makes it
    } rows[] = {
        {"relative", {{"data/ram_device_info", "../store/ram"}}, "store/ram", true},
        {"absolute", {{"data/custom_mode7", dir + "/store/mode7"}}, "store/mode7", true},
        {"a chain",
         {{"data/udhcpd.conf", "udhcpd.link"}, {"data/udhcpd.link", "../store/udhcpd"}},
         "store/udhcpd",
         true},
        {"to a file not made yet", {{"data/alias.json", "../store/alias"}}, "store/alias", false},
    };
    platform::selectLinux();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string file = dir + "/" + row.file;
        if (row.existed) std::ofstream(file) << "the old bytes, longer than the new ones";
        struct stat before = {};
        ::stat(file.c_str(), &before);
        for (const auto& link : row.links) fs::create_symlink(link.second, dir + "/" + link.first);
        const std::string at = dir + "/" + row.links.front().first;
        std::ofstream(file + ".new") << "a cut write's";
        std::ofstream(at + ".new") << "not the box's";

        file_io::removeLeftover(at);
        EXPECT_FALSE(fs::exists(file + ".new")) << "the leftover beside the file written";
        EXPECT_TRUE(fs::exists(at + ".new")) << "a file of another name";
        testing::internal::CaptureStderr();
        const std::string bytes = "new";
        ASSERT_EQ(file_io::writeFileAtomic(at, bytes.data(), bytes.size()), 0);
        uint8_t back[64] = {};
        const long got = file_io::readFileBytes(at, back, sizeof back, "nothing");
        const std::string said = testing::internal::GetCapturedStderr();

        EXPECT_EQ(slurp(file), "new") << "replaced whole";
        EXPECT_EQ(std::string(reinterpret_cast<char*>(back), size_t(std::max(got, 0L))), "new");
        struct stat after = {};
        ASSERT_EQ(::stat(file.c_str(), &after), 0);
        if (row.existed) {
            EXPECT_NE(after.st_ino, before.st_ino) << "renamed over, not rewritten";
        }
        for (const auto& link : row.links) {
            EXPECT_TRUE(fs::is_symlink(dir + "/" + link.first)) << link.first;
            std::error_code ec;
            EXPECT_EQ(fs::read_symlink(dir + "/" + link.first, ec).string(), link.second);
        }
        EXPECT_FALSE(fs::exists(file + ".new"));
        EXPECT_EQ(said, "") << "nothing refused on the box";
        EXPECT_FALSE(platform::refuseLink(at)) << "nor by the writers that open by name";
        fs::remove(at + ".new");
    }
    platform::selectSimulated(root_);
    removeTree(dir);
}
