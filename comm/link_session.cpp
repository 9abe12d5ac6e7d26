#include "comm/link_session.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <thread>

#include "comm/comm_hooks.h"
#include "comm/message_deal.h"
#include "comm/pc_update.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"

using namespace comm;

std::atomic<uint32_t> link_session::pass_wait_ms{500};
std::atomic<uint32_t> link_session::dropped_total{0};
std::atomic<uint32_t> link_session::unsent_total{0};
link_session::TestHooks link_session::hooks;

namespace {
std::atomic<uint32_t> g_next_link_id{1};
// Between looks at the FPGAs' receive flags while a card frame waits: an answer another
// thread reads (the FPGA thread, another link) ends the wait at once.
constexpr auto kCardPoll = std::chrono::milliseconds(1);
}  // namespace

link_session::link_session(LinkKind kind, std::string peer)
    : kind_(kind), peer_(std::move(peer)), id_(g_next_link_id++), wire_(new uint8_t[kMaxWire]) {
    using Kind = link_activity::Kind;
    if (kind != LinkKind::Tcp)
        receiver_ = std::make_unique<link_activity::Receiver>(
            kind == LinkKind::Udp ? Kind::Addresses : Kind::Port);
}

link_session::~link_session() {
    if (card_wait_ == CardWait::Sent) end_card_wait();
    if (kind_ != LinkKind::Tcp) return;
    pc_update::get().closed(id_);
    if (ZemRamPara* store = ZemRamPara::p_zemrampara_config) store->client_gone(id_);
}

void link_session::feed(const uint8_t* data, size_t n, const SendFn& send) {
    phy.feed(
        data, n, [&](uint8_t* body, uint32_t len) { handle(body, len, send); },
        [this](protocol_phy::Drop why) { report_drop(why); });
}

