// The program's side of one input receiver: reads its state over I2C and notices plug,
// unplug and mode-change events.
//
// The receivers are read through the simulated box's receiver map (platform/sim/
// sim_receivers.h); the real receiver chips' registers are not known here, so on the box every
// read reports -ENOTSUP and the input stays without signal.
#pragma once

#include <cstdint>

#include "platform/i2c_bus.h"

// One register snapshot of a receiver.
struct ReceiverRegs {
    bool valid = false;  // a read succeeded
    uint8_t status = 0;
    uint8_t events = 0;
    uint8_t lanes = 0;
    uint16_t timing[10] = {};  // Hact Hsync Hback Hpol Htotal Vact Vsync Vback Vpol Vtotal
    uint32_t pclk_khz = 0;

    bool videoOn() const;
    bool interlaced() const;
    bool yuv() const;
};

class ReceiverLink {
public:
    enum class Change { None, VideoOn, VideoOff };

    // Reads receiver source over bus into regs; 0 or a negative errno (regs untouched).
    static int read(platform::I2cBus& bus, int source, ReceiverRegs& regs);
    // Drives the receiver's hot-plug line; 0 or a negative errno.
    static int setHotPlug(platform::I2cBus& bus, int source, bool high);

    // Feeds one read result: what changed for the program since the last one. A receiver
    // that stops answering counts as without video after kLostAfter failed reads in a row.
    Change update(int rc, const ReceiverRegs& regs);

    static constexpr int kLostAfter = 3;
    bool has_video = false;
    int failures = 0;  // failed reads in a row, up to kLostAfter

private:
    uint8_t events_ = 0;
};
