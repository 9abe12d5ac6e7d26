// The home screen as a user sees it: the header values, one tile per window (source, signal,
// crop, black, freeze, off, the current mark), touches and keys that leave it, and a receiver
// plugged and unplugged while it is shown.
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <cstring>

#include "core/globals.h"
#include "page_driver.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/main_window.h"
#include "ui_lock_window.h"

namespace {

class HomeScreen : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        for (int w = 0; w < 6; ++w) {
            store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, 0), w < 2 ? 1 : 0);
            store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, ZemRamPara::kWinSource),
                                     w < 2 ? 2 + w : 0);
            store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, ZemRamPara::kWinOutFlags), 0);
        }
        for (int k = 0; k < ZemRamPara::kCropCount; ++k) store().wr16_no_gen_bump(1472 + 10 * k, 0);
        setTiming(2, 1920, 1080, 60);
        setTiming(3, 0, 0, 0);
        store().wr16_no_gen_bump(ZemRamPara::kRamCloseLed, 0);
        store().wr16_no_gen_bump(1378, 3840);
        store().wr16_no_gen_bump(1380, 2160);
        store().wr16_no_gen_bump(2176, 80);
        store().wr16_no_gen_bump(2178, 55);
        // As a refresh leaves them: what it saw is what it acted on.
        std::memcpy(store().seen, store().ram.data(), sizeof store().ram);
        std::memcpy(store().shadow, store().ram.data(), sizeof store().ram);
        startPanel();
    }
    void setTiming(int s, int w, int h, int hz) {
        setTimingWord(256 + 6 * s, uint16_t(w));
        setTimingWord(258 + 6 * s, uint16_t(h));
        setTimingWord(260 + 6 * s, uint16_t(hz));
    }
    // The name and status texts of window w's tile.
    std::pair<QString, QString> tile(int w) const {
        const int x = 55 + 155 * (w % 2), y = 50 * (w / 2);
        QString name, status;
        for (QLabel* l :
             g_lockwindow->tiles->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
            const QRect g = l->geometry();
            if (g.x() != x) continue;
            if (g.y() == 13 + y) name = l->text();
            if (g.y() == 28 + y || g.y() == 20 + y) status = l->text();
        }
        return {name, status};
    }
    int badgeMarks(int w) const {
        for (QLabel* l :
             g_lockwindow->tiles->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
            if (l->text() == QString::number(w + 1)) return l->findChildren<QLabel*>().size();
        return -1;
    }
    // The tiles built again from the RAM as a refresh copies it (what the home screen shows).
    void rebuild() {
        store().refresh_begin();
        g_lockwindow->image_init();
    }
    bool volumeShown() {
        store().refresh_begin();
        return g_lockwindow->volume_check();
    }
    Ui::LockWindow& home() const { return *g_lockwindow->ui; }
};

TEST_F(HomeScreen, TheHeaderAndTheTilesOfShownAndClosedWindows) {
    EXPECT_EQ(home().label_input->text(), "LED size:3840 x 2160");
    EXPECT_EQ(home().label_bright->text(), "80");
    EXPECT_EQ(home().label_contrast->text(), "55");
    EXPECT_EQ(home().label_IPaddr->text(), g_str_ip);
    EXPECT_EQ(tile(0), std::make_pair(QString("HDMI1"), QString("1920x1080@60Hz")));
    EXPECT_EQ(tile(1), std::make_pair(QString("HDMI2"), QString("No signal")));
    EXPECT_EQ(tile(2), std::make_pair(QString(), QString("Close")));
    shot("tiles");
}

// Brightness and contrast outside 0..100, as a PC may write them, show as the signed words the
// RAM holds, when the home screen is drawn and when a refresh brings them.
TEST_F(HomeScreen, BrightnessAndContrastOutside0To100ShowAsStored) {
    for (uint16_t written : {101, 150, 0xFF00}) {
        const QString shown = QString::number(int16_t(written));
        SCOPED_TRACE(shown.toStdString());
        store().wr16_no_gen_bump(2176, written);
        store().wr16_no_gen_bump(2178, written);
        refresh(1);
        EXPECT_EQ(home().label_bright->text(), shown);
        EXPECT_EQ(home().label_contrast->text(), shown);
        shot(QString("outside-%1").arg(written));
        stopPanel();
        startPanel();
        EXPECT_EQ(home().label_bright->text(), shown);
        EXPECT_EQ(home().label_contrast->text(), shown);
        EXPECT_EQ(store().rd16(2176), written);
        EXPECT_EQ(store().rd16(2178), written);
        store().wr16_no_gen_bump(2176, 80);  // changed again, for the next refresh
        store().wr16_no_gen_bump(2178, 55);
        refresh(1);
    }
}

