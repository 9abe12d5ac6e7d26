// The output ports page as a user works it: the row of four tiles scrolling at both ends, the
// area of ports on either FPGA (odd offsets included), the links from the simulated FPGAs and
// from the FPGA thread's refresh 11, no FPGA manager, and a PC rewriting a table meanwhile.
#include "ui/system/netset.h"

#include <QLabel>
#include <QLineEdit>
#include <atomic>
#include <thread>

#include "fpga/fpga_manage.h"
#include "page_driver.h"
#include "platform/sim/sim_fpga.h"
#include "ui_netset.h"

namespace {

QImage pictureIcon(PictureName name) {
    return QImage(pictureOf(name)).convertToFormat(QImage::Format_ARGB32);
}

class PortsPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        board = platform::sim::buildFpgaBoard();
        mgr = fpga_manage::pInstance();
        mgr->clear_state();
        ASSERT_EQ(mgr->initialize(), 0);
    }
    // Runs the steps on the page, opened on its own (its menu opens it with the same call).
    void onPage(std::vector<Item> steps) {
        startPanel();
        steps.insert(steps.begin(), [] { panel::openRegistered(kPageNetSet); });
        steps.push_back([this] {
            if (g_netset) key(kKeyBack);
        });
        session(steps);
        EXPECT_EQ(g_netset, nullptr);
        EXPECT_EQ(g_page_focus, kPageOutputSet);
    }
    // The FPGA runs (its reset released, register 80 reads 3) with these port links.
    void runFpga(int fpga, uint8_t reg128, uint8_t reg144) {
        mgr->drive_line(fpga == 0 ? fpga_manage::fpga0_reset : fpga_manage::fpga1_reset,
                        fpga_manage::kLineHigh);
        board->fpga[fpga].setLinks(reg128, reg144);
        zem::MutexLocker lock(mgr->mirror_mutex);
        mgr->MCU_REG_func[fpga][80] = 3;
    }
    // A port's X, Y, W, H into its FPGA's parameter image, as the PC writes it.
    void setArea(int fpga, uint16_t at, uint16_t x, uint16_t y, uint16_t w, uint16_t h) {
        const uint16_t v[4] = {x, y, w, h};
        for (int i = 0; i < 4; ++i) {
            const uint8_t bytes[2] = {uint8_t(v[i]), uint8_t(v[i] >> 8)};
            ASSERT_EQ(mgr->pc_write_table(1, fpga, at + 2u * i, bytes, 2), 0);
        }
    }
    static QStringList values() {
        const Ui::netset* ui = g_netset->ui;
        return {ui->x_lineEdit->text(), ui->y_lineEdit->text(), ui->w_lineEdit->text(),
                ui->h_lineEdit->text()};
    }
    static QStringList tileNames() {
        const Ui::netset* ui = g_netset->ui;
        return {ui->LED1label->text(), ui->LED2label->text(), ui->LED3label->text(),
                ui->LED4label->text()};
    }
    // Which of the four tiles show the online icon, as "1010".
    static QString tileLinks() {
        const QLabel* icons[4] = {g_netset->ui->L1label, g_netset->ui->L2label,
                                  g_netset->ui->L3label, g_netset->ui->L4label};
        QString s;
        for (const QLabel* l : icons) s += icon(l) == pictureIcon(pic::kPortOnline) ? '1' : '0';
        return s;
    }
    void moveTo(int port) {
        keyUntil(
            kKeyRight, [port] { return g_netset->ui_select >= port; },
            "at or past port " + std::to_string(port));
        keyUntil(
            kKeyLeft, [port] { return g_netset->ui_select <= port; },
            "at port " + std::to_string(port));
    }

    std::shared_ptr<platform::sim::SimFpgaBoard> board;
    fpga_manage* mgr = nullptr;
};

TEST_F(PortsPage, TheRowScrollsAtBothEndsAndNeverWraps) {
    for (const PictureName& p : pic::kPortsPage) EXPECT_FALSE(pictureIcon(p).isNull()) << p.name;
    setArea(0, 8, 0, 0, 256, 128);
    onPage({[this] {
        EXPECT_EQ(values(), QStringList({"0", "0", "256", "128"}));
        EXPECT_EQ(tileNames(), QStringList({"LED1", "LED2", "LED3", "LED4"}));
        shot("start");
        key(kKeyLeft);
        EXPECT_EQ(g_netset->ui_select, 0) << "Left at port 1 moves nothing";
        keys({kKeyRight, kKeyRight, kKeyRight});
        EXPECT_EQ(g_netset->ui_select, 3);
        EXPECT_EQ(g_netset->ui_min_select, 0) << "no scroll inside the row";
        EXPECT_EQ(g_netset->ui->net_frame->geometry(), QRect(24 + 68 * 3, 40, 58, 41));
        key(kKeyRight);
        EXPECT_EQ(g_netset->ui_select, 4);
        EXPECT_EQ(g_netset->ui_min_select, 1);
        EXPECT_EQ(g_netset->ui_sel, 3) << "the focus stays on the fourth tile";
        EXPECT_EQ(tileNames(), QStringList({"LED2", "LED3", "LED4", "LED5"}));
        shot("scrolled");
        moveTo(19);
        EXPECT_EQ(tileNames(), QStringList({"LED17", "LED18", "LED19", "LED20"}));
        key(kKeyRight);
        EXPECT_EQ(g_netset->ui_select, 19) << "Right at port 20 moves nothing";
        EXPECT_EQ(g_netset->ui_min_select, 16);
        shot("last");
        keys({kKeyLeft, kKeyLeft, kKeyLeft});
        EXPECT_EQ(g_netset->ui_sel, 0);
        EXPECT_EQ(g_netset->ui_select, 16);
        key(kKeyLeft);
        EXPECT_EQ(g_netset->ui_min_select, 15) << "Left on the first tile scrolls back";
        EXPECT_EQ(g_netset->ui_sel, 0);
        moveTo(0);
        EXPECT_EQ(values(), QStringList({"0", "0", "256", "128"}));
    }});
}

