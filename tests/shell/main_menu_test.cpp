// The main menu's tools as a user works them: the tools bar, CALL and SAVE through the preset
// grid up to the check-mark tip, the key lock across a restart, mute and close LED, and the
// tip's types and time-out.
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "page_driver.h"
#include "pc_link.h"
#include "ui/shell/main_window.h"
#include "ui/shell/tip.h"
#include "ui_main_window.h"

namespace {

bool takeApply() {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    bool any = false;
    while (c331_manage::take_apply() != 0) any = true;
    return any;
}

class MainMenu : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        takeApply();
        startPanel();
        key(kKeyOk);
    }
    Ui::MainWindow& menu() const { return *g_mainwindow->ui; }
    // The style state the page drew the item in.
    panel_style::State styleOf(QWidget* w) const { return panel_style::stateOf(w); }
    // From the main menu's first item to tool button n of the bar.
    void focusTool(int n) {
        keys({kKeyLeft, kKeyOk});
        for (int i = 1; i < n; ++i) key(kKeyRight);
    }
    void openTool(int n) {
        focusTool(n);
        key(kKeyOk);
    }
    bool gridFocusOn(int slot) const {
        return g_mainwindow->grid_index == slot &&
               panel_style::stateOf(g_mainwindow->grid_buttons[slot]) == panel_style::kFocus;
    }
    // The slots whose cell shows the focus's orange border in the panel's pixels.
    std::vector<int> cellsDrawnFocused() const {
        const QImage image = panelImage();
        std::vector<int> out;
        for (int slot = 0; slot < 16; ++slot) {
            const QPushButton* cell = g_mainwindow->grid_buttons[slot];
            const QRect at(cell->mapToGlobal(QPoint()) - g_mainwindow->pos(), cell->size());
            int ink = 0;
            for (int y = at.top(); y <= at.bottom(); ++y)
                for (int x = at.left(); x <= at.right(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    ink += std::abs(c.red() - 255) + std::abs(c.green() - 171) +
                               std::abs(c.blue() - 84) <
                           24;
                }
            if (ink > 2 * cell->width()) out.push_back(slot);  // more than a stray pixel
        }
        return out;
    }
    // A PC's frames on a link of its own, each answered 0, then the refresh they raise.
    void pcSends(std::vector<Bytes> bodies) {
        const std::vector<Bytes> replies = sessionSends(std::move(bodies)).get();
        for (const Bytes& reply : replies) ASSERT_EQ(reply.at(10), 0);
        settle();
    }
    // The PC deletes slot (0..15): FF FF in its markers, then register 11 bit 2.
    void pcDeletes(int slot) {
        pcSends({writeRam(uint32_t(slot + 1) << 12, {0xFF, 0xFF}), writeReg(11, 0xFF, {0x04})});
    }
    QLabel* usingLabel(int slot) const {
        for (QLabel* l : g_mode[slot]->findChildren<QLabel*>())
            if (!l->text().isEmpty()) return l;
        return nullptr;
    }
    // Shows the tip and checks it stays 300 ticks.
    std::vector<Item> tipShownFor300Ticks(const Step& show, const QRect& where) {
        return {show, [this, where] {
                    EXPECT_TRUE(g_tip->isVisible());
                    EXPECT_EQ(g_tip->geometry(), where);
                    shot("tip");
                    tick(TIP::kShowTicks - 1);
                    EXPECT_TRUE(g_tip->isVisible());
                    tick(1);
                    EXPECT_FALSE(g_tip->isVisible());
                    EXPECT_EQ(g_tip_flag, 0);
                }};
    }
};

TEST_F(MainMenu, TheToolsBarOpensOnItsFirstButtonAndBackReturnsToTools) {
    focusTool(1);
    EXPECT_TRUE(menu().widget->isVisible());
    EXPECT_EQ(styleOf(menu().toolButton1), panel_style::kFocus);
    shot("bar");
    key(kKeyLeft);
    EXPECT_EQ(styleOf(menu().toolButton4), panel_style::kFocus) << "the bar's focus wraps";
    keys({kKeyRight, kKeyRight});
    EXPECT_EQ(styleOf(menu().toolButton2), panel_style::kFocus);
    key(kKeyBack);
    EXPECT_FALSE(menu().widget->isVisible());
    EXPECT_EQ(styleOf(menu().tools), panel_style::kFocus);
    EXPECT_EQ(styleOf(menu().toolButton2), panel_style::kNormal);
    click("tools");  // a touch opens it too, and again closes it
    EXPECT_TRUE(menu().widget->isVisible());
    click("tools");
    EXPECT_FALSE(menu().widget->isVisible());
}

