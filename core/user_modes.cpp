// User modes: the 16 slots of the parameter store, their files under "/data/modes/", the save
// request in RAM 868 and the synchronisation the PC asks for with refresh id 2.
// Every request changes the slots (and RAM 866) in memory when it is taken, under the C331
// mutex; the saver only writes and removes files from the bytes each take left, and has the
// store end the save requests it no longer holds up (RAM 868).
#include <QCoreApplication>
#include <QDebug>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <vector>

#include "c331/c331_manage.h"
#include "core/file_io.h"
#include "core/globals.h"
#include "core/link_activity.h"
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

void syncFiles() {
    Utils::system_mutex("sync");
    platform::sleepUs(100);
}

// A save's OSD menu copy, or the line that says there was none to make.
void copyOsdMenu(int m) {
    const std::string cmd = "cp  /data/configs/omenu.json " + ZemRamPara::osdCopyFile(m);
    qDebug().noquote() << QString::fromStdString(cmd);
    ZEM_DEBUG("\n %s \n", cmd.c_str());
    Utils::system_mutex(QString::fromStdString(cmd));
}
void sayNoOsdCopy(int m) {
    const std::string line = "user mode " + std::to_string(m + 1) +
                             " saved without a copy of the OSD menu (the OSD is off)";
    qDebug().noquote() << QString::fromStdString(line);
    ZEM_DEBUG("\n %s \n", line.c_str());
}

// A shell removal that failed is said on the terminal; false then.
bool removeFile(const std::string& path) {
    int status = 0;
    Utils::system_mutex(QString::fromStdString("rm  -rf  " + path), &status);
    platform::sleepUs(100);
    if (status == 0) return true;
    writeLogMsg(1, "user mode delete failed", (path + " could not be removed").c_str());
    return false;
}

uint16_t slotOsdFlag(const uint8_t* slot) {
    return uint16_t(slot[kSlotOsdFlag] | slot[kSlotOsdFlag + 1] << 8);
}

}  // namespace

int ZemRamPara::ZemModeUserRamParaDeal(const uint8_t* data, uint16_t len, uint32_t addr) {
    const uint32_t k = (addr >> 12) & 0xFF;
    if (k < 1 || k > uint32_t(kModeCount)) return 1;
    const uint32_t offset = addr & 0xFFF;
    // A write that would run out of its slot into the next one is refused whole.
    if (len > kModeSize - offset) return 1;
    if (len == 0) return 0;
    std::memcpy(mode_ram[k - 1].data() + offset, data, len);
    ZEM_DEBUG("\n write ram_user_mode = %#x \n", k);
    return 0;
}

std::string ZemRamPara::osdCopyFile(int m) {
    char name[32];
    std::snprintf(name, sizeof name, "/data/modes/MO%02x.json", unsigned(m + 1));
    return name;
}

int ZemRamPara::ZemUserModeSaved(int m) const {
    return m >= 0 && m < kModeCount && markedSaved(mode_ram[m].data()) ? 1 : 0;
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

void ZemRamPara::set_current_mode(uint16_t n) {
    current_mode_ = n;
    user_wr16(kRamCurrentMode, n);
}

void ZemRamPara::put_back_current_mode() {
    ZEM_DEBUG("\n user mode recall of %u refused: RAM 866 reads %u again \n",
              unsigned(rd16(kRamCurrentMode)), unsigned(current_mode_));
    wr16_no_gen_bump(kRamCurrentMode, current_mode_);
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
            keep_failed_file(m, false);
            return false;
        }
        file_io::syncAndSettle();
    }
    return true;
}

Saver::Job ZemRamPara::slot_file_job(int m, Saver::Kind kind) const {
    Saver::Job job;
    job.kind = kind;
    job.slot = uint8_t(m);
    std::memcpy(job.image.data(), mode_ram[m].data(), kModeFileSize);
    return job;
}

Saver::Job ZemRamPara::take_deletion(int m) {
    uint8_t* slot = mode_ram[m].data();
    Saver::Job job;
    job.kind = Saver::kModeDelete;
    job.slot = uint8_t(m);
    job.osd = slotOsdFlag(slot) == 1 ? Saver::kOsdRemove : Saver::kOsdNone;
    slot[0] = slot[1] = 0xFF;
    slot[kSlotOsdFlag] = slot[kSlotOsdFlag + 1] = 0;
    return job;
}

