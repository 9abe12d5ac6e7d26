#include "ui/shell/panel_frame.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDebug>
#include <QKeyEvent>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <array>
#include <cstring>
#include <utility>

#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "ui/shell/list_keys.h"
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
    return store && store->rd16_locked(772) != 0;
}

void zem_keyboard::update_usb_keyEvent(int key) {
    ZEM_DEBUG("\n======update_usb_keyEvent===== key = %#x\n", unsigned(key));
    ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    if (!store || keyLocked() || key < 'A' || key > 'P') return;
    if (key <= 'F') {
        const int w = key - 'A';
        if (w > 0 && !(store->rd16_locked(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags)) & 1))
            return;
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
    if (lang != 1 && lang < kLanguageCount && (Utils::configValue(&g_lcd_lang_valid) >> lang & 1))
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

// The colours of the pages.
const char* const kWhite = "rgb(255,255,255)";
const char* const kBlack = "rgb(0,0,0)";
const char* const kGray = "gray";
const char* const kItemGround = "rgb(33, 36, 53)";   // the items'
const char* const kPageGround = "rgb(16,16,28)";     // the pages'
const char* const kFocusColour = "rgb(255,171,84)";  // the keys are here
const char* const kEditColour = "rgb(255,0,0)";      // a value being changed, or refused
const char* const kChosenColour = "#4777FF";         // held while the keys are elsewhere
const char* const kInUseColour = "rgb(0,214,91)";    // the port in use

QString textIn(const char* colour) {
    return QString("color:%1;").arg(colour);
}
QString groundOf(const char* colour) {
    return QString("background-color:%1;").arg(colour);
}
QString line(int px, const char* colour) {
    return QString("border:%1px solid %2;").arg(px).arg(colour);
}
// A one-pixel line on the item's top, left and right, the bottom open onto what is below.
QString openAtBottom(const char* colour) {
    return QString(
               "border:1px solid;border-left-color:%1;border-right-color:%1;"
               "border-top-color:%1;")
        .arg(colour);
}
// Words on the items' colour in a one-pixel frame.
QString framed(const char* words, const char* border) {
    return textIn(words) + groundOf(kItemGround) + line(1, border);
}
// The big rounded buttons; `border` is "2px" (none drawn) or a line.
QString rounded(const char* ground, const QString& border) {
    return groundOf(ground) + "border:" + border + ";border-radius:10px;padding:2px 4px;" +
           textIn(kWhite);
}
QString focusLine(int px) {
    return QString("%1px solid %2").arg(px).arg(kFocusColour);
}
// Entries of a list: words on the items' colour, the one chosen on the chosen colour.
QString entryLook() {
    return groundOf(kItemGround) + textIn(kWhite);
}
QString pickedLook() {
    return groundOf(kChosenColour) + textIn(kWhite);
}
// The rows of a combo box's open list: the row the keys are on (the entry in force when the
// list opens) chosen, the others plain. No icon column: the words keep the list's width.
QString listRows() {
    const QString row = "QComboBox::item";
    return row + "{" + entryLook() + "}" + row + ":selected{" + pickedLook() +
           "}QComboBox{qproperty-iconSize:0px 0px;}";
}
// A combo box's frame, its arrow either without a frame or hidden, and its list's rows.
QString combo(const QString& box, const char* border, bool arrow = true) {
    return "QComboBox{" + textIn(kWhite) + box + line(1, border) + "}QComboBox:drop-down{" +
           (arrow ? "border-style:none" : "width:0px;") + "}" + listRows();
}
// An octet field of an address row: the sides that don't touch the next field.
QString octet(const char* sides) {
    QString out = textIn(kWhite) + groundOf(kItemGround);
    for (const char* side : {"top", "bottom", "left", "right"})
        if (std::strchr(sides, side[0]))
            out += QString("border-%1:1px solid %2;").arg(side, kWhite);
    return out;
}

using Sheets = std::array<QString, kStates>;
struct Table {
    Sheets sheets[kLooks];
    bool frame_only[kLooks] = {};  // scoped to the widget itself, not its children
};

Table build() {
    Table t;
    const auto look = [&t](Look l, std::initializer_list<std::pair<State, QString>> states) {
        for (const auto& s : states) t.sheets[l][s.first] = s.second;
    };
    look(kMenuWords, {{kNormal, rounded(kItemGround, "2px")},
                      {kFocus, rounded(kItemGround, focusLine(2))},
                      {kDimmed, rounded(kGray, "2px")},
                      {kDimmedFocus, rounded(kGray, focusLine(2))}});
    const QString small = ";border-radius:1px;padding:1px 1px;";
    look(kSmall, {{kNormal, groundOf(kItemGround) + "border:1px" + small},
                  {kFocus, groundOf(kItemGround) + "border:" + focusLine(1) + small}});
    look(kField, {{kNormal, framed(kWhite, kWhite)},
                  {kFocus, framed(kWhite, kFocusColour)},
                  {kEdit, framed(kWhite, kEditColour)},
                  {kDimmed, rounded(kGray, "2px")},
                  {kDimmedFocus, rounded(kGray, focusLine(2))},
                  {kChosen, textIn(kWhite) + line(1, kChosenColour)},
                  {kMarked, groundOf(kChosenColour) + textIn(kWhite) + line(1, kWhite)}});
    look(kCombo, {{kNormal, combo("", kWhite)},
                  {kFocus, combo("", kFocusColour)},
                  {kEdit, combo("", kEditColour)}});
    const QString filled = groundOf(kItemGround);
    look(kComboFilled, {{kNormal, combo(filled, kWhite)},
                        {kFocus, combo(filled, kFocusColour)},
                        {kEdit, combo(filled, kEditColour)}});
    look(kComboNoArrow, {{kNormal, combo("", kWhite, false)},
                         {kFocus, combo("", kFocusColour, false)},
                         {kEdit, combo("", kEditColour, false)}});
    look(kButton, {{kNormal, textIn(kWhite) + line(1, kWhite)},
                   {kFocus, textIn(kWhite) + line(1, kFocusColour)}});
    look(kRoutingButton,
         {{kNormal, textIn(kWhite) + line(1, kWhite)}, {kFocus, framed(kWhite, kFocusColour)}});
    // The selector is changed in place, its value held as a choice: blue while it changes.
    look(kSelector, {{kFocus, combo("", kFocusColour)}, {kEdit, combo("", kChosenColour)}});
    look(kSelectorArrow, {{kFocus, textIn(kWhite) + line(1, kFocusColour) + groundOf(kBlack)},
                          {kEdit, textIn(kWhite) + line(1, kChosenColour) + groundOf(kBlack)}});
    look(kKey, {{kNormal, groundOf(kWhite) + "border:1px;"},
                {kFocus, groundOf(kWhite) + line(1, kFocusColour)}});
    look(kKeyOk, {{kNormal, groundOf(kChosenColour) + "border:1px;"},
                  {kFocus, groundOf(kChosenColour) + line(1, kFocusColour)}});
    // No border either: a platform style would otherwise draw its own button over the cell.
    look(kGridCell,
         {{kNormal, "background-color:transparent;border:none;"},
          {kFocus, "background-color:transparent;border-radius:5px;" + line(2, kFocusColour)}});
    look(kPatternTile, {{kNormal, textIn(kWhite)}, {kFocus, line(1, kFocusColour)}});
    look(kNote, {{kNormal, textIn(kWhite)}, {kWrong, textIn(kEditColour)}});
    look(kPatternClose, {{kNormal, textIn(kWhite) + groundOf(kBlack) + line(1, kWhite)},
                         {kFocus, textIn(kWhite) + groundOf(kBlack) + line(1, kFocusColour)}});
    const std::pair<Look, const char*> octets[] = {
        {kAddressLeft, "tbl"}, {kAddressMiddle, "tb"}, {kAddressRight, "tbr"}};
    for (const auto& o : octets)
        look(o.first, {{kNormal, octet(o.second)},
                       {kFocus, framed(kWhite, kFocusColour)},
                       {kWrong, framed(kEditColour, kEditColour)},
                       {kWrongFocus, framed(kEditColour, kFocusColour)}});
    look(kAddressRow, {{kNormal, textIn(kWhite)}, {kWrong, textIn(kEditColour)}});
    const QString tabBottom = QString("border-bottom-color:%1;").arg(kPageGround);
    look(kEdidTab, {{kFocus, openAtBottom(kFocusColour) + tabBottom},
                    {kChosen, openAtBottom(kChosenColour) + tabBottom}});
    look(kLayoutFrame, {{kFocus, line(1, kFocusColour)}, {kChosen, line(1, kChosenColour)}});
    t.frame_only[kLayoutFrame] = true;
    look(kLayoutMarker,
         {{kFocus, openAtBottom(kFocusColour)}, {kChosen, openAtBottom(kChosenColour)}});
    look(kSourceTabRing, {{kNormal, "border:0px solid " + QString(kFocusColour) + ";"},
                          {kFocus, line(2, kFocusColour)},
                          {kChosen, line(2, kChosenColour)}});
    look(kCropTab, {{kFocus, groundOf(kPageGround) + openAtBottom(kFocusColour)},
                    {kChosen, groundOf(kPageGround) + openAtBottom(kChosenColour)}});
    look(kCropList, {{kFocus, groundOf(kPageGround) + line(1, kFocusColour)},
                     {kChosen, groundOf(kPageGround) + line(1, kChosenColour)}});
    t.frame_only[kCropList] = true;
    const QString small_font = "font:10px;";
    look(kCropField, {{kNormal, framed(kWhite, kWhite) + small_font},
                      {kFocus, framed(kWhite, kFocusColour) + small_font},
                      {kWrong, framed(kWhite, kEditColour) + small_font}});
    look(kCropAdd,
         {{kNormal, "border:0px solid " + QString(kBlack) + ";"}, {kFocus, line(1, kFocusColour)}});
    // The entries' words carry their own colours.
    const QString entry = entryLook();
    const QString picked = pickedLook();
    look(kScanEntry, {{kNormal, entry},
                      {kFocus, picked + line(1, kFocusColour)},
                      {kChosen, picked + line(1, kWhite)}});
    look(kListEntry, {{kNormal, entry}, {kChosen, picked}, {kMarked, picked}});
    look(kPortTile, {{kNormal, groundOf(kItemGround) + line(1, kWhite)},
                     {kMarked, groundOf(kItemGround) + line(1, kInUseColour)}});
    return t;
}

const Table& table() {
    static const Table t = build();
    return t;
}

const char* const kLookProperty = "styleLook";
const char* const kStateProperty = "styleState";

bool valid(Look look, State state) {
    return look >= 0 && look < kLooks && state >= 0 && state < kStates;
}

// The sheet as apply sets it on w.
QString drawn(const QWidget* w, Look look, State state) {
    const QString& s = sheet(look, state);
    if (!table().frame_only[look] || s.isEmpty()) return s;
    return "#" + w->objectName() + "{" + s + "}";
}

}  // namespace

