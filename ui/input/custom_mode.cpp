#include "ui/input/custom_mode.h"

#include <QComboBox>
#include <QDebug>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include "c331/c331_manage.h"
#include "comm/message_deal.h"
#include "core/globals.h"
#include "core/json_files.h"
#include "core/led_size.h"
#include "ui/shell/list_keys.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/main_window.h"
#include "ui/shell/page_store.h"
#include "ui/shell/panel_texts.h"
#include "ui/shell/zemcontrol.h"
#include "ui_custom_mode.h"
#include "video_io/sourceinfo.h"

CustomMode* g_custommode = nullptr;

namespace {

constexpr int kModes = ZemRamPara::kModeCount;

const char* const kLine = "background-color: #10101C;color: #FFFFFF;";

// clang-format off
const Texts kTitle = {"用户模式", "User mode", "Режимы", "Chế độ người dùng", "用戶模式"};
const Texts kInvoke = {"调用", "Invoke", "Вызов", "Gọi", "調用"};
const Texts kDelete = {"删除", "Delete", "Удалить", "Xoá bỏ", "刪除"};
const Texts kMore = {"更多", "More", "Ещё", "Thêm", "更多"};
const Texts kBlank = {"未保存用户模式数据", "Usermode does not exist", "Режим не сохранён", "Chế độ chưa được lưu", "未保存用戶模式數據"};
const Texts kModeName = {"用户模式%1", "MODE %1", "РЕЖИМ %1", "CHẾ ĐỘ %1", "用戶模式%1"};
const Texts kNamePrefix = {"名称:", "Name:", "Имя:", "Tên:", "名稱:"};
const Texts kNameDefault = {"名称:用户模式%1", "Name:Mode%1", "Имя:Режим%1", "Tên:Chế độ%1", "名稱:用戶模式%1"};
const Texts kLedSize = {"LED参数:%1x%2", "LED size:%1x%2", "Размер LED:%1x%2", "Cỡ LED:%1x%2", "LED參數:%1x%2"};
// After the LED size of the current mode when the box did not take it (a size it can't drive).
const Texts kNotTaken = {"未生效", "not taken", "не принят", "chưa áp dụng", "未生效"};
const Texts kBriOn = {"亮度:%1 对比度:%2 音量:开启", "Bri:%1 CTRST:%2 Volume:ON", "Ярк:%1 Контр:%2 Звук:ВКЛ", "Sáng:%1 T.phản:%2 Âm:BẬT", "亮度:%1 對比度:%2 音量:開啟"};
const Texts kBriOff = {"亮度:%1 对比度:%2 音量:关闭", "Bri:%1 CTRST:%2 Volume:OFF", "Ярк:%1 Контр:%2 Звук:ВЫКЛ", "Sáng:%1 T.phản:%2 Âm:TẮT", "亮度:%1 對比度:%2 音量:關閉"};
// A window row's state, in the words of the sound line above.
const Texts kOn = {"开启", "ON", "ВКЛ", "BẬT", "開啟"};
const Texts kOff = {"关闭", "OFF", "ВЫКЛ", "TẮT", "關閉"};
// The OSD info line: Simplified and Traditional Chinese have their own words, every other
// language the English ones.
const Texts kFontSize = {"字体大小:", "font size:", "font size:", "font size:", "字體大小:"};
const Texts kSpace = {"字-行间距 [h:", "space [h:", "space [h:", "space [h:", "字-行間距 [h:"};
const Texts kChar = {"字幕坐标[x:", "char[x:", "char[x:", "char[x:", "字幕座標[x:"};
const Texts kSpeed = {"速度:", "speed:", "speed:", "speed:", "速度:"};
const Texts kEffects[6] = {
    {"特技:静止", "effect:static", "effect:static", "effect:static", "特技:靜止"},
    {"特技:静止", "effect:static", "effect:static", "effect:static", "特技:靜止"},
    {"特技:上移", "effect:move up", "effect:move up", "effect:move up", "特技:上移"},
    {"特技:下移", "effect:move down", "effect:move down", "effect:move down", "特技:下移"},
    {"特技:左移", "effect:move left", "effect:move left", "effect:move left", "特技:左移"},
    {"特技:右移", "effect:move right", "effect:move right", "effect:move right", "特技:右移"}};
// clang-format on

const char* const kChipColour[6] = {"background-color: #D5E5FF;", "background-color: #D4FC79;",
                                    "background-color: #FC9D79;", "background-color: #7E9AC9;",
                                    "background-color: #32CC4C;", "background-color: #4777FF;"};

// The slot's copy of RAM address a.
int payload(int a) {
    return 2 + a - ZemRamPara::kModePayloadStart;
}
uint16_t slot16(const std::array<uint8_t, ZemRamPara::kModeSize>& s, int a) {
    return uint16_t(s[size_t(payload(a))] | s[size_t(payload(a)) + 1] << 8);
}

QLabel* makeLabel(QWidget* parent, const QRect& r, const QString& text, const char* style,
                  const QFont& font) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(r);
    l->setStyleSheet(style);
    l->setFont(font);
    l->show();
    return l;
}