Saver::Job ZemRamPara::take_slot_write(int m) {
    mode_ram[m][0] = mode_ram[m][1] = 0xAA;
    return slot_file_job(m, Saver::kModeWrite);
}

int ZemRamPara::open_requests() const {
    return int(recorded_.size() + open_saves_.size());
}

// Keys are taken in the order of the takes, so the saves open are in the order of their keys.
void ZemRamPara::end_carried_out_saves() {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    if (open_saves_.empty()) return;
    const uint64_t first = saver.first_key_waiting();
    while (!open_saves_.empty() && open_saves_.front() < first) open_saves_.pop_front();
    if (open_requests() == 0) write_back16(kRamModeSaveRequest, 0);
}

void ZemRamPara::refresh_after_take() {
    // On the main thread the refresh would run inline, inside the key or tick that took it.
    if (QCoreApplication::instance() && QThread::currentThread() == thread())
        QMetaObject::invokeMethod(
            this, [this] { test_signal(1); }, Qt::QueuedConnection);
    else
        test_signal(1);
}

int ZemRamPara::mode_file_write(int m, int op) {
    if (m < 0 || m >= kModeCount) return 0;
    uint64_t key;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        Saver::Job job = take_slot_write(m);
        if (op == 0 && rd16(kRamOsdOn) == 1) job.osd = Saver::kOsdCopy;
        key = saver.post(job);
    }
    return saver.carry_out(m, key) ? 1 : 0;
}

// The load takes the file as it is, markers included: a short or unmarked file is no reason to
// delete it. Only a 0xFF marker, which no save writes, reads as empty, so that the next
// synchronisation deletes a file only for a slot the PC or the panel deleted.
int ZemRamPara::mode_file_deal(int m, int op) {
    if (m < 0 || m >= kModeCount) return 0;
    if (op == 1) {
        uint64_t key;
        {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            key = saver.post(take_deletion(m));
        }
        saver.carry_out(m, key);
        return 0;  // the slot reads as without a file
    }
    uint8_t file[kModeFileSize];
    long got;
    {
        zem::MutexLocker lock(Utils::_file_deal_mutex);
        file_io::removeLeftover(slotFile(m));
        const std::string empty = "user mode " + std::to_string(m + 1) + " is empty";
        got = file_io::readFileBytes(slotFile(m), file, sizeof file, empty.c_str());
        if (got >= 0) file_io::syncAndSettle();
    }
    if (got >= 0 && got < kModeFileSize)
        ZEM_DEBUG("\n user mode %d file short (%ld bytes)\n", m + 1, got);
    zem::MutexLocker lock(c331_manage::c331_mutex);
    uint8_t* slot = mode_ram[m].data();
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
        write_back16(kRamModeSaveRequest, open_requests() ? before : 0);
        return;
    }
    const auto same = [&](const RecordedRequest& r) {
        return r.client == client && r.slot == n - 1;
    };
    const auto earlier = std::find_if(recorded_.begin(), recorded_.end(), same);
    if (earlier != recorded_.end()) recorded_.erase(earlier);
    recorded_.push_back({client, uint8_t(n - 1)});
}

int ZemRamPara::take_client_requests(uint64_t client) {
    int taken = 0;
    for (auto r = recorded_.begin(); r != recorded_.end();) {
        if (r->client != client) {
            ++r;
            continue;
        }
        take_save_request(r->slot);
        r = recorded_.erase(r);
        ++taken;
    }
    link_activity::get().release(client);
    return taken;
}

void ZemRamPara::client_gone(uint64_t client) {
    int taken;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        taken = take_client_requests(client);
    }
    if (taken) refresh_after_take();
    saver.run_waiting();
}

void ZemRamPara::take_silent_clients(const std::vector<uint64_t>& clients, uint32_t now) {
    int taken = 0;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        for (const uint64_t client : clients) {
            // Decided again where no request can be recorded: one recorded since the look
            // heard its client.
            if (!link_activity::get().silent(client, now)) continue;
            ZEM_DEBUG("\n save requests of a PC link silent for 60 s carried out \n");
            taken += take_client_requests(client);
        }
    }
    if (taken) refresh_after_take();
    saver.run_waiting();
}

