// The test pattern page as a user works it: the focus ring over eight tiles and Close, OK
// putting a pattern in force under the C331 mutex, Back and Close taking it off, Mode leaving
// it on (and doing nothing under the key lock), touches that do nothing, five languages, and
// the pattern reaching the simulated chip through the C331 thread.
#include "ui/led/test_chart.h"

#include <QLabel>
#include <QPushButton>

#include "c331/c331_manage.h"
#include "page_driver.h"
#include "platform/clock.h"
#include "platform/sim/sim_box.h"
#include "ui_test_chart.h"

namespace {

class TestPatternPage : public PanelTest {
protected:
    void onPage(std::vector<Item> steps) {
        startPanel();
        steps.insert(steps.begin(), [] { panel::open(g_test_chart, kPageTestChart); });
        steps.push_back([this] {
            if (g_test_chart) key(kKeyBack);
        });
        session(steps);
    }
    int pattern() const { return store().ram[ZemRamPara::kRamTestPattern]; }
    // The index of the element drawn in focus, -1 when none or more than one has it.
    static int focused() {
        Ui::test_chart* ui = g_test_chart->ui;
        QWidget* const ring[9] = {ui->label_test1, ui->label_test2, ui->label_test3,
                                  ui->label_test4, ui->label_test5, ui->label_test6,
                                  ui->label_test7, ui->label_test8, ui->Button_closetest};
        int at = -1;
        for (int i = 0; i < 9; ++i) {
            if (panel_style::stateOf(ring[i]) != panel_style::kFocus) continue;
            if (at >= 0) return -1;
            at = i;
        }
        return at;
    }
};

TEST_F(TestPatternPage, TheFocusWrapsOverTheTilesAndClose) {
    onPage({[this] {
        EXPECT_EQ(focused(), 0);
        EXPECT_EQ(pattern(), 0) << "opening writes nothing";
        for (int i = 1; i <= 8; ++i) {
            key(kKeyRight);
            EXPECT_EQ(focused(), i);
        }
        shot("close-focused");
        key(kKeyRight);
        EXPECT_EQ(focused(), 0);
        key(kKeyLeft);
        EXPECT_EQ(focused(), 8);
        key('S');
        EXPECT_EQ(focused(), 7);
        EXPECT_EQ(takeApply(), 0) << "moving applies nothing";
    }});
}

TEST_F(TestPatternPage, OkPutsTheTilesPatternInForceAndBackTakesItOff) {
    onPage({[this] {
        key(kKeyOk);
        EXPECT_EQ(pattern(), 1);
        EXPECT_EQ(takeApply(), 1);
        keys({kKeyRight, kKeyRight, kKeyOk});
        EXPECT_EQ(pattern(), 3) << "replaced directly, no off between";
        EXPECT_EQ(takeApply(), 1);
        key(kKeyOk);
        EXPECT_EQ(pattern(), 3);
        EXPECT_EQ(takeApply(), 1) << "the same pattern applied again";
        EXPECT_EQ(store().ram[ZemRamPara::kRamTestPattern + 1], 0);
        shot("pattern-3");
        key(kKeyBack);
        EXPECT_EQ(pattern(), 0);
        EXPECT_EQ(takeApply(), 1);
        EXPECT_EQ(g_test_chart, nullptr);
        EXPECT_EQ(g_page_focus, kPageOption);
    }});
}

TEST_F(TestPatternPage, OkOnCloseTakesThePatternOffAndCloses) {
    onPage({[this] {
        keys({kKeyLeft, kKeyLeft, kKeyOk});  // tile 8
        EXPECT_EQ(pattern(), 8);
        key(kKeyRight);
        key(kKeyOk);
        EXPECT_EQ(pattern(), 0);
        EXPECT_EQ(g_test_chart, nullptr);
        EXPECT_EQ(g_page_focus, kPageOption);
    }});
}

TEST_F(TestPatternPage, ModeLeavesThePatternOnAndDoesNothingUnderTheKeyLock) {
    onPage({[this] {
                keys({kKeyRight, kKeyRight, kKeyRight, kKeyOk});
                store().wr16_no_gen_bump(772, 1);
                key(kKeyMode);
                EXPECT_NE(g_test_chart, nullptr);
                EXPECT_EQ(g_mode_shortcut_key, 0);
                store().wr16_no_gen_bump(772, 0);
                takeApply();
                key(kKeyMode);
                EXPECT_EQ(g_test_chart, nullptr);
                EXPECT_EQ(g_mode_shortcut_key, 1);
                EXPECT_EQ(pattern(), 4);
                EXPECT_EQ(takeApply(), 0);
            },
            [] { panel::open(g_test_chart, kPageTestChart); },
            [this] {
                EXPECT_EQ(focused(), 0) << "reopened on tile 1 whatever is in force";
                EXPECT_EQ(pattern(), 4);
                key(kKeyBack);
                EXPECT_EQ(pattern(), 0);
            }});
}

TEST_F(TestPatternPage, TouchesDoNothing) {
    onPage({[this] {
        click("Button_closetest");
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(25, 25), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(g_test_chart->ui->label_test2, &press);
        EXPECT_NE(g_test_chart, nullptr);
        EXPECT_EQ(pattern(), 0);
        EXPECT_EQ(takeApply(), 0);
    }});
}

struct Names {
    int lang;
    const char* title;
    const char* tile1;
    const char* tile7;
    const char* close;
};

TEST_F(TestPatternPage, EveryLanguageFitsAndAChangeElsewhereRetextsThePage) {
    // clang-format off
    const Names rows[] = {
        {0, "测试图", "红色", "竖线", "关闭测试图"},
        {1, "Test pattern", "Red", "Vertical line", "Close"},
        {2, "Тестовый образец", "Тест 1", "Тест 7", "Закрыть"},
        {3, "Biểu đồ kiểm tra", "Kiểm tra 1", "Kiểm tra 7", "Đóng"},
        {4, "測試圖", "紅色", "豎線", "關閉測試圖"},
    };
    // clang-format on
    onPage({[&] {
        const QImage tile = g_test_chart->ui->label_test6->pixmap(Qt::ReturnByValue).toImage();
        EXPECT_FALSE(tile.isNull());
        for (const PictureName& p : pic::kTestPattern)
            EXPECT_FALSE(QImage(pictureOf(p)).isNull()) << p.name;
        for (const Names& r : rows) {
            SCOPED_TRACE(r.lang);
            store().ram[ZemRamPara::kRamLanguage] = uint8_t(r.lang);
            store().test_signal(1);  // as the PC's language write is announced
            Ui::test_chart* ui = g_test_chart->ui;
            EXPECT_EQ(ui->label_testimage->text(), QString::fromUtf8(r.title));
            EXPECT_EQ(ui->label_red->text(), QString::fromUtf8(r.tile1));
            EXPECT_EQ(ui->label_hline->text(), QString::fromUtf8(r.tile7));
            EXPECT_EQ(ui->Button_closetest->text(), QString::fromUtf8(r.close));
            EXPECT_EQ(ui->label_test6->pixmap(Qt::ReturnByValue).toImage(), tile);
            shot(QString("lang%1").arg(r.lang));
        }
    }});
}

// With the C331 thread running on the simulated box.
class TestPatternOnTheChip : public TestPatternPage {
protected:
    void SetUp() override {
        TestPatternPage::SetUp();
        platform::installClock(nullptr);  // the thread waits in real time
        platform::sim::buildDefaultBox();
        for (int w = 1; w < ZemRamPara::kWindowCount; ++w)
            store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags), 0);
        c331_manage::pInstance();
    }
    void TearDown() override {
        c331_manage::shutdown();
        TestPatternPage::TearDown();
    }
    static bool chipShows(int pattern) {
        c331_manage* c = c331_manage::p_c331_manage;
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return c->thread_state == 8 && c->applied[ZemRamPara::kRamTestPattern] == pattern &&
               c->zemApi_IsPatternGen() == (pattern != 0);
    }
};

TEST_F(TestPatternOnTheChip, APatternIsSetAndCleared) {
    startPanel();
    session({Item::until([] { return c331_manage::p_c331_manage->thread_state == 8; }),
             [] { panel::open(g_test_chart, kPageTestChart); },
             [this] {
                 keys({kKeyRight, kKeyOk});
                 zem::MutexLocker lock(c331_manage::c331_mutex);
                 ASSERT_EQ(pattern(), 2) << "the page's write, before the chip applies it";
             },
             Item::until([] { return chipShows(2); }),
             [this] {
                 shot("green");
                 key(kKeyBack);
             },
             Item::until([] { return chipShows(0); })},
            20000);
    EXPECT_EQ(g_test_chart, nullptr);
}

}  // namespace
