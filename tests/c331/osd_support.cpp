#include "osd_support.h"

#include <cstddef>

Bytes fontFile(int dots, bool narrow, int glyphs) {
    Bytes f(35, 0);
    f[0] = 'P';
    f[5] = narrow ? 1 : 0;
    f[17] = uint8_t(dots);
    f[18] = uint8_t(dots);
    for (int g = 0; g < glyphs; ++g) f.insert(f.end(), size_t(dots * dots / 8), uint8_t(g + 1));
    return f;
}

Bytes pattern(uint32_t n, uint8_t first) {
    Bytes b(n);
    for (uint32_t i = 0; i < n; ++i) b[i] = uint8_t(first + i);
    return b;
}