TEST_F(MainMenu, CallRecallsASavedSlotAndTheNextRefreshShowsTheCheckMark) {
    saveSlot(2, 0x5A);
    saveSlot(9, 0x77);
    openTool(3);
    ASSERT_TRUE(g_mainwindow->widget_mode->isVisible());
    EXPECT_TRUE(gridFocusOn(2)) << "the grid opens on the first saved slot";
    shot("grid");
    key(kKeyRight);
    EXPECT_TRUE(gridFocusOn(9));
    key(kKeyRight);
    EXPECT_TRUE(gridFocusOn(2)) << "CALL steps over saved slots only, with wrap";
    key(kKeyLeft);
    EXPECT_TRUE(gridFocusOn(9));
    takeApply();
    // The close-LED and brightness it brings are the user's writes (their write generations
    // grow), which the FPGA side tells from its own echoes.
    const auto gens = [this] {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return std::make_pair(store().word_gen(2116), store().word_gen(2176));
    };
    const auto before = gens();
    store().wr16_no_gen_bump(ZemRamPara::kRamModeSaveRequest, 7);  // a PC's request not yet ended
    key(kKeyOk);
    EXPECT_EQ(store().rd16(ZemRamPara::kRamModeSaveRequest), 7) << "only its end clears it";
    EXPECT_GT(gens().first, before.first);
    EXPECT_GT(gens().second, before.second);
    EXPECT_EQ(store().ram[2000], 0x77);
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 10);
    EXPECT_TRUE(takeApply());
    EXPECT_TRUE(g_mainwindow->l_call_state) << "the grid stays open for CALL";
    ASSERT_NE(usingLabel(9), nullptr);
    EXPECT_TRUE(usingLabel(9)->isVisibleTo(g_mainwindow));
    EXPECT_EQ(usingLabel(9)->text(), "Using");
    EXPECT_EQ(g_mode[9]->styleSheet(), "background-color: #00D65B;border-radius:5px;");
    shot("called");
    session(tipShownFor300Ticks([] { SyncUpdate::pInstance()->para_sync(1); },
                                QRect(100, 60, 120, 120)));
    EXPECT_EQ(g_mainwindow->preset_done, 0);
    refresh(1);  // no second tip
    EXPECT_FALSE(g_tip->isVisible());
}

TEST_F(MainMenu, CallOnABlankSlotChangesNothing) {
    saveSlot(4, 1);
    openTool(3);
    click("0");  // a touch on blank slot 1
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 0);
    EXPECT_FALSE(takeApply());
    EXPECT_EQ(g_mainwindow->preset_done, 0);
}

TEST_F(MainMenu, SaveStepsOverEverySlotAndTheKeyTakesTheMode) {
    saveSlot(0, 1);
    openTool(4);
    EXPECT_TRUE(gridFocusOn(0));
    keys({kKeyLeft});
    EXPECT_TRUE(gridFocusOn(15)) << "SAVE steps over blank slots too, with wrap";
    keys({kKeyRight, kKeyRight, kKeyRight});
    EXPECT_TRUE(gridFocusOn(2));
    store().ram[2000] = 0x42;
    key(kKeyOk);
    // Taken at the key, with the RAM as it was then; the file work ran at once (no saver
    // thread here), so the request has ended.
    EXPECT_EQ(store().ZemUserModeSaved(2), 1);
    EXPECT_EQ(store().rd16(ZemRamPara::kRamModeSaveRequest), 0);
    EXPECT_TRUE(takeApply());
    EXPECT_TRUE(g_mainwindow->l_save_state);
    shot("requested");
    store().ram[2000] = 0x99;  // a PC's write answered after the key is not in the mode
    // The refresh after the apply draws the check mark.
    session(tipShownFor300Ticks([] { SyncUpdate::pInstance()->para_sync(1); },
                                QRect(100, 60, 120, 120)));
    EXPECT_EQ(store().ZemUserModeSaved(2), 1);
    EXPECT_EQ(store().mode_ram[2][2 + 2000 - ZemRamPara::kModePayloadStart], 0x42);
    EXPECT_TRUE(exists("/data/modes/custom_mode3"));
    // SAVE on the slot already requested is a new request, as a PC's write of 868 is.
    store().wr16_no_gen_bump(ZemRamPara::kRamModeSaveRequest, 3);
    store().shadow[ZemRamPara::kRamModeSaveRequest] = 3;
    store().ram[2000] = 0x43;
    click("2");
    EXPECT_TRUE(takeApply());
    EXPECT_EQ(g_mainwindow->preset_done, 1);
    session(tipShownFor300Ticks([] { SyncUpdate::pInstance()->para_sync(1); },
                                QRect(100, 60, 120, 120)));
    EXPECT_EQ(store().mode_ram[2][2 + 2000 - ZemRamPara::kModePayloadStart], 0x43);
    key(kKeyBack);
    EXPECT_FALSE(g_mainwindow->widget_mode->isVisible());
    EXPECT_EQ(styleOf(menu().toolButton4), panel_style::kFocus);
}

