// User modes: the 16 slots of the parameter store, their files under "/data/modes/", the save
// request in RAM 868 and the synchronisation the PC asks for with refresh id 2.
// The PC writes and recalls slots under the C331 mutex, so the main thread changes and reads
// them under it too; the slow file writes run on copies, outside it.
#include <QDebug>
#include <QThread>
#include <cstring>
#include <vector>

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

// The first slot from cur in direction dir for which saved(m) holds; 0x100 when none does.
template <typename Saved>
int walkSlots(int cur, int dir, Saved saved) {
    if (cur < 0 || cur >= ZemRamPara::kModeCount) return 0x100;
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
    constexpr int kCount = ZemRamPara::kModeCount;
    for (int i = 0; i < kCount; ++i) {
        const int m = ((first + step * i) % kCount + kCount) % kCount;
        if (saved(m)) return m;
    }
    return 0x100;
}

int ZemRamPara::ZemUserModeIndex(int cur, int dir) const {
    return walkSlots(cur, dir, [this](int m) { return ZemUserModeSaved(m) == 1; });
}

int ZemRamPara::ZemUserModeShownIndex(int cur, int dir) const {
    return walkSlots(cur, dir, [this](int m) { return ZemUserModeShown(m) == 1; });
}

int ZemRamPara::ZemGetCurrentModeIndex() const {
    const uint8_t n = uint8_t(rd16_locked(kRamCurrentMode));
    return n <= kModeCount ? n : 0;
}

// Writes one file image (markers 0xAA 0xAA and the payload) to slot m's file; false when the
// file could not be written, which the terminal is told.
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

static void removeModeFiles(int m, bool osdCopy) {
    Utils::system_mutex(QString("rm  -rf  /data/modes/custom_mode%1").arg(m + 1));
    platform::sleepUs(100);
    if (osdCopy)
        Utils::system_mutex(QString::fromStdString("rm  -rf  " + ZemRamPara::osdCopyFile(m)));
    platform::sleepUs(100);
    Utils::system_mutex("sync");
    platform::sleepUs(100);
}

Saver::Job ZemRamPara::take_slot_job(int m, Saver::Kind kind) const {
    Saver::Job job;
    job.kind = kind;
    job.slot = uint8_t(m);
    job.slot_gen = slot_gen_[m];
    const uint8_t* slot = mode_ram[m];
    if (kind == Saver::kModeDelete) {
        job.osd = (slot[kSlotOsdFlag] | slot[kSlotOsdFlag + 1] << 8) == 1;
    } else {
        std::memcpy(job.image.data(), slot, kModeFileSize);
        job.image[0] = job.image[1] = 0xAA;
    }
    return job;
}

void ZemRamPara::post_slot_job(const Saver::Job& job) {
    const std::optional<Saver::Job> replaced = saver.post(job);
    if (!replaced || replaced->kind != Saver::kModeSave) return;
    ZEM_DEBUG("\n user mode %d save request given way to a later one\n", replaced->slot + 1);
    std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
    end_request(replaced->request_gen);
}

void ZemRamPara::end_request(uint32_t gen) {
    if (word_gen(kRamModeSaveRequest) == gen) wr16(kRamModeSaveRequest, 0);
}

int ZemRamPara::mode_file_write(int m, int op) {
    if (m < 0 || m >= kModeCount) return 0;
    Saver::Job job;
    {
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        job = take_slot_job(m, Saver::kModeWrite);
        job.osd = op == 0 && rd16(kRamOsdOn) == 1;
    }
    return run_slot_job(job) ? 1 : 0;
}

