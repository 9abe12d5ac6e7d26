#include "ui/input/edid_set.h"

#include <QLabel>
#include <QPushButton>

#include "ui/input/input_choose.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/page_store.h"
#include "ui/shell/panel_texts.h"
#include "ui_edid_set.h"
#include "video_io/edid.h"
#include "video_io/sourceinfo.h"

EDIDset* g_edidset = nullptr;

namespace {

constexpr int kTabs = 6;
constexpr int kItems = 6;
enum { kWidth = 0, kHeight = 1, kRate = 2, kDelete = 3, kCancel = 4, kSave = 5 };

const char* const kCardText = "background-color:#212435;color:#FFFFFF";

// clang-format off
const Texts kTitle = {"设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID", "設置EDID"};
const Texts kEdidSource = {"EDID信源:", "EDID source:", "Источник EDID:", "Tín hiệu EDID:", "EDID信源:"};
const Texts kFreq = {"刷新率", "Refresh rate", "Частота", "Tần số", "刷新率"};
const Texts kDeleteText = {"删除", "Delete", "Удалить", "Xoá bỏ", "删除"};
const Texts kSaveText = {"保存", "SAVE", "Сохранить", "lưu", "保存"};
const Texts* const kButtonText[3] = {&kDeleteText, &words::kCancel, &kSaveText};
// clang-format on

int requestWord(int source, int k) EXCLUDES(c331_manage::c331_mutex) {
    return store().rd16_locked(ZemRamPara::kRamEdid + 6 * source + 2 * k);
}

// A field's text as a signed 16-bit number; not a number or out of range is 0.
int16_t word16(const QString& text) {
    bool ok = false;
    const int v = text.toInt(&ok);
    return ok && v >= -32768 && v <= 32767 ? int16_t(v) : 0;
}

QLabel* cardLabel(QWidget* parent, const QRect& r) {
    auto* l = new QLabel(parent);
    l->setGeometry(r);
    return l;
}

}  // namespace

EDIDset::EDIDset(QWidget* parent) : PanelPage(kPageEdidSet, parent), ui(new Ui::EDIDset) {
    ui->setupUi(this);
    for (int k = 0; k < kTabs; ++k) {
        const uint8_t id = sourceinfo::get_source_id_by_listseq(uint8_t(k));
        auto* name = findChild<QLabel*>(QString("sourcelistseq%1name").arg(k));
        name->setText(sourceinfo::get_source_specialstyle0_by_sourceid(id).arg(
            sourceinfo::get_source_name_by_listseq(uint8_t(k))));
        auto* icon = findChild<QLabel*>(QString("sourcelistseq%1pixmap").arg(k));
        sourceinfo::set_source_pixmap(icon, id);
        icon->setScaledContents(true);
    }
    tab_frame = new QFrame(this);
    tab_frame->lower();
    QFont small;
    small.setPixelSize(9);
    for (int b = 0; b < 3; ++b) {
        buttons[b] = new QPushButton(this);
        buttons[b]->setFont(small);
        buttons[b]->setFocusPolicy(Qt::NoFocus);
        buttons[b]->setGeometry(65 + 70 * b, 214, 50, 20);
        buttons[b]->hide();
    }
    connect(ui->lineEdit_W, &My_lineEdit::send_show, this, &EDIDset::show_numberkeyboard_ui);
    connect(ui->lineEdit_H, &My_lineEdit::send_show, this, &EDIDset::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this,
                &EDIDset::confirmString);
    menulist_init();
    zem_button_input_clicked();
    language_changed();
}

EDIDset::~EDIDset() {
    delete ui;
}

void EDIDset::menulist_init() {
    level = list_position = item = refresh_choice = 0;
    for (int i = 0; i < kItems; ++i) styleItem(i, false);
    ui->frame_add->hide();
}

void EDIDset::language_changed() {
    ui->label_title->setText(text(kTitle));
    ui->label_edid_source->setText(text(kEdidSource) + source_name);
    ui->label_W->setText(text(words::kWidth));
    ui->label_H->setText(text(words::kHeight));
    ui->label_freq->setText(text(kFreq));
    for (int b = 0; b < 3; ++b) buttons[b]->setText(text(*kButtonText[b]));
}

void EDIDset::syncUpdate() {
    if (level != 0) return;  // an edit in progress stays on screen
    const int base = ZemRamPara::kRamEdid + 6 * source_id;
    if (bytesChanged(base, base + 6)) source_init();
}

// ---- Level 0: the input tabs ----

void EDIDset::zem_button_input_clicked() {
    tab_frame->setGeometry(4 + 52 * list_position, 38, 50, 43);
    source_id = sourceinfo::get_source_id_by_listseq(list_position);
    source_name = sourceinfo::get_source_name_by_listseq(list_position);
    source_init();
    levelStyles(false);
}

void EDIDset::source_init() {
    delete source_card;
    source_card = new QFrame(this);
    source_card->setObjectName("frame_source");
    source_card->setGeometry(4, 80, 310, 120);
    panel_style::apply(source_card, panel_style::kLayoutFrame,
                       level ? panel_style::kChosen : panel_style::kFocus);
    auto* box = new QFrame(source_card);
    box->setGeometry(10, 10, 120, 50);
    box->setStyleSheet("background-color: #212435;border:1px solid #CCCCCC;");
    setPicture(cardLabel(source_card, QRect(15, 13, 7, 7)), pictureOf(pic::kStateOn));
    QLabel* connector = cardLabel(source_card, QRect(25, 13, 25, 8));
    sourceinfo::set_source_pixmap(connector, source_id == 1 ? 1 : 0);
    connector->setScaledContents(true);
    connector->setStyleSheet("background-color: #212435;");
    QFont font;
    font.setPixelSize(10);
    QLabel* name = cardLabel(source_card, QRect(15, 24, 60, 12));
    name->setObjectName("card_name");
    QLabel* timing = cardLabel(source_card, QRect(15, 39, 88, 12));
    timing->setObjectName("card_timing");
    for (QLabel* l : {name, timing}) {
        l->setFont(font);
        l->setStyleSheet(kCardText);
    }
    name->setText(source_name);
    timing->setText(QString("%1x%2@%3Hz")
                        .arg(int16_t(requestWord(source_id, 0)))
                        .arg(int16_t(requestWord(source_id, 1)))
                        .arg(int16_t(requestWord(source_id, 2))));
    source_card->lower();
    source_card->show();
}

