// The one check before a page posts a long job to the FPGA thread: the mailbox idle (byte 0 at
// 0), no progress ring, no USB upgrade and no firmware update running.
#pragma once

#include <cstdint>

namespace panel {

// True when nothing else runs: a new job may start.
bool jobGateOpen();
// Posts task (step 0 first, then the task) when the gate is open; returns whether it did.
bool postJob(uint8_t task);

}  // namespace panel
