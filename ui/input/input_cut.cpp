#include "ui/input/input_cut.h"

#include <QDebug>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include "core/globals.h"
#include "ui/input/input_choose.h"
#include "ui/input/source_row.h"
#include "ui/shell/keypad_number.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_store.h"
#include "ui/shell/panel_texts.h"
#include "ui_input_cut.h"
#include "video_io/sourceinfo.h"

InputCut* g_inputcut = nullptr;

namespace {

constexpr int kPerPage = 6;
constexpr int kCropTableEnd = ZemRamPara::kRamCropTable + 10 * ZemRamPara::kCropCount;
constexpr int kMaxValue = 32767;

const char* const kCell = "background-color: #212435;border:1px solid #CCCCCC;";
const char* const kCellFocus = "background-color: #212435;border:1px solid #FFA854;";
const char* const kCellIcon = "background-color: #212435;";
const char* const kCellText = "background-color:#212435;color:#FFFFFF";

// clang-format off
const Texts kTitle = {"输入截取", "Input intercept", "Обрезка", "Cắt", "輸入截取"};
const Texts kCrop = {"截取:", "Crop:", "Обр.:", "Cắt:", "截取:"};
const Texts kW = {"宽", "W", "Шир.", "Rộng", "寬"};
const Texts kH = {"高", "H", "Высота", "Cao", "高"};
const Texts kDelete = {"删除", "Delete", "Удалить", "Xoá bỏ", "删除"};
const Texts kPrefix = {"名称:", "Name:", "Название:", "Tên:", "名稱:"};
const Texts kKeypadW = {"宽", "W", "W", "W", "寬"};
const Texts kKeypadH = {"高", "H", "H", "H", "高"};
const Texts kTableFull = {"截取已满(40)", "Crop table full (40)", "Таблица полна (40)", "Bảng cắt đã đầy (40)", "截取已滿(40)"};
const Texts kBadValue = {"数值: 0-32767, 宽高>0", "Values: 0-32767, W,H>0", "Значения: 0-32767, Ш,В>0", "Giá trị: 0-32767, R,C>0", "數值: 0-32767, 寬高>0"};
// clang-format on

QLabel* cellLabel(QWidget* parent, const QRect& r, const char* style) {
    auto* l = new QLabel(parent);
    l->setGeometry(r);
    l->setStyleSheet(style);
    return l;
}

}  // namespace

InputCut::InputCut(QWidget* parent) : PanelPage(kPageInputCut, parent), ui(new Ui::InputCut) {
    ui->setupUi(this);
    QLabel* const names[6] = {ui->sourcelistseq0name, ui->sourcelistseq1name,
                              ui->sourcelistseq2name, ui->sourcelistseq3name,
                              ui->sourcelistseq4name, ui->sourcelistseq5name};
    QLabel* const icons[6] = {ui->sourcelistseq0pixmap, ui->sourcelistseq1pixmap,
                              ui->sourcelistseq2pixmap, ui->sourcelistseq3pixmap,
                              ui->sourcelistseq4pixmap, ui->sourcelistseq5pixmap};
    for (int p = 0; p < sourceinfo::kSources; ++p) {
        const uint8_t id = sourceinfo::get_source_id_by_listseq(uint8_t(p));
        names[p]->setText(sourceinfo::get_source_specialstyle0_by_sourceid(id).arg(
            sourceinfo::get_source_name_by_listseq(uint8_t(p))));
        sourceinfo::set_source_pixmap(icons[p], id);
    }
    tab_frame = new QFrame(this);
    tab_frame->setGeometry(1, 40, 53, 41);
    panel_style::apply(tab_frame, panel_style::kCropTab, panel_style::kFocus);
    // The bitmap may be stale: a recall, a CALL or a PC change saved elsewhere.
    store().ZemCropSourceInit();
    crop_source_num_update();
    tab_frame->lower();
    menulist_init();
    source_init();
    ui->frame_add->hide();
    auto button = [this](const Texts& words) {
        auto* b = new QPushButton(text(words), this);
        b->setFocusPolicy(Qt::NoFocus);
        panel_style::apply(b, panel_style::kCropField, panel_style::kNormal);
        b->hide();
        return b;
    };
    cancel_button = button(words::kCancel);
    ok_button = button(words::kOk);
    delete_button = button(kDelete);
    for (QLineEdit* f : {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H}) {
        panel_style::apply(f, panel_style::kCropField, panel_style::kNormal);
        connect(static_cast<My_lineEdit*>(f), &My_lineEdit::send_show, this,
                &InputCut::show_numberkeyboard_ui);
    }
    connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this,
            &InputCut::confirmString);
    language_changed();
}

