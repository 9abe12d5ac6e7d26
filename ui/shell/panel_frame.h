// The frame every panel page lives in: the page base, where each page's global pointer lives,
// opening a page in a nested loop and Back to its parent, the Mode shortcut, the five front keys
// with their keypad letter twins, the keypad's own letters, the in-page focus ring, the language
// in force with its pictures and texts, and the shared colours and styles.
#pragma once

#include <QKeyEvent>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/globals.h"
#include "core/page_table.h"
#include "core/sync_update.h"
#include "core/zem_ram_para.h"
#include "ui/shell/panel_view.h"
#include "ui/shell/picture_names.h"

class QAbstractButton;
class QLabel;

// The front keys (Qt key codes) and their letter twins on the USB keypad.
enum PanelKey : int {
    kKeyLeft = 0x01000033,
    kKeyRight = 0x01000034,
    kKeyOk = 0x01000035,
    kKeyMode = 0x01000063,
    kKeyBack = 0x010000B7,
};
enum class KeyAction { Left, Right, Ok, Mode, Back, Other };
KeyAction keyAction(int key);
// The press trace of a window of the panel: a line naming it for OK and Back.
void traceKeyPress(const char* className, int key);

extern uint8_t g_mode_shortcut_key;  // the user-mode page was opened by the Mode shortcut

// The keypad's letters 'A'..'P': window, source, freeze and black of the selected window.
class zem_keyboard {
public:
    void update_usb_keyEvent(int key) EXCLUDES(c331_manage::c331_mutex);
};

// Parameter RAM 772: while not 0 the keypad letters and the Mode key do nothing.
bool keyLocked() EXCLUDES(c331_manage::c331_mutex);

// ---- Languages: 0 Simplified Chinese, 1 English, 2 Russian, 3 Vietnamese, 4 Traditional
// Chinese. ----
constexpr int kLanguageCount = 5;
// The language in force: g_language when its bit is set in g_lcd_lang_valid, else English.
int panelLanguage();
// A text of the five languages, in the language in force.
using Texts = const char* const[kLanguageCount];
QString text(const Texts& texts);
// ":/png/" + language prefix + name + ".png"; pictureOf without prefix (pictures without words).
QString picture(PictureName name);
QString pictureOf(PictureName name);
// Sets a label's picture scaled to the label, or a button's icon at the given size; the button
// keeps the icon's file name in its property kIconFileProperty (pictures of two names may look
// alike).
extern const char* const kIconFileProperty;
void setPicture(QLabel* label, const QString& file);
void setIcon(QAbstractButton* button, const QString& file, int w, int h);
// Sets a one-line label's text, elided at the right ("…") where the label's font and width cannot
// hold it whole. Call once the label has its geometry and style.
void setFittedText(QLabel* label, const QString& text);
// Sets a label's or a button's text whole, in a smaller font where the widget's own font cannot
// hold it (down to 6 points); a later shorter text takes the widget's own font again.
void setShrunkText(QLabel* label, const QString& text);
void setShrunkText(QAbstractButton* button, const QString& text);

// The application font: one family that draws all five languages.
extern const char* const kPanelFontFamily;
void panelSetFont();

