// The page frame as a user meets it on the main menu and the home screen: the focus ring, the
// key lock against each kind of key, the keypad's window letters, Back and the Mode shortcut
// through a chain of open pages, and the five languages with their pictures and font.
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "page_driver.h"
#include "ui/input/custom_mode.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/main_window.h"
#include "ui_lock_window.h"
#include "ui_main_window.h"

namespace {

constexpr int kRamKeyLock = 772;

bool applyPending() {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    return c331_manage::apply_pending();
}
void clearApply() {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    while (c331_manage::take_apply() != 0) {
    }
}

class PanelFrame : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        clearApply();
        startPanel();
        key(kKeyOk);  // from the home screen to the main menu
        ASSERT_EQ(g_page_focus, kPageMain);
    }
    Ui::MainWindow& menu() const { return *g_mainwindow->ui; }
    // The style state the page drew the item in.
    panel_style::State styleOf(QWidget* w) const { return panel_style::stateOf(w); }
    int refreshesOf(const std::function<void()>& action) {
        int n = 0;
        auto c = QObject::connect(&store(), &ZemRamPara::sig_update_para, [&n](int) { ++n; });
        action();
        QObject::disconnect(c);
        return n;
    }
};

TEST_F(PanelFrame, TheFocusWrapsBothWaysAndCarriesTheFocusStyle) {
    EXPECT_EQ(styleOf(menu().machinestate), panel_style::kFocus);
    shot("machinestate");
    key(kKeyLeft);
    EXPECT_EQ(styleOf(menu().tools), panel_style::kFocus)
        << "Left on item 0 lands on the last item";
    EXPECT_EQ(styleOf(menu().machinestate), panel_style::kNormal);
    shot("tools");
    key(kKeyRight);
    EXPECT_EQ(styleOf(menu().machinestate), panel_style::kFocus)
        << "Right on the last item lands on 0";
    keys({'R', 'R', 'R'});
    EXPECT_EQ(styleOf(menu().option), panel_style::kFocus);
    key(kKeyRight);
    EXPECT_EQ(styleOf(menu().option), panel_style::kNormal);
    EXPECT_EQ(styleOf(menu().Button_lock), panel_style::kFocus);
    shot("lock");
    key('S');
    EXPECT_EQ(styleOf(menu().option), panel_style::kFocus);
}

TEST_F(PanelFrame, TheKeyLockStopsTheKeypadLettersAndModeButNotTheFrontKeys) {
    // Window 1 is on, so 'B' could select it; window 0 shows HDMI1.
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(0, 0), 1);
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(1, 0), 1);
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(0, ZemRamPara::kWinSource), 2);
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(0, ZemRamPara::kWinOutFlags), 0);
    const int source = ZemRamPara::windowAddr(0, ZemRamPara::kWinSource);
    const int out = ZemRamPara::windowAddr(0, ZemRamPara::kWinOutFlags);
    struct Letter {
        int key;
        std::function<bool()> acted;
    };
    // Window 0's letters first: 'B' then moves the selection.
    const std::vector<Letter> letters = {
        {'G', [&] { return store().rd16(source) == 0; }},
        {'L', [&] { return store().rd16(source) == 3; }},
        {'N', [&] { return (store().rd16(out) & 2) != 0; }},
        {'P', [&] { return (store().rd16(out) & 1) != 0; }},
        {'B', [] { return g_image_current == 1; }},
    };
    click("Button_lock");
    ASSERT_EQ(store().rd16(kRamKeyLock), 1);
    for (const Letter& l : letters) {
        key(l.key);
        EXPECT_FALSE(l.acted()) << char(l.key) << " acted under the key lock";
    }
    EXPECT_FALSE(applyPending());
    for (int mode : {int(kKeyMode), int('M')}) {
        key(mode);
        EXPECT_EQ(g_mode_shortcut_key, 0) << "Mode under the key lock";
    }
    // The front keys and their twins keep working.
    keys({kKeyRight, 'R'});
    EXPECT_EQ(styleOf(menu().custommode), panel_style::kFocus);
    keys({'S', kKeyLeft});
    EXPECT_EQ(styleOf(menu().machinestate), panel_style::kFocus);
    shot("locked");

    // Unlocked by OK on the lock button: every letter acts, Mode too.
    keys({kKeyLeft, kKeyLeft, 'Q'});
    ASSERT_EQ(store().rd16(kRamKeyLock), 0);
    for (const Letter& l : letters) {
        key(l.key);
        EXPECT_TRUE(l.acted()) << char(l.key) << " did nothing without the key lock";
    }
    EXPECT_TRUE(applyPending());
    key('M');
    EXPECT_EQ(g_mode_shortcut_key, 1);
}

