// The device status page on a simulated box whose two FPGAs were brought up: the program's
// and the FPGAs' versions from their registers 28..31, the 20 port links rebuilt on refresh 11,
// the inputs' signal, and the serial number the PC sets.
#include <QLabel>
#include <QRegularExpression>

#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "page_driver.h"
#include "platform/sim/sim_fpga.h"
#include "sim_fpgas.h"
#include "ui/shell/machine_state.h"
#include "ui/shell/main_window.h"
#include "video_io/sourceinfo.h"

namespace {

QImage picture(const char* file) {
    return QImage(file).convertToFormat(QImage::Format_ARGB32);
}

class StatusPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        fpgas.clearFpgaSide();  // an LED screen of 1920 x 1080 at 0, 0
        fpgas.startBoard();
        fpgas.board->fpga[0].version = {0x05, 0x18, 0x07, 0x24};  // registers 28..31
        fpgas.board->fpga[1].version = {0x1a, 0x26, 0x09, 0x25};
        // The bring-up runs on its own thread as on the box, so its refreshes reach the panel
        // queued.
        fpgas.powerUpBoth();
        ASSERT_TRUE(fpgas.runOnFpgaThread([this] { return fpgas.mgr->get_fpga_status() == 1; }))
            << fpgas.state();
        startPanel();
        key(kKeyOk);
    }
    // Opens the page from the main menu, runs the body on it and leaves by Back (in the same
    // step: the body's own event runs must not reach a later step).
    void onPage(const Step& body) {
        session({[] { g_mainwindow->on_machinestate_clicked(); },
                 [this, body] {
                     body();
                     key(kKeyBack);
                 }});
    }
    QLabel* portIcon(int p) {
        return g_machinestate->port_strip->findChild<QLabel*>(QString("port%1state").arg(p));
    }
    bool online(int p) { return icon(portIcon(p)) == picture(":/png/online.png"); }

    SimFpgas fpgas;
};

TEST_F(StatusPage, VersionsOfTheProgramAndBothFpgas) {
    onPage([&] {
        EXPECT_EQ(widget<QLabel>("label_MCU")->text(), "MCU:V11.02.00 2025-09-26");
        EXPECT_EQ(widget<QLabel>("label_FPGA1")->text(), "FPGA1:V11.00.05 2024-07-18");
        EXPECT_EQ(widget<QLabel>("label_FPGA2")->text(), "FPGA2:V11.00.1a 2025-09-26");
        EXPECT_EQ(widget<QLabel>("label_2")->text(), "SN:Qz9999") << "no barcode set yet";
        EXPECT_EQ(g_page_focus, kPageMachineState);
        shot("versions");
    });
    EXPECT_EQ(g_page_focus, kPageMain);
    EXPECT_EQ(g_machinestate, nullptr);
}

TEST_F(StatusPage, PortLinksFollowRefreshElevenOnly) {
    fpgas.board->fpga[0].setLinks(0x03, 0x00);  // ports 1 and 2
    onPage([&] {
        for (int p = 1; p <= 20; ++p) EXPECT_EQ(online(p), p <= 2) << "port " << p;
        EXPECT_LT(portIcon(1)->y(), portIcon(2)->y()) << "port 1 above port 2";
        EXPECT_EQ(portIcon(19)->x(), portIcon(20)->x());
        EXPECT_LT(portIcon(19)->y(), portIcon(20)->y());
        shot("two-ports");
        fpgas.board->fpga[1].setLinks(0x00, 0x02);  // FPGA 2's port 10 is port 20
        refresh(1);
        EXPECT_FALSE(online(20)) << "an ordinary refresh keeps the strip";
        refresh(11);
        EXPECT_TRUE(online(20));
        EXPECT_TRUE(online(1));
        EXPECT_FALSE(online(11));
        shot("port-20");
        for (int k : {kKeyLeft, kKeyRight, kKeyOk}) key(k);
        EXPECT_EQ(g_page_focus, kPageMachineState) << "Left, Right and OK change nothing";
    });
}

TEST_F(StatusPage, InputsAreOnlineWithWidthHeightAndRate) {
    struct Case {
        int source, w, h, hz;
        int column;
        bool online;
    };
    const Case cases[] = {{2, 1920, 1080, 60, 0, true},
                          {5, 1280, 720, 0, 3, false},
                          {1, 1024, 768, 60, 4, true},
                          {0, 0, 1080, 60, 5, false}};
    for (const Case& c : cases) {
        setTimingWord(256 + 6 * c.source, uint16_t(c.w));
        setTimingWord(258 + 6 * c.source, uint16_t(c.h));
        setTimingWord(260 + 6 * c.source, uint16_t(c.hz));
    }
    onPage([&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.source);
            QLabel* l = widget<QLabel>(QString("sourceid%1pixmap").arg(c.column));
            QLabel expected;
            sourceinfo::set_sourceonline_pixmap(&expected, uint8_t(c.source), c.online);
            EXPECT_EQ(icon(l), icon(&expected));
        }
        setTimingWord(260 + 6 * 5, 60);
        refresh(1);
        QLabel expected;
        sourceinfo::set_sourceonline_pixmap(&expected, 5, 1);
        EXPECT_EQ(icon(widget<QLabel>("sourceid3pixmap")), icon(&expected)) << "every refresh";
        QString names;
        for (int c = 0; c < 6; ++c)
            names += QString(widget<QLabel>(QString("sourceid%1name").arg(c))->text())
                         .remove(QRegularExpression("<[^>]*>")) +
                     " ";
        EXPECT_EQ(names.simplified(), "HDMI1 HDMI2 HDMI3 HDMI4 DVI EXT");
        shot("inputs");
    });
}

TEST_F(StatusPage, TheSerialNumberThePcSet) {
    for (const char* code : {"ZM2026A1", ""}) {
        {
            zem::MutexLocker lock(Utils::_config_mutex);
            g_str_barcode = code;
        }
        onPage([&] {
            EXPECT_EQ(widget<QLabel>("label_2")->text(), QString("SN:") + code);
            shot(*code ? "barcode" : "empty-barcode");
        });
    }
    zem::MutexLocker lock(Utils::_config_mutex);
    g_str_barcode = " ";
}

TEST_F(StatusPage, ModeLeadsToTheUserModesUnlessTheKeysAreLocked) {
    onPage([&] {
        store().wr16_no_gen_bump(772, 1);
        key(kKeyMode);
        EXPECT_EQ(g_page_focus, kPageMachineState);
        store().wr16_no_gen_bump(772, 0);
        EXPECT_NE(g_machinestate, nullptr);
    });
}

}  // namespace
