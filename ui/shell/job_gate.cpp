#include "ui/shell/job_gate.h"

#include "core/globals.h"
#include "fpga/fpga_globals.h"
#include "ui/shell/qround_progress_bar.h"

namespace panel {

bool jobGateOpen() {
    return g_send_para[send_para::kTask] == 0 && g_qround_bar.isNull() && g_usb_grade == 0 &&
           g_update_flag == 0;
}

bool postJob(uint8_t task) {
    if (!jobGateOpen()) return false;
    post_send_para_task(task);
    return true;
}

}  // namespace panel
