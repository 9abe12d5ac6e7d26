// The user-mode page as a user works it: the selector's two looks and a touch on it, empty and
// saved modes (summary, window list with crop numbers, the Using mark), the OSD view (first
// three lines, colours as the chip reads them), Invoke (RAM 866, payload, apply flag, LED-size
// handshake), Delete (file gone, slot empty), a stored audio window beyond the windows, and
// Back to the main menu or, after the Mode shortcut, to the home screen.
#include "ui/input/custom_mode.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <cstring>

#include "c331/c331_manage.h"
#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "core/globals.h"
#include "core/led_size_handshake.h"
#include "input_numbers.h"
#include "page_driver.h"
#include "pc_link.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/main_window.h"
#include "ui/shell/zemcontrol.h"
#include "ui_custom_mode.h"

namespace {

TEST(Selector, LooksAndShownItem) {
    panelApp();
    struct Case {
        const char* name;
        void (*act)(zemcontrol&);
        panel_style::State state;
    };
    const Case cases[] = {
        {"new", [](zemcontrol&) {}, panel_style::kFocus},
        {"modify", [](zemcontrol& z) { z.set_box_modify(); }, panel_style::kEdit},
        {"modify then default",
         [](zemcontrol& z) {
             z.set_box_modify();
             z.set_box_default();
         },
         panel_style::kFocus},
    };
    for (const Case& c : cases) {
        zemcontrol z(QRect(19, 0, 100, 22), QRect(0, 0, 20, 22), QRect(118, 0, 20, 22), nullptr);
        c.act(z);
        EXPECT_EQ(panel_style::stateOf(z.box), c.state) << c.name;
        EXPECT_EQ(panel_style::stateOf(z.left_label), c.state) << c.name;
        EXPECT_EQ(panel_style::stateOf(z.right_label), c.state) << c.name;
        EXPECT_EQ(z.left_label->text(), "<");
        EXPECT_EQ(z.right_label->text(), ">");
        EXPECT_EQ(z.box->objectName(), "zemcontrol");
        EXPECT_EQ(z.box->focusPolicy(), Qt::NoFocus);
    }
    zemcontrol z(QRect(19, 0, 100, 22), QRect(0, 0, 20, 22), QRect(118, 0, 20, 22), nullptr);
    z.box->addItems({"a", "b", "c"});
    z.set_boxindexsel(2);
    EXPECT_EQ(z.box->currentText(), "c");
}

class UserModePage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        for (int m = 0; m < 16; ++m) store().mode_ram[m][0] = store().mode_ram[m][1] = 0xFF;
        store().wr16_no_gen_bump(ZemRamPara::kRamCurrentMode, 0);
        std::memcpy(store().shadow, store().ram.data(), sizeof store().ram);
        takeApply();
    }
    void TearDown() override {
        comm_hooks::get().fpgas_running = nullptr;
        PanelTest::TearDown();
    }
    static int at(int addr) { return 2 + addr - ZemRamPara::kModePayloadStart; }
    void put(int m, int addr, uint16_t v) {
        store().mode_ram[m][at(addr)] = uint8_t(v);
        store().mode_ram[m][at(addr) + 1] = uint8_t(v >> 8);
    }
    // Slot m saved from the live RAM, with its windows: 0 HDMI1 on, 1 crop record 0 (crop
    // number 7 of HDMI2) off, the rest off; LED 1920 x 1080, brightness 80, contrast 50.
    void saveMode(int m) {
        saveSlot(m, 0);
        put(m, 1378, 1920);
        put(m, 1380, 1080);
        put(m, 2176, 80);
        put(m, 2178, 50);
        put(m, ZemRamPara::kRamOsdOn, 0);
        for (int w = 0; w < 6; ++w) {
            put(m, ZemRamPara::windowAddr(w, 0), w == 0 ? 1 : 0);
            put(m, ZemRamPara::windowAddr(w, ZemRamPara::kWinSource), kHdmi1);
            put(m, ZemRamPara::windowAddr(w, 20), 0);
        }
        put(m, ZemRamPara::windowAddr(0, 10), 0);
        put(m, ZemRamPara::windowAddr(0, 12), 0);
        put(m, ZemRamPara::windowAddr(0, 14), 1920);
        put(m, ZemRamPara::windowAddr(0, 16), 1080);
        put(m, ZemRamPara::windowAddr(1, ZemRamPara::kWinSource), 0x8000);
        put(m, ZemRamPara::kRamCropTable, uint16_t(0x8000 | 6 << 8 | kHdmi2));
        writeFile("/data/modes/custom_mode" + std::to_string(m + 1),
                  std::string(reinterpret_cast<const char*>(store().mode_ram[m].data()), 4096));
    }
    // From the home screen: Mode opens the page (shortcut), or the main menu's third entry.
    void open(bool shortcut) {
        startPanel();
        if (shortcut) {
            key(kKeyMode);
        } else {
            key(kKeyOk);
            keys({kKeyRight, kKeyRight, kKeyOk});
        }
        ASSERT_NE(g_custommode, nullptr);
        EXPECT_EQ(g_page_focus, kPageCustomMode);
    }
    // Mode m invoked from its row, the FPGAs running so a size change starts the handshake.
    void invoke(int m) {
        comm_hooks::get().fpgas_running = [] { return true; };
        led_size_handshake::get().clear();
        open(false);
        for (int i = 0; i < m; ++i) key(kKeyRight);
        keys({kKeyOk, kKeyOk});  // the row, then Invoke
    }
    CustomMode& page() const { return *opened(g_custommode); }
    Ui::CustomMode& form() const { return *opened(g_custommode)->ui; }
    // Texts of the list area's labels, in the order they were made.
    QStringList listTexts() const {
        QStringList out;
        if (!page().list_widget) return out;
        for (QLabel* l : page().list_widget->findChildren<QLabel*>()) out << l->text();
        return out;
    }
};