// The load takes the file as it is, markers included: a short or unmarked file is no reason to
// delete it. Only a 0xFF marker, which no save writes, reads as empty, so that the next
// synchronisation deletes a file only for a slot the PC or the panel deleted.
int ZemRamPara::mode_file_deal(int m, int op) {
    if (m < 0 || m >= kModeCount) return 0;
    if (op == 1) {
        Saver::Job job;
        {
            std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
            job = take_slot_job(m, Saver::kModeDelete);
        }
        run_slot_job(job);
        return 0;
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
    uint8_t* slot = mode_ram[m];
    if (got < 0) {
        slot[0] = slot[1] = 0xFF;
        return 0;
    }
    std::memcpy(slot, file, size_t(got));
    for (long i = 0; i < 2 && i < got; ++i)
        if (slot[i] == 0xFF) slot[i] = 0;
    return 1;
}

// A request is taken once: when RAM 868 was written since the last take (its generation), or
// holds another value than the refresh before saw. The mode file holds the RAM as this refresh
// copied it, with the LED set in force.
void ZemRamPara::ZemUserModeSaveRequest() {
    const uint16_t n = seen16(kRamModeSaveRequest);
    const bool asked = seen_request_gen_ != taken_request_gen_ || changed16(kRamModeSaveRequest);
    taken_request_gen_ = seen_request_gen_;
    if (n == 0 || !asked) return;
    if (n > kModeCount) {
        ZEM_DEBUG("\n user mode save request %u ignored\n", n);
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        end_request(seen_request_gen_);
        return;
    }
    Saver::Job job;
    job.kind = Saver::kModeSave;
    job.slot = uint8_t(n - 1);
    job.osd = seen16(kRamOsdOn) == 1;
    job.request_gen = seen_request_gen_;
    job.image[0] = job.image[1] = 0xAA;
    std::memcpy(job.image.data() + 2, seen + kModePayloadStart, kModePayloadSize);
    {
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        put_led_in_force(job.image.data(), kModePayloadStart - 2);
        bump_slot_gen(job.slot);
        job.slot_gen = slot_gen_[job.slot];
        job.mode_gen = word_gen(kRamCurrentMode);
    }
    post_slot_job(job);
}

// Each slot as it is now. A slot whose job in line was taken at its present generation is
// left to that job, whose result is newer than the slot (a save request not yet written back).
// A request in RAM 868 is left alone: only its own end clears it.
void ZemRamPara::ZemUserModeSync() {
    std::vector<Saver::Job> jobs;
    {
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        for (int m = 0; m < kModeCount; ++m) {
            const uint8_t* mark = mode_ram[m];
            const bool deleted = markedDeleted(mark);
            if (!deleted && mark[0] != 0xAA && mark[1] != 0xAA) continue;
            if (saver.holds(m, slot_gen_[m])) continue;
            jobs.push_back(take_slot_job(m, deleted ? Saver::kModeDelete : Saver::kModeWrite));
        }
    }
    for (const Saver::Job& job : jobs) post_slot_job(job);
}

void ZemRamPara::delete_mode_from_panel(int m) {
    if (m < 0 || m >= kModeCount) return;
    Saver::Job job;
    {
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        mode_ram[m][0] = mode_ram[m][1] = 0xFF;
        bump_slot_gen(m);
        job = take_slot_job(m, Saver::kModeDelete);
    }
    shown_markers_[m][0] = shown_markers_[m][1] = 0xFF;
    post_slot_job(job);
}

int ZemRamPara::ZemUserModeShown(int m) const {
    return m >= 0 && m < kModeCount && markedSaved(shown_markers_[m]) ? 1 : 0;
}

bool ZemRamPara::run_slot_job(const Saver::Job& job) {
    const int m = job.slot;
    bool markersChanged = false;
    bool done = true;
    std::optional<Saver::Job> rewrite;
    if (job.kind == Saver::kModeDelete) {
        removeModeFiles(m, job.osd);
        if (hooks.during_slot_file_work) hooks.during_slot_file_work(m);
        std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
        markersChanged = deletion_written_back(job, rewrite);
    } else {
        done = write_slot_file(m, job.image.data());
        {
            std::lock_guard<std::mutex> lock(c331_manage::c331_mutex);
            markersChanged = save_written_back(job, done);
        }
        const bool request = job.kind == Saver::kModeSave;
        if (done) finishSave(m, request || job.osd ? 0 : 2, job.osd);
        if (request) {
            ZEM_DEBUG("\n user mode save change ,%#x \n", done ? 0xAAu : 0u);
            saver.post_parameter_file();
        }
    }
    if (rewrite) post_slot_job(*rewrite);
    // The panel learns of it at the refresh this raises (the saver's thread only: inline, the
    // caller's refresh is under way).
    if (markersChanged && QThread::currentThread() != thread()) test_signal(1);
    return done;
}

// A save or write of the slot's file: the slot takes it only while no later request reached
// the slot; RAM 866 names a saved mode only then, and unless a recall or another request
// changed 866 since the take. The request ends either way.
bool ZemRamPara::save_written_back(const Saver::Job& job, bool saved) {
    const int m = job.slot;
    const bool current = saved && slot_gen_[m] == job.slot_gen;
    if (job.kind == Saver::kModeSave) {
        if (current && word_gen(kRamCurrentMode) == job.mode_gen) wr16(kRamCurrentMode, m + 1);
        end_request(job.request_gen);
    }
    if (!current) return false;
    const bool changed = std::memcmp(mode_ram[m], job.image.data(), 2) != 0;
    const size_t size = job.kind == Saver::kModeSave ? size_t(kModeFileSize) : 2;
    std::memcpy(mode_ram[m], job.image.data(), size);
    return changed;
}

// A deletion: the slot reads deleted only while no later request reached it. A slot saved
// meanwhile, with nothing behind in its line, has its file written back from it: the removal
// came too early for it.
bool ZemRamPara::deletion_written_back(const Saver::Job& job, std::optional<Saver::Job>& rewrite) {
    const int m = job.slot;
    uint8_t* slot = mode_ram[m];
    if (slot_gen_[m] == job.slot_gen) {
        const bool changed = !markedDeleted(slot);
        slot[0] = slot[1] = 0xFF;
        if (job.osd) slot[kSlotOsdFlag] = slot[kSlotOsdFlag + 1] = 0;
        return changed;
    }
    if (markedSaved(slot) && saver.last_in_line(m)) rewrite = take_slot_job(m, Saver::kModeWrite);
    return false;
}
