// Whether the USB disk's folder is a mount point: the kernel's mount table on the box, the
// simulated disk on the simulated box; and the mount point that a stopped simulated box left
// behind, empty again when the next one starts.
#include "platform/mounts.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "sim_fixture.h"

namespace {

using platform::sim::SimUsbDisk;

TEST(MountTable, ListsOnlyTheMountPointsItNames) {
    const std::string table =
        "/dev/root / squashfs ro,relatime 0 0\n"
        "proc /proc proc rw 0 0\n"
        "/dev/sda1 /mnt/usb1 vfat rw,relatime,fmask=0022 0 0\n"
        "/dev/sdb1 /mnt/my\\040disk vfat rw 0 0\n";
    struct Row {
        const char* dir;
        bool listed;
    };
    for (const Row& r :
         {Row{"/mnt/usb1", true}, Row{"/mnt/usb1/", true}, Row{"/mnt", false},
          Row{"/mnt/usb", false}, Row{"/mnt/usb1/x", false}, Row{"/mnt/my disk", true},
          Row{"/mnt/my\\040disk", false}, Row{"/dev/sda1", false}}) {
        EXPECT_EQ(platform::mountTableLists(table, r.dir), r.listed) << r.dir;
        EXPECT_FALSE(platform::mountTableLists("", r.dir)) << r.dir;
    }
}

class UsbMountPoint : public SimBoxTest {};

TEST_F(UsbMountPoint, IsMountedOnlyWhileTheSimulatedDiskIsMountedThere) {
    writeFile("/mnt/usb1/left", "a folder with files is no mount");
    EXPECT_FALSE(platform::usbDiskMounted());
    ::unlink(local("/mnt/usb1/left").c_str());
    writeFile("/sim/disk/a", "x");
    SimUsbDisk& disk = box().usb_disk;
    ASSERT_EQ(disk.plug("/sim/disk"), 0);
    EXPECT_FALSE(platform::usbDiskMounted()) << "plugged, not mounted";
    ASSERT_EQ(disk.mount("/dev/sda1", "/mnt/usb1"), 0);
    EXPECT_TRUE(platform::usbDiskMounted());
    EXPECT_TRUE(platform::mountedAt("/mnt/usb1/"));
    EXPECT_FALSE(platform::mountedAt("/mnt"));
    ASSERT_EQ(disk.unmount("/mnt/usb1"), 0);
    EXPECT_FALSE(platform::usbDiskMounted());
}

// The box stopped with a disk mounted, killed (nothing runs at its end) or stopped cleanly,
// and started again on the same root: the mount point is an empty folder and the next disk
// mounts there, showing its own files only.
TEST_F(UsbMountPoint, ABoxStoppedWithItsDiskMountedLeavesNoneForTheNextStart) {
    writeFile("/sim/old/ZEM-T73/a.ZEM", "package");
    writeFile("/sim/new/readme", "no package");
    for (const bool clean_stop : {false, true}) {
        SCOPED_TRACE(clean_stop ? "stopped" : "killed");
        SimUsbDisk& old = box().usb_disk;
        ASSERT_EQ(old.plug("/sim/old"), 0);
        ASSERT_EQ(old.mount("/dev/sda1", "/mnt/usb1"), 0);
        if (clean_stop) {
            SimUsbDisk::clearMountAtStop();
            EXPECT_TRUE(std::filesystem::is_empty(local("/mnt/usb1")));
            EXPECT_FALSE(std::filesystem::is_symlink(local("/mnt/usb1")));
        }
        platform::selectSimulated(root_);  // the next start
        EXPECT_FALSE(exists("/mnt/usb1/ZEM-T73"));
        EXPECT_FALSE(platform::usbDiskMounted());
        SimUsbDisk& disk = box().usb_disk;
        ASSERT_EQ(disk.plug("/sim/new"), 0);
        EXPECT_EQ(disk.mount("/dev/sda1", "/mnt/usb1"), 0);
        EXPECT_EQ(readFile("/mnt/usb1/readme"), "no package");
        EXPECT_FALSE(exists("/mnt/usb1/ZEM-T73"));
        EXPECT_EQ(readFile("/sim/old/ZEM-T73/a.ZEM"), "package") << "the old disk keeps its files";
        platform::selectSimulated(root_);  // killed with the new disk mounted: left to the next
    }
}

}  // namespace
