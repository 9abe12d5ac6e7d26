#include "ui/led/ledset.h"

#include <QComboBox>
#include <mutex>

#include "c331/c331_manage.h"
#include "comm/message_deal.h"
#include "core/led_size.h"
#include "ui/led/no_touch.h"
#include "ui/shell/keypad_number.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/page_store.h"
#include "ui/shell/panel_texts.h"
#include "ui/shell/tip.h"
#include "ui_ledset.h"

ledset* g_ledset = nullptr;

namespace {

constexpr int kRamSplice = 1376, kRamLedW = 1378, kRamLedH = 1380;
constexpr int kRamOut1W = 1412, kRamOut1H = 1414;
constexpr int kRamOut2X = 1416, kRamOut2Y = 1418, kRamOut2W = 1420, kRamOut2H = 1422;
constexpr int kWinX = 10, kWinY = 12, kWinW = 14, kWinH = 16;

// clang-format off
const Texts kTitle = {"LED设置", "LED Setting", "Настройка LED", "Cài đặt LED", "LED設置"};
const Texts kStep1 = {"1.设置LED屏宽高", "1.Set LED W&H", "1.Разрешение LED", "1.Cài đặt thông số led", "1.設置LED屏寬高"};
const Texts kWidth = {"宽", "W", "Ширина", "Rộng", "寬"};
const Texts kHeight = {"高", "H", "Высота", "Cao", "高"};
const Texts kStep2 = {"2.选择拼接方式", "2.Splice", "2.Сплайсер", "2.Ghép nối", "2.選擇拼接方式"};
const Texts kMaxNote = {"可设LED屏最大点数:%d(宽),%d(高)", "LED max:%d(w),%d(h)", "Макс.: %d(ш), %d(в)", "Điểm ảnh lớn nhất:%d(ngang),%d(dọc)", "可設LED屏最大點數:%d(寬),%d(高)"};
const Texts kSplice[3] = {
    {"水平拼接", "horizontal", "Горизонтально", "Chiều ngang", "水平拼接"},
    {"垂直拼接", "VerticalS", "Вертикально", "Chiều cao", "垂直拼接"},
    {"复制模式", "copy", "Дублирование", "Sao chép", "複製模式"},
};
const Texts kApplyText = {"应用", "Apply", "OK", "Đồng ý", "應用"};
// clang-format on

// A field's number as the page reads it (0 when it holds none).
int value(const QLineEdit* field) {
    return field->text().toShort();
}

void showNumber(QLineEdit* field, int v) {
    field->setText(QString::number(v));
}

// A typed width or height: past either end of the range (a digit string too long to hold
// included) it takes that end; nothing or no number takes the least.
int typedSize(const QString& text) {
    int v = ledset::kMinSize;
    const int rc = readKeypadNumber(text, ledset::kMinSize, ledset::kMaxSize, &v);
    if (rc == kNumberAbove) return ledset::kMaxSize;
    return rc == kNumberOk ? v : ledset::kMinSize;
}

bool areaTooLarge(int w, int h) {
    return int64_t(w) * h > ledset::kMaxArea;
}

}  // namespace

ledset::ledset(QWidget* parent) : PanelPage(kPageLedSet, parent), ui(new Ui::ledset) {
    ui->setupUi(this);
    setPicture(ui->label_warning, pictureOf(pic::kWarning));
    // The OUT2 fields only show values: drawn as the others, never focused.
    panel_style::apply(ui->lineEdit_out2_width, panel_style::kField, panel_style::kNormal);
    panel_style::apply(ui->lineEdit_out2_height, panel_style::kField, panel_style::kNormal);
    // A touched combo would show a splice that Apply does not write: touch does nothing here.
    ignoreTouch(ui->comboBox);
    for (My_lineEdit* field :
         {ui->lineEdit_ledw, ui->lineEdit_ledh, ui->lineEdit_out1_width, ui->lineEdit_out1_height})
        connect(field, &My_lineEdit::send_show, this, &ledset::show_numberkeyboard_ui);
    connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this,
            &ledset::confirmString);
    para_init();
    menulist_init();
    language_changed();
}

