// Whether every entry of a combo fits its text field in the combo's font (the shared fit check
// covers labels and buttons).
#pragma once

#include <string>
#include <vector>

class QComboBox;

// The entries of combo that do not fit, as "object: entry".
std::vector<std::string> comboEntriesNotFitting(const QComboBox* combo);
