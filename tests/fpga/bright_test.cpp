// Brightness by hand, by the half-hour table and through the command table's handler, the daily
// on/off schedule and the clock command, on the simulated FPGA pair with the fake wall clock.
#include <algorithm>
#include <array>
#include <ctime>
#include <memory>

#include "core/utils.h"
#include "fpga_fixture.h"
#include "platform/clock.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kBrightTable = fpga_manage::kBrightFlashAddr;
constexpr uint32_t kOnOffTable = fpga_manage::kOnOffFlashAddr;

// A brightness table as FPGA 0's flash holds it: mode, then the manual level or 48 half-hour
// levels.
Bytes brightTable(uint8_t mode, const Bytes& levels) {
    const Bytes head = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, mode};
    Bytes t(fpga_manage::kBrightTableSize, levels.empty() ? 0 : levels.back());
    std::copy(head.begin(), head.end(), t.begin());
    std::copy_n(levels.begin(), std::min(levels.size(), t.size() - head.size()),
                t.begin() + head.size());
    return t;
}

// On/off entries as BCD hours and minutes: on hour, on minute, off hour, off minute.
Bytes onOffTable(const std::vector<std::array<uint8_t, 4>>& entries, uint8_t count) {
    Bytes t = {0xAA, 2, 0xAA, 0, 0, 0, uint8_t(1 + 4 * entries.size()), 0, count};
    for (const auto& e : entries) t.insert(t.end(), e.begin(), e.end());
    return t;
}

}  // namespace

class BrightTest : public FpgaTest {
protected:
    void SetUp() override {
        auto clock = std::make_unique<platform::FakeClock>();
        clock_ = clock.get();
        platform::installClock(std::move(clock));
        FpgaTest::SetUp();
        g_source_online = 2;
        for (auto& f : board->fpga) f.setLinks(0x01, 0x00);
        setClock(7, 10);
    }
    void TearDown() override {
        FpgaTest::TearDown();
        platform::installClock(nullptr);
    }

    void light() {
        powerUp(0);
        powerUp(1);
        ASSERT_TRUE(bothLit());
    }
    // The box's local time on 5 March 2026 (plus days).
    void setClock(int hour, int minute, int second = 0, int days = 0) {
        std::tm tm{};
        tm.tm_year = 126;
        tm.tm_mon = 2;
        tm.tm_mday = 5 + days;
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        tm.tm_isdst = -1;
        clock_->setWall(int64_t(std::mktime(&tm)));
    }
    // Long enough for the clock refresh and one brightness step.
    void runStep() { runTicks(1100); }

    // The command table, then register 2 bit 2, which runs its handler (no PC command writes
    // that register: the handler is driven here directly).
    void pcCommand(const Bytes& table) {
        ASSERT_EQ(mgr->pc_write_table(8, 0, 0, table.data(), uint32_t(table.size())), 0);
        mgr->write_to_register(2, 0x04, 0x04, 0);
    }
    // A PC's write of parameter RAM 2176, and the video processor's apply handing it over.
    void request(int percent) {
        userWrite(kPc, fpga_manage::kRamBrightness, uint16_t(percent));
        handOver(fpga_manage::kRamBrightness);
    }
    void loadTable(const Bytes& table) {
        writeFlash(kBrightTable, table);
        g_change[17] = 1;
        runStep();
    }
    int reg6(int i) const { return board->fpga[i].reg(6); }
    // Brightness 50 asked for with every link down, then a link back; a PC frame every
    // pc_every ticks meanwhile (0: none).
    void linkBackAfterRequest(int pc_every) {
        for (auto& f : board->fpga) f.setLinks(0, 0);
        light();
        const int before = reg6(0);
        request(50);
        runTicks(1);
        EXPECT_EQ(reg6(0), before);  // nothing reaches the FPGAs without a link
        EXPECT_EQ(flash(kBrightTable, 10), (Bytes{0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 16, 127}));
        for (auto& f : board->fpga) f.setLinks(0x03, 0);
        int tick = 0;
        const bool applied = runUntil(
            [&] {
                if (pc_every && tick++ % pc_every == 0) {
                    pc_cmd_valid = 1;
                    pc_cmd_time = G_timeTicks.load();
                }
                return reg6(0) == 127 && reg6(1) == 127;
            },
            300);
        pc_cmd_valid = 0;
        EXPECT_TRUE(applied) << "register 6: " << reg6(0) << ", " << reg6(1);
    }
    // RAM 2176 as the panel sees it after the next refresh (the thread's echo lands there).
    int ram() const {
        para->refresh_begin();
        para->refresh_end();
        return para->rd16(fpga_manage::kRamBrightness);
    }
    bool black() const { return (board->fpga[0].reg(0) & 4) && (board->fpga[1].reg(0) & 4); }

