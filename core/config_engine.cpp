#include "core/config_engine.h"

#include <QRegularExpression>
#include <QStringList>
#include <cstdio>
#include <memory>

#include "core/globals.h"
#include "core/utils.h"
#include "platform/box.h"
#include "platform/own_files.h"
#include "platform/soc_window.h"

QMap<QString, int> _itemMap;
ConfigEngine* ConfigEngine::p_config = nullptr;

namespace {

// Word offsets from the window base (physical 0x1F000000): the efuse read control word,
// whose bit 8 must be clear for the identification words at 0x1F004058/5C/60 to read.
constexpr uint32_t kIdControl = 0x400C;
constexpr uint32_t kIdWords[3] = {0x4058, 0x405C, 0x4060};

// The text QSettings holds for a key; an unquoted "a,b" in a hand-edited file reads as a list.
QString storedText(const QVariant& v) {
    if (v.type() == QVariant::StringList) return v.toStringList().join(",");
    return v.toString();
}

struct ItemDef {
    const char* name;
    QVariant def;
    uint8_t numeric;
};

// In id order.
const ItemDef kItems[ConfigItem::ItemCount] = {
    {"TcpPort", 5005, 1},
    {"UdpPort", 5008, 1},
    {"IPAddress", "192.168.1.199", 0},
    {"SubNetMask", "255.255.255.0", 0},
    {"GateWay", "192.168.1.1", 0},
    {"MAC", "FF:FF:FF:FF:FF:FF", 0},
    {"Barcode", " ", 0},
    {"WifiIPAddress", "192.168.22.101", 0},
    {"EDIDCheck", "Once", 0},
    {"SourceCheck", 255, 1},
    {"ImageLayoutPassword", "No", 0},
    {"Wenxcloudserverip", " ", 0},
    {"Wenxcloudserverport", " ", 1},
    {"Wenxclouduserip", " ", 0},
    {"Wenxcloudcontrollername", " ", 0},
    {"ZemMaxPixel_UINT", 0xC80000u, 1},
    {"usbupgradedir", "ZEM-T73", 0},
    {"ZemLCDLang", 0x1001Fu, 1},
};

// The configured TCP port; one that is not a port 1..65535 would move the server to a wrapped or
// random port, so it is refused for the default, with a log line.
uint32_t tcpPort(ConfigEngine& c) {
    const QString text = c.read_config_variant(ConfigItem::TcpPort).toString().trimmed();
    uint32_t port = 0;
    if (Utils::isPort(text, port)) return port;
    port = ConfigEngine::default_variant(ConfigItem::TcpPort).toUInt();
    char line[160];
    std::snprintf(line, sizeof line,
                  "configuration: TcpPort \"%s\" is not a port 1..65535, %u used",
                  qPrintable(text.left(32)), port);
    writeLogMsg(1, "configuration: TcpPort refused", line);
    ZEM_DEBUG("\n %s \n", line);
    return port;
}

}  // namespace

ConfigItem::ConfigItem(const QString& k, ConfigName i, const QVariant& def, uint8_t num,
                       const QString& file, QSettings* settings)
    : key(k), id(i), defaultValue(def), memoryOnly(!settings), numeric(num), fileName(file) {
    _itemMap.insert(key, id);
    const QString stored = settings ? storedText(settings->value(key)) : QString();
    if (!stored.isEmpty()) {
        value = stored;
    } else if (!defaultValue.toString().isEmpty()) {
        value = defaultValue;
        if (settings) settings->setValue(key, defaultValue);
    }
}

void ConfigEngine::makeItems(QSettings* settings) {
    zem::MutexLocker lock(mutex_);  // no other thread sees the engine yet: the lock is for form
    items.reserve(ConfigItem::ItemCount);
    for (int id = 0; id < ConfigItem::ItemCount; ++id) {
        const ItemDef& d = kItems[id];
        items.emplace_back(QString("config/") + d.name, ConfigItem::ConfigName(id), d.def,
                           d.numeric, kIniFile, settings);
    }
}

ConfigEngine::ConfigEngine() : QObject(nullptr) {
    platform::makeParentDirs(kIniFile);
    const std::string local = platform::path(kIniFile);
    // On the simulated root a link there leads to a file that is not the box's: it is neither
    // read nor written, and the defaults stay in memory. The box follows it.
    if (platform::refuseLink(local, "the configuration's defaults are used")) {
        makeItems(nullptr);
        return;
    }
    QSettings settings(QString::fromStdString(local), QSettings::IniFormat);
    Utils::system_mutex(QString("chattr +S ") + kIniFile);
    makeItems(&settings);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        ZEM_DEBUG("\n %s could not be written \n", kIniFile);
        writeLogMsg(1, "configuration file could not be written");
    }
}

