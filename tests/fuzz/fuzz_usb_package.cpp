// An upgrade package on the USB disk, run through the whole job step by step as the FPGA thread
// does: its header and child table checked, and each child accepted written to its flash or file.
#include <cstdint>

#include "common/fuzz_box.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "platform/sim/sim_box.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        fuzz::startFpgas();
        fuzz::startC331AtRest();
        g_usb_grade_path = " ";
        // Only a mounted disk is read: the package goes onto one.
        fuzz::writeFile("/sim/usb-disk/.keep", nullptr, 0);
        fuzz::removeFile("/sim/usb-disk/.keep");
        platform::sim::SimUsbDisk& disk = platform::sim::SimBox::get().usb_disk;
        return disk.plug("/sim/usb-disk") == 0 && disk.mount("/dev/sda1", "/mnt/usb1") == 0;
    }();
    (void)ready;
    fuzz::writeFile("/mnt/usb1/fuzz.ZEM", data, size);
    g_app_reset_flag = 0;
    g_send_para[1] = 0;
    g_usb_grade = 1;
    fpga_manage* mgr = fpga_manage::p_fpga_manage;
    for (int pass = 0; pass < 10 && g_usb_grade; ++pass) mgr->usb_upgrade_manage_deal();
    return 0;
}
