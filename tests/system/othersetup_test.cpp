// The other settings page as a user works it: the window list for one, three and no windows,
// the audio word of the window shown (also after the PC changed the windows), the same choice
// committed, fade and seamless, WiFi off and on, point-to-point, the projection row, Back while
// editing, a language change while editing, and fade and point-to-point on the simulated C331.
#include "ui/system/othersetup.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <cstring>

#include "c331/c331_manage.h"
#include "comm/wifi_config.h"
#include "core/globals.h"
#include "page_driver.h"
#include "platform/clock.h"
#include "platform/sim/sim_box.h"
#include "ui_othersetup.h"

namespace {

constexpr int kRamAudio = 2112;

int takeApply() {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    int n = 0;
    while (c331_manage::take_apply() != 0) ++n;
    return n;
}
int audioAddr(int w) {
    return ZemRamPara::windowAddr(w, 20);
}
int outFlags(int w) {
    return ZemRamPara::windowAddr(w, ZemRamPara::kWinOutFlags);
}

class OtherPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        enableWindows(0x01);
        takeApply();
    }
    void enableWindows(int mask) {
        for (int w = 0; w < 6; ++w)
            store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, 0), mask >> w & 1 ? 1 : 0);
    }
    void onPage(std::vector<Item> steps) {
        std::memcpy(store().shadow, store().ram.data(), sizeof store().ram);
        startPanel();
        steps.insert(steps.begin(), [] { panel::openRegistered(kPageOtherSetup); });
        steps.push_back([this] {
            if (g_othersetup && g_othersetup->edit_flag) key(kKeyBack);
            if (g_othersetup) key(kKeyBack);
        });
        session(steps);
        EXPECT_EQ(g_othersetup, nullptr);
        EXPECT_EQ(g_page_focus, kPageAdvancedOption);
    }
    static QComboBox* combo(int item) {
        QComboBox* const all[] = {g_othersetup->ui->ImageVolume,  g_othersetup->ui->volume_state,
                                  g_othersetup->ui->switch_state, g_othersetup->ui->mode_state,
                                  g_othersetup->ui->wifi_state,   g_othersetup->ui->dbd_state};
        return all[item];
    }
    static QStringList entries(int item) {
        QStringList out;
        for (int i = 0; i < combo(item)->count(); ++i) out << combo(item)->itemText(i);
        return out;
    }
    // The combo drawn with the focus or the edit border.
    static int focused() {
        for (int i = 0; i < othersetup::kItems; ++i) {
            const panel_style::State state = panel_style::stateOf(combo(i));
            if (state == panel_style::kFocus || state == panel_style::kEdit) return i;
        }
        return -1;
    }
    void focusOn(int item) {
        for (int n = 0; n < othersetup::kItems && focused() != item; ++n) key(kKeyRight);
        ASSERT_EQ(focused(), item);
    }
    // Edits the item to the choice and commits it.
    void commit(int item, int choice) {
        focusOn(item);
        key(kKeyOk);
        keyUntil(
            kKeyRight, [choice] { return g_othersetup->edit_index == choice; },
            "at choice " + std::to_string(choice));
        key(kKeyOk);
    }
};

struct ListCase {
    const char* name;
    int windows;
    uint16_t audio;
    QStringList entries;
    int shown;
    uint16_t audio_after;  // RAM 2112 once the rows are loaded
};

TEST_F(OtherPage, TheWindowListHoldsTheEnabledWindowsAndShowsTheAudioWindow) {
    const ListCase cases[] = {
        {"only window 1", 0x01, 0, {"image1"}, 0, 0},
        {"windows 1, 3, 4, audio 3", 0x0D, 2, {"image1", "image3", "image4"}, 1, 2},
        {"audio window out of range", 0x03, 9, {"image1", "image2"}, 0, 0},
        {"audio window not enabled", 0x06, 0, {"image2", "image3"}, 0, 0},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.name);
        enableWindows(c.windows);
        store().wr16_no_gen_bump(kRamAudio, c.audio);
        onPage({[&] {
            EXPECT_EQ(entries(othersetup::kWindow), c.entries);
            EXPECT_EQ(combo(othersetup::kWindow)->currentIndex(), c.shown);
            EXPECT_EQ(store().rd16(kRamAudio), c.audio_after);
            EXPECT_EQ(takeApply(), 0) << "the correction raises no apply";
            key(kKeyOk);
            keys({kKeyRight, kKeyRight, kKeyRight});
            EXPECT_EQ(combo(othersetup::kWindow)->currentIndex(),
                      (c.shown + 3) % int(c.entries.size()));
            shot(QString("list%1").arg(c.windows));
        }});
        stopPanel();
    }
}

