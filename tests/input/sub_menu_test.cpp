// The output, communication and picture menus: the focus ring for two and three entries, the
// words of each language fitting their buttons, the LED size line, touch (opens on the output
// and picture menus, nothing on the communication menu), Back to the options menu and the Mode
// shortcut closing the menus above the main menu.
#include <QLabel>
#include <QPushButton>

#include "core/globals.h"
#include "page_driver.h"
#include "ui/input/image_quality.h"
#include "ui/input/link_option.h"
#include "ui/input/output_set.h"
#include "ui/shell/main_window.h"
#include "ui/shell/option.h"
#include "ui_image_quality.h"
#include "ui_link_option.h"
#include "ui_output_set.h"

namespace {

QStringList g_log;
void keepLog(QtMsgType, const QMessageLogContext&, const QString& msg) {
    g_log << msg;
}

struct Menu {
    const char* name;
    int optionEntry;  // focus index on the options menu
    int id;
    std::vector<const char*> buttons;
    int lastPage;     // the page the last entry opens
    bool touchOpens;  // a touch on an entry opens its page too
};
const Menu kMenus[] = {
    {"output", 0, kPageOutputSet, {"Button_ledset", "Button_lanset"}, kPageNetSet, true},
    {"link",
     3,
     kPageLinkOption,
     {"Button_com", "Button_wlan", "Button_usb"},
     kPageFirmwareUsbGrade,
     false},
    {"quality",
     4,
     kPageImageQuality,
     {"Button_quality", "Button_temperature"},
     kPageTemperature,
     true},
};

class SubMenuPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        g_log.clear();
        old_ = qInstallMessageHandler(keepLog);
    }
    void TearDown() override {
        qInstallMessageHandler(old_);
        PanelTest::TearDown();
    }
    // Home screen, main menu, options menu, its entry, then the steps on the sub-menu.
    void onMenu(const Menu& m, std::vector<Item> steps) {
        startPanel();
        key(kKeyOk);
        std::vector<Item> all = {[this] {
                                     keys({kKeyRight, kKeyRight, kKeyRight, kKeyOk});
                                 },
                                 [this, m] {
                                     for (int i = 0; i < m.optionEntry; ++i) key(kKeyRight);
                                     key(kKeyOk);
                                 }};
        all.insert(all.end(), steps.begin(), steps.end());
        session(all);
    }
    int focusedOf(const Menu& m) const {
        for (size_t i = 0; i < m.buttons.size(); ++i)
            if (panel_style::stateOf(widget<QPushButton>(m.buttons[i])) == panel_style::kFocus)
                return int(i);
        return -1;
    }
    QtMessageHandler old_ = nullptr;
};

TEST_F(SubMenuPage, RingsWrapBothWaysAndOkOpensTheFocusedEntry) {
    for (const Menu& m : kMenus) {
        SCOPED_TRACE(m.name);
        std::vector<Item> steps = {[&] {
            EXPECT_EQ(g_page_focus, m.id);
            const int n = int(m.buttons.size());
            EXPECT_EQ(focusedOf(m), 0);
            key(kKeyLeft);
            EXPECT_EQ(focusedOf(m), n - 1);
            key(kKeyRight);
            EXPECT_EQ(focusedOf(m), 0);
            for (int i = 0; i < n - 1; ++i) key(kKeyRight);
            EXPECT_EQ(focusedOf(m), n - 1);
            key(kKeyOk);  // the page runs the next step in its loop
        }};
        steps.push_back([&] {
            EXPECT_EQ(g_page_focus, m.lastPage);
            for (int n = 0; n < 5 && panel::page(m.lastPage); ++n) key(kKeyBack);
            EXPECT_EQ(g_page_focus, m.id);
            keys({kKeyBack, kKeyBack});
        });
        onMenu(m, steps);
        EXPECT_EQ(g_page_focus, kPageMain);
        stopPanel();
    }
}

TEST_F(SubMenuPage, TouchOpensOnTheOutputAndPictureMenusOnly) {
    for (const Menu& m : kMenus) {
        SCOPED_TRACE(m.name);
        std::vector<Item> steps = {[&] {
            click(m.buttons.back());  // an opened page runs the next step in its loop
            if (m.touchOpens) return;
            EXPECT_EQ(g_page_focus, m.id);
            EXPECT_EQ(panel::page(m.lastPage), nullptr);
            keys({kKeyBack, kKeyBack});
        }};
        if (m.touchOpens)
            steps.push_back([&] {
                EXPECT_EQ(g_page_focus, m.lastPage);
                for (int n = 0; n < 5 && panel::page(m.lastPage); ++n) key(kKeyBack);
                keys({kKeyBack, kKeyBack});
            });
        onMenu(m, steps);
        stopPanel();
    }
}

