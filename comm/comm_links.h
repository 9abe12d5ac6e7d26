// Start-up of the links, in the order the program brings them up.
#pragma once

// Fills the hooks into the other subsystems, then creates udpnetManage, Qz_uart_inout,
// networkManage, Qz_uart_inout_4G and T57_WIFI_CONFIG, each of which starts its threads.
void comm_start_links();