TEST_F(PanelFrame, AWindowLetterForAWindowThatIsOffLeavesTheSelection) {
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(1, 0), 0);
    EXPECT_EQ(refreshesOf([&] { key('B'); }), 0);
    EXPECT_EQ(g_image_current, 0);
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(1, 0), 1);
    EXPECT_EQ(refreshesOf([&] { key('B'); }), 1);
    EXPECT_EQ(g_image_current, 1);
    EXPECT_EQ(refreshesOf([&] { key('B'); }), 0) << "already selected";
    EXPECT_EQ(refreshesOf([&] { key('A'); }), 1);
    EXPECT_EQ(g_image_current, 0);
}

TEST_F(PanelFrame, BackOnTheMainMenuShowsAHomeScreenAndModeThereLeavesIt) {
    MainWindow* menuPage = g_mainwindow;
    key(kKeyBack);
    EXPECT_EQ(g_page_focus, kPageHome);
    ASSERT_NE(g_lockwindow, nullptr);
    EXPECT_TRUE(g_lockwindow->isVisible());
    EXPECT_EQ(g_mainwindow, menuPage) << "the main menu is never closed";
    shot("home");
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(100, 100), Qt::LeftButton, Qt::NoButton,
                   Qt::NoModifier);
    QCoreApplication::sendEvent(g_lockwindow->ui->widget, &up);  // a touch on the home screen
    EXPECT_EQ(g_page_focus, kPageMain);
    EXPECT_EQ(g_lockwindow, nullptr);
    key('O');
    ASSERT_NE(g_lockwindow, nullptr);
    key(kKeyMode);
    EXPECT_EQ(g_lockwindow, nullptr) << "the Mode shortcut closes the home screen";
    EXPECT_EQ(g_mode_shortcut_key, 1);
    settle();
    EXPECT_TRUE(g_mainwindow->isVisible());
}

// A page of the chain above the main menu, for the frame's open, Back and Mode rules.
class ChainPage : public PanelPage<QDialog, ChainPage> {
public:
    explicit ChainPage(int id) : PanelPage(id, nullptr) {
        auto* b = new QPushButton("item", this);
        focus.setItems({{b, panel_style::kSmall}});
    }
    void syncUpdate() {}
    void language_changed() override { ++retexts; }
    int retexts = 0;

protected:
    void keyBack() override { panel::back(this); }
};
ChainPage* g_option_page = nullptr;
ChainPage* g_output_page = nullptr;

TEST_F(PanelFrame, ModeClosesTheOpenChainInnermostFirstAndBackRetextsTheParent) {
    panel::registerPage(kPageOption, {[]() -> PageFrame* { return g_option_page; },
                                      [] { g_option_page = nullptr; }, nullptr});
    panel::registerPage(kPageOutputSet, {[]() -> PageFrame* { return g_output_page; },
                                         [] { g_output_page = nullptr; }, nullptr});
    QPointer<QWidget> option, output;
    auto openOption = [&] {
        g_option_page = new ChainPage(kPageOption);
        option = g_option_page;
        g_page_focus = kPageOption;
        g_option_page->exec();
    };
    auto openOutput = [&] {
        g_output_page = new ChainPage(kPageOutputSet);
        output = g_output_page;
        g_page_focus = kPageOutputSet;
        g_output_page->exec();
    };
    session({openOption, openOutput,
             [&] {
                 EXPECT_EQ(front(), output.data());
                 key(kKeyBack);  // back to the options page, re-texted
                 EXPECT_EQ(g_page_focus, kPageOption);
                 EXPECT_EQ(g_output_page, nullptr);
                 EXPECT_EQ(g_option_page->retexts, 1);
             },
             openOutput,
             [&] {
                 shot("chain");
                 key(kKeyMode);
             }});
    EXPECT_EQ(g_output_page, nullptr);
    EXPECT_EQ(g_option_page, nullptr);
    EXPECT_TRUE(option.isNull() && output.isNull()) << "closed pages are deleted";
    EXPECT_EQ(g_mode_shortcut_key, 1);
    EXPECT_TRUE(g_mainwindow->isVisible());
    // The stand-in pages leave the program's table as they found it.
    panel::registerPage(kPageOption, {});
    panel::registerPage(kPageOutputSet, {});
}

// The picture a button shows, as pixels.
QImage iconImage(QAbstractButton* b) {
    return b->icon().pixmap(b->iconSize()).toImage().convertToFormat(QImage::Format_ARGB32);
}
QImage resourceImage(const QString& file) {
    return QImage(file).convertToFormat(QImage::Format_ARGB32);
}

