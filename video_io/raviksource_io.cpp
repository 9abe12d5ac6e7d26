// The source manager's other chips on the I2C bus: the FPGA boards' clock chips (before the
// FPGAs leave reset), the two transmitters (presence only) and the audio I/O expander.
#include <cstdio>

#include "c331/c331_manage.h"
#include "core/console.h"
#include "core/globals.h"
#include "core/zem_ram_para.h"
#include "platform/sim/sim_receivers.h"
#include "video_io/raviksource.h"

namespace {

using platform::sim::kAudioExpanderAddr;
using platform::sim::kClockChipAddr;

struct RegValue {
    uint8_t reg, value;
};
// Clock chip set-up: outputs off, crystal input, FPGA clock output on PLL A, PLL reset,
// outputs on. The last write is read back as the check that the chip took it.
constexpr RegValue kClockSetup[] = {
    {0x03, 0xFF}, {0x0F, 0x00}, {0x10, 0x4F}, {0xB1, 0xA0}, {0x03, 0xFE},
};

// Audio expander: register 3 the pin directions (0 all outputs), register 1 the outputs:
// bits 0..2 the source id whose audio is routed, bit 3 mute.
constexpr uint8_t kExpanderOutput = 0x01;
constexpr uint8_t kExpanderConfig = 0x03;
constexpr uint8_t kAudioMute = 0x08;

constexpr int kWindowBase = 2272;  // + 26 w: window records
constexpr int kCropBase = 1472;    // + 10 c: crop table
constexpr int kCrops = 40;

// The expander's output for the audio window's words: the source a window's source word names
// (directly, or through its crop entry) with its audio on or muted. A window, crop or source
// that does not exist is muted rather than routed by a wrapped number.
uint8_t audioSelection(const ZemRamPara& p) REQUIRES(c331_manage::c331_mutex) {
    const int w = p.rd16(raviksource::kAudioWindowRam);
    if (w >= raviksource::kSources) return kAudioMute;
    const uint16_t src_word = p.rd16(kWindowBase + 26 * w + 8);
    const uint16_t audio = p.rd16(kWindowBase + 26 * w + 20);
    int src = src_word & 0xFF;
    if (src_word & 0x8000) {
        if (src >= kCrops) return kAudioMute;
        src = p.rd16(kCropBase + 10 * src) & 0xFF;  // crop id word: bits 0..7 the source
    }
    if (src >= raviksource::kSources) return kAudioMute;
    return uint8_t(src | ((audio & 0x8000) ? 0 : kAudioMute));
}

}  // namespace

void raviksource::bringUpBoards() {
    if (!bus_) return;
    for (int f = 0; f < kFpgas; ++f) {
        const uint8_t state = fpga_board_state[f].load();
        if (state == 1) {
            // The clock has run for a pass since its set-up: release the FPGA. Without the pad
            // window the reset line can't be driven, and the FPGA is not reported released.
            if (!pads_) continue;
            pads_->write16(kFpgaReset[f], kPadHigh);
            fpga_board_state[f] = 2;
            continue;
        }
        if (state != 0) continue;
        const uint8_t addr = uint8_t(kClockChipAddr + f);
        int rc = 0;
        for (const auto& rv : kClockSetup) {
            rc = bus_->writeReg(addr, rv.reg, rv.value);
            if (rc != 0) break;
        }
        uint8_t back = 0;
        if (rc == 0) rc = bus_->readRegs(addr, kClockSetup[4].reg, &back, 1);
        if (rc == 0 && back == kClockSetup[4].value) {
            fpga_board_state[f] = 1;
        } else if (!clock_error_logged_[f]) {
            clock_error_logged_[f] = true;
            console::errf("source: clock chip of FPGA %d did not take its set-up (%d)\n", f + 1,
                          rc);
        }
    }
}

void raviksource::probeTransmitters() {
    const uint8_t addrs[2] = {platform::sim::kSdiTransmitterAddr,
                              platform::sim::kHdmiTransmitterAddr};
    for (int t = 0; t < 2; ++t) {
        uint8_t id = 0;
        const bool present = bus_ && bus_->readRegs(addrs[t], 0, &id, 1) == 0;
        setStatusBit(2, uint8_t(0x02 << t), present);
    }
}

void raviksource::audioPass() {
    if (!source_changed.load() || !bus_) return;
    uint8_t value = kAudioMute;
    // Cleared before the RAM is read, so a change raised during the write is not lost.
    const bool read = withC331Lock([&]() REQUIRES(c331_manage::c331_mutex) {
        source_changed = 0;
        if (para_) value = audioSelection(*para_);
    });
    if (!read) return;
    int rc = bus_->writeReg(kAudioExpanderAddr, kExpanderConfig, 0x00);
    if (rc == 0) rc = bus_->writeReg(kAudioExpanderAddr, kExpanderOutput, value);
    if (rc == 0) {
        audio_error_logged_ = false;
        return;
    }
    source_changed = 1;  // tried again next pass
    if (!audio_error_logged_) {
        audio_error_logged_ = true;
        console::errf("source: audio selection not written (%d)\n", rc);
    }
}