// ---- The named styles of the pages' items, one table for all pages. ----
namespace panel_style {
// How an item looks; the table gives each look a sheet for each state it can be in.
enum Look : int {
    kMenuWords,      // big rounded menu button, with words or a picture
    kSmall,          // small item of the main menu
    kField,          // framed item on the items' colour: field, button, wizard item
    kCombo,          // combo box
    kComboFilled,    // combo box on the items' colour (colour temperature)
    kComboNoArrow,   // combo box with no drop-down arrow (other settings)
    kButton,         // framed button with words, on the page's colour
    kRoutingButton,  // routing picture of the smart-mapping wizard: on the page's colour until
                     // focused
    kSelector,       // the custom-mode selector's box
    kSelectorArrow,  // the selector's "<" and ">", drawn with its box
    kKey,            // key of the number keypad
    kKeyOk,          // the keypad's OK key
    kGridCell,       // cell of the SAVE/CALL grid (its colour is drawn beneath it)
    kPatternTile,    // picture tile of the test pattern page
    kPatternClose,   // the test pattern page's Close button
    kAddressLeft,    // first octet field of an address row (Ethernet page)
    kAddressMiddle,  // middle octet field
    kAddressRight,   // last octet field
    kAddressRow,     // the name of an address row
    kEdidTab,        // the EDID page's ring around the tab row, open at the bottom
    kLayoutFrame,    // a frame around a group of values (drawn on the frame, not its children)
    kLayoutMarker,   // a mark open at the bottom over a chosen picture or group
    kSourceTabRing,  // the ring around the source page's tab (normal: hidden)
    kCropTab,        // the crop editor's ring around the chosen source tab
    kCropList,       // the crop editor's frame of the crops (drawn on the frame only)
    kCropField,      // field and button of the crop editor's form
    kCropAdd,        // the crop editor's add button
    kScanEntry,      // entry of the smart-mapping wizard's scan-file list
    kListEntry,      // entry of the job pages' lists
    kPortTile,       // output port tile of the smart-mapping wizard
    kNote,           // a line of words on the page's colour (wrong: a value the box did not take)
    kLooks
};
// One meaning each, whatever the page:
//   focus: the keys are on the item;
//   edit: the item's value is being changed by the keys;
//   dimmed: the item can't be chosen now;
//   wrong: the value typed or stored was refused;
//   chosen: the item holds the choice while the keys are elsewhere (a tab or a wizard step whose
//     entries have the keys, an entry picked by touch);
//   marked: the item is drawn as the current one of its kind (the group whose ports are shown,
//     the port in use, a file the job will write).
enum State : int {
    kNormal,
    kFocus,
    kEdit,
    kDimmed,
    kDimmedFocus,
    kWrong,
    kWrongFocus,
    kChosen,
    kMarked,
    kStates
};
// The style sheet of a look in a state; empty where the look has no such state. A look drawn on
// its frame only gets the sheet scoped to the widget's name when applied.
const QString& sheet(Look look, State state);
// Draws w in a look and state, and keeps both on w.
void apply(QWidget* w, Look look, State state);
// The state w shows from the table: what apply or a focus ring drew last (kNormal when never),
// or kStates when w was restyled since by a sheet of its own.
State stateOf(const QWidget* w);
// The look w was last drawn in from the table, or kLooks when never.
Look lookOf(const QWidget* w);
}  // namespace panel_style

// The focus of a page with levels (a list, then the entries of one of its items): the level,
// the index on each level (kept while a lower level is shown), and one saved index the page
// gives its own meaning (the chosen tab, say). The page's traces print index().
struct LevelFocus {
    static constexpr int kLevels = 3;
    uint8_t level = 0;
    uint8_t select[kLevels] = {};
    uint8_t saved = 0;

    uint8_t& index() { return select[level]; }
    uint8_t index() const { return select[level]; }
    // One level down, the focus on `to`; the index of the level left stays for up().
    void down(uint8_t to = 0);
    // One level up, back on that level's index; false on the top level.
    bool up();
};

// The in-page focus: a ring of items, each with its own normal and focus style.
class FocusRing {
public:
    struct Item {
        // An item drawn from the table, dimmed or not.
        Item(QWidget* w, panel_style::Look look, bool dimmed = false);
        // An item of the table drawn in other states than normal and focus.
        Item(QWidget* w, panel_style::Look look, panel_style::State normal_as,
             panel_style::State focus_as);
        QWidget* widget;
        panel_style::Look look;
        panel_style::State normal_state = panel_style::kNormal;
        panel_style::State focus_state = panel_style::kFocus;
    };
    // Takes a new list and puts the focus on `index` (styling every item).
    void setItems(std::vector<Item> items, int index = 0);
    // Moves the focus by +1 or -1, wrapping at both ends.
    void move(int step);
    void select(int index);
    // Drops the focus style (the ring keeps its index).
    void clearFocus();
    QWidget* focused() const;
    int size() const { return int(items_.size()); }

    uint8_t ui_select = 0;

private:
    std::vector<Item> items_;
};

// What every page offers the frame. The page's own key handler hands each released key to
// dispatchKey, which traces it, acts through the hooks and passes it on to the keypad.
class PageFrame : public SyncPage {
public:
    PageFrame(QWidget* self, int id);
    virtual ~PageFrame() = default;
    void beforeNewLanguage() override;
    void retext() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        languageRefresh();
    }

    // Re-texts the page in the language in force and re-reads its shown values.
    virtual void language_changed()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) = 0;
    QWidget* widget() const { return self_; }
    int pageId() const { return id_; }

