// The words several pages show, in the five languages.
#pragma once

#include "ui/shell/panel_frame.h"

namespace words {
extern const Texts kNoSignal;
extern const Texts kUsing;
extern const Texts kBlack;
extern const Texts kClose;
extern const Texts kOk;
extern const Texts kCancel;
// The two sides of a size (the Russian "Ширина" is wider than the labels that show it).
extern const Texts kWidth;
extern const Texts kHeight;
}  // namespace words
