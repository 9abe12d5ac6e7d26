// What the files of the smart-mapping wizard share: the looks it draws from the shared table,
// texts read outside the texts file, the number fields, the scan-file folders, and the helpers
// that fit words into the wizard's buttons and labels. Internal to the wizard.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "ui/shell/panel_frame.h"

class QAbstractButton;
class QLabel;
class QLineEdit;

namespace smart_mapping {

// A top item whose screen has the keys, and a group in whose tiles they are, are chosen; the
// group whose tiles are shown and the tile of the port in use are marked.
using panel_style::apply;
using panel_style::kChosen;
using panel_style::kDimmed;
using panel_style::kDimmedFocus;
using panel_style::kField;
using panel_style::kFocus;
using panel_style::kMarked;
using panel_style::kNormal;
using panel_style::kPortTile;
using panel_style::kRoutingButton;

// Texts the screens' own code shows (the rest stay in the texts file).
extern const Texts kRoutingText;
extern const Texts kNoFile;
// The keypad's titles of the fields.
extern const Texts kKeypadWidth;
extern const Texts kKeypadHeight;
extern const Texts kKeypadRows;
extern const Texts kKeypadColumns;
extern const Texts kKeypadHorizontal;
extern const Texts kKeypadVertical;

extern const char* const kInternalDir;
extern const char* const kUsbDir;
constexpr uint32_t kMappingOnValue = 9;
constexpr uint8_t kMappingBit = 0x80;
constexpr int kMappingOffset = 16;

// The number fields: keypad title and the range a typed value is held to.
struct Field {
    const char* name;
    const Texts* title;
    int min, max;
};
extern const Field kFields[6];
const Field* fieldNamed(const QString& name);
// A field's value as a job takes it, within the field's range.
int fieldValue(const QLineEdit* field);

// The regular scan files of a folder as program paths, in directory order.
QStringList scanFilesIn(const QString& dir);

// The routing pictures: on the routing screen's 40-px buttons, whole inside their one-pixel
// frame with a pixel to spare (the pictures are drawn 40 x 25), and at most this size beside the
// words of the layout screen's routing button.
constexpr QSize kRoutingIcon{36, 22};
constexpr QSize kChosenRoutingIcon{30, 20};

// The smallest font the panel still reads.
constexpr int kMinPoint = 5;
// A label's font, from the size its form or its words gave it, made narrower, then smaller,
// step by step, until its text fits the label.
void shrinkToFit(QLabel* label);
// A button's words on a wrapping label over it (a button draws one line only), in the font
// that fits; the label lets touches through to the button.
void setButtonWords(QAbstractButton* button, const QString& words, int pt, QRect area = {});
QFont pointFont(const QFont& base, int pt);

}  // namespace smart_mapping
