#include "ui/shell/advanced_option.h"

#include <QDebug>

#include "comm/comm_bridge.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_recovery.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/page_store.h"
#include "ui_advanced_option.h"

AdvancedOption* g_advancedoption = nullptr;

namespace {

constexpr int kRefreshPcFileEnd = 103;
constexpr int kRecoveryFolder = 1;  // sig_file_deleted's folder number
const char* const kAccessCode = "9569";
const char* const kRecoveryDir = "/data/rcvrecovery";

// clang-format off
const Texts kTitle = {"高级设置", "Advanced Settings", "Доп.опции", "Cài đặt nâng cao", "高級設置"};
const Texts kLcdShow = {"液晶显示", "LCD display", "ЖК\nдисплей", "Màn hình\nLCD", "液晶顯示"};
const Texts kRecovery = {"接收卡自恢复", "Rcv\nself-recovery", "Самовосста-\nновление", "Thẻ nhận tự\nphục hồi", "接收卡自恢復"};
const Texts kOther = {"其他设置", "Others", "Другие\nнастройки", "Cài đặt\nkhác", "其他設置"};
const Texts kFactory = {"工厂设置", "Factory", "Системные\nнастройки", "Cài đặt\nnhà máy", "工廠設置"};
const Texts kAge = {"工厂老化", "Aging", "Тест\nстарения", "Lão hóa\nnhà máy", "工廠老化"};
const Texts kCodeTitle = {"key", "key", "Пароль", "key", "key"};
// clang-format on

}  // namespace

AdvancedOption::AdvancedOption(QWidget* parent)
    : PanelPage(kPageAdvancedOption, parent), ui(new Ui::AdvancedOption) {
    ui->setupUi(this);
    setPicture(ui->label_note_OK, pictureOf(pic::kOkEnter));
    setPicture(ui->label_note_back, pictureOf(pic::kBackReturn));
    language_changed();
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this,
                &AdvancedOption::confirmString);
    // The PC deletes recovery files from a link thread.
    connect(
        comm_bridge::pInstance(), &comm_bridge::sig_file_deleted, this,
        [this](int folder) {
            if (folder == kRecoveryFolder && g_page_focus == kPageAdvancedOption)
                language_changed();
        },
        Qt::QueuedConnection);
}

AdvancedOption::~AdvancedOption() {
    delete ui;
}

void AdvancedOption::countRecoveryFiles() {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m || !m->rcv_recovery) return;
    // A missing folder keeps the last count.
    if (m->rcv_recovery->get_dir_file(kRecoveryDir) == 0)
        recovery_files = !m->rcv_recovery->files(true).isEmpty();
}

void AdvancedOption::restyle() {
    const int at = focus.ui_select;
    using panel_style::kMenuWords;
    focus.setItems({{ui->Button_LCDshow, kMenuWords},
                    {ui->Button_other, kMenuWords},
                    {ui->Button_rcv_recovery, kMenuWords, !recovery_files},
                    {ui->Button_factory, kMenuWords},
                    {ui->Button_age, kMenuWords}},
                   at);
}

void AdvancedOption::language_changed() {
    countRecoveryFiles();
    ui->label_title->setText(text(kTitle));
    ui->Button_LCDshow->setText(text(kLcdShow));
    ui->Button_other->setText(text(kOther));
    ui->Button_rcv_recovery->setText(text(kRecovery));
    ui->Button_factory->setText(text(kFactory));
    ui->Button_age->setText(text(kAge));
    restyle();
}

void AdvancedOption::syncUpdate(int id) {
    if (id == kRefreshPcFileEnd) language_changed();
}

void AdvancedOption::openChild(int id) {
    if (panel::registered(id))
        panel::openRegistered(id);
    else
        qDebug() << "AdvancedOption:" << page_table::className(id) << "is not built yet";
}

void AdvancedOption::on_Button_LCDshow_clicked() {
    openChild(kPageLcdShow);
}

void AdvancedOption::on_Button_other_clicked() {
    openChild(kPageOtherSetup);
}

void AdvancedOption::on_Button_rcv_recovery_clicked() {
    if (recovery_files) openChild(kPageRcvRecovery);
}

void AdvancedOption::on_Button_factory_clicked() {
    openChild(kPageFactory);
}

// Every visit asks for the code. The aging page opens once the keypad's loop has returned,
// and only while this page is still open (Mode in the keypad's loop may have closed it).
void AdvancedOption::on_Button_age_clicked() {
    if (!g_numberkeyboard) return;
    code_accepted = 0;
    if (!staysOpen(
            [this] { g_numberkeyboard->open_for(this, nullptr, kCodeTitle, "**********"); }) ||
        !code_accepted)
        return;
    code_accepted = 0;
    openChild(kPageFactoryAge);
}

void AdvancedOption::confirmString(QString typed) {
    if (g_numberkeyboard && g_numberkeyboard->opened_by(this) && typed == kAccessCode)
        code_accepted = 1;
}

void AdvancedOption::slot_Button_back_clicked() {
    panel::back(this);
}
