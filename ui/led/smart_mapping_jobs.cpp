// Smart mapping's four jobs through the job gate under the ring, and screens 6 and 7 (curing,
// mapping).
#include "fpga/fpga_manage.h"
#include "ui/led/smart_mapping.h"
#include "ui/led/smart_mapping_parts.h"
#include "ui/shell/job_gate.h"
#include "ui/shell/qround_progress_bar.h"
#include "ui_smart_mapping.h"

using namespace smart_mapping;

bool SmartMapping::startJob(uint8_t task) {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m || !m->job_events || !panel::jobGateOpen()) return false;
    if (task == 4) {
        const bool on = mappingOn();
        for (uint8_t fpga = 0; fpga < 2; ++fpga)
            m->write_to_register(0, kMappingBit, on ? 0 : kMappingBit, fpga);
        setIcon(ui->Button_mapping_state, pictureOf(on ? pic::kButtonOff : pic::kButtonOn), 40, 20);
        set_send_para_u32(kMappingOffset, on ? 0 : kMappingOnValue);
    }
    // The FPGA thread reads these while the task runs: they are handed over only now.
    line_type = lighting;
    g_qzfile_name = chosen_file;
    if (!panel::postJob(task)) return false;
    // The progress comes queued through the page's signal, so the ring made now sees it all.
    QRoundProgressBar::create_qround_bar(this);
    connect(this, &SmartMapping::sig_qround_bar_update, g_qround_bar.data(),
            &QRoundProgressBar::para_sync);
    return true;
}

void SmartMapping::on_Button_send_clicked() {
    if (ringShown()) return;
    lighting.rows = uint8_t(fieldValue(ui->lineEdit_line));
    lighting.columns = uint8_t(fieldValue(ui->lineEdit_column));
    lighting.x_offset = uint16_t(fieldValue(ui->lineEdit_horzion));
    lighting.y_offset = uint16_t(fieldValue(ui->lineEdit_vert));
    startJob(1);
}

void SmartMapping::on_Button_load_clicked() {
    if (chosen_file.isEmpty() || ringShown()) return;
    startJob(2);
}

void SmartMapping::on_Button_confirm_clicked() {
    if (ringShown()) return;
    startJob(3);
}

void SmartMapping::on_Button_mapping_state_clicked() {
    if (ringShown()) return;
    startJob(4);
}

bool SmartMapping::mappingOn() const {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m) return false;
    bool on = true;
    for (uint8_t fpga = 0; fpga < 2; ++fpga) {
        m->read_from_register(0, fpga);
        on = on && (m->mirror(fpga, 0) & kMappingBit);
    }
    return on;
}

void SmartMapping::showMappingState() {
    setIcon(ui->Button_mapping_state, pictureOf(mappingOn() ? pic::kButtonOn : pic::kButtonOff), 40,
            20);
}
