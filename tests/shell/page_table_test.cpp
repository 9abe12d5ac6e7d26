// The page table against the pages the program registers: each registered page is the class
// its row names, and after open, Back and Mode the page in front is the one g_page_focus names.
#include "core/page_table.h"

#include <QMetaObject>
#include <set>

#include "page_driver.h"

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
        while (g_page_focus > kPageMain && panel::front()) key(kKeyBack);
        g_mode_shortcut_key = 0;
        if (g_page_focus == kPageHome) key(kKeyOk);
        ASSERT_EQ(g_page_focus, kPageMain);
    }
    EXPECT_GE(opened, 1);
}

}  // namespace
