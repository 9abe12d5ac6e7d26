// eth0 address, netmask and routes. The WiFi access point's interfaces must not take the
// default route or the broadcast route, so replies to PC broadcasts leave through eth0.
#include <QStringList>

#include "core/config_engine.h"
#include "core/globals.h"
#include "core/utils.h"

namespace {

// Each text ends up on a root shell's command line, so anything but a plain address is
// refused before a single command runs.
bool validAddresses(const QString& ip, const QString& mask, const QString& gateway) {
    if (Utils::isDottedIPv4(ip) && Utils::isDottedIPv4(mask) && Utils::isDottedIPv4(gateway))
        return true;
    ZEM_DEBUG("\n eth0 set-up refused: address %s mask %s gateway %s \n", qPrintable(ip),
              qPrintable(mask), qPrintable(gateway));
    writeLogMsg(1, "eth0 set-up refused: not a dotted IPv4 address or mask");
    return false;
}

// A redirection every POSIX shell reads the same way ("&>" would run the probe in the
// background under sh and always succeed).
bool eth0Present() {
    return Utils::system_mutex("ifconfig eth0 >/dev/null 2>&1") == 0;
}

// The route and address commands; their results do not matter (a route may already exist
// or be gone).
void applyEth0(const QString& ip, const QString& mask, const QString& gateway) {
    Utils::system_mutex("route del default wlan0");
    Utils::system_mutex(QString("ifconfig eth0 %1 netmask %2").arg(ip, mask));
    Utils::system_mutex(QString("route add -host %1 dev eth0").arg(gateway));
    Utils::system_mutex(QString("route add default gw %1 metric 100").arg(gateway));
    Utils::system_mutex("route add -host 255.255.255.255 eth0");
    Utils::system_mutex("route del 255.255.255.255 wlan1");
}

}  // namespace

bool Utils::isDottedIPv4(const QString& text) {
    const QStringList parts = text.split('.');
    if (parts.size() != 4) return false;
    for (const QString& p : parts) {
        if (p.isEmpty() || p.size() > 3 || (p.size() > 1 && p[0] == '0')) return false;
        for (const QChar c : p)
            if (c < '0' || c > '9') return false;
        if (p.toInt() > 255) return false;
    }
    return true;
}

bool Utils::isPort(const QString& text, uint32_t& port) {
    if (text.isEmpty() || text.size() > 5) return false;
    for (const QChar c : text)
        if (c < '0' || c > '9') return false;
    port = text.toUInt();
    return port >= 1 && port <= 65535;
}

int Utils::initIPAddress() {
    // The values that getIPAddress is about to load, checked before anything runs; the
    // commands use these same checked texts.
    ConfigEngine* c = ConfigEngine::p_config;
    if (!c) return 255;
    const QString ip = c->read_config_variant(ConfigItem::IPAddress).toString();
    const QString mask = c->read_config_variant(ConfigItem::SubNetMask).toString();
    const QString gateway = c->read_config_variant(ConfigItem::GateWay).toString();
    if (!validAddresses(ip, mask, gateway)) return 255;
    if (!eth0Present()) return 255;
    getIPAddress();
    applyEth0(ip, mask, gateway);
    return 0;
}

int Utils::init_resteth(const QString& ip, const QString& gateway, const QString& mask) {
    if (!validAddresses(ip, mask, gateway)) return 255;
    if (!eth0Present()) return 255;
    applyEth0(ip, mask, gateway);
    return 0;
}
