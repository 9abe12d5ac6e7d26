// The parameter store: defaults, the load at start with its fix-ups, persistence, the
// protocol's plain copy-in and the refresh signal.
#include "core/zem_ram_para.h"

#include <QThread>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "c331/c331_manage.h"
#include "core/config_engine.h"
#include "core/file_io.h"
#include "core/globals.h"
#include "core/led_in_force.h"
#include "core/led_size.h"
#include "core/link_activity.h"
#include "core/utils.h"
#include "platform/box.h"
#include "platform/clock.h"
#include "platform/own_files.h"

ZemRamPara* ZemRamPara::p_zemrampara_config = nullptr;
zem::Mutex ZemRamPara::command_mutex;

namespace {

constexpr int kFileBodyOffset = 2;  // file byte 2 holds RAM 768
constexpr int kFileValidSize = kFileBodyOffset + ZemRamPara::kPersistSize;  // 3330

struct DefaultTable {
    std::array<uint8_t, 4096> b{};
    constexpr void w16(int ramAddr, uint16_t v) {
        b[size_t(ramAddr - 766)] = uint8_t(v);
        b[size_t(ramAddr - 765)] = uint8_t(v >> 8);
    }
    constexpr void crop(int ramAddr, uint16_t width) {
        const uint16_t words[5] = {2, 0, 0, width, 1080};
        for (int i = 0; i < 5; ++i) w16(ramAddr + 2 * i, words[i]);
    }
};

constexpr std::array<uint8_t, 4096> makeDefaults() {
    DefaultTable t;
    t.b[0] = 0xAA;
    t.b[1] = 0xAA;
    t.w16(770, 100);
    for (int i = 0; i < 6; ++i) {  // EDID requests
        t.w16(896 + 6 * i, i < 4 ? 1920 : 3840);
        t.w16(898 + 6 * i, i < 4 ? 1080 : 2160);
        t.w16(900 + 6 * i, 60);
    }
    const uint16_t screen[][2] = {{1376, 4},    {1378, 1920}, {1380, 1080}, {1386, 1},
                                  {1388, 1},    {1390, 1920}, {1392, 1080}, {1412, 1920},
                                  {1414, 1080}, {1420, 1920}, {1422, 1080}};
    for (const auto& f : screen) t.w16(f[0], f[1]);
    for (int k = 0; k < 40; ++k) t.crop(1472 + 10 * k, 1920);
    for (int j = 0; j < 24; ++j) t.crop(1872 + 10 * j, 1872 + 10 * j == 2092 ? 0 : 1920);
    const uint16_t picture[] = {100, 50, 10, 50, 2, 64, 64, 64};  // RAM 2176..2191
    for (int i = 0; i < 8; ++i) t.w16(2176 + 2 * i, picture[i]);
    for (int w = 0; w < 16; ++w) t.w16(2208 + 2 * w, uint16_t(w));
    t.w16(2270, 1);
    const uint16_t sources[6] = {2, 5, 3, 4, 1, 0};
    for (int w = 0; w < 6; ++w) {
        const int base = 2272 + 26 * w;
        t.w16(base, w == 0 ? 1 : 0);
        t.w16(base + 8, sources[w]);
        t.w16(base + 14, 1920);
        t.w16(base + 16, 1080);
    }
    return t.b;
}

// The language to show in place of `cur` when it is not one of the five or not enabled: the
// lowest enabled one (English when none is and `cur` is out of range); -1 when `cur` stays.
int replacement_language(uint8_t cur) {
    const uint32_t valid = Utils::configValue(&g_lcd_lang_valid);
    if (cur < ZemRamPara::kLanguageCount && (valid >> cur & 1)) return -1;
    int n = 0;
    while (n < ZemRamPara::kLanguageCount && !(valid >> n & 1)) ++n;
    if (n < ZemRamPara::kLanguageCount) return n;
    return cur < ZemRamPara::kLanguageCount ? -1 : 1;
}

// Reads the parameter file through the configuration engine's handle slot (a local handle
// when there is no engine). The count read, or -1 when it does not open.
long readParaFile(uint8_t* buf, size_t cap) REQUIRES(Utils::_file_deal_mutex) {
    FILE* local = nullptr;
    FILE*& fp = ConfigEngine::p_config ? ConfigEngine::p_config->fp_ram_device_info : local;
    const std::string file = platform::path(ZemRamPara::kParaFile);
    if (!platform::mayRead(file, "the defaults are used")) return -1;
    fp = std::fopen(file.c_str(), "rb");
    if (!fp) return -1;
    const size_t got = std::fread(buf, 1, cap, fp);
    std::fclose(fp);
    fp = nullptr;
    return long(got);
}

// The channel geometry (RAM 1382..1394) the panel set-up writes for a set of LED words.
std::array<uint16_t, 7> set_up_geometry(const std::array<uint16_t, 5>& set) {
    return c331_manage::geometry_words(
        c331_manage::panel_geometry(set[1], set[2], set[3], set[4], set[0]));
}

}  // namespace

