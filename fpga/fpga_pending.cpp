// Work of the FPGA pass that the mailbox-job and USB-upgrade code fills in;
// each is called from its place in the pass already.
#include "core/globals.h"
#include "core/utils.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"

void fpga_manage::SmartMapping_deal() {}           // mailbox task 1
void fpga_manage::rcv_recovery_check_deal(int) {}  // mailbox tasks 2, 5, 6
void fpga_manage::save_para_deal() {}              // mailbox task 3
void fpga_manage::mapping_enable_deal() {}         // mailbox task 4
