// The panel under the offscreen platform, driven as a person would: a simulated box with a fake
// clock and a fresh parameter store, the main menu with the home screen over it as at start,
// keys and touches on the page in front, the 10 ms tick by hand, sessions of steps that run
// inside the nested loops the pages and tips open (with a watchdog), and screenshots of the
// panel under the build folder. Each failure of a case says which page was in front.
#pragma once

#include <QApplication>
#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/zem_ram_para.h"
#include "sim_fixture.h"
#include "ui/shell/panel_frame.h"

class QLabel;

// gtest prints a QString as its text.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

// The picture a label shows, in a format to compare with another.
QImage icon(const QLabel* l);

// The Qt application of a test program (offscreen, with the panel's font).
QApplication& panelApp();

// Takes every C331 apply the panel raised, as the C331 thread would: how many were pending.
int takeApply();

class PanelTest : public SimBoxTest {
protected:
    using Step = std::function<void()>;
    // A step of a session: an action, or a wait until a condition holds (events keep running,
    // so a refresh from a worker can open its tip meanwhile).
    struct Item {
        Item(Step s) : run(std::move(s)) {}
        template <class F, class = decltype(Step(std::declval<F>()))>
        Item(F f) : run(std::move(f)) {}
        static Item until(std::function<bool()> ready) {
            Item i([] {});
            i.ready = std::move(ready);
            return i;
        }
        Step run;
        std::function<bool()> ready;
    };

    void SetUp() override;
    void TearDown() override;

    // The panel as the program starts it (the main menu, then the home screen over it).
    void startPanel();
    // Deletes what startPanel made (a test that starts the panel more than once).
    void stopPanel();

    // A key pressed and released on the page in front (the front keys or keypad letters).
    void key(int code);
    void keys(std::initializer_list<int> codes);
    // Runs `press` until `done` holds, at most max_presses times; when it still does not hold, or
    // no page takes keys, the test fails naming `awaited` and the page in front.
    void pressUntil(const std::function<void()>& press, const std::function<bool()>& done,
                    const std::string& awaited, int max_presses = 20);
    // pressUntil with a key.
    void keyUntil(int code, const std::function<bool()>& done, const std::string& awaited,
                  int max_keys = 20);
    // Back until `open` no longer holds: a page and every page over it closed.
    void backUntilGone(const std::function<bool()>& open, const std::string& page,
                       int max_keys = 20);
    // The page in front as a failure names it: its id and class, or that none takes keys.
    static std::string pageInFront();
    // A touch on a visible button of the page in front, by object name.
    void click(const QString& name);
    // A touch at a point of the panel as the box's touch screen gives it, to the window on top
    // there, which hands it on as Qt does; pressed and released at once, before other queued
    // events (a session's next step).
    void touch(QPoint at);
    // The point of the panel at the centre of a shown widget, or of a rectangle in it.
    static QPoint panelPoint(const QWidget* w);
    static QPoint panelPoint(const QWidget* w, const QRect& inside);
    // On the open number keypad: Right to an item (0-8 the digits 1-9, 9 the 0, 13 OK), then OK.
    void pressKeypad(int item);
    // Digits typed on the open number keypad with the front keys, then its OK.
    void typeOnKeypad(const QString& digits);
    // The main menu's tick, n times.
    void tick(int n);
    // A refresh id, as a worker raises it (queued), then the events it causes.
    void refresh(int id);
    // The PC's language change: RAM 768 written as the PC writes it, then its apply's refresh,
    // queued (a step waits for it with languageIs).
    void pcLanguage(uint8_t language);
    static Item languageIs(uint8_t language);
    // Runs pending events (queued refreshes, deferred deletes).
    void settle();
    // Runs each step after the one before, inside whatever nested loop that one opened (a page,
    // a tip); the test fails, and every loop is closed, when they have not all run and returned
    // within timeout_ms, scaled by the time factor (time_factor.h), or when a step throws
    // (Missing), naming the page in front; after a fatal failure (a stuck session, a failed
    // assertion, in a step or before) it runs nothing more.
    void session(std::vector<Item> steps, int timeout_ms = 10000);

    // The panel as a person sees it, and the same saved as <Suite>.<Test>-<state>.png.
    QImage panelImage() const;
    void shot(const QString& state);
    // The page in front's words in each language: retext after g_language is set, then each
    // named label or button reads its word of that language's row; a screenshot
    // <shot_prefix>-<language> of each. Ends in language 0.
    void wordsInEachLanguage(const std::function<void()>& retext, std::vector<const char*> names,
                             std::vector<std::vector<const char*>> rows,
                             const QString& shot_prefix);

    // What a test reached for that is not there (a widget, a page not open), thrown so that the
    // test fails there, naming it and the page in front, instead of going on with a null
    // pointer; a session ends on it as when stuck.
    struct Missing : std::runtime_error {
        explicit Missing(const std::string& what);
    };
    // The page in front, or the number keypad while it is open over it.
    QWidget* front() const;
    // A widget of front() by object name, or nullptr (a test of absence).
    template <class T = QWidget>
    T* find(const QString& name) const {
        QWidget* page = front();
        return page ? page->findChild<T*>(name) : nullptr;
    }
    // find for a widget the test goes on to use: Missing when there is none.
    template <class T = QWidget>
    T* widget(const QString& name) const {
        if (T* w = find<T>(name)) return w;
        throw Missing(std::string("no ") + T::staticMetaObject.className() + " " +
                      name.toStdString());
    }
    // A page through its global (g_inputcut): Missing when it is not open.
    template <class P>
    static P* opened(P* page) {
        if (page) return page;
        throw Missing(std::string(P::staticMetaObject.className()) + " not open");
    }
    ZemRamPara& store() const { return *ZemRamPara::p_zemrampara_config; }
    // A source's timing word (RAM 256..291), as the source thread writes it.
    void setTimingWord(int addr, uint16_t v) const {
        zem::MutexLocker lock(store().mutex);
        store().set_timing16(addr, v);
    }
    // The texts under root that do not fit their widget: what a shown label, button or combo
    // draws, by where its ink falls (antialiased edges too) against the part of the widget it is
    // drawn in (a combo's field less its arrow), and a shown line edit's text in its font; each
    // as "object name: text (needed w x h in w x h)"; empty when all fit.
    static std::vector<std::string> textsNotFitting(QWidget* root);
    // The fields under root (shown line edits and combos) that cross their parent's edge or
    // run over a sibling's words, each as one line naming them; empty when none.
    static std::vector<std::string> widgetsCrossing(QWidget* root);
    // The words under root whose ink falls on or outside the border of the frame they sit in
    // (a shown label or button in a frame drawn with a border), each as one line; empty when
    // none.
    static std::vector<std::string> textsOverBorders(QWidget* root);
    // The size in pixels of the smallest font each shown label, button or combo under root
    // draws its words in, by the widget's path of object names from root ("Button_x/words").
    static std::map<std::string, int> textSizes(QWidget* root);
    // The items drawn from the style table that show no sheet of it: a look in a state it has
    // no sheet for (each time apply was asked for one since the last call), or a sheet of the
    // page's own set over the table's; empty when none. Every screenshot checks them.
    static std::vector<std::string> styleFaults();
    // Expects no style fault now; `when` names the moment in the failure.
    static void expectDrawnFromTable(const std::string& when);
    // A saved user-mode slot whose payload has `marker` at RAM address 2000, as the panel sees
    // it after a refresh.
    void saveSlot(int slot, uint8_t marker);
};
