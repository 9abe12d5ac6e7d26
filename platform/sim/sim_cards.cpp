#include "platform/sim/sim_cards.h"

#include <algorithm>

namespace platform::sim {

namespace {

uint16_t le16(const CardFrame& f, size_t at) {
    return at + 1 < f.size() ? uint16_t(f[at] | f[at + 1] << 8) : 0;
}
uint32_t le32(const CardFrame& f, size_t at) {
    return uint32_t(le16(f, at)) | uint32_t(le16(f, at + 2)) << 16;
}
void put16(CardFrame& f, uint16_t v) {
    f.push_back(uint8_t(v));
    f.push_back(uint8_t(v >> 8));
}
void put32(CardFrame& f, uint32_t v) {
    put16(f, uint16_t(v));
    put16(f, uint16_t(v >> 16));
}
uint8_t xorOf(const uint8_t* p, size_t n) {
    uint8_t x = 0;
    for (size_t i = 0; i < n; ++i) x ^= p[i];
    return x;
}

// What the port's chain knows when a card answers.
struct Chain {
    const SimPort& port;
    int counted;  // cards a search counts
    int recover;  // first card that needs recovery, 255 none
};

// ---- the commands: what a card does, and the data of its answer from byte 10 on ----

void writeRam(SimCard& c, const CardFrame& f) {
    const uint32_t addr = le32(f, 10);
    const size_t len = le16(f, 14);
    for (size_t i = 0; i < len && 18 + i + 1 < f.size(); ++i)
        if (addr + i < SimCard::kRamSize) c.ram[addr + i] = f[18 + i];
}
void writeRegs(SimCard& c, const CardFrame& f) {
    // [10] first register, [11] mask, [12] count, then the values.
    if (f.size() < 14) return;
    const uint8_t mask = f[11];
    for (size_t i = 0; i < f[12] && 13 + i + 1 < f.size(); ++i) {
        uint8_t& r = c.regs[(f[10] + i) & 0xFF];
        r = uint8_t((r & ~mask) | (f[13 + i] & mask));
    }
}
void save(SimCard& c, const CardFrame&) {
    c.saved_ram = c.ram;
    c.saved_regs = c.regs;
    ++c.saves;
    c.needs_recovery = false;  // what it saved is a whole configuration again
}
void reconfig(SimCard& c, const CardFrame&) {
    ++c.reconfigs;
}
void activate(SimCard& c, const CardFrame&) {
    ++c.activations;
}
void userDefined(SimCard& c, const CardFrame&) {
    ++c.other_commands;
}
void nothing(SimCard&, const CardFrame&) {}

void statusOk(const Chain&, const SimCard&, const CardFrame&, CardFrame& r) {
    r.push_back(0);
}
constexpr uint8_t kSensorKind = 0xBB;
constexpr size_t kSensorPage = 128;

void readRamAnswer(const Chain&, const SimCard& c, const CardFrame& f, CardFrame& r) {
    if (c.light_sensor && f[5] == kSensorKind) {
        // Status 0, then the reading page.
        r.push_back(0);
        CardFrame page(kSensorPage, 0);
        page[49] = c.light_valid ? 0xFF : 0x00;
        page[53] = c.light_level;
        r.insert(r.end(), page.begin(), page.end());
        return;
    }
    // Same layout as the write: address, length, two zero bytes, the bytes read.
    const uint32_t addr = le32(f, 10);
    size_t len = std::min<size_t>(le16(f, 14), 1000);
    if (addr >= SimCard::kRamSize) len = 0;
    len = std::min<size_t>(len, SimCard::kRamSize - std::min(addr, SimCard::kRamSize));
    put32(r, addr);
    put16(r, uint16_t(len));
    put16(r, 0);
    r.insert(r.end(), c.ram.begin() + addr, c.ram.begin() + addr + len);
}
void searchAnswer(const Chain& chain, const SimCard& c, const CardFrame& f, CardFrame& r) {
    r.push_back(0);  // a valid count
    put16(r, uint16_t(chain.counted));
    const bool sensor = std::any_of(chain.port.cards.begin(), chain.port.cards.end(),
                                    [](const SimCard& k) { return k.light_sensor; });
    r.push_back(uint8_t(chain.port.port_byte | (sensor ? 1 : 0)));
    put16(r, 0);
    if (f.size() < 30 || f[16] != 1) return;
    put16(r, 0);  // bytes 16..17
    put32(r, c.config_id);
    r.push_back(uint8_t(chain.recover));
}

struct CardCommand {
    uint8_t command;
    void (*act)(SimCard&, const CardFrame&);
    void (*answer)(const Chain&, const SimCard&, const CardFrame&, CardFrame&);
};

// Commands not listed are taken (counted) and acknowledged like a user-defined frame.
constexpr CardCommand kCardCommands[] = {
    {0x60, writeRam, statusOk},    {0x61, nothing, readRamAnswer}, {0xA0, writeRegs, statusOk},
    {0x81, save, statusOk},        {0x84, reconfig, statusOk},     {0xB4, activate, statusOk},
    {0x10, nothing, searchAnswer},
};
const CardCommand kUserDefined = {0, userDefined, statusOk};

const CardCommand& commandOf(uint8_t command) {
    for (const CardCommand& c : kCardCommands)
        if (c.command == command) return c;
    return kUserDefined;
}

}  // namespace

SimCard::SimCard() : ram(kRamSize, 0), saved_ram(kRamSize, 0) {}

std::vector<CardFrame> SimPort::deliver(int portNo, const CardFrame& f) {
    // A card drops a frame that is cut short or corrupted, or not addressed to its port.
    if (f.size() < 11 || xorOf(f.data(), f.size() - 1) != f.back()) return {};
    const uint16_t dest = le16(f, 0);
    if (dest >= 0xF000) return {};
    if (dest != 0x0FFF && ((dest >> 12) & 3) != (portNo & 3)) return {};
    const int index = dest & 0xFFF;
    const bool all = index >= 0xFFE;
    const bool to_sensor = (dest & 0xC000) == 0x4000;  // the port's light sensor
    const CardCommand& cmd = commandOf(f[9]);

    int replier = -1;
    for (size_t i = 0; i < cards.size(); ++i) {
        SimCard& c = cards[i];
        const bool addressed = to_sensor ? c.light_sensor : all || int(i) == index;
        if (!addressed || c.silent) continue;
        ++c.frames;
        cmd.act(c, f);
        replier = int(i);  // of a frame to all cards, the last card answers for the chain
    }
    if (replier < 0) return {};

    Chain chain{*this, 0, 255};
    for (size_t i = 0; i < cards.size(); ++i) {
        if (cards[i].extra) continue;
        ++chain.counted;
        if (cards[i].needs_recovery && chain.recover == 255) chain.recover = int(i);
    }
    const SimCard& c = cards[replier];
    CardFrame r;
    put16(r, le16(f, 2));  // back to whoever sent it
    put16(r, uint16_t((portNo & 3) << 12 | replier));
    r.insert(r.end(), {0x10, f[5], f[6], f[7], 0, f[9]});
    cmd.answer(chain, c, f, r);
    r.push_back(uint8_t(xorOf(r.data(), r.size()) ^ (c.bad_check ? 0x5A : 0)));
    if (c.hold_replies) {
        held.push_back(std::move(r));
        return {};
    }
    return {std::move(r)};
}

}  // namespace platform::sim