const std::array<uint8_t, 4096> default_para_ramlist = makeDefaults();

uint16_t default_ram16(int addr) {
    constexpr int kDefaultsBase = 766;  // table byte k holds the default of RAM 766 + k
    const size_t k = size_t(addr - kDefaultsBase);
    return uint16_t(default_para_ramlist[k] | default_para_ramlist[k + 1] << 8);
}

ZemRamPara::ZemRamPara() = default;

ZemRamPara* ZemRamPara::pInstance() {
    if (!p_zemrampara_config) {
        p_zemrampara_config = new ZemRamPara();
        p_zemrampara_config->reload();
    }
    return p_zemrampara_config;
}

// Before the threads that share the RAM start (at start, or a test's reload).
void ZemRamPara::reload() NO_THREAD_SAFETY_ANALYSIS {
    ram.fill(0);
    std::memset(seen, 0, sizeof seen);
    std::memset(shadow, 0, sizeof shadow);
    persisted.fill(0);
    for (auto& slot : mode_ram) slot.fill(0);
    reg.fill(0);
    command_reg.fill(0);
    status.fill(0);
    timings_.fill(0);
    {
        zem::MutexLocker lock(posted_mutex_);
        for (PostedWord& p : posted_) p = PostedWord();
    }
    save_pending_ = false;
    failed_files_ = FailedFiles();
    hooks = TestHooks();
    recorded_.clear();
    link_activity::get().release_all();
    open_saves_.clear();
    ram_para_load();
    // A file from another program or an older box may hold a screen the box can't drive: the
    // defaults' screen replaces it, and the file is saved so.
    const bool refused = led_size::refuse(this, default_ram16, "parameter file");
    {
        // Until the C331's first panel set-up, the FPGAs take the offset that set gives.
        LedInForce::Set set;
        set.words = ram_led_words();
        const std::array<uint16_t, 7> geometry = set_up_geometry(set.words);
        set.x = geometry[0];
        set.y = geometry[1];
        LedInForce::get().take(set);
        std::copy(set.words.begin(), set.words.end(), geometry_of_.begin());
    }
    startup_fixups();
    if (refused) {
        save_pending_ = true;
        ram_para_persist();
    }
}

namespace {

// The part of [addr, addr + len) on the timing words: its first address, and its length (0 for
// none).
struct Span {
    uint32_t from, len;
};
Span onTimings(uint32_t addr, uint32_t len) {
    const uint32_t first = ZemRamPara::kRamTimings;
    const uint32_t end = first + ZemRamPara::kTimingsSize;
    const uint32_t from = std::max(addr, first), to = std::min(addr + len, end);
    return {from, to > from ? to - from : 0};
}

}  // namespace

uint16_t ZemRamPara::timing16(int addr) const {
    const int at = addr - kRamTimings;
    if (at < 0 || at + 2 > kTimingsSize) return 0;
    return word(timings_.data(), at);
}

void ZemRamPara::set_timing16(int addr, uint16_t v) {
    const uint8_t bytes[2] = {uint8_t(v), uint8_t(v >> 8)};
    if (addr >= kRamTimings && addr + 2 <= kRamTimings + kTimingsSize)
        put_timings(bytes, 2, uint32_t(addr));
}

void ZemRamPara::put_timings(const uint8_t* data, uint32_t len, uint32_t addr) {
    const Span s = onTimings(addr, len);
    if (s.len) std::memcpy(timings_.data() + (s.from - kRamTimings), data + (s.from - addr), s.len);
}

bool ZemRamPara::copy_ram_out(uint32_t addr, uint8_t* to, uint32_t len) const {
    if (addr > uint32_t(kRamSize) || len > kRamSize - addr) return false;
    std::memcpy(to, ram.data() + addr, len);
    const Span s = onTimings(addr, len);
    if (s.len) std::memcpy(to + (s.from - addr), timings_.data() + (s.from - kRamTimings), s.len);
    return true;
}

void ZemRamPara::wr16_no_gen_bump(int addr, uint16_t v) {
    if (addr < 0 || addr > kRamSize - 2) {
        writeLogMsg(1, "parameter RAM: a word outside it not written");
        return;
    }
    ram[addr] = uint8_t(v);
    ram[addr + 1] = uint8_t(v >> 8);
}

