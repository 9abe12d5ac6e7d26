#include "page_driver.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "core/sync_update.h"
#include "platform/clock.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/main_window.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/panel_view.h"
#include "ui/shell/tip.h"
#include "ui/system/firmware_update.h"

QApplication& panelApp() {
    static int argc = 1;
    static char name[] = "panel_tests";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        panelSetFont();
        return a;
    }();
    return *app;
}

namespace {

// What the style table reported while a case ran: a look drawn in a state it has no sheet for.
std::vector<std::string> g_style_reports;
QtMessageHandler g_next_handler = nullptr;

void keepStyleReports(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith("style:"))
        g_style_reports.push_back(message.toStdString());
    if (g_next_handler) g_next_handler(type, context, message);
}

}  // namespace

void PanelTest::SetUp() {
    SimBoxTest::SetUp();
    panelApp();
    g_style_reports.clear();
    g_next_handler = qInstallMessageHandler(keepStyleReports);
    platform::installClock(std::make_unique<platform::FakeClock>());
    g_debugSwitch = 0;
    g_lcd_lang_valid = 0x1F;
    g_page_focus = 0;
    g_image_current = 0;
    g_zem_keys = 0;
    g_mode_shortcut_key = 0;
    G_timeTicks = 0;
    // A fresh store from this test's root (test programs run several cases in one process).
    delete ZemRamPara::p_zemrampara_config;
    ZemRamPara::p_zemrampara_config = nullptr;
    ZemRamPara* store = ZemRamPara::pInstance();
    store->ram[ZemRamPara::kRamLanguage] = 1;  // English unless a test chooses
    g_language = 1;
    std::memcpy(store->shadow, store->ram, sizeof store->ram);
    SyncUpdate::connectStore(store);
}

void PanelTest::TearDown() {
    expectDrawnFromTable("at the end");
    qInstallMessageHandler(g_next_handler);
    stopPanel();
    platform::installClock(nullptr);
    SimBoxTest::TearDown();
}

void PanelTest::stopPanel() {
    delete g_lockwindow;
    g_lockwindow = nullptr;
    delete g_mainwindow;
    g_mainwindow = nullptr;
    delete g_tip;
    g_tip = nullptr;
    delete g_numberkeyboard;
    g_numberkeyboard = nullptr;
    delete g_move_update;
    g_move_update = nullptr;
    g_update_flag = 0;
    settle();
}

void PanelTest::startPanel() {
    panel::start();
    settle();
}

QWidget* PanelTest::front() const {
    return panel::keyTarget();
}

