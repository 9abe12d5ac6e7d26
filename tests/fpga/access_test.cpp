// Register, RAM-area and flash traffic on the bus: headers, data phases, pad routing,
// page splitting, fast-read pieces and refusals.
#include <cerrno>
#include <thread>

#include "fpga_fixture.h"
#include "platform/clock.h"

namespace {
constexpr int kFpga0 = 0, kFpga1 = 1, kFlash2 = 2;
using Bytes = std::vector<uint8_t>;
}  // namespace

TEST_F(FpgaTest, RegisterWriteIsHeaderThenDataWithThePadsRouted) {
    powerUp(kFpga1);
    box().soc.clearWrites();
    mgr->write_fpga_register(23, 0x09, kFpga1, 0x0F);

    const auto msgs = messagesOn(kFpga1);
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_TRUE(msgs[0].header);
    EXPECT_EQ(msgs[0].tx, (Bytes{0x04, 0x00, 23, 0x0F}));
    EXPECT_FALSE(msgs[1].header);
    EXPECT_EQ(msgs[1].tx, (Bytes{0x09}));
    EXPECT_TRUE(msgs[0].answered && msgs[1].answered);
    EXPECT_EQ(board->fpga[1].reg(23), 0x09);
    EXPECT_EQ(board->misrouted(), 0);

    // Header up, FPGA 1 selected, FPGA 0 deselected; header down; both deselected.
    std::vector<std::pair<uint32_t, uint16_t>> seq;
    for (auto& w : box().soc.writes()) seq.push_back({w.offset, w.value});
    const std::vector<std::pair<uint32_t, uint16_t>> want = {
        {fpga_manage::fpga1_header, 0x10}, {fpga_manage::fpga1_select, 0},
        {fpga_manage::fpga0_select, 0x10}, {fpga_manage::fpga1_header, 0},
        {fpga_manage::fpga0_select, 0x10}, {fpga_manage::fpga1_select, 0x10}};
    EXPECT_EQ(seq, want);
}

TEST_F(FpgaTest, RegisterReadFillsTheMirrorAndSkipsNonFpgaNumbers) {
    powerUp(kFpga0);
    mgr->read_from_register(31, kFpga0);
    EXPECT_EQ(mgr->MCU_REG_func[0][31], board->fpga[0].version[3]);
    const auto msgs = messagesOn(kFpga0);
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].tx, (Bytes{0x05, 0x00, 31, 0x00}));
    EXPECT_EQ(msgs[1].tx, (Bytes{0xFF}));

    board->clearMessages();
    mgr->MCU_REG_func[0][80] = 3;
    for (uint8_t reg : {64, 80, 96, 97, 127, 170, 171, 255}) mgr->read_from_register(reg, kFpga0);
    EXPECT_TRUE(board->messages().empty());
    EXPECT_EQ(mgr->MCU_REG_func[0][80], 3);
}

TEST_F(FpgaTest, SoftRegistersLiveOnlyInTheMirror) {
    powerUp(kFpga0);
    mgr->write_to_0x00_register(64, 0xFF, 0x42, kFpga0);
    mgr->write_to_register(66, 0x01, 0x01, kFpga0);
    mgr->write_to_register(100, 0xFF, 0x55, kFpga0);  // ignored range
    EXPECT_EQ(mgr->MCU_REG_func[0][64], 0x42);
    EXPECT_EQ(mgr->MCU_REG_func[0][66], 0x01);
    EXPECT_EQ(mgr->MCU_REG_func[0][100], 0);
    EXPECT_TRUE(board->messages().empty());
}

TEST_F(FpgaTest, BlackBitOfRegisterZeroDrivesScreenState) {
    powerUp(kFpga0);
    mgr->write_to_0x00_register(0, 0x04, 0x04, kFpga0);
    EXPECT_EQ(ScreenState, 0);
    EXPECT_EQ(mgr->MCU_RAM_EXTEND[29], 0);
    EXPECT_EQ(board->fpga[0].reg(0) & 4, 4);
    EXPECT_EQ(para->rd16(2116), 0);  // this form leaves the parameter RAM alone
    mgr->write_to_0x00_register(0, 0x04, 0x00, kFpga0);
    EXPECT_EQ(ScreenState, 1);
    EXPECT_EQ(mgr->MCU_RAM_EXTEND[29], 1);
}

