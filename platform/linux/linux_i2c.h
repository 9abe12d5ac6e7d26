// The box's back end of the I2C bus; only openI2cBus calls it.
#pragma once

#include <memory>
#include <string>

#include "platform/i2c_bus.h"

namespace platform {

int openLinuxI2cBus(const std::string& node, std::unique_ptr<I2cBus>& out);

}  // namespace platform
