// Reports of the USB front keypad, a HID keyboard: the key usages of each 8-byte report become
// key presses and releases (as the kernel's HID input makes them) on the page in front of the
// offscreen panel, through the pages, the number keypad and the tips they open in nested loops.
// Bit 0 of a report's modifier byte lets 10 ticks pass. After the last report, Back keys and
// ticks close whatever is open, so the next input starts at the home screen or the main menu.
#include <QApplication>
#include <QKeyEvent>
#include <QThread>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "common/fuzz_box.h"
#include "core/globals.h"
#include "core/sync_update.h"
#include "core/zem_ram_para.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/main_window.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/panel_frame.h"
#include "ui/shell/tip.h"

namespace {

constexpr int kTick = -1;  // a step that lets time pass instead of a key
constexpr int kMostBacks = 50;
// Refreshes that the keys queued may still open a tip: a run ends only after this many turns
// behind everything queued found nothing open.
constexpr int kSettleTurns = 3;

// The Qt key of a HID keyboard usage, 0 for one the panel has no use for.
int qtKey(uint8_t usage) {
    if (usage >= 0x04 && usage <= 0x1D) return Qt::Key_A + (usage - 0x04);
    if (usage >= 0x1E && usage <= 0x26) return Qt::Key_1 + (usage - 0x1E);
    if (usage == 0x27) return Qt::Key_0;
    if (usage >= 0x3A && usage <= 0x45) return Qt::Key_F1 + (usage - 0x3A);
    switch (usage) {
        case 0x28:
            return Qt::Key_Return;
        case 0x29:
            return Qt::Key_Escape;
        case 0x4F:
            return Qt::Key_Right;
        case 0x50:
            return Qt::Key_Left;
        case 0x51:
            return Qt::Key_Down;
        case 0x52:
            return Qt::Key_Up;
        default:
            return 0;
    }
}

// Where the box's key events go: the topmost modal window (a page, the number keypad or a tip,
// each in its own nested loop) takes them all; else the page in front, else the main menu,
// which stays shown under every page.
QWidget* front() {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    if (PageFrame* page = panel::front()) return page->widget();
    return g_mainwindow;
}

void key(QEvent::Type type, int code) {
    if (QWidget* w = front()) {
        QKeyEvent e(type, code, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }
}

void ticks(int n) {
    for (int i = 0; i < n; ++i) g_mainwindow->slot_update_timer_ticks();
}

// Takes one step per posted event, so that the steps go on inside any nested loop a key opens.
class Feeder : public QObject {
public:
    struct Step {
        QEvent::Type type;
        int code;
    };
    void run(std::deque<Step> steps) {
        steps_ = std::move(steps);
        closing_ = 0;
        settled_ = 0;
        base_ = QThread::currentThread()->loopLevel() + 1;
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
        loop_.exec();
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User) return QObject::event(e);
        const bool nested = QThread::currentThread()->loopLevel() > base_;
        if (steps_.empty() && !nested && ++settled_ > kSettleTurns) {
            loop_.quit();
            return true;
        }
        // Posted before the step: a key may open a page whose nested loop takes the next one.
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
        if (!steps_.empty()) {
            const Step s = steps_.front();
            steps_.pop_front();
            s.code == kTick ? ticks(10) : key(s.type, s.code);
        } else if (nested) {
            close();
        }
        return true;
    }

private:
    // One turn of closing what is open after the last report.
    void close() {
        settled_ = 0;
        if (++closing_ > kMostBacks) {
            std::fprintf(stderr, "fuzz_keypad: page %d stays open after %d Back keys\n",
                         int(g_page_focus), kMostBacks);
            std::abort();
        }
        if (g_tip_flag) {
            ticks(TIP::kShowTicks);  // a tip closes only when its time is up
            return;
        }
        key(QEvent::KeyPress, kKeyBack);
        key(QEvent::KeyRelease, kKeyBack);
    }

    std::deque<Step> steps_;
    QEventLoop loop_;
    int base_ = 0;
    int closing_ = 0;
    int settled_ = 0;
};

Feeder* startPanel() {
    static int argc = 1;
    static char name[] = "fuzz_keypad";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    new QApplication(argc, argv);
    fuzz::startBox();
    panelSetFont();
    g_lcd_lang_valid = 0x1F;
    g_zem_keys = 0;
    // As the program starts the panel, refreshes reaching the hub on this thread.
    panel::start();
    SyncUpdate::connectStore(ZemRamPara::pInstance());
    return new Feeder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Feeder* feeder = startPanel();
    std::deque<Feeder::Step> steps;
    std::array<uint8_t, 6> held{};
    for (size_t at = 0; at + 8 <= size; at += 8) {
        const uint8_t* report = data + at;
        if (report[0] & 1) steps.push_back({QEvent::None, kTick});
        std::array<uint8_t, 6> now;
        std::memcpy(now.data(), report + 2, 6);
        for (uint8_t u : held)
            if (u && std::find(now.begin(), now.end(), u) == now.end() && qtKey(u))
                steps.push_back({QEvent::KeyRelease, qtKey(u)});
        for (uint8_t u : now)
            if (u && std::find(held.begin(), held.end(), u) == held.end() && qtKey(u))
                steps.push_back({QEvent::KeyPress, qtKey(u)});
        held = now;
    }
    for (uint8_t u : held)  // the keypad unplugged: every key comes up
        if (u && qtKey(u)) steps.push_back({QEvent::KeyRelease, qtKey(u)});
    feeder->run(std::move(steps));
    return 0;
}