TEST_F(FpgaTest, RamAreaHeadersCarryTwelveAddressBits) {
    powerUp(kFpga0);
    const uint8_t data[3] = {1, 2, 3};
    mgr->write_fpga_ram(data, 0x1234, 3, 5, kFpga0);
    auto msgs = messagesOn(kFpga0);
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].tx, (Bytes{0x02, 5, 0x34, 0x02}));
    EXPECT_EQ(msgs[1].tx, (Bytes{1, 2, 3}));
    EXPECT_EQ(board->fpga[0].area(5, 0x234, 3), (Bytes{1, 2, 3}));

    uint8_t back[3] = {};
    mgr->read_fpga_ram(back, 0x234, 3, 5, kFpga0);
    EXPECT_EQ(Bytes(back, back + 3), (Bytes{1, 2, 3}));

    board->clearMessages();
    mgr->read_fpga_ram(nullptr, 16, 0, 5, kFpga0);
    msgs = messagesOn(kFpga0);
    ASSERT_EQ(msgs.size(), 1u);  // the header alone
    EXPECT_EQ(msgs[0].tx, (Bytes{0x03, 5, 16, 0}));
    EXPECT_EQ(board->protocolErrors(), 0);
}

TEST_F(FpgaTest, ConcurrentMaskedWritesKeepEveryBit) {
    powerUp(kFpga0);
    auto setBits = [this](int first) {
        for (int round = 0; round < 50; ++round)
            for (int b = first; b < first + 4; ++b) {
                mgr->write_to_register(26, uint8_t(1 << b), 0x00, kFpga0);
                mgr->write_to_register(26, uint8_t(1 << b), uint8_t(1 << b), kFpga0);
            }
    };
    std::thread a(setBits, 0), b(setBits, 4);
    a.join();
    b.join();
    EXPECT_EQ(board->fpga[0].reg(26), 0xFF);
    EXPECT_EQ(mgr->MCU_REG_func[0][26], 0xFF);
}

TEST(FpgaInit, NoAccessAfterThePadWindowFailed) {
    const std::string root = makeTempDir("fpga-init");
    platform::selectSimulated(root);
    auto board = platform::sim::buildFpgaBoard();
    platform::sim::SimBox::get().soc.pads_open_error = -ENOENT;
    fpga_manage* mgr = fpga_manage::pInstance();
    EXPECT_EQ(mgr->initialize(), 255);
    EXPECT_FALSE(mgr->fpga_ready);
    uint8_t value = 0x5A;
    EXPECT_LT(mgr->read_fpga_register(31, &value, 0), 0);
    mgr->write_to_register(3, 0x40, 0x40, 0);
    mgr->drive_line(fpga_manage::fpga0_reset, 0x10);
    uint8_t out[4];
    EXPECT_EQ(mgr->flash_read(2, 0, 4, out), fpga_drv::kFlashFailed);
    EXPECT_TRUE(board->messages().empty());
    EXPECT_TRUE(platform::sim::SimBox::get().soc.writes().empty());
    EXPECT_EQ(value, 0x5A);
    fpga_manage::shutdown();  // the next case of the process makes its own
    removeTree(root);
}

// ---------------------------------------------------------------------------------------
// Flash

TEST_F(FpgaTest, FlashWriteIsCutAtPageBoundariesAndLeavesTheCallersBuffer) {
    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 1);
    const Bytes copy = data;
    ASSERT_EQ(mgr->flash_write(kFlash2, 0x1000F0, data.data(), 300), fpga_drv::kFlashDone);
    EXPECT_EQ(data, copy);

    std::vector<size_t> programs;
    for (auto& m : messagesOn(kFlash2)) {
        EXPECT_TRUE(m.answered);
        if (m.tx[0] == 0x02) programs.push_back(m.tx.size() - 4);
    }
    EXPECT_EQ(programs, (std::vector<size_t>{16, 256, 28}));
    const auto& mem = board->flash[0].mem;
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), mem.begin() + 0x1000F0));
    EXPECT_EQ(board->flash[1].programs, 0);
    // The flash is handed back to the FPGA and the bus parked.
    EXPECT_EQ(box().soc.word(fpga_manage::fpga0_flash_access), 0x10);
    EXPECT_EQ(box().soc.word(fpga_manage::fpga0_select), 0x10);
}

TEST_F(FpgaTest, FlashWriteWithinOnePageIsOneProgram) {
    const uint8_t data[10] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    ASSERT_EQ(mgr->flash_write(3, 0x20, data, 10), fpga_drv::kFlashDone);
    int programs = 0;
    for (auto& m : messagesOn(3)) programs += m.tx[0] == 0x02;
    EXPECT_EQ(programs, 1);
    EXPECT_TRUE(std::equal(data, data + 10, board->flash[1].mem.begin() + 0x20));
}