uint8_t ZemRamPara::rd8_locked(int addr) const {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    return ram[addr];
}

uint16_t ZemRamPara::rd16_locked(int addr) const {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    return rd16(addr);
}

uint16_t ZemRamPara::led_in_force16(int addr) const {
    const LedInForce::Set set = LedInForce::get().set();
    for (size_t k = 0; k < set.words.size(); ++k)
        if (led_size::kRamWords[k] == addr) return set.words[k];
    return rd16(addr);
}

std::array<uint16_t, 5> ZemRamPara::ram_led_words() const {
    std::array<uint16_t, 5> words;
    for (size_t k = 0; k < words.size(); ++k) words[k] = rd16(led_size::kRamWords[k]);
    return words;
}

bool ZemRamPara::geometry_is_of(const std::array<uint16_t, 5>& words) const {
    return std::equal(words.begin(), words.end(), std::begin(geometry_of_));
}

void ZemRamPara::take_led_in_force() {
    LedInForce::Set set;
    set.words = ram_led_words();
    if (geometry_is_of(set.words)) {
        set.x = rd16(kRamGeometry);
        set.y = rd16(kRamGeometry + 2);
    } else {
        const std::array<uint16_t, 7> geometry = set_up_geometry(set.words);
        set.x = geometry[0];
        set.y = geometry[1];
    }
    LedInForce::get().take(set);
}

void ZemRamPara::put_led_in_force(uint8_t* image, int image_base) const {
    const LedInForce::Set set = LedInForce::get().set();
    for (size_t k = 0; k < set.words.size(); ++k) {
        uint8_t* at = image + (led_size::kRamWords[k] - image_base);
        at[0] = uint8_t(set.words[k]);
        at[1] = uint8_t(set.words[k] >> 8);
    }
}

void ZemRamPara::put_geometry(const uint16_t words[7]) {
    for (int k = 0; k < 7; ++k) wr16_no_gen_bump(kRamGeometry + 2 * k, words[k]);
    for (int k = 0; k < 5; ++k) geometry_of_[k] = rd16(led_size::kRamWords[k]);
    LedInForce::Set set = LedInForce::get().set();
    if (!geometry_is_of(set.words)) return;  // LED words no check took: not in force
    set.x = words[0];
    set.y = words[1];
    LedInForce::get().take(set);
}

void ZemRamPara::put_geometry_in_force(uint8_t* image, int image_base) const {
    const LedInForce::Set set = LedInForce::get().set();
    if (geometry_is_of(set.words)) return;
    const std::array<uint16_t, 7> words = set_up_geometry(set.words);
    for (int k = 0; k < 7; ++k) {
        uint8_t* at = image + (kRamGeometry + 2 * k - image_base);
        at[0] = uint8_t(words[size_t(k)]);
        at[1] = uint8_t(words[size_t(k)] >> 8);
    }
}

void ZemRamPara::ram_para_write_defaults() {
    zem::MutexLocker lock(Utils::_file_deal_mutex);
    const int rc = file_io::writeFileAtomic(kParaFile, default_para_ramlist.data(),
                                            default_para_ramlist.size());
    if (rc != 0) {
        ZEM_DEBUG("\n %s write failed (%d), defaults kept in memory\n", kParaFile, rc);
        writeLogMsg(1, "parameter file save failed");
    }
    file_io::syncAndSettle();
}

// A file shorter than the marker and body, or with a bad marker, counts as missing: it is
// replaced by the defaults, never half-loaded.
// Before the threads that share the RAM start (at start, or a test's reload).
void ZemRamPara::ram_para_load() NO_THREAD_SAFETY_ANALYSIS {
    uint8_t file[kFileValidSize];
    long got;
    {
        zem::MutexLocker lock(Utils::_file_deal_mutex);
        file_io::removeLeftover(kParaFile);
        got = readParaFile(file, sizeof file);
    }
    if (got < 0) {
        ZEM_DEBUG("\n %s file un exist \n", kParaFile);
    } else {
        ZEM_DEBUG("\n %s file exist \n", kParaFile);
        if (got == kFileValidSize && file[0] == 0xAA && file[1] == 0xAA) {
            std::memcpy(ram.data() + kPersistStart, file + kFileBodyOffset, kPersistSize);
            platform::sleepMs(100);
            return;
        }
        if (got < 2)
            ZEM_DEBUG("\n ram_valid : file of %ld bytes \n", got);
        else if (got < kFileValidSize)
            ZEM_DEBUG("\n ram file short: %ld bytes \n", got);
        else
            ZEM_DEBUG("\n ram_valid = %#x,%#x \n", file[0], file[1]);
        // The file itself: on the box a link to it stays for the defaults' write.
        std::remove(platform::fileWritten(platform::path(kParaFile)).c_str());
        ZEM_DEBUG("\n delete %s ,use the default para\n", kParaFile);
        platform::sleepMs(100);
    }
    ram_para_write_defaults();
    std::memcpy(ram.data() + kPersistStart, default_para_ramlist.data() + kFileBodyOffset,
                kPersistSize);
    platform::sleepMs(100);
}

