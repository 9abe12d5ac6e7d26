// The refresh hub: routing of each refresh id to the page in focus through the page pointers,
// the tips, the keypad LED report, and the steps that run for every id.
#include <QThread>
#include <cstdint>
#include <functional>
#include <map>
#include <thread>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "pc_link.h"
#include "platform/hid_keypad.h"
#include "store_fixture.h"
#include "ui/shell/page_store.h"

namespace {

// A page as the hub sees it: records the ids it was refreshed with.
struct FakePage : SyncPage {
    std::vector<int> ids;
    bool tipRequest = false;
    int retexts = 0;
    uint8_t languageAtRefresh = 0xFF;
    std::function<void()> onRefresh;  // what the page's own refresh does besides
    void refreshPage(int id) override {
        ids.push_back(id);
        languageAtRefresh = g_language;
        if (onRefresh) onRefresh();
    }
    void retext() override { ++retexts; }
    // Told before a new language reaches it, with how many refreshes it had then.
    int warned = 0;
    size_t refreshesWhenWarned = SIZE_MAX;
    void beforeNewLanguage() override {
        ++warned;
        refreshesWhenWarned = ids.size();
    }
    bool takeTipRequest() override {
        const bool t = tipRequest;
        tipRequest = false;
        return t;
    }
};

FakePage g_fake_pages[SyncUpdate::kPageCount];
FakePage* g_open[SyncUpdate::kPageCount];  // the page pointers; null while a page is closed
std::vector<int> g_tips;
int g_widget_retexts = 0;

template <int Id>
SyncPage* openPage() {
    return g_open[Id];
}

template <int... Ids>
void routeAll(std::integer_sequence<int, Ids...>) {
    (SyncUpdate::setPage(Ids, &openPage<Ids>), ...);
}

class SyncUpdateTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        startStore();
        routeAll(std::make_integer_sequence<int, SyncUpdate::kPageCount>());
        for (int id = 0; id < SyncUpdate::kPageCount; ++id) {
            g_fake_pages[id] = FakePage();
            g_open[id] = &g_fake_pages[id];
        }
        g_tips.clear();
        SyncUpdate::setTip([](int type) { g_tips.push_back(type); });
        g_widget_retexts = 0;
        SyncUpdate::setRetext([] { ++g_widget_retexts; });
    }
    void TearDown() override {
        SyncUpdate::setRetext(nullptr);
        StoreTest::TearDown();
    }
    std::vector<int> refreshes(int page) const { return g_fake_pages[page].ids; }
    int totalRefreshes() const {
        size_t n = 0;
        for (const auto& p : g_fake_pages) n += p.ids.size();
        return int(n);
    }
};

TEST_F(SyncUpdateTest, EachIdRefreshesOnlyThePageInFocus) {
    const int ids[] = {1, 2, 11, 12, 99, 100, 101, 102, 103, 104};
    for (int page = 0; page < SyncUpdate::kPageCount; ++page) {
        g_page_focus = uint8_t(page);
        for (int id : ids) hub().para_sync(id);
        EXPECT_EQ(refreshes(page), std::vector<int>(std::begin(ids), std::end(ids))) << page;
    }
    EXPECT_EQ(totalRefreshes(), SyncUpdate::kPageCount * 10);
}

TEST_F(SyncUpdateTest, ADirectCallFromAWorkerRunsInTheMainThread) {
    struct Probe : FakePage {
        QThread* ranOn = nullptr;
        void refreshPage(int id) override {
            ranOn = QThread::currentThread();
            FakePage::refreshPage(id);
        }
    };
    static Probe probe;
    g_open[4] = &probe;
    g_page_focus = 4;
    std::thread worker([this] { hub().para_sync(12); });
    worker.join();
    EXPECT_TRUE(probe.ids.empty());
    drainEvents();
    EXPECT_EQ(probe.ids, std::vector<int>{12});
    EXPECT_EQ(probe.ranOn, app().thread());
}

