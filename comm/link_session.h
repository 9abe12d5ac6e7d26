// One PC link's receive side: its framer, the routing of each checked frame (receiving-card
// pass-through or box command), and the reply. Every transport (TCP client, UDP socket, serial
// port) owns one session per peer or port.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm/protocol_phy.h"

enum class LinkKind : uint8_t { Uart = 1, Tcp = 2, Udp = 3 };

class link_session {
public:
    using SendFn = std::function<void(const uint8_t* wire, uint32_t len)>;

    link_session(LinkKind kind, std::string peer);

    // Feeds received bytes; each reply (and each card answer) goes out through send.
    void feed(const uint8_t* data, size_t n, const SendFn& send);
    // The input ended mid-frame or not (a UDP datagram): an open frame is dropped.
    void end_input();
    // Handles one checked body in place (buffer of comm::kMaxBody bytes); the reply's wire
    // length in wire, 0 for silence. Used by feed and by the fuzz target.
    uint32_t handle(uint8_t* body, uint32_t len, const SendFn& send);

    void setPeer(std::string peer) { peer_ = std::move(peer); }
    const std::string& peer() const { return peer_; }

    // A transport that serves many peers on one thread (TCP) sets this: a frame for the cards
    // then waits in the session (card_wait) instead of holding the thread, and the transport
    // drives the wait with the steps below. The others wait in handle, bounded.
    bool cards_apart = false;
    enum class CardWait : uint8_t { None, Queued, Sent };
    CardWait card_wait() const { return card_wait_; }
    // Hands the queued frame to the cards. One frame of a transport is out at a time: the
    // cards' answer is kept per transport.
    void send_card_frame();
    // One look for the cards' answer; its wire length when it came and went out through send,
    // else 0.
    uint32_t take_card_answer(const SendFn& send);
    // The wait ran out without an answer: logged, and the session serves again.
    void card_timeout();

    // How long a card pass-through waits for the cards' answer.
    static std::atomic<uint32_t> pass_wait_ms;
    // Frames dropped by all links (framing errors).
    static std::atomic<uint32_t> dropped_total;

    protocol_phy phy;

private:
    uint32_t pass_through(uint8_t* body, uint32_t len, const SendFn& send);
    void report_drop(protocol_phy::Drop why);

    LinkKind kind_;
    std::string peer_;
    std::unique_ptr<uint8_t[]> wire_;
    CardWait card_wait_ = CardWait::None;
    std::vector<uint8_t> card_frame_;  // the queued frame for the cards
};