// A PC writes the RAM and applies it while the check mark of the panel's SAVE shows: the mode
// holds what the RAM held at the SAVE's refresh, and the PC's apply has a refresh of its own,
// run once that one has ended, not inside it.
TEST_F(MainMenu, APcApplyDuringTheSavesCheckMarkLeavesTheModeAsTheSaveSawIt) {
    const int at = 2 + 2000 - ZemRamPara::kModePayloadStart;
    openTool(4);
    store().ram[2000] = 0x42;
    click("2");
    EXPECT_TRUE(takeApply());
    session({[] { SyncUpdate::pInstance()->para_sync(1); },
             [this] {
                 ASSERT_TRUE(g_tip->isVisible());
                 shot("check-mark");
                 const std::vector<Bytes> replies =
                     sessionSends({writeRam(2000, {0x99, 0}), writeReg(11, 0xFF, {0})}).get();
                 ASSERT_EQ(replies.size(), 2u);
                 for (const Bytes& r : replies) ASSERT_GT(r.size(), 10u);
                 EXPECT_EQ(replies[0][10], 0) << "written";
                 EXPECT_TRUE(takeApply());
                 refresh(1);  // the PC's apply
                 EXPECT_TRUE(g_tip->isVisible());
                 shot("check-mark-after-the-pc");
                 tick(TIP::kShowTicks);
             }});
    EXPECT_FALSE(g_tip->isVisible());
    EXPECT_EQ(store().mode_ram[2][at], 0x42) << "the mode took the PC's later write";
    const std::string mode = readFile("/data/modes/custom_mode3");
    ASSERT_GT(mode.size(), size_t(at));
    EXPECT_EQ(uint8_t(mode[at]), 0x42);
    const std::string para = readFile("/data/ram_device_info");
    ASSERT_GT(para.size(), size_t(2 + 2000 - 768));
    EXPECT_EQ(uint8_t(para[2 + 2000 - 768]), 0x99) << "the PC's refresh did not run whole";
}

// The panel's SAVE is taken at the key: a PC's save request and applied write answered while
// the main thread's refresh is held are requests of their own, and neither is lost.
TEST_F(MainMenu, SaveTakenAtTheKeyKeepsItsRamWhileAPcSavesDuringTheHeldRefresh) {
    openTool(4);
    keys({kKeyRight, kKeyRight});
    ASSERT_TRUE(gridFocusOn(2));
    store().ram[2000] = 0x42;
    key(kKeyOk);
    takeApply();
    SyncUpdate::hooks.before_refresh = [](int) {
        SyncUpdate::hooks.before_refresh = nullptr;
        const std::vector<Bytes> replies =
            sessionSends({writeRam(2000, {0x55}), writeRam(868, le16(5)), writeReg(11, 0xFF, {0})})
                .get();
        for (const Bytes& reply : replies) EXPECT_EQ(reply.at(10), 0);
    };
    session(tipShownFor300Ticks([] { SyncUpdate::pInstance()->para_sync(1); },
                                QRect(100, 60, 120, 120)));
    EXPECT_FALSE(SyncUpdate::hooks.before_refresh) << "the refresh was held";
    EXPECT_EQ(store().mode_ram[2][2 + 2000 - ZemRamPara::kModePayloadStart], 0x42);
    EXPECT_EQ(store().mode_ram[4][2 + 2000 - ZemRamPara::kModePayloadStart], 0x55);
    EXPECT_TRUE(exists("/data/modes/custom_mode3"));
    EXPECT_TRUE(exists("/data/modes/custom_mode5"));
    EXPECT_EQ(store().rd16(ZemRamPara::kRamModeSaveRequest), 0);
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 5) << "the last one answered";
}