ConfigEngine* ConfigEngine::pInstance() {
    if (!p_config) {
        p_config = new ConfigEngine();
        readDeviceId();
    }
    load();
    return p_config;
}

void ConfigEngine::load() {
    Utils::getIPAddress();
    readMac();
    readUpdateStatus();
    factoryage_log.clear();
    factoryage_log_num = 0;
}

void ConfigEngine::deviceId(uint16_t w0, uint16_t w1, uint16_t w2, char out[32]) {
    auto nib = [](uint16_t w, int k) { return (w >> (4 * k)) & 0xF; };
    const int a0 = nib(w0, 0), a1 = nib(w0, 1), a2 = nib(w0, 2), a3 = nib(w0, 3);
    const int b0 = nib(w1, 0), b1 = nib(w1, 1), b2 = nib(w1, 2), b3 = nib(w1, 3);
    const int c0 = nib(w2, 0), c1 = nib(w2, 1), c2 = nib(w2, 2), c3 = nib(w2, 3);
    const int v[32] = {
        a3,
        b3,
        c3,
        b1,
        c1,
        c0,
        c2,
        (b3 + a3) & 1,
        (c3 + b1) >> 1,
        b0,
        b2,
        (c0 + c1) >> 1,
        (b3 + a3) >> 1,
        (c0 + c1) & 1,
        (c3 + b1) & 1,
        a2,
        a1,
        (c2 + b0) & 1,
        (b2 + a2) & 1,
        (a1 + a0) & 1,
        (a1 + a0) >> 1,
        (b3 + a3 + c3) % 3,
        (b3 + a3 + c3) / 3,
        (b2 + a3 + a2) % 3,
        (b2 + a3 + a2) / 3,
        (c2 + b1 + a1) % 3,
        (c2 + b1 + a1) / 3,
        (c1 + b0 + a0) % 3,
        (c1 + b0 + a0) / 3,
        (b2 + a2) >> 1,
        (c2 + b0) >> 1,
        a0,
    };
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) {
        out[i] = kHex[v[i]];
        ZEM_DEBUG(" %#x ", unsigned(v[i]));
        ZEM_DEBUG(" %#x ", unsigned(out[i]));
    }
}

// Without the window the words read as zero, so the id is all zeros, not empty, and the
// rest of the configuration still loads.
void ConfigEngine::readDeviceId() {
    uint16_t w[3] = {0, 0, 0};
    std::unique_ptr<platform::SocWindow> win;
    const int rc = platform::openSocWindow(platform::SocWindowKind::Identity, win);
    if (rc != 0) {
        ZEM_DEBUG("\n /dev/mem open failed %d, device id unknown \n", rc);
        writeLogMsg(1, "/dev/mem open failed: device id unknown");
    } else {
        win->write16(kIdControl, win->read16(kIdControl) & ~0x0100);
        for (int i = 0; i < 3; ++i) w[i] = win->read16(kIdWords[i]);
    }
    ZEM_DEBUG("\n mmap uuid161= %#x ,%#X ,%#x \n", w[0], w[1], w[2]);
    deviceId(w[0], w[1], w[2], g_pid);
    g_pid[32] = '\0';
}

// The MAC the device information reports: eth0's own as the interface query prints it (busybox
// "HWaddr 00:11:...", newer tools "ether 00:11:..."); when the interface can't be asked, the one
// the PC set last, which the configuration keeps across a restart.
void ConfigEngine::readMac() {
    static const QRegularExpression kPrinted(
        "(?:HWaddr|ether)\\s+([0-9A-Fa-f]{2}(?::[0-9A-Fa-f]{2}){5})\\b");
    static const QRegularExpression kText("^[0-9A-Fa-f]{2}(?::[0-9A-Fa-f]{2}){5}$");
    const QString printed = QString::fromStdString(Utils::shell_exec("ifconfig eth0", 100));
    const QRegularExpressionMatch m = kPrinted.match(printed);
    const QString configured = p_config->read_config_variant(ConfigItem::MAC).toString().trimmed();
    zem::MutexLocker lock(Utils::_config_mutex);
    if (m.hasMatch())
        g_str_mac = m.captured(1);
    else if (kText.match(configured).hasMatch())
        g_str_mac = configured;
}

