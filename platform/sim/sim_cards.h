// Simulated LED receiving cards behind the output ports of a simulated FPGA: each port holds a
// chain of cards with a small RAM, a register file and what they saved to their flash. A frame
// the FPGA transmits on a port reaches the cards; their replies come back through the port
// pair's receive buffer.
//
// To teach the cards another command, add a row to kCardCommands in sim_cards.cpp: the command
// byte, what the card does with the frame and the data it answers. A light-sensor card answers
// the read command of the sensor frame kind with its reading page.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

namespace platform::sim {

using CardFrame = std::vector<uint8_t>;

struct SimCard {
    static constexpr uint32_t kRamSize = 16384;
    SimCard();

    std::vector<uint8_t> ram;  // kRamSize bytes, written by 0x60, read by 0x61
    std::array<uint8_t, 256> regs{};
    std::vector<uint8_t> saved_ram;  // what the last save (0x81) put in the card's flash
    std::array<uint8_t, 256> saved_regs{};
    int saves = 0, reconfigs = 0, activations = 0, other_commands = 0;
    uint32_t config_id = 0;  // the screen configuration it carries (search with config id)

    // Fault switches and states.
    bool silent = false;          // neither acts on frames nor answers
    bool bad_check = false;       // answers with a wrong check byte
    bool extra = false;           // not expected: acts and answers, but no search counts it
    bool hold_replies = false;    // answers late: replies wait for SimFpgaBoard::releaseHeld
    bool needs_recovery = false;  // a search with config id names it, until it saves (0x81)

    // A light-sensor card: it answers the sensor read (kind 0xBB, addressed 0x4000 plus the
    // port bits) with its reading page: byte 49 0xFF while the reading is valid, byte 53 the
    // level it asks for. Its port's search reply carries a non-zero per-port byte.
    bool light_sensor = false;
    bool light_valid = true;
    uint8_t light_level = 0;

    // Whether the card took frames at all (for tests of routing).
    int frames = 0;
};

// One output port: a link and the chain of cards on it (card 0 next to the port).
struct SimPort {
    std::vector<SimCard> cards;
    uint8_t port_byte = 0;       // the per-port byte of a search reply (1 with a light sensor)
    std::deque<CardFrame> held;  // replies of cards that answer late

    // A frame transmitted on port `port` (0..9 of its FPGA): the cards act on it; returns
    // the replies that go back at once.
    std::vector<CardFrame> deliver(int port, const CardFrame& frame);
};

}  // namespace platform::sim