// A save landing on the saver's thread while the SAVE grid is open: the grid draws the slot
// saved and "Using" on it, through the refresh the landing raises.
TEST_F(MainMenu, TheSaveGridShowsASaveAtItsKeyWhileItsFileWaits) {
    store().saver.start();
    store().saver.hold(true);
    openTool(4);
    keys({kKeyRight, kKeyRight});
    ASSERT_TRUE(gridFocusOn(2));
    key(kKeyOk);
    takeApply();
    g_mainwindow->preset_done = 0;  // the key's tip is not what this looks at
    settle();
    ASSERT_TRUE(g_mainwindow->widget_mode->isVisible());
    ASSERT_NE(usingLabel(2), nullptr) << "the save is in the slot at the key";
    EXPECT_TRUE(usingLabel(2)->isVisibleTo(g_mainwindow));
    EXPECT_EQ(usingLabel(2)->text(), "Using");
    EXPECT_FALSE(exists("/data/modes/custom_mode3")) << "its file waits";
    shot("taken");
    ASSERT_TRUE(store().saver.step());
    settle();
    EXPECT_TRUE(exists("/data/modes/custom_mode3"));
    ASSERT_NE(usingLabel(2), nullptr);
    shot("landed");
    store().saver.hold(false);
    store().saver.stop();
}

// A PC's save while the CALL grid is open: its refresh draws the cells the save changed where
// they stand (a PC saving every tick would otherwise cost the panel a new grid each time), and
// the grid keeps its focus.
TEST_F(MainMenu, APcsSaveRedrawsTheOpenGridsChangedCellsInPlace) {
    saveSlot(2, 0x5A);
    saveSlot(9, 0x77);
    openTool(3);
    key(kKeyOk);  // slot 3 recalled: "Using" on it
    takeApply();
    g_mainwindow->preset_done = 0;  // the key's tip is not what this looks at
    settle();
    ASSERT_TRUE(usingLabel(2) && usingLabel(2)->isVisibleTo(g_mainwindow));
    const QPointer<QWidget> grid = g_mainwindow->widget_mode;
    const std::vector<Bytes> replies =
        sessionSends({writeRam(868, le16(5)), writeReg(11, 0xFF, {0})}).get();
    ASSERT_EQ(replies.size(), 2u);
    for (const Bytes& reply : replies) ASSERT_EQ(reply.at(10), 0);
    settle();
    EXPECT_EQ(grid.data(), g_mainwindow->widget_mode) << "drawn in place";
    EXPECT_EQ(g_mode[4]->styleSheet(), "background-color: #212435;border-radius:5px;");
    ASSERT_NE(usingLabel(4), nullptr);
    EXPECT_TRUE(usingLabel(4)->isVisibleTo(g_mainwindow));
    EXPECT_FALSE(usingLabel(2) && usingLabel(2)->isVisibleTo(g_mainwindow));
    EXPECT_TRUE(gridFocusOn(2));
    shot("pc-saved");
}

// A PC deletes the slot the CALL grid's focus is on: the redraw moves the focus on as the grid
// opens (the next saved slot, with wrap), in place, and OK recalls the slot it moved to.
TEST_F(MainMenu, APcsDeleteOfTheFocusedSlotMovesTheCallFocusToTheNextSavedSlot) {
    saveSlot(0, 0x11);
    saveSlot(2, 0x5A);
    saveSlot(6, 0x77);
    openTool(3);
    ASSERT_TRUE(gridFocusOn(0));
    key(kKeyRight);
    ASSERT_TRUE(gridFocusOn(2));
    EXPECT_EQ(cellsDrawnFocused(), std::vector<int>{2});
    shot("focus-on-3");
    const QPointer<QWidget> grid = g_mainwindow->widget_mode;
    pcDeletes(2);
    EXPECT_EQ(store().ZemUserModeShown(2), 0);
    EXPECT_EQ(grid.data(), g_mainwindow->widget_mode) << "drawn in place";
    EXPECT_TRUE(gridFocusOn(6));
    EXPECT_EQ(cellsDrawnFocused(), std::vector<int>{6});
    EXPECT_EQ(g_mode[2]->styleSheet(), "background-color: #B2B2B2;border-radius:5px;");
    shot("3-deleted");
    takeApply();
    key(kKeyOk);
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 7);
    EXPECT_EQ(store().ram[2000], 0x77);
    EXPECT_TRUE(takeApply());
    EXPECT_TRUE(gridFocusOn(6));
    shot("7-recalled");
    g_mainwindow->preset_done = 0;  // the key's tip is not what this looks at
    // The last saved slot after it deleted too: the focus wraps to slot 1.
    pcDeletes(6);
    EXPECT_TRUE(gridFocusOn(0));
    EXPECT_EQ(cellsDrawnFocused(), std::vector<int>{0});
    shot("7-deleted");
    key(kKeyOk);
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 1);
    EXPECT_EQ(store().ram[2000], 0x11);
}