TEST_F(OtherPage, VolumeSwitchesTheAudioWordOfTheWindowShownAndTheSameChoiceOnlyRaisesTheApply) {
    enableWindows(0x0D);
    store().wr16_no_gen_bump(kRamAudio, 2);
    store().wr16_no_gen_bump(audioAddr(2), 0);
    onPage({[this] {
        EXPECT_EQ(combo(othersetup::kVolume)->currentIndex(), 0);
        commit(othersetup::kVolume, 1);
        EXPECT_EQ(store().rd16(audioAddr(2)), 0x80FF);
        EXPECT_EQ(store().rd16(kRamAudio), 2);
        EXPECT_EQ(takeApply(), 1);
        commit(othersetup::kVolume, 1);
        EXPECT_EQ(store().rd16(audioAddr(2)), 0x80FF);
        EXPECT_EQ(takeApply(), 1) << "the choice in force still raises the apply";
        // Window 4 from the list, switched on too: it becomes the audio window.
        focusOn(othersetup::kWindow);
        key(kKeyOk);
        key(kKeyRight);
        key(kKeyOk);
        commit(othersetup::kVolume, 1);
        EXPECT_EQ(store().rd16(audioAddr(3)), 0x80FF);
        EXPECT_EQ(store().rd16(kRamAudio), 3);
        commit(othersetup::kVolume, 0);
        EXPECT_EQ(store().rd16(audioAddr(3)), 0);
        shot("volume");
    }});
}

TEST_F(OtherPage, ACommitAfterThePcChangedTheWindowsActsOnTheWindowShown) {
    enableWindows(0x05);
    store().wr16_no_gen_bump(kRamAudio, 2);
    onPage({[this] {
        EXPECT_EQ(combo(othersetup::kWindow)->currentText(), "image3");
        store().wr16_no_gen_bump(ZemRamPara::windowAddr(1, 0), 1);  // the PC adds window 2
        commit(othersetup::kVolume, 1);
        EXPECT_EQ(store().rd16(audioAddr(2)), 0x80FF);
        EXPECT_EQ(store().rd16(audioAddr(1)), 0) << "not the window now second in order";
        EXPECT_EQ(store().rd16(kRamAudio), 2);
    }});
}

TEST_F(OtherPage, WithNoWindowTheVolumeRowsDoNothing) {
    enableWindows(0);
    store().wr16_no_gen_bump(kRamAudio, 4);
    store().wr16_no_gen_bump(audioAddr(0), 0);
    onPage({[this] {
        EXPECT_TRUE(entries(othersetup::kWindow).isEmpty());
        EXPECT_EQ(store().rd16(kRamAudio), 0);
        for (int item : {othersetup::kWindow, othersetup::kVolume}) {
            focusOn(item);
            keys({kKeyOk, kKeyRight, kKeyLeft, kKeyOk});
            EXPECT_EQ(g_othersetup->edit_flag, 0);
        }
        EXPECT_EQ(store().rd16(audioAddr(0)), 0);
        EXPECT_LE(store().rd16(kRamAudio), 5);
        EXPECT_EQ(takeApply(), 0);
        shot("nowindow");
    }});
}