TEST_F(UserModePage, EmptyModeShowsTheEmptyTextAndOkDoesNothing) {
    open(false);
    EXPECT_EQ(page().ui_select, 0);
    EXPECT_EQ(page().selector->box->currentText(), "MODE 1");
    EXPECT_TRUE(form().label_blank->isVisible());
    EXPECT_EQ(form().label_blank->text(), "Usermode does not exist");
    EXPECT_FALSE(form().Button_use->isVisible());
    EXPECT_FALSE(form().label_using->isVisible());
    EXPECT_EQ(page().list_widget, nullptr);
    key(kKeyOk);
    EXPECT_EQ(page().ui_level, 0);
    shot("empty");
    key(kKeyLeft);
    EXPECT_EQ(page().selector->box->currentText(), "MODE 16");
    EXPECT_EQ(form().label_ID->text(), "ID:16");
    key(kKeyRight);
    EXPECT_EQ(page().ui_select, 0);
}

TEST_F(UserModePage, SavedModeShowsSummaryAndWindowsWithTheCropNumber) {
    saveMode(2);
    put(2, ZemRamPara::windowAddr(0, 20), 0x8000);  // window 0's sound on, window 0 the audio
    store().wr16_no_gen_bump(ZemRamPara::kRamCurrentMode, 3);
    open(false);
    EXPECT_EQ(page().ui_select, 2) << "opens on the current mode";
    EXPECT_TRUE(form().label_using->isVisible());
    EXPECT_EQ(form().label_name->text(), "Name:Mode3");
    EXPECT_EQ(form().label_LED->text(), "LED size:1920x1080");
    EXPECT_EQ(form().label_brightness->text(), "Bri:80 CTRST:50 Volume:ON");
    EXPECT_FALSE(form().Button_more->isVisible()) << "no OSD stored";
    const QStringList t = listTexts();
    EXPECT_TRUE(t.contains("HDMI1 ON"));
    EXPECT_TRUE(t.contains("HDMI2_Crop7 OFF")) << t.join('|').toStdString();
    EXPECT_TRUE(t.contains("[0,0]1920x1080"));
    shot("saved");
    // The row without More: Invoke and Delete alternate; Back leaves the row.
    key(kKeyOk);
    EXPECT_EQ(page().ui_level, 1);
    EXPECT_EQ(panel_style::stateOf(page().selector->box), panel_style::kEdit);
    keys({kKeyRight, kKeyRight});
    EXPECT_EQ(page().ui_button, 0);
    key(kKeyBack);
    EXPECT_EQ(page().ui_level, 0);
    EXPECT_EQ(panel_style::stateOf(page().selector->box), panel_style::kFocus);
}

