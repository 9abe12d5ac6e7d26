// Smart mapping, screen 0: the cabinet's width and height.
#include "ui/led/smart_mapping.h"
#include "ui/led/smart_mapping_parts.h"
#include "ui_smart_mapping.h"

using namespace smart_mapping;

void SmartMapping::on_Button_next_clicked() {
    lighting.cabinet_width = uint16_t(fieldValue(ui->lineEdit_X));
    lighting.cabinet_height = uint16_t(fieldValue(ui->lineEdit_Y));
    enterScreen(kPort);
}

void SmartMapping::ringCabinet() {
    shortcut_step = 0;
    focus.setItems({{ui->lineEdit_X, kField}, {ui->lineEdit_Y, kField}, {ui->Button_next, kField}});
}
