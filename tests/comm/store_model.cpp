#include "store_model.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr int kCurrentModeAddr = 866, kSaveRequestAddr = 868;
constexpr int kPayload = 896, kPayloadSize = 4096 - kPayload;
constexpr int kPersisted = 768;
constexpr int kCloseLed = 2116;
constexpr int kWindows = 2272, kWindowStride = 26, kWinSource = 8, kWinOutFlags = 18;
constexpr int kFades = 2816;
// The LED set: splice, width, height, output 1's width and height.
constexpr int kLedWords[5] = {1376, 1378, 1380, 1412, 1414};
// A slot's OSD flag: RAM 2124 as the mode was saved.
constexpr int kSlotOsdFlag = 2 + 2124 - kPayload;

bool covers(int addr, int len, int word) {
    return len > 0 && addr < word + 2 && word < addr + len;
}
bool saved(const uint8_t* slot) {
    return slot[0] == 0xAA && slot[1] == 0xAA;
}
bool markedDeleted(const uint8_t* slot) {
    return slot[0] == 0xFF || slot[1] == 0xFF;
}
bool markedSaved(const uint8_t* slot) {
    return slot[0] == 0xAA || slot[1] == 0xAA;
}
// The channel geometry (RAM 1382..1395) the apply derives from the LED set, and a save brings
// with it: its rule is the apply's, which the model does not repeat.
bool derived(int addr) {
    return addr >= 1382 && addr < 1396;
}
// The same bytes in a slot or a mode file.
bool derivedInSlot(int offset) {
    return offset >= 2 && derived(offset - 2 + kPayload);
}
// The first byte of `n` at which a slot or file differs from the model's, but for the channel
// geometry; -1 when none.
int firstDiff(const uint8_t* box, const uint8_t* model, int n) {
    constexpr int kFrom = 2 + 1382 - kPayload, kTo = 2 + 1396 - kPayload;
    if (std::memcmp(box, model, kFrom) == 0 && std::memcmp(box + kTo, model + kTo, n - kTo) == 0)
        return -1;
    for (int i = 0; i < n; ++i)
        if (!derivedInSlot(i) && box[i] != model[i]) return i;
    return -1;
}
// The words a start sets whatever the parameter file holds: the file need not follow them.
bool startSets(int addr) {
    const int window = (addr - kWindows) % kWindowStride;
    return (addr >= 864 && addr < 870) || addr == kCloseLed || addr == kCloseLed + 1 ||
           (addr >= kFades && addr < kFades + 64) ||
           (addr >= kWindows && addr < kWindows + 6 * kWindowStride &&
            (window == kWinOutFlags || window == kWinOutFlags + 1));
}
std::string byteDiff(const std::string& what, int at, uint8_t box, uint8_t model) {
    return what + " " + std::to_string(at) + ": " + std::to_string(box) + ", model " +
           std::to_string(model);
}
std::string modeName(int m) {
    return "mode " + std::to_string(m + 1);
}
std::string jobName(int m, bool remove) {
    return (remove ? "the deletion of " : "the file write of ") + modeName(m);
}

}  // namespace

void StoreModel::addLink(int link, Owner kind) {
    links_[link] = Link{kind};
}

void StoreModel::start(const View& box) {
    const auto links = links_;
    *this = StoreModel();
    links_ = links;
    ram_ = box.ram;
    slots_ = box.modeSlots;
    files_ = box.files;
    for (int k = 0; k < 5; ++k) ledInForce_[k] = word(kLedWords[k]);
    savedMode_ = word(kCurrentModeAddr);
    currentMode_ = 0;
}

void StoreModel::setWord(int addr, uint16_t v) {
    ram_[addr] = uint8_t(v);
    ram_[addr + 1] = uint8_t(v >> 8);
}

int StoreModel::openRequests() const {
    return int(recorded_.size() + openSaves_.size());
}

// The last request written while any is open, then 0.
uint16_t StoreModel::requestWord() const {
    return openRequests() > 0 ? lastRequest_ : 0;
}