ledset::~ledset() {
    delete ui;
}

void ledset::menulist_init() {
    focus.setItems({{ui->lineEdit_ledw, panel_style::kField},
                    {ui->lineEdit_ledh, panel_style::kField},
                    {ui->comboBox, panel_style::kCombo},
                    {ui->lineEdit_out1_width, panel_style::kField},
                    {ui->lineEdit_out1_height, panel_style::kField},
                    {ui->Button_apply, panel_style::kField},
                    {ui->Button_cancle, panel_style::kField}},
                   kLedW);
}

// ---- Texts ----

void ledset::language_changed() {
    ui->label_ledset->setText(text(kTitle));
    ui->label_note_led_w->setText(text(kStep1));
    for (QLabel* l : {ui->label_ledw, ui->label_out1_width, ui->label_out2_width})
        l->setText(text(kWidth));
    for (QLabel* l : {ui->label_ledh, ui->label_out1_height, ui->label_out2_height})
        l->setText(text(kHeight));
    ui->label_s2->setText(text(kStep2));
    showMaxNote();
    ui->Button_apply->setText(text(kApplyText));
    ui->Button_cancle->setText(text(words::kCancel));
    combox_language_change();
}

void ledset::combox_language_change() {
    const int entry = ui->comboBox->currentIndex();
    ui->comboBox->clear();
    for (const Texts& t : kSplice) ui->comboBox->addItem(text(t));
    ui->comboBox->setCurrentIndex(entry);
}

int ledset::maxWidth() const {
    return splice_mode == kModeCopy ? kCopyMaxWidth : kMaxSize;
}

void ledset::showMaxNote() {
    ui->label_tip->setText(
        QString::asprintf(text(kMaxNote).toUtf8().constData(), maxWidth(), kMaxSize));
}

void ledset::out_label_changed() {
    const int entry = ui->comboBox->currentIndex();
    if (entry >= 0 && entry < 3) setPicture(ui->out_label, pictureOf(pic::kSplice[entry]));
}

// ---- Values ----

void ledset::para_init() {
    showNumber(ui->lineEdit_ledw, store().rd16_locked(kRamLedW));
    showNumber(ui->lineEdit_ledh, store().rd16_locked(kRamLedH));
    combox_language_change();
    const uint8_t mode = store().rd8_locked(kRamSplice);
    const int entry = mode == kModeVertical     ? int(kEntryVertical)
                      : mode == kModeHorizontal ? kEntryHorizontal
                                                : kEntryCopy;
    splice_mode = mode == kModeVertical || mode == kModeHorizontal ? mode : uint8_t(kModeCopy);
    combo_index = uint8_t(entry);
    ui->comboBox->setCurrentIndex(entry);
    out_label_changed();
    showMaxNote();
    // The outputs in force, as Apply would write them again.
    showNumber(ui->lineEdit_out1_width, store().rd16_locked(kRamOut1W));
    showNumber(ui->lineEdit_out1_height, store().rd16_locked(kRamOut1H));
    showOutputs(outputs(value(ui->lineEdit_ledw), value(ui->lineEdit_ledh)));
}

void ledset::syncUpdate() {
    const bool sizeChanged = wordChanged(kRamLedW) || wordChanged(kRamLedH);
    if (sizeChanged) para_init();
}

ledset::Outputs ledset::outputs(int w, int h) const {
    if (splice_mode != kModeHorizontal && splice_mode != kModeVertical) return {w, h, 0, 0, w, h};
    const int w1 = std::max(0, std::min(value(ui->lineEdit_out1_width), w));
    const int h1 = std::max(0, std::min(value(ui->lineEdit_out1_height), h));
    if (splice_mode == kModeHorizontal) return {w1, h1, w1, 0, w - w1, h1};
    return {w1, h1, 0, h1, w1, h - h1};
}

