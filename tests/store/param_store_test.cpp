// The parameter RAM store: the file at start (missing, short, unmarked, valid), the start-up
// fix-ups, persistence of RAM 768..4095 and the refresh signal.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QThread>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "core/saver.h"
#include "platform/clock.h"
#include "store_fixture.h"

namespace {

class ParamStoreTest : public StoreTest {};

TEST_F(ParamStoreTest, AFreshRootGetsTheDefaultFileAndLayout) {
    ZemRamPara* s = startStore();
    const std::string file = readFile(kParaFile);
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(uint8_t(file[0]), 0xAA);
    EXPECT_EQ(uint8_t(file[1]), 0xAA);
    EXPECT_EQ(0, std::memcmp(file.data(), default_para_ramlist.data(), 4096));

    EXPECT_EQ(0, std::memcmp(s->ram.data(), s->shadow, 4096));
    for (int m = 0; m < 16; ++m) EXPECT_EQ(s->mode_ram[m][0], 0xFF) << "no mode file " << m;
    const auto cmds = commands();
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "sync"), cmds.end());
}

TEST_F(ParamStoreTest, AValidFileIsLoadedWithTheStartUpFixUps) {
    uint8_t ram[4096];
    defaultRam(ram);
    put16(ram, 2176, 77);           // brightness
    put16(ram, 768, 3);             // Vietnamese
    put16(ram, 2272 + 18, 0x0003);  // window 0 black and frozen
    put16(ram, 2272 + 26 * 5 + 18, 0x0102);
    put16(ram, 2116, 1);      // close LED
    put16(ram, 864, 5);       // test pattern
    put16(ram, 866, 4);       // current user mode
    put16(ram, 868, 0x0203);  // save request of mode 3, stray high byte, left by a kill
    ram[2816] = 5;
    ram[2818 + 4 * 15] = 9;
    const std::string original = paraFile(ram);
    writeFile(kParaFile, original);

    ZemRamPara* s = startStore();
    EXPECT_EQ(readFile(kParaFile), original) << "a valid file is not rewritten at start";
    EXPECT_EQ(s->rd16(2176), 77);
    EXPECT_EQ(s->ram[768], 3);
    EXPECT_EQ(g_language, 3);
    EXPECT_EQ(s->rd16(2272 + 18), 0x0001) << "frozen cleared, black kept";
    EXPECT_EQ(s->rd16(2272 + 26 * 5 + 18), 0x0100);
    EXPECT_EQ(s->rd16(2116), 0);
    EXPECT_EQ(s->rd16(864), 0);
    EXPECT_EQ(s->rd16(866), 0);
    EXPECT_EQ(s->rd16(868), 0) << "a request left by a killed box is not carried out";
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(s->ram[2816 + 4 * k], 60);
        EXPECT_EQ(s->ram[2818 + 4 * k], 60);
    }
    EXPECT_EQ(0, std::memcmp(s->ram.data(), s->shadow, 4096));
    EXPECT_FALSE(exists("/data/modes/custom_mode3"));

    saveRequest(3);  // the PC saves mode 3, the request the file held
    EXPECT_TRUE(exists("/data/modes/custom_mode3"));
}

TEST_F(ParamStoreTest, AShortOrUnmarkedFileCountsAsMissing) {
    uint8_t ram[4096];
    defaultRam(ram);
    put16(ram, 2176, 77);
    const std::string good = paraFile(ram);
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"marker only", good.substr(0, 2)},
        {"one byte short", good.substr(0, 3329)},
        {"bad first marker", paraFile(ram, 0x55, 0xAA)},
        {"bad second marker", paraFile(ram, 0xAA, 0x00)},
    };
    for (const auto& [name, bytes] : cases) {
        writeFile(kParaFile, bytes);
        ZemRamPara* s = startStore();
        EXPECT_EQ(s->rd16(2176), 100) << name << ": defaults, never half-loaded";
        const std::string file = readFile(kParaFile);
        ASSERT_EQ(file.size(), 4096u) << name;
        EXPECT_EQ(0, std::memcmp(file.data(), default_para_ramlist.data(), 4096)) << name;
    }
}

