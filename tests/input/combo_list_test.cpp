// The three combo boxes whose list a touch opens (the user-mode selector, the colour
// temperature's preset, the layout's point-to-point list): the open list shows in the
// screenshot at its place, is what lies over the page, closes on any key without a choice and
// without the key acting on the page, and takes a touched entry as Qt does, under the page's
// rules.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <cstring>

#include "c331/c331_manage.h"
#include "page_driver.h"
#include "ui/shell/main_window.h"
#include "ui/shell/panel_view.h"

namespace {

struct ListCase {
    const char* name;
    int page;
    const char* combo;
    int touched;  // the entry a touch chooses
    int chosen;   // the entry shown after it, by the page's rule
};
const ListCase kLists[] = {
    // The user-mode page acts on the mode its keys chose: the box snaps back to it.
    {"user-mode", kPageCustomMode, "zemcontrol", 5, 0},
    // Both pages have no touch action: the entry is shown, nothing is written.
    {"temperature", kPageTemperature, "comboBox_type", 1, 1},
    {"layout", kPageImageLayout, "comboBox_P2P", 3, 3},
};

class ComboList : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        for (int w = 0; w < ZemRamPara::kWindowCount; ++w)
            store().wr16(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags), 1);
        store().wr16(2184, 2);  // the preset "nature"
        std::memcpy(store().shadow, store().ram, sizeof store().ram);
    }
    // Opens the case's page from the main menu, runs body on it, and leaves it by Back.
    void onPage(const ListCase& c, const Step& body) {
        startPanel();
        key(kKeyOk);
        takeApply();
        session({[this, c] {
                     if (c.page == kPageCustomMode)
                         keys({kKeyRight, kKeyRight, kKeyOk});  // shown, no loop of its own
                     else
                         panel::openRegistered(c.page);
                 },
                 [this, c, body] {
                     ASSERT_EQ(g_page_focus, c.page);
                     body();
                     if (QWidget* list = QApplication::activePopupWidget()) list->close();
                     for (int i = 0; i < 3 && g_page_focus == c.page; ++i) key(kKeyBack);
                 }});
        stopPanel();
    }
    QComboBox* combo(const ListCase& c) const { return find<QComboBox>(c.combo); }
    // A touch on the combo box; its list is open afterwards.
    void openList(const ListCase& c) {
        touch(panelPoint(combo(c)));
        settle();
        ASSERT_TRUE(combo(c)->view()->isVisible()) << c.name << ": the list did not open";
    }
    uint8_t ram_[sizeof ZemRamPara::ram] = {};
};

TEST_F(ComboList, ATouchOpensTheListWhichTheScreenshotShowsAtItsPlace) {
    for (const ListCase& c : kLists) {
        SCOPED_TRACE(c.name);
        onPage(c, [&] {
            openList(c);
            QWidget* list = QApplication::activePopupWidget();
            ASSERT_NE(list, nullptr);
            EXPECT_EQ(panel::overPage(), list);
            EXPECT_EQ(list->parentWidget(), combo(c));
            const QImage panelShot = panelImage();
            const QRect at(list->pos() - g_mainwindow->pos(), list->size());
            ASSERT_TRUE(QRect(0, 0, 320, 240).intersects(at));
            const QImage drawn = list->grab().toImage().convertToFormat(QImage::Format_ARGB32);
            const QRect seen = at.intersected(QRect(0, 0, 320, 240));
            EXPECT_EQ(panelShot.copy(seen), drawn.copy(seen.translated(-at.topLeft())));
            shot(QString("%1-list-open").arg(c.name));
            key(kKeyBack);
            EXPECT_EQ(panel::overPage(), nullptr);
        });
    }
}