    // The sensor card (card 1 of FPGA 1's port 6) asking for level, found, and sensor mode on.
    void lightWithSensor(uint8_t level) {
        {
            std::lock_guard<std::mutex> lock(board->mutex);
            board->setCards(16, 2);
            board->card(16, 1).light_sensor = true;
            board->card(16, 1).light_level = level;
        }
        light();
        runTicks(200);  // the card search marks the sensor's port
        loadTable(brightTable(2, {}));
        EXPECT_EQ(g_change[27], 6u);
        EXPECT_EQ(g_change[28], 0x6000u);
    }
    // n sensor reads, each a step; the level afterwards.
    int sensorSteps(int n) {
        for (int i = 0; i < n; ++i) runTicks(201);
        return reg6(0);
    }

    platform::FakeClock* clock_ = nullptr;
};

TEST_F(BrightTest, WithoutASavedTableTheScreenLightsAtFullBrightness) {
    light();
    EXPECT_EQ(reg6(0), 255);
    EXPECT_EQ(reg6(1), 255);
    EXPECT_EQ(g_change[14], 0u);  // no task
    EXPECT_EQ(g_change[16], 16u);
}

// Level 0 and levels past 16 are clamped to 1..16 in the level modes instead of wrapping.
TEST_F(BrightTest, ManualLevelsBecomeRegisterValuesByMode) {
    light();
    const struct {
        uint8_t mode, level;
        int reg, percent;
    } cases[] = {
        {0, 1, 15, 5}, {0, 16, 255, 100},  {0, 0, 15, 5}, {0, 40, 255, 100},
        {16, 0, 0, 0}, {16, 200, 200, 78}, {16, 7, 7, 2},
    };
    for (const auto& c : cases) {
        loadTable(brightTable(c.mode, {c.level}));
        EXPECT_EQ(reg6(0), c.reg) << int(c.mode) << "/" << int(c.level);
        EXPECT_EQ(reg6(1), c.reg);
        EXPECT_EQ(ram(), c.percent) << "the panel shows the applied value";
    }
}

TEST_F(BrightTest, TablesInFlashAreLoadedAtBringUp) {
    Bytes levels(48);
    for (int i = 0; i < 48; ++i) levels[i] = uint8_t(i + 1);
    writeFlash(kBrightTable, brightTable(17, levels));
    writeFlash(kOnOffTable, onOffTable({{0x07, 0x00, 0x07, 0x11}}, 1));
    light();
    runStep();
    EXPECT_EQ(reg6(0), 15);  // 07:10 is slot 14
    EXPECT_EQ(mgr->mirror(0, 66), 1);
    setClock(7, 11);
    runTicks(30);
    EXPECT_TRUE(black());
}

TEST_F(BrightTest, HalfHourTableFollowsTheClockAcrossTheDay) {
    light();
    Bytes levels(48);
    for (int i = 0; i < 48; ++i) levels[i] = uint8_t(5 * i);
    loadTable(brightTable(17, levels));
    const struct {
        int hour, minute, second, slot;
    } times[] = {{0, 29, 59, 0}, {7, 29, 59, 14}, {7, 30, 0, 15}, {13, 0, 0, 26}, {23, 59, 59, 47}};
    for (const auto& t : times) {
        setClock(t.hour, t.minute, t.second);
        runStep();
        EXPECT_EQ(reg6(0), 5 * t.slot) << t.hour << ":" << t.minute;
        EXPECT_EQ(reg6(1), 5 * t.slot);
    }
    // Levels of mode 1 are 1..16.
    loadTable(brightTable(1, Bytes(48, 4)));
    EXPECT_EQ(reg6(0), 63);
}