TEST_F(OtherPage, FadeWritesSixtyIntoEveryFadeTimeAndSeamlessLeavesThem) {
    for (int a = 2816; a < 2880; ++a) store().ram[a] = 7;
    for (int w = 0; w < 6; ++w) store().wr16_no_gen_bump(outFlags(w), 0x0100);
    onPage({[this] {
        commit(othersetup::kSwitch, 1);
        EXPECT_EQ(store().ram[2118], 1);
        for (int k = 0; k < 16; ++k) {
            EXPECT_EQ(store().ram[2816 + 4 * k], 60) << k;
            EXPECT_EQ(store().ram[2818 + 4 * k], 60) << k;
            EXPECT_EQ(store().ram[2817 + 4 * k], 7) << "the bytes between are left";
        }
        for (int w = 0; w < 6; ++w) EXPECT_EQ(store().rd16(outFlags(w)), 0x0104) << w;
        EXPECT_EQ(store().persisted[2118], 1) << "saved by the refresh it asked for";
        EXPECT_EQ(takeApply(), 1);
        shot("fade");
        commit(othersetup::kSwitch, 0);
        EXPECT_EQ(store().ram[2118], 0);
        EXPECT_EQ(store().ram[2816], 60) << "seamless leaves the fade times";
        for (int w = 0; w < 6; ++w) EXPECT_EQ(store().rd16(outFlags(w)), 0x0100) << w;
    }});
}

TEST_F(OtherPage, PointToPointSetsTheHighByteOfEveryWindowsOutputFlags) {
    for (int w = 0; w < 6; ++w) store().wr16_no_gen_bump(outFlags(w), 0xFE04);
    enableWindows(0x01);
    onPage({[this] {
        EXPECT_EQ(combo(othersetup::kPointToPoint)->currentIndex(), 1) << "window 1's high byte";
        commit(othersetup::kPointToPoint, 0);
        for (int w = 0; w < 6; ++w) EXPECT_EQ(store().rd16(outFlags(w)), 0x0004) << w;
        EXPECT_EQ(store().ram[2114], 0);
        commit(othersetup::kPointToPoint, 1);
        for (int w = 0; w < 6; ++w) EXPECT_EQ(store().rd16(outFlags(w)), 0x0104) << w;
        EXPECT_EQ(store().ram[2114], 1);
        EXPECT_EQ(store().persisted[2114], 1);
        EXPECT_EQ(takeApply(), 1);
    }});
}

TEST_F(OtherPage, WifiOffKillsTheAccessPointAndOnAsksForItsRestart) {
    T57_WIFI_CONFIG::pInstance();
    G_timeTicks = 4321;
    shell().clear();
    onPage({[this] {
        EXPECT_EQ(entries(othersetup::kWifi), QStringList({"ON", "OFF"}));
        commit(othersetup::kWifi, 1);
        EXPECT_EQ(store().ram[774], 1);
        const std::vector<std::string> kills = {
            "kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`",
            "kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`"};
        std::vector<std::string> seen;
        for (const std::string& c : commands())
            if (c.rfind("kill -9 `pidof", 0) == 0) seen.push_back(c);
        EXPECT_EQ(seen, kills);
        EXPECT_EQ(takeApply(), 1);
        EXPECT_NE(g_wifi_reset_ticks.load(), 4321u);
        commit(othersetup::kWifi, 0);
        EXPECT_EQ(store().ram[774], 0);
        EXPECT_EQ(g_wifi_reset_ticks.load(), 4321u) << "a restart was requested";
        EXPECT_EQ(takeApply(), 1);
        shot("wifi-on");
    }});
    T57_WIFI_CONFIG::shutdown();
}