// Left (F4 to Qt) was the only key a list knew; every other key was swallowed, and Left's
// release reached the page. Now each key closes the list and goes no further.
TEST_F(ComboList, AnyKeyClosesTheListKeepingTheChoiceAndDoesNothingElse) {
    const int kKeys[] = {kKeyLeft, kKeyRight, kKeyOk, kKeyMode, kKeyBack, 'B', 'G', 'Q', 'M'};
    for (const ListCase& c : kLists) {
        for (int k : kKeys) {
            SCOPED_TRACE(testing::Message() << c.name << " key " << std::hex << k);
            onPage(c, [&] {
                const int chosen = combo(c)->currentIndex();
                const uint8_t window = g_image_current;
                const QImage before = panelImage();
                std::memcpy(ram_, store().ram, sizeof ram_);
                openList(c);
                key(k);
                settle();
                EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "the list is open";
                EXPECT_EQ(combo(c)->currentIndex(), chosen);
                EXPECT_EQ(g_page_focus, c.page);
                EXPECT_EQ(g_image_current, window);
                EXPECT_EQ(std::memcmp(ram_, store().ram, sizeof ram_), 0) << "the RAM changed";
                EXPECT_EQ(takeApply(), 0);
                EXPECT_TRUE(panelImage() == before) << "the panel changed";
                if (k == kKeyMode) shot(QString("%1-after-mode").arg(c.name));
            });
        }
    }
}

TEST_F(ComboList, ATouchedEntryIsChosenAsQtDoesUnderThePageRules) {
    // Qt ignores a touch ending on the list within a double-click time of the touch that opened
    // it; a person's second touch comes later than that.
    const int doubleClick = QApplication::doubleClickInterval();
    QApplication::setDoubleClickInterval(0);
    for (const ListCase& c : kLists) {
        SCOPED_TRACE(c.name);
        onPage(c, [&] {
            std::memcpy(ram_, store().ram, sizeof ram_);
            openList(c);
            QAbstractItemView* view = combo(c)->view();
            const QRect entry = view->visualRect(view->model()->index(c.touched, 0))
                                    .intersected(view->viewport()->rect());
            touch(panelPoint(view->viewport(), entry));
            settle();
            EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "the list is open";
            EXPECT_EQ(combo(c)->currentIndex(), c.chosen);
            EXPECT_EQ(g_page_focus, c.page);
            EXPECT_EQ(std::memcmp(ram_, store().ram, sizeof ram_), 0) << "the RAM changed";
            shot(QString("%1-entry-touched").arg(c.name));
        });
    }
    QApplication::setDoubleClickInterval(doubleClick);
}

// Each list opens inside the panel in every language, as Qt keeps it inside the box's own
// screen: no higher than the panel, its current entry in view. The user-mode list's last entry,
// MODE 16, chosen by the keys, is shown and taken by a touch.
TEST_F(ComboList, EachListOpensInsideThePanelInEveryLanguage) {
    const int doubleClick = QApplication::doubleClickInterval();
    QApplication::setDoubleClickInterval(0);
    const char* const kLanguageName[kLanguageCount] = {"zh_CN", "en", "ru", "vi", "zh_TW"};
    for (const ListCase& c : kLists) {
        for (int lang = 0; lang < kLanguageCount; ++lang) {
            SCOPED_TRACE(testing::Message() << c.name << " " << kLanguageName[lang]);
            store().ram[ZemRamPara::kRamLanguage] = uint8_t(lang);
            store().shadow[ZemRamPara::kRamLanguage] = uint8_t(lang);
            g_language = uint8_t(lang);
            onPage(c, [&] {
                const bool modes = c.page == kPageCustomMode;
                if (modes) key(kKeyLeft);  // from MODE 1 round to MODE 16
                openList(c);
                QWidget* list = QApplication::activePopupWidget();
                ASSERT_NE(list, nullptr);
                EXPECT_TRUE(panel::area().contains(list->geometry()))
                    << "the list's window at " << list->x() << "," << list->y() << " "
                    << list->width() << "x" << list->height();
                QAbstractItemView* view = combo(c)->view();
                const QRect current = view->visualRect(view->currentIndex());
                EXPECT_TRUE(current.top() >= 0 && current.bottom() < view->viewport()->height())
                    << "current entry hidden";
                shot(QString("%1-list-%2").arg(c.name, kLanguageName[lang]));
                if (!modes) return;
                EXPECT_EQ(view->currentIndex().row(), 15);
                int activated = -1;
                const auto conn =
                    QObject::connect(combo(c), QOverload<int>::of(&QComboBox::activated),
                                     [&activated](int i) { activated = i; });
                touch(panelPoint(view->viewport(), current.intersected(view->viewport()->rect())));
                settle();
                QObject::disconnect(conn);
                EXPECT_EQ(activated, 15) << "MODE 16 not taken by its touch";
                EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "the list is open";
            });
        }
    }
    g_language = 0;
    QApplication::setDoubleClickInterval(doubleClick);
}

}  // namespace
