// An OSD font in the C331's serial flash (the PC or a USB package puts it there): its header and
// glyphs read at start and copied into chip memory. The first byte picks the font's place.
#include <cstdint>
#include <vector>

#include "c331/c331_manage.h"
#include "common/fuzz_box.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto chip = fuzz::startC331AtRest();
    if (size == 0) return 0;
    static const uint32_t kPlaces[4] = {0x000000, 0x010000, 0x410000, 0x450000};
    const uint32_t at = kPlaces[data[0] % 4];
    chip->flashLoad(at, std::vector<uint8_t>(data + 1, data + size));
    c331_manage* c = c331_manage::p_c331_manage;
    c->read_c331_font(c->fd);
    c->update_font(c->fd);
    chip->flashLoad(at, std::vector<uint8_t>(size - 1, 0xFF));  // an erased place again
    return 0;
}
