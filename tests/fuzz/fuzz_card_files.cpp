// The stored receiving-card files: the packed recovery file "QZFX" and the smart-mapping scan
// file, walked record by record as the recovery and scan-load jobs read them (screens, nets,
// cards, their operations and the operations' data, then the smart-debugging block). The
// first byte picks the file.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/fuzz_box.h"
#include "fpga/rcv_recovery.h"

namespace {

constexpr int kEach = 4;  // records walked per level: the counts go up to 255

void operations(rcvRecovery& r, bool smart, bool scan) {
    if (r.check_operations(smart, scan, 4)) return;  // limits counted for a port of 4 cards
    std::vector<uint8_t> data(0x10000);
    for (int k = 0; k < std::min<int>(r.rcv_operate_times, kEach); ++k) {
        const uint8_t rc = smart ? r.update_smartDebugingOperatepara(uint8_t(k), scan)
                                 : r.update_rcvXYrcvOperatepara(uint8_t(k), scan);
        if (rc) continue;
        const uint16_t len = uint16_t(std::min<uint32_t>(r.operate_record.dataLen, 0xFFFF));
        r.update_rcvOperatedata(r.operation_data(smart, scan), data.data(), len);
    }
}

void cards(rcvRecovery& r, bool scan) {
    for (int n = 0; n < std::min<int>(r.screen_net_num, kEach); ++n) {
        if (r.update_rcvXYscreenNetpara(uint8_t(n))) continue;
        for (int c = 0; c < std::min<int>(r.net_record.net_rcv_num, kEach); ++c)
            if (!r.update_rcvXYrcvOperateTimes(uint8_t(c), scan)) operations(r, false, scan);
    }
}

void walk(rcvRecovery& r, bool scan) {
    if (r.get_rcvPackedFileNum()) return;
    for (int i = 0; i < r.sub_file_count(); ++i) r.get_rcvPackedFileInfo(uint8_t(i));
    if (!r.update_rcvScreenHead()) {
        for (int s = 0; s < std::min<int>(r.screen_head.screen_num, kEach); ++s) {
            if (r.update_rcvScreenIDinfo(uint8_t(s)) || r.update_rcvXYHead() ||
                r.update_rcvXYscreenNetnum())
                continue;
            cards(r, scan);
        }
    }
    if (!r.update_smartDebugingHead() && !r.update_smartDebugingOperateTimes(scan))
        operations(r, true, scan);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::startBox();
    if (size == 0) return 0;
    const bool scan = data[0] & 1;
    const char* path = scan ? "/data/smartmapping/qzfile" : "/data/rcvrecovery/QZFX";
    fuzz::writeFile(path, data + 1, size - 1);
    rcvRecovery r;
    r.init_para();
    r.file_path = path;
    walk(r, scan);
    return 0;
}
