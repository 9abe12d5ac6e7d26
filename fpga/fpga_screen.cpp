// Screen statuses of the LED output, the black-screen request, the LED-size handshake with the
// video-processor thread and the output ports' link state.
#include "core/globals.h"
#include "core/led_size_handshake.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "video_io/raviksource.h"

namespace {

struct StatusBits {
    uint8_t reg;
    uint8_t mask;
    uint8_t value;
};

// Register action of screen statuses 0..11 (mask 0: none).
constexpr StatusBits kStatus[12] = {{0, 0x04, 0x04}, {0, 0x04, 0x00},  {0, 0x02, 0x02},
                                    {0, 0x02, 0x00}, {3, 0x20, 0x20},  {3, 0x20, 0x00},
                                    {0, 0, 0},       {23, 0x01, 0x00}, {23, 0x01, 0x01},
                                    {22, 0, 0},      {23, 0x08, 0x08}, {23, 0x08, 0x00}};

}  // namespace

void fpga_manage::SCREEN_fpgactrl_status(int status) {
    if (status < 0 || status > 9 || status == 6) return;
    for (uint8_t i = 0; i < 2; ++i) {
        if (status == 9) {
            read_from_register(22, i);
            continue;
        }
        const StatusBits& s = kStatus[status];
        write_to_register(s.reg, s.mask, s.value, i);
    }
}

void fpga_manage::SCREEN_fpgactrl_status2(int status, int fpga) {
    if (fpga < 0 || fpga > 1) return;
    switch (status) {
        case 0:
        case 1:
            write_to_0x00_register(0, 0x04, kStatus[status].value, uint8_t(fpga));
            return;
        case 4:
        case 5:
        case 10:
        case 11:
            write_to_register(kStatus[status].reg, kStatus[status].mask, kStatus[status].value,
                              uint8_t(fpga));
            return;
        default:
            return;
    }
}

int fpga_manage::set_output_status() {
    if (get_fpga_status() == 0) return 0;
    SCREEN_fpgactrl_status(close_led ? 0 : 1);
    return 1;
}

bool fpga_manage::output_held_black() {
    zem::RecursiveMutexLocker lock(rmw_mutex);
    return close_led || onoff.off_by_schedule;
}

void fpga_manage::take_close_led() {
    const auto handed = user_words.take(UserWordMailbox::kCloseLed);
    if (!handed) return;
    zem::RecursiveMutexLocker lock(rmw_mutex);
    // The generation this side's echoes carry: its own echo passed back by the apply is no
    // user's write, and changes nothing the register did since.
    if (handed->gen == close_led_gen) return;
    close_led_gen = handed->gen;
    close_led = handed->value != 0;
    output_status_request = 1;
}

void fpga_manage::set_led_para_deal() {
    led_size_handshake::get().step([this](led_size_handshake::Action action) {
        switch (action) {
            case led_size_handshake::kBlack:
                SCREEN_fpgactrl_status(0);
                return;
            case led_size_handshake::kOutputOff:
                SCREEN_fpgactrl_status(5);
                return;
            case led_size_handshake::kRestart:
                reset_fpga_rst(0, "the LED size changed");
                reset_fpga_rst(1, "the LED size changed");
                return;
        }
    });
}

void fpga_manage::led_size_handshake_moved() {
    if (fpga_manage* f = p_fpga_manage) f->wake();
}

uint32_t fpga_manage::get_wlan_state() {
    for (uint8_t i = 0; i < 2; ++i) {
        if (mirror(i, 80) != kBringUpRunning) continue;
        read_from_register(128, i);
        read_from_register(144, i);
    }
    return wlan_state_mirror();
}

uint32_t fpga_manage::wlan_state_mirror() {
    uint32_t mask = 0;
    for (uint8_t i = 0; i < 2; ++i) {
        if (mirror(i, 80) != kBringUpRunning) continue;
        const uint32_t ports = (mirror(i, 128) | uint32_t(mirror(i, 144)) << 8) & 0x3FF;
        mask |= ports << (10 * i);
    }
    return mask;
}

void fpga_manage::check_wlanonline_state() {
    if (!raviksource::p_ravik_source) return;
    uint16_t words[2] = {0, 0};
    for (uint8_t i = 0; i < 2; ++i) {
        if (board_state(i) != 2 || mirror(i, 80) != kBringUpRunning) continue;
        read_from_register(128, i);
        read_from_register(144, i);
        words[i] = uint16_t(mirror(i, 128) + mirror(i, 144) * 256);
    }
    ZemRamPara* para = ZemRamPara::p_zemrampara_config;
    if (get_fpga_status() != 1 || !para) return;
    if (words[0] == wlan_words[0] && words[1] == wlan_words[1]) return;
    para->test_signal(11);
    wlan_words[0] = words[0];
    wlan_words[1] = words[1];
}
