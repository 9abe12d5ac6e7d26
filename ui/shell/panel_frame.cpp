#include "ui/shell/panel_frame.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDebug>
#include <QKeyEvent>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <utility>

#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "ui/shell/main_window.h"

uint8_t g_mode_shortcut_key = 0;

KeyAction keyAction(int key) {
    switch (key) {
        case kKeyLeft:
        case 'S':
            return KeyAction::Left;
        case kKeyRight:
        case 'R':
            return KeyAction::Right;
        case kKeyOk:
        case 'Q':
            return KeyAction::Ok;
        case kKeyMode:
        case 'M':
            return KeyAction::Mode;
        case kKeyBack:
        case 'O':
            return KeyAction::Back;
        default:
            return KeyAction::Other;
    }
}

bool keyLocked() {
    const ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    return store && store->rd16(772) != 0;
}

void zem_keyboard::update_usb_keyEvent(int key) {
    ZEM_DEBUG("\n======update_usb_keyEvent===== key = %#x\n", unsigned(key));
    ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    if (!store || keyLocked() || key < 'A' || key > 'P') return;
    if (key <= 'F') {
        const int w = key - 'A';
        if (w > 0 && !(store->rd16(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags)) & 1)) return;
        if (g_image_current != w) {
            g_image_current = uint8_t(w);
            store->test_signal(1);
        }
        return;
    }
    // 'G'..'L': EXT, DVI, HDMI3, HDMI4, HDMI1, HDMI2.
    static const int kSourceOfLetter[6] = {0, 1, 4, 5, 2, 3};
    if (key <= 'L')
        store->ZemSetImageSource(0, kSourceOfLetter[key - 'G'], g_image_current);
    else if (key == 'N')
        store->ZemSetImageFreeze();
    else if (key == 'P')
        store->ZemSetImageBlack();
}

// ---- Languages ----

namespace {
const char* const kPrefix[kLanguageCount] = {"", "en_", "ru_", "vn_", "tn_"};
}

int panelLanguage() {
    const int lang = g_language;
    if (lang != 1 && lang < kLanguageCount && (Utils::configValue(g_lcd_lang_valid) >> lang & 1))
        return lang;
    return 1;
}

QString text(const Texts& texts) {
    return QString::fromUtf8(texts[panelLanguage()]);
}

QString picture(PictureName name) {
    return QString(":/png/") + kPrefix[panelLanguage()] + name.name + ".png";
}

QString pictureOf(PictureName name) {
    return QString(":/png/") + name.name + ".png";
}

const char* const kIconFileProperty = "iconFile";

void setPicture(QLabel* label, const QString& file) {
    label->setScaledContents(true);
    label->setPixmap(QPixmap(file));
}

void setIcon(QAbstractButton* button, const QString& file, int w, int h) {
    button->setProperty(kIconFileProperty, file);
    button->setIcon(QIcon(file));
    button->setIconSize(QSize(w, h));
}

void setFittedText(QLabel* label, const QString& text) {
    label->ensurePolished();
    const int room = label->contentsRect().width() - 2 * label->margin();
    label->setText(QFontMetrics(label->font()).elidedText(text, Qt::ElideRight, room));
}

namespace {

// The text in the widget's own font, or in the largest smaller one (down to 6 points) in which
// it fits the room.
void shrinkFont(QWidget* w, const QRect& room, const QString& text) {
    const char* const kOwn = "ownPointSize";
    if (!w->property(kOwn).isValid()) w->setProperty(kOwn, w->font().pointSize());
    QFont font = w->font();
    for (int pt = w->property(kOwn).toInt(); pt >= 6; --pt) {
        font.setPointSize(pt);
        const QSize needs = QFontMetrics(font).size(0, text);
        if (needs.width() <= room.width() && needs.height() <= room.height()) break;
    }
    w->setFont(font);
}

}  // namespace

void setShrunkText(QLabel* label, const QString& text) {
    label->ensurePolished();
    const int m = label->margin();
    shrinkFont(label, label->contentsRect().adjusted(m, m, -m, -m), text);
    label->setText(text);
}

void setShrunkText(QAbstractButton* button, const QString& text) {
    button->ensurePolished();
    QStyleOptionButton option;
    option.initFrom(button);
    shrinkFont(button,
               button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button),
               text);
    button->setText(text);
}

const char* const kPanelFontFamily = "WenQuanYi Micro Hei";

void panelSetFont() {
    QFont font(kPanelFontFamily);
    font.setPointSize(9);
    QApplication::setFont(font);
}

