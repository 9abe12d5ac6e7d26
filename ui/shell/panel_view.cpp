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
    // The window on top takes the keys, as the box's window stack gives them: the overlay, the
    // modal window (a tip, the keypad, a page's loop), else the page in front. The platform's
    // focus window follows only once its queued activation has run, which a key sent at once
    // overtakes.
    QWidget* top = shown(g_move_update) ? g_move_update : QApplication::activeModalWidget();
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

std::vector<QWidget*> windows() {
    std::vector<QWidget*> out;
    auto add = [&out](QWidget* w) {
        if (shown(w)) out.push_back(w);
    };
    add(g_mainwindow);
    PageFrame* frontPage = front();
    for (int id = 0; id < kPageCount; ++id) {
        PageFrame* open = page(id);
        if (open && open != frontPage && id != kPageMain) add(open->widget());
    }
    if (frontPage) add(frontPage->widget());
    add(g_numberkeyboard);
    add(g_tip);
    add(QApplication::activePopupWidget());
    add(g_move_update);  // the upgrade overlay is above everything
    return out;
}

bool postTouch(QPoint at) {
    // The box's touch reaches the window on top at the point; the window, not this function,
    // decides which child takes it, or that a modal window or an open list takes it instead.
    const QPoint global = at + panelOrigin();
    const std::vector<QWidget*> stack = windows();
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        QWindow* window = (*it)->windowHandle();
        if (!window || !(*it)->geometry().contains(global)) continue;
        const QPointF local = window->mapFromGlobal(global);
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            const Qt::MouseButtons held =
                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
            QCoreApplication::postEvent(
                window,
                new QMouseEvent(type, local, local, global, Qt::LeftButton, held, Qt::NoModifier));
        }
        return true;
    }
    return false;
}

QImage image() {
    QImage img(320, 240, QImage::Format_ARGB32);
    img.fill(QColor(0, 0, 0));
    QPainter p(&img);
    const QPoint origin = panelOrigin();
    for (QWidget* w : windows()) p.drawPixmap(w->pos() - origin, w->grab());
    return img;
}

QWidget* overPage() {
    if (QWidget* popup = QApplication::activePopupWidget()) return popup;
    QWidget* modal = QApplication::activeModalWidget();
    for (int id = 0; modal && id < kPageCount; ++id)
        if (PageFrame* open = page(id); open && open->widget() == modal) return nullptr;
    return modal;
}

void raiseShown(QWidget* window) {
    if (shown(window)) window->raise();
}

bool overlayShown() {
    return shown(g_move_update);
}

QRect area() {
    return QRect(panelOrigin(), QSize(320, 240));
}

}  // namespace panel
