#include "box_links.h"

#include "comm/comm_links.h"
#include "comm/network_manage.h"
#include "comm/qz_uart_inout.h"
#include "comm/udpnet_manage.h"
#include "core/globals.h"
#include "platform/serial_port.h"

std::unique_ptr<Link> startBoxLink(Via via) {
    switch (via) {
        case Via::Tcp:
            // Any free port, whatever the configuration read: test programs run side by side.
            g_port = 0;
            networkManage::pInstance();
            return std::make_unique<TcpLink>(networkManage::p_networkManage->port);
        case Via::Udp:
            udpnetManage::udp_port_setting = 0;
            udpnetManage::wifi_port_setting = 0;
            udpnetManage::pInstance();
            return std::make_unique<UdpLink>(udpnetManage::p_udpnetManage->port);
        case Via::Pty:
            Qz_uart_inout::pInstance();
            return std::make_unique<PtyLink>(platform::sim::serialPeerName("/dev/ttyS2"));
        case Via::Pty4G:
            Qz_uart_inout_4G::pInstance();
            return std::make_unique<PtyLink>(platform::sim::serialPeerName("/dev/ttyS1"));
    }
    return nullptr;
}

void stopBoxLinks() {
    comm_stop_links();
}

std::string viaName(const ::testing::TestParamInfo<Via>& info) {
    static const char* const kNames[] = {"Tcp", "Udp", "Pty", "Pty4G"};
    return kNames[int(info.param)];
}
