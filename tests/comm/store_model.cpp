#include "store_model.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kCurrentMode = 866, kSaveRequest = 868;
constexpr int kPayload = 896, kPayloadSize = 4096 - kPayload;
constexpr int kPersisted = 768;
constexpr int kCloseLed = 2116;
constexpr int kWindows = 2272, kWindowStride = 26, kWinOutFlags = 18;
constexpr int kFades = 2816;
// The LED set: splice, width, height, output 1's width and height.
constexpr int kLedWords[5] = {1376, 1378, 1380, 1412, 1414};

bool covers(int addr, int len, int word) {
    return len > 0 && addr < word + 2 && word < addr + len;
}
bool saved(const uint8_t* slot) {
    return slot[0] == 0xAA && slot[1] == 0xAA;
}
bool deleted(const uint8_t* slot) {
    return slot[0] == 0xFF || slot[1] == 0xFF;
}
// The words whose value follows the progress of the box's file work: compared once it settled.
bool followsFileWork(int addr) {
    return addr >= kCurrentMode && addr < kSaveRequest + 2;
}
// The channel geometry (RAM 1382..1395) the apply derives from the LED set, and a save and a
// recall bring with it: its rule is the apply's, which the model does not repeat.
bool derived(int addr) {
    return addr >= 1382 && addr < 1396;
}
// The words a start sets whatever the file holds: the file need not follow them.
bool startSets(int addr) {
    const int window = (addr - kWindows) % kWindowStride;
    return followsFileWork(addr) || (addr >= 864 && addr < 870) || addr == kCloseLed ||
           addr == kCloseLed + 1 || (addr >= kFades && addr < kFades + 64) ||
           (addr >= kWindows && addr < kWindows + 6 * kWindowStride &&
            (window == kWinOutFlags || window == kWinOutFlags + 1));
}
std::string byteDiff(const char* what, int addr, uint8_t box, uint8_t model) {
    return std::string(what) + " " + std::to_string(addr) + ": " + std::to_string(box) +
           ", model " + std::to_string(model);
}

// The markers and the payload: what a mode file or a slot holds of meaning.
constexpr size_t kMeaningful = 2 + kPayloadSize;
// Not the channel geometry.
constexpr size_t kGeometryFrom = 2 + 1382 - kPayload, kGeometryTo = 2 + 1396 - kPayload;
bool same(const uint8_t* a, const uint8_t* b) {
    return std::memcmp(a, b, kGeometryFrom) == 0 &&
           std::memcmp(a + kGeometryTo, b + kGeometryTo, kMeaningful - kGeometryTo) == 0;
}
bool same(const std::optional<StoreModel::File>& a, const std::optional<StoreModel::File>& b) {
    return a.has_value() == b.has_value() && (!a || same(a->data(), b->data()));
}

// Where a file differs from the one the model expects.
std::string fileDiff(const std::optional<StoreModel::File>& box,
                     const std::optional<StoreModel::File>& want) {
    if (!box || !want) return box ? "the file exists" : "no file";
    for (size_t i = 0; i < kMeaningful; ++i)
        if ((i < kGeometryFrom || i >= kGeometryTo) && (*box)[i] != (*want)[i])
            return byteDiff("byte", int(i), (*box)[i], (*want)[i]) + " of the last request's";
    return "as the last request's";
}

}  // namespace

void StoreModel::start(const View& box) {
    *this = StoreModel();
    ram_ = box.ram;
    slots_ = box.modeSlots;
    for (int k = 0; k < 5; ++k) ledInForce_[k] = word(kLedWords[k]);
    for (int m = 0; m < kModes; ++m) fileHistory_[m] = {box.files[m]};
}

void StoreModel::setWord(int addr, uint16_t v) {
    ram_[addr] = uint8_t(v);
    ram_[addr + 1] = uint8_t(v >> 8);
}

// A user's write of RAM 866: no save under way may set it any more.
void StoreModel::userWroteMode() {
    for (Save& s : open_) supersede(s, false);
}

// A later write comes before the save's end: it sets RAM 866 no more, nor the slot when the
// write was the slot's. A save whose file shows nothing new may have ended before it, unseen:
// then 866 may read its mode.
void StoreModel::supersede(Save& s, bool slot) {
    if (s.indistinct && !s.slotWritten) {
        if (s.ownsMode) modeMayRead_.push_back(uint16_t(s.mode));
        if (slot) slotMayHold_.push_back(s);
    }
    s.ownsMode = false;
    s.slotWritten = s.slotWritten || slot;
}

void StoreModel::pcWriteRam(int client, int addr, const uint8_t* data, int len) {
    if (len <= 0) return;  // answered, and nothing changes
    std::memcpy(ram_.data() + addr, data, size_t(len));
    if (covers(addr, len, kCurrentMode)) userWroteMode();
    if (covers(addr, len, kSaveRequest)) {
        const uint16_t n = word(kSaveRequest);
        if (n >= 1 && n <= kModes) recorded_.push_back({client, n});
    }
}