TEST_F(HomeScreen, EachTileCase) {
    struct Case {
        const char* name;
        std::function<void(ZemRamPara&)> set;
        int window;
        const char* title;
        const char* status;
        int marks;  // pictures on the badge: current mark and freeze mark
    };
    auto win = [](int w, int f) { return ZemRamPara::windowAddr(w, f); };
    const Case cases[] = {
        {"window 0 is shown even when off",
         [&](ZemRamPara& s) { s.wr16_no_gen_bump(win(0, 0), 0); }, 0, "HDMI1", "1920x1080@60Hz", 1},
        {"a flag word other than 1 is off",
         [&](ZemRamPara& s) { s.wr16_no_gen_bump(win(1, 0), 3); }, 1, "", "Close", 0},
        {"rate 0 is no signal", [&](ZemRamPara&) { setTimingWord(260 + 12, 0); }, 0, "HDMI1",
         "No signal", 1},
        {"a crop shows its size at the source's rate",
         [&](ZemRamPara& s) {
             // Record 7 is crop number 2 of HDMI1, 800 x 600; records out of number order.
             s.wr16_no_gen_bump(1472 + 70, 0x8000 | 1 << 8 | 2);
             s.wr16_no_gen_bump(1472 + 76, 800);
             s.wr16_no_gen_bump(1472 + 78, 600);
             s.wr16_no_gen_bump(1472, 0x8000 | 0 << 8 | 2);
             s.wr16_no_gen_bump(1472 + 6, 640);
             s.wr16_no_gen_bump(1472 + 8, 480);
             s.wr16_no_gen_bump(win(0, ZemRamPara::kWinSource), 0x8007);
         },
         0, "HDMI1_Crop2", "800x600@60Hz", 1},
        {"a crop index naming no valid crop",
         [&](ZemRamPara& s) { s.wr16_no_gen_bump(win(0, ZemRamPara::kWinSource), 0x8009); }, 0,
         "EXT", "No signal", 1},
        {"a source word from the PC naming no input",
         [&](ZemRamPara& s) { s.wr16_no_gen_bump(win(1, ZemRamPara::kWinSource), 0x0007); }, 1, "",
         "No signal", 0},
        {"a crop index above 39",
         [&](ZemRamPara& s) { s.wr16_no_gen_bump(win(1, ZemRamPara::kWinSource), 0x8063); }, 1, "",
         "No signal", 0},
        {"close LED blacks every shown tile",
         [&](ZemRamPara& s) { s.wr16_no_gen_bump(ZemRamPara::kRamCloseLed, 1); }, 1, "HDMI2",
         "Black", 0},
        {"the black bit",
         [&](ZemRamPara& s) { s.wr16_no_gen_bump(win(0, ZemRamPara::kWinOutFlags), 1); }, 0,
         "HDMI1", "Black", 1},
        {"the freeze bit",
         [&](ZemRamPara& s) { s.wr16_no_gen_bump(win(1, ZemRamPara::kWinOutFlags), 2); }, 1,
         "HDMI2", "No signal", 1},
        {"close LED 2 freezes every shown tile",
         [&](ZemRamPara& s) { s.wr16_no_gen_bump(ZemRamPara::kRamCloseLed, 2); }, 1, "HDMI2",
         "No signal", 1},
    };
    std::vector<uint8_t> clean(store().ram.data(), store().ram.data() + 4096);
    std::vector<uint16_t> cleanTimings;  // kept apart from the RAM
    for (int a = 256; a < 292; a += 2) {
        zem::MutexLocker lock(store().mutex);
        cleanTimings.push_back(store().timing16(a));
    }
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::copy(clean.begin(), clean.end(), store().ram.data());
        for (int a = 256; a < 292; a += 2) setTimingWord(a, cleanTimings[size_t(a - 256) / 2]);
        c.set(store());
        rebuild();
        EXPECT_EQ(tile(c.window), std::make_pair(QString(c.title), QString(c.status)));
        EXPECT_EQ(badgeMarks(c.window), c.marks);
        shot(QString("case%1").arg(n++));
    }
}

// A blacked-out window says so in each language.
TEST_F(HomeScreen, ABlackedOutWindowInEachLanguage) {
    const char* const black[kLanguageCount] = {"黑屏", "Black", "Черный", "Màn đen", "黑屏"};
    const uint8_t was = g_language;
    store().wr16_no_gen_bump(ZemRamPara::kRamCloseLed, 1);
    for (int lang = 0; lang < kLanguageCount; ++lang) {
        SCOPED_TRACE(lang);
        g_language = uint8_t(lang);
        rebuild();
        EXPECT_EQ(tile(1).second, QString::fromUtf8(black[lang]));
        shot(QString("black-%1").arg(lang));
    }
    g_language = was;
}

