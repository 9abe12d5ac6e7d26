#include "ui/shell/list_keys.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>

namespace {

class ListKeys : public QObject {
public:
    explicit ListKeys(QComboBox* box) : QObject(box), box_(box) {}

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

}  // namespace

void closeListOnKeys(QComboBox* box) {
    // The open list hands a key to its view when it has the focus, else to the list's window.
    QAbstractItemView* view = box->view();
    auto* keys = new ListKeys(box);
    view->installEventFilter(keys);
    if (QWidget* list = view->parentWidget()) list->installEventFilter(keys);
}