void ledset::showOutputs(const Outputs& o) {
    showNumber(ui->lineEdit_out1_width, o.w1);
    showNumber(ui->lineEdit_out1_height, o.h1);
    showNumber(ui->lineEdit_out2_width, o.w2);
    showNumber(ui->lineEdit_out2_height, o.h2);
}

void ledset::on_comboBox_currentIndexChanged(int index) {
    int w = value(ui->lineEdit_ledw);
    const int h = value(ui->lineEdit_ledh);
    if (index == kEntryHorizontal) {
        splice_mode = kModeHorizontal;
        const int half = w / 2 + 2 * (w & 1);
        showNumber(ui->lineEdit_out1_width, int16_t((half + 7) & ~7));
        showNumber(ui->lineEdit_out1_height, h);
    } else if (index == kEntryVertical) {
        splice_mode = kModeVertical;
        showNumber(ui->lineEdit_out1_width, w);
        showNumber(ui->lineEdit_out1_height, h % 2 == 0 ? h / 2 + 2 : h / 2);
    } else if (index == kEntryCopy) {
        splice_mode = kModeCopy;
        if (w > kCopyMaxWidth) {
            w = kCopyMaxWidth;
            showNumber(ui->lineEdit_ledw, w);
        }
    } else {
        return;
    }
    showOutputs(outputs(w, h));
    out_label_changed();
    showMaxNote();
}

// ---- Keypad ----

void ledset::show_numberkeyboard_ui(QString) {
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field || !g_numberkeyboard) return;
    edited_field = field->objectName();
    const bool width = field == ui->lineEdit_ledw || field == ui->lineEdit_out1_width;
    g_numberkeyboard->open_for(this, field, width ? kWidth : kHeight, field->text());
}

void ledset::confirmString(QString typed) {
    if (!g_numberkeyboard || !g_numberkeyboard->opened_by(this) || !g_lineedit) return;
    if (edited_field == "lineEdit_ledw")
        confirmSize(ui->lineEdit_ledw, ui->lineEdit_ledh, std::min(typedSize(typed), maxWidth()));
    else if (edited_field == "lineEdit_ledh")
        confirmSize(ui->lineEdit_ledh, ui->lineEdit_ledw, typedSize(typed));
    else if (edited_field == "lineEdit_out1_width")
        confirmOut1(ui->lineEdit_out1_width, typed, value(ui->lineEdit_ledw));
    else if (edited_field == "lineEdit_out1_height")
        confirmOut1(ui->lineEdit_out1_height, typed, value(ui->lineEdit_ledh));
}

// A new width or height: the other side gives way when the area would pass the limit, and the
// outputs follow the new size.
void ledset::confirmSize(QLineEdit* field, QLineEdit* other, int v) {
    showNumber(field, v);
    if (areaTooLarge(v, value(other))) showNumber(other, kMaxArea / v);
    showOutputs(outputs(value(ui->lineEdit_ledw), value(ui->lineEdit_ledh)));
}

void ledset::confirmOut1(QLineEdit* field, const QString& typed, int whole) {
    int v = kMinSize;
    const int rc = readKeypadNumber(typed, kMinSize, whole, &v);
    showNumber(field, rc == kNumberAbove ? whole : rc == kNumberOk ? v : kMinSize);
    showOutputs(outputs(value(ui->lineEdit_ledw), value(ui->lineEdit_ledh)));
}

// ---- Apply ----

void ledset::checkedSize(int* w, int* h) const {
    *w = std::max(kMinSize, std::min(*w, maxWidth()));
    *h = std::max(kMinSize, std::min(*h, kMaxSize));
    if (areaTooLarge(*w, *h)) *h = kMaxArea / *w;
}

