// The aging log the main menu's tick samples from the two FPGAs every 18000 ticks: the first
// sample 3 minutes after start, the registers read from the FPGAs, the steps of register 42
// counted modulo 256, no sample while the PC is active, and at most 3360 entries.
#include <QRegularExpression>

#include "fpga_fixture.h"
#include "page_driver.h"
#include "ui/shell/main_window.h"

namespace {

class AgingLog : public FpgaTest {
protected:
    void SetUp() override {
        FpgaTest::SetUp();
        panelApp();
        g_source_online = 2;  // video is stable: the FPGAs light up
        powerUp(0);
        powerUp(1);
        ASSERT_TRUE(bothLit());
        G_timeTicks = 0;
        G_factoryage_ticks = 0;
        factoryage_log.clear();
        menu = new MainWindow(nullptr);
    }
    void TearDown() override {
        delete menu;
        FpgaTest::TearDown();
    }
    void setRegisters(uint8_t fpga, uint8_t r42, uint8_t r43) {
        mgr->write_to_register(42, 0xFF, r42, fpga);
        mgr->write_to_register(43, 0xFF, r43, fpga);
    }
    void tick(int n) {
        for (int i = 0; i < n; ++i) menu->slot_update_timer_ticks();
    }
    MainWindow* menu = nullptr;
};

TEST_F(AgingLog, TheFirstSampleComesAfter18000TicksWithTheRegistersOfBothFpgas) {
    setRegisters(0, 250, 17);
    setRegisters(1, 7, 200);
    tick(17999);
    EXPECT_TRUE(factoryage_log.isEmpty());
    tick(1);
    ASSERT_EQ(factoryage_log.size(), 1);
    const QStringList f = factoryage_log[0].split(' ');
    ASSERT_EQ(f.size(), 8) << factoryage_log[0].toStdString();
    EXPECT_TRUE(
        QRegularExpression("^\\d\\d-\\d\\d \\d\\d:\\d\\d ").match(factoryage_log[0]).hasMatch());
    // FPGA 0: 42, 40, 43; then FPGA 1. Register 40 carries the lock bits of a running FPGA.
    EXPECT_EQ(f.mid(2), (QStringList{"250", "28", "17", "7", "28", "200"}));

    setRegisters(0, 3, 17);  // 250 -> 3: a step of 9 modulo 256
    tick(18000);
    ASSERT_EQ(factoryage_log.size(), 2);
    EXPECT_EQ(factoryage_log_diff10, 1u);
    EXPECT_EQ(factoryage_log2_diff3 + factoryage_log2_diff5 + factoryage_log2_diff10 +
                  factoryage_log2_diff20 + factoryage_log2_diffmore,
              0u)
        << "7 -> 7 counts nowhere";

    struct Step {
        uint8_t reg42;
        uint32_t* count;
    };
    const Step steps[] = {{5, &factoryage_log_diff3},     {9, &factoryage_log_diff5},
                          {14, &factoryage_log_diff10},   {33, &factoryage_log_diff20},
                          {53, &factoryage_log_diffmore}, {0, &factoryage_log_diffmore}};
    for (const Step& s : steps) {
        const uint32_t before = *s.count;
        setRegisters(0, s.reg42, 17);
        tick(18000);
        EXPECT_EQ(*s.count, before + 1) << "to " << int(s.reg42);
    }
}

TEST_F(AgingLog, APeriodWithThePcActiveOrAnFpgaDownTakesNoSample) {
    pc_cmd_valid = 1;
    tick(18000);
    EXPECT_TRUE(factoryage_log.isEmpty());
    pc_cmd_valid = 0;
    tick(17999);
    EXPECT_TRUE(factoryage_log.isEmpty()) << "the period restarted all the same";
    tick(1);
    EXPECT_EQ(factoryage_log.size(), 1);
}

TEST_F(AgingLog, TheLogKeepsTheNewest3360Entries) {
    for (int i = 0; i < kAgingLogMax; ++i)
        factoryage_log.append(QString("01-01 00:%1 0 28 0 0 28 0").arg(i % 60));
    setRegisters(0, 1, 2);
    menu->getagelog();
    EXPECT_EQ(factoryage_log.size(), kAgingLogMax);
    EXPECT_EQ(factoryage_log.first(), "01-01 00:1 0 28 0 0 28 0");
    EXPECT_TRUE(factoryage_log.last().endsWith(" 1 28 2 0 28 0"));
}

}  // namespace