void ZemRamPara::take_every_recorded_request() {
    for (const RecordedRequest& r : recorded_) take_save_request(r.slot);
    recorded_.clear();
    link_activity::get().release_all();
}

void ZemRamPara::ZemUserModeSaveRequest() {
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        take_every_recorded_request();
    }
    saver.run_waiting();
}

// The slot holds the RAM as the box answered the request, with the LED set in force and its
// channel geometry: a size written and not yet checked is never saved, and a size taken at
// this register 11 is saved with the geometry its apply will write. The FPGA side's posted
// words land first, so the copy holds the close-LED and brightness in force.
void ZemRamPara::take_save_request(int m) {
    apply_posted_words();
    uint8_t* slot = mode_ram[m].data();
    slot[0] = slot[1] = 0xAA;
    {
        zem::MutexLocker timings(mutex);
        std::memcpy(slot + 2, ram.data() + kModePayloadStart, kModePayloadSize);
    }
    put_led_in_force(slot, kModePayloadStart - 2);
    put_geometry_in_force(slot, kModePayloadStart - 2);
    set_current_mode(uint16_t(m + 1));
    Saver::Job job = slot_file_job(m, Saver::kModeSave);
    job.osd = rd16(kRamOsdOn) == 1 ? Saver::kOsdCopy : Saver::kOsdNone;
    job.post_parameter_file = true;
    // Its own job is the last slot job taken with it: the request waits for that key.
    if (const uint64_t key = saver.post(job)) open_saves_.push_back(key);
}

// Each slot as it is now: marked saved, it reads AA AA and its file is written from it; marked
// deleted, it reads FF FF and its files go. Bytes a PC writes after this are not filed.
int ZemRamPara::take_synchronisation() {
    int taken = 0;
    for (int m = 0; m < kModeCount; ++m) {
        const uint8_t* mark = mode_ram[m].data();
        if (markedDeleted(mark))
            saver.post(take_deletion(m));
        else if (mark[0] == 0xAA || mark[1] == 0xAA)
            saver.post(take_slot_write(m));
        else
            continue;
        ++taken;
    }
    return taken;
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
        take_save_request(m);
        c331_manage::raise_apply(1);
    }
    shown_markers_[m][0] = shown_markers_[m][1] = 0xAA;
    refresh_after_take();
    saver.run_waiting();
}

void ZemRamPara::delete_mode_from_panel(int m) {
    if (m < 0 || m >= kModeCount) return;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        saver.post(take_deletion(m));
    }
    shown_markers_[m][0] = shown_markers_[m][1] = 0xFF;
    refresh_after_take();
    saver.run_waiting();
}

int ZemRamPara::ZemUserModeShown(int m) const {
    return m >= 0 && m < kModeCount && markedSaved(shown_markers_[m]) ? 1 : 0;
}

// The saver's run of a slot's job: the file work from the bytes the take left, outside every
// lock; then the OSD step a replaced job owed, and its own. Nothing is written back: the saver
// then has the requests it held up ended (end_carried_out_saves).
bool ZemRamPara::run_slot_job(const Saver::Job& job) {
    const int m = job.slot;
    const bool removal = job.kind == Saver::kModeDelete;
    const bool done =
        removal ? remove_mode_file(m, slotFile(m)) : write_slot_file(m, job.image.data());
    if (done || removal) {
        run_osd_step(m, job.owed_osd);
        if (job.osd != Saver::kOsdNone)
            run_osd_step(m, job.osd);
        else if (job.kind == Saver::kModeSave)
            sayNoOsdCopy(m);
        syncFiles();
    }
    if (hooks.during_slot_file_work) hooks.during_slot_file_work(m);
    if (job.kind == Saver::kModeSave)
        ZEM_DEBUG("\n user mode save change ,%#x \n", done ? 0xAAu : 0u);
    if (job.post_parameter_file) saver.post_parameter_file();
    return done;
}

void ZemRamPara::run_osd_step(int m, Saver::OsdStep step) {
    if (step == Saver::kOsdCopy) copyOsdMenu(m);
    if (step == Saver::kOsdRemove) remove_mode_file(m, osdCopyFile(m));
}

bool ZemRamPara::remove_mode_file(int m, const std::string& path) {
    if (removeFile(path)) return true;
    keep_failed_file(m, true);
    return false;
}