TEST_F(PortsPage, EachPortReadsItsOwnFpgaAtItsOwnOffsetsOddOnesIncluded) {
    struct Case {
        int port, fpga;
        uint16_t at;
    };
    const Case cases[] = {{0, 0, 8},  {1, 0, 19},  {3, 0, 43},  {4, 0, 520},  {9, 0, 584},
                          {10, 1, 8}, {11, 1, 19}, {13, 1, 43}, {17, 1, 544}, {19, 1, 584}};
    for (const Case& c : cases)
        setArea(c.fpga, c.at, uint16_t(100 + c.port), uint16_t(200 + c.port),
                uint16_t(300 + c.port), uint16_t(65000 + c.port));
    onPage({[&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.port);
            moveTo(c.port);
            EXPECT_EQ(
                values(),
                QStringList({QString::number(100 + c.port), QString::number(200 + c.port),
                             QString::number(300 + c.port), QString::number(65000 + c.port)}));
        }
        shot("port20");
    }});
}

TEST_F(PortsPage, LinksComeFromTheRunningFpgasAndAStoppedOneShowsOffline) {
    runFpga(0, 0x05, 0x02);               // ports 1, 3 and 10 of FPGA 0
    board->fpga[1].setLinks(0xFF, 0x03);  // FPGA 1 is not running: its links do not count
    onPage({[this] {
        EXPECT_EQ(tileLinks(), "1010");
        shot("links");
        moveTo(9);
        EXPECT_EQ(tileLinks(), "0001") << "ports 7..10";
        moveTo(13);
        EXPECT_EQ(tileLinks(), "0000") << "ports 11..14 of the stopped FPGA 1";
        runFpga(1, 0x01, 0x00);
        EXPECT_EQ(tileLinks(), "0000") << "no redraw before a key or a refresh";
        key(kKeyLeft);
        EXPECT_EQ(tileLinks(), "1000") << "a move reads the links again";
    }});
}

TEST_F(PortsPage, RefreshElevenFromTheFpgaThreadRedrawsTheLinksFromTheMirror) {
    runFpga(0, 0x00, 0x00);
    onPage({[this] {
                EXPECT_EQ(tileLinks(), "0000");
                {
                    // What the FPGA thread found and stored before it raised 11.
                    zem::MutexLocker lock(mgr->mirror_mutex);
                    mgr->MCU_REG_func[0][128] = 0x06;
                }
                std::thread fpga([] { ZemRamPara::p_zemrampara_config->test_signal(11); });
                fpga.join();
            },
            Item::until([] { return tileLinks() == "0110"; }),
            [this] {
                shot("refreshed");
                {
                    zem::MutexLocker lock(mgr->mirror_mutex);
                    mgr->MCU_REG_func[0][128] = 0x00;
                }
                store().test_signal(1);
                EXPECT_EQ(tileLinks(), "0110") << "another refresh leaves the icons";
            }});
}

TEST_F(PortsPage, WithoutAnFpgaManagerTheValuesAreEmptyAndEveryPortOffline) {
    setArea(0, 8, 1, 2, 3, 4);
    fpga_manage* kept = fpga_manage::p_fpga_manage;
    fpga_manage::p_fpga_manage = nullptr;
    onPage({[this] {
        EXPECT_EQ(values(), QStringList({"", "", "", ""}));
        EXPECT_EQ(tileLinks(), "0000");
        shot("nomanager");
        key(kKeyRight);
        store().test_signal(11);
        EXPECT_EQ(values(), QStringList({"", "", "", ""}));
    }});
    fpga_manage::p_fpga_manage = kept;
}

TEST_F(PortsPage, APcRewritingTheTableMeanwhileIsReadWholeOrNotAtAll) {
    setArea(0, 8, 0x1111, 0x1111, 0x1111, 0x1111);
    onPage({[this] {
        std::atomic<bool> stop{false};
        // The PC writes port 1's area as one block, alternating two values.
        std::thread pc([this, &stop] {
            const uint8_t a[8] = {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11};
            const uint8_t b[8] = {0x22, 0x22, 0x22, 0x22, 0x22, 0x22, 0x22, 0x22};
            // bounded: the keys below end it.
            for (int i = 0; !stop; ++i) mgr->pc_write_table(1, 0, 8, i % 2 ? b : a, 8);
        });
        for (int i = 0; i < 200; ++i) {
            key(i % 2 ? kKeyLeft : kKeyRight);
            if (g_netset->ui_select != 0) continue;
            const QStringList v = values();
            EXPECT_TRUE(v == QStringList({"4369", "4369", "4369", "4369"}) ||
                        v == QStringList({"8738", "8738", "8738", "8738"}))
                << v.join(',').toStdString();
        }
        stop = true;
        pc.join();
    }});
}

TEST_F(PortsPage, ALanguageChangeReTextsTitleCaptionsAndTileNames) {
    onPage({[this] {
        store().ram[ZemRamPara::kRamLanguage] = 0;
        store().test_signal(1);
        EXPECT_EQ(g_netset->ui->label_netset->text(), QString::fromUtf8("网口输出"));
        EXPECT_EQ(g_netset->ui->w_label->text(), QString::fromUtf8("宽"));
        EXPECT_EQ(tileNames().first(), QString::fromUtf8("网口LED1"));
        EXPECT_EQ(g_netset->ui->x_label->text(), "X");
        shot("chinese");
    }});
}

}  // namespace
