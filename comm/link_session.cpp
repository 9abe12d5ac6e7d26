#include "comm/link_session.h"

#include <mutex>

#include "comm/comm_hooks.h"
#include "comm/message_deal.h"
#include "core/globals.h"
#include "platform/clock.h"

using namespace comm;

std::atomic<uint32_t> link_session::pass_wait_ms{500};
std::atomic<uint32_t> link_session::dropped_total{0};

link_session::link_session(LinkKind kind, std::string peer)
    : kind_(kind), peer_(std::move(peer)), wire_(new uint8_t[kMaxWire]) {}

void link_session::feed(const uint8_t* data, size_t n, const SendFn& send) {
    phy.feed(
        data, n, [&](uint8_t* body, uint32_t len) { handle(body, len, send); },
        [this](protocol_phy::Drop why) { report_drop(why); });
}

void link_session::end_input() {
    phy.end_input([this](protocol_phy::Drop why) { report_drop(why); });
}

void link_session::report_drop(protocol_phy::Drop why) {
    ++dropped_total;
    char line[160];
    std::snprintf(line, sizeof line, "PC frame from %s dropped: %s", peer_.c_str(),
                  protocol_drop_name(why));
    writeLogMsg(2, line);
    ZEM_DEBUG("\n %s \n", line);
}

uint32_t link_session::handle(uint8_t* body, uint32_t len, const SendFn& send) {
    // A box's own reply (a broadcast one on UDP, or another box on the RS-485 bus) is no
    // request: answering it would start an endless exchange.
    const uint16_t src = le16(body + 2);
    if (src == kAddrBox || src == kAddrBox + 1) return 0;
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
    if (le16(body) < kAddrCards && le16(body + 2) == kAddrPc) return pass_through(body, len, send);
    int n;
    {
        std::lock_guard<std::mutex> lock(message_deal::command_mutex);
        n = message_deal::message_group_deal(body, len);
    }
    // Silence is an answer only on serial and UDP; TCP always gets at least the header.
    if (n <= 0 && kind_ != LinkKind::Tcp) return 0;
    const uint32_t w = protocol_phy::build_reply(body, uint32_t(n < 0 ? 0 : n), wire_.get());
    if (send) send(wire_.get(), w);
    return w;
}

// A frame for the receiving cards goes to the FPGA manager; the cards' answer, when one comes
// within pass_wait_ms, goes back to this link.
uint32_t link_session::pass_through(uint8_t* body, uint32_t len, const SendFn& send) {
    comm_hooks& h = comm_hooks::get();
    if (!h.irq_mutex || !h.pc_to_eth || !h.poll_cards || !h.take_answer) {
        ZEM_DEBUG("\n card frame from %s: no FPGA manager \n", peer_.c_str());
        return 0;
    }
    card_frame_.assign(body, body + len);
    card_wait_ = CardWait::Queued;
    if (cards_apart) return 0;
    send_card_frame();
    const uint64_t end = platform::nowMs() + pass_wait_ms.load();
    while (platform::nowMs() < end) {
        if (const uint32_t w = take_card_answer(send)) return w;
        platform::sleepMs(1);
    }
    card_timeout();
    return 0;
}

void link_session::send_card_frame() {
    comm_hooks& h = comm_hooks::get();
    g_passby_trans_port = uint8_t(kind_);
    {
        std::lock_guard<std::mutex> lock(*h.irq_mutex);
        h.pc_to_eth(uint32_t(card_frame_.size()), card_frame_.data());
    }
    card_wait_ = CardWait::Sent;
}

uint32_t link_session::take_card_answer(const SendFn& send) {
    comm_hooks& h = comm_hooks::get();
    uint32_t w;
    {
        std::lock_guard<std::mutex> lock(*h.irq_mutex);
        h.poll_cards();
        w = h.take_answer(uint8_t(kind_), wire_.get(), kMaxWire);
    }
    if (!w) return 0;
    card_wait_ = CardWait::None;
    if (send) send(wire_.get(), w);
    return w;
}

void link_session::card_timeout() {
    card_wait_ = CardWait::None;
    char line[120];
    std::snprintf(line, sizeof line, "card frame from %s: no answer", peer_.c_str());
    writeLogMsg(2, line);
    ZEM_DEBUG("\n %s \n", line);
}
