// A PC's writes of the parameter RAM, and the owners of the save requests they record: a
// request whose register 11 may never come (a UDP address, a serial port) is watched for its
// owner's silence, and the UDP addresses holding requests are bounded (core/link_activity.h).
#include "core/globals.h"
#include "core/link_activity.h"
#include "core/zem_ram_para.h"

namespace {

// The u16 at `word` as the write of [addr, addr + len) leaves it.
uint16_t word_after(const uint8_t* ram, const uint8_t* data, uint32_t len, uint32_t addr,
                    int word) {
    uint8_t b[2];
    for (int k = 0; k < 2; ++k) {
        const uint32_t at = uint32_t(word + k);
        b[k] = at >= addr && at - addr < len ? data[at - addr] : ram[at];
    }
    return uint16_t(b[0] | b[1] << 8);
}

}  // namespace

int ZemRamPara::pc_write(const uint8_t* data, uint16_t len, uint32_t addr, uint64_t client,
                         int* displaced) {
    if (addr <= uint32_t(kRamSize) && len <= kRamSize - addr &&
        covers(addr, len, kRamModeSaveRequest)) {
        const uint16_t n = word_after(ram.data(), data, len, addr, kRamModeSaveRequest);
        if (n >= 1 && n <= kModeCount) *displaced = watch_client(client);
    }
    const int rc = ZemRamParaDeal(data, len, addr, client);
    // The timing words (RAM 256..291), which the source thread writes under the store's mutex.
    if (rc == 0) {
        zem::MutexLocker timings(mutex);
        put_timings(data, len, addr);
    }
    return rc;
}

int ZemRamPara::watch_client(uint64_t client) {
    if (client == kNoClient) return 0;
    const uint64_t silent = link_activity::get().hold(client);
    if (silent == link_activity::kNone) return 0;
    ZEM_DEBUG(
        "\n save requests of the longest-silent UDP address carried out: %zu addresses "
        "hold requests\n",
        link_activity::kMaxAddresses);
    return take_client_requests(silent);
}