size_t link_session::feed_one(const uint8_t* data, size_t n, const SendFn& send) {
    return phy.feed_one(
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
    pc_update::get().heard(id_, body, len);
    const LinkId owner = request_owner_of(id_);
    if (le16(body) < kAddrCards && le16(body + 2) == kAddrPc) {
        const link_activity::Frame frame(receiver_.get(), owner);
        return pass_through(body, len, send);
    }
    int n;
    {
        // Ended before its reply goes: a PC that has the answer finds its silence counting.
        const link_activity::Frame frame(receiver_.get(), owner);
        message_deal::calling_link = id_;
        message_deal::request_owner = owner;
        n = message_deal::message_group_deal(body, len);
    }
    // Silence is an answer only on serial and UDP; TCP always gets at least the header.
    if (n <= 0 && kind_ != LinkKind::Tcp) return 0;
    const uint32_t w = protocol_phy::build_reply(body, uint32_t(n < 0 ? 0 : n), wire_.get());
    if (send) send(wire_.get(), w);
    return w;
}

// A frame for the receiving cards goes to the FPGA manager when no other link's frame is with
// the cards; their answer, when one comes within pass_wait_ms, goes back to this link.
uint32_t link_session::pass_through(uint8_t* body, uint32_t len, const SendFn& send) {
    comm_hooks& h = comm_hooks::get();
    card_frame_.assign(body, body + len);
    card_reply_ = 0;
    if (!h.irq_mutex || !h.pc_to_eth || !h.poll_cards) {
        refuse_card_frame(kUnavailable, "no FPGA manager", send);
        return card_reply_;
    }
    const std::chrono::milliseconds window(pass_wait_ms.load());
    card_wait_ = CardWait::Queued;
    card_until_ = Steady::now() + window;
    while (!send_card_frame(send, card_until_)) {
        if (card_wait_ != CardWait::Quiet) return card_reply_;
        // Neither lock is held: the other ports' frames go meanwhile.
        if (hooks.card_port_quiet) hooks.card_port_quiet();
        std::this_thread::sleep_until(card_until_);
        card_wait_ = CardWait::Queued;
        card_until_ += window;
    }
    while (card_wait_ == CardWait::Sent) await_card_answer(send, Steady::now() + kCardPoll);
    return card_reply_;
}

bool link_session::send_card_frame(const SendFn& send, Steady::time_point turn_until) {
    card_turns& turns = card_turns::get();
    const card_turns::window window(pass_wait_ms.load());
    const uint32_t turn = turns.take(turn_until, window);
    if (!turn) {
        if (Steady::now() >= card_until_)
            refuse_card_frame(kRefused, "the cards stayed busy with another link's frame", send);
        return false;
    }
    comm_hooks& h = comm_hooks::get();
    std::optional<Steady::time_point> until;
    comm_hooks::CardWindow answer_window{window, {}};
    int rc = 0;
    {
        zem::MutexLocker lock(*h.irq_mutex);
        until = turns.sending(turn, window);
        if (until) {
            g_passby_trans_port = uint8_t(kind_);
            rc = h.pc_to_eth(
                uint32_t(card_frame_.size()), card_frame_.data(),
                [turn](const uint8_t* answer, uint32_t n) {
                    card_turns::get().deliver(turn, answer, n);
                },
                answer_window);
        }
    }
    if (!until) {
        // This thread did not run within the turn's window: the next link's frame went first.
        refuse_card_frame(kRefused, "its turn passed before it was sent", send);
        return false;
    }
    if (rc == comm_hooks::kNotSentByRule) {
        // No answer can come: the cards are free for the next frame at once, and the PC, as
        // for any frame the cards leave unanswered, gets nothing.
        turns.release(turn);
        card_wait_ = CardWait::None;
        ++unsent_total;
        return false;
    }
    if (rc == comm_hooks::kPortQuiet) {
        turns.release(turn);
        card_wait_ = CardWait::Quiet;
        card_until_ = answer_window.quiet_until;
        return false;
    }
    if (rc != 1) {
        turns.release(turn);
        refuse_card_frame(kRefused, "refused by the FPGA manager", send);
        return false;
    }
    card_turn_ = turn;
    card_wait_ = CardWait::Sent;
    card_until_ = *until;
    if (hooks.card_frame_sent) hooks.card_frame_sent(turn);
    return true;
}

void link_session::await_card_answer(const SendFn& send, Steady::time_point until) {
    comm_hooks& h = comm_hooks::get();
    {
        zem::MutexLocker lock(*h.irq_mutex);
        h.poll_cards();
    }
    const card_turns::Answer got =
        card_turns::get().wait_answer(card_turn_, std::min(until, card_until_), card_frame_);
    if (got == card_turns::Answer::Got) {
        end_card_wait();
        card_reply_ = protocol_phy::data_re_transf_meaning(wire_.get(), card_frame_.data(),
                                                           uint32_t(card_frame_.size()));
        if (send) send(wire_.get(), card_reply_);
        return;
    }
    if (got == card_turns::Answer::Waiting && Steady::now() < card_until_) return;
    end_card_wait();
    char line[120];
    std::snprintf(line, sizeof line, "card frame from %s: no answer%s", peer_.c_str(),
                  got == card_turns::Answer::Gone ? " within its turn" : "");
    writeLogMsg(2, line);
    ZEM_DEBUG("\n %s \n", line);
}

void link_session::end_card_wait() {
    card_turns::get().release(card_turn_);
    card_turn_ = 0;
    card_wait_ = CardWait::None;
}

void link_session::refuse_card_frame(uint8_t status, const char* why, const SendFn& send) {
    card_wait_ = CardWait::None;
    char line[160];
    std::snprintf(line, sizeof line, "card frame from %s (%zu bytes) not sent: %s", peer_.c_str(),
                  card_frame_.size(), why);
    writeLogMsg(2, line);
    ZEM_DEBUG("\n %s \n", line);
    uint8_t body[kHeadLen + 2] = {};
    std::copy_n(card_frame_.begin(), std::min<size_t>(card_frame_.size(), kHeadLen), body);
    body[kHeadLen] = status;
    card_reply_ = protocol_phy::build_reply(body, 1, wire_.get());
    if (send) send(wire_.get(), card_reply_);
}
