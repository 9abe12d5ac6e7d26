#include "video_io/receiver_link.h"

#include <cerrno>

#include "platform/box.h"
#include "platform/sim/sim_receivers.h"

using platform::sim::SimReceiver;

bool ReceiverRegs::videoOn() const {
    return valid && (status & SimReceiver::kVideoOn);
}
bool ReceiverRegs::interlaced() const {
    return status & SimReceiver::kInterlaced;
}
bool ReceiverRegs::yuv() const {
    return status & SimReceiver::kYuv;
}

int ReceiverLink::read(platform::I2cBus& bus, int source, ReceiverRegs& regs) {
    if (!platform::simulated()) return -ENOTSUP;
    uint8_t b[SimReceiver::kBlockSize];
    const int rc = bus.readRegs(uint8_t(platform::sim::kReceiverAddr + source), 0, b, sizeof b);
    if (rc != 0) return rc;
    if (b[SimReceiver::kId] != SimReceiver::kIdValue) return -ENODEV;
    regs.valid = true;
    regs.status = b[SimReceiver::kStatus];
    regs.events = b[SimReceiver::kEvents];
    regs.lanes = b[SimReceiver::kLanes];
    for (int i = 0; i < 10; ++i) {
        const int at = SimReceiver::kTiming + 2 * i;
        regs.timing[i] = uint16_t(b[at] | b[at + 1] << 8);
    }
    const int at = SimReceiver::kPixelClock;
    regs.pclk_khz = uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
                    uint32_t(b[at + 3]) << 24;
    return 0;
}

int ReceiverLink::setHotPlug(platform::I2cBus& bus, int source, bool high) {
    if (!platform::simulated()) return -ENOTSUP;
    return bus.writeReg(uint8_t(platform::sim::kReceiverAddr + source), SimReceiver::kHotPlug,
                        high ? 1 : 0);
}

ReceiverLink::Change ReceiverLink::update(int rc, const ReceiverRegs& regs) {
    if (rc != 0) {
        if (failures < kLostAfter) ++failures;  // a silent receiver is polled for years
        if (failures < kLostAfter || !has_video) return Change::None;
        has_video = false;
        return Change::VideoOff;
    }
    failures = 0;
    const bool event = regs.events != events_;
    events_ = regs.events;
    if (regs.videoOn() && (event || !has_video)) {
        has_video = true;
        return Change::VideoOn;
    }
    if (!regs.videoOn() && has_video) {
        has_video = false;
        return Change::VideoOff;
    }
    return Change::None;
}
