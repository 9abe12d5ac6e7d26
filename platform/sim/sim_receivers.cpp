#include "platform/sim/sim_receivers.h"

#include <mutex>

#include "core/thread_safety.h"
#include "platform/sim/sim_c331.h"

namespace platform::sim {
namespace {

struct InputState {
    zem::Mutex mutex;
    SimInputSide side GUARDED_BY(mutex);
};

InputState& state() {
    static InputState* s = new InputState;  // used by worker threads until exit
    return *s;
}

void put16(uint8_t* regs, int at, int value) {
    regs[at] = uint8_t(value);
    regs[at + 1] = uint8_t(value >> 8);
}

// C331 input port of a source id.
constexpr int kPortOfSource[6] = {3, 2, 1, 0, 5, 4};

}  // namespace

SimReceiver::SimReceiver(int src) : source(src) {
    regs_[kId] = kIdValue;
    regs_[kHotPlug] = 1;
}

void SimReceiver::plug(const VideoMode& m, bool yuv, int lanes) {
    zem::MutexLocker lock(mutex_);
    const bool four_k = source >= 4;
    if (four_k && lanes == 0) lanes = laneCount(m);
    regs_[kStatus] =
        uint8_t(kCable | kVideoOn | (m.interlaced ? kInterlaced : 0) | (yuv ? kYuv : 0));
    regs_[kLanes] = uint8_t(four_k ? lanes : 0);
    const int words[10] = {m.hact, m.hsync, m.hback, m.hpos ? 1 : 0, m.htotal(),
                           m.vact, m.vsync, m.vback, m.vpos ? 1 : 0, m.vtotal()};
    for (int i = 0; i < 10; ++i) put16(regs_.data(), kTiming + 2 * i, words[i]);
    put16(regs_.data(), kPixelClock, int(m.pclk_khz & 0xFFFF));
    put16(regs_.data(), kPixelClock + 2, int(m.pclk_khz >> 16));
    bumpEvents();
}

void SimReceiver::unplug() {
    zem::MutexLocker lock(mutex_);
    regs_[kStatus] = 0;
    regs_[kLanes] = 0;
    for (int r = kTiming; r < kBlockSize; ++r) regs_[r] = 0;
    bumpEvents();
}

bool SimReceiver::hotPlugHigh() const {
    return reg(kHotPlug) != 0;
}

int SimReceiver::hotPlugLowCount() const {
    zem::MutexLocker lock(mutex_);
    return hpd_low_count_;
}

void SimReceiver::onProgramWrite(uint8_t reg, uint8_t value) {
    if (reg == kHotPlug && value == 0) ++hpd_low_count_;
}

void SimReceiver::bumpEvents() {
    regs_[kEvents] = uint8_t(regs_[kEvents] + 1);
}

SimInputSide& buildInputSide() {
    auto& s = state();
    zem::MutexLocker lock(s.mutex);
    s.side = SimInputSide{};
    for (int i = 0; i < 6; ++i) {
        s.side.receiver[i] = std::make_shared<SimReceiver>(i);
        s.side.eeprom[i] = std::make_shared<SimRegisterChip>();
        attachI2cDevice(kI2cNode, uint8_t(kReceiverAddr + i), s.side.receiver[i]);
        attachI2cDevice(kI2cNode, uint8_t(kEdidEepromAddr + i), s.side.eeprom[i]);
    }
    for (int i = 0; i < 2; ++i) {
        s.side.clock_chip[i] = std::make_shared<SimRegisterChip>();
        s.side.transmitter[i] = std::make_shared<SimRegisterChip>();
        attachI2cDevice(kI2cNode, uint8_t(kClockChipAddr + i), s.side.clock_chip[i]);
    }
    attachI2cDevice(kI2cNode, kSdiTransmitterAddr, s.side.transmitter[0]);
    attachI2cDevice(kI2cNode, kHdmiTransmitterAddr, s.side.transmitter[1]);
    s.side.audio_expander = std::make_shared<SimRegisterChip>();
    attachI2cDevice(kI2cNode, kAudioExpanderAddr, s.side.audio_expander);
    return s.side;
}

SimInputSide& inputSide() {
    auto& s = state();
    zem::MutexLocker lock(s.mutex);
    return s.side;
}

void buildDefaultInputs() {
    buildInputSide();
    setInput(2, 1920, 1080, 60);
}

int laneCount(const VideoMode& m) {
    return m.pclk_khz > 300000 ? 8 : m.pclk_khz > 150000 ? 4 : 2;
}

void setInput(int source, const VideoMode* mode, bool yuv) {
    if (source < 0 || source > 5) return;
    std::shared_ptr<SimReceiver> rx;
    {
        auto& s = state();
        zem::MutexLocker lock(s.mutex);
        rx = s.side.receiver[source];
    }
    // The chip measures first, so the program never sees the receiver ahead of the port.
    if (auto chip = simC331()) {
        const int port = kPortOfSource[source];
        if (mode) {
            const double fps = mode->pclk_khz * 1000.0 / (double(mode->htotal()) * mode->vtotal());
            chip->setInputSignal(
                port, C331InputTiming::video(mode->htotal(), mode->vtotal(), mode->hact, fps,
                                             port >= 4 ? laneCount(*mode) : 0));
        } else {
            chip->clearInputSignal(port);
        }
    }
    if (!rx) return;
    if (mode) {
        rx->plug(*mode, yuv);
    } else {
        rx->unplug();
    }
}

bool setInput(int source, int width, int height, int rate, bool interlaced) {
    const VideoMode* m = findStandardMode(width, height, rate, interlaced);
    if (!m) return false;
    setInput(source, m);
    return true;
}

}  // namespace platform::sim
