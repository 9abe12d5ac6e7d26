// The page table against the pages the program registers: each registered page is the class
// its row names, and after open, Back and Mode the page in front is the one g_page_focus names.
#include "core/page_table.h"

#include <QMetaObject>
#include <set>

#include "c331/c331_manage.h"
#include "comm/link_session.h"
#include "page_driver.h"
#include "pc_link.h"
#include "ui/shell/main_window.h"
#include "ui/shell/tip.h"

namespace {

TEST(PageTable, EveryIdHasARowAndBackLeadsToAPageNearerTheMainMenu) {
    static std::set<int> open;
    auto isOpen = [](int id) { return open.count(id) != 0; };
    for (int id = 0; id < kPageCount; ++id) {
        SCOPED_TRACE(id);
        const PageRow* row = page_table::row(id);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->id, id);
        EXPECT_STRNE(row->className, "");
        if (id <= kPageMain) continue;
        // Following Back from any page reaches the main menu, whatever else is open.
        for (bool othersOpen : {false, true}) {
            open.clear();
            if (othersOpen)
                for (int o = 0; o < kPageCount; ++o) open.insert(o);
            int at = id, steps = 0;
            while (at != kPageMain && steps++ < kPageCount) at = page_table::parentOf(at, isOpen);
            EXPECT_EQ(at, kPageMain);
        }
    }
    EXPECT_EQ(page_table::row(kPageCount), nullptr);
    EXPECT_EQ(page_table::row(-1), nullptr);
    EXPECT_STREQ(page_table::className(200), "?");
    // The rules with a second parent.
    open = {kPageImageLayout};
    EXPECT_EQ(page_table::parentOf(kPageInputChoose, isOpen), kPageImageLayout);
    EXPECT_EQ(page_table::parentOf(kPageInputCut, isOpen), kPageOption);
    open = {kPageInputChoose};
    EXPECT_EQ(page_table::parentOf(kPageInputChoose, isOpen), kPageMain);
    EXPECT_EQ(page_table::parentOf(kPageInputCut, isOpen), kPageInputChoose);
    EXPECT_EQ(page_table::parentOf(kPageLedSet, isOpen), kPageOutputSet);
}

class RegisteredPages : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        startPanel();
        key(kKeyOk);  // the main menu
    }
    // Opens page id over its parent, and that parent over its own first, up to the menu.
    std::vector<Item> openChain(int id) {
        std::vector<int> chain;
        for (int at = id; at > kPageMain; at = panel::parentOf(at)) chain.insert(chain.begin(), at);
        std::vector<Item> steps;
        for (int p : chain) steps.push_back([p] { panel::openRegistered(p); });
        return steps;
    }
};

TEST_F(RegisteredPages, EachIsItsRowsClassAndTheIdInFrontFollowsOpenBackAndMode) {
    ASSERT_TRUE(panel::registered(kPageHome));
    ASSERT_TRUE(panel::registered(kPageMain));
    int opened = 0;
    for (int id = kPageMain + 1; id < kPageCount; ++id) {
        if (!panel::registered(id)) continue;
        SCOPED_TRACE(page_table::className(id));
        ++opened;
        const int parent = panel::parentOf(id);
        std::vector<Item> steps = openChain(id);
        steps.push_back([this, id, parent] {
            ASSERT_EQ(g_page_focus, id) << "after open";
            ASSERT_NE(panel::front(), nullptr);
            EXPECT_STREQ(panel::front()->widget()->metaObject()->className(),
                         page_table::className(id));
            EXPECT_EQ(panel::front()->widget()->size(), QSize(320, 240));
            EXPECT_TRUE(panel::front()->widget()->windowFlags() & Qt::FramelessWindowHint);
            shot(page_table::className(id));
            key(kKeyBack);
            // Pages with levels go up one per Back; the last one leaves the page.
            for (int n = 0; n < 4 && panel::page(id); ++n) key(kKeyBack);
            EXPECT_EQ(panel::page(id), nullptr);
            EXPECT_EQ(g_page_focus, parent) << "after Back";
            // A page whose menu is not built yet is opened alone: nothing is behind it.
            if (panel::registered(parent)) {
                EXPECT_NE(panel::front(), nullptr);
            }
            // The rest of the chain closes, so it is opened again from the main menu.
            for (int at = parent; at > kPageMain && at < kPageCount; at = panel::parentOf(at))
                if (PageFrame* open = panel::page(at)) panel::back(open);
        });
        for (Item& i : openChain(id)) steps.push_back(i);
        steps.push_back([this, id] {
            ASSERT_EQ(g_page_focus, id);
            key(kKeyMode);
            // Mode on the user-mode page itself does nothing.
            if (id != kPageCustomMode) {
                EXPECT_EQ(panel::page(id), nullptr);
            }
            EXPECT_EQ(g_page_focus,
                      panel::page(kPageCustomMode) ? int(kPageCustomMode) : int(kPageMain))
                << "after Mode";
            EXPECT_NE(panel::front(), nullptr);
        });
        session(steps);
        // Back from what Mode left in front, to the main menu again.
        backUntilGone([] { return g_page_focus > kPageMain && panel::front(); },
                      "every page over the main menu");
        g_mode_shortcut_key = 0;
        if (g_page_focus == kPageHome) key(kKeyOk);
        ASSERT_EQ(g_page_focus, kPageMain);
    }
    EXPECT_GE(opened, 1);
}

