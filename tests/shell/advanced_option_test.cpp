// The advanced options menu: the recovery entry by whether the recovery folder holds files
// (empty, filled, 256 files, missing, a file the PC finished, a PC delete from a link thread),
// and the access code of the aging entry typed on the keypad.
#include "ui/shell/advanced_option.h"

#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <thread>

#include "comm/comm_bridge.h"
#include "fpga/fpga_manage.h"
#include "page_driver.h"
#include "ui/shell/number_keyboard.h"

namespace {

// Child pages not part of the program yet stand in as counters of their openers, noting how
// many event loops ran when they were opened.
int g_opened[kPageCount];
int g_loops_at[kPageCount];

template <int Id>
void standIn() {
    panel::registerPage(Id, {[]() -> PageFrame* { return nullptr; }, [] {},
                             [] {
                                 ++g_opened[Id];
                                 g_loops_at[Id] = QThread::currentThread()->loopLevel();
                             }});
}

class AdvancedOptions : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        fpga_manage::pInstance();
        removeTree(local("/data/rcvrecovery"));
        std::fill(std::begin(g_opened), std::end(g_opened), 0);
        startPanel();
        standIn<kPageRcvRecovery>();
        standIn<kPageFactoryAge>();
        key(kKeyOk);
    }
    void TearDown() override {
        for (int id : {kPageRcvRecovery, kPageFactoryAge}) panel::registerPage(id, {});
        PanelTest::TearDown();
    }
    void recoveryFiles(int n) {
        for (int i = 0; i < n; ++i)
            writeFile("/data/rcvrecovery/rcv" + std::to_string(i) + ".bin", "x");
    }
    // The page opened from the options menu's entry; Back at the end of the body's step.
    void onPage(const Step& body) {
        session({[] { panel::openRegistered(kPageAdvancedOption); },
                 [this, body] {
                     body();
                     if (g_advancedoption) key(kKeyBack);
                 }});
    }
    // The style state the menu drew the recovery entry in.
    panel_style::State recoveryStyle() {
        return panel_style::stateOf(widget<QPushButton>("Button_rcv_recovery"));
    }
};

