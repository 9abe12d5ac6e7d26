#include "ui/input/output_set.h"

#include <QLabel>

#include "ui/led/ledset.h"
#include "ui/shell/page_store.h"
#include "ui/system/netset.h"
#include "ui_output_set.h"

OutputSet* g_outputset = nullptr;

namespace {

constexpr int kRamLedWidth = 1378, kRamLedHeight = 1380;

// clang-format off
const Texts kTitle = {"输出设置", "Output Setting", "Выход", "Thông số đầu ra", "輸出設置"};
const Texts kLedSet = {"LED设置", "LED Setting", "Настройки\nLED", "Cài đặt\nLED", "LED設置"};
const Texts kLanSet = {"网口输出", "Port output", "Настройка\nLAN", "Cài đặt\ncổng mạng", "網口輸出"};
const Texts kInfo = {"当前设置LED屏宽高为: %1x%2", "Current LED size:%1x%2",
                     "Текущий размер LED (px): %1x%2",
                     "Gợi ý: Kích thước màn hình LED hiện tại:%1x%2", "當前設置LED屏寬高爲: %1x%2"};
// clang-format on

}  // namespace

OutputSet::OutputSet(QWidget* parent) : PanelPage(kPageOutputSet, parent), ui(new Ui::OutputSet) {
    ui->setupUi(this);
    setPicture(ui->label_note_OK, pictureOf(pic::kOkEnter));
    setPicture(ui->label_note_back, pictureOf(pic::kBackReturn));
    menu.setup(focus,
               {{ui->Button_ledset, &kLedSet, [] { g_outputset->on_Button_ledset_clicked(); }},
                {ui->Button_lanset, &kLanSet, [] { g_outputset->on_Button_lanset_clicked(); }}});
    language_changed();
}

OutputSet::~OutputSet() {
    delete ui;
    if (g_outputset == this) g_outputset = nullptr;
}

void OutputSet::language_changed() {
    menu.retext(ui->label_title, kTitle);
    ui->label_info->setText(
        text(kInfo).arg(store().rd16_locked(kRamLedWidth)).arg(store().rd16_locked(kRamLedHeight)));
}

void OutputSet::on_Button_ledset_clicked() {
    panel::open(g_ledset, kPageLedSet);
}

void OutputSet::on_Button_lanset_clicked() {
    panel::open(g_netset, kPageNetSet);
}