// A PC frame body through a TCP session, as the transports feed it; the reply body.
Bytes pcAsks(const Bytes& b) {
    static link_session session(LinkKind::Tcp, "test");
    const Bytes w = wire(b);
    ReplyReader r;
    session.feed(w.data(), w.size(), [&](const uint8_t* p, uint32_t n) { r.add(p, n); });
    return r.bodies.empty() ? Bytes{} : r.bodies.back();
}

QImage drawn(PageFrame* page) {
    return page->widget()->grab().toImage();
}

// The page is drawn in the language in force, whole: re-texting it again changes nothing.
void expectRetexted(PageFrame* page, int language, const char* what) {
    ASSERT_NE(page, nullptr) << what;
    EXPECT_EQ(panelLanguage(), language) << what;
    const QImage shown = drawn(page);
    page->language_changed();
    EXPECT_TRUE(drawn(page) == shown) << what << " still shows the old language";
}

// With any page of the table in front, the PC's language (RAM 768, then register 11 and the
// refresh of the apply) re-texts that page, and its parent after Back.
TEST_F(RegisteredPages, ALanguageFromThePcReachesThePageInFrontAndItsParent) {
    constexpr int kChinese = 0;
    for (int id = kPageHome; id < kPageCount; ++id) {
        SCOPED_TRACE(page_table::className(id));
        ASSERT_TRUE(panel::registered(id));
        store().ram[ZemRamPara::kRamLanguage] = 1;
        store().shadow[ZemRamPara::kRamLanguage] = 1;
        g_language = 1;
        g_mainwindow->language_changed();
        std::vector<Item> steps;
        if (id == kPageHome)
            steps.push_back([this] { key(kKeyBack); });  // the main menu leaves for a home screen
        else if (id > kPageMain)
            steps = openChain(id);
        steps.push_back([id] {
            ASSERT_EQ(g_page_focus, id);
            ASSERT_EQ(pcAsks(writeRam(ZemRamPara::kRamLanguage, {kChinese, 0})).at(10), 0);
            ASSERT_EQ(pcAsks(writeReg(11, 0xFF, {0x01})).at(10), 0);
            {
                zem::MutexLocker lock(c331_manage::c331_mutex);
                EXPECT_NE(c331_manage::take_apply(), 0) << "register 11 asks for the apply";
            }
            SyncUpdate::pInstance()->para_sync(1);  // the apply's refresh
        });
        steps.push_back([this, id] {
            tick(TIP::kShowTicks);  // a tip the refresh showed (the link menu's) goes
            expectRetexted(panel::page(id), kChinese, "the page in front");
            shot(QString(page_table::className(id)) + "-zh");
            if (id <= kPageMain) return;
            const int parent = panel::parentOf(id);
            for (int n = 0; n < 5 && panel::page(id); ++n) key(kKeyBack);
            ASSERT_EQ(panel::page(id), nullptr);
            expectRetexted(panel::page(parent), kChinese, "its parent after Back");
            for (int at = parent; at > kPageMain && at < kPageCount; at = panel::parentOf(at))
                if (PageFrame* open = panel::page(at)) panel::back(open);
        });
        session(steps);
        backUntilGone([] { return g_page_focus > kPageMain && panel::front(); },
                      "every page over the main menu");
        g_mode_shortcut_key = 0;
        if (g_page_focus == kPageHome) key(kKeyOk);
        ASSERT_EQ(g_page_focus, kPageMain);
    }
}

}  // namespace