// 3 % through the request is 7: raised to 15 outside modes 16 and 17 (and shown as the 5 % it
// is). The value is saved as a mode-16 table and the mode switches to it at once.
TEST_F(BrightTest, RequestSwitchesToManualAndSavesItsTable) {
    light();
    const struct {
        uint8_t mode, level;
        int reg, shown;
    } cases[] = {{0, 8, 15, 5}, {16, 100, 7, 3}};
    for (const auto& c : cases) {
        loadTable(brightTable(c.mode, {c.level}));
        refresh_ids.clear();
        request(3);
        runTicks(1);
        EXPECT_FALSE(mgr->user_words.waiting(UserWordMailbox::kBrightness));
        EXPECT_EQ(reg6(0), c.reg) << int(c.mode);
        EXPECT_EQ(reg6(1), c.reg);
        EXPECT_EQ(ram(), c.shown);
        EXPECT_EQ(refreshed(1), c.shown != 3);
        Bytes saved = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 16};
        saved.resize(57, uint8_t(c.reg));
        EXPECT_EQ(flash(kBrightTable, 57), saved);
        EXPECT_EQ(mgr->bri_mode, 16u);
        runTicks(6000);  // the manual step repeats without touching the value shown
        EXPECT_EQ(reg6(0), c.reg);
        EXPECT_EQ(ram(), c.shown);
    }
}

TEST_F(BrightTest, ManualChangeInHalfHourModeIsNotOverwrittenLater) {
    light();
    Bytes levels(48);
    for (int i = 0; i < 48; ++i) levels[i] = uint8_t(100 + i);
    loadTable(brightTable(17, levels));
    EXPECT_EQ(reg6(0), 114);
    request(40);
    runTicks(1);
    EXPECT_EQ(reg6(0), 102);
    setClock(7, 30);
    runTicks(3000);
    EXPECT_EQ(reg6(0), 102);
    EXPECT_EQ(ram(), 40);
    EXPECT_EQ(flash(kBrightTable, 10), (Bytes{0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 16, 102}));
}

// The thread writes the applied value into RAM 2176 for the panel; when the video processor
// passes that back (the word's write generation unchanged), the half-hour mode goes on.
TEST_F(BrightTest, EchoOfTheAppliedValueIsNoManualChange) {
    light();
    Bytes levels(48);
    for (int i = 0; i < 48; ++i) levels[i] = uint8_t(2 * i);
    loadTable(brightTable(17, levels));
    EXPECT_EQ(ram(), 28 * 100 / 255);
    handOver(fpga_manage::kRamBrightness);
    runTicks(1);
    EXPECT_EQ(mgr->bri_mode, 17u);
    setClock(8, 0);
    runStep();
    EXPECT_EQ(reg6(0), 32);
    EXPECT_EQ(flash(kBrightTable, 9).back(), 17);
}

// The half-hour table's level is echoed into RAM 2176; a user (a PC or the panel) then writes
// the word, before the next refresh writes the echo or after. The value the FPGA side applied or
// echoed (a block write of the values read, say) changes nothing: the table goes on, and its
// next echo lands. Any other value is kept over the echo and applied as a manual brightness:
// A-B-A, or another percentage of the same register value.
TEST_F(BrightTest, TheUsersBrightnessWrittenAfterAnEchoIsKept) {
    light();
    Bytes levels(48);
    for (int i = 0; i < 48; ++i) levels[i] = uint8_t(100 + i);
    constexpr int kEchoed = 114 * 100 / 255;  // 44
    struct Row {
        const char* name;
        bool echo_landed;  // the refresh wrote the echo before the user's writes
        std::vector<uint16_t> writes;
        int reg;
        uint32_t mode;
        int reg_at_half_past, ram_at_half_past;
    };
    const Row rows[] = {
        {"the very value the echo posts", false, {kEchoed}, 114, 17, 115, 115 * 100 / 255},
        {"the value read back", true, {kEchoed}, 114, 17, 115, 115 * 100 / 255},
        {"A-B-A", false, {60, 40}, 102, 16, 102, 40},
        {"another percentage of the level", true, {kEchoed + 1}, 114, 16, 114, kEchoed + 1},
    };
    for (const Writer by : {kPc, kPanel}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << (by == kPc ? "PC, " : "panel, ") << row.name);
            setClock(7, 10);
            userWrite(by, fpga_manage::kRamBrightness, 40);
            handOver(fpga_manage::kRamBrightness);
            runTicks(1);
            ASSERT_EQ(ram(), 40);
            loadTable(brightTable(17, levels));  // its level echoed, not yet in the RAM
            ASSERT_EQ(reg6(0), 114);
            if (row.echo_landed) {
                ASSERT_EQ(ram(), kEchoed);
            }
            for (uint16_t v : row.writes) userWrite(by, fpga_manage::kRamBrightness, v);
            const int last = row.writes.back();
            EXPECT_EQ(ram(), last) << "the echo wrote over the user's";
            handOver(fpga_manage::kRamBrightness);
            runTicks(1);
            EXPECT_EQ(reg6(0), row.reg);
            EXPECT_EQ(mgr->bri_mode, row.mode);
            EXPECT_EQ(flash(kBrightTable, 9).back(), row.mode) << "the flash table";
            setClock(7, 30);
            runStep();
            EXPECT_EQ(reg6(0), row.reg_at_half_past);
            EXPECT_EQ(ram(), row.ram_at_half_past);
        }
    }
}

