// Bring-up of the FPGA pair on the simulated board: from reset to the lit screen, the faults
// that hold or restart it, and the parameter table loaded from flash.
#include <filesystem>

#include "fpga_fixture.h"

namespace {
uint16_t word(const std::vector<uint8_t>& b, int at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}
}  // namespace

TEST_F(FpgaTest, BothFpgasComeUpAndLightOnceTheSourceIsStable) {
    g_source_online = 2;
    EXPECT_TRUE(mgr->restarting(0));  // the bring-up at power-on
    EXPECT_TRUE(mgr->restarting(1));
    powerUp(0);
    powerUp(1);
    ASSERT_TRUE(bothLit());
    EXPECT_FALSE(mgr->restarting(0));
    EXPECT_FALSE(mgr->restarting(1));
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(board->fpga[i].lit()) << "fpga " << i;
        EXPECT_EQ(mgr->start_step[i], fpga_manage::kLit);
        EXPECT_EQ(mgr->ram_check[i], 1);
        // The port numbers of the table went to area 1.
        EXPECT_EQ(board->fpga[i].area(1, 276, 10)[0], i * 10 + 1);
        EXPECT_EQ(board->fpga[i].area(1, 276, 10)[9], i * 10 + 10);
        EXPECT_EQ(board->fpga[i].reg(2) & 0x08, 0x08);  // table loaded
    }
    EXPECT_EQ(g_fpga_lcd_on, 1u);
    EXPECT_TRUE(refreshed(12));
    EXPECT_EQ(ScreenState, 1);
    EXPECT_EQ(board->misrouted(), 0);
    EXPECT_EQ(board->protocolErrors(), 0);
    // The version of FPGA 1 ends in the command table (the last one loaded).
    EXPECT_EQ(mgr->MCU_RAM_CMD[15], board->fpga[1].version[3]);
}

TEST_F(FpgaTest, WithoutStableSourceBothWaitBlackAtStep16) {
    g_source_online = 1;
    powerUp(0);
    powerUp(1);
    ASSERT_TRUE(runUntil([this] { return mgr->start_step[0] == 16 && mgr->start_step[1] == 16; }));
    runTicks(200);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(mgr->start_step[i], 16);
        EXPECT_FALSE(board->fpga[i].lit());
        EXPECT_EQ(board->fpga[i].reg(0) & 4, 4);  // black
    }
    EXPECT_EQ(g_fpga_lcd_on, 1u);  // the video path may now report stable
    EXPECT_EQ(mgr->get_fpga_status(), 0);
    g_source_online = 2;
    EXPECT_TRUE(bothLit());
}

TEST_F(FpgaTest, OneFpgaOnlyNeverLightsTheScreen) {
    g_source_online = 2;
    powerUp(0);
    raviksource::pInstance()->fpga_board_state[1] = 1;
    ASSERT_TRUE(runUntil([this] { return mgr->start_step[0] == 3; }));
    runTicks(500);
    EXPECT_EQ(mgr->start_step[0], 3);  // waits for the other FPGA's PHY
    EXPECT_EQ(mgr->vbo_step[0], fpga_manage::kVboDone);
    EXPECT_EQ(mgr->get_fpga_status(), 0);
    EXPECT_FALSE(board->fpga[0].lit());
    EXPECT_TRUE(messagesOn(1).empty());
}

// An input the FPGA cannot show (a frame period out of range, less than half the LED width)
// holds that FPGA at step 7 until the input is good.
TEST_F(FpgaTest, AnInputTheFpgaCannotShowHoldsAtStep7) {
    struct Case {
        int fpga;
        uint16_t width, height;
        uint32_t period;
    };
    for (const Case& c : {Case{0, 1920, 1080, 1000000}, Case{1, 959, 1080, 833333}}) {
        SCOPED_TRACE(c.fpga);
        startBoard();
        g_source_online = 2;
        board->fpga[c.fpga].setInput(c.width, c.height, c.period);
        powerUp(0);
        powerUp(1);
        ASSERT_TRUE(runUntil([&] { return mgr->start_step[1 - c.fpga] == 3; }));
        runTicks(300);
        EXPECT_EQ(mgr->start_step[c.fpga], 7);
        EXPECT_EQ(mgr->get_fpga_status(), 0);
        board->fpga[c.fpga].setInput(960, 540, 714286);
        EXPECT_TRUE(bothLit());
    }
}

TEST_F(FpgaTest, VByOneErrorIsResetTwiceThenGoesOn) {
    g_source_online = 2;
    board->fpga[1].vbo_error = true;
    powerUp(1);
    box().soc.clearWrites();
    ASSERT_TRUE(runUntil([this] { return mgr->vbo_step[1] >= 5; }, 6000));
    EXPECT_EQ(resetPulses(1), 2);
    // S5 gives up waiting for the lock after at most 8 polls and finishes the link.
    ASSERT_TRUE(runUntil([this] { return mgr->vbo_step[1] == fpga_manage::kVboDone; }, 200));
    EXPECT_EQ(board->fpga[1].reg(23) & 1, 1);
    EXPECT_EQ(mgr->MCU_REG_func[1][80], 3);
}

