// User modes: the 16 slots of the parameter store, their files under "/data/modes/", the save
// request in RAM 868 and the synchronisation the PC asks for with refresh id 2.
// The PC writes and recalls slots under the C331 mutex, so the main thread changes and reads
// them under it too; the slow file writes run on copies, outside it.
#include <QDebug>
#include <cstring>

#include "c331/c331_manage.h"
#include "core/file_io.h"
#include "core/globals.h"
#include "core/saver.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "platform/clock.h"

namespace {

constexpr int kSlotOsdFlag = 2 + ZemRamPara::kRamOsdOn - ZemRamPara::kModePayloadStart;  // 1230

std::string slotFile(int m) {
    return "/data/modes/custom_mode" + std::to_string(m + 1);
}

bool markedSaved(const uint8_t* slot) {
    return slot[0] == 0xAA && slot[1] == 0xAA;
}
bool markedDeleted(const uint8_t* slot) {
    return slot[0] == 0xFF || slot[1] == 0xFF;
}

// The end of a slot save: op 0 copies the OSD menu beside the mode when the OSD is on.
void finishSave(int m, int op, bool osdOn) {
    if (op == 0) {
        const std::string cmd = "cp  /data/configs/omenu.json " + ZemRamPara::osdCopyFile(m);
        // The line says what happened: the copy's command, or that there was none to make.
        const std::string line = osdOn
                                     ? cmd
                                     : "user mode " + std::to_string(m + 1) +
                                           " saved without a copy of the OSD menu (the OSD is off)";
        qDebug().noquote() << QString::fromStdString(line);
        ZEM_DEBUG("\n %s \n", line.c_str());
        if (osdOn) Utils::system_mutex(QString::fromStdString(cmd));
    }
    Utils::system_mutex("sync");
    platform::sleepUs(100);
}

}  // namespace

int ZemRamPara::ZemModeUserRamParaDeal(const uint8_t* data, uint16_t len, uint32_t addr) {
    const uint32_t k = (addr >> 12) & 0xFF;
    if (k < 1 || k > uint32_t(kModeCount)) return 1;
    const uint32_t offset = addr & 0xFFF;
    // A write that would run out of its slot into the next one is refused whole.
    if (len > kModeSize - offset) return 1;
    if (len) std::memcpy(mode_ram[k - 1] + offset, data, len);
    bump_slot_gen(int(k - 1));
    ZEM_DEBUG("\n write ram_user_mode = %#x \n", k);
    return 0;
}

std::string ZemRamPara::osdCopyFile(int m) {
    char name[32];
    std::snprintf(name, sizeof name, "/data/modes/MO%02x.json", unsigned(m + 1));
    return name;
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
    const uint8_t n = uint8_t(rd16_locked(kRamCurrentMode));
    return n <= kModeCount ? n : 0;
}

// Writes one slot image (markers 0xAA 0xAA and the payload) to the slot file; false when the
// file could not be written.
bool ZemRamPara::write_slot_file(int m, const uint8_t* image) {
    {
        std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
        const int rc = file_io::writeFileAtomic(slotFile(m), image, kModeFileSize);
        if (rc != 0) {
            ZEM_DEBUG("\n user mode %d file write failed (%d)\n", m + 1, rc);
            writeLogMsg(
                1, "user mode save failed",
                ("user mode " + std::to_string(m + 1) + " save failed: " + slotFile(m)).c_str());
            return false;
        }
        file_io::syncAndSettle();
    }
    if (hooks.during_slot_file_work) hooks.during_slot_file_work(m);
    return true;
}

// The slot still holds what was taken before its file work (the caller holds the C331 mutex):
// only then may the work's result be written back. Otherwise the PC wrote it meanwhile, and the
// next synchronisation acts on that write.
bool ZemRamPara::slot_unchanged(int m, const uint8_t* taken) const {
    if (std::memcmp(mode_ram[m], taken, kModeSize) == 0) return true;
    ZEM_DEBUG("\n user mode %d written during its file work: kept as written\n", m + 1);
    return false;
}

// On failure the slot keeps the markers it had, so memory never claims a mode the disk lacks.
int ZemRamPara::mode_file_write(int m, int op) {
    if (m < 0 || m >= kModeCount) return 0;
    uint8_t taken[kModeSize];
    bool osdOn;
    {
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        std::memcpy(taken, mode_ram[m], kModeSize);
        osdOn = rd16(kRamOsdOn) == 1;
    }
    uint8_t image[kModeFileSize];
    std::memcpy(image, taken, kModeFileSize);
    image[0] = image[1] = 0xAA;
    if (!write_slot_file(m, image)) return 0;
    {
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        if (slot_unchanged(m, taken)) mode_ram[m][0] = mode_ram[m][1] = 0xAA;
    }
    finishSave(m, op, osdOn);
    return 1;
}

