// No file the box writes is written through a symbolic link at its last component: one planted
// at each of its write sites is refused with a line naming it, or replaced (a rename), never
// followed; the file it leads to outside the root stays as it was and nothing is made there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "core/file_io.h"
#include "core/globals.h"
#include "core/utils.h"
#include "core_fixture.h"
#include "platform/hid_keypad.h"
#include "platform/mtd.h"
#include "platform/serial_port.h"
#include "platform/sim/flash_image.h"
#include "program_fixture.h"

namespace {

namespace fs = std::filesystem;

class OwnFiles : public CoreTest {};

TEST_F(OwnFiles, ALinkPlantedAtAFileTheBoxWritesIsNeverFollowed) {
    file_io::hooks().durable = false;
    const std::string outside = makeTempDir("outside");
    const std::string kept = outside + "/kept";
    const std::string bytes = "parameters";
    struct Row {
        const char* link;  // program path
        bool refused;      // else replaced by the write
        std::function<void()> write;
    } rows[] = {
        {"/data/ram_device_info.new", false,
         [&] { file_io::writeFileAtomic("/data/ram_device_info", bytes.data(), bytes.size()); }},
        {"/data/ram_device_info", false,
         [&] { file_io::writeFileAtomic("/data/ram_device_info", bytes.data(), bytes.size()); }},
        {"/sim/links.new", false,
         [&] { file_io::writeFileAtomic("/sim/links", bytes.data(), bytes.size()); }},
        {"/data/configs/tcpip.ini", true,
         [&] { freshConfig()->write_config_variant(ConfigItem::TcpPort, 6000); }},
        {"/data/configs/led_load_config.ini", true,
         [&] {
             g_update_status = 0;
             file_io::installNewProgram();
         }},
        {"/sim/c331-flash.bin", true,
         [&] { platform::sim::FlashImage("/sim/c331-flash.bin", 4096); }},
        {"/sim/fpga-flash-1.bin", true,
         [&] { platform::sim::FlashImage("/sim/fpga-flash-1.bin", 4096); }},
        {"/dev/mtd8", true,
         [&] {
             platform::MtdPartition mtd;
             ASSERT_EQ(mtd.open("/dev/mtd8"), 0);
             EXPECT_LT(mtd.pwrite(bytes.data(), bytes.size(), 0), 0);
         }},
        {"/sim/shell.log", true, [&] { Utils::system_mutex("sync"); }},
        {"/data/copy.json", true,
         [&] {
             writeFile("/data/from.json", "{}");
             Utils::system_mutex("cp /data/from.json /data/copy.json");
         }},
        {"/sim/keypad.log", true,
         [&] {
             platform::sim::simKeypad().attach();
             const uint8_t report[5] = {1, 2, 3, 4, 5};
             platform::sim::simKeypad().write(report, sizeof report);
         }},
        {"/sim/serial-ports", true,
         [&] {
             const int fd = platform::sim::openSimSerial("/dev/ttyS1");
             if (fd >= 0) ::close(fd);
             platform::sim::releaseSimSerial("/dev/ttyS1");
         }},
        {"/sim/usb-mount", true, [&] { mountUsbDisk(); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.link);
        LogTestHooks::forget();
        std::ofstream(kept) << "kept\n";
        platform::makeParentDirs(row.link);
        fs::remove(local(row.link));  // what an earlier row wrote there
        fs::create_symlink(kept, local(row.link));
        testing::internal::CaptureStderr();
        row.write();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(slurp(kept), "kept\n");
        for (const auto& e : fs::directory_iterator(outside))
            EXPECT_EQ(e.path().string(), kept) << "made outside the root";
        const std::string line = local(row.link) + " is a symbolic link: refused";
        if (row.refused) {
            EXPECT_NE(said.find(line), std::string::npos) << said;
            EXPECT_TRUE(fs::is_symlink(local(row.link)));
        } else {
            EXPECT_EQ(said.find(line), std::string::npos) << said;
            EXPECT_FALSE(fs::is_symlink(local(row.link)));
        }
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
