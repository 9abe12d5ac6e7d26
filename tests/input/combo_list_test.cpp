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
#include "platform/clock.h"
#include "platform/sim/sim_box.h"
#include "platform/sim/sim_c331.h"
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
    // No page takes a touched entry: the box shows again what is in force (the user-mode
    // page's mode the keys chose, the preset "natural", point-to-point off).
    {"user-mode", kPageCustomMode, "zemcontrol", 5, 0},
    {"temperature", kPageTemperature, "comboBox_type", 1, 2},
    {"layout", kPageImageLayout, "comboBox_P2P", 3, 0},
};

class ComboList : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        for (int w = 0; w < ZemRamPara::kWindowCount; ++w)
            store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags), 1);
        store().wr16_no_gen_bump(2184, 2);  // the preset "natural"
        std::memcpy(store().shadow, store().ram.data(), sizeof store().ram);
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
    QComboBox* combo(const ListCase& c) const { return widget<QComboBox>(c.combo); }
    // A touch on entry n of the open list of the case's combo box.
    void touchEntry(const ListCase& c, int n) {
        QAbstractItemView* view = combo(c)->view();
        const QRect entry =
            view->visualRect(view->model()->index(n, 0)).intersected(view->viewport()->rect());
        touch(panelPoint(view->viewport(), entry));
        settle();
    }
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
                std::memcpy(ram_, store().ram.data(), sizeof ram_);
                openList(c);
                key(k);
                settle();
                EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "the list is open";
                EXPECT_EQ(combo(c)->currentIndex(), chosen);
                EXPECT_EQ(g_page_focus, c.page);
                EXPECT_EQ(g_image_current, window);
                EXPECT_EQ(std::memcmp(ram_, store().ram.data(), sizeof ram_), 0)
                    << "the RAM changed";
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
            std::memcpy(ram_, store().ram.data(), sizeof ram_);
            openList(c);
            touchEntry(c, c.touched);
            EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "the list is open";
            EXPECT_EQ(combo(c)->currentIndex(), c.chosen);
            EXPECT_EQ(g_page_focus, c.page);
            EXPECT_EQ(std::memcmp(ram_, store().ram.data(), sizeof ram_), 0) << "the RAM changed";
            shot(QString("%1-entry-touched").arg(c.name));
        });
    }
    QApplication::setDoubleClickInterval(doubleClick);
}

// The two pages that take no touch, with the C331 thread applying as on the box: a touched
// entry leaves the entry in force shown, and the RAM and the chip's registers as they were.
class ComboListOnTheChip : public ComboList {
protected:
    void SetUp() override {
        ComboList::SetUp();
        platform::installClock(nullptr);  // the thread waits in real time
        platform::sim::buildDefaultBox();
        c331_manage* chip = c331_manage::pInstance();
        ASSERT_TRUE(eventually([chip] { return chip->thread_state.load() == kRunning; }, 5000));
        conn_ = QObject::connect(
            &store(), &ZemRamPara::sig_update_para, &store(),
            [this](int id) {
                if (id == kMark) ++marks_;
            },
            Qt::DirectConnection);
    }
    void TearDown() override {
        QObject::disconnect(conn_);
        c331_manage::shutdown();
        ComboList::TearDown();
    }
    // Every change raised so far has reached the chip: a turn raised now has ended.
    void chipCaughtUp() {
        const int before = marks_;
        {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            c331_manage::raise_apply(kMark);
        }
        ASSERT_TRUE(eventually([&] { return marks_ > before; }, 5000)) << "no turn of the chip";
    }
    // The chip has done what the start and the page's opening asked (windows fade in over a
    // turn each): a turn changes no register.
    void chipSettled() {
        std::vector<uint8_t> last = chipRegisters();
        for (int turn = 0; turn < 300; ++turn) {
            chipCaughtUp();
            std::vector<uint8_t> now = chipRegisters();
            if (now == last) return;
            last = std::move(now);
        }
        FAIL() << "the chip's registers change on every turn";
    }
    static std::vector<uint8_t> chipRegisters() {
        std::vector<uint8_t> regs;
        for (int bank = 0; bank < 256; ++bank)
            for (int a = 0; a < 128; ++a)
                regs.push_back(platform::sim::simC331()->reg(uint8_t(bank), uint8_t(a)));
        return regs;
    }
    // The colour matrix's red gain on the first channel (bank 0x0C, 0x5B).
    static uint32_t redGain() { return platform::sim::simC331()->field(0x0C5B02); }