// A saved screen the box can't drive is replaced whole by the defaults' screen at start, and
// the file is saved so; a screen it drives, however large, is loaded as it is.
TEST_F(ParamStoreTest, ASavedLedSizeOutOfRangeIsReplacedByTheDefaultsAndSaved) {
    struct Case {
        const char* name;
        uint16_t splice, w, h, out1w, out1h;
        bool kept;
    } cases[] = {
        {"65535 x 65535", 4, 65535, 65535, 65535, 65535, false},
        {"wider than 8188 in copy", 4, 8189, 1080, 8189, 1080, false},
        {"output 1 past the width", 3, 1000, 1080, 1001, 1080, false},
        {"splice 0", 0, 1920, 1080, 1920, 1080, false},
        {"16376 x 800 horizontal, output 2 none", 3, 16376, 800, 16376, 800, true},
        {"1000 wide halved", 3, 1000, 1080, 504, 1080, true},
    };
    const int words[5] = {1376, 1378, 1380, 1412, 1414};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t ram[4096];
        defaultRam(ram);
        const uint16_t wrote[5] = {c.splice, c.w, c.h, c.out1w, c.out1h};
        for (int i = 0; i < 5; ++i) put16(ram, words[i], wrote[i]);
        put16(ram, 2176, 77);
        const std::string original = paraFile(ram);
        writeFile(kParaFile, original);
        LogTestHooks::forget();  // each case's refusal the first of its kind
        testing::internal::CaptureStderr();
        ZemRamPara* s = startStore();
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string file = readFile(kParaFile);
        for (int i = 0; i < 5; ++i) {
            const int want = c.kept ? wrote[i] : default_ram16(words[i]);
            EXPECT_EQ(s->rd16(words[i]), want) << words[i];
            EXPECT_EQ(fileWord(file, words[i]), want) << words[i];
        }
        EXPECT_EQ(s->rd16(2176), 77) << "the rest as saved";
        EXPECT_EQ(fileWord(file, 2176), 77);
        if (c.kept) {
            EXPECT_EQ(file, original) << "a drivable screen is not rewritten at start";
        }
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), c.kept ? 0 : 1) << err;
    }
}

TEST_F(ParamStoreTest, TheSavedLanguageIsCheckedAgainstTheEnabledLanguages) {
    struct Case {
        uint32_t mask;
        uint8_t saved;
        uint8_t expected;
        uint32_t maskAfter;
    };
    const Case cases[] = {
        {0x1001F, 3, 3, 0x1001F},   // all five enabled
        {0x00003, 3, 0, 0x00003},   // only Chinese and English: the lowest enabled
        {0x2001F, 0, 1, 0x0001E},   // bits 0 and 17: Chinese and the high bits dropped
        {0x1001F, 16, 0, 0x1001F},  // bit 16 is no language
        {0x00000, 2, 2, 0x00000},   // nothing enabled: left alone
        {0x00000, 40, 1, 0x00000},  // nothing enabled and out of range: English
    };
    for (const Case& c : cases) {
        uint8_t ram[4096];
        defaultRam(ram);
        ram[768] = c.saved;
        writeFile(kParaFile, paraFile(ram));
        g_lcd_lang_valid = c.mask;
        ZemRamPara* s = startStore();
        EXPECT_EQ(s->ram[768], c.expected) << "mask " << c.mask << " saved " << int(c.saved);
        EXPECT_EQ(g_language, c.expected);
        EXPECT_EQ(g_lcd_lang_valid, c.maskAfter);
    }
}

TEST_F(ParamStoreTest, OnlyChangesFrom768UpAreWrittenAndTheWholeBodyIsRewritten) {
    ZemRamPara* s = startStore();
    const std::string before = readFile(kParaFile);

    s->wr16_no_gen_bump(256, 1920);  // a source timing: run-time state
    EXPECT_EQ(s->ram_para_persist(), 0);
    EXPECT_EQ(readFile(kParaFile), before);
    EXPECT_EQ(s->persisted16(256), 0) << "a change below 768 alone is not saved";

    s->ram[4095] = 0x5C;
    s->ram[1000] = 0x11;
    EXPECT_EQ(s->ram_para_persist(), 1);
    const std::string after = readFile(kParaFile);
    ASSERT_EQ(after.size(), 4096u);
    EXPECT_EQ(uint8_t(after[0]), 0xAA);
    EXPECT_EQ(uint8_t(after[1]), 0xAA);
    EXPECT_EQ(0, std::memcmp(after.data() + 2, s->ram.data() + 768, 3328));
    uint8_t image[4096];
    {
        zem::MutexLocker lock(s->mutex);
        s->copy_ram_out(0, image, sizeof image);
    }
    EXPECT_EQ(0, std::memcmp(image, s->persisted.data(), 4096))
        << "the whole RAM is recorded as saved";
    EXPECT_EQ(s->ram_para_persist(), 0) << "nothing left to write";

    startStore();
    EXPECT_EQ(store().ram[4095], 0x5C) << "the saved file loads again";
    EXPECT_EQ(store().ram[1000], 0x11);
}