// An OSD colour as the chip reads it, as "#RRGGBB".
QString osdColour(const std::string& text) {
    return QString("#%1").arg(osd_rgb_from_text(text), 6, 16, QChar('0')).toUpper();
}

}  // namespace

CustomMode::CustomMode(QWidget* parent)
    : PanelPage(kPageCustomMode, parent), ui(new Ui::CustomMode) {
    ui->setupUi(this);
    list_font_.setPixelSize(10);
    ui->lineEdit->setReadOnly(true);
    ui->label_blank->hide();
    const int current = store().ZemGetCurrentModeIndex();
    g_mode_select = uint8_t(current ? current - 1 : 0);
    selector =
        new zemcontrol(QRect(19, 0, 100, 22), QRect(0, 0, 20, 22), QRect(118, 0, 20, 22), this);
    selector->setGeometry(3, 28, 320, 24);
    // Invoke and Delete act on the keys' mode: a touched name goes back to it.
    showInForceOnTouch(selector->box, [this] { return int(ui_select); });
    init();
    menulist_init();
    ui->label_ID->setText(QString("ID:%1").arg(g_mode_select + 1));
    for (QPushButton* b : {ui->Button_use, ui->Button_delete, ui->Button_more})
        panel_style::apply(b, panel_style::kField, panel_style::kNormal);
    language_changed();  // the names, the summary and the list area
}

CustomMode::~CustomMode() {
    delete ui;
    if (g_custommode == this) g_custommode = nullptr;
}

void CustomMode::init() {
    for (int m = 0; m < kModes; ++m) selector->box->addItem(QString());
    selector->setFocusPolicy(Qt::NoFocus);
    selector->box->setFocusPolicy(Qt::NoFocus);
    selector->set_boxindexsel(char(g_mode_select));
}

void CustomMode::menulist_init() {
    ui_select = g_mode_select;
    ui_level = 0;
    ui_button = 0;
    selector->set_box_default();
}

void CustomMode::language_changed() {
    // A PC's language change while the page shows reaches the names and the summary too.
    for (int m = 0; m < kModes; ++m) selector->box->setItemText(m, text(kModeName).arg(m + 1));
    lcd_para_init();
    image_para_init();
    ui->label_title->setText(text(kTitle));
    ui->Button_delete->setText(text(kDelete));
    ui->Button_use->setText(text(kInvoke));
    ui->label_using->setText(text(words::kUsing));
    ui->label_blank->setText(text(kBlank));
}

CustomMode::Slot CustomMode::slotCopy() const {
    Slot s;
    zem::MutexLocker lock(c331_manage::c331_mutex);
    std::copy(std::begin(store().mode_ram[g_mode_select]),
              std::end(store().mode_ram[g_mode_select]), s.begin());
    return s;
}

int CustomMode::get_mode_status() const {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    return store().ZemUserModeSaved(g_mode_select);
}

// ---- Summary ----

void CustomMode::lcd_para_init() {
    const int m = g_mode_select;
    const Slot s = slotCopy();
    ALIAS_PARA alias;
    if (get_json_alias_para(&alias, "usermode", m) == 1) {
        const QString name =
            QFontMetrics(ui->label_name->font())
                .elidedText(
                    QString::fromStdString(alias.name), Qt::ElideRight,
                    171 -
                        QFontMetrics(ui->label_name->font()).horizontalAdvance(text(kNamePrefix)));
        ui->label_name->setText(text(kNamePrefix) + name);
    } else {
        ui->label_name->setText(text(kNameDefault).arg(m + 1));
    }
    ledLine(m, s);
    // A stored audio window above 5 names no window: counted as window 0, as on the home screen.
    int audio = s[size_t(payload(2112))];
    if (audio >= ZemRamPara::kWindowCount) audio = 0;
    const bool sound = slot16(s, ZemRamPara::windowAddr(audio, 20)) & 0x8000;
    ui->label_brightness->setText(
        text(sound ? kBriOn : kBriOff).arg(int16_t(slot16(s, 2176))).arg(int16_t(slot16(s, 2178))));
    ui->Button_more->setText(text(kMore));
    ui->label_using->setVisible(store().ZemGetCurrentModeIndex() == m + 1);
}

// ---- List area ----

