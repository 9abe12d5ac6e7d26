// Card frames through the output ports: the send on one port, the receive side that reads and
// routes the cards' replies, and the pass-through of PC frames to one port or to all ports with
// the combined answer handed back to the PC link that asked, through the call it gave with its
// frame.
//
// Ports 2k and 2k + 1 form pair k and share one transmit buffer (RAM area 3 + 2k) and one receive
// buffer (area 2 + 2k). Everything here but Send_to_port runs under irq_mutex.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/globals.h"
#include "core/utils.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"

namespace {

constexpr uint16_t kPc = 0xF010;
constexpr uint16_t kController = 0xF000;
constexpr uint8_t kTxLenLow[8] = {26, 134, 136, 138, 154, 155, 156, 157};
constexpr uint8_t kRxLenLow[5] = {24, 133, 135, 137, 149};

uint16_t get16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint8_t port_bits(uint16_t address) {
    return uint8_t((address >> 12) & 3);
}

// Changes one byte of a frame whose check byte is at check, keeping the XOR balanced.
void patch(uint8_t* frame, uint32_t at, uint8_t value, uint32_t check) {
    frame[check] ^= uint8_t(frame[at] ^ value);
    frame[at] = value;
}
// Sets the port bits 12..13 of the u16 address at `at`.
void patch_port_bits(uint8_t* frame, uint32_t at, uint8_t bits, uint32_t check) {
    patch(frame, at + 1, uint8_t((frame[at + 1] & ~0x30) | (bits & 3) << 4), check);
}

}  // namespace

void fpga_manage::clear_card_state() {
    zem::MutexLocker lock(irq_mutex);
    multi_port_pass = 0;
    answered_ports = 0;
    multi_waiting = 0;
    expected_kind = all_cards_source = answer_flag = 0;
    dropped_replies = 0;
    unclaimed_answers = 0;
    unmatched_answers = 0;
    pc_wait = {};
    pc_window_end = {};
    pc_window = {};
    quiet_wait = {};
    quiet_end = {};
    pc_card_frames = 0;
    send_failures = 0;
    pc_answer = nullptr;
    fallback_on[0] = fallback_on[1] = 0;
    search_sent = 0;
    search_answered = 0;
    total_card_count = 0;
    recovery_target = {};
    replay_failures = 0;
    last_progress_ = 0;
    query_config_id = 0;
}

// ---------------------------------------------------------------------------------------
// Send

