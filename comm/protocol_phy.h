// The PC protocol's wire framing: three 0xA5 start bytes, the escaped body, the end byte 0x5A.
// The body is a 10-byte header (destination, source, length, port mode, output selector, spare,
// command), data from offset 10 and a trailing XOR check byte. Each transport connection or port
// owns one protocol_phy, which also carries that link's resumable framer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace comm {
constexpr uint8_t kStart = 0xA5;
constexpr uint8_t kEnd = 0x5A;
constexpr uint8_t kEscA5 = 0xA6;  // 0xA5 -> A6 02, 0xA6 -> A6 01
constexpr uint8_t kEsc5A = 0x5B;  // 0x5A -> 5B 02, 0x5B -> 5B 01
constexpr uint32_t kHeadLen = 10;
constexpr uint32_t kMinBody = kHeadLen + 1;  // header and check byte
// Largest accepted body (check byte included): a 64 KiB data block and its header fit.
constexpr uint32_t kMaxBody = 65536 + 64;
// Largest wire frame of a body of kMaxBody bytes: every byte escaped, plus start and end.
constexpr uint32_t kMaxWire = 2 * kMaxBody + 4;

constexpr uint16_t kAddrPc = 0xF010;
constexpr uint16_t kAddrBox = 0xF100;    // the box itself (also 0xF101)
constexpr uint16_t kAddrCards = 0xF000;  // destinations below this are receiving cards

inline uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
}  // namespace comm

class protocol_phy {
public:
    enum State : uint8_t { kHunt, kStarts, kBody, kEscape };
    enum Drop : uint8_t { kNone, kOverflow, kBadEscape, kBadCheck, kShort };

    protocol_phy();
    protocol_phy(const protocol_phy&) = delete;
    protocol_phy& operator=(const protocol_phy&) = delete;

    // Un-escapes n wire bytes of a body (no start or end bytes) into out (capacity cap).
    // The body length, or -1 on a bad escape pair or an overflow of cap.
    static int data_transf_meaning(uint8_t* out, const uint8_t* in, uint32_t n, uint32_t cap);
    // Writes the wire frame of a body whose last byte is already its check byte; returns the
    // wire length. out must hold 2 * len + 4 bytes. state is kept for the calling convention.
    static uint32_t data_re_transf_meaning(uint8_t* out, const uint8_t* body, uint32_t len,
                                           int state = 0);
    // Swaps destination and source of a body's header.
    static void swap_phy_head(uint8_t* body);
    // Turns a handled request body (data rewritten in place, n reply data bytes from offset 10)
    // into the reply wire frame in out; returns the wire length.
    static uint32_t build_reply(uint8_t* body, uint32_t n, uint8_t* out);

    // The resumable framer: feeds received bytes; for each complete, checked body calls
    // onFrame(body, length including the check byte). The body buffer is reused: the callback
    // may rewrite it in place (up to kMaxBody bytes). Dropped frames are counted and reported
    // once each through onDrop.
    using FrameFn = std::function<void(uint8_t* body, uint32_t len)>;
    using DropFn = std::function<void(Drop why)>;
    void feed(const uint8_t* data, size_t n, const FrameFn& onFrame, const DropFn& onDrop = {});
    // The same, but stops after the first frame delivered: the bytes taken (n when no frame
    // ended in them).
    size_t feed_one(const uint8_t* data, size_t n, const FrameFn& onFrame,
                    const DropFn& onDrop = {});
    // The input ended (a UDP datagram holds whole frames): a frame still open is dropped as
    // truncated and the framer hunts for the next start.
    void end_input(const DropFn& onDrop = {});

    uint32_t frames = 0;   // good frames delivered
    uint32_t dropped = 0;  // frames dropped for overflow, escape, check or length

    uint8_t* body() { return body_.get(); }

private:
    // Takes one byte; true when it ended a frame that was delivered.
    bool step(uint8_t b, const FrameFn& onFrame, const DropFn& onDrop);
    bool finish(const FrameFn& onFrame, const DropFn& onDrop);
    void drop(Drop why, const DropFn& onDrop);

    State state_ = kHunt;
    uint8_t escape_ = 0;  // the pending escape byte in kEscape
    uint8_t starts_ = 0;
    bool overflow_ = false;
    uint32_t len_ = 0;
    std::unique_ptr<uint8_t[]> body_;  // kMaxBody bytes
};

// A peer's name for the log line of a dropped frame.
const char* protocol_drop_name(protocol_phy::Drop why);
