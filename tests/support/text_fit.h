// Whether the texts a page shows fit their widgets: each label's and button's lines measured
// in the widget's own font against its width (less a small margin for borders and padding).
#pragma once

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QStringList>
#include <QTextDocument>
#include <QWidget>
#include <string>
#include <vector>

// Names of the visible labels and buttons under root whose text is wider than they are.
inline std::vector<std::string> textsTooWide(const QWidget* root, int margin = 4) {
    std::vector<std::string> wide;
    auto check = [&](const QWidget* w, QString text) {
        if (!w->isVisibleTo(root) || text.isEmpty()) return;
        if (Qt::mightBeRichText(text)) {
            QTextDocument doc;
            doc.setHtml(text);
            text = doc.toPlainText();
        }
        const QFontMetrics fm(w->font());
        for (const QString& line : text.split('\n'))
            if (fm.horizontalAdvance(line) > w->width() - margin)
                wide.push_back(w->objectName().toStdString() + ": " + line.toStdString());
    };
    for (const QLabel* l : root->findChildren<QLabel*>())
        if (!l->wordWrap()) check(l, l->text());
    for (const QAbstractButton* b : root->findChildren<QAbstractButton*>()) check(b, b->text());
    return wide;
}
