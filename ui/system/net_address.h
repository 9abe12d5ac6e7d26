// The box's wired address as the panel changes it: the three configuration items, then eth0
// set up from them. Shared by the Ethernet address page and the factory reset.
#pragma once

#include <QString>

namespace net_address {

extern const char* const kDefaultIp;
extern const char* const kDefaultMask;
extern const char* const kDefaultGateway;

// Writes address, netmask and gateway (items 2, 3, 4, in this order) to the configuration file,
// syncs it to the flash and sets eth0 up from it (which reloads the globals). The caller has
// checked all three with Utils::isDottedIPv4.
void store(const QString& ip, const QString& mask, const QString& gateway);

}  // namespace net_address
