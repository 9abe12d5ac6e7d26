// The input side of the simulated box on its I2C bus: six HDMI/DVI receivers, their EDID
// EEPROMs, the FPGA boards' clock chips, the audio I/O expander and the two transmitters.
//
// The receiver chips' own register maps are not known to this program, so the simulated
// receivers answer a small register map of the simulated box's own (SimReceiver::Reg), and
// the program's receiver link reads that map. The box has no back end for its real receivers.
#pragma once

#include <memory>

#include "platform/sim/sim_i2c.h"
#include "video_io/video_modes.h"

namespace platform::sim {

// I2C addresses (7-bit) of the input side.
constexpr uint8_t kReceiverAddr = 0x58;    // + source id 0..5
constexpr uint8_t kEdidEepromAddr = 0x50;  // + source id 0..5
constexpr uint8_t kClockChipAddr = 0x60;   // + FPGA 0..1
constexpr uint8_t kAudioExpanderAddr = 0x40;
constexpr uint8_t kSdiTransmitterAddr = 0x4C;
constexpr uint8_t kHdmiTransmitterAddr = 0x39;

// A receiver: what its source sends, as the simulated box's receiver map shows it.
class SimReceiver : public SimRegisterChip {
public:
    enum Reg : uint8_t {
        kId = 0x00,       // reads kIdValue
        kStatus = 0x01,   // bits below
        kEvents = 0x02,   // counts plug, unplug and mode-change events (wraps)
        kLanes = 0x03,    // link lanes of the 4K receivers, 0 on the others
        kHotPlug = 0x04,  // written by the program: 1 hot-plug line high, 0 low
        kTiming = 0x08,   // u16 LE each: Hact Hsync Hback Hpol Htotal Vact Vsync Vback Vpol Vtotal
        kPixelClock = 0x1C,  // u32 LE, kHz
        kBlockSize = 0x20,   // the program reads registers 0..0x1F in one message
    };
    static constexpr uint8_t kIdValue = 0x5A;
    static constexpr uint8_t kCable = 0x01;       // a source is plugged in
    static constexpr uint8_t kVideoOn = 0x02;     // video locked and stable
    static constexpr uint8_t kInterlaced = 0x04;  // per-field vertical values
    static constexpr uint8_t kYuv = 0x08;

    explicit SimReceiver(int source);
    // A source sending mode (plugged in, or a mode change); lanes 0 picks the link width the
    // 4K receivers would use for the clock.
    void plug(const VideoMode& mode, bool yuv = false, int lanes = 0);
    void unplug();
    bool hotPlugHigh() const;
    int hotPlugLowCount() const;  // times the program pulled the line low

    const int source;

protected:
    void onProgramWrite(uint8_t reg, uint8_t value) override REQUIRES(mutex_);

private:
    void bumpEvents() REQUIRES(mutex_);
    int hpd_low_count_ GUARDED_BY(mutex_) = 0;
};

// The models of the input side, as attached by buildInputSide().
struct SimInputSide {
    std::shared_ptr<SimReceiver> receiver[6];
    std::shared_ptr<SimRegisterChip> eeprom[6];  // 256-byte EDID EEPROMs
    std::shared_ptr<SimRegisterChip> clock_chip[2];
    std::shared_ptr<SimRegisterChip> audio_expander;
    std::shared_ptr<SimRegisterChip> transmitter[2];  // SDI path, HDMI output
};

// Attaches a fresh input side to "/dev/i2c-0" and returns it (every chip answering, no
// source plugged in).
SimInputSide& buildInputSide();
SimInputSide& inputSide();
// The input side of the box the program starts on: HDMI1 carries 1920x1080 at 60 Hz. Call
// after the C331 is attached, so its port measures the signal too.
void buildDefaultInputs();

// Link lanes a 4K receiver uses for a mode (the V-by-One ports of the C331 see the same).
int laneCount(const VideoMode& mode);

// One setting per input: the source plugs mode into the receiver of source id 0..5 (nullptr
// unplugs it), and the port of the simulated C331 (when one is attached) that the receiver
// feeds measures the same timing.
void setInput(int source, const VideoMode* mode, bool yuv = false);
// The standard mode (video_io/video_modes.h); false when there is none.
bool setInput(int source, int width, int height, int rate, bool interlaced = false);

}  // namespace platform::sim
