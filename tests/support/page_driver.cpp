#include "page_driver.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFontInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEngine>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionFrame>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <cstdio>
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

QImage icon(const QLabel* l) {
    return l->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32);
}

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

// While a page test runs, a failure on the panel's thread that does not name the page in front
// (a plain expectation after keys that did not go in) is followed by it in the output.
bool g_page_case = false;

std::string frontNamed() {
    QWidget* page = panel::keyTarget();
    std::string out = "id " + std::to_string(int(g_page_focus));
    if (!panel::keyWindow()) return out + ", no window takes keys";
    return page ? out + " (" + page->metaObject()->className() + ")" : out + " (none)";
}

class PageInFrontNote : public ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!g_page_case || !result.failed() || QThread::currentThread() != qApp->thread() ||
            std::strstr(result.message(), "page in front"))
            return;
        std::printf("page in front: %s\n", frontNamed().c_str());
        std::fflush(stdout);
    }
};

}  // namespace

void PanelTest::SetUp() {
    SimBoxTest::SetUp();
    panelApp();
    static const bool noted = [] {
        ::testing::UnitTest::GetInstance()->listeners().Append(new PageInFrontNote);
        return true;
    }();
    (void)noted;
    g_page_case = true;
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
    std::memcpy(store->shadow, store->ram.data(), sizeof store->ram);
    SyncUpdate::connectStore(store);
}

