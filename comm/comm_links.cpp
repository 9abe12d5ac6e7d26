#include "comm/comm_links.h"

#include <string>

#include "comm/comm_hooks.h"
#include "comm/message_deal.h"
#include "comm/network_manage.h"
#include "comm/qz_uart_inout.h"
#include "comm/udpnet_manage.h"
#include "comm/wifi_config.h"
#include "core/file_io.h"
#include "platform/box.h"

namespace {

// On the simulated box, "<root>/sim/links" tells a person or a script that the links are up
// and where they listen: one "link port" line each, "none" for a link that is not listening.
void report_links() {
    auto line = [](const char* link, uint16_t port) {
        return std::string(link) + ' ' + (port ? std::to_string(port) : "none") + '\n';
    };
    const networkManage* tcp = networkManage::p_networkManage;
    const udpnetManage* udp = udpnetManage::p_udpnetManage;
    const std::string text = line("tcp", tcp ? tcp->port : 0) + line("udp", udp ? udp->port : 0) +
                             line("wifi", udp ? udp->wifi_port : 0);
    file_io::writeFileAtomic("/sim/links", text.data(), text.size());
}

}  // namespace

void comm_start_links() {
    message_deal::remove_partial_transfers();
    comm_hooks::wire();
    udpnetManage::pInstance();
    Qz_uart_inout::pInstance();
    networkManage::pInstance();
    Qz_uart_inout_4G::pInstance();
    T57_WIFI_CONFIG::pInstance();
    if (platform::simulated()) report_links();
}

void comm_stop_links() {
    udpnetManage::shutdown();
    Qz_uart_inout::shutdown();
    networkManage::shutdown();
    Qz_uart_inout_4G::shutdown();
    T57_WIFI_CONFIG::shutdown();
}