TEST_F(FpgaTest, FpgaThatNeverGetsReadyIsResetAndStartsOver) {
    g_source_online = 2;
    board->fpga[0].never_ready = true;
    powerUp(0);
    ASSERT_TRUE(runUntil([this] { return mgr->vbo_step[0] == fpga_manage::kVboDone; }));
    box().soc.clearWrites();
    const int starts = board->fpga[0].starts();
    ASSERT_TRUE(runUntil([this] { return resetPulses(0) == 1; }, 200));
    EXPECT_EQ(mgr->vbo_step[0], 17);
    ASSERT_TRUE(runUntil([&] { return board->fpga[0].starts() == starts + 1; }, 100));
    EXPECT_EQ(mgr->vbo_step[0], 0);  // the bring-up starts over
    board->fpga[0].never_ready = false;
    powerUp(1);
    EXPECT_TRUE(bothLit());
}

TEST_F(FpgaTest, VersionOutsideTheAnsweringRangeRestartsTheLinkSteps) {
    board->fpga[0].version[3] = 49;
    powerUp(0);
    runTicks(600);
    EXPECT_EQ(mgr->vbo_step[0], 1);
    EXPECT_EQ(mgr->MCU_REG_func[0][31], 49);
    EXPECT_EQ(board->fpga[0].reg(3) & 0x40, 0);  // S1 never ran
    board->fpga[0].version[3] = 48;
    EXPECT_TRUE(runUntil([this] { return mgr->vbo_step[0] == fpga_manage::kVboDone; }, 100));
}

TEST_F(FpgaTest, ParameterTableIsLoadedFromTheFlashCopy) {
    std::vector<uint8_t> saved = savedPortTable();
    saved[1 + 100] = 7;  // a stale card count: the link bytes start from zero
    ASSERT_EQ(mgr->flash_write(2, fpga_manage::kParaFlashAddr, saved.data(), 1025), 1);
    startBoard();        // the flash keeps its copy across a restart of the box
    panelOffset(10, 4);  // global offset of the LED screen

    g_source_online = 2;
    powerUp(0);
    powerUp(1);
    ASSERT_TRUE(bothLit());
    const auto a0 = board->fpga[0].area(1, 0, 1024);
    EXPECT_EQ(word(a0, 19), 110);  // x + led_x
    EXPECT_EQ(word(a0, 21), 44);
    EXPECT_EQ(word(a0, 23), 256);
    EXPECT_EQ(word(a0, 60), 1024);  // (1000 + 10) rounded up to 32
    EXPECT_EQ(word(a0, 62), 504);
    EXPECT_EQ(word(a0, 100), 0);
    EXPECT_EQ(mgr->MCU_RAM_ETH_BACK_PARA_func[0][12], 100);  // without the offset

    // FPGA 1 has no copy: the defaults, every port 1280 x 512 at 0, 0.
    const auto a1 = board->fpga[1].area(1, 0, 1024);
    EXPECT_EQ(word(a1, 43), 0);
    EXPECT_EQ(word(a1, 47), 1280);
    EXPECT_EQ(word(a1, 49), 512);
    EXPECT_EQ(word(a1, 520 + 8 * 3 + 4), 1280);
    EXPECT_EQ(a1[296], 0x76);
    EXPECT_EQ(a1[359], 0x01);
}

TEST_F(FpgaTest, FlappingLinkIsCaughtAndRecovered) {
    g_source_online = 2;
    powerUp(0);
    powerUp(1);
    ASSERT_TRUE(bothLit());
    board->fpga[0].flapping_link = true;
    board->fpga[0].clearWrittenRegs();
    ASSERT_TRUE(runUntil([this] { return mgr->link_fault[0] == 1; }, 50));
    EXPECT_EQ(mgr->link_fault[1], 0);
    board->fpga[0].flapping_link = false;
    ASSERT_TRUE(runUntil([this] { return mgr->link_fault[0] == 0; }, 50));
    EXPECT_EQ(board->fpga[0].reg(3) & 0xC0, 0xC0);  // both link bits set again
}

TEST(FpgaCreate, MakesTheCardFileFolders) {
    if (fpga_manage::p_fpga_manage) GTEST_SKIP() << "the manager exists already in this process";
    const std::string root = makeTempDir("fpga-dirs");
    platform::selectSimulated(root);
    platform::sim::buildFpgaBoard();
    fpga_manage::pInstance();
    EXPECT_TRUE(std::filesystem::is_directory(platform::path("/data/smartmapping")));
    EXPECT_TRUE(std::filesystem::is_directory(platform::path("/data/rcvrecovery")));
    fpga_manage::shutdown();  // the next case of the process makes its own
    removeTree(root);
}

