#include "platform/mounts.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/box.h"
#include "platform/sim/sim_box.h"

namespace platform {
namespace {

std::string withoutTrailingSlash(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

// The kernel writes a space, tab, new line or backslash of a mount point as \ and three octal
// digits.
std::string unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        const bool octal = field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
                           field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
                           field[i + 3] >= '0' && field[i + 3] <= '7';
        if (!octal) {
            out += field[i];
            continue;
        }
        out += char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
        i += 3;
    }
    return out;
}

}  // namespace

bool mountTableLists(const std::string& table, const std::string& dir) {
    const std::string want = withoutTrailingSlash(dir);
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string device, at;
        if (fields >> device >> at && unescape(at) == want) return true;
    }
    return false;
}

bool mountedAt(const std::string& dir) {
    if (simulated())
        return sim::SimBox::get().usb_disk.state().mounted_at == withoutTrailingSlash(dir);
    if (!onBox()) return false;
    std::ifstream in("/proc/mounts");
    std::stringstream table;
    table << in.rdbuf();
    return mountTableLists(table.str(), dir);
}

bool usbDiskMounted() {
    return mountedAt(kUsbMountPoint);
}

bool readUsbDiskFile(const std::string& file, uint64_t off, uint32_t n, uint8_t* out) {
    // The simulated disk may go part way through, as a real one pulled during the read.
    const uint32_t allowed = simulated() ? sim::SimBox::get().usb_disk.takeRead(n) : n;
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return false;
    const bool ok = fseeko(f, off_t(off), SEEK_SET) == 0 && std::fread(out, 1, allowed, f) == n;
    std::fclose(f);
    return ok;
}

}  // namespace platform
