#include "text_fit.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTextDocument>

namespace {

// The text's advance within the width, and its letters' height within the height (a pixel
// cut off above and below a centred line is not seen).
bool fits(const QWidget* w, const QString& text, int width, int height) {
    const QFontMetrics fm(w->font());
    return fm.horizontalAdvance(text) <= width && QFontInfo(w->font()).pixelSize() <= height + 1;
}

QString entry(const QWidget* w, const QString& text) {
    return w->objectName() + ": " + text;
}

void checkLabel(QLabel* l, QStringList* out) {
    if (l->text().isEmpty() || l->wordWrap() || Qt::mightBeRichText(l->text())) return;
    const QRect r = l->contentsRect();
    if (!fits(l, l->text(), r.width(), r.height())) *out << entry(l, l->text());
}

void checkCombo(QComboBox* c, QStringList* out) {
    QStyleOptionComboBox opt;
    opt.initFrom(c);
    const QRect field =
        c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c);
    for (int i = 0; i < c->count(); ++i)
        if (!fits(c, c->itemText(i), field.width(), field.height()))
            *out << entry(c, c->itemText(i));
}

}  // namespace

QStringList textsThatDoNotFit(QWidget* page) {
    QStringList out;
    page->ensurePolished();
    for (QWidget* w : page->findChildren<QWidget*>()) {
        w->ensurePolished();
        if (auto* l = qobject_cast<QLabel*>(w)) {
            checkLabel(l, &out);
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            if (!fits(b, b->text(), b->width() - 4, b->height())) out << entry(b, b->text());
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            checkCombo(c, &out);
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            if (!fits(e, e->text(), e->width() - 4, e->height())) out << entry(e, e->text());
        }
    }
    return out;
}