// The CALL grid opened with no slot saved has no focus drawn; a PC's save then brings the focus
// to the slot saved, in place, and lights the CALL button as an open on a saved slot does.
TEST_F(MainMenu, APcsSaveIntoACallGridOpenedWithNothingSavedTakesTheFocus) {
    openTool(3);
    ASSERT_TRUE(g_mainwindow->widget_mode->isVisible());
    EXPECT_EQ(g_mainwindow->grid_index, 0);
    EXPECT_EQ(cellsDrawnFocused(), std::vector<int>{});
    shot("nothing-saved");
    const QPointer<QWidget> grid = g_mainwindow->widget_mode;
    const QImage unlit = menu().toolButton3->icon().pixmap(24, 36).toImage();
    pcSends({writeRam(868, le16(16)), writeReg(11, 0xFF, {0})});
    EXPECT_EQ(grid.data(), g_mainwindow->widget_mode) << "drawn in place";
    EXPECT_TRUE(gridFocusOn(15));
    EXPECT_EQ(cellsDrawnFocused(), std::vector<int>{15});
    EXPECT_EQ(g_mode[15]->styleSheet(), "background-color: #212435;border-radius:5px;");
    EXPECT_NE(menu().toolButton3->icon().pixmap(24, 36).toImage(), unlit);
    shot("16-saved");
    takeApply();
    key(kKeyOk);
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 16);
    EXPECT_TRUE(takeApply()) << "slot 16 recalled";
}

TEST_F(MainMenu, TheKeyLockSurvivesARestartAndTogglesBack) {
    click("Button_lock");
    EXPECT_EQ(store().rd16(772), 1);
    EXPECT_FALSE(takeApply()) << "the lock has no effect on the chip";
    settle();  // its refresh
    shot("locked");
    const std::string file = readFile("/data/ram_device_info");
    ASSERT_GE(file.size(), 8u);
    EXPECT_EQ(uint8_t(file[2 + 772 - 768]), 1) << "the lock reached the parameter file";
    // The box restarts.
    delete ZemRamPara::p_zemrampara_config;
    ZemRamPara::p_zemrampara_config = nullptr;
    ZemRamPara::pInstance();
    EXPECT_EQ(store().rd16(772), 1);
    delete g_mainwindow;
    g_mainwindow = nullptr;
    g_mainwindow = new MainWindow(nullptr);
    g_mainwindow->show();
    g_page_focus = kPageMain;
    EXPECT_EQ(g_mainwindow->l_lock_state, 1);
    EXPECT_EQ(g_mainwindow->ui->Button_lock->icon().pixmap(16, 16).toImage(),
              QIcon(":/png/lock.png").pixmap(16, 16).toImage());
    click("Button_lock");
    EXPECT_EQ(store().rd16(772), 0);
    EXPECT_EQ(g_mainwindow->l_lock_state, 0);
}

// The keys read any word but 0 as locked: the padlock shows it as soon as the PC writes it,
// without the PC's apply and without file work, and one touch opens the keys.
TEST_F(MainMenu, AnyKeyLockThePcWritesIsDrawnClosedAndOneTouchOpensTheKeys) {
    const QImage closed = QIcon(":/png/lock.png").pixmap(16, 16).toImage();
    const QImage open = QIcon(":/png/unlock.png").pixmap(16, 16).toImage();
    const std::string file_before = readFile("/data/ram_device_info");
    const std::vector<Bytes> replies = sessionSends({writeRam(772, le16(2))}).get();
    ASSERT_GT(replies[0].size(), 10u);
    settle();  // the panel's own refresh of the lock
    EXPECT_EQ(readFile("/data/ram_device_info"), file_before) << "no file work";
    EXPECT_EQ(g_mainwindow->l_lock_state, 1);
    EXPECT_EQ(menu().Button_lock->icon().pixmap(16, 16).toImage(), closed);
    key('M');
    EXPECT_EQ(g_mode_shortcut_key, 0) << "Mode under the PC's lock";
    shot("pc-locked");
    touch(panelPoint(menu().Button_lock));
    EXPECT_EQ(store().rd16(772), 0);
    EXPECT_EQ(menu().Button_lock->icon().pixmap(16, 16).toImage(), open);
    key('M');
    EXPECT_EQ(g_mode_shortcut_key, 1) << "the keys are open";
}

