// The box's back ends of the device classes; only the factories in platform/ call these.
#pragma once

#include <memory>
#include <string>

#include "platform/soc_window.h"
#include "platform/spi_bus.h"

namespace platform {

int openLinuxSocWindow(SocWindowKind kind, std::unique_ptr<SocWindow>& out);
int openLinuxSpiBus(const std::string& node, uint32_t max_speed_hz, std::unique_ptr<SpiBus>& out);

}  // namespace platform
