// The smart-mapping wizard's jobs run to their end by the FPGA side on simulated cards: keys
// only on the page, the FPGA passes on a thread of their own, the progress reaching the ring
// through its queued connections (nothing emitted by the test), and the result read from the
// cards and the FPGAs: a port's cards lit at the layout the page held to its ranges, a scan file
// from the box and from the USB disk, saving, mapping on and off, and a post during a USB
// upgrade refused.
#include <QLineEdit>
#include <QObject>

#include "card_files.h"
#include "core/globals.h"
#include "fpga/fpga_globals.h"
#include "fpga/rcv_job_events.h"
#include "fpga/usb_upgrade.h"
#include "page_driver.h"
#include "sim_fpgas.h"
#include "ui/led/smart_mapping.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/qround_progress_bar.h"
#include "ui/shell/tip.h"
#include "ui_smart_mapping.h"

namespace {

using S = SmartMapping;
constexpr uint8_t kMappingBit = 0x80;

class SmartMappingCards : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        line_type = {128, 64, 0, 0, 0, 1, 1, 1};  // sizes and offsets of an earlier visit
        g_qzfile_name.clear();
        g_update_flag = 0;
        mountUsbDisk();
        ASSERT_TRUE(fpgas.start());
        // What the FPGA thread emits, recorded on that thread (read once it has been joined).
        progress_conn =
            QObject::connect(fpgas.mgr->job_events, &rcv_job_events::sig_smartmapping_progress,
                             [this](int v) { emitted.push_back(v); });
        startPanel();
    }
    void TearDown() override {
        QObject::disconnect(progress_conn);
        PanelTest::TearDown();
    }
    // Opens the wizard, runs the steps inside it, and leaves it by Back. Events run inside a
    // step run the session's next one, so the page closes in the last.
    void onPage(std::vector<Item> steps) {
        steps.insert(steps.begin(), [] { panel::openRegistered(kPageSmartMapping); });
        Step last = steps.back().run;
        steps.back().run = [this, last] {
            last();
            for (int i = 0; i < 4 && g_smartmapping; ++i) key(kKeyBack);
            EXPECT_EQ(g_smartmapping, nullptr) << "Back leaves once the jobs have ended";
        };
        session(steps);
    }
    // The FPGA side runs the posted job: part-way, where the ring shows what it was sent last,
    // then to its end (task byte back to 0), which closes the ring.
    void runJob(const QString& name) {
        ASSERT_FALSE(g_qround_bar.isNull()) << name.toStdString() << " posted under the ring";
        emitted.clear();
        ASSERT_TRUE(fpgas.runOnFpgaThread([this] {
            return !emitted.empty() && emitted.back() > 0 && emitted.back() < 100;
        })) << "no progress";
        settle();
        ASSERT_FALSE(g_qround_bar.isNull());
        EXPECT_EQ(g_qround_bar->value(), emitted.back());
        shot(name + "-ring");
        ASSERT_TRUE(fpgas.runOnFpgaThread([] { return g_send_para[0] == 0; }, 20000))
            << "task " << int(g_send_para[0]) << " at step " << int(g_send_para[1]);
        settle();
        EXPECT_EQ(emitted.back(), 100);
        EXPECT_TRUE(g_qround_bar.isNull()) << "the ring closes at the end";
        shot(name + "-done");
    }
    static int screen() { return g_smartmapping->ui->stackedWidget->currentIndex(); }
    void moveTo(int index) {
        for (int i = 0; i < 8 && g_smartmapping->keyFocus() != index; ++i) key(kKeyRight);
    }
    // On a port screen from its first group: the group of port, its tile mode, the tile, OK;
    // then back past the first group to Next, and OK.
    void choosePortAndGoOn(int port) {
        for (int g = 0; g < port / 8; ++g) key(kKeyRight);
        key(kKeyOk);
        for (int t = 0; t < port % 8; ++t) key(kKeyRight);
        key(kKeyOk);
        EXPECT_EQ(g_smartmapping->lighting.port, port);
        for (int g = 0; g <= port / 8; ++g) key(kKeyLeft);
        key(kKeyOk);
    }
    void plugAndFind(std::initializer_list<std::pair<int, int>> ports) {
        for (auto [port, count] : ports) fpgas.plug(port, count);
        fpgas.searchCycles(3);
        for (auto [port, count] : ports) ASSERT_EQ(fpgas.areaCount(port), count);
    }
    bool mappingBit(int fpga) const { return fpgas.board->fpga[fpga].reg(0) & kMappingBit; }

    SimFpgas fpgas;
    std::vector<int> emitted;
    QMetaObject::Connection progress_conn;
};

