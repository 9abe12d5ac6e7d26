// PC protocol frames as a PC sends them, for the benchmarks: the body with its check byte,
// escaped, between the start and end bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "comm/protocol_phy.h"

inline std::vector<uint8_t> pcFrame(uint8_t cmd, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> b = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, cmd};
    b.insert(b.end(), data.begin(), data.end());
    uint8_t x = 0;
    for (uint8_t v : b) x ^= v;
    b.push_back(x);
    std::vector<uint8_t> w(b.size() * 2 + 4);
    w.resize(protocol_phy::data_re_transf_meaning(w.data(), b.data(), uint32_t(b.size())));
    return w;
}

// RAM written from addr (command 0x60), the value's `bytes` low bytes first.
inline std::vector<uint8_t> pcWriteRam(uint32_t addr, uint32_t value, uint8_t bytes) {
    std::vector<uint8_t> data = {uint8_t(addr), uint8_t(addr >> 8), 0, 0, bytes, 0, 0, 0};
    for (int k = 0; k < bytes; ++k) data.push_back(uint8_t(value >> (8 * k)));
    return pcFrame(0x60, data);
}

// One 16-bit RAM word written.
inline std::vector<uint8_t> pcWriteRam16(uint32_t addr, uint16_t value) {
    return pcWriteRam(addr, value, 2);
}

// One 16-bit RAM word read (command 0x61): the reply's data is the word, low byte first.
inline std::vector<uint8_t> pcReadRam16(uint32_t addr) {
    return pcFrame(0x61, {uint8_t(addr), uint8_t(addr >> 8), 0, 0, 2, 0});
}

// One controller register written (command 0xA0): register 11 applies what the PC wrote.
inline std::vector<uint8_t> pcWriteReg(uint8_t reg, uint8_t value) {
    return pcFrame(0xA0, {reg, 0xFF, 1, value});
}
