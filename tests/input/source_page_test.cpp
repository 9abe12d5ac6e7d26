// The source switch page as a user works it: tabs for one and six windows, the source row with
// its counts and aliases, the choice list paging both ways, applying a source or a crop (the
// window word under the C331 mutex, the apply flag, the tip), the refresh after it, crops
// deleted or out of order, window words from the PC, id 103, and a receiver plugged.
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <cstring>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "input_numbers.h"
#include "page_driver.h"
#include "ui/input/input_choose.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/main_window.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/tip.h"
#include "ui_input_choose.h"

namespace {

// A label's rich text as the user reads it.
QString plain(const QLabel* l) {
    return QString(l->text()).remove(QRegularExpression("<[^>]*>"));
}
QImage fileIcon(const char* file) {
    return QImage(file).convertToFormat(QImage::Format_ARGB32);
}

class SourcePage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        for (int w = 0; w < 6; ++w) {
            store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, 0), w == 0 ? 1 : 0);
            store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, ZemRamPara::kWinSource), kHdmi1);
        }
        for (int k = 0; k < 40; ++k) store().wr16_no_gen_bump(1472 + 10 * k, 0);
        setTiming(kHdmi1, 1920, 1080, 60);
        takeApply();
    }
    void setTiming(int s, int w, int h, int hz) {
        setTimingWord(256 + 6 * s, uint16_t(w));
        setTimingWord(258 + 6 * s, uint16_t(h));
        setTimingWord(260 + 6 * s, uint16_t(hz));
    }
    // Record k: crop number n of source s, w x h.
    void setCrop(int k, int s, int n, int w, int h) {
        const int a = 1472 + 10 * k;
        store().wr16_no_gen_bump(a, uint16_t(0x8000 | (n - 1) << 8 | s));
        store().wr16_no_gen_bump(a + 2, 0);
        store().wr16_no_gen_bump(a + 4, 0);
        store().wr16_no_gen_bump(a + 6, uint16_t(w));
        store().wr16_no_gen_bump(a + 8, uint16_t(h));
    }
    void saveShadow() { std::memcpy(store().shadow, store().ram.data(), sizeof store().ram); }
    // Starts the panel, goes to the main menu and runs the steps on the source page, which
    // the last step must close (Back).
    void onPage(const std::vector<Item>& steps) {
        saveShadow();
        startPanel();
        key(kKeyOk);
        std::vector<Item> all = {[this] { keys({kKeyRight, kKeyOk}); }};
        all.insert(all.end(), steps.begin(), steps.end());
        all.push_back([this] {
            backUntilGone([] { return g_inputchoose && g_inputchoose->ui_seltype > 0; },
                          "the source page's lists");
            if (g_inputchoose) key(kKeyBack);
        });
        session(all);
        EXPECT_EQ(g_inputchoose, nullptr);
        EXPECT_EQ(g_page_focus, kPageMain);
    }
    InputChoose& page() const { return *opened(g_inputchoose); }
    // Texts of the name and size labels of the crop area's cells, and which has the badge.
    struct Cell {
        QString name, size;
        bool badge;
    };
    std::vector<Cell> cells() const {
        std::vector<Cell> out;
        for (QFrame* f : page().frame->findChildren<QFrame*>("source_frame")) {
            Cell c{{}, {}, false};
            for (QLabel* l : f->findChildren<QLabel*>()) {
                if (l->geometry().topLeft() == QPoint(3, 15)) c.name = l->text();
                if (l->geometry().topLeft() == QPoint(3, 30)) c.size = l->text();
                if (l->geometry().topLeft() == QPoint(60, 0)) c.badge = true;
            }
            out.push_back(c);
        }
        return out;
    }
    QString tabText(int w) const {
        return page().tab_sources[w] ? page().tab_sources[w]->text() : "<none>";
    }
    // Applies from the tab of window w: OK to the sources, Right to list position p, OK to the
    // list, Right to entry e, OK. The tip then shows; it is ticked away.
    std::vector<Item> apply(int p, int e) {
        return {[this, p, e] {
                    key(kKeyOk);
                    keyUntil(
                        kKeyRight, [this, p] { return page().source_pos == p; },
                        "at list position " + std::to_string(p));
                    key(kKeyOk);
                    keyUntil(
                        kKeyRight,
                        [this, e] { return page().ui_select + 3 * page().current_page == e; },
                        "at entry " + std::to_string(e));
                    key(kKeyOk);  // the tip's loop runs the next steps
                },
                [this] {
                    EXPECT_TRUE(g_tip->isVisible());
                    shot("applied");
                    tick(TIP::kShowTicks);
                }};
    }
};