// A brightness asked for while the FPGAs start is kept in the parameter file; a stop before the
// outputs light leaves the flash's table unwritten. With a manual table (or none) the next
// start applies the kept brightness and saves it; a half-hour table rules as before.
TEST_F(BrightTest, TheNextStartAppliesTheManualBrightnessTheParameterFileKept) {
    struct Row {
        const char* name;
        Bytes table;
        int reg, percent;
        uint8_t mode;
    };
    const Row rows[] = {
        {"no table", {}, 102, 40, 16},
        {"an older manual table", brightTable(16, {200}), 102, 40, 16},
        {"an older level table", brightTable(0, {4}), 102, 40, 16},
        {"a half-hour table", brightTable(17, Bytes(48, 30)), 30, 30 * 100 / 255, 17},
    };
    const auto start = [this] {
        startBoard();
        g_source_online = 2;
        for (auto& f : board->fpga) f.setLinks(0x01, 0x00);
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        clearFpgaSide();
        start();
        writeFlash(kBrightTable, row.table);
        powerUp(0);
        powerUp(1);
        runTicks(2);
        request(40);
        runTicks(2);
        ASSERT_EQ(mgr->get_fpga_status(), 0) << "lit before the stop";
        ASSERT_NE(para->ram_para_persist(), -1);
        ASSERT_EQ(para->persisted16(fpga_manage::kRamBrightness), 40);
        // Stopped, and started again from the parameter file and the flash.
        clearFpgaSide();
        para->reload();
        start();
        light();
        runStep();
        EXPECT_EQ(reg6(0), row.reg);
        EXPECT_EQ(reg6(1), row.reg);
        EXPECT_EQ(ram(), row.percent);
        EXPECT_EQ(flash(kBrightTable, 9).back(), row.mode);
    }
}

TEST_F(BrightTest, PcManualLevelSwitchesModeUntilTheTableIsLoadedAgain) {
    light();
    loadTable(brightTable(1, Bytes(48, 2)));
    EXPECT_EQ(reg6(0), 31);
    pcCommand({0xAA, 3, 0x00, 0, 0, 0, 2, 0, 0, 4});  // manual level 4, apply only
    EXPECT_EQ(reg6(0), 63);
    EXPECT_EQ(reg6(1), 63);
    setClock(8, 0);
    runTicks(3000);
    EXPECT_EQ(reg6(0), 63);
    g_change[17] = 1;  // the saved half-hour table again
    runStep();
    EXPECT_EQ(reg6(0), 31);
}

// A brightness asked for while no output port is linked reaches the FPGAs within 3 s of a link
// coming back, whether the PC is silent or keeps reading (a frame every 0.3 s, none of them
// for the cards).
TEST_F(BrightTest, RequestWithoutPortLinksKeepsTheValueForLater) {
    linkBackAfterRequest(0);
}

TEST_F(BrightTest, RequestWithoutPortLinksReachesALinkBackWhileAPcReads) {
    linkBackAfterRequest(30);
}

