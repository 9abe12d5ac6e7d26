// An EDID table left in "/data/edidramtable" for an input, as the source thread takes it at
// start (no PC command writes one). The first byte picks the input.
#include <cstdint>
#include <string>

#include "common/fuzz_box.h"
#include "video_io/edid.h"
#include "video_io/raviksource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::startBox();
    if (size == 0) return 0;
    const int source = data[0] % 7;  // 6 is past the last input
    const std::string path = raviksource::edid_table_path(source % 6);
    fuzz::writeFile(path, data + 1, size - 1);
    edid::valid(data + 1, size - 1);
    raviksource::pInstance()->edid_table_uploaded(source);
    return 0;
}
