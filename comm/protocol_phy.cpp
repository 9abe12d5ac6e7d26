#include "comm/protocol_phy.h"

#include <utility>

#include "core/utils.h"

using namespace comm;

// One body buffer per link, allocated once: replies are built in place in it.
protocol_phy::protocol_phy() : body_(new uint8_t[kMaxBody]) {}

int protocol_phy::data_transf_meaning(uint8_t* out, const uint8_t* in, uint32_t n, uint32_t cap) {
    uint32_t o = 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t b = in[i];
        if (b == kEscA5 || b == kEsc5A) {
            if (i + 1 >= n) return -1;
            const uint8_t code = in[++i];
            if (code != 1 && code != 2) return -1;
            b = code == 2 ? uint8_t(b - 1) : b;
        } else if (b == kStart || b == kEnd) {
            return -1;  // never bare inside a body
        }
        if (o >= cap) return -1;
        out[o++] = b;
    }
    return int(o);
}

uint32_t protocol_phy::data_re_transf_meaning(uint8_t* out, const uint8_t* body, uint32_t len,
                                              int state) {
    (void)state;
    uint32_t o = 0;
    out[o++] = kStart;
    out[o++] = kStart;
    out[o++] = kStart;
    for (uint32_t i = 0; i < len; ++i) {
        const uint8_t b = body[i];
        if (b == kStart || b == kEscA5) {
            out[o++] = kEscA5;
            out[o++] = b == kStart ? 2 : 1;
        } else if (b == kEnd || b == kEsc5A) {
            out[o++] = kEsc5A;
            out[o++] = b == kEnd ? 2 : 1;
        } else {
            out[o++] = b;
        }
    }
    out[o++] = kEnd;
    return o;
}

void protocol_phy::swap_phy_head(uint8_t* body) {
    for (int i = 0; i < 2; ++i) std::swap(body[i], body[2 + i]);
}

uint32_t protocol_phy::build_reply(uint8_t* body, uint32_t n, uint8_t* out) {
    swap_phy_head(body);
    const uint32_t len = kHeadLen + n;
    body[len] = Utils::BCC(body, len);
    return data_re_transf_meaning(out, body, len + 1);
}

void protocol_phy::end_input(const DropFn& onDrop) {
    const bool open = state_ == kBody || state_ == kEscape || (state_ == kStarts && starts_ == 3);
    if (open) drop(kShort, onDrop);
    state_ = kHunt;
    starts_ = 0;
    len_ = 0;
    overflow_ = false;
}

void protocol_phy::drop(Drop why, const DropFn& onDrop) {
    ++dropped;
    if (onDrop) onDrop(why);
    len_ = 0;
    overflow_ = false;
}

bool protocol_phy::finish(const FrameFn& onFrame, const DropFn& onDrop) {
    state_ = kHunt;
    Drop why = kNone;
    if (overflow_)
        why = kOverflow;
    else if (len_ < kMinBody)
        why = kShort;
    else if (Utils::BCC(body_.get(), len_ - 1) != body_[len_ - 1])
        why = kBadCheck;
    if (why != kNone) {
        drop(why, onDrop);
        return false;
    }
    const uint32_t len = len_;
    len_ = 0;
    ++frames;
    onFrame(body_.get(), len);
    return true;
}

void protocol_phy::feed(const uint8_t* data, size_t n, const FrameFn& onFrame,
                        const DropFn& onDrop) {
    for (size_t i = 0; i < n; ++i) step(data[i], onFrame, onDrop);
}

size_t protocol_phy::feed_one(const uint8_t* data, size_t n, const FrameFn& onFrame,
                              const DropFn& onDrop) {
    for (size_t i = 0; i < n; ++i)
        if (step(data[i], onFrame, onDrop)) return i + 1;
    return n;
}

bool protocol_phy::step(uint8_t b, const FrameFn& onFrame, const DropFn& onDrop) {
    if (b == kStart && state_ != kStarts) {
        // A start byte inside a frame cuts it short: resynchronise on it.
        if (state_ != kHunt) drop(kShort, onDrop);
        state_ = kStarts;
        starts_ = 1;
        return false;
    }
    switch (state_) {
        case kHunt:
            break;  // noise between frames
        case kStarts:
            if (b == kStart) {
                if (starts_ < 3) ++starts_;
                break;
            }
            if (starts_ < 3) {
                state_ = kHunt;  // too few start bytes: noise
                break;
            }
            state_ = kBody;
            len_ = 0;
            overflow_ = false;
            [[fallthrough]];
        case kBody:
            if (b == kEnd) return finish(onFrame, onDrop);
            if (b == kEscA5 || b == kEsc5A) {
                escape_ = b;
                state_ = kEscape;
            } else if (len_ < kMaxBody) {
                body_[len_++] = b;
            } else {
                overflow_ = true;
            }
            break;
        case kEscape:
            if (b != 1 && b != 2) {
                drop(kBadEscape, onDrop);
                state_ = kHunt;
                break;
            }
            state_ = kBody;
            if (len_ < kMaxBody)
                body_[len_++] = b == 2 ? uint8_t(escape_ - 1) : escape_;
            else
                overflow_ = true;
            break;
    }
    return false;
}

const char* protocol_drop_name(protocol_phy::Drop why) {
    switch (why) {
        case protocol_phy::kOverflow:
            return "oversized";
        case protocol_phy::kBadEscape:
            return "bad escape";
        case protocol_phy::kBadCheck:
            return "bad check byte";
        case protocol_phy::kShort:
            return "truncated";
        default:
            return "none";
    }
}
