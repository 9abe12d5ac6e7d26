#include "ui/led/lcdshow.h"

#include "core/globals.h"
#include "ui/led/no_touch.h"
#include "ui/shell/page_store.h"
#include "ui_lcdshow.h"

lcdshow* g_lcdshow = nullptr;

namespace {

// The ticks of each row's entries; "never" is 20 minutes.
const uint32_t kTicks[lcdshow::kRows][lcdshow::kEntries] = {{3000, 6000, 120000},
                                                            {30000, 60000, 120000}};

// clang-format off
const Texts kTitle = {"液晶显示", "LCD display", "ЖК дисплей", "Màn hình LCD", "液晶顯示"};
const Texts kBackLabel = {"返回主界面时长", "To main interface", "Возврат к главному", "Quay lại màn hình chính", "返回主界面時長"};
const Texts kLockLabel = {"自动锁屏", "Auto-screen lock", "Автоблокировка", "Tự động khoá màn hình", "自動鎖屏"};
const Texts kNever = {"从不", "Never", "Отключить", "Không bao giờ", "從不"};
const Texts k30 = {"30", "30", "30", "30", "30"};
const Texts k60 = {"60", "60", "60", "60", "60"};
const Texts k5min = {"5分钟", "5min", "5 мин", "5 phút", "5分鐘"};
const Texts k10min = {"10分钟", "10min", "10 мин", "10 phút", "10分鐘"};
// clang-format on
const Texts* const kEntryTexts[lcdshow::kRows][lcdshow::kEntries] = {{&k30, &k60, &kNever},
                                                                     {&k5min, &k10min, &kNever}};

uint32_t& rowTime(int row) {
    return row == 0 ? g_back_to_mainwindow_time : g_auto_lock_time;
}

// The entry of the row's time; 0 for a value no entry has.
int entryOf(int row) {
    for (int e = 0; e < lcdshow::kEntries; ++e)
        if (kTicks[row][e] == rowTime(row)) return e;
    return 0;
}

void storeEntry(int row, int entry) {
    if (entry >= 0 && entry < lcdshow::kEntries) rowTime(row) = kTicks[row][entry];
}

}  // namespace

lcdshow::lcdshow(QWidget* parent) : PanelPage(kPageLcdShow, parent), ui(new Ui::lcdshow) {
    ui->setupUi(this);
    // A touched combo would show an entry that is not in force: touch does nothing here.
    for (int row = 0; row < kRows; ++row) ignoreTouch(combo(row));
    para_init();
    menulist_init();
    language_changed();
}

lcdshow::~lcdshow() {
    delete ui;
}

QComboBox* lcdshow::combo(int row) const {
    return row == 0 ? ui->comboBox_back : ui->comboBox_lock;
}

void lcdshow::para_init() {
    for (int row = 0; row < kRows; ++row) {
        QComboBox* c = combo(row);
        c->clear();
        for (int e = 0; e < kEntries; ++e) c->addItem(text(*kEntryTexts[row][e]));
        c->setCurrentIndex(entryOf(row));
    }
}

void lcdshow::menulist_init() {
    focus.setItems(
        {{ui->comboBox_back, panel_style::kCombo}, {ui->comboBox_lock, panel_style::kCombo}}, 0);
    edit_flag = 0;
    selection = uint8_t(entryOf(0));
}

void lcdshow::language_changed() {
    ui->label_LCDshow->setText(text(kTitle));
    ui->label_backmainwindow->setText(text(kBackLabel));
    ui->label_autolock->setText(text(kLockLabel));
}

void lcdshow::languageRefresh() {
    language_changed();
    para_init();
    if (edit_flag) endEditing();
}

void lcdshow::endEditing() {
    edit_flag = 0;
    focus.select(focus.ui_select);
}

void lcdshow::keyLeft() {
    if (!edit_flag) return focus.move(-1);
    selection = uint8_t((selection + kEntries - 1) % kEntries);
    combo(focus.ui_select)->setCurrentIndex(selection);
}

void lcdshow::keyRight() {
    if (!edit_flag) return focus.move(+1);
    selection = uint8_t((selection + 1) % kEntries);
    combo(focus.ui_select)->setCurrentIndex(selection);
}

void lcdshow::keyOk() {
    if (!edit_flag) {
        // Editing starts from the row's own time, not from the other row's last choice.
        selection = uint8_t(entryOf(focus.ui_select));
        combo(focus.ui_select)->setCurrentIndex(selection);
        edit_flag = 1;
        panel_style::apply(combo(focus.ui_select), panel_style::kCombo, panel_style::kEdit);
        return;
    }
    endEditing();
    if (focus.ui_select == 0)
        on_button_backtolock_clicked();
    else
        on_button_autolock_clicked();
}

void lcdshow::on_button_backtolock_clicked() {
    storeEntry(0, selection);
}

void lcdshow::on_button_autolock_clicked() {
    storeEntry(1, selection);
}

void lcdshow::slot_Button_back_clicked() {
    panel::back(this);
}