void ledset::writeParameters(int w, int h, const Outputs& o) {
    ZemRamPara& s = store();
    s.user_wr16(kRamLedW, uint16_t(w));
    s.user_wr16(kRamLedH, uint16_t(h));
    s.user_wr16(kRamSplice, splice_mode);
    s.user_wr16(kRamOut1W, uint16_t(o.w1));
    s.user_wr16(kRamOut1H, uint16_t(o.h1));
    s.user_wr16(kRamOut2X, uint16_t(o.x2));
    s.user_wr16(kRamOut2Y, uint16_t(o.y2));
    s.user_wr16(kRamOut2W, uint16_t(o.w2));
    s.user_wr16(kRamOut2H, uint16_t(o.h2));
}

// Window 0 covers the new screen; the others go off.
void ledset::writeWindows(int w, int h) {
    ZemRamPara& s = store();
    s.user_wr16(ZemRamPara::windowAddr(0, kWinX), 0);
    s.user_wr16(ZemRamPara::windowAddr(0, kWinY), 0);
    s.user_wr16(ZemRamPara::windowAddr(0, kWinW), uint16_t(w));
    s.user_wr16(ZemRamPara::windowAddr(0, kWinH), uint16_t(h));
    for (int win = 1; win < ZemRamPara::kWindowCount; ++win)
        s.user_wr16(ZemRamPara::windowAddr(win, ZemRamPara::kWinFlags), 0);
}

void ledset::on_Button_apply1_clicked() {
    int w = value(ui->lineEdit_ledw);
    int h = value(ui->lineEdit_ledh);
    checkedSize(&w, &h);
    showNumber(ui->lineEdit_ledw, w);
    showNumber(ui->lineEdit_ledh, h);
    const Outputs o = outputs(w, h);
    showOutputs(o);
    // Asked before the C331 mutex: the FPGA side's locks come after it.
    const bool fpgas_run = led_fpgas_running();
    bool changed = false;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        writeParameters(w, h, o);
        led_size::take_or_refuse(&store(), "LED set-up");
        for (int addr :
             {kRamLedW, kRamLedH, kRamOut1W, kRamOut2W, kRamOut1H, kRamOut2H, kRamSplice})
            changed = changed || wordUnsaved(addr);
        if (changed) {
            writeWindows(w, h);
            // A new splice re-initialises the output panel: the FPGAs are blanked and reset too.
            led_size_handshake_locked(&store(), fpgas_run, true);
        }
        c331_manage::raise_apply(1);
    }
    // The check mark runs its own loop, where a refresh saves under the C331 mutex: shown only
    // once the mutex is free.
    if (changed && g_tip) g_tip->tip_create(1);
}

// ---- Keys ----

void ledset::stepCombo(int step) {
    combo_index = uint8_t((combo_index + step + 3) % 3);
    ui->comboBox->setCurrentIndex(combo_index);
}

void ledset::keyLeft() {
    if (combo_edit)
        stepCombo(-1);
    else
        focus.move(-1);
}

void ledset::keyRight() {
    if (combo_edit)
        stepCombo(+1);
    else
        focus.move(+1);
}

void ledset::openKeypad(QLineEdit* field) {
    emit static_cast<My_lineEdit*>(field)->send_show(field->objectName());
}

void ledset::keyOk() {
    switch (focus.ui_select) {
        case kLedW:
            return openKeypad(ui->lineEdit_ledw);
        case kLedH:
            return openKeypad(ui->lineEdit_ledh);
        case kOut1W:
            return openKeypad(ui->lineEdit_out1_width);
        case kOut1H:
            return openKeypad(ui->lineEdit_out1_height);
        case kCombo:
            if (!combo_edit) {
                combo_edit = 1;
                panel_style::apply(ui->comboBox, panel_style::kCombo, panel_style::kEdit);
            } else {
                on_comboBox_currentIndexChanged(combo_index);
                panel_style::apply(ui->comboBox, panel_style::kCombo, panel_style::kFocus);
                combo_edit = 0;
            }
            return;
        case kApply:
            return on_Button_apply1_clicked();
        case kCancel:
            return slot_Button_back_clicked();
    }
}

void ledset::slot_Button_back_clicked() {
    panel::back(this);
}
