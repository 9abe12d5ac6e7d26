// The aging log page: its pages by key and touch over the whole log (past the 256 pages a byte
// index held), the entry lines with their coloured status words, and the empty log.
#include "ui/system/factoryage.h"

#include <QLabel>

#include "core/globals.h"
#include "page_driver.h"
#include "ui/shell/main_window.h"
#include "ui_factoryage.h"

namespace {

class AgingPage : public PanelTest {
protected:
    void TearDown() override {
        factoryage_log.clear();
        factoryage_log_diff3 = factoryage_log2_diff3 = 0;
        PanelTest::TearDown();
    }
    // n entries; entry i has register 42 of FPGA 0 = i mod 256.
    static void fill(int n) {
        factoryage_log.clear();
        for (int i = 0; i < n; ++i)
            factoryage_log << QString("12-06 10:15 %1 31 0 250 0 12").arg(i % 256);
    }
    static QString pageText() { return g_factoryage->ui->label_page->text(); }
    static QString logText() { return g_factoryage->log_label->text(); }
    void open(std::vector<Item> steps) {
        startPanel();
        steps.insert(steps.begin(), Item([] { panel::openRegistered(kPageFactoryAge); }));
        steps.push_back([this] { key(kKeyBack); });
        session(std::move(steps));
    }
};

TEST_F(AgingPage, NineEntriesTwoPagesByKeyAndTouch) {
    fill(9);
    factoryage_log[0] = "12-06 10:15 7 31 0 250 0 12";
    factoryage_log_diff3 = 12;
    factoryage_log2_diff3 = 4;
    open({[this] {
        EXPECT_EQ(pageText(), "1/2");
        EXPECT_EQ(g_factoryage->ui->page_info->text(), "9");
        EXPECT_EQ(g_factoryage->ui->label_3->text(), "12<3,4<3");
        EXPECT_TRUE(logText().startsWith("12-06 10:15 007 <font color = #00FF00 >DDR0</font> "))
            << logText().toStdString();
        EXPECT_TRUE(logText().contains("<br>250 <font color = #FF0000 >DDR0</font> "));
        EXPECT_TRUE(logText().contains("<font color = #FF0000 >VS</font>012"))
            << "a red VS runs into the digits";
        shot("first");
        key(kKeyOk);  // Next
        EXPECT_EQ(pageText(), "2/2");
        EXPECT_EQ(logText().count("<br>"), 1) << "only the 9th entry";
        shot("second");
        click("ButtonNext");
        EXPECT_EQ(pageText(), "1/2");
        key(kKeyRight);
        key(kKeyOk);  // Prev from the first page
        EXPECT_EQ(pageText(), "2/2");
        click("ButtonPriv");
        EXPECT_EQ(pageText(), "1/2");
    }});
}

TEST_F(AgingPage, EveryOneOf420PagesIsReached) {
    fill(3360);
    open({[this] {
        EXPECT_EQ(pageText(), "1/420");
        for (int page = 2; page <= 420; ++page) click("ButtonNext");
        EXPECT_EQ(pageText(), "420/420") << "past page 256";
        EXPECT_TRUE(logText().startsWith("12-06 10:15 " +
                                         QString("%1").arg(3352 % 256, 3, 10, QChar('0'))));
        shot("last");
        click("ButtonNext");
        EXPECT_EQ(pageText(), "1/420");
        click("ButtonPriv");
        EXPECT_EQ(pageText(), "420/420");
    }});
}

TEST_F(AgingPage, AnEmptyLogReadsZeroOfZeroAlsoAfterTheRedraw) {
    open({[this] {
        EXPECT_TRUE(logText().endsWith(QString::fromUtf8("  正在老化中...")));
        EXPECT_EQ(pageText(), "0/0");
        EXPECT_EQ(g_factoryage->ui->label_more->text(), "0>20,0>20");
        click("ButtonNext");
        click("ButtonPriv");
        EXPECT_EQ(pageText(), "0/0");
        tick(kAgingPeriodTicks);  // the 3-minute redraw (no FPGA: no entry)
        EXPECT_EQ(pageText(), "0/0");
        shot("empty");
    }});
}

}  // namespace
