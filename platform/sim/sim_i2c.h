// Simulated I2C buses: the device models attached at their addresses, and the register-file
// chip that most of them are.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/thread_safety.h"
#include "platform/i2c_bus.h"
#include "platform/sim/bounded_log.h"

namespace platform::sim {

int openSimI2cBus(const std::string& node, std::unique_ptr<I2cBus>& out);

// A chip with 256 byte registers behind an auto-incrementing register pointer: a write sets
// the pointer with its first byte and stores the rest from there; a read reads from it.
// It records every register written, and can fail like a real chip on the bus.
class SimRegisterChip : public I2cDevice {
public:
    struct RegWrite {
        uint8_t reg;
        uint8_t value;
    };

    int transfer(const uint8_t* w, size_t wlen, uint8_t* r, size_t rlen) override;

    uint8_t reg(uint8_t index) const;
    void setReg(uint8_t index, uint8_t value);  // as the chip itself would (not recorded)
    std::vector<RegWrite> writes() const;
    void clearWrites();

    // Faults: every message fails with this negative errno while it is set (-EREMOTEIO: the
    // chip does not acknowledge); the next `fail_count` messages fail with -EIO.
    std::atomic<int> fail_errno{0};
    std::atomic<int> fail_count{0};

protected:
    // Called under the chip's lock after the program wrote a register.
    virtual void onProgramWrite(uint8_t /*reg*/, uint8_t /*value*/) REQUIRES(mutex_) {}
    mutable zem::Mutex mutex_;
    std::array<uint8_t, 256> regs_ GUARDED_BY(mutex_) = {};

private:
    uint8_t pointer_ GUARDED_BY(mutex_) = 0;
    BoundedLog<RegWrite> writes_ GUARDED_BY(mutex_){1 << 16};
};

}  // namespace platform::sim
