// The simulated box the program starts on. Each device kind adds its models here.
#include "platform/hid_keypad.h"
#include "platform/sim/sim_box.h"
#include "platform/sim/sim_c331.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/sim_receivers.h"

namespace platform::sim {

void buildDefaultBox() {
    SimBox::get();  // the SoC window and shell are part of every simulated box
    attachSimC331();
    simKeypad().attach();
    // Four receiving cards behind every output port of both FPGAs.
    auto fpgas = buildFpgaBoard();
    {
        zem::MutexLocker lock(fpgas->mutex);
        for (int port = 0; port < 20; ++port) fpgas->setCards(port, 4);
    }
    buildDefaultInputs();
}

}  // namespace platform::sim