// The internal write and the user's both refuse a word not wholly in the RAM: a caller's bad
// address neither changes the RAM's first or last byte nor reaches past it.
TEST_F(ParamStoreTest, AWordNotWhollyInTheRamIsNotWritten) {
    ZemRamPara* s = startStore();
    zem::MutexLocker c331(c331_manage::c331_mutex);
    for (const bool user : {false, true}) {
        for (const int addr : {-1, ZemRamPara::kRamSize - 1, ZemRamPara::kRamSize}) {
            SCOPED_TRACE(testing::Message() << (user ? "user_wr16 " : "wr16_no_gen_bump ") << addr);
            const std::vector<uint8_t> before(s->ram.data(), s->ram.data() + ZemRamPara::kRamSize);
            user ? s->user_wr16(addr, 0xABCD) : s->wr16_no_gen_bump(addr, 0xABCD);
            EXPECT_EQ(std::vector<uint8_t>(s->ram.data(), s->ram.data() + ZemRamPara::kRamSize),
                      before);
        }
    }
    s->wr16_no_gen_bump(ZemRamPara::kRamSize - 2, 0xABCD);
    EXPECT_EQ(s->rd16(ZemRamPara::kRamSize - 2), 0xABCD) << "the last word is the RAM's";
}

// A change to either end of the saved range alone is saved: the language (RAM 768) chosen on
// the panel is the one the next start shows.
TEST_F(ParamStoreTest, AChangeAtEitherEndOfTheSavedRangeAloneIsSaved) {
    struct Case {
        const char* name;
        int addr;
        uint8_t value;
    } cases[] = {{"language", ZemRamPara::kRamLanguage, 2}, {"last byte", 4095, 0x5C}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZemRamPara* s = startStore();
        ASSERT_NE(s->ram[c.addr], c.value);
        s->ram[c.addr] = c.value;
        EXPECT_EQ(s->ram_para_persist(), 1);
        startStore();
        EXPECT_EQ(store().ram[c.addr], c.value) << "the saved file loads again";
    }
}

// The first pause of 100 ms or more runs a write, as a protocol thread would write the RAM
// while the main thread waits for a save to settle.
class WriteDuringPause : public platform::FakeClock {
public:
    explicit WriteDuringPause(std::function<void()> write) : write_(std::move(write)) {}
    void sleepUs(uint64_t us) override {
        FakeClock::sleepUs(us);
        if (us >= 100000 && write_) std::exchange(write_, nullptr)();
    }

private:
    std::function<void()> write_;
};

TEST_F(ParamStoreTest, AWriteLandingDuringASaveIsSavedAtTheNextRefresh) {
    ZemRamPara* s = startStore();
    platform::installClock(std::make_unique<WriteDuringPause>([this, s] {
        s->wr16_no_gen_bump(2178, 21);  // contrast
        saveRequest(5, 1, false);       // the user mode 5 its register 11 takes
    }));
    s->wr16_no_gen_bump(2176, 40);
    EXPECT_EQ(s->ram_para_persist(), 1);
    EXPECT_EQ(fileWord(readFile(kParaFile), 2176), 40);
    EXPECT_EQ(s->persisted16(2178), 50) << "the late write is still a change";

    hub().para_sync(1);
    EXPECT_EQ(fileWord(readFile(kParaFile), 2178), 21);
    EXPECT_EQ(s->ZemUserModeSaved(4), 1) << "the save request was not swallowed";
    EXPECT_TRUE(exists("/data/modes/custom_mode5"));
    EXPECT_EQ(s->rd16(866), 5);
}