TEST_F(SourcePage, OneWindowRingsThroughItsTabAndTheTwoButtons) {
    onPage({[this] {
                EXPECT_EQ(page().tab_count, 1);
                EXPECT_EQ(tabText(0), "HDMI1");
                EXPECT_EQ(cells()[0].size, "1920x1080@60Hz");
                EXPECT_TRUE(cells()[0].badge);
                shot("start");
                key(kKeyRight);
                EXPECT_EQ(page().ui_select, 6);
                EXPECT_EQ(panel_style::stateOf(page().ui->button_inputcut), panel_style::kFocus);
                key(kKeyRight);
                EXPECT_EQ(page().ui_select, 7);
                key(kKeyRight);
                EXPECT_EQ(page().ui_select, 0);
                key(kKeyLeft);
                EXPECT_EQ(page().ui_select, 7);
                key(kKeyOk);  // the EDID page's loop
            },
            [this] {
                EXPECT_EQ(g_page_focus, kPageEdidSet);
                key(kKeyBack);
            },
            [this] {
                EXPECT_EQ(g_page_focus, kPageInputChoose);
                EXPECT_EQ(page().ui_select, 7) << "Back from the EDID page keeps the button";
                key(kKeyRight);
            }});
}

TEST_F(SourcePage, SixWindowsSelectWhileMovingAndWindowWordsFromThePcShowNoName) {
    for (int w = 0; w < 6; ++w) store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, 0), 1);
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(2, 0), 0x0103);  // low byte 3: no tab
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(3, ZemRamPara::kWinSource), 0x0007);
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(4, ZemRamPara::kWinSource), 0x8063);
    onPage({[this] {
        EXPECT_EQ(page().tab_count, 5);
        EXPECT_EQ(tabText(2), "<none>");
        EXPECT_EQ(tabText(3), "");
        EXPECT_EQ(tabText(4), "");
        shot("tabs");
        keys({kKeyRight, kKeyRight});
        EXPECT_EQ(g_image_current, 3) << "moving over the tabs selects their window";
        EXPECT_EQ(cells().size(), 1u);
        EXPECT_EQ(cells()[0].name, "") << "no input named 7";
        key(kKeyRight);
        EXPECT_EQ(g_image_current, 4);
        keys({kKeyRight, kKeyRight});
        EXPECT_EQ(page().ui_select, 6) << "from the last tab to Input intercept";
        keys({kKeyLeft, kKeyLeft, kKeyLeft, kKeyLeft, kKeyLeft});
    }});
}

TEST_F(SourcePage, SourcesWithNoCropAndWithFourCropsPageBothWays) {
    for (int n = 1; n <= 4; ++n) setCrop(10 + n, kHdmi2, n, 100 * n, 50 * n);
    onPage({[this] {
        EXPECT_NE(plain(page().ui->sourcelistseq1name).indexOf("HDMI2(5)"), -1);
        EXPECT_NE(plain(page().ui->sourcelistseq0name).indexOf("HDMI1(1)"), -1);
        key(kKeyOk);  // level 1 on HDMI1, no crops
        key(kKeyOk);  // level 2
        keys({kKeyRight, kKeyLeft});
        EXPECT_EQ(page().ui_select, 0) << "a one-entry list stays";
        key(kKeyBack);
        key(kKeyRight);  // HDMI2
        EXPECT_EQ(page().source_number, kHdmi2);
        EXPECT_FALSE(cells()[0].badge) << "window 0 does not use HDMI2";
        key(kKeyOk);
        key(kKeyLeft);  // from the first entry to the fifth
        EXPECT_EQ(page().current_page, 1);
        EXPECT_EQ(page().ui_select, 1);
        EXPECT_EQ(cells()[1].name, "HDMI2_crop4");
        EXPECT_EQ(cells()[1].size, "400x200");
        shot("page1");
        key(kKeyRight);
        EXPECT_EQ(page().current_page, 0);
        EXPECT_EQ(page().ui_select, 0);
        keys({kKeyRight, kKeyRight, kKeyRight});
        EXPECT_EQ(page().current_page, 1);
        EXPECT_EQ(cells()[0].name, "HDMI2_crop3");
    }});
}

