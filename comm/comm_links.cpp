#include "comm/comm_links.h"

#include "comm/comm_hooks.h"
#include "comm/network_manage.h"
#include "comm/qz_uart_inout.h"
#include "comm/udpnet_manage.h"
#include "comm/wifi_config.h"

void comm_start_links() {
    comm_hooks::wire();
    udpnetManage::pInstance();
    Qz_uart_inout::pInstance();
    networkManage::pInstance();
    Qz_uart_inout_4G::pInstance();
    T57_WIFI_CONFIG::pInstance();
}
