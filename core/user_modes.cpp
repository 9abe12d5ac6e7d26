// User modes: the 16 slots of the parameter store, their files under "/data/modes/", the save
// request in RAM 868 and the synchronisation the PC asks for with refresh id 2.
#include <QDebug>
#include <cstring>

#include "core/file_io.h"
#include "core/globals.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "platform/clock.h"

namespace {

constexpr int kSlotOsdFlag = 2 + ZemRamPara::kRamOsdOn - ZemRamPara::kModePayloadStart;  // 1230

std::string slotFile(int m) {
    return "/data/modes/custom_mode" + std::to_string(m + 1);
}

std::string osdCopyFile(int m) {
    char name[32];
    std::snprintf(name, sizeof name, "/data/modes/MO%02x.json", unsigned(m + 1));
    return name;
}

bool markedSaved(const uint8_t* slot) {
    return slot[0] == 0xAA && slot[1] == 0xAA;
}
bool markedDeleted(const uint8_t* slot) {
    return slot[0] == 0xFF || slot[1] == 0xFF;
}

}  // namespace

int ZemRamPara::ZemModeUserRamParaDeal(const uint8_t* data, uint16_t len, uint32_t addr) {
    const uint32_t k = (addr >> 12) & 0xFF;
    if (k < 1 || k > uint32_t(kModeCount)) return 1;
    const uint32_t offset = addr & 0xFFF;
    // A write that would run out of its slot into the next one is refused whole.
    if (len > kModeSize - offset) return 1;
    if (len) std::memcpy(mode_ram[k - 1] + offset, data, len);
    ZEM_DEBUG("\n write ram_user_mode = %#x \n", k);
    return 0;
}

int ZemRamPara::ZemUserModeSaved(int m) const {
    return m >= 0 && m < kModeCount && markedSaved(mode_ram[m]) ? 1 : 0;
}

int ZemRamPara::ZemUserModeIndex(int cur, int dir) const {
    if (cur < 0 || cur >= kModeCount) return 0x100;
    int first, step;
    switch (dir) {
        case 0:
            first = cur - 1, step = -1;
            break;
        case 1:
            first = cur + 1, step = 1;
            break;
        case 2:
            first = cur, step = 1;
            break;
        default:
            return 0x100;
    }
    for (int i = 0; i < kModeCount; ++i) {
        const int m = ((first + step * i) % kModeCount + kModeCount) % kModeCount;
        if (ZemUserModeSaved(m)) return m;
    }
    return 0x100;
}

int ZemRamPara::ZemGetCurrentModeIndex() const {
    const uint8_t n = ram[kRamCurrentMode];
    return n <= kModeCount ? n : 0;
}

// On failure the slot keeps the markers it had, so memory never claims a mode the disk lacks.
int ZemRamPara::mode_file_write(int m, int op) {
    if (m < 0 || m >= kModeCount) return 0;
    uint8_t* slot = mode_ram[m];
    const uint8_t oldMarkers[2] = {slot[0], slot[1]};
    {
        std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
        slot[0] = slot[1] = 0xAA;
        const int rc = file_io::writeFileAtomic(slotFile(m), slot, kModeFileSize);
        if (rc != 0) {
            slot[0] = oldMarkers[0];
            slot[1] = oldMarkers[1];
            ZEM_DEBUG("\n user mode %d file write failed (%d)\n", m + 1, rc);
            qDebug() << "user mode save failed:" << QString::fromStdString(slotFile(m));
            writeLogMsg(1, "user mode file write failed");
            return 0;
        }
        file_io::syncAndSettle();
    }
    if (op == 0) {
        const std::string cmd = "cp  /data/configs/omenu.json " + osdCopyFile(m);
        qDebug() << QString::fromStdString(cmd);
        ZEM_DEBUG("\n %s \n", cmd.c_str());
        if (rd16(kRamOsdOn) == 1) Utils::system_mutex(QString::fromStdString(cmd));
    }
    Utils::system_mutex("sync");
    platform::sleepUs(100);
    return 1;
}

// A slot file shorter than a slot or without the saved marker counts as missing.
int ZemRamPara::mode_file_deal(int m, int op) {
    if (m < 0 || m >= kModeCount) return 0;
    uint8_t* slot = mode_ram[m];
    if (op == 1) {
        Utils::system_mutex(QString("rm  -rf  /data/modes/custom_mode%1").arg(m + 1));
        platform::sleepUs(100);
        if ((slot[kSlotOsdFlag] | slot[kSlotOsdFlag + 1] << 8) == 1) {
            Utils::system_mutex(QString::fromStdString("rm  -rf  " + osdCopyFile(m)));
            slot[kSlotOsdFlag] = slot[kSlotOsdFlag + 1] = 0;
        }
        platform::sleepUs(100);
        Utils::system_mutex("sync");
        platform::sleepUs(100);
    }
    {
        std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
        uint8_t file[kModeFileSize];
        const long got = file_io::readFileBytes(slotFile(m), file, sizeof file);
        if (got == kModeFileSize && markedSaved(file)) {
            std::memcpy(slot, file, kModeFileSize);
            file_io::syncAndSettle();
            return 1;
        }
        if (got >= 0) ZEM_DEBUG("\n user mode %d file unusable (%ld bytes)\n", m + 1, got);
    }
    slot[0] = slot[1] = 0xFF;
    return 0;
}

void ZemRamPara::ZemUserModeSaveRequest() {
    const uint16_t n = rd16(kRamModeSaveRequest);
    if (n == 0 || n == shadow16(kRamModeSaveRequest)) return;
    if (n > kModeCount) {
        ZEM_DEBUG("\n user mode save request %u ignored\n", n);
        wr16(kRamModeSaveRequest, 0);
        return;
    }
    uint8_t* slot = mode_ram[n - 1];
    uint8_t before[kModeSize];
    std::memcpy(before, slot, kModeSize);
    const uint16_t modeBefore = rd16(kRamCurrentMode);
    slot[0] = slot[1] = 0xAA;
    wr16(kRamCurrentMode, n);
    std::memcpy(slot + 2, ram + kModePayloadStart, kModePayloadSize);
    if (!mode_file_write(n - 1, 0)) {
        // The disk lacks the mode: the slot and the current mode stay as they were.
        std::memcpy(slot, before, kModeSize);
        wr16(kRamCurrentMode, modeBefore);
    }
    wr16(kRamModeSaveRequest, 0);
    ZEM_DEBUG("\n user mode save change ,%#x \n", slot[0]);
}

void ZemRamPara::ZemUserModeSync() {
    for (int m = 0; m < kModeCount; ++m) {
        const uint8_t* slot = mode_ram[m];
        if (markedDeleted(slot)) {
            mode_file_deal(m, 1);
            wr16(kRamModeSaveRequest, 0);
        } else if (slot[0] == 0xAA || slot[1] == 0xAA) {
            mode_file_write(m, 2);
        }
    }
}