TEST_F(SourcePage, AliasesNameTheSourcesAndCropsElidedAndAbsentOnesGiveThePlainNames) {
    setCrop(4, kHdmi2, 3, 640, 360);
    writeFile("/data/configs/alias.json", R"({"version": 2, "namelist": {
        "source": [{"id": 3, "valid": "on", "name": "Camera on the left wing of the stage"}],
        "crop": [{"id": 4, "valid": "on", "name": "Presenter close-up with a long name"}],
        "usermode": [], "win": []}})");
    onPage({[this] {
        const QString row = page().ui->sourcelistseq1name->text();
        EXPECT_NE(row.indexOf("…"), -1) << row.toStdString();
        EXPECT_EQ(row.indexOf("HDMI2"), -1);
        EXPECT_NE(page().ui->sourcelistseq0name->text().indexOf("HDMI1"), -1);
        keys({kKeyOk, kKeyRight, kKeyOk, kKeyRight});
        EXPECT_TRUE(cells()[1].name.startsWith("Presenter")) << cells()[1].name.toStdString();
        EXPECT_TRUE(cells()[1].name.endsWith("…"));
        EXPECT_EQ(cells()[0].name, "HDMI2") << "the whole source takes no alias";
        shot("aliases");
    }});
}

TEST_F(SourcePage, ApplyingACropWritesTheWindowWordRaisesTheFlagAndShowsTheTip) {
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(1, 0), 1);
    setCrop(5, kHdmi3, 1, 800, 600);
    setCrop(2, kHdmi3, 2, 400, 300);
    std::vector<Item> steps = {[this] { key(kKeyRight); }};  // window 1
    for (Item& i : apply(2, 2)) steps.push_back(i);
    steps.push_back([this] {
        EXPECT_EQ(store().rd16(ZemRamPara::windowAddr(1, ZemRamPara::kWinSource)), 0x8002);
        EXPECT_EQ(takeApply(), 1);
        EXPECT_TRUE(cells()[2].badge);
        // The C331 thread's refresh: the page keeps window 1 and its tab.
        SyncUpdate::pInstance()->para_sync(1);
        EXPECT_EQ(page().current_window, 1);
        EXPECT_EQ(tabText(1), "HDMI3_Crop2");
        key(kKeyLeft);  // a second choice: the whole source, on window 1 again
        key(kKeyLeft);
        key(kKeyOk);
    });
    steps.push_back([this] { tick(TIP::kShowTicks); });
    steps.push_back([this] {
        EXPECT_EQ(store().rd16(ZemRamPara::windowAddr(1, ZemRamPara::kWinSource)), kHdmi3);
        EXPECT_EQ(store().rd16(ZemRamPara::windowAddr(0, ZemRamPara::kWinSource)), kHdmi1)
            << "window 0 untouched";
    });
    onPage(steps);
}

// The check mark is modal: Back pressed under it is blocked. A page closed (and freed) while
// its OK waits in the tip's loop is left alone once the tip has gone.
TEST_F(SourcePage, TheCheckMarkBlocksBackAndAPageClosedUnderItIsLeftAlone) {
    std::vector<Item> steps = {apply(0, 0).front()};
    steps.push_back([this] {
        ASSERT_TRUE(g_tip->isVisible());
        keys({kKeyBack, kKeyBack, kKeyBack});
        EXPECT_EQ(g_page_focus, kPageInputChoose);
        EXPECT_EQ(page().ui_seltype, 2) << "still in the list";
        const QPointer<QWidget> was(g_inputchoose);
        panel::back(&page());
        settle();
        EXPECT_TRUE(was.isNull()) << "freed while its OK is in the tip's loop";
        tick(TIP::kShowTicks);
    });
    onPage(steps);
}

TEST_F(SourcePage, OkOnACropDeletedMeanwhileOrPastAShortenedListIsRefused) {
    setCrop(0, kHdmi2, 1, 800, 600);
    setCrop(1, kHdmi2, 2, 400, 300);
    onPage({[this] {
        keys({kKeyOk, kKeyRight, kKeyOk, kKeyRight, kKeyRight});  // HDMI2, entry 2
        // The PC deletes both crops; no refresh has come yet.
        store().wr16_no_gen_bump(1472, 0);
        store().wr16_no_gen_bump(1482, 0);
        key(kKeyOk);
        EXPECT_EQ(takeApply(), 0) << "nothing written, no tip";
        EXPECT_FALSE(g_tip->isVisible());
        EXPECT_EQ(store().rd16(ZemRamPara::windowAddr(0, ZemRamPara::kWinSource)), kHdmi1);
        SyncUpdate::pInstance()->para_sync(1);  // the refresh shortens the list
        EXPECT_EQ(cells().size(), 1u) << "only the whole source is left";
        EXPECT_EQ(page().ui_select, 2) << "the focus is past the end of the list";
        key(kKeyOk);
        EXPECT_EQ(takeApply(), 0);
        key(kKeyRight);
        EXPECT_EQ(page().ui_select, 0);
        EXPECT_EQ(cells().size(), 1u);
    }});
}