TEST_F(HomeScreen, TheCurrentMarkFollowsTheWindowAndAnAudioWindowAbove5CountsAs0) {
    g_image_current = 3;
    rebuild();
    EXPECT_EQ(badgeMarks(3), 1) << "also on a window that is off";
    EXPECT_EQ(badgeMarks(0), 0);
    store().wr16_no_gen_bump(2112, 6);
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(0, 20), 0x80FF);
    EXPECT_TRUE(volumeShown());
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(0, 20), 0);
    EXPECT_FALSE(volumeShown());
}

TEST_F(HomeScreen, ATouchOnATileLeadsToTheMainMenuButNotOneOnTheBrightnessRow) {
    auto release = [](QWidget* w) {
        QMouseEvent up(QEvent::MouseButtonRelease, QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                       Qt::NoModifier);
        QCoreApplication::sendEvent(w, &up);
    };
    for (QWidget* w :
         std::initializer_list<QWidget*>{home().label_bright, home().label_volume_icon})
        release(w);
    EXPECT_EQ(g_page_focus, kPageHome);
    QLabel* tileLabel = g_lockwindow->tiles->findChild<QLabel*>();
    release(tileLabel);
    EXPECT_EQ(g_page_focus, kPageMain);
    EXPECT_EQ(g_lockwindow, nullptr);
    settle();
    EXPECT_TRUE(g_mainwindow->isVisible());
}

TEST_F(HomeScreen, LeftRightAndBackStayModeLeavesUnlessTheKeyLockIsOn) {
    keys({kKeyLeft, kKeyRight, kKeyBack, 'S', 'R', 'O'});
    EXPECT_EQ(g_page_focus, kPageHome);
    store().wr16_no_gen_bump(772, 1);
    key(kKeyMode);
    EXPECT_NE(g_lockwindow, nullptr);
    EXPECT_EQ(g_mode_shortcut_key, 0);
    store().wr16_no_gen_bump(772, 0);
    key('M');
    EXPECT_EQ(g_lockwindow, nullptr);
    EXPECT_EQ(g_mode_shortcut_key, 1);
}

TEST_F(HomeScreen, AReceiverPluggedAndUnpluggedRedrawsTheTile) {
    setTiming(3, 1280, 720, 50);  // the source thread measured HDMI2
    refresh(12);
    EXPECT_EQ(tile(1).second, "1280x720@50Hz");
    shot("plugged");
    setTiming(3, 0, 0, 0);
    refresh(12);
    EXPECT_EQ(tile(1).second, "No signal");
}

// A refresh rebuilds only the tile whose look changed: the other tiles keep their labels.
TEST_F(HomeScreen, ARefreshRebuildsOnlyTheTileThatChanged) {
    std::vector<std::pair<int, QPointer<QLabel>>> labels;  // window, label
    for (QLabel* l :
         g_lockwindow->tiles->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        const QRect g = l->geometry();
        labels.emplace_back(2 * ((g.y() - 10) / 50) + (g.x() >= 155 ? 1 : 0), l);
    }
    ASSERT_EQ(labels.size(), 18u);
    setTiming(3, 1280, 720, 50);  // HDMI2, window 1's source
    refresh(12);
    EXPECT_EQ(tile(1).second, "1280x720@50Hz");
    for (const auto& [w, label] : labels) EXPECT_EQ(label.isNull(), w == 1) << w;
    EXPECT_EQ(
        g_lockwindow->tiles->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly).size(),
        18);
}

TEST_F(HomeScreen, EachLanguage) {
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(2, 0), 1);
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(1, ZemRamPara::kWinOutFlags), 1);
    const char* const led[] = {"LED屏:3840 x 2160", "LED size:3840 x 2160",
                               "Размер LED:3840 x 2160", "Led:3840 x 2160", "LED屏:3840 x 2160"};
    for (uint8_t lang = 0; lang < 5; ++lang) {
        store().ram[768] = lang;
        store().shadow[768] = 0xEE;
        refresh(1);
        EXPECT_EQ(home().label_input->text(), QString::fromUtf8(led[lang]));
        shot(QString("lang%1").arg(lang));
    }
}

}  // namespace

// A size above 32767 that the RAM holds reads as the number it is, in every language, and fits.
TEST_F(HomeScreen, AnLedSizeAboveTheSignedRangeShowsAsItsNumber) {
    store().wr16_no_gen_bump(1378, 40000);
    store().wr16_no_gen_bump(1380, 65535);
    for (uint8_t lang = 0; lang < 5; ++lang) {
        store().ram[768] = lang;
        store().shadow[768] = 0xEE;
        refresh(1);
        EXPECT_TRUE(home().label_input->text().endsWith("40000 x 65535"))
            << home().label_input->text().toStdString();
        EXPECT_EQ(textsNotFitting(g_lockwindow), std::vector<std::string>{});
        shot(QString("large-lang%1").arg(lang));
    }
}
