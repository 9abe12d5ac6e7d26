#include "store_model.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kCurrentMode = 866, kSaveRequest = 868;
constexpr int kPayload = 896, kPayloadSize = 4096 - kPayload;
constexpr int kPersisted = 768;
// The LED set: splice, width, height, output 1's width and height.
constexpr int kLedWords[5] = {1376, 1378, 1380, 1412, 1414};

bool covers(int addr, int len, int word) {
    return addr < word + 2 && word < addr + len;
}
bool saved(const uint8_t* slot) {
    return slot[0] == 0xAA && slot[1] == 0xAA;
}
bool deleted(const uint8_t* slot) {
    return slot[0] == 0xFF || slot[1] == 0xFF;
}

}  // namespace

void StoreModel::start(const Ram& r, const std::array<Slot, kModes>& s, const Ram& file) {
    ram = r;
    modeSlots = s;
    paramFile = file;
    persisted_ = r;  // a start saves nothing for what its fix-ups changed
    modeFiles = {};
    for (int k = 0; k < 5; ++k) ledInForce_[k] = word(kLedWords[k]);
    shadowRequest_ = word(kSaveRequest);
    waiting_ = {};
    order_.clear();
}

void StoreModel::setWord(int addr, uint16_t v) {
    ram[addr] = uint8_t(v);
    ram[addr + 1] = uint8_t(v >> 8);
}

void StoreModel::pcWriteRam(int addr, const uint8_t* data, int len) {
    std::memcpy(ram.data() + addr, data, size_t(len));
    if (covers(addr, len, kCurrentMode)) ++modeVersion_;
    if (covers(addr, len, kSaveRequest)) ++requestVersion_;
}

void StoreModel::pcWriteSlot(int mode, const uint8_t* data, int len) {
    std::memcpy(modeSlots[mode - 1].data(), data, size_t(len));
    ++slotVersion_[mode - 1];
}

// The doc's ranges of an LED set (a splice of 1..4; 4 is copy).
bool StoreModel::ledSetValid() const {
    const uint32_t splice = word(1376), w = word(1378), h = word(1380);
    const uint32_t w1 = word(1412), h1 = word(1414);
    if (splice < 1 || splice > 4) return false;
    if (w < 512 || w > 16376 || h < 512 || h > 16376 || w * h > 13107200) return false;
    if (splice == 4 && w > 8188) return false;
    return w1 >= 256 && w1 <= w && h1 >= 256 && h1 <= h;
}

// Every apply checks the set: taken, or the five words go back to the set last taken.
void StoreModel::checkLedSize() {
    const bool valid = ledSetValid();
    for (int k = 0; k < 5; ++k) {
        if (valid)
            ledInForce_[k] = word(kLedWords[k]);
        else
            setWord(kLedWords[k], ledInForce_[k]);
    }
}

int StoreModel::register11(uint8_t value) {
    if (value & 0x02) {
        const uint16_t n = word(kCurrentMode);
        if (n < 1 || n > kModes || !saved(modeSlots[n - 1].data())) return 1;
        std::memcpy(ram.data() + kPayload, modeSlots[n - 1].data() + 2, kPayloadSize);
        setWord(kCurrentMode, n);
        ++modeVersion_;
    }
    checkLedSize();
    return 0;
}

// The file is written when the RAM (with the LED set in force) differs from what was saved.
bool StoreModel::saveDue() const {
    const Ram image = savedImage();
    return std::memcmp(image.data() + kPersisted, persisted_.data() + kPersisted,
                       size_t(4096 - kPersisted)) != 0;
}

StoreModel::Ram StoreModel::savedImage() const {
    Ram image = ram;
    for (int k = 0; k < 5; ++k) {
        image[size_t(kLedWords[k])] = uint8_t(ledInForce_[k]);
        image[size_t(kLedWords[k] + 1)] = uint8_t(ledInForce_[k] >> 8);
    }
    return image;
}

void StoreModel::refresh(int id) {
    takeSaveRequest();
    if (id == 2) synchronise();
    if (saveDue()) postParam();
    shadowRequest_ = word(kSaveRequest);
}

// A request is taken once: when 868 was written since the last take, or holds another value
// than the refresh before saw. The mode file holds the RAM as taken, with the set in force.
void StoreModel::takeSaveRequest() {
    const uint16_t n = word(kSaveRequest);
    const bool asked = requestVersion_ != takenRequestVersion_ || n != shadowRequest_;
    takenRequestVersion_ = requestVersion_;
    if (n == 0 || !asked) return;
    if (n > kModes) {
        endRequest(requestVersion_);
        return;
    }
    Job job;
    job.kind = kSave;
    job.slot = n - 1;
    job.slotVersion = ++slotVersion_[n - 1];
    job.requestVersion = requestVersion_;
    job.modeVersion = modeVersion_;
    const Ram image = savedImage();
    job.image[0] = job.image[1] = 0xAA;
    std::memcpy(job.image.data() + 2, image.data() + kPayload, kPayloadSize);
    post(job);
}

