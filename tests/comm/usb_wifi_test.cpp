// The USB-disk watcher and the WiFi access point, driven through injected hot-plug events,
// the files they write under the root and the shell commands they run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <chrono>
#include <thread>

#include "c331/c331_manage.h"
#include "comm/usb_server.h"
#include "comm/wifi_config.h"
#include "comm_fixture.h"
#include "core/globals.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "platform/hotplug.h"
#include "platform/sim/sim_box.h"

namespace {

std::string uevent(const std::string& action, const std::string& dev, const std::string& type) {
    return action + "@/devices/usb1/block/" + dev + "\nACTION=" + action +
           "\nSUBSYSTEM=block\nDEVNAME=" + dev + "\nDEVTYPE=" + type + "\n";
}

bool ran(const std::vector<std::string>& cmds, const std::string& cmd) {
    return std::find(cmds.begin(), cmds.end(), cmd) != cmds.end();
}

}  // namespace

using UsbWatcher = CommTest;

TEST_F(UsbWatcher, DiskEventsBecomeRefreshIdsOnlyAfterTheStartDelay) {
    UsbServer* usb = UsbServer::pInstance();
    std::vector<int> ids;
    std::mutex m;
    QObject::connect(
        usb, &UsbServer::sig_usb_update, &scope,
        [&](int id) {
            std::lock_guard<std::mutex> lock(m);
            ids.push_back(id);
        },
        Qt::DirectConnection);
    auto seen = [&] {
        std::lock_guard<std::mutex> lock(m);
        return ids;
    };
    usb->stop();  // events handed over directly below
    writeFile("/proc/scsi/usb-storage", "");
    g_delay_usbserver = 0;
    usb->handle_event(uevent("add", "sda", "disk"));
    EXPECT_TRUE(seen().empty());
    g_delay_usbserver = 1;
    const size_t before = seen().size();
    usb->handle_event(uevent("add", "sdb", "disk"));
    usb->handle_event(uevent("add", "sdb1", "partition"));
    usb->handle_event(uevent("add", "mmcblk0", "disk"));     // not a USB disk
    usb->handle_event(uevent("add", "sd;rm", "partition"));  // not a device name
    usb->handle_event(uevent("remove", "sdb", "disk"));
    const std::vector<int> all = seen();
    EXPECT_EQ(std::vector<int>(all.begin() + before, all.end()), (std::vector<int>{100, 102, 101}));
    EXPECT_TRUE(ran(commands(), "mount /dev/sdb1 /mnt/usb1"));
    EXPECT_TRUE(ran(commands(), "umount -l /mnt/usb1"));
    g_delay_usbserver = 0;
    usb->handle_event(uevent("add", "sdc", "disk"));
    EXPECT_EQ(seen().size(), all.size());
}

TEST_F(UsbWatcher, TheThreadActsOnInjectedEvents) {
    std::atomic<int> got{0};
    UsbServer* usb = UsbServer::pInstance();
    QObject::connect(
        usb, &UsbServer::sig_usb_update, &scope, [&](int id) { got = id; }, Qt::DirectConnection);
    g_delay_usbserver = 1;
    platform::sim::injectHotplug(uevent("remove", "sda", "disk"));
    EXPECT_TRUE(eventually([&] { return got == 101; }));
    UsbServer::shutdown();
}

TEST_F(UsbWatcher, ASimulatedDiskIsMountedOnItsEventsAndGoesWhenPulled) {
    platform::sim::SimUsbDisk& disk = box().usb_disk;
    UsbServer* usb = UsbServer::pInstance();
    std::vector<int> ids;
    std::mutex m;
    QObject::connect(usb, &UsbServer::sig_usb_update, [&](int id) {
        std::lock_guard<std::mutex> lock(m);
        ids.push_back(id);
    });
    auto seen = [&] {
        std::lock_guard<std::mutex> lock(m);
        return ids;
    };
    g_delay_usbserver = 1;
    EXPECT_EQ(disk.plug("/sim/disk"), -ENOENT);  // no such folder
    EXPECT_EQ(disk.plug("/sim/../etc"), -ENOENT);
    EXPECT_EQ(disk.unplug(), -ENODEV);
    writeFile("/sim/disk/ZEM-T73/a.ZEM", "package");
    writeFile("/mnt/usb1/left", "x");  // a mount point in use: mount fails, nothing shows
    ASSERT_EQ(disk.plug("/sim/disk"), 0);
    EXPECT_EQ(disk.plug("/sim/disk"), -EBUSY);
    ASSERT_TRUE(eventually([&] { return seen() == std::vector<int>{100}; })) << seen().size();
    EXPECT_TRUE(exists("/proc/scsi/usb-storage"));
    EXPECT_TRUE(disk.state().mounted_at.empty());
    ASSERT_EQ(disk.unplug(), 0);
    ASSERT_TRUE(eventually([&] { return seen() == std::vector<int>{100, 101}; }));

    ::unlink(local("/mnt/usb1/left").c_str());
    ASSERT_EQ(disk.plug("/sim/disk"), 0);
    ASSERT_TRUE(eventually([&] { return seen().size() == 4; }));
    EXPECT_EQ(seen(), (std::vector<int>{100, 101, 100, 102}));
    EXPECT_TRUE(ran(commands(), "mount /dev/sda1 /mnt/usb1"));
    EXPECT_EQ(disk.state().mounted_at, "/mnt/usb1");
    EXPECT_EQ(readFile("/mnt/usb1/ZEM-T73/a.ZEM"), "package");
    ASSERT_EQ(disk.unplug(), 0);
    ASSERT_TRUE(eventually([&] { return seen().size() == 5; }));
    EXPECT_EQ(seen().back(), 101);
    EXPECT_FALSE(exists("/mnt/usb1/ZEM-T73"));
    EXPECT_FALSE(exists("/proc/scsi/usb-storage"));
    EXPECT_EQ(readFile("/sim/disk/ZEM-T73/a.ZEM"), "package");  // the disk keeps its files
    UsbServer::shutdown();
}