void PanelTest::key(int code) {
    // The window the box's keys reach, so a modal tip or keypad blocks the page beneath.
    QWindow* window = panel::keyWindow();
    ASSERT_NE(window, nullptr) << "no page in front (id " << int(g_page_focus) << ")";
    const QString text = code < Qt::Key_Escape ? QString(QChar(code)) : QString();
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QCoreApplication::sendEvent(window, &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
    QCoreApplication::sendEvent(window, &release);
}

void PanelTest::keys(std::initializer_list<int> codes) {
    for (int c : codes) key(c);
}

void PanelTest::click(const QString& name) {
    QWidget* page = front();
    ASSERT_NE(page, nullptr);
    for (QAbstractButton* b : page->findChildren<QAbstractButton*>(name)) {
        if (b->isVisibleTo(page) && page->isVisible()) {
            b->click();
            return;
        }
    }
    ADD_FAILURE() << "no visible button " << name.toStdString() << " on page " << int(g_page_focus);
}

void PanelTest::touch(QPoint at) {
    ASSERT_TRUE(panel::postTouch(at)) << "nothing of the panel at " << at.x() << ", " << at.y();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QCoreApplication::sendPostedEvents(nullptr, type);
}

QPoint PanelTest::panelPoint(const QWidget* w) {
    return panelPoint(w, w->rect());
}

QPoint PanelTest::panelPoint(const QWidget* w, const QRect& inside) {
    return w->mapToGlobal(inside.center()) - (g_mainwindow ? g_mainwindow->pos() : QPoint());
}

void PanelTest::pressKeypad(int item) {
    ASSERT_TRUE(g_numberkeyboard->isVisible());
    for (int n = 0; n < 14 && g_numberkeyboard->ui_select() != item; ++n) key(kKeyRight);
    ASSERT_EQ(g_numberkeyboard->ui_select(), item);
    key(kKeyOk);
}

void PanelTest::typeOnKeypad(const QString& digits) {
    constexpr int kOk = 13;
    for (const QChar c : digits) pressKeypad(c == '0' ? 9 : c.digitValue() - 1);
    pressKeypad(kOk);
}

void PanelTest::tick(int n) {
    for (int i = 0; i < n; ++i) g_mainwindow->slot_update_timer_ticks();
}

void PanelTest::refresh(int id) {
    QMetaObject::invokeMethod(SyncUpdate::pInstance(), "para_sync", Qt::QueuedConnection,
                              Q_ARG(int, id));
    settle();
}

void PanelTest::pcLanguage(uint8_t language) {
    {
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        store().ram[ZemRamPara::kRamLanguage] = language;
        store().ram[ZemRamPara::kRamLanguage + 1] = 0;
    }
    QMetaObject::invokeMethod(SyncUpdate::pInstance(), "para_sync", Qt::QueuedConnection,
                              Q_ARG(int, 1));
}

PanelTest::Item PanelTest::languageIs(uint8_t language) {
    return Item::until([language] { return g_language == language; });
}

void PanelTest::settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

void PanelTest::session(std::vector<Item> steps, int timeout_ms) {
    struct State {
        std::deque<Item> queue;
        int started = 0;
        int returned = 0;
        std::function<void()> runNext;
    };
    auto st = std::make_shared<State>();
    st->queue.assign(steps.begin(), steps.end());
    State* s = st.get();
    // Each step posts its successor first, so the successor runs inside the loop the step
    // opens, or after it when it opens none.
    const std::weak_ptr<State> weak = st;
    auto post = [weak](int ms) {
        QTimer::singleShot(ms, [weak] {
            auto alive = weak.lock();
            if (alive && alive->runNext) alive->runNext();
        });
    };
    s->runNext = [s, post] {
        if (s->queue.empty()) return;
        if (s->queue.front().ready && !s->queue.front().ready()) {
            post(5);
            return;
        }
        Step step = s->queue.front().run;
        s->queue.pop_front();
        post(0);
        ++s->started;
        step();
        ++s->returned;
    };
    // Past the time: fail, drop the rest and close every modal loop so the steps return.
    QTimer unwinder;
    unwinder.setInterval(20);
    QObject::connect(&unwinder, &QTimer::timeout, [] {
        g_tip_flag = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QDialog*>(w)) d->hide();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    timeout_ms = hangMs(timeout_ms);
    QObject::connect(&watchdog, &QTimer::timeout, [s, &unwinder, timeout_ms] {
        ADD_FAILURE() << "session stuck: " << s->returned << " steps returned, "
                      << s->started - s->returned << " still in a loop, " << s->queue.size()
                      << " not run after " << timeout_ms << " ms";
        s->queue.clear();
        unwinder.start();
    });
    watchdog.start(timeout_ms);
    post(0);
    while (!s->queue.empty() || s->started != s->returned)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    s->runNext = nullptr;
    settle();
}

QImage PanelTest::panelImage() const {
    return panel::image();
}

void PanelTest::shot(const QString& state) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString dir = ZEM_SCREENSHOT_DIR;
    QDir().mkpath(dir);
    const QString file =
        QString("%1/%2.%3-%4.png").arg(dir, info->test_suite_name(), info->name(), state);
    EXPECT_TRUE(panelImage().save(file)) << file.toStdString();
    expectDrawnFromTable(state.toStdString());
}

void PanelTest::wordsInEachLanguage(const std::function<void()>& retext,
                                    std::vector<const char*> names,
                                    std::vector<std::vector<const char*>> rows,
                                    const QString& shot_prefix) {
    ASSERT_EQ(rows.size(), size_t(kLanguageCount));
    for (int lang = 0; lang < kLanguageCount; ++lang) {
        SCOPED_TRACE(lang);
        g_language = uint8_t(lang);
        retext();
        ASSERT_EQ(rows[lang].size(), names.size());
        for (size_t i = 0; i < names.size(); ++i) {
            SCOPED_TRACE(names[i]);
            EXPECT_EQ(find<QWidget>(names[i])->property("text").toString(),
                      QString::fromUtf8(rows[lang][i]));
        }
        shot(QString("%1-%2").arg(shot_prefix).arg(lang));
    }
    g_language = 0;
}

void PanelTest::expectDrawnFromTable(const std::string& when) {
    EXPECT_EQ(styleFaults(), std::vector<std::string>()) << when;
}

std::vector<std::string> PanelTest::styleFaults() {
    std::vector<std::string> out;
    out.swap(g_style_reports);
    for (const QWidget* w : QApplication::allWidgets()) {
        const panel_style::Look look = panel_style::lookOf(w);
        if (look == panel_style::kLooks) continue;
        const panel_style::State state = panel_style::stateOf(w);
        const QString name = QString("%1 (look %2)").arg(w->objectName()).arg(int(look));
        if (state == panel_style::kStates)
            out.push_back((name + ": restyled by a sheet of its own").toStdString());
        else if (panel_style::sheet(look, state).isEmpty())
            out.push_back(
                QString("%1: no sheet for state %2").arg(name).arg(int(state)).toStdString());
    }
    return out;
}

void PanelTest::saveSlot(int slot, uint8_t marker) {
    uint8_t* m = store().mode_ram[slot];
    std::memcpy(m + 2, store().ram + ZemRamPara::kModePayloadStart, ZemRamPara::kModePayloadSize);
    m[0] = m[1] = 0xAA;
    m[2 + 2000 - ZemRamPara::kModePayloadStart] = marker;
}

namespace {

// The size a label's text needs, laid out as the label lays it out.
QSize labelNeeds(const QLabel* label, const QRect& room) {
    const bool rich = label->textFormat() == Qt::RichText ||
                      (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
    if (!rich) {
        // Lines are laid out at the font's full height, placed by the label's alignment; the ink
        // of the text must fit where it is drawn, the empty room above and below the glyphs may
        // be cut.
        const QFontMetrics fm(label->font());
        const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        const QRect laid = fm.boundingRect(room, flags, label->text());
        const QStringList lines = label->text().split('\n');
        const int inkTop = laid.top() + fm.ascent() + fm.tightBoundingRect(lines.first()).top();
        const int inkBottom = laid.top() + fm.lineSpacing() * (lines.size() - 1) + fm.ascent() +
                              fm.tightBoundingRect(lines.last()).bottom();
        const int over = std::max(0, room.top() - inkTop) + std::max(0, inkBottom - room.bottom());
        const int ink = inkBottom - inkTop + 1;
        return QSize(laid.width(), over > 0 ? room.height() + over : std::min(ink, room.height()));
    }
    QTextDocument doc;
    doc.setDefaultFont(label->font());
    doc.setDocumentMargin(0);
    doc.setHtml(label->text());
    if (label->wordWrap()) doc.setTextWidth(room.width());
    return QSize(int(std::ceil(label->wordWrap() ? doc.size().width() : doc.idealWidth())),
                 int(std::ceil(doc.size().height())));
}

// A button draws a line break as a new line.
QSize buttonNeeds(const QAbstractButton* b) {
    const QFontMetrics fm(b->font());
    const QSize text = fm.size(0, b->text());
    int w = text.width();
    if (!b->icon().isNull()) w += b->iconSize().width() + 4;
    // Centred lines: the empty room above and below the glyphs may be cut.
    const int spare = fm.height() - fm.tightBoundingRect(b->text()).height();
    return QSize(w, text.height() - std::max(0, spare));
}

// Where a button draws its text: inside its border and padding.
QRect buttonRoom(const QAbstractButton* b) {
    QStyleOptionButton option;
    option.initFrom(b);
    return b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b);
}

// Where a line edit draws its text: inside its frame, its text margins and the two pixels it
// keeps on each side.
QRect lineEditRoom(const QLineEdit* e) {
    QStyleOptionFrame option;
    option.initFrom(e);
    option.rect = e->rect();
    option.lineWidth =
        e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, e) : 0;
    const QRect r = e->style()->subElementRect(QStyle::SE_LineEditContents, &option, e);
    return r.marginsRemoved(e->textMargins()).adjusted(2, 0, -2, 0);
}

// The width of a line edit's text and the height of its ink.
QSize lineEditNeeds(const QLineEdit* e, const QRect&) {
    const QFontMetrics fm(e->font());
    return QSize(fm.horizontalAdvance(e->text()), fm.tightBoundingRect(e->text()).height());
}

}  // namespace