TEST_F(UserModePage, EveryLanguageFits) {
    saveMode(0);
    open(false);
    for (int lang = 0; lang < 5; ++lang) {
        g_language = uint8_t(lang);
        page().language_changed();
        page().zem_button_mode_clicked();
        const auto wide = textsNotFitting(&page());
        EXPECT_TRUE(wide.empty()) << lang << ": " << (wide.empty() ? "" : wide[0]);
        shot(QString("language-%1").arg(lang));
    }
}

// The PC changes the language while the page shows: the sixteen names and the summary follow
// at once, not only once Left or Right redraws them.
TEST_F(UserModePage, APcLanguageChangeReachesTheModeNamesAndTheSummary) {
    saveMode(0);
    open(false);
    struct Case {
        uint8_t language;
        const char* name16;
        const char* led;  // the start of the summary's LED line
    };
    const Case cases[] = {
        {1, "MODE 16", "LED size:"}, {2, "РЕЖИМ 16", "Размер LED:"}, {3, "CHẾ ĐỘ 16", "Cỡ LED:"}};
    std::vector<Item> steps;
    for (const Case& c : cases) {
        steps.push_back([this, c] { pcLanguage(c.language); });
        steps.push_back(languageIs(c.language));
        steps.push_back([this, c] {
            SCOPED_TRACE(int(c.language));
            QComboBox* box = page().selector->box;
            ASSERT_EQ(box->count(), 16);
            EXPECT_EQ(box->itemText(15), QString::fromUtf8(c.name16));
            EXPECT_EQ(box->currentText(), QString(QString::fromUtf8(c.name16)).replace("16", "1"));
            EXPECT_TRUE(form().label_LED->text().startsWith(QString::fromUtf8(c.led)))
                << form().label_LED->text().toStdString();
            shot(QString("pc-language-%1").arg(c.language));
        });
    }
    session(steps);
}

TEST_F(UserModePage, AudioByteBeyondTheWindowsCountsAsWindowZero) {
    saveMode(15);
    store().mode_ram[15][at(2112)] = 200;  // would read 3.9 KB past slot 16
    put(15, ZemRamPara::windowAddr(0, 20), 0x8000);
    open(false);
    keys({kKeyLeft});
    EXPECT_EQ(page().ui_select, 15);
    EXPECT_EQ(form().label_brightness->text(), "Bri:80 CTRST:50 Volume:ON");
}

TEST_F(UserModePage, OsdViewShowsThreeLinesAndTheChipsColours) {
    struct Case {
        const char* text;
        const char* back;
        const char* font;
        const char* shown;
        const char* style;
    };
    const Case cases[] = {
        {"one\\ntwo\\nthree\\nfour", "0x00FF00", "FF0000", "one\ntwo\nthree",
         "background-color:#00FF00;color:#FF0000;"},
        {"a\\nb", "GG0000", "12345", "a\nb", "background-color:#000000;color:#012345;"},
    };
    for (const Case& c : cases) {
        saveMode(0);
        put(0, ZemRamPara::kRamOsdOn, 1);
        writeFile("/data/modes/MO01.json",
                  std::string(R"({"name": "s", "osdcount": 1, "oactcount": 1, "menu": [
            {"type": 0, "status": "on", "pos": {"x": 10, "y": 20, "w": 640, "h": 64},
             "act": {"effect": 9, "speed": 3, "staytime": 5},
             "backpara": {"enable": "on", "color": ")") +
                      c.back + R"("},
             "fontpara": {"startx": 1, "starty": 2, "fontw": 32, "fonth": 32, "wordspace": 4,
                          "verticalspace": 5, "color": ")" +
                      c.font + R"("},
             "texts": [")" +
                      c.text + R"("]}]})");
        open(false);
        EXPECT_TRUE(form().Button_more->isVisible());
        keys({kKeyOk, kKeyRight, kKeyRight});
        EXPECT_EQ(page().ui_button, 2);
        QLabel* box = nullptr;
        QLabel* info = nullptr;
        for (QLabel* l : page().list_widget->findChildren<QLabel*>()) {
            if (l->geometry() == QRect(6, 2, 300, 50)) box = l;
            if (l->geometry() == QRect(2, 56, 300, 30)) info = l;
        }
        ASSERT_NE(box, nullptr);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(box->text(), c.shown);
        EXPECT_EQ(box->styleSheet(), c.style);
        EXPECT_EQ(info->text(),
                  "osd [x:10,y:20,w:640,h:64] font size:32*32\nspace [h:4,v:5] char[x:1,y:2] "
                  "speed:3,effect:static");
        shot(QString("osd-%1").arg(c.back));
        // OK on More leaves the row; the view stays until the next redraw.
        key(kKeyOk);
        EXPECT_EQ(page().ui_level, 0);
        EXPECT_EQ(box->text(), c.shown);
        keys({kKeyRight, kKeyLeft});
        EXPECT_TRUE(listTexts().contains("HDMI1 ON"));
        stopPanel();
    }
}

