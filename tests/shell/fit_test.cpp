// Every text of the frame's pages fits its widget in the panel font, in all five languages:
// one table per page of the states that show different texts.
#include <QLabel>
#include <cstring>

#include "page_driver.h"
#include "ui/input/custom_mode.h"
#include "ui/input/input_choose.h"
#include "ui/input/input_cut.h"
#include "ui/led/lcdshow.h"
#include "ui/led/ledset.h"
#include "ui/led/rcv_recovery.h"
#include "ui/led/smart_mapping.h"
#include "ui/led/test_chart.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/main_window.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/option.h"
#include "ui/system/factory.h"
#include "ui/system/factoryage.h"
#include "ui/system/firmware_usbgrade.h"
#include "ui/system/linkcom.h"
#include "ui/system/linkwlan.h"
#include "ui/system/netset.h"
#include "ui/system/othersetup.h"

namespace {

const char* const kLanguageName[kLanguageCount] = {"zh_CN", "en", "ru", "vi", "zh_TW"};

class TextsFit : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        saveSlot(0, 1);
        store().ram[ZemRamPara::kRamCurrentMode] = 1;  // slot 1 in use: its cell says so
        for (int w = 0; w < 6; ++w) store().wr16(ZemRamPara::windowAddr(w, 0), 1);
        std::memcpy(store().shadow, store().ram, sizeof store().ram);
        startPanel();
    }
    // The page in front in each language: every text fits, and a screenshot of each.
    void inEachLanguage(const char* state, const std::function<QWidget*()>& page) {
        for (int lang = 0; lang < kLanguageCount; ++lang) {
            SCOPED_TRACE(kLanguageName[lang]);
            store().ram[ZemRamPara::kRamLanguage] = uint8_t(lang);
            store().shadow[ZemRamPara::kRamLanguage] = 0xEE;  // a language change
            refresh(1);
            if (PageFrame* f = panel::front()) f->language_changed();
            QWidget* root = page();
            ASSERT_NE(root, nullptr);
            for (const std::string& t : textsNotFitting(root)) ADD_FAILURE() << t;
            shot(QString("%1-%2").arg(state, kLanguageName[lang]));
        }
    }
    // A page opened by its id from the main menu, in each language, then closed by Back.
    void openedInEachLanguage(int id) {
        key(kKeyOk);
        session({[id] { panel::openRegistered(id); },
                 [this, id] {
                     inEachLanguage(page_table::className(id),
                                    [id] { return panel::page(id)->widget(); });
                     while (panel::page(id)) key(kKeyBack);
                 }});
    }
};

TEST_F(TextsFit, HomeScreen) {
    inEachLanguage("home", [] { return g_lockwindow; });
}

TEST_F(TextsFit, MainMenuWithItsToolsAndGrids) {
    key(kKeyOk);
    inEachLanguage("menu", [] { return g_mainwindow; });
    click("tools");
    inEachLanguage("tools", [] { return g_mainwindow; });
    click("toolButton3");
    inEachLanguage("call", [] { return g_mainwindow; });
    EXPECT_EQ(find<QWidget>("widget_mode")->findChildren<QLabel*>().first()->text(), "用戶模式調用")
        << "the open grid takes the new language";
    click("toolButton4");
    inEachLanguage("save", [] { return g_mainwindow; });
}

TEST_F(TextsFit, SourcePageAtEachLevel) {
    key(kKeyOk);
    session({[] { g_mainwindow->on_inputchoose_clicked(); },
             [this] {
                 inEachLanguage("tabs", [] { return g_inputchoose; });
                 key(kKeyOk);
                 key(kKeyOk);
                 inEachLanguage("list", [] { return g_inputchoose; });
                 QStringList words;
                 for (QLabel* l : g_inputchoose->frame->findChildren<QLabel*>()) words << l->text();
                 EXPECT_TRUE(words.contains("無信號")) << "the list takes the new language";
                 while (g_inputchoose) key(kKeyBack);
             }});
}

TEST_F(TextsFit, OptionsMenu) {
    key(kKeyOk);
    session({[] { g_mainwindow->on_option_clicked(); },
             [this] {
                 inEachLanguage("options", [] { return g_option; });
                 key(kKeyBack);
             }});
}

TEST_F(TextsFit, OutputMenu) {
    key(kKeyOk);
    session({[] { g_mainwindow->on_option_clicked(); }, [this] { key(kKeyOk); },
             [this] {
                 inEachLanguage("output", [] { return panel::front()->widget(); });
                 keys({kKeyBack, kKeyBack});
             }});
}

TEST_F(TextsFit, UserModePageOfASavedMode) {
    key(kKeyMode);
    inEachLanguage("usermode", [] { return g_custommode; });
}

TEST_F(TextsFit, CropEditorAddForm) {
    key(kKeyOk);
    session({[] { g_mainwindow->on_option_clicked(); },
             [this] {
                 keys({kKeyRight, kKeyOk});
             },
             [this] {
                 keys({kKeyOk, kKeyOk});  // the list, then Add
                 inEachLanguage("crop-add", [] { return g_inputcut; });
                 keys({kKeyBack, kKeyBack, kKeyBack, kKeyBack});
             }});
}

TEST_F(TextsFit, NumberKeypad) {
    key(kKeyOk);
    session({[] { g_numberkeyboard->open_for(nullptr, nullptr, "1..255", "12"); },
             [this] {
                 inEachLanguage("keypad", [] { return g_numberkeyboard; });
                 key(kKeyBack);
             }});
}

