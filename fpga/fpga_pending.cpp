// Work of the FPGA pass that the brightness and schedule, receiving-card, operating-time and
// USB-upgrade code fills in; each is called from its place in the pass already.
#include "core/globals.h"
#include "core/utils.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"

void fpga_manage::Power_ctrl_init() {}           // power-control start values
void fpga_manage::record_bright_change() {}      // brightness table from flash
void fpga_manage::record_onoff_time(int) {}      // on/off table from flash
void fpga_manage::Checktime() {}                 // clock command of the command table
void fpga_manage::OnOff_time() {}                // on/off table of the command table
void fpga_manage::Brightness_manual_apply() {}   // manual brightness to register 6
void fpga_manage::Brightness_hand_dealwith() {}  // brightness apply once both FPGAs are up
int fpga_manage::set_fpga_bri_val() {
    return 0;
}  // brightness request; 1 when sent
void fpga_manage::clock_record_init() {}           // operating-time record start
void fpga_manage::clock_record_deal() {}           // operating-time record step
void fpga_manage::SmartMapping_deal() {}           // mailbox task 1
void fpga_manage::rcv_recovery_check_deal(int) {}  // mailbox tasks 2, 5, 6
void fpga_manage::save_para_deal() {}              // mailbox task 3
void fpga_manage::mapping_enable_deal() {}         // mailbox task 4
void fpga_manage::usb_upgrade_manage_deal() {}     // USB upgrade step
