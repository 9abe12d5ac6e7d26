#include "ui/shell/panel_view.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

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

bool postKey(int code) {
    QWidget* target = keyTarget();
    if (!target) return false;
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, code, Qt::NoModifier));
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, code, Qt::NoModifier));
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
