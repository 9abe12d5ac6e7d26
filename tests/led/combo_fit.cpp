#include "combo_fit.h"

#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionComboBox>

std::vector<std::string> comboEntriesNotFitting(const QComboBox* combo) {
    QStyleOptionComboBox opt;
    opt.initFrom(combo);
    const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &opt,
                                                       QStyle::SC_ComboBoxEditField, combo);
    const QFontMetrics fm(combo->font());
    std::vector<std::string> out;
    for (int i = 0; i < combo->count(); ++i) {
        const QString t = combo->itemText(i);
        if (fm.horizontalAdvance(t) > field.width() ||
            QFontInfo(combo->font()).pixelSize() > field.height() + 1)
            out.push_back((combo->objectName() + ": " + t).toStdString());
    }
    return out;
}
