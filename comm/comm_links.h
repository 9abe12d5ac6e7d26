// Start-up of the links, in the order the program brings them up.
#pragma once

// Fills the hooks into the other subsystems, then creates udpnetManage, Qz_uart_inout,
// networkManage, Qz_uart_inout_4G and T57_WIFI_CONFIG, each of which starts its threads.
void comm_start_links();
// Stops and releases every link comm_start_links started, so that starting them again gives
// fresh links on the box selected then (tests only: the box never stops its links).
void comm_stop_links();