TEST_F(FpgaTest, FastReadGoesInPiecesOfAtMost2048) {
    Bytes out(2049);
    ASSERT_EQ(mgr->flash_read(kFlash2, 0x100, 2048, out.data()), fpga_drv::kFlashDone);
    auto msgs = messagesOn(kFlash2);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].tx.size(), 2053u);
    EXPECT_EQ(Bytes(msgs[0].tx.begin(), msgs[0].tx.begin() + 4), (Bytes{0x0B, 0x00, 0x01, 0x00}));

    board->clearMessages();
    board->flash[0].mem[0x100 + 2048] = 0x3C;
    ASSERT_EQ(mgr->flash_read(kFlash2, 0x100, 2049, out.data()), fpga_drv::kFlashDone);
    msgs = messagesOn(kFlash2);
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[1].tx.size(), 6u);
    EXPECT_EQ(out[2048], 0x3C);
}

TEST_F(FpgaTest, FlashRefusalsTouchNeitherBusNorPads) {
    uint8_t buf[16] = {};
    EXPECT_EQ(mgr->flash_erase(kFlash2, 0, 3, 1), fpga_drv::kFlashRefused);
    EXPECT_EQ(mgr->flash_erase(kFlash2, 2047, 0, 2), fpga_drv::kFlashRefused);
    EXPECT_EQ(mgr->flash_erase(kFlash2, 2040, 2, 1), fpga_drv::kFlashRefused);
    EXPECT_EQ(mgr->flash_write(kFlash2, 0x7FFFF8, buf, 16), fpga_drv::kFlashRefused);
    EXPECT_EQ(mgr->flash_write(kFlash2, 0, buf, 0), fpga_drv::kFlashRefused);
    EXPECT_EQ(mgr->flash_read(kFlash2, 0x800000, 1, buf), fpga_drv::kFlashRefused);
    EXPECT_EQ(mgr->flash_read(0, 0, 1, buf), fpga_drv::kFlashRefused);
    EXPECT_TRUE(board->messages().empty());
    EXPECT_TRUE(box().soc.writes().empty());
    EXPECT_EQ(board->flash[0].erases, 0);
}

TEST_F(FpgaTest, FlashEraseWipesWholeUnits) {
    auto& mem = board->flash[0].mem;
    std::fill(mem.begin() + 0x7F0000, mem.end(), 0x00);
    ASSERT_EQ(mgr->flash_erase(kFlash2, 2032, 2, 1), fpga_drv::kFlashDone);  // last 64 KiB
    EXPECT_TRUE(
        std::all_of(mem.begin() + 0x7F0000, mem.end(), [](uint8_t b) { return b == 0xFF; }));
    ASSERT_EQ(mgr->flash_erase(kFlash2, 0x308, 0, 2), fpga_drv::kFlashDone);
    EXPECT_EQ(board->flash[0].erases, 3);
    EXPECT_EQ(board->flash[0].ignored, 0);  // every erase had its write enable
}

TEST_F(FpgaTest, StuckBusyFlashIsReportedAsAFailure) {
    platform::installClock(std::make_unique<platform::FakeClock>());
    board->flash[0].stuck_busy = true;
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(mgr->flash_write(kFlash2, 0, data, 4), fpga_drv::kFlashFailed);
    EXPECT_EQ(mgr->flash_erase(kFlash2, 0, 0, 1), fpga_drv::kFlashFailed);
    EXPECT_EQ(board->flash[0].programs, 0);
    EXPECT_EQ(box().soc.word(fpga_manage::fpga0_flash_access), 0x10);
    platform::installClock(nullptr);
}

// Worn cells take programs and erases as done and keep their bytes: only reading back tells.
TEST_F(FpgaTest, WornCellsReportDoneButKeepTheirBytes) {
    auto& flash = board->flash[0];
    std::fill(flash.mem.begin(), flash.mem.begin() + 0x3000, 0x5A);
    flash.worn_begin = 0x1800;
    flash.worn_end = 0x1900;
    ASSERT_EQ(mgr->flash_erase(kFlash2, 0, 0, 3), fpga_drv::kFlashDone);
    const Bytes data(0x3000, 0x21);
    ASSERT_EQ(mgr->flash_write(kFlash2, 0, data.data(), uint32_t(data.size())),
              fpga_drv::kFlashDone);
    Bytes back(data.size());
    ASSERT_EQ(mgr->flash_read(kFlash2, 0, uint32_t(back.size()), back.data()),
              fpga_drv::kFlashDone);
    for (uint32_t a : {0x0u, 0x17FFu, 0x1900u, 0x2FFFu}) EXPECT_EQ(back[a], 0x21) << a;
    for (uint32_t a : {0x1800u, 0x18FFu}) EXPECT_EQ(back[a], 0x5A) << "worn " << a;
    EXPECT_EQ(flash.erases, 3);
    EXPECT_EQ(flash.programs, 0x30);
    EXPECT_EQ(flash.ignored, 0);
}

