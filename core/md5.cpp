#include "core/md5.h"

#include <cstring>

MD5 md5;

namespace {

inline uint32_t rol(uint32_t x, int c) {
    return (x << c) | (x >> (32 - c));
}

// Little-endian word; a single load on the box and on x86.
inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// The four round steps. F and I use the one-operation-shorter forms; in G the two terms share
// no bits, so adding them separately gives the same sum with a shorter dependency chain.
inline void ff(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t, int s) {
    a = rol(a + (d ^ (b & (c ^ d))) + x + t, s) + b;
}
inline void gg(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t, int s) {
    a += (~d & c) + x + t;
    a = rol(a + (d & b), s) + b;
}
inline void hh(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t, int s) {
    a = rol(a + (b ^ c ^ d) + x + t, s) + b;
}
inline void ii(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t, int s) {
    a = rol(a + (c ^ (b | ~d)) + x + t, s) + b;
}

}  // namespace

void MD5::reset() {
    state[0] = 0x67452301;
    state[1] = 0xefcdab89;
    state[2] = 0x98badcfe;
    state[3] = 0x10325476;
    count = 0;
    finished = false;
}

void MD5::transform(uint32_t st[4], const uint8_t* p, uint64_t n) {
    uint32_t a = st[0], b = st[1], c = st[2], d = st[3];
    for (; n > 0; --n, p += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = le32(p + 4 * i);
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

        ff(a, b, c, d, x[0], 0xd76aa478, 7);
        ff(d, a, b, c, x[1], 0xe8c7b756, 12);
        ff(c, d, a, b, x[2], 0x242070db, 17);
        ff(b, c, d, a, x[3], 0xc1bdceee, 22);
        ff(a, b, c, d, x[4], 0xf57c0faf, 7);
        ff(d, a, b, c, x[5], 0x4787c62a, 12);
        ff(c, d, a, b, x[6], 0xa8304613, 17);
        ff(b, c, d, a, x[7], 0xfd469501, 22);
        ff(a, b, c, d, x[8], 0x698098d8, 7);
        ff(d, a, b, c, x[9], 0x8b44f7af, 12);
        ff(c, d, a, b, x[10], 0xffff5bb1, 17);
        ff(b, c, d, a, x[11], 0x895cd7be, 22);
        ff(a, b, c, d, x[12], 0x6b901122, 7);
        ff(d, a, b, c, x[13], 0xfd987193, 12);
        ff(c, d, a, b, x[14], 0xa679438e, 17);
        ff(b, c, d, a, x[15], 0x49b40821, 22);

        gg(a, b, c, d, x[1], 0xf61e2562, 5);
        gg(d, a, b, c, x[6], 0xc040b340, 9);
        gg(c, d, a, b, x[11], 0x265e5a51, 14);
        gg(b, c, d, a, x[0], 0xe9b6c7aa, 20);
        gg(a, b, c, d, x[5], 0xd62f105d, 5);
        gg(d, a, b, c, x[10], 0x02441453, 9);
        gg(c, d, a, b, x[15], 0xd8a1e681, 14);
        gg(b, c, d, a, x[4], 0xe7d3fbc8, 20);
        gg(a, b, c, d, x[9], 0x21e1cde6, 5);
        gg(d, a, b, c, x[14], 0xc33707d6, 9);
        gg(c, d, a, b, x[3], 0xf4d50d87, 14);
        gg(b, c, d, a, x[8], 0x455a14ed, 20);
        gg(a, b, c, d, x[13], 0xa9e3e905, 5);
        gg(d, a, b, c, x[2], 0xfcefa3f8, 9);
        gg(c, d, a, b, x[7], 0x676f02d9, 14);
        gg(b, c, d, a, x[12], 0x8d2a4c8a, 20);

        hh(a, b, c, d, x[5], 0xfffa3942, 4);
        hh(d, a, b, c, x[8], 0x8771f681, 11);
        hh(c, d, a, b, x[11], 0x6d9d6122, 16);
        hh(b, c, d, a, x[14], 0xfde5380c, 23);
        hh(a, b, c, d, x[1], 0xa4beea44, 4);
        hh(d, a, b, c, x[4], 0x4bdecfa9, 11);
        hh(c, d, a, b, x[7], 0xf6bb4b60, 16);
        hh(b, c, d, a, x[10], 0xbebfbc70, 23);
        hh(a, b, c, d, x[13], 0x289b7ec6, 4);
        hh(d, a, b, c, x[0], 0xeaa127fa, 11);
        hh(c, d, a, b, x[3], 0xd4ef3085, 16);
        hh(b, c, d, a, x[6], 0x04881d05, 23);
        hh(a, b, c, d, x[9], 0xd9d4d039, 4);
        hh(d, a, b, c, x[12], 0xe6db99e5, 11);
        hh(c, d, a, b, x[15], 0x1fa27cf8, 16);
        hh(b, c, d, a, x[2], 0xc4ac5665, 23);

        ii(a, b, c, d, x[0], 0xf4292244, 6);
        ii(d, a, b, c, x[7], 0x432aff97, 10);
        ii(c, d, a, b, x[14], 0xab9423a7, 15);
        ii(b, c, d, a, x[5], 0xfc93a039, 21);
        ii(a, b, c, d, x[12], 0x655b59c3, 6);
        ii(d, a, b, c, x[3], 0x8f0ccc92, 10);
        ii(c, d, a, b, x[10], 0xffeff47d, 15);
        ii(b, c, d, a, x[1], 0x85845dd1, 21);
        ii(a, b, c, d, x[8], 0x6fa87e4f, 6);
        ii(d, a, b, c, x[15], 0xfe2ce6e0, 10);
        ii(c, d, a, b, x[6], 0xa3014314, 15);
        ii(b, c, d, a, x[13], 0x4e0811a1, 21);
        ii(a, b, c, d, x[4], 0xf7537e82, 6);
        ii(d, a, b, c, x[11], 0xbd3af235, 10);
        ii(c, d, a, b, x[2], 0x2ad7d2bb, 15);
        ii(b, c, d, a, x[9], 0xeb86d391, 21);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    st[0] = a;
    st[1] = b;
    st[2] = c;
    st[3] = d;
}

void MD5::update(void const* data, unsigned int len) {
    if (len == 0) return;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t have = uint32_t(count >> 3) & 63;
    count += uint64_t(len) << 3;
    if (have != 0) {
        const uint32_t take = len < 64 - have ? len : 64 - have;
        std::memcpy(buffer + have, p, take);
        p += take;
        len -= take;
        have += take;
        if (have < 64) return;
        transform(state, buffer, 1);
    }
    // Whole blocks straight from the caller's bytes.
    transform(state, p, len / 64);
    p += len & ~63u;
    if (len & 63) std::memcpy(buffer, p, len & 63);
}

const uint8_t* MD5::digest() {
    if (finished) return result;
    uint32_t st[4] = {state[0], state[1], state[2], state[3]};
    const uint32_t have = uint32_t(count >> 3) & 63;
    uint8_t tail[128] = {0};
    std::memcpy(tail, buffer, have);
    tail[have] = 0x80;
    const uint32_t blocks = have < 56 ? 1 : 2;
    for (int i = 0; i < 8; ++i) tail[blocks * 64 - 8 + i] = uint8_t(count >> (8 * i));
    transform(st, tail, blocks);
    for (int i = 0; i < 4; ++i) put32(result + 4 * i, st[i]);
    finished = true;
    return result;
}
