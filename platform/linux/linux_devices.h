// The box's back ends of the device classes; only the factories in platform/ call these.
#pragma once

#include <memory>

#include "platform/soc_window.h"

namespace platform {

int openLinuxSocWindow(SocWindowKind kind, std::unique_ptr<SocWindow>& out);

}  // namespace platform