void ConfigEngine::readUpdateStatus() {
    const std::string local = platform::path(kLoadConfigFile);
    if (!platform::mayRead(local, "the start-up file is taken as not naming the program")) {
        g_update_status = 0;
        return;
    }
    QSettings s(QString::fromStdString(local), QSettings::IniFormat);
    g_update_status = storedText(s.value("app-1/app_path")) == kStandardAppPath ? 1 : 0;
}

bool ConfigEngine::validId(int id) const {
    return id >= 0 && id < ConfigItem::ItemCount;  // the constructor made every item
}

QVariant ConfigEngine::default_variant(ConfigItem::ConfigName id) {
    if (id < 0 || id >= ConfigItem::ItemCount) return {};
    return kItems[id].def;
}

QVariant ConfigEngine::read_config_variant(ConfigItem::ConfigName id) {
    if (!validId(id)) return {};
    zem::MutexLocker lock(mutex_);
    return items[id].value;
}

void ConfigEngine::write_config_variant(ConfigItem::ConfigName id, const QVariant& value) {
    if (!validId(id)) return;
    zem::MutexLocker lock(mutex_);
    ConfigItem& item = items[id];
    item.value = value;
    if (item.memoryOnly || item.fileName.isEmpty()) return;
    const std::string local = platform::path(item.fileName.toStdString());
    if (platform::refuseLink(local)) return;
    QSettings s(QString::fromStdString(local), QSettings::IniFormat);
    s.setValue(item.key, value);
    s.sync();
    if (s.status() != QSettings::NoError) {
        ZEM_DEBUG("\n %s: %s not written \n", qPrintable(item.fileName), qPrintable(item.key));
        writeLogMsg(1, "configuration value could not be written");
    }
}

int ConfigEngine::containsItemStr(const QString& key) {
    return _itemMap.contains(key) ? 1 : 0;
}

int ConfigEngine::strToItem(const QString& key) {
    const QString full = key.startsWith("config/") ? key : "config/" + key;
    return _itemMap.value(full, -1);
}

std::optional<ConfigItem> ConfigEngine::getConfigItem(const QString& key) {
    if (!containsItemStr(key)) return std::nullopt;
    const int id = _itemMap.value(key);
    if (!validId(id)) return std::nullopt;
    zem::MutexLocker lock(mutex_);
    return items[id];
}

int Utils::getIPAddress() {
    ConfigEngine* c = ConfigEngine::p_config;
    if (!c) return 255;
    auto text = [c](ConfigItem::ConfigName id) { return c->read_config_variant(id).toString(); };
    // A number item holding anything but a number loads as 0.
    auto number = [c](ConfigItem::ConfigName id) {
        return c->read_config_variant(id).toString().trimmed().toUInt();
    };
    zem::MutexLocker lock(_config_mutex);
    g_str_ip = text(ConfigItem::IPAddress);
    g_str_gateway = text(ConfigItem::GateWay);
    g_srt_mask = text(ConfigItem::SubNetMask);
    g_port = g_int_tcp_port = tcpPort(*c);
    g_str_barcode = text(ConfigItem::Barcode);
    g_str_wifi_ip = text(ConfigItem::WifiIPAddress);
    g_check_edid = text(ConfigItem::EDIDCheck);
    g_imagelayoutpassword = text(ConfigItem::ImageLayoutPassword);
    g_check_source = number(ConfigItem::SourceCheck);
    g_Wenx_cloudserverip = text(ConfigItem::Wenxcloudserverip);
    g_Wenx_cloudserverport = number(ConfigItem::Wenxcloudserverport);
    g_Wenx_clouduserid = text(ConfigItem::Wenxclouduserip);
    g_Wenx_controllername = text(ConfigItem::Wenxcloudcontrollername);
    g_Wenx_cloud = (g_Wenx_cloudserverip != " " || g_Wenx_clouduserid != " " ||
                    g_Wenx_controllername != " " || g_Wenx_cloudserverport != 0)
                       ? 1
                       : 0;
    g_zem_max_pixel = number(ConfigItem::ZemMaxPixel_UINT);
    g_usb_grade_path = text(ConfigItem::usbupgradedir);
    g_lcd_lang_valid = number(ConfigItem::ZemLCDLang);
    return 0;
}