// The slot's LED size; in the refused colour, with a word saying so, while this is the current
// mode and its LED set is not the one in force (the box refused it when it was recalled).
void CustomMode::ledLine(int m, const Slot& s) {
    bool taken = true;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        if (store().rd16(ZemRamPara::kRamCurrentMode) == m + 1)
            for (int a : led_size::kRamWords)
                taken = taken && slot16(s, a) == store().led_in_force16(a);
    }
    QString line = text(kLedSize).arg(int16_t(slot16(s, 1378))).arg(int16_t(slot16(s, 1380)));
    if (!taken) line += ' ' + text(kNotTaken);
    ui->label_LED->setText(line);
    panel_style::apply(ui->label_LED, panel_style::kNote,
                       taken ? panel_style::kNormal : panel_style::kWrong);
}

// A recall by a PC, or a size it refused, redraws the summary.
void CustomMode::syncUpdate() {
    if (wordChanged(ZemRamPara::kRamCurrentMode) || bytesChanged(1376, 1416)) lcd_para_init();
}

void CustomMode::image_para_init() {
    delete list_widget;
    list_widget = nullptr;
    const int m = g_mode_select;
    const Slot s = slotCopy();
    const bool saved = s[0] == 0xAA && s[1] == 0xAA;
    for (QWidget* w :
         {static_cast<QWidget*>(ui->label_LED), static_cast<QWidget*>(ui->label_brightness),
          static_cast<QWidget*>(ui->Button_delete), static_cast<QWidget*>(ui->Button_use)})
        w->setVisible(saved);
    ui->label_blank->setVisible(!saved);
    ui->label_using->setVisible(saved && store().ZemGetCurrentModeIndex() == m + 1);
    if (!saved) {
        ui->Button_more->hide();
        more_hidden = 1;
        return;
    }
    more_hidden = slot16(s, ZemRamPara::kRamOsdOn) != 0 ? 0 : 1;
    ui->Button_more->setVisible(!more_hidden);
    list_widget = new QWidget(ui->frame);
    list_widget->setGeometry(3, 61, 285, 90);
    list_widget->setMinimumSize(50, 60);
    if (ui_level == 1 && ui_button == 2 && !more_hidden)
        buildOsdView();
    else
        buildWindowList(s);
    list_widget->show();
}

void CustomMode::buildWindowList(const Slot& s) {
    const uint8_t* base = s.data() + 2;
    for (int w = 0; w < ZemRamPara::kWindowCount; ++w) {
        const int x = w < 3 ? 0 : 145, lineX = w < 3 ? 24 : 171;
        const int y = 16 + 30 * (w % 3);
        auto* chip = makeLabel(list_widget, QRect(x, y - 14, 24, 24), QString::number(w + 1), "",
                               list_font_);
        chip->setAlignment(Qt::AlignCenter);
        color_fill(chip, char(w));
        WindowInput in;
        int16_t isCrop = 0;
        char index = 0;
        in.source = uint8_t(store().ZemGetImageSource(base, uint8_t(w), &isCrop, &index, 1));
        if (isCrop && uint8_t(index) < ZemRamPara::kCropCount) {
            // The crop's own number, from the slot's copy of the crop table.
            const uint16_t id = slot16(s, ZemRamPara::kRamCropTable + 10 * uint8_t(index));
            if (id & 0x8000) in.crop_number = ((id >> 8) & 0x7F) + 1;
        }
        const bool on = slot16(s, ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags)) != 0;
        const QString source = sourceinfo::window_name(in) + " " + text(on ? kOn : kOff);
        makeLabel(list_widget, QRect(lineX, y - 15, 100, 14), source, kLine, list_font_);
        const int a = ZemRamPara::windowAddr(w, 10);
        const QString position = QString("[%1,%2]%3x%4")
                                     .arg(slot16(s, a))
                                     .arg(slot16(s, a + 2))
                                     .arg(slot16(s, a + 4))
                                     .arg(slot16(s, a + 6));
        makeLabel(list_widget, QRect(lineX, y, 140, 12), position, kLine, list_font_);
    }
}