// The PC locks the keys while the check mark of a refresh shows, once that refresh has taken
// what it sees. The padlock follows at once all the same.
TEST_F(MainMenu, AKeyLockThePcWritesWhileARefreshShowsItsTipIsDrawnByTheNext) {
    g_mainwindow->preset_done = 1;  // a preset applied: the next refresh shows the check mark
    session({[] { SyncUpdate::pInstance()->para_sync(1); },
             [this] {
                 ASSERT_TRUE(g_tip->isVisible());
                 const std::vector<Bytes> replies = sessionSends({writeRam(772, le16(1))}).get();
                 ASSERT_GT(replies[0].size(), 10u);
                 EXPECT_EQ(replies[0][10], 0) << "written";
                 tick(TIP::kShowTicks);
             }});
    EXPECT_EQ(g_mainwindow->l_lock_state, 1) << "drawn without waiting for the PC's apply";
    refresh(1);  // the PC's apply
    EXPECT_EQ(g_mainwindow->l_lock_state, 1);
    EXPECT_EQ(g_mainwindow->ui->Button_lock->icon().pixmap(16, 16).toImage(),
              QIcon(":/png/lock.png").pixmap(16, 16).toImage());
}

TEST_F(MainMenu, MuteAndCloseLedToggleTheirWordsWithTheApplyFlag) {
    const int audio0 = ZemRamPara::windowAddr(0, 20);
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(0, 0), 1);
    store().wr16_no_gen_bump(2112, 0);
    store().wr16_no_gen_bump(audio0, 0x80FF);
    store().wr16_no_gen_bump(ZemRamPara::kRamCloseLed, 0);
    openTool(2);
    EXPECT_EQ(store().rd16(audio0), 0);
    EXPECT_TRUE(takeApply());
    click("toolButton2");
    EXPECT_EQ(store().rd16(audio0), 0x80FF);
    store().wr16_no_gen_bump(2112,
                             9);  // no such window: the mute acts on window 0 and the word is reset
    click("toolButton2");
    EXPECT_EQ(store().rd16(2112), 0);
    EXPECT_EQ(store().rd16(audio0), 0);
    // The close-LED toggle is the user's write: its write generation grows, so a close-LED the
    // FPGA side echoes meanwhile does not overwrite it.
    const auto closeGen = [this] {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return store().word_gen(ZemRamPara::kRamCloseLed);
    };
    uint32_t gen = closeGen();
    click("toolButton1");
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCloseLed), 1);
    EXPECT_GT(closeGen(), gen);
    EXPECT_TRUE(takeApply());
    shot("muted-closed");
    gen = closeGen();
    click("toolButton1");
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCloseLed), 0);
    EXPECT_GT(closeGen(), gen);
}

TEST_F(MainMenu, TipsOfEachTypeAndLanguageVanishAfter300Ticks) {
    session(tipShownFor300Ticks([] { g_tip->tip_create(1); }, QRect(100, 60, 120, 120)));
    // Russian is disabled here: the USB text comes in English.
    g_lcd_lang_valid = 0x1B;
    g_language = 2;
    session({[] { g_tip->tip_create(4); },
             [this] {
                 QLabel* label = g_tip->content()->findChild<QLabel*>();
                 ASSERT_NE(label, nullptr);
                 EXPECT_EQ(label->text(), "USB drive is unplugged.");
                 EXPECT_EQ(g_tip->geometry(), QRect(50, 60, 220, 120));
                 shot("usb-out-en");
                 // A second tip replaces the contents and keeps the running time-out.
                 tick(100);
                 g_tip->tip_create(3);
                 tick(199);
                 EXPECT_TRUE(g_tip->isVisible());
                 tick(1);
                 EXPECT_FALSE(g_tip->isVisible());
             }});
    for (uint8_t lang : {0, 2, 3, 4}) {
        g_lcd_lang_valid = 0x1F;
        g_language = lang;
        session({[] { g_tip->tip_create(5); },
                 [this, lang] {
                     shot(QString("reading-%1").arg(lang));
                     tick(TIP::kShowTicks);
                 }});
    }
    g_tip->tip_create(2);
    EXPECT_FALSE(g_tip->isVisible());
    EXPECT_EQ(g_tip_flag, 0);
}

}  // namespace