// A worker raising faster than the main thread refreshes (here while that thread waits for
// it): each id waits once, and its one refresh sees the last write. The store's emits and a
// worker's direct call to the hub alike.
TEST_F(SyncUpdateTest, RaisesWhileTheMainThreadIsHeldMergeIntoOneRefreshPerId) {
    SyncUpdate::connectStore(&store());
    const auto word = [](int id) { return 3072 + 2 * (id % 32); };
    std::map<int, std::vector<uint16_t>> seen;  // per id, what each of its refreshes read
    g_page_focus = 7;
    g_fake_pages[7].onRefresh = [&] {
        const int id = g_fake_pages[7].ids.back();
        seen[id].push_back(store().rd16(word(id)));
    };
    const auto write = [&](int id, int value) {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store().wr16_no_gen_bump(word(id), uint16_t(value));
    };
    std::thread worker([&] {
        for (int i = 1; i <= 10000; ++i) {
            write(1, i);
            store().test_signal(1);
            if (i % 100 != 1) continue;
            for (int id : {11, 12}) {
                write(id, i);
                store().test_signal(id);
            }
            write(99, i);
            hub().para_sync(99);
        }
    });
    worker.join();
    EXPECT_EQ(totalRefreshes(), 0) << "nothing runs before the main thread does";
    drainEvents();
    drainEvents();
    EXPECT_EQ(refreshes(7), (std::vector<int>{1, 11, 12, 99}));
    EXPECT_EQ(seen[1], std::vector<uint16_t>{10000});
    for (int id : {11, 12, 99}) EXPECT_EQ(seen[id], std::vector<uint16_t>{9901}) << id;
}

// A raise landing after a refresh took its id's bit, while that refresh runs, is not taken in
// by it: it gets a refresh of its own, which sees its write.
TEST_F(SyncUpdateTest, ARaiseAfterARefreshTookItsIdGetsItsOwnRefresh) {
    SyncUpdate::connectStore(&store());
    std::vector<uint16_t> seen;
    g_page_focus = 7;
    g_fake_pages[7].onRefresh = [&] {
        seen.push_back(store().rd16(3072));
        if (seen.size() > 1) return;
        std::thread late([this] {
            {
                zem::MutexLocker lock(c331_manage::c331_mutex);
                store().wr16_no_gen_bump(3072, 2);
            }
            store().test_signal(1);
        });
        late.join();
    };
    std::thread first([this] {
        store().wr16_no_gen_bump(3072, 1);
        store().test_signal(1);
    });
    first.join();
    drainEvents();
    drainEvents();
    EXPECT_EQ(refreshes(7), (std::vector<int>{1, 1}));
    EXPECT_EQ(seen, (std::vector<uint16_t>{1, 2}));
}

TEST_F(SyncUpdateTest, AClosedPageOrAPageNumberPastTheTableIsSkipped) {
    g_page_focus = 7;
    g_open[7] = nullptr;
    store().wr16_no_gen_bump(2176, 12);
    hub().para_sync(1);
    EXPECT_EQ(totalRefreshes(), 0);
    EXPECT_EQ(fileWord(readFile(kParaFile), 2176), 12) << "persistence still runs";

    g_page_focus = 30;
    store().ram[768] = 1;  // a language change seen by the check alone
    hub().para_sync(1);
    EXPECT_EQ(totalRefreshes(), 0);
    EXPECT_EQ(g_language, 1);
}

// A language the PC wrote (RAM 768, then an apply) is applied by the hub before it routes the
// refresh, whatever page is in front: one that closes in its own refresh, one that is not open,
// or none. The page in front afterwards and the shared widgets re-text once; the next refresh,
// after the persist, changes nothing.
TEST_F(SyncUpdateTest, ALanguageFromThePcIsAppliedWhateverPageIsInFront) {
    struct Case {
        const char* name;
        int focus;
        bool open;
        bool closes;   // its refresh closes it, back to page 5
        int retexted;  // the page re-texted afterwards, -1 none
    };
    const Case cases[] = {{"open", 7, true, false, 7},
                          {"closed by its refresh", 24, true, true, 5},
                          {"not open", 7, false, false, -1},
                          {"no numbered page", 30, false, false, -1}};
    uint8_t language = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int id = 0; id < SyncUpdate::kPageCount; ++id) {
            g_fake_pages[id] = FakePage();
            g_open[id] = &g_fake_pages[id];
        }
        g_widget_retexts = 0;
        g_page_focus = uint8_t(c.focus);
        if (c.focus < SyncUpdate::kPageCount && !c.open) g_open[c.focus] = nullptr;
        if (c.closes)
            g_fake_pages[c.focus].onRefresh = [f = c.focus] {
                g_open[f] = nullptr;
                g_page_focus = 5;
            };
        language = language == 1 ? 2 : 1;
        store().ram[768] = language;
        hub().para_sync(1);
        EXPECT_EQ(g_language, language);
        if (c.open) {
            EXPECT_EQ(g_fake_pages[c.focus].languageAtRefresh, language);
            EXPECT_EQ(g_fake_pages[c.focus].warned, 1);
            EXPECT_EQ(g_fake_pages[c.focus].refreshesWhenWarned, 0u) << "told after its refresh";
        }
        for (int id = 0; id < SyncUpdate::kPageCount; ++id)
            EXPECT_EQ(g_fake_pages[id].retexts, id == c.retexted ? 1 : 0) << id;
        EXPECT_EQ(g_widget_retexts, 1);
        hub().para_sync(1);
        EXPECT_EQ(g_widget_retexts, 1) << "the persist took the change";
        if (c.open) {
            EXPECT_EQ(g_fake_pages[c.focus].warned, 1) << "told without a new language";
        }
    }
}