// Before the threads that share the RAM start (at start, or a test's reload).
void ZemRamPara::startup_fixups() NO_THREAD_SAFETY_ANALYSIS {
    g_language = ram[kRamLanguage];
    {
        zem::MutexLocker lock(Utils::_config_mutex);
        if ((g_lcd_lang_valid & 0x1) && (g_lcd_lang_valid & (1u << 17))) g_lcd_lang_valid &= 0xFFFE;
    }
    const int language = replacement_language(ram[kRamLanguage]);
    if (language >= 0) {
        wr16_no_gen_bump(kRamLanguage, uint16_t(language));
        g_language = uint8_t(language);
    }
    for (int w = 0; w < kWindowCount; ++w) {
        const int a = windowAddr(w, kWinOutFlags);
        wr16_no_gen_bump(a, rd16(a) & ~0x0002);
    }
    write_back16(kRamCloseLed, 0);
    std::memset(ram.data() + kRamTestPattern, 0, 4);  // the test pattern and the current user mode
    current_mode_ = 0;
    // A request a killed box left in the file is not carried out, and a save of that mode from
    // the PC must still differ from the word last seen.
    write_back16(kRamModeSaveRequest, 0);
    for (int k = 0; k < 16; ++k) {
        ram[kRamFade + 4 * k] = 60;
        ram[kRamFade + 2 + 4 * k] = 60;
    }
    ZemCropSourceInit();
    std::memcpy(seen, ram.data(), kRamSize);
    std::memcpy(shadow, ram.data(), kRamSize);
    std::memcpy(persisted.data(), ram.data(), kRamSize);
    for (int m = 0; m < kModeCount; ++m) {
        mode_file_deal(m, 0);
        platform::sleepUs(100);
    }
    status.fill(0);
    status[0] = 0x80;
    status[1] = 0x1F;
    status[2] = 0x06;
}

void ZemRamPara::refresh_begin() {
    // The PC's writes and recalls land under the C331 mutex, the source thread's timing words
    // under the store's own: the copy holds both, so it never sees half a write.
    zem::MutexLocker c331(c331_manage::c331_mutex);
    zem::MutexLocker timings(mutex);
    apply_posted_words();
    copy_ram_out(0, seen, kRamSize);
    for (int m = 0; m < kModeCount; ++m) std::memcpy(shown_markers_[m], mode_ram[m].data(), 2);
}

void ZemRamPara::apply_posted_words() {
    zem::MutexLocker lock(posted_mutex_);
    for (PostedWord& p : posted_) {
        if (p.addr < 0) continue;
        if (word_gen(p.addr) == p.gen) write_back16(p.addr, p.value);
        p = PostedWord();
    }
}

void ZemRamPara::post_word(int addr, uint16_t value, uint32_t gen) {
    {
        zem::MutexLocker lock(posted_mutex_);
        PostedWord* slot = nullptr;
        for (PostedWord& p : posted_)
            if (p.addr == addr || (!slot && p.addr < 0)) slot = &p;
        if (!slot) return;  // only the FPGA thread's two words are posted
        *slot = {addr, value, gen};
    }
    test_signal(1);
}

void ZemRamPara::refresh_end() {
    std::memcpy(shadow, seen, kRamSize);
}

bool ZemRamPara::changed(int from, int to) const {
    return std::memcmp(seen + from, shadow + from, size_t(to - from)) != 0;
}

// Copied under the same two mutexes as the refresh's copy, so a save never captures a
// half-recalled mode. The LED set in force stands in for LED words the PC wrote and no check has
// taken yet: a refused or unchecked size is never saved, and alone causes no save.
bool ZemRamPara::take_save_image(uint8_t* image) const {
    {
        zem::MutexLocker timings(mutex);
        copy_ram_out(0, image, kRamSize);
    }
    put_led_in_force(image, 0);
    return std::memcmp(image + kPersistStart, persisted.data() + kPersistStart, kPersistSize) != 0;
}