int fpga_manage::Send_to_port(const uint8_t* frame, uint32_t n, uint8_t port, int fpga) {
    if (!frame || n == 0 || n > kPortBuffer || port > 15 || fpga < 0 || fpga > 1) {
        ZEM_DEBUG("\n Send_to_port: refused (port %d, %u bytes)\n", port, n);
        return -EINVAL;
    }
    // The FPGA thread's own sends run beside the PC's: one frame at a time goes through the
    // select, buffer, length and start registers.
    zem::MutexLocker lock(port_send_mutex);
    if (!wait_fpga_send_ready(port, fpga)) {
        // Sending into a busy buffer would overwrite the frame still going out.
        ++send_failures;
        char line[96];
        std::snprintf(line, sizeof line, "FPGA %d port %d: transmit buffer busy, frame not sent",
                      fpga + 1, port);
        writeLogMsg(2, line);
        ZEM_DEBUG("\n %s \n", line);
        return -EBUSY;
    }
    const uint8_t f = uint8_t(fpga), pair = uint8_t(port / 2), shift = uint8_t(2 * (pair % 4));
    const uint32_t last = n - 1;
    // The FPGA merges each write under the mask of its header.
    write_fpga_register(port < 8 ? 132 : 148, uint8_t(1 << (port % 8)), f, 0xFF);
    write_fpga_ram(frame, 0, n, uint8_t(3 + 2 * pair), f);
    write_fpga_register(kTxLenLow[pair], uint8_t(last), f, 0xFF);
    write_fpga_register(pair < 4 ? 27 : 158, uint8_t(((last >> 8) & 3) << shift), f,
                        uint8_t(3 << shift));
    write_fpga_register(pair < 4 ? 130 : 146, uint8_t(0x10 << (pair % 4)), f, 0xF0);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Receive

uint8_t fpga_manage::fresh_register(uint8_t reg, int fpga) {
    read_from_register(reg, uint8_t(fpga));
    return mirror(fpga, reg);
}

bool fpga_manage::receive_flag(int pair, uint8_t r129, uint8_t r145) {
    return pair < 4 ? (r129 & (1 << (2 * pair))) : (r145 & 1);
}

bool fpga_manage::read_receive(int fpga, int pair, RxFrame& rx) {
    const uint8_t low = fresh_register(kRxLenLow[pair], fpga);
    const uint8_t high =
        pair < 4 ? uint8_t(fresh_register(25, fpga) >> (2 * pair)) : fresh_register(153, fpga);
    const uint32_t m = low + (high & 3u) * 256u;
    // The frame and its check byte must fit the receive buffer and hold a header.
    if (m < 10 || m + 1 > kPortBuffer) return false;
    rx.len = m + 1;
    rx.pair = pair;
    if (read_fpga_ram(rx.b, 0, rx.len, uint8_t(2 + 2 * pair), uint8_t(fpga)) < 0) return false;
    rx.good = Utils::BCC(rx.b, m) == rx.b[m];
    return true;
}

void fpga_manage::release_receive(int fpga, int pair) {
    const uint8_t f = uint8_t(fpga), bit = uint8_t(pair < 4 ? 1 << pair : 1);
    write_fpga_register(pair < 4 ? 130 : 146, bit, f, bit);
    write_fpga_register(pair < 4 ? 131 : 147, 0, f, bit);
}

void fpga_manage::drop_reply(int fpga, const char* why) {
    ++dropped_replies;
    char line[96];
    std::snprintf(line, sizeof line, "FPGA %d: card reply dropped: %s", fpga + 1, why);
    writeLogMsg(2, line);
    ZEM_DEBUG("\n %s \n", line);
}

int fpga_manage::reply_port(int fpga, int group, uint16_t source, uint8_t p) {
    // Byte 7 names the port as sent (FPGA 1's ports counted from 11 by the PC), or 0 (or 0xFF
    // for an answer collected from all ports): then the card address names it within the group.
    int port;
    if (p == 0 || p == 0xFF)
        port = 4 * group + port_bits(source);
    else
        port = fpga == 1 && p > 10 ? p - 11 : p - 1;
    return port >= 0 && port < kPortsPerFpga ? port : -1;
}

void fpga_manage::Rcv_data_from_eth(int fpga) {
    deal_with_search_concurrent(fpga);
    const uint8_t r129 = fresh_register(129, fpga), r145 = fresh_register(145, fpga);
    int pair = 0;
    while (pair < kRxPairs && !receive_flag(pair, r129, r145)) ++pair;
    if (pair == kRxPairs) return;
    RxFrame& rx = rx_frame;
    if (!read_receive(fpga, pair, rx)) {
        release_receive(fpga, pair);
        drop_reply(fpga, "length outside the receive buffer");
        return;
    }
    const uint16_t dest = get16(rx.b), source = get16(rx.b + 2);
    if (rx.b[9] == 0x10 && dest == kController) {
        // A search reply: the collector takes it out of the buffer.
        if (source < kController && rx.b[5] == 0x67) g_send_para[6] = 1;
        deal_with_search_concurrent(fpga);
        return;
    }
    release_receive(fpga, pair);
    route_reply(rx, fpga);
}

void fpga_manage::route_reply(RxFrame& rx, int fpga) {
    uint8_t* b = rx.b;
    const uint16_t dest = get16(b), source = get16(b + 2);
    const uint8_t kind = b[5], p = b[7], command = b[9];
    const int group = rx.pair / 2;
    if (rx.good) {
        const bool collected = p == 0xFF || (multi_port_pass && dest == kPc);
        const bool search = command == 0x10 && (collected || !multi_port_pass);
        if (collected) {
            const int port = reply_port(fpga, group, source, p == 0xFF ? 0 : p);
            if (port < 0) return drop_reply(fpga, "names no port");
            if (kind != expected_kind) return;  // an answer to another request
            if (pc_answer && !answer_matches(rx, fpga)) return drop_unmatched(rx, fpga);
            answered_ports |= 1u << (port + 16 * fpga);
        }
        if (search && dest == kPc) {
            if (b[10] != 0) return forward_to_pc(rx, fpga);
            const int port = reply_port(fpga, group, source, p);
            if (port < 0) return drop_reply(fpga, "names no port");
            update_eth_rcv_num(b, uint8_t(port), fpga);
        }
    }
    const bool reply_to_controller = dest >= kController && dest <= 0xF00F && source < kController;
    const bool for_answer_buffer = (command == 0x61 || command == 0xA0) && dest == kController;
    if (reply_to_controller && (kind == 0x67 || kind == 0x66)) {
        if (kind == 0x67) g_send_para[6] = 1;
        if (for_answer_buffer) fill_answer_buffer(rx);
        return;
    }
    if (for_answer_buffer) return fill_answer_buffer(rx);
    forward_to_pc(rx, fpga);
}

void fpga_manage::fill_answer_buffer(const RxFrame& rx) {
    // Bytes 9..138 of the frame, for the controller's own requests (the light sensor).
    std::memset(answer_buffer.data(), 0, sizeof answer_buffer);
    const uint32_t n = rx.len > 9 ? std::min<uint32_t>(rx.len - 9, sizeof answer_buffer) : 0;
    std::memcpy(answer_buffer.data(), rx.b + 9, n);
    answer_flag = 1;
}

bool fpga_manage::answer_matches(const RxFrame& rx, int fpga) const {
    const uint16_t source = get16(rx.b + 2);
    const int port = 4 * (rx.pair / 2) + port_bits(source);  // where it came in
    if (!(pc_wait.ports & (1u << (port + 16 * fpga)))) return false;
    if (rx.b[9] != pc_wait.command) return false;
    return pc_wait.card == kAnyCard || (source & 0xFFF) == pc_wait.card;
}

void fpga_manage::drop_unmatched(const RxFrame& rx, int fpga) {
    ++unmatched_answers;
    char line[128];
    std::snprintf(line, sizeof line,
                  "FPGA %d: card answer dropped: card %04X, command %02X match no frame out",
                  fpga + 1, get16(rx.b + 2), rx.b[9]);
    writeLogMsg(2, line);
    ZEM_DEBUG("\n %s \n", line);
}

void fpga_manage::forward_to_pc(RxFrame& rx, int fpga) {
    uint8_t* b = rx.b;
    const uint32_t check = rx.len - 1;
    const uint8_t p = b[7];
    // Only the answer to the frame out goes to its asker: one to an earlier frame (given up or
    // replaced) or to another port, card or command would pass for it.
    if (pc_answer && !answer_matches(rx, fpga)) return drop_unmatched(rx, fpga);
    if (p == 0xFF || multi_port_pass) return combined_answer(rx);
    if (p == 0) {
        // The PC counts the ports of both FPGAs: FPGA 1's port 0 is 17.
        const int port = port_bits(get16(b + 2)) + 1 + 4 * (rx.pair / 2) + 16 * fpga;
        patch(b, 7, uint8_t(port), check);
    }
    patch_port_bits(b, 2, 0, check);
    queue_for_pc(rx);
}

uint32_t fpga_manage::expected_ports() {
    uint32_t expected = 0;
    for (int f = 0; f < 2; ++f) {
        uint32_t word = uint32_t(mirror(f, 128) | mirror(f, 144) << 8) & kBoardPortMask;
        for (uint8_t p = 0; p < kPortsPerFpga; ++p)
            if (get_port_card_num(uint8_t(10 * f + p)) == 0) word &= ~(1u << p);
        expected |= word << (16 * f);
    }
    return expected;
}

void fpga_manage::combined_answer(RxFrame& rx) {
    // Forwarded only when every port that should answer has: never a part as the whole.
    if (answered_ports != expected_ports()) return;
    uint8_t* b = rx.b;
    const uint32_t check = rx.len - 1;
    const uint16_t source = all_cards_source ? kPortCards : kAllCards;
    all_cards_source = 0;
    patch(b, 2, uint8_t(source), check);
    patch(b, 3, uint8_t(source >> 8), check);
    patch(b, 7, 0xFF, check);
    if (multi_waiting) {
        answered_ports = 0;
        zem::MutexLocker lock(Utils::_system_mutex);
        multi_waiting = 0;
    }
    queue_for_pc(rx);
}

void fpga_manage::queue_for_pc(const RxFrame& rx) {
    g_passby_trans_port = 255;
    if (!pc_answer) {
        ++unclaimed_answers;
        writeLogMsg(2, "card answer for the PC dropped: no PC frame waits for it");
        return;
    }
    // Taken first: the asker's frame is answered once, whatever comes after.
    const CardAnswerFn answer = std::move(pc_answer);
    pc_answer = nullptr;
    pc_wait = {};
    answer_ready = 1;
    answer(rx.b, rx.len);
}

void fpga_manage::update_eth_rcv_num(const uint8_t* frame, uint8_t port, int fpga) {
    if (port > 15) return;
    store_port_count(fpga, port, get16(frame + 11), frame[13]);
}

void fpga_manage::store_port_count(int fpga, uint8_t port, uint16_t count, uint8_t port_byte) {
    uint16_t at = 0, flag = 0;
    get_port_count_addr(port, &at, &flag);
    uint8_t bytes[5];
    const uint16_t n = uint16_t(flag - at + 1);  // A .. B: 5 bytes for ports 0..3, else 3
    {
        zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
        uint8_t* t = ram_para[fpga & 1].data();
        t[at] = uint8_t(count);
        t[at + 1] = uint8_t(count >> 8);
        t[flag] = port_byte;
        std::memcpy(bytes, t + at, n);
    }
    write_fpga_ram(bytes, at, n, 1, uint8_t(fpga));
    store_card_total();
}

void fpga_manage::store_card_total() {
    total_card_count = uint16_t(check_netport_card(0) + check_netport_card(1));
}

void fpga_manage::check_fpga_net_data_status(int fpga) {
    const uint8_t state = mirror(fpga, 80);
    if (state != 2 && state != kBringUpRunning) return;
    const uint8_t r129 = fresh_register(129, fpga), r145 = fresh_register(145, fpga);
    if ((r129 | r145) & 0x55) rcv_pending[fpga] = 1;
}

void fpga_manage::irq_fallback_poll(int fpga) {
    if (pc_cmd_valid != 1 || multi_waiting != 1) return;
    if (!fallback_on[fpga]) {
        fallback_on[fpga] = 1;
        fallback_tick[fpga] = G_timeTicks;
    } else if (Utils::getTimeSpace(fallback_tick[fpga]) > 1) {
        check_fpga_net_data_status(fpga);
        fallback_on[fpga] = 0;
    }
}

// ---------------------------------------------------------------------------------------
// PC pass-through

int fpga_manage::Dealwith1_PC_to_eth(uint32_t n, const uint8_t* frame, CardAnswerFn answer,
                                     std::chrono::milliseconds window,
                                     Steady::time_point* quiet_until) {
    answer_ready = 0;
    if (pc_answer) {  // given up unanswered: its answer may still come
        quiet_wait = pc_wait;
        quiet_end = pc_window_end + pc_window;
    }
    // The frame before is given up: what its cards answered by now is dropped, so that no
    // late answer can pass for this frame's.
    pc_answer = nullptr;
    pc_wait = {};
    drain_answers();
    if (!frame || n < kMinCardFrame || n >= kPortBuffer) {
        char line[96];
        std::snprintf(line, sizeof line, "PC card frame of %u bytes refused (%u..%u)", n,
                      kMinCardFrame, kPortBuffer - 1);
        writeLogMsg(2, line);
        ZEM_DEBUG("\n %s \n", line);
        return 0;
    }
    const Steady::time_point now = Steady::now();
    if (quiet_until && within_quiet(frame, now)) {
        *quiet_until = quiet_end;
        return kPortQuiet;
    }
    const int rc = pass_to_ports(n, frame);
    if (rc == 1) {
        pc_card_frame_tick = now_tick();
        ++pc_card_frames;
    }
    if (rc == 1 && pc_wait.ports) {
        pc_answer = std::move(answer);
        const PcFrameWait matches = wait_for(frame);
        pc_wait.command = matches.command;
        pc_wait.card = matches.card;
        pc_window = window;
        pc_window_end = now + window;
    }
    return rc;
}

fpga_manage::PcFrameWait fpga_manage::wait_for(const uint8_t* frame) const {
    const uint16_t dest = get16(frame);
    // Bits 14..15 address a port's light sensor, not a card by its index.
    const bool any = (dest & 0xFFF) >= kPortCards || (dest & 0xC000);
    PcFrameWait w{0, any ? kAnyCard : uint16_t(dest & 0xFFF), frame[9]};
    const uint8_t mode = frame[6], p = frame[7];
    if (p == 0xFF)
        w.ports = ~0u;
    else if (p == 0)
        w.ports = mode == 0 ? (1u | 1u << 16) : 1u << port_bits(dest);
    else if (p <= kPortsPerFpga)
        w.ports = 1u << (p - 1);
    else if (p <= 2 * kPortsPerFpga)
        w.ports = 1u << (p - 1 - kPortsPerFpga + 16);
    return w;
}

bool fpga_manage::within_quiet(const uint8_t* frame, Steady::time_point now) const {
    if (now >= quiet_end) return false;
    const PcFrameWait w = wait_for(frame);
    const bool same_card =
        w.card == kAnyCard || quiet_wait.card == kAnyCard || w.card == quiet_wait.card;
    return (w.ports & quiet_wait.ports) && w.command == quiet_wait.command && same_card;
}

void fpga_manage::drain_answers() {
    constexpr int kMostFrames = 16;  // more than the receive buffers and their queues hold
    if (!fpga_ready) return;
    for (int f = 0; f < 2; ++f)
        for (int i = 0; i < kMostFrames && (soc->read16(f == 0 ? fpga0_irq : fpga1_irq) & 1); ++i)
            reg_IRQ_Dealwith(f, 0);
}

bool fpga_manage::takes_frames(int fpga) {
    // An FPGA in its reset pulse or bring-up takes no frames: its transmit buffer would hold
    // the PC's frame (and the FPGA thread, which brings it up) for the whole send bound.
    return fpga >= 0 && fpga <= 1 && !rst_active[fpga] && mirror(fpga, 80) == kBringUpRunning;
}

int fpga_manage::pc_send(const uint8_t* frame, uint32_t n, uint8_t port, int fpga) {
    if (!takes_frames(fpga)) return -EAGAIN;
    const int rc = Send_to_port(frame, n, port, fpga);
    if (rc == 0 && port < 16) pc_wait.ports |= 1u << (port + 16 * fpga);
    return rc;
}

int fpga_manage::pass_to_ports(uint32_t n, const uint8_t* frame) {
    uint8_t* f = pc_frame;
    std::memcpy(f, frame, n);
    multi_port_pass = 0;
    for (uint8_t i = 0; i < 2; ++i) {
        write_fpga_register(147, 0, i, 0x0F);
        write_fpga_register(131, 0, i, 0x0F);
    }
    const uint8_t mode = f[6], p = f[7];
    const bool addressed = mode == 1 || mode == 3 || mode == 0xFF;
    if (!addressed && mode != 0) return kNotSentByRule;
    if (addressed && p == 0xFF) {
        const uint32_t targets = multi_port_targets();
        // No linked port has cards: no answer can come, so nothing may wait for one. A
        // restarting FPGA's ports are not known yet: refused, to be asked again. An FPGA that
        // failed its bring-up has none to wait for.
        if (!targets) return restarting(0) || restarting(1) ? 0 : kNotSentByRule;
        multi_port_pass = 1;
        answered_ports = 0;
        multi_waiting = 0;
        all_cards_source = get16(f) == kPortCards ? 1 : 0;
        expected_kind = f[5];
        return multi_port_send(f, n, targets) == 0 ? 1 : 0;
    }
    if (p == 0 && addressed) {
        const uint8_t port = port_bits(get16(f));
        ZEM_DEBUG("FRAME_NETPORT : %d   port_num : %d\n", p, port);
        return pc_send(f, n, port, 0) == 0 ? 1 : 0;
    }
    if (p == 0) {
        const int a = pc_send(f, n, 0, 0), b = pc_send(f, n, 0, 1);
        return a == 0 && b == 0 ? 1 : 0;
    }
    // Ports 1..10 of each FPGA: the board has no others, though the FPGA would send on them.
    if (p > 2 * kPortsPerFpga) return kNotSentByRule;
    const int fpga = p <= kPortsPerFpga ? 0 : 1;
    const uint8_t port = uint8_t(p <= kPortsPerFpga ? p - 1 : p - 1 - kPortsPerFpga);
    patch_port_bits(f, 0, port & 3, n - 1);
    return pc_send(f, n, port, fpga) == 0 ? 1 : 0;
}

uint32_t fpga_manage::link_word(int fpga) {
    read_from_register(128, uint8_t(fpga));
    read_from_register(144, uint8_t(fpga));
    if (mirror(fpga, 80) != kBringUpRunning) return 0;
    return uint32_t(mirror(fpga, 144)) << 8 | mirror(fpga, 128);
}

uint32_t fpga_manage::multi_port_targets() {
    const uint32_t links[2] = {link_word(0), link_word(1)};
    uint32_t targets = 0;
    for (int f = 0; f < 2; ++f)
        for (uint8_t port = 0; port < kPortsPerFpga; ++port)
            if ((links[f] & (1u << port)) && get_port_card_num(uint8_t(10 * f + port)) != 0)
                targets |= 1u << (port + 16 * f);
    return targets;
}

int fpga_manage::multi_port_send(uint8_t* frame, uint32_t n, uint32_t targets) {
    int failed = 0;
    for (uint8_t k = 0; k < kRxPairs; ++k)
        for (int f = 0; f < 2; ++f)
            for (uint8_t port = uint8_t(2 * k); port <= 2 * k + 1; ++port) {
                if (!(targets & (1u << (port + 16 * f)))) continue;
                patch_port_bits(frame, 0, port & 3, n - 1);
                if (pc_send(frame, n, port, f) != 0) ++failed;
            }
    multi_waiting = 1;
    multi_send_time = G_timeTicks;
    return failed;
}