// The saver's thread writes the file while the main thread's refreshes go on. With a save held
// in its file work, the refreshes that come meanwhile return at once and leave one save waiting,
// which writes the last values.
TEST_F(ParamStoreTest, RefreshesDuringAHeldSaveLeaveOneSaveWithTheLastValues) {
    ZemRamPara* s = startStore();
    std::mutex m;
    std::condition_variable cv;
    bool held = false, release = false;
    int saves = 0;
    s->hooks.during_para_file_work = [&] {
        std::unique_lock<std::mutex> lock(m);
        if (++saves != 1) return;
        held = true;
        cv.notify_all();
        cv.wait_for(lock, hangBound(std::chrono::seconds(20)), [&] { return release; });
        held = false;
    };
    s->saver.start();
    struct Stop {
        ZemRamPara* s;
        ~Stop() { s->saver.stop(); }
    } stop{s};
    s->wr16_no_gen_bump(2176, 10);
    hub().para_sync(1);
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, hangBound(std::chrono::seconds(20)), [&] { return held; }))
            << "the first save never reached its file work, or ran on the main thread";
    }
    for (uint16_t v : {11, 12, 13}) {
        s->wr16_no_gen_bump(2176, v);
        hub().para_sync(1);
    }
    {
        std::lock_guard<std::mutex> lock(m);
        EXPECT_TRUE(held) << "the refreshes waited for the save";
        release = true;
    }
    cv.notify_all();
    s->saver.drain();
    EXPECT_EQ(saves, 2);
    EXPECT_EQ(fileWord(readFile(kParaFile), 2176), 13);
    EXPECT_EQ(s->persisted16(2176), 13);
}

// The FPGA thread's words reach the RAM at the next refresh, or at a save request's take, which
// saves them with the mode: the latest post of an address, written only while the word is still
// at the write generation of the user's state the post was built on. A user's write (a PC's or
// the panel's) made after that state keeps its place whatever its value: the very value the echo
// posts, or the value the word held before (A-B-A). What the write changes on the wall is the
// FPGA side's to say.
TEST_F(ParamStoreTest, PostedWordsLandAtTheNextRefreshUnlessTheUserChangedThem) {
    struct Step {
        char kind;  // 'p' a post on the user's state taken, 'u' a user's write, 't' the state taken
        uint16_t value;
    };
    struct Row {
        const char* name;
        std::vector<Step> steps;
        uint16_t after;  // the word after the refresh; it holds 40 before
    };
    const Row rows[] = {
        {"one post", {{'p', 10}}, 10},
        {"a later post replaces the one before", {{'p', 100}, {'p', 10}}, 10},
        {"the user wrote after the post", {{'p', 100}, {'u', 60}}, 60},
        {"the very value the echo posts, then an echo on the state before",
         {{'p', 10}, {'u', 10}, {'p', 70}},
         10},
        {"A-B-A", {{'p', 10}, {'u', 60}, {'u', 40}}, 40},
        {"a post on the user's write taken", {{'p', 10}, {'u', 60}, {'t', 0}, {'p', 70}}, 70},
    };
    enum Writer { kPc, kPanel };
    enum Lander { kRefresh, kSave };
    const std::pair<Writer, Lander> ways[] = {
        {kPc, kRefresh}, {kPanel, kRefresh}, {kPc, kSave}, {kPanel, kSave}};
    for (const int addr : {ZemRamPara::kRamCloseLed, ZemRamPara::kRamBrightness}) {
        for (const auto& [by, at] : ways) {
            for (const Row& row : rows) {
                SCOPED_TRACE(testing::Message()
                             << addr << (by == kPc ? ", PC, " : ", panel, ")
                             << (at == kRefresh ? "refresh, " : "save, ") << row.name);
                ZemRamPara* s = startStore();
                s->wr16_no_gen_bump(addr, 40);
                uint32_t taken = s->word_gen(addr);
                for (const Step& step : row.steps) {
                    if (step.kind == 't') taken = s->word_gen(addr);
                    if (step.kind == 'p') s->post_word(addr, step.value, taken);
                    if (step.kind != 'u') continue;
                    zem::MutexLocker c331(c331_manage::c331_mutex);
                    const uint8_t bytes[2] = {uint8_t(step.value), uint8_t(step.value >> 8)};
                    if (by == kPc)
                        ASSERT_EQ(s->ZemRamParaDeal(bytes, 2, uint32_t(addr)), 0);
                    else
                        s->user_wr16(addr, step.value);
                }
                const uint16_t before = s->rd16(addr);
                if (at == kSave) {
                    saveRequest(4);
                    const uint8_t* saved = s->mode_ram[3].data() + 2 + addr - ZemRamPara::kRamEdid;
                    EXPECT_EQ(saved[0] | saved[1] << 8, row.after) << "in the mode saved";
                } else {
                    s->refresh_begin();
                    s->refresh_end();
                }
                EXPECT_EQ(s->rd16(addr), row.after) << "before: " << before;
            }
        }
    }
}

