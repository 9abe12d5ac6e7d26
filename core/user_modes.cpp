// User modes: the 16 slots of the parameter store, their files under "/data/modes/", the save
// request in RAM 868 and the synchronisation the PC asks for with refresh id 2.
// The PC writes and recalls slots under the C331 mutex, so the main thread changes and reads
// them under it too; the slow file writes run on copies, outside it.
#include <QDebug>
#include <QThread>
#include <algorithm>
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
    if (len == 0) return 0;
    std::memcpy(mode_ram[k - 1] + offset, data, len);
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
    // The slots' markers, read here under the C331 mutex the caller holds.
    std::array<bool, kModeCount> saved{};
    for (int m = 0; m < kModeCount; ++m) saved[size_t(m)] = ZemUserModeSaved(m) == 1;
    return walkSlots(cur, dir, [&saved](int m) { return saved[size_t(m)]; });
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
        zem::MutexLocker lock(Utils::_file_deal_mutex);
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

void ZemRamPara::post_locked(const Saver::Job& job) {
    const std::optional<Saver::Job> replaced = saver.post(job);
    if (!replaced || replaced->kind != Saver::kModeSave) return;
    ZEM_DEBUG("\n user mode %d save request given way to a later one\n", replaced->slot + 1);
    end_request();
}

void ZemRamPara::end_request() {
    if (open_requests_ > 0 && --open_requests_ == 0) write_back16(kRamModeSaveRequest, 0);
}

int ZemRamPara::mode_file_write(int m, int op) {
    if (m < 0 || m >= kModeCount) return 0;
    Saver::Job job;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        job = take_slot_job(m, Saver::kModeWrite);
        job.osd = op == 0 && rd16(kRamOsdOn) == 1;
    }
    const bool done = run_slot_job(job);
    saver.run_waiting();
    return done ? 1 : 0;
}

// The load takes the file as it is, markers included: a short or unmarked file is no reason to
// delete it. Only a 0xFF marker, which no save writes, reads as empty, so that the next
// synchronisation deletes a file only for a slot the PC or the panel deleted.
int ZemRamPara::mode_file_deal(int m, int op) {
    if (m < 0 || m >= kModeCount) return 0;
    if (op == 1) {
        Saver::Job job;
        {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            job = take_slot_job(m, Saver::kModeDelete);
        }
        run_slot_job(job);
        saver.run_waiting();
        return 0;
    }
    uint8_t file[kModeFileSize];
    long got;
    {
        zem::MutexLocker lock(Utils::_file_deal_mutex);
        got = file_io::readFileBytes(slotFile(m), file, sizeof file);
        if (got >= 0) file_io::syncAndSettle();
    }
    if (got >= 0 && got < kModeFileSize)
        ZEM_DEBUG("\n user mode %d file short (%ld bytes)\n", m + 1, got);
    zem::MutexLocker lock(c331_manage::c331_mutex);
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

// A PC's write of 1..16 is its client's request; a later one of the same client and mode takes
// its place (both would be taken at one register 11, with one copy of the RAM). Any other write
// is no request: the word keeps telling whether one is open.
void ZemRamPara::request_word_written(uint64_t client, uint16_t before) {
    const uint16_t n = rd16(kRamModeSaveRequest);
    if (client == kNoClient || n < 1 || n > kModeCount) {
        if (client != kNoClient) ZEM_DEBUG("\n user mode save request %u ignored\n", n);
        write_back16(kRamModeSaveRequest, open_requests_ ? before : 0);
        return;
    }
    const auto same = [&](const RecordedRequest& r) {
        return r.client == client && r.slot == n - 1;
    };
    const auto earlier = std::find_if(recorded_.begin(), recorded_.end(), same);
    if (earlier != recorded_.end())
        recorded_.erase(earlier);
    else
        ++open_requests_;
    recorded_.push_back({client, uint8_t(n - 1)});
}

void ZemRamPara::take_client_requests(uint64_t client) {
    for (auto r = recorded_.begin(); r != recorded_.end();) {
        if (r->client != client) {
            ++r;
            continue;
        }
        post_save_request(r->slot);
        r = recorded_.erase(r);
    }
}

void ZemRamPara::client_gone(uint64_t client) {
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        take_client_requests(client);
    }
    saver.run_waiting();
}

void ZemRamPara::take_every_recorded_request() {
    for (const RecordedRequest& r : recorded_) post_save_request(r.slot);
    recorded_.clear();
}

void ZemRamPara::ZemUserModeSaveRequest() {
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        take_every_recorded_request();
    }
    saver.run_waiting();
}

// The mode file holds the RAM as the box answered the request, with the LED set in force and
// its channel geometry: a size written and not yet checked is never saved, and a size taken at
// this register 11 is saved with the geometry its apply will write.
void ZemRamPara::post_save_request(int m) {
    Saver::Job job;
    job.kind = Saver::kModeSave;
    job.slot = uint8_t(m);
    job.osd = rd16(kRamOsdOn) == 1;
    job.image[0] = job.image[1] = 0xAA;
    {
        zem::MutexLocker timings(mutex);
        std::memcpy(job.image.data() + 2, ram + kModePayloadStart, kModePayloadSize);
    }
    put_led_in_force(job.image.data(), kModePayloadStart - 2);
    put_geometry_in_force(job.image.data(), kModePayloadStart - 2);
    bump_slot_gen(m);
    job.slot_gen = slot_gen_[m];
    job.mode_gen = word_gen(kRamCurrentMode);
    job.request_gen = word_gen(kRamModeSaveRequest);
    post_locked(job);
}

