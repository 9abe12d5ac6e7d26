// What the source switch page and the crop editor show alike: the six source names of the
// source row with their entry counts, and a thing's alias elided to a width.
#pragma once

#include <QFont>
#include <QString>
#include <cstdint>

class QLabel;

// The alias of thing id in category ("source", "crop"), elided at the right to width in font;
// empty when there is none.
QString aliasName(const char* category, int id, const QFont& font, int width);
// Texts the six name labels of the source row (list positions 0..5): the source's alias or
// name with its entry count, counts indexed by source id.
void sourceRowNames(QLabel* const names[6], const uint8_t counts[6]);
