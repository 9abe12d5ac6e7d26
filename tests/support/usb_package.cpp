#include "usb_package.h"

#include <algorithm>

namespace usb_package {

void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

Bytes package(const std::vector<ChildSpec>& children, uint16_t controller, uint8_t publish) {
    Bytes p(49 + 21 * children.size(), 0);
    p[2] = publish;
    p[18] = uint8_t(controller), p[19] = uint8_t(controller >> 8);
    p[47] = uint8_t(children.size());
    for (size_t k = 0; k < children.size(); ++k) {
        const size_t e = 49 + 21 * k;
        p[e] = children[k].type;
        put32(p, e + 1, uint32_t(children[k].image.size()));
        put32(p, e + 5, uint32_t(p.size()));
        std::copy(children[k].version.begin(), children[k].version.end(), p.begin() + long(e) + 9);
        p.insert(p.end(), children[k].image.begin(), children[k].image.end());
    }
    return p;
}

Bytes bytes(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7);
    return b;
}

Bytes firmware(const Bytes& bitstream) {
    Bytes f(64, 0);
    f[16] = 1;
    put32(f, 31, uint32_t(bitstream.size()));
    f.insert(f.end(), bitstream.begin(), bitstream.end());
    return f;
}

Bytes font(int dots, bool narrow, size_t glyph_bytes) {
    Bytes f(35, 0);
    f[0] = 'P', f[5] = narrow ? 1 : 0, f[17] = f[18] = uint8_t(dots);
    const Bytes g = bytes(glyph_bytes, 3);
    f.insert(f.end(), g.begin(), g.end());
    return f;
}

}  // namespace usb_package
