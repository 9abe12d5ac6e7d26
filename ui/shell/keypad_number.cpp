#include "ui/shell/keypad_number.h"

#include <cstdint>

int readKeypadNumber(const QString& text, int min, int max, int* value) {
    if (text.isEmpty()) return kNumberEmpty;
    int64_t n = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return kNumberNotDigits;
        // Past max already: more digits only make it larger, and must not overflow.
        if (n <= max) n = n * 10 + (c.unicode() - '0');
    }
    if (n > max) return kNumberAbove;
    if (n < min) return kNumberBelow;
    *value = int(n);
    return kNumberOk;
}
