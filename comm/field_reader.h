// Bounds-checked reading of a request's fields: every read stays inside (pointer, length), a
// read past the end sets a sticky overflow flag and yields zeros, and integers are assembled
// byte by byte in little-endian order.
#pragma once

#include <cstdint>

namespace comm {

class FieldReader {
public:
    FieldReader(const uint8_t* data, uint32_t len) : p_(data), n_(len) {}

    uint8_t u8() { return take(1) ? p_[pos_ - 1] : 0; }
    uint16_t u16() {
        if (!take(2)) return 0;
        return uint16_t(p_[pos_ - 2] | p_[pos_ - 1] << 8);
    }
    uint32_t u32() {
        if (!take(4)) return 0;
        const uint8_t* q = p_ + pos_ - 4;
        return uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 | uint32_t(q[3]) << 24;
    }
    // A pointer to the next len bytes, or null (and overflow) when fewer remain.
    const uint8_t* bytes(uint32_t len) { return take(len) ? p_ + pos_ - len : nullptr; }

    uint32_t remaining() const { return n_ - pos_; }
    bool overflow() const { return overflow_; }

private:
    bool take(uint32_t len) {
        if (overflow_ || len > n_ - pos_) {
            overflow_ = true;
            return false;
        }
        pos_ += len;
        return true;
    }

    const uint8_t* p_;
    uint32_t n_;
    uint32_t pos_ = 0;
    bool overflow_ = false;
};

}  // namespace comm
