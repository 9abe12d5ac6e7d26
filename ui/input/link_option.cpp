#include "ui/input/link_option.h"

#include <QDebug>
#include <QLabel>

#include "ui/shell/page_store.h"
#include "ui/system/firmware_usbgrade.h"
#include "ui/system/linkcom.h"
#include "ui/system/linkwlan.h"
#include "ui_link_option.h"

LinkOption* g_linkoption = nullptr;

namespace {
// clang-format off
const Texts kTitle = {"通讯设置", "Communication", "Подключение", "Cài đặt giao tiếp", "通訊設置"};
const Texts kCom = {"串口连接", "Serial port", "COM-порт", "Cài đặt cổng\n nối tiếp", "串口連接"};
const Texts kWlan = {"网口设置", "Net connect", "Сетевое под-\nключение", "Cài đặt\ncổng mạng", "網口設置"};
const Texts kUsb = {"USB升级", "USB UPDATE", "Обновление\nчерез USB", "Sử dụng ổ USB\nđể cập nhật", "USB升級"};
// clang-format on
}  // namespace

LinkOption::LinkOption(QWidget* parent)
    : PanelPage(kPageLinkOption, parent), ui(new Ui::LinkOption) {
    ui->setupUi(this);
    menu.setup(
        focus,
        {{ui->Button_com, &kCom, [] { g_linkoption->on_Button_linkcom_clicked(); }},
         {ui->Button_wlan, &kWlan, [] { g_linkoption->on_Button_linkwlan_clicked(); }},
         {ui->Button_usb, &kUsb, [] { g_linkoption->on_Button_firmware_usbgrade_clicked(); }}});
    language_changed();
}

LinkOption::~LinkOption() {
    delete ui;
    if (g_linkoption == this) g_linkoption = nullptr;
}

void LinkOption::language_changed() {
    menu.retext(ui->label_title, kTitle);
}

void LinkOption::on_Button_linkcom_clicked() {
    panel::open(g_linkcom, kPageLinkCom);
}

void LinkOption::on_Button_linkwlan_clicked() {
    panel::open(g_linkwlan, kPageLinkWlan);
}

void LinkOption::on_Button_firmware_usbgrade_clicked() {
    panel::open(g_firmware_usbgrade, kPageFirmwareUsbGrade);
}