    static constexpr int kMark = 200;   // a refresh id no page reads
    static constexpr int kRunning = 8;  // the thread's state once set up
    std::atomic<int> marks_{0};
    QMetaObject::Connection conn_;
};

TEST_F(ComboListOnTheChip, ATouchedEntryLeavesTheEntryInForceTheRamAndTheChip) {
    const int doubleClick = QApplication::doubleClickInterval();
    QApplication::setDoubleClickInterval(0);
    const uint32_t kRedGainOfPreset[4] = {64 * 64, 8845, 8192, 6944};  // custom at gain 64
    for (const ListCase& c : {kLists[1], kLists[2]}) {
        SCOPED_TRACE(c.name);
        onPage(c, [&] {
            chipSettled();
            std::memcpy(ram_, store().ram.data(), sizeof ram_);
            const std::vector<uint8_t> chip = chipRegisters();
            const int shown = combo(c)->currentIndex();
            if (c.page == kPageTemperature) {
                EXPECT_EQ(redGain(), kRedGainOfPreset[shown]);
            }
            for (int n = 0; n < combo(c)->count(); ++n) {
                SCOPED_TRACE(n);
                openList(c);
                touchEntry(c, n);
                chipCaughtUp();
                EXPECT_EQ(combo(c)->currentIndex(), shown);
                EXPECT_EQ(std::memcmp(ram_, store().ram.data(), sizeof ram_), 0)
                    << "the RAM changed";
                EXPECT_TRUE(chipRegisters() == chip) << "the chip changed";
            }
            shot(QString("%1-after-touches").arg(c.name));
            if (c.page != kPageTemperature) return;
            // While OK has the preset edited, the keys choose: a touch on another entry
            // leaves the keys' preset shown and nothing written.
            key(kKeyOk);
            key(kKeyRight);  // "cool" shown, not yet written
            openList(c);
            touchEntry(c, 1);
            chipCaughtUp();
            EXPECT_EQ(combo(c)->currentIndex(), 3);
            EXPECT_EQ(std::memcmp(ram_, store().ram.data(), sizeof ram_), 0) << "the RAM changed";
            EXPECT_TRUE(chipRegisters() == chip) << "the chip changed";
            key(kKeyBack);  // the edit ends on the preset in force
            chipCaughtUp();
            EXPECT_EQ(combo(c)->currentIndex(), shown);
            EXPECT_EQ(redGain(), kRedGainOfPreset[shown]);
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

// A PC's language change while a list is open closes it before the page re-texts (no row of
// the list changes while it shows); the box keeps the entry in force, in the new words.
TEST_F(ComboList, ANewLanguageClosesTheOpenListBeforeThePageRetexts) {
    const struct {
        const ListCase& list;
        const char* shown;  // the entry in force in Vietnamese
    } cases[] = {{kLists[1], "Tự nhiên"}, {kLists[2], "Đóng"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list.name);
        store().ram[ZemRamPara::kRamLanguage] = 0;
        store().shadow[ZemRamPara::kRamLanguage] = 0;
        g_language = 0;
        onPage(c.list, [&] {
            QComboBox* box = combo(c.list);
            const int in_force = box->currentIndex();
            openList(c.list);
            int rows_changed_open = 0;
            const auto count = [box, &rows_changed_open] {
                if (box->view()->isVisible()) ++rows_changed_open;
            };
            QAbstractItemModel* rows = box->model();
            const QMetaObject::Connection conns[] = {
                QObject::connect(rows, &QAbstractItemModel::dataChanged, count),
                QObject::connect(rows, &QAbstractItemModel::rowsRemoved, count),
                QObject::connect(rows, &QAbstractItemModel::rowsInserted, count)};
            pcLanguage(3);
            settle();
            for (const auto& conn : conns) QObject::disconnect(conn);
            ASSERT_EQ(g_language, 3);
            EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "the list is open";
            EXPECT_EQ(rows_changed_open, 0) << "rows re-texted while the list showed";
            EXPECT_EQ(box->currentIndex(), in_force);
            EXPECT_EQ(box->currentText(), QString::fromUtf8(c.shown));
            shot(QString("%1-new-language").arg(c.list.name));
        });
    }
    g_language = 0;
}