namespace {

// A field a user fills or chooses in: an editable line edit or a combo (a read-only line edit
// without text is a drawn line).
bool isField(const QWidget* w) {
    if (auto* e = qobject_cast<const QLineEdit*>(w))
        return !e->isReadOnly() || !e->text().isEmpty();
    return qobject_cast<const QComboBox*>(w) != nullptr;
}

// Where a widget's words are drawn, in its parent's coordinates: a label's laid-out text, a
// field's or a button with text's whole box; empty for a widget without words.
QRect textArea(const QWidget* w) {
    if (auto* l = qobject_cast<const QLabel*>(w)) {
        if (l->text().isEmpty()) return {};
        const int m = l->margin();
        const QRect room = l->contentsRect().adjusted(m, m, -m, -m);
        const int flags = int(l->alignment()) | (l->wordWrap() ? Qt::TextWordWrap : 0);
        return QFontMetrics(l->font()).boundingRect(room, flags, l->text()).translated(l->pos());
    }
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text().isEmpty() ? QRect() : b->geometry();
    return isField(w) ? w->geometry() : QRect();
}

QString placed(const QWidget* w) {
    const QRect g = w->geometry();
    return QString("%1 (%2, %3, %4 x %5)")
        .arg(w->objectName())
        .arg(g.x())
        .arg(g.y())
        .arg(g.width())
        .arg(g.height());
}

}  // namespace