// A PC write landing while the hub refreshes, after it took what it sees and before it saves
// (here while the page in front refreshes): that refresh saves it, and the next acts on it.
TEST_F(SyncUpdateTest, APcWriteLandingDuringARefreshIsActedOnByTheNext) {
    struct Case {
        const char* name;
        std::vector<Bytes> writes;  // the PC's frames
        std::function<void(const FakePage&)> check;
    };
    bool brightnessChanged = false;  // as the page in front saw it in the next refresh
    const Case cases[] = {
        {"an out-of-range language",
         {writeRam(768, {9, 0})},
         [this](const FakePage& page) {
             EXPECT_EQ(store().rd16(768), 0) << "the lowest enabled language";
             EXPECT_EQ(g_language, 0);
             EXPECT_EQ(fileWord(readFile(kParaFile), 768), 0);
             EXPECT_EQ(page.retexts, 1);
         }},
        {"a user-mode save request",
         {writeRam(868, le16(5)), writeReg(11, 0xFF, {0})},
         [this](const FakePage&) {
             EXPECT_EQ(store().ZemUserModeSaved(4), 1);
             EXPECT_TRUE(exists("/data/modes/custom_mode5"));
             EXPECT_EQ(store().rd16(866), 5);
             EXPECT_EQ(store().rd16(868), 0);
         }},
        {"a word the page shows",
         {writeRam(2176, le16(77))},
         [&](const FakePage&) { EXPECT_TRUE(brightnessChanged); }},
    };
    g_lcd_lang_valid = 0x1F;
    g_page_focus = 7;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePage& page = g_fake_pages[7] = FakePage();
        int refresh = 0;
        page.onRefresh = [&] {
            if (++refresh > 1) {
                brightnessChanged = wordChanged(2176);
                return;
            }
            const std::vector<Bytes> replies = sessionSends(c.writes).get();
            for (const Bytes& reply : replies) {
                ASSERT_GT(reply.size(), 10u);
                EXPECT_EQ(reply[10], 0) << "written";
            }
        };
        hub().para_sync(1);
        hub().para_sync(1);  // the PC's apply
        c.check(page);
    }
}

TEST_F(SyncUpdateTest, FirmwareUpdateIdsStopBeforeThePagesAndTheFiles) {
    g_page_focus = 3;
    const std::string before = readFile(kParaFile);
    for (int id : {105, 106}) {
        store().wr16_no_gen_bump(2176, 13);
        store().wr16_no_gen_bump(868, 2);
        hub().para_sync(id);
    }
    EXPECT_EQ(totalRefreshes(), 0);
    EXPECT_EQ(readFile(kParaFile), before);
    EXPECT_FALSE(exists("/data/modes/custom_mode2"));
}

TEST_F(SyncUpdateTest, TipsFollowTheirPages) {
    g_page_focus = 10;
    hub().para_sync(1);
    EXPECT_EQ(g_tips, (std::vector<int>{1, 1})) << "after the refresh and after persistence";

    // Shown once the refresh has ended, its file work taken; the second only while the link
    // menu is still in front after the first (here the first's loop leaves it).
    g_tips.clear();
    static std::vector<uint16_t> saved_at_tip;
    saved_at_tip.clear();
    SyncUpdate::setTip([](int type) {
        g_tips.push_back(type);
        saved_at_tip.push_back(ZemRamPara::p_zemrampara_config->persisted16(2176));
        g_page_focus = 5;
    });
    store().wr16_no_gen_bump(2176, 33);
    hub().para_sync(1);
    EXPECT_EQ(g_tips, std::vector<int>{1});
    EXPECT_EQ(saved_at_tip, std::vector<uint16_t>{33}) << "a tip shown inside the refresh";
    SyncUpdate::setTip([](int type) { g_tips.push_back(type); });
    g_page_focus = 10;

    g_tips.clear();
    g_page_focus = 1;
    hub().para_sync(1);
    EXPECT_TRUE(g_tips.empty());
    g_fake_pages[1].tipRequest = true;
    hub().para_sync(1);
    EXPECT_EQ(g_tips, std::vector<int>{1});
    EXPECT_FALSE(g_fake_pages[1].tipRequest) << "the request is cleared";

    for (int page : {24, 26}) {
        g_tips.clear();
        g_page_focus = uint8_t(page);
        for (int id : {100, 101, 102, 103}) hub().para_sync(id);
        EXPECT_EQ(g_tips, (std::vector<int>{3, 4, 5})) << page;
    }
    g_tips.clear();
    g_page_focus = 3;
    hub().para_sync(100);
    EXPECT_TRUE(g_tips.empty());
    EXPECT_EQ(refreshes(3), std::vector<int>{100});
}

