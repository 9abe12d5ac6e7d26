// The chip shared by the C331 thread and the PC links: a fade ramp leaves the parameter RAM to
// the links' reads and writes while it runs, and the register dump waits for a running flash
// read instead of taking bytes from its data port.
#include <gmock/gmock.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "comm/comm_hooks.h"
#include "core/led_size_handshake.h"
#include "pc_link.h"
#include "window_fixture.h"

namespace {

constexpr int kContrast = 2178;

// Reads the contrast word, writes a new one and has it applied (register 11).
std::future<std::vector<Bytes>> pcOnAnotherLink(uint8_t contrast) {
    return sessionSends(
        {readRam(kContrast, 2), writeRam(kContrast, {contrast, 0}), writeReg(11, 0xFF, {0x01})});
}

using SharedChip = WindowsTest;

TEST_F(SharedChip, AFadeLeavesTheRamToOtherLinksWhileItRamps) {
    step([](ZemRamPara& s) {
        s.wr16_no_gen_bump(2816, 30);
        s.wr16_no_gen_bump(2818, 30);
        s.wr16_no_gen_bump(2272 + 18, 4);  // fade on
        s.wr16_no_gen_bump(kContrast, 40);
        window(s, 0, kHdmi1, {0, 0, 1920, 1000});
    });
    // At the ramp's first frame a PC on another link reads the RAM and changes the contrast.
    std::atomic<bool> armed{true};
    bool answered_during_ramp = false;
    std::future<std::vector<Bytes>> pc;
    chip->onWrite([&](uint8_t bank, uint8_t address, uint8_t value) {
        if (bank != 0 || address != 0x22 || value != 0xA9 || !armed.exchange(false)) return;
        pc = pcOnAnotherLink(41);
        // Bounded: a ramp that held the RAM would keep the PC waiting until its end.
        answered_during_ramp =
            pc.wait_for(hangBound(std::chrono::seconds(2))) == std::future_status::ready;
    });
    produce([](ZemRamPara& s) { s.wr16_no_gen_bump(2272 + 8, kHdmi2); });
    ASSERT_TRUE(waitRefresh(1, applies_ + 2));  // the switch, then the contrast change
    chip->onWrite(nullptr);
    ASSERT_TRUE(pc.valid());
    const Bytes reply = pc.get().front();
    EXPECT_FALSE(armed.load());
    EXPECT_TRUE(answered_during_ramp);
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[10], 0);
    EXPECT_EQ(reply[11], 40);
    // The change made during the ramp was applied by the next turn, not taken by this one.
    zem::MutexLocker lock(c331_manage::c331_mutex);
    EXPECT_EQ(c->applied16(kContrast), 41);
}

// Window 0 switches source with a fade; at the fade-out's first frame a PC on another link
// switches window 1 to another source and sets register 11. Window 1's input channel selects
// the new port once, and the chip's output is set up once for each switch.
TEST_F(SharedChip, AWindowSourceChangedDuringAnotherWindowsFadeReachesTheChipOnce) {
    constexpr int kWindow1Source = 2272 + 26 + 8;
    constexpr int kSource1 = 1, kPort = 2;  // an HDMI port: one input channel selects it
    step([](ZemRamPara& s) {
        for (int w : {0, 1}) {
            s.wr16_no_gen_bump(2816 + 4 * w, 4);
            s.wr16_no_gen_bump(2818 + 4 * w, 4);
            s.wr16_no_gen_bump(2272 + 26 * w + 18, 4);  // fade on
        }
        window(s, 0, kHdmi1, {0, 0, 960, 1000});
        window(s, 1, kHdmi1, {960, 0, 960, 1000});
    });
    const int ich = c->g_win_ich[c->g_win_record[1]][0];
    ASSERT_GE(ich, 0);
    std::atomic<bool> armed{true};
    std::future<std::vector<Bytes>> pc;
    chip->onWrite([&](uint8_t bank, uint8_t address, uint8_t value) {
        if (bank != 0 || address != 0x22 || value != 0xA9 || !armed.exchange(false)) return;
        pc = sessionSends({writeRam(kWindow1Source, le16(kSource1)), writeReg(11, 0xFF, {0x01})});
        pc.wait_for(hangBound(std::chrono::seconds(2)));
    });
    chip->clearFrames();
    const uint32_t outputs = c->output_applies;
    produce([](ZemRamPara& s) { s.wr16_no_gen_bump(2272 + 8, kHdmi2); });
    ASSERT_TRUE(waitRefresh(1, applies_ + 2));  // the fade's turn, then the PC's
    chip->onWrite(nullptr);
    ASSERT_FALSE(armed.load());
    ASSERT_TRUE(pc.valid());
    EXPECT_EQ(pc.get().back().at(10), 0);
    int selects = 0;
    for (const auto& w : chip->writeLog())
        selects += w.bank == 0 && w.address == 0x10 + ich && w.value == 2 * kPort;
    EXPECT_EQ(selects, 1);
    EXPECT_EQ(c->output_applies - outputs, 2u);
    EXPECT_EQ(c->PM_INPUT[c->g_win_record[1]], kPort);
}

