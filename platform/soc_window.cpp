#include "platform/soc_window.h"

#include <cerrno>

#include "platform/box.h"
#include "platform/linux/linux_devices.h"
#include "platform/sim/sim_box.h"

namespace platform {

int openSocWindow(SocWindowKind kind, std::unique_ptr<SocWindow>& out) {
    if (simulated()) return sim::SimBox::get().soc.open(kind, out);
    if (!onBox()) return -ENODEV;
    return openLinuxSocWindow(kind, out);
}

}  // namespace platform