TEST_F(SyncUpdateTest, ADisabledCurrentWindowFallsBackToWindowZeroExceptOnTheLayoutPage) {
    g_image_current = 3;
    g_page_focus = 9;
    hub().para_sync(1);
    EXPECT_EQ(g_image_current, 3);
    g_page_focus = 5;
    hub().para_sync(1);
    EXPECT_EQ(g_image_current, 0);
    store().wr16_no_gen_bump(2272 + 26 * 2, 1);
    g_image_current = 2;
    hub().para_sync(1);
    EXPECT_EQ(g_image_current, 2);
}

class KeypadTest : public SyncUpdateTest {
protected:
    void SetUp() override {
        SyncUpdateTest::SetUp();
        platform::sim::simKeypad().attach();
        g_zem_keys = 1;
    }
    static std::vector<std::string> sent() {
        std::vector<std::string> out;
        for (const auto& r : platform::sim::simKeypad().reports()) {
            char t[16];
            std::snprintf(t, sizeof t, "%02X %02X %02X %02X %02X", r[0], r[1], r[2], r[3], r[4]);
            out.push_back(t);
        }
        return out;
    }
};

TEST_F(KeypadTest, TheReportShowsTheCurrentWindowItsSourceAndItsState) {
    ZemRamPara& s = store();
    s.wr16_no_gen_bump(2272 + 26, 1);            // window 1 enabled
    s.wr16_no_gen_bump(2272 + 26 + 8, 4);        // HDMI3
    s.wr16_no_gen_bump(2272 + 26 + 18, 0x0002);  // frozen
    {
        zem::MutexLocker lock(s.mutex);
        s.set_timing16(256 + 24, 1920);
        s.set_timing16(258 + 24, 1080);
        s.set_timing16(260 + 24, 60);
    }
    g_image_current = 1;
    hub().para_sync(12);
    EXPECT_EQ(sent(), std::vector<std::string>{"A5 04 00 01 01"});

    hub().para_sync(12);
    EXPECT_EQ(sent().size(), 1u) << "an unchanged report is not resent";

    {
        zem::MutexLocker lock(s.mutex);
        s.set_timing16(260 + 24, 0);  // HDMI3 lost its signal
    }
    s.wr16_no_gen_bump(2272 + 26 + 18, 0x0001);  // black
    g_update_flag = 1;
    hub().para_sync(105);
    EXPECT_EQ(sent().back(), "5A 04 00 02 04");
}

TEST_F(KeypadTest, SourcesZeroAndOneAndWindowsFourAndFiveUseTheSecondByte) {
    ZemRamPara& s = store();
    s.wr16_no_gen_bump(2272 + 26 * 5, 1);
    s.wr16_no_gen_bump(2272 + 26 * 5 + 8, 1);  // DVI without signal
    g_image_current = 5;
    hub().update_usb_keyLed();
    s.wr16_no_gen_bump(2272 + 26 * 5 + 8, 0x8000);  // crop entry 0: source 2 (no signal)
    hub().update_usb_keyLed();
    EXPECT_EQ(sent(), (std::vector<std::string>{"A5 00 84 00 00", "A5 00 04 20 00"}));
}

TEST_F(KeypadTest, AReportTheKeypadDidNotTakeIsSentAgain) {
    platform::sim::simKeypad().failWrites(1);
    hub().para_sync(1);
    EXPECT_TRUE(sent().empty());
    hub().para_sync(1);
    EXPECT_EQ(sent(), std::vector<std::string>{"A5 01 00 20 00"});

    platform::sim::simKeypad().attach(false);
    store().wr16_no_gen_bump(2272 + 18, 1);
    hub().para_sync(1);
    platform::sim::simKeypad().attach(true);
    hub().para_sync(1);
    EXPECT_EQ(sent().back(), "A5 01 00 20 04") << "sent once the keypad is back";
}

TEST_F(KeypadTest, WithoutTheKeypadAtStartNoReportIsSent) {
    g_zem_keys = 0;
    hub().para_sync(1);
    EXPECT_TRUE(sent().empty());
}

}  // namespace