// The watcher may take the partition's event after the disk was pulled (it was still queued):
// the mount fails as it does for a device that is gone, and nothing is announced.
TEST_F(UsbWatcher, APartitionEventAfterItsDiskWasPulledMountsNothing) {
    UsbServer* usb = UsbServer::pInstance();
    std::vector<int> ids;
    QObject::connect(
        usb, &UsbServer::sig_usb_update, &scope, [&](int id) { ids.push_back(id); },
        Qt::DirectConnection);
    usb->stop();  // events handed over directly below
    g_delay_usbserver = 1;
    platform::sim::SimUsbDisk& disk = box().usb_disk;
    writeFile("/sim/disk/ZEM-T73/a.ZEM", "package");
    ASSERT_EQ(disk.plug("/sim/disk"), 0);
    ASSERT_EQ(disk.unplug(), 0);
    usb->handle_event(uevent("add", "sda1", "partition"));
    EXPECT_TRUE(ids.empty());
    EXPECT_TRUE(disk.state().mounted_at.empty());
    EXPECT_FALSE(exists("/mnt/usb1/ZEM-T73/a.ZEM"));
}

class Wifi : public CommTest {
protected:
    // As a settings page does: the RAM byte under the C331 mutex.
    void setWifiOff(uint8_t off) {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store()->ram[774] = off;
    }
};

TEST_F(Wifi, StartsTheAccessPointAndRestartsItOnRequest) {
    g_str_wifi_ip = "192.168.22.101";
    T57_WIFI_CONFIG* wifi = T57_WIFI_CONFIG::pInstance();
    ASSERT_TRUE(eventually([&] { return wifi->running.load(); }));
    EXPECT_NE(readFile("/etc/rtl_hostapd_2G.conf").find("interface=wlan1"), std::string::npos);
    EXPECT_NE(readFile("/etc/udhcpd.conf").find("opt router 192.168.22.101"), std::string::npos);
    EXPECT_TRUE(ran(commands(), "/usr/bin/hostapd -B /etc/rtl_hostapd_2G.conf"));
    EXPECT_TRUE(ran(commands(), "udhcpd /etc/udhcpd.conf"));
    // Switched off: a restart request stops it and it stays down.
    shell().clear();
    setWifiOff(1);
    G_timeTicks = 77;
    wifi->set_wifi_reset_flag();
    EXPECT_TRUE(eventually([&] { return !wifi->running.load(); }));
    EXPECT_EQ(g_wifi_reset_ticks, 77u);
    EXPECT_TRUE(ran(commands(), "kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`"));
    EXPECT_FALSE(ran(commands(), "/usr/bin/hostapd -B /etc/rtl_hostapd_2G.conf"));
    // Switched on again.
    setWifiOff(0);
    wifi->set_wifi_reset_flag();
    EXPECT_TRUE(eventually([&] { return wifi->running.load(); }));
    T57_WIFI_CONFIG::shutdown();
}

TEST_F(Wifi, AnAccessPointAddressThatIsNoAddressIsRefusedForTheDefault) {
    const char* const bad[] = {"192.168.22.1; reboot", "192.168.22",          "300.1.1.1", "",
                               "192.168.022.1",        "1.2.3.4 up; rm -rf /"};
    const std::string kUp = "ifconfig wlan1 192.168.22.101 netmask 255.255.255.0 up";
    g_str_wifi_ip = bad[0];
    T57_WIFI_CONFIG* wifi = T57_WIFI_CONFIG::pInstance();
    for (const char* b : bad) {
        SCOPED_TRACE(b);
        {
            zem::MutexLocker lock(Utils::_config_mutex);
            g_str_wifi_ip = b;
        }
        shell().clear();
        wifi->set_wifi_reset_flag();
        ASSERT_TRUE(eventually([&] { return ran(commands(), kUp); }));
        for (const std::string& c : commands())
            EXPECT_TRUE(c.rfind("ifconfig wlan1", 0) != 0 || c == kUp) << c;
        EXPECT_NE(readFile("/etc/udhcpd.conf").find("opt router 192.168.22.101\n"),
                  std::string::npos);
    }
    T57_WIFI_CONFIG::shutdown();
}
