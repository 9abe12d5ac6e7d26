// Whether a page's texts fit their widgets in the panel font: plain labels, buttons, number
// fields and every combo entry. Word-wrapped, rich-text and picture labels are left out.
#pragma once

#include <QStringList>

class QWidget;

// The texts of page (and its children) that do not fit, as "object: text".
QStringList textsThatDoNotFit(QWidget* page);