const QString& sheet(Look look, State state) {
    static const QString kNone;
    return valid(look, state) ? table().sheets[look][state] : kNone;
}

void apply(QWidget* w, Look look, State state) {
    if (sheet(look, state).isEmpty())
        qWarning("style: look %d has no sheet for state %d", int(look), int(state));
    // A sheet for the frame alone is scoped to its name, which it needs for that.
    if (valid(look, state) && table().frame_only[look] && w->objectName().isEmpty())
        w->setObjectName("styled_frame");
    w->setStyleSheet(drawn(w, look, state));
    w->setProperty(kLookProperty, int(look));
    w->setProperty(kStateProperty, int(state));
}

Look lookOf(const QWidget* w) {
    const QVariant v = w->property(kLookProperty);
    return v.isValid() ? Look(v.toInt()) : kLooks;
}

State stateOf(const QWidget* w) {
    const Look look = lookOf(w);
    if (look == kLooks) return kNormal;
    const State state = State(w->property(kStateProperty).toInt());
    return valid(look, state) && w->styleSheet() == drawn(w, look, state) ? state : kStates;
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
      look(look),
      normal_state(dimmed ? panel_style::kDimmed : panel_style::kNormal),
      focus_state(dimmed ? panel_style::kDimmedFocus : panel_style::kFocus) {}

FocusRing::Item::Item(QWidget* w, panel_style::Look look, panel_style::State normal_as,
                      panel_style::State focus_as)
    : widget(w), look(look), normal_state(normal_as), focus_state(focus_as) {}

namespace {
void draw(const FocusRing::Item& item, bool focused) {
    panel_style::apply(item.widget, item.look, focused ? item.focus_state : item.normal_state);
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

void PageFrame::beforeNewLanguage() {
    closeListsForNewLanguage();
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