// A card's position as its RAM holds it after the lighting.
std::pair<int, int> placed(const platform::sim::SimCard& c) {
    return {c.ram[0x180] | c.ram[0x181] << 8, c.ram[0x182] | c.ram[0x183] << 8};
}

// Rows typed as 256 and an offset as 70000 go out as 255 and 65535: routing 1 puts the three
// cards in the bottom three of 255 rows at the right edge (not all at one position, x 4464).
TEST_F(SmartMappingCards, LightingPlacesThePortsThreeCardsAtTheLayoutHeldToItsRanges) {
    plugAndFind({{2, 3}, {0, 1}});
    onPage({[&] {
                key(kKeyOk);               // screen 0
                keys({kKeyLeft, kKeyOk});  // Next
                choosePortAndGoOn(2);      // LED3
                ASSERT_EQ(screen(), S::kLayout);
                key(kKeyOk);  // rows
            },
            [&] { typeOnKeypad("256"); },
            [&] {
                moveTo(3);
                key(kKeyOk);  // horizontal offset
            },
            [&] { typeOnKeypad("70000"); },
            [&] {
                moveTo(6);
                key(kKeyOk);  // Send
                const int height = g_smartmapping->ui->lineEdit_Y->text().toInt();
                runJob("lighting");
                const auto frames = fpgas.sentOn(2, 0x60);
                ASSERT_EQ(frames.size(), 3u);
                for (int i = 0; i < 3; ++i) {
                    SCOPED_TRACE(i);
                    EXPECT_EQ(frames[i][0], i);  // the card
                    EXPECT_EQ(frames[i][18] | frames[i][19] << 8, 65535);
                    const int y = (254 - i) * height;
                    EXPECT_EQ(frames[i][20] | frames[i][21] << 8, y);
                    EXPECT_EQ(placed(fpgas.board->card(2, i)), std::make_pair(65535, y));
                }
                EXPECT_TRUE(fpgas.sentOn(0, 0x60).empty()) << "only the chosen port";
            }});
}