void StoreModel::pcWriteSlot(int, int mode, const uint8_t* data, int len) {
    if (len <= 0) return;
    const int m = mode - 1;
    std::memcpy(slots_[m].data(), data, size_t(len));
    slotDirty_[m] = true;
    if (const auto file = slotAsFile(m)) written_[m].push_back(file);
    for (Save& s : open_)
        if (s.mode == mode) supersede(s, true);
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

// The RAM as a file or a saved mode holds it: with the LED set in force.
StoreModel::Ram StoreModel::savedImage() const {
    Ram image = ram_;
    for (int k = 0; k < 5; ++k) {
        image[size_t(kLedWords[k])] = uint8_t(ledInForce_[k]);
        image[size_t(kLedWords[k] + 1)] = uint8_t(ledInForce_[k] >> 8);
    }
    return image;
}

// A request's state of slot m's file. What a PC wrote into the slot since the request before
// may reach the file first (a deletion's write-back already in line).
void StoreModel::promise(int m, const std::optional<File>& file) {
    for (const auto& w : written_[m]) fileHistory_[m].push_back(w);
    fileHistory_[m].push_back(file);
    slotDirty_[m] = false;
    written_[m].clear();
}

// A save request taken now: the mode file holds the RAM as it is now.
void StoreModel::take(int mode) {
    Save s;
    s.mode = mode;
    const Ram image = savedImage();
    s.image[0] = s.image[1] = 0xAA;
    std::memcpy(s.image.data() + 2, image.data() + kPayload, kPayloadSize);
    // An earlier save of the mode not yet ended leaves the slot and RAM 866 to this one.
    for (Save& earlier : open_)
        if (earlier.mode == mode) supersede(earlier, true);
    s.indistinct = same(fileHistory_[mode - 1].back(), s.image);
    promise(mode - 1, s.image);
    s.state = fileHistory_[mode - 1].size() - 1;
    open_.push_back(s);
}

// A slot marked saved that a PC wrote since its last request may reach its file without a
// synchronisation (a deletion's write-back), whatever the PC wrote there after.
bool StoreModel::writtenSince(int m, const std::optional<File>& file) const {
    for (const auto& w : written_[m])
        if (same(w, file)) return true;
    return false;
}

std::optional<StoreModel::File> StoreModel::slotAsFile(int m) const {
    if (deleted(slots_[m].data())) return std::nullopt;
    File f;
    std::memcpy(f.data(), slots_[m].data(), kFileSize);
    return f;
}

// Each slot a PC wrote since its last file request becomes its file (or its deletion); the
// others already have the file their last request gave them.
void StoreModel::synchronise() {
    for (int m = 0; m < kModes; ++m) {
        if (!slotDirty_[m]) continue;
        const uint8_t* mark = slots_[m].data();
        if (deleted(mark)) {
            slots_[m][0] = slots_[m][1] = 0xFF;
            promise(m, std::nullopt);
        } else if (saved(mark)) {
            promise(m, slotAsFile(m));
        }
    }
}

bool StoreModel::waitsForRegister11(int client) const {
    for (const auto& r : recorded_)
        if (r.first == client) return true;
    return false;
}

int StoreModel::register11(int client, uint8_t value) {
    if (value & 0x02) {
        const uint16_t n = word(kCurrentMode);
        if (n < 1 || n > kModes || !saved(slots_[n - 1].data())) return 1;
        std::memcpy(ram_.data() + kPayload, slots_[n - 1].data() + 2, kPayloadSize);
        setWord(kCurrentMode, n);
        userWroteMode();
    }
    checkLedSize();
    // This client's save requests, in the order it wrote them; another client's wait for its own.
    for (auto it = recorded_.begin(); it != recorded_.end();) {
        if (it->first != client) {
            ++it;
            continue;
        }
        take(it->second);
        it = recorded_.erase(it);
    }
    if (value & 0x04) synchronise();
    return 0;
}

void StoreModel::panelSave(int n) {
    take(n);
}

void StoreModel::panelDelete(int m) {
    slots_[m][0] = slots_[m][1] = 0xFF;
    for (Save& s : open_)
        if (s.mode == m + 1) supersede(s, true);
    promise(m, std::nullopt);
}

int StoreModel::panelRecall(int n) {
    if (!saved(slots_[n - 1].data())) return 1;
    std::memcpy(ram_.data() + kPayload, slots_[n - 1].data() + 2, kPayloadSize);
    setWord(kCurrentMode, uint16_t(n));
    userWroteMode();
    return 0;
}

// The mode ends unless it was not yet in the parameter file (the box's business): RAM 866
// reads 0 or what it read before. Either way no save under way may set it any more.
std::string StoreModel::panelSource(int window, uint16_t source, uint16_t before, uint16_t after) {
    setWord(kWindows + kWindowStride * window + 8, source);
    userWroteMode();
    if (after != 0 && after != before)
        return "a source change set RAM 866 to " + std::to_string(after);
    setWord(kCurrentMode, after);
    return "";
}

// A recall's slot is the box's business while a save of that mode it has not ended yet may
// still write it back.
bool StoreModel::recallOpen(int n) const {
    for (const Save& s : open_)
        if (s.mode == n && !s.slotWritten) return true;
    return false;
}

std::string StoreModel::recallTook(int client, int n, bool done, const Ram& box) {
    const uint8_t* slot = slots_[n - 1].data();
    if (!done) return saved(slot) ? "a recall of a saved mode refused" : "";
    // But for the LED set and its geometry (RAM 1376..1395, 1412..1415), which the recall's size
    // check may have sent back to the set in force.
    const auto brings = [&](const uint8_t* image) {
        for (int a = kPayload; a < 4096; ++a)
            if (!(a >= 1376 && a < 1396) && !(a >= 1412 && a < 1416) &&
                box[size_t(a)] != image[2 + a - kPayload])
                return false;
        return true;
    };
    bool allowed = saved(slot) && brings(slot);
    for (const Save& s : open_)
        allowed = allowed || (s.mode == n && !s.slotWritten && brings(s.image.data()));
    if (!allowed) return "a recall brought a payload no save of the mode holds";
    std::memcpy(ram_.data() + kPayload, box.data() + kPayload, kPayloadSize);
    setWord(kCurrentMode, uint16_t(n));
    userWroteMode();
    register11(client, 0);
    return "";
}

// The first of the states slot m's requests lead its file through, from state `from` on, that
// the file shows; among equal states in a row, the last: they can't be told apart.
std::optional<size_t> StoreModel::stateAt(int m, const std::optional<File>& file,
                                          size_t from) const {
    const auto& history = fileHistory_[m];
    for (size_t i = from; i < history.size(); ++i) {
        if (!same(history[i], file)) continue;
        while (i + 1 < history.size() && same(history[i + 1], file)) ++i;
        return i;
    }
    return std::nullopt;
}

std::string StoreModel::check(const View& box) {
    for (int a = kPersisted; a < 4096; ++a)
        if (!followsFileWork(a) && !derived(a) && box.ram[a] != ram_[a])
            return byteDiff("RAM", a, box.ram[a], ram_[a]);
    // Never a state before the one it showed last. A slot's bytes a PC wrote since its last
    // request, written back, are the file's newest state.
    for (int m = 0; m < kModes; ++m) {
        const std::optional<File>& file = box.files[m];
        if (const auto at = stateAt(m, file, fileSeen_[m])) {
            fileSeen_[m] = *at;
            continue;
        }
        if (writtenSince(m, file)) {
            fileHistory_[m].push_back(file);
            fileSeen_[m] = fileHistory_[m].size() - 1;
            continue;
        }
        return "the file of mode " + std::to_string(m + 1) +
               " is in no state its requests lead through (" +
               fileDiff(box.files[m], fileHistory_[m].back()) + ")";
    }
    const bool zero = (box.ram[kSaveRequest] | box.ram[kSaveRequest + 1]) == 0;
    if (!zero) {
        endWritten();
        return "";
    }
    // RAM 868 reads 0: every save request answered has ended, its file written.
    if (!recorded_.empty())
        return "RAM 868 reads 0 while a save request of mode " +
               std::to_string(recorded_.front().second) + " waits for its register 11";
    // One that a later request, slot write or delete of its mode came before has ended too.
    for (const Save& s : open_) {
        const int m = s.mode - 1;
        if (s.slotWritten || s.state + 1 < fileHistory_[m].size()) continue;
        if (!stateAt(m, box.files[m], std::max(fileSeen_[m], s.state)))
            return "RAM 868 reads 0 before the save of mode " + std::to_string(s.mode) +
                   " is on disk";
    }
    endWritten();
    return "";
}

// A save has ended: the slot takes its image and RAM 866 its mode, unless a later write
// came first.
void StoreModel::end(const Save& s) {
    fprintf(stderr, "end mode %d written %d owns %d\n", s.mode, s.slotWritten, s.ownsMode);
    if (s.slotWritten) return;
    std::memcpy(slots_[s.mode - 1].data(), s.image.data(), kFileSize);
    if (s.ownsMode) setWord(kCurrentMode, uint16_t(s.mode));
}

// The saves whose file the box has written have ended, in the order taken, up to the first
// not seen to: what comes after is later than them.
void StoreModel::endWritten() {
    while (!open_.empty()) {
        const Save& s = open_.front();
        // One a later write came before leaves nothing, whenever it ends.
        const bool leavesNothing = s.slotWritten;
        if (!leavesNothing && (s.indistinct || fileSeen_[s.mode - 1] < s.state)) return;
        end(s);
        open_.erase(open_.begin());
    }
}

// Every save taken has ended, in the order taken.
void StoreModel::settle() {
    for (const Save& s : open_) end(s);
    open_.clear();
}

std::string StoreModel::checkSettled(const View& box) {
    const std::string any = check(box);
    if (!any.empty()) return any;
    settle();
    const uint16_t mode = uint16_t(box.ram[kCurrentMode] | box.ram[kCurrentMode + 1] << 8);
    if (std::find(modeMayRead_.begin(), modeMayRead_.end(), mode) != modeMayRead_.end())
        setWord(kCurrentMode, mode);
    modeMayRead_.clear();
    // RAM 868 holds a request while one waits for its register 11; which one is not promised.
    for (int a = kPersisted; a < 4096; ++a)
        if ((a < kSaveRequest || a > kSaveRequest + 1) && !derived(a) && box.ram[a] != ram_[a])
            return byteDiff("RAM", a, box.ram[a], ram_[a]);
    if ((box.ram[kSaveRequest] | box.ram[kSaveRequest + 1]) == 0 && !recorded_.empty())
        return "RAM 868 reads 0 while a save request waits for its register 11";
    // A slot a save may have reached unseen before a PC's write holds that save's payload under
    // what the PC wrote.
    for (const Save& s : slotMayHold_) {
        Slot& slot = slots_[s.mode - 1];
        Slot reached = slot;
        std::memcpy(reached.data() + 2, s.image.data() + 2, kPayloadSize);
        if (same(box.modeSlots[s.mode - 1].data(), reached.data())) slot = reached;
    }
    slotMayHold_.clear();
    for (int m = 0; m < kModes; ++m) {
        if (!same(box.modeSlots[m].data(), slots_[m].data()))
            return "the slot of mode " + std::to_string(m + 1);
        const auto& last = fileHistory_[m].back();
        const bool dirtyAndSlot = writtenSince(m, box.files[m]);
        if (!same(box.files[m], last) && !dirtyAndSlot)
            return "the file of mode " + std::to_string(m + 1) +
                   " is not what its last request left (" + fileDiff(box.files[m], last) + ")";
        fileHistory_[m] = {box.files[m]};
        fileSeen_[m] = 0;
    }
    // The parameter file holds the RAM with the set in force, but for the words a start sets.
    const Ram image = savedImage();
    for (int a = kPersisted; a < 4096; ++a)
        if (!startSets(a) && !derived(a) && box.paramFile[a] != image[a])
            return byteDiff("parameter file", a, box.paramFile[a], image[a]);
    return "";
}

// A start takes the parameter file, clears the close-LED, the outputs' frozen bits, the test
// pattern, the current mode and the save request, sets the fades to 60, and loads each slot from
// its file (a slot without one reads FF FF).
void StoreModel::stopAndRestart(const Files& boxFiles) {
    for (auto it = recorded_.begin(); it != recorded_.end(); it = recorded_.erase(it))
        take(it->second);
    settle();
    modeMayRead_.clear();
    slotMayHold_.clear();
    for (int m = 0; m < kModes; ++m) {
        const auto& want = fileHistory_[m].back();
        // A slot written without a synchronisation: its file may hold either.
        const auto file = writtenSince(m, boxFiles[m]) ? boxFiles[m] : want;
        fileHistory_[m] = {file};
        fileSeen_[m] = 0;
        slotDirty_[m] = false;
        written_[m].clear();
        slots_[m].fill(0);
        if (!file) {
            slots_[m][0] = slots_[m][1] = 0xFF;
            continue;
        }
        std::memcpy(slots_[m].data(), file->data(), kFileSize);
        for (int i = 0; i < 2; ++i)
            if (slots_[m][i] == 0xFF) slots_[m][i] = 0;
    }
    const Ram image = savedImage();
    std::memcpy(ram_.data() + kPersisted, image.data() + kPersisted, 4096 - kPersisted);
    setWord(kCloseLed, 0);
    for (int w = 0; w < 6; ++w) {
        const int a = kWindows + kWindowStride * w + kWinOutFlags;
        setWord(a, word(a) & ~0x0002);
    }
    for (int a = 864; a < 870; ++a) ram_[size_t(a)] = 0;
    for (int k = 0; k < 16; ++k)
        ram_[size_t(kFades + 4 * k)] = ram_[size_t(kFades + 2 + 4 * k)] = 60;
    for (int k = 0; k < 5; ++k) ledInForce_[k] = word(kLedWords[k]);
}
