#include "platform/i2c_bus.h"

#include <cerrno>
#include <vector>

#include "platform/box.h"
#include "platform/linux/linux_i2c.h"
#include "platform/sim/sim_i2c.h"

namespace platform {

int I2cBus::writeRegs(uint8_t addr, uint8_t reg, const uint8_t* data, size_t n) {
    std::vector<uint8_t> msg(n + 1);
    msg[0] = reg;
    for (size_t i = 0; i < n; ++i) msg[i + 1] = data[i];
    return transfer(addr, msg.data(), msg.size(), nullptr, 0);
}

int I2cBus::readRegs(uint8_t addr, uint8_t reg, uint8_t* data, size_t n) {
    return transfer(addr, &reg, 1, data, n);
}

int openI2cBus(const std::string& node, std::unique_ptr<I2cBus>& out) {
    if (simulated()) return sim::openSimI2cBus(node, out);
    if (!onBox()) return -ENODEV;
    return openLinuxI2cBus(node, out);
}

}  // namespace platform