// ---- Styles ----

namespace panel_style {
namespace {

// clang-format off
// By look, the sheets of normal, focus, edit, dimmed and dimmed under the focus.
const char* const kSheets[kLooks][kStates] = {
    {"background-color: rgb(33, 36, 53);border:2px;border-radius:10px;padding:2px 4px",
     "background-color: rgb(33, 36, 53);border:2px solid rgb(255,171,84);border-radius:10px;padding:2px 4px;",
     "", "", ""},
    {"background-color: rgb(33, 36, 53);border:2px;border-radius:10px;padding:2px 4px;color:rgb(255,255,255)",
     "background-color: rgb(33, 36, 53); border:2px solid rgb(255,171,84);border-radius:10px;padding:2px 4px;color:rgb(255,255,255)",
     "",
     "background-color: gray;border:2px;border-radius:10px;padding:2px 4px;color:rgb(255,255,255)",
     "background-color: gray; border:2px solid rgb(255,171,84);border-radius:10px;padding:2px 4px;color:rgb(255,255,255)"},
    {"color:rgb(255,255,255);background-color: rgb(33, 36, 53) ; border:2px ;border-radius:10px;padding:2px 4px",
     "color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:2px solid rgb(255,171,84);border-radius:10px;padding:2px 4px",
     "", "", ""},
    {"background-color: rgb(33, 36, 53);border:1px;border-radius:1px;padding:1px 1px",
     "background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);border-radius:1px;padding:1px 1px",
     "background-color: rgb(33, 36, 53);border:1px solid rgb(255,0,0);border-radius:1px;padding:1px 1px",
     "", ""},
    {"color:rgb(255, 255, 255);background-color:rgb(33, 36, 53);border:1px solid rgb(255,255,255);",
     "color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);",
     "", "", ""},
    {"QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid rgb(255,255,255);\n}\nQComboBox:drop-down{\nborder-style:none\n}",
     "QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);\n}\nQComboBox:drop-down{\nborder-style:none\n}",
     "QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid rgb(255,0,0);\n}\nQComboBox:drop-down{\nborder-style:none\n}",
     "", ""},
    {"background-color: rgb(33, 36, 53);color:rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);",
     "background-color: rgb(33, 36, 53);color:rgb(255, 255, 255);border:1px solid rgb(255,171,84);",
     "",
     "background-color: gray;border:2px;border-radius:10px;padding:2px 4px;color:rgb(255,255,255)",
     ""},
    {"color:rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);",
     "color:rgb(255, 255, 255);border:1px solid rgb(255,171,84);",
     "", "", ""},
    {"color:rgb(255,255,255);\nborder:1px solid rgb(255, 255, 255);",
     "color:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);",
     "", "", ""},
    {"color:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255, 255, 255);",
     "color:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255,171,84);",
     "color:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255,0,0);",
     "", ""},
    {"QComboBox{\ncolor:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);border:1px solid rgb(255,255,255);\n}\nQComboBox:drop-down{\nborder-style:none\n}",
     "QComboBox{\ncolor:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);\n}\nQComboBox:drop-down{\nborder-style:none\n}",
     "QComboBox{\ncolor:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);border:1px solid rgb(255,0,0);\n}\nQComboBox:drop-down{\nborder-style:none\n}",
     "", ""},
    {"QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid rgb(255,255,255);\n}\nQComboBox:drop-down{\n\twidth:0px;\n}",
     "QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);\n}\nQComboBox:drop-down{\n\twidth:0px;\n}",
     "QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid rgb(255,0,0);\n}\nQComboBox:drop-down{\n\twidth:0px;\n}",
     "", ""},
    {"",
     "QComboBox{color:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);\n}\nQComboBox:drop-down{\nborder-style:none\n}",
     "QComboBox{color:rgb(255,255,255);\nborder:1px solid rgb(71,119,255);\n}\nQComboBox:drop-down{\nborder-style:none\n}",
     "", ""},
    {"",
     "color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);background-color:rgb(0, 0, 0)",
     "color: rgb(255, 255, 255);border:1px solid rgb(71,119,255);background-color:rgb(0, 0, 0)",
     "", ""},
    {"background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);",
     "background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(255, 171, 84);",
     "", "", ""},
    {"background-color: rgb(255, 255, 255);border:1px ;",
     "background-color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);",
     "", "", ""},
    {"background-color: rgb(71, 119, 255);border:1px ;",
     "background-color: rgb(71, 119, 255);border:1px solid rgb(255,171,84);",
     "", "", ""},
    // No border either: a platform style would otherwise draw its own button over the cell.
    {"background-color:transparent;border:none;",
     "background-color:transparent;border-radius:5px;border:2px solid rgb(255,171,84);",
     "", "", ""},
    {"color: rgb(255, 255, 255);",
     "border:1px solid rgb(255,171,84);",
     "", "", ""},
    {"color: rgb(255, 255, 255);background-color:rgb(0,0,0);border:1px solid rgb(255,255,255);",
     "color: rgb(255, 255, 255); background-color:rgb(0,0,0);border:1px solid rgb(255,171,84);",
     "", "", ""},
    {"color: rgb(255, 255, 255);background-color: rgb(33, 36, 53) ; border:1px solid rgb(255,255,255) ;",
     "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,171,84);",
     "", "", ""},
    {"color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border-top:1px solid rgb(255, 255, 255);border-bottom:1px solid rgb(255, 255, 255);border-left:1px solid rgb(255, 255, 255);",
     "color: rgb(255, 255, 255); background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);",
     "", "", "",
     "color: rgb(255,0,0); background-color: rgb(33, 36, 53);border:1px solid rgb(255,0,0);",
     "color: rgb(255,0,0); background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);"},
    {"color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border-top:1px solid rgb(255, 255, 255);border-bottom:1px solid rgb(255, 255, 255);",
     "color: rgb(255, 255, 255); background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);",
     "", "", "",
     "color: rgb(255,0,0); background-color: rgb(33, 36, 53);border:1px solid rgb(255,0,0);",
     "color: rgb(255,0,0); background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);"},
    {"color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border-top:1px solid rgb(255, 255, 255);border-bottom:1px solid rgb(255, 255, 255);border-right:1px solid rgb(255, 255, 255);",
     "color: rgb(255, 255, 255); background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);",
     "", "", "",
     "color: rgb(255,0,0); background-color: rgb(33, 36, 53);border:1px solid rgb(255,0,0);",
     "color: rgb(255,0,0); background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);"},
    {"color:rgb(255,255,255);", "", "", "", "", "color:rgb(255,0,0);", ""},
    {"color: rgb(255, 255, 255);border:1px solid rgb(255,255,255);",
     "color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);",
     "", "", ""},
    {"",
     "border:1px solid;border-bottom-color:rgb(16,16,28);border-left-color:rgb(255,171,84);border-right-color:rgb(255,171,84);border-top-color:rgb(255,171,84);",
     "border:1px solid;border-bottom-color:rgb(16,16,28);border-left-color:rgb(71, 119, 255);border-right-color:rgb(71, 119, 255);border-top-color:rgb(71, 119, 255);",
     "", ""},
    {"",
     "#frame_source{border:1px solid rgb(255,171,84);}",
     "#frame_source{border:1px solid rgb(71, 119, 255);}",
     "", ""},
    {"color:rgb(255,255,255);background-color: rgb(33, 36, 53) ; border:1px solid rgb(255,255,255);",
     "color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,171,84);",
     "color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,0,0);",
     "", ""},
    {"color: rgb(255, 255, 255);background-color: rgb(33, 36, 53) ; border:1px solid rgb(255,255,255);;",
     "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,171,84);",
     "", "", ""},
    {"border:0px solid rgb(255,171,84);",
     "border:2px solid rgb(255,171,84);",
     "", "", "", "", "",
     "border:2px solid rgb(71, 119, 255);"},
    {"",
     "border:1px solid;border-left-color:rgb(255,171,84);border-right-color:rgb(255,171,84);border-top-color:rgb(255,171,84);",
     "", "", "", "", "",
     "border:1px solid;border-left-color:rgb(71, 119, 255);border-right-color:rgb(71, 119, 255);border-top-color:rgb(71, 119, 255);"},
    {"",
     "#frame{border:1px solid rgb(255,171,84);}",
     "", "", "", "", "",
     "#frame{border:1px solid rgb(71, 119, 255);}"},
    {"",
     "#frame_image{border:1px solid;border-left-color:rgb(255,171,84);border-right-color:rgb(255,171,84);border-top-color:rgb(255,171,84);}",
     "", "", ""},
    {"", "#frame{border:1px solid rgb(255,171,84);}", "", "", ""},
    {"",
     "border:1px solid;background-color: rgb(16,16, 28);border-left-color:rgb(255,171,84);border-right-color:rgb(255,171,84);border-top-color:rgb(255,171,84);",
     "", "", "", "", "",
     "border:1px solid;background-color: rgb(16,16, 28);border-left-color:rgb(71, 119, 255);border-right-color:rgb(71, 119, 255);border-top-color:rgb(71, 119, 255);"},
    {"",
     "#frame_source{background-color: rgb(16,16, 28);border:1px solid rgb(255,171,84);}",
     "", "", "", "", "",
     "#frame_source{background-color: rgb(16,16, 28);border:1px solid rgb(71, 119, 255);}"},
    {"color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255, 255, 255);font:10px",
     "color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);font:10px",
     "", "", "",
     "color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255,0,0);font:10px",
     ""},
    {"border:0px solid rgb(0,0,0);", "border:1px solid rgb(255,171,84);", "", "", ""},
    {"background-color: rgb(33, 36, 53);color: #FFFFFF",
     "background-color:#4777FF;color: #FFFFFF;border:1px solid rgb(255,171,84);",
     "", "", "", "", "",
     "background-color:#4777FF;color: #FFFFFF;border:1px solid rgb(255,255,255);"},
    {"background-color: rgb(33, 36, 53);color: #00FF00",
     "background-color:#4777FF;color: #00FF00;border:1px solid rgb(255,171,84);",
     "", "", "", "", "",
     "background-color:#4777FF;color: #00FF00;border:1px solid rgb(255,255,255);"},
};
// clang-format on

const char* const kStateProperty = "styleState";

}  // namespace

const char* sheet(Look look, State state) {
    const char* s = kSheets[look][state];
    return s ? s : "";
}

void apply(QWidget* w, Look look, State state) {
    w->setStyleSheet(sheet(look, state));
    markState(w, state);
}

void markState(QWidget* w, State state) {
    w->setProperty(kStateProperty, int(state));
}

State stateOf(const QWidget* w) {
    const QVariant v = w->property(kStateProperty);
    return v.isValid() ? State(v.toInt()) : kNormal;
}

}  // namespace panel_style