TEST_F(PanelFrame, EachLanguageShowsItsPicturesAndADisabledOneFallsBackToEnglish) {
    struct Case {
        const char* name;
        uint8_t language;
        uint32_t enabled;
        bool fromRam;  // chosen in the parameter RAM (else set as the language in force)
        const char* prefix;
        QSize inputSize;
        const char* callTitle;
    };
    const Case cases[] = {
        {"zh_CN", 0, 0x1F, true, "", {64, 64}, "用户模式调用"},
        {"en", 1, 0x1F, true, "en_", {90, 64}, "User mode invocation"},
        {"ru", 2, 0x1F, true, "ru_", {96, 76}, "Загрузка настроек"},
        {"vi", 3, 0x1F, true, "vn_", {96, 76}, "Điều chỉnh chế độ"},
        {"zh_TW", 4, 0x1F, true, "tn_", {64, 64}, "用戶模式調用"},
        // A disabled language chosen in the RAM moves to the first enabled one...
        {"ru_disabled_ram", 2, 0x1B, true, "", {64, 64}, "用户模式调用"},
        // ...and one in force though disabled is shown in English.
        {"ru_disabled", 2, 0x1B, false, "en_", {90, 64}, "User mode invocation"},
    };
    saveSlot(0, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_lcd_lang_valid = c.enabled;
        if (c.fromRam) {
            store().ram[ZemRamPara::kRamLanguage] = c.language;
            store().shadow[ZemRamPara::kRamLanguage] = 0xEE;  // differs: a language change
            refresh(1);
        } else {
            g_language = c.language;
            g_mainwindow->language_changed();
        }
        const QString prefix = QString(":/png/") + c.prefix;
        EXPECT_EQ(menu().inputchoose->iconSize(), c.inputSize);
        EXPECT_EQ(iconImage(menu().inputchoose), resourceImage(prefix + "inputchoose.png"));
        EXPECT_EQ(iconImage(menu().machinestate), resourceImage(prefix + "machinestate.png"));
        EXPECT_FALSE(resourceImage(prefix + "option.png").isNull());
        shot(QString("menu-") + c.name);
        keys({kKeyRight, kKeyRight, kKeyRight, kKeyRight, kKeyRight, kKeyOk, kKeyRight, kKeyRight,
              kKeyOk});
        QLabel* title = g_mainwindow->widget_mode->findChild<QLabel*>();
        ASSERT_NE(title, nullptr);
        EXPECT_EQ(title->text(), QString::fromUtf8(c.callTitle));
        shot(QString("grid-") + c.name);
        keys({kKeyBack, kKeyBack, kKeyLeft, kKeyLeft, kKeyLeft, kKeyLeft, kKeyLeft});
    }
}

TEST_F(PanelFrame, TheApplicationFontDrawsEveryTextOfTheFiveLanguages) {
    const QFont font = QApplication::font();
    EXPECT_EQ(QFontInfo(font).family(), kPanelFontFamily);
    const QFontMetrics fm(font);
    const char* const samples[] = {
        "用户模式调用 正在读取中，请稍候… U盘已接入",
        "用戶模式調用 正在讀取中，請稍候… U盤已拔出",
        "Сохранение настроек USB-накопитель подключен,пожалуйста,подождите... Использовать",
        "Điều chỉnh chế độ Usb đã truy cập xin vui lòng chờ … sử dụng USB đã được rút ra Đang đọc",
        "User mode invocation Reading the data,pls wait",
    };
    for (const char* s : samples) {
        for (uint c : QString::fromUtf8(s).toUcs4())
            EXPECT_TRUE(fm.inFontUcs4(c)) << "no glyph for U+" << std::hex << c;
    }
}

}  // namespace

namespace {

// Mode from the home screen shows the user-mode page over the main menu, and the hub reaches
// it: a language chosen on the PC re-texts it; its Back then leads home.
TEST_F(PanelFrame, AfterModeTheUserModePageIsInFrontAndRedrawsALanguageChangeFromThePc) {
    key(kKeyBack);  // the home screen again
    ASSERT_EQ(g_page_focus, kPageHome);
    key(kKeyMode);
    settle();
    EXPECT_EQ(g_lockwindow, nullptr);
    EXPECT_EQ(g_page_focus, kPageCustomMode);
    ASSERT_NE(g_custommode, nullptr);
    ASSERT_EQ(panel::front(), static_cast<PageFrame*>(g_custommode));
    store().ram[ZemRamPara::kRamLanguage] = 0;  // register 11 from the PC
    refresh(1);
    EXPECT_EQ(panelLanguage(), 0);
    EXPECT_EQ(g_custommode->findChild<QLabel*>("label_title")->text(), "用户模式");
    shot("user-mode-zh");
    key(kKeyBack);
    settle();
    EXPECT_EQ(g_page_focus, kPageHome);
}

}  // namespace
