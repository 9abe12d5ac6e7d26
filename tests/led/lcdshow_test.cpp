// The LCD display page as a user works it: the two rows' entries in five languages, edit mode,
// each row's edit starting from its own time, Back while editing, a language change while
// editing, touches on the combos, and the times kept for a reopened page.
#include "ui/led/lcdshow.h"

#include <QComboBox>
#include <QMouseEvent>

#include "combo_fit.h"
#include "core/globals.h"
#include "page_driver.h"
#include "ui_lcdshow.h"

namespace {

class LcdDisplayPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        g_back_to_mainwindow_time = 3000;  // as the program starts
        g_auto_lock_time = 30000;
    }
    void onPage(std::vector<Item> steps) {
        startPanel();
        steps.insert(steps.begin(), [] { panel::open(g_lcdshow, kPageLcdShow); });
        steps.push_back([this] {
            if (g_lcdshow) key(kKeyBack);
        });
        session(steps);
    }
    static QComboBox* back() { return g_lcdshow->ui->comboBox_back; }
    static QComboBox* lock() { return g_lcdshow->ui->comboBox_lock; }
    void setLanguage(int lang) {
        store().ram[ZemRamPara::kRamLanguage] = uint8_t(lang);
        store().test_signal(1);
    }
};

struct Row {
    int lang;
    const char* title;
    const char* back_label;
    const char* lock_label;
    const char* back30;
    const char* lock5;
    const char* never;
};

TEST_F(LcdDisplayPage, AFreshSystemShowsThirtySecondsAndFiveMinutesInEveryLanguage) {
    // clang-format off
    const Row rows[] = {
        {0, "液晶显示", "返回主界面时长", "自动锁屏", "30", "5分钟", "从不"},
        {1, "LCD display", "To main interface", "Auto-screen lock", "30", "5min", "Never"},
        {2, "ЖК дисплей", "Возврат к главному", "Автоблокировка", "30", "5 мин", "Отключить"},
        {3, "Màn hình LCD", "Quay lại màn hình chính", "Tự động khoá màn hình", "30", "5 phút", "Không bao giờ"},
        {4, "液晶顯示", "返回主界面時長", "自動鎖屏", "30", "5分鐘", "從不"},
    };
    // clang-format on
    onPage({[&] {
        for (const Row& r : rows) {
            SCOPED_TRACE(r.lang);
            setLanguage(r.lang);
            Ui::lcdshow* ui = g_lcdshow->ui;
            EXPECT_EQ(ui->label_LCDshow->text(), QString::fromUtf8(r.title));
            EXPECT_EQ(ui->label_backmainwindow->text(), QString::fromUtf8(r.back_label));
            EXPECT_EQ(ui->label_autolock->text(), QString::fromUtf8(r.lock_label));
            EXPECT_EQ(back()->currentText(), QString::fromUtf8(r.back30));
            EXPECT_EQ(lock()->currentText(), QString::fromUtf8(r.lock5));
            EXPECT_EQ(lock()->itemText(2), QString::fromUtf8(r.never));
            EXPECT_EQ(back()->itemText(2), QString::fromUtf8(r.never));
            for (const std::string& t : comboEntriesNotFitting(back())) ADD_FAILURE() << t;
            for (const std::string& t : comboEntriesNotFitting(lock())) ADD_FAILURE() << t;
            shot(QString("lang%1").arg(r.lang));
        }
    }});
}

// Return time 60 s, lock time 5 min: the lock row's edit starts at its own 5 minutes, not at
// the other row's entry.
TEST_F(LcdDisplayPage, EachRowsEditStartsFromItsOwnTime) {
    g_back_to_mainwindow_time = 6000;
    struct Case {
        std::vector<int> keys;  // on the lock row
        uint32_t lock_time;
        const char* shown;
    };
    const Case cases[] = {
        {{kKeyOk, kKeyOk}, 30000, "5min"},
        {{kKeyOk, kKeyRight, kKeyOk}, 60000, "10min"},
        {{kKeyOk, kKeyLeft, kKeyOk}, 120000, "Never"},
        {{kKeyOk, kKeyLeft, kKeyLeft, kKeyLeft, kKeyOk}, 30000, "5min"},
    };
    for (const Case& c : cases) {
        g_auto_lock_time = 30000;
        onPage({[&] {
            EXPECT_EQ(back()->currentText(), "60");
            key(kKeyRight);
            for (int k : c.keys) key(k);
            EXPECT_EQ(g_auto_lock_time, c.lock_time);
            EXPECT_EQ(lock()->currentText(), c.shown);
            EXPECT_EQ(panel_style::stateOf(lock()), panel_style::kFocus);
            EXPECT_EQ(g_back_to_mainwindow_time, 6000u);
        }});
        stopPanel();
    }
}