InputCut::~InputCut() {
    delete ui;
    if (g_inputcut == this) g_inputcut = nullptr;
}

void InputCut::language_changed() {
    ui->label_title->setText(text(kTitle));
    ui->label_crop->setText(text(kCrop));
    ui->label_W->setText(text(kW));
    ui->label_H->setText(text(kH));
    cancel_button->setText(text(words::kCancel));
    ok_button->setText(text(words::kOk));
    delete_button->setText(text(kDelete));
}

QString InputCut::namePrefix() const {
    return text(kPrefix);
}

void InputCut::menulist_init() {
    level = kTabs;
    ui_select = 0;
}

// ---- Source row and list ----

void InputCut::crop_source_num_update() {
    for (int s = 0; s < sourceinfo::kSources; ++s)
        entry_counts[s] = uint8_t(store().ZemGetCropCount(s) + 1);
    QLabel* const names[6] = {ui->sourcelistseq0name, ui->sourcelistseq1name,
                              ui->sourcelistseq2name, ui->sourcelistseq3name,
                              ui->sourcelistseq4name, ui->sourcelistseq5name};
    sourceRowNames(names, entry_counts);
}

int InputCut::source_current_check() {
    max_source_info = store().ZemGetCropCount(current_source) + 1;
    last_page = uint8_t(max_source_info / kPerPage - (max_source_info % kPerPage == 0 ? 1 : 0));
    return max_source_info;
}

bool InputCut::tableFull() const {
    for (int k = 0; k < ZemRamPara::kCropCount; ++k)
        if (!(store().rd16_locked(ZemRamPara::kRamCropTable + 10 * k) & 0x8000)) return false;
    return true;
}

// The entry of the list position (-1: the Add button).
int InputCut::entryAt() const {
    if (current_pag == 0) return ui_select - 1;
    return kPerPage * current_pag + ui_select;
}

void InputCut::selectEntry(int entry) {
    current_pag = uint8_t(entry / kPerPage);
    ui_select = uint8_t(current_pag == 0 ? entry + 1 : entry % kPerPage);
}

void InputCut::source_init() {
    source_current_check();
    // A list that became shorter (a delete, here or by the PC) keeps the selection on its end.
    if (level == kList && entryAt() >= max_source_info) selectEntry(max_source_info - 1);
    if (current_pag > last_page) current_pag = last_page;
    const int cells = std::min(kPerPage, max_source_info - kPerPage * current_pag);
    delete list_frame;
    list_frame = new QFrame(this);
    list_frame->setObjectName("frame_source");
    list_frame->setGeometry(1, 80, 318, 120);
    panel_style::apply(list_frame, panel_style::kCropList,
                       level == kTabs ? panel_style::kFocus : panel_style::kChosen);
    for (int k = 0; k < cells; ++k) buildCell(k, kPerPage * current_pag + k);
    add_button = new QPushButton(list_frame);
    add_button->setObjectName("add");
    add_button->setGeometry(292, 10, 20, 20);
    setIcon(add_button, pictureOf(pic::kAdd), 20, 20);
    add_button->setFocusPolicy(Qt::NoFocus);
    const bool addFocus = level == kList && ui_select == 0 && current_pag == 0;
    panel_style::apply(add_button, panel_style::kCropAdd,
                       addFocus ? panel_style::kFocus : panel_style::kNormal);
    // No room for another crop: Add is drawn unavailable and opens nothing.
    add_button->setEnabled(!tableFull());
    if (level >= kAddForm) add_button->hide();
    list_frame->lower();
    list_frame->show();
}

