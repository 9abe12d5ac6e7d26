#include "ui/shell/list_keys.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <algorithm>
#include <vector>

#include "ui/shell/panel_view.h"

namespace {

class ListKeys;
// Every box whose list closes on keys (main thread only).
std::vector<ListKeys*> g_lists;

class ListKeys : public QObject {
public:
    explicit ListKeys(QComboBox* box) : QObject(box), box_(box) { g_lists.push_back(this); }
    ~ListKeys() override { g_lists.erase(std::find(g_lists.begin(), g_lists.end(), this)); }
    void closeList() {
        if (box_->view()->isVisible()) box_->hidePopup();
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        switch (e->type()) {
            case QEvent::ShortcutOverride:
                // Taken before the list's own handling, which closes the list on F4 at once
                // and would leave the key's release to the page.
                e->accept();
                return true;
            case QEvent::KeyPress:
                return true;
            case QEvent::KeyRelease:
                // Press and release both reach the open list: the release, not the press,
                // closes it, so that neither half is left to the page.
                box_->hidePopup();
                return true;
            default:
                return false;
        }
    }

private:
    QComboBox* box_;
};

// Qt's own bounds for a list on its screen, with the panel as the screen.
QRect insidePanel(QRect r) {
    const QRect screen = panel::area();
    if (r.width() > screen.width()) r.setWidth(screen.width());
    if (r.right() > screen.right()) r.moveRight(screen.right());
    if (r.left() < screen.left()) r.moveLeft(screen.left());
    if (r.height() > screen.height()) r.setHeight(screen.height());
    if (r.top() < screen.top()) r.moveTop(screen.top());
    if (r.bottom() > screen.bottom()) r.moveBottom(screen.bottom());
    return r;
}

// Moves the list's window as it shows: the combo box has placed it and scrolls its current
// entry into view afterwards, in the size given here.
class ListPlace : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show) {
            auto* list = static_cast<QWidget*>(o);
            const QRect placed = insidePanel(list->geometry());
            if (placed != list->geometry()) list->setGeometry(placed);
        }
        return false;
    }
};

}  // namespace

void placeListOnPanel(QComboBox* box) {
    QWidget* list = box->view()->parentWidget();
    if (!list) return;
    // No window frame, as on the box: a platform that keeps a framed window's frame on the
    // screen would push a list at the panel's top edge down by the frame.
    list->setWindowFlags(list->windowFlags() | Qt::FramelessWindowHint);
    list->installEventFilter(new ListPlace(box));
}

void closeListOnKeys(QComboBox* box) {
    // The open list hands a key to its view when it has the focus, else to the list's window.
    QAbstractItemView* view = box->view();
    auto* keys = new ListKeys(box);
    view->installEventFilter(keys);
    if (QWidget* list = view->parentWidget()) list->installEventFilter(keys);
}

void closeListsForNewLanguage() {
    for (ListKeys* list : std::vector<ListKeys*>(g_lists)) list->closeList();
}

void showInForceOnTouch(QComboBox* box, std::function<int()> in_force) {
    // Emitted after the list has closed and the touched entry became the current one.
    QObject::connect(
        box, QOverload<int>::of(&QComboBox::activated), box,
        [box, in_force = std::move(in_force)](int) { box->setCurrentIndex(in_force()); });
}