TEST_F(LcdDisplayPage, EditModeChoosesAndReopeningShowsTheChoice) {
    onPage({[this] {
                key(kKeyOk);
                EXPECT_EQ(panel_style::stateOf(back()), panel_style::kEdit);
                key(kKeyRight);
                EXPECT_EQ(back()->currentText(), "60");
                shot("editing");
                EXPECT_EQ(g_back_to_mainwindow_time, 3000u) << "written on OK only";
                key(kKeyOk);
                EXPECT_EQ(g_back_to_mainwindow_time, 6000u);
                keys({kKeyLeft, kKeyOk, kKeyLeft, kKeyOk});
                EXPECT_EQ(g_auto_lock_time, 120000u);
                key(kKeyBack);
                EXPECT_EQ(g_page_focus, kPageAdvancedOption);
            },
            [] { panel::open(g_lcdshow, kPageLcdShow); },
            [] {
                EXPECT_EQ(back()->currentText(), "60");
                EXPECT_EQ(lock()->currentText(), "Never");
            }});
}

TEST_F(LcdDisplayPage, BackWhileEditingKeepsBothTimes) {
    onPage({[this] {
        keys({kKeyOk, kKeyRight, kKeyRight});
        key(kKeyBack);
        EXPECT_EQ(g_lcdshow, nullptr);
        EXPECT_EQ(g_back_to_mainwindow_time, 3000u);
        EXPECT_EQ(g_auto_lock_time, 30000u);
    }});
}

TEST_F(LcdDisplayPage, ALanguageChangeWhileEditingEndsItAndRefillsBothRows) {
    onPage({[this] {
        keys({kKeyRight, kKeyOk, kKeyRight});
        EXPECT_EQ(lock()->currentText(), "10min");
        setLanguage(0);
        EXPECT_EQ(panel_style::stateOf(lock()), panel_style::kFocus);
        EXPECT_EQ(lock()->currentText(), QString::fromUtf8("5分钟")) << "refilled from the time";
        EXPECT_EQ(back()->currentText(), "30");
        shot("edit-ended");
        key(kKeyRight);  // not editing any more: moves the focus
        EXPECT_EQ(panel_style::stateOf(back()), panel_style::kFocus);
        EXPECT_EQ(g_auto_lock_time, 30000u);
    }});
}

TEST_F(LcdDisplayPage, ATouchedComboChangesNothing) {
    onPage({[this] {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(50, 10), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(lock(), &press);
        QWheelEvent wheel(QPointF(50, 10), QPointF(50, 10), QPoint(0, -120), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(back(), &wheel);
        EXPECT_EQ(back()->currentText(), "30");
        EXPECT_EQ(lock()->currentText(), "5min");
        EXPECT_EQ(g_page_focus, kPageLcdShow);
    }});
}

TEST_F(LcdDisplayPage, ModeClosesThePageUnlessTheKeysAreLocked) {
    onPage({[this] {
        store().wr16_no_gen_bump(772, 1);
        key(kKeyMode);
        EXPECT_NE(g_lcdshow, nullptr);
        store().wr16_no_gen_bump(772, 0);
        keys({kKeyOk, kKeyRight});
        key(kKeyMode);
        EXPECT_EQ(g_lcdshow, nullptr);
        EXPECT_EQ(g_mode_shortcut_key, 1);
        EXPECT_EQ(g_back_to_mainwindow_time, 3000u);
    }});
}

}  // namespace
