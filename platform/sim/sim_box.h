// The simulated box: the models behind the device classes when platform::selectSimulated was
// chosen. Each kind of device keeps its models here or in its own registry (SPI, I2C, ...);
// buildDefaultBox() puts together the box the program runs on in simulation.
#pragma once

#include <memory>

#include "platform/shell.h"
#include "platform/sim/sim_soc.h"
#include "platform/sim/sim_usb_disk.h"

namespace platform::sim {

class SimBox {
public:
    static SimBox& get();
    // Starts over with fresh models (called by selectSimulated): the chip models of the
    // previous box leave their buses too, so a bus opened afterwards finds none of them, and
    // its hot-plug events nobody took go.
    static void reset();

    SimSoc soc;
    SimUsbDisk usb_disk;
};

std::unique_ptr<Shell> makeSimShell();

// The box as the program sees it in simulation: every chip model present and answering,
// with the default settings. Tests build their own boxes from the same models.
void buildDefaultBox();

}  // namespace platform::sim