TEST_F(UserModePage, InvokeRecallsTheModeAndStartsTheSizeHandshake) {
    saveMode(4);
    put(4, 1378, 3840);
    put(4, 2000, 0x5A5A);
    // The close-LED and brightness it brings are the user's writes (their write generations
    // grow), which the FPGA side tells from its own echoes.
    const auto gens = [this] {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return std::make_pair(store().word_gen(2116), store().word_gen(2176));
    };
    const auto before = gens();
    invoke(4);
    EXPECT_GT(gens().first, before.first);
    EXPECT_GT(gens().second, before.second);
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 5);
    EXPECT_EQ(store().rd16(2000), 0x5A5A);
    EXPECT_EQ(store().rd16(1378), 3840);
    EXPECT_EQ(takeApply(), 1);
    EXPECT_EQ(led_size_handshake::get().state(), led_size_handshake::kBlanking);
    led_size_handshake::get().clear();
    // The Using mark follows at the next redraw.
    keys({kKeyRight, kKeyLeft});
    EXPECT_TRUE(form().label_using->isVisible());
    shot("invoked");
}

// A mode whose screen the box can't drive (its slot written by a PC) is recalled, and the apply
// puts the screen in force back: the outputs are not blanked for it.
TEST_F(UserModePage, InvokeOfAScreenTheBoxCantDriveStartsNoSizeHandshake) {
    saveMode(4);
    put(4, 1378, 65535);
    put(4, 1380, 65535);
    invoke(4);
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 5);
    EXPECT_EQ(takeApply(), 1);
    EXPECT_EQ(led_size_handshake::get().state(), led_size_handshake::kIdle);
}

// A mode whose saved LED size the box refuses still becomes the current mode, invoked on the
// panel or recalled by a PC, but its LED line says in red that the size was not taken; a mode
// whose size the box takes reads as usual.
TEST_F(UserModePage, AModeWhoseLedSizeTheBoxRefusedSaysItWasNotTaken) {
    const char* const notTaken[kLanguageCount] = {"未生效", "not taken", "не принят",
                                                  "chưa áp dụng", "未生效"};
    link_session pc(LinkKind::Tcp, "test");
    const auto ask = [&](const Bytes& b) { return askSession(pc, b); };
    struct Row {
        const char* name;
        std::function<void()> recall;
    };
    const Row rows[] = {
        {"invoked on the panel",
         [&] {
             invoke(4);
             keys({kKeyRight, kKeyLeft});  // the summary is drawn again
         }},
        {"recalled by a PC",
         [&] {
             open(false);
             for (int i = 0; i < 4; ++i) key(kKeyRight);
             for (const Bytes& reply :
                  {ask(writeRam(866, le16(5))), ask(writeReg(11, 0xFF, {0x02}))})
                 EXPECT_TRUE(reply.size() > 10 && reply[10] == 0) << "status";
             refresh(1);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        saveMode(4);
        put(4, 1378, 100);
        store().wr16_no_gen_bump(ZemRamPara::kRamCurrentMode, 0);  // the page opens on mode 1
        row.recall();
        EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 5);
        EXPECT_EQ(store().rd16(1378), 1920) << "the size in force stays";
        EXPECT_TRUE(form().label_using->isVisible());
        EXPECT_EQ(form().label_LED->text(), "LED size:100x1080 not taken");
        EXPECT_EQ(panel_style::stateOf(form().label_LED), panel_style::kWrong);
        shot(row.name);
        stopPanel();
    }
    // In every language, and the words fit (the page opens on the current mode).
    open(false);
    const uint8_t was = g_language;
    for (int lang = 0; lang < kLanguageCount; ++lang) {
        g_language = uint8_t(lang);
        page().language_changed();
        EXPECT_TRUE(form().label_LED->text().endsWith(QString::fromUtf8(notTaken[lang])));
        EXPECT_EQ(textsNotFitting(&page()), std::vector<std::string>()) << lang;
        shot(QString("not-taken-%1").arg(lang));
    }
    g_language = was;
    page().language_changed();
    // A mode whose size is taken reads as usual.
    put(4, 1378, 1920);
    keys({kKeyLeft, kKeyRight});
    EXPECT_EQ(form().label_LED->text(), "LED size:1920x1080");
    EXPECT_EQ(panel_style::stateOf(form().label_LED), panel_style::kNormal);
}

// A PC's recall the box refuses (RAM 866 naming an empty slot, or no mode) leaves the mode
// invoked before in use: RAM 866 reads it again at once, and after a later apply the page
// marks it Using.
TEST_F(UserModePage, ARefusedRecallLeavesTheModeInvokedBeforeInUse) {
    link_session pc(LinkKind::Tcp, "test");
    const auto statusOf = [&](const Bytes& b) {
        const Bytes reply = askSession(pc, b);
        return reply.size() > 10 ? reply[10] : 0xEE;
    };
    for (uint16_t refused : {9, 17}) {
        SCOPED_TRACE(refused);
        saveMode(2);
        store().wr16_no_gen_bump(ZemRamPara::kRamCurrentMode, 0);  // the page opens on mode 1
        invoke(2);
        ASSERT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 3);
        EXPECT_EQ(statusOf(writeRam(866, le16(refused))), 0);
        EXPECT_EQ(statusOf(writeReg(11, 0xFF, {0x02})), 1);
        EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 3);
        EXPECT_EQ(statusOf(writeReg(11, 0xFF, {0})), 0);  // a later apply
        refresh(1);
        keys({kKeyRight, kKeyLeft});  // the summary is drawn again
        EXPECT_TRUE(form().label_using->isVisible());
        shot(QString("refused-recall-%1").arg(refused));
        stopPanel();
    }
}