// A write of 1..16 is the link's request; the same link writing the same mode again makes one
// of the two, taken where the later write stands. Other values read as before the write.
void StoreModel::pcWriteRam(int link, int addr, const uint8_t* data, int len) {
    if (len <= 0) return;  // answered, and nothing changes
    std::memcpy(ram_.data() + addr, data, size_t(len));
    if (!covers(addr, len, kSaveRequestAddr)) return;
    const uint16_t n = word(kSaveRequestAddr);
    if (n >= 1 && n <= kModes)
        record(link, n);
    else
        setWord(kSaveRequestAddr, requestWord());
}

void StoreModel::record(int link, int mode) {
    recorded_.erase(
        std::remove_if(recorded_.begin(), recorded_.end(),
                       [&](const Request& r) { return r.link == link && r.mode == mode; }),
        recorded_.end());
    recorded_.push_back({link, mode});
    lastRequest_ = uint16_t(mode);
}

void StoreModel::pcWriteSlot(int mode, int offset, const uint8_t* data, int len) {
    if (len > 0) std::memcpy(slots_[mode - 1].data() + offset, data, size_t(len));
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

// Register 11's check: the set is taken, or the five words go back to the set last taken.
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

// A mode file holds its slot's first 4096 bytes.
StoreModel::File StoreModel::slotImage(int m) const {
    File f;
    std::memcpy(f.data(), slots_[m].data(), kFileSize);
    return f;
}

// The order of one register 11: its recall (a refused one takes nothing else, and RAM 866
// reads the mode last set again), the LED size check, the link's save requests, the
// synchronisation.
int StoreModel::register11(int link, uint8_t value) {
    if (value & 0x02) {
        const uint16_t n = word(kCurrentModeAddr);
        if (n < 1 || n > kModes || !saved(slots_[n - 1].data())) {
            setWord(kCurrentModeAddr, currentMode_);
            return 1;
        }
        std::memcpy(ram_.data() + kPayload, slots_[n - 1].data() + 2, kPayloadSize);
        currentMode_ = n;
    }
    checkLedSize();
    takeRequestsOf(link);
    if (value & 0x04) synchronise();
    return 0;
}

bool StoreModel::holdsRequests(int link) const {
    return std::any_of(recorded_.begin(), recorded_.end(),
                       [&](const Request& r) { return r.link == link; });
}

// The link's requests, in the order written.
void StoreModel::takeRequestsOf(int link) {
    std::vector<Request> left;
    for (const Request& r : recorded_) {
        if (r.link == link)
            take(r.mode);
        else
            left.push_back(r);
    }
    recorded_ = left;
}

// A save taken: its slot reads AA AA and the RAM with the LED set in force, RAM 866 its mode;
// its file follows.
void StoreModel::take(int mode) {
    const int m = mode - 1;
    const Ram image = savedImage();
    slots_[m][0] = slots_[m][1] = 0xAA;
    std::memcpy(slots_[m].data() + 2, image.data() + kPayload, kPayloadSize);
    setWord(kCurrentModeAddr, uint16_t(mode));
    currentMode_ = uint16_t(mode);
    post({m, false, slotImage(m), {}});
    openSaves_.push_back(openSave());
}

// What a request taken now waits for: every take not carried out, its own the last of them.
// Each slot's file is then what its last job waiting makes it.
StoreModel::OpenSave StoreModel::openSave() const {
    OpenSave save;
    for (int m = 0; m < kModes; ++m) save.files[m] = {files_[m]};
    std::vector<const Job*> jobs;
    if (running_) jobs.push_back(&*running_);
    for (const Job& j : line_) jobs.push_back(&j);
    for (const Job* j : jobs) {
        save.waitingFor.insert(j->takes.begin(), j->takes.end());
        save.files[j->slot] = {j->outcome()};
    }
    return save;
}

void StoreModel::deleteSlot(int m) {
    slots_[m][0] = slots_[m][1] = 0xFF;
    slots_[m][kSlotOsdFlag] = slots_[m][kSlotOsdFlag + 1] = 0;
    post({m, true, {}, {}});
}

// Each slot as it is now: an FF marker deletes it, an AA marker (and no FF) files its bytes.
void StoreModel::synchronise() {
    for (int m = 0; m < kModes; ++m) {
        const uint8_t* mark = slots_[m].data();
        if (markedDeleted(mark)) {
            deleteSlot(m);
        } else if (markedSaved(mark)) {
            slots_[m][0] = slots_[m][1] = 0xAA;
            post({m, false, slotImage(m), {}});
        }
    }
}

// A later job of a slot replaces the one still waiting there, in its place in the order, and
// stands for its takes too. A request open may find that job's file.
void StoreModel::post(Job job) {
    job.takes = {++lastTake_};
    for (OpenSave& save : openSaves_) save.files[job.slot].push_back(job.outcome());
    const auto waiting =
        std::find_if(line_.begin(), line_.end(), [&](const Job& j) { return j.slot == job.slot; });
    if (waiting == line_.end()) {
        line_.push_back(job);
        return;
    }
    job.takes.insert(job.takes.begin(), waiting->takes.begin(), waiting->takes.end());
    *waiting = job;
}

void StoreModel::linkClosed(int link) {
    takeRequestsOf(link);
}

void StoreModel::heard(int link) {
    links_[link].silent = 0;
    links_[link].heldBack = 0;
}

void StoreModel::drained(int link) {
    for (auto& [id, l] : links_) {
        if (!frozen(id, link)) continue;
        l.silent += l.heldBack;
        l.heldBack = 0;
    }
}

// A UDP address's silence stands still while the UDP receiver is on any peer's frame; a serial
// port's while it is on its own; each catches up once its receiver finds nothing waiting.
bool StoreModel::frozen(int link, int busy) const {
    if (busy < 0) return false;
    if (link == busy) return true;
    return links_.at(link).kind == Owner::Udp && links_.at(busy).kind == Owner::Udp;
}

std::optional<uint32_t> StoreModel::ticksToSilence(int busy) const {
    std::optional<uint32_t> next;
    for (const auto& [id, link] : links_) {
        if (link.kind == Owner::Tcp || frozen(id, busy) || !holdsRequests(id)) continue;
        const uint32_t left = kSilentTicks + 1 - std::min(link.silent, kSilentTicks);
        if (!next || left < *next) next = left;
    }
    return next;
}

void StoreModel::pass(uint32_t ticks, int busy) {
    std::vector<std::pair<uint32_t, int>> reached;  // (silence, link): longest first
    for (auto& [id, link] : links_) {
        if (link.kind == Owner::Tcp) continue;
        if (frozen(id, busy)) {
            link.heldBack += ticks;
            continue;
        }
        link.silent += ticks;
        if (link.silent > kSilentTicks && holdsRequests(id)) reached.push_back({link.silent, id});
    }
    std::sort(reached.rbegin(), reached.rend());
    for (const auto& r : reached) takeRequestsOf(r.second);
}

void StoreModel::panelSave(int n) {
    lastRequest_ = uint16_t(n);
    take(n);
}

void StoreModel::panelDelete(int n) {
    deleteSlot(n - 1);
}

// The panel's change of a window's source ends the current mode, unless RAM 866 changed since
// the parameter file last saved it.
void StoreModel::panelSource(int window, uint16_t source) {
    setWord(kWindows + kWindowStride * window + kWinSource, source);
    if (word(kCurrentModeAddr) != savedMode_) return;
    setWord(kCurrentModeAddr, 0);
    currentMode_ = 0;
}

uint16_t StoreModel::windowSource(int window) const {
    return word(kWindows + kWindowStride * window + kWinSource);
}

std::string StoreModel::jobRan(int m, bool remove, bool failed) {
    if (line_.empty()) return "the box ran " + jobName(m, remove) + "; none was asked";
    const Job& next = line_.front();
    if (next.slot != m || next.remove != remove)
        return "the box ran " + jobName(m, remove) + "; the order taken has " +
               jobName(next.slot, next.remove) + " first";
    running_ = next;
    runningFails_ = failed;
    line_.pop_front();
    return "";
}

void StoreModel::jobDone() {
    if (!running_) return;
    const Job job = *std::exchange(running_, std::nullopt);
    if (!runningFails_) files_[job.slot] = job.outcome();
    std::vector<OpenSave> open;
    for (OpenSave& save : openSaves_) {
        // A failed write leaves the file as it was; said on the terminal, it ends the request.
        if (runningFails_) save.files[job.slot].push_back(files_[job.slot]);
        for (int t : job.takes) save.waitingFor.erase(t);
        (save.waitingFor.empty() ? ended_ : open).push_back(save);
    }
    openSaves_ = open;
}

std::string StoreModel::checkEnded(const View& box) {
    const std::vector<OpenSave> ended = std::exchange(ended_, {});
    for (const OpenSave& save : ended) {
        for (int m = 0; m < kModes; ++m) {
            const auto& file = box.files[m];
            const auto same = [&](const MaybeFile& f) {
                return f.has_value() == file.has_value() &&
                       (!f || firstDiff(file->data(), f->data(), kFileSize) < 0);
            };
            if (std::none_of(save.files[m].begin(), save.files[m].end(), same))
                return "a save request ended with the file of " + modeName(m) +
                       " neither as at its take nor as a later take made it";
        }
    }
    return "";
}

void StoreModel::parameterFileSaved() {
    savedMode_ = word(kCurrentModeAddr);
}

std::optional<int> StoreModel::firstWriteWaiting() const {
    for (const Job& j : line_)
        if (!j.remove) return j.slot;
    return std::nullopt;
}

std::string StoreModel::checkSlotsAndFiles(const View& box) const {
    for (int m = 0; m < kModes; ++m)
        if (const int i = firstDiff(box.modeSlots[m].data(), slots_[m].data(), kSlotSize); i >= 0)
            return byteDiff("the slot of " + modeName(m) + ", byte", i, box.modeSlots[m][i],
                            slots_[m][i]);
    for (int m = 0; m < kModes; ++m) {
        const auto& file = box.files[m];
        const auto& want = files_[m];
        if (file.has_value() != want.has_value())
            return "the file of " + modeName(m) + (file ? " exists" : " is missing");
        if (!file) continue;
        if (const int i = firstDiff(file->data(), want->data(), kFileSize); i >= 0)
            return byteDiff("the file of " + modeName(m) + ", byte", i, (*file)[i], (*want)[i]);
    }
    return "";
}

std::string StoreModel::check(const View& box) const {
    for (int a = kPersisted; a < 4096; ++a)
        if (a != kSaveRequestAddr && a != kSaveRequestAddr + 1 && !derived(a) &&
            box.ram[a] != ram_[a])
            return byteDiff("RAM", a, box.ram[a], ram_[a]);
    const uint16_t request =
        uint16_t(box.ram[kSaveRequestAddr] | box.ram[kSaveRequestAddr + 1] << 8);
    if (request != requestWord())
        return "RAM 868 reads " + std::to_string(request) + ", model " +
               std::to_string(requestWord()) + " (" + std::to_string(openRequests()) +
               " save requests open)";
    return checkSlotsAndFiles(box);
}

std::string StoreModel::checkSettled(const View& box) const {
    const std::string any = check(box);
    if (!any.empty()) return any;
    if (!line_.empty()) return jobName(line_.front().slot, line_.front().remove) + " never ran";
    // The parameter file holds the RAM with the set in force, but for the words a start sets.
    const Ram image = savedImage();
    for (int a = kPersisted; a < 4096; ++a)
        if (!startSets(a) && !derived(a) && box.paramFile[a] != image[a])
            return byteDiff("parameter file", a, box.paramFile[a], image[a]);
    return "";
}

void StoreModel::stopTakes() {
    for (const Request& r : recorded_) take(r.mode);
    recorded_.clear();
}

void StoreModel::stopDrains() {
    for (const Job& j : line_) files_[j.slot] = j.outcome();
    line_.clear();
    running_.reset();
    openSaves_.clear();
    ended_.clear();
}

// A start takes the parameter file, clears the close-LED, the outputs' frozen bits, the test
// pattern, the current mode and the save request, sets the fades to 60, and loads each slot from
// its file (a slot without one reads FF FF).
void StoreModel::restart() {
    for (int m = 0; m < kModes; ++m) {
        slots_[m].fill(0);
        if (!files_[m]) {
            slots_[m][0] = slots_[m][1] = 0xFF;
            continue;
        }
        std::memcpy(slots_[m].data(), files_[m]->data(), kFileSize);
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
    savedMode_ = 0;
    currentMode_ = 0;
    lastRequest_ = 0;
}
