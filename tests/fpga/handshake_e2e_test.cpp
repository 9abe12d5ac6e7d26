// The LED-size handshake end to end on the default simulated box: the FPGA thread, the C331
// thread and the panel tick, with a new LED width written as the PC's register write does.
#include <atomic>
#include <chrono>
#include <thread>

#include "c331/c331_manage.h"
#include "core/led_size_handshake.h"
#include "fpga_fixture.h"

namespace {

// Polls pred for up to `seconds` of real time (scaled by the time factor).
bool waitFor(const std::function<bool()>& pred, int seconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(hangMs(1000 * seconds));
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // unscaled: a pause
    }
    return pred();
}

}  // namespace

class FpgaC331Box : public SimBoxTest {};

TEST_F(FpgaC331Box, LedSizeChangeBlanksReinitialisesAndRelightsWithTheC331Thread) {
    if (fpga_manage::p_fpga_manage || c331_manage::p_c331_manage)
        GTEST_SKIP() << "needs a process of its own";
    g_debugSwitch = 0;
    platform::sim::buildDefaultBox();
    auto board = platform::sim::fpgaBoard();
    ASSERT_TRUE(board);
    ZemRamPara* para = ZemRamPara::pInstance();
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            ++G_timeTicks;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // unscaled: the tick
        }
    });
    // In start-up order: the source manager exists before the FPGA thread reads it.
    raviksource* source = raviksource::pInstance();
    fpga_manage* f = fpga_manage::pInstance();
    c331_manage* c = c331_manage::pInstance();
    ASSERT_EQ(f->initialize_start(), 0);
    for (int i = 0; i < 2; ++i) {  // the source thread's part
        f->drive_line(i == 0 ? fpga_manage::fpga0_reset : fpga_manage::fpga1_reset,
                      fpga_manage::kLineHigh);
        source->fpga_board_state[i] = 2;
    }
    g_source_online = 2;
    const bool up = waitFor([&] { return f->get_fpga_status() == 1 && c->thread_state == 8; }, 60);

    bool relit = false;
    if (up) {
        {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            para->wr16_no_gen_bump(1378, uint16_t(para->rd16(1378) == 1920 ? 1280 : 1920));
            led_size_handshake::get().start();
            c331_manage::raise_apply(1);
        }
        relit = waitFor(
            [&] {
                return led_size_handshake::get().state() == led_size_handshake::kIdle &&
                       board->fpga[0].starts() >= 2 && board->fpga[1].starts() >= 2 &&
                       f->get_fpga_status() == 1;
            },
            60);
    }
    f->stop_thread();
    c331_manage::stop_thread();
    stop = true;
    ticker.join();
    ASSERT_TRUE(up) << "fpga status " << f->get_fpga_status() << ", c331 state "
                    << int(c->thread_state);
    EXPECT_TRUE(relit);
    EXPECT_TRUE(board->fpga[0].lit() && board->fpga[1].lit());
    EXPECT_EQ(board->misrouted(), 0);
}
