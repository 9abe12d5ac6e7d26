#include "ui/led/no_touch.h"

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace {

class TouchFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        switch (e->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
                return true;
            default:
                return false;
        }
    }
};

}  // namespace

void ignoreTouch(QWidget* w) {
    w->installEventFilter(new TouchFilter(w));
}
