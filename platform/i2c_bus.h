// The shared I2C bus ("/dev/i2c-0") of the receivers, EDID EEPROMs, clock chips and the audio
// I/O expander: i2c-dev with I2C_RDWR on the box, addressed device models on the simulated box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class I2cBus {
public:
    virtual ~I2cBus() = default;
    // One combined message to the 7-bit address addr: wlen bytes written, then, after a
    // repeated start, rlen bytes read (either part may be empty). 0 or a negative errno; on an
    // error the read bytes are undefined and must not be used.
    virtual int transfer(uint8_t addr, const uint8_t* w, size_t wlen, uint8_t* r, size_t rlen) = 0;

    // Register-pointer devices: the register address byte, then the data.
    int writeRegs(uint8_t addr, uint8_t reg, const uint8_t* data, size_t n);
    int readRegs(uint8_t addr, uint8_t reg, uint8_t* data, size_t n);
    int writeReg(uint8_t addr, uint8_t reg, uint8_t value) {
        return writeRegs(addr, reg, &value, 1);
    }
};

constexpr const char* kI2cNode = "/dev/i2c-0";

// 0 and the bus in out, or a negative errno.
int openI2cBus(const std::string& node, std::unique_ptr<I2cBus>& out);

namespace sim {

// A chip model at one address of a simulated I2C bus. Messages reach it one at a time.
class I2cDevice {
public:
    virtual ~I2cDevice() = default;
    // As I2cBus::transfer; a negative errno makes the whole message fail.
    virtual int transfer(const uint8_t* w, size_t wlen, uint8_t* r, size_t rlen) = 0;
};

// Puts a model at an address of a node; nullptr removes it (the chip no longer answers).
void attachI2cDevice(const std::string& node, uint8_t addr, std::shared_ptr<I2cDevice> device);
std::shared_ptr<I2cDevice> i2cDevice(const std::string& node, uint8_t addr);
void detachAllI2cDevices();

}  // namespace sim
}  // namespace platform