TEST_F(AdvancedOptions, RecoveryEntryByTheFolder) {
    struct Case {
        const char* name;
        int files;  // -1: no folder
        bool available;
    };
    const Case cases[] = {
        {"missing", -1, false}, {"empty", 0, false}, {"one", 1, true}, {"256", 256, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        removeTree(local("/data/rcvrecovery"));
        if (c.files >= 0) platform::makeParentDirs("/data/rcvrecovery/x");
        recoveryFiles(c.files);
        g_opened[kPageRcvRecovery] = 0;
        onPage([&] {
            keys({kKeyRight, kKeyRight});
            EXPECT_EQ(recoveryStyle(),
                      c.available ? panel_style::kFocus : panel_style::kDimmedFocus);
            key(kKeyOk);
            EXPECT_EQ(g_opened[kPageRcvRecovery], c.available ? 1 : 0);
            shot(c.name);
            key(kKeyRight);
            if (!c.available) {
                EXPECT_EQ(recoveryStyle(), panel_style::kDimmed);
            }
        });
    }
}

// Each entry named for the page it opens, in each language, under the title in its place.
TEST_F(AdvancedOptions, EachLanguageNamesEachEntryForWhatItOpens) {
    onPage([&] {
        EXPECT_EQ(widget<QLabel>("label_title")->geometry(), QRect(78, 10, 164, 22));
        wordsInEachLanguage(
            [] { g_advancedoption->language_changed(); },
            {"label_title", "Button_LCDshow", "Button_other", "Button_rcv_recovery",
             "Button_factory", "Button_age"},
            {
                {"高级设置", "液晶显示", "其他设置", "接收卡自恢复", "工厂设置", "工厂老化"},
                {"Advanced Settings", "LCD display", "Others", "Rcv\nself-recovery", "Factory",
                 "Aging"},
                {"Доп.опции", "ЖК\nдисплей", "Другие\nнастройки", "Самовосста-\nновление",
                 "Системные\nнастройки", "Тест\nстарения"},
                {"Cài đặt nâng cao", "Màn hình\nLCD", "Cài đặt\nkhác", "Thẻ nhận tự\nphục hồi",
                 "Cài đặt\nnhà máy", "Lão hóa\nnhà máy"},
                {"高級設置", "液晶顯示", "其他設置", "接收卡自恢復", "工廠設置", "工廠老化"},
            },
            "words");
    });
}

TEST_F(AdvancedOptions, AFileThePcFinishedAndFilesThePcDeleted) {
    platform::makeParentDirs("/data/rcvrecovery/x");
    onPage([&] {
        keys({kKeyRight, kKeyRight});
        recoveryFiles(1);
        refresh(1);
        EXPECT_EQ(recoveryStyle(), panel_style::kDimmedFocus) << "only the file end recounts";
        refresh(103);
        EXPECT_EQ(recoveryStyle(), panel_style::kFocus);
        removeTree(local("/data/rcvrecovery"));
        platform::makeParentDirs("/data/rcvrecovery/x");
        std::thread link([] { emit comm_bridge::pInstance()->sig_file_deleted(1); });
        link.join();
        settle();
        EXPECT_EQ(recoveryStyle(), panel_style::kDimmedFocus);
        key(kKeyOk);
        EXPECT_EQ(g_opened[kPageRcvRecovery], 0);
        shot("deleted");
    });
}

TEST_F(AdvancedOptions, ADeleteActsOnlyWithThePageInFront) {
    platform::makeParentDirs("/data/rcvrecovery/x");
    recoveryFiles(2);
    onPage([&] {
        removeTree(local("/data/rcvrecovery"));
        platform::makeParentDirs("/data/rcvrecovery/x");
        g_page_focus = kPageFactory;  // a child page over it
        emit comm_bridge::pInstance()->sig_file_deleted(1);
        settle();
        g_page_focus = kPageAdvancedOption;
        keys({kKeyRight, kKeyRight});
        EXPECT_EQ(recoveryStyle(), panel_style::kFocus);
        emit comm_bridge::pInstance()->sig_file_deleted(0);  // the smart-mapping folder
        settle();
        EXPECT_EQ(recoveryStyle(), panel_style::kFocus);
    });
}

TEST_F(AdvancedOptions, AgingOpensOnlyWithTheRightCode) {
    struct Case {
        const char* name;
        std::vector<const char*> buttons;
        int opened;
    };
    const Case cases[] = {
        {"right", {"Button9", "Button5", "Button6", "Button9"}, 1},
        {"wrong", {"Button1", "Button2", "Button3", "Button4"}, 0},
        {"five digits", {"Button9", "Button5", "Button6", "Button9", "Button1"}, 0},
        {"asterisks", {}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_opened[kPageFactoryAge] = 0;
        int menu_loops = 0;
        session({[] { panel::openRegistered(kPageAdvancedOption); },
                 [this, &menu_loops] {
                     menu_loops = QThread::currentThread()->loopLevel();
                     keys({kKeyLeft, kKeyOk});
                 },  // Aging: the keypad's loop
                 [this, &c] {
                     EXPECT_EQ(front(), g_numberkeyboard);
                     EXPECT_EQ(g_numberkeyboard->text(), "**********");
                     for (const char* b : c.buttons) click(b);
                     shot(c.name);
                     click("Button_ok");
                 },
                 [this, &c, &menu_loops] {
                     EXPECT_EQ(g_opened[kPageFactoryAge], c.opened);
                     if (c.opened) {
                         EXPECT_EQ(g_loops_at[kPageFactoryAge], menu_loops)
                             << "opened from the menu's loop, once the keypad's has returned";
                     }
                     EXPECT_EQ(g_page_focus, kPageAdvancedOption);
                     key(kKeyBack);
                 }});
    }
}

TEST_F(AdvancedOptions, OkAndBackHintsUnderTheMenu) {
    onPage([this] {
        for (auto hint : {std::make_pair("label_note_OK", pic::kOkEnter),
                          std::make_pair("label_note_back", pic::kBackReturn)}) {
            auto* label = find<QLabel>(hint.first);
            ASSERT_NE(label, nullptr) << hint.first;
            EXPECT_TRUE(label->isVisible());
            const QImage shown = label->pixmap(Qt::ReturnByValue).toImage();
            ASSERT_FALSE(shown.isNull());
            EXPECT_EQ(shown, QPixmap(pictureOf(hint.second)).toImage());
            EXPECT_EQ(label->y(), 220) << "under the menu, where the options menu has it";
        }
        shot("hints");
    });
}

// The recovery entry's one Russian word, too long for a line, is broken with a hyphen.
TEST_F(AdvancedOptions, TheRussianRecoveryWordBreaksWithAHyphen) {
    store().ram[ZemRamPara::kRamLanguage] = 2;
    g_language = 2;
    onPage([this] {
        const QStringList lines = widget<QPushButton>("Button_rcv_recovery")->text().split('\n');
        ASSERT_EQ(lines.size(), 2);
        EXPECT_TRUE(lines[0].endsWith('-')) << lines.join("|").toStdString();
        shot("russian");
    });
}

TEST_F(AdvancedOptions, TheCodeIsAskedInRussianAsPassword) {
    store().ram[ZemRamPara::kRamLanguage] = 2;
    g_language = 2;
    session({[] { panel::openRegistered(kPageAdvancedOption); },
             [this] {
                 keys({kKeyLeft, kKeyOk});
             },
             [this] {
                 for (const std::string& t : textsNotFitting(g_numberkeyboard)) ADD_FAILURE() << t;
                 QStringList texts;
                 for (QLabel* l : g_numberkeyboard->findChildren<QLabel*>()) texts << l->text();
                 EXPECT_TRUE(texts.contains("Пароль")) << texts.join("|").toStdString();
                 shot("password");
                 click("Button_close");
             },
             [this] { key(kKeyBack); }});
}

}  // namespace
