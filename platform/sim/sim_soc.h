// Simulated SoC register window: a store of 16-bit words, preloaded with the identification
// words of the device id, that records every write in order.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/thread_safety.h"
#include "platform/sim/bounded_log.h"
#include "platform/soc_window.h"

namespace platform::sim {

class SimSoc {
public:
    // Byte offsets (from physical 0x1F000000) of the identification words.
    static constexpr uint32_t kIdControl = 0x400C;
    static constexpr uint32_t kIdWord0 = 0x4058;
    static constexpr uint32_t kIdWord1 = 0x405C;
    static constexpr uint32_t kIdWord2 = 0x4060;

    struct Write {
        uint32_t offset;
        uint16_t value;
    };

    SimSoc();

    int open(SocWindowKind kind, std::unique_ptr<SocWindow>& out);

    uint16_t word(uint32_t offset) const;
    void setWord(uint32_t offset, uint16_t value);  // as the hardware would (not recorded)
    void setIdentity(uint16_t w0, uint16_t w1, uint16_t w2);
    std::vector<Write> writes() const;
    void clearWrites();

    // Called after each write by the program, with the lock released; the FPGA board uses
    // it to follow its reset lines.
    void onWrite(std::function<void(uint32_t offset, uint16_t value)> hook);

    // Faults: opening the window fails with this negative errno (0: opens).
    int identity_open_error = 0;
    int pads_open_error = 0;

    // Used by the window objects.
    uint16_t programRead(uint32_t offset) const { return word(offset); }
    void programWrite(uint32_t offset, uint16_t value);

private:
    mutable zem::Mutex mutex_;
    std::map<uint32_t, uint16_t> words_ GUARDED_BY(mutex_);
    BoundedLog<Write> writes_ GUARDED_BY(mutex_){1 << 16};
    std::vector<std::function<void(uint32_t, uint16_t)>> hooks_ GUARDED_BY(mutex_);
};

}  // namespace platform::sim