TEST_F(FpgaTest, InterruptPollCatchesAnFpgaThatReloadedItself) {
    g_source_online = 2;
    powerUp(0);
    powerUp(1);
    ASSERT_TRUE(bothLit());
    runTicks(2);
    EXPECT_EQ(box().soc.word(fpga_manage::fpga0_irq), 0);  // the start-up restart was taken

    board->fpga[0].version[3] = 0x60;  // not answering yet after the reload
    board->restartFpga(0);
    EXPECT_EQ(box().soc.word(fpga_manage::fpga0_irq), 1);
    runTicks(1);
    EXPECT_EQ(mgr->MCU_REG_func[0][80], 0);
    EXPECT_EQ(mgr->get_fpga_status(), 0);
    ASSERT_TRUE(runUntil([this] { return mgr->vbo_step[0] == 1; }, 20));
    board->fpga[0].version[3] = 0x25;
    EXPECT_TRUE(bothLit());
    EXPECT_TRUE(board->fpga[0].lit());
}

TEST_F(FpgaTest, StartUpStepsKeepTheirTickWaits) {
    g_source_online = 2;
    powerUp(0);
    powerUp(1);
    ASSERT_TRUE(runUntil([this] { return mgr->vbo_step[0] == fpga_manage::kVboDone; }));
    // With one pass per tick, a step that waits more than n ticks moves n + 1 ticks after the
    // step before it.
    std::vector<std::pair<int, uint32_t>> steps = {{mgr->start_step[0], G_timeTicks.load()}};
    ASSERT_TRUE(runUntil(
        [&] {
            if (mgr->start_step[0] != steps.back().first)
                steps.push_back({mgr->start_step[0], G_timeTicks.load()});
            return mgr->start_step[0] == fpga_manage::kLit;
        },
        2000))
        << state();
    const std::vector<std::pair<int, uint32_t>> want = {{0, 0},  {7, 11},  {1, 11},  {8, 31},
                                                        {2, 6},  {9, 11},  {10, 1},  {3, 6},
                                                        {14, 0}, {15, 11}, {16, 31}, {18, 21}};
    ASSERT_EQ(steps.size(), want.size());
    for (size_t k = 1; k < steps.size(); ++k) {
        EXPECT_EQ(steps[k].first, want[k].first);
        if (want[k].second == 0) continue;  // step 3 moves when the other FPGA's PHY is done
        EXPECT_EQ(steps[k].second - steps[k - 1].second, want[k].second)
            << "step " << want[k].first;
    }
}

TEST_F(FpgaTest, VByOneStepsAreSixTicksApart) {
    powerUp(0);
    std::vector<std::pair<int, uint32_t>> steps = {{mgr->vbo_step[0], G_timeTicks.load()}};
    ASSERT_TRUE(runUntil(
        [&] {
            if (mgr->vbo_step[0] != steps.back().first)
                steps.push_back({mgr->vbo_step[0], G_timeTicks.load()});
            return mgr->vbo_step[0] == fpga_manage::kVboDone;
        },
        2000));
    const std::vector<int> want = {0, 1, 2, 3, 5, 6, 7};
    ASSERT_EQ(steps.size(), want.size());
    for (size_t k = 2; k < steps.size(); ++k) {
        EXPECT_EQ(steps[k].first, want[k]);
        EXPECT_EQ(steps[k].second - steps[k - 1].second, 6u) << "step " << want[k];
    }
    // Bits 6 and 7 of register 3 set, register 23 bit 0 set, register 22 bit 5 cleared.
    EXPECT_EQ(board->fpga[0].reg(3) & 0xC0, 0xC0);
    EXPECT_EQ(board->fpga[0].reg(23) & 0x01, 0x01);
    EXPECT_EQ(board->fpga[0].reg(22) & 0x20, 0);
}

// A link's interrupt poll that was still reading FPGA 1 when its reset ended leaves the version
// in the mirror: the bring-up that follows starts all the same, from its own version read.
TEST_F(FpgaTest, AVersionLeftInTheMirrorAtTheEndOfAResetDoesNotHoldTheBringUp) {
    ASSERT_TRUE(light());
    mgr->reset_fpga_rst(0, "a test");
    ASSERT_TRUE(runUntil([this] { return !mgr->rst_active[0]; }, 100));
    mgr->read_from_register(31, 0);
    ASSERT_EQ(mgr->mirror(0, 31), board->fpga[0].version[3]);
    EXPECT_TRUE(bothLit());
}

// The links poll both FPGAs for card answers. One in its reset pulse is left alone: what a
// poll read from it there (its registers all 0) would not be the FPGA's.
TEST_F(FpgaTest, InterruptPollsLeaveAnFpgaInItsResetPulseAlone) {
    ASSERT_TRUE(light());
    int restarts = 0;
    mgr->hooks.on_bringup_restart = [&](int, const char*) { ++restarts; };
    mgr->reset_fpga_rst(0, "a test");
    board->clearMessages();
    {
        std::lock_guard<std::mutex> lock(mgr->irq_mutex);
        mgr->reg_IRQ_Dealwith(0, 1);
    }
    EXPECT_TRUE(messagesOn(0).empty());
    EXPECT_EQ(restarts, 1);
    mgr->hooks.on_bringup_restart = nullptr;
    EXPECT_TRUE(bothLit());
}
