#include "sim_fpgas.h"

#include <thread>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "core/led_size_handshake.h"
#include "fpga/fpga_globals.h"
#include "platform/sim/sim_box.h"
#include "video_io/raviksource.h"

void SimFpgas::clearFpgaSide() {
    g_debugSwitch = 0;
    G_timeTicks = 1000;
    g_source_online = 0;
    led_size_handshake::get().clear();
    g_fpga_lcd_on = 0;
    g_usb_grade = 0;
    pc_cmd_valid = 0;
    for (auto& w : g_change) w = 0;
    para = ZemRamPara::pInstance();
    // What an earlier case's FPGA thread posted to the RAM lands now, before this case's screen.
    para->refresh_begin();
    para->refresh_end();
    para->wr16(1378, 1920);  // LED screen 1920 x 1080
    para->wr16(1380, 1080);
    para->wr16(2116, 0);
    para->wr16(2176, default_ram16(2176));  // the brightness of a fresh box's parameter file
    para->take_led_in_force();              // the screen in force, as the load takes it
    panelOffset(0, 0);
    raviksource* source = raviksource::pInstance();
    source->fpga_board_state[0] = 0;
    source->fpga_board_state[1] = 0;
}

void SimFpgas::panelOffset(uint16_t x, uint16_t y) {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    uint16_t words[7];
    for (int k = 0; k < 7; ++k) words[k] = para->rd16(ZemRamPara::kRamGeometry + 2 * k);
    words[0] = x;
    words[1] = y;
    para->put_geometry(words);
}

void SimFpgas::startBoard() {
    board = platform::sim::buildFpgaBoard();
    mgr = fpga_manage::pInstance();
    mgr->clear_state();
    ASSERT_EQ(mgr->initialize(), 0);
    mgr->softinit();
    board->clearMessages();
    platform::sim::SimBox::get().soc.clearWrites();
}

::testing::AssertionResult SimFpgas::start() {
    clearFpgaSide();
    startBoard();
    return light();
}

void SimFpgas::powerUpBoth() {
    g_source_online = 2;
    g_passby_trans_port = 255;
    powerUp(0);
    powerUp(1);
}

::testing::AssertionResult SimFpgas::light() {
    powerUpBoth();
    ::testing::AssertionResult lit = bothLit();
    board->clearMessages();
    return lit;
}

void SimFpgas::powerUp(int fpga) {
    mgr->drive_line(fpga == 0 ? fpga_manage::fpga0_reset : fpga_manage::fpga1_reset,
                    fpga_manage::kLineHigh);
    raviksource::pInstance()->fpga_board_state[fpga] = 2;
}

void SimFpgas::runTicks(int ticks) {
    for (int t = 0; t < ticks; ++t) {
        ++G_timeTicks;
        mgr->thread_pass();
    }
}

bool SimFpgas::runUntil(const std::function<bool()>& pred, int maxTicks) {
    for (int t = 0; t < maxTicks; ++t) {
        if (pred()) return true;
        runTicks(1);
    }
    return pred();
}

bool SimFpgas::runOnFpgaThread(const std::function<bool()>& pred, int maxTicks) {
    bool held = false;
    std::thread fpga([&] { held = runUntil(pred, maxTicks); });
    fpga.join();
    return held;
}

::testing::AssertionResult SimFpgas::bothLit() {
    if (runUntil([this] { return mgr->get_fpga_status() == 1; }))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << state();
}

std::string SimFpgas::state() const {
    std::string s;
    for (int i = 0; i < 2; ++i)
        s += "fpga" + std::to_string(i) + ": vbo " + std::to_string(mgr->vbo_step[i]) + " step " +
             std::to_string(mgr->start_step[i]) + " reg80 " +
             std::to_string(mgr->MCU_REG_func[i][80]) + " reg22 " +
             std::to_string(board->fpga[i].reg(22)) + " passes " +
             std::to_string(mgr->passes_since_reset[i]) + "; ";
    return s;
}

void SimFpgas::plug(int port, int count) {
    std::lock_guard<std::mutex> lock(board->mutex);
    board->setCards(port, count);
}

void SimFpgas::searchCycles(int cycles) {
    for (int c = 0; c < cycles; ++c) runTicks(81);
    runTicks(2);
}

uint16_t SimFpgas::areaCount(int port) const {
    uint16_t at = 0, flag = 0;
    fpga_manage::get_port_count_addr(uint8_t(port % 10), &at, &flag);
    const auto b = board->fpga[port / 10].area(1, at, 2);
    return uint16_t(b[0] | b[1] << 8);
}

std::vector<Bytes> SimFpgas::sentOn(int port) const {
    std::vector<Bytes> out;
    std::lock_guard<std::mutex> lock(board->mutex);
    for (const auto& s : board->fpga[port / 10].sentFrames())
        if (s.port == port % 10) out.push_back(s.frame);
    return out;
}

std::vector<Bytes> SimFpgas::sentOn(int port, uint8_t command) const {
    std::vector<Bytes> out;
    for (const Bytes& f : sentOn(port))
        if (f.size() > 9 && f[9] == command) out.push_back(f);
    return out;
}