// The light sensor on FPGA 1's port 6 (group 6, card address 0x6000): each read moves the
// level one step towards what it asks for; bad readings leave it, and ten failed reads in a row
// give full brightness.
TEST_F(BrightTest, SensorModeFollowsTheLightSensor) {
    lightWithSensor(20);
    EXPECT_EQ(sensorSteps(3), 20);  // 16 (no table before), 17, ... 20 with the load's step
    EXPECT_EQ(reg6(1), 20);
    board->card(16, 1).light_level = 18;
    EXPECT_EQ(sensorSteps(1), 19);
    EXPECT_EQ(sensorSteps(5), 18);
    auto sent = board->fpga[1].sentFrames();
    sent.erase(
        std::remove_if(sent.begin(), sent.end(), [](const auto& f) { return f.frame[5] != 0xBB; }),
        sent.end());
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().port, 6);
    EXPECT_EQ(sent.back().frame, (Bytes{0x00, 0x60, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61,
                                        0x00, 0x00, 0x02, 0x80, 0x80, 0x00, 0x00, 0x00, 0x5B}));
    board->card(16, 1).light_valid = false;
    board->card(16, 1).light_level = 100;
    EXPECT_EQ(sensorSteps(3), 18);
    board->card(16, 1).silent = true;
    EXPECT_EQ(sensorSteps(9), 18);
    EXPECT_EQ(sensorSteps(1), 255);
}

// A sensor that fails now and then: a good reading starts the count of failures afresh, so
// scattered failures never give full brightness.
TEST_F(BrightTest, ScatteredSensorFailuresKeepTheLevel) {
    lightWithSensor(20);
    ASSERT_EQ(sensorSteps(3), 20);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        board->card(16, 1).silent = true;
        EXPECT_EQ(sensorSteps(9), 20);
        board->card(16, 1).silent = false;
        EXPECT_EQ(sensorSteps(1), 20);
    }
}

TEST_F(BrightTest, ScheduleBlacksAndLightsTheScreenOncePerDay) {
    light();
    // Six entries count as four: the fifth (10:00 off) never fires. The third turns the
    // screen on and black in the same minute.
    pcCommand(onOffTable({{0x08, 0x00, 0x20, 0x00},
                          {0x30, 0x00, 0x30, 0x00},
                          {0x12, 0x30, 0x12, 0x30},
                          {0x30, 0x00, 0x30, 0x00},
                          {0x30, 0x00, 0x10, 0x00}},
                         6));
    EXPECT_EQ(mgr->mirror(0, 66), 1);
    EXPECT_EQ(flash(kOnOffTable, 9), (Bytes{0xAA, 2, 0xAA, 0, 0, 0, 21, 0, 6}));
    const auto at = [this](int hour, int minute, int day) {
        setClock(hour, minute, 0, day);
        runTicks(30);
        return black();
    };
    EXPECT_FALSE(at(10, 0, 0));
    EXPECT_FALSE(at(19, 59, 0));
    EXPECT_TRUE(at(20, 0, 0));
    EXPECT_EQ(closeLedAfterRefresh(), 1);  // the panel follows
    mgr->SCREEN_fpgactrl_status(1);        // the user lights it within the same minute
    EXPECT_FALSE(at(20, 0, 0));            // each time fires once a day
    EXPECT_TRUE(at(12, 30, 1));            // on, then black, in one step
    EXPECT_TRUE(at(13, 0, 1));
    EXPECT_FALSE(at(8, 0, 2));  // the next morning
}

TEST_F(BrightTest, ClockCommandSetsTheDateThroughTheShell) {
    light();
    shell().clear();
    // Year in the century, century, month, day, hour, minute, second (BCD).
    pcCommand({0xAA, 1, 0, 0, 0, 0, 7, 0, 0x24, 0x20, 0x05, 0x07, 0x09, 0x05, 0x03});
    EXPECT_EQ(commands(), std::vector<std::string>{"date \"2024-5-7 9:5:3\";hwclock -wu"});
    const Bytes refused[] = {
        {0x24, 0x20, 0x13, 0x07, 0x09, 0x05, 0x03},  // month 13
        {0x26, 0x20, 0x02, 0x30, 0x09, 0x05, 0x03},  // 30 February
        {0x2A, 0x20, 0x05, 0x07, 0x09, 0x05, 0x03},  // not BCD
        {0x40, 0x20, 0x01, 0x01, 0x00, 0x00, 0x00},  // past what the box's clock holds
        {0x24, 0x20, 0x05, 0x07, 0x24, 0x05, 0x03},  // hour 24
    };
    for (const Bytes& t : refused) {
        Bytes cmd = {0xAA, 1, 0, 0, 0, 0, 7, 0};
        cmd.insert(cmd.end(), t.begin(), t.end());
        pcCommand(cmd);
    }
    EXPECT_EQ(commands().size(), 1u);
}