// ---- Focus ----

void LevelFocus::down(uint8_t to) {
    if (level + 1 >= kLevels) return;
    select[++level] = to;
}

bool LevelFocus::up() {
    if (level == 0) return false;
    --level;
    return true;
}

FocusRing::Item::Item(QWidget* w, panel_style::Look look, bool dimmed)
    : widget(w),
      normal(panel_style::sheet(look, dimmed ? panel_style::kDimmed : panel_style::kNormal)),
      focus(panel_style::sheet(look, dimmed ? panel_style::kDimmedFocus : panel_style::kFocus)),
      normal_state(dimmed ? panel_style::kDimmed : panel_style::kNormal),
      focus_state(dimmed ? panel_style::kDimmedFocus : panel_style::kFocus) {}

FocusRing::Item::Item(QWidget* w, panel_style::Look look, panel_style::State normal_as,
                      panel_style::State focus_as)
    : widget(w),
      normal(panel_style::sheet(look, normal_as)),
      focus(panel_style::sheet(look, focus_as)),
      normal_state(normal_as),
      focus_state(focus_as) {}

FocusRing::Item::Item(QWidget* w, QString normal, QString focus)
    : widget(w), normal(std::move(normal)), focus(std::move(focus)) {}

namespace {
void draw(const FocusRing::Item& item, bool focused) {
    item.widget->setStyleSheet(focused ? item.focus : item.normal);
    panel_style::markState(item.widget, focused ? item.focus_state : item.normal_state);
}
}  // namespace