void PanelTest::TearDown() {
    expectDrawnFromTable("at the end");
    qInstallMessageHandler(g_next_handler);
    stopPanel();
    g_page_case = false;
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

PanelTest::Missing::Missing(const std::string& what)
    : std::runtime_error(what + "; page in front: " + pageInFront()) {}

QWidget* PanelTest::front() const {
    return panel::keyTarget();
}

void PanelTest::key(int code) {
    // The window the box's keys reach, so a modal tip or keypad blocks the page beneath.
    QWindow* window = panel::keyWindow();
    ASSERT_NE(window, nullptr) << "no page takes keys; page in front: " << pageInFront();
    const QString text = code < Qt::Key_Escape ? QString(QChar(code)) : QString();
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QCoreApplication::sendEvent(window, &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
    QCoreApplication::sendEvent(window, &release);
}

void PanelTest::keys(std::initializer_list<int> codes) {
    for (int c : codes) key(c);
}

void PanelTest::pressUntil(const std::function<void()>& press, const std::function<bool()>& done,
                           const std::string& awaited, int max_presses) {
    for (int n = 0; n < max_presses && !done() && panel::keyWindow(); ++n) press();
    if (!done())
        ADD_FAILURE() << "not " << awaited << " after at most " << max_presses
                      << " presses; page in front: " << pageInFront();
}

void PanelTest::keyUntil(int code, const std::function<bool()>& done, const std::string& awaited,
                         int max_keys) {
    pressUntil([this, code] { key(code); }, done, awaited, max_keys);
}

void PanelTest::backUntilGone(const std::function<bool()>& open, const std::string& page,
                              int max_keys) {
    keyUntil(
        kKeyBack, [&open] { return !open(); }, page + " closed", max_keys);
}

std::string PanelTest::pageInFront() {
    return frontNamed();
}

void PanelTest::click(const QString& name) {
    QWidget* page = front();
    ASSERT_NE(page, nullptr) << "no page for " << name.toStdString()
                             << "; page in front: " << pageInFront();
    for (QAbstractButton* b : page->findChildren<QAbstractButton*>(name)) {
        if (b->isVisibleTo(page) && page->isVisible()) {
            b->click();
            return;
        }
    }
    ADD_FAILURE() << "no visible button " << name.toStdString()
                  << "; page in front: " << pageInFront();
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
    ASSERT_TRUE(g_numberkeyboard && g_numberkeyboard->isVisible())
        << "no keypad open; page in front: " << pageInFront();
    for (int n = 0; n < 14 && g_numberkeyboard->ui_select() != item; ++n) key(kKeyRight);
    ASSERT_EQ(g_numberkeyboard->ui_select(), item) << "page in front: " << pageInFront();
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
        zem::MutexLocker lock(c331_manage::c331_mutex);
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
    // After a stuck session (a fatal failure) the panel is in no known state: the test ends
    // within one session's bound, not one per session.
    if (HasFatalFailure()) return;
    struct State {
        std::deque<Item> queue;
        int started = 0;
        int returned = 0;
        std::function<void()> runNext;
        // Drops the rest and closes every modal loop so the steps return; fails saying why,
        // unless it is empty (a step failed already).
        std::function<void(const std::string&)> stop;
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
        // An exception must not cross the loop the step runs in.
        try {
            step();
        } catch (const Missing& e) {
            s->stop(e.what());
        } catch (const std::exception& e) {
            s->stop(std::string("a step threw: ") + e.what() + "; page in front: " + pageInFront());
        }
        // After a failed assertion the rest would work on a panel in no known state.
        if (HasFatalFailure()) s->stop("");
        ++s->returned;
    };
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
    s->stop = [s, &unwinder](const std::string& why) {
        s->queue.clear();
        unwinder.start();
        if (!why.empty()) FAIL() << why;
    };
    QObject::connect(&watchdog, &QTimer::timeout, [s, timeout_ms] {
        s->stop("session stuck: " + std::to_string(s->returned) + " steps returned, " +
                std::to_string(s->started - s->returned) + " still in a loop, " +
                std::to_string(s->queue.size()) + " not run after " + std::to_string(timeout_ms) +
                " ms; page in front: " + pageInFront());
    });
    watchdog.start(timeout_ms);
    post(0);
    while (!s->queue.empty() || s->started != s->returned)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    s->runNext = nullptr;
    s->stop = nullptr;
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
            EXPECT_EQ(widget<QWidget>(names[i])->property("text").toString(),
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
    uint8_t* m = store().mode_ram[slot].data();
    std::memcpy(m + 2, store().ram.data() + ZemRamPara::kModePayloadStart,
                ZemRamPara::kModePayloadSize);
    m[0] = m[1] = 0xAA;
    m[2 + 2000 - ZemRamPara::kModePayloadStart] = marker;
    // The panel shows the slots as a refresh's start last copied them.
    store().refresh_begin();
}

namespace {

// A pixel counts as ink when its coverage is above this (of 255): a Vietnamese dot below at 8
// points is one row of 28, while a row of a few shows nothing.
constexpr int kInkAlpha = 16;

// A run of text a widget drew: its words in its font from a point of the baseline, and the part
// of the widget it was clipped to (the widget's coordinates).
struct TextRun {
    QString text;
    QFont font;
    QPointF at;
    QRect clip;
};

// A paint device that draws nothing and keeps each run of text painted on it, where the widget's
// style put it and with the clip it had.
class TextRecorder : public QPaintDevice {
public:
    explicit TextRecorder(const QWidget* w) : widget_(w), engine_(this) {}
    QPaintEngine* paintEngine() const override { return &engine_; }
    std::vector<TextRun> runs;

protected:
    int metric(PaintDeviceMetric m) const override {
        switch (m) {
            case PdmWidth:
                return widget_->width();
            case PdmHeight:
                return widget_->height();
            case PdmDepth:
                return 32;
            case PdmDevicePixelRatio:
                return 1;
            case PdmDevicePixelRatioScaled:
                return int(devicePixelRatioFScale());
            case PdmDpiX:
            case PdmPhysicalDpiX:
                return widget_->logicalDpiX();
            case PdmDpiY:
            case PdmPhysicalDpiY:
                return widget_->logicalDpiY();
            default:
                return QPaintDevice::metric(m);
        }
    }

private:
    class Engine : public QPaintEngine {
    public:
        explicit Engine(TextRecorder* r) : QPaintEngine(AllFeatures), recorder_(r) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawPath(const QPainterPath&) override {}
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
        void drawTextItem(const QPointF& p, const QTextItem& item) override {
            const QTransform to_device = painter()->deviceTransform();
            QRect clip = recorder_->widget_->rect();
            if (painter()->hasClipping())
                clip &= to_device.mapRect(painter()->clipBoundingRect()).toAlignedRect();
            recorder_->runs.push_back({item.text(), item.font(), to_device.map(p), clip});
        }
        Type type() const override { return User; }

    private:
        TextRecorder* recorder_;
    };
    const QWidget* widget_;
    mutable Engine engine_;
};

// The runs of text a widget draws itself (not its children).
std::vector<TextRun> textsDrawn(QWidget* w) {
    TextRecorder recorder(w);
    w->render(&recorder, QPoint(), QRegion(), QWidget::RenderFlags());
    return recorder.runs;
}

// Where the ink of a run falls drawn without a clip, antialiased edges included, in the
// widget's resolution; null when it has none.
QRect inkOf(const QWidget* w, const TextRun& run) {
    const QFontMetricsF fm(run.font, w);
    const qreal pad = fm.height();
    const QRect area =
        fm.boundingRect(run.text).translated(run.at).adjusted(-pad, -pad, pad, pad).toAlignedRect();
    QImage canvas(area.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.setDotsPerMeterX(int(std::lround(w->logicalDpiX() / 0.0254)));
    canvas.setDotsPerMeterY(int(std::lround(w->logicalDpiY() / 0.0254)));
    canvas.fill(Qt::transparent);
    {
        QPainter p(&canvas);
        p.setPen(Qt::black);
        // All of the run's font, not only what it set over a default.
        QFont font = run.font;
        font.resolve(QFont::AllPropertiesResolved);
        p.setFont(font);
        p.drawText(run.at - area.topLeft(), run.text);
    }
    int left = canvas.width(), right = -1, top = canvas.height(), bottom = -1;
    for (int y = 0; y < canvas.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
        for (int x = 0; x < canvas.width(); ++x) {
            if (qAlpha(row[x]) <= kInkAlpha) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = y;
        }
    }
    if (right < 0) return {};
    return QRect(QPoint(left, top), QPoint(right, bottom)).translated(area.topLeft());
}

// The size a run's ink needs in its clip: its own size where it falls inside, else the clip grown
// by what falls outside.
QSize needsFor(const QRect& ink, const QRect& room) {
    if (ink.isNull() || room.contains(ink)) return ink.size();
    const int w = std::max(0, room.left() - ink.left()) + std::max(0, ink.right() - room.right());
    const int h = std::max(0, room.top() - ink.top()) + std::max(0, ink.bottom() - room.bottom());
    return room.size() + QSize(w, h);
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

std::vector<std::string> PanelTest::textsOverBorders(QWidget* root) {
    std::vector<std::string> out;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        auto* frame = qobject_cast<QFrame*>(w->parentWidget());
        const bool drawsWords = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w);
        if (!drawsWords || !frame || !w->isVisibleTo(root)) continue;
        frame->ensurePolished();
        w->ensurePolished();
        // A legend placed across the frame's edge covers the border on purpose.
        if (frame->frameWidth() <= 0 || !frame->rect().contains(w->geometry())) continue;
        // Inside the border and the frame's padding.
        const QRect inside = frame->contentsRect();
        for (const TextRun& run : textsDrawn(w)) {
            const QRect ink = inkOf(w, run).intersected(run.clip).translated(w->pos());
            if (ink.isNull() || inside.contains(ink)) continue;
            out.push_back(QString("%1: %2 at x %3..%4, y %5..%6, over the border of %7 (inside "
                                  "x %8..%9, y %10..%11)")
                              .arg(w->objectName(), run.text)
                              .arg(ink.left())
                              .arg(ink.right())
                              .arg(ink.top())
                              .arg(ink.bottom())
                              .arg(frame->objectName())
                              .arg(inside.left())
                              .arg(inside.right())
                              .arg(inside.top())
                              .arg(inside.bottom())
                              .toStdString());
        }
    }
    return out;
}

std::map<std::string, int> PanelTest::textSizes(QWidget* root) {
    std::map<std::string, int> out;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const bool drawsWords = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                                qobject_cast<QComboBox*>(w);
        if (!drawsWords || !w->isVisibleTo(root)) continue;
        w->ensurePolished();
        QString path = w->objectName();
        for (QWidget* up = w->parentWidget(); up && up != root; up = up->parentWidget())
            path = up->objectName() + "/" + path;
        for (const TextRun& run : textsDrawn(w)) {
            if (run.text.trimmed().isEmpty()) continue;
            const int pixels = QFontInfo(run.font).pixelSize();
            auto [at, fresh] = out.emplace(path.toStdString(), pixels);
            if (!fresh) at->second = std::min(at->second, pixels);
        }
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
    // Labels, buttons and combos by where the ink of what they draw falls: every run inside the
    // part of the widget it was clipped to.
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const bool drawsWords = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                                qobject_cast<QComboBox*>(w);
        if (!drawsWords || !w->isVisibleTo(root)) continue;
        w->ensurePolished();
        const QString text =
            w->property(qobject_cast<QComboBox*>(w) ? "currentText" : "text").toString();
        for (const TextRun& run : textsDrawn(w))
            check(w, text, needsFor(inkOf(w, run), run.clip), run.clip);
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
    zem::MutexLocker lock(c331_manage::c331_mutex);
    int n = 0;
    while (c331_manage::take_apply() != 0) ++n;
    return n;
}