void EDIDset::levelStyles(bool editing) {
    // While the edit row has the keys, the tab and its card hold the source chosen.
    const panel_style::State state = editing ? panel_style::kChosen : panel_style::kFocus;
    panel_style::apply(tab_frame, panel_style::kEdidTab, state);
    if (source_card) panel_style::apply(source_card, panel_style::kLayoutFrame, state);
}

// ---- Level 1: the edit row ----

void EDIDset::zem_button_source_clicked() {
    levelStyles(true);
    ui->label_edid_source->setText(text(kEdidSource) + source_name);
    ui->lineEdit_W->setText(QString::number(requestWord(source_id, 0)));
    ui->lineEdit_H->setText(QString::number(requestWord(source_id, 1)));
    const int rate = requestWord(source_id, 2);
    ui->label_rate->setText(QString::number(rate));
    refresh_choice = rate == 60 ? 1 : 0;
    ui->frame_add->show();
    for (QPushButton* b : buttons) b->show();
}

void EDIDset::styleItem(int index, bool focused) {
    QWidget* const widgets[kItems] = {ui->lineEdit_W, ui->lineEdit_H, ui->label_rate,
                                      buttons[0],     buttons[1],     buttons[2]};
    panel_style::apply(widgets[index], panel_style::kField,
                       focused ? panel_style::kFocus : panel_style::kNormal);
}

void EDIDset::closeEditRow() {
    levelStyles(false);
    for (int i = 0; i < kItems; ++i) styleItem(i, false);
    ui->frame_add->hide();
    for (QPushButton* b : buttons) b->hide();
    level = 0;
    item = 0;
}

void EDIDset::zem_button_cancel_clicked() {
    closeEditRow();
}

// A request no EDID can describe is refused here: written, it would leave the input with its
// old EDID while the parameter RAM and the card showed the new one.
void EDIDset::zem_button_ok_clicked() {
    const int16_t w = word16(ui->lineEdit_W->text());
    const int16_t h = word16(ui->lineEdit_H->text());
    const int16_t hz = word16(ui->label_rate->text());
    VideoMode mode;
    if (!edid::modeForRequest(w, h, hz, mode)) {
        panel_style::apply(ui->lineEdit_W, panel_style::kField, panel_style::kEdit);
        panel_style::apply(ui->lineEdit_H, panel_style::kField, panel_style::kEdit);
        return;
    }
    store().ZemSetEDIDPara(source_id, w, h, hz);
    refresh_choice = hz == 60 ? 1 : 0;
    closeEditRow();
    source_init();
}

void EDIDset::on_Button_freq_clicked() {
    ui->label_rate->setText(refresh_choice ? "60" : "30");
}

void EDIDset::show_numberkeyboard_ui(QString) {
    if (auto* field = qobject_cast<QLineEdit*>(sender())) openKeypad(field);
}

void EDIDset::openKeypad(QLineEdit* field) {
    if (!g_numberkeyboard) return;
    g_numberkeyboard->open_for(
        this, field, field == ui->lineEdit_W ? words::kWidth : words::kHeight, field->text());
}

void EDIDset::confirmString(QString typed) {
    if (g_numberkeyboard && g_numberkeyboard->opened_by(this) && g_lineedit)
        g_lineedit->setText(typed);
}

// ---- Keys ----

void EDIDset::keyStep(int step) {
    switch (level) {
        case 0:
            list_position = uint8_t((list_position + step + kTabs) % kTabs);
            zem_button_input_clicked();
            break;
        case 1:
            styleItem(item, false);
            item = uint8_t((item + step + kItems) % kItems);
            styleItem(item, true);
            break;
        default:
            refresh_choice = refresh_choice ? 0 : 1;
            on_Button_freq_clicked();
            break;
    }
}

void EDIDset::keyOk() {
    if (level == 0) {
        zem_button_source_clicked();
        level = 1;
        item = kWidth;
        styleItem(item, true);
    } else if (level == 2) {
        styleItem(kRate, true);  // the rate shown stays, 50 too
        level = 1;
    } else if (item == kWidth || item == kHeight) {
        openKeypad(item == kWidth ? ui->lineEdit_W : ui->lineEdit_H);
    } else if (item == kRate) {
        level = 2;
        panel_style::apply(ui->label_rate, panel_style::kField, panel_style::kEdit);
        saved_refresh_choice = refresh_choice;
        saved_rate = ui->label_rate->text();
    } else if (item == kSave) {
        zem_button_ok_clicked();
    } else {
        zem_button_cancel_clicked();
    }
}

void EDIDset::keyBack() {
    if (level == 0) {
        slot_Button_back_clicked();
    } else if (level == 2) {
        refresh_choice = saved_refresh_choice;
        ui->label_rate->setText(saved_rate);
        styleItem(kRate, true);
        level = 1;
    } else {
        zem_button_cancel_clicked();
    }
}

void EDIDset::slot_Button_back_clicked() {
    panel::back(this);  // the source page's language_changed rebuilds its sources
}
