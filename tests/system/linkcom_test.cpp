// The serial link page as a user meets it: the fixed settings in five languages, the keys that
// change nothing, Back to the communication menu, Mode with and without the key lock.
#include "ui/system/linkcom.h"

#include <QPushButton>

#include "page_driver.h"
#include "ui_linkcom.h"

namespace {

class SerialLinkPage : public PanelTest {
protected:
    // Opens the page as its menu does (the menu itself is another page), then runs the steps.
    void onPage(std::vector<Item> steps) {
        startPanel();
        steps.insert(steps.begin(), [] { panel::open(g_linkcom, kPageLinkCom); });
        steps.push_back([this] {
            if (g_linkcom) key(kKeyBack);
        });
        session(steps);
    }
    // A language written as the PC does, and the refresh that follows on the GUI thread.
    void setLanguage(int lang) {
        store().ram[ZemRamPara::kRamLanguage] = uint8_t(lang);
        store().test_signal(1);
    }
};

struct LanguageRow {
    int lang;
    const char* title;
    const char* baud;
    const char* bits;
    const char* stop;
};

TEST_F(SerialLinkPage, FixedValuesUnderTextsOfEveryLanguage) {
    // clang-format off
    const LanguageRow rows[] = {
        {0, "串口连接", "波特率", "数据位", "停止位"},
        {1, "Serial port", "Baud rate", "Data bits", "Stop bit"},
        {2, "COM-порт", "Скорость передачи", "Биты данных", "Бит остановки"},
        {3, "Cài đặt cổng nối tiếp", "Tốc độ truyền", "Bit dữ liệu", "Bit dừng"},
        {4, "串口連接", "波特率", "數據位", "停止位"},
    };
    // clang-format on
    onPage({[&] {
        for (const LanguageRow& r : rows) {
            SCOPED_TRACE(r.lang);
            setLanguage(r.lang);
            Ui::linkcom* ui = g_linkcom->ui;
            EXPECT_EQ(ui->label_com->text(), QString::fromUtf8(r.title));
            EXPECT_EQ(ui->label_baud->text(), QString::fromUtf8(r.baud));
            EXPECT_EQ(ui->label_bit->text(), QString::fromUtf8(r.bits));
            EXPECT_EQ(ui->label_stop->text(), QString::fromUtf8(r.stop));
            EXPECT_EQ(ui->Button_baud->text(), "115200");
            EXPECT_EQ(ui->pushButton->text(), "8");
            EXPECT_EQ(ui->pushButton_2->text(), "1");
            shot(QString("lang%1").arg(r.lang));
        }
        // Vietnamese switched off: the first language on (English here) instead.
        g_lcd_lang_valid = 0x06;
        setLanguage(3);
        EXPECT_EQ(g_linkcom->ui->label_com->text(), "Serial port");
    }});
}

TEST_F(SerialLinkPage, OnlyBackAndModeAct) {
    onPage({[this] {
                const QImage before = panelImage();
                keys({kKeyLeft, kKeyRight, kKeyOk, 'S', 'R', 'Q'});
                click("Button_baud");
                click("pushButton_2");
                EXPECT_EQ(panelImage(), before);
                EXPECT_EQ(g_page_focus, kPageLinkCom);
                key(kKeyBack);
                EXPECT_EQ(g_linkcom, nullptr);
                EXPECT_EQ(g_page_focus, kPageLinkOption);
            },
            [] { panel::open(g_linkcom, kPageLinkCom); },
            [this] {
                store().wr16_no_gen_bump(772, 1);  // key lock
                key(kKeyMode);
                EXPECT_NE(g_linkcom, nullptr) << "Mode under the key lock";
                EXPECT_EQ(g_mode_shortcut_key, 0);
                store().wr16_no_gen_bump(772, 0);
                key('M');
                EXPECT_EQ(g_linkcom, nullptr);
                EXPECT_EQ(g_mode_shortcut_key, 1);
            }});
}

}  // namespace
