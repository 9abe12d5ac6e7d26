#include "ui/system/net_address.h"

#include "core/config_engine.h"
#include "core/globals.h"
#include "core/utils.h"

namespace net_address {

const char* const kDefaultIp = "192.168.1.199";
const char* const kDefaultMask = "255.255.255.0";
const char* const kDefaultGateway = "192.168.1.1";

void store(const QString& ip, const QString& mask, const QString& gateway) {
    ConfigEngine* c = ConfigEngine::p_config;
    if (!c) return;
    ZEM_DEBUG("\n eth0 address %s mask %s gateway %s \n", qPrintable(ip), qPrintable(mask),
              qPrintable(gateway));
    c->write_config_variant(ConfigItem::IPAddress, ip);
    c->write_config_variant(ConfigItem::SubNetMask, mask);
    c->write_config_variant(ConfigItem::GateWay, gateway);
    Utils::system_mutex("sync");
    Utils::initIPAddress();
}

}  // namespace net_address