bool ZemRamPara::persist_due() const {
    if (save_pending_) return true;
    uint8_t image[kRamSize];
    zem::MutexLocker c331(c331_manage::c331_mutex);
    return take_save_image(image);
}

void ZemRamPara::take_file_work() {
    if (persist_due()) saver.post_parameter_file();
    saver.run_waiting();
}

void ZemRamPara::take_last_requests() {
    {
        zem::MutexLocker c331(c331_manage::c331_mutex);
        apply_posted_words();
        take_every_recorded_request();
    }
    // The parameter file's job takes the RAM when it runs: all the box answered before.
    saver.post_parameter_file();
    saver.run_waiting();
}

int ZemRamPara::ram_para_persist() {
    // The file write runs without the mutexes.
    uint8_t saved[kRamSize];
    {
        zem::MutexLocker c331(c331_manage::c331_mutex);
        if (!take_save_image(saved) && !save_pending_) return 0;
    }
    // The whole file in its default layout, so any save leaves a complete, marked file.
    uint8_t file[kRamSize] = {0xAA, 0xAA};
    std::memcpy(file + kFileBodyOffset, saved + kPersistStart, kPersistSize);
    int rc;
    {
        zem::MutexLocker lock(Utils::_file_deal_mutex);
        rc = file_io::writeFileAtomic(kParaFile, file, sizeof file);
        file_io::syncAndSettle();
    }
    if (hooks.during_para_file_work) hooks.during_para_file_work();
    // What was saved, not the RAM after the flush and pause: a write landing meanwhile is saved
    // next time. The PC's register 11 reads this record under the C331 mutex.
    {
        zem::MutexLocker c331(c331_manage::c331_mutex);
        std::memcpy(persisted.data(), saved, kRamSize);
    }
    save_pending_ = rc != 0;
    if (rc != 0) {
        ZEM_DEBUG("\n %s save failed (%d), retried at the next refresh\n", kParaFile, rc);
        writeLogMsg(1, "parameter file save failed");
        return -1;
    }
    return 1;
}

int ZemRamPara::ZemRamParaDeal(const uint8_t* data, uint16_t len, uint32_t addr, uint64_t client) {
    if (addr > uint32_t(kRamSize) || len > kRamSize - addr) return 1;
    const uint16_t request = rd16(kRamModeSaveRequest);
    if (len) std::memcpy(ram.data() + addr, data, len);
    bump_word_gens(addr, len);
    if (covers(addr, len, kRamModeSaveRequest)) request_word_written(client, request);
    return 0;
}

uint32_t ZemRamPara::word_gen(int addr) const {
    for (size_t k = 0; k < std::size(kWatchedWords); ++k)
        if (kWatchedWords[k] == addr) return word_gen_[k];
    return 0;
}

void ZemRamPara::user_wr16(int addr, uint16_t v) {
    wr16_no_gen_bump(addr, v);
    bump_word_gens(uint32_t(addr), 2);
}

void ZemRamPara::bump_word_gens(uint32_t addr, uint32_t len) {
    for (size_t k = 0; k < std::size(kWatchedWords); ++k)
        if (covers(addr, len, kWatchedWords[k])) ++word_gen_[k];
}

int ZemRamPara::test_signal(int id) {
    // On the store's own thread the refresh runs inline, and it saves under the C331 mutex: held
    // across it, this lock would invert the C331 thread's order (C331 mutex, then this lock for
    // its refresh) and the two would wait for each other. Workers' emits, which queue, need it.
    if (QThread::currentThread() == thread()) {
        emit sig_update_para(id);
        return 1;
    }
    zem::MutexLocker lock(Utils::_test_signal_mutex);
    emit sig_update_para(id);
    return 1;
}

// The language this refresh sees: a value the panel can't show is replaced in the RAM, but
// only while the RAM still holds it (a write landing after the refresh's copy is the next one's).
int ZemRamPara::ZemLanguageChanged() {
    if (!changed16(kRamLanguage)) return 0;
    const int n = replacement_language(seen[kRamLanguage]);
    if (n < 0) {
        g_language = seen[kRamLanguage];
        return 1;
    }
    {
        zem::MutexLocker c331(c331_manage::c331_mutex);
        if (rd16(kRamLanguage) == seen16(kRamLanguage)) wr16_no_gen_bump(kRamLanguage, uint16_t(n));
    }
    seen[kRamLanguage] = uint8_t(n);
    seen[kRamLanguage + 1] = 0;
    g_language = uint8_t(n);
    return 1;
}