TEST_F(UserModePage, InvokeTouchedAfterThePcEmptiedTheSlotChangesNothing) {
    saveMode(0);
    open(false);
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store().mode_ram[0][0] = 0xFF;
    }
    click("Button_use");
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 0);
    EXPECT_EQ(takeApply(), 0);
}

TEST_F(UserModePage, DeleteRemovesTheFileAndShowsTheEmptyMode) {
    saveMode(0);
    store().wr16_no_gen_bump(ZemRamPara::kRamCurrentMode, 1);
    open(false);
    ASSERT_TRUE(exists("/data/modes/custom_mode1"));
    keys({kKeyOk, kKeyRight, kKeyOk});  // the row, Delete
    EXPECT_FALSE(exists("/data/modes/custom_mode1"));
    EXPECT_EQ(store().ZemUserModeSaved(0), 0);
    EXPECT_TRUE(form().label_blank->isVisible());
    EXPECT_FALSE(form().label_using->isVisible());
    EXPECT_EQ(store().rd16(ZemRamPara::kRamCurrentMode), 1) << "the current mode stays";
    EXPECT_EQ(takeApply(), 0);
    shot("deleted");
    // The main menu's CALL grid, opened before any refresh has run, draws the slot blank.
    key(kKeyBack);
    ASSERT_EQ(g_page_focus, kPageMain);
    click("tools");
    click("toolButton3");
    EXPECT_EQ(g_mode[0]->styleSheet().toStdString(),
              "background-color: #B2B2B2;border-radius:5px;");
    shot("call-grid");
}

TEST_F(UserModePage, SelectorTouchSnapsBackToTheKeysMode) {
    saveMode(0);
    open(false);
    page().selector->box->setCurrentIndex(5);
    emit page().selector->box->activated(5);
    EXPECT_EQ(page().selector->box->currentIndex(), 0);
    EXPECT_EQ(page().ui_select, 0);
    EXPECT_EQ(form().label_ID->text(), "ID:1");
}

TEST_F(UserModePage, BackLeadsToTheMainMenuOrAfterModeToTheHomeScreen) {
    open(false);
    key(kKeyBack);
    settle();
    EXPECT_EQ(g_custommode, nullptr);
    EXPECT_EQ(g_page_focus, kPageMain);
    stopPanel();
    open(true);
    EXPECT_EQ(g_mode_shortcut_key, 1);
    key(kKeyBack);
    settle();
    EXPECT_EQ(g_custommode, nullptr);
    EXPECT_EQ(g_mode_shortcut_key, 0);
    EXPECT_EQ(g_page_focus, kPageHome);
    ASSERT_NE(g_lockwindow, nullptr);
    EXPECT_TRUE(g_lockwindow->isVisible());
}

}  // namespace