StoreModel::Job StoreModel::slotJob(int m, Kind kind) const {
    Job job;
    job.kind = kind;
    job.slot = m;
    job.slotVersion = slotVersion_[m];
    std::memcpy(job.image.data(), modeSlots[m].data(), kFileSize);
    job.image[0] = job.image[1] = 0xAA;
    return job;
}

// Each slot as it is now, unless a job of its line is newer than it.
void StoreModel::synchronise() {
    for (int m = 0; m < kModes; ++m) {
        const uint8_t* mark = modeSlots[m].data();
        const bool del = deleted(mark);
        if (!del && mark[0] != 0xAA && mark[1] != 0xAA) continue;
        if (waiting_[m] && waiting_[m]->slotVersion == slotVersion_[m]) continue;
        post(slotJob(m, del ? kDelete : kWrite));
    }
}

// A later job on a slot replaces the one waiting there, at the end of the line.
void StoreModel::post(const Job& job) {
    std::optional<Job> replaced;
    if (waiting_[job.slot]) {
        replaced = waiting_[job.slot];
        order_.erase(std::find(order_.begin(), order_.end(), job.slot));
    }
    waiting_[job.slot] = job;
    order_.push_back(job.slot);
    if (replaced && replaced->kind == kSave) endRequest(replaced->requestVersion);
}

void StoreModel::postParam() {
    if (std::find(order_.begin(), order_.end(), -1) == order_.end()) order_.push_back(-1);
}

void StoreModel::endRequest(uint64_t version) {
    if (requestVersion_ == version) setWord(kSaveRequest, 0);
}

void StoreModel::panelSave(int n) {
    setWord(kSaveRequest, uint16_t(n));
    ++requestVersion_;
    refresh(1);
}

void StoreModel::panelDelete(int m) {
    modeSlots[m][0] = modeSlots[m][1] = 0xFF;
    ++slotVersion_[m];
    Job job = slotJob(m, kDelete);
    post(job);
}

bool StoreModel::runJob() {
    if (order_.empty()) return false;
    const int entry = order_.front();
    order_.pop_front();
    if (entry < 0) {
        if (saveDue()) paramFile = persisted_ = savedImage();
        return true;
    }
    const Job job = *waiting_[entry];
    waiting_[entry].reset();
    runSlotJob(job);
    return true;
}

void StoreModel::runSlotJob(const Job& job) {
    Slot& slot = modeSlots[job.slot];
    const bool current = slotVersion_[job.slot] == job.slotVersion;
    if (job.kind == kDelete) {
        modeFiles[job.slot].reset();
        if (current) {
            slot[0] = slot[1] = 0xFF;
        } else if (saved(slot.data()) && !waiting_[job.slot]) {
            // Removed too early for a slot saved meanwhile: its file comes back from it.
            post(slotJob(job.slot, kWrite));
        }
        return;
    }
    modeFiles[job.slot] = job.image;
    if (job.kind == kSave) {
        if (current && modeVersion_ == job.modeVersion) setWord(kCurrentMode, job.slot + 1);
        endRequest(job.requestVersion);
        postParam();
    }
    if (current) std::memcpy(slot.data(), job.image.data(), job.kind == kSave ? kFileSize : 2);
}

// A start takes the parameter file, clears the test pattern, the current mode and the save
// request, and each slot from its file (a slot without one reads deleted).
void StoreModel::stopAndRestart() {
    refresh(0);
    while (runJob()) {
    }
    std::memcpy(ram.data() + kPersisted, paramFile.data() + kPersisted, 4096 - kPersisted);
    for (int a = 864; a < 870; ++a) ram[size_t(a)] = 0;
    for (int k = 0; k < 16; ++k) ram[size_t(2816 + 4 * k)] = ram[size_t(2818 + 4 * k)] = 60;
    for (int k = 0; k < 5; ++k) ledInForce_[k] = word(kLedWords[k]);
    persisted_ = ram;
    shadowRequest_ = 0;
    for (int m = 0; m < kModes; ++m) {
        modeSlots[m].fill(0);
        if (!modeFiles[m]) {
            modeSlots[m][0] = modeSlots[m][1] = 0xFF;
            continue;
        }
        std::memcpy(modeSlots[m].data(), modeFiles[m]->data(), kFileSize);
        for (int i = 0; i < 2; ++i)
            if (modeSlots[m][i] == 0xFF) modeSlots[m][i] = 0;
    }
}