void InputCut::buildCell(int k, int entry) {
    const int c = k % 3, r = k / 3;
    auto* cell = new QFrame(list_frame);
    cell->setGeometry(5 + 95 * c, 10 + 55 * r, 92, 45);
    const bool focused =
        level == kList && ((current_pag == 0 && ui_select != 0 && ui_select == k + 1) ||
                           (current_pag != 0 && ui_select == k));
    cell->setStyleSheet(focused ? kCellFocus : kCell);
    auto* state = cellLabel(list_frame, QRect(10 + 95 * c, 12 + 55 * r, 7, 7), kCellIcon);
    setPicture(state, pictureOf(pic::kStateOn));
    auto* input = cellLabel(list_frame, QRect(20 + 95 * c, 12 + 55 * r, 25, 8), kCellIcon);
    sourceinfo::set_source_pixmap(input, current_source == 1 ? 1 : 0);
    input->setScaledContents(true);
    QFont font;
    font.setPixelSize(10);
    auto* name = cellLabel(list_frame, QRect(7 + 95 * c, 23 + 55 * r, 80, 13), kCellText);
    auto* size = cellLabel(list_frame, QRect(7 + 95 * c, 38 + 55 * r, 88, 13), kCellText);
    name->setFont(font);
    size->setFont(font);
    if (entry == 0) {
        name->setText(source_name);
        const QString timing = sourceinfo::timing_text(current_source);
        size->setText(timing.isEmpty() ? text(words::kNoSignal) : timing);
        return;
    }
    CROP_PARA crop{};
    int record = ZemRamPara::kCropCount;
    store().ZemGetCropPara(current_source, entry, &crop, &record);
    if (record >= ZemRamPara::kCropCount) {  // no record behind it: nothing to show of it
        name->setText(source_name);
        return;
    }
    QString alias = aliasName("crop", record, name->font(), 172);
    name->setText(alias.isEmpty()
                      ? source_name + QString("_crop%1").arg(((crop.para[0] >> 8) & 0x7F) + 1)
                      : alias);
    size->setText(QString("%1x%2").arg(crop.para[3]).arg(crop.para[4]));
}

// ---- Tabs ----

void InputCut::zem_button_input_clicked() {
    if (level == kTabs) {
        current_source = sourceinfo::get_source_id_by_listseq(ui_select);
        source_name = sourceinfo::get_source_name_by_listseq(ui_select);
        tab_frame->setGeometry(1 + 53 * ui_select, 40, 53, 41);
        panel_style::apply(tab_frame, panel_style::kCropTab, panel_style::kFocus);
    } else {
        panel_style::apply(tab_frame, panel_style::kCropTab, panel_style::kChosen);
    }
    tab_frame->lower();
    source_init();
}

// ---- Forms ----

void InputCut::openForm(bool edit) {
    form_name = source_name + QString("-Crop-%1").arg(edit ? crop_number : max_source_info);
    ui->label_change_source->setText(namePrefix() + form_name);
    bad_fields = 0;
    add_button->hide();
    std::vector<FocusRing::Item> items;
    for (QLineEdit* f : {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H})
        items.push_back({f, panel_style::kCropField});
    if (edit) items.push_back({delete_button, panel_style::kCropField});
    items.push_back({cancel_button, panel_style::kCropField});
    items.push_back({ok_button, panel_style::kCropField});
    form_focus.setItems(std::move(items), 0);
    if (edit) {
        delete_button->setGeometry(50, 210, 60, 18);
        cancel_button->setGeometry(120, 210, 60, 18);
        ok_button->setGeometry(190, 210, 60, 18);
    } else {
        cancel_button->setGeometry(80, 210, 60, 18);
        ok_button->setGeometry(150, 210, 60, 18);
    }
    delete_button->setVisible(edit);
    ui->frame_add->show();
    cancel_button->show();
    ok_button->show();
}

void InputCut::zem_button_add_clicked() {
    ui->lineEdit_X->setText("0");
    ui->lineEdit_Y->setText("0");
    ui->lineEdit_W->setText("1920");
    ui->lineEdit_H->setText("1080");
    openForm(false);
}

