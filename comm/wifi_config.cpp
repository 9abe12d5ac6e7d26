#include "comm/wifi_config.h"

#include <QString>
#include <QStringList>
#include <cstdio>
#include <string>

#include "c331/c331_manage.h"
#include "core/config_engine.h"
#include "core/file_io.h"
#include "core/globals.h"
#include "core/singleton.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "platform/box.h"
#include "platform/thread_name.h"

std::atomic<uint8_t> g_wifi_reset_flag{0};
std::atomic<uint32_t> g_wifi_reset_ticks{0};
T57_WIFI_CONFIG* T57_WIFI_CONFIG::p_wifi = nullptr;

namespace {

const char kHostapdConf[] = "/etc/rtl_hostapd_2G.conf";
const char kUdhcpdConf[] = "/etc/udhcpd.conf";

bool write_text(const char* absolute, const std::string& text) {
    zem::MutexLocker lock(Utils::_file_deal_mutex);
    return file_io::writeFileAtomic(absolute, text.data(), text.size()) == 0;
}

// The network of the access point: the first three parts of its address.
QString subnet_prefix(const QString& ip) {
    const QStringList parts = ip.split('.');
    return parts.size() == 4 ? parts.mid(0, 3).join('.') : QString("192.168.22");
}

std::string hostapd_conf() {
    const std::string id(g_pid, g_pid + 32);
    return "interface=wlan1\n"
           "driver=nl80211\n"
           "ssid=zemT57N-" +
           id.substr(28, 4) +
           "\n"
           "hw_mode=g\n"
           "channel=6\n";
}

std::string udhcpd_conf(const QString& ip) {
    const std::string net = subnet_prefix(ip).toStdString();
    return "start " + net + ".110\n" + "end " + net + ".200\n" +
           "interface wlan1\n"
           "opt subnet 255.255.255.0\n"
           "opt router " +
           ip.toStdString() + "\n";
}

// The configured address of the access point. It ends up on a root shell's command line, so
// anything but a plain address is refused, as for eth0, and the default address is used.
QString access_point_address() {
    const QString ip = Utils::configValue(&g_str_wifi_ip);
    if (Utils::isDottedIPv4(ip)) return ip;
    if (!ConfigEngine::p_config) return {};
    const QString fallback = ConfigEngine::default_variant(ConfigItem::WifiIPAddress).toString();
    char line[160];
    std::snprintf(line, sizeof line, "WiFi: WifiIPAddress \"%s\" is not an address, %s used",
                  qPrintable(ip.left(32)), qPrintable(fallback));
    writeLogMsg(1, "WiFi: WifiIPAddress refused", line);
    ZEM_DEBUG("\n %s \n", line);
    return fallback;
}

}  // namespace

T57_WIFI_CONFIG* T57_WIFI_CONFIG::pInstance() {
    if (!p_wifi) {
        {
            // What a cut write left, also while the WiFi stays off and writes neither file.
            zem::MutexLocker lock(Utils::_file_deal_mutex);
            file_io::removeLeftover(kHostapdConf);
            file_io::removeLeftover(kUdhcpdConf);
        }
        p_wifi = new T57_WIFI_CONFIG;
        p_wifi->thread_ = std::thread(&T57_WIFI_CONFIG::WiFi_Start_Thread, p_wifi);
        platform::nameThread(p_wifi->thread_, "wifi-ap");
    }
    return p_wifi;
}

void T57_WIFI_CONFIG::shutdown() {
    release_singleton(p_wifi);
}

void T57_WIFI_CONFIG::set_wifi_reset_flag() {
    zem::MutexLocker lock(mutex_);
    g_wifi_reset_ticks = G_timeTicks.load();
    g_wifi_reset_flag = 1;
    cv_.notify_all();
}

void T57_WIFI_CONFIG::stop() {
    {
        zem::MutexLocker lock(mutex_);
        stopping_ = true;
        cv_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

bool T57_WIFI_CONFIG::switched_off() const {
    const ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    // Parameter writers change the RAM under the C331 mutex.
    zem::MutexLocker lock(c331_manage::c331_mutex);
    return store && store->ram[774] == 1;
}

int T57_WIFI_CONFIG::bring_up() {
    const QString ip = access_point_address();
    if (ip.isEmpty()) return 255;
    if (!write_text(kHostapdConf, hostapd_conf()) || !write_text(kUdhcpdConf, udhcpd_conf(ip)))
        return 255;
    Utils::system_mutex("ifconfig wlan1 " + ip + " netmask 255.255.255.0 up");
    Utils::system_mutex(QString("/usr/bin/hostapd -B ") + kHostapdConf);
    Utils::system_mutex(QString("udhcpd ") + kUdhcpdConf);
    // Replies to PC broadcasts must keep leaving through eth0.
    Utils::system_mutex("route del 255.255.255.255 wlan1");
    running = true;
    return 0;
}

void T57_WIFI_CONFIG::take_down() {
    Utils::system_mutex("kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`");
    Utils::system_mutex("kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`");
    running = false;
}

void T57_WIFI_CONFIG::WiFi_Start_Thread() {
    bool first = true;
    zem::MutexLocker lock(mutex_);
    while (!stopping_) {
        if (!first) {
            cv_.wait(lock, [&] { return stopping_ || g_wifi_reset_flag != 0; });
            if (stopping_) break;
            g_wifi_reset_flag = 0;
        }
        first = false;
        lock.unlock();
        if (running) take_down();
        if (!switched_off() && bring_up() != 0) writeLogMsg(1, "WiFi: configuration not written");
        lock.lock();
    }
}
