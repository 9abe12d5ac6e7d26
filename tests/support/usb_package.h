// USB upgrade packages as the factory tools build them: the 49-byte header, 21-byte child
// entries, then the children's images; FPGA firmware and OSD font children.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace usb_package {

using Bytes = std::vector<uint8_t>;

// Child types of a package.
enum ChildType : uint8_t { kFpga0 = 7, kFpga1 = 8, kProgram = 10, kFont = 13 };

struct ChildSpec {
    uint8_t type;
    Bytes image;
    std::array<uint8_t, 6> version{1, 1, 1, 1, 1, 1};
};

void put32(Bytes& b, size_t at, uint32_t v);
// A package of the children, for a controller type (0x9752 is this box's).
Bytes package(const std::vector<ChildSpec>& children, uint16_t controller = 0x9752,
              uint8_t publish = 0);
// n bytes of a pattern that differs by seed.
Bytes bytes(size_t n, uint8_t seed);
// A firmware child: the 64-byte header with the bitstream length, then the bitstream.
Bytes firmware(const Bytes& bitstream);
// A font child: the 35-byte font header (dots, narrow or wide), then the glyphs.
Bytes font(int dots, bool narrow, size_t glyph_bytes);

}  // namespace usb_package