TEST_F(OtherPage, ProjectionRowBackWhileEditingAndALanguageChange) {
    onPage({[this] {
        focusOn(othersetup::kProjection);
        key(kKeyOk);
        EXPECT_EQ(g_othersetup->edit_flag, 0) << "the projection row has no edit mode";
        EXPECT_EQ(takeApply(), 0);
        focusOn(othersetup::kSwitch);
        key(kKeyOk);
        EXPECT_EQ(panel_style::stateOf(combo(othersetup::kSwitch)), panel_style::kEdit);
        key(kKeyRight);
        EXPECT_EQ(combo(othersetup::kSwitch)->currentText(), "Fade");
        shot("editing");
        key(kKeyBack);
        EXPECT_NE(g_othersetup, nullptr) << "the first Back reverts";
        EXPECT_EQ(combo(othersetup::kSwitch)->currentText(), "Seamless");
        EXPECT_EQ(store().ram[2118], 0);
        key(kKeyOk);
        key(kKeyRight);
        store().ram[ZemRamPara::kRamLanguage] = 0;
        store().test_signal(1);
        EXPECT_EQ(g_othersetup->edit_flag, 0) << "a language change ends editing";
        EXPECT_EQ(combo(othersetup::kSwitch)->currentText(), QString::fromUtf8("无缝快切"));
        EXPECT_EQ(g_othersetup->ui->label_other->text(), QString::fromUtf8("其它设置"));
        EXPECT_EQ(store().ram[2118], 0);
        shot("chinese");
    }});
}

TEST_F(OtherPage, TouchingACombosDoesNothing) {
    onPage({[this] {
        QComboBox* c = combo(othersetup::kSwitch);
        const QPoint at = c->rect().center();
        QMouseEvent press(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::LeftButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(c, &press);
        QCoreApplication::sendEvent(c, &release);
        EXPECT_FALSE(c->view()->isVisible()) << "no list opens";
        EXPECT_EQ(c->currentIndex(), 0);
        EXPECT_EQ(g_othersetup->edit_flag, 0);
    }});
}

TEST_F(OtherPage, EveryChoiceFitsItsComboInEveryLanguage) {
    enableWindows(0x3F);
    onPage({[this] {
        for (int lang = 0; lang < kLanguageCount; ++lang) {
            SCOPED_TRACE(lang);
            store().ram[ZemRamPara::kRamLanguage] = uint8_t(lang);
            store().test_signal(1);
            for (int item = 0; item < othersetup::kItems; ++item) {
                QComboBox* c = combo(item);
                const QFontMetrics fm(c->font());
                // The border, the text's margins and the empty arrow take about 26 pixels of the
                // width.
                for (const QString& e : entries(item))
                    EXPECT_LE(fm.horizontalAdvance(e) + 26, c->width())
                        << e.toStdString() << " in " << c->objectName().toStdString();
            }
            shot(QString("lang%1").arg(lang));
        }
    }});
}

// ---- With the C331 thread ----

class OtherPageOnTheChip : public OtherPage {
protected:
    void SetUp() override {
        OtherPage::SetUp();
        platform::installClock(nullptr);  // the thread waits in real time
        platform::sim::buildDefaultBox();
        c331_manage::pInstance();
    }
    void TearDown() override {
        c331_manage::shutdown();
        OtherPage::TearDown();
    }
    template <class F>
    static bool chip(F f) {
        c331_manage* c = c331_manage::p_c331_manage;
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return c->thread_state == 8 && f(*c);
    }
};

TEST_F(OtherPageOnTheChip, FadeAndPointToPointReachTheVideoProcessor) {
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);  // the C331 thread runs
        store().wr16_no_gen_bump(outFlags(0), 0);
    }
    int dbd_before = 0;
    startPanel();
    session({Item::until([] { return chip([](c331_manage&) { return true; }); }),
             [&] {
                 chip([&](c331_manage& c) { return dbd_before = c.PM_WIN_DBD_MODE[0], true; });
                 std::memcpy(store().shadow, store().ram.data(), sizeof store().ram);
                 panel::openRegistered(kPageOtherSetup);
             },
             [this] { commit(othersetup::kSwitch, 1); }, Item::until([] {
                 return chip([](c331_manage& c) {
                     return c.PM_WIN_FADE_EN[0] == 1 && c.PM_WIN_FADE_IN[0] == 60;
                 });
             }),
             [this] { commit(othersetup::kPointToPoint, 1); }, Item::until([&] {
                 return chip([&](c331_manage& c) { return c.PM_WIN_DBD_MODE[0] != dbd_before; });
             }),
             [this] { key(kKeyBack); }},
            20000);
    EXPECT_EQ(g_othersetup, nullptr);
}

}  // namespace
