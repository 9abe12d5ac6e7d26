// One PC link's receive side: its framer, the routing of each checked frame (receiving-card
// pass-through or box command), and the reply. Every transport (TCP client, UDP socket, serial
// port) owns one session per peer or port.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm/protocol_phy.h"
#include "core/link_activity.h"
#include "core/zem_ram_para.h"

enum class LinkKind : uint8_t { Uart = 1, Tcp = 2, Udp = 3 };

// Names a PC link: a TCP client or a serial port by its session, a UDP peer by its address and
// port (one session serves every UDP peer). What a link starts (a file transfer, an update) is
// its own; its save requests (RAM 868) are its request owner's (request_owner_of).
using LinkId = uint64_t;

class link_session {
public:
    using SendFn = std::function<void(const uint8_t* wire, uint32_t len)>;

    link_session(LinkKind kind, std::string peer);
    // A link that goes (a TCP client leaving) while its card frame is out frees the cards; a
    // TCP client's end is told to the update watch.
    ~link_session() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    link_session(const link_session&) = delete;
    link_session& operator=(const link_session&) = delete;

    // Feeds received bytes; each reply (and each card answer) goes out through send.
    void feed(const uint8_t* data, size_t n, const SendFn& send);
    // The same, but handles at most one frame: the bytes taken (n when no frame ended).
    size_t feed_one(const uint8_t* data, size_t n, const SendFn& send);
    // The input ended mid-frame or not (a UDP datagram): an open frame is dropped.
    void end_input();
    // The transport found nothing waiting in its socket or port (before it waits again): the
    // silence of the peers it serves counts up to now (core/link_activity.h).
    void input_drained() {
        if (receiver_) receiver_->drained();
    }
    // Handles one checked body in place (buffer of comm::kMaxBody bytes); the reply's wire
    // length in wire, 0 for silence. Used by feed and by the fuzz target.
    uint32_t handle(uint8_t* body, uint32_t len, const SendFn& send);

    // The UDP peer whose datagram comes next: its name and its link.
    void setPeer(std::string peer, LinkId link) {
        peer_ = std::move(peer);
        id_ = link;
    }
    const std::string& peer() const { return peer_; }
    LinkId id() const { return id_; }
    // A UDP peer's link, from its address and port (network order); never a session's.
    static LinkId udp_link(uint32_t address, uint16_t port) {
        return kUdpTag | LinkId(address) << 16 | port;
    }
    // Who owns the save requests a link writes: a UDP peer's are its address's (port 0, which
    // no peer sends from), so that a PC tool that opens a socket per command, or restarts
    // between two frames, takes them with a register 11 from any of its ports. Any other link
    // owns its own.
    static LinkId request_owner_of(LinkId link) {
        return link >> 48 == kUdpTag >> 48 ? link & ~LinkId(0xFFFF) : link;
    }

    // A frame for the cards waits in handle, bounded, on the link's own thread. Quiet: its
    // port keeps quiet after a frame given up there, until card_until_, before it is sent.
    enum class CardWait : uint8_t { None, Queued, Quiet, Sent };

    // How long a card frame waits for the cards to be free, then for their answer.
    static std::atomic<uint32_t> pass_wait_ms;
    // Frames dropped by all links (framing errors).
    static std::atomic<uint32_t> dropped_total;
    // Card frames of all links that their mode or port byte sends nowhere (not answered).
    static std::atomic<uint32_t> unsent_total;
    // What only tests set, before links start.
    struct TestHooks {
        // Called by a link's thread right after its card frame went to the cards with turn
        // `turn`, before it waits for their answer (tests hold the thread there).
        std::function<void(uint32_t turn)> card_frame_sent;
        // Called by a link's thread when its card frame waits for its port's quiet to end.
        std::function<void()> card_port_quiet;
    };
    static TestHooks hooks;

    protocol_phy phy;

private:
    using Steady = std::chrono::steady_clock;
    static constexpr LinkId kUdpTag = LinkId(1) << 48;
    uint32_t pass_through(uint8_t* body, uint32_t len, const SendFn& send);
    // Sends the queued frame once the turn is free (waiting until turn_until); false when it
    // is still queued, was refused (then answered), goes to no port or waits for its port's
    // quiet (Quiet).
    bool send_card_frame(const SendFn& send, Steady::time_point turn_until);
    // Passes the answer on when it comes by `until`; ends a wait that ran out.
    void await_card_answer(const SendFn& send, Steady::time_point until);
    // The PC's answer to a card frame the box did not send: its header and a status.
    void refuse_card_frame(uint8_t status, const char* why, const SendFn& send);
    void end_card_wait();
    void report_drop(protocol_phy::Drop why);

    LinkKind kind_;
    std::string peer_;
    LinkId id_;
    // A UDP or serial link's requests end when its owner falls silent: its frames are told.
    std::unique_ptr<link_activity::Receiver> receiver_;
    std::unique_ptr<uint8_t[]> wire_;
    CardWait card_wait_ = CardWait::None;
    std::vector<uint8_t> card_frame_;  // the frame for the cards, then their answer
    uint32_t card_turn_ = 0;           // while Sent
    Steady::time_point card_until_{};  // end of the present wait
    uint32_t card_reply_ = 0;          // wire length of what the card frame got back
};