// The LED set-up, LCD display, test pattern and serial link pages, opened alone until their
// menus are built; the combo being edited where there is one.
TEST_F(TextsFit, LedSetPage) {
    key(kKeyOk);
    session({[] { panel::open(g_ledset, kPageLedSet); },
             [this] {
                 inEachLanguage("ledset", [] { return g_ledset; });
                 keys({kKeyRight, kKeyRight, kKeyOk, kKeyRight});
                 inEachLanguage("ledset-combo", [] { return g_ledset; });
                 keys({kKeyLeft, kKeyOk, kKeyBack});
             }});
}

TEST_F(TextsFit, LcdShowPage) {
    key(kKeyOk);
    session({[] { panel::open(g_lcdshow, kPageLcdShow); },
             [this] {
                 key(kKeyOk);
                 inEachLanguage("lcdshow", [] { return g_lcdshow; });
                 key(kKeyBack);
             }});
}

TEST_F(TextsFit, TestChartPage) {
    key(kKeyOk);
    session({[] { panel::open(g_test_chart, kPageTestChart); },
             [this] {
                 inEachLanguage("test_chart", [] { return g_test_chart; });
                 key(kKeyBack);
             }});
}

TEST_F(TextsFit, LinkComPage) {
    key(kKeyOk);
    session({[] { panel::open(g_linkcom, kPageLinkCom); },
             [this] {
                 inEachLanguage("linkcom", [] { return g_linkcom; });
                 key(kKeyBack);
             }});
}

TEST_F(TextsFit, PictureQualityPage) {
    openedInEachLanguage(kPageQuality);
}

TEST_F(TextsFit, ColourTemperaturePage) {
    openedInEachLanguage(kPageTemperature);
}

TEST_F(TextsFit, StatusPage) {
    openedInEachLanguage(kPageMachineState);
}

TEST_F(TextsFit, EdidPageWithItsEditRow) {
    key(kKeyOk);
    session({[] { panel::openRegistered(kPageEdidSet); },
             [this] {
                 key(kKeyOk);
                 inEachLanguage("edid", [] { return panel::page(kPageEdidSet)->widget(); });
                 while (panel::page(kPageEdidSet)) key(kKeyBack);
             }});
}

TEST_F(TextsFit, WindowLayoutPage) {
    openedInEachLanguage(kPageImageLayout);
}

TEST_F(TextsFit, AdvancedOptionsMenu) {
    openedInEachLanguage(kPageAdvancedOption);
}

TEST_F(TextsFit, SystemPagesOfTheAdvancedAndLinkMenus) {
    const std::pair<int, const char*> pages[] = {{kPageNetSet, "ports"},
                                                 {kPageLinkWlan, "ethernet"},
                                                 {kPageOtherSetup, "other"},
                                                 {kPageFactory, "factory"}};
    for (auto p : pages) {
        SCOPED_TRACE(p.second);
        session({[p] { panel::openRegistered(p.first); },
                 [this, p] {
                     inEachLanguage(p.second, [] { return panel::front()->widget(); });
                     key(kKeyBack);
                 }});
    }
}

TEST_F(TextsFit, UsbUpgradePage) {
    g_usb_grade_path = " ";
    session({[] { panel::openRegistered(kPageFirmwareUsbGrade); },
             [this] {
                 inEachLanguage("no-file", [] { return g_firmware_usbgrade; });
                 writeFile("/mnt/usb1/a-long-package-name-2026.ZEM", "x");
                 g_firmware_usbgrade->get_file_list_smartpath();
                 inEachLanguage("list", [] { return g_firmware_usbgrade; });
                 key(kKeyBack);
             }});
}

TEST_F(TextsFit, AgingPage) {
    for (int i = 0; i < 3360; ++i) factoryage_log << "12-31 23:59 255 31 255 255 0 255";
    session({[] { panel::openRegistered(kPageFactoryAge); },
             [this] {
                 for (int page = 1; page < 420; ++page) click("ButtonNext");
                 inEachLanguage("last-page", [] { return g_factoryage; });
                 key(kKeyBack);
             }});
    factoryage_log.clear();
}

TEST_F(TextsFit, RecoveryPage) {
    session({[] { panel::openRegistered(kPageRcvRecovery); },
             [this] {
                 inEachLanguage("no-cards", [] { return g_rcv_recovery; });
                 g_rcv_recovery->setResultList({"12/20/99/98"});
                 inEachLanguage("found", [] { return g_rcv_recovery; });
                 key(kKeyBack);
             }});
}

TEST_F(TextsFit, SmartMappingWizard) {
    writeFile("/data/smartmapping/screen.qzfile", "scan");
    writeFile("/mnt/usb1/usb.qzfile", "scan");
    key(kKeyOk);
    session({[] { panel::openRegistered(kPageSmartMapping); },
             [this] {
                 const auto page = [] { return g_smartmapping; };
                 inEachLanguage("smart-cabinet", page);
                 keys({kKeyOk, kKeyLeft, kKeyOk});
                 inEachLanguage("smart-port", page);
                 keys({kKeyLeft, kKeyOk});
                 inEachLanguage("smart-layout", page);
                 keys({kKeyRight, kKeyRight, kKeyOk});
                 inEachLanguage("smart-routing", page);
                 keys({kKeyBack, kKeyBack, kKeyBack, kKeyBack, kKeyRight, kKeyOk});
                 inEachLanguage("smart-scan-port", page);
                 keys({kKeyLeft, kKeyOk});
                 inEachLanguage("smart-files", page);
                 keys({kKeyBack, kKeyBack, kKeyRight});
                 inEachLanguage("smart-curing", page);
                 key(kKeyRight);
                 inEachLanguage("smart-mapping", page);
                 while (g_smartmapping) key(kKeyBack);
             }});
}

}  // namespace
