// The configuration read by the panel and the FPGA thread while a PC rewrites it: network set
// (0x91) on a link reloads every configuration value while the home screen refreshes its
// address and language and a USB scan looks in the configured upgrade folder. The race checker
// sees every read; what each reader shows is one whole configuration.
#include <QLabel>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "comm/link_session.h"
#include "core/config_engine.h"
#include "core/globals.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "page_driver.h"
#include "pc_link.h"
#include "ui/shell/lock_window.h"
#include "ui_lock_window.h"

namespace {

// Address, netmask, gateway and TCP port, each ended by a zero byte but the last.
Bytes netSet(const std::string& ip) {
    const std::string fields[] = {ip, "255.255.0.0", "10.0.0.1", "5005"};
    Bytes data;
    for (const std::string& f : fields) {
        if (!data.empty()) data.push_back(0);
        data.insert(data.end(), f.begin(), f.end());
    }
    return body(0x91, data);
}

class ConfigReads : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        // The zone the C library uses anyway, named: with TZ unset its tzset rereads the zone on
        // every call, under a lock of its own the race checker cannot see, and Qt calls it from
        // the page and the configuration's file writes on two threads.
        ::setenv("TZ", ":/etc/localtime", 1);
        ::tzset();
        ConfigEngine* config = ConfigEngine::pInstance();
        config->write_config_variant(ConfigItem::usbupgradedir, QString("upgrade"));
        config->write_config_variant(ConfigItem::ZemLCDLang, QString("31"));
        Utils::getIPAddress();
        // Russian: the panel asks the language mask whether it may show it.
        store().ram[ZemRamPara::kRamLanguage] = 2;
        store().shadow[ZemRamPara::kRamLanguage] = 2;
        g_language = 2;
        mountUsbDisk();
        writeFile("/mnt/usb1/upgrade/box.ZEM", "package");
        startPanel();
    }
};

TEST_F(ConfigReads, NetworkSetOnALinkWhileTheHomeScreenRefreshesAndAUsbScanRuns) {
    const char* const addresses[] = {"10.0.0.5", "10.0.0.6"};
    constexpr int kSets = 40;
    std::atomic<bool> pc_done{false};
    std::thread pc([&] {
        link_session udp(LinkKind::Udp, "pc");
        for (int i = 0; i < kSets; ++i) {
            const Bytes w = wire(netSet(addresses[i % 2]));
            udp.feed(w.data(), w.size(), {});
        }
        pc_done = true;
    });
    std::atomic<int> scans{0}, found{0};
    std::thread usb([&] {
        fpga_manage* f = fpga_manage::pInstance();
        while (!pc_done) {
            f->get_usb_file_list_path();
            ++scans;
            if (f->usb_file_list.size() == 1 &&
                QString::fromStdString(f->usb_file_list[0]).endsWith("upgrade/box.ZEM"))
                ++found;
        }
    });
    int refreshes = 0;
    while (!pc_done) {
        refresh(1);
        EXPECT_EQ(panelLanguage(), 2);
        ++refreshes;
    }
    pc.join();
    usb.join();
    refresh(1);
    EXPECT_GT(refreshes, 0);
    EXPECT_EQ(found.load(), scans.load());
    EXPECT_EQ(g_lockwindow->ui->label_IPaddr->text(), addresses[(kSets - 1) % 2]);
}

}  // namespace
