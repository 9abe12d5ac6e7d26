// The box's MTD character devices; only platform/mtd.cpp calls this.
#pragma once

#include <memory>
#include <string>

#include "platform/mtd.h"

namespace platform {

int openLinuxMtd(const std::string& device, std::unique_ptr<MtdDevice>& out);

}  // namespace platform