TEST_F(FpgaTest, UniqueIdIsReadInOneMessage) {
    uint8_t id[8] = {};
    ASSERT_EQ(mgr->flash_uid(3, id), fpga_drv::kFlashDone);
    EXPECT_TRUE(std::equal(id, id + 8, board->flash[1].uid.begin()));
    const auto msgs = messagesOn(3);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].tx.size(), 13u);
}

TEST_F(FpgaTest, FlashOperationsRouteTheBusAndRunTheirCommandSequence) {
    // Command heads on flash 3, with runs of status polls folded into one.
    const auto commands = [this] {
        std::vector<Bytes> cmds;
        for (auto& m : messagesOn(3)) {
            EXPECT_TRUE(m.answered);
            const Bytes head(m.tx.begin(), m.tx.begin() + std::min<size_t>(m.tx.size(), 4));
            if (head == Bytes{0x05, 0xFF} && !cmds.empty() && cmds.back() == head) continue;
            cmds.push_back(head);
        }
        board->clearMessages();
        return cmds;
    };
    const uint8_t data[2] = {0x12, 0x34};
    ASSERT_EQ(mgr->flash_write(3, 0x30E0FF, data, 2), fpga_drv::kFlashDone);
    // Write enable and program for each of the two chunks across the page end, each followed
    // by busy polls.
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0x06},
                                              {0x02, 0x30, 0xE0, 0xFF},
                                              {0x05, 0xFF},
                                              {0x06},
                                              {0x02, 0x30, 0xE1, 0x00},
                                              {0x05, 0xFF}}));
    ASSERT_EQ(mgr->flash_erase(3, 0x30F, 0, 1), fpga_drv::kFlashDone);
    // A busy wait first, then write enable, busy wait, erase, busy wait.
    EXPECT_EQ(commands(),
              (std::vector<Bytes>{
                  {0x05, 0xFF}, {0x06}, {0x05, 0xFF}, {0x20, 0x30, 0xF0, 0x00}, {0x05, 0xFF}}));
    EXPECT_EQ(board->flash[1].mem[0x30E0FF], 0x12);
    EXPECT_EQ(board->flash[1].mem[0x30E100], 0x34);
    EXPECT_EQ(board->flash[1].ignored, 0);
    EXPECT_EQ(board->misrouted(), 0);

    // Each operation: FPGA 0 off the bus, FPGA 1's flash taken; then handed back and parked.
    std::vector<std::pair<uint32_t, uint16_t>> seq;
    for (auto& w : box().soc.writes()) seq.push_back({w.offset, w.value});
    const std::vector<std::pair<uint32_t, uint16_t>> one = {
        {fpga_manage::fpga0_select, 0x10},    {fpga_manage::fpga1_select, 0},
        {fpga_manage::fpga1_flash_access, 0}, {fpga_manage::fpga1_flash_access, 0x10},
        {fpga_manage::fpga0_select, 0x10},    {fpga_manage::fpga1_select, 0x10}};
    std::vector<std::pair<uint32_t, uint16_t>> two = one;
    two.insert(two.end(), one.begin(), one.end());
    EXPECT_EQ(seq, two);
}

TEST_F(FpgaTest, MessagesOnABusRoutedElsewhereAreNotAnswered) {
    powerUp(kFpga0);
    // FPGA 0 addressed while the pads still route the bus to FPGA 1 (as a transfer that forgot
    // its select lines would): the FPGA never sees it and the read gives no value.
    box().soc.setWord(fpga_manage::fpga1_select, 0);
    std::unique_ptr<platform::SpiBus> bus;
    ASSERT_EQ(platform::openSpiBus("/dev/spidev32766.1", fpga_drv::kSpeedHz, bus), 0);
    const uint8_t head[4] = {0x05, 0, 31, 0};
    ASSERT_EQ(bus->transfer(head, nullptr, 4, fpga_drv::kSpeedHz), 0);
    EXPECT_EQ(board->misrouted(), 1);
    // Flash 2 while FPGA 0's flash-access line is high: the FPGA keeps its flash.
    box().soc.setWord(fpga_manage::fpga1_select, 0x10);
    box().soc.setWord(fpga_manage::fpga0_select, 0);
    ASSERT_EQ(platform::openSpiBus("/dev/spidev32766.3", fpga_drv::kSpeedHz, bus), 0);
    uint8_t tx[6] = {0x0B, 0, 0, 0, 0xFF, 0xFF}, rx[6] = {};
    board->flash[0].mem[0] = 0x00;
    ASSERT_EQ(bus->transfer(tx, rx, 6, fpga_drv::kSpeedHz), 0);
    EXPECT_EQ(rx[5], 0xFF);
    EXPECT_EQ(board->misrouted(), 2);
}