TEST_F(SourcePage, TheCropInUseIsFoundByItsRecordInAnOutOfOrderTable) {
    // Record 0 holds crop 3, record 1 crop 1, record 2 crop 2 of HDMI1; window 0 uses record 0.
    setCrop(0, kHdmi1, 3, 300, 300);
    setCrop(1, kHdmi1, 1, 100, 100);
    setCrop(2, kHdmi1, 2, 200, 200);
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(0, ZemRamPara::kWinSource), 0x8000);
    onPage({[this] {
        EXPECT_EQ(tabText(0), "HDMI1_Crop3");
        key(kKeyRight);
        key(kKeyLeft);
        ASSERT_EQ(cells().size(), 3u);
        EXPECT_FALSE(cells()[1].badge);
        EXPECT_FALSE(cells()[2].badge);
        keys({kKeyOk, kKeyOk});
        EXPECT_EQ(page().ui_select, 0) << "crop 3 is on page 1: the focus starts on entry 0";
        key(kKeyLeft);
        ASSERT_EQ(cells().size(), 1u);
        EXPECT_EQ(cells()[0].name, "HDMI1_crop3");
        EXPECT_TRUE(cells()[0].badge);
        shot("in-use");
    }});
}

TEST_F(SourcePage, BackFromTheSourcesRereadsTheWindowsSource) {
    onPage({[this] {
        keys({kKeyOk, kKeyRight, kKeyRight});  // HDMI3 highlighted at level 1
        key(kKeyBack);
        EXPECT_EQ(page().source_pos, 0);
        EXPECT_EQ(cells()[0].name, "HDMI1");
        EXPECT_EQ(page().ui->frame1->geometry().x(), 1);
    }});
}

TEST_F(SourcePage, Id103AndAReceiverPluggedRedrawTheRowAndTheList) {
    onPage({[this] {
        EXPECT_EQ(icon(page().ui->sourcelistseq1pixmap), fileIcon(":/png/HDMI13_1.png"));
        setTiming(kHdmi2, 1280, 720, 50);
        SyncUpdate::pInstance()->para_sync(12);
        EXPECT_EQ(icon(page().ui->sourcelistseq1pixmap), fileIcon(":/png/HDMI13_lv.png"));
        setTiming(kHdmi1, 0, 0, 0);
        SyncUpdate::pInstance()->para_sync(12);
        EXPECT_EQ(cells()[0].size, "No signal");
        // A crop the PC added, with no change the shadow sees: id 103 reloads.
        setCrop(3, kHdmi1, 1, 10, 10);
        store().shadow[1472 + 30] = store().ram[1472 + 30];
        store().shadow[1472 + 31] = store().ram[1472 + 31];
        SyncUpdate::pInstance()->para_sync(103);
        EXPECT_NE(plain(page().ui->sourcelistseq0name).indexOf("HDMI1(2)"), -1);
        shot("after");
    }});
}

TEST_F(SourcePage, ModeClosesThePageUnlessTheKeyLockIsOn) {
    saveShadow();
    startPanel();
    key(kKeyOk);
    session({[this] {
                 keys({kKeyRight, kKeyOk});
             },
             [this] {
                 store().wr16_no_gen_bump(772, 1);
                 key(kKeyMode);
                 EXPECT_NE(g_inputchoose, nullptr);
                 store().wr16_no_gen_bump(772, 0);
                 key('M');
             }});
    EXPECT_EQ(g_inputchoose, nullptr);
    EXPECT_EQ(g_mode_shortcut_key, 1);
}

TEST_F(SourcePage, EachLanguage) {
    const char* const titles[] = {"信源切换", "Source switch", "Переключение источника",
                                  "Chuyển đổi nguồn", "信源切換"};
    for (uint8_t lang = 0; lang < 5; ++lang) {
        g_language = lang;
        store().ram[768] = lang;
        onPage({[this, &titles, lang] {
            EXPECT_EQ(page().ui->label_title->text(), QString::fromUtf8(titles[lang]));
            keys({kKeyOk, kKeyOk});
            shot(QString("lang%1").arg(lang));
        }});
        stopPanel();
    }
}

