#include "fpga_fixture.h"

#include <algorithm>

#include "c331/c331_manage.h"

void FpgaTest::SetUp() {
    SimBoxTest::SetUp();
    g_debugSwitch = 0;
    G_timeTicks = 1000;
    g_source_online = 0;
    g_set_led_para = 0;
    g_set_led_setup = 0;
    g_fpga_lcd_on = 0;
    g_usb_grade = 0;
    pc_cmd_valid = 0;
    for (auto& w : g_change) w = 0;
    para = ZemRamPara::pInstance();
    para->wr16(1378, 1920);  // LED screen 1920 x 1080
    para->wr16(1380, 1080);
    para->wr16(1382, 0);
    para->wr16(1384, 0);
    para->wr16(2116, 0);
    refresh_conn = QObject::connect(para, &ZemRamPara::sig_update_para,
                                    [this](int id) { refresh_ids.push_back(id); });
    raviksource* source = raviksource::pInstance();
    source->fpga_board_state[0] = 0;
    source->fpga_board_state[1] = 0;
    startBoard();
}

void FpgaTest::startBoard() {
    board = platform::sim::buildFpgaBoard();
    mgr = fpga_manage::pInstance();
    mgr->clear_state();
    ASSERT_EQ(mgr->initialize(), 0);
    mgr->softinit();
    board->clearMessages();
    box().soc.clearWrites();
}

void FpgaTest::TearDown() {
    c331_manage::shutdown();  // a test that started the chip leaves none to the next one
    QObject::disconnect(refresh_conn);
    SimBoxTest::TearDown();
}

void FpgaTest::powerUp(int fpga) {
    mgr->drive_line(fpga == 0 ? fpga_manage::fpga0_reset : fpga_manage::fpga1_reset,
                    fpga_manage::kLineHigh);
    raviksource::pInstance()->fpga_board_state[fpga] = 2;
}

void FpgaTest::runTicks(int ticks) {
    for (int t = 0; t < ticks; ++t) {
        ++G_timeTicks;
        mgr->fpga_manage_deal();
    }
}

bool FpgaTest::runUntil(const std::function<bool()>& pred, int maxTicks) {
    for (int t = 0; t < maxTicks; ++t) {
        if (pred()) return true;
        runTicks(1);
    }
    return pred();
}

std::vector<FpgaTest::Board::Message> FpgaTest::messagesOn(int node) const {
    std::vector<Board::Message> out;
    for (auto& m : board->messages())
        if (m.node == node) out.push_back(m);
    return out;
}

std::vector<uint16_t> FpgaTest::padWrites(uint32_t offset) const {
    std::vector<uint16_t> out;
    for (auto& w : box().soc.writes())
        if (w.offset == offset) out.push_back(w.value);
    return out;
}

int FpgaTest::resetPulses(int fpga) const {
    const auto w = padWrites(fpga == 0 ? fpga_manage::fpga0_reset : fpga_manage::fpga1_reset);
    return int(std::count(w.begin(), w.end(), 0));
}

bool FpgaTest::refreshed(int id) const {
    return std::find(refresh_ids.begin(), refresh_ids.end(), id) != refresh_ids.end();
}

::testing::AssertionResult FpgaTest::bothLit() {
    if (runUntil([this] { return mgr->get_fpga_status() == 1; }))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << state();
}

std::string FpgaTest::state() const {
    std::string s;
    for (int i = 0; i < 2; ++i)
        s += "fpga" + std::to_string(i) + ": vbo " + std::to_string(mgr->vbo_step[i]) + " step " +
             std::to_string(mgr->start_step[i]) + " reg80 " +
             std::to_string(mgr->MCU_REG_func[i][80]) + " reg22 " +
             std::to_string(board->fpga[i].reg(22)) + " passes " +
             std::to_string(mgr->passes_since_reset[i]) + "; ";
    return s;
}
