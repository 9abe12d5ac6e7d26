// The one reader of a number typed on the keypad, for every page with numeric fields.
#pragma once

#include <QString>

enum KeypadNumberStatus : int {
    kNumberOk = 0,
    kNumberEmpty = -1,      // nothing typed
    kNumberNotDigits = -2,  // anything but the digits 0-9
    kNumberBelow = -3,      // under the field's range
    kNumberAbove = -4,      // over it, also a digit string too long to hold
};

// Reads text as a decimal number in [min, max] into *value (left alone unless kNumberOk).
int readKeypadNumber(const QString& text, int min, int max, int* value);
