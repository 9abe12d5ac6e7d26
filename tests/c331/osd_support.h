// Test data of the OSD tests: font files in the flash's format and byte patterns.
#pragma once

#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A font file: the 35-byte header ('P', coding, glyph width and height) and `glyphs` cells of
// dots x dots bits, cell n filled with the byte n + 1.
Bytes fontFile(int dots, bool narrow, int glyphs);
// n bytes counting up from first.
Bytes pattern(uint32_t n, uint8_t first);