void FocusRing::setItems(std::vector<Item> items, int index) {
    items_ = std::move(items);
    for (const Item& item : items_) draw(item, false);
    select(index);
}

void FocusRing::select(int index) {
    if (items_.empty()) return;
    if (ui_select < items_.size()) draw(items_[ui_select], false);
    ui_select = uint8_t(index);
    draw(items_[ui_select], true);
}

void FocusRing::move(int step) {
    const int n = size();
    if (n == 0) return;
    select((ui_select + step + n) % n);
}

void FocusRing::clearFocus() {
    if (ui_select < items_.size()) draw(items_[ui_select], false);
}

QWidget* FocusRing::focused() const {
    return ui_select < items_.size() ? items_[ui_select].widget : nullptr;
}

// ---- Key dispatch ----

PageFrame::PageFrame(QWidget* self, int id)
    : class_name_(page_table::className(id)), self_(self), id_(id) {
    // Every page covers the panel; a dialog would otherwise centre itself on a larger screen.
    self->move(g_mainwindow ? g_mainwindow->pos() : QPoint(0, 0));
}

void traceKeyPress(const char* className, int key) {
    const KeyAction a = keyAction(key);
    if (a == KeyAction::Ok)
        qDebug("this is OK button(%s)[Press]\n", className);
    else if (a == KeyAction::Back)
        qDebug("this is back button(%s)[Press]\n", className);
}