// The slot takes the file as it is, markers included: a short or unmarked file is no reason
// to delete it. Only a 0xFF marker, which no save writes, reads as empty, so that the next
// synchronisation deletes a file only for a slot the PC or the panel deleted.
int ZemRamPara::mode_file_deal(int m, int op) {
    if (m < 0 || m >= kModeCount) return 0;
    uint8_t* slot = mode_ram[m];
    uint8_t taken[kModeSize];
    if (op == 1) {
        Utils::system_mutex(QString("rm  -rf  /data/modes/custom_mode%1").arg(m + 1));
        platform::sleepUs(100);
        bool osdCopy;
        {
            std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
            osdCopy = (slot[kSlotOsdFlag] | slot[kSlotOsdFlag + 1] << 8) == 1;
            if (osdCopy) slot[kSlotOsdFlag] = slot[kSlotOsdFlag + 1] = 0;
            std::memcpy(taken, slot, kModeSize);
        }
        if (osdCopy)
            Utils::system_mutex(QString::fromStdString("rm  -rf  " + ZemRamPara::osdCopyFile(m)));
        platform::sleepUs(100);
        Utils::system_mutex("sync");
        platform::sleepUs(100);
        if (hooks.during_slot_file_work) hooks.during_slot_file_work(m);
    } else {
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        std::memcpy(taken, slot, kModeSize);
    }
    uint8_t file[kModeFileSize];
    long got;
    {
        std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
        got = file_io::readFileBytes(slotFile(m), file, sizeof file);
        if (got >= 0) file_io::syncAndSettle();
    }
    if (got >= 0 && got < kModeFileSize)
        ZEM_DEBUG("\n user mode %d file short (%ld bytes)\n", m + 1, got);
    std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
    if (!slot_unchanged(m, taken)) return 0;
    if (got < 0) {
        slot[0] = slot[1] = 0xFF;
        return 0;
    }
    std::memcpy(slot, file, size_t(got));
    for (long i = 0; i < 2 && i < got; ++i)
        if (slot[i] == 0xFF) slot[i] = 0;
    return 1;
}

// The request this refresh sees, handed to the saver: the refresh has acted on it, so the same
// request written again is a new one. A request out of range is cleared here, while the RAM
// still holds it (another one written meanwhile is the next refresh's).
void ZemRamPara::ZemUserModeSaveRequest() {
    const uint16_t n = seen16(kRamModeSaveRequest);
    if (n == 0 || !changed16(kRamModeSaveRequest)) return;
    seen[kRamModeSaveRequest] = seen[kRamModeSaveRequest + 1] = 0;
    if (n <= kModeCount) {
        Saver::get().post(Saver::kModeSave, uint8_t(n));
        return;
    }
    ZEM_DEBUG("\n user mode save request %u ignored\n", n);
    std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
    if (rd16(kRamModeSaveRequest) == n) wr16(kRamModeSaveRequest, 0);
}

// The mode is written from a copy of the RAM taken now: the disk must hold it before the slot
// and RAM 866 claim it. The request is cleared while the RAM still holds it, and the parameter
// file's save that keeps 866 and 868 is asked for here, after them.
void ZemRamPara::save_mode_on_request(uint16_t n) {
    if (n < 1 || n > kModeCount) return;
    uint8_t image[kModeFileSize] = {0xAA, 0xAA};
    uint8_t taken[kModeSize];
    uint16_t current;
    {
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        std::memcpy(image + 2, ram + kModePayloadStart, kModePayloadSize);
        put_led_in_force(image, kModePayloadStart - 2);
        std::memcpy(taken, mode_ram[n - 1], kModeSize);
        current = rd16(kRamCurrentMode);
    }
    const bool saved = write_slot_file(n - 1, image);
    bool osdOn;
    {
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        if (saved && slot_unchanged(n - 1, taken) && rd16(kRamCurrentMode) == current) {
            std::memcpy(mode_ram[n - 1], image, kModeFileSize);
            wr16(kRamCurrentMode, n);
        }
        if (rd16(kRamModeSaveRequest) == n) wr16(kRamModeSaveRequest, 0);
        osdOn = rd16(kRamOsdOn) == 1;
    }
    if (saved) finishSave(n - 1, 0, osdOn);
    ZEM_DEBUG("\n user mode save change ,%#x \n", saved ? 0xAAu : 0u);
    Saver::get().post(Saver::kParameterFile);
}

void ZemRamPara::ZemUserModeSync() {
    uint8_t markers[kModeCount][2];
    {
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        for (int m = 0; m < kModeCount; ++m) std::memcpy(markers[m], mode_ram[m], 2);
    }
    for (int m = 0; m < kModeCount; ++m) {
        const uint8_t* mark = markers[m];
        if (markedDeleted(mark)) {
            mode_file_deal(m, 1);
            std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
            wr16(kRamModeSaveRequest, 0);
        } else if (mark[0] == 0xAA || mark[1] == 0xAA) {
            mode_file_write(m, 2);
        }
    }
}