// Each slot as it is now. A slot whose job in line was taken at its present generation is
// left to that job, whose result is newer than the slot (a save request not yet written back).
// A request in RAM 868 is left alone: only its own end clears it.
void ZemRamPara::take_synchronisation() {
    for (int m = 0; m < kModeCount; ++m) {
        const uint8_t* mark = mode_ram[m];
        const bool deleted = markedDeleted(mark);
        if (!deleted && mark[0] != 0xAA && mark[1] != 0xAA) continue;
        if (saver.holds(m, slot_gen_[m])) continue;
        post_locked(take_slot_job(m, deleted ? Saver::kModeDelete : Saver::kModeWrite));
    }
}

void ZemRamPara::ZemUserModeSync() {
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        take_synchronisation();
    }
    saver.run_waiting();
}

void ZemRamPara::save_mode_from_panel(int m) {
    if (m < 0 || m >= kModeCount) return;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        // A new request each time, as a PC's write of 868 is, whatever it held before.
        user_wr16(kRamModeSaveRequest, uint16_t(m + 1));
        ++open_requests_;
        post_save_request(m);
        c331_manage::raise_apply(1);
    }
    saver.run_waiting();
}

void ZemRamPara::delete_mode_from_panel(int m) {
    if (m < 0 || m >= kModeCount) return;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        mode_ram[m][0] = mode_ram[m][1] = 0xFF;
        bump_slot_gen(m);
        post_locked(take_slot_job(m, Saver::kModeDelete));
    }
    shown_markers_[m][0] = shown_markers_[m][1] = 0xFF;
    saver.run_waiting();
}

int ZemRamPara::ZemUserModeShown(int m) const {
    return m >= 0 && m < kModeCount && markedSaved(shown_markers_[m]) ? 1 : 0;
}

bool ZemRamPara::run_slot_job(const Saver::Job& job) {
    const int m = job.slot;
    bool shownChanged = false;
    bool done = true;
    if (job.kind == Saver::kModeDelete) {
        removeModeFiles(m, job.osd);
        if (hooks.during_slot_file_work) hooks.during_slot_file_work(m);
        zem::MutexLocker lock(c331_manage::c331_mutex);
        shownChanged = deletion_written_back(job);
    } else {
        done = write_slot_file(m, job.image.data());
        {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            shownChanged = save_written_back(job, done);
        }
        const bool request = job.kind == Saver::kModeSave;
        if (done) finishSave(m, request || job.osd ? 0 : 2, job.osd);
        if (request) {
            ZEM_DEBUG("\n user mode save change ,%#x \n", done ? 0xAAu : 0u);
            saver.post_parameter_file();
        }
    }
    // The panel learns of it at the refresh this raises (the saver's thread only: inline, the
    // caller's refresh is under way).
    if (shownChanged && QThread::currentThread() != thread()) test_signal(1);
    return done;
}

// A save or write of the slot's file: the slot takes it only while no later request reached
// the slot; RAM 866 names a saved mode only then, and unless a recall or another request
// changed 866 since the take. The request ends either way.
bool ZemRamPara::save_written_back(const Saver::Job& job, bool saved) {
    const int m = job.slot;
    const bool current = saved && slot_gen_[m] == job.slot_gen;
    bool changed = false;
    if (job.kind == Saver::kModeSave) {
        if (current && word_gen(kRamCurrentMode) == job.mode_gen) {
            changed = rd16(kRamCurrentMode) != m + 1;
            write_back16(kRamCurrentMode, uint16_t(m + 1));
        }
        end_request();
    }
    if (!current) return changed;
    changed = changed || std::memcmp(mode_ram[m], job.image.data(), 2) != 0;
    const size_t size = job.kind == Saver::kModeSave ? size_t(kModeFileSize) : 2;
    std::memcpy(mode_ram[m], job.image.data(), size);
    return changed;
}

// A deletion: the slot reads deleted only while no later request reached it. A slot saved
// meanwhile, with nothing behind in its line, has its file written back from it: the removal
// came too early for it.
bool ZemRamPara::deletion_written_back(const Saver::Job& job) {
    const int m = job.slot;
    uint8_t* slot = mode_ram[m];
    if (slot_gen_[m] == job.slot_gen) {
        const bool changed = !markedDeleted(slot);
        slot[0] = slot[1] = 0xFF;
        if (job.osd) slot[kSlotOsdFlag] = slot[kSlotOsdFlag + 1] = 0;
        return changed;
    }
    if (markedSaved(slot) && saver.last_in_line(m))
        post_locked(take_slot_job(m, Saver::kModeWrite));
    return false;
}