protected:
    // Runs work that may close this page: a nested loop (a tip, the number keypad, a child
    // page), where refreshes, keys and the Mode shortcut run, or a refresh's own steps. True
    // when the page is still the open page of its id afterwards; the caller then re-reads what
    // it held before. False: the caller returns at once and touches nothing of the page.
    bool staysOpen(const std::function<void()>& work);
    // What a new language does to the page; pages with more to do than re-texting add it here.
    virtual void languageRefresh()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        language_changed();
    }
    void dispatchKey(int key) EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void tracePress(int key) const;
    virtual void keyLeft() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        focus.move(-1);
    }
    virtual void keyRight() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        focus.move(+1);
    }
    virtual void keyOk() EXCLUDES(c331_manage::c331_mutex,
                                  ZemRamPara::pInstance()->mutex);  // clicks the focused button
    virtual void keyMode() EXCLUDES(c331_manage::c331_mutex);
    virtual void keyBack() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) = 0;
    // The focus index the traces print (pages with levels keep their own).
    virtual int focusIndex() const { return focus.ui_select; }

    FocusRing focus;
    zem_keyboard keypad;
    const char* class_name_;

private:
    QWidget* self_;
    int id_;
};

namespace panel_detail {
// The page's own refresh steps: syncUpdate(id) where the page takes the id, else syncUpdate(),
// none where the page has no steps beyond the language.
template <class P>
auto refresh(P* page, int id, int) -> decltype(page->syncUpdate(id), void()) {
    page->syncUpdate(id);
}
template <class P>
auto refresh(P* page, int, long) -> decltype(page->syncUpdate(), void()) {
    page->syncUpdate();
}
template <class P>
void refresh(P*, int, ...) {}
}  // namespace panel_detail

// The base of every page: a frameless 320 x 240 top-level Widget (QDialog, QMainWindow) whose
// keys, trace name and refresh go through the frame. A page writes only its hooks:
//   class Option : public PanelPage<QDialog, Option> { ... };
//   Option::Option(QWidget* parent) : PanelPage(kPageOption, parent), ui(new Ui::Option) {...}
template <class Widget, class Self>
class PanelPage : public Widget, public PageFrame {
public:
    PanelPage(int id, QWidget* parent) : Widget(parent), PageFrame(this, id) {
        this->setWindowFlags(this->windowFlags() | Qt::FramelessWindowHint);
        this->setFixedSize(320, 240);
    }
    void refreshPage(int id) override { panel_detail::refresh(static_cast<Self*>(this), id, 0); }

protected:
    void keyPressEvent(QKeyEvent* e) override { tracePress(e->key()); }
    void keyReleaseEvent(QKeyEvent* e) override
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        dispatchKey(e->key());
    }
};

// ---- Pages by id. ----
namespace panel {

template <class Page>
void open(Page*& global, int id);

struct PageSlot {
    PageFrame* (*get)();  // the page's global pointer
    void (*clear)();      // sets it to 0
    void (*open)();       // opens the page in a nested loop (null: shown, not opened)
};
// How the frame and the refresh hub reach page id.
bool registerPage(int id, PageSlot slot);
// A page opened with open() from its parent: registerPage<kPageOption, Option, g_option>();
template <int Id, class Page, Page*& global>
bool registerPage() {
    return registerPage(Id, {[]() -> PageFrame* { return global; }, [] { global = nullptr; },
                             [] { open(global, Id); }});
}
// A page of its own: registered, and opened by the frame with that id.
bool registered(int id);
void openRegistered(int id);
// Every page of the program, from the one table of page units (called by start()).
void registerPages();
// The open page with that id, or null.
PageFrame* page(int id);
// The page in front (by g_page_focus).
inline PageFrame* front() {
    return page(g_page_focus);
}
// Where Back from page id leads now.
int parentOf(int id);

// The panel as the program starts it, in two steps: the main menu (with its number keypad and
// tip, the tip installed on the refresh hub), then the main menu shown with the home screen
// over it and the keypad placed on the right half. start() makes the menu when not made yet.
void createMenu() EXCLUDES(c331_manage::c331_mutex);
void start() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

// Opening (in the opener's slot): a new page with no parent in its global pointer, the page id,
// then the page's nested loop; returns once it has closed. Nothing opens under the upgrade
// overlay.
template <class Page>
void open(Page*& global, int id) {
    if (overlayShown()) return;
    global = new Page(nullptr);
    g_page_focus = uint8_t(id);
    global->exec();
}

// Back: the page closes (deleted once the loop regains control), its pointer becomes 0, the
// parent the page table names re-texts itself, and the parent's id comes to the front last.
void back(PageFrame* page) EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

// The Mode shortcut from the page in front: closes the open chain above the main menu (or the
// home screen), then shows the user-mode page. Nothing while the key lock is on.
void modeShortcut() EXCLUDES(c331_manage::c331_mutex);

}  // namespace panel
