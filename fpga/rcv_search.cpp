// The receiving-card search: while the mailbox is idle, about every 80 ticks a search frame goes
// to one port of every linked port pair (odd ports first in odd cycles, even ports in even
// ones); the cards answer with their count, which lands in the port's count of the parameter
// table. A pair that stays silent until the next cycle has its count cleared.
#include <cstring>

#include "core/globals.h"
#include "core/utils.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"

namespace {

constexpr uint32_t kEvaluate = 0x80000000u;  // search-answered: the cycle is to be checked
constexpr uint32_t kOddCycle = 0x40000000u;  // ... and it searched odd ports first
constexpr uint32_t kSearchPeriod = 80;

}  // namespace

void fpga_manage::Check_search_card() {
    // An FPGA held in reset still shows its last status, but frames sent to it never leave: each
    // would wait out its send bound, and the thread would stall for half a minute.
    if (rst_active[0] || rst_active[1]) return;
    if (pc_cmd_valid == 0 && get_fpga_status() == 1) {
        check_vbo_status(0);
        check_vbo_status(1);
        Search_Card_Cmd();
        Extension_function();
        check_wlanonline_state();
    } else if (Utils::getTimeSpace(pc_cmd_time) > kSearchPeriod) {
        pc_cmd_valid = 0;  // the PC went quiet: the idle work may talk to the cards again
        search_sent = 0;
    }
}

void fpga_manage::Search_Card_Cmd() {
    if ((mirror(0, 0) & 8) || (mirror(1, 0) & 8)) {  // output blanked: no cycle
        g_change[kSearchTimeWord] = now_tick();
        return;
    }
    if (Utils::getTimeSpace(g_change[kSearchTimeWord]) < kSearchPeriod &&
        !g_change[kSearchBusyWord])
        return;
    const uint32_t links[2] = {link_word(0), link_word(1)};
    if (g_change[kSearchEnableWord] != 15 || (links[0] == 0 && links[1] == 0)) {
        g_change[kSearchBusyWord] = 0;
        g_change[kSearchTimeWord] = now_tick();
        store_card_total();  // no port to ask: the counts the links cleared stand
        return;
    }
    g_change[kSearchBusyWord] = 1;
    const bool odd = g_change[kSearchCycleWord]++ & 1;
    CHECK_search_cmd_status();
    for (uint8_t k = 0; k < kRxPairs; ++k)
        for (int f = 0; f < 2; ++f) {
            const uint8_t first = uint8_t(odd ? 2 * k + 1 : 2 * k);
            const uint8_t second = uint8_t(odd ? 2 * k : 2 * k + 1);
            const uint8_t port = (links[f] >> first) & 1 ? first : second;
            if (!((links[f] >> port) & 1)) continue;
            check_error_rcv_search_card_cmd(port, f, 0, 0, 0);
            search_sent |= 1u << (port + 16 * f);
            // The cycle check takes the odd port of a silent pair first after an odd cycle.
            search_answered |= odd ? kEvaluate | kOddCycle : kEvaluate;
        }
    g_change[kSearchBusyWord] = 0;
    g_change[kSearchTimeWord] = now_tick();
}

void fpga_manage::CHECK_search_cmd_status() {
    const uint32_t answered = search_answered.exchange(0);
    const uint32_t sent = search_sent.exchange(0);
    if (answered & kEvaluate) {
        const bool odd_first = answered & kOddCycle;
        for (uint8_t k = 0; k < 8; ++k)
            for (int f = 0; f < 2; ++f) {
                if (answered & (1u << (8 * f + k))) continue;
                const uint8_t first = uint8_t(odd_first ? 2 * k + 1 : 2 * k);
                const uint8_t second = uint8_t(odd_first ? 2 * k : 2 * k + 1);
                const auto was_sent = [&](uint8_t p) { return (sent >> (p + 16 * f)) & 1; };
                if (was_sent(first))
                    store_port_count(f, first, 0, 0);
                else if (was_sent(second))
                    store_port_count(f, second, 0, 0);
            }
    }
    store_card_total();
}

void fpga_manage::check_error_rcv_search_card_cmd(uint8_t port, int fpga, uint32_t config_id,
                                                  uint32_t device_id, uint8_t flag) {
    if (port > 15 || fpga < 0 || fpga > 1) return;
    uint8_t b[30] = {};
    const uint16_t dest = uint16_t(kPortCards | (port & 3) << 12);
    const uint8_t head[10] = {uint8_t(dest), uint8_t(dest >> 8), 0x00, 0xF0, 0x10, 0xAA,
                              0xFF,          uint8_t(port + 1),  0,    0x10};
    std::memcpy(b, head, sizeof head);
    b[16] = flag;
    for (int i = 0; i < 4; ++i) {
        b[17 + i] = uint8_t(config_id >> (8 * i));
        b[23 + i] = uint8_t(device_id >> (8 * i));
    }
    b[21] = 0xFF;
    b[29] = Utils::BCC(b, 29);
    // Re-arm the pair's receive buffer (register 131 for ports 0..7, 147 for 8..15).
    const uint8_t bit = uint8_t(1 << ((port % 8) / 2));
    write_fpga_register(port < 8 ? 131 : 147, 0, uint8_t(fpga), bit);
    Send_to_port(b, sizeof b, port, fpga);
}

void fpga_manage::deal_with_search_concurrent(int fpga) {
    const uint8_t r129 = fresh_register(129, fpga), r145 = fresh_register(145, fpga);
    for (int pair = 0; pair < kRxPairs; ++pair) {
        if (!receive_flag(pair, r129, r145)) continue;
        RxFrame& rx = rx_frame;
        // A frame of another kind (or one too short to tell) is left for Rcv_data_from_eth.
        if (!read_receive(fpga, pair, rx)) continue;
        if (rx.b[0] != 0x00 || rx.b[1] != 0xF0 || rx.b[9] != 0x10) continue;
        if (rx.good) {
            search_answered |= 1u << (8 * fpga + pair);
            if (rx.b[10] == 0) Search_concurrent_back_result(rx.b, pair / 2, fpga, rx.len);
        }
        release_receive(fpga, pair);
    }
}

void fpga_manage::Search_concurrent_back_result(uint8_t* frame, int group, int fpga, uint32_t len) {
    if (frame[7] == 0) frame[7] = uint8_t(4 * group + ((frame[3] >> 4) & 3) + 1);
    const int port = frame[7] - 1;
    if (port >= kPortsPerFpga) return drop_reply(fpga, "search reply names no port");
    store_port_count(fpga, uint8_t(port), uint16_t(frame[11] | frame[12] << 8), frame[13]);
    if (len > 17) {
        const uint32_t id = uint32_t(frame[18]) | uint32_t(frame[19]) << 8 |
                            uint32_t(frame[20]) << 16 | uint32_t(frame[21]) << 24;
        if (id == query_config_id) set_send_para_u16(30, frame[22]);
    }
}