// The scan file chosen in the list is loaded onto every card of the chosen port, from the box's
// folder and from the USB disk alike.
TEST_F(SmartMappingCards, AScanFileLoadsOntoThePortsCardsFromTheBoxAndFromTheDisk) {
    plugAndFind({{1, 2}, {11, 2}, {0, 1}});
    const Bytes ram = {1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes file = scanFile({{1, 1, 0x100, ram}, {1, 2, 0, {7, 0x0F, 1, 0x05}}});
    struct Row {
        const char* dir;
        int port;  // LED2 of FPGA 0, LED12 of FPGA 1
    };
    for (const Row& r : {Row{"/data/smartmapping", 1}, Row{"/mnt/usb1", 11}}) {
        const std::string dir = r.dir;
        const QString where = dir[1] == 'd' ? "box" : "disk";
        SCOPED_TRACE(dir);
        removeTree(local("/data/smartmapping"));
        mountUsbDisk();
        writeFile(dir + "/wall.qzfile", std::string(file.begin(), file.end()));
        for (auto& f : fpgas.board->fpga) f.clearSentFrames();
        onPage({[&] {
            keys({kKeyRight, kKeyOk});  // Load scan
            ASSERT_EQ(screen(), S::kScanPort);
            choosePortAndGoOn(r.port);
            ASSERT_EQ(screen(), S::kScanFiles);
            shot("list-" + where);
            keys({kKeyOk, kKeyOk});  // choose, then Load
            EXPECT_EQ(g_qzfile_name.toStdString(), dir + "/wall.qzfile");
            runJob("load-" + where);
            for (int i = 0; i < 2; ++i) {
                SCOPED_TRACE(i);
                const auto& c = fpgas.board->card(r.port, i);
                EXPECT_TRUE(std::equal(ram.begin(), ram.end(), c.ram.begin() + 0x100));
                EXPECT_EQ(c.regs[7], 0x05);
            }
            for (int other : {0, 1, 11})
                EXPECT_TRUE(other == r.port || fpgas.sentOn(other, 0x60).empty()) << other;
        }});
    }
}

// A load onto a port without cards ends in error: its 100 closes the ring a second before the
// task byte clears. Load pressed in that second is refused (a post then would be wiped and its
// ring never close); pressed after it, it runs.
TEST_F(SmartMappingCards, AJobEndingInErrorTakesNoPostUntilItsTailHasPassed) {
    plugAndFind({{5, 1}});
    const Bytes file = scanFile({{1, 1, 0x100, {1, 2, 3}}});
    writeFile("/data/smartmapping/wall.qzfile", std::string(file.begin(), file.end()));
    const auto ended = [this] { return !emitted.empty() && emitted.back() == 100; };
    onPage({[&] {
        keys({kKeyRight, kKeyOk, kKeyLeft, kKeyOk});  // LED1's list
        ASSERT_EQ(screen(), S::kScanFiles);
        keys({kKeyOk, kKeyOk});  // choose, then Load
        ASSERT_FALSE(g_qround_bar.isNull());
        ASSERT_TRUE(fpgas.runOnFpgaThread(ended));
        settle();
        EXPECT_TRUE(g_qround_bar.isNull());
        ASSERT_EQ(g_send_para[0], 2) << "in the error tail";
        const uint8_t step = g_send_para[1];
        keys({kKeyOk, kKeyOk});  // Load again
        EXPECT_TRUE(g_qround_bar.isNull());
        EXPECT_EQ(g_send_para[1], step);
        shot("error-tail");
        ASSERT_TRUE(fpgas.runOnFpgaThread([] { return g_send_para[0] == 0; }));
        emitted.clear();
        keys({kKeyOk, kKeyOk});
        EXPECT_FALSE(g_qround_bar.isNull());
        ASSERT_TRUE(fpgas.runOnFpgaThread([] { return g_send_para[0] == 0; }));
        settle();
        EXPECT_TRUE(ended());
        EXPECT_TRUE(g_qround_bar.isNull());
        EXPECT_TRUE(fpgas.sentOn(5, 0x60).empty());
    }});
}

// The USB disk pulled after Load, before the FPGA side opened the file: the job ends in error,
// the ring closes and nothing reaches the cards.
TEST_F(SmartMappingCards, ADiskPulledInALoadEndsItWithNothingSent) {
    plugAndFind({{0, 2}});
    const Bytes file = scanFile({{1, 1, 0x100, {1, 2, 3}}});
    writeFile("/mnt/usb1/wall.qzfile", std::string(file.begin(), file.end()));
    onPage({[&] {
                keys({kKeyRight, kKeyOk, kKeyLeft, kKeyOk});  // LED1's list
                keys({kKeyOk, kKeyOk});                       // choose, then Load
                ASSERT_FALSE(g_qround_bar.isNull());
                pullUsbDisk();
                // The same file in the folder the disk left behind, which is no disk.
                writeFile("/mnt/usb1/wall.qzfile", std::string(file.begin(), file.end()));
                refresh(101);
            },
            Item::until([] { return g_tip->isVisible(); }),
            [&] {
                shot("disk-pulled");
                tick(TIP::kShowTicks);
            },
            [&] {
                ASSERT_TRUE(fpgas.runOnFpgaThread([] { return g_send_para[0] == 0; }));
                settle();
                ASSERT_FALSE(emitted.empty());
                EXPECT_EQ(emitted.back(), 100);
                EXPECT_TRUE(g_qround_bar.isNull());
                EXPECT_TRUE(fpgas.sentOn(0, 0x60).empty());
                EXPECT_EQ(fpgas.board->card(0, 0).ram[0x100], 0);
                shot("load-ended");
            }});
}

TEST_F(SmartMappingCards, SavingStoresTheParametersOfEveryCard) {
    plugAndFind({{4, 2}, {15, 1}});
    onPage({[&] {
        keys({kKeyLeft, kKeyLeft, kKeyOk});
        ASSERT_EQ(screen(), S::kCuring);
        key(kKeyOk);
        runJob("saving");
        EXPECT_EQ(fpgas.board->card(4, 0).saves, 1);
        EXPECT_EQ(fpgas.board->card(4, 1).saves, 1);
        EXPECT_EQ(fpgas.board->card(15, 0).saves, 1);
    }});
}

// Mapping on sets bit 0x80 of register 0 in both FPGAs and sends 9 to the cards; off clears
// both and sends 0.
TEST_F(SmartMappingCards, MappingSwitchesBothFpgasAndTheCards) {
    plugAndFind({{3, 1}, {12, 1}});
    onPage({[&] {
        keys({kKeyLeft, kKeyOk});
        ASSERT_EQ(screen(), S::kMapping);
        ASSERT_FALSE(mappingBit(0) || mappingBit(1));
        struct Row {
            bool on;
            uint32_t value;
        };
        for (const Row r : {Row{true, 9}, Row{false, 0}}) {
            SCOPED_TRACE(r.on);
            key(kKeyOk);
            EXPECT_EQ(mappingBit(0), r.on);
            EXPECT_EQ(mappingBit(1), r.on);
            EXPECT_EQ(send_para_u32(16), r.value);
            runJob(r.on ? "mapping-on" : "mapping-off");
            EXPECT_EQ(fpgas.board->card(3, 0).regs[3], r.value);
            EXPECT_EQ(fpgas.board->card(12, 0).regs[3], r.value);
        }
    }});
}

// A USB upgrade started while the wizard is open, Send pressed before the FPGA thread took it
// up and once it is half-way: refused, the upgrade runs once to its end, and nothing reaches the
// cards afterwards.
TEST_F(SmartMappingCards, APostDuringAUsbUpgradeIsRefused) {
    plugAndFind({{0, 3}});
    std::vector<int> upgrade;
    const auto conn = QObject::connect(usb_upgrade_report::pInstance(),
                                       &usb_upgrade_report::sig_qround_bar_update,
                                       [&upgrade](int v) { upgrade.push_back(v); });
    for (const uint8_t step : {0, 2}) {
        SCOPED_TRACE(int(step));
        upgrade.clear();
        onPage({[&] {
            key(kKeyOk);
            keys({kKeyLeft, kKeyOk, kKeyLeft, kKeyOk});
            ASSERT_EQ(screen(), S::kLayout);
            // As the upgrade page's OK: step 0, then the flag the FPGA thread looks at.
            g_send_para[send_para::kStep] = 0;
            g_usb_grade = 1;
            ASSERT_TRUE(fpgas.runOnFpgaThread([step] { return g_send_para[1] == step; }));
            settle();
            moveTo(6);
            key(kKeyOk);  // Send
            EXPECT_TRUE(g_qround_bar.isNull());
            EXPECT_EQ(g_send_para[0], 0);
            EXPECT_EQ(g_send_para[1], step) << "the upgrade's step stays";
            shot(QString("upgrade-step%1").arg(step));
            ASSERT_TRUE(fpgas.runOnFpgaThread([] { return g_usb_grade == 0; }));
            fpgas.runOnFpgaThread([] { return false; }, 500);
            settle();
            EXPECT_EQ(upgrade, (std::vector<int>{0, 10, 100})) << "the upgrade ran once";
            EXPECT_TRUE(fpgas.sentOn(0, 0x60).empty());
            EXPECT_TRUE(emitted.empty());
            shot("upgrade-over");
        }});
    }
    QObject::disconnect(conn);
}

}  // namespace
