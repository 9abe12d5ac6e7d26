#include "ui/shell/panel_view.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <QWindow>

#include "ui/shell/main_window.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/panel_frame.h"
#include "ui/shell/tip.h"
#include "ui/system/firmware_update.h"

namespace panel {
namespace {

QPoint panelOrigin() {
    return g_mainwindow ? g_mainwindow->pos() : QPoint();
}

bool shown(const QWidget* w) {
    return w && w->isVisible();
}

}  // namespace

QWidget* keyTarget() {
    if (shown(g_numberkeyboard)) return g_numberkeyboard;  // modal over the page that opened it
    PageFrame* page = front();
    return page ? page->widget() : nullptr;
}

QWindow* keyWindow() {
    // The window on top takes the keys, as the box's window stack gives them: the modal window
    // (a tip, the keypad, a page's loop), else the page in front. The platform's focus window
    // follows only once its queued activation has run, which a key sent at once overtakes.
    QWidget* top = QApplication::activeModalWidget();
    if (!top) {
        PageFrame* page = front();
        if (page && page->widget()->isVisible()) top = page->widget();
    }
    if (top) return top->window()->windowHandle();
    QWindow* focus = QGuiApplication::focusWindow();
    return focus && focus->isVisible() ? focus : nullptr;
}

bool postKey(int code) {
    QWindow* window = keyWindow();
    if (!window) return false;
    // A keypad letter carries its text, as the keypad's keyboard reports it. The window hands
    // the key to its focus widget unless a modal window blocks it.
    const QString text = code < Qt::Key_Escape ? QString(QChar(code)) : QString();
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
        QCoreApplication::postEvent(window, new QKeyEvent(type, code, Qt::NoModifier, text));
    return true;
}

bool postTouch(QPoint at) {
    // The topmost of what image() draws takes the touch: a tip, the keypad, the front page.
    QWidget* top = nullptr;
    for (QWidget* w : {static_cast<QWidget*>(g_move_update), static_cast<QWidget*>(g_tip),
                       static_cast<QWidget*>(g_numberkeyboard), keyTarget(),
                       static_cast<QWidget*>(g_mainwindow)}) {
        if (shown(w) && w->geometry().contains(at + panelOrigin())) {
            top = w;
            break;
        }
    }
    if (!top) return false;
    const QPoint inTop = at + panelOrigin() - top->pos();
    QWidget* target = top->childAt(inTop);
    if (!target) target = top;
    const QPoint local = target->mapFrom(top, inTop);
    const QPoint global = top->mapToGlobal(inTop);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
        QCoreApplication::postEvent(
            target, new QMouseEvent(type, local, global, Qt::LeftButton, held, Qt::NoModifier));
    }
    return true;
}

QImage image() {
    QImage img(320, 240, QImage::Format_ARGB32);
    img.fill(QColor(0, 0, 0));
    QPainter p(&img);
    const QPoint origin = panelOrigin();
    auto draw = [&](QWidget* w) {
        if (shown(w)) p.drawPixmap(w->pos() - origin, w->grab());
    };
    draw(g_mainwindow);
    PageFrame* frontPage = front();
    for (int id = 0; id < kPageCount; ++id) {
        PageFrame* open = page(id);
        if (open && open != frontPage && id != kPageMain) draw(open->widget());
    }
    if (frontPage) draw(frontPage->widget());
    draw(g_numberkeyboard);
    draw(g_tip);
    draw(g_move_update);  // the upgrade overlay is above everything
    return img;
}

}  // namespace panel
