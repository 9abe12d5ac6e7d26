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

// One 16-bit RAM word written (command 0x60).
inline std::vector<uint8_t> pcWriteRam16(uint32_t addr, uint16_t value) {
    return pcFrame(0x60, {uint8_t(addr), uint8_t(addr >> 8), 0, 0, 2, 0, 0, 0, uint8_t(value),
                          uint8_t(value >> 8)});
}

// One controller register written (command 0xA0): register 11 applies what the PC wrote.
inline std::vector<uint8_t> pcWriteReg(uint8_t reg, uint8_t value) {
    return pcFrame(0xA0, {reg, 0xFF, 1, value});
}
