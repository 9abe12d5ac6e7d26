#include "platform/sim/sim_box.h"

#include <mutex>

#include "core/thread_safety.h"
#include "platform/hotplug.h"
#include "platform/i2c_bus.h"
#include "platform/sim/sim_c331.h"
#include "platform/sim/sim_fpga.h"
#include "platform/spi_bus.h"

namespace platform::sim {
namespace {
zem::Mutex g_mutex;
std::unique_ptr<SimBox> g_box GUARDED_BY(g_mutex);
}  // namespace

SimBox& SimBox::get() {
    zem::MutexLocker lock(g_mutex);
    if (!g_box) g_box = std::make_unique<SimBox>();
    return *g_box;
}

void SimBox::reset() {
    // Before the SoC goes: the FPGA board works on it.
    detachAllSpiModels();
    detachAllI2cDevices();
    forgetFpgaBoard();
    forgetSimC331();
    dropHotplugEvents();
    zem::MutexLocker lock(g_mutex);
    g_box = std::make_unique<SimBox>();
    g_box->usb_disk.clearStaleMount();
}

}  // namespace platform::sim