std::vector<std::string> PanelTest::widgetsCrossing(QWidget* root) {
    std::vector<std::string> out;
    for (QWidget* field : root->findChildren<QWidget*>()) {
        QWidget* parent = field->parentWidget();
        if (!isField(field) || !field->isVisibleTo(root) || !parent) continue;
        if (!parent->rect().contains(field->geometry()))
            out.push_back(QString("%1 crosses the edge of %2 (%3 x %4)")
                              .arg(placed(field), parent->objectName())
                              .arg(parent->width())
                              .arg(parent->height())
                              .toStdString());
        for (QWidget* other : parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (other != field && !other->isWindow() && other->isVisibleTo(root) &&
                field->geometry().intersects(textArea(other)))
                out.push_back(
                    QString("%1 runs over %2").arg(placed(field), placed(other)).toStdString());
    }
    return out;
}

std::vector<std::string> PanelTest::textsNotFitting(QWidget* root) {
    std::vector<std::string> out;
    auto check = [&out](const QWidget* w, const QString& text, QSize needs, QRect room) {
        if (needs.width() <= room.width() && needs.height() <= room.height()) return;
        out.push_back(QString("%1: %2 (%3 x %4 in %5 x %6)")
                          .arg(w->objectName(), text)
                          .arg(needs.width())
                          .arg(needs.height())
                          .arg(room.width())
                          .arg(room.height())
                          .toStdString());
    };
    for (QLabel* l : root->findChildren<QLabel*>()) {
        if (!l->isVisibleTo(root) || l->text().isEmpty()) continue;
        l->ensurePolished();
        const QRect room =
            l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
        check(l, l->text(), labelNeeds(l, room), room);
    }
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>()) {
        if (!b->isVisibleTo(root) || b->text().isEmpty()) continue;
        b->ensurePolished();
        check(b, b->text(), buttonNeeds(b), buttonRoom(b));
    }
    for (QLineEdit* e : root->findChildren<QLineEdit*>()) {
        if (!e->isVisibleTo(root) || e->text().isEmpty()) continue;
        e->ensurePolished();
        const QRect room = lineEditRoom(e);
        check(e, e->text(), lineEditNeeds(e, room), room);
    }
    return out;
}

int takeApply() {
    std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
    int n = 0;
    while (c331_manage::take_apply() != 0) ++n;
    return n;
}