void InputCut::zem_button_source_clicked() {
    crop_number = uint8_t(entryAt());
    qDebug(
        "this is zem_button_source_clicked [InputCut][Release] [ui_select=%#x] "
        "[current_pag=%#x][crop_number=%#x] ",
        unsigned(ui_select), unsigned(current_pag), unsigned(crop_number));
    CROP_PARA crop{};
    int record = ZemRamPara::kCropCount;
    store().ZemGetCropPara(current_source, crop_number, &crop, &record);
    edit_record = record;
    edit_id = uint16_t(crop.para[0]);
    QLineEdit* const fields[4] = {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H};
    for (int f = 0; f < 4; ++f) fields[f]->setText(QString::number(crop.para[f + 1]));
    openForm(true);
}

// A field's value: a number 0..32767 (from 1 for the width and height); a field with any
// other text is marked and the form stays open.
bool InputCut::readField(QLineEdit* field, int min, int* value) {
    return readKeypadNumber(field->text().trimmed(), min, kMaxValue, value) == kNumberOk;
}

void InputCut::markFields() {
    QLineEdit* const fields[4] = {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H};
    for (int f = 0; f < 4; ++f)
        if (bad_fields >> f & 1 && form_focus.focused() != fields[f])
            panel_style::apply(fields[f], panel_style::kCropField, panel_style::kWrong);
}

void InputCut::formMessage(const QString& message) {
    ui->label_change_source->setText(message);
}

// Returns true when the form may close.
bool InputCut::zem_button_ok_clicked() {
    QLineEdit* const fields[4] = {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H};
    CROP_PARA crop{};
    crop.para[0] = current_source;
    bad_fields = 0;
    for (int f = 0; f < 4; ++f)
        if (!readField(fields[f], f < 2 ? 0 : 1, &crop.para[f + 1])) bad_fields |= uint8_t(1 << f);
    if (bad_fields) {
        markFields();
        formMessage(text(kBadValue));
        return false;
    }
    if (level == kEditForm) {
        ZEM_DEBUG("\n zem_button_ok_clicked soureinfo [source_number = %d] [crop_number=%d]\n",
                  current_source, crop_number);
        // A crop deleted or renumbered meanwhile is not written over; the list then shows it gone.
        store().ZemSetCropParaAt(edit_record, edit_id, &crop);
    } else {
        ZEM_DEBUG("\n zem_button_ok_clicked add [source_number = %d] \n", current_source);
        if (store().ZemAddNewCrop(current_source, &crop) < 0) {
            formMessage(text(kTableFull));
            return false;
        }
    }
    level = kList;
    ui_select = saved_list;
    afterCropChange();
    qDebug("this is back button(InputCut)[zem_button_ok_clicked]\n");
    return true;
}

void InputCut::zem_button_cancel_clicked() {
    source_init();
    para_changed_over();
}

void InputCut::zem_button_delete_clicked() {
    store().ZemDeleteCropAt(edit_record, edit_id);
    afterCropChange();
    qDebug("this is back button(InputCut)[zem_button_delete_clicked]\n");
}

void InputCut::afterCropChange() {
    store().ZemCropSourceInit();
    crop_source_num_update();
    source_init();
    para_changed_over();
}

void InputCut::para_changed_over() {
    ui->frame_add->hide();
    cancel_button->hide();
    ok_button->hide();
    delete_button->hide();
    if (add_button) add_button->show();
    edit_record = -1;
}

// ---- Keypad ----

void InputCut::openKeypad(QLineEdit* field) {
    if (field == ui->lineEdit_W || field == ui->lineEdit_H)
        return g_numberkeyboard->open_for(
            this, field, field == ui->lineEdit_W ? kKeypadW : kKeypadH, field->text());
    g_numberkeyboard->open_for(this, field, field->objectName().mid(9), field->text());  // X, Y
}

void InputCut::show_numberkeyboard_ui(QString) {
    if (auto* field = qobject_cast<QLineEdit*>(sender())) openKeypad(field);
}

void InputCut::confirmString(QString value) {
    if (!g_numberkeyboard->opened_by(this) || !g_lineedit) return;
    g_lineedit->setText(value);
    QLineEdit* const fields[4] = {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H};
    for (int f = 0; f < 4; ++f)
        if (fields[f] == g_lineedit) bad_fields &= uint8_t(~(1 << f));
}