TEST_F(ParamStoreTest, AFailedSaveIsRetriedAtTheNextRefresh) {
    ZemRamPara* s = startStore();
    const std::string before = readFile(kParaFile);
    // A folder where the new file must go makes the write fail before the rename.
    std::filesystem::create_directories(local(std::string(kParaFile) + ".new"));
    s->wr16_no_gen_bump(2176, 42);
    EXPECT_EQ(s->ram_para_persist(), -1);
    EXPECT_EQ(readFile(kParaFile), before) << "the old file is untouched";
    EXPECT_EQ(s->persisted16(2176), 42) << "readers see the change as accepted";

    EXPECT_EQ(s->ram_para_persist(), -1) << "still failing, still pending";
    std::filesystem::remove_all(local(std::string(kParaFile) + ".new"));
    EXPECT_EQ(s->ram_para_persist(), 1) << "retried although RAM equals what was saved";
    EXPECT_EQ(fileWord(readFile(kParaFile), 2176), 42);
    EXPECT_EQ(s->ram_para_persist(), 0);
}

TEST_F(ParamStoreTest, AKillDuringASaveLeavesTheOldOrTheNewFile) {
    ZemRamPara* s = startStore();
    int saved = 0;
    for (int round = 0; round < 8; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {  // bounded: the kill below
            for (uint8_t v = 0;; ++v) {
                std::memset(s->ram.data() + 768, v, 3328);
                s->take_led_in_force();  // the LED words too, as if checked
                s->ram_para_persist();
            }
        }
        ::usleep(2000 + 3000 * round);  // unscaled: the kill's moment, what the test tries
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::string file = readFile(kParaFile);
        ASSERT_EQ(file.size(), 4096u) << "round " << round;
        ASSERT_EQ(uint8_t(file[0]), 0xAA);
        ASSERT_EQ(uint8_t(file[1]), 0xAA);
        const bool old =
            file == std::string(default_para_ramlist.begin(), default_para_ramlist.end());
        const bool whole = file.substr(2, 3328) == std::string(3328, file[2]) &&
                           file.substr(3330) == std::string(766, '\0');
        EXPECT_TRUE(old || whole) << "round " << round << ": neither the old nor one new file";
        saved += !old;
    }
    EXPECT_GT(saved, 0) << "the children never got to save";
}

TEST_F(ParamStoreTest, TheProtocolCopyStaysInsideTheRam) {
    ZemRamPara* s = startStore();
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(s->ZemRamParaDeal(data, 6, 4090), 0);
    EXPECT_EQ(s->ram[4095], 6);
    EXPECT_EQ(s->ZemRamParaDeal(data + 1, 7, 4089), 0);
    EXPECT_EQ(s->ram[4095], 8);
    const uint8_t before = s->ram[4090];
    EXPECT_EQ(s->ZemRamParaDeal(data, 7, 4090), 1);
    EXPECT_EQ(s->ram[4090], before) << "nothing copied";
    EXPECT_EQ(s->ZemRamParaDeal(data, 8, 0xFFFFFFFCu), 1) << "no wrap-around";
    EXPECT_EQ(s->ZemRamParaDeal(data, 0, 4096), 0);
    EXPECT_EQ(s->ZemRamParaDeal(data, 0, 4097), 1);
}

TEST_F(ParamStoreTest, ASignalledChangeIsSavedByTheHubInTheMainThread) {
    struct Front : SyncPage {
        QThread* ranOn = nullptr;
        int calls = 0;
        void refreshPage(int) override {
            ranOn = QThread::currentThread();
            ++calls;
        }
    };
    static Front front;
    SyncUpdate::setPage(0, [] { return static_cast<SyncPage*>(&front); });
    ZemRamPara* s = startStore();
    SyncUpdate::connectStore(s);

    std::thread worker([s] {
        s->wr16_no_gen_bump(2178, 33);  // contrast
        EXPECT_EQ(s->test_signal(1), 1);
    });
    worker.join();
    EXPECT_EQ(fileWord(readFile(kParaFile), 2178), 50)
        << "nothing saved before the main thread runs";
    EXPECT_EQ(front.calls, 0);
    drainEvents();
    EXPECT_EQ(fileWord(readFile(kParaFile), 2178), 33);
    EXPECT_EQ(front.calls, 1);
    EXPECT_EQ(front.ranOn, app().thread());

    s->wr16_no_gen_bump(2180, 7);
    s->ram_para_save();
    drainEvents();
    EXPECT_EQ(fileWord(readFile(kParaFile), 2180), 7);
}

}  // namespace
