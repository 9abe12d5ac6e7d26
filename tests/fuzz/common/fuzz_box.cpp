#include "fuzz_box.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

#include "c331/c331_manage.h"
#include "comm/protocol_phy.h"
#include "core/config_engine.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "platform/box.h"
#include "platform/clock.h"
#include "platform/sim/sim_c331.h"
#include "platform/sim/sim_fpga.h"
#include "tests/support/time_factor.h"
#include "video_io/raviksource.h"

namespace fuzz {

void startBox() {
    static bool started = false;
    if (started) return;
    started = true;
    g_debugSwitch = 0;  // no console trace per input
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/zem-fuzz-XXXXXX";
    const char* root = ::mkdtemp(&templ[0]);
    platform::selectSimulated(root ? root : "/tmp/zem-fuzz");
    platform::installClock(std::make_unique<platform::FakeClock>());
    platform::installTickClock(std::make_unique<platform::SteppingClock>());  // a call, a tick
    ConfigEngine::pInstance();
    ZemRamPara::pInstance();
}

void writeFile(const std::string& absolute, const uint8_t* data, size_t n) {
    platform::makeParentDirs(absolute);
    std::ofstream out(platform::path(absolute), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(n));
}

void removeFile(const std::string& absolute) {
    std::remove(platform::path(absolute).c_str());
}

namespace {

void runTicks(fpga_manage* mgr, int ticks) {
    for (int t = 0; t < ticks; ++t) {
        ++G_timeTicks;
        mgr->fpga_manage_deal();
    }
}

}  // namespace

void startFpgas() {
    startBox();
    ZemRamPara* para = ZemRamPara::pInstance();
    para->wr16_no_gen_bump(1378, 1920);  // an LED screen the FPGAs accept
    para->wr16_no_gen_bump(1380, 1080);
    G_timeTicks = 1000;
    g_source_online = 2;
    auto board = platform::sim::buildFpgaBoard();
    fpga_manage* mgr = fpga_manage::pInstance();
    mgr->softinit();
    raviksource* source = raviksource::pInstance();
    for (int f = 0; f < 2; ++f) {
        mgr->drive_line(f == 0 ? fpga_manage::fpga0_reset : fpga_manage::fpga1_reset,
                        fpga_manage::kLineHigh);
        source->fpga_board_state[f] = 2;
    }
    for (int t = 0; t < 3000 && mgr->get_fpga_status() != 1; ++t) runTicks(mgr, 1);
    {
        zem::MutexLocker lock(board->mutex);
        board->setCards(0, 3);
        board->setCards(1, 1);
        board->setCards(12, 2);
    }
    runTicks(mgr, 2 * 81 + 2);  // two search cycles: odd and even ports
    mgr->clock_record.clock_record_init();
}

std::shared_ptr<platform::sim::SimC331> startC331AtRest() {
    startBox();
    static std::shared_ptr<platform::sim::SimC331> chip;
    if (chip) return chip;
    chip = platform::sim::attachSimC331();
    c331_manage* c = c331_manage::pInstance();
    for (int i = 0, n = hangMs(5000); i < n && c->thread_state.load() != 8; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // unscaled: a pause
    if (c->thread_state.load() != 8) {
        std::fprintf(stderr, "the C331 thread did not come to rest: state %d\n",
                     int(c->thread_state.load()));
        std::abort();
    }
    c331_manage::stop_thread();
    return chip;
}

std::string boxFrame(uint8_t cmd, const uint8_t* data, size_t n) {
    std::string body = {'\x01', '\xF1', '\x10', '\xF0',   char(n & 0xFF), char(n >> 8 & 0xFF),
                        0,      0,      0,      char(cmd)};
    body.append(reinterpret_cast<const char*>(data), n);
    uint8_t x = 0;
    for (char c : body) x ^= uint8_t(c);
    body.push_back(char(x));
    std::string wire(body.size() * 2 + 4, '\0');
    const uint32_t w = protocol_phy::data_re_transf_meaning(
        reinterpret_cast<uint8_t*>(&wire[0]), reinterpret_cast<const uint8_t*>(body.data()),
        uint32_t(body.size()));
    wire.resize(w);
    return wire;
}

}  // namespace fuzz