// The issue's whole road: HDMI1 at 1920x1080@60 on the home screen; OK to the main menu; the
// source page puts HDMI2 on window 0, and the home tile follows.
TEST_F(SourcePage, FromTheHomeScreenToHdmi2OnWindow0AndBack) {
    setTiming(kHdmi2, 1280, 720, 60);
    saveShadow();
    startPanel();
    auto tile0 = [] {
        QStringList texts;
        for (QLabel* l :
             g_lockwindow->tiles->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
            if (l->geometry().x() == 55 && l->geometry().y() < 50) texts << l->text();
        return texts.join(' ');
    };
    EXPECT_EQ(tile0(), "HDMI1 1920x1080@60Hz");
    shot("home");
    key(kKeyOk);
    std::vector<Item> steps = {[this] { keys({kKeyRight, kKeyOk}); }};
    for (Item& i : apply(1, 0)) steps.push_back(i);
    steps.push_back([this] {
        EXPECT_EQ(store().rd16(2280), kHdmi2);
        EXPECT_EQ(takeApply(), 1);
        SyncUpdate::pInstance()->para_sync(1);  // the C331 thread's refresh
        keys({kKeyBack, kKeyBack, kKeyBack});
    });
    session(steps);
    EXPECT_EQ(g_page_focus, kPageMain);
    key(kKeyBack);  // a new home screen
    EXPECT_EQ(tile0(), "HDMI2 1280x720@60Hz");
    shot("home-after");
}

}  // namespace

namespace {

TEST_F(SourcePage, ApplyingACropOnTheSecondListPageKeepsThatPageAndCell) {
    for (int n = 1; n <= 4; ++n) setCrop(10 + n, kHdmi1, n, 100 * n, 50 * n);
    std::vector<Item> steps = apply(0, 4);  // HDMI1, crop 4: list page 2, second cell
    steps.push_back([this] {
        EXPECT_EQ(store().rd16(ZemRamPara::windowAddr(0, ZemRamPara::kWinSource)), 0x800E);
        takeApply();
        // The C331 thread's refresh after the apply rebuilds the page.
        SyncUpdate::pInstance()->para_sync(1);
        EXPECT_EQ(page().current_page, 1);
        EXPECT_EQ(page().ui_select, 1);
        ASSERT_EQ(cells().size(), 2u);
        EXPECT_EQ(cells()[1].name, "HDMI1_crop4");
        EXPECT_TRUE(cells()[1].badge);
        shot("kept");
        store().wr16_no_gen_bump(ZemRamPara::windowAddr(0, ZemRamPara::kWinSource), kHdmi1);
        key(kKeyOk);  // a second OK applies the same crop again
    });
    steps.push_back([this] { tick(TIP::kShowTicks); });
    steps.push_back([this] {
        EXPECT_EQ(store().rd16(ZemRamPara::windowAddr(0, ZemRamPara::kWinSource)), 0x800E);
    });
    onPage(steps);
}

TEST_F(SourcePage, RecordsTheCropBitmapCannotNameAreNeitherCountedNorListed) {
    setCrop(0, kHdmi1, 1, 640, 360);
    setCrop(1, kHdmi1, 41, 320, 240);  // a crop number past 40
    setCrop(2, kHdmi1, 1, 800, 600);   // crop 1 again, from the PC
    onPage({[this] {
        const QString row = plain(page().ui->sourcelistseq0name);
        EXPECT_NE(row.indexOf("HDMI1(2)"), -1) << row.toStdString();
        keys({kKeyOk, kKeyOk});
        ASSERT_EQ(cells().size(), 2u);
        EXPECT_EQ(cells()[1].name, "HDMI1_crop1");
        EXPECT_EQ(cells()[1].size, "640x360");
        keys({kKeyRight, kKeyRight});
        EXPECT_EQ(page().ui_select, 0) << "the list has two entries and wraps";
        shot("two-entries");
    }});
}

// The key trace names the focus the page itself keeps (its level's index).
TEST_F(SourcePage, KeyTracesPrintThePagesOwnFocusIndex) {
    static QStringList traces;
    traces.clear();
    const QtMessageHandler old = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& m) { traces << m; });
    onPage({[this] {
        keys({kKeyRight, kKeyRight});  // from the tab to the crop editor (6), then EDID (7)
        EXPECT_EQ(page().ui_select, 7);
    }});
    qInstallMessageHandler(old);
    EXPECT_TRUE(traces.contains("this is right-code [InputChoose][Release] ui_select=0x6"))
        << traces.join("\n").toStdString();
}

}  // namespace
