// The output ports of a simulated FPGA: ports 2k and 2k + 1 share the transmit buffer (RAM
// area 3 + 2k) and the receive buffer (area 2 + 2k) of pair k, with their length, start,
// receive-flag, busy and release bits in the registers below. Replies of the cards wait in a
// queue per pair and enter the receive buffer one at a time, each time it is released.
#include <algorithm>

#include "platform/sim/sim_fpga.h"

namespace platform::sim {

namespace {

constexpr int kTxPairs = 8, kRxPairs = 5;
constexpr int kAreaSize = 1024;  // a transmit or receive buffer (10-bit lengths)
constexpr uint8_t kTxLenLow[kTxPairs] = {26, 134, 136, 138, 154, 155, 156, 157};
constexpr uint8_t kRxLenLow[kRxPairs] = {24, 133, 135, 137, 149};

int txLenHigh(int pair) {
    return pair < 4 ? 27 : 158;
}
int rxLenHigh(int pair) {
    return pair < 4 ? 25 : 153;
}
int fieldShift(int pair) {
    return 2 * (pair % 4);
}
// Receive flag of pair k: register 129 bit 2k (pairs 0..3) or register 145 bit 0 (pair 4).
int flagReg(int pair) {
    return pair < 4 ? 129 : 145;
}
uint8_t flagBit(int pair) {
    return pair < 4 ? uint8_t(1 << (2 * pair)) : 1;
}

}  // namespace

void SimFpga::setPortLink(int port, bool up) {
    if (port < 0 || port > 15) return;
    uint8_t& reg = links_[port / 8];
    const uint8_t bit = uint8_t(1 << (port % 8));
    const uint8_t was = reg;
    reg = up ? uint8_t(reg | bit) : uint8_t(reg & ~bit);
    if (reg != was && running_) regs_[22] |= 0x20;
}

bool SimFpga::portLink(int port) const {
    return port >= 0 && port <= 15 && (links_[port / 8] & (1 << (port % 8)));
}

uint8_t SimFpga::portStatus(int reg) const {
    // Busy bits: 129 bit 2k + 1 for pairs 0..3, 145 bit 2(k - 4) + 1 for pairs 4..7.
    uint8_t busy = 0;
    for (int k = reg == 129 ? 0 : 4, i = 0; i < 4; ++k, ++i)
        if (stuck_busy_pairs & (1 << k)) busy |= uint8_t(2 << (2 * i));
    return uint8_t(regs_[reg] | busy);
}

bool SimFpga::receivePending() const {
    for (int k = 0; k < kRxPairs; ++k)
        if (regs_[flagReg(k)] & flagBit(k)) return true;
    return false;
}

void SimFpga::portRegisterWritten(int reg, uint8_t bits) {
    switch (reg) {
        case 22:
            // The interrupt stays raised while a received frame waits.
            if (receivePending()) regs_[22] |= 0x20;
            return;
        case 130:
        case 146: {
            const int base = reg == 130 ? 0 : 4;
            for (int i = 0; i < 4; ++i)
                if (bits & (0x10 << i)) transmit(base + i);
            regs_[reg] &= 0x0F;  // start bits clear when the frame is out
            // Release of a receive buffer: bits 0..3 of 130 (pairs 0..3), bit 0 of 146 (pair 4).
            for (int i = 0; i < (reg == 130 ? 4 : 1); ++i) {
                const int pair = base + i;
                if (!(bits & (1 << i)) || !(regs_[flagReg(pair)] & flagBit(pair))) continue;
                regs_[flagReg(pair)] &= uint8_t(~flagBit(pair));
                loadReceive(pair);
            }
            return;
        }
        default:
            return;
    }
}

void SimFpga::transmit(int pair) {
    const int low = regs_[kTxLenLow[pair]];
    const int high = (regs_[txLenHigh(pair)] >> fieldShift(pair)) & 3;
    const int n = low + high * 256 + 1;
    // The port of the pair that the select register (132 for ports 0..7, 148 for 8..15) names.
    const uint8_t select = regs_[pair < 4 ? 132 : 148];
    int port = -1;
    for (int p = 2 * pair; p <= 2 * pair + 1 && port < 0; ++p)
        if (select & (1 << (p % 8))) port = p;
    if (port < 0) {
        ++unrouted_sends_;
        return;
    }
    CardFrame frame = area(3 + 2 * pair, 0, n);
    sent_.push({port, frame});
    if (port > 9) {
        ++unrouted_sends_;
        return;
    }
    if (!(links_[port / 8] & (1 << (port % 8)))) return;  // link down: the frame is lost
    for (CardFrame& reply : ports[port].deliver(port, frame)) queueReply(pair, std::move(reply));
}

void SimFpga::queueReply(int pair, CardFrame reply) {
    if (reply.size() > size_t(kAreaSize)) reply.resize(kAreaSize);
    rx_queue_[pair].push_back(std::move(reply));
    loadReceive(pair);
}

void SimFpga::loadReceive(int pair) {
    if ((regs_[flagReg(pair)] & flagBit(pair)) || rx_queue_[pair].empty()) return;
    const CardFrame f = std::move(rx_queue_[pair].front());
    rx_queue_[pair].pop_front();
    std::copy(f.begin(), f.end(), areaRef(2 + 2 * pair).begin());
    const int m = int(f.size()) - 1;  // the length register holds the index of the check byte
    regs_[kRxLenLow[pair]] = uint8_t(m);
    uint8_t& high = regs_[rxLenHigh(pair)];
    high = uint8_t((high & ~(3 << fieldShift(pair))) | ((m >> 8) & 3) << fieldShift(pair));
    regs_[flagReg(pair)] |= flagBit(pair);
    regs_[22] |= 0x20;
}

void SimFpga::releaseHeld() {
    for (int p = 0; p < 10; ++p) {
        auto& held = ports[p].held;
        while (!held.empty()) {
            queueReply(p / 2, std::move(held.front()));
            held.pop_front();
        }
    }
}

// ---------------------------------------------------------------------------------------
// Board

void SimFpgaBoard::setCards(int p, int count) {
    SimPort& chain = port(p);
    chain.cards.assign(size_t(std::max(count, 0)), SimCard());
    chain.held.clear();
    if (count > 0) fpga[(p / 10) & 1].setPortLink(p % 10, true);
}

void SimFpgaBoard::setLink(int p, bool up) {
    zem::MutexLocker lock(mutex);
    fpga[(p / 10) & 1].setPortLink(p % 10, up);
    syncIrq((p / 10) & 1);
}

void SimFpgaBoard::releaseHeld() {
    zem::MutexLocker lock(mutex);
    for (int i = 0; i < 2; ++i) {
        fpga[i].releaseHeld();
        syncIrq(i);
    }
}

void SimFpgaBoard::injectReply(int i, int pair, CardFrame reply) {
    zem::MutexLocker lock(mutex);
    fpga[i & 1].injectReply(pair, std::move(reply));
    syncIrq(i & 1);
}

}  // namespace platform::sim