void CustomMode::buildOsdView() {
    OSD_LIST list;
    get_json_omenu_para(ZemRamPara::osdCopyFile(g_mode_select).c_str(), &list);
    const OMENU_PARA& item = list.menu[0];
    QString info;
    if (list.osdcount > 0) {
        const int effect = item.effect >= 0 && item.effect <= 5 ? item.effect : 0;
        info = QString("osd [x:%1,y:%2,w:%3,h:%4] %5%6*%7\n%8%9,v:%10] %11%12,y:%13] %14%15,%16")
                   .arg(item.x)
                   .arg(item.y)
                   .arg(item.w)
                   .arg(item.h)
                   .arg(text(kFontSize))
                   .arg(item.fontw)
                   .arg(item.fonth)
                   .arg(text(kSpace))
                   .arg(item.wordspace)
                   .arg(item.verticalspace)
                   .arg(text(kChar))
                   .arg(item.startx)
                   .arg(item.starty)
                   .arg(text(kSpeed))
                   .arg(item.speed)
                   .arg(text(kEffects[effect]));
    }
    QStringList lines = QString::fromStdString(item.texts).split('\n');
    if (lines.size() > 3) lines = lines.mid(0, 3);
    const QString style = QString("background-color:%1;color:%2;")
                              .arg(osdColour(item.color))
                              .arg(osdColour(item.font_color));
    auto* box = makeLabel(list_widget, QRect(6, 2, 300, 50), lines.join('\n'), "", list_font_);
    box->setStyleSheet(style);
    box->setFrameShape(QFrame::NoFrame);
    auto* line = makeLabel(list_widget, QRect(2, 56, 300, 30), info, kLine, list_font_);
    line->setFrameShape(QFrame::NoFrame);
}

void CustomMode::color_fill(QLabel* label, char window) {
    const int w = static_cast<unsigned char>(window);
    label->setStyleSheet(w < 6 ? kChipColour[w] : "background-color: #CCCCCC;");
}

// ---- Redraw and the button row ----

void CustomMode::zem_button_mode_clicked() {
    g_mode_select = ui_select;
    ui->label_ID->setText(QString("ID:%1").arg(ui_select + 1));
    lcd_para_init();
    image_para_init();
}

void CustomMode::zem_button_selinfo(char op, char index) {
    QPushButton* const buttons[3] = {ui->Button_use, ui->Button_delete, ui->Button_more};
    const bool known = static_cast<unsigned char>(index) < 3;  // char is unsigned on the box
    switch (op) {
        case 0:
            if (known)
                panel_style::apply(buttons[int(index)], panel_style::kField, panel_style::kFocus);
            zem_button_mode_clicked();
            break;
        case 1:
            if (known)
                panel_style::apply(buttons[int(index)], panel_style::kField, panel_style::kNormal);
            break;
        case 2:
            for (QPushButton* b : buttons)
                panel_style::apply(b, panel_style::kField, panel_style::kNormal);
            break;
        default:
            break;
    }
}

// ---- Invoke and Delete ----

void CustomMode::on_Button_use_clicked() {
    const int m = g_mode_select;
    const bool fpgasRun = led_fpgas_running();
    zem::MutexLocker lock(c331_manage::c331_mutex);
    if (!store().ZemUserModeSaved(m)) return;
    store().set_current_mode(uint16_t(m + 1));
    // A user's write: the close-LED and brightness it brings count as written.
    store().ZemRamParaDeal(store().mode_ram[m].data() + 2, ZemRamPara::kModePayloadSize,
                           ZemRamPara::kModePayloadStart);
    led_size::take_or_refuse(&store(), "user mode");
    // As the PC's recall: a new LED size goes through the handshake, so the output blanks.
    led_size_handshake_locked(&store(), fpgasRun);
    c331_manage::raise_apply(1);
}

void CustomMode::on_Button_delete_clicked() {
    if (!get_mode_status()) return;
    // Shown deleted at once; the saver deletes its files.
    store().delete_mode_from_panel(g_mode_select);
    lcd_para_init();
    image_para_init();
}

// ---- Keys ----

void CustomMode::step(int dir) {
    if (ui_level == 0) {
        selector->set_box_default();
        ui_select = uint8_t((ui_select + dir + kModes) % kModes);
        selector->set_boxindexsel(char(ui_select));
        zem_button_mode_clicked();
        return;
    }
    const int n = 3 - more_hidden;
    zem_button_selinfo(1, char(ui_button));
    ui_button = uint8_t((ui_button + dir + n) % n);
    zem_button_selinfo(0, char(ui_button));
}

void CustomMode::keyOk() {
    if (ui_level == 0) {
        if (!get_mode_status()) return;
        ui_level = 1;
        selector->set_box_modify();
        ui_button = 0;
        zem_button_selinfo(0, 0);
        return;
    }
    ui_level = 0;
    selector->set_box_default();
    if (ui_button == 0) on_Button_use_clicked();
    if (ui_button == 1) on_Button_delete_clicked();
    zem_button_selinfo(2, 0);
}

void CustomMode::keyBack() {
    if (ui_level == 1) {
        ui_level = 0;
        selector->set_box_default();
        zem_button_selinfo(2, 0);
        zem_button_mode_clicked();
        return;
    }
    if (!g_mode_shortcut_key) return slot_Button_back_clicked();
    g_mode_shortcut_key = 0;
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    g_custommode = nullptr;
    g_lockwindow = new LockWindow(nullptr);
    g_page_focus = kPageHome;
    g_lockwindow->show();
}

void CustomMode::slot_Button_back_clicked() {
    panel::back(this);
}