void PageFrame::tracePress(int key) const {
    traceKeyPress(class_name_, key);
}

void PageFrame::keyOk() {
    if (auto* button = qobject_cast<QAbstractButton*>(focus.focused())) button->click();
}

void PageFrame::keyMode() {
    panel::modeShortcut();
}

bool PageFrame::staysOpen(const std::function<void()>& work) {
    const QPointer<QWidget> alive(self_);
    work();
    return alive && panel::page(id_) == this;
}

void PageFrame::dispatchKey(int key) {
    qDebug("in %s keyReleaseEvent event %#x", class_name_, unsigned(key));
    // The page may close itself while it acts; the letter then goes to a keypad handler of
    // our own instead of the deleted page's.
    const QPointer<QWidget> alive(self_);
    const char* name = class_name_;
    switch (keyAction(key)) {
        case KeyAction::Left:
            qDebug("this is left-code [%s][Release] ui_select=%#x", name, unsigned(focusIndex()));
            keyLeft();
            break;
        case KeyAction::Right:
            qDebug("this is right-code [%s][Release] ui_select=%#x", name, unsigned(focusIndex()));
            keyRight();
            break;
        case KeyAction::Ok:
            qDebug("this is OK button(%s)[Release]\n", name);
            keyOk();
            break;
        case KeyAction::Mode:
            if (keyLocked()) return;  // not even the keypad sees it
            qDebug("this is mode-code [%s][Release]", name);
            keyMode();
            break;
        case KeyAction::Back:
            qDebug("this is back button(%s)[Release]\n", name);
            keyBack();
            break;
        case KeyAction::Other:
            break;
    }
    if (alive)
        keypad.update_usb_keyEvent(key);
    else
        zem_keyboard().update_usb_keyEvent(key);
}

// ---- Pages by id ----

namespace panel {
namespace {

// Filled by registerPages; read on the GUI thread only.
PageSlot g_slots[kPageCount];

// The hub reaches page Id through the same slot as the frame.
template <int Id>
SyncPage* hubPage() {
    return page(Id);
}
template <int... Ids>
void routeHub(std::integer_sequence<int, Ids...>) {
    (SyncUpdate::setPage(Ids, &hubPage<Ids>), ...);
}

bool isOpen(int id) {
    return page(id) != nullptr;
}

void closeOpen(int id) {
    PageFrame* p = page(id);
    if (!p) return;
    p->widget()->setAttribute(Qt::WA_DeleteOnClose);
    p->widget()->close();
    g_slots[id].clear();
}

}  // namespace

bool registerPage(int id, PageSlot slot) {
    if (id < 0 || id >= kPageCount) return false;
    g_slots[id] = slot;
    routeHub(std::make_integer_sequence<int, kPageCount>());
    return true;
}

bool registered(int id) {
    return id >= 0 && id < kPageCount && g_slots[id].get;
}

void openRegistered(int id) {
    if (registered(id) && g_slots[id].open) g_slots[id].open();
}

PageFrame* page(int id) {
    if (id < 0 || id >= kPageCount) return nullptr;
    const PageSlot slot = g_slots[id];
    return slot.get ? slot.get() : nullptr;
}

int parentOf(int id) {
    return page_table::parentOf(id, &isOpen);
}

void back(PageFrame* p) {
    const int id = p->pageId();
    const int parent = parentOf(id);
    p->widget()->setAttribute(Qt::WA_DeleteOnClose);
    p->widget()->close();
    if (id >= 0 && id < kPageCount && g_slots[id].clear) g_slots[id].clear();
    if (PageFrame* to = page(parent)) to->language_changed();
    g_page_focus = uint8_t(parent);
}

void modeShortcut() {
    const int front = g_page_focus;
    if (keyLocked() || front == kPageCustomMode) return;
    if (front == kPageHome) {
        closeOpen(kPageHome);
    } else {
        for (int id = front; id > kPageMain && id < kPageCount; id = parentOf(id)) closeOpen(id);
    }
    if (!g_mainwindow) return;
    // The main menu is in front now; the user-mode page, once it opens, takes over.
    g_page_focus = kPageMain;
    g_mainwindow->mode_window_close();
    g_mode_shortcut_key = 1;
    g_mainwindow->on_custommode_clicked();
}

}  // namespace panel
