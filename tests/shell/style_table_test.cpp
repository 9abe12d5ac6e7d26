// The one table of named styles against the pages that draw from it: every page, opened as its
// menu opens it, re-texted in each language and walked through its focus ring, shows on each
// item a sheet the table has for the item's look and state, and no page sets a sheet of its own
// over an item the table draws.
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "page_driver.h"
#include "ui/shell/main_window.h"

namespace {

class StyleTable : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        startPanel();
        key(kKeyOk);  // the main menu
    }
    // Opens page id over its parent, and that parent over its own first, up to the menu.
    static std::vector<Item> openChain(int id) {
        std::vector<int> chain;
        for (int at = id; at > kPageMain; at = panel::parentOf(at)) chain.insert(chain.begin(), at);
        std::vector<Item> steps;
        for (int p : chain) steps.push_back([p] { panel::openRegistered(p); });
        return steps;
    }
};

TEST_F(StyleTable, EveryPageShowsTheTablesSheetsThroughItsLanguagesAndItsFocusRing) {
    constexpr int kSteps = 18;  // more than the longest ring
    int walked = 0;
    for (int id = kPageMain; id < kPageCount; ++id) {
        if (!panel::registered(id)) continue;
        SCOPED_TRACE(page_table::className(id));
        ++walked;
        std::vector<Item> steps = openChain(id);
        steps.push_back([this, id] {
            ASSERT_EQ(g_page_focus, id);
            expectDrawnFromTable("opened");
            for (int language = 0; language < kLanguageCount; ++language) {
                g_language = uint8_t(language);
                panel::front()->language_changed();
                expectDrawnFromTable("language " + std::to_string(language));
            }
            g_language = 1;
            panel::front()->language_changed();
            for (int key : {kKeyRight, kKeyLeft}) {
                for (int n = 0; n < kSteps && g_page_focus == id; ++n) {
                    this->key(key);
                    expectDrawnFromTable((key == kKeyRight ? "Right " : "Left ") +
                                         std::to_string(n + 1));
                }
            }
            shot(page_table::className(id));
            // Back up to the main menu, whatever level the walk left the page on.
            for (int n = 0; n < 8 && g_page_focus > kPageMain; ++n) key(kKeyBack);
        });
        session(steps);
        backUntilGone([] { return g_page_focus > kPageMain && panel::front(); },
                      "every page over the main menu");
        if (g_page_focus == kPageHome) key(kKeyOk);
        ASSERT_EQ(g_page_focus, kPageMain);
    }
    EXPECT_GE(walked, 20);
}

// The table answers what it drew: a sheet set over it, or a look in a state the look has no
// sheet for, shows as such.
TEST_F(StyleTable, StateOfTellsATableSheetFromOneSetOverIt) {
    QPushButton button;
    button.setObjectName("probe");
    EXPECT_EQ(panel_style::stateOf(&button), panel_style::kNormal) << "never drawn";
    EXPECT_EQ(panel_style::lookOf(&button), panel_style::kLooks);
    panel_style::apply(&button, panel_style::kField, panel_style::kFocus);
    EXPECT_EQ(panel_style::stateOf(&button), panel_style::kFocus);
    EXPECT_EQ(panel_style::lookOf(&button), panel_style::kField);
    EXPECT_TRUE(styleFaults().empty());
    button.setStyleSheet(panel_style::sheet(panel_style::kField, panel_style::kNormal));
    EXPECT_EQ(panel_style::stateOf(&button), panel_style::kStates) << "drawn around the table";
    EXPECT_EQ(styleFaults().size(), 1u);
    panel_style::apply(&button, panel_style::kButton, panel_style::kDimmed);
    EXPECT_EQ(styleFaults().size(), 2u) << "reported when drawn, and as it stands";
    panel_style::apply(&button, panel_style::kButton, panel_style::kNormal);
    EXPECT_TRUE(styleFaults().empty());
    // A frame's sheet reaches the frame only, by its own name.
    QFrame frame;
    auto* inside = new QLabel(&frame);
    panel_style::apply(&frame, panel_style::kLayoutFrame, panel_style::kChosen);
    EXPECT_FALSE(frame.objectName().isEmpty());
    EXPECT_TRUE(frame.styleSheet().startsWith("#" + frame.objectName() + "{"));
    EXPECT_EQ(panel_style::stateOf(&frame), panel_style::kChosen);
    EXPECT_TRUE(inside->styleSheet().isEmpty());
}

// Every combo box's open list marks the row the keys are on (the entry in force when it opens)
// in the chosen colour, whatever the box's look; the other rows stay plain. The list is a
// window of its own, grabbed apart from the page.
TEST_F(StyleTable, AnOpenListMarksItsCurrentRowInEveryComboLook) {
    const panel_style::Look kComboLooks[] = {panel_style::kCombo, panel_style::kComboFilled,
                                             panel_style::kComboNoArrow, panel_style::kSelector};
    const QColor chosen("#4777FF");
    for (panel_style::Look look : kComboLooks) {
        SCOPED_TRACE(look);
        QWidget host;
        host.setGeometry(0, 0, 320, 240);
        auto* box = new QComboBox(&host);
        box->setGeometry(100, 20, 100, 22);
        for (int i = 0; i < 4; ++i) box->addItem("entry");  // rows differ by their look only
        box->setCurrentIndex(1);
        panel_style::apply(box, look, panel_style::kFocus);
        host.show();
        box->showPopup();
        QAbstractItemView* view = box->view();
        QWidget* list = view->window();
        ASSERT_TRUE(list->isVisible());
        ASSERT_NE(list, &host) << "the list is a window of its own";
        const QImage drawn = list->grab().toImage().convertToFormat(QImage::Format_RGB32);
        drawn.save(QString("%1/StyleTable.list-look-%2.png").arg(ZEM_SCREENSHOT_DIR).arg(look));
        // A row inside its 1-px focus line, in the list window's pixels.
        const auto row = [&](int n) {
            const QRect r = view->visualRect(view->model()->index(n, 0))
                                .intersected(view->viewport()->rect())
                                .adjusted(2, 2, -2, -2);
            return drawn.copy(QRect(view->viewport()->mapTo(list, r.topLeft()), r.size()));
        };
        const QImage current = row(1), other = row(2);
        EXPECT_NE(current, other) << "the current row is drawn as the others";
        EXPECT_EQ(QColor(current.pixel(current.width() * 7 / 8, current.height() / 2)), chosen);
        EXPECT_NE(QColor(other.pixel(other.width() * 7 / 8, other.height() / 2)), chosen);
        box->hidePopup();
    }
    expectDrawnFromTable("lists");
}

}  // namespace