// One turn takes a new LED height, then fades window 0 to another source. A PC's register 11
// during the ramp finds the height applied already: it starts no LED-size handshake, which
// no later turn would finish.
TEST_F(SharedChip, RegisterElevenDuringARampFindsTheNewLedSizeApplied) {
    comm_hooks::get().fpgas_running = [] { return true; };
    step([](ZemRamPara& s) {
        s.wr16_no_gen_bump(2816, 4);
        s.wr16_no_gen_bump(2818, 4);
        s.wr16_no_gen_bump(2272 + 18, 4);  // fade on
        window(s, 0, kHdmi1, {0, 0, 1920, 1000});
    });
    std::atomic<bool> armed{true};
    std::future<std::vector<Bytes>> pc;
    chip->onWrite([&](uint8_t bank, uint8_t address, uint8_t value) {
        if (bank != 0 || address != 0x22 || value != 0xA9 || !armed.exchange(false)) return;
        pc = sessionSends({writeReg(11, 0xFF, {0x01})});
        pc.wait_for(hangBound(std::chrono::seconds(2)));
    });
    produce([](ZemRamPara& s) {
        s.wr16_no_gen_bump(1380, 1040);  // LED height
        s.wr16_no_gen_bump(2272 + 8, kHdmi2);
    });
    ASSERT_TRUE(waitRefresh(1, applies_ + 2));
    chip->onWrite(nullptr);
    ASSERT_FALSE(armed.load());
    ASSERT_TRUE(pc.valid());
    EXPECT_EQ(pc.get().back().at(10), 0);
    EXPECT_EQ(led_size_handshake::get().state(), led_size_handshake::kRestartAsked);
}

TEST_F(SharedChip, TheRegisterDumpWaitsForARunningFlashRead) {
    c331_manage::stop_thread();  // the test alone drives the chip from here
    Bytes stored(64 * 1024);
    for (size_t i = 0; i < stored.size(); ++i) stored[i] = uint8_t(i * 7 + i / 251);
    chip->flashLoad(0x120000, stored);
    // The read has set up its engine and is about to take its bytes one by one when a PC asks
    // for the dump (register 161) on another thread; the dump passes bank 4 long before the
    // read's 64 KiB are in.
    std::atomic<bool> armed{true};
    std::thread dump;
    chip->onWrite([&](uint8_t bank, uint8_t address, uint8_t value) {
        if (bank != 4 || address != 0x55 || value != 0 || !armed.exchange(false)) return;
        dump = std::thread([this] { c->c331_print(); });
    });
    Bytes got(stored.size());
    EXPECT_EQ(c->read_flash(c->fd, 0x120000, uint32_t(got.size()), got.data()), 0);
    chip->onWrite(nullptr);
    EXPECT_FALSE(armed.load());
    if (dump.joinable()) dump.join();
    EXPECT_TRUE(got == stored);
}

}  // namespace
