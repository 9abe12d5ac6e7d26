// The options menu as a user works it: the focus ring both ways with its styles, the pictures
// and title in each language (the English advanced picture has its own name), the entries by OK
// and by touch, Smart mapping by OK only, a USB disk mounted, Back, and the Mode shortcut.
#include "ui/shell/option.h"

#include <QLabel>
#include <QPushButton>
#include <thread>

#include "comm/comm_bridge.h"
#include "core/globals.h"
#include "page_driver.h"
#include "ui/input/output_set.h"
#include "ui/led/smart_mapping.h"
#include "ui/shell/main_window.h"
#include "ui_option.h"

namespace {

// Log lines of the openers of pages not built yet.
QStringList g_log;
void keepLog(QtMsgType, const QMessageLogContext&, const QString& msg) {
    g_log << msg;
}

class OptionPage : public PanelTest {
protected:
    // From the home screen to the main menu, its fourth entry, OK; the steps run on the menu.
    void onPage(std::vector<Item> steps, bool backAtEnd = true) {
        startPanel();
        key(kKeyOk);
        std::vector<Item> all = {[this] { keys({kKeyRight, kKeyRight, kKeyRight, kKeyOk}); }};
        all.insert(all.end(), steps.begin(), steps.end());
        if (backAtEnd) all.push_back([this] { key(kKeyBack); });
        session(all);
    }
    Option& page() const { return *opened(g_option); }
    // The entry with the focus style, in focus order; -1 for none.
    int focused() const {
        const QPushButton* buttons[8] = {page().ui->output_set,    page().ui->input_cut,
                                         page().ui->image_layout,  page().ui->link_set,
                                         page().ui->image_quality, page().ui->test_chart,
                                         page().ui->smart_mapping, page().ui->AdvanceButton};
        for (int i = 0; i < 8; ++i)
            if (panel_style::stateOf(buttons[i]) == panel_style::kFocus) return i;
        return -1;
    }
};

TEST_F(OptionPage, FocusRingsBothWaysAndMainMenuComesBack) {
    onPage({[this] {
        ASSERT_NE(g_option, nullptr);
        EXPECT_EQ(g_page_focus, kPageOption);
        EXPECT_EQ(panel_style::stateOf(page().ui->output_set), panel_style::kFocus);
        key(kKeyLeft);
        EXPECT_EQ(focused(), 7);
        EXPECT_EQ(panel_style::stateOf(page().ui->AdvanceButton), panel_style::kFocus);
        EXPECT_NE(panel_style::stateOf(page().ui->output_set), panel_style::kFocus);
        key(kKeyRight);
        EXPECT_EQ(focused(), 0);
        for (int i = 0; i < 5; ++i) key('R');
        EXPECT_EQ(focused(), 5);
        EXPECT_EQ(panel_style::stateOf(page().ui->test_chart), panel_style::kFocus);
        shot("focus-test-chart");
    }});
    EXPECT_EQ(g_option, nullptr);
    EXPECT_EQ(g_page_focus, kPageMain);
}

// The PC deletes a smart-mapping file from a link thread while the menu is in front: the menu
// re-texts itself (here it meets a language set meanwhile); a deleted recovery file leaves it.
TEST_F(OptionPage, APcDeletingASmartMappingFileReTextsTheMenu) {
    onPage({[this] {
               ASSERT_EQ(page().ui->label_title->text(), "Setting");
               const uint8_t was = g_language;
               g_language = 3;  // unseen until a re-text
               std::thread recovery([] { emit comm_bridge::pInstance()->sig_file_deleted(1); });
               recovery.join();
               settle();
               EXPECT_EQ(page().ui->label_title->text(), "Setting");
               std::thread mapping([] { emit comm_bridge::pInstance()->sig_file_deleted(0); });
               mapping.join();
               settle();
               EXPECT_EQ(page().ui->label_title->text(), QString::fromUtf8("Cài đặt"));
               shot("re-texted");
               g_language = was;
               key(kKeyBack);
           }},
           false);
}

TEST_F(OptionPage, EachLanguageHasItsTitleAndPictures) {
    struct Case {
        int language;
        const char* title;
        const char* advance;
        int outputWidth;
    };
    const Case cases[] = {
        {0, "设置", ":/png/AdvanceButton.png", 55},
        {1, "Setting", ":/png/en_advance_option.png", 75},
        {2, "Настройки", ":/png/ru_AdvanceButton.png", 55},
        {3, "Cài đặt", ":/png/vn_AdvanceButton.png", 55},
        {4, "設置", ":/png/tn_AdvanceButton.png", 55},
    };
    onPage({[&] {
        for (const Case& c : cases) {
            g_language = uint8_t(c.language);
            page().language_changed();
            EXPECT_EQ(page().ui->label_title->text(), QString::fromUtf8(c.title));
            EXPECT_FALSE(QIcon(c.advance).isNull()) << c.advance;
            EXPECT_EQ(page().ui->AdvanceButton->property(kIconFileProperty).toString(), c.advance);
            EXPECT_EQ(page().ui->output_set->iconSize(), QSize(c.outputWidth, 60));
            EXPECT_FALSE(page().ui->smart_mapping->icon().isNull());
            EXPECT_TRUE(textsNotFitting(&page()).empty()) << c.language;
            shot(QString("language-%1").arg(c.language));
        }
        // A language whose bit is off falls back to English.
        g_language = 2;
        g_lcd_lang_valid = 0x1F & ~(1 << 2);
        page().language_changed();
        EXPECT_EQ(page().ui->label_title->text(), "Setting");
    }});
}

TEST_F(OptionPage, SmartMappingOpensByOkOnlyOtherEntriesByTouchToo) {
    g_log.clear();
    const QtMessageHandler old = qInstallMessageHandler(keepLog);
    onPage({[this] {
                EXPECT_FALSE(page().ui->smart_mapping->isEnabled());
                click("smart_mapping");
                EXPECT_FALSE(g_log.join('\n').contains("smart mapping"));
                for (int i = 0; i < 6; ++i) key(kKeyRight);
                key(kKeyOk);  // the wizard's loop runs the next step
            },
            [this] {
                EXPECT_EQ(g_page_focus, kPageSmartMapping);
                EXPECT_NE(g_smartmapping, nullptr);
                key(kKeyBack);
                EXPECT_EQ(g_page_focus, kPageOption);
                click("output_set");  // the output menu's loop runs the next steps
            },
            [this] {
                EXPECT_EQ(g_page_focus, kPageOutputSet);
                EXPECT_NE(g_outputset, nullptr);
                key(kKeyBack);
            },
            [this] {
                EXPECT_EQ(g_page_focus, kPageOption);
                EXPECT_EQ(focused(), 6);  // where the user left it
            }});
    qInstallMessageHandler(old);
}

TEST_F(OptionPage, UsbDiskMountedClosesTheMenu) {
    onPage({[this] {
               // Any other refresh leaves it open.
               refresh(1);
               EXPECT_NE(g_option, nullptr);
               refresh(102);
               EXPECT_EQ(g_option, nullptr);
               EXPECT_EQ(g_page_focus, kPageMain);
           }},
           false);
    EXPECT_EQ(g_page_focus, kPageMain);
}

TEST_F(OptionPage, ModeKeyRefusedWhileLocked) {
    store().wr16_no_gen_bump(772, 1);
    onPage({[this] {
        key(kKeyMode);
        EXPECT_EQ(g_page_focus, kPageOption);
        EXPECT_NE(g_option, nullptr);
    }});
}

// The layout and advanced entries open their pages, by OK and by touch; Back returns here.
TEST_F(OptionPage, LayoutAndAdvancedEntriesOpenTheirPages) {
    struct Case {
        const char* button;
        int entry;
        int page;
    };
    for (const Case c : {Case{"image_layout", 2, kPageImageLayout},
                         Case{"AdvanceButton", 7, kPageAdvancedOption}}) {
        SCOPED_TRACE(c.button);
        onPage({[this, c] {
                    for (int i = 0; i < c.entry; ++i) key(kKeyRight);
                    key(kKeyOk);
                },
                [this, c] {
                    EXPECT_EQ(g_page_focus, c.page);
                    key(kKeyBack);
                },
                [this, c] {
                    EXPECT_EQ(g_page_focus, kPageOption);
                    click(c.button);
                },
                [this, c] {
                    EXPECT_EQ(g_page_focus, c.page);
                    key(kKeyBack);
                }});
        EXPECT_EQ(g_page_focus, kPageMain);
        stopPanel();
    }
}

}  // namespace
