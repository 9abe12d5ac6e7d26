#include "ui/system/linkcom.h"

#include "ui/shell/page_store.h"
#include "ui_linkcom.h"

linkcom* g_linkcom = nullptr;

namespace {
// clang-format off
const Texts kTitle = {"串口连接", "Serial port", "COM-порт", "Cài đặt cổng nối tiếp", "串口連接"};
const Texts kBaud = {"波特率", "Baud rate", "Скорость передачи", "Tốc độ truyền", "波特率"};
const Texts kBits = {"数据位", "Data bits", "Биты данных", "Bit dữ liệu", "數據位"};
const Texts kStop = {"停止位", "Stop bit", "Бит остановки", "Bit dừng", "停止位"};
// clang-format on
}  // namespace

linkcom::linkcom(QWidget* parent) : PanelPage(kPageLinkCom, parent), ui(new Ui::linkcom) {
    ui->setupUi(this);
    language_changed();
}

linkcom::~linkcom() {
    delete ui;
}

void linkcom::language_changed() {
    ui->label_com->setText(text(kTitle));
    ui->label_baud->setText(text(kBaud));
    ui->label_bit->setText(text(kBits));
    ui->label_stop->setText(text(kStop));
}

void linkcom::slot_Button_back_clicked() {
    panel::back(this);
}