// ---- Keys ----

void InputCut::keyLeft() {
    source_current_check();
    if (level == kTabs) {
        current_pag = 0;
        ui_select = uint8_t((ui_select + 5) % 6);
        zem_button_input_clicked();
    } else if (level == kList) {
        if (current_pag == 0 && ui_select == 0) {
            current_pag = last_page;
            ui_select = uint8_t(last_page == 0 ? max_source_info
                                               : max_source_info - kPerPage * last_page - 1);
        } else if (ui_select > 0) {
            --ui_select;
        } else {
            --current_pag;
            ui_select = current_pag == 0 ? 6 : 5;
        }
        zem_button_input_clicked();
    } else {
        form_focus.move(-1);
        markFields();
    }
}

void InputCut::keyRight() {
    source_current_check();
    if (level == kTabs) {
        current_pag = 0;
        ui_select = uint8_t((ui_select + 1) % 6);
        zem_button_input_clicked();
    } else if (level == kList) {
        const int s = ui_select + 1, z = current_pag == 0 ? 1 : 0;
        if (kPerPage * current_pag + s >= max_source_info + z) {
            current_pag = 0;
            ui_select = 0;
        } else if (s - z > 5) {
            current_pag = uint8_t(current_pag + 1 > last_page ? 0 : current_pag + 1);
            ui_select = 0;
        } else {
            ui_select = uint8_t(s);
        }
        zem_button_input_clicked();
    } else {
        form_focus.move(+1);
        markFields();
    }
}

void InputCut::keyOk() {
    source_current_check();
    if (level == kTabs) {
        saved_tab = ui_select;
        ui_select = 0;
        current_pag = 0;
        level = kList;
        zem_button_input_clicked();
        return;
    }
    if (level == kList) {
        const int entry = entryAt();
        if (entry < 0) {
            if (!add_button->isEnabled()) return;
            saved_list = 0;
            level = kAddForm;
            zem_button_input_clicked();
            zem_button_add_clicked();
            return;
        }
        CROP_PARA crop{};
        int record = ZemRamPara::kCropCount;
        if (entry >= 1) store().ZemGetCropPara(current_source, entry, &crop, &record);
        if (record >= ZemRamPara::kCropCount) return;  // the whole source, or no record behind it
        saved_list = ui_select;
        level = kEditForm;
        zem_button_input_clicked();
        zem_button_source_clicked();
        return;
    }
    QWidget* item = form_focus.focused();
    if (auto* field = qobject_cast<QLineEdit*>(item)) return openKeypad(field);
    if (item == ok_button) {
        if (!zem_button_ok_clicked()) return;  // the form stays open, saying why
    } else {
        level = kList;
        ui_select = saved_list;
        if (item == delete_button)
            zem_button_delete_clicked();
        else
            zem_button_cancel_clicked();
    }
    panel_style::apply(tab_frame, panel_style::kCropTab, panel_style::kChosen);
    form_focus.clearFocus();
}

void InputCut::keyBack() {
    source_current_check();
    if (level == kTabs) return slot_Button_back_clicked();
    if (level == kList) {
        level = kTabs;
        ui_select = saved_tab;
        zem_button_input_clicked();
        return;
    }
    level = kList;
    ui_select = saved_list;
    zem_button_input_clicked();
    zem_button_cancel_clicked();
    form_focus.clearFocus();
}

void InputCut::slot_Button_back_clicked() {
    panel::back(this);
    if (!g_inputchoose) return;
    // The source page lists the crops as they are now.
    store().ZemCropSourceInit();
    g_inputchoose->initSource();
    g_inputchoose->crop_source_num_update();
}

// ---- Refresh ----

void InputCut::languageRefresh() {
    language_changed();
    source_init();  // the first cell's "No signal"
    if (ui->frame_add->isVisible()) ui->label_change_source->setText(namePrefix() + form_name);
}

void InputCut::syncUpdate(int id) {
    if (!bytesChanged(ZemRamPara::kRamCropTable, kCropTableEnd) && id != 103) return;
    // Typed values stay in an open form; its apply checks its record again.
    store().ZemCropSourceInit();
    crop_source_num_update();
    source_init();
}