TEST_F(SubMenuPage, EveryLanguageFitsAndTheLedLineShowsTheLiveSize) {
    store().wr16_no_gen_bump(1378, 1920);
    store().wr16_no_gen_bump(1380, 1080);
    for (const Menu& m : kMenus) {
        SCOPED_TRACE(m.name);
        onMenu(m, {[&] {
                   PageFrame* page = panel::front();
                   for (int lang = 0; lang < 5; ++lang) {
                       g_language = uint8_t(lang);
                       page->language_changed();
                       const auto wide = textsNotFitting(page->widget());
                       EXPECT_TRUE(wide.empty()) << lang << ": " << (wide.empty() ? "" : wide[0]);
                       shot(QString("%1-language-%2").arg(m.name).arg(lang));
                   }
                   g_language = 1;
                   page->language_changed();
                   if (m.id == kPageOutputSet) {
                       EXPECT_EQ(opened(g_outputset)->ui->label_info->text(),
                                 "Current LED size:1920x1080");
                       // The live size, read again when the page is re-texted.
                       store().wr16_no_gen_bump(1378, 3840);
                       page->language_changed();
                       EXPECT_EQ(opened(g_outputset)->ui->label_info->text(),
                                 "Current LED size:3840x1080");
                       store().wr16_no_gen_bump(1378, 1920);
                   }
                   keys({kKeyBack, kKeyBack});
               }});
        stopPanel();
    }
}

// The communication menu's words in each language; a word broken over two lines carries its
// hyphen.
TEST_F(SubMenuPage, TheCommunicationMenusWordsInEachLanguage) {
    onMenu(kMenus[1], {[&] {
                           wordsInEachLanguage(
                               [] { opened(g_linkoption)->language_changed(); },
                               {"label_title", "Button_com", "Button_wlan", "Button_usb"},
                               {
                                   {"通讯设置", "串口连接", "网口设置", "USB升级"},
                                   {"Communication", "Serial port", "Net connect", "USB UPDATE"},
                                   {"Подключение", "COM-порт", "Сетевое под-\nключение",
                                    "Обновление\nчерез USB"},
                                   {"Cài đặt giao tiếp", "Cài đặt cổng\n nối tiếp",
                                    "Cài đặt\ncổng mạng", "Sử dụng ổ USB\nđể cập nhật"},
                                   {"通訊設置", "串口連接", "網口設置", "USB升級"},
                               },
                               "link-words");
                           key(kKeyBack);
                       },
                       [this] { key(kKeyBack); }});
}

TEST_F(SubMenuPage, ModeClosesTheMenusAboveTheMainMenu) {
    onMenu(kMenus[1], {[this] {
               key(kKeyMode);
               EXPECT_EQ(g_linkoption, nullptr);
               EXPECT_EQ(g_option, nullptr);
               EXPECT_EQ(g_mode_shortcut_key, 1);
           }});
    EXPECT_NE(g_mainwindow, nullptr);
}

}  // namespace

namespace {

// The pages built under the menus open from their entries and Back returns to the menu.
TEST_F(SubMenuPage, MenusOpenTheirBuiltPages) {
    struct Case {
        int menu;
        int entry;  // Right presses before OK
        int page;
    };
    for (const Case c : {Case{0, 0, kPageLedSet}, Case{0, 1, kPageNetSet}, Case{1, 0, kPageLinkCom},
                         Case{1, 1, kPageLinkWlan}, Case{2, 0, kPageQuality}}) {
        SCOPED_TRACE(c.page);
        const Menu& m = kMenus[c.menu];
        onMenu(m, {[this, c] {
                       for (int i = 0; i < c.entry; ++i) key(kKeyRight);
                       key(kKeyOk);
                   },
                   [this, c, m] {
                       EXPECT_EQ(g_page_focus, c.page);
                       ASSERT_NE(panel::page(c.page), nullptr);
                       for (int n = 0; n < 5 && panel::page(c.page); ++n) key(kKeyBack);
                       EXPECT_EQ(g_page_focus, m.id);
                       keys({kKeyBack, kKeyBack});
                   }});
        EXPECT_EQ(g_page_focus, kPageMain);
        stopPanel();
    }
}

}  // namespace
